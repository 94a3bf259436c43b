// A memory context with a bitmap of its own, and its pixels read back through GetDIBits.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/gdi/gdi.h"

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive
  bool empty() const { return right < 0; }
  double centreX() const { return (left + right + 1) / 2.0; }
};

inline BITMAPINFO Header24(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    dc_ = CreateCompatibleDC(nullptr);
    BITMAPINFO info = Header24(width, height);
    bitmap_ = CreateDIBitmap(dc_, &info.bmiHeader, 0, nullptr, nullptr, DIB_RGB_COLORS);
    previous_ = SelectObject(dc_, bitmap_);
  }
  ~Canvas() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  HBITMAP bitmap() const { return bitmap_; }

  // The pixels, top row first.
  void Read() {
    BITMAPINFO info = Header24(width_, -height_);
    const int stride = (width_ * 3 + 3) / 4 * 4;
    bytes_.assign(static_cast<size_t>(stride) * height_, 0);
    ASSERT_EQ(GetDIBits(dc_, bitmap_, 0, height_, bytes_.data(), &info, DIB_RGB_COLORS), height_);
    stride_ = stride;
  }
  Rgb At(int x, int y) const {
    const std::uint8_t* p = bytes_.data() + y * stride_ + x * 3;
    return {p[2], p[1], p[0]};
  }
  template <class Pred>
  Box BoxOf(Pred pred) const {
    Box box;
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x)
        if (pred(At(x, y))) {
          box.left = std::min(box.left, x);
          box.right = std::max(box.right, x);
          box.top = std::min(box.top, y);
          box.bottom = std::max(box.bottom, y);
        }
    return box;
  }

 private:
  int width_, height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
  std::vector<std::uint8_t> bytes_;
  int stride_ = 0;
};

inline bool Yellowish(const Rgb& c) { return c.r > 96 && c.g > 96 && c.b < 64; }
