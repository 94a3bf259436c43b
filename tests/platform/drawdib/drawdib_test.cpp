#include "platform/drawdib/drawdib.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "platform/ui/wnd.h"
#include "tests/platform/gdi/canvas.h"

namespace {

constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255};

// A QCIF picture, bottom row first, whose quadrants as seen on screen are
// blue | white over red | green.
struct Picture {
  static constexpr int kWidth = 176, kHeight = 144;
  BITMAPINFOHEADER header = Header24(kWidth, kHeight).bmiHeader;
  std::vector<std::uint8_t> bits = std::vector<std::uint8_t>(kWidth * kHeight * 3);
  Picture() {
    header.biSizeImage = kWidth * kHeight * 3;
    for (int row = 0; row < kHeight; ++row)  // row 0 is the bottom of the picture
      for (int x = 0; x < kWidth; ++x) {
        const bool top = row >= kHeight / 2, right = x >= kWidth / 2;
        const Rgb c = top ? (right ? kWhite : kBlue) : (right ? kGreen : kRed);
        std::uint8_t* p = &bits[(row * kWidth + x) * 3];
        p[0] = static_cast<std::uint8_t>(c.b);
        p[1] = static_cast<std::uint8_t>(c.g);
        p[2] = static_cast<std::uint8_t>(c.r);
      }
  }
};

TEST(DrawDib, StretchesABottomUpPictureOverTheTarget) {
  Picture picture;
  Canvas canvas(352, 288);
  HDRAWDIB hdd = DrawDibOpen();
  ASSERT_NE(hdd, nullptr);
  EXPECT_TRUE(
      DrawDibDraw(hdd, canvas.dc(), 0, 0, 352, 288, &picture.header, picture.bits.data(), 0, 0, 176, 144, 0));
  canvas.Read();
  EXPECT_EQ(canvas.At(0, 0), kBlue);
  EXPECT_EQ(canvas.At(351, 0), kWhite);
  EXPECT_EQ(canvas.At(0, 287), kRed);
  EXPECT_EQ(canvas.At(351, 287), kGreen);
  // Twice the size: each quadrant is 176 x 144 on the target, with at most a pixel or two of blend
  // where quadrants meet.
  EXPECT_EQ(canvas.At(174, 142), kBlue);
  EXPECT_EQ(canvas.At(177, 142), kWhite);
  EXPECT_EQ(canvas.At(174, 145), kRed);
  EXPECT_EQ(canvas.At(177, 145), kGreen);

  // The same picture top-down (negative height) shows upside down relative to it.
  BITMAPINFOHEADER topDown = picture.header;
  topDown.biHeight = -topDown.biHeight;
  EXPECT_TRUE(
      DrawDibDraw(hdd, canvas.dc(), 0, 0, 352, 288, &topDown, picture.bits.data(), 0, 0, 176, 144, 0));
  canvas.Read();
  EXPECT_EQ(canvas.At(0, 0), kRed);
  EXPECT_EQ(canvas.At(351, 287), kWhite);
  EXPECT_TRUE(DrawDibClose(hdd));
}

TEST(DrawDib, StretchedPictureIsWhatTheWindowShows) {
  // The receive path's draw: a window's context, the whole client area, the whole picture.
  Picture picture;
  CWnd window;
  ASSERT_TRUE(window.CreateEx(0, 0, 0, 352, 288, nullptr));
  window.Widget()->grab();  // the first paint (WM_PAINT) comes before anything is drawn
  HDC dc = window.GetDC();
  HDRAWDIB hdd = DrawDibOpen();
  RECT client;
  window.GetClientRect(&client);
  EXPECT_TRUE(DrawDibDraw(hdd, dc, client.left, client.top, client.right, client.bottom, &picture.header,
                          picture.bits.data(), 0, 0, 176, 144, 0));
  const QImage shot = window.Widget()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(0, 0), QColor(0, 0, 255));
  EXPECT_EQ(shot.pixelColor(351, 0), QColor(255, 255, 255));
  EXPECT_EQ(shot.pixelColor(0, 287), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(351, 287), QColor(0, 255, 0));
  EXPECT_TRUE(DrawDibClose(hdd));
  window.ReleaseDC(dc);
}

TEST(DrawDib, DestinationAndSourceRectangles) {
  Picture picture;
  Canvas canvas(352, 288);
  HDRAWDIB hdd = DrawDibOpen();
  // Only the destination rectangle changes.
  EXPECT_TRUE(DrawDibDraw(hdd, canvas.dc(), 10, 20, 100, 50, &picture.header, picture.bits.data(), 0, 0, 176,
                          144, 0));
  canvas.Read();
  const Box drawn = canvas.BoxOf([](const Rgb& c) { return c != Rgb{0, 0, 0}; });
  EXPECT_EQ(drawn.left, 10);
  EXPECT_EQ(drawn.top, 20);
  EXPECT_EQ(drawn.right, 109);
  EXPECT_EQ(drawn.bottom, 69);
  EXPECT_EQ(canvas.At(10, 20), kBlue);
  EXPECT_EQ(canvas.At(109, 69), kGreen);

  // A source rectangle counts from the picture's bottom-left corner: (0, 0, 88, 72) is the red
  // quadrant, (88, 72, 88, 72) the white one.
  EXPECT_TRUE(
      DrawDibDraw(hdd, canvas.dc(), 0, 0, 352, 288, &picture.header, picture.bits.data(), 0, 0, 88, 72, 0));
  canvas.Read();
  EXPECT_TRUE(canvas.BoxOf([](const Rgb& c) { return c != kRed; }).empty());
  EXPECT_TRUE(
      DrawDibDraw(hdd, canvas.dc(), 0, 0, 352, 288, &picture.header, picture.bits.data(), 88, 72, 88, 72, 0));
  canvas.Read();
  EXPECT_TRUE(canvas.BoxOf([](const Rgb& c) { return c != kWhite; }).empty());
  EXPECT_TRUE(DrawDibClose(hdd));
}

// Unstretched, a picture's rows go straight into the target: every pixel of the part inside the
// target is the source's, for a bottom-up and a top-down picture, a destination hanging over
// every edge and a source rectangle off the picture's corner; nothing else changes.
TEST(DrawDib, UnstretchedDrawCopiesEveryPixelItCovers) {
  constexpr int kW = 37, kH = 23;  // odd widths: rows padded to 4 bytes
  const std::size_t stride = (kW * 3 + 3) / 4 * 4;
  std::vector<std::uint8_t> bits(stride * kH);
  for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<std::uint8_t>(i * 7 + (i >> 5));
  const struct { int xDst, yDst; } places[] = {{3, 4}, {-5, -6}, {20, 10}, {-30, 15}};
  for (bool bottomUp : {true, false}) {
    BITMAPINFOHEADER header = Header24(kW, bottomUp ? kH : -kH).bmiHeader;
    for (const auto& at : places) {
      SCOPED_TRACE(testing::Message() << bottomUp << " " << at.xDst << "," << at.yDst);
      Canvas canvas(32, 24);
      HDRAWDIB hdd = DrawDibOpen();
      const int xSrc = 2, ySrc = 3, w = 30, h = 17;
      ASSERT_TRUE(
          DrawDibDraw(hdd, canvas.dc(), at.xDst, at.yDst, w, h, &header, bits.data(), xSrc, ySrc, w, h, 0));
      canvas.Read();
      for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x) {
          const int sx = x - at.xDst, sy = y - at.yDst;  // in the source rectangle, top row first
          Rgb want{0, 0, 0};
          if (sx >= 0 && sx < w && sy >= 0 && sy < h) {
            const int scan = bottomUp ? ySrc + h - 1 - sy : ySrc + sy;
            const std::uint8_t* p = &bits[scan * stride + (xSrc + sx) * 3];
            want = Rgb{p[2], p[1], p[0]};
          }
          ASSERT_EQ(canvas.At(x, y), want) << x << "," << y;
        }
      DrawDibClose(hdd);
    }
  }
}

TEST(DrawDib, RefusesWhatItCannotDraw) {
  Picture picture;
  Canvas canvas(32, 32);
  HDRAWDIB hdd = DrawDibOpen();
  const void* bits = picture.bits.data();
  // Source outside the picture, empty rectangles, other depths, no bits, no context.
  EXPECT_FALSE(DrawDibDraw(hdd, canvas.dc(), 0, 0, 32, 32, &picture.header, bits, 0, 0, 177, 144, 0));
  EXPECT_FALSE(DrawDibDraw(hdd, canvas.dc(), 0, 0, 32, 32, &picture.header, bits, -1, 0, 10, 10, 0));
  EXPECT_FALSE(DrawDibDraw(hdd, canvas.dc(), 0, 0, 32, 32, &picture.header, bits, 100, 100, 77, 45, 0));
  EXPECT_FALSE(DrawDibDraw(hdd, canvas.dc(), 0, 0, 0, 32, &picture.header, bits, 0, 0, 176, 144, 0));
  BITMAPINFOHEADER sixteen = picture.header;
  sixteen.biBitCount = 16;
  EXPECT_FALSE(DrawDibDraw(hdd, canvas.dc(), 0, 0, 32, 32, &sixteen, bits, 0, 0, 176, 144, 0));
  EXPECT_FALSE(DrawDibDraw(hdd, canvas.dc(), 0, 0, 32, 32, &picture.header, nullptr, 0, 0, 176, 144, 0));
  EXPECT_FALSE(DrawDibDraw(hdd, nullptr, 0, 0, 32, 32, &picture.header, bits, 0, 0, 176, 144, 0));
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  EXPECT_FALSE(DrawDibDraw(hdd, display, 0, 0, 32, 32, &picture.header, bits, 0, 0, 176, 144, 0));
  DeleteDC(display);
  canvas.Read();
  EXPECT_TRUE(canvas.BoxOf([](const Rgb& c) { return c != Rgb{0, 0, 0}; }).empty());

  // A closed handle draws nothing.
  EXPECT_TRUE(DrawDibClose(hdd));
  EXPECT_FALSE(DrawDibDraw(hdd, canvas.dc(), 0, 0, 32, 32, &picture.header, bits, 0, 0, 176, 144, 0));
  EXPECT_FALSE(DrawDibClose(hdd));
  EXPECT_FALSE(DrawDibClose(nullptr));
}

}  // namespace
