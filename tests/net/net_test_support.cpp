#include "tests/net/net_test_support.h"

#include <sched.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

using namespace winsock;

USHORT BoundPort(SOCKET s) {
  sockaddr_in a{};
  int length = sizeof a;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) != 0) return 0;
  return ntohs(a.sin_port);
}

ULONG BoundAddress(SOCKET s) {
  sockaddr_in a{};
  int length = sizeof a;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) != 0) return INADDR_NONE;
  return a.sin_addr.s_addr;
}

bool ReceiveOne(SOCKET s, Received* out, int timeoutMs) {
  FD_SET readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  const timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  if (select(0, &readable, nullptr, nullptr, &wait) != 1) return false;
  std::vector<char> buffer(100000);
  int length = sizeof out->from;
  const int n = recvfrom(s, buffer.data(), static_cast<int>(buffer.size()), 0,
                         reinterpret_cast<sockaddr*>(&out->from), &length);
  if (n < 0) return false;
  out->bytes.assign(buffer.begin(), buffer.begin() + n);
  return true;
}

std::vector<Received> ReceiveAll(SOCKET s, int quietMs) {
  std::vector<Received> all;
  Received r;
  while (ReceiveOne(s, &r, quietMs)) all.push_back(r);
  return all;
}

SOCKET LoopbackSocket() {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  if (s == INVALID_SOCKET || bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    ADD_FAILURE() << "loopback socket: error " << WSAGetLastError();
    return INVALID_SOCKET;
  }
  return s;
}

USHORT FreePort() {
  const SOCKET s = LoopbackSocket();
  const USHORT port = BoundPort(s);
  closesocket(s);
  return port;
}

int SendBytes(SOCKET s, const std::vector<std::uint8_t>& bytes, ULONG addressNet, USHORT port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = addressNet;
  return sendto(s, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

int OpenDescriptorCount() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

std::string RunInPrivateNetwork(const std::function<void()>& body) {
  std::string failure;
  std::thread worker([&] {
    // Namespaces belong to the thread: only this thread (and what it starts) moves.
    if (unshare(CLONE_NEWNET) != 0) {
      failure = std::string("cannot make a network namespace: ") + std::strerror(errno);
      return;
    }
    if (std::system("ip link set lo up && ip route add 239.0.0.0/8 dev lo src 127.0.0.1") != 0) {
      failure = "cannot bring up loopback or route 239.0.0.0/8 in the private namespace";
      return;
    }
    body();
  });
  worker.join();
  return failure;
}

std::string Dotted(ULONG addressNet) { return inet_ntoa(in_addr{addressNet}); }
