// Device-independent bitmap rows: the layout the platform gives a BITMAPINFOHEADER (rows padded
// to 4 bytes, bottom row first unless the height is negative) and their conversion to and from
// 32-bit images.
#pragma once

#include <QImage>
#include <cstddef>
#include <cstdint>

#include "platform/kernel/windef.h"

// Bytes of one row: width x bits per pixel, rounded up to a multiple of 4 bytes.
constexpr std::size_t DibStride(LONG width, WORD bitCount) {
  return ((static_cast<std::size_t>(width) * bitCount + 31) / 32) * 4;
}

// True for the formats the stand-ins read and write: BI_RGB with 16 (5-5-5) or 24 bits per pixel,
// a positive width and a non-zero height, each at most 32768.
bool IsSupportedDib(const BITMAPINFOHEADER& header);

// One row of B,G,R pixels to 32-bit pixels 0xFFRRGGBB.
void Bgr24RowToRgb32(const std::uint8_t* in, std::uint32_t* out, int width);

// Converts scan lines of a DIB into rows of a Format_RGB32 image. Scan line s counts from the
// bottom of a bottom-up DIB and from the top of a top-down one; scan lines [first, first + count)
// of the DIB are read from `bits` (whose first byte is scan line `first`) and written to the
// image rows they depict. The image is as wide as the header, its height |biHeight|.
void DibToImageRows(const BITMAPINFOHEADER& header, const void* bits, int first, int count, QImage& image);

// The reverse: image rows to DIB scan lines [first, first + count) in `bits`. Padding bytes
// at the end of each row are written as zero.
void ImageRowsToDib(const QImage& image, const BITMAPINFOHEADER& header, int first, int count, void* bits);
