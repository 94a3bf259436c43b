// The framework's control base: a child window placed on a host's form that paints through
// OnDraw and receives its window messages as virtual handlers.
#pragma once

#include "platform/kernel/windef.h"
#include "platform/ui/wnd.h"

class QWidget;

class COleControl : public CWnd {
 public:
  COleControl() = default;
  ~COleControl() override = default;

  // Places the control on a host form (the host's widget) at the given rectangle.
  BOOL CreateControlWindow(QWidget* parent, const RECT& rect);

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  // Paints the control into the device context; `bounds` is the client rectangle, `invalid` the
  // part to repaint.
  virtual void OnDraw(HDC dc, const RECT& bounds, const RECT& invalid);
  virtual void OnSize(UINT type, int cx, int cy);
  virtual void OnTimer(UINT_PTR idEvent);
  virtual void OnRButtonDown(UINT flags, POINT point);
  virtual BOOL OnCommand(UINT id);
  virtual void OnDestroy();
};
