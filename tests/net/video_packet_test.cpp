#include "net/video_packet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "net/header_counters.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(std::size_t length) {
  Bytes frame(length);
  for (std::size_t i = 0; i < length; ++i) frame[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return frame;
}

// Fragments a frame the way the frame sender does and collects the datagrams.
std::vector<Bytes> Fragments(const Bytes& frame, bool keyFrame, std::uint16_t sequence,
                             std::uint32_t timestamp, const char* userName) {
  std::uint8_t header[kVideoHeaderSizeWithName];
  const std::size_t h = WriteFragmentHeader(header, keyFrame, sequence, timestamp,
                                            static_cast<std::uint32_t>(frame.size()), userName);
  std::vector<Bytes> out;
  SendFrameFragments(header, h, frame.data(), frame.size(), [&](const std::uint8_t* d, std::size_t n) {
    out.emplace_back(d, d + n);
    return true;
  });
  return out;
}

TEST(VideoPacketTest, KeyFrameWithUserNameLeavesAsTwoFragmentsWithIdenticalHeaders) {
  const Bytes frame = Frame(1000);
  const auto datagrams = Fragments(frame, true, 4660, 65536, "ab");
  ASSERT_EQ(datagrams.size(), 2u);
  EXPECT_EQ(datagrams[0].size(), 828u);
  EXPECT_EQ(datagrams[1].size(), 228u);
  const Bytes header = {0x84, 0xA1, 0x12, 0x34, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x03, 0xE8, 'a', 'b',
                        0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,   0};
  for (const Bytes& d : datagrams) EXPECT_EQ(Bytes(d.begin(), d.begin() + 28), header);
  EXPECT_EQ(Bytes(datagrams[0].begin() + 28, datagrams[0].end()), Bytes(frame.begin(), frame.begin() + 800));
  EXPECT_EQ(Bytes(datagrams[1].begin() + 28, datagrams[1].end()), Bytes(frame.begin() + 800, frame.end()));
}

TEST(VideoPacketTest, FragmentSizesAtThe800ByteEdges) {
  struct Case {
    std::size_t frame;
    std::vector<std::size_t> payloads;
  };
  for (const Case& c :
       {Case{800, {800}}, Case{801, {800, 1}}, Case{1600, {800, 800}}, Case{1, {1}}, Case{0, {}}}) {
    const auto datagrams = Fragments(Frame(c.frame), false, 7, 9, "");
    ASSERT_EQ(datagrams.size(), c.payloads.size()) << c.frame;
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
      EXPECT_EQ(datagrams[i].size(), 12 + c.payloads[i]) << c.frame;
      EXPECT_EQ(datagrams[i][0], 0x80);
      EXPECT_EQ(datagrams[i][1], 0x21);  // not a key frame: marker clear
    }
  }
}

TEST(VideoPacketTest, FailedSendEndsTheFrame) {
  const Bytes frame = Frame(2500);
  std::uint8_t header[kVideoHeaderSizeWithName];
  const std::size_t h = WriteFragmentHeader(header, false, 1, 2, 2500, nullptr);
  int calls = 0;
  const std::size_t sent = SendFrameFragments(header, h, frame.data(), frame.size(),
                                              [&](const std::uint8_t*, std::size_t) { return ++calls < 2; });
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(sent, 1u);
}

TEST(VideoPacketTest, UserNameFieldTakesAtMostSixteenBytesWithoutTerminator) {
  std::uint8_t header[kVideoHeaderSizeWithName];
  EXPECT_EQ(WriteFragmentHeader(header, false, 0, 0, 0, "ABCDEFGHIJKLMNOPQRST"), 28u);
  EXPECT_EQ(Bytes(header + 12, header + 28),
            Bytes({'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'}));
  EXPECT_EQ(WriteFragmentHeader(header, false, 0, 0, 0, "ABCDEFGHIJKLMNOP"), 28u);
  EXPECT_EQ(header[27], 'P');
  EXPECT_EQ(WriteFragmentHeader(header, false, 0, 0, 0, ""), 12u);
  EXPECT_EQ(header[0], 0x80);
  EXPECT_EQ(VideoHeaderLength(nullptr), 12u);
  EXPECT_EQ(VideoHeaderLength("x"), 28u);
}

TEST(VideoPacketTest, KeepAlivePayloadTypeFollowsTheExactCompressType) {
  const PacketFields fields{0xBEEF, 0x01020304, 0x11223344};
  std::uint8_t packet[kVideoHeaderSizeWithName];
  struct Case {
    const char* type;
    std::uint8_t byte1;
  };
  for (const Case& c : {Case{"H.263", 0xA2}, Case{"H.261", 0x9F}, Case{"MPEG4", 0xA1}, Case{"h.263", 0xA1}}) {
    ASSERT_EQ(WriteKeepAlivePacket(packet, c.type, fields, ""), 12u);
    EXPECT_EQ(packet[1], c.byte1) << c.type;
  }
  // Source identifier in little-endian order; the user name makes it 28 bytes.
  ASSERT_EQ(WriteKeepAlivePacket(packet, "MPEG4", fields, "ab"), 28u);
  EXPECT_EQ(Bytes(packet, packet + 14),
            Bytes({0x84, 0xA1, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04, 0x44, 0x33, 0x22, 0x11, 'a', 'b'}));
}

TEST(VideoPacketTest, FakeVideoPacketAndNameAnnouncementLayouts) {
  std::uint8_t packet[kVideoHeaderSizeWithName];
  ASSERT_EQ(WriteFakeVideoPacket(packet, {4660, 65536, 0xA0B0C0D0}), 12u);
  EXPECT_EQ(Bytes(packet, packet + 12),
            Bytes({0x80, 0xA1, 0x12, 0x34, 0x00, 0x01, 0x00, 0x00, 0xD0, 0xC0, 0xB0, 0xA0}));

  std::uint8_t announcement[kNameAnnouncementSize];
  std::fill(std::begin(announcement), std::end(announcement), 0xEE);
  ASSERT_EQ(WriteNameAnnouncement(announcement, "ab"), 20u);
  EXPECT_EQ(Bytes(announcement, announcement + 20),
            Bytes({0x80, 0x01, 0x10, 0x00, 'a', 'b', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  WriteNameAnnouncement(announcement, "0123456789abcdefXYZ");
  EXPECT_EQ(announcement[19], 'f');
}

TEST(VideoPacketTest, ParseReadsWhatTheBuildersWrote) {
  const auto datagrams = Fragments(Frame(1000), true, 4660, 65536, "ab");
  const auto d = ParseDatagram(datagrams[1].data(), datagrams[1].size());
  ASSERT_TRUE(d);
  EXPECT_EQ(d->version, 2);
  EXPECT_FALSE(d->padding);
  EXPECT_FALSE(d->extension);
  EXPECT_EQ(d->csrcCount, 4);
  EXPECT_TRUE(d->marker);
  EXPECT_EQ(d->payloadType, 33);
  EXPECT_EQ(d->sequence, 4660);
  EXPECT_EQ(d->timestamp, 65536u);
  EXPECT_EQ(d->frameLength, 1000u);
  EXPECT_EQ(d->payloadOffset, 28u);
  EXPECT_EQ(d->payloadLength, 200u);

  // A keep-alive with the user name has a header and an empty payload.
  std::uint8_t keepAlive[kVideoHeaderSizeWithName];
  const auto k = ParseDatagram(keepAlive, WriteKeepAlivePacket(keepAlive, "H.261", {}, "n"));
  ASSERT_TRUE(k);
  EXPECT_EQ(k->payloadType, 31);
  EXPECT_EQ(k->payloadLength, 0u);
}

TEST(VideoPacketTest, ParseRefusesDatagramsShorterThanTheirHeader) {
  const std::uint8_t header[12] = {0x80, 0x21};
  EXPECT_FALSE(ParseDatagram(header, 0));
  EXPECT_FALSE(ParseDatagram(header, 11));
  EXPECT_TRUE(ParseDatagram(header, 12));

  // CC is read from the wire: 15 CSRC words need 72 bytes, and their content is skipped.
  std::uint8_t wide[80] = {0xBF, 0x60};  // V=2, P, X, CC=15, PT 96
  EXPECT_FALSE(ParseDatagram(wide, 71));
  const auto d = ParseDatagram(wide, 80);
  ASSERT_TRUE(d);
  EXPECT_TRUE(d->padding);
  EXPECT_TRUE(d->extension);
  EXPECT_EQ(d->payloadType, 96);
  EXPECT_EQ(d->payloadOffset, 72u);
  EXPECT_EQ(d->payloadLength, 8u);
  const std::uint8_t version1[12] = {0x40};
  EXPECT_EQ(ParseDatagram(version1, 12)->version, 1);
}

TEST(HeaderCountersTest, SequenceAndTimestampWrap) {
  HeaderCounters counters;
  counters.Seed(65535, 0xFFFFFFF0u, 42);
  counters.NextSequence();
  counters.AdvanceTimestamp(0x20);
  const PacketFields f = counters.Load();
  EXPECT_EQ(f.sequence, 0);
  EXPECT_EQ(f.timestamp, 0x10u);
  EXPECT_EQ(f.sourceId, 42u);
}

TEST(HeaderCountersTest, ReaderSeesPairsTheWriterMade) {
  // The writer keeps timestamp == 528 x sequence (mod 2^16 frames); a reader must never see
  // a sequence from one frame with a timestamp from another beyond the one-step window.
  HeaderCounters counters;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 200000; ++i) {
      counters.NextSequence();
      counters.AdvanceTimestamp(528);
    }
    done = true;
  });
  int bad = 0;
  while (!done) {
    const PacketFields f = counters.Load();
    const std::uint32_t frames = f.timestamp / 528;
    if (static_cast<std::uint16_t>(frames) != f.sequence &&
        static_cast<std::uint16_t>(frames + 1) != f.sequence)
      ++bad;
  }
  writer.join();
  EXPECT_EQ(bad, 0);
}

}  // namespace
