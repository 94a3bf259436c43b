#include "platform/ui/olecontrol.h"

#include <QWidget>

BOOL COleControl::CreateControlWindow(QWidget* parent, const RECT& rect) {
  if (m_hWnd) return FALSE;
  return CreateInWidget(WS_CHILD | WS_VISIBLE, rect.left, rect.top, rect.right - rect.left,
                        rect.bottom - rect.top, parent);
}

LRESULT COleControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      RECT bounds;
      GetClientRect(&bounds);
      HDC dc = GetDC();
      if (dc) {
        OnDraw(dc, bounds, bounds);
        ReleaseDC(dc);
      }
      return 0;
    }
    case WM_SIZE:
      OnSize(static_cast<UINT>(wParam), LOWORD(static_cast<std::uintptr_t>(lParam)),
             HIWORD(static_cast<std::uintptr_t>(lParam)));
      return 0;
    case WM_TIMER:
      OnTimer(wParam);
      return 0;
    case WM_RBUTTONDOWN: {
      POINT p;
      p.x = static_cast<SHORT>(LOWORD(static_cast<std::uintptr_t>(lParam)));
      p.y = static_cast<SHORT>(HIWORD(static_cast<std::uintptr_t>(lParam)));
      OnRButtonDown(static_cast<UINT>(wParam), p);
      return 0;
    }
    case WM_COMMAND:
      return OnCommand(static_cast<UINT>(LOWORD(wParam)));
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default:
      return CWnd::WindowProc(message, wParam, lParam);
  }
}

void COleControl::OnDraw(HDC, const RECT&, const RECT&) {}
void COleControl::OnSize(UINT, int, int) {}
void COleControl::OnTimer(UINT_PTR) {}
void COleControl::OnRButtonDown(UINT, POINT) {}
BOOL COleControl::OnCommand(UINT) { return FALSE; }
void COleControl::OnDestroy() {}
