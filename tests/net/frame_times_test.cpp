// The frame-times observer the call benchmark uses: what it is told must name the frames that
// really went out and were really drawn, with times in their order.
#include "net/frame_times.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "tests/net/recv_fixture.h"
#include "tests/support/capture_fixture.h"

namespace {

class Log : public FrameTimesObserver {
 public:
  void FrameSent(const SentFrameTimes& t) override {
    std::lock_guard<std::mutex> lock(mutex);
    sent.push_back(t);
  }
  void FrameShown(const ShownFrameTimes& t) override {
    std::lock_guard<std::mutex> lock(mutex);
    shown.push_back(t);
  }
  std::mutex mutex;
  std::vector<SentFrameTimes> sent;
  std::vector<ShownFrameTimes> shown;
};

class SentFrameTimesTest : public sendtest::ControlTest {
 protected:
  void TearDown() override {
    SetFrameTimesObserver(nullptr);
    ControlTest::TearDown();
  }
};

TEST_F(SentFrameTimesTest, EverySentFrameIsReportedOnceWithItsHeaderAndOrderedTimes) {
  SetCaptureDriversForTesting({MakeTestCameraDriver()});
  Log log;
  SetFrameTimesObserver(&log);
  sendtest::Receiver rx;
  auto ctrl = MakeControl();
  sendtest::SendTo(*ctrl, rx.Port());
  ASSERT_TRUE(ctrl->InitCapture(0));
  ASSERT_TRUE(ctrl->SendVideo());
  Pump(1000);
  ASSERT_TRUE(ctrl->StopSend());
  SetFrameTimesObserver(nullptr);
  const auto frames = sendtest::Reassemble(rx.Drain());

  ASSERT_FALSE(frames.empty());
  ASSERT_EQ(log.sent.size(), frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const SentFrameTimes& t = log.sent[i];
    EXPECT_EQ(t.sequence, frames[i].sequence) << i;
    EXPECT_EQ(t.frameLength, frames[i].frameLength) << i;
    EXPECT_EQ(t.keyFrame, frames[i].marker) << i;
    EXPECT_GT(t.capturedNs, 0) << i;
    EXPECT_LE(t.capturedNs, t.encodedNs) << i;
    EXPECT_LE(t.encodedNs, t.sentNs) << i;
    if (i > 0) {
      EXPECT_LT(log.sent[i - 1].sentNs, t.capturedNs) << i;
    }
  }
}

class ShownFrameTimesTest : public ReceivingControl {
 protected:
  void TearDown() override {
    SetFrameTimesObserver(nullptr);
    ReceivingControl::TearDown();
  }
};

TEST_F(ShownFrameTimesTest, EachDrawnFrameIsReportedWithTheSequenceOfItsLastDatagram) {
  const auto stream = test_stream::EncodeStream(352, 288, 2);
  Log log;
  SetFrameTimesObserver(&log);
  ASSERT_TRUE(ctrl->RecvVideo());
  SendFrame(stream[0], 7);
  SendFrame(stream[1], 8);
  ASSERT_TRUE(PumpUntil([&] { return ctrl->m_nFramesShown == 2; }));
  // A frame never completed is never reported.
  const auto partial = test_stream::Datagrams(stream[0], 9);
  ASSERT_GT(partial.size(), 1u);
  Send(partial.front());
  Pump(100);
  SetFrameTimesObserver(nullptr);

  ASSERT_EQ(log.shown.size(), 2u);
  EXPECT_EQ(log.shown[0].sequence, 7);
  EXPECT_EQ(log.shown[1].sequence, 8);
  for (const ShownFrameTimes& t : log.shown) {
    EXPECT_GT(t.readNs, 0);
    EXPECT_LE(t.readNs, t.drawnNs);
  }
}

}  // namespace
