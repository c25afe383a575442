// A scale's layout from its walk (the marker count, the area of its ticks
// and labels, its bounds), its style as flag bits, the graph scales that
// apply to a graph's kind, and the text labels its control gives it.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "controls/scale.h"
#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "panel/datamsg.h"
#include "panel/objects.h"

namespace {

constexpr float64 kTwoPi = 6.283185307179586;
constexpr float64 kHalfPi = 1.5707963267948966;

constexpr uInt32 kStyleBits = kScaleEndLabels | kScaleEndTicks | kScaleInnerLabels | kScaleInnerTicks | kScaleMinorTicks;
constexpr uInt32 kTickBits = kScaleEndTicks | kScaleInnerTicks | kScaleMinorTicks;
constexpr uInt32 kLabelBits = kScaleEndLabels | kScaleInnerLabels;

uInt32 Flags(ObjHeap heap, int32 obj) { return OHWord(heap, uInt32(obj)); }
int16 Pinned(float64 x) {
  if (!std::isfinite(x)) return 0;
  x = std::floor(x + 0.5);
  return int16(x < -32768 ? -32768 : x > 32767 ? 32767 : x);
}

// The scale's text list: the owner's answer for the scale's data when it
// is a handle (any other answer is no list).
UHandle OwnerTextList(ObjHeap heap, int32 scale) {
  const int32 owner = ObjWord(heap, scale, kPWOwner);
  if (!ScaleHasBytes(heap, owner, kObjBounds)) return nullptr;
  const auto list = reinterpret_cast<UHandle>(uintptr_t(uInt32(OGetDataPtr(heap, owner, scale, kDataPtrOperate, nullptr))));
  if (!list || (DSCheckHandle(list) != kNoErr && AZCheckHandle(list) != kNoErr)) return nullptr;
  return list;
}

}  // namespace

UHandle ScaleTextList(ObjHeap heap, int32 scale) { return heap && *heap && scale ? OwnerTextList(heap, scale) : nullptr; }

void ScaleArcBounds(const ScaleRec* r, Rect* bounds) {
  if (!bounds) return;
  *bounds = Rect{0, 0, 0, 0};
  if (!r) return;
  const float64 cv = r->centre.v, ch = r->centre.h, rad = r->radius;
  if (!(r->sweep < kTwoPi)) {
    *bounds = Rect{Pinned(cv - rad), Pinned(ch - rad), Pinned(cv + rad), Pinned(ch + rad)};
    return;
  }
  // The two ends and every quarter of the circle the arc passes, clockwise
  // (decreasing angle) from the start.
  const float64 from = r->startAngle - r->sweep, to = r->startAngle;
  if (!std::isfinite(from) || !std::isfinite(to)) return;
  float64 top = cv - rad * std::sin(to), bottom = top, left = ch + rad * std::cos(to), right = left;
  auto add = [&](float64 a) {
    const float64 v = cv - rad * std::sin(a), h = ch + rad * std::cos(a);
    top = std::min(top, v), bottom = std::max(bottom, v), left = std::min(left, h), right = std::max(right, h);
  };
  add(from);
  for (float64 q = std::ceil(from / kHalfPi) * kHalfPi; q < to; q += kHalfPi) add(q);
  *bounds = Rect{Pinned(top), Pinned(left), Pinned(bottom), Pinned(right)};
}

void ScaleGetPartsRect(ObjHeap heap, int32 scale, Rect* rect, Bool32 withLabels, Bool32 withTicks) {
  if (!rect) return;
  *rect = Rect{0, 0, 0, 0};
  const ScaleRec* r = heap && *heap && scale ? ScaleRecOf(heap, scale) : nullptr;
  if (!r) return;
  const uInt32 flags = Flags(heap, scale);
  const uInt32 style = (flags & kScaleHidden) ? flags & ~kStyleBits : flags;
  if (!(style & kTickBits) && (!withLabels || !(style & kLabelBits))) return;
  Rect area{0, 0, 0, 0};
  // Ticks drawn as lines from the label radius: the arc is part of the area.
  if ((style & kScaleRound) && (style & kScaleEndTicks) &&
      ScalePartIsLine(heap, FindPart(heap, scale, kScalePartTick, 0))) {
    const ScaleRec rec = *r;
    ScaleArcBounds(&rec, &area);
  }
  const uInt32 callerMode = (withLabels ? uInt32(kScaleUnionLabels) : 0u) | (withTicks ? uInt32(kScaleUnionTicks) : 0u);
  ScaleForEachMarker(heap, scale, &ScaleUnionMarkerRect, &area, nullptr, 0, callerMode, OwnerTextList(heap, scale));
  *rect = area;
}

MgErr ScaleRecalc(ObjHeap heap, int32 scale) {
  if (!heap || !*heap || !ScaleRecOf(heap, scale)) return kNoErr;
  const UHandle texts = OwnerTextList(heap, scale);
  int32 count = 0;
  ScaleForEachMarker(heap, scale, &ScaleCountMarkers, &count, nullptr,
                     kScaleWalkPositions | kScaleWalkEndTicks | kScaleWalkInnerTicks, 0, texts);
  PutNative16(*heap + scale + kScaleObjMarkerCount, uInt16(std::min(count, 32767)));
  Rect inner{0, 0, 0, 0};
  ScaleGetPartsRect(heap, scale, &inner, 1, 1);
  std::memcpy(*heap + scale + kScaleObjInner, &inner, sizeof inner);
  // The bounds: the inner rectangle with every part but the label and ticks.
  Rect bounds = inner;
  ForEachPart(heap, scale, [&](int32 part) {
    const int16 id = ObjInt16(heap, part, kObjPartId);
    if (id == kScalePartLabel || id == kScalePartTick || id == kScalePartMinorTick) return;
    Rect r{0, 0, 0, 0};
    OGetRect(heap, part, &r, 1);
    ScaleUnite(&bounds, r);
  });
  std::memcpy(*heap + scale + kScaleObjBounds, &bounds, sizeof bounds);
  return kNoErr;
}

void ScaleStyleFlags(ObjHeap heap, int32 scale, int32* styleOut, const int32* styleIn, Bool32* ok) {
  if (ok) *ok = 0;
  if (!heap || !*heap || !ScaleHasBytes(heap, scale, 4)) return;
  uInt32 f = Flags(heap, scale);
  if (styleIn) {
    const int32 s = *styleIn;
    if (s < 1 || s > 9) return;
    if (s == 6) {
      f |= kScaleHidden;
    } else {
      f &= ~(kScaleHidden | kStyleBits);
      if (s == 1 || s == 4 || s == 7) f |= kScaleEndLabels | kScaleInnerLabels;
      if (s == 2 || s == 5 || s == 8) f |= kScaleEndLabels;
      if (s <= 3 || s >= 7) f |= kScaleEndTicks | (s == 2 ? 0u : uInt32(kScaleInnerTicks));
      if (s >= 7) f |= kScaleMinorTicks;
    }
    OHSetWord(heap, uInt32(scale), f);
  }
  if (ok) *ok = 1;
  if (!styleOut) return;
  if (f & kScaleHidden) {
    *styleOut = 6;
    return;
  }
  const int32 a = !(f & (kScaleEndLabels | kScaleInnerLabels)) ? 3 : !(f & kScaleInnerLabels) ? 2 : 1;
  if (!(f & kScaleEndTicks)) *styleOut = a + 3;
  else *styleOut = (f & kScaleMinorTicks) ? a + 6 : a;
}

Bool32 GraphPartApplies(ObjHeap heap, int32 scale) {
  if (!heap || !*heap || !ScaleHasBytes(heap, scale, kObjBounds)) return 1;
  const int32 graph = ObjWord(heap, scale, kPWOwner);
  if (!ScaleHasBytes(heap, graph, kPanelGraphKindByte + 2) || !ObjIsA(heap, graph, kClsGraphChart)) return 1;
  const int32 kind = GetNative16(*heap + graph + kPanelGraphKindByte);
  const int16 id = ObjInt16(heap, scale, kObjPartId);
  if (id == 18) return !(kind == 3 || kind == 4 || (kind >= 101 && kind <= 199));
  if (id == 19) return !(kind == 3 || kind == 4 || (kind >= 104 && kind <= 106));
  return 1;
}

namespace {

// The text part of the chain scale → owner (a slide, knob or colour ramp)
// → its display (part 8001) → the display's text part (part 12); 0 where
// a link is missing, reported when report is set.
int32 TextLabelPart(ObjHeap heap, int32 scale, bool report) {
  const int32 owner = ScaleHasBytes(heap, scale, kObjBounds) ? ObjWord(heap, scale, kPWOwner) : 0;
  const int32 cls = ScaleHasBytes(heap, owner, kObjBounds) ? ObjClass(heap, owner) : 0;
  if (cls != kClsSlide && cls != kClsKnob && cls != kClsColorRamp) {
    if (report) DBAssert(__FILE__, __LINE__, "scale: text labels without a slide, knob or colour ramp");
    return 0;
  }
  const int32 digital = FindPart(heap, owner, kPartDigital, 0);
  const int32 text = digital ? FindPart(heap, digital, kPartRingText, 0) : 0;
  if (!text || !ScaleHasBytes(heap, text, kRingTextWord + 4)) {
    DBAssert(__FILE__, __LINE__, "scale: no text-label part");
    return 0;
  }
  return text;
}

}  // namespace

UHandle SlideScaleMarkerList(ObjHeap heap, int32 scale) {
  if (!heap || !*heap || !ScaleHasBytes(heap, scale, 4) || !(Flags(heap, scale) & kScaleTextLabels)) return nullptr;
  const int32 text = TextLabelPart(heap, scale, false);
  return text ? reinterpret_cast<UHandle>(uintptr_t(OHWord(heap, uInt32(text + kRingTextWord)))) : nullptr;
}

Bool32 ScaleCheckTextLabels(ObjHeap heap, int32 scale) {
  return heap && *heap && TextLabelPart(heap, scale, true) != 0;
}
