// Windows over Qt widgets.
//
// A window is a CWnd owning a QWidget. Its handle (HWND) is an opaque number registered in a
// process-wide table, so that IsWindow answers false once the window is destroyed, from any
// thread. Qt events reach the window as the messages the control handles (WM_SIZE, WM_TIMER,
// WM_PAINT, WM_RBUTTONDOWN, WM_KEYDOWN, WM_COMMAND) through the virtual WindowProc.
//
// Every window draws into a backing surface (a QImage the size of its client area): device
// contexts paint there (platform/gdi), and the widget shows the surface when Qt repaints it.
// So a picture drawn outside a paint event stays on screen and in screenshots.
#pragma once

#include <cstdint>

#include "platform/kernel/windef.h"

class QWidget;
class QImage;

struct HWND__;
using HWND = HWND__*;
struct HDC__;
using HDC = HDC__*;
// The top of the z-order, as SetWindowPos's insert-after window.
inline const HWND HWND_TOP = nullptr;
using UINT_PTR = std::uintptr_t;

constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_CTLCOLOR = 0x0019;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_USER = 0x0400;

constexpr UINT SIZE_RESTORED = 0;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;

constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;

constexpr int VK_RETURN = 13;
constexpr int VK_ESCAPE = 27;

constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_SHOWWINDOW = 0x0040;

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;

inline LPARAM MAKELPARAM(WORD lo, WORD hi) {
  return static_cast<LPARAM>(static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16));
}

class CWnd {
 public:
  CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  virtual ~CWnd();

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }

  // Makes the window: a child of parent when given, else a top-level window. The widget is
  // created here and owned by this object.
  BOOL CreateEx(DWORD style, int x, int y, int width, int height, CWnd* parent);
  // The same inside a host's widget (a form that is not itself a CWnd).
  BOOL CreateInWidget(DWORD style, int x, int y, int width, int height, QWidget* parentWidget);
  // Adopts a widget made by the caller (dialogs); the widget becomes owned by this object.
  void Attach(QWidget* widget);
  BOOL DestroyWindow();

  // The message handler. The base handles WM_PAINT by filling the surface white.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Default processing of the message being handled (nothing for most messages).
  LRESULT Default();

  UINT_PTR SetTimer(UINT_PTR idEvent, UINT elapseMs, void* timerProc);
  BOOL KillTimer(UINT_PTR idEvent);
  void GetClientRect(RECT* rect) const;
  BOOL ShowWindow(int command);
  void MoveWindow(int x, int y, int width, int height);
  // Moves and sizes the window (unless SWP_NOMOVE / SWP_NOSIZE), puts it on top of the z-order
  // and activates it, and shows it with SWP_SHOWWINDOW. Only HWND_TOP is offered as the place
  // in the z-order.
  BOOL SetWindowPos(HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
  HDC GetDC();
  int ReleaseDC(HDC dc);
  void Invalidate();

  QWidget* Widget() const { return widget_; }
  CWnd* GetParent() const { return parent_; }
  // The backing surface the window's device contexts draw into.
  QImage& Surface();
  // Marks the surface as changed so that Qt repaints the widget.
  void SurfaceChanged();

  static CWnd* FromHandle(HWND hwnd);

 private:
  friend class QvWindowWidget;
  friend class QvDialogWidget;
  friend class QvWindowEvents;
  void OnWidgetGone();
  UINT_PTR TimerIdFromQt(int qtId) const;

  QWidget* widget_ = nullptr;
  CWnd* parent_ = nullptr;
  struct Impl;
  Impl* impl_ = nullptr;
};

// Handle-based calls. All are safe on a destroyed handle; IsWindow may be called from any thread.
BOOL IsWindow(HWND hwnd);
// Calls the window's handler directly on the calling thread. A window whose handler answers
// messages from other threads must make those answers thread-safe itself.
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL DestroyWindow(HWND hwnd);
BOOL GetClientRect(HWND hwnd, RECT* rect);
BOOL ShowWindow(HWND hwnd, int command);
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC dc);
UINT_PTR SetTimer(HWND hwnd, UINT_PTR idEvent, UINT elapseMs, void* timerProc);
BOOL KillTimer(HWND hwnd, UINT_PTR idEvent);
BOOL GetCursorPos(POINT* point);
int GetSystemMetrics(int index);
