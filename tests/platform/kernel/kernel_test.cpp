#include "platform/kernel/kernel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("qv-ini-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    setenv("QUELVORA_WINDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("QUELVORA_WINDIR");
    std::filesystem::remove_all(dir_);
  }
  void Write(const char* text) { std::ofstream(dir_ / "Test.ini") << text; }
  std::filesystem::path dir_;
};

TEST_F(IniTest, ReadsKeyFromBareFileNameInWindowsDirectory) {
  Write("[Other]\nUseRGB16=7\n[Oskavelle]\n; comment\n  usergb16 = 1 \n");
  EXPECT_EQ(GetPrivateProfileIntA("Oskavelle", "UseRGB16", 0, "Test.ini"), 1u);
  EXPECT_EQ(GetPrivateProfileIntA("Other", "UseRGB16", 0, "Test.ini"), 7u);
}

TEST_F(IniTest, MissingFileSectionOrKeyGivesDefault) {
  EXPECT_EQ(GetPrivateProfileIntA("Oskavelle", "UseRGB16", 3, "Absent.ini"), 3u);
  Write("[Oskavelle]\nOther=1\n");
  EXPECT_EQ(GetPrivateProfileIntA("Oskavelle", "UseRGB16", 0, "Test.ini"), 0u);
  EXPECT_EQ(GetPrivateProfileIntA("Nope", "Other", 5, "Test.ini"), 5u);
}

TEST_F(IniTest, NonNumericValueReadsAsZero) {
  Write("[Oskavelle]\nUseRGB16=yes\n");
  EXPECT_EQ(GetPrivateProfileIntA("Oskavelle", "UseRGB16", 9, "Test.ini"), 0u);
}

TEST(TickTest, InjectedSourceReplacesClockAndCanBeRemoved) {
  SetTickCountSourceForTesting([] { return DWORD{0xFFFFFFF0u}; });
  EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
  SetTickCountSourceForTesting({});
  const DWORD a = GetTickCount();
  Sleep(20);
  EXPECT_GE(static_cast<DWORD>(GetTickCount() - a), 19u);
}

}  // namespace
