// Conversion of a decoded 4:2:0 picture to packed B,G,R (ITU-R BT.601, video range), written row by row
// into the caller's picture at its stride, top row first or bottom row first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace codec {

struct Yuv420View {
  const std::uint8_t* y;
  const std::uint8_t* u;
  const std::uint8_t* v;
  int yStride;
  int uvStride;
};

void Yuv420ToBgr(const Yuv420View& in, int width, int height, std::uint8_t* out, std::size_t strideBytes,
                 bool bBottomUp);

}  // namespace codec
