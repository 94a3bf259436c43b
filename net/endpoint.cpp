#include "net/endpoint.h"

#include <cstring>

#include "net/udp_socket.h"

using namespace winsock;

void Endpoint::Set(const char* ip, USHORT port) {
  const std::size_t length = ip ? strnlen(ip, kIPFieldSize - 1) : 0;
  if (length) std::memcpy(szIP, ip, length);
  szIP[length] = '\0';
  usPort = port;
}

SOCKET CreateUdpSocketOn(const Endpoint& local) {
  return CreateUdpSocket(ntohl(local.Address()), local.usPort);
}

sockaddr_in DestinationOf(const Endpoint& endpoint) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(endpoint.usPort);
  to.sin_addr.s_addr = endpoint.Address();
  return to;
}

sockaddr_in AnnouncementDestinationOf(const Endpoint& endpoint) {
  sockaddr_in to = DestinationOf(endpoint);
  to.sin_port = htons(static_cast<USHORT>(endpoint.usPort + 1));
  return to;
}

BOOL StoreLocalAddress(ControlEndpoints& endpoints, LONG codeOrDecode, const char* szIP, USHORT usPort) {
  // Probe the text as it would be stored, so that an over-long text is judged after the cut.
  Endpoint candidate;
  candidate.Set(szIP, usPort);
  const SOCKET probe = CreateUdpSocketOn(candidate);
  if (IsNoSocket(probe)) return FALSE;
  closesocket(probe);
  if (codeOrDecode == CODE_SIDE) {
    endpoints.sendLocal.Store(candidate.szIP, candidate.usPort);
  } else if (codeOrDecode == DECODE_SIDE) {
    endpoints.recvLocal.Store(candidate.szIP, candidate.usPort);
  } else {
    return FALSE;
  }
  return TRUE;
}

LONG StoreRemoteAddress(ControlEndpoints& endpoints, LONG codeOrDecode, const char* szIP, USHORT usPort) {
  if (codeOrDecode == CODE_SIDE) {
    endpoints.sendRemote.Store(szIP, usPort);
  } else if (codeOrDecode == DECODE_SIDE) {
    endpoints.recvRemote.Store(szIP, usPort);
  }
  return -1;
}
