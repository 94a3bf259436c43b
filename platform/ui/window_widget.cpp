#include "platform/ui/window_widget.h"

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QTimerEvent>

int VirtualKeyFromQt(const QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Escape) return VK_ESCAPE;
  if (key == Qt::Key_Return || key == Qt::Key_Enter) return VK_RETURN;
  if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z)) return key;
  if (key == Qt::Key_Space) return 0x20;
  return key & 0xFF;
}

bool QvWindowEvents::HandleEvent(QWidget* self, QEvent* event) {
  CWnd* owner = owner_;
  if (!owner) return false;
  switch (event->type()) {
    case QEvent::Resize: {
      const auto* e = static_cast<QResizeEvent*>(event);
      paintPending_ = true;
      owner->WindowProc(WM_SIZE, SIZE_RESTORED,
                        MAKELPARAM(static_cast<WORD>(e->size().width()), static_cast<WORD>(e->size().height())));
      return false;
    }
    case QEvent::Show:
      paintPending_ = true;
      return false;
    case QEvent::Paint: {
      // A paint the platform asks for (first show, resize, exposure) is a WM_PAINT; a repaint
      // that only shows what was drawn into the surface is not.
      if (paintPending_) {
        paintPending_ = false;
        owner->WindowProc(WM_PAINT, 0, 0);
      }
      QPainter painter(self);
      painter.drawImage(0, 0, owner->Surface());
      return true;
    }
    case QEvent::Timer: {
      const auto* e = static_cast<QTimerEvent*>(event);
      const UINT_PTR id = owner->TimerIdFromQt(e->timerId());
      if (id == 0) return false;
      owner->WindowProc(WM_TIMER, id, 0);
      return true;
    }
    case QEvent::MouseButtonPress: {
      const auto* e = static_cast<QMouseEvent*>(event);
      if (e->button() != Qt::RightButton) return false;
      const QPoint p = e->position().toPoint();
      owner->WindowProc(WM_RBUTTONDOWN, 0x0002 /* MK_RBUTTON */,
                        MAKELPARAM(static_cast<WORD>(p.x()), static_cast<WORD>(p.y())));
      return true;
    }
    case QEvent::KeyPress: {
      const auto* e = static_cast<QKeyEvent*>(event);
      owner->WindowProc(WM_KEYDOWN, static_cast<WPARAM>(VirtualKeyFromQt(e)), 0);
      return true;
    }
    default:
      return false;
  }
}

QvWindowWidget::QvWindowWidget(CWnd* owner, QWidget* parent) : QWidget(parent), QvWindowEvents(owner) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
}

bool QvWindowWidget::event(QEvent* event) {
  if (HandleEvent(this, event)) return true;
  return QWidget::event(event);
}
