#include "net/learned_address.h"

using namespace winsock;

namespace {

constexpr std::uint64_t kFlag = std::uint64_t{1} << 48;

}  // namespace

void LearnedRemoteAddress::Publish(ULONG address, USHORT port) {
  m_word.store(kFlag | (static_cast<std::uint64_t>(port) << 32) | address, std::memory_order_release);
}

bool LearnedRemoteAddress::Take(ULONG* address, USHORT* port) {
  if (!(m_word.load(std::memory_order_relaxed) & kFlag)) return false;
  const std::uint64_t word = m_word.exchange(0, std::memory_order_acquire);
  if (!(word & kFlag)) return false;  // another sender took it first
  *address = static_cast<ULONG>(word);
  *port = static_cast<USHORT>(word >> 32);
  return true;
}

bool LearnedRemoteAddress::Flagged() const { return (m_word.load(std::memory_order_relaxed) & kFlag) != 0; }

LearnedRemoteAddress& TheLearnedRemoteAddress() {
  static LearnedRemoteAddress learned;
  return learned;
}

bool LearnFromSource(SharedEndpoint& recvRemote, const sockaddr_in& from, LearnedRemoteAddress& learned) {
  const Endpoint current = recvRemote.Load();
  if (from.sin_addr.s_addr == current.Address() && ntohs(from.sin_port) == current.usPort) return false;
  recvRemote.Store(inet_ntoa(from.sin_addr), ntohs(from.sin_port));
  learned.Publish(from.sin_addr.s_addr, from.sin_port);
  return true;
}

bool AdoptLearnedAddress(SharedEndpoint& sendRemote, LearnedRemoteAddress& learned) {
  ULONG address;
  USHORT port;
  if (!learned.Take(&address, &port)) return false;
  sendRemote.Store(inet_ntoa(in_addr{address}), ntohs(port));
  return true;
}
