// Encode and decode time per frame of the codec adapter with the sending preset, beside libavcodec's
// MPEG-4 encoder and decoder on the same frames at the same bit rate. Both sides start from and end in
// bottom-up B,G,R pictures, as the control's frames are, so libavcodec's side includes swscale's
// conversion. Both run on one thread without B-frames. A table with the ratios, the bit rate achieved and
// the PSNR follows the benchmark output.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "codec/frame_encoder.h"
#include "codec/xvid21.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kFrames = 60;
constexpr int kFps = 25;  // the encoder's rate control assumes 25 frames a second
constexpr int kKeyInterval = 30;

struct Size {
  int width;
  int height;
  int bitrate;
  const char* name;
};
constexpr Size kSizes[] = {
    {176, 144, 128000, "QCIF"}, {352, 288, 250000, "CIF"}, {704, 576, 1000000, "4CIF"}};

// Bottom-up B,G,R: gradients, a moving box and a moving texture, so that motion search has work to do.
Bytes Picture(int width, int height, int frame) {
  Bytes picture(static_cast<std::size_t>(width) * height * 3);
  const int boxX = (frame * 4) % (width - width / 4);
  const int boxY = (frame * 3) % (height - height / 4);
  for (int row = 0; row < height; ++row) {
    const int y = height - 1 - row;
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &picture[(static_cast<std::size_t>(row) * width + x) * 3];
      const bool inBox = x >= boxX && x < boxX + width / 6 && y >= boxY && y < boxY + height / 6;
      const int texture = ((x + frame * 2) / 8 + (y + frame) / 8) % 2 ? 24 : 0;
      p[0] = static_cast<std::uint8_t>(inBox ? 230 : 40 + (x * 150) / width + texture);
      p[1] = static_cast<std::uint8_t>(inBox ? 200 : 30 + (y * 170) / height);
      p[2] = static_cast<std::uint8_t>(inBox ? 60 : 90 + ((x * y) >> 9) % 40 + texture);
    }
  }
  return picture;
}

const std::vector<Bytes>& Pictures(const Size& s) {
  static std::map<int, std::vector<Bytes>> cache;
  auto& pictures = cache[s.width];
  if (pictures.empty()) {
    for (int i = 0; i < kFrames; ++i) pictures.push_back(Picture(s.width, s.height, i));
  }
  return pictures;
}

double Psnr(const Bytes& a, const std::uint8_t* b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  const double mse = sum / static_cast<double>(a.size());
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// ---- the codec adapter ----

std::vector<Bytes> OursEncode(const Size& s) {
  using namespace xvid21;
  XVID_ENC_PARAM param{};
  codec::FillEncoderParam(&param, s.width, s.height, s.bitrate, kKeyInterval);
  if (xvid_encore(nullptr, XVID_ENC_CREATE, &param, nullptr) != XVID_ERR_OK) return {};
  codec::KeyFrameRule rule;
  Bytes packet(100000);
  std::vector<Bytes> stream;
  for (const Bytes& picture : Pictures(s)) {
    XVID_ENC_FRAME frame{};
    XVID_ENC_STATS stats{};
    const codec::FrameToEncode in{const_cast<std::uint8_t*>(picture.data()),
                                  false,
                                  packet.data() + 28,
                                  100000 - 28,
                                  codec::kDefaultQualityIndex,
                                  kKeyInterval};
    if (codec::EncodeFrame(param.handle, in, &frame, &stats, rule) != XVID_ERR_OK) return {};
    stream.emplace_back(packet.begin() + 28, packet.begin() + 28 + frame.length);
  }
  xvid_encore(param.handle, XVID_ENC_DESTROY, nullptr, nullptr);
  return stream;
}

// Decodes every frame into a picture buffer; calls `each` with it after every frame.
template <typename Each>
bool OursDecode(const Size& s, const std::vector<Bytes>& stream, Each each) {
  using namespace xvid21;
  XVID_DEC_PARAM param{s.width, s.height, nullptr};
  if (xvid_decore(nullptr, XVID_DEC_CREATE, &param, nullptr) != XVID_ERR_OK) return false;
  static Bytes picture(704 * 576 * 3);
  bool ok = true;
  for (std::size_t i = 0; i < stream.size() && ok; ++i) {
    XVID_DEC_FRAME frame{};
    frame.bitstream = const_cast<std::uint8_t*>(stream[i].data());
    frame.length = static_cast<int>(stream[i].size());
    frame.image = picture.data();
    frame.stride = s.width;
    frame.colorspace = static_cast<int>(XVID_CSP_RGB24 | XVID_CSP_VFLIP);
    ok = xvid_decore(param.handle, XVID_DEC_DECODE, &frame, nullptr) == XVID_ERR_OK;
    if (ok) each(i, picture.data());
  }
  xvid_decore(param.handle, XVID_DEC_DESTROY, nullptr, nullptr);
  return ok;
}

// ---- libavcodec ----

std::vector<Bytes> LavcEncode(const Size& s) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->width = s.width;
  ctx->height = s.height;
  ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  ctx->time_base = AVRational{1, kFps};
  ctx->framerate = AVRational{kFps, 1};
  ctx->bit_rate = s.bitrate;
  // A one-second rate buffer: without one libavcodec's single pass runs far over its target on a
  // sequence this short, and the bit rates would not be comparable.
  ctx->rc_buffer_size = s.bitrate;
  ctx->rc_max_rate = s.bitrate;
  ctx->rc_min_rate = 0;
  ctx->gop_size = kKeyInterval;
  ctx->max_b_frames = 0;
  ctx->qmin = 1;
  ctx->qmax = 31;
  ctx->thread_count = 1;
  ctx->flags |= AV_CODEC_FLAG_4MV;  // as the preset's four vectors per macroblock
  std::vector<Bytes> stream;
  if (avcodec_open2(ctx, codec, nullptr) < 0) return stream;
  SwsContext* sws = sws_getContext(s.width, s.height, AV_PIX_FMT_BGR24, s.width, s.height, AV_PIX_FMT_YUV420P,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
  AVFrame* frame = av_frame_alloc();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = s.width;
  frame->height = s.height;
  av_frame_get_buffer(frame, 0);
  AVPacket* packet = av_packet_alloc();
  auto drain = [&] {
    while (avcodec_receive_packet(ctx, packet) == 0) {
      stream.emplace_back(packet->data, packet->data + packet->size);
      av_packet_unref(packet);
    }
  };
  int index = 0;
  for (const Bytes& picture : Pictures(s)) {
    av_frame_make_writable(frame);
    // Bottom-up source: start at the last row and walk up.
    const std::uint8_t* src[1] = {picture.data() + static_cast<std::size_t>(s.height - 1) * s.width * 3};
    const int srcStride[1] = {-s.width * 3};
    sws_scale(sws, src, srcStride, 0, s.height, frame->data, frame->linesize);
    frame->pts = index++;
    avcodec_send_frame(ctx, frame);
    drain();
  }
  avcodec_send_frame(ctx, nullptr);
  drain();
  av_packet_free(&packet);
  av_frame_free(&frame);
  sws_freeContext(sws);
  avcodec_free_context(&ctx);
  return stream;
}

template <typename Each>
bool LavcDecode(const Size& s, const std::vector<Bytes>& stream, Each each) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->thread_count = 1;
  if (avcodec_open2(ctx, codec, nullptr) < 0) return false;
  SwsContext* sws = sws_getContext(s.width, s.height, AV_PIX_FMT_YUV420P, s.width, s.height, AV_PIX_FMT_BGR24,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
  static Bytes picture(704 * 576 * 3);
  Bytes input;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  std::size_t decoded = 0;
  auto drain = [&] {
    while (avcodec_receive_frame(ctx, frame) == 0) {
      std::uint8_t* dst[1] = {picture.data() + static_cast<std::size_t>(s.height - 1) * s.width * 3};
      const int dstStride[1] = {-s.width * 3};
      sws_scale(sws, frame->data, frame->linesize, 0, s.height, dst, dstStride);
      each(decoded++, picture.data());
    }
  };
  for (const Bytes& f : stream) {
    input.assign(f.begin(), f.end());
    input.resize(f.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet->data = input.data();
    packet->size = static_cast<int>(f.size());
    avcodec_send_packet(ctx, packet);
    drain();
  }
  avcodec_send_packet(ctx, nullptr);
  drain();
  av_frame_free(&frame);
  av_packet_free(&packet);
  sws_freeContext(sws);
  avcodec_free_context(&ctx);
  return decoded == stream.size();
}

// ---- measurements ----

struct Result {
  double msPerFrame = 0;
  double kbps = 0;
  double psnr = 0;
};
std::map<std::string, Result> g_results;  // "encode/ours/CIF" ...

double Kbps(const std::vector<Bytes>& stream) {
  std::size_t bytes = 0;
  for (const Bytes& f : stream) bytes += f.size();
  return static_cast<double>(bytes) * 8 * kFps / static_cast<double>(stream.size()) / 1000.0;
}

template <typename Encode, typename Decode>
double StreamPsnr(const Size& s, Encode encode, Decode decode) {
  const std::vector<Bytes> stream = encode(s);
  double sum = 0;
  decode(s, stream,
         [&](std::size_t i, const std::uint8_t* picture) { sum += Psnr(Pictures(s)[i], picture); });
  return sum / kFrames;
}

void Record(benchmark::State& state, const std::string& key, double kbps, double psnr) {
  Result& r = g_results[key];
  r.kbps = kbps;
  r.psnr = psnr;
  state.counters["kbit/s"] = kbps;
  state.counters["PSNR"] = psnr;
  // CPU seconds per frame: the machine is shared, so CPU time says more than wall time.
  state.counters["frame"] = benchmark::Counter(static_cast<double>(state.iterations()) * kFrames,
                                               benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_EncodeOurs(benchmark::State& state) {
  const Size& s = kSizes[state.range(0)];
  Pictures(s);
  std::vector<Bytes> stream;
  for (auto _ : state) benchmark::DoNotOptimize(stream = OursEncode(s));
  if (stream.size() != kFrames) state.SkipWithError("encode failed");
  Record(state, std::string("encode/ours/") + s.name, Kbps(stream),
         StreamPsnr(s, OursEncode, [](auto& sz, auto& st, auto each) { return OursDecode(sz, st, each); }));
}

void BM_EncodeLavc(benchmark::State& state) {
  const Size& s = kSizes[state.range(0)];
  Pictures(s);
  std::vector<Bytes> stream;
  for (auto _ : state) benchmark::DoNotOptimize(stream = LavcEncode(s));
  if (stream.size() != kFrames) state.SkipWithError("encode failed");
  Record(state, std::string("encode/lavc/") + s.name, Kbps(stream),
         StreamPsnr(s, LavcEncode, [](auto& sz, auto& st, auto each) { return LavcDecode(sz, st, each); }));
}

// Both decoders decode the same stream, the one the adapter's encoder made.
void BM_DecodeOurs(benchmark::State& state) {
  const Size& s = kSizes[state.range(0)];
  const std::vector<Bytes> stream = OursEncode(s);
  for (auto _ : state) {
    if (!OursDecode(s, stream, [](std::size_t, const std::uint8_t* p) { benchmark::DoNotOptimize(p); })) {
      state.SkipWithError("decode failed");
      break;
    }
  }
  Record(state, std::string("decode/ours/") + s.name, Kbps(stream),
         StreamPsnr(s, OursEncode, [](auto& sz, auto& st, auto each) { return OursDecode(sz, st, each); }));
}

void BM_DecodeLavc(benchmark::State& state) {
  const Size& s = kSizes[state.range(0)];
  const std::vector<Bytes> stream = OursEncode(s);
  for (auto _ : state) {
    if (!LavcDecode(s, stream, [](std::size_t, const std::uint8_t* p) { benchmark::DoNotOptimize(p); })) {
      state.SkipWithError("decode failed");
      break;
    }
  }
  Record(state, std::string("decode/lavc/") + s.name, Kbps(stream),
         StreamPsnr(s, OursEncode, [](auto& sz, auto& st, auto each) { return LavcDecode(sz, st, each); }));
}

BENCHMARK(BM_EncodeOurs)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLavc)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOurs)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLavc)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Keeps the time per frame of every run for the table.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.iterations == 0) continue;
      const auto it = run.counters.find("frame");
      if (it == run.counters.end()) continue;
      m_ms[run.benchmark_name()] = it->second.value * 1000.0;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double Ms(const char* bench, int index) const {
    const auto it = m_ms.find(std::string(bench) + "/" + std::to_string(index));
    return it == m_ms.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> m_ms;
};

}  // namespace

int main(int argc, char** argv) {
  xvid21::XVID_INIT_PARAM init{};
  if (xvid21::xvid_init(nullptr, 0, &init, nullptr) != xvid21::XVID_ERR_OK) return 1;
  benchmark::Initialize(&argc, argv);
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\n%-5s %-6s %10s %10s %7s %9s %9s %7s %7s\n", "size", "op", "ours ms", "lavc ms", "ratio",
              "ours kb/s", "lavc kb/s", "ours dB", "lavc dB");
  for (int i = 0; i < 3; ++i) {
    const Size& s = kSizes[i];
    for (const char* op : {"encode", "decode"}) {
      const bool encode = std::strcmp(op, "encode") == 0;
      const double ours = reporter.Ms(encode ? "BM_EncodeOurs" : "BM_DecodeOurs", i);
      const double lavc = reporter.Ms(encode ? "BM_EncodeLavc" : "BM_DecodeLavc", i);
      const Result& ro = g_results[std::string(op) + "/ours/" + s.name];
      const Result& rl = g_results[std::string(op) + "/lavc/" + s.name];
      std::printf("%-5s %-6s %10.3f %10.3f %7.2f %9.1f %9.1f %7.2f %7.2f\n", s.name, op, ours, lavc,
                  lavc > 0 ? ours / lavc : 0.0, ro.kbps, rl.kbps, ro.psnr, rl.psnr);
    }
  }
  std::printf("target %d kbit/s QCIF, %d CIF, %d 4CIF; %d frames, key frame every %d, 1 thread\n",
              kSizes[0].bitrate / 1000, kSizes[1].bitrate / 1000, kSizes[2].bitrate / 1000, kFrames,
              kKeyInterval);
  benchmark::Shutdown();
  return 0;
}
