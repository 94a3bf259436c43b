// Checks pictures a receiver drew or recorded against the test camera pictures they came from.
//
//   qv-picture-check FILE WIDTH HEIGHT top-down|bottom-up [MIN_PSNR_DB]
//
// FILE holds raw 24-bit B,G,R pictures of WIDTH x HEIGHT one after the other: ffmpeg's rawvideo
// bgr24 output is top-down, the pictures a host keeps of what a control drew are bottom-up. Each
// picture's frame number is read from the counter the test camera draws at its top-left corner,
// and the picture is compared with that frame of the test camera (the PSNR of its B, G and R
// samples), leaving out the bottom sixth, where the sender draws its name. A picture whose counter
// cannot be read is compared with the frames after the last one found. A picture is right when
// the PSNR reaches MIN_PSNR_DB (default 26).
//
// Prints one line: "pictures N right R wrong W psnr-min X psnr-median Y", then a line for each
// wrong picture. Exits 0 when every picture is right, 1 when one is not, 2 on bad arguments.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/vfw/capture_driver.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The test camera's 3 x 5 digits, one row per entry, most significant bit on the left.
constexpr std::uint8_t kDigits[10][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
                                         {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1},
                                         {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

struct Picture {
  const std::uint8_t* bits;  // top-down rows
  int width, height;
  // Mean brightness of a square of the picture.
  int Brightness(int x, int y, int size) const {
    long sum = 0, n = 0;
    for (int yy = y; yy < y + size && yy < height; ++yy)
      for (int xx = x; xx < x + size && xx < width; ++xx) {
        const std::uint8_t* p = bits + (static_cast<std::size_t>(yy) * width + xx) * 3;
        sum += p[0] + p[1] + p[2];
        n += 3;
      }
    return n ? static_cast<int>(sum / n) : 0;
  }
};

// The counter the test camera draws: digits of scale x scale cells, white on a black patch.
bool ReadCounter(const Picture& p, long* frame) {
  const int scale = std::max(1, p.height / 72);
  const int left = 2 * scale, top = 2 * scale;
  // The cells are read inside their edges, where compression blurs least.
  const int inset = scale >= 3 ? 1 : 0, cell = scale - 2 * inset;
  long value = 0;
  int digits = 0;
  for (; digits < 10; ++digits) {
    const int gx = left + digits * 4 * scale;
    if (gx + 3 * scale > p.width) break;
    int best = -1, bestErrors = 16;
    for (int d = 0; d < 10; ++d) {
      int errors = 0;
      for (int row = 0; row < 5; ++row)
        for (int col = 0; col < 3; ++col) {
          const bool ink = p.Brightness(gx + col * scale + inset, top + row * scale + inset, cell) > 128;
          if (ink != ((kDigits[d][row] & (4 >> col)) != 0)) ++errors;
        }
      if (errors < bestErrors) bestErrors = errors, best = d;
    }
    // Past the last digit the patch ends: what is there is no digit.
    if (bestErrors > 1) break;
    // The gap before each digit is part of the black patch.
    if (p.Brightness(gx - scale + inset, top + inset, cell) > 64) break;
    value = value * 10 + best;
  }
  if (digits == 0) return false;
  *frame = value;
  return true;
}

double Psnr(const Picture& p, const Bytes& source) {
  const int rows = p.height - p.height / 6;
  double sum = 0;
  const std::size_t n = static_cast<std::size_t>(rows) * p.width * 3;
  for (std::size_t i = 0; i < n; ++i) {
    const double d = static_cast<double>(p.bits[i]) - source[i];
    sum += d * d;
  }
  const double mse = sum / static_cast<double>(n);
  return mse <= 1e-9 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

Bytes Source(int width, int height, long frame) {
  Bytes out(static_cast<std::size_t>(width) * height * 3);
  DrawTestCameraPicture(out.data(), width, height, static_cast<std::uint32_t>(frame));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: qv-picture-check FILE WIDTH HEIGHT top-down|bottom-up [MIN_PSNR_DB]\n");
    return 2;
  }
  const int width = std::atoi(argv[2]), height = std::atoi(argv[3]);
  const bool bottomUp = std::strcmp(argv[4], "bottom-up") == 0;
  const double minPsnr = argc > 5 ? std::atof(argv[5]) : 26.0;
  if (width < 16 || height < 16) return 2;
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "qv-picture-check: cannot read %s\n", argv[1]);
    return 2;
  }
  const std::size_t size = static_cast<std::size_t>(width) * height * 3;
  Bytes raw(size), picture(size);
  std::vector<double> psnrs;
  std::vector<std::string> wrong;
  long last = -1;
  int count = 0;
  while (in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(size))) {
    ++count;
    if (bottomUp) {
      for (int y = 0; y < height; ++y)
        std::memcpy(&picture[static_cast<std::size_t>(y) * width * 3],
                    &raw[static_cast<std::size_t>(height - 1 - y) * width * 3], static_cast<std::size_t>(width) * 3);
    } else {
      picture.swap(raw);
    }
    const Picture p{picture.data(), width, height};
    long frame = -1;
    double best = 0;
    long bestFrame = -1;
    if (ReadCounter(p, &frame)) {
      best = Psnr(p, Source(width, height, frame));
      bestFrame = frame;
    }
    // An unreadable or misread counter: the frames after the last one found.
    for (long f = last + 1; best < minPsnr && f <= last + 60; ++f) {
      const double q = Psnr(p, Source(width, height, f));
      if (q > best) best = q, bestFrame = f;
    }
    psnrs.push_back(best);
    if (best >= minPsnr) {
      last = bestFrame;
    } else {
      char line[160];
      std::snprintf(line, sizeof line, "wrong: picture %d (counter %ld, best frame %ld at %.1f dB)", count, frame,
                    bestFrame, best);
      wrong.emplace_back(line);
    }
  }
  std::vector<double> sorted = psnrs;
  std::sort(sorted.begin(), sorted.end());
  std::printf("pictures %d right %d wrong %zu psnr-min %.1f psnr-median %.1f\n", count,
              count - static_cast<int>(wrong.size()), wrong.size(), sorted.empty() ? 0.0 : sorted.front(),
              sorted.empty() ? 0.0 : sorted[sorted.size() / 2]);
  for (const std::string& w : wrong) std::printf("%s\n", w.c_str());
  return wrong.empty() ? 0 : 1;
}
