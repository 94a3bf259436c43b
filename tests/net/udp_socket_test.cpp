#include "net/udp_socket.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/net/net_test_support.h"

namespace {

using namespace winsock;

constexpr ULONG kLoopback = 0x7F000001;  // 127.0.0.1, host order
constexpr ULONG kNotLocal = 0xCB007107;  // 203.0.113.7 (documentation range)
constexpr ULONG kGroup = 0xEF010203;     // 239.1.2.3

int IntOption(SOCKET s, int level, int name) {
  int value = -1;
  int length = sizeof value;
  EXPECT_EQ(getsockopt(s, level, name, reinterpret_cast<char*>(&value), &length), 0);
  return value;
}

using UdpSocketTest = WinsockTest;

TEST_F(UdpSocketTest, UnicastSocketIsBoundReusableBufferedAndNonBlocking) {
  const SOCKET s = CreateUdpSocket(kLoopback, 0);
  ASSERT_FALSE(IsNoSocket(s));
  EXPECT_EQ(BoundAddress(s), htonl(kLoopback));
  const USHORT port = BoundPort(s);
  EXPECT_NE(port, 0);
  EXPECT_EQ(IntOption(s, SOL_SOCKET, SO_REUSEADDR), 1);
  EXPECT_EQ(IntOption(s, SOL_SOCKET, SO_RCVBUF), kSocketBufferSize);
  EXPECT_EQ(IntOption(s, SOL_SOCKET, SO_SNDBUF), kSocketBufferSize);
  EXPECT_EQ(IntOption(s, IPPROTO_IP, IP_MULTICAST_TTL), 1);  // scope only on group sockets

  char buffer[16];
  EXPECT_EQ(recvfrom(s, buffer, sizeof buffer, 0, nullptr, nullptr), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

  // Reuse lets a second socket share the port, as the probe of SetLocalIPAddress does.
  const SOCKET again = CreateUdpSocket(kLoopback, port);
  EXPECT_FALSE(IsNoSocket(again));
  closesocket(again);

  const SOCKET peer = LoopbackSocket();
  ASSERT_EQ(SendBytes(peer, {1, 2, 3}, htonl(kLoopback), port), 3);
  Received r;
  ASSERT_TRUE(ReceiveOne(s, &r));
  EXPECT_EQ(r.bytes, std::vector<std::uint8_t>({1, 2, 3}));
  EXPECT_EQ(ntohs(r.from.sin_port), BoundPort(peer));
  closesocket(peer);
  closesocket(s);
}

TEST_F(UdpSocketTest, AnyAddressBindsAllInterfaces) {
  const SOCKET s = CreateUdpSocket(INADDR_ANY, 0);
  ASSERT_FALSE(IsNoSocket(s));
  EXPECT_EQ(BoundAddress(s), htonl(INADDR_ANY));
  closesocket(s);
}

TEST_F(UdpSocketTest, FailuresLeaveNoSocketOpen) {
  const int before = OpenDescriptorCount();
  EXPECT_EQ(CreateUdpSocket(kNotLocal, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRNOTAVAIL);
  EXPECT_EQ(CreateUdpSocket(INADDR_NONE, 0), INVALID_SOCKET);  // unreadable text

  // A port held by a socket without SO_REUSEADDR cannot be bound.
  const SOCKET holder = LoopbackSocket();
  EXPECT_EQ(CreateUdpSocket(kLoopback, BoundPort(holder)), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
  closesocket(holder);
  EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST_F(UdpSocketTest, FailsWhenTheLibraryIsNotStarted) {
  WSACleanup();
  EXPECT_EQ(CreateUdpSocket(kLoopback, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  WSADATA data;
  WSAStartup(MAKEWORD(1, 1), &data);
}

TEST(MulticastRangeTest, TopFourBitsDecide) {
  EXPECT_TRUE(IsMulticastAddress(0xE0000000));   // 224.0.0.0
  EXPECT_TRUE(IsMulticastAddress(0xEFFFFFFF));   // 239.255.255.255
  EXPECT_FALSE(IsMulticastAddress(0xDFFFFFFF));  // 223.255.255.255
  EXPECT_FALSE(IsMulticastAddress(0xF0000001));  // 240.0.0.1
}

class MulticastTest : public WinsockTest {
 protected:
  void RunPrivately(const std::function<void()>& body) {
    const std::string why = RunInPrivateNetwork(body);
    if (!why.empty()) GTEST_SKIP() << why;
  }
};

TEST_F(MulticastTest, GroupSocketReceivesDatagramsSentToTheGroup) {
  RunPrivately([] {
    const SOCKET member = CreateUdpSocket(kGroup, 0);
    ASSERT_FALSE(IsNoSocket(member)) << WSAGetLastError();
    EXPECT_EQ(BoundAddress(member), htonl(INADDR_ANY));
    EXPECT_EQ(IntOption(member, IPPROTO_IP, IP_MULTICAST_TTL), kMulticastScope);
    const USHORT port = BoundPort(member);

    // A second member on the same group and port, as a receive socket beside the probe.
    const SOCKET second = CreateUdpSocket(kGroup, port);
    ASSERT_FALSE(IsNoSocket(second));

    const SOCKET sender = LoopbackSocket();
    ASSERT_EQ(SendBytes(sender, {0x80, 0xA1, 9}, htonl(kGroup), port), 3);
    for (SOCKET s : {member, second}) {
      Received r;
      ASSERT_TRUE(ReceiveOne(s, &r)) << "no datagram on the group";
      EXPECT_EQ(r.bytes, std::vector<std::uint8_t>({0x80, 0xA1, 9}));
    }
    // Unicast to the member's port reaches it too: it is bound to every interface.
    ASSERT_EQ(SendBytes(sender, {5}, htonl(kLoopback), port), 1);
    Received r;
    EXPECT_TRUE(ReceiveOne(member, &r, 500) || ReceiveOne(second, &r, 500));
    for (SOCKET s : {member, second, sender}) closesocket(s);
  });
}

TEST_F(MulticastTest, MembersOfTwoGroupsOnOnePortHearOnlyTheirOwnGroup) {
  RunPrivately([] {
    constexpr ULONG kOtherGroup = 0xEF010204;  // 239.1.2.4
    const SOCKET first = CreateUdpSocket(kGroup, 0);
    ASSERT_FALSE(IsNoSocket(first)) << WSAGetLastError();
    const USHORT port = BoundPort(first);
    const SOCKET other = CreateUdpSocket(kOtherGroup, port);
    ASSERT_FALSE(IsNoSocket(other));
    const SOCKET sender = LoopbackSocket();
    ASSERT_EQ(SendBytes(sender, {1}, htonl(kOtherGroup), port), 1);
    ASSERT_EQ(SendBytes(sender, {2}, htonl(kGroup), port), 1);
    const auto toFirst = ReceiveAll(first);
    ASSERT_EQ(toFirst.size(), 1u);
    EXPECT_EQ(toFirst[0].bytes, std::vector<std::uint8_t>{2});
    const auto toOther = ReceiveAll(other);
    ASSERT_EQ(toOther.size(), 1u);
    EXPECT_EQ(toOther[0].bytes, std::vector<std::uint8_t>{1});
    for (SOCKET s : {first, other, sender}) closesocket(s);
  });
}

TEST_F(MulticastTest, RangeEdgesThroughRealSockets) {
  RunPrivately([] {
    // The top of the range is a group: the socket joins and binds every interface.
    const SOCKET top = CreateUdpSocket(0xEFFFFFFF, 0);
    ASSERT_FALSE(IsNoSocket(top)) << WSAGetLastError();
    EXPECT_EQ(IntOption(top, IPPROTO_IP, IP_MULTICAST_TTL), kMulticastScope);
    closesocket(top);
    // Just outside it is unicast: a bind to an address this host does not have.
    EXPECT_EQ(CreateUdpSocket(0xDFFFFFFF, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRNOTAVAIL);
    EXPECT_EQ(CreateUdpSocket(0xF0000001, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRNOTAVAIL);
  });
}

TEST_F(UdpSocketTest, GroupWithoutARouteFailsAndClosesWhatItMade) {
  // In a namespace with loopback only and no route for the group, the join has no interface.
  const std::string why = RunInPrivateNetwork([] {
    std::system("ip route del 239.0.0.0/8 dev lo");
    const int before = OpenDescriptorCount();
    EXPECT_EQ(CreateUdpSocket(kGroup, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRNOTAVAIL);
    EXPECT_EQ(OpenDescriptorCount(), before);
  });
  if (!why.empty()) GTEST_SKIP() << why;
}

}  // namespace
