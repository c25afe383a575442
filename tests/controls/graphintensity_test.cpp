// Intensity images: colour indexes of values, the sample-to-pixel tables,
// the index image, its picture and the colour table; and intensity charts
// drawing their newest columns: the x scale moving past its end in each
// update mode, the circular image's position, and columns left to the next
// update over a transparent area.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <vector>

#include "controls/chartupdate.h"
#include "controls/graphintensity.h"
#include "controls/graphsupport.h"
#include "controls/scaleobj.h"
#include "golden_image.h"
#include "graph_test_support.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"

namespace {

using tdb::Array, tdb::DBL, tdb::I32, tdb::TD;
using graphtest::GraphShape;

class Intensity : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    debugging_ = DBDebuggingOn();
    DBSetDebugging(true);
    ControlsInstallScaleHooks();
  }
  void TearDown() override {
    DBSetDebugging(debugging_);
    GraphTest::TearDown();
  }
  int32 Graph(const TD& elem = DBL(), int16 type = kGraphIntensity) {
    const TD t = Array(elem, {kTDVariable, kTDVariable});
    g_ = MakeGraph({.type = type, .colourScale = true}, &t);
    z_ = Scale(g_, kGPartZScale, 0);
    return g_;
  }
  void ZRange(float64 lo, float64 hi) {
    SetScale(z_, lo, hi, 180, 20);
    ScaleRecOf(panel_, z_)->endParts[0] = 0;
    ScaleRecOf(panel_, z_)->endParts[1] = 0xFFFFFF;
  }
  void Markers(const std::vector<std::pair<float64, uInt32>>& m) {
    ScaleRec* r = ScaleRecOf(panel_, z_);
    ASSERT_EQ(ScaleResizeMarkers(r, int32(m.size())), kNoErr);
    r = ScaleRecOf(panel_, z_);
    for (size_t i = 0; i < m.size(); ++i) {
      std::memcpy(*r->markers + 4 + kScaleMarkerEntry * i, &m[i].first, 8);
      PutNative32(*r->markers + 4 + kScaleMarkerEntry * i + 8, m[i].second);
    }
  }
  // A 2-D array (columns of rows) of 32-bit integers.
  UHandle Ints(const std::vector<int32>& v, int32 columns, int32 rows) {
    UHandle h = DSNewHandle(8 + 4 * int32(v.size()));
    PutNative32(*h, uInt32(columns));
    PutNative32(*h + 4, uInt32(rows));
    std::memcpy(*h + 8, v.data(), 4 * v.size());
    values_.push_back(h);
    return h;
  }
  IntensityRec* Rec() { return IntensityRecOf(panel_, g_); }
  // The image rows of the block over the rectangle (the whole block there).
  std::vector<uChar> Image(UHandle data, int32 fi, int32 fo, int32 li, int32 lo, Rect px, bool transposed = false,
                           int32* result = nullptr) {
    const int32 r = BuildIntensityBitmap(panel_, g_, z_, data, fi, fo, li, lo, Rec()->image, &px, &px, transposed);
    if (result) *result = r;
    UHandle img = Rec()->image;
    const int32 h = int32(GetNative32(*img)), len = int32(GetNative32(*img + 4));
    EXPECT_EQ(DSGetHandleSize(img), 8 + h * len);
    return std::vector<uChar>(*img + 8, *img + 8 + h * len);
  }
  uInt32 Entry(int32 i) { return GetNative32(*Rec()->colorTable + 4 + 4 * i); }
  int32 g_ = 0, z_ = 0;
  Bool32 debugging_ = false;
};

// The index of one sample: below the range and NaN 0, above it 255, the
// range's ends 1 and 254; stepped colours count the markers at or below the
// value; integer data rounds the range first; a range of one value gives 1.
TEST_F(Intensity, SampleIndexes) {
  const float64 nan = std::numeric_limits<float64>::quiet_NaN();
  struct Case {
    bool integers;
    float64 lo, hi;
    bool stepped;
    float64 value;
    int32 want;
  } cases[] = {
      {false, 0, 100, false, 100, 254},     {false, 0, 100, false, 100.0001, 255},
      {false, 0, 100, false, 0, 1},         {false, 0, 100, false, -1, 0},
      {false, 0, 100, false, nan, 0},       {false, 0, 100, false, 60, 153},
      {false, 100, 0, false, 100, 254},     // ends in either order
      {false, 0, 30, true, 15, 2},          {false, 0, 30, true, 25, 3},
      {false, 0, 30, true, 30, 3},          {false, 0, 30, true, 31, 255},
      {false, 5, 5, false, 5, 1},           {false, 5, 5, false, 5.5, 255},
      {true, 0.4, 10.4, false, 10, 254},    {true, 0.4, 10.4, false, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lo << ".." << c.hi << " value " << c.value << (c.stepped ? " stepped" : ""));
    Graph(c.integers ? I32() : DBL());
    ZRange(c.lo, c.hi);
    Markers({{0, 0xFF}, {10, 0xFF00}, {20, 0xFF0000}});
    SetFlags(z_, kZScaleStepped, c.stepped);
    UHandle v = c.integers ? Ints({int32(c.value)}, 1, 1) : Doubles({c.value}, {1, 1});
    EXPECT_EQ(Image(v, 0, 0, 0, 0, {0, 0, 1, 1}), (std::vector<uChar>{uChar(c.want), 0}));
  }
  // Markers stop counting at the first greater or unordered one.
  Graph();
  Markers({{0, 0}, {nan, 0}, {1, 0}});
  EXPECT_EQ(ColorMarkerIndex(5, ScaleRecOf(panel_, z_)->markers), 1);
}

TEST_F(Intensity, SpanRunTables) {
  struct Case {
    int32 n, first, end, firstData, lastData;
    Bool32 more;
    std::vector<int32> want;
  } cases[] = {
      {10, 0, 4, 0, 4, 1, {2, 3, 3, 2}},     // 2.5 rounds to 2, 7.5 to 8
      {4, 0, 10, 0, 10, 0, {2, 3, 3, 2}},    // the runs fill the pixel span
      {4, 5, 10, 0, 10, 0, {0, 0, 3, 2}},    // samples left of the first pixel cover nothing
      {4, 0, 6, 0, 10, 0, {2, 3, 1, 0}},     // shortened at the end pixel
      {0, 0, 4, 0, 4, 0, {}},                // no samples
      {3, 5, 5, 5, 5, 1, {}},                // no pixels
      {3, 6, 5, 5, 5, 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.n << " over " << c.first << ".." << c.end);
    Bool32 more = 7;
    int32* t = SpanRunTable(c.n, c.first, c.end, c.firstData, c.lastData, &more);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(more, c.more);
    EXPECT_EQ(std::vector<int32>(t, t + c.want.size()), c.want);
    DSDisposePtr(reinterpret_cast<UPtr>(t));
  }
}

// Images: odd widths pad their rows; a pixel shows its largest sample;
// columns run left to right and rows top to bottom from the first indexes,
// either way, the outer index wrapping; transposed data gives the
// transposed image; a sample over several pixels is repeated.
TEST_F(Intensity, ImagesOfBlocks) {
  Graph(I32());
  ZRange(0, 253);  // index = value + 1
  // Columns of 2 rows: [0 1] [10 11] [20 21] [30 31].
  UHandle d = Ints({0, 1, 10, 11, 20, 21, 30, 31}, 4, 2);
  UHandle t = Ints({0, 10, 20, 30, 1, 11, 21, 31}, 2, 4);
  struct Case {
    const char* name;
    UHandle data;
    int32 fi, fo, li, lo;
    Rect px;
    bool transposed;
    std::vector<uChar> want;
  } cases[] = {
      {"3 px wide", d, 0, 0, 1, 2, {0, 0, 2, 3}, false, {1, 11, 21, 0, 2, 12, 22, 0}},
      {"bottom row first", d, 1, 0, 0, 2, {0, 0, 2, 3}, false, {2, 12, 22, 0, 1, 11, 21, 0}},
      {"right to left", d, 0, 2, 0, 0, {0, 0, 1, 3}, false, {21, 11, 1, 0}},
      {"wrapping", d, 0, 3, 0, 5, {0, 0, 1, 3}, false, {31, 1, 11, 0}},
      {"largest of two columns and rows", d, 0, 0, 1, 3, {0, 0, 1, 2}, false, {12, 32}},
      {"transposed", t, 0, 0, 1, 2, {0, 0, 2, 3}, true, {1, 11, 21, 0, 2, 12, 22, 0}},
      {"replicated", d, 0, 0, 1, 1, {0, 0, 4, 4}, false,
       {1, 1, 11, 11, 1, 1, 11, 11, 2, 2, 12, 12, 2, 2, 12, 12}},
      {"empty rectangle", d, 0, 0, 1, 1, {5, 5, 5, 9}, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32 r = -1;
    EXPECT_EQ(Image(c.data, c.fi, c.fo, c.li, c.lo, c.px, c.transposed, &r), c.want);
    EXPECT_EQ(r, 0);
  }
  // An image that cannot be sized fails with 16, as does a graph without
  // its colour scale (an assertion).
  MemFailAllocations(1, -1);
  Rect big{0, 0, 400, 400};
  const int32 r = BuildIntensityBitmap(panel_, g_, z_, d, 0, 0, 1, 3, Rec()->image, &big, &big, false);
  MemFailAllocations(0, 0);
  EXPECT_EQ(r, 16);
  qxtest::Reports::Get().Clear();
  EXPECT_EQ(BuildIntensityBitmap(panel_, g_, 0, d, 0, 0, 1, 3, Rec()->image, &big, &big, false), 16);
  EXPECT_EQ(Reports("plotsup2"), 1);
}

// The picture: one pixel-map record after the 4 header bytes, its fields
// big-endian but for the colour flags, accepted as it is by the image layer.
TEST_F(Intensity, PictureOfAnImage) {
  Graph();
  ZRange(0, 100);
  Markers({{0, 0x000000}, {100, 0xFF0000}});
  ASSERT_EQ(BuildColorTable(panel_, g_), 0);
  UHandle img = DSNewHClr(8 + 2 * 4);
  PutNative32(*img, 2);
  PutNative32(*img + 4, 4);
  for (int32 i = 0; i < 8; ++i) (*img)[8 + i] = uChar(i * 30);
  const Rect bounds{10, 20, 12, 23};
  UHandle pict = BitmapToPict(Rec()->colorTable, 8, &bounds, img);
  ASSERT_NE(pict, nullptr);
  ASSERT_EQ(DSGetHandleSize(pict), 2092);
  const std::vector<uChar> head(*pict + 4, *pict + 4 + 40);
  const std::vector<uChar> want = {
      0x00, 0x1D, 0x00, 0x00, 0x08, 0x22, 0x00, 0x00, 0x00, 0x08,  // opcode 29, length 2082, 8 bytes
      0x00, 0x0A, 0x00, 0x14, 0x00, 0x0C, 0x00, 0x17,              // bounds
      0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF,  // depth, foreground, background
      0x00, 0xFF, 0x00, 0x80,                                      // last index 255, flags
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // entry 0: the below-range colour
  };
  EXPECT_EQ(head, want);
  // Entry 128 (value 50) is the halfway blend of the two markers.
  EXPECT_EQ(std::vector<uChar>(*pict + 4 + 32 + 8 * 128, *pict + 4 + 32 + 8 * 129),
            (std::vector<uChar>{0, 0, 0x80, 0x80, 0, 0, 0, 0}));
  EXPECT_EQ(std::vector<uChar>(*pict + 2092 - 8, *pict + 2092), std::vector<uChar>(*img + 8, *img + 16));
  qxtest::Reports::Get().Clear();
  int32 id = 0;
  EXPECT_EQ(ICreatePict(0, &bounds, 8, pict, kImageBorrowed, &id), kNoErr);
  EXPECT_EQ(qxtest::Reports::Get().Text(), "");
  IRelease(id);
  DSDisposeHandle(pict);
  // Without colours: no flags and no entries.
  pict = BitmapToPict(nullptr, 8, &bounds, img);
  ASSERT_NE(pict, nullptr);
  EXPECT_EQ(DSGetHandleSize(pict), 34 + 8);
  EXPECT_EQ(GetBE32(*pict + 6), 8u + 24);
  DSDisposeHandle(pict);
  // An image header larger than its handle makes no picture.
  PutNative32(*img, 3);
  EXPECT_EQ(BitmapToPict(Rec()->colorTable, 8, &bounds, img), nullptr);
  DSDisposeHandle(img);
}

// The table: the end colours outside, stepped markers in order, and a
// failed allocation keeps the table there was.
TEST_F(Intensity, ColourTables) {
  Graph();
  ZRange(0, 30);
  ScaleRecOf(panel_, z_)->endParts[0] = 0x111111;
  ScaleRecOf(panel_, z_)->endParts[1] = 0x222222;
  Markers({{0, 0xA}, {10, 0xB}, {20, 0xC}});
  SetFlags(z_, kZScaleStepped);
  ASSERT_EQ(BuildColorTable(panel_, g_), 0);
  EXPECT_EQ(DSGetHandleSize(Rec()->colorTable), 1028);
  EXPECT_EQ(GetNative32(*Rec()->colorTable), 256u);
  EXPECT_EQ((std::vector<uInt32>{Entry(0), Entry(1), Entry(2), Entry(3), Entry(255)}),
            (std::vector<uInt32>{0x111111, 0xA, 0xB, 0xC, 0x222222}));
  UHandle before = Rec()->colorTable;
  qxtest::Reports::Get().Clear();
  MemFailAllocations(1, -1);
  EXPECT_EQ(BuildColorTable(panel_, g_), 16);
  MemFailAllocations(0, 0);
  EXPECT_EQ(Rec()->colorTable, before);
  EXPECT_NE(qxtest::Reports::Get().Text().find("Failed allocation for color table of size 1028"), std::string::npos);
  // A table cut short is rebuilt before an image is drawn from it.
  DSSetHandleSize(Rec()->colorTable, 100);
  UHandle v = Doubles({15}, {1, 1});
  Image(v, 0, 0, 0, 0, {0, 0, 1, 1});
  EXPECT_EQ(DSGetHandleSize(Rec()->colorTable), 1028);
}

class IntensChart : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsInstallScaleHooks();
    offscreen_ = PrefGet(kPrefOffscreenUpdates);
    strip_ = PrefGet(kPrefScrollingStripCharts);
    PrefSet(kPrefOffscreenUpdates, 0);
    PrefSet(kPrefScrollingStripCharts, 0);
  }
  void TearDown() override {
    PrefSet(kPrefOffscreenUpdates, offscreen_);
    PrefSet(kPrefScrollingStripCharts, strip_);
    GraphTest::TearDown();
  }
  // A chart of the type whose history holds L columns of R rows, total
  // columns written (column i holding i in every row), pending not drawn.
  int32 Chart(int16 type, int32 total, int32 pending, GraphShape s = {}) {
    const TD t = Array(DBL(), {kTDVariable, kTDVariable});
    s.type = type;
    s.colourScale = true;
    const int32 g = MakeGraph(s, &t);
    constexpr int32 L = 200, R = 4;
    std::vector<float64> cols;
    for (int32 i = 0; i < L; ++i)
      for (int32 r = 0; r < R; ++r) cols.push_back(i < total ? i : 0);
    ChartHistory* rec = ChartRecordOf(panel_, g);
    EXPECT_NE(rec, nullptr);
    if (!rec) return g;
    rec->buffer = Doubles(cols, {L, R});
    rec->total = total;
    rec->pending = pending;
    SetScale(Scale(g, kGPartYScale, 0), 0, 4, s.plotAreas[0].bottom, s.plotAreas[0].top);
    SetScale(Scale(g, kGPartZScale, 0), 0, 200, 180, 20);
    value_ = Doubles({1, 2, 3, 4}, {1, 4});
    return g;
  }
  int32 Draw(int32 g, int32 update = 0) { return DrawPlotArea(panel_, g, &value_, update, 0, 4, 1); }
  ChartHistory* Rec(int32 g) { return ChartRecordOf(panel_, g); }
  UHandle value_ = nullptr;
  int32 offscreen_ = 0, strip_ = 0;
};

// The drawn image is emptied unless "keepIntensityBitmap" is on; kept, a
// colour-scale change rebuilds the table and draws the kept image again
// without the graph's value.
TEST_F(Intensity, KeptImageShowsNewColours) {
  const int32 keep = PrefGet(kPrefKeepIntensityBitmap);
  for (int32 on : {0, 1}) {
    SCOPED_TRACE(on);
    PrefSet(kPrefKeepIntensityBitmap, on);
    Record();
    Graph();
    ZRange(0, 10);
    Markers({{0, 0x0000FF}, {10, 0x0000FF}});
    UHandle v = Doubles({1, 2, 3, 4}, {2, 2});
    EXPECT_EQ(DrawPlotArea(panel_, g_, &v, 0, 0, 4, 1) & kPlotResultFailed, 0);
    EXPECT_EQ(DSGetHandleSize(Rec()->image) > 8, on == 1);
    Markers({{0, 0x00FF00}, {10, 0x00FF00}});
    const ScaleRedrawRequest req{kGPartZScale, 0};
    EXPECT_EQ(RedrawZScale(panel_, g_, &req, false, true, false), kNoErr);
    EXPECT_EQ(Entry(128), on ? 0x00FF00u : 0x0000FFu) << "the table follows the markers only from the kept image";
  }
  PrefSet(kPrefKeepIntensityBitmap, keep);
}

// A sheet to check by eye: a 64 x 48 ramp (value = column + row) on an
// intensity graph and, transposed, on the transposed graph (the same
// picture), a constant array under Z
// autoscale (all at the range's lowest colour), the ramp in stepped and in
// interpolated colours; below, intensity charts of each update mode after
// 150 columns were written and drawn one at a time.
TEST_F(Intensity, GoldenSheet) {
  const Rect sheet{0, 0, 330, 640};
  std::vector<float64> ramp;
  for (int32 c = 0; c < 64; ++c)
    for (int32 r = 0; r < 48; ++r) ramp.push_back(c + r);
  std::vector<float64> transposed;
  for (int32 r = 0; r < 48; ++r)
    for (int32 c = 0; c < 64; ++c) transposed.push_back(c + r);
  struct Panel {
    int16 type;
    std::vector<float64>* data;
    std::vector<int32> dims;
    bool stepped, autoZ;
  } graphs[] = {
      {3, &ramp, {64, 48}, false, false},
      {4, &transposed, {48, 64}, false, false},
      {3, nullptr, {64, 48}, false, true},
      {3, &ramp, {64, 48}, true, false},
  };
  auto colours = [&] {
    ZRange(0, 110);
    ScaleRecOf(panel_, z_)->endParts[0] = 0x000000;
    ScaleRecOf(panel_, z_)->endParts[1] = 0xFFFFFF;
    Markers({{0, 0x0000FF}, {40, 0x00C000}, {80, 0xFFFF00}, {110, 0xFF0000}});
  };
  const int32 keep = PrefGet(kPrefKeepIntensityBitmap);
  PrefSet(kPrefKeepIntensityBitmap, 0);
  std::vector<std::function<void()>> draws;
  std::vector<float64> constant(64 * 48, 5.0);
  for (int32 i = 0; i < 4; ++i) {
    const Panel& p = graphs[i];
    const int16 left = int16(10 + 156 * i);
    const TD t = Array(DBL(), {kTDVariable, kTDVariable});
    const Rect area{10, left, 130, int16(left + 146)};
    const int32 g = MakeGraph({.type = p.type, .bounds = area, .plotAreas = {area}, .colourScale = true}, &t);
    g_ = g;
    z_ = Scale(g, kGPartZScale, 0);
    colours();
    SetFlags(z_, kZScaleStepped, p.stepped);
    if (p.autoZ) SetFlags(g, kGraphFlagAutoZ);
    // The transposed graph shows its data's second dimension along x.
    SetScale(Scale(g, kGPartXScale, 0), 0, 64, area.left, area.right);
    SetScale(Scale(g, kGPartYScale, 0), 0, 48, area.bottom, area.top);
    UHandle v = Doubles(p.data ? *p.data : constant, p.dims);
    draws.push_back([this, g, v]() mutable { DrawPlotArea(panel_, g, &v, 0, 0, 4, 1); });
  }
  // Charts: 200 columns of 16 rows kept, x 0 .. 60 shown.
  std::vector<int32> charts;
  for (int32 i = 0; i < 3; ++i) {
    const int16 left = int16(10 + 210 * i);
    const Rect area{170, left, 320, int16(left + 190)};
    const TD t = Array(DBL(), {kTDVariable, kTDVariable});
    const int32 g = MakeGraph({.type = int16(104 + i), .bounds = area, .plotAreas = {area}, .colourScale = true}, &t);
    g_ = g;
    z_ = Scale(g, kGPartZScale, 0);
    colours();
    SetScale(Scale(g, kGPartXScale, 0), 0, 60, area.left, area.right);
    SetScale(Scale(g, kGPartYScale, 0), 0, 16, area.bottom, area.top);
    ChartHistory* rec = ChartRecordOf(panel_, g);
    ASSERT_NE(rec, nullptr);
    rec->buffer = Doubles(std::vector<float64>(200 * 16, 0.0), {200, 16});
    charts.push_back(g);
  }
  UHandle chartValue = Doubles(std::vector<float64>(16, 0.0), {1, 16});
  const int32 img = DrawInto(sheet, [&] {
    for (auto& d : draws) d();
    for (int32 g : charts) {
      for (int32 k = 0; k < 150; ++k) {
        ChartHistory* rec = ChartRecordOf(panel_, g);
        auto* col = reinterpret_cast<float64*>(*rec->buffer + 8) + (k % 200) * 16;
        for (int32 r = 0; r < 16; ++r) col[r] = std::fmod(k * 1.5 + r * 5.0, 110.0);
        rec->total = k + 1;
        rec->pending = 1;
        DrawPlotArea(panel_, g, &chartValue, 0, 0, 4, 1);
      }
    }
  });
  PrefSet(kPrefKeepIntensityBitmap, keep);
  qxtest::ExpectMatchesGolden(PlatBitmapSurface(PlatObj(IEntryOf(img).extra)),
                              std::filesystem::path(QX_SOURCE_DIR) / "tests/controls/goldens/intensity_sheet.png",
                              "QX_UPDATE_GOLDENS=1 test_controls --gtest_filter=Intensity.GoldenSheet, then check by eye");
}

// One column past the x scale's upper end (x 0 .. 10 over 40 .. 280):
// sweep and scope charts move up by a span, strip charts by the columns
// that passed; the column is drawn and no longer pending.
TEST_F(IntensChart, NewColumnPastTheEndMovesTheScale) {
  struct Case {
    int16 type;
    std::vector<float64> range;
  } cases[] = {{104, {10, 20}}, {105, {10, 20}}, {106, {1, 11}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    Record();
    const int32 g = Chart(c.type, 12, 1);
    EXPECT_EQ(Draw(g) & kPlotResultFailed, 0);
    EXPECT_EQ(Range(Scale(g, kGPartXScale, 0)), c.range);
    EXPECT_EQ(Rec(g)->pending, 0);
    const Rect drawn = IntensityRecOf(panel_, g)->Drawn();
    EXPECT_LT(drawn.left, drawn.right) << "the column was drawn";
  }
}

// A strip chart with a pixmap keeps the newest column's place in it: a
// scroll of -5 from place 2 in a usable width of 100 wraps to 97.
TEST_F(IntensChart, CircularImagePositionWraps) {
  ShowInWindow();
  GraphShape s;
  s.plotAreas = {Rect{20, 40, 180, 142}};
  const int32 g = Chart(106, 12, 1, s);
  // The pixmap the chart keeps from an earlier drawing.
  int32 pixmap = 0;
  ASSERT_EQ(ICreatePixmap(window_, &s.plotAreas[0], 0, &pixmap), kNoErr);
  SetW(g, kGraphPixmapWord, pixmap);
  Record();
  // Reversed: value 0 at pixel 90, 5 pixels a column toward the left.
  SetScale(Scale(g, kGPartXScale, 0), 0, 10, 90, 40);
  SetW(g, kGraphPixmapPosWord, 2);
  EXPECT_EQ(Draw(g) & kPlotResultFailed, 0);
  ASSERT_EQ(W(g, kGraphPixmapWord), pixmap) << "the strip chart draws through its pixmap";
  EXPECT_EQ(W(g, kGraphPixmapPosWord), 97);
  CloseWindow();
}

// Over a transparent area an immediate draw draws no column: the columns
// stay pending for the window's update, which redraws whole when the chart
// was marked so (the whole window is then pending again).
TEST_F(IntensChart, TransparentAreaLeavesColumnsToTheUpdate) {
  for (bool marked : {false, true}) {
    SCOPED_TRACE(marked);
    Record();
    const int32 g = Chart(104, 5, 2, GraphShape{.plotBack = kTransparentColor});
    if (marked) SetFlags(g, kGraphFlagFullRedraw);
    EXPECT_EQ(Draw(g) & kPlotResultFailed, 0);
    EXPECT_EQ(Rec(g)->pending, marked ? 5 : 2);
    EXPECT_EQ((Flags(g) & kGraphFlagFullRedraw) != 0, marked);
    const Rect drawn = IntensityRecOf(panel_, g)->Drawn();
    EXPECT_TRUE(DEmptyRect(&drawn)) << "nothing was drawn";
  }
}


// A window that moves past its end to start below the first column written
// draws nothing there: x -60 .. -10 over 40 .. 280 moves up one span to
// -10 .. 40 (4.8 px a column) for column 0, which is drawn from its pixel.
TEST_F(IntensChart, ColumnsBeforeTheFirstAreNotDrawn) {
  Record();
  const int32 g = Chart(105, 1, 1);
  SetScale(Scale(g, kGPartXScale, 0), -60, -10, 40, 280);
  EXPECT_EQ(Draw(g) & kPlotResultFailed, 0);
  EXPECT_EQ(Range(Scale(g, kGPartXScale, 0)), (std::vector<float64>{-10, 40}));
  EXPECT_EQ(IntensityRecOf(panel_, g)->Drawn().left, 88);
}

}  // namespace
