// The seam between the V4L2 capture driver and the devices: the few calls it makes, so that it can
// run against libv4l2 on a real camera or against a scripted device in tests.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

// One open video device. Calls return -1 and set errno on failure, like the C calls.
class V4l2Device {
 public:
  virtual ~V4l2Device() = default;
  virtual int Ioctl(unsigned long request, void* arg) = 0;
  // Non-blocking: -1 with errno EAGAIN while no frame is ready.
  virtual ssize_t Read(void* buffer, std::size_t size) = 0;
};

class V4l2System {
 public:
  virtual ~V4l2System() = default;
  // Candidate device paths in the order drivers are listed.
  virtual std::vector<std::string> DevicePaths() = 0;
  // Opens a device for non-blocking reads; nullptr (errno set) when it cannot be opened.
  virtual std::unique_ptr<V4l2Device> Open(const std::string& path) = 0;
};

// The machine's /dev/video* devices through libv4l2, which converts whatever the camera delivers to
// the pixel format asked for.
std::shared_ptr<V4l2System> MakeLibV4l2System();
