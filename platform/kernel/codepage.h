// Conversions between the ANSI code page texts the control keeps as bytes and UTF-8, done only at
// the edges (showing a text, taking a text from a script). Code page 936 is GB2312/GBK.
#pragma once

#include <string>
#include <string_view>

// The process's ANSI code page: 936 by default (ASCII passes unchanged), or
// $QUELVORA_CODEPAGE when set (e.g. 1252).
int GetACP();
void SetACPForTesting(int codePage);

// Bytes in the code page to UTF-8; bytes that do not convert become U+FFFD.
std::string AnsiToUtf8(std::string_view bytes, int codePage = GetACP());
// UTF-8 to bytes in the code page; characters the page cannot hold become '?'.
std::string Utf8ToAnsi(std::string_view utf8, int codePage = GetACP());
