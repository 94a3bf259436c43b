// Shared by the network tests: a started socket library, loopback receivers, descriptor
// counts, and a private network namespace for multicast.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/winsock/winsock.h"

// Starts the socket library for one test, as the control's constructor does.
class WinsockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    winsock::WSADATA data;
    ASSERT_EQ(winsock::WSAStartup(winsock::MAKEWORD(1, 1), &data), 0);
  }
  void TearDown() override { winsock::WSACleanup(); }
};

// The port a socket is bound to, in host byte order (0 when it is not bound).
USHORT BoundPort(winsock::SOCKET s);
ULONG BoundAddress(winsock::SOCKET s);  // network byte order

// A datagram as read from a socket.
struct Received {
  std::vector<std::uint8_t> bytes;
  winsock::sockaddr_in from{};
};

// Waits up to timeoutMs for one datagram; false when none came.
bool ReceiveOne(winsock::SOCKET s, Received* out, int timeoutMs = 2000);
// Reads every datagram that arrives until none has come for quietMs.
std::vector<Received> ReceiveAll(winsock::SOCKET s, int quietMs = 200);

// A plain socket bound to 127.0.0.1 at a port the system chooses.
winsock::SOCKET LoopbackSocket();

// A port the system chose for a socket that is closed again, so that it is free.
USHORT FreePort();

int SendBytes(winsock::SOCKET s, const std::vector<std::uint8_t>& bytes, ULONG addressNet, USHORT port);

// The number of open file descriptors of this process.
int OpenDescriptorCount();

// Runs `body` on a thread that lives in a network namespace of its own, with the loopback
// interface up and 239.0.0.0/8 routed over it, so multicast works without touching the host's
// routes. Sockets made there belong to that namespace. Returns an empty string on success,
// otherwise why the namespace could not be had (the caller skips with that reason).
std::string RunInPrivateNetwork(const std::function<void()>& body);

// The text of an address in network byte order.
std::string Dotted(ULONG addressNet);
