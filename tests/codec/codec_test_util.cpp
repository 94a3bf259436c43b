#include "tests/codec/codec_test_util.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace codec_test {

using namespace xvid21;

Bytes MovingPicture(int width, int height, int frame) {
  Bytes picture(static_cast<std::size_t>(width) * height * 3);
  const int boxX = (frame * 3) % (width - width / 4);
  const int boxY = (frame * 2) % (height - height / 4);
  for (int row = 0; row < height; ++row) {
    const int y = height - 1 - row;  // bottom row first
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &picture[(static_cast<std::size_t>(row) * width + x) * 3];
      const bool inBox = x >= boxX && x < boxX + width / 8 && y >= boxY && y < boxY + height / 8;
      p[0] = static_cast<std::uint8_t>(inBox ? 240 : 40 + (x * 160) / width);
      p[1] = static_cast<std::uint8_t>(inBox ? 230 : 30 + (y * 180) / height);
      p[2] = static_cast<std::uint8_t>(inBox ? 220 : 60 + ((x + y + frame) % 64) * 2);
    }
  }
  return picture;
}

double Psnr(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  const double mse = sum / static_cast<double>(a.size());
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

Bytes FlipRows(const Bytes& picture, int width, int height) {
  Bytes out(picture.size());
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    std::copy_n(&picture[y * row], row, &out[(height - 1 - y) * row]);
  }
  return out;
}

Encoder::Encoder(int width, int height, int bitrate, int keyInterval) {
  codec::FillEncoderParam(&m_param, width, height, bitrate, keyInterval);
  m_nCreateResult = xvid_encore(nullptr, XVID_ENC_CREATE, &m_param, nullptr);
}

Encoder::~Encoder() {
  if (m_param.handle != nullptr) xvid_encore(m_param.handle, XVID_ENC_DESTROY, nullptr, nullptr);
}

Bytes Encoder::Encode(const Bytes& picture, int intra, bool* key, int* result) {
  Bytes out(100000 - 28);
  XVID_ENC_FRAME frame{};
  frame.general = codec::kEncoderPresets[codec::kDefaultQualityIndex].nGeneral;
  frame.motion = codec::kEncoderPresets[codec::kDefaultQualityIndex].nMotion;
  frame.bitstream = out.data();
  frame.image = const_cast<std::uint8_t*>(picture.data());
  frame.colorspace = XVID_CSP_RGB24;
  frame.intra = intra;
  XVID_ENC_STATS stats{};
  const int r = xvid_encore(m_param.handle, XVID_ENC_ENCODE, &frame, &stats);
  if (result != nullptr) *result = r;
  if (key != nullptr) *key = frame.intra == 1;
  out.resize(r == XVID_ERR_OK ? static_cast<std::size_t>(frame.length) : 0);
  return out;
}

Decoder::Decoder(int width, int height) {
  m_param.width = width;
  m_param.height = height;
  m_nCreateResult = xvid_decore(nullptr, XVID_DEC_CREATE, &m_param, nullptr);
}

Decoder::~Decoder() {
  if (m_param.handle != nullptr) xvid_decore(m_param.handle, XVID_DEC_DESTROY, nullptr, nullptr);
}

int Decoder::Decode(const Bytes& frame, Bytes* picture, int stride) {
  return Decode(frame.data(), static_cast<int>(frame.size()), picture, stride);
}

int Decoder::Decode(const std::uint8_t* data, int length, Bytes* picture, int stride) {
  XVID_DEC_FRAME frame{};
  frame.bitstream = const_cast<std::uint8_t*>(data);
  frame.length = length;
  frame.image = picture->data();
  frame.image_capacity = static_cast<int>(picture->size());
  frame.stride = stride;
  frame.colorspace = static_cast<int>(XVID_CSP_RGB24 | XVID_CSP_VFLIP);
  return xvid_decore(m_param.handle, XVID_DEC_DECODE, &frame, nullptr);
}

std::vector<Bytes> EncodeMovingStream(int width, int height, int frames, int bitrate) {
  Encoder encoder(width, height, bitrate, 30);
  std::vector<Bytes> stream;
  for (int i = 0; i < frames; ++i)
    stream.push_back(encoder.Encode(MovingPicture(width, height, i), i == 0 ? 1 : -1));
  return stream;
}

std::string TempDir() {
  const char* env = std::getenv("QV_TEST_TMP");
  std::string dir = env != nullptr && *env != '\0' ? env : std::string(QV_BINARY_DIR) + "/test-tmp";
  mkdir(dir.c_str(), 0755);
  return dir;
}

void WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int RunCommand(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace codec_test
