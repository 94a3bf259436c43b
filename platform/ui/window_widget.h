// The QWidget behind a CWnd: turns Qt events into the window messages the control handles, and
// shows the window's backing surface.
#pragma once

#include <QWidget>

#include "platform/ui/wnd.h"

class QKeyEvent;

// Virtual-key code of a Qt key (ESC 27, Enter 13, letters and digits as their upper-case ASCII).
int VirtualKeyFromQt(const QKeyEvent* event);

// Shared by the plain window widget and the dialog widget: message translation and painting.
class QvWindowEvents {
 public:
  explicit QvWindowEvents(CWnd* owner) : owner_(owner) {}
  virtual ~QvWindowEvents() = default;
  void Detach() { owner_ = nullptr; }
  CWnd* Owner() const { return owner_; }
  // The window was just sent the WM_PAINT that showing it asks for.
  void PaintDelivered() { paintPending_ = false; }

  bool HandleEvent(QWidget* self, QEvent* event);

 private:
  CWnd* owner_;
  bool paintPending_ = true;
};

class QvWindowWidget : public QWidget, public QvWindowEvents {
 public:
  QvWindowWidget(CWnd* owner, QWidget* parent);

 protected:
  bool event(QEvent* event) override;
};
