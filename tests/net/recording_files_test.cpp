// The files a receiving control records into: which it takes, which it refuses before making
// anything, and a control given up from a write-error box inside its own receive tick.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/avifile/avifile.h"
#include "platform/module/factory.h"
#include "platform/ui/modal.h"
#include "platform/ui/msgbox.h"
#include "tests/net/recv_fixture.h"

namespace {

namespace fs = std::filesystem;

class RecordingFiles : public ReceivingControl {
 protected:
  void SetUp() override {
    ReceivingControl::SetUp();
    // A folder per test: ctest runs tests side by side.
    const char* base = std::getenv("QV_TEST_TMP");
    dir_ = fs::path(base && *base ? base : QV_BINARY_DIR "/test-tmp") /
           (std::string("RecordingFiles.") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ClearRecordedMessageBoxes();
  }
  void TearDown() override {
    SetModalHook({});
    SetAVIFileSizeLimitForTesting(-1);
    ReceivingControl::TearDown();
    fs::remove_all(dir_);
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }
  static std::vector<std::string> BoxTexts() {
    std::vector<std::string> texts;
    for (const RecordedMessageBox& b : RecordedMessageBoxes()) texts.push_back(b.text);
    ClearRecordedMessageBoxes();
    return texts;
  }

  fs::path dir_;
};

const std::vector<std::string> kOpenRefused = {"Error: AVIFileOpen, error -2147205009",
                                               "AVI_FileOpenWrite failed"};

TEST_F(RecordingFiles, ASecondClientDoesNotRecordIntoAFileTheFirstIsRecording) {
  const std::string file = Path("one.avi");
  ASSERT_EQ(ctrl->AddClient("127.0.0.1", 4000, file.c_str(), "first"), 1);
  ASSERT_NE(ctrl->m_clients[1].pAviStream, nullptr);
  const auto headers = fs::file_size(file);

  EXPECT_EQ(ctrl->AddClient("127.0.0.1", 4001, file.c_str(), "second"), 2);
  EXPECT_EQ(BoxTexts(), kOpenRefused);
  EXPECT_EQ(ctrl->m_clients[2].pAviFile, nullptr);
  EXPECT_EQ(ctrl->m_clients[2].xvidDecParam.handle, nullptr);
  EXPECT_EQ(fs::file_size(file), headers) << "the first client's file was touched";
  EXPECT_NE(ctrl->m_clients[1].pAviStream, nullptr);

  // Once the first client is gone the file is free again.
  ASSERT_TRUE(ctrl->RemoveClient(1));
  EXPECT_EQ(ctrl->AddClient("127.0.0.1", 4002, file.c_str(), "third"), 1);
  EXPECT_NE(ctrl->m_clients[1].pAviStream, nullptr);
  EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(RecordingFiles, AFileThatIsNotARegularFileIsRefusedWithoutWaiting) {
  // A FIFO with a reader would take the open at once; one without would block it.
  const std::string fifo = Path("pipe.avi");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  for (const std::string& name : {fifo, std::string("/dev/null")}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(ctrl->AddClient("127.0.0.1", 4000, name.c_str(), "peer"), 1);
    EXPECT_EQ(BoxTexts(), kOpenRefused);
    EXPECT_EQ(ctrl->m_clients[1].pAviFile, nullptr);
    ASSERT_TRUE(ctrl->RemoveClient(1));
  }
  char byte;
  EXPECT_LE(read(reader, &byte, 1), 0) << "something was written into the FIFO";
  close(reader);
}

TEST_F(RecordingFiles, OutputSizesThatCannotBeRecordedAreRefusedBeforeAFileIsMade) {
  const std::string file = Path("size.avi");
  for (const char* size : {"-1*-1", "0*288", "352*0", "100000*100000", "99999*2", "16CIF"}) {
    SCOPED_TRACE(size);
    ctrl->SetVideoOutFormat(size);
    ASSERT_EQ(ctrl->AddClient("127.0.0.1", 4000, file.c_str(), "peer"), 1);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Failure: AVIStreamSetFormat, error -2147205018",
                                                    "AVI_SetOptions failed"}));
    EXPECT_EQ(ctrl->m_clients[1].pAviFile, nullptr);
    EXPECT_EQ(ctrl->m_clients[1].xvidDecParam.handle, nullptr);
    EXPECT_FALSE(fs::exists(file));
    ASSERT_TRUE(ctrl->RemoveClient(1));
  }
  // The largest picture the buffer holds is recorded.
  ctrl->SetVideoOutFormat("4CIF");
  ASSERT_EQ(ctrl->AddClient("127.0.0.1", 4000, file.c_str(), "peer"), 1);
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_NE(ctrl->m_clients[1].pAviStream, nullptr);
}

TEST_F(RecordingFiles, AControlGivenUpFromAWriteErrorBoxInItsTickGoesWhenTheTickEnds) {
  const std::string file = Path("full.avi");
  ASSERT_EQ(ctrl->AddClient("127.0.0.1", static_cast<short>(senderPort), file.c_str(), "peer"), 1);
  ASSERT_TRUE(ctrl->RecvVideo());
  SetAVIFileSizeLimitForTesting(static_cast<std::int64_t>(fs::file_size(file)));  // no frame fits

  // From here the control lives by its references, as a container's control does.
  CQuelvoraCtrl* const raw = ctrl.release();
  const LONG without = AfxOleLockCount() - 1;
  bool released = false;
  bool aliveInside = false;
  SetModalHook([&](const ModalInfo& info, ModalAnswer&) {
    if (released || info.texts.empty() || info.texts[0].rfind("Error: AVIStreamWrite", 0) != 0) return;
    released = true;
    raw->Release();
    aliveInside = AfxOleLockCount() > without;
  });
  const auto stream = test_stream::EncodeStream(352, 288, 2, 250000, 30);
  for (std::uint16_t i = 0; i < 2; ++i) SendFrame(stream[i], i);
  const bool boxShown = PumpUntil([&] { return released; });
  if (!boxShown) raw->Release();
  ASSERT_TRUE(boxShown) << "no write failed";
  EXPECT_TRUE(aliveInside) << "deleted inside its own tick";
  EXPECT_TRUE(PumpUntil([&] { return AfxOleLockCount() == without; })) << "never deleted";
}

}  // namespace
