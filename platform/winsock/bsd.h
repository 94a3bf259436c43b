// The BSD socket calls under the Windows Sockets stand-in, with plain types only, so that
// winsock.cpp never sees a BSD header (their macros clash with the platform's constants).
// Addresses and ports are in network byte order. Failures return -1 and leave errno set.
#pragma once

#include <cstddef>
#include <cstdint>

namespace winsock::bsd {

int OpenUdp();
int Close(int fd);

enum class Option { kReuseAddr, kReceiveBuffer, kSendBuffer, kMulticastTtl };
int SetOption(int fd, Option option, int value);
int GetOption(int fd, Option option, int* value);

int Bind(int fd, std::uint32_t address, std::uint16_t port);
int GetName(int fd, std::uint32_t* address, std::uint16_t* port);
int SetNonBlocking(int fd, bool on);
// IP_ADD_MEMBERSHIP on the interface the routing table chooses for the group; the socket then
// receives the datagrams of the groups it joined itself only (IP_MULTICAST_ALL off).
int JoinGroup(int fd, std::uint32_t group);

long SendTo(int fd, const void* data, std::size_t length, std::uint32_t address, std::uint16_t port);
// One datagram to each of `count` destinations (at most kMaxSendEach) in one sendmmsg: returns
// how many of the first ones were sent before one failed, or -1 when the first failed.
constexpr std::size_t kMaxSendEach = 64;
int SendToEach(int fd, const void* data, std::size_t length, const std::uint32_t* addresses,
               const std::uint16_t* ports, std::size_t count);
// Returns the datagram's full length, which may exceed `capacity` (the rest is discarded).
long RecvFrom(int fd, void* data, std::size_t capacity, std::uint32_t* address, std::uint16_t* port);

struct PollEntry {
  int fd;
  bool wantRead, wantWrite, wantExcept;
  bool read, write, except, invalid;  // results
};
// Waits up to timeoutMs (-1: forever); returns the number of entries with any result, or -1
// (EINVAL for more than kMaxPollEntries entries).
constexpr std::size_t kMaxPollEntries = 3 * 64;
int Poll(PollEntry* entries, std::size_t count, int timeoutMs);

// inet_aton: false for text it cannot read.
bool ParseAddress(const char* text, std::uint32_t* address);

}  // namespace winsock::bsd
