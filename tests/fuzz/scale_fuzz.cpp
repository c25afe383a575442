// Scale records and scale objects come from VI files: the record's doubles,
// pixel ends, mapping and marker array, and the scale's flags, format code,
// owner and parts are whatever the file held.  Every scale operation must
// stay inside the data space and the marker array, end, and keep its pixel
// answers on the 16-bit range it promises.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "controls/scale.h"
#include "controls/scaleobj.h"
#include "controls/slideops.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textrec.h"
#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "fuzz_support.h"
#include "panel_fuzz_support.h"
#include "mgsource/byteorder.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
#include "panel/objdraw.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "rtlib/objunits.h"
#include "rtlib/units.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace {

const int16 kOwnerClasses[] = {kClsSlide, kClsKnob, kClsColorRamp, kClsNumeric, kClsGraphChart};
const int16 kParts[] = {kControlPartScale, 18, 19, 68, kScalePartLabel, kScalePartTick, kScalePartMinorTick, 8001, 12, 65, 71, 99};
const int32 kTypes[] = {kTDI8, kTDI16, kTDI32, kTDU8, kTDU16, kTDU32, kTDSGL, kTDDBL, kTDEXT, kTDI64, 0x1A, 0};

// Doubles that reach the edges: the input's bits, or one of the awkward values.
float64 Number(FuzzReader& in) {
  static const float64 kOdd[] = {0, -0.0, 1, -1, 1e-300, 1e300, 0.5, 10, 1000, -1e9, 2.5};
  uint8_t how = in.Byte();
  if (how < 128) return kOdd[how % (sizeof kOdd / sizeof kOdd[0])];
  uint64_t bits = uint64_t(in.Word()) << 32 | in.Word();
  float64 v;
  std::memcpy(&v, &bits, 8);
  return v;
}

void CheckPixel(int16 p) {
  if (p != 15005 && (p < -15000 || p > 15000)) __builtin_trap();
}

// A walk's procedure: counts what it is handed; a minor tick carries only
// its flag; a walk that does not end is stopped and fails.
struct WalkCount {
  int32 markers = 0, minors = 0;
};
int32 CountWalk(ObjHeap, int32, ScaleMarkerRec* m) {
  auto* c = static_cast<WalkCount*>(m->cookie);
  if (m->flags & kScaleMarkerMinor) {
    if (m->flags != kScaleMarkerMinor) __builtin_trap();
    ++c->minors;
  } else {
    ++c->markers;
  }
  // At most 1000 interior markers without a list (32767 with one), the two
  // ends and the upper end again after a cut; minor ticks are bounded too.
  if (c->markers > 32767 + 3 || c->minors > 32767) __builtin_trap();
  return 0;
}

// A string list made of the input: a count, then whatever bytes follow.
UHandle ListFrom(FuzzReader& in) {
  const int32 bytes = in.Byte() % 40;
  UHandle h = in.Byte() & 1 ? AZNewHandle(4 + bytes) : DSNewHandle(4 + bytes);
  if (!h) return nullptr;
  PutNative32(*h, in.Byte() < 200 ? uInt32(in.Byte() % 12) : in.Word());
  for (int32 i = 0; i < bytes; ++i) (*h)[4 + i] = in.Byte();
  return h;
}
void DisposeList(UHandle h) {
  if (!h) return;
  if (AZCheckHandle(h) == kNoErr) AZDisposeHandle(h);
  else DSDisposeHandle(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static WindowRef window = 0;
  static bool init = [] {
    PanelInstallEngineHooks();
    ControlsInstallScaleHooks();
    ControlsJoinScaleSlots();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    if (!FuzzStartManagers() || TypeHeapInit() != kNoErr || WInitScreenImage() != kNoErr) return false;
    // Scales draw into a window of the screen image.
    DInitDraw();
    const Rect place{0, 0, 300, 400};
    window = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    return window != kWNoWindow;
  }();
  if (!init || size > 2048) return 0;
  FuzzReader in{data, size};
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewBoundPanel({tdb::DBL()}, &vi);
  if (!heap) return 0;
  std::vector<uChar> tdBytes = tdb::Unit(kTDUnitDBL, {{kUnitM, 1}}).Bytes();
  TypeID unitType = NewTypeIDForTD(heap, tdb::AsTD(tdBytes));

  // A control and its scales, labels and ticks.
  int16 ownerCls = kOwnerClasses[in.Byte() % (sizeof kOwnerClasses / sizeof kOwnerClasses[0])];
  int32 owner = vib::NewObject(heap, ownerCls, ClassRecord(ownerCls)->instanceSize, 0, 0, 0);
  if (owner) OHSetWord(heap, uInt32(owner + 4 * kPWDDOTypeId), in.Byte() < 128 ? uInt32(unitType) : in.Word());
  std::vector<int32> scales;
  std::vector<UHandle> markers;
  // The owner's display, its ring text part and their label list.
  std::vector<UHandle> lists;
  if (owner && in.Byte() < 128) {
    const int16 displayCls = in.Byte() & 1 ? kClsRing : kClsNumeric;
    int32 display = vib::NewObject(heap, displayCls, ClassRecord(displayCls)->instanceSize, owner, kPartDigital, 0);
    int32 text = display ? vib::NewObject(heap, kClsMultiLabel, ClassRecord(kClsMultiLabel)->instanceSize, display,
                                          kPartRingText, 0)
                         : 0;
    if (text && OHBlockSize(heap, text) >= kRingTextWord + 4) {
      UHandle list = ListFrom(in);
      lists.push_back(list);
      OHSetWord(heap, uInt32(text + kRingTextWord), uInt32(uintptr_t(list)));
    }
  }
  std::vector<std::pair<int32, TRecord>> texts;
  int32 n = 1 + in.Byte() % 4;
  for (int32 i = 0; i < n && owner; ++i) {
    int16 part = kParts[in.Byte() % (sizeof kParts / sizeof kParts[0])];
    int32 s = vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, owner, part, int16(in.Byte() % 3));
    if (!s || AllocObjDataSpace(heap, s) != kNoErr) continue;
    OHSetWord(heap, uInt32(s), in.Word());
    PutNative16(*heap + s + kScaleObjFormat, uInt16(in.Word()));
    PutNative16(*heap + s + kScaleObjEditIndex, uInt16(int16(in.Byte() % 6) - 1));
    for (int32 k = 0; k < 2; ++k) {
      int16 pid = kParts[in.Byte() % (sizeof kParts / sizeof kParts[0])];
      int32 p = vib::NewObject(heap, kClsLabel, ClassRecord(kClsLabel)->instanceSize, s, pid, 0);
      if (p) {
        uInt32 r[2] = {in.Word(), in.Word()};
        std::memcpy(*heap + p + kScaleObjBounds, r, 8);
        OHSetWord(heap, uInt32(p), in.Byte() < 128 ? kScaleLabelFitsText : 0);
        if (in.Byte() < 160) {
          Rect b;
          std::memcpy(&b, r, 8);
          TRecord t = TNew(&b, in.Byte() % 5, nullptr, 0, kAppFont, 0, kTransparentColor);
          if (t) {
            OHSetWord(heap, uInt32(p + 4 * kPWLabelText), uInt32(uintptr_t(t)));
            texts.emplace_back(p, t);
          }
        }
      }
    }
    ScaleRec* r = ScaleRecOf(heap, s);
    if (!r) continue;
    float64* d = &r->min;
    for (int32 k = 0; k < 9; ++k) d[k] = Number(in);
    r->centre = Point{int16(in.Word()), int16(in.Word())};
    r->radius = int16(in.Word());
    r->pixelStart = int16(in.Word());
    r->pixelEnd = int16(in.Word());
    r->mapping = int16(in.Byte() % 3);
    if (in.Byte() < 100) {
      int32 entries = in.Byte() % 8;
      UHandle m = DSNewHClr(4 + kScaleMarkerEntry * entries);
      if (m) {
        PutNative32(*m, in.Byte() < 200 ? uInt32(entries) : in.Word());
        for (int32 k = 0; k < entries; ++k) {
          float64 v = Number(in);
          std::memcpy(*m + 4 + kScaleMarkerEntry * k, &v, 8);
        }
        markers.push_back(m);
        r = ScaleRecOf(heap, s);
        r->markers = m;
      }
    }
    scales.push_back(s);
  }

  for (int32 s : scales) {
    int32 ops = 1 + in.Byte() % 6;
    for (int32 k = 0; k < ops; ++k) {
      int32 data = int32(OHWord(heap, uInt32(s + 4 * kScaleObjData)));
      int32 type = kTypes[in.Byte() % (sizeof kTypes / sizeof kTypes[0])];
      UHandle m = ScaleRecOf(heap, s) ? ScaleRecOf(heap, s)->markers : nullptr;
      int32 msize = m ? DSGetHandleSize(m) : 0;
      bool resized = false;
      switch (in.Byte() % 16) {
        case 0: {
          int32 idx = 0;
          int32 index = int32(in.Byte()) - 3;
          if (in.Byte() > 250) index = int32(in.Word());
          int32 reply = ScaleSetRangeValue(heap, s, index, Number(in), &idx);
          if (reply & ~0x280) __builtin_trap();
          break;
        }
        case 1:
          ScaleRecalc(heap, s);
          if (ScaleRecOf(heap, s) && int16(GetNative16(*heap + s + kScaleObjMarkerCount)) < 2) __builtin_trap();
          break;
        case 2: {
          float64 values[3] = {Number(in), Number(in), Number(in)};
          int16 px[3] = {0, 0, 0};
          MapValuesToPixels(heap, data, kTDDBL, values, 8, 3, px, 2);
          for (int16 p : px) CheckPixel(p);
          break;
        }
        case 3: {
          int16 px = int16(in.Word());
          uChar out[16] = {};
          ScalePixelToValuePinned(heap, data, type, &px, out);
          const ScaleRec* r = ScaleRecOf(heap, s);
          if (r && ((px < r->pixelStart && px < r->pixelEnd) || (px > r->pixelStart && px > r->pixelEnd)))
            __builtin_trap();
          break;
        }
        case 4: {
          float64 angle = -1;
          KnobPointToAngle(heap, data, Point{int16(in.Word()), int16(in.Word())}, &angle);
          if (ScaleRecOf(heap, s) && !(angle >= 0 && angle < 6.2831853071795866)) __builtin_trap();
          uChar out[16] = {};
          KnobAngleToValue(heap, data, type, Number(in), out);
          break;
        }
        case 5:
          SlideScaleMarkerList(heap, s);
          GetObjUnits(heap, s, nullptr, nullptr, nullptr, nullptr);
          break;
        case 6: {
          // A range from data extremes: whatever the ends, a changed range
          // has two different ends.
          Bool32 changed = 2;
          float64 lo = Number(in), hi = Number(in);
          uint8_t how = in.Byte();
          if (CalcScaleMarkers(heap, s, lo, hi, how & 1, how & 2, &changed) != kNoErr) __builtin_trap();
          if (changed != 0 && changed != 1) __builtin_trap();
          const ScaleRec* r = ScaleRecOf(heap, s);
          if (changed && r && r->min == r->max) __builtin_trap();
          break;
        }
        case 7:
          ScaleMarkerEntry(heap, s, int32(in.Word()));
          break;
        case 8: {
          // Every mode, with the owner's list, one from the input, or none.
          WalkCount count;
          const int32 mode = in.Byte() % 32;
          const uint8_t which = in.Byte() % 3;
          UHandle list = which == 0 ? ScaleTextList(heap, s) : which == 1 ? ListFrom(in) : nullptr;
          const Rect area{int16(in.Word()), int16(in.Word()), int16(in.Word()), int16(in.Word())};
          ScaleForEachMarker(heap, s, &CountWalk, &count, &area, mode, in.Word(), list);
          if (which == 1) DisposeList(list);
          break;
        }
        case 9: {
          // A style set reads back as itself; one outside 1 to 9 changes nothing.
          const int32 style = int32(in.Byte() % 12) - 1;
          const uInt32 before = OHWord(heap, uInt32(s));
          Bool32 ok = 2;
          int32 back = -1;
          ScaleStyleFlags(heap, s, &back, &style, &ok);
          if (style >= 1 && style <= 9) {
            ScaleStyleFlags(heap, s, &back, nullptr, &ok);
            if (!ok || back != style) __builtin_trap();
          } else if (ok || OHWord(heap, uInt32(s)) != before) {
            __builtin_trap();
          }
          break;
        }
        case 11: {
          // Marker array operations: the count moves by the one the reply says.
          resized = true;
          int32 before = -1;
          if (m && msize >= 4 && int32(GetNative32(*m)) >= 0 &&
              int64(GetNative32(*m)) * kScaleMarkerEntry + 4 <= msize)
            before = int32(GetNative32(*m));
          const int32 index = int32(in.Byte() % 12) - 2;
          int32 delta = 0;
          switch (in.Byte() % 5) {
            case 0: delta = ScaleAddMarker(heap, s, Number(in)) == 0x280 ? 1 : 0; break;
            case 1: delta = ScaleDeleteMarker(heap, s, index) == 0x280 ? -1 : 0; break;
            case 2: {
              const int32 at = ScaleInsertMarker(heap, s, index);
              if (at >= 0 && (at < 2 || at > before + 2)) __builtin_trap();
              delta = at >= 0 ? 1 : 0;
              break;
            }
            case 3: ScaleSortMarkers(heap, s); break;
            default: {
              const ScaleRec* r = ScaleRecOf(heap, s);
              bool finite = r && std::isfinite(r->min) && std::isfinite(r->max) && before > 0;
              // Sorted finite markers move inside the new range and stay finite.
              float64 last = -1e300;
              for (int32 e = 0; finite && e < before; ++e) {
                float64 v;
                std::memcpy(&v, *m + 4 + kScaleMarkerEntry * e, 8);
                finite = std::isfinite(v) && std::fabs(v) < 1e150 && v >= last;
                last = v;
              }
              if (finite && std::fabs(r->min) < 1e150 && std::fabs(r->max) < 1e150) {
                RescaleColorMarkers(heap, s);
                for (int32 e = 0; e < before; ++e) {
                  float64 v;
                  std::memcpy(&v, *m + 4 + kScaleMarkerEntry * e, 8);
                  if (!std::isfinite(v)) __builtin_trap();
                }
              }
              break;
            }
          }
          const ScaleRec* r = ScaleRecOf(heap, s);
          if (r && r->markers && before >= 0 && int32(GetNative32(*r->markers)) != before + delta) __builtin_trap();
          if (r && r->markers && std::find(markers.begin(), markers.end(), r->markers) == markers.end())
            markers.push_back(r->markers);
          break;
        }
        case 13: {
          WPortState port;
          WSetup(window, &port);
          ODraw(heap, s, nullptr, int32(0), int32(kDrawModeNormal));
          WRestore(&port);
          break;
        }
        case 12: {
          // An end colour box reads one of the record's two end words, any
          // other part nothing.
          for (const auto& [part, text] : texts) {
            const int16 ids[] = {kScalePartLowEnd, kScalePartHighEnd, kScalePartLabel};
            PutNative16(*heap + part + kObjPartId, uInt16(ids[in.Byte() % 3]));
            const int32 at = ScaleOGetDataPtrMethod(heap, s, part, 0, nullptr);
            const ScaleRec* r = ScaleRecOf(heap, s);
            const bool end = GetNative16(*heap + part + kObjPartId) != uInt16(kScalePartLabel);
            if (at && (!end || !r || (uintptr_t(uInt32(at)) != uintptr_t(&r->endParts[0]) &&
                                      uintptr_t(uInt32(at)) != uintptr_t(&r->endParts[1]))))
              __builtin_trap();
          }
          break;
        }
        case 14: {
          // A pop-up command of the scale's menu with any marker: the reply
          // is one the menu gives, and the marker count moves only on a
          // marker added or deleted.
          resized = true;
          const int32 menus[] = {72, 59, 69, 98, 65};
          const int32 items[] = {171, 184, 266, 267, 268, 269, 1, 2, 3, 9, 0};
          ScalePopupRecord rec{};
          rec.popup.category = kScaleTag, rec.popup.phase = kPopupRun, rec.popup.level = -1;
          rec.popup.menuId = menus[in.Byte() % 5], rec.popup.item = items[in.Byte() % 11];
          rec.popup.point = Point{int16(in.Word()), int16(in.Word())};
          rec.marker = int32(in.Byte() % 12) - 2;
          const ScaleRec* before = ScaleRecOf(heap, s);
          const int32 count = before && before->markers && DSGetHandleSize(before->markers) >= 4
                                  ? int32(GetNative32(*before->markers)) : -1;
          const int32 reply = ScaleOPopupMethod(heap, s, &rec.popup);
          if (reply != 0 && reply != 0x80 && reply != 0x280 && reply != 0x10280 && reply != 0x10200 && reply != 0x10)
            __builtin_trap();
          const ScaleRec* r = ScaleRecOf(heap, s);
          const int32 after = r && r->markers && DSGetHandleSize(r->markers) >= 4 ? int32(GetNative32(*r->markers)) : -1;
          const bool moved = rec.popup.menuId == 72 && (rec.popup.item == 267 || rec.popup.item == 268) && reply == 0x280;
          if (count >= 0 && after != count && !moved) __builtin_trap();
          if (r && r->markers && std::find(markers.begin(), markers.end(), r->markers) == markers.end())
            markers.push_back(r->markers);
          break;
        }
        case 10: {
          const int32 reply = ScaleFitToItemCount(heap, owner);
          if (reply != 0 && reply != 0x80) __builtin_trap();
          break;
        }
        default: {
          Rect area{1, 2, 3, 4};
          const uint8_t how = in.Byte();
          ScaleGetPartsRect(heap, s, &area, how & 1, how & 2);
          if (area.bottom < area.top || area.right < area.left) __builtin_trap();
          GraphPartApplies(heap, s);
          break;
        }
      }
      // The marker array keeps its size: values change, entries do not.
      const ScaleRec* r = ScaleRecOf(heap, s);
      if (!resized && r && r->markers == m && m && DSGetHandleSize(m) != msize) __builtin_trap();
    }
  }
  for (int32 s : scales)
    if (ScaleRec* r = ScaleRecOf(heap, s)) r->markers = nullptr;
  for (UHandle m : markers) DSDisposeHandle(m);
  // Label texts: the record the label holds, and one a walk left parked.
  const int32 ext = int32(OHWord(heap, kOHExtension));
  const TRecord parked = reinterpret_cast<TRecord>(uintptr_t(OHWord(heap, uInt32(ext + kHeapExtStashedText))));
  OHSetWord(heap, uInt32(ext + kHeapExtStashedText), 0);
  for (auto [part, t] : texts) {
    const auto held = reinterpret_cast<TRecord>(uintptr_t(OHWord(heap, uInt32(part + 4 * kPWLabelText))));
    OHSetWord(heap, uInt32(part + 4 * kPWLabelText), 0);
    if (held && held != t && held != parked) TDispose(held);
    TDispose(t);
  }
  for (UHandle l : lists) DisposeList(l);
  FuzzDisposePanel(heap, vi);
  return 0;
}
