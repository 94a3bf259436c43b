#include "net/compress_type.h"

#include <cstring>

const char* CompressTypeFromText(const char* text) {
  if (!text) return nullptr;
  if (std::strstr(text, "261")) return kCompressTypeH261;
  if (std::strstr(text, "263")) return kCompressTypeH263;
  if (std::strstr(text, "MPEG4")) return kCompressTypeMpeg4;
  return nullptr;
}

bool IsCompressType(const char* compressType, const char* type) {
  return compressType && std::strcmp(compressType, type) == 0;
}

bool IsH26xCompressType(const char* type) {
  return IsCompressType(type, kCompressTypeH261) || IsCompressType(type, kCompressTypeH263);
}
