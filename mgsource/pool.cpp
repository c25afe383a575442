// The pool allocator.
//
// Every page starts on a 64 KB boundary with a 28-byte header, so the header
// of the page holding a block is found by clearing the low 16 bits of the
// block's address.  Three size classes:
//   - fixed-size slots: a page carved into slots of the pool's fixed size;
//     a free slot holds the address of the next free slot;
//   - medium blocks: a 16-bit size word (bit 0 used, bit 1 the block before is
//     used) followed by the data; a free block holds its free-list links after
//     the size word and repeats its size in its last 16 bits;
//   - large blocks: a page of their own, the data right after the header.
//
// A map with one word per 64 KB unit of the address space names the pages
// that start there, so an address that is no block is refused without
// reading memory that is not mapped.  For fixed and medium pages the word
// points to the page's block marks, kept outside the page where no overrun of
// a block reaches them: one byte per slot of a fixed page (1 while a caller
// holds the slot), one byte per 8 bytes of a medium page at the unit of each
// used block's data address.  Every free and resize checks the mark first,
// so a block freed twice, an address inside a block and an address between
// blocks are all refused in constant time.
//
// The sanitizer build keeps a poisoned zone after the requested bytes of
// every fixed and medium block: its slots are wider and start 8-byte
// aligned, and medium blocks are asked for that many bytes more.  The normal
// build's layout is the one described above.
#include "pool.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "pool_large.h"

#include "platform/qx_alert.h"
#include "platform/qx_mutex.h"
#include "platform/qx_time.h"
#include "platform/qx_vmem.h"
#include "tcache.h"

#if defined(QX_POOL_ASAN)
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#include <mutex>
// Blocks are 4-byte aligned, so two blocks can share one 8-byte granule of
// the sanitizer's shadow; thread caches poison their blocks without the
// pool's lock while another thread changes a neighbour's header under it.
// The sanitizer updates a granule's shadow by reading and rewriting it, so
// every poisoning of pool memory is serialised by one mutex of its own,
// taken last (never while waiting for another lock).
namespace {
std::mutex& ShadowLock() {
  static std::mutex m;
  return m;
}
}  // namespace
#define QX_POISON(a, n)                                 \
  do {                                                  \
    std::lock_guard<std::mutex> shadowGuard(ShadowLock()); \
    ASAN_POISON_MEMORY_REGION((a), (n));                \
  } while (0)
#define QX_UNPOISON(a, n)                               \
  do {                                                  \
    std::lock_guard<std::mutex> shadowGuard(ShadowLock()); \
    ASAN_UNPOISON_MEMORY_REGION((a), (n));              \
  } while (0)
// The leak checker cannot see the host's mappings: pages are scanned for
// pointers to the C library's blocks as roots.
#define QX_LEAK_ROOT(a, n) __lsan_register_root_region((a), (n))
#define QX_LEAK_UNROOT(a, n) __lsan_unregister_root_region((a), (n))
#else
#define QX_POISON(a, n) ((void)(a), (void)(n))
#define QX_UNPOISON(a, n) ((void)(a), (void)(n))
#define QX_LEAK_ROOT(a, n) ((void)(a), (void)(n))
#define QX_LEAK_UNROOT(a, n) ((void)(a), (void)(n))
#endif

namespace {

constexpr uInt16 kPoolSignature = 0xBEAD;
constexpr uInt16 kPageSignature = pool_large::kPageSignature;
constexpr uInt16 kPageSignatureMask = 0xFFF8;
constexpr uInt32 kPoolPageSize = pool_large::kPageHeader;
constexpr uInt32 kRegionCap = 65535;      // largest fixed or medium page, before rounding
constexpr uInt32 kMediumMinBlock = 12;    // size word, two links, size repeated
constexpr uInt32 kMediumMinRemainder = 16;
constexpr int32 kMaxThreadsInHandler = 25;
constexpr uInt32 kDescChunkSize = 4096;

#if defined(QX_POOL_ASAN)
// Bytes kept poisoned after the requested size of a fixed or medium block; at
// least 13, so that no 8-byte granule holds both the first of them and the
// start of the next block.
constexpr uInt32 kRedzone = 16;
constexpr uInt32 kFixedStart = 32;  // slots 8-byte aligned
#else
constexpr uInt32 kRedzone = 0;
constexpr uInt32 kFixedStart = kPoolPageSize;
#endif

struct PoolPage;

// A page descriptor: 16 bytes, allocated in chunks, linked in the ring of its kind.
struct PageDesc {
  uInt16 largestFree;  // a bound on the largest free block of the page
  uInt16 commitPages;  // 4 KB pages committed for a fixed or medium page
  PoolPage* page;
  PageDesc* next;
  PageDesc* prev;
};
static_assert(sizeof(PageDesc) == 16, "page descriptor is 16 bytes");

typedef void (*PageFreeProc)(PoolPage* page, uInt8* block);

struct PoolPage {
  MemPool* pool;
  PageDesc* desc;
  PageFreeProc freeProc;
  uInt16 used;  // blocks in use
  uInt16 sig;   // kPageSignature | kind
  // Fixed pages: free-slot list, end of the carved area, end of the page.
  // Medium pages: rover (free block to search from), minimum remainder, free list.
  // Large pages: bytes reserved, bytes committed, bytes asked for.
  uInt32 w0, w1, w2;
};
static_assert(sizeof(PoolPage) == kPoolPageSize, "page header is 28 bytes");
static_assert(offsetof(PoolPage, sig) == offsetof(pool_large::PageHead, sig) &&
                  offsetof(PoolPage, w1) == offsetof(pool_large::PageHead, committed) &&
                  offsetof(PoolPage, w2) == offsetof(pool_large::PageHead, length),
              "the inline large-block resize reads the page header");

}  // namespace

struct MemPool {
  PageDesc* rings[5];  // by page kind; the head of kind 1 is the fixed-size rover
  PageDesc* freeDescs;
  uInt8* descChunks;
  uInt16 sig;
  uInt16 flags;
  uInt32 fixedSize;
  uInt16 pageSize;
  uInt16 threshold;
  uInt32 size;
  uInt32 floor;
  uInt32 ceiling;
  int32 (*memFull)(MemPool* pool, uInt32 size);
  MemPool* next;
  PlatRecMutex lock;
  uInt32 stride;       // bytes from one fixed slot to the next: the fixed size, and the poisoned zone
  uInt32 strideShift;  // log2 of the stride when it is a power of two, else 0
  int32 walkers;       // list walks filling a record from the pool; under the list lock
};
static_assert(sizeof(MemPool) <= 4096, "a pool fits its own 4 KB region");

__thread int32 gPoolLastError = 0;
std::atomic<uInt8*> pool_large::gPageMap[65536];

namespace {

// ---- Allocator-wide state ----------------------------------------------------

PlatRecMutex gAllocLock = PLAT_REC_MUTEX_INIT;     // pool list, handler, users, handler threads
PlatRecMutex gDefaultLock = PLAT_REC_MUTEX_INIT;   // the default-pool pointer
MemPool* gPools = nullptr;
std::atomic<MemPool*> gDefaultPool{nullptr};
PoolErrorHandler gHandler = PoolDefaultErrorHandler;
int32 gUsers = 0;
int32 gHandlerThreads[kMaxThreadsInHandler];
int32 gHandlerThreadCount = 0;
// An allocation of a serialised pool about to report error 2 or 7 (or to
// ask the error handler) first takes every thread's cached blocks of the pool
// back; when that gave any, it gives up quietly and the allocation is made
// once more.  0 outside an allocation, 1 may take back, 2 took back (the
// allocation is to be made again), 3 made again.
__thread int32 tReclaim = 0;

uInt32 TakeBackCaches(MemPool* pool, bool discard = false);

inline bool ReclaimInstead(MemPool* pool) {
  if (tReclaim != 1 || TakeBackCaches(pool) == 0) return false;
  tReclaim = 2;
  return true;
}

// One word per 64 KB unit of the 32-bit address space: NULL, or while a page
// starts there its block marks (a large page: kLargeMarks).  Written under the
// pool's lock when a page is made or released, read without it.
using pool_large::gPageMap;
uInt8 kLargeMarks[4];

inline std::atomic<uInt8*>& MapEntry(const void* p) {
  return gPageMap[uInt32(reinterpret_cast<uintptr_t>(p) >> 16)];
}

inline PoolPage* PageOf(const void* block) {
  return reinterpret_cast<PoolPage*>(reinterpret_cast<uintptr_t>(block) & ~uintptr_t(0xFFFF));
}

// The page holding an address, or NULL when no allocator page starts at the
// address's 64 KB unit; nothing is read but the map and the page header.
inline PoolPage* CheckedPageOf(const void* block) {
  PoolPage* pg = PageOf(block);
  if (!MapEntry(pg).load(std::memory_order_acquire)) return nullptr;
  if ((pg->sig & kPageSignatureMask) != kPageSignature) return nullptr;
  if (reinterpret_cast<const uInt8*>(block) < reinterpret_cast<uInt8*>(pg) + kPoolPageSize) return nullptr;
  return pg;
}

inline int32 PageKind(const PoolPage* pg) { return pg->sig & 7; }

inline uInt32 RoundUp(uInt32 v, uInt32 unit) { return (v + unit - 1) & ~(unit - 1); }

inline void SetLastError(int32 code) { gPoolLastError = code; }

struct PoolLock {
  MemPool* pool;
  explicit PoolLock(MemPool* p) : pool(p) {
    if (pool->flags & kPoolSerialized) PlatRecMutexLock(&pool->lock);
  }
  ~PoolLock() {
    if (pool->flags & kPoolSerialized) PlatRecMutexUnlock(&pool->lock);
  }
};

inline bool GoodPool(const MemPool* pool) { return pool && pool->sig == kPoolSignature; }

// GoodPool, reporting error 10 for a record without the pool's signature.
bool CheckedPool(MemPool* pool);

// ---- Host regions --------------------------------------------------------------

// Reserves and commits a region; NULL when the host cannot give it.
uInt8* NewRegion(uInt32 size, bool capped) {
  if (capped && size > kRegionCap) size = kRegionCap;
  void* r = PlatReserve(size);
  if (!r) return nullptr;
  if (!PlatCommit(r, RoundUp(size, kPlatPageSize))) {
    PlatRelease(r, size);
    return nullptr;
  }
  return static_cast<uInt8*>(r);
}

// ---- Descriptors and rings -----------------------------------------------------

PageDesc* NewDesc(MemPool* pool) {
  if (!pool->freeDescs) {
    uInt8* chunk = NewRegion(kDescChunkSize, false);
    if (!chunk) return nullptr;
    std::memcpy(chunk, &pool->descChunks, sizeof(uInt8*));  // chunk chain link
    pool->descChunks = chunk;
    pool->size += kDescChunkSize;
    PageDesc* d = reinterpret_cast<PageDesc*>(chunk) + 1;
    PageDesc* end = reinterpret_cast<PageDesc*>(chunk + kDescChunkSize);
    for (; d < end; ++d) {
      d->next = pool->freeDescs;
      pool->freeDescs = d;
    }
  }
  PageDesc* d = pool->freeDescs;
  pool->freeDescs = d->next;
  std::memset(d, 0, sizeof *d);
  return d;
}

void FreeDesc(MemPool* pool, PageDesc* d) {
  d->page = nullptr;
  d->next = pool->freeDescs;
  pool->freeDescs = d;
}

void RingInsert(MemPool* pool, int32 kind, PageDesc* d) {
  PageDesc*& head = pool->rings[kind];
  if (!head) {
    d->next = d->prev = d;
  } else {
    d->next = head;
    d->prev = head->prev;
    head->prev->next = d;
    head->prev = d;
  }
  head = d;
}

void RingRemove(MemPool* pool, int32 kind, PageDesc* d) {
  PageDesc*& head = pool->rings[kind];
  if (d->next == d) {
    head = nullptr;
  } else {
    d->prev->next = d->next;
    d->next->prev = d->prev;
    if (head == d) head = d->next;
  }
  d->next = d->prev = nullptr;
}

// ---- Pages -----------------------------------------------------------------------

void FixedFree(PoolPage* pg, uInt8* block);
void MediumFree(PoolPage* pg, uInt8* block);
void LargeFree(PoolPage* pg, uInt8* block);

// ---- Block marks -------------------------------------------------------------------
//
// The marks of a page live in a record of a power-of-two size from 512 bytes
// to 16 KB, carved from 64 KB regions and kept on a free list per size when
// their page goes; they are bookkeeping of the allocator and not counted in
// any pool's size.  gMarkLock is taken last: under a pool's lock, never the
// other way round.

constexpr uInt32 kMarkClassMin = 9;   // 512 bytes
constexpr uInt32 kMarkClasses = 6;    // up to 16 KB
PlatRecMutex gMarkLock = PLAT_REC_MUTEX_INIT;
uInt8* gFreeMarks[kMarkClasses];

// The bytes of marks a page of a kind with `committed` bytes needs.
// A medium page's marks cover its whole 64 KB unit, so that any address of
// the unit has a mark to read (0 where no block starts).
inline uInt32 MarkBytes(const MemPool* pool, int32 kind, uInt32 committed) {
  if (kind == kPageFixed) return (committed - kFixedStart) / pool->stride;
  if (kind == kPageMedium) return kPlatRegionUnit / 8;
  return 0;
}

inline uInt32 MarkClass(uInt32 bytes) {
  uInt32 c = 0;
  while ((1u << (kMarkClassMin + c)) < bytes) ++c;
  return c;
}

// Zeroed marks of at least `bytes`; NULL when the host refuses.
uInt8* NewMarks(uInt32 bytes) {
  uInt32 c = MarkClass(bytes);
  if (c >= kMarkClasses) return nullptr;
  uInt32 size = 1u << (kMarkClassMin + c);
  PlatRecMutexLock(&gMarkLock);
  if (!gFreeMarks[c]) {
    uInt8* chunk = NewRegion(kPlatRegionUnit, false);
    for (uInt32 off = 0; chunk && off < kPlatRegionUnit; off += size) {
      std::memcpy(chunk + off, &gFreeMarks[c], sizeof(uInt8*));
      gFreeMarks[c] = chunk + off;
    }
  }
  uInt8* m = gFreeMarks[c];
  if (m) std::memcpy(&gFreeMarks[c], m, sizeof(uInt8*));
  PlatRecMutexUnlock(&gMarkLock);
  if (m) std::memset(m, 0, size);
  return m;
}

void FreeMarks(uInt8* m, uInt32 bytes) {
  uInt32 c = MarkClass(bytes);
  PlatRecMutexLock(&gMarkLock);
  std::memcpy(m, &gFreeMarks[c], sizeof(uInt8*));
  gFreeMarks[c] = m;
  PlatRecMutexUnlock(&gMarkLock);
}

inline uInt32 PageCommitted(const PoolPage* pg) {
  return PageKind(pg) == kPageLarge ? pg->w1 : uInt32(pg->desc->commitPages) * kPlatPageSize;
}

// Makes a page of a kind with `bytes` committed; NULL when the host refuses.
PoolPage* NewPage(MemPool* pool, int32 kind, uInt32 bytes, bool capped) {
  if (capped && bytes > kRegionCap) bytes = kRegionCap;
  uInt32 committed = RoundUp(bytes, kPlatPageSize);
  uInt32 markBytes = MarkBytes(pool, kind, committed);
  PageDesc* d = NewDesc(pool);
  if (!d) return nullptr;
  uInt8* r = NewRegion(bytes, capped);
  uInt8* marks = r && markBytes ? NewMarks(markBytes) : kLargeMarks;
  if (!r || !marks) {
    if (r) PlatRelease(r, bytes);
    FreeDesc(pool, d);
    return nullptr;
  }
  PoolPage* pg = reinterpret_cast<PoolPage*>(r);
  pg->pool = pool;
  pg->desc = d;
  pg->freeProc = kind == kPageFixed ? FixedFree : kind == kPageMedium ? MediumFree : LargeFree;
  pg->used = 0;
  pg->sig = uInt16(kPageSignature | kind);
  pg->w0 = pg->w1 = pg->w2 = 0;
  d->page = pg;
  d->commitPages = uInt16(committed / kPlatPageSize);
  pool->size += committed;
  MapEntry(pg).store(marks, std::memory_order_release);
  QX_LEAK_ROOT(pg, RoundUp(bytes, kPlatRegionUnit));
  return pg;
}

void ReleasePage(MemPool* pool, PoolPage* pg) {
  int32 kind = PageKind(pg);
  PageDesc* d = pg->desc;
  uInt32 committed = PageCommitted(pg);
  uInt32 reserved = kind == kPageLarge ? pg->w0 : committed;
  RingRemove(pool, kind, d);
  FreeDesc(pool, d);
  pool->size -= committed;
  uInt8* marks = MapEntry(pg).exchange(nullptr, std::memory_order_acq_rel);
  if (kind != kPageLarge) FreeMarks(marks, MarkBytes(pool, kind, committed));
  pg->sig = 0;
  QX_UNPOISON(pg, reserved);
  QX_LEAK_UNROOT(pg, RoundUp(reserved, kPlatRegionUnit));
  PlatRelease(pg, reserved);
}

// An empty page is given back unless that would take the pool below its floor.
inline void MaybeReleaseEmpty(MemPool* pool, PoolPage* pg) {
  uInt32 committed = uInt32(pg->desc->commitPages) * kPlatPageSize;
  if (pool->size - committed >= pool->floor) ReleasePage(pool, pg);
}

inline bool WouldExceedCeiling(const MemPool* pool, uInt32 bytes) {
  return pool->ceiling != kPoolNoCeiling && uInt64(pool->size) + bytes > pool->ceiling;
}

// ---- Errors ----------------------------------------------------------------------

// Reports an error without asking for a retry decision.
inline void Report(int32 code, MemPool* pool) { (void)PoolError(code, pool); }

// ---- Fixed-size blocks -------------------------------------------------------------

inline uInt8* FixedStart(PoolPage* pg) { return reinterpret_cast<uInt8*>(pg) + kFixedStart; }

// Pops a slot of the page, or NULL when it is full.
inline uInt8* FixedPop(MemPool* pool, PoolPage* pg) {
  uInt8* slot = reinterpret_cast<uInt8*>(uintptr_t(pg->w0));
  if (slot) {
    QX_UNPOISON(slot, pool->stride);
    uInt8* next;
    std::memcpy(&next, slot, sizeof next);
    pg->w0 = uInt32(uintptr_t(next));
  } else if (pg->w1 + pool->stride <= pg->w2) {
    slot = reinterpret_cast<uInt8*>(uintptr_t(pg->w1));
    pg->w1 += pool->stride;
    QX_UNPOISON(slot, pool->stride);
  } else {
    return nullptr;
  }
  ++pg->used;
  return slot;
}

inline bool FixedHasRoom(const MemPool* pool, const PoolPage* pg) {
  return pg->w0 != 0 || pg->w1 + pool->stride <= pg->w2;
}

PoolPage* AddFixedPage(MemPool* pool) {
  uInt32 size = pool->pageSize;
  for (;;) {
    uInt32 committed = RoundUp(size > kRegionCap ? kRegionCap : size, kPlatPageSize);
    if (WouldExceedCeiling(pool, committed)) {
      if (!ReclaimInstead(pool)) Report(MEM_EXCEEDED_CEILING, pool);
      return nullptr;
    }
    PoolPage* pg = NewPage(pool, kPageFixed, size, true);
    if (pg) {
      uInt8* start = FixedStart(pg);
      pg->w0 = 0;
      pg->w1 = uInt32(uintptr_t(start));
      pg->w2 = uInt32(uintptr_t(reinterpret_cast<uInt8*>(pg) + committed));
      QX_POISON(start, committed - kFixedStart);
      RingInsert(pool, kPageFixed, pg->desc);
      return pg;
    }
    if (size / 2 >= pool->fixedSize + kPoolPageSize) {
      size /= 2;
      continue;
    }
    if (ReclaimInstead(pool) || !PoolError(MEM_OUT_OF_MEMORY, pool)) return nullptr;
    size = pool->pageSize;
  }
}

// The ring of fixed-size pages keeps the pages with free slots together,
// starting at its head (the rover), and the full pages after them: a full
// page is passed over by moving the head past it, and a page that regains a
// slot goes back to the head.  An allocation never walks full pages.
inline uInt8* FixedPopFrom(MemPool* pool, PoolPage* pg) {
  uInt8* slot = FixedPop(pool, pg);
  if (!FixedHasRoom(pool, pg)) pool->rings[kPageFixed] = pg->desc->next;
  return slot;
}

// A slot of a page the pool has, or NULL when every page is full.
inline uInt8* FixedTake(MemPool* pool) {
  PageDesc* head = pool->rings[kPageFixed];
  return head && FixedHasRoom(pool, head->page) ? FixedPopFrom(pool, head->page) : nullptr;
}

uInt8* FixedAlloc(MemPool* pool) {
  if (uInt8* slot = FixedTake(pool)) return slot;
  PoolPage* pg = AddFixedPage(pool);  // every page is full: the new one becomes the head
  return pg ? FixedPopFrom(pool, pg) : nullptr;
}

// The index of the slot at `block` in its page, or -1 when the address is not
// the start of a whole slot of the page.  Reads nothing but the page header.
inline int32 FixedSlotIndex(const MemPool* pool, const PoolPage* pg, const uInt8* block) {
  uInt32 off = uInt32(block - reinterpret_cast<const uInt8*>(pg));
  uInt32 end = pg->w2 - uInt32(uintptr_t(pg));
  if (off < kFixedStart || off + pool->stride > end) return -1;
  uInt32 rel = off - kFixedStart;
  if (pool->strideShift) {
    if (rel & ((1u << pool->strideShift) - 1)) return -1;
    return int32(rel >> pool->strideShift);
  }
  if (rel % pool->stride) return -1;
  return int32(rel / pool->stride);
}

// The index of a slot the page handed out.
inline uInt32 FixedIndexOfSlot(const MemPool* pool, const PoolPage* pg, const uInt8* slot) {
  uInt32 rel = uInt32(slot - reinterpret_cast<const uInt8*>(pg)) - kFixedStart;
  return pool->strideShift ? rel >> pool->strideShift : rel / pool->stride;
}

void FixedFree(PoolPage* pg, uInt8* block) {
  MemPool* pool = pg->pool;
  bool wasFull = !FixedHasRoom(pool, pg);
  QX_UNPOISON(block, sizeof(uInt32));
  std::memcpy(block, &pg->w0, sizeof(uInt32));
  pg->w0 = uInt32(uintptr_t(block));
  QX_POISON(block, pool->stride);
  if (wasFull) {
    // Back among the pages with room, at the head.
    RingRemove(pool, kPageFixed, pg->desc);
    RingInsert(pool, kPageFixed, pg->desc);
  }
  if (--pg->used == 0) MaybeReleaseEmpty(pool, pg);
}

// ---- Medium blocks ---------------------------------------------------------------
//
// A block b (b mod 4 == 2, so that its data is 4-byte aligned):
//   b + 0: size word: size | bit 0 used | bit 1 the block before is used
//   b + 2: data (used), or the next free block of the page (free)
//   b + 6: the previous free block of the page (free)
//   b + size - 2: the size again (free)
// The first block of a page sits at offset 30; a used block of size 0 at the
// page's end stops every walk.

constexpr uInt32 kMediumFirst = kPoolPageSize + 2;

inline uInt16 RdSize(const uInt8* b) {
  uInt16 w;
  std::memcpy(&w, b, 2);
  return w;
}
inline void WrSize(uInt8* b, uInt16 w) {
  QX_UNPOISON(b, 2);
  std::memcpy(b, &w, 2);
}
inline uInt32 BlockSize(const uInt8* b) { return RdSize(b) & ~3u; }
inline bool IsUsed(const uInt8* b) { return RdSize(b) & 1; }
inline bool PrevUsed(const uInt8* b) { return RdSize(b) & 2; }
inline void SetPrevUsed(uInt8* b, bool on) {
  uInt16 w = RdSize(b);
  WrSize(b, on ? uInt16(w | 2) : uInt16(w & ~2));
}
inline uInt8* NextFree(const uInt8* b) {
  uInt8* p;
  std::memcpy(&p, b + 2, sizeof p);
  return p;
}
inline uInt8* PrevFree(const uInt8* b) {
  uInt8* p;
  std::memcpy(&p, b + 6, sizeof p);
  return p;
}
inline void SetNextFree(uInt8* b, uInt8* p) {
  QX_UNPOISON(b + 2, 4);
  std::memcpy(b + 2, &p, sizeof p);
}
inline void SetPrevFree(uInt8* b, uInt8* p) {
  QX_UNPOISON(b + 6, 4);
  std::memcpy(b + 6, &p, sizeof p);
}
inline uInt8* MedFreeHead(PoolPage* pg) { return reinterpret_cast<uInt8*>(uintptr_t(pg->w2)); }

// Writes a free block's size word and trailing size, keeping its prev-used bit.
inline void WriteFreeBlock(uInt8* b, uInt32 size, bool prevUsed) {
  WrSize(b, uInt16(size | (prevUsed ? 2 : 0)));
  WrSize(b + size - 2, uInt16(size));
}

inline void PoisonFree(uInt8* b, uInt32 size) {
  if (size > 12) QX_POISON(b + 10, size - 12);
}

void MedListInsert(PoolPage* pg, uInt8* b) {
  uInt8* head = MedFreeHead(pg);
  SetNextFree(b, head);
  SetPrevFree(b, nullptr);
  if (head) SetPrevFree(head, b);
  pg->w2 = uInt32(uintptr_t(b));
}

void MedListRemove(PoolPage* pg, uInt8* b) {
  uInt8* n = NextFree(b);
  uInt8* p = PrevFree(b);
  if (p)
    SetNextFree(p, n);
  else
    pg->w2 = uInt32(uintptr_t(n));
  if (n) SetPrevFree(n, p);
  if (pg->w0 == uInt32(uintptr_t(b))) pg->w0 = uInt32(uintptr_t(n));
}

inline uInt32 MediumNeed(uInt32 n) {
  uInt32 need = (n + kRedzone + 5) & ~3u;
  return need < kMediumMinBlock ? kMediumMinBlock : need;
}

// The mark of a used medium block: set in the byte for the 8-byte unit of its
// data address, with bit 6 telling which half of the unit it starts in.  The
// data addresses of two blocks are at least 12 bytes apart, so no two share
// a byte.
//
// Its low 6 bits name the block's size class for the threads' caches (1 + the
// bin of a block of 12 to 200 bytes, 0 for larger blocks), so that the fast
// path of a free learns it from the mark it reads anyway and never reads the
// size word, whose prev-used bit the pool changes under its lock.
constexpr uInt8 kMedUsedMark = 0x80;
constexpr uInt8 kMedPlaceBits = 0xC0;
inline uInt8 MedPlaceOf(const uInt8* data) { return uInt8(kMedUsedMark | ((uintptr_t(data) & 4) << 4)); }
inline uInt8 MedBinCode(uInt32 blockSize) {
  uInt32 code = ((blockSize - kMediumMinBlock) >> 2) + 1;
  return code <= kMedBins ? uInt8(code) : 0;
}
// The mark of a used block at data, of blockSize bytes.
inline uInt8 MedMarkOf(const uInt8* data, uInt32 blockSize) { return uInt8(MedPlaceOf(data) | MedBinCode(blockSize)); }
inline uInt8& MedMarkAt(const PoolPage* pg, const uInt8* data) {
  uInt8* marks = MapEntry(pg).load(std::memory_order_relaxed);
  return marks[uInt32(data - reinterpret_cast<const uInt8*>(pg)) >> 3];
}

// True when `data` lies where the data of a medium block can: 4-byte
// aligned, after the page header.  Past the committed part of the page no
// block starts, and its marks there are 0.
inline bool MedDataInPage(const PoolPage* pg, const uInt8* data) {
  uInt32 off = uInt32(data - reinterpret_cast<const uInt8*>(pg));
  return (off & 3) == 0 && off >= kMediumFirst + 2;
}

// The sanitizer build leaves the `n` requested bytes of a block of
// `capacity` bytes addressable and poisons the rest.
inline void ShapeBlock(uInt8* data, uInt32 n, uInt32 capacity) {
  QX_UNPOISON(data, n);
  if (capacity > n) QX_POISON(data + n, capacity - n);
}

inline void RaiseHint(PoolPage* pg, uInt32 size) {
  if (size > pg->desc->largestFree) pg->desc->largestFree = uInt16(size);
}

PoolPage* AddMediumPage(MemPool* pool) {
  uInt32 committed = RoundUp(pool->pageSize > kRegionCap ? kRegionCap : pool->pageSize, kPlatPageSize);
  if (WouldExceedCeiling(pool, committed)) {
    if (!ReclaimInstead(pool)) Report(MEM_EXCEEDED_CEILING, pool);
    return nullptr;
  }
  PoolPage* pg = NewPage(pool, kPageMedium, pool->pageSize, true);
  if (!pg) return nullptr;
  uInt8* base = reinterpret_cast<uInt8*>(pg);
  uInt8* first = base + kMediumFirst;
  uInt8* endMark = base + committed - 2;
  uInt32 size = uInt32(endMark - first);
  pg->w0 = 0;
  pg->w1 = kMediumMinRemainder;
  pg->w2 = 0;
  WriteFreeBlock(first, size, true);
  MedListInsert(pg, first);
  PoisonFree(first, size);
  WrSize(endMark, 1);  // used, size 0, the block before is free
  pg->desc->largestFree = uInt16(size);
  RingInsert(pool, kPageMedium, pg->desc);
  return pg;
}

// Takes `need` bytes out of free block f of page pg; returns the used block.
uInt8* MedCarve(PoolPage* pg, uInt8* f, uInt32 need, int32 flags) {
  uInt32 size = BlockSize(f);
  bool prevUsed = PrevUsed(f);
  uInt8* used;
  if (size - need < pg->w1) {
    MedListRemove(pg, f);
    used = f;
    need = size;
    WrSize(used, uInt16(need | 1 | (prevUsed ? 2 : 0)));
  } else if (flags & (kPoolLowEnd | kPoolLowEnd2)) {
    // Bottom end: the remainder above becomes the free block.
    uInt8* rest = f + need;
    uInt8* n = NextFree(f);
    uInt8* p = PrevFree(f);
    bool wasRover = pg->w0 == uInt32(uintptr_t(f));
    WriteFreeBlock(rest, size - need, true);
    SetNextFree(rest, n);
    SetPrevFree(rest, p);
    if (p) SetNextFree(p, rest); else pg->w2 = uInt32(uintptr_t(rest));
    if (n) SetPrevFree(n, rest);
    if (wasRover) pg->w0 = uInt32(uintptr_t(rest));
    used = f;
    WrSize(used, uInt16(need | 1 | (prevUsed ? 2 : 0)));
    QX_UNPOISON(used + 2, need - 2);
    MedMarkAt(pg, used + 2) = MedMarkOf(used + 2, need);
    ++pg->used;
    return used;
  } else {
    // Top end: the free block stays in the list, shorter.
    WriteFreeBlock(f, size - need, prevUsed);
    used = f + size - need;
    WrSize(used, uInt16(need | 1));  // the block before it is free
  }
  QX_UNPOISON(used + 2, need - 2);
  SetPrevUsed(used + need, true);
  MedMarkAt(pg, used + 2) = MedMarkOf(used + 2, need);
  ++pg->used;
  return used;
}

// First fit in one page, starting at its rover; records the largest size seen
// when nothing fits.
uInt8* MedAllocInPage(PoolPage* pg, uInt32 need, int32 flags) {
  uInt8* start = reinterpret_cast<uInt8*>(uintptr_t(pg->w0));
  if (!start) start = MedFreeHead(pg);
  uInt32 largest = 0;
  if (uInt8* f = start) {
    do {
      uInt32 s = BlockSize(f);
      if (s >= need) {
        // The rover stays on this block while it keeps a remainder.
        pg->w0 = uInt32(uintptr_t(f));
        return MedCarve(pg, f, need, flags);
      }
      if (s > largest) largest = s;
      f = NextFree(f);
      if (!f) f = MedFreeHead(pg);
    } while (f != start);
  }
  pg->desc->largestFree = uInt16(largest);
  return nullptr;
}

uInt8* LargeAlloc(MemPool* pool, uInt32 n, int32 flags);

// A block of `need` bytes from the pages the pool has (its data address), or NULL.
uInt8* MediumTake(MemPool* pool, uInt32 need, int32 flags) {
  PageDesc* head = pool->rings[kPageMedium];
  if (head) {
    PageDesc* d = head;
    do {
      if (d->largestFree >= need) {
        if (uInt8* b = MedAllocInPage(d->page, need, flags)) {
          pool->rings[kPageMedium] = d;  // the next search starts where this one succeeded
          return b + 2;
        }
      }
      d = d->next;
    } while (d != head);
  }
  return nullptr;
}

uInt8* MediumAlloc(MemPool* pool, uInt32 n, int32 flags) {
  uInt32 need = MediumNeed(n);
  if (uInt8* b = MediumTake(pool, need, flags)) return b;
  if ((flags & kPoolLowEnd) && pool->memFull) pool->memFull(pool, n);
  if (PoolPage* pg = AddMediumPage(pool)) {
    if (uInt8* b = MedAllocInPage(pg, need, flags)) return b + 2;
  }
  if (tReclaim == 2) return nullptr;  // cached blocks came back: search again
  return LargeAlloc(pool, n, flags);
}

void MediumFree(PoolPage* pg, uInt8* data) {
  MemPool* pool = pg->pool;
  uInt8* b = data - 2;
  uInt32 size = BlockSize(b);
  bool prevUsed = PrevUsed(b);
  uInt8* next = b + size;
  if (!IsUsed(next)) {
    MedListRemove(pg, next);
    size += BlockSize(next);
  }
  if (!prevUsed) {
    // Join the free block before, which keeps its place in the list.
    uInt32 psize = RdSize(b - 2);
    uInt8* p = b - psize;
    size += psize;
    WriteFreeBlock(p, size, PrevUsed(p));
    b = p;
  } else {
    WriteFreeBlock(b, size, true);
    MedListInsert(pg, b);
  }
  SetPrevUsed(b + size, false);
  PoisonFree(b, size);
  RaiseHint(pg, size);
  if (--pg->used == 0) MaybeReleaseEmpty(pool, pg);
}

// Resizes a medium block in place; false when it must move.
bool MediumResizeBlock(PoolPage* pg, uInt8* data, uInt32 n, int32 flags) {
  MemPool* pool = pg->pool;
  if (n > pool->threshold) return false;
  uInt8* b = data - 2;
  uInt32 size = BlockSize(b);
  uInt32 need = MediumNeed(n);
  uInt16 keepBits = uInt16(RdSize(b) & 3);
  if (need == size) return true;
  if (need > size) {
    uInt8* next = b + size;
    if (IsUsed(next) || size + BlockSize(next) < need) return false;
    uInt32 total = size + BlockSize(next);
    MedListRemove(pg, next);
    uInt32 grown = total - need >= pg->w1 ? need : total;
    WrSize(b, uInt16(grown | keepBits));
    QX_UNPOISON(b + size, grown - size);
    if (flags & kPoolClear) std::memset(b + size, 0, grown - size);
    if (grown < total) {
      uInt8* rest = b + grown;
      WriteFreeBlock(rest, total - grown, true);
      MedListInsert(pg, rest);
      PoisonFree(rest, total - grown);
      RaiseHint(pg, total - grown);
    } else {
      SetPrevUsed(b + total, true);
    }
    return true;
  }
  // Shrink: split off the tail when it is worth keeping.
  uInt32 tail = size - need;
  if (tail < pg->w1) return true;
  WrSize(b, uInt16(need | keepBits));
  uInt8* rest = b + need;
  uInt8* next = b + size;
  if (!IsUsed(next)) {
    MedListRemove(pg, next);
    tail += BlockSize(next);
  }
  WriteFreeBlock(rest, tail, true);
  MedListInsert(pg, rest);
  SetPrevUsed(rest + tail, false);
  PoisonFree(rest, tail);
  RaiseHint(pg, tail);
  return true;
}

bool MediumResizeInPlace(PoolPage* pg, uInt8* data, uInt32 n, int32 flags) {
  if (!MediumResizeBlock(pg, data, n, flags)) return false;
  ShapeBlock(data, n, BlockSize(data - 2) - 2);
  return true;
}

// ---- Large blocks --------------------------------------------------------------------

inline uInt8* LargeData(PoolPage* pg) { return reinterpret_cast<uInt8*>(pg) + kPoolPageSize; }

// No block reaches 2^31 bytes with its page header: sizes of a signed 32-bit
// count are all the system asks for, and offsets within a block stay positive.
constexpr uInt32 kMaxLargeData = pool_large::kMaxData;

uInt8* LargeAlloc(MemPool* pool, uInt32 n, int32 flags) {
  (void)flags;  // committed pages read as zero
  if (n > kMaxLargeData) {
    Report(MEM_BLOCK_TOO_BIG, pool);
    return nullptr;
  }
  uInt32 bytes = n + kPoolPageSize;
  for (;;) {
    uInt32 committed = RoundUp(bytes, kPlatPageSize);
    if (WouldExceedCeiling(pool, committed)) {
      if (!ReclaimInstead(pool)) Report(MEM_EXCEEDED_CEILING, pool);
      return nullptr;
    }
    PoolPage* pg = NewPage(pool, kPageLarge, bytes, false);
    if (pg) {
      pg->w0 = RoundUp(bytes, kPlatRegionUnit);
      pg->w1 = committed;
      pg->w2 = n;
      pg->used = 1;
      pg->desc->largestFree = 0;
      RingInsert(pool, kPageLarge, pg->desc);
      QX_POISON(LargeData(pg) + n, committed - bytes);
      return LargeData(pg);
    }
    PoolShrink(pool);
    if (ReclaimInstead(pool) || !PoolError(MEM_OUT_OF_MEMORY, pool)) return nullptr;
  }
}

void LargeFree(PoolPage* pg, uInt8* block) {
  (void)block;
  pg->used = 0;
  ReleasePage(pg->pool, pg);
}

// Grows or shrinks a large block within its reservation; false when it must move.
bool LargeResizeInPlace(PoolPage* pg, uInt32 n, int32 flags) {
  MemPool* pool = pg->pool;
  if (n <= pool->threshold) return false;
  if (n > kMaxLargeData) return false;
  uInt32 bytes = n + kPoolPageSize;
  uInt32 committed = RoundUp(bytes, kPlatPageSize);
  uInt8* base = reinterpret_cast<uInt8*>(pg);
  if (committed > pg->w0) return false;  // the reservation is too small
  uInt32 oldN = pg->w2;
  if (committed > pg->w1) {
    if (WouldExceedCeiling(pool, committed - pg->w1)) return false;
    if (!PlatCommit(base + pg->w1, committed - pg->w1)) return false;
    pool->size += committed - pg->w1;
  } else if (committed < pg->w1) {
    PlatDecommit(base + committed, pg->w1 - committed);
    QX_UNPOISON(base + committed, pg->w1 - committed);
    pool->size -= pg->w1 - committed;
  }
  uInt32 oldCommitted = pg->w1;
  pg->w1 = committed;
  pg->w2 = n;
  QX_UNPOISON(LargeData(pg), n);
  QX_POISON(LargeData(pg) + n, committed - bytes);
  if ((flags & kPoolClear) && n > oldN) {
    // Bytes that were committed before may hold old data; new pages are zero.
    uInt32 oldEnd = oldCommitted - kPoolPageSize;
    uInt32 stop = n < oldEnd ? n : oldEnd;
    if (stop > oldN) std::memset(LargeData(pg) + oldN, 0, stop - oldN);
  }
  return true;
}

// Bytes of a block that a move must copy: its capacity, in the sanitizer
// build only the bytes that were asked for.
uInt32 BlockCapacity(PoolPage* pg, const uInt8* block) {
  uInt32 cap;
  switch (PageKind(pg)) {
    case kPageFixed: cap = pg->pool->stride; break;
    case kPageMedium: cap = BlockSize(block - 2) - 2; break;
    default: return pg->w2;
  }
#if defined(QX_POOL_ASAN)
  if (const void* bad = __asan_region_is_poisoned(const_cast<uInt8*>(block), cap))
    cap = uInt32(static_cast<const uInt8*>(bad) - block);
#endif
  return cap;
}

inline uInt8* FixedMarks(const PoolPage* pg) { return MapEntry(pg).load(std::memory_order_relaxed); }

uInt8* AllocOnce(MemPool* pool, uInt32 n, int32 flags) {
  uInt8* b;
  if (n > pool->fixedSize) {
    b = n > pool->threshold ? LargeAlloc(pool, n, flags) : MediumAlloc(pool, n, flags);
    if (b && (kRedzone || (flags & kPoolClear)) && PageKind(PageOf(b)) == kPageMedium) {
      ShapeBlock(b, n, BlockSize(b - 2) - 2);
      if (flags & kPoolClear) std::memset(b, 0, n);
    }
  } else {
    b = FixedAlloc(pool);
    if (b) {
      PoolPage* pg = PageOf(b);
      FixedMarks(pg)[FixedIndexOfSlot(pool, pg, b)] = 1;
      ShapeBlock(b, n, pool->stride);
      if (flags & kPoolClear) std::memset(b, 0, kRedzone ? n : pool->fixedSize);
    }
  }
  return b;
}

// True when `b` is a block of page `pg` that a caller holds: the start of a
// slot, medium block or large block of the page that is in use.  *mark is
// the block's mark, which the caller clears when it frees the block (NULL
// for a large block).  Reads only the page header and the marks before it
// knows the address is a block's.
__attribute__((always_inline)) inline bool HeldBlock(PoolPage* pg, const uInt8* b, uInt8** mark) {
  uInt8* marks = MapEntry(pg).load(std::memory_order_relaxed);
  *mark = nullptr;
  switch (PageKind(pg)) {
    case kPageFixed: {
      int32 i = FixedSlotIndex(pg->pool, pg, b);
      if (i < 0 || marks[i] != 1) return false;
      *mark = &marks[i];
      return true;
    }
    case kPageMedium: {
      if (!MedDataInPage(pg, b)) return false;
      uInt8* m = &marks[uInt32(b - reinterpret_cast<uInt8*>(pg)) >> 3];
      if ((*m & kMedPlaceBits) != MedPlaceOf(b)) return false;
      *mark = m;
      return true;
    }
    case kPageLarge: return b == LargeData(pg);
    default: return false;
  }
}

// ---- Thread caches ---------------------------------------------------------------
//
// A thread's record (tcache.h) holds free blocks of one serialised pool:
// fixed-size slots, and medium blocks of 12 to 200 bytes binned by their
// block size, linked through their first word, up to kMedCacheBytes of block
// bytes in all bins together.  A bin's fills grow from kMedBatchFirst blocks
// to kMedBatchMax, so a thread that makes many blocks of one size takes the
// lock seldom; a free that finds the bound reached gives an eighth of it back
// to the pages, its own bin first.  A cached block is free for every check: its mark is 0, so a
// second free, a resize or an information query of it is refused with 14.
// A cached medium block keeps the used bit of its size word: the page's free
// list does not hold it and its neighbours do not join it until it leaves the
// cache.  Cached blocks still count in their page's used count, so a page
// whose blocks are all free but some cached is released when they leave the
// cache; the statistics take every cache back before they count.  The
// sanitizer build poisons a cached block like a free one.

inline int32 MedBin(uInt32 blockSize) {
  uInt32 i = (blockSize - kMediumMinBlock) >> 2;
  return i < kMedBins ? int32(i) : -1;
}

inline bool HoldsBlocks(const ThreadCache* c) { return c->nFixed || c->medBytes; }

inline uInt32 MedBinBytes(int32 bin) { return 4 * uInt32(bin) + kMediumMinBlock; }

// Puts a free medium block at the head of its bin.  The sanitizer build opens
// the link word only while it is written or read.
inline void MedLink(ThreadCache* c, int32 bin, uInt8* b) {
  QX_UNPOISON(b, sizeof(void*));
  std::memcpy(b, &c->medHead[bin], sizeof(void*));
  QX_POISON(b, MedBinBytes(bin) - 2);
  c->medHead[bin] = b;
  c->nMed[bin] += 1;
  c->medBytes += MedBinBytes(bin);
}

// Takes the head block of a bin that holds one.
inline uInt8* MedUnlink(ThreadCache* c, int32 bin) {
  uInt8* b = static_cast<uInt8*>(c->medHead[bin]);
  QX_UNPOISON(b, sizeof(void*));
  std::memcpy(&c->medHead[bin], b, sizeof(void*));
  // The next block of the bin is read at the next take: start its load now.
  __builtin_prefetch(c->medHead[bin], 1);
  c->nMed[bin] -= 1;
  c->medBytes -= MedBinBytes(bin);
  return b;
}

// Gives a cached block back to its page; under the pool's lock.
inline void UncacheBlock(uInt8* b) {
  PoolPage* pg = PageOf(b);
  pg->freeProc(pg, b);
}

// Empties the block part of a record into the pages; under the pool's lock.
// Returns the number of blocks given back.
uInt32 EmptyBlockPart(ThreadCache* c, bool discard) {
  uInt32 n = c->nFixed;
  if (!discard)
    for (uInt32 i = 0; i < c->nFixed; ++i) UncacheBlock(static_cast<uInt8*>(c->fixed[i]));
  c->nFixed = 0;
  for (uInt32 bin = 0; bin < kMedBins; ++bin) {
    n += c->nMed[bin];
    // A discarded bin's links are not followed: its pages are going.
    while (!discard && c->nMed[bin]) UncacheBlock(MedUnlink(c, int32(bin)));
    c->nMed[bin] = 0;
    c->medHead[bin] = nullptr;
  }
  c->medBytes = 0;
  return n;
}

struct TakeBackArg {
  MemPool* pool;
  bool discard;  // the pool is going: drop the blocks and unbind the record
  uInt32 taken;
};

bool WantsBlocks(ThreadCache* c, void* a) {
  TakeBackArg* t = static_cast<TakeBackArg*>(a);
  return c->pool == t->pool && (t->discard || HoldsBlocks(c));
}

void TakeBlocks(ThreadCache* c, void* a) {
  TakeBackArg* t = static_cast<TakeBackArg*>(a);
  t->taken += EmptyBlockPart(c, t->discard);
  if (t->discard) c->pool = nullptr;
}

// Takes every thread's cached blocks of the pool back into its pages; under
// the pool's lock.  Returns the number of blocks taken back.
uInt32 TakeBackCaches(MemPool* pool, bool discard) {
  if (!(pool->flags & kPoolSerialized)) return 0;
  TakeBackArg arg{pool, discard, 0};
  ThreadCacheTakeBack(WantsBlocks, TakeBlocks, &arg);
  return arg.taken;
}

// An allocation of a serialised pool that would fail takes the caches back
// and tries once more before it reports the error or asks the handler.
uInt8* AllocLocked(MemPool* pool, uInt32 n, int32 flags) {
  if (!(pool->flags & kPoolSerialized)) return AllocOnce(pool, n, flags);
  int32 saved = tReclaim;  // an allocation of the error handler has its own
  tReclaim = 1;
  uInt8* b = AllocOnce(pool, n, flags);
  if (!b && tReclaim == 2) {
    tReclaim = 3;
    b = AllocOnce(pool, n, flags);
  }
  tReclaim = saved;
  return b;
}

// Makes a block from a cache the caller's: its mark set, its requested bytes
// addressable, zeroed with kPoolClear.
inline void HandOut(MemPool* pool, uInt8* b, uInt32 n, int32 flags) {
  PoolPage* pg = PageOf(b);
  if (PageKind(pg) == kPageFixed) {
    FixedMarks(pg)[FixedIndexOfSlot(pool, pg, b)] = 1;
    ShapeBlock(b, n, pool->stride);
    if (flags & kPoolClear) std::memset(b, 0, kRedzone ? n : pool->fixedSize);
  } else {
    // A cached block of n bytes has exactly the size n needs (its bin).
    uInt32 size = MediumNeed(n);
    MedMarkAt(pg, b) = MedMarkOf(b, size);
    ShapeBlock(b, n, size - 2);
    if (flags & kPoolClear) std::memset(b, 0, n);
  }
}

// The fast path of an allocation: a block of the calling thread's cache, or
// NULL.  No lock, no atomic read-modify-write.
inline uInt8* CachePop(ThreadCache* c, MemPool* pool, uInt32 n) {
  if (!c) return nullptr;
  uInt8* b = nullptr;
  if (n <= pool->fixedSize) {
    if (!ThreadCacheEnter(c)) return nullptr;
    if (c->pool == pool && c->nFixed) b = static_cast<uInt8*>(c->fixed[--c->nFixed]);
  } else {
    if (n > pool->threshold) return nullptr;
    int32 bin = MedBin(MediumNeed(n));
    if (bin < 0 || !ThreadCacheEnter(c)) return nullptr;
    if (c->pool == pool && c->nMed[bin]) b = MedUnlink(c, bin);
  }
  ThreadCacheLeave(c);
  return b;
}

// Puts a block in the record; under the pool's lock or in the fast path.
// False when its class has no room (or no cache).  The block is held.
inline bool CachePut(ThreadCache* c, MemPool* pool, PoolPage* pg, uInt8* b, uInt8* mark) {
  if (PageKind(pg) == kPageFixed) {
    if (c->nFixed >= kFixedCacheCap) return false;
    *mark = 0;
    QX_POISON(b, pool->stride);
    c->fixed[c->nFixed++] = b;
    return true;
  }
  int32 bin = int32(*mark & ~kMedPlaceBits) - 1;
  if (bin < 0 || c->medBytes + MedBinBytes(bin) > kMedCacheBytes) return false;
  *mark = 0;
  MedLink(c, bin, b);
  return true;
}

// The fast path of a free: 1 cached, 0 refused (not a held block), -1 the
// locked path must do it.
inline int32 CachePush(MemPool* pool, PoolPage* pg, uInt8* b) {
  ThreadCache* c = tThreadCache;
  if (!c || PageKind(pg) == kPageLarge || !ThreadCacheEnter(c)) return -1;
  int32 r = -1;
  if (c->pool == pool) {
    uInt8* mark;
    if (!HeldBlock(pg, b, &mark))
      r = 0;
    else if (CachePut(c, pool, pg, b, mark))
      r = 1;
  }
  ThreadCacheLeave(c);
  return r;
}

// The record of the calling thread bound to the pool, or NULL; under the
// pool's lock.  An empty record follows the pool the thread uses.
ThreadCache* BoundCache(MemPool* pool) {
  ThreadCache* c = ThreadCacheMine();
  if (!c) return nullptr;
  if (c->pool == pool) return c;
  // Under this pool's lock no thief of this pool runs, but one of another
  // pool may empty and unbind the record: decide under the registry lock.
  if (HoldsBlocks(c)) return nullptr;
  ThreadCacheBind(c, pool);
  return c->pool == pool ? c : nullptr;
}

// The slow path of an allocation of a serialised pool: under its lock, one
// block for the caller and a batch of the same class for the cache.
uInt8* AllocAndFill(MemPool* pool, uInt32 n, int32 flags) {
  uInt8* b = AllocLocked(pool, n, flags);
  if (!b) return nullptr;
  ThreadCache* c = BoundCache(pool);
  if (!c) return b;
  PoolPage* pg = PageOf(b);
  if (PageKind(pg) == kPageFixed) {
    while (c->nFixed < kFixedBatch) {
      uInt8* s = FixedTake(pool);
      if (!s) break;
      QX_POISON(s, pool->stride);
      c->fixed[c->nFixed++] = s;
    }
  } else if (PageKind(pg) == kPageMedium) {
    uInt32 need = MediumNeed(n);
    int32 bin = MedBin(need);
    uInt32 batch = 0;
    if (bin >= 0) {
      batch = c->medBatch[bin] ? c->medBatch[bin] : kMedBatchFirst;
      c->medBatch[bin] = uInt8(2 * batch < kMedBatchMax ? 2 * batch : kMedBatchMax);
    }
    for (; batch && c->medBytes + need <= kMedCacheBytes; --batch) {
      uInt8* d = MediumTake(pool, need, 0);
      if (!d) break;
      MedMarkAt(PageOf(d), d) = 0;  // cached: free for every check
      // A block that kept a remainder too small to split goes back.
      if (BlockSize(d - 2) != need) {
        MediumFree(PageOf(d), d);
        break;
      }
      MedLink(c, bin, d);
    }
  }
  return b;
}

// The slow path of a free of a held block of a serialised pool: under its
// lock, a full class of the calling thread's cache gives a batch back to the
// pages and takes the block.
void FreeToCache(MemPool* pool, PoolPage* pg, uInt8* b, uInt8* mark) {
  ThreadCache* c = PageKind(pg) != kPageLarge ? BoundCache(pool) : nullptr;
  if (c) {
    if (PageKind(pg) == kPageFixed) {
      for (uInt32 i = 0; i < kFixedBatch && c->nFixed; ++i) UncacheBlock(static_cast<uInt8*>(c->fixed[--c->nFixed]));
    } else if (int32 bin = int32(*mark & ~kMedPlaceBits) - 1;
               bin >= 0 && c->medBytes + MedBinBytes(bin) > kMedCacheBytes) {
      // An eighth of the bound goes back, the freed block's bin first.
      constexpr uInt32 kKeep = kMedCacheBytes - kMedCacheBytes / 8;
      while (c->nMed[bin] && c->medBytes > kKeep) UncacheBlock(MedUnlink(c, bin));
      for (int32 other = 0; other < int32(kMedBins) && c->medBytes > kKeep; ++other)
        while (c->nMed[other] && c->medBytes > kKeep) UncacheBlock(MedUnlink(c, other));
    }
    if (CachePut(c, pool, pg, b, mark)) return;
  }
  if (mark) *mark = 0;
  pg->freeProc(pg, b);
}

void InitPoolRecord(MemPool* pool, int32 fixedSize, int32 flags) {
  std::memset(pool, 0, sizeof *pool);
  pool->sig = kPoolSignature;
  pool->flags = uInt16(flags);
  pool->ceiling = kPoolNoCeiling;
  PlatRecMutexInit(&pool->lock);
  pool->pageSize = 16384;
  pool->threshold = 16384 / 4;
  pool->size = 4096;
  PoolSetFixedSize(pool, fixedSize);
}

MemPool* NewPool(int32 fixedSize, int32 flags) {
  uInt8* r = NewRegion(4096, false);
  if (!r) return nullptr;
  MemPool* pool = new (r) MemPool;
  InitPoolRecord(pool, fixedSize, flags);
  PlatRecMutexLock(&gAllocLock);
  pool->next = gPools;
  gPools = pool;
  PlatRecMutexUnlock(&gAllocLock);
  return pool;
}

void FillInfo(MemPool* pool, PoolInfoRecord* info) {
  info->pool = pool;
  info->kinds = (pool->rings[kPageFixed] ? 4 : 0) | (pool->rings[kPageMedium] ? 2 : 0) |
                (pool->rings[kPageLarge] ? 1 : 0);
  info->fixedSize = int32(pool->fixedSize);
  info->pageSize = pool->pageSize;
  info->floor = pool->floor;
  info->ceiling = pool->ceiling;
  info->flags = pool->flags;
}

// Removes the calling thread from the table of threads inside the handler.
struct HandlerEntry {
  int32 token;
  bool entered = false;
  explicit HandlerEntry(int32 t) : token(t) {}
  ~HandlerEntry() {
    if (!entered) return;
    PlatRecMutexLock(&gAllocLock);
    for (int32 i = 0; i < gHandlerThreadCount; ++i) {
      if (gHandlerThreads[i] == token) {
        gHandlerThreads[i] = gHandlerThreads[--gHandlerThreadCount];
        break;
      }
    }
    PlatRecMutexUnlock(&gAllocLock);
  }
};

const char* const kErrorNames[] = {
    "",
    "MEM_INTERNAL_ERROR",
    "Out of memory.  Please free some memory, then choose retry.",
    "MEM_BLOCK_TOO_BIG",
    "MEM_ALLOC_ZERO",
    "MEM_RESIZE_FAILED",
    "MEM_LOCK_ERROR",
    "MEM_EXCEEDED_CEILING",
    "MEM_TOO_MANY_PAGES",
    "MEM_TOO_MANY_TASKS",
    "MEM_BAD_MEM_POOL",
    "MEM_BAD_BLOCK",
    "MEM_BAD_FREE_BLOCK",
    "MEM_BAD_HANDLE",
    "MEM_BAD_POINTER",
    "MEM_WRONG_TASK",
};

bool CheckedPool(MemPool* pool) {
  if (GoodPool(pool)) return true;
  Report(MEM_BAD_MEM_POOL, pool);
  return false;
}

// Stores a pool word under the pool's lock and gives its former value.
uInt32 ExchangePoolWord(MemPool* pool, uInt32 MemPool::*word, uInt32 value) {
  if (!CheckedPool(pool)) return 0;
  PoolLock lk(pool);
  uInt32 former = pool->*word;
  pool->*word = value;
  return former;
}

}  // namespace

// ---- Public operations ---------------------------------------------------------------

const char* PoolErrorText(int32 code) {
  if (code < 1 || code > 15) return kErrorNames[1];
  return kErrorNames[code];
}


void PoolSetMemFullCallback(MemPool* pool, int32 (*proc)(MemPool*, uInt32)) {
  if (GoodPool(pool)) pool->memFull = proc;
}

MemPool* PoolInitDefault() {
  MemPool* p = gDefaultPool.load(std::memory_order_acquire);
  if (p) return p;
  PlatRecMutexLock(&gDefaultLock);
  p = gDefaultPool.load(std::memory_order_relaxed);
  if (!p) {
    p = NewPool(16, kPoolSerialized);
    gDefaultPool.store(p, std::memory_order_release);
  }
  PlatRecMutexUnlock(&gDefaultLock);
  return p;
}

int32 PoolSetPageSize(MemPool* pool, int32 size) {
  if (!CheckedPool(pool)) return 0;
  PoolLock lk(pool);
  int32 former = pool->pageSize;
  uInt32 s;
  if (size < 4097) {
    s = 4096;
  } else {
    s = 4096;
    while (s < uInt32(size)) s <<= 1;
    if (s >= 65536) s = 65535;
  }
  if (pool->fixedSize + kPoolPageSize <= s && pool->stride + kFixedStart <= s) {
    pool->pageSize = uInt16(s);
    pool->threshold = uInt16(s / 4);
  }
  return former;
}

int32 PoolRegisterTask() {
  PlatRecMutexLock(&gAllocLock);
  int32 n = ++gUsers;
  PlatRecMutexUnlock(&gAllocLock);
  return n;
}

int32 PoolUnregisterTask() {
  PlatRecMutexLock(&gAllocLock);
  int32 n = gUsers > 0 ? --gUsers : 0;
  PlatRecMutexUnlock(&gAllocLock);
  if (n == 0) {
    // The last user gives every pool back.
    PoolFreeDefault();
    for (;;) {
      PlatRecMutexLock(&gAllocLock);
      MemPool* p = gPools;
      PlatRecMutexUnlock(&gAllocLock);
      if (!p) break;
      PoolDispose(p);
    }
  }
  return n;
}

PoolErrorHandler PoolSetErrorHandler(PoolErrorHandler handler) {
  PlatRecMutexLock(&gAllocLock);
  PoolErrorHandler former = gHandler;
  gHandler = handler;
  PlatRecMutexUnlock(&gAllocLock);
  return former;
}

void* PoolMalloc(uInt32 size) { return PoolAlloc(PoolInitDefault(), size, 0); }

void* PoolAlloc(MemPool* pool, uInt32 size, int32 flags) {
  if (!CheckedPool(pool)) return nullptr;
  if (size == 0) {
    Report(MEM_ALLOC_ZERO, pool);
    return nullptr;
  }
  if (pool->flags & kPoolSerialized) {
    if (uInt8* b = CachePop(tThreadCache, pool, size)) {
      HandOut(pool, b, size, flags);
      return b;
    }
    PoolLock lk(pool);
    return AllocAndFill(pool, size, flags);
  }
  PoolLock lk(pool);
  return AllocLocked(pool, size, flags);
}

int32 PoolFree(void* block) {
  if (!block) return 1;
  uInt8* b = static_cast<uInt8*>(block);
  PoolPage* pg = CheckedPageOf(b);
  if (!pg) {
    Report(MEM_BAD_POINTER, nullptr);
    return 0;
  }
  MemPool* pool = pg->pool;
  bool serialised = pool->flags & kPoolSerialized;
  if (serialised) {
    int32 r = CachePush(pool, pg, b);
    if (r == 0) Report(MEM_BAD_POINTER, pool);
    if (r >= 0) return r;
  }
  PoolLock lk(pool);
  uInt8* mark;
  if (!HeldBlock(pg, b, &mark)) {
    Report(MEM_BAD_POINTER, pool);
    return 0;
  }
  if (serialised) {
    FreeToCache(pool, pg, b, mark);
    return 1;
  }
  if (mark) *mark = 0;
  pg->freeProc(pg, b);
  return 1;
}

void* PoolRealloc(void* block, uInt32 n, int32 flags) {
  uInt8* b = static_cast<uInt8*>(block);
  PoolPage* pg = block ? CheckedPageOf(b) : nullptr;
  if (!pg) {
    Report(MEM_BAD_POINTER, nullptr);
    return nullptr;
  }
  MemPool* pool = pg->pool;
  if (n == 0) {
    Report(MEM_ALLOC_ZERO, pool);
    return nullptr;
  }
  if (uInt32 oldN; pool_large::ResizeInPlace(block, n, &oldN)) {
    QX_UNPOISON(LargeData(pg), n);
    QX_POISON(LargeData(pg) + n, pg->w1 - n - kPoolPageSize);
    if ((flags & kPoolClear) && n > oldN) std::memset(LargeData(pg) + oldN, 0, n - oldN);
    return block;
  }
  PoolLock lk(pool);
  uInt8* mark;
  if (!HeldBlock(pg, b, &mark)) {
    Report(MEM_BAD_POINTER, pool);
    return nullptr;
  }
  switch (PageKind(pg)) {
    case kPageFixed:
      if (n <= pool->fixedSize) {
        ShapeBlock(b, n, pool->stride);
        return block;
      }
      break;
    case kPageMedium:
      if (MediumResizeInPlace(pg, b, n, flags)) {
        *mark = MedMarkOf(b, BlockSize(b - 2));  // its size class may have changed
        return block;
      }
      break;
    default:
      if (LargeResizeInPlace(pg, n, flags)) return block;
      break;
  }
  if (flags & kPoolInPlace) {
    Report(MEM_RESIZE_FAILED, pool);
    return nullptr;
  }
  uInt32 old = BlockCapacity(pg, b);
  uInt8* nb = AllocLocked(pool, n, flags & ~kPoolClear);
  if (!nb) return nullptr;
  uInt32 copy = old < n ? old : n;
  std::memcpy(nb, b, copy);
  if ((flags & kPoolClear) && n > copy) std::memset(nb + copy, 0, n - copy);
  if (mark) *mark = 0;
  pg->freeProc(pg, b);
  return nb;
}

uInt32 PoolSize(MemPool* pool) {
  if (!CheckedPool(pool)) return 0;
  PoolLock lk(pool);
  TakeBackCaches(pool);
  return pool->size;
}

int32 PoolBlockCount(MemPool* pool) {
  if (!CheckedPool(pool)) return 0;
  PoolLock lk(pool);
  TakeBackCaches(pool);
  int32 count = 0;
  for (int32 k = 0; k < 5; ++k) {
    PageDesc* head = pool->rings[k];
    if (!head) continue;
    PageDesc* d = head;
    do {
      count += d->page->used;
      d = d->next;
    } while (d != head);
  }
  return count;
}

bool PoolAddressMapped(const void* p, uInt32 n) {
  PoolPage* pg = p ? CheckedPageOf(p) : nullptr;
  if (!pg) return false;
  uInt32 committed = PageKind(pg) == kPageLarge ? pg->w1 : uInt32(pg->desc->commitPages) * kPlatPageSize;
  uintptr_t end = reinterpret_cast<uintptr_t>(pg) + committed;
  return reinterpret_cast<uintptr_t>(p) + n <= end;
}

int32 PoolBlockKind(const void* block) {
  PoolPage* pg = block ? CheckedPageOf(block) : nullptr;
  if (!pg) return 0;
  PoolLock lk(pg->pool);
  uInt8* mark;
  return HeldBlock(pg, static_cast<const uInt8*>(block), &mark) ? PageKind(pg) : 0;
}

int32 PoolInfo(MemPool* pool, void* block, PoolInfoRecord* info) {
  if (!info) return 0;
  MemPool* target = pool;
  if (block) {
    PoolPage* pg = CheckedPageOf(block);
    bool held = false;
    if (pg && (!pool || pg->pool == pool)) {
      PoolLock lk(pg->pool);
      uInt8* mark;
      held = HeldBlock(pg, static_cast<const uInt8*>(block), &mark);
    }
    if (!held) {
      Report(MEM_BAD_POINTER, pool);
      return 0;
    }
    target = pg->pool;
  }
  if (!target) target = PoolInitDefault();
  if (!CheckedPool(target)) return 0;
  PoolLock lk(target);
  TakeBackCaches(target);
  FillInfo(target, info);
  return 1;
}

namespace {

// Fills the record for the first pool of the list (after == NULL) or the one
// after `after`; 0 at the end.  A serialised pool's caches are taken back
// first, as PoolInfo does, so the page kinds it reports are those of its
// blocks in use.  The list lock comes after a pool's lock (the error handler
// takes it under one), so the two are never held together here: the pool is
// counted as walked under the list lock, then locked alone, and PoolDispose
// waits for its walkers before it releases the record.
int32 PoolStep(const MemPool* after, PoolInfoRecord* info) {
  PlatRecMutexLock(&gAllocLock);
  MemPool* p = gPools;
  if (after) {
    while (p && p != after) p = p->next;
    p = p ? p->next : nullptr;
  }
  if (p) ++p->walkers;
  PlatRecMutexUnlock(&gAllocLock);
  if (!p) return 0;
  {
    PoolLock lk(p);
    TakeBackCaches(p);
    FillInfo(p, info);
  }
  PlatRecMutexLock(&gAllocLock);
  --p->walkers;
  PlatRecMutexUnlock(&gAllocLock);
  return 1;
}

}  // namespace

int32 PoolFirst(PoolInfoRecord* info) { return info ? PoolStep(nullptr, info) : 0; }

int32 PoolNext(PoolInfoRecord* info) { return info ? PoolStep(info->pool, info) : 0; }

MemPool* PoolCreate(int32 fixedSize, int32 count, int32 flags) {
  MemPool* pool = NewPool(fixedSize, flags);
  if (!pool) {
    Report(MEM_OUT_OF_MEMORY, nullptr);
    return nullptr;
  }
  if (count > 0 && pool->fixedSize > 0) PoolPreAllocate(pool, kPageFixed, uInt32(count) * pool->fixedSize);
  return pool;
}

int32 PoolSetFixedSize(MemPool* pool, int32 size) {
  if (!CheckedPool(pool)) return 0;
  PoolLock lk(pool);
  int32 former = int32(pool->fixedSize);
  TakeBackCaches(pool);
  if (size < 0 || pool->rings[kPageFixed]) {
    // The size of slots already carved cannot change.
    Report(MEM_INTERNAL_ERROR, pool);
    return former;
  }
  uInt32 s = RoundUp(uInt32(size), 4);
  uInt32 stride = kRedzone ? RoundUp(s + kRedzone, 8) : s;
  if (s + kPoolPageSize > pool->pageSize || stride + kFixedStart > pool->pageSize) {
    Report(MEM_BLOCK_TOO_BIG, pool);
    return former;
  }
  pool->fixedSize = s;
  pool->stride = stride;
  pool->strideShift = 0;
  if (stride && (stride & (stride - 1)) == 0) pool->strideShift = uInt32(__builtin_ctz(stride));
  return former;
}

uInt32 PoolSetFloor(MemPool* pool, uInt32 floor) { return ExchangePoolWord(pool, &MemPool::floor, floor); }

uInt32 PoolSetCeiling(MemPool* pool, uInt32 ceiling) { return ExchangePoolWord(pool, &MemPool::ceiling, ceiling); }

uInt32 PoolShrink(MemPool* pool) {
  if (!CheckedPool(pool)) return 0;
  PoolLock lk(pool);
  // Pages that only cached blocks kept go as their blocks come back.
  uInt32 before = pool->size;
  TakeBackCaches(pool);
  uInt32 released = before - pool->size;
  for (int32 k = kPageFixed; k <= kPageMedium; ++k) {
    PageDesc* d = pool->rings[k];
    if (!d) continue;
    // Collect first: releasing changes the ring.
    int32 n = 0;
    PageDesc* head = d;
    do {
      ++n;
      d = d->next;
    } while (d != head);
    for (int32 i = 0; i < n && pool->rings[k]; ++i) {
      PageDesc* cur = d;
      d = d->next;
      if (cur->page->used == 0) {
        released += uInt32(cur->commitPages) * kPlatPageSize;
        ReleasePage(pool, cur->page);
      }
    }
  }
  return released;
}

int32 PoolPreAllocate(MemPool* pool, int32 kind, uInt32 bytes) {
  if (!CheckedPool(pool)) return 0;
  if (kind != kPageFixed && kind != kPageMedium) {
    Report(MEM_INTERNAL_ERROR, pool);
    return 0;
  }
  if (kind == kPageFixed && pool->fixedSize == 0) {
    Report(MEM_INTERNAL_ERROR, pool);
    return 0;
  }
  PoolLock lk(pool);
  uInt32 added = 0;
  while (added < bytes) {
    uInt32 before = pool->size;
    PoolPage* pg = kind == kPageFixed ? AddFixedPage(pool) : AddMediumPage(pool);
    if (!pg) return 0;
    added += pool->size - before;
  }
  return 1;
}

int32 PoolDispose(MemPool* pool) {
  if (!CheckedPool(pool)) return 0;
  PlatRecMutexLock(&gAllocLock);
  MemPool** link = &gPools;
  while (*link && *link != pool) link = &(*link)->next;
  if (*link) *link = pool->next;
  // A list walk that reached the pool before it left the list may still be
  // filling its record from it.
  while (pool->walkers > 0) {
    PlatRecMutexUnlock(&gAllocLock);
    PlatSleepMs(1);
    PlatRecMutexLock(&gAllocLock);
  }
  PlatRecMutexUnlock(&gAllocLock);
  MemPool* expected = pool;
  gDefaultPool.compare_exchange_strong(expected, nullptr);
  {
    PoolLock lk(pool);
    TakeBackCaches(pool, true);
    for (int32 k = 0; k < 5; ++k) {
      while (pool->rings[k]) ReleasePage(pool, pool->rings[k]->page);
    }
    uInt8* chunk = pool->descChunks;
    while (chunk) {
      uInt8* next;
      std::memcpy(&next, chunk, sizeof next);
      PlatRelease(chunk, kDescChunkSize);
      chunk = next;
    }
    pool->descChunks = nullptr;
    pool->freeDescs = nullptr;
    pool->sig = 0;
  }
  PlatRecMutexDestroy(&pool->lock);
  PlatRelease(pool, 4096);
  return 1;
}

int32 PoolFreeDefault() {
  PlatRecMutexLock(&gDefaultLock);
  MemPool* p = gDefaultPool.exchange(nullptr);
  PlatRecMutexUnlock(&gDefaultLock);
  if (!p) return 0;
  PoolDispose(p);
  return 1;
}

int32 PoolError(int32 code, MemPool* pool) {
  SetLastError(code);
  int32 self = PlatThreadToken();
  HandlerEntry entry(self);
  PoolErrorHandler handler;
  {
    PlatRecMutexLock(&gAllocLock);
    bool reentered = false;
    for (int32 i = 0; i < gHandlerThreadCount; ++i) reentered |= gHandlerThreads[i] == self;
    bool full = !reentered && gHandlerThreadCount >= kMaxThreadsInHandler;
    if (!reentered && !full) {
      gHandlerThreads[gHandlerThreadCount++] = self;
      entry.entered = true;
    }
    handler = gHandler;
    if (handler && !PlatIsCodePtr(reinterpret_cast<const void*>(handler))) {
      handler = gHandler = PoolDefaultErrorHandler;
    }
    PlatRecMutexUnlock(&gAllocLock);
    if (full) {
      PoolErrorBox("\n\rMemory errors in too many threads concurrently.\n\r", kPlatOK);
      return 0;
    }
    if (reentered) {
      PoolErrorBox("The memory error handler was re-entered.", kPlatOK);
      return 0;
    }
  }
  if (!handler) return 0;
  // The handler runs without the caller's pool lock, at whatever depth it was held.
  int32 depth = 0;
  bool serialised = GoodPool(pool) && (pool->flags & kPoolSerialized);
  if (serialised) depth = PlatRecMutexReleaseAll(&pool->lock);
  PoolErrorRecord rec{code, pool};
  int32 retry = handler(&rec);
  if (serialised) PlatRecMutexReacquire(&pool->lock, depth);
  return retry ? 1 : 0;
}

int32 PoolDefaultErrorHandler(PoolErrorRecord* err) {
  int32 code = err ? err->code : MEM_INTERNAL_ERROR;
  if (code == MEM_OUT_OF_MEMORY) return PoolErrorBox(PoolErrorText(code), kPlatAbortRetryIgnore);
  if (code >= 3 && code <= 14) return PoolErrorBox(PoolErrorText(code), kPlatOKCancel);
  return PoolErrorBox(PoolErrorText(MEM_INTERNAL_ERROR), kPlatOKCancel);
}

int32 PoolErrorBox(const char* text, int32 buttons) {
  PlatBeep();
  int32 ans = PlatAlert("Quenlix Memory", text, buttons, kPlatIconStop);
  if (ans <= 0) ans = PlatAlert("Quenlix Memory", text, buttons, kPlatIconStop);  // system-modal retry
  switch (ans) {
    case kPlatAnsRetry: return 1;
    case kPlatAnsCancel:
    case kPlatAnsAbort: PlatExitProcess(1);
    default: return 0;
  }
}

// ---- Thread exit -----------------------------------------------------------------------

namespace {
struct CountArg {
  MemPool* pool;
  int32 blocks;
};
bool CountWanted(ThreadCache* c, void* a) { return c->pool == static_cast<CountArg*>(a)->pool; }
void CountBlocks(ThreadCache* c, void* a) {
  CountArg* t = static_cast<CountArg*>(a);
  t->blocks += int32(c->nFixed);
  for (uInt32 bin = 0; bin < kMedBins; ++bin) t->blocks += c->nMed[bin];
}
}  // namespace

int32 PoolCachedBlockCount(MemPool* pool) {
  if (!CheckedPool(pool)) return 0;
  PoolLock lk(pool);
  CountArg arg{pool, 0};
  ThreadCacheTakeBack(CountWanted, CountBlocks, &arg);
  return arg.blocks;
}

void PoolReleaseThreadCaches() { ThreadCacheRelease(); }

void PoolCacheReturn(ThreadCache* c) {
  // A pool is disposed only when no thread uses it any more; its disposal
  // unbinds every record first.
  MemPool* pool = __atomic_load_n(&c->pool, __ATOMIC_ACQUIRE);
  if (!pool) return;
  {
    PoolLock lk(pool);
    if (c->pool == pool) EmptyBlockPart(c, false);
  }
  ThreadCacheBind(c, nullptr);
}
