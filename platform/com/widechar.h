// Conversions between UTF-16 (the text of BSTRs) and the byte texts the control keeps: the ANSI
// code page of platform/kernel/codepage.h, or UTF-8 for hosts and file names. iconv does the work.
#pragma once

#include <string>
#include <string_view>

#include "platform/kernel/codepage.h"

constexpr int CP_UTF8 = 65001;

// UTF-16 to bytes of the code page. A character the code page cannot hold becomes '?', the
// platform's default character; so does every non-ASCII character when iconv does not know the
// code page.
std::string WideToMultiByte(std::u16string_view text, int codePage = GetACP());
// Bytes of the code page to UTF-16. A byte sequence that is not valid in the code page becomes
// U+FFFD.
std::u16string MultiByteToWide(std::string_view bytes, int codePage = GetACP());

inline std::u16string Utf8ToWide(std::string_view utf8) { return MultiByteToWide(utf8, CP_UTF8); }
inline std::string WideToUtf8(std::u16string_view text) { return WideToMultiByte(text, CP_UTF8); }
