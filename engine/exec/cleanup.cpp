// The cleanup procedures that external code and run-time functions register
// for a VI's run.  One list for the system, guarded by "gCleanTblMutex",
// which stays held while the procedures run (it is recursive, so a procedure
// may register or remove cleanups; the list may then move, so it is walked
// by index and its handle read again after every call).
#include <cstring>
#include <utility>
#include <vector>

#include "engine/exec/callchain.h"
#include "engine/exec/exec.h"
#include "engine/vi/viinst.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

namespace {

// A free entry has no procedure.
CleanupProcList gList = nullptr;

UHandle ListHandle() { return reinterpret_cast<UHandle>(gList); }
int32 Room() { return gList ? DSGetHandleSize(ListHandle()) / int32(sizeof(CleanupEntry)) : 0; }
CleanupEntry* At(int32 i) { return *gList + i; }

class ListLock {
 public:
  ListLock() { ThMutexAcquire(ExecCleanTblMutex()); }
  ~ListLock() { ThMutexRelease(ExecCleanTblMutex()); }
  ListLock(const ListLock&) = delete;
  ListLock& operator=(const ListLock&) = delete;
};

// Adds an entry unless the same one is there: 1 when added.
int32 Register(UHandle vi, DataSpace ds, RTCleanupProc proc, void* cookie, int32 mode) {
  ListLock lock;
  int32 free = -1;
  for (int32 i = 0, n = Room(); i < n; ++i) {
    const CleanupEntry* e = At(i);
    if (!e->proc) {
      if (free < 0) free = i;
    } else if (e->vi == vi && e->ds == ds && e->proc == proc && e->cookie == cookie) {
      return 0;
    }
  }
  if (free < 0) {
    const int32 room = Room();
    const int32 bytes = (room + kCleanupListStep) * int32(sizeof(CleanupEntry));
    if (!gList) {
      gList = reinterpret_cast<CleanupProcList>(DSNewHClr(bytes));
    } else if (DSSetHSzClr(ListHandle(), bytes) != kNoErr) {
      DBAssert(__FILE__, __LINE__, "the cleanup list cannot grow");
      return 0;
    }
    if (!gList) {
      DBAssert(__FILE__, __LINE__, "the cleanup list cannot be made");
      return 0;
    }
    free = room;
  }
  *At(free) = CleanupEntry{vi, ds, proc, cookie, mode};
  return 1;
}

int32 Remove(RTCleanupProc proc, void* cookie) {
  ListLock lock;
  for (int32 i = 0, n = Room(); i < n; ++i) {
    CleanupEntry* e = At(i);
    if (e->proc && e->proc == proc && e->cookie == cookie) {
      *e = CleanupEntry{};
      return 1;
    }
  }
  return 0;
}

// The calling thread's current element, none outside a clump.
QueueElement* CurrentElement() {
  ExecContext* ctx = GetCurExecContext();
  return ctx ? ctx->current.load() : nullptr;
}

// The top-level data space of the chain that runs an element (the element's
// own data space when its chain does not run).
DataSpace TopOf(QueueElement* e) {
  DataSpace top = e->dataSpace ? GetCallChainTop(e->dataSpace, 0) : nullptr;
  return top ? top : e->dataSpace;
}

bool ModeRuns(int32 mode, bool abort) {
  return abort ? (mode == kCleanupTopVIAbort || mode == kCleanupNamedVIAbort)
               : (mode == kCleanupTopVI || mode == kCleanupNamedVI);
}

bool Same(const CleanupEntry& a, const CleanupEntry& b) {
  return a.vi == b.vi && a.ds == b.ds && a.proc == b.proc && a.cookie == b.cookie && a.mode == b.mode;
}

void RunEntries(DataSpace ds, bool abort) {
  UHandle vi = ds && *ds ? (*ds)->owner : nullptr;
  ListLock lock;
  // The entries due now; those the procedures add wait for the next run,
  // and those they remove are not called.
  std::vector<std::pair<int32, CleanupEntry>> due;
  for (int32 i = 0, n = Room(); i < n; ++i) {
    const CleanupEntry& e = *At(i);
    if (!e.proc) continue;
    if (ds && (e.vi != vi || (e.ds && e.ds != ds) || !ModeRuns(e.mode, abort))) continue;
    due.emplace_back(i, e);
  }
  for (const auto& d : due) {
    if (d.first >= Room() || !Same(*At(d.first), d.second)) continue;
    *At(d.first) = CleanupEntry{};
    d.second.proc(d.second.cookie);
  }
}

UHandle LoadedVINamed(ConstPStr name) {
  if (!name) return nullptr;
  for (UHandle vi = FirstLoadedVI(); vi; vi = VIRec(vi)->next)
    if (PStrCaseCmp(VIRec(vi)->name, name) == 0) return vi;
  return nullptr;
}

}  // namespace

int32 RTSetCleanupProc(RTCleanupProc proc, void* cookie, int32 mode) {
  if (mode == kCleanupRemove) return Remove(proc, cookie);
  if (!proc || mode < kCleanupDataSpace || mode > kCleanupNamedVIAbort) return 0;
  QueueElement* e = CurrentElement();
  if (!e || !e->dataSpace || !*e->dataSpace) {
    DBAssert(__FILE__, __LINE__, "RTSetCleanupProc: the calling thread runs no clump");
    return 0;
  }
  if (mode == kCleanupDataSpace) return Register(nullptr, e->dataSpace, proc, cookie, mode);
  DataSpace top = TopOf(e);
  return Register((*top)->owner, top, proc, cookie, mode);
}

int32 ExtRTSetCleanupProc(ConstPStr viName, RTCleanupProc proc, void* cookie, int32 mode) {
  UHandle vi = LoadedVINamed(viName);
  if (!vi) return 0;
  if (mode == kCleanupRemove) return Remove(proc, cookie);
  if (!proc || mode < kCleanupDataSpace || mode > kCleanupNamedVIAbort) return 0;
  if (mode == kCleanupNamedVI || mode == kCleanupNamedVIAbort) {
    QueueElement* e = CurrentElement();
    if (e && e->dataSpace && *e->dataSpace) {
      DataSpace top = TopOf(e);
      if ((*e->dataSpace)->owner == vi || (top && *top && (*top)->owner == vi)) return 0;
    }
  }
  return Register(vi, nullptr, proc, cookie, mode);
}

int32 SetCleanupProcEntry(UHandle vi, DataSpace ds, RTCleanupProc proc, void* cookie, int32 mode) {
  if (mode == kCleanupRemove) return Remove(proc, cookie);
  if (!vi || !*vi || !proc || (mode != kCleanupTopVI && mode != kCleanupTopVIAbort)) return 0;
  return Register(vi, ds, proc, cookie, mode);
}

void RunCleanupProcs(DataSpace ds) { RunEntries(ds, false); }
void RunAbortCleanupProcs(DataSpace ds) { RunEntries(ds, true); }

int32 CleanupProcCount() {
  ListLock lock;
  int32 count = 0;
  for (int32 i = 0, n = Room(); i < n; ++i)
    if (At(i)->proc) ++count;
  return count;
}

void DisposeCleanupList() {
  ListLock lock;
  if (gList) DSDisposeHandle(ListHandle());
  gList = nullptr;
}
