// A receiving control on a form, with a test sender on loopback.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <functional>
#include <memory>
#include <vector>

#include "control/quelvora_ctrl.h"
#include "tests/net/net_test_support.h"
#include "tests/support/event_loop.h"
#include "tests/support/test_stream.h"

// How far (largest channel difference) a screenshot is from a bottom-up 24-bit picture drawn
// at its own size at the top-left corner.
int Distance(const QImage& shot, const test_stream::Bytes& picture, int width, int height);
// A bottom-up 24-bit picture stretched to outWidth x outHeight with a smooth filter.
QImage Stretched(const test_stream::Bytes& picture, int width, int height, int outWidth, int outHeight);
// The mean channel difference between two images of one size, over a grid of samples (filters
// differ most at sharp edges, so the largest difference says little).
int SampledDistance(const QImage& a, const QImage& b);
// True when the pixel is the idle picture's blue.
bool IsIdleBlue(const QImage& shot, int x, int y);

class ReceivingControl : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A second control on the form, receiving on a port of its own.
  std::unique_ptr<CQuelvoraCtrl> MakeControl(USHORT* port);

  void Send(const test_stream::Bytes& datagram) { SendTo(sender, datagram, port); }
  void SendTo(winsock::SOCKET from, const test_stream::Bytes& datagram, USHORT toPort);
  void SendFrame(const test_stream::EncodedFrame& frame, std::uint16_t sequence);
  // Runs the tick as the timer would, without the event loop.
  static void Tick(CQuelvoraCtrl& control);

  std::unique_ptr<CQuelvoraCtrl> ctrl;
  USHORT port = 0;  // the control's receive port
  winsock::SOCKET sender = winsock::INVALID_SOCKET;
  USHORT senderPort = 0;
  std::vector<winsock::SOCKET> extraSockets;
};
