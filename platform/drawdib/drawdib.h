// DrawDib over QPainter: draws a device-independent bitmap stretched into a device context.
//
// Pictures are 24-bit BI_RGB, rows padded to 4 bytes, bottom row first (or top row first for a
// negative height). The source rectangle is in the picture's own coordinates, counted from its
// bottom-left corner for a bottom-up picture as the platform does; it must lie inside the picture.
// Scaling is bilinear, so a small picture stretched over a large window looks smooth.
#pragma once

#include "platform/gdi/gdi.h"
#include "platform/kernel/windef.h"

struct HDRAWDIB__;
using HDRAWDIB = HDRAWDIB__*;

HDRAWDIB DrawDibOpen();
BOOL DrawDibClose(HDRAWDIB hdd);
// Draws source (xSrc, ySrc, dxSrc, dySrc) of the picture over destination (xDst, yDst, dxDst,
// dyDst) of the context's target. Flags are accepted and not used. A handle is used by one
// thread at a time.
BOOL DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst,
                 const BITMAPINFOHEADER* lpbi, const void* bits, int xSrc, int ySrc, int dxSrc, int dySrc,
                 UINT flags);

// The version of the video library: major number in the top byte, minor in the next (1.10).
DWORD VideoForWindowsVersion();
// Tests make the library look older or newer; 0 restores the real version.
void SetVideoForWindowsVersionForTesting(DWORD version);
