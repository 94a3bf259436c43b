#include "tests/support/event_loop.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include "platform/ui/wnd.h"

void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    Pump(10);
  }
  return true;
}

QImage Screenshot(CWnd& window) {
  return window.Widget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}
