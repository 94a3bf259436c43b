#include "platform/gdi/dib.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "platform/gdi/gdi.h"
#include "tests/platform/gdi/canvas.h"

namespace {

BITMAPINFO Header(int width, int height, WORD bits) {
  BITMAPINFO info = Header24(width, height);
  info.bmiHeader.biBitCount = bits;
  return info;
}

std::vector<std::uint8_t> Noise(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  return bytes;
}

// The 16-bit pixels of a 5-5-5 DIB use 15 bits; the top bit reads back as 0.
void ClearTopBits(std::vector<std::uint8_t>& bytes, int width, int height) {
  const size_t stride = DibStride(width, 16);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) bytes[y * stride + 2 * x + 1] &= 0x7F;
}

// Padding at the end of each row reads back as 0.
void ClearPadding(std::vector<std::uint8_t>& bytes, int width, int height, WORD bits) {
  const size_t stride = DibStride(width, bits), used = static_cast<size_t>(width) * bits / 8;
  for (int y = 0; y < height; ++y)
    for (size_t i = used; i < stride; ++i) bytes[y * stride + i] = 0;
}

// Every width from 1 up: the shuffled four-pixel steps, and the last pixels of a row, whose bytes
// end where the row's memory may end, done one at a time; nothing written past the row.
TEST(Dib, BgrRowTo32BitsAtEveryWidth) {
  for (int width = 1; width <= 40; ++width) {
    const std::vector<std::uint8_t> in = Noise(static_cast<size_t>(width) * 3, static_cast<unsigned>(width));
    std::vector<std::uint32_t> out(static_cast<size_t>(width) + 1, 0x12345678u);
    Bgr24RowToRgb32(in.data(), out.data(), width);
    for (int x = 0; x < width; ++x)
      ASSERT_EQ(out[x], 0xFF000000u | (in[3 * x + 2] << 16) | (in[3 * x + 1] << 8) | in[3 * x])
          << "width " << width << " x " << x;
    ASSERT_EQ(out[width], 0x12345678u) << "width " << width;
  }
}

TEST(Dib, RoundTripKeepsEveryByte) {
  struct Case {
    int width, height;
    WORD bits;
  };
  // Widths with and without row padding; bottom-up and top-down.
  for (Case c : {Case{352, 19, 24}, Case{176, -18, 24}, Case{5, 7, 24}, Case{352, 19, 16}, Case{7, -3, 16}}) {
    BITMAPINFO info = Header(c.width, c.height, c.bits);
    const int rows = std::abs(c.height);
    std::vector<std::uint8_t> original = Noise(DibStride(c.width, c.bits) * rows, c.width);
    if (c.bits == 16) ClearTopBits(original, c.width, rows);
    ClearPadding(original, c.width, rows, c.bits);

    HBITMAP bitmap =
        CreateDIBitmap(nullptr, &info.bmiHeader, CBM_INIT, original.data(), &info, DIB_RGB_COLORS);
    ASSERT_NE(bitmap, nullptr);
    std::vector<std::uint8_t> back(original.size(), 0xCD);
    EXPECT_EQ(GetDIBits(nullptr, bitmap, 0, rows, back.data(), &info, DIB_RGB_COLORS), rows);
    EXPECT_EQ(back, original) << c.width << "x" << c.height << "x" << c.bits;
    EXPECT_TRUE(DeleteObject(bitmap));
  }
}

TEST(Dib, BottomUpRowsDepictTheBottomOfTheBitmap) {
  // A bottom-up strip: its first row in memory is the bitmap's bottom row. Drawing into the
  // bitmap's top row changes the last row of the buffer only.
  const int width = 16, height = 4;
  BITMAPINFO info = Header(width, height, 24);
  std::vector<std::uint8_t> rows(DibStride(width, 24) * height, 0x10);
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBitmap(dc, &info.bmiHeader, CBM_INIT, rows.data(), &info, DIB_RGB_COLORS);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT top{0, 0, width, 1};
  EXPECT_TRUE(FillRect(dc, &top, RGB(1, 2, 3)));
  SelectObject(dc, old);
  std::vector<std::uint8_t> back(rows.size());
  EXPECT_EQ(GetDIBits(dc, bitmap, 0, height, back.data(), &info, DIB_RGB_COLORS), height);
  const size_t stride = DibStride(width, 24);
  for (int y = 0; y < height - 1; ++y)
    EXPECT_EQ(std::vector<std::uint8_t>(back.begin() + y * stride, back.begin() + (y + 1) * stride),
              std::vector<std::uint8_t>(stride, 0x10));
  EXPECT_EQ(back[(height - 1) * stride + 0], 3);  // blue, green, red
  EXPECT_EQ(back[(height - 1) * stride + 1], 2);
  EXPECT_EQ(back[(height - 1) * stride + 2], 1);

  // Scan lines from the middle: line 2 of a bottom-up DIB is the bitmap's second row from the top.
  std::vector<std::uint8_t> two(stride * 2, 0xEE);
  EXPECT_EQ(GetDIBits(dc, bitmap, 2, 10, two.data(), &info, DIB_RGB_COLORS), 2);  // clipped to the bitmap
  EXPECT_EQ(two[0], 0x10);
  EXPECT_EQ(two[stride], 3);
  EXPECT_EQ(GetDIBits(dc, bitmap, 4, 1, two.data(), &info, DIB_RGB_COLORS), 0);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_TRUE(DeleteDC(dc));
}

TEST(Dib, OverlayStripChangesOnlyTheTextCell) {
  // The name overlay's sequence over the bottom 19 rows of a CIF frame.
  const int width = 352, strip = 19;
  std::vector<std::uint8_t> frame = Noise(static_cast<size_t>(width) * 288 * 3, 7);
  const std::vector<std::uint8_t> original = frame;
  BITMAPINFO info = Header(width, strip, 24);

  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  HDC memory = CreateCompatibleDC(display);
  HBITMAP bitmap = CreateDIBitmap(display, &info.bmiHeader, CBM_INIT, frame.data(), &info, DIB_RGB_COLORS);
  HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
  SetBkMode(memory, TRANSPARENT);
  SetTextAlign(memory, TA_CENTER | TA_BOTTOM);
  SetTextColor(memory, RGB(255, 255, 0));
  HFONT font = CreateFontA(20, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Courier New");
  HGDIOBJ oldFont = SelectObject(memory, font);
  EXPECT_TRUE(TextOutA(memory, width / 2, strip, "Alice", 5));
  SelectObject(memory, oldFont);
  DeleteObject(font);
  EXPECT_EQ(SelectObject(memory, oldBitmap), bitmap);
  EXPECT_EQ(GetDIBits(memory, bitmap, 0, strip, frame.data(), &info, DIB_RGB_COLORS), strip);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_TRUE(DeleteDC(display));
  EXPECT_TRUE(DeleteDC(memory));

  // Changed pixels are yellow-ish, near the centre, inside the strip (the first 19 rows in memory).
  int changed = 0, yellow = 0;
  for (int y = 0; y < 288; ++y)
    for (int x = 0; x < width; ++x) {
      const size_t i = (static_cast<size_t>(y) * width + x) * 3;
      if (frame[i] == original[i] && frame[i + 1] == original[i + 1] && frame[i + 2] == original[i + 2])
        continue;
      ++changed;
      ASSERT_LT(y, strip);
      ASSERT_NEAR(x, width / 2, 40);
      yellow += frame[i + 2] > 200 && frame[i + 1] > 200 && frame[i] < 60;
    }
  EXPECT_GT(yellow, 50);
  EXPECT_GE(yellow, changed / 3);
}

TEST(Dib, RefusesWhatItCannotRead) {
  BITMAPINFO info = Header(8, 8, 24);
  std::vector<std::uint8_t> bits(DibStride(8, 24) * 8);
  EXPECT_EQ(CreateDIBitmap(nullptr, &info.bmiHeader, CBM_INIT, nullptr, &info, DIB_RGB_COLORS), nullptr);
  BITMAPINFO eight = Header(8, 8, 8);
  EXPECT_EQ(CreateDIBitmap(nullptr, &eight.bmiHeader, CBM_INIT, bits.data(), &eight, DIB_RGB_COLORS),
            nullptr);
  BITMAPINFO narrow = Header(4, 8, 24);
  EXPECT_EQ(CreateDIBitmap(nullptr, &info.bmiHeader, CBM_INIT, bits.data(), &narrow, DIB_RGB_COLORS),
            nullptr);
  BITMAPINFO huge = Header(1 << 20, 1 << 20, 24);
  EXPECT_EQ(CreateDIBitmap(nullptr, &huge.bmiHeader, 0, nullptr, nullptr, DIB_RGB_COLORS), nullptr);

  HBITMAP bitmap = CreateDIBitmap(nullptr, &info.bmiHeader, CBM_INIT, bits.data(), &info, DIB_RGB_COLORS);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(GetDIBits(nullptr, bitmap, 0, 8, bits.data(), &narrow, DIB_RGB_COLORS), 0);  // other width
  EXPECT_EQ(GetDIBits(nullptr, bitmap, 0, 8, nullptr, &info, DIB_RGB_COLORS), 0);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_EQ(GetDIBits(nullptr, bitmap, 0, 8, bits.data(), &info, DIB_RGB_COLORS), 0);  // deleted
}

TEST(Contexts, SelectionRules) {
  HDC a = CreateCompatibleDC(nullptr);
  HDC b = CreateCompatibleDC(a);
  BITMAPINFO info = Header(4, 4, 24);
  HBITMAP bitmap = CreateDIBitmap(a, &info.bmiHeader, 0, nullptr, nullptr, DIB_RGB_COLORS);
  HGDIOBJ initialA = SelectObject(a, bitmap);
  ASSERT_NE(initialA, nullptr);
  EXPECT_EQ(SelectObject(b, bitmap), nullptr);    // a bitmap is in one context at a time
  EXPECT_EQ(SelectObject(b, initialA), nullptr);  // another context's own bitmap
  EXPECT_FALSE(DeleteObject(bitmap));             // selected
  EXPECT_FALSE(DeleteObject(initialA));           // a context's own
  EXPECT_EQ(SelectObject(a, initialA), bitmap);
  EXPECT_EQ(SelectObject(b, bitmap) != nullptr, true);
  EXPECT_TRUE(DeleteDC(b));  // deselects what it held
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_FALSE(DeleteObject(bitmap));
  EXPECT_EQ(SelectObject(a, bitmap), nullptr);

  HDC display = CreateDCA("display", nullptr, nullptr, nullptr);
  EXPECT_NE(display, nullptr);
  EXPECT_EQ(CreateDCA("WINSPOOL", nullptr, nullptr, nullptr), nullptr);
  RECT r{0, 0, 1, 1};
  EXPECT_FALSE(FillRect(display, &r, 0));
  EXPECT_TRUE(DeleteDC(display));
  EXPECT_TRUE(DeleteDC(a));
  EXPECT_FALSE(DeleteDC(a));
  EXPECT_EQ(SetTextAlign(a, TA_CENTER), GDI_ERROR);
  EXPECT_EQ(SetBkColor(a, 0), CLR_INVALID);
  EXPECT_EQ(SetBkMode(a, OPAQUE), 0);
  EXPECT_EQ(CreateCompatibleDC(a), nullptr);
}

TEST(Contexts, FillRectCoversExactlyTheRectangle) {
  Canvas canvas(10, 8);
  RECT rect{2, 3, 5, 7};
  EXPECT_TRUE(FillRect(canvas.dc(), &rect, RGB(10, 20, 30)));
  RECT empty{6, 6, 6, 9};
  EXPECT_TRUE(FillRect(canvas.dc(), &empty, RGB(255, 0, 0)));
  EXPECT_FALSE(FillRect(canvas.dc(), nullptr, 0));
  canvas.Read();
  const Box box = canvas.BoxOf([](const Rgb& c) { return c == Rgb{10, 20, 30}; });
  EXPECT_EQ(box.left, 2);
  EXPECT_EQ(box.top, 3);
  EXPECT_EQ(box.right, 4);
  EXPECT_EQ(box.bottom, 6);
  EXPECT_TRUE(canvas.BoxOf([](const Rgb& c) { return c.r == 255; }).empty());

  SetBkColor(canvas.dc(), RGB(0, 0, 255));
  RECT all{0, 0, 10, 8};
  EXPECT_TRUE(FillSolidRectWithBkColor(canvas.dc(), &all));
  canvas.Read();
  EXPECT_EQ(canvas.At(9, 7), (Rgb{0, 0, 255}));
}

TEST(Contexts, OverlaysOnSeveralThreadsAtOnce) {
  // The capture threads of two controls draw their overlays at the same time.
  auto overlay = [](int seed) {
    for (int i = 0; i < 30; ++i) {
      BITMAPINFO info = Header(176, 18, 24);
      std::vector<std::uint8_t> strip = Noise(DibStride(176, 24) * 18, seed + i);
      HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
      HDC memory = CreateCompatibleDC(display);
      HBITMAP bitmap =
          CreateDIBitmap(display, &info.bmiHeader, CBM_INIT, strip.data(), &info, DIB_RGB_COLORS);
      HGDIOBJ old = SelectObject(memory, bitmap);
      HFONT font = CreateFontA(18, 0, 0, 0, FW_BOLD, 0, 0, 0, 0, 0, 0, 0, 0,
                               seed % 2 ? "Courier New" : "\xBF\xAC\xCC\xE5_GB2312");
      HGDIOBJ oldFont = SelectObject(memory, font);
      SetTextAlign(memory, TA_CENTER | TA_BOTTOM);
      TextOutA(memory, 88, 18, "\xD5\xC5 Bob", 6);
      SelectObject(memory, oldFont);
      DeleteObject(font);
      SelectObject(memory, old);
      EXPECT_EQ(GetDIBits(memory, bitmap, 0, 18, strip.data(), &info, DIB_RGB_COLORS), 18);
      DeleteObject(bitmap);
      DeleteDC(display);
      DeleteDC(memory);
    }
  };
  std::thread one(overlay, 1), two(overlay, 2);
  overlay(3);
  one.join();
  two.join();
}

}  // namespace
