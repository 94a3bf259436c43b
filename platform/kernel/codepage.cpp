#include "platform/kernel/codepage.h"

#include <iconv.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

std::atomic<int> g_acp{0};

std::string IconvName(int codePage) {
  switch (codePage) {
    case 936: return "CP936";
    case 65001: return "UTF-8";
    case 1252: return "CP1252";
    case 20127: return "ASCII";
    default: return "CP" + std::to_string(codePage);
  }
}

// Converts with iconv, replacing what cannot be converted with `bad` and skipping one input byte.
std::string Convert(std::string_view in, const std::string& from, const std::string& to, std::string_view bad) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.reserve(in.size() * 2 + 4);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char buffer[256];
  while (srcLeft > 0) {
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // Invalid or incomplete sequence: replace one byte and go on.
      out.append(bad);
      ++src;
      --srcLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

int GetACP() {
  int cp = g_acp.load();
  if (cp != 0) return cp;
  cp = 936;
  if (const char* env = std::getenv("QUELVORA_CODEPAGE"); env && std::atoi(env) > 0) cp = std::atoi(env);
  g_acp.store(cp);
  return cp;
}

void SetACPForTesting(int codePage) { g_acp.store(codePage); }

std::string AnsiToUtf8(std::string_view bytes, int codePage) {
  return Convert(bytes, IconvName(codePage), "UTF-8", "\xEF\xBF\xBD");
}

std::string Utf8ToAnsi(std::string_view utf8, int codePage) {
  // Characters the page cannot hold: iconv reports them as invalid input; one UTF-8 character
  // may take several bytes, so skip its continuation bytes too.
  std::string out;
  size_t i = 0;
  while (i < utf8.size()) {
    size_t len = 1;
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0xF0) len = 4;
    else if (c >= 0xE0) len = 3;
    else if (c >= 0xC0) len = 2;
    if (i + len > utf8.size()) len = utf8.size() - i;
    const std::string piece = Convert(utf8.substr(i, len), "UTF-8", IconvName(codePage), "?");
    out += piece.find('?') != std::string::npos && utf8.substr(i, len) != "?" ? std::string("?") : piece;
    i += len;
  }
  return out;
}
