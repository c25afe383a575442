// Scale and colour-scale properties.  A property names one member of a
// scale cluster by its pre-order number; a cluster number reads or writes its
// members in order, each value at its own aligned place in the caller's data.
#include "controls/scaleattr.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "controls/ctlsize.h"
#include "controls/graph.h"
#include "controls/graphattr.h"
#include "controls/graphintensity.h"
#include "controls/scaleobj.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/window/wport.h"
#include "panel/attrtd.h"
#include "panel/attrcall.h"
#include "panel/ctlattr.h"
#include "panel/ctrl_internal.h"
#include "panel/numfmt.h"
#include "panel/oinval.h"
#include "rtlib/arraysize.h"

namespace {

using attrtd::ArrayElem;
using attrtd::ClearOutput;

constexpr uInt32 kFlagNotEditable = 0x1, kFlagFlipFixed = 0x10000, kFlagFlipInvert = 0x200000,
                 kFlagFixedIncrement = 0x1000000, kFlagArbitraryIncrement = 0x4000000, kFlagStepped = 0x80000,
                 kFlagIgnoreColorArray = 0x100000, kGraphFlagFitOnce = 0x20000, kGraphFlagPlotsChanged = 0x100000;
constexpr int32 kReplyStyle = 0x20080, kReplyRange = 0x20280, kRedrawn = 0x20000;
constexpr int16 kPartColourHigh = 8012, kPartColourLow = 8013;

// ---- Pre-order members ----------------------------------------------------------------
// A cluster layout by member number: how many direct members each number
// has (0 for a value).
struct Layout {
  const int8* kids;
  int32 count;
};
// Short form: 0 {1 style, 2 {3, 4}, 5 {6, 7, 8}, 9, 10, 11}.
constexpr int8 kShortKids[12] = {6, 0, 2, 0, 0, 3, 0, 0, 0, 0, 0, 0};
// Graph form: 0 {1 fit, 2 {3, 4}, 5, 6 {7, 8}, 9 {10, 11, 12}, 13, 14, 15}.
constexpr int8 kInfoKids[16] = {8, 0, 2, 0, 0, 0, 2, 0, 0, 3, 0, 0, 0, 0, 0, 0};
// Colour scale, short form after 4: 0 {1, 2, 3, 4, then the members 5..}.
constexpr int8 kRampKids[16] = {10, 0, 0, 0, 0, 0, 2, 0, 0, 3, 0, 0, 0, 0, 0, 0};
constexpr int8 kZKids[20] = {12, 0, 0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 3, 0, 0, 0, 0, 0, 0};

int32 SubtreeSize(const Layout& l, int32 k) {
  int32 n = 1, child = k + 1;
  for (int32 i = 0; i < l.kids[k] && child < l.count; ++i) {
    const int32 s = SubtreeSize(l, child);
    n += s;
    child += s;
  }
  return n;
}

// Calls leaf(number, descriptor, value) for every value member under k;
// a cluster whose descriptor does not hold the members is skipped.
template <class Leaf>
void Walk(const Layout& l, int32 k, const TypeDescriptor* td, uChar* value, Leaf&& leaf) {
  if (!td || !value || k < 0 || k >= l.count) return;
  td = SkipTypedefs(td);
  if (!td) return;
  if (!l.kids[k]) {
    leaf(k, td, value);
    return;
  }
  if (td->code != kTDCluster || int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) < l.kids[k]) return;
  int32 child = k + 1;
  int32 at = int32(uintptr_t(value));
  for (int32 i = 0; i < l.kids[k] && child < l.count; ++i) {
    const TypeDescriptor* el = SkipTypedefs(ElemTD(td, i));
    if (!el) return;
    at = AlignDatum(el, at);
    Walk(l, child, el, reinterpret_cast<uChar*>(uintptr_t(uInt32(at))), leaf);
    at += DataSize(el);
    child += SubtreeSize(l, child);
  }
}

bool TakeI32(const TypeDescriptor* td, const void* v, int32* out) { return AttrPutNum(td, v, kTDI32, out); }
bool TakeDbl(const TypeDescriptor* td, const void* v, float64* out) { return AttrPutNum(td, v, kTDDBL, out); }
bool TakeU32(const TypeDescriptor* td, const void* v, uInt32* out) { return AttrPutNum(td, v, kTDU32, out); }
void GiveI32(const TypeDescriptor* td, void* v, int32 x) { AttrGetNum(td, v, kTDI32, &x); }
void GiveDbl(const TypeDescriptor* td, void* v, float64 x) { AttrGetNum(td, v, kTDDBL, &x); }
void GiveU32(const TypeDescriptor* td, void* v, uInt32 x) { AttrGetNum(td, v, kTDU32, &x); }
bool Finite(float64 v) { return ClassifyFloatNumber(kTDDBL, &v) == 0; }

uInt32 PartFlags(ObjHeap heap, int32 part) { return ctrl::Flags(heap, part); }

// The scale part and its record; 0 when the part does not exist or has no
// record (a damaged panel from a file: the property fails quietly).
int32 ScalePart(ObjHeap heap, int32 object, int32 partId, int32 order, ScaleRec** rec) {
  *rec = nullptr;
  if (!ctrl::IsObj(heap, object)) return 0;
  const int32 part = FindPart(heap, object, partId, order);
  if (!ctrl::IsObj(heap, part)) return 0;
  *rec = ScaleRecOf(heap, part);
  return *rec ? part : 0;
}

void InvalScale(ObjHeap heap, int32 scale) { OInval(heap, scale, kInvalAll); }
void Recompute(ObjHeap heap, int32 scale) {
  InvalScale(heap, scale);
  ScaleRecalc(heap, scale);
  InvalScale(heap, scale);
}
// The increment chosen anew for the scale's range.
void Revalidate(ObjHeap heap, int32 scale) {
  InvalScale(heap, scale);
  ScaleRecalc(heap, scale);
  int32 unused = 0;
  ScaleSetRangeValue(heap, scale, -2, 0, &unused);
  ScaleRecalc(heap, scale);
  InvalScale(heap, scale);
}

int32 CurrentStyle(ObjHeap heap, int32 scale) {
  int32 style = 0;
  ScaleStyleFlags(heap, scale, &style, nullptr, nullptr);
  return style;
}

float64 CurrentIncrement(const ScaleRec* r) {
  return r->mapping == kScaleLinear ? r->increment * r->multiplier : r->increment;
}

// The values a set gathers before it applies them.
struct ScaleValues {
  bool has[12] = {};
  int32 i[12] = {};
  float64 d[12] = {};
};

}  // namespace

// ---- Queries --------------------------------------------------------------------------

Bool32 ScaleIsFlipped(const ScaleRec* r, uInt32 flags) {
  if (!r) return 0;
  const float64 a = r->min, b = r->max;
  bool flipped;
  if (flags & kFlagFlipFixed) {
    flipped = a > b;
  } else {
    flipped = (r->pixelStart < r->pixelEnd) == (a < b);
    if (flags & kFlagFlipInvert) flipped = !flipped;
  }
  if (r->multiplier < 0) flipped = !flipped;
  return flipped ? 1 : 0;
}

void ScaleRangeEnds(const ScaleRec* r, float64* min, float64* max) {
  const float64 a = r->min * r->multiplier + r->offset, b = r->max * r->multiplier + r->offset;
  if (b < a) {
    *min = b;
    *max = a;
  } else {
    *min = a;
    *max = b;
  }
}

// ---- Short form -----------------------------------------------------------------------

int32 ScaleAttrGet(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index, const TypeDescriptor* td,
                   void* value) {
  ScaleRec* r = nullptr;
  const int32 scale = ScalePart(heap, object, partId, partOrder, &r);
  if (!scale || !r) return 0;
  const uInt32 flags = PartFlags(heap, scale);
  int16 kind = 0, precision = 0;
  DecodeNumFormat(ctrl::Has(heap, scale, kScaleObjFormat + 2) ? ObjInt16(heap, scale, kScaleObjFormat) : 0, &kind,
                  &precision);
  float64 lo = 0, hi = 0;
  ScaleRangeEnds(r, &lo, &hi);
  Walk(Layout{kShortKids, 12}, index, td, static_cast<uChar*>(value),
       [&](int32 k, const TypeDescriptor* t, uChar* v) {
         switch (k) {
           case 1: GiveI32(t, v, CurrentStyle(heap, scale) - 1); break;
           case 3: GiveI32(t, v, kind); break;
           case 4: GiveI32(t, v, precision); break;
           case 6: GiveDbl(t, v, lo); break;
           case 7: GiveDbl(t, v, hi); break;
           case 8: GiveDbl(t, v, CurrentIncrement(r)); break;
           case 9: AttrPutBool(t, v, ScaleIsFlipped(r, flags)); break;
           case 10: GiveI32(t, v, r->mapping); break;
           case 11: AttrPutBool(t, v, !(flags & kFlagNotEditable)); break;
           default: break;
         }
       });
  return 0;
}

int32 ScaleAttrSet(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index, const TypeDescriptor* td,
                   void* value) {
  ScaleRec* r = nullptr;
  const int32 scale = ScalePart(heap, object, partId, partOrder, &r);
  if (!scale || !r || index < 0 || index > 11) return 0;
  ScaleValues in;
  Walk(Layout{kShortKids, 12}, index, td, static_cast<uChar*>(value),
       [&](int32 k, const TypeDescriptor* t, uChar* v) {
         if (k == 6 || k == 7 || k == 8) {
           in.has[k] = TakeDbl(t, v, &in.d[k]);
         } else if (k == 9 || k == 11) {
           bool on = false;
           in.has[k] = AttrGetBool(t, v, &on);
           in.i[k] = on;
         } else {
           in.has[k] = TakeI32(t, v, &in.i[k]);
         }
       });
  int32 reply = 0;
  // 1. Style.
  // Styles 1..9 only; others are refused by the style setter anyway.
  if (in.has[1] && in.i[1] >= 0 && in.i[1] < 9 && in.i[1] + 1 != CurrentStyle(heap, scale)) {
    const int32 style = in.i[1] + 1;
    Bool32 ok = 0;
    const Rect before = ScalePartBounds(heap, scale);
    ScaleStyleFlags(heap, scale, nullptr, &style, &ok);
    if (ok) {
      InvalPanelRect(heap, &before);
      ScaleRecalc(heap, scale);
      InvalScale(heap, scale);
      reply |= kReplyStyle;
    }
  }
  // 2. Format and precision.
  if ((in.has[3] || in.has[4]) && ctrl::Has(heap, scale, kScaleObjFormat + 2)) {
    const int16 stored = ObjInt16(heap, scale, kScaleObjFormat);
    int16 kind = 0, precision = 0;
    DecodeNumFormat(stored, &kind, &precision);
    const int16 newKind = in.has[3] ? int16(in.i[3]) : kind, newPrecision = in.has[4] ? int16(in.i[4]) : precision;
    NumFormatCode code = stored;
    if ((newKind != kind || newPrecision != precision) && EncodeNumFormat(&code, newKind, newPrecision) &&
        code != stored && AttrNumTypeCheck(kTDDBL, code)) {
      PutNative16(*heap + scale + kScaleObjFormat, uInt16(code));
      r = ScaleRecOf(heap, scale);
      if (r) Revalidate(heap, scale);
      reply |= kReplyStyle;
    }
  }
  r = ScaleRecOf(heap, scale);
  if (!r) return reply;
  // 3. Range.
  if (in.has[6] || in.has[7]) {
    float64 lo = 0, hi = 0;
    ScaleRangeEnds(r, &lo, &hi);
    if (in.has[6] && Finite(in.d[6])) lo = in.d[6];
    if (in.has[7] && Finite(in.d[7])) hi = in.d[7];
    if (index == 6 && lo >= hi) hi = lo == 0 ? 1.0 : lo + std::fabs(lo * 0.1);
    if (index == 7 && lo >= hi) lo = hi == 0 ? -1.0 : hi - std::fabs(hi * 0.1);
    Bool32 changed = 0;
    CalcScaleMarkers(heap, scale, (lo - r->offset) / r->multiplier, (hi - r->offset) / r->multiplier, 1, 0,
                     &changed);
    if (changed) reply |= kReplyRange;
    r = ScaleRecOf(heap, scale);
    if (!r) return reply;
  }
  // 4. Increment.
  if (in.has[8] && in.d[8] != CurrentIncrement(r) &&
      (PartFlags(heap, scale) & (kFlagFixedIncrement | kFlagArbitraryIncrement))) {
    float64 lo = 0, hi = 0;
    ScaleRangeEnds(r, &lo, &hi);
    const float64 next = r->mapping == kScaleLog ? lo * in.d[8] : lo + in.d[8];
    int32 newIndex = -1;
    if (ScaleSetRangeValue(heap, scale, -1, next, &newIndex)) {
      Recompute(heap, scale);
      reply |= kReplyRange;
    }
    r = ScaleRecOf(heap, scale);
    if (!r) return reply;
  }
  // 5. Flipped.
  if (in.has[9] && bool(in.i[9]) != bool(ScaleIsFlipped(r, PartFlags(heap, scale)))) {
    InvalScale(heap, scale);
    std::swap(r->min, r->max);
    ScaleRecalc(heap, scale);
    InvalScale(heap, scale);
    reply |= kReplyRange;
    r = ScaleRecOf(heap, scale);
    if (!r) return reply;
  }
  // 6. Mapping.
  if (in.has[10] && (in.i[10] == 0 || in.i[10] == 1) && in.i[10] != r->mapping &&
      (in.i[10] == 0 || GraphPartApplies(heap, scale))) {
    r->mapping = ScaleMapping(in.i[10]);
    Revalidate(heap, scale);
    reply |= kReplyRange;
  }
  // 7. Editable.
  if (in.has[11]) {
    const uInt32 f = PartFlags(heap, scale);
    if (bool(in.i[11]) != !(f & kFlagNotEditable)) ctrl::SetFlags(heap, scale, f ^ kFlagNotEditable);
  }
  return reply;
}

// ---- Graph form -----------------------------------------------------------------------

namespace {

uInt32 AutoBit(int32 partId) {
  return partId == kGPartXScale ? kGraphFlagAutoX : partId == kGPartYScale ? kGraphFlagAutoY : kGraphFlagAutoZ;
}

}  // namespace

int32 ScaleInfoAttrGet(ObjHeap heap, int32 object, int32 index, const TypeDescriptor* td, void* value, int32 partId,
                       int32 partOrder) {
  ScaleRec* r = nullptr;
  const int32 scale = ScalePart(heap, object, partId, partOrder, &r);
  if (!scale || !r || index < 0 || index > 15) return 0;
  const bool autoOn = ctrl::Flags(heap, object) & AutoBit(partId);
  const float64 offset = r->offset, multiplier = r->multiplier;
  Walk(Layout{kInfoKids, 16}, index, td, static_cast<uChar*>(value),
       [&](int32 k, const TypeDescriptor* t, uChar* v) {
         if (k == 1) GiveI32(t, v, autoOn ? 2 : 0);
         else if (k == 3) GiveDbl(t, v, offset);
         else if (k == 4) GiveDbl(t, v, multiplier);
         else if (k >= 5) ScaleAttrGet(heap, object, partId, partOrder, k - 4, t, v);
       });
  return 0;
}

int32 ScaleInfoAttrSet(ObjHeap heap, int32 object, int32 index, const TypeDescriptor* td, void* value, int32 partId,
                       int32 partOrder, int32 immediate, int32 deferred, int32 second) {
  ScaleRec* r = nullptr;
  const int32 scale = ScalePart(heap, object, partId, partOrder, &r);
  if (!scale || !r || index < 0 || index > 15) return 0;
  int32 reply = 0;
  bool hasFit = false, hasOffset = false, hasMultiplier = false;
  int32 fit = -1;
  float64 offset = r->offset, multiplier = r->multiplier;
  // The short form's members are handed on whole: the cluster's one call
  // keeps the range rules of a whole-cluster write.
  Walk(Layout{kInfoKids, 16}, index, td, static_cast<uChar*>(value),
       [&](int32 k, const TypeDescriptor* t, uChar* v) {
         if (k == 1) hasFit = TakeI32(t, v, &fit);
         else if (k == 3) hasOffset = TakeDbl(t, v, &offset);
         else if (k == 4) hasMultiplier = TakeDbl(t, v, &multiplier);
       });
  // 1. Fit.
  if (hasFit) {
    const uInt32 bit = AutoBit(partId);
    const uInt32 flags = ctrl::Flags(heap, object);
    const bool on = flags & bit;
    if (partId != kGPartZScale && ((fit == 2 && !on) || (fit == 0 && on))) {
      const bool x = partId == kGPartXScale;
      for (int32 id : {x ? 34 : 35, x ? 36 : 37}) {
        const int32 button = FindPart(heap, object, id, 0);
        if (ctrl::IsObj(heap, button)) OInval(heap, button, kInvalAll);
      }
    }
    if (fit == 1) {
      ctrl::SetFlags(heap, object, (flags & ~kGraphAutoscaleMask) | bit | kGraphFlagFitOnce);
      const int32 redraw = AttrRedraw(heap, object, 1, deferred, second, 1);
      reply |= redraw;
      const WindowRef window = WindowRef(ctrl::Ext(heap, kHeapExtWindow));
      if ((redraw & kRedrawn) && window) WUpdate(window);
      ctrl::SetFlags(heap, object, flags);
    } else if (fit == 2) {
      ctrl::SetFlags(heap, object, flags | bit);
      reply |= AttrRedraw(heap, object, immediate, deferred, second, 1);
    } else if (fit == 0) {
      ctrl::SetFlags(heap, object, flags & ~bit);
    }
    r = ScaleRecOf(heap, scale);
    if (!r) return reply;
  }
  // 2. Offset and multiplier.
  if (hasOffset || hasMultiplier) {
    if (!Finite(offset)) offset = r->offset;
    if (multiplier == 0 || !Finite(multiplier)) multiplier = r->multiplier;
    if (offset != r->offset || multiplier != r->multiplier) {
      r->offset = offset;
      r->multiplier = multiplier;
      Revalidate(heap, scale);
      reply |= kReplyRange;
    }
  }
  // 3. The short form's members.
  if (index == 0 || index >= 5) {
    int32 sub = index == 0 ? 0 : index - 4;
    const TypeDescriptor* t = td;
    uChar* v = static_cast<uChar*>(value);
    if (index == 0) {
      // The whole cluster: its members after the fit and the offset pair
      // are the short form's, in its order.
      int32 scaleReply = 0;
      // Style, format cluster, range cluster, flipped, mapping, editable.
      const TypeDescriptor* cl = SkipTypedefs(td);
      if (cl && cl->code == kTDCluster && int16(GetNative16(reinterpret_cast<const uChar*>(cl) + 4)) >= 8) {
        int32 at = int32(uintptr_t(v));
        const int32 members[8] = {0, 0, 1, 2, 5, 9, 10, 11};
        for (int32 i = 0; i < 8; ++i) {
          const TypeDescriptor* el = SkipTypedefs(ElemTD(cl, i));
          if (!el) break;
          at = AlignDatum(el, at);
          if (i >= 2)
            scaleReply |= ScaleAttrSet(heap, object, partId, partOrder, members[i], el,
                                       reinterpret_cast<void*>(uintptr_t(uInt32(at))));
          at += DataSize(el);
        }
      }
      sub = -1;
      reply |= scaleReply;
      if (partId != kGPartZScale && (scaleReply & kScaleReplyArrayEnds)) {
        OffsetGraphCursors(heap, object);
        reply &= ~kScaleReplyMarkers;
      }
      if ((scaleReply & kScaleReplyArrayEnds) && !immediate) {
        OInval(heap, object, kInvalAll);
        ctrl::SetFlags(heap, object, ctrl::Flags(heap, object) | kGraphFlagPlotsChanged);
        reply |= kRedrawn;
      }
    }
    if (sub > 0) {
      const int32 scaleReply = ScaleAttrSet(heap, object, partId, partOrder, sub, t, v);
      reply |= scaleReply;
      if (partId != kGPartZScale && (scaleReply & kScaleReplyArrayEnds)) {
        OffsetGraphCursors(heap, object);
        reply &= ~kScaleReplyMarkers;
      }
      if ((scaleReply & kScaleReplyArrayEnds) && !immediate) {
        OInval(heap, object, kInvalAll);
        ctrl::SetFlags(heap, object, ctrl::Flags(heap, object) | kGraphFlagPlotsChanged);
        reply |= kRedrawn;
      }
    }
  }
  return reply;
}

// ---- Colour scales --------------------------------------------------------------------

namespace {

// The colour-table entry of the graph's intensity record, or null.
uChar* TableEntry(ObjHeap heap, int32 object, int32 i) {
  IntensityRec* rec = IntensityRecOf(heap, object);
  if (!rec || !rec->colorTable || DSCheckHandle(rec->colorTable) != kNoErr ||
      DSGetHandleSize(rec->colorTable) < kColorTableBytes)
    return nullptr;
  return *rec->colorTable + 4 + 4 * i;
}

uInt32 OutOfRange(ObjHeap heap, int32 object, int32 partId, const ScaleRec* r, int32 which) {
  if (partId == kGPartZScale) {
    const uChar* e = TableEntry(heap, object, which ? 255 : 0);
    return e ? GetNative32(e) : 0;
  }
  return r->endParts[which];
}

// The marker element's two members: the value and the colour.
bool MarkerMembers(const TypeDescriptor* elem, int32* valueAt, const TypeDescriptor** valueTD, int32* colourAt,
                   const TypeDescriptor** colourTD) {
  elem = SkipTypedefs(elem);
  if (!elem || elem->code != kTDCluster || int16(GetNative16(reinterpret_cast<const uChar*>(elem) + 4)) < 2)
    return false;
  *valueTD = SkipTypedefs(ElemTD(elem, 0));
  *colourTD = SkipTypedefs(ElemTD(elem, 1));
  if (!*valueTD || !*colourTD) return false;
  *valueAt = AlignDatum(*valueTD, 0);
  *colourAt = AlignDatum(*colourTD, *valueAt + DataSize(*valueTD));
  return true;
}

const Layout ColourLayout(int32 partId) {
  return partId == kGPartZScale ? Layout{kZKids, 20} : Layout{kRampKids, 16};
}

}  // namespace

int32 ColorScaleAttrGet(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index,
                        const TypeDescriptor* td, void* value) {
  ScaleRec* r = nullptr;
  const int32 scale = ScalePart(heap, object, partId, partOrder, &r);
  const Layout l = ColourLayout(partId);
  if (!scale || !r || index < 0 || index >= l.count) return 0;
  int32 reply = 0;
  Walk(l, index, td, static_cast<uChar*>(value), [&](int32 k, const TypeDescriptor* t, uChar* v) {
    r = ScaleRecOf(heap, scale);
    if (!r || reply) return;
    switch (k) {
      case 1: AttrPutBool(t, v, !(PartFlags(heap, scale) & kFlagStepped)); return;
      case 2: case 3: GiveU32(t, v, OutOfRange(heap, object, partId, r, k - 2)); return;
      case 4: {
        if (t->code != kTDArray) return;
        const TypeDescriptor* elem = ArrayElem(t);
        int32 valueAt = 0, colourAt = 0;
        const TypeDescriptor *vt = nullptr, *ct = nullptr;
        if (!MarkerMembers(elem, &valueAt, &vt, &colourAt, &ct)) return;
        const UHandle markers = r->markers;
        int32 n = 0;
        if (markers && DSCheckHandle(markers) == kNoErr && DSGetHandleSize(markers) >= 4) {
          n = std::max<int32>(0, int32(GetNative32(*markers)));
          n = std::min(n, (DSGetHandleSize(markers) - 4) / kScaleMarkerEntry);
        }
        auto* array = reinterpret_cast<ArrayHandle*>(v);
        if (!ClearOutput(v, 1)) return;
        int32 count = n;
        int32* counts = &count;
        if (VectorResize(elem, array, &counts) != kNoErr) {
          reply = kAttrReplyMemFull;
          return;
        }
        r = ScaleRecOf(heap, scale);
        if (!r || !*array) return;
        const int32 size = DataSize(elem);
        const int32 first = AlignDatum(elem, 4);
        for (int32 i = 0; i < n; ++i) {
          const uChar* m = *r->markers + 4 + kScaleMarkerEntry * i;
          float64 mv;
          std::memcpy(&mv, m, 8);
          const uInt32 mc = GetNative32(m + 8);
          uChar* e = reinterpret_cast<uChar*>(**array) + first + size * i;
          AttrGetNum(vt, e + valueAt, kTDDBL, &mv);
          AttrGetNum(ct, e + colourAt, kTDU32, &mc);
        }
        return;
      }
      default:
        if (k < 5) return;
        if (partId == kGPartZScale) ScaleInfoAttrGet(heap, object, k - 4, t, v, partId, partOrder);
        else ScaleAttrGet(heap, object, partId, partOrder, k - 4, t, v);
        return;
    }
  });
  return reply;
}

int32 ColorScaleAttrSet(ObjHeap heap, int32 object, int32 partId, int32 partOrder, int32 index,
                        const TypeDescriptor* td, void* value, int32 deferred, int32 second) {
  ScaleRec* r = nullptr;
  const int32 scale = ScalePart(heap, object, partId, partOrder, &r);
  const Layout l = ColourLayout(partId);
  if (!scale || !r || index < 0 || index >= l.count) return 0;
  bool colourChanged = false, sizeChanged = false, anyChanged = false;
  int32 reply = 0;
  bool failed = false;
  Walk(l, index, td, static_cast<uChar*>(value), [&](int32 k, const TypeDescriptor* t, uChar* v) {
    if (failed) return;
    r = ScaleRecOf(heap, scale);
    if (!r) return;
    switch (k) {
      case 1: {
        bool on = false;
        if (!AttrGetBool(t, v, &on)) return;
        const uInt32 f = PartFlags(heap, scale);
        if (on != !(f & kFlagStepped)) {
          ctrl::SetFlags(heap, scale, f ^ kFlagStepped);
          anyChanged = true;
        }
        return;
      }
      case 2: case 3: {
        uInt32 c = 0;
        if (!TakeU32(t, v, &c)) return;
        c &= 0xFFFFFF;
        const int32 which = k - 2;
        if (partId == kGPartZScale) {
          uChar* e = TableEntry(heap, object, which ? 255 : 0);
          if (e && GetNative32(e) != c) {
            PutNative32(e, c);
            r->endParts[which] = c;
            colourChanged = anyChanged = true;
          }
        } else if (r->endParts[which] != c) {
          r->endParts[which] = c;
          colourChanged = anyChanged = true;
        }
        return;
      }
      case 4: {
        if (t->code != kTDArray) return;
        const TypeDescriptor* elem = ArrayElem(t);
        int32 valueAt = 0, colourAt = 0;
        const TypeDescriptor *vt = nullptr, *ct = nullptr;
        if (!MarkerMembers(elem, &valueAt, &vt, &colourAt, &ct)) return;
        const UHandle given = *reinterpret_cast<UHandle*>(v);
        const int32 size = DataSize(elem), first = AlignDatum(elem, 4);
        int32 n = 0;
        if (given && DSCheckHandle(given) == kNoErr && DSGetHandleSize(given) >= 4 && size > 0) {
          n = std::max<int32>(0, int32(GetNative32(*given)));
          n = std::min(n, std::max(0, (DSGetHandleSize(given) - first) / size));
        }
        const int32 wanted = std::max(n, 2);
        int32 current = 0;
        if (r->markers && DSCheckHandle(r->markers) == kNoErr && DSGetHandleSize(r->markers) >= 4)
          current = std::clamp<int32>(int32(GetNative32(*r->markers)), 0,
                                      (DSGetHandleSize(r->markers) - 4) / kScaleMarkerEntry);
        std::vector<uChar> kept;
        if (wanted == current) kept.assign(*r->markers, *r->markers + 4 + kScaleMarkerEntry * current);
        if (ScaleResizeMarkers(r, wanted) != kNoErr) {
          failed = true;
          return;
        }
        r = ScaleRecOf(heap, scale);
        if (!r || !r->markers) return;
        // Only the given markers are copied; a list written with fewer than
        // two keeps its other markers as they were.
        for (int32 i = 0; i < n; ++i) {
          const uChar* e = *given + first + size * i;
          float64 mv = 0;
          uInt32 mc = 0;
          AttrPutNum(vt, e + valueAt, kTDDBL, &mv);
          AttrPutNum(ct, e + colourAt, kTDU32, &mc);
          uChar* m = *r->markers + 4 + kScaleMarkerEntry * i;
          std::memcpy(m, &mv, 8);
          PutNative32(m + 8, mc & 0xFFFFFF);
        }
        ScaleSortMarkers(heap, scale);
        r = ScaleRecOf(heap, scale);
        if (partId == kGPartZScale && !(PartFlags(heap, scale) & kFlagIgnoreColorArray)) BuildColorTable(heap, object);
        r = ScaleRecOf(heap, scale);
        if (!r || !r->markers) return;
        if (kept.empty() || std::memcmp(kept.data(), *r->markers, kept.size()) != 0) {
          InvalScale(heap, scale);
          colourChanged = anyChanged = true;
        }
        return;
      }
      default:
        break;
    }
  });
  if (failed) return kAttrReplyMemFull;
  // 5. The scale members: one call for the chosen member or the whole rest.
  if (index == 0 || index >= 5) {
    int32 scaleReply = 0;
    if (index >= 5) {
      scaleReply = partId == kGPartZScale
                       ? ScaleInfoAttrSet(heap, object, index - 4, td, value, partId, partOrder, 1, deferred, second)
                       : ScaleAttrSet(heap, object, partId, partOrder, index - 4, td, value);
    } else {
      Walk(l, 0, td, static_cast<uChar*>(value), [&](int32 k, const TypeDescriptor* t, uChar* v) {
        if (k < 5) return;
        scaleReply |= partId == kGPartZScale
                          ? ScaleInfoAttrSet(heap, object, k - 4, t, v, partId, partOrder, 1, deferred, second)
                          : ScaleAttrSet(heap, object, partId, partOrder, k - 4, t, v);
      });
    }
    if (scaleReply & kScaleReplyArrayEnds) RescaleColorMarkers(heap, scale);
    if (scaleReply) {
      anyChanged = true;
      if (scaleReply & kScaleReplyMarkers) sizeChanged = true;
    }
  }
  if (colourChanged || sizeChanged) {
    for (int32 id : {kPartColourLow, kPartColourHigh}) {
      const int32 p = FindPart(heap, object, id, 0);
      if (ctrl::IsObj(heap, p)) {
        OInval(heap, p, kInvalAll);
        reply |= kRedrawn;
      }
    }
  }
  if (anyChanged) {
    const int32 ramp = FindPart(heap, object, kGPartZRamp, 0);
    if (ctrl::IsObj(heap, ramp)) {
      OInval(heap, ramp, kInvalAll);
      reply |= kRedrawn;
    }
    if (partId == kGPartZScale)
      ctrl::SetFlags(heap, object, ctrl::Flags(heap, object) | kGraphFlagPlotsChanged);
    OInval(heap, object, kInvalAll);
    reply |= kRedrawn;
  }
  return reply;
}

void ControlsInstallScaleAttrHooks() {
  const ScaleAttrHooks hooks{&ScaleAttrGet, &ScaleAttrSet, &ColorScaleAttrGet, &ColorScaleAttrSet};
  SetScaleAttrHooks(&hooks);
}
