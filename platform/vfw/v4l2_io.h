// The seam between the V4L2 capture driver and the devices: the few calls it makes, so that it can
// run against libv4l2 on a real camera or against a scripted device in tests.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct v4l2_capability;

// One open video device. Calls return -1 (Mmap: nullptr) and set errno on failure, as the C
// calls do.
class V4l2Device {
 public:
  virtual ~V4l2Device() = default;
  virtual int Ioctl(unsigned long request, void* arg) = 0;
  // Maps the buffer VIDIOC_QUERYBUF described by its length and offset, for reading.
  virtual void* Mmap(std::size_t length, off_t offset) = 0;
  virtual int Munmap(void* start, std::size_t length) = 0;
  // A descriptor poll() reports readable (or in error) when a buffer can be dequeued.
  virtual int PollFd() const = 0;
};

// An ioctl on the device, tried again while a signal interrupts it.
int XIoctl(V4l2Device& device, unsigned long request, void* arg);

class V4l2System {
 public:
  virtual ~V4l2System() = default;
  // Candidate device paths in the order drivers are listed.
  virtual std::vector<std::string> DevicePaths() = 0;
  // VIDIOC_QUERYCAP on the device at `path` without claiming anything; 0, or the errno.
  virtual int QueryCapability(const std::string& path, v4l2_capability* cap) = 0;
  // Opens a device for non-blocking dequeues; nullptr (errno set) when it cannot be opened.
  virtual std::unique_ptr<V4l2Device> Open(const std::string& path) = 0;
};

// The machine's /dev/video* devices through libv4l2, which converts whatever the camera delivers to
// the pixel format asked for.
std::shared_ptr<V4l2System> MakeLibV4l2System();
