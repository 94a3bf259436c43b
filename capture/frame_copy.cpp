#include "capture/frame_copy.h"

#include <algorithm>
#include <cstring>

size_t CopyFrameBytes(BYTE* buffer, size_t capacity, const BYTE* data, size_t bytesUsed) {
  const size_t n = std::min(capacity, bytesUsed);
  if (n && data) std::memcpy(buffer, data, n);
  return data ? n : 0;
}

void CompactDibRows(BYTE* bits, size_t rowBytes, size_t stride, int height) {
  if (stride <= rowBytes) return;
  // Row 0 stays; every later row moves towards the start, so no row is overwritten before it moved.
  for (int row = 1; row < height; ++row)
    std::memmove(bits + static_cast<size_t>(row) * rowBytes, bits + static_cast<size_t>(row) * stride,
                 rowBytes);
}
