// Unit labels as the operator edits them and as VI files store them: any
// bytes of any length in the label of a numeric of one of several types,
// with or without the VI flag that keeps labels.  The edit is applied the
// way the panel does it (the old label cached, the new one applied, the
// cache cleared), then once more on its own result.
//
// Input: a type byte, a flags byte, a text for the old label, then the
// edited text (the rest).
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "fuzz_support.h"
#include "panel_fuzz_support.h"
#include "panel/objects.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "rtlib/objunits.h"
#include "rtlib/units.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace {

constexpr uInt32 kKeepUnitLabels = 0x80000;
constexpr int32 kMaxLabel = 255;

float64 gDisplay[8];
UPtr Display(ObjHeap, int32) { return reinterpret_cast<UPtr>(gDisplay); }

std::vector<uChar> TextOfPart(ObjHeap heap, int32 label) {
  TRecord t = PartTextRecord(heap, label);
  auto h = t ? reinterpret_cast<LStrHandle>(TGetText(t)) : nullptr;
  if (!h || !*h) return {};
  return std::vector<uChar>((*h)->str, (*h)->str + (*h)->cnt);
}

void SetText(ObjHeap heap, int32 label, const std::vector<uChar>& t) {
  static const uChar kNone = 0;
  SetPartText(heap, label, t.empty() ? &kNone : t.data(), int32(t.size()), 0, 0);
}

// Caches the label, sets the edited text and applies it; checks the result.
int32 Edit(ObjHeap heap, int32 object, int32 label, const std::vector<uChar>& text) {
  GetCachedUnitLabel(heap, label);
  SetText(heap, label, text);
  int32 r = ApplyUnitLabelText(heap, object);
  ClearUnitLabelCache();
  std::vector<uChar> now = TextOfPart(heap, label);
  FUZZ_CHECK(r == 0 || (r & 0x10000));
  // Longer labels are replaced by the text that says so; "?" marks keep within the limit.
  FUZZ_CHECK(now.size() <= size_t(kMaxLabel));
  // An applied label is a clean one: no "?" left in it.
  if (r) FUZZ_CHECK(std::memchr(now.data(), '?', now.size()) == nullptr);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    PanelInstallEngineHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    if (!FuzzStartManagers() || TypeHeapInit() != kNoErr || UnitsInit() != kNoErr) return false;
    PanelInstallTextPartHooks();
    SetUnitLabelHooks({.displayData = &Display});
    return true;
  }();
  if (!init || size > 2048) return 0;
  FuzzReader in{data, size};
  const tdb::TD types[] = {
      tdb::Unit(kTDUnitDBL, {{kUnitM, 1}}), tdb::Unit(kTDUnitDBL, {{kUnitS, -1}, {kUnitM, 1}}),
      tdb::Unit(kTDUnitDBL, {{kUnitS, 1}}), tdb::DBL(), tdb::I16(), tdb::Array(tdb::Unit(kTDUnitDBL, {{kUnitM, 1}})),
  };
  const tdb::TD& type = types[in.Byte() % (sizeof types / sizeof types[0])];
  uint8_t flags = in.Byte();
  size_t oldLength = in.Byte();
  std::vector<uChar> old(oldLength < in.n ? oldLength : in.n);
  in.Bytes(old.data(), old.size());
  std::vector<uChar> edited(in.p, in.p + in.n);

  int32 before = FuzzLiveHandles();
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewBoundPanel({tdb::DBL()}, &vi);
  if (!heap) return 0;
  if (flags & 1) VIRec(vi)->flags |= kKeepUnitLabels;
  std::vector<uChar> b = type.Bytes();
  TypeID id = NewTypeIDForTD(heap, tdb::AsTD(b));
  int32 object = vib::NewObject(heap, kClsNumeric, ClassRecord(kClsNumeric)->instanceSize, 0, 0, 0);
  int32 display = object ? vib::NewObject(heap, kClsLabel, ClassRecord(kClsLabel)->instanceSize, object, 17, 0) : 0;
  int32 label = display ? vib::NewObject(heap, kClsLabel, ClassRecord(kClsLabel)->instanceSize, object, 65, 0) : 0;
  if (id && label) {
    ObjSetWord(heap, object, kPWDDOTypeId, int32(id));
    std::memset(gDisplay, 0, sizeof gDisplay);
    gDisplay[5] = 1;
    SetText(heap, label, old);
    int32 r = Edit(heap, object, label, edited);
    // Applying what an applied edit left changes neither the text nor the verdict.
    if (r && !(flags & 2)) {
      std::vector<uChar> applied = TextOfPart(heap, label);
      FUZZ_CHECK(Edit(heap, object, label, applied) != 0);
      FUZZ_CHECK(TextOfPart(heap, label) == applied);
    }
    float64 v = 1.5, out = 0, offset = 0, scale = 0;
    int32 numType = 0, unitFlags = 0;
    UnitConvertObjValue(heap, object, &v, flags >> 7, &out);
    GetObjUnits(heap, object, &offset, &scale, &numType, &unitFlags);
  }
  if (label)
    if (TRecord t = PartTextRecord(heap, label)) TDispose(t);
  FuzzDisposePanel(heap, vi);
  FUZZ_CHECK(FuzzLiveHandles() == before);
  return 0;
}
