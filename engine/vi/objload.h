// The load and unload steps of the objects of a panel heap read from a VI
// file.
//
// While a heap is stored, the word 8 bytes before each object (its block's
// copy-forward word, OHBlockMarkWord) holds the object's resource number n;
// the object's own resources carry the numbers n + 1, n + 2, ... in the order
// its load method reads them.  The heap loader (LoadVIHeap) calls:
//
//   ClearObjLoadAbort();
//   int32 r = OLoadHeapObjects(heap, file);       // 0, or kOHStopEnum
//   if (r) {                                      // ObjLoadAbort() names heap, fence, error
//     ODisposeAfterAbort(heap);                   // unloads what was loaded
//     ClearObjLoadAbort();
//   }
//
// The objects receive their load (slot 12) and unload (slot 13) messages
// through the object system's hooks below; the class methods themselves are
// the object system's (they read their resources with RGetObjRsrc and their
// data offsets with DSOffsetForType).  Loading runs on the user-interface
// thread, one heap at a time.
#pragma once
#include "engine/vi/loaderr.h"
#include "mgsource/objheap.h"
#include "mgsource/rsrc.h"

// ---- The resource counter ------------------------------------------------------------
// Sets the counter and returns the value set.
QX_EXTERN_C int32 SetRsrcCounter(int32 value);
// Adds 1 to the counter and returns the new value.
QX_EXTERN_C int32 GetRsrcCounter();

// ---- The abort record ------------------------------------------------------------------
// Filled by the load step when an object's load fails: the heap, the failing
// object's offset (the fence) and the method's error.
struct ObjLoadAbortRecord {
  ObjHeap heap;
  int32 fence;
  int32 error;
};
const ObjLoadAbortRecord& ObjLoadAbort();
void ClearObjLoadAbort();
// The operator's abort of a VI load: set by an object whose load failed when
// the operator chose to abort (nonzero), read and cleared by the heap loader.
QX_EXTERN_C void SetVILoaderAbort(int32 on);
QX_EXTERN_C int32 VILoaderAbort();

// ---- The object system's messages -----------------------------------------------------
// OLoad (slot 12) answers 0 or an error; ODispose (slot 13) answers 0.  A
// member left null does nothing and answers 0.
struct ObjLoadHooks {
  int32 (*oLoad)(ObjHeap heap, int32 object);
  int32 (*oDispose)(ObjHeap heap, int32 object);
};
void SetObjLoadHooks(const ObjLoadHooks* hooks);
const ObjLoadHooks& ObjLoadHooksInUse();

// ---- The broadcast ---------------------------------------------------------------------
// The per-object load step (an OHBlockProc): takes the resource number from
// the block header (nonzero: it becomes the counter), writes the object's
// offset there, and sends OLoad when the number was nonzero; a failure fills
// the abort record and answers kOHStopEnum.
QX_EXTERN_C int32 OLoadStep(ObjHeap heap, int32 object);
// The per-object unload step after an aborted load: only for the heap of
// the abort record; an object after the fence that still holds its resource
// number is skipped, every other object receives ODispose.
QX_EXTERN_C int32 ODisposeAfterAbortStep(ObjHeap heap, int32 object);

// Sends every object of the heap the load step with file as the file the
// methods read their resources from; answers what the enumeration answers
// (0, or kOHStopEnum after a failure).
QX_EXTERN_C int32 OLoadHeapObjects(ObjHeap heap, RsrcFileRef file);
// Sends the unload step after an aborted load to every object of the heap.
QX_EXTERN_C void ODisposeAfterAbort(ObjHeap heap);
// Sends ODispose to every object of a loaded heap.
QX_EXTERN_C void ODisposeHeapObjects(ObjHeap heap);

// The file that the load methods read from (0 outside OLoadHeapObjects).
RsrcFileRef ObjLoadFile();

// Reads the resource of that type whose id is the next resource number
// (GetRsrcCounter) from the file being loaded and detaches it: 0, or the
// error of the read (a missing resource, no file being loaded).
QX_EXTERN_C MgErr RGetObjRsrc(ResType type, UHandle* handle);

// The load method that the object system uses while a heap loads for an
// object of a class it does not know: sets the load error 26 and answers 74.
QX_EXTERN_C int32 BadProcLoadMethod(ObjHeap heap, int32 object);
constexpr LoadErrorCode kLoadErrUnknownObjects = kLoadErrBadClass;
constexpr int32 kBadProcLoadResult = 74;

// The data-space offset of a data object of the VI: with compiled code the
// stored offset; without, the aligned offset of the element of the VI's
// data-space type map whose descriptor starts at byte position of the map.
// 0 when the position is no element start of the map or the map is missing
// or malformed.
QX_EXTERN_C int32 DSOffsetForType(UHandle vi, int32 storedOffset, int32 position);
// The data size of the map element at that position; -1 when it is none.
int32 DSTypeSizeAt(UHandle vi, int32 position);
