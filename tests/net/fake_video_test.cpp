#include "net/fake_video.h"

#include <gtest/gtest.h>

#include "net/learned_address.h"
#include "net/udp_socket.h"
#include "tests/net/net_test_support.h"

namespace {

using namespace winsock;
using Bytes = std::vector<std::uint8_t>;

const PacketFields kFields{4660, 65536, 0x01020304};
const Bytes kFakePacket = {0x80, 0xA1, 0x12, 0x34, 0x00, 0x01, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01};

class FakeVideoTest : public WinsockTest {
 protected:
  void SetUp() override {
    WinsockTest::SetUp();
    m_peer = LoopbackSocket();
    m_endpoints.sendLocal.Store("127.0.0.1", 0);
    m_endpoints.recvLocal.Store("127.0.0.1", FreePort());
    m_endpoints.sendRemote.Store("127.0.0.1", BoundPort(m_peer));
  }
  void TearDown() override {
    closesocket(m_peer);
    WinsockTest::TearDown();
  }

  SOCKET m_peer = INVALID_SOCKET;
  ControlEndpoints m_endpoints;
  SharedSocketTable m_table;
  SOCKET m_sockSend = INVALID_SOCKET;
};

TEST_F(FakeVideoTest, BurstOfThreeIdenticalPacketsFromASocketMadeForIt) {
  const int before = OpenDescriptorCount();
  EXPECT_EQ(RunFakeVideo(m_sockSend, false, m_endpoints, kFields, 3, m_table), TRUE);
  EXPECT_EQ(m_sockSend, INVALID_SOCKET);
  EXPECT_EQ(OpenDescriptorCount(), before);  // made and closed again
  const auto got = ReceiveAll(m_peer);
  ASSERT_EQ(got.size(), 3u);
  for (const Received& r : got) {
    EXPECT_EQ(r.bytes, kFakePacket);
    EXPECT_EQ(r.from.sin_port, got[0].from.sin_port);
  }
}

TEST_F(FakeVideoTest, ZeroOrNegativeSendsNothingButStillSucceeds) {
  const int before = OpenDescriptorCount();
  EXPECT_EQ(RunFakeVideo(m_sockSend, false, m_endpoints, kFields, 0, m_table), TRUE);
  EXPECT_EQ(RunFakeVideo(m_sockSend, false, m_endpoints, kFields, -5, m_table), TRUE);
  EXPECT_EQ(RunFakeVideo(m_sockSend, true, m_endpoints, kFields, -32768, m_table), TRUE);
  EXPECT_EQ(m_table.UseCount(), 0);
  EXPECT_EQ(OpenDescriptorCount(), before);
  EXPECT_TRUE(ReceiveAll(m_peer, 100).empty());
}

TEST_F(FakeVideoTest, OpenSendSocketIsBorrowedAndLeftOpen) {
  m_sockSend = CreateUdpSocket(0x7F000001, 0);  // as SendVideo opened it
  const SOCKET sending = m_sockSend;
  EXPECT_EQ(RunFakeVideo(m_sockSend, false, m_endpoints, kFields, 1, m_table), TRUE);
  EXPECT_EQ(m_sockSend, sending);
  Received r;
  ASSERT_TRUE(ReceiveOne(m_peer, &r));
  EXPECT_EQ(ntohs(r.from.sin_port), BoundPort(sending));
  EXPECT_EQ(SendBytes(sending, {1}, inet_addr("127.0.0.1"), BoundPort(m_peer)), 1);  // still open
  closesocket(sending);
}

TEST_F(FakeVideoTest, SameSocketWhileReceivingLeavesFromTheReceivePort) {
  const SOCKET recv = m_table.Acquire(m_endpoints.recvLocal, true);  // RecvVideo
  ASSERT_FALSE(IsNoSocket(recv));
  EXPECT_EQ(RunFakeVideo(m_sockSend, true, m_endpoints, kFields, 2, m_table), TRUE);
  EXPECT_EQ(m_table.UseCount(), 1);
  EXPECT_EQ(m_sockSend, recv);  // keeps the shared handle while it has a holder
  const auto got = ReceiveAll(m_peer);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(ntohs(got[0].from.sin_port), m_endpoints.recvLocal.Load().usPort);
  EXPECT_EQ(SendBytes(recv, {1}, inet_addr("127.0.0.1"), BoundPort(m_peer)), 1);  // still open
  EXPECT_TRUE(m_table.Release());
}

TEST_F(FakeVideoTest, SameSocketWithNothingRunningMakesAndClosesTheSharedSocket) {
  const int before = OpenDescriptorCount();
  EXPECT_EQ(RunFakeVideo(m_sockSend, true, m_endpoints, kFields, 1, m_table), TRUE);
  EXPECT_EQ(m_table.UseCount(), 0);
  EXPECT_EQ(m_sockSend, INVALID_SOCKET);
  EXPECT_EQ(OpenDescriptorCount(), before);
  Received r;
  ASSERT_TRUE(ReceiveOne(m_peer, &r));
  EXPECT_EQ(ntohs(r.from.sin_port), m_endpoints.recvLocal.Load().usPort);  // not the send side's
}

TEST_F(FakeVideoTest, NoSocketGivesFalseAndSendsNothing) {
  m_endpoints.sendLocal.Store("203.0.113.7", 0);
  m_endpoints.recvLocal.Store("203.0.113.7", 0);
  EXPECT_EQ(RunFakeVideo(m_sockSend, false, m_endpoints, kFields, 3, m_table), FALSE);
  EXPECT_EQ(RunFakeVideo(m_sockSend, true, m_endpoints, kFields, 3, m_table), FALSE);
  EXPECT_EQ(m_table.UseCount(), 0);
  EXPECT_TRUE(ReceiveAll(m_peer, 100).empty());
}

TEST_F(FakeVideoTest, PeerInSameSocketModeLearnsWhereToSendItsVideo) {
  // This control receives on its shared socket; the peer reads the burst on its receive
  // socket and, by address learning, makes this control's receive port its destination.
  const SOCKET recv = m_table.Acquire(m_endpoints.recvLocal, true);
  ASSERT_EQ(RunFakeVideo(m_sockSend, true, m_endpoints, kFields, 1, m_table), TRUE);

  LearnedRemoteAddress learned;
  SharedEndpoint peerRecvRemote, peerSendRemote;
  Received r;
  ASSERT_TRUE(ReceiveOne(m_peer, &r));
  EXPECT_TRUE(LearnFromSource(peerRecvRemote, r.from, learned));
  EXPECT_TRUE(AdoptLearnedAddress(peerSendRemote, learned));
  EXPECT_STREQ(peerSendRemote.Load().szIP, "127.0.0.1");
  EXPECT_EQ(peerSendRemote.Load().usPort, m_endpoints.recvLocal.Load().usPort);
  m_table.Release();
  EXPECT_EQ(BoundPort(recv), 0);  // closed
}

}  // namespace
