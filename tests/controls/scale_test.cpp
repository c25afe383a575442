// Scales: values to pixels and back, knob angles, range changes with their
// increments of round figures, recounting markers, text labels, and the
// data manager's scale instructions.
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "controls/scale.h"
#include "controls/slideops.h"
#include "engine/dmprog.h"
#include "engine/vi/panelroutines.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/osupport.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/window/textrec.h"
#include "panel/objload.h"
#include "draw_start.h"
#include "golden_image.h"
#include "panel/panel_test_support.h"
#include "rtlib/chartdata.h"

namespace {

constexpr float64 kPi = 3.141592653589793;

class Boundary : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsInstallScaleHooks();
  }
  // A scale (of the owner, as part partId) with its record allocated.
  int32 Scale(float64 min, float64 max, int16 ps, int16 pe, int32 owner = 0, int16 partId = 0) {
    int32 s = Obj(kClsScale, owner, partId);
    EXPECT_EQ(Alloc(s), kNoErr);
    ScaleRec* r = Rec(s);
    if (!r) return s;
    r->min = min;
    r->max = max;
    r->increment = 1;
    r->multiplier = 1;
    r->pixelStart = ps;
    r->pixelEnd = pe;
    return s;
  }
  ScaleRec* Rec(int32 scale) { return ScaleRecOf(panel_, scale); }
  int32 Data(int32 scale) { return W(scale, kScaleObjData); }
  void SetFlags(int32 obj, uInt32 f) { SetW(obj, 0, int32(uInt32(W(obj, 0)) | f)); }
  void SetRect(int32 obj, int32 byte, Rect r) { std::memcpy(*panel_ + obj + byte, &r, sizeof r); }
  Rect GetRect(int32 obj, int32 byte) {
    Rect r;
    std::memcpy(&r, *panel_ + obj + byte, sizeof r);
    return r;
  }
  // A label part of the scale whose bounds are height by width.
  void Label(int32 scale, int16 h, int16 w) { SetRect(Obj(kClsLabel, scale, kScalePartLabel), 16, Rect{0, 0, h, w}); }
  // A label part with a text record in those bounds (disposed at the end).
  int32 TextLabel(int32 scale, Rect bounds, uInt32 mode = 0) {
    const int32 label = Obj(kClsLabel, scale, kScalePartLabel);
    SetRect(label, kObjBounds, bounds);
    TRecord t = TNew(&bounds, mode, nullptr, 0, kAppFont, 0, kTransparentColor);
    texts_.push_back(t);
    SetW(label, kPWLabelText, int32(uintptr_t(t)));
    return label;
  }
  void TearDown() override {
    for (TRecord t : texts_) TDispose(t);
    PanelTest::TearDown();
  }
  std::vector<TRecord> texts_;
};

// What a walk handed its procedure: "index:flags[label]@pixel", flags as L
// (label), T (tick), D (disabled text), m a minor tick.
std::string Seen(ObjHeap heap, const ScaleMarkerRec& m) {
  if (m.flags & kScaleMarkerMinor) return "m@" + std::to_string(m.pixel);
  std::string s = std::to_string(m.index) + ":";
  if (m.flags & kScaleMarkerLabel) s += "L";
  if (m.flags & kScaleMarkerTick) s += "T";
  if (m.flags & kScaleMarkerDisabled) s += "D";
  TRecord t = (m.flags & kScaleMarkerLabel) ? PartTextRecord(heap, m.labelPart) : nullptr;
  if (UHandle h = t ? TGetText(t) : nullptr) s += "[" + std::string(reinterpret_cast<char*>(*h + 4), GetNative32(*h)) + "]";
  return s + "@" + std::to_string(m.pixel);
}
int32 Record(ObjHeap heap, int32, ScaleMarkerRec* m) {
  static_cast<std::vector<std::string>*>(m->cookie)->push_back(Seen(heap, *m));
  return 0;
}
std::string Joined(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& e : v) s += (s.empty() ? "" : " ") + e;
  return s;
}

TEST_F(Boundary, PixelsMapBackToValuesPinnedAndRounded) {
  int32 s = Scale(0, 10, 0, 100);
  struct Case {
    int16 pixel, pinned;
    float64 value;
  } cases[] = {{-5, 0, 0}, {0, 0, 0}, {50, 50, 5}, {100, 100, 10}, {200, 100, 10}, {37, 37, 3.7}};
  for (const Case& c : cases) {
    int16 p = c.pixel;
    float64 v = -1;
    ScalePixelToValuePinned(panel_, Data(s), kTDDBL, &p, &v);
    EXPECT_EQ(p, c.pinned) << c.pixel;
    EXPECT_DOUBLE_EQ(v, c.value) << c.pixel;
  }
  // An inverted pixel range pins the same way.
  Rec(s)->pixelStart = 100;
  Rec(s)->pixelEnd = 0;
  int16 p = -3;
  float64 v = -1;
  ScalePixelToValuePinned(panel_, Data(s), kTDDBL, &p, &v);
  EXPECT_EQ(p, 0);
  EXPECT_EQ(v, 10);
  // Integers clamp, then round half to even.
  int32 wide = Scale(0, 1000, 0, 1000);
  int16 px = 301;
  uInt8 u8 = 0;
  MapPixelsToValues(panel_, Data(wide), kTDU8, &px, 1, 1, &u8, 1);
  EXPECT_EQ(u8, 255);
  int32 halves = Scale(0, 5, 0, 2);
  int32 i32 = 0;
  px = 1;
  MapPixelsToValues(panel_, Data(halves), kTDI32 | 0x10, &px, 1, 1, &i32, 4);
  EXPECT_EQ(i32, 2) << "2.5 rounds to 2";
  Rec(halves)->max = 7;
  MapPixelsToValues(panel_, Data(halves), kTDI32, &px, 1, 1, &i32, 4);
  EXPECT_EQ(i32, 4) << "3.5 rounds to 4";
  int32 below = Scale(-3e9, 0, 0, 10);
  px = 0;
  MapPixelsToValues(panel_, Data(below), kTDI32, &px, 1, 1, &i32, 4);
  EXPECT_EQ(i32, int32(-2147483647 - 1));
  // Strided arrays: pixels every other element, values every 8 bytes.
  int16 pixels[6] = {0, 9, 50, 9, 100, 9};
  float64 values[3] = {};
  MapPixelsToValues(panel_, Data(s), kTDDBL, pixels, 2, 3, values, 8);
  EXPECT_EQ(values[0], 10);
  EXPECT_EQ(values[1], 5);
  EXPECT_EQ(values[2], 0);
  // A logarithmic scale maps in decades.
  int32 lg = Scale(1, 100, 0, 100);
  Rec(lg)->mapping = kScaleLog;
  px = 50;
  float64 d = 0;
  MapPixelsToValues(panel_, Data(lg), kTDDBL, &px, 1, 1, &d, 8);
  EXPECT_NEAR(d, 10, 1e-12);
  // Unsupported types and mappings write nothing.
  ClearReports();
  int64 big = 7;
  MapPixelsToValues(panel_, Data(s), kTDI64, &px, 1, 1, &big, 8);
  EXPECT_EQ(big, 7);
  Rec(lg)->mapping = 2;
  d = -1;
  MapPixelsToValues(panel_, Data(lg), kTDDBL, &px, 1, 1, &d, 8);
  EXPECT_EQ(d, -1);
  EXPECT_EQ(Asserts(), 2);
}

TEST_F(Boundary, TheControlsScaleRangeSaysWhetherValuesGrowLeftOrDown) {
  struct Case {
    bool horizontal;
    float64 min, max;
    int16 ps, pe;
    int32 reversed;
  } cases[] = {{true, 0, 10, 0, 100, 0}, {true, 0, 10, 100, 0, 1}, {true, 10, 0, 0, 100, 1},
               {false, 0, 10, 100, 0, 0}, {false, 0, 10, 0, 100, 1}, {false, 10, 0, 100, 0, 1}};
  for (const Case& c : cases) {
    const int32 slide = Obj(kClsSlide);
    const int32 s = Scale(c.min, c.max, c.ps, c.pe, slide, kControlPartScale);
    if (c.horizontal) SetFlags(s, kScaleHorizontal);
    float64 min = -1, max = -1;
    int16 ps = -1, pe = -1;
    EXPECT_EQ(GetScaleRange(panel_, slide, &min, &max, &ps, &pe), c.reversed) << c.horizontal << c.ps << c.min;
    EXPECT_EQ(std::vector<float64>({min, max, float64(ps), float64(pe)}),
              std::vector<float64>({c.min, c.max, float64(c.ps), float64(c.pe)}));
  }
  EXPECT_EQ(GetScaleRange(panel_, Obj(kClsSlide), nullptr, nullptr, nullptr, nullptr), 0) << "no scale part";
}

TEST_F(Boundary, ValuesMapToPinnedPixels) {
  int32 s = Scale(0, 10, 0, 100);
  float64 values[] = {0, 10, 5.05, NAN, INFINITY, -INFINITY, -0.04};
  int16 px[7] = {};
  MapValuesToPixels(panel_, Data(s), kTDDBL, values, 8, 7, px, 2);
  int16 want[] = {0, 100, 51, 15005, 15000, -15000, 0};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(px[i], want[i]) << i;
  int32 lg = Scale(1, 100, 0, 100);
  Rec(lg)->mapping = kScaleLog;
  float64 lv[] = {0, -1, NAN, 10};
  MapValuesToPixels(panel_, Data(lg), kTDDBL, lv, 8, 4, px, 2);
  EXPECT_EQ(px[0], -15000);
  EXPECT_EQ(px[1], -15000);
  EXPECT_EQ(px[2], -15000);
  EXPECT_EQ(px[3], 50);
}

TEST_F(Boundary, KnobAnglesAndTheirValues) {
  int32 s = Scale(0, 10, 0, 0);
  ScaleRec* r = Rec(s);
  r->centre = Point{50, 50};
  r->startAngle = 5 * kPi / 4;
  r->sweep = 3 * kPi / 2;
  struct PointCase {
    Point p;
    float64 angle;
  } points[] = {{{50, 50}, 0}, {{50, 60}, 0}, {{40, 50}, kPi / 2}, {{50, 40}, kPi}, {{60, 50}, 3 * kPi / 2}};
  for (const PointCase& c : points) {
    float64 a = -1;
    KnobPointToAngle(panel_, Data(s), c.p, &a);
    EXPECT_NEAR(a, c.angle, 1e-12) << c.p.v << "," << c.p.h;
  }
  struct AngleCase {
    float64 angle, value;
    const char* what;
  } angles[] = {
      {5 * kPi / 4 + 0.1, 0, "just counter-clockwise of the start: min"},
      {7 * kPi / 4 - 0.1, 10, "just clockwise of the end: max"},
      {kPi / 2, 5, "half way"},
      {5 * kPi / 4, 0, "the start"},
      {7 * kPi / 4 + 0.01, 10 * (1 - 0.01 / (3 * kPi / 2)), "inside the sweep near its end"},
  };
  for (const AngleCase& c : angles) {
    float64 v = -1;
    KnobAngleToValue(panel_, Data(s), kTDDBL, c.angle, &v);
    EXPECT_NEAR(v, c.value, 1e-9) << c.what;
  }
  int16 i16 = 0;
  KnobAngleToValue(panel_, Data(s), kTDI16, kPi / 2, &i16);
  EXPECT_EQ(i16, 5);
}

TEST_F(Boundary, IncrementsOfRoundFigures) {
  struct Case {
    float64 a, b;
    int32 limit, precision, code;
    float64 want;
  } cases[] = {
      {0, 10, 11, 0, 0, 1},     // rough 1, candidate 1 divides exactly
      {10, 0, 11, 0, 0, 1},     // ends in either order
      {0, 10, 2, 0, 0, 10},     // a limit of 2 gives the range
      {0, 100, 6, 0, 0, 20},
      {0, 1, 6, -1, 0, 0.2},
      {0, 256, 5, 0, 66, 64},   // hexadecimal figures
      {0, 3600, 7, 0, 200, 600},// relative time in minutes
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(ChooseLinearIncrement(c.a, c.b, c.limit, c.precision, c.code), c.want)
        << c.a << ".." << c.b << " limit " << c.limit << " code " << c.code;
  EXPECT_DOUBLE_EQ(LogIncrement(1, 1000, 15, 0), 10);
  EXPECT_DOUBLE_EQ(LogIncrement(1000, 1, 2, 0), 1000);
  EXPECT_TRUE(ScaleValuesNearlyEqual(1.0, 1.0 + 1e-15));
  EXPECT_FALSE(ScaleValuesNearlyEqual(1.0, 1.0001));
  EXPECT_TRUE(ScaleValuesNearlyEqual(0, 0));
  EXPECT_EQ(IntPower(10, -2), 0.01);
  EXPECT_EQ(IntPower(2, 10), 1024);
}

TEST_F(Boundary, TheAutomaticIncrementAlignsTheStartAndSetsMinorTicks) {
  int32 s = Scale(0.5, 10, 0, 200);
  Label(s, 10, 30);
  EXPECT_EQ(ScaleMaxMarkers(panel_, s, 0), 200 / 14 + 1);
  int32 idx = 0;
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, -2, 123, &idx), kScaleReplyMarkers);
  EXPECT_EQ(idx, -2);
  ScaleRec* r = Rec(s);
  EXPECT_EQ(r->increment, 1);
  EXPECT_EQ(r->start, 1) << "the first whole increment at or above the lower end";
  EXPECT_GT(r->minorIncrement, 0);
  EXPECT_LT(r->minorIncrement, 1);
  // A logarithmic scale takes a ratio and starts at its lower end.
  int32 lg = Scale(1000, 1, 0, 200);
  Label(lg, 10, 30);
  Rec(lg)->mapping = kScaleLog;
  EXPECT_EQ(ScaleSetRangeValue(panel_, lg, -2, 0, &idx), kScaleReplyMarkers);
  EXPECT_EQ(Rec(lg)->increment, 10);
  EXPECT_EQ(Rec(lg)->start, 1);
}

TEST_F(Boundary, EndsAndIncrementsInDisplayedUnits) {
  int32 s = Scale(0, 10, 0, 200);
  Label(s, 10, 30);
  int32 idx = 0;
  // The lower end set to the upper one swaps them: the scale turns over.
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 1, 10, &idx), kScaleReplyRange);
  EXPECT_EQ(Rec(s)->min, 10);
  EXPECT_EQ(Rec(s)->max, 0);
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 1, 0, &idx), 0) << "the inverted scale already ends at 0";
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 0, 0, &idx), kScaleReplyRange) << "the upper end at the lower swaps back";
  EXPECT_EQ(Rec(s)->min, 0);
  EXPECT_EQ(Rec(s)->max, 10);
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 1, 0, &idx), 0) << "the same ends change nothing";
  // Displayed = value * 2 + 1.
  Rec(s)->multiplier = 2;
  Rec(s)->offset = 1;
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 0, 41, &idx), kScaleReplyRange);
  EXPECT_EQ(Rec(s)->max, 20);
  // An increment giving too many markers is refused and reported.
  ScaleRec before = *Rec(s);
  ClearReports();
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 2, 1.2, &idx), 0);
  EXPECT_EQ(Reports("Invalid Increment"), 1);
  EXPECT_EQ(std::memcmp(&before, Rec(s), sizeof before), 0);
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 2, 11, &idx), kScaleReplyMarkers);
  EXPECT_EQ(Rec(s)->increment, 5);
  // A value that is not finite changes nothing.
  before = *Rec(s);
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 0, NAN, &idx), 0);
  EXPECT_EQ(std::memcmp(&before, Rec(s), sizeof before), 0);
  // A multiplier of 0 is mended before it divides.
  Rec(s)->multiplier = 0;
  Rec(s)->offset = 0;
  ClearReports();
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 0, 30, &idx), kScaleReplyRange);
  EXPECT_EQ(Rec(s)->max, 30);
  EXPECT_EQ(Rec(s)->multiplier, 1);
  EXPECT_GE(Reports("multiplier is messed up, fixing it"), 1);
}

TEST_F(Boundary, ArbitraryMarkersAreReordered) {
  int32 s = Scale(0, 10, 0, 200);
  UHandle m = DSNewHClr(4 + 3 * kScaleMarkerEntry);
  PutNative32(*m, 3);
  float64 vals[] = {1, 5, 8};
  for (int i = 0; i < 3; ++i) std::memcpy(*m + 4 + kScaleMarkerEntry * i, &vals[i], 8);
  Rec(s)->markers = m;
  SetFlags(s, kScaleArbitrary);
  int32 idx = 0;
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 2, 9, &idx), kScaleReplyMarkers);
  EXPECT_EQ(idx, 4) << "the first entry moved to the end";
  float64 got[3];
  for (int i = 0; i < 3; ++i) std::memcpy(&got[i], *m + 4 + kScaleMarkerEntry * i, 8);
  EXPECT_EQ(got[0], 5);
  EXPECT_EQ(got[1], 8);
  EXPECT_EQ(got[2], 9);
  SetFlags(s, kScaleArrayHasEnds);
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 4, 0.5, &idx), kScaleReplyMarkers | kScaleReplyArrayEnds);
  EXPECT_EQ(idx, 2) << "the last entry moved to the front";
  float64 first;
  std::memcpy(&first, ScaleMarkerEntry(panel_, s, 1), 8);
  EXPECT_EQ(first, 0.5) << "index 1 names the first entry";
  std::memcpy(&first, ScaleMarkerEntry(panel_, s, 0), 8);
  EXPECT_EQ(first, 8) << "index 0 the last";
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 7, 3, &idx), 0) << "an index past the array";
  // A count larger than its handle is no array.
  PutNative32(*m, 1000);
  EXPECT_EQ(ScaleMarkerEntry(panel_, s, 2), nullptr);
  Rec(s)->markers = nullptr;
  DSDisposeHandle(m);
}

TEST_F(Boundary, TextLabelsComeFromTheControlAndPinTheRangeToDefaults) {
  int32 slide = Obj(kClsSlide);
  int32 digital = Obj(kClsNumeric, slide, kPartDigital);
  int32 text = Obj(kClsMultiLabel, digital, kPartRingText);
  UHandle list = Keep(AZNewHClr(8));
  SetW(text, kRingTextWord / 4, int32(uintptr_t(list)));
  int32 s = Scale(0, 10, 0, 100, slide, kControlPartScale);
  EXPECT_EQ(SlideScaleMarkerList(panel_, s), nullptr) << "without the text-label flag";
  SetFlags(s, kScaleTextLabels);
  EXPECT_EQ(SlideScaleMarkerList(panel_, s), list);
  UHandle h = nullptr;
  EXPECT_EQ(OGetDataPtr(panel_, slide, s, 0, nullptr), int32(uintptr_t(list))) << "the scale part's data";
  EXPECT_EQ(OGetDataPtr(panel_, slide, s, 0, &h), 0);
  // The control answers for the scale: a range change resets the record.
  Rec(s)->increment = 3;
  Rec(s)->mapping = kScaleLog;
  Rec(s)->multiplier = 4;
  int32 idx = 0;
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 0, 50, &idx), 0);
  EXPECT_EQ(Rec(s)->increment, 1);
  EXPECT_EQ(Rec(s)->minorIncrement, 0.5);
  EXPECT_EQ(Rec(s)->mapping, kScaleLinear);
  EXPECT_EQ(Rec(s)->multiplier, 1);
  EXPECT_EQ(Rec(s)->max, 10);
  // Scales of other controls have no text labels.
  int32 num = Obj(kClsNumeric);
  int32 other = Scale(0, 1, 0, 10, num, kControlPartScale);
  SetFlags(other, kScaleTextLabels);
  EXPECT_EQ(SlideScaleMarkerList(panel_, other), nullptr);
}

TEST_F(Boundary, RecalcCountsMarkersAndUnitesTheBounds) {
  int32 s = Scale(0, 10, 0, 100);
  Rec(s)->start = 0;
  EXPECT_EQ(ScaleRecalc(panel_, s), kNoErr);
  EXPECT_EQ(int16(GetNative16(*panel_ + s + kScaleObjMarkerCount)), 11) << "two ends and 1 to 9";
  // Ticks and labels at the ends and at 5, on a vertical scale.
  Rec(s)->increment = 5;
  SetFlags(s, kScaleEndLabels | kScaleEndTicks | kScaleInnerLabels | kScaleInnerTicks);
  SetRect(Obj(kClsLabel, s, kScalePartTick), 16, Rect{0, 20, 2, 26});
  SetRect(Obj(kClsLabel, s, kScalePartLabel), 16, Rect{0, 0, 10, 16});
  SetRect(Obj(kClsLabel, s, 99), 16, Rect{5, 20, 12, 30});
  EXPECT_EQ(ScaleRecalc(panel_, s), kNoErr);
  EXPECT_EQ(int16(GetNative16(*panel_ + s + kScaleObjMarkerCount)), 3);
  Rect in = GetRect(s, kScaleObjInner);
  EXPECT_EQ(in.top, -5) << "the lower end's label centred on pixel 0";
  EXPECT_EQ(in.left, 0);
  EXPECT_EQ(in.bottom, 105) << "the upper end's label centred on pixel 100";
  EXPECT_EQ(in.right, 26) << "the ticks keep their column";
  Rect b = GetRect(s, kScaleObjBounds);
  EXPECT_EQ(b.top, -5);
  EXPECT_EQ(b.right, 30) << "other parts join the bounds";
  // Without labels shown only the ticks count.
  SetW(s, 0, int32(kScaleEndTicks));
  ScaleRecalc(panel_, s);
  in = GetRect(s, kScaleObjInner);
  EXPECT_EQ(in.top, -1);
  EXPECT_EQ(in.bottom, 101);
  EXPECT_EQ(in.left, 20);
  // Minor ticks between the markers of a linear scale, wider than the ticks.
  Rec(s)->minorIncrement = 1;
  SetRect(Obj(kClsLabel, s, kScalePartMinorTick), 16, Rect{0, 30, 2, 40});
  SetW(s, 0, int32(kScaleEndTicks | kScaleMinorTicks));
  ScaleRecalc(panel_, s);
  in = GetRect(s, kScaleObjInner);
  EXPECT_EQ(in.right, 40) << "minor ticks at 1 to 4 and 6 to 9";
  EXPECT_EQ(in.top, -1);
  EXPECT_EQ(in.bottom, 101);
  Rec(s)->start = 2.5;
  ScaleRecalc(panel_, s);
  EXPECT_EQ(GetRect(s, kScaleObjInner).right, 40) << "below the start they step down from it";
  Rec(s)->start = 0;
  SetW(s, 0, int32(kScaleEndTicks));
  ScaleRecalc(panel_, s);
  EXPECT_EQ(GetRect(s, kScaleObjInner).right, 26) << "no minor ticks without their style bit";
  // A hidden scale shows nothing.
  SetW(s, 0, int32(kScaleEndTicks | kScaleHidden));
  ScaleRecalc(panel_, s);
  in = GetRect(s, kScaleObjInner);
  EXPECT_EQ(in.bottom - in.top, 0);
  // A round scale places its end ticks on its label radius.
  int32 round = Scale(0, 10, 0, 0);
  SetW(round, 0, int32(kScaleRound | kScaleEndTicks));
  Rec(round)->centre = Point{100, 100};
  Rec(round)->radius = 50;
  Rec(round)->startAngle = kPi;
  Rec(round)->sweep = kPi;
  SetRect(Obj(kClsLabel, round, kScalePartTick), 16, Rect{0, 0, 2, 2});
  ScaleRecalc(panel_, round);
  in = GetRect(round, kScaleObjInner);
  EXPECT_EQ(in.top, 99);
  EXPECT_EQ(in.left, 48);
  EXPECT_EQ(in.bottom, 101);
  EXPECT_EQ(in.right, 152);
  SetW(s, 0, 0);
  Rec(s)->increment = 1;
  Rec(s)->start = 0.5;
  Rec(s)->increment = 2.5;
  ScaleRecalc(panel_, s);
  EXPECT_EQ(int16(GetNative16(*panel_ + s + kScaleObjMarkerCount)), 6) << "0.5, 3, 5.5, 8 between the ends";
  // Too many markers are cut off with a report.
  Rec(s)->increment = 0.001;
  ClearReports();
  ScaleRecalc(panel_, s);
  EXPECT_EQ(Asserts(), 1);
  EXPECT_EQ(Reports("min 0"), 1);
  // An increment that does not advance ends the walk even without the cut-off.
  Rec(s)->increment = 0;
  Rec(s)->minorIncrement = 0;
  ClearReports();
  ScaleRecalc(panel_, s);
  EXPECT_EQ(int16(GetNative16(*panel_ + s + kScaleObjMarkerCount)), 3);
  EXPECT_EQ(Rec(s)->minorIncrement, 0.5) << "a minor increment of 0 becomes 0.5";
}

TEST_F(Boundary, AScaleWithTextLabelsWalksNoFurtherThanItsCountHolds) {
  int32 slide = Obj(kClsSlide);
  int32 text = Obj(kClsMultiLabel, Obj(kClsNumeric, slide, kPartDigital), kPartRingText);
  SetW(text, kRingTextWord / 4, int32(uintptr_t(Keep(AZNewHClr(8)))));
  int32 s = Scale(0, 1e9, 0, 100, slide, kControlPartScale);
  SetFlags(s, kScaleTextLabels);
  Rec(s)->start = 0;
  ClearReports();
  EXPECT_EQ(ScaleRecalc(panel_, s), kNoErr);
  EXPECT_EQ(Asserts(), 0) << "no cut-off report with a text list";
  EXPECT_EQ(int16(GetNative16(*panel_ + s + kScaleObjMarkerCount)), 32767);
}

TEST_F(Boundary, ReachingTheEnd) {
  struct Case {
    float64 v, end;
    Bool32 want;
  } cases[] = {{0, 0, 1}, {-1, 0, 0}, {0, -1, 1}, {0, 1, 0}, {1, 1, 1}, {1 - 1e-15, 1, 1},
               {0.9, 1, 0}, {-1, -1, 1}, {-0.9, -1, 1}, {-1.1, -1, 0}, {1, -1, 1}, {-1, 1, 0}};
  for (const Case& c : cases) EXPECT_EQ(ScaleValueReached(c.v, c.end), c.want) << c.v << " " << c.end;
}

TEST_F(Boundary, GoingBeyondTheEndAndLooseFits) {
  struct Beyond {
    float64 v, end;
    Bool32 want;
  } beyond[] = {{1, 0, 1}, {0, 0, 0}, {1, 1, 0}, {1 + 1e-15, 1, 0}, {1.1, 1, 1},
                {-1.1, -1, 0}, {-0.9, -1, 1}, {0, -1, 1}, {1, -1, 1}, {-1, 1, 0}};
  for (const Beyond& c : beyond) EXPECT_EQ(ScaleValueBeyond(c.v, c.end), c.want) << c.v << " " << c.end;
  struct Fit {
    int16 mapping;
    float64 inc, lower, upper, wantLower, wantUpper;
  } fits[] = {
      {kScaleLinear, 2, 0.5, 9.5, 0, 10},     // widened to whole increments
      {kScaleLinear, 2, 2, 8, 2, 8},          // already whole
      {kScaleLinear, 5, -7, 3, -10, 5},
      {kScaleLinear, 0, 1, 3, 1, 3},          // no increment: ends kept
      {kScaleLinear, -2, 0.5, 9.5, 0.5, 9.5}, // nor a negative one
      {kScaleLog, 0.5, 2, 500, 2, 500},       // nor a ratio below 1
      {kScaleLog, 10, 2, 500, 1, 1000},       // whole decades
      {kScaleLog, 10, 1, 100, 1, 100},
  };
  for (const Fit& c : fits) {
    ScaleRec r{};
    r.mapping = c.mapping;
    r.increment = c.inc;
    float64 lo = c.lower, hi = c.upper;
    ScaleLooseFit(&lo, &hi, &r);
    EXPECT_NEAR(lo, c.wantLower, 1e-9) << c.lower << ".." << c.upper;
    EXPECT_NEAR(hi, c.wantUpper, 1e-9) << c.lower << ".." << c.upper;
  }
}

TEST_F(Boundary, DataExtremesSetTheRangeAndItsMarkers) {
  const float64 nan = std::nan("");
  const float64 big = 1.79e308, large = 1.7e308;
  struct Case {
    float64 min, max, lower, upper;
    Bool32 force, loose;
    float64 wantMin, wantMax;
    Bool32 wantChanged;
  } cases[] = {
      {0, 10, 5, 5, 0, 0, 4.5, 5.5, 1},        // equal positive ends
      {0, 10, 0, 0, 0, 0, -1, 1, 1},           // both 0
      {0, 10, -5, -5, 0, 0, -5.5, -4.5, 1},    // equal negative ends
      {0, 10, 30, 20, 0, 0, 20, 30, 1},        // put in order
      {0, 10, nan, 20, 0, 0, 0, 20, 1},        // a NaN end keeps the scale's
      {10, 0, 2, 4, 0, 0, 4, 2, 1},            // the orientation is kept
      {0, 10, 0, 10, 0, 0, 0, 10, 0},          // unchanged
      {0, 10, 0, 10, 1, 0, 0, 10, 0},          // unchanged but forced
      {0, 10, 0.5, 9.5, 0, 1, 0, 14, 1},       // loose fit to whole increments (7)
      {0, 10, large, large, 0, 0, large * 0.9, large * 1.01, 1},  // a tenth overflows
      {0, 10, big, big, 0, 0, big * 0.9, big, 1},                 // so does a hundredth
  };
  for (const Case& c : cases) {
    int32 s = Scale(c.min, c.max, 0, 200);
    Label(s, 10, 30);
    if (c.loose) SetFlags(s, kScaleLooseFit);
    Rec(s)->increment = 7;  // never a round figure: a recomputed increment differs
    Bool32 changed = 2;
    EXPECT_EQ(CalcScaleMarkers(panel_, s, c.lower, c.upper, false, c.force, &changed), kNoErr);
    ScaleRec* r = Rec(s);
    ASSERT_NE(r, nullptr);
    EXPECT_DOUBLE_EQ(r->min, c.wantMin) << c.lower << ".." << c.upper;
    EXPECT_DOUBLE_EQ(r->max, c.wantMax) << c.lower << ".." << c.upper;
    EXPECT_EQ(changed, c.wantChanged) << c.lower << ".." << c.upper;
    bool recomputed = c.wantChanged || c.force;
    EXPECT_EQ(r->increment != 7, recomputed) << c.lower << ".." << c.upper;
    if (recomputed) {
      EXPECT_GT(GetNative16(*panel_ + s + kScaleObjMarkerCount), 0) << c.lower;
    }
  }
  EXPECT_EQ(Asserts(), 0);
}

// A chart history reset sets the chart's x scale (part 18) to the width of
// the chart's range through the scale services, and invalidates the plot
// area (part 38) only when the scale changed.
float64 gChartData[3];
std::vector<int32> gChartInvals;
UPtr ChartData(ObjHeap, int32) { return reinterpret_cast<UPtr>(gChartData); }
void ChartInval(ObjHeap, int32 object, int32) { gChartInvals.push_back(object); }

TEST_F(Boundary, AChartHistoryResetSetsTheXScaleToTheChartsWidth) {
  ChartPanelHooks old = SetChartPanelHooks({.dataPtr = &ChartData, .findPart = &FindPart, .inval = &ChartInval});
  int32 chart = Obj(kClsGraphChart);
  int32 s = Scale(5, 7, 0, 200, chart, kChartPartXScale);
  Label(s, 10, 30);
  int32 area = Obj(kClsLabel, chart, kChartPartScrollbar);
  ChartHistory h{5, 3, 1, DSNewHClr(8 + 4 * 8)};
  ASSERT_NE(h.buffer, nullptr);
  PutNative32(*h.buffer, 4);
  for (bool again : {false, true}) {
    gChartData[0] = 30;
    gChartData[1] = 10;
    gChartInvals.clear();
    EXPECT_EQ(ResetChartHistory(panel_, chart, &h, 8, 8, 1), kNoErr);
    ScaleRec* r = Rec(s);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->min, 0) << again;
    EXPECT_EQ(r->max, 20) << again;
    EXPECT_EQ(h.total, 0);
    EXPECT_EQ(gChartInvals, again ? std::vector<int32>{} : std::vector<int32>{area}) << again;
  }
  DSDisposeHandle(h.buffer);
  SetChartPanelHooks(old);
}

TEST_F(Boundary, RecordsOutsideTheDataSpaceAreRefused) {
  int32 s = Scale(0, 10, 0, 100);
  ClearReports();
  EXPECT_EQ(ScaleRecAt(panel_, DSGetHandleSize(DS()) - 40), nullptr);
  EXPECT_EQ(ScaleRecAt(panel_, 100), nullptr);
  EXPECT_EQ(ScaleRecAt(panel_, 0), nullptr);
  SetW(s, kScaleObjData, W(s, kScaleObjData) + 4);
  EXPECT_EQ(ScaleRecOf(panel_, s), nullptr) << "the data word no longer names the record's entry";
  // A scale whose words name no record (as a damaged file can hold) is
  // reported as debug text, not as a failure: the three bad offsets only.
  EXPECT_EQ(Asserts(), 3);
  int32 idx = 9;
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, -2, 0, &idx), 0);
  EXPECT_EQ(idx, -2);
  EXPECT_EQ(ScaleRecalc(panel_, s), kNoErr);
}

TEST_F(Boundary, TheDataManagerCopiesARangeIntoAScaleAndValuesUnderAPointer) {
  int32 s = Scale(0, 10, 0, 200);
  Label(s, 10, 30);
  Rec(s)->increment = 7;
  ScaleRec src = *Rec(s);
  src.min = 0;
  src.max = 100;
  DMInstr copy[] = {
      {kDMSetBoth, int32(uintptr_t(&src)), int32(uintptr_t(Rec(s))), 0, 0, 0},
      {kDMScaleRange, int32(uintptr_t(panel_)), s, 0, 0, 0},
      {kDMEnd, 0, 0, 0, 0, 0},
  };
  EXPECT_EQ(DMRunProgram(copy, nullptr, nullptr), kNoErr);
  EXPECT_EQ(Rec(s)->max, 100);
  EXPECT_EQ(Rec(s)->increment, 10) << "the increment is chosen again for the new range";
  EXPECT_EQ(int16(GetNative16(*panel_ + s + kScaleObjMarkerCount)), 11) << "and the markers recounted";

  // A knob's needle and a slide's slider under a point.
  TypeID dbl = Type(tdb::DBL());
  int32 knob = Obj(kClsKnob);
  SetW(knob, kPWDDOTypeId, int32(dbl));
  int32 ks = Scale(0, 10, 0, 0, knob, kControlPartScale);
  Rec(ks)->centre = Point{50, 50};
  Rec(ks)->startAngle = 5 * kPi / 4;
  Rec(ks)->sweep = 3 * kPi / 2;
  int32 slide = Obj(kClsSlide);
  SetW(slide, kPWDDOTypeId, int32(dbl));
  int32 ss = Scale(0, 10, 100, 0, slide, kControlPartScale);
  struct Case {
    int32 obj;
    Point p;
    float64 want;
  } cases[] = {{knob, {10, 50}, 5}, {slide, {25, 999}, 7.5}, {slide, {300, 0}, 0}};
  for (const Case& c : cases) {
    int32 word;
    std::memcpy(&word, &c.p, 4);
    float64 v = -1;
    DMInstr prog[] = {
        {kDMSetBoth, 1, int32(uintptr_t(&v)), 0, 0, 0},
        {kDMPointerValue, int32(uintptr_t(panel_)), c.obj, word, 0, 0},
        {kDMEnd, 0, 0, 0, 0, 0},
    };
    EXPECT_EQ(DMRunProgram(prog, nullptr, nullptr), kNoErr);
    EXPECT_NEAR(v, c.want, 1e-12) << c.obj;
  }
  SetFlags(ss, kScaleHorizontal);
  float64 v = -1;
  int32 word;
  Point hp{999, 40};
  std::memcpy(&word, &hp, 4);
  DMInstr horiz[] = {
      {kDMSetBoth, 1, int32(uintptr_t(&v)), 0, 0, 0},
      {kDMPointerValue, int32(uintptr_t(panel_)), slide, word, 0, 0},
      {kDMEnd, 0, 0, 0, 0, 0},
  };
  EXPECT_EQ(DMRunProgram(horiz, nullptr, nullptr), kNoErr);
  EXPECT_NEAR(v, 6, 1e-12) << "a horizontal scale reads the horizontal coordinate";
}

TEST_F(Boundary, ValuesMapToPinnedPixelsAndKnobPoints) {
  const int32 s = Scale(0, 10, 100, 0);
  for (auto [v, pixel] : {std::pair{-5.0, 100}, {5.0, 50}, {20.0, 0}}) {
    int16 p = -1;
    ScaleValueToPixelPinned(panel_, Data(s), kTDDBL, &v, &p);
    EXPECT_EQ(p, pixel) << v;
  }
  // From the left through the top to the right, as KnobAngleToValue reads it.
  Rec(s)->centre = Point{50, 50}, Rec(s)->startAngle = kPi, Rec(s)->sweep = kPi;
  for (auto [v, at] : {std::pair{0.0, Point{50, 30}}, {5.0, Point{30, 50}}, {10.0, Point{50, 70}}, {99.0, Point{50, 70}}}) {
    Point p{};
    KnobValueToPoint(panel_, Data(s), kTDDBL, 20, &v, &p);
    EXPECT_EQ(std::pair(p.v, p.h), std::pair(at.v, at.h)) << v;
  }
}

// Markers {0 black, 10 white}, blue below and red above; rows 1 (20) to 49 (-5).
TEST_F(Boundary, RampColoursComeFromTheMarkerTableAndPaintTheStrip) {
  const int32 s = Scale(-5, 20, 49, 1);
  UHandle m = DSNewHClr(4 + 2 * kScaleMarkerEntry);
  PutNative32(*m, 2);
  const float64 ten = 10;
  std::memcpy(*m + 4 + kScaleMarkerEntry, &ten, 8);
  PutNative32(*m + 4 + kScaleMarkerEntry + 8, 0xFFFFFF);
  Rec(s)->markers = m, Rec(s)->endParts[0] = 0x0000FF, Rec(s)->endParts[1] = 0xFF0000;
  struct {
    float64 value;
    uInt32 flags, colour;
  } cases[] = {{-1, 0, 0x0000FF}, {5, 0, 0x808080}, {5, kRampNoInterpolation, 0}, {10, 0, 0xFFFFFF}, {11, 0, 0xFF0000}};
  for (const auto& c : cases) {
    SetW(s, 0, int32(c.flags));
    EXPECT_EQ(PanelLookupValue(panel_, s, c.value), c.colour) << c.value << "/" << c.flags;
  }
  PutNative32(*m, 3);
  EXPECT_EQ(PanelLookupValue(panel_, s, 5), 0x0000FFu) << "a count past the handle's bytes: empty";
  PutNative32(*m, 2);
  // Row by row, then in 254 steps with a transparent high colour.
  WPortState saved{};
  const WindowRef w = StartDrawingWindow(Rect{40, 40, 91, 80}, &saved);
  ASSERT_NE(w, kWNoWindow);
  PlatSurface* surface = PlatWindowSurface(WHostWindow(w));
  PlatSurfaceClear(surface, 0x00FF00);
  const int32 strip = Obj(kClsCosmetic, s, 69);
  SetW(s, 0, 0);
  SetRect(strip, kObjBounds, Rect{0, 2, 51, 16});
  EXPECT_EQ(ScaleFrameMarker(panel_, s, strip), 1);
  SetW(s, 0, int32(kRampStepped)), Rec(s)->endParts[1] = 0x1000000;
  SetRect(strip, kObjBounds, Rect{0, 22, 51, 36});
  EXPECT_EQ(ScaleFrameMarker(panel_, s, strip), 1);
  SetW(strip, 0, int32(kObjFlagHidden));
  EXPECT_EQ(ScaleFrameMarker(panel_, s, strip), 0);
  qxtest::ExpectMatchesGolden(surface, std::filesystem::path(QX_SOURCE_DIR) / "tests/panel/goldens/ramp_strip.png",
                              "QX_UPDATE_GOLDENS=1 test_controls --gtest_filter=*RampColours*");
  StopDrawingWindow(&saved);
  Rec(s)->markers = nullptr;
  DSDisposeHandle(m);
}

// Styles set and read back; the markers each style shows, on a linear and a
// logarithmic scale, with their numbers and minor ticks.
TEST_F(Boundary, StylesChooseWhatTheWalkShows) {
  const int32 s = Scale(0, 10, 0, 100);
  Rec(s)->increment = 5, Rec(s)->minorIncrement = 1;
  TextLabel(s, Rect{0, 0, 10, 20});
  for (int32 style = 0; style <= 10; ++style) {
    SetW(s, 0, int32(kScaleInnerTicks | kScaleHidden));
    Bool32 ok = 2;
    int32 back = -1;
    ScaleStyleFlags(panel_, s, &back, &style, &ok);
    const bool valid = style >= 1 && style <= 9;
    EXPECT_EQ(ok, Bool32(valid)) << style;
    ScaleStyleFlags(panel_, s, &back, nullptr, &ok);
    EXPECT_EQ(back, valid ? style : 6) << style;
  }
  const int32 lg = Scale(1, 1000, 0, 300);
  Rec(lg)->mapping = kScaleLog, Rec(lg)->increment = 10, Rec(lg)->start = 1, Rec(lg)->minorIncrement = 1;
  TextLabel(lg, Rect{0, 0, 10, 20});
  struct Case {
    int32 scale, style;
    const char* seen;
  } cases[] = {
      {s, 2, "0:LT[10]@100 1:LT[0]@0"},
      {s, 5, "0:L[10]@100 1:L[0]@0"},
      {s, 6, "2:@0 3:@50"},  // hidden: the interior markers, nothing shown
      {s, 8, "0:LT[10]@100 1:LT[0]@0 m@10 m@20 m@30 m@40 2:T@50 m@60 m@70 m@80 m@90"},
      {s, 1, "0:LT[10]@100 1:LT[0]@0 2:LT[5]@50"},
      {lg, 8, "0:LT[1000]@300 1:LT[1]@0 m@30 m@48 m@60 m@70 m@78 m@85 m@90 m@95 2:T@100 m@130 m@148 m@160 m@170 "
              "m@178 m@185 m@190 m@195 3:T@200 m@230 m@248 m@260 m@270 m@278 m@285 m@290 m@295"},
  };
  for (const Case& c : cases) {
    ScaleStyleFlags(panel_, c.scale, nullptr, &c.style, nullptr);
    std::vector<std::string> seen;
    EXPECT_EQ(ScaleForEachMarker(panel_, c.scale, &Record, &seen, nullptr, 0, 0, nullptr), 0);
    EXPECT_EQ(Joined(seen), c.seen) << "style " << c.style;
  }
  // A tall label overlapping the one before it loses its label, not its tick.
  SetRect(FindPart(panel_, s, kScalePartLabel, 0), kObjBounds, Rect{0, 0, 60, 20});
  const int32 one = 1;
  ScaleStyleFlags(panel_, s, nullptr, &one, nullptr);
  std::vector<std::string> seen;
  ScaleForEachMarker(panel_, s, &Record, &seen, nullptr, 0, 0, nullptr);
  EXPECT_EQ(Joined(seen), "0:LT[10]@100 1:LT[0]@0 2:T@50");
  // A procedure's answer ends the walk and is its answer.
  EXPECT_EQ(ScaleForEachMarker(
                panel_, s, [](ObjHeap, int32, ScaleMarkerRec* m) { return m->index == 1 ? 7 : 0; }, nullptr, nullptr,
                0, 0, nullptr),
            7);
}

// The owner's label texts: the last for the upper end, none past the list,
// disabled items flagged; the edited marker's label while it is edited.
TEST_F(Boundary, TextLabelsAndTheEditedLabel) {
  const int32 slide = Obj(kClsSlide);
  int32 ring = Obj(kClsRing, slide, kPartDigital);
  SetW(ring, kPWDDOTypeId, int32(Type(tdb::U16())));
  ASSERT_EQ(Alloc(ring), kNoErr);
  while (RingInsertDeleteItem(panel_, ring, 0, 0) >= 0) {}
  for (int32 i = 0; i < 3; ++i) RingInsertDeleteItem(panel_, ring, i, 1);
  ASSERT_NE(ObjItemData(panel_, ring), nullptr);
  PutNative32(*ObjItemData(panel_, ring) + 8, 1);  // item 1 disabled
  const int32 text = Obj(kClsMultiLabel, ring, kPartRingText);
  UHandle list = Keep(AZNewHClr(4 + 3 * 2));
  PutNative32(*list, 3);
  std::memcpy(*list + 4, "\001a\001b\001c", 6);
  SetW(text, kRingTextWord / 4, int32(uintptr_t(list)));
  const int32 s = Scale(0, 4, 0, 40, slide, kControlPartScale);
  SetW(s, 0, int32(kScaleTextLabels | kScaleEndLabels | kScaleInnerLabels));
  const int32 label = TextLabel(s, Rect{0, 0, 10, 20});
  std::vector<std::string> seen;
  ScaleForEachMarker(panel_, s, &Record, &seen, nullptr, 0, 0, ScaleTextList(panel_, s));
  EXPECT_EQ(Joined(seen), "0:L[c]@40 1:L[a]@0 2:LD[b]@10 3:L[c]@20 4:L[]@30");
  EXPECT_EQ(ScaleTextList(panel_, s), list);

  // Editing marker 2 on a panel: the text record is parked in the editing
  // state during the walk; the label gets its bounds and record back.
  const TRecord edited = PartTextRecord(panel_, label);
  PutNative16(*panel_ + s + kScaleObjEditIndex, 2);
  const int32 ext = int32(OHWord(panel_, kOHExtension));
  SetRect(label, kObjBounds, Rect{5, 6, 15, 26});
  struct Probe {
    std::vector<std::string> seen;
    uInt32 parked = 0;
    TRecord text = nullptr;
  } probe;
  auto proc = [](ObjHeap heap, int32, ScaleMarkerRec* m) {
    auto* p = static_cast<Probe*>(m->cookie);
    p->seen.push_back(Seen(heap, *m));
    p->parked = OHWord(heap, uInt32(int32(OHWord(heap, kOHExtension)) + kHeapExtStashedText));
    p->text = PartTextRecord(heap, m->labelPart);
    return 0;
  };
  ScaleForEachMarker(panel_, s, proc, &probe, nullptr, kScaleWalkEditing, 0, ScaleTextList(panel_, s));
  EXPECT_EQ(Joined(probe.seen), "0:L[c]@40 1:L[a]@0 2:LD[]@10 3:L[c]@20 4:L[]@30");
  EXPECT_EQ(probe.parked, uInt32(uintptr_t(edited)));
  EXPECT_NE(probe.text, edited) << "the walk works on a copy";
  EXPECT_EQ(R(GetRect(label, kObjBounds)), R(Rect{5, 6, 15, 26}));
  EXPECT_EQ(PartTextRecord(panel_, label), edited);
  EXPECT_EQ(OHWord(panel_, uInt32(ext + kHeapExtStashedText)), 0u);
  // While the label has the key focus the record stays parked; the copy
  // takes the bounds inside the label's.
  PutNative32(*panel_ + ext + kHeapExtKeyFocus, uInt32(label));
  ScaleForEachMarker(panel_, s, &Record, &seen, nullptr, kScaleWalkEditing, 0, nullptr);
  EXPECT_EQ(OHWord(panel_, uInt32(ext + kHeapExtStashedText)), uInt32(uintptr_t(edited)));
  const TRecord copy = PartTextRecord(panel_, label);
  ASSERT_NE(copy, edited);
  Rect view{};
  TGetRect(copy, &view, nullptr);
  EXPECT_EQ(R(view), R(Rect{6, 7, 14, 25}));
  PutNative32(*panel_ + ext + kHeapExtKeyFocus, 0);
  PutNative32(*panel_ + ext + kHeapExtStashedText, 0);
  SetW(label, kPWLabelText, int32(uintptr_t(edited)));
  TDispose(copy);
}

// A tick picture drawn as a line: shape 2, and for its end points the
// rectangle around them grown by 1.
int32 LineTick(int32 message, PictStyleBlock*, PictMessageBlock* b) {
  if (message == 7) b->shapeKind = 2;
  if (message == 14)
    *b->rect = Rect{int16(std::min(b->point1.v, b->point2.v) - 1), int16(std::min(b->point1.h, b->point2.h) - 1),
                    int16(std::max(b->point1.v, b->point2.v) + 1), int16(std::max(b->point1.h, b->point2.h) + 1)};
  return 0;
}

// Graph scales by kind; a slide fitted to five labels; knob points; the
// markers that fit wide and narrow measured labels; round scales whose ticks
// are lines; grid lines.
TEST_F(Boundary, GraphPartsFitsCapacitiesAndRoundTicks) {
  const int32 graph = Obj(kClsGraphChart);
  const int32 x = Scale(0, 1, 0, 10, graph, 18), y = Scale(0, 1, 0, 10, graph, 19);
  struct Kind {
    uInt16 kind;
    Bool32 x, y;
  } kinds[] = {{3, 0, 0}, {104, 0, 0}, {150, 0, 1}, {0, 1, 1}};
  for (const Kind& k : kinds) {
    PutNative16(*panel_ + graph + kPanelGraphKindByte, k.kind);
    EXPECT_EQ(std::pair(GraphPartApplies(panel_, x), GraphPartApplies(panel_, y)), std::pair(k.x, k.y)) << k.kind;
  }
  EXPECT_EQ(GraphPartApplies(panel_, Scale(0, 1, 0, 10, Obj(kClsSlide), 18)), 1) << "not a graph's scale";

  // Five text labels: the slide's range becomes 0 to 4.
  const int32 slide = Obj(kClsSlide);
  const int32 text = Obj(kClsMultiLabel, Obj(kClsRing, slide, kPartDigital), kPartRingText);
  UHandle list = Keep(AZNewHClr(4 + 5 * 2));
  PutNative32(*list, 5);
  std::memcpy(*list + 4, "\001a\001b\001c\001d\001e", 10);
  SetW(text, kRingTextWord / 4, int32(uintptr_t(list)));
  const int32 s = Scale(0, 100, 0, 200, slide, kControlPartScale);
  SetFlags(s, kScaleTextLabels);
  Label(s, 10, 20);
  EXPECT_EQ(ScaleFitToItemCount(panel_, slide), 0x80);
  EXPECT_EQ(std::pair(Rec(s)->min, Rec(s)->max), std::pair(0.0, 4.0));
  EXPECT_EQ(int16(GetNative16(*panel_ + s + kScaleObjMarkerCount)), 5);

  // Knob points at the ends, past them, and at radius 0.
  Rec(s)->centre = Point{50, 50}, Rec(s)->startAngle = kPi, Rec(s)->sweep = kPi;
  for (auto [v, radius, at] : {std::tuple{0.0, 20, Point{50, 30}}, {4.0, 20, Point{50, 70}}, {-9.0, 20, Point{50, 30}},
                               {NAN, 20, Point{50, 30}}, {2.0, 0, Point{50, 50}}}) {
    Point p{-1, -1};
    KnobValueToPoint(panel_, Data(s), kTDDBL, radius, &v, &p);
    EXPECT_EQ(std::pair(p.v, p.h), std::pair(at.v, at.h)) << v << " r " << radius;
  }

  // Measured labels: the texts of the ends, not the label part's size.
  const int32 h = Scale(0, 10, 0, 300);
  SetFlags(h, kScaleHorizontal);
  const int32 label = TextLabel(h, Rect{0, 0, 1, 1}, kTRKindBox);
  SetFlags(label, kScaleLabelFitsText);
  const int32 narrow = ScaleMaxMarkers(panel_, h, 0);
  Rec(h)->max = 123456789;
  const int32 wide = ScaleMaxMarkers(panel_, h, 0);
  EXPECT_GT(narrow, wide);
  EXPECT_GE(wide, 2);
  EXPECT_LT(narrow, 300 / 5 + 1) << "the texts have a width";

  // A round scale whose ticks are lines 5 long from the label radius.
  int32 image = 0;
  ASSERT_EQ(ICreateProcImage(reinterpret_cast<ImageProc>(&LineTick), 0, &image), kNoErr);
  const int32 round = Scale(0, 10, 0, 0);
  SetW(round, 0, int32(kScaleRound | kScaleEndTicks));
  Rec(round)->centre = Point{100, 100}, Rec(round)->radius = 50, Rec(round)->startAngle = kPi, Rec(round)->sweep = kPi;
  const int32 tick = Obj(kClsCosmetic, round, kScalePartTick);
  Label(round, 10, 20);
  SetW(tick, kObjImage / 4, image);
  Rect area{};
  ScaleGetPartsRect(panel_, round, &area, 0, 1);
  EXPECT_EQ(R(area), R(Rect{50, 44, 101, 156})) << "the arc with the ticks at 150..155 and 45..50";
  const int32 lineCapacity = ScaleMaxMarkers(panel_, round, 1);
  SetW(tick, kObjImage / 4, 0);
  SetRect(tick, kObjBounds, Rect{0, 0, 30, 40});  // a diagonal of 50
  EXPECT_LT(lineCapacity, ScaleMaxMarkers(panel_, round, 1)) << "labels further out leave room for more";
  SetW(tick, kObjImage / 4, image);
  SetFlags(round, kScaleHorizontal);  // inside the radius
  ScaleMarkerRec m{};
  m.cosine = 1;
  EXPECT_EQ(ScalePlaceTickPart(panel_, round, tick, &m), -5);
  EXPECT_EQ(R(GetRect(tick, kObjBounds)), R(Rect{99, 144, 101, 151}));
  Rect hooked{};
  ScaleGetPartsRect(panel_, round, &area, 0, 1);
  PanelScale().scaleGetPartsRect(panel_, round, &hooked, 0, 1);
  EXPECT_EQ(R(hooked), R(Rect{50, 49, 101, 151})) << "the start-up hook reaches the area, ticks inside";
  IRelease(image);
}

// Grid lines across the caller's rectangle at every marker but the ends, in
// the major or minor pen.
std::vector<std::string> gDrawn;
TEST_F(Boundary, GridLinesSkipTheEnds) {
  const int32 s = Scale(0, 10, 0, 100);
  Rec(s)->increment = 5, Rec(s)->minorIncrement = 2.5;
  SetW(s, 0, int32(kScaleHorizontal | kScaleEndTicks | kScaleInnerTicks | kScaleMinorTicks));
  DPort port = gNullPort;
  port.selectPen = [](int32 pen, DColor, DColor) {
    gDrawn.push_back("pen" + std::to_string(pen));
    return 0;
  };
  port.moveTo = [](int32 h, int32 v) {
    gDrawn.push_back(std::to_string(h) + "," + std::to_string(v));
    return 0;
  };
  port.lineTo = [](int32 h, int32 v) {
    gDrawn.back() += "-" + std::to_string(h) + "," + std::to_string(v);
    return 0;
  };
  const DPort* old = DInstallTestPort(&port);
  ScaleGridPens pens{5, 6, 0, 0xFFFFFF};
  const Rect plot{0, 0, 40, 60};
  gDrawn.clear();
  ScaleForEachMarker(panel_, s, &ScaleGridLine, &pens, &plot, 0, 0, nullptr);
  DInstallTestPort(old);
  EXPECT_EQ(Joined(gDrawn), "pen6 25,0-25,39 pen5 50,0-50,39");
}

// Bounded walks over stored records: too many increments, a marker array
// larger than its handle, a value that is not finite.
TEST_F(Boundary, BadRecordsWalkBoundedAndChangeNothing) {
  const int32 s = Scale(0, 5000, 0, 10000);
  Rec(s)->increment = 1;
  SetW(s, 0, int32(kScaleEndTicks | kScaleInnerTicks));
  std::vector<std::string> seen;
  ClearReports();
  ScaleForEachMarker(panel_, s, &Record, &seen, nullptr, 0, 0, nullptr);
  EXPECT_EQ(Reports("max 5000"), 1);
  EXPECT_EQ(Reports("d 999"), 1);
  EXPECT_EQ(Asserts(), 1);
  ASSERT_EQ(seen.size(), 1001u);
  EXPECT_EQ(seen[999], "999:T@1996");
  EXPECT_EQ(seen.back(), "0:T@10000") << "the walk ends at the upper end";

  UHandle m = DSNewHClr(4 + 2 * kScaleMarkerEntry);
  PutNative32(*m, 3);
  Rec(s)->markers = m;
  SetW(s, 0, int32(kScaleArbitrary | kScaleInnerTicks));
  seen.clear();
  ScaleForEachMarker(panel_, s, &Record, &seen, nullptr, 0, 0, nullptr);
  EXPECT_EQ(Joined(seen), "") << "three entries in the room of two";
  PutNative32(*m, 2);
  const float64 v = 3;
  std::memcpy(*m + 4 + kScaleMarkerEntry, &v, 8);
  ScaleForEachMarker(panel_, s, &Record, &seen, nullptr, 0, 0, nullptr);
  EXPECT_EQ(Joined(seen), "2:T@0 3:T@6");
  Rec(s)->markers = nullptr;
  DSDisposeHandle(m);

  ShowInWindow();
  SetRect(s, kScaleObjInner, Rect{10, 10, 30, 40});
  const ScaleRec before = *Rec(s);
  int32 index = 0;
  EXPECT_EQ(ScaleSetRangeValue(panel_, s, 0, INFINITY, &index), 0);
  EXPECT_EQ(std::memcmp(&before, Rec(s), sizeof before), 0);
  const Rect invalid = TakeInvalid();
  EXPECT_EQ(R(invalid), R(Rect{10, 10, 30, 40})) << "the scale's inner area is invalidated";
}

}  // namespace
