// What a receiving control does with one datagram read from its receive socket, in order: the
// recording path of the sending client, the sender's client ID, forwarding, and the display path
// when the sender is the shown client. A key-frame request is none of these: the receive loop
// takes it aside before anything else looks at it (UpstreamOfRequest).
//
// Both paths put frames together with the rules of net/frame_assembler.h, decode only frames
// whose order is proven, and treat a frame that does not decode as lost: after a loss they wait
// for the next whole key frame, and while they wait they ask its sender for one.
//
// Decoding happens here; what leaves the process (datagrams sent on, frames written to files,
// pictures drawn) goes through ReceiveEffects, so that the processing runs the same in the
// control, in tests and under the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "codec/xvid21.h"
#include "net/client_table.h"
#include "net/frame_assembler.h"
#include "net/key_frame_requests.h"
#include "net/reassembly.h"
#include "platform/kernel/windef.h"

// The display follows one sender outside the client table at a time: another one is taken only
// after the one shown has been quiet this long.
constexpr std::uint32_t kDisplaySourceQuietMs = 1000;

class ReceiveEffects {
 public:
  virtual ~ReceiveEffects() = default;
  // Sends the datagram, unchanged, to the destination's address and port.
  virtual void Forward(const ClientRecord& destination, const std::uint8_t* data, std::size_t length) = 0;
  // Writes `picture` (nBytes, a bottom-up 24-bit picture of the client's recording size) as the
  // client's frame at sample position lPosition. False when the write failed.
  virtual bool WriteRecordedFrame(ClientRecord& client, LONG lPosition, const std::uint8_t* picture,
                                  std::size_t nBytes, bool bKeyFrame) = 0;
  // Draws the picture buffer, a bottom-up 24-bit picture of the output size: frame `sequence`.
  virtual void DrawPicture(std::uint16_t sequence) = 0;
};

// The display path: its frames and the sender it follows.
struct DisplayReceiver {
  FrameAssembler frames;
  bool bHaveSource = false;
  ULONG ulSource = 0;  // host byte order
  USHORT usSource = 0;
  std::uint32_t lastHeardMs = 0;
  // "H.261" and "H.263": no picture is drawn before a datagram with the marker and a payload.
  bool bWholeDatagramWaiting = true;

  // Forgets the sender and waits for a key frame (receiving starts, the shown client changes).
  void Reset() {
    frames.Reset();
    bHaveSource = false;
    bWholeDatagramWaiting = true;
  }
};

// The last sender outside the client table: where a request for the stream that client 0 relays
// is passed on.
struct StrangerSource {
  bool bHave = false;
  ULONG ulAddress = 0;
  USHORT usPort = 0;
  bool bRequestRelayed = false;
  std::uint32_t lastRequestRelayedMs = 0;
};

// The control's receive state that the processing reads and changes.
struct ReceiveState {
  ClientTable* pClients = nullptr;
  DisplayReceiver* pDisplay = nullptr;
  xvid21::XVID_DEC_PARAM* pDisplayDecoder = nullptr;
  xvid21::XVID_DEC_FRAME* pDisplayFrame = nullptr;
  std::uint8_t* pPicture = nullptr;        // kPictureBufferSize bytes: the picture shown
  std::uint8_t* pRecordPicture = nullptr;  // kPictureBufferSize bytes: each recorded frame
  KeyFrameRequester* pRequests = nullptr;
  StrangerSource* pStranger = nullptr;
  int nOutWidth = 0;
  int nOutHeight = 0;
  int nShowClient = 0;
  bool bWholeDatagramFrames = false;  // compress type "H.261" or "H.263"
  std::uint32_t nowMs = 0;            // GetTickCount when the datagram was read
};

// Bytes of a picture of that size, or 0 when it is empty or larger than the picture buffer:
// such a picture cannot be decoded, drawn or recorded.
std::size_t PictureBytes(int nWidth, int nHeight);

// One datagram of `length` bytes (at least 1) from the source (host byte order).
void ProcessDatagram(const ReceiveState& state, const std::uint8_t* data, std::size_t length,
                     ULONG ulFromAddress, USHORT usFromPort, ReceiveEffects& effects);

// Where a key-frame request from the source goes on to, when the source is a client that gets
// another sender's datagrams forwarded: that sender (a client, or for a forwarding from client 0
// the last sender outside the table), at most one request per kKeyFrameAskFirstRepeatMs each.
// Nothing when the request is not for a forwarded stream, or it would go back where it came from.
struct RequestTarget {
  ULONG ulAddress = 0;  // host byte order
  USHORT usPort = 0;
};
std::optional<RequestTarget> UpstreamOfRequest(ClientTable& clients, StrangerSource& stranger,
                                               ULONG ulFromAddress, USHORT usFromPort, std::uint32_t nowMs);
