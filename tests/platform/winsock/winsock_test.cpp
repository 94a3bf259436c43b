#include "platform/winsock/winsock.h"

#include "platform/winsock/send_each.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace winsock;

class WinsockApiTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &m_data), 0); }
  void TearDown() override { WSACleanup(); }

  static sockaddr_in Loopback(USHORT port = 0) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    return a;
  }
  static SOCKET Bound(USHORT port = 0) {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in a = Loopback(port);
    EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0) << WSAGetLastError();
    return s;
  }
  static USHORT PortOf(SOCKET s) {
    sockaddr_in a{};
    int length = sizeof a;
    EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &length), 0);
    return ntohs(a.sin_port);
  }
  static int Send(SOCKET from, SOCKET to, const std::string& text) {
    const sockaddr_in a = Loopback(PortOf(to));
    return sendto(from, text.data(), static_cast<int>(text.size()), 0, reinterpret_cast<const sockaddr*>(&a),
                  sizeof a);
  }
  static int WaitReadable(SOCKET s, int ms = 2000) {
    FD_SET set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    const timeval wait{ms / 1000, (ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &wait);
  }

  WSADATA m_data{};
};

TEST_F(WinsockApiTest, StartupReportsVersionsAndCountsItsCallers) {
  EXPECT_EQ(m_data.wVersion, MAKEWORD(1, 1));
  EXPECT_EQ(m_data.wHighVersion, MAKEWORD(2, 2));
  EXPECT_STREQ(m_data.szSystemStatus, "Running");

  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(3, 0), &data), 0);
  EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));  // served with the highest it has
  EXPECT_EQ(WSAStartup(MAKEWORD(0, 9), &data), WSAVERNOTSUPPORTED);
  EXPECT_EQ(WSACleanup(), 0);

  // One start-up is still outstanding (SetUp's): sockets work.
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  EXPECT_NE(s, INVALID_SOCKET);
  closesocket(s);

  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(socket(AF_INET, SOCK_DGRAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);  // for TearDown
}

TEST_F(WinsockApiTest, InjectedStartupFailureIsReturnedAndStartsNothing) {
  WSACleanup();
  SetWSAStartupFailureForTesting(WSASYSNOTREADY);
  WSADATA data;
  EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), &data), WSASYSNOTREADY);
  EXPECT_EQ(socket(AF_INET, SOCK_DGRAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  SetWSAStartupFailureForTesting(0);
  EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
}

TEST_F(WinsockApiTest, HandlesAreNeverZeroAndDieWithClose) {
  const SOCKET a = socket(AF_INET, SOCK_DGRAM, 0);
  const SOCKET b = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  ASSERT_NE(a, INVALID_SOCKET);
  ASSERT_NE(b, INVALID_SOCKET);
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(closesocket(a), 0);
  EXPECT_EQ(closesocket(a), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  const sockaddr_in to = Loopback(9);
  EXPECT_EQ(sendto(a, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(closesocket(0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  closesocket(b);
}

TEST_F(WinsockApiTest, AHandleNoSocketHasIsNotASocket) {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  int value = 0, length = sizeof value;
  // Beside a real handle, past every descriptor, and the descriptor's own number.
  for (const SOCKET h : {s + 1, s + 2, s + 4096, SOCKET{1} << 40, INVALID_SOCKET - 3, s / 4 - 1}) {
    EXPECT_EQ(getsockopt(h, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), &length), SOCKET_ERROR) << h;
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK) << h;
  }
  // A closed socket's handle stays refused when another socket opens in its place, until that
  // socket is handed the same handle.
  const int buffer = 65536;
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer), 0);
  ASSERT_EQ(closesocket(s), 0);
  EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), &length), SOCKET_ERROR);
  const SOCKET again = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_EQ(again, s) << "the lowest free descriptor is reused";
  // The new socket does not inherit the buffer size the closed one was given.
  ASSERT_EQ(getsockopt(again, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), &length), 0);
  EXPECT_NE(value, buffer);
  closesocket(again);
}

TEST_F(WinsockApiTest, OfThreadsClosingOneSocketOnlyOneSucceeds) {
  for (int round = 0; round < 50; ++round) {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    std::atomic<int> closed{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
      threads.emplace_back([&] {
        if (closesocket(s) == 0) ++closed;
      });
    for (auto& t : threads) t.join();
    EXPECT_EQ(closed, 1);
  }
}

TEST_F(WinsockApiTest, OnlyIpv4DatagramSocketsAndLeafMultipointFlags) {
  EXPECT_EQ(socket(23, SOCK_DGRAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
  EXPECT_EQ(socket(AF_INET, 1, 0), INVALID_SOCKET);  // SOCK_STREAM
  EXPECT_EQ(WSAGetLastError(), WSAESOCKTNOSUPPORT);
  EXPECT_EQ(socket(AF_INET, SOCK_DGRAM, 6), INVALID_SOCKET);  // TCP
  EXPECT_EQ(WSAGetLastError(), WSAEPROTONOSUPPORT);
  EXPECT_EQ(WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_MULTIPOINT_C_ROOT),
            INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 7, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);

  const DWORD flags = WSA_FLAG_OVERLAPPED | WSA_FLAG_MULTIPOINT_C_LEAF | WSA_FLAG_MULTIPOINT_D_LEAF;
  EXPECT_EQ(flags, 0x15u);
  const SOCKET leaf = WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, flags);
  ASSERT_NE(leaf, INVALID_SOCKET);
  // Sender-only joins nothing and so needs no route: it shows the leaf is accepted.
  sockaddr_in group = Loopback();
  group.sin_addr.s_addr = inet_addr("239.1.1.1");
  EXPECT_EQ(WSAJoinLeaf(leaf, reinterpret_cast<const sockaddr*>(&group), sizeof group, nullptr, nullptr,
                        nullptr, nullptr, JL_SENDER_ONLY),
            leaf);

  const SOCKET plain = socket(AF_INET, SOCK_DGRAM, 0);
  EXPECT_EQ(WSAJoinLeaf(plain, reinterpret_cast<const sockaddr*>(&group), sizeof group, nullptr, nullptr,
                        nullptr, nullptr, JL_RECEIVER_ONLY),
            INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  closesocket(plain);
  closesocket(leaf);
}

TEST_F(WinsockApiTest, OptionsUseThePlatformCodesAndReadBackWhatWasSet) {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  const int size = 500000, one = 1;
  EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size), 0);
  EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size), 0);
  EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one), sizeof one), 0);
  int value = 0, length = sizeof value;
  EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), &length), 0);
  EXPECT_EQ(value, 500000);
  EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&value), &length), 0);
  EXPECT_EQ(value, 1);

  EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), 2), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
  EXPECT_EQ(setsockopt(s, SOL_SOCKET, 0x0020, reinterpret_cast<const char*>(&one), sizeof one), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
  // Linux's own codes mean nothing here: level 1 is not SOL_SOCKET.
  EXPECT_EQ(setsockopt(s, 1, 2, reinterpret_cast<const char*>(&one), sizeof one), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);

  const int scope = 16;
  DWORD returned = 99;
  EXPECT_EQ(WSAIoctl(s, SIO_MULTICAST_SCOPE, const_cast<int*>(&scope), sizeof scope, nullptr, 0, &returned,
                     nullptr, nullptr),
            0);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(getsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<char*>(&value), &length), 0);
  EXPECT_EQ(value, 16);
  EXPECT_EQ(WSAIoctl(s, 0x98000001u, nullptr, 0, nullptr, 0, &returned, nullptr, nullptr), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(WSAIoctl(s, SIO_MULTICAST_SCOPE, nullptr, 0, nullptr, 0, &returned, nullptr, nullptr),
            SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
  closesocket(s);
}

TEST_F(WinsockApiTest, BindErrorsMapToPlatformCodes) {
  const SOCKET holder = Bound();
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = Loopback(PortOf(holder));
  EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
  a.sin_addr.s_addr = inet_addr("203.0.113.7");
  EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRNOTAVAIL);
  a.sin_addr.s_addr = INADDR_NONE;
  EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRNOTAVAIL);
  EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&a), 8), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);

  sockaddr_in name{};
  int length = sizeof name;
  EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&name), &length), SOCKET_ERROR);  // not bound
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  closesocket(s);
  closesocket(holder);
}

TEST_F(WinsockApiTest, DatagramsTravelWithTheirSourceAndOversizeOnesAreReported) {
  const SOCKET a = Bound(), b = Bound();
  unsigned long nonBlocking = 1;
  ASSERT_EQ(ioctlsocket(b, FIONBIO, &nonBlocking), 0);
  char buffer[8];
  EXPECT_EQ(recvfrom(b, buffer, sizeof buffer, 0, nullptr, nullptr), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  EXPECT_EQ(ioctlsocket(b, 0x4004667F, &nonBlocking), SOCKET_ERROR);  // FIONREAD: not used here
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);

  ASSERT_EQ(Send(a, b, "0123456789"), 10);
  ASSERT_EQ(Send(a, b, ""), 0);
  ASSERT_EQ(Send(a, b, "abc"), 3);
  ASSERT_EQ(WaitReadable(b), 1);

  sockaddr_in from{};
  int fromLength = sizeof from;
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(recvfrom(b, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength),
            SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
  EXPECT_EQ(std::string(buffer, 8), "01234567");  // the part that fits; the rest is gone
  EXPECT_EQ(ntohs(from.sin_port), PortOf(a));
  EXPECT_STREQ(inet_ntoa(from.sin_addr), "127.0.0.1");
  EXPECT_EQ(fromLength, 16);
  EXPECT_EQ(recvfrom(b, buffer, sizeof buffer, 0, nullptr, nullptr), 0);  // the empty datagram
  EXPECT_EQ(recvfrom(b, buffer, sizeof buffer, 0, nullptr, nullptr), 3);

  fromLength = 4;
  EXPECT_EQ(recvfrom(b, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength),
            SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
  closesocket(a);
  closesocket(b);
}

// The relay's forwarding: what sendto would refuse is skipped and the rest still goes.
TEST_F(WinsockApiTest, SendToEachSendsToEveryDestinationSendtoWouldTake) {
  const SOCKET from = Bound();
  std::vector<SOCKET> sinks;
  std::vector<sockaddr_in> to;
  for (int i = 0; i < 3; ++i) {
    sinks.push_back(Bound());
    to.push_back(Loopback(PortOf(sinks.back())));
  }
  to.insert(to.begin() + 1, Loopback(0));  // port 0: refused, as sendto refuses it
  EXPECT_EQ(WSASendToEach(from, "relay", 5, to.data(), static_cast<int>(to.size())), 3);
  for (SOCKET s : sinks) {
    char buffer[16];
    sockaddr_in source{};
    int length = sizeof source;
    ASSERT_EQ(recvfrom(s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&source), &length), 5);
    EXPECT_EQ(std::string(buffer, 5), "relay");
    EXPECT_EQ(ntohs(source.sin_port), PortOf(from));
    closesocket(s);
  }
  // Nothing it could send: the error of the last one refused.
  const sockaddr_in nowhere = Loopback(0);
  EXPECT_EQ(WSASendToEach(from, "x", 1, &nowhere, 1), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRNOTAVAIL);
  EXPECT_EQ(WSASendToEach(from, "x", 1, nullptr, 0), 0);
  closesocket(from);
}

TEST_F(WinsockApiTest, SendtoRefusesDestinationsThePlatformRefuses) {
  const SOCKET s = Bound();
  sockaddr_in to = Loopback(0);
  EXPECT_EQ(sendto(s, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRNOTAVAIL);  // port 0
  to = Loopback(9);
  to.sin_addr.s_addr = INADDR_ANY;
  EXPECT_EQ(sendto(s, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRNOTAVAIL);
  to.sin_addr.s_addr = inet_addr("not an address");  // INADDR_NONE: broadcast without permission
  EXPECT_EQ(sendto(s, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEACCES);
  closesocket(s);
}

TEST_F(WinsockApiTest, SelectKeepsOnlyReadyHandlesOfAnyValue) {
  const SOCKET quiet = Bound(), busy = Bound(), sender = Bound();
  FD_SET set;
  FD_ZERO(&set);
  FD_SET(quiet, &set);
  FD_SET(busy, &set);
  FD_SET(busy, &set);  // once only
  EXPECT_EQ(set.fd_count, 2u);
  const timeval poll{0, 0};
  EXPECT_EQ(select(0, &set, nullptr, nullptr, &poll), 0);
  EXPECT_EQ(set.fd_count, 0u);

  ASSERT_EQ(Send(sender, busy, "hi"), 2);
  ASSERT_EQ(WaitReadable(busy), 1);
  FD_ZERO(&set);
  FD_SET(quiet, &set);
  FD_SET(busy, &set);
  FD_SET write;
  FD_ZERO(&write);
  FD_SET(quiet, &write);
  EXPECT_EQ(select(0, &set, &write, nullptr, &poll), 2);  // busy readable, quiet writable
  EXPECT_EQ(set.fd_count, 1u);
  EXPECT_TRUE(FD_ISSET(busy, &set));
  EXPECT_FALSE(FD_ISSET(quiet, &set));
  EXPECT_TRUE(FD_ISSET(quiet, &write));

  FD_CLR(busy, &set);
  EXPECT_EQ(set.fd_count, 0u);
  EXPECT_EQ(select(0, &set, nullptr, nullptr, &poll), SOCKET_ERROR);  // nothing to wait for
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);

  closesocket(quiet);
  FD_SET(quiet, &set);
  EXPECT_EQ(select(0, &set, nullptr, nullptr, &poll), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  closesocket(busy);
  closesocket(sender);
}

TEST(FdSetTest, HoldsAtMostSixtyFourHandles) {
  FD_SET set;
  FD_ZERO(&set);
  for (SOCKET s = 1; s <= 100; ++s) FD_SET(s * 1000003, &set);
  EXPECT_EQ(set.fd_count, static_cast<UINT>(FD_SETSIZE));
  EXPECT_TRUE(FD_ISSET(SOCKET{64} * 1000003, &set));
  EXPECT_FALSE(FD_ISSET(SOCKET{65} * 1000003, &set));
  FD_CLR(SOCKET{1} * 1000003, &set);
  EXPECT_EQ(set.fd_array[0], SOCKET{2} * 1000003);  // order kept
}

TEST(AddressTextTest, ParsesTheForms) {
  const auto bytes = [](ULONG a) {
    unsigned char b[4];
    std::memcpy(b, &a, 4);
    return std::vector<int>(b, b + 4);
  };
  EXPECT_EQ(bytes(inet_addr("192.168.1.2")), std::vector<int>({192, 168, 1, 2}));
  EXPECT_EQ(bytes(inet_addr("0x7f.1")), std::vector<int>({127, 0, 0, 1}));
  EXPECT_EQ(bytes(inet_addr("010.0.0.1")), std::vector<int>({8, 0, 0, 1}));  // octal part
  EXPECT_EQ(inet_addr("0.0.0.0"), INADDR_ANY);
  EXPECT_EQ(inet_addr("1.2.3.256"), INADDR_NONE);
  EXPECT_EQ(inet_addr("1.2.3.4x"), INADDR_NONE);
  EXPECT_EQ(inet_addr(""), INADDR_NONE);
  EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
  EXPECT_STREQ(inet_ntoa(in_addr{inet_addr("10.20.30.40")}), "10.20.30.40");
  EXPECT_STREQ(inet_ntoa(in_addr{INADDR_NONE}), "255.255.255.255");
}

TEST(ByteOrderTest, NetworkOrderIsBigEndian) {
  const USHORT s = htons(0x1234);
  const ULONG l = htonl(0x01020304);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(&s)[0], 0x12);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(&l)[0], 0x01);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(&l)[3], 0x04);
  EXPECT_EQ(ntohs(s), 0x1234);
  EXPECT_EQ(ntohl(l), 0x01020304u);
}

TEST(LastErrorTest, IsKeptPerThread) {
  WSASetLastError(WSAEWOULDBLOCK);
  std::thread([] {
    EXPECT_EQ(WSAGetLastError(), 0);
    WSASetLastError(WSAEINVAL);
  }).join();
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

}  // namespace
