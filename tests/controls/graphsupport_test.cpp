// Graph support: update modes, the palette, clearing, grids and the scales
// scrolled while the pointer is held outside the plot area.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "controls/chartupdate.h"
#include "controls/graphsupport.h"
#include "graph_test_support.h"
#include "mgsource/prefs.h"
#include "platform/qx_time.h"

namespace {

using graphtest::GraphShape;
using tdb::Array;
using tdb::Cluster;
using tdb::DBL;
using tdb::TD;

class GraphSupport : public graphtest::GraphTest {};

TEST_F(GraphSupport, UpdateModesMapItemsAndReportHowTheyRedraw) {
  struct Case {
    int16 type;
    int32 item;
    bool suppress, invalidate;
    int32 result;
    int16 after;
  } cases[] = {
      {101, 3, false, false, 0, 101},             // the mode it has
      {101, 1, true, false, 0x10000, 103},        // drawing suppressed
      {104, 1, false, true, 0x30000, 106},        // intensity charts: 106, 105, 104
      {102, 4, false, false, 0, 102},             // no such item
  };
  for (const Case& c : cases) {
    const TD t = DBL();
    const int32 g = MakeGraph(GraphShape{.type = c.type}, &t);
    SetW(g, kGraphPixmapPosWord, 7);
    EXPECT_EQ(SetChartUpdateMode(panel_, g, c.item, c.suppress, c.invalidate), c.result) << c.type << "/" << c.item;
    EXPECT_EQ(GraphTypeOf(panel_, g), c.after);
    const bool changed = c.after != c.type;
    EXPECT_EQ(W(g, kGraphPixmapPosWord), changed ? 0 : 7);
    EXPECT_EQ((Flags(g) & kGraphFlagFullRedraw) != 0, changed);
  }
}

TEST_F(GraphSupport, PaletteShowsAndHidesAllItsPartsOnce) {
  const int32 g = MakeGraph(GraphShape{});
  const int16 ids[] = {33, 34, 35, 36, 37, 77, 78, 42, 74, 75, 76};
  std::vector<int32> parts;
  for (int16 id : ids) {
    parts.push_back(Obj(kClsCosmetic, g, id));
    SetFlags(parts.back(), kObjFlagHidden);
  }
  const int32 show = 1, hide = 0;
  EXPECT_EQ(SetPaletteVisible(panel_, g, &show), 0x30080);
  for (int32 p : parts) EXPECT_EQ(Flags(p) & kObjFlagHidden, 0u);
  EXPECT_EQ(SetPaletteVisible(panel_, g, &show), 0) << "already shown";
  EXPECT_EQ(SetPaletteVisible(panel_, g, &hide), 0x30080);
  for (int32 p : parts) EXPECT_NE(Flags(p) & kObjFlagHidden, 0u);
}

TEST_F(GraphSupport, ClearingEmptiesTheValueByItsKind) {
  Record();
  // A waveform {x0, dx, Y[]}: Y emptied, x0 and dx kept.
  {
    const TD t = Cluster({DBL(), DBL(), Array(DBL())});
    const int32 g = MakeGraph(GraphShape{.type = kGraphWaveform}, &t);
    struct {
      float64 x0, dx;
      UHandle y;
    } v{5, 0.5, Doubles({1, 2, 3})};
    EXPECT_EQ(ClearGraphData(panel_, g, &v), 0);
    EXPECT_EQ(v.x0, 5);
    EXPECT_EQ(v.dx, 0.5);
    EXPECT_EQ(int32(GetNative32(*v.y)), 0);
  }
  SCOPED_TRACE("xy");
  // An XY graph of type 201 with {X[], Y[]}: both emptied.
  {
    const TD t = Cluster({Array(DBL()), Array(DBL())});
    const int32 g = MakeGraph(GraphShape{.type = kGraphXY}, &t);
    PutNative16(*panel_ + g + kPanelGraphKindByte, uInt16(kGraphXYOther));
    UHandle v[2] = {Doubles({1, 2}), Doubles({3, 4})};
    EXPECT_EQ(ClearGraphData(panel_, g, v), 0);
    EXPECT_EQ(int32(GetNative32(*v[0])), 0);
    EXPECT_EQ(int32(GetNative32(*v[1])), 0);
  }
  SCOPED_TRACE("chart");
  // A chart showing 100 .. 200 starts over at 0 .. 100 with nothing kept.
  {
    const TD t = DBL();
    const int32 g = MakeGraph(GraphShape{.type = kChartFirst}, &t);
    SetScale(Scale(g, kGPartXScale, 0), 100, 200, 41, 279);
    ChartHistory* rec = ChartRecordOf(panel_, g);
    ASSERT_NE(rec, nullptr);
    rec->total = 300;
    rec->pending = 4;
    rec->writePos = 9;
    EXPECT_EQ(ClearGraphData(panel_, g, nullptr), 0);
    rec = ChartRecordOf(panel_, g);
    EXPECT_EQ((std::vector<int32>{rec->total, rec->pending, rec->writePos}), (std::vector<int32>{0, 0, 0}));
    EXPECT_EQ(Range(Scale(g, kGPartXScale, 0)), (std::vector<float64>{0, 100}));
  }
}

TEST_F(GraphSupport, AGridTheColourOfTheBackgroundIsDrawnInOnePass) {
  // Lines per pass: x 0 .. 10 over 40 .. 280, increment 1: 9 interior lines.
  for (DColor grid : {DColor(0xFFFFFF), DColor(0x00FF00)}) {
    const int32 g = MakeGraph(GraphShape{});
    SetW(g, kGraphXGridColorWord, int32(grid));
    SetFlags(Scale(g, kGPartXScale, 0), kScaleHorizontal);
    Record();
    DrawGraphGrids(panel_, g, nullptr, 0, -1, 0);
    EXPECT_EQ(CallsOf(7).size(), grid == 0xFFFFFF ? 9u : 18u) << std::hex << grid;
  }
}

TEST_F(GraphSupport, AutoScrollWaitsThreeIntervalsThenStepsOnceAnInterval) {
  const int32 g = MakeGraph(GraphShape{});
  SetScale(Scale(g, kGPartXScale, 0), 0, 240, 40, 280);  // one value a pixel
  const int32 saved = PrefGet(kPrefTrackTimeout);
  PrefSet(kPrefTrackTimeout, 100);
  const Rect area{20, 40, 180, 280};
  const int32 point = (290 << 16) | 100;  // 10 px right of the area
  AutoScrollState state{};
  int32 offsets[2] = {-1, -1};
  struct Step {
    int32 advance;
    float64 min;
    int32 offset;
  };
  // The clock also runs between the steps: each is 20 ms or more away from a
  // boundary, so that a slow or loaded run gives the same answers.
  const Step steps[] = {{0, 0, -1}, {280, 0, 0}, {22, 10, 10}, {50, 10, 0}, {51, 20, 10}};
  for (const Step& s : steps) {
    PlatTickShift(s.advance);
    EXPECT_EQ(AutoScrollScales(panel_, g, &area, point, offsets, false, &state, false), kNoErr);
    EXPECT_NEAR(Range(Scale(g, kGPartXScale, 0))[0], s.min, 1e-9) << "after " << s.advance;
    EXPECT_EQ(offsets[0], s.offset) << "after " << s.advance;
  }
  // Back inside: the state ends.
  EXPECT_EQ(AutoScrollScales(panel_, g, &area, (100 << 16) | 100, offsets, false, &state, false), kNoErr);
  EXPECT_FALSE(state.active);
  PrefSet(kPrefTrackTimeout, saved);
}

TEST_F(GraphSupport, ExtraDigitalDisplaysOfAClusterChartAreHidden) {
  const TD t = Cluster({DBL(), DBL()});
  const int32 g = MakeGraph(GraphShape{.type = kChartFirst}, &t);
  std::vector<int32> displays;
  for (int16 o = 0; o < 4; ++o) displays.push_back(Obj(kClsCosmetic, g, kGPartDigitalDisplay, o));
  SetFlags(g, 0x40000);
  EXPECT_EQ(HideExtraDigitalDisplays(panel_, g, 0, false, false), 0);
  for (int32 o = 0; o < 4; ++o) EXPECT_EQ((Flags(displays[size_t(o)]) & kObjFlagHidden) != 0, o >= 2) << o;
  EXPECT_EQ(Flags(g) & 0x40000, 0u);
}

}  // namespace
