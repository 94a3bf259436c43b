#include "net/frame_assembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "tests/net/datagram_builder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A frame as an encoder makes one: it starts with a start code, and (as almost always) no later
// 800-byte piece does.
Bytes EncodedLike(std::size_t length, std::uint8_t seed = 1) {
  Bytes frame(length);
  for (std::size_t i = 0; i < length; ++i) frame[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
  for (std::size_t at = 0; at < length; at += 800) frame[at] = 0xA5;
  frame[0] = 0;
  if (length > 1) frame[1] = 0;
  if (length > 2) frame[2] = 1;
  return frame;
}

class Assembler : public ::testing::Test {
 protected:
  FrameAssembler::Added Add(const TestDatagram& d) {
    const Bytes bytes = d.Bytes();
    const auto header = ParseDatagram(bytes.data(), bytes.size());
    return assembler.Add(*header, bytes.data() + header->payloadOffset);
  }
  // Adds the datagrams and collects every frame handed out after each.
  void Feed(const std::vector<TestDatagram>& datagrams) {
    for (const TestDatagram& d : datagrams) {
      Add(d);
      while (auto frame = assembler.Next()) out.push_back({frame->sequence, frame->keyFrame, frame->skipped,
                                                           Bytes(frame->data, frame->data + frame->length)});
    }
  }
  void FeedFrame(std::uint16_t sequence, bool key, const Bytes& frame) { Feed(Fragments(sequence, key, frame)); }

  struct Out {
    std::uint16_t sequence;
    bool key;
    std::uint32_t skipped;
    Bytes bytes;
  };
  std::unique_ptr<std::uint8_t[]> room = std::make_unique<std::uint8_t[]>(kFramesInFlight * kFrameSlotBytes);
  FrameAssembler assembler{room.get()};
  std::vector<Out> out;
};

TEST_F(Assembler, HandsOutFramesOfOneToManyFragmentsInOrder) {
  const Bytes a = EncodedLike(300), b = EncodedLike(800), c = EncodedLike(1600), d = EncodedLike(5000);
  FeedFrame(10, true, a);
  FeedFrame(11, false, b);
  FeedFrame(12, false, c);
  FeedFrame(13, false, d);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].bytes, a);
  EXPECT_EQ(out[1].bytes, b);
  EXPECT_EQ(out[2].bytes, c);
  EXPECT_EQ(out[3].bytes, d);
  EXPECT_EQ(out[3].sequence, 13);
  EXPECT_TRUE(out[0].key);
  EXPECT_EQ(out[1].skipped, 0u);
  EXPECT_FALSE(assembler.Waiting());
}

TEST_F(Assembler, PutsTheStartCodeFirstAndTheShortPieceLastWhateverTheyArrivedAs) {
  const Bytes frame = EncodedLike(2000);  // 800 + 800 + 400
  auto pieces = Fragments(5, true, frame);
  Feed({pieces[2], pieces[1], pieces[0]});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes, frame);

  const Bytes even = EncodedLike(1600, 9);  // two pieces of 800: the start code tells them apart
  auto two = Fragments(6, false, even);
  Feed({two[1], two[0]});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].bytes, even);
}

TEST_F(Assembler, DropsExactRepeatsAndKeepsTheFrame) {
  const Bytes frame = EncodedLike(1700);
  auto pieces = Fragments(1, true, frame);
  EXPECT_EQ(Add(pieces[0]), FrameAssembler::Added::kTaken);
  EXPECT_EQ(Add(pieces[0]), FrameAssembler::Added::kRepeat);
  EXPECT_EQ(Add(pieces[1]), FrameAssembler::Added::kTaken);
  EXPECT_EQ(Add(pieces[1]), FrameAssembler::Added::kRepeat);
  Feed({pieces[2], pieces[2]});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].bytes, frame);
  // A repeat of a frame already handed out is late.
  EXPECT_EQ(Add(pieces[1]), FrameAssembler::Added::kLate);
}

TEST_F(Assembler, ABadPieceDamagesItsFrameAndTheNextKeyFrameEndsTheWait) {
  FeedFrame(1, true, EncodedLike(100));
  struct Case {
    const char* what;
    TestDatagram bad;
  };
  const Bytes frame = EncodedLike(2000);
  auto pieces = Fragments(2, false, frame);
  TestDatagram wrongSize = pieces[1];
  wrongSize.payload.resize(700);
  TestDatagram secondStart = pieces[1];
  secondStart.payload[0] = 0, secondStart.payload[1] = 0, secondStart.payload[2] = 1;
  TestDatagram otherLength = pieces[1];
  otherLength.frameLength = 2400;
  TestDatagram otherMarker = pieces[1];
  otherMarker.keyFrame = true;
  TestDatagram extraInterior = pieces[1];
  extraInterior.payload[100] ^= 1;  // not a repeat, and the frame has room for one interior piece
  for (const Case& c : {Case{"a piece neither 800 bytes nor the last one's length", wrongSize},
                        Case{"a second piece that starts with a start code", secondStart},
                        Case{"another frame length", otherLength}, Case{"another marker", otherMarker},
                        Case{"one piece too many", extraInterior}}) {
    SCOPED_TRACE(c.what);
    assembler.Reset();
    out.clear();
    FeedFrame(1, true, EncodedLike(100));
    ASSERT_EQ(out.size(), 1u);
    Feed({pieces[0], pieces[1]});
    EXPECT_EQ(Add(c.bad), FrameAssembler::Added::kDamaged);
    Feed({pieces[2]});
    EXPECT_EQ(out.size(), 1u);
    EXPECT_TRUE(assembler.Waiting());
    FeedFrame(3, false, EncodedLike(500));  // predicted from the lost frame: never handed out
    EXPECT_EQ(out.size(), 1u);
    FeedFrame(4, true, EncodedLike(900));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].sequence, 4);
    EXPECT_EQ(out[1].skipped, 2u);
  }
}

TEST_F(Assembler, ALateFragmentOfOneFrameAfterTheNextBeganCostsNeither) {
  FeedFrame(100, true, EncodedLike(900));
  auto first = Fragments(101, false, EncodedLike(1700, 3));
  auto second = Fragments(102, false, EncodedLike(1000, 4));
  Feed({first[0], first[1], second[0], second[1], first[2]});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[1].bytes, EncodedLike(1700, 3));
  EXPECT_EQ(out[2].bytes, EncodedLike(1000, 4));
  EXPECT_FALSE(assembler.Waiting());
}

TEST_F(Assembler, AFrameStillIncompleteTwoFramesLaterIsLost) {
  FeedFrame(7, true, EncodedLike(900));
  auto lossy = Fragments(8, false, EncodedLike(1700));
  Feed({lossy[0], lossy[2]});  // lossy[1] never comes
  FeedFrame(9, false, EncodedLike(300));
  EXPECT_FALSE(assembler.Waiting());  // one frame later it may still complete
  FeedFrame(10, false, EncodedLike(300));
  EXPECT_TRUE(assembler.Waiting());
  FeedFrame(11, false, EncodedLike(300));
  FeedFrame(12, true, EncodedLike(2500, 8));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].sequence, 12);
  EXPECT_EQ(out[1].bytes, EncodedLike(2500, 8));
  EXPECT_EQ(out[1].skipped, 4u);
}

TEST_F(Assembler, AWholeKeyFrameIsTakenAtOnceWhateverIsStillMissing) {
  FeedFrame(20, true, EncodedLike(900));
  Feed({Fragments(21, false, EncodedLike(1700))[0]});
  FeedFrame(22, true, EncodedLike(1200, 5));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].sequence, 22);
  EXPECT_EQ(out[1].skipped, 1u);
  FeedFrame(23, false, EncodedLike(400));
  EXPECT_EQ(out.size(), 3u);
}

TEST_F(Assembler, WaitingIsAStateOfItsOwnSoSequenceNumberZeroAndTheWrapAreOrdinary) {
  FeedFrame(0, false, EncodedLike(300));  // waiting: not a key frame
  EXPECT_TRUE(out.empty());
  FeedFrame(65534, true, EncodedLike(300));
  FeedFrame(65535, false, EncodedLike(400));
  FeedFrame(0, false, EncodedLike(500));
  FeedFrame(1, false, EncodedLike(600));
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[2].sequence, 0);
  EXPECT_EQ(out[2].skipped, 0u);
  EXPECT_EQ(out[3].bytes, EncodedLike(600));
  EXPECT_FALSE(assembler.Waiting());
}

TEST_F(Assembler, ADatagramWithoutPayloadNeverEndsTheWait) {
  TestDatagram keepAlive{0x84, true, 33, 5, 0x11223344, {}};
  EXPECT_EQ(Add(keepAlive), FrameAssembler::Added::kEmpty);
  TestDatagram tiny{0x80, true, 33, 6, 1, {0x42}};  // one byte, marker set: a frame of nothing
  EXPECT_EQ(Add(tiny), FrameAssembler::Added::kTaken);
  ASSERT_TRUE(assembler.Next());  // handed out: whether it is a picture is the decoder's call
  assembler.DecodeFailed();
  EXPECT_TRUE(assembler.Waiting());
  TestDatagram zeroLength{0x80, true, 33, 9, 0, {1, 2}};
  EXPECT_EQ(Add(zeroLength), FrameAssembler::Added::kBadLength);
  TestDatagram huge{0x80, true, 33, 9, 100001, {1, 2}};
  EXPECT_EQ(Add(huge), FrameAssembler::Added::kBadLength);
}

TEST_F(Assembler, ASenderThatStartsAgainFarBehindIsANewStream) {
  FeedFrame(30000, true, EncodedLike(300));
  FeedFrame(30001, false, EncodedLike(300));
  EXPECT_EQ(Add(Fragments(29999, false, EncodedLike(300))[0]), FrameAssembler::Added::kLate);
  FeedFrame(12, true, EncodedLike(700, 2));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[2].sequence, 12);
  EXPECT_EQ(out[2].skipped, 0u);
}

TEST_F(Assembler, TwoInteriorPiecesSwappedInTransitLeaveNoTrace) {
  // The limit of a wire without fragment numbers: equal pieces between the first and the last.
  const Bytes frame = EncodedLike(3000);
  auto pieces = Fragments(1, true, frame);
  ASSERT_EQ(pieces.size(), 4u);
  Feed({pieces[0], pieces[2], pieces[1], pieces[3]});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_NE(out[0].bytes, frame);
  EXPECT_EQ(out[0].bytes.size(), frame.size());
}

// Shuffled, repeated and lost datagrams: whatever is handed out is a frame that was sent, byte for
// byte, in sequence order, and after anything skipped comes a key frame.
TEST_F(Assembler, ShuffledRepeatedAndLostDatagramsNeverGiveAWrongFrame) {
  std::mt19937 random(20261209);
  std::map<std::uint16_t, Bytes> sent;
  std::vector<TestDatagram> wire;
  std::uint16_t sequence = static_cast<std::uint16_t>(65000 + random() % 500);
  for (int n = 0; n < 3000; ++n, ++sequence) {
    const bool key = n % 30 == 0;
    // At most three pieces: one interior piece cannot be swapped with another.
    const Bytes frame = EncodedLike(1 + random() % (key ? 2400 : 1600), static_cast<std::uint8_t>(n));
    sent[sequence] = frame;
    auto pieces = Fragments(sequence, key, frame);
    for (auto& piece : pieces) {
      if (random() % 100 < 1) continue;  // lost
      wire.push_back(piece);
      if (random() % 100 < 3) wire.push_back(piece);  // repeated
    }
  }
  // Reordering: each datagram arrives up to two places late, inside its frame or into the next.
  std::vector<std::pair<double, std::size_t>> order;
  std::uniform_real_distribution<double> lateness(0.0, 2.5);
  for (std::size_t i = 0; i < wire.size(); ++i) order.emplace_back(static_cast<double>(i) + lateness(random), i);
  std::sort(order.begin(), order.end());
  std::vector<TestDatagram> arrived;
  for (const auto& o : order) arrived.push_back(wire[o.second]);
  wire.swap(arrived);
  Feed(wire);
  ASSERT_GT(out.size(), 1000u);
  for (std::size_t i = 0; i < out.size(); ++i) {
    ASSERT_EQ(out[i].bytes, sent[out[i].sequence]) << out[i].sequence;
    if (out[i].skipped > 0) {
      EXPECT_TRUE(out[i].key) << out[i].sequence;
    }
    if (i > 0) {
      EXPECT_TRUE(SequenceAfter(out[i].sequence, out[i - 1].sequence));
    }
  }
}

}  // namespace
