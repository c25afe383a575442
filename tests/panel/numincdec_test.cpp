// Stepping values: limits approached with smaller steps, each type in its
// own width, rings past disabled items, slides against their scale, the
// digit at the text cursor, and the repeat and acceleration of a held arrow.
#include <cstring>
#include <vector>

#include "mgsource/datetime.h"
#include "mgsource/numconv.h"
#include "mgsource/window/winproc.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/numincdec.h"
#include "panel/osupport.h"
#include "panel_test_support.h"
#include "platform/qx_time.h"

namespace {

class NumIncDec : public ptest::PanelRootTest {
 protected:
  // A state of the type with the value and, where given (NaN: not set),
  // the limits and increment.
  static ActionParams State(int32 repr, double value, double min, double max, double inc, int16 kind = 0,
                            int16 press = kArrowUp) {
    ActionParams p{};
    IncDecState* s = IncDecOf(&p);
    s->repr = int16(repr), s->kind = kind, s->pressState = press, s->selStart = s->selEnd = -1, s->multiplier = 10;
    ConvertNum(kTDDBL, &value, repr, s->value);
    const double* given[3] = {&min, &max, &inc};
    uChar* fields[3] = {s->min, s->max, s->increment};
    for (int32 i = 0; i < 3; ++i) {
      if (*given[i] != *given[i]) s->rangeFlags |= uInt16(kIncNoMin << i);
      else ConvertNum(kTDDBL, given[i], repr, fields[i]);
    }
    return p;
  }
  static double Value(const ActionParams& p) {
    const IncDecState* s = IncDecOf(&p);
    long double x = 0;
    ConvertNum(s->repr, s->value, kTDEXT, &x);
    return double(x);
  }
  // The values after each of the presses (each a first press).
  std::vector<double> Presses(ActionParams p, int32 n) {
    std::vector<double> out;
    for (int32 i = 0; i < n; ++i) {
      IncDecStep(panel_, 0, &p);
      out.push_back(Value(p));
    }
    return out;
  }
  // The times (ms after the press) at which a held press commits a new value.
  std::vector<int32> Changes(ActionParams p, int32 until, std::vector<double>* steps = nullptr) {
    std::vector<int32> at;
    double last = Value(p);
    for (int32 t = 0; t <= until; t += 16) {
      if (t) PlatTickShift(16);
      if (IncDecStep(panel_, 0, &p) == 8 && Value(p) != last) {
        at.push_back(t);
        if (steps) steps->push_back(Value(p) - last);
        last = Value(p);
      }
      IncDecOf(&p)->pressState = kArrowHeldUp;
    }
    return at;
  }
};
constexpr double kNone = __builtin_nan("");

// Limits are approached with the step divided by ten; the type's own width
// refuses an overflow; 64-bit values step over their full range; complex
// values are refused.
TEST_F(NumIncDec, StepsStopAtLimitsInTheTypesOwnWidth) {
  struct Case {
    int32 repr;
    double value, min, max, inc;
    std::vector<double> after;
  };
  const Case cases[] = {
      {kTDI32, 95, 0, 100, 10, {96, 97, 98, 99, 100, 100}},
      {kTDU8, 250, kNone, kNone, 10, {251, 252, 253, 254, 255, 255}},
      {kTDI8, -120, kNone, kNone, 100, {-20, 80, 90, 100, 110, 120}},
      {kTDI64, 4294967295.0, kNone, kNone, kNone, {4294967296.0, 4294967297.0}},
      {kTDU64, 0, kNone, kNone, 4294967296.0, {4294967296.0, 8589934592.0}},
      {kTDDBL, 0, kNone, 1.0, kNone, {1.0, 1.0}},
      {kTDCDB, 3, kNone, kNone, 1, {3, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    qxtest::Reports::Get().Clear();
    EXPECT_EQ(Presses(State(c.repr, c.value, c.min, c.max, c.inc), int32(c.after.size())), c.after);
    EXPECT_EQ(Reports("can't incdec complex's") > 0, c.repr == kTDCDB);
  }
}

// A ring wraps at its ends and passes over disabled items; with every item
// disabled nothing moves; an index outside the items takes the limit.
TEST_F(NumIncDec, RingsWrapAndSkipDisabledItems) {
  int32 ring = 0;
  ASSERT_EQ(Alloc(Control(tdb::I32(), kClsRing, &ring)), kNoErr);
  while (RingInsertDeleteItem(panel_, ring, 0, 0) >= 0) {}
  for (int32 i = 0; i < 5; ++i) RingInsertDeleteItem(panel_, ring, i, 1);
  struct Case {
    std::vector<int32> disabled;
    double start;
    int16 press;
    double after;
    int32 reply;
  };
  const Case cases[] = {
      {{}, 4, kArrowUp, 0, 8},           {{0, 1}, 4, kArrowUp, 2, 8},  {{0, 1, 2, 3, 4}, 4, kArrowUp, 4, 0},
      {{3, 4}, 0, kArrowDown, 2, 8},     {{}, 9, kArrowUp, 0, 8},      {{0}, -3, kArrowUp, 1, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start);
    for (int32 i = 0; i < 5; ++i) PutNative32(*ObjItemData(panel_, ring) + 4 + 4 * i, 0);
    for (int32 i : c.disabled) PutNative32(*ObjItemData(panel_, ring) + 4 + 4 * i, 1);
    ActionParams p = State(kTDI32, c.start, 0, 4, kNone, kIncKindRing, c.press);
    int32 data = int32(c.start);
    EXPECT_EQ(RingIncDec(panel_, ring, &p, reinterpret_cast<UPtr>(&data), kTDI32) & 8, c.reply);
    EXPECT_EQ(double(data), c.reply ? c.after : c.start);
  }
}

// A slide whose scale runs from 10 down to 0 steps down on its increment
// arrow, by the scale's span over its pixels.
Bool32 FallingScale(ObjHeap, int32, PanelScaleInfo* info) {
  *info = PanelScaleInfo{};
  info->min = 10, info->max = 0, info->pixelStart = 0, info->pixelEnd = 100;
  return 1;
}
TEST_F(NumIncDec, SlideAgainstItsScaleReversesTheArrow) {
  const PanelScaleHooks saved = SetPanelScaleHooks({.scaleInfo = &FallingScale});
  int32 slide = 0;
  ASSERT_EQ(Alloc(Control(tdb::DBL(), kClsSlide, &slide)), kNoErr);
  Obj(kClsCosmetic, slide, 17);
  SetW(slide, 8, 0xE0);  // no limits or increment of its own
  *reinterpret_cast<double*>(NumValueData(panel_, slide, 0)) = 5;
  ActionParams p{};
  IncDecOf(&p)->kind = kIncKindSlide, IncDecOf(&p)->pressState = kArrowUp;
  const UPtr data = NumIncDecSetup(panel_, slide, &p, 0);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(NumIncDecArrow(panel_, slide, &p, data, kTDDBL) & 8, 8);
  EXPECT_DOUBLE_EQ(*reinterpret_cast<double*>(data), 4.9);
  EXPECT_EQ(IncDecOf(&p)->pressState, kArrowDown) << "the direction reversed";
  SetPanelScaleHooks(saved);
}

// The step from the digit at the cursor: decimal, elapsed and calendar rules.
TEST_F(NumIncDec, TheDigitAtTheCursorGivesTheStep) {
  struct Case {
    const char* text;
    int32 cursor, format;
    double step;  // 0: no rule finds one
  };
  const Case cases[] = {
      {"1234", 2, 0, 100},     {"1.5E+03", 3, 0, 100},  {"-12.50", 3, 0, 1},       {"-12.50", 4, 0, 0.1},
      {"E5", 0, 0, 0},         {"1:30:00", 4, 200, 60}, {"1:30:00", 3, 200, 600},  {"1:30:00.25", 10, 202, 0.01},
      {"1:30", 1, 200, 60},    {"x", 1, 200, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    uChar step[16] = {};
    const int32 len = int32(std::strlen(c.text));
    const auto* t = reinterpret_cast<const uChar*>(c.text);
    const Bool32 found = c.format ? IncDecRelTimeStep(t, len, c.cursor, kTDDBL, step)
                                  : IncDecDecimalStep(t, len, c.cursor, kTDDBL, step);
    EXPECT_EQ(found != 0, c.step != 0);
    if (found) { EXPECT_NEAR(*reinterpret_cast<double*>(step), c.step, 1e-12); }
  }
  // The month of 15 December 2001 steps to 15 January 2002; the day field
  // of a day-first display steps by a day.
  DateRec d{0, 0, 12, 15, 12, 2001, 0, 0, 0};
  const uInt32 dec15 = DateToSecs(&d);
  d.month = 1, d.year = 2002;
  const uInt32 jan15 = DateToSecs(&d);
  ActionParams p = State(kTDDBL, double(dec15), kNone, kNone, kNone);
  const uChar month[] = "12/15/2001";
  uChar step[16] = {};
  ASSERT_TRUE(IncDecDateTimeStep(month, 10, 2, 32 | 128, IncDecOf(&p), step));
  EXPECT_EQ(*reinterpret_cast<double*>(step), double(jan15 - dec15));
  ASSERT_TRUE(IncDecDateTimeStep(month, 10, 2, 32 | 64 | 128, IncDecOf(&p), step));
  EXPECT_EQ(*reinterpret_cast<double*>(step), 86400.0);
}

// A held arrow commits at once, then after two intervals and one interval
// per step; Shift shortens the interval and, on an aligned value after
// more than five commits, multiplies the step by the display's base.
TEST_F(NumIncDec, HeldArrowsRepeatAndAccelerateUnderShift) {
  ActionParams plain = State(kTDI32, 0, kNone, kNone, 1);
  EXPECT_EQ(Changes(plain, 1000), (std::vector<int32>{0, 640, 960}));
  ActionParams shift = plain;
  shift.modifiers = kWModShift;
  EXPECT_EQ(std::vector<int32>(Changes(shift, 300)), (std::vector<int32>{0, 192, 288}));
  for (int16 base : {16, 10}) {
    ActionParams fast = shift;
    IncDecOf(&fast)->multiplier = base;
    std::vector<double> steps;
    Changes(fast, 4000, &steps);
    double grown = 0;
    for (double s : steps)
      if (s != 1 && !grown) grown = s;
    EXPECT_EQ(grown, base);
  }
}

}  // namespace

namespace {

// The range values the numeric keeps in the data (minimum, maximum and
// increment one after the other) bound the step; a range word outside the
// data leaves the type's own limits.
TEST_F(NumIncDec, SetupReadsTheRangeKeptInTheData) {
  int32 n = 0;
  ASSERT_EQ(Alloc(Control(tdb::I16(), kClsNumeric, &n)), kNoErr);
  const int32 range = W(n, kPWNumRange);
  ASSERT_GT(range, 0);
  const int16 values[3] = {-5, 5, 3};
  std::memcpy(**FPGetDataSpace(panel_) + range, values, sizeof values);
  SetW(n, 8, 0);
  *reinterpret_cast<int16*>(NumValueData(panel_, n, 0)) = 1;
  for (int16 expected : {4, 4}) {
    ActionParams p{};
    IncDecOf(&p)->pressState = kArrowUp;
    const UPtr data = NumIncDecSetup(panel_, n, &p, 0);
    ASSERT_NE(data, nullptr);
    NumIncDecArrow(panel_, n, &p, data, kTDI16);
    EXPECT_EQ(*reinterpret_cast<int16*>(data), expected);
  }
  SetW(n, kPWNumRange, 0x7FFFFFF0);
  ActionParams p{};
  IncDecOf(&p)->pressState = kArrowUp;
  const UPtr data = NumIncDecSetup(panel_, n, &p, 0);
  ASSERT_NE(data, nullptr);
  NumIncDecArrow(panel_, n, &p, data, kTDI16);
  EXPECT_EQ(*reinterpret_cast<int16*>(data), 5);
}

}  // namespace
