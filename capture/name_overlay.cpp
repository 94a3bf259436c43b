#include "capture/name_overlay.h"

#include <cstring>

#include "capture/frame_rules.h"
#include "control/error_table.h"

void DrawOverlayText(HDC hdc, int x, int y, int alignment, LPCSTR face, int height, COLORREF colour,
                     LPCSTR text) {
  const int oldMode = SetBkMode(hdc, TRANSPARENT);
  UINT align = TA_LEFT | TA_BOTTOM;
  if (alignment == 1) align = TA_CENTER | TA_BOTTOM;
  if (alignment == 2) align = TA_RIGHT | TA_BOTTOM;
  const UINT oldAlign = SetTextAlign(hdc, align);
  const COLORREF oldColour = SetTextColor(hdc, colour);
  HFONT font = CreateFontA(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
  HGDIOBJ oldFont = SelectObject(hdc, font);
  TextOutA(hdc, x, y, text, static_cast<int>(std::strlen(text)));
  SelectObject(hdc, oldFont);
  DeleteObject(font);
  SetBkMode(hdc, oldMode);
  SetTextColor(hdc, oldColour);
  SetTextAlign(hdc, oldAlign);
}

void DrawNameOverlay(BYTE* bits, int width, int height, WORD bitCount, int language, const char* name) {
  const OverlayGeometry g = OverlayGeometryFor(width, height);
  if (g.stripHeight <= 0) return;
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  HDC memory = CreateCompatibleDC(display);

  // Rows are bottom-up, so the first strip-height rows of the buffer are the picture's bottom
  // strip, and a header of that height describes exactly them.
  BITMAPINFO info;
  std::memset(&info, 0, sizeof info);
  BITMAPINFOHEADER& h = info.bmiHeader;
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = width;
  h.biHeight = g.stripHeight;
  h.biPlanes = 1;
  h.biBitCount = bitCount;
  h.biCompression = BI_RGB;
  h.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * (bitCount / 8u);

  HBITMAP bitmap = CreateDIBitmap(display, &h, CBM_INIT, bits, &info, DIB_RGB_COLORS);
  HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
  if (language == LANGUAGE_CHINESE || language == LANGUAGE_ENGLISH)
    DrawOverlayText(memory, g.x, g.y, 1, OverlayFace(language), g.fontHeight, RGB(255, 255, 0), name);
  SelectObject(memory, oldBitmap);
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(g.stripHeight), bits, &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(display);
  DeleteDC(memory);
}
