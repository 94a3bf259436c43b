// ShowFullScreen: the dispatch method and the handler of the control menu's command 112.
#include <memory>

#include "control/quelvora_ctrl.h"
#include "display/full_screen_dlg.h"

void CQuelvoraCtrl::ShowFullScreen() {
  // Only script code running inside the open view's modal loop can get here while it is open:
  // that view is brought forward instead of stacking a second one on it.
  if (m_pFullScreenDlg != nullptr) {
    m_pFullScreenDlg->SetWindowPos(HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return;
  }
  auto view = std::make_unique<CFullScreenDlg>();
  m_pFullScreenDlg = view.get();
  m_bFullScreen = 1;
  view->DoModal();
  m_bFullScreen = 0;
  m_pFullScreenDlg = nullptr;
}
