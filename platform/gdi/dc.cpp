// Device contexts: creation, state, object selection, fills, text and DIB transfer.
#include <strings.h>

#include <QColor>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <unordered_set>

#include "platform/gdi/dib.h"
#include "platform/gdi/gdi_objects.h"
#include "platform/kernel/codepage.h"
#include "platform/ui/msgbox.h"

namespace {

// Every live handle, so that a stale or foreign handle is refused instead of followed. Contexts
// are used by one thread at a time (as on the platform); the registry itself is shared.
std::mutex g_mutex;
std::unordered_set<const void*> g_objects;
std::unordered_set<const void*> g_contexts;

bool LiveContext(HDC dc) { return dc && g_contexts.count(dc); }
bool LiveObject(HGDIOBJ object) { return object && g_objects.count(object); }

QColor ToQColor(COLORREF colour) { return QColor(GetRValue(colour), GetGValue(colour), GetBValue(colour)); }

HDC NewContext(HDC__::Kind kind) {
  auto* dc = new HDC__(kind);
  dc->font = StockFont();
  std::lock_guard lock(g_mutex);
  g_objects.insert(dc->font);
  ++dc->font->selections;
  g_contexts.insert(dc);
  return dc;
}

// What a drawing call reads of a context, taken under the lock.
struct DrawState {
  GdiFont* font;
  COLORREF bkColor;
  int bkMode;
  COLORREF textColor;
  UINT textAlign;
};

bool Snapshot(HDC dc, DrawState& state) {
  std::lock_guard lock(g_mutex);
  if (!LiveContext(dc)) return false;
  state = {dc->font, dc->bkColor, dc->bkMode, dc->textColor, dc->textAlign};
  return true;
}

}  // namespace

void RegisterGdiObject(HGDIOBJ__* object) {
  std::lock_guard lock(g_mutex);
  g_objects.insert(object);
}

HDC CreateDCA(LPCSTR driver, LPCSTR /*device*/, LPCSTR /*output*/, const void* /*initData*/) {
  if (!driver || strcasecmp(driver, "DISPLAY") != 0) return nullptr;
  return NewContext(HDC__::Kind::kDisplay);
}

HDC CreateCompatibleDC(HDC dc) {
  if (dc) {
    std::lock_guard lock(g_mutex);
    if (!LiveContext(dc)) return nullptr;
  }
  HDC memory = NewContext(HDC__::Kind::kMemory);
  // A memory context starts with a 1 x 1 bitmap of its own, so that selecting a bitmap in
  // hands back something that can be selected back before the context is deleted.
  auto initial = std::make_unique<GdiBitmap>();
  initial->image = QImage(1, 1, QImage::Format_RGB32);
  initial->image.fill(Qt::black);
  initial->owner = memory;
  initial->selections = 1;
  std::lock_guard lock(g_mutex);
  memory->bitmap = initial.get();
  g_objects.insert(initial.get());
  memory->initialBitmap = std::move(initial);
  return memory;
}

BOOL DeleteDC(HDC dc) {
  std::lock_guard lock(g_mutex);
  // A window's context goes back with ReleaseWindowDC.
  if (!LiveContext(dc) || dc->kind == HDC__::Kind::kWindow) return FALSE;
  --dc->font->selections;
  if (dc->bitmap) --dc->bitmap->selections;
  if (dc->initialBitmap) g_objects.erase(dc->initialBitmap.get());
  g_contexts.erase(dc);
  delete dc;
  return TRUE;
}

HDC CreateWindowDC(CWnd* window) {
  if (!window || !window->GetSafeHwnd()) return nullptr;
  HDC dc = NewContext(HDC__::Kind::kWindow);
  dc->window = window->GetSafeHwnd();
  return dc;
}

void ReleaseWindowDC(HDC dc) {
  std::lock_guard lock(g_mutex);
  if (!LiveContext(dc) || dc->kind != HDC__::Kind::kWindow) return;
  --dc->font->selections;
  g_contexts.erase(dc);
  delete dc;
}

COLORREF SetBkColor(HDC dc, COLORREF colour) {
  std::lock_guard lock(g_mutex);
  if (!LiveContext(dc)) return CLR_INVALID;
  return std::exchange(dc->bkColor, colour & 0xFFFFFF);
}

int SetBkMode(HDC dc, int mode) {
  std::lock_guard lock(g_mutex);
  if (!LiveContext(dc) || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  return std::exchange(dc->bkMode, mode);
}

COLORREF SetTextColor(HDC dc, COLORREF colour) {
  std::lock_guard lock(g_mutex);
  if (!LiveContext(dc)) return CLR_INVALID;
  return std::exchange(dc->textColor, colour & 0xFFFFFF);
}

UINT SetTextAlign(HDC dc, UINT align) {
  std::lock_guard lock(g_mutex);
  if (!LiveContext(dc)) return GDI_ERROR;
  return std::exchange(dc->textAlign, align);
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  std::lock_guard lock(g_mutex);
  if (!LiveContext(dc) || !LiveObject(object)) return nullptr;
  if (object->type == HGDIOBJ__::Type::kFont) {
    auto* font = static_cast<GdiFont*>(object);
    GdiFont* previous = dc->font;
    --previous->selections;
    ++font->selections;
    dc->font = font;
    return previous;
  }
  // Bitmaps go into memory contexts only, one context at a time.
  auto* bitmap = static_cast<GdiBitmap*>(object);
  if (dc->kind != HDC__::Kind::kMemory) return nullptr;
  if (bitmap == dc->bitmap) return bitmap;
  if (bitmap->selections > 0 || (bitmap->owner && bitmap->owner != dc)) return nullptr;
  GdiBitmap* previous = dc->bitmap;
  --previous->selections;
  ++bitmap->selections;
  dc->bitmap = bitmap;
  return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
  std::lock_guard lock(g_mutex);
  if (!LiveObject(object)) return FALSE;
  if (object->type == HGDIOBJ__::Type::kFont && static_cast<GdiFont*>(object)->stock) return TRUE;
  // Still in use: a context's own initial bitmap, or an object selected into a context.
  if (object->type == HGDIOBJ__::Type::kBitmap && static_cast<GdiBitmap*>(object)->owner) return FALSE;
  if (object->selections > 0) return FALSE;
  g_objects.erase(object);
  delete object;
  return TRUE;
}

BOOL PaintOnDCWith(HDC dc, void (*paint)(QPainter&, const void*), const void* context) {
  HDC__::Kind kind;
  GdiBitmap* bitmap;
  HWND window;
  {
    std::lock_guard lock(g_mutex);
    if (!LiveContext(dc)) return FALSE;
    kind = dc->kind;
    bitmap = dc->bitmap;
    window = dc->window;
  }
  QImage* target = nullptr;
  if (kind == HDC__::Kind::kMemory) target = &bitmap->image;
  if (kind == HDC__::Kind::kWindow) target = WindowSurface(window);
  if (!target || target->isNull()) return FALSE;
  {
    QPainter painter(target);
    if (!painter.isActive()) return FALSE;
    paint(painter, context);
  }
  if (kind == HDC__::Kind::kWindow) WindowSurfaceChanged(window);
  return TRUE;
}

BOOL FillRect(HDC dc, const RECT* rect, COLORREF colour) {
  if (!rect) return FALSE;
  const QRect area(QPoint(rect->left, rect->top), QPoint(rect->right - 1, rect->bottom - 1));
  return PaintOnDC(dc, [&](QPainter& painter) { painter.fillRect(area, ToQColor(colour)); });
}

BOOL FillSolidRectWithBkColor(HDC dc, const RECT* rect) {
  DrawState state;
  if (!Snapshot(dc, state)) return FALSE;
  return FillRect(dc, rect, state.bkColor);
}

BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int length) {
  if (!text || length < 0) return FALSE;
  DrawState state;
  if (!Snapshot(dc, state)) return FALSE;
  const QString unicode =
      QString::fromStdString(AnsiToUtf8({text, static_cast<std::size_t>(length)}, DisplayCodePage()));
  return PaintOnDC(dc, [&](QPainter& painter) {
    const QFont font = FontForDevice(*state.font, *painter.device());
    const QFontMetrics metrics(font, painter.device());
    const double width = QFontMetricsF(font, painter.device()).horizontalAdvance(unicode);
    // The reference point is a corner, an edge centre or a baseline point of the text cell.
    double left = x;
    switch (state.textAlign & TA_CENTER) {
      case TA_CENTER:
        left = x - width / 2;
        break;
      case TA_RIGHT:
        left = x - width;
        break;
      default:
        break;
    }
    int baseline = y + metrics.ascent();
    switch (state.textAlign & TA_BASELINE) {
      case TA_BASELINE:
        baseline = y;
        break;
      case TA_BOTTOM:
        baseline = y - metrics.descent();
        break;
      default:
        break;
    }
    if (state.bkMode == OPAQUE) {
      painter.fillRect(QRectF(left, baseline - metrics.ascent(), width, metrics.ascent() + metrics.descent()),
                       ToQColor(state.bkColor));
    }
    painter.setFont(font);
    painter.setPen(ToQColor(state.textColor));
    painter.drawText(QPointF(left, baseline), unicode);
  });
}

HBITMAP CreateDIBitmap(HDC /*dc*/, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                       const BITMAPINFO* info, UINT usage) {
  if (!header || header->biWidth <= 0 || header->biHeight == 0) return nullptr;
  const int width = header->biWidth;
  const int height = std::abs(header->biHeight);
  if (width > 32768 || height > 32768) return nullptr;
  const bool initialise = (init & CBM_INIT) != 0;
  if (initialise) {
    // The bits are read as the info describes them; rows of another width would not line up.
    if (!bits || !info || usage != DIB_RGB_COLORS || !IsSupportedDib(info->bmiHeader) ||
        info->bmiHeader.biWidth != width)
      return nullptr;
  }
  QImage image(width, height, QImage::Format_RGB32);
  if (image.isNull()) return nullptr;
  image.fill(Qt::black);
  if (initialise) {
    const int lines = std::min(height, std::abs(info->bmiHeader.biHeight));
    DibToImageRows(info->bmiHeader, bits, 0, lines, image);
  }
  auto* bitmap = new GdiBitmap;
  bitmap->image = std::move(image);
  RegisterGdiObject(bitmap);
  return bitmap;
}

int GetDIBits(HDC /*dc*/, HBITMAP bitmap, UINT startScan, UINT scanLines, void* bits, BITMAPINFO* info,
              UINT usage) {
  if (!bits || !info || usage != DIB_RGB_COLORS || !IsSupportedDib(info->bmiHeader)) return 0;
  std::lock_guard lock(g_mutex);
  if (!LiveObject(bitmap) || bitmap->type != HGDIOBJ__::Type::kBitmap) return 0;
  const QImage& image = static_cast<GdiBitmap*>(bitmap)->image;
  if (info->bmiHeader.biWidth != image.width()) return 0;
  const UINT height = static_cast<UINT>(image.height());
  if (startScan >= height) return 0;
  const UINT lines = std::min(scanLines, height - startScan);
  ImageRowsToDib(image, info->bmiHeader, static_cast<int>(startScan), static_cast<int>(lines), bits);
  return static_cast<int>(lines);
}
