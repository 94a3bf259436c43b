#include "platform/kernel/profile.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool EqualNoCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

UINT ReadProfileInt(std::istream& in, LPCSTR section, LPCSTR key, INT defaultValue) {
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';') continue;
    if (t.front() == '[') {
      const size_t close = t.find(']');
      inSection = close != std::string::npos && EqualNoCase(Trim(t.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    const size_t eq = t.find('=');
    if (eq == std::string::npos || !EqualNoCase(Trim(t.substr(0, eq)), key)) continue;
    // Like the platform: leading digits (with an optional sign) are the value, else 0.
    return static_cast<UINT>(std::strtol(Trim(t.substr(eq + 1)).c_str(), nullptr, 10));
  }
  return static_cast<UINT>(defaultValue);
}
