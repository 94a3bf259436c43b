#include "platform/com/widechar.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace {

std::string IconvName(int codePage) {
  switch (codePage) {
    case CP_UTF8:
      return "UTF-8";
    case 20127:
      return "ASCII";
    default:
      return "CP" + std::to_string(codePage);
  }
}

const char* Utf16Name() { return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE"; }

class Iconv {
 public:
  Iconv(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much as possible; false at an unconvertible or incomplete sequence, with in and
  // inLeft pointing at it.
  bool Run(const char*& in, size_t& inLeft, std::string& out) {
    char buf[256];
    while (inLeft > 0) {
      char* outPtr = buf;
      size_t outLeft = sizeof buf;
      const size_t r = iconv(cd_, const_cast<char**>(&in), &inLeft, &outPtr, &outLeft);
      out.append(buf, static_cast<size_t>(outPtr - buf));
      if (r == static_cast<size_t>(-1) && errno != E2BIG) return false;
    }
    return true;
  }

  // Writes what a stateful encoding still owes at the end of the text.
  void Finish(std::string& out) {
    char buf[64];
    char* outPtr = buf;
    size_t outLeft = sizeof buf;
    iconv(cd_, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buf, static_cast<size_t>(outPtr - buf));
  }

 private:
  iconv_t cd_;
};

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string WideToMultiByte(std::u16string_view text, int codePage) {
  std::string out;
  Iconv cd(IconvName(codePage), Utf16Name());
  if (!cd.ok()) {
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
  }
  const char* in = reinterpret_cast<const char*>(text.data());
  size_t inLeft = text.size() * sizeof(char16_t);
  while (!cd.Run(in, inLeft, out)) {
    // Skip the character that does not convert: a surrogate pair as one, anything else one unit.
    size_t units = 1;
    if (inLeft >= 2 * sizeof(char16_t)) {
      char16_t pair[2];
      std::memcpy(pair, in, sizeof pair);
      if (IsHighSurrogate(pair[0]) && IsLowSurrogate(pair[1])) units = 2;
    }
    const size_t skip = std::min(inLeft, units * sizeof(char16_t));
    in += skip;
    inLeft -= skip;
    out.push_back('?');
  }
  cd.Finish(out);
  return out;
}

std::u16string MultiByteToWide(std::string_view bytes, int codePage) {
  std::u16string result;
  Iconv cd(Utf16Name(), IconvName(codePage));
  if (!cd.ok()) {
    for (char c : bytes) result.push_back(static_cast<unsigned char>(c) < 0x80 ? c : u'\uFFFD');
    return result;
  }
  std::string out;
  const char* in = bytes.data();
  size_t inLeft = bytes.size();
  while (!cd.Run(in, inLeft, out)) {
    ++in;
    --inLeft;
    out.append(reinterpret_cast<const char*>(u"\uFFFD"), sizeof(char16_t));
  }
  cd.Finish(out);
  result.resize(out.size() / sizeof(char16_t));
  std::memcpy(result.data(), out.data(), result.size() * sizeof(char16_t));
  return result;
}
