// The V4L2 capture driver: one per camera. Connecting claims the camera (see v4l2_session.h).
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/vfw/capture_driver.h"
#include "platform/vfw/capture_errno.h"
#include "platform/vfw/v4l2_io.h"
#include "platform/vfw/v4l2_session.h"

namespace {

std::uint32_t DeviceCaps(const v4l2_capability& cap) {
  return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

bool CanCapture(const v4l2_capability& cap) {
  const std::uint32_t caps = DeviceCaps(cap);
  return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

std::string Text(const __u8* bytes, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(bytes),
                     strnlen(reinterpret_cast<const char*>(bytes), size));
}

class V4l2Driver : public CaptureDriver {
 public:
  V4l2Driver(std::shared_ptr<V4l2System> system, std::string path, std::string name, std::string version)
      : system_(std::move(system)),
        path_(std::move(path)),
        name_(std::move(name)),
        version_(std::move(version)) {}

  std::string Name() const override { return name_; }
  std::string Version() const override { return version_; }

  std::unique_ptr<CaptureSession> Connect() override {
    const std::string label = path_ + " (" + name_ + ")";
    std::unique_ptr<V4l2Device> device = system_->Open(path_);
    if (!device) {
      if (ClassifyCaptureErrno(errno) == CaptureErrno::kBusy)
        std::fprintf(stderr, "capture: %s is busy: another program is using it\n", label.c_str());
      return nullptr;
    }
    v4l2_capability cap{};
    if (XIoctl(*device, VIDIOC_QUERYCAP, &cap) < 0 || !CanCapture(cap)) return nullptr;
    // Claimed at the camera's current size; InitCapture sets the size it wants next.
    v4l2_format current{};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (XIoctl(*device, VIDIOC_G_FMT, &current) < 0) return nullptr;
    return ClaimV4l2Device(std::move(device), label, static_cast<int>(current.fmt.pix.width),
                           static_cast<int>(current.fmt.pix.height));
  }

 private:
  std::shared_ptr<V4l2System> system_;
  std::string path_, name_, version_;
};

}  // namespace

std::vector<std::shared_ptr<CaptureDriver>> EnumerateV4l2Drivers(std::shared_ptr<V4l2System> system) {
  if (!system) system = MakeLibV4l2System();
  std::vector<std::shared_ptr<CaptureDriver>> drivers;
  std::vector<std::string> buses;
  for (const std::string& path : system->DevicePaths()) {
    v4l2_capability cap{};
    if (system->QueryCapability(path, &cap) != 0 || !CanCapture(cap)) continue;
    // One camera can have several capture nodes; it is the same camera on the same bus.
    const std::string bus = Text(cap.bus_info, sizeof(cap.bus_info));
    if (!bus.empty()) {
      if (std::find(buses.begin(), buses.end(), bus) != buses.end()) continue;
      buses.push_back(bus);
    }
    const std::string version = "Version: " + Text(cap.driver, sizeof(cap.driver)) + " " +
                                std::to_string((cap.version >> 16) & 0xFF) + "." +
                                std::to_string((cap.version >> 8) & 0xFF) + "." +
                                std::to_string(cap.version & 0xFF);
    drivers.push_back(std::make_shared<V4l2Driver>(system, path, Text(cap.card, sizeof(cap.card)), version));
  }
  return drivers;
}
