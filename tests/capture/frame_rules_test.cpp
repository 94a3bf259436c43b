#include "capture/frame_rules.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(FrameGateTest, ThresholdsPerRate) {
  const struct {
    int rate;
    DWORD threshold;
  } rows[] = {{1, 990}, {5, 190}, {10, 90}, {15, 56}, {20, 40}, {25, 30}, {29, 24}};
  for (const auto& r : rows) {
    SetFrameGateForTesting(1000);
    EXPECT_FALSE(FrameGateTake(r.rate, 1000 + r.threshold - 1)) << r.rate;
    EXPECT_TRUE(FrameGateTake(r.rate, 1000 + r.threshold)) << r.rate;
  }
  SetFrameGateForTesting(1000);
  EXPECT_TRUE(FrameGateTake(30, 1000));
}

TEST(FrameGateTest, FifteenFpsDropsAt40AndTakesAt60AndTheFirstFramePasses) {
  ResetFrameGateForTesting();
  EXPECT_TRUE(FrameGateTake(15, 500));  // last tick starts at 0
  EXPECT_FALSE(FrameGateTake(15, 540));
  EXPECT_TRUE(FrameGateTake(15, 560));
  EXPECT_FALSE(FrameGateTake(15, 600));  // measured from the frame taken at 560
  // The tick wraps: unsigned arithmetic keeps the distance.
  SetFrameGateForTesting(0xFFFFFFF0u);
  EXPECT_FALSE(FrameGateTake(15, 0x10u));
  EXPECT_TRUE(FrameGateTake(15, 0x30u));
}

TEST(FrameGateTest, ThreadsAskingAtOnceTakeOneFrame) {
  // The streaming threads of several sending controls reach the gate in the same millisecond:
  // one of them takes its frame, the others drop theirs.
  for (int round = 0; round < 200; ++round) {
    SetFrameGateForTesting(0);
    std::atomic<int> ready{0}, taken{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
      threads.emplace_back([&] {
        ready.fetch_add(1);
        while (ready.load() < 4) std::this_thread::yield();
        if (FrameGateTake(15, 1000)) taken.fetch_add(1);
      });
    for (auto& t : threads) t.join();
    ASSERT_EQ(taken.load(), 1) << "round " << round;
  }
}

TEST(OverlayGeometryTest, StripFontAndPositionByWidth) {
  const OverlayGeometry q = OverlayGeometryFor(176, 144);
  EXPECT_EQ(q.stripHeight, 18);
  EXPECT_EQ(q.fontHeight, 18);
  EXPECT_EQ(q.x, 88);
  EXPECT_EQ(q.y, 18);
  const OverlayGeometry c = OverlayGeometryFor(352, 288);
  EXPECT_EQ(c.stripHeight, 19);
  EXPECT_EQ(c.fontHeight, 20);
  EXPECT_EQ(c.x, 176);
  const OverlayGeometry f = OverlayGeometryFor(704, 576);
  EXPECT_EQ(f.stripHeight, 38);
  EXPECT_EQ(f.fontHeight, 20);
}

TEST(FlipRowsTest, FourRowsSwapPairsFiveRowsKeepTheMiddle) {
  std::vector<BYTE> four = {0, 0, 1, 1, 2, 2, 3, 3};
  FlipRows(four.data(), 2, 4);
  EXPECT_EQ(four, (std::vector<BYTE>{3, 3, 2, 2, 1, 1, 0, 0}));
  std::vector<BYTE> five = {0, 1, 2, 3, 4};
  FlipRows(five.data(), 1, 5);
  EXPECT_EQ(five, (std::vector<BYTE>{4, 3, 2, 1, 0}));
  std::vector<BYTE> one = {9};
  FlipRows(one.data(), 1, 1);
  EXPECT_EQ(one[0], 9);
}

}  // namespace
