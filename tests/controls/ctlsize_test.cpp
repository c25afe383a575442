// Moving and resizing scales, graphs, listboxes and the knob's round scale.
#include <cstring>
#include <vector>

#include "controls/ctlsize.h"
#include "controls/scale.h"
#include "mgsource/draw/image.h"
#include "panel/dataxfer.h"
#include "panel/methsupport.h"
#include "panel/objsize.h"
#include "panel/ooffset.h"
#include "panel/panel_test_support.h"

namespace {

using V = std::vector<int16>;
V Corners(const Rect& r) { return {r.top, r.left, r.bottom, r.right}; }

class ControlSizeTest : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    if (HasFatalFailure()) return;
    static const bool joined = (ControlsInstallScaleHooks(), ControlsJoinSizeSlots(), true);
    (void)joined;
  }
  void TearDown() override {
    EXPECT_EQ(Asserts(), 0) << ReportText();
    PanelTest::TearDown();
  }
  int32 Scale(uInt32 flags, int32 owner = 0, int16 partId = 0) {
    const int32 s = Obj(kClsScale, owner, partId);
    EXPECT_EQ(Alloc(s), kNoErr);
    SetW(s, 0, int32(flags));
    ScaleRec* r = ScaleRecOf(panel_, s);
    if (r) r->min = 0, r->max = 10, r->increment = 1, r->multiplier = 1;
    return s;
  }
  Rect At(int32 o, int32 byte) {
    Rect r;
    std::memcpy(&r, *panel_ + o + byte, sizeof r);
    return r;
  }
  void Anchor(int32 part, int16 anchor) { PutNative16(*panel_ + part + kObjAnchor, uInt16(anchor)); }
};

// A scale's record moves along its own axis only; its rectangles always.
TEST_F(ControlSizeTest, ScalesMoveTheirEndsAlongTheirAxis) {
  const struct { uInt32 flags; Point by; V ends; } cases[] = {
      {kScaleHorizontal, {10, 0}, {20, 80, 50, 50}},
      {kScaleHorizontal, {0, 5}, {25, 85, 50, 50}},
      {0, {10, 0}, {30, 90, 50, 50}},
      {kScaleRound, {10, 5}, {20, 80, 60, 55}},
  };
  for (const auto& c : cases) {
    const int32 s = Scale(c.flags);
    const int32 label = Obj(kClsCosmetic, s, kScalePartLabel);
    SetBounds(s, {0, 0, 100, 100}), SetBounds(label, {0, 0, 10, 10});
    const Rect inner{1, 1, 9, 9};
    std::memcpy(*panel_ + s + kScaleObjInner, &inner, sizeof inner);
    ScaleRec* r = ScaleRecOf(panel_, s);
    ASSERT_NE(r, nullptr);
    r->pixelStart = 20, r->pixelEnd = 80, r->centre = Point{50, 50};
    ASSERT_EQ(OOffset(panel_, s, c.by), 0);
    r = ScaleRecOf(panel_, s);
    EXPECT_EQ(V({r->pixelStart, r->pixelEnd, r->centre.v, r->centre.h}), c.ends) << std::hex << c.flags;
    EXPECT_EQ(Corners(At(s, kScaleObjInner)), V({int16(1 + c.by.v), int16(1 + c.by.h), int16(9 + c.by.v), int16(9 + c.by.h)}));
    EXPECT_EQ(At(label, kObjBounds).top, c.by.v);
    EXPECT_EQ(Corners(LastOldBounds), V({0, 0, 100, 100}));
  }
}

// The knob's scale and needle follow the part they are anchored to.
TEST_F(ControlSizeTest, AKnobsRoundScaleFollowsItsAnchor) {
  const int32 knob = Obj(kClsKnob);
  const int32 dial = Obj(kClsCosmetic, knob, 9);
  const int32 thumb = Obj(kClsCosmetic, knob, 23);
  const int32 scale = Scale(kScaleRound, knob, 17);
  Anchor(thumb, 9), Anchor(scale, 9);
  SetBounds(dial, {0, 0, 100, 100}), SetBounds(thumb, {40, 40, 60, 60}), SetBounds(scale, {0, 0, 100, 100});
  ScaleRec* r = ScaleRecOf(panel_, scale);
  r->centre = Point{51, 20}, r->radius = 41;
  SetW(knob, kKnobNeedleWord, 30);
  LastOldBounds = Rect{0, 0, 100, 100};
  SetBounds(dial, {0, 0, 50, 50});
  ASSERT_EQ(OSize(panel_, knob, nullptr, 9), 0);
  r = ScaleRecOf(panel_, scale);
  EXPECT_EQ(V({r->centre.v, r->centre.h, r->radius}), V({25, 10, 21})) << "middle kept, off-centre scaled";
  EXPECT_EQ(W(knob, kKnobNeedleWord), 15);

  // A rectangle without height gives no ratio: the scale keeps its geometry.
  const Rect flat{0, 0, 0, 50}, to{0, 0, 40, 50};
  ASSERT_EQ(KnobScaleResize(panel_, scale, &flat, &to), 0);
  r = ScaleRecOf(panel_, scale);
  EXPECT_EQ(V({r->centre.v, r->centre.h, r->radius}), V({25, 10, 21}));
}

TEST_F(ControlSizeTest, GraphsAndListboxesMoveWhatTheyHold) {
  const int32 graph = Obj(kClsGraphChart);
  int32 image = 0;
  const Rect r{0, 0, 10, 10};
  ASSERT_EQ(ICreatePict(0, &r, 0, nullptr, 0, &image), kNoErr);
  SetW(graph, kGraphPixmapWord, image);
  ASSERT_EQ(OOffset(panel_, graph, Point{2, 2}), 0);
  EXPECT_EQ(W(graph, kGraphPixmapWord), 0);
  EXPECT_TRUE(uInt32(W(graph, 0)) & kGraphFlagRedrawAll) << "redrawn whole at the next update";

  const int32 listbox = Obj(kClsListbox);
  const int32 list = Obj(kClsCosmetic, listbox, kListboxListPart);
  const int32 text = Obj(kClsCosmetic);
  SetW(listbox, 12, text);
  // The text column as laid out beside the list area: 4 pixels in, one outside.
  SetBounds(list, {0, 0, 100, 50}), SetBounds(text, {-1, 3, 101, 51});
  PutNative16(*panel_ + listbox + kListboxRowHeightByte, 16);
  ASSERT_EQ(OSize(panel_, listbox, nullptr, kListboxListPart), 0);
  EXPECT_EQ(ObjInt16(panel_, listbox, kListboxVisibleRowsByte), 6) << "100 / 16 rows";
  ASSERT_EQ(OOffset(panel_, listbox, Point{5, 0}), 0);
  EXPECT_EQ(Corners(At(text, kObjBounds)), V({4, 3, 106, 51}));
}

}  // namespace
