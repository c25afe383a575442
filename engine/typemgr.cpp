// The type heap: interned type descriptors, the VIs' type lists and type IDs,
// and the garbage collection.
#include "typemgr.h"

#include <cstring>
#include <initializer_list>

#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/sorting.h"
#include "td_internal.h"
#include "typemgr_internal.h"

static_assert(sizeof(UHandle) == 4, "VI record handles are kept in 32-bit heap words");

ObjHeap tyh::gHeap = nullptr;

using namespace tyh;

bool tyh::HaveHeap() {
  if (gHeap) return true;
  DBAssert(kSourceFile, __LINE__, "the type heap is not made yet");
  return false;
}

namespace {

// A new, empty offset list in the type heap (0 when memory is full).
inline int32 NewList() { return OHNewBlock(gHeap, kObjListNewSize, kObjClassList); }

// A descriptor that may lie inside the type heap: kept by offset there, since
// an allocation may move the heap.
class TDSource {
 public:
  explicit TDSource(const void* td) : ptr_(static_cast<const uChar*>(td)) {
    uintptr_t base = uintptr_t(*gHeap), at = uintptr_t(td);
    int32 size = AZGetHandleSize(gHeap);
    if (size > 0 && at >= base && at - base < uintptr_t(size)) offset_ = int32(at - base);
  }
  const uChar* Get() const { return offset_ >= 0 ? *gHeap + offset_ : ptr_; }

 private:
  const uChar* ptr_;
  int32 offset_ = -1;
};

// The VI that owns a panel heap, after checking the heap's kind.
UHandle PanelOwner(ObjHeap panel) {
  if (!panel || !*panel || OHWord(panel, kOHKind) != kPanelHeapKind) {
    DBAssert(kSourceFile, __LINE__, "type IDs need a front-panel heap");
    return nullptr;
  }
  return PanelHeapOwner(panel);
}

int32 PanelRec(ObjHeap panel) {
  UHandle vi = PanelOwner(panel);
  return vi ? FindInstrTypeRec(vi) : 0;
}

// The offset of the entry of a type ID in the VI's current list; 0 when there is none.
int32 EntryOffset(ObjHeap panel, TypeID id, int32 selector) {
  if (selector != 0) {
    DBAssert(kSourceFile, __LINE__, "only the current type list can be selected");
    return 0;
  }
  if (!gHeap || id == 0) return 0;
  int32 rec = PanelRec(panel);
  if (!rec) return 0;
  int32 list = Rd(gHeap, rec + kITRCurrentList);
  if (!list || id - 1 >= uInt32(ObjListCount(gHeap, list))) return 0;
  return list + 4 + 4 * int32(id - 1);
}

// A descriptor of 64 KB or more (size field 0xFFFF) takes its size from a
// holder that a type heap object does not have: it is refused.
bool Internable(const TypeDescriptor* td) { return TDSize(td) != kTDSizeInHolder; }

// True when the object is an element of the shared list.
bool IsInterned(int32 obj) {
  int32 list = SharedList();
  int32 pos = BinSearch(*gHeap + list + 4, ObjListCount(gHeap, list), 4, *gHeap + obj, CompareHeapTDs);
  return pos >= 0 && ObjListGet(gHeap, list, pos) == obj;
}

}  // namespace

UHandle PanelHeapOwner(ObjHeap heap) {
  if (!heap || !*heap || OHWord(heap, kOHKind) != kPanelHeapKind) return nullptr;
  int32 ext = int32(OHWord(heap, kOHExtension));
  if (ext <= 0 || OHBlockSize(heap, ext) < kHeapExtOwner + 4) return nullptr;
  return reinterpret_cast<UHandle>(uintptr_t(GetNative32(*heap + ext + kHeapExtOwner)));
}

ObjHeap TypeHeap() { return gHeap; }

// ---- The heap ------------------------------------------------------------------------

MgErr TypeHeapInit() {
  if (gHeap) return kNoErr;
  ObjHeap heap = OHNewHeap(kTypeHeapDataSize, kTypeHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  if (!heap) return kMemFullErr;
  if (!OHWord(heap, kOHExtension)) {
    OHDisposeHeap(heap);
    return kMemFullErr;
  }
  gHeap = heap;
  int32 viList = NewList();
  int32 shared = NewList();
  int32 voidTD = NewTDObject(TDSize(StdTDTable[kStdTDVoid]));
  MgErr err = kMemFullErr;
  if (viList && shared && voidTD) {
    std::memcpy(*gHeap + voidTD, StdTDTable[kStdTDVoid], size_t(TDSize(StdTDTable[kStdTDVoid])));
    err = OHListInsert(gHeap, &shared, voidTD, 0);
  }
  if (err) {
    gHeap = nullptr;
    OHDisposeHeap(heap);
    return err;
  }
  SetVIList(viList);
  SetSharedList(shared);
  return kNoErr;
}

void TypeHeapDispose() {
  ObjHeap heap = gHeap;
  gHeap = nullptr;
  if (heap) OHDisposeHeap(heap);
}

// ---- VIs -----------------------------------------------------------------------------

Bool32 VIHasTypeRec(UHandle vi) {
  if (!gHeap || !vi || !*vi) return 0;
  const int32 list = VIList(), idx = CachedIndex(vi);
  return idx >= 0 && idx < ObjListCount(gHeap, list) && RecVI(ObjListGet(gHeap, list, idx)) == vi;
}

int32 FindInstrTypeRec(UHandle vi) {
  if (!gHeap || !vi || !*vi) return 0;
  int32 list = VIList();
  int32 idx = CachedIndex(vi);
  if (idx < 0 || idx >= ObjListCount(gHeap, list)) {
    DBPrintf("Error: FindInstrTypeRec: cached idx out of range");
    return 0;
  }
  int32 rec = ObjListGet(gHeap, list, idx);
  if (RecVI(rec) != vi) {
    DBPrintf("Error: FindInstrTypeRec: cached idx invalid");
    return 0;
  }
  return rec;
}

void RenumberInstrTypeRecs() {
  if (!gHeap) return;
  int32 list = VIList();
  int32 n = ObjListCount(gHeap, list);
  for (int32 i = 0; i < n; ++i)
    if (UHandle vi = RecVI(ObjListGet(gHeap, list, i))) SetCachedIndex(vi, i);
}

MgErr RegisterVI(UHandle vi) {
  if (!HaveHeap()) return kTypeHeapErr;
  if (!vi) {
    DBAssert(kSourceFile, __LINE__, "no VI to register");
    return kArgErr;
  }
  int32 rec = OHNewBlock(gHeap, kInstrTypeRecSize, kObjClassInstrTypeRec);
  if (!rec) return kMemFullErr;
  Wr(gHeap, rec + kITRVI, int32(uintptr_t(vi)));
  int32 viList = VIList();
  MgErr err = OHListInsert(gHeap, &viList, rec, kObjListAppend);
  if (err) {
    OHDisposeBlock(gHeap, rec);
    return err;
  }
  SetVIList(viList);

  // The list of type lists with two empty lists, the second the current one.
  int32 lists = NewList(), first = 0, second = 0;
  err = kMemFullErr;
  if (lists && (first = NewList()) != 0) err = OHListInsert(gHeap, &lists, first, kObjListAppend);
  if (!err) err = (second = NewList()) != 0 ? OHListInsert(gHeap, &lists, second, kObjListAppend) : kMemFullErr;
  if (!err) {
    Wr(gHeap, rec + kITRTypeLists, lists);
    Wr(gHeap, rec + kITRCurrentList, second);
    RenumberInstrTypeRecs();
    return kNoErr;
  }
  for (int32 made : {second, first, lists})
    if (made) OHDisposeBlock(gHeap, made);
  ObjListRemove(gHeap, VIList(), rec);
  OHDisposeBlock(gHeap, rec);
  return err;
}

MgErr UnregisterVI(UHandle vi) {
  int32 rec = FindInstrTypeRec(vi);
  if (!rec) return kTypeHeapErr;
  int32 lists = Rd(gHeap, rec + kITRTypeLists);
  if (lists) {
    int32 n = ObjListCount(gHeap, lists);
    for (int32 i = 0; i < n; ++i)
      if (int32 list = ObjListGet(gHeap, lists, i)) OHDisposeBlock(gHeap, list);
    OHDisposeBlock(gHeap, lists);
  }
  ObjListRemove(gHeap, VIList(), rec);
  OHDisposeBlock(gHeap, rec);
  RenumberInstrTypeRecs();
  return kNoErr;
}

// ---- Type IDs ------------------------------------------------------------------------

int32* FindTypeIDEntry(ObjHeap panel, TypeID id, int32 selector) {
  int32 at = EntryOffset(panel, id, selector);
  return at ? reinterpret_cast<int32*>(*gHeap + at) : nullptr;
}

int32 TypeIDEntryValue(ObjHeap panel, TypeID id, int32 selector) {
  int32 at = EntryOffset(panel, id, selector);
  return at ? Rd(gHeap, at) : 0;
}

TypeDescriptor* TypeIDGetTD(ObjHeap panel, TypeID id, int32 selector) {
  int32 obj = TypeIDEntryValue(panel, id, selector);
  return obj ? TDAt(gHeap, obj) : nullptr;
}

TypeDescriptor* TypeIDToTD(ObjHeap panel, TypeID id) {
  TypeDescriptor* td = TypeIDGetTD(panel, id, 0);
  if (!td) DBAssert(kSourceFile, __LINE__, "the type ID names no type descriptor");
  return td;
}

MgErr RegisterTypeID(UHandle vi, int32 tdObject, TypeID* id) {
  if (id) *id = 0;
  int32 rec = FindInstrTypeRec(vi);
  if (!rec) {
    DBPrintf("Error: RegisterTypeID: could not find instrTypeRec");
    return kTypeHeapErr;
  }
  int32 cur = Rd(gHeap, rec + kITRCurrentList);
  if (!cur) {
    DBPrintf("Error: RegisterTypeID: could not find typeList");
    return kTypeHeapErr;
  }
  int32 count = ObjListCount(gHeap, cur);
  for (int32 i = count - 1; i >= 0; --i) {
    if (ObjListGet(gHeap, cur, i) == 0) {
      ObjListSet(gHeap, cur, i, tdObject);
      if (id) *id = TypeID(i + 1);
      return kNoErr;
    }
  }
  int32 moved = cur;
  MgErr err = OHListInsert(gHeap, &moved, tdObject, kObjListAppend);
  if (err) return err;
  if (moved != cur) {
    Wr(gHeap, rec + kITRCurrentList, moved);
    if (ObjListIndex(gHeap, Rd(gHeap, rec + kITRTypeLists), cur, moved) < 0)
      DBAssert(kSourceFile, __LINE__, "the current type list is missing from the VI's lists");
  }
  if (id) *id = TypeID(count + 1);
  return kNoErr;
}

TypeID AllocTypeID(ObjHeap dst, ObjHeap src, TypeID model) {
  if (!HaveHeap()) return 0;
  int32 obj;
  if (model == 0) {
    obj = ObjListGet(gHeap, SharedList(), 0);
  } else {
    obj = TypeIDEntryValue(src, model, 0);
    if (!obj) {
      // Registering an empty entry would hand out a number that the next
      // registration gives away again.
      DBAssert(kSourceFile, __LINE__, "the model type ID names no type descriptor");
      return 0;
    }
  }
  UHandle vi = PanelOwner(dst);
  TypeID id = 0;
  if (!vi || RegisterTypeID(vi, obj, &id) != kNoErr) return 0;
  return id;
}

void ReleaseTypeID(ObjHeap panel, TypeID id) {
  int32 at = EntryOffset(panel, id, 0);
  if (!at) {
    DBAssert(kSourceFile, __LINE__, "releasing a type ID that does not exist");
    return;
  }
  if (Rd(gHeap, at) == 0) DBAssert(kSourceFile, __LINE__, "releasing a type ID that is not set");
  Wr(gHeap, at, 0);
}

MgErr SetTypeIDTDPtr(ObjHeap panel, TypeID id, TypeDescriptor* td) {
  int32 at = EntryOffset(panel, id, 0);
  if (!at) {
    DBAssert(kSourceFile, __LINE__, "setting the descriptor of a type ID that does not exist");
    return kArgErr;
  }
  if (Rd(gHeap, at) == 0) DBAssert(kSourceFile, __LINE__, "setting the descriptor of a type ID that is not set");
  int32 obj = 0;
  if (td) {
    if (!Internable(td)) return kArgErr;
    obj = TDToTypeHeap(td);
    if (!obj) return kMemFullErr;
  }
  // Interning may have moved the heap, never the type list.
  Wr(gHeap, at, obj);
  return kNoErr;
}

MgErr SetTypeIDTD(ObjHeap panel, TypeID id, int32 tdObject) {
  if (!HaveHeap()) return kTypeHeapErr;
  MgErr err = SetTypeIDTDPtr(panel, id, tdObject ? TDAt(gHeap, tdObject) : nullptr);
  if (tdObject && TypeIDEntryValue(panel, id, 0) != tdObject && !IsInterned(tdObject))
    OHDisposeBlock(gHeap, tdObject);
  return err;
}

MgErr SetTypeIDName(ObjHeap panel, TypeID id, ConstPStr name) {
  const TypeDescriptor* td = TypeIDGetTD(panel, id, 0);
  if (!td) {
    DBAssert(kSourceFile, __LINE__, "naming a type ID that names no type descriptor");
    return kArgErr;
  }
  int32 part = TDSize(td);
  if (td->flags & kTDFlagName) {
    // The old name, empty ones included, starts where the type part ends.
    int32 at = td::NameOffset(reinterpret_cast<const uChar*>(td));
    if (at >= 4 && at < part) part = at;
  }
  int32 len = name ? name[0] : 0;
  int32 nameBytes = len ? (len + 2) & ~1 : 0;
  int32 size = part + nameBytes;
  if (size >= kTDSizeInHolder) return kArgErr;
  int32 tdOff = int32(reinterpret_cast<const uChar*>(td) - *gHeap);
  int32 obj = NewTDObject(size);
  if (!obj) return kMemFullErr;
  uChar* dst = *gHeap + obj;
  std::memcpy(dst, *gHeap + tdOff, size_t(part));
  if (len) {
    std::memcpy(dst + part, name, size_t(len) + 1);
    if (nameBytes > len + 1) dst[part + len + 1] = 0;
    dst[3] = uChar(dst[3] | kTDFlagName);
  } else {
    dst[3] = uChar(dst[3] & ~kTDFlagName);
  }
  PutNative16(dst, uInt16(size));
  return SetTypeIDTD(panel, id, obj);
}

TypeID NewTypeIDForTD(ObjHeap panel, const TypeDescriptor* td) {
  if (!HaveHeap() || !td) return 0;
  int32 size = TDSize(td);
  if (size < 1) {
    DBAssert(kSourceFile, __LINE__, "type descriptor of size 0");
    return 0;
  }
  if (!Internable(td)) return 0;
  TDSource src(td);
  TypeID id = AllocTypeID(panel, nullptr, 0);
  if (!id) return 0;
  // Interning normalises in place: work on a copy, not on the caller's descriptor.
  int32 copy = NewTDObject(size);
  if (!copy) {
    ReleaseTypeID(panel, id);
    return 0;
  }
  std::memmove(*gHeap + copy, src.Get(), size_t(size));
  if (SetTypeIDTD(panel, id, copy) != kNoErr) {
    ReleaseTypeID(panel, id);
    return 0;
  }
  return id;
}

TypeID NewStdTypeID(ObjHeap panel, int32 stdIndex) {
  if (stdIndex < 0 || stdIndex >= kStdTDCount || !StdTDTable[stdIndex]) {
    DBAssert(kSourceFile, __LINE__, "no such standard type descriptor");
    return 0;
  }
  return NewTypeIDForTD(panel, StdTDTable[stdIndex]);
}

// ---- Descriptors ---------------------------------------------------------------------

int32 NewTDObject(int32 size) {
  if (!HaveHeap()) return 0;
  if (size < 1 || size > 0xFFFF) {
    DBAssert(kSourceFile, __LINE__, "type descriptor object size outside 1..65535");
    return 0;
  }
  return OHNewBlock(gHeap, size, kClsTypeDescriptor);
}

int32 CompareHeapTDs(const void* td, const void* element) {
  const uChar* a = static_cast<const uChar*>(td);
  const uChar* b = *gHeap + GetNative32(static_cast<const uChar*>(element));
  if (a == b) return 0;
  int32 sa = TDSize(a), sb = TDSize(b);
  if (sa != sb) return sa - sb;
  return BlockCmp(a, b, sa);
}

int32 InternTD(TypeDescriptor* td, Bool32* alreadyThere) {
  if (alreadyThere) *alreadyThere = 0;
  if (!HaveHeap()) return 0;
  if (!td || TDSize(td) < 1) {
    DBAssert(kSourceFile, __LINE__, "interning no type descriptor");
    return 0;
  }
  if (!Internable(td)) return 0;
  NormalizeTDPadding(td);
  int32 size = TDSize(td);
  int32 list = SharedList();
  int32 pos = BinSearch(*gHeap + list + 4, ObjListCount(gHeap, list), 4, td, CompareHeapTDs);
  if (pos >= 0) {
    if (alreadyThere) *alreadyThere = 1;
    return ObjListGet(gHeap, list, pos);
  }
  TDSource src(td);
  int32 obj = NewTDObject(size);
  if (!obj) return 0;
  std::memmove(*gHeap + obj, src.Get(), size_t(size));
  list = SharedList();
  if (OHListInsert(gHeap, &list, obj, ~pos) != kNoErr) return 0;  // the object is left for collection
  SetSharedList(list);
  return obj;
}

int32 TDToTypeHeap(TypeDescriptor* td) { return InternTD(td, nullptr); }

// ---- Garbage collection --------------------------------------------------------------

namespace {

int32 FreeUnmarkedTD(ObjHeap heap, int32 off) {
  if (OHBlockClass(heap, off) == kClsTypeDescriptor && OHBlockMarkWord(heap, off) == 0)
    OHDisposeBlock(heap, off);
  return 0;
}

}  // namespace

void CollectTypeHeapGarbage() {
  if (!gHeap) return;
  if (OHWord(gHeap, kOHFlags) & kOHMarkPass) {
    DBPrintf("Not a good time to collect garbage from type heap.");
    return;
  }
  OHBeginMarkPass(gHeap, kMarkPassTypeGarbage);
  int32 vis = VIList();
  for (int32 v = 0, nv = ObjListCount(gHeap, vis); v < nv; ++v) {
    int32 lists = Rd(gHeap, ObjListGet(gHeap, vis, v) + kITRTypeLists);
    if (!lists) continue;
    for (int32 l = 0, nl = ObjListCount(gHeap, lists); l < nl; ++l) {
      int32 list = ObjListGet(gHeap, lists, l);
      if (!list) continue;
      for (int32 i = 0, n = ObjListCount(gHeap, list); i < n; ++i)
        if (int32 obj = ObjListGet(gHeap, list, i)) OHSetBlockMarkWord(gHeap, obj, 1);
    }
  }
  int32 shared = SharedList();
  OHSetBlockMarkWord(gHeap, ObjListGet(gHeap, shared, 0), 1);
  for (int32 i = 0, n = ObjListCount(gHeap, shared); i < n; ++i)
    if (OHBlockMarkWord(gHeap, ObjListGet(gHeap, shared, i)) == 0) ObjListSet(gHeap, shared, i, 0);
  OHForEachBlock(gHeap, FreeUnmarkedTD);
  OHEndMarkPass(gHeap);
  ObjListCompact(gHeap, SharedList());
}
