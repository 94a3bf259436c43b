// Who owns the send socket when same-socket mode, receiving, sending and the fake video burst
// meet in one process: every socket goes back the way it was taken, and no control keeps a
// handle to a socket that another closed.
#include <gtest/gtest.h>

#include "net/shared_socket.h"
#include "net/udp_socket.h"
#include "tests/net/net_test_support.h"
#include "tests/support/capture_fixture.h"

namespace {

using namespace sendtest;
using namespace winsock;

class SocketOwnership : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    SetCaptureDriversForTesting({MakeTestCameraDriver()});
  }
  void TearDown() override {
    while (TheSharedSocketTable().UseCount() > 0) TheSharedSocketTable().Release();
    ControlTest::TearDown();
  }
  // A control receiving in same-socket mode on a port of its own.
  std::unique_ptr<CQuelvoraCtrl> SharedReceiver(USHORT* port) {
    auto ctrl = MakeControl();
    *port = FreePort();
    ctrl->m_endpoints.recvLocal.Store("127.0.0.1", *port);
    EXPECT_TRUE(ctrl->UseSameSocketForSendAndRecv(-1));
    EXPECT_TRUE(ctrl->RecvVideo());
    return ctrl;
  }
  // Whether a socket without address reuse can bind the port, that is whether no socket holds it.
  static bool PortIsFree(USHORT port) {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    a.sin_port = htons(port);
    const bool bound = bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    closesocket(s);
    return bound;
  }
  // Whether a datagram sent to the control's receive port is read by its receive tick.
  static bool Hears(CQuelvoraCtrl& ctrl, USHORT port) {
    const SOCKET peer = LoopbackSocket();
    const auto before = ctrl.m_nDatagramsReceived;
    SendBytes(peer, {0x80, 0x21, 0, 1}, inet_addr("127.0.0.1"), port);
    const bool heard = PumpUntil([&] { return ctrl.m_nDatagramsReceived > before; }, 1000);
    closesocket(peer);
    return heard;
  }
};

TEST_F(SocketOwnership, ASenderKeepsItsOwnSocketWhenSameSocketModeComesOnWhileItSends) {
  USHORT recvPort = 0;
  auto receiver = SharedReceiver(&recvPort);
  ASSERT_EQ(TheSharedSocketTable().UseCount(), 1);

  Receiver rx;
  auto sender = MakeControl();
  SendTo(*sender, rx.Port());
  ASSERT_TRUE(sender->InitCapture(0));
  ASSERT_TRUE(sender->SendVideo());
  const SOCKET own = sender->m_sockSend;
  const USHORT ownPort = BoundPort(own);
  ASSERT_TRUE(sender->UseSameSocketForSendAndRecv(-1));

  // The burst leaves from the shared socket and leaves the running sender's socket alone.
  ASSERT_TRUE(sender->SendFakeVideo(2));
  EXPECT_EQ(sender->m_sockSend, own);
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 1);
  const auto framesBefore = sender->m_nFramesSent.load();
  EXPECT_TRUE(PumpUntil([&] { return sender->m_nFramesSent.load() > framesBefore + 2; }))
      << "the sender stopped sending after the burst";

  // StopSend closes the sender's own socket and takes no share from the receiver.
  ASSERT_TRUE(sender->StopSend());
  EXPECT_TRUE(PortIsFree(ownPort)) << "the sender's own socket is still open";
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 1);
  EXPECT_TRUE(Hears(*receiver, recvPort)) << "the receiver's socket was closed under it";
  ASSERT_TRUE(receiver->StopRecv());
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 0);
}

TEST_F(SocketOwnership, TheLastReleaseOfTheSharedSocketClearsEveryKeptCopy) {
  USHORT recvPort = 0;
  auto receiver = SharedReceiver(&recvPort);
  const SOCKET shared = receiver->m_sockRecv;

  // After a burst while the shared socket has a holder, both controls' send sockets name it, so
  // that their keep-alives leave from the receive port.
  auto other = MakeControl();
  ASSERT_TRUE(other->UseSameSocketForSendAndRecv(-1));
  other->m_endpoints.sendRemote.Store("127.0.0.1", 9);
  receiver->m_endpoints.sendRemote.Store("127.0.0.1", 9);
  ASSERT_TRUE(other->SendFakeVideo(1));
  ASSERT_TRUE(receiver->SendFakeVideo(1));
  EXPECT_EQ(other->m_sockSend, shared);
  EXPECT_EQ(receiver->m_sockSend, shared);
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 1);

  // The last holder closes it; no copy may go on naming the closed descriptor (which the next
  // socket made would reuse).
  ASSERT_TRUE(receiver->StopRecv());
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 0);
  EXPECT_EQ(receiver->m_sockSend, INVALID_SOCKET);
  EXPECT_EQ(other->m_sockSend, INVALID_SOCKET);

  // A control destroyed while it keeps a copy leaves nothing behind in the table.
  ASSERT_TRUE(receiver->RecvVideo());
  ASSERT_TRUE(other->SendFakeVideo(1));
  other.reset();
  ASSERT_TRUE(receiver->StopRecv());
  EXPECT_EQ(receiver->m_sockSend, INVALID_SOCKET);
}

}  // namespace
