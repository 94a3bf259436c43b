// Cutting host texts to the fixed fields that hold them.
#pragma once

#include <cstddef>

// The number of bytes of `text` that fit in `limit` bytes without splitting a double-byte
// character of the ANSI code page (a lead byte 0x81-0xFE takes the byte after it).
size_t AnsiPrefixLength(const char* text, size_t limit);
