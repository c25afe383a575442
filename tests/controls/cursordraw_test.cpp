// Cursors on the plot area: what a drawing pass draws and skips, the pieces
// a move restores from the plot image or invalidates, the cursor a click
// takes and where a drag moves it, the movement control's steps and
// snapped cursors following their data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "controls/cursordraw.h"
#include "controls/cursorlegend.h"
#include "controls/graphcursors.h"
#include "golden_image.h"
#include "graph_test_support.h"
#include "mgsource/prefs.h"
#include "mgsource/window/wport.h"
#include "panel/datamsg.h"
#include "panel/graphstate.h"
#include "panel/osupport.h"
#include "panel/transact.h"
#include "platform/qx_surface.h"
#include "platform/qx_window.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "platform/qx_activate.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"
#include "rtlib/panellocators.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace {

using graphtest::GraphShape;

// x, y on the default graph's scales 0 .. 10: h = 40 + 24 x, v = 180 - 16 y.
constexpr float64 XOf(int32 h) { return (h - 40) / 24.0; }
constexpr float64 YOf(int32 v) { return (180 - v) / 16.0; }

struct CursorSpec {
  uInt32 flags;
  int32 pointStyle;
  DColor colour;
  int32 h, v;
  bool selected = false;
  int32 plot = 0, index = 0;
};

class CursorDraw : public graphtest::GraphTest {
 protected:
  void TearDown() override {
    for (auto [g, list] : lists_) {
      std::memset(Field(g), 0, sizeof(UHandle));
      DSDisposeHandle(list);
    }
    PrefSet(kPrefSmoothGraphMarkers, 0);
    GraphTest::TearDown();
  }
  static int32 Size() { return GraphCursorFields()->size; }
  UPtr Field(int32 g) { return GraphCursorListField(panel_, ObjWord(panel_, g, kGraphDataWord), nullptr); }
  // The graph's cursors, their values those of their pixels.
  void WithCursors(int32 g, const std::vector<CursorSpec>& specs) {
    const int32 first = AlignDatum(GraphCursorRecordTD(), 4);
    UHandle h = DSNewHClr(first + int32(specs.size()) * Size());
    PutNative32(*h, uInt32(specs.size()));
    std::memcpy(Field(g), &h, sizeof h);
    lists_.push_back({g, h});
    for (size_t i = 0; i < specs.size(); ++i) {
      UPtr c = *h + first + i * Size();
      const CursorSpec& s = specs[i];
      SetCursorU32(c, kGCFlags, s.flags);
      SetCursorU32(c, kGCPointStyle, uInt32(s.pointStyle));
      SetCursorU32(c, kGCColour, s.colour);
      SetCursorI16(c, kGCH, int16(s.h));
      SetCursorI16(c, kGCV, int16(s.v));
      SetCursorF64(c, kGCX, XOf(s.h));
      SetCursorF64(c, kGCY, YOf(s.v));
      SetCursorU32(c, kGCPlot, uInt32(s.plot));
      SetCursorU32(c, kGCIndex, uInt32(s.index));
      SetCursorBool(c, kGCSelected, s.selected);
    }
  }
  UPtr Cursor(int32 g, int32 i) {
    int32 n = 0;
    UPtr list = GraphCursorsOf(panel_, g, &n);
    return list && i < n ? list + i * Size() : nullptr;
  }
  void ClearValue(int32 g) { SetValue(g, nullptr); }
  // A recording port that also keeps the images drawn (slot 24).
  static DPort ImagePort() {
    DPort p = RecordingPort();
    p.drawImage = [](int32, const Rect*, const Rect* r, DColor, DColor, DColor, DColor) {
      calls.push_back({24, *r, 0});
      return int32(0);
    };
    return p;
  }
  void RecordImages() {
    static const DPort port = ImagePort();
    calls.clear();
    screen = true;
    DInstallTestPort(&port);
  }
  std::vector<std::pair<int32, UHandle>> lists_;
};

bool SameRect(const Rect& a, const Rect& b) {
  return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}
std::vector<int32> Slots(const std::vector<graphtest::PortCall>& calls, std::initializer_list<int32> wanted) {
  std::vector<int32> out;
  for (const auto& c : calls)
    for (int32 w : wanted)
      if (c.slot == w) out.push_back(c.slot);
  return out;
}

// Transparent cursors are not drawn yet can be grabbed; cursors without
// lines or marker neither; without smooth markers fixed cursors are drawn
// with the draggable ones (fixed first) and never alone; with them each
// pass draws its own kind, and both kinds asked redraw the plot area.
TEST_F(CursorDraw, PassesAndWhatTheySkip) {
  const int32 g = MakeGraph(GraphShape{});
  WithCursors(g, {{0, 4, kTransparentColor, 160, 100},
                  {0, 8, 0xFF0000, 88, 148},
                  {0, 0, 0x00FF00, 230, 52},
                  {kCursorNoDrag, 5, 0x0000FF, 208, 132}});
  const struct {
    bool smooth;
    int32 mode;
    std::vector<int32> shapes;  // frame oval 18, paint oval 19, frame rect 14
  } cases[] = {
      {false, kCursorDrawFixed, {}},
      {false, kCursorDrawDraggable, {19, 14}},
      {true, kCursorDrawDraggable, {14}},
      {true, kCursorDrawFixed, {19}},
  };
  for (const auto& c : cases) {
    PrefSet(kPrefSmoothGraphMarkers, c.smooth);
    Record();
    DrawCursorsInPlot(panel_, g, c.mode);
    EXPECT_EQ(Slots(calls, {14, 18, 19}), c.shapes) << c.smooth << " " << c.mode;
  }
  // Both kinds with a draggable cursor: the plot area is painted again.
  PrefSet(kPrefSmoothGraphMarkers, 1);
  Record();
  DrawCursorsInPlot(panel_, g, kCursorDrawBoth);
  bool painted = false;
  for (const auto& c : CallsOf(15)) painted |= SameRect(c.r, Rect{21, 41, 179, 279});
  EXPECT_TRUE(painted);
  DInstallTestPort(nullptr);
  uInt32 flags = 0;
  EXPECT_EQ(HitTestGraphCursors(panel_, g, Point{100, 160}, &flags), 0);
  EXPECT_EQ(HitTestGraphCursors(panel_, g, Point{52, 230}, &flags), -1);
  EXPECT_EQ(HitTestGraphCursors(panel_, g, Point{132, 208}, &flags), -1) << "fixed cursors are not taken";
}

// A full horizontal line with a marker moved 4 px right restores the old
// marker box and the row piece at the new centre, not the line; a
// transparent plot area invalidates old and new boxes instead.
TEST_F(CursorDraw, MovesRestoreOnlyWhatChanged) {
  const int32 g = MakeGraph(GraphShape{});
  const int32 image = DrawInto(Rect{0, 0, 200, 300}, [] {});
  SetW(g, kGraphPixmapWord, image);
  WithCursors(g, {{0x8, 4, 0xFF0000, 164, 100}});
  RecordImages();
  EXPECT_EQ(ScrollCursorDrawing(panel_, g, Cursor(g, 0), 4, 0, false), 1);
  const auto restored = CallsOf(24);
  ASSERT_EQ(restored.size(), 2u);
  EXPECT_TRUE(SameRect(restored[0].r, Rect{98, 158, 103, 163}));
  EXPECT_TRUE(SameRect(restored[1].r, Rect{100, 162, 101, 167}));
  // Erasing the label alone of a cursor without one restores nothing
  // inside; a marker piece is restored and then redrawn.
  calls.clear();
  EXPECT_EQ(EraseGraphCursor(panel_, g, Cursor(g, 0), 4, 0, kCursorDrawDraggable, false), 1);
  EXPECT_EQ(CallsOf(24).size(), 1u);
  EXPECT_EQ(CallsOf(18).size(), 1u) << "redrawn";
  DInstallTestPort(nullptr);

  // Transparent: nothing restored, the old and new small boxes invalidated.
  SetColours(FindPart(panel_, g, kGPartPlotArea, 0), 0, kTransparentColor);
  RecordImages();
  Rect before{0, 0, 0, 0};
  WGetUpdateRect(window_, &before);
  EXPECT_EQ(ScrollCursorDrawing(panel_, g, Cursor(g, 0), 4, 0, false), 0);
  EXPECT_TRUE(CallsOf(24).empty());
  Rect after{0, 0, 0, 0};
  ASSERT_TRUE(WGetUpdateRect(window_, &after));
  EXPECT_TRUE(SameRect(after, Rect{98, 158, 103, 167})) << after.top << " " << after.left << " " << after.bottom
                                                         << " " << after.right;
  EXPECT_EQ(EraseGraphCursor(panel_, g, Cursor(g, 0), 4, 0x8, 0, false), 0);
  DInstallTestPort(nullptr);
}

// Distances: the centre, a full line's side, nothing; the earlier of
// equal cursors wins; a line taken holds the other coordinate while the
// cursor is dragged; the end clears the holds and the tracking.
TEST_F(CursorDraw, HitAndDrag) {
  const int32 g = MakeGraph(GraphShape{});
  WithCursors(g, {{0x2, 0, 0xFF0000, 160, 100}, {0, 4, 0xFF0000, 100, 60}, {0, 4, 0x00FF00, 100, 60}});
  const struct {
    Point at;
    int32 index;
    uInt32 hold;
  } hits[] = {
      {{60, 163}, 0, kCursorHoldV},  // 3 px right of the vertical line, 40 above: 9
      {{62, 101}, 1, 0},             // both markers at 2: the earlier
      {{150, 250}, -1, 0},
  };
  for (const auto& h : hits) {
    uInt32 flags = 0;
    EXPECT_EQ(HitTestGraphCursors(panel_, g, h.at, &flags), h.index);
    if (h.index >= 0) { EXPECT_EQ(flags & (kCursorHoldH | kCursorHoldV), h.hold); }
  }
  EXPECT_EQ(CursorHitDistance(Cursor(g, 0), Point{60, 163}), 9);
  uInt32 flags = 0;
  ASSERT_EQ(HitTestGraphCursors(panel_, g, Point{60, 163}, &flags), 0);
  PrefSet(kPrefScrollGraphCursors, 0);
  GraphTrackRec t{kTrackStart, 1, Point{60, 163}};
  EXPECT_EQ(TrackGraphCursor(panel_, g, 0, kDoitTrackCursor, &t, 0) & kTrackResultTracking, kTrackResultTracking);
  EXPECT_TRUE(CursorBool(Cursor(g, 0), kGCSelected));
  t = {kTrackMove, 1, Point{20, 183}};
  EXPECT_EQ(TrackGraphCursor(panel_, g, 0, kDoitTrackCursor, &t, 1), 1);
  EXPECT_EQ(CursorI16(Cursor(g, 0), kGCH), 180);
  EXPECT_EQ(CursorI16(Cursor(g, 0), kGCV), 100);
  EXPECT_DOUBLE_EQ(CursorF64(Cursor(g, 0), kGCX), XOf(180));
  EXPECT_DOUBLE_EQ(CursorF64(Cursor(g, 0), kGCY), YOf(100));
  t.phase = kTrackEnd;
  EXPECT_EQ(TrackGraphCursor(panel_, g, 0, kDoitTrackCursor, &t, 1), 0);
  EXPECT_EQ(CursorU32(Cursor(g, 0), kGCFlags) & (kCursorHoldH | kCursorHoldV), 0u);
  ObjHeap th = nullptr;
  int32 to = -1;
  SetTrackObject(nullptr, 0, &th, &to, false);
  EXPECT_EQ(to, 0);
  PrefSet(kPrefScrollGraphCursors, 1);
}

// A drag outside the plot scrolls the X scale once the intervals passed
// (none here), and the cursor goes on with the scale while the mouse rests.
TEST_F(CursorDraw, DragOutsideScrollsTheScales) {
  const int32 g = MakeGraph(GraphShape{});
  WithCursors(g, {{0x5, 4, 0xFF0000, 160, 100}});
  const int32 timeout = PrefGet(kPrefTrackTimeout);
  PrefSet(kPrefTrackTimeout, 0);
  GraphTrackRec t{kTrackStart, 1, Point{100, 160}};
  TrackGraphCursor(panel_, g, 0, kDoitTrackCursor, &t, 0);
  t = {kTrackMove, 1, Point{100, 290}};
  TrackGraphCursor(panel_, g, 0, kDoitTrackCursor, &t, 1);
  const float64 x = CursorF64(Cursor(g, 0), kGCX);
  EXPECT_EQ(Range(Scale(g, kGPartXScale, 0)), (std::vector<float64>{0, 10})) << "the first step waits";
  t.phase = kTrackIdle;
  TrackGraphCursor(panel_, g, 0, kDoitTrackCursor, &t, 1);
  EXPECT_GT(Range(Scale(g, kGPartXScale, 0))[0], 0);
  TrackGraphCursor(panel_, g, 0, kDoitTrackCursor, &t, 1);
  EXPECT_GT(CursorF64(Cursor(g, 0), kGCX), x) << "the cursor follows the scrolled scale";
  t.phase = kTrackEnd;
  TrackGraphCursor(panel_, g, 0, kDoitTrackCursor, &t, 1);
  PrefSet(kPrefTrackTimeout, timeout);
}

// Snapped cursors on data: a drag past the last point stays on it; the
// movement control steps along the data, and up on the last plot keeps the
// plot; new data moves the cursor onto its point again.
TEST_F(CursorDraw, SnappedCursorsStayOnTheData) {
  const tdb::TD type = tdb::Array(tdb::DBL(), {kTDVariable, kTDVariable});
  const int32 g = GraphWithValue(type);
  // Two plots of three points: y 1, 2, 3 and 4, 5, 6 at x 0, 1, 2.
  SetValue(g, Doubles({1, 2, 3, 4, 5, 6}, {2, 3}));
  WithCursors(g, {{kCursorSnapped | 0x5, 4, 0xFF0000, 40, 164, true, 0, 0},
                  {0x5, 4, 0xFF0000, 100, 100, true}});
  SetCursorF64(Cursor(g, 0), kGCX, 0);
  SetCursorF64(Cursor(g, 0), kGCY, 1);
  PrefSet(kPrefScrollGraphCursors, 0);
  GraphTrackRec t{kTrackStart, 1, Point{164, 40}};
  TrackGraphCursor(panel_, g, 0, kDoitTrackCursor, &t, 0);
  t = {kTrackMove, 1, Point{164, 270}};
  TrackGraphCursor(panel_, g, 0, kDoitTrackCursor, &t, 1);
  t.phase = kTrackEnd;
  TrackGraphCursor(panel_, g, 0, kDoitTrackCursor, &t, 1);
  PrefSet(kPrefScrollGraphCursors, 1);
  EXPECT_EQ(int32(CursorU32(Cursor(g, 0), kGCIndex)), 2);
  EXPECT_EQ(CursorF64(Cursor(g, 0), kGCX), 2);
  EXPECT_EQ(CursorI16(Cursor(g, 0), kGCH), 88);
  // The drag left only its cursor selected.
  EXPECT_FALSE(CursorBool(Cursor(g, 1), kGCSelected));
  // Selected cursors: index - 1 and the free one 1 px left; then up twice.
  SetCursorBool(Cursor(g, 1), kGCSelected, true);
  EXPECT_EQ(MoveSelectedCursors(panel_, g, 0, Point{0, -1}), kNoErr);
  EXPECT_EQ(int32(CursorU32(Cursor(g, 0), kGCIndex)), 1);
  EXPECT_EQ(CursorI16(Cursor(g, 1), kGCH), 99);
  EXPECT_DOUBLE_EQ(CursorF64(Cursor(g, 1), kGCX), XOf(99));
  EXPECT_EQ(MoveSelectedCursors(panel_, g, 0, Point{-1, 0}), kNoErr);
  EXPECT_EQ(int32(CursorU32(Cursor(g, 0), kGCPlot)), 1);
  EXPECT_EQ(CursorF64(Cursor(g, 0), kGCY), 5);
  EXPECT_EQ(MoveSelectedCursors(panel_, g, 0, Point{-1, 0}), kNoErr);
  EXPECT_EQ(int32(CursorU32(Cursor(g, 0), kGCPlot)), 1) << "no plot above the last";
  EXPECT_EQ(CursorF64(Cursor(g, 0), kGCY), 5);
  // New data under the cursor: its values and pixels follow.
  SetValue(g, Doubles({1, 2, 3, 4, 8, 6}, {2, 3}));
  UPtr slot = reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(panel_, g, 0, kDataPtrPlain, nullptr))));
  EXPECT_EQ(ResnapGraphCursors(panel_, g, slot, true, false), kNoErr);
  EXPECT_EQ(CursorF64(Cursor(g, 0), kGCY), 8);
  EXPECT_EQ(CursorI16(Cursor(g, 0), kGCV), 52);
  // Data shrunk below the index: the nearest point of the plot is taken.
  SetValue(g, Doubles({1, 4}, {2, 1}));
  EXPECT_EQ(ResnapGraphCursors(panel_, g, slot, true, false), kNoErr);
  EXPECT_EQ(int32(CursorU32(Cursor(g, 0), kGCIndex)), 0);
  EXPECT_EQ(CursorF64(Cursor(g, 0), kGCY), 4);
  ClearValue(g);
}

}  // namespace

namespace {

// A graph with a vertical cursor legend of three visible rows: an array of
// the cursor records whose element cluster has the twenty members, the
// style button carrying its icon (part 21).
class CursorLegend : public CursorDraw {
 protected:
  int32 MakeLegend(int32 g, int32 rows) {
    legend_ = Obj(kClsArray, g, kGPartCursorLegend);
    SetBounds(legend_, Rect{0, 300, 100, 400});
    const TypeDescriptor* listTD = nullptr;
    GraphCursorListField(panel_, ObjWord(panel_, g, kGraphDataWord), &listTD);
    SetW(legend_, kPWDDOTypeId, int32(NewTypeIDForTD(panel_, listTD)));
    element_ = Obj(kClsCluster, legend_);
    SetBounds(element_, Rect{0, 300, 20, 400});
    std::vector<int32> members;
    for (int32 i = 0; i < kGCFieldCount; ++i) {
      const int32 m = Obj(i == 17 || i >= 18 ? kClsBoolean : kClsCosmetic, element_);
      SetBounds(m, Rect{0, int16(300 + i), 10, int16(301 + i)});
      members.push_back(m);
    }
    icon_ = Obj(kClsCosmetic, members[18], 21);
    SetBounds(icon_, Rect{2, 380, 18, 396});
    SetW(element_, kPWClusterElements, vib::NewList(panel_, members));
    members_ = members;
    SetW(legend_, kPWArrayElement, element_);
    Obj(kClsCosmetic, legend_, 28);
    SetBounds(FindPart(panel_, legend_, 28, 0), Rect{0, 300, 60, 400});
    PutNative16(*panel_ + legend_ + 44, 0);
    PutNative16(*panel_ + legend_ + 46, uInt16(rows - 1));
    return Alloc(legend_);
  }
  int32 legend_ = 0, element_ = 0, icon_ = 0;
  std::vector<int32> members_;
};

// The first visible index, as the array's private record holds it.
void SetFirstIndex(ObjHeap heap, int32 legend, int32 first) {
  UPtr priv = FPHeapDataPtr(heap, ObjWord(heap, legend, kPWArrayPrivate));
  ASSERT_NE(priv, nullptr);
  UHandle idx = reinterpret_cast<UHandle>(uintptr_t(GetNative32(priv)));
  ASSERT_NE(idx, nullptr);
  PutNative32(*idx + 4, uInt32(first));
}

// Rows shown from index 4 in three cells: the walk visits 4, 5 and 6 and
// leaves the element where it was; cursor 8 cannot be brought into view
// and its row is not refreshed.
TEST_F(CursorLegend, RowsWalkOnlyTheVisibleCells) {
  const int32 g = MakeGraph(GraphShape{});
  ASSERT_EQ(MakeLegend(g, 3), kNoErr);
  std::vector<CursorSpec> specs(10, CursorSpec{0x5, 4, 0xFF0000, 100, 100});
  WithCursors(g, specs);
  SetFirstIndex(panel_, legend_, 4);
  int32 previous = -1;
  EXPECT_EQ(ShowCursorLegendRow(panel_, legend_, 8, &previous), 0);
  EXPECT_EQ(previous, 4);
  EXPECT_EQ(ShowCursorLegendRow(panel_, legend_, 6, &previous), 1);
  const Rect at6{40, 300, 60, 400};
  Rect b;
  std::memcpy(&b, *panel_ + element_ + kObjBounds, sizeof b);
  EXPECT_TRUE(SameRect(b, at6)) << b.top;
  struct Walk {
    UPtr first;
    std::vector<int32> seen;
  } walk{Cursor(g, 0), {}};
  ForEachCursorLegendRow(
      panel_, legend_, GraphDataOf(panel_, g)->cursors,
      [](ObjHeap, int32, uChar* c, void* a) {
        auto* w = static_cast<Walk*>(a);
        w->seen.push_back(c ? int32((c - w->first) / GraphCursorFields()->size) : -1);
      },
      true, &walk);
  EXPECT_EQ(walk.seen, (std::vector<int32>{4, 5, 6}));
  std::memcpy(&b, *panel_ + element_ + kObjBounds, sizeof b);
  EXPECT_TRUE(SameRect(b, at6));
}

// The icon of style 5 (short horizontal ticks, a full vertical line) and
// marker 4 around the icon's centre; a new cursor is initialised.
TEST_F(CursorLegend, StyleIconShowsTheStyle) {
  const int32 g = MakeGraph(GraphShape{});
  ASSERT_EQ(MakeLegend(g, 3), kNoErr);
  WithCursors(g, {{uInt32(CursorStyleFlags(5)) | kCursorNew, 4, 0xFF0000, 100, 100}});
  EXPECT_EQ(CursorStyleFlags(5), 0x6);
  static std::vector<graphtest::PortCall>* lines = &calls;
  static const DPort port = [] {
    DPort p = RecordingPort();
    p.line = [](int32 dh, int32 dv) {
      lines->push_back({8, Rect{int16(dv), int16(dh), 0, 0}, 0});
      return int32(0);
    };
    return p;
  }();
  calls.clear();
  DInstallTestPort(&port);
  DrawCursorStyleIcon(panel_, element_, Cursor(g, 0), g);
  DInstallTestPort(nullptr);
  // Icon {2, 380, 18, 396} inset by 1; centre (388, 10).
  std::vector<std::vector<int32>> got;
  for (const auto& c : calls)
    if (c.slot == 7 || c.slot == 8 || c.slot == 9 || c.slot == 18) got.push_back({c.slot, c.r.left, c.r.top});
  const std::vector<std::vector<int32>> want = {{7, 385, 10}, {8, -2, 0},  {7, 391, 10}, {8, 2, 0},
                                                {7, 388, 7},  {9, 388, 3}, {7, 388, 13}, {9, 388, 16},
                                                {18, 386, 8}};
  EXPECT_EQ(got, want);
  EXPECT_EQ(CursorU32(Cursor(g, 0), kGCFlags) & kCursorNew, 0u);
}

// The lock button of an intensity graph toggles without a menu; where the
// lock menu cannot be built the cursor stays as it was.
TEST_F(CursorLegend, LockButtonWithoutAMenu) {
  const struct {
    int16 type;
    bool resources;
    std::vector<uInt32> flags;  // after each click
  } cases[] = {
      {kGraphIntensity, true, {kCursorSnapped, 0}},
      {kGraphXY, false, {0, 0}},
  };
  for (const auto& k : cases) {
    GraphShape s;
    s.type = k.type;
    const int32 g = MakeGraph(s);
    ASSERT_EQ(MakeLegend(g, 3), kNoErr);
    WithCursors(g, {{0x5, 4, 0xFF0000, 100, 100}, {0x5, 4, 0xFF0000, 120, 60}});
    ASSERT_EQ(ShowCursorLegendRow(panel_, legend_, 1, nullptr), 1);
    const RsrcFileRef file = RunTimeRsrcFile();
    if (!k.resources) SetRunTimeRsrcFile(0);
    for (uInt32 want : k.flags) {
      const CursorDoitRec rec{kGPartCursorLegend, Point{10, 390}, 0};
      EXPECT_EQ(CursorLegendDoit(panel_, g, members_[19], 0, &rec, kDoitResultActive), kDoitResultActive);
      EXPECT_EQ(CursorU32(Cursor(g, 1), kGCFlags), 0x5u | want) << k.type;
      EXPECT_EQ(CursorBool(Cursor(g, 1), kGCLockButton), (want & kCursorSnapped) != 0) << k.type;
      EXPECT_EQ(CursorU32(Cursor(g, 0), kGCFlags), 0x5u) << "the row's cursor only";
    }
    SetRunTimeRsrcFile(file);
  }
}

// The movement control: with the modifier the selected free cursors move
// 2 px; a button that is not down moves nothing.
TEST_F(CursorLegend, MovementControlSteps) {
  const int32 g = MakeGraph(GraphShape{});
  const int32 mover = Obj(kClsCluster, g, kGPartCursorMover);
  std::vector<int32> buttons;
  for (int32 i = 0; i < 4; ++i) buttons.push_back(Obj(kClsBoolean, mover));
  SetW(mover, kPWClusterElements, vib::NewList(panel_, buttons));
  WithCursors(g, {{0x5, 4, 0xFF0000, 100, 100, true}, {0x5, 4, 0xFF0000, 120, 60, false}});
  const struct {
    int32 button, code, flags;
    bool down;
    int32 h, v;
  } steps[] = {
      {3, kDoitTrackCursor, 0x2, true, 102, 100},
      {0, 0, 0x2, true, 102, 99},
      {2, kDoitTrackCursor, 0, false, 102, 99},
  };
  for (const auto& s : steps) {
    GraphDataOf(panel_, g)->moverButtons[s.button] = s.down ? 1 : 0;
    const CursorDoitRec rec{kGPartCursorMover, Point{0, 0}, s.flags};
    EXPECT_EQ(CursorLegendDoit(panel_, g, buttons[size_t(s.button)], s.code, &rec, kDoitResultActive),
              kDoitResultActive);
    EXPECT_EQ(CursorI16(Cursor(g, 0), kGCH), s.h);
    EXPECT_EQ(CursorI16(Cursor(g, 0), kGCV), s.v);
    EXPECT_DOUBLE_EQ(CursorF64(Cursor(g, 0), kGCX), XOf(s.h));
    EXPECT_EQ(CursorI16(Cursor(g, 1), kGCH), 120);
    GraphDataOf(panel_, g)->moverButtons[s.button] = 0;
  }
}

}  // namespace

namespace {

// The nine cursor styles with nine markers and their labels, as the plot
// drawing puts them over the plot: a golden checked by eye once.
TEST_F(CursorDraw, NineStylesLookAsTheirGolden) {
  const Rect place{0, 0, 200, 300};
  window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
  ASSERT_NE(window_, kWNoWindow);
  PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window_));
  WValidate(window_);
  const int32 g = MakeGraph(GraphShape{});
  std::vector<CursorSpec> specs;
  for (int32 n = 0; n < 9; ++n)
    specs.push_back({uInt32(CursorStyleFlags(n)) | kCursorShowLabel, 4 + n, DColor(0x202020 + 0x300000 * (n % 3)),
                     80 + 70 * (n % 3), 50 + 50 * (n / 3)});
  WithCursors(g, specs);
  std::vector<UHandle> names;
  for (int32 n = 0; n < 9; ++n) {
    UHandle h = DSNewHandle(4 + 2);
    PutNative32(*h, 2);
    (*h)[4] = 'C', (*h)[5] = uChar('0' + n);
    names.push_back(h);
    UPtr c = Cursor(g, n);
    SetCursorName(c, h);
    SetCursorI16(c, kGCLabelH, CursorI16(c, kGCH));
    SetCursorI16(c, kGCLabelV, int16(CursorI16(c, kGCV) - 12));
  }
  MeasureAllCursorLabels(panel_, g, 0, nullptr);
  PlatSurface* surface = PlatWindowSurface(WHostWindow(window_));
  PlatSurfaceClear(surface, 0xFFFFFF);
  WPortState port;
  WSetup(window_, &port);
  DrawCursorsInPlot(panel_, g, kCursorDrawBoth);
  WRestore(&port);
  qxtest::ExpectMatchesGolden(surface, std::filesystem::path(QX_SOURCE_DIR) / "tests/controls/goldens/cursor_styles.png",
                              "regenerate the cursor sheet (QX_UPDATE_GOLDENS=1) and check it by eye");
  for (int32 n = 0; n < 9; ++n) SetCursorName(Cursor(g, n), nullptr);
  for (UHandle h : names) DSDisposeHandle(h);
  CloseWindow();
}

}  // namespace

namespace {

// The menus of a legend row chosen with the keyboard, in the shown window
// that is current.
class CursorLegendMenus : public CursorLegend {
 protected:
  void SetUp() override {
    CursorLegend::SetUp();
    if (HasFatalFailure()) return;
    shown_ = graphtest::KeyedWindow::Show(panel_);
    ASSERT_NE(shown_, kWNoWindow);
  }
  void TearDown() override {
    graphtest::KeyedWindow::Hide(panel_, shown_);
    CursorLegend::TearDown();
  }
  int32 Click(int32 g, int32 member, std::vector<uInt32> keys) {
    graphtest::KeyedWindow::Script(std::move(keys));
    const CursorDoitRec rec{kGPartCursorLegend, Point{10, 390}, 0};
    WPortState port;
    WSetup(shown_, &port);
    const int32 r = CursorLegendDoit(panel_, g, members_[size_t(member)], 0, &rec, kDoitResultActive);
    WRestore(&port);
    return r;
  }
  WindowRef shown_ = kWNoWindow;
};

// "Lock to plot" on a free cursor takes the nearest point of all plots and
// then keeps its plot; choosing another plot keeps the index.
TEST_F(CursorLegendMenus, LockMenuSnapsAndMovesBetweenPlots) {
  const tdb::TD type = tdb::Array(tdb::DBL(), {kTDVariable, kTDVariable});
  const int32 g = GraphWithValue(type);
  ASSERT_EQ(MakeLegend(g, 3), kNoErr);
  ASSERT_EQ(ResizePlotList(panel_, g, 2, 0, false), kNoErr);
  SetValue(g, Doubles({1, 2, 3, 4, 5, 6}, {2, 3}));
  // Near (1, 5): plot 1, index 1 at (64, 100).
  WithCursors(g, {{0x5, 4, 0xFF0000, 66, 99}});
  ASSERT_EQ(ShowCursorLegendRow(panel_, legend_, 0, nullptr), 1);
  EXPECT_EQ(Click(g, 19, {kPlatVkDown, kPlatVkDown, kPlatVkDown, kPlatVkReturn}), kDoitResultActive);
  EXPECT_EQ(CursorU32(Cursor(g, 0), kGCFlags), 0x5u | kCursorSnapped | kCursorLockedToPlot);
  EXPECT_EQ(int32(CursorU32(Cursor(g, 0), kGCPlot)), 1);
  EXPECT_EQ(int32(CursorU32(Cursor(g, 0), kGCIndex)), 1);
  EXPECT_EQ(CursorF64(Cursor(g, 0), kGCY), 5);
  EXPECT_EQ(CursorI16(Cursor(g, 0), kGCH), 64);
  // The first plot's item (after the three modes and the separator).
  EXPECT_EQ(Click(g, 19, {kPlatVkDown, kPlatVkDown, kPlatVkDown, kPlatVkDown, kPlatVkReturn}), kDoitResultActive);
  EXPECT_EQ(int32(CursorU32(Cursor(g, 0), kGCPlot)), 0);
  EXPECT_EQ(int32(CursorU32(Cursor(g, 0), kGCIndex)), 1);
  EXPECT_EQ(CursorF64(Cursor(g, 0), kGCY), 2);
  ClearValue(g);
}

}  // namespace

namespace {

MenuHandle gStyleMenus[2] = {nullptr, nullptr};  // 80 and its cursor style submenu 79

// The cursor style menu from the run-time strings, its first item hung
// with a submenu of the nine styles, handed out as the shell's menus.
class CursorStyleMenu : public CursorLegendMenus {
 protected:
  void SetUp() override {
    CursorLegendMenus::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(MNewLMenuFromStrings(RunTimeRsrcFile(), 80, 80, &gStyleMenus[0]), kNoErr);
    const uChar title[] = {5, 'S', 't', 'y', 'l', 'e'};
    ASSERT_EQ(MNewLMenu(&gStyleMenus[1], title, 79), kNoErr);
    for (int32 i = 0; i < 9; ++i) {
      const uChar text[] = {1, uChar('0' + i)};
      ASSERT_EQ(MInsertLItem(gStyleMenus[1], text, nullptr, 0, nullptr, 0, -1, uInt32(i)), kNoErr);
    }
    MSetLItemSubmenu(gStyleMenus[0], 1, gStyleMenus[1]);
    PanelShellHooks h{};
    h.standardMenu = [](int32 id) { return id == 80 ? gStyleMenus[0] : id == 79 ? gStyleMenus[1] : MenuHandle(nullptr); };
    saved_ = SetPanelShellHooks(h);
  }
  void TearDown() override {
    SetPanelShellHooks(saved_);
    if (gStyleMenus[0]) MSetLItemSubmenu(gStyleMenus[0], 1, nullptr);
    for (MenuHandle& m : gStyleMenus)
      if (m) MDisposeMenu(m), m = nullptr;
    CursorLegendMenus::TearDown();
  }
  PanelShellHooks saved_{};
};

// Style item 6 stores bits 0x6; "Show Name" shows the label; "Bring to
// Center" on scales 0 .. 10 puts the cursor at (5, 5).
TEST_F(CursorStyleMenu, ItemsChangeTheCursor) {
  const int32 g = MakeGraph(GraphShape{});
  ASSERT_EQ(MakeLegend(g, 3), kNoErr);
  WithCursors(g, {{0x5, 4, 0xFF0000, 66, 99}});
  ASSERT_EQ(ShowCursorLegendRow(panel_, legend_, 0, nullptr), 1);
  // "Cursor Style", into its submenu (nothing highlighted yet), item 6.
  std::vector<uInt32> keys{kPlatVkDown, kPlatVkRight};
  keys.insert(keys.end(), 6, kPlatVkDown);
  keys.push_back(kPlatVkReturn);
  EXPECT_EQ(Click(g, 18, keys), kDoitResultActive);
  EXPECT_EQ(CursorU32(Cursor(g, 0), kGCFlags), 0x6u);
  EXPECT_EQ(Click(g, 18, {kPlatVkDown, kPlatVkDown, kPlatVkDown, kPlatVkDown, kPlatVkReturn}), kDoitResultActive);
  EXPECT_EQ(CursorU32(Cursor(g, 0), kGCFlags), 0x6u | kCursorShowLabel);
  EXPECT_EQ(Click(g, 18, {kPlatVkDown, kPlatVkDown, kPlatVkDown, kPlatVkDown, kPlatVkDown, kPlatVkReturn}),
            kDoitResultActive);
  EXPECT_EQ(CursorF64(Cursor(g, 0), kGCX), 5);
  EXPECT_EQ(CursorF64(Cursor(g, 0), kGCY), 5);
  EXPECT_EQ(CursorI16(Cursor(g, 0), kGCH), 160);
  EXPECT_EQ(CursorI16(Cursor(g, 0), kGCV), 100);
}

}  // namespace
