// Capture-to-callback age: how old a frame is when the video-stream callback gets it, from the
// moment the camera took it (the scripted V4L2 device's timestamp) to the callback's first line.
// A capture window streams as InitCapture and SendVideo set it up (the asked rate, the preview on),
// from cameras that run at the asked rate, faster than asked, send MJPEG, or lack the asked size.
// Beside it the reader the capture window had before: one read a period, the oldest frame in the
// queue first. Target: at most one frame period (66.7 ms at 15 fps).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/vfw/capture_driver.h"
#include "platform/vfw/vfw.h"
#include "tests/support/devices/scripted_v4l2.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAskedFps = 15;
constexpr double kTargetMs = 1000.0 / kAskedFps;
constexpr auto kRun = std::chrono::seconds(4);
const char kCam[] = "/dev/video0";

struct Ages {
  ScriptedV4l2System* system = nullptr;
  std::mutex mutex;
  std::vector<double> ms;

  // The frame the callback has is the one the device handed out last.
  void Add(Clock::time_point now) {
    const std::uint64_t frame = system->RecordOf(kCam).lastFrameDequeued;
    const double age =
        std::chrono::duration<double, std::milli>(now - system->CaptureTimeOf(kCam, frame)).count();
    std::lock_guard<std::mutex> lock(mutex);
    ms.push_back(age);
  }
};

LRESULT OnFrame(HWND hwnd, LPVIDEOHDR) {
  const Clock::time_point now = Clock::now();
  reinterpret_cast<Ages*>(capGetUserData(hwnd))->Add(now);
  return TRUE;
}

void Report(benchmark::State& state, std::vector<double> ms, const ScriptedV4l2System::Record& r) {
  if (ms.empty()) {
    state.SkipWithError("no frame arrived");
    return;
  }
  std::sort(ms.begin(), ms.end());
  state.counters["frames"] = static_cast<double>(ms.size());
  state.counters["age_median_ms"] = ms[ms.size() / 2];
  state.counters["age_p95_ms"] = ms[ms.size() * 95 / 100];
  state.counters["age_max_ms"] = ms.back();
  state.counters["target_ms"] = kTargetMs;
  state.counters["camera_dropped"] = static_cast<double>(r.framesDropped);
}

ScriptedV4l2Camera Camera(double fps, std::uint32_t pixelFormat) {
  ScriptedV4l2Camera c;
  c.path = kCam;
  c.framesPerSecond = fps;
  c.pixelFormat = pixelFormat;
  c.sizes = {{640, 480}, {352, 288}, {320, 240}};
  return c;
}

// A capture window as the control sets it up, streaming for kRun.
void RunCaptureWindow(benchmark::State& state, ScriptedV4l2Camera camera, int width, int height) {
  auto system = std::make_shared<ScriptedV4l2System>(std::vector<ScriptedV4l2Camera>{camera});
  CaptureDriverConfig config;
  config.v4l2System = system;
  ConfigureCaptureDrivers(config);
  CWnd parent;
  parent.CreateEx(WS_VISIBLE, 0, 0, 352, 288, nullptr);
  const HWND hwnd = capCreateCaptureWindowA(nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 352, 288, parent.GetSafeHwnd(), 0);
  if (!capDriverConnect(hwnd, 0)) {
    state.SkipWithError("the scripted camera did not connect");
    return;
  }
  BITMAPINFO format{};
  format.bmiHeader = BITMAPINFOHEADER{40, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  capSetVideoFormat(hwnd, &format, sizeof format);
  CAPTUREPARMS parms = DefaultCaptureParms();
  parms.dwRequestMicroSecPerFrame = 1000000 / kAskedFps;
  parms.fYield = TRUE;
  capCaptureSetSetup(hwnd, &parms, sizeof parms);
  capPreviewRate(hwnd, 1000 / kAskedFps);
  capPreviewScale(hwnd, TRUE);
  capPreview(hwnd, TRUE);

  Ages ages;
  ages.system = system.get();
  capSetUserData(hwnd, reinterpret_cast<LPARAM>(&ages));
  capSetCallbackOnVideoStream(hwnd, &OnFrame);
  for (auto _ : state) {
    capCaptureSequenceNoFile(hwnd);
    QEventLoop loop;  // the UI thread paints the preview meanwhile
    QTimer::singleShot(kRun, &loop, &QEventLoop::quit);
    loop.exec();
    capCaptureStop(hwnd);
  }
  DestroyWindow(hwnd);
  Report(state, ages.ms, system->RecordOf(kCam));
}

void BM_CaptureWindow_CameraAtTheAskedRate(benchmark::State& state) {
  RunCaptureWindow(state, Camera(kAskedFps, V4L2_PIX_FMT_YUYV), 352, 288);
}
void BM_CaptureWindow_CameraTwiceAsFast(benchmark::State& state) {
  RunCaptureWindow(state, Camera(2 * kAskedFps, V4L2_PIX_FMT_YUYV), 352, 288);
}
void BM_CaptureWindow_Mjpeg640x480TwiceAsFast(benchmark::State& state) {
  RunCaptureWindow(state, Camera(2 * kAskedFps, V4L2_PIX_FMT_MJPEG), 640, 480);
}
void BM_CaptureWindow_CifScaledFrom320x240(benchmark::State& state) {
  ScriptedV4l2Camera camera = Camera(2 * kAskedFps, V4L2_PIX_FMT_YUYV);
  camera.sizes = {{640, 480}, {320, 240}};
  RunCaptureWindow(state, camera, 352, 288);
}

// The earlier reader: one frame read each period, oldest first, from a camera twice as fast.
void BM_OldestFirstOneReadAPeriod_CameraTwiceAsFast(benchmark::State& state) {
  ScriptedV4l2System system({Camera(2 * kAskedFps, V4L2_PIX_FMT_YUYV)});
  std::unique_ptr<V4l2Device> device = system.Open(kCam);
  v4l2_format fmt{};
  fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  fmt.fmt.pix.width = 352;
  fmt.fmt.pix.height = 288;
  fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
  device->Ioctl(VIDIOC_S_FMT, &fmt);
  v4l2_requestbuffers request{};
  request.count = 4;  // libv4l2's read() queues as many
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  device->Ioctl(VIDIOC_REQBUFS, &request);
  for (unsigned i = 0; i < request.count; ++i) {
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    b.index = i;
    device->Ioctl(VIDIOC_QBUF, &b);
  }
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  device->Ioctl(VIDIOC_STREAMON, &type);
  std::vector<double> ms;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now(), end = start + kRun;
    for (Clock::time_point next = start; next < end; next += std::chrono::microseconds(1000000 / kAskedFps)) {
      std::this_thread::sleep_until(next);
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      if (device->Ioctl(VIDIOC_DQBUF, &b) < 0) continue;
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - system.CaptureTimeOf(kCam, b.sequence))
                       .count());
      device->Ioctl(VIDIOC_QBUF, &b);
    }
  }
  device->Ioctl(VIDIOC_STREAMOFF, &type);
  Report(state, ms, system.RecordOf(kCam));
}

BENCHMARK(BM_CaptureWindow_CameraAtTheAskedRate)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_CaptureWindow_CameraTwiceAsFast)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_CaptureWindow_Mjpeg640x480TwiceAsFast)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_CaptureWindow_CifScaledFrom320x240)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_OldestFirstOneReadAPeriod_CameraTwiceAsFast)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
