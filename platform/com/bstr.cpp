#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/com/widechar.h"

namespace {

// The length prefix is the byte count, as stored by the platform.
using Prefix = std::uint32_t;

}  // namespace

BSTR SysAllocStringLen(LPCOLESTR text, UINT length) {
  if (length > (std::numeric_limits<Prefix>::max() - sizeof(Prefix)) / sizeof(OLECHAR) - 1) return nullptr;
  const size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(Prefix) + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  const Prefix prefix = static_cast<Prefix>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(Prefix));
  if (text) {
    std::memcpy(chars, text, bytes);
  } else {
    std::memset(chars, 0, bytes);
  }
  chars[length] = u'\0';
  return chars;
}

BSTR SysAllocString(LPCOLESTR text) {
  if (!text) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(std::char_traits<OLECHAR>::length(text)));
}

void SysFreeString(BSTR bstr) {
  if (bstr) std::free(reinterpret_cast<unsigned char*>(bstr) - sizeof(Prefix));
}

UINT SysStringLen(BSTR bstr) {
  if (!bstr) return 0;
  Prefix prefix;
  std::memcpy(&prefix, reinterpret_cast<unsigned char*>(bstr) - sizeof(Prefix), sizeof prefix);
  return prefix / sizeof(OLECHAR);
}

CComBSTR CComBSTR::FromUtf8(std::string_view utf8) { return CComBSTR(Utf8ToWide(utf8)); }

std::string CComBSTR::ToUtf8() const { return WideToUtf8(view()); }
