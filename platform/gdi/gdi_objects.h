// The objects behind the GDI handles, shared by the files of this stand-in and by the stand-ins
// that draw into device contexts (DrawDib).
#pragma once

#include <QFont>
#include <QImage>
#include <memory>
#include <string>

#include "platform/gdi/gdi.h"

class QPainter;
class QPaintDevice;

struct HGDIOBJ__ {
  enum class Type { kFont, kBitmap };
  explicit HGDIOBJ__(Type t) : type(t) {}
  virtual ~HGDIOBJ__() = default;
  const Type type;
  // Contexts this object is selected into: a bitmap is in at most one, a font in any number.
  // An object that is selected somewhere cannot be deleted.
  int selections = 0;
};

struct GdiFont final : HGDIOBJ__ {
  GdiFont() : HGDIOBJ__(Type::kFont) {}
  QFont font;            // family, weight, style; the size is set per target (FontForDevice)
  double emPixels = 16;  // em height giving the requested cell height
  bool stock = false;    // the contexts' default font: never deleted
};

struct GdiBitmap final : HGDIOBJ__ {
  GdiBitmap() : HGDIOBJ__(Type::kBitmap) {}
  QImage image;         // Format_RGB32
  HDC owner = nullptr;  // set for a memory context's initial 1 x 1 bitmap
};

struct HDC__ {
  enum class Kind { kDisplay, kMemory, kWindow };
  explicit HDC__(Kind k) : kind(k) {}
  const Kind kind;
  HWND window = nullptr;                     // kWindow
  GdiBitmap* bitmap = nullptr;               // kMemory: the selected bitmap
  std::unique_ptr<GdiBitmap> initialBitmap;  // kMemory: selected at creation, owned by the context
  GdiFont* font = nullptr;
  COLORREF bkColor = RGB(255, 255, 255);
  int bkMode = OPAQUE;
  COLORREF textColor = RGB(0, 0, 0);
  UINT textAlign = TA_LEFT | TA_TOP;
};

// Makes a new object known to the handle checks (every call validates the handles it is given).
void RegisterGdiObject(HGDIOBJ__* object);

// Opens a painter on the context's target (the selected bitmap or the window's surface), runs
// paint and ends the painter; a window is then told that its surface changed. FALSE for an unknown
// context or one with nothing to draw on (the display context, a destroyed window).
// Called for every picture drawn, so the painting step is passed by reference, not as a
// std::function that would allocate for it.
BOOL PaintOnDCWith(HDC dc, void (*paint)(QPainter&, const void*), const void* context);
template <typename Paint>
BOOL PaintOnDC(HDC dc, const Paint& paint) {
  return PaintOnDCWith(
      dc, [](QPainter& painter, const void* p) { (*static_cast<const Paint*>(p))(painter); }, &paint);
}

// The font of an object sized for a paint device (sizes depend on the device's resolution).
QFont FontForDevice(const GdiFont& font, const QPaintDevice& device);
// The font every context starts with.
GdiFont* StockFont();

// Window targets (wnd_dc.cpp): the surface of a live window, or null.
QImage* WindowSurface(HWND window);
void WindowSurfaceChanged(HWND window);
