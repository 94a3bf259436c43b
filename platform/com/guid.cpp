#include "platform/com/guid.h"

#include <cstdio>

std::string StringFromGUID(REFGUID g) {
  char buf[39];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return buf;
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[pos], advancing pos.
bool ReadHex(std::string_view text, size_t& pos, int digits, unsigned long& out) {
  out = 0;
  for (int i = 0; i < digits; ++i, ++pos) {
    if (pos >= text.size()) return false;
    const int d = HexDigit(text[pos]);
    if (d < 0) return false;
    out = out * 16 + static_cast<unsigned long>(d);
  }
  return true;
}

bool Expect(std::string_view text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

std::optional<GUID> GUIDFromString(std::string_view text) {
  if (text.size() != 38) return std::nullopt;
  GUID g;
  size_t pos = 0;
  unsigned long v = 0;
  if (!Expect(text, pos, '{') || !ReadHex(text, pos, 8, v)) return std::nullopt;
  g.Data1 = static_cast<DWORD>(v);
  if (!Expect(text, pos, '-') || !ReadHex(text, pos, 4, v)) return std::nullopt;
  g.Data2 = static_cast<WORD>(v);
  if (!Expect(text, pos, '-') || !ReadHex(text, pos, 4, v)) return std::nullopt;
  g.Data3 = static_cast<WORD>(v);
  if (!Expect(text, pos, '-')) return std::nullopt;
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && !Expect(text, pos, '-')) return std::nullopt;
    if (!ReadHex(text, pos, 2, v)) return std::nullopt;
    g.Data4[i] = static_cast<BYTE>(v);
  }
  if (!Expect(text, pos, '}')) return std::nullopt;
  return g;
}
