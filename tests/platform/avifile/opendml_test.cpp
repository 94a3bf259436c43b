#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "platform/avifile/avifile.h"
#include "tests/platform/avifile/avi_fixture.h"

namespace avitest {
namespace {

constexpr std::uint32_t kFrameBytes = 176 * 144 * 3;

// Standard index entries of one ix00: (data offset in the file, size, key frame).
struct IndexEntry {
  std::uint64_t data;
  std::uint32_t size;
  bool key;
};
std::vector<IndexEntry> StandardIndex(const AviLayout& a, std::uint64_t at) {
  EXPECT_EQ(a.bytes.substr(at, 4), "ix00");
  const std::uint32_t n = U32(a.bytes, at + 12);
  const std::uint64_t base = U64(a.bytes, at + 20);
  std::vector<IndexEntry> out;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t size = U32(a.bytes, at + 32 + 8 * i + 4);
    out.push_back({base + U32(a.bytes, at + 32 + 8 * i), size & 0x7FFFFFFFu, (size & 0x80000000u) == 0});
  }
  return out;
}

TEST_F(AviTest, LongRecordingContinuesInOpenDmlSegments) {
  SetAVIFileWriterLimits({400000, 256});  // five frames a segment
  Open("odml.avi");
  const int frames = 23;
  for (int i = 0; i < frames; ++i) ASSERT_EQ(Write(i, i, i % 4 == 0), AVIERR_OK) << i;
  Close();

  const AviLayout a = Parse(path_);
  ASSERT_GE(a.top.size(), 4u);
  EXPECT_EQ(a.top[0].type, "AVI ");
  std::size_t end = 0;
  for (std::size_t r = 0; r < a.top.size(); ++r) {
    EXPECT_EQ(a.top[r].id, "RIFF");
    if (r) {
      EXPECT_EQ(a.top[r].type, "AVIX");
    }
    EXPECT_LE(a.top[r].size + 8, 400000u);
    EXPECT_EQ(a.top[r].offset, end);
    end = a.top[r].offset + 8 + a.top[r].size;
    if (r) {
      EXPECT_EQ(Find(a.top[r].children, "idx1"), nullptr);  // only the first has the old index
    }
  }
  EXPECT_EQ(end, a.bytes.size());
  EXPECT_EQ(a.Dmlh(), static_cast<std::uint32_t>(frames));
  EXPECT_EQ(U32(a.bytes, a.Strh() + 32), static_cast<std::uint32_t>(frames));  // dwLength: the whole stream

  // The super index names one ix00 per segment; together they index every frame in order.
  const Chunk* indx = Find(a.Strl()->children, "indx");
  ASSERT_NE(indx, nullptr);
  const std::uint32_t segments = U32(a.bytes, indx->data() + 4);
  EXPECT_EQ(segments, a.top.size());
  std::vector<IndexEntry> all;
  for (std::uint32_t s = 0; s < segments; ++s) {
    const std::uint64_t at = U64(a.bytes, indx->data() + 24 + 16 * s);
    const std::vector<IndexEntry> part = StandardIndex(a, at);
    EXPECT_EQ(U32(a.bytes, indx->data() + 24 + 16 * s + 12), part.size());
    EXPECT_GE(at, a.top[s].offset);
    EXPECT_LT(at, a.top[s].offset + 8 + a.top[s].size);
    if (s == 0) {
      EXPECT_EQ(a.Avih(4), part.size());  // dwTotalFrames: the first segment's
    }
    all.insert(all.end(), part.begin(), part.end());
  }
  const std::vector<Sample> samples = Samples(a);
  ASSERT_EQ(all.size(), static_cast<std::size_t>(frames));
  ASSERT_EQ(samples.size(), all.size());
  for (int i = 0; i < frames; ++i) {
    EXPECT_EQ(all[i].data, samples[i].offset + 8);
    EXPECT_EQ(all[i].size, kFrameBytes);
    EXPECT_EQ(all[i].key, i % 4 == 0);
  }

  EXPECT_EQ(ProbeStream(path_).at("nb_read_packets"), std::to_string(frames));
  std::vector<int> expected(frames);
  std::iota(expected.begin(), expected.end(), 0);
  ExpectDecodes(expected);
  const std::vector<bool> keys = GstKeyUnits(path_);
  ASSERT_EQ(keys.size(), static_cast<std::size_t>(frames));
  for (int i = 0; i < frames; ++i) EXPECT_EQ(keys[i], i % 4 == 0) << i;
}

TEST_F(AviTest, SegmentsBeyondTheSuperIndexRoomAreStillRead) {
  SetAVIFileWriterLimits({250000, 2});  // three frames a segment, two segments listed
  Open("full-indx.avi");
  for (int i = 0; i < 14; ++i) ASSERT_EQ(Write(i, i, i == 0), AVIERR_OK);
  Close();
  const AviLayout a = Parse(path_);
  EXPECT_GE(a.top.size(), 4u);
  EXPECT_EQ(U32(a.bytes, Find(a.Strl()->children, "indx")->data() + 4), 2u);
  ExpectDecodes({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
}

TEST_F(AviTest, FileOnDiskIsReadableAfterEveryWrite) {
  SetAVIFileWriterLimits({250000, 256});  // a new segment every third frame
  Open("live.avi");
  std::vector<int> written;
  for (int i = 0; i < 10; ++i) {
    // A gap now and then, so that padding and segment changes meet.
    const LONG pos = i < 5 ? i : i + 2;
    ASSERT_EQ(Write(pos, i, i % 3 == 0), AVIERR_OK);
    written.push_back(i);
    // Read while the file is still open, as after a crash: every frame so far is there.
    ExpectDecodes(written);
    const AviLayout a = Parse(path_);
    EXPECT_EQ(a.top.back().offset + 8 + a.top.back().size, a.bytes.size()) << "after frame " << i;
    EXPECT_EQ(a.Dmlh(), static_cast<std::uint32_t>(pos + 1));
  }
}

}  // namespace
}  // namespace avitest
