#include <gtest/gtest.h>

#include <QCoreApplication>
#include <string>
#include <thread>

#include "platform/gdi/gdi.h"
#include "platform/ui/msgbox.h"
#include "tests/platform/gdi/canvas.h"

namespace {

const char kKaiFace[] = "\xBF\xAC\xCC\xE5_GB2312";  // the Kai face name in GB2312
const char kZhangSan[] = "\xD5\xC5\xC8\xFD";        // a two-character name in GB2312

HFONT Font(int height, LPCSTR face, int weight = FW_BOLD) {
  return CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

// Draws text in yellow on black with the given alignment and answers the box of its ink.
Box DrawYellow(Canvas& canvas, int x, int y, UINT align, LPCSTR text, LPCSTR face = "Courier New",
               int height = 20) {
  HFONT font = Font(height, face);
  HGDIOBJ old = SelectObject(canvas.dc(), font);
  SetBkMode(canvas.dc(), TRANSPARENT);
  SetTextAlign(canvas.dc(), align);
  SetTextColor(canvas.dc(), RGB(255, 255, 0));
  EXPECT_TRUE(TextOutA(canvas.dc(), x, y, text, static_cast<int>(std::string(text).size())));
  SelectObject(canvas.dc(), old);
  EXPECT_TRUE(DeleteObject(font));
  canvas.Read();
  return canvas.BoxOf(Yellowish);
}

TEST(FontMatch, PlatformFacesResolveToTheirStandIns) {
  EXPECT_NE(MatchedFontFile("Courier New").find("LiberationMono"), std::string::npos)
      << MatchedFontFile("Courier New");
  EXPECT_NE(MatchedFontFile("Courier New", FW_BOLD).find("LiberationMono-Bold"), std::string::npos);
  EXPECT_NE(MatchedFontFile(kKaiFace, FW_BOLD).find("ukai"), std::string::npos) << MatchedFontFile(kKaiFace);
  // An unknown face still gets a file: fontconfig's default.
  EXPECT_FALSE(MatchedFontFile("No Such Face At All").empty());
}

TEST(TextOut, AlignmentPlacesTheTextCellOnTheReferencePoint) {
  // Descenders reach close to the cell's bottom, capitals close to its top.
  const char text[] = "Hgjpy";
  {
    Canvas canvas(240, 100);
    const Box box = DrawYellow(canvas, 120, 60, TA_CENTER | TA_BOTTOM, text);
    ASSERT_FALSE(box.empty());
    EXPECT_NEAR(box.centreX(), 120, 2);
    EXPECT_LT(box.bottom, 60);
    EXPECT_GE(box.bottom, 60 - 4);
    EXPECT_GE(box.top, 60 - 20);
  }
  {
    Canvas canvas(240, 100);
    const Box box = DrawYellow(canvas, 120, 30, TA_RIGHT | TA_BOTTOM, text);
    ASSERT_FALSE(box.empty());
    EXPECT_LE(box.right, 120);
    EXPECT_GE(box.right, 120 - 4);
    EXPECT_LT(box.bottom, 30);
    EXPECT_GE(box.bottom, 30 - 4);
  }
  {
    Canvas canvas(240, 100);
    const Box box = DrawYellow(canvas, 10, 20, TA_LEFT | TA_TOP, text);
    ASSERT_FALSE(box.empty());
    EXPECT_GE(box.left, 10);
    EXPECT_LE(box.left, 10 + 4);
    EXPECT_GE(box.top, 20);
    EXPECT_LE(box.top, 20 + 6);
    EXPECT_LT(box.bottom, 20 + 20);
  }
  {
    // Baseline: capitals end on it, descenders go below.
    Canvas canvas(240, 100);
    const Box box = DrawYellow(canvas, 10, 50, TA_LEFT | TA_BASELINE, "H");
    ASSERT_FALSE(box.empty());
    EXPECT_EQ(box.bottom, 49);
  }
}

TEST(TextOut, CellHeightIsTheRequestedHeight) {
  // An opaque background box covers exactly the cell: ascent plus descent.
  for (int height : {18, 20, 32}) {
    Canvas canvas(300, 100);
    HFONT font = Font(height, "Courier New");
    HGDIOBJ old = SelectObject(canvas.dc(), font);
    SetBkMode(canvas.dc(), OPAQUE);
    SetBkColor(canvas.dc(), RGB(0, 0, 255));
    SetTextColor(canvas.dc(), RGB(255, 255, 255));
    EXPECT_TRUE(TextOutA(canvas.dc(), 10, 10, "No Signal", 9));
    canvas.Read();
    const Box blue = canvas.BoxOf([](const Rgb& c) { return c == Rgb{0, 0, 255}; });
    const Box white = canvas.BoxOf([](const Rgb& c) { return c.r > 200 && c.g > 200 && c.b > 200; });
    ASSERT_FALSE(blue.empty());
    ASSERT_FALSE(white.empty());
    EXPECT_EQ(blue.top, 10);
    EXPECT_GE(blue.bottom - blue.top + 1, height - 1) << height;
    EXPECT_LE(blue.bottom - blue.top + 1, height) << height;
    EXPECT_GE(white.top, blue.top);
    EXPECT_LE(white.bottom, blue.bottom);
    EXPECT_FALSE(DeleteObject(font));  // still selected
    EXPECT_EQ(SelectObject(canvas.dc(), old), font);
    EXPECT_TRUE(DeleteObject(font));
  }
}

TEST(TextOut, DefaultContextDrawsBlackOnWhiteInTheSystemFont) {
  Canvas canvas(200, 40);
  EXPECT_TRUE(TextOutA(canvas.dc(), 0, 0, "Press ESC to quit.", 18));
  canvas.Read();
  const Box white = canvas.BoxOf([](const Rgb& c) { return c == Rgb{255, 255, 255}; });
  const Box dark = canvas.BoxOf([](const Rgb& c) { return c.r < 64 && c.g < 64 && c.b < 64; });
  ASSERT_FALSE(white.empty());
  EXPECT_EQ(white.left, 0);
  EXPECT_EQ(white.top, 0);
  EXPECT_LE(white.bottom + 1, 16);
  EXPECT_GE(white.bottom + 1, 15);
  // Black ink inside the white box (the canvas outside it is black too, so look inside).
  int ink = 0;
  for (int y = 0; y <= white.bottom; ++y)
    for (int x = 0; x <= white.right; ++x) ink += canvas.At(x, y).r < 64;
  EXPECT_GT(ink, 40);
  EXPECT_FALSE(dark.empty());
}

TEST(TextOut, Gb2312NameInTheKaiFaceDrawsGlyphs) {
  Canvas canvas(200, 40);
  const Box box = DrawYellow(canvas, 100, 20, TA_CENTER | TA_BOTTOM, kZhangSan, kKaiFace, 20);
  ASSERT_FALSE(box.empty());
  EXPECT_NEAR(box.centreX(), 100, 2);
  EXPECT_GT(box.right - box.left, 20);  // two full-width glyphs, not replacement marks
  EXPECT_LT(box.bottom, 20);
  EXPECT_GE(box.top, 0);

  // The same bytes read as another code page are other characters, drawn differently.
  Canvas latin(200, 40);
  SetDisplayCodePage(1252);
  const Box other = DrawYellow(latin, 100, 20, TA_CENTER | TA_BOTTOM, kZhangSan, kKaiFace, 20);
  SetDisplayCodePage(936);
  EXPECT_NE(other.right - other.left, box.right - box.left);
}

TEST(TextOut, FaceFirstUsedOnAWorkerThreadDraws) {
  // A capture thread may be the first to ask for a face; no other test uses this one.
  Box box;
  std::thread worker([&] {
    Canvas canvas(200, 40);
    box = DrawYellow(canvas, 100, 30, TA_CENTER | TA_BOTTOM, "Bob", "Liberation Serif");
  });
  worker.join();
  EXPECT_FALSE(box.empty());
  QCoreApplication::processEvents();  // the GUI thread loads the file it was asked to
  Canvas canvas(200, 40);
  const Box again = DrawYellow(canvas, 100, 30, TA_CENTER | TA_BOTTOM, "Bob", "Liberation Serif");
  EXPECT_EQ(again.left, box.left);
  EXPECT_EQ(again.bottom, box.bottom);
}

TEST(TextOut, RefusesBadArguments) {
  Canvas canvas(20, 20);
  EXPECT_FALSE(TextOutA(canvas.dc(), 0, 0, nullptr, 3));
  EXPECT_FALSE(TextOutA(canvas.dc(), 0, 0, "abc", -1));
  EXPECT_TRUE(TextOutA(canvas.dc(), 0, 0, "abc", 0));
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  ASSERT_NE(display, nullptr);
  EXPECT_FALSE(TextOutA(display, 0, 0, "abc", 3));  // nothing to draw on
  EXPECT_TRUE(DeleteDC(display));
  EXPECT_FALSE(TextOutA(display, 0, 0, "abc", 3));
}

}  // namespace
