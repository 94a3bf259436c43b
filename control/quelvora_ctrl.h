// CQuelvoraCtrl: the video-conferencing control. One object holds all state of one control; its
// member functions live in the folder of the subsystem they belong to (capture/, net/,
// display/, recording/), this header and control/ hold the object, its start and end, the
// idle picture, errors and languages.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "codec/xvid21.h"
#include "control/about_dlg.h"
#include "display/packed_picture.h"
#include "net/client_table.h"
#include "net/endpoint.h"
#include "net/header_counters.h"
#include "net/key_frame_requests.h"
#include "net/reassembly.h"
#include "net/receive_datagram.h"
#include "platform/drawdib/drawdib.h"
#include "platform/kernel/windef.h"
#include "platform/module/factory.h"
#include "platform/ui/cstring.h"
#include "platform/ui/dialog.h"
#include "platform/ui/olecontrol.h"
#include "platform/vfw/vfw.h"

constexpr UINT ID_CANCEL_FULL_SCREEN = 111;
constexpr UINT ID_FULL_SCREEN = 112;

class CFullScreenDlg;
struct SentFrameTimes;

// Told of every picture a control draws, so that a host can keep what its user saw.
class DrawnPictureSink {
 public:
  virtual ~DrawnPictureSink() = default;
  // A bottom-up 24-bit picture of width x height, as it was drawn.
  virtual void PictureDrawn(const BYTE* bits, int width, int height) = 0;
};

class CQuelvoraCtrl : public COleControl {
 public:
  CQuelvoraCtrl();
  ~CQuelvoraCtrl() override;

  // How far construction got: a control whose start-up stopped early holds no buffers, menu or
  // libraries and refuses every method that would need them.
  enum class ConstructionStage { CodecFailed, SocketsFailed, Complete };
  ConstructionStage GetConstructionStage() const { return m_eStage; }

  // ---- The dispatch interface, in DISPID order (AboutBox is DISPID_ABOUTBOX) ----
  BOOL CloseCapture();
  BOOL InitCapture(short DeviceType);
  BOOL SendVideo();
  BOOL StopSend();
  BOOL RecvVideo();
  BOOL StopRecv();
  void GetErrorMessage(short ErrorID);
  short GetErrorID();
  BOOL SetLocalIPAddress(LPCTSTR szIP, short usPort);
  void SetBandwidth(long lBandwidth, long lCodeOrDecode);
  long SetRemoteIPAddress(LPCTSTR szIP, short usPort);
  BOOL SetUserName(LPCTSTR szUserName);
  BOOL SetLanguageVersion(short nLanguageVersion);
  BOOL HaveVideoCapture();
  void ShowFullScreen();
  BOOL SetSendFrameRate(short sFrameRate);
  short SetVideoInFormat(LPCTSTR szVideoIn);
  short SetVideoOutFormat(LPCTSTR szVideoOut);
  BOOL SetCompressType(LPCTSTR szCompressType);
  BOOL UseSameSocketForSendAndRecv(long nDeviceID);
  BOOL SendFakeVideo(short nPacketNum);
  long AddClient(LPCTSTR szIP, short usPort, LPCTSTR szFileName, LPCTSTR szClientName);
  BOOL RemoveClient(long lClientID);
  BOOL RemoveClientAll();
  BOOL Forward(long lSrcClient, long lDstClient);
  BOOL UnForward(long lSrcClient, long lDstClient);
  BOOL UnForwardAll();
  BOOL ShowClient(long lClientID);
  void ShowErrorDialog(short sShowErrorDialog);
  void AboutBox();

  // ---- The component object: dispatch interface and class hooks ----
  HRESULT GetIDsOfNames(std::string_view name, DISPID* dispid) override;
  HRESULT Invoke(DISPID dispid, const DISPPARAMS& params, VARIANT* result, EXCEPINFO* excepInfo,
                 UINT* argErr) override;
  UINT GetTypeInfoCount() override;
  // The type library by its registration (library ID, version 1.0, the locale), loaded once.
  HRESULT GetTypeLib(LCID lcid, ITypeLib** lib) override;
  HRESULT GetClassID(CLSID* clsid) override;
  UINT GetUserTypeNameID() override;
  HINSTANCE GetResourceInstance() override;
  DWORD GetMiscStatus() override;

  // ---- Read access for hosts and tests ----
  int LanguageVersion() const { return m_nLanguageVersion; }
  BOOL ErrorDialogShown() const { return m_bShowErrorDialog; }
  // A copy of the user name bytes (taken under the settings lock).
  void CopyUserName(char out[256]) const;

  // ---- Control state (fields of the control object) ----
  // State flags.
  HWND m_hCapWnd = nullptr;
  BOOL m_bCaptureOpen = 0;
  BOOL m_bSending = 0;
  BOOL m_bReceiving = 0;
  int m_nErrorID = 0;

  // Settings, kept only in memory.
  long m_lBandwidth = 0;
  int m_nKeyFrameInterval = 0;
  int m_nQualityIndex = 0;
  int m_nFrameRate = 0;
  int m_nVideoInWidth = 0;
  int m_nVideoInHeight = 0;
  int m_nVideoOutWidth = 0;
  int m_nVideoOutHeight = 0;
  CString m_strCompressType;
  int m_nCodeOrDecode = 0;
  int m_nLanguageVersion = 0;
  BOOL m_bShowErrorDialog = 0;
  char m_szUserName[256] = {};
  BOOL m_bUseRGB16 = 0;
  BOOL m_bSameSocket = 0;
  int m_nShowClient = 0;

  // Values the streaming thread reads while the UI thread may change them (user name, compress
  // type, key-frame interval, the send-side remote address) are written and read under this lock.
  mutable std::mutex m_csSettings;

  // Window-related members.
  CAboutDlg m_dlgAbout;
  CMenu m_menuPopup;

  // ---- Send side: capture connection, frame callback, video sender ----
  // The capture size and depth the driver was given by the last successful InitCapture. Frames
  // arrive in this format whatever SetVideoInFormat said since, so the callback and the encoder
  // work with it.
  int m_nCaptureWidth = 0;
  int m_nCaptureHeight = 0;
  // The four endpoints (send side and receive side) and the send socket.
  ControlEndpoints m_endpoints;
  winsock::SOCKET m_sockSend = winsock::INVALID_SOCKET;
  BOOL m_bSendSocketShared = 0;  // the send start took a share of the shared socket
  // Sequence number, timestamp and source identifier of the video packet header.
  HeaderCounters m_headerCounters;
  unsigned m_nTimestampStep = 0;
  // The encoder's creation, per-frame and statistics blocks; the handle is the encoder.
  xvid21::XVID_ENC_PARAM m_xvidEncParam{};
  xvid21::XVID_ENC_FRAME m_xvidEncFrame{};
  xvid21::XVID_ENC_STATS m_xvidEncStats{};
  // Held from the send start to StopSend: the packet buffer (header, then the encoded frame)
  // and the buffer each taken frame is copied into.
  std::unique_ptr<BYTE[]> m_pPacketBuffer;
  std::unique_ptr<BYTE[]> m_pFrameBuffer;
  size_t m_nFrameBufferSize = 0;
  // Frames the sender encoded and sent whole, and the bytes of their datagrams, for hosts'
  // figures (read on the UI thread while the streaming thread counts).
  std::atomic<std::uint64_t> m_nFramesSent{0};
  std::atomic<std::uint64_t> m_nBytesSent{0};
  // Key-frame requests from receivers, on the streaming thread: read from the send socket before
  // each frame (or handed over by the receive loop when the socket is shared), answered at most
  // one per half second. Key frames made for a request, for hosts' figures.
  KeyFrameAnswerer m_keyFrameAnswerer;
  std::uint32_t m_nSharedRequestsSeen = 0;
  std::atomic<std::uint64_t> m_nKeyFramesRequested{0};

  // What a frame reads of the values the UI thread may change, copied once per frame under
  // m_csSettings.
  struct FrameSettings {
    BOOL bSending;
    int nFrameRate;
    int nLanguageVersion;
    int nKeyFrameInterval;
    char szUserName[256];
    char szCompressType[8];
  };
  FrameSettings TakeFrameSettings() const;

  // The error callback InitCapture registers; the capture window calls it on the UI thread when
  // the camera goes away. Sending stops, so that StopSend reports that nothing is sent, and the
  // connect-failure box shows when error dialogs are on.
  static LRESULT CaptureErrorCallback(HWND hWnd, int nID, LPCSTR lpsz);
  void OnCaptureLost();
  // The connect-failure box, owned by the control window, when error dialogs are on.
  void ShowConnectFailureBox();
  // The video-stream callback the send start registers: gate, copy, name overlay, flip, send.
  static LRESULT FrameCallback(HWND hWnd, LPVIDEOHDR lpVHdr);
  LRESULT OnCapturedFrame(const VIDEOHDR& header);
  // Encodes one prepared frame (capture size; 24-bit bottom-up or 16-bit top-down rows) and sends
  // it as fragments. TRUE when sent, or when the compress type sends nothing. `times` (only while
  // a frame-times observer is set) gets the encode and send stamps.
  BOOL SendFrame(BYTE* image, const FrameSettings& settings, SentFrameTimes* times = nullptr);
  // The send start behind SendVideo, and stopping as StopSend does (also for CloseCapture and
  // the destructor).
  BOOL StartSending();
  void StopSending();
  // Gives back what a send start holds: socket, encoder, buffers.
  void ReleaseSendResources();

  // ---- Receive side: sockets, buffers, display decoder, drawing ----
  // Held from RecvVideo to StopRecv: the receive socket (or a share of the shared socket), the
  // announcement socket at the receive port + 1, the DrawDib handle, the window's device context.
  winsock::SOCKET m_sockRecv = winsock::INVALID_SOCKET;
  winsock::SOCKET m_sockAnnounce = winsock::INVALID_SOCKET;
  BOOL m_bRecvSocketShared = 0;  // the receive socket is a share of the shared socket
  HDRAWDIB m_hDrawDib = nullptr;
  HDC m_hRecvDC = nullptr;
  CPackedPictureDrawer m_pictureDrawer;  // draws the decoded pictures into the window
  // Where received pictures are drawn: the client rectangle at RecvVideo, and on resize while the
  // side is 2.
  RECT m_rcDraw{};
  // Allocated with the control: every datagram read lands in the receive buffer; the picture
  // buffer holds the last decoded picture (bottom row first); the recorded picture buffer holds
  // each recorded frame as it is decoded, so that no client's picture mixes with another's; the
  // room the display puts its frames together in.
  std::unique_ptr<BYTE[]> m_pRecvBuffer;
  std::unique_ptr<BYTE[]> m_pPictureBuffer;
  std::unique_ptr<BYTE[]> m_pRecordPicture;
  std::unique_ptr<BYTE[]> m_pDisplayRoom;
  DisplayReceiver m_display;
  // Key frames asked of the senders waited for, and the last sender outside the client table.
  KeyFrameRequester m_keyFrameRequests;
  StrangerSource m_stranger;
  // The display decoder (from RecvVideo to StopRecv) and its per-frame block.
  xvid21::XVID_DEC_PARAM m_xvidDecParam{};
  xvid21::XVID_DEC_FRAME m_xvidDecFrame{};
  // The full-screen view while it is open: pictures go to it instead of the control's window.
  CFullScreenDlg* m_pFullScreenDlg = nullptr;
  BOOL m_bFullScreen = 0;
  // For hosts' figures (UI thread only): datagrams read from the receive socket, pictures drawn,
  // frames written to recording files.
  std::uint64_t m_nDatagramsReceived = 0;
  std::uint64_t m_nFramesShown = 0;
  std::uint64_t m_nFramesRecorded = 0;
  DrawnPictureSink* m_pDrawnPictures = nullptr;

  // The receive tick's parts: keep-alive and announcement, reading both sockets until empty, and
  // the key-frame requests that came due. The drain also runs when a datagram arrives between ticks.
  void SendKeepAliveAndAnnouncement();
  enum class DrainEnd { kEmpty, kBudgetSpent, kBusy };
  DrainEnd DrainReceiveSockets();
  // Reading on arrival (net/recv_arrival.cpp): the receive socket tells the window when it can be
  // read. Paused while a drain runs out of budget or finds another running, until the next tick.
  void StartReadingOnArrival();
  void StopReadingOnArrival();
  void OnRecvSocketReadable();
  // Takes the receive socket's message; every other one goes to the framework.
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL m_bDraining = FALSE;
  BOOL m_bArrivalPaused = FALSE;
  void OnKeyFrameRequest(const winsock::sockaddr_in& from, std::uint32_t nowMs);
  void SendKeyFrameRequests(std::uint32_t nowMs);
  // The frame sender's look at its send socket for key-frame requests before a frame; true when
  // this frame is to be a key frame.
  bool KeyFrameRequestedBeforeFrame();
  // Gives back what RecvVideo took: sockets (the shared share included), DrawDib, decoder, DC.
  void ReleaseReceiveResources();

  // ---- Client table: the peers told apart by address and port ----
  ClientTable m_clients;

 protected:
  void OnDraw(HDC dc, const RECT& bounds, const RECT& invalid) override;
  void OnSize(UINT type, int cx, int cy) override;
  void OnTimer(UINT_PTR idEvent) override;
  void OnRButtonDown(UINT flags, POINT point) override;
  BOOL OnCommand(UINT id) override;

 private:
  // A live control keeps its module loaded.
  CModuleLock m_moduleLock;
  ConstructionStage m_eStage = ConstructionStage::CodecFailed;
  BOOL m_bAviStarted = FALSE;  // whether step 7 started the recording library
};
