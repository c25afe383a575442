// Graph, chart and scale properties reached through the graph class's
// control-operation method: the scale range rules, colour markers and the
// colour table, plot info, chart histories and the dispatch by type code.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "controls/chartupdate.h"
#include "controls/graphattr.h"
#include "controls/graphintensity.h"
#include "controls/scaleattr.h"
#include "controls/scaleobj.h"
#include "graph_test_support.h"

namespace {

using graphtest::GraphShape;

constexpr int32 kFirst = 12;  // the data display level's selectors come first

class GraphAttrTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsInstallGraphAttr();
  }
  // One property of the set (index inside it) read or written with a value
  // of type t: the reply, the record left in rec_.
  int32 Prop(int32 g, const tdb::TD& t, bool read, int32 index, void* value) {
    std::vector<uChar> b = t.Bytes();
    UHandle types = DSNewHandle(int32(b.size()));
    std::memcpy(*types, b.data(), b.size());
    rec_ = AttrCallRec{};
    rec_.types = types;
    rec_.read = read;
    rec_.last = 1;
    rec_.selector = kFirst + index;
    rec_.value = value;
    auto method = reinterpret_cast<int32 (*)(ObjHeap, int32, AttrCallRec*, int32)>(OCtrlOpMethodFor(kClsGraphChart));
    const int32 reply = method(panel_, g, &rec_, 1);
    DSDisposeHandle(types);
    return reply;
  }
  float64 GetD(int32 g, int32 index) {
    float64 v = 0;
    Prop(g, tdb::DBL(), true, index, &v);
    return v;
  }
  void SetD(int32 g, int32 index, float64 v) { Prop(g, tdb::DBL(), false, index, &v); }
  int32 GetI(int32 g, int32 index) {
    int32 v = 0;
    Prop(g, tdb::I32(), true, index, &v);
    return v;
  }
  int32 SetI(int32 g, int32 index, int32 v) { return Prop(g, tdb::I32(), false, index, &v); }
  AttrCallRec rec_{};
};

// X scale info of a waveform graph: 13 + sub.
constexpr int32 kX = 13;

TEST_F(GraphAttrTest, ScaleRangeRules) {
  const float64 nan = std::numeric_limits<float64>::quiet_NaN();
  struct Case {
    float64 lo, hi;  // the scale before
    int32 sub;       // 10 minimum, 11 maximum, 3 Xo, 4 delta X, 14 mapping
    float64 value;
    float64 wantLo, wantHi;
  };
  const Case cases[] = {
      {0, 3, 10, 5, 5, 5.5},     {-2, -1, 10, 0, 0, 1},       {2, 5, 11, 0, -1, 0},
      {0, 10, 4, 0, 0, 10},      {0, 10, 3, nan, 0, 10},      {0, 10, 14, 2, 0, 10},
      {0, 10, 10, nan, 0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sub << " = " << c.value);
    const int32 g = MakeGraph(GraphShape{});
    const int32 x = Scale(g, kGPartXScale, 0);
    SetScale(x, c.lo, c.hi, 40, 280);
    if (c.sub == 14) {
      SetI(g, kX + 14, int32(c.value));
      EXPECT_EQ(ScaleRecOf(panel_, x)->mapping, kScaleLinear);
    } else {
      SetD(g, kX + c.sub, c.value);
    }
    EXPECT_DOUBLE_EQ(GetD(g, kX + 10), c.wantLo);
    EXPECT_DOUBLE_EQ(GetD(g, kX + 11), c.wantHi);
    EXPECT_EQ(ScaleRecOf(panel_, x)->multiplier, 1);
    EXPECT_EQ(ScaleRecOf(panel_, x)->offset, 0);
  }
  // The whole range cluster is not corrected: 5 .. 3 reaches the scale as given.
  const int32 g = MakeGraph(GraphShape{});
  const int32 x = Scale(g, kGPartXScale, 0);
  float64 range[3] = {5, 3, 1};
  const tdb::TD rangeTD = tdb::Cluster({tdb::DBL(), tdb::DBL(), tdb::DBL()});
  EXPECT_NE(Prop(g, rangeTD, false, kX + 9, range) & 0x280, 0);
  const ScaleRec* r = ScaleRecOf(panel_, x);
  EXPECT_EQ(std::fmin(r->min, r->max), 3);
  EXPECT_EQ(std::fmax(r->min, r->max), 5);
  // Fit once: the X autoscale bit is off before and after.
  SetFlags(g, kGraphAutoscaleMask, false);
  SetFlags(g, kGraphFlagAutoY, true);
  SetI(g, kX + 1, 1);
  EXPECT_EQ(Flags(g) & kGraphAutoscaleMask, kGraphFlagAutoY);
  EXPECT_EQ(GetI(g, kX + 1), 0);
  SetI(g, kX + 1, 2);
  EXPECT_EQ(GetI(g, kX + 1), 2);
}

class IntensityAttr : public GraphAttrTest {
 protected:
  int32 Graph() {
    g_ = MakeGraph(GraphShape{.type = kGraphIntensity, .colourScale = true});
    z_ = Scale(g_, kGPartZScale, 0);
    SetScale(z_, 0, 100, 180, 20);
    ScaleRec* r = ScaleRecOf(panel_, z_);
    EXPECT_EQ(ScaleResizeMarkers(r, 3), kNoErr);
    r = ScaleRecOf(panel_, z_);
    const float64 v[3] = {0, 50, 100};
    for (int32 i = 0; i < 3; ++i) {
      std::memcpy(*r->markers + 4 + kScaleMarkerEntry * i, &v[i], 8);
      PutNative32(*r->markers + 12 + kScaleMarkerEntry * i, uInt32(0x10 * i));
    }
    EXPECT_EQ(BuildColorTable(panel_, g_), 0);
    return g_;
  }
  std::vector<uInt32> Table() {
    const IntensityRec* rec = IntensityRecOf(panel_, g_);
    std::vector<uInt32> out;
    for (int32 i = 0; i < 256; ++i) out.push_back(GetNative32(*rec->colorTable + 4 + 4 * i));
    return out;
  }
  int32 g_ = 0, z_ = 0;
};

TEST_F(IntensityAttr, MarkersAndColourTable) {
  // One marker written: two markers, the first given, the second kept; the
  // handle holds exactly one element, so a read past it shows under ASan.
  Graph();
  const tdb::TD markerTD = tdb::Array(tdb::Cluster({tdb::DBL(), tdb::U32()}));
  UHandle one = Records(Bytes(float64(7), uInt32(0xAB123456)), 1);
  ASSERT_EQ(DSSetHandleSize(one, 4 + 12), kNoErr);
  EXPECT_NE(Prop(g_, markerTD, false, 45 + 4, &one), 0);
  const ScaleRec* r = ScaleRecOf(panel_, z_);
  ASSERT_EQ(GetNative32(*r->markers), 2u);
  float64 first = 0;
  std::memcpy(&first, *r->markers + 4, 8);
  EXPECT_EQ(first, 7);
  EXPECT_EQ(GetNative32(*r->markers + 12), 0x123456u);
  // Read back through the array resize.
  UHandle back = nullptr;
  EXPECT_EQ(Prop(g_, markerTD, true, 45 + 4, &back), 0);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(GetNative32(*back), 2u);
  DSDisposeHandle(back);

  struct Case {
    int32 count;
    int32 changed;  // entries written
  };
  for (const Case c : {Case{300, 256}, Case{10, 10}}) {
    SCOPED_TRACE(c.count);
    Graph();
    SetFlags(z_, 0x100000, false);
    const std::vector<uInt32> before = Table();
    std::vector<uChar> bytes;
    for (int32 i = 0; i < c.count; ++i) Put(&bytes, uInt32(0xFF000000u | uInt32(i + 1000)));
    UHandle a = Records(bytes, c.count);
    EXPECT_NE(Prop(g_, tdb::Array(tdb::U32()), false, 66, &a), 0);
    const std::vector<uInt32> after = Table();
    for (int32 i = 0; i < 256; ++i)
      EXPECT_EQ(after[i], i < c.changed ? uInt32(i + 1000) : before[i]) << i;
    bool ignore = false;
    Prop(g_, tdb::Boolean(), true, 65, &ignore);
    EXPECT_TRUE(ignore);
    // The stored colours written again change nothing.
    std::vector<uChar> same;
    for (int32 i = 0; i < c.changed; ++i) Put(&same, after[i]);
    UHandle b = Records(same, c.changed);
    EXPECT_EQ(Prop(g_, tdb::Array(tdb::U32()), false, 66, &b), 0);
  }
}

TEST_F(GraphAttrTest, PlotInfoRanges) {
  const int32 g = MakeGraph(GraphShape{});
  ASSERT_EQ(ResizePlotList(panel_, g, 3, 3, 0), kNoErr);
  struct Case {
    int32 index;  // 50 point style, 55 fill to
    int32 value;
    bool stacked;
    int32 want;  // read back
  };
  const Case cases[] = {
      {50, 3, false, 3}, {50, 17, false, 3}, {55, 1, false, -1}, {55, -5, false, -1},
      {55, 2, true, -1}, {55, 2, false, 2},  {55, -3, false, -3},
  };
  PutNative16(*panel_ + g + kGraphActivePlotByte, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.index << " = " << c.value);
    SetFlags(g, 0x80000, c.stacked);
    int16 v = int16(c.value);
    Prop(g, tdb::I16(), false, c.index, &v);
    EXPECT_EQ(GetI(g, c.index), c.want);
  }
  // An active plot past the list reads the defaults.
  SetI(g, 45, 9);
  std::vector<uChar> info(20, 0xEE);
  Prop(g, tdb::Cluster({tdb::U32(), tdb::U8(), tdb::U8(), tdb::U8(), tdb::U32(), tdb::U8(), tdb::U8(), tdb::I16()}),
       true, 47, info.data());
  uInt32 line, fill;
  std::memcpy(&line, info.data(), 4);
  std::memcpy(&fill, info.data() + 7, 4);  // clusters are packed
  int16 to;
  std::memcpy(&to, info.data() + 13, 2);
  EXPECT_EQ(line, 0xFFFFFFu);
  EXPECT_EQ(fill, 0xFFFFFFu);
  EXPECT_EQ(std::vector<int32>({info[4], info[5], info[6], info[11], info[12], to}),
            std::vector<int32>({2, 0, 0, 1, 0, -1}));
}

TEST_F(GraphAttrTest, ChartHistoryRoundTrip) {
  const tdb::TD t = tdb::DBL();
  const int32 g = MakeGraph(GraphShape{.type = kChartFirst}, &t);
  ChartHistory* rec = ChartRecordOf(panel_, g);
  ASSERT_NE(rec, nullptr);
  UHandle h = DSNewHClr(4 + 8 * 4);
  PutNative32(*h, 4);
  rec->buffer = h;
  values_.push_back(h);
  UHandle in = Doubles({1, 2, 3, 4, 5, 6});
  Prop(g, tdb::Array(tdb::DBL()), false, 58, &in);
  rec = ChartRecordOf(panel_, g);
  EXPECT_EQ(rec->total, 6);
  EXPECT_EQ(rec->writePos, 2);
  UHandle out = nullptr;
  EXPECT_EQ(Prop(g, tdb::Array(tdb::DBL()), true, 58, &out), 0);
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(GetNative32(*out), 4u);
  std::vector<float64> got(4);
  std::memcpy(got.data(), *out + 4, 32);
  EXPECT_EQ(got, (std::vector<float64>{3, 4, 5, 6}));
  DSDisposeHandle(out);
  // "Transpose Array" of a waveform graph showing a 1-D array: false, fixed.
  const tdb::TD arr = tdb::Array(tdb::DBL());
  const int32 w = MakeGraph(GraphShape{}, &arr);
  bool on = true;
  Prop(w, tdb::Boolean(), false, 5, &on);
  EXPECT_EQ(GraphTypeOf(panel_, w), kGraphWaveform);
  on = true;
  Prop(w, tdb::Boolean(), true, 5, &on);
  EXPECT_FALSE(on);
}

// An intensity chart's 2-D history: points by plots in the history; the
// value is plots by points while "Transpose Array" is on (bit 0 set), and
// reads back in the orientation it was written.
TEST_F(GraphAttrTest, TwoDimensionalHistoryFollowsTranspose) {
  for (const bool transposed : {false, true}) {
    SCOPED_TRACE(transposed);
    const tdb::TD t = tdb::Array(tdb::DBL(), {kTDVariable, kTDVariable});
    const int32 g = MakeGraph(GraphShape{.type = kIntensChartFirst, .colourScale = true}, &t);
    ChartHistory* rec = ChartRecordOf(panel_, g);
    ASSERT_NE(rec, nullptr);
    UHandle h = DSNewHClr(8 + 8 * 8);
    PutNative32(*h, 4);
    PutNative32(*h + 4, 2);
    rec->buffer = h;
    GraphDataOf(panel_, g)->transpose = transposed ? 1 : 0;
    const std::vector<int32> dims = transposed ? std::vector<int32>{2, 3} : std::vector<int32>{3, 2};
    const std::vector<float64> v = transposed ? std::vector<float64>{1, 3, 5, 2, 4, 6}
                                              : std::vector<float64>{1, 2, 3, 4, 5, 6};
    UHandle in = Doubles(v, dims);
    Prop(g, t, false, 68, &in);
    rec = ChartRecordOf(panel_, g);
    ASSERT_EQ(rec->total, 3);
    std::vector<float64> stored(6);
    std::memcpy(stored.data(), *rec->buffer + 8, 48);
    EXPECT_EQ(stored, (std::vector<float64>{1, 2, 3, 4, 5, 6}));
    UHandle out = nullptr;
    EXPECT_EQ(Prop(g, t, true, 68, &out), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ((std::vector<int32>{int32(GetNative32(*out)), int32(GetNative32(*out + 4))}), dims);
    std::vector<float64> got(6);
    std::memcpy(got.data(), *out + 8, 48);
    EXPECT_EQ(got, v);
    DSDisposeHandle(out);
    DSDisposeHandle(ChartRecordOf(panel_, g)->buffer);
  }
}

TEST_F(GraphAttrTest, DispatchByTypeCode) {
  // Past the graph set: type 201 hands the index back without the cursor
  // set; type 0 gives it to the cursor set.
  struct Case {
    int16 type;
    int32 index;
    int32 left;  // the selector afterwards
  };
  for (const Case c : {Case{kGraphXYOther, 56 + 3, 3}, Case{kGraphXY, 56 + 3, -1}, Case{kGraphXY, 56 + 16, 0},
                       Case{kChartFirst, 58, -1}, Case{kChartFirst, 59, 0}}) {
    SCOPED_TRACE(testing::Message() << c.type << ": " << c.index);
    const int32 g = MakeGraph(GraphShape{.type = c.type});
    uInt32 v = 0;
    Prop(g, tdb::U32(), true, c.index, &v);
    EXPECT_EQ(rec_.selector, c.left);
  }
  // An index inside the set that no row takes prints its text.
  const int32 g = MakeGraph(GraphShape{});
  qxtest::Reports::Get().Clear();
  AttrCallRec rec{};
  rec.selector = 77;
  rec.read = 1;
  EXPECT_EQ(GraphAttr(panel_, g, &rec), 0);
  EXPECT_EQ(Reports("bad index in graphattr 77"), 1);
  qxtest::Reports::Get().Clear();
}

}  // namespace

namespace {

// The name of a set's entry by its pre-order number, "" for an unnamed one.
std::string EntryName(const TypeDescriptor* td, int32 want, int32* at) {
  const int32 n = int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
  for (int32 i = 0; i < n; ++i) {
    const TypeDescriptor* el = ElemTD(td, i);
    if ((*at)++ == want) {
      const PStr name = TDNamePtr(el);
      return name ? std::string(reinterpret_cast<const char*>(name + 1), name[0]) : std::string();
    }
    if (el->code == kTDCluster) {
      std::string inner = EntryName(el, want, at);
      if (*at > want) return inner;
    }
  }
  return {};
}

TEST(GraphAttrSets, NamesInPreOrder) {
  struct Case {
    const TypeDescriptor* set;
    int32 count;
    int32 index;
    const char* name;
  };
  const Case cases[] = {
      {GraphAttrTable(), 56, 2, "Height"},        {GraphAttrTable(), 56, 16, "Xo"},
      {GraphAttrTable(), 56, 17, "delta X"},      {GraphAttrTable(), 56, 39, "Y Minimum"},
      {GraphAttrTable(), 56, 55, "Fill To"},      {ChartAttrTable(), 58, 6, "Dig Display(s) Visible"},
      {ChartAttrTable(), 58, 57, "Update Mode"},  {IGraphAttrTable(), 67, 65, "Ignore Color Array"},
      {IChartAttrTable(), 69, 68, "History Data"}, {CursAttrTable(), 16, 15, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CountAttrEntries(c.set), c.count);
    int32 at = 0;
    EXPECT_EQ(EntryName(c.set, c.index, &at), c.name);
  }
}

}  // namespace
