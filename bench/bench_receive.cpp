// The receive side of a control on loopback.
//
// BM_RelayControl / BM_RelayGstreamer: a sender of our own sends a CIF stream (1 Mbit/s, cut into
// datagrams of at most 800 payload bytes) at a fixed datagram rate for two seconds; a receiving
// control drains it, forwards every datagram to two clients and displays it, side by side with a
// GStreamer relay (udpsrc ! multiudpsink) forwarding the same traffic to two sinks. Counters:
// datagrams sent, the share that reached both sinks, and the control's own share read.
//
// BM_ReceiveLatency: a call's CIF stream (1 Mbit/s, 30 frames a second) into a control that shows
// it; per frame, the time from its first datagram sent (the encoder's output handed to the socket)
// to the control's read of the datagram that completed it, with reading on arrival and, beside it
// in the same run, with the 30 ms tick alone (as the control read before).
//
// BM_ReceiveCifFrame: CPU per received CIF frame: one frame's datagrams are queued on the
// control's receive socket (not timed), then one tick drains, reassembles, decodes and draws it.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "control/quelvora_ctrl.h"
#include "net/frame_times.h"
#include "net/receive_tick.h"
#include "tests/support/test_stream.h"

extern char** environ;

namespace {

using namespace winsock;
using test_stream::Bytes;

constexpr double kRunSeconds = 2.0;

void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

SOCKET BoundSocket(USHORT port = 0, int receiveBuffer = 0) {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  if (receiveBuffer > 0)
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  unsigned long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  return s;
}

USHORT PortOf(SOCKET s) {
  sockaddr_in a{};
  int length = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  return ntohs(a.sin_port);
}

USHORT FreePort() {
  const SOCKET s = BoundSocket();
  const USHORT port = PortOf(s);
  closesocket(s);
  return port;
}

void SendTo(SOCKET s, const Bytes& d, USHORT port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  sendto(s, reinterpret_cast<const char*>(d.data()), static_cast<int>(d.size()), 0,
         reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

// One cycle of the sender's stream: 60 CIF frames at 1 Mbit/s from a key frame, as datagrams.
struct Traffic {
  std::vector<std::vector<Bytes>> frames;  // datagrams of each frame, sequence filled in per send
  Traffic() {
    for (const auto& f : test_stream::EncodeStream(352, 288, 60, 1000000, 30))
      frames.push_back(test_stream::Datagrams(f, 0));
  }
};

const Traffic& TheTraffic() {
  static Traffic traffic;
  return traffic;
}

// Two sinks read by a thread of their own, so that they never drop what reaches them.
class Sinks {
 public:
  Sinks() : a_(BoundSocket(0, 8 << 20)), b_(BoundSocket(0, 8 << 20)) {
    reader_ = std::thread([this] { Read(); });
  }
  ~Sinks() {
    stop_ = true;
    reader_.join();
    closesocket(a_);
    closesocket(b_);
  }
  USHORT PortA() const { return PortOf(a_); }
  USHORT PortB() const { return PortOf(b_); }
  std::uint64_t Count() const { return countA_ + countB_; }
  std::uint64_t CountA() const { return countA_; }
  void Reset() { countA_ = countB_ = 0; }

 private:
  void Read() {
    std::vector<char> buffer(100000);
    while (!stop_) {
      FD_SET readable;
      FD_ZERO(&readable);
      FD_SET(a_, &readable);
      FD_SET(b_, &readable);
      const timeval wait{0, 20000};
      if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
      for (auto [s, count] : {std::pair{a_, &countA_}, std::pair{b_, &countB_}}) {
        if (!FD_ISSET(s, &readable)) continue;
        while (recvfrom(s, buffer.data(), static_cast<int>(buffer.size()), 0, nullptr, nullptr) > 0) ++*count;
      }
    }
  }
  SOCKET a_, b_;
  std::atomic<std::uint64_t> countA_{0}, countB_{0};
  std::atomic<bool> stop_{false};
  std::thread reader_;
};

// Sends the traffic at `rate` datagrams a second for kRunSeconds from a thread; the event loop
// runs meanwhile. Returns the number sent.
std::uint64_t SendAtRate(USHORT port, int rate) {
  const Traffic& traffic = TheTraffic();
  std::atomic<std::uint64_t> sent{0};
  std::thread sender([&] {
    const SOCKET s = BoundSocket();
    const auto start = std::chrono::steady_clock::now();
    const auto total = static_cast<std::uint64_t>(rate * kRunSeconds);
    std::uint16_t sequence = 1;
    std::size_t frame = 0;
    std::size_t piece = 0;
    while (sent < total) {
      // Paced per millisecond: everything due by now goes out.
      const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const auto due = std::min<std::uint64_t>(total, static_cast<std::uint64_t>(elapsed * rate) + 1);
      while (sent < due) {
        Bytes d = traffic.frames[frame][piece];
        d[2] = static_cast<std::uint8_t>(sequence >> 8);
        d[3] = static_cast<std::uint8_t>(sequence);
        SendTo(s, d, port);
        ++sent;
        if (++piece == traffic.frames[frame].size()) {
          piece = 0;
          ++sequence;
          frame = (frame + 1) % traffic.frames.size();
        }
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    closesocket(s);
  });
  while (sent < static_cast<std::uint64_t>(rate * kRunSeconds)) Pump(10);
  sender.join();
  Pump(300);  // the relay's last datagrams
  return sent;
}

void Report(benchmark::State& state, std::uint64_t sent, std::uint64_t bothSinks, std::uint64_t read) {
  state.counters["sent"] = static_cast<double>(sent);
  state.counters["relayed%"] = 100.0 * static_cast<double>(bothSinks) / (2.0 * static_cast<double>(sent));
  state.counters["read%"] = 100.0 * static_cast<double>(read) / static_cast<double>(sent);
}

// Second argument 1: the sender is the shown client, so every frame is also decoded and drawn;
// 0: the shown client is one that never sends, so the control only relays.
void BM_RelayControl(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  const bool display = state.range(1) != 0;
  for (auto _ : state) {
    Sinks sinks;
    CQuelvoraCtrl ctrl;
    ctrl.CreateControlWindow(nullptr, RECT{0, 0, 352, 288});
    ctrl.Widget()->show();
    const USHORT port = FreePort();
    ctrl.m_endpoints.recvLocal.Store("127.0.0.1", port);
    ctrl.AddClient("127.0.0.1", static_cast<short>(sinks.PortA()), nullptr, nullptr);
    ctrl.AddClient("127.0.0.1", static_cast<short>(sinks.PortB()), nullptr, nullptr);
    ctrl.Forward(0, 1);
    ctrl.Forward(0, 2);
    if (!display) ctrl.ShowClient(12);
    if (!ctrl.RecvVideo()) {
      state.SkipWithError("RecvVideo failed");
      return;
    }
    Pump(50);
    const std::uint64_t sent = SendAtRate(port, rate);
    Report(state, sent, sinks.Count(), ctrl.m_nDatagramsReceived);
    state.counters["shown"] = static_cast<double>(ctrl.m_nFramesShown);
    ctrl.StopRecv();
  }
}

void BM_RelayGstreamer(benchmark::State& state) {
  const int rate = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Sinks sinks;
    const USHORT port = FreePort();
    const std::string pipeline =
        "udpsrc address=127.0.0.1 port=" + std::to_string(port) +
        " buffer-size=500000 ! multiudpsink sync=false async=false clients=127.0.0.1:" +
        std::to_string(sinks.PortA()) + ",127.0.0.1:" + std::to_string(sinks.PortB());
    std::vector<std::string> args = {"gst-launch-1.0", "-q"};
    for (std::size_t at = 0, next; at < pipeline.size(); at = next + 1) {
      next = pipeline.find(' ', at);
      if (next == std::string::npos) next = pipeline.size();
      args.push_back(pipeline.substr(at, next - at));
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, "gst-launch-1.0", nullptr, nullptr, argv.data(), environ) != 0) {
      state.SkipWithError("gst-launch-1.0 is not installed");
      return;
    }
    // Ready once a probe comes through.
    const SOCKET probe = BoundSocket();
    QElapsedTimer clock;
    clock.start();
    while (sinks.CountA() == 0 && clock.elapsed() < 10000) {
      SendTo(probe, Bytes{0x80, 0x21, 0, 0}, port);
      Pump(50);
    }
    closesocket(probe);
    Pump(100);
    sinks.Reset();
    const std::uint64_t sent = SendAtRate(port, rate);
    Report(state, sent, sinks.Count(), sinks.CountA());
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
}

constexpr int kRates[] = {2000, 5000, 7500, 10000, 20000, 35000, 40000};

void RelayRates(benchmark::internal::Benchmark* b) {
  for (int rate : kRates) b->Arg(rate);
  b->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}

void ControlRates(benchmark::internal::Benchmark* b) {
  for (int display : {1, 0})
    for (int rate : kRates) b->Args({rate, display});
  b->ArgNames({"rate", "display"})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_RelayControl)->Apply(ControlRates);
BENCHMARK(BM_RelayGstreamer)->Apply(RelayRates)->ArgName("rate");

// Keeps the read time of every frame shown, by sequence number.
class ReadTimes : public FrameTimesObserver {
 public:
  explicit ReadTimes(std::size_t frames) : readNs_(frames + 1, 0) {}
  void FrameSent(const SentFrameTimes&) override {}
  void FrameShown(const ShownFrameTimes& times) override {
    if (times.sequence < readNs_.size()) readNs_[times.sequence] = times.readNs;
  }
  std::int64_t ReadNs(std::size_t sequence) const { return readNs_[sequence]; }

 private:
  std::vector<std::int64_t> readNs_;
};

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size())))];
}

// Argument 1: reading on arrival, as the control reads; 0: the tick alone.
void BM_ReceiveLatency(benchmark::State& state) {
  const bool onArrival = state.range(0) != 0;
  constexpr int kFrames = 150;  // five seconds at 30 frames a second
  const Traffic& traffic = TheTraffic();
  for (auto _ : state) {
    ReadTimes reads(kFrames);
    SetFrameTimesObserver(&reads);
    CQuelvoraCtrl ctrl;
    ctrl.CreateControlWindow(nullptr, RECT{0, 0, 352, 288});
    ctrl.Widget()->show();
    const USHORT port = FreePort();
    ctrl.m_endpoints.recvLocal.Store("127.0.0.1", port);
    if (!ctrl.RecvVideo()) {
      state.SkipWithError("RecvVideo failed");
      return;
    }
    if (!onArrival) ctrl.StopReadingOnArrival();
    Pump(50);
    std::vector<std::int64_t> sentNs(kFrames + 1, 0);
    std::atomic<bool> done{false};
    std::thread sender([&] {
      const SOCKET s = BoundSocket();
      const auto start = std::chrono::steady_clock::now();
      for (int sequence = 1; sequence <= kFrames; ++sequence) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(33333) * sequence);
        const auto& frame = traffic.frames[static_cast<std::size_t>(sequence - 1) % traffic.frames.size()];
        sentNs[static_cast<std::size_t>(sequence)] = FrameTimesNowNs();
        for (Bytes d : frame) {
          d[2] = static_cast<std::uint8_t>(sequence >> 8);
          d[3] = static_cast<std::uint8_t>(sequence);
          SendTo(s, d, port);
        }
      }
      closesocket(s);
      done = true;
    });
    while (!done) Pump(10);
    sender.join();
    Pump(100);
    ctrl.StopRecv();
    SetFrameTimesObserver(nullptr);
    std::vector<double> latencyMs;
    for (std::size_t sequence = 1; sequence <= kFrames; ++sequence)
      if (reads.ReadNs(sequence) != 0)
        latencyMs.push_back(static_cast<double>(reads.ReadNs(sequence) - sentNs[sequence]) / 1e6);
    state.counters["shown"] = static_cast<double>(latencyMs.size());
    state.counters["p50_ms"] = Percentile(latencyMs, 0.50);
    state.counters["p95_ms"] = Percentile(latencyMs, 0.95);
    state.counters["max_ms"] = Percentile(latencyMs, 1.0);
  }
}

BENCHMARK(BM_ReceiveLatency)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("arrival")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ReceiveCifFrame(benchmark::State& state) {
  const int bitrate = static_cast<int>(state.range(0));
  const auto stream = test_stream::EncodeStream(352, 288, 60, bitrate, 30);
  CQuelvoraCtrl ctrl;
  ctrl.CreateControlWindow(nullptr, RECT{0, 0, 352, 288});
  ctrl.Widget()->show();
  const USHORT port = FreePort();
  ctrl.m_endpoints.recvLocal.Store("127.0.0.1", port);
  ctrl.RecvVideo();
  ctrl.KillTimer(kRecvTimerID);
  const SOCKET sender = BoundSocket();
  std::uint16_t sequence = 1;
  std::size_t frame = 0, bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    // A new cycle starts from the key frame; the datagrams wait on the receive socket.
    for (const Bytes& d : test_stream::Datagrams(stream[frame], sequence)) {
      SendTo(sender, d, port);
      bytes += d.size();
    }
    ++sequence;
    frame = (frame + 1) % stream.size();
    state.ResumeTiming();
    SendMessage(ctrl.GetSafeHwnd(), WM_TIMER, kRecvTimerID, 0);
    ctrl.KillTimer(kRecvTimerID);
  }
  state.counters["shown/frame"] =
      static_cast<double>(ctrl.m_nFramesShown) / static_cast<double>(state.iterations());
  state.counters["bytes/frame"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
  closesocket(sender);
  ctrl.StopRecv();
}

BENCHMARK(BM_ReceiveCifFrame)
    ->Arg(250000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // The controls hold the socket library; the benchmark's own sockets need it too.
  WSADATA data;
  WSAStartup(MAKEWORD(1, 1), &data);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  WSACleanup();
  return 0;
}
