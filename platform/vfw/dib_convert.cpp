#include <QImage>
#include <cstring>

#include "platform/vfw/capture_driver.h"

namespace {
// Keeps every frame size well inside 32 bits.
constexpr LONG kMaxDimension = 8192;
}  // namespace

void ConvertBgr24TopDownToDib(const BYTE* src, std::size_t srcStride, int width, int height, BYTE* dst,
                              int bitCount) {
  const std::size_t dstStride = DibStride(width, bitCount);
  for (int y = 0; y < height; ++y) {
    const BYTE* in = src + static_cast<std::size_t>(y) * srcStride;
    BYTE* out = dst + static_cast<std::size_t>(height - 1 - y) * dstStride;
    if (bitCount == 24) {
      std::memcpy(out, in, static_cast<std::size_t>(width) * 3);
      std::memset(out + static_cast<std::size_t>(width) * 3, 0,
                  dstStride - static_cast<std::size_t>(width) * 3);
      continue;
    }
    for (int x = 0; x < width; ++x, in += 3) {
      const unsigned v = (static_cast<unsigned>(in[2] >> 3) << 10) |
                         (static_cast<unsigned>(in[1] >> 3) << 5) | static_cast<unsigned>(in[0] >> 3);
      out[2 * x] = static_cast<BYTE>(v & 0xFF);
      out[2 * x + 1] = static_cast<BYTE>(v >> 8);
    }
    std::memset(out + static_cast<std::size_t>(width) * 2, 0,
                dstStride - static_cast<std::size_t>(width) * 2);
  }
}

void ScaleBgr24TopDownToDib(const BYTE* src, std::size_t srcStride, int srcWidth, int srcHeight, BYTE* dst,
                            int width, int height, int bitCount) {
  const QImage from(src, srcWidth, srcHeight, static_cast<qsizetype>(srcStride), QImage::Format_BGR888);
  const QImage scaled = from.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                            .convertToFormat(QImage::Format_BGR888);
  ConvertBgr24TopDownToDib(scaled.constBits(), static_cast<std::size_t>(scaled.bytesPerLine()), width, height,
                           dst, bitCount);
}

bool IsDeliverableFormat(const BITMAPINFOHEADER& format) {
  return format.biSize >= sizeof(BITMAPINFOHEADER) && format.biCompression == BI_RGB &&
         (format.biBitCount == 16 || format.biBitCount == 24) && format.biWidth > 0 && format.biHeight > 0 &&
         format.biWidth <= kMaxDimension && format.biHeight <= kMaxDimension;
}

BITMAPINFOHEADER NormalizedFormat(const BITMAPINFOHEADER& format) {
  BITMAPINFOHEADER h{};
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = format.biWidth;
  h.biHeight = format.biHeight;
  h.biPlanes = 1;
  h.biBitCount = format.biBitCount;
  h.biCompression = BI_RGB;
  h.biSizeImage = static_cast<DWORD>(DibStride(format.biWidth, format.biBitCount) *
                                     static_cast<std::size_t>(format.biHeight));
  return h;
}
