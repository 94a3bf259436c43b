// The frame callback: each captured frame is gated, copied, labelled with the user's name and
// handed to the frame sender.
#include <algorithm>
#include <cstring>

#include "capture/capture_setup.h"
#include "capture/frame_copy.h"
#include "capture/frame_rules.h"
#include "capture/name_overlay.h"
#include "control/quelvora_ctrl.h"
#include "net/frame_times.h"
#include "platform/kernel/kernel.h"

CQuelvoraCtrl::FrameSettings CQuelvoraCtrl::TakeFrameSettings() const {
  FrameSettings s;
  std::lock_guard<std::mutex> lock(m_csSettings);
  s.bSending = m_bSending;
  s.nFrameRate = m_nFrameRate;
  s.nLanguageVersion = m_nLanguageVersion;
  s.nKeyFrameInterval = m_nKeyFrameInterval;
  std::memcpy(s.szUserName, m_szUserName, sizeof s.szUserName);
  s.szUserName[sizeof s.szUserName - 1] = '\0';
  const std::string& type = m_strCompressType.str();
  const size_t n = std::min(type.size(), sizeof s.szCompressType - 1);
  std::memcpy(s.szCompressType, type.data(), n);
  s.szCompressType[n] = '\0';
  return s;
}

LRESULT CQuelvoraCtrl::FrameCallback(HWND hWnd, LPVIDEOHDR lpVHdr) {
  // A window that is gone or carries no control leaves nothing to work with.
  if (!lpVHdr || !IsWindow(hWnd)) return TRUE;
  auto* ctrl = reinterpret_cast<CQuelvoraCtrl*>(capGetUserData(hWnd));
  if (!ctrl) return TRUE;
  return ctrl->OnCapturedFrame(*lpVHdr);
}

LRESULT CQuelvoraCtrl::OnCapturedFrame(const VIDEOHDR& header) {
  FrameTimesObserver* const observer = TheFrameTimesObserver();
  SentFrameTimes times;
  if (observer) times.capturedNs = FrameTimesNowNs();
  if (!(header.dwFlags & VHDR_DONE)) return TRUE;
  const FrameSettings settings = TakeFrameSettings();
  if (!settings.bSending) return TRUE;
  if (!FrameGateTake(settings.nFrameRate, GetTickCount())) return TRUE;

  BYTE* buffer = m_pFrameBuffer.get();
  if (!buffer) return TRUE;
  CopyFrameBytes(buffer, m_nFrameBufferSize, header.lpData, header.dwBytesUsed);

  const int width = m_nCaptureWidth;
  const int height = m_nCaptureHeight;
  const WORD bitCount = m_bUseRGB16 ? 16 : 24;
  if (settings.szUserName[0] != '\0')
    DrawNameOverlay(buffer, width, height, bitCount, settings.nLanguageVersion, settings.szUserName);

  const size_t rowBytes = static_cast<size_t>(width) * (bitCount / 8u);
  CompactDibRows(buffer, rowBytes, CaptureFrameBytes(width, 1, m_bUseRGB16), height);
  if (m_bUseRGB16) FlipRows(buffer, rowBytes, height);

  SendFrame(buffer, settings, observer ? &times : nullptr);
  if (observer && times.sentNs != 0) observer->FrameSent(times);
  return TRUE;
}
