// Loading a VI's saved types: the 'DTHP' resource is an object heap in file
// order whose shared-list word names the VI's saved type list.  Each
// descriptor it names is interned once, and the translated list becomes the
// VI's current type list, so the saved type IDs keep their numbers.
#include <algorithm>
#include <vector>

#include "engine/objswap.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "typemgr.h"
#include "typemgr_internal.h"

using namespace tyh;

namespace {

// Reports of the loader name this source.
const char kLoadSource[] = "typeload";

// Adds a used block's offset to the vector in the context.
int32 CollectUsed(ObjHeap, int32 off, void* used) {
  static_cast<std::vector<int32>*>(used)->push_back(off);
  return 0;
}

// Checks everything the loader reads of a loaded heap (in memory order,
// inside a mark pass) before anything is interned: the extension, the saved
// type list and every descriptor it names.  Returns the list's offset, or 0
// when anything is malformed.  The mark words are 0 again afterwards.
int32 CheckSavedTypes(ObjHeap h) {
  std::vector<int32> used;  // in offset order
  OHForEachBlockWith(h, CollectUsed, &used);
  auto isUsed = [&](int32 off, int32 cls) {
    return std::binary_search(used.begin(), used.end(), off) && OHBlockClass(h, off) == cls;
  };
  int32 ext = int32(OHWord(h, kOHExtension));
  if (!isUsed(ext, kClsObjHeapHdrExtension) || OHBlockSize(h, ext) < kTypeHeapExtSharedList + 4) return 0;
  int32 list = Rd(h, ext + kTypeHeapExtSharedList);
  if (!isUsed(list, kObjClassList)) return 0;
  int32 room = OHBlockSize(h, list);
  int32 count = Rd(h, list);
  if (room < 4 || count < 0 || count > (room - 4) / 4) return 0;
  bool ok = true;
  for (int32 i = 0; i < count && ok; ++i) {
    int32 e = ObjListGet(h, list, i);
    if (e == 0) continue;
    if (!isUsed(e, kClsTypeDescriptor)) {
      ok = false;
    } else if (OHBlockMarkWord(h, e) == 0) {  // each descriptor is checked once
      int32 usable = OHBlockSize(h, e);
      ok = usable >= 4 && TDSize(*h + e) <= usable && TDSize(*h + e) != kTDSizeInHolder &&
           TDCheckBounds(*h + e, std::min(usable, int32(0xFFFF))) == kNoErr;
      OHSetBlockMarkWord(h, e, 1);
    }
  }
  OHSetMarkWords(h, 0);
  return ok ? list : 0;
}

}  // namespace

MgErr LoadVITypes(UHandle vi, int32 rsrcId, RsrcFileRef rsrcFile, Bool32* found) {
  if (found) *found = 0;
  UHandle h = nullptr;
  MgErr err = RGet(rsrcFile, kTypeHeapRsrcType, rsrcId, &h);
  if (err == kRsrcNotFoundErr) return kNoErr;
  if (err) return err;
  if (found) *found = 1;
  if ((err = RDetach(h)) != kNoErr) return err;
  return LoadVITypesFromHandle(vi, h);
}

MgErr LoadVITypesFromHandle(UHandle vi, UHandle stored) {
  if (!stored) return kArgErr;
  if (!HaveHeap() || !FindInstrTypeRec(vi)) {
    DBAssert(kLoadSource, __LINE__, "loading the types of a VI that is not registered");
    AZDisposeHandle(stored);
    return kTypeHeapErr;
  }
  // The heap check refuses a malformed heap, a stored mark pass and a busy
  // free list; the converters keep inside each object's block.
  MgErr err = OHByteSwapHeap(stored, OSwapByClass, kToMemoryOrder);
  if (err) {
    AZDisposeHandle(stored);
    return err;
  }
  ObjHeap h = stored;
  OHLinkHeap(h);
  OHBeginMarkPass(h, kMarkPassLoadTypes);
  int32 saved = CheckSavedTypes(h);
  if (!saved) err = kArgErr;
  // Each saved descriptor is interned once; its mark word remembers where.
  for (int32 i = 0, n = saved ? ObjListCount(h, saved) : 0; i < n && !err; ++i) {
    int32 e = ObjListGet(h, saved, i);
    if (!e) continue;
    int32 interned = OHBlockMarkWord(h, e);
    if (!interned) {
      interned = TDToTypeHeap(TDAt(h, e));
      if (!interned) {
        err = kMemFullErr;
        break;
      }
      OHSetBlockMarkWord(h, e, interned);
    }
    ObjListSet(h, saved, i, interned);
  }
  int32 copy = 0;
  if (!err && !(copy = OHCopyBlock(h, saved, gHeap))) err = kMemFullErr;
  if (!err) {
    int32 vis = VIList();
    int32 idx = CachedIndex(vi);
    if (idx < 0 || idx >= ObjListCount(gHeap, vis)) {
      DBAssert(kLoadSource, __LINE__, "the VI's cached type heap index is out of range");
      OHDisposeBlock(gHeap, copy);
      err = kTypeHeapErr;
    } else {
      int32 rec = ObjListGet(gHeap, vis, idx);
      int32 old = Rd(gHeap, rec + kITRCurrentList);
      Wr(gHeap, rec + kITRCurrentList, copy);
      if (ObjListIndex(gHeap, Rd(gHeap, rec + kITRTypeLists), old, copy) < 0)
        DBAssert(kLoadSource, __LINE__, "the current type list is missing from the VI's lists");
      if (old) OHDisposeBlock(gHeap, old);
    }
  }
  OHEndMarkPass(h);
  OHDisposeHeap(h);
  return err;
}
