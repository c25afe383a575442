// Recounting a scale's markers and the text labels its control gives it.
#include <cmath>
#include <cstring>
#include <vector>

#include "controls/scale.h"
#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "panel/datamsg.h"
#include "panel/objects.h"

namespace {

constexpr int32 kMaxInnerMarkers = 1000;
// With a text list the walk is not cut off at 1000, but no more markers than
// the count can hold are walked (a range of many increments would otherwise
// keep the walk going for ever).
constexpr int32 kMaxListMarkers = 32767;
constexpr int32 kLabelTextWord = 9;  // the text part's word holding its item texts

uInt32 Flags(ObjHeap heap, int32 obj) { return OHWord(heap, uInt32(obj)); }

Rect RectAt(ObjHeap heap, int32 obj, int32 byte) {
  Rect r;
  std::memcpy(&r, *heap + obj + byte, sizeof r);
  return r;
}
bool EmptyRect(const Rect& r) { return r.bottom <= r.top || r.right <= r.left; }
void Unite(Rect* into, const Rect& r) {
  if (EmptyRect(r)) return;
  if (EmptyRect(*into)) {
    *into = r;
    return;
  }
  if (r.top < into->top) into->top = r.top;
  if (r.left < into->left) into->left = r.left;
  if (r.bottom > into->bottom) into->bottom = r.bottom;
  if (r.right > into->right) into->right = r.right;
}

// The marker array's values within its handle, or none.
int32 MarkerValues(const ScaleRec* r, const uChar** entries) {
  UHandle m = r->markers;
  *entries = nullptr;
  if (!m || DSCheckHandle(m) != kNoErr || !*m) return 0;
  int32 size = DSGetHandleSize(m);
  int32 count = size >= 4 ? int32(GetNative32(*m)) : 0;
  if (count < 0 || int64(count) * kScaleMarkerEntry + 4 > size) return 0;
  *entries = *m + 4;
  return count;
}
float64 MarkerValue(const uChar* entries, int32 i) {
  float64 v;
  std::memcpy(&v, entries + kScaleMarkerEntry * i, 8);
  return v;
}

// Walks the major markers that the style bits show, in the walk's order:
// the upper end (index 0) and the lower end (index 1) when end labels or
// ticks are shown, then, when interior labels or ticks (or minor ticks) are
// shown, the interior markers up to the upper end (by the increment, or the
// marker array's entries between the ends).  visit(index, value) returns
// true to stop.  Walks of more than 1000 interior markers without a text
// list are cut off with a report.
template <typename Visit>
void WalkMarkers(ObjHeap heap, int32 scale, ScaleRec* r, uInt32 style, bool textList, Visit visit) {
  uInt32 flags = Flags(heap, scale);
  float64 lower = r->min < r->max ? r->min : r->max;
  float64 upper = r->min < r->max ? r->max : r->min;
  bool log = r->mapping == kScaleLog;
  if (r->minorIncrement == 0) r->minorIncrement = 0.5;
  if (style & (kScaleEndLabels | kScaleEndTicks)) {
    if (visit(0, upper) || visit(1, lower)) return;
  }
  if (!(style & (kScaleInnerLabels | kScaleInnerTicks | kScaleMinorTicks))) return;
  if (flags & kScaleArbitrary) {
    const uChar* entries = nullptr;
    int32 n = MarkerValues(r, &entries);
    int32 i = 0;
    while (i < n && MarkerValue(entries, i) < lower) ++i;
    for (int32 index = 2 + i; i < n; ++i, ++index) {
      float64 v = MarkerValue(entries, i);
      if (v >= upper || ScaleValueReached(v, upper) || visit(index, v)) break;
    }
    return;
  }
  float64 v = r->start;
  if (v == lower) v = log ? v * r->increment : v + r->increment;
  for (int32 index = 2; !(v >= upper) && !ScaleValueReached(v, upper); ++index) {
    if (index >= kMaxInnerMarkers && !textList) {
      DBPrintf("min %{fD}f, max %{fD}f, inc %{fD}f, start %{fD}f", &r->min, &r->max, &r->increment, &r->start);
      DBPrintf("d %{fD}f, mult %{fD}f, off %{fD}f lin %ld", &v, &r->multiplier, &r->offset, long(!log));
      DBAssert(__FILE__, __LINE__, "scale: too many markers");
      break;
    }
    if (index >= kMaxListMarkers || visit(index, v)) break;
    float64 next = log ? v * r->increment : v + r->increment;
    // An increment that does not advance would never reach the upper end.
    if (!(next > v)) break;
    v = next;
  }
}

// A coordinate rounded half up and held to 16 bits (NaN gives 0).
int16 Coord(float64 x) {
  if (!(x > -32768)) return std::isnan(x) ? 0 : -32768;
  if (x > 32767) return 32767;
  return int16(std::floor(x + 0.5));
}

// The rectangle with its centre at (v, h).
Rect Moved(const Rect& r, float64 v, float64 h) {
  float64 height = float64(r.bottom) - r.top, width = float64(r.right) - r.left;
  int16 top = Coord(v - height / 2), left = Coord(h - width / 2);
  return Rect{top, left, Coord(top + height), Coord(left + width)};
}
bool Overlap(Rect a, const Rect& b) {
  a.top = int16(a.top + 1), a.left = int16(a.left + 1), a.bottom = int16(a.bottom - 1), a.right = int16(a.right - 1);
  return !EmptyRect(a) && !EmptyRect(b) && a.top < b.bottom && b.top < a.bottom && a.left < b.right &&
         b.left < a.right;
}

// Calls tick(value) for every minor tick of a linear scale between the
// major markers in walk order (from the lower end on): upward from each
// marker by the minor increment up to the next, and, below the start value,
// downward from the start while above the marker before it.
template <typename Tick>
void WalkMinorTicks(const ScaleRec* r, const std::vector<float64>& markers, float64 upper, Tick tick) {
  float64 m = r->minorIncrement;
  if (!(m > 0) || markers.empty()) return;
  int32 total = 0;  // a bound on the whole walk, whatever the record holds
  auto bounded = [&](float64 v) {
    if (++total <= kMaxListMarkers) tick(v);
  };
  for (size_t i = 0; i < markers.size() && total <= kMaxListMarkers; ++i) {
    float64 c = markers[i], n = i + 1 < markers.size() ? markers[i + 1] : upper;
    int32 k = 1;
    if (c < r->start && r->start <= n) {
      for (float64 t = r->start - m; t > c && k <= kMaxInnerMarkers; t = r->start - m * ++k) bounded(t);
    } else {
      for (float64 t = c + m; t < n && k <= kMaxInnerMarkers; t = c + m * ++k) bounded(t);
    }
  }
}

// The area of the scale's ticks and labels: the tick part placed at every
// marker that shows a tick, the minor tick part at every minor tick (linear
// scales) and the label part at every marker that shows a label (the
// part's own size; numeric labels that would overlap an earlier one are left
// out), along a straight scale's pixels or around a round scale's label
// radius.
Rect PartsRect(ObjHeap heap, int32 scale, ScaleRec* r, bool textList) {
  uInt32 flags = Flags(heap, scale);
  uInt32 style = (flags & kScaleHidden) ? 0 : flags;
  Rect area{0, 0, 0, 0};
  if (!(style & (kScaleEndTicks | kScaleInnerTicks | kScaleMinorTicks | kScaleEndLabels | kScaleInnerLabels)))
    return area;
  int32 tickPart = FindPart(heap, scale, kScalePartTick, 0);
  int32 minorPart = FindPart(heap, scale, kScalePartMinorTick, 0);
  int32 labelPart = FindPart(heap, scale, kScalePartLabel, 0);
  Rect tick = tickPart ? RectAt(heap, tickPart, kScaleObjBounds) : Rect{0, 0, 0, 0};
  Rect minor = minorPart ? RectAt(heap, minorPart, kScaleObjBounds) : Rect{0, 0, 0, 0};
  Rect label = labelPart ? RectAt(heap, labelPart, kScaleObjBounds) : Rect{0, 0, 0, 0};
  bool round = flags & kScaleRound, horizontal = flags & kScaleHorizontal;
  bool log = r->mapping == kScaleLog;
  bool anyTicks = style & (kScaleEndTicks | kScaleInnerTicks | kScaleMinorTicks);
  float64 span = log ? std::log10(r->max / r->min) : r->max - r->min;
  int32 data = int32(OHWord(heap, uInt32(scale + 4 * kScaleObjData)));
  // A part placed at a value; *length gets a round scale's tick length.
  auto place = [&](const Rect& part, float64 value, bool isLabel, float64* length) {
    float64 w = float64(part.right) - part.left, h = float64(part.bottom) - part.top;
    if (round) {
      float64 frac = log ? std::log10(value / r->min) : value - r->min;
      float64 a = r->startAngle - r->sweep * frac / span, c = std::cos(a), s = std::sin(a);
      float64 along = std::fabs(c) * w + std::fabs(s) * h;
      float64 d;
      if (!isLabel) {
        if (horizontal) along = -along;
        if (length) *length = along;
        d = r->radius + along / 2;
      } else {
        d = r->radius + along / 2;
        if (horizontal) d = -d;
        if (anyTicks && length) d += horizontal ? -std::fabs(*length) : std::fabs(*length);
      }
      return Moved(part, r->centre.v - d * s, r->centre.h + d * c);
    }
    int16 px = 0;
    MapValuesToPixels(heap, data, kTDDBL, &value, 8, 1, &px, 2);
    return horizontal ? Moved(part, (part.top + part.bottom) / 2.0, px) : Moved(part, px, (part.left + part.right) / 2.0);
  };
  Rect upperLabel{0, 0, 0, 0}, lastLabel{0, 0, 0, 0};
  std::vector<float64> markers;  // from the lower end on, for the minor ticks
  WalkMarkers(heap, scale, r, style, textList, [&](int32 index, float64 value) {
    bool end = index < 2;
    bool showTick = style & (end ? kScaleEndTicks : kScaleInnerTicks);
    bool showLabel = style & (end ? kScaleEndLabels : kScaleInnerLabels);
    if (index >= 1) markers.push_back(value);
    float64 length = 0;
    Rect t = place(tick, value, false, &length);
    Rect l = place(label, value, true, &length);
    if (showLabel && !textList) {
      if (Overlap(l, upperLabel) || Overlap(l, lastLabel)) {
        showLabel = false;
      } else {
        lastLabel = l;
        if (index == 0) upperLabel = l;
      }
    }
    if (showTick && tickPart) Unite(&area, t);
    if (showLabel && labelPart) Unite(&area, l);
    return false;
  });
  if ((style & kScaleMinorTicks) && minorPart && !log) {
    float64 upper = r->min < r->max ? r->max : r->min;
    WalkMinorTicks(r, markers, upper, [&](float64 v) { Unite(&area, place(minor, v, false, nullptr)); });
  }
  return area;
}

}  // namespace

Bool32 ScaleValueReached(float64 v, float64 end) {
  if (end == 0) return v >= 0;
  if (v == 0) return end < 0;
  if ((v > 0) == (end > 0)) {
    float64 r = v / end;
    return end > 0 ? r - 1 > -1e-13 : r - 1 < 1e-13;
  }
  return v > end;
}

MgErr ScaleRecalc(ObjHeap heap, int32 scale) {
  ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return kNoErr;
  int32 owner = int32(OHWord(heap, uInt32(scale + 4 * kPWOwner)));
  bool textList = owner && OGetDataPtr(heap, owner, scale, kDataPtrOperate, nullptr) != 0;
  r = ScaleRecOf(heap, scale);
  int32 count = 0;
  WalkMarkers(heap, scale, r, kScaleEndTicks | kScaleInnerTicks, textList, [&](int32, float64) {
    ++count;
    return false;
  });
  PutNative16(*heap + scale + kScaleObjMarkerCount, uInt16(count > 32767 ? 32767 : count));
  Rect inner = PartsRect(heap, scale, ScaleRecOf(heap, scale), textList);
  std::memcpy(*heap + scale + kScaleObjInner, &inner, sizeof inner);
  // The bounds: the inner rectangle with every part but the label and ticks.
  Rect bounds = inner;
  ForEachPart(heap, scale, [&](int32 part) {
    int16 id = ObjInt16(heap, part, kObjPartId);
    if (id == kScalePartLabel || id == kScalePartTick || id == kScalePartMinorTick) return;
    Unite(&bounds, RectAt(heap, part, kScaleObjBounds));
  });
  std::memcpy(*heap + scale + kScaleObjBounds, &bounds, sizeof bounds);
  return kNoErr;
}

UHandle SlideScaleMarkerList(ObjHeap heap, int32 scale) {
  if (!heap || !*heap || !scale || !(Flags(heap, scale) & kScaleTextLabels)) return nullptr;
  int32 owner = int32(OHWord(heap, uInt32(scale + 4 * kPWOwner)));
  int32 cls = owner ? ObjClass(heap, owner) : 0;
  if (cls != kClsSlide && cls != kClsKnob && cls != kClsColorRamp) return nullptr;
  int32 digital = FindPart(heap, owner, kPartDigital, 0);
  int32 text = digital ? FindPart(heap, digital, kPartRingText, 0) : 0;
  if (!text) {
    DBAssert(__FILE__, __LINE__, "scale: no text-label part");
    return nullptr;
  }
  return reinterpret_cast<UHandle>(uintptr_t(OHWord(heap, uInt32(text + 4 * kLabelTextWord))));
}
