// A recursive mutex that counts how deep its owner holds it.  The pool
// allocator gives it up at every level before calling an error handler and
// takes it again to the same depth afterwards.
//
// It is a futex lock: taking and giving it up without contention costs one
// atomic operation each, which the allocator's hot paths need, so the fast
// paths are inline.  Valgrind's thread checkers are told about it through
// their annotations when the program runs under Valgrind.
#pragma once
#include <sys/single_threaded.h>

#include <cstdint>

struct PlatRecMutex {
  int32_t state;  // 0 free, 1 held, 2 held with waiters
  int32_t owner;  // the owner's thread token, 0 when free
  int32_t depth;  // nesting count of the owner
};

#define PLAT_REC_MUTEX_INIT {0, 0, 0}

namespace plat_detail {
extern thread_local int32_t tThreadToken;
extern bool gUnderValgrind;
int32_t NewThreadToken();
void LockSlow(PlatRecMutex* mx, int32_t self);
void UnlockWake(PlatRecMutex* mx);
// The same operations, telling Valgrind's thread checkers about them.
void LockAnnotated(PlatRecMutex* mx);
void UnlockAnnotated(PlatRecMutex* mx);
}  // namespace plat_detail

// A small non-zero number naming the calling thread, unique for the process.
inline int32_t PlatThreadToken() {
  int32_t t = plat_detail::tThreadToken;
  return t ? t : plat_detail::NewThreadToken();
}

// True when the process runs under Valgrind.
inline bool PlatUnderValgrind() { return plat_detail::gUnderValgrind; }

// Benchmark builds with QX_DEAR_LOCKS make every lock and unlock dearer by an
// atomic read-modify-write pair on a word all threads share, to show which
// paths take no lock.
#if defined(QX_DEAR_LOCKS)
namespace plat_detail {
extern int32_t gDearWord;
}
#define QX_DEAR_LOCK_COST()                                                 \
  (__atomic_fetch_add(&plat_detail::gDearWord, 1, __ATOMIC_SEQ_CST),        \
   __atomic_fetch_sub(&plat_detail::gDearWord, 1, __ATOMIC_SEQ_CST))
#else
#define QX_DEAR_LOCK_COST() ((void)0)
#endif

void PlatRecMutexInit(PlatRecMutex* mx);
void PlatRecMutexDestroy(PlatRecMutex* mx);

inline void PlatRecMutexLock(PlatRecMutex* mx) {
  QX_DEAR_LOCK_COST();
  if (__builtin_expect(plat_detail::gUnderValgrind, 0)) {
    plat_detail::LockAnnotated(mx);
    return;
  }
  int32_t self = PlatThreadToken();
  if (__atomic_load_n(&mx->owner, __ATOMIC_RELAXED) == self) {
    ++mx->depth;
    return;
  }
  // While the process has one thread nobody else can hold or wait for the
  // lock, and the one thread is the only one that can start another: taken
  // without a bus lock, as the C library takes its own mutexes then.
  if (__libc_single_threaded && __atomic_load_n(&mx->state, __ATOMIC_RELAXED) == 0) {
    __atomic_store_n(&mx->state, 1, __ATOMIC_RELAXED);
    __atomic_store_n(&mx->owner, self, __ATOMIC_RELAXED);
    mx->depth = 1;
    return;
  }
  int32_t c = 0;
  if (__builtin_expect(
          !__atomic_compare_exchange_n(&mx->state, &c, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED), 0)) {
    plat_detail::LockSlow(mx, self);
    return;
  }
  __atomic_store_n(&mx->owner, self, __ATOMIC_RELAXED);
  mx->depth = 1;
}

inline void PlatRecMutexUnlock(PlatRecMutex* mx) {
  QX_DEAR_LOCK_COST();
  if (__builtin_expect(plat_detail::gUnderValgrind, 0)) {
    plat_detail::UnlockAnnotated(mx);
    return;
  }
  if (--mx->depth > 0) return;
  __atomic_store_n(&mx->owner, 0, __ATOMIC_RELAXED);
  if (__libc_single_threaded) {  // no waiter: there is no other thread
    __atomic_store_n(&mx->state, 0, __ATOMIC_RELAXED);
    return;
  }
  if (__builtin_expect(__atomic_exchange_n(&mx->state, 0, __ATOMIC_RELEASE) == 2, 0))
    plat_detail::UnlockWake(mx);
}

bool PlatRecMutexTryLock(PlatRecMutex* mx);
// True when the calling thread holds the mutex.
inline bool PlatRecMutexOwned(const PlatRecMutex* mx) {
  return __atomic_load_n(&mx->owner, __ATOMIC_RELAXED) == PlatThreadToken();
}
// Gives up every level held by the caller and returns how many there were.
int32_t PlatRecMutexReleaseAll(PlatRecMutex* mx);
// Takes the mutex again to the given depth.
void PlatRecMutexReacquire(PlatRecMutex* mx, int32_t depth);
