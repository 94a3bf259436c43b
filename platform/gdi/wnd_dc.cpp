// Window targets: a window context draws into the window's backing surface, looked up by
// handle at every call, so that a context that outlives its window draws nothing.
#include "platform/gdi/gdi_objects.h"
#include "platform/ui/wnd.h"

QImage* WindowSurface(HWND window) {
  CWnd* wnd = CWnd::FromHandle(window);
  return wnd && wnd->Widget() ? &wnd->Surface() : nullptr;
}

void WindowSurfaceChanged(HWND window) {
  if (CWnd* wnd = CWnd::FromHandle(window)) wnd->SurfaceChanged();
}
