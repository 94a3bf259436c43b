// Receiving: RecvVideo, StopRecv and the receive timer's tick.
#include <cstring>

#include "codec/frame_decoder.h"
#include "control/error_table.h"
#include "control/quelvora_ctrl.h"
#include "display/full_screen_dlg.h"
#include "net/frame_times.h"
#include "net/key_frame_requests.h"
#include "net/learned_address.h"
#include "net/receive_datagram.h"
#include "net/receive_tick.h"
#include "net/shared_socket.h"
#include "net/udp_socket.h"
#include "net/video_packet.h"
#include "platform/kernel/kernel.h"
#include "platform/ui/msgbox.h"
#include "platform/winsock/send_each.h"
#include "recording/avi_writer.h"

using namespace winsock;

namespace {

// Where one datagram's processing leaves the control: the receive socket, the AVI files and the
// control's window or the full-screen view.
class ControlEffects : public ReceiveEffects {
 public:
  explicit ControlEffects(CQuelvoraCtrl& control) : m_control(control) {}

  // A datagram's forwards are collected and sent together, before anything else it does leaves the
  // process and before the next datagram is read (they all send the one receive buffer).
  void Forward(const ClientRecord& destination, const std::uint8_t* data, std::size_t length) override {
    if (m_nForwards == kClientRecords ||
        (m_nForwards > 0 && (data != m_pForwardData || length != m_nForwardLength)))
      SendForwards();
    sockaddr_in& to = m_forwardTo[m_nForwards++];
    to = sockaddr_in{};
    to.sin_family = AF_INET;
    to.sin_port = htons(destination.usPort);
    to.sin_addr.s_addr = htonl(destination.ulAddress);
    m_pForwardData = data;
    m_nForwardLength = length;
  }

  void SendForwards() {
    if (m_nForwards == 0) return;
    WSASendToEach(m_control.m_sockRecv, reinterpret_cast<const char*>(m_pForwardData),
                  static_cast<int>(m_nForwardLength), m_forwardTo, m_nForwards);
    m_nForwards = 0;
  }

  bool WriteRecordedFrame(ClientRecord& client, LONG lPosition, const std::uint8_t* picture, std::size_t nBytes,
                          bool bKeyFrame) override {
    SendForwards();
    if (!AVI_AddFrame(client.pAviStream, lPosition, picture, static_cast<LONG>(nBytes),
                      bKeyFrame ? AVIIF_KEYFRAME : 0))
      return FALSE;
    ++m_control.m_nFramesRecorded;
    ++client.nFramesRecorded;
    return TRUE;
  }

  // Set for each datagram while a frame-times observer is set.
  std::int64_t m_nReadNs = 0;

  void DrawPicture(std::uint16_t sequence) override {
    SendForwards();
    Draw();
    if (FrameTimesObserver* observer = TheFrameTimesObserver()) {
      ShownFrameTimes times;
      times.sequence = sequence;
      times.readNs = m_nReadNs;
      times.drawnNs = FrameTimesNowNs();
      observer->FrameShown(times);
    }
  }

 private:
  void Draw() {
    const int width = m_control.m_nVideoOutWidth;
    const int height = m_control.m_nVideoOutHeight;
    ++m_control.m_nFramesShown;
    if (m_control.m_pDrawnPictures != nullptr)
      m_control.m_pDrawnPictures->PictureDrawn(m_control.m_pPictureBuffer.get(), width, height);
    if (m_control.m_bFullScreen && m_control.m_pFullScreenDlg != nullptr) {
      m_control.m_pFullScreenDlg->DrawFrame(m_control.m_pPictureBuffer.get(), width, height);
      return;
    }
    // The client rectangle's left and top are 0, so right and bottom are its width and height.
    const RECT& rc = m_control.m_rcDraw;
    m_control.m_pictureDrawer.Draw(m_control.m_hDrawDib, m_control.m_hRecvDC, rc.left, rc.top, rc.right,
                                   rc.bottom, m_control.m_pPictureBuffer.get(), width, height);
  }

  CQuelvoraCtrl& m_control;
  sockaddr_in m_forwardTo[kClientRecords];
  int m_nForwards = 0;
  const std::uint8_t* m_pForwardData = nullptr;
  std::size_t m_nForwardLength = 0;
};

bool IsOpen(SOCKET s) { return !IsNoSocket(s); }

// Reads one datagram from the receive socket and takes it through every receive step; false when
// nothing was left to read.
bool ReceiveOneDatagram(CQuelvoraCtrl& c, ControlEffects& effects) {
  char* const buffer = reinterpret_cast<char*>(c.m_pRecvBuffer.get());
  sockaddr_in from{};
  int fromLength = sizeof from;
  const int received =
      recvfrom(c.m_sockRecv, buffer, kDatagramBufferSize, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (received == SOCKET_ERROR) return WSAGetLastError() != WSAEWOULDBLOCK;
  if (received == 0) return true;
  const DWORD now = GetTickCount();
  // A key-frame request is not a video datagram: it teaches no address, and is neither
  // recorded, forwarded nor shown.
  if (IsKeyFrameRequest(c.m_pRecvBuffer.get(), static_cast<std::size_t>(received))) {
    c.OnKeyFrameRequest(from, now);
    return true;
  }
  if (c.m_bSameSocket) LearnFromSource(c.m_endpoints.recvRemote, from, TheLearnedRemoteAddress());
  ++c.m_nDatagramsReceived;
  if (TheFrameTimesObserver()) effects.m_nReadNs = FrameTimesNowNs();
  const int nSender = c.m_clients.SenderID(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port));
  if (nSender != 0) ++c.m_clients[nSender].nDatagramsReceived;

  ReceiveState state;
  state.pClients = &c.m_clients;
  state.pDisplay = &c.m_display;
  state.pDisplayDecoder = &c.m_xvidDecParam;
  state.pDisplayFrame = &c.m_xvidDecFrame;
  state.pPicture = c.m_pPictureBuffer.get();
  state.pRecordPicture = c.m_pRecordPicture.get();
  state.pRequests = &c.m_keyFrameRequests;
  state.pStranger = &c.m_stranger;
  state.nOutWidth = c.m_nVideoOutWidth;
  state.nOutHeight = c.m_nVideoOutHeight;
  state.nShowClient = c.m_nShowClient;
  state.bWholeDatagramFrames = IsWholeDatagramCompressType(static_cast<const char*>(c.m_strCompressType));
  state.nowMs = now;
  ProcessDatagram(state, c.m_pRecvBuffer.get(), static_cast<std::size_t>(received), ntohl(from.sin_addr.s_addr),
                  ntohs(from.sin_port), effects);
  effects.SendForwards();
  return true;
}

}  // namespace

ReceiveTickCounters& TheReceiveTickCounters() {
  static ReceiveTickCounters counters;
  return counters;
}

BOOL CQuelvoraCtrl::RecvVideo() {
  // The context of the window is taken on every call; the one it replaces is given back.
  if (m_hRecvDC != nullptr) ReleaseDC(m_hRecvDC);
  m_hRecvDC = GetDC();
  GetClientRect(&m_rcDraw);

  if (m_bReceiving) {
    m_nErrorID = ERR_ALREADY_RECEIVING;
    return FALSE;
  }
  // A control whose construction stopped early has no buffers to receive into.
  if (!m_pRecvBuffer) return FALSE;

  const Endpoint local = m_endpoints.recvLocal.Load();
  m_bRecvSocketShared = m_bSameSocket;
  if (m_bRecvSocketShared) {
    // A socket that already has holders drops what was queued before reception started.
    m_sockRecv = TheSharedSocketTable().Acquire(m_endpoints.recvLocal, /*drainQueued=*/true);
  } else {
    m_sockRecv = CreateUdpSocketOn(local);
  }
  if (IsNoSocket(m_sockRecv)) {
    m_sockRecv = INVALID_SOCKET;
    if (m_bShowErrorDialog) AfxMessageBox(kTextRecvSocketFailed, MB_OK);
    ReleaseReceiveResources();
    return FALSE;
  }

  m_sockAnnounce = CreateUdpSocket(ntohl(local.Address()), static_cast<USHORT>(local.usPort + 1));
  m_hDrawDib = DrawDibOpen();

  // An output size larger than the picture buffer could be neither decoded nor drawn.
  if (PictureBytes(m_nVideoOutWidth, m_nVideoOutHeight) == 0 ||
      codec::CreateDecoder(&m_xvidDecParam, m_nVideoOutWidth, m_nVideoOutHeight) != xvid21::XVID_ERR_OK) {
    ReleaseReceiveResources();
    return FALSE;
  }

  m_bReceiving = 1;
  TheReceiveTickCounters().ReceivingStarted();
  SetTimer(kRecvTimerID, kRecvTimerPeriodMs, nullptr);
  StartReadingOnArrival();
  // The display starts from the next key frame, and asks for one as soon as a sender is heard.
  m_display.Reset();
  return TRUE;
}

BOOL CQuelvoraCtrl::StopRecv() {
  if (!m_bReceiving) {
    m_nErrorID = ERR_NOT_RECEIVING;
    return FALSE;
  }
  KillTimer(kRecvTimerID);
  ReleaseReceiveResources();
  // Repaint with the idle picture in place of the last received frame.
  ShowWindow(SW_HIDE);
  ShowWindow(SW_SHOW);
  m_bReceiving = 0;
  TheReceiveTickCounters().ReceivingStopped();
  m_clients.RewindRecordings();
  m_keyFrameRequests.Clear();
  return TRUE;
}

void CQuelvoraCtrl::ReleaseReceiveResources() {
  StopReadingOnArrival();
  if (IsOpen(m_sockRecv)) {
    // Given back the way it was taken, even if same-socket mode came on since.
    if (m_bRecvSocketShared) {
      TheSharedSocketTable().Release();
    } else {
      closesocket(m_sockRecv);
    }
  }
  m_sockRecv = INVALID_SOCKET;
  if (m_sockAnnounce != INVALID_SOCKET) {
    closesocket(m_sockAnnounce);
    m_sockAnnounce = INVALID_SOCKET;
  }
  if (m_hDrawDib != nullptr) {
    DrawDibClose(m_hDrawDib);
    m_hDrawDib = nullptr;
  }
  codec::DestroyDecoder(&m_xvidDecParam);
  if (m_hRecvDC != nullptr) {
    ReleaseDC(m_hRecvDC);
    m_hRecvDC = nullptr;
  }
}

void CQuelvoraCtrl::OnTimer(UINT_PTR idEvent) {
  // The receive loop is timer 100001 alone; any other timer message is the window's business.
  if (idEvent != kRecvTimerID) {
    Default();
    return;
  }
  // Stopped for the length of the tick, so that ticks never overlap (a message box of the AVI
  // writer runs a nested loop).
  KillTimer(kRecvTimerID);
  if (m_bReceiving) {
    SendKeepAliveAndAnnouncement();
    DrainReceiveSockets();
    if (m_bReceiving) SendKeyFrameRequests(GetTickCount());
    if (m_bReceiving && m_bArrivalPaused) StartReadingOnArrival();
  }
  Default();
  SetTimer(kRecvTimerID, kRecvTimerPeriodMs, nullptr);
}

void CQuelvoraCtrl::SendKeepAliveAndAnnouncement() {
  char szUserName[256];
  CopyUserName(szUserName);
  std::uint8_t packet[kVideoHeaderSizeWithName];

  if (TheReceiveTickCounters().KeepAliveDue() && IsOpen(m_sockSend)) {
    const std::size_t length = WriteKeepAlivePacket(packet, static_cast<const char*>(m_strCompressType),
                                                    m_headerCounters.Load(), szUserName);
    const sockaddr_in to = DestinationOf(m_endpoints.sendRemote.Load());
    sendto(m_sockSend, reinterpret_cast<const char*>(packet), static_cast<int>(length), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }

  if (m_sockAnnounce != INVALID_SOCKET && TheReceiveTickCounters().AnnouncementDue()) {
    const std::size_t length = WriteNameAnnouncement(packet, szUserName);
    const sockaddr_in to = AnnouncementDestinationOf(m_endpoints.recvRemote.Load());
    sendto(m_sockAnnounce, reinterpret_cast<const char*>(packet), static_cast<int>(length), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
}

CQuelvoraCtrl::DrainEnd CQuelvoraCtrl::DrainReceiveSockets() {
  // A message box shown while a datagram is processed runs a nested loop, where the next tick or
  // an arrival could start a drain in the middle of this one.
  if (m_bDraining) return DrainEnd::kBusy;
  m_bDraining = TRUE;
  ControlEffects effects(*this);
  const DWORD start = GetTickCount();
  const DWORD budget = TheReceiveTickCounters().DrainBudgetMs();
  DrainEnd end = DrainEnd::kEmpty;

  // A sender that never pauses would otherwise keep the tick, and the host's whole user
  // interface, here for good: after the budget the rest waits for the next tick.
  while (IsOpen(m_sockRecv)) {
    if (GetTickCount() - start >= budget) {
      end = DrainEnd::kBudgetSpent;
      break;
    }
    const bool bAnnounce = m_sockAnnounce != INVALID_SOCKET && m_sockAnnounce != m_sockRecv;
    FD_SET readable;
    FD_ZERO(&readable);
    FD_SET(m_sockRecv, &readable);
    if (bAnnounce) FD_SET(m_sockAnnounce, &readable);
    const timeval poll{0, 0};
    const int ready = select(0, &readable, nullptr, nullptr, &poll);
    if (ready == 0 || ready == SOCKET_ERROR) break;

    if (bAnnounce && FD_ISSET(m_sockAnnounce, &readable)) {
      // Answers to the announcements are read and not acted on.
      if (recvfrom(m_sockAnnounce, reinterpret_cast<char*>(m_pRecvBuffer.get()), kDatagramBufferSize, 0, nullptr,
                   nullptr) == SOCKET_ERROR) {
        WSAGetLastError();
      }
    }
    if (!FD_ISSET(m_sockRecv, &readable)) continue;
    // What is queued is read before the next select: one poll for a burst, not one per datagram.
    while (IsOpen(m_sockRecv) && GetTickCount() - start < budget) {
      if (!ReceiveOneDatagram(*this, effects)) break;
    }
  }
  m_bDraining = FALSE;
  return end;
}

void CQuelvoraCtrl::OnKeyFrameRequest(const sockaddr_in& from, std::uint32_t nowMs) {
  // For a stream this control forwards: passed on to that stream's sender, which makes the key
  // frame the requester waits for.
  if (const auto upstream =
          UpstreamOfRequest(m_clients, m_stranger, ntohl(from.sin_addr.s_addr), ntohs(from.sin_port), nowMs)) {
    std::uint8_t request[kKeyFrameRequestSize];
    WriteKeyFrameRequest(request, m_headerCounters.Load().sourceId);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(upstream->usPort);
    to.sin_addr.s_addr = htonl(upstream->ulAddress);
    sendto(m_sockRecv, reinterpret_cast<const char*>(request), sizeof request, 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  // On the shared socket the request may be for the video a control of this process sends from it.
  if (m_bRecvSocketShared) TheSharedSocketRequests().Note(from.sin_addr.s_addr, from.sin_port);
}

void CQuelvoraCtrl::SendKeyFrameRequests(std::uint32_t nowMs) {
  std::uint8_t request[kKeyFrameRequestSize];
  WriteKeyFrameRequest(request, m_headerCounters.Load().sourceId);
  // From the receive socket: the address the stream is sent to, which its sender (or a relay)
  // already knows.
  m_keyFrameRequests.SendDue(nowMs, [&](ULONG ulAddress, USHORT usPort) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(usPort);
    to.sin_addr.s_addr = htonl(ulAddress);
    sendto(m_sockRecv, reinterpret_cast<const char*>(request), sizeof request, 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
  });
}
