// One datagram through recording, the sender's ID, forwarding and the display, with the real
// decoder and effects that only take notes.
#include "net/receive_datagram.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "codec/frame_decoder.h"
#include "tests/net/datagram_builder.h"
#include "tests/support/test_stream.h"

namespace {

using test_stream::Bytes;

constexpr ULONG kPeer = 0x0A000001;  // 10.0.0.1
constexpr ULONG kOther = 0x0A000002;

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
    std::size_t bytes;
    bool key;
    Bytes picture;
  };
  std::vector<Forwarded> forwarded;
  std::vector<Written> written;
  std::vector<Bytes> drawn;
  const ClientTable* table = nullptr;
  const std::uint8_t* picture = nullptr;
  std::size_t pictureBytes = 0;

  void Forward(const ClientRecord& d, const std::uint8_t* data, std::size_t length) override {
    forwarded.push_back({static_cast<int>(&d - &(*table)[0]), Bytes(data, data + length)});
  }
  void WriteRecordedFrame(ClientRecord& c, std::size_t bytes, bool key) override {
    written.push_back({static_cast<int>(&c - &(*table)[0]), bytes, key, Bytes(picture, picture + bytes)});
  }
  void DrawPicture() override { drawn.emplace_back(picture, picture + pictureBytes); }
};

class ReceiveDatagram : public ::testing::Test {
 protected:
  void SetUp() override {
    display.pBuffer = assemblyBuffer.get();
    state.pClients = &table;
    state.pDisplay = &display;
    state.pDisplayDecoder = &decParam;
    state.pDisplayFrame = &decFrame;
    state.pPicture = picture.get();
    state.nOutWidth = 176;
    state.nOutHeight = 144;
    ASSERT_EQ(codec::CreateDecoder(&decParam, 176, 144), 0);
    notes.table = &table;
    notes.picture = picture.get();
    notes.pictureBytes = 176 * 144 * 3;
  }
  void TearDown() override {
    codec::DestroyDecoder(&decParam);
    for (int id = 0; id < kClientRecords; ++id) codec::DestroyDecoder(&table[id].xvidDecParam);
  }

  void Feed(const Bytes& bytes, ULONG address = kPeer, USHORT port = 4000) {
    ProcessDatagram(state, bytes.data(), bytes.size(), address, port, notes);
  }
  void FeedFrame(const test_stream::EncodedFrame& frame, std::uint16_t sequence, ULONG address = kPeer,
                 USHORT port = 4000) {
    for (const Bytes& d : test_stream::Datagrams(frame, sequence)) Feed(d, address, port);
  }
  int AddClient(ULONG address, USHORT port, bool bRecording) {
    const int id = table.FreeID();
    char ip[32];
    std::snprintf(ip, sizeof ip, "%u.%u.%u.%u", address >> 24, (address >> 16) & 255, (address >> 8) & 255,
                  address & 255);
    table.Occupy(id, ip, port, nullptr);
    if (bRecording) {
      table[id].pAviFile = SomeFile();
      table[id].pAviStream = SomeStream();
      codec::CreateDecoder(&table[id].xvidDecParam, 176, 144);
    }
    return id;
  }

  std::unique_ptr<std::uint8_t[]> assemblyBuffer = std::make_unique<std::uint8_t[]>(kAssemblyBufferSize);
  std::unique_ptr<std::uint8_t[]> picture = std::make_unique<std::uint8_t[]>(kPictureBufferSize);
  ClientTable table;
  FrameAssembly display;
  xvid21::XVID_DEC_PARAM decParam{};
  xvid21::XVID_DEC_FRAME decFrame{};
  ReceiveState state;
  Notes notes;
};

TEST_F(ReceiveDatagram, ShowsEachCompleteFrameAsTheDecoderDecodesIt) {
  const auto stream = test_stream::EncodeStream(176, 144, 5);
  ASSERT_EQ(stream.size(), 5u);
  test_stream::ReferenceDecoder reference(176, 144);
  for (std::size_t i = 0; i < stream.size(); ++i) {
    FeedFrame(stream[i], static_cast<std::uint16_t>(100 + i));
    ASSERT_EQ(notes.drawn.size(), i + 1);
    EXPECT_EQ(notes.drawn.back(), reference.Decode(stream[i].bytes)) << i;
  }
}

TEST_F(ReceiveDatagram, ALostFragmentIsNeverShownNorIsTheNextFrameUntilAKeyFrame) {
  // At CIF and 1 Mbit/s predicted frames take several datagrams.
  codec::DestroyDecoder(&decParam);
  ASSERT_EQ(codec::CreateDecoder(&decParam, 352, 288), 0);
  state.nOutWidth = 352;
  state.nOutHeight = 288;
  const auto stream = test_stream::EncodeStream(352, 288, 4, 1000000, 3);  // key frames 0 and 3
  ASSERT_TRUE(stream[0].bKeyFrame && stream[3].bKeyFrame && !stream[1].bKeyFrame);
  FeedFrame(stream[0], 1);
  auto lossy = test_stream::Datagrams(stream[1], 2);
  ASSERT_GT(lossy.size(), 1u);
  for (std::size_t i = 1; i < lossy.size(); ++i) Feed(lossy[i]);
  FeedFrame(stream[2], 3);
  EXPECT_EQ(notes.drawn.size(), 1u);
  FeedFrame(stream[3], 4);
  EXPECT_EQ(notes.drawn.size(), 2u);
}

TEST_F(ReceiveDatagram, OutsidersAreClient0AndAreShownAndForwardedUntilTheyJoinTheTable) {
  const auto stream = test_stream::EncodeStream(176, 144, 2);
  const int relay = AddClient(kOther, 5000, false);
  ASSERT_TRUE(table.Forward(0, relay));
  FeedFrame(stream[0], 1);
  EXPECT_EQ(notes.drawn.size(), 1u);
  const auto datagrams = test_stream::Datagrams(stream[0], 1);
  ASSERT_EQ(notes.forwarded.size(), datagrams.size());
  EXPECT_EQ(notes.forwarded[0].id, relay);
  EXPECT_EQ(notes.forwarded[0].bytes, datagrams[0]);

  // In the table the sender is client 2: no longer shown, and relayed only by a forward from 2.
  const int peer = AddClient(kPeer, 4000, false);
  notes.forwarded.clear();
  FeedFrame(stream[1], 2);
  EXPECT_EQ(notes.drawn.size(), 1u);
  EXPECT_TRUE(notes.forwarded.empty());
  state.nShowClient = peer;
  FeedFrame(stream[0], 3);
  EXPECT_EQ(notes.drawn.size(), 2u);
}

TEST_F(ReceiveDatagram, EverythingIsForwardedButOnlyVideoIsShown) {
  const int relay = AddClient(kOther, 5000, false);
  ASSERT_TRUE(table.Forward(0, relay));
  const std::vector<Bytes> odd = {
      {0x80, 0xA1, 0, 1},                                        // shorter than a header
      Bytes{0x8F, 0xA1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3},  // CC 15, too short for its CSRC list
      TestDatagram{0x80, true, 33, 7, 0x11223344, {}}.Bytes(),   // keep-alive, 12 bytes
      TestDatagram{0x84, true, 33, 7, 0x11223344, {}}.Bytes(),   // keep-alive with the user name
      TestDatagram{0x80, true, 96, 8, 3, {1, 2, 3}}.Bytes(),     // payload type 96
  };
  for (const Bytes& d : odd) Feed(d);
  ASSERT_EQ(notes.forwarded.size(), odd.size());
  for (std::size_t i = 0; i < odd.size(); ++i) EXPECT_EQ(notes.forwarded[i].bytes, odd[i]);
  EXPECT_TRUE(notes.drawn.empty());
}

TEST_F(ReceiveDatagram, ARecordingClientWritesFromItsFirstKeyFrameWithItsOwnDecoder) {
  const auto stream = test_stream::EncodeStream(176, 144, 4, 250000, 2);  // key frames 0 and 2
  const int id = AddClient(kPeer, 4000, true);
  test_stream::ReferenceDecoder reference(176, 144);
  reference.Decode(stream[0].bytes);  // the recorder never sees frame 0
  FeedFrame(stream[1], 11);           // not a key frame: nothing yet
  EXPECT_TRUE(notes.written.empty());
  FeedFrame(stream[2], 12);
  FeedFrame(stream[3], 13);
  ASSERT_EQ(notes.written.size(), 2u);
  EXPECT_EQ(notes.written[0].id, id);
  EXPECT_EQ(notes.written[0].bytes, 176u * 144 * 3);
  EXPECT_TRUE(notes.written[0].key);
  EXPECT_FALSE(notes.written[1].key);
  EXPECT_EQ(notes.written[0].picture, reference.Decode(stream[2].bytes));
  EXPECT_TRUE(notes.drawn.empty());  // client 1 is not the shown client
}

TEST_F(ReceiveDatagram, RecordingIgnoresTheHeaderBitsTheDisplayRefuses) {
  AddClient(kPeer, 4000, true);
  TestDatagram d{0x70, true, 96, 5, 3, {1, 2, 3}};  // version 1, padding, extension, type 96
  Feed(d.Bytes());
  ASSERT_EQ(notes.written.size(), 1u);  // the decode fails; the picture buffer is written anyway
  EXPECT_TRUE(notes.drawn.empty());
}

TEST_F(ReceiveDatagram, AClientWithoutStreamOrDecoderRecordsNothing) {
  const int noStream = AddClient(kPeer, 4000, true);
  table[noStream].pAviStream = nullptr;
  const int noDecoder = AddClient(kOther, 4000, true);
  codec::DestroyDecoder(&table[noDecoder].xvidDecParam);
  const auto stream = test_stream::EncodeStream(176, 144, 1);
  FeedFrame(stream[0], 1);
  FeedFrame(stream[0], 1, kOther);
  EXPECT_TRUE(notes.written.empty());
  EXPECT_EQ(table[noStream].recording.nLength, 0);
}

TEST_F(ReceiveDatagram, H263RedrawsThePictureBufferAfterEveryDatagramWithoutDecoding) {
  state.bWholeDatagramFrames = true;
  std::memset(picture.get(), 0x5A, kPictureBufferSize);
  const auto stream = test_stream::EncodeStream(176, 144, 1);
  const auto datagrams = test_stream::Datagrams(stream[0], 1);
  for (const Bytes& d : datagrams) Feed(d);
  ASSERT_EQ(notes.drawn.size(), datagrams.size());
  EXPECT_EQ(notes.drawn.back(), Bytes(176 * 144 * 3, 0x5A));
}

TEST_F(ReceiveDatagram, AnOutputSizeBeyondThePictureBufferIsNeitherDecodedDrawnNorRecorded) {
  AddClient(kOther, 4000, true);
  state.nOutWidth = 1408;
  state.nOutHeight = 1152;
  const auto stream = test_stream::EncodeStream(176, 144, 1);
  FeedFrame(stream[0], 1);
  FeedFrame(stream[0], 1, kOther);
  state.bWholeDatagramFrames = true;
  FeedFrame(stream[0], 2);
  EXPECT_TRUE(notes.drawn.empty());
  EXPECT_TRUE(notes.written.empty());
  EXPECT_EQ(PictureBytes(704, 576), kPictureBufferSize);
  EXPECT_EQ(PictureBytes(704, 577), 0u);
  EXPECT_EQ(PictureBytes(0, 288), 0u);
}

TEST_F(ReceiveDatagram, ADecoderFailureWaitsForTheNextKeyFrame) {
  const auto small = test_stream::EncodeStream(176, 144, 2, 250000, 30);
  const auto large = test_stream::EncodeStream(352, 288, 1);
  FeedFrame(small[0], 1);
  ASSERT_EQ(notes.drawn.size(), 1u);
  FeedFrame(large[0], 2);  // a key frame of another size: the decode fails
  EXPECT_EQ(notes.drawn.size(), 1u);
  EXPECT_EQ(display.nLastSequence, 0);
  FeedFrame(small[1], 3);  // a predicted frame: waits
  EXPECT_EQ(notes.drawn.size(), 1u);
}

}  // namespace
