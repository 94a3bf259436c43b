// The GStreamer elements' CPU per frame beside GStreamer's own RTP elements doing the same job on a
// standard RTP stream (RFC 6416) of the same video, side by side in one run:
//
//   receive:  our datagrams  -> quelvorasrc ! fakesink
//             RTP packets    -> udpsrc ! rtpmp4vdepay ! fakesink
//   send:     appsrc ! quelvorasink                 (our datagrams to a socket)
//             appsrc ! rtpmp4vpay ! udpsink         (RTP packets to a socket)
//
// The video: 150 CIF frames of moving pictures from the control's encoder at 250 kbit/s, a key frame
// every 30 (tests/support/test_stream.h); the RTP packets are what rtpmp4vpay (mtu 828, our largest
// datagram) makes of the same frames. A sender thread sends the datagrams or packets of one frame a
// millisecond to 127.0.0.1. CPU is that of the pipeline's streaming thread (CLOCK_THREAD_CPUTIME_ID,
// read by pad probes from its first frame to its last), which reads the socket, puts the frame
// together (or cuts it up) and pushes it: per frame, over the frames between.
#include <benchmark/benchmark.h>
#include <gio/gio.h>
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_stream.h"

namespace {

using test_stream::Bytes;

constexpr int kFrames = 150;
constexpr const char* kRtpCaps =
    "application/x-rtp,media=video,clock-rate=90000,encoding-name=MP4V-ES,payload=96";

struct Stream {
  std::vector<test_stream::EncodedFrame> frames;
  std::vector<std::vector<Bytes>> ours;  // per frame
  std::vector<std::vector<Bytes>> rtp;   // per frame
};

GstBuffer* FrameBuffer(const test_stream::EncodedFrame& frame, int index) {
  GstBuffer* buffer = gst_buffer_new_memdup(frame.bytes.data(), frame.bytes.size());
  GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(index, GST_SECOND, 15);
  if (!frame.bKeyFrame) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
  return buffer;
}

// rtpmp4vpay's packets of each frame.
std::vector<std::vector<Bytes>> RtpPackets(const std::vector<test_stream::EncodedFrame>& frames) {
  GstElement* pipeline = gst_parse_launch(
      "appsrc name=in format=time caps=video/mpeg,mpegversion=4,systemstream=false,width=352,height=288,"
      "framerate=15/1 ! rtpmp4vpay mtu=828 config-interval=1 ! appsink name=out sync=false",
      nullptr);
  GstElement* in = gst_bin_get_by_name(GST_BIN(pipeline), "in");
  GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline), "out");
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  std::vector<std::vector<Bytes>> packets(frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i)
    gst_app_src_push_buffer(GST_APP_SRC(in), FrameBuffer(frames[i], static_cast<int>(i)));
  gst_app_src_end_of_stream(GST_APP_SRC(in));
  // The payloader sends a frame when the next one arrives; each packet goes with the frame of its
  // timestamp, counted from the first.
  guint32 firstTimestamp = 0;
  bool first = true;
  while (GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(out))) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_READ);
    const guint32 timestamp = (map.data[4] << 24) | (map.data[5] << 16) | (map.data[6] << 8) | map.data[7];
    if (first) firstTimestamp = timestamp;
    first = false;
    const std::size_t index = (timestamp - firstTimestamp) / 6000;  // 90 kHz at 15 fps
    if (index < packets.size()) packets[index].emplace_back(map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
    gst_sample_unref(sample);
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(in);
  gst_object_unref(out);
  gst_object_unref(pipeline);
  return packets;
}

const Stream& TheStream() {
  static const Stream stream = [] {
    Stream s;
    s.frames = test_stream::EncodeStream(352, 288, kFrames, 250000, 30);
    for (std::size_t i = 0; i < s.frames.size(); ++i)
      s.ours.push_back(test_stream::Datagrams(s.frames[i], static_cast<std::uint16_t>(i), "Alice"));
    s.rtp = RtpPackets(s.frames);
    return s;
  }();
  return stream;
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// The streaming thread's CPU from the first buffer through a pad to the last.
struct CpuProbe {
  int buffers = 0;
  double first = 0;
  double last = 0;
  static GstPadProbeReturn OnBuffer(GstPad*, GstPadProbeInfo*, gpointer data) {
    auto* probe = static_cast<CpuProbe*>(data);
    const double now = ThreadCpuSeconds();
    if (probe->buffers++ == 0) probe->first = now;
    probe->last = now;
    return GST_PAD_PROBE_OK;
  }
  double PerFrameUs() const { return buffers > 1 ? (last - first) * 1e6 / (buffers - 1) : 0; }
};

void Probe(GstElement* pipeline, const char* element, CpuProbe* probe) {
  GstElement* e = gst_bin_get_by_name(GST_BIN(pipeline), element);
  GstPad* pad = gst_element_get_static_pad(e, "sink");
  gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, CpuProbe::OnBuffer, probe, nullptr);
  gst_object_unref(pad);
  gst_object_unref(e);
}

GSocket* LoopbackSocket(int* port) {
  GSocket* socket =
      g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP, nullptr);
  GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
  g_socket_bind(socket, address, FALSE, nullptr);
  g_object_unref(address);
  g_object_unref(loopback);
  GSocketAddress* bound = g_socket_get_local_address(socket, nullptr);
  *port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
  g_object_unref(bound);
  return socket;
}

// One run of a receiving pipeline over the whole stream; the CPU per frame of its streaming thread.
double ReceiveOnce(bool ours) {
  const Stream& stream = TheStream();
  const std::string description =
      ours ? "quelvorasrc name=in address=127.0.0.1 port=0 ! fakesink name=out sync=false"
           : std::string("udpsrc name=in address=127.0.0.1 port=0 buffer-size=4000000 caps=\"") + kRtpCaps +
                 "\" ! rtpmp4vdepay ! fakesink name=out sync=false";
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  CpuProbe probe;
  Probe(pipeline, "out", &probe);
  // The source binds its socket on the way to PLAYING (a live pipeline prerolls only on data).
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstElement* in = gst_bin_get_by_name(GST_BIN(pipeline), "in");
  int port = 0;
  g_object_get(in, "port", &port, nullptr);
  gst_object_unref(in);

  int fromPort = 0;
  GSocket* sender = LoopbackSocket(&fromPort);
  GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  GSocketAddress* to = g_inet_socket_address_new(loopback, static_cast<guint16>(port));
  for (const auto& frame : ours ? stream.ours : stream.rtp) {
    for (const Bytes& d : frame)
      g_socket_send_to(sender, to, reinterpret_cast<const gchar*>(d.data()), d.size(), nullptr, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  gst_element_set_state(pipeline, GST_STATE_NULL);
  g_object_unref(to);
  g_object_unref(loopback);
  g_object_unref(sender);
  gst_object_unref(pipeline);
  if (probe.buffers < kFrames * 9 / 10) std::fprintf(stderr, "only %d frames arrived\n", probe.buffers);
  return probe.PerFrameUs();
}

// One run of a sending pipeline over the whole stream.
double SendOnce(bool ours) {
  const Stream& stream = TheStream();
  int port = 0;
  GSocket* receiver = LoopbackSocket(&port);
  const std::string to = "host=127.0.0.1 port=" + std::to_string(port);
  const std::string caps =
      "caps=video/mpeg,mpegversion=4,systemstream=false,width=352,height=288,framerate=15/1";
  const std::string description =
      ours ? "appsrc name=in format=time " + caps + " ! quelvorasink name=out user-name=Alice " + to
           : "appsrc name=in format=time " + caps +
                 " ! rtpmp4vpay name=pay mtu=828 ! udpsink name=out sync=false " + to;
  GstElement* pipeline = gst_parse_launch(description.c_str(), nullptr);
  CpuProbe probe;
  // The payloader's input: the frames as they reach the first element of the job.
  Probe(pipeline, ours ? "out" : "pay", &probe);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstElement* in = gst_bin_get_by_name(GST_BIN(pipeline), "in");
  for (std::size_t i = 0; i < stream.frames.size(); ++i)
    gst_app_src_push_buffer(GST_APP_SRC(in), FrameBuffer(stream.frames[i], static_cast<int>(i)));
  gst_app_src_end_of_stream(GST_APP_SRC(in));
  gst_object_unref(in);
  GstBus* bus = gst_element_get_bus(pipeline);
  if (GstMessage* message = gst_bus_timed_pop_filtered(
          bus, 10 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)))
    gst_message_unref(message);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  g_object_unref(receiver);
  return probe.PerFrameUs();
}

void Report(benchmark::State& state, double (*once)(bool), bool ours) {
  double total = 0;
  int runs = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    total += once(ours);
    ++runs;
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.counters["cpu_us_per_frame"] = total / runs;
}

void BM_Receive_quelvorasrc(benchmark::State& state) { Report(state, ReceiveOnce, true); }
void BM_Receive_udpsrc_rtpmp4vdepay(benchmark::State& state) { Report(state, ReceiveOnce, false); }
void BM_Send_quelvorasink(benchmark::State& state) { Report(state, SendOnce, true); }
void BM_Send_rtpmp4vpay_udpsink(benchmark::State& state) { Report(state, SendOnce, false); }

// Side by side: each pair runs in turn, several times.
BENCHMARK(BM_Receive_quelvorasrc)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Receive_udpsrc_rtpmp4vdepay)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Send_quelvorasink)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Send_rtpmp4vpay_udpsink)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  gst_init(&argc, &argv);
  GError* error = nullptr;
  if (GstPlugin* plugin = gst_plugin_load_file(QV_GST_PLUGIN, &error)) {
    gst_object_unref(plugin);
  } else {
    std::fprintf(stderr, "cannot load %s: %s\n", QV_GST_PLUGIN, error->message);
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
