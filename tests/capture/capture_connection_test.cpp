// InitCapture, CloseCapture and HaveVideoCapture against a scripted driver that records what it
// was asked.
#include <gtest/gtest.h>

#include <cstdlib>

#include "capture/capture_setup.h"
#include "control/error_table.h"
#include "platform/ui/modal.h"
#include "platform/ui/msgbox.h"
#include "tests/support/capture_fixture.h"

namespace {

using namespace sendtest;

class CaptureConnectionTest : public ControlTest {
 protected:
  std::shared_ptr<DriverLog> UseScriptedDriver(const DriverOptions& options = {}) {
    auto log = std::make_shared<DriverLog>();
    SetCaptureDriversForTesting({MakeScriptedDriver(options, log)});
    return log;
  }
  static CaptureWindowInfo Info(const CQuelvoraCtrl& ctrl) {
    CaptureWindowInfo info;
    EXPECT_TRUE(GetCaptureWindowInfo(ctrl.m_hCapWnd, &info));
    return info;
  }
};

TEST_F(CaptureConnectionTest, NoDriverFailsWithErrorOneAndTheEnglishBoxWhenAsked) {
  SetCaptureDriversForTesting({});
  auto ctrl = MakeControl();
  EXPECT_FALSE(ctrl->HaveVideoCapture());
  EXPECT_FALSE(ctrl->InitCapture(0));
  EXPECT_EQ(ctrl->GetErrorID(), ERR_CONNECT_DRIVER_FAILED);
  EXPECT_EQ(ctrl->m_hCapWnd, nullptr);
  EXPECT_FALSE(ctrl->m_bCaptureOpen);
  EXPECT_TRUE(RecordedMessageBoxes().empty());

  ctrl->ShowErrorDialog(1);
  ctrl->SetLanguageVersion(LANGUAGE_ENGLISH);
  EXPECT_FALSE(ctrl->InitCapture(3));
  const auto boxes = RecordedMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, ConnectFailureText(LANGUAGE_ENGLISH));
  EXPECT_EQ(boxes[0].caption, "ERROR");
  EXPECT_TRUE(boxes[0].owned);
  EXPECT_EQ(boxes[0].icon, "error");
  EXPECT_EQ(ctrl->m_hCapWnd, nullptr);
}

TEST_F(CaptureConnectionTest, TheDriverGetsTheFormatRatesAndStreamingParameters) {
  auto log = UseScriptedDriver();
  auto ctrl = MakeControl();
  EXPECT_TRUE(ctrl->HaveVideoCapture());
  ASSERT_TRUE(ctrl->SetSendFrameRate(10));
  ctrl->SetVideoInFormat("QCIF");
  ASSERT_TRUE(ctrl->InitCapture(0));
  EXPECT_TRUE(ctrl->m_bCaptureOpen);

  const auto formats = log->Formats();
  ASSERT_EQ(formats.size(), 1u);
  EXPECT_EQ(formats[0].biSize, 40u);
  EXPECT_EQ(formats[0].biWidth, 176);
  EXPECT_EQ(formats[0].biHeight, 144);
  EXPECT_EQ(formats[0].biPlanes, 1);
  EXPECT_EQ(formats[0].biBitCount, 24);
  EXPECT_EQ(formats[0].biCompression, BI_RGB);
  EXPECT_EQ(formats[0].biSizeImage, 76032u);

  CAPTUREPARMS p{};
  ASSERT_TRUE(capCaptureGetSetup(ctrl->m_hCapWnd, &p, sizeof p));
  const CAPTUREPARMS defaults = DefaultCaptureParms();
  EXPECT_EQ(p.dwRequestMicroSecPerFrame, 100000u);
  EXPECT_EQ(p.fYield, TRUE);
  EXPECT_EQ(p.wPercentDropForError, 10u);
  EXPECT_EQ(p.wNumVideoRequested, 10u);
  EXPECT_EQ(p.fCaptureAudio, FALSE);
  EXPECT_EQ(p.vKeyAbort, 0u);
  EXPECT_EQ(p.fAbortLeftMouse, FALSE);
  EXPECT_EQ(p.dwIndexSize, 0u);
  EXPECT_EQ(p.wStepCaptureAverageFrames, 5u);
  EXPECT_EQ(p.AVStreamMaster, AVSTREAMMASTER_NONE);
  // The driver's own values stay where the control sets nothing.
  EXPECT_EQ(p.wTimeLimit, defaults.wTimeLimit);
  EXPECT_EQ(p.fDisableWriteCache, defaults.fDisableWriteCache);

  const CaptureWindowInfo info = Info(*ctrl);
  EXPECT_EQ(info.driverIndex, 0);
  EXPECT_EQ(info.previewRateMs, 100u);
  EXPECT_TRUE(info.preview);
  EXPECT_TRUE(info.scale);
  EXPECT_FALSE(info.overlay);
  RECT r{};
  GetClientRect(ctrl->m_hCapWnd, &r);
  EXPECT_EQ(r.right, 352);
  EXPECT_EQ(r.bottom, 288);

  EXPECT_FALSE(ctrl->InitCapture(0));
  EXPECT_EQ(ctrl->GetErrorID(), ERR_DRIVER_ALREADY_CONNECTED);
  EXPECT_TRUE(ctrl->m_bCaptureOpen);
}

TEST_F(CaptureConnectionTest, TheIniSwitchSelectsSixteenBitsUntilTheControlIsRecreated) {
  auto log = UseScriptedDriver();
  WriteIni(1);
  auto ctrl = MakeControl();
  ASSERT_TRUE(ctrl->InitCapture(0));
  ASSERT_TRUE(ctrl->CloseCapture());
  WriteIni(0);
  ASSERT_TRUE(ctrl->InitCapture(0));
  const auto formats = log->Formats();
  ASSERT_EQ(formats.size(), 2u);
  for (const BITMAPINFOHEADER& f : formats) {
    EXPECT_EQ(f.biBitCount, 16);
    EXPECT_EQ(f.biSizeImage, 202752u);
  }
  ctrl.reset();
  WriteIni(2);  // only exactly 1 selects 16 bits
  auto fresh = MakeControl();
  ASSERT_TRUE(fresh->InitCapture(0));
  EXPECT_EQ(log->Formats().back().biBitCount, 24);
}

TEST_F(CaptureConnectionTest, ARefusedFormatDisconnectsShowsTheSizeAndKeepsTheErrorId) {
  DriverOptions cifOnly;
  cifOnly.acceptedSizes = {{352, 288}};
  auto log = UseScriptedDriver(cifOnly);
  auto ctrl = MakeControl();
  ctrl->StopSend();  // error 8
  ctrl->SetVideoInFormat("4CIF");
  EXPECT_FALSE(ctrl->InitCapture(0));
  EXPECT_TRUE(RecordedMessageBoxes().empty());
  EXPECT_EQ(ctrl->m_hCapWnd, nullptr);
  EXPECT_FALSE(ctrl->m_bCaptureOpen);
  EXPECT_EQ(log->sessionsOpen, 0);

  ctrl->ShowErrorDialog(1);
  EXPECT_FALSE(ctrl->InitCapture(0));
  const auto boxes = RecordedMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Format(704*576) camera does NOT support, please refer to camera's speci"
                           "fication");
  EXPECT_EQ(boxes[0].caption, "ERROR");
  EXPECT_FALSE(boxes[0].owned);
  EXPECT_EQ(ctrl->GetErrorID(), ERR_NOT_SENDING);
  EXPECT_EQ(log->sessionsOpen, 0);

  ctrl->SetVideoInFormat("CIF");
  EXPECT_TRUE(ctrl->InitCapture(0));
}

TEST_F(CaptureConnectionTest, ADriverWithAnOverlayGetsItTurnedOn) {
  DriverOptions overlay;
  overlay.hasOverlay = true;
  UseScriptedDriver(overlay);
  auto ctrl = MakeControl();
  ASSERT_TRUE(ctrl->InitCapture(0));
  EXPECT_TRUE(Info(*ctrl).overlay);
}

TEST_F(CaptureConnectionTest, ANegativeDeviceTypeConnectsTheDriverChosenInTheDialog) {
  auto logA = std::make_shared<DriverLog>();
  auto logB = std::make_shared<DriverLog>();
  DriverOptions a, b;
  a.name = "Cam A";
  b.name = "Cam B";
  SetCaptureDriversForTesting({MakeScriptedDriver(a, logA), MakeScriptedDriver(b, logB)});
  auto ctrl = MakeControl();
  std::vector<std::string> entries;
  SetModalHook([&](const ModalInfo& info, ModalAnswer& answer) {
    entries = info.entries;
    answer.ChooseEntry(1);
    answer.PressButton("OK");
  });
  EXPECT_TRUE(ctrl->InitCapture(-1));
  EXPECT_EQ(entries, (std::vector<std::string>{"Cam A 1.0", "Cam B 1.0"}));
  EXPECT_EQ(Info(*ctrl).driverIndex, 1);
  ASSERT_TRUE(ctrl->CloseCapture());

  SetModalHook([](const ModalInfo&, ModalAnswer& answer) { answer.PressButton("Cancel"); });
  EXPECT_TRUE(ctrl->InitCapture(-5));
  SetModalHook({});
  EXPECT_EQ(Info(*ctrl).driverIndex, 0);
}

TEST_F(CaptureConnectionTest, CloseCaptureUndoesInitCaptureAndRefusesWhenClosed) {
  auto log = UseScriptedDriver();
  auto ctrl = MakeControl();
  EXPECT_FALSE(ctrl->CloseCapture());
  EXPECT_EQ(ctrl->GetErrorID(), ERR_DRIVER_NOT_CONNECTED);
  ASSERT_TRUE(ctrl->InitCapture(0));
  const HWND capWnd = ctrl->m_hCapWnd;
  EXPECT_TRUE(ctrl->CloseCapture());
  EXPECT_FALSE(IsWindow(capWnd));
  EXPECT_EQ(ctrl->m_hCapWnd, nullptr);
  EXPECT_EQ(log->sessionsOpen, 0);
  EXPECT_FALSE(ctrl->CloseCapture());
  EXPECT_FALSE(ctrl->SendVideo());
  EXPECT_EQ(ctrl->GetErrorID(), ERR_DRIVER_NOT_CONNECTED);
}

TEST_F(CaptureConnectionTest, DestroyingAnOpenControlDisconnectsTheDriver) {
  auto log = UseScriptedDriver();
  auto ctrl = MakeControl();
  ASSERT_TRUE(ctrl->InitCapture(0));
  const HWND capWnd = ctrl->m_hCapWnd;
  ctrl.reset();
  EXPECT_FALSE(IsWindow(capWnd));
  EXPECT_EQ(log->sessionsOpen, 0);
}

TEST(CaptureSetupTest, HeaderCountersTakeFiveRandValuesInOrder) {
  std::srand(1234);
  const int r[5] = {std::rand(), std::rand(), std::rand(), std::rand(), std::rand()};
  std::srand(1234);
  const PacketFields f = DrawHeaderCounters();
  EXPECT_EQ(f.sequence, static_cast<std::uint16_t>(r[0]));
  EXPECT_EQ(f.timestamp, static_cast<std::uint32_t>((r[1] & 0xFFFF) << 16 | (r[2] & 0xFFFF)));
  EXPECT_EQ(f.sourceId, static_cast<std::uint32_t>((r[3] & 0xFFFF) << 16 | (r[4] & 0xFFFF)));
}

TEST(CaptureSetupTest, FormatBlockIsFortyFourBytesOfZerosAroundTheHeader) {
  const BITMAPINFO b = CaptureFormatBlock(352, 288, TRUE);
  static_assert(sizeof b == 44);
  EXPECT_EQ(b.bmiHeader.biSizeImage, 202752u);
  EXPECT_EQ(b.bmiHeader.biXPelsPerMeter, 0);
  EXPECT_EQ(b.bmiHeader.biClrUsed, 0u);
  const BYTE* tail = reinterpret_cast<const BYTE*>(&b) + 40;
  EXPECT_EQ(tail[0] | tail[1] | tail[2] | tail[3], 0);
  // Frames of widths whose rows are padded take the padded size in the driver's buffer.
  EXPECT_EQ(CaptureFrameBytes(350, 2, FALSE), 2u * 1052u);
  EXPECT_EQ(CaptureFrameBytes(352, 288, FALSE), 304128u);
}

}  // namespace
