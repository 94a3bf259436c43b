// The built-in test camera: draws each frame at the requested size and depth, so that capture
// works on machines without a camera and tests can tell frames, orientation and channels apart.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/vfw/capture_driver.h"

namespace {

struct Bgr {
  BYTE b, g, r;
};

constexpr Bgr kBars[8] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                          {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {16, 16, 16}};
constexpr Bgr kMarkerLeft = {0, 0, 255};   // pure red
constexpr Bgr kMarkerRight = {255, 0, 0};  // pure blue
constexpr Bgr kBox = {128, 128, 128};
constexpr Bgr kLowerBand = {64, 24, 24};  // dark blue, as the lower band of a colour-bar chart
constexpr Bgr kDigitInk = {255, 255, 255};
constexpr Bgr kDigitPaper = {0, 0, 0};

// 3 x 5 digits, one row per entry, most significant bit on the left.
constexpr BYTE kDigits[10][5] = {{7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
                                 {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1},
                                 {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

int Triangle(std::uint32_t t, int span) {
  if (span <= 0) return 0;
  const auto period = static_cast<std::uint32_t>(2 * span);
  const int p = static_cast<int>(t % period);
  return p <= span ? p : 2 * span - p;
}

// Fills go row by row, one row of the colour made and then copied, since a frame is drawn on the
// capture thread every frame period.
class Canvas {
 public:
  Canvas(BYTE* bits, int width, int height) : bits_(bits), width_(width), height_(height) {}
  void Fill(int x0, int y0, int w, int h, Bgr c) {
    const int xa = std::max(0, x0), ya = std::max(0, y0);
    const int x1 = std::min(width_, x0 + w), y1 = std::min(height_, y0 + h);
    if (xa >= x1 || ya >= y1) return;
    for (int x = xa; x < x1; ++x) Put(x, ya, c);
    CopyDown(xa, x1, ya, y1);
  }
  // Copies columns x0 to x1 - 1 of row y0 into rows y0 + 1 to y1 - 1.
  void CopyDown(int x0, int x1, int y0, int y1) {
    const BYTE* from = At(x0, y0);
    for (int y = y0 + 1; y < y1; ++y) std::memcpy(At(x0, y), from, static_cast<std::size_t>(x1 - x0) * 3);
  }
  void Put(int x, int y, Bgr c) {
    BYTE* p = At(x, y);
    p[0] = c.b;
    p[1] = c.g;
    p[2] = c.r;
  }

 private:
  BYTE* At(int x, int y) {
    return bits_ +
           (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)) * 3;
  }

  BYTE* bits_;
  int width_, height_;
};

}  // namespace

void DrawTestCameraPicture(BYTE* bits, int width, int height, std::uint32_t frame) {
  Canvas canvas(bits, width, height);
  const int shift = static_cast<int>((frame * 4u) % static_cast<std::uint32_t>(width));
  if (height > 1) {
    for (int x = 0; x < width; ++x) canvas.Put(x, 1, kBars[((x + shift) % width) * 8 / width]);
    canvas.CopyDown(0, width, 1, height);
  }
  // A dark band across the bottom sixth, so that a caption drawn there in a bright colour reads.
  const int band = height / 6;
  canvas.Fill(0, height - band, width, band, kLowerBand);
  for (int x = 0; x < width; ++x) canvas.Put(x, 0, x < width / 2 ? kMarkerLeft : kMarkerRight);

  const int box = std::max(4, std::min(width, height) / 4);
  canvas.Fill(Triangle(frame * 3u, width - box), 1 + Triangle(frame * 2u, height - 1 - box), box, box, kBox);

  const int scale = std::max(1, height / 72);
  const std::string digits = std::to_string(frame);
  const int left = 2 * scale, top = 2 * scale;
  canvas.Fill(left - scale, top - scale, (static_cast<int>(digits.size()) * 4 + 1) * scale, 7 * scale,
              kDigitPaper);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const BYTE* glyph = kDigits[digits[i] - '0'];
    const int gx = left + static_cast<int>(i) * 4 * scale;
    for (int row = 0; row < 5; ++row)
      for (int col = 0; col < 3; ++col)
        if (glyph[row] & (4 >> col))
          canvas.Fill(gx + col * scale, top + row * scale, scale, scale, kDigitInk);
  }
}

namespace {

class TestCameraSession : public CaptureSession {
 public:
  explicit TestCameraSession(TestCameraOptions options) : options_(std::move(options)) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof(h);
    h.biWidth = options_.acceptedSizes.empty() ? 352 : options_.acceptedSizes.front().width;
    h.biHeight = options_.acceptedSizes.empty() ? 288 : options_.acceptedSizes.front().height;
    h.biBitCount = 24;
    format_ = NormalizedFormat(h);
  }

  BITMAPINFOHEADER Format() const override { return format_; }

  bool SetFormat(const BITMAPINFOHEADER& format) override {
    if (!IsDeliverableFormat(format) || !Accepts(format.biWidth, format.biHeight)) return false;
    format_ = NormalizedFormat(format);
    return true;
  }

  bool HasOverlay() const override { return options_.hasOverlay; }

  bool Start(DWORD microSecPerFrame) override {
    scratch_.resize(static_cast<std::size_t>(format_.biWidth) * static_cast<std::size_t>(format_.biHeight) *
                    3);
    pacer_.Start(microSecPerFrame);
    return true;
  }

  // Draws each frame when its time comes: the camera runs at the period it was started with.
  Grabbed Grab(BYTE* bits, const WakeFd& wake) override {
    std::chrono::steady_clock::time_point now;
    if (!pacer_.WaitNext(wake, &now)) return {GrabResult::kStopped, {}};
    const int w = format_.biWidth, h = format_.biHeight;
    DrawTestCameraPicture(scratch_.data(), w, h, frame_++);
    ConvertBgr24TopDownToDib(scratch_.data(), static_cast<std::size_t>(w) * 3, w, h, bits,
                             format_.biBitCount);
    return {GrabResult::kFrame, now};
  }

  void Stop() override {}

 private:
  bool Accepts(LONG width, LONG height) const {
    if (options_.acceptedSizes.empty()) return width >= 16 && height >= 16 && width <= 2048 && height <= 2048;
    return std::any_of(
        options_.acceptedSizes.begin(), options_.acceptedSizes.end(),
        [&](const TestCameraOptions::Size& s) { return s.width == width && s.height == height; });
  }

  TestCameraOptions options_;
  BITMAPINFOHEADER format_{};
  std::vector<BYTE> scratch_;
  std::uint32_t frame_ = 0;
  FramePacer pacer_;
};

class TestCameraDriver : public CaptureDriver {
 public:
  explicit TestCameraDriver(TestCameraOptions options) : options_(std::move(options)) {}
  std::string Name() const override { return kTestCameraName; }
  std::string Version() const override { return kTestCameraVersion; }
  std::unique_ptr<CaptureSession> Connect() override { return std::make_unique<TestCameraSession>(options_); }

 private:
  TestCameraOptions options_;
};

}  // namespace

std::shared_ptr<CaptureDriver> MakeTestCameraDriver(const TestCameraOptions& options) {
  return std::make_shared<TestCameraDriver>(options);
}
