// The object system's services to the engine's panel routines: the key
// focus handed to an object's text, and a ring's item table grown by one
// item.
#include <cstring>

#include "engine/typemgr.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/byteorder.h"
#include "panel/objects.h"
#include "panel/oinit.h"

namespace {
uChar* Ext(ObjHeap heap, int32 at) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 ? *heap + ext + at : nullptr;
}
}  // namespace

QX_EXTERN_C void FPKeyFocusUpdate(ObjHeap heap, int32 object, int32, void* text) {
  if (!heap || !*heap || !Ext(heap, 0)) return;
  // A different previous focus is released first.
  if (int32(GetNative32(Ext(heap, kHeapExtKeyFocus))) != object) PutNative32(Ext(heap, kHeapExtFocusText), 0);
  PutNative32(Ext(heap, kHeapExtKeyFocus), uInt32(object));
  PutNative32(Ext(heap, kHeapExtFocusText), uInt32(uintptr_t(text)));
}

QX_EXTERN_C MgErr ResizePartObject(ObjHeap heap, int32 ring, int32* part, int32 index) {
  if (!heap || !*heap || !ring || !part || !*part) return kArgErr;
  const int32 old = *part;
  const int32 count = ObjInt16(heap, old, kRingItemCountAt);
  const int32 size = OHBlockSize(heap, old);
  if (count < 0 || size < kRingItemsAt + kRingItemSize * count) return kArgErr;
  if (index < 0) index = 0;
  if (index > count) index = count;
  int32 moved = old;
  if (MgErr err = OHSetBlockSize(heap, &moved, size + kRingItemSize)) return err;
  if (moved != old) {
    const int32 list = ObjWord(heap, ring, kObjPartList / 4);
    if (list) ObjListIndex(heap, list, old, moved);
  }
  uChar* items = *heap + moved + kRingItemsAt;
  std::memmove(items + kRingItemSize * (index + 1), items + kRingItemSize * index,
               size_t(kRingItemSize * (count - index)));
  std::memset(items + kRingItemSize * index, 0, kRingItemSize);
  PutNative16(*heap + moved + kRingItemCountAt, uInt16(count + 1));
  PutNative16(*heap + moved + kRingCurrentAt, uInt16(index));
  *part = moved;
  return kNoErr;
}

void PanelInstallRoutineHooks() {
  PanelRoutineHooks h = PanelRoutines();
  h.findPart = &FindPart;
  h.resizePartObject = &ResizePartObject;
  h.keyFocusUpdate = &FPKeyFocusUpdate;
  SetPanelRoutineHooks(&h);
}
