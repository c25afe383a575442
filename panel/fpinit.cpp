// New panel objects placed on a panel, and the images they are made with.
#include "panel/fpinit.h"

#include "engine/exec/runcmd.h"
#include "engine/typemgr.h"
#include "engine/vi/objload.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "panel/fppanel.h"
#include "panel/objimage.h"
#include "panel/oinit.h"
#include "panel/osupport.h"

namespace {

constexpr const char* kSource = "fpinit";

UHandle OwnerVI(ObjHeap heap) {
  const int32 ext = int32(OHWord(heap, kOHExtension));
  return ext > 0 ? reinterpret_cast<UHandle>(uintptr_t(OHWord(heap, uInt32(ext + kHeapExtOwner)))) : nullptr;
}

}  // namespace

int32 gObjImageCurrent = 0;
Rect gObjImageCurrentRect = {0, 0, 0, 0};

int32 FPNewObjectAt(ObjHeap heap, Point where, uInt32 kind, ConstPStr className, int32, int32 rsrcId) {
  if (!heap || !*heap || !className) return 0;
  const UHandle vi = OwnerVI(heap);
  uInt32 category = 0, modified = 0;
  if (kind == kCatDDO) {
    if (vi && VIRec(vi)->viKind == kViKindNoNewObjects) return 0;
    category = kCatQXCT, modified = kDocModObject;
  } else if (kind == kCatCOSM) {
    category = kCatCOSM, modified = kDocModCosmetic;
  } else {
    DBAssert(kSource, __LINE__, "FPNewObjectAt: unknown kind");
    return 0;
  }
  FPEmptySelection(heap);
  int32 object = NewObjectByClassName(heap, className, category);
  if (!object) return 0;
  object = OInit(heap, object, where, rsrcId);
  if (!object) return 0;
  if (kind == kCatDDO) {
    // Centred on the point: the bounding rectangle's centre moves there.
    Rect r;
    __builtin_memcpy(&r, *heap + object + kObjBounds, sizeof r);
    OGetRect(heap, object, &r, 2);
    OOffset(heap, object, Point{int16(where.v - (r.top + r.bottom) / 2), int16(where.h - (r.left + r.right) / 2)});
  }
  if (vi) VIDocMod(vi, reinterpret_cast<UHandle>(heap), modified);
  return object;
}

MgErr FPMakeObjImage(int32 kind, int32 number, int32* imageRef, Rect* rect) {
  if (!imageRef) return kArgErr;
  switch (kind) {
    case 0: {
      // A built-in control picture: the reference names it (its negated
      // index high, its image low) and the rectangle takes the picture's
      // bounds when it has any.  A number no table holds is a damaged
      // template, refused without the picture lookup's report.
      if (number <= 0 || number > 0x7FFF || !IsBuiltInPictIndex(number)) return kArgErr;
      *imageRef = GetPictIndex(number);
      Rect bounds{0, 0, 0, 0};
      if (const int32 image = *imageRef & 0xFFFF) IGetRect(image, &bounds);
      if (rect && !DEmptyRect(&bounds)) *rect = bounds;
      return kNoErr;
    }
    case 1:
      if (FPCheckImageRef(gObjImageCurrent) != 0) return kArgErr;
      *imageRef = gObjImageCurrent;
      if (rect) *rect = gObjImageCurrentRect;
      return kNoErr;
    case 2: {
      // The image resource of that number is the next the counter gives.
      if (number <= 0 || number > 0x7FFF) return kArgErr;
      FPClearImageTable();
      *imageRef = number * 0x10000;
      SetRsrcCounter(number - 1);
      return FPLoadObjImage(RunTimeRsrcFile(), imageRef, rect, 0);
    }
    default:
      DBAssert(kSource, __LINE__, "FPMakeObjImage: unknown image kind");
      return kArgErr;
  }
}

void FPDrawImageAt(const Rect* rect, int32 image, Point at) {
  if (!rect || image < kObjImageHeld) return;
  const Rect r{int16(rect->top + at.v), int16(rect->left + at.h), int16(rect->bottom + at.v),
               int16(rect->right + at.h)};
  IDraw(image & 0xFFFF, nullptr, &r, 0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF);
}
