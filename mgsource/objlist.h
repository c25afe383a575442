// Offset lists inside object heaps: a block holding an int32 count followed
// by that many int32 values (block offsets of the same heap, or 0 for an
// empty slot).  Part lists of panel objects, the lists of the type heap and
// other lists of objects are kept this way.
//
// The block is kept a multiple of 16 bytes and carries at most 16 bytes
// beyond what its entries need: an insertion that finds no room grows it by
// up to 16 bytes (so the list may move), a removal that leaves more than 16
// spare bytes shrinks it in place.
#pragma once
#include "objheap.h"

// The class of a list object and the size of a new, empty one (a count and
// room for one entry).
constexpr int32 kObjClassList = 7;
constexpr int32 kObjListNewSize = 8;

// OHListInsert's index that appends.
constexpr int32 kObjListAppend = 0x7FFFFFFF;

// Inserts the value at the index (pinned to 0..count), moving the later
// entries up.  The list's offset is read and, when the block moves, rewritten
// through listOffset (which may also point into the heap itself).  0, or the
// growth error with nothing changed.
QX_EXTERN_C MgErr OHListInsert(ObjHeap heap, int32* listOffset, int32 value, int32 index);
// Removes and returns the value at the index (pinned to 0..count-1); 0 and
// nothing changed for an empty list.
QX_EXTERN_C int32 OHListRemove(ObjHeap heap, int32 list, int32 index);
// The index of the last entry equal to the value; -1 when none is.
QX_EXTERN_C int32 OHListFind(ObjHeap heap, int32 list, int32 value);
// Removes the last entry equal to the (non-zero) value; 1 when one was found.
QX_EXTERN_C int32 ObjListRemove(ObjHeap heap, int32 list, int32 value);
// Replaces the last entry equal to oldValue by newValue and returns its
// index; -1 when none is.
QX_EXTERN_C int32 ObjListIndex(ObjHeap heap, int32 list, int32 oldValue, int32 newValue);
// Drops the zero entries, keeping the order of the others.
QX_EXTERN_C void ObjListCompact(ObjHeap heap, int32 list);

// The count of a list and its entry i (0-based, not checked against the
// count: callers check it), and a store into entry i.
int32 ObjListCount(ObjHeap heap, int32 list);
// ObjListCount of a list whose block the caller has checked as used and
// sized (usable bytes, as OHUsedBlockRead gives them): the count word read
// without reading the block's header again.  A list whose count does not
// fit goes through ObjListCount, for its reports.
inline int32 ObjListCountSized(ObjHeap heap, int32 list, int32 usable) {
  if (usable >= 4) {
    int32 n;
    __builtin_memcpy(&n, *heap + list, 4);
    if (n >= 0 && n <= (usable - 4) / 4) return n;
  }
  return ObjListCount(heap, list);
}
// ObjListCount by the inline header read: a used block's usable size is the
// size ObjListCount reads; any other list goes through ObjListCount, for its
// reports.  With a memo, the header read goes through it.
inline int32 ObjListCountRead(ObjHeap heap, int32 list, OHBlockMemo* memo = nullptr) {
  int32 usable = 0, cls = 0;
  return list && (memo ? OHUsedBlockReadMemo(memo, heap, list, &usable, &cls)
                       : OHUsedBlockRead(heap, list, &usable, &cls))
             ? ObjListCountSized(heap, list, usable)
             : ObjListCount(heap, list);
}
int32 ObjListGet(ObjHeap heap, int32 list, int32 i);
void ObjListSet(ObjHeap heap, int32 list, int32 i, int32 value);
