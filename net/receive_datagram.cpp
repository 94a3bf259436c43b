#include "net/receive_datagram.h"

#include "codec/frame_decoder.h"

std::size_t PictureBytes(int nWidth, int nHeight) {
  if (nWidth <= 0 || nHeight <= 0) return 0;
  const std::size_t bytes = static_cast<std::size_t>(nWidth) * static_cast<std::size_t>(nHeight) * 3;
  return bytes <= kPictureBufferSize ? bytes : 0;
}

void ProcessDatagram(const ReceiveState& state, const std::uint8_t* data, std::size_t length,
                     ULONG ulFromAddress, USHORT usFromPort, ReceiveEffects& effects) {
  ClientTable& clients = *state.pClients;
  const std::size_t nPictureBytes = PictureBytes(state.nOutWidth, state.nOutHeight);
  const auto header = ParseDatagram(data, length);

  if (header) {
    clients.RunRecordingPath(ulFromAddress, usFromPort, *header, data, state.bWholeDatagramFrames,
                             [&](ClientRecord& client, bool bKeyFrame) {
                               if (client.xvidDecParam.handle == nullptr || client.pAviStream == nullptr)
                                 return;
                               if (nPictureBytes == 0) return;
                               // Whatever the decode gives, the picture buffer is written.
                               codec::DecodeFrame(client.xvidDecParam, &client.xvidDecFrame,
                                                  client.recording.pBuffer, client.recording.nLength,
                                                  state.pPicture, static_cast<int>(kPictureBufferSize),
                                                  state.nOutWidth);
                               effects.WriteRecordedFrame(client, nPictureBytes, bKeyFrame);
                             });
  }

  const int nSenderID = clients.SenderID(ulFromAddress, usFromPort);
  for (int id : clients.ForwardDestinations(nSenderID)) effects.Forward(clients[id], data, length);

  if (!header || nSenderID != state.nShowClient) return;
  FrameAssembly& display = *state.pDisplay;
  switch (DisplayDatagram(display, *header, data, length, state.bWholeDatagramFrames)) {
    case DisplayStep::kDecode:
      if (nPictureBytes == 0 ||
          codec::DecodeFrame(*state.pDisplayDecoder, state.pDisplayFrame, display.pBuffer, display.nLength,
                             state.pPicture, static_cast<int>(kPictureBufferSize),
                             state.nOutWidth) != xvid21::XVID_ERR_OK) {
        DisplayDecodeFailed(display);
        return;
      }
      effects.DrawPicture();
      return;
    case DisplayStep::kDraw:
      if (nPictureBytes != 0) effects.DrawPicture();
      return;
    case DisplayStep::kDropped:
    case DisplayStep::kIncomplete:
    case DisplayStep::kWaitForKeyFrame:
      return;
  }
}
