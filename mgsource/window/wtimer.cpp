// Window timers: one list ordered by due time, the earliest entry last, and
// one occurrence that fires at the earliest due time and runs WCheckTimers.
#include <cstring>

#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/winproc.h"

namespace {

struct WTimer {
  WindowRef window;
  uInt32 due;
  int32 id;
};
static_assert(sizeof(WTimer) == 12, "timer entry: window, due time, id");
constexpr int32 kGrowBy = 4;

// A handle: a 32-bit count, then the entries.  User-interface thread only.
UHandle gList = nullptr;
Occurrence gOcc = 0;
OccurHdlr gHdlr = 0;

int32 Count() { return gList ? *reinterpret_cast<int32*>(*gList) : 0; }
void SetCount(int32 n) { *reinterpret_cast<int32*>(*gList) = n; }
WTimer* Entries() { return reinterpret_cast<WTimer*>(*gList + 4); }

int32 Find(WindowRef window, int32 id) {
  const int32 n = Count();
  for (int32 i = 0; i < n; ++i)
    if (Entries()[i].window == window && Entries()[i].id == id) return i;
  return -1;
}

void RemoveAt(int32 i) {
  const int32 n = Count();
  std::memmove(Entries() + i, Entries() + i + 1, size_t(n - i - 1) * sizeof(WTimer));
  SetCount(n - 1);
}

int32 OnTimerOccurrence(void*) {
  WCheckTimers();
  return 0;
}

MgErr MakeList() {
  if (gList) return kNoErr;
  gList = AZNewHClr(4 + kGrowBy * int32(sizeof(WTimer)));
  return gList ? kNoErr : kMemFullErr;
}

// Re-arms the handler and aims the occurrence at the earliest due time.
void Rearm() {
  if (!gHdlr) return;
  OnOccurrence(gHdlr, 0);
  if (const int32 n = Count()) OccurAtTime(gOcc, Entries()[n - 1].due);
}

}  // namespace

MgErr WTimersInit(Bool32 start) {
  if (start) return MakeList();
  if (gHdlr) DeallocOccurHdlr(gHdlr);
  if (gOcc) DeallocOccur(gOcc);
  gHdlr = 0;
  gOcc = 0;
  if (gList) AZDisposeHandle(gList);
  gList = nullptr;
  return kNoErr;
}

int32 WStartTimer(WindowRef window, int32 interval, int32 id) {
  const uInt32 due = MilliSecs() + uInt32(interval);
  if (MgErr err = MakeList()) {
    DBMgErr(__FILE__, __LINE__, err, "the timer list cannot be made");
    return 0;
  }
  if (Find(window, id) >= 0) return 0;
  const int32 n = Count();
  if (n > 0 && n % kGrowBy == 0) {
    if (MgErr err = AZSetHandleSize(gList, 4 + (n + kGrowBy) * int32(sizeof(WTimer)))) {
      DBMgErr(__FILE__, __LINE__, err, "the timer list cannot grow");
      return 0;
    }
  }
  // Later entries first; the new one goes before those due at the same time
  // or earlier, so that equal times fire in start order.
  int32 at = 0;
  while (at < n && MillisecCmp(Entries()[at].due, due) > 0) ++at;
  std::memmove(Entries() + at + 1, Entries() + at, size_t(n - at) * sizeof(WTimer));
  Entries()[at] = WTimer{window, due, id};
  SetCount(n + 1);
  if (!gOcc) gOcc = AllocOccur();
  if (gOcc && !gHdlr) gHdlr = AllocOccurHdlr(gOcc, &OnTimerOccurrence, nullptr);
  Rearm();
  return 1;
}

int32 WCheckTimers() {
  int32 fired = 0;
  const uInt32 now = MilliSecs();
  while (Count() > 0) {
    const WTimer e = Entries()[Count() - 1];
    if (MillisecCmp(e.due, now) > 0) break;
    SetCount(Count() - 1);
    WEventRecord ev{};
    ev.code = kWEvTimer;
    ev.window = e.window;
    ev.where = e.id;
    WPostEvent(&ev, 0, kWPostAnyLevel);
    ++fired;
  }
  Rearm();
  return fired;
}

int32 WKillTimer(WindowRef window, int32 id) {
  const int32 i = Find(window, id);
  if (i < 0) return 0;
  RemoveAt(i);
  Rearm();
  return 1;
}

void WKillWindowTimers(WindowRef window) {
  bool removed = false;
  for (int32 i = Count() - 1; i >= 0; --i)
    if (Entries()[i].window == window) {
      RemoveAt(i);
      removed = true;
    }
  if (removed) Rearm();
}
