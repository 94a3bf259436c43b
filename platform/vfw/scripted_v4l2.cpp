#include "platform/vfw/scripted_v4l2.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

struct ScriptedV4l2System::State {
  explicit State(ScriptedV4l2Camera c) : camera(std::move(c)) {
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    Adjust(camera.sizes.empty() ? 0 : camera.sizes.front().width,
           camera.sizes.empty() ? 0 : camera.sizes.front().height, V4L2_PIX_FMT_YUYV, &current.fmt.pix);
  }

  // What a driver does with a requested format: the nearest size it has, and its pixel format.
  void Adjust(int width, int height, std::uint32_t pixelFormat, v4l2_pix_format* pix) const {
    ScriptedV4l2Camera::Size best{width, height};
    long bestDistance = -1;
    for (const auto& s : camera.sizes) {
      const long d =
          std::labs(static_cast<long>(s.width) - width) + std::labs(static_cast<long>(s.height) - height);
      if (bestDistance < 0 || d < bestDistance) {
        best = s;
        bestDistance = d;
      }
    }
    const bool bgr = pixelFormat == V4L2_PIX_FMT_BGR24 && camera.convertsToBgr24;
    *pix = v4l2_pix_format{};
    pix->width = static_cast<__u32>(best.width);
    pix->height = static_cast<__u32>(best.height);
    pix->pixelformat = bgr ? V4L2_PIX_FMT_BGR24 : V4L2_PIX_FMT_YUYV;
    pix->field = V4L2_FIELD_NONE;
    pix->bytesperline = bgr ? pix->width * 3 + camera.rowPadding : pix->width * 2;
    pix->sizeimage = pix->bytesperline * pix->height;
  }

  std::mutex mutex;
  ScriptedV4l2Camera camera;
  v4l2_format current{};
  bool vanished = false;
  bool stalled = false;
  Record record;
};

namespace {

using State = ScriptedV4l2System::State;

class ScriptedV4l2Device : public V4l2Device {
 public:
  explicit ScriptedV4l2Device(std::shared_ptr<State> state) : state_(std::move(state)) {}

  int Ioctl(unsigned long request, void* arg) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->vanished) return Fail(ENODEV);
    switch (request) {
      case VIDIOC_QUERYCAP: {
        auto* cap = static_cast<v4l2_capability*>(arg);
        *cap = v4l2_capability{};
        std::strncpy(reinterpret_cast<char*>(cap->driver), state_->camera.driver.c_str(),
                     sizeof(cap->driver) - 1);
        std::strncpy(reinterpret_cast<char*>(cap->card), state_->camera.card.c_str(), sizeof(cap->card) - 1);
        cap->version = state_->camera.version;
        cap->device_caps = state_->camera.canCapture ? V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING
                                                     : V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
        cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
        return 0;
      }
      case VIDIOC_G_FMT: {
        auto* fmt = static_cast<v4l2_format*>(arg);
        if (fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return Fail(EINVAL);
        *fmt = state_->current;
        return 0;
      }
      case VIDIOC_TRY_FMT:
      case VIDIOC_S_FMT: {
        auto* fmt = static_cast<v4l2_format*>(arg);
        if (fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || state_->camera.sizes.empty()) return Fail(EINVAL);
        state_->Adjust(static_cast<int>(fmt->fmt.pix.width), static_cast<int>(fmt->fmt.pix.height),
                       fmt->fmt.pix.pixelformat, &fmt->fmt.pix);
        if (request == VIDIOC_S_FMT) {
          state_->current = *fmt;
          state_->record.setWidth = fmt->fmt.pix.width;
          state_->record.setHeight = fmt->fmt.pix.height;
          state_->record.setPixelFormat = fmt->fmt.pix.pixelformat;
        }
        return 0;
      }
      case VIDIOC_S_PARM: {
        auto* parm = static_cast<v4l2_streamparm*>(arg);
        state_->record.timePerFrameNumerator = parm->parm.capture.timeperframe.numerator;
        state_->record.timePerFrameDenominator = parm->parm.capture.timeperframe.denominator;
        return 0;
      }
      case VIDIOC_STREAMOFF:
        ++state_->record.streamOffs;
        return 0;
      default:
        return Fail(ENOTTY);
    }
  }

  ssize_t Read(void* buffer, std::size_t size) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->vanished) return Fail(ENODEV);
    if (state_->stalled) return Fail(EAGAIN);
    const v4l2_pix_format& pix = state_->current.fmt.pix;
    const std::size_t n = std::min<std::size_t>(size, pix.sizeimage);
    auto* out = static_cast<unsigned char*>(buffer);
    if (pix.pixelformat == V4L2_PIX_FMT_BGR24) {
      const auto frame = static_cast<unsigned char>(state_->record.framesRead & 0xFF);
      for (std::size_t i = 0; i < n; ++i) {
        const std::size_t y = i / pix.bytesperline, col = i % pix.bytesperline;
        const std::size_t x = col / 3;
        if (col >= static_cast<std::size_t>(pix.width) * 3) {
          out[i] = 0xEE;  // padding the reader must skip
        } else {
          out[i] = col % 3 == 0   ? static_cast<unsigned char>(x)
                   : col % 3 == 1 ? static_cast<unsigned char>(y)
                                  : frame;
        }
      }
    } else {
      std::memset(out, 0x80, n);
    }
    ++state_->record.framesRead;
    if (state_->camera.vanishAfterFrames && state_->record.framesRead >= state_->camera.vanishAfterFrames)
      state_->vanished = true;
    return static_cast<ssize_t>(n);
  }

 private:
  static int Fail(int error) {
    errno = error;
    return -1;
  }
  std::shared_ptr<State> state_;
};

}  // namespace

ScriptedV4l2System::ScriptedV4l2System(std::vector<ScriptedV4l2Camera> cameras) {
  for (auto& c : cameras) states_.push_back(std::make_shared<State>(std::move(c)));
}

std::vector<std::string> ScriptedV4l2System::DevicePaths() {
  std::vector<std::string> paths;
  for (const auto& s : states_) paths.push_back(s->camera.path);
  return paths;
}

std::shared_ptr<ScriptedV4l2System::State> ScriptedV4l2System::Find(const std::string& path) const {
  for (const auto& s : states_)
    if (s->camera.path == path) return s;
  return nullptr;
}

std::unique_ptr<V4l2Device> ScriptedV4l2System::Open(const std::string& path) {
  std::shared_ptr<State> state = Find(path);
  if (!state) {
    errno = ENOENT;
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(state->mutex);
  if (state->vanished) {
    errno = ENODEV;
    return nullptr;
  }
  ++state->record.opens;
  return std::make_unique<ScriptedV4l2Device>(state);
}

void ScriptedV4l2System::Vanish(const std::string& path) {
  if (std::shared_ptr<State> s = Find(path)) {
    std::lock_guard<std::mutex> lock(s->mutex);
    s->vanished = true;
  }
}

void ScriptedV4l2System::SetStalled(const std::string& path, bool stalled) {
  if (std::shared_ptr<State> s = Find(path)) {
    std::lock_guard<std::mutex> lock(s->mutex);
    s->stalled = stalled;
  }
}

ScriptedV4l2System::Record ScriptedV4l2System::RecordOf(const std::string& path) const {
  std::shared_ptr<State> s = Find(path);
  if (!s) return {};
  std::lock_guard<std::mutex> lock(s->mutex);
  return s->record;
}
