// The full-screen view as a user meets it: what it shows before any picture, how it ends, its
// menu, the control's menu that opens it, and pictures of every width.
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include "display/full_screen_dlg.h"
#include "tests/display/view_fixture.h"

namespace {

// The colour a bare dialog is erased to.
const QRgb kFace = qRgb(240, 240, 240);

void PressKey(QWidget* widget, Qt::Key key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
}

void RightClick(QWidget* widget, QPoint at) {
  QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::RightButton, Qt::RightButton,
                    Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
}

class FullScreenView : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ctrl.CreateControlWindow(nullptr, RECT{0, 0, 352, 288})); }
  CQuelvoraCtrl ctrl;
};

TEST_F(FullScreenView, CoversThePrimaryScreenBorderlessWithTheHintAtTheTopLeft) {
  QImage shot;
  QRect geometry;
  bool frameless = false, flagged = false, modal = false;
  ModalInfo seen;
  ModalScript script(
      [&](const ModalInfo& info, ModalAnswer& answer) {
        seen = info;
        Pump(50);
        CFullScreenDlg* view = ctrl.m_pFullScreenDlg;
        ASSERT_NE(view, nullptr);
        flagged = ctrl.m_bFullScreen == 1;
        geometry = view->Widget()->geometry();
        frameless = view->Widget()->windowFlags() & Qt::FramelessWindowHint;
        modal = QApplication::activeModalWidget() == view->Widget();
        shot = Screenshot(*view);
        answer.SendKey(VK_ESCAPE);
      },
      {});
  ctrl.ShowFullScreen();
  EXPECT_EQ(script.views, 1);
  EXPECT_EQ(seen.kind, "view");
  EXPECT_TRUE(flagged);
  EXPECT_TRUE(frameless);
  EXPECT_TRUE(modal);
  EXPECT_EQ(ctrl.m_bFullScreen, 0);
  EXPECT_EQ(ctrl.m_pFullScreenDlg, nullptr);
  EXPECT_EQ(geometry, QRect(QPoint(0, 0), ScreenSize()));
  EXPECT_EQ(QSize(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)), ScreenSize());
  ASSERT_EQ(shot.size(), ScreenSize());
  SaveShot(shot, "full_screen_hint.png");

  // Everything but the text's box is the dialog colour; the box (black text on the context's
  // white background) starts at the very corner and is one line high.
  int minX = shot.width(), minY = shot.height(), maxX = -1, maxY = -1, dark = 0;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) {
      const QRgb p = shot.pixel(x, y);
      if (p == kFace) continue;
      minX = std::min(minX, x);
      minY = std::min(minY, y);
      maxX = std::max(maxX, x);
      maxY = std::max(maxY, y);
      if (qGray(p) < 80) ++dark;
    }
  EXPECT_EQ(minX, 0);
  EXPECT_EQ(minY, 0);
  EXPECT_GT(maxX, 60);  // eighteen characters
  EXPECT_LT(maxX, 260);
  EXPECT_GT(maxY, 8);
  EXPECT_LT(maxY, 24);
  EXPECT_GT(dark, 60);
  EXPECT_EQ(shot.pixel(0, maxY), qRgb(255, 255, 255));
}

TEST_F(FullScreenView, EnterAndOtherKeysNeverEndItEscapeEndsItWithResultZero) {
  bool openAfterEnter = false, openAfterKeypadEnter = false, openAfterOtherKeys = false, closedByEsc = false;
  ModalScript script(
      [&](const ModalInfo&, ModalAnswer& answer) {
        QWidget* view = QApplication::activeModalWidget();
        PressKey(view, Qt::Key_Return);
        openAfterEnter = !answer.Closed();
        PressKey(view, Qt::Key_Enter);
        openAfterKeypadEnter = !answer.Closed();
        answer.SendKey(VK_RETURN);
        answer.SendKey('A');
        answer.SendKey(0x20);
        openAfterOtherKeys = !answer.Closed();
        PressKey(view, Qt::Key_Escape);
        closedByEsc = answer.Closed();
      },
      {});
  ctrl.ShowFullScreen();
  EXPECT_TRUE(openAfterEnter);
  EXPECT_TRUE(openAfterKeypadEnter);
  EXPECT_TRUE(openAfterOtherKeys);
  EXPECT_TRUE(closedByEsc);
  EXPECT_EQ(ctrl.m_pFullScreenDlg, nullptr);

  // ESC ends the dialog with 0 rather than the cancel result.
  CFullScreenDlg view;
  EXPECT_EQ(view.DoModal(), 0);
  EXPECT_EQ(script.views, 2);
}

TEST_F(FullScreenView, ItsRightClickMenuHoldsTheCancelItemWhichEndsIt) {
  std::vector<std::string> entries;
  bool openAfterDismissedMenu = false, closedByItem = false;
  int menuAnswers = 0;
  ModalScript script(
      [&](const ModalInfo&, ModalAnswer& answer) {
        QWidget* view = ctrl.m_pFullScreenDlg->Widget();
        RightClick(view, QPoint(300, 200));  // the menu is dismissed
        openAfterDismissedMenu = !answer.Closed();
        RightClick(view, QPoint(10, 10));  // its item is chosen
        closedByItem = answer.Closed();
      },
      [&](const ModalInfo& info, ModalAnswer& answer) {
        entries = info.entries;
        if (menuAnswers++ == 0)
          answer.SendKey(VK_ESCAPE);
        else
          answer.ChooseEntry(0);
      });
  ctrl.ShowFullScreen();
  EXPECT_EQ(script.menus, 2);
  EXPECT_EQ(entries, std::vector<std::string>{"Cancel Full Screen(ESC)"});
  EXPECT_TRUE(openAfterDismissedMenu);
  EXPECT_TRUE(closedByItem);
  EXPECT_EQ(ctrl.m_pFullScreenDlg, nullptr);
}

TEST_F(FullScreenView, TheControlsMenuItemOpensTheView) {
  std::vector<std::string> entries;
  bool viewOpen = false;
  ModalScript script(
      [&](const ModalInfo& info, ModalAnswer& answer) {
        viewOpen = info.kind == "view" && ctrl.m_pFullScreenDlg != nullptr;
        answer.SendKey(VK_ESCAPE);
      },
      [&](const ModalInfo& info, ModalAnswer& answer) {
        entries = info.entries;
        answer.ChooseEntry(0);
      });
  RightClick(ctrl.Widget(), QPoint(20, 20));
  EXPECT_EQ(script.menus, 1);
  EXPECT_EQ(entries, std::vector<std::string>{"Full Screen"});
  EXPECT_EQ(script.views, 1);
  EXPECT_TRUE(viewOpen);
  EXPECT_EQ(ctrl.m_pFullScreenDlg, nullptr);
  EXPECT_EQ(ctrl.m_bFullScreen, 0);
}

TEST_F(FullScreenView, ACallWhileOpenBringsTheOpenViewForwardAndEachCallMakesItsOwnView) {
  CFullScreenDlg* first = nullptr;
  CFullScreenDlg* afterSecondCall = nullptr;
  bool stillOpen = false, stillFlagged = false;
  int opened = 0;
  ModalScript script(
      [&](const ModalInfo&, ModalAnswer& answer) {
        if (++opened == 1) {
          first = ctrl.m_pFullScreenDlg;
          ctrl.ShowFullScreen();
          afterSecondCall = ctrl.m_pFullScreenDlg;
          stillOpen = !answer.Closed() && first->Widget() && first->Widget()->isVisible();
          stillFlagged = ctrl.m_bFullScreen == 1;
        }
        answer.SendKey(VK_ESCAPE);
      },
      {});
  ctrl.ShowFullScreen();
  EXPECT_EQ(script.views, 1);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(afterSecondCall, first);
  EXPECT_TRUE(stillOpen);
  EXPECT_TRUE(stillFlagged);
  ctrl.ShowFullScreen();
  EXPECT_EQ(script.views, 2);
  EXPECT_EQ(ctrl.m_pFullScreenDlg, nullptr);
}

TEST_F(FullScreenView, DrawsPicturesOfEveryWidthStretchedAndUnskewed) {
  for (int width : {176, 175, 178, 177}) {
    SCOPED_TRACE(width);
    const int height = 144;
    const test_stream::Bytes picture = test_stream::MovingPicture(width, height, 7);
    CFullScreenDlg view;
    QImage shot;
    ModalScript script(
        [&](const ModalInfo&, ModalAnswer& answer) {
          view.DrawFrame(picture.data(), width, height);
          shot = Screenshot(view);
          answer.SendKey(VK_ESCAPE);
        },
        {});
    view.DoModal();
    ASSERT_EQ(shot.size(), ScreenSize());
    EXPECT_LE(SampledDistance(shot, Stretched(picture, width, height, shot.width(), shot.height())), 6);
    if (width == 175) SaveShot(shot, "full_screen_width_175.png");
  }
}

TEST_F(FullScreenView, DrawFrameIgnoresPicturesWithoutSizeOrBits) {
  CFullScreenDlg view;
  QImage before, after;
  const test_stream::Bytes picture = test_stream::MovingPicture(176, 144, 0);
  ModalScript script(
      [&](const ModalInfo&, ModalAnswer& answer) {
        before = Screenshot(view);
        view.DrawFrame(nullptr, 176, 144);
        view.DrawFrame(picture.data(), 0, 144);
        view.DrawFrame(picture.data(), 176, -144);
        view.DrawFrame(picture.data(), -176, 144);
        after = Screenshot(view);
        answer.SendKey(VK_ESCAPE);
      },
      {});
  view.DoModal();
  // Before the view exists or after it closed there is nothing to draw on.
  view.DrawFrame(picture.data(), 176, 144);
  EXPECT_EQ(before, after);
}

}  // namespace
