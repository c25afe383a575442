#include "panel/fpexec.h"

#include <atomic>
#include <cstring>

#include "engine/datamgr.h"
#include "engine/datatype.h"
#include "engine/exec/codeentry.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/exec.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/blockmove.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "panel/fppanel.h"
#include "mgsource/gnrclist.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/attrcall.h"
#include "panel/paneldisplay.h"
#include "panel/panel_internal.h"
#include "panel/textparts.h"
#include "rtlib/chartdata.h"

namespace {

constexpr uInt32 kUpdateQueueSig = FourCC("UDQU");
constexpr int32 kQueueRoomAfterDrain = 8;
// Flags of a controller's display object.
constexpr int32 kCtlDisplayWord = kPWDCODisplay;
constexpr uInt32 kDisplayNeedsInval = 0x80;
constexpr uInt32 kHeapAlwaysShow = 1u << 24;
constexpr int16 kVIKindShowsInval = 1;
// A chart's words: its history record's data offset and its TypeID.
constexpr int32 kChartRecordWord = kPWGraphHistory;
constexpr int32 kChartTypeWord = kPWDDOTypeId;
constexpr uInt16 kTDNoReclaim = 0x1000;
constexpr uInt32 kPropertyWrite = 0x80000000u;

DataSpaceHeader* Hdr(DataSpace ds) { return ds && *ds ? *ds : nullptr; }
bool ThreadsOn() { return ExecThreadsOn() != 0; }
int32 BlockSize(DataSpace ds) { return DSGetHandleSize(reinterpret_cast<UHandle>(ds)); }

// True when [p, p + n) lies inside the data space's block.
bool Inside(DataSpace ds, const void* p, int64 n) {
  const uChar* base = reinterpret_cast<const uChar*>(*ds);
  const uChar* at = static_cast<const uChar*>(p);
  return n >= 0 && at >= base && int64(at - base) + n <= int64(BlockSize(ds));
}

// Holds a control's mutex for a scope (none without threads).  Taken alone.
class OpLock {
 public:
  explicit OpLock(DCOOpData* op) : m_(op && ThreadsOn() ? op->mutex : nullptr) {
    if (m_) ThMutexAcquire(m_);
  }
  ~OpLock() {
    if (m_) ThMutexRelease(m_);
  }
  OpLock(const OpLock&) = delete;
  OpLock& operator=(const OpLock&) = delete;

 private:
  ThMutex m_;
};

UpdateQueue* QueueOf(DataSpace ds) {
  DataSpaceHeader* h = Hdr(ds);
  UpdateQueue* q = h ? reinterpret_cast<UpdateQueue*>(h->updateQueue) : nullptr;
  if (q && q->signature != kUpdateQueueSig) {
    DBAssert(__FILE__, __LINE__, "not an update queue");
    return nullptr;
  }
  return q;
}

// Holds an update queue's mutex for a scope.  Taken alone.
class QueueLock {
 public:
  explicit QueueLock(UpdateQueue* q) : m_(ThreadsOn() ? static_cast<ThMutex>(q->mutex) : nullptr) {
    if (m_) ThMutexAcquire(m_);
  }
  ~QueueLock() {
    if (m_) ThMutexRelease(m_);
  }
  QueueLock(const QueueLock&) = delete;
  QueueLock& operator=(const QueueLock&) = delete;

 private:
  ThMutex m_;
};

std::atomic_ref<int32> Posted(UpdateQueue* q) { return std::atomic_ref<int32>(q->posted); }

// A control's transfer record, every place checked against the data space.
struct Slot {
  DCOOpData* op = nullptr;
  uChar* copy[kCopies] = {};
  const TypeDescriptor* td[kCopies] = {};  // non-flat values only
  int32 size = 0;
  bool flat = true;
};

const TypeDescriptor* RecordTD(DataSpaceHeader* h, uInt32 at) {
  UHandle types = h->typeDesc;
  const int32 n = types && *types ? DSGetHandleSize(types) : 0;
  if (int64(at) + 6 > n) return nullptr;
  const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(*types + at);
  if (td->code != kTDCluster || int64(at) + td->size > n || int16(GetNative16(*types + at + 4)) != kRecElements)
    return nullptr;
  return td;
}

// The entry's slot; false (with an assertion when report is set) for an
// index outside the table, a wrong index word or a record outside the data
// space.
bool FindSlot(DataSpace ds, int32 index, Slot* s, bool report = true) {
  DataSpaceHeader* h = Hdr(ds);
  const char* fault = nullptr;
  TransferEntry e{};
  if (!h || h->dcoCount <= 0 || h->dcoTableOffset < kDataSpaceHeaderSize) {
    fault = "no transfer table";
  } else if (index < 0 || index >= h->dcoCount) {
    fault = "transfer index out of range";
  } else {
    const int64 at = int64(h->dcoTableOffset) + int64(index) * int64(sizeof(TransferEntry));
    if (at + int64(sizeof(TransferEntry)) > BlockSize(ds)) {
      fault = "transfer table outside the data space";
    } else {
      std::memcpy(&e, reinterpret_cast<uChar*>(h) + at, sizeof e);
      if (e.index != index) fault = "transfer entry's index word";
    }
  }
  if (!fault) {
    uChar* base = reinterpret_cast<uChar*>(h);
    const int64 limit = BlockSize(ds);
    s->size = int32(e.size);
    s->flat = e.flat != 0;
    // The record lies in the data after the header, never over it.
    if (e.opData < uInt32(kDataSpaceHeaderSize) || e.copy0 < uInt32(kDataSpaceHeaderSize) ||
        int64(e.opData) + int64(sizeof(DCOOpData)) > limit || e.size == 0 || e.size > 0x7FFFFFF) {
      fault = "transfer record outside the data space";
    } else if (s->flat) {
      s->op = reinterpret_cast<DCOOpData*>(base + e.opData);
      if (int64(e.copy0) + int64(kCopies) * e.size > limit) {
        fault = "transfer copies outside the data space";
      } else {
        for (int32 k = 0; k < kCopies; ++k) s->copy[k] = base + e.copy0 + int64(k) * e.size;
      }
    } else if (const TypeDescriptor* rec = RecordTD(h, e.recordTD)) {
      s->op = reinterpret_cast<DCOOpData*>(base + e.opData);
      int64 off = e.copy0;
      for (int32 k = 0; k < kCopies && !fault; ++k) {
        const TypeDescriptor* td = ElemTD(rec, k + 1);
        if (k) off = off > limit ? limit + 1 : AlignDatum(td, int32(off));
        if (off < 0 || off + DataSize(td) > limit || DataSize(td) != s->size) {
          fault = "transfer copies outside the data space";
          break;
        }
        s->td[k] = td;
        s->copy[k] = base + off;
        off += DataSize(td);
      }
    } else {
      fault = "transfer record's descriptor";
    }
  }
  if (fault) {
    if (report) DBAssert(__FILE__, __LINE__, fault);
    return false;
  }
  return true;
}

ObjHeap PanelOf(DataSpace ds) {
  DataSpaceHeader* h = Hdr(ds);
  return h ? reinterpret_cast<ObjHeap>(h->panel) : nullptr;
}

int32 ExtWord(ObjHeap heap, int32 at) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 ? int32(GetNative32(*heap + ext + at)) : 0;
}

int32 ControllerList(ObjHeap heap) {
  const int32 root = heap && *heap ? ExtWord(heap, kHeapExtRoot) : 0;
  return root ? ObjWord(heap, root, kRootItemList / 4) : 0;
}

// The controller of the index; 0, with an assertion, outside the list.
int32 ControllerAt(ObjHeap heap, int32 index) {
  const int32 list = ControllerList(heap);
  if (!list || index < 0 || index >= ObjListCount(heap, list)) {
    DBAssert(__FILE__, __LINE__, "controller index out of range");
    return 0;
  }
  return ObjListGet(heap, list, index);
}

VIRecord* OwnerOf(DataSpace ds) {
  DataSpaceHeader* h = Hdr(ds);
  return h && h->owner && *h->owner ? reinterpret_cast<VIRecord*>(*h->owner) : nullptr;
}

// A VI of kind 1 redraws a display object whose bit 7 is set whole first.
void InvalIfMarked(DataSpace ds, ObjHeap heap, int32 controller) {
  VIRecord* vi = OwnerOf(ds);
  const int32 display = ObjWord(heap, controller, kCtlDisplayWord);
  if (!vi || vi->viKind != kVIKindShowsInval || !display) return;
  const uInt32 flags = uInt32(ObjWord(heap, display, 0));
  if (!(flags & kDisplayNeedsInval)) return;
  ObjSetWord(heap, display, 0, int32(flags & ~kDisplayNeedsInval));
  OInval(heap, display, 0);
}

bool OnUIThread() {
  ExecContext* c = GetCurExecContext();
  return c ? c->slot == 0 : !ThreadsOn();
}

MgErr CopyValue(DataSpace ds, int32 index, const Slot& s, const void* from, void* to) {
  if (s.flat) {
    MoveBlock(from, to, s.size);
    return kNoErr;
  }
  return DSCallTransferProc(ds, index, int32(uintptr_t(from)), int32(uintptr_t(to)));
}

void ScheduleElement(DataSpace ds, int32 argument) {
  DataSpaceHeader* h = Hdr(ds);
  if (!h->qeTable || argument < 1 || argument >= h->qeCount) {
    DBAssert(__FILE__, __LINE__, "queue element number out of range");
    return;
  }
  if (QueueElement* q = h->qeTable[argument]) EnQRunQ(q);
}

bool BelongsTo(UHandle vi, DataSpace ds) {
  if (!vi || !*vi || !ds) return false;
  int32 guard = 0;
  DataSpace d = reinterpret_cast<DataSpace>(reinterpret_cast<VIRecord*>(*vi)->dataSpace);
  for (; d && *d && guard < 100000; d = (*d)->nextClone, ++guard) {
    if (d == ds) return true;
  }
  return false;
}

ProtectedStripChartRec* ChartRec(uChar* base, int32 offset) {
  return base && offset >= 0 ? reinterpret_cast<ProtectedStripChartRec*>(base + offset) : nullptr;
}

// The pending points of a record, as the history-copy routines see them.
ChartHistory* Pending(ProtectedStripChartRec* r) { return reinterpret_cast<ChartHistory*>(&r->pendingCount); }

// Gives the shadow the history's size and header words when the history's
// capacity changed; 0 or the resize error.
MgErr MatchShadow(ProtectedStripChartRec* r, bool both) {
  if (!r->history || !*r->history || DSGetHandleSize(r->history) < 8) return kArgErr;
  const int32 size = DSGetHandleSize(r->history);
  if (GetNative32(*r->shadow) != GetNative32(*r->history) || DSGetHandleSize(r->shadow) != size) {
    if (MgErr err = DSSetHSzClr(r->shadow, size)) return err;
    std::memset(*r->shadow, 0, size_t(size));
    r->pendingCount = r->pendingValid = r->pendingStart = 0;
  }
  PutNative32(*r->shadow, GetNative32(*r->history));
  if (both) PutNative32(*r->shadow + 4, GetNative32(*r->history + 4));
  return kNoErr;
}

// Moves the pending points of the shadow into the history.
void Fold(ProtectedStripChartRec* r, int32 pointBytes) {
  const int32 p = r->pendingCount;
  if (p <= 0 || !r->history || !*r->history || !r->shadow || !*r->shadow) return;
  const int32 c = int32(GetNative32(*r->shadow));
  const int64 need = int64(r->headerOffset) + int64(c) * pointBytes;
  if (c <= 0 || pointBytes <= 0 || r->headerOffset < 4 || int32(GetNative32(*r->history)) != c ||
      need > DSGetHandleSize(r->history) || need > DSGetHandleSize(r->shadow) || r->start < 0 || r->start >= c) {
    r->pendingCount = r->pendingValid = r->pendingStart = 0;
    return;
  }
  const int32 n = p < c ? p : c;
  // The shadow's slot j is the history's slot (start + j) mod c; with more
  // points than slots, the oldest surviving one is at the pending start.
  const int32 first = p < c ? 0 : r->pendingStart;
  uChar* from = *r->shadow + r->headerOffset;
  uChar* to = *r->history + r->headerOffset;
  for (int32 i = 0; i < n; ++i) {
    const int32 j = (first + i) % c;
    std::memcpy(to + size_t((r->start + j) % c) * size_t(pointBytes), from + size_t(j) * size_t(pointBytes),
                size_t(pointBytes));
  }
  r->count += p;
  r->valid = r->valid + n > c ? c : r->valid + n;
  r->start = int32((int64(r->start) + r->pendingStart) % c);
  r->pendingCount = r->pendingValid = r->pendingStart = 0;
}

}  // namespace

// ---- Update queue ---------------------------------------------------------------------

MgErr QueueUpdate(DataSpace ds, int32 index, int32 argument, int32 kind) {
  DataSpaceHeader* h = Hdr(ds);
  if (!h) return kArgErr;
  UpdateQueue* q = QueueOf(ds);
  if (!q) {
    if (kind == kUpdateSchedule) ScheduleElement(ds, argument);
    return kNoErr;
  }
  const UpdateEntry e{reinterpret_cast<UHandle>(ds), kind, index, argument};
  MgErr err;
  {
    QueueLock lock(q);
    if (!q->entries) return kMemFullErr;
    err = GLInsert(q->entries, &e, kUpdateEntrySize, 1, GLCount(q->entries, kUpdateEntrySize));
  }
  int32 idle = 0;
  if (!err && Posted(q).compare_exchange_strong(idle, 1)) {
    ExecPostUserEvent(kUserEventPanelUpdate, int32(uintptr_t(ds)), int32(uintptr_t(h->owner)));
  }
  return err;
}

void ProcessUpdateQueue(int32 dataSpace, int32 viHandle, int32 clearPosted) {
  DataSpace ds = reinterpret_cast<DataSpace>(uintptr_t(uInt32(dataSpace)));
  UHandle vi = reinterpret_cast<UHandle>(uintptr_t(uInt32(viHandle)));
  if (!BelongsTo(vi, ds)) return;
  UpdateQueue* q = QueueOf(ds);
  if (!q) return;
  if (clearPosted) Posted(q).store(0);
  int32 total = -1;
  for (int32 handled = 0; total < 0 || handled < total; ++handled) {
    UpdateEntry e{};
    int32 removed = 0, held = 0;
    {
      QueueLock lock(q);
      if (!q->entries) q->entries = GLNew(kQueueRoomAfterDrain, kUpdateEntrySize);
      held = q->entries ? GLCount(q->entries, kUpdateEntrySize) : 0;
      if (held) removed = GLRemove(q->entries, &e, kUpdateEntrySize, 0);
    }
    if (total < 0) total = held;
    if (total == 0) return;
    DataSpace eds = reinterpret_cast<DataSpace>(e.dataSpace);
    if (!removed || !BelongsTo(vi, eds)) e.kind = kUpdateNoop;
    switch (e.kind) {
      case kUpdateNoop: DBPrintf("kUQNoop!!!"); break;
      case kUpdateShowValue: FPDisplayTransferData(eds, e.index, PanelOf(eds)); break;
      case kUpdateSchedule: ScheduleElement(eds, e.argument); break;
      default: DBAssert(__FILE__, __LINE__, "unknown update kind"); break;
    }
  }
}

// ---- Panel side ----------------------------------------------------------------------

void FPDisplayTransferData(DataSpace ds, int32 index, ObjHeap heap) {
  Slot s;
  if (!FindSlot(ds, index, &s)) return;
  const bool keepOld = s.flat ? ExecUseOldData() : (ExecUseOldData() && ExecUseOldDataOnArrays());
  if (keepOld) CopyValue(ds, index, s, s.copy[kCopyShown], s.copy[kCopyPrevious]);
  {
    OpLock lock(s.op);
    CopyValue(ds, index, s, s.copy[kCopyTransfer], s.copy[kCopyShown]);
    s.op->flags &= ~kDCONewForPanel;
  }
  if (heap && *heap) {
    if (const int32 controller = ControllerAt(heap, index)) {
      InvalIfMarked(ds, heap, controller);
      PanelDisplayValues(heap, controller, keepOld ? s.copy[kCopyPrevious] : nullptr, s.copy[kCopyShown]);
    }
  }
  if (!s.flat) EmptyData(s.td[kCopyPrevious], s.copy[kCopyPrevious], s.copy[kCopyPrevious] + s.size);
}

int32 FPGetTransferData(DataSpace ds, int32 index) {
  Slot s;
  if (!ThreadsOn() || !FindSlot(ds, index, &s)) return 0;
  {
    OpLock lock(s.op);
    if (!(s.op->flags & kDCONewForPanel)) return 0;
  }
  ReadDCOTransferData(ds, index, s.op, s.copy[kCopyShown], s.copy[kCopyShown], s.size, s.flat, 1);
  return 1;
}

void FPSetTransferEntry(DataSpace ds, ObjHeap heap, int32 index) {
  Slot s;
  DataSpaceHeader* h = Hdr(ds);
  if (!ThreadsOn() || !h || index < 0 || index >= h->dcoCount || !FindSlot(ds, index, &s)) return;
  uInt32 set = 0;
  if (heap && *heap) {
    const int32 list = ControllerList(heap);
    VIRecord* vi = OwnerOf(ds);
    if (list && ObjListCount(heap, list) == h->dcoCount) {
      if ((OHWord(heap, kOHFlags) & kHeapAlwaysShow) || (vi && (vi->flags2 & kVIFlags2PrintAtCompletion))) {
        set = kDCOAlwaysShow;
      } else {
        const int32 display = ObjWord(heap, ObjListGet(heap, list, index), kCtlDisplayWord);
        if (display && (uInt32(ObjWord(heap, display, 0)) & kObjFlagHidden)) set = kDCOHidden;
      }
    }
  }
  OpLock lock(s.op);
  s.op->flags = (s.op->flags & ~(kDCOHidden | kDCOAlwaysShow)) | set;
}

void FPRebindTransferEntry(ObjHeap heap, int32 controller) {
  const int32 list = ControllerList(heap);
  if (!list) return;
  DataSpace ds = FPBoundDataSpace(heap);
  for (int32 i = 0; i < ObjListCount(heap, list); ++i) {
    if (ObjListGet(heap, list, i) == controller) {
      FPSetTransferEntry(ds, heap, i);
      return;
    }
  }
}

void FPBindTransferTable(DataSpace ds) {
  DataSpaceHeader* h = Hdr(ds);
  if (!h) return;
  ObjHeap heap = PanelOf(ds);
  h->hasDataControllers = ControllerList(heap) != 0;
  for (int32 i = 0; i < h->dcoCount; ++i) FPSetTransferEntry(ds, heap, i);
}

void FPUpdateTransferOffsets(DataSpace ds) {
  DataSpaceHeader* h = Hdr(ds);
  if (!h) return;
  for (int32 i = 0; i < h->dcoCount; ++i) {
    Slot s;
    if (!FindSlot(ds, i, &s) || s.flat) continue;
    // The reclaim skips a descriptor marked 0x1000; copy 2's mark is lifted
    // for the call and put back after it.
    uChar* word = reinterpret_cast<uChar*>(const_cast<TypeDescriptor*>(s.td[kCopyCode2])) + 2;
    const uInt16 before = GetNative16(word);
    PutNative16(word, uInt16(before & ~kTDNoReclaim));
    uChar* copy2 = s.copy[kCopyCode2];
    const int32 given = ReclaimDataMemory(s.td[kCopyCode2], copy2, copy2 + DataSize(s.td[kCopyCode2]));
    PutNative16(word, before);
    if (given) SetDCOOpDataFlags(s.op, kDCONewForDiagram, 1);
  }
}

void ChartHistoryPrepare(ObjHeap heap, int32 chart) {
  if (!heap || !*heap || !chart || ExecBusy()) return;
  DataSpace ds = FPBoundDataSpace(heap);
  if (!ds || !*ds) return;
  const int32 at = ObjWord(heap, chart, kChartRecordWord);
  if (at < kDataSpaceHeaderSize || int64(at) + int64(sizeof(ProtectedStripChartRec)) > BlockSize(ds)) return;
  ProtectedStripChartRec* r = ChartRec(reinterpret_cast<uChar*>(*ds), at);
  if (!ThreadsOn() || !r->mutex || !r->shadow) return;  // nothing is ever pending
  const TypeDescriptor* td = TypeIDToTD(heap, TypeID(ObjWord(heap, chart, kChartTypeWord)));
  const bool twoD = td && (td->code == kTDArray || td->code == kTDArrayView) &&
                    int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4)) == 2;
  ThMutexAcquire(r->mutex);
  int32 pointBytes = r->pointSize;
  if (twoD && r->shadow && *r->shadow && DSGetHandleSize(r->shadow) >= 8) {
    const int64 b = int64(r->pointSize) * int32(GetNative32(*r->shadow + 4));
    pointBytes = b > 0 && b < 0x7FFFFFFF ? int32(b) : 0;
  }
  Fold(r, pointBytes);
  ThMutexRelease(r->mutex);
}

// ---- Diagram side --------------------------------------------------------------------

MgErr WriteDCOTransferData(DataSpace ds, int32 index, DCOOpData* op, void* copy0, const void* source, int32 size,
                           int32 flat, int32 mode) {
  DataSpaceHeader* h = Hdr(ds);
  Slot s;
  if (!h || !FindSlot(ds, index, &s)) return kArgErr;
  if (op != s.op || copy0 != s.copy[kCopyShown] || size != s.size || (flat != 0) != s.flat || !source) {
    DBAssert(__FILE__, __LINE__, "transfer arguments differ from the transfer table");
    return kArgErr;
  }
  bool displayOnly = false;
  if (h->transferMode == 0) {
    if (mode == 3) mode = 0;
    if (mode == 0) {
      if (ThreadsOn()) return kNoErr;
      displayOnly = true;
    }
  }
  ObjHeap heap = PanelOf(ds);
  if (!ThreadsOn()) {
    MgErr shown = kNoErr;
    if (heap && *heap) {
      if (const int32 controller = ControllerAt(heap, index)) {
        InvalIfMarked(ds, heap, controller);
        shown = PanelDisplayValues(heap, controller, source == copy0 ? nullptr : copy0, source);
      }
    }
    if (displayOnly || shown) return kNoErr;
    if (source != copy0 && (!flat || BlockCmp(source, copy0, size) != 0)) {
      if (MgErr err = CopyValue(ds, index, s, source, copy0)) return err;
    }
    if (mode != 0) op->flags |= kDCONewForDiagram;
    return kNoErr;
  }
  bool notify;
  uInt32 flags;
  MgErr err = kNoErr;
  {
    OpLock lock(op);
    notify = mode != 1 && !(op->flags & kDCONewForPanel);
    bool stored = true;
    if (s.flat && notify && !(op->options & kDCOOptTransferEqual) &&
        BlockCmp(source, s.copy[kCopyTransfer], size) == 0) {
      stored = false;
      notify = false;
      if (mode == 2) op->flags |= kDCONewForDiagram;
    } else {
      err = CopyValue(ds, index, s, source, s.copy[kCopyTransfer]);
    }
    if (stored) {
      if (mode == 0) op->flags |= kDCONewForPanel;
      else if (mode == 1) op->flags = (op->flags & ~kDCONewForPanel) | kDCONewForDiagram;
      else op->flags |= kDCONewForDiagram | kDCONewForPanel;
    }
    flags = op->flags;
  }
  if ((op->options & kDCOOptShowFromUIThread) && heap && OnUIThread()) {
    FPDisplayTransferData(ds, index, heap);
    notify = false;
  }
  if (notify && heap &&
      ((flags & kDCOAlwaysShow) || (h->hasDataControllers && !(flags & kDCOHidden)))) {
    QueueUpdate(ds, index, 0, kUpdateShowValue);
  }
  return err;
}

MgErr ReadDCOTransferData(DataSpace ds, int32 index, DCOOpData* op, void* copy0, void* destination, int32 size,
                          int32 flat, int32 mode) {
  Slot s;
  if (!FindSlot(ds, index, &s)) return kArgErr;
  if (op != s.op || copy0 != s.copy[kCopyShown] || size != s.size || (flat != 0) != s.flat || !destination) {
    DBAssert(__FILE__, __LINE__, "transfer arguments differ from the transfer table");
    return kArgErr;
  }
  const bool threads = ThreadsOn();
  OpLock lock(op);
  if (mode == 0 && !(op->flags & kDCONewForDiagram)) return kNoErr;
  if (threads && mode == 1 && !(op->flags & kDCONewForPanel)) return kNoErr;
  const void* from = threads ? s.copy[kCopyTransfer] : s.copy[kCopyShown];
  MgErr err = from == destination ? kNoErr : CopyValue(ds, index, s, from, destination);
  if (mode == 0) op->flags &= ~kDCONewForDiagram;
  if (threads && mode == 1) op->flags &= ~kDCONewForPanel;
  return err;
}

namespace {
// The store-only rule of the flat writes: no redraw is due for the control.
bool StoreOnly(DataSpace ds, uInt32 flags) {
  ObjHeap heap = PanelOf(ds);
  return !(flags & kDCOAlwaysShow) && (!heap || !Hdr(ds)->hasDataControllers || (flags & kDCOHidden));
}
}  // namespace

MgErr WriteFlatTransferData(DataSpace ds, int32 index, DCOOpData* op, void* copy0, void* destination,
                            const void* source, int32 size) {
  if (!Hdr(ds) || !op || !Inside(ds, op, sizeof *op) || !source || !destination || !Inside(ds, destination, size))
    return kArgErr;
  {
    OpLock lock(op);
    if (StoreOnly(ds, op->flags)) {
      MoveBlock(source, destination, size);
      op->flags |= kDCONewForDiagram | kDCONewForPanel;
      return kNoErr;
    }
  }
  return WriteDCOTransferData(ds, index, op, copy0, source, size, 1, 2);
}

namespace {
MgErr CopyHandleInto(UHandle from, UHandle* to) {
  const int32 n = from && *from ? DSGetHandleSize(from) : 0;
  if (!*to) {
    *to = DSNewHandle(n);
    if (!*to) return kMemFullErr;
  } else if (DSSetHandleSize(*to, n) != kNoErr) {
    return kMemFullErr;
  }
  if (n) MoveBlock(*from, **to, n);
  return kNoErr;
}
}  // namespace

MgErr WriteFlatHandleTransferData(DataSpace ds, int32 index, DCOOpData* op, void* copy0, UHandle* destination,
                                  UHandle* source, int32 size) {
  if (!Hdr(ds) || !op || !Inside(ds, op, sizeof *op) || !source || !destination ||
      !Inside(ds, destination, sizeof(UHandle)))
    return kArgErr;
  {
    OpLock lock(op);
    if (StoreOnly(ds, op->flags)) {
      MgErr err = CopyHandleInto(*source, destination);
      if (!err) op->flags |= kDCONewForDiagram | kDCONewForPanel;
      return err;
    }
  }
  return WriteDCOTransferData(ds, index, op, copy0, source, size, 0, 2);
}

MgErr ReadFlatTransferData(DCOOpData* op, const void* source, void* destination, int32 size) {
  if (!op || !source || !destination || size <= 0) return kNoErr;
  OpLock lock(op);
  MoveBlock(source, destination, size);
  return kNoErr;
}

MgErr ReadFlatHandleTransferData(DCOOpData* op, UHandle* source, UHandle* destination) {
  if (!op || !source || !destination) return kArgErr;
  OpLock lock(op);
  return CopyHandleInto(*source, destination);
}

void SetDCOOpDataFlags(DCOOpData* op, uInt32 bits, int32 set) {
  if (!op) return;
  OpLock lock(op);
  op->flags = set ? op->flags | bits : op->flags & ~bits;
}

MgErr InitDisposeDCOOpDataFlags(DCOOpData* op, int32 init) {
  if (!op) return kArgErr;
  if (!ThreadsOn()) {
    op->mutex = nullptr;
    return kNoErr;
  }
  if (init) return ThMutexCreate(&op->mutex, "DCOOpData");
  if (op->mutex) ThMutexDestroy(op->mutex);
  op->mutex = nullptr;
  return kNoErr;
}

MgErr LatchedBoolTxDataHasBeenRead(DataSpace ds, int32 index, DCOOpData* op, int32 copy0, int32 size,
                                   int32 objectOffset, uChar* values, int32 state, int32 tracked) {
  const uChar read = uChar(state & 1), rest = uChar((state >> 1) & 1);
  if (read == rest) return kNoErr;
  if (!Hdr(ds) || !op || !values || copy0 < 0 || size <= 0) return kArgErr;
  ObjHeap heap = PanelOf(ds);
  const bool held = tracked && heap && *heap && IsBoolTracking(heap, objectOffset);
  if (ThreadsOn()) {
    uChar* at = reinterpret_cast<uChar*>(uintptr_t(values) + uintptr_t(copy0) + uintptr_t(3) * uintptr_t(size));
    if (int64(copy0) + int64(3) * size < 0 || !Inside(ds, at, 1)) return kArgErr;
    bool queue = false;
    {
      OpLock lock(op);
      if (held) {
        op->flags |= kDCONewForDiagram;
      } else {
        *at = rest;
        queue = !(op->flags & kDCONewForPanel) && heap;
        op->flags |= kDCONewForDiagram | kDCONewForPanel;
      }
    }
    if (queue) QueueUpdate(ds, index, 0, kUpdateShowValue);
    return kNoErr;
  }
  if (!heap || !*heap) return kNoErr;
  op->flags |= kDCONewForDiagram;
  if (held) return kNoErr;
  if (!Inside(ds, reinterpret_cast<uChar*>(uintptr_t(values) + uintptr_t(copy0)), 1)) return kArgErr;
  values[copy0] = rest;
  PanelDisplayValues(heap, objectOffset, &read, &rest);
  return kNoErr;
}

void InitQETable(DataSpace ds, QueueElement** table, int32 count) {
  DataSpaceHeader* h = Hdr(ds);
  if (!h) return;
  h->qeCount = count;
  h->qeTable = table;
  int32 i = 0;
  for (QueueElement* q = &h->entrance.ownElement; q; q = q->chain, ++i) {
    if (!table || i >= count) {
      DBAssert(__FILE__, __LINE__, "queue-element chain longer than its table");
      return;
    }
    table[i] = q;
    q->qeIndex = i;
  }
}

// ---- Strip charts ----------------------------------------------------------------------

MgErr InitDisposeProtectedStripChartRec(uChar* base, int32 offset, int32 pointSize, int32 headerOffset, int32 init) {
  ProtectedStripChartRec* r = ChartRec(base, offset);
  if (!r) return kArgErr;
  auto clearThreadPart = [r] { std::memset(&r->mutex, 0, sizeof *r - offsetof(ProtectedStripChartRec, mutex)); };
  if (!ThreadsOn()) {
    clearThreadPart();
    return kNoErr;
  }
  if (!init) {
    if (r->mutex) ThMutexDestroy(r->mutex);
    if (r->shadow) DSDisposeHandle(r->shadow);
    clearThreadPart();
    return kNoErr;
  }
  clearThreadPart();
  if (MgErr err = ThMutexCreate(&r->mutex, "StripChart")) {
    r->mutex = nullptr;
    return err;
  }
  const int32 size = r->history && *r->history ? DSGetHandleSize(r->history) : 0;
  r->shadow = size >= 8 ? DSNewHClr(size) : nullptr;
  if (!r->shadow) {
    // A record without its shadow is never written or folded.
    ThMutexDestroy(r->mutex);
    clearThreadPart();
    return kMemFullErr;
  }
  PutNative32(*r->shadow, GetNative32(*r->history));
  PutNative32(*r->shadow + 4, GetNative32(*r->history + 4));
  r->pointSize = pointSize;
  r->headerOffset = headerOffset;
  r->capacity = GetNative32(*r->history);
  return kNoErr;
}

MgErr WriteVectStripChartHistoryData(uChar* base, int32 offset, int32 pointSize, int32 headerOffset,
                                     const void* points, int32 count) {
  if (count <= 0) return kNoErr;
  ProtectedStripChartRec* r = ChartRec(base, offset);
  if (!r) return kArgErr;
  if (!ThreadsOn())
    return Copy1DToChartHistory(pointSize, headerOffset, points, count, reinterpret_cast<ChartHistory*>(r));
  if (!r->mutex || !r->shadow) return kMemFullErr;
  ThMutexAcquire(r->mutex);
  MgErr err = MatchShadow(r, false);
  if (!err) err = Copy1DToChartHistory(pointSize, headerOffset, points, count, Pending(r));
  ThMutexRelease(r->mutex);
  return err;
}

MgErr Write2DStripChartHistoryData(uChar* base, int32 offset, int32 pointSize, int32 headerOffset, UHandle source,
                                   uInt32 options) {
  ProtectedStripChartRec* r = ChartRec(base, offset);
  if (!r) return kArgErr;
  if (!ThreadsOn())
    return Copy2DToChartHistory(pointSize, headerOffset, nullptr, 0, source, reinterpret_cast<ChartHistory*>(r),
                                options);
  if (!r->mutex || !r->shadow) return kMemFullErr;
  ThMutexAcquire(r->mutex);
  MgErr err = MatchShadow(r, true);
  if (!err) {
    err = Copy2DToChartHistory(pointSize, headerOffset, nullptr, 0, source, Pending(r), options);
  }
  ThMutexRelease(r->mutex);
  return err;
}

// ---- Property nodes ----------------------------------------------------------------------

int32 AttributeNodeTransfer(const int32* call, QueueElement* element) {
  if (!OnUIThread()) {
    DBAssert(__FILE__, __LINE__, "property node off the user-interface thread");
    return 1;
  }
  if (!call) return 1;
  DataSpace ds = element ? element->dataSpace : nullptr;
  if (ds && *ds && (*ds)->owner) ProcessUpdateQueue(int32(uintptr_t(ds)), int32(uintptr_t((*ds)->owner)), 0);
  ObjHeap heap = reinterpret_cast<ObjHeap>(uintptr_t(uInt32(call[2])));
  const int32 object = call[3];
  UHandle types = reinterpret_cast<UHandle>(uintptr_t(uInt32(call[4])));
  const int32 typesAt = call[5];
  int32 data = call[6];
  const int32 count = call[7];
  if (!types || !*types || typesAt < 0 || count <= 0) return 1;
  const int32 typesSize = DSGetHandleSize(types);
  // The property types follow the descriptor's 6-byte head, each starting
  // with its own length.
  int64 at = int64(typesAt) + 6;
  for (int32 i = 0; i < count; ++i) {
    if (at + 4 > typesSize) {
      DBAssert(__FILE__, __LINE__, "property types outside their descriptor");
      break;
    }
    const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(*types + at);
    const uInt32 word = uInt32(call[8 + i]);
    const bool last = i == count - 1;
    DoDDOAttrCall(heap, object, types, int32(at), (word & kPropertyWrite) ? 0 : 1, last ? 1 : 0,
                  int32(word & ~kPropertyWrite), reinterpret_cast<void*>(uintptr_t(uInt32(data))));
    const int32 len = td->size;
    if (len < 4) break;
    data += DataSize(td);
    at += len;
    if (!last && at + 4 <= typesSize) data = AlignDatum(reinterpret_cast<const TypeDescriptor*>(*types + at), data);
  }
  return 1;
}
