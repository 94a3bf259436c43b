// BSTR: the automation string, UTF-16 text with its length stored in front of the characters and
// a NUL after them, allocated and freed only by the Sys* calls. A null BSTR is the empty text.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/kernel/windef.h"

using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;

// A copy of the NUL-terminated text (nullptr gives nullptr).
BSTR SysAllocString(LPCOLESTR text);
// A BSTR of `length` characters copied from text (zeros when text is nullptr); the copy may hold
// embedded NULs.
BSTR SysAllocStringLen(LPCOLESTR text, UINT length);
void SysFreeString(BSTR bstr);
// The stored length in characters (0 for nullptr).
UINT SysStringLen(BSTR bstr);

inline std::u16string_view BstrView(BSTR bstr) { return {bstr ? bstr : u"", SysStringLen(bstr)}; }

// Owns one BSTR.
class CComBSTR {
 public:
  CComBSTR() = default;
  explicit CComBSTR(std::u16string_view text)
      : m_str(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  CComBSTR(const CComBSTR& o) : CComBSTR(BstrView(o.m_str)) {}
  CComBSTR(CComBSTR&& o) noexcept : m_str(std::exchange(o.m_str, nullptr)) {}
  CComBSTR& operator=(CComBSTR o) noexcept {
    std::swap(m_str, o.m_str);
    return *this;
  }
  ~CComBSTR() { SysFreeString(m_str); }

  static CComBSTR FromUtf8(std::string_view utf8);
  std::string ToUtf8() const;

  UINT Length() const { return SysStringLen(m_str); }
  std::u16string_view view() const { return BstrView(m_str); }
  // Hands the string to the caller, who frees it.
  BSTR Detach() { return std::exchange(m_str, nullptr); }

  BSTR m_str = nullptr;
};
