// The UDP sockets of the elements, through GIO as GStreamer's own network elements use them, and
// the addresses as the wire code counts them.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <string>

// An IPv4 source or destination, address and port in host byte order.
struct WireAddress {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  bool operator==(const WireAddress&) const = default;
};

// "a.b.c.d" or a host name, resolved to its first IPv4 address; nullptr (and `error` set) when there
// is none.
GInetAddress* ResolveIpv4(const char* host, GError** error);

bool IsMulticast(GInetAddress* address);

// A non-blocking UDP socket bound to the address and port (0: any port). A multicast group is joined
// on the interface the routing table picks, with the socket bound to every interface at the port,
// and then other members of this machine may bind the same port. nullptr (and `error` set) on failure.
GSocket* OpenWireSocket(const char* address, int port, GError** error);

// The port the socket is bound to (host byte order), 0 when it is not bound.
int BoundPort(GSocket* socket);

// The address of a datagram's source; false for anything but IPv4.
bool WireAddressOf(GSocketAddress* address, WireAddress* out);
GSocketAddress* SocketAddressOf(const WireAddress& address);

// "a.b.c.d:port" into an address; false when the text is not that.
bool ParseWireAddress(const char* text, WireAddress* out);
std::string WireAddressText(const WireAddress& address);
