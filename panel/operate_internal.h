// Object access shared by the operate-mode methods (the panel root, data
// objects, Booleans, cosmetics and labels).
#pragma once
#include <cstring>

#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/objheap.h"
#include "panel/objects.h"
#include "panel/transact.h"

namespace opmeth {

// A used block large enough for an object's leading fields.
inline bool IsObject(ObjHeap heap, int32 object) {
  return object > 0 && OHUsedBlockHolds(heap, object, int32(sizeof(ObjLeadingFields)));
}
inline uInt32 Flags(ObjHeap heap, int32 object) { return uInt32(ObjWord(heap, object, 0)); }
inline int16 PartIdOf(ObjHeap heap, int32 object) { return ObjInt16(heap, object, kObjPartId); }
inline Rect BoundsOf(ObjHeap heap, int32 object) {
  Rect r;
  std::memcpy(&r, *heap + object + kObjBounds, sizeof r);
  return r;
}
inline Point PointOf(int32 word) {
  Point p;
  std::memcpy(&p, &word, sizeof p);
  return p;
}
// A word of the heap's extension, 0 past its end.
inline uInt32 ExtWord(ObjHeap heap, int32 at) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 && OHBlockSize(heap, ext) >= at + 4 ? GetNative32(*heap + ext + at) : 0;
}
// The owner VI's second flag word (its modes), 0 without one.
inline uInt32 OwnerMode(ObjHeap heap) {
  const UHandle vi = PanelHeapOwner(heap);
  return vi && *vi ? VIRec(vi)->flags2 : 0;
}
// True when frame and the count frames after it lie on the stack.
inline bool OnStack(const TransactionFrame* frame, int32 count) {
  const auto* block = reinterpret_cast<const TransactionFrame*>(TRStackBlock());
  return block && frame >= block && frame + count <= block + kTransactionStackBytes / int32(sizeof *frame);
}

}  // namespace opmeth
