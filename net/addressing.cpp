// The host's address methods, same-socket mode and the fake video burst.
#include "control/error_table.h"
#include "control/quelvora_ctrl.h"
#include "net/endpoint.h"
#include "net/fake_video.h"
#include "net/shared_socket.h"
#include "platform/ui/msgbox.h"

BOOL CQuelvoraCtrl::SetLocalIPAddress(LPCTSTR szIP, short usPort) {
  // The probe is a socket: a control whose start-up stopped early has no socket library.
  if (m_eStage != ConstructionStage::Complete) return FALSE;
  return StoreLocalAddress(m_endpoints, m_nCodeOrDecode, szIP, static_cast<USHORT>(usPort));
}

long CQuelvoraCtrl::SetRemoteIPAddress(LPCTSTR szIP, short usPort) {
  return StoreRemoteAddress(m_endpoints, m_nCodeOrDecode, szIP, static_cast<USHORT>(usPort));
}

BOOL CQuelvoraCtrl::UseSameSocketForSendAndRecv(long nDeviceID) {
  m_bSameSocket = 1;
  TheSharedSocketTable().SelectSlot(nDeviceID);
  return TRUE;
}

BOOL CQuelvoraCtrl::SendFakeVideo(short nPacketNum) {
  if (m_eStage != ConstructionStage::Complete) return FALSE;
  if (!RunFakeVideo(m_sockSend, m_bSameSocket != 0, m_endpoints, m_headerCounters.Load(), nPacketNum,
                    TheSharedSocketTable())) {
    if (m_bShowErrorDialog == 1) AfxMessageBox(kTextSendSocketFailed);
    return FALSE;
  }
  return TRUE;
}
