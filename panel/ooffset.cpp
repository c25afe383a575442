#include "panel/ooffset.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/objswap.h"
#include "mgsource/fewlist.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/textrec.h"
#include "panel/objimage.h"
#include "panel/objload.h"
#include "panel/objsize.h"
#include "panel/oinit.h"
#include "panel/oinval.h"

Rect LastOldBounds{0, 0, 0, 0};

using namespace objsize;

namespace {

constexpr int32 kElementWord = 10;       // an array's or refnum's element; a cluster's element list
constexpr int32 kPictureCopyWord = 10;   // a picture's cached image
constexpr int32 kSlideImageWord = 13;    // a slide's or knob's cached housing image
constexpr uInt32 kFlagRedrawImage = 0x400000;
constexpr uInt32 kFlagOnlyCurrent = 0x10000, kFlagEntryOwnBounds = 0x2, kFlagEntryEdited = 0x4;
constexpr int32 kExtraRectCount = 48, kExtraRects = 52, kExtraRectEntry = 16;

Rect Moved(Rect r, Point by) {
  return Rect{Pin16(int32(r.top) + by.v), Pin16(int32(r.left) + by.h), Pin16(int32(r.bottom) + by.v),
              Pin16(int32(r.right) + by.h)};
}

// LastOldBounds takes the bounds, which then move by the distance; the
// bounds now (all zero, with LastOldBounds, for no object).
Rect MoveBounds(ObjHeap heap, int32 object, Point by) {
  if (!Live(heap, object, kObjBounds + 8)) {
    LastOldBounds = Rect{0, 0, 0, 0};
    return LastOldBounds;
  }
  std::memcpy(&LastOldBounds, *heap + object + kObjBounds, sizeof LastOldBounds);
  const Rect now = Moved(LastOldBounds, by);
  std::memcpy(*heap + object + kObjBounds, &now, sizeof now);
  return now;
}

// The objects of an offset list held in a word of the object, copied: the
// usual few in place (a move allocates nothing), a longer list in a vector.
class Listed {
 public:
  Listed(ObjHeap heap, int32 object, int32 word) {
    if (Live(heap, object, 4 * (word + 1))) Read(heap, object, word);
  }
  // The list of an object already checked to be a used block of that usable size.
  Listed(ObjHeap heap, int32 object, int32 word, int32 usable) {
    if (usable >= 4 * (word + 1)) Read(heap, object, word);
  }
  const int32* begin() const { return items_.begin(); }
  const int32* end() const { return items_.end(); }

 private:
  void Read(ObjHeap heap, int32 object, int32 word) {
    const int32 list = ObjWord(heap, object, word);
    if (!Live(heap, list, 4)) return;
    // The stored count is read as it is and clamped to the block: a damaged
    // file's list is walked as far as it goes instead of stopping the program.
    const int32 n = std::clamp(int32(OHWord(heap, uInt32(list))), 0, (OHBlockSize(heap, list) - 4) / 4);
    for (int32 i = 0; i < n; ++i)
      if (const int32 o = ObjListGet(heap, list, i); o && o != object && Live(heap, o, kObjBounds + 8)) Add(o);
  }
  void Add(int32 o) { items_.push_back(o); }
  FewList<int32, 8> items_;
};

Listed PartsOf(ObjHeap heap, int32 object) { return Listed(heap, object, PartListWord(heap, object)); }

template <typename M>
ObjMethodAddr Addr(M m) {
  return reinterpret_cast<ObjMethodAddr>(m);
}

}  // namespace

// ---- Display objects ---------------------------------------------------------------------------

int32 DDOOOffsetMethod(ObjHeap heap, int32 object, Point by) {
  // The object's block checked once for its flags, its class and its part list.
  int32 usable = 0, cls = 0;
  if (object <= 0 || !OHUsedBlockInfo(heap, object, &usable, &cls) || usable < kObjPartList + 4) return kArgErr;
  ObjSetWord(heap, object, 0, ObjWord(heap, object, 0) | kObjFlagMoved);
  const int32 partList = cls == kClsFrontPanel ? kRootObjectListWord : kObjPartList / 4;
  for (int32 part : Listed(heap, object, partList, usable))
    if (const int32 err = SendOffset(heap, part, by)) return err;
  MoveBounds(heap, object, by);
  return 0;
}

int32 ClusterOOffsetMethod(ObjHeap heap, int32 object, Point by) {
  if (const int32 err = DDOOOffsetMethod(heap, object, by)) return err;
  // A panel's data controllers may also be among its top-level objects,
  // which moved already.
  const bool panel = ObjClass(heap, object) == kClsFrontPanel;
  const Listed moved = panel ? PartsOf(heap, object) : Listed(heap, 0, 0);
  for (int32 element : Listed(heap, object, kElementWord)) {
    if (panel && std::find(moved.begin(), moved.end(), element) != moved.end()) continue;
    if (const int32 err = SendOffset(heap, element, by)) return err;
  }
  return 0;
}

int32 ArrayOOffsetMethod(ObjHeap heap, int32 object, Point by) {
  if (const int32 err = DDOOOffsetMethod(heap, object, by)) return err;
  const int32 element = Live(heap, object, 4 * (kElementWord + 1)) ? ObjWord(heap, object, kElementWord) : 0;
  if (element && element != object && Live(heap, element, kObjBounds + 8)) return SendOffset(heap, element, by);
  return 0;
}

int32 SlideOOffsetMethod(ObjHeap heap, int32 object, Point by) {
  if (const int32 err = DDOOOffsetMethod(heap, object, by)) return err;
  ReleaseCachedImage(heap, object, kSlideImageWord, kFlagRedrawImage);
  return 0;
}

int32 PictureOOffsetMethod(ObjHeap heap, int32 object, Point by) {
  if (const int32 err = DDOOOffsetMethod(heap, object, by)) return err;
  ReleaseCachedImage(heap, object, kPictureCopyWord, 0);
  return 0;
}

int32 DataControllerOOffsetMethod(ObjHeap heap, int32 object, Point by) {
  if (!Live(heap, object, kDCODisplay + 4)) return kArgErr;
  const int32 display = ObjWord(heap, object, kDCODisplay / 4);
  return display && display != object ? SendOffset(heap, display, by) : 0;
}

// ---- Decorations and labels ----------------------------------------------------------------------

int32 CosmeticOOffsetMethod(ObjHeap heap, int32 object, Point by) {
  if (!Live(heap, object, kObjImage + 4)) return kArgErr;
  Rect now = MoveBounds(heap, object, by);
  TellImage(ObjWord(heap, object, kObjImage / 4), &now, LastOldBounds);
  MarkChanged(heap, object);
  return 0;
}

int32 MultiCosmeticOOffsetMethod(ObjHeap heap, int32 object, Point by) {
  if (const int32 err = CosmeticOOffsetMethod(heap, object, by)) return err;
  const int32 n = Live(heap, object, kObjImageList)
                      ? std::clamp<int32>(ObjInt16(heap, object, kObjImageCount), 0,
                                          (OHBlockSize(heap, object) - kObjImageList) / 4)
                      : 0;
  const int32 current = ObjInt16(heap, object, kObjImageIndex);
  const Rect old = LastOldBounds;
  for (int32 i = 0; i < n; ++i) {
    const int32 image = ObjWord(heap, object, (kObjImageList + 4 * i) / 4);
    if (i == current || !image) continue;
    Rect now = Moved(old, by);
    TellImage(image, &now, old);
  }
  return 0;
}

int32 BigMultiCosmeticOOffsetMethod(ObjHeap heap, int32 object, Point by) {
  if (const int32 err = CosmeticOOffsetMethod(heap, object, by)) return err;
  const int32 n = Live(heap, object, kObjImageList)
                      ? std::clamp<int32>(ObjInt16(heap, object, kObjImageCount), 0,
                                          (OHBlockSize(heap, object) - kObjImageList) / kBigImageEntry)
                      : 0;
  const int32 current = ObjInt16(heap, object, kObjImageIndex);
  const uInt32 flags = FlagsOf(heap, object);
  for (int32 i = 0; i < n; ++i) {
    const int32 at = kObjImageList + kBigImageEntry * i;
    if (i != current && (flags & kFlagOnlyCurrent)) continue;
    Rect r;
    std::memcpy(&r, *heap + object + at, sizeof r);
    const Rect old = r;
    r = Moved(r, by);
    if (i != current) TellImage(ObjWord(heap, object, (at + kBigImageRef) / 4), &r, old);
    std::memcpy(*heap + object + at, &r, sizeof r);
  }
  if (flags & kFlagOnlyCurrent) SetFlagsOf(heap, object, (FlagsOf(heap, object) & ~kFlagEntryOwnBounds) | kFlagEntryEdited);
  return 0;
}

int32 LabelOOffsetMethod(ObjHeap heap, int32 object, Point by) {
  if (!Live(heap, object, kObjText + 4)) return kArgErr;
  if (const TRecord text = TCheckedRecord(uInt32(ObjWord(heap, object, kObjText / 4)))) TOffsetRect(text, by);
  return CosmeticOOffsetMethod(heap, object, by);
}

int32 BigMultiLabelOOffsetMethod(ObjHeap heap, int32 object, Point by) {
  if (!Live(heap, object, kExtraRects)) return kArgErr;
  const int32 n = std::clamp<int32>(ObjInt16(heap, object, kExtraRectCount), 0,
                                    (OHBlockSize(heap, object) - kExtraRects) / kExtraRectEntry);
  for (int32 i = 0; i < n; ++i) {
    Rect r;
    std::memcpy(&r, *heap + object + kExtraRects + kExtraRectEntry * i, sizeof r);
    r = Moved(r, by);
    std::memcpy(*heap + object + kExtraRects + kExtraRectEntry * i, &r, sizeof r);
  }
  return LabelOOffsetMethod(heap, object, by);
}

ObjMethodAddr OOffsetMethodFor(int32 cls) {
  switch (cls) {
    case kClsDataDisplayObject: case kClsGrouperObject: case kClsBoolean: case kClsNumeric: case kClsString:
    case kClsTag: case kClsPath: case kClsTable: case kClsUserItem: case kClsTypeDefinition: case kClsRing:
    case kClsColorBox: case kClsColorRamp: case kClsOleVariant:
      return Addr(&DDOOOffsetMethod);
    case kClsCluster: case kClsFrontPanel: return Addr(&ClusterOOffsetMethod);
    case kClsArray: case kClsRefNum: return Addr(&ArrayOOffsetMethod);
    case kClsSlide: case kClsKnob: return Addr(&SlideOOffsetMethod);
    case kClsPicture: return Addr(&PictureOOffsetMethod);
    case kClsFPDataController: return Addr(&DataControllerOOffsetMethod);
    case kClsCosmetic: return Addr(&CosmeticOOffsetMethod);
    case kClsMultiCosmetic: return Addr(&MultiCosmeticOOffsetMethod);
    case kClsBigMultiCosmetic: return Addr(&BigMultiCosmeticOOffsetMethod);
    case kClsLabel: case kClsMultiLabel: case kClsSelLabel: return Addr(&LabelOOffsetMethod);
    case kClsBigMultiLabel: return Addr(&BigMultiLabelOOffsetMethod);
    default: return nullptr;  // graphs, scales and listboxes join from the controls
  }
}
