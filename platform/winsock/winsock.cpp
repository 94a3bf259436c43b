#include "platform/winsock/winsock.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/winsock/async_select_hooks.h"
#include "platform/winsock/bsd.h"
#include "platform/winsock/send_each.h"

namespace winsock {
namespace {

struct SocketInfo {
  int fd = -1;
  bool multipoint = false;
  // What SO_RCVBUF / SO_SNDBUF were set to: the platform reads back the value it was given,
  // where Linux reports twice the (capped) value.
  int receiveBuffer = -1;
  int sendBuffer = -1;
};

// Start-up, clean-up and the making of slot chunks; never taken by a call on an open socket,
// which the receive loop and the streaming thread make for every datagram.
std::mutex g_lock;
std::atomic<int> g_startups{0};
int g_startupFailure = 0;
thread_local int t_lastError = 0;

// The state of each open socket, in a slot indexed by its descriptor, so that a call finds it
// without a lock or a lookup. Chunks of slots are made as descriptors grow and kept for the
// process's life.
struct Slot {
  static constexpr std::uint32_t kOpen = 1, kMultipoint = 2;
  std::atomic<std::uint32_t> state{0};
  std::atomic<int> receiveBuffer{-1};
  std::atomic<int> sendBuffer{-1};
};
constexpr int kChunkBits = 10;
constexpr int kChunkSlots = 1 << kChunkBits;
constexpr int kChunks = 1024;  // descriptors below 1,048,576
std::atomic<Slot*> g_chunks[kChunks];

// Windows handles are multiples of 4; the bias keeps 0 free, so "0 or INVALID_SOCKET means
// none" never hides a real socket, and a handle passed to a BSD call by mistake fails.
SOCKET HandleOf(int fd) { return (static_cast<SOCKET>(fd) + 1) * 4; }

// The slot of a handle's descriptor, or null for a handle no socket could have.
Slot* SlotOf(SOCKET s) {
  if (s % 4 != 0 || s < 4 || s / 4 - 1 >= static_cast<SOCKET>(kChunks) * kChunkSlots) return nullptr;
  const auto fd = static_cast<int>(s / 4 - 1);
  Slot* chunk = g_chunks[fd >> kChunkBits].load(std::memory_order_acquire);
  return chunk ? &chunk[fd & (kChunkSlots - 1)] : nullptr;
}

// The slot for a new descriptor, its chunk made if need be; null past the last chunk.
Slot* MakeSlot(int fd) {
  if (fd >> kChunkBits >= kChunks) return nullptr;
  std::atomic<Slot*>& chunk = g_chunks[fd >> kChunkBits];
  if (chunk.load(std::memory_order_acquire) == nullptr) {
    std::lock_guard lock(g_lock);
    if (chunk.load(std::memory_order_relaxed) == nullptr) chunk.store(new Slot[kChunkSlots], std::memory_order_release);
  }
  return &chunk.load(std::memory_order_acquire)[fd & (kChunkSlots - 1)];
}

int ErrorFromErrno(int e) {
  switch (e) {
    case EINTR:
      return WSAEINTR;
    case EBADF:
    case ENOTSOCK:
      return WSAENOTSOCK;
    case EACCES:
    case EPERM:
      return WSAEACCES;
    case EFAULT:
      return WSAEFAULT;
    case EINVAL:
      return WSAEINVAL;
    case EMFILE:
    case ENFILE:
      return WSAEMFILE;
    case EAGAIN:
      return WSAEWOULDBLOCK;
    case EMSGSIZE:
      return WSAEMSGSIZE;
    case EPROTOTYPE:
      return WSAEPROTOTYPE;
    case ENOPROTOOPT:
      return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
      return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
      return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
      return WSAEOPNOTSUPP;
    case EAFNOSUPPORT:
      return WSAEAFNOSUPPORT;
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
    case ENODEV:
      return WSAEADDRNOTAVAIL;  // ENODEV: no interface to join a group on
    case ENETDOWN:
      return WSAENETDOWN;
    case ENETUNREACH:
      return WSAENETUNREACH;
    case ECONNRESET:
      return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
      return WSAENOBUFS;
    case ECONNREFUSED:
      return WSAECONNREFUSED;
    case EHOSTUNREACH:
      return WSAEHOSTUNREACH;
    default:
      return WSASYSCALLFAILURE;
  }
}

int Fail(int error) {
  t_lastError = error;
  return SOCKET_ERROR;
}
int FailErrno() { return Fail(ErrorFromErrno(errno)); }
bool FailBool(int error) {
  Fail(error);
  return false;
}
SOCKET FailSocket(int error) {
  Fail(error);
  return INVALID_SOCKET;
}

// Finds a socket for a call; false (with the error set) when the library is not started or
// the handle is not an open socket.
bool Find(SOCKET s, SocketInfo* info) {
  if (g_startups.load(std::memory_order_acquire) == 0) return FailBool(WSANOTINITIALISED);
  const Slot* slot = SlotOf(s);
  const std::uint32_t state = slot ? slot->state.load(std::memory_order_acquire) : 0;
  if ((state & Slot::kOpen) == 0) return FailBool(WSAENOTSOCK);
  info->fd = static_cast<int>(s / 4 - 1);
  info->multipoint = (state & Slot::kMultipoint) != 0;
  info->receiveBuffer = slot->receiveBuffer.load(std::memory_order_relaxed);
  info->sendBuffer = slot->sendBuffer.load(std::memory_order_relaxed);
  return true;
}

bool Started() { return g_startups.load(std::memory_order_acquire) > 0; }

SOCKET Create(int af, int type, int protocol, bool multipoint) {
  if (!Started()) return FailSocket(WSANOTINITIALISED);
  if (af != AF_INET) return FailSocket(WSAEAFNOSUPPORT);
  if (type != SOCK_DGRAM) return FailSocket(WSAESOCKTNOSUPPORT);
  if (protocol != 0 && protocol != IPPROTO_UDP) return FailSocket(WSAEPROTONOSUPPORT);
  const int fd = bsd::OpenUdp();
  if (fd < 0) return FailSocket(ErrorFromErrno(errno));
  Slot* slot = MakeSlot(fd);
  if (slot == nullptr) {
    bsd::Close(fd);
    return FailSocket(WSAEMFILE);
  }
  slot->receiveBuffer.store(-1, std::memory_order_relaxed);
  slot->sendBuffer.store(-1, std::memory_order_relaxed);
  slot->state.store(Slot::kOpen | (multipoint ? Slot::kMultipoint : 0), std::memory_order_release);
  return HandleOf(fd);
}

// The option of a level and name, or 0 with the error the platform gives for it.
int OptionOf(int level, int optname, bsd::Option* option) {
  if (level != SOL_SOCKET && level != IPPROTO_IP) return WSAEINVAL;
  if (level == SOL_SOCKET && optname == SO_REUSEADDR)
    *option = bsd::Option::kReuseAddr;
  else if (level == SOL_SOCKET && optname == SO_RCVBUF)
    *option = bsd::Option::kReceiveBuffer;
  else if (level == SOL_SOCKET && optname == SO_SNDBUF)
    *option = bsd::Option::kSendBuffer;
  else if (level == IPPROTO_IP && optname == IP_MULTICAST_TTL)
    *option = bsd::Option::kMulticastTtl;
  else
    return WSAENOPROTOOPT;
  return 0;
}

// Checks an IPv4 socket address given by the caller and takes its address and port.
bool ReadAddress(const sockaddr* name, int namelen, ULONG* address, USHORT* port) {
  if (!name || namelen < static_cast<int>(sizeof(sockaddr_in))) return FailBool(WSAEFAULT);
  sockaddr_in a;
  std::memcpy(&a, name, sizeof a);
  if (a.sin_family != AF_INET) return FailBool(WSAEAFNOSUPPORT);
  *address = a.sin_addr.s_addr;
  *port = a.sin_port;
  return true;
}

void WriteAddress(ULONG address, USHORT port, sockaddr* name, int* namelen) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = port;
  a.sin_addr.s_addr = address;
  std::memcpy(name, &a, sizeof a);
  *namelen = sizeof a;
}

}  // namespace

int detail::DescriptorOf(SOCKET s) {
  SocketInfo info;
  return Find(s, &info) ? info.fd : -1;
}

int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData) {
  std::lock_guard lock(g_lock);
  if (g_startupFailure != 0) return g_startupFailure;
  const int requested = LOBYTE(wVersionRequested) * 256 + HIBYTE(wVersionRequested);
  if (requested < 0x100) return WSAVERNOTSUPPORTED;
  if (!lpWSAData) return WSAEFAULT;
  *lpWSAData = WSADATA{};
  lpWSAData->wVersion = requested > 0x202 ? MAKEWORD(2, 2) : wVersionRequested;
  lpWSAData->wHighVersion = MAKEWORD(2, 2);
  if (requested < 0x200) {  // only 1.x callers read these limits
    lpWSAData->iMaxSockets = 32767;
    lpWSAData->iMaxUdpDg = 65467;
  }
  std::snprintf(lpWSAData->szDescription, sizeof lpWSAData->szDescription, "WinSock 2.0");
  std::snprintf(lpWSAData->szSystemStatus, sizeof lpWSAData->szSystemStatus, "Running");
  ++g_startups;
  return 0;
}

int WSACleanup() {
  std::lock_guard lock(g_lock);
  if (g_startups == 0) return Fail(WSANOTINITIALISED);
  --g_startups;
  return 0;
}

void SetWSAStartupFailureForTesting(int error) {
  std::lock_guard lock(g_lock);
  g_startupFailure = error;
}

int WSAGetLastError() { return t_lastError; }
void WSASetLastError(int error) { t_lastError = error; }

SOCKET socket(int af, int type, int protocol) { return Create(af, type, protocol, false); }

SOCKET WSASocketA(int af, int type, int protocol, LPWSAPROTOCOL_INFOA lpProtocolInfo, GROUP g,
                  DWORD dwFlags) {
  constexpr DWORD kLeaf = WSA_FLAG_MULTIPOINT_C_LEAF | WSA_FLAG_MULTIPOINT_D_LEAF;
  if (lpProtocolInfo || g != 0) return FailSocket(WSAEINVAL);
  // IP multicast has no root: a rooted control or data plane cannot be had.
  if (dwFlags & ~(WSA_FLAG_OVERLAPPED | kLeaf)) return FailSocket(WSAEINVAL);
  return Create(af, type, protocol, (dwFlags & kLeaf) != 0);
}

int closesocket(SOCKET s) {
  if (!Started()) return Fail(WSANOTINITIALISED);
  Slot* slot = SlotOf(s);
  // Of two threads closing one handle, one closes it; the other finds it gone.
  if (slot == nullptr || (slot->state.exchange(0, std::memory_order_acq_rel) & Slot::kOpen) == 0)
    return Fail(WSAENOTSOCK);
  // As on the platform, closing a socket ends what WSAAsyncSelect asked for it, before its
  // descriptor can be reused.
  detail::CancelAsyncSelectOnClose(s);
  return bsd::Close(static_cast<int>(s / 4 - 1)) == 0 ? 0 : FailErrno();
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
  SocketInfo info;
  if (!Find(s, &info)) return SOCKET_ERROR;
  bsd::Option option;
  if (const int error = OptionOf(level, optname, &option)) return Fail(error);
  if (!optval || optlen < static_cast<int>(sizeof(int))) return Fail(WSAEFAULT);
  int value;
  std::memcpy(&value, optval, sizeof value);
  if (option == bsd::Option::kReuseAddr) value = value != 0;
  if (bsd::SetOption(info.fd, option, value) != 0) return FailErrno();
  if (option == bsd::Option::kReceiveBuffer || option == bsd::Option::kSendBuffer) {
    Slot* slot = SlotOf(s);
    (option == bsd::Option::kReceiveBuffer ? slot->receiveBuffer : slot->sendBuffer)
        .store(value, std::memory_order_relaxed);
  }
  return 0;
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
  SocketInfo info;
  if (!Find(s, &info)) return SOCKET_ERROR;
  bsd::Option option;
  if (const int error = OptionOf(level, optname, &option)) return Fail(error);
  if (!optval || !optlen || *optlen < static_cast<int>(sizeof(int))) return Fail(WSAEFAULT);
  int value = 0;
  if (option == bsd::Option::kReceiveBuffer && info.receiveBuffer >= 0) {
    value = info.receiveBuffer;
  } else if (option == bsd::Option::kSendBuffer && info.sendBuffer >= 0) {
    value = info.sendBuffer;
  } else {
    if (bsd::GetOption(info.fd, option, &value) != 0) return FailErrno();
    if (option == bsd::Option::kReceiveBuffer || option == bsd::Option::kSendBuffer) value /= 2;
  }
  std::memcpy(optval, &value, sizeof value);
  *optlen = sizeof value;
  return 0;
}

int bind(SOCKET s, const sockaddr* name, int namelen) {
  SocketInfo info;
  if (!Find(s, &info)) return SOCKET_ERROR;
  ULONG address;
  USHORT port;
  if (!ReadAddress(name, namelen, &address, &port)) return SOCKET_ERROR;
  // Linux binds the limited broadcast address; the platform does not, and an unreadable IP
  // text (inet_addr gives INADDR_NONE) must fail here as it does there.
  if (address == INADDR_NONE) return Fail(WSAEADDRNOTAVAIL);
  return bsd::Bind(info.fd, address, port) == 0 ? 0 : FailErrno();
}

int getsockname(SOCKET s, sockaddr* name, int* namelen) {
  SocketInfo info;
  if (!Find(s, &info)) return SOCKET_ERROR;
  if (!name || !namelen || *namelen < static_cast<int>(sizeof(sockaddr_in))) return Fail(WSAEFAULT);
  std::uint32_t address;
  std::uint16_t port;
  if (bsd::GetName(info.fd, &address, &port) != 0) return FailErrno();
  if (address == 0 && port == 0) return Fail(WSAEINVAL);
  WriteAddress(address, port, name, namelen);
  return 0;
}

int ioctlsocket(SOCKET s, long cmd, unsigned long* argp) {
  SocketInfo info;
  if (!Find(s, &info)) return SOCKET_ERROR;
  if (cmd != FIONBIO) return Fail(WSAEINVAL);
  if (!argp) return Fail(WSAEFAULT);
  return bsd::SetNonBlocking(info.fd, *argp != 0) == 0 ? 0 : FailErrno();
}

int WSAIoctl(SOCKET s, DWORD dwIoControlCode, LPVOID lpvInBuffer, DWORD cbInBuffer, LPVOID /*lpvOutBuffer*/,
             DWORD /*cbOutBuffer*/, LPDWORD lpcbBytesReturned, LPWSAOVERLAPPED lpOverlapped,
             LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine) {
  SocketInfo info;
  if (!Find(s, &info)) return SOCKET_ERROR;
  if (lpOverlapped || lpCompletionRoutine) return Fail(WSAEOPNOTSUPP);
  if (dwIoControlCode != SIO_MULTICAST_SCOPE) return Fail(WSAEINVAL);
  if (!lpvInBuffer || cbInBuffer < sizeof(int)) return Fail(WSAEFAULT);
  int scope;
  std::memcpy(&scope, lpvInBuffer, sizeof scope);
  if (bsd::SetOption(info.fd, bsd::Option::kMulticastTtl, scope) != 0) return FailErrno();
  if (lpcbBytesReturned) *lpcbBytesReturned = 0;
  return 0;
}

SOCKET WSAJoinLeaf(SOCKET s, const sockaddr* name, int namelen, LPWSABUF lpCallerData, LPWSABUF lpCalleeData,
                   LPQOS lpSQOS, LPQOS lpGQOS, DWORD dwFlags) {
  SocketInfo info;
  if (!Find(s, &info)) return INVALID_SOCKET;
  if (lpCallerData || lpCalleeData || lpSQOS || lpGQOS) return FailSocket(WSAEOPNOTSUPP);
  ULONG group;
  USHORT port;
  if (!ReadAddress(name, namelen, &group, &port)) return INVALID_SOCKET;
  if (!info.multipoint) return FailSocket(WSAEINVAL);
  if (dwFlags != JL_SENDER_ONLY && dwFlags != JL_RECEIVER_ONLY && dwFlags != JL_BOTH)
    return FailSocket(WSAEINVAL);
  if (dwFlags != JL_SENDER_ONLY && bsd::JoinGroup(info.fd, group) != 0)
    return FailSocket(ErrorFromErrno(errno));
  return s;
}

void FdClr(SOCKET s, fd_set* set) {
  for (UINT i = 0; i < set->fd_count; ++i) {
    if (set->fd_array[i] != s) continue;
    std::memmove(&set->fd_array[i], &set->fd_array[i + 1], (set->fd_count - i - 1) * sizeof(SOCKET));
    --set->fd_count;
    return;
  }
}

void FdSet(SOCKET s, fd_set* set) {
  if (FdIsSet(s, set) || set->fd_count >= FD_SETSIZE) return;
  set->fd_array[set->fd_count++] = s;
}

int FdIsSet(SOCKET s, fd_set* set) {
  for (UINT i = 0; i < set->fd_count; ++i)
    if (set->fd_array[i] == s) return 1;
  return 0;
}

int select(int /*nfds*/, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const timeval* timeout) {
  fd_set* sets[3] = {readfds, writefds, exceptfds};
  std::size_t total = 0;
  for (fd_set* set : sets) {
    if (!set) continue;
    if (set->fd_count > FD_SETSIZE) return Fail(WSAEINVAL);
    total += set->fd_count;
  }
  bsd::PollEntry entries[3 * FD_SETSIZE];
  if (!Started()) return Fail(WSANOTINITIALISED);
  if (total == 0) return Fail(WSAEINVAL);
  std::size_t entered = 0;
  for (int k = 0; k < 3; ++k) {
    if (!sets[k]) continue;
    for (UINT i = 0; i < sets[k]->fd_count; ++i) {
      SocketInfo info;
      if (!Find(sets[k]->fd_array[i], &info)) return SOCKET_ERROR;
      entries[entered++] = bsd::PollEntry{info.fd, k == 0, k == 1, k == 2, false, false, false, false};
    }
  }
  int timeoutMs = -1;
  if (timeout) {
    if (timeout->tv_sec < 0 || timeout->tv_usec < 0) return Fail(WSAEINVAL);
    const long long ms = static_cast<long long>(timeout->tv_sec) * 1000 + (timeout->tv_usec + 999) / 1000;
    timeoutMs = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
  }
  if (bsd::Poll(entries, total, timeoutMs) < 0) return FailErrno();
  // Keep only the ready handles, in their order; count every one of them.
  int ready = 0;
  std::size_t n = 0;
  for (fd_set* set : sets) {
    if (!set) continue;
    UINT kept = 0;
    for (UINT i = 0; i < set->fd_count; ++i, ++n) {
      const bsd::PollEntry& e = entries[n];
      if (e.invalid) return Fail(WSAENOTSOCK);
      if (e.read || e.write || e.except) set->fd_array[kept++] = set->fd_array[i];
    }
    set->fd_count = kept;
    ready += static_cast<int>(kept);
  }
  return ready;
}

int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
  SocketInfo info;
  if (!Find(s, &info)) return SOCKET_ERROR;
  if (flags != 0) return Fail(WSAEOPNOTSUPP);
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  ULONG address;
  USHORT port;
  if (!ReadAddress(to, tolen, &address, &port)) return SOCKET_ERROR;
  if (address == INADDR_ANY || port == 0) return Fail(WSAEADDRNOTAVAIL);
  const long sent = bsd::SendTo(info.fd, buf, static_cast<std::size_t>(len), address, port);
  return sent < 0 ? FailErrno() : static_cast<int>(sent);
}

int WSASendToEach(SOCKET s, const char* buf, int len, const sockaddr_in* to, int count) {
  SocketInfo info;
  if (!Find(s, &info)) return SOCKET_ERROR;
  if (len < 0 || (!buf && len > 0) || count < 0 || (!to && count > 0)) return Fail(WSAEFAULT);
  std::uint32_t addresses[bsd::kMaxSendEach];
  std::uint16_t ports[bsd::kMaxSendEach];
  int sent = 0, error = 0;
  for (int next = 0; next < count;) {
    // A batch of destinations sendto would take; one it refuses is skipped with its error.
    std::size_t batch = 0;
    for (; next < count && batch < bsd::kMaxSendEach; ++next) {
      if (to[next].sin_family != AF_INET) {
        error = WSAEAFNOSUPPORT;
        continue;
      }
      if (to[next].sin_addr.s_addr == INADDR_ANY || to[next].sin_port == 0) {
        error = WSAEADDRNOTAVAIL;
        continue;
      }
      addresses[batch] = to[next].sin_addr.s_addr;
      ports[batch++] = to[next].sin_port;
    }
    for (std::size_t done = 0; done < batch;) {
      const int n = bsd::SendToEach(info.fd, buf, static_cast<std::size_t>(len), addresses + done, ports + done,
                                    batch - done);
      if (n <= 0) {
        // The first of the rest failed: it is skipped, as its own sendto would have failed.
        error = n < 0 ? ErrorFromErrno(errno) : WSASYSCALLFAILURE;
        ++done;
        continue;
      }
      sent += n;
      done += static_cast<std::size_t>(n);
    }
  }
  if (sent == 0 && error != 0) return Fail(error);
  return sent;
}

int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
  SocketInfo info;
  if (!Find(s, &info)) return SOCKET_ERROR;
  if (flags != 0) return Fail(WSAEOPNOTSUPP);
  if (len < 0 || (!buf && len > 0)) return Fail(WSAEFAULT);
  if (from && (!fromlen || *fromlen < static_cast<int>(sizeof(sockaddr_in)))) return Fail(WSAEFAULT);
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  const long n = bsd::RecvFrom(info.fd, buf, static_cast<std::size_t>(len), &address, &port);
  if (n < 0) return FailErrno();
  if (from) WriteAddress(address, port, from, fromlen);
  if (n > len) return Fail(WSAEMSGSIZE);
  return static_cast<int>(n);
}

ULONG inet_addr(const char* cp) {
  std::uint32_t address;
  if (!cp || !bsd::ParseAddress(cp, &address)) return INADDR_NONE;
  return address;
}

char* inet_ntoa(in_addr in) {
  thread_local char text[16];
  unsigned char b[4];
  std::memcpy(b, &in.s_addr, sizeof b);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

}  // namespace winsock
