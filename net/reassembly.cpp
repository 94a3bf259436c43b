#include "net/reassembly.h"

#include <cstring>

bool IsWholeDatagramCompressType(const char* compressType) {
  return compressType != nullptr &&
         (std::strcmp(compressType, "H.261") == 0 || std::strcmp(compressType, "H.263") == 0);
}
