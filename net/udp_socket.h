// The one routine that makes every UDP socket of the control.
#pragma once

#include "platform/winsock/winsock.h"

// A socket handle counts as none when it is INVALID_SOCKET or 0.
inline bool IsNoSocket(winsock::SOCKET s) { return s == winsock::INVALID_SOCKET || s == 0; }

// 224.0.0.0 to 239.255.255.255 (top four bits 1110). `address` in host byte order.
inline bool IsMulticastAddress(ULONG address) { return (address & 0xF0000000u) == 0xE0000000u; }

// Scope (time to live) of datagrams sent from a socket made on a multicast group.
constexpr int kMulticastScope = 16;
// Receive and send buffer size asked of every socket.
constexpr int kSocketBufferSize = 500000;

// A bound, non-blocking IPv4 UDP socket with SO_REUSEADDR. On a multicast group it is bound
// to INADDR_ANY at the port, has scope 16 and has joined the group. Address and port in host
// byte order. INVALID_SOCKET on any failure, with nothing left open; it shows nothing.
winsock::SOCKET CreateUdpSocket(ULONG address, USHORT port);
