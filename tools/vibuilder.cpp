#include "tools/vibuilder.h"

#include "engine/panelrec.h"
#include "engine/datamgr.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"

namespace vib {

namespace {
constexpr int32 kPanelDataSize = 2000;
constexpr int32 kOwnerWord = 4, kPartIdByte = 8, kPartOrderByte = 10, kPartListWord = 24;
// A panel's root keeps its top-level objects in its object list (word 11).
constexpr int32 kRootClass = 76, kRootObjectListWord = 44;
}  // namespace

tdb::TD DataSpaceType(const std::vector<tdb::TD>& entries) {
  std::vector<tdb::TD> all{tdb::Block(kDataSpaceHeaderSize)};
  all.insert(all.end(), entries.begin(), entries.end());
  return tdb::Cluster(all);
}

UHandle NewVI(const std::vector<tdb::TD>& entries, bool withDataSpace) {
  UHandle vi = AZNewHClr(kVIHeaderSize);
  if (!vi) return nullptr;
  VIRec(vi)->typeHeapIndex = -1;
  std::vector<uChar> td = DataSpaceType(entries).Bytes();
  UHandle tdh = nullptr;
  if (DSPtrToHand(td.data(), &tdh, int32(td.size())) != kNoErr) {
    AZDisposeHandle(vi);
    return nullptr;
  }
  VIRec(vi)->dsTypeMap = tdh;
  if (!withDataSpace) return vi;
  int32 size = DataSize(tdb::AsTD(td));
  UHandle ds = DSNewHClr(size);
  if (!ds || InitEmptyData(tdb::AsTD(td), *ds) != kNoErr) {
    if (ds) {
      DisposeData(tdb::AsTD(td), *ds, *ds + size);
      DSDisposeHandle(ds);
    }
    DSDisposeHandle(tdh);
    AZDisposeHandle(vi);
    return nullptr;
  }
  DSHdr(ds)->typeDesc = tdh;
  DSHdr(ds)->size = size;
  DSHdr(ds)->selfPtr = DSHdr(ds);
  VIRec(vi)->dataSpace = ds;
  return vi;
}

ObjHeap NewPanel(UHandle vi) {
  ObjHeap heap = OHNewHeap(kPanelDataSize, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  if (!heap) return nullptr;
  int32 ext = int32(OHWord(heap, kOHExtension));
  PutNative32(*heap + ext + kHeapExtOwner, uInt32(uintptr_t(vi)));
  VIRec(vi)->panelHeap = heap;
  return heap;
}

void DisposeVI(UHandle vi) {
  if (!vi) return;
  VIRecord* r = VIRec(vi);
  if (r->panelHeap) OHDisposeHeap(r->panelHeap);
  UHandle ds = r->dataSpace, td = r->dsTypeMap;
  if (ds && td) DisposeData(reinterpret_cast<const TypeDescriptor*>(*td), *ds, *ds + DSGetHandleSize(ds));
  if (ds) DSDisposeHandle(ds);
  if (td) DSTypeMapChanged();
  if (td) DSDisposeHandle(td);
  AZDisposeHandle(vi);
}

int32 NewObject(ObjHeap heap, int32 cls, int32 size, int32 owner, int16 partId, int16 order) {
  int32 obj = OHNewBlock(heap, size, cls);
  if (!obj) return 0;
  OHSetWord(heap, uInt32(obj + kOwnerWord), uInt32(owner));
  PutNative16(*heap + obj + kPartIdByte, uInt16(partId));
  PutNative16(*heap + obj + kPartOrderByte, uInt16(order));
  if (owner) {
    const int32 word = OHBlockClass(heap, owner) == kRootClass ? kRootObjectListWord : kPartListWord;
    int32 list = int32(OHWord(heap, uInt32(owner + word)));
    if (!list) {
      list = OHNewBlock(heap, kObjListNewSize, kObjClassList);
      if (!list) return 0;
      OHSetWord(heap, uInt32(owner + word), uInt32(list));
    }
    if (OHListInsert(heap, &list, obj, kObjListAppend) != kNoErr) return 0;
    OHSetWord(heap, uInt32(owner + word), uInt32(list));
  }
  return obj;
}

int32 NewList(ObjHeap heap, const std::vector<int32>& values) {
  int32 list = OHNewBlock(heap, kObjListNewSize, kObjClassList);
  for (int32 v : values)
    if (!list || OHListInsert(heap, &list, v, kObjListAppend) != kNoErr) return 0;
  return list;
}

}  // namespace vib
