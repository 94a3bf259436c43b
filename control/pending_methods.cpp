// Methods whose subsystems are not built yet: each does its guard and returns its documented
// failure value. Each moves to its subsystem's folder when that subsystem lands.
#include "control/error_table.h"
#include "control/quelvora_ctrl.h"

BOOL CQuelvoraCtrl::RecvVideo() {
  if (m_bReceiving) {
    m_nErrorID = ERR_ALREADY_RECEIVING;
    return FALSE;
  }
  return FALSE;
}

BOOL CQuelvoraCtrl::StopRecv() {
  if (!m_bReceiving) {
    m_nErrorID = ERR_NOT_RECEIVING;
    return FALSE;
  }
  return FALSE;
}

void CQuelvoraCtrl::ShowFullScreen() {}
long CQuelvoraCtrl::AddClient(LPCTSTR, short, LPCTSTR, LPCTSTR) { return -1; }
BOOL CQuelvoraCtrl::RemoveClient(long) { return FALSE; }
BOOL CQuelvoraCtrl::RemoveClientAll() { return FALSE; }
BOOL CQuelvoraCtrl::Forward(long, long) { return FALSE; }
BOOL CQuelvoraCtrl::UnForward(long, long) { return FALSE; }
BOOL CQuelvoraCtrl::UnForwardAll() { return FALSE; }
BOOL CQuelvoraCtrl::ShowClient(long) { return FALSE; }
