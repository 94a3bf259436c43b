// Reading on arrival: the receive socket is read when a datagram comes, between ticks, with the
// same steps as the tick's.
#include "net/receive_tick.h"
#include "net/shared_socket.h"
#include "tests/net/recv_fixture.h"

using namespace winsock;
using test_stream::Bytes;

namespace {

// The tick is stopped in these tests, so that only an arrival can read.
void StopTick(CQuelvoraCtrl& control) { ASSERT_TRUE(control.KillTimer(kRecvTimerID)); }

TEST_F(ReceivingControl, ShowsAndForwardsAFrameWithoutATick) {
  const SOCKET collector = LoopbackSocket();
  extraSockets.push_back(collector);
  ASSERT_EQ(ctrl->AddClient("127.0.0.1", static_cast<short>(BoundPort(collector)), nullptr, nullptr), 1);
  ASSERT_TRUE(ctrl->Forward(0, 1));
  ASSERT_TRUE(ctrl->RecvVideo());
  StopTick(*ctrl);
  const auto stream = test_stream::EncodeStream(352, 288, 1);
  const auto datagrams = test_stream::Datagrams(stream[0], 1);
  SendFrame(stream[0], 1);
  ASSERT_TRUE(PumpUntil([&] { return ctrl->m_nFramesShown == 1; }));
  EXPECT_EQ(ctrl->m_nDatagramsReceived, datagrams.size());
  const auto forwarded = ReceiveAll(collector, 100);
  ASSERT_EQ(forwarded.size(), datagrams.size());
  for (std::size_t i = 0; i < datagrams.size(); ++i) EXPECT_EQ(forwarded[i].bytes, datagrams[i]);

  // Stopped with receiving: nothing more is read.
  ASSERT_TRUE(ctrl->StopRecv());
  const std::uint64_t read = ctrl->m_nDatagramsReceived;
  SendFrame(stream[0], 2);
  Pump(60);
  EXPECT_EQ(ctrl->m_nDatagramsReceived, read);
}

TEST_F(ReceivingControl, AnArrivalDuringADrainWaitsForTheNextTick) {
  ASSERT_TRUE(ctrl->RecvVideo());
  StopTick(*ctrl);
  // As when a message box shown while a datagram is processed runs the event loop.
  ctrl->m_bDraining = TRUE;
  Send({0x80, 0xA1, 0, 1});
  Pump(60);
  EXPECT_EQ(ctrl->m_nDatagramsReceived, 0u);
  EXPECT_TRUE(ctrl->m_bArrivalPaused);
  ctrl->m_bDraining = FALSE;
  Tick(*ctrl);
  StopTick(*ctrl);
  EXPECT_EQ(ctrl->m_nDatagramsReceived, 1u);
  EXPECT_FALSE(ctrl->m_bArrivalPaused) << "the tick asks again";
  Send({0x80, 0xA1, 0, 2});
  ASSERT_TRUE(PumpUntil([&] { return ctrl->m_nDatagramsReceived == 2; }));
}

// Controls sharing one socket each read on arrival; one that stops leaves the other reading.
TEST_F(ReceivingControl, SameSocketModeKeepsReadingOnArrivalForTheControlThatStillReceives) {
  USHORT otherPort;
  auto other = MakeControl(&otherPort);
  other->m_endpoints.recvLocal.Store("127.0.0.1", port);
  ASSERT_TRUE(ctrl->UseSameSocketForSendAndRecv(-1));
  ASSERT_TRUE(other->UseSameSocketForSendAndRecv(-1));
  ASSERT_TRUE(ctrl->RecvVideo());
  ASSERT_TRUE(other->RecvVideo());
  ASSERT_EQ(other->m_sockRecv, ctrl->m_sockRecv);
  StopTick(*ctrl);
  StopTick(*other);
  Send({0x80, 0xA1, 0, 1});
  ASSERT_TRUE(PumpUntil([&] { return ctrl->m_nDatagramsReceived + other->m_nDatagramsReceived == 1; }));

  ASSERT_TRUE(ctrl->StopRecv());
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 1);
  const std::uint64_t before = other->m_nDatagramsReceived;
  Send({0x80, 0xA1, 0, 2});
  ASSERT_TRUE(PumpUntil([&] { return other->m_nDatagramsReceived == before + 1; }));
  ASSERT_TRUE(other->StopRecv());
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 0);
}

}  // namespace
