// The four endpoints of a control and the host methods that fill them.
#pragma once

#include <mutex>

#include "platform/winsock/winsock.h"

// One endpoint as the host gave it: the IP text (converted with inet_addr at each use) and
// the port in host byte order.
struct Endpoint {
  static constexpr std::size_t kIPFieldSize = 256;

  char szIP[kIPFieldSize] = {};  // NUL-terminated, at most 255 characters
  USHORT usPort = 0;

  // A text longer than 255 characters is cut to its first 255; null stores "".
  void Set(const char* ip, USHORT port);

  ULONG Address() const { return winsock::inet_addr(szIP); }  // network byte order
};

// CreateUdpSocket on a local endpoint: ntohl(inet_addr(text)) and the port.
winsock::SOCKET CreateUdpSocketOn(const Endpoint& local);

// The destination of a datagram to an endpoint: AF_INET, htons(port), inet_addr(text).
winsock::sockaddr_in DestinationOf(const Endpoint& endpoint);
// The same for the endpoint's port plus one (16-bit), where name announcements go.
winsock::sockaddr_in AnnouncementDestinationOf(const Endpoint& endpoint);

// An endpoint that one thread may replace while another reads it: every read is a whole copy.
class SharedEndpoint {
 public:
  Endpoint Load() const {
    std::lock_guard lock(m_lock);
    return m_value;
  }
  void Store(const char* ip, USHORT port) {
    std::lock_guard lock(m_lock);
    m_value.Set(ip, port);
  }

 private:
  mutable std::mutex m_lock;
  Endpoint m_value;
};

// The code-or-decode side that chooses which endpoints the address methods fill.
constexpr LONG CODE_SIDE = 1;    // send side
constexpr LONG DECODE_SIDE = 2;  // receive side

// All four endpoints of a control. The send-side remote address is read by the frame sender
// on the streaming thread, so every endpoint is shared the same way.
struct ControlEndpoints {
  SharedEndpoint sendLocal;
  SharedEndpoint sendRemote;
  SharedEndpoint recvLocal;
  SharedEndpoint recvRemote;
};

// SetLocalIPAddress: probes the address with CreateUdpSocket(ntohl(inet_addr(szIP)), usPort)
// and closes the probe at once; FALSE (nothing stored) when the probe fails. A text longer
// than 255 characters is cut first, so the text probed is the text stored. Then side 1 stores
// into the send-side local address, side 2 into the receive-side local address, and returns
// TRUE; any other side stores nothing and returns FALSE.
BOOL StoreLocalAddress(ControlEndpoints& endpoints, LONG codeOrDecode, const char* szIP, USHORT usPort);

// SetRemoteIPAddress: no probe, no check of the text. Side 1 stores into the send-side remote
// address, side 2 into the receive-side remote address, any other side nowhere. Always -1.
LONG StoreRemoteAddress(ControlEndpoints& endpoints, LONG codeOrDecode, const char* szIP, USHORT usPort);
