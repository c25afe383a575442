// Object sub-heaps.
//
// Blocks lie back to back from offset 56 to the heap's end.  A block's size
// word holds its total size (a multiple of 4) with bit 0 set when it is free
// and bit 1 set when it holds 2 bytes more than its usable size.  Free blocks
// of 8 bytes and more are linked in ascending offset order; a free block of
// exactly 4 bytes (a sliver) has only its size word and is never listed.
#include "objheap.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "debug.h"
#include "memory.h"

namespace {

// Reports name this source.
const char kSourceFile[] = "objheap";

constexpr uInt32 kFreeBit = 1;
constexpr uInt32 kPadBit = 2;
constexpr uInt32 kSizeMask = ~3u;
constexpr uInt32 kSliver = 4;

ObjHeap gHeapList = nullptr;
Bool32 gListChanged = 0;
uInt16 gBlockFreed = 0;

// ---- Raw access ------------------------------------------------------------------

inline uInt32 Rd(ObjHeap h, uInt32 at) {
  uInt32 v;
  std::memcpy(&v, *h + at, 4);
  return v;
}
inline void Wr(ObjHeap h, uInt32 at, uInt32 v) { std::memcpy(*h + at, &v, 4); }
inline uInt16 Rd16(ObjHeap h, uInt32 at) {
  uInt16 v;
  std::memcpy(&v, *h + at, 2);
  return v;
}
inline void Wr16(ObjHeap h, uInt32 at, uInt16 v) { std::memcpy(*h + at, &v, 2); }

inline uInt32 SizeWord(ObjHeap h, uInt32 b) { return Rd(h, b); }
inline uInt32 TotalSize(ObjHeap h, uInt32 b) { return Rd(h, b) & kSizeMask; }
inline bool IsFree(ObjHeap h, uInt32 b) { return Rd(h, b) & kFreeBit; }
inline uInt32 Link(ObjHeap h, uInt32 b) { return Rd(h, b + 4); }
inline void SetLink(ObjHeap h, uInt32 b, uInt32 v) { Wr(h, b + 4, v); }
inline uInt32 AreaEnd(ObjHeap h) { return Rd(h, kOHEndOffset) + 1; }
inline uInt32 Flags(ObjHeap h) { return Rd(h, kOHFlags); }
inline void SetFlags(ObjHeap h, uInt32 f) { Wr(h, kOHFlags, f); }

// Request sizes: n' is n rounded up to even; the total is n' + 12 rounded up to 4.
struct Sizing {
  uInt32 usable;  // n'
  uInt32 total;   // T
  uInt32 pad;     // kPadBit when the rounding added 2
};
inline Sizing SizeFor(uInt32 n) {
  Sizing s;
  s.usable = (n + 1) & ~1u;
  s.total = (s.usable + kOHBlockHeader + 3) & ~3u;
  s.pad = s.total - (s.usable + kOHBlockHeader) == 2 ? kPadBit : 0;
  return s;
}

inline uInt32 UsableOf(uInt32 sizeWord) {
  return (sizeWord & kSizeMask) - kOHBlockHeader - ((sizeWord & kPadBit) ? 2 : 0);
}

// Reports why BlockOf refused the offset.
[[gnu::noinline, gnu::cold]] void BlockOfRefused(ObjHeap h, int32 offset) {
  if (!h || !*h) {
    DBAssert(kSourceFile, __LINE__, "no object heap");
  } else if (offset < int32(Rd(h, kOHBlockStart) + kOHBlockHeader) || uInt32(offset) > AreaEnd(h)) {
    DBAssert(kSourceFile, __LINE__, "object heap offset outside the block area");
  } else {
    DBAssert(kSourceFile, __LINE__, "corrupt object heap block size");
  }
}

// A data offset's block header, after checking that it lies in the block
// area (a block of no usable bytes at the heap's end has its data offset at
// the end).  The checks stay here and the reports go out of line, so that
// the size, class and word readers below take the checks inline.
inline bool BlockOf(ObjHeap h, int32 offset, uInt32* b) {
  if (h && *h) {
    const uInt32 start = Rd(h, kOHBlockStart), end = AreaEnd(h);
    if (offset >= int32(start + kOHBlockHeader) && uInt32(offset) <= end) {
      *b = uInt32(offset) - kOHBlockHeader;
      const uInt32 size = TotalSize(h, *b);
      if (size >= kOHBlockHeader && *b + size <= end) return true;
    }
  }
  BlockOfRefused(h, offset);
  return false;
}

struct Busy {
  ObjHeap h;
  bool ok;
  explicit Busy(ObjHeap heap) : h(heap) {
    ok = !(Flags(h) & kOHBusy);
    if (!ok) DBAssert(kSourceFile, __LINE__, "object heap free list changed while in use");
    SetFlags(h, Flags(h) | kOHBusy);
  }
  ~Busy() {
    if (ok) SetFlags(h, Flags(h) & ~kOHBusy);
  }
};

inline void SetCopyForward(ObjHeap h, uInt32 b) {
  uInt32 f = Flags(h);
  uInt32 data = b + kOHBlockHeader;
  if (f & kOHCopyForward)
    SetLink(h, b, data);
  else if (f & kOHCopyForwardInv)
    SetLink(h, b, ~data & ~1u);
}

// ---- The free list ----------------------------------------------------------------

// Inserts the free block at b (size word already marked free) into the free
// list, merging it with adjacent free blocks; slivers between blocks are absorbed.
void InsertFree(ObjHeap h, uInt32 b) {
  uInt32 size = TotalSize(h, b);
  uInt32 end = AreaEnd(h);
  // A free sliver right after it joins it.
  if (b + size + kSliver <= end && SizeWord(h, b + size) == (kSliver | kFreeBit)) size += kSliver;
  Wr(h, b, size | kFreeBit);
  // Neighbours on the list: the last below and the first above.
  uInt32 prev = 0, next = Rd(h, kOHFreeHead);
  uInt32 start = Rd(h, kOHBlockStart);
  while (next && next < b) {
    if (next < start) {
      DBAssert(kSourceFile, __LINE__, "free list entry below the block area");
      return;
    }
    prev = next;
    next = Link(h, next);
  }
  bool toPrev = prev && b - (prev + TotalSize(h, prev)) <= kSliver;
  bool toNext = next && next - (b + size) <= kSliver;
  if (toPrev) {
    uInt32 newEnd = toNext ? next + TotalSize(h, next) : b + size;
    if (toNext) SetLink(h, prev, Link(h, next));
    Wr(h, prev, (newEnd - prev) | kFreeBit);
  } else if (toNext) {
    uInt32 newEnd = next + TotalSize(h, next);
    SetLink(h, b, Link(h, next));
    Wr(h, b, (newEnd - b) | kFreeBit);
    if (prev)
      SetLink(h, prev, b);
    else
      Wr(h, kOHFreeHead, b);
  } else if (size == kSliver) {
    // A sliver stays outside the list.
  } else {
    SetLink(h, b, next);
    if (prev)
      SetLink(h, prev, b);
    else
      Wr(h, kOHFreeHead, b);
  }
}

// Frees the bytes [b, b + size) as a block of their own.
void FreeRange(ObjHeap h, uInt32 b, uInt32 size) {
  if (size == 0) return;
  Wr(h, b, size | kFreeBit);
  if (size >= 8) Wr(h, b + 4, 0);
  if (size >= kOHBlockHeader) Wr(h, b + 8, 0);
  InsertFree(h, b);
}

// Removes the listed free block b; `prev` is its predecessor on the list or 0.
void Unlink(ObjHeap h, uInt32 prev, uInt32 b) {
  if (prev)
    SetLink(h, prev, Link(h, b));
  else
    Wr(h, kOHFreeHead, Link(h, b));
}

// First fit: a used block of s.total bytes, or 0 when no free block is large enough.
uInt32 TakeFree(ObjHeap h, const Sizing& s) {
  Busy busy(h);
  uInt32 prev = 0;
  for (uInt32 f = Rd(h, kOHFreeHead); f; prev = f, f = Link(h, f)) {
    uInt32 size = TotalSize(h, f);
    if (size < s.total) continue;
    uInt32 rem = size - s.total;
    if (rem < 4) {
      Unlink(h, prev, f);
      Wr(h, f, size | s.pad);
    } else {
      uInt32 rest = f + s.total;
      uInt32 link = Link(h, f);
      Wr(h, f, s.total | s.pad);
      Wr(h, rest, rem | kFreeBit);
      if (rem == kSliver) {
        if (prev) SetLink(h, prev, link); else Wr(h, kOHFreeHead, link);
      } else {
        SetLink(h, rest, link);
        if (prev) SetLink(h, prev, rest); else Wr(h, kOHFreeHead, rest);
      }
    }
    Wr(h, f + 4, 0);
    Wr(h, f + 8, 0);
    std::memset(*h + f + kOHBlockHeader, 0, TotalSize(h, f) - kOHBlockHeader);
    return f;
  }
  return 0;
}

// Finds a block, growing the heap as needed: by n + X, n + X/2, n + 2,048, then n.
uInt32 TakeFreeOrGrow(ObjHeap h, uInt32 n, const Sizing& s) {
  if (uInt32 b = TakeFree(h, s)) return b;
  int32 hsize = AZGetHandleSize(h);
  if (hsize < 0) return 0;
  uInt32 H = uInt32(hsize);
  uInt32 X = H < 65536 ? 2 * H : H + 65536;
  const uInt32 tries[4] = {n + X, n + X / 2, n + 2048, n};
  bool grown = false;
  for (uInt32 t : tries) {
    if (t > 0x7FFFFF00u - H) continue;
    if (OHGrowHeap(h, int32(t)) == kNoErr) {
      grown = true;
      break;
    }
  }
  if (!grown) return 0;
  return TakeFree(h, s);
}

// The listed free block that starts where [from, to) ends (within a sliver), with its predecessor.
bool FreeAfter(ObjHeap h, uInt32 to, uInt32* found, uInt32* foundPrev) {
  uInt32 prev = 0;
  for (uInt32 f = Rd(h, kOHFreeHead); f; prev = f, f = Link(h, f)) {
    if (f < to) continue;
    if (f - to <= kSliver) {
      *found = f;
      *foundPrev = prev;
      return true;
    }
    return false;
  }
  return false;
}

// The listed free block that ends where b starts (within a sliver), with its predecessor.
bool FreeBefore(ObjHeap h, uInt32 b, uInt32* found, uInt32* foundPrev) {
  uInt32 prev = 0, best = 0, bestPrev = 0;
  bool any = false;
  for (uInt32 f = Rd(h, kOHFreeHead); f && f < b; prev = f, f = Link(h, f)) {
    best = f;
    bestPrev = prev;
    any = true;
  }
  if (!any) return false;
  uInt32 end = best + TotalSize(h, best);
  if (end > b || b - end > kSliver) return false;
  *found = best;
  *foundPrev = bestPrev;
  return true;
}

// Visits each used block in offset order.
template <typename F>
int32 WalkUsed(ObjHeap h, F f) {
  int32 result = 0;
  uInt32 b = Rd(h, kOHBlockStart);
  while (b < AreaEnd(h)) {
    uInt32 size = TotalSize(h, b);
    if (size == 0) {
      DBAssert(kSourceFile, __LINE__, "corrupt object heap block size");
      break;
    }
    if (!IsFree(h, b)) {
      result = f(b + kOHBlockHeader);
      if (result == kOHStopEnum) return result;
      // The procedure may have resized or freed the block: go on from what is there now.
      uInt32 now = TotalSize(h, b);
      if (!IsFree(h, b) && now >= kOHBlockHeader) size = now;
    }
    b += size;
  }
  return result;
}

}  // namespace

// ---- Heaps -----------------------------------------------------------------------------

std::atomic<uInt32> gOHLayoutChanges{0};

namespace {
// Counted before the change: a memo read after it never sees the old count.
// The count stays at its end once there.
inline void NoteLayoutChange() {
  uInt32 c = gOHLayoutChanges.load(std::memory_order_relaxed);
  while (c != kOHLayoutCountEnd && !gOHLayoutChanges.compare_exchange_weak(c, c + 1, std::memory_order_relaxed)) {
  }
}
}  // namespace

ObjHeap OHNewHeap(int32 dataSize, uInt32 kind, int32 extSize, int32 extClass) {
  NoteLayoutChange();
  if (dataSize < 0 || extSize < 0) {
    DBAssert(kSourceFile, __LINE__, "negative object heap size");
    return nullptr;
  }
  uInt32 t = ((uInt32(dataSize) + 3) & ~3u) + ((uInt32(extSize) + 3) & ~3u);
  if (t > 0x7FFFFF00u) return nullptr;
  ObjHeap h = AZNewHClr(int32(t + 80));
  if (!h) return nullptr;
  OHLinkHeap(h);
  Wr(h, kOHFlags, 0);
  Wr(h, kOHKind, kind);
  Wr(h, kOHBlockStart, kOHHeaderSize);
  Wr(h, kOHBlockStart2, kOHHeaderSize);
  Wr(h, kOHFreeHead, kOHHeaderSize);
  Wr(h, kOHPassKind, 0);
  Wr(h, kOHEndOffset, t + 79);
  Wr(h, kOHHeaderSize, (t + 24) | kFreeBit);
  Wr(h, kOHHeaderSize + 4, 0);
  if (extSize >= 1) {
    int32 ext = OHNewBlock(h, int32((uInt32(extSize) + 3) & ~3u), extClass);
    if (!ext) DBAssert(kSourceFile, __LINE__, "object heap extension block");
    Wr(h, kOHExtension, uInt32(ext));
  }
  return h;
}

void OHLinkHeap(ObjHeap heap) {
  if (!heap) return;
  Wr(heap, kOHNextHeap, uInt32(uintptr_t(gHeapList)));
  gHeapList = heap;
  gListChanged = 1;
}

void OHDisposeHeap(ObjHeap heap) {
  NoteLayoutChange();
  if (!heap) return;
  ObjHeap* link = &gHeapList;
  while (*link && *link != heap) link = reinterpret_cast<ObjHeap*>(**link + kOHNextHeap);
  if (!*link) {
    DBAssert(kSourceFile, __LINE__, "object heap not in the heap list");
  } else {
    *link = reinterpret_cast<ObjHeap>(uintptr_t(Rd(heap, kOHNextHeap)));
    gListChanged = 1;
  }
  AZDisposeHandle(heap);
}

ObjHeap OHFirstHeap() { return gHeapList; }
ObjHeap OHNextHeap(ObjHeap heap) { return heap ? reinterpret_cast<ObjHeap>(uintptr_t(Rd(heap, kOHNextHeap))) : nullptr; }
Bool32 OHListChanged() { return gListChanged; }
void OHClearListChanged() { gListChanged = 0; }
uInt16 OHBlockFreed() { return gBlockFreed; }
void OHClearBlockFreed() { gBlockFreed = 0; }

MgErr OHGrowHeap(ObjHeap heap, int32 size) {
  NoteLayoutChange();
  if (!heap || size < 0) {
    DBAssert(kSourceFile, __LINE__, "bad object heap growth");
    return kArgErr;
  }
  uInt32 add = (uInt32(size) + 3) & ~3u;
  if (add == 0) return kNoErr;
  int32 old = AZGetHandleSize(heap);
  if (old < 0) return kZoneErr;
  if (add > 0x7FFFFFFFu - uInt32(old)) return kMemFullErr;
  MgErr err = AZSetHandleSize(heap, int32(uInt32(old) + add));
  if (err) return err;
  Busy busy(heap);
  uInt32 b = AreaEnd(heap);
  Wr(heap, kOHEndOffset, Rd(heap, kOHEndOffset) + add);
  FreeRange(heap, b, add);
  return kNoErr;
}

// ---- Blocks ------------------------------------------------------------------------------

int32 OHNewBlock(ObjHeap heap, int32 size, int32 cls) {
  NoteLayoutChange();
  if (!heap || size < 0 || cls < 1) {
    DBAssert(kSourceFile, __LINE__, "bad object heap block request");
    return 0;
  }
  Sizing s = SizeFor(uInt32(size));
  uInt32 b = TakeFreeOrGrow(heap, uInt32(size), s);
  if (!b) return 0;
  Wr(heap, b + 8, uInt32(cls));
  SetCopyForward(heap, b);
  return int32(b + kOHBlockHeader);
}

void OHDisposeBlock(ObjHeap heap, int32 offset) {
  NoteLayoutChange();
  uInt32 b;
  if (!BlockOf(heap, offset, &b)) return;
  if (IsFree(heap, b)) {
    DBAssert(kSourceFile, __LINE__, "object heap block freed twice");
    return;
  }
  Wr(heap, b + 8, 0);
  Busy busy(heap);
  gBlockFreed = 1;
  Wr(heap, b, TotalSize(heap, b) | kFreeBit);
  InsertFree(heap, b);
}

int32 OHBlockSize(ObjHeap heap, int32 offset) {
  uInt32 b;
  if (!BlockOf(heap, offset, &b)) return 0;
  return int32(UsableOf(SizeWord(heap, b)));
}

void OHSetBlockClass(ObjHeap heap, int32 offset, int32 cls) {
  NoteLayoutChange();
  uInt32 b;
  if (!BlockOf(heap, offset, &b)) return;
  Wr(heap, b + 8, uInt32(cls));
}

int32 OHBlockClass(ObjHeap heap, int32 offset) {
  uInt32 b;
  if (!BlockOf(heap, offset, &b)) return 0;
  return int32(Rd(heap, b + 8));
}

bool OHIsUsedBlock(ObjHeap heap, int32 offset) {
  int32 usable = 0, cls = 0;
  return OHUsedBlockRead(heap, offset, &usable, &cls);
}

bool OHIsUsedBlockOf(ObjHeap heap, int32 offset, int32 bytes) { return OHUsedBlockHolds(heap, offset, bytes); }

int32 OHBlockMarkWord(ObjHeap heap, int32 offset) {
  uInt32 b;
  if (!BlockOf(heap, offset, &b)) return 0;
  return int32(Link(heap, b));
}

void OHSetBlockMarkWord(ObjHeap heap, int32 offset, int32 value) {
  uInt32 b;
  if (!BlockOf(heap, offset, &b)) return;
  SetLink(heap, b, uInt32(value));
}

MgErr OHSetBlockSize(ObjHeap heap, int32* offset, int32 size) {
  NoteLayoutChange();
  uInt32 b;
  if (!offset || !BlockOf(heap, *offset, &b) || size < 0) {
    if (size < 0) DBAssert(kSourceFile, __LINE__, "negative object heap block size");
    return kArgErr;
  }
  if (IsFree(heap, b)) {
    DBAssert(kSourceFile, __LINE__, "resizing a free object heap block");
    return kArgErr;
  }
  Sizing s = SizeFor(uInt32(size));
  uInt32 word = SizeWord(heap, b);
  uInt32 B = word & kSizeMask;
  uInt32 oldUsable = UsableOf(word);
  if (s.total < B) {
    Wr(heap, b, s.total | s.pad);
    Busy busy(heap);
    FreeRange(heap, b + s.total, B - s.total);
  } else if (s.usable + kOHBlockHeader > B) {
    uInt32 next = 0, nextPrev = 0, prevFree = 0, prevPrev = 0;
    bool haveNext = FreeAfter(heap, b + B, &next, &nextPrev);
    uInt32 spanEnd = haveNext ? next + TotalSize(heap, next) : b + B;
    if (haveNext && spanEnd - b >= s.total) {
      // Grow into the free block that follows.
      Busy busy(heap);
      Unlink(heap, nextPrev, next);
      Wr(heap, b, s.total | s.pad);
      std::memset(*heap + b + kOHBlockHeader + oldUsable, 0, s.total - kOHBlockHeader - oldUsable);
      FreeRange(heap, b + s.total, spanEnd - (b + s.total));
    } else if (FreeBefore(heap, b, &prevFree, &prevPrev) && spanEnd - prevFree >= s.total) {
      // Move down into the free block before it (and the one after, if adjacent).
      Busy busy(heap);
      if (haveNext) Unlink(heap, nextPrev, next);
      // prevFree's predecessor is unchanged by removing a later block.
      Unlink(heap, prevPrev, prevFree);
      std::memmove(*heap + prevFree, *heap + b, B);
      uInt32 nb = prevFree;
      Wr(heap, nb, s.total | s.pad);
      std::memset(*heap + nb + kOHBlockHeader + oldUsable, 0, s.total - kOHBlockHeader - oldUsable);
      FreeRange(heap, nb + s.total, spanEnd - (nb + s.total));
      b = nb;
      *offset = int32(nb + kOHBlockHeader);
    } else {
      // Move to a new block.
      int32 cls = int32(Rd(heap, b + 8));
      uInt32 nb = TakeFreeOrGrow(heap, uInt32(size), s);
      if (!nb) return kMemFullErr;
      Wr(heap, nb + 8, uInt32(cls));
      std::memcpy(*heap + nb + kOHBlockHeader, *heap + b + kOHBlockHeader, B - kOHBlockHeader);
      Wr(heap, b + 8, 0);
      {
        Busy busy(heap);
        gBlockFreed = 1;
        Wr(heap, b, B | kFreeBit);
        InsertFree(heap, b);
      }
      b = nb;
      *offset = int32(nb + kOHBlockHeader);
    }
  } else {
    Wr(heap, b, B | s.pad);
  }
  SetCopyForward(heap, b);
  return kNoErr;
}

int32 OHCopyBlock(ObjHeap src, int32 offset, ObjHeap dst) {
  uInt32 b;
  if (!BlockOf(src, offset, &b) || !dst) return 0;
  int32 usable = int32(UsableOf(SizeWord(src, b)));
  int32 cls = int32(Rd(src, b + 8));
  int32 n = OHNewBlock(dst, usable, cls < 1 ? 1 : cls);
  if (!n) return 0;
  std::memcpy(*dst + n, *src + offset, size_t(usable));
  return n;
}

int32 OHEnumBlocks(ObjHeap heap, OHBlockProc proc) {
  if (!heap || !proc) {
    DBAssert(kSourceFile, __LINE__, "no object heap");
    return 0;
  }
  return WalkUsed(heap, [&](uInt32 off) { return proc(heap, int32(off)); });
}

void OHForEachBlock(ObjHeap heap, OHBlockProc proc) {
  if (!heap || !proc) {
    DBAssert(kSourceFile, __LINE__, "no object heap");
    return;
  }
  WalkUsed(heap, [&](uInt32 off) {
    proc(heap, int32(off));
    return 0;
  });
}

void OHForEachBlockWith(ObjHeap heap, OHBlockContextProc proc, void* context) {
  if (!heap || !proc) {
    DBAssert(kSourceFile, __LINE__, "no object heap");
    return;
  }
  WalkUsed(heap, [&](uInt32 off) {
    proc(heap, int32(off), context);
    return 0;
  });
}

// ---- Mark passes ----------------------------------------------------------------------

int32 OHBeginMarkPass(ObjHeap heap, int32 kind) {
  if (!heap || kind < 1 || kind > 17) {
    DBAssert(kSourceFile, __LINE__, "bad mark pass kind");
    return 0;
  }
  if (Flags(heap) & kOHMarkPass) {
    if (Rd16(heap, kOHPassKind) != uInt16(kind)) {
      DBAssert(kSourceFile, __LINE__, "mark pass of another kind is running");
      return 0;
    }
    Wr16(heap, kOHPassCount, uInt16(Rd16(heap, kOHPassCount) + 1));
    return 0;
  }
  SetFlags(heap, Flags(heap) | kOHMarkPass);
  Wr16(heap, kOHPassKind, uInt16(kind));
  Wr16(heap, kOHPassCount, 1);
  WalkUsed(heap, [&](uInt32 off) {
    SetLink(heap, off - kOHBlockHeader, 0);
    return 0;
  });
  return 1;
}

int32 OHEndMarkPass(ObjHeap heap) {
  if (!heap) return 0;
  uInt16 count = Rd16(heap, kOHPassCount);
  if (count < 1) {
    DBAssert(kSourceFile, __LINE__, "mark pass ended without a begin");
    return 0;
  }
  Wr16(heap, kOHPassCount, uInt16(count - 1));
  if (count - 1 > 0) return 0;
  SetFlags(heap, Flags(heap) & ~kOHMarkPass);
  Wr16(heap, kOHPassKind, 0);
  return 1;
}

void OHSetMarkWords(ObjHeap heap, int32 value) {
  if (!heap || !(Flags(heap) & kOHMarkPass)) {
    DBAssert(kSourceFile, __LINE__, "mark words set outside a mark pass");
    return;
  }
  WalkUsed(heap, [&](uInt32 off) {
    SetLink(heap, off - kOHBlockHeader, uInt32(value));
    return 0;
  });
}

// ---- Byte order -------------------------------------------------------------------------

namespace {

inline uInt32 Bswap(uInt32 v) { return __builtin_bswap32(v); }
inline void Swap32At(ObjHeap h, uInt32 at) { Wr(h, at, Bswap(Rd(h, at))); }
inline void Swap16At(ObjHeap h, uInt32 at) { Wr16(h, at, __builtin_bswap16(Rd16(h, at))); }

void SwapHeader(ObjHeap h) {
  for (uInt32 at : {kOHFlags, kOHExtension, kOHBlockStart, kOHBlockStart2, kOHFreeHead, kOHEndOffset})
    Swap32At(h, at);
  Swap16At(h, kOHPassKind);
  Swap16At(h, kOHPassCount);
}

// Checks a heap in file order before anything is swapped.
bool ValidFileHeap(ObjHeap h) {
  int32 hsize = AZGetHandleSize(h);
  if (hsize < int32(kOHHeaderSize)) return false;
  uInt32 size = uInt32(hsize);
  auto be = [&](uInt32 at) { return Bswap(Rd(h, at)); };
  if (be(kOHBlockStart) != kOHHeaderSize || be(kOHBlockStart2) != kOHHeaderSize) return false;
  if (be(kOHFlags) & (kOHMarkPass | kOHBusy)) return false;
  if (Rd(h, kOHPassKind) != 0) return false;
  if (uInt64(be(kOHEndOffset)) + 1 != size) return false;
  std::vector<uInt32> freeBlocks;
  // The extension, when named, is the data of a used block.
  const uInt32 ext = be(kOHExtension);
  bool extFound = ext == 0;
  uInt32 b = kOHHeaderSize;
  while (b < size) {
    if (size - b < 4) return false;
    uInt32 word = be(b);
    uInt32 total = word & kSizeMask;
    if (total < 4 || total > size - b) return false;
    if (word & kFreeBit) {
      if (total != kSliver) {
        if (total < 8) return false;
        freeBlocks.push_back(b);
      }
    } else {
      if (total < kOHBlockHeader) return false;
      if ((word & kPadBit) && total < kOHBlockHeader + 4) return false;  // no room for the padding
      if (int32(be(b + 8)) < 1) return false;
      if (b + kOHBlockHeader == ext) extFound = true;
    }
    b += total;
  }
  if (b != size) return false;
  // The free list ascends through free blocks only.
  uInt32 prev = 0;
  size_t idx = 0;
  for (uInt32 f = be(kOHFreeHead); f; f = be(f + 4)) {
    if (f <= prev) return false;
    while (idx < freeBlocks.size() && freeBlocks[idx] < f) ++idx;
    if (idx == freeBlocks.size() || freeBlocks[idx] != f) return false;
    prev = f;
  }
  return extFound;
}

}  // namespace

MgErr OHByteSwapHeap(ObjHeap heap, OHSwapProc proc, int32 toBigEndian) {
  NoteLayoutChange();
  if (!heap || !*heap) {
    DBAssert(kSourceFile, __LINE__, "no object heap");
    return kArgErr;
  }
  if (!toBigEndian) {
    if (!ValidFileHeap(heap)) return kArgErr;
    SwapHeader(heap);
    uInt32 end = AreaEnd(heap);
    for (uInt32 b = Rd(heap, kOHBlockStart); b < end;) {
      Swap32At(heap, b);
      uInt32 word = Rd(heap, b);
      uInt32 total = word & kSizeMask;
      if (total >= 8) Swap32At(heap, b + 4);
      if (!(word & kFreeBit)) Swap32At(heap, b + 8);
      b += total;
    }
    if (proc) {
      MgErr err = kNoErr;
      WalkUsed(heap, [&](uInt32 off) {
        err = proc(heap, int32(off), 0);
        return err ? kOHStopEnum : 0;
      });
      if (err) return err;
    }
    return kNoErr;
  }
  if (proc) {
    MgErr err = kNoErr;
    WalkUsed(heap, [&](uInt32 off) {
      err = proc(heap, int32(off), 1);
      return err ? kOHStopEnum : 0;
    });
    if (err) return err;
  }
  uInt32 end = AreaEnd(heap);
  for (uInt32 b = Rd(heap, kOHBlockStart); b < end;) {
    uInt32 word = Rd(heap, b);
    uInt32 total = word & kSizeMask;
    if (total < 1) {
      DBAssert(kSourceFile, __LINE__, "corrupt object heap block size");
      return kArgErr;
    }
    Swap32At(heap, b);
    if (total >= 8) Swap32At(heap, b + 4);
    if (!(word & kFreeBit)) Swap32At(heap, b + 8);
    b += total;
  }
  SwapHeader(heap);
  return kNoErr;
}
