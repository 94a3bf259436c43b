// One datagram at a time through recording, the sender's ID, forwarding and the display, with the
// real decoder and effects that only take notes. Every picture drawn or recorded is compared with
// what a decoder that saw the whole stream in order made of the same frame.
#include "net/receive_datagram.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "codec/frame_decoder.h"
#include "tests/net/datagram_builder.h"
#include "tests/support/test_stream.h"

namespace {

using test_stream::Bytes;

constexpr ULONG kPeer = 0x0A000001;  // 10.0.0.1
constexpr ULONG kOther = 0x0A000002;
constexpr USHORT kPort = 4000;

PAVISTREAM SomeStream() {
  static int stream;
  return reinterpret_cast<PAVISTREAM>(&stream);
}
PAVIFILE SomeFile() {
  static int file;
  return reinterpret_cast<PAVIFILE>(&file);
}

struct Notes : ReceiveEffects {
  struct Forwarded {
    int id;
    Bytes bytes;
  };
  struct Written {
    int id;
    LONG position;
    bool key;
    Bytes picture;
  };
  struct Drawn {
    std::uint16_t sequence;
    Bytes picture;
  };
  std::vector<Forwarded> forwarded;
  std::vector<Written> written;
  std::vector<Drawn> drawn;
  const ClientTable* table = nullptr;
  const std::uint8_t* picture = nullptr;
  std::size_t pictureBytes = 0;
  int writesBeforeFailure = -1;  // negative: every write succeeds

  void Forward(const ClientRecord& d, const std::uint8_t* data, std::size_t length) override {
    forwarded.push_back({static_cast<int>(&d - &(*table)[0]), Bytes(data, data + length)});
  }
  bool WriteRecordedFrame(ClientRecord& c, LONG position, const std::uint8_t* bits, std::size_t bytes,
                          bool key) override {
    if (writesBeforeFailure == 0) return false;
    if (writesBeforeFailure > 0) --writesBeforeFailure;
    written.push_back({static_cast<int>(&c - &(*table)[0]), position, key, Bytes(bits, bits + bytes)});
    return true;
  }
  void DrawPicture(std::uint16_t sequence) override {
    drawn.push_back({sequence, Bytes(picture, picture + pictureBytes)});
  }
};

// A sender's stream with the pictures a decoder that missed nothing shows for each frame.
struct Stream {
  Stream(int w, int h, int frames, int bitrate = 250000, int keyInterval = 30)
      : width(w), height(h), frames(test_stream::EncodeStream(w, h, frames, bitrate, keyInterval)) {
    test_stream::ReferenceDecoder decoder(w, h);
    for (const auto& f : this->frames) pictures.push_back(decoder.Decode(f.bytes));
  }
  int width, height;
  std::vector<test_stream::EncodedFrame> frames;
  std::vector<Bytes> pictures;
};

class ReceiveDatagram : public ::testing::Test {
 protected:
  void SetUp() override {
    display.frames.Attach(displayRoom.get());
    state.pClients = &table;
    state.pDisplay = &display;
    state.pDisplayDecoder = &decParam;
    state.pDisplayFrame = &decFrame;
    state.pPicture = picture.get();
    state.pRecordPicture = recordPicture.get();
    state.pRequests = &requests;
    state.pStranger = &stranger;
    UseOutputSize(176, 144);
    notes.table = &table;
    notes.picture = picture.get();
  }
  void TearDown() override {
    codec::DestroyDecoder(&decParam);
    for (int id = 0; id < kClientRecords; ++id) codec::DestroyDecoder(&table[id].xvidDecParam);
  }
  void UseOutputSize(int width, int height) {
    codec::DestroyDecoder(&decParam);
    ASSERT_EQ(codec::CreateDecoder(&decParam, width, height), 0);
    state.nOutWidth = width;
    state.nOutHeight = height;
    notes.pictureBytes = static_cast<std::size_t>(width) * height * 3;
  }

  void Feed(const Bytes& bytes, ULONG address = kPeer, USHORT port = kPort) {
    ProcessDatagram(state, bytes.data(), bytes.size(), address, port, notes);
  }
  // One frame's datagrams; the clock moves on by a frame interval of 15 frames a second.
  void FeedFrame(const test_stream::EncodedFrame& frame, std::uint16_t sequence, ULONG address = kPeer,
                 USHORT port = kPort) {
    for (const Bytes& d : test_stream::Datagrams(frame, sequence)) Feed(d, address, port);
    state.nowMs += 66;
  }
  // A client added as the control adds one: recording clients get a decoder and room of the size.
  int AddClient(ULONG address, USHORT port, bool bRecording, int width = 176, int height = 144) {
    const int id = table.FreeID();
    if (bRecording) {
      table[id].pAviFile = SomeFile();
      table[id].pAviStream = SomeStream();
      codec::CreateDecoder(&table[id].xvidDecParam, width, height);
      table.GiveRecordingRoom(id, width, height);
    }
    char ip[32];
    std::snprintf(ip, sizeof ip, "%u.%u.%u.%u", address >> 24, (address >> 16) & 255, (address >> 8) & 255,
                  address & 255);
    table.Occupy(id, ip, port, nullptr);
    return id;
  }
  // The requests due now, as (address, port).
  std::vector<std::pair<ULONG, USHORT>> DueRequests() {
    std::vector<std::pair<ULONG, USHORT>> due;
    requests.SendDue(state.nowMs, [&](ULONG a, USHORT p) { due.emplace_back(a, p); });
    return due;
  }

  std::unique_ptr<std::uint8_t[]> displayRoom =
      std::make_unique<std::uint8_t[]>(kFramesInFlight * kFrameSlotBytes);
  std::unique_ptr<std::uint8_t[]> picture = std::make_unique<std::uint8_t[]>(kPictureBufferSize);
  std::unique_ptr<std::uint8_t[]> recordPicture = std::make_unique<std::uint8_t[]>(kPictureBufferSize);
  ClientTable table;
  DisplayReceiver display;
  KeyFrameRequester requests;
  StrangerSource stranger;
  xvid21::XVID_DEC_PARAM decParam{};
  xvid21::XVID_DEC_FRAME decFrame{};
  ReceiveState state;
  Notes notes;
};

TEST_F(ReceiveDatagram, ShowsAndRecordsEachFrameAsADecoderThatMissedNothingDoes) {
  const Stream stream(176, 144, 8);
  const int id = AddClient(kPeer, kPort, true);
  state.nShowClient = id;
  for (std::size_t i = 0; i < stream.frames.size(); ++i) FeedFrame(stream.frames[i], static_cast<std::uint16_t>(100 + i));
  ASSERT_EQ(notes.drawn.size(), stream.frames.size());
  ASSERT_EQ(notes.written.size(), stream.frames.size());
  for (std::size_t i = 0; i < stream.frames.size(); ++i) {
    EXPECT_EQ(notes.drawn[i].picture, stream.pictures[i]) << i;
    EXPECT_EQ(notes.written[i].picture, stream.pictures[i]) << i;
    EXPECT_EQ(notes.written[i].position, static_cast<LONG>(1 + i));
    EXPECT_EQ(notes.written[i].key, stream.frames[i].bKeyFrame);
  }
}

// What a network does to a CIF call at 1 Mbit/s (several datagrams a frame): datagrams lost and
// repeated, a frame's first piece overtaken by the others, its last piece arriving after the next
// frame began, over the sequence-number wrap. No picture drawn or recorded may differ from the right
// one. (Pieces between the first and the last keep their order here: swapped, nothing on this wire
// can tell, which the jitter scenario of the calls across hosts counts.)
TEST_F(ReceiveDatagram, UnderLossRepeatsAndReorderingEveryPictureDrawnAndRecordedIsRight) {
  UseOutputSize(352, 288);
  const Stream stream(352, 288, 150, 1000000, 15);
  const int id = AddClient(kPeer, kPort, true, 352, 288);
  state.nShowClient = id;
  std::mt19937 random(7);
  const std::uint16_t first = 65480;
  std::vector<Bytes> wire;
  Bytes late;  // the last piece of the frame before, held back
  for (std::size_t i = 0; i < stream.frames.size(); ++i) {
    auto datagrams = test_stream::Datagrams(stream.frames[i], static_cast<std::uint16_t>(first + i));
    if (datagrams.size() > 1 && random() % 100 < 20) std::rotate(datagrams.begin(), datagrams.begin() + 1, datagrams.end());
    for (std::size_t n = 0; n < datagrams.size(); ++n) {
      if (i > 0 && random() % 100 < 1) continue;  // 1 % lost
      wire.push_back(datagrams[n]);
      if (random() % 100 < 2) wire.push_back(datagrams[n]);  // 2 % repeated
      if (n == 0 && !late.empty()) {
        wire.push_back(late);
        late.clear();
      }
    }
    if (wire.size() > 1 && random() % 100 < 15) {
      late = wire.back();
      wire.pop_back();
    }
    wire.push_back({});  // the frame interval
  }
  for (const Bytes& d : wire) {
    if (d.empty()) {
      state.nowMs += 66;
      continue;
    }
    Feed(d);
  }
  const auto frameOf = [&](std::uint16_t sequence) { return static_cast<std::uint16_t>(sequence - first); };
  for (const auto& d : notes.drawn) ASSERT_EQ(d.picture, stream.pictures[frameOf(d.sequence)]) << d.sequence;
  LONG last = 0;
  for (const auto& w : notes.written) {
    EXPECT_GT(w.position, last);
    last = w.position;
    // Positions keep time: frame n of the stream lands at position 1 + n.
    ASSERT_EQ(w.picture, stream.pictures[w.position - 1]) << w.position;
  }
  // Most frames survive such a network.
  EXPECT_GT(notes.drawn.size(), stream.frames.size() / 2);
  EXPECT_GT(notes.written.size(), stream.frames.size() / 2);
}

TEST_F(ReceiveDatagram, ARepeatedDatagramNeitherFreezesNorCorruptsThePicture) {
  UseOutputSize(352, 288);
  const Stream stream(352, 288, 6, 1000000, 30);
  const int id = AddClient(kPeer, kPort, true, 352, 288);
  state.nShowClient = id;
  for (std::size_t i = 0; i < stream.frames.size(); ++i) {
    auto datagrams = test_stream::Datagrams(stream.frames[i], static_cast<std::uint16_t>(10 + i));
    ASSERT_GT(datagrams.size(), 1u);
    for (const Bytes& d : datagrams) {
      Feed(d);
      Feed(d);
    }
    state.nowMs += 66;
  }
  ASSERT_EQ(notes.drawn.size(), stream.frames.size());
  ASSERT_EQ(notes.written.size(), stream.frames.size());
  for (std::size_t i = 0; i < stream.frames.size(); ++i) {
    EXPECT_EQ(notes.drawn[i].picture, stream.pictures[i]);
    EXPECT_EQ(notes.written[i].picture, stream.pictures[i]);
  }
}

TEST_F(ReceiveDatagram, AfterALossTheRecordingWaitsForAKeyFrameAndLeavesTheLostPositionsEmpty) {
  const Stream stream(176, 144, 12, 250000, 6);  // key frames 0 and 6
  AddClient(kPeer, kPort, true);
  for (int i = 0; i < 12; ++i) {
    if (i == 3) {
      state.nowMs += 66;  // frame 3 lost
      continue;
    }
    FeedFrame(stream.frames[i], static_cast<std::uint16_t>(i));
  }
  std::vector<LONG> positions;
  for (const auto& w : notes.written) {
    positions.push_back(w.position);
    EXPECT_EQ(w.picture, stream.pictures[w.position - 1]);
  }
  EXPECT_EQ(positions, (std::vector<LONG>{1, 2, 3, 7, 8, 9, 10, 11, 12}));
}

TEST_F(ReceiveDatagram, KeepAlivesAndFakeVideoNeverEndARecordingsWaitForAKeyFrame) {
  const Stream stream(176, 144, 12, 250000, 10);
  AddClient(kPeer, kPort, true);
  Feed(TestDatagram{0x84, true, 33, 4, 0x11223344, {}}.Bytes());  // keep-alive with the user name
  Feed(TestDatagram{0x80, true, 33, 4, 0x11223344, {}}.Bytes());  // fake video
  for (int i = 1; i < 10; ++i) FeedFrame(stream.frames[i], static_cast<std::uint16_t>(4 + i));
  EXPECT_TRUE(notes.written.empty());
  FeedFrame(stream.frames[10], 14);
  FeedFrame(stream.frames[11], 15);
  ASSERT_EQ(notes.written.size(), 2u);
  EXPECT_TRUE(notes.written[0].key);
  EXPECT_EQ(notes.written[1].picture, stream.pictures[11]);
}

TEST_F(ReceiveDatagram, TinyOrForeignFramesFromARecordedPeerWriteNothing) {
  const int id = AddClient(kPeer, kPort, true);
  // Thirteen-byte datagrams: marker, frame length 1, one byte. Each is a whole frame that does not
  // decode, at a rate no camera has.
  for (int i = 0; i < 2000; ++i) {
    Feed(TestDatagram{0x80, true, 33, static_cast<std::uint16_t>(i), 1, {0x42}}.Bytes());
    if (i % 10 == 0) ++state.nowMs;
  }
  // A stream of another picture size does not decode at this client's size.
  const Stream large(352, 288, 3);
  for (int i = 0; i < 3; ++i) FeedFrame(large.frames[i], static_cast<std::uint16_t>(3000 + i));
  EXPECT_TRUE(notes.written.empty());
  // The file's position moved on by no more than 30 a second of that time.
  EXPECT_LE(table[id].lFramesWritten, static_cast<LONG>(1 + kRecordBurstFrames + state.nowMs * 30 / 1000 + 1));
}

TEST_F(ReceiveDatagram, ARecordingNeverGrowsFasterThanThirtyFramesASecond) {
  const Stream stream(176, 144, 100, 250000, 10);
  AddClient(kPeer, kPort, true);
  // A hundred frames in one second, replayed as a flood would be.
  for (int i = 0; i < 100; ++i) {
    for (const Bytes& d : test_stream::Datagrams(stream.frames[i], static_cast<std::uint16_t>(i))) Feed(d);
    state.nowMs += 10;
  }
  EXPECT_LE(notes.written.size(), 30u + kRecordBurstFrames);
  EXPECT_GT(notes.written.size(), 10u);
  // Each one written is a right picture, in the stream's order.
  std::size_t next = 0;
  for (const auto& w : notes.written) {
    while (next < stream.pictures.size() && stream.pictures[next] != w.picture) ++next;
    ASSERT_LT(next, stream.pictures.size());
  }
}

TEST_F(ReceiveDatagram, ARecordedPeersFileNeverGetsTheShownStrangersPicture) {
  const Stream peer(176, 144, 6), stranger(176, 144, 6, 400000);
  AddClient(kPeer, kPort, true);
  state.nShowClient = 0;
  for (int i = 0; i < 6; ++i) {
    for (const Bytes& d : test_stream::Datagrams(peer.frames[i], static_cast<std::uint16_t>(i))) Feed(d);
    for (const Bytes& d : test_stream::Datagrams(stranger.frames[i], static_cast<std::uint16_t>(900 + i)))
      Feed(d, kOther);
    state.nowMs += 66;
  }
  ASSERT_EQ(notes.written.size(), 6u);
  ASSERT_EQ(notes.drawn.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(notes.written[i].picture, peer.pictures[i]);
    EXPECT_EQ(notes.drawn[i].picture, stranger.pictures[i]);
  }
}

TEST_F(ReceiveDatagram, ARecordingKeepsTheSizeItsFileWasMadeFor) {
  const Stream stream(176, 144, 3);
  AddClient(kPeer, kPort, true, 176, 144);
  FeedFrame(stream.frames[0], 1);
  UseOutputSize(352, 288);  // the output size changes after the client was added
  FeedFrame(stream.frames[1], 2);
  FeedFrame(stream.frames[2], 3);
  ASSERT_EQ(notes.written.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(notes.written[i].picture, stream.pictures[i]);
}

TEST_F(ReceiveDatagram, AFailedWriteEndsTheClientsRecording) {
  const Stream stream(176, 144, 5);
  const int id = AddClient(kPeer, kPort, true);
  notes.writesBeforeFailure = 2;
  for (int i = 0; i < 5; ++i) FeedFrame(stream.frames[i], static_cast<std::uint16_t>(i));
  EXPECT_EQ(notes.written.size(), 2u);
  EXPECT_TRUE(table[id].bRecordingStopped);
}

TEST_F(ReceiveDatagram, ADisplayThatWaitsAsksTheSenderForAKeyFrameUntilOneComes) {
  const Stream stream(176, 144, 40, 250000, 30);  // key frames 0 and 30
  // Joining mid-stream: the first datagrams are of a predicted frame.
  FeedFrame(stream.frames[1], 1);
  EXPECT_EQ(DueRequests(), (std::vector<std::pair<ULONG, USHORT>>{{kPeer, kPort}}));
  EXPECT_TRUE(DueRequests().empty());  // asked once; the next only after a while
  for (int i = 2; i < 30; ++i) FeedFrame(stream.frames[i], static_cast<std::uint16_t>(i));
  EXPECT_FALSE(DueRequests().empty());  // still waiting, so asked again
  FeedFrame(stream.frames[30], 30);
  ASSERT_EQ(notes.drawn.size(), 1u);
  FeedFrame(stream.frames[31], 31);
  state.nowMs += 5000;
  EXPECT_TRUE(DueRequests().empty());
  EXPECT_EQ(notes.drawn.size(), 2u);
}

TEST_F(ReceiveDatagram, NoRequestWhileAKeyFrameIsArriving) {
  UseOutputSize(352, 288);
  const Stream stream(352, 288, 1, 1000000);
  auto datagrams = test_stream::Datagrams(stream.frames[0], 5);
  ASSERT_GT(datagrams.size(), 2u);
  Feed(datagrams[0]);
  EXPECT_TRUE(DueRequests().empty());
}

TEST_F(ReceiveDatagram, ForwardsEverythingButNeverBackToItsSource) {
  const int relay = AddClient(kOther, 5000, false);
  const int back = AddClient(kPeer, kPort, false);
  ASSERT_TRUE(table.Forward(0, relay));
  ASSERT_TRUE(table.Forward(back, back));  // a client that is its own source
  const std::vector<Bytes> odd = {
      {0x80, 0xA1, 0, 1},                                        // shorter than a header
      Bytes{0x8F, 0xA1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3},  // CC 15, too short for its CSRC list
      TestDatagram{0x80, true, 33, 7, 0x11223344, {}}.Bytes(),   // keep-alive, 12 bytes
      TestDatagram{0x80, true, 96, 8, 3, {1, 2, 3}}.Bytes(),     // payload type 96
  };
  for (const Bytes& d : odd) Feed(d, 0x0A000009, 7000);
  ASSERT_EQ(notes.forwarded.size(), odd.size());
  for (std::size_t i = 0; i < odd.size(); ++i) EXPECT_EQ(notes.forwarded[i].bytes, odd[i]);
  notes.forwarded.clear();
  Feed(odd[3]);  // from client `back` itself
  EXPECT_TRUE(notes.forwarded.empty());
  EXPECT_TRUE(notes.drawn.empty());
}

TEST_F(ReceiveDatagram, ARequestForAForwardedStreamGoesToItsSenderOncePerInterval) {
  const int a = AddClient(kPeer, kPort, false);
  const int b = AddClient(kOther, 5000, false);
  const int c = AddClient(0x0A000003, 5000, false);
  ASSERT_TRUE(table.Forward(a, b));
  ASSERT_TRUE(table.Forward(0, c));
  auto target = UpstreamOfRequest(table, stranger, kOther, 5000, 1000);
  ASSERT_TRUE(target);
  EXPECT_EQ(target->ulAddress, kPeer);
  EXPECT_EQ(target->usPort, kPort);
  EXPECT_FALSE(UpstreamOfRequest(table, stranger, kOther, 5000, 1100));
  EXPECT_TRUE(UpstreamOfRequest(table, stranger, kOther, 5000, 1000 + kKeyFrameAskFirstRepeatMs));
  // Client 0's stream: the last sender outside the table, once one was heard.
  EXPECT_FALSE(UpstreamOfRequest(table, stranger, 0x0A000003, 5000, 1000));
  Feed(TestDatagram{0x80, false, 33, 1, 3, {1, 2, 3}}.Bytes(), 0x0A000009, 7000);
  target = UpstreamOfRequest(table, stranger, 0x0A000003, 5000, 2000);
  ASSERT_TRUE(target);
  EXPECT_EQ(target->ulAddress, 0x0A000009u);
  // A requester that gets no forwarded stream, or one outside the table, is nobody's relay.
  EXPECT_FALSE(UpstreamOfRequest(table, stranger, kPeer, kPort, 3000));
  EXPECT_FALSE(UpstreamOfRequest(table, stranger, 0x0A0000FF, 1, 3000));
}

TEST_F(ReceiveDatagram, TheDisplayFollowsOneStrangerAtATime) {
  const Stream one(176, 144, 20), two(176, 144, 20, 400000);
  for (int i = 0; i < 5; ++i) {
    for (const Bytes& d : test_stream::Datagrams(one.frames[i], static_cast<std::uint16_t>(i))) Feed(d);
    for (const Bytes& d : test_stream::Datagrams(two.frames[i], static_cast<std::uint16_t>(i))) Feed(d, kOther);
    state.nowMs += 66;
  }
  ASSERT_EQ(notes.drawn.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(notes.drawn[i].picture, one.pictures[i]);
  // The first goes quiet: the other is taken from its next key frame.
  state.nowMs += kDisplaySourceQuietMs;
  for (int i = 5; i < 20; ++i) FeedFrame(two.frames[i], static_cast<std::uint16_t>(i), kOther);
  EXPECT_EQ(notes.drawn.size(), 5u);  // no key frame of the second yet
}

TEST_F(ReceiveDatagram, H263RedrawsThePictureBufferWithoutDecodingAndRecordsNothing) {
  AddClient(kOther, kPort, true);
  state.bWholeDatagramFrames = true;
  std::memset(picture.get(), 0x5A, kPictureBufferSize);
  const Stream stream(176, 144, 1);
  const auto datagrams = test_stream::Datagrams(stream.frames[0], 1);
  for (const Bytes& d : datagrams) Feed(d);
  for (const Bytes& d : datagrams) Feed(d, kOther);
  ASSERT_EQ(notes.drawn.size(), datagrams.size());
  EXPECT_EQ(notes.drawn.back().picture, Bytes(176 * 144 * 3, 0x5A));
  EXPECT_TRUE(notes.written.empty());
}

TEST_F(ReceiveDatagram, AnOutputSizeBeyondThePictureBufferIsNeitherDecodedDrawnNorRecorded) {
  AddClient(kOther, kPort, true, 1408, 1152);
  state.nOutWidth = 1408;
  state.nOutHeight = 1152;
  const Stream stream(176, 144, 1);
  FeedFrame(stream.frames[0], 1);
  FeedFrame(stream.frames[0], 2, kOther);
  EXPECT_TRUE(notes.drawn.empty());
  EXPECT_TRUE(notes.written.empty());
  EXPECT_EQ(PictureBytes(704, 576), kPictureBufferSize);
  EXPECT_EQ(PictureBytes(704, 577), 0u);
  EXPECT_EQ(PictureBytes(0, 288), 0u);
}

TEST_F(ReceiveDatagram, AFrameThatDoesNotDecodeWaitsForTheNextKeyFrame) {
  const Stream small(176, 144, 3, 250000, 30);
  const Stream large(352, 288, 1);
  FeedFrame(small.frames[0], 1);
  ASSERT_EQ(notes.drawn.size(), 1u);
  FeedFrame(large.frames[0], 2);  // a key frame of another size: the decode fails
  EXPECT_EQ(notes.drawn.size(), 1u);
  EXPECT_TRUE(display.frames.Waiting());
  FeedFrame(small.frames[1], 3);  // a predicted frame: waits
  EXPECT_EQ(notes.drawn.size(), 1u);
}

}  // namespace
