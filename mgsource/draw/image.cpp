// The image table and the icon kinds.
#include "image.h"

#include <cstring>

#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/window/window.h"

namespace {

// One entry of the table; a free entry has kind 0 and its data word links
// to the next free entry.
struct ImageEntry {
  uInt16 flags;
  uInt16 kind;
  uInt32 data;    // kinds 1-4: the data handle; family: the kind-1 member
  uInt32 extra;   // family: the kind-2 member
  uInt32 third;   // family: the kind-3 member
  uInt32 fourth;  // family: the mask
};
static_assert(sizeof(ImageEntry) == 20 && offsetof(ImageEntry, data) == 4 && offsetof(ImageEntry, fourth) == 16,
              "image entry");

constexpr int32 kGrowBy = 20;
constexpr int32 kMaxImages = 65535;

// The table (an application-zone handle of entries), its size and the head
// of the free list.
UHandle gTable = nullptr;
int32 gCount = 0;
int32 gFreeHead = 0;

ImageEntry& At(int32 id) { return reinterpret_cast<ImageEntry*>(*gTable)[id - 1]; }

bool Valid(int32 id) {
  if (id >= 1 && id <= gCount && At(id).kind != 0) return true;
  DBAssert(__FILE__, __LINE__, "invalid image id");
  return false;
}

// Takes the head of the free list, growing the table by 20 entries when it
// is empty; 0 when the table can't grow.
int32 NewEntry(int32 kind, int32 flags) {
  if (gFreeHead == 0) {
    const int32 first = gCount + 1, count = gCount + kGrowBy;
    if (count > kMaxImages) {
      DBAssert(__FILE__, __LINE__, "image table full");
      return 0;
    }
    const int32 bytes = count * int32(sizeof(ImageEntry));
    if (!gTable) {
      gTable = AZNewHandle(bytes);
      if (!gTable) return 0;
    } else if (AZSetHandleSize(gTable, bytes) != kNoErr) {
      return 0;
    }
    gCount = count;
    for (int32 id = first; id <= count; ++id) At(id) = ImageEntry{0, 0, uInt32(id < count ? id + 1 : 0), 0, 0, 0};
    gFreeHead = first;
  }
  const int32 id = gFreeHead;
  gFreeHead = int32(At(id).data);
  At(id) = ImageEntry{uInt16(flags), uInt16(kind), 0, 0, 0, 0};
  return id;
}

void FreeEntry(int32 id) {
  At(id) = ImageEntry{0, 0, uInt32(gFreeHead), 0, 0, 0};
  gFreeHead = id;
}

UHandle HandleOf(uInt32 word) { return reinterpret_cast<UHandle>(uintptr_t(word)); }
uInt32 WordOf(UHandle h) { return uInt32(reinterpret_cast<uintptr_t>(h)); }

constexpr uInt32 kTypeICNList = FourCC("ICN#");
constexpr int32 kIconBytes = 128;

int32 KindBytes(int32 kind) { return kind == kImageIcon4 ? 512 : kind == kImageIcon8 ? 1024 : kIconBytes; }

// A 128-byte copy of part of a resource: 0, the resource manager's error,
// or 16 when the resource is too short.
MgErr CopyPart(RsrcFileRef file, uInt32 type, int32 resourceId, int32 from, UHandle* out) {
  UHandle h = nullptr;
  if (MgErr err = RGet(file, type, resourceId, &h)) return err;
  MgErr err = kNoErr;
  if (AZGetHandleSize(h) < from + kIconBytes) err = kImageNotFoundErr;
  else if ((err = AZPtrToHand(*h + from, out, kIconBytes))) err = kImageMemErr;
  RRelease(h);
  return err;
}

MgErr GetIcon(RsrcFileRef file, int32 kind, int32 resourceId, int32* image, Bool32 detach) {
  UHandle data = nullptr;
  int32 flags = kImageOwned;
  MgErr err;
  if (kind == kImageIcon1) {
    err = CopyPart(file, kTypeICNList, resourceId, 0, &data);
    if (err) err = CopyPart(file, IRsrcTypeOfKind(kImageIcon1), resourceId, 0, &data);
  } else if (kind == kImageMask) {
    err = CopyPart(file, kTypeICNList, resourceId, kIconBytes, &data);
  } else {
    if ((err = RGet(file, IRsrcTypeOfKind(kind), resourceId, &data))) return err;
    if (AZGetHandleSize(data) < KindBytes(kind)) return kImageNotFoundErr;
    if (detach) RDetach(data);
    else flags = kImageInFile;
  }
  if (err) return err;
  const int32 id = NewEntry(kind, flags);
  if (!id) {
    if (flags == kImageOwned) AZDisposeHandle(data);
    return kMemFullErr;
  }
  At(id).data = WordOf(data);
  *image = id;
  return kNoErr;
}

MgErr ReleaseData(const ImageEntry& e) {
  UHandle h = HandleOf(e.data);
  if (!h) return kNoErr;
  return (e.flags & kImageOwned) ? AZDisposeHandle(h) : RRelease(h);
}

}  // namespace

uInt32 IRsrcTypeOfKind(int32 kind) {
  switch (kind) {
    case 1: return FourCC("ICON");
    case 2: return FourCC("icl4");
    case 3: return FourCC("icl8");
    case 4: return kTypeICNList;
    case 6: return FourCC("BMAP");
    case 8: return FourCC("PICT");
    case 9: return FourCC("DSIM");
    case 10: return FourCC("PICC");
    case 11: return FourCC("CURS");
    case 12: return FourCC("WDIB");
    case 16: return FourCC("WEMF");
    default: return 0;
  }
}

MgErr IGet(RsrcFileRef file, int32 kind, int32 resourceId, int32* image, Bool32 detach) {
  if (!image) return kArgErr;
  *image = 0;
  if (kind >= kImageIcon1 && kind <= kImageMask) return GetIcon(file, kind, resourceId, image, detach);
  if (kind != kImageFamily) return kCapabilityErr;
  const int32 id = NewEntry(kImageFamily, 0);
  if (!id) return kMemFullErr;
  int32 members[3] = {0, 0, 0};
  for (int32 k = 0; k < 3; ++k) GetIcon(file, kImageIcon1 + k, resourceId, &members[k], detach);
  if (!members[0] && !members[1] && !members[2]) {
    FreeEntry(id);
    return kImageNotFoundErr;
  }
  int32 mask = 0;
  GetIcon(file, kImageMask, resourceId, &mask, detach);
  ImageEntry& e = At(id);
  e.flags = 0;
  e.data = uInt32(members[0]);
  e.extra = uInt32(members[1]);
  e.third = uInt32(members[2]);
  e.fourth = uInt32(mask);
  *image = id;
  return kNoErr;
}

MgErr IAdd(int32 image, RsrcFileRef file, ConstPStr name, int32 resourceId) {
  if (!Valid(image)) return kArgErr;
  const ImageEntry e = At(image);
  if (e.kind >= kImageIcon1 && e.kind <= kImageMask) {
    UHandle copy = HandleOf(e.data);
    MgErr err = AZHandToHand(&copy);
    if (!err) {
      err = RAdd(copy, file, IRsrcTypeOfKind(e.kind), resourceId, name);
      if (err) AZDisposeHandle(copy);
    }
    if (err) DBPrintf("error adding resource! err = %ld", err);
    return err;
  }
  if (e.kind != kImageFamily) return kNoErr;
  MgErr first = kNoErr;
  const uInt32 members[3] = {e.data, e.extra, e.third};
  for (int32 k = 0; k < 3; ++k) {
    if (!members[k]) continue;
    if (MgErr err = IAdd(int32(members[k]), file, name, resourceId)) {
      DBPrintf(k == 0 ? "error calling IAdd (2)! err = %ld" : "error calling IAdd (3)! err = %ld", err);
      if (!first) first = err;
    }
  }
  return first;
}

MgErr IRelease(int32 image) {
  if (!Valid(image)) return kArgErr;
  const ImageEntry e = At(image);
  MgErr first = kNoErr;
  if (e.kind == kImageFamily) {
    const uInt32 parts[4] = {e.fourth, e.data, e.extra, e.third};
    for (uInt32 part : parts)
      if (part)
        if (MgErr err = IRelease(int32(part)); err && !first) first = err;
  } else if (e.kind >= kImageIcon1 && e.kind <= kImageMask) {
    first = ReleaseData(e);
  }
  FreeEntry(image);
  return first;
}

int32 IGetKind(int32 image) { return Valid(image) ? At(image).kind : 0; }

int32 IKindOf(int32 image) { return image >= 1 && image <= gCount ? At(image).kind : 0; }

int32 IGetDepth(int32 image) {
  if (!Valid(image)) return 0;
  switch (At(image).kind) {
    case kImageIcon1:
    case kImageMask: return 1;
    case kImageIcon4: return 4;
    case kImageIcon8: return 8;
    case kImageWindow: return WGetDepth(int32(At(image).data));
    default: return 0;
  }
}

MgErr ICreateWindowImage(int32* image, int32 window) {
  if (!image) return kArgErr;
  *image = NewEntry(kImageWindow, 0);
  if (!*image) return kMemFullErr;
  At(*image).data = uInt32(window);
  return kNoErr;
}

int32 IWindowOf(int32 image) { return IKindOf(image) == kImageWindow ? int32(At(image).data) : 0; }

void ISetWindowOf(int32 image, int32 window) {
  if (IKindOf(image) == kImageWindow) At(image).data = uInt32(window);
  else DBAssert(__FILE__, __LINE__, "not a window image");
}
