// CreateFontA and the sizes of fonts on a target.
#include <QFontMetrics>
#include <QFontMetricsF>
#include <map>
#include <mutex>
#include <tuple>

#include "platform/gdi/font_match.h"
#include "platform/gdi/gdi_objects.h"
#include "platform/kernel/codepage.h"
#include "platform/ui/msgbox.h"

namespace {

// Measuring happens at 72 dots per inch, where a point size is a pixel size.
const QImage& ReferenceDevice() {
  static const QImage device = [] {
    QImage image(1, 1, QImage::Format_RGB32);
    image.setDotsPerMeterX(2835);
    image.setDotsPerMeterY(2835);
    return image;
  }();
  return device;
}

int CellHeight(QFont font, double emPixels) {
  font.setPointSizeF(emPixels);
  QFontMetrics metrics(font, &ReferenceDevice());
  return metrics.ascent() + metrics.descent();
}

// The em height whose cell (ascent + descent, whole pixels) is the largest not above the
// requested one: the face's proportion, then a few steps down where rounding overshoots.
double EmForCellHeight(const QFont& font, int cell) {
  constexpr double kProbe = 200;
  QFont probe = font;
  probe.setPointSizeF(kProbe);
  QFontMetricsF metrics(probe, &ReferenceDevice());
  const double ratio = (metrics.ascent() + metrics.descent()) / kProbe;
  double em = ratio > 0 ? cell / ratio : cell;
  for (int i = 0; i < 16 && em > 1 && CellHeight(font, em) > cell; ++i) em *= 0.98;
  return em;
}

struct ResolvedFont {
  QFont font;
  double emPixels;
};

// Face bytes, their code page, cell height, weight, italic, underline, strike-out.
using FontKey = std::tuple<std::string, int, int, int, bool, bool, bool>;

ResolvedFont Resolve(const FontKey& key) {
  static std::mutex mutex;
  static std::map<FontKey, ResolvedFont> cache;
  {
    std::lock_guard lock(mutex);
    if (auto it = cache.find(key); it != cache.end()) return it->second;
  }
  const auto& [face, codePage, height, weight, italic, underline, strikeOut] = key;
  const std::string faceUtf8 = AnsiToUtf8(face, codePage);
  QFont font(QtFamilyOf(MatchFace(faceUtf8, weight, italic)));
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setItalic(italic);
  font.setUnderline(underline);
  font.setStrikeOut(strikeOut);
  constexpr int kDefaultCell = 16;
  const double em = height > 0   ? EmForCellHeight(font, height)
                    : height < 0 ? -static_cast<double>(height)
                                 : EmForCellHeight(font, kDefaultCell);
  ResolvedFont resolved{font, em};
  std::lock_guard lock(mutex);
  cache.emplace(key, resolved);
  return resolved;
}

}  // namespace

HFONT CreateFontA(int height, int /*width*/, int /*escapement*/, int /*orientation*/, int weight,
                  DWORD italic, DWORD underline, DWORD strikeOut, DWORD /*charSet*/, DWORD /*outPrecision*/,
                  DWORD /*clipPrecision*/, DWORD /*quality*/, DWORD /*pitchAndFamily*/, LPCSTR face) {
  if (weight <= 0) weight = FW_NORMAL;
  if (weight > 1000) weight = 1000;
  const ResolvedFont resolved = Resolve(
      {face ? face : "", DisplayCodePage(), height, weight, italic != 0, underline != 0, strikeOut != 0});
  auto* font = new GdiFont;
  font->font = resolved.font;
  font->emPixels = resolved.emPixels;
  RegisterGdiObject(font);
  return font;
}

std::string MatchedFontFile(LPCSTR face, int weight) {
  return MatchFace(AnsiToUtf8(face ? face : "", DisplayCodePage()), weight, false).file;
}

QFont FontForDevice(const GdiFont& font, const QPaintDevice& device) {
  QFont sized = font.font;
  const int dpi = device.logicalDpiY() > 0 ? device.logicalDpiY() : 72;
  sized.setPointSizeF(font.emPixels * 72.0 / dpi);
  return sized;
}

GdiFont* StockFont() {
  // The platform's system font: bold, 16 pixels from the top of the cell to its bottom.
  static GdiFont* font = [] {
    const ResolvedFont resolved = Resolve({"System", 936, 16, FW_BOLD, false, false, false});
    auto* f = new GdiFont;
    f->font = resolved.font;
    f->emPixels = resolved.emPixels;
    f->stock = true;
    return f;
  }();
  return font;
}
