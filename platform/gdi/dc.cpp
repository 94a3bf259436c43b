// Device contexts over window surfaces: colours, fills and text in the default font.
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include "platform/gdi/gdi.h"
#include "platform/kernel/codepage.h"
#include "platform/ui/msgbox.h"

struct HDC__ {
  CWnd* window = nullptr;
  COLORREF bkColour = RGB(255, 255, 255);
  COLORREF textColour = RGB(0, 0, 0);
  int bkMode = OPAQUE;
  UINT align = TA_LEFT | TA_TOP;
};

namespace {
QColor ToQColor(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
}  // namespace

HDC CreateWindowDC(CWnd* window) {
  auto* dc = new HDC__;
  dc->window = window;
  return dc;
}

void ReleaseWindowDC(HDC dc) { delete dc; }

COLORREF SetBkColor(HDC dc, COLORREF colour) {
  if (!dc) return CLR_INVALID;
  const COLORREF old = dc->bkColour;
  dc->bkColour = colour;
  return old;
}

int SetBkMode(HDC dc, int mode) {
  if (!dc) return 0;
  const int old = dc->bkMode;
  dc->bkMode = mode;
  return old;
}

COLORREF SetTextColor(HDC dc, COLORREF colour) {
  if (!dc) return CLR_INVALID;
  const COLORREF old = dc->textColour;
  dc->textColour = colour;
  return old;
}

UINT SetTextAlign(HDC dc, UINT align) {
  if (!dc) return 0;
  const UINT old = dc->align;
  dc->align = align;
  return old;
}

BOOL FillRect(HDC dc, const RECT* rect, COLORREF colour) {
  if (!dc || !rect || !dc->window || !dc->window->Widget()) return FALSE;
  QImage& surface = dc->window->Surface();
  {
    QPainter p(&surface);
    p.fillRect(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top), ToQColor(colour));
  }
  dc->window->SurfaceChanged();
  return TRUE;
}

BOOL FillSolidRectWithBkColor(HDC dc, const RECT* rect) { return dc ? FillRect(dc, rect, dc->bkColour) : FALSE; }

BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int length) {
  if (!dc || !text || length < 0 || !dc->window || !dc->window->Widget()) return FALSE;
  const QString s = QString::fromStdString(AnsiToUtf8(std::string_view(text, static_cast<size_t>(length)), DisplayCodePage()));
  QImage& surface = dc->window->Surface();
  {
    QPainter p(&surface);
    QFont font = dc->window->Widget()->font();
    p.setFont(font);
    const QFontMetrics m(font);
    const int w = m.horizontalAdvance(s);
    int left = x;
    if ((dc->align & TA_CENTER) == TA_CENTER) left = x - w / 2;
    else if (dc->align & TA_RIGHT) left = x - w;
    int top = y;
    if ((dc->align & TA_BASELINE) == TA_BASELINE) top = y - m.ascent();
    else if (dc->align & TA_BOTTOM) top = y - m.height();
    if (dc->bkMode == OPAQUE) p.fillRect(QRect(left, top, w, m.height()), ToQColor(dc->bkColour));
    p.setPen(ToQColor(dc->textColour));
    p.drawText(left, top + m.ascent(), s);
  }
  dc->window->SurfaceChanged();
  return TRUE;
}
