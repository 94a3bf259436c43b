// The sending control end to end on loopback: capture from a test camera, the frame callback,
// the encoder and the fragments, read back by a plain UDP socket and decoded by FFmpeg.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <set>

#include "control/error_table.h"
#include "net/learned_address.h"
#include "net/shared_socket.h"
#include "platform/ui/msgbox.h"
#include "tests/support/capture_fixture.h"

namespace {

using namespace sendtest;

class VideoSenderTest : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    SetCaptureDriversForTesting({MakeTestCameraDriver()});
  }
  // Sends for `ms` from a fresh capture connection and returns what arrived.
  std::vector<Bytes> SendFor(CQuelvoraCtrl& ctrl, Receiver& rx, int ms) {
    SendTo(ctrl, rx.Port());
    EXPECT_TRUE(ctrl.InitCapture(0));
    EXPECT_TRUE(ctrl.SendVideo());
    Pump(ms);
    EXPECT_TRUE(ctrl.StopSend());
    return rx.Drain();
  }
};

bool IsYellow(const std::uint8_t* bgr) { return bgr[2] > 150 && bgr[1] > 150 && bgr[0] < 110; }
// The one-row marker bleeds into its neighbours through compression: only its hue is kept.
bool IsReddish(const std::uint8_t* bgr) { return bgr[2] > bgr[0] + 60 && bgr[2] > bgr[1] + 60; }
bool IsBluish(const std::uint8_t* bgr) { return bgr[0] > bgr[2] + 60 && bgr[0] > bgr[1] + 60; }

TEST_F(VideoSenderTest, EveryHeaderFieldHoldsAndFfmpegDecodesEveryFrame) {
  Receiver rx;
  auto ctrl = MakeControl();
  ctrl->SetUserName("Alice");
  const std::vector<Bytes> datagrams = SendFor(*ctrl, rx, 1500);
  ASSERT_GT(datagrams.size(), 10u);

  const std::uint8_t name[16] = {'A', 'l', 'i', 'c', 'e'};
  for (const Bytes& d : datagrams) {
    ASSERT_GT(d.size(), 28u);
    EXPECT_LE(d.size(), 828u);
    EXPECT_EQ(d[0], 0x84);
    EXPECT_EQ(d[1] & 0x7F, 33);
    EXPECT_EQ(std::memcmp(d.data() + 12, name, 16), 0);
  }
  const std::vector<ReceivedFrame> frames = Reassemble(datagrams);
  ASSERT_GE(frames.size(), 10u);
  EXPECT_TRUE(frames[0].marker) << "the first frame is a key frame";
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_TRUE(frames[i].headersAgree) << i;
    EXPECT_EQ(frames[i].data.size(), frames[i].frameLength) << i;
    if (i == 0) continue;
    EXPECT_EQ(static_cast<std::uint16_t>(frames[i].sequence - frames[i - 1].sequence), 1) << i;
    EXPECT_EQ(frames[i].timestamp - frames[i - 1].timestamp, 528u) << i;
  }
  // Every fragment but the last of a frame carries 800 bytes.
  size_t at = 0;
  for (const ReceivedFrame& f : frames) {
    const size_t pieces = (f.frameLength + 799) / 800;
    for (size_t p = 0; p < pieces; ++p, ++at)
      EXPECT_EQ(datagrams[at].size() - 28, p + 1 < pieces ? 800 : f.frameLength - 800 * (pieces - 1));
  }

  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  std::vector<std::string> types;
  const auto pictures = DecodeWithFfmpeg(frames, 352, 288, TempDir(), &types);
  EXPECT_EQ(pictures.size(), frames.size());
  ASSERT_EQ(types.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].marker, types[i] == "I") << i;
}

TEST_F(VideoSenderTest, WithoutANameTheHeaderIsTwelveBytes) {
  Receiver rx;
  auto ctrl = MakeControl();
  const std::vector<Bytes> datagrams = SendFor(*ctrl, rx, 400);
  ASSERT_FALSE(datagrams.empty());
  for (const Bytes& d : datagrams) {
    EXPECT_EQ(d[0], 0x80);
    EXPECT_LE(d.size(), 812u);
  }
  for (const ReceivedFrame& f : Reassemble(datagrams)) EXPECT_EQ(f.data.size(), f.frameLength);
}

TEST_F(VideoSenderTest, H26xCompressTypesSendNothing) {
  Receiver rx;
  auto ctrl = MakeControl();
  ASSERT_TRUE(ctrl->SetCompressType("H.263"));
  EXPECT_TRUE(SendFor(*ctrl, rx, 400).empty());
}

TEST_F(VideoSenderTest, SendTwiceStopAndStopAgain) {
  Receiver rx;
  auto ctrl = MakeControl();
  SendTo(*ctrl, rx.Port());
  EXPECT_FALSE(ctrl->StopSend());
  EXPECT_EQ(ctrl->GetErrorID(), ERR_NOT_SENDING);
  ASSERT_TRUE(ctrl->InitCapture(0));
  ASSERT_TRUE(ctrl->SendVideo());
  const winsock::SOCKET first = ctrl->m_sockSend;
  EXPECT_TRUE(ctrl->SendVideo());
  EXPECT_EQ(ctrl->m_sockSend, first);
  Pump(300);
  ASSERT_TRUE(ctrl->StopSend());
  EXPECT_FALSE(ctrl->m_bSending);
  EXPECT_EQ(ctrl->m_sockSend, winsock::INVALID_SOCKET);
  EXPECT_EQ(ctrl->m_xvidEncParam.handle, nullptr);
  EXPECT_EQ(ctrl->m_pPacketBuffer, nullptr);
  rx.Drain(100);
  // Nothing leaves once StopSend has returned.
  Pump(300);
  EXPECT_TRUE(rx.Drain(100).empty());
  EXPECT_FALSE(ctrl->StopSend());

  // The counters run on across a second SendVideo.
  ASSERT_TRUE(ctrl->SendVideo());
  Pump(300);
  ASSERT_TRUE(ctrl->StopSend());
  EXPECT_FALSE(rx.Drain().empty());
}

TEST_F(VideoSenderTest, AFailedSendStartGivesBackWhatItTookSoALaterStartWorks) {
  Receiver rx;
  auto ctrl = MakeControl();
  ASSERT_TRUE(ctrl->InitCapture(0));

  // No socket on an address that is not this host's; the box only with the switch on.
  ctrl->m_endpoints.sendLocal.Store("192.0.2.1", 0);
  EXPECT_FALSE(ctrl->SendVideo());
  EXPECT_TRUE(RecordedMessageBoxes().empty());
  ctrl->ShowErrorDialog(1);
  EXPECT_FALSE(ctrl->SendVideo());
  ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
  EXPECT_EQ(RecordedMessageBoxes()[0].text, "Create UDP Socket for send failed !!!");
  EXPECT_EQ(ctrl->m_pPacketBuffer, nullptr);
  EXPECT_FALSE(ctrl->m_bSending);
  ASSERT_TRUE(ctrl->CloseCapture());

  // An odd capture width makes the encoder refuse, silently; the share of the shared socket
  // taken before goes back.
  ctrl->UseSameSocketForSendAndRecv(3);
  ctrl->m_bSameSocket = 1;
  SendTo(*ctrl, rx.Port());
  ctrl->SetVideoInFormat("351*288");
  ASSERT_TRUE(ctrl->InitCapture(0));
  ClearRecordedMessageBoxes();
  EXPECT_FALSE(ctrl->SendVideo());
  EXPECT_TRUE(RecordedMessageBoxes().empty());
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 0);
  EXPECT_EQ(ctrl->m_sockSend, winsock::INVALID_SOCKET);
  EXPECT_EQ(ctrl->m_pPacketBuffer, nullptr);
  ASSERT_TRUE(ctrl->CloseCapture());

  ctrl->SetVideoInFormat("CIF");
  ASSERT_TRUE(ctrl->InitCapture(0));
  ASSERT_TRUE(ctrl->SendVideo());
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 1);
  Pump(300);
  ASSERT_TRUE(ctrl->StopSend());
  EXPECT_EQ(TheSharedSocketTable().UseCount(), 0);
  EXPECT_FALSE(rx.Drain().empty());
}

TEST_F(VideoSenderTest, CloseCaptureWhileSendingStopsSendingFirst) {
  Receiver rx;
  auto ctrl = MakeControl();
  SendTo(*ctrl, rx.Port());
  ASSERT_TRUE(ctrl->InitCapture(0));
  ASSERT_TRUE(ctrl->SendVideo());
  Pump(300);
  EXPECT_TRUE(ctrl->CloseCapture());
  EXPECT_FALSE(ctrl->m_bSending);
  EXPECT_EQ(ctrl->m_sockSend, winsock::INVALID_SOCKET);
  EXPECT_EQ(ctrl->m_hCapWnd, nullptr);
  EXPECT_FALSE(ctrl->SendVideo());
  EXPECT_EQ(ctrl->GetErrorID(), ERR_DRIVER_NOT_CONNECTED);
  rx.Drain(100);
  Pump(200);
  EXPECT_TRUE(rx.Drain(100).empty());
}

TEST_F(VideoSenderTest, DestroyingASendingControlStopsTheStream) {
  Receiver rx;
  auto ctrl = MakeControl();
  SendTo(*ctrl, rx.Port());
  ASSERT_TRUE(ctrl->InitCapture(0));
  ASSERT_TRUE(ctrl->SendVideo());
  Pump(200);
  ctrl.reset();
  rx.Drain(100);
  Pump(200);
  EXPECT_TRUE(rx.Drain(100).empty());
}

TEST_F(VideoSenderTest, InSameSocketModeALearnedAddressTakesOverAtTheNextFrame) {
  Receiver first, second;
  auto ctrl = MakeControl();
  ctrl->m_bSameSocket = 1;
  SendTo(*ctrl, first.Port());
  ASSERT_TRUE(ctrl->InitCapture(0));
  ASSERT_TRUE(ctrl->SendVideo());
  Pump(300);
  TheLearnedRemoteAddress().Publish(winsock::inet_addr("127.0.0.1"), winsock::htons(second.Port()));
  Pump(300);
  ASSERT_TRUE(ctrl->StopSend());
  EXPECT_FALSE(first.Drain().empty());
  EXPECT_FALSE(second.Drain().empty());
  EXPECT_EQ(ctrl->m_endpoints.sendRemote.Load().usPort, second.Port());
  EXPECT_FALSE(TheLearnedRemoteAddress().Flagged());
}

TEST_F(VideoSenderTest, TheNameIsDrawnInYellowIntoTheBottomStripOnly) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  SetCaptureDriversForTesting({MakeScriptedDriver({}, std::make_shared<DriverLog>())});
  for (const char* user : {"Alice", ""}) {
    Receiver rx;
    auto ctrl = MakeControl();
    ctrl->SetUserName(user);
    const auto frames = Reassemble(SendFor(*ctrl, rx, 300));
    ASSERT_FALSE(frames.empty());
    const auto pictures = DecodeWithFfmpeg({frames[0]}, 352, 288, TempDir());
    ASSERT_EQ(pictures.size(), 1u);
    int yellow = 0, outside = 0;
    long sumX = 0;
    for (int y = 0; y < 288; ++y)
      for (int x = 0; x < 352; ++x)
        if (IsYellow(&pictures[0][(static_cast<size_t>(y) * 352 + x) * 3])) {
          ++yellow;
          sumX += x;
          if (y < 288 - 19) ++outside;
        }
    if (*user) {
      EXPECT_GT(yellow, 50);
      EXPECT_EQ(outside, 0);
      EXPECT_NEAR(static_cast<double>(sumX) / yellow, 176.0, 12.0);
    } else {
      EXPECT_EQ(yellow, 0);
    }
  }
}

// The test camera marks the picture's top row red on the left, blue on the right.
void ExpectUpright(const Bytes& picture, int width) {
  EXPECT_TRUE(IsReddish(&picture[static_cast<size_t>(4) * 3])) << "top left";
  EXPECT_TRUE(IsBluish(&picture[static_cast<size_t>(width - 5) * 3])) << "top right";
}

TEST_F(VideoSenderTest, SixteenBitAndPaddedRowFramesArriveUpright) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  struct Case {
    int ini;
    const char* size;
    int width, height;
  } cases[] = {{0, "CIF", 352, 288}, {1, "CIF", 352, 288}, {0, "350*288", 350, 288}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size + std::string(c.ini ? " 16-bit" : " 24-bit"));
    WriteIni(c.ini);
    Receiver rx;
    auto ctrl = MakeControl();
    ctrl->SetVideoInFormat(c.size);
    const auto frames = Reassemble(SendFor(*ctrl, rx, 300));
    ASSERT_FALSE(frames.empty());
    const auto pictures = DecodeWithFfmpeg({frames[0]}, c.width, c.height, TempDir());
    ASSERT_EQ(pictures.size(), 1u);
    ExpectUpright(pictures[0], c.width);
  }
}

TEST_F(VideoSenderTest, AFrameLargerThanTheDefaultBufferIsSentWhole) {
  Receiver rx;
  auto ctrl = MakeControl();
  ctrl->SetVideoInFormat("16CIF");
  ctrl->SetSendFrameRate(5);
  const auto frames = Reassemble(SendFor(*ctrl, rx, 700));
  ASSERT_FALSE(frames.empty());
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  const auto pictures = DecodeWithFfmpeg(frames, 1408, 1152, TempDir());
  ASSERT_EQ(pictures.size(), frames.size());
  ExpectUpright(pictures[0], 1408);
}

TEST_F(VideoSenderTest, TwoControlsSendingAtOnceShareTheFrameGate) {
  Receiver rxA, rxB;
  auto a = MakeControl();
  auto b = MakeControl();
  SendTo(*a, rxA.Port());
  SendTo(*b, rxB.Port());
  ASSERT_TRUE(a->InitCapture(0));
  ASSERT_TRUE(b->InitCapture(0));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(a->SendVideo());
  ASSERT_TRUE(b->SendVideo());
  Pump(2000);
  ASSERT_TRUE(a->StopSend());
  ASSERT_TRUE(b->StopSend());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double rate =
      static_cast<double>(Reassemble(rxA.Drain()).size() + Reassemble(rxB.Drain()).size()) / seconds;
  // Alone each would take about 15 frames a second; the one gate lets about 15 through in all.
  EXPECT_GT(rate, 5.0);
  EXPECT_LT(rate, 22.0);
}

}  // namespace
