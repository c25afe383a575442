// Recounting a scale's markers and the text labels its control gives it.
#include <cmath>
#include <cstring>

#include "controls/scale.h"
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

// The major markers of a walk that places end and interior ticks only:
// the upper end, the lower end, then the interior markers up to the upper
// end (by the increment, or the marker array's entries between the ends).
int32 CountMarkers(ObjHeap heap, int32 scale, ScaleRec* r, bool textList) {
  uInt32 flags = Flags(heap, scale);
  float64 lower = r->min < r->max ? r->min : r->max;
  float64 upper = r->min < r->max ? r->max : r->min;
  bool log = r->mapping == kScaleLog;
  if (r->minorIncrement == 0) r->minorIncrement = 0.5;
  int32 count = 2;  // the two ends
  const uChar* entries = nullptr;
  int32 n = (flags & kScaleArbitrary) ? MarkerValues(r, &entries) : 0;
  if (flags & kScaleArbitrary) {
    int32 i = 0;
    while (i < n && MarkerValue(entries, i) < lower) ++i;
    for (; i < n; ++i) {
      float64 v = MarkerValue(entries, i);
      if (v >= upper || ScaleValueReached(v, upper)) break;
      ++count;
    }
    return count;
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
    if (count >= kMaxListMarkers) break;
    ++count;
    float64 next = log ? v * r->increment : v + r->increment;
    // An increment that does not advance would never reach the upper end.
    if (!(next > v)) break;
    v = next;
  }
  return count;
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
  int32 count = CountMarkers(heap, scale, r, textList);
  PutNative16(*heap + scale + kScaleObjMarkerCount, uInt16(count > 32767 ? 32767 : count));
  // The bounds: the inner rectangle with every part but the label and ticks.
  Rect bounds = RectAt(heap, scale, kScaleObjInner);
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
