// A scale's marker array (add, delete, insert, rescale) and the needle of a
// knob following the mouse.
#include <cmath>
#include <cstring>
#include <vector>

#include "controls/scale.h"
#include "controls/scaleobj.h"
#include "mgsource/memory.h"
#include "panel/datamsg.h"
#include "panel/objdraw.h"
#include "panel/panel_test_support.h"

namespace {

class ScaleObj : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsInstallScaleHooks();
    owner_ = Obj(kClsKnob);
    SetW(owner_, kPWDDOTypeId, int32(Type(tdb::DBL())));
    scale_ = Obj(kClsScale, owner_, kControlPartScale);
    ASSERT_EQ(Alloc(scale_), kNoErr);
    SetW(scale_, 0, int32(kScaleArbitrary | kScaleColours));
    ScaleRec* r = Rec();
    r->min = 0, r->max = 10, r->increment = 1, r->multiplier = 1, r->pixelStart = 0, r->pixelEnd = 100;
  }
  ScaleRec* Rec() { return ScaleRecOf(panel_, scale_); }
  void SetMarkers(const std::vector<double>& values) {
    ASSERT_EQ(ScaleResizeMarkers(Rec(), int32(values.size())), kNoErr);
    for (size_t i = 0; i < values.size(); ++i) std::memcpy(*Rec()->markers + 4 + 12 * i, &values[i], 8);
  }
  std::vector<double> Markers() {
    std::vector<double> out;
    const int32 n = *reinterpret_cast<int32*>(*Rec()->markers);
    for (int32 i = 0; i < n; ++i) {
      double v;
      std::memcpy(&v, *Rec()->markers + 4 + 12 * i, 8);
      out.push_back(v);
    }
    return out;
  }
  int32 owner_ = 0, scale_ = 0;
};

// Deleting refuses the ends and indices past the array; inserting copies
// the marker before it at the place its index names; adding keeps the order.
TEST_F(ScaleObj, MarkersAreAddedDeletedAndInsertedInPlace) {
  struct Case {
    char op;  // 'd' delete, 'i' insert, 'a' add
    int32 index;
    double value;
    int32 reply;
    std::vector<double> after;
  };
  const Case cases[] = {
      {'d', 0, 0, 0, {0, 5, 10}},      {'d', 1, 0, 0, {0, 5, 10}},        {'d', -1, 0, 0, {0, 5, 10}},
      {'d', 5, 0, 0, {0, 5, 10}},      {'d', 3, 0, 0x280, {0, 10}},       {'i', 0, 0, 4, {0, 5, 10, 10}},
      {'i', 1, 0, 2, {0, 0, 5, 10}},   {'i', 3, 0, 3, {0, 5, 5, 10}},     {'i', 5, 0, -1, {0, 5, 10}},
      {'a', 0, 7, 0x280, {0, 5, 7, 10}}, {'a', 0, -1, 0x280, {-1, 0, 5, 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.op) + std::to_string(c.index));
    SetMarkers({0, 5, 10});
    const int32 reply = c.op == 'd'   ? ScaleDeleteMarker(panel_, scale_, c.index)
                        : c.op == 'i' ? ScaleInsertMarker(panel_, scale_, c.index)
                                      : ScaleAddMarker(panel_, scale_, c.value);
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(Markers(), c.after);
  }
  // An array that cannot grow is left as it was.
  SetMarkers({0, 5, 10});
  MemFailNthAllocation(1);
  EXPECT_EQ(ScaleAddMarker(panel_, scale_, 3), 16);
  MemFailNthAllocation(1);
  EXPECT_LT(ScaleInsertMarker(panel_, scale_, 2), 0);
  MemFailNthAllocation(0);
  EXPECT_EQ(Markers(), (std::vector<double>{0, 5, 10}));
}

// Colour markers follow the range; a single marker or equal values stay
// finite at the new lower end.
TEST_F(ScaleObj, ColourMarkersFollowTheRange) {
  struct Case {
    std::vector<double> before;
    double min, max;
    std::vector<double> after;
  };
  const Case cases[] = {
      {{0, 5, 10}, 0, 100, {0, 50, 100}},
      {{0, 5, 10}, 20, -20, {-20, 0, 20}},
      {{3}, 0, 100, {0}},
      {{4, 4}, 10, 20, {10, 10}},
  };
  for (const Case& c : cases) {
    SetMarkers(c.before);
    Rec()->min = c.min, Rec()->max = c.max;
    EXPECT_EQ(RescaleColorMarkers(panel_, scale_), 0);
    EXPECT_EQ(Markers(), c.after);
  }
}

// A knob's needle moves by the mouse's turn from the press, or to the
// mouse's angle itself with flag bit 24.
TEST_F(ScaleObj, KnobNeedleFollowsTheMouseRelativeToThePress) {
  ScaleRec* r = Rec();
  r->centre = Point{50, 50}, r->startAngle = M_PI, r->sweep = M_PI, r->radius = 40;
  const int32 needle = Obj(kClsCosmetic, owner_, 23);
  SetBounds(needle, Rect{5, 45, 15, 55});  // at the top: the middle of the range
  struct Case {
    uInt32 flags;
    double after[2];  // after the press at the upper left, then a move to the top
  };
  const Case cases[] = {{0, {5, 7.5}}, {0x1000000, {2.5, 5}}};
  for (const Case& c : cases) {
    SetW(owner_, 0, int32(c.flags));
    double value = 5;
    ActionParams p{};
    p.partId = 23, p.eventCode = 1, p.point = Point{22, 22};
    int32 changed = 0;
    EXPECT_EQ(KnobTrackNeedle(panel_, owner_, nullptr, &p, &value, &changed), kNoErr);
    EXPECT_NEAR(value, c.after[0], 1e-9);
    p.eventCode = 3, p.point = Point{10, 50};
    EXPECT_EQ(SlideTrackSlider(panel_, owner_, nullptr, &p, &value, &changed), kNoErr) << "a knob's own drag";
    EXPECT_NEAR(value, c.after[1], 1e-9);
    EXPECT_EQ(changed, 1);
  }
}

}  // namespace

namespace {

// A tick is hit within a pixel of its line; a marker dragged outside the
// range falls back to where it was; a refused increment brings back the
// one of the press.
TEST_F(ScaleObj, TicksAreHitAndDraggedMarkersMoveOrComeBack) {
  SetW(scale_, 0, int32(kScaleHorizontal | kScaleEndTicks | kScaleInnerTicks));
  const int32 tick = Obj(kClsCosmetic, scale_, kScalePartTick);
  SetBounds(tick, Rect{20, 0, 30, 1});
  int32 index = -2;
  EXPECT_EQ(ScaleHitMarker(panel_, scale_, Point{25, 51}, nullptr, &index), kScalePartTick);
  EXPECT_GE(index, 2);
  EXPECT_EQ(ScaleHitMarker(panel_, scale_, Point{25, 55}, nullptr, &index), 0);
  EXPECT_EQ(index, -1);

  // Uniform markers: the drag sets the increment.
  EXPECT_EQ(ScaleDragMarker(panel_, scale_, kScaleDragStart, 3, Point{25, 10}, 0, 0), 0);
  EXPECT_EQ(ScaleDragMarker(panel_, scale_, kScaleDragMove, 3, Point{25, 50}, 0, 0), 0x20280);
  EXPECT_EQ(Rec()->increment, 5);
  EXPECT_EQ(ScaleDragMarker(panel_, scale_, kScaleDragMove, 3, Point{25, -40}, 0, 0), 0x20280) << "refused";
  EXPECT_EQ(Rec()->increment, 1);
  EXPECT_EQ(ScaleDragMarker(panel_, scale_, kScaleDragEnd, 3, Point{25, -40}, 0, 0), 0x20280);

  // Arbitrary markers: the marker itself moves, and comes back from outside.
  SetW(scale_, 0, int32(kScaleHorizontal | kScaleArbitrary));
  SetMarkers({0, 5, 10});
  ScaleDragMarker(panel_, scale_, kScaleDragStart, 3, Point{25, 50}, 0, 0);
  EXPECT_EQ(ScaleDragMarker(panel_, scale_, kScaleDragMove, 3, Point{25, 70}, 0, 0), 0x20280);
  EXPECT_EQ(Markers(), (std::vector<double>{0, 7, 10}));
  ScaleDragMarker(panel_, scale_, kScaleDragMove, 3, Point{25, 150}, 0, 0);
  EXPECT_EQ(Markers(), (std::vector<double>{0, 5, 10}));
}

}  // namespace

namespace {

// The colour boxes at a colour scale's ends read the record's end words
// through the scale: swapped when the values run against the pixels; other
// parts and handle requests get nothing.
TEST_F(ScaleObj, EndBoxesReadTheirWordThroughTheScale) {
  ControlsJoinScaleSlots();
  const int32 low = Obj(kClsColorBox, scale_, kScalePartLowEnd), high = Obj(kClsColorBox, scale_, kScalePartHighEnd);
  const int32 label = Obj(kClsLabel, scale_, kScalePartLabel);
  struct Case {
    int16 pixelStart, pixelEnd;
    double min, max;
    int32 lowWord, highWord;
  };
  const Case cases[] = {
      {0, 100, 0, 10, 0, 1}, {0, 100, 10, 0, 1, 0}, {100, 0, 0, 10, 1, 0}, {100, 0, 10, 0, 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.pixelStart) + " " + std::to_string(c.min));
    ScaleRec* r = Rec();
    r->pixelStart = c.pixelStart, r->pixelEnd = c.pixelEnd, r->min = c.min, r->max = c.max;
    EXPECT_EQ(OGetDataPtr(panel_, scale_, low, kDataPtrOperate, nullptr), int32(uintptr_t(&r->endParts[c.lowWord])));
    EXPECT_EQ(OGetDataPtr(panel_, scale_, high, kDataPtrOperate, nullptr), int32(uintptr_t(&r->endParts[c.highWord])));
  }
  UHandle h = reinterpret_cast<UHandle>(1);
  EXPECT_EQ(OGetDataPtr(panel_, scale_, low, kDataPtrOperate, &h), 0);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(OGetDataPtr(panel_, scale_, label, kDataPtrOperate, nullptr), 0);
}

}  // namespace

namespace {

std::vector<std::pair<int32, const void*>> gScaleDrawn;
int32 RecordScaleDraw(ObjHeap, int32 part, const void* data, int32, int32) {
  gScaleDrawn.push_back({part, data});
  return 0;
}

// A scale draws its other parts from the last (the end boxes with their
// colour words), never its marker parts there, then each marker's label and
// tick; a hidden scale draws nothing.
TEST_F(ScaleObj, DrawsItsPartsThenEachMarker) {
  ControlsJoinScaleSlots();
  SetW(scale_, 0, int32(kScaleEndLabels | kScaleEndTicks));
  Rec()->endParts[0] = 0xFF;
  const int32 label = Obj(kClsLabel, scale_, kScalePartLabel), tick = Obj(kClsCosmetic, scale_, kScalePartTick);
  const int32 low = Obj(kClsColorBox, scale_, kScalePartLowEnd), other = Obj(kClsCosmetic, scale_, 41);
  const ptest::SlotPatch cosmetic(kClsCosmetic, kMsgODraw, &RecordScaleDraw), box(kClsColorBox, kMsgODraw, &RecordScaleDraw),
      text(kClsLabel, kMsgODraw, &RecordScaleDraw);
  gScaleDrawn.clear();
  EXPECT_EQ(ODraw(panel_, scale_, nullptr, 0, kDrawModeNormal), 0);
  const std::vector<std::pair<int32, const void*>> want = {
      {other, nullptr}, {low, &Rec()->endParts[0]}, {label, nullptr}, {tick, nullptr}, {label, nullptr}, {tick, nullptr}};
  EXPECT_EQ(gScaleDrawn, want);
  SetW(scale_, 0, int32(kScaleEndLabels | kScaleEndTicks | kScaleHidden));
  gScaleDrawn.clear();
  ODraw(panel_, scale_, nullptr, 0, kDrawModeNormal);
  EXPECT_TRUE(gScaleDrawn.empty());
}

}  // namespace
