#include "platform/winsock/async_select.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

namespace {

using namespace winsock;

constexpr UINT kReadable = WM_USER + 7;

// Runs the event loop for `ms` milliseconds.
void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// A window that counts the socket messages it is sent and reads one datagram for each (unless
// told not to), with a hook that runs inside the handler.
class SocketWindow : public CWnd {
 public:
  SocketWindow() { CreateEx(0, 0, 0, 10, 10, nullptr); }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message != kReadable) return CWnd::WindowProc(message, wParam, lParam);
    ++messages;
    lastSocket = static_cast<SOCKET>(wParam);
    lastEvent = WSAGETSELECTEVENT(lParam);
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    if (bRead) {
      char buffer[64];
      if (recvfrom(lastSocket, buffer, sizeof buffer, 0, nullptr, nullptr) > 0) ++reads;
    }
    if (inside) inside();
    --depth;
    return 0;
  }
  int messages = 0, reads = 0, depth = 0, maxDepth = 0;
  SOCKET lastSocket = INVALID_SOCKET;
  WORD lastEvent = 0;
  bool bRead = true;
  std::function<void()> inside;
};

class AsyncSelectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &m_data), 0);
    m_receiver = Bound();
    m_sender = Bound();
  }
  void TearDown() override {
    if (m_receiver != INVALID_SOCKET) closesocket(m_receiver);
    closesocket(m_sender);
    WSACleanup();
  }
  static SOCKET Bound() {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    return s;
  }
  void Send(int count = 1) {
    sockaddr_in to{};
    int length = sizeof to;
    ASSERT_EQ(getsockname(m_receiver, reinterpret_cast<sockaddr*>(&to), &length), 0);
    for (int i = 0; i < count; ++i)
      ASSERT_EQ(sendto(m_sender, "x", 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 1);
  }
  static bool PumpUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 3000) Pump(5);
    return done();
  }

  WSADATA m_data{};
  SOCKET m_receiver = INVALID_SOCKET;
  SOCKET m_sender = INVALID_SOCKET;
};

TEST_F(AsyncSelectTest, SendsTheMessageWhileDataWaitsAndStopsWhenCancelled) {
  SocketWindow window;
  ASSERT_EQ(WSAAsyncSelect(m_receiver, window.GetSafeHwnd(), kReadable, FD_READ), 0);
  Pump(30);
  EXPECT_EQ(window.messages, 0) << "nothing waits yet";

  Send(3);
  ASSERT_TRUE(PumpUntil([&] { return window.reads == 3; }));
  EXPECT_EQ(window.lastSocket, m_receiver);
  EXPECT_EQ(window.lastEvent, FD_READ);
  Pump(30);
  EXPECT_EQ(window.messages, 3) << "no message once the socket is empty";

  ASSERT_EQ(WSAAsyncSelect(m_receiver, window.GetSafeHwnd(), 0, 0), 0);
  Send();
  Pump(50);
  EXPECT_EQ(window.messages, 3);
  // The socket was made non-blocking, so the datagram left behind is read without waiting.
  char buffer[8];
  EXPECT_EQ(recvfrom(m_receiver, buffer, sizeof buffer, 0, nullptr, nullptr), 1);
  EXPECT_EQ(recvfrom(m_receiver, buffer, sizeof buffer, 0, nullptr, nullptr), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST_F(AsyncSelectTest, ClosingTheSocketEndsTheRequestEvenInsideTheHandler) {
  SocketWindow window;
  window.bRead = false;
  window.inside = [&] {
    closesocket(m_receiver);
    m_receiver = INVALID_SOCKET;
  };
  ASSERT_EQ(WSAAsyncSelect(m_receiver, window.GetSafeHwnd(), kReadable, FD_READ), 0);
  Send();
  ASSERT_TRUE(PumpUntil([&] { return window.messages == 1; }));
  // A socket made next may take the closed one's descriptor: it must not be reported for it.
  m_receiver = Bound();
  Send();
  Pump(50);
  EXPECT_EQ(window.messages, 1);
}

TEST_F(AsyncSelectTest, EachWindowOfASharedSocketIsToldUntilItCancels) {
  SocketWindow first, second;
  first.bRead = second.bRead = false;
  ASSERT_EQ(WSAAsyncSelect(m_receiver, first.GetSafeHwnd(), kReadable, FD_READ), 0);
  ASSERT_EQ(WSAAsyncSelect(m_receiver, second.GetSafeHwnd(), kReadable, FD_READ), 0);
  // The second window reads: both are told of the one datagram before it is read.
  second.bRead = true;
  Send();
  ASSERT_TRUE(PumpUntil([&] { return second.reads == 1; }));
  EXPECT_EQ(first.messages, 1);

  ASSERT_EQ(WSAAsyncSelect(m_receiver, second.GetSafeHwnd(), 0, 0), 0);
  first.bRead = true;
  Send();
  ASSERT_TRUE(PumpUntil([&] { return first.reads == 1; }));
  EXPECT_EQ(second.messages, 1);
}

TEST_F(AsyncSelectTest, AHandlerRunningANestedLoopIsNotSentASecondMessage) {
  SocketWindow window;
  window.bRead = false;
  window.inside = [&] {
    if (window.messages == 1) Pump(50);  // a message box, say, with the datagram still queued
    char buffer[8];
    recvfrom(m_receiver, buffer, sizeof buffer, 0, nullptr, nullptr);
  };
  ASSERT_EQ(WSAAsyncSelect(m_receiver, window.GetSafeHwnd(), kReadable, FD_READ), 0);
  Send();
  ASSERT_TRUE(PumpUntil([&] { return window.messages == 1 && window.depth == 0; }));
  EXPECT_EQ(window.maxDepth, 1);
}

TEST_F(AsyncSelectTest, AWindowThatIsGoneLosesItsRequest) {
  auto window = std::make_unique<SocketWindow>();
  ASSERT_EQ(WSAAsyncSelect(m_receiver, window->GetSafeHwnd(), kReadable, FD_READ), 0);
  window.reset();
  Send();
  Pump(50);
  // Another window asking later is told of the datagram still waiting.
  SocketWindow other;
  ASSERT_EQ(WSAAsyncSelect(m_receiver, other.GetSafeHwnd(), kReadable, FD_READ), 0);
  ASSERT_TRUE(PumpUntil([&] { return other.reads == 1; }));
}

TEST_F(AsyncSelectTest, RefusesWhatItCannotDo) {
  SocketWindow window;
  EXPECT_EQ(WSAAsyncSelect(m_receiver, window.GetSafeHwnd(), kReadable, 0x02), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(WSAAsyncSelect(m_receiver, window.GetSafeHwnd(), 0, FD_READ), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(WSAAsyncSelect(m_receiver, nullptr, kReadable, FD_READ), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  EXPECT_EQ(WSAAsyncSelect(SOCKET{12345}, window.GetSafeHwnd(), kReadable, FD_READ), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

}  // namespace
