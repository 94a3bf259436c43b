// The version block of a module: the fixed file and product versions and the named strings of one
// language block, read as VerQueryValue reads them.
#pragma once

#include <span>
#include <string_view>

#include "platform/kernel/windef.h"

struct VersionString {
  LPCSTR name;
  LPCSTR value;
};

struct VersionInfo {
  WORD fileVersion[4];
  WORD productVersion[4];
  LPCSTR block;  // language and code page in hex, e.g. "040904b0"
  std::span<const VersionString> strings;
};

// The value of "\StringFileInfo\<block>\<name>" (an empty value is ""), or nullptr when the path
// names no string of the block.
LPCSTR VerQueryString(const VersionInfo& info, std::string_view path);
