// Host processes that die or vanish: a recording killed outright, a receiver that goes away and
// comes back while a sender keeps sending.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "tests/faults/host_process.h"

namespace {

std::string TestDir() {
  const char* base = std::getenv("QV_TEST_TMP");
  const std::string dir = std::string(base ? base : "/tmp") + "/faults";
  std::filesystem::create_directories(dir);
  return dir;
}

// The frames ffprobe decodes from a file, or -1 when it cannot read it.
long long FramesReadBack(const std::string& path) {
  const std::string command =
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=nb_read_frames -of csv=p=0 '" +
      path + "' 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  char line[64] = {0};
  const bool got = std::fgets(line, sizeof line, p) != nullptr;
  const int status = pclose(p);
  return got && status == 0 ? std::atoll(line) : -1;
}

auto Reached(const char* word, long long n) {
  return [word, n](const std::string& line) {
    const std::string prefix = std::string(word) + " ";
    return line.rfind(prefix, 0) == 0 && std::atoll(line.c_str() + prefix.size()) >= n;
  };
}

TEST(HostFaults, ARecordingKilledWithSigkillReadsBackWithEveryFrameWrittenBeforeTheKill) {
  const std::string file = TestDir() + "/killed-recording.avi";
  std::filesystem::remove(file);
  const std::uint16_t port = FreePortTriple();
  ASSERT_NE(port, 0);
  HostProcess recorder("record_until_killed.js", {file, std::to_string(port)});
  ASSERT_TRUE(recorder.Started());
  ASSERT_TRUE(recorder.WaitForLine(Reached("recorded", 20), 120000)) << recorder.Output();
  ASSERT_TRUE(recorder.Kill()) << "the recording host ended by itself:\n" << recorder.Output();
  const long long reported = recorder.Last("recorded");
  // The file was never closed: no final headers, the open segment's index missing.
  const long long readBack = FramesReadBack(file);
  std::printf("recorded %lld frames before the kill; ffprobe reads %lld\n", reported, readBack);
  EXPECT_GE(readBack, reported);
  EXPECT_LE(readBack, reported + 15) << "more frames than were recorded in the last 100 ms";
}

TEST(HostFaults, ASenderKeepsSendingWhileItsReceiverGoesAwayAndComesBack) {
  const std::uint16_t port = FreePortTriple();
  ASSERT_NE(port, 0);
  auto receiver =
      std::make_unique<HostProcess>("peer.js", std::vector<std::string>{"receive", std::to_string(port)});
  HostProcess sender("peer.js", {"send", std::to_string(port), "40"});
  ASSERT_TRUE(receiver->WaitForLine(Reached("received", 30), 60000)) << receiver->Output();
  ASSERT_TRUE(receiver->Kill());

  // Sending into a closed port: the kernel answers with port-unreachable and drops the datagrams.
  ASSERT_TRUE(sender.WaitForLine(Reached("sent", 1), 60000)) << sender.Output();
  const long long whenGone = sender.Last("sent");
  ASSERT_TRUE(sender.WaitForLine(Reached("sent", whenGone + 15), 60000)) << sender.Output();
  ASSERT_TRUE(sender.Running());

  receiver =
      std::make_unique<HostProcess>("peer.js", std::vector<std::string>{"receive", std::to_string(port)});
  ASSERT_TRUE(receiver->WaitForLine(Reached("received", 30), 60000))
      << "nothing arrives at the new receiver:\n"
      << receiver->Output() << "\nsender:\n"
      << sender.Output();
  const long long whenBack = sender.Last("sent");
  EXPECT_TRUE(sender.WaitForLine(Reached("sent", whenBack + 15), 60000));
  EXPECT_TRUE(sender.Running());
  receiver->Kill();
  sender.Kill();
}

}  // namespace
