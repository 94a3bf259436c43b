#include "net/shared_socket.h"

#include <algorithm>
#include <vector>

#include "net/udp_socket.h"

using namespace winsock;

namespace {

// Every datagram and assembly buffer of the control has this size.
constexpr int kDatagramBufferSize = 100000;

}  // namespace

void SharedSocketTable::SelectSlot(int nDeviceID) {
  if (nDeviceID >= 0 && nDeviceID < kSlots) m_nSlot = nDeviceID;
}

SOCKET SharedSocketTable::Held() const { return m_usUseCount ? m_sockets[m_nHeldSlot] : INVALID_SOCKET; }

SOCKET SharedSocketTable::Acquire(const std::function<SOCKET()>& make, bool drainQueued) {
  if (m_usUseCount == 0) {
    const SOCKET s = make();
    if (IsNoSocket(s)) return INVALID_SOCKET;
    m_nHeldSlot = m_nSlot;
    m_sockets[m_nHeldSlot] = s;
  } else if (drainQueued) {
    DrainSocket(m_sockets[m_nHeldSlot]);
  }
  ++m_usUseCount;
  return m_sockets[m_nHeldSlot];
}

SOCKET SharedSocketTable::Acquire(const SharedEndpoint& local, bool drainQueued) {
  return Acquire([&local] { return CreateUdpSocketOn(local.Load()); }, drainQueued);
}

bool SharedSocketTable::Release() {
  if (m_usUseCount == 0) return false;
  if (--m_usUseCount != 0) return false;
  const SOCKET closed = m_sockets[m_nHeldSlot];
  closesocket(closed);
  for (SOCKET* copy : m_copies)
    if (*copy == closed) *copy = INVALID_SOCKET;
  m_copies.clear();
  return true;
}

void SharedSocketTable::KeepCopy(SOCKET* copy) {
  if (std::find(m_copies.begin(), m_copies.end(), copy) == m_copies.end()) m_copies.push_back(copy);
}

void SharedSocketTable::ForgetCopy(SOCKET* copy) { std::erase(m_copies, copy); }

SharedSocketTable& TheSharedSocketTable() {
  static SharedSocketTable table;
  return table;
}

void DrainSocket(SOCKET s) {
  static std::vector<char> buffer(kDatagramBufferSize);
  while (recvfrom(s, buffer.data(), kDatagramBufferSize, 0, nullptr, nullptr) > 0) {
  }
}
