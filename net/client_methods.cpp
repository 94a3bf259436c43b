// The client table's host methods: adding, removing, showing and forwarding clients.
#include "codec/frame_decoder.h"
#include "control/quelvora_ctrl.h"
#include "recording/avi_writer.h"

long CQuelvoraCtrl::AddClient(LPCTSTR szIP, short usPort, LPCTSTR szFileName, LPCTSTR szClientName) {
  const int id = m_clients.FreeID();
  if (id < 0) return -1;
  ClientRecord& client = m_clients[id];
  // A null text adds a client that does not record; any other text, the empty one included, is a
  // file name.
  if (szFileName != nullptr) {
    m_clients.SetFileName(id, szFileName);
    // A control whose start-up did not start the recording library records nothing.
    if (!m_bAviStarted)
      AVI_ReportOpenFailure(AVIERR_NOTINITIALIZED);
    else if (AVI_SetUpRecording(szFileName, m_nFrameRate, m_nVideoInWidth, m_nVideoInHeight, m_nVideoOutWidth,
                                m_nVideoOutHeight, &client.pAviFile, &client.pAviStream)) {
      // Without a decoder, or the room to put its frames together, the client records nothing;
      // that is all a failure here means. Its pictures keep the size its file was made for.
      codec::CreateDecoder(&client.xvidDecParam, m_nVideoOutWidth, m_nVideoOutHeight);
      m_clients.GiveRecordingRoom(id, m_nVideoOutWidth, m_nVideoOutHeight);
    }
  }
  m_clients.Occupy(id, szIP, static_cast<USHORT>(usPort), szClientName);
  return id;
}

BOOL CQuelvoraCtrl::RemoveClient(long lClientID) {
  ClientRecord* client = m_clients.InUse(lClientID);
  if (client == nullptr) return FALSE;
  AVI_CloseFile(&client->pAviFile, &client->pAviStream);
  codec::DestroyDecoder(&client->xvidDecParam);
  m_clients.Vacate(static_cast<int>(lClientID));
  return TRUE;
}

BOOL CQuelvoraCtrl::RemoveClientAll() {
  if (m_nShowClient != 0) m_display.Reset();
  m_nShowClient = 0;
  for (int id = 0; id <= kMaxClientID; ++id) RemoveClient(id);
  return TRUE;
}

BOOL CQuelvoraCtrl::Forward(long lSrcClient, long lDstClient) {
  return m_clients.Forward(lSrcClient, lDstClient);
}

BOOL CQuelvoraCtrl::UnForward(long lSrcClient, long lDstClient) {
  return m_clients.UnForward(lSrcClient, lDstClient);
}

BOOL CQuelvoraCtrl::UnForwardAll() {
  m_clients.UnForwardAll();
  return TRUE;
}

BOOL CQuelvoraCtrl::ShowClient(long lClientID) {
  if (!IsClientID(lClientID)) return FALSE;
  // Another client's pictures start from its next key frame, which the display asks it for.
  if (lClientID != m_nShowClient) m_display.Reset();
  m_nShowClient = static_cast<int>(lClientID);
  return TRUE;
}
