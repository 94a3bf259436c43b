// The rule that forces key frames, with its counter and first-frame flag shared by every sending control
// in the process. Several controls' streaming threads use it at once, so every step holds its lock.
#pragma once

#include <cstdint>
#include <mutex>

namespace codec {

class KeyFrameRule {
 public:
  // Counts the frame and returns the `intra` request for it: 1 when the count is a multiple of the
  // interval or when this is the first frame of the rule, else -1. An interval of 0 forces nothing.
  int Request(int keyFrameInterval);
  // After an encode: a successful one that made a key frame restarts the count at 1.
  void Record(bool bEncoded, int intra);
  void Reset();

 private:
  std::mutex m_mutex;
  std::uint32_t m_nCounter = 0;
  bool m_bForceFirst = true;
};

// The process's one rule.
KeyFrameRule& SharedKeyFrameRule();

inline int RequestKeyFrame(int keyFrameInterval) { return SharedKeyFrameRule().Request(keyFrameInterval); }
inline void RecordEncodeResult(bool bEncoded, int intra) { SharedKeyFrameRule().Record(bEncoded, intra); }
// Tests only: back to the state at load.
inline void ResetKeyFrameRuleForTest() { SharedKeyFrameRule().Reset(); }

}  // namespace codec
