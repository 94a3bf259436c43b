// Address learning in same-socket mode: the receive loop (UI thread) hands the source of a
// datagram from a new peer to the frame sender (capture streaming thread), which makes it the
// send-side remote address.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/endpoint.h"
#include "platform/winsock/winsock.h"

// Flag, address and port travel in one atomic word, so that a reader that sees the flag sees
// the whole address and port that were published with it.
class LearnedRemoteAddress {
 public:
  // Address and port in network byte order; replaces an address not taken yet.
  void Publish(ULONG address, USHORT port);
  // When an address is flagged: gives it (network byte order), clears the flag, true.
  bool Take(ULONG* address, USHORT* port);
  bool Flagged() const;

 private:
  std::atomic<std::uint64_t> m_word{0};
};

// The process-wide learned remote address: the first sender that looks takes it.
LearnedRemoteAddress& TheLearnedRemoteAddress();

// Receive side, for a datagram of at least one byte read in same-socket mode: when its source
// differs in address or port from the receive-side remote address, that address becomes the
// source (text from inet_ntoa, port from ntohs) and the source is published. True when it was.
bool LearnFromSource(SharedEndpoint& recvRemote, const winsock::sockaddr_in& from,
                     LearnedRemoteAddress& learned);

// Send side, at the start of a frame in same-socket mode: a flagged address becomes the
// send-side remote address (text from inet_ntoa, port from ntohs). True when it did.
bool AdoptLearnedAddress(SharedEndpoint& sendRemote, LearnedRemoteAddress& learned);
