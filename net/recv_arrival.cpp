// Reading on arrival: between two ticks the receive socket is drained as soon as a datagram waits,
// so that a frame is forwarded and shown when it comes rather than on the next tick. The tick
// keeps everything else (keep-alives, announcements, key-frame requests) and drains too.
#include "control/quelvora_ctrl.h"
#include "net/receive_tick.h"
#include "net/udp_socket.h"
#include "platform/winsock/async_select.h"

using namespace winsock;

void CQuelvoraCtrl::StartReadingOnArrival() {
  // Without it (no window, say) the tick alone reads, and asks again on each tick.
  m_bArrivalPaused =
      IsNoSocket(m_sockRecv) || WSAAsyncSelect(m_sockRecv, GetSafeHwnd(), kRecvSocketMessage, FD_READ) != 0;
}

void CQuelvoraCtrl::StopReadingOnArrival() {
  // A shared socket stays open for its other holders: only this window's request ends.
  if (!IsNoSocket(m_sockRecv)) WSAAsyncSelect(m_sockRecv, GetSafeHwnd(), 0, 0);
}

void CQuelvoraCtrl::OnRecvSocketReadable() {
  if (!m_bReceiving) return;
  // A flood that spends the budget, or a drain already running under a message box, would have
  // the socket call again at once: the next tick reads on and asks again.
  if (DrainReceiveSockets() != DrainEnd::kEmpty) {
    StopReadingOnArrival();
    m_bArrivalPaused = TRUE;
  }
}

LRESULT CQuelvoraCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != kRecvSocketMessage || static_cast<SOCKET>(wParam) != m_sockRecv ||
      WSAGETSELECTEVENT(lParam) != FD_READ)
    return COleControl::WindowProc(message, wParam, lParam);
  // A script may give up the control from a box shown inside: it goes when this call is done.
  CallScope scope(*this);
  OnRecvSocketReadable();
  return 0;
}
