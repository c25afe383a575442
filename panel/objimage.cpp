// The image table of panel objects.
#include "panel/objimage.h"

#include "engine/vi/objload.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"

#include <cstring>

namespace {

UHandle gTable = nullptr;  // 6-byte entries: resource number, use count, image id
int32 gCount = 0;

uChar* Entry(int32 i) { return *gTable + i * kImageTableEntry; }
int32 Number(int32 i) { return GetNative16(Entry(i)); }
int32 Uses(int32 i) { return GetNative16(Entry(i) + 2); }
int32 ImageId(int32 i) { return GetNative16(Entry(i) + 4); }
void SetUses(int32 i, int32 n) { PutNative16(Entry(i) + 2, uInt16(n)); }

int32 FindNumber(int32 number) {
  for (int32 i = 0; i < gCount; ++i)
    if (Number(i) == number) return i;
  return -1;
}
int32 FindRef(int32 ref) {
  if (ref < kObjImageHeld || ref > (kObjImageHeld | 0xFFFF)) return -1;
  for (int32 i = 0; i < gCount; ++i)
    if (ImageId(i) == (ref & 0xFFFF)) return i;
  return -1;
}
// A reference read from a stored object: one whose index lies past the
// table cannot name an entry and is reported.
int32 FindStoredRef(int32 ref) {
  const int32 i = FindRef(ref);
  if (i < 0 && ref >= kObjImageHeld && (ref & 0xFFFF) >= gCount)
    DBPrintf("image reference 0x%lx past the image table (%ld entries)", long(ref), long(gCount));
  return i;
}

bool Append(int32 number, int32 image) {
  const int32 size = (gCount + 1) * kImageTableEntry;
  if (!gTable) gTable = AZNewHandle(size);
  else if (AZSetHandleSize(gTable, size) != kNoErr) return false;
  if (!gTable) return false;
  PutNative16(Entry(gCount), uInt16(number));
  PutNative16(Entry(gCount) + 2, 1);
  PutNative16(Entry(gCount) + 4, uInt16(image));
  ++gCount;
  return true;
}

void Remove(int32 i) {
  const int32 image = ImageId(i);
  for (int32 k = i; k + 1 < gCount; ++k) std::memmove(Entry(k), Entry(k + 1), kImageTableEntry);
  if (--gCount == 0) {
    AZDisposeHandle(gTable);
    gTable = nullptr;
  } else {
    AZSetHandleSize(gTable, gCount * kImageTableEntry);
  }
  IRelease(image);
}

}  // namespace

void FPClearImageTable() {
  for (int32 i = 0; i < gCount; ++i) PutNative16(Entry(i), uInt16(kImageTableFree));
}

MgErr FPLoadObjImage(RsrcFileRef file, int32* imageRef, const Rect*, uInt32) {
  if (!imageRef) return kArgErr;
  const int32 number = int16(uInt32(*imageRef) >> 16);
  if (*imageRef == 0) return kNoErr;
  if (number <= 0) {
    // A built-in control picture: this build has no table of them, so the
    // reference stays as it is and draws nothing.
    return kNoErr;
  }
  if (int32 i = FindNumber(number); i >= 0) {
    SetUses(i, Uses(i) + 1);
    *imageRef = kObjImageHeld | ImageId(i);
    return kNoErr;
  }
  *imageRef = 0;
  if (number != GetRsrcCounter()) {
    DBPrintf("FPLoadObjImage: image %ld out of resource order", long(number));
    return kArgErr;
  }
  int32 image = 0;
  MgErr err = kImageNotFoundErr;
  for (int32 kind : kObjImageKinds)
    if ((err = IGet(file, kind, number, &image, 1)) == kNoErr) break;
  if (err) return err;
  if (image > 0xFFFF || !Append(number, image)) {
    IRelease(image);
    return kMemFullErr;
  }
  *imageRef = kObjImageHeld | image;
  return kNoErr;
}

int32 FPSetObjImage(int32 imageRef) {
  if (imageRef < 0) return 0;  // a built-in picture: no loaded copy to release
  const int32 i = FindStoredRef(imageRef);
  if (i < 0) {
    DBAssert(__FILE__, __LINE__, "image reference not in the image table");
    return 1;
  }
  if (Uses(i) > 1) SetUses(i, Uses(i) - 1);
  else Remove(i);
  return 0;
}

int32 FPCheckImageRef(int32 imageRef) {
  const int32 i = FindStoredRef(imageRef);
  if (i < 0 || Uses(i) >= 0x7FFF) return 1;
  SetUses(i, Uses(i) + 1);
  return 0;
}

bool FPObjImageHeld(int32 imageRef) { return FindRef(imageRef) >= 0; }

int32 FPObjImageUses(int32 imageRef) {
  const int32 i = FindRef(imageRef);
  return i < 0 ? 0 : Uses(i);
}

int32 FPImageTableCount() { return gCount; }
