// Moving and resizing scales, graphs, listboxes and the knob's round scale.
#include <cstring>
#include <vector>

#include "controls/ctlsize.h"
#include "controls/scale.h"
#include "mgsource/draw/image.h"
#include "panel/ctrldisplay.h"
#include "panel/attrcall.h"
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

// A vertical linear scale resized by its top edge moves only the end at the
// top, whichever end that is; the increment is chosen again only when the
// scale asks for it.
TEST_F(ControlSizeTest, ALinearScaleFollowsTheEdgeThatMoved) {
  const struct { int16 start, end; int32 top; uInt32 flags; V ends; bool newIncrement; } cases[] = {
      {20, 80, -10, 0, {10, 80}, false},
      {80, 20, -10, 0, {80, 10}, false},
      {20, 80, 5, 0, {25, 80}, false},
      {80, 20, 5, 0x400000, {80, 25}, true},
  };
  for (const auto& c : cases) {
    const int32 s = Scale(c.flags);
    const int32 label = Obj(kClsCosmetic, s, kScalePartLabel), tick = Obj(kClsCosmetic, s, kScalePartTick);
    SetBounds(s, {0, 0, 100, 40}), SetBounds(label, {15, 0, 85, 20}), SetBounds(tick, {15, 20, 85, 40});
    ScaleRec* r = ScaleRecOf(panel_, s);
    ASSERT_NE(r, nullptr);
    r->pixelStart = c.start, r->pixelEnd = c.end, r->increment = 3.7;
    const Rect to{int16(c.top), 0, 100, 40};
    ASSERT_EQ(OSize(panel_, s, &to, 0), 0);
    r = ScaleRecOf(panel_, s);
    EXPECT_EQ(V({r->pixelStart, r->pixelEnd}), c.ends) << c.start << " " << c.top;
    EXPECT_EQ(r->increment != 3.7, c.newIncrement) << c.start << " " << c.top;
  }
}

// The frame of a stacked graph grows or shrinks: the plot areas share the
// change in proportion to their heights (never below 5), or the plot being
// sized by a property takes it; the horizontal scale moves with the bottom,
// and each vertical scale's ends follow its plot area.
int32 gGraph, gFrame;
int32 FrameSize(ObjHeap heap, int32 o, const Rect* r, int32 id) {
  if (o != gFrame || !r) return CosmeticOSizeMethod(heap, o, r, id);
  LastOldBounds = objsize::BoundsOf(heap, o);
  objsize::SetBoundsOf(heap, o, *r);
  return GraphOSizeMethod(heap, gGraph, nullptr, 9);
}
TEST_F(ControlSizeTest, StackedPlotAreasShareTheFramesChange) {
  struct Case {
    const char* what;
    std::vector<V> plots;  // top, bottom of each
    Rect to;
    int32 sizedPlot, newHeight;  // a plot sized by a property (-1: the frame resized)
    std::vector<V> want;
    int32 scaleMoved;
  } cases[] = {
      {"grown by 30", {{0, 100}, {100, 150}}, {0, 0, 180, 200}, -1, 0, {{0, 120}, {120, 180}}, 30},
      {"shrunk past 5 a plot", {{0, 10}, {10, 110}}, {0, 0, 10, 200}, -1, 0, {{0, 5}, {5, 10}}, -100},
      {"no heights to share", {{0, 0}, {0, 0}}, {10, 0, 40, 200}, -1, 0, {{10, 10}, {10, 10}}, 10},
      {"plot 1 sized", {{0, 100}, {100, 150}, {150, 170}}, {}, 1, 80, {{0, 100}, {100, 180}, {180, 200}}, 30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int32 graph = Obj(kClsGraphChart);
    const int32 frame = Obj(kClsCosmetic, graph, 9);
    const int16 bottom = c.plots.back()[1];
    SetBounds(frame, {0, 0, bottom, 200});
    std::vector<int32> plots, scales;
    for (size_t i = 0; i < c.plots.size(); ++i) {
      plots.push_back(Obj(kClsCosmetic, graph, 28, int16(i)));
      SetBounds(plots.back(), {c.plots[i][0], 0, c.plots[i][1], 200});
      scales.push_back(Scale(0, graph, 19));
      PutNative16(*panel_ + scales.back() + kObjPartOrder, uInt16(i));
      SetBounds(scales.back(), {c.plots[i][0], 0, c.plots[i][1], 10});
      ScaleRecOf(panel_, scales.back())->pixelStart = 50, ScaleRecOf(panel_, scales.back())->pixelEnd = 0;
    }
    const int32 x = Scale(kScaleHorizontal, graph, 18);
    SetBounds(x, {bottom, 0, int16(bottom + 20), 200});
    ScaleRecOf(panel_, x)->pixelStart = 1, ScaleRecOf(panel_, x)->pixelEnd = 198;
    if (c.sizedPlot < 0) {
      LastOldBounds = At(frame, kObjBounds);
      SetBounds(frame, c.to);
      ASSERT_EQ(OSize(panel_, graph, nullptr, 9), 0);
    } else {
      gGraph = graph, gFrame = frame;
      ptest::SlotPatch patch(kClsCosmetic, kMsgOSize, &FrameSize);
      std::vector<uChar> td = tdb::U32().Bytes();
      uInt32 height = uInt32(c.newHeight);
      AttrCallRec rec{};
      EXPECT_EQ(SetPartSizeAttr(panel_, graph, 28, c.sizedPlot, 2, tdb::AsTD(td), &height, &rec), 0x30080);
    }
    for (size_t i = 0; i < plots.size(); ++i) {
      const Rect p = At(plots[i], kObjBounds);
      EXPECT_EQ(V({p.top, p.bottom}), c.want[i]) << i;
      const ScaleRec* r = ScaleRecOf(panel_, scales[i]);
      EXPECT_EQ(V({r->pixelStart, r->pixelEnd}), V({int16(p.bottom - 2), int16(p.top + 1)})) << i;
    }
    EXPECT_EQ(At(x, kObjBounds).top, bottom + c.scaleMoved);
    EXPECT_TRUE(uInt32(W(graph, 0)) & kGraphFlagRedrawAll);
  }
}

}  // namespace

namespace {
// Parts a damaged file can leave without what they need: each call answers
// and changes nothing it cannot, with no failure report (checked on tear-down).
TEST_F(ControlSizeTest, DamagedPartsAreReportedNotAsserted) {
  const Rect from{0, 0, 100, 100}, to{0, 0, 50, 50};
  const int16 index = 0;
  struct Row {
    const char* what;
    int32 (*call)(ObjHeap, int32);
    int32 cls;
    int32 reply;
  };
  static const Rect* gFrom;
  static const Rect* gTo;
  static const int16* gIndex;
  gFrom = &from, gTo = &to, gIndex = &index;
  const Row rows[] = {
      {"knob scale resize, no record", [](ObjHeap h, int32 o) { return int32(KnobScaleResize(h, o, gFrom, gTo)); },
       kClsScale, 0},
      {"scale move, no record", [](ObjHeap h, int32 o) { return OOffset(h, o, Point{5, 7}); }, kClsScale, 0},
      {"multi-label display, no strings",
       [](ObjHeap h, int32 o) { return MultiLabelODisplayValMethod(h, o, nullptr, gIndex); }, kClsMultiLabel, 0},
  };
  for (const Row& row : rows) {
    const int32 o = Obj(row.cls);
    SetBounds(o, from);
    EXPECT_EQ(row.call(panel_, o), row.reply) << row.what;
    if (&row == &rows[1]) {
      EXPECT_EQ(Corners(At(o, kObjBounds)), V({5, 7, 105, 107})) << row.what << ": the rectangles still move";
    }
    EXPECT_EQ(Asserts(), 0) << row.what << ": " << ReportText();
  }
}
}  // namespace
