// DrawDibDraw per picture: a bottom-up 24-bit picture stretched into a 32-bit target, as the
// receive path draws every decoded frame. Beside it the same job with nearest-neighbour scaling,
// the cheaper choice DrawDib could have made. Qt spreads smooth scaling over worker threads, so
// the CPU column is the whole process.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdint>
#include <vector>

#include "platform/drawdib/drawdib.h"
#include "platform/gdi/gdi.h"

namespace {

struct Job {
  int srcW, srcH, dstW, dstH;
};

BITMAPINFOHEADER Header(int w, int h) {
  return BITMAPINFOHEADER{40, w, h, 1, 24, BI_RGB, static_cast<DWORD>(w * h * 3), 0, 0, 0, 0};
}

std::vector<std::uint8_t> Picture(int w, int h) {
  std::vector<std::uint8_t> bits(static_cast<size_t>(w) * h * 3);
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<std::uint8_t>(i * 7 + i / 1000);
  return bits;
}

void Args(benchmark::internal::Benchmark* b) {
  b->Args({176, 144, 352, 288})->Args({352, 288, 352, 288})->Args({352, 288, 704, 576});
  b->Args({352, 288, 1920, 1080})->Args({704, 576, 1920, 1080});
}

void BM_DrawDibDraw(benchmark::State& state) {
  const Job job{static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                static_cast<int>(state.range(2)), static_cast<int>(state.range(3))};
  const auto bits = Picture(job.srcW, job.srcH);
  const BITMAPINFOHEADER header = Header(job.srcW, job.srcH);
  BITMAPINFOHEADER target = Header(job.dstW, job.dstH);
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBitmap(dc, &target, 0, nullptr, nullptr, DIB_RGB_COLORS);
  HGDIOBJ old = SelectObject(dc, bitmap);
  HDRAWDIB hdd = DrawDibOpen();
  for (auto _ : state)
    benchmark::DoNotOptimize(
        DrawDibDraw(hdd, dc, 0, 0, job.dstW, job.dstH, &header, bits.data(), 0, 0, job.srcW, job.srcH, 0));
  DrawDibClose(hdd);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DrawDibDraw)->Apply(Args)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The same conversion, then a stretch without smoothing.
void BM_NearestStretch(benchmark::State& state) {
  const Job job{static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                static_cast<int>(state.range(2)), static_cast<int>(state.range(3))};
  const auto bits = Picture(job.srcW, job.srcH);
  QImage target(job.dstW, job.dstH, QImage::Format_RGB32);
  QImage scratch(job.srcW, job.srcH, QImage::Format_RGB32);
  for (auto _ : state) {
    for (int row = 0; row < job.srcH; ++row) {
      const std::uint8_t* in = bits.data() + static_cast<size_t>(job.srcH - 1 - row) * job.srcW * 3;
      auto* out = reinterpret_cast<std::uint32_t*>(scratch.scanLine(row));
      for (int x = 0; x < job.srcW; ++x, in += 3)
        out[x] = 0xFF000000u | (std::uint32_t{in[2]} << 16) | (std::uint32_t{in[1]} << 8) | in[0];
    }
    QPainter painter(&target);
    painter.drawImage(QRect(0, 0, job.dstW, job.dstH), scratch);
  }
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_NearestStretch)
    ->Apply(Args)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
