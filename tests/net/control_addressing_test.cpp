// The control's address methods and fake video burst, over real loopback sockets.
#include <gtest/gtest.h>

#include "control/quelvora_ctrl.h"
#include "net/shared_socket.h"
#include "net/udp_socket.h"
#include "platform/ui/msgbox.h"
#include "tests/net/net_test_support.h"

using namespace winsock;

namespace {

TEST(ControlAddressingTest, SidesChooseWhereAddressesGo) {
  CQuelvoraCtrl c;  // starts the socket library
  const USHORT port = FreePort();
  // No side yet: the probe passes but nothing is stored.
  EXPECT_FALSE(c.SetLocalIPAddress("127.0.0.1", static_cast<short>(port)));
  EXPECT_EQ(c.SetRemoteIPAddress("127.0.0.1", 9), -1);
  c.SetBandwidth(250000, 1);
  EXPECT_TRUE(c.SetLocalIPAddress("127.0.0.1", static_cast<short>(port)));
  EXPECT_FALSE(c.SetLocalIPAddress("192.0.2.77", static_cast<short>(port)));  // not this host's
  EXPECT_TRUE(c.SetLocalIPAddress("0.0.0.0", static_cast<short>(port)));
  EXPECT_EQ(c.SetRemoteIPAddress("127.0.0.1", 9), -1);
  EXPECT_EQ(c.m_endpoints.sendRemote.Load().usPort, 9);
  c.SetBandwidth(250000, 2);
  EXPECT_EQ(c.SetRemoteIPAddress("127.0.0.2", 10), -1);
  EXPECT_EQ(c.m_endpoints.recvRemote.Load().usPort, 10);
  EXPECT_EQ(c.m_endpoints.sendRemote.Load().usPort, 9);
}

TEST(ControlAddressingTest, FakeVideoBurstReachesThePeer) {
  CQuelvoraCtrl c;  // starts the socket library
  SOCKET peer = LoopbackSocket();
  const USHORT peerPort = BoundPort(peer);
  c.SetBandwidth(250000, 1);
  ASSERT_TRUE(c.SetLocalIPAddress("127.0.0.1", static_cast<short>(FreePort())));
  c.SetRemoteIPAddress("127.0.0.1", static_cast<short>(peerPort));
  EXPECT_TRUE(c.SendFakeVideo(0));
  EXPECT_TRUE(c.SendFakeVideo(3));
  const auto got = ReceiveAll(peer);
  ASSERT_EQ(got.size(), 3u);
  for (const auto& d : got) {
    ASSERT_EQ(d.bytes.size(), 12u);
    EXPECT_EQ(d.bytes[0], 0x80);
    EXPECT_EQ(d.bytes[1], 0xA1);
  }
  EXPECT_TRUE(IsNoSocket(c.m_sockSend));  // the burst's own socket is closed again
  closesocket(peer);
}

TEST(ControlAddressingTest, SameSocketModeKeepsTheSlotForOutOfRangeIds) {
  CQuelvoraCtrl c;
  const int slot = TheSharedSocketTable().Slot();
  EXPECT_TRUE(c.UseSameSocketForSendAndRecv(10));
  EXPECT_TRUE(c.UseSameSocketForSendAndRecv(-1));
  EXPECT_EQ(TheSharedSocketTable().Slot(), slot);
  EXPECT_EQ(c.m_bSameSocket, 1);
}

TEST(ControlAddressingTest, BurstWithoutASocketFailsQuietlyUnlessTheSwitchIsOn) {
  CQuelvoraCtrl c;
  c.SetBandwidth(250000, 1);
  // The send-side local address was never set: an empty text binds nothing.
  ClearRecordedMessageBoxes();
  const BOOL quiet = c.SendFakeVideo(1);
  c.ShowErrorDialog(1);
  const BOOL loud = c.SendFakeVideo(1);
  EXPECT_FALSE(quiet);
  EXPECT_FALSE(loud);
  ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
  EXPECT_EQ(RecordedMessageBoxes()[0].text, "Create UDP Socket for send failed !!!");
}

}  // namespace
