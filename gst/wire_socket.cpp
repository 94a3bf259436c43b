#include "gst/wire_socket.h"

#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// As the control asks for its receive socket: room for a burst of key-frame fragments.
constexpr int kSocketBufferBytes = 500000;

}  // namespace

GInetAddress* ResolveIpv4(const char* host, GError** error) {
  if (host == nullptr || host[0] == '\0') host = "0.0.0.0";
  if (GInetAddress* address = g_inet_address_new_from_string(host)) {
    if (g_inet_address_get_family(address) == G_SOCKET_FAMILY_IPV4) return address;
    g_object_unref(address);
    g_set_error(error, G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED, "%s is not an IPv4 address", host);
    return nullptr;
  }
  GResolver* resolver = g_resolver_get_default();
  GList* found = g_resolver_lookup_by_name(resolver, host, nullptr, error);
  g_object_unref(resolver);
  GInetAddress* result = nullptr;
  for (GList* item = found; item != nullptr && result == nullptr; item = item->next) {
    auto* candidate = G_INET_ADDRESS(item->data);
    if (g_inet_address_get_family(candidate) == G_SOCKET_FAMILY_IPV4)
      result = G_INET_ADDRESS(g_object_ref(candidate));
  }
  g_resolver_free_addresses(found);
  if (result == nullptr && error != nullptr && *error == nullptr)
    g_set_error(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "%s has no IPv4 address", host);
  return result;
}

bool IsMulticast(GInetAddress* address) { return g_inet_address_get_is_multicast(address); }

GSocket* OpenWireSocket(const char* address, int port, GError** error) {
  GInetAddress* local = ResolveIpv4(address, error);
  if (local == nullptr) return nullptr;
  GSocket* socket = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP, error);
  if (socket == nullptr) {
    g_object_unref(local);
    return nullptr;
  }
  g_socket_set_blocking(socket, FALSE);
  // A smaller buffer than asked for still works.
  g_socket_set_option(socket, SOL_SOCKET, SO_RCVBUF, kSocketBufferBytes, nullptr);

  const bool group = IsMulticast(local);
  GInetAddress* bindAddress =
      group ? g_inet_address_new_any(G_SOCKET_FAMILY_IPV4) : G_INET_ADDRESS(g_object_ref(local));
  GSocketAddress* bound = g_inet_socket_address_new(bindAddress, static_cast<guint16>(port));
  bool ok = g_socket_bind(socket, bound, group, error);
  if (ok && group) ok = g_socket_join_multicast_group(socket, local, FALSE, nullptr, error);
  g_object_unref(bound);
  g_object_unref(bindAddress);
  g_object_unref(local);
  if (!ok) {
    g_object_unref(socket);
    return nullptr;
  }
  return socket;
}

int BoundPort(GSocket* socket) {
  GSocketAddress* local = g_socket_get_local_address(socket, nullptr);
  if (local == nullptr) return 0;
  const int port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local));
  g_object_unref(local);
  return port;
}

bool WireAddressOf(GSocketAddress* address, WireAddress* out) {
  if (!G_IS_INET_SOCKET_ADDRESS(address)) return false;
  auto* inet = G_INET_SOCKET_ADDRESS(address);
  GInetAddress* ip = g_inet_socket_address_get_address(inet);
  if (g_inet_address_get_family(ip) != G_SOCKET_FAMILY_IPV4) return false;
  const guint8* bytes = g_inet_address_to_bytes(ip);
  out->address = (static_cast<std::uint32_t>(bytes[0]) << 24) | (static_cast<std::uint32_t>(bytes[1]) << 16) |
                 (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3];
  out->port = g_inet_socket_address_get_port(inet);
  return true;
}

GSocketAddress* SocketAddressOf(const WireAddress& address) {
  const guint8 bytes[4] = {static_cast<guint8>(address.address >> 24),
                           static_cast<guint8>(address.address >> 16),
                           static_cast<guint8>(address.address >> 8), static_cast<guint8>(address.address)};
  GInetAddress* ip = g_inet_address_new_from_bytes(bytes, G_SOCKET_FAMILY_IPV4);
  GSocketAddress* result = g_inet_socket_address_new(ip, address.port);
  g_object_unref(ip);
  return result;
}

bool ParseWireAddress(const char* text, WireAddress* out) {
  if (text == nullptr) return false;
  const char* colon = std::strrchr(text, ':');
  if (colon == nullptr || colon == text) return false;
  char* end = nullptr;
  const long port = std::strtol(colon + 1, &end, 10);
  if (end == colon + 1 || *end != '\0' || port < 1 || port > 65535) return false;
  const std::string host(text, colon);
  GInetAddress* ip = g_inet_address_new_from_string(host.c_str());
  if (ip == nullptr) return false;
  GSocketAddress* socketAddress = g_inet_socket_address_new(ip, static_cast<guint16>(port));
  const bool ok = WireAddressOf(socketAddress, out);
  g_object_unref(socketAddress);
  g_object_unref(ip);
  return ok;
}

std::string WireAddressText(const WireAddress& address) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", address.address >> 24, (address.address >> 16) & 0xFF,
                (address.address >> 8) & 0xFF, address.address & 0xFF, address.port);
  return text;
}
