// The control object: construction, destruction, the idle picture and the window messages.
#include "control/quelvora_ctrl.h"

#include <cstring>

#include "codec/xvid21.h"
#include "control/error_table.h"
#include "control/quelvora_ids.h"
#include "display/full_screen_dlg.h"
#include "net/shared_socket.h"
#include "platform/gdi/gdi.h"
#include "platform/module/factory.h"
#include "platform/ui/msgbox.h"
#include "platform/winsock/winsock.h"
#include "recording/avi_writer.h"

CQuelvoraCtrl::CQuelvoraCtrl() {
  // Step 1: the dispatch interface's ID, so that a container binding through it finds the control.
  InitializeIIDs(&DIID__DQuelvora);
  // Step 2: the defaults.
  m_nVideoInHeight = 288;
  m_nVideoOutHeight = 288;
  m_lBandwidth = 250000;
  m_nFrameRate = 15;
  m_nKeyFrameInterval = 30;
  m_nQualityIndex = 5;
  m_nVideoInWidth = 352;
  m_nVideoOutWidth = 352;
  m_strCompressType = "MPEG4";
  std::memset(m_szUserName, 0, sizeof m_szUserName);
  m_nLanguageVersion = LANGUAGE_ENGLISH;
  m_bUseRGB16 = 0;
  m_bCaptureOpen = 0;
  m_hCapWnd = nullptr;
  m_nErrorID = ERR_NONE;
  m_bReceiving = 0;
  m_bSending = 0;

  // Step 3: the codec library, which must offer exactly the 2.1 interface.
  xvid21::XVID_INIT_PARAM init{};
  init.cpu_flags = 0;
  if (xvid21::xvid_init(nullptr, 0, &init, nullptr) != xvid21::XVID_ERR_OK) {
    MessageBoxA(nullptr, kTextXvidInitFailed, kCaptionStartup, MB_OK);
    m_eStage = ConstructionStage::CodecFailed;
    return;
  }
  if (init.api_version != xvid21::API_VERSION) {
    MessageBoxA(nullptr, init.api_version < xvid21::API_VERSION ? kTextXvidOlder : kTextXvidNewer,
                kCaptionStartup, MB_OK);
    m_eStage = ConstructionStage::CodecFailed;
    return;
  }

  // Step 4: the side, the receive-side buffers and the popup menu.
  m_nCodeOrDecode = 0;
  m_sockRecv = winsock::INVALID_SOCKET;
  m_pRecvBuffer = std::make_unique<BYTE[]>(kDatagramBufferSize);
  m_pPictureBuffer = std::make_unique<BYTE[]>(kPictureBufferSize);
  m_pRecordPicture = std::make_unique<BYTE[]>(kPictureBufferSize);
  m_pDisplayRoom = std::make_unique<BYTE[]>(kFramesInFlight * kFrameSlotBytes);
  m_display.frames.Attach(m_pDisplayRoom.get());
  m_pFullScreenDlg = nullptr;
  m_bFullScreen = 0;
  m_menuPopup.CreatePopupMenu();
  m_menuPopup.AppendMenu(MF_STRING, ID_FULL_SCREEN, kTextFullScreen);

  // Step 5: the socket library, version 1.1.
  winsock::WSADATA wsaData{};
  if (winsock::WSAStartup(winsock::MAKEWORD(1, 1), &wsaData) != 0) {
    MessageBoxA(nullptr, kTextWsaStartupFailed, kCaptionStartup, MB_OK);
    // Without sockets nothing is ever received into the buffers: the control keeps none, and
    // so RecvVideo, which needs them, refuses.
    m_display.frames.Attach(nullptr);
    m_pRecvBuffer.reset();
    m_pPictureBuffer.reset();
    m_pRecordPicture.reset();
    m_pDisplayRoom.reset();
    m_eStage = ConstructionStage::SocketsFailed;
    return;
  }

  // Step 6: same-socket mode off, switch off, client table empty.
  m_bSameSocket = 0;
  m_bShowErrorDialog = 0;
  m_nShowClient = 0;

  // Step 7: the recording library; a failure shows its own box and construction completes.
  m_bAviStarted = AVI_Init();
  m_eStage = ConstructionStage::Complete;
}

CQuelvoraCtrl::~CQuelvoraCtrl() {
  // Step 1: sending stops (the stream is joined) before the capture window goes.
  if (m_bCaptureOpen) {
    if (m_bSending) StopSending();
    if (m_hCapWnd) {
      capDriverDisconnect(m_hCapWnd);
      ::DestroyWindow(m_hCapWnd);
      m_hCapWnd = nullptr;
    }
    m_bCaptureOpen = 0;
  }
  // Step 2: receiving stops as StopRecv stops it.
  if (m_bReceiving) StopRecv();
  // Every RecvVideo takes the window's device context, a refused one too; the last one goes back.
  if (m_hRecvDC != nullptr) {
    ReleaseDC(m_hRecvDC);
    m_hRecvDC = nullptr;
  }
  // A control whose start-up stopped early releases only what it acquired.
  if (m_eStage != ConstructionStage::CodecFailed) {
    // Step 3: the receive-side buffers.
    m_display.frames.Attach(nullptr);
    m_pRecvBuffer.reset();
    m_pPictureBuffer.reset();
    m_pRecordPicture.reset();
    m_pDisplayRoom.reset();
    // Step 4: the menu.
    m_menuPopup.DestroyMenu();
  }
  if (m_eStage == ConstructionStage::Complete) {
    // Step 5: the socket library.
    winsock::WSACleanup();
  }
  // Step 6: every client, with its recording file and decoder.
  RemoveClientAll();
  if (m_eStage == ConstructionStage::Complete && m_bAviStarted) {
    // Step 7: the recording library, released only when this control started it, so that a
    // refused start cannot take the library away from another control that is recording.
    AVI_Exit();
  }
  // The send socket may be a kept copy of the shared socket, which other controls still hold.
  TheSharedSocketTable().ForgetCopy(&m_sockSend);
  DestroyWindow();
}

void CQuelvoraCtrl::OnDraw(HDC dc, const RECT& /*bounds*/, const RECT& invalid) {
  SetBkColor(dc, RGB(0, 0, 255));
  FillSolidRectWithBkColor(dc, &invalid);
  SetTextColor(dc, RGB(255, 255, 255));
  TextOutA(dc, 10, 10, "No Signal", 9);
}

void CQuelvoraCtrl::OnSize(UINT type, int cx, int cy) {
  // On the receive side received pictures follow the window's size.
  if (m_nCodeOrDecode == DECODE_SIDE) GetClientRect(&m_rcDraw);
  COleControl::OnSize(type, cx, cy);
}

void CQuelvoraCtrl::OnRButtonDown(UINT flags, POINT point) {
  POINT cursor;
  GetCursorPos(&cursor);
  m_menuPopup.TrackPopupMenu(TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, this);
  COleControl::OnRButtonDown(flags, point);
}

BOOL CQuelvoraCtrl::OnCommand(UINT id) {
  if (id == ID_FULL_SCREEN) {
    ShowFullScreen();
    return TRUE;
  }
  return COleControl::OnCommand(id);
}

void CQuelvoraCtrl::AboutBox() { m_dlgAbout.DoModal(); }

void CQuelvoraCtrl::CopyUserName(char out[256]) const {
  std::lock_guard<std::mutex> lock(m_csSettings);
  std::memcpy(out, m_szUserName, sizeof m_szUserName);
}
