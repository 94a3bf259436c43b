// Encode and decode through the 2.1 interface at the system's picture sizes.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/codec/codec_test_util.h"

namespace {

using namespace codec_test;
using namespace xvid21;

struct SizeCase {
  int width;
  int height;
  int bitrate;
};

class RoundTrip : public ::testing::TestWithParam<SizeCase> {};

TEST_P(RoundTrip, MovingPicturesComeBackCloseAndTheRightSize) {
  const SizeCase c = GetParam();
  Encoder encoder(c.width, c.height, c.bitrate, 30);
  ASSERT_EQ(encoder.Result(), XVID_ERR_OK);
  Decoder decoder(c.width, c.height);
  ASSERT_EQ(decoder.Result(), XVID_ERR_OK);

  const std::size_t pictureBytes = static_cast<std::size_t>(c.width) * c.height * 3;
  Bytes buffer(704 * 576 * 3, 0x5A);
  double worst = 99;
  std::size_t totalBytes = 0;
  constexpr int kFrames = 40;
  for (int i = 0; i < kFrames; ++i) {
    const Bytes source = MovingPicture(c.width, c.height, i);
    bool key = false;
    const Bytes frame = encoder.Encode(source, i == 0 ? 1 : -1, &key);
    ASSERT_FALSE(frame.empty()) << "frame " << i;
    if (i == 0) {
      EXPECT_TRUE(key);
    }
    totalBytes += frame.size();
    ASSERT_EQ(decoder.Decode(frame, &buffer, c.width), XVID_ERR_OK) << "frame " << i;
    const Bytes decoded(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(pictureBytes));
    if (i >= 5) worst = std::min(worst, Psnr(source, decoded));
  }
  // The picture fills exactly width x height x 3 bytes of the buffer; the rest is untouched.
  for (std::size_t i = pictureBytes; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0x5A) << "byte " << i;
  EXPECT_GT(worst, 30.0);
  // The rate control keeps near its target (fbase 25 frames a second).
  const double bitsPerSecond = static_cast<double>(totalBytes) * 8 * 25 / kFrames;
  EXPECT_LT(bitsPerSecond, c.bitrate * 2.0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTrip,
                         ::testing::Values(SizeCase{176, 144, 128000}, SizeCase{352, 288, 250000},
                                           SizeCase{704, 576, 1000000}),
                         [](const auto& info) { return std::to_string(info.param.width); });

// A picture whose top rows are bright comes back with them on top: in a bottom-up picture the top is the
// end of the buffer, for the input as for the output.
TEST(RoundTripOrientation, TopStaysOnTop) {
  constexpr int kW = 352, kH = 288;
  Bytes picture(kW * kH * 3, 16);
  for (int row = kH - 32; row < kH; ++row) {
    std::fill_n(&picture[static_cast<std::size_t>(row) * kW * 3], kW * 3, 235);
  }
  Encoder encoder(kW, kH, 250000, 30);
  Decoder decoder(kW, kH);
  Bytes out(kW * kH * 3);
  ASSERT_EQ(decoder.Decode(encoder.Encode(picture, 1), &out, kW), XVID_ERR_OK);
  auto rowMean = [&](int row) {
    long sum = 0;
    for (int i = 0; i < kW * 3; ++i) sum += out[static_cast<std::size_t>(row) * kW * 3 + i];
    return sum / (kW * 3);
  };
  EXPECT_GT(rowMean(kH - 8), 200);
  EXPECT_LT(rowMean(8), 50);
}

// 16-bit input arrives top row first; it must come out as the same picture as its 24-bit twin.
TEST(RoundTripRgb16, Rgb555InputIsTopDown) {
  constexpr int kW = 176, kH = 144;
  const Bytes picture24 = MovingPicture(kW, kH, 3);  // bottom-up
  std::vector<std::uint16_t> picture16(kW * kH);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const std::uint8_t* p = &picture24[(static_cast<std::size_t>(kH - 1 - y) * kW + x) * 3];
      picture16[y * kW + x] =
          static_cast<std::uint16_t>(((p[2] >> 3) << 10) | ((p[1] >> 3) << 5) | (p[0] >> 3));
    }
  }
  XVID_ENC_PARAM param{};
  codec::FillEncoderParam(&param, kW, kH, 250000, 30);
  ASSERT_EQ(xvid_encore(nullptr, XVID_ENC_CREATE, &param, nullptr), XVID_ERR_OK);
  Bytes out(100000);
  XVID_ENC_FRAME frame{};
  frame.general = XVID_H263QUANT | XVID_HALFPEL;
  frame.bitstream = out.data();
  frame.image = picture16.data();
  frame.colorspace = XVID_CSP_RGB555;
  frame.intra = 1;
  ASSERT_EQ(xvid_encore(param.handle, XVID_ENC_ENCODE, &frame, nullptr), XVID_ERR_OK);
  xvid_encore(param.handle, XVID_ENC_DESTROY, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(frame.length));

  Decoder decoder(kW, kH);
  Bytes decoded(kW * kH * 3);
  ASSERT_EQ(decoder.Decode(out, &decoded, kW), XVID_ERR_OK);
  EXPECT_GT(Psnr(picture24, decoded), 28.0);
}

}  // namespace
