#include "platform/drawdib/drawdib.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_set>

#include "platform/gdi/dib.h"
#include "platform/gdi/gdi_objects.h"

struct HDRAWDIB__ {
  // The source rectangle converted to top-down 32-bit rows, kept between draws so that a stream
  // of pictures of one size allocates once.
  QImage scratch;
};

namespace {


std::mutex g_mutex;
std::unordered_set<const HDRAWDIB__*> g_handles;

bool Live(HDRAWDIB hdd) {
  std::lock_guard lock(g_mutex);
  return hdd && g_handles.count(hdd);
}

}  // namespace

HDRAWDIB DrawDibOpen() {
  auto* hdd = new HDRAWDIB__;
  std::lock_guard lock(g_mutex);
  g_handles.insert(hdd);
  return hdd;
}

BOOL DrawDibClose(HDRAWDIB hdd) {
  std::lock_guard lock(g_mutex);
  if (!hdd || !g_handles.erase(hdd)) return FALSE;
  delete hdd;
  return TRUE;
}

BOOL DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst,
                 const BITMAPINFOHEADER* lpbi, const void* bits, int xSrc, int ySrc, int dxSrc, int dySrc,
                 UINT /*flags*/) {
  if (!Live(hdd) || !lpbi || !bits || lpbi->biBitCount != 24 || !IsSupportedDib(*lpbi)) return FALSE;
  if (dxDst <= 0 || dyDst <= 0 || dxSrc <= 0 || dySrc <= 0) return FALSE;
  const int width = lpbi->biWidth;
  const int height = lpbi->biHeight > 0 ? lpbi->biHeight : -lpbi->biHeight;
  if (xSrc < 0 || ySrc < 0 || dxSrc > width - xSrc || dySrc > height - ySrc) return FALSE;

  const bool bottomUp = lpbi->biHeight > 0;
  const std::size_t stride = DibStride(width, 24);
  const auto* base = static_cast<const std::uint8_t*>(bits);
  // Source rows [first, last) of the rectangle into 32-bit rows at (x, y) of `target`, columns
  // [skip, skip + count) of each.
  const auto convert = [&](QImage& target, int x, int y, int first, int last, int skip, int count) {
    for (int row = first; row < last; ++row) {
      // Scan lines count from the bottom of a bottom-up picture, and so does ySrc.
      const int scan = bottomUp ? ySrc + dySrc - 1 - row : ySrc + row;
      const std::uint8_t* in =
          base + static_cast<std::size_t>(scan) * stride + static_cast<std::size_t>(xSrc + skip) * 3;
      Bgr24RowToRgb32(in, reinterpret_cast<std::uint32_t*>(target.scanLine(y + row)) + x + skip, count);
    }
  };
  bool converted = true;
  const BOOL painted = PaintOnDC(hdc, [&](QPainter& painter) {
    // Unstretched onto a 32-bit picture, the rows go straight into it: what drawing them would
    // do, without the copy in between.
    QPaintDevice* device = painter.device();
    if (dxDst == dxSrc && dyDst == dySrc && device->devType() == QInternal::Image &&
        painter.transform().isIdentity() && !painter.hasClipping()) {
      auto* target = static_cast<QImage*>(device);
      if (target->format() == QImage::Format_RGB32) {
        const int first = std::max(0, -yDst), last = std::min(dySrc, target->height() - yDst);
        const int skip = std::max(0, -xDst), end = std::min(dxSrc, target->width() - xDst);
        if (first < last && skip < end) convert(*target, xDst, yDst, first, last, skip, end - skip);
        return;
      }
    }
    QImage& scratch = hdd->scratch;
    if (scratch.width() != dxSrc || scratch.height() != dySrc) {
      scratch = QImage(dxSrc, dySrc, QImage::Format_RGB32);
      if (scratch.isNull()) {
        converted = false;
        return;
      }
    }
    convert(scratch, 0, 0, 0, dySrc, 0, dxSrc);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRect(xDst, yDst, dxDst, dyDst), scratch);
  });
  return painted && converted;
}

