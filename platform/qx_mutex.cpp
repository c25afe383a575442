#include "qx_mutex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>

#include <valgrind/helgrind.h>

namespace {
std::atomic<int32_t> gNextToken{1};
thread_local int32_t tToken = 0;

inline void FutexWait(int32_t* addr, int32_t val) {
  syscall(SYS_futex, addr, FUTEX_WAIT_PRIVATE, val, nullptr, nullptr, 0);
}
inline void FutexWake(int32_t* addr, int32_t n) {
  syscall(SYS_futex, addr, FUTEX_WAKE_PRIVATE, n, nullptr, nullptr, 0);
}
}  // namespace

int32_t PlatThreadToken() {
  int32_t t = tToken;
  if (t == 0) {
    t = gNextToken.fetch_add(1, std::memory_order_relaxed);
    if (t == 0) t = gNextToken.fetch_add(1, std::memory_order_relaxed);
    tToken = t;
  }
  return t;
}

void PlatRecMutexInit(PlatRecMutex* mx) {
  mx->state = 0;
  mx->owner = 0;
  mx->depth = 0;
  ANNOTATE_RWLOCK_CREATE(mx);
  // Other threads read the owner word only to learn that they are not the owner.
  ANNOTATE_BENIGN_RACE_SIZED(&mx->owner, sizeof(mx->owner), "owner token");
}

void PlatRecMutexDestroy(PlatRecMutex* mx) { ANNOTATE_RWLOCK_DESTROY(mx); }

static inline void TookLock(PlatRecMutex* mx, int32_t self) {
  // Announced before the depth is written, so that the thread checkers see
  // the write under the lock.
  ANNOTATE_RWLOCK_ACQUIRED(mx, 1);
  __atomic_store_n(&mx->owner, self, __ATOMIC_RELAXED);
  mx->depth = 1;
}

void PlatRecMutexLock(PlatRecMutex* mx) {
  int32_t self = PlatThreadToken();
  if (__atomic_load_n(&mx->owner, __ATOMIC_RELAXED) == self) {
    ++mx->depth;
    return;
  }
  int32_t c = 0;
  if (!__atomic_compare_exchange_n(&mx->state, &c, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
    if (c != 2) c = __atomic_exchange_n(&mx->state, 2, __ATOMIC_ACQUIRE);
    while (c != 0) {
      FutexWait(&mx->state, 2);
      c = __atomic_exchange_n(&mx->state, 2, __ATOMIC_ACQUIRE);
    }
  }
  TookLock(mx, self);
}

bool PlatRecMutexTryLock(PlatRecMutex* mx) {
  int32_t self = PlatThreadToken();
  if (__atomic_load_n(&mx->owner, __ATOMIC_RELAXED) == self) {
    ++mx->depth;
    return true;
  }
  int32_t c = 0;
  if (!__atomic_compare_exchange_n(&mx->state, &c, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
    return false;
  TookLock(mx, self);
  return true;
}

void PlatRecMutexUnlock(PlatRecMutex* mx) {
  if (--mx->depth > 0) return;
  ANNOTATE_RWLOCK_RELEASED(mx, 1);
  __atomic_store_n(&mx->owner, 0, __ATOMIC_RELAXED);
  if (__atomic_exchange_n(&mx->state, 0, __ATOMIC_RELEASE) == 2) FutexWake(&mx->state, 1);
}

bool PlatRecMutexOwned(const PlatRecMutex* mx) {
  return __atomic_load_n(&mx->owner, __ATOMIC_RELAXED) == PlatThreadToken();
}

int32_t PlatRecMutexReleaseAll(PlatRecMutex* mx) {
  if (!PlatRecMutexOwned(mx)) return 0;
  int32_t n = mx->depth;
  mx->depth = 1;
  PlatRecMutexUnlock(mx);
  return n;
}

void PlatRecMutexReacquire(PlatRecMutex* mx, int32_t depth) {
  if (depth <= 0) return;
  PlatRecMutexLock(mx);
  mx->depth += depth - 1;
}
