#include "qx_mutex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include <valgrind/helgrind.h>

namespace plat_detail {

thread_local int32_t tThreadToken = 0;
static bool DetectValgrind() { return RUNNING_ON_VALGRIND != 0; }
bool gUnderValgrind = DetectValgrind();
#if defined(QX_DEAR_LOCKS)
int32_t gDearWord = 0;
#endif

namespace {
std::atomic<int32_t> gNextToken{1};

inline void FutexWait(int32_t* addr, int32_t val) {
  syscall(SYS_futex, addr, FUTEX_WAIT_PRIVATE, val, nullptr, nullptr, 0);
}
}  // namespace

int32_t NewThreadToken() {
  int32_t t = gNextToken.fetch_add(1, std::memory_order_relaxed);
  if (t == 0) t = gNextToken.fetch_add(1, std::memory_order_relaxed);
  tThreadToken = t;
  return t;
}

// Waits for the lock; the caller failed to take it without contention.
static void Acquire(PlatRecMutex* mx) {
  int32_t c = 0;
  if (__atomic_compare_exchange_n(&mx->state, &c, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) return;
  c = __atomic_exchange_n(&mx->state, 2, __ATOMIC_ACQUIRE);
  while (c != 0) {
    FutexWait(&mx->state, 2);
    c = __atomic_exchange_n(&mx->state, 2, __ATOMIC_ACQUIRE);
  }
}

void LockSlow(PlatRecMutex* mx, int32_t self) {
  Acquire(mx);
  __atomic_store_n(&mx->owner, self, __ATOMIC_RELAXED);
  mx->depth = 1;
}

void UnlockWake(PlatRecMutex* mx) {
  syscall(SYS_futex, &mx->state, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

void LockAnnotated(PlatRecMutex* mx) {
  // Other threads read the owner word only to learn that they are not the
  // owner; statically initialised mutexes never pass through PlatRecMutexInit.
  ANNOTATE_BENIGN_RACE_SIZED(&mx->owner, sizeof(mx->owner), "owner token");
  int32_t self = PlatThreadToken();
  if (__atomic_load_n(&mx->owner, __ATOMIC_RELAXED) == self) {
    ++mx->depth;
    return;
  }
  Acquire(mx);
  ANNOTATE_RWLOCK_ACQUIRED(mx, 1);
  __atomic_store_n(&mx->owner, self, __ATOMIC_RELAXED);
  mx->depth = 1;
}

void UnlockAnnotated(PlatRecMutex* mx) {
  if (--mx->depth > 0) return;
  __atomic_store_n(&mx->owner, 0, __ATOMIC_RELAXED);
  ANNOTATE_RWLOCK_RELEASED(mx, 1);
  if (__atomic_exchange_n(&mx->state, 0, __ATOMIC_RELEASE) == 2) UnlockWake(mx);
}

}  // namespace plat_detail

using namespace plat_detail;

void PlatRecMutexInit(PlatRecMutex* mx) {
  mx->state = 0;
  mx->owner = 0;
  mx->depth = 0;
  if (gUnderValgrind) {
    ANNOTATE_RWLOCK_CREATE(mx);
    // Other threads read the owner word only to learn that they are not the owner.
    ANNOTATE_BENIGN_RACE_SIZED(&mx->owner, sizeof(mx->owner), "owner token");
  }
}

void PlatRecMutexDestroy(PlatRecMutex* mx) {
  if (gUnderValgrind) ANNOTATE_RWLOCK_DESTROY(mx);
}

bool PlatRecMutexTryLock(PlatRecMutex* mx) {
  if (gUnderValgrind) ANNOTATE_BENIGN_RACE_SIZED(&mx->owner, sizeof(mx->owner), "owner token");
  int32_t self = PlatThreadToken();
  if (__atomic_load_n(&mx->owner, __ATOMIC_RELAXED) == self) {
    ++mx->depth;
    return true;
  }
  int32_t c = 0;
  if (!__atomic_compare_exchange_n(&mx->state, &c, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
    return false;
  if (gUnderValgrind) ANNOTATE_RWLOCK_ACQUIRED(mx, 1);
  __atomic_store_n(&mx->owner, self, __ATOMIC_RELAXED);
  mx->depth = 1;
  return true;
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
