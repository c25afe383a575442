// The memory manager: handles and pointers in the application zone (AZ) and
// the data zone (DS), both drawing on the pool allocator's default pool.
//
// A handle is the address of a master pointer.  Master pointers come 10,000
// at a time in fixed blocks of 40,004 bytes (a link word, then the slots); a
// free slot holds the address of the next free slot with bit 0 set.  A
// handle's data lies 16 bytes into a pool block whose header holds a reserved
// word, the logical size, the state word and the address of the master
// pointer (the back link).
#include "memory.h"

#include <atomic>
#include <cstring>

#include "blockmove.h"
#include "counted_strings.h"
#include "debug.h"
#include "pool.h"
#include "pool_large.h"
#include "tcache.h"
#include "walert.h"
#include "thread.h"

#include <valgrind/helgrind.h>

namespace {

constexpr uInt32 kZoneSignature = 0x43555242;  // "CURB"
constexpr int32 kSlotsPerBlock = 10000;
// One block of master pointers: a link to the zone's next block, then the slots.
struct MasterPointerBlock {
  MasterPointerBlock* next;
  uInt32 slots[kSlotsPerBlock];
};
constexpr uInt32 kMPBlockSize = sizeof(MasterPointerBlock);
static_assert(kMPBlockSize == 40004, "master-pointer block layout");
constexpr uInt32 kHandleHeader = 16;
constexpr int32 kInitialAZBlocks = 5;
constexpr int32 kInitialDSBlocks = 2;
constexpr uInt32 kDefaultPoolFloor = 8u << 20;
// The largest size whose block, with the handle header, stays below 2^31.
constexpr uInt32 kMaxHandleSize = 0x7FFFFFFFu - kHandleHeader;

struct MemZone {
  uInt32 sig;
  uInt8* blocks;       // newest first; a block's first word links to the next
  uInt8* cache[2];     // master-pointer blocks most recently found by the handle check
  uInt32* freeHead;    // the first free master pointer, or NULL
  MemFullProc fullProc;
  int32 nBlocks;
  int32 nFree;
  MemPool* pool;
};

// The header in front of a handle's data.
struct HandleHeader {
  uInt32 reserved;
  uInt32 size;
  uInt32 state;
  uInt32* master;
};
static_assert(sizeof(HandleHeader) == kHandleHeader, "handle header is four words");

// Reports an invalid handle with the caller's line and answers 3.
#define BadHandle() (QX_REPORT_ERR(kZoneErr, "invalid handle"), kZoneErr)

MemZone* gAZ = nullptr;
MemZone* gDS = nullptr;
std::atomic<uInt32> gCacheCounter{0};  // shared by both zones; its low bit picks the entry

ThMutex gMPMutex = nullptr;    // master pointers; NULL until MemInit makes it
ThMutex gFullMutex = nullptr;  // memory-full state

int32 gFailedSize = 0;
int32 gFailedCompanion = 0;
CPStrHandle gFullTexts = nullptr;
std::atomic<Bool32> gChecking{0};
std::atomic<Bool32> gInitialised{0};
std::atomic<Bool32> gCompactRequested{0};
std::atomic<MemInitHook> gDataSpaceHook{nullptr};
// Test tooling: allocations and resizes still to go before they are made to
// fail (0: none is), and how many fail from there on (-1: every one until
// disarmed).
std::atomic<int32> gFailCountdown{0};
std::atomic<int32> gFailRun{0};

const uInt8 kBuiltInFullText[] = "\055Not enough memory to complete this operation.";
static_assert(sizeof(kBuiltInFullText) == 45 + 2, "length byte matches the text");

// A mutex that does not exist yet is not taken.
struct Guard {
  ThMutex m;
  explicit Guard(ThMutex mx) : m(mx) { ThMutexLock(m); }
  ~Guard() { ThMutexUnlock(m); }
};

inline MemZone* Zone(bool ds) { return ds ? gDS : gAZ; }

inline HandleHeader* HeaderOf(UPtr data) { return reinterpret_cast<HandleHeader*>(data - kHandleHeader); }

inline uInt8* LoadBlocks(MemZone* z) { return __atomic_load_n(&z->blocks, __ATOMIC_ACQUIRE); }
inline uInt8* NextBlock(uInt8* b) {
  uInt8* n;
  __atomic_load(reinterpret_cast<uInt8**>(b), &n, __ATOMIC_ACQUIRE);
  return n;
}

inline bool BlockHolds(const uInt8* block, uintptr_t v) {
  uintptr_t b = reinterpret_cast<uintptr_t>(block);
  return v > b && v <= b + (kMPBlockSize - 4) && ((v - b) & 3) == 0;
}

// A handle is valid for a zone when it is a slot of one of the zone's
// master-pointer blocks that holds a non-zero even address.
inline __attribute__((always_inline)) bool IsValidHandle(MemZone* z, const void* h) {
  if (!z || !h) return false;
  uintptr_t v = reinterpret_cast<uintptr_t>(h);
  uInt8* found = nullptr;
  for (int i = 0; i < 2 && !found; ++i) {
    uInt8* c = __atomic_load_n(&z->cache[i], __ATOMIC_RELAXED);
    if (c && BlockHolds(c, v)) found = c;
  }
  if (!found) {
    for (uInt8* b = LoadBlocks(z); b; b = NextBlock(b)) {
      if (BlockHolds(b, v)) {
        found = b;
        uInt32 n = gCacheCounter.fetch_add(1, std::memory_order_relaxed);
        __atomic_store_n(&z->cache[n & 1], b, __ATOMIC_RELAXED);
        break;
      }
    }
    if (!found) return false;
  }
  uInt32 slot = __atomic_load_n(reinterpret_cast<const uInt32*>(h), __ATOMIC_RELAXED);
  return slot != 0 && (slot & 1) == 0;
}

// The failure handler: records the first failed size and tells the caller to give up.
inline void Failed(int32 size) { MemNoteFailure(size); }

// True when the allocation under way is one the test hook makes fail: the
// countdown passes allocations until it stands at 1, then the run fails them.
bool InjectedFailure() {
  int32 n = gFailCountdown.load(std::memory_order_acquire);
  while (n > 1) {
    if (gFailCountdown.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel)) return false;
  }
  if (n != 1) return false;
  int32 left = gFailRun.load(std::memory_order_relaxed);
  while (left != 0) {
    if (left < 0) return true;
    if (gFailRun.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) return true;
  }
  return false;
}

// Verifies the free chain: exactly nFree links, ending in the NULL link.
// Called under the master-pointer mutex; gives the text of the fault found,
// which the caller reports once it has let the mutex go.
const char* FreeChainFault(MemZone* z) {
  if (z->nFree < 0) return "negative count of free master pointers";
  uInt32* p = z->freeHead;
  for (int32 i = 0; i < z->nFree; ++i) {
    if (!p) return "free master-pointer chain is too short";
    p = reinterpret_cast<uInt32*>(uintptr_t(*p & ~1u));
  }
  return p ? "free master-pointer chain is too long" : nullptr;
}

inline void ReportFault(const char* fault) {
  if (fault) DBAssert(__FILE__, __LINE__, fault);
}

// Adds a master-pointer block to the zone; under the master-pointer mutex
// (or before it exists).  The caller records a failure.
MgErr AddMasterBlockLocked(MemZone* z) {
  uInt8* block = static_cast<uInt8*>(PoolAlloc(z->pool, kMPBlockSize, 0));
  if (!block) return kMemFullErr;
  // Slot contents are read by the unlocked handle check of other threads.
  ANNOTATE_BENIGN_RACE_SIZED(block, kMPBlockSize, "master pointers");
  uInt32* slots = reinterpret_cast<uInt32*>(block + 4);
  for (int32 i = 0; i < kSlotsPerBlock - 1; ++i) slots[i] = uInt32(uintptr_t(&slots[i + 1])) | 1u;
  slots[kSlotsPerBlock - 1] = uInt32(uintptr_t(z->freeHead)) | 1u;
  uInt8* head = z->blocks;
  std::memcpy(block, &head, sizeof head);
  __atomic_store_n(&z->blocks, block, __ATOMIC_RELEASE);
  z->freeHead = slots;
  z->nFree += kSlotsPerBlock;
  z->nBlocks += 1;
  return kNoErr;
}

MgErr AddMasterBlock(MemZone* z) {
  MgErr err;
  {
    Guard g(gMPMutex);
    err = AddMasterBlockLocked(z);
  }
  if (err) Failed(int32(kMPBlockSize));
  return err;
}

// ---- Cached master pointers ----------------------------------------------------------
//
// A thread keeps up to 64 free master pointers of each zone (tcache.h): they
// leave the zone's free chain and its free count in batches of 32 under the
// master-pointer mutex, and go back the same way when the cache is full, when
// the thread ends, or when MemZoneCounts or MemShutdown takes every cache
// back.  A cached slot holds 1, an odd value like every free slot, so a
// disposed handle stays invalid.  The free chain and the free count agree at
// every moment, so the checking-mode verification holds as it is; checking
// mode takes master pointers from the chain itself.

inline int32 ZoneIndex(const MemZone* z) { return z == gDS ? 1 : 0; }

// A record's count of cached master pointers of a zone.  A thief reads it
// (WantsMasters) while the owner may change it in its fast path: both sides
// use relaxed atomic loads and stores, plain moves on i386, so the fast path
// gains no locked instruction.
inline uInt32 Masters(const ThreadCache* c, int32 zi) { return __atomic_load_n(&c->nMasters[zi], __ATOMIC_RELAXED); }
inline void SetMasters(ThreadCache* c, int32 zi, uInt32 n) { __atomic_store_n(&c->nMasters[zi], n, __ATOMIC_RELAXED); }
inline uInt32* PopMaster(ThreadCache* c, int32 zi) {
  uInt32 n = Masters(c, zi) - 1;
  SetMasters(c, zi, n);
  return c->masters[zi][n];
}
inline void PushMaster(ThreadCache* c, int32 zi, uInt32* mp) {
  uInt32 n = Masters(c, zi);
  c->masters[zi][n] = mp;
  SetMasters(c, zi, n + 1);
}

// Gives n cached master pointers of a zone back to its chain; under the mutex.
void UncacheMasters(ThreadCache* c, int32 zi, uInt32 n) {
  MemZone* z = zi ? gDS : gAZ;
  for (uInt32 i = 0; i < n && Masters(c, zi); ++i) {
    uInt32* mp = PopMaster(c, zi);
    __atomic_store_n(mp, uInt32(uintptr_t(z->freeHead)) | 1u, __ATOMIC_RELAXED);
    z->freeHead = mp;
    z->nFree += 1;
  }
}

bool WantsMasters(ThreadCache* c, void*) { return Masters(c, 0) || Masters(c, 1); }
void TakeMasters(ThreadCache* c, void*) {
  UncacheMasters(c, 0, kMasterCacheCap);
  UncacheMasters(c, 1, kMasterCacheCap);
}

// Every thread's cached master pointers back to the chains; under the mutex.
void TakeBackMasters() { ThreadCacheTakeBack(WantsMasters, TakeMasters, nullptr); }

// Gives the zone's free chain a master pointer when it has none: a new block,
// or, when the pool cannot give one (its ceiling), the master pointers that
// other threads keep in their caches.  Under the mutex; false when neither
// gave any.
bool FillChainLocked(MemZone* z) {
  if (z->freeHead || AddMasterBlockLocked(z) == kNoErr) return true;
  TakeBackMasters();
  return z->freeHead != nullptr;
}

// The fast path: a master pointer of the calling thread's cache, or NULL.
inline uInt32* CachedMaster(ThreadCache* c, int32 zi) {
  if (!c || !ThreadCacheEnter(c)) return nullptr;
  uInt32* mp = Masters(c, zi) ? PopMaster(c, zi) : nullptr;
  ThreadCacheLeave(c);
  return mp;
}

// Takes a master pointer off the free chain; NULL when none can be had.
uInt32* TakeMaster(MemZone* z) {
  bool checking = gChecking.load(std::memory_order_relaxed);
  int32 zi = ZoneIndex(z);
  if (!checking) {
    if (uInt32* mp = CachedMaster(tThreadCache, zi)) {
      __atomic_store_n(mp, 0u, __ATOMIC_RELAXED);
      return mp;
    }
    if (ThreadCache* c = ThreadCacheMine()) {
      uInt32* mp = nullptr;
      {
        Guard g(gMPMutex);
        // The fast path is refused while a thief of the pool holds the record;
        // its master pointers, which the mutex guards, are still there.
        if (Masters(c, zi)) {
          mp = PopMaster(c, zi);
        } else {
          while (Masters(c, zi) < kMasterBatch) {
            // A new block only when the chain has none for the caller.
            if (!z->freeHead && (mp || !FillChainLocked(z))) break;
            uInt32* s = z->freeHead;
            z->freeHead = reinterpret_cast<uInt32*>(uintptr_t(*s & ~1u));
            z->nFree -= 1;
            __atomic_store_n(s, 1u, __ATOMIC_RELAXED);
            if (!mp)
              mp = s;
            else
              PushMaster(c, zi, s);
          }
        }
      }
      if (!mp) {
        Failed(int32(kMPBlockSize));
        return nullptr;
      }
      __atomic_store_n(mp, 0u, __ATOMIC_RELAXED);
      return mp;
    }
  }
  const char* before = nullptr;
  const char* after = nullptr;
  uInt32* mp = nullptr;
  {
    Guard g(gMPMutex);
    if (checking) before = FreeChainFault(z);
    if (FillChainLocked(z)) {
      mp = z->freeHead;
      z->freeHead = reinterpret_cast<uInt32*>(uintptr_t(*mp & ~1u));
      z->nFree -= 1;
      if (checking) after = FreeChainFault(z);
      __atomic_store_n(mp, 0u, __ATOMIC_RELAXED);
    }
  }
  ReportFault(before);
  ReportFault(after);
  if (!mp) Failed(int32(kMPBlockSize));
  return mp;
}

void ReturnMaster(MemZone* z, uInt32* mp) {
  if (!gChecking.load(std::memory_order_relaxed)) {
    int32 zi = ZoneIndex(z);
    __atomic_store_n(mp, 1u, __ATOMIC_RELAXED);
    ThreadCache* c = tThreadCache;
    if (c && ThreadCacheEnter(c)) {
      bool kept = Masters(c, zi) < kMasterCacheCap;
      if (kept) PushMaster(c, zi, mp);
      ThreadCacheLeave(c);
      if (kept) return;
    }
    if (c) {
      Guard g(gMPMutex);
      UncacheMasters(c, zi, kMasterBatch);
      if (Masters(c, zi) < kMasterCacheCap) {
        PushMaster(c, zi, mp);
        return;
      }
    }
  }
  Guard g(gMPMutex);
  __atomic_store_n(mp, uInt32(uintptr_t(z->freeHead)) | 1u, __ATOMIC_RELAXED);
  z->freeHead = mp;
  z->nFree += 1;
}

UHandle NewHandle(bool ds, int32 size, bool clear) {
  MemZone* z = Zone(ds);
  if (!z) return nullptr;
  if (uInt32(size) > kMaxHandleSize) {
    // Blocks of 2^31 bytes and more are beyond what a zone holds.
    Failed(size);
    return nullptr;
  }
  if (InjectedFailure()) {
    Failed(size);
    return nullptr;
  }
  uInt32* mp = TakeMaster(z);
  uInt8* block = mp ? static_cast<uInt8*>(PoolAlloc(z->pool, uInt32(size) + kHandleHeader, 0)) : nullptr;
  if (!block) {
    if (mp) {
      ReturnMaster(z, mp);
      Failed(size);
    }
    return nullptr;
  }
  HandleHeader* hdr = reinterpret_cast<HandleHeader*>(block);
  hdr->size = uInt32(size);
  hdr->state = 0;
  hdr->master = mp;
  UPtr data = block + kHandleHeader;
  if (clear) std::memset(data, 0, size_t(size));
  __atomic_store_n(mp, uInt32(uintptr_t(data)), __ATOMIC_RELAXED);
  if (!ds && gChecking.load(std::memory_order_relaxed)) {
    QX_ASSERT((uintptr_t(mp) & 3) == 0 && (uintptr_t(data) & 3) == 0);
    AZHeapCheck(0);
  }
  return reinterpret_cast<UHandle>(mp);
}

UPtr NewPtr(bool ds, int32 size, bool clear) {
  if (size < 0) {
    Failed(size);
    return nullptr;
  }
  uInt32 n = size < 1 ? 1u : uInt32(size);
  MemZone* z = Zone(ds);
  MemPool* pool = z ? z->pool : PoolInitDefault();
  UPtr p = InjectedFailure() ? nullptr : static_cast<UPtr>(PoolAlloc(pool, n, clear ? 1 : 0));
  if (!p) {
    Failed(size);
    return nullptr;
  }
  if (!ds && gChecking.load(std::memory_order_relaxed)) {
    QX_ASSERT((uintptr_t(p) & 3) == 0);
    AZHeapCheck(0);
  }
  return p;
}

MgErr DisposeHandle(bool ds, UHandle h) {
  MemZone* z = Zone(ds);
  if (!IsValidHandle(z, h)) return BadHandle();
  uInt32* mp = reinterpret_cast<uInt32*>(h);
  // A master pointer that names no block of the pool stays as it is.
  if (!PoolFree(*h - kHandleHeader)) return BadHandle();
  ReturnMaster(z, mp);
  return kNoErr;
}

inline __attribute__((always_inline)) int32 GetHandleSize(bool ds, UHandle h) {
  if (!IsValidHandle(Zone(ds), h)) {
    QX_REPORT_ERR(kZoneErr, "invalid handle");
    return -1;
  }
  return int32(HeaderOf(*h)->size);
}

// Resizes a valid handle; 2 when the pool cannot give the block, 3 when the
// pool refuses the handle's block (handle unchanged either way).
inline __attribute__((always_inline)) MgErr ResizeHandle(UHandle h, int32 size, bool clear) {
  HandleHeader* hdr = HeaderOf(*h);
  uInt32 old = hdr->size;
  if (old == uInt32(size)) return kNoErr;
  uInt32 bytes = uInt32(size) + kHandleHeader;
  if (uInt32(size) > kMaxHandleSize) {
    Failed(int32(bytes));
    return kMemFullErr;
  }
  PoolClearLastError();
  uInt8* block;
  if (InjectedFailure())
    block = nullptr;
#if !defined(QX_POOL_ASAN)
  // A large block that keeps its pages, without the pool's general path (the
  // sanitizer build's path also marks the bytes past the new size).
  else if (uInt32 former; pool_large::ResizeInPlace(hdr, bytes, &former))
    block = reinterpret_cast<uInt8*>(hdr);
#endif
  else
    block = static_cast<uInt8*>(PoolRealloc(hdr, bytes, 0));
  if (!block) {
    if (PoolLastError() == MEM_BAD_POINTER) return BadHandle();
    Failed(int32(bytes));
    return kMemFullErr;
  }
  hdr = reinterpret_cast<HandleHeader*>(block);
  hdr->size = uInt32(size);
  UPtr data = block + kHandleHeader;
  __atomic_store_n(reinterpret_cast<uInt32*>(h), uInt32(uintptr_t(data)), __ATOMIC_RELAXED);
  if (clear && uInt32(size) > old) std::memset(data + old, 0, uInt32(size) - old);
  return kNoErr;
}

MgErr SetHandleSize(bool ds, UHandle h, int32 size, bool clear) {
  MemZone* z = Zone(ds);
  if (!IsValidHandle(z, h)) return BadHandle();
  if (size < 0) return kArgErr;
  return ResizeHandle(h, size, clear);
}

MgErr HandToHand(bool ds, UHandle* hp) {
  MemZone* z = Zone(ds);
  if (!hp || !IsValidHandle(z, *hp)) {
    QX_REPORT_ERR(kZoneErr, "invalid handle");
    if (!ds && hp) *hp = nullptr;
    return kZoneErr;
  }
  UHandle src = *hp;
  int32 size = int32(HeaderOf(*src)->size);
  UHandle dst = NewHandle(ds, size, false);
  if (!dst) {
    *hp = nullptr;
    return kMemFullErr;
  }
  if (size) std::memcpy(*dst, *src, size_t(size));
  *hp = dst;
  return kNoErr;
}

MgErr PtrToHand(bool ds, const void* src, UHandle* hp, int32 count) {
  if (!hp) return kArgErr;
  UHandle h = NewHandle(ds, count, false);
  *hp = h;
  if (!h) return kMemFullErr;
  if (count > 0 && src) MoveBlock(src, *h, count);
  return kNoErr;
}

MgErr PtrToXHand(bool ds, const void* src, UHandle h, int32 count) {
  MgErr err = SetHandleSize(ds, h, count, false);
  if (err) return err;
  if (count > 0 && src) MoveBlock(src, *h, count);
  return kNoErr;
}

MgErr PtrAndHand(bool ds, const void* src, UHandle h, int32 count) {
  MemZone* z = Zone(ds);
  if (!IsValidHandle(z, h)) return BadHandle();
  if (count < 0) return kArgErr;
  if (count == 0) return kNoErr;
  int32 old = int32(HeaderOf(*h)->size);
  int64 total = int64(old) + count;
  if (total > 0x7FFFFFFF) {
    Failed(count);
    return kMemFullErr;
  }
  MgErr err = ResizeHandle(h, int32(total), false);
  if (err) return err;
  if (src) MoveBlock(src, *h + old, count);
  return kNoErr;
}

MgErr HandAndHand(bool ds, UHandle src, UHandle dst) {
  MemZone* z = Zone(ds);
  if (!IsValidHandle(z, src) || !IsValidHandle(z, dst))
    return BadHandle();
  int32 add = int32(HeaderOf(*src)->size);
  if (add == 0) return kNoErr;
  int32 old = int32(HeaderOf(*dst)->size);
  int64 total = int64(old) + add;
  if (total > 0x7FFFFFFF) {
    Failed(add);
    return kMemFullErr;
  }
  MgErr err = ResizeHandle(dst, int32(total), false);
  if (err) return err;
  // src may be dst itself: its data moved with the resize.
  MoveBlock(*src, *dst + old, add);
  return kNoErr;
}

UHandle RecoverHandle(bool ds, const void* p) {
  if (!p) {
    QX_REPORT_ERR(kZoneErr, "NULL pointer");
    return nullptr;
  }
  const uInt8* data = static_cast<const uInt8*>(p);
  // Read the back link only when a block of the allocator lies behind it.
  if (!PoolAddressMapped(data - kHandleHeader, kHandleHeader)) {
    DBAssert(__FILE__, __LINE__, "no handle block behind the pointer");
    return nullptr;
  }
  uInt32* mp;
  std::memcpy(&mp, data - 4, sizeof mp);
  if (!IsValidHandle(Zone(ds), mp) || uintptr_t(*mp) != uintptr_t(data)) {
    DBAssert(__FILE__, __LINE__, "back link does not point back");
    return nullptr;
  }
  return reinterpret_cast<UHandle>(mp);
}

MgErr HeapCheck(MemZone* z, bool print, MemStatsRecord* stats) {
  if (!z) return kMemCorruptErr;
  if (gChecking.load(std::memory_order_relaxed)) {
    const char* fault;
    {
      Guard g(gMPMutex);
      fault = FreeChainFault(z);
    }
    ReportFault(fault);
  }
  PoolInfoRecord info;
  PoolInfo(z->pool, nullptr, &info);
  (void)PoolBlockCount(z->pool);
  uInt32 poolSize = PoolSize(z->pool);
  const char* fault = nullptr;
  {
    Guard g(gMPMutex);
    int32 count = 0;
    for (uInt8* b = z->blocks; b && !fault; b = NextBlock(b)) {
      if (++count > z->nBlocks) fault = "master-pointer block list is longer than its count";
    }
    if (!fault && count != z->nBlocks) fault = "master-pointer block list is shorter than its count";
  }
  if (fault) {
    ReportFault(fault);
    return kMemCorruptErr;
  }
  MemStatsRecord local;
  if (!stats && print) stats = &local;
  if (stats) {
    std::memset(stats, 0, sizeof *stats);
    stats->allocTotal = int32(poolSize);
    stats->minusOne = -1;
    stats->zone = z;
  }
  if (print) {
    DBPrintf("Free: totSize %ld, maxSize %ld, nBlocks %ld", stats->freeTotal, stats->freeLargest,
             stats->freeBlocks);
    DBPrintf("Allocated: totSize %ld, maxSize %ld", stats->allocTotal, stats->allocLargest);
    DBPrintf("    nPointers %ld, nUnlockedHdls %ld, nLockedHdls %ld", stats->nPointers,
             stats->nUnlockedHandles, stats->nLockedHandles);
  }
  return kNoErr;
}

// 1 for NULL and for an address the pool refuses (the pool reports it).
MgErr DisposePtr(UPtr p) {
  if (!p) return kArgErr;
  return PoolFree(p) ? kNoErr : kArgErr;
}

MemFullProc SetMemFullProc(bool ds, MemFullProc proc) {
  MemZone* z = Zone(ds);
  if (!z) return nullptr;
  MemFullProc former = z->fullProc;
  z->fullProc = proc;
  return former;
}

MemZone* NewZone(MemPool* pool) {
  MemZone* z = static_cast<MemZone*>(PoolMalloc(sizeof(MemZone)));
  if (!z) return nullptr;
  std::memset(z, 0, sizeof *z);
  z->sig = kZoneSignature;
  z->pool = pool;
  ANNOTATE_BENIGN_RACE_SIZED(&z->blocks, sizeof z->blocks, "block list head, read by the handle check");
  ANNOTATE_BENIGN_RACE_SIZED(z->cache, sizeof z->cache, "handle-check cache");
  return z;
}

}  // namespace

// ---- Zone operations ---------------------------------------------------------------

UHandle AZNewHandle(int32 size) { return NewHandle(false, size, false); }
UHandle AZNewHClr(int32 size) { return NewHandle(false, size, true); }
UPtr AZNewPtr(int32 size) { return NewPtr(false, size, false); }
UPtr AZNewPClr(int32 size) { return NewPtr(false, size, true); }
MgErr AZDisposeHandle(UHandle h) { return DisposeHandle(false, h); }
MgErr AZDisposePtr(UPtr p) { return DisposePtr(p); }
int32 AZGetHandleSize(UHandle h) { return GetHandleSize(false, h); }
MgErr AZHandToHand(UHandle* hp) { return HandToHand(false, hp); }
MgErr AZPtrToHand(const void* src, UHandle* hp, int32 count) { return PtrToHand(false, src, hp, count); }
MgErr AZPtrToXHand(const void* src, UHandle h, int32 count) { return PtrToXHand(false, src, h, count); }
MgErr AZPtrAndHand(const void* src, UHandle h, int32 count) { return PtrAndHand(false, src, h, count); }
MgErr AZHandAndHand(UHandle src, UHandle dst) { return HandAndHand(false, src, dst); }
UHandle AZRecoverHandle(const void* p) { return RecoverHandle(false, p); }
MgErr AZCheckHandle(const void* h) { return IsValidHandle(Zone(false), h) ? kNoErr : kZoneErr; }
MgErr AZCheckPtr(const void* p) { return p ? kNoErr : kZoneErr; }
MemFullProc AZSetMemFullProc(MemFullProc proc) { return SetMemFullProc(false, proc); }
MemFullProc AZMemFullProc() {
  MemZone* z = Zone(false);
  return z ? z->fullProc : nullptr;
}
MgErr AZMoreMasters() { return Zone(false) ? AddMasterBlock(Zone(false)) : kMemFullErr; }
MgErr AZMemStats(MemStatsRecord* stats) { return HeapCheck(Zone(false), false, stats); }
int32 AZMaxMem() { return 0; }

UHandle DSNewHandle(int32 size) { return NewHandle(true, size, false); }
UHandle DSNewHClr(int32 size) { return NewHandle(true, size, true); }
UPtr DSNewPtr(int32 size) { return NewPtr(true, size, false); }
UPtr DSNewPClr(int32 size) { return NewPtr(true, size, true); }
MgErr DSDisposeHandle(UHandle h) { return DisposeHandle(true, h); }
MgErr DSDisposePtr(UPtr p) { return DisposePtr(p); }
int32 DSGetHandleSize(UHandle h) { return GetHandleSize(true, h); }
MgErr DSHandToHand(UHandle* hp) { return HandToHand(true, hp); }
MgErr DSPtrToHand(const void* src, UHandle* hp, int32 count) { return PtrToHand(true, src, hp, count); }
MgErr DSPtrToXHand(const void* src, UHandle h, int32 count) { return PtrToXHand(true, src, h, count); }
MgErr DSPtrAndHand(const void* src, UHandle h, int32 count) { return PtrAndHand(true, src, h, count); }
MgErr DSHandAndHand(UHandle src, UHandle dst) { return HandAndHand(true, src, dst); }
UHandle DSRecoverHandle(const void* p) { return RecoverHandle(true, p); }
MgErr DSCheckHandle(const void* h) { return IsValidHandle(Zone(true), h) ? kNoErr : kZoneErr; }
int32 DSHandleSizeOrNone(const void* h) {
  if (!IsValidHandle(Zone(true), h)) return -1;
  const UPtr p = *static_cast<const UPtr*>(h);
  return p ? int32(HeaderOf(p)->size) : -1;
}
MgErr DSCheckPtr(const void* p) { return p ? kNoErr : kZoneErr; }
MemFullProc DSSetMemFullProc(MemFullProc proc) { return SetMemFullProc(true, proc); }
MgErr DSMoreMasters() { return Zone(true) ? AddMasterBlock(Zone(true)) : kMemFullErr; }
MgErr DSMemStats(MemStatsRecord* stats) { return HeapCheck(Zone(true), false, stats); }
int32 DSMaxMem() { return 0; }


MgErr AZSetHandleSize(UHandle h, int32 size) { return SetHandleSize(false, h, size, false); }
MgErr DSSetHandleSize(UHandle h, int32 size) { return SetHandleSize(true, h, size, false); }
MgErr DSSetHSzClr(UHandle h, int32 size) { return SetHandleSize(true, h, size, true); }
MgErr DSSetCheckedHandleSize(UHandle h, int32 size, Bool32 clear) {
  return size < 0 ? kArgErr : ResizeHandle(h, size, clear != 0);
}

MgErr AZSetHSzClr(UHandle h, int32 size) {
  if (!IsValidHandle(gAZ, h)) return BadHandle();
  if (size < 0) return kArgErr;
  int32 old = int32(HeaderOf(*h)->size);
  if (old == size) return kNoErr;
  MgErr err = ResizeHandle(h, size, false);
  if (err) return err;
  if (size > old) std::memset(*h + old, 0, size_t(size - old));
  return kNoErr;
}

MgErr AZHeapCheck(Bool32 print) { return HeapCheck(gAZ, print != 0, nullptr); }

MgErr DSHeapCheck(Bool32 print) {
  MgErr err = HeapCheck(gDS, print != 0, nullptr);
  UPtr p = DSNewPtr(2);
  if (p) DSDisposePtr(p);
  return err;
}

MgErr AZHLock(UHandle h) {
  if (!IsValidHandle(gAZ, h)) return kZoneErr;
  HeaderOf(*h)->state |= 1u;
  return kNoErr;
}

MgErr AZHUnlock(UHandle h) {
  if (!IsValidHandle(gAZ, h)) return kZoneErr;
  HeaderOf(*h)->state &= ~1u;
  return kNoErr;
}

int32 AZHGetState(UHandle h) {
  if (!IsValidHandle(gAZ, h)) {
    QX_REPORT_ERR(kZoneErr, "invalid handle");
    return 0;
  }
  return int32(HeaderOf(*h)->state);
}

void AZHSetState(UHandle h, int32 state) {
  if (!IsValidHandle(gAZ, h)) {
    QX_REPORT_ERR(kZoneErr, "invalid handle");
    return;
  }
  HeaderOf(*h)->state = uInt32(state);
}

void AZHPurge(UHandle h) {
  if (!IsValidHandle(gAZ, h)) QX_REPORT_ERR(kZoneErr, "invalid handle");
}

void AZHNoPurge(UHandle h) {
  if (!IsValidHandle(gAZ, h)) QX_REPORT_ERR(kZoneErr, "invalid handle");
}

MgErr AZCompact() {
  if (gChecking.load(std::memory_order_relaxed)) AZHeapCheck(1);
  return kNoErr;
}

// ---- Inside the system ---------------------------------------------------------------

void MemSetDataSpaceInitHook(MemInitHook hook) { gDataSpaceHook.store(hook); }
MemInitHook MemDataSpaceInitHookInUse() { return gDataSpaceHook.load(); }

void MemFailAllocations(int32 n, int32 count) {
  gFailCountdown.store(0, std::memory_order_release);
  if (n <= 0 || count == 0) return;
  gFailRun.store(count < 0 ? -1 : count, std::memory_order_relaxed);
  gFailCountdown.store(n, std::memory_order_release);
}

void MemFailNthAllocation(int32 n) { MemFailAllocations(n, 1); }

MgErr MemInit() {
  // The failure countdown is an atomic every allocating thread reads; the
  // race detector does not model atomics.
  ANNOTATE_BENIGN_RACE_SIZED(&gFailCountdown, sizeof gFailCountdown, "atomic failure countdown");
  ANNOTATE_BENIGN_RACE_SIZED(&gFailRun, sizeof gFailRun, "atomic failure run");
  MemPool* pool = PoolInitDefault();
  if (!pool) return kMemFullErr;
  PoolSetPageSize(pool, 65535);
  PoolRegisterTask();
  PoolSetErrorHandler(nullptr);
  // Pages emptied and filled again in a loop stay with the pool instead of
  // going back to the host and faulting in again each time.
  PoolSetFloor(pool, kDefaultPoolFloor);
  if (gAZ || gDS) {
    // Started again: the threads' cached master pointers go back to the
    // zones they came from before new zones replace them.
    Guard g(gMPMutex);
    TakeBackMasters();
  }
  gAZ = NewZone(pool);
  gDS = NewZone(pool);
  if (!gAZ || !gDS) return kMemFullErr;
  gChecking.store(0);
  for (int32 i = 0; i < kInitialAZBlocks; ++i)
    if (AddMasterBlock(gAZ) != kNoErr) return kMemFullErr;
  for (int32 i = 0; i < kInitialDSBlocks; ++i)
    if (AddMasterBlock(gDS) != kNoErr) return kMemFullErr;
  gInitialised.store(1);
  if (MemInitHook hook = gDataSpaceHook.load()) hook();
  // Lock order: the memory-full mutex, then the master-pointer mutex, then
  // the pool's lock.  The memory-full mutex is held while its alert is shown
  // and its text printed (the debug mutex comes after it); nothing is
  // reported and no failure is recorded under the master-pointer mutex.
  ThMutexCreate(&gMPMutex, nullptr);
  ThMutexCreate(&gFullMutex, nullptr);
  return kNoErr;
}

void MemShutdown() {
  // Only the master-pointer mutex goes; zones and blocks live until the process ends.
  ThMutex m = gMPMutex;
  ThMutexLock(m);
  TakeBackMasters();
  gMPMutex = nullptr;
  ThMutexUnlock(m);
  ThMutexDestroy(m);
}

void MemCacheReturn(ThreadCache* c) {
  if (!Masters(c, 0) && !Masters(c, 1)) return;
  Guard g(gMPMutex);
  TakeMasters(c, nullptr);
}

MgErr AZHandToDSHand(UHandle* hp) {
  if (!hp || !IsValidHandle(gAZ, *hp)) return kArgErr;
  UHandle az = *hp;
  int32 size = int32(HeaderOf(*az)->size);
  UHandle ds = NewHandle(true, size, false);
  if (!ds) return kMemFullErr;
  if (size) std::memcpy(*ds, *az, size_t(size));
  DisposeHandle(false, az);
  *hp = ds;
  return kNoErr;
}

Bool32 AZIsHandle(const void* h) { return IsValidHandle(gAZ, h) ? 1 : 0; }

Bool32 MemIsDSHandle(const void* h) { return IsValidHandle(gDS, h) ? 1 : 0; }

Bool32 MemCheckingOn() { return gChecking.load(std::memory_order_relaxed); }
void MemSetChecking(Bool32 on) { gChecking.store(on != 0); }

void AZRequestCompact() { gCompactRequested.store(1); }

Bool32 MemCompactRequested() { return gCompactRequested.exchange(0); }

int32 MemNoteFailure(int32 size) {
  Guard g(gFullMutex);
  if (gFailedSize == 0) {
    gFailedSize = size == 0 ? 1 : size;
    gFailedCompanion = 0;
  }
  return 0;  // give up: the allocation is not retried
}

Bool32 MemFullPending(int32* record) {
  if (!record) {
    Guard g(gFullMutex);
    return gFailedSize != 0;
  }
  Guard g(gFullMutex);
  if (gFailedSize != 0) {
    record[0] = gFailedCompanion;
    record[1] = gFailedSize;
    record[2] = 0;
    record[3] = 0;
    return 1;
  }
  record[0] = 0;
  record[1] = 0;
  return 0;
}

void MemFullAlert(int32 index, int32 flags) {
  Guard g(gFullMutex);
  if (gFailedSize == 0) return;
  QX_ASSERT((flags & ~7) == 0);
  QX_ASSERT(index >= 0);
  ConstPStr text = kBuiltInFullText;
  if (gFullTexts) {
    if (PStr t = CPStrIndex(gFullTexts, index)) text = t;
  }
  if (flags & 2) DBPrintf("%p", text);
  if (flags & 1) WAlert(text, 1);
  MemFullReset();
}

void MemFullReset() {
  Guard g(gFullMutex);
  gFailedSize = 0;
  gFailedCompanion = 0;
}

void MemSetFullTexts(CPStrHandle list) {
  Guard g(gFullMutex);
  gFullTexts = list;
}

void MemToggleChecking() {
  bool on = gChecking.load();
  DBPrintf("turning memory checking %s", on ? "off" : "on");
  gChecking.store(on ? 0 : 1);
}

void MemZoneCounts(Bool32 ds, int32* nBlocks, int32* nFree) {
  MemZone* z = Zone(ds != 0);
  Guard g(gMPMutex);
  TakeBackMasters();
  if (nBlocks) *nBlocks = z ? z->nBlocks : 0;
  if (nFree) *nFree = z ? z->nFree : 0;
}
