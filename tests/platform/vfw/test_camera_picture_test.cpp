// The test camera's picture is read back by tools that redraw it from its frame counter
// (tests/tools/qv-picture-check) and compared with what crossed a call, so its drawing must not
// change. Here it is checked pixel by pixel against the picture drawn one pixel at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/vfw/capture_driver.h"

namespace {

struct Bgr {
  BYTE b, g, r;
};

// The picture as its rules say, pixel by pixel: later rules paint over earlier ones.
std::vector<BYTE> PixelByPixel(int width, int height, std::uint32_t frame) {
  static constexpr Bgr kBars[8] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                   {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {16, 16, 16}};
  static constexpr BYTE kDigits[10][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
                                          {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1},
                                          {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};
  std::vector<BYTE> bits(static_cast<std::size_t>(width) * height * 3, 0xEE);
  const auto put = [&](int x, int y, Bgr c) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    BYTE* p = &bits[(static_cast<std::size_t>(y) * width + x) * 3];
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
  };
  const auto fill = [&](int x0, int y0, int w, int h, Bgr c) {
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) put(x, y, c);
  };
  const auto triangle = [](std::uint32_t t, int span) {
    if (span <= 0) return 0;
    const int p = static_cast<int>(t % static_cast<std::uint32_t>(2 * span));
    return p <= span ? p : 2 * span - p;
  };
  const int shift = static_cast<int>((frame * 4u) % static_cast<std::uint32_t>(width));
  for (int y = 1; y < height; ++y)
    for (int x = 0; x < width; ++x) put(x, y, kBars[((x + shift) % width) * 8 / width]);
  fill(0, height - height / 6, width, height / 6, {64, 24, 24});
  for (int x = 0; x < width; ++x) put(x, 0, x < width / 2 ? Bgr{0, 0, 255} : Bgr{255, 0, 0});
  const int box = std::max(4, std::min(width, height) / 4);
  fill(triangle(frame * 3u, width - box), 1 + triangle(frame * 2u, height - 1 - box), box, box,
       {128, 128, 128});
  const int scale = std::max(1, height / 72);
  const std::string digits = std::to_string(frame);
  fill(scale, scale, (static_cast<int>(digits.size()) * 4 + 1) * scale, 7 * scale, {0, 0, 0});
  for (std::size_t i = 0; i < digits.size(); ++i)
    for (int row = 0; row < 5; ++row)
      for (int col = 0; col < 3; ++col)
        if (kDigits[digits[i] - '0'][row] & (4 >> col))
          fill(2 * scale + static_cast<int>(i) * 4 * scale + col * scale, 2 * scale + row * scale, scale,
               scale, {255, 255, 255});
  return bits;
}

TEST(TestCameraPicture, EveryPixelAsItsRulesSayAtManySizesAndFrames) {
  const struct {
    int width, height;
  } sizes[] = {{16, 16}, {17, 19}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {8, 2000}};
  for (const auto& s : sizes) {
    for (std::uint32_t frame : {0u, 1u, 7u, 59u, 1234u, 4294967295u}) {
      std::vector<BYTE> drawn(static_cast<std::size_t>(s.width) * s.height * 3, 0xEE);
      DrawTestCameraPicture(drawn.data(), s.width, s.height, frame);
      ASSERT_EQ(drawn, PixelByPixel(s.width, s.height, frame))
          << s.width << "x" << s.height << " frame " << frame;
    }
  }
}

}  // namespace
