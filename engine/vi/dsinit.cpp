// Data spaces: the header of a new data space, clones, the minimal data
// space of a VI without a file, and disposal.
//
// The entrance record's wait queue is the data space's one queue of callers
// waiting on the VI: five levels, so that waiting callers are resumed by
// priority; the header names it at byte 188 and the entrance record in its
// wait-queue word.  It is made and disposed once.
#include <cstring>

#include "engine/panelrec.h"
#include "engine/datamgr.h"
#include "engine/exec/exec.h"
#include "engine/exec/rttable.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/debug.h"
#include "mgsource/thread.h"

using namespace viinst;

namespace {

constexpr uInt32 kLinkVIDS = FourCC("VIDS");

bool IsSubroutineVI(const VIRecord* r) { return (r->flags & kVIFlagSubroutine) != 0; }

// The entrance record: its mutexes (only with execution threads), the lock
// word of a subroutine-priority VI, its signature and its own element.
void BuildEntrance(DataSpace ds, const VIRecord* r, Bool32 threadsOn) {
  VIEntranceRec& e = Hdr(ds)->entrance;
  std::memset(&e, 0, sizeof e);
  if (threadsOn) {
    ThMutex m = nullptr;
    if (ThMutexCreate(&m, "dsRights") == kNoErr) Hdr(ds)->entrance.dsRights = m;
    if (r->viKind == kVIKindProxyCaller) {
      ThMutex lock = nullptr;
      if (ThMutexCreate(&lock, "dsMessageLock") == kNoErr) Hdr(ds)->entrance.dsMessageLock = lock;
    }
  }
  if (IsSubroutineVI(r)) Hdr(ds)->entrance.lockWord = reinterpret_cast<int32*>(DSNewPClr(4));
  Hdr(ds)->entrance.signature = kVIEntranceSig;
  Hdr(ds)->entrance.ownElement.signature = kQueueElementSig;
}

void DisposeEntrance(DataSpace ds) {
  VIEntranceRec& e = Hdr(ds)->entrance;
  ThMutex rights = e.dsRights, lock = e.dsMessageLock;
  int32* word = e.lockWord;
  ExecQueue* q = e.waitQueue ? e.waitQueue : Hdr(ds)->waitQueue;
  e.dsRights = e.dsMessageLock = nullptr;
  e.lockWord = nullptr;
  e.waitQueue = nullptr;
  Hdr(ds)->waitQueue = nullptr;
  if (rights) ThMutexDestroy(rights);
  if (lock) ThMutexDestroy(lock);
  if (word) DSDisposePtr(reinterpret_cast<UPtr>(word));
  if (q) DisposeExecQueue(q);
}

UHandle OwnerOf(DataSpace ds) { return ds && *ds ? Hdr(ds)->owner : nullptr; }

}  // namespace

void InitDataSpace(DataSpace ds) {
  UHandle vi = OwnerOf(ds);
  if (!vi || !*vi) {
    DBAssert(__FILE__, __LINE__, "InitDataSpace: the data space has no owner");
    return;
  }
  VIRecord* r = VIRec(vi);
  const Bool32 threadsOn = ExecThreadsOn();
  Hdr(ds)->threadsOn = threadsOn;
  if (!r->dataSpace) r->dataSpace = AsHandle(ds);
  DataSpace first = AsDS(r->dataSpace);
  if (first != ds) {
    // A clone: after the first data space, without a panel of its own.
    Hdr(ds)->nextClone = Hdr(first)->nextClone;
    Hdr(first)->nextClone = ds;
    Hdr(ds)->panelFlag1 = Hdr(ds)->panelFlag2 = 0;
    Hdr(ds)->panelOpen = 0;
    Hdr(ds)->updateQueue = Hdr(first)->updateQueue;
    Hdr(ds)->sharedWord = Hdr(first)->sharedWord;
  } else {
    Hdr(ds)->flagsBit12 = (r->flags & 0x1000) ? 1 : 0;
    Hdr(ds)->viFlagsCopy = (r->flags & 0x8000) ? uInt16(0x8000 | (r->flags & 0x40)) : 0;
    if (ObjHeap panel = r->panelHeap) {
      SetPanelDataSpace(panel, ds);
      Hdr(ds)->panel = panel;
      Hdr(ds)->panelFlag2 = 1;
      Hdr(ds)->panelOpen = PanelWindow(panel) ? 1 : 0;
    } else {
      Hdr(ds)->panel = nullptr;
      Hdr(ds)->panelFlag2 = (r->flags & kVIFlagPanelBinding) ? 1 : 0;
      Hdr(ds)->panelOpen = 0;
    }
    if (threadsOn && !Hdr(ds)->updateQueue) {
      if (auto make = GetEnginePanelHooks()->newUpdateQueue) Hdr(ds)->updateQueue = reinterpret_cast<UHandle>(make(16));
    }
  }
  DataSpaceHeader* h = Hdr(ds);
  h->selfPtr = h;
  h->self = ds;
  h->priority = uInt16(r->priority);
  h->viPath = reinterpret_cast<UHandle>(r->path);
  h->rtTable = QXRTTable;
  h->runWord0 = h->runWord1 = 0;
  h->word12 = h->word14 = 0;
  h->dsFlags = uInt16(((r->flags2 & kVIFlags2LogAtCompletion) ? 1 : 0) |
                      ((r->flags2 & kVIFlags2PrintAtCompletion) ? 2 : 0));
  h->marker = 0xFFFF;
  BuildEntrance(ds, r, threadsOn);
  if (r->priority != kVIPrioritySubroutine) {
    ExecQueue* q = NewExecQueue(kExecMaxLevels);
    Hdr(ds)->waitQueue = q;
    Hdr(ds)->entrance.waitQueue = q;
    if (!q) VIRec(vi)->flags |= kVIFlagBad;
  }
  // The signature last: a data space is valid once it reads "DATA".
  Hdr(ds)->signature = kDataSpaceSig;
}

MgErr NewDataSpaceFromTD(UHandle td, DataSpace* out) {
  if (!out) return kArgErr;
  *out = nullptr;
  if (!td || !*td || DSGetHandleSize(td) < 6 || (*td)[2] != kTDCluster) return kArgErr;
  const TypeDescriptor* type = reinterpret_cast<const TypeDescriptor*>(*td);
  const int32 size = DataSize(type);
  if (size < kDataSpaceHeaderSize || size == 0x7FFFFFFF) return kArgErr;
  UHandle h = DSNewHClr(size);
  if (!h) return kMemFullErr;
  if (InitEmptyData(reinterpret_cast<const TypeDescriptor*>(*td), *h) != kNoErr) {
    DisposeData(reinterpret_cast<const TypeDescriptor*>(*td), *h, *h + size);
    DSDisposeHandle(h);
    return kMemFullErr;
  }
  DataSpace ds = AsDS(h);
  Hdr(ds)->typeDesc = td;
  Hdr(ds)->size = size;
  *out = ds;
  return kNoErr;
}

MgErr NewMinimalDataSpace(UHandle vi) {
  if (!vi || !*vi) return kArgErr;
  if (VIRec(vi)->dataSpace) {
    DBAssert(__FILE__, __LINE__, "NewMinimalDataSpace: the VI has a data space");
    return kArgErr;
  }
  // A cluster of one element: the fixed 528-byte block of the header.
  UHandle td = DSNewHClr(kMinimalDataSpaceTDSize);
  if (!td) return kMemFullErr;
  uChar* p = *td;
  PutNative16(p, kMinimalDataSpaceTDSize);
  p[2] = kTDCluster;
  PutNative16(p + 4, 1);
  PutNative16(p + 6, 8);
  p[8] = kTDBlock;
  PutNative32(p + 10, uInt32(kDataSpaceHeaderSize));
  DataSpace ds = nullptr;
  if (MgErr err = NewDataSpaceFromTD(td, &ds)) {
    DSDisposeHandle(td);
    return err;
  }
  DSTypeMapChanged();
  if (UHandle old = VIRec(vi)->dsTypeMap) FreeHandle(old);
  VIRec(vi)->dsTypeMap = td;
  VIRec(vi)->dataSpace = AsHandle(ds);
  Hdr(ds)->owner = vi;
  return kNoErr;
}

Bool32 VIOwnsDataSpace(UHandle vi, DataSpace ds) {
  if (!vi || !*vi || !ds) return 0;
  for (DataSpace d = AsDS(VIRec(vi)->dataSpace); d; d = Hdr(d)->nextClone)
    if (d == ds) return 1;
  return 0;
}

void DisposeDataSpace(DataSpace ds, Bool32 unlink) {
  if (!ds || !*ds) return;
  UHandle vi = OwnerOf(ds);
  const bool first = vi && *vi && AsDS(VIRec(vi)->dataSpace) == ds;
  // The clones of a first data space share its update queue: they go first.
  if (first)
    while (DataSpace clone = Hdr(ds)->nextClone) DisposeDataSpace(clone, unlink);
  // No execution thread may still be running an element of it.
  WaitDataSpaceIdle(ds);
  if (WEventPredicate filter = VIShell().filterDSUserEvents) WPurgeEvents(kWRootWindow, filter, ds);
  if (VIRun().resetDSRemove) VIRun().resetDSRemove(ds);
  if (VICode().callDisposeProc) VICode().callDisposeProc(ds);

  if (vi && *vi && !first && VIRec(vi)->dataSpace) {
    DataSpace head = AsDS(VIRec(vi)->dataSpace);
    for (DataSpace d = head; d; d = Hdr(d)->nextClone)
      if (Hdr(d)->nextClone == ds) {
        Hdr(d)->nextClone = Hdr(ds)->nextClone;
        break;
      }
    Hdr(ds)->nextClone = nullptr;
    ObjHeap panel = VIRec(vi)->panelHeap;
    if (panel && PanelDataSpace(panel) == ds) {
      SetPanelDataSpace(panel, head);
      Hdr(head)->panel = panel;
      Hdr(head)->panelFlag2 = 1;
      Hdr(head)->panelOpen = PanelWindow(panel) ? 1 : 0;
    }
  }
  if (unlink && first) {
    const int16 kind = VIRec(vi)->viKind;
    // The entry goes only when it is this data space's: another VI's data
    // space of the same name keeps its own.
    if (kind == kVIKindDatalog || kind == kVIKindGlobal || kind == kVIKindControl || kind == 7 ||
        kind == kVIKindProxyCaller) {
      if (VILink().unlinkItemOwnedBy) VILink().unlinkItemOwnedBy(VIRec(vi)->name, kLinkVIDS, ds);
      else if (VILink().unlinkItemByName) VILink().unlinkItemByName(VIRec(vi)->name, kLinkVIDS);
    }
  }
  if (UHandle td = Hdr(ds)->typeDesc; td && *td) {
    int32 end = Hdr(ds)->size;
    if (end > DSGetHandleSize(AsHandle(ds))) end = DSGetHandleSize(AsHandle(ds));
    DisposeData(reinterpret_cast<const TypeDescriptor*>(*td), *ds, reinterpret_cast<uChar*>(*ds) + end);
  }
  DisposeEntrance(ds);
  if (first) {
    VIRec(vi)->dataSpace = nullptr;
    UHandle queue = Hdr(ds)->updateQueue;
    Hdr(ds)->updateQueue = nullptr;
    if (queue) {
      if (auto dispose = GetEnginePanelHooks()->disposeUpdateQueue) dispose(reinterpret_cast<void*>(queue));
    }
    if (ObjHeap panel = VIRec(vi)->panelHeap; panel && PanelDataSpace(panel) == ds) SetPanelDataSpace(panel, nullptr);
  }
  DSDisposeHandle(AsHandle(ds));
}
