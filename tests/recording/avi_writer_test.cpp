#include "recording/avi_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "control/quelvora_ctrl.h"
#include "platform/ui/msgbox.h"
#include "tests/platform/avifile/avi_probe.h"

namespace {

using avitest::U16;
using avitest::U32;

std::vector<std::string> BoxTexts() {
  std::vector<std::string> texts;
  for (const RecordedMessageBox& b : RecordedMessageBoxes()) texts.push_back(b.text);
  return texts;
}

class RecordingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = avitest::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    ClearRecordedMessageBoxes();
    ASSERT_TRUE(AVI_Init());
  }
  void TearDown() override {
    AVI_CloseFile(&file_, &stream_);
    AVI_Exit();
    SetAVIFileSizeLimitForTesting(-1);
    std::filesystem::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  PAVIFILE file_ = nullptr;
  PAVISTREAM stream_ = nullptr;
};

TEST_F(RecordingTest, SetUpWritesTheStreamOfTheSendRateAndBothSizes) {
  const std::string path = Path("client.avi");
  // Send rate 15, capture size CIF, output size QCIF.
  ASSERT_TRUE(AVI_SetUpRecording(path.c_str(), 15, 352, 288, 176, 144, &file_, &stream_));
  ASSERT_NE(stream_, nullptr);
  LONG framesWritten = 1;  // as for every client of a new control
  for (int i = 0; i < 3; ++i) {
    const std::vector<std::uint8_t> p = avitest::Picture(176, 144, i);
    AVI_RecordFrame(stream_, &framesWritten, p.data(), static_cast<LONG>(p.size()), i == 0);
  }
  EXPECT_EQ(framesWritten, 4);
  framesWritten = 0;  // receiving stopped and started again
  const std::vector<std::uint8_t> p = avitest::Picture(176, 144, 3);
  AVI_RecordFrame(stream_, &framesWritten, p.data(), static_cast<LONG>(p.size()), TRUE);
  EXPECT_EQ(framesWritten, 1);
  AVI_CloseFile(&file_, &stream_);
  EXPECT_EQ(file_, nullptr);
  EXPECT_EQ(stream_, nullptr);
  EXPECT_TRUE(RecordedMessageBoxes().empty());

  const avitest::AviLayout a = avitest::Parse(path);
  const std::size_t h = a.Strh();
  EXPECT_EQ(a.bytes.substr(h, 8), "vidsxvid");
  EXPECT_EQ(U32(a.bytes, h + 20), 1u);      // dwScale
  EXPECT_EQ(U32(a.bytes, h + 24), 7u);      // dwRate: half of 15
  EXPECT_EQ(U32(a.bytes, h + 28), 1u);      // dwStart: the first position
  EXPECT_EQ(U32(a.bytes, h + 32), 4u);      // the frame at 0 came last
  EXPECT_EQ(U32(a.bytes, h + 36), 10240u);  // dwSuggestedBufferSize
  EXPECT_EQ(U16(a.bytes, h + 52), 352u);    // rcFrame: capture size
  EXPECT_EQ(U16(a.bytes, h + 54), 288u);
  const avitest::Chunk* strf = a.Strf();
  ASSERT_EQ(strf->size, 40u);
  const std::size_t f = strf->data();
  EXPECT_EQ(U32(a.bytes, f + 4), 176u);  // output size
  EXPECT_EQ(U32(a.bytes, f + 8), 144u);
  EXPECT_EQ(U16(a.bytes, f + 12), 1u);
  EXPECT_EQ(U16(a.bytes, f + 14), 24u);
  EXPECT_EQ(U32(a.bytes, f + 16), 0u);  // BI_RGB
  EXPECT_EQ(U32(a.bytes, f + 20), 176u * 144 * 3);
  const std::vector<avitest::Sample> s = avitest::Samples(a);
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0].id, "00db");
  EXPECT_EQ(s[1].id, "00dc");
  EXPECT_EQ(s[3].id, "00db");

  EXPECT_EQ(avitest::ProbeStream(path).at("r_frame_rate"), "7/1");
  EXPECT_EQ(avitest::GstKeyUnits(path), (std::vector<bool>{true, false, false, true}));
  const std::vector<std::string> frames = avitest::DecodeFrames(path, 176, 144);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_TRUE(frames[3] == avitest::TopDown(avitest::Picture(176, 144, 3), 176, 144));
}

TEST_F(RecordingTest, StreamRateIsHalfTheSendRateAndZeroIsRecordedAtOne) {
  for (auto [send, stored] : {std::pair{25, 12u}, std::pair{1, 1u}}) {
    const std::string path = Path("rate" + std::to_string(send) + ".avi");
    ASSERT_TRUE(AVI_SetUpRecording(path.c_str(), send, 352, 288, 352, 288, &file_, &stream_));
    LONG n = 1;
    const std::vector<std::uint8_t> p = avitest::Picture(352, 288, 0);
    AVI_RecordFrame(stream_, &n, p.data(), static_cast<LONG>(p.size()), TRUE);
    AVI_CloseFile(&file_, &stream_);
    const avitest::AviLayout a = avitest::Parse(path);
    EXPECT_EQ(U32(a.bytes, a.Strh() + 24), stored);
    EXPECT_EQ(avitest::DecodeFrames(path, 352, 288).size(), 1u);
  }
  EXPECT_TRUE(RecordedMessageBoxes().empty());
}

TEST_F(RecordingTest, UnopenableFileShowsTheLibraryCodeThenTheSetUpBox) {
  const std::string path = Path("missing/folder/x.avi");
  EXPECT_FALSE(AVI_SetUpRecording(path.c_str(), 15, 352, 288, 352, 288, &file_, &stream_));
  EXPECT_EQ(file_, nullptr);
  EXPECT_EQ(stream_, nullptr);
  EXPECT_EQ(BoxTexts(),
            (std::vector<std::string>{"Error: AVIFileOpen, error -2147205009", "AVI_FileOpenWrite failed"}));
  for (const RecordedMessageBox& b : RecordedMessageBoxes()) {
    EXPECT_FALSE(b.owned);
    EXPECT_EQ(b.buttons, "OK");
    EXPECT_EQ(b.caption, AfxGetAppTitle());
  }
}

TEST_F(RecordingTest, FailedStreamAndFormatShowTheirBoxesAndLeaveTheFileOpen) {
  ASSERT_TRUE(AVI_FileOpenWrite(&file_, Path("s.avi").c_str()));
  ASSERT_TRUE(AVI_CreateStream(file_, &stream_, 7, 10240, 352, 288));
  PAVISTREAM second = nullptr;
  EXPECT_FALSE(AVI_CreateStream(file_, &second, 7, 10240, 352, 288));  // one stream per file
  EXPECT_FALSE(AVI_SetOptions(second, 352, 288));
  EXPECT_FALSE(AVI_SetOptions(stream_, 0, 288));
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Error: AVIFileCreateStream, error -2147205019",
                                                  "Failure: AVIStreamSetFormat, error -2147205012",
                                                  "Failure: AVIStreamSetFormat, error -2147205018"}));
  ClearRecordedMessageBoxes();
  AVI_CloseFile(&file_, &second);  // a file without its stream is released alone
  EXPECT_EQ(file_, nullptr);
  EXPECT_TRUE(RecordedMessageBoxes().empty());
}

TEST_F(RecordingTest, FailedWriteShowsItsBoxPerFrameAndTheCountGoesOn) {
  const std::string path = Path("full.avi");
  ASSERT_TRUE(AVI_SetUpRecording(path.c_str(), 15, 176, 144, 176, 144, &file_, &stream_));
  LONG n = 1;
  std::vector<std::uint8_t> p = avitest::Picture(176, 144, 1);
  AVI_RecordFrame(stream_, &n, p.data(), static_cast<LONG>(p.size()), TRUE);
  SetAVIFileSizeLimitForTesting(100000);  // the disk fills up
  for (int i = 0; i < 2; ++i) AVI_RecordFrame(stream_, &n, p.data(), static_cast<LONG>(p.size()), FALSE);
  EXPECT_EQ(n, 4);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Error: AVIStreamWrite, error -2147205010",
                                                  "Error: AVIStreamWrite, error -2147205010"}));
  SetAVIFileSizeLimitForTesting(-1);
  p = avitest::Picture(176, 144, 4);
  EXPECT_TRUE(AVI_AddFrame(stream_, n, p.data(), static_cast<LONG>(p.size()), 0));
  AVI_CloseFile(&file_, &stream_);
  // The failed frames are gaps in the timing; the frames around them are whole.
  EXPECT_EQ(avitest::ProbePacketTimes(path), (std::vector<long>{1, 4}));
  const std::vector<std::string> frames = avitest::DecodeFrames(path, 176, 144);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_TRUE(frames[0] == avitest::TopDown(avitest::Picture(176, 144, 1), 176, 144));
  EXPECT_TRUE(frames[1] == avitest::TopDown(p, 176, 144));
}

TEST_F(RecordingTest, ClientWithoutStreamWritesNothing) {
  LONG n = 5;
  const std::uint8_t pixel[3] = {};
  AVI_RecordFrame(nullptr, &n, pixel, 3, TRUE);
  EXPECT_EQ(n, 5);
  EXPECT_TRUE(RecordedMessageBoxes().empty());
}

TEST(RecordingStartUp, OldVideoLibraryBeepsAndRefusesWithoutStarting) {
  ClearRecordedMessageBoxes();
  SetVideoForWindowsVersionForTesting(0x01090000);
  EXPECT_FALSE(AVI_Init());
  SetVideoForWindowsVersionForTesting(kVideoForWindowsVersion);
  const std::vector<RecordedMessageBox> boxes = RecordedMessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Sorry, Cant't init AVI File !");
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].icon, "error");
  EXPECT_FALSE(boxes[0].owned);
  PAVIFILE file = nullptr;
  const std::string path = avitest::ScratchDir("startup") + "/x.avi";
  EXPECT_EQ(AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_NOTINITIALIZED);
  EXPECT_FALSE(AVI_FileOpenWrite(&file, path.c_str()));
  EXPECT_EQ(RecordedMessageBoxes().back().text, "Error: AVIFileOpen, error -2147221008");
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
}

TEST(RecordingStartUp, ControlStartsTheLibraryForItsLifetime) {
  ClearRecordedMessageBoxes();
  const std::string path = avitest::ScratchDir("control") + "/x.avi";
  PAVIFILE file = nullptr;
  {
    CQuelvoraCtrl ctrl;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
    AVIFileRelease(file);
  }
  EXPECT_EQ(AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_NOTINITIALIZED);
  {
    SetVideoForWindowsVersionForTesting(0x00010000);
    CQuelvoraCtrl ctrl;  // shows the box and is made all the same
    SetVideoForWindowsVersionForTesting(kVideoForWindowsVersion);
    ASSERT_EQ(BoxTexts(), std::vector<std::string>{"Sorry, Cant't init AVI File !"});
  }
  EXPECT_EQ(BoxTexts().size(), 1u);
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
}

}  // namespace
