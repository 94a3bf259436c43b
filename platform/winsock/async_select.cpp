#include "platform/winsock/async_select.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/winsock/async_select_hooks.h"

namespace winsock {
namespace {

struct Request {
  HWND hWnd;
  UINT wMsg;
};

// One notifier per socket, however many windows asked about it.
struct Watch {
  SOCKET s = INVALID_SOCKET;
  std::unique_ptr<QSocketNotifier> notifier;
  std::vector<Request> requests;
  bool bSending = false;    // its messages are being sent
  bool bCancelled = false;  // given up while they were: deleted once they are done
};

// The table changes on the UI thread only; the lock lets closesocket on another thread look.
std::mutex g_lock;
std::vector<Watch*> g_watches;
std::atomic<int> g_nWatches{0};

Watch* Lookup(SOCKET s) {
  std::lock_guard lock(g_lock);
  const auto it = std::find_if(g_watches.begin(), g_watches.end(), [s](const Watch* w) { return w->s == s; });
  return it == g_watches.end() ? nullptr : *it;
}

void Remove(Watch* w) {
  {
    std::lock_guard lock(g_lock);
    std::erase(g_watches, w);
    g_nWatches = static_cast<int>(g_watches.size());
  }
  // Never polled again: its descriptor may be closed and reused next.
  w->notifier->setEnabled(false);
  if (w->bSending) {
    w->bCancelled = true;
    return;
  }
  delete w;
}

void Dispatch(Watch* w) {
  // A handler that runs a nested event loop must not be sent a second message meanwhile.
  w->notifier->setEnabled(false);
  w->bSending = true;
  for (std::size_t i = 0; i < w->requests.size() && !w->bCancelled;) {
    const Request request = w->requests[i];
    if (!IsWindow(request.hWnd)) {
      // Nobody would read the socket, and the notifier would fire for ever.
      w->requests.erase(w->requests.begin() + static_cast<std::ptrdiff_t>(i));
      continue;
    }
    SendMessage(request.hWnd, request.wMsg, w->s, WSAMAKESELECTREPLY(static_cast<WORD>(FD_READ), 0));
    ++i;
  }
  if (!w->bCancelled && w->requests.empty()) Remove(w);
  w->bSending = false;
  if (w->bCancelled) {
    // This runs inside the notifier's own signal: it goes once the signal is done.
    w->notifier.release()->deleteLater();
    delete w;
    return;
  }
  w->notifier->setEnabled(true);
}

int Fail(int error) {
  WSASetLastError(error);
  return SOCKET_ERROR;
}

}  // namespace

int WSAAsyncSelect(SOCKET s, HWND hWnd, UINT wMsg, long lEvent) {
  const int fd = detail::DescriptorOf(s);
  if (fd < 0) return SOCKET_ERROR;
  if ((lEvent & ~FD_READ) != 0) return Fail(WSAEINVAL);
  Watch* w = Lookup(s);
  if (lEvent == 0) {
    if (w != nullptr) {
      std::erase_if(w->requests, [hWnd](const Request& r) { return r.hWnd == hWnd; });
      if (w->requests.empty()) Remove(w);
    }
    return 0;
  }
  if (wMsg == 0 || !IsWindow(hWnd)) return Fail(WSAEINVAL);
  if (QCoreApplication::instance() == nullptr) return Fail(WSASYSNOTREADY);
  unsigned long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) return SOCKET_ERROR;
  if (w == nullptr) {
    w = new Watch;
    w->s = s;
    w->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(w->notifier.get(), &QSocketNotifier::activated, w->notifier.get(), [w] { Dispatch(w); });
    std::lock_guard lock(g_lock);
    g_watches.push_back(w);
    g_nWatches = static_cast<int>(g_watches.size());
  }
  const auto it =
      std::find_if(w->requests.begin(), w->requests.end(), [hWnd](const Request& r) { return r.hWnd == hWnd; });
  if (it != w->requests.end()) {
    it->wMsg = wMsg;
  } else {
    w->requests.push_back(Request{hWnd, wMsg});
  }
  return 0;
}

void detail::CancelAsyncSelectOnClose(SOCKET s) {
  if (g_nWatches.load() == 0) return;
  if (Watch* w = Lookup(s)) Remove(w);
}

}  // namespace winsock
