#include "net/reassembly.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/net/datagram_builder.h"

namespace {

TEST(CompressType, OnlyTheExactH26xTextsMakeWholeDatagramFrames) {
  EXPECT_TRUE(IsWholeDatagramCompressType("H.261"));
  EXPECT_TRUE(IsWholeDatagramCompressType("H.263"));
  EXPECT_FALSE(IsWholeDatagramCompressType("MPEG4"));
  EXPECT_FALSE(IsWholeDatagramCompressType("h.263"));
  EXPECT_FALSE(IsWholeDatagramCompressType("H.263 "));
}

// A display or recording assembly over its own buffer.
struct Assembly : FrameAssembly {
  std::vector<std::uint8_t> storage = std::vector<std::uint8_t>(kAssemblyBufferSize);
  Assembly() { pBuffer = storage.data(); }
  std::vector<std::uint8_t> Held() const { return {pBuffer, pBuffer + nLength}; }
};

class DisplayPath : public ::testing::Test {
 protected:
  DisplayStep Feed(const TestDatagram& d) { return FeedBytes(d.Bytes()); }
  DisplayStep FeedBytes(const std::vector<std::uint8_t>& bytes) {
    auto h = ParseDatagram(bytes.data(), bytes.size());
    if (!h) return DisplayStep::kDropped;
    return DisplayDatagram(display, *h, bytes.data(), bytes.size(), bWholeDatagramFrames);
  }
  // Feeds every fragment and answers what the last one gave.
  DisplayStep FeedFrame(std::uint16_t sequence, bool keyFrame, const std::vector<std::uint8_t>& frame) {
    DisplayStep step = DisplayStep::kDropped;
    for (const TestDatagram& d : Fragments(sequence, keyFrame, frame)) step = Feed(d);
    return step;
  }

  Assembly display;
  bool bWholeDatagramFrames = false;
};

TEST_F(DisplayPath, AFrameIsDecodedAfterItsLastFragment) {
  const std::vector<std::uint8_t> frame = CountingBytes(2000);
  auto fragments = Fragments(7, true, frame);
  ASSERT_EQ(fragments.size(), 3u);
  EXPECT_EQ(Feed(fragments[0]), DisplayStep::kIncomplete);
  EXPECT_EQ(Feed(fragments[1]), DisplayStep::kIncomplete);
  EXPECT_EQ(Feed(fragments[2]), DisplayStep::kDecode);
  EXPECT_EQ(display.Held(), frame);
  EXPECT_EQ(display.nLastSequence, 7);
  EXPECT_EQ(display.nCurrentSequence, 7);
}

TEST_F(DisplayPath, WaitsForTheFirstKeyFrame) {
  EXPECT_EQ(FeedFrame(1, false, CountingBytes(900)), DisplayStep::kDropped);
  EXPECT_EQ(display.nLength, 0);
  EXPECT_EQ(FeedFrame(2, false, CountingBytes(900)), DisplayStep::kDropped);
  EXPECT_EQ(FeedFrame(3, true, CountingBytes(900)), DisplayStep::kDecode);
  EXPECT_EQ(FeedFrame(4, false, CountingBytes(900)), DisplayStep::kDecode);
}

TEST_F(DisplayPath, ALostFragmentFreezesThePictureUntilTheNextKeyFrame) {
  ASSERT_EQ(FeedFrame(10, true, CountingBytes(1600)), DisplayStep::kDecode);
  auto lost = Fragments(11, false, CountingBytes(1600));
  EXPECT_EQ(Feed(lost[0]), DisplayStep::kIncomplete);  // lost[1] never arrives
  // The next frame throws the partial one away; it is complete but follows a gap.
  EXPECT_EQ(FeedFrame(12, false, CountingBytes(1600, 9)), DisplayStep::kWaitForKeyFrame);
  EXPECT_EQ(display.nLastSequence, 0);
  EXPECT_EQ(FeedFrame(13, false, CountingBytes(1600)), DisplayStep::kDropped);
  EXPECT_EQ(FeedFrame(14, true, CountingBytes(1600)), DisplayStep::kDecode);
  EXPECT_EQ(FeedFrame(15, false, CountingBytes(1600)), DisplayStep::kDecode);
}

TEST_F(DisplayPath, AKeyFrameAfterAGapIsShown) {
  ASSERT_EQ(FeedFrame(10, true, CountingBytes(100)), DisplayStep::kDecode);
  EXPECT_EQ(FeedFrame(20, true, CountingBytes(100)), DisplayStep::kDecode);
}

TEST_F(DisplayPath, SequenceZeroAfter65535IsAGap) {
  ASSERT_EQ(FeedFrame(65535, true, CountingBytes(100)), DisplayStep::kDecode);
  EXPECT_EQ(FeedFrame(0, false, CountingBytes(100)), DisplayStep::kWaitForKeyFrame);

  ASSERT_EQ(FeedFrame(65535, true, CountingBytes(100)), DisplayStep::kDecode);
  EXPECT_EQ(FeedFrame(0, true, CountingBytes(100)), DisplayStep::kDecode);
  // A last sequence of 0 also means waiting for a key frame.
  EXPECT_EQ(FeedFrame(1, false, CountingBytes(100)), DisplayStep::kDropped);
}

TEST_F(DisplayPath, OutOfOrderFragmentsAreAppendedInArrivalOrder) {
  auto fragments = Fragments(3, true, CountingBytes(1700));
  EXPECT_EQ(Feed(fragments[2]), DisplayStep::kIncomplete);
  EXPECT_EQ(Feed(fragments[0]), DisplayStep::kIncomplete);
  EXPECT_EQ(Feed(fragments[1]), DisplayStep::kDecode);
  std::vector<std::uint8_t> expected = fragments[2].payload;
  expected.insert(expected.end(), fragments[0].payload.begin(), fragments[0].payload.end());
  expected.insert(expected.end(), fragments[1].payload.begin(), fragments[1].payload.end());
  EXPECT_EQ(display.Held(), expected);
}

TEST_F(DisplayPath, KeepAlivesDropOrEndThePartialFrame) {
  ASSERT_EQ(FeedFrame(5, true, CountingBytes(100)), DisplayStep::kDecode);
  auto partial = Fragments(6, false, CountingBytes(1600));
  ASSERT_EQ(Feed(partial[0]), DisplayStep::kIncomplete);

  TestDatagram bare;  // 12 bytes: no user name
  bare.keyFrame = true;
  bare.sequence = 7;
  bare.frameLength = 0x12345678;  // the source identifier
  ASSERT_EQ(bare.Bytes().size(), 12u);
  EXPECT_EQ(Feed(bare), DisplayStep::kDropped);
  EXPECT_EQ(display.nLength, 800);
  EXPECT_EQ(display.nCurrentSequence, 6);

  TestDatagram named = bare;  // 28 bytes with the user name: an empty payload
  named.byte0 = 0x84;
  ASSERT_EQ(named.Bytes().size(), 28u);
  named.sequence = 6;
  EXPECT_EQ(Feed(named), DisplayStep::kIncomplete);
  EXPECT_EQ(display.nLength, 800);
  named.sequence = 7;
  EXPECT_EQ(Feed(named), DisplayStep::kIncomplete);
  EXPECT_EQ(display.nLength, 0);
  EXPECT_EQ(display.nCurrentSequence, 7);
}

TEST_F(DisplayPath, OnlyVersion2WithoutPaddingOrExtensionAndThreePayloadTypesAreShown) {
  ASSERT_EQ(FeedFrame(1, true, CountingBytes(100)), DisplayStep::kDecode);
  auto partial = Fragments(2, false, CountingBytes(1000));
  ASSERT_EQ(Feed(partial[0]), DisplayStep::kIncomplete);
  for (std::uint8_t byte0 : {0x40, 0xC0, 0x00, 0xA0, 0x90}) {
    TestDatagram d = Fragments(3, true, CountingBytes(10))[0];
    d.byte0 = byte0;
    EXPECT_EQ(Feed(d), DisplayStep::kDropped) << int{byte0};
  }
  for (std::uint8_t type : {96, 0, 32, 35, 127}) {
    TestDatagram d = Fragments(3, true, CountingBytes(10))[0];
    d.payloadType = type;
    EXPECT_EQ(Feed(d), DisplayStep::kDropped) << int{type};
  }
  EXPECT_EQ(display.nCurrentSequence, 2);
  EXPECT_EQ(display.nLength, 800);
  for (std::uint8_t type : {31, 34}) {
    TestDatagram d = Fragments(static_cast<std::uint16_t>(type), true, CountingBytes(10))[0];
    d.payloadType = type;
    EXPECT_EQ(Feed(d), DisplayStep::kDecode) << int{type};
  }
}

TEST_F(DisplayPath, AFullAssemblyIsThrownAwayBeforeAppending) {
  ASSERT_EQ(FeedFrame(1, true, CountingBytes(100)), DisplayStep::kDecode);
  TestDatagram big;
  big.sequence = 2;
  big.frameLength = 1000000;
  big.payload = CountingBytes(60000);
  ASSERT_EQ(Feed(big), DisplayStep::kIncomplete);
  big.payload = CountingBytes(kDisplayAssemblyLimit - 60000 - 1);
  ASSERT_EQ(Feed(big), DisplayStep::kIncomplete);
  EXPECT_EQ(display.nLength, kDisplayAssemblyLimit - 1);
  big.payload = CountingBytes(1);
  ASSERT_EQ(Feed(big), DisplayStep::kIncomplete);
  EXPECT_EQ(display.nLength, kDisplayAssemblyLimit);
  // At 97,952 bytes the next datagram empties the assembly and is itself dropped.
  EXPECT_EQ(Feed(big), DisplayStep::kDropped);
  EXPECT_EQ(display.nLength, 0);
  EXPECT_EQ(Feed(big), DisplayStep::kIncomplete);
  EXPECT_EQ(display.nLength, 1);
}

TEST_F(DisplayPath, APayloadThatDoesNotFitEmptiesTheAssembly) {
  ASSERT_EQ(FeedFrame(1, true, CountingBytes(100)), DisplayStep::kDecode);
  TestDatagram d;
  d.sequence = 2;
  d.frameLength = 100000;
  d.payload = CountingBytes(60000);
  ASSERT_EQ(Feed(d), DisplayStep::kIncomplete);
  d.payload = CountingBytes(40001);
  EXPECT_EQ(Feed(d), DisplayStep::kDropped);
  EXPECT_EQ(display.nLength, 0);

  // Exactly filling the buffer fits, and a frame of 100,000 bytes completes.
  d.payload = CountingBytes(60000);
  ASSERT_EQ(Feed(d), DisplayStep::kIncomplete);
  d.payload = CountingBytes(37000);
  ASSERT_EQ(Feed(d), DisplayStep::kIncomplete);
  d.payload = CountingBytes(3000);
  EXPECT_EQ(Feed(d), DisplayStep::kDecode);
  EXPECT_EQ(display.nLength, 100000);
}

TEST_F(DisplayPath, AFrameLengthThatLiesNeverCompletes) {
  ASSERT_EQ(FeedFrame(1, true, CountingBytes(100)), DisplayStep::kDecode);
  TestDatagram d;
  d.sequence = 2;
  d.payload = CountingBytes(800);
  for (std::uint32_t lie : {1000u, 500u, 0u, 100001u, 0xFFFFFFFFu, 0x80000320u}) {
    d.frameLength = lie;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Feed(d), DisplayStep::kIncomplete) << lie;
    ++d.sequence;
  }
  // A frame length of 0 completes with an empty payload only.
  TestDatagram empty;
  empty.byte0 = 0x81;
  empty.sequence = d.sequence;
  empty.frameLength = 0;
  EXPECT_EQ(Feed(empty), DisplayStep::kWaitForKeyFrame);
}

TEST_F(DisplayPath, TheLargestDatagramsAreTaken) {
  ASSERT_EQ(FeedFrame(1, true, CountingBytes(100)), DisplayStep::kDecode);
  TestDatagram d;
  d.sequence = 2;
  d.payload = CountingBytes(65507 - 12);
  d.frameLength = static_cast<std::uint32_t>(d.payload.size());
  EXPECT_EQ(Feed(d), DisplayStep::kDecode);
  EXPECT_EQ(display.Held(), d.payload);

  std::vector<std::uint8_t> tooLong = d.Bytes();
  tooLong.resize(kDatagramBufferSize + 1);
  d.sequence = 3;
  tooLong[3] = 3;
  EXPECT_EQ(FeedBytes(tooLong), DisplayStep::kDropped);
  EXPECT_EQ(display.nCurrentSequence, 2);
}

TEST_F(DisplayPath, ADecodeFailureWaitsForTheNextKeyFrame) {
  ASSERT_EQ(FeedFrame(1, true, CountingBytes(100)), DisplayStep::kDecode);
  DisplayDecodeFailed(display);
  EXPECT_EQ(FeedFrame(2, false, CountingBytes(100)), DisplayStep::kDropped);
  EXPECT_EQ(FeedFrame(3, true, CountingBytes(100)), DisplayStep::kDecode);
}

TEST_F(DisplayPath, H26xDrawsAfterEveryDatagramWithoutGaps) {
  bWholeDatagramFrames = true;
  TestDatagram d;
  d.sequence = 4;
  d.frameLength = 99999;
  d.payload = CountingBytes(10);
  EXPECT_EQ(Feed(d), DisplayStep::kDropped);  // still waits for a key frame
  d.keyFrame = true;
  EXPECT_EQ(Feed(d), DisplayStep::kDraw);
  d.keyFrame = false;
  EXPECT_EQ(Feed(d), DisplayStep::kDraw);
  EXPECT_EQ(display.nLength, 20);
  d.sequence = 40;  // a gap does not matter
  EXPECT_EQ(Feed(d), DisplayStep::kDraw);
  EXPECT_EQ(display.nLength, 10);
  EXPECT_EQ(display.nLastSequence, 40);
}

class RecordingPath : public ::testing::Test {
 protected:
  RecordStep Feed(const TestDatagram& d) {
    const std::vector<std::uint8_t> bytes = d.Bytes();
    auto h = ParseDatagram(bytes.data(), bytes.size());
    return RecordDatagram(recording, *h, bytes.data(), bWholeDatagramFrames);
  }
  Assembly recording;
  bool bWholeDatagramFrames = false;
};

TEST_F(RecordingPath, StartsWithAKeyFrameAndKnowsNoGap) {
  auto before = Fragments(1, false, CountingBytes(900));
  EXPECT_EQ(Feed(before[0]), RecordStep::kWaiting);
  EXPECT_EQ(recording.nCurrentSequence, 1);
  EXPECT_EQ(recording.nLength, 0);

  auto key = Fragments(2, true, CountingBytes(900));
  EXPECT_EQ(Feed(key[0]), RecordStep::kIncomplete);
  EXPECT_EQ(Feed(key[1]), RecordStep::kComplete);
  EXPECT_EQ(recording.Held(), CountingBytes(900));
  recording.nLength = 0;

  auto lost = Fragments(3, false, CountingBytes(900));
  EXPECT_EQ(Feed(lost[0]), RecordStep::kIncomplete);
  auto afterGap = Fragments(9, false, CountingBytes(900, 5));
  EXPECT_EQ(Feed(afterGap[0]), RecordStep::kIncomplete);
  EXPECT_EQ(Feed(afterGap[1]), RecordStep::kComplete);
  EXPECT_EQ(recording.Held(), CountingBytes(900, 5));
}

TEST_F(RecordingPath, LooksAtNoVersionOrPayloadType) {
  TestDatagram d;
  d.byte0 = 0x70;
  d.payloadType = 96;
  d.keyFrame = true;
  d.sequence = 1;
  d.payload = CountingBytes(10);
  d.frameLength = 10;
  EXPECT_EQ(Feed(d), RecordStep::kComplete);
}

TEST_F(RecordingPath, APayloadThatDoesNotFitEmptiesTheAssembly) {
  TestDatagram d;
  d.keyFrame = true;
  d.sequence = 1;
  d.frameLength = 200000;
  d.payload = CountingBytes(65000);
  EXPECT_EQ(Feed(d), RecordStep::kIncomplete);
  EXPECT_EQ(Feed(d), RecordStep::kOverflow);
  EXPECT_EQ(recording.nLength, 0);
  // No 97,952 rule here: the buffer fills up to its last byte.
  EXPECT_EQ(Feed(d), RecordStep::kIncomplete);
  d.payload = CountingBytes(35000);
  EXPECT_EQ(Feed(d), RecordStep::kIncomplete);
  EXPECT_EQ(recording.nLength, 100000);
}

TEST_F(RecordingPath, H26xRecordsEveryDatagramAsAFrame) {
  bWholeDatagramFrames = true;
  TestDatagram d;
  d.keyFrame = true;
  d.sequence = 1;
  d.frameLength = 5000;
  d.payload = CountingBytes(10);
  EXPECT_EQ(Feed(d), RecordStep::kComplete);
  recording.nLength = 0;
  d.keyFrame = false;
  EXPECT_EQ(Feed(d), RecordStep::kComplete);
}

}  // namespace
