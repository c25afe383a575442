// Per-thread caches of the pool allocator and the memory manager.
//
// Each thread that allocates from a serialised pool gets a record holding a
// few free blocks of one pool (fixed-size slots, and small medium blocks by
// size) and a few free master pointers of each zone.  Its owner takes and
// puts blocks there without any lock or atomic read-modify-write; the record
// is filled and emptied in batches under the pool's lock (or the
// master-pointer mutex), so a lock is taken once per batch.
//
// Another thread takes a record's contents back (a "thief": statistics,
// shrinking, disposing, an allocation about to fail) by this handshake:
//   owner:  busy = 1; (compiler barrier) if stolen: busy = 0, take the locked
//           path; else work on the record; busy = 0
//   thief:  stolen = 1; process-wide barrier; wait until busy == 0; work on
//           the record; stolen = 0
// The barrier (PlatProcessBarrier) orders the owner's store of busy before
// its load of stolen without a fence on the owner's side, so the two never
// both go on.  A thief holds the registry lock for the whole take-back, so
// there is one thief at a time; the owner never takes a lock while busy.
//
// Outside busy, the owner touches the pool part only under the bound pool's
// lock and the master-pointer part only under the master-pointer mutex, the
// same locks every thief of those parts holds.
//
// Lock order: a pool's lock or the master-pointer mutex, then the registry
// lock, then the block-mark lock.
#pragma once
#include "extcode.h"
#include "platform/qx_mutex.h"

#include <valgrind/helgrind.h>

struct MemPool;

// Bounds of a thread's caches.
constexpr uInt32 kFixedCacheCap = 128;   // fixed-size slots
constexpr uInt32 kFixedBatch = 64;       // slots moved per fill or empty
constexpr uInt32 kMedBins = 48;          // medium blocks of 12 to 200 bytes, one bin per size
// Block bytes of all medium bins together: a deep copy of some ten thousand
// short strings is made again from what its disposal cached.
constexpr uInt32 kMedCacheBytes = 1024 * 1024;
constexpr uInt32 kMedBatchFirst = 8;     // blocks of a bin's first fill; each fill doubles it
constexpr uInt32 kMedBatchMax = 128;
constexpr uInt32 kMasterCacheCap = 64;   // master pointers per zone
constexpr uInt32 kMasterBatch = 32;

struct ThreadCache {
  uInt32 busy;            // written by the owner only
  uInt32 stolen;          // written by a thief only, under the registry lock
  ThreadCache* next;      // registry of every record made
  uInt32 owned;           // a live thread owns the record
  MemPool* pool;          // the pool the block part belongs to, or NULL
  uInt32 nFixed;
  uInt32 nMed[kMedBins];
  uInt32 medBytes;        // block bytes the medium bins hold
  void* medHead[kMedBins];  // a bin's blocks, linked through their first word
  uInt8 medBatch[kMedBins]; // blocks the next fill of a bin takes (0: the first)
  uInt32 nMasters[2];     // 0 the application zone, 1 the data zone
  void* fixed[kFixedCacheCap];
  uInt32* masters[2][kMasterCacheCap];
};

// The calling thread's record (made on first use); NULL when none can be had.
extern __thread ThreadCache* tThreadCache;
ThreadCache* ThreadCacheMake();
inline ThreadCache* ThreadCacheMine() {
  ThreadCache* c = tThreadCache;
  return c ? c : ThreadCacheMake();
}

// The owner enters its fast path; false when a thief holds the record, and
// the caller takes the locked path.
inline bool ThreadCacheEnter(ThreadCache* c) {
  __atomic_store_n(&c->busy, 1u, __ATOMIC_RELAXED);
  __atomic_signal_fence(__ATOMIC_SEQ_CST);
  if (__atomic_load_n(&c->stolen, __ATOMIC_ACQUIRE)) {
    __atomic_store_n(&c->busy, 0u, __ATOMIC_RELEASE);
    return false;
  }
  if (__builtin_expect(PlatUnderValgrind(), 0)) ANNOTATE_HAPPENS_AFTER(&c->stolen);
  return true;
}

inline void ThreadCacheLeave(ThreadCache* c) {
  if (__builtin_expect(PlatUnderValgrind(), 0)) ANNOTATE_HAPPENS_BEFORE(&c->busy);
  __atomic_store_n(&c->busy, 0u, __ATOMIC_RELEASE);
}

// Takes back records from their owners: under the registry lock, every record
// for which want(record, arg) holds is claimed, its owner let out of its fast
// path, then take(record, arg) is called on each and the records are given
// back.  The caller holds the lock that guards the part take() touches.
void ThreadCacheTakeBack(bool (*want)(ThreadCache*, void*), void (*take)(ThreadCache*, void*), void* arg);

// Binds the calling thread's record to a pool under the registry lock.
void ThreadCacheBind(ThreadCache* c, MemPool* pool);

// Called at a thread's exit with its record, by the thread's exit callback:
// the pool part and the master-pointer part go back, then the record is
// kept for the next thread.
void PoolCacheReturn(ThreadCache* c);
void MemCacheReturn(ThreadCache* c);
// Gives the calling thread's caches back now (its exit does the same).
void ThreadCacheRelease();
