// Encoder creation, the parameter and flag mapping, the bounded output and the key-frame rule on a real
// encoder.
#include <gtest/gtest.h>

#include <cstdlib>

#include "codec/xvid21_mapping.h"
#include "tests/codec/codec_test_util.h"

namespace {

using namespace codec_test;
using namespace xvid21;

int CreateAndDestroy(int width, int height) {
  XVID_ENC_PARAM param{};
  codec::FillEncoderParam(&param, width, height, 250000, 30);
  const int result = xvid21::xvid_encore(nullptr, XVID_ENC_CREATE, &param, nullptr);
  if (result == XVID_ERR_OK) {
    EXPECT_NE(param.handle, nullptr);
    xvid21::xvid_encore(param.handle, XVID_ENC_DESTROY, nullptr, nullptr);
  } else {
    EXPECT_EQ(param.handle, nullptr);
  }
  return result;
}

TEST(EncoderCreate, SizesWithinTheInterfaceLimitsOnly) {
  EXPECT_EQ(CreateAndDestroy(1408, 1152), XVID_ERR_OK);
  EXPECT_EQ(CreateAndDestroy(1920, 1280), XVID_ERR_OK);
  EXPECT_EQ(CreateAndDestroy(351, 288), XVID_ERR_FORMAT);
  EXPECT_EQ(CreateAndDestroy(352, 287), XVID_ERR_FORMAT);
  // The installed library would take these; the interface the control relies on refuses them.
  EXPECT_EQ(CreateAndDestroy(2048, 288), XVID_ERR_FORMAT);
  EXPECT_EQ(CreateAndDestroy(352, 1282), XVID_ERR_FORMAT);
  EXPECT_EQ(CreateAndDestroy(0, 288), XVID_ERR_FORMAT);
  EXPECT_EQ(CreateAndDestroy(-352, 288), XVID_ERR_FORMAT);
}

// What the bandwidth setter leaves (60000 bits/s, interval 50) reaches API 4's rate control and creation.
TEST(EncoderCreate, ParametersReachTheLibrary) {
  XVID_ENC_PARAM param{};
  codec::FillEncoderParam(&param, 352, 288, 60000, 50);
  EXPECT_EQ(param.rc_bitrate, 60000);
  EXPECT_EQ(param.max_key_interval, 50);
  const codec::EncoderSetup setup = codec::MapEncoderParam(param);
  EXPECT_TRUE(setup.bRateControl);
  EXPECT_EQ(setup.rateControl.bitrate, 60000);
  EXPECT_EQ(setup.rateControl.reaction_delay_factor, 16);
  EXPECT_EQ(setup.rateControl.averaging_period, 100);
  EXPECT_EQ(setup.rateControl.buffer, 100);
  EXPECT_EQ(setup.create.max_key_interval, 50);
  EXPECT_EQ(setup.create.width, 352);
  EXPECT_EQ(setup.create.height, 288);
  EXPECT_EQ(setup.create.fincr, 1);
  EXPECT_EQ(setup.create.fbase, 25);
  EXPECT_EQ(setup.create.max_bframes, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(setup.create.min_quant[i], 1);
    EXPECT_EQ(setup.create.max_quant[i], 31);
  }
}

TEST(EncoderMapping, FlagsAgainstTheInstalledHeader) {
  const codec::EncoderPreset row5 = codec::kEncoderPresets[5];
  EXPECT_EQ(row5.nGeneral, 0x00008050);
  EXPECT_EQ(row5.nMotion, 0x0A0A0000);
  EXPECT_EQ(codec::kEncoderPresets[6].nMotion, 0x0A8E0000);
  EXPECT_EQ(codec::MapVolFlags(row5.nGeneral), 0);  // H.263 quantisation is API 4's default
  EXPECT_EQ(codec::MapVolFlags(XVID_MPEGQUANT), XVID_VOL_MPEGQUANT);
  EXPECT_EQ(codec::MapVopFlags(row5.nGeneral), XVID_VOP_HALFPEL | XVID_VOP_INTER4V);
  EXPECT_EQ(codec::MapMotionFlags(row5.nMotion), XVID_ME_HALFPELREFINE16 | XVID_ME_HALFPELREFINE8);
  EXPECT_EQ(codec::MapMotionFlags(codec::kEncoderPresets[6].nMotion),
            XVID_ME_HALFPELREFINE16 | XVID_ME_HALFPELREFINE8 | XVID_ME_EXTSEARCH16 | XVID_ME_USESQUARES16);
  EXPECT_EQ(codec::MapMotionFlags(PMV_EARLYSTOP16 | PMV_EARLYSTOP8), 0);
  EXPECT_EQ(codec::MapFrameType(1), XVID_TYPE_IVOP);
  EXPECT_EQ(codec::MapFrameType(-1), XVID_TYPE_AUTO);
  EXPECT_EQ(codec::MapFrameType(0), XVID_TYPE_PVOP);

  int csp = 0, stride = 0;
  ASSERT_TRUE(codec::MapInputColorspace(XVID_CSP_RGB24, 352, &csp, &stride));
  EXPECT_EQ(csp, XVID_CSP_BGR | codec::api4::kCspVflip);
  EXPECT_EQ(stride, 352 * 3);
  ASSERT_TRUE(codec::MapInputColorspace(XVID_CSP_RGB555, 352, &csp, &stride));
  EXPECT_EQ(csp, codec::api4::kCspRgb555);
  EXPECT_EQ(stride, 352 * 2);
  EXPECT_FALSE(codec::MapInputColorspace(1, 352, &csp, &stride));
  ASSERT_TRUE(codec::MapOutputColorspace(static_cast<int>(XVID_CSP_RGB24 | XVID_CSP_VFLIP), &csp));
  EXPECT_EQ(csp, XVID_CSP_BGR | codec::api4::kCspVflip);
  EXPECT_FALSE(codec::MapOutputColorspace(XVID_CSP_RGB555, &csp));

  EXPECT_EQ(codec::ErrorFromApi4(codec::api4::kErrMemory), XVID_ERR_MEMORY);
  EXPECT_EQ(codec::ErrorFromApi4(codec::api4::kErrFormat), XVID_ERR_FORMAT);
  EXPECT_EQ(codec::ErrorFromApi4(-4), XVID_ERR_FAIL);
}

// Noise coded at quantiser 1 makes a CIF frame of about 240 kB, far beyond a packet buffer: the encode
// fails and not one byte past the stated room is written.
TEST(EncoderOutput, FrameLargerThanTheRoomFailsAndWritesNothing) {
  constexpr int kW = 352, kH = 288;
  XVID_ENC_PARAM param{};
  codec::FillEncoderParam(&param, kW, kH, 250000, 30);
  param.rc_bitrate = 0;  // constant quantiser from the frame block
  ASSERT_EQ(xvid21::xvid_encore(nullptr, XVID_ENC_CREATE, &param, nullptr), XVID_ERR_OK);
  Bytes noise(kW * kH * 3);
  std::srand(7);
  for (auto& b : noise) b = static_cast<std::uint8_t>(std::rand());

  Bytes packet(100000, 0xEE);
  XVID_ENC_FRAME frame{};
  frame.general = XVID_H263QUANT;
  frame.bitstream = packet.data() + 28;  // bitstream_capacity 0: the room behind a 28-byte header
  frame.image = noise.data();
  frame.colorspace = XVID_CSP_RGB24;
  frame.quant = 1;
  frame.intra = 1;
  EXPECT_EQ(xvid21::xvid_encore(param.handle, XVID_ENC_ENCODE, &frame, nullptr), XVID_ERR_MEMORY);
  EXPECT_EQ(frame.length, 0);
  for (std::size_t i = 0; i < packet.size(); ++i) ASSERT_EQ(packet[i], 0xEE) << "byte " << i;

  // A stated room is honoured the same way, and a frame that fits is written whole.
  const Bytes smooth = MovingPicture(kW, kH, 0);
  frame.image = const_cast<std::uint8_t*>(smooth.data());
  frame.quant = 8;
  frame.bitstream_capacity = 64;
  EXPECT_EQ(xvid21::xvid_encore(param.handle, XVID_ENC_ENCODE, &frame, nullptr), XVID_ERR_MEMORY);
  for (std::size_t i = 0; i < packet.size(); ++i) ASSERT_EQ(packet[i], 0xEE) << "byte " << i;
  frame.bitstream_capacity = 100000 - 28;
  frame.intra = 1;
  ASSERT_EQ(xvid21::xvid_encore(param.handle, XVID_ENC_ENCODE, &frame, nullptr), XVID_ERR_OK);
  EXPECT_GT(frame.length, 64);
  EXPECT_EQ(packet[27], 0xEE);
  xvid21::xvid_encore(param.handle, XVID_ENC_DESTROY, nullptr, nullptr);
}

// A frame dropped for want of room was still the encoder's reference. The next one is a key frame, so a
// receiver, which never had the dropped frame, decodes it as it was sent instead of predicting from a
// picture it lacks.
TEST(EncoderOutput, AfterAFrameDroppedForWantOfRoomTheNextIsAKeyFrame) {
  constexpr int kW = 176, kH = 144;
  XVID_ENC_PARAM param{};
  codec::FillEncoderParam(&param, kW, kH, 250000, 300);  // no key frame of the library's own
  ASSERT_EQ(xvid21::xvid_encore(nullptr, XVID_ENC_CREATE, &param, nullptr), XVID_ERR_OK);
  Decoder decoder(kW, kH);
  Bytes source;
  Bytes packet(100000);
  Bytes picture(kW * kH * 3);
  for (int i = 0; i < 6; ++i) {
    source = MovingPicture(kW, kH, 4 * i);
    XVID_ENC_FRAME frame{};
    frame.general = codec::kEncoderPresets[codec::kDefaultQualityIndex].nGeneral;
    frame.motion = codec::kEncoderPresets[codec::kDefaultQualityIndex].nMotion;
    frame.bitstream = packet.data();
    frame.bitstream_capacity = i == 2 ? 16 : 100000;  // frame 2 does not fit
    frame.image = source.data();
    frame.colorspace = XVID_CSP_RGB24;
    frame.intra = i == 0 ? 1 : -1;
    const int result = xvid21::xvid_encore(param.handle, XVID_ENC_ENCODE, &frame, nullptr);
    if (i == 2) {
      ASSERT_EQ(result, XVID_ERR_MEMORY);
      continue;
    }
    ASSERT_EQ(result, XVID_ERR_OK) << i;
    EXPECT_EQ(frame.intra, i == 0 || i == 3 ? 1 : 0) << "frame " << i;
    ASSERT_EQ(decoder.Decode(packet.data(), frame.length, &picture, kW), XVID_ERR_OK) << i;
    EXPECT_GT(Psnr(source, picture), 25.0) << "frame " << i;
  }
  xvid21::xvid_encore(param.handle, XVID_ENC_DESTROY, nullptr, nullptr);
}

TEST(EncoderOutput, BadCallsFail) {
  Encoder encoder(176, 144, 128000, 30);
  const Bytes picture = MovingPicture(176, 144, 0);
  Bytes out(1000);
  XVID_ENC_FRAME frame{};
  frame.bitstream = out.data();
  frame.image = const_cast<std::uint8_t*>(picture.data());
  frame.colorspace = 4;  // a planar colour space the interface does not take
  XVID_ENC_PARAM unused{};
  EXPECT_EQ(xvid21::xvid_encore(&unused, 99, &frame, nullptr), XVID_ERR_FAIL);
  EXPECT_EQ(xvid21::xvid_encore(nullptr, XVID_ENC_ENCODE, &frame, nullptr), XVID_ERR_FAIL);
  EXPECT_EQ(xvid21::xvid_encore(nullptr, XVID_ENC_CREATE, nullptr, nullptr), XVID_ERR_FAIL);
}

// The rule on a real encoder: the first frame is a key frame; with interval 30 and content the library
// would not make key frames of by itself, forced key frames come 29 frames apart; the library reports each.
TEST(EncoderKeyFrames, FirstFrameAndEvery29th) {
  constexpr int kW = 176, kH = 144;
  codec::KeyFrameRule rule;
  XVID_ENC_PARAM param{};
  codec::FillEncoderParam(&param, kW, kH, 250000, 300);  // the library's own interval out of the way
  ASSERT_EQ(xvid21::xvid_encore(nullptr, XVID_ENC_CREATE, &param, nullptr), XVID_ERR_OK);
  Bytes packet(100000);
  std::vector<int> keys;
  for (int i = 0; i < 70; ++i) {
    const Bytes picture = MovingPicture(kW, kH, i);
    XVID_ENC_FRAME frame{};
    XVID_ENC_STATS stats{};
    codec::FrameToEncode in{const_cast<std::uint8_t*>(picture.data()),
                            false,
                            packet.data() + 12,
                            100000 - 12,
                            codec::kDefaultQualityIndex,
                            30};
    ASSERT_EQ(codec::EncodeFrame(param.handle, in, &frame, &stats, rule), XVID_ERR_OK);
    EXPECT_GT(stats.quant, 0);
    if (frame.intra == 1) keys.push_back(i);
  }
  xvid21::xvid_encore(param.handle, XVID_ENC_DESTROY, nullptr, nullptr);
  EXPECT_EQ(keys, (std::vector<int>{0, 29, 58}));
}

}  // namespace
