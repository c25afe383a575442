#include "panel/fppanel.h"

#include <cstring>

#include "engine/datamgr.h"
#include "engine/exec/exec.h"
#include "engine/typemgr.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "panel/fpexec.h"
#include "panel/objects.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/textparts.h"
#include "panel/transact.h"
#include "panel/panel_internal.h"

namespace {

constexpr uInt32 kUpdateQueueSig = FourCC("UDQU");
// Words of a panel data controller: its record's data offset and the offset
// of the record's descriptor in the VI's data-space type.
constexpr int32 kDCORecordWord = 6, kDCORecordTDWord = 7;
int32 ExtWordOf(ObjHeap heap, int32 at) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 ? int32(GetNative32(*heap + ext + at)) : 0;
}


// The record's descriptor inside the VI's data-space type, null when the
// offset does not name a cluster of the record's six elements.
const TypeDescriptor* RecordTD(ObjHeap heap, int32 controller) {
  UHandle vi = PanelHeapOwner(heap);
  UHandle map = vi && *vi ? VIRec(vi)->dsTypeMap : nullptr;
  const int32 at = ObjWord(heap, controller, kDCORecordTDWord);
  if (!map || !*map || at <= 0 || at + 6 > DSGetHandleSize(map)) return nullptr;
  const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(*map + at);
  if (td->code != kTDCluster || at + td->size > DSGetHandleSize(map)) return nullptr;
  if (int16(GetNative16(*map + at + 4)) != kRecElements) return nullptr;
  return td;
}

// The data offsets of the record's elements, from the record's offset.
void ElementOffsets(const TypeDescriptor* rec, int32 base, int32* offsets) {
  int32 off = base;
  for (int32 i = 0; i < kRecElements; ++i) {
    const TypeDescriptor* e = ElemTD(rec, i);
    off = AlignDatum(e, off);
    offsets[i] = off;
    off += DataSize(e);
  }
}

int32 TransferOne(ObjHeap heap, int32 controller, void*) {
  if (ObjClass(heap, controller) == kClsFPDataController) FPTransferDCOData(heap, controller, nullptr);
  return 0;
}

UHandle gClipboardVI = nullptr;
int32 gClipboardKind = 0;

int32 ReleaseUnlessRoot(ObjHeap heap, int32 offset) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  if (offset != ext && offset != int32(GetNative32(*heap + ext + kHeapExtRoot)) &&
      ODisposeMethodFor(OHBlockClass(heap, offset)))
    ODispose(heap, offset);
  return 0;
}

int32 DisposeUnlessHeapExt(ObjHeap heap, int32 offset) {
  if (offset != int32(OHWord(heap, kOHExtension))) OHDisposeBlock(heap, offset);
  return 0;
}

}  // namespace

DataSpace FPBoundDataSpace(ObjHeap heap) {
  if (!heap || !*heap) return nullptr;
  const int32 root = ExtWordOf(heap, kHeapExtRoot);
  if (!root) return nullptr;
  return reinterpret_cast<DataSpace>(uintptr_t(GetNative32(*heap + root + 4 * kPanelRootDataSpaceWord)));
}

int32 FPNewPanelRoot(ObjHeap heap) {
  if (!heap || !*heap) return 0;
  const ObjClassRecord* r = ClassRecord(kClsFrontPanel);
  return OHNewBlock(heap, r->instanceSize, kClsFrontPanel);
}

bool FindDCORecord(ObjHeap heap, int32 controller, DCORecordPlace* place) {
  if (!heap || !*heap || !controller) return false;
  const int32 base = ObjWord(heap, controller, kDCORecordWord);
  DataSpace ds = FPBoundDataSpace(heap);
  const TypeDescriptor* rec = RecordTD(heap, controller);
  if (!base || !ds || !*ds || !rec) return false;
  ElementOffsets(rec, base, place->offsets);
  const int32 end = place->offsets[kRecElements - 1] + DataSize(ElemTD(rec, kRecElements - 1));
  if (end > DSGetHandleSize(reinterpret_cast<UHandle>(ds))) return false;
  place->ds = ds;
  place->rec = rec;
  return true;
}

ThMutex DCORecordMutex(const DCORecordPlace& at) {
  // A record whose head holds flags, mutex and options has a mutex with
  // execution threads on.
  if (!ExecThreadsOn() || DataSize(ElemTD(at.rec, kRecFlags)) < int32(sizeof(DCOOpData))) return nullptr;
  return reinterpret_cast<DCOOpData*>(reinterpret_cast<uChar*>(*at.ds) + at.offsets[kRecFlags])->mutex;
}

int32 FPTransferDCOData(ObjHeap heap, int32 controller, const void* td) {
  DCORecordPlace at;
  if (!FindDCORecord(heap, controller, &at)) return 0;
  const int32* offsets = at.offsets;
  if (!ExecThreadsOn()) return offsets[kRecOperate];
  const TypeDescriptor* value = td ? static_cast<const TypeDescriptor*>(td) : ElemTD(at.rec, kRecOperate);
  bool taken = false;
  {
    ThMutex m = DCORecordMutex(at);
    if (m) ThMutexAcquire(m);
    uChar* data = reinterpret_cast<uChar*>(*at.ds);
    const uInt32 flags = GetNative32(data + offsets[kRecFlags]);
    if ((flags & kDCOTransferPending) &&
        CopyData(value, data + offsets[kRecTransfer], data + offsets[kRecOperate]) == kNoErr) {
      PutNative32(data + offsets[kRecFlags], flags & ~kDCOTransferPending);
      taken = true;
    }
    if (m) ThMutexRelease(m);
  }
  if (taken) OInval(heap, controller, 1);
  return offsets[kRecOperate];
}

void FPTransferAllControls(ObjHeap heap) {
  if (!heap || !*heap) return;
  OHForEachBlockWith(heap, &TransferOne, nullptr);
  FPBindTransferTable(FPBoundDataSpace(heap));
}

void* NewUpdateQueue(int32 room) {
  UpdateQueue* q = reinterpret_cast<UpdateQueue*>(DSNewPClr(sizeof(UpdateQueue)));
  if (!q) return nullptr;
  q->signature = kUpdateQueueSig;
  q->entries = GLNew(room, kUpdateEntrySize);
  if (!q->entries) {
    DSDisposePtr(reinterpret_cast<UPtr>(q));
    return nullptr;
  }
  if (ExecThreadsOn()) {
    ThMutex m = nullptr;
    if (ThMutexCreate(&m, "heapUpdateQueue") == kNoErr) q->mutex = m;
  }
  return q;
}

void DisposeUpdateQueue(void* queue) {
  UpdateQueue* q = static_cast<UpdateQueue*>(queue);
  if (!q) return;
  if (q->signature != kUpdateQueueSig) {
    DBAssert(__FILE__, __LINE__, "DisposeUpdateQueue: not an update queue");
    return;
  }
  if (q->mutex) ThMutexDestroy(static_cast<ThMutex>(q->mutex));
  GLDispose(q->entries);
  q->signature = 0;
  DSDisposePtr(reinterpret_cast<UPtr>(q));
}

void SetPanelClipboard(UHandle vi) { gClipboardVI = vi; }
UHandle PanelClipboardVI() { return gClipboardVI; }
void SetPanelClipboardKind(int32 kind) { gClipboardKind = kind; }
int32 PanelClipboardKind() { return gClipboardKind; }

void FPPanelClipboardLife(Bool32 make) {
  if (!make) {
    const UHandle vi = gClipboardVI;
    gClipboardVI = nullptr;
    gClipboardKind = 0;
    if (vi) DisposeVI(vi, 1);
    return;
  }
  if (gClipboardVI) return;
  const UHandle vi = NewVICore(kVIKindRoot, reinterpret_cast<ConstPStr>("\011Clipboard"), -1);
  if (!vi) return;
  if (!VIRec(vi)->panelHeap) {
    DisposeVI(vi, 1);
    return;
  }
  // Reset once: an initialised root and an empty selection list.
  const ObjHeap heap = VIRec(vi)->panelHeap;
  const int32 ext = *heap ? int32(OHWord(heap, kOHExtension)) : 0;
  const int32 list = ext > 0 && !GetNative32(*heap + ext + kHeapExtSelection) ? OHNewBlock(heap, 8, kClsList) : 0;
  if (list) PutNative32(*heap + ext + kHeapExtSelection, uInt32(list));
  if (ext <= 0 || !GetNative32(*heap + ext + kHeapExtSelection)) {
    DisposeVI(vi, 1);
    return;
  }
  gClipboardVI = vi;
  ResetClipboardHeap(vi);
  gClipboardKind = 0;
}

void ClearPanelClipboard() {
  if (gClipboardKind == 0) return;
  if (gClipboardVI) ResetClipboardHeap(gClipboardVI);
  gClipboardKind = 0;
}

void ResetClipboardHeap(UHandle vi) {
  ObjHeap heap = vi && *vi && VIRec(vi)->viKind == kVIKindRoot ? VIRec(vi)->panelHeap : nullptr;
  const int32 ext = heap && *heap ? int32(OHWord(heap, kOHExtension)) : 0;
  if (ext <= 0) {
    DBAssert(__FILE__, __LINE__, "ResetClipboardHeap: not the clipboard's VI");
    return;
  }
  // A new list is made below in any case: a missing one is only reported.
  if (!GetNative32(*heap + ext + kHeapExtSelection))
    DBAssert(__FILE__, __LINE__, "ResetClipboardHeap: the clipboard has no selection list");
  FPEmptySelection(heap);
  FPReleaseKeyFocus(heap);
  const int32 oldRoot = int32(GetNative32(*heap + ext + kHeapExtRoot));
  if (oldRoot > 0 && OHIsUsedBlock(heap, oldRoot)) ODispose(heap, oldRoot);
  // Every other object lets go of what it holds outside the heap (text
  // records, images) before its block goes: a label's text would leak.
  OHForEachBlock(heap, &ReleaseUnlessRoot);
  // An empty panel: every object but the heap extension goes, then a new
  // root and an empty selection list.
  OHForEachBlock(heap, &DisposeUnlessHeapExt);
  static const uChar kRootClass[] = "\013Front Panel";
  int32 root = NewObjectByClassName(heap, kRootClass, 0);
  if (root) root = OInit(heap, root, Point{0, 0}, 0);
  const int32 selection = OHNewBlock(heap, 8, kClsList);
  QX_ASSERT(root && selection);
  PutNative32(*heap + ext + kHeapExtRoot, uInt32(root));
  PutNative32(*heap + ext + kHeapExtSelection, uInt32(selection));
  PutNative32(*heap + ext + kHeapExtKeyFocus, 0);
  PutNative32(*heap + ext + kHeapExtFocusText, 0);
  if (VIRec(vi)->dataSpace) DisposeDataSpace(reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace), 0);
  VIRec(vi)->dataSpace = nullptr;
  if (NewMinimalDataSpace(vi) != kNoErr) return;
  const UHandle ds = VIRec(vi)->dataSpace;
  InitDataSpace(reinterpret_cast<DataSpace>(ds));
  // The new root is bound to the new data space, as a loaded panel's is:
  // the data of what is copied in next is built there.
  if (ds && *ds && OHBlockSize(heap, root) >= 4 * (kPanelRootDataSpaceWord + 1)) {
    PutNative32(*heap + root + 4 * kPanelRootDataSpaceWord, uInt32(uintptr_t(ds)));
    DataSpaceHeader* h = reinterpret_cast<DataSpaceHeader*>(*ds);
    h->panel = heap;
    h->panelFlag1 = h->panelFlag2 = 1;
  }
}
