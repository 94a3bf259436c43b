#include "capture/frame_rules.h"

#include <atomic>
#include <cstring>
#include <vector>

namespace {
std::atomic<DWORD> g_lastTakenTick{0};
}

bool FrameGateTake(int frameRate, DWORD now) {
  if (frameRate >= 30 || frameRate <= 0) {
    g_lastTakenTick.store(now);
    return true;
  }
  DWORD last = g_lastTakenTick.load();
  const DWORD threshold = static_cast<DWORD>(1000 / frameRate - 10);
  // A failed exchange reloads `last`: another thread took a frame meanwhile, so decide again.
  while (static_cast<DWORD>(now - last) >= threshold)
    if (g_lastTakenTick.compare_exchange_weak(last, now)) return true;
  return false;
}

void SetFrameGateForTesting(DWORD lastTaken) { g_lastTakenTick.store(lastTaken); }

void ResetFrameGateForTesting() { g_lastTakenTick.store(0); }

OverlayGeometry OverlayGeometryFor(int width, int height) {
  OverlayGeometry g{};
  if (width < 352) {
    g.stripHeight = height / 8;
    g.fontHeight = 18;
  } else {
    g.stripHeight = height / 15;
    g.fontHeight = 20;
  }
  g.x = width / 2;
  g.y = g.stripHeight;
  return g;
}

void FlipRows(BYTE* picture, size_t rowBytes, int height) {
  if (!picture || height < 2 || rowBytes == 0) return;
  std::vector<BYTE> temp(rowBytes);
  for (int i = 0; i < height / 2; ++i) {
    BYTE* a = picture + static_cast<size_t>(i) * rowBytes;
    BYTE* b = picture + static_cast<size_t>(height - 1 - i) * rowBytes;
    std::memcpy(temp.data(), a, rowBytes);
    std::memcpy(a, b, rowBytes);
    std::memcpy(b, temp.data(), rowBytes);
  }
}
