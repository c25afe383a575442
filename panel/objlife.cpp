// Object lifetime: objects made by class name, their registration in the
// class word of their block, forwarding while a heap is copied, disposal,
// and the check of a stored panel heap before its objects load.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/link/linker.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "panel/objects.h"
#include "panel/oinit.h"

namespace {

const char kSourceFile[] = "oheapmgr";

// A class id this table has a record for.
bool HasRecord(int32 cls) { return cls > 0 && cls < kClassIdCount && ClassRecord(cls)->methodCount != 0; }

// The record of an external class (ids 179 and above).  Nothing in this
// application makes such classes, so none has a record.
const ObjClassRecord* ExternalRecord(int32) { return nullptr; }

void OwnerName(ObjHeap heap, uChar* name) {
  name[0] = 0;
  if (UHandle vi = PanelHeapOwner(heap); vi && *vi) std::memcpy(name, VIRec(vi)->name, 256);
}

// The external class's record, after the checks registration makes: the
// heap must be a front-panel heap (an assertion otherwise).
const ObjClassRecord* ExternalFor(ObjHeap heap, int32 cls) {
  if (OHWord(heap, kOHKind) != kPanelHeapKind) {
    DBAssert(kSourceFile, __LINE__, "an object of an external class outside a front-panel heap");
    return nullptr;
  }
  const ObjClassRecord* r = ExternalRecord(cls);
  if (!r) DBPrintf("ObjRegister: class %ld has no record", long(cls));
  return r;
}

// An offset these functions act on must be a used block of the heap: a
// freed block, an address inside a block or one outside the heap is refused
// and reported, before anything reads or writes its header.
bool IsObject(ObjHeap heap, int32 offset, const char* caller, int32 line) {
  if (OHIsUsedBlock(heap, offset)) return true;
  char text[96];
  std::snprintf(text, sizeof text, "%s: 0x%lx is not an object of the heap", caller, long(offset));
  DBAssert(kSourceFile, line, text);
  return false;
}

}  // namespace

MgErr ObjRegister(ObjHeap heap, int32 offset, int32 cls) {
  if (!heap || !*heap || !offset) return kArgErr;
  if (!IsObject(heap, offset, "ObjRegister", __LINE__)) return kArgErr;
  if (cls < kClassIdCount) {
    if (!HasRecord(cls)) {
      DBPrintf("ObjRegister: class %ld has no record", long(cls));
      return kArgErr;
    }
    OHSetBlockClass(heap, offset, cls);
    return kNoErr;
  }
  const ObjClassRecord* r = ExternalFor(heap, cls);
  if (!r) return kArgErr;
  uChar owner[256];
  OwnerName(heap, owner);
  return AddExtern(heap, offset, owner, OHWord(heap, kOHKind), r->name, nullptr, r->categoryA, nullptr, nullptr) == 0
             ? kNoErr
             : kMemFullErr;
}

MgErr ObjUnregister(ObjHeap heap, int32 offset, int32 cls) {
  if (!heap || !*heap || !offset) return kArgErr;
  if (!IsObject(heap, offset, "ObjUnregister", __LINE__)) return kArgErr;
  if (cls < kClassIdCount) {
    OHSetBlockClass(heap, offset, 0);
    return kNoErr;
  }
  const ObjClassRecord* r = ExternalFor(heap, cls);
  if (!r) return kArgErr;
  uChar owner[256];
  OwnerName(heap, owner);
  RemExtern(heap, offset, owner, OHWord(heap, kOHKind), r->name, r->categoryA);
  return kNoErr;
}

int32 NewObjectByClassName(ObjHeap heap, ConstPStr className, uInt32 refClass) {
  if (!heap || !*heap) {
    DBAssert(kSourceFile, __LINE__, "no heap for a new object");
    return 0;
  }
  if (!className) return 0;
  int32 cls = ClassIdByName(className);
  if (!cls) {
    uInt32 item = 0;
    if (!FindOrLoadLinkItem(className, refClass, &item)) return 0;
    cls = int32(item);
  }
  if (!HasRecord(cls)) {
    DBPrintf("NewObjectByClassName: \"%p\" names class %ld, which has no record", className, long(cls));
    return 0;
  }
  const int32 size = ClassRecord(cls)->instanceSize;
  const int32 object = OHNewBlock(heap, size, cls);
  if (!object) return 0;
  std::memset(*heap + object, 0, size_t(size));
  if (ObjRegister(heap, object, cls) != kNoErr) {
    OHDisposeBlock(heap, object);
    return 0;
  }
  return object;
}

int32 DisposeObject(ObjHeap heap, int32 offset) {
  if (!offset) {
    DBAssert(kSourceFile, __LINE__, "DisposeObject: no object");
    return 0;
  }
  if (!heap || !*heap || !IsObject(heap, offset, "DisposeObject", __LINE__)) return 0;
  ObjUnregister(heap, offset, OHBlockClass(heap, offset));
  OHDisposeBlock(heap, offset);
  return 0;
}

int32 ObjCopyForward(ObjHeap src, int32 offset, ObjHeap dst) {
  if (!offset) {
    DBAssert(kSourceFile, __LINE__, "ObjCopyForward: no object");
    return 0;
  }
  if (!src || !*src || !dst || !*dst || !IsObject(src, offset, "ObjCopyForward", __LINE__)) return 0;
  if (const int32 copied = OHBlockMarkWord(src, offset)) return copied;
  const int32 cls = OHBlockClass(src, offset);
  const int32 copy = OHCopyBlock(src, offset, dst);
  if (!copy) return 0;
  if (ObjRegister(dst, copy, cls) != kNoErr) {
    OHDisposeBlock(dst, copy);
    return 0;
  }
  OHSetBlockMarkWord(src, offset, copy);
  OHSetBlockMarkWord(dst, copy, offset);
  return copy;
}

// ---- The check of a stored panel heap ----------------------------------------------

namespace {

struct HeapCheck {
  ObjHeap heap;
  std::vector<int32> used;  // data offsets of the used blocks, ascending

  uInt32 Word(int32 at) const { return GetNative32(*heap + at); }
  // 0, or the data offset of a used block.
  bool Names(uInt32 offset) const {
    return offset == 0 || (offset <= 0x7FFFFFFF && std::binary_search(used.begin(), used.end(), int32(offset)));
  }
  // A word that names a block or nothing; when it names an offset list,
  // the list's count fits its block and every entry names a block.
  bool List(uInt32 offset) const {
    if (!Names(offset)) return false;
    if (!offset) return true;
    const int32 size = OHBlockSize(heap, int32(offset));
    if (size < 4) return false;
    const uInt32 count = Word(int32(offset));
    if (count > uInt32(size - 4) / 4) return false;
    for (uInt32 i = 0; i < count; ++i)
      if (!Names(Word(int32(offset + 4 + 4 * i)))) return false;
    return true;
  }
};

int32 CollectUsed(ObjHeap, int32 offset, void* check) {
  static_cast<HeapCheck*>(check)->used.push_back(offset);
  return 0;
}

// Classes whose objects begin with the leading fields (an owner word), and
// those that also keep a part list.
bool HasOwnerWord(const ObjClassRecord* r) {
  return r->methodCount && r->instanceSize >= kObjOwner + 4 &&
         (r->categoryB == kCatDDO || r->categoryB == kCatCOSM || r->categoryB == kCatFPSC || r->categoryB == kCatDCO);
}

}  // namespace

MgErr CheckStoredPanelObjects(ObjHeap heap) {
  if (!heap || !*heap || OHWord(heap, kOHKind) != kPanelHeapKind) return kArgErr;
  HeapCheck c{heap, {}};
  OHForEachBlockWith(heap, &CollectUsed, &c);
  std::sort(c.used.begin(), c.used.end());
  for (int32 b : c.used) {
    const int32 cls = OHBlockClass(heap, b);
    const ObjClassRecord* r = ClassRecord(cls);
    const int32 size = OHBlockSize(heap, b);
    if (size < r->instanceSize) {
      DBPrintf("stored panel: block 0x%lx of class %ld has %ld bytes, fewer than its class's %ld", long(b), long(cls),
               long(size), long(r->instanceSize));
      return kArgErr;
    }
    if (HasOwnerWord(r) && !c.Names(c.Word(b + kObjOwner))) return kArgErr;
    if (ClassIsKindOf(cls, kClsGrouperObject) && r->instanceSize >= kObjPartList + 4 && !c.List(c.Word(b + kObjPartList)))
      return kArgErr;
  }
  const uInt32 ext = OHWord(heap, kOHExtension);
  if (!ext || !c.Names(ext) || OHBlockSize(heap, int32(ext)) < kHeapExtensionSize) return kArgErr;
  for (int32 at : {kHeapExtRoot, kHeapExtKeyFocus})
    if (!c.Names(c.Word(int32(ext) + at))) return kArgErr;
  for (int32 at : {kHeapExtSelection, kHeapExtBlinkList})
    if (!c.List(c.Word(int32(ext) + at))) return kArgErr;
  if (const uInt32 root = c.Word(int32(ext) + kHeapExtRoot)) {
    if (OHBlockSize(heap, int32(root)) < kRootKeyNav + 4) return kArgErr;
    for (int32 at : {kRootItemList, kRootObjectList, kRootKeyNav})
      if (!c.List(c.Word(int32(root) + at))) return kArgErr;
  }
  // Words of a running panel (text records, confirm record, saved frames,
  // window, menu bar) mean nothing in a file.
  for (int32 at : {kHeapExtFocusText, kHeapExtStashedText, kHeapExtConfirm, kHeapExtSavedFrames, kHeapExtWindow,
                   kHeapExtMenuBar})
    PutNative32(*heap + ext + at, 0);
  return kNoErr;
}
