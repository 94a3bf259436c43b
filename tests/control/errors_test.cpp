#include <gtest/gtest.h>

#include <string>

#include "control/error_table.h"
#include "control/quelvora_ctrl.h"
#include "platform/kernel/codepage.h"
#include "platform/ui/msgbox.h"

namespace {

std::string Gb(const char* utf8) { return Utf8ToAnsi(utf8, 936); }

class ErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearRecordedMessageBoxes(); }
  CQuelvoraCtrl ctrl;
};

TEST(ErrorTableTest, EveryTextAndCaptionByteForByte) {
  struct Row {
    int id;
    const char* english;
    const char* chinese;
  };
  const Row rows[] = {
      {1, "Connect video driver failed,please check your video device!", "连接视频驱动失败,请确信视频设备工作正常!"},
      {2, "Already connected video driver!", "已经连接视频驱动!"},
      {3, "Get audio format failed!", "取得音频格式失败!"},
      {4, "Have NOT connect video driver!", "没有连接视频驱动!"},
      {6, "Get video format failed!", "取得视频格式失败!"},
      {7, "The video format is NOT support!", "不支持的视频压缩格式!"},
      {8, "Have NOT send video!", "没有开始发送视频!"},
      {9, "Already started receive video!", "已经开始接受视频流!"},
      {10, "Have NOT started receive video!", "没有开始接受视频流!"},
  };
  for (const Row& r : rows) {
    EXPECT_STREQ(ErrorText(r.id, LANGUAGE_ENGLISH), r.english) << r.id;
    EXPECT_EQ(std::string(ErrorText(r.id, LANGUAGE_CHINESE)), Gb(r.chinese)) << r.id;
  }
  for (int id : {0, 5, -1, 11, 32767}) EXPECT_EQ(ErrorText(id, LANGUAGE_ENGLISH), nullptr) << id;
  EXPECT_STREQ(ErrorCaption(LANGUAGE_ENGLISH), "ERROR");
  EXPECT_EQ(std::string(ErrorCaption(LANGUAGE_CHINESE)), Gb("错误"));
  EXPECT_EQ(std::string(ConnectFailureText(LANGUAGE_ENGLISH)),
            "Connect video deiver failed\xA3\xACplease check you video device and driver!");
  EXPECT_EQ(std::string(ConnectFailureText(LANGUAGE_CHINESE)), Gb("连接视频设备失败,请检查视频设备及驱动是否正确安装!"));
  EXPECT_EQ(std::string(FormatFailureText(LANGUAGE_ENGLISH, 352, 288).bytes),
            "Format(352*288) camera does NOT support, please refer to camera's speci"
            "fication");
  EXPECT_EQ(std::string(FormatFailureText(LANGUAGE_CHINESE, 704, 576).bytes), Gb("格式(704*576)摄像头不支持,请查看摄像头说明书!"));
  EXPECT_EQ(std::string(OverlayFace(LANGUAGE_CHINESE)), Gb("楷体_GB2312"));
  EXPECT_STREQ(OverlayFace(LANGUAGE_ENGLISH), "Courier New");
}

TEST_F(ErrorsTest, GetErrorMessageShowsTheTextInTheCurrentLanguageWithoutTheSwitch) {
  ctrl.GetErrorMessage(0);
  ctrl.GetErrorMessage(5);
  ctrl.GetErrorMessage(-3);
  EXPECT_TRUE(RecordedMessageBoxes().empty());

  ctrl.GetErrorMessage(3);
  ctrl.GetErrorMessage(9);
  ASSERT_TRUE(ctrl.SetLanguageVersion(1));
  ctrl.GetErrorMessage(2);
  EXPECT_FALSE(ctrl.SetLanguageVersion(0));
  ctrl.GetErrorMessage(2);

  const auto boxes = RecordedMessageBoxes();
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].text, "Get audio format failed!");
  EXPECT_EQ(boxes[0].caption, "ERROR");
  EXPECT_EQ(boxes[0].icon, "error");
  EXPECT_EQ(boxes[0].buttons, "OK");
  EXPECT_FALSE(boxes[0].owned);  // this control has no window
  EXPECT_EQ(boxes[1].text, "Already started receive video!");
  EXPECT_EQ(boxes[2].text, Gb("已经连接视频驱动!"));
  EXPECT_EQ(boxes[2].caption, Gb("错误"));
  EXPECT_EQ(boxes[3].text, Gb("已经连接视频驱动!"));
  EXPECT_EQ(ctrl.GetErrorID(), 0);
}

TEST_F(ErrorsTest, OwnedByTheControlWindowOnceItHasOne) {
  RECT r{0, 0, 352, 288};
  ASSERT_TRUE(ctrl.CreateControlWindow(nullptr, r));
  ctrl.GetErrorMessage(1);
  ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
  EXPECT_TRUE(RecordedMessageBoxes()[0].owned);
}

TEST_F(ErrorsTest, GuardsSetTheirIdsAndNoSuccessClearsThem) {
  EXPECT_EQ(ctrl.GetErrorID(), 0);
  EXPECT_FALSE(ctrl.SendVideo());
  EXPECT_EQ(ctrl.GetErrorID(), 4);
  EXPECT_FALSE(ctrl.StopSend());
  EXPECT_EQ(ctrl.GetErrorID(), 8);
  EXPECT_FALSE(ctrl.CloseCapture());
  EXPECT_EQ(ctrl.GetErrorID(), 4);
  EXPECT_FALSE(ctrl.StopRecv());
  EXPECT_EQ(ctrl.GetErrorID(), 10);
  EXPECT_TRUE(ctrl.SetLanguageVersion(2));
  EXPECT_TRUE(ctrl.SetSendFrameRate(20));
  EXPECT_EQ(ctrl.GetErrorID(), 10);
}

TEST_F(ErrorsTest, SwitchAndLanguageValues) {
  for (short v : {2, -1, 1}) {
    ctrl.ShowErrorDialog(v);
    EXPECT_EQ(ctrl.ErrorDialogShown(), 1) << v;
  }
  ctrl.ShowErrorDialog(0);
  EXPECT_EQ(ctrl.ErrorDialogShown(), 0);
  EXPECT_EQ(ctrl.LanguageVersion(), 2);
  EXPECT_FALSE(ctrl.SetLanguageVersion(3));
  EXPECT_TRUE(ctrl.SetLanguageVersion(1));
  EXPECT_EQ(ctrl.LanguageVersion(), 1);
}

TEST_F(ErrorsTest, UserNameIsCutToTheFieldAndNeverSplitsAChineseCharacter) {
  char name[256];
  EXPECT_TRUE(ctrl.SetUserName(std::string(300, 'x').c_str()));
  ctrl.CopyUserName(name);
  EXPECT_EQ(std::string(name), std::string(255, 'x'));
  EXPECT_EQ(name[255], '\0');

  // 127 double-byte characters and one more: 254 bytes fit, the 128th would end at byte 256.
  std::string chinese;
  for (int i = 0; i < 128; ++i) chinese += "\xD6\xD0";
  ctrl.SetUserName(("a" + chinese).c_str());
  ctrl.CopyUserName(name);
  EXPECT_EQ(std::string(name).size(), 255u);
  ctrl.SetUserName(chinese.c_str());
  ctrl.CopyUserName(name);
  EXPECT_EQ(std::string(name).size(), 254u);

  ctrl.SetUserName("");
  ctrl.CopyUserName(name);
  EXPECT_EQ(name[0], '\0');
}

}  // namespace
