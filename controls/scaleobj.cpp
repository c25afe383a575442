// The Scale object's marker array and the drags of sliders and needles.
#include "controls/scaleobj.h"

#include <cmath>
#include <cstring>

#include "controls/slideops.h"
#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/sorting.h"
#include "mgsource/draw/dport.h"
#include "mgsource/objlist.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "panel/ctrl_internal.h"
#include "panel/ctrldisplay.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/numincdec.h"
#include "panel/objdraw.h"
#include "panel/oinit.h"
#include "panel/oinval.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel/rangecheck.h"
#include "panel/transact.h"
#include "rtlib/arraysize.h"

namespace {

constexpr int32 kReplyRange = 0x280, kReplyFailedBit = 0x10;
constexpr int32 kPartSlider = 23, kPartTrack = 8, kPartFill = 31, kPartSliderDisplay = 8001, kPartDisplayText = 12;
constexpr uInt32 kKnobAbsolute = 0x1000000;  // the needle goes where the mouse points
constexpr uInt32 kOwnerModeItems = 0x80000;
constexpr uInt32 kPartBusy = 0x80000;
constexpr float64 kTwoPi = 6.283185307179586;

bool Live(ObjHeap heap, int32 object, int32 size) {
  return heap && *heap && object > 0 && OHIsUsedBlock(heap, object) && OHBlockSize(heap, object) >= size;
}
uInt32 Flags(ObjHeap heap, int32 object) { return uInt32(ObjWord(heap, object, 0)); }

// The marker array of the record and its count, checked against the handle.
UHandle Markers(const ScaleRec* r, int32* count) {
  *count = 0;
  UHandle m = r ? r->markers : nullptr;
  if (!m || DSCheckHandle(m) != kNoErr || !*m || DSGetHandleSize(m) < 4) return nullptr;
  const int32 n = int32(GetNative32(*m));
  if (n < 0 || int64(n) * kScaleMarkerEntry + 4 > DSGetHandleSize(m)) return nullptr;
  *count = n;
  return m;
}
float64 EntryValue(UHandle m, int32 i) {
  float64 v;
  std::memcpy(&v, *m + 4 + kScaleMarkerEntry * i, 8);
  return v;
}
void SetEntryValue(UHandle m, int32 i, float64 v) { std::memcpy(*m + 4 + kScaleMarkerEntry * i, &v, 8); }

// The numeric type a slide maps through its scale (no 64-bit integers).
int32 MappedType(ObjHeap heap, int32 object) {
  const int32 code = NumStepType(heap, object);
  return code != kTDI64 && code != kTDU64 ? code : 0;
}

// Stores a tracked value unless it equals the data or falls on a disabled
// item of the active slider's ring display (outside the owner mode).
void StoreTracked(ObjHeap heap, int32 slide, int32 type, const uChar* value, void* data, int32* changed) {
  const int32 size = NumSize(type);
  if (std::memcmp(value, data, size_t(size)) == 0) return;
  const int32 active = OHBlockSize(heap, slide) >= 4 * (kPWActiveElement + 1) ? ObjWord(heap, slide, kPWActiveElement) : 0;
  const int32 display = FindPart(heap, slide, kPartSliderDisplay, active);
  const UHandle vi = PanelHeapOwner(heap);
  const bool ownerMode = vi && *vi && (VIRec(vi)->flags2 & kOwnerModeItems);
  if (display && ObjIsA(heap, display, kClsRing) && !ownerMode && ObjItemData(heap, display) &&
      IsRingItemDisabled(heap, display, NumToLong(type, value)))
    return;
  std::memcpy(data, value, size_t(size));
  RecheckArrayEltRange(heap, slide);
  if (changed) *changed = 1;
}

bool TrackedPhase(int32 phase) { return phase == kSubPress || phase == kSubMove || phase == 4; }
bool TrackedPart(int32 part) { return part == kPartSlider || part == kPartTrack || part == kPartFill; }

// What a knob's drag keeps in the action record after the step state: the
// offset of the needle from the mouse at the press, and the last angle.
struct NeedleDrag {
  float64 offset;
  float64 last;
};
static_assert(sizeof(IncDecState) + sizeof(NeedleDrag) <= sizeof(ActionParams::words20), "the drag fits the record");
NeedleDrag* DragOf(ActionParams* p) {
  return reinterpret_cast<NeedleDrag*>(reinterpret_cast<uChar*>(p->words20) + sizeof(IncDecState));
}

}  // namespace

// ---- Marker array ----------------------------------------------------------------------------
MgErr ScaleResizeMarkers(ScaleRec* rec, int32 count) {
  if (!rec || count < 0) return kArgErr;
  UHandle m = rec->markers;
  if (m && DSCheckHandle(m) != kNoErr) return kArgErr;
  ArrayHandle a = reinterpret_cast<ArrayHandle>(m);
  const MgErr err = FlatHandleResize(kScaleMarkerEntry, 4, &a, count);
  if (err) return err;
  rec->markers = reinterpret_cast<UHandle>(a);
  PutNative32(*rec->markers, uInt32(count));
  return kNoErr;
}

int32 ScaleAddMarker(ObjHeap heap, int32 scale, float64 value) {
  ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return kReplyFailedBit;
  const uInt32 colour = (Flags(heap, scale) & kScaleColours) ? PanelLookupValue(heap, scale, value) : 0;
  int32 count = 0;
  if (r->markers && !Markers(r, &count)) return kReplyFailedBit;
  if (ScaleResizeMarkers(r, count + 1) != kNoErr) return kReplyFailedBit;
  r = ScaleRecOf(heap, scale);
  uChar* e = *r->markers + 4 + kScaleMarkerEntry * count;
  std::memcpy(e, &value, 8);
  std::memcpy(e + 8, &colour, 4);
  ScaleReorderMarker(r, count + 2);
  return kReplyRange;
}

int32 ScaleDeleteMarker(ObjHeap heap, int32 scale, int32 index) {
  ScaleRec* r = ScaleRecOf(heap, scale);
  int32 count = 0;
  const UHandle m = Markers(r, &count);
  if (!m || index < 2 || index - 2 >= count) return 0;
  const int32 i = index - 2;
  std::memmove(*m + 4 + kScaleMarkerEntry * i, *m + 4 + kScaleMarkerEntry * (i + 1),
               size_t(kScaleMarkerEntry * (count - i - 1)));
  if (ScaleResizeMarkers(r, count - 1) != kNoErr) {
    DBPrintf("Scale marker array is now bigger than my array");
    PutNative32(*m, uInt32(count - 1));
  }
  return kReplyRange;
}

int32 ScaleInsertMarker(ObjHeap heap, int32 scale, int32 index) {
  ScaleRec* r = ScaleRecOf(heap, scale);
  int32 count = 0;
  if (!Markers(r, &count) || count == 0 || index < 0 || index - 2 >= count) return -1;
  const int32 at = index == 0 ? count - 1 : index == 1 ? 0 : index - 2;
  if (ScaleResizeMarkers(r, count + 1) != kNoErr) return -1;
  uChar* e = *r->markers + 4;
  std::memmove(e + kScaleMarkerEntry * (at + 1), e + kScaleMarkerEntry * at, size_t(kScaleMarkerEntry * (count - at)));
  return at + 2;
}

int32 ScaleCompareMarkers(const void* a, const void* b) {
  float64 x, y;
  std::memcpy(&x, a, 8);
  std::memcpy(&y, b, 8);
  return x < y ? -1 : x > y ? 1 : 0;
}

void ScaleSortMarkers(ObjHeap heap, int32 scale) {
  ScaleRec* r = ScaleRecOf(heap, scale);
  int32 count = 0;
  const UHandle m = Markers(r, &count);
  if (!m) return;
  QSort(*m + 4, count, kScaleMarkerEntry, &ScaleCompareMarkers);
  if (count > 0 && !(Flags(heap, scale) & kScaleTextLabels)) {
    Bool32 changed = 0;
    CalcScaleMarkers(heap, scale, EntryValue(m, 0), EntryValue(m, count - 1), 1, 0, &changed);
  }
}

int32 RescaleColorMarkers(ObjHeap heap, int32 scale) {
  const ScaleRec* r = ScaleRecOf(heap, scale);
  int32 count = 0;
  const UHandle m = Markers(r, &count);
  if (!m || count == 0) return 0;
  const float64 first = EntryValue(m, 0), oldSpan = EntryValue(m, count - 1) - first;
  const float64 lower = std::fmin(r->min, r->max), span = std::fmax(r->min, r->max) - lower;
  if (first == lower && oldSpan == span) return 0;
  for (int32 i = 0; i < count; ++i) {
    // An empty old span leaves every marker at the new lower end (the
    // formula's limit) instead of dividing zero by zero.
    const float64 v = oldSpan == 0 ? lower : (EntryValue(m, i) - first) * span / oldSpan + lower;
    SetEntryValue(m, i, v);
  }
  return 0;
}

// ---- Drags -----------------------------------------------------------------------------------
MgErr SlideTrackSlider(ObjHeap heap, int32 slide, TransactionFrame* frame, ActionParams* p, void* data,
                       int32* changed) {
  if (changed) *changed = 0;
  if (!p || !data || !Live(heap, slide, 4 * (kPWActiveElement + 1))) return kArgErr;
  if (ObjIsA(heap, slide, kClsKnob)) return KnobTrackNeedle(heap, slide, frame, p, data, changed);
  if (!TrackedPart(p->partId) || !TrackedPhase(p->eventCode)) return kNoErr;
  const int32 scale = FindPart(heap, slide, kControlPartScale, 0);
  const int32 type = MappedType(heap, slide);
  if (!Live(heap, scale, 4 * (kScaleObjData + 1)) || !type || !ScaleRecOf(heap, scale)) return kArgErr;
  int16 pixel = (Flags(heap, scale) & kScaleHorizontal) ? p->point.h : p->point.v;
  uChar value[16] = {};
  ScalePixelToValuePinned(heap, ObjWord(heap, scale, kScaleObjData), type, &pixel, value);
  StoreTracked(heap, slide, type, value, data, changed);
  return kNoErr;
}

MgErr KnobTrackNeedle(ObjHeap heap, int32 knob, TransactionFrame*, ActionParams* p, void* data, int32* changed) {
  if (changed) *changed = 0;
  if (!p || !data || !Live(heap, knob, 4 * (kPWActiveElement + 1))) return kArgErr;
  if (!TrackedPart(p->partId) || !TrackedPhase(p->eventCode)) return kNoErr;
  const int32 scale = FindPart(heap, knob, kControlPartScale, 0);
  const int32 type = MappedType(heap, knob);
  if (!Live(heap, scale, 4 * (kScaleObjData + 1)) || !type || !ScaleRecOf(heap, scale)) return kArgErr;
  const int32 at = ObjWord(heap, scale, kScaleObjData);
  NeedleDrag* drag = DragOf(p);
  float64 angle = 0;
  KnobPointToAngle(heap, at, p->point, &angle);
  if (p->eventCode == kSubPress) {
    // The needle's own angle at the press: the mouse moves it from there.
    const int32 needle = FindPart(heap, knob, kPartSlider, ObjWord(heap, knob, kPWActiveElement));
    float64 needleAngle = angle;
    if (Live(heap, needle, kObjBounds + 8)) {
      Rect b;
      std::memcpy(&b, *heap + needle + kObjBounds, sizeof b);
      KnobPointToAngle(heap, at, Point{int16((b.top + b.bottom) / 2), int16((b.left + b.right) / 2)}, &needleAngle);
    }
    drag->offset = needleAngle - angle;
    drag->last = -1;
  }
  if (!(Flags(heap, knob) & kKnobAbsolute)) {
    angle += drag->offset;
    angle = std::fmod(angle, kTwoPi);
    if (angle < 0) angle += kTwoPi;
  }
  if (angle == drag->last) return kNoErr;
  drag->last = angle;
  uChar value[16] = {};
  KnobAngleToValue(heap, at, type, angle, value);
  StoreTracked(heap, knob, type, value, data, changed);
  return kNoErr;
}

void SlideInvalSliders(ObjHeap heap, int32 slide, int32 element) {
  if (!Live(heap, slide, 4)) return;
  ForEachPart(heap, slide, [&](int32 part) {
    if (!Live(heap, part, 12) || ObjInt16(heap, part, kObjPartId) != kPartSliderDisplay) return;
    if (part != element && Live(heap, element, 4) && ObjIsA(heap, part, kClsRing) && ObjIsA(heap, element, kClsRing))
      RingSetItems(heap, element, heap, part);
    const int32 text = FindPart(heap, part, kPartDisplayText, 0);
    if (!Live(heap, text, 4)) return;
    ObjSetWord(heap, text, 0, int32(Flags(heap, text) | kPartBusy));
    OInval(heap, text, kInvalAll);
  });
}

// ---- Hit-testing and dragging --------------------------------------------------------------
namespace {

struct HitCookie {
  Point point;
  bool horizontal, round;
};
bool Contains(const Rect& r, Point p) { return p.v >= r.top && p.v < r.bottom && p.h >= r.left && p.h < r.right; }

int32 HitProc(ObjHeap heap, int32, ScaleMarkerRec* m) {
  const auto* c = static_cast<const HitCookie*>(m->cookie);
  int32 id = 0;
  if (m->flags & kScaleMarkerMinor) {
    if (m->minorPart && Contains(ScalePartBounds(heap, m->minorPart), c->point)) id = kScalePartMinorTick;
  } else if ((m->flags & kScaleMarkerLabel) && m->labelPart &&
             Contains(ScalePartBounds(heap, m->labelPart), c->point)) {
    id = kScalePartLabel;
  } else if ((m->flags & kScaleMarkerTick) && m->tickPart) {
    Rect r = ScalePartBounds(heap, m->tickPart);
    if (!c->round) {
      // A thin tick is hit within 3 pixels across the scale.
      int16& lo = c->horizontal ? r.left : r.top;
      int16& hi = c->horizontal ? r.right : r.bottom;
      if (hi - lo < 3) {
        const int32 mid = (lo + hi) / 2;
        lo = int16(mid - 1), hi = int16(mid + 2);
      }
    }
    if (Contains(r, c->point)) id = kScalePartTick;
  }
  return id ? (id << 16) | (m->index & 0xFFFF) : 0;
}

// What a marker drag keeps between its press, moves and release.
struct MarkerDrag {
  int32 index = -1;
  float64 remembered = 0, increment = 0, start = 0, last = 0;
  Point mouse{};
  bool arbitrary = false;
} gDrag;

}  // namespace

int32 ScaleHitMarker(ObjHeap heap, int32 scale, Point point, UHandle textList, int32* index) {
  if (index) *index = -1;
  if (!ScaleRecOf(heap, scale)) return 0;
  const uInt32 flags = Flags(heap, scale);
  HitCookie cookie{point, (flags & kScaleHorizontal) != 0, (flags & kScaleRound) != 0};
  const int32 hit = ScaleForEachMarker(heap, scale, &HitProc, &cookie, nullptr, 0, 0, textList);
  if (!hit) return 0;
  if (index) *index = int16(hit & 0xFFFF);
  return hit >> 16;
}

int32 ScaleDragMarker(ObjHeap heap, int32 scale, int32 phase, int32 index, Point mouse, int32 modifiers,
                      float64 angleStep) {
  ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return 0;
  const uInt32 flags = Flags(heap, scale);
  const int32 at = ObjWord(heap, scale, kScaleObjData);
  if (phase == kScaleDragStart) {
    gDrag = MarkerDrag{};
    gDrag.arbitrary = (flags & kScaleArbitrary) != 0;
    gDrag.mouse = mouse;
    gDrag.last = __builtin_nan("");
    if (gDrag.arbitrary) {
      if ((modifiers & kWModCtrl) || index < 2) {
        const int32 copy = ScaleInsertMarker(heap, scale, index);
        if (copy >= 0) index = copy;
        r = ScaleRecOf(heap, scale);
      }
      const UPtr e = ScaleMarkerEntry(heap, scale, index);
      if (index == 0 || index == 1) gDrag.remembered = index == 0 ? std::fmax(r->min, r->max) : std::fmin(r->min, r->max);
      if (e) std::memcpy(&gDrag.remembered, e, 8);
    } else {
      index = 2;
      gDrag.increment = r->increment, gDrag.start = r->start;
    }
    gDrag.index = index;
    return 0;
  }
  if (phase == kScaleDragEnd) {
    gDrag.index = -1;
    OInval(heap, scale, kInvalAll);
    ScaleRecalc(heap, scale);
    OInval(heap, scale, kInvalAll);
    return 0x20280;
  }
  if (gDrag.index < 0 || (mouse.v == gDrag.mouse.v && mouse.h == gDrag.mouse.h)) return 0;
  gDrag.mouse = mouse;
  float64 v = 0;
  if (flags & kScaleRound) {
    float64 angle = 0;
    KnobPointToAngle(heap, at, mouse, &angle);
    if (angleStep > 0) angle = std::fmod(std::round(angle / angleStep) * angleStep, kTwoPi);
    KnobAngleToValue(heap, at, kTDDBL, angle, &v);
  } else {
    const int16 pixel = (flags & kScaleHorizontal) ? mouse.h : mouse.v;
    MapPixelsToValues(heap, at, kTDDBL, &pixel, 1, 1, &v, 8);
  }
  r = ScaleRecOf(heap, scale);
  if (gDrag.arbitrary && (v < std::fmin(r->min, r->max) || v > std::fmax(r->min, r->max))) v = gDrag.remembered;
  const float64 shown = v * r->multiplier + r->offset;
  if (shown == gDrag.last) return 0;
  gDrag.last = shown;
  int32 newIndex = gDrag.index;
  const int32 reply = ScaleSetRangeValue(heap, scale, gDrag.index, shown, &newIndex);
  gDrag.index = newIndex;
  if (reply) {
    OInval(heap, scale, kInvalAll);
    return 0x20280;
  }
  if (gDrag.arbitrary) return 0;
  // A refused increment: the one from the press comes back.
  r = ScaleRecOf(heap, scale);
  const bool changed = r->increment != gDrag.increment;
  r->increment = gDrag.increment, r->start = gDrag.start;
  return changed ? 0x20280 : 0;
}

int32 ScaleOGetDataPtrMethod(ObjHeap heap, int32 scale, int32 part, int32, UHandle* handle) {
  if (handle) {
    *handle = nullptr;
    return 0;
  }
  if (!Live(heap, scale, kScaleObjFormat + 2) || !part || !Live(heap, part, kObjPartId + 2)) return 0;
  const int16 id = ObjInt16(heap, part, kObjPartId);
  if (id != kScalePartLowEnd && id != kScalePartHighEnd) return 0;
  ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return 0;
  // A scale whose values run against its pixels keeps its ends' colours the
  // other way round.
  const bool reversed = (r->pixelEnd > r->pixelStart && r->max < r->min) ||
                        (r->pixelEnd < r->pixelStart && r->max > r->min);
  const int32 word = (id == kScalePartLowEnd) != reversed ? 0 : 1;
  return int32(uInt32(uintptr_t(&r->endParts[word])));
}

void ControlsJoinScaleSlots() {
  ObjJoinSlot(kMsgOGetDataPtr, [](int32 cls) {
    return cls == kClsScale ? reinterpret_cast<ObjMethodAddr>(&ScaleOGetDataPtrMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgODraw, [](int32 cls) {
    return cls == kClsScale ? reinterpret_cast<ObjMethodAddr>(&ScaleODrawMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgOClick, [](int32 cls) {
    return cls == kClsScale ? reinterpret_cast<ObjMethodAddr>(&ScaleOClickMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgODoit, [](int32 cls) {
    return cls == kClsScale ? reinterpret_cast<ObjMethodAddr>(&ScaleODoitMethod) : ObjMethodAddr(nullptr);
  });
  ObjJoinSlot(kMsgOPopup, [](int32 cls) {
    return cls == kClsScale ? reinterpret_cast<ObjMethodAddr>(&ScaleOPopupMethod) : ObjMethodAddr(nullptr);
  });
}

// ---- Drawing ---------------------------------------------------------------------------

namespace {

bool PartShown(ObjHeap heap, int32 part) {
  return Live(heap, part, kObjBounds + 8) && !(Flags(heap, part) & kObjFlagHidden);
}
int32 DrawPart(ObjHeap heap, int32 part, const void* data) {
  return ODraw(heap, part, data, int32(0), int32(kDrawModeNormal));
}

// The angle in whole degrees, as the arc drawing takes it.
int32 Degrees(float64 radians) { return int32(radians * 57.2957795 + 0.5); }

}  // namespace

int32 ScaleDrawMarkerProc(ObjHeap heap, int32, ScaleMarkerRec* m) {
  if (!m) return 0;
  if ((m->flags & kScaleMarkerLabel) && PartShown(heap, m->labelPart)) {
    const Rect r = ScalePartBounds(heap, m->labelPart);
    if (WNeedsDraw(&r)) {
      DrawPart(heap, m->labelPart, nullptr);
      if (m->flags & kScaleMarkerDisabled) {
        const DColor back = ctrl::PanelBackground(heap);
        DGrayOutRect(&r, back == kTransparentColor ? ctrl::kWhite : back);
      }
    }
  }
  if ((m->flags & kScaleMarkerMinor) && PartShown(heap, m->minorPart)) DrawPart(heap, m->minorPart, nullptr);
  if ((m->flags & kScaleMarkerTick) && PartShown(heap, m->tickPart)) DrawPart(heap, m->tickPart, nullptr);
  return 0;
}

int32 ScaleODrawMethod(ObjHeap heap, int32 scale, const void*, int32, int32) {
  if (!Live(heap, scale, kScaleObjFormat + 2)) return 0;
  const uInt32 flags = Flags(heap, scale);
  Rect bounds = ScalePartBounds(heap, scale);
  if ((flags & kScaleHidden) || !WNeedsDraw(&bounds)) return 0;
  const int32 list = ObjWord(heap, scale, kObjPartList / 4);
  for (int32 i = PanelListCount(heap, list) - 1; i >= 0; --i) {
    if (i >= PanelListCount(heap, list)) continue;
    const int32 part = ObjListGet(heap, list, i);
    if (part == scale || !PartShown(heap, part)) continue;
    const int16 id = ObjInt16(heap, part, kObjPartId);
    if (id == kScalePartLabel || id == kScalePartTick || id == kScalePartMinorTick) continue;
    if (id == kScalePartLowEnd || id == kScalePartHighEnd) {
      DrawPart(heap, part, reinterpret_cast<const void*>(uintptr_t(uInt32(ScaleOGetDataPtrMethod(heap, scale, part, 0, nullptr)))));
    } else if (id == kScalePartRamp) {
      const Rect r = ScalePartBounds(heap, part);
      if (WNeedsDraw(&r)) ScaleFrameMarker(heap, scale, part);
    } else {
      DrawPart(heap, part, nullptr);
    }
  }
  const ScaleRec* r = ScaleRecOf(heap, scale);
  if (!r) return 0;
  // A round scale with end ticks drawn as lines frames its arc with the
  // tick part's pen.
  const int32 tick = FindPart(heap, scale, kScalePartTick, 0);
  if ((flags & kScaleRound) && (flags & kScaleEndTicks) && ScalePartIsLine(heap, tick)) {
    const Rect arc{int16(r->centre.v - r->radius), int16(r->centre.h - r->radius), int16(r->centre.v + r->radius),
                   int16(r->centre.h + r->radius)};
    const DColor fore = DColor(ObjWord(heap, tick, kObjCosmFore / 4));
    DSelectNormPen(fore, fore);
    DFrameArc(&arc, 90 - Degrees(r->startAngle), Degrees(r->sweep));
  }
  ScaleForEachMarker(heap, scale, &ScaleDrawMarkerProc, nullptr, nullptr, kScaleWalkEditing, 0, ScaleTextList(heap, scale));
  return 0;
}
