// A panel's selection: the list of selected objects that the heap extension
// names (a list block of the heap, 0 when the panel has none yet).  Only what
// the engine asks of it is here: adding an object and emptying the list.
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/objlist.h"
#include "panel/fppanel.h"
#include "panel/objects.h"

namespace {

int32 ExtOffset(ObjHeap heap) { return heap && *heap ? int32(OHWord(heap, kOHExtension)) : 0; }

struct Find {
  int32 offset;
  bool found;
};

// The selection list's offset when the extension names a list block of the
// heap; a stored heap may name anything, so the name is looked for among the
// heap's blocks before it is used.
int32 SelectionList(ObjHeap heap) {
  const int32 ext = ExtOffset(heap);
  if (ext <= 0) return 0;
  Find f{int32(GetNative32(*heap + ext + kHeapExtSelection)), false};
  if (f.offset <= 0) return 0;
  OHForEachBlockWith(heap, [](ObjHeap h, int32 off, void* c) -> int32 {
    Find* f = static_cast<Find*>(c);
    if (off == f->offset && OHBlockClass(h, off) == kObjClassList) f->found = true;
    return 0;
  }, &f);
  return f.found ? f.offset : 0;
}

}  // namespace

MgErr FPSelectObject(ObjHeap heap, int32 object) {
  const int32 ext = ExtOffset(heap);
  if (ext <= 0 || object <= 0) return kArgErr;
  int32 list = SelectionList(heap);
  if (!list) {
    list = OHNewBlock(heap, kObjListNewSize, kObjClassList);
    if (!list) return kMemFullErr;
    PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtSelection, uInt32(list));
  }
  if (OHListFind(heap, list, object) >= 0) return kNoErr;
  int32 moved = list;
  if (MgErr e = OHListInsert(heap, &moved, object, kObjListAppend)) return e;
  if (moved != list) PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtSelection, uInt32(moved));
  return kNoErr;
}

int32 FPSelectionCount(ObjHeap heap) {
  const int32 list = SelectionList(heap);
  return list ? ObjListCount(heap, list) : 0;
}

int32 FPIsSelected(ObjHeap heap, int32 object) {
  const int32 list = SelectionList(heap);
  if (!list || object <= 0) return 0;
  const int32 n = ObjListCount(heap, list);
  if (n < 0 || 4 + int64(4) * n > OHBlockSize(heap, list)) return 0;
  for (int32 i = 0; i < n; ++i)
    if (ObjListGet(heap, list, i) == object) return 1;
  return 0;
}

int32 FPSelectedObject(ObjHeap heap, int32 index) {
  const int32 list = SelectionList(heap);
  if (!list || index < 0) return 0;
  const int32 n = ObjListCount(heap, list);
  if (index >= n || 4 + int64(4) * n > OHBlockSize(heap, list)) return 0;
  return ObjListGet(heap, list, index);
}

void FPEmptySelection(ObjHeap heap) {
  const int32 list = SelectionList(heap);
  if (!list) return;
  while (ObjListCount(heap, list) > 0) OHListRemove(heap, list, ObjListCount(heap, list) - 1);
}
