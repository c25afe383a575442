// The registry of per-thread cache records and the take-back handshake.
#include "tcache.h"

#include <sched.h>

#include <cstring>
#include <new>

#include "platform/qx_thread.h"
#include "platform/qx_vmem.h"

__thread ThreadCache* tThreadCache = nullptr;

namespace {

// Every record ever made, newest first; a record whose thread ended is empty
// and goes to the next thread that needs one.  Records are bookkeeping of the
// allocator, taken from the host and never counted in a pool's size.
PlatRecMutex gCacheLock = PLAT_REC_MUTEX_INIT;
ThreadCache* gRecords = nullptr;
int32 gExitSlot = -1;

void OnThreadExit(void* value) {
  ThreadCache* c = static_cast<ThreadCache*>(value);
  if (tThreadCache == c) tThreadCache = nullptr;
  PoolCacheReturn(c);
  MemCacheReturn(c);
  PlatRecMutexLock(&gCacheLock);
  c->owned = 0;
  PlatRecMutexUnlock(&gCacheLock);
}

ThreadCache* NewRecord() {
  uInt32 size = (sizeof(ThreadCache) + kPlatPageSize - 1) & ~(kPlatPageSize - 1);
  void* r = PlatReserve(size);
  if (!r) return nullptr;
  if (!PlatCommit(r, size)) {
    PlatRelease(r, size);
    return nullptr;
  }
  ThreadCache* c = new (r) ThreadCache;
  std::memset(static_cast<void*>(c), 0, sizeof *c);
  if (PlatUnderValgrind()) {
    ANNOTATE_BENIGN_RACE_SIZED(&c->busy, sizeof c->busy, "fast-path flag of a thread cache");
    ANNOTATE_BENIGN_RACE_SIZED(&c->stolen, sizeof c->stolen, "take-back flag of a thread cache");
  }
  return c;
}

}  // namespace

ThreadCache* ThreadCacheMake() {
  PlatRecMutexLock(&gCacheLock);
  if (gExitSlot < 0) gExitSlot = PlatThreadExitSlot(OnThreadExit);
  if (gExitSlot < 0) {
    // Without an exit callback a record would outlive its thread unseen.
    PlatRecMutexUnlock(&gCacheLock);
    return nullptr;
  }
  ThreadCache* c = gRecords;
  while (c && c->owned) c = c->next;
  if (!c && (c = NewRecord()) != nullptr) {
    c->next = gRecords;
    gRecords = c;
  }
  if (c) c->owned = 1;
  PlatRecMutexUnlock(&gCacheLock);
  if (!c) return nullptr;
  PlatThreadSetExitValue(gExitSlot, c);
  tThreadCache = c;
  return c;
}

void ThreadCacheBind(ThreadCache* c, MemPool* pool) {
  PlatRecMutexLock(&gCacheLock);
  c->pool = pool;
  PlatRecMutexUnlock(&gCacheLock);
}

void ThreadCacheTakeBack(bool (*want)(ThreadCache*, void*), void (*take)(ThreadCache*, void*), void* arg) {
  PlatRecMutexLock(&gCacheLock);
  bool any = false;
  for (ThreadCache* c = gRecords; c; c = c->next) {
    if (!want(c, arg)) continue;
    __atomic_store_n(&c->stolen, 1u, __ATOMIC_RELAXED);
    any = true;
  }
  if (any) {
    PlatProcessBarrier();
    for (ThreadCache* c = gRecords; c; c = c->next) {
      if (!__atomic_load_n(&c->stolen, __ATOMIC_RELAXED)) continue;
      // The owner is inside a few loads and stores of its fast path at most.
      for (int32 spins = 0; __atomic_load_n(&c->busy, __ATOMIC_ACQUIRE); ++spins) {
        if (spins < 64) __builtin_ia32_pause(); else sched_yield();
      }
      if (PlatUnderValgrind()) ANNOTATE_HAPPENS_AFTER(&c->busy);
      take(c, arg);
      if (PlatUnderValgrind()) ANNOTATE_HAPPENS_BEFORE(&c->stolen);
      __atomic_store_n(&c->stolen, 0u, __ATOMIC_RELEASE);
    }
  }
  PlatRecMutexUnlock(&gCacheLock);
}

void ThreadCacheRelease() {
  ThreadCache* c = tThreadCache;
  if (!c) return;
  PoolCacheReturn(c);
  MemCacheReturn(c);
}
