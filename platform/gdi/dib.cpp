#include "platform/gdi/dib.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

constexpr LONG kMaxDimension = 32768;

// The image row a DIB scan line depicts.
int ImageRowOfScan(const BITMAPINFOHEADER& header, int height, int scan) {
  return header.biHeight > 0 ? height - 1 - scan : scan;
}

// 5 bits to 8, so that 0 and 31 become 0 and 255 and converting back is exact.
inline std::uint32_t Expand5(std::uint32_t v) { return (v << 3) | (v >> 2); }

void Bgr24RowToRgb32Plain(const std::uint8_t* in, std::uint32_t* out, int width) {
  for (int x = 0; x < width; ++x, in += 3)
    out[x] = 0xFF000000u | (std::uint32_t{in[2]} << 16) | (std::uint32_t{in[1]} << 8) | in[0];
}

#if defined(__x86_64__) || defined(__i386__)
// Every shown picture passes through here: four pixels per shuffle. Reads 16 bytes for 12, so the
// last pixels, whose 16 bytes would pass the row's end, go the plain way.
__attribute__((target("ssse3"))) void Bgr24RowToRgb32Ssse3(const std::uint8_t* in, std::uint32_t* out,
                                                           int width) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  int x = 0;
  for (; x + 6 <= width; x += 4) {
    const __m128i bgr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_or_si128(_mm_shuffle_epi8(bgr, spread), alpha));
  }
  Bgr24RowToRgb32Plain(in + 3 * x, out + x, width - x);
}

bool HasSsse3() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));
  return has;
}
#endif

}  // namespace

void Bgr24RowToRgb32(const std::uint8_t* in, std::uint32_t* out, int width) {
#if defined(__x86_64__) || defined(__i386__)
  if (HasSsse3()) return Bgr24RowToRgb32Ssse3(in, out, width);
#endif
  Bgr24RowToRgb32Plain(in, out, width);
}

bool IsSupportedDib(const BITMAPINFOHEADER& header) {
  if (header.biCompression != BI_RGB) return false;
  if (header.biBitCount != 24 && header.biBitCount != 16) return false;
  if (header.biWidth <= 0 || header.biWidth > kMaxDimension) return false;
  if (header.biHeight == 0 || header.biHeight < -kMaxDimension || header.biHeight > kMaxDimension)
    return false;
  return true;
}

void DibToImageRows(const BITMAPINFOHEADER& header, const void* bits, int first, int count, QImage& image) {
  const int width = header.biWidth;
  const int height = image.height();
  const std::size_t stride = DibStride(header.biWidth, header.biBitCount);
  const auto* src = static_cast<const std::uint8_t*>(bits);
  for (int i = 0; i < count; ++i, src += stride) {
    const int row = ImageRowOfScan(header, height, first + i);
    auto* out = reinterpret_cast<std::uint32_t*>(image.scanLine(row));
    if (header.biBitCount == 24) {
      Bgr24RowToRgb32(src, out, width);
    } else {
      for (int x = 0; x < width; ++x) {
        const std::uint32_t v = src[2 * x] | (std::uint32_t{src[2 * x + 1]} << 8);
        out[x] =
            0xFF000000u | (Expand5((v >> 10) & 31) << 16) | (Expand5((v >> 5) & 31) << 8) | Expand5(v & 31);
      }
    }
  }
}

void ImageRowsToDib(const QImage& image, const BITMAPINFOHEADER& header, int first, int count, void* bits) {
  const int width = header.biWidth;
  const int height = image.height();
  const std::size_t stride = DibStride(header.biWidth, header.biBitCount);
  auto* dst = static_cast<std::uint8_t*>(bits);
  for (int i = 0; i < count; ++i, dst += stride) {
    const int row = ImageRowOfScan(header, height, first + i);
    const auto* in = reinterpret_cast<const std::uint32_t*>(image.constScanLine(row));
    std::size_t used;
    if (header.biBitCount == 24) {
      for (int x = 0; x < width; ++x) {
        std::uint8_t* p = dst + 3 * x;
        p[0] = static_cast<std::uint8_t>(in[x]);
        p[1] = static_cast<std::uint8_t>(in[x] >> 8);
        p[2] = static_cast<std::uint8_t>(in[x] >> 16);
      }
      used = static_cast<std::size_t>(width) * 3;
    } else {
      for (int x = 0; x < width; ++x) {
        const std::uint32_t b = (in[x] & 0xFF) >> 3, g = ((in[x] >> 8) & 0xFF) >> 3,
                            r = ((in[x] >> 16) & 0xFF) >> 3;
        const std::uint32_t v = (r << 10) | (g << 5) | b;
        dst[2 * x] = static_cast<std::uint8_t>(v);
        dst[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
      }
      used = static_cast<std::size_t>(width) * 2;
    }
    std::memset(dst + used, 0, stride - used);
  }
}
