#include "platform/avifile/avifile.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>

#include "tests/platform/avifile/avi_fixture.h"

namespace avitest {
namespace {

static_assert(offsetof(AVISTREAMINFOA, dwScale) == 20);
static_assert(offsetof(AVISTREAMINFOA, dwSuggestedBufferSize) == 40);
static_assert(offsetof(AVISTREAMINFOA, rcFrame) == 52);
static_assert(offsetof(AVISTREAMINFOA, szName) == 76);
static_assert(AVIERR_BADFORMAT == static_cast<HRESULT>(0x80044066u));
static_assert(AVIERR_FILEWRITE == static_cast<HRESULT>(0x8004406Eu));
static_assert(AVIERR_FILEOPEN == -2147205009);

TEST_F(AviTest, FileCarriesTheStreamHeaderFormatAndIndexAsWritten) {
  Open("layout.avi");
  for (int i = 0; i < 6; ++i) ASSERT_EQ(Write(i, i, i % 3 == 0), AVIERR_OK);
  Close();

  const AviLayout a = Parse(path_);
  ASSERT_EQ(a.top.size(), 1u);
  EXPECT_EQ(a.top[0].type, "AVI ");
  EXPECT_EQ(a.top[0].size + 8, a.bytes.size());
  const std::size_t h = a.Strh();
  EXPECT_EQ(a.bytes.substr(h, 4), "vids");
  EXPECT_EQ(a.bytes.substr(h + 4, 4), "xvid");
  EXPECT_EQ(U32(a.bytes, h + 20), 1u);      // dwScale
  EXPECT_EQ(U32(a.bytes, h + 24), 7u);      // dwRate
  EXPECT_EQ(U32(a.bytes, h + 28), 0u);      // dwStart
  EXPECT_EQ(U32(a.bytes, h + 32), 6u);      // dwLength
  EXPECT_EQ(U32(a.bytes, h + 36), 10240u);  // dwSuggestedBufferSize
  EXPECT_EQ(U32(a.bytes, h + 40), 0u);      // dwQuality
  EXPECT_EQ(U32(a.bytes, h + 44), 0u);      // dwSampleSize
  EXPECT_EQ(U16(a.bytes, h + 52), 352u);    // rcFrame: the frame rectangle, not the format size
  EXPECT_EQ(U16(a.bytes, h + 54), 288u);
  const Chunk* strf = a.Strf();
  ASSERT_EQ(strf->size, 40u);
  EXPECT_EQ(U32(a.bytes, strf->data()), 40u);
  EXPECT_EQ(U32(a.bytes, strf->data() + 4), 176u);
  EXPECT_EQ(U32(a.bytes, strf->data() + 8), 144u);
  EXPECT_EQ(U16(a.bytes, strf->data() + 14), 24u);
  EXPECT_EQ(a.Avih(4), 6u);  // dwTotalFrames
  EXPECT_EQ(a.Avih(6), 1u);  // dwStreams
  EXPECT_EQ(a.Dmlh(), 6u);

  const Chunk* movi = a.Movi(0);
  EXPECT_EQ(movi->offset % 2048, 0u);
  const std::vector<Sample> samples = Samples(a);
  ASSERT_EQ(samples.size(), 6u);
  const Chunk* idx1 = Find(a.top[0].children, "idx1");
  ASSERT_NE(idx1, nullptr);
  ASSERT_EQ(idx1->size, 6u * 16);
  for (std::size_t i = 0; i < 6; ++i) {
    const bool key = i % 3 == 0;
    EXPECT_EQ(samples[i].id, key ? "00db" : "00dc");
    EXPECT_EQ(samples[i].size, 176u * 144 * 3);
    const std::size_t e = idx1->data() + 16 * i;
    EXPECT_EQ(a.bytes.substr(e, 4), samples[i].id);
    EXPECT_EQ(U32(a.bytes, e + 4), key ? AVIIF_KEYFRAME : 0u);
    EXPECT_EQ(U32(a.bytes, e + 8) + movi->offset + 8, samples[i].offset);  // relative to "movi"
    EXPECT_EQ(U32(a.bytes, e + 12), samples[i].size);
  }

  const auto probe = ProbeStream(path_);
  EXPECT_EQ(probe.at("streams"), "1");
  EXPECT_EQ(probe.at("codec_type"), "video");
  EXPECT_EQ(probe.at("codec_name"), "rawvideo");
  EXPECT_EQ(probe.at("pix_fmt"), "bgr24");
  EXPECT_EQ(probe.at("width"), "176");
  EXPECT_EQ(probe.at("height"), "144");
  EXPECT_EQ(probe.at("r_frame_rate"), "7/1");
  EXPECT_EQ(probe.at("nb_read_packets"), "6");
  EXPECT_EQ(GstKeyUnits(path_), (std::vector<bool>{true, false, false, true, false, false}));
  ExpectDecodes({0, 1, 2, 3, 4, 5});
}

TEST_F(AviTest, FirstPositionIsTheStartAndAnEarlierPositionIsAppended) {
  Open("positions.avi");
  for (LONG pos : {1, 2, 3}) ASSERT_EQ(Write(pos, pos, pos == 1), AVIERR_OK);
  // The recorder starts again at 0 after a pause: nothing is overwritten, the frames follow.
  ASSERT_EQ(Write(0, 10, true), AVIERR_OK);
  ASSERT_EQ(Write(1, 11), AVIERR_OK);
  Close();

  const AviLayout a = Parse(path_);
  EXPECT_EQ(U32(a.bytes, a.Strh() + 28), 1u);  // dwStart
  EXPECT_EQ(U32(a.bytes, a.Strh() + 32), 5u);  // dwLength
  EXPECT_EQ(ProbePacketTimes(path_), (std::vector<long>{1, 2, 3, 4, 5}));
  ExpectDecodes({1, 2, 3, 10, 11});
}

TEST_F(AviTest, PositionPastTheEndPadsTheGapWithEmptyChunks) {
  Open("gap.avi");
  ASSERT_EQ(Write(1, 1, true), AVIERR_OK);
  ASSERT_EQ(Write(4, 4), AVIERR_OK);
  ASSERT_EQ(Write(5, 5), AVIERR_OK);
  Close();

  const AviLayout a = Parse(path_);
  const std::vector<Sample> s = Samples(a);
  ASSERT_EQ(s.size(), 5u);
  EXPECT_EQ(s[0].id, "00db");
  EXPECT_EQ(s[1].size, 0u);
  EXPECT_EQ(s[2].size, 0u);
  EXPECT_EQ(s[1].id, "00dc");
  EXPECT_EQ(s[3].size, 176u * 144 * 3);
  EXPECT_EQ(U32(a.bytes, a.Strh() + 32), 5u);
  EXPECT_EQ(ProbePacketTimes(path_), (std::vector<long>{1, 4, 5}));
  ExpectDecodes({1, 4, 5});
}

TEST_F(AviTest, RateOfZeroIsStoredAsOneFramePerSecond) {
  Open("rate0.avi", 176, 144, 0);
  ASSERT_EQ(Write(1, 1, true), AVIERR_OK);
  ASSERT_EQ(Write(2, 2), AVIERR_OK);
  Close();

  const AviLayout a = Parse(path_);
  EXPECT_EQ(U32(a.bytes, a.Strh() + 24), 1u);
  EXPECT_EQ(a.Avih(0), 1000000u);  // microseconds per frame
  EXPECT_EQ(ProbeStream(path_).at("r_frame_rate"), "1/1");
  ExpectDecodes({1, 2});
}

TEST_F(AviTest, CreateTruncatesAnExistingFile) {
  const std::string path = Path("old.avi");
  std::ofstream(path, std::ios::binary) << std::string(3 << 20, 'x');
  Open("old.avi");
  ASSERT_EQ(Write(0, 0, true), AVIERR_OK);
  Close();
  const AviLayout a = Parse(path);
  EXPECT_EQ(a.top.size(), 1u);
  EXPECT_EQ(a.top[0].size + 8, a.bytes.size());
  ExpectDecodes({0});
}

TEST_F(AviTest, RecordingWithoutFramesIsAnEmptyStream) {
  Open("empty.avi");
  Close();
  const auto probe = ProbeStream(path_);
  EXPECT_EQ(probe.at("streams"), "1");
  EXPECT_EQ(probe.at("width"), "176");
  EXPECT_TRUE(ProbePacketTimes(path_).empty());
}

TEST_F(AviTest, OpenFailsForAnUnopenablePathAndUnsupportedModes) {
  PAVIFILE file = reinterpret_cast<PAVIFILE>(1);
  EXPECT_EQ(AVIFileOpenA(&file, Path("no/such/folder/x.avi").c_str(), OF_WRITE | OF_CREATE, nullptr),
            AVIERR_FILEOPEN);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(AVIFileOpenA(&file, "", OF_WRITE | OF_CREATE, nullptr), AVIERR_FILEOPEN);
  EXPECT_EQ(AVIFileOpenA(&file, Path("r.avi").c_str(), OF_WRITE, nullptr), AVIERR_UNSUPPORTED);
  EXPECT_EQ(AVIFileOpenA(&file, Path("r.avi").c_str(), 0, nullptr), AVIERR_UNSUPPORTED);
  EXPECT_EQ(AVIFileOpenA(&file, nullptr, OF_WRITE | OF_CREATE, nullptr), AVIERR_BADPARAM);
  EXPECT_FALSE(std::filesystem::exists(Path("r.avi")));
}

TEST_F(AviTest, LibraryMustBeStartedAndStartsNest) {
  PAVIFILE file = nullptr;
  AVIFileInit();
  AVIFileExit();  // one start is still open
  ASSERT_EQ(AVIFileOpenA(&file, Path("a.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
  EXPECT_EQ(AVIFileRelease(file), 0u);
  AVIFileExit();
  EXPECT_EQ(AVIFileOpenA(&file, Path("b.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_NOTINITIALIZED);
  SetAVIFileInitFailsForTesting(true);
  AVIFileInit();
  SetAVIFileInitFailsForTesting(false);
  EXPECT_EQ(AVIFileOpenA(&file, Path("b.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_NOTINITIALIZED);
  AVIFileInit();  // for TearDown's exit
}

TEST_F(AviTest, StreamAndWriteRefuseWhatTheWriterCannotStore) {
  ASSERT_EQ(AVIFileOpenA(&file_, Path("bad.avi").c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
  path_ = Path("bad.avi");
  AVISTREAMINFO info{};
  info.fccType = mmioFOURCC('a', 'u', 'd', 's');
  PAVISTREAM other = nullptr;
  EXPECT_EQ(AVIFileCreateStreamA(file_, &other, &info), AVIERR_UNSUPPORTED);
  EXPECT_EQ(AVIFileCreateStreamA(file_, &other, nullptr), AVIERR_BADPARAM);
  EXPECT_EQ(AVIFileCreateStreamA(nullptr, &other, &info), AVIERR_BADHANDLE);
  info.fccType = streamtypeVIDEO;
  info.dwRate = 7;
  ASSERT_EQ(AVIFileCreateStreamA(file_, &stream_, &info), AVIERR_OK);
  EXPECT_EQ(AVIFileCreateStreamA(file_, &other, &info), AVIERR_UNSUPPORTED);  // one stream per file

  EXPECT_EQ(Write(0, 0), AVIERR_BADFORMAT);  // no format yet
  BITMAPINFOHEADER bih = Format();
  EXPECT_EQ(AVIStreamSetFormat(stream_, 0, &bih, 39), AVIERR_BADPARAM);
  EXPECT_EQ(AVIStreamSetFormat(nullptr, 0, &bih, 40), AVIERR_BADHANDLE);
  bih.biSize = 12;
  EXPECT_EQ(AVIStreamSetFormat(stream_, 0, &bih, 40), AVIERR_BADFORMAT);
  EXPECT_EQ(SetFormat(), AVIERR_OK);
  EXPECT_EQ(SetFormat(), AVIERR_OK);  // the same again
  bih = Format();
  bih.biWidth = 352;
  EXPECT_EQ(AVIStreamSetFormat(stream_, 0, &bih, 40), AVIERR_UNSUPPORTED);

  const std::vector<std::uint8_t> p = Picture(176, 144, 0);
  const LONG n = static_cast<LONG>(p.size());
  LONG samples = -1;
  LONG bytes = -1;
  EXPECT_EQ(AVIStreamWrite(stream_, -1, 1, p.data(), n, 0, &samples, &bytes), AVIERR_BADPARAM);
  EXPECT_EQ(samples, 0);
  EXPECT_EQ(AVIStreamWrite(stream_, 0, 2, p.data(), n, 0, nullptr, nullptr), AVIERR_UNSUPPORTED);
  EXPECT_EQ(AVIStreamWrite(stream_, 0, 1, nullptr, n, 0, nullptr, nullptr), AVIERR_BADPARAM);
  EXPECT_EQ(AVIStreamWrite(nullptr, 0, 1, p.data(), n, 0, nullptr, nullptr), AVIERR_BADHANDLE);
  EXPECT_EQ(AVIStreamWrite(stream_, 0, 1, p.data(), n, AVIIF_KEYFRAME, &samples, &bytes), AVIERR_OK);
  EXPECT_EQ(samples, 1);
  EXPECT_EQ(bytes, n);
  EXPECT_EQ(AVIStreamWrite(stream_, (1 << 20) + 2, 1, p.data(), n, 0, nullptr, nullptr), AVIERR_BADPARAM);
  EXPECT_EQ(AVIStreamWrite(stream_, (1 << 20) + 1, 1, p.data(), n, 0, nullptr, nullptr), AVIERR_OK);
  Close();
  const AviLayout a = Parse(path_);
  EXPECT_EQ(U32(a.bytes, a.Strh() + 32), (1u << 20) + 2);  // the largest gap is padded
  EXPECT_EQ(ProbePacketTimes(path_),
            (std::vector<long>{0, (1 << 20) + 1}));  // the refused calls left nothing
}

TEST_F(AviTest, FileIsCompletedOnlyWhenTheStreamIsReleasedToo) {
  Open("refs.avi");
  ASSERT_EQ(Write(0, 0, true), AVIERR_OK);
  EXPECT_EQ(AVIFileRelease(file_), 1u);  // the stream still holds the file
  file_ = nullptr;
  ASSERT_EQ(Write(1, 1), AVIERR_OK);
  EXPECT_EQ(Find(Parse(path_).top[0].children, "idx1"), nullptr);
  EXPECT_EQ(AVIStreamRelease(stream_), 0u);
  stream_ = nullptr;
  EXPECT_NE(Find(Parse(path_).top[0].children, "idx1"), nullptr);
  ExpectDecodes({0, 1});
}

TEST(AviVersion, ReportsTheVideoLibraryVersionAndTakesATestValue) {
  EXPECT_EQ(HIWORD(VideoForWindowsVersion()), 0x010Au);
  SetVideoForWindowsVersionForTesting(0x01090000);
  EXPECT_EQ(VideoForWindowsVersion(), 0x01090000u);
  SetVideoForWindowsVersionForTesting(kVideoForWindowsVersion);
}

}  // namespace
}  // namespace avitest
