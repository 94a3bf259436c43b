// The full-screen view: a borderless modal dialog over the whole primary screen that the receive
// path draws the shown client's pictures into while it is open, in place of the control's window.
// ESC or the item of its right-click menu ends it; Enter does not.
#pragma once

#include "display/packed_picture.h"
#include "platform/drawdib/drawdib.h"
#include "platform/ui/dialog.h"

constexpr int IDD_FULLSCREEN = 202;

// The view's one menu item, and the item of the control's own right-click menu that opens it.
constexpr char kTextCancelFullScreen[] = "Cancel Full Screen(ESC)";
constexpr char kTextFullScreen[] = "Full Screen";
// What the view shows until the first picture covers it.
constexpr char kTextPressEscToQuit[] = "Press ESC to quit.";

class CFullScreenDlg : public CDialog {
 public:
  CFullScreenDlg();
  ~CFullScreenDlg() override;

  // Draws one picture (24-bit, bottom row first, rows of exactly width x 3 bytes) stretched over
  // the whole client area, without keeping its aspect ratio.
  void DrawFrame(const void* bits, int width, int height);

  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  BOOL PreTranslateMessage(MSG* msg) override;
  BOOL OnCommand(UINT id) override;

  HDRAWDIB m_hDrawDib = nullptr;
  CMenu m_menuCancel;

 private:
  LRESULT OnCreate();
  void OnKeyDown(UINT nChar);
  void OnRButtonDown();

  CPackedPictureDrawer m_drawer;
};
