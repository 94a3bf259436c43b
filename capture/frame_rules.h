// The rules the frame callback applies to each captured frame, free of any window or driver.
#pragma once

#include <cstddef>

#include "platform/kernel/windef.h"

// The module-wide frame-rate gate: a frame is taken when at least (1000 / rate - 10) ms have
// passed since the last taken frame (unsigned 32-bit arithmetic); at 30 fps every frame is taken.
// Shared by every control of the process, from several streaming threads: deciding and storing
// `now` as the last taken tick are one atomic step, so two threads never both take a frame in
// the same interval.
bool FrameGateTake(int frameRate, DWORD now);
void SetFrameGateForTesting(DWORD lastTaken);
void ResetFrameGateForTesting();

// Where the user's name goes: the bottom strip of the picture.
struct OverlayGeometry {
  int stripHeight;  // rows
  int fontHeight;   // cell height in pixels
  int x;            // centre of the text
  int y;            // bottom of the text: the strip's top row counted from the picture's bottom
};
OverlayGeometry OverlayGeometryFor(int width, int height);

// Exchanges rows i and height-1-i of a picture of `rowBytes`-byte rows, in place.
void FlipRows(BYTE* picture, size_t rowBytes, int height);
