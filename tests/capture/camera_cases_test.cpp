// Cameras as users have them, through the control's methods: none at all, one another program holds,
// one that fails reads or sends MJPEG that does not decode, one unplugged while sending, cameras
// plugged in and out, one without the size asked for. Scripted V4L2 devices stand in for them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "control/error_table.h"
#include "platform/ui/modal.h"
#include "platform/ui/msgbox.h"
#include "tests/support/capture_fixture.h"
#include "tests/support/devices/scripted_v4l2.h"

namespace {

using namespace sendtest;

const char kCam[] = "/dev/video0";

ScriptedV4l2Camera Camera(const std::string& path = kCam, const std::string& card = "Scripted Camera") {
  ScriptedV4l2Camera c;
  c.path = path;
  c.card = card;
  return c;
}

class CameraCasesTest : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    system_ = std::make_shared<ScriptedV4l2System>();
    CaptureDriverConfig config;
    config.v4l2System = system_;
    ConfigureCaptureDrivers(config);
  }
  void TearDown() override {
    unsetenv("QUELVORA_CAPTURE");
    ControlTest::TearDown();
  }
  // Sending from camera 0 to `rx`, the connect-failure box switched on, in English.
  std::unique_ptr<CQuelvoraCtrl> Sending(Receiver& rx) {
    auto ctrl = MakeControl();
    ctrl->ShowErrorDialog(1);
    ctrl->SetLanguageVersion(LANGUAGE_ENGLISH);
    SendTo(*ctrl, rx.Port());
    EXPECT_TRUE(ctrl->InitCapture(0));
    EXPECT_TRUE(ctrl->SendVideo());
    return ctrl;
  }
  static bool ShowedTheConnectBox() {
    const auto boxes = RecordedMessageBoxes();
    return boxes.size() == 1 && boxes[0].text == ConnectFailureText(LANGUAGE_ENGLISH) && boxes[0].owned &&
           boxes[0].icon == "error";
  }
  std::shared_ptr<ScriptedV4l2System> system_;
};

TEST_F(CameraCasesTest, WithoutACameraThereIsNoDriverUnlessTheTestCameraIsAskedFor) {
  unsetenv("QUELVORA_CAPTURE");
  ConfigureCaptureDriversFromEnvironment(system_);
  auto ctrl = MakeControl();
  EXPECT_FALSE(ctrl->HaveVideoCapture());
  EXPECT_FALSE(ctrl->InitCapture(0));
  EXPECT_EQ(ctrl->GetErrorID(), ERR_CONNECT_DRIVER_FAILED);

  setenv("QUELVORA_CAPTURE", "v4l2,test", 1);
  ConfigureCaptureDriversFromEnvironment(system_);
  EXPECT_TRUE(ctrl->HaveVideoCapture());
  EXPECT_TRUE(ctrl->InitCapture(0));
  EXPECT_TRUE(ctrl->CloseCapture());

  // A camera comes before the test camera.
  system_->Plug(Camera(kCam, "Desk Camera"));
  std::vector<std::string> entries;
  SetModalHook([&](const ModalInfo& info, ModalAnswer& answer) {
    entries = info.entries;
    answer.PressButton("Cancel");
  });
  EXPECT_TRUE(ctrl->InitCapture(-1));
  SetModalHook({});
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].rfind("Desk Camera ", 0), 0u);
  EXPECT_EQ(entries[1], "Quelvora Test Camera Version: 1.0");
}

TEST_F(CameraCasesTest, ACameraAnotherProgramHoldsFailsToConnectWithErrorOne) {
  system_->Plug(Camera());
  system_->SetBusy(kCam, true);
  auto ctrl = MakeControl();
  ctrl->ShowErrorDialog(1);
  ctrl->SetLanguageVersion(LANGUAGE_ENGLISH);
  EXPECT_TRUE(ctrl->HaveVideoCapture());  // it is there, only taken
  EXPECT_FALSE(ctrl->InitCapture(0));
  EXPECT_EQ(ctrl->GetErrorID(), ERR_CONNECT_DRIVER_FAILED);
  EXPECT_TRUE(ShowedTheConnectBox());
  EXPECT_EQ(ctrl->m_hCapWnd, nullptr);

  // Two controls on one camera: the first holds it until it closes capture.
  system_->SetBusy(kCam, false);
  ClearRecordedMessageBoxes();
  auto other = MakeControl();
  ASSERT_TRUE(other->InitCapture(0));
  EXPECT_FALSE(ctrl->InitCapture(0));
  EXPECT_EQ(ctrl->GetErrorID(), ERR_CONNECT_DRIVER_FAILED);
  ASSERT_TRUE(other->CloseCapture());
  EXPECT_TRUE(ctrl->InitCapture(0));
}

TEST_F(CameraCasesTest, AStreamThatDoesNotStartFailsSendVideoAndGivesBackWhatItTook) {
  system_->Plug(Camera());
  Receiver rx;
  auto ctrl = MakeControl();
  ctrl->ShowErrorDialog(1);
  ctrl->SetLanguageVersion(LANGUAGE_ENGLISH);
  SendTo(*ctrl, rx.Port());
  ASSERT_TRUE(ctrl->InitCapture(0));
  ctrl->StopSend();  // error 8, which the failure below leaves alone
  system_->SetStreamOnError(kCam, ENOSPC);  // the USB bus has no room for the stream
  EXPECT_FALSE(ctrl->SendVideo());
  EXPECT_FALSE(ctrl->m_bSending);
  EXPECT_EQ(ctrl->GetErrorID(), ERR_NOT_SENDING);
  EXPECT_TRUE(ShowedTheConnectBox());
  EXPECT_EQ(ctrl->m_sockSend, winsock::INVALID_SOCKET);
  EXPECT_EQ(ctrl->m_xvidEncParam.handle, nullptr);
  EXPECT_FALSE(ctrl->StopSend());

  system_->SetStreamOnError(kCam, 0);
  ASSERT_TRUE(ctrl->SendVideo());
  Pump(500);
  EXPECT_TRUE(ctrl->StopSend());
  EXPECT_FALSE(Reassemble(rx.Drain()).empty());
}

TEST_F(CameraCasesTest, ReadErrorsAndMjpegFramesThatDoNotDecodeDoNotStopSending) {
  ScriptedV4l2Camera mjpeg = Camera();
  mjpeg.pixelFormat = V4L2_PIX_FMT_MJPEG;
  mjpeg.framesPerSecond = 30;
  system_->Plug(mjpeg);
  Receiver rx;
  auto ctrl = Sending(rx);
  Pump(300);
  system_->FailDequeues(kCam, 3, EIO);
  Pump(300);
  system_->CorruptFrames(kCam, 10);  // libv4l2 gives up on them with EIO, twice
  Pump(600);
  rx.Drain(40);  // what came so far (frames come every 66 ms)
  Pump(500);
  EXPECT_TRUE(ctrl->m_bSending);
  EXPECT_TRUE(ctrl->StopSend());
  EXPECT_GE(Reassemble(rx.Drain()).size(), 4u);  // frames still arrive afterwards
  EXPECT_TRUE(RecordedMessageBoxes().empty());
}

TEST_F(CameraCasesTest, ACameraUnpluggedWhileSendingStopsSendingAndShowsTheDriverBox) {
  system_->Plug(Camera());
  Receiver rx;
  auto ctrl = Sending(rx);
  Pump(300);
  system_->Unplug(kCam);
  ASSERT_TRUE(PumpUntil([&] { return !ctrl->m_bSending; }));
  EXPECT_TRUE(ShowedTheConnectBox());
  EXPECT_FALSE(ctrl->StopSend());
  EXPECT_EQ(ctrl->GetErrorID(), ERR_NOT_SENDING);
  EXPECT_EQ(ctrl->m_sockSend, winsock::INVALID_SOCKET);
  rx.Drain(100);
  EXPECT_TRUE(rx.Drain(200).empty());
  // Capture stays open, on a camera that is gone.
  EXPECT_FALSE(ctrl->SendVideo());
  EXPECT_FALSE(ctrl->InitCapture(0));
  EXPECT_EQ(ctrl->GetErrorID(), ERR_DRIVER_ALREADY_CONNECTED);
  EXPECT_FALSE(ctrl->HaveVideoCapture());
  EXPECT_TRUE(ctrl->CloseCapture());

  // Plugged in again: connected and sending as before.
  system_->Plug(Camera());
  ClearRecordedMessageBoxes();
  EXPECT_TRUE(ctrl->HaveVideoCapture());
  ASSERT_TRUE(ctrl->InitCapture(0));
  ASSERT_TRUE(ctrl->SendVideo());
  Pump(400);
  EXPECT_TRUE(ctrl->StopSend());
  EXPECT_FALSE(Reassemble(rx.Drain()).empty());
  EXPECT_TRUE(RecordedMessageBoxes().empty());
}

TEST_F(CameraCasesTest, ACameraUnpluggedWhileOnlyPreviewingIsToldOnceAndOnlyWhenBoxesAreOn) {
  system_->Plug(Camera());
  auto quiet = MakeControl();
  ASSERT_TRUE(quiet->InitCapture(0));
  system_->Unplug(kCam);
  ASSERT_TRUE(PumpUntil([&] {
    CaptureWindowInfo info;
    return GetCaptureWindowInfo(quiet->m_hCapWnd, &info) && info.lost;
  }));
  Pump(100);
  EXPECT_TRUE(RecordedMessageBoxes().empty());
  EXPECT_TRUE(quiet->CloseCapture());

  system_->Plug(Camera());
  auto told = MakeControl();
  told->ShowErrorDialog(1);
  told->SetLanguageVersion(LANGUAGE_ENGLISH);
  ASSERT_TRUE(told->InitCapture(0));
  system_->Unplug(kCam);
  ASSERT_TRUE(PumpUntil([] { return !RecordedMessageBoxes().empty(); }));
  Pump(100);
  EXPECT_TRUE(ShowedTheConnectBox());
}

TEST_F(CameraCasesTest, CamerasPluggedInAndOutAreSeenWhereverTheListIsRead) {
  auto ctrl = MakeControl();
  EXPECT_FALSE(ctrl->HaveVideoCapture());
  system_->Plug(Camera("/dev/video0", "Left Camera"));
  EXPECT_TRUE(ctrl->HaveVideoCapture());
  system_->Plug(Camera("/dev/video2", "Right Camera"));

  std::vector<std::string> entries;
  SetModalHook([&](const ModalInfo& info, ModalAnswer& answer) {
    entries = info.entries;
    answer.ChooseEntry(static_cast<int>(info.entries.size()) - 1);
    answer.PressButton("OK");
  });
  system_->Unplug("/dev/video0");
  ASSERT_TRUE(ctrl->InitCapture(-1));
  SetModalHook({});
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].rfind("Right Camera ", 0), 0u);
  EXPECT_EQ(system_->RecordOf("/dev/video2").opens, 1u);
  ASSERT_TRUE(ctrl->CloseCapture());

  // Plugged in after the list was last read: InitCapture reads it afresh.
  system_->Unplug("/dev/video2");
  system_->Plug(Camera("/dev/video4", "Third Camera"));
  EXPECT_TRUE(ctrl->InitCapture(0));
  EXPECT_EQ(system_->RecordOf("/dev/video4").opens, 1u);
}

TEST_F(CameraCasesTest, FramesAreReadAsTheCameraTakesThemWhenItRunsFasterThanAsked) {
  ScriptedV4l2Camera fast = Camera();
  fast.framesPerSecond = 30;  // the control asks for 15
  system_->Plug(fast);
  Receiver rx;
  auto ctrl = Sending(rx);
  Pump(2000);
  EXPECT_TRUE(ctrl->StopSend());
  const ScriptedV4l2System::Record r = system_->RecordOf(kCam);
  EXPECT_GE(r.framesProduced, 45u);
  // No frame waited in the queue until the camera had nowhere to put the next one.
  EXPECT_EQ(r.framesDropped, 0u);
  const size_t sent = Reassemble(rx.Drain()).size();
  EXPECT_GE(sent, 20u);  // the frame gate keeps about 15 of the 30 a second
  EXPECT_LE(sent, 34u);
}

TEST_F(CameraCasesTest, ASizeTheCameraLacksIsCapturedAtTheNearestAndSentAtTheAskedSize) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  ScriptedV4l2Camera webcam = Camera();
  webcam.sizes = {{640, 480}, {320, 240}, {160, 120}};
  system_->Plug(webcam);
  Receiver rx;
  auto ctrl = MakeControl();
  ctrl->ShowErrorDialog(1);
  ctrl->SetVideoInFormat("CIF");
  SendTo(*ctrl, rx.Port());
  ASSERT_TRUE(ctrl->InitCapture(0));
  EXPECT_TRUE(RecordedMessageBoxes().empty());
  EXPECT_EQ(system_->RecordOf(kCam).setWidth, 320u);
  EXPECT_EQ(system_->RecordOf(kCam).setHeight, 240u);
  ASSERT_TRUE(ctrl->SendVideo());
  Pump(800);
  ASSERT_TRUE(ctrl->StopSend());

  const std::vector<Bytes> pictures = DecodeWithFfmpeg(Reassemble(rx.Drain()), 352, 288, TempDir());
  ASSERT_FALSE(pictures.empty());
  // Green is the camera's row, blue its column (below 256): the 320 x 240 picture fills 352 x 288.
  double error = 0;
  int samples = 0;
  const Bytes& last = pictures.back();
  for (int y = 0; y < 288; y += 4)
    for (int x = 0; x < 270; x += 4) {
      const std::uint8_t* p = &last[(static_cast<size_t>(y) * 352 + static_cast<size_t>(x)) * 3];
      error += std::abs(p[0] - x * 320 / 352) + std::abs(p[1] - y * 240 / 288);
      samples += 2;
    }
  EXPECT_LT(error / samples, 6.0);

  // 4CIF from the largest size the camera has.
  ASSERT_TRUE(ctrl->CloseCapture());
  ctrl->SetVideoInFormat("4CIF");
  ASSERT_TRUE(ctrl->InitCapture(0));
  EXPECT_EQ(system_->RecordOf(kCam).setWidth, 640u);
}

}  // namespace
