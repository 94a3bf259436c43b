// Test entry point: one QApplication (offscreen unless a display is asked for) for every test, and
// the tests' files below the build folder unless QV_TEST_TMP names another place.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (!std::getenv("QV_TEST_TMP")) setenv("QV_TEST_TMP", QV_BINARY_DIR "/test-tmp", 1);
  std::error_code ignored;  // a test that needs the folder fails on its own files
  std::filesystem::create_directories(std::getenv("QV_TEST_TMP"), ignored);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
