#include "net/shared_socket.h"

#include <gtest/gtest.h>

#include "net/udp_socket.h"
#include "tests/net/net_test_support.h"

namespace {

using namespace winsock;

using SharedSocketTest = WinsockTest;

bool IsOpen(SOCKET s) {
  int value;
  int length = sizeof value;
  return getsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&value), &length) == 0;
}

TEST(SharedSocketTableTest, SlotDefaultsToOneAndTakesOnlyZeroToNine) {
  EXPECT_EQ(TheSharedSocketTable().Slot(), 1);
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 0);
  SharedSocketTable table;
  table.SelectSlot(10);
  EXPECT_EQ(table.Slot(), 1);
  table.SelectSlot(-1);
  EXPECT_EQ(table.Slot(), 1);
  table.SelectSlot(0);
  EXPECT_EQ(table.Slot(), 0);
  table.SelectSlot(9);
  EXPECT_EQ(table.Slot(), 9);
}

TEST_F(SharedSocketTest, ReceiveThenSendShareOneSocketUntilTheLastRelease) {
  SharedSocketTable table;
  SharedEndpoint recvLocal, sendLocal;
  recvLocal.Store("127.0.0.1", 0);
  sendLocal.Store("203.0.113.7", 0);  // never used: the socket exists already

  const SOCKET recv = table.Acquire(recvLocal, true);  // RecvVideo
  ASSERT_FALSE(IsNoSocket(recv));
  EXPECT_EQ(table.UseCount(), 1);
  const SOCKET send = table.Acquire(sendLocal);  // SendVideo
  EXPECT_EQ(send, recv);
  EXPECT_EQ(table.UseCount(), 2);
  EXPECT_EQ(table.Held(), recv);

  EXPECT_FALSE(table.Release());  // StopSend
  EXPECT_EQ(table.UseCount(), 1);
  EXPECT_TRUE(IsOpen(recv));
  EXPECT_TRUE(table.Release());  // StopRecv
  EXPECT_EQ(table.UseCount(), 0);
  EXPECT_FALSE(IsOpen(recv));
  EXPECT_EQ(table.Held(), INVALID_SOCKET);

  // Nothing to give back: the count stays at 0 instead of wrapping to 65535.
  EXPECT_FALSE(table.Release());
  EXPECT_EQ(table.UseCount(), 0);
}

TEST_F(SharedSocketTest, FailedMakeLeavesTheCountAtZero) {
  SharedSocketTable table;
  EXPECT_EQ(table.Acquire([] { return INVALID_SOCKET; }), INVALID_SOCKET);
  EXPECT_EQ(table.Acquire([] { return SOCKET{0}; }), INVALID_SOCKET);
  SharedEndpoint notLocal;
  notLocal.Store("203.0.113.7", 0);
  EXPECT_EQ(table.Acquire(notLocal), INVALID_SOCKET);
  EXPECT_EQ(table.UseCount(), 0);
}

TEST_F(SharedSocketTest, ReceiveSideDrainsWhatWasQueuedBeforeItJoined) {
  SharedSocketTable table;
  SharedEndpoint local;
  local.Store("127.0.0.1", 0);
  const SOCKET shared = table.Acquire(local);  // the sender made it
  const SOCKET peer = LoopbackSocket();
  for (std::uint8_t i = 1; i <= 3; ++i)
    ASSERT_EQ(SendBytes(peer, {i}, inet_addr("127.0.0.1"), BoundPort(shared)), 1);
  Received r;
  // Wait until the datagrams are queued, then put the first one back in line.
  ASSERT_TRUE(ReceiveOne(shared, &r));
  ASSERT_EQ(SendBytes(peer, {9}, inet_addr("127.0.0.1"), BoundPort(shared)), 1);

  EXPECT_EQ(table.Acquire(local, true), shared);  // RecvVideo
  EXPECT_FALSE(ReceiveOne(shared, &r, 50));
  ASSERT_EQ(SendBytes(peer, {7}, inet_addr("127.0.0.1"), BoundPort(shared)), 1);
  ASSERT_TRUE(ReceiveOne(shared, &r));
  EXPECT_EQ(r.bytes, std::vector<std::uint8_t>{7});
  table.Release();
  table.Release();
  closesocket(peer);
}

TEST_F(SharedSocketTest, SlotChosenWhileHeldAppliesToTheNextSocket) {
  SharedSocketTable table;
  SharedEndpoint local;
  local.Store("127.0.0.1", 0);
  const SOCKET first = table.Acquire(local);
  table.SelectSlot(4);
  EXPECT_EQ(table.Acquire(local), first);  // still the held socket, not slot 4's empty entry
  table.Release();
  EXPECT_TRUE(table.Release());
  EXPECT_FALSE(IsOpen(first));

  const SOCKET second = table.Acquire(local);
  ASSERT_FALSE(IsNoSocket(second));
  EXPECT_EQ(table.Held(), second);
  EXPECT_TRUE(table.Release());
}

}  // namespace
