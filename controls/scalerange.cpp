// Changing a scale's range: its ends, its marker increment of round figures,
// the first marker's alignment and the minor tick increment.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "controls/scale.h"
#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "panel/datamsg.h"
#include "panel/objects.h"
#include "panel/oinval.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "mgsource/window/textrec.h"

namespace {

constexpr float64 kNear = 1e-13;

uInt32 Flags(ObjHeap heap, int32 scale) { return OHWord(heap, uInt32(scale)); }
int16 Format(ObjHeap heap, int32 scale) { return int16(GetNative16(*heap + scale + kScaleObjFormat)); }

bool IsRelativeTime(int32 code) { return code >= 200 && code <= 299; }
bool IsAbsoluteTime(int32 code) { return code >= 512 && code <= 1536; }

// The precision a display format code gives.
int32 Precision(int32 code) {
  if (code >= -64 && code <= 0) return -code;
  if (code >= 1 && code <= 63) return code - 1;
  if (code >= 100 && code <= 162) return code - 100;
  if (IsRelativeTime(code)) return code - 200;
  if (IsAbsoluteTime(code)) return code & 3;
  return 0;
}

void FormatNumberBase(int32 code, int32* base, int32* row) {
  switch (code) {
    case 66: *base = 16; *row = 1; break;
    case 67: *base = 8; *row = 2; break;
    case 68: *base = 2; *row = 3; break;
    default: *base = 10; *row = 0; break;
  }
}

float64 LogBase(float64 base, float64 x) { return std::log(x) / std::log(base); }

// The floor of x as an exponent: values beyond any double's exponent (and
// NaN) are held to +-2000 so that the conversion stays defined.
int32 FloorExponent(float64 x) {
  if (!(x > -2000)) return -2000;
  if (x > 2000) return 2000;
  return int32(std::floor(x));
}

// A step that is an integer but for rounding noise becomes that integer.
float64 Cleaned(float64 step) {
  if (step >= kNear && std::fabs(std::trunc(step) - step) < kNear) {
    step = std::trunc(step);
    DBPrintf("tst %{fD}f", &step);
  }
  return step;
}

// The power of base below rough, held to the precision and to 14 digits of
// the range; its exponent in *e.
float64 IncrementPower(float64 base, float64 rough, float64 range, int32 precision, int32* e) {
  int32 ex = FloorExponent(LogBase(base, rough));
  if (precision >= 0 && -precision > ex) ex = -precision;
  int32 big = range != 0 ? FloorExponent(LogBase(base, std::fabs(range))) : ex;
  if (ex - big < -14) ex = big - 14;
  float64 power = IntPower(base, ex);
  if (power == 0) power = rough;
  if (!(power > 0)) DBAssert(__FILE__, __LINE__, "scale: increment power");
  if (e) *e = ex;
  return power;
}

const float64 kLinearSteps[10][8] = {
    {1, 2, 2.5, 5, 10, 20, 25, 50},
    {1, 2, 4, 8, 16, 32, 40, 48},
    {1, 2, 4, 8, 16, 24, 32, 40},
    {1, 2, 4, 6, 8, 16, 24, 32},
    {1, 2, 3, 5, 10, 15, 20, 30},
    {60, 120, 180, 300, 600, 900, 1200, 1800},
    {3600, 7200, 10800, 14400, 21600, 43200, 43200, 43200},
    {86400, 172800, 259200, 432000, 604800, 864000, 1296000, 1296000},
    {2592000, 5184000, 7776000, 10368000, 15552000, 31536000, 31536000, 31536000},
    {1, 2, 2.5, 5, 10, 20, 25, 50},
};

float64 NiceLinearStep(int32 row, float64 power, float64 range, int32 limit, bool allowed) {
  float64 fallback = 0;
  for (int32 i = 0; i < 8; ++i) {
    if (i == 2 && !allowed) continue;
    float64 step = kLinearSteps[row][i] * power;
    float64 n = std::floor(range / step + 0.5);
    if (!(n < limit)) continue;
    if (ScaleValuesNearlyEqual(step * n, range)) return Cleaned(step);
    if (fallback == 0) fallback = step;
  }
  return fallback;
}

// The first row of the step table for a time format.
int32 TimeIncrementStartLevel(int32 code) {
  if (IsRelativeTime(code)) return Precision(code) == 0 ? 4 : 0;
  int32 t = code - 512;
  if (!(t & 4)) return 7;
  if (code & 3) return 0;
  return (t & 16) ? 4 : 5;
}

const float64 kLogSteps[7][3] = {
    {1, 10, 100}, {1, 16, 256}, {1, 8, 64}, {1, 2, 4}, {1, 60, 3600}, {60, 3600, 216000}, {1, 10, 100},
};

float64 NiceLogStep(int32 row, float64 mult, float64 base, float64 decades, int32 limit) {
  float64 first = 0;
  for (float64 c0 : kLogSteps[row]) {
    float64 c = c0 * mult;
    float64 d = LogBase(base, c);
    float64 n = d == 0 ? limit : std::floor(decades / d + 0.5);
    if (!(n < limit)) continue;
    if (ScaleValuesNearlyEqual(n * d, decades)) return Cleaned(c);
    if (first == 0) first = c;
  }
  return first;
}

float64 LogIncrementPower(float64 base, float64 decades, int32 limit) {
  return IntPower(base, FloorExponent(decades / (limit - 1)));
}

// The record's ends in ascending order.
void Ends(const ScaleRec* r, float64* lower, float64* upper) {
  if (r->min < r->max) {
    *lower = r->min;
    *upper = r->max;
  } else {
    *lower = r->max;
    *upper = r->min;
  }
}
// Writes the ends back keeping the scale's orientation.
void SetEnds(ScaleRec* r, float64 lower, float64 upper) {
  if (r->min > r->max) {
    r->min = upper;
    r->max = lower;
  } else {
    r->min = lower;
    r->max = upper;
  }
}
bool HoldsEnds(const ScaleRec* r, float64 lower, float64 upper) {
  return r->min > r->max ? (r->min == upper && r->max == lower) : (r->min == lower && r->max == upper);
}

void FixMultiplier(ScaleRec* r) {
  if (r->multiplier == 0 || std::isnan(r->multiplier)) {
    DBPrintf("multiplier is messed up, fixing it");
    r->multiplier = 1.0;
  }
}

float64 LinearIncrementFor(const ScaleRec* r, float64 lower, float64 upper, int32 limit, int32 precision, int32 code) {
  float64 inc = ChooseLinearIncrement(lower * r->multiplier + r->offset, upper * r->multiplier + r->offset, limit,
                                      precision, code);
  return std::fabs(inc / r->multiplier);
}

}  // namespace

float64 IntPower(float64 base, int32 n) {
  float64 r = 1;
  for (int32 i = 0; i < (n < 0 ? -int64(n) : n) && i < 4096; ++i) r *= base;
  return n < 0 ? 1 / r : r;
}

Bool32 ScaleValuesNearlyEqual(float64 a, float64 b) {
  float64 r = b == 0 ? a : a / b - 1;
  return r > -kNear && r < kNear;
}

float64 ChooseLinearIncrement(float64 a, float64 b, int32 limit, int32 precision, int32 code) {
  if (a > b) std::swap(a, b);
  return LinearIncrementCore(a, b, limit, precision, code);
}

float64 LinearIncrementCore(float64 a, float64 b, int32 limit, int32 precision, int32 code) {
  if (a > b) {
    DBAssert(__FILE__, __LINE__, "scale: increment ends out of order");
    return 0;
  }
  float64 range = b - a;
  if (limit <= 2) return range;
  float64 rough = range / (limit - 1);
  if (rough == 0) rough = range;
  float64 step = 0;
  if (!IsRelativeTime(code) && !IsAbsoluteTime(code)) {
    int32 base, row, e = 0;
    FormatNumberBase(code, &base, &row);
    float64 power = IncrementPower(base, rough, range, precision, &e);
    bool allowed = !(base == 10 && precision >= 0 && precision <= -e);
    step = NiceLinearStep(row, power, range, limit, allowed);
  } else {
    bool absolute = IsAbsoluteTime(code);
    for (int32 row = TimeIncrementStartLevel(code); row <= 6 || (absolute && row <= 9);) {
      int32 e = 0, useRow = row;
      float64 power = 1.0;
      bool allowed = true;
      if (row == 0) {
        power = IncrementPower(10, rough, range, precision, &e);
        if (power > 1.0) power = 1.0;
        allowed = !(precision >= 0 && precision <= -e);
      } else if (row == 6 && !absolute) {
        power = IncrementPower(3600, rough, range, 0, nullptr);
        useRow = 9;
      } else if (row == 9) {
        power = IncrementPower(31536000, rough, range, 0, nullptr);
      }
      float64 s = NiceLinearStep(useRow, power, range, limit, allowed);
      if (s != 0 && (step == 0 || s < step)) step = s;
      row = row == 0 ? 5 : row + 1;
    }
  }
  if (step == 0) return range;
  if (a + step == a) return range;
  return step;
}

float64 LogIncrement(float64 lower, float64 upper, int32 limit, int32 code) {
  if (lower > upper) std::swap(lower, upper);
  if (!(upper > lower)) {
    DBAssert(__FILE__, __LINE__, "scale: logarithmic ends out of order");
    return 1;
  }
  float64 ratio = upper / lower;
  if (limit <= 2) return ratio;
  float64 result = 0;
  if (!IsRelativeTime(code)) {
    int32 base, row;
    FormatNumberBase(code, &base, &row);
    float64 decades = LogBase(base, ratio);
    result = NiceLogStep(row, LogIncrementPower(base, decades, limit), base, decades, limit);
  } else {
    for (int32 row = TimeIncrementStartLevel(code); row <= 6;) {
      float64 base = 10, mult = 1;
      if (row == 0) {
        mult = LogIncrementPower(10, LogBase(10, ratio), limit);
        if (mult > 1.0) mult = 1.0;
      } else if (row == 4 || row == 5) {
        base = 60;
      } else if (row == 6) {
        base = 3600;
        mult = LogIncrementPower(3600, LogBase(3600, ratio), limit) * 3600;
      }
      float64 s = NiceLogStep(row, mult, base, LogBase(base, ratio), limit);
      if (s != 0 && (result == 0 || s < result)) result = s;
      row = row == 0 ? 4 : row + 1;
    }
  }
  return result == 0 ? ratio : result;
}

float64 ScaleMinorIncrement(ObjHeap heap, int32 scale, Bool32 round) {
  ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return 0;
  if (round) return r->increment / 4;
  float64 lower, upper;
  Ends(r, &lower, &upper);
  int64 len = std::llabs(int64(r->pixelEnd) - r->pixelStart);
  int64 n;
  float64 next;
  if (r->mapping == kScaleLog) {
    n = std::llabs(int64(RndToNearest(std::log10(upper / lower) / std::log10(r->increment)))) * 5;
    next = r->start * r->increment;
  } else {
    n = int64(RndToNearest((upper - lower) / r->increment)) * 5;
    next = r->start + r->increment;
  }
  int64 count = int64(RndToNearest(float64(len) / float64(n))) + 2;
  if (count < 0) count = 0;
  if (r->mapping == kScaleLog && count > 15) count = 15;
  if (count > 0x7fffffff) count = 0x7fffffff;
  float64 m = r->multiplier, o = r->offset;
  return std::fabs(ChooseLinearIncrement(r->start * m + o, next * m + o, int32(count), -1, Format(heap, scale)) / m);
}

namespace {

// The widest and tallest of the texts of the two ends in displayed units,
// each text's own rectangle as a box of the label part's text lays it out,
// grown by 1 on each side; false when the label has no text record.
bool MeasureEndLabels(ObjHeap heap, int32 label, const ScaleRec* r, int32 code, int32* width, int32* height) {
  const TRecord text = PartTextRecord(heap, label);
  const TRecord copy = text ? TDuplicate(text, 0) : nullptr;
  if (!copy) return false;
  TSetMode(copy, kTRKindBox, 0);
  int32 w = 0, h = 0;
  for (float64 end : {r->min, r->max}) {
    const float64 shown = end * r->multiplier + r->offset;
    char buffer[256];
    const int32 n = NumToText(&shown, kTDDBL, code, buffer, int32(sizeof buffer));
    TReplaceText(copy, reinterpret_cast<const uChar*>(buffer), n < 0 ? 0 : n);
    Rect box{0, 0, 0, 0};
    TGetRect(copy, &box, nullptr);
    w = std::max(w, int32(box.right) - box.left);
    h = std::max(h, int32(box.bottom) - box.top);
  }
  TDispose(copy);
  *width = w + 2;
  *height = h + 2;
  return true;
}

}  // namespace

int32 ScaleMaxMarkers(ObjHeap heap, int32 scale, Bool32 round) {
  const ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return 2;
  const ScaleRec rec = *r;  // measuring allocates: the data space may move
  // The label's extent: its texts measured, or the label part's bounds.
  int32 w = 0, h = 0;
  if (int32 part = FindPart(heap, scale, kScalePartLabel, 0)) {
    if (!(Flags(heap, part) & kScaleLabelFitsText) || !MeasureEndLabels(heap, part, &rec, Format(heap, scale), &w, &h)) {
      const Rect label = ScalePartBounds(heap, part);
      w = int32(label.right) - label.left;
      h = int32(label.bottom) - label.top;
    }
  }
  const bool horizontal = (Flags(heap, scale) & kScaleHorizontal) != 0;
  int64 capacity;
  if (!round) {
    int32 extent = horizontal ? w + 4 : h + 4;
    if (extent < 1) extent = 1;
    capacity = std::llabs(int64(rec.pixelEnd) - rec.pixelStart) / extent + 1;
  } else {
    // d: the tick's diagonal, or the 5 pixels of a tick drawn as a line.
    float64 d = 0;
    if (int32 tick = FindPart(heap, scale, kScalePartTick, 0)) {
      if (ScalePartIsLine(heap, tick)) {
        d = 5;
      } else {
        const Rect t = ScalePartBounds(heap, tick);
        const float64 tw = float64(t.right) - t.left, th = float64(t.bottom) - t.top;
        d = std::trunc(std::sqrt(tw * tw + th * th));
      }
    }
    const float64 rad = horizontal ? rec.radius - d : rec.radius + d;
    float64 h2 = h / 2.0, w2 = w / 2.0;
    if (horizontal) {
      h2 = -h2;
      w2 = -w2;
    }
    float64 a1 = 2 * std::atan2(w / 2.0, rad + h2), a2 = 2 * std::atan2(h / 2.0, rad + w2);
    if (a1 < 0) a1 += 6.283185307179586;
    if (a2 < 0) a2 += 6.283185307179586;
    // A sweep or angle that is not finite counts no markers beyond the two.
    const float64 c = (a1 + a2) / 2 > 0 ? std::trunc(rec.sweep / ((a1 + a2) / 2)) : 2;
    capacity = c >= 1e9 ? int64(1e9) : c >= 2 ? int64(c) : 2;
  }
  if (capacity > 0x7fffffff) capacity = 0x7fffffff;
  return capacity < 2 ? 2 : int32(capacity);
}

UPtr ScaleMarkerEntry(ObjHeap heap, int32 scale, int32 index) {
  const ScaleRec* r = ScaleRecOf(heap, scale);
  UHandle m = r ? r->markers : nullptr;
  if (!m || DSCheckHandle(m) != kNoErr || !*m) return nullptr;
  int32 size = DSGetHandleSize(m);
  int32 count = size >= 4 ? int32(GetNative32(*m)) : 0;
  if (count < 0 || int64(count) * kScaleMarkerEntry + 4 > size) return nullptr;
  if (index < 0) return nullptr;
  int32 i = index == 0 ? count - 1 : index == 1 ? 0 : index - 2;
  if (i < 0 || i >= count) return nullptr;
  return *m + 4 + kScaleMarkerEntry * i;
}

int32 ScaleReorderMarker(ScaleRec* rec, int32 index) {
  UHandle m = rec ? rec->markers : nullptr;
  if (!m || DSCheckHandle(m) != kNoErr || !*m || index < 2) return index;
  int32 size = DSGetHandleSize(m);
  int32 count = size >= 4 ? int32(GetNative32(*m)) : 0;
  if (count < 0 || int64(count) * kScaleMarkerEntry + 4 > size || index - 2 >= count) return index;
  uChar* e = *m + 4;
  auto value = [&](int32 i) {
    float64 v;
    std::memcpy(&v, e + kScaleMarkerEntry * i, 8);
    return v;
  };
  auto swap = [&](int32 i, int32 j) {
    uChar t[kScaleMarkerEntry];
    std::memcpy(t, e + kScaleMarkerEntry * i, kScaleMarkerEntry);
    std::memcpy(e + kScaleMarkerEntry * i, e + kScaleMarkerEntry * j, kScaleMarkerEntry);
    std::memcpy(e + kScaleMarkerEntry * j, t, kScaleMarkerEntry);
  };
  int32 i = index - 2;
  while (i + 1 < count && value(i) > value(i + 1)) swap(i, i + 1), ++i;
  while (i > 0 && value(i) < value(i - 1)) swap(i, i - 1), --i;
  return i + 2;
}

int32 ScaleSetLinearRange(ObjHeap heap, int32 scale, int32 index, float64 v, int32 limit) {
  ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return 0;
  bool round = (Flags(heap, scale) & kScaleRound) != 0;
  int32 askedLimit = limit;
  if (limit < 2) limit = ScaleMaxMarkers(heap, scale, round);
  r = ScaleRecOf(heap, scale);
  float64 lower, upper;
  Ends(r, &lower, &upper);
  FixMultiplier(r);
  int32 code = Format(heap, scale);
  int32 precision = (code >= 1 && code <= 63) || (code >= 100 && code <= 162) ? -1 : Precision(code);
  int32 reply = 0;
  if (index == -2) {
    float64 inc = LinearIncrementFor(r, lower, upper, limit, precision, code);
    if (inc != r->increment) r->increment = inc;
    reply = kScaleReplyMarkers;
  } else if (index == 0 || index == 1) {
    if (index == 1) {
      if (ScaleValuesNearlyEqual(v, upper)) upper = lower;
      lower = v;
    } else {
      if (ScaleValuesNearlyEqual(v, lower)) lower = upper;
      upper = v;
    }
    if (!HoldsEnds(r, lower, upper)) {
      SetEnds(r, lower, upper);
      reply = kScaleReplyRange;
      float64 inc = LinearIncrementFor(r, lower, upper, limit, precision, code);
      if (inc != r->increment) r->increment = inc;
      if (askedLimit < 2) {
        int32 again = ScaleMaxMarkers(heap, scale, round);
        r = ScaleRecOf(heap, scale);
        if (again != limit) {
          inc = LinearIncrementFor(r, lower, upper, again, precision, code);
          if (inc != r->increment) r->increment = inc;
        }
      }
    }
    Ends(r, &lower, &upper);
  } else {
    float64 inc = v - lower;
    if (v <= upper && inc > 0 && limit > (upper - lower) / inc) {
      r->increment = inc;
      reply = kScaleReplyMarkers;
    } else {
      DBPrintf("Invalid Increment %{fD}f &&&&&&&&&&&&&", &inc);
    }
  }
  if (reply || index == -2) {
    float64 m = r->multiplier, o = r->offset, inc = r->increment;
    float64 s = std::floor((lower * m + o) / (inc * m)) * inc * m;
    float64 start = (s - o) / m;
    int32 steps = 0;
    for (; steps < 11 && !(start >= lower); ++steps) start += inc;
    if (!(start >= lower)) {
      DBPrintf("really bad start");
      start = lower;
    }
    r->start = start;
    float64 minor = ScaleMinorIncrement(heap, scale, round);
    r = ScaleRecOf(heap, scale);
    r->minorIncrement = minor;
    if (r->start < lower) DBAssert(__FILE__, __LINE__, "scale: start below the lower end");
  }
  return reply;
}

int32 ScaleSetLogRange(ObjHeap heap, int32 scale, int32 index, float64 v, int32 limit) {
  ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return 0;
  if (index != -2 && !(v > 0)) return 0;
  bool round = (Flags(heap, scale) & kScaleRound) != 0;
  float64 lower, upper;
  Ends(r, &lower, &upper);
  if (lower <= 0) {
    if (upper <= 0) upper = 10.0;
    lower = upper / 1000;
    SetEnds(r, lower, upper);
  }
  if (r->start <= 0) r->start = r->min;
  if (limit < 2) limit = ScaleMaxMarkers(heap, scale, round);
  r = ScaleRecOf(heap, scale);
  int32 code = Format(heap, scale);
  int32 reply = 0;
  if (index == -2) {
    FixMultiplier(r);
    float64 ratio = LogIncrement(lower, upper, limit, code);
    if (ratio != r->increment) r->increment = ratio;
    reply = kScaleReplyMarkers;
  } else if (index == 0 || index == 1) {
    if (index == 1) {
      if (v == upper) upper = lower;
      lower = v;
    } else {
      if (v == lower) lower = upper;
      upper = v;
    }
    if (!HoldsEnds(r, lower, upper)) {
      SetEnds(r, lower, upper);
      reply = kScaleReplyRange;
      Ends(r, &lower, &upper);
      if (upper > lower) {
        float64 ratio = LogIncrement(lower, upper, limit, code);
        if (ratio != r->increment) r->increment = ratio;
      }
    }
    Ends(r, &lower, &upper);
  } else {
    float64 ratio = v / lower;
    if (lower < v && v <= upper && limit > std::log10(upper / lower) / std::log10(ratio)) {
      r->increment = ratio;
      reply = kScaleReplyMarkers;
    } else {
      DBPrintf("Invalid Log Increment %{fD}f &&&&&&&&&&&&&", &ratio);
    }
  }
  if (reply || index == -2) {
    r->start = lower;
    float64 minor = ScaleMinorIncrement(heap, scale, round);
    r = ScaleRecOf(heap, scale);
    r->minorIncrement = minor;
  }
  return reply;
}

int32 ScaleSetRangeValue(ObjHeap heap, int32 scale, int32 index, float64 value, int32* newIndex) {
  if (newIndex) *newIndex = index;
  ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return 0;
  int32 owner = int32(OHWord(heap, uInt32(scale + 4 * kPWOwner)));
  if (owner && OGetDataPtr(heap, owner, scale, kDataPtrPlain, nullptr)) {
    r = ScaleRecOf(heap, scale);
    r->start = 0;
    r->mapping = kScaleLinear;
    r->increment = 1.0;
    r->minorIncrement = 0.5;
    r->multiplier = 1.0;
    r->offset = 0;
    return 0;
  }
  if (ClassifyFloatNumber(kTDDBL, &value) != 0) {
    OInval(heap, scale, 1);
    return 0;
  }
  r = ScaleRecOf(heap, scale);
  if (r->multiplier == 0) FixMultiplier(r);
  float64 v = (value - r->offset) / r->multiplier;
  uInt32 flags = Flags(heap, scale);
  if ((flags & kScaleArbitrary) && index >= 2) {
    UPtr entry = ScaleMarkerEntry(heap, scale, index);
    if (!entry) return 0;
    std::memcpy(entry, &v, 8);
    int32 moved = ScaleReorderMarker(ScaleRecOf(heap, scale), index);
    if (newIndex) *newIndex = moved;
    return kScaleReplyMarkers | ((flags & kScaleArrayHasEnds) ? kScaleReplyArrayEnds : 0);
  }
  if (r->mapping == kScaleLog) return ScaleSetLogRange(heap, scale, index, v, 0);
  if (r->mapping != kScaleLinear) {
    DBAssert(__FILE__, __LINE__, "scale: unknown mapping");
    return 0;
  }
  return ScaleSetLinearRange(heap, scale, index, v, 0);
}

Bool32 ScaleValueBeyond(float64 v, float64 end) {
  if (end == 0) return v > 0;
  if (v != 0 && (v > 0) == (end > 0)) {
    float64 r = v / end;
    return end > 0 ? r - 1 >= kNear : r - 1 <= -kNear;
  }
  return ScaleValueReached(v, end);
}

void ScaleLooseFit(float64* lower, float64* upper, const ScaleRec* r) {
  float64 inc = r->increment;
  float64 l, u;
  // Whole increments need a step that moves: a positive one, a ratio above 1.
  if (!std::isfinite(inc) || !(inc > (r->mapping == kScaleLog ? 1 : 0))) return;
  if (r->mapping == kScaleLog) {
    float64 step = std::log10(inc);
    l = std::pow(10.0, std::floor(std::log10(*lower) / step) * step);
    if (ScaleValueBeyond(l, *lower)) l /= inc;
    u = std::pow(10.0, std::floor(std::log10(*upper) / step) * step);
    if (ScaleValueBeyond(*upper, u)) u *= inc;
  } else {
    l = std::floor(*lower / inc) * inc;
    if (ScaleValueBeyond(l, *lower)) l -= inc;
    u = std::floor(*upper / inc) * inc;
    if (ScaleValueBeyond(*upper, u)) u += inc;
  }
  if (*lower > l && std::isfinite(l)) *lower = l;
  if (*upper < u && std::isfinite(u)) *upper = u;
}

namespace {

// Widens equal ends of one sign around their value: the far end by a tenth
// (or, when that overflows, by a hundredth, or not at all) and the near end
// shrunk by a tenth; ends still equal push the far end out tenfold.
void WidenEqualEnds(float64 v, float64* nearEnd, float64* farEnd) {
  *nearEnd = v * 0.9;
  *farEnd = v * 1.1;
  if (!std::isfinite(*farEnd)) *farEnd = std::isfinite(v * 1.01) ? v * 1.01 : v;
  if (*nearEnd == *farEnd) *farEnd *= 10;
}

// Ends too far apart for their increment (more than 1000 interior markers,
// or 100 decades) are reported and given an increment of the whole range.
void GuardMarkerCount(ScaleRec* r, bool textList) {
  float64 steps = r->mapping == kScaleLog ? std::log(r->max / r->min) / std::log(r->increment)
                                          : (r->max - r->min) / r->increment;
  float64 limit = r->mapping == kScaleLog ? 101 : 1001;
  if (!(std::fabs(std::trunc(steps)) >= limit) || (r->mapping != kScaleLog && textList)) return;
  DBPrintf("min %{fD}f, max %{fD}f, incr %{fD}f", &r->min, &r->max, &r->increment);
  DBAssert(__FILE__, __LINE__, "CalcScaleMarkers: too many markers");
  if (r->min == 0 && r->max == 0) r->max = 10.0;
  float64 whole = std::fabs(std::trunc(r->max - r->min));
  // A range under 1 would truncate to no increment at all: take the range.
  r->increment = whole > 0 ? whole : std::fabs(r->max - r->min);
  r->start = r->min;
}

}  // namespace

MgErr CalcScaleMarkers(ObjHeap heap, int32 scale, float64 lower, float64 upper, Bool32 keepIncrement, Bool32 force,
                       Bool32* changed) {
  if (changed) *changed = false;
  ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return kNoErr;
  if (!std::isfinite(lower)) lower = r->min;
  if (!std::isfinite(upper)) upper = r->max;
  if (lower > upper) std::swap(lower, upper);
  if (lower == upper) {
    float64 v = lower;
    if (v == 0) {
      lower = -1;
      upper = 1;
    } else if (v > 0) {
      WidenEqualEnds(v, &lower, &upper);
    } else {
      WidenEqualEnds(v, &upper, &lower);
    }
  }
  bool looseFit = !keepIncrement && (Flags(heap, scale) & (kScaleRound | kScaleLooseFit)) == kScaleLooseFit;
  if (looseFit) ScaleLooseFit(&lower, &upper, r);
  float64 curLower, curUpper;
  Ends(r, &curLower, &curUpper);
  bool moved = !(ScaleValuesNearlyEqual(lower, curLower) && ScaleValuesNearlyEqual(upper, curUpper));
  if (moved) SetEnds(r, lower, upper);
  if (!moved && !force) return kNoErr;

  OInval(heap, scale, 0);
  int32 index = 0;
  ScaleSetRangeValue(heap, scale, -2, 0, &index);
  r = ScaleRecOf(heap, scale);
  if (!r) return kNoErr;
  if (looseFit) {
    Ends(r, &lower, &upper);
    float64 before = lower;
    ScaleLooseFit(&lower, &upper, r);
    SetEnds(r, lower, upper);
    if (lower != before) r->start = lower;
  }
  const bool textList = ScaleTextList(heap, scale) != nullptr;
  r = ScaleRecOf(heap, scale);
  if (!r) return kNoErr;
  GuardMarkerCount(r, textList);
  ScaleRecalc(heap, scale);
  OInval(heap, scale, 0);
  if (changed) *changed = moved;
  return kNoErr;
}
