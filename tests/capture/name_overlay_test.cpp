// The name overlay on pictures in memory: where the yellow goes, in which faces and depths.
#include "capture/name_overlay.h"

#include <gtest/gtest.h>

#include <vector>

#include "capture/capture_setup.h"
#include "capture/frame_copy.h"
#include "control/error_table.h"

namespace {

struct Ink {
  int pixels = 0;
  int minRow = 1 << 30, maxRow = -1;  // rows of the bottom-up buffer: 0 is the picture's bottom
  double meanX = 0;
};

// Yellow pixels of a black 24-bit or 16-bit bottom-up picture with rows padded to 4 bytes.
Ink FindYellow(const std::vector<BYTE>& bits, int width, int height, int bitCount) {
  Ink ink;
  long sumX = 0;
  const size_t stride = CaptureFrameBytes(width, 1, bitCount == 16);
  for (int row = 0; row < height; ++row)
    for (int x = 0; x < width; ++x) {
      const BYTE* p = &bits[static_cast<size_t>(row) * stride + static_cast<size_t>(x) * (bitCount / 8)];
      bool yellow;
      if (bitCount == 24) {
        yellow = p[2] > 150 && p[1] > 150 && p[0] < 60;
      } else {
        const unsigned v = p[0] | p[1] << 8;
        yellow = ((v >> 10) & 31) > 18 && ((v >> 5) & 31) > 18 && (v & 31) < 8;
      }
      if (!yellow) continue;
      ++ink.pixels;
      sumX += x;
      ink.minRow = std::min(ink.minRow, row);
      ink.maxRow = std::max(ink.maxRow, row);
    }
  if (ink.pixels) ink.meanX = static_cast<double>(sumX) / ink.pixels;
  return ink;
}

std::vector<BYTE> Black(int width, int height, int bitCount) {
  return std::vector<BYTE>(CaptureFrameBytes(width, height, bitCount == 16), 0);
}

TEST(NameOverlayTest, CifDrawsIntoTheBottomNineteenRowsCentred) {
  auto bits = Black(352, 288, 24);
  DrawNameOverlay(bits.data(), 352, 288, 24, LANGUAGE_ENGLISH, "WWWWWW");
  const Ink ink = FindYellow(bits, 352, 288, 24);
  EXPECT_GT(ink.pixels, 100);
  EXPECT_GE(ink.minRow, 0);
  EXPECT_LT(ink.maxRow, 19);
  EXPECT_NEAR(ink.meanX, 176, 4);
}

TEST(NameOverlayTest, QcifDrawsIntoTheBottomEighteenRowsCentredAtEightyEight) {
  auto bits = Black(176, 144, 24);
  DrawNameOverlay(bits.data(), 176, 144, 24, LANGUAGE_ENGLISH, "HHHH");
  const Ink ink = FindYellow(bits, 176, 144, 24);
  EXPECT_GT(ink.pixels, 50);
  EXPECT_LT(ink.maxRow, 18);
  EXPECT_NEAR(ink.meanX, 88, 4);
  // The text stands on the picture's bottom edge: its cell ends at row 0, the ink just above.
  EXPECT_LE(ink.minRow, 6);
}

TEST(NameOverlayTest, ChineseNamesAndSixteenBitPicturesAreDrawnToo) {
  const char kName[] = "\xD5\xC5\xC8\xFD";  // 张三 in GB2312
  auto bits = Black(352, 288, 24);
  DrawNameOverlay(bits.data(), 352, 288, 24, LANGUAGE_CHINESE, kName);
  EXPECT_GT(FindYellow(bits, 352, 288, 24).pixels, 50);

  auto bits16 = Black(352, 288, 16);
  DrawNameOverlay(bits16.data(), 352, 288, 16, LANGUAGE_ENGLISH, "Alice");
  const Ink ink = FindYellow(bits16, 352, 288, 16);
  EXPECT_GT(ink.pixels, 50);
  EXPECT_LT(ink.maxRow, 19);
}

TEST(NameOverlayTest, OtherLanguagesDrawNothing) {
  auto bits = Black(352, 288, 24);
  DrawNameOverlay(bits.data(), 352, 288, 24, 0, "Alice");
  EXPECT_EQ(FindYellow(bits, 352, 288, 24).pixels, 0);
}

TEST(NameOverlayTest, DrawOverlayTextRestoresTheContext) {
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  HDC dc = CreateCompatibleDC(display);
  SetBkMode(dc, OPAQUE);
  SetTextAlign(dc, TA_RIGHT);
  SetTextColor(dc, RGB(1, 2, 3));
  DrawOverlayText(dc, 10, 10, 2, "Courier New", 20, RGB(255, 255, 0), "x");
  EXPECT_EQ(SetBkMode(dc, OPAQUE), OPAQUE);
  EXPECT_EQ(SetTextAlign(dc, TA_LEFT), TA_RIGHT);
  EXPECT_EQ(SetTextColor(dc, 0), RGB(1, 2, 3));
  DeleteDC(dc);
  DeleteDC(display);
}

TEST(FrameCopyTest, NeverCopiesPastTheBuffer) {
  std::vector<BYTE> buffer(12, 0xEE);
  const std::vector<BYTE> frame(20, 0x11);
  EXPECT_EQ(CopyFrameBytes(buffer.data(), 8, frame.data(), frame.size()), 8u);
  EXPECT_EQ(buffer[7], 0x11);
  EXPECT_EQ(buffer[8], 0xEE);
  EXPECT_EQ(CopyFrameBytes(buffer.data(), 8, frame.data(), 3), 3u);
  EXPECT_EQ(CopyFrameBytes(buffer.data(), 8, nullptr, 3), 0u);
}

TEST(FrameCopyTest, PaddedRowsAreMovedTogether) {
  // Three rows of 6 bytes padded to 8.
  std::vector<BYTE> bits = {1, 1, 1, 1, 1, 1, 0, 0, 2, 2, 2, 2, 2, 2, 0, 0, 3, 3, 3, 3, 3, 3, 0, 0};
  CompactDibRows(bits.data(), 6, 8, 3);
  const std::vector<BYTE> expected = {1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3};
  EXPECT_EQ(std::vector<BYTE>(bits.begin(), bits.begin() + 18), expected);
  // Unpadded rows stay as they are.
  std::vector<BYTE> tight = {1, 2, 3, 4};
  CompactDibRows(tight.data(), 2, 2, 2);
  EXPECT_EQ(tight, (std::vector<BYTE>{1, 2, 3, 4}));
}

}  // namespace
