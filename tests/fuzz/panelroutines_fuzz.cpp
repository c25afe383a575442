// The shared panel-method routines over stored panel words: a key-binding
// table whose count and offsets are whatever the file held, key events of
// any code, and array selection records whose handles claim any count.  A
// binding answers nothing or a live object; a selection mark is an edge code
// (0 to 15); nothing is asserted on and no handle is left behind.
#include <cstdint>
#include <vector>

#include "engine/dsalloc.h"
#include "fuzz_support.h"
#include "panel/datamsg.h"
#include "mgsource/memory.h"
#include "panel/methsupport.h"
#include "panel/oinit.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    PanelInstallEngineHooks();
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
  if (in.Byte() & 1) FuzzKeys(in, heap, root);
  else FuzzSelection(in, heap, root);
  FuzzArmed() = false;
  FuzzDisposePanel(heap, vi);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
