#include "net/endpoint.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "tests/net/net_test_support.h"

namespace {

using namespace winsock;

using EndpointTest = WinsockTest;

TEST_F(EndpointTest, LocalAddressIsProbedThenStoredBySide) {
  ControlEndpoints e;
  const USHORT port = FreePort();
  // No side yet: the probe succeeds, nothing is stored.
  EXPECT_EQ(StoreLocalAddress(e, 0, "127.0.0.1", port), FALSE);
  EXPECT_EQ(StoreLocalAddress(e, 3, "127.0.0.1", port), FALSE);
  EXPECT_STREQ(e.sendLocal.Load().szIP, "");
  EXPECT_STREQ(e.recvLocal.Load().szIP, "");

  EXPECT_EQ(StoreLocalAddress(e, CODE_SIDE, "127.0.0.1", port), TRUE);
  EXPECT_STREQ(e.sendLocal.Load().szIP, "127.0.0.1");
  EXPECT_EQ(e.sendLocal.Load().usPort, port);
  EXPECT_STREQ(e.recvLocal.Load().szIP, "");

  EXPECT_EQ(StoreLocalAddress(e, DECODE_SIDE, "0.0.0.0", port), TRUE);  // every interface
  EXPECT_STREQ(e.recvLocal.Load().szIP, "0.0.0.0");
  EXPECT_STREQ(e.sendLocal.Load().szIP, "127.0.0.1");

  // The probe leaves nothing open: the port can be taken by a socket without reuse.
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = DestinationOf(e.sendLocal.Load());
  EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
  closesocket(s);
}

TEST_F(EndpointTest, LocalAddressThatCannotBeBoundIsRefusedAndNotStored) {
  ControlEndpoints e;
  e.sendLocal.Store("127.0.0.1", 1);
  EXPECT_EQ(StoreLocalAddress(e, CODE_SIDE, "203.0.113.7", 0), FALSE);  // not this host's
  EXPECT_EQ(StoreLocalAddress(e, CODE_SIDE, "not an address", 0), FALSE);
  EXPECT_EQ(StoreLocalAddress(e, CODE_SIDE, "", 0), FALSE);
  EXPECT_EQ(StoreLocalAddress(e, CODE_SIDE, nullptr, 0), FALSE);
  const SOCKET holder = LoopbackSocket();  // holds its port without SO_REUSEADDR
  EXPECT_EQ(StoreLocalAddress(e, CODE_SIDE, "127.0.0.1", BoundPort(holder)), FALSE);
  closesocket(holder);
  EXPECT_STREQ(e.sendLocal.Load().szIP, "127.0.0.1");
  EXPECT_EQ(e.sendLocal.Load().usPort, 1);
}

TEST_F(EndpointTest, MulticastLocalAddressPassesWhenTheGroupCanBeJoined) {
  const std::string why = RunInPrivateNetwork([] {
    ControlEndpoints e;
    EXPECT_EQ(StoreLocalAddress(e, DECODE_SIDE, "239.5.6.7", FreePort()), TRUE);
    EXPECT_STREQ(e.recvLocal.Load().szIP, "239.5.6.7");
  });
  if (!why.empty()) GTEST_SKIP() << why;
}

TEST_F(EndpointTest, RemoteAddressIsStoredBySideWithoutAnyCheckAndAlwaysGivesMinusOne) {
  ControlEndpoints e;
  EXPECT_EQ(StoreRemoteAddress(e, 0, "10.0.0.1", 5), -1);
  EXPECT_STREQ(e.sendRemote.Load().szIP, "");
  EXPECT_STREQ(e.recvRemote.Load().szIP, "");
  EXPECT_EQ(StoreRemoteAddress(e, CODE_SIDE, "garbage", 6), -1);
  EXPECT_STREQ(e.sendRemote.Load().szIP, "garbage");
  EXPECT_EQ(e.sendRemote.Load().Address(), INADDR_NONE);
  EXPECT_EQ(StoreRemoteAddress(e, DECODE_SIDE, "10.0.0.2", 7), -1);
  EXPECT_STREQ(e.recvRemote.Load().szIP, "10.0.0.2");
  EXPECT_EQ(e.recvRemote.Load().usPort, 7);
  EXPECT_STREQ(e.sendRemote.Load().szIP, "garbage");
}

TEST_F(EndpointTest, OverlongTextIsCutAt255Characters) {
  // Trailing blanks still read as the address, so the probe of the cut text passes.
  const std::string longText = "127.0.0.1" + std::string(400, ' ');
  ControlEndpoints e;
  EXPECT_EQ(StoreLocalAddress(e, CODE_SIDE, longText.c_str(), 0), TRUE);
  EXPECT_EQ(std::strlen(e.sendLocal.Load().szIP), 255u);
  EXPECT_EQ(StoreRemoteAddress(e, CODE_SIDE, std::string(1000, '9').c_str(), 1), -1);
  const Endpoint remote = e.sendRemote.Load();
  EXPECT_EQ(std::string(remote.szIP), std::string(255, '9'));
  EXPECT_EQ(remote.usPort, 1);  // the field that follows the text is intact
}

TEST(DestinationTest, PortsAndAddressesInNetworkOrder) {
  Endpoint e;
  e.Set("192.168.1.2", 65535);
  const sockaddr_in to = DestinationOf(e);
  EXPECT_EQ(to.sin_family, AF_INET);
  EXPECT_EQ(to.sin_port, htons(65535));
  EXPECT_EQ(to.sin_addr.s_addr, inet_addr("192.168.1.2"));
  EXPECT_EQ(AnnouncementDestinationOf(e).sin_port, htons(0));  // 16-bit port + 1
}

TEST(SharedEndpointTest, ReaderNeverSeesAHalfWrittenEndpoint) {
  SharedEndpoint shared;
  shared.Store("10.0.0.1", 1111);
  const std::string longer = "192.168.100.200";
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 100000; ++i) {
      if (i % 2)
        shared.Store("10.0.0.1", 1111);
      else
        shared.Store(longer.c_str(), 2222);
    }
    done = true;
  });
  int torn = 0;
  while (!done) {
    const Endpoint e = shared.Load();
    const bool a = std::strcmp(e.szIP, "10.0.0.1") == 0 && e.usPort == 1111;
    const bool b = e.szIP == longer && e.usPort == 2222;
    if (!a && !b) ++torn;
  }
  writer.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
