#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "controls/graphdraw.h"
#include "controls/graphfill.h"
#include "controls/plotmenus.h"
#include "golden_image.h"
#include "graph_test_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/window/lmenu.h"

namespace plotfilltest {

using graphtest::GraphTest;
using Pts = std::vector<std::pair<int16, int16>>;

enum : int32 { kLineTo = 9, kFrame = 14, kPaint = 15 };

// The polygons the recording port was asked to paint, each as its points.
std::vector<std::vector<Point>> gPolys;

class GraphFill : public GraphTest {
 protected:
  // The menus draw in the system's menu colours, which the other tests
  // find as they left them.
  void SetUp() override {
    savedColours_ = gMenuColours;
    GraphTest::SetUp();
  }
  void TearDown() override {
    for (UHandle h : handles_) DSDisposeHandle(h);
    GraphTest::TearDown();
    gMenuColours = savedColours_;
  }
  MenuColours savedColours_{};
  // Records as GraphTest does, and the polygons too.
  void RecordFills() {
    static const DPort port = [] {
      DPort p = RecordingPort();
      p.paintPoly = [](const Point* pts, int32 last, int32) {
        gPolys.emplace_back(pts, pts + last + 1);
        return int32(0);
      };
      return p;
    }();
    calls.clear();
    gPolys.clear();
    DInstallTestPort(&port);
  }
  // A record's pixel arrays set to the points.
  static void SetPoints(PlotRec* p, const Pts& pts) {
    const int32 n = int32(pts.size());
    ASSERT_EQ(DSSetHandleSize(p->xs, 4 + 2 * n), kNoErr);
    ASSERT_EQ(DSSetHandleSize(p->ys, 4 + 2 * n), kNoErr);
    for (int32 i = 0; i < n; ++i) {
      PutNative16(*p->xs + 4 + 2 * i, uInt16(pts[size_t(i)].first));
      PutNative16(*p->ys + 4 + 2 * i, uInt16(pts[size_t(i)].second));
    }
    p->count = n;
  }
  // A record of its own (not in a plot list), painted black.
  PlotRec Loose(const Pts& pts, int16 word, int16 interpolation) {
    PlotRec p{};
    p.pointColor = 0;
    p.lineWidth = 1;
    p.fillStyle = word;
    p.interpolation = interpolation;
    p.xs = DSNewHandle(4);
    p.ys = DSNewHandle(4);
    handles_.push_back(p.xs);
    handles_.push_back(p.ys);
    SetPoints(&p, pts);
    return p;
  }
  // A graph of the type with n plots, its Y scale from lo (bottom) to hi (top).
  int32 Graph(int16 type, int32 plots, float64 lo = 0, float64 hi = 10) {
    graphtest::GraphShape shape;
    shape.type = type;
    const int32 g = MakeGraph(shape);
    EXPECT_EQ(ResizePlotList(panel_, g, plots, 0, false), kNoErr);
    SetScale(Scale(g, kGPartYScale, 0), lo, hi, 180, 20);
    int32 n = 0;
    for (int32 i = 0; i < plots; ++i) Plots(g, &n)[i].pointColor = 0;
    return g;
  }
  std::vector<UHandle> handles_;
};

Pts Wave(int32 n, int16 x0, int16 v0, int32 dv = 3) {
  Pts p;
  for (int32 i = 0; i < n; ++i) p.push_back({int16(x0 + i), int16(v0 + (i % 2) * dv)});
  return p;
}

TEST_F(GraphFill, FieldsReadAndWritten) {
  struct Case {
    const char* name;
    int16 word;
    int32 code, selector;
    int16 after;    // the word after the change
    int32 readBack; // the field then reads
  } cases[] = {
      {"bars with gaps on no fill stand on zero", 0, 2, kFillSelBarStyle, 26, 2},
      {"no bars keeps the fill to zero", 26, 0, kFillSelBarStyle, 16, 0},
      {"horizontal touching bars", 64, 6, kFillSelBarStyle, 64 + 4 + 3, 6},
      {"bars replace a plot target", 257, 1, kFillSelBarStyle, 16 + 8 + 1, 1},
      {"fill none clears the bars too", 26, 0, kFillSelFillTo, 0, 0},
      {"minus infinity keeps the bars", 26, 2, kFillSelFillTo, 64 + 8 + 2, 2},
      {"plus infinity", 16, 3, kFillSelFillTo, 32, 3},
      {"fill to plot 3", 26, 7, kFillSelFillTo, 258, 7},
      {"a bar code past 6 changes nothing", 26, 7, kFillSelBarStyle, 26, 2},
      {"a negative fill code changes nothing", 26, -1, kFillSelFillTo, 26, 1},
  };
  for (const Case& c : cases) {
    PlotRec p{};
    p.fillStyle = c.word;
    SetFillStyleField(&p, c.code, c.selector);
    EXPECT_EQ(p.fillStyle, c.after) << c.name;
    EXPECT_EQ(GetFillStyleField(p.fillStyle, c.selector), c.readBack) << c.name;
  }
  // Legend choices: everything cleared first, width 1.
  struct Choice {
    int32 code;
    int16 word, interpolation, pointStyle;
  } choices[] = {{0, 0, 2, 0}, {1, 0, 0, 8}, {2, 0, 2, 8}, {3, 16, 2, 0}, {4, 25, 0, 0}, {5, 27, 0, 0}, {9, 0, 0, 0}};
  for (const Choice& c : choices) {
    PlotRec p{};
    p.fillStyle = 300;
    p.interpolation = 3;
    p.pointStyle = 12;
    p.lineStyle = 2;
    p.lineWidth = 4;
    EXPECT_EQ(SetFillStyleField(&p, c.code, kFillSelLegendChoice), kNoErr);
    EXPECT_EQ(p.fillStyle, c.word) << c.code;
    EXPECT_EQ(p.interpolation, c.interpolation) << c.code;
    EXPECT_EQ(p.pointStyle, c.pointStyle) << c.code;
    EXPECT_EQ(p.lineStyle, 0) << c.code;
    EXPECT_EQ(p.lineWidth, 1) << c.code;
  }
}

// Two plots filled to each other: chunks of 500 points of each sharing one
// point, sized by the pair's step modes; gaps never become vertices.
TEST_F(GraphFill, PlotToPlotPolygons) {
  const int32 g = Graph(kGraphWaveform, 2);
  struct Case {
    int16 mine, theirs;
    std::vector<size_t> sizes;
  } cases[] = {
      {2, 2, {1000, 1000, 404}},  // 2k
      {1, 3, {1998, 1998, 806}},  // 4k - 2
      {2, 1, {1499, 1499, 605}},  // 3k - 1
      {3, 0, {1499, 1499, 605}},
  };
  int32 n = 0;
  for (const Case& c : cases) {
    SetPoints(&Plots(g, &n)[0], Wave(1200, 0, 50));
    SetPoints(&Plots(g, &n)[1], Wave(1200, 0, 150));
    Plots(g, &n)[0].fillStyle = 256;
    Plots(g, &n)[0].interpolation = c.mine;
    Plots(g, &n)[1].interpolation = c.theirs;
    RecordFills();
    EXPECT_EQ(DrawFilledPlot(&Plots(g, &n)[0], nullptr, panel_, g, 0), 0);
    std::vector<size_t> sizes;
    for (const auto& p : gPolys) sizes.push_back(p.size());
    EXPECT_EQ(sizes, c.sizes) << c.mine << "/" << c.theirs;
  }
  // The second chunk starts at point 499; straight pairs end at the target's 499.
  Plots(g, &n)[0].interpolation = Plots(g, &n)[1].interpolation = 2;
  RecordFills();
  DrawFilledPlot(&Plots(g, &n)[0], nullptr, panel_, g, 0);
  ASSERT_EQ(gPolys.size(), 3u);
  EXPECT_EQ(gPolys[1].front().h, 499);
  EXPECT_EQ(gPolys[1].back().h, 499);
  EXPECT_EQ(gPolys[1].back().v, 150 + 3);
  // A gap in either plot ends the polygon: points 0..9 and 11..29.
  Pts mine = Wave(30, 0, 50), theirs = Wave(30, 0, 150);
  mine[10].second = kPlotGap;
  SetPoints(&Plots(g, &n)[0], mine);
  SetPoints(&Plots(g, &n)[1], theirs);
  RecordFills();
  DrawFilledPlot(&Plots(g, &n)[0], nullptr, panel_, g, 0);
  ASSERT_EQ(gPolys.size(), 2u);
  EXPECT_EQ(gPolys[0].size(), 20u);
  EXPECT_EQ(gPolys[1].size(), 38u);
  // Fill to a baseline: steps close with two corners, 2k + 1; a gap splits.
  PlotRec p = Loose(mine, kFillToZero, 1);
  RecordFills();
  DrawFilledPlot(&p, nullptr, panel_, g, 0);
  ASSERT_EQ(gPolys.size(), 2u);
  EXPECT_EQ(gPolys[0].size(), 21u);
  EXPECT_EQ(gPolys[1].size(), 39u);
  for (const auto& poly : gPolys)
    for (Point q : poly) EXPECT_TRUE(q.h != kPlotGap && q.v != kPlotGap);
  // A target past the list, or plots stacked: nothing.
  Plots(g, &n)[0].fillStyle = 255 + 2;
  RecordFills();
  DrawFilledPlot(&Plots(g, &n)[0], nullptr, panel_, g, 0);
  EXPECT_TRUE(gPolys.empty());
  Plots(g, &n)[0].fillStyle = 256;
  SetFlags(g, 0x80000);
  RecordFills();
  DrawFilledPlot(&Plots(g, &n)[0], nullptr, panel_, g, 0);
  EXPECT_TRUE(gPolys.empty());
  // An XY graph paints one area per pair; a pair with a gap paints nothing.
  const int32 xy = Graph(kGraphXY, 1);
  PlotRec q = Loose({{10, 40}, {20, 60}, {kPlotGap, 50}, {40, 30}, {30, 70}}, kFillToZero, 2);
  RecordFills();
  DrawFilledPlot(&q, nullptr, panel_, xy, 0);
  ASSERT_EQ(gPolys.size(), 2u);
  EXPECT_EQ(gPolys[0].size(), 4u);
  EXPECT_EQ(gPolys[1][0].h, 40);  // the pair 3, 4 running back
  EXPECT_EQ(gPolys[1][2].h, 30);
}

TEST_F(GraphFill, BaselinesBarsAndRefusals) {
  // A Y scale from 10 (bottom, 180) down to -10 (top, 20): minus infinity
  // is the top end, plus infinity the bottom, zero the middle.
  const int32 g = Graph(kGraphWaveform, 1, 10, -10);
  struct Base {
    int16 word;
    int16 v;
  } bases[] = {{kFillToMinusInf, 20}, {kFillToPlusInf, 180}, {kFillToZero, 100}};
  for (const Base& b : bases) {
    PlotRec p = Loose(Wave(4, 50, 60), b.word, 2);
    RecordFills();
    DrawFilledPlot(&p, nullptr, panel_, g, 0);
    ASSERT_EQ(gPolys.size(), 1u) << b.word;
    EXPECT_EQ(gPolys[0].size(), 6u);                  // k + 2
    EXPECT_EQ(gPolys[0].back().v, b.v) << b.word;     // the closing corner
    EXPECT_EQ(gPolys[0].back().h, 50);
  }
  // Bars: one width (vertical, width 3 at x 10 covers 9..12), widths per
  // bar on XY graphs, none for horizontal bars off XY graphs or bad words.
  const int32 xy = Graph(kGraphXY, 1, 10, -10);
  struct BarCase {
    const char* name;
    int32 graph;
    Pts pts;
    int16 word;
    std::vector<std::pair<int16, int16>> spans;  // left, right of each painted rectangle
  } bars[] = {
      {"touching, one width", g, {{10, 60}, {13, 40}}, 16 + 8 + 3, {{9, 13}, {12, 16}}},
      {"gaps: 4/5 of 5", g, {{10, 60}, {15, 40}}, 16 + 8 + 2, {{9, 14}, {14, 19}}},
      {"XY touching: nearest neighbour", xy, {{10, 60}, {14, 40}, {20, 50}}, 16 + 8 + 3, {{8, 13}, {12, 17}, {17, 24}}},
      {"XY with gaps", xy, {{10, 60}, {kPlotGap, 40}, {14, 50}}, 16 + 8 + 2, {{8, 12}, {12, 16}}},
      {"horizontal on a waveform graph", g, {{10, 60}, {14, 40}}, 16 + 4 + 3, {}},
      {"orientation 12", g, {{10, 60}, {14, 40}}, 16 + 12 + 3, {}},
      {"baseline 48", g, {{10, 60}, {14, 40}}, 48 + 8 + 3, {}},
  };
  for (const BarCase& c : bars) {
    PlotRec p = Loose(c.pts, c.word, 0);
    RecordFills();
    DrawFilledPlot(&p, nullptr, panel_, c.graph, 0);
    std::vector<std::pair<int16, int16>> spans;
    for (const auto& call : CallsOf(kPaint)) spans.push_back({call.r.left, call.r.right});
    EXPECT_EQ(spans, c.spans) << c.name;
    if (c.spans.empty()) {
      EXPECT_TRUE(CallsOf(kLineTo).empty() && gPolys.empty()) << c.name;
    }
  }
  // A bar runs from its point to the zero row inclusive.
  PlotRec bar = Loose({{10, 60}, {13, 40}}, 16 + 8 + 3, 0);
  RecordFills();
  DrawFilledPlot(&bar, nullptr, panel_, g, 0);
  ASSERT_EQ(CallsOf(kPaint).size(), 2u);
  EXPECT_EQ(CallsOf(kPaint)[0].r.top, 60);
  EXPECT_EQ(CallsOf(kPaint)[0].r.bottom, 101);
  // Thin horizontal bars on an XY graph run to the X scale's zero column (40).
  PlotRec h = Loose({{100, 60}, {kPlotGap, 70}}, 16 + 4 + 1, 0);
  RecordFills();
  DrawFilledPlot(&h, nullptr, panel_, xy, 0);
  const auto lines = CallsOf(kLineTo);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].r.left, 40);
  EXPECT_EQ(lines[0].r.top, 60);
  // A chart's wide bars are clipped to the side the positions run to.
  const int16 rising[] = {50, 50, 60}, falling[] = {kPlotGap, 50, 40};
  Rect clip{};
  EXPECT_TRUE(ChartFillClipRect(kChartFirst, rising, 3, 3, &clip));
  EXPECT_EQ(clip.left, 50);
  EXPECT_EQ(clip.right, 32767);
  EXPECT_TRUE(ChartFillClipRect(kChartFirst, falling, 3, 3, &clip));
  EXPECT_EQ(clip.right, 50);
  EXPECT_FALSE(ChartFillClipRect(kGraphWaveform, rising, 3, 3, &clip));
  EXPECT_FALSE(ChartFillClipRect(kChartFirst, rising, 1, 3, &clip));
  // A legend sample without room for its arrays is not made here; a
  // sample of a plot target fills down to the sample's bottom.
  PlotRec legend = Loose({}, 256, 2);
  const Rect row{10, 20, 30, 120};
  RecordFills();
  EXPECT_EQ(DrawFilledPlot(&legend, &row, panel_, g, 0), 0);
  ASSERT_EQ(gPolys.size(), 1u);
  EXPECT_EQ(gPolys[0].size(), 14u);        // 12 zigzag points and two corners
  EXPECT_EQ(gPolys[0].back().v, 30 - 5);   // bottom - 2 - 3
}

// One sheet: fills to zero, plus and minus infinity and to another plot
// for interpolations 0-3; bars of the three kinds both ways; legend
// samples; both menus with item 1 current.
TEST_F(GraphFill, GoldenSheet) {
  MLoadMenuColors();
  const Rect sheet{0, 0, 520, 520};
  const int32 g = Graph(kGraphWaveform, 8);
  const int32 ys = Scale(g, kGPartYScale, 0), xs = Scale(g, kGPartXScale, 0);
  const DColor colours[] = {0x3060C0, 0xC04020, 0x20A040, 0x9040A0};
  auto zig = [](int16 x0, int16 mid, int16 amp) {
    Pts p;
    for (int16 i = 0; i < 9; ++i) p.push_back({int16(x0 + 10 * i), int16(mid + (i % 3 - 1) * amp)});
    p[5].second = kPlotGap;
    return p;
  };
  MenuHandle widths = nullptr, styles = nullptr;
  ASSERT_EQ(InitLineWidths(kLineWidthMenuId, &widths), kNoErr);
  ASSERT_EQ(InitLineStyles(kLineStyleMenuId, &styles), kNoErr);
  auto draw = [&] {
    int32 n = 0;
    const int16 words[] = {kFillToZero, kFillToPlusInf, kFillToMinusInf};
    for (int32 row = 0; row < 3; ++row) {
      SetScale(ys, -5, 5, 75 + 80 * row, 5 + 80 * row);
      for (int16 interp = 0; interp <= 3; ++interp) {
        PlotRec p = Loose(zig(int16(10 + 100 * interp), int16(40 + 80 * row), 20), words[row], interp);
        p.pointColor = colours[interp];
        DrawFilledPlot(&p, nullptr, panel_, g, 0);
      }
    }
    for (int16 interp = 0; interp <= 3; ++interp) {
      PlotRec* p = Plots(g, &n);
      SetPoints(&p[interp], zig(int16(10 + 100 * interp), 260, 15));
      SetPoints(&p[interp + 4], zig(int16(10 + 100 * interp), 295, 8));
      p[interp].fillStyle = int16(255 + interp + 4);
      p[interp].interpolation = interp;
      p[interp + 4].interpolation = int16(3 - interp);
      p[interp].pointColor = colours[interp];
      DrawFilledPlot(&p[interp], nullptr, panel_, g, interp);
    }
    SetScale(ys, -5, 5, 390, 320);
    for (int16 kind = 1; kind <= 3; ++kind) {
      PlotRec p = Loose(zig(int16(10 + 130 * (kind - 1)), 340, 15), int16(16 + 8 + kind), 0);
      p.pointColor = colours[kind];
      DrawFilledPlot(&p, nullptr, panel_, g, 0);
    }
    PutNative16(*panel_ + g + kPanelGraphKindByte, uInt16(kGraphXY));
    for (int16 kind = 1; kind <= 3; ++kind) {
      SetScale(xs, -5, 5, 10 + 130 * (kind - 1), 110 + 130 * (kind - 1));
      Pts p;
      for (int16 i = 0; i < 6; ++i) p.push_back({int16(60 + 130 * (kind - 1) + (i % 3 - 1) * 30), int16(400 + 7 * i)});
      PlotRec r = Loose(p, int16(16 + 4 + kind), 0);
      r.pointColor = colours[kind];
      DrawFilledPlot(&r, nullptr, panel_, g, 0);
    }
    PutNative16(*panel_ + g + kPanelGraphKindByte, uInt16(kGraphWaveform));
    const int16 legendWords[] = {kFillToZero, kFillToPlusInf, 256, 16 + 8 + 3};
    for (int32 i = 0; i < 4; ++i) {
      PlotRec p = Loose({}, legendWords[i], 2);
      p.pointColor = colours[i];
      const Rect row{int16(450 + 16 * i), 10, int16(464 + 16 * i), 110};
      DrawFilledPlot(&p, &row, panel_, g, 0);
    }
    for (MenuHandle m : {widths, styles}) {
      MenuProcMsg msg{};
      msg.code = kMenuCheckItem;
      msg.a2 = 1;
      LineWidthMenuProc(&msg, m);  // the block is the menu's own, whichever procedure
      MCalcMenuSize(m);
    }
    (*widths)->size = Rect{5, 410, 129, 514};
    (*styles)->size = Rect{140, 410, 244, 514};
    DrawLineWidthMenu(widths);
    DrawLineStyleMenu(styles);
  };
  const int32 img = DrawInto(sheet, draw);
  MDisposeMenu(widths);
  MDisposeMenu(styles);
  qxtest::ExpectMatchesGolden(PlatBitmapSurface(PlatObj(IEntryOf(img).extra)),
                              std::filesystem::path(QX_SOURCE_DIR) / "tests/controls/goldens/plot_fills_sheet.png",
                              "regenerate the plot fill sheet (QX_UPDATE_GOLDENS=1) and check it by eye");
}

TEST_F(GraphFill, LineMenus) {
  MLoadMenuColors();
  MenuHandle widths = nullptr, styles = nullptr;
  ASSERT_EQ(InitLineWidths(kLineWidthMenuId, &widths), kNoErr);
  ASSERT_EQ(InitLineStyles(kLineStyleMenuId, &styles), kNoErr);
  EXPECT_EQ(MCountItems(widths), 6);
  EXPECT_EQ(MCountItems(styles), 5);
  // The tracker takes only items it is told can be chosen.
  MenuItemInfo info{};
  MGetItemInfo(styles, 5, &info);
  EXPECT_EQ(info.enabled, 1);
  MGetItemInfo(styles, 6, &info);
  EXPECT_EQ(info.enabled, 0);
  MCalcMenuSize(widths);
  MCalcMenuSize(styles);
  EXPECT_EQ((*widths)->size.right, 104);
  EXPECT_EQ((*widths)->size.bottom, 124);
  EXPECT_EQ((*styles)->size.bottom, 104);
  struct Track {
    int16 h, v;
    int32 previous, item;
    size_t frames;  // frames drawn
  } tracks[] = {
      {50, 1, 0, 0, 0},      // the border
      {103, 50, 0, 0, 0},    // the right border
      {50, 121, 0, 6, 1},    // the lowest cell: width 5
      {50, 50, 2, 3, 2},     // from 2 to 3: two frames
      {50, 45, 3, 3, 0},     // the same item: nothing drawn
  };
  for (const Track& t : tracks) {
    MenuProcMsg m{};
    m.code = kMenuMouseStep;
    m.a1 = PointToWord(Point{t.v, t.h});
    m.a3 = t.previous;
    RecordFills();
    EXPECT_EQ(LineWidthMenuProc(&m, widths), 0);
    EXPECT_EQ(m.a3, t.item) << t.v;
    EXPECT_EQ((*widths)->currentItem, t.item) << t.v;
    EXPECT_EQ(CallsOf(kFrame).size(), t.frames) << t.v;
  }
  // The style menu's frames are inset 1 across, the width menu's 2.
  MenuProcMsg m{};
  m.code = kMenuMouseStep;
  m.a1 = PointToWord(Point{30, 50});
  RecordFills();
  LineStyleMenuProc(&m, styles);
  ASSERT_EQ(CallsOf(kFrame).size(), 1u);
  EXPECT_EQ(CallsOf(kFrame)[0].r.left, 3);
  // Drawn with item 1 current: its cell on the highlight colour, the
  // thinnest line with its two marks, each sample from left + 5 to right - 5.
  m = MenuProcMsg{};
  m.code = kMenuCheckItem;
  m.a2 = 1;
  LineWidthMenuProc(&m, widths);
  m.code = kMenuDraw;
  RecordFills();
  LineWidthMenuProc(&m, widths);
  bool highlight = false;
  for (const auto& c : CallsOf(kPaint)) highlight |= c.r.top == 4 && c.r.left == 4 && c.r.bottom == 20 && c.r.right == 100;
  EXPECT_TRUE(highlight);
  // The samples' lines come after the bevelled frame's.
  auto all = CallsOf(kLineTo);
  ASSERT_GE(all.size(), 6u + 2u);
  const std::vector<graphtest::PortCall> lines(all.end() - 8, all.end());
  EXPECT_EQ(lines[0].r.left, 102 - 5);
  EXPECT_EQ(lines[0].r.top, 2 + 10);
  EXPECT_EQ(lines[1].r.left, 52 - 5);  // the first mark, 4 below the line
  EXPECT_EQ(lines[1].r.top, 12 + 4);
  MDisposeMenu(widths);
  MDisposeMenu(styles);
}

}  // namespace plotfilltest
