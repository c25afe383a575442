// The object system's services to the engine's panel routines: the key
// focus handed to an object's text, and a ring's item table grown by one
// item and placed again.
#include <cstring>

#include "engine/typemgr.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "panel/objects.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/transact.h"

namespace {
// Where an item record keeps its picture reference (after its rectangle and
// two further words).
constexpr int32 kRingItemPicture = 16;

Rect RectAt(ObjHeap heap, int32 at) {
  Rect r;
  std::memcpy(&r, *heap + at, sizeof r);
  return r;
}
void SetRectAt(ObjHeap heap, int32 at, const Rect& r) { std::memcpy(*heap + at, &r, sizeof r); }

}  // namespace

// Places every item of the table around the centre of the ring's part 28:
// an item with a picture keeps its size centred on that point, one without
// becomes a point there; the table's bounds become the current item's
// rectangle.  A ring without part 28 is left as it is (reported).
void PlaceRingItems(ObjHeap heap, int32 ring, int32 table) {
  const int32 frame = FindPart(heap, ring, kGroupFramePart, 0);
  if (!frame) {
    DBPrintf("ring %ld: item part without the owner's part 28", ring);
    return;
  }
  const Rect f = RectAt(heap, frame + kPartBoundsAt);
  const int16 cv = int16((f.top + f.bottom) / 2), ch = int16((f.left + f.right) / 2);
  const int32 count = ObjInt16(heap, table, kRingItemCountAt);
  for (int32 i = 0; i < count; ++i) {
    const int32 at = table + kRingItemsAt + kRingItemSize * i;
    Rect r = RectAt(heap, at);
    if (GetNative32(*heap + at + kRingItemPicture) != 0) {
      const int16 height = int16(r.bottom - r.top), width = int16(r.right - r.left);
      r.top = int16(cv - height / 2);
      r.left = int16(ch - width / 2);
      r.bottom = int16(r.top + height);
      r.right = int16(r.left + width);
    } else {
      r = Rect{cv, ch, cv, ch};
    }
    SetRectAt(heap, at, r);
  }
  const int32 current = ObjInt16(heap, table, kRingCurrentAt);
  if (current >= 0 && current < count)
    SetRectAt(heap, table + kPartBoundsAt, RectAt(heap, table + kRingItemsAt + kRingItemSize * current));
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
  PlaceRingItems(heap, ring, moved);
  return kNoErr;
}

QX_EXTERN_C MgErr ShrinkPartObject(ObjHeap heap, int32 ring, int32* part, int32 index) {
  if (!heap || !*heap || !ring || !part || !*part) return kArgErr;
  const int32 old = *part;
  const int32 count = ObjInt16(heap, old, kRingItemCountAt);
  const int32 size = OHBlockSize(heap, old);
  if (count <= 0 || size < kRingItemsAt + kRingItemSize * count) return kArgErr;
  if (index < 0) index = 0;
  if (index > count - 1) index = count - 1;
  uChar* items = *heap + old + kRingItemsAt;
  std::memmove(items + kRingItemSize * index, items + kRingItemSize * (index + 1),
               size_t(kRingItemSize * (count - 1 - index)));
  int32 current = ObjInt16(heap, old, kRingCurrentAt);
  // The item after the removed one takes its place; past the end the
  // previous one is current.
  if (current > index || current > count - 2) current = current > 0 ? current - 1 : 0;
  PutNative16(*heap + old + kRingItemCountAt, uInt16(count - 1));
  PutNative16(*heap + old + kRingCurrentAt, uInt16(current));
  int32 moved = old;
  if (MgErr err = OHSetBlockSize(heap, &moved, size - kRingItemSize)) return err;
  if (moved != old) {
    const int32 list = ObjWord(heap, ring, kObjPartList / 4);
    if (list) ObjListIndex(heap, list, old, moved);
  }
  *part = moved;
  PlaceRingItems(heap, ring, moved);
  return kNoErr;
}

void PanelInstallRoutineHooks() {
  PanelRoutineHooks h = PanelRoutines();
  h.findPart = &FindPart;
  h.resizePartObject = &ResizePartObject;
  h.keyFocusUpdate = [](ObjHeap heap, int32 object, int32 toolbar, void* text) {
    FPKeyFocusUpdate(heap, object, toolbar, text);
  };
  SetPanelRoutineHooks(&h);
}
