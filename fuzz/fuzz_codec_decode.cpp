// The decode call over arbitrary input. The first byte picks one of three decoder sizes and whether the
// input goes behind a real stream header of that size; the picture buffer is the control's size with a
// guard band after the decoder's picture, checked after every decode.
// QV_FUZZ_WRITE_SEEDS=dir writes seed inputs cut from real streams of the three sizes into dir and exits.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codec/xvid21.h"
#include "fuzz/seeds.h"
#include "tests/support/test_stream.h"

namespace {

using namespace xvid21;

constexpr int kSizes[3][2] = {{176, 144}, {352, 288}, {704, 576}};
constexpr std::size_t kPictureBuffer = 704 * 576 * 3;
constexpr std::uint8_t kGuard = 0xC3;

// The stream header our encoder writes for the given size, taken from a first frame.
std::vector<std::uint8_t> Headers(int width, int height) {
  XVID_ENC_PARAM param{};
  param.width = width;
  param.height = height;
  param.rc_bitrate = 250000;
  param.max_key_interval = 30;
  if (xvid_encore(nullptr, XVID_ENC_CREATE, &param, nullptr) != XVID_ERR_OK) std::abort();
  std::vector<std::uint8_t> image(static_cast<std::size_t>(width) * height * 3, 128);
  std::vector<std::uint8_t> out(100000);
  XVID_ENC_FRAME frame{};
  frame.general = XVID_H263QUANT;
  frame.bitstream = out.data();
  frame.image = image.data();
  frame.colorspace = XVID_CSP_RGB24;
  frame.intra = 1;
  if (xvid_encore(param.handle, XVID_ENC_ENCODE, &frame, nullptr) != XVID_ERR_OK) std::abort();
  xvid_encore(param.handle, XVID_ENC_DESTROY, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(frame.length));
  for (std::size_t i = 0; i + 3 < out.size(); ++i) {
    if (out[i] == 0 && out[i + 1] == 0 && out[i + 2] == 1 && out[i + 3] == 0xB6) {
      out.resize(i);
      break;
    }
  }
  return out;
}

struct Fixture {
  void* decoders[3] = {};
  std::vector<std::uint8_t> headers[3];
  std::vector<std::uint8_t> picture = std::vector<std::uint8_t>(kPictureBuffer);
  std::vector<std::uint8_t> input;

  Fixture() {
    XVID_INIT_PARAM init{};
    if (xvid_init(nullptr, 0, &init, nullptr) != XVID_ERR_OK) std::abort();
    for (int i = 0; i < 3; ++i) {
      XVID_DEC_PARAM param{kSizes[i][0], kSizes[i][1], nullptr};
      if (xvid_decore(nullptr, XVID_DEC_CREATE, &param, nullptr) != XVID_ERR_OK) std::abort();
      decoders[i] = param.handle;
      headers[i] = Headers(kSizes[i][0], kSizes[i][1]);
    }
  }
};

// A key frame, which carries its own stream header, and the frames after it behind the header
// of their size, as the first byte of an input asks for.
void WriteSeeds(const std::string& dir) {
  XVID_INIT_PARAM init{};
  if (xvid_init(nullptr, 0, &init, nullptr) != XVID_ERR_OK) std::exit(1);
  for (int which = 0; which < 3; ++which) {
    const auto stream = test_stream::EncodeStream(kSizes[which][0], kSizes[which][1], 4);
    for (std::size_t i = 0; i < stream.size(); ++i) {
      std::string seed(1, static_cast<char>(which | (stream[i].bKeyFrame ? 0 : 0x80)));
      seed.append(stream[i].bytes.begin(), stream[i].bytes.end());
      fuzz_seeds::Write(dir, "seed_" + std::to_string(which) + "_" + std::to_string(i), seed);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_seeds::WriteIfAsked(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture fixture;
  if (size < 1) return 0;
  const int which = data[0] % 3;
  const bool withHeaders = (data[0] & 0x80) != 0;
  ++data;
  --size;
  fixture.input.clear();
  if (withHeaders) fixture.input = fixture.headers[which];
  fixture.input.insert(fixture.input.end(), data, data + size);
  if (fixture.input.empty()) return 0;

  // The decoder's picture may land anywhere in the buffer; everything after it must stay as it was.
  const std::size_t used = static_cast<std::size_t>(kSizes[which][0]) * kSizes[which][1] * 3;
  std::memset(fixture.picture.data() + used, kGuard, kPictureBuffer - used);
  XVID_DEC_FRAME frame{};
  frame.bitstream = fixture.input.data();
  frame.length = static_cast<int>(fixture.input.size());
  frame.image = fixture.picture.data();
  frame.stride = kSizes[which][0];
  frame.colorspace = static_cast<int>(XVID_CSP_RGB24 | XVID_CSP_VFLIP);
  xvid_decore(fixture.decoders[which], XVID_DEC_DECODE, &frame, nullptr);
  for (std::size_t i = used; i < kPictureBuffer; ++i) {
    if (fixture.picture[i] != kGuard) std::abort();
  }
  return 0;
}
