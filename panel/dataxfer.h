// Drops onto panel objects, listbox row counts and the identity routine that
// external code calls.
//
// A transfer record lets one routine take a drop alike whether the
// dropped items are panel objects (an offset list inside a heap) or the
// items of a drag from outside (files or text of a DragData).  The item
// accessors share one calling form: the record's seven words as they were
// pushed, the item's index, and an output.  Reading the second or the
// fourth word of that form is thus the record's result or item count.
//
// User-interface thread only.
#pragma once
#include <cstddef>

#include "mgsource/path.h"
#include "mgsource/window/wdrag.h"
#include "panel/objects.h"

struct DataXferRec {
  ObjHeap heap;    // the heap holding the items (object transfers), else null
  int32 result;    // a word a callback may set
  int32 list;      // offset of the items' offset list (object transfers)
  int32 count;     // the number of items
  int32 kind;      // 0xF0: object transfer; low four bits: the drag's flavour
  DragData drag;   // the drag's data (drag transfers)
  int32 param;     // kept for the caller
};
static_assert(sizeof(void*) != 4 || (sizeof(DataXferRec) == 28 && offsetof(DataXferRec, count) == 12 &&
                                     offsetof(DataXferRec, drag) == 20),
              "transfer record words");
constexpr int32 kDataXferObjKind = 0xF0, kDataXferDragKind = 0x0F;

// An object transfer over the heap's offset list (0 items without heap or
// list); kArgErr without a record.
QX_EXTERN_C MgErr DataXferInitObj(ObjHeap heap, int32 list, int32 param, DataXferRec* rec);
// A drag transfer: the item count of that flavour (kDragKindDrop or
// kDragKindDataObject), the item flags built for reading.  A drag handle
// that is not a live drag record, or another flavour, leaves 0 items and
// answers kArgErr; otherwise the flag building's error.
QX_EXTERN_C MgErr DataXferInitDrag(DragData drag, int32 flavour, DataXferRec* rec);
// Sets the list and counts the items again; 1 (0 without a record).
QX_EXTERN_C int32 DataXferSetObject(DataXferRec* rec, int32 list);
// Stores the result word; 1 (0 without a record).
QX_EXTERN_C int32 DataXferSetResult(DataXferRec* rec, int32 value);

// The item accessors (the common form above; out is used only where named).
typedef int32 (*DataXferItemProc)(DataXferRec rec, int32 index, void* out);
// 1 for an object transfer.
QX_EXTERN_C int32 DataXferIsObjKind(DataXferRec rec, int32 index, void* out);
// 1 when item index stands for a VI: a linked type definition or the
// heap's connector pane (its owner VI); of a drag, a file.
QX_EXTERN_C int32 DataXferItemHasVI(DataXferRec rec, int32 index, void* out);
// 1 when item index stands for a VI whose record holds a path; of a drag,
// a file.
QX_EXTERN_C int32 DataXferItemIsPath(DataXferRec rec, int32 index, void* out);
// Objects: 1.  Drags: the item's text read into out (an LStrHandle): the
// reader's error, kArgErr for an item outside the count or a bad handle.  A
// null out is an assertion and answers kArgErr.
QX_EXTERN_C int32 DataXferItemData(DataXferRec rec, int32 index, void* out);
// The item's path into out (a Path, emptied first for objects): the copy's
// or the reader's error; kArgErr (1) when the item stands for no VI with a
// path, is outside the count, or out is not a path handle.
QX_EXTERN_C int32 DataXferItemPath(DataXferRec rec, int32 index, void* out);
// The second and the fourth word of the form: the result and the count.
QX_EXTERN_C int32 DataXferPassArg2(DataXferRec rec, int32 index, void* out);
QX_EXTERN_C int32 DataXferPassArg4(DataXferRec rec, int32 index, void* out);
// For a "Path" control as the drop target, DataXferItemIsPath of the item;
// 0 for a target of any other class.
QX_EXTERN_C int32 DataXferPathCheck(DataXferRec rec, int32 index, ObjHeap targetHeap, int32 target);

// Answers its argument (exported also as QXMakeProcInstance); it reads
// nothing through it.
QX_EXTERN_C uintptr_t IdChk(uintptr_t value);
QX_EXTERN_C uintptr_t QXMakeProcInstance(uintptr_t value);

// Sets a listbox's number of visible rows, fewer when the list area (part
// 26) would reach coordinate 16000; 1 when the number changed.  A row height
// below 1, negative rows, or an object that is not a listbox with a list
// area change nothing (0).
QX_EXTERN_C int32 ListboxSetRowCount(ObjHeap heap, int32 listbox, int32 rows);
constexpr int32 kListboxRowHeightByte = 56, kListboxVisibleRowsByte = 58, kListboxListPart = 26;
constexpr int32 kCoordinateLimit = 16000;

// Orders two 32-bit unsigned values for QSort: -1, 0 or 1.
QX_EXTERN_C int32 CompareU32(const void* a, const void* b);
