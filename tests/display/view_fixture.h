// Shared by the full-screen tests: the event loop, screenshots, a modal hook that answers the
// view and the menus, and a receiving control with loopback senders.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QSize>
#include <functional>
#include <memory>
#include <string>

#include "control/quelvora_ctrl.h"
#include "platform/ui/modal.h"
#include "platform/winsock/winsock.h"
#include "tests/support/event_loop.h"
#include "tests/support/test_stream.h"

// Writes a screenshot under the test output folder; answers the path.
std::string SaveShot(const QImage& shot, const std::string& name);
// The primary screen's size in pixels.
QSize ScreenSize();
// A bottom-up 24-bit picture (rows of width x 3 bytes) stretched smoothly to outWidth x outHeight.
QImage Stretched(const test_stream::Bytes& picture, int width, int height, int outWidth, int outHeight);
// The mean channel difference of two images of one size over a grid of samples.
int SampledDistance(const QImage& a, const QImage& b);
// The largest channel difference between two colours.
int ColourDistance(QRgb a, QRgb b);

// Answers every modal the control opens: `onView` runs when a view or dialog opens (inside its
// modal loop), `onMenu` when a popup menu is tracked. Either may be empty (then nothing is
// answered). Installed for the life of the object.
class ModalScript {
 public:
  using Handler = std::function<void(const ModalInfo&, ModalAnswer&)>;
  ModalScript(Handler onView, Handler onMenu);
  ~ModalScript();
  int views = 0;
  int menus = 0;

 private:
  Handler onView_;
  Handler onMenu_;
};

// A control on its own window that receives on loopback, and test senders.
class FullScreenReceiver : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  winsock::SOCKET NewSender();
  void SendFrame(winsock::SOCKET from, const test_stream::EncodedFrame& frame, std::uint16_t sequence);
  USHORT PortOf(winsock::SOCKET s);

  std::unique_ptr<CQuelvoraCtrl> ctrl;
  USHORT port = 0;
  winsock::SOCKET sender = winsock::INVALID_SOCKET;

 private:
  std::vector<winsock::SOCKET> sockets_;
};
