// The receive side's buffers and how the compress type decides what a datagram is.
#pragma once

#include <cstddef>

// Every datagram, packet and assembly buffer holds this many bytes.
constexpr std::size_t kAssemblyBufferSize = 100000;
constexpr std::size_t kDatagramBufferSize = 100000;
// The picture buffer: the last decoded picture, 704 x 576 at 3 bytes per pixel.
constexpr std::size_t kPictureBufferSize = 704 * 576 * 3;

// The compress types "H.261" and "H.263" (exact, case-sensitive) make every datagram a whole
// frame; any other text reads the stream as MPEG-4.
bool IsWholeDatagramCompressType(const char* compressType);
