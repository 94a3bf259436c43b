#include "tests/support/devices/scripted_v4l2.h"

#include <libv4l-plugin.h>
#include <libv4lconvert.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QBuffer>
#include <QImage>
#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kMaxBuffers = 8;
// Buffer i is mapped at offset i * kOffsetStep, as drivers hand out distinct offsets.
constexpr off_t kOffsetStep = 1 << 24;
// libv4l2 tries this many filled buffers before it gives up on converting with EIO.
constexpr int kConversionTries = 4;
// A cut-short frame keeps this much of its JPEG: the headers, not the picture.
constexpr std::size_t kCorruptJpegBytes = 100;

int Fail(int error) {
  errno = error;
  return -1;
}

void DrawPattern(unsigned char* out, unsigned width, unsigned height, unsigned stride, std::uint64_t frame) {
  for (unsigned y = 0; y < height; ++y) {
    unsigned char* row = out + static_cast<std::size_t>(y) * stride;
    for (unsigned x = 0; x < width; ++x) {
      row[3 * x] = static_cast<unsigned char>(x);
      row[3 * x + 1] = static_cast<unsigned char>(y);
      row[3 * x + 2] = static_cast<unsigned char>(frame);
    }
    std::memset(row + 3 * width, 0xEE, stride - 3 * width);  // padding the reader must skip
  }
}

std::vector<unsigned char> JpegOf(std::uint64_t frame, unsigned width, unsigned height, bool corrupt) {
  QImage picture(static_cast<int>(width), static_cast<int>(height), QImage::Format_BGR888);
  DrawPattern(picture.bits(), width, height, static_cast<unsigned>(picture.bytesPerLine()), frame);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "JPG", 95);
  if (corrupt) bytes.truncate(static_cast<qsizetype>(kCorruptJpegBytes));
  return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

// libv4lconvert asks its device what it sends; the scripted MJPEG camera answers.
int MjpegCameraIoctl(void*, int, unsigned long request, void* arg) {
  if (request == VIDIOC_QUERYCAP) {
    auto* cap = static_cast<v4l2_capability*>(arg);
    *cap = v4l2_capability{};
    std::strcpy(reinterpret_cast<char*>(cap->driver), "scripted");
    cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    return 0;
  }
  if (request == VIDIOC_ENUM_FMT && static_cast<v4l2_fmtdesc*>(arg)->index == 0) {
    auto* desc = static_cast<v4l2_fmtdesc*>(arg);
    desc->pixelformat = V4L2_PIX_FMT_MJPEG;
    desc->flags = V4L2_FMT_FLAG_COMPRESSED;
    return 0;
  }
  return Fail(EINVAL);
}

ssize_t NoRead(void*, int, void*, size_t) { return Fail(EINVAL); }

libv4l_dev_ops MjpegCameraOps() {
  libv4l_dev_ops ops{};
  ops.ioctl = MjpegCameraIoctl;
  ops.read = NoRead;
  return ops;
}
const libv4l_dev_ops kMjpegCameraOps = MjpegCameraOps();

}  // namespace

struct ScriptedV4l2System::State {
  explicit State(ScriptedV4l2Camera c) : camera(std::move(c)), eventFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    const ScriptedV4l2Camera::Size first = camera.sizes.empty() ? ScriptedV4l2Camera::Size{0, 0} : camera.sizes[0];
    Adjust(first.width, first.height, camera.pixelFormat, &current.fmt.pix);
    SetPeriod(0, 0);
  }

  ~State() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      quit = true;
    }
    wake.notify_all();
    if (producer.joinable()) producer.join();
    if (convert) v4lconvert_destroy(convert);
    close(eventFd);
  }

  // What a driver does with a requested format: the nearest size it has, and its pixel format.
  void Adjust(int width, int height, std::uint32_t pixelFormat, v4l2_pix_format* pix) const {
    ScriptedV4l2Camera::Size best{width, height};
    long bestDistance = -1;
    for (const auto& s : camera.sizes) {
      const long shared = static_cast<long>(std::min(s.width, width)) * std::min(s.height, height);
      const long d = static_cast<long>(s.width) * s.height + static_cast<long>(width) * height - 2 * shared;
      if (bestDistance < 0 || d < bestDistance) {
        best = s;
        bestDistance = d;
      }
    }
    const bool bgr = pixelFormat == V4L2_PIX_FMT_BGR24 && camera.convertsToBgr24;
    *pix = v4l2_pix_format{};
    pix->width = static_cast<__u32>(best.width);
    pix->height = static_cast<__u32>(best.height);
    pix->pixelformat = bgr ? V4L2_PIX_FMT_BGR24 : camera.pixelFormat;
    pix->field = V4L2_FIELD_NONE;
    pix->bytesperline = bgr ? pix->width * 3 + camera.rowPadding : pix->width * 2;
    pix->sizeimage = pix->bytesperline * pix->height;
  }

  bool Mjpeg() const { return camera.pixelFormat == V4L2_PIX_FMT_MJPEG; }

  // Locked: whether `file` may claim the camera.
  bool Busy(const void* file) const { return owner != file && (owner != nullptr || busyElsewhere); }

  // Locked: poll() on the event descriptor reports whether a buffer can be dequeued (or the
  // camera is gone).
  void UpdateReadable() {
    std::uint64_t value;
    if (vanished || !done.empty()) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t n = write(eventFd, &one, sizeof one);
    } else {
      [[maybe_unused]] const ssize_t n = read(eventFd, &value, sizeof value);
    }
  }

  // Locked.
  void Vanish() {
    vanished = true;
    streaming = false;
    UpdateReadable();
  }

  // Locked.
  void StopStreaming() {
    streaming = false;
    queued.clear();
    done.clear();
    UpdateReadable();
  }

  // Locked.
  void FreeBuffers() {
    StopStreaming();
    buffers.clear();
    owner = nullptr;
  }

  // One frame of the camera; called without the lock (a JPEG takes a while to make).
  void TakeFrame() {
    std::uint64_t frame;
    bool corrupt = false;
    v4l2_pix_format pix;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!streaming || stalled) return;
      frame = record.framesProduced++;
      if (camera.vanishAfterFrames && frame >= camera.vanishAfterFrames) {
        Vanish();
        return;
      }
      if (Mjpeg() && corruptFrames > 0) {
        --corruptFrames;
        corrupt = true;
      }
      pix = current.fmt.pix;
    }
    std::vector<unsigned char> jpeg;
    if (Mjpeg()) jpeg = JpegOf(frame, pix.width, pix.height, corrupt);

    std::lock_guard<std::mutex> lock(mutex);
    if (!streaming) return;
    const Clock::time_point now = Clock::now();
    captureTimes[frame % captureTimes.size()] = now;
    if (queued.empty()) {
      ++record.framesDropped;
      return;
    }
    Buffer& b = buffers[queued.front()];
    queued.pop_front();
    if (Mjpeg()) {
      b.jpeg = std::move(jpeg);
    } else if (pix.pixelformat == V4L2_PIX_FMT_BGR24) {
      DrawPattern(b.data.data(), pix.width, pix.height, pix.bytesperline, frame);
    } else {
      std::memset(b.data.data(), 0x80, b.data.size());
    }
    b.frame = frame;
    b.captured = now;
    done.push_back(static_cast<unsigned>(&b - buffers.data()));
    UpdateReadable();
  }

  // The camera's clock: a frame each period while streaming.
  void Produce() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!quit) {
      if (!streaming) {
        wake.wait(lock);
        continue;
      }
      if (wake.wait_until(lock, nextFrame, [this] { return quit || !streaming; })) continue;
      const Clock::time_point now = Clock::now();
      nextFrame += period;
      if (nextFrame + period < now) nextFrame = now;
      lock.unlock();
      TakeFrame();
      lock.lock();
    }
  }

  // Locked: the frame rate the camera runs at.
  void SetPeriod(std::uint32_t numerator, std::uint32_t denominator) {
    if (camera.framesPerSecond > 0) {
      period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / camera.framesPerSecond));
    } else if (numerator > 0 && denominator > 0) {
      period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
          static_cast<double>(numerator) / static_cast<double>(denominator)));
    }
  }

  // Locked: libv4l2's conversion of a filled MJPEG buffer. The result as v4lconvert_convert's.
  int Convert(unsigned index) {
    if (!convert) convert = v4lconvert_create_with_dev_ops(-1, nullptr, &kMjpegCameraOps);
    if (!convert) return -1;
    Buffer& b = buffers[index];
    v4l2_format src = current, dst = current;
    src.fmt.pix.pixelformat = V4L2_PIX_FMT_MJPEG;
    src.fmt.pix.sizeimage = static_cast<__u32>(b.jpeg.size());
    return v4lconvert_convert(convert, &src, &dst, b.jpeg.data(), static_cast<int>(b.jpeg.size()), b.data.data(),
                              static_cast<int>(b.data.size()));
  }

  struct Buffer {
    std::vector<unsigned char> data;  // what the reader maps: BGR24 (or the camera's own format)
    std::vector<unsigned char> jpeg;  // an MJPEG camera's frame before conversion
    std::uint64_t frame = 0;
    Clock::time_point captured;
    int mapped = 0;
  };

  std::mutex mutex;
  std::condition_variable wake;
  ScriptedV4l2Camera camera;
  v4l2_format current{};
  bool vanished = false;
  bool stalled = false;
  bool busyElsewhere = false;
  int streamOnError = 0;
  int failDequeues = 0, failDequeueError = EIO;
  int corruptFrames = 0;
  const void* owner = nullptr;  // the open file that requested the buffers
  std::vector<Buffer> buffers;
  std::deque<unsigned> queued, done;
  bool streaming = false;
  Clock::duration period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / 30));
  Clock::time_point nextFrame;
  std::array<Clock::time_point, 256> captureTimes{};
  Record record;
  v4lconvert_data* convert = nullptr;
  int eventFd;
  std::thread producer;
  bool quit = false;
};

namespace {

using State = ScriptedV4l2System::State;

// Changes a camera's state, when there is such a camera.
template <typename Change>
void Locked(const std::shared_ptr<State>& state, Change change) {
  if (!state) return;
  std::lock_guard<std::mutex> lock(state->mutex);
  change(*state);
}

void FillCapability(const ScriptedV4l2Camera& camera, v4l2_capability* cap) {
  *cap = v4l2_capability{};
  std::strncpy(reinterpret_cast<char*>(cap->driver), camera.driver.c_str(), sizeof(cap->driver) - 1);
  std::strncpy(reinterpret_cast<char*>(cap->card), camera.card.c_str(), sizeof(cap->card) - 1);
  std::strncpy(reinterpret_cast<char*>(cap->bus_info), camera.busInfo.c_str(), sizeof(cap->bus_info) - 1);
  cap->version = camera.version;
  cap->device_caps = camera.canCapture ? V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING
                                       : V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
  cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
}

class ScriptedV4l2Device : public V4l2Device {
 public:
  explicit ScriptedV4l2Device(std::shared_ptr<State> state) : state_(std::move(state)) {}
  ~ScriptedV4l2Device() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->owner == this) state_->FreeBuffers();
  }

  int Ioctl(unsigned long request, void* arg) override {
    State& s = *state_;
    std::unique_lock<std::mutex> lock(s.mutex);
    if (s.vanished) return Fail(ENODEV);
    switch (request) {
      case VIDIOC_QUERYCAP:
        FillCapability(s.camera, static_cast<v4l2_capability*>(arg));
        return 0;
      case VIDIOC_G_FMT: {
        auto* fmt = static_cast<v4l2_format*>(arg);
        if (fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return Fail(EINVAL);
        *fmt = s.current;
        return 0;
      }
      case VIDIOC_TRY_FMT:
      case VIDIOC_S_FMT: {
        auto* fmt = static_cast<v4l2_format*>(arg);
        if (fmt->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || s.camera.sizes.empty()) return Fail(EINVAL);
        if (request == VIDIOC_S_FMT && (s.Busy(this) || s.streaming || Mapped())) return Fail(EBUSY);
        s.Adjust(static_cast<int>(fmt->fmt.pix.width), static_cast<int>(fmt->fmt.pix.height),
                 fmt->fmt.pix.pixelformat, &fmt->fmt.pix);
        if (request == VIDIOC_S_FMT) {
          s.current = *fmt;
          s.record.setWidth = fmt->fmt.pix.width;
          s.record.setHeight = fmt->fmt.pix.height;
          s.record.setPixelFormat = fmt->fmt.pix.pixelformat;
        }
        return 0;
      }
      case VIDIOC_S_PARM: {
        auto* parm = static_cast<v4l2_streamparm*>(arg);
        s.record.timePerFrameNumerator = parm->parm.capture.timeperframe.numerator;
        s.record.timePerFrameDenominator = parm->parm.capture.timeperframe.denominator;
        s.SetPeriod(parm->parm.capture.timeperframe.numerator, parm->parm.capture.timeperframe.denominator);
        return 0;
      }
      case VIDIOC_REQBUFS:
        return RequestBuffers(*static_cast<v4l2_requestbuffers*>(arg));
      case VIDIOC_QUERYBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        if (s.owner != this || b->index >= s.buffers.size()) return Fail(EINVAL);
        b->length = static_cast<__u32>(s.buffers[b->index].data.size());
        b->m.offset = static_cast<__u32>(b->index * kOffsetStep);
        return 0;
      }
      case VIDIOC_QBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        if (s.owner != this || b->index >= s.buffers.size() || Holds(s.queued, b->index) || Holds(s.done, b->index))
          return Fail(EINVAL);
        s.queued.push_back(b->index);
        return 0;
      }
      case VIDIOC_DQBUF:
        return Dequeue(*static_cast<v4l2_buffer*>(arg));
      case VIDIOC_STREAMON: {
        if (s.owner != this || s.Busy(this)) return Fail(EBUSY);
        if (s.streamOnError) return Fail(s.streamOnError);
        s.streaming = true;
        s.nextFrame = Clock::now();
        ++s.record.streamOns;
        if (!s.camera.manualFrames && !s.producer.joinable()) s.producer = std::thread([&s] { s.Produce(); });
        s.wake.notify_all();
        return 0;
      }
      case VIDIOC_STREAMOFF:
        if (s.owner != this) return Fail(EINVAL);
        s.StopStreaming();
        ++s.record.streamOffs;
        return 0;
      default:
        return Fail(ENOTTY);
    }
  }

  void* Mmap(std::size_t length, off_t offset) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    const auto index = static_cast<std::size_t>(offset / kOffsetStep);
    if (state_->vanished || state_->owner != this || offset % kOffsetStep != 0 ||
        index >= state_->buffers.size() || length > state_->buffers[index].data.size()) {
      errno = EINVAL;
      return nullptr;
    }
    ++state_->buffers[index].mapped;
    return state_->buffers[index].data.data();
  }

  int Munmap(void* start, std::size_t) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (State::Buffer& b : state_->buffers)
      if (b.data.data() == start && b.mapped > 0) {
        --b.mapped;
        return 0;
      }
    return Fail(EINVAL);
  }

  int PollFd() const override { return state_->eventFd; }

 private:
  static bool Holds(const std::deque<unsigned>& list, unsigned index) {
    return std::find(list.begin(), list.end(), index) != list.end();
  }

  // Locked.
  bool Mapped() const {
    return std::any_of(state_->buffers.begin(), state_->buffers.end(), [](const State::Buffer& b) { return b.mapped > 0; });
  }

  // Locked.
  int RequestBuffers(v4l2_requestbuffers& request) {
    State& s = *state_;
    if (request.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || request.memory != V4L2_MEMORY_MMAP) return Fail(EINVAL);
    if (s.Busy(this)) return Fail(EBUSY);
    if (s.streaming || Mapped()) return Fail(EBUSY);
    s.FreeBuffers();
    if (request.count == 0) return 0;
    request.count = std::min(request.count, kMaxBuffers);
    s.buffers.resize(request.count);
    for (State::Buffer& b : s.buffers) b.data.assign(s.current.fmt.pix.sizeimage, 0);
    s.owner = this;
    s.record.buffersRequested = request.count;
    return 0;
  }

  // Locked.
  int Dequeue(v4l2_buffer& out) {
    State& s = *state_;
    if (s.owner != this || !s.streaming) return Fail(EINVAL);
    for (int tries = kConversionTries;;) {
      if (s.done.empty()) {
        s.UpdateReadable();
        return Fail(EAGAIN);
      }
      const unsigned index = s.done.front();
      s.done.pop_front();
      if (s.failDequeues > 0) {
        --s.failDequeues;
        s.queued.push_back(index);
        s.UpdateReadable();
        return Fail(s.failDequeueError);
      }
      int bytes = static_cast<int>(s.buffers[index].data.size());
      if (s.Mjpeg() && s.current.fmt.pix.pixelformat == V4L2_PIX_FMT_BGR24) bytes = s.Convert(index);
      if (bytes < 0) {
        s.queued.push_back(index);
        if (--tries > 0) continue;
        s.UpdateReadable();
        return Fail(EIO);
      }
      const State::Buffer& b = s.buffers[index];
      out.index = index;
      out.bytesused = static_cast<__u32>(bytes);
      out.flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_DONE | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
      out.field = V4L2_FIELD_NONE;
      out.sequence = static_cast<__u32>(b.frame);
      const auto sinceBoot = b.captured.time_since_epoch();
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceBoot);
      out.timestamp.tv_sec = static_cast<time_t>(seconds.count());
      out.timestamp.tv_usec =
          static_cast<suseconds_t>(std::chrono::duration_cast<std::chrono::microseconds>(sinceBoot - seconds).count());
      ++s.record.framesDequeued;
      s.record.lastFrameDequeued = b.frame;
      s.UpdateReadable();
      return 0;
    }
  }

  std::shared_ptr<State> state_;
};

}  // namespace

ScriptedV4l2System::ScriptedV4l2System(std::vector<ScriptedV4l2Camera> cameras) {
  for (auto& c : cameras) Plug(std::move(c));
}

ScriptedV4l2System::~ScriptedV4l2System() = default;

std::vector<std::string> ScriptedV4l2System::DevicePaths() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> paths;
  for (const auto& s : plugged_) paths.push_back(s->camera.path);
  return paths;
}

std::shared_ptr<ScriptedV4l2System::State> ScriptedV4l2System::Find(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& s : plugged_)
    if (s->camera.path == path) return s;
  // An unplugged camera still has its record.
  for (auto it = all_.rbegin(); it != all_.rend(); ++it)
    if ((*it)->camera.path == path) return *it;
  return nullptr;
}

int ScriptedV4l2System::QueryCapability(const std::string& path, v4l2_capability* cap) {
  std::shared_ptr<State> state = Find(path);
  if (!state) return ENOENT;
  std::lock_guard<std::mutex> lock(state->mutex);
  if (state->vanished) return ENODEV;
  FillCapability(state->camera, cap);
  return 0;
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

void ScriptedV4l2System::Plug(ScriptedV4l2Camera camera) {
  auto state = std::make_shared<State>(std::move(camera));
  std::lock_guard<std::mutex> lock(mutex_);
  plugged_.push_back(state);
  all_.push_back(state);
}

void ScriptedV4l2System::Unplug(const std::string& path) {
  std::shared_ptr<State> state;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(plugged_.begin(), plugged_.end(), [&](const auto& s) { return s->camera.path == path; });
    if (it == plugged_.end()) return;
    state = *it;
    plugged_.erase(it);
  }
  std::lock_guard<std::mutex> lock(state->mutex);
  state->Vanish();
}

void ScriptedV4l2System::SetBusy(const std::string& path, bool busy) {
  Locked(Find(path), [&](State& s) { s.busyElsewhere = busy; });
}

void ScriptedV4l2System::SetStreamOnError(const std::string& path, int error) {
  Locked(Find(path), [&](State& s) { s.streamOnError = error; });
}

void ScriptedV4l2System::FailDequeues(const std::string& path, int count, int error) {
  Locked(Find(path), [&](State& s) {
    s.failDequeues = count;
    s.failDequeueError = error;
  });
}

void ScriptedV4l2System::CorruptFrames(const std::string& path, int count) {
  Locked(Find(path), [&](State& s) { s.corruptFrames = count; });
}

void ScriptedV4l2System::SetStalled(const std::string& path, bool stalled) {
  Locked(Find(path), [&](State& s) { s.stalled = stalled; });
}

void ScriptedV4l2System::PushFrames(const std::string& path, int count) {
  if (std::shared_ptr<State> s = Find(path))
    for (int i = 0; i < count; ++i) s->TakeFrame();
}

ScriptedV4l2System::Record ScriptedV4l2System::RecordOf(const std::string& path) const {
  std::shared_ptr<State> s = Find(path);
  if (!s) return {};
  std::lock_guard<std::mutex> lock(s->mutex);
  return s->record;
}

std::chrono::steady_clock::time_point ScriptedV4l2System::CaptureTimeOf(const std::string& path,
                                                                        std::uint64_t frame) const {
  std::shared_ptr<State> s = Find(path);
  if (!s) return {};
  std::lock_guard<std::mutex> lock(s->mutex);
  return s->captureTimes[frame % s->captureTimes.size()];
}
