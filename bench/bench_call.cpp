// A call end to end on loopback, sender and receiver in two processes, beside GStreamer pairs in
// two processes. Every side that shows pictures shows them in a real window on one virtual X display
// (an Xvfb the benchmark starts), so that painting and its flush cost what they cost on a desktop.
//
// GStreamer doing the same job as the controls (a preview, the name drawn, the received picture shown):
//
//   videotestsrc is-live=true horizontal-speed=4 ! video/x-raw,format=BGR,width=352,height=288,
//     framerate=F/1 ! textoverlay text=Alice valignment=bottom font-desc="Mono 12" ! tee name=t
//     t. ! queue ! videoconvert ! ximagesink sync=false
//     t. ! queue ! videoconvert ! avenc_mpeg4 bitrate=250000 gop-size=30
//        ! rtpmp4vpay mtu=812 config-interval=1 ! udpsink sync=false host=127.0.0.1 port=P
//   udpsrc address=127.0.0.1 port=P caps=application/x-rtp,...,encoding-name=MP4V-ES ! rtpmp4vdepay
//     ! avdec_mpeg4 ! videoconvert ! videoscale ! ximagesink sync=false
//
// and the bare pair, a second row: no preview, no name, nothing drawn on the receiving side:
//
//   videotestsrc ... format=I420 ... ! avenc_mpeg4 ... ! rtpmp4vpay ... ! udpsink ...
//   udpsrc ... ! rtpmp4vdepay ! avdec_mpeg4 ! fakesink
//
// CIF, 250 kbit/s, a key frame every 30 frames, at 15 frames a second and at 30 (the fastest rate
// a control sends at; the test camera delivers at the period the control asks for). The GStreamer
// sides run those pipelines through gst_parse_launch, as gst-launch-1.0 does, with pad probes.
// The test picture moves on both sides (moving bars and box here, bars moving 4 pixels a frame
// there). udpsink does not wait on the clock: the encoder's buffers reach it without a usable
// time and it would stall; the live source already paces the frames, as the capture does ours.
// A third control row has the receiving control record the peer into an AVI file while it shows it.
//
// Measured over kWindowSeconds once both sides run:
// - CPU per frame of each process (utime + stime from /proc/<pid>/stat, every thread, the ones
//   that ended included) divided by the frames it sent or drew in the window; for the sending
//   control also its UI thread alone (the preview). The sending control captures the test camera,
//   shows its preview, draws the name and encodes; the receiving one decodes, converts and draws
//   into its window.
// - Latency of each frame from capture to drawn: for a control, from the capture callback's entry
//   to the return of its draw (net/frame_times.h); for GStreamer, from the buffer leaving
//   videotestsrc to it reaching the receiving sink. Both processes read CLOCK_MONOTONIC.
// - Encode: capture to encoded (the copy and the name included); decode: the frame's last
//   datagram read to drawn (control), or leaving udpsrc to the sink (GStreamer). "excess" is
//   latency - encode - decode: the frame's time between encoder and receiver, for a control at
//   most one receive tick (30 ms) by design.
//
// The programme runs the sides as child processes of itself (--role ...).
#include <benchmark/benchmark.h>
#include <gst/gst.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "control/quelvora_ctrl.h"
#include "net/frame_times.h"
#include "platform/vfw/capture_driver.h"

extern char** environ;

namespace {

constexpr double kWarmUpSeconds = 2.0;
constexpr double kWindowSeconds = 10.0;
constexpr int kBandwidth = 250000;
constexpr int kKeyFrameInterval = 30;  // what a control derives from 250 kbit/s

std::atomic<bool> g_stop{false};
void OnTerm(int) { g_stop.store(true); }

// ---- The child processes ----

// Records of one side, written to a file when the side stops. Lines:
//   sent <sequence> <captured> <encoded> <sent>     (ns)
//   shown <sequence> <read> <drawn>
class Recorder : public FrameTimesObserver {
 public:
  void FrameSent(const SentFrameTimes& t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_ << "sent " << t.sequence << ' ' << t.capturedNs << ' ' << t.encodedNs << ' ' << t.sentNs << '\n';
  }
  void FrameShown(const ShownFrameTimes& t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_ << "shown " << t.sequence << ' ' << t.readNs << ' ' << t.drawnNs << '\n';
  }
  void Add(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_ << line << '\n';
  }
  void Write(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::ofstream(path) << lines_.str();
  }

 private:
  std::mutex mutex_;
  std::ostringstream lines_;
};

void SayReady() {
  std::fputs("ready\n", stdout);
  std::fflush(stdout);
}

// A receiving control that records writes the peer's frames to this file beside its records.
std::string RecordingFile(const std::string& out) { return out + ".avi"; }

// `port` is the receiver's; the sender sends from port + 1 so that a recording receiver can name it.
int RunControlSide(bool sender, bool record, int port, int fps, const std::string& out, int argc,
                   char** argv) {
  QApplication app(argc, argv);
  Recorder recorder;
  SetFrameTimesObserver(&recorder);
  CaptureDriverConfig testCameraOnly;
  testCameraOnly.v4l2 = false;
  testCameraOnly.testCamera = true;
  ConfigureCaptureDrivers(testCameraOnly);
  auto ctrl = std::make_unique<CQuelvoraCtrl>();
  ctrl->CreateControlWindow(nullptr, RECT{0, 0, 352, 288});
  ctrl->Widget()->show();
  const std::string ip = "127.0.0.1";
  if (sender) {
    ctrl->SetUserName("Alice");
    ctrl->SetSendFrameRate(static_cast<short>(fps));
    ctrl->SetVideoInFormat("CIF");
    ctrl->SetBandwidth(kBandwidth, 1);
    ctrl->SetLocalIPAddress(ip.c_str(), static_cast<short>(port + 1));
    ctrl->SetRemoteIPAddress(ip.c_str(), static_cast<short>(port));
    if (!ctrl->InitCapture(0) || !ctrl->SendVideo()) return 2;
  } else {
    ctrl->SetVideoOutFormat("CIF");
    ctrl->SetBandwidth(kBandwidth, 2);
    ctrl->SetLocalIPAddress(ip.c_str(), static_cast<short>(port));
    if (!ctrl->RecvVideo()) return 2;
    if (record) {
      const long id =
          ctrl->AddClient(ip.c_str(), static_cast<short>(port + 1), RecordingFile(out).c_str(), "Alice");
      if (id <= 0 || !ctrl->ShowClient(id)) return 2;
    }
  }
  SayReady();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (g_stop.load()) app.quit();
  });
  poll.start(250);
  app.exec();
  if (sender) {
    ctrl->StopSend();
    ctrl->CloseCapture();
  } else {
    ctrl->StopRecv();
  }
  SetFrameTimesObserver(nullptr);
  ctrl.reset();
  recorder.Write(out);
  return 0;
}

// GStreamer sides: the pipelines gst-launch-1.0 would run, with pad probes that stamp buffers.
// Lines: "src <ns>" per raw frame leaving videotestsrc, "enc <ns>" per encoded frame, "mark <rtp
// timestamp> <ns>" per datagram that ends a frame (leaving the payloader, or leaving udpsrc), "sink
// <ns>" per decoded frame reaching the receiving sink.
std::int64_t NowNs() { return FrameTimesNowNs(); }

GstPadProbeReturn StampProbe(GstPad*, GstPadProbeInfo*, gpointer data) {
  static_cast<std::vector<std::int64_t>*>(data)->push_back(NowNs());
  return GST_PAD_PROBE_OK;
}

struct Marks {
  std::vector<std::pair<std::uint16_t, std::int64_t>> marks;  // RTP sequence number, time
};

void Mark(GstBuffer* buffer, Marks* marks) {
  GstMapInfo map;
  if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
  if (map.size >= 12 && (map.data[1] & 0x80)) {
    const auto sequence = static_cast<std::uint16_t>((map.data[2] << 8) | map.data[3]);
    marks->marks.emplace_back(sequence, NowNs());
  }
  gst_buffer_unmap(buffer, &map);
}

GstPadProbeReturn MarkProbe(GstPad*, GstPadProbeInfo* info, gpointer data) {
  auto* marks = static_cast<Marks*>(data);
  if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
    GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
    for (guint i = 0; i < gst_buffer_list_length(list); ++i) Mark(gst_buffer_list_get(list, i), marks);
  } else {
    Mark(GST_PAD_PROBE_INFO_BUFFER(info), marks);
  }
  return GST_PAD_PROBE_OK;
}

void Probe(GstElement* pipeline, const char* element, const char* pad, GstPadProbeCallback callback,
           gpointer data) {
  GstElement* e = gst_bin_get_by_name(GST_BIN(pipeline), element);
  GstPad* p = gst_element_get_static_pad(e, pad);
  gst_pad_add_probe(p,
                    static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                    callback, data, nullptr);
  gst_object_unref(p);
  gst_object_unref(e);
}

// The pipelines of one side: the same job as a control's (`sameJob`) or the bare pair.
std::string GstreamerPipeline(bool sender, bool sameJob, int port, int fps) {
  const std::string p = std::to_string(port);
  const std::string encode = "avenc_mpeg4 name=enc bitrate=" + std::to_string(kBandwidth) +
                             " gop-size=" + std::to_string(kKeyFrameInterval) +
                             " ! rtpmp4vpay name=pay mtu=812 config-interval=1 ! udpsink sync=false "
                             "host=127.0.0.1 port=" +
                             p;
  const std::string source = "videotestsrc name=src is-live=true horizontal-speed=4 ! video/x-raw,format=" +
                             std::string(sameJob ? "BGR" : "I420") +
                             ",width=352,height=288,framerate=" + std::to_string(fps) + "/1";
  if (sender && sameJob)
    return source +
           " ! textoverlay text=Alice valignment=bottom font-desc=\"Mono 12\" ! tee name=t"
           " t. ! queue ! videoconvert ! ximagesink sync=false"
           " t. ! queue ! videoconvert ! " +
           encode;
  if (sender) return source + " ! " + encode;
  const std::string receive = "udpsrc name=src address=127.0.0.1 port=" + p +
                              " caps=\"application/x-rtp,media=video,clock-rate=90000,encoding-name=MP4V-"
                              "ES,payload=96\" ! rtpmp4vdepay ! avdec_mpeg4 ! ";
  return receive +
         (sameJob ? "videoconvert ! videoscale ! ximagesink name=sink sync=false" : "fakesink name=sink");
}

int RunGstreamerSide(bool sender, bool sameJob, int port, int fps, const std::string& out) {
  gst_init(nullptr, nullptr);
  const std::string description = GstreamerPipeline(sender, sameJob, port, fps);
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (!pipeline) {
    std::fprintf(stderr, "%s\n", error ? error->message : "pipeline");
    return 2;
  }
  std::vector<std::int64_t> src, enc, sink;
  Marks marks;
  if (sender) {
    Probe(pipeline, "src", "src", StampProbe, &src);
    Probe(pipeline, "enc", "src", StampProbe, &enc);
    Probe(pipeline, "pay", "src", MarkProbe, &marks);
  } else {
    Probe(pipeline, "src", "src", MarkProbe, &marks);
    Probe(pipeline, "sink", "sink", StampProbe, &sink);
  }
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) return 2;
  SayReady();
  // What gst-launch-1.0 does with the bus: latency changes are redistributed, errors end the run.
  GstBus* bus = gst_element_get_bus(pipeline);
  while (!g_stop.load()) {
    GstMessage* message = gst_bus_timed_pop(bus, 250 * GST_MSECOND);
    if (!message) continue;
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_LATENCY) gst_bin_recalculate_latency(GST_BIN(pipeline));
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
      GError* e = nullptr;
      gst_message_parse_error(message, &e, nullptr);
      std::fprintf(stderr, "%s\n", e ? e->message : "error");
      g_clear_error(&e);
      gst_message_unref(message);
      break;
    }
    gst_message_unref(message);
  }
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  std::ofstream file(out);
  for (auto t : src) file << "src " << t << '\n';
  for (auto t : enc) file << "enc " << t << '\n';
  for (auto [ts, t] : marks.marks) file << "mark " << ts << ' ' << t << '\n';
  for (auto t : sink) file << "sink " << t << '\n';
  return 0;
}

// ---- The parent: starts the sides, reads their CPU, joins their records ----

struct Child {
  pid_t pid = -1;
  FILE* out = nullptr;  // the child's stdout
};

Child Spawn(const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  Child child;
  if (posix_spawn(&child.pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ) != 0) child.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  child.out = fdopen(fds[0], "r");
  return child;
}

bool WaitReady(Child& child) {
  char line[64];
  return child.pid > 0 && std::fgets(line, sizeof line, child.out) && std::strncmp(line, "ready", 5) == 0;
}

void Stop(Child& child) {
  if (child.pid <= 0) return;
  kill(child.pid, SIGTERM);
  waitpid(child.pid, nullptr, 0);
  fclose(child.out);
  child.pid = -1;
}

// utime + stime in seconds from a /proc stat file (of a process, or of one of its threads).
double CpuSecondsFrom(const std::string& path) {
  std::ifstream f(path);
  std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(stat.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Cpu {
  double process = 0;
  double mainThread = 0;  // the UI thread of a control; the thread that only waits in GStreamer
};

Cpu CpuOf(pid_t pid) {
  const std::string dir = "/proc/" + std::to_string(pid);
  return {CpuSecondsFrom(dir + "/stat"), CpuSecondsFrom(dir + "/task/" + std::to_string(pid) + "/stat")};
}

void Sleep(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t i =
      std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
  return v[i];
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream f(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(f, line);) lines.push_back(line);
  return lines;
}

// A free UDP port whose successor is free too (the sending control's port, see RunControlSide).
int FreePortPair() {
  using namespace winsock;
  for (;;) {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    int length = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    const int port = ntohs(a.sin_port);
    const SOCKET next = socket(AF_INET, SOCK_DGRAM, 0);
    a.sin_port = htons(static_cast<u_short>(port + 1));
    const bool free = port < 65535 && bind(next, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    closesocket(next);
    closesocket(s);
    if (free) return port;
  }
}

// Runs one call: receiver first, then sender; the window starts kWarmUpSeconds after the sender
// is ready. Returns the window's bounds and the CPU each side used in it.
struct Run {
  std::string sendFile, recvFile;
  std::int64_t from = 0, to = 0;
  double sendCpu = 0, recvCpu = 0;
  double sendMainCpu = 0;
  bool ok = false;
};

Run RunCall(const std::string& kind, int fps) {
  Run run;
  const std::string port = std::to_string(FreePortPair());
  const std::string dir = std::getenv("QV_BENCH_DIR") ? std::getenv("QV_BENCH_DIR") : "/var/tmp";
  const std::string stem = dir + "/qv_bench_call_" + std::to_string(getpid()) + "_" + kind;
  run.sendFile = stem + "_send.txt";
  run.recvFile = stem + "_recv.txt";
  const std::string sendRole = kind == "record" ? "control-send" : kind + "-send";
  Child recv = Spawn({"bench_call", "--role", kind + "-recv", port, std::to_string(fps), run.recvFile});
  if (!WaitReady(recv)) {
    Stop(recv);
    return run;
  }
  Child send = Spawn({"bench_call", "--role", sendRole, port, std::to_string(fps), run.sendFile});
  if (!WaitReady(send)) {
    Stop(send);
    Stop(recv);
    return run;
  }
  Sleep(kWarmUpSeconds);
  run.from = NowNs();
  const Cpu send0 = CpuOf(send.pid), recv0 = CpuOf(recv.pid);
  Sleep(kWindowSeconds);
  run.to = NowNs();
  const Cpu send1 = CpuOf(send.pid), recv1 = CpuOf(recv.pid);
  run.sendCpu = send1.process - send0.process;
  run.sendMainCpu = send1.mainThread - send0.mainThread;
  run.recvCpu = recv1.process - recv0.process;
  Stop(send);
  Sleep(0.3);
  Stop(recv);
  run.ok = true;
  return run;
}

// One frame that crossed: times in ns.
struct Crossing {
  std::int64_t captured, encoded, read, drawn;
};

void Report(benchmark::State& state, const std::vector<Crossing>& frames, std::size_t sentInWindow,
            std::size_t drawnInWindow, const Run& run) {
  std::vector<double> latency, encode, decode, excess;
  for (const Crossing& c : frames) {
    latency.push_back(static_cast<double>(c.drawn - c.captured) / 1e6);
    encode.push_back(static_cast<double>(c.encoded - c.captured) / 1e6);
    decode.push_back(static_cast<double>(c.drawn - c.read) / 1e6);
    excess.push_back(
        static_cast<double>((c.drawn - c.captured) - (c.encoded - c.captured) - (c.drawn - c.read)) / 1e6);
  }
  state.counters["sent"] = static_cast<double>(sentInWindow);
  state.counters["drawn"] = static_cast<double>(drawnInWindow);
  state.counters["matched"] = static_cast<double>(frames.size());
  const auto perFrame = [](double seconds, std::size_t n) {
    return n ? 1000.0 * seconds / static_cast<double>(n) : 0;
  };
  state.counters["send_ms/f"] = perFrame(run.sendCpu, sentInWindow);
  state.counters["send_main_ms/f"] = perFrame(run.sendMainCpu, sentInWindow);
  state.counters["recv_ms/f"] = perFrame(run.recvCpu, drawnInWindow);
  state.counters["lat_p50"] = Percentile(latency, 0.5);
  state.counters["lat_p95"] = Percentile(latency, 0.95);
  state.counters["enc_p50"] = Percentile(encode, 0.5);
  state.counters["dec_p50"] = Percentile(decode, 0.5);
  state.counters["excess_p50"] = Percentile(excess, 0.5);
  state.counters["excess_p95"] = Percentile(excess, 0.95);
  state.counters["excess_max"] = Percentile(excess, 1.0);
}

bool InWindow(const Run& run, std::int64_t t) { return t >= run.from && t < run.to; }

void CallControl(benchmark::State& state, const std::string& kind) {
  const int fps = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const Run run = RunCall(kind, fps);
    if (!run.ok) {
      state.SkipWithError("a side did not start");
      return;
    }
    std::map<std::uint16_t, Crossing> sent;  // by sequence; the window is far shorter than a wrap
    std::size_t sentInWindow = 0, drawnInWindow = 0;
    for (const std::string& line : Lines(run.sendFile)) {
      std::istringstream in(line);
      std::string kind;
      unsigned sequence = 0;
      Crossing c{};
      std::int64_t sentNs = 0;
      in >> kind >> sequence >> c.captured >> c.encoded >> sentNs;
      if (kind != "sent" || !InWindow(run, c.captured)) continue;
      ++sentInWindow;
      sent[static_cast<std::uint16_t>(sequence)] = c;
    }
    std::vector<Crossing> frames;
    for (const std::string& line : Lines(run.recvFile)) {
      std::istringstream in(line);
      std::string kind;
      unsigned sequence = 0;
      std::int64_t read = 0, drawn = 0;
      in >> kind >> sequence >> read >> drawn;
      if (kind != "shown" || !InWindow(run, drawn)) continue;
      ++drawnInWindow;
      auto it = sent.find(static_cast<std::uint16_t>(sequence));
      if (it == sent.end()) continue;
      Crossing c = it->second;
      c.read = read;
      c.drawn = drawn;
      frames.push_back(c);
    }
    Report(state, frames, sentInWindow, drawnInWindow, run);
    std::remove(run.sendFile.c_str());
    std::remove(run.recvFile.c_str());
    std::remove(RecordingFile(run.recvFile).c_str());
  }
}

void CallGstreamer(benchmark::State& state, const std::string& kind) {
  const int fps = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const Run run = RunCall(kind, fps);
    if (!run.ok) {
      state.SkipWithError("a GStreamer side did not start (gstreamer1.0-libav, -plugins-good?)");
      return;
    }
    // Sender: the k-th raw frame is the k-th encoded frame and the k-th frame-ending datagram (no
    // B-frames, no frame skipping); receiver: the k-th frame-ending datagram read is the k-th frame
    // decoded. The sequence number of the frame's last datagram joins the two (the payloader's RTP
    // timestamps do not: the encoder's buffers reach it without a time, see udpsink sync=false).
    std::vector<std::int64_t> src, enc, sink;
    std::vector<std::pair<std::uint16_t, std::int64_t>> sentMarks, readMarks;
    for (const std::string& line : Lines(run.sendFile)) {
      std::istringstream in(line);
      std::string kind;
      in >> kind;
      std::int64_t t = 0;
      unsigned ts = 0;
      if (kind == "src" && in >> t) src.push_back(t);
      if (kind == "enc" && in >> t) enc.push_back(t);
      if (kind == "mark" && in >> ts >> t) sentMarks.emplace_back(static_cast<std::uint16_t>(ts), t);
    }
    for (const std::string& line : Lines(run.recvFile)) {
      std::istringstream in(line);
      std::string kind;
      in >> kind;
      std::int64_t t = 0;
      unsigned ts = 0;
      if (kind == "sink" && in >> t) sink.push_back(t);
      if (kind == "mark" && in >> ts >> t) readMarks.emplace_back(static_cast<std::uint16_t>(ts), t);
    }
    std::map<std::uint16_t, Crossing> sent;
    std::size_t sentInWindow = 0, drawnInWindow = 0;
    const std::size_t nSent = std::min({src.size(), enc.size(), sentMarks.size()});
    for (std::size_t k = 0; k < nSent; ++k) {
      if (!InWindow(run, src[k])) continue;
      ++sentInWindow;
      sent[sentMarks[k].first] = Crossing{src[k], enc[k], 0, 0};
    }
    std::vector<Crossing> frames;
    const std::size_t nRead = std::min(sink.size(), readMarks.size());
    for (std::size_t k = 0; k < nRead; ++k) {
      if (!InWindow(run, sink[k])) continue;
      ++drawnInWindow;
      auto it = sent.find(readMarks[k].first);
      if (it == sent.end()) continue;
      Crossing c = it->second;
      c.read = readMarks[k].second;
      c.drawn = sink[k];
      frames.push_back(c);
    }
    state.counters["unmatched"] =
        static_cast<double>(src.size() - nSent + enc.size() - nSent + sentMarks.size() - nSent + sink.size() -
                            nRead + readMarks.size() - nRead);
    Report(state, frames, sentInWindow, drawnInWindow, run);
    std::remove(run.sendFile.c_str());
    std::remove(run.recvFile.c_str());
  }
}

void Rates(benchmark::internal::Benchmark* b) {
  b->Arg(15)->Arg(30)->ArgName("fps")->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
}
void BM_CallControl(benchmark::State& state) { CallControl(state, "control"); }
void BM_CallControlShownAndRecorded(benchmark::State& state) { CallControl(state, "record"); }
void BM_CallGstreamerSameJob(benchmark::State& state) { CallGstreamer(state, "gst"); }
void BM_CallGstreamerBare(benchmark::State& state) { CallGstreamer(state, "bare"); }
BENCHMARK(BM_CallControl)->Apply(Rates);
BENCHMARK(BM_CallGstreamerSameJob)->Apply(Rates);
BENCHMARK(BM_CallGstreamerBare)->Apply(Rates);
BENCHMARK(BM_CallControlShownAndRecorded)->Apply(Rates);

// The virtual display every side shows its windows on, for the whole run; an already running
// one is used when QV_BENCH_DISPLAY names it.
struct VirtualDisplay {
  pid_t pid = -1;
  bool Start() {
    if (const char* named = std::getenv("QV_BENCH_DISPLAY")) return setenv("DISPLAY", named, 1) == 0;
    // The first display number nobody holds; the server is up once its socket appears.
    int number = 90;
    while (access(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), F_OK) == 0) ++number;
    const std::string name = ":" + std::to_string(number);
    std::vector<std::string> args = {"Xvfb", name, "-screen", "0", "1024x768x24", "-nolisten", "tcp"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid, "Xvfb", nullptr, nullptr, argv.data(), environ) != 0) return false;
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    for (int i = 0; i < 100 && access(socket.c_str(), F_OK) != 0; ++i) Sleep(0.05);
    return access(socket.c_str(), F_OK) == 0 && setenv("DISPLAY", name.c_str(), 1) == 0;
  }
  ~VirtualDisplay() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 6 && std::strcmp(argv[1], "--role") == 0) {
    std::signal(SIGTERM, OnTerm);
    const std::string role = argv[2];
    const int port = std::atoi(argv[3]);
    const int fps = std::atoi(argv[4]);
    const std::string out = argv[5];
    if (role == "control-send" || role == "control-recv" || role == "record-recv")
      return RunControlSide(role == "control-send", role == "record-recv", port, fps, out, argc, argv);
    if (role == "gst-send" || role == "gst-recv" || role == "bare-send" || role == "bare-recv")
      return RunGstreamerSide(role.ends_with("-send"), role.starts_with("gst"), port, fps, out);
    return 2;
  }
  VirtualDisplay display;
  if (!display.Start()) {
    std::fprintf(stderr, "bench_call: no virtual display (is xvfb installed?)\n");
    return 1;
  }
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  signal(SIGPIPE, SIG_IGN);
  winsock::WSADATA data;
  winsock::WSAStartup(winsock::MAKEWORD(1, 1), &data);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  winsock::WSACleanup();
  return 0;
}
