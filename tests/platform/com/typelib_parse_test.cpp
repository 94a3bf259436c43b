// Reading a type library resource: what is refused.
#include <gtest/gtest.h>

#include "platform/com/typelib_load.h"

namespace {

constexpr const char* kLib = R"({"name": "L", "libid": "{11111111-2222-3333-4444-555555555555}",
  "version": "2.3", "types": [{"kind": "dispinterface", "name": "_D",
  "guid": "{11111112-2222-3333-4444-555555555555}",
  "methods": [{"dispid": 7, "name": "M", "params": [{"type": "BSTR", "name": "s"}], "result": "long"}]}]})";

std::optional<TypeLibDescription> ParseWith(std::string_view from, std::string_view to) {
  std::string text = kLib;
  text.replace(text.find(from), from.size(), to);
  return ParseTypeLib(text);
}

TEST(TypeLibParseTest, ReadsALibraryAndRefusesWhatItCannotDescribe) {
  const auto lib = ParseTypeLib(kLib);
  ASSERT_TRUE(lib);
  EXPECT_EQ(lib->majorVersion, 2);
  EXPECT_EQ(lib->minorVersion, 3);
  ASSERT_EQ(lib->types.size(), 1u);
  ASSERT_EQ(lib->types[0].funcs.size(), 1u);
  EXPECT_EQ(lib->types[0].funcs[0].dispid, 7);
  EXPECT_EQ(lib->types[0].funcs[0].params[0].vt, VT_BSTR);
  EXPECT_EQ(lib->types[0].funcs[0].result, VT_I4);

  EXPECT_FALSE(ParseTypeLib("{"));
  EXPECT_FALSE(ParseWith("{11111111-2222", "{1111111X-2222"));          // a library ID that is no GUID
  EXPECT_FALSE(ParseWith("\"2.3\"", "\"2\""));                          // a version without minor
  EXPECT_FALSE(ParseWith("\"type\": \"BSTR\"", "\"type\": \"void\""));  // a parameter of no type
  EXPECT_FALSE(ParseWith("\"long\"", "\"double\""));                    // a type automation here lacks
  EXPECT_FALSE(ParseWith("dispinterface", "module"));
  EXPECT_FALSE(ParseWith("\"dispid\": 7", "\"dispid\": \"7\""));
}

}  // namespace
