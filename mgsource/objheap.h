// Object sub-heaps: heaps of variable-size blocks inside one relocatable
// handle of the application zone.  Blocks are named by their data offset from
// the start of the heap, so they stay valid when the handle moves or grows;
// each used block carries the class index of the object that owns it.
#pragma once
#include <atomic>
#include "extcode.h"

typedef UHandle ObjHeap;

// Header words (byte offsets).
enum : uInt32 {
  kOHFlags = 0,         // flag bits below
  kOHKind = 4,          // four-character code of the heap's kind
  kOHExtension = 8,     // data offset of the heap extension block
  kOHNextHeap = 12,     // the next heap of the global list
  kOHBlockStart = 16,   // where the block area starts (56)
  kOHBlockStart2 = 20,  // a second copy of it
  kOHFreeHead = 24,     // header offset of the first free block, 0 when none
  kOHPassKind = 28,     // 16 bits: mark-pass kind; then 16 bits: nesting count
  kOHPassCount = 30,
  kOHEndOffset = 32,    // heap size less 1
  kOHUserWords = 36,    // five words left to the heap's users
  kOHHeaderSize = 56,
};

// Flag bits.
enum : uInt32 {
  kOHMarkPass = 8,        // a mark pass is active
  kOHCopyForward = 16,    // new and resized blocks get their data offset as copy-forward word
  kOHCopyForwardInv = 32, // ... or the inverted offset with bit 0 cleared
  kOHBusy = 0x2000,       // the free list is being changed
};

// Block header: size word (bit 0 free, bit 1 padding), link or copy-forward
// word, class word; the data follow.
struct ObjHeapBlock {
  uInt32 sizeWord;
  uInt32 link;  // next free block, or the copy-forward word of a used block
  int32 cls;    // class index of a used block, 0 once freed
};
constexpr uInt32 kOHBlockHeader = sizeof(ObjHeapBlock);
static_assert(kOHBlockHeader == 12, "object heap block header");
constexpr int32 kOHStopEnum = int32(0x80000000u);

typedef int32 (*OHBlockProc)(ObjHeap heap, int32 offset);
typedef int32 (*OHBlockContextProc)(ObjHeap heap, int32 offset, void* context);
typedef MgErr (*OHSwapProc)(ObjHeap heap, int32 offset, int32 toBigEndian);

QX_EXTERN_C ObjHeap OHNewHeap(int32 dataSize, uInt32 kind, int32 extSize, int32 extClass);
QX_EXTERN_C void OHLinkHeap(ObjHeap heap);
QX_EXTERN_C void OHDisposeHeap(ObjHeap heap);
QX_EXTERN_C int32 OHNewBlock(ObjHeap heap, int32 size, int32 cls);
QX_EXTERN_C void OHDisposeBlock(ObjHeap heap, int32 offset);
QX_EXTERN_C MgErr OHSetBlockSize(ObjHeap heap, int32* offset, int32 size);
QX_EXTERN_C int32 OHBlockSize(ObjHeap heap, int32 offset);
QX_EXTERN_C void OHSetBlockClass(ObjHeap heap, int32 offset, int32 cls);
QX_EXTERN_C int32 OHCopyBlock(ObjHeap src, int32 offset, ObjHeap dst);
QX_EXTERN_C int32 OHEnumBlocks(ObjHeap heap, OHBlockProc proc);
QX_EXTERN_C void OHForEachBlock(ObjHeap heap, OHBlockProc proc);
// OHForEachBlock for a procedure that takes a context of its caller.
void OHForEachBlockWith(ObjHeap heap, OHBlockContextProc proc, void* context);
QX_EXTERN_C int32 OHBeginMarkPass(ObjHeap heap, int32 kind);
QX_EXTERN_C int32 OHEndMarkPass(ObjHeap heap);
QX_EXTERN_C void OHSetMarkWords(ObjHeap heap, int32 value);
QX_EXTERN_C MgErr OHGrowHeap(ObjHeap heap, int32 size);
// Converts a heap between memory order (0: from big-endian to native) and
// file order (1).  A heap read from a file is checked whole before anything
// is swapped: a malformed one gives 1 and is left as it was.
QX_EXTERN_C MgErr OHByteSwapHeap(ObjHeap heap, OHSwapProc proc, int32 toBigEndian);

// The class word and the copy-forward word of a used block.
int32 OHBlockClass(ObjHeap heap, int32 offset);
// Whether offset is the data offset of a used block: a 4-aligned header in
// the block area whose size fits, free bit clear, class word set, and whose
// following header (unless it ends the heap) holds a size that fits.  It
// reports nothing.  It does not walk the heap (callers run once per object of
// a heap copy), so an interior offset whose bytes look like such a header
// passes.
bool OHIsUsedBlock(ObjHeap heap, int32 offset);
// OHIsUsedBlock(heap, offset) && OHBlockSize(heap, offset) >= bytes, with the
// block's header read once.
bool OHIsUsedBlockOf(ObjHeap heap, int32 offset, int32 bytes);
// The checks of OHIsUsedBlock written out where they are used, giving the
// block's usable size and class word: the object methods along an action's
// path check each object they reach at the cost of the checks alone.
inline bool OHUsedBlockRead(ObjHeap heap, int32 offset, int32* usable, int32* cls) {
  if (!heap || !*heap) return false;
  const uChar* const h = *heap;
  auto rd = [h](uInt32 at) {
    uInt32 v;
    __builtin_memcpy(&v, h + at, 4);
    return v;
  };
  const uInt32 start = rd(kOHBlockStart), end = rd(kOHEndOffset) + 1;
  if (offset < int32(start + kOHBlockHeader) || uInt32(offset) > end || (uInt32(offset) - start) % 4) return false;
  const uInt32 b = uInt32(offset) - kOHBlockHeader;
  const uInt32 word = rd(b), size = word & ~3u, klass = rd(b + 8);
  if ((word & 1) || size < kOHBlockHeader || size > end - b || klass == 0) return false;
  const uInt32 next = b + size;
  if (next != end) {
    if (end - next < 4) return false;
    const uInt32 after = rd(next) & ~3u;
    if (after < 4 || after > end - next) return false;
  }
  *usable = int32(size - kOHBlockHeader - ((word & 2) ? 2 : 0));
  *cls = int32(klass);
  return true;
}
// A count of the changes to the heaps' layout: every routine here that
// writes a block's size or class word or a heap's area bounds (a heap made,
// grown, converted or disposed of, a block made, resized, reclassed or
// freed) adds one.  While it stays the same, a block OHUsedBlockRead passed
// still passes with the same answers.
// Threads other than the one checking may change other heaps: the count is
// atomic, and a memo is kept per thread.
// The count stops at kOHLayoutCountEnd rather than wrap (a wrapped count
// could meet a kept one again): from there on nothing is kept, and every
// memo and comparison takes the checks.
constexpr uInt32 kOHLayoutCountEnd = 0xFFFFFFFFu;
extern std::atomic<uInt32> gOHLayoutChanges;
[[gnu::always_inline]] inline uInt32 OHLayoutChanges() { return gOHLayoutChanges.load(std::memory_order_relaxed); }
// Whether no layout change came since the count read as before.
[[gnu::always_inline]] inline bool OHLayoutSame(uInt32 before) {
  return before != kOHLayoutCountEnd && OHLayoutChanges() == before;
}
// The usable size and class of a block that OHUsedBlockRead passed with
// OHLayoutChanges() the same as now: its header read without the checks.
inline void OHUsedBlockFacts(ObjHeap heap, int32 offset, int32* usable, int32* cls) {
  uInt32 word, klass;
  __builtin_memcpy(&word, *heap + offset - kOHBlockHeader, 4);
  __builtin_memcpy(&klass, *heap + offset - kOHBlockHeader + 8, 4);
  *usable = int32((word & ~3u) - kOHBlockHeader - ((word & 2) ? 2 : 0));
  *cls = int32(klass);
}
// The answers OHUsedBlockRead gave for one block, kept for a site that
// checks the same block again and again: they hold while the layout count
// is the one they were read at.
struct OHBlockMemo {
  ObjHeap heap = nullptr;
  uInt32 layout = 0;
  int32 offset = 0, usable = 0, cls = 0;
};
// OHUsedBlockRead through the memo: the kept answers when they are that
// block's at the current count, else the checks (a block that passes is
// kept).
[[gnu::always_inline]] inline bool OHUsedBlockReadMemo(OHBlockMemo* memo, ObjHeap heap, int32 offset, int32* usable,
                                                       int32* cls) {
  if (memo->offset == offset && memo->heap == heap && memo->layout == OHLayoutChanges() && heap && *heap) {
    *usable = memo->usable;
    *cls = memo->cls;
    return true;
  }
  if (!OHUsedBlockRead(heap, offset, usable, cls)) return false;
  if (const uInt32 now = OHLayoutChanges(); now != kOHLayoutCountEnd) *memo = OHBlockMemo{heap, now, offset, *usable, *cls};
  return true;
}
// OHIsUsedBlockOf by those checks.
inline bool OHUsedBlockHolds(ObjHeap heap, int32 offset, int32 bytes) {
  int32 usable = 0, cls = 0;
  return OHUsedBlockRead(heap, offset, &usable, &cls) && usable >= bytes;
}
// OHIsUsedBlock, giving the block's usable size and class (either pointer may
// be null) from the header it checked.
inline bool OHUsedBlockInfo(ObjHeap heap, int32 offset, int32* usable, int32* cls) {
  int32 u = 0, c = 0;
  if (!OHUsedBlockRead(heap, offset, &u, &c)) return false;
  if (usable) *usable = u;
  if (cls) *cls = c;
  return true;
}
int32 OHBlockMarkWord(ObjHeap heap, int32 offset);
void OHSetBlockMarkWord(ObjHeap heap, int32 offset, int32 value);

// The global list of heaps and its flags.
ObjHeap OHFirstHeap();
ObjHeap OHNextHeap(ObjHeap heap);
Bool32 OHListChanged();
void OHClearListChanged();
uInt16 OHBlockFreed();
void OHClearBlockFreed();

// Heap header words.
inline uInt32 OHWord(ObjHeap heap, uInt32 at) {
  uInt32 v;
  __builtin_memcpy(&v, *heap + at, 4);
  return v;
}
inline void OHSetWord(ObjHeap heap, uInt32 at, uInt32 v) { __builtin_memcpy(*heap + at, &v, 4); }
