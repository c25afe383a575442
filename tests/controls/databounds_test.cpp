// A slide's needle and fill following its value through its scale.
#include "controls/scale.h"
#include "panel/datageom.h"
#include "panel/panel_test_support.h"
#include "panel/valuedraw.h"

namespace {

class DataBounds : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsInstallScaleHooks();
    slide_ = Obj(kClsSlide);
    SetW(slide_, kPWDDOTypeId, int32(Type(tdb::DBL())));
    const int32 scale = Obj(kClsScale, slide_, kControlPartScale);
    ASSERT_EQ(Alloc(scale), kNoErr);
    ScaleRec* r = ScaleRecOf(panel_, scale);
    ASSERT_NE(r, nullptr);
    r->min = 0, r->max = 10, r->increment = 1, r->multiplier = 1, r->pixelStart = 100, r->pixelEnd = 0;
    needle_ = Part(kPartNeedle, Rect{95, 0, 105, 20});
    fill_ = Part(kPartFill, Rect{100, 5, 101, 15});
    Part(kPartHousing, Rect{0, 0, 110, 20});
    ShowInWindow();
  }
  int32 Part(int16 id, Rect r) {
    const int32 p = Obj(kClsCosmetic, slide_, id);
    SetBounds(p, r);
    return p;
  }
  Rect B(int32 o) {
    Rect r;
    std::memcpy(&r, *panel_ + o + kObjBounds, sizeof r);
    return r;
  }
  int32 slide_ = 0, needle_ = 0, fill_ = 0;
};

TEST_F(DataBounds, NeedleAndFillFollowTheValue) {
  // Inside the housing with the cached image usable: drawn at once.
  ClearValueDrawCalls();
  const float64 five = 5, six = 6;
  EXPECT_EQ(ObjUpdateDataBounds(panel_, slide_, nullptr, &five, kBoundsDrawNow | kBoundsSetPort), 0);
  EXPECT_EQ(R(B(needle_)), R(Rect{45, 0, 55, 20})) << "centred on the value, its size kept";
  EXPECT_EQ(R(B(fill_)), R(Rect{50, 5, 101, 15})) << "from the base to the value";
  EXPECT_EQ(ValueDrawCalls().size(), 1u);
  EXPECT_EQ(R(TakeInvalid()), R(Rect{0, 0, 0, 0}));
  // Without the cached image the change is invalidated: with fill flag bit 1
  // only the strip that grew, else the whole fill.
  SetW(slide_, 0, int32(kObjFlagNoCachedImage));
  for (bool strips : {true, false}) {
    SetW(fill_, 0, strips ? int32(kFillFlagStrips) : 0);
    SetBounds(fill_, Rect{50, 5, 101, 15});
    SetBounds(needle_, Rect{45, 0, 55, 20});
    TakeInvalid();
    EXPECT_EQ(ObjUpdateDataBounds(panel_, slide_, &five, &six, kBoundsDrawNow), kBoundsInvalidated);
    EXPECT_EQ(R(B(fill_)), R(Rect{40, 5, 101, 15}));
    EXPECT_TRUE(InvalidAt(10, 41));
    EXPECT_EQ(InvalidAt(10, 90), !strips);
  }
  // The fill mapping alone reports the rectangles left and entered.
  Rect left, entered;
  EXPECT_EQ(ObjMapDataToScale(panel_, slide_, 0, &left, &entered, &six), 0);
  const float64 two = 2;
  EXPECT_EQ(ObjMapDataToScale(panel_, slide_, 0, &left, &entered, &two), 1);
  EXPECT_EQ(R(left), R(Rect{40, 5, 101, 15}));
  EXPECT_EQ(R(entered), R(Rect{80, 5, 101, 15}));
  ClearReports();
  EXPECT_EQ(ObjUpdateDataBounds(panel_, slide_, nullptr, &five, 8), 0);
  EXPECT_EQ(Asserts(), 1);
}

}  // namespace
