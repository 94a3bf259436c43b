#include "hosts/quelvora-load/load_run.h"

#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include "control/quelvora_ctrl.h"
#include "hosts/quelvora-load/load_traffic.h"

void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool StartReceiving(CQuelvoraCtrl& ctrl, int fps, std::uint16_t* port) {
  ctrl.CreateControlWindow(nullptr, RECT{0, 0, 352, 288});
  ctrl.Widget()->show();
  ctrl.SetSendFrameRate(static_cast<short>(fps));
  ctrl.SetVideoOutFormat("CIF");
  ctrl.SetBandwidth(250000, 2);
  for (int attempt = 0; attempt < 50; ++attempt) {
    std::uint16_t p = 0;
    const int probe = BindLoopbackSocket(&p);
    if (probe < 0) continue;
    ::close(probe);
    if (p >= 32766) continue;  // the announcement socket takes the port after it
    if (!ctrl.SetLocalIPAddress("127.0.0.1", static_cast<short>(p))) continue;
    if (ctrl.RecvVideo()) {
      *port = p;
      return true;
    }
  }
  return false;
}
