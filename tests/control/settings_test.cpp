#include <gtest/gtest.h>

#include "capture/video_size.h"
#include "control/quelvora_ctrl.h"
#include "net/compress_type.h"
#include "net/send_settings.h"

namespace {

TEST(SettingsTest, DefaultsOfANewControl) {
  CQuelvoraCtrl c;
  EXPECT_EQ(c.m_lBandwidth, 250000);
  EXPECT_EQ(c.m_nKeyFrameInterval, 30);
  EXPECT_EQ(c.m_nQualityIndex, 5);
  EXPECT_EQ(c.m_nFrameRate, 15);
  EXPECT_EQ(c.m_nVideoInWidth, 352);
  EXPECT_EQ(c.m_nVideoInHeight, 288);
  EXPECT_EQ(c.m_nVideoOutWidth, 352);
  EXPECT_EQ(c.m_nVideoOutHeight, 288);
  EXPECT_STREQ(c.m_strCompressType, "MPEG4");
  EXPECT_EQ(c.m_nCodeOrDecode, 0);
  EXPECT_EQ(c.LanguageVersion(), 2);
  EXPECT_EQ(c.GetConstructionStage(), CQuelvoraCtrl::ConstructionStage::Complete);
  EXPECT_EQ(c.m_menuPopup.GetMenuItemCount(), 1);  // "Full Screen"
}

TEST(SettingsTest, FrameRateAcceptsOneToThirty) {
  CQuelvoraCtrl c;
  for (short bad : {0, 31, -5}) {
    EXPECT_FALSE(c.SetSendFrameRate(bad));
    EXPECT_EQ(c.m_nFrameRate, 15);
  }
  EXPECT_TRUE(c.SetSendFrameRate(30));
  EXPECT_TRUE(c.SetSendFrameRate(1));
  EXPECT_EQ(c.m_nFrameRate, 1);
}

TEST(SettingsTest, BandwidthFloorIntervalTableAndSide) {
  struct Row {
    long in;
    long bandwidth;
    int interval;
  };
  const Row rows[] = {{0, 60000, 50},      {50000, 60000, 50},    {128000, 128000, 50}, {128001, 128001, 30},
                      {384000, 384000, 30}, {384001, 384001, 15},  {1000000, 1000000, 15},
                      {1000001, 1000001, 10}, {-7, 60000, 50}};
  CQuelvoraCtrl c;
  for (const Row& r : rows) {
    c.SetBandwidth(r.in, 7);
    EXPECT_EQ(c.m_lBandwidth, r.bandwidth) << r.in;
    EXPECT_EQ(c.m_nKeyFrameInterval, r.interval) << r.in;
    EXPECT_EQ(c.m_nCodeOrDecode, 7);
  }
  EXPECT_EQ(TimestampStep(15), 528u);
  EXPECT_EQ(TimestampStep(7), 1136u);
  EXPECT_EQ(TimestampStep(1), 8000u);
  EXPECT_EQ(TimestampStep(30), 264u);
}

TEST(SettingsTest, SizeNamesAndNumbers) {
  int w = 1, h = 2;
  ApplyVideoSizeText("QCIF", w, h);
  EXPECT_EQ(w * 1000 + h, 176144);
  ApplyVideoSizeText("16CIF", w, h);
  EXPECT_EQ(w * 10000 + h, 14081152);
  ApplyVideoSizeText("qcif", w, h);  // not a name, and no number
  EXPECT_EQ(w * 10000 + h, 14081152);
  ApplyVideoSizeText("320*240", w, h);
  EXPECT_EQ(w * 1000 + h, 320240);
  ApplyVideoSizeText("640", w, h);  // only the width is read
  EXPECT_EQ(w * 1000 + h, 640240);
  ApplyVideoSizeText("CIF ", w, h);  // a name compares with the whole text
  EXPECT_EQ(w * 1000 + h, 640240);
  ApplyVideoSizeText(nullptr, w, h);
  CQuelvoraCtrl c;
  EXPECT_EQ(c.SetVideoInFormat("4CIF"), 0);
  EXPECT_EQ(c.SetVideoOutFormat("abc"), 0);
  EXPECT_EQ(c.m_nVideoInWidth, 704);
  EXPECT_EQ(c.m_nVideoOutWidth, 352);
}

TEST(SettingsTest, CompressTypeSubstringsInOrder) {
  CQuelvoraCtrl c;
  EXPECT_TRUE(c.SetCompressType("H.263"));
  EXPECT_STREQ(c.m_strCompressType, "H.263");
  EXPECT_FALSE(c.SetCompressType("mpeg4"));
  EXPECT_STREQ(c.m_strCompressType, "H.263");
  EXPECT_TRUE(c.SetCompressType("x263y261"));
  EXPECT_STREQ(c.m_strCompressType, "H.261");
  EXPECT_TRUE(c.SetCompressType("use MPEG4 please"));
  EXPECT_STREQ(c.m_strCompressType, "MPEG4");
  EXPECT_FALSE(c.SetCompressType(nullptr));
  EXPECT_TRUE(IsH26xCompressType("H.261"));
  EXPECT_FALSE(IsH26xCompressType("H.2611"));
}

}  // namespace
