#include <QImage>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "tests/platform/vfw/vfw_test_support.h"

namespace {

using vfwtest::CaptureWindowTest;
using vfwtest::Format;

TEST_F(CaptureWindowTest, WindowIsAChildCoveringItsParent) {
  MakeWindow();
  CWnd* window = CWnd::FromHandle(hwnd_);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->Widget()->parentWidget(), parent_.Widget());
  RECT r;
  GetClientRect(hwnd_, &r);
  EXPECT_EQ(r.right, 200);
  EXPECT_EQ(r.bottom, 160);
  EXPECT_EQ(capCreateCaptureWindowA(nullptr, WS_CHILD, 0, 0, 10, 10, reinterpret_cast<HWND>(0x4711), 0),
            nullptr);
}

TEST_F(CaptureWindowTest, ConnectingAndDisconnecting) {
  MakeWindow();
  EXPECT_FALSE(capDriverConnect(hwnd_, 1));   // no such driver
  EXPECT_FALSE(capDriverConnect(hwnd_, 10));  // beyond the platform's ten
  EXPECT_FALSE(capDriverDisconnect(hwnd_));
  EXPECT_EQ(Info().driverIndex, -1);

  ASSERT_TRUE(capDriverConnect(hwnd_, 0));
  EXPECT_EQ(Info().driverIndex, 0);
  ASSERT_TRUE(capDriverConnect(hwnd_, 0));  // again: reconnects
  EXPECT_TRUE(capDriverDisconnect(hwnd_));
  EXPECT_EQ(Info().driverIndex, -1);

  SetCaptureDriversForTesting({});
  EXPECT_FALSE(capDriverConnect(hwnd_, 0));
}

TEST_F(CaptureWindowTest, SequenceSetupStartsWithTheDriversValuesAndStoresWhatIsSet) {
  MakeWindow();
  CAPTUREPARMS got;
  std::memset(&got, 0xCC, sizeof(got));
  ASSERT_TRUE(capCaptureGetSetup(hwnd_, &got, sizeof(got)));
  const CAPTUREPARMS defaults = DefaultCaptureParms();
  EXPECT_EQ(0, std::memcmp(&got, &defaults, sizeof(got)));
  EXPECT_EQ(got.dwRequestMicroSecPerFrame, 66667u);
  EXPECT_EQ(got.wTimeLimit, 30u);
  EXPECT_EQ(got.AVStreamMaster, AVSTREAMMASTER_AUDIO);

  CAPTUREPARMS set = got;
  set.dwRequestMicroSecPerFrame = 100000;
  set.fYield = TRUE;
  set.wNumVideoRequested = 10;
  set.AVStreamMaster = AVSTREAMMASTER_NONE;
  ASSERT_TRUE(capCaptureSetSetup(hwnd_, &set, sizeof(set)));
  CAPTUREPARMS back{};
  ASSERT_TRUE(capCaptureGetSetup(hwnd_, &back, sizeof(back)));
  EXPECT_EQ(0, std::memcmp(&back, &set, sizeof(back)));

  // A shorter block reads and writes only its own bytes.
  DWORD first[2] = {0, 0xDEADBEEF};
  ASSERT_TRUE(capCaptureGetSetup(hwnd_, reinterpret_cast<CAPTUREPARMS*>(first), 4));
  EXPECT_EQ(first[0], 100000u);
  EXPECT_EQ(first[1], 0xDEADBEEFu);
  EXPECT_FALSE(capCaptureSetSetup(hwnd_, nullptr, sizeof(set)));
}

TEST_F(CaptureWindowTest, CapsNeedAConnectionAndTellTheOverlay) {
  MakeWindow();
  CAPDRIVERCAPS caps{};
  EXPECT_FALSE(capDriverGetCaps(hwnd_, &caps, sizeof(caps)));
  ASSERT_TRUE(capDriverConnect(hwnd_, 0));
  ASSERT_TRUE(capDriverGetCaps(hwnd_, &caps, sizeof(caps)));
  EXPECT_EQ(caps.wDeviceIndex, 0u);
  EXPECT_FALSE(caps.fHasOverlay);
  EXPECT_TRUE(caps.fCaptureInitialized);
  EXPECT_FALSE(capOverlay(hwnd_, TRUE));

  TestCameraOptions withOverlay;
  withOverlay.hasOverlay = true;
  SetCaptureDriversForTesting({MakeTestCameraDriver(), MakeTestCameraDriver(withOverlay)});
  ASSERT_TRUE(capDriverConnect(hwnd_, 1));
  ASSERT_TRUE(capDriverGetCaps(hwnd_, &caps, 44));
  EXPECT_EQ(caps.wDeviceIndex, 1u);
  EXPECT_TRUE(caps.fHasOverlay);
  EXPECT_TRUE(capOverlay(hwnd_, TRUE));
  EXPECT_TRUE(Info().overlay);
}

TEST_F(CaptureWindowTest, FormatsAreTakenOrRefusedAsTheDriverCan) {
  TestCameraOptions options;
  options.acceptedSizes = {{176, 144}, {352, 288}};
  Use(options);
  MakeWindow();
  BITMAPINFO cif = Format(352, 288, 24);
  EXPECT_FALSE(capSetVideoFormat(hwnd_, &cif, sizeof(cif)));  // not connected
  ASSERT_TRUE(capDriverConnect(hwnd_, 0));

  BITMAPINFOHEADER current{};
  EXPECT_EQ(capGetVideoFormat(hwnd_, &current, sizeof(current)), 40u);
  EXPECT_EQ(current.biWidth, 176);  // the first size it has

  EXPECT_TRUE(capSetVideoFormat(hwnd_, &cif, 44));
  BITMAPINFO qcif16 = Format(176, 144, 16);
  EXPECT_TRUE(capSetVideoFormat(hwnd_, &qcif16, 44));
  EXPECT_EQ(capGetVideoFormat(hwnd_, &current, sizeof(current)), 40u);
  EXPECT_EQ(current.biWidth, 176);
  EXPECT_EQ(current.biHeight, 144);
  EXPECT_EQ(current.biBitCount, 16);
  EXPECT_EQ(current.biSizeImage, 176u * 144u * 2u);

  BITMAPINFO big = Format(704, 576, 24);
  EXPECT_FALSE(capSetVideoFormat(hwnd_, &big, 44));
  BITMAPINFO deep = Format(352, 288, 32);
  EXPECT_FALSE(capSetVideoFormat(hwnd_, &deep, 44));
  BITMAPINFO topDown = Format(352, -288, 24);
  EXPECT_FALSE(capSetVideoFormat(hwnd_, &topDown, 44));
  EXPECT_FALSE(capSetVideoFormat(hwnd_, &cif, 39));  // too short a block
  // Refusals leave the format as it was.
  EXPECT_EQ(Info().format.biBitCount, 16);
  EXPECT_EQ(Info().format.biWidth, 176);
}

TEST_F(CaptureWindowTest, MessagesToADestroyedWindowFail) {
  MakeWindow();
  ASSERT_TRUE(capDriverConnect(hwnd_, 0));
  ASSERT_TRUE(DestroyWindow(hwnd_));
  EXPECT_FALSE(IsWindow(hwnd_));
  EXPECT_FALSE(capDriverConnect(hwnd_, 0));
  EXPECT_EQ(capGetUserData(hwnd_), 0);
  CaptureWindowInfo info;
  EXPECT_FALSE(GetCaptureWindowInfo(hwnd_, &info));
  vfwtest::WaitFor([] { return false; }, 20);  // lets the window be reaped
}

TEST_F(CaptureWindowTest, PreviewShowsThePictureStretchedWhenScaling) {
  MakeWindow();
  ASSERT_TRUE(capDriverConnect(hwnd_, 0));
  BITMAPINFO qcif = Format(100, 80, 24);
  ASSERT_TRUE(capSetVideoFormat(hwnd_, &qcif, 44));
  EXPECT_TRUE(capPreviewRate(hwnd_, 10));
  EXPECT_TRUE(capPreviewScale(hwnd_, TRUE));
  EXPECT_TRUE(capPreview(hwnd_, TRUE));
  ASSERT_TRUE(vfwtest::WaitFor([&] { return Info().previewPictures >= 2; }));
  const QImage& surface = CWnd::FromHandle(hwnd_)->Surface();
  ASSERT_EQ(surface.size(), QSize(200, 160));
  // The marker row spans the whole width, twice as high as the camera's row.
  EXPECT_EQ(QColor(surface.pixel(0, 0)), QColor(255, 0, 0));
  EXPECT_EQ(QColor(surface.pixel(199, 1)), QColor(0, 0, 255));
  EXPECT_EQ(QColor(surface.pixel(3, 3)), QColor(0, 0, 0));  // the frame counter's background
  EXPECT_EQ(Info().framesDelivered, 0u);                    // preview alone calls no callback

  EXPECT_TRUE(capPreviewScale(hwnd_, FALSE));
  const std::uint64_t seen = Info().previewPictures;
  ASSERT_TRUE(vfwtest::WaitFor([&] { return Info().previewPictures > seen; }));
  const QImage& plain = CWnd::FromHandle(hwnd_)->Surface();
  EXPECT_EQ(QColor(plain.pixel(99, 0)), QColor(0, 0, 255));
  EXPECT_EQ(QColor(plain.pixel(100, 0)), QColor(0, 0, 0));
  EXPECT_EQ(QColor(plain.pixel(150, 120)), QColor(0, 0, 0));

  EXPECT_TRUE(capPreview(hwnd_, FALSE));
  const std::uint64_t stopped = Info().previewPictures;
  vfwtest::WaitFor([] { return false; }, 60);
  EXPECT_EQ(Info().previewPictures, stopped);
}

// The camera's picture of some frame, as a preview of the given depth shows it: 16-bit frames keep
// five bits of each channel, which the preview widens by repeating their top bits.
bool ShowsAFrameOfTheCamera(const QImage& surface, int width, int height, int bitCount) {
  std::vector<BYTE> bgr(static_cast<std::size_t>(width) * height * 3);
  const auto shown = [&](BYTE v) { return bitCount == 24 ? v : static_cast<BYTE>((v & 0xF8) | (v >> 5)); };
  for (std::uint32_t frame = 0; frame < 400; ++frame) {
    DrawTestCameraPicture(bgr.data(), width, height, frame);
    bool same = true;
    for (int y = 0; y < height && same; ++y)
      for (int x = 0; x < width && same; ++x) {
        const BYTE* p = &bgr[(static_cast<std::size_t>(y) * width + x) * 3];
        same = surface.pixel(x, y) == qRgb(shown(p[2]), shown(p[1]), shown(p[0]));
      }
    if (same) return true;
  }
  return false;
}

class UnscaledPreviewTest : public CaptureWindowTest {
 protected:
  void ShowsTheCamerasPicture(int bitCount) {
    Connect(100, 80, bitCount, 20000);
    capPreviewRate(hwnd_, 10);
    capPreview(hwnd_, TRUE);
    ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));  // the frames the stream takes are shown too
    ASSERT_TRUE(vfwtest::WaitFor([&] { return Info().previewPictures >= 3 && rec_.count >= 3; }));
    capCaptureAbort(hwnd_);
    EXPECT_TRUE(ShowsAFrameOfTheCamera(CWnd::FromHandle(hwnd_)->Surface(), 100, 80, bitCount));
  }
};

TEST_F(UnscaledPreviewTest, At24Bits) { ShowsTheCamerasPicture(24); }
TEST_F(UnscaledPreviewTest, At16Bits) { ShowsTheCamerasPicture(16); }

TEST_F(CaptureWindowTest, PreviewGoesOnWhileStreaming) {
  Connect(100, 80, 16, 20000);
  capPreviewRate(hwnd_, 10);
  capPreview(hwnd_, TRUE);
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(vfwtest::WaitFor([&] { return Info().previewPictures >= 3 && rec_.count >= 3; }));
  capCaptureAbort(hwnd_);
  // The preview grabber takes over again after the stream.
  const std::uint64_t seen = Info().previewPictures;
  ASSERT_TRUE(vfwtest::WaitFor([&] { return Info().previewPictures > seen + 2; }));
  EXPECT_FALSE(Info().streaming);
}

}  // namespace
