// Slides under the mouse and their two-coloured fills.
#include <cstring>

#include "controls/scale.h"
#include "controls/scaleobj.h"
#include "controls/slideops.h"
#include "panel/panel_test_support.h"

namespace {

class SlideOps : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsInstallScaleHooks();
    slide_ = Obj(kClsSlide);
    SetW(slide_, kPWDDOTypeId, int32(Type(tdb::I32())));
    const int32 scale = Obj(kClsScale, slide_, kControlPartScale);
    ASSERT_EQ(Alloc(scale), kNoErr);
    SetW(scale, 0, int32(kScaleHorizontal));
    ScaleRec* r = ScaleRecOf(panel_, scale);
    r->min = 0, r->max = 10, r->increment = 1, r->multiplier = 1, r->pixelStart = 0, r->pixelEnd = 100;
  }
  int32 slide_ = 0;
};

// The value is written only when it changes, pinned to the scale's ends.
TEST_F(SlideOps, TrackingMapsTheMouseToTheValue) {
  int32 value = 0;
  const std::pair<int16, int32> moves[] = {{37, 4}, {41, 4}, {200, 10}, {-9, 0}};
  int32 before = 0;
  for (const auto& [h, expected] : moves) {
    ActionParams p{};
    p.point.h = h, p.partId = 23, p.eventCode = 3;
    int32 changed = -1;
    EXPECT_EQ(SlideTrackSlider(panel_, slide_, nullptr, &p, &value, &changed), kNoErr);
    EXPECT_EQ(value, expected) << h;
    EXPECT_EQ(changed, expected != before ? 1 : 0) << h;
    before = expected;
  }
  ActionParams p{};
  p.partId = 23, p.eventCode = 3;
  int32 changed = 0;
  EXPECT_EQ(SlideTrackSlider(panel_, Obj(kClsSlide), nullptr, &p, &value, &changed), kArgErr) << "no scale";
}

TEST_F(SlideOps, TwoColouredSlidesNameTheirFillSliders) {
  for (int16 order = 0; order < 3; ++order) {
    Obj(kClsCosmetic, slide_, 31, order);
    SetW(Obj(kClsCosmetic, slide_, 23, order), 0, order == 0 ? 0x800000 : order == 1 ? 0x400000 : 0);
  }
  int32 a = 0, b = 0;
  SlideColorChangeSliders(panel_, slide_, &a, &b);
  EXPECT_EQ(a, -1) << "without the flag";
  SetW(slide_, 0, 0x800000);
  SlideColorChangeSliders(panel_, slide_, &a, &b);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
}

}  // namespace
