#include "net/client_table.h"

#include <cstring>
#include <new>

#include "platform/winsock/winsock.h"

using namespace winsock;

namespace {

// Copies at most size - 1 characters and always terminates, so nothing is written past the field.
void CopyCut(char* field, std::size_t size, const char* text) {
  std::memset(field, 0, size);
  std::strncpy(field, text, size - 1);
}

}  // namespace

ClientTable::ClientTable() = default;

int ClientTable::FreeID() const {
  for (int id = 1; id <= kMaxClientID; ++id) {
    if (!m_aRecords[id].bInUse) return id;
  }
  return -1;
}

ClientRecord* ClientTable::InUse(long lClientID) {
  if (!IsClientID(lClientID) || !m_aRecords[lClientID].bInUse) return nullptr;
  return &m_aRecords[lClientID];
}

void ClientTable::SetFileName(int id, const char* szFileName) {
  CopyCut(m_aRecords[id].szFileName, kClientFileNameSize, szFileName);
}

bool ClientTable::GiveRecordingRoom(int id, int nWidth, int nHeight) {
  ClientRecord& record = m_aRecords[id];
  record.pRecordingRoom.reset(new (std::nothrow) std::uint8_t[kFramesInFlight * kFrameSlotBytes]);
  record.recording.Attach(record.pRecordingRoom.get());
  record.nRecordWidth = nWidth;
  record.nRecordHeight = nHeight;
  return record.pRecordingRoom != nullptr;
}

void ClientTable::Occupy(int id, const char* szIP, USHORT usPort, const char* szClientName) {
  ClientRecord& record = m_aRecords[id];
  if (szClientName != nullptr) CopyCut(record.szClientName, kClientNameSize, szClientName);
  record.bInUse = TRUE;
  record.lForwardSource = -1;
  // A null or unreadable text gives INADDR_NONE, 255.255.255.255, which no sender has.
  record.ulAddress = ntohl(inet_addr(szIP));
  record.usPort = usPort;
  record.recording.Reset();
  record.recordPacer.Reset();
  record.bRecordingStopped = FALSE;
  record.bRequestRelayed = false;
  record.nDatagramsReceived = 0;
  record.nFramesRecorded = 0;
}

void ClientTable::Vacate(int id) {
  ClientRecord& record = m_aRecords[id];
  record.bInUse = FALSE;
  record.lForwardSource = -1;
  std::memset(record.szFileName, 0, kClientFileNameSize);
  std::memset(record.szClientName, 0, kClientNameSize);
  record.recording.Attach(nullptr);
  record.pRecordingRoom.reset();
  record.nRecordWidth = record.nRecordHeight = 0;
}

BOOL ClientTable::Forward(long lSrcClient, long lDstClient) {
  if (!IsClientID(lSrcClient) || !IsClientID(lDstClient) || !m_aRecords[lDstClient].bInUse) return FALSE;
  m_aRecords[lDstClient].lForwardSource = lSrcClient;
  return TRUE;
}

BOOL ClientTable::UnForward(long lSrcClient, long lDstClient) {
  if (!IsClientID(lSrcClient) || !IsClientID(lDstClient)) return FALSE;
  m_aRecords[lDstClient].lForwardSource = -1;
  return TRUE;
}

void ClientTable::UnForwardAll() {
  for (ClientRecord& record : m_aRecords) record.lForwardSource = -1;
}

int ClientTable::SenderID(ULONG ulAddress, USHORT usPort) const {
  for (int id = 0; id < kClientRecords; ++id) {
    const ClientRecord& record = m_aRecords[id];
    if (record.bInUse && record.ulAddress == ulAddress && record.usPort == usPort) return id;
  }
  return 0;
}

ClientIDList ClientTable::ForwardDestinations(int nSenderID) const {
  ClientIDList list;
  for (int id = 0; id < kClientRecords; ++id) {
    if (m_aRecords[id].lForwardSource == nSenderID) list.anIDs[list.nCount++] = id;
  }
  return list;
}

void ClientTable::RewindRecordings() {
  for (ClientRecord& record : m_aRecords) {
    if (record.bInUse) record.lFramesWritten = 0;
  }
}
