#include "net/send_settings.h"

#include "control/quelvora_ctrl.h"

long ClampBandwidth(long bandwidth) { return bandwidth <= kMinimumBandwidth ? kMinimumBandwidth : bandwidth; }

int KeyFrameIntervalFor(long bandwidth) {
  if (bandwidth <= 128000) return 50;
  if (bandwidth <= 384000) return 30;
  if (bandwidth <= 1000000) return 15;
  return 10;
}

unsigned TimestampStep(int frameRate) { return 8u * (1000u / static_cast<unsigned>(frameRate)); }

void CQuelvoraCtrl::SetBandwidth(long lBandwidth, long lCodeOrDecode) {
  std::lock_guard<std::mutex> lock(m_csSettings);
  m_lBandwidth = ClampBandwidth(lBandwidth);
  m_nKeyFrameInterval = KeyFrameIntervalFor(m_lBandwidth);
  m_nCodeOrDecode = static_cast<int>(lCodeOrDecode);
}

BOOL CQuelvoraCtrl::SetSendFrameRate(short sFrameRate) {
  if (sFrameRate < 1 || sFrameRate > 30) return FALSE;
  std::lock_guard<std::mutex> lock(m_csSettings);
  m_nFrameRate = sFrameRate;
  return TRUE;
}
