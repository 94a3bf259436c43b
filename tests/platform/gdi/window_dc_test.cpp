#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QWidget>

#include "platform/gdi/gdi.h"
#include "platform/ui/wnd.h"
#include "tests/platform/gdi/canvas.h"

namespace {

TEST(WindowDc, DrawsIntoTheWindowAndItsScreenshot) {
  CWnd window;
  ASSERT_TRUE(window.CreateEx(0, 0, 0, 120, 60, nullptr));
  window.Widget()->grab();  // the first paint (WM_PAINT) comes before anything is drawn
  HDC dc = window.GetDC();
  ASSERT_NE(dc, nullptr);
  RECT all{0, 0, 120, 60};
  EXPECT_TRUE(FillRect(dc, &all, RGB(0, 0, 255)));
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkMode(dc, TRANSPARENT);
  EXPECT_TRUE(TextOutA(dc, 10, 10, "No Signal", 9));
  const QImage shot = window.Widget()->grab().toImage();
  EXPECT_EQ(shot.pixelColor(0, 0), QColor(0, 0, 255));
  EXPECT_EQ(shot.pixelColor(119, 59), QColor(0, 0, 255));
  int white = 0;
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x)
      if (shot.pixelColor(x, y).lightness() > 200) {
        ++white;
        EXPECT_GE(x, 10);
        EXPECT_GE(y, 10);
        EXPECT_LT(y, 26);
      }
  EXPECT_GT(white, 30);

  // Bitmaps go into memory contexts only; a window's context is given back, not deleted.
  BITMAPINFO info = Header24(4, 4);
  HBITMAP bitmap = CreateDIBitmap(dc, &info.bmiHeader, 0, nullptr, nullptr, DIB_RGB_COLORS);
  EXPECT_EQ(SelectObject(dc, bitmap), nullptr);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_FALSE(DeleteDC(dc));
  EXPECT_EQ(window.ReleaseDC(dc), 1);
  EXPECT_FALSE(FillRect(dc, &all, 0));
}

TEST(WindowDc, ContextThatOutlivesItsWindowDrawsNothing) {
  HDC dc;
  {
    CWnd window;
    ASSERT_TRUE(window.CreateEx(0, 0, 0, 10, 10, nullptr));
    dc = window.GetDC();
    RECT r{0, 0, 10, 10};
    EXPECT_TRUE(FillRect(dc, &r, RGB(1, 2, 3)));
  }
  RECT r{0, 0, 10, 10};
  EXPECT_FALSE(FillRect(dc, &r, RGB(1, 2, 3)));
  EXPECT_FALSE(TextOutA(dc, 0, 0, "x", 1));
  ReleaseWindowDC(dc);
  EXPECT_EQ(CreateWindowDC(nullptr), nullptr);
}

}  // namespace
