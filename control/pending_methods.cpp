// Methods whose subsystems are not built yet: each does its guard and returns its documented
// failure value. Each moves to its subsystem's folder when that subsystem lands.
#include "control/error_table.h"
#include "control/quelvora_ctrl.h"

BOOL CQuelvoraCtrl::InitCapture(short) {
  if (m_bCaptureOpen) {
    m_nErrorID = ERR_DRIVER_ALREADY_CONNECTED;
    return FALSE;
  }
  // No capture driver can be connected yet.
  m_nErrorID = ERR_CONNECT_DRIVER_FAILED;
  return FALSE;
}

BOOL CQuelvoraCtrl::CloseCapture() {
  if (!m_bCaptureOpen) {
    m_nErrorID = ERR_DRIVER_NOT_CONNECTED;
    return FALSE;
  }
  m_bCaptureOpen = 0;
  return TRUE;
}

BOOL CQuelvoraCtrl::HaveVideoCapture() { return FALSE; }

BOOL CQuelvoraCtrl::SendVideo() {
  if (!m_bCaptureOpen) {
    m_nErrorID = ERR_DRIVER_NOT_CONNECTED;
    return FALSE;
  }
  return FALSE;
}

BOOL CQuelvoraCtrl::StopSend() {
  if (!m_bSending) {
    m_nErrorID = ERR_NOT_SENDING;
    return FALSE;
  }
  return FALSE;
}

BOOL CQuelvoraCtrl::SetLocalIPAddress(LPCTSTR, short) { return FALSE; }
long CQuelvoraCtrl::SetRemoteIPAddress(LPCTSTR, short) { return -1; }
BOOL CQuelvoraCtrl::UseSameSocketForSendAndRecv(long) { return FALSE; }
BOOL CQuelvoraCtrl::SendFakeVideo(short) { return FALSE; }
void CQuelvoraCtrl::ShowFullScreen() {}
