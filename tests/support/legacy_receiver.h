// A receiving peer built to the datagram format to the letter, as one that predates the key-frame
// request is: a receive loop with address learning (same-socket mode), a client table with the
// recording path, forwarding and the display path, each step as the format describes it. Tests
// hand it datagrams and read what it did, to show that what we send leaves such a peer alone.
//
// Its reassembly is the format's own: payloads of one sequence number appended in arrival order
// until their bytes add up to the frame length; 0 as the last sequence number means "waiting for a
// key frame"; the recording path checks no header bit and knows no gap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/video_packet.h"
#include "platform/kernel/windef.h"

namespace legacy {

using Bytes = std::vector<std::uint8_t>;

struct Assembly {
  Bytes buffer = Bytes(100000);
  int nLength = 0;
  int nCurrentSequence = 0;
  int nLastSequence = 0;  // 0: waiting for a key frame
  bool operator==(const Assembly&) const = default;
};

struct Client {
  ULONG ulAddress = 0;  // host byte order
  USHORT usPort = 0;
  bool bRecords = false;
  int nForwardSource = -1;
  Assembly recording;
  int nFramesRecorded = 0;
};

class Receiver {
 public:
  // Settings: same-socket mode with its receive-side remote address (learning compares with it).
  bool bSameSocket = false;
  ULONG ulRecvRemoteAddress = 0;
  USHORT usRecvRemotePort = 0;
  int nShowClient = 0;
  // Clients 1 to N; index 0 stands for senders outside the table and is never in use.
  std::vector<Client> clients = std::vector<Client>(1);

  // What it did.
  int nLearned = 0;  // times the receive-side remote address changed
  struct Forwarded {
    int nClient;
    Bytes bytes;
  };
  std::vector<Forwarded> forwarded;
  int nFramesDecoded = 0;  // complete frames the display path handed to its decoder
  Assembly display;

  int AddClient(ULONG ulAddress, USHORT usPort, bool bRecords);
  // One datagram read from the receive socket.
  void Receive(const std::uint8_t* data, std::size_t length, ULONG ulFromAddress, USHORT usFromPort);
  void Receive(const Bytes& datagram, ULONG ulFromAddress, USHORT usFromPort) {
    Receive(datagram.data(), datagram.size(), ulFromAddress, usFromPort);
  }
};

}  // namespace legacy
