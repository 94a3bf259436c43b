// The About box: a captioned modal dialog whose two title lines are red.
#pragma once

#include "platform/ui/dialog.h"

constexpr int IDD_ABOUTBOX = 1;
constexpr int IDC_ABOUT_TITLE = 204;
constexpr int IDC_ABOUT_VERSION = 205;

class CAboutDlg : public CDialog {
 public:
  CAboutDlg();

 protected:
  HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor) override;
};
