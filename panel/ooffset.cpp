#include "panel/ooffset.h"

#include <cstring>

#include "engine/objswap.h"
#include "mgsource/window/textrec.h"
#include "panel/objload.h"
#include "panel/oinit.h"
#include "panel/oinval.h"

Rect LastOldBounds{0, 0, 0, 0};

namespace {

// Parts nest a few levels and an object has a few dozen; a stored heap
// whose part lists loop or share parts is stopped by the depth and by a
// budget of moves for one outermost move.
constexpr int32 kMaxDepth = 32, kMaxMoves = 100000;
int32 gDepth = 0, gMoves = 0;

bool Holds(ObjHeap heap, int32 object, int32 bytes) {
  return heap && *heap && object > 0 && OHIsUsedBlock(heap, object) && OHBlockSize(heap, object) >= bytes;
}

uInt32 Word(ObjHeap heap, int32 at) {
  uInt32 w;
  std::memcpy(&w, *heap + at, 4);
  return w;
}
void SetWord(ObjHeap heap, int32 at, uInt32 w) { std::memcpy(*heap + at, &w, 4); }

void MarkMoved(ObjHeap heap, int32 object) {
  SetWord(heap, object + kObjFlags, Word(heap, object + kObjFlags) | kObjFlagMoved);
}

// LastOldBounds takes the bounds, which then move by the distance.
void MoveBounds(ObjHeap heap, int32 object, Point by) {
  Rect r;
  std::memcpy(&r, *heap + object + kObjBounds, sizeof r);
  LastOldBounds = r;
  r.top = int16(r.top + by.v), r.bottom = int16(r.bottom + by.v);
  r.left = int16(r.left + by.h), r.right = int16(r.right + by.h);
  std::memcpy(*heap + object + kObjBounds, &r, sizeof r);
}

int32 Send(ObjHeap heap, int32 object, Point by) {
  if (gDepth >= kMaxDepth || ++gMoves > kMaxMoves) return kArgErr;
  ++gDepth;
  const int32 err = OOffset(heap, object, by);
  --gDepth;
  return err;
}

// Display objects: the parts move in list order (the first failure is
// answered at once, the object's own bounds then stay), then the bounds.
int32 DisplayOffset(ObjHeap heap, int32 object, Point by) {
  if (gDepth == 0) gMoves = 0;
  if (!Holds(heap, object, kObjPartList + 4)) return kArgErr;
  MarkMoved(heap, object);
  const int32 list = int32(Word(heap, object + kObjPartList));
  const int32 n = Holds(heap, list, 4) ? ObjListCount(heap, list) : 0;
  for (int32 i = 0; i < n; ++i) {
    const int32 part = ObjListGet(heap, list, i);
    if (!part) continue;
    if (const int32 err = Send(heap, part, by)) return err;
  }
  MoveBounds(heap, object, by);
  return 0;
}

// A data controller moves the display object it serves.
int32 ControllerOffset(ObjHeap heap, int32 object, Point by) {
  if (gDepth == 0) gMoves = 0;
  if (!Holds(heap, object, kDCODisplay + 4)) return kArgErr;
  const int32 display = int32(Word(heap, object + kDCODisplay));
  return display ? Send(heap, display, by) : 0;
}

// A cosmetic's image is drawn at its bounds, so moving the bounds moves it.
int32 CosmeticOffset(ObjHeap heap, int32 object, Point by) {
  if (!Holds(heap, object, kObjBounds + 8)) return kArgErr;
  MoveBounds(heap, object, by);
  MarkMoved(heap, object);
  return 0;
}

// A label's text record keeps its own rectangles, which move first.
int32 LabelOffset(ObjHeap heap, int32 object, Point by) {
  if (!Holds(heap, object, kObjText + 4)) return kArgErr;
  TRecord text;
  std::memcpy(&text, *heap + object + kObjText, sizeof text);
  if (text) TOffsetRect(text, by);
  return CosmeticOffset(heap, object, by);
}

// A big multi-cosmetic draws each image at its entry's rectangle: those
// move with the bounds.
int32 BigMultiCosmeticOffset(ObjHeap heap, int32 object, Point by) {
  if (!Holds(heap, object, kObjImageList)) return kArgErr;
  const int32 count = ObjInt16(heap, object, kObjImageCount);
  for (int32 i = 0; i < count && Holds(heap, object, kObjImageList + (i + 1) * kBigImageEntry); ++i) {
    Rect r;
    std::memcpy(&r, *heap + object + kObjImageList + i * kBigImageEntry, sizeof r);
    DOffsetRect(&r, by.h, by.v);
    std::memcpy(*heap + object + kObjImageList + i * kBigImageEntry, &r, sizeof r);
  }
  return CosmeticOffset(heap, object, by);
}

template <typename M>
ObjMethodAddr Addr(M m) {
  return reinterpret_cast<ObjMethodAddr>(m);
}

}  // namespace

ObjMethodAddr OOffsetMethodFor(int32 cls) {
  switch (cls) {
    case kClsDataDisplayObject: case kClsGrouperObject: case kClsBoolean: case kClsNumeric: case kClsString:
    case kClsTag: case kClsPath: case kClsTable: case kClsUserItem: case kClsTypeDefinition: case kClsRing:
    case kClsColorBox: case kClsColorRamp: case kClsOleVariant:
      return Addr(&DisplayOffset);
    case kClsFPDataController: return Addr(&ControllerOffset);
    case kClsCosmetic: case kClsMultiCosmetic: return Addr(&CosmeticOffset);
    case kClsBigMultiCosmetic: return Addr(&BigMultiCosmeticOffset);
    case kClsLabel: case kClsMultiLabel: case kClsSelLabel: return Addr(&LabelOffset);
    default: return nullptr;
  }
}
