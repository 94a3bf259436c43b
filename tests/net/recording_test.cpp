// Recording a client end to end: datagrams over loopback, the control's decoder, the AVI writer,
// and FFmpeg reading the file back.
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/ui/msgbox.h"
#include "tests/net/recv_fixture.h"

using test_stream::Bytes;

namespace {

std::string TempPath(const std::string& name) {
  const char* env = std::getenv("QV_TEST_TMP");
  const std::string dir = env != nullptr && *env != '\0' ? env : std::string(QV_BINARY_DIR) + "/test-tmp";
  mkdir(dir.c_str(), 0755);
  return dir + "/" + name;
}

int RunCommand(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Bytes FlipRows(const Bytes& picture, int width, int height) {
  Bytes out(picture.size());
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  for (int y = 0; y < height; ++y) std::copy_n(&picture[y * row], row, &out[(height - 1 - y) * row]);
  return out;
}

TEST_F(ReceivingControl, RecordsAClientFromItsFirstKeyFrameIntoAFileFFmpegReads) {
  std::string output;
  if (RunCommand("ffprobe -version", &output) != 0) GTEST_SKIP() << "ffprobe is not installed";
  const std::string path = TempPath("recv_recording.avi");
  std::remove(path.c_str());

  const auto stream = test_stream::EncodeStream(352, 288, 12, 250000, 4);  // key frames 0, 4, 8
  ASSERT_EQ(stream.size(), 12u);
  const long id = ctrl->AddClient("127.0.0.1", static_cast<short>(senderPort), path.c_str(), "peer");
  ASSERT_EQ(id, 1);
  ClientRecord& client = ctrl->m_clients[1];
  ASSERT_NE(client.pAviStream, nullptr);
  ASSERT_NE(client.xvidDecParam.handle, nullptr);
  ASSERT_TRUE(ctrl->RecvVideo());

  // Frames 1 to 3 come before any key frame and are not recorded; 4 to 7 are, from position 1.
  for (int i = 1; i < 8; ++i) SendFrame(stream[i], static_cast<std::uint16_t>(i));
  ASSERT_TRUE(PumpUntil([&] { return client.lFramesWritten == 5; })) << client.lFramesWritten;

  // Stopped and started again, the recording goes on at position 0.
  ASSERT_TRUE(ctrl->StopRecv());
  EXPECT_EQ(client.lFramesWritten, 0);
  ASSERT_TRUE(ctrl->RecvVideo());
  for (int i = 8; i < 12; ++i) SendFrame(stream[i], static_cast<std::uint16_t>(i));
  ASSERT_TRUE(PumpUntil([&] { return client.lFramesWritten == 4; })) << client.lFramesWritten;
  ASSERT_TRUE(ctrl->RemoveClient(1));

  // What was recorded, as our own decoder sees it: frames 4 to 11.
  test_stream::ReferenceDecoder reference(352, 288);
  std::vector<Bytes> expected;
  for (int i = 4; i < 12; ++i) expected.push_back(FlipRows(reference.Decode(stream[i].bytes), 352, 288));

  const std::string raw = TempPath("recv_recording.bgr");
  ASSERT_EQ(
      RunCommand("ffmpeg -v error -y -i '" + path + "' -f rawvideo -pix_fmt bgr24 '" + raw + "'", &output),
      0);
  std::ifstream in(raw, std::ios::binary);
  const Bytes decoded{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::size_t frameBytes = 352 * 288 * 3;
  ASSERT_EQ(decoded.size() % frameBytes, 0u);
  std::vector<Bytes> frames;
  for (std::size_t at = 0; at < decoded.size(); at += frameBytes)
    frames.emplace_back(decoded.begin() + at, decoded.begin() + at + frameBytes);
  // FFmpeg may repeat frames to fill timing gaps; every recorded picture appears, in order.
  std::size_t next = 0;
  for (const Bytes& f : frames)
    if (next < expected.size() && f == expected[next]) ++next;
  EXPECT_EQ(next, expected.size());

  // FFmpeg takes every uncompressed frame for a key frame, so the index is read here: only the
  // key frames of the received stream (4 and 8) carry the key-frame flag.
  std::ifstream file(path, std::ios::binary);
  const Bytes avi{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const std::string riff(avi.begin(), avi.end());
  const std::size_t idx1 = riff.rfind("idx1");
  ASSERT_NE(idx1, std::string::npos);
  std::string keys;
  for (std::size_t at = idx1 + 8; at + 16 <= avi.size(); at += 16) {
    if (riff.compare(at, 2, "00") != 0) continue;
    const std::uint32_t flags = avi[at + 4] | (avi[at + 5] << 8) | (avi[at + 6] << 16) | (avi[at + 7] << 24);
    keys += (flags & 0x10) ? 'K' : '_';
  }
  EXPECT_EQ(keys, "K___K___");

  ASSERT_EQ(
      RunCommand(
          "ffprobe -v error -select_streams v -show_entries stream=r_frame_rate,width,height -of csv=p=0 '" +
              path + "'",
          &output),
      0);
  EXPECT_EQ(output.substr(0, output.find('\n')), "352,288,7/1");
}

TEST_F(ReceivingControl, AFileThatCannotBeOpenedAddsAClientThatDoesNotRecord) {
  ClearRecordedMessageBoxes();
  const long id = ctrl->AddClient("127.0.0.1", 4000, "/no/such/folder/x.avi", "peer");
  EXPECT_EQ(id, 1);
  const auto boxes = RecordedMessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text.rfind("Error: AVIFileOpen, error ", 0), 0u) << boxes[0].text;
  EXPECT_EQ(boxes[1].text, "AVI_FileOpenWrite failed");
  EXPECT_EQ(ctrl->m_clients[1].pAviFile, nullptr);
  EXPECT_EQ(ctrl->m_clients[1].xvidDecParam.handle, nullptr);
  EXPECT_STREQ(ctrl->m_clients[1].szFileName, "/no/such/folder/x.avi");
}

TEST_F(ReceivingControl, TheClientMethodsKeepToTheirIDRange) {
  for (long expected = 1; expected <= 30; ++expected)
    ASSERT_EQ(ctrl->AddClient("10.0.0.1", static_cast<short>(expected), nullptr, nullptr), expected);
  EXPECT_EQ(ctrl->AddClient("10.0.0.1", 99, nullptr, nullptr), -1);
  EXPECT_FALSE(ctrl->RemoveClient(0));
  EXPECT_TRUE(ctrl->RemoveClient(5));
  EXPECT_FALSE(ctrl->RemoveClient(5));
  EXPECT_TRUE(ctrl->ShowClient(12));
  EXPECT_FALSE(ctrl->ShowClient(31));
  EXPECT_EQ(ctrl->m_nShowClient, 12);
  EXPECT_TRUE(ctrl->RemoveClientAll());
  EXPECT_EQ(ctrl->m_nShowClient, 0);
  EXPECT_EQ(ctrl->m_clients.FreeID(), 1);
}

}  // namespace
