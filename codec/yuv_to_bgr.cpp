#include "codec/yuv_to_bgr.h"

#include <array>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace codec {

namespace {

// Fixed point with 8 fraction bits: the luma and chroma terms per sample value, and a clamp over the
// whole range the sums can reach.
struct Tables {
  std::array<int, 256> luma, rv, gu, gv, bu;
  std::array<std::uint8_t, 1024 + 256 + 1024> clamp;
  Tables() {
    for (int i = 0; i < 256; ++i) {
      luma[i] = 298 * (i - 16) + 128;
      rv[i] = 409 * (i - 128);
      gu[i] = -100 * (i - 128);
      gv[i] = -208 * (i - 128);
      bu[i] = 516 * (i - 128);
    }
    for (int i = 0; i < static_cast<int>(clamp.size()); ++i) {
      const int value = i - 1024;
      clamp[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value < 0     ? 0
                                                                     : value > 255 ? 255
                                                                                   : value);
    }
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

#if defined(__SSE2__)
bool HasSsse3() {
  static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));
  return has;
}

// Byte k of the 48 output bytes is channel k % 3 of pixel k / 3: for each output register and
// channel, the shuffle that places that channel's pixels (-1 leaves a zero for the others).
struct Spread {
  alignas(16) std::int8_t mask[3][3][16] = {};  // [output register][channel][byte]
  constexpr Spread() {
    for (int k = 0; k < 48; ++k)
      for (int c = 0; c < 3; ++c) mask[k / 16][c][k % 16] = static_cast<std::int8_t>(k % 3 == c ? k / 3 : -1);
  }
};
constexpr Spread kSpread;

// Sixteen B, G and R values to 48 bytes of B,G,R pixels.
__attribute__((target("ssse3"))) void InterleaveSsse3(__m128i b, __m128i g, __m128i r, std::uint8_t* o) {
  const __m128i channels[3] = {b, g, r};
  for (int j = 0; j < 3; ++j) {
    __m128i v = _mm_setzero_si128();
    for (int c = 0; c < 3; ++c)
      v = _mm_or_si128(
          v, _mm_shuffle_epi8(channels[c],
                              _mm_load_si128(reinterpret_cast<const __m128i*>(kSpread.mask[j][c]))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16 * j), v);
  }
}

// Sixteen pixels of one row at a time in 16-bit lanes with 6 fraction bits; returns how many pixels it
// did. The multipliers are the tables' fixed-point factors (298, 409, 100, 208, 516 over 256).
int RowSse2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, int width, std::uint8_t* o) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i chroma128 = _mm_set1_epi16(128);
  // The luma offset (16 x 74.5) less the rounding of the final shift.
  const __m128i lumaOffset = _mm_set1_epi16(1192 - 32);
  const __m128i kY = _mm_set1_epi16(19072);  // 298 / 256 x 64, times 256 for the high multiply
  const __m128i kRv = _mm_set1_epi16(26176);
  const __m128i kGu = _mm_set1_epi16(6400);
  const __m128i kGv = _mm_set1_epi16(13312);
  const __m128i kBu = _mm_set1_epi16(129);
  alignas(16) std::uint8_t b[16], g[16], r[16];
  const bool ssse3 = HasSsse3();
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i ys = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
    const __m128i us = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
    const __m128i vs = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
    const __m128i cu = _mm_sub_epi16(_mm_unpacklo_epi8(us, zero), chroma128);
    const __m128i cv = _mm_sub_epi16(_mm_unpacklo_epi8(vs, zero), chroma128);
    const __m128i bu = _mm_mullo_epi16(cu, kBu);
    const __m128i rv = _mm_mulhi_epi16(_mm_slli_epi16(cv, 8), kRv);
    const __m128i guv = _mm_add_epi16(_mm_mulhi_epi16(_mm_slli_epi16(cu, 8), kGu),
                                      _mm_mulhi_epi16(_mm_slli_epi16(cv, 8), kGv));
    __m128i out[3][2];
    for (int half = 0; half < 2; ++half) {
      // Each chroma term serves two neighbouring pixels.
      const __m128i bu2 = half ? _mm_unpackhi_epi16(bu, bu) : _mm_unpacklo_epi16(bu, bu);
      const __m128i rv2 = half ? _mm_unpackhi_epi16(rv, rv) : _mm_unpacklo_epi16(rv, rv);
      const __m128i guv2 = half ? _mm_unpackhi_epi16(guv, guv) : _mm_unpacklo_epi16(guv, guv);
      const __m128i y8 = half ? _mm_unpackhi_epi8(zero, ys) : _mm_unpacklo_epi8(zero, ys);
      const __m128i yl = _mm_sub_epi16(_mm_mulhi_epu16(y8, kY), lumaOffset);
      out[0][half] = _mm_srai_epi16(_mm_adds_epi16(yl, bu2), 6);
      out[1][half] = _mm_srai_epi16(_mm_subs_epi16(yl, guv2), 6);
      out[2][half] = _mm_srai_epi16(_mm_adds_epi16(yl, rv2), 6);
    }
    const __m128i bs = _mm_packus_epi16(out[0][0], out[0][1]);
    const __m128i gs = _mm_packus_epi16(out[1][0], out[1][1]);
    const __m128i rs = _mm_packus_epi16(out[2][0], out[2][1]);
    if (ssse3) {
      InterleaveSsse3(bs, gs, rs, o);
      o += 48;
      continue;
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(b), bs);
    _mm_store_si128(reinterpret_cast<__m128i*>(g), gs);
    _mm_store_si128(reinterpret_cast<__m128i*>(r), rs);
    for (int i = 0; i < 16; ++i) {
      o[0] = b[i];
      o[1] = g[i];
      o[2] = r[i];
      o += 3;
    }
  }
  return x;
}
#endif

}  // namespace

void Yuv420ToBgr(const Yuv420View& in, int width, int height, std::uint8_t* out, std::size_t strideBytes,
                 bool bBottomUp) {
  const Tables& t = T();
  const std::uint8_t* clamp = t.clamp.data() + 1024;
  for (int row = 0; row < height; ++row) {
    const std::uint8_t* y = in.y + static_cast<std::ptrdiff_t>(row) * in.yStride;
    const std::uint8_t* u = in.u + static_cast<std::ptrdiff_t>(row / 2) * in.uvStride;
    const std::uint8_t* v = in.v + static_cast<std::ptrdiff_t>(row / 2) * in.uvStride;
    const int outRow = bBottomUp ? height - 1 - row : row;
    std::uint8_t* o = out + static_cast<std::size_t>(outRow) * strideBytes;
    int x = 0;
#if defined(__SSE2__)
    x = RowSse2(y, u, v, width, o);
    o += static_cast<std::size_t>(x) * 3;
#endif
    // Two pixels share one chroma pair.
    for (; x + 1 < width; x += 2) {
      const int cu = u[x / 2];
      const int cv = v[x / 2];
      const int b = t.bu[cu];
      const int g = t.gu[cu] + t.gv[cv];
      const int r = t.rv[cv];
      const int l0 = t.luma[y[x]];
      const int l1 = t.luma[y[x + 1]];
      o[0] = clamp[(l0 + b) >> 8];
      o[1] = clamp[(l0 + g) >> 8];
      o[2] = clamp[(l0 + r) >> 8];
      o[3] = clamp[(l1 + b) >> 8];
      o[4] = clamp[(l1 + g) >> 8];
      o[5] = clamp[(l1 + r) >> 8];
      o += 6;
    }
    if (x < width) {
      const int l = t.luma[y[x]];
      const int cu = u[x / 2];
      const int cv = v[x / 2];
      o[0] = clamp[(l + t.bu[cu]) >> 8];
      o[1] = clamp[(l + t.gu[cu] + t.gv[cv]) >> 8];
      o[2] = clamp[(l + t.rv[cv]) >> 8];
    }
  }
}

}  // namespace codec
