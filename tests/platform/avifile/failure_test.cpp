#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "platform/avifile/avifile.h"
#include "tests/platform/avifile/avi_fixture.h"

namespace avitest {
namespace {

std::vector<int> Range(int n) {
  std::vector<int> v(n);
  std::iota(v.begin(), v.end(), 0);
  return v;
}

// Writes frames until the (simulated) disk is full, at many fill levels, some of which cut into
// a segment change: the failing write reports AVIERR_FILEWRITE, the file ends after the last
// whole frame, and every frame before it is read back, before and after the release.
TEST_F(AviTest, FullDiskFailsTheWriteAndKeepsEveryEarlierFrame) {
  SetAVIFileWriterLimits({250000, 256});
  for (std::int64_t limit : {7000, 90000, 236000, 250100, 310000, 480000, 500000, 540000}) {
    SCOPED_TRACE(limit);
    SetAVIFileSizeLimitForTesting(limit);
    Open("full.avi");
    int ok = 0;
    HRESULT hr;
    while ((hr = Write(ok, ok, ok % 3 == 0)) == AVIERR_OK) ++ok;
    EXPECT_EQ(hr, AVIERR_FILEWRITE);
    EXPECT_EQ(Write(ok + 1, ok + 1), AVIERR_FILEWRITE);  // and so on while the disk stays full
    const AviLayout a = Parse(path_);
    EXPECT_EQ(a.top.back().offset + 8 + a.top.back().size, a.bytes.size());
    ExpectDecodes(Range(ok));
    Close();
    ExpectDecodes(Range(ok));
  }
}

TEST_F(AviTest, WritingGoesOnWhenTheDiskHasRoomAgain) {
  SetAVIFileSizeLimitForTesting(100);
  Open("retry.avi", 176, 144, 7, 352, 288, AVIERR_FILEWRITE);  // not even the headers fit
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_EQ(Write(1, 1, true), AVIERR_FILEWRITE);
  SetAVIFileSizeLimitForTesting(200000);
  ASSERT_EQ(Write(2, 2), AVIERR_OK);  // headers and frame: the stream starts here
  ASSERT_EQ(Write(3, 3), AVIERR_OK);
  ASSERT_EQ(Write(4, 4), AVIERR_FILEWRITE);  // its position stays empty
  SetAVIFileSizeLimitForTesting(-1);
  ASSERT_EQ(Write(5, 5), AVIERR_OK);
  Close();
  EXPECT_EQ(ProbePacketTimes(path_), (std::vector<long>{2, 3, 5}));
  ExpectDecodes({2, 3, 5});
}

// The same on a real file system that fills up: a small tmpfs (needs the right to mount).
TEST_F(AviTest, FullTmpfsFailsTheWriteAndKeepsEveryEarlierFrame) {
  const std::string mnt = Path("mnt");
  std::filesystem::create_directories(mnt);
  if (mount("qv-avi", mnt.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  struct Unmount {
    std::string dir;
    ~Unmount() { umount2(dir.c_str(), MNT_DETACH); }
  } unmount{mnt};

  Open("mnt/full.avi");
  int ok = 0;
  HRESULT hr;
  while ((hr = Write(ok, ok)) == AVIERR_OK) ++ok;
  EXPECT_EQ(hr, AVIERR_FILEWRITE);
  EXPECT_GT(ok, 8);
  ExpectDecodes(Range(ok));
  // Frames stop while there is room left to complete the file: it closes with its index.
  Close();
  ExpectDecodes(Range(ok));
  const AviLayout a = Parse(path_);
  EXPECT_NE(Find(a.top.at(0).children, "idx1"), nullptr);
}

TEST_F(AviTest, AFrameThatWouldLeaveTheDiskNearlyFullIsRefusedAndTheFileCompletes) {
  SetAVIFileFreeSpaceForTesting((std::int64_t{32} << 20) + 200000);
  Open("nearly-full.avi");
  int ok = 0;
  HRESULT hr;
  while ((hr = Write(ok, ok)) == AVIERR_OK) ++ok;
  SetAVIFileFreeSpaceForTesting(-1);
  EXPECT_EQ(hr, AVIERR_FILEWRITE);
  EXPECT_GT(ok, 0);
  EXPECT_LT(ok, 4);  // a frame of 176 x 144 is 76,032 bytes: room for two
  Close();
  const AviLayout a = Parse(path_);
  EXPECT_NE(Find(a.top.at(0).children, "idx1"), nullptr);
  ExpectDecodes(Range(ok));
}

// A child records and tells over a pipe which frame it has written; it is killed with SIGKILL
// at some point. ffmpeg then reads every frame the child reported, across segment changes.
TEST_F(AviTest, RecordingKilledMidwayKeepsEveryReportedFrame) {
  for (int killAfter : {1, 7, 20, 45}) {
    SCOPED_TRACE(killAfter);
    const std::string path = Path("killed-" + std::to_string(killAfter) + ".avi");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      SetAVIFileWriterLimits({250000, 256});
      PAVIFILE file;
      PAVISTREAM stream;
      AVISTREAMINFO info{};
      info.fccType = streamtypeVIDEO;
      info.dwScale = 1;
      info.dwRate = 7;
      const BITMAPINFOHEADER bih = Format();
      if (AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr) ||
          AVIFileCreateStreamA(file, &stream, &info) || AVIStreamSetFormat(stream, 0, &bih, sizeof bih))
        _exit(1);
      for (int i = 0; i < 400; ++i) {
        const std::vector<std::uint8_t> p = Picture(width_, height_, i);
        if (AVIStreamWrite(stream, i, 1, p.data(), static_cast<LONG>(p.size()), 0, nullptr, nullptr))
          _exit(2);
        if (write(fds[1], &i, sizeof i) != sizeof i) _exit(3);
      }
      pause();  // never released: only a kill ends it
      _exit(4);
    }
    close(fds[1]);
    int reported = -1;
    int got = 0;
    int n;
    while (got < killAfter && read(fds[0], &n, sizeof n) == sizeof n) reported = n, ++got;
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child ended by itself: " << WEXITSTATUS(status);
    while (read(fds[0], &n, sizeof n) == sizeof n) reported = n;  // what it said before dying
    close(fds[0]);
    ASSERT_GE(reported, killAfter - 1);

    const std::vector<std::string> decoded = DecodeFrames(path, width_, height_);
    // The frame being written at the kill may be there too, whole; nothing else.
    ASSERT_GE(decoded.size(), static_cast<std::size_t>(reported + 1));
    ASSERT_LE(decoded.size(), static_cast<std::size_t>(reported + 2));
    for (std::size_t i = 0; i < decoded.size(); ++i)
      EXPECT_TRUE(decoded[i] == TopDown(Picture(width_, height_, static_cast<int>(i)), width_, height_)) << i;
  }
}

}  // namespace
}  // namespace avitest
