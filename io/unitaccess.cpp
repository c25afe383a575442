#include "io/unitaccess.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/exec/execrec.h"
#include "engine/link/loadmethods.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

UnitAccessRec* NewUnitAccessRec(int32 size, int32 levels, int32 execSystem, Bool32 withMutex) {
  if (size < int32(sizeof(UnitAccessRec))) return nullptr;
  auto* r = reinterpret_cast<UnitAccessRec*>(AZNewPClr(size));
  if (!r) return nullptr;
  r->signature = kUnitAccessSignature;
  r->execSystem = execSystem;
  // The waiter queue has at most as many levels as a run queue: more are
  // taken as the most there is, fewer than one as one.
  r->waiters = NewExecQueue(std::clamp<int32>(levels, 1, kExecMaxLevels));
  bool ok = r->waiters != nullptr;
  if (ok && withMutex) ok = ThMutexCreate(&r->mutex, "UnitRights") == kNoErr;
  if (!ok) {
    if (r->waiters) DisposeExecQueue(r->waiters);
    AZDisposePtr(reinterpret_cast<UPtr>(r));
    return nullptr;
  }
  return r;
}

UnitAccessRec* AllocStdUnitAccessRec(int32 execSystem) {
  return NewUnitAccessRec(int32(sizeof(UnitAccessRec)), kUnitAccessLevels, execSystem, 1);
}

void DisposeUnitAccessRec(UnitAccessRec* record) {
  if (!record || record->signature != kUnitAccessSignature) {
    DBAssert("unitacc", __LINE__, "not a unit-access record");
    return;
  }
  if (record->waiters) DisposeExecQueue(record->waiters);
  if (record->mutex) ThMutexDestroy(record->mutex);
  record->signature = 0;
  record->execSystem = -1;
  AZDisposePtr(reinterpret_cast<UPtr>(record));
}

namespace {

// The slot that serves the element's data-space priority in an execution
// system; -1 when the element has no data space.
int32 SlotFor(const QueueElement* e, int32 execSystem) {
  DataSpaceHeader* h = e && e->dataSpace ? *e->dataSpace : nullptr;
  return h ? ExecSysSlot(h->effPriority, execSystem) : -1;
}

int32 SlotOf(const ExecContext* c) { return c ? c->slot : -1; }

// Back onto the run queue of a context; an element that knows no context
// goes where its data space routes it.
void ToContext(ExecContext* c, QueueElement* e) {
  if (c && c->runRecord) EnQElm(c->runRecord, e);
  else EnQRunQ(e);
}

// A new owner is made runnable: on its slot of the unit's execution system,
// or where it waited from.
void WakeOwner(QueueElement* owner, int32 execSystem) {
  if (!owner) return;
  if (execSystem != -1) {
    int32 slot = SlotFor(owner, execSystem);
    if (slot >= 0) {
      EnqPrRunQ(slot, owner);
      return;
    }
  }
  ToContext(owner->runningContext, owner);
}

class RecordLock {
 public:
  explicit RecordLock(UnitAccessRec* r) : m_(r->mutex) { ThMutexAcquire(m_); }
  ~RecordLock() { ThMutexRelease(m_); }
  RecordLock(const RecordLock&) = delete;
  RecordLock& operator=(const RecordLock&) = delete;

 private:
  ThMutex m_;
};

}  // namespace

int32 UnitAccess(UnitAccessRec* record, QueueElement* qe, int32 op) {
  if (!record || record->signature != kUnitAccessSignature) {
    // A foreign or disposed record is reported and left alone: its words
    // are not a queue to walk.
    DBAssert("unitacc", __LINE__, "not a unit-access record");
    return kUnitNothing;
  }
  const int32 execSystem = record->execSystem;
  switch (op) {
    case kUnitCancel: {
      bool wasWaiting;
      {
        RecordLock lock(record);
        wasWaiting = qe && RemQElm(record->waiters, qe);
      }
      if (wasWaiting) ToContext(qe->runningContext, qe);
      return kUnitNothing;
    }
    case kUnitAcquire: {
      if (!qe) {
        DBAssert("unitacc", __LINE__, "acquire without a queue element");
        return kUnitNothing;
      }
      const bool aborting = QEResetPending(qe) == 1;
      int32 result;
      {
        RecordLock lock(record);
        if (aborting || record->owner == qe) {
          result = kUnitGoOn;
        } else if (!record->owner) {
          record->owner = qe;
          result = kUnitGoOn;
        } else {
          InsertQElm(record->waiters, qe);
          result = kUnitYield;
        }
      }
      if (result == kUnitGoOn && !aborting && execSystem != -1) {
        int32 slot = SlotFor(qe, execSystem);
        if (slot >= 0 && slot != SlotOf(qe->runningContext)) {
          EnqPrRunQ(slot, qe);
          return kUnitYield;
        }
      }
      return result;
    }
    case kUnitRelease: {
      QueueElement* newOwner = nullptr;
      int32 result = kUnitNothing;
      {
        RecordLock lock(record);
        if (qe && record->owner == qe) {
          record->owner = nullptr;
          result = kUnitGoOn;
        } else {
          DBPrintf("qe 0x%lx releasing unit access it does not have", static_cast<unsigned long>(uintptr_t(qe)));
        }
        if (!record->owner) {
          newOwner = DeQElm(record->waiters);
          record->owner = newOwner;
        }
      }
      if (result == kUnitGoOn) {
        result = kUnitNothing;
        if (execSystem != -1) {
          int32 slot = SlotFor(qe, execSystem);
          if (slot == SlotOf(qe->runningContext) && slot != SlotOf(qe->entryContext)) {
            ToContext(qe->entryContext, qe);
            result = kUnitYieldHome;
          }
        }
      }
      WakeOwner(newOwner, execSystem);
      return result;
    }
    default:
      DBAssert("unitacc", __LINE__, "unknown unit-access op");
      return kUnitNothing;
  }
}

void ReleaseUnitWaiters(UnitAccessRec* record) {
  if (!record) return;
  if (record->signature != kUnitAccessSignature) {
    DBAssert("unitacc", __LINE__, "not a unit-access record");
    return;
  }
  if (!record->waiters) return;
  // Taken off under the mutex, queued after it is released.
  std::vector<QueueElement*> woken;
  {
    RecordLock lock(record);
    while (QueueElement* e = DeQElm(record->waiters)) woken.push_back(e);
  }
  for (QueueElement* e : woken) ToContext(e->entryContext ? e->entryContext : e->runningContext, e);
}

void IOInstallUnitAccessHooks() {
  LoadMethodHooks h = LoadHooks();
  h.allocUnitAccess = [](int32 unit) -> void* { return AllocStdUnitAccessRec(unit); };
  h.disposeUnitAccess = [](void* r) { DisposeUnitAccessRec(static_cast<UnitAccessRec*>(r)); };
  SetLoadMethodHooks(&h);
}
