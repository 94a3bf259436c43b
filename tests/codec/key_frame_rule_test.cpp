#include "codec/key_frame_rule.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// Frames (0-based) at which the rule asks for a key frame when every request is encoded as asked.
std::vector<int> RequestedKeys(codec::KeyFrameRule& rule, int interval, int frames) {
  std::vector<int> keys;
  for (int i = 0; i < frames; ++i) {
    const int intra = rule.Request(interval);
    rule.Record(true, intra == 1 ? 1 : 0);
    if (intra == 1) keys.push_back(i);
  }
  return keys;
}

TEST(KeyFrameRule, FirstFrameThenEveryIntervalMinusOne) {
  codec::KeyFrameRule rule;
  EXPECT_EQ(RequestedKeys(rule, 30, 90), (std::vector<int>{0, 29, 58, 87}));
}

TEST(KeyFrameRule, FirstFrameIsForcedOnlyOncePerRule) {
  codec::KeyFrameRule rule;
  EXPECT_EQ(rule.Request(1000), 1);
  rule.Record(true, 0);  // the library made a predicted frame after all: the count goes on
  EXPECT_EQ(rule.Request(1000), -1);
  rule.Reset();
  EXPECT_EQ(rule.Request(1000), 1);
}

TEST(KeyFrameRule, KeyFramesOfTheLibraryAndFailuresMoveTheCount) {
  codec::KeyFrameRule rule;
  rule.Record(true, rule.Request(10));  // frame 0, count restarts at 1
  for (int i = 0; i < 4; ++i) {
    rule.Request(10);
    rule.Record(true, 0);
  }
  rule.Record(true, 1);  // the library chose a key frame by itself: count 1 again
  for (int i = 0; i < 8; ++i) EXPECT_EQ(rule.Request(10), -1) << i;
  // A failed encode keeps its increment and does not restart the count, even if a key frame was asked.
  const int ninth = rule.Request(10);
  EXPECT_EQ(ninth, 1);
  rule.Record(false, ninth);
  EXPECT_EQ(rule.Request(10), -1);
}

TEST(KeyFrameRule, ZeroIntervalForcesNothing) {
  codec::KeyFrameRule rule;
  EXPECT_EQ(rule.Request(0), 1);  // still the first frame
  for (int i = 0; i < 100; ++i) EXPECT_EQ(rule.Request(0), -1);
}

// Two streaming threads share the rule: no increment is lost, so 2 x 5000 requests with interval 7 and no
// recorded key frames ask for exactly floor(10000 / 7) key frames plus the first one.
TEST(KeyFrameRule, SharedByTwoThreadsLosesNoCount) {
  codec::ResetKeyFrameRuleForTest();
  int keys[2] = {0, 0};
  auto run = [&](int id) {
    for (int i = 0; i < 5000; ++i) {
      if (codec::RequestKeyFrame(7) == 1) ++keys[id];
      codec::RecordEncodeResult(true, 0);
    }
  };
  std::thread a(run, 0), b(run, 1);
  a.join();
  b.join();
  EXPECT_EQ(keys[0] + keys[1], 10000 / 7 + 1);
  codec::ResetKeyFrameRuleForTest();
}

}  // namespace
