#include "display/packed_picture.h"

#include <cstddef>
#include <cstring>

#include "platform/gdi/dib.h"

void CPackedPictureDrawer::Draw(HDRAWDIB hdd, HDC dc, int xDst, int yDst, int dxDst, int dyDst,
                                const void* bits, int width, int height) {
  if (!bits || width <= 0 || height <= 0) return;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  const std::size_t stride = DibStride(width, 24);
  if (stride != rowBytes) {
    m_padded.resize(stride * static_cast<std::size_t>(height));
    const auto* in = static_cast<const BYTE*>(bits);
    for (int row = 0; row < height; ++row)
      std::memcpy(&m_padded[stride * row], in + rowBytes * row, rowBytes);
    bits = m_padded.data();
  }
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(stride * static_cast<std::size_t>(height));
  DrawDibDraw(hdd, dc, xDst, yDst, dxDst, dyDst, &header, bits, 0, 0, width, height, 0);
}
