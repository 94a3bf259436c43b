#include "platform/ui/wnd.h"

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QTimerEvent>
#include <QWidget>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/gdi/gdi.h"
#include "platform/ui/modal.h"
#include "platform/ui/window_widget.h"

namespace {

std::mutex g_handleMutex;
std::unordered_map<std::uintptr_t, CWnd*> g_handles;
std::uintptr_t g_nextHandle = 0x10000;

CWnd* Lookup(HWND hwnd) {
  std::lock_guard<std::mutex> lock(g_handleMutex);
  auto it = g_handles.find(reinterpret_cast<std::uintptr_t>(hwnd));
  return it == g_handles.end() ? nullptr : it->second;
}

}  // namespace

struct CWnd::Impl {
  QImage surface;
  std::map<UINT_PTR, int> timers;  // window timer ID -> Qt timer ID
};

CWnd::CWnd() : impl_(new Impl) {}

CWnd::~CWnd() {
  DestroyWindow();
  delete impl_;
}

void CWnd::Attach(QWidget* widget) {
  widget_ = widget;
  {
    std::lock_guard<std::mutex> lock(g_handleMutex);
    m_hWnd = reinterpret_cast<HWND>(g_nextHandle);
    g_nextHandle += 4;
    g_handles[reinterpret_cast<std::uintptr_t>(m_hWnd)] = this;
  }
  QObject::connect(widget, &QObject::destroyed, widget, [this] { OnWidgetGone(); });
}

BOOL CWnd::CreateEx(DWORD style, int x, int y, int width, int height, CWnd* parent) {
  if (parent && !parent->Widget()) return FALSE;
  parent_ = parent;
  return CreateInWidget(style, x, y, width, height, parent ? parent->Widget() : nullptr);
}

BOOL CWnd::CreateInWidget(DWORD style, int x, int y, int width, int height, QWidget* parentWidget) {
  if (widget_) return FALSE;
  auto* w = new QvWindowWidget(this, parentWidget);
  if (style & WS_POPUP) w->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  w->setGeometry(x, y, width, height);
  Attach(w);
  WindowProc(WM_CREATE, 0, 0);
  if ((style & WS_VISIBLE) || !parentWidget) w->show();
  return TRUE;
}

void CWnd::OnWidgetGone() {
  std::lock_guard<std::mutex> lock(g_handleMutex);
  g_handles.erase(reinterpret_cast<std::uintptr_t>(m_hWnd));
  m_hWnd = nullptr;
  widget_ = nullptr;
  impl_->timers.clear();
}

BOOL CWnd::DestroyWindow() {
  if (!widget_) return FALSE;
  WindowProc(WM_DESTROY, 0, 0);
  QWidget* w = widget_;
  for (auto& [id, qtId] : impl_->timers) w->killTimer(qtId);
  impl_->timers.clear();
  {
    std::lock_guard<std::mutex> lock(g_handleMutex);
    g_handles.erase(reinterpret_cast<std::uintptr_t>(m_hWnd));
    m_hWnd = nullptr;
    widget_ = nullptr;
  }
  QObject::disconnect(w, &QObject::destroyed, nullptr, nullptr);
  if (auto* events = dynamic_cast<QvWindowEvents*>(w)) events->Detach();
  delete w;
  return TRUE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM, LPARAM) {
  if (message == WM_PAINT) {
    Surface().fill(Qt::white);
    SurfaceChanged();
  }
  return 0;
}

LRESULT CWnd::Default() { return 0; }

UINT_PTR CWnd::SetTimer(UINT_PTR idEvent, UINT elapseMs, void*) {
  if (!widget_) return 0;
  auto it = impl_->timers.find(idEvent);
  if (it != impl_->timers.end()) widget_->killTimer(it->second);
  const int qtId = widget_->startTimer(static_cast<int>(elapseMs), Qt::PreciseTimer);
  if (qtId == 0) return 0;
  impl_->timers[idEvent] = qtId;
  return idEvent;
}

BOOL CWnd::KillTimer(UINT_PTR idEvent) {
  auto it = impl_->timers.find(idEvent);
  if (it == impl_->timers.end() || !widget_) return FALSE;
  widget_->killTimer(it->second);
  impl_->timers.erase(it);
  return TRUE;
}

UINT_PTR CWnd::TimerIdFromQt(int qtId) const {
  for (auto& [id, q] : impl_->timers)
    if (q == qtId) return id;
  return 0;
}

void CWnd::GetClientRect(RECT* rect) const {
  if (!rect) return;
  *rect = RECT{};
  if (!widget_) return;
  rect->right = widget_->width();
  rect->bottom = widget_->height();
}

BOOL CWnd::ShowWindow(int command) {
  if (!widget_) return FALSE;
  const bool wasVisible = widget_->isVisible();
  if (command == SW_HIDE) {
    widget_->hide();
  } else {
    widget_->show();
    // A window shown again is painted afresh, as the platform sends it WM_PAINT; that paint
    // stands for the one Qt asks for on showing, so what is drawn next is not painted over.
    if (auto* events = dynamic_cast<QvWindowEvents*>(widget_)) events->PaintDelivered();
    WindowProc(WM_PAINT, 0, 0);
  }
  return wasVisible ? TRUE : FALSE;
}

BOOL CWnd::SetWindowPos(HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  if (!widget_ || insertAfter != HWND_TOP) return FALSE;
  if (!(flags & SWP_NOMOVE)) widget_->move(x, y);
  if (!(flags & SWP_NOSIZE)) widget_->resize(cx, cy);
  if (flags & SWP_SHOWWINDOW) ShowWindow(SW_SHOW);
  // The offscreen platform has no z-order (and says so on every raise).
  if (!IsHeadless()) {
    widget_->raise();
    widget_->activateWindow();
  }
  return TRUE;
}

void CWnd::MoveWindow(int x, int y, int width, int height) {
  if (widget_) widget_->setGeometry(x, y, width, height);
}

HDC CWnd::GetDC() { return widget_ ? CreateWindowDC(this) : nullptr; }

int CWnd::ReleaseDC(HDC dc) {
  if (!dc) return 0;
  ReleaseWindowDC(dc);
  return 1;
}

void CWnd::Invalidate() {
  if (widget_) WindowProc(WM_PAINT, 0, 0);
}

QImage& CWnd::Surface() {
  const QSize size = widget_ ? widget_->size() : QSize(0, 0);
  if (impl_->surface.size() != size) {
    QImage resized(size.expandedTo(QSize(1, 1)), QImage::Format_RGB32);
    resized.fill(Qt::white);
    if (!impl_->surface.isNull()) {
      QPainter p(&resized);
      p.drawImage(0, 0, impl_->surface);
    }
    impl_->surface = resized;
  }
  return impl_->surface;
}

void CWnd::SurfaceChanged() {
  if (widget_) widget_->update();
}

CWnd* CWnd::FromHandle(HWND hwnd) { return Lookup(hwnd); }

BOOL IsWindow(HWND hwnd) { return hwnd && Lookup(hwnd) ? TRUE : FALSE; }

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* w = Lookup(hwnd);
  return w ? w->WindowProc(message, wParam, lParam) : 0;
}

BOOL DestroyWindow(HWND hwnd) {
  CWnd* w = Lookup(hwnd);
  return w ? w->DestroyWindow() : FALSE;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
  CWnd* w = Lookup(hwnd);
  if (!w) return FALSE;
  w->GetClientRect(rect);
  return TRUE;
}

BOOL ShowWindow(HWND hwnd, int command) {
  CWnd* w = Lookup(hwnd);
  return w ? w->ShowWindow(command) : FALSE;
}

HDC GetDC(HWND hwnd) {
  CWnd* w = Lookup(hwnd);
  return w ? w->GetDC() : nullptr;
}

int ReleaseDC(HWND hwnd, HDC dc) {
  CWnd* w = Lookup(hwnd);
  return w ? w->ReleaseDC(dc) : 0;
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR idEvent, UINT elapseMs, void* timerProc) {
  CWnd* w = Lookup(hwnd);
  return w ? w->SetTimer(idEvent, elapseMs, timerProc) : 0;
}

BOOL KillTimer(HWND hwnd, UINT_PTR idEvent) {
  CWnd* w = Lookup(hwnd);
  return w ? w->KillTimer(idEvent) : FALSE;
}

BOOL GetCursorPos(POINT* point) {
  if (!point) return FALSE;
  const QPoint p = QCursor::pos();
  point->x = p.x();
  point->y = p.y();
  return TRUE;
}

int GetSystemMetrics(int index) {
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return 0;
  const QRect r = screen->geometry();
  if (index == SM_CXSCREEN) return r.width();
  if (index == SM_CYSCREEN) return r.height();
  return 0;
}
