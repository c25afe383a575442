// Scale records and scale objects come from VI files: the record's doubles,
// pixel ends, mapping and marker array, and the scale's flags, format code,
// owner and parts are whatever the file held.  Every scale operation must
// stay inside the data space and the marker array, end, and keep its pixel
// answers on the 16-bit range it promises.
#include <cstdint>
#include <cstring>
#include <vector>

#include "controls/scale.h"
#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "fuzz_support.h"
#include "panel_fuzz_support.h"
#include "mgsource/byteorder.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    PanelInstallEngineHooks();
    ControlsInstallScaleHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    return FuzzStartManagers() && TypeHeapInit() == kNoErr;
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
  int32 n = 1 + in.Byte() % 4;
  for (int32 i = 0; i < n && owner; ++i) {
    int16 part = kParts[in.Byte() % (sizeof kParts / sizeof kParts[0])];
    int32 s = vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, owner, part, int16(in.Byte() % 3));
    if (!s || AllocObjDataSpace(heap, s) != kNoErr) continue;
    OHSetWord(heap, uInt32(s), in.Word());
    PutNative16(*heap + s + kScaleObjFormat, uInt16(in.Word()));
    for (int32 k = 0; k < 2; ++k) {
      int16 pid = kParts[in.Byte() % (sizeof kParts / sizeof kParts[0])];
      int32 p = vib::NewObject(heap, kClsLabel, ClassRecord(kClsLabel)->instanceSize, s, pid, 0);
      if (p) {
        uInt32 r[2] = {in.Word(), in.Word()};
        std::memcpy(*heap + p + kScaleObjBounds, r, 8);
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
      switch (in.Byte() % 8) {
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
        default:
          ScaleMarkerEntry(heap, s, int32(in.Word()));
          break;
      }
      // The marker array keeps its size: values change, entries do not.
      const ScaleRec* r = ScaleRecOf(heap, s);
      if (r && r->markers == m && m && DSGetHandleSize(m) != msize) __builtin_trap();
    }
  }
  for (int32 s : scales)
    if (ScaleRec* r = ScaleRecOf(heap, s)) r->markers = nullptr;
  for (UHandle m : markers) DSDisposeHandle(m);
  FuzzDisposePanel(heap, vi);
  return 0;
}
