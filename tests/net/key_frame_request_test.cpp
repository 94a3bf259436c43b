// Key-frame requests: the datagram, the limits on both sides, senders answering them on loopback,
// requests through a relay and on the shared socket, and a peer built to the video format alone,
// which the requests must leave as it was.
#include <gtest/gtest.h>

#include <algorithm>

#include "net/key_frame_requests.h"
#include "net/receive_tick.h"
#include "net/shared_socket.h"
#include "net/video_packet.h"
#include "tests/net/net_test_support.h"
#include "tests/support/capture_fixture.h"
#include "tests/support/legacy_receiver.h"
#include "tests/support/test_stream.h"

namespace {

using namespace winsock;
using test_stream::Bytes;

TEST(KeyFrameRequestPacket, IsAnRtcpPictureLossIndicationOfTwelveBytes) {
  std::uint8_t packet[kKeyFrameRequestSize];
  ASSERT_EQ(WriteKeyFrameRequest(packet, 0x11223344), 12u);
  const Bytes expected = {0x81, 0xCE, 0x00, 0x02, 0x44, 0x33, 0x22, 0x11, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(Bytes(packet, packet + 12), expected);
  EXPECT_TRUE(IsKeyFrameRequest(packet, 12));
  EXPECT_FALSE(IsKeyFrameRequest(packet, 11));
  EXPECT_FALSE(IsKeyFrameRequest(packet, 16));  // a longer RTCP packet is not ours
  for (int i = 0; i < 4; ++i) {
    Bytes other = expected;
    other[i] ^= 0x01;
    EXPECT_FALSE(IsKeyFrameRequest(other.data(), other.size())) << i;
  }
  // Read as a video datagram, its header claims four more bytes than it has.
  EXPECT_FALSE(ParseDatagram(packet, 12));
}

TEST(KeyFrameRequester, AsksAtOnceThenLessAndLessOftenWhileTheWaitLasts) {
  KeyFrameRequester requester;
  std::vector<std::uint32_t> asked;
  const auto run = [&](std::uint32_t from, std::uint32_t to) {
    for (std::uint32_t t = from; t <= to; t += 10) {
      requester.Waiting(7, 9, KeyFrameRequester::kDisplayPath, false, t);
      requester.SendDue(t, [&](ULONG a, USHORT p) {
        EXPECT_EQ(a, 7u);
        EXPECT_EQ(p, 9);
        asked.push_back(t);
      });
    }
  };
  run(1000, 6000);
  EXPECT_EQ(asked, (std::vector<std::uint32_t>{1000, 1250, 1750, 2750, 4750}));
  requester.Satisfied(7, 9, KeyFrameRequester::kDisplayPath);
  asked.clear();
  run(6010, 6010);  // a new wait asks at once again
  EXPECT_EQ(asked, (std::vector<std::uint32_t>{6010}));
}

TEST(KeyFrameRequester, NeitherAQuietSenderNorOneWhoseKeyFrameIsArrivingIsAsked) {
  KeyFrameRequester requester;
  int asked = 0;
  const auto send = [&](ULONG, USHORT) { ++asked; };
  requester.Waiting(1, 1, 0, true, 100);  // a key frame is arriving
  requester.SendDue(100, send);
  EXPECT_EQ(asked, 0);
  requester.SendDue(100 + kKeyFrameArrivingGraceMs, send);
  EXPECT_EQ(asked, 1);
  // Not heard from again: the wait is given up and nobody is asked.
  requester.SendDue(100 + kKeyFrameAskQuietMs + 1, send);
  requester.SendDue(100 + 10 * kKeyFrameAskQuietMs, send);
  EXPECT_EQ(asked, 1);
  // Two paths waiting on one sender at the same moment ask it once.
  requester.Waiting(2, 2, 0, false, 50000);
  requester.Waiting(2, 2, 5, false, 50000);
  requester.SendDue(50000, send);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(requester.Sent(), 2u);
}

TEST(KeyFrameRequester, ManySendersCannotMakeItAskBeyondItsAllowance) {
  KeyFrameRequester requester;
  int asked = 0;
  for (std::uint32_t t = 0; t < 1000; ++t) {
    requester.Waiting(1000 + t % 200, 1, 0, false, t);
    requester.SendDue(t, [&](ULONG, USHORT) { ++asked; });
  }
  // 200 senders in turn for a second: no more requests than the allowance of a second and its burst.
  EXPECT_LE(asked, static_cast<int>(2 * kKeyFrameAsksPerSecond) + 1);
  EXPECT_GE(asked, static_cast<int>(kKeyFrameAsksPerSecond));
}

TEST(KeyFrameAnswerer, AtMostOneKeyFrameForRequestsEachHalfSecond) {
  KeyFrameAnswerer answerer;
  EXPECT_FALSE(answerer.TakeDue(0));
  answerer.Request();
  EXPECT_TRUE(answerer.TakeDue(10));
  answerer.Request();
  EXPECT_FALSE(answerer.TakeDue(20));
  EXPECT_FALSE(answerer.TakeDue(509));
  EXPECT_TRUE(answerer.TakeDue(510));  // the request waited, it was not lost
  EXPECT_FALSE(answerer.TakeDue(2000));
  // A key frame the encoder made anyway answers what was pending.
  answerer.Request();
  answerer.KeyFrameSent();
  EXPECT_FALSE(answerer.TakeDue(3000));
}

TEST(KeyFrameAnswerer, TakesRequestsFromItsDestinationOrFromAGroupsMembers) {
  const ULONG unicast = inet_addr("10.0.0.2");
  EXPECT_TRUE(AnswersRequestFrom(unicast, htons(17010), inet_addr("10.0.0.2"), htons(17010)));
  EXPECT_FALSE(AnswersRequestFrom(unicast, htons(17010), inet_addr("10.0.0.2"), htons(17011)));
  EXPECT_FALSE(AnswersRequestFrom(unicast, htons(17010), inet_addr("10.0.0.3"), htons(17010)));
  EXPECT_TRUE(AnswersRequestFrom(inet_addr("239.1.2.3"), htons(17200), inet_addr("10.0.0.9"), htons(4000)));
}

// ---- Controls on loopback ----

class KeyFrameRequests : public sendtest::ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    TheReceiveTickCounters().ResetForTesting();
    SetCaptureDriversForTesting({MakeTestCameraDriver()});
  }
  static USHORT SendPort(const CQuelvoraCtrl& ctrl) { return BoundPort(ctrl.m_sockSend); }
  static void Request(SOCKET from, USHORT toPort) {
    std::uint8_t packet[kKeyFrameRequestSize];
    WriteKeyFrameRequest(packet, 1);
    SendBytes(from, Bytes(packet, packet + sizeof packet), inet_addr("127.0.0.1"), toPort);
  }
  static std::vector<sendtest::ReceivedFrame> FramesOf(const std::vector<Received>& received) {
    std::vector<Bytes> datagrams;
    for (const Received& r : received) datagrams.push_back(r.bytes);
    return sendtest::Reassemble(datagrams);
  }
  // A control receiving on 127.0.0.1 at a port of its own.
  std::unique_ptr<CQuelvoraCtrl> Receiving(USHORT* port) {
    auto ctrl = MakeControl();
    *port = FreePort();
    ctrl->m_endpoints.recvLocal.Store("127.0.0.1", *port);
    ctrl->SetVideoOutFormat("CIF");
    EXPECT_TRUE(ctrl->RecvVideo());
    return ctrl;
  }
};

TEST_F(KeyFrameRequests, ASenderAnswersItsDestinationWithItsNextFrameAndIgnoresOthers) {
  SOCKET destination = LoopbackSocket(), stranger = LoopbackSocket();
  auto ctrl = MakeControl();
  ctrl->SetBandwidth(100000, 1);  // a key frame every 50 frames
  sendtest::SendTo(*ctrl, BoundPort(destination));
  ASSERT_TRUE(ctrl->InitCapture(0));
  ASSERT_TRUE(ctrl->SendVideo());
  Pump(700);
  ReceiveAll(destination, 10);
  Request(stranger, SendPort(*ctrl));
  Pump(400);
  auto frames = FramesOf(ReceiveAll(destination, 10));
  EXPECT_TRUE(std::none_of(frames.begin(), frames.end(), [](const auto& f) { return f.marker; }));
  EXPECT_EQ(ctrl->m_nKeyFramesRequested, 0u);

  // Three requests at once make one key frame, the next frame or the one after.
  for (int i = 0; i < 3; ++i) Request(destination, SendPort(*ctrl));
  Pump(700);
  frames = FramesOf(ReceiveAll(destination, 10));
  ASSERT_GE(frames.size(), 4u);
  EXPECT_TRUE(frames[0].marker || frames[1].marker);
  EXPECT_EQ(std::count_if(frames.begin(), frames.end(), [](const auto& f) { return f.marker; }), 1);
  EXPECT_EQ(ctrl->m_nKeyFramesRequested, 1u);
  ASSERT_TRUE(ctrl->StopSend());
  closesocket(destination);
  closesocket(stranger);
}

TEST_F(KeyFrameRequests, AReceiverThatJoinsMidStreamGetsItsFirstPictureFromARequestedKeyFrame) {
  USHORT bobPort = 0;
  auto alice = MakeControl();
  alice->SetBandwidth(100000, 1);  // periodic key frames 3.3 s apart
  sendtest::SendTo(*alice, 0);
  ASSERT_TRUE(alice->InitCapture(0));
  auto bob = Receiving(&bobPort);
  ASSERT_TRUE(bob->StopRecv());
  alice->m_endpoints.sendRemote.Store("127.0.0.1", bobPort);
  ASSERT_TRUE(alice->SendVideo());
  Pump(800);  // the first key frame went to nobody
  ASSERT_TRUE(bob->RecvVideo());
  ASSERT_TRUE(PumpUntil([&] { return bob->m_nFramesShown > 0; }, 1500)) << "no picture before the next key frame";
  EXPECT_GE(alice->m_nKeyFramesRequested, 1u);
  EXPECT_GE(bob->m_keyFrameRequests.Sent(), 1u);
  // Once it shows, it asks no more.
  const auto asked = bob->m_keyFrameRequests.Sent();
  Pump(600);
  EXPECT_EQ(bob->m_keyFrameRequests.Sent(), asked);
  ASSERT_TRUE(alice->StopSend());
}

TEST_F(KeyFrameRequests, ThroughARelayTheRequestReachesTheOriginalSender) {
  USHORT relayPort = 0, bobPort = 0;
  auto alice = MakeControl();
  alice->SetBandwidth(100000, 1);
  sendtest::SendTo(*alice, 0);
  ASSERT_TRUE(alice->InitCapture(0));
  auto relay = Receiving(&relayPort);
  auto bob = Receiving(&bobPort);
  ASSERT_TRUE(bob->StopRecv());
  alice->m_endpoints.sendRemote.Store("127.0.0.1", relayPort);
  ASSERT_TRUE(alice->SendVideo());
  const long a = relay->AddClient("127.0.0.1", static_cast<short>(SendPort(*alice)), nullptr, "Alice");
  const long b = relay->AddClient("127.0.0.1", static_cast<short>(bobPort), nullptr, "Bob");
  ASSERT_TRUE(relay->Forward(a, b));
  Pump(800);
  // Bob knows Alice's video by the relay's address, and asks the relay.
  bob->ShowClient(bob->AddClient("127.0.0.1", static_cast<short>(relayPort), nullptr, "Relay"));
  ASSERT_TRUE(bob->RecvVideo());
  ASSERT_TRUE(PumpUntil([&] { return bob->m_nFramesShown > 0; }, 1500));
  EXPECT_GE(alice->m_nKeyFramesRequested, 1u);
  ASSERT_TRUE(alice->StopSend());
}

TEST_F(KeyFrameRequests, OnTheSharedSocketTheReceiveLoopHandsTheRequestToTheSender) {
  USHORT sharedPort = FreePort();
  SOCKET destination = LoopbackSocket();
  auto sol = MakeControl();
  sol->UseSameSocketForSendAndRecv(1);
  sol->SetBandwidth(100000, 1);
  sol->m_endpoints.recvLocal.Store("127.0.0.1", sharedPort);
  sol->m_endpoints.sendLocal.Store("127.0.0.1", sharedPort);
  sol->m_endpoints.sendRemote.Store("127.0.0.1", BoundPort(destination));
  ASSERT_TRUE(sol->RecvVideo());
  ASSERT_TRUE(sol->InitCapture(0));
  ASSERT_TRUE(sol->SendVideo());
  Pump(700);
  const auto learnedBefore = sol->m_endpoints.recvRemote.Load();
  Request(destination, sharedPort);
  ASSERT_TRUE(PumpUntil([&] { return sol->m_nKeyFramesRequested > 0; }, 1000));
  // The request taught the receive loop no address.
  EXPECT_STREQ(sol->m_endpoints.recvRemote.Load().szIP, learnedBefore.szIP);
  EXPECT_EQ(sol->m_endpoints.recvRemote.Load().usPort, learnedBefore.usPort);
  EXPECT_EQ(sol->m_nDatagramsReceived, 0u);
  ASSERT_TRUE(sol->StopSend());
  ASSERT_TRUE(sol->StopRecv());
  closesocket(destination);
}

// ---- A peer built to the video format alone ----
//
// Every socket of such a peer a request can reach is either never read (the send socket of a
// sender without same-socket mode) or its receive socket (a relay, or a sender in same-socket mode
// that receives). There the request must teach no address it did not know, reach neither the
// recording nor the display, and be forwarded only where any datagram of the requester would be.

class OlderPeer : public ::testing::Test {
 protected:
  static constexpr ULONG kRequester = 0x7F000002;  // where the requester receives
  static constexpr USHORT kRequesterPort = 17010;
  static constexpr ULONG kSender = 0x7F000003;
  static constexpr USHORT kSenderPort = 17000;

  Bytes RequestBytes() const {
    std::uint8_t packet[kKeyFrameRequestSize];
    WriteKeyFrameRequest(packet, 0xCAFE);
    return Bytes(packet, packet + sizeof packet);
  }
  legacy::Receiver peer;
};

TEST_F(OlderPeer, ASameSocketSenderThatSendsToTheRequesterLearnsNothingNewAndShowsAndRecordsNothing) {
  peer.bSameSocket = true;
  // It sends to the requester's receive address, which it learned or was given.
  peer.ulRecvRemoteAddress = kRequester;
  peer.usRecvRemotePort = kRequesterPort;
  const int requester = peer.AddClient(kRequester, kRequesterPort, true);
  peer.nShowClient = requester;
  // The requester's own video reaches it too, and the request lands between two of its pieces.
  const auto stream = test_stream::EncodeStream(176, 144, 3);
  const auto pieces = test_stream::Datagrams(stream[0], 40);
  legacy::Receiver without = peer;
  for (const Bytes& d : pieces) without.Receive(d, kRequester, kRequesterPort);
  peer.Receive(pieces[0], kRequester, kRequesterPort);
  peer.Receive(RequestBytes(), kRequester, kRequesterPort);
  for (std::size_t i = 1; i < pieces.size(); ++i) peer.Receive(pieces[i], kRequester, kRequesterPort);
  EXPECT_EQ(peer.nLearned, 0);
  EXPECT_EQ(peer.nFramesDecoded, without.nFramesDecoded);
  EXPECT_EQ(peer.display, without.display);
  EXPECT_EQ(peer.clients[requester].nFramesRecorded, without.clients[requester].nFramesRecorded);
  EXPECT_EQ(peer.clients[requester].recording, without.clients[requester].recording);
  EXPECT_TRUE(peer.forwarded.empty());
}

TEST_F(OlderPeer, ARelayForwardsItOnlyWhereItForwardsTheRequestersOwnStream) {
  // The relay forwards the sender to the requester, and everything from outsiders to a third.
  const int sender = peer.AddClient(kSender, kSenderPort, true);
  const int requester = peer.AddClient(kRequester, kRequesterPort, false);
  const int third = peer.AddClient(0x7F000004, 17020, false);
  peer.clients[requester].nForwardSource = sender;
  peer.clients[third].nForwardSource = 0;
  const legacy::Receiver before = peer;
  peer.Receive(RequestBytes(), kRequester, kRequesterPort);
  EXPECT_TRUE(peer.forwarded.empty());
  EXPECT_EQ(peer.clients[sender].recording, before.clients[sender].recording);
  EXPECT_EQ(peer.display, before.display);
  // Two-way relaying of one port: the requester's stream goes to the sender, and so does the
  // request, as any datagram of the requester's would (the sender's recording and display still
  // drop it: it is shorter than its header).
  peer.clients[sender].nForwardSource = requester;
  peer.Receive(RequestBytes(), kRequester, kRequesterPort);
  ASSERT_EQ(peer.forwarded.size(), 1u);
  EXPECT_EQ(peer.forwarded[0].nClient, sender);
  legacy::Receiver sendersSide;
  sendersSide.AddClient(0x7F000009, 17030, true);  // it records the relay
  sendersSide.Receive(RequestBytes(), 0x7F000009, 17030);
  EXPECT_EQ(sendersSide.clients[1].nFramesRecorded, 0);
  EXPECT_EQ(sendersSide.clients[1].recording.nCurrentSequence, 0);
}

}  // namespace
