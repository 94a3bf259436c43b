// libv4l2 converts whatever the camera sends (YUYV, MJPEG, ...) to top-down BGR24 in the buffers it
// maps for us. A session keeps its buffers queued while it streams, waits for frames with poll()
// beside the window's wake descriptor, and takes every frame that is ready, keeping the newest: a
// camera that runs faster than asked, or a reader that fell behind, never leaves old frames in the
// queue.
#include "platform/vfw/v4l2_session.h"

#include <linux/videodev2.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/vfw/capture_errno.h"
#include "platform/vfw/wake_fd.h"

namespace {

using Clock = std::chrono::steady_clock;

// Enough for libv4l2's conversion to keep a frame in hand while the camera fills the next ones.
constexpr unsigned kBufferCount = 4;
// A camera that fails this many reads in a row, without one good frame between, is as good as gone
// (a queue in an error state fails every read at once).
constexpr int kFailedReadsUntilGone = 30;

class V4l2Session : public CaptureSession {
 public:
  V4l2Session(std::unique_ptr<V4l2Device> device, std::string label)
      : device_(std::move(device)), label_(std::move(label)) {}
  ~V4l2Session() override { ReleaseBuffers(); }

  // Sets the camera to BGR24 at the size and requests its buffers; false (errno kept) when it cannot.
  bool SetCameraFormat(int width, int height) {
    ReleaseBuffers();
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    fmt.fmt.pix.width = static_cast<__u32>(width);
    fmt.fmt.pix.height = static_cast<__u32>(height);
    fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    fmt.fmt.pix.field = V4L2_FIELD_ANY;
    if (XIoctl(*device_, VIDIOC_S_FMT, &fmt) < 0) return false;
    if (fmt.fmt.pix.pixelformat != V4L2_PIX_FMT_BGR24) {
      errno = EINVAL;
      return false;
    }
    if (fmt.fmt.pix.bytesperline < fmt.fmt.pix.width * 3) fmt.fmt.pix.bytesperline = fmt.fmt.pix.width * 3;
    camera_ = fmt.fmt.pix;

    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (XIoctl(*device_, VIDIOC_REQBUFS, &request) < 0) return false;
    requested_ = true;
    for (__u32 i = 0; i < request.count; ++i) {
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      b.index = i;
      if (XIoctl(*device_, VIDIOC_QUERYBUF, &b) < 0) return false;
      void* start = device_->Mmap(b.length, static_cast<off_t>(b.m.offset));
      if (!start) return false;
      buffers_.push_back({static_cast<const BYTE*>(start), b.length});
    }
    if (buffers_.empty()) {
      errno = ENOMEM;
      return false;
    }
    return true;
  }

  void SetFormatFromCamera() {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(h);
    h.biWidth = static_cast<LONG>(camera_.width);
    h.biHeight = static_cast<LONG>(camera_.height);
    h.biBitCount = 24;
    format_ = NormalizedFormat(h);
  }

  BITMAPINFOHEADER Format() const override { return format_; }

  // A size the camera does not have is captured at the nearest size it offers (as its driver
  // adjusts a format it is asked to try) and scaled to the size asked for.
  bool SetFormat(const BITMAPINFOHEADER& format) override {
    if (!IsDeliverableFormat(format)) return false;
    v4l2_format tried{};
    tried.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    tried.fmt.pix.width = static_cast<__u32>(format.biWidth);
    tried.fmt.pix.height = static_cast<__u32>(format.biHeight);
    tried.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    tried.fmt.pix.field = V4L2_FIELD_ANY;
    if (XIoctl(*device_, VIDIOC_TRY_FMT, &tried) < 0 || tried.fmt.pix.pixelformat != V4L2_PIX_FMT_BGR24 ||
        tried.fmt.pix.width == 0 || tried.fmt.pix.height == 0)
      return false;
    if (tried.fmt.pix.width != camera_.width || tried.fmt.pix.height != camera_.height) {
      const v4l2_pix_format before = camera_;
      if (!SetCameraFormat(static_cast<int>(tried.fmt.pix.width), static_cast<int>(tried.fmt.pix.height))) {
        SetCameraFormat(static_cast<int>(before.width), static_cast<int>(before.height));
        return false;
      }
    }
    format_ = NormalizedFormat(format);
    return true;
  }

  bool HasOverlay() const override { return false; }

  bool Start(DWORD microSecPerFrame) override {
    // After a format change that failed half-way the buffers are requested again here.
    if (buffers_.empty() && !SetCameraFormat(static_cast<int>(camera_.width), static_cast<int>(camera_.height)))
      return Refused("cannot be set up");
    // The camera's own rate, when it lets us choose.
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe.numerator = microSecPerFrame;
    parm.parm.capture.timeperframe.denominator = 1000000;
    XIoctl(*device_, VIDIOC_S_PARM, &parm);

    for (unsigned i = 0; i < buffers_.size(); ++i) {
      if (!Queue(i)) return Refused("does not take its buffers");
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (XIoctl(*device_, VIDIOC_STREAMON, &type) < 0) return Refused("does not start streaming");
    failedReads_ = 0;
    return true;
  }

  Grabbed Grab(BYTE* bits, const WakeFd& wake) override {
    for (;;) {
      pollfd fds[2] = {{device_->PollFd(), POLLIN, 0}, {wake.Fd(), POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return Gone();
      }
      if (fds[1].revents) return {GrabResult::kStopped, {}};
      if (const std::optional<Grabbed> grabbed = Drain(bits, (fds[0].revents & (POLLERR | POLLHUP)) != 0))
        return *grabbed;
    }
  }

  void Stop() override {
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    XIoctl(*device_, VIDIOC_STREAMOFF, &type);
  }

 private:
  struct Buffer {
    const BYTE* start;
    std::size_t length;
  };

  void ReleaseBuffers() {
    for (const Buffer& b : buffers_) device_->Munmap(const_cast<BYTE*>(b.start), b.length);
    buffers_.clear();
    if (requested_) {
      v4l2_requestbuffers none{};
      none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      none.memory = V4L2_MEMORY_MMAP;
      XIoctl(*device_, VIDIOC_REQBUFS, &none);
      requested_ = false;
    }
  }

  bool Queue(unsigned index) {
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    b.index = index;
    return XIoctl(*device_, VIDIOC_QBUF, &b) == 0;
  }

  bool Refused(const char* what) {
    const int error = errno;
    Report(ClassifyCaptureErrno(error) == CaptureErrno::kGone ? "is gone" : what, error);
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    XIoctl(*device_, VIDIOC_STREAMOFF, &type);  // gives back the buffers queued so far
    return false;
  }

  void Report(const char* what, int error) const {
    std::fprintf(stderr, "capture: %s %s (%s)\n", label_.c_str(), what, std::strerror(error));
  }

  Grabbed Gone() {
    if (!reportedGone_) Report("is gone", ENODEV);
    reportedGone_ = true;
    return {GrabResult::kGone, {}};
  }

  // EIO may be a frame libv4l2 could not convert or a device that went away; the device tells.
  bool DeviceGone() {
    v4l2_capability cap{};
    return XIoctl(*device_, VIDIOC_QUERYCAP, &cap) < 0 && ClassifyCaptureErrno(errno) == CaptureErrno::kGone;
  }

  // One more read that gave no frame; true when that makes the camera count as gone.
  bool FailedRead() { return ++failedReads_ >= kFailedReadsUntilGone; }

  // Dequeues every frame that is ready and keeps the newest. Nothing when no frame was there at all.
  std::optional<Grabbed> Drain(BYTE* bits, bool pollError) {
    const std::size_t needed = static_cast<std::size_t>(camera_.bytesperline) * camera_.height;
    std::optional<v4l2_buffer> newest;
    bool skipped = false;
    for (;;) {
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      if (XIoctl(*device_, VIDIOC_DQBUF, &b) == 0) {
        if ((b.flags & V4L2_BUF_FLAG_ERROR) || b.bytesused < needed || b.index >= buffers_.size()) {
          skipped = true;  // a damaged or short frame
          if ((!Queue(b.index) && ClassifyCaptureErrno(errno) == CaptureErrno::kGone) || FailedRead())
            return Gone();
          continue;
        }
        if (newest && !Queue(newest->index) && ClassifyCaptureErrno(errno) == CaptureErrno::kGone) return Gone();
        newest = b;
        failedReads_ = 0;
        continue;
      }
      const int error = errno;
      const CaptureErrno kind = ClassifyCaptureErrno(error);
      if (kind == CaptureErrno::kRetry) break;
      if (kind == CaptureErrno::kGone || (error == EIO && DeviceGone()) || FailedRead()) return Gone();
      skipped = true;
    }
    if (!newest) {
      // A device in error that has nothing to give would wake poll() at once, again and again.
      if (pollError && !skipped) {
        if (FailedRead()) return Gone();
        skipped = true;
      }
      if (skipped) return Grabbed{GrabResult::kSkipped, {}};
      return std::nullopt;
    }
    const BYTE* src = buffers_[newest->index].start;
    const int width = static_cast<int>(camera_.width), height = static_cast<int>(camera_.height);
    if (width == format_.biWidth && height == format_.biHeight)
      ConvertBgr24TopDownToDib(src, camera_.bytesperline, width, height, bits, format_.biBitCount);
    else
      ScaleBgr24TopDownToDib(src, camera_.bytesperline, width, height, bits, format_.biWidth, format_.biHeight,
                             format_.biBitCount);
    Queue(newest->index);
    return Grabbed{GrabResult::kFrame, CaptureTime(*newest)};
  }

  // The driver's stamp when it is taken on the monotonic clock (UVC cameras, and most others), which
  // is the steady clock's; else the time the frame was read.
  static Clock::time_point CaptureTime(const v4l2_buffer& b) {
    if ((b.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) != V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC ||
        (b.timestamp.tv_sec == 0 && b.timestamp.tv_usec == 0))
      return Clock::now();
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(
        std::chrono::seconds(b.timestamp.tv_sec) + std::chrono::microseconds(b.timestamp.tv_usec)));
  }

  std::unique_ptr<V4l2Device> device_;
  std::string label_;
  BITMAPINFOHEADER format_{};
  v4l2_pix_format camera_{};
  std::vector<Buffer> buffers_;
  bool requested_ = false;
  int failedReads_ = 0;
  bool reportedGone_ = false;
};

}  // namespace

std::unique_ptr<CaptureSession> ClaimV4l2Device(std::unique_ptr<V4l2Device> device, const std::string& label,
                                                int width, int height) {
  auto session = std::make_unique<V4l2Session>(std::move(device), label);
  if (!session->SetCameraFormat(width, height)) {
    const int error = errno;
    if (ClassifyCaptureErrno(error) == CaptureErrno::kBusy)
      std::fprintf(stderr, "capture: %s is busy: another program is using it\n", label.c_str());
    return nullptr;
  }
  session->SetFormatFromCamera();
  if (!IsDeliverableFormat(session->Format())) return nullptr;
  return session;
}
