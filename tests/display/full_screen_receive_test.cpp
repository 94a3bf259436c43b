// Received pictures and the full-screen view: the shown client's pictures go to the view while it
// is open, stretched over the screen, and back to the control's window once it has closed.
#include <QWidget>

#include "display/full_screen_dlg.h"
#include "tests/display/view_fixture.h"

namespace {

bool IsIdleBlue(const QImage& shot) { return shot.pixel(176, 144) == qRgb(0, 0, 255); }

TEST_F(FullScreenReceiver, AQcifPictureIsStretchedOverTheWholeScreen) {
  ASSERT_EQ(ctrl->SetVideoOutFormat("QCIF"), 0);
  ctrl->SetVideoInFormat("QCIF");
  const auto stream = test_stream::EncodeStream(176, 144, 2);
  ASSERT_EQ(stream.size(), 2u);
  test_stream::ReferenceDecoder reference(176, 144);
  const test_stream::Bytes picture = reference.Decode(stream[0].bytes);
  ASSERT_FALSE(picture.empty());
  ASSERT_TRUE(ctrl->RecvVideo());

  QImage before, after;
  bool drawn = false, controlIdle = false;
  ModalScript script(
      [&](const ModalInfo&, ModalAnswer& answer) {
        CFullScreenDlg& view = *ctrl->m_pFullScreenDlg;
        Pump(100);  // ticks run inside the view's loop, with nothing to show yet
        before = Screenshot(view);
        SendFrame(sender, stream[0], 1);
        const QImage expected = Stretched(picture, 176, 144, before.width(), before.height());
        drawn = PumpUntil([&] { return SampledDistance(after = Screenshot(view), expected) <= 6; });
        controlIdle = IsIdleBlue(Screenshot(*ctrl));
        answer.SendKey(VK_ESCAPE);
      },
      {});
  ctrl->ShowFullScreen();
  ASSERT_EQ(script.views, 1);
  SaveShot(before, "full_screen_before.png");
  SaveShot(after, "full_screen_qcif.png");
  ASSERT_EQ(after.size(), ScreenSize());
  EXPECT_TRUE(drawn);
  EXPECT_TRUE(controlIdle);
  // The picture's corners are the screen's corners: the top-left pixel of the picture is its last
  // row's first pixel (bottom row first).
  const auto at = [&](int x, int y) {
    const std::uint8_t* p = &picture[(std::size_t(143 - y) * 176 + x) * 3];
    return qRgb(p[2], p[1], p[0]);
  };
  const int w = after.width(), h = after.height();
  EXPECT_LE(ColourDistance(after.pixel(0, 0), at(0, 0)), 12);
  EXPECT_LE(ColourDistance(after.pixel(w - 1, 0), at(175, 0)), 12);
  EXPECT_LE(ColourDistance(after.pixel(0, h - 1), at(0, 143)), 12);
  EXPECT_LE(ColourDistance(after.pixel(w - 1, h - 1), at(175, 143)), 12);
  EXPECT_LE(ColourDistance(after.pixel(w / 2, h / 2), at(88, 72)), 24);

  // Closed, the next picture is drawn into the control's window again.
  EXPECT_TRUE(IsIdleBlue(Screenshot(*ctrl)));
  SendFrame(sender, stream[1], 2);
  EXPECT_TRUE(PumpUntil([&] { return !IsIdleBlue(Screenshot(*ctrl)); }));
}

TEST_F(FullScreenReceiver, PicturesOfOtherClientsNeverReachTheView) {
  const auto stream = test_stream::EncodeStream(352, 288, 1);
  const winsock::SOCKET other = NewSender();
  const winsock::SOCKET stranger = NewSender();
  // The other sender is client 1; client 0 (every sender outside the table) stays shown.
  ASSERT_EQ(ctrl->AddClient("127.0.0.1", static_cast<short>(PortOf(other)), nullptr, nullptr), 1);
  ASSERT_TRUE(ctrl->RecvVideo());

  QImage hint, afterOther;
  std::uint64_t shownAfterOther = 0;
  bool strangerDrawn = false;
  ModalScript script(
      [&](const ModalInfo&, ModalAnswer& answer) {
        CFullScreenDlg& view = *ctrl->m_pFullScreenDlg;
        Pump(50);
        hint = Screenshot(view);
        const std::uint64_t datagrams = ctrl->m_nDatagramsReceived;
        const std::size_t pieces = test_stream::Datagrams(stream[0], 1).size();
        SendFrame(other, stream[0], 1);
        EXPECT_TRUE(PumpUntil([&] { return ctrl->m_nDatagramsReceived >= datagrams + pieces; }));
        Pump(60);
        afterOther = Screenshot(view);
        shownAfterOther = ctrl->m_nFramesShown;
        SendFrame(stranger, stream[0], 1);
        strangerDrawn = PumpUntil([&] { return Screenshot(view) != hint; });
        answer.SendKey(VK_ESCAPE);
      },
      {});
  ctrl->ShowFullScreen();
  ASSERT_EQ(script.views, 1);
  EXPECT_EQ(afterOther, hint);
  EXPECT_EQ(shownAfterOther, 0u);
  EXPECT_TRUE(strangerDrawn);
  EXPECT_EQ(ctrl->m_nFramesShown, 1u);
}

}  // namespace
