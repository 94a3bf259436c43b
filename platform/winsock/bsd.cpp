#include "platform/winsock/bsd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace winsock::bsd {
namespace {

bool Translate(Option option, int* level, int* name) {
  struct Code {
    int level, name;
  };
  Code code{};
  switch (option) {
    case Option::kReuseAddr:
      code = {SOL_SOCKET, SO_REUSEADDR};
      break;
    case Option::kReceiveBuffer:
      code = {SOL_SOCKET, SO_RCVBUF};
      break;
    case Option::kSendBuffer:
      code = {SOL_SOCKET, SO_SNDBUF};
      break;
    case Option::kMulticastTtl:
      code = {IPPROTO_IP, IP_MULTICAST_TTL};
      break;
    default:
      errno = ENOPROTOOPT;
      return false;
  }
  *level = code.level;
  *name = code.name;
  return true;
}

sockaddr_in Address(std::uint32_t address, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = port;
  a.sin_addr.s_addr = address;
  return a;
}

}  // namespace

int OpenUdp() { return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP); }

int Close(int fd) { return ::close(fd); }

int SetOption(int fd, Option option, int value) {
  int level = 0, name = 0;
  if (!Translate(option, &level, &name)) return -1;
  return ::setsockopt(fd, level, name, &value, sizeof value);
}

int GetOption(int fd, Option option, int* value) {
  int level = 0, name = 0;
  if (!Translate(option, &level, &name)) return -1;
  socklen_t length = sizeof *value;
  return ::getsockopt(fd, level, name, value, &length);
}

int Bind(int fd, std::uint32_t address, std::uint16_t port) {
  const sockaddr_in a = Address(address, port);
  return ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

int GetName(int fd, std::uint32_t* address, std::uint16_t* port) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) return -1;
  *address = a.sin_addr.s_addr;
  *port = a.sin_port;
  return 0;
}

int SetNonBlocking(int fd, bool on) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return -1;
  return ::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

int JoinGroup(int fd, std::uint32_t group) {
  // Linux hands a socket bound to INADDR_ANY at a port the datagrams of every group that any
  // socket of the host joined on that port; a member hears only the groups it joined itself.
  const int all = 0;
  if (::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &all, sizeof all) != 0) return -1;
  ip_mreq request{};
  request.imr_multiaddr.s_addr = group;
  request.imr_interface.s_addr = htonl(INADDR_ANY);
  return ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request);
}

long SendTo(int fd, const void* data, std::size_t length, std::uint32_t address, std::uint16_t port) {
  const sockaddr_in a = Address(address, port);
  return ::sendto(fd, data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

int SendToEach(int fd, const void* data, std::size_t length, const std::uint32_t* addresses,
               const std::uint16_t* ports, std::size_t count) {
  if (count > kMaxSendEach) {
    errno = EINVAL;
    return -1;
  }
  sockaddr_in to[kMaxSendEach];
  mmsghdr messages[kMaxSendEach] = {};
  iovec payload{const_cast<void*>(data), length};
  for (std::size_t i = 0; i < count; ++i) {
    to[i] = Address(addresses[i], ports[i]);
    messages[i].msg_hdr.msg_name = &to[i];
    messages[i].msg_hdr.msg_namelen = sizeof to[i];
    messages[i].msg_hdr.msg_iov = &payload;
    messages[i].msg_hdr.msg_iovlen = 1;
  }
  int n;
  do n = ::sendmmsg(fd, messages, static_cast<unsigned>(count), MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  return n;
}

long RecvFrom(int fd, void* data, std::size_t capacity, std::uint32_t* address, std::uint16_t* port) {
  sockaddr_in a{};
  socklen_t length = sizeof a;
  const long n = ::recvfrom(fd, data, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&a), &length);
  if (n >= 0) {
    *address = a.sin_addr.s_addr;
    *port = a.sin_port;
  }
  return n;
}

int Poll(PollEntry* entries, std::size_t count, int timeoutMs) {
  // On the stack: select runs for every datagram read, and must not allocate.
  pollfd fds[kMaxPollEntries];
  if (count > kMaxPollEntries) {
    errno = EINVAL;
    return -1;
  }
  for (std::size_t i = 0; i < count; ++i) {
    fds[i].fd = entries[i].fd;
    fds[i].events =
        static_cast<short>((entries[i].wantRead ? POLLIN : 0) | (entries[i].wantWrite ? POLLOUT : 0) |
                           (entries[i].wantExcept ? POLLPRI : 0));
  }
  int n;
  do n = ::poll(fds, count, timeoutMs);
  while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  int ready = 0;
  for (std::size_t i = 0; i < count; ++i) {
    PollEntry& e = entries[i];
    const short r = fds[i].revents;
    e.invalid = (r & POLLNVAL) != 0;
    // A pending error makes a socket readable, so that the next receive reports it.
    e.read = e.wantRead && (r & (POLLIN | POLLERR | POLLHUP));
    e.write = e.wantWrite && (r & (POLLOUT | POLLERR));
    e.except = e.wantExcept && (r & POLLPRI);
    if (e.invalid || e.read || e.write || e.except) ++ready;
  }
  return ready;
}

bool ParseAddress(const char* text, std::uint32_t* address) {
  in_addr a{};
  if (::inet_aton(text, &a) == 0) return false;
  *address = a.s_addr;
  return true;
}

}  // namespace winsock::bsd
