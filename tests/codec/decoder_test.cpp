// Decoders: the size contract, the caller's room, hostile input, and the library's start-up report.
#include <gtest/gtest.h>

#include <random>

#include "codec/frame_decoder.h"
#include "tests/codec/codec_test_util.h"

namespace {

using namespace codec_test;
using namespace xvid21;

constexpr std::size_t kPictureBuffer = 704 * 576 * 3;

// Offset of the first picture start code (00 00 01 B6), i.e. the end of the stream headers.
std::size_t FirstVop(const Bytes& frame) {
  for (std::size_t i = 0; i + 3 < frame.size(); ++i) {
    if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 && frame[i + 3] == 0xB6) return i;
  }
  return frame.size();
}

class BitWriter {
 public:
  void Put(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (m_nBit == 0) m_bytes.push_back(0);
      if ((value >> i) & 1) m_bytes.back() |= static_cast<std::uint8_t>(0x80 >> m_nBit);
      m_nBit = (m_nBit + 1) % 8;
    }
  }
  // next_start_code(): a zero, then ones up to the byte boundary.
  void Stuff() {
    Put(0, 1);
    while (m_nBit != 0) Put(1, 1);
  }
  Bytes Take() { return m_bytes; }

 private:
  Bytes m_bytes;
  int m_nBit = 0;
};

// A simple-profile, rectangular stream header declaring the given size.
Bytes VolHeader(int width, int height) {
  BitWriter w;
  w.Put(0x00000120, 32);
  w.Put(0, 1);  // random_accessible_vol
  w.Put(1, 8);  // simple object
  w.Put(0, 1);  // no layer identifier
  w.Put(1, 4);  // square pixels
  w.Put(0, 1);  // no control parameters, so low delay is not declared
  w.Put(0, 2);  // rectangular
  w.Put(1, 1);
  w.Put(25, 16);  // time increment resolution
  w.Put(1, 1);
  w.Put(0, 1);  // no fixed rate
  w.Put(1, 1);
  w.Put(static_cast<std::uint32_t>(width), 13);
  w.Put(1, 1);
  w.Put(static_cast<std::uint32_t>(height), 13);
  w.Put(1, 1);
  w.Put(0, 1);  // progressive
  w.Put(1, 1);  // obmc disabled
  w.Put(0, 1);  // no sprite
  w.Put(0, 1);  // 8 bit
  w.Put(0, 1);  // H.263 quantisation
  w.Put(1, 1);  // no complexity estimation
  w.Put(1, 1);  // no resync markers
  w.Put(0, 1);  // not partitioned
  w.Put(0, 1);  // no scalability
  w.Stuff();
  return w.Take();
}

void ExpectUntouched(const Bytes& picture, std::uint8_t fill) {
  for (std::size_t i = 0; i < picture.size(); ++i) ASSERT_EQ(picture[i], fill) << "byte " << i;
}

TEST(DecoderSize, StreamOfAnotherSizeFailsAndLeavesThePictureAlone) {
  const auto qcif = EncodeMovingStream(176, 144, 35, 128000);  // key frames at 0 and 30
  Decoder decoder(352, 288);
  ASSERT_EQ(decoder.Result(), XVID_ERR_OK);
  Bytes picture(kPictureBuffer, 0xA5);
  for (std::size_t i = 0; i < qcif.size(); ++i) {
    EXPECT_NE(decoder.Decode(qcif[i], &picture, 352), XVID_ERR_OK) << "frame " << i;
  }
  ExpectUntouched(picture, 0xA5);

  // The same decoder takes a stream of its own size from that stream's key frame on.
  const auto cif = EncodeMovingStream(352, 288, 3, 250000);
  for (const Bytes& frame : cif) EXPECT_EQ(decoder.Decode(frame, &picture, 352), XVID_ERR_OK);
  // And a mismatched key frame in between stops it again.
  EXPECT_NE(decoder.Decode(qcif[30], &picture, 352), XVID_ERR_OK);
  picture.assign(kPictureBuffer, 0xA5);
  EXPECT_NE(decoder.Decode(cif[1], &picture, 352), XVID_ERR_OK);
  ExpectUntouched(picture, 0xA5);
}

TEST(DecoderSize, PredictedFramesBeforeAnyHeaderFail) {
  const auto stream = EncodeMovingStream(176, 144, 4, 128000);
  Decoder decoder(176, 144);
  Bytes picture(kPictureBuffer, 0x33);
  EXPECT_NE(decoder.Decode(stream[2], &picture, 176), XVID_ERR_OK);
  EXPECT_NE(decoder.Decode(stream[3], &picture, 176), XVID_ERR_OK);
  ExpectUntouched(picture, 0x33);
}

TEST(DecoderRoom, PictureThatDoesNotFitTheBufferIsNotWritten) {
  // 16CIF is larger than the picture buffer: with the default room nothing is written.
  const auto big = EncodeMovingStream(1408, 1152, 1, 1000000);
  Decoder decoder(1408, 1152);
  ASSERT_EQ(decoder.Result(), XVID_ERR_OK);
  Bytes picture(kPictureBuffer, 0x77);
  XVID_DEC_FRAME frame{};
  frame.bitstream = const_cast<std::uint8_t*>(big[0].data());
  frame.length = static_cast<int>(big[0].size());
  frame.image = picture.data();
  frame.stride = 1408;
  frame.colorspace = static_cast<int>(XVID_CSP_RGB24 | XVID_CSP_VFLIP);
  EXPECT_EQ(xvid_decore(nullptr, XVID_DEC_DECODE, &frame, nullptr), XVID_ERR_FAIL);
  EXPECT_EQ(decoder.Decode(big[0], &picture, 1408), XVID_ERR_MEMORY);
  ExpectUntouched(picture, 0x77);
}

TEST(DecoderRoom, StrideFollowsTheOutputWidth) {
  const auto stream = EncodeMovingStream(176, 144, 2, 128000);
  Decoder decoder(176, 144);
  // The output width grew to 352 while the decoder stays 176 wide: rows land 352 pixels apart.
  Bytes wide(kPictureBuffer, 0x11);
  ASSERT_EQ(decoder.Decode(stream[0], &wide, 352), XVID_ERR_OK);
  for (int y = 0; y < 144; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * 352 * 3;
    for (std::size_t i = 176 * 3; i < 352 * 3; ++i) ASSERT_EQ(wide[row + i], 0x11) << "row " << y;
  }
  for (std::size_t i = 143 * 352 * 3 + 176 * 3; i < wide.size(); ++i) ASSERT_EQ(wide[i], 0x11);
  // It shrank below the decoder's width: the rows would overlap, so nothing is written.
  Bytes narrow(kPictureBuffer, 0x22);
  EXPECT_EQ(decoder.Decode(stream[1], &narrow, 88), XVID_ERR_FORMAT);
  ExpectUntouched(narrow, 0x22);
  // A room smaller than the picture is refused too.
  Bytes small(176 * 144 * 3 - 1, 0x44);
  EXPECT_EQ(decoder.Decode(stream[1], &small, 176), XVID_ERR_MEMORY);
  ExpectUntouched(small, 0x44);
}

TEST(DecoderCreate, BadSizesAndCalls) {
  for (auto [w, h] : {std::pair{0, 288}, {352, 0}, {-2, 288}, {9000, 288}, {352, 9000}}) {
    XVID_DEC_PARAM param{w, h, nullptr};
    EXPECT_EQ(xvid_decore(nullptr, XVID_DEC_CREATE, &param, nullptr), XVID_ERR_FORMAT) << w << "x" << h;
    EXPECT_EQ(param.handle, nullptr);
  }
  XVID_DEC_PARAM odd{175, 143, nullptr};  // streams may declare odd sizes
  ASSERT_EQ(xvid_decore(nullptr, XVID_DEC_CREATE, &odd, nullptr), XVID_ERR_OK);
  EXPECT_EQ(xvid_decore(odd.handle, 7, nullptr, nullptr), XVID_ERR_FAIL);
  EXPECT_EQ(xvid_decore(odd.handle, XVID_DEC_DECODE, nullptr, nullptr), XVID_ERR_FAIL);
  EXPECT_EQ(xvid_decore(odd.handle, XVID_DEC_DESTROY, nullptr, nullptr), XVID_ERR_OK);
  EXPECT_EQ(xvid_decore(nullptr, XVID_DEC_CREATE, nullptr, nullptr), XVID_ERR_FAIL);
}

// The receiving control's steps: a decoder that exists keeps its size; destroy clears the handle.
TEST(FrameDecoder, CreateKeepsAnExistingDecoderAndDestroyClears) {
  XVID_DEC_PARAM param{};
  ASSERT_EQ(codec::CreateDecoder(&param, 176, 144), XVID_ERR_OK);
  void* const first = param.handle;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(codec::CreateDecoder(&param, 352, 288), XVID_ERR_OK);
  EXPECT_EQ(param.handle, first);

  const auto stream = EncodeMovingStream(176, 144, 1, 128000);
  Bytes picture(kPictureBuffer, 0);
  XVID_DEC_FRAME frame{};
  EXPECT_EQ(codec::DecodeFrame(param, &frame, stream[0].data(), static_cast<int>(stream[0].size()),
                               picture.data(), static_cast<int>(picture.size()), 176),
            XVID_ERR_OK);
  EXPECT_EQ(frame.stride, 176);
  EXPECT_EQ(static_cast<std::uint32_t>(frame.colorspace), 0x80000000u);

  codec::DestroyDecoder(&param);
  EXPECT_EQ(param.handle, nullptr);
  codec::DestroyDecoder(&param);
  EXPECT_NE(codec::DecodeFrame(param, &frame, stream[0].data(), static_cast<int>(stream[0].size()),
                               picture.data(), static_cast<int>(picture.size()), 176),
            XVID_ERR_OK);
}

// Hostile input: whatever arrives, nothing past the picture is written and nothing crashes (this runs
// under AddressSanitizer in CI). Results are not asserted except where the contract fixes them.
TEST(DecoderHostile, TruncatedFrames) {
  const auto stream = EncodeMovingStream(352, 288, 3, 250000);
  for (const Bytes& whole : stream) {
    Decoder decoder(352, 288);
    Bytes picture(352 * 288 * 3 + 64, 0x5C);
    decoder.Decode(stream[0], &picture, 352);
    for (std::size_t cut = 1; cut < whole.size(); cut += 1 + whole.size() / 97) {
      const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
      decoder.Decode(part, &picture, 352);
      for (std::size_t i = 352 * 288 * 3; i < picture.size(); ++i) ASSERT_EQ(picture[i], 0x5C);
    }
  }
  // A key frame cut in its headers gives no picture.
  Decoder fresh(352, 288);
  Bytes picture(kPictureBuffer, 0x5C);
  const Bytes headersOnly(stream[0].begin(),
                          stream[0].begin() + static_cast<std::ptrdiff_t>(FirstVop(stream[0])));
  EXPECT_NE(fresh.Decode(headersOnly, &picture, 352), XVID_ERR_OK);
  ExpectUntouched(picture, 0x5C);
}

// Pieces of a frame put together in the wrong order: when its picture ends before the frame does,
// the frame fails and the picture is left alone. (Garbage that the picture's data runs into up to
// the frame's end cannot be told from data, which is why the receive side proves order first.)
TEST(DecoderHostile, AFrameWhosePictureDoesNotEndWithItFails) {
  const auto stream = EncodeMovingStream(352, 288, 4, 1000000);
  Decoder decoder(352, 288);
  Bytes picture(kPictureBuffer, 0x5C);
  ASSERT_EQ(decoder.Decode(stream[0], &picture, 352), XVID_ERR_OK);
  ASSERT_GT(stream[2].size(), 700u);
  Bytes tail = stream[1];
  tail.insert(tail.end(), stream[2].begin() + 400, stream[2].begin() + 700);  // a stray piece behind it
  Bytes untouched(kPictureBuffer, 0x5C);
  Decoder fresh(352, 288);
  ASSERT_EQ(fresh.Decode(stream[0], &untouched, 352), XVID_ERR_OK);
  const Bytes before = untouched;
  EXPECT_NE(fresh.Decode(tail, &untouched, 352), XVID_ERR_OK);
  EXPECT_EQ(untouched, before);
  // The frame as it was sent still decodes, and so does one followed by the next key frame's
  // headers, as some encoders send them.
  EXPECT_EQ(decoder.Decode(stream[1], &picture, 352), XVID_ERR_OK);
  Bytes withHeaders = stream[2];
  withHeaders.insert(withHeaders.end(), stream[0].begin(), stream[0].begin() + static_cast<std::ptrdiff_t>(FirstVop(stream[0])));
  EXPECT_EQ(decoder.Decode(withHeaders, &picture, 352), XVID_ERR_OK);
}

TEST(DecoderHostile, RandomBytesAfterAValidHeader) {
  const auto stream = EncodeMovingStream(176, 144, 1, 128000);
  const std::size_t headers = FirstVop(stream[0]);
  std::mt19937 random(11);
  Decoder decoder(176, 144);
  Bytes picture(176 * 144 * 3 + 64, 0x6D);
  for (int round = 0; round < 300; ++round) {
    Bytes frame(stream[0].begin(), stream[0].begin() + static_cast<std::ptrdiff_t>(headers));
    const std::size_t extra = random() % 3000;
    if (round % 2 == 0) frame.insert(frame.end(), {0x00, 0x00, 0x01, 0xB6});
    for (std::size_t i = 0; i < extra; ++i) frame.push_back(static_cast<std::uint8_t>(random()));
    decoder.Decode(frame, &picture, 176);
    for (std::size_t i = 176 * 144 * 3; i < picture.size(); ++i) ASSERT_EQ(picture[i], 0x6D) << round;
  }
}

TEST(DecoderHostile, HeaderDeclaringAHugeSize) {
  const auto stream = EncodeMovingStream(176, 144, 1, 128000);
  const Bytes vop(stream[0].begin() + static_cast<std::ptrdiff_t>(FirstVop(stream[0])), stream[0].end());
  for (auto [w, h] : {std::pair{8190, 8190}, {1408, 1152}, {4, 4}}) {
    Bytes frame = VolHeader(w, h);
    frame.insert(frame.end(), vop.begin(), vop.end());
    Decoder decoder(176, 144);
    Bytes picture(kPictureBuffer, 0x19);
    EXPECT_NE(decoder.Decode(frame, &picture, 176), XVID_ERR_OK) << w << "x" << h;
    ExpectUntouched(picture, 0x19);
  }
  // The hand-made header itself is sound: with the decoder's own size the same frame decodes, and at
  // once, though the header does not declare low delay.
  Bytes frame = VolHeader(176, 144);
  frame.insert(frame.end(), vop.begin(), vop.end());
  Decoder decoder(176, 144);
  Bytes picture(kPictureBuffer, 0x19);
  EXPECT_EQ(decoder.Decode(frame, &picture, 176), XVID_ERR_OK);
}

TEST(DecoderHostile, PureNoise) {
  std::mt19937 random(5);
  Decoder decoder(352, 288);
  Bytes picture(352 * 288 * 3 + 64, 0x42);
  for (int round = 0; round < 200; ++round) {
    Bytes frame(1 + random() % 5000);
    for (auto& b : frame) b = static_cast<std::uint8_t>(random());
    if (round % 3 == 0) frame.insert(frame.begin(), {0x00, 0x00, 0x01, 0x20});
    EXPECT_NE(decoder.Decode(frame, &picture, 352), XVID_ERR_OK);
  }
  ExpectUntouched(picture, 0x42);
}

TEST(CodecInit, ReportsTheVersionTheControlAccepts) {
  XVID_INIT_PARAM init{};
  ASSERT_EQ(xvid_init(nullptr, 0, &init, nullptr), XVID_ERR_OK);
  EXPECT_EQ(init.api_version, 0x00020001);
  EXPECT_EQ(init.api_version, API_VERSION);
  EXPECT_GT(init.core_build, 0);
  EXPECT_EQ(xvid_init(nullptr, 0, nullptr, nullptr), XVID_ERR_FAIL);

  EXPECT_LT(ReportedApiVersion(3), API_VERSION);
  EXPECT_GT(ReportedApiVersion(5), API_VERSION);
}

TEST(CodecInit, InjectedStartUpFailuresForTheControlsBoxes) {
  XVID_INIT_PARAM init{};
  InjectInitForTest({.bFail = true});
  EXPECT_EQ(xvid_init(nullptr, 0, &init, nullptr), XVID_ERR_FAIL);
  InjectInitForTest({.bFail = false, .nApiMajor = 3});
  ASSERT_EQ(xvid_init(nullptr, 0, &init, nullptr), XVID_ERR_OK);
  EXPECT_LT(init.api_version, 0x00020001);
  InjectInitForTest({.bFail = false, .nApiMajor = 5});
  ASSERT_EQ(xvid_init(nullptr, 0, &init, nullptr), XVID_ERR_OK);
  EXPECT_GT(init.api_version, 0x00020001);
  ClearInitInjectionForTest();
  ASSERT_EQ(xvid_init(nullptr, 0, &init, nullptr), XVID_ERR_OK);
  EXPECT_EQ(init.api_version, 0x00020001);
}

}  // namespace
