#include "net/learned_address.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace winsock;

sockaddr_in Source(const char* ip, USHORT port) {
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = inet_addr(ip);
  from.sin_port = htons(port);
  return from;
}

TEST(LearnedAddressTest, NewSourceRewritesTheReceiveRemoteAndIsAdoptedOnce) {
  LearnedRemoteAddress learned;
  SharedEndpoint recvRemote, sendRemote;
  recvRemote.Store("10.0.0.1", 5000);
  sendRemote.Store("10.9.9.9", 1);

  EXPECT_FALSE(LearnFromSource(recvRemote, Source("10.0.0.1", 5000), learned));  // known peer
  EXPECT_FALSE(learned.Flagged());
  EXPECT_FALSE(AdoptLearnedAddress(sendRemote, learned));
  EXPECT_STREQ(sendRemote.Load().szIP, "10.9.9.9");

  EXPECT_TRUE(LearnFromSource(recvRemote, Source("10.0.0.1", 5002), learned));  // new port
  EXPECT_EQ(recvRemote.Load().usPort, 5002);
  EXPECT_TRUE(LearnFromSource(recvRemote, Source("192.168.7.8", 5002), learned));  // new address
  EXPECT_STREQ(recvRemote.Load().szIP, "192.168.7.8");

  // The last one learned wins; the first sender that looks takes it.
  EXPECT_TRUE(AdoptLearnedAddress(sendRemote, learned));
  EXPECT_STREQ(sendRemote.Load().szIP, "192.168.7.8");
  EXPECT_EQ(sendRemote.Load().usPort, 5002);
  EXPECT_FALSE(learned.Flagged());
  SharedEndpoint otherSender;
  EXPECT_FALSE(AdoptLearnedAddress(otherSender, learned));
}

TEST(LearnedAddressTest, ReaderOnAnotherThreadOnlyEverTakesWholeAddresses) {
  // The writer publishes address i with port (i * 7) & 0xFFFF; every address taken must come
  // with its own port, and the flag must never be seen before both are there.
  LearnedRemoteAddress learned;
  constexpr ULONG kCount = 200000;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (ULONG i = 1; i <= kCount; ++i) learned.Publish(htonl(i), htons(static_cast<USHORT>(i * 7)));
    done = true;
  });
  int taken = 0, torn = 0;
  ULONG last = 0;
  bool ordered = true;
  auto look = [&] {
    ULONG address;
    USHORT port;
    if (!learned.Take(&address, &port)) return;
    ++taken;
    const ULONG i = ntohl(address);
    if (ntohs(port) != static_cast<USHORT>(i * 7) || i == 0) ++torn;
    if (i <= last) ordered = false;  // a taken address is never handed out twice
    last = i;
  };
  while (!done) look();
  writer.join();
  look();
  EXPECT_GT(taken, 0);
  EXPECT_EQ(torn, 0);
  EXPECT_TRUE(ordered);
  EXPECT_EQ(last, kCount);
  EXPECT_FALSE(learned.Flagged());
}

}  // namespace
