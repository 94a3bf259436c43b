#include "net/udp_socket.h"

using namespace winsock;

namespace {

SOCKET CloseAndFail(SOCKET s) {
  closesocket(s);
  return INVALID_SOCKET;
}

}  // namespace

SOCKET CreateUdpSocket(ULONG address, USHORT port) {
  const bool multicast = IsMulticastAddress(address);

  const SOCKET s =
      multicast ? WSASocketA(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                             WSA_FLAG_OVERLAPPED | WSA_FLAG_MULTIPOINT_C_LEAF | WSA_FLAG_MULTIPOINT_D_LEAF)
                : socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) return INVALID_SOCKET;

  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(address);

  const int reuse = 1;
  if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse) != 0)
    return CloseAndFail(s);

  // A smaller buffer than asked for still works, so these two may fail.
  const int bufferSize = kSocketBufferSize;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bufferSize), sizeof bufferSize);
  setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bufferSize), sizeof bufferSize);

  // A group member binds every interface at the port; `local` keeps the group for the join.
  sockaddr_in bound = local;
  if (multicast) bound.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(s, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0) return CloseAndFail(s);

  unsigned long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return CloseAndFail(s);

  if (!multicast) return s;

  int scope = kMulticastScope;
  DWORD returned = 0;
  if (WSAIoctl(s, SIO_MULTICAST_SCOPE, &scope, sizeof scope, nullptr, 0, &returned, nullptr, nullptr) != 0)
    return CloseAndFail(s);

  // IP multicast has no rooted control plane: the handle returned is `s` itself, not kept.
  if (WSAJoinLeaf(s, reinterpret_cast<const sockaddr*>(&local), sizeof local, nullptr, nullptr, nullptr,
                  nullptr, JL_RECEIVER_ONLY) == INVALID_SOCKET)
    return CloseAndFail(s);
  return s;
}
