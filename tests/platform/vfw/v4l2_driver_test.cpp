// The V4L2 driver against scripted devices (this machine has no camera).
#include <linux/videodev2.h>

#include "platform/vfw/scripted_v4l2.h"
#include "tests/platform/vfw/vfw_test_support.h"

namespace {

using vfwtest::Frame;
using vfwtest::WaitFor;

class V4l2DriverTest : public vfwtest::CaptureWindowTest {
 protected:
  void SetUp() override {}
  // The scripted cameras as the only drivers.
  void UseCameras(std::vector<ScriptedV4l2Camera> cameras) {
    system_ = std::make_shared<ScriptedV4l2System>(std::move(cameras));
    CaptureDriverConfig config;
    config.v4l2System = system_;
    config.testCamera = false;
    ConfigureCaptureDrivers(config);
  }
  std::shared_ptr<ScriptedV4l2System> system_;
};

TEST_F(V4l2DriverTest, StartsAtTheCamerasSizeAndTakesOnlySizesItHas) {
  UseCameras({ScriptedV4l2Camera{}});
  MakeWindow();
  ASSERT_TRUE(capDriverConnect(hwnd_, 0));
  EXPECT_EQ(Info().format.biWidth, 640);
  EXPECT_EQ(Info().format.biHeight, 480);
  EXPECT_EQ(Info().format.biBitCount, 24);

  BITMAPINFO qvga = vfwtest::Format(320, 240, 24);  // the camera would give 352 x 288 instead
  EXPECT_FALSE(capSetVideoFormat(hwnd_, &qvga, 44));
  BITMAPINFO cif = vfwtest::Format(352, 288, 16);
  EXPECT_TRUE(capSetVideoFormat(hwnd_, &cif, 44));
  EXPECT_EQ(Info().format.biWidth, 352);
  EXPECT_EQ(Info().format.biBitCount, 16);

  // The device is set to the size at stream start, in BGR24, at the asked rate.
  CAPTUREPARMS p = vfwtest::Parms(66666);
  capCaptureSetSetup(hwnd_, &p, sizeof(p));
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  capCaptureAbort(hwnd_);
  const ScriptedV4l2System::Record r = system_->RecordOf("/dev/video0");
  EXPECT_EQ(r.setWidth, 352u);
  EXPECT_EQ(r.setHeight, 288u);
  EXPECT_EQ(r.setPixelFormat, V4L2_PIX_FMT_BGR24);
  EXPECT_EQ(r.timePerFrameNumerator, 66666u);
  EXPECT_EQ(r.timePerFrameDenominator, 1000000u);
  EXPECT_GE(r.streamOffs, 1u);
}

TEST_F(V4l2DriverTest, ADeviceWithoutBgr24IsNotConnected) {
  ScriptedV4l2Camera raw;
  raw.convertsToBgr24 = false;
  UseCameras({raw});
  MakeWindow();
  EXPECT_FALSE(capDriverConnect(hwnd_, 0));
}

TEST_F(V4l2DriverTest, FramesAreFlippedToBottomUpAndPaddingDropped) {
  ScriptedV4l2Camera camera;
  camera.rowPadding = 8;
  UseCameras({camera});
  Connect(176, 144, 24, 5000);
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= 3; }));
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
  UseCameras({ScriptedV4l2Camera{}});
  Connect(176, 144, 16, 5000);
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= 1; }));
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

TEST_F(V4l2DriverTest, AVanishingDeviceStopsTheFramesWithoutHarm) {
  ScriptedV4l2Camera camera;
  camera.vanishAfterFrames = 5;
  UseCameras({camera});
  Connect(176, 144, 24, 2000);
  rec_.keepFrames = false;
  // The stream starts before the preview, so that it alone reads the device's five frames; the
  // preview comes on while it runs (its pictures are handed over for painting) and has to
  // start again by itself once the stream has ended.
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  capPreviewRate(hwnd_, 5);
  capPreview(hwnd_, TRUE);
  ASSERT_TRUE(WaitFor([&] { return !Info().streaming; }, 20000));
  EXPECT_EQ(rec_.count, 5);
  // Any message joins the ended stream first; the preview then tries a device that is gone.
  EXPECT_TRUE(capPreview(hwnd_, TRUE));
  EXPECT_FALSE(Info().streaming);
  EXPECT_EQ(system_->RecordOf("/dev/video0").framesRead, 5u);
  EXPECT_EQ(rec_.count, 5);
  EXPECT_TRUE(capCaptureAbort(hwnd_));
  EXPECT_FALSE(capCaptureSequenceNoFile(hwnd_));
  EXPECT_TRUE(capDriverDisconnect(hwnd_));
  EXPECT_FALSE(capDriverConnect(hwnd_, 0));
}

TEST_F(V4l2DriverTest, VanishingWhileStreamingAndAbortWhileWaitingForAFrame) {
  UseCameras({ScriptedV4l2Camera{}});
  Connect(176, 144, 24, 5000);
  rec_.keepFrames = false;
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= 2; }));
  system_->SetStalled("/dev/video0", true);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const int stalledAt = rec_.count;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(rec_.count, stalledAt);
  EXPECT_TRUE(Info().streaming);  // waiting for the camera
  const auto before = std::chrono::steady_clock::now();
  capCaptureAbort(hwnd_);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));

  system_->SetStalled("/dev/video0", false);
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  const int resumed = rec_.count;
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= resumed + 2; }));
  system_->Vanish("/dev/video0");
  ASSERT_TRUE(WaitFor([&] { return !Info().streaming; }));
  const int gone = rec_.count;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(rec_.count, gone);
}

}  // namespace
