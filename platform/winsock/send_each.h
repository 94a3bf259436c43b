// Not a platform call: the relay's forwarding of one datagram to several clients in one system
// call where the kernel can (sendmmsg), in place of a sendto per client.
#pragma once

#include "platform/winsock/winsock.h"

namespace winsock {

// Sends buf to each of the `count` destinations, as that many sendto calls would: one that
// sendto refuses, or that fails, is skipped and the others still go. Returns how many were sent,
// or SOCKET_ERROR (with the last error) when none was; 0 for no destinations.
int WSASendToEach(SOCKET s, const char* buf, int len, const sockaddr_in* to, int count);

}  // namespace winsock
