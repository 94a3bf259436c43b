#include <QWidget>

#include "tests/platform/vfw/vfw_test_support.h"

namespace {

using vfwtest::CaptureWindowTest;
using vfwtest::Frame;
using vfwtest::WaitFor;

unsigned Word(const std::vector<BYTE>& bits, std::size_t offset) {
  return static_cast<unsigned>(bits[offset] | (bits[offset + 1] << 8));
}

TEST_F(CaptureWindowTest, StreamsTwentyFourBitBottomUpFramesAtTheRequestedRate) {
  Connect(176, 144, 24, 40000);
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  EXPECT_FALSE(capCaptureSequenceNoFile(hwnd_));  // already streaming
  EXPECT_TRUE(Info().streaming);
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= 8; }));
  ASSERT_TRUE(capCaptureStop(hwnd_));
  EXPECT_FALSE(Info().streaming);

  const std::vector<Frame> frames = rec_.Frames();
  const std::size_t row = 176 * 3, last = 143 * row;
  for (const Frame& f : frames) {
    ASSERT_EQ(f.bytesUsed, 176u * 144u * 3u);
    EXPECT_EQ(f.bufferLength, f.bytesUsed);
    EXPECT_TRUE(f.flags & VHDR_DONE);
    // The picture's top row is the buffer's last: red on the left, blue on the right (B, G, R bytes).
    EXPECT_EQ(f.bits[last + 0], 0);
    EXPECT_EQ(f.bits[last + 2], 255);
    EXPECT_EQ(f.bits[last + row - 3], 255);
    EXPECT_EQ(f.bits[last + row - 1], 0);
    EXPECT_FALSE(f.bits[0] == 0 && f.bits[1] == 0 && f.bits[2] == 255 && f.bits[row - 3] == 255 &&
                 f.bits[row - 1] == 0);
  }
  EXPECT_NE(frames[0].bits, frames[1].bits);  // the picture moves
  // 40 ms apart on average; the first frame comes at once.
  EXPECT_LT(frames[0].timeCaptured, 40u);
  const double mean = static_cast<double>(frames.back().timeCaptured - frames[0].timeCaptured) /
                      static_cast<double>(frames.size() - 1);
  EXPECT_GT(mean, 34.0);
  EXPECT_LT(mean, 60.0);
  EXPECT_TRUE(rec_.otherThread);
  EXPECT_EQ(Info().framesDelivered, static_cast<std::uint64_t>(rec_.count.load()));
}

TEST_F(CaptureWindowTest, StreamsSixteenBitFrames) {
  Connect(352, 288, 16, 10000);
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= 2; }));
  capCaptureAbort(hwnd_);
  const Frame f = rec_.Frames().front();
  ASSERT_EQ(f.bytesUsed, 352u * 288u * 2u);
  const std::size_t last = 287u * 352u * 2u;
  EXPECT_EQ(Word(f.bits, last), 0x7C00u);              // red
  EXPECT_EQ(Word(f.bits, last + 351u * 2u), 0x001Fu);  // blue
}

TEST_F(CaptureWindowTest, AbortAndStopReturnOnlyWhenNoCallbackRuns) {
  for (const UINT stopMessage : {WM_CAP_ABORT, WM_CAP_STOP}) {
    Connect(176, 144, 24, 5000);
    rec_.sleepMs = 15;
    rec_.keepFrames = false;
    ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
    ASSERT_TRUE(WaitFor([&] { return rec_.inCallback.load(); }));
    ASSERT_TRUE(SendMessage(hwnd_, stopMessage, 0, 0));
    rec_.stopped = true;
    EXPECT_FALSE(rec_.inCallback);
    const int count = rec_.count;
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(rec_.count, count);
    EXPECT_FALSE(rec_.lateCall);
    TearDown();
    Use(TestCameraOptions{});
    rec_.stopped = false;
    rec_.count = 0;
  }
}

TEST_F(CaptureWindowTest, RemovingTheCallbackWaitsForOneInProgress) {
  Connect(176, 144, 24, 5000);
  rec_.sleepMs = 15;
  rec_.keepFrames = false;
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(WaitFor([&] { return rec_.inCallback.load(); }));
  capSetCallbackOnVideoStream(hwnd_, nullptr);
  rec_.stopped = true;
  EXPECT_FALSE(rec_.inCallback);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  EXPECT_FALSE(rec_.lateCall);
  EXPECT_TRUE(Info().streaming);  // the stream goes on, with no one to call
  EXPECT_FALSE(Info().callbackSet);
}

TEST_F(CaptureWindowTest, DisconnectAndDestroyStopTheStream) {
  Connect(176, 144, 24, 5000);
  rec_.keepFrames = false;
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= 2; }));
  ASSERT_TRUE(capDriverDisconnect(hwnd_));
  rec_.stopped = true;
  EXPECT_FALSE(Info().streaming);
  EXPECT_FALSE(capCaptureSequenceNoFile(hwnd_));  // nothing connected
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(rec_.lateCall);

  rec_.stopped = false;
  ASSERT_TRUE(capDriverConnect(hwnd_, 0));
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  const int before = rec_.count;
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= before + 2; }));
  ASSERT_TRUE(DestroyWindow(hwnd_));
  rec_.stopped = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(rec_.lateCall);
}

TEST_F(CaptureWindowTest, DeletingTheParentWidgetStopsTheStream) {
  Connect(176, 144, 24, 5000);
  rec_.keepFrames = false;
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= 2; }));
  delete parent_.Widget();  // as when a host's form goes away with the capture window on it
  rec_.stopped = true;
  EXPECT_FALSE(IsWindow(hwnd_));
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(rec_.lateCall);
  WaitFor([] { return false; }, 20);
}

TEST_F(CaptureWindowTest, UserDataIsReadOnTheStreamingThread) {
  Connect(176, 144, 24, 5000);
  rec_.keepFrames = false;
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= 3; }));
  // The callback finds its recorder only through the user data, so a changed value is seen at once.
  vfwtest::Recorder other;
  other.keepFrames = false;
  capSetUserData(hwnd_, reinterpret_cast<LPARAM>(&other));
  const int first = rec_.count;
  ASSERT_TRUE(WaitFor([&] { return other.count >= 3; }));
  capCaptureAbort(hwnd_);
  EXPECT_LE(rec_.count, first + 1);  // at most the one in progress when it changed
  EXPECT_TRUE(rec_.otherThread && other.otherThread);
  EXPECT_EQ(capGetUserData(hwnd_), reinterpret_cast<LPARAM>(&other));
}

TEST_F(CaptureWindowTest, TheCallbackMayAbortItsOwnStream) {
  Connect(176, 144, 24, 5000);
  rec_.keepFrames = false;
  rec_.abortAtFrame = 3;
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(WaitFor([&] { return !Info().streaming; }));
  EXPECT_EQ(rec_.count, 3);
  // The ended stream is cleaned up by the next message; a new one can start.
  EXPECT_TRUE(capCaptureAbort(hwnd_));
  rec_.abortAtFrame = -1;
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  ASSERT_TRUE(WaitFor([&] { return rec_.count >= 5; }));
}

TEST_F(CaptureWindowTest, FormatAndSetupAreFixedWhileStreaming) {
  Connect(176, 144, 24, 5000);
  ASSERT_TRUE(capCaptureSequenceNoFile(hwnd_));
  BITMAPINFO cif = vfwtest::Format(352, 288, 24);
  EXPECT_FALSE(capSetVideoFormat(hwnd_, &cif, 44));
  CAPTUREPARMS p = vfwtest::Parms(1000);
  EXPECT_FALSE(capCaptureSetSetup(hwnd_, &p, sizeof(p)));
  capCaptureAbort(hwnd_);
  EXPECT_TRUE(capSetVideoFormat(hwnd_, &cif, 44));
  EXPECT_TRUE(capCaptureSetSetup(hwnd_, &p, sizeof(p)));
}

}  // namespace
