// Offset lists inside object heaps.
#include "objlist.h"

#include <cstdint>
#include <cstring>

#include "debug.h"
#include "memory.h"

namespace {

// Reports name this source.
const char kSourceFile[] = "objlist";

inline int32 Rd(ObjHeap h, int32 at) {
  int32 v;
  std::memcpy(&v, *h + at, 4);
  return v;
}
inline void Wr(ObjHeap h, int32 at, int32 v) { std::memcpy(*h + at, &v, 4); }

// The list's count and usable size, after checking that the entries fit the block.
bool Shape(ObjHeap heap, int32 list, int32* count, int32* usable) {
  if (!heap || !*heap || list == 0) {
    DBAssert(kSourceFile, __LINE__, "no offset list");
    return false;
  }
  int32 size = OHBlockSize(heap, list);  // asserts for an offset outside the heap
  if (size < 4) {
    if (size > 0) DBAssert(kSourceFile, __LINE__, "offset list block too small");
    return false;
  }
  int32 n = Rd(heap, list);
  if (n < 0 || n > (size - 4) / 4) {
    DBAssert(kSourceFile, __LINE__, "offset list count does not fit its block");
    return false;
  }
  *count = n;
  *usable = size;
  return true;
}

inline int32 EntryAt(int32 list, int32 i) { return list + 4 + 4 * i; }

// Shrinks the list block in place to newSize bytes (blocks never move when they shrink).
void ShrinkTo(ObjHeap heap, int32 list, int32 newSize) {
  int32 at = list;
  OHSetBlockSize(heap, &at, newSize);
  if (at != list) DBAssert(kSourceFile, __LINE__, "offset list moved while shrinking");
}

}  // namespace

MgErr OHListInsert(ObjHeap heap, int32* listOffset, int32 value, int32 index) {
  if (!listOffset) {
    DBAssert(kSourceFile, __LINE__, "no offset list");
    return kArgErr;
  }
  int32 list;
  std::memcpy(&list, listOffset, 4);
  int32 count, usable;
  if (!Shape(heap, list, &count, &usable)) return kArgErr;
  if (usable < 4 * count + 8) {
    // The address of the list's offset may lie inside the heap, which may move.
    uintptr_t base = uintptr_t(*heap), at = uintptr_t(listOffset);
    int32 hsize = AZGetHandleSize(heap);
    bool inHeap = hsize >= 4 && at >= base && at - base <= uintptr_t(hsize - 4);
    int32 rel = int32(at - base);
    int32 moved = list;
    MgErr err = OHSetBlockSize(heap, &moved, (usable + 16) & ~15);
    if (err) return err;
    if (moved != list) {
      list = moved;
      int32* dst = inHeap ? reinterpret_cast<int32*>(*heap + rel) : listOffset;
      std::memcpy(dst, &list, 4);
    }
  }
  if (index < 0) index = 0;
  if (index > count) index = count;
  uChar* p = *heap + EntryAt(list, 0);
  std::memmove(p + 4 * (index + 1), p + 4 * index, size_t(4 * (count - index)));
  Wr(heap, EntryAt(list, index), value);
  Wr(heap, list, count + 1);
  return kNoErr;
}

int32 OHListRemove(ObjHeap heap, int32 list, int32 index) {
  int32 count, usable;
  if (!Shape(heap, list, &count, &usable) || count == 0) return 0;
  if (index < 0) index = 0;
  if (index > count - 1) index = count - 1;
  int32 value = Rd(heap, EntryAt(list, index));
  uChar* p = *heap + EntryAt(list, 0);
  std::memmove(p + 4 * index, p + 4 * (index + 1), size_t(4 * (count - 1 - index)));
  Wr(heap, EntryAt(list, count - 1), 0);
  Wr(heap, list, count - 1);
  if (usable > 4 * count + 16) ShrinkTo(heap, list, (usable & 15) ? usable & ~15 : usable - 16);
  return value;
}

int32 OHListFind(ObjHeap heap, int32 list, int32 value) {
  int32 count, usable;
  if (!Shape(heap, list, &count, &usable)) return -1;
  for (int32 i = count - 1; i >= 0; --i)
    if (Rd(heap, EntryAt(list, i)) == value) return i;
  return -1;
}

int32 ObjListRemove(ObjHeap heap, int32 list, int32 value) {
  if (value == 0) {
    DBAssert(kSourceFile, __LINE__, "removing a zero entry from an offset list");
    return 0;
  }
  int32 i = OHListFind(heap, list, value);
  if (i < 0) return 0;
  OHListRemove(heap, list, i);
  return 1;
}

int32 ObjListIndex(ObjHeap heap, int32 list, int32 oldValue, int32 newValue) {
  int32 i = OHListFind(heap, list, oldValue);
  if (i >= 0) Wr(heap, EntryAt(list, i), newValue);
  return i;
}

void ObjListCompact(ObjHeap heap, int32 list) {
  int32 count, usable;
  if (!Shape(heap, list, &count, &usable)) return;
  int32 kept = 0;
  for (int32 i = 0; i < count; ++i) {
    int32 v = Rd(heap, EntryAt(list, i));
    if (v) Wr(heap, EntryAt(list, kept++), v);
  }
  for (int32 i = kept; i < count; ++i) Wr(heap, EntryAt(list, i), 0);
  Wr(heap, list, kept);
  int32 fit = (4 * kept + 19) & ~15;
  if (usable > fit) ShrinkTo(heap, list, fit);
}

int32 ObjListCount(ObjHeap heap, int32 list) {
  int32 count, usable;
  return Shape(heap, list, &count, &usable) ? count : 0;
}

int32 ObjListGet(ObjHeap heap, int32 list, int32 i) { return Rd(heap, EntryAt(list, i)); }

void ObjListSet(ObjHeap heap, int32 list, int32 i, int32 value) { Wr(heap, EntryAt(list, i), value); }
