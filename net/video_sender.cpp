// The video sender: SendVideo and StopSend, and the frame sender that encodes each captured
// frame and sends it as a run of video fragments.
#include <algorithm>
#include <new>

#include "capture/capture_setup.h"
#include "codec/frame_encoder.h"
#include "control/error_table.h"
#include "control/quelvora_ctrl.h"
#include "net/compress_type.h"
#include "net/frame_times.h"
#include "net/key_frame_requests.h"
#include "net/learned_address.h"
#include "net/send_settings.h"
#include "net/shared_socket.h"
#include "net/udp_socket.h"
#include "net/video_packet.h"
#include "platform/kernel/kernel.h"
#include "platform/ui/msgbox.h"

using namespace winsock;

namespace {

constexpr size_t kPacketBufferSize = 100000;
// The frame buffer holds at least a 704 x 576 24-bit frame, and any larger capture format whole.
constexpr size_t kMinFrameBufferSize = 704 * 576 * 3;
// What StopSend waits after stopping the stream and after removing the callback.
constexpr DWORD kStopWaitMs = 200;

}  // namespace

BOOL CQuelvoraCtrl::SendVideo() {
  if (!m_bCaptureOpen) {
    m_nErrorID = ERR_DRIVER_NOT_CONNECTED;
    return FALSE;
  }
  if (m_bSending) return TRUE;
  // A control whose start-up stopped early has no codec or socket library of its own.
  if (m_eStage != ConstructionStage::Complete) return FALSE;
  return StartSending();
}

BOOL CQuelvoraCtrl::StopSend() {
  if (!m_bSending) {
    m_nErrorID = ERR_NOT_SENDING;
    return FALSE;
  }
  StopSending();
  return TRUE;
}

BOOL CQuelvoraCtrl::StartSending() {
  m_nFrameBufferSize =
      std::max(kMinFrameBufferSize, CaptureFrameBytes(m_nCaptureWidth, m_nCaptureHeight, m_bUseRGB16));
  m_pPacketBuffer.reset(new (std::nothrow) BYTE[kPacketBufferSize]);
  m_pFrameBuffer.reset(new (std::nothrow) BYTE[m_nFrameBufferSize]());
  if (!m_pPacketBuffer || !m_pFrameBuffer) {
    // Nothing else is held yet (the send socket field may still name a share SendFakeVideo left).
    m_pPacketBuffer.reset();
    m_pFrameBuffer.reset();
    AfxMessageBox(kTextMemoryRunOut);
    return FALSE;
  }

  m_nTimestampStep = TimestampStep(m_nFrameRate);

  m_bSendSocketShared = m_bSameSocket;
  m_sockSend = m_bSendSocketShared ? TheSharedSocketTable().Acquire(m_endpoints.sendLocal)
                                   : CreateUdpSocketOn(m_endpoints.sendLocal.Load());
  if (IsNoSocket(m_sockSend)) {
    m_sockSend = INVALID_SOCKET;
    ReleaseSendResources();
    if (m_bShowErrorDialog) AfxMessageBox(kTextSendSocketFailed);
    return FALSE;
  }

  {
    std::lock_guard<std::mutex> lock(m_csSettings);
    codec::FillEncoderParam(&m_xvidEncParam, m_nCaptureWidth, m_nCaptureHeight,
                            static_cast<int>(m_lBandwidth), m_nKeyFrameInterval);
  }
  if (!m_xvidEncParam.handle && xvid21::xvid_encore(nullptr, xvid21::XVID_ENC_CREATE, &m_xvidEncParam,
                                                    nullptr) != xvid21::XVID_ERR_OK) {
    m_xvidEncParam.handle = nullptr;
    ReleaseSendResources();
    return FALSE;
  }

  // Requests read on the shared socket before this start were for an earlier stream.
  ULONG ulIgnored = 0;
  USHORT usIgnored = 0;
  TheSharedSocketRequests().TakeNew(&m_nSharedRequestsSeen, &ulIgnored, &usIgnored);
  m_keyFrameAnswerer = KeyFrameAnswerer{};

  capSetUserData(m_hCapWnd, reinterpret_cast<LPARAM>(this));
  capSetCallbackOnVideoStream(m_hCapWnd, &CQuelvoraCtrl::FrameCallback);
  {
    // Set before the stream starts, so that its first frame is taken.
    std::lock_guard<std::mutex> lock(m_csSettings);
    m_bSending = 1;
  }
  if (!capCaptureSequenceNoFile(m_hCapWnd)) {
    // The camera does not stream (gone, or short of bus bandwidth): nothing would ever be sent.
    {
      std::lock_guard<std::mutex> lock(m_csSettings);
      m_bSending = 0;
    }
    capSetCallbackOnVideoStream(m_hCapWnd, nullptr);
    ReleaseSendResources();
    ShowConnectFailureBox();
    return FALSE;
  }
  return TRUE;
}

void CQuelvoraCtrl::StopSending() {
  {
    std::lock_guard<std::mutex> lock(m_csSettings);
    m_bSending = 0;
  }
  capCaptureAbort(m_hCapWnd);
  capCaptureStop(m_hCapWnd);
  Sleep(kStopWaitMs);
  capSetCallbackOnVideoStream(m_hCapWnd, nullptr);
  Sleep(kStopWaitMs);
  ReleaseSendResources();
}

void CQuelvoraCtrl::ReleaseSendResources() {
  if (!IsNoSocket(m_sockSend)) {
    // Given back the way it was taken, even if same-socket mode came on since.
    if (m_bSendSocketShared)
      TheSharedSocketTable().Release();
    else
      closesocket(m_sockSend);
  }
  m_sockSend = INVALID_SOCKET;
  if (m_xvidEncParam.handle) {
    xvid21::xvid_encore(m_xvidEncParam.handle, xvid21::XVID_ENC_DESTROY, nullptr, nullptr);
    m_xvidEncParam.handle = nullptr;
  }
  m_pPacketBuffer.reset();
  m_pFrameBuffer.reset();
  m_nFrameBufferSize = 0;
}

bool CQuelvoraCtrl::KeyFrameRequestedBeforeFrame() {
  const Endpoint remote = m_endpoints.sendRemote.Load();
  if (!m_bSendSocketShared) {
    // Nothing else arrives on a socket of its own that the control reads; what is not a request
    // from the destination is thrown away. A few at most per frame, so that a flood costs little.
    constexpr int kReadsPerFrame = 16;
    std::uint8_t datagram[kKeyFrameRequestSize + 4];
    for (int i = 0; i < kReadsPerFrame; ++i) {
      sockaddr_in from{};
      int fromLength = sizeof from;
      const int n = recvfrom(m_sockSend, reinterpret_cast<char*>(datagram), sizeof datagram, 0,
                             reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (n == SOCKET_ERROR) {
        if (WSAGetLastError() == WSAEMSGSIZE) continue;  // too long to be a request
        break;
      }
      if (IsKeyFrameRequest(datagram, static_cast<std::size_t>(n)) &&
          AnswersRequestFrom(remote.Address(), htons(remote.usPort), from.sin_addr.s_addr, from.sin_port))
        m_keyFrameAnswerer.Request();
    }
  } else {
    // The receive loop of the control that receives on the shared socket reads them.
    ULONG ulAddress = 0;
    USHORT usPort = 0;
    if (TheSharedSocketRequests().TakeNew(&m_nSharedRequestsSeen, &ulAddress, &usPort) &&
        AnswersRequestFrom(remote.Address(), htons(remote.usPort), ulAddress, usPort))
      m_keyFrameAnswerer.Request();
  }
  return m_keyFrameAnswerer.TakeDue(GetTickCount());
}

BOOL CQuelvoraCtrl::SendFrame(BYTE* image, const FrameSettings& settings, SentFrameTimes* times) {
  if (m_bSameSocket) AdoptLearnedAddress(m_endpoints.sendRemote, TheLearnedRemoteAddress());
  if (IsH26xCompressType(settings.szCompressType)) return TRUE;
  BYTE* packet = m_pPacketBuffer.get();
  if (!packet || !image) return FALSE;

  const PacketFields fields = m_headerCounters.Load();
  const size_t headerLength =
      WriteFragmentHeader(packet, false, fields.sequence, fields.timestamp, 0, settings.szUserName);

  codec::FrameToEncode in;
  in.pImage = image;
  in.bRgb16 = m_bUseRGB16 != 0;
  in.pBitstream = packet + headerLength;
  in.nCapacity = static_cast<int>(kPacketBufferSize - headerLength);
  in.nQualityIndex = m_nQualityIndex;
  in.nKeyFrameInterval = settings.nKeyFrameInterval;
  in.bForceKeyFrame = KeyFrameRequestedBeforeFrame();
  if (codec::EncodeFrame(m_xvidEncParam.handle, in, &m_xvidEncFrame, &m_xvidEncStats) != xvid21::XVID_ERR_OK)
    return FALSE;
  if (m_xvidEncFrame.intra != 0) {
    if (in.bForceKeyFrame)
      m_nKeyFramesRequested.fetch_add(1);
    else
      m_keyFrameAnswerer.KeyFrameSent();
  }
  if (times) times->encodedNs = FrameTimesNowNs();
  m_headerCounters.NextSequence();

  // The marker and the frame length are known only now.
  const size_t frameLength = static_cast<size_t>(std::max(0, m_xvidEncFrame.length));
  WriteFragmentHeader(packet, m_xvidEncFrame.intra != 0, fields.sequence, fields.timestamp,
                      static_cast<std::uint32_t>(frameLength), settings.szUserName);

  const sockaddr_in to = DestinationOf(m_endpoints.sendRemote.Load());
  const SOCKET s = m_sockSend;
  std::uint64_t bytes = 0;
  const auto sendDatagram = [s, &to, &bytes](const std::uint8_t* datagram, std::size_t length) {
    const int sent = sendto(s, reinterpret_cast<const char*>(datagram), static_cast<int>(length), 0,
                            reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (sent == SOCKET_ERROR || static_cast<std::size_t>(sent) != length) return false;
    bytes += length;
    return true;
  };
  const size_t pieces =
      SendFrameFragments(packet, headerLength, packet + headerLength, frameLength, sendDatagram);
  m_headerCounters.AdvanceTimestamp(m_nTimestampStep);
  if (pieces == (frameLength + kMaxFragmentPayload - 1) / kMaxFragmentPayload) m_nFramesSent.fetch_add(1);
  m_nBytesSent.fetch_add(bytes);
  if (times && pieces > 0) {
    times->sequence = fields.sequence;
    times->frameLength = static_cast<std::uint32_t>(frameLength);
    times->keyFrame = m_xvidEncFrame.intra != 0;
    times->sentNs = FrameTimesNowNs();
  }
  return TRUE;
}
