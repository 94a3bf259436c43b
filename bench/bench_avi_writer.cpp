// The AVI writer: frames per second written at 352 x 288 and 704 x 576 into a file on this
// disk, the bytes it adds per frame, and how long one write keeps the caller, beside a bare
// write(2) of the same frame.
//
//   bench_avi_writer [benchmark flags]           the benchmarks ($QV_BENCH_DIR, default /var/tmp)
//   bench_avi_writer --stdin W H OUT.avi         records raw bgr24 frames from stdin into OUT.avi
//                                                (the side-by-side run of bench/avi_writer.sh)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/avifile/avifile.h"

namespace {

std::string BenchPath(const char* name) {
  const char* dir = std::getenv("QV_BENCH_DIR");
  return std::string(dir ? dir : "/var/tmp") + "/" + name + "-" + std::to_string(getpid()) + ".avi";
}

struct Recording {
  PAVIFILE file = nullptr;
  PAVISTREAM stream = nullptr;

  bool Open(const std::string& path, int width, int height) {
    AVISTREAMINFO info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = mmioFOURCC('x', 'v', 'i', 'd');
    info.dwScale = 1;
    info.dwRate = 7;
    info.dwSuggestedBufferSize = 10240;
    info.rcFrame = RECT{0, 0, width, height};
    BITMAPINFOHEADER bih{};
    bih.biSize = sizeof bih;
    bih.biWidth = width;
    bih.biHeight = height;
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biSizeImage = static_cast<DWORD>(width * height * 3);
    return AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr) == AVIERR_OK &&
           AVIFileCreateStreamA(file, &stream, &info) == AVIERR_OK &&
           AVIStreamSetFormat(stream, 0, &bih, sizeof bih) == AVIERR_OK;
  }
  void Close() {
    if (file) AVIFileRelease(file);
    if (stream) AVIStreamRelease(stream);
    file = nullptr;
    stream = nullptr;
  }
};

// How long single writes kept the caller: the median, the 99th percentile and the longest.
void WriteTimes(benchmark::State& state, std::vector<double>& us) {
  if (us.empty()) return;
  std::sort(us.begin(), us.end());
  state.counters["p50_write_us"] = us[us.size() / 2];
  state.counters["p99_write_us"] = us[us.size() * 99 / 100];
  state.counters["max_write_us"] = us.back();
}

std::vector<std::uint8_t> Frame(int width, int height) {
  std::vector<std::uint8_t> f(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = static_cast<std::uint8_t>(i * 7 + i / 1000);
  return f;
}

void BM_AviStreamWrite(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const std::vector<std::uint8_t> frame = Frame(width, height);
  const std::string path = BenchPath("bench-avi");
  AVIFileInit();
  Recording rec;
  if (!rec.Open(path, width, height)) {
    state.SkipWithError("cannot open the file");
    return;
  }
  LONG pos = 0;
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    if (AVIStreamWrite(rec.stream, pos, 1, frame.data(), static_cast<LONG>(frame.size()),
                       pos % 30 == 0 ? AVIIF_KEYFRAME : 0, nullptr, nullptr) != AVIERR_OK) {
      state.SkipWithError("write failed");
      break;
    }
    ++pos;
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  rec.Close();
  AVIFileExit();
  struct stat st {};
  stat(path.c_str(), &st);
  unlink(path.c_str());
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frame.size()));
  state.counters["overhead_B/frame"] =
      (static_cast<double>(st.st_size) - static_cast<double>(frame.size()) * static_cast<double>(pos)) / pos;
  WriteTimes(state, us);
}

// The floor: the same frames with one bare write(2) each.
void BM_BareWrite(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const std::vector<std::uint8_t> frame = Frame(width, height);
  const std::string path = BenchPath("bench-raw");
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  std::vector<double> us;
  us.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    if (write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) {
      state.SkipWithError("write failed");
      break;
    }
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
  }
  close(fd);
  unlink(path.c_str());
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frame.size()));
  WriteTimes(state, us);
}

// Fixed counts keep the files at a few hundred megabytes.
BENCHMARK(BM_AviStreamWrite)
    ->Args({352, 288})
    ->Iterations(1000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AviStreamWrite)->Args({704, 576})->Iterations(400)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareWrite)->Args({352, 288})->Iterations(1000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareWrite)->Args({704, 576})->Iterations(400)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Records the raw frames on stdin, as ffmpeg's muxer does in the side-by-side run.
int RecordStdin(int width, int height, const char* out) {
  AVIFileInit();
  Recording rec;
  if (!rec.Open(out, width, height)) return 1;
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * height * 3);
  LONG pos = 0;
  for (;;) {
    std::size_t got = 0;
    while (got < frame.size()) {
      const ssize_t n = read(0, frame.data() + got, frame.size() - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got < frame.size()) break;
    if (AVIStreamWrite(rec.stream, pos, 1, frame.data(), static_cast<LONG>(frame.size()),
                       pos % 30 == 0 ? AVIIF_KEYFRAME : 0, nullptr, nullptr) != AVIERR_OK)
      return 2;
    ++pos;
  }
  rec.Close();
  AVIFileExit();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--stdin") == 0)
    return RecordStdin(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
