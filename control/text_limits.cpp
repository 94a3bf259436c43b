#include "control/text_limits.h"

size_t AnsiPrefixLength(const char* text, size_t limit) {
  if (!text) return 0;
  size_t i = 0;
  while (i < limit && text[i] != '\0') {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t width = (c >= 0x81 && c <= 0xFE && text[i + 1] != '\0') ? 2 : 1;
    if (i + width > limit) break;
    i += width;
  }
  return i;
}
