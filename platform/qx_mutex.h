// A recursive mutex that counts how deep its owner holds it.  The pool
// allocator gives it up at every level before calling an error handler and
// takes it again to the same depth afterwards.
//
// It is a futex lock: taking and giving it up without contention costs one
// atomic exchange each, which the allocator's hot paths need.  Valgrind's
// thread checkers are told about it through their annotations.
#pragma once
#include <cstdint>

struct PlatRecMutex {
  int32_t state;  // 0 free, 1 held, 2 held with waiters
  int32_t owner;  // the owner's thread token, 0 when free
  int32_t depth;  // nesting count of the owner
};

#define PLAT_REC_MUTEX_INIT {0, 0, 0}

// A small non-zero number naming the calling thread, unique for the process.
int32_t PlatThreadToken();

void PlatRecMutexInit(PlatRecMutex* mx);
void PlatRecMutexDestroy(PlatRecMutex* mx);
void PlatRecMutexLock(PlatRecMutex* mx);
bool PlatRecMutexTryLock(PlatRecMutex* mx);
void PlatRecMutexUnlock(PlatRecMutex* mx);
// True when the calling thread holds the mutex.
bool PlatRecMutexOwned(const PlatRecMutex* mx);
// Gives up every level held by the caller and returns how many there were.
int32_t PlatRecMutexReleaseAll(PlatRecMutex* mx);
// Takes the mutex again to the given depth.
void PlatRecMutexReacquire(PlatRecMutex* mx, int32_t depth);
