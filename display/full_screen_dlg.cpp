#include "display/full_screen_dlg.h"

#include <cstring>

#include "control/quelvora_ctrl.h"
#include "resources/dialog_templates.h"

CFullScreenDlg::CFullScreenDlg() : CDialog(&FullScreenDialogTemplate(), nullptr), m_hDrawDib(DrawDibOpen()) {
  m_menuCancel.CreatePopupMenu();
  m_menuCancel.AppendMenu(MF_STRING, ID_CANCEL_FULL_SCREEN, kTextCancelFullScreen);
}

CFullScreenDlg::~CFullScreenDlg() {
  DrawDibClose(m_hDrawDib);
  m_menuCancel.DestroyMenu();
}

LRESULT CFullScreenDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate();
    case WM_KEYDOWN:
      OnKeyDown(static_cast<UINT>(wParam));
      return 0;
    case WM_RBUTTONDOWN:
      OnRButtonDown();
      return 0;
    default:
      return CDialog::WindowProc(message, wParam, lParam);
  }
}

LRESULT CFullScreenDlg::OnCreate() {
  if (Default() == -1) return -1;
  SetWindowPos(HWND_TOP, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), SWP_SHOWWINDOW);
  // Drawn once: the first picture covers it.
  HDC dc = GetDC();
  TextOutA(dc, 0, 0, kTextPressEscToQuit, static_cast<int>(std::strlen(kTextPressEscToQuit)));
  ReleaseDC(dc);
  return 0;
}

BOOL CFullScreenDlg::PreTranslateMessage(MSG* msg) {
  // Enter would press the dialog's default button and close the view.
  if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) return TRUE;
  return CDialog::PreTranslateMessage(msg);
}

void CFullScreenDlg::OnKeyDown(UINT nChar) {
  if (nChar == VK_ESCAPE) EndDialog(0);
  Default();
}

void CFullScreenDlg::OnRButtonDown() {
  POINT cursor;
  GetCursorPos(&cursor);
  m_menuCancel.TrackPopupMenu(TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, this);
  Default();
}

BOOL CFullScreenDlg::OnCommand(UINT id) {
  if (id == ID_CANCEL_FULL_SCREEN) {
    EndDialog(0);
    return TRUE;
  }
  return CDialog::OnCommand(id);
}

void CFullScreenDlg::DrawFrame(const void* bits, int width, int height) {
  HDC dc = GetDC();
  RECT client;
  GetClientRect(&client);
  m_drawer.Draw(m_hDrawDib, dc, client.left, client.top, client.right - client.left,
                client.bottom - client.top, bits, width, height);
  ReleaseDC(dc);
}
