// Run queues: the unlocked priority-queue operations and the run-record
// operations that take the record's mutex.
#include <algorithm>

#include "exec_internal.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"

using namespace qxexec;

namespace {

// The tails 0..L of a queue, which follow its fixed words.
inline QueueElement*** Tails(ExecQueue* q) {
  return reinterpret_cast<QueueElement***>(reinterpret_cast<char*>(q) + offsetof(ExecQueue, tail));
}

bool CheckQueue(const ExecQueue* q) {
  if (q && q->signature == kExecQueueSig && q->levels >= 1 && q->levels <= kExecMaxLevels) return true;
  DBAssert(__FILE__, __LINE__, "bad run queue (EXEQ)");
  return false;
}

bool CheckRecord(const ExecRunRecord* r) {
  if (r && r->signature == kExecRunRecordSig) return true;
  DBAssert(__FILE__, __LINE__, "bad run record (PREQ)");
  return false;
}

inline int32 Capped(const ExecQueue* q, int32 level) { return std::min(std::max(level, 0), q->levels); }

// Moves every resting element to the run queue; true when any moved.
// Under the record's mutex.
bool MoveRestToRun(ExecRunRecord* r) {
  bool moved = false;
  while (QueueElement* e = DeQElm(r->restQueue)) {
    InsertQElm(r->runQueue, e);
    moved = true;
  }
  r->restPending = 0;
  return moved;
}

// Tells the slot's threads that work is queued.  Under the record's mutex.
// A thread of the slot waits on the event only after it found nothing to
// run, counted in `sleeping` under the same mutex, so with none counted the
// signal can wait: a thread that is not asleep looks at the queue again
// before it sleeps.  The user-interface slot's event (the timer service's,
// or its own) has waiters outside this loop and is always signalled.
inline void WakeSlot(ExecRunRecord* r) {
  if (r->sleeping > 0 || r->slot == 0 || !r->ownsEvent) ThEventSignal(r->event);
}

// The run record that EnQRunQ would use for the element.
ExecRunRecord* RecordOfDataSpace(const QueueElement* e) {
  DataSpaceHeader* h = e->dataSpace ? *e->dataSpace : nullptr;
  if (!h) return nullptr;
  return ExecSlotRunRecord(RunSlotOf(h, kESysSameAsCaller));
}

}  // namespace

namespace qxexec {

bool CheckElement(const QueueElement* e, const char* what) {
  if (e && e->signature == kQueueElementSig) return true;
  DBAssert(__FILE__, __LINE__, what);
  return false;
}

int32 ElementLevel(const QueueElement* e) {
  DataSpaceHeader* h = e->dataSpace ? *e->dataSpace : nullptr;
  return h ? h->effPriority : e->level;
}

}  // namespace qxexec

// Unlocked queues --------------------------------------------------------------

ExecQueue* NewExecQueue(int32 levels) {
  if (levels < 1 || levels > kExecMaxLevels) {
    DBAssert(__FILE__, __LINE__, "run queue level count outside 1 to 5");
    return nullptr;
  }
  ExecQueue* q = reinterpret_cast<ExecQueue*>(DSNewPClr((levels + 4) * 4));
  if (!q) return nullptr;
  q->signature = kExecQueueSig;
  q->levels = levels;
  q->head = nullptr;
  QueueElement*** tails = Tails(q);
  for (int32 k = 0; k <= levels; ++k) tails[k] = &q->head;
  return q;
}

void DisposeExecQueue(ExecQueue* queue) {
  if (!queue) return;
  if (!CheckQueue(queue)) return;
  queue->signature = 0;
  DSDisposePtr(reinterpret_cast<UPtr>(queue));
}

void InsertQElm(ExecQueue* queue, QueueElement* element) {
  if (!CheckQueue(queue) || !CheckElement(element, "bad queue element (QELM)")) return;
  QueueElement*** tails = Tails(queue);
  // The last element of a queue has no next element either: it is found as
  // the lowest tail.
  if (element->next || tails[0] == &element->next) {
    DBAssert(__FILE__, __LINE__, "queue element queued twice");
    return;
  }
  int32 level = ElementLevel(element);
  if (level < 0 || level > kPriSubroutine) {
    DBAssert(__FILE__, __LINE__, "queue element level outside 0 to 5");
    level = std::min(std::max(level, 0), int32(kPriSubroutine));
  }
  element->level = int16(level);
  int32 k = Capped(queue, level);
  QueueElement** at = tails[k];
  element->next = *at;
  *at = element;
  for (int32 j = 0; j <= k; ++j)
    if (tails[j] == at) tails[j] = &element->next;
}

QueueElement* DeQElm(ExecQueue* queue) {
  if (!CheckQueue(queue)) return nullptr;
  QueueElement* head = queue->head;
  if (!head) return nullptr;
  queue->head = head->next;
  QueueElement*** tails = Tails(queue);
  for (int32 j = Capped(queue, head->level); j >= 0; --j)
    if (tails[j] == &head->next) tails[j] = &queue->head;
  head->next = nullptr;
  return head;
}

Bool32 RemQElm(ExecQueue* queue, QueueElement* element) {
  if (!CheckQueue(queue) || !CheckElement(element, "bad queue element (QELM)")) return 0;
  QueueElement*** tails = Tails(queue);
  int32 k = Capped(queue, element->level);
  // Elements of higher levels stand before it.
  QueueElement** prev = k == queue->levels ? &queue->head : tails[k + 1];
  while (*prev && *prev != element) prev = &(*prev)->next;
  if (!*prev) return 0;
  *prev = element->next;
  for (int32 j = 0; j <= queue->levels; ++j)
    if (tails[j] == &element->next) tails[j] = prev;
  element->next = nullptr;
  return 1;
}

// Run records ------------------------------------------------------------------

void EnQElm(ExecRunRecord* record, QueueElement* element) {
  if (!CheckRecord(record)) return;
  ThMutexAcquire(record->mutex);
  InsertQElm(record->runQueue, element);
  WakeSlot(record);
  ThMutexRelease(record->mutex);
}

QueueElement* WaitDeQElm(ExecRunRecord* record, Bool32 wait, ExecContext* context) {
  return qxexec::TakeElement(record, wait, context, false);
}

namespace qxexec {

// How long a thread that has just run an element watches its queue: longer
// than a clump handed to a thread on another core takes to come back, far
// shorter than a time slice.
constexpr uInt32 kExecAwakeMicroseconds = 50;

// An element taken for a thread becomes its current element under the
// record's mutex: at every moment an element is either on a queue or some
// thread's current element, which is what a disposal waits on.
QueueElement* TakeElement(ExecRunRecord* record, Bool32 wait, ExecContext* context, bool claim, bool awake) {
  if (!CheckRecord(record)) return nullptr;
  // Without an event (no threads) nothing could end a wait.
  if (!record->event) wait = 0;
  bool slept = false;
  for (;;) {
    if (context && !context->running.load()) {
      if (slept) {
        ThMutexAcquire(record->mutex);
        --record->sleeping;
        ThMutexRelease(record->mutex);
      }
      // Let the next thread of the slot see the stop as well.
      ThEventSignal(record->event);
      return nullptr;
    }
    ChkOccurrences();
    ThMutexAcquire(record->mutex);
    if (slept) --record->sleeping;
    slept = false;
    QueueElement* e = DeQElm(record->runQueue);
    if (!e && record->restPending) {
      e = DeQElm(record->restQueue);
      if (!record->restQueue->head) record->restPending = 0;
    }
    // Another thread of the slot takes what is left.
    if (record->runQueue->head || record->restPending) WakeSlot(record);
    if (e && claim && context) context->current.store(e, std::memory_order_release);
    if (e || !wait) {
      ThMutexRelease(record->mutex);
      return e;
    }
    // Nothing to run: sleep until a queueing, an occurrence or the stop
    // signals the event.  A signal left from earlier costs one more turn.
    // Counted as sleeping, the thread is signalled while it watches too;
    // it watches once per element run, so an idle thread never does.
    ++record->sleeping;
    slept = true;
    ThMutexRelease(record->mutex);
    if (awake) {
      awake = false;
      if (ThEventWaitAwake(record->event, kExecAwakeMicroseconds)) continue;
    }
    ThEventWait(record->event);
  }
}

}  // namespace qxexec

QueueElement* SwitchQElm(ExecRunRecord* record, QueueElement* element) {
  return qxexec::SwitchElement(record, element, nullptr);
}

namespace qxexec {

QueueElement* SwitchElement(ExecRunRecord* record, QueueElement* element, ExecContext* context) {
  if (!CheckRecord(record) || !CheckElement(element, "bad queue element (QELM)")) return element;
  ThMutexAcquire(record->mutex);
  QueueElement* next = element;
  if (record->runQueue->head || record->restPending) {
    bool inserted = false;
    if (record->restPending) {
      bool second = record->restToggle != 0;
      record->restToggle = second ? 0 : 1;
      if (second) inserted = MoveRestToRun(record);
    }
    QueueElement* head = record->runQueue->head;
    // An equal level switches, so elements of one priority take turns.
    if (head && head->level >= ElementLevel(element)) {
      next = DeQElm(record->runQueue);
      InsertQElm(record->runQueue, element);
      inserted = true;
    }
    if (inserted) WakeSlot(record);
  }
  if (context) context->current.store(next, std::memory_order_release);
  ThMutexRelease(record->mutex);
  return next;
}

}  // namespace qxexec

void Rest(QueueElement* element) {
  if (!CheckElement(element, "bad queue element (QELM)")) return;
  ExecContext* ctx = element->runningContext;
  ExecRunRecord* record = ctx && ctx->signature == kExecContextSig ? ctx->runRecord : nullptr;
  if (!record) {
    DBAssert(__FILE__, __LINE__, "resting element has no running context");
    // Park it where its data space is served, so that it is not lost.
    record = RecordOfDataSpace(element);
  }
  if (!CheckRecord(record)) return;
  ThMutexAcquire(record->mutex);
  // An element being reset must see the reset: it never rests.
  if (QEResetPending(element)) {
    InsertQElm(record->runQueue, element);
  } else {
    InsertQElm(record->restQueue, element);
    record->restPending = 1;
  }
  WakeSlot(record);
  ThMutexRelease(record->mutex);
}

namespace qxexec {

int32 DropDataSpaceElements(ExecRunRecord* record, DataSpace ds) {
  if (!CheckRecord(record) || !ds) return 0;
  const uChar* lo = *ds ? reinterpret_cast<const uChar*>(*ds) : nullptr;
  const uChar* hi = lo ? lo + DSGetHandleSize(reinterpret_cast<UHandle>(ds)) : nullptr;
  auto belongs = [&](const QueueElement* e) {
    const uChar* at = reinterpret_cast<const uChar*>(e);
    return e->dataSpace == ds || (lo && at >= lo && at < hi);
  };
  int32 dropped = 0;
  ThMutexAcquire(record->mutex);
  for (ExecQueue* q : {record->runQueue, record->restQueue}) {
    for (QueueElement* e = q->head; e;) {
      QueueElement* next = e->next;
      if (belongs(e) && RemQElm(q, e)) ++dropped;
      e = next;
    }
  }
  if (!record->restQueue->head) record->restPending = 0;
  ThMutexRelease(record->mutex);
  return dropped;
}

}  // namespace qxexec

void WakeUpRest() {
  for (int32 i = 0, n = ExecRunRecordCount(); i < n; ++i) {
    ExecRunRecord* r = ExecRunRecordAt(i);
    if (!r) continue;
    ThMutexAcquire(r->mutex);
    if (MoveRestToRun(r)) WakeSlot(r);
    ThMutexRelease(r->mutex);
  }
}
