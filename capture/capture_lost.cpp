// A camera that goes away while capture is open: unplugged, or failing every read.
#include "control/quelvora_ctrl.h"

LRESULT CQuelvoraCtrl::CaptureErrorCallback(HWND hWnd, int nID, LPCSTR) {
  if (nID != IDS_CAP_DRIVER_ERROR || !IsWindow(hWnd)) return TRUE;
  if (auto* ctrl = reinterpret_cast<CQuelvoraCtrl*>(capGetUserData(hWnd))) ctrl->OnCaptureLost();
  return TRUE;
}

// Capture stays open (the window shows black): CloseCapture, then InitCapture once the camera is
// back, connects it again.
void CQuelvoraCtrl::OnCaptureLost() {
  if (m_bSending) StopSending();
  ShowConnectFailureBox();
}
