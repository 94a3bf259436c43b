// The user name travels as bytes in the control's code page (QUELVORA_CODEPAGE, 936 by default, as
// for the hosts); GStreamer properties hold UTF-8.
#pragma once

#include <string>

// The wire's bytes as UTF-8; a byte that does not convert becomes U+FFFD.
std::string UserNameToUtf8(const std::string& bytes);
// UTF-8 as the wire's bytes; a character the code page lacks becomes '?'.
std::string UserNameFromUtf8(const char* utf8);
