// Windows Sockets over BSD sockets: the calls the control makes for its UDP transport.
//
// Everything lives in namespace winsock, because glibc declares functions of the same names
// (socket, bind, select, sendto, htons ...). Control code says `using namespace winsock;` and
// then reads like the platform's calls. A translation unit must not include this header
// together with the BSD socket headers (<sys/socket.h>, <netinet/in.h>, <arpa/inet.h>): the
// protocol constants below are macros with this platform's values, as the platform defines
// them, so mixing the two is a compile error rather than a silent change of option numbers.
//
// A SOCKET is an opaque handle that maps to a file descriptor; it is never 0 and never
// INVALID_SOCKET. Errors set a per-thread code read with WSAGetLastError (WSAE* values, mapped
// from errno). Every socket call fails with WSANOTINITIALISED until WSAStartup has succeeded,
// and after the WSACleanup that balances the last WSAStartup; the address, byte-order and set
// helpers work at any time.
#pragma once

#if defined(SOL_SOCKET) || defined(INADDR_ANY) || defined(IPPROTO_UDP)
#error "platform/winsock/winsock.h cannot be mixed with the BSD socket headers"
#endif

// glibc's <sys/select.h> (pulled in by <cstdlib> and most C++ headers) defines FD_SETSIZE and
// the FD_* macros for its own bit-mask fd_set. Include it first so that its include guard
// keeps it from coming back, then replace the macros with the platform's.
#include <sys/select.h>

#include <bit>
#include <cstdint>

#include "platform/kernel/windef.h"

#undef FD_SETSIZE
#undef FD_SET
#undef FD_CLR
#undef FD_ZERO
#undef FD_ISSET

// Constants that the BSD headers also define as macros keep the platform's values and the
// platform's macro form.
#define AF_INET 2
#define SOCK_DGRAM 2
#define IPPROTO_IP 0
#define IPPROTO_UDP 17
#define SOL_SOCKET 0xffff
#define SO_REUSEADDR 0x0004
#define SO_SNDBUF 0x1001
#define SO_RCVBUF 0x1002
#define IP_MULTICAST_TTL 10
#define INADDR_ANY 0x00000000u
#define INADDR_NONE 0xffffffffu
#define FIONBIO 0x8004667EL
#define FD_SETSIZE 64

namespace winsock {

using SOCKET = std::uintptr_t;
constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
constexpr int SOCKET_ERROR = -1;
using GROUP = unsigned int;

// Error codes (WSAGetLastError).
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSASYSCALLFAILURE = 10107;

// WSASocketA flags.
constexpr DWORD WSA_FLAG_OVERLAPPED = 0x01;
constexpr DWORD WSA_FLAG_MULTIPOINT_C_ROOT = 0x02;
constexpr DWORD WSA_FLAG_MULTIPOINT_C_LEAF = 0x04;
constexpr DWORD WSA_FLAG_MULTIPOINT_D_ROOT = 0x08;
constexpr DWORD WSA_FLAG_MULTIPOINT_D_LEAF = 0x10;

// WSAJoinLeaf flags.
constexpr DWORD JL_SENDER_ONLY = 0x01;
constexpr DWORD JL_RECEIVER_ONLY = 0x02;
constexpr DWORD JL_BOTH = 0x04;

// WSAIoctl codes: _WSAIOW(IOC_WS2, 10).
constexpr DWORD SIO_MULTICAST_SCOPE = 0x8800000Au;

struct in_addr {
  ULONG s_addr;  // network byte order
};

struct sockaddr {
  USHORT sa_family;
  char sa_data[14];
};

struct sockaddr_in {
  SHORT sin_family;
  USHORT sin_port;  // network byte order
  in_addr sin_addr;
  char sin_zero[8];
};
static_assert(sizeof(sockaddr_in) == 16);

// The platform's fd_set: a count and an array of handles, so that any SOCKET value fits.
// With `using namespace winsock;` the name fd_set is ambiguous with glibc's; write FD_SET (the
// platform's other name for the type) or winsock::fd_set.
struct fd_set {
  UINT fd_count;
  SOCKET fd_array[FD_SETSIZE];
};
using FD_SET = fd_set;

// The platform's timeval has the same two fields as glibc's; share the type so the name stays
// unambiguous.
using ::timeval;

constexpr int WSADESCRIPTION_LEN = 256;
constexpr int WSASYS_STATUS_LEN = 128;

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
  USHORT iMaxSockets;
  USHORT iMaxUdpDg;
  char* lpVendorInfo;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
};
using LPWSADATA = WSADATA*;

// Only the null forms of these are supported; the types exist so that calls keep their shape.
struct WSAPROTOCOL_INFOA;
using LPWSAPROTOCOL_INFOA = WSAPROTOCOL_INFOA*;
struct WSABUF;
using LPWSABUF = WSABUF*;
struct QOS;
using LPQOS = QOS*;
struct WSAOVERLAPPED;
using LPWSAOVERLAPPED = WSAOVERLAPPED*;
using LPWSAOVERLAPPED_COMPLETION_ROUTINE = void (*)(DWORD, DWORD, LPWSAOVERLAPPED, DWORD);

constexpr WORD MAKEWORD(BYTE low, BYTE high) { return static_cast<WORD>(low | (high << 8)); }
constexpr BYTE LOBYTE(WORD w) { return static_cast<BYTE>(w & 0xFF); }
constexpr BYTE HIBYTE(WORD w) { return static_cast<BYTE>(w >> 8); }

// Start-up and clean-up. WSAStartup accepts versions 1.0 to 2.2 (a higher request is served
// with 2.2) and counts its callers; WSACleanup undoes one successful WSAStartup.
int WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WSACleanup();

// Tests: make every following WSAStartup fail with this code (0 restores success).
void SetWSAStartupFailureForTesting(int error);

int WSAGetLastError();
void WSASetLastError(int error);

// UDP over IPv4 only: AF_INET with SOCK_DGRAM and protocol 0 or IPPROTO_UDP.
SOCKET socket(int af, int type, int protocol);
// As socket(), plus the flags: WSA_FLAG_OVERLAPPED is accepted (it adds nothing here) and the
// multipoint leaf flags make the socket one that WSAJoinLeaf may join to a group. The root
// flags, protocol info and groups are not supported (WSAEINVAL / WSAEOPNOTSUPP).
SOCKET WSASocketA(int af, int type, int protocol, LPWSAPROTOCOL_INFOA lpProtocolInfo, GROUP g, DWORD dwFlags);
int closesocket(SOCKET s);

// SOL_SOCKET: SO_REUSEADDR, SO_RCVBUF, SO_SNDBUF; IPPROTO_IP: IP_MULTICAST_TTL. 4-byte values.
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);

// The limited broadcast address 255.255.255.255 is refused (WSAEADDRNOTAVAIL), as on the platform.
int bind(SOCKET s, const sockaddr* name, int namelen);
// An unbound socket gives WSAEINVAL, as on the platform.
int getsockname(SOCKET s, sockaddr* name, int* namelen);

// FIONBIO only: *argp != 0 makes the socket non-blocking.
int ioctlsocket(SOCKET s, long cmd, unsigned long* argp);

// SIO_MULTICAST_SCOPE only: a 4-byte input value becomes the multicast time to live.
// Overlapped calls are not supported; lpcbBytesReturned may be null.
int WSAIoctl(SOCKET s, DWORD dwIoControlCode, LPVOID lpvInBuffer, DWORD cbInBuffer, LPVOID lpvOutBuffer,
             DWORD cbOutBuffer, LPDWORD lpcbBytesReturned, LPWSAOVERLAPPED lpOverlapped,
             LPWSAOVERLAPPED_COMPLETION_ROUTINE lpCompletionRoutine);

// Joins the IPv4 group of `name` on the interface the system chooses (JL_RECEIVER_ONLY and
// JL_BOTH; JL_SENDER_ONLY joins nothing). IP multicast has no rooted control plane, so the
// handle returned is `s` itself. `s` must have been made by WSASocketA with a multipoint leaf
// flag; caller data and QOS must be null.
SOCKET WSAJoinLeaf(SOCKET s, const sockaddr* name, int namelen, LPWSABUF lpCallerData, LPWSABUF lpCalleeData,
                   LPQOS lpSQOS, LPQOS lpGQOS, DWORD dwFlags);

// nfds is ignored. The sets are rewritten to hold only the ready handles; the result is their
// total count, 0 on timeout. No handle in any set: WSAEINVAL. A null timeout waits forever.
int select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const timeval* timeout);

// Flags must be 0. A destination of INADDR_ANY or port 0 is refused (WSAEADDRNOTAVAIL), as on
// the platform.
int sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen);
// A datagram longer than len fills buf, is discarded, and gives WSAEMSGSIZE.
int recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen);

// Dotted text (a.b.c.d, a.b.c, a.b or a; parts decimal, octal or hex) to an address in network
// byte order; INADDR_NONE for a null, empty or unreadable text.
ULONG inet_addr(const char* cp);
// The dotted text of an address, in a per-thread buffer that the next call overwrites.
char* inet_ntoa(in_addr in);

constexpr USHORT htons(USHORT v) {
  if constexpr (std::endian::native == std::endian::big) return v;
  return static_cast<USHORT>((v << 8) | (v >> 8));
}
constexpr ULONG htonl(ULONG v) {
  if constexpr (std::endian::native == std::endian::big) return v;
  return (v << 24) | ((v & 0xFF00u) << 8) | ((v >> 8) & 0xFF00u) | (v >> 24);
}
constexpr USHORT ntohs(USHORT v) { return htons(v); }
constexpr ULONG ntohl(ULONG v) { return htonl(v); }

// The platform's set macros, over the count-and-array fd_set. FD_SET ignores a handle already
// present and one that does not fit, as the platform does.
void FdClr(SOCKET s, fd_set* set);
void FdSet(SOCKET s, fd_set* set);
int FdIsSet(SOCKET s, fd_set* set);

}  // namespace winsock

#define FD_ZERO(set) ((set)->fd_count = 0)
#define FD_CLR(s, set) ::winsock::FdClr((s), (set))
#define FD_SET(s, set) ::winsock::FdSet((s), (set))
#define FD_ISSET(s, set) ::winsock::FdIsSet((s), (set))
