// Heap allocations of the receive path in steady state: none per datagram and none per frame.
// This program replaces the C library's allocation calls (operator new comes through them too)
// with ones that count the calls this thread makes while counting is on.
#include <gtest/gtest.h>
#include <malloc.h>

#include <QCoreApplication>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <string>
#include <thread>

#include "control/quelvora_ctrl.h"
#include "net/receive_tick.h"
#include "tests/support/test_stream.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QV_COUNTING_ALLOCATOR 0
#else
#define QV_COUNTING_ALLOCATOR 1
#endif

namespace {
thread_local bool t_bCounting = false;
thread_local long t_nAllocations = 0;
void Count() {
  if (t_bCounting) ++t_nAllocations;
}
}  // namespace

#if QV_COUNTING_ALLOCATOR
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);

void* malloc(std::size_t size) {
  Count();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  Count();
  return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
  Count();
  return __libc_realloc(p, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** p, std::size_t alignment, std::size_t size) {
  Count();
  *p = __libc_memalign(alignment, size);
  return *p != nullptr ? 0 : ENOMEM;
}
}
#endif

namespace {

using namespace winsock;
using test_stream::Bytes;

SOCKET Loopback() {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  unsigned long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  return s;
}

USHORT PortOf(SOCKET s) {
  sockaddr_in a{};
  int length = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  return ntohs(a.sin_port);
}

void Empty(SOCKET s) {
  char buffer[2048];
  while (recvfrom(s, buffer, sizeof buffer, 0, nullptr, nullptr) > 0) {
  }
}

// One control that records and forwards to two sinks the stream of one sender, which is client 1;
// each frame's datagrams are made before anything is counted.
class SteadyReceive : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!QV_COUNTING_ALLOCATOR) GTEST_SKIP() << "the sanitizers own the allocator";
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    m_sender = Loopback();
    m_sinkA = Loopback();
    m_sinkB = Loopback();
    const char* tmp = std::getenv("QV_TEST_TMP");
    m_path = std::string(tmp != nullptr ? tmp : "/tmp") + "/steady_receive.avi";
    std::remove(m_path.c_str());

    ASSERT_TRUE(m_ctrl.CreateControlWindow(nullptr, RECT{0, 0, 352, 288}));
    m_ctrl.Widget()->show();
    const SOCKET probe = Loopback();
    m_port = PortOf(probe);
    closesocket(probe);
    m_ctrl.m_endpoints.recvLocal.Store("127.0.0.1", m_port);
    ASSERT_EQ(m_ctrl.AddClient("127.0.0.1", static_cast<short>(PortOf(m_sender)), m_path.c_str(), "peer"), 1);
    ASSERT_EQ(m_ctrl.AddClient("127.0.0.1", static_cast<short>(PortOf(m_sinkA)), nullptr, nullptr), 2);
    ASSERT_EQ(m_ctrl.AddClient("127.0.0.1", static_cast<short>(PortOf(m_sinkB)), nullptr, nullptr), 3);
    ASSERT_TRUE(m_ctrl.Forward(1, 2));
    ASSERT_TRUE(m_ctrl.Forward(1, 3));
    ASSERT_TRUE(m_ctrl.RecvVideo());
    // The test drains; neither the timer nor an arrival does it behind its back.
    m_ctrl.KillTimer(kRecvTimerID);
    m_ctrl.StopReadingOnArrival();

    // Three seconds of a call, key frame every 30, sequence numbers running on.
    const auto stream = test_stream::EncodeStream(352, 288, 60, 1000000, 30);
    ASSERT_EQ(stream.size(), 60u);
    for (std::uint16_t sequence = 1; sequence <= kFrames; ++sequence)
      m_frames.push_back(test_stream::Datagrams(stream[(sequence - 1) % stream.size()], sequence));
  }
  void TearDown() override {
    if (!QV_COUNTING_ALLOCATOR) return;
    m_ctrl.StopRecv();
    m_ctrl.RemoveClientAll();
    for (SOCKET s : {m_sender, m_sinkA, m_sinkB}) closesocket(s);
    WSACleanup();
    std::remove(m_path.c_str());
  }

  static constexpr std::uint16_t kFrames = 90;
  static constexpr std::size_t kWarmUp = 30;

  // Sends frame `index` at a camera's pace (the recording takes no more) and drains it; returns
  // the allocations the drain made.
  long Receive(std::size_t index) {
    std::this_thread::sleep_for(std::chrono::milliseconds(34));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(m_port);
    to.sin_addr.s_addr = inet_addr("127.0.0.1");
    for (const Bytes& d : m_frames[index])
      sendto(m_sender, reinterpret_cast<const char*>(d.data()), static_cast<int>(d.size()), 0,
             reinterpret_cast<const sockaddr*>(&to), sizeof to);
    t_nAllocations = 0;
    t_bCounting = true;
    m_ctrl.DrainReceiveSockets();
    t_bCounting = false;
    Empty(m_sinkA);
    Empty(m_sinkB);
    return t_nAllocations;
  }

  CQuelvoraCtrl m_ctrl;
  SOCKET m_sender = INVALID_SOCKET, m_sinkA = INVALID_SOCKET, m_sinkB = INVALID_SOCKET;
  USHORT m_port = 0;
  std::string m_path;
  std::vector<std::vector<Bytes>> m_frames;
};

// Every frame forwarded twice, decoded for the recording and written (within the file's first
// minute: its index grows by doubling after that). The display's drawing is left out: drawing
// into the window builds a painter for each picture.
TEST_F(SteadyReceive, ForwardingAndRecordingAllocateNothingPerFrame) {
  // The first second warms up: decoders, the client's request state, the file's first index.
  for (std::size_t i = 0; i < kWarmUp; ++i) Receive(i);
  const std::uint64_t shown = m_ctrl.m_nFramesShown, recorded = m_ctrl.m_nFramesRecorded;
  long total = 0;
  std::size_t first = 0;
  for (std::size_t i = kWarmUp; i < m_frames.size(); ++i) {
    const long n = Receive(i);
    if (n > 0 && total == 0) first = i;
    total += n;
  }
  EXPECT_EQ(total, 0) << "the first in frame " << first;
  // The path ran in full: every frame recorded (and none shown).
  EXPECT_EQ(m_ctrl.m_nFramesShown, shown);
  EXPECT_EQ(m_ctrl.m_nFramesRecorded - recorded, m_frames.size() - kWarmUp);
}

}  // namespace
