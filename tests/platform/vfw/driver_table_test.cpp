#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/vfw/capture_driver.h"
#include "platform/vfw/capture_errno.h"
#include "platform/vfw/vfw.h"
#include "tests/support/devices/capture_drivers.h"
#include "tests/support/devices/scripted_v4l2.h"

namespace {

struct Description {
  bool ok;
  std::string name, version;
};

Description Describe(WORD index, int nameLength = 80, int versionLength = 80) {
  char name[80] = "untouched", version[80] = "untouched";
  const BOOL ok = capGetDriverDescriptionA(index, name, nameLength, version, versionLength);
  return {ok == TRUE, name, version};
}

ScriptedV4l2Camera Camera(const std::string& path, const std::string& card, bool canCapture = true,
                          const std::string& busInfo = "") {
  ScriptedV4l2Camera c;
  c.path = path;
  c.card = card;
  c.canCapture = canCapture;
  c.busInfo = busInfo;
  return c;
}

class DriverTableTest : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("QUELVORA_CAPTURE");
    ConfigureCaptureDriversFromEnvironment();
  }
};

TEST_F(DriverTableTest, CaptureDevicesComeFirstThenTheTestCamera) {
  CaptureDriverConfig config;
  config.v4l2System = std::make_shared<ScriptedV4l2System>(std::vector<ScriptedV4l2Camera>{
      Camera("/dev/video0", "Front Camera"), Camera("/dev/video1", "Front Camera metadata", false),
      Camera("/dev/video2", "Back Camera")});
  config.testCamera = true;
  ConfigureCaptureDrivers(config);

  EXPECT_EQ(CaptureDriverCount(), 3);
  const Description d0 = Describe(0), d1 = Describe(1), d2 = Describe(2);
  EXPECT_TRUE(d0.ok && d1.ok && d2.ok);
  EXPECT_EQ(d0.name, "Front Camera");
  EXPECT_EQ(d0.version, "Version: scripted 6.1.0");
  EXPECT_EQ(d1.name, "Back Camera");
  EXPECT_EQ(d2.name, "Quelvora Test Camera");
  EXPECT_EQ(d2.version, "Version: 1.0");

  const Description missing = Describe(3);
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.name, "untouched");
}

TEST_F(DriverTableTest, ChoosingDriversExplicitly) {
  CaptureDriverConfig config;
  config.v4l2System =
      std::make_shared<ScriptedV4l2System>(std::vector<ScriptedV4l2Camera>{Camera("/dev/video0", "Cam")});
  config.testCamera = false;
  ConfigureCaptureDrivers(config);
  EXPECT_EQ(Describe(0).name, "Cam");
  EXPECT_FALSE(Describe(1).ok);

  config.v4l2 = false;
  config.testCamera = true;
  ConfigureCaptureDrivers(config);
  EXPECT_EQ(Describe(0).name, "Quelvora Test Camera");

  SetCaptureDriversForTesting({});
  EXPECT_EQ(CaptureDriverCount(), 0);
  for (WORD i = 0; i < 10; ++i) EXPECT_FALSE(Describe(i).ok);
}

TEST_F(DriverTableTest, AtMostTenDrivers) {
  std::vector<ScriptedV4l2Camera> cameras;
  for (int i = 0; i < 12; ++i)
    cameras.push_back(Camera("/dev/video" + std::to_string(i), "Cam " + std::to_string(i)));
  CaptureDriverConfig config;
  config.v4l2System = std::make_shared<ScriptedV4l2System>(cameras);
  ConfigureCaptureDrivers(config);
  EXPECT_EQ(CaptureDriverCount(), 10);
  EXPECT_EQ(Describe(9).name, "Cam 9");
  EXPECT_FALSE(Describe(10).ok);
}

TEST_F(DriverTableTest, TextsAreCutToTheirBuffers) {
  SetCaptureDriversForTesting({MakeTestCameraDriver()});
  const Description d = Describe(0, 5, 1);
  EXPECT_TRUE(d.ok);
  EXPECT_EQ(d.name, "Quel");
  EXPECT_EQ(d.version, "");
  // Buffers may be left out.
  EXPECT_TRUE(capGetDriverDescriptionA(0, nullptr, 0, nullptr, 0));
}

TEST(DriverConfigTest, TheTestCameraComesOnlyWhenAskedFor) {
  for (const char* cameras : {static_cast<const char*>(nullptr), "", "v4l2"}) {
    const CaptureDriverConfig c = CaptureDriverConfigFromText(cameras);
    EXPECT_TRUE(c.v4l2);
    EXPECT_FALSE(c.testCamera);
  }
  for (const char* both : {"v4l2,test", "test,v4l2"}) {
    const CaptureDriverConfig c = CaptureDriverConfigFromText(both);
    EXPECT_TRUE(c.v4l2 && c.testCamera);
  }
  const CaptureDriverConfig test = CaptureDriverConfigFromText("test");
  EXPECT_TRUE(test.testCamera);
  EXPECT_FALSE(test.v4l2);
  for (const char* nothing : {"none", "webcam", "Test"}) {
    const CaptureDriverConfig c = CaptureDriverConfigFromText(nothing);
    EXPECT_FALSE(c.v4l2 || c.testCamera) << nothing;
  }
}

TEST_F(DriverTableTest, TheEnvironmentChoosesTheDriversAndTheCamerasComeFirst) {
  auto system =
      std::make_shared<ScriptedV4l2System>(std::vector<ScriptedV4l2Camera>{Camera("/dev/video0", "Cam")});
  unsetenv("QUELVORA_CAPTURE");
  ConfigureCaptureDriversFromEnvironment(system);
  EXPECT_EQ(CaptureDriverCount(), 1);
  EXPECT_EQ(Describe(0).name, "Cam");

  setenv("QUELVORA_CAPTURE", "test,v4l2", 1);
  ConfigureCaptureDriversFromEnvironment(system);
  EXPECT_EQ(Describe(0).name, "Cam");
  EXPECT_EQ(Describe(1).name, "Quelvora Test Camera");

  setenv("QUELVORA_CAPTURE", "none", 1);
  ConfigureCaptureDriversFromEnvironment(system);
  EXPECT_FALSE(Describe(0).ok);
}

TEST_F(DriverTableTest, AWalkFromIndexZeroSeesCamerasPluggedAndUnpluggedSince) {
  auto system = std::make_shared<ScriptedV4l2System>();
  CaptureDriverConfig config;
  config.v4l2System = system;
  ConfigureCaptureDrivers(config);
  EXPECT_FALSE(Describe(0).ok);

  system->Plug(Camera("/dev/video0", "Front Camera"));
  system->Plug(Camera("/dev/video2", "Back Camera"));
  EXPECT_EQ(Describe(0).name, "Front Camera");
  system->Unplug("/dev/video0");
  // The rest of a walk reads the list its start found, so that one walk sees one list.
  EXPECT_EQ(Describe(1).name, "Back Camera");
  EXPECT_EQ(Describe(0).name, "Back Camera");
  EXPECT_FALSE(Describe(1).ok);
}

TEST_F(DriverTableTest, ACameraWithSeveralCaptureNodesIsListedOnce) {
  CaptureDriverConfig config;
  config.v4l2System = std::make_shared<ScriptedV4l2System>(std::vector<ScriptedV4l2Camera>{
      Camera("/dev/video0", "Webcam", true, "usb-0000:00:14.0-1"),
      Camera("/dev/video1", "Webcam", false, "usb-0000:00:14.0-1"),  // its metadata node
      Camera("/dev/video2", "Webcam", true, "usb-0000:00:14.0-1"),   // a second stream of it
      Camera("/dev/video3", "Webcam", true, "usb-0000:00:14.0-2")});  // the same model, another port
  ConfigureCaptureDrivers(config);
  EXPECT_EQ(CaptureDriverCount(), 2);
}

TEST(CaptureErrnoTest, OnlyAGoneDeviceEndsAStream) {
  EXPECT_EQ(ClassifyCaptureErrno(EAGAIN), CaptureErrno::kRetry);
  EXPECT_EQ(ClassifyCaptureErrno(EINTR), CaptureErrno::kRetry);
  EXPECT_EQ(ClassifyCaptureErrno(EBUSY), CaptureErrno::kBusy);
  for (int gone : {ENODEV, ENXIO, ENOENT, ESHUTDOWN, EBADF})
    EXPECT_EQ(ClassifyCaptureErrno(gone), CaptureErrno::kGone) << gone;
  for (int skip : {EIO, EPIPE, EPROTO, ETIMEDOUT, EOVERFLOW, ENOMEM, EINVAL})
    EXPECT_EQ(ClassifyCaptureErrno(skip), CaptureErrno::kSkip) << skip;
}

TEST(DibConvertTest, FlipsRowsAndPadsThemTo4Bytes) {
  // 3 x 2 top-down source with 2 bytes of padding after each row.
  const BYTE src[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  0xEE, 0xEE,  //
                      10, 11, 12, 13, 14, 15, 16, 17, 18, 0xEE, 0xEE};
  ASSERT_EQ(DibStride(3, 24), 12u);
  BYTE dst[24];
  std::memset(dst, 0xAA, sizeof(dst));
  ConvertBgr24TopDownToDib(src, 11, 3, 2, dst, 24);
  const BYTE want[] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(dst, want, sizeof(want)));
}

TEST(DibConvertTest, SixteenBitsAre555LittleEndian) {
  // Top row: red, green, blue; bottom row: white, (8, 16, 24) in B, G, R order.
  const BYTE src[] = {0,   0,   255, 0, 255, 0,  255, 0, 0,  //
                      255, 255, 255, 8, 16,  24, 0,   0, 0};
  ASSERT_EQ(DibStride(3, 16), 8u);
  BYTE dst[16];
  ConvertBgr24TopDownToDib(src, 9, 3, 2, dst, 16);
  auto word = [&](int i) { return static_cast<unsigned>(dst[2 * i] | (dst[2 * i + 1] << 8)); };
  EXPECT_EQ(word(0), 0x7FFFu);                      // white, bottom row first
  EXPECT_EQ(word(1), (3u << 10) | (2u << 5) | 1u);  // 24 >> 3, 16 >> 3, 8 >> 3
  EXPECT_EQ(word(3), 0u);                           // padding
  EXPECT_EQ(word(4), 0x7C00u);                      // red
  EXPECT_EQ(word(5), 0x03E0u);                      // green
  EXPECT_EQ(word(6), 0x001Fu);                      // blue
}

TEST(DibConvertTest, ScalingStretchesToTheAskedSizeAndFlips) {
  // 2 x 2 top-down: red, green over blue, white; scaled to 4 x 4 each colour fills a quadrant.
  const BYTE src[] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
  BYTE dst[4 * 4 * 3];
  ScaleBgr24TopDownToDib(src, 6, 2, 2, dst, 4, 4, 24);
  auto pixel = [&](int x, int row) { return std::vector<BYTE>(dst + (row * 4 + x) * 3, dst + (row * 4 + x) * 3 + 3); };
  EXPECT_EQ(pixel(0, 3), (std::vector<BYTE>{0, 0, 255}));      // top left: red (last buffer row)
  EXPECT_EQ(pixel(3, 3), (std::vector<BYTE>{0, 255, 0}));      // top right: green
  EXPECT_EQ(pixel(0, 0), (std::vector<BYTE>{255, 0, 0}));      // bottom left: blue
  EXPECT_EQ(pixel(3, 0), (std::vector<BYTE>{255, 255, 255}));  // bottom right: white
}

TEST(DibConvertTest, DeliverableFormats) {
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = 352;
  h.biHeight = 288;
  h.biBitCount = 24;
  EXPECT_TRUE(IsDeliverableFormat(h));
  EXPECT_EQ(NormalizedFormat(h).biSizeImage, 352u * 288u * 3u);
  h.biBitCount = 16;
  EXPECT_TRUE(IsDeliverableFormat(h));
  h.biWidth = 175;  // rows padded: 350 -> 352 bytes
  EXPECT_EQ(NormalizedFormat(h).biSizeImage, 352u * 288u);
  h.biBitCount = 32;
  EXPECT_FALSE(IsDeliverableFormat(h));
  h.biBitCount = 24;
  h.biHeight = -288;  // top-down
  EXPECT_FALSE(IsDeliverableFormat(h));
  h.biHeight = 288;
  h.biCompression = mmioFOURCC('Y', 'U', 'Y', '2');
  EXPECT_FALSE(IsDeliverableFormat(h));
  h.biCompression = BI_RGB;
  h.biWidth = 100000;
  EXPECT_FALSE(IsDeliverableFormat(h));
}

}  // namespace
