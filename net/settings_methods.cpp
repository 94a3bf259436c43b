// The control's sending settings: SetBandwidth, SetSendFrameRate and SetCompressType.
#include "control/quelvora_ctrl.h"
#include "net/compress_type.h"
#include "net/send_settings.h"

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

BOOL CQuelvoraCtrl::SetCompressType(LPCTSTR szCompressType) {
  const char* type = CompressTypeFromText(szCompressType);
  if (!type) return FALSE;
  std::lock_guard<std::mutex> lock(m_csSettings);
  m_strCompressType = type;
  return TRUE;
}
