// Same-socket mode: the one socket that sending and receiving share, through a table that
// every control in the process shares. Used on the UI thread only.
#pragma once

#include <functional>
#include <vector>

#include "net/endpoint.h"
#include "platform/winsock/winsock.h"

class SharedSocketTable {
 public:
  static constexpr int kSlots = 10;
  static constexpr int kDefaultSlot = 1;

  // UseSameSocketForSendAndRecv(nDeviceID): 0 to 9 selects the slot; other values leave it.
  void SelectSlot(int nDeviceID);
  int Slot() const { return m_nSlot; }
  USHORT UseCount() const { return m_usUseCount; }
  // The shared socket while it has holders, else INVALID_SOCKET.
  winsock::SOCKET Held() const;

  // Takes the shared socket for one more holder. With no holder yet, `make` makes it (a
  // result of INVALID_SOCKET or 0 fails the acquire: INVALID_SOCKET, the count stays 0) and it
  // goes into the current slot. With holders already and `drainQueued`, the datagrams queued on
  // the socket are read and thrown away first (the receive side starts clean).
  winsock::SOCKET Acquire(const std::function<winsock::SOCKET()>& make, bool drainQueued = false);
  // The same, making the socket with CreateUdpSocket on a local endpoint.
  winsock::SOCKET Acquire(const SharedEndpoint& local, bool drainQueued = false);

  // Gives one holder's share back; the last one closes the socket and clears every kept copy of
  // it. Returns true when it closed it. Without holders it does nothing.
  bool Release();

  // A copy of the shared handle kept beyond a share (the send socket after a fake video burst,
  // which the keep-alives then leave from): set to INVALID_SOCKET when the socket closes, so that
  // it never names a closed descriptor, or the socket that reuses its number. A copy must be
  // forgotten before it goes away.
  void KeepCopy(winsock::SOCKET* copy);
  void ForgetCopy(winsock::SOCKET* copy);

 private:
  winsock::SOCKET m_sockets[kSlots] = {};
  int m_nSlot = kDefaultSlot;
  // The slot the held socket was made in: a slot chosen while the socket is held applies to
  // the next socket made, so acquire and release keep to the socket their holders share.
  int m_nHeldSlot = kDefaultSlot;
  USHORT m_usUseCount = 0;
  std::vector<winsock::SOCKET*> m_copies;
};

// The process-wide table.
SharedSocketTable& TheSharedSocketTable();

// Reads and discards every datagram waiting on a non-blocking socket.
void DrainSocket(winsock::SOCKET s);
