// Our streams against a decoder and an encoder nobody here wrote: FFmpeg's command-line tools.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/codec/codec_test_util.h"

namespace {

using namespace codec_test;
using namespace xvid21;

bool HaveFfmpeg() {
  std::string out;
  return RunCommand("ffmpeg -version", &out) == 0 && RunCommand("ffprobe -version", &out) == 0;
}

Bytes Concatenate(const std::vector<Bytes>& frames) {
  Bytes all;
  for (const Bytes& f : frames) all.insert(all.end(), f.begin(), f.end());
  return all;
}

// Frames of an elementary stream, cut in front of every picture start code; the headers before the first
// picture go with it.
std::vector<Bytes> SplitAtPictures(const Bytes& stream) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i + 3 < stream.size(); ++i) {
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 && stream[i + 3] == 0xB6)
      starts.push_back(i);
  }
  std::vector<Bytes> frames;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    const std::size_t begin = k == 0 ? 0 : starts[k];
    const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : stream.size();
    frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(begin),
                        stream.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return frames;
}

TEST(Interop, FfmpegDecodesOurStreamCleanlyAndAlike) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  constexpr int kW = 352, kH = 288, kFrames = 45;
  const std::vector<Bytes> frames = EncodeMovingStream(kW, kH, kFrames, 250000);
  const std::string path = TempDir() + "/codec_ours.m4v";
  WriteFile(path, Concatenate(frames));

  std::string out;
  EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -i " + path + " -f null -", &out), 0) << out;
  EXPECT_EQ(out, "");
  ASSERT_EQ(RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                       "stream=nb_read_frames,width,height,codec_name -of default=nw=1 " +
                           path,
                       &out),
            0)
      << out;
  EXPECT_NE(out.find("codec_name=mpeg4"), std::string::npos) << out;
  EXPECT_NE(out.find("width=352"), std::string::npos) << out;
  EXPECT_NE(out.find("height=288"), std::string::npos) << out;
  EXPECT_NE(out.find("nb_read_frames=" + std::to_string(kFrames)), std::string::npos) << out;

  // FFmpeg's pictures (top row first, B,G,R) match the sources and our own decode: same orientation and
  // byte order on both sides.
  const std::string raw = TempDir() + "/codec_ours.bgr";
  ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -i " + path + " -f rawvideo -pix_fmt bgr24 " + raw, &out),
            0)
      << out;
  const Bytes pictures = ReadFile(raw);
  const std::size_t size = static_cast<std::size_t>(kW) * kH * 3;
  ASSERT_EQ(pictures.size(), size * kFrames);
  Decoder decoder(kW, kH);
  Bytes ours(size);
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_EQ(decoder.Decode(frames[i], &ours, kW), XVID_ERR_OK);
    const Bytes theirs = FlipRows(Bytes(pictures.begin() + static_cast<std::ptrdiff_t>(i * size),
                                        pictures.begin() + static_cast<std::ptrdiff_t>((i + 1) * size)),
                                  kW, kH);
    EXPECT_GT(Psnr(theirs, ours), 40.0) << "frame " << i;
    EXPECT_GT(Psnr(theirs, MovingPicture(kW, kH, i)), 30.0) << "frame " << i;
  }
}

TEST(Interop, OurDecoderDecodesFfmpegsStream) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  constexpr int kW = 352, kH = 288, kFrames = 30;
  const std::string path = TempDir() + "/codec_theirs.m4v";
  const std::string raw = TempDir() + "/codec_theirs.bgr";
  std::string out;
  ASSERT_EQ(
      RunCommand(
          "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=352x288:rate=15 -frames:v 30 -c:v mpeg4 "
          "-b:v 400k -f m4v " +
              path,
          &out),
      0)
      << out;
  ASSERT_EQ(RunCommand("ffmpeg -nostdin -v error -y -i " + path + " -f rawvideo -pix_fmt bgr24 " + raw, &out),
            0)
      << out;
  const std::vector<Bytes> frames = SplitAtPictures(ReadFile(path));
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));
  const Bytes pictures = ReadFile(raw);
  const std::size_t size = static_cast<std::size_t>(kW) * kH * 3;
  ASSERT_EQ(pictures.size(), size * kFrames);

  Decoder decoder(kW, kH);
  Bytes ours(704 * 576 * 3);
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_EQ(decoder.Decode(frames[i], &ours, kW), XVID_ERR_OK) << "frame " << i;
    const Bytes theirs = FlipRows(Bytes(pictures.begin() + static_cast<std::ptrdiff_t>(i * size),
                                        pictures.begin() + static_cast<std::ptrdiff_t>((i + 1) * size)),
                                  kW, kH);
    EXPECT_GT(Psnr(theirs, Bytes(ours.begin(), ours.begin() + static_cast<std::ptrdiff_t>(size))), 40.0)
        << "frame " << i;
  }
}

}  // namespace
