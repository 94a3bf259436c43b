// A long recording in little time: one sender's frames go to the control in batches that its
// socket queue holds, and the next batch leaves once the control has recorded the last, so
// frames are pushed as fast as the control decodes and the disk takes them. At the end the
// file's RIFF segments are listed (past 1 GiB the file goes on in OpenDML "AVIX" segments).
#include <QElapsedTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "control/quelvora_ctrl.h"
#include "hosts/quelvora-load/load_run.h"
#include "hosts/quelvora-load/load_traffic.h"
#include "platform/ui/msgbox.h"

namespace {

using ull = unsigned long long;

// Frames per batch: CIF frames at 250 kbit/s are a few kilobytes (key frames up to about 20),
// so a batch stays well inside the receive queue.
constexpr int kBatch = 16;

// The forms of the file's top-level RIFF chunks, in order ("AVI ", "AVIX", ...).
std::vector<std::string> RiffForms(const std::string& path) {
  std::vector<std::string> forms;
  std::ifstream in(path, std::ios::binary);
  std::uint64_t at = 0;
  char head[12];
  while (in.seekg(static_cast<std::streamoff>(at)) && in.read(head, sizeof head)) {
    if (std::string(head, 4) != "RIFF") break;
    forms.emplace_back(head + 8, 4);
    std::uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = (size << 8) | static_cast<std::uint8_t>(head[4 + i]);
    at += 8 + size + (size & 1);
  }
  return forms;
}

}  // namespace

int RunLongRecord(const LoadOptions& o) {
  LoadSenders sender(1, test_stream::EncodeStream(352, 288, 120), o.fps);
  if (!sender.Ok()) {
    std::fprintf(stderr, "load: cannot make the sender's socket\n");
    return 1;
  }
  std::filesystem::create_directories(o.out);
  const std::string recording = (std::filesystem::path(o.out) / "long-record.avi").string();
  CQuelvoraCtrl ctrl;
  std::uint16_t port = 0;
  if (!StartReceiving(ctrl, o.fps, &port) ||
      ctrl.AddClient("127.0.0.1", static_cast<short>(sender.Port(0)), recording.c_str(), "load01") != 1 ||
      !ctrl.ShowClient(1)) {
    std::fprintf(stderr, "load: cannot set up the receiving control\n");
    return 1;
  }
  std::printf("load: recording %ld frames (%.1f hours at %d fps) into %s\n", o.recordFrames,
              static_cast<double>(o.recordFrames) / o.fps / 3600.0, o.fps, recording.c_str());
  std::fflush(stdout);

  QElapsedTimer clock;
  clock.start();
  qint64 nextReport = o.reportSeconds * 1000LL;
  long pushed = 0;
  int stalls = 0;
  while (pushed < o.recordFrames) {
    const int batch = static_cast<int>(std::min<long>(kBatch, o.recordFrames - pushed));
    for (int i = 0; i < batch; ++i) sender.SendNextFrame(0, port);
    pushed += batch;
    QElapsedTimer wait;
    wait.start();
    while (static_cast<long>(ctrl.m_nFramesRecorded) < pushed && wait.elapsed() < 5000) Pump(1);
    if (static_cast<long>(ctrl.m_nFramesRecorded) < pushed) ++stalls;  // a frame lost on the way
    if (clock.elapsed() >= nextReport) {
      nextReport += o.reportSeconds * 1000LL;
      const double gb = static_cast<double>(std::filesystem::file_size(recording)) / 1e9;
      std::printf("load: %4lld s  %llu frames recorded  %.2f GB  %.0f MB/s\n",
                  static_cast<long long>(clock.elapsed() / 1000), static_cast<ull>(ctrl.m_nFramesRecorded),
                  gb, gb * 1000.0 / (static_cast<double>(clock.elapsed()) / 1000.0));
      std::fflush(stdout);
    }
  }
  const std::uint64_t recorded = ctrl.m_nFramesRecorded;
  ctrl.StopRecv();
  ctrl.RemoveClientAll();  // completes the file
  const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
  const auto bytes = std::filesystem::file_size(recording);
  std::string forms;
  for (const std::string& f : RiffForms(recording)) forms += (forms.empty() ? "" : " ") + f;
  std::printf("load: frames sent %ld, recorded %llu, in %.0f s (%.0f frames/s, %.0f MB/s); file %.2f GB\n",
              pushed, static_cast<ull>(recorded), seconds, static_cast<double>(recorded) / seconds,
              static_cast<double>(bytes) / 1e6 / seconds, static_cast<double>(bytes) / 1e9);
  std::printf("load: RIFF segments: %s\n", forms.c_str());
  std::printf("load: message boxes shown %zu; recording %s\n", RecordedMessageBoxes().size(),
              recording.c_str());
  return static_cast<long>(recorded) == o.recordFrames ? 0 : 1;
}
