// The pool allocator: the system's only source of memory.
//
// Memory comes from the host in 64 KB-aligned regions (pages) and is served in
// three size classes: fixed-size slots, medium blocks carved from shared pages,
// and large blocks with a region each.  The page that holds a block is found by
// clearing the low 16 bits of the block's address.
#pragma once
#include "extcode.h"

struct MemPool;

// Error codes of the allocator.
enum : int32 {
  MEM_INTERNAL_ERROR = 1,
  MEM_OUT_OF_MEMORY = 2,
  MEM_BLOCK_TOO_BIG = 3,
  MEM_ALLOC_ZERO = 4,
  MEM_RESIZE_FAILED = 5,
  MEM_LOCK_ERROR = 6,
  MEM_EXCEEDED_CEILING = 7,
  MEM_TOO_MANY_PAGES = 8,
  MEM_TOO_MANY_TASKS = 9,
  MEM_BAD_MEM_POOL = 10,
  MEM_BAD_BLOCK = 11,
  MEM_BAD_FREE_BLOCK = 12,
  MEM_BAD_HANDLE = 13,
  MEM_BAD_POINTER = 14,
  MEM_WRONG_TASK = 15,
};

// Allocation flags.
enum : int32 {
  kPoolClear = 1,      // zero-fill (PoolAlloc) / zero the added bytes (PoolRealloc)
  kPoolLowEnd = 2,     // medium blocks: take the bottom end of a free block
  kPoolLowEnd2 = 4,    // the same
  kPoolInPlace = 8,    // PoolRealloc: fail rather than move
};

// Pool flags.
enum : int32 { kPoolSerialized = 2 };

// Page kinds.
enum : int32 { kPageFixed = 1, kPageMedium = 2, kPageLarge = 3 };

constexpr uInt32 kPoolNoCeiling = 0xFFFFFFFEu;

struct PoolErrorRecord {
  int32 code;
  MemPool* pool;
};
// An error handler: a non-zero answer makes the caller retry.
typedef int32 (*PoolErrorHandler)(PoolErrorRecord* err);

struct PoolInfoRecord {
  MemPool* pool;
  int32 kinds;       // 4 fixed-size pages, 2 medium pages, 1 large blocks
  int32 fixedSize;
  int32 pageSize;
  uInt32 floor;
  uInt32 ceiling;
  int32 flags;
};

QX_EXTERN_C MemPool* PoolInitDefault();
QX_EXTERN_C int32 PoolSetPageSize(MemPool* pool, int32 size);
QX_EXTERN_C int32 PoolRegisterTask();
QX_EXTERN_C int32 PoolUnregisterTask();
QX_EXTERN_C PoolErrorHandler PoolSetErrorHandler(PoolErrorHandler handler);
QX_EXTERN_C void* PoolMalloc(uInt32 size);
QX_EXTERN_C void* PoolAlloc(MemPool* pool, uInt32 size, int32 flags);
QX_EXTERN_C void* PoolRealloc(void* block, uInt32 size, int32 flags);
QX_EXTERN_C int32 PoolFree(void* block);
QX_EXTERN_C uInt32 PoolSize(MemPool* pool);
QX_EXTERN_C int32 PoolBlockCount(MemPool* pool);
QX_EXTERN_C int32 PoolInfo(MemPool* pool, void* block, PoolInfoRecord* info);
QX_EXTERN_C int32 PoolFirst(PoolInfoRecord* info);
QX_EXTERN_C int32 PoolNext(PoolInfoRecord* info);
QX_EXTERN_C MemPool* PoolCreate(int32 fixedSize, int32 count, int32 flags);
QX_EXTERN_C int32 PoolSetFixedSize(MemPool* pool, int32 size);
QX_EXTERN_C uInt32 PoolSetFloor(MemPool* pool, uInt32 floor);
QX_EXTERN_C uInt32 PoolSetCeiling(MemPool* pool, uInt32 ceiling);
QX_EXTERN_C uInt32 PoolShrink(MemPool* pool);
QX_EXTERN_C int32 PoolPreAllocate(MemPool* pool, int32 kind, uInt32 bytes);
QX_EXTERN_C int32 PoolDispose(MemPool* pool);
QX_EXTERN_C int32 PoolFreeDefault();
QX_EXTERN_C int32 PoolError(int32 code, MemPool* pool);
QX_EXTERN_C int32 PoolDefaultErrorHandler(PoolErrorRecord* err);
QX_EXTERN_C int32 PoolErrorBox(const char* text, int32 buttons);

// The text of an allocator error code.
const char* PoolErrorText(int32 code);
// The code of the last allocator error on the calling thread (0 none); read
// and cleared inline, as the memory manager does on every resize.
extern __thread int32 gPoolLastError;
inline int32 PoolLastError() { return gPoolLastError; }
inline void PoolClearLastError() { gPoolLastError = 0; }
// True when [p, p + n) lies inside the committed part of an allocator page.
bool PoolAddressMapped(const void* p, uInt32 n);
// The size class a block was served from: 1 fixed, 2 medium, 3 large, 0 not a block.
int32 PoolBlockKind(const void* block);

// Test tooling: the blocks of the pool that the threads' caches hold.
int32 PoolCachedBlockCount(MemPool* pool);
// Gives the calling thread's cached blocks and master pointers back now, as
// its exit does.
void PoolReleaseThreadCaches();

// The memory-full callback of medium allocations (none by default); asked
// before a new medium page is added for an allocation with flag kPoolLowEnd.
void PoolSetMemFullCallback(MemPool* pool, int32 (*proc)(MemPool* pool, uInt32 size));
