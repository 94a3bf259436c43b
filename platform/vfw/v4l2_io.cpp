#include "platform/vfw/v4l2_io.h"

#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace {

class LibV4l2Device : public V4l2Device {
 public:
  explicit LibV4l2Device(int fd) : fd_(fd) {}
  ~LibV4l2Device() override { v4l2_close(fd_); }
  int Ioctl(unsigned long request, void* arg) override { return v4l2_ioctl(fd_, request, arg); }
  void* Mmap(std::size_t length, off_t offset) override {
    void* start = v4l2_mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, offset);
    return start == MAP_FAILED ? nullptr : start;
  }
  int Munmap(void* start, std::size_t length) override { return v4l2_munmap(start, length); }
  int PollFd() const override { return fd_; }

 private:
  int fd_;
};

class LibV4l2System : public V4l2System {
 public:
  std::vector<std::string> DevicePaths() override {
    // videoN in numeric order, so that video10 follows video9.
    std::vector<std::pair<long, std::string>> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("video", 0) != 0 || name.size() == 5) continue;
      char* end = nullptr;
      const long n = std::strtol(name.c_str() + 5, &end, 10);
      if (*end == '\0') found.emplace_back(n, entry.path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& f : found) paths.push_back(std::move(f.second));
    return paths;
  }

  // A plain open: listing devices needs no conversion set up, and must not disturb a device
  // another window streams from.
  int QueryCapability(const std::string& path, v4l2_capability* cap) override {
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    int r;
    do {
      r = ioctl(fd, VIDIOC_QUERYCAP, cap);
    } while (r < 0 && errno == EINTR);
    const int error = r < 0 ? errno : 0;
    close(fd);
    return error;
  }

  std::unique_ptr<V4l2Device> Open(const std::string& path) override {
    const int fd = v4l2_open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<LibV4l2Device>(fd);
  }
};

}  // namespace

int XIoctl(V4l2Device& device, unsigned long request, void* arg) {
  int r;
  do {
    r = device.Ioctl(request, arg);
  } while (r < 0 && errno == EINTR);
  return r;
}

std::shared_ptr<V4l2System> MakeLibV4l2System() { return std::make_shared<LibV4l2System>(); }
