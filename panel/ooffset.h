// Moving panel objects by a distance without changing their size (message
// 26): the object and everything it owns move, the old bounds are kept for
// the owner, the object is marked as changed (flag 0x1000), and cached
// images that hold absolute positions are dropped.  The distance is a Point
// in one word: vertical in the low 16 bits, horizontal in the high 16.  The
// first error of a part or element is answered at once; the object's own
// bounds then stay.  User-interface thread only.
#pragma once
#include "mgsource/rects.h"
#include "panel/objects.h"

// The bounds the object moved or resized last had before the change.
extern Rect LastOldBounds;

QX_EXTERN_C int32 DDOOOffsetMethod(ObjHeap heap, int32 object, Point by);
QX_EXTERN_C int32 ClusterOOffsetMethod(ObjHeap heap, int32 object, Point by);
QX_EXTERN_C int32 ArrayOOffsetMethod(ObjHeap heap, int32 object, Point by);
QX_EXTERN_C int32 SlideOOffsetMethod(ObjHeap heap, int32 object, Point by);
QX_EXTERN_C int32 PictureOOffsetMethod(ObjHeap heap, int32 object, Point by);
QX_EXTERN_C int32 DataControllerOOffsetMethod(ObjHeap heap, int32 object, Point by);
QX_EXTERN_C int32 CosmeticOOffsetMethod(ObjHeap heap, int32 object, Point by);
QX_EXTERN_C int32 MultiCosmeticOOffsetMethod(ObjHeap heap, int32 object, Point by);
QX_EXTERN_C int32 BigMultiCosmeticOOffsetMethod(ObjHeap heap, int32 object, Point by);
QX_EXTERN_C int32 LabelOOffsetMethod(ObjHeap heap, int32 object, Point by);
QX_EXTERN_C int32 BigMultiLabelOOffsetMethod(ObjHeap heap, int32 object, Point by);

// The offsetting method of a class, or null where the class's own comes
// from the controls (graphs, scales, listboxes) or has none.
ObjMethodAddr OOffsetMethodFor(int32 cls);
