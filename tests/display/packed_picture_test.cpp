// Pictures drawn into the control's window: packed rows of any width arrive unskewed.
#include "display/packed_picture.h"

#include <gtest/gtest.h>

#include <QWidget>

#include "tests/display/view_fixture.h"

namespace {

TEST(PackedPictureDrawer, DrawsEveryWidthIntoAWindowUnskewed) {
  CQuelvoraCtrl ctrl;
  ASSERT_TRUE(ctrl.CreateControlWindow(nullptr, RECT{0, 0, 352, 288}));
  ctrl.Widget()->show();
  Pump(50);  // the first paint of a shown window comes before any picture
  HDRAWDIB hdd = DrawDibOpen();
  CPackedPictureDrawer drawer;
  for (int width : {176, 175, 178, 177, 176}) {
    SCOPED_TRACE(width);
    const int height = 144;
    const test_stream::Bytes picture = test_stream::MovingPicture(width, height, width);
    HDC dc = ctrl.GetDC();
    drawer.Draw(hdd, dc, 0, 0, 352, 288, picture.data(), width, height);
    ctrl.ReleaseDC(dc);
    EXPECT_LE(SampledDistance(Screenshot(ctrl), Stretched(picture, width, height, 352, 288)), 6);
  }
  DrawDibClose(hdd);
}

}  // namespace
