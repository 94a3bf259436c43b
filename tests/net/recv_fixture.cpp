#include "tests/net/recv_fixture.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdlib>

#include "net/learned_address.h"
#include "net/receive_tick.h"

using namespace winsock;

int Distance(const QImage& shot, const test_stream::Bytes& picture, int width, int height) {
  if (shot.width() < width || shot.height() < height || picture.size() < std::size_t(width) * height * 3)
    return 256;
  int worst = 0;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = &picture[std::size_t(height - 1 - y) * width * 3];
    for (int x = 0; x < width; ++x) {
      const QRgb p = shot.pixel(x, y);
      worst = std::max({worst, std::abs(qBlue(p) - row[x * 3]), std::abs(qGreen(p) - row[x * 3 + 1]),
                        std::abs(qRed(p) - row[x * 3 + 2])});
    }
  }
  return worst;
}

QImage Stretched(const test_stream::Bytes& picture, int width, int height, int outWidth, int outHeight) {
  QImage image(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* p = &picture[(std::size_t(height - 1 - y) * width + x) * 3];
      image.setPixel(x, y, qRgb(p[2], p[1], p[0]));
    }
  return image.scaled(outWidth, outHeight, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

int SampledDistance(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return 256;
  long total = 0, samples = 0;
  for (int y = 2; y < a.height() - 2; y += 5)
    for (int x = 2; x < a.width() - 2; x += 5) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      total += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
      samples += 3;
    }
  return samples ? static_cast<int>(total / samples) : 256;
}

bool IsIdleBlue(const QImage& shot, int x, int y) { return shot.pixel(x, y) == qRgb(0, 0, 255); }

void ReceivingControl::SetUp() {
  TheReceiveTickCounters().ResetForTesting();
  ctrl = MakeControl(&port);
  sender = LoopbackSocket();
  senderPort = BoundPort(sender);
}

void ReceivingControl::TearDown() {
  closesocket(sender);
  for (SOCKET s : extraSockets) closesocket(s);
  ctrl.reset();
  // Nothing of one test's learning reaches the next.
  ULONG a;
  USHORT p;
  TheLearnedRemoteAddress().Take(&a, &p);
}

std::unique_ptr<CQuelvoraCtrl> ReceivingControl::MakeControl(USHORT* receivePort) {
  auto control = std::make_unique<CQuelvoraCtrl>();
  EXPECT_TRUE(control->CreateControlWindow(nullptr, RECT{0, 0, 352, 288}));
  control->Widget()->show();
  *receivePort = FreePort();
  control->m_endpoints.recvLocal.Store("127.0.0.1", *receivePort);
  return control;
}

void ReceivingControl::SendTo(SOCKET from, const test_stream::Bytes& datagram, USHORT toPort) {
  ASSERT_EQ(SendBytes(from, datagram, inet_addr("127.0.0.1"), toPort), static_cast<int>(datagram.size()));
}

void ReceivingControl::SendFrame(const test_stream::EncodedFrame& frame, std::uint16_t sequence) {
  for (const auto& d : test_stream::Datagrams(frame, sequence)) Send(d);
}

void ReceivingControl::Tick(CQuelvoraCtrl& control) {
  SendMessage(control.GetSafeHwnd(), WM_TIMER, kRecvTimerID, 0);
}
