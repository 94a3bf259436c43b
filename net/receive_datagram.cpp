#include "net/receive_datagram.h"

#include "codec/frame_decoder.h"

namespace {

// The display path reads only these: version 2 without padding or extension, a payload type of
// the three the system sends, longer than a bare header, no larger than a datagram buffer.
bool DisplayTakes(const ParsedDatagram& header, std::size_t length) {
  if (length > kDatagramBufferSize || length == kVideoHeaderSize) return false;
  if (header.version != 2 || header.padding || header.extension) return false;
  return header.payloadType == kPayloadTypeH263 || header.payloadType == kPayloadTypeH261 ||
         header.payloadType == kPayloadTypeMpeg4;
}

// Whether the display takes a datagram from this sender now; a new sender is taken once the one
// it follows has been quiet for a while, and then it starts from a key frame.
bool FollowSender(DisplayReceiver& display, ULONG ulAddress, USHORT usPort, std::uint32_t nowMs) {
  if (display.bHaveSource && (display.ulSource != ulAddress || display.usSource != usPort)) {
    if (!TimeReached(nowMs, display.lastHeardMs + kDisplaySourceQuietMs)) return false;
    display.Reset();
  }
  display.bHaveSource = true;
  display.ulSource = ulAddress;
  display.usSource = usPort;
  display.lastHeardMs = nowMs;
  return true;
}

// While a path waits for a key frame, every datagram with a payload from its sender is a reason
// to ask for one (the requester spaces the requests out).
void AskWhileWaiting(const ReceiveState& state, const FrameAssembler& frames, const ParsedDatagram& header,
                     ULONG ulAddress, USHORT usPort, int nPath) {
  if (state.pRequests == nullptr || header.payloadLength == 0) return;
  if (frames.Waiting()) {
    state.pRequests->Waiting(ulAddress, usPort, nPath, frames.KeyFrameArriving(), state.nowMs);
  } else {
    state.pRequests->Satisfied(ulAddress, usPort, nPath);
  }
}

// Whether the client's datagrams are put together, decoded and written. Only MPEG-4 decodes: a
// recording of "H.261" or "H.263" datagrams would be pictures of nothing.
bool Records(const ReceiveState& state, const ClientRecord& client) {
  return !state.bWholeDatagramFrames && client.recording.Attached() && !client.bRecordingStopped &&
         client.xvidDecParam.handle != nullptr && client.pAviStream != nullptr &&
         PictureBytes(client.nRecordWidth, client.nRecordHeight) != 0;
}

void RecordClient(const ReceiveState& state, ClientRecord& client, const ParsedDatagram& header,
                  const std::uint8_t* data, ReceiveEffects& effects) {
  const std::size_t nBytes = PictureBytes(client.nRecordWidth, client.nRecordHeight);

  client.recording.Add(header, data + header.payloadOffset);
  while (const auto frame = client.recording.Next()) {
    const LONG gap = static_cast<LONG>(client.recordPacer.GapBefore(frame->skipped, state.nowMs));
    if (!client.recordPacer.TakePosition(state.nowMs)) {
      // Faster than any camera: the frame is not taken, and the next one taken must be a key frame.
      client.recording.DecodeFailed();
      continue;
    }
    client.lFramesWritten += gap;
    if (codec::DecodeFrame(client.xvidDecParam, &client.xvidDecFrame, frame->data,
                           static_cast<int>(frame->length), state.pRecordPicture,
                           static_cast<int>(kPictureBufferSize), client.nRecordWidth) != xvid21::XVID_ERR_OK) {
      // Its position stays empty, so that the file keeps time.
      client.recording.DecodeFailed();
      ++client.lFramesWritten;
      continue;
    }
    const LONG position = client.lFramesWritten;
    // Counted as the unsigned value it wraps like, so that a very long recording stays defined.
    client.lFramesWritten = static_cast<LONG>(static_cast<std::uint32_t>(position) + 1u);
    if (!effects.WriteRecordedFrame(client, position, state.pRecordPicture, nBytes, frame->keyFrame)) {
      client.bRecordingStopped = TRUE;
      return;
    }
  }
}

// The recording path: every client in use at the source's address and port, in ID order, until
// one that does not record.
void RunRecordingPath(const ReceiveState& state, const ParsedDatagram& header, const std::uint8_t* data,
                      ULONG ulAddress, USHORT usPort, ReceiveEffects& effects) {
  ClientTable& clients = *state.pClients;
  for (int id = 0; id < kClientRecords; ++id) {
    ClientRecord& client = clients[id];
    if (!client.bInUse || client.ulAddress != ulAddress || client.usPort != usPort) continue;
    if (client.pAviFile == nullptr) return;
    if (!Records(state, client)) continue;
    RecordClient(state, client, header, data, effects);
    if (!client.bRecordingStopped) AskWhileWaiting(state, client.recording, header, ulAddress, usPort, id);
  }
}

void RunDisplayPath(const ReceiveState& state, const ParsedDatagram& header, const std::uint8_t* data,
                    std::size_t length, ULONG ulAddress, USHORT usPort, ReceiveEffects& effects) {
  DisplayReceiver& display = *state.pDisplay;
  if (!DisplayTakes(header, length) || !FollowSender(display, ulAddress, usPort, state.nowMs)) return;
  const std::size_t nPictureBytes = PictureBytes(state.nOutWidth, state.nOutHeight);

  if (state.bWholeDatagramFrames) {
    // Nothing decodes these: every datagram redraws the picture as it is.
    if (display.bWholeDatagramWaiting) {
      if (!header.marker || header.payloadLength == 0) return;
      display.bWholeDatagramWaiting = false;
    }
    if (nPictureBytes != 0) effects.DrawPicture(header.sequence);
    return;
  }

  display.frames.Add(header, data + header.payloadOffset);
  while (const auto frame = display.frames.Next()) {
    if (nPictureBytes == 0 ||
        codec::DecodeFrame(*state.pDisplayDecoder, state.pDisplayFrame, frame->data,
                           static_cast<int>(frame->length), state.pPicture, static_cast<int>(kPictureBufferSize),
                           state.nOutWidth) != xvid21::XVID_ERR_OK) {
      display.frames.DecodeFailed();
      continue;
    }
    effects.DrawPicture(frame->sequence);
  }
  AskWhileWaiting(state, display.frames, header, ulAddress, usPort, KeyFrameRequester::kDisplayPath);
}

bool RelayAllowed(bool& bRelayed, std::uint32_t& lastMs, std::uint32_t nowMs) {
  if (bRelayed && !TimeReached(nowMs, lastMs + kKeyFrameAskFirstRepeatMs)) return false;
  bRelayed = true;
  lastMs = nowMs;
  return true;
}

}  // namespace

std::size_t PictureBytes(int nWidth, int nHeight) {
  if (nWidth <= 0 || nHeight <= 0) return 0;
  const std::size_t bytes = static_cast<std::size_t>(nWidth) * static_cast<std::size_t>(nHeight) * 3;
  return bytes <= kPictureBufferSize ? bytes : 0;
}

void ProcessDatagram(const ReceiveState& state, const std::uint8_t* data, std::size_t length,
                     ULONG ulFromAddress, USHORT usFromPort, ReceiveEffects& effects) {
  ClientTable& clients = *state.pClients;
  const auto header = ParseDatagram(data, length);

  if (header) RunRecordingPath(state, *header, data, ulFromAddress, usFromPort, effects);

  const int nSenderID = clients.SenderID(ulFromAddress, usFromPort);
  if (nSenderID == 0 && state.pStranger != nullptr &&
      (!state.pStranger->bHave || state.pStranger->ulAddress != ulFromAddress ||
       state.pStranger->usPort != usFromPort)) {
    *state.pStranger = StrangerSource{true, ulFromAddress, usFromPort};
  }
  for (int id : clients.ForwardDestinations(nSenderID)) {
    // Never back to where it came from: two relays forwarding to each other would circulate it.
    const ClientRecord& destination = clients[id];
    if (destination.ulAddress == ulFromAddress && destination.usPort == usFromPort) continue;
    effects.Forward(destination, data, length);
  }

  if (header && nSenderID == state.nShowClient)
    RunDisplayPath(state, *header, data, length, ulFromAddress, usFromPort, effects);
}

std::optional<RequestTarget> UpstreamOfRequest(ClientTable& clients, StrangerSource& stranger,
                                               ULONG ulFromAddress, USHORT usFromPort, std::uint32_t nowMs) {
  const int nRequester = clients.SenderID(ulFromAddress, usFromPort);
  if (nRequester == 0) return std::nullopt;
  const LONG lSource = clients[nRequester].lForwardSource;
  RequestTarget target;
  if (lSource == 0) {
    if (!stranger.bHave) return std::nullopt;
    target = {stranger.ulAddress, stranger.usPort};
    if (target.ulAddress == ulFromAddress && target.usPort == usFromPort) return std::nullopt;
    if (!RelayAllowed(stranger.bRequestRelayed, stranger.lastRequestRelayedMs, nowMs)) return std::nullopt;
    return target;
  }
  ClientRecord* source = clients.InUse(lSource);
  if (source == nullptr) return std::nullopt;
  target = {source->ulAddress, source->usPort};
  if (target.ulAddress == ulFromAddress && target.usPort == usFromPort) return std::nullopt;
  if (!RelayAllowed(source->bRequestRelayed, source->lastRequestRelayedMs, nowMs)) return std::nullopt;
  return target;
}
