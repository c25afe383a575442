// The shared panel-method routines over stored panel words: a key-binding
// table whose count and offsets are whatever the file held, key events of
// any code, and array selection records whose handles claim any count.  A
// binding answers nothing or a live object; a selection mark is an edge code
// (0 to 15); ring item lists whose handle and count disagree, colour tables
// of any bytes and edited texts of any bytes, shown in backslash codes or
// not.  A list answered holds its count; an item change moves the count by
// one; a colour has 24 bits; a stored string is never longer than its text;
// nothing is asserted on and no handle is left behind.
#include <cstdint>
#include <vector>

#include "controls/scale.h"
#include "engine/dsalloc.h"
#include "fuzz_support.h"
#include "panel/datamsg.h"
#include "mgsource/memory.h"
#include "panel/methsupport.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "rtlib/panellocators.h"
#include "panel/transact.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

void FuzzKeys(Input& in, ObjHeap heap, int32 root) {
  std::vector<int32> objects;
  for (int32 cls : {kClsNumeric, kClsBoolean, kClsString})
    if (const int32 o = vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, root)) objects.push_back(o);
  const int32 nav = OHNewBlock(heap, 4 + 4 * kKeySlotCount, kObjClassList);
  if (!nav) return;
  OHSetWord(heap, uInt32(root + kRootKeyNav), uInt32(nav));
  const uInt8 countPick = in.Byte();
  OHSetWord(heap, uInt32(nav), countPick < 200 ? kKeySlotCount : in.Word());
  for (int32 s = 0; s < kKeySlotCount; ++s) {
    const uInt8 pick = in.Byte();
    const int32 word = pick < 128 ? 0 : pick < 220 && !objects.empty() ? objects[pick % objects.size()] : int32(in.Word());
    OHSetWord(heap, uInt32(nav + 4 + 4 * s), uInt32(word));
  }
  const int32 ext = int32(OHWord(heap, kOHExtension));
  PutNative32(*heap + ext + kHeapExtKeyFocus, in.Byte() & 1 ? uInt32(in.Word()) : uInt32(objects.empty() ? 0 : objects[1 % objects.size()]));
  for (int32 k = 0; k < 16 && in.n; ++k) {
    WEventRecord e{};
    e.code = WEventCode(in.Byte() & 1 ? weKey : in.Byte());
    e.modifiers = WModifiers(in.Word());
    e.character = int32(in.Byte());
    e.keyCode = WKeyCode(in.Byte() % 40);
    const int32 bound = KeyBindingTarget(heap, &e);
    FUZZ_CHECK(bound == 0 || OHIsUsedBlock(heap, bound));
  }
  PutNative32(*heap + ext + kHeapExtKeyFocus, 0);
}

// An array control of one to three dimensions with its allocated selection
// record; the record's handles then claim any count and hold any indexes,
// and the record's words may be moved off the array's entry.
void FuzzSelection(Input& in, ObjHeap heap, int32 root) {
  std::vector<uChar> td = tdb::Array(tdb::I32(), std::vector<int32>(1 + in.Byte() % 3, kTDVariable)).Bytes();
  const TypeID t = NewTypeIDForTD(heap, tdb::AsTD(td));
  const int32 dco = vib::NewObject(heap, kClsFPDataController, ClassRecord(kClsFPDataController)->instanceSize, root);
  const int32 array = vib::NewObject(heap, kClsArray, ClassRecord(kClsArray)->instanceSize);
  if (!t || !dco || !array) return;
  OHSetWord(heap, uInt32(array + 4 * kPWOwner), uInt32(dco));
  OHSetWord(heap, uInt32(array + 4 * kPWDDOTypeId), t);
  OHSetWord(heap, uInt32(dco + 4 * kPWDCOTypeId), t);
  OHSetWord(heap, uInt32(dco + 4 * kPWDCODisplay), uInt32(array));
  const MgErr err = AllocObjDataSpace(heap, dco);
  if (DSAllocCurrentState()->active) AllocEndPass();
  const UHandle ds = VIRec(PanelHeapOwner(heap))->dataSpace;
  const int32 at = int32(OHWord(heap, uInt32(array + 4 * kPWArrayPrivate)));
  if (err != kNoErr || at <= 0 || at > DSGetHandleSize(ds) - 12) return;
  for (int32 i = 0; i < 3; ++i) {
    UHandle h = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*ds + at + 4 * i)));
    if (!h || DSSetHandleSize(h, 4 * (in.Byte() % 6)) != kNoErr) continue;
    const int32 size = DSGetHandleSize(h);
    for (int32 k = 0; k + 4 <= size; k += 4) PutNative32(*h + k, in.Byte() < 160 ? in.Byte() % 4 : in.Word());
  }
  OHSetWord(heap, uInt32(array + 4 * kPWArrayShown), in.Word());
  if (in.Byte() >= 230) OHSetWord(heap, uInt32(array + 4 * kPWArrayPrivate), in.Word());
  if (in.Byte() >= 230) OHSetWord(heap, uInt32(array + 4 * kPWArrayPrivateTD), in.Word());
  const int32 code = ArrayEltLayout(heap, array, ds);
  FUZZ_CHECK(code >= 0 && code <= 15);
}

// A control of the type (a data controller around a display object of the
// class) with its data allocated; the display object, or 0.
int32 NewControl(ObjHeap heap, int32 root, const tdb::TD& type, int32 cls) {
  std::vector<uChar> td = type.Bytes();
  const TypeID t = NewTypeIDForTD(heap, tdb::AsTD(td));
  const int32 dco = vib::NewObject(heap, kClsFPDataController, ClassRecord(kClsFPDataController)->instanceSize, root);
  const int32 display = vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize);
  if (!t || !dco || !display) return 0;
  OHSetWord(heap, uInt32(display + 4 * kPWOwner), uInt32(dco));
  OHSetWord(heap, uInt32(display + 4 * kPWDDOTypeId), t);
  OHSetWord(heap, uInt32(dco + 4 * kPWDCOTypeId), t);
  OHSetWord(heap, uInt32(dco + 4 * kPWDCODisplay), uInt32(display));
  const MgErr err = AllocObjDataSpace(heap, dco);
  if (DSAllocCurrentState()->active) AllocEndPass();
  return err == kNoErr ? display : 0;
}

void FuzzRing(Input& in, ObjHeap heap, int32 root) {
  const int32 ring = NewControl(heap, root, tdb::U16(), kClsRing);
  const UPtr cell = ring ? FPHeapDataPtr(heap, ObjWord(heap, ring, 15)) : nullptr;
  if (!cell) return;
  const UHandle h = reinterpret_cast<UHandle>(uintptr_t(GetNative32(cell)));
  if (h && DSSetHandleSize(h, 4 * (in.Byte() % 6)) == kNoErr && DSGetHandleSize(h) >= 4)
    PutNative32(*h, in.Byte() < 128 ? in.Byte() % 5 : in.Word());
  if (in.Byte() >= 230) ObjSetWord(heap, ring, 15, int32(in.Word()));
  if (in.Byte() >= 230) ObjSetWord(heap, ring, 16, int32(in.Word()));
  for (int32 k = 0; k < 4 && in.n; ++k) {
    UHandle list = ObjItemData(heap, ring);
    FUZZ_CHECK(!list || 4 + 4 * int64(GetNative32(*list)) <= DSGetHandleSize(list));
    const int32 before = list ? int32(GetNative32(*list)) : -1, index = int32(in.Word());
    const bool insert = in.Byte() & 1;
    const int32 got = RingInsertDeleteItem(heap, ring, index, insert);
    if (got < 0) continue;
    list = ObjItemData(heap, ring);
    FUZZ_CHECK(list && got <= before && int32(GetNative32(*list)) == before + (insert ? 1 : -1));
  }
}

void FuzzRamp(Input& in, ObjHeap heap, int32 root) {
  const int32 scale = vib::NewObject(heap, kClsScale, ClassRecord(kClsScale)->instanceSize, root);
  const MgErr err = scale ? AllocObjDataSpace(heap, scale) : kMemFullErr;
  if (DSAllocCurrentState()->active) AllocEndPass();
  ScaleRec* r = err == kNoErr ? ScaleRecOf(heap, scale) : nullptr;
  UHandle m = r ? DSNewHClr(in.Byte() % 64) : nullptr;
  if (!m) return;
  in.Bytes(*m, size_t(DSGetHandleSize(m)));
  if (DSGetHandleSize(m) >= 4 && in.Byte() < 200) PutNative32(*m, in.Byte() % 6);
  const UHandle own = r->markers;  // the record's own table, put back for its disposal
  r->markers = m, r->endParts[0] = in.Word(), r->endParts[1] = in.Word();
  ObjSetWord(heap, scale, 0, int32(in.Word() & (kRampNoInterpolation | kRampStepped)));
  for (int32 k = 0; k < 4 && in.n; ++k) {
    float64 v;
    in.Bytes(&v, sizeof v);
    FUZZ_CHECK(PanelLookupValue(heap, scale, v) <= 0xFFFFFF);
  }
  ScaleRecOf(heap, scale)->markers = own;
  DSDisposeHandle(m);
}

void FuzzString(Input& in, ObjHeap heap, int32 root) {
  const int32 string = NewControl(heap, root, tdb::String(), kClsString);
  const int32 text = string ? vib::NewObject(heap, kClsLabel, ClassRecord(kClsLabel)->instanceSize, string, 11, 0) : 0;
  if (!text) return;
  ObjSetWord(heap, text, 0, in.Byte() & 1 ? int32(kTextFlagBackslash) : 0);
  uChar bytes[64];
  const int32 length = in.Byte() % 64;
  in.Bytes(bytes, size_t(length));
  SetPartText(heap, text, bytes, length);
  const int32 reply = StringTextToData(heap, string, text, PartTextRecord(heap, text), 0x41);
  const UPtr cell = reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(heap, string, 0, kDataPtrPlain, nullptr))));
  const UHandle data = cell ? reinterpret_cast<UHandle>(uintptr_t(GetNative32(cell))) : nullptr;
  FUZZ_CHECK((reply & 0x48) == 8 && data && int32(GetNative32(*data)) <= length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    PanelInstallEngineHooks();
    ControlsInstallScaleHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    return FuzzStartManagers(FuzzAbortWhenArmed) && TypeHeapInit() == kNoErr;
  }();
  if (!init || size > 4096) return 0;
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewBoundPanel({}, &vi);
  if (!heap) return 0;
  VIRec(vi)->viKind = int16(in.Byte() % 8);
  VIRec(vi)->flags2 = in.Byte() & 1 ? kVIFlags2OwnerMode : 0;
  const int32 root = int32(GetNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtRoot));
  FuzzArmed() = true;
  switch (in.Byte() % 5) {
    case 0: FuzzKeys(in, heap, root); break;
    case 1: FuzzSelection(in, heap, root); break;
    case 2: FuzzRing(in, heap, root); break;
    case 3: FuzzRamp(in, heap, root); break;
    default: FuzzString(in, heap, root); break;
  }
  FuzzArmed() = false;
  FuzzDisposePanel(heap, vi);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
