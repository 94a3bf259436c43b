// The capture connection: InitCapture, CloseCapture and HaveVideoCapture.
#include <cstdlib>
#include <ctime>

#include "capture/capture_setup.h"
#include "capture/device_dialog.h"
#include "control/error_table.h"
#include "control/quelvora_ctrl.h"
#include "platform/kernel/kernel.h"
#include "platform/ui/msgbox.h"

namespace {

// The driver index a negative DeviceType lets the user choose.
int ChooseDriver() {
  CSelectDeviceDlg dlg(&capGetDriverDescriptionA);
  dlg.DoModal();
  const short chosen = static_cast<short>(dlg.m_nSelectedDevice);
  return chosen < 0 ? 0 : chosen;
}

void DestroyCaptureWindow(HWND& hCapWnd) {
  DestroyWindow(hCapWnd);
  hCapWnd = nullptr;
}

}  // namespace

BOOL CQuelvoraCtrl::InitCapture(short DeviceType) {
  if (m_bCaptureOpen) {
    m_nErrorID = ERR_DRIVER_ALREADY_CONNECTED;
    return FALSE;
  }
  const int driverIndex = DeviceType >= 0 ? DeviceType : ChooseDriver();

  if (GetPrivateProfileIntA(kIniSection, kIniKeyUseRGB16, 0, kIniFileName) == 1) m_bUseRGB16 = 1;

  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  m_hCapWnd = capCreateCaptureWindowA(nullptr, WS_CHILD | WS_VISIBLE, client.left, client.top, client.right,
                                      client.bottom, m_hWnd, 0);

  if (!m_hCapWnd || !capDriverConnect(m_hCapWnd, driverIndex)) {
    m_nErrorID = ERR_CONNECT_DRIVER_FAILED;
    ShowConnectFailureBox();
    DestroyCaptureWindow(m_hCapWnd);
    return FALSE;
  }

  CAPTUREPARMS parms{};
  capCaptureGetSetup(m_hCapWnd, &parms, sizeof parms);
  ApplyStreamingParameters(&parms, m_nFrameRate);
  capCaptureSetSetup(m_hCapWnd, &parms, sizeof parms);

  const BITMAPINFO format = CaptureFormatBlock(m_nVideoInWidth, m_nVideoInHeight, m_bUseRGB16);
  if (!capSetVideoFormat(m_hCapWnd, &format, sizeof format)) {
    if (m_bShowErrorDialog) {
      const FormattedText text = FormatFailureText(m_nLanguageVersion, m_nVideoInWidth, m_nVideoInHeight);
      MessageBoxA(nullptr, text.bytes, ErrorCaption(m_nLanguageVersion), MB_OK | MB_ICONHAND);
    }
    capDriverDisconnect(m_hCapWnd);
    DestroyCaptureWindow(m_hCapWnd);
    return FALSE;
  }
  m_nCaptureWidth = m_nVideoInWidth;
  m_nCaptureHeight = m_nVideoInHeight;

  capPreviewRate(m_hCapWnd, static_cast<UINT>(1000 / m_nFrameRate));
  capPreviewScale(m_hCapWnd, TRUE);
  capPreview(m_hCapWnd, TRUE);

  CAPDRIVERCAPS caps{};
  if (capDriverGetCaps(m_hCapWnd, &caps, sizeof caps) && caps.fHasOverlay) capOverlay(m_hCapWnd, TRUE);

  // Told on the UI thread when the camera goes away; the callbacks find the control in the user data.
  capSetUserData(m_hCapWnd, reinterpret_cast<LPARAM>(this));
  capSetCallbackOnError(m_hCapWnd, &CQuelvoraCtrl::CaptureErrorCallback);

  std::srand(static_cast<unsigned>(std::time(nullptr)));
  const PacketFields counters = DrawHeaderCounters();
  m_headerCounters.Seed(counters.sequence, counters.timestamp, counters.sourceId);

  m_bCaptureOpen = 1;
  return TRUE;
}

BOOL CQuelvoraCtrl::CloseCapture() {
  if (!m_bCaptureOpen) {
    m_nErrorID = ERR_DRIVER_NOT_CONNECTED;
    return FALSE;
  }
  if (m_bSending) StopSending();
  if (m_hCapWnd) {
    capDriverDisconnect(m_hCapWnd);
    DestroyCaptureWindow(m_hCapWnd);
  }
  m_bCaptureOpen = 0;
  return TRUE;
}

void CQuelvoraCtrl::ShowConnectFailureBox() {
  if (m_bShowErrorDialog)
    MessageBoxA(m_hWnd, ConnectFailureText(m_nLanguageVersion), ErrorCaption(m_nLanguageVersion),
                MB_OK | MB_ICONHAND);
}

BOOL CQuelvoraCtrl::HaveVideoCapture() {
  for (WORD index = 0; index < MAXVIDEODRIVERS; ++index) {
    char szName[80];
    char szVersion[80];
    if (capGetDriverDescriptionA(index, szName, sizeof szName, szVersion, sizeof szVersion)) return TRUE;
  }
  return FALSE;
}
