// The entrance of a VI: callers enter and leave a non-reentrant VI one at a
// time through its VIEntranceRec, waiting by priority in its wait queue;
// subroutine-priority VIs take a lock bit instead.  RemQEVIEntry takes an
// element out of the entrance when the VI is reset.
//
// Lock order: "dsRights" of the data space, then its "dsMessageLock", then a
// run record's mutex (inside EnQElm and EnqPrRunQ).
#include "engine/exec/codeentry.h"
#include "engine/exec/exec.h"
#include "engine/exec/exec_internal.h"
#include "engine/vi/virecord.h"
#include "mgsource/blockmove.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

namespace {

constexpr int16 kVIKindProxy = 8;

bool CheckEntrance(VIEntranceRec* e) {
  if (e && e->signature == kVIEntranceSig) return true;
  DBAssert(__FILE__, __LINE__, "bad VI entrance (VENT)");
  return false;
}

void ClearFlagBits(QueueElement* e, uInt32 bits) {
  if (e->flagRecord) __atomic_and_fetch(e->flagRecord, ~bits, __ATOMIC_RELAXED);
}
void SetFlagBits(QueueElement* e, uInt32 bits) {
  if (e->flagRecord) __atomic_or_fetch(e->flagRecord, bits, __ATOMIC_RELAXED);
}

// The run record of an element's entry context (where it entered from).
ExecRunRecord* EntryRecord(QueueElement* e) {
  ExecContext* c = e->entryContext ? e->entryContext : e->runningContext;
  return c ? c->runRecord : ExecSlotRunRecord(0);
}

// A caller sent back to where it came from, without its call.
void SendBack(QueueElement* e, bool clearRunState) {
  if (clearRunState) QESetRunState(e, 0);
  ClearFlagBits(e, kQECallBit);
  EnQElm(EntryRecord(e), e);
}

bool IsProxy(DataSpaceHeader* h) {
  auto* vi = h->owner && *h->owner ? reinterpret_cast<VIRecord*>(*h->owner) : nullptr;
  return vi && vi->viKind == kVIKindProxy;
}

// Enters the data space's handle in the reset list, growing the list when
// it is full.
void EnterResetList(DataSpace ds) {
  UHandle list = ExecResetList();
  if (!list || !ds) return;
  ExecLockResetList();
  struct Unlock {
    ~Unlock() { ExecUnlockResetList(); }
  } unlock;
  auto* words = reinterpret_cast<int32*>(*list);
  int32 count = words[0];
  for (int32 i = 0; i < count; ++i)
    if (words[1 + i] == int32(reinterpret_cast<intptr_t>(ds))) return;
  int32 room = (DSGetHandleSize(list) - 4) / 4;
  if (count >= room) {
    if (DSSetHSzClr(list, 4 + 4 * (room + kResetListRoom)) != kNoErr) {
      DBAssert(__FILE__, __LINE__, "the reset list cannot grow");
      return;
    }
    words = reinterpret_cast<int32*>(*list);
  }
  words[1 + count] = int32(reinterpret_cast<intptr_t>(ds));
  words[0] = count + 1;
}

}  // namespace

MgErr NewVIEntrance(DataSpace ds, Bool32 subroutine, Bool32 proxy) {
  DataSpaceHeader* h = ds ? *ds : nullptr;
  if (!h) return kArgErr;
  VIEntranceRec* e = &h->entrance;
  ClearMem(e, sizeof *e);
  MgErr err = kNoErr;
  if (ExecThreadsOn()) {
    err = ThMutexCreate(&e->dsRights, "dsRights");
    if (!err && proxy) err = ThMutexCreate(&e->dsMessageLock, "dsMessageLock");
  }
  if (!err) {
    if (subroutine) {
      e->lockWord = reinterpret_cast<int32*>(DSNewPClr(4));
      if (!e->lockWord) err = kMemFullErr;
    } else {
      e->waitQueue = NewExecQueue(kExecMaxLevels);
      if (!e->waitQueue) err = kMemFullErr;
    }
  }
  h = *ds;
  h->entrance.signature = kVIEntranceSig;
  h->entrance.ownElement.signature = kQueueElementSig;
  h->entrance.ownElement.dataSpace = ds;
  if (err) DisposeVIEntrance(ds);
  return err;
}

void DisposeVIEntrance(DataSpace ds) {
  DataSpaceHeader* h = ds ? *ds : nullptr;
  if (!h) return;
  VIEntranceRec* e = &h->entrance;
  ThMutexDestroy(e->dsRights);
  ThMutexDestroy(e->dsMessageLock);
  DisposeExecQueue(e->waitQueue);
  if (e->lockWord) DSDisposePtr(reinterpret_cast<UPtr>(e->lockWord));
  ClearMem(e, sizeof *e);
}

int32 VIEntrance(QueueElement* caller, VIEntranceRec* entrance) {
  if (!CheckEntrance(entrance) || !qxexec::CheckElement(caller, "VIEntrance: bad caller (QELM)")) return 0;
  DataSpaceHeader* h = EntranceHeader(entrance);
  ThMutexAcquire(entrance->dsRights);
  // Held on return; the proxy procedure releases it.
  ThMutexAcquire(entrance->dsMessageLock);
  ExecContext* cctx = caller->runningContext;
  caller->entryContext = cctx;
  ClearFlagBits(caller, kQEWaitingForLockBit);

  if (entrance->owner) {
    if (QEResetPending(caller) == 1) {
      SendBack(caller, false);
    } else {
      InsertQElm(entrance->waitQueue, caller);
    }
    ThMutexRelease(entrance->dsRights);
    return 0;
  }
  if (QEResetPending(caller) == 1) {
    SendBack(caller, true);
    ThMutexRelease(entrance->dsRights);
    return 0;
  }
  entrance->owner = caller;
  h->busy = 1;
  QueueElement* own = &entrance->ownElement;
  const bool sameAsCaller = h->execSystem == kESysSameAsCaller;
  bool elsewhere;
  if (!cctx) {
    elsewhere = true;
  } else if (sameAsCaller) {
    elsewhere = h->effPriority > cctx->priority && h->effPriority < kPriSubroutine;
  } else {
    // Subroutine priority selects no slot: such a VI runs in its caller's thread.
    elsewhere = h->effPriority != kPriSubroutine && ExecSlotRunRecord(h->slot) != cctx->runRecord;
  }
  if (elsewhere) {
    own->code = h->subVIEntry;
    own->callKind = kCallOwnElementForCaller;
    int32 slot = sameAsCaller ? ExecSysSlot(h->effPriority, cctx ? cctx->execSystem : kESysStandard) : h->slot;
    if (slot < 0) slot = qxexec::RunSlotOf(h, kESysSameAsCaller);
    EnqPrRunQ(slot, own);
    ThMutexRelease(entrance->dsRights);
    return 0;
  }
  own->runningContext = cctx;
  cctx->current.store(own);
  if (caller != h->runElement && h->panelOpen) qxexec::UpdateReserveState(h);
  ThMutexRelease(entrance->dsRights);
  return 1;
}

QueueElement* VIExit(VIEntranceRec* entrance) {
  if (!CheckEntrance(entrance)) return nullptr;
  DataSpaceHeader* h = EntranceHeader(entrance);
  ThMutexAcquire(entrance->dsRights);
  ThMutexAcquire(entrance->dsMessageLock);
  QueueElement* owner = entrance->owner;
  if (!owner) {
    DBAssert(__FILE__, __LINE__, "VIExit: the VI has no caller");
    ThMutexRelease(entrance->dsMessageLock);
    ThMutexRelease(entrance->dsRights);
    return nullptr;
  }
  QueueElement* own = &entrance->ownElement;
  ExecContext* exitCtx = own->runningContext ? own->runningContext : GetCurExecContext();
  ExecRunRecord* exitRecord = exitCtx ? exitCtx->runRecord : nullptr;

  // 1. The owner's call is over.
  ClearFlagBits(owner, kQECallBit);
  ++h->resetCount;
  if (QEResetPending(owner)) QESetRunState(owner, 0);

  // 2. Back to its own thread, or on here.
  QueueElement* result = owner;
  bool ownerQueued = false;
  DataSpaceHeader* ownerDS = owner->dataSpace ? *owner->dataSpace : nullptr;
  if (exitRecord != EntryRecord(owner) && ownerDS && ownerDS->execSystem != kESysSameAsCaller) {
    EnQElm(EntryRecord(owner), owner);
    result = kVIExitQueued;
    ownerQueued = true;
  }

  // 3. The next caller that is not being reset.
  QueueElement* next = nullptr;
  while (QueueElement* w = entrance->waitQueue ? DeQElm(entrance->waitQueue) : nullptr) {
    if (QEResetPending(w)) {
      SendBack(w, true);
      continue;
    }
    next = w;
    break;
  }

  // 4. The VI goes on for the next caller, or is free.
  if (next) {
    entrance->owner = next;
    QESetRunState(own, 1);
    if (ownerQueued) {
      result = nullptr;
    } else if (qxexec::ElementLevel(next) <= qxexec::ElementLevel(owner) && !entrance->dsMessageLock && exitRecord) {
      own->code = h->subVIEntry;
      EnQElm(exitRecord, own);
    } else {
      EnQElm(EntryRecord(owner), owner);
      result = nullptr;
      ownerQueued = true;
    }
  } else {
    entrance->owner = nullptr;
    QESetRunState(own, 0);
    h->busy = 0;
  }

  // 5. The owner goes on with this thread.
  if (!ownerQueued && exitCtx) {
    owner->runningContext = exitCtx;
    exitCtx->current.store(owner);
  }
  if (QEResetPending(own))
    for (QueueElement* q = own; q; q = q->chain) QESetResetPending(q, 0);
  if (!next && owner != h->runElement && h->panelOpen) qxexec::UpdateReserveState(h);
  ThMutexRelease(entrance->dsMessageLock);
  ThMutexRelease(entrance->dsRights);
  return result;
}

int32 SubrVIEntrance(QueueElement* caller, VIEntranceRec* entrance) {
  if (!CheckEntrance(entrance) || !qxexec::CheckElement(caller, "SubrVIEntrance: bad caller (QELM)")) return 0;
  if (!entrance->lockWord) {
    DBAssert(__FILE__, __LINE__, "SubrVIEntrance: not a subroutine VI");
    return 0;
  }
  if (__atomic_fetch_or(entrance->lockWord, 1, __ATOMIC_ACQUIRE) & 1) {
    SetFlagBits(caller, kQEWaitingForLockBit);
    return 0;
  }
  QueueElement* own = &entrance->ownElement;
  ExecContext* ctx = caller->runningContext;
  own->runningContext = ctx;
  if (ctx) {
    ctx->current.store(own);
    QueueElement* none = nullptr;
    ctx->subroutineCaller.compare_exchange_strong(none, caller);
  }
  entrance->owner = caller;
  ClearFlagBits(caller, kQEWaitingForLockBit);
  return 1;
}

QueueElement* SubrVIExit(VIEntranceRec* entrance) {
  if (!CheckEntrance(entrance)) return nullptr;
  QueueElement* owner = entrance->owner;
  if (!owner || !entrance->lockWord) {
    DBAssert(__FILE__, __LINE__, "SubrVIExit: the subroutine VI has no caller");
    return nullptr;
  }
  QueueElement* result = owner;
  if (QERunState(owner) == 5) {
    QESetRunState(owner, 2);
    result = nullptr;
  }
  entrance->owner = nullptr;
  ExecContext* ctx = entrance->ownElement.runningContext;
  if (ctx) {
    QueueElement* expected = owner;
    ctx->subroutineCaller.compare_exchange_strong(expected, nullptr);
    ctx->current.store(owner);
  }
  __atomic_store_n(entrance->lockWord, 0, __ATOMIC_RELEASE);
  return result;
}

int32 RemQEVIEntry(QueueElement* element, VIEntranceRec* entrance) {
  if (!CheckEntrance(entrance)) return 0;
  DataSpaceHeader* h = EntranceHeader(entrance);
  ThMutexAcquire(entrance->dsRights);
  const bool proxy = IsProxy(h);
  if (element && element != entrance->owner && !proxy) {
    if (element == h->runElement) {
      QESetResetPending(element, 1);
    } else if (entrance->waitQueue && RemQElm(entrance->waitQueue, element)) {
      // Only an element taken out of the wait queue is queued again: any
      // other is in a queue or runs already.
      SendBack(element, true);
    }
    ThMutexRelease(entrance->dsRights);
    return 0;
  }
  QueueElement* own = &entrance->ownElement;
  if (element) ++h->resetCount;
  h->wholeReset = element ? 0 : 1;
  if (element && h->suspendPending) {
    QESetRunState(own, 2);
    h->suspendPending = 0;
  }
  QueueElement* start = element && element == h->runElement ? h->runElement : own;
  for (QueueElement* q = start; q; q = q->chain) QESetResetPending(q, 1);
  EnterResetList(h->self);
  // The proxy side releases it.
  ThMutexAcquire(entrance->dsMessageLock);
  ThMutexRelease(entrance->dsRights);
  return 1;
}
