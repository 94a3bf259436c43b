// Start-up of the control: the codec version check, the socket library, and what a control whose
// start-up stopped early holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/xvid21.h"
#include "control/error_table.h"
#include "control/quelvora_ctrl.h"
#include "platform/avifile/avifile.h"
#include "platform/ui/msgbox.h"
#include "platform/vfw/capture_driver.h"
#include "platform/winsock/winsock.h"
#include "tests/support/devices/capture_drivers.h"

namespace {

class ConstructionTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearRecordedMessageBoxes(); }
  void TearDown() override {
    xvid21::ClearInitInjectionForTest();
    winsock::SetWSAStartupFailureForTesting(0);
    SetVideoForWindowsVersionForTesting(kVideoForWindowsVersion);
  }
  static void ExpectOnlyBox(const char* text) {
    const auto boxes = RecordedMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].icon, "none");
    EXPECT_EQ(boxes[0].buttons, "OK");
    EXPECT_FALSE(boxes[0].owned);
  }
};

TEST_F(ConstructionTest, CompleteStartUpShowsNothing) {
  CQuelvoraCtrl c;
  EXPECT_EQ(c.GetConstructionStage(), CQuelvoraCtrl::ConstructionStage::Complete);
  EXPECT_TRUE(RecordedMessageBoxes().empty());
}

TEST_F(ConstructionTest, CodecFailureStopsAtStepThree) {
  xvid21::InjectInitForTest({true, 4});
  {
    CQuelvoraCtrl c;
    EXPECT_EQ(c.GetConstructionStage(), CQuelvoraCtrl::ConstructionStage::CodecFailed);
    EXPECT_FALSE(c.m_menuPopup.IsCreated());
  }
  ExpectOnlyBox("xvid_init() failed");
}

TEST_F(ConstructionTest, OlderAndNewerInterfacesAreRefused) {
  xvid21::InjectInitForTest({false, 3});
  { CQuelvoraCtrl c; }
  ExpectOnlyBox("xvid implements an older api version; reinstall");
  ClearRecordedMessageBoxes();
  xvid21::InjectInitForTest({false, 5});
  {
    CQuelvoraCtrl c;
    EXPECT_EQ(c.GetConstructionStage(), CQuelvoraCtrl::ConstructionStage::CodecFailed);
  }
  ExpectOnlyBox("xvid implements a newer api version; reinstall");
}

TEST_F(ConstructionTest, SocketLibraryFailureStopsAtStepFive) {
  winsock::SetWSAStartupFailureForTesting(10091);
  {
    CQuelvoraCtrl c;
    EXPECT_EQ(c.GetConstructionStage(), CQuelvoraCtrl::ConstructionStage::SocketsFailed);
    EXPECT_TRUE(c.m_menuPopup.IsCreated());
  }
  ExpectOnlyBox("WSAStartup failed!");
}

TEST_F(ConstructionTest, ARefusedRecordingLibraryLeavesAnotherControlRecording) {
  CQuelvoraCtrl recording;
  SetVideoForWindowsVersionForTesting(0x01000000);
  {
    CQuelvoraCtrl refused;
    EXPECT_EQ(refused.GetConstructionStage(), CQuelvoraCtrl::ConstructionStage::Complete);
  }
  const std::string path = ::testing::TempDir() + "refused_start.avi";
  PAVIFILE file = nullptr;
  ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
  AVIFileRelease(file);
  std::remove(path.c_str());
}

TEST_F(ConstructionTest, AControlWhoseStartUpStoppedEarlyRefusesWhatNeedsWhatItLacks) {
  // The socket and recording libraries run for others in the process, so nothing but the refusal
  // keeps such a control from using them.
  winsock::WSADATA data{};
  ASSERT_EQ(winsock::WSAStartup(winsock::MAKEWORD(1, 1), &data), 0);
  CQuelvoraCtrl recording;
  SetCaptureDriversForTesting({MakeTestCameraDriver()});
  const std::string file = ::testing::TempDir() + "early_stop.avi";
  std::filesystem::remove(file);

  for (const auto stage :
       {CQuelvoraCtrl::ConstructionStage::CodecFailed, CQuelvoraCtrl::ConstructionStage::SocketsFailed}) {
    SCOPED_TRACE(static_cast<int>(stage));
    if (stage == CQuelvoraCtrl::ConstructionStage::CodecFailed) xvid21::InjectInitForTest({true, 4});
    if (stage == CQuelvoraCtrl::ConstructionStage::SocketsFailed)
      winsock::SetWSAStartupFailureForTesting(10091);
    CQuelvoraCtrl c;
    xvid21::ClearInitInjectionForTest();
    winsock::SetWSAStartupFailureForTesting(0);
    ASSERT_EQ(c.GetConstructionStage(), stage);
    ASSERT_TRUE(c.CreateControlWindow(nullptr, RECT{0, 0, 352, 288}));
    // Addresses a complete control could bind.
    c.m_endpoints.sendLocal.Store("127.0.0.1", 0);
    c.m_endpoints.sendRemote.Store("127.0.0.1", 9);
    c.m_endpoints.recvLocal.Store("127.0.0.1", 0);
    ClearRecordedMessageBoxes();

    // Receiving needs the buffers and a socket.
    EXPECT_FALSE(c.RecvVideo());
    EXPECT_FALSE(c.m_bReceiving);
    // Sending needs the encoder and a socket; capture itself needs neither.
    ASSERT_TRUE(c.InitCapture(0));
    EXPECT_FALSE(c.SendVideo());
    EXPECT_FALSE(c.m_bSending);
    EXPECT_EQ(c.GetErrorID(), ERR_NONE);
    EXPECT_TRUE(c.CloseCapture());
    // The address probe and the fake video burst are sockets.
    c.SetBandwidth(250000, 1);
    EXPECT_FALSE(c.SetLocalIPAddress("127.0.0.1", 0));
    EXPECT_FALSE(c.SendFakeVideo(3));
    // A recording client needs the recording library: it is added, records nothing, makes no file.
    EXPECT_EQ(c.AddClient("127.0.0.1", 4000, file.c_str(), "peer"), 1);
    EXPECT_EQ(c.m_clients[1].pAviFile, nullptr);
    EXPECT_EQ(c.m_clients[1].xvidDecParam.handle, nullptr);
    EXPECT_FALSE(std::filesystem::exists(file));
    std::vector<std::string> boxes;
    for (const RecordedMessageBox& b : RecordedMessageBoxes()) boxes.push_back(b.text);
    EXPECT_EQ(boxes, (std::vector<std::string>{"Error: AVIFileOpen, error -2147221008",
                                               "AVI_FileOpenWrite failed"}));
    // What only keeps settings and the client table still works.
    EXPECT_TRUE(c.SetSendFrameRate(10));
    EXPECT_TRUE(c.RemoveClient(1));
  }
  winsock::WSACleanup();
}

}  // namespace
