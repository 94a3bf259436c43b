// Which files the writer opens: only regular files, never one another open file is writing, and
// never after waiting on something that is not a file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>

#include "tests/platform/avifile/avi_fixture.h"

namespace avitest {
namespace {

// Opens on another thread, so that an open that blocks fails the test instead of hanging it.
HRESULT OpenWithin(const std::string& path, PAVIFILE* file, const std::function<void()>& unblock) {
  auto opening = std::async(std::launch::async,
                            [&] { return AVIFileOpenA(file, path.c_str(), OF_WRITE | OF_CREATE, nullptr); });
  if (opening.wait_for(std::chrono::seconds(3)) == std::future_status::timeout) {
    ADD_FAILURE() << "the open of " << path << " blocked";
    unblock();
  }
  return opening.get();
}

TEST_F(AviTest, AFifoOrADeviceIsRefusedWithoutWaitingForAReader) {
  const std::string fifo = Path("pipe.avi");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  PAVIFILE file = nullptr;
  EXPECT_EQ(OpenWithin(fifo, &file, [&] { close(open(fifo.c_str(), O_RDONLY | O_NONBLOCK)); }),
            AVIERR_FILEOPEN);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(OpenWithin("/dev/null", &file, [] {}), AVIERR_FILEOPEN);
  EXPECT_EQ(file, nullptr);
  if (file) AVIFileRelease(file);
}

TEST_F(AviTest, AFileAnotherOpenFileIsWritingIsRefusedAndLeftAlone) {
  Open("busy.avi");
  ASSERT_EQ(Write(0, 0, true), AVIERR_OK);
  const auto size = std::filesystem::file_size(path_);
  PAVIFILE second = reinterpret_cast<PAVIFILE>(1);
  EXPECT_EQ(AVIFileOpenA(&second, path_.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_FILEOPEN);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(std::filesystem::file_size(path_), size);
  ASSERT_EQ(Write(1, 1), AVIERR_OK);
  Close();
  ExpectDecodes({0, 1});

  // Completed and closed, it can be written again.
  Open("busy.avi");
  ASSERT_EQ(Write(0, 2, true), AVIERR_OK);
  Close();
  ExpectDecodes({2});
}

}  // namespace
}  // namespace avitest
