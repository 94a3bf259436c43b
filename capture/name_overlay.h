// The user's name drawn into the bottom strip of a captured picture, and the one-line text
// routine it uses.
#pragma once

#include "platform/gdi/gdi.h"
#include "platform/kernel/windef.h"

// Draws one line of text at (x, y) on a transparent background in a bold font of the face and
// cell height given. Alignment 1 centres the text on x, 2 ends it at x, anything else starts it
// there; y is the text's bottom edge. The context's state is restored afterwards.
void DrawOverlayText(HDC hdc, int x, int y, int alignment, LPCSTR face, int height, COLORREF colour,
                     LPCSTR text);

// Draws `name` in yellow, centred, onto the bottom strip of a bottom-up DIB (rows padded to 4
// bytes) of the given size and depth (24 or 16), in the face of the language (1 or 2; other
// languages draw nothing). Only the strip is converted to a bitmap and back.
void DrawNameOverlay(BYTE* bits, int width, int height, WORD bitCount, int language, const char* name);
