// The resize of a large pool block within its committed pages, inline for the
// pool's own resize and the memory manager's handle resize.
//
// A large block has a 64 KB-aligned page of its own: a 28-byte header, then
// the data.  A resize that keeps the page's committed 4 KB pages changes only
// the header's length word, which no other thread reads, so it takes no lock.
#pragma once
#include <atomic>
#include <cstdint>

#include "extcode.h"
#include "pool.h"

#if defined(__SANITIZE_ADDRESS__)
#define QX_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QX_POOL_ASAN 1
#endif
#endif

namespace pool_large {

constexpr uInt16 kPageSignature = 0xCAD0;
constexpr uInt32 kPageHeader = 28;
constexpr uInt32 kCommitUnit = 4096;
// No block reaches 2^31 bytes with its page header.
constexpr uInt32 kMaxData = 0x7FFFFFFFu - kPageHeader;
// Above every pool's threshold (a quarter of a page size of at most 64 KB):
// a block this large stays a large block.
constexpr uInt32 kAlwaysLarge = 16384;

// A page header as the resize reads it; the pool's own record has the same
// layout (checked there).
struct PageHead {
  void* pool;
  void* desc;
  void* freeProc;
  uInt16 used;
  uInt16 sig;
  uInt32 reserved;   // bytes reserved for the page
  uInt32 committed;  // bytes committed
  uInt32 length;     // bytes the caller asked for
};
static_assert(sizeof(PageHead) == kPageHeader, "page header is 28 bytes");

// One word per 64 KB unit: non-NULL while a page starts there.
extern std::atomic<uInt8*> gPageMap[65536];

// Sets the length of a large block to n when its committed pages hold n
// bytes; *old gets the length it had.  False when the block is not a large
// block, n is at or below every threshold, or the pages must change.
inline bool ResizeInPlace(void* block, uInt32 n, uInt32* old) {
  uintptr_t a = reinterpret_cast<uintptr_t>(block);
  PageHead* pg = reinterpret_cast<PageHead*>(a & ~uintptr_t(0xFFFF));
  if (n <= kAlwaysLarge || n > kMaxData) return false;
  if (!gPageMap[uInt32(a >> 16)].load(std::memory_order_acquire)) return false;
  if (pg->sig != (kPageSignature | kPageLarge) || a != uintptr_t(pg) + kPageHeader) return false;
  if (((n + kPageHeader + kCommitUnit - 1) & ~(kCommitUnit - 1)) != pg->committed) return false;
  *old = pg->length;
  pg->length = n;
  return true;
}

}  // namespace pool_large
