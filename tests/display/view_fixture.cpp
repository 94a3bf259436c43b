#include "tests/display/view_fixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdlib>

using namespace winsock;

std::string SaveShot(const QImage& shot, const std::string& name) {
  const char* tmp = std::getenv("QV_TEST_TMP");
  const QString dir = tmp ? QString::fromLocal8Bit(tmp) : QDir::tempPath();
  QDir().mkpath(dir);
  const QString path = dir + "/" + QString::fromStdString(name);
  EXPECT_TRUE(shot.save(path, "PNG")) << path.toStdString();
  return path.toStdString();
}

QSize ScreenSize() { return QGuiApplication::primaryScreen()->geometry().size(); }

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

int ColourDistance(QRgb a, QRgb b) {
  return std::max(
      {std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

ModalScript::ModalScript(Handler onView, Handler onMenu)
    : onView_(std::move(onView)), onMenu_(std::move(onMenu)) {
  SetModalHook([this](const ModalInfo& info, ModalAnswer& answer) {
    if (info.kind == "menu") {
      ++menus;
      if (onMenu_) onMenu_(info, answer);
    } else {
      ++views;
      if (onView_) onView_(info, answer);
    }
  });
}

ModalScript::~ModalScript() { SetModalHook({}); }

void FullScreenReceiver::SetUp() {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
  ctrl = std::make_unique<CQuelvoraCtrl>();
  ASSERT_TRUE(ctrl->CreateControlWindow(nullptr, RECT{0, 0, 352, 288}));
  ctrl->Widget()->show();
  // A port the system chooses, given back so that the control can bind it.
  const SOCKET probe = NewSender();
  port = PortOf(probe);
  closesocket(probe);
  sockets_.pop_back();
  ctrl->m_endpoints.recvLocal.Store("127.0.0.1", port);
  sender = NewSender();
}

void FullScreenReceiver::TearDown() {
  for (SOCKET s : sockets_) closesocket(s);
  ctrl.reset();
  WSACleanup();
}

SOCKET FullScreenReceiver::NewSender() {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  EXPECT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
  sockets_.push_back(s);
  return s;
}

USHORT FullScreenReceiver::PortOf(SOCKET s) {
  sockaddr_in a{};
  int length = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
  return ntohs(a.sin_port);
}

void FullScreenReceiver::SendFrame(SOCKET from, const test_stream::EncodedFrame& frame,
                                   std::uint16_t sequence) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  for (const auto& d : test_stream::Datagrams(frame, sequence))
    ASSERT_EQ(sendto(from, reinterpret_cast<const char*>(d.data()), static_cast<int>(d.size()), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to),
              static_cast<int>(d.size()));
}
