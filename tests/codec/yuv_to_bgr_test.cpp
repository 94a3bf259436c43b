#include "codec/yuv_to_bgr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

// Every pixel against the BT.601 video-range formula in floating point, for widths that exercise the
// sixteen-pixel path, its remainder and odd widths, in both row orders.
TEST(YuvToBgr, MatchesTheFormulaAtEveryWidth) {
  std::mt19937 random(3);
  for (int width : {1, 2, 15, 16, 17, 31, 33, 176, 351}) {
    const int height = 5;
    const int uvStride = (width + 1) / 2 + 3;
    std::vector<std::uint8_t> y(static_cast<std::size_t>(width + 7) * height), u(uvStride * 3),
        v(uvStride * 3);
    for (auto* plane : {&y, &u, &v}) {
      for (auto& b : *plane) b = static_cast<std::uint8_t>(random());
    }
    for (bool bottomUp : {false, true}) {
      const std::size_t stride = static_cast<std::size_t>(width) * 3 + 6;
      std::vector<std::uint8_t> out(stride * height, 0xEE);
      codec::Yuv420ToBgr({y.data(), u.data(), v.data(), width + 7, uvStride}, width, height, out.data(),
                         stride, bottomUp);
      for (int row = 0; row < height; ++row) {
        const std::uint8_t* o = &out[static_cast<std::size_t>(bottomUp ? height - 1 - row : row) * stride];
        for (int x = 0; x < width; ++x) {
          const double l = 1.164 * (y[static_cast<std::size_t>(row) * (width + 7) + x] - 16);
          const double cu = u[static_cast<std::size_t>(row / 2) * uvStride + x / 2] - 128;
          const double cv = v[static_cast<std::size_t>(row / 2) * uvStride + x / 2] - 128;
          const double expect[3] = {l + 2.016 * cu, l - 0.391 * cu - 0.813 * cv, l + 1.596 * cv};
          for (int c = 0; c < 3; ++c) {
            const double e = std::clamp(expect[c], 0.0, 255.0);
            ASSERT_NEAR(o[x * 3 + c], e, 2.0)
                << "width " << width << " row " << row << " x " << x << " c " << c;
          }
        }
        // The gap between the picture's rows stays as it was.
        for (std::size_t i = static_cast<std::size_t>(width) * 3; i < stride; ++i) ASSERT_EQ(o[i], 0xEE);
      }
    }
  }
}

}  // namespace
