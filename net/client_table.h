// The client table: the peers a receiving control tells apart by address and port, with the
// forwarding between them and the recording of each.
//
// IDs 0 to 30; 0 is never handed out and stands for every sender outside the table. Lookups are
// linear scans in ID order, so the lowest ID wins. A client that records gets the room to put its
// frames together when it is added, and gives it back when it is removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/xvid21.h"
#include "net/frame_assembler.h"
#include "platform/avifile/avifile.h"
#include "platform/kernel/windef.h"
#include "recording/record_pacer.h"

constexpr int kClientRecords = 31;
constexpr int kMaxClientID = 30;
constexpr std::size_t kClientFileNameSize = 512;
constexpr std::size_t kClientNameSize = 64;

struct ClientRecord {
  BOOL bInUse = FALSE;
  ULONG ulAddress = 0;  // host byte order
  USHORT usPort = 0;    // host byte order
  char szFileName[kClientFileNameSize] = {};
  PAVIFILE pAviFile = nullptr;  // none: the client does not record
  PAVISTREAM pAviStream = nullptr;
  char szClientName[kClientNameSize] = {};
  LONG lFramesWritten = 1;   // sample position of the next recorded frame
  LONG lForwardSource = -1;  // the client ID relayed to this client; -1: none
  // The recording path: the client's frames put together in room of its own (held while it
  // records), the size its file was made for, its pace, and whether a write failed (the file then
  // keeps what it has and takes nothing more).
  FrameAssembler recording;
  std::unique_ptr<std::uint8_t[]> pRecordingRoom;
  int nRecordWidth = 0;
  int nRecordHeight = 0;
  RecordPacer recordPacer;
  BOOL bRecordingStopped = FALSE;
  // The client's own decoder (handle none unless it records) and its per-frame block.
  xvid21::XVID_DEC_PARAM xvidDecParam{};
  xvid21::XVID_DEC_FRAME xvidDecFrame{};
  // When a key-frame request was last passed on to this client as the source of a forwarding.
  bool bRequestRelayed = false;
  std::uint32_t lastRequestRelayedMs = 0;
  // For hosts' figures, counted from AddClient: datagrams read from this client, frames recorded.
  std::uint64_t nDatagramsReceived = 0;
  std::uint64_t nFramesRecorded = 0;
};

// A few client IDs in ascending order, without allocating.
struct ClientIDList {
  int nCount = 0;
  int anIDs[kClientRecords] = {};
  const int* begin() const { return anIDs; }
  const int* end() const { return anIDs + nCount; }
};

inline bool IsClientID(long lClientID) { return lClientID >= 0 && lClientID <= kMaxClientID; }

class ClientTable {
 public:
  // Every record zero, except forward source -1 and frames written 1.
  ClientTable();
  ClientTable(const ClientTable&) = delete;
  ClientTable& operator=(const ClientTable&) = delete;

  ClientRecord& operator[](int id) { return m_aRecords[id]; }
  const ClientRecord& operator[](int id) const { return m_aRecords[id]; }

  // The lowest ID from 1 to 30 that is not in use, or -1.
  int FreeID() const;
  // The record of an ID within 0 to 30 that is in use, else null.
  ClientRecord* InUse(long lClientID);

  // The file name of a client being added: at most 511 characters, NUL-terminated.
  void SetFileName(int id, const char* szFileName);
  // The room a recording client puts its frames together in, and the size of its file's pictures.
  // False when there is no memory for it: the client then records nothing.
  bool GiveRecordingRoom(int id, int nWidth, int nHeight);
  // The rest of adding a client: the name (at most 63 characters) when given, then in use, no
  // forward source, the address ntohl(inet_addr(szIP)) (a null text reads as unreadable),
  // the port, an empty recording assembly. Frames written stays as it was.
  void Occupy(int id, const char* szIP, USHORT usPort, const char* szClientName);
  // The resets of removing a client, once its file and decoder are released: not in use, no
  // forward source, names and recording assembly cleared. Address, port, frames written and
  // every other record's forward source stay.
  void Vacate(int id);

  // Forward: FALSE unless both IDs are within 0 to 30 and the destination is in use.
  BOOL Forward(long lSrcClient, long lDstClient);
  // UnForward: FALSE unless both IDs are within 0 to 30; the destination's source goes,
  // whatever it was and whether or not the destination is in use.
  BOOL UnForward(long lSrcClient, long lDstClient);
  void UnForwardAll();

  // The lowest in-use ID whose address and port (host byte order) are the source's, else 0.
  int SenderID(ULONG ulAddress, USHORT usPort) const;
  // Every ID whose forward source is the sender's ID.
  ClientIDList ForwardDestinations(int nSenderID) const;

  // StopRecv: the clients in use write their next frame at position 0.
  void RewindRecordings();

 private:
  ClientRecord m_aRecords[kClientRecords];
};
