#include "net/compress_type.h"

#include <cstring>

#include "control/quelvora_ctrl.h"

const char* CompressTypeFromText(const char* text) {
  if (!text) return nullptr;
  if (std::strstr(text, "261")) return "H.261";
  if (std::strstr(text, "263")) return "H.263";
  if (std::strstr(text, "MPEG4")) return "MPEG4";
  return nullptr;
}

bool IsH26xCompressType(const char* type) {
  return type && (std::strcmp(type, "H.261") == 0 || std::strcmp(type, "H.263") == 0);
}

BOOL CQuelvoraCtrl::SetCompressType(LPCTSTR szCompressType) {
  const char* type = CompressTypeFromText(szCompressType);
  if (!type) return FALSE;
  std::lock_guard<std::mutex> lock(m_csSettings);
  m_strCompressType = type;
  return TRUE;
}
