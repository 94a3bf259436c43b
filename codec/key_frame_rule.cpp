#include "codec/key_frame_rule.h"

namespace codec {

int KeyFrameRule::Request(int keyFrameInterval) {
  std::lock_guard lock(m_mutex);
  ++m_nCounter;
  const auto interval = static_cast<std::uint32_t>(keyFrameInterval);
  int intra = (interval != 0 && m_nCounter % interval == 0) ? 1 : -1;
  if (m_bForceFirst) {
    intra = 1;
    m_bForceFirst = false;
  }
  return intra;
}

void KeyFrameRule::Record(bool bEncoded, int intra) {
  if (!bEncoded || intra == 0) return;
  std::lock_guard lock(m_mutex);
  m_nCounter = 1;
}

void KeyFrameRule::Reset() {
  std::lock_guard lock(m_mutex);
  m_nCounter = 0;
  m_bForceFirst = true;
}

KeyFrameRule& SharedKeyFrameRule() {
  static KeyFrameRule rule;
  return rule;
}

}  // namespace codec
