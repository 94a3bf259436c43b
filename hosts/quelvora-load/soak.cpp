// The soak: every sender replays encoded CIF frames from a socket of its own; the control records
// and shows the first sender and forwards every sender's datagrams to one sink (the senders
// outside the client table through client 0, the first sender through a second record of the
// sink). Prints progress, then what was sent, read, forwarded and recorded, and the process's
// resident memory at the start, after warm-up, at the peak and at the end.
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "control/quelvora_ctrl.h"
#include "hosts/quelvora-load/load_run.h"
#include "hosts/quelvora-load/load_traffic.h"
#include "hosts/quelvora-load/rss.h"
#include "platform/ui/msgbox.h"

namespace {

using ull = unsigned long long;

}  // namespace

int RunSoak(const LoadOptions& o) {
  RssTrack rss;
  std::printf("load: encoding the senders' stream (CIF, 250 kbit/s, key frame every 30)\n");
  std::fflush(stdout);
  LoadSenders senders(o.senders, test_stream::EncodeStream(352, 288, 120), o.fps);
  LoadSink sink(o.senders);
  if (!senders.Ok() || !sink.Ok()) {
    std::fprintf(stderr, "load: cannot make the senders' or the sink's sockets\n");
    return 1;
  }
  std::filesystem::create_directories(o.out);
  const std::string recording = (std::filesystem::path(o.out) / "soak.avi").string();

  int code = 0;
  CQuelvoraCtrl ctrl;
  std::uint16_t port = 0;
  if (!StartReceiving(ctrl, o.fps, &port)) {
    std::fprintf(stderr, "load: the control cannot receive (error %d)\n",
                 static_cast<int>(ctrl.GetErrorID()));
    return 1;
  }
  const auto sinkPort = static_cast<short>(sink.Port());
  const long first =
      ctrl.AddClient("127.0.0.1", static_cast<short>(senders.Port(0)), recording.c_str(), "load01");
  const long sinkOthers = ctrl.AddClient("127.0.0.1", sinkPort, nullptr, "sink");
  const long sinkFirst = ctrl.AddClient("127.0.0.1", sinkPort, nullptr, "sink");
  if (first != 1 || !ctrl.ShowClient(first) || !ctrl.Forward(0, sinkOthers) ||
      !ctrl.Forward(first, sinkFirst)) {
    std::fprintf(stderr, "load: cannot set up the client table\n");
    return 1;
  }
  std::printf("load: %d senders at %d fps into port %u for %d s; recording sender 1 into %s\n", o.senders,
              o.fps, port, o.seconds, recording.c_str());
  std::fflush(stdout);
  rss.Sample(ReadRssKb());

  senders.Start(port);
  QElapsedTimer clock;
  clock.start();
  // Warm-up: by then the first key frames have sized the decoders, the socket queues have
  // reached their working depth and the allocator its working set.
  const qint64 warmMs = std::min<qint64>(30000, std::max<qint64>(5000, o.seconds * 100LL));
  qint64 nextReport = o.reportSeconds * 1000LL;
  while (clock.elapsed() < o.seconds * 1000LL) {
    Pump(1000);
    rss.Sample(ReadRssKb());
    if (!rss.warm && clock.elapsed() >= warmMs) rss.MarkWarm();
    if (clock.elapsed() >= nextReport) {
      nextReport += o.reportSeconds * 1000LL;
      std::printf(
          "load: %4lld s  RSS %.1f MB (peak %.1f)  sent %llu  read %llu  at sink %llu  recorded %llu\n",
          static_cast<long long>(clock.elapsed() / 1000), Mb(rss.endKb), Mb(rss.peakKb),
          static_cast<ull>(senders.DatagramsSent()), static_cast<ull>(ctrl.m_nDatagramsReceived),
          static_cast<ull>(sink.Total()), static_cast<ull>(ctrl.m_nFramesRecorded));
      std::fflush(stdout);
    }
  }
  senders.Stop();
  Pump(500);  // what is still queued is read and forwarded
  rss.Sample(ReadRssKb());
  const std::uint64_t read = ctrl.m_nDatagramsReceived;
  const std::uint64_t recorded = ctrl.m_nFramesRecorded;
  const std::uint64_t shown = ctrl.m_nFramesShown;
  ctrl.StopRecv();
  ctrl.RemoveClientAll();  // completes the recording
  Pump(200);
  sink.Stop();

  const std::uint64_t sent = senders.DatagramsSent();
  const std::uint64_t atSink = sink.Total();
  int fewest = 0;
  for (int i = 1; i < o.senders; ++i)
    if (sink.Datagrams(i) < sink.Datagrams(fewest)) fewest = i;
  std::printf(
      "load: datagrams sent %llu (send failures %llu); read by the control %llu, lost before it %lld\n",
      static_cast<ull>(sent), static_cast<ull>(senders.SendFailures()), static_cast<ull>(read),
      static_cast<long long>(sent - read));
  std::printf(
      "load: forwarded to the sink %llu, lost on the way %lld of those sent (%.4f %%); fewest from "
      "one sender %s %llu; other datagrams at the sink %llu\n",
      static_cast<ull>(atSink), static_cast<long long>(sent - atSink),
      sent ? 100.0 * static_cast<double>(sent - atSink) / static_cast<double>(sent) : 0.0,
      SenderName(fewest).c_str(), static_cast<ull>(sink.Datagrams(fewest)), static_cast<ull>(sink.Others()));
  std::printf("load: sender 1 sent %llu frames; shown %llu, recorded %llu into %s\n",
              static_cast<ull>(senders.FramesSent(0)), static_cast<ull>(shown), static_cast<ull>(recorded),
              recording.c_str());
  std::printf(
      "load: RSS start %.1f MB, after warm-up %.1f MB, end %.1f MB, peak %.1f MB; growth after warm-up "
      "%.1f MB\n",
      Mb(rss.startKb), Mb(rss.warmKb), Mb(rss.endKb), Mb(rss.peakKb), Mb(rss.GrowthKb()));
  std::printf("load: message boxes shown %zu\n", RecordedMessageBoxes().size());
  if (rss.GrowthKb() > o.maxGrowthMb * 1024LL) {
    std::printf("load: FAILED: memory grew by more than %d MB after warm-up\n", o.maxGrowthMb);
    code = 1;
  }
  if (read == 0 || atSink == 0 || recorded == 0) {
    std::printf("load: FAILED: nothing read, forwarded or recorded\n");
    code = 1;
  }
  return code;
}
