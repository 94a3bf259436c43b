// The V4L2 capture driver: one per capture device. libv4l2 turns the camera's own format into
// top-down BGR24 at the size asked for; this driver turns that into the bottom-up DIB the caller
// asked for and refuses sizes the camera cannot deliver exactly.
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/vfw/capture_driver.h"
#include "platform/vfw/v4l2_io.h"

namespace {

int Xioctl(V4l2Device& device, unsigned long request, void* arg) {
  int r;
  do {
    r = device.Ioctl(request, arg);
  } while (r < 0 && errno == EINTR);
  return r;
}

std::uint32_t DeviceCaps(const v4l2_capability& cap) {
  return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

bool CanCapture(const v4l2_capability& cap) {
  const std::uint32_t caps = DeviceCaps(cap);
  return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & (V4L2_CAP_READWRITE | V4L2_CAP_STREAMING));
}

std::string Text(const __u8* bytes, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(bytes),
                     strnlen(reinterpret_cast<const char*>(bytes), size));
}

// Asks for top-down BGR24 at the given size; true when the device delivers exactly that.
bool NegotiateBgr24(V4l2Device& device, unsigned long request, int width, int height, v4l2_format* out) {
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  fmt.fmt.pix.width = static_cast<__u32>(width);
  fmt.fmt.pix.height = static_cast<__u32>(height);
  fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
  fmt.fmt.pix.field = V4L2_FIELD_ANY;
  if (Xioctl(device, request, &fmt) < 0) return false;
  if (fmt.fmt.pix.pixelformat != V4L2_PIX_FMT_BGR24 || fmt.fmt.pix.width != static_cast<__u32>(width) ||
      fmt.fmt.pix.height != static_cast<__u32>(height))
    return false;
  if (fmt.fmt.pix.bytesperline < static_cast<__u32>(width) * 3)
    fmt.fmt.pix.bytesperline = static_cast<__u32>(width) * 3;
  *out = fmt;
  return true;
}

class V4l2Session : public CaptureSession {
 public:
  V4l2Session(std::unique_ptr<V4l2Device> device, const BITMAPINFOHEADER& format)
      : device_(std::move(device)), format_(format) {}

  BITMAPINFOHEADER Format() const override { return format_; }

  bool SetFormat(const BITMAPINFOHEADER& format) override {
    v4l2_format fmt{};
    if (!IsDeliverableFormat(format) ||
        !NegotiateBgr24(*device_, VIDIOC_TRY_FMT, format.biWidth, format.biHeight, &fmt))
      return false;
    format_ = NormalizedFormat(format);
    return true;
  }

  bool HasOverlay() const override { return false; }

  bool Start(DWORD microSecPerFrame) override {
    v4l2_format fmt{};
    if (!NegotiateBgr24(*device_, VIDIOC_S_FMT, format_.biWidth, format_.biHeight, &fmt)) return false;
    stride_ = fmt.fmt.pix.bytesperline;
    frame_.resize(
        std::max<std::size_t>(fmt.fmt.pix.sizeimage, stride_ * static_cast<std::size_t>(format_.biHeight)));

    // The camera's own rate, when it lets us choose; the capture thread paces the frames anyway.
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe.numerator = microSecPerFrame;
    parm.parm.capture.timeperframe.denominator = 1000000;
    Xioctl(*device_, VIDIOC_S_PARM, &parm);
    return true;
  }

  GrabResult Grab(BYTE* bits, const std::atomic<bool>& stop) override {
    const std::size_t needed = stride_ * static_cast<std::size_t>(format_.biHeight);
    while (!stop.load()) {
      const ssize_t n = device_->Read(frame_.data(), frame_.size());
      if (n >= 0 && static_cast<std::size_t>(n) >= needed) {
        ConvertBgr24TopDownToDib(frame_.data(), stride_, format_.biWidth, format_.biHeight, bits,
                                 format_.biBitCount);
        return GrabResult::kFrame;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return GrabResult::kFailed;
      // No frame yet, or a short one (dropped): wait a little for the next.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return GrabResult::kStopped;
  }

  void Stop() override {
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    Xioctl(*device_, VIDIOC_STREAMOFF, &type);
  }

 private:
  std::unique_ptr<V4l2Device> device_;
  BITMAPINFOHEADER format_;
  std::size_t stride_ = 0;
  std::vector<BYTE> frame_;
};

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
    std::unique_ptr<V4l2Device> device = system_->Open(path_);
    if (!device) return nullptr;
    v4l2_capability cap{};
    if (Xioctl(*device, VIDIOC_QUERYCAP, &cap) < 0 || !CanCapture(cap)) return nullptr;
    // Start from the camera's current size, as 24-bit bottom-up.
    v4l2_format current{};
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(*device, VIDIOC_G_FMT, &current) < 0) return nullptr;
    v4l2_format bgr{};
    if (!NegotiateBgr24(*device, VIDIOC_TRY_FMT, static_cast<int>(current.fmt.pix.width),
                        static_cast<int>(current.fmt.pix.height), &bgr))
      return nullptr;
    BITMAPINFOHEADER format{};
    format.biSize = sizeof(format);
    format.biWidth = static_cast<LONG>(bgr.fmt.pix.width);
    format.biHeight = static_cast<LONG>(bgr.fmt.pix.height);
    format.biBitCount = 24;
    if (!IsDeliverableFormat(format)) return nullptr;
    return std::make_unique<V4l2Session>(std::move(device), NormalizedFormat(format));
  }

 private:
  std::shared_ptr<V4l2System> system_;
  std::string path_, name_, version_;
};

}  // namespace

std::vector<std::shared_ptr<CaptureDriver>> EnumerateV4l2Drivers(std::shared_ptr<V4l2System> system) {
  if (!system) system = MakeLibV4l2System();
  std::vector<std::shared_ptr<CaptureDriver>> drivers;
  for (const std::string& path : system->DevicePaths()) {
    std::unique_ptr<V4l2Device> device = system->Open(path);
    if (!device) continue;
    v4l2_capability cap{};
    if (Xioctl(*device, VIDIOC_QUERYCAP, &cap) < 0 || !CanCapture(cap)) continue;
    const std::string version = "Version: " + Text(cap.driver, sizeof(cap.driver)) + " " +
                                std::to_string((cap.version >> 16) & 0xFF) + "." +
                                std::to_string((cap.version >> 8) & 0xFF) + "." +
                                std::to_string(cap.version & 0xFF);
    drivers.push_back(std::make_shared<V4l2Driver>(system, path, Text(cap.card, sizeof(cap.card)), version));
  }
  return drivers;
}
