// What a receiving control does with one datagram read from its receive socket, in order: the
// recording path of the sending client, the sender's client ID, forwarding, and the display path
// when the sender is the shown client.
//
// Decoding happens here, into the picture buffer; what leaves the process (datagrams sent on,
// frames written to files, pictures drawn) goes through ReceiveEffects, so that the processing
// runs the same in the control, in tests and under the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/xvid21.h"
#include "net/client_table.h"
#include "net/reassembly.h"
#include "platform/kernel/windef.h"

class ReceiveEffects {
 public:
  virtual ~ReceiveEffects() = default;
  // Sends the datagram, unchanged, to the destination's address and port.
  virtual void Forward(const ClientRecord& destination, const std::uint8_t* data, std::size_t length) = 0;
  // Writes the picture buffer (nPictureBytes) as the client's next recorded frame.
  virtual void WriteRecordedFrame(ClientRecord& client, std::size_t nPictureBytes, bool bKeyFrame) = 0;
  // Draws the picture buffer, a bottom-up 24-bit picture of the output size.
  virtual void DrawPicture() = 0;
};

// The control's receive state that the processing reads and changes.
struct ReceiveState {
  ClientTable* pClients = nullptr;
  FrameAssembly* pDisplay = nullptr;
  xvid21::XVID_DEC_PARAM* pDisplayDecoder = nullptr;
  xvid21::XVID_DEC_FRAME* pDisplayFrame = nullptr;
  std::uint8_t* pPicture = nullptr;  // kPictureBufferSize bytes
  int nOutWidth = 0;
  int nOutHeight = 0;
  int nShowClient = 0;
  bool bWholeDatagramFrames = false;  // compress type "H.261" or "H.263"
};

// Bytes of a picture of the output size, or 0 when it is empty or larger than the picture buffer:
// such a picture cannot be decoded, drawn or recorded.
std::size_t PictureBytes(int nWidth, int nHeight);

// One datagram of `length` bytes (at least 1) from the source (host byte order).
void ProcessDatagram(const ReceiveState& state, const std::uint8_t* data, std::size_t length,
                     ULONG ulFromAddress, USHORT usFromPort, ReceiveEffects& effects);
