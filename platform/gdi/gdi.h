// GDI over QPainter: device contexts, colours, fonts, text and device-independent bitmaps.
//
// A device context paints either into a window's backing surface (GetDC on a window) or into
// the bitmap selected into a memory context. Each drawing call opens a short QPainter on the
// target and closes it again, so a context may be held across event-loop turns.
// Font face names are matched by fontconfig: a metric-compatible face stands in for a missing
// one ("Courier New" -> Liberation Mono, "楷体_GB2312" -> AR PL UKai). Face names and texts
// arrive as bytes in the display code page (DisplayCodePage(), 936 = GB2312 by default).
#pragma once

#include <string>

#include "platform/kernel/windef.h"
#include "platform/ui/wnd.h"

struct HGDIOBJ__;
using HGDIOBJ = HGDIOBJ__*;
using HFONT = HGDIOBJ;
using HBITMAP = HGDIOBJ;
using HBRUSH = HGDIOBJ;

constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

constexpr UINT TA_LEFT = 0;
constexpr UINT TA_RIGHT = 2;
constexpr UINT TA_CENTER = 6;
constexpr UINT TA_TOP = 0;
constexpr UINT TA_BOTTOM = 8;
constexpr UINT TA_BASELINE = 24;

constexpr int FW_NORMAL = 400;
constexpr int FW_BOLD = 700;
constexpr DWORD DEFAULT_CHARSET = 1;
constexpr DWORD OUT_DEFAULT_PRECIS = 0;
constexpr DWORD CLIP_DEFAULT_PRECIS = 0;
constexpr DWORD DEFAULT_QUALITY = 0;
constexpr DWORD DEFAULT_PITCH = 0;
constexpr DWORD FF_DONTCARE = 0;

constexpr DWORD CBM_INIT = 4;
constexpr UINT DIB_RGB_COLORS = 0;

constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
constexpr UINT GDI_ERROR = 0xFFFFFFFF;

// Contexts. CreateDCA knows the "DISPLAY" driver only: that context is the reference for
// compatible memory contexts, and drawing into it fails (nothing here paints the whole screen).
// A memory context starts with a 1 x 1 bitmap of its own; bitmaps go into memory contexts only,
// into one at a time. Objects still selected into a context are not deleted (FALSE).
HDC CreateDCA(LPCSTR driver, LPCSTR device, LPCSTR output, const void* initData);
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
// A context that paints into a window's surface (used by CWnd::GetDC).
HDC CreateWindowDC(CWnd* window);
void ReleaseWindowDC(HDC dc);

// State.
COLORREF SetBkColor(HDC dc, COLORREF colour);
int SetBkMode(HDC dc, int mode);
COLORREF SetTextColor(HDC dc, COLORREF colour);
UINT SetTextAlign(HDC dc, UINT align);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);

// Drawing. FillRect fills with a colour (the control's only brushes are solid colours).
BOOL FillRect(HDC dc, const RECT* rect, COLORREF colour);
// Fills the rectangle with the context's background colour (what ExtTextOut with ETO_OPAQUE does).
BOOL FillSolidRectWithBkColor(HDC dc, const RECT* rect);
// Text in the display code page, at a reference point on the text cell chosen by the alignment
// (left/centre/right of the advance, top/bottom/baseline of ascent + descent), in the text
// colour, over a box of the background colour when the mode is OPAQUE.
BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int length);

// Fonts: a positive height is the cell height in pixels (ascent + descent), a negative one the
// em height, 0 a default size; weight FW_* (0 = normal). Width, escapement, orientation, charset,
// precision, quality and pitch are accepted and not used: text is drawn upright and antialiased.
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision, DWORD clipPrecision,
                  DWORD quality, DWORD pitchAndFamily, LPCSTR face);
// The file of the face fontconfig chooses for a face name (display code page bytes) and weight,
// for tests and diagnostics.
std::string MatchedFontFile(LPCSTR face, int weight = FW_NORMAL);

// Device-independent bitmaps (24-bit and 16-bit 5-5-5 BI_RGB, bottom-up or top-down rows
// padded to 4 bytes as the platform lays them out). A bitmap is a 32-bit image as wide and high
// as the header; CBM_INIT fills it from bits laid out as the info says (same width). GetDIBits
// writes scan lines [startScan, startScan + scanLines) of the bitmap, counted as the info's
// height sign says, in the info's format, and answers how many it wrote (0 on failure).
HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                       const BITMAPINFO* info, UINT usage);
int GetDIBits(HDC dc, HBITMAP bitmap, UINT startScan, UINT scanLines, void* bits, BITMAPINFO* info,
              UINT usage);
