#include "display/full_screen_dlg.h"

#include "resources/dialog_templates.h"

CFullScreenDlg::CFullScreenDlg() : CDialog(&FullScreenDialogTemplate(), nullptr), m_hDrawDib(DrawDibOpen()) {}

CFullScreenDlg::~CFullScreenDlg() { DrawDibClose(m_hDrawDib); }

void CFullScreenDlg::DrawFrame(const void* bits, int width, int height) {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(width * height * 3);
  HDC dc = GetDC();
  RECT client;
  GetClientRect(&client);
  DrawDibDraw(m_hDrawDib, dc, client.left, client.top, client.right - client.left, client.bottom - client.top,
              &header, bits, 0, 0, width, height, 0);
  ReleaseDC(dc);
}
