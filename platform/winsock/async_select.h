// WSAAsyncSelect: a window is sent a message when one of its sockets can be read, so that data is
// read as it arrives rather than on the window's next timer. Built on QSocketNotifier; UI thread
// only.
#pragma once

#include "platform/ui/wnd.h"
#include "platform/winsock/winsock.h"

namespace winsock {

// Network events (only FD_READ is offered).
constexpr long FD_READ = 0x01;

inline LPARAM WSAMAKESELECTREPLY(WORD event, WORD error) { return MAKELPARAM(event, error); }
inline WORD WSAGETSELECTEVENT(LPARAM lParam) { return LOWORD(static_cast<std::uintptr_t>(lParam)); }
inline WORD WSAGETSELECTERROR(LPARAM lParam) { return HIWORD(static_cast<std::uintptr_t>(lParam)); }

// With lEvent FD_READ: while the socket has data (or a pending error), hWnd is sent wMsg with
// wParam the socket and lParam WSAMAKESELECTREPLY(FD_READ, 0); the socket becomes non-blocking.
// lEvent 0 cancels what hWnd asked for the socket. Closing the socket cancels every request for
// it.
//
// The message is sent again after the window's handler returns for as long as data is left, but
// never while that handler runs (a message box inside it cannot bring a second one). Where the
// platform keeps one request per socket, here each window keeps its own, so that controls sharing
// one socket are all told. A window that is gone loses its request.
//
// Errors: WSAEINVAL for another event, a null message with FD_READ, or a handle that is not a
// window; WSASYSNOTREADY without a Qt application; the errors of a socket call for the socket.
int WSAAsyncSelect(SOCKET s, HWND hWnd, UINT wMsg, long lEvent);

}  // namespace winsock
