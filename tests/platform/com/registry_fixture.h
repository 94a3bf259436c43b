// Gives each test its own registry file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class RegistryFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("QV_TEST_TMP");
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::path(tmp && *tmp ? tmp : std::filesystem::temp_directory_path().string()) /
           ("com-" + std::to_string(::getpid()) + "-" + info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    file_ = (dir_ / "registry").string();
    setenv("QUELVORA_REGISTRY", file_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("QUELVORA_REGISTRY");
    std::filesystem::remove_all(dir_);
  }

  std::filesystem::path dir_;
  std::string file_;
};
