#include "control/about_dlg.h"

#include "resources/dialog_templates.h"

CAboutDlg::CAboutDlg() : CDialog(&AboutDialogTemplate(), nullptr) {}

HBRUSH CAboutDlg::OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor) {
  HBRUSH brush = CDialog::OnCtlColor(dc, control, ctlColor);
  if (control && (control == GetDlgItem(IDC_ABOUT_TITLE) || control == GetDlgItem(IDC_ABOUT_VERSION)))
    dc->SetTextColor(RGB(255, 0, 0));
  return brush;
}
