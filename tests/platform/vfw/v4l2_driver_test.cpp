// The V4L2 driver against scripted devices (this machine has no camera).
#include <linux/videodev2.h>

#include <QColor>
#include <QImage>
#include <cstdlib>
#include <string>

#include "tests/platform/vfw/vfw_test_support.h"
#include "tests/support/devices/scripted_v4l2.h"

namespace {

using vfwtest::Frame;
using vfwtest::WaitFor;

const char kCam[] = "/dev/video0";

// What the error callback heard, on which thread.
struct Errors {
  int calls = 0;
  int id = 0;
  std::string text;
  bool onTestThread = true;
};
Errors g_errors;
std::thread::id g_testThread;

LRESULT RecordError(HWND, int id, LPCSTR text) {
  ++g_errors.calls;
  g_errors.id = id;
  g_errors.text = text ? text : "";
  g_errors.onTestThread = g_errors.onTestThread && std::this_thread::get_id() == g_testThread;
  return TRUE;
}

class V4l2DriverTest : public vfwtest::CaptureWindowTest {
 protected:
  void SetUp() override {
    g_errors = Errors{};
    g_testThread = std::this_thread::get_id();
  }
  // The scripted cameras as the only drivers.
  void UseCameras(std::vector<ScriptedV4l2Camera> cameras) {
    system_ = std::make_shared<ScriptedV4l2System>(std::move(cameras));
    CaptureDriverConfig config;
    config.v4l2System = system_;
    ConfigureCaptureDrivers(config);
  }
  static ScriptedV4l2Camera Manual() {
    ScriptedV4l2Camera c;
    c.manualFrames = true;
    return c;
  }
  // Pushes one frame and waits for the callback to have it.
  void PushAndWait() {
    const int before = rec_.count;
    system_->PushFrames(kCam, 1);
    ASSERT_TRUE(WaitFor([&] { return rec_.count > before; }));
  }
  static int Red(const Frame& f) { return f.bits[2]; }
  std::shared_ptr<ScriptedV4l2System> system_;
};

TEST_F(V4l2DriverTest, ConnectingClaimsTheCameraSoThatASecondWindowFindsItBusy) {
  UseCameras({ScriptedV4l2Camera{}});
  MakeWindow();
  ASSERT_TRUE(capDriverConnect(hwnd_, 0));
  EXPECT_EQ(Info().format.biWidth, 640);
  EXPECT_EQ(Info().format.biHeight, 480);
  EXPECT_EQ(Info().format.biBitCount, 24);
  const ScriptedV4l2System::Record r = system_->RecordOf(kCam);
  EXPECT_EQ(r.setPixelFormat, V4L2_PIX_FMT_BGR24);
  EXPECT_GT(r.buffersRequested, 0u);

  const HWND second = capCreateCaptureWindowA(nullptr, WS_CHILD, 0, 0, 10, 10, parent_.GetSafeHwnd(), 0);
  EXPECT_FALSE(capDriverConnect(second, 0));
  ASSERT_TRUE(capDriverDisconnect(hwnd_));
  EXPECT_TRUE(capDriverConnect(second, 0));
  DestroyWindow(second);

  // Another program holds it.
  system_->SetBusy(kCam, true);
  EXPECT_FALSE(capDriverConnect(hwnd_, 0));
  system_->SetBusy(kCam, false);
  EXPECT_TRUE(capDriverConnect(hwnd_, 0));
}

TEST_F(V4l2DriverTest, ASizeTheCameraLacksIsCapturedAtTheNearestSizeAndScaled) {
  ScriptedV4l2Camera camera = Manual();
  camera.sizes = {{640, 480}, {352, 288}, {176, 144}};
  UseCameras({camera});
  Connect(320, 240, 24, 5000);  // the nearest is 352 x 288
  EXPECT_EQ(Info().format.biWidth, 320);
  EXPECT_EQ(Info().format.biHeight, 240);
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  PushAndWait();
  capCaptureAbort(hwnd_);
  const ScriptedV4l2System::Record r = system_->RecordOf(kCam);
  EXPECT_EQ(r.setWidth, 352u);
  EXPECT_EQ(r.setHeight, 288u);
  EXPECT_EQ(r.timePerFrameNumerator, 5000u);
  EXPECT_EQ(r.timePerFrameDenominator, 1000000u);

  // Blue is the camera's x, green its y: the 320 x 240 picture spans the whole 352 x 288 one.
  const Frame f = rec_.Frames().front();
  ASSERT_EQ(f.bytesUsed, 320u * 240u * 3u);
  double error = 0;
  for (int row = 0; row < 240; ++row)
    for (int x = 0; x < 320; ++x) {
      const BYTE* p = &f.bits[(static_cast<std::size_t>(row) * 320 + static_cast<std::size_t>(x)) * 3];
      error += std::abs(p[0] - (x * 352 / 320 & 0xFF)) + std::abs(p[1] - ((239 - row) * 288 / 240 & 0xFF));
    }
  EXPECT_LT(error / (320.0 * 240.0), 6.0);  // the blue ramp wraps at 256, where scaling blends

  // The size it has is taken as it is.
  BITMAPINFO qcif = vfwtest::Format(176, 144, 24);
  ASSERT_TRUE(capSetVideoFormat(hwnd_, &qcif, 44));
  EXPECT_EQ(system_->RecordOf(kCam).setWidth, 176u);
}

TEST_F(V4l2DriverTest, ADeviceWithoutBgr24IsNotConnected) {
  ScriptedV4l2Camera raw;
  raw.convertsToBgr24 = false;
  UseCameras({raw});
  MakeWindow();
  EXPECT_FALSE(capDriverConnect(hwnd_, 0));
}

TEST_F(V4l2DriverTest, FramesAreFlippedToBottomUpAndPaddingDropped) {
  ScriptedV4l2Camera camera = Manual();
  camera.rowPadding = 8;
  UseCameras({camera});
  Connect(176, 144, 24, 5000);
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  for (int n = 0; n < 3; ++n) PushAndWait();
  capCaptureAbort(hwnd_);

  const std::vector<Frame> frames = rec_.Frames();
  for (std::size_t n = 0; n < 3; ++n) {
    const Frame& f = frames[n];
    ASSERT_EQ(f.bytesUsed, 176u * 144u * 3u);
    bool same = true;
    for (int row = 0; row < 144 && same; ++row)  // buffer row 0 is the camera's bottom row
      for (int x = 0; x < 176 && same; ++x) {
        const BYTE* p = &f.bits[(static_cast<std::size_t>(row) * 176 + static_cast<std::size_t>(x)) * 3];
        same = p[0] == (x & 0xFF) && p[1] == ((143 - row) & 0xFF) && p[2] == n;
      }
    EXPECT_TRUE(same) << "frame " << n;
  }
}

TEST_F(V4l2DriverTest, SixteenBitFramesAre555) {
  UseCameras({Manual()});
  Connect(176, 144, 16, 5000);
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  PushAndWait();
  capCaptureAbort(hwnd_);
  const Frame f = rec_.Frames().front();
  ASSERT_EQ(f.bytesUsed, 176u * 144u * 2u);
  // Buffer row 0 is camera row 143: blue = x, green = 143, red = 0 (frame 0).
  const auto word = [&](std::size_t i) {
    return static_cast<unsigned>(f.bits[2 * i] | (f.bits[2 * i + 1] << 8));
  };
  EXPECT_EQ(word(100), ((143u >> 3) << 5) | (100u >> 3));
  EXPECT_EQ(word(143u * 176u + 40u), 40u >> 3);  // last buffer row is camera row 0
}

TEST_F(V4l2DriverTest, TheNewestFrameIsHandedOnWithTheCamerasTimestamp) {
  UseCameras({Manual()});
  Connect(176, 144, 24, 5000);
  rec_.sleepMs = 150;  // a slow callback: frames pile up in the queue meanwhile
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  system_->PushFrames(kCam, 1);
  ASSERT_TRUE(WaitFor([&] { return rec_.inCallback.load(); }));
  system_->PushFrames(kCam, 3);
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= 2; }));
  rec_.sleepMs = 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  capCaptureAbort(hwnd_);

  const std::vector<Frame> frames = rec_.Frames();
  ASSERT_EQ(frames.size(), 2u);  // frames 1 and 2 were read and dropped
  EXPECT_EQ(Red(frames[0]), 0);
  EXPECT_EQ(Red(frames[1]), 3);
  EXPECT_EQ(system_->RecordOf(kCam).framesDequeued, 4u);
  // The times are the camera's, not when the frames were read: frame 3 was taken well before the
  // slow callback let it be read.
  const auto taken = std::chrono::duration_cast<std::chrono::milliseconds>(system_->CaptureTimeOf(kCam, 3) -
                                                                          system_->CaptureTimeOf(kCam, 0));
  EXPECT_NEAR(static_cast<double>(frames[1].timeCaptured - frames[0].timeCaptured),
              static_cast<double>(taken.count()), 2.0);  // three times cut to milliseconds
  EXPECT_LT(frames[1].timeCaptured - frames[0].timeCaptured, 140u);
}

TEST_F(V4l2DriverTest, MjpegFramesAreDecodedAndThoseThatDoNotDecodeAreSkipped) {
  ScriptedV4l2Camera mjpeg = Manual();
  mjpeg.pixelFormat = V4L2_PIX_FMT_MJPEG;
  UseCameras({mjpeg});
  Connect(176, 144, 24, 5000);
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  PushAndWait();
  // Two frames that do not decode are passed over: the next good one arrives.
  system_->CorruptFrames(kCam, 2);
  system_->PushFrames(kCam, 2);
  PushAndWait();
  // Five in a row: libv4l2 gives up with EIO, the reader skips, the stream goes on.
  system_->CorruptFrames(kCam, 5);
  system_->PushFrames(kCam, 5);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(Info().streaming);
  PushAndWait();
  capCaptureAbort(hwnd_);

  const std::vector<Frame> frames = rec_.Frames();
  ASSERT_EQ(frames.size(), 3u);
  // JPEG is lossy: the pictures are close to the camera's, and each is the frame pushed last.
  for (const Frame& f : frames) {
    double error = 0;
    for (int row = 0; row < 144; ++row)
      for (int x = 0; x < 176; ++x) {
        const BYTE* p = &f.bits[(static_cast<std::size_t>(row) * 176 + static_cast<std::size_t>(x)) * 3];
        error += std::abs(p[0] - x) + std::abs(p[1] - (143 - row));
      }
    EXPECT_LT(error / (176.0 * 144.0), 4.0);
  }
  EXPECT_NEAR(Red(frames[0]), 0, 3);
  EXPECT_NEAR(Red(frames[1]), 3, 3);
  EXPECT_NEAR(Red(frames[2]), 9, 3);
  EXPECT_EQ(g_errors.calls, 0);
}

TEST_F(V4l2DriverTest, ReadErrorsSkipFramesAndOnlyAGoneDeviceEndsTheStream) {
  UseCameras({Manual()});
  Connect(176, 144, 24, 5000);
  capSetCallbackOnError(hwnd_, &RecordError);
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  PushAndWait();
  for (int error : {EIO, EPROTO, EPIPE}) {
    system_->FailDequeues(kCam, 2, error);
    system_->PushFrames(kCam, 2);
    PushAndWait();
  }
  EXPECT_TRUE(Info().streaming);
  EXPECT_EQ(rec_.count, 4);

  system_->FailDequeues(kCam, 1, ENODEV);
  system_->PushFrames(kCam, 1);
  ASSERT_TRUE(WaitFor([&] { return g_errors.calls > 0; }));
  EXPECT_FALSE(Info().streaming);
  EXPECT_TRUE(Info().lost);
  EXPECT_EQ(g_errors.id, IDS_CAP_DRIVER_ERROR);
}

TEST_F(V4l2DriverTest, ACameraThatFailsEveryReadCountsAsGone) {
  UseCameras({ScriptedV4l2Camera{}});
  Connect(176, 144, 24, 5000);
  capSetCallbackOnError(hwnd_, &RecordError);
  rec_.keepFrames = false;
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= 2; }));
  system_->FailDequeues(kCam, 1000, EIO);
  ASSERT_TRUE(WaitFor([&] { return g_errors.calls > 0; }));
  EXPECT_TRUE(Info().lost);
  EXPECT_FALSE(Info().streaming);
}

TEST_F(V4l2DriverTest, AnUnpluggedCameraIsReportedOnceOnTheUiThreadAndNotTouchedAgain) {
  ScriptedV4l2Camera camera;
  camera.card = "Desk Camera";
  camera.vanishAfterFrames = 5;
  UseCameras({camera});
  Connect(176, 144, 24, 2000);
  capSetCallbackOnError(hwnd_, &RecordError);
  rec_.keepFrames = false;
  // The stream starts before the preview, so that it alone reads the device's five frames; the
  // preview comes on while it runs and must not start again once the device is gone.
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  capPreviewRate(hwnd_, 5);
  capPreview(hwnd_, TRUE);
  ASSERT_TRUE(WaitFor([&] { return g_errors.calls > 0; }, 20000));
  EXPECT_LE(rec_.count, 5);
  EXPECT_GE(rec_.count, 1);
  EXPECT_EQ(g_errors.id, IDS_CAP_DRIVER_ERROR);
  EXPECT_NE(g_errors.text.find("Desk Camera"), std::string::npos);
  EXPECT_TRUE(g_errors.onTestThread);

  const std::uint64_t starts = system_->RecordOf(kCam).streamOns;
  EXPECT_TRUE(capPreview(hwnd_, TRUE));
  EXPECT_FALSE(capCaptureSequenceNoFile(hwnd_));
  WaitFor([] { return false; }, 50);
  EXPECT_FALSE(Info().streaming);
  EXPECT_TRUE(Info().lost);
  EXPECT_EQ(system_->RecordOf(kCam).streamOns, starts);
  EXPECT_EQ(g_errors.calls, 1);
  // The window shows black, not the last picture.
  const QImage& surface = CWnd::FromHandle(hwnd_)->Surface();
  EXPECT_EQ(QColor(surface.pixel(100, 80)), QColor(0, 0, 0));

  EXPECT_TRUE(capDriverDisconnect(hwnd_));
  EXPECT_FALSE(capDriverConnect(hwnd_, 0));  // gone from the list
}

TEST_F(V4l2DriverTest, AbortWhileWaitingForAFrameReturnsAtOnce) {
  UseCameras({ScriptedV4l2Camera{}});
  Connect(176, 144, 24, 5000);
  rec_.keepFrames = false;
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= 2; }));
  system_->SetStalled(kCam, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const int stalledAt = rec_.count;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(rec_.count, stalledAt);
  EXPECT_TRUE(Info().streaming);  // waiting for the camera
  const auto before = std::chrono::steady_clock::now();
  capCaptureAbort(hwnd_);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));

  system_->SetStalled(kCam, false);
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  const int resumed = rec_.count;
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= resumed + 2; }));
}

TEST_F(V4l2DriverTest, AStreamTheCameraRefusesToStartIsRefused) {
  UseCameras({ScriptedV4l2Camera{}});
  Connect(176, 144, 24, 5000);
  system_->SetStreamOnError(kCam, ENOSPC);
  EXPECT_FALSE(capCaptureSequenceNoFile(hwnd_));
  EXPECT_FALSE(Info().streaming);
  system_->SetStreamOnError(kCam, 0);
  EXPECT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= 1; }));
}

TEST_F(V4l2DriverTest, ACameraPluggedInLaterConnects) {
  UseCameras({});
  MakeWindow();
  EXPECT_FALSE(capDriverConnect(hwnd_, 0));
  system_->Plug(ScriptedV4l2Camera{});
  EXPECT_TRUE(capDriverConnect(hwnd_, 0));
}

}  // namespace
