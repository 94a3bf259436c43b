// What a user sees of the control: the idle picture, the About box, modal loops.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include "control/quelvora_ctrl.h"
#include "platform/ui/modal.h"
#include "platform/ui/msgbox.h"
#include "tests/support/event_loop.h"

namespace {

TEST(WindowTest, IdlePictureIsBlueWithWhiteNoSignalAtTenTen) {
  CQuelvoraCtrl ctrl;
  ASSERT_TRUE(ctrl.CreateControlWindow(nullptr, RECT{0, 0, 352, 288}));
  Pump(50);
  const QImage shot = ctrl.Widget()->grab().toImage();
  ASSERT_EQ(shot.width(), 352);
  EXPECT_EQ(shot.pixelColor(200, 200), QColor(0, 0, 255));
  EXPECT_EQ(shot.pixelColor(351, 287), QColor(0, 0, 255));
  // White text pixels only in the text's cell near (10, 10).
  int white = 0, minX = 1000, minY = 1000;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x)
      if (shot.pixelColor(x, y).lightness() > 200) {
        ++white;
        minX = std::min(minX, x);
        minY = std::min(minY, y);
      }
  EXPECT_GT(white, 30);
  EXPECT_GE(minX, 10);
  EXPECT_LE(minX, 13);
  EXPECT_GE(minY, 10);
  EXPECT_LE(minY, 18);
}

TEST(WindowTest, AboutBoxShowsTheIconAndItsTextsWithTheTwoTitlesInRed) {
  CQuelvoraCtrl ctrl;
  ModalInfo seen;
  QColor titleColour, otherColour;
  QSize iconSize;
  SetModalHook([&](const ModalInfo& info, ModalAnswer& answer) {
    seen = info;
    for (QLabel* l : QApplication::activeModalWidget()
                         ? QApplication::activeModalWidget()->findChildren<QLabel*>()
                         : QList<QLabel*>{}) {
      if (l->text() == "Version 3.3") titleColour = l->palette().color(QPalette::WindowText);
      if (l->text().startsWith("Video")) otherColour = l->palette().color(QPalette::WindowText);
      if (!l->pixmap().isNull()) iconSize = l->pixmap().size();
    }
    answer.PressButton("OK");
  });
  ctrl.AboutBox();
  SetModalHook({});
  EXPECT_EQ(seen.kind, "dialog");
  EXPECT_EQ(seen.title, "About Oskavelle ActiveX Control");
  ASSERT_GE(seen.texts.size(), 2u);
  EXPECT_EQ(seen.texts[0], "Oskavelle ActiveX Control");
  EXPECT_EQ(seen.texts[1], "Version 3.3");
  EXPECT_EQ(seen.buttons, std::vector<std::string>{"OK"});
  EXPECT_EQ(titleColour, QColor(255, 0, 0));
  EXPECT_NE(otherColour, QColor(255, 0, 0));
  EXPECT_EQ(iconSize, QSize(32, 32));  // the module's icon
}

// A window that counts its 30 ms timer.
class TickingWindow : public CWnd {
 public:
  int ticks = 0;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_TIMER && wParam == 100001) ++ticks;
    return CWnd::WindowProc(message, wParam, lParam);
  }
};

TEST(WindowTest, ModalBoxKeepsTimersTicking) {
  TickingWindow w;
  ASSERT_TRUE(w.CreateEx(0, 0, 0, 10, 10, nullptr));
  ASSERT_EQ(w.SetTimer(100001, 30, nullptr), 100001u);
  int ticksWhileOpen = -1;
  SetModalHook([&](const ModalInfo&, ModalAnswer& answer) {
    const int before = w.ticks;
    Pump(200);  // the user reads the box
    ticksWhileOpen = w.ticks - before;
    answer.PressButton("OK");
  });
  EXPECT_EQ(AfxMessageBox("Memory is run out !!!"), IDOK);
  SetModalHook({});
  EXPECT_GE(ticksWhileOpen, 3);
  EXPECT_TRUE(w.KillTimer(100001));
  EXPECT_FALSE(w.KillTimer(100001));
}

TEST(WindowTest, HandleIsNoWindowOnceDestroyed) {
  HWND h;
  {
    CWnd w;
    ASSERT_TRUE(w.CreateEx(0, 0, 0, 10, 10, nullptr));
    h = w.m_hWnd;
    EXPECT_TRUE(IsWindow(h));
    RECT r;
    EXPECT_TRUE(GetClientRect(h, &r));
    EXPECT_EQ(r.right, 10);
  }
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(SendMessage(h, WM_USER, 0, 0), 0);
  EXPECT_FALSE(IsWindow(nullptr));
}

TEST(WindowTest, RightClickTracksThePopupMenuAndCommandsReachTheControl) {
  CQuelvoraCtrl ctrl;
  ASSERT_TRUE(ctrl.CreateControlWindow(nullptr, RECT{0, 0, 100, 100}));
  ModalInfo menu;
  SetModalHook([&](const ModalInfo& info, ModalAnswer&) { menu = info; });
  SendMessage(ctrl.m_hWnd, WM_RBUTTONDOWN, 2, MAKELPARAM(5, 5));
  SetModalHook({});
  EXPECT_EQ(menu.kind, "menu");
}

}  // namespace
