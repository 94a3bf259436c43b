// Start-up of the control: the codec version check, the socket library, and what a control whose
// start-up stopped early holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "codec/xvid21.h"
#include "control/quelvora_ctrl.h"
#include "platform/avifile/avifile.h"
#include "platform/ui/msgbox.h"
#include "platform/winsock/winsock.h"

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

}  // namespace
