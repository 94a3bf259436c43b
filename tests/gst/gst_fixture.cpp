#include "tests/gst/gst_fixture.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace gsttest {

void StartGStreamer() {
  static const bool started = [] {
    gst_init(nullptr, nullptr);
    GError* error = nullptr;
    GstPlugin* plugin = gst_plugin_load_file(QV_GST_PLUGIN, &error);
    if (plugin == nullptr) {
      ADD_FAILURE() << "cannot load " << QV_GST_PLUGIN << ": " << error->message;
      g_clear_error(&error);
      return false;
    }
    gst_object_unref(plugin);
    return true;
  }();
  ASSERT_TRUE(started);
}

std::string TestFolder() {
  const char* base = std::getenv("QV_TEST_TMP");
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string folder =
      std::string(base && *base ? base : "/tmp") + "/gst." + info->test_suite_name() + "." + info->name();
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

int CheckPictures(const std::string& file, int width, int height, bool bottomUp, double minPsnr,
                  std::string* summary) {
  const std::string command = std::string(QV_PICTURE_CHECK) + " " + file + " " + std::to_string(width) + " " +
                              std::to_string(height) + (bottomUp ? " bottom-up " : " top-down ") +
                              std::to_string(minPsnr);
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char line[512];
  summary->clear();
  while (std::fgets(line, sizeof line, pipe) != nullptr) summary->append(line);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long PicturesIn(const std::string& file, int width, int height) {
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  return error ? 0 : static_cast<long>(size / (static_cast<std::uintmax_t>(width) * height * 3));
}

}  // namespace gsttest
