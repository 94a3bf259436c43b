#include "tests/support/legacy_receiver.h"

#include <cstring>

namespace legacy {
namespace {

void BeginFrameIfNew(Assembly& a, std::uint16_t sequence) {
  if (sequence == a.nCurrentSequence) return;
  a.nLength = 0;
  std::fill(a.buffer.begin(), a.buffer.end(), 0);
  a.nCurrentSequence = sequence;
}

bool Append(Assembly& a, const ParsedDatagram& h, const std::uint8_t* data) {
  if (h.payloadLength > a.buffer.size() - static_cast<std::size_t>(a.nLength)) {
    a.nLength = 0;
    return false;
  }
  if (h.payloadLength > 0) std::memcpy(a.buffer.data() + a.nLength, data + h.payloadOffset, h.payloadLength);
  a.nLength += static_cast<int>(h.payloadLength);
  return true;
}

// The recording path of one client: true when a frame completed (and the path ends).
bool Record(Client& c, const ParsedDatagram& h, const std::uint8_t* data) {
  BeginFrameIfNew(c.recording, h.sequence);
  if (c.recording.nLastSequence == 0 && !h.marker) return false;
  if (!Append(c.recording, h, data)) return false;
  c.recording.nLastSequence = h.sequence;
  if (h.frameLength != static_cast<std::uint32_t>(c.recording.nLength)) return false;
  ++c.nFramesRecorded;
  c.recording.nLength = 0;
  return true;
}

// The display path: true when a frame went to the decoder.
bool Display(Assembly& a, const ParsedDatagram& h, const std::uint8_t* data, std::size_t length) {
  if (length > 100000) return false;
  if (h.version != 2 || h.padding || h.extension) return false;
  if (h.payloadType != 34 && h.payloadType != 31 && h.payloadType != 33) return false;
  if (length == 12) return false;
  if (a.nLength >= 97952) {
    a.nLength = 0;
    return false;
  }
  if (a.nLastSequence == 0 && !h.marker) return false;
  const bool gap = a.nLastSequence + 1 != h.sequence;
  BeginFrameIfNew(a, h.sequence);
  if (!Append(a, h, data)) return false;
  if (h.frameLength != static_cast<std::uint32_t>(a.nLength)) return false;
  a.nLastSequence = h.sequence;
  if (gap && !h.marker) {
    a.nLastSequence = 0;
    return false;
  }
  return true;
}

}  // namespace

int Receiver::AddClient(ULONG ulAddress, USHORT usPort, bool bRecords) {
  Client c;
  c.ulAddress = ulAddress;
  c.usPort = usPort;
  c.bRecords = bRecords;
  clients.push_back(c);
  return static_cast<int>(clients.size()) - 1;
}

void Receiver::Receive(const std::uint8_t* data, std::size_t length, ULONG ulFromAddress, USHORT usFromPort) {
  if (length == 0) return;
  if (bSameSocket && (ulFromAddress != ulRecvRemoteAddress || usFromPort != usRecvRemotePort)) {
    ulRecvRemoteAddress = ulFromAddress;
    usRecvRemotePort = usFromPort;
    ++nLearned;
  }
  const auto h = ParseDatagram(data, length);
  if (h) {
    for (std::size_t id = 1; id < clients.size(); ++id) {
      Client& c = clients[id];
      if (c.ulAddress != ulFromAddress || c.usPort != usFromPort) continue;
      if (!c.bRecords) break;
      if (Record(c, *h, data)) break;
    }
  }
  int sender = 0;
  for (std::size_t id = 1; id < clients.size() && sender == 0; ++id)
    if (clients[id].ulAddress == ulFromAddress && clients[id].usPort == usFromPort) sender = static_cast<int>(id);
  for (std::size_t id = 1; id < clients.size(); ++id)
    if (clients[id].nForwardSource == sender) forwarded.push_back({static_cast<int>(id), Bytes(data, data + length)});
  if (h && sender == nShowClient && Display(display, *h, data, length)) ++nFramesDecoded;
}

}  // namespace legacy
