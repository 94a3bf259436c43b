// The full-screen view: a borderless dialog over the whole screen that the receive path draws
// the shown client's pictures into while it is open, in place of the control's window.
#pragma once

#include "platform/drawdib/drawdib.h"
#include "platform/ui/dialog.h"

constexpr int IDD_FULLSCREEN = 202;

class CFullScreenDlg : public CDialog {
 public:
  CFullScreenDlg();
  ~CFullScreenDlg() override;

  // Draws one picture (24-bit, bottom row first, rows of width x 3 bytes) stretched over the
  // whole client area, without keeping its aspect ratio.
  void DrawFrame(const void* bits, int width, int height);

 protected:
  HDRAWDIB m_hDrawDib = nullptr;
};
