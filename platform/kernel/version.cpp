#include "platform/kernel/version.h"

#include <string>

LPCSTR VerQueryString(const VersionInfo& info, std::string_view path) {
  const std::string prefix = std::string("\\StringFileInfo\\") + info.block + "\\";
  if (!path.starts_with(prefix)) return nullptr;
  const std::string_view name = path.substr(prefix.size());
  for (const VersionString& s : info.strings) {
    if (name == s.name) return s.value;
  }
  return nullptr;
}
