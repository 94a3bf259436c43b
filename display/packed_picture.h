// Decoded pictures as DrawDib draws them. The decoder writes 24-bit pictures, bottom row first,
// with rows of exactly width x 3 bytes; a device-independent bitmap pads its rows to 4 bytes, so
// a width whose rows are not a multiple of 4 bytes is copied into padded rows before drawing.
#pragma once

#include <vector>

#include "platform/drawdib/drawdib.h"

class CPackedPictureDrawer {
 public:
  // Draws `bits` (width x height, packed rows) stretched into dest (x, y, width, height of the
  // destination) on `dc`; nothing when there are no bits or the size is empty.
  void Draw(HDRAWDIB hdd, HDC dc, int xDst, int yDst, int dxDst, int dyDst, const void* bits, int width,
            int height);

 private:
  // Kept between pictures, so that a stream of one size allocates once; the standard widths
  // (multiples of 4) need no copy.
  std::vector<BYTE> m_padded;
};
