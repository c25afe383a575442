// The plot kind of a graph's value, the plot list and the plot legend.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "controls/graph.h"
#include "controls/scale.h"
#include "graph_test_support.h"
#include "engine/objswap.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/rsrc.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"
#include "panel/panel_test_support.h"

namespace {

using tdb::Array;
using tdb::AsTD;
using tdb::CDB;
using tdb::Cluster;
using tdb::DBL;
using tdb::I16;
using tdb::I32;
using tdb::TD;
using tdb::Typedef;
using tdb::Unit;

// Follows a path through a descriptor: 'e' an array's element, a digit a
// cluster's element; typedefs skipped.
const TypeDescriptor* Walk(const TypeDescriptor* t, const char* path) {
  for (const char* p = path; *p; ++p) {
    t = SkipTypedefs(t);
    if (*p == 'e') t = reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(t) + 6 +
                                                               4 * int16(GetNative16(reinterpret_cast<const uChar*>(t) + 4)));
    else t = ElemTD(t, *p - '0');
  }
  return SkipTypedefs(t);
}

class GraphDataTest : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    graphtest::OpenRunTimeResources(&file_);
    if (HasFatalFailure()) return;
    MakeRoot();
  }
  void TearDown() override {
    SetRunTimeRsrcFile(0);
    RCloseFile(file_);
    PanelTest::TearDown();
  }
  int32 Graph(int16 type, bool alloc = true) {
    const int32 g = Obj(kClsGraphChart);
    PutNative16(*panel_ + g + kPanelGraphKindByte, uInt16(type));
    if (alloc) { EXPECT_EQ(Alloc(g), kNoErr); }
    return g;
  }
  RsrcFileRef file_ = 0;
};

TEST_F(GraphDataTest, EachShapeGetsItsKindOnItsFamilyAndHandsBackItsDescriptor) {
  const TD n = DBL(), i = I32(), cx = CDB();
  const TD volts = Unit(kTDUnitDBL, {{1, 1}}), amps = Unit(kTDUnitDBL, {{2, 1}});
  const TD arr = Array(n), arr2 = Array(n, {kTDVariable, kTDVariable});
  const TD xy = Cluster({n, n});
  struct Case {
    int16 type;
    TD value;
    GraphDataKind kind;
    const char* back;
  } cases[] = {
      {101, n, 1, ""},
      {150, Cluster({n, i}), 2, ""},
      {102, Cluster({n}), 2, ""},
      {101, Cluster({}), 0, ""},
      {1, arr, 3, "e"},
      {1, Array(Cluster({arr})), 4, "e"},
      {2, arr2, 5, "e"},
      {0, Array(xy), 6, "e"},
      {201, Array(Cluster({Array(xy)})), 7, "e0e"},
      {0, Cluster({arr, Array(I16())}), 8, "0"},
      {0, Array(Cluster({arr, arr})), 9, "e0"},
      {1, Cluster({n, n, arr}), 10, "0"},
      {1, Array(Cluster({n, i, arr})), 11, "e"},
      {1, Cluster({n, n, Array(Cluster({arr}))}), 12, "0"},
      {1, Cluster({n, n, arr2}), 13, "0"},
      {104, arr2, 14, "e"},
      {103, arr, 15, "e"},
      {101, Array(Cluster({n, n, n})), 16, "e"},
      {3, Typedef("z", arr2), 17, "e"},
      {199, arr2, 18, "e"},
      // Units: only x0 with units, both alike, both different.
      {1, Cluster({volts, n, arr}), 0, ""},
      {1, Cluster({volts, volts, arr}), 10, "0"},
      {1, Cluster({volts, amps, arr}), 0, ""},
      {1, Array(Cluster({volts, n, arr})), 0, ""},
      // Shapes of another family.
      {0, Array(Cluster({n, n, n})), 0, ""},
      {1, Array(xy), 0, ""},
      {5, arr, 3, "e"},
      {0, arr, 0, ""},
      {104, arr, 0, ""},
      {3, arr, 0, ""},
      {101, Array(arr2), 0, ""},
      // Complex never plots.
      {101, cx, 0, ""},
      {1, Array(cx), 0, ""},
      {0, Array(Cluster({cx, n})), 0, ""},
      {104, Array(cx, {kTDVariable, kTDVariable}), 0, ""},
  };
  for (const Case& c : cases) {
    const int32 g = Graph(c.type, false);
    std::vector<uChar> b = c.value.Bytes();
    const TypeDescriptor* td = AsTD(b);
    EXPECT_EQ(ClassifyGraphData(panel_, g, &td), c.kind) << "type " << c.type << " kind " << c.kind;
    if (c.kind) { EXPECT_EQ(td, Walk(AsTD(b), c.back)) << "type " << c.type << " kind " << c.kind; }
  }
}

TEST_F(GraphDataTest, PlotListGrowsWithNamedDefaultsAndKeepsWhatItMadeOnFailure) {
  const int32 g = Graph(0);
  EXPECT_EQ(ResizePlotList(panel_, g, 0, 3, false), kNoErr);
  int32 n = 0;
  PlotRec* p = GraphPlots(GraphDataOf(panel_, g), &n);
  ASSERT_EQ(n, 3);
  for (int32 i = 0; i < n; ++i) {
    const std::string name(reinterpret_cast<char*>(*p[i].name + 4), GetNative32(*p[i].name));
    EXPECT_EQ(name, "Plot " + std::to_string(i));
    EXPECT_EQ((std::vector<int64>{p[i].lineColor, p[i].interpolation, p[i].lineWidth, p[i].pointColor, p[i].count}),
              (std::vector<int64>{0xFFFFFF, 2, 1, 0xFFFFFF, 0}));
    ASSERT_TRUE(p[i].xs && p[i].ys);
  }
  // Charts' histories are emptied down to their header.
  p[1].count = 7;
  ASSERT_EQ(DSSetHandleSize(p[1].xs, 4 + 14), kNoErr);
  PutNative32(*p[1].xs, 7);
  ClearChartPlotData(GraphDataOf(panel_, g));
  p = GraphPlots(GraphDataOf(panel_, g), &n);
  EXPECT_EQ(p[1].count, 0);
  EXPECT_EQ(GetNative32(*p[1].xs), 0u);
  EXPECT_EQ(DSGetHandleSize(p[1].xs), 4);
  // Shrinking keeps the survivors; both counts negative changes nothing.
  p[0].lineWidth = 5;
  EXPECT_EQ(ResizePlotList(panel_, g, 1, -1, false), kNoErr);
  EXPECT_EQ(ResizePlotList(panel_, g, -1, -2, false), 1);
  p = GraphPlots(GraphDataOf(panel_, g), &n);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(p[0].lineWidth, 5);
  // A failure while the second new plot is named: the first stays whole.
  const int32 g2 = Graph(1);
  MemFailNthAllocation(1);  // the list itself
  EXPECT_EQ(ResizePlotList(panel_, g2, 2, 0, false), kMemFullErr);
  GraphPlots(GraphDataOf(panel_, g2), &n);
  EXPECT_EQ(n, 0);
  // The list, then per plot its seven empty handles and the name's resize.
  MemFailNthAllocation(1 + 8 + 8);
  EXPECT_EQ(ResizePlotList(panel_, g2, 2, 0, false), kMemFullErr);
  MemFailNthAllocation(0);
  p = GraphPlots(GraphDataOf(panel_, g2), &n);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(*p[0].name + 4), GetNative32(*p[0].name)), "Plot 0");
}

TEST_F(GraphDataTest, LegendRowsFollowTheLabelHeight) {
  const int32 g = Graph(1);
  EXPECT_EQ(PlotLegendRowCount(panel_, g), 0);
  const int32 legend = Obj(kClsCosmetic, g, kGPartPlotLegend);
  const int32 label = Obj(kClsLabel, g, 0);
  const Rect lr{100, 200, 140, 300}, labelr{0, 0, 10, 30};
  std::memcpy(*panel_ + legend + kObjBounds, &lr, sizeof lr);
  std::memcpy(*panel_ + label + kObjBounds, &labelr, sizeof labelr);
  SetW(g, kGraphLegendLabelWord, label);
  SetW(g, kGraphLegendNameWidthWord, 50);
  EXPECT_EQ(PlotLegendRowCount(panel_, g), 2);
  Rect sample, name;
  PlotLegendRowRect(panel_, g, 1, &sample, &name);
  EXPECT_EQ((std::vector<int>{sample.top, sample.left, sample.bottom, sample.right}),
            (std::vector<int>{118, 251, 128, 297}));
  EXPECT_EQ((std::vector<int>{name.top, name.left, name.bottom, name.right}), (std::vector<int>{118, 201, 128, 250}));
  // A label whose row height is not positive gives no rows.
  const Rect flat{0, 0, -6, 30};
  std::memcpy(*panel_ + label + kObjBounds, &flat, sizeof flat);
  EXPECT_EQ(PlotLegendRowCount(panel_, g), 0);
}

}  // namespace

namespace {

TEST_F(GraphDataTest, PlotAreasCountToTheHighestShownOrder) {
  const int32 g = Graph(1);
  struct Area {
    int16 order;
    Rect r;
    bool hidden;
  } areas[] = {{0, {10, 10, 50, 100}, false}, {2, {60, 20, 90, 120}, false}, {5, {0, 0, 200, 300}, true},
               {-1, {0, 0, 300, 400}, false}};
  for (const Area& a : areas) {
    const int32 part = Obj(kClsCosmetic, g, kGPartPlotArea, a.order);
    std::memcpy(*panel_ + part + kObjBounds, &a.r, sizeof a.r);
    if (a.hidden) OHSetWord(panel_, uInt32(part), OHWord(panel_, uInt32(part)) | kObjFlagHidden);
  }
  Rect u;
  EXPECT_EQ(GraphPlotBounds(panel_, g, &u), 3);
  EXPECT_EQ((std::vector<int>{u.top, u.left, u.bottom, u.right}), (std::vector<int>{10, 10, 90, 120}));
}

TEST_F(GraphDataTest, FillStylesMarkTheirTargets) {
  const int32 g = Graph(1);
  ASSERT_EQ(ResizePlotList(panel_, g, 3, 0, false), kNoErr);
  struct Case {
    int16 styles[3];
    int16 marks[3];
  } cases[] = {
      {{0, 255, 0}, {1, 0, 0}},        // plot 1 fills to plot 0
      {{255, 0, 0}, {0, 0, 0}},        // a plot filling to itself marks nothing
      {{257, 255 + 3, 0}, {0, 0, 1}},  // past the list: nothing
      {{256, 0, 256}, {0, 1, 0}},
      {{0, 254, -1}, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    int32 n = 0;
    PlotRec* p = GraphPlots(GraphDataOf(panel_, g), &n);
    for (int32 i = 0; i < 3; ++i) {
      p[i].fillStyle = c.styles[i];
      p[i].fillTarget = int16(0x10 | 1);
    }
    MarkFillTargets(GraphDataOf(panel_, g)->plots);
    for (int32 i = 0; i < 3; ++i) EXPECT_EQ(p[i].fillTarget, 0x10 | c.marks[i]) << c.styles[0] << " plot " << i;
  }
}

TEST_F(GraphDataTest, IndexRangesNarrowToTheScaleAndSwapWhenReversed) {
  struct Case {
    float64 min, max;
    int32 low, high;
    bool autoscale;
    int32 wantLow, wantHigh, lowPixel, highPixel, changed;
  } cases[] = {
      {0, 10, 2, 5, false, 2, 4, 20, 50, 0},
      {10, 0, 2, 5, false, 4, 2, 51, 81, 0},     // reversed: indexes and pixels swap
      {0, 10, 20, 30, false, 20, 30, 0, 0, 0},   // nothing visible
      {0.5, 7.9, -5, 100, false, 0, 7, -7, 101, 0},
      {0, 10, 0, 4, true, 0, 3, 0, 100, 1},      // the scale is first set to the data
  };
  for (const Case& c : cases) {
    const int32 s = Obj(kClsScale);
    ASSERT_EQ(Alloc(s), kNoErr);
    ScaleRec* r = ScaleRecOf(panel_, s);
    ASSERT_NE(r, nullptr);
    r->min = c.min;
    r->max = c.max;
    r->increment = 1;
    r->multiplier = 1;
    r->pixelStart = 0;
    r->pixelEnd = 100;
    int32 low = c.low, high = c.high, changed = -1;
    int16 lp = -1, hp = -1;
    EXPECT_EQ(ChartIndexRange(panel_, s, &low, &high, &lp, &hp, c.autoscale, &changed), kNoErr);
    EXPECT_EQ((std::vector<int>{low, high, lp, hp, changed}),
              (std::vector<int>{c.wantLow, c.wantHigh, c.lowPixel, c.highPixel, c.changed}))
        << c.min << ".." << c.max << " " << c.low << ".." << c.high;
  }
}

}  // namespace
