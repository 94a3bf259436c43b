// The INI reader over arbitrary text, with arbitrary section and key names.
//
// Input: [section length][section][key length][key][the file's text]. The names may hold any byte
// but NUL (they are C strings); the text any byte at all.
//
// QV_FUZZ_WRITE_SEEDS=dir writes seed inputs into dir and exits.
#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz/seeds.h"
#include "platform/kernel/profile.h"

namespace {

std::string ReadName(const std::uint8_t*& data, std::size_t& size) {
  if (!size) return {};
  const std::size_t n = std::min<std::size_t>(*data, size - 1);
  std::string name;
  for (std::size_t i = 1; i <= n; ++i)
    if (data[i]) name.push_back(static_cast<char>(data[i]));
  data += n + 1;
  size -= n + 1;
  return name;
}

void WriteSeeds(const std::string& dir) {
  fuzz_seeds::Write(dir, "plain", "\x09Oskavelle\x08UseRGB16[Oskavelle]\nUseRGB16=1\n");
  fuzz_seeds::Write(dir, "spaced",
                    "\x09Oskavelle\x08UseRGB16; comment\n[ oskavelle ]\r\n  userGb16 =  -12abc\n[other]\n"
                    "UseRGB16=7\n");
  fuzz_seeds::Write(dir, "unclosed", "\x01x\x01y[x]\ny\n[x\ny=3\n");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_seeds::WriteIfAsked(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string section = ReadName(data, size);
  const std::string key = ReadName(data, size);
  std::istringstream text(std::string(reinterpret_cast<const char*>(data), size));
  // A key that is not there gives the default, so two defaults tell a found key from a missing one.
  const UINT a = ReadProfileInt(text, section.c_str(), key.c_str(), -7);
  text.clear();
  text.seekg(0);
  const UINT b = ReadProfileInt(text, section.c_str(), key.c_str(), 9);
  if (a != b && (a != static_cast<UINT>(-7) || b != 9)) std::abort();
  return 0;
}
