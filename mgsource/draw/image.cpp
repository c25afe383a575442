// The image table, the kinds it holds, creation, copying and release.
#include "image.h"

#include <cstring>
#include <utility>
#include <vector>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/icursor.h"
#include "mgsource/draw/imagedraw.h"
#include "mgsource/draw/pictops.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wmisc.h"
#include "mgsource/window/wport.h"
#include "platform/qx_cursor.h"
#include "platform/qx_dc.h"
#include "platform/qx_dib.h"
#include "platform/qx_metafile.h"
#include "platform/qx_metafile_read.h"
#include "platform/qx_paint.h"

namespace {

constexpr int32 kGrowBy = 20;
constexpr int32 kMaxImages = 65535;

// The table (an application-zone handle of entries), its size and the head
// of the free list.  gMarks holds one byte per entry, set for pictures this
// process's recorder wrote (the records' live handles mean something only
// then); it grows with the table.
UHandle gTable = nullptr;
UHandle gMarks = nullptr;
int32 gCount = 0;
int32 gFreeHead = 0;

ImageEntry& At(int32 id) { return reinterpret_cast<ImageEntry*>(*gTable)[id - 1]; }
uInt8& Mark(int32 id) { return reinterpret_cast<uInt8*>(*gMarks)[id - 1]; }

bool Valid(int32 id) {
  if (id >= 1 && id <= gCount && At(id).kind != 0) return true;
  DBAssert(__FILE__, __LINE__, "invalid image id");
  return false;
}

// Sizes the table and its marks to count entries; the new ones are free,
// linked in order, the last ending the list.  False (nothing changed) when
// either handle can't grow.
bool Grow(int32 count) {
  const int32 first = gCount + 1;
  const int32 bytes = count * int32(sizeof(ImageEntry));
  if (!gTable) {
    gTable = AZNewHandle(bytes);
    gMarks = AZNewHClr(count);
    if (!gTable || !gMarks) {
      if (gTable) AZDisposeHandle(gTable);
      if (gMarks) AZDisposeHandle(gMarks);
      gTable = gMarks = nullptr;
      return false;
    }
  } else {
    if (AZSetHandleSize(gMarks, count) != kNoErr) return false;
    if (AZSetHandleSize(gTable, bytes) != kNoErr) {
      AZSetHandleSize(gMarks, gCount);
      return false;
    }
  }
  gCount = count;
  for (int32 id = first; id <= count; ++id) {
    At(id) = ImageEntry{0, 0, uInt32(id < count ? id + 1 : 0), 0, 0, 0};
    Mark(id) = 0;
  }
  gFreeHead = first;
  return true;
}

// Takes the head of the free list, growing the table by 20 entries (up to
// 65,535) when it is empty; 0 when the table can't grow.  Ids never wrap.
int32 NewEntry(int32 kind, int32 flags) {
  if (gFreeHead == 0) {
    if (gCount >= kMaxImages) {
      DBAssert(__FILE__, __LINE__, "image table full");
      return 0;
    }
    const int32 count = gCount + kGrowBy > kMaxImages ? kMaxImages : gCount + kGrowBy;
    if (!Grow(count)) return 0;
  }
  const int32 id = gFreeHead;
  gFreeHead = int32(At(id).data);
  At(id) = ImageEntry{uInt16(flags), uInt16(kind), 0, 0, 0, 0};
  Mark(id) = 0;
  return id;
}

void FreeEntry(int32 id) {
  At(id) = ImageEntry{0, 0, uInt32(gFreeHead), 0, 0, 0};
  Mark(id) = 0;
  gFreeHead = id;
}

UHandle HandleOf(uInt32 word) { return reinterpret_cast<UHandle>(uintptr_t(word)); }
uInt32 WordOf(UHandle h) { return uInt32(reinterpret_cast<uintptr_t>(h)); }
template <class T>
T& Info(uInt32 word) {
  return *reinterpret_cast<T*>(*HandleOf(word));
}

// Disposes a handle in whichever zone it lies.
MgErr DisposeAnyZone(UHandle h) { return AZIsHandle(h) ? AZDisposeHandle(h) : DSDisposeHandle(h); }
int32 SizeAnyZone(UHandle h) { return AZIsHandle(h) ? AZGetHandleSize(h) : DSGetHandleSize(h); }

// A new info record; null when memory is short.
template <class T>
UHandle NewInfo(const T& value) {
  UHandle h = AZNewHandle(int32(sizeof(T)));
  if (h) std::memcpy(*h, &value, sizeof(T));
  return h;
}

constexpr uInt32 kTypeICNList = FourCC("ICN#");
constexpr int32 kIconBytes = 128;
constexpr uInt8 kReleasing = 0x02;  // mark: the entry's release is under way
constexpr uInt8 kRecorded = 0x01;   // mark: this process's recorder wrote the picture

int32 KindBytes(int32 kind) { return kind == kImageIcon4 ? 512 : kind == kImageIcon8 ? 1024 : kIconBytes; }

// Where a resource is read from: by id, or by name when one is given.
struct Source {
  RsrcFileRef file;
  int32 id;
  ConstPStr name;
  MgErr Fetch(uInt32 type, UHandle* h) const {
    return name ? RGetNamed(file, type, name, h) : RGet(file, type, id, h);
  }
};

// Gives a resource handle back: disposed when detached (mode 1), else
// released to its file.
MgErr Drop(UHandle h, int32 mode) { return mode == 1 ? AZDisposeHandle(h) : RRelease(h); }

// A 128-byte copy of part of a resource: 0, the resource manager's error,
// or 16 when the resource is too short.
MgErr CopyPart(const Source& src, uInt32 type, int32 from, UHandle* out) {
  UHandle h = nullptr;
  if (MgErr err = src.Fetch(type, &h)) return err;
  MgErr err = kNoErr;
  if (AZGetHandleSize(h) < from + kIconBytes) err = kImageNotFoundErr;
  else if (AZPtrToHand(*h + from, out, kIconBytes)) err = kImageMemErr;
  RRelease(h);
  return err;
}

// An owned entry of kind holding a copy of 128 bytes: 17 or 2 on failure.
MgErr EntryOfCopy(int32 kind, const uInt8* from, int32* image) {
  UHandle data = nullptr;
  if (AZPtrToHand(from, &data, kIconBytes)) return kImageMemErr;
  const int32 id = NewEntry(kind, kImageOwned);
  if (!id) {
    AZDisposeHandle(data);
    return kMemFullErr;
  }
  At(id).data = WordOf(data);
  *image = id;
  return kNoErr;
}

// Kinds 1 and 4 from "ICN#" (kind 1 falling back to "ICON"), as owned
// copies.
MgErr GetIconPart(const Source& src, int32 kind, int32* image) {
  UHandle data = nullptr;
  MgErr err;
  if (kind == kImageIcon1) {
    err = CopyPart(src, kTypeICNList, 0, &data);
    if (err) err = CopyPart(src, IRsrcTypeOfKind(kImageIcon1), 0, &data);
  } else {
    err = CopyPart(src, kTypeICNList, kIconBytes, &data);
  }
  if (err) return err;
  const int32 id = NewEntry(kind, kImageOwned);
  if (!id) {
    AZDisposeHandle(data);
    return kMemFullErr;
  }
  At(id).data = WordOf(data);
  *image = id;
  return kNoErr;
}

MgErr GetOne(const Source& src, int32 kind, int32* image, Bool32 detach);

MgErr GetFamily(const Source& src, int32* image, Bool32 detach) {
  const int32 id = NewEntry(kImageFamily, 0);
  if (!id) return kMemFullErr;
  // "ICN#" is read once for the icon and the mask.
  int32 members[3] = {0, 0, 0}, mask = 0;
  UHandle icn = nullptr;
  if (src.Fetch(kTypeICNList, &icn) == kNoErr) {
    const int32 size = AZGetHandleSize(icn);
    if (size >= kIconBytes) EntryOfCopy(kImageIcon1, reinterpret_cast<const uInt8*>(*icn), &members[0]);
    if (size >= 2 * kIconBytes) EntryOfCopy(kImageMask, reinterpret_cast<const uInt8*>(*icn) + kIconBytes, &mask);
    RRelease(icn);
  }
  if (!members[0]) GetIconPart(src, kImageIcon1, &members[0]);
  for (int32 k = 1; k < 3; ++k) GetOne(src, kImageIcon1 + k, &members[k], detach);
  if (!members[0] && !members[1] && !members[2]) {
    if (mask) IRelease(mask);
    FreeEntry(id);
    return kImageNotFoundErr;
  }
  if (!mask && members[0]) mask = IMakeIconMask(members[0], members[1], members[2]);
  ImageEntry& e = At(id);
  e.flags = 0;
  e.data = uInt32(members[0]);
  e.extra = uInt32(members[1]);
  e.third = uInt32(members[2]);
  e.fourth = uInt32(mask);
  *image = id;
  return kNoErr;
}

MgErr GetOne(const Source& src, int32 kind, int32* image, Bool32 detach) {
  *image = 0;
  if (kind == kImageFamily) return GetFamily(src, image, detach);
  if (kind == kImageIcon1 || kind == kImageMask) return GetIconPart(src, kind, image);
  const uInt32 type = IRsrcTypeOfKind(kind);
  if (!type) {
    DBMgErr(__FILE__, __LINE__, kImageNotFoundErr, "IGet: kind without a resource type");
    return kImageNotFoundErr;
  }
  if (kind == kImageProc) {
    DBAssert(__FILE__, __LINE__, "IGet: procedural images are not loaded from resources");
    return kCapabilityErr;
  }
  UHandle h = nullptr;
  if (MgErr err = src.Fetch(type, &h)) return err;
  if (detach) RDetach(h);
  return IMakeImageFromRsrc(kind, h, image, detach ? 1 : 2);
}

// Releases a picture's data by its flags.
MgErr ReleasePicture(int32 id, const ImageEntry& e) {
  UHandle data = HandleOf(e.data);
  MgErr err = kNoErr;
  if (data && (e.flags & kImageOfPicture)) {
    IReleasePictRefs(id);
    err = DisposeAnyZone(data);
  } else if (data && !(e.flags & kImageBorrowed)) {
    IReleasePictRefs(id);
    err = (e.flags & kImageOwned) ? DisposeAnyZone(data) : RRelease(data);
  }
  if (e.extra) AZDisposeHandle(HandleOf(e.extra));
  return err;
}

MgErr ReleaseData(int32 id, const ImageEntry& e) {
  switch (e.kind) {
    case kImageIcon1:
    case kImageIcon4:
    case kImageIcon8:
    case kImageMask: {
      if (e.extra) {
        PlatDeleteObject(PlatObj(e.extra));
        ICountOffHostBitmap();
      }
      UHandle h = HandleOf(e.data);
      if (!h) return kNoErr;
      return (e.flags & kImageOwned) ? AZDisposeHandle(h) : RRelease(h);
    }
    case kImagePixmap: {
      if (e.extra) PlatDeleteObject(PlatObj(e.extra));
      MgErr err = kNoErr;
      if (e.data) {
        UHandle bits = HandleOf(Info<PixmapInfo>(e.data).bits);
        if (bits) err = (e.flags & kImageOwned) ? AZDisposeHandle(bits) : RRelease(bits);
        AZDisposeHandle(HandleOf(e.data));
      }
      return err;
    }
    case kImagePicture: return ReleasePicture(id, e);
    case kImageCursor: {
      if (e.extra) {
        // A cursor showing gives way to the arrow first: the platform keeps
        // a cursor in use, and the window manager, remembering the id set
        // last, would take an image reusing the id for the one showing.
        const PlatCursor c = PlatCursor(e.extra);
        WForgetHostCursor();
        if (PlatGetCursor() == c) WSetHostCursor(-1);
        PlatDestroyCursor(c);
      }
      UHandle h = HandleOf(e.data);
      if (!h) return kNoErr;
      return (e.flags & kImageOwned) ? AZDisposeHandle(h) : RRelease(h);
    }
    case kImagePICT:
    case kImageMeta:
      IMetaCacheDrop(e.data);
      if (e.data) PlatDeleteMetafile(PlatMetafile(e.data));
      if (e.extra) AZDisposeHandle(HandleOf(e.extra));
      return kNoErr;
    case kImagePage:
      if (e.data) AZDisposeHandle(HandleOf(e.data));
      return kNoErr;
    default: return kNoErr;
  }
}

// A new entry of kind with its data and extra words, or 17 (2 without an
// entry) with info disposed.
MgErr Make(int32 kind, int32 flags, uInt32 data, UHandle info, int32* image) {
  *image = 0;
  if (!info) return kImageMemErr;
  const int32 id = NewEntry(kind, flags);
  if (!id) {
    AZDisposeHandle(info);
    return kMemFullErr;
  }
  At(id).data = data;
  At(id).extra = WordOf(info);
  *image = id;
  return kNoErr;
}

// The pixels of an icon member: true where it is white.
bool MemberWhite(int32 kind, const uInt8* bits, int32 row, int32 col) {
  switch (kind) {
    case kImageIcon1: return !(bits[row * 4 + col / 8] & (0x80 >> (col % 8)));
    case kImageIcon4: return ((bits[row * 16 + col / 2] >> (col % 2 ? 0 : 4)) & 0x0F) == 0;
    default: return bits[row * 32 + col] == 0;
  }
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

MgErr IInitImageTable(int32 count) {
  if (gTable) IDisposeImageTable();
  if (count < 1) count = 1;
  if (count > kMaxImages) count = kMaxImages;
  DResetImageColours();
  ILoadDefaultCursor();
  IMetaCacheInit();
  return Grow(count) ? kNoErr : kMemFullErr;
}

void IDisposeImageTable() {
  if (!gTable) return;
  WSetHostCursor(-1);
  // The cache's masks are images of the table.
  IMetaCacheDispose();
  IForgetOffscreen();
  IAbandonMetaRecordings();
  for (int32 id = 1; id <= gCount; ++id)
    if (At(id).kind == kImageFamily) At(id) = ImageEntry{At(id).flags, kImageFamily, 0, 0, 0, 0};
  for (int32 id = 1; id <= gCount; ++id)
    if (At(id).kind != 0) IRelease(id);
  AZDisposeHandle(gTable);
  AZDisposeHandle(gMarks);
  gTable = gMarks = nullptr;
  gCount = gFreeHead = 0;
}

int32 INewImageEntry() { return NewEntry(0, 0); }

void IFreeImageEntry(int32 image) {
  if (image >= 1 && image <= gCount) FreeEntry(image);
  else DBAssert(__FILE__, __LINE__, "invalid image id");
}

int32 IImageTableCount() { return gCount; }

ImageEntry IEntryOf(int32 image) { return IKindOf(image) ? At(image) : ImageEntry{}; }

ImageEntry* IEntryPtr(int32 image) { return IKindOf(image) ? &At(image) : nullptr; }

MgErr IGet(RsrcFileRef file, int32 kind, int32 resourceId, int32* image, Bool32 detach) {
  if (!image) return kArgErr;
  *image = 0;
  if (kind == kImageCursor && resourceId == -2) {
    if (!PlatLoadSystemCursor(kPlatCursorWait)) return kImageNotFoundErr;
    *image = -2;
    return kNoErr;
  }
  return GetOne(Source{file, resourceId, nullptr}, kind, image, detach);
}

MgErr IGetNamed(RsrcFileRef file, int32 kind, ConstPStr name, int32* image, Bool32 detach) {
  if (!image || !name) return kArgErr;
  *image = 0;
  return GetOne(Source{file, 0, name}, kind, image, detach);
}

MgErr IMakeImageFromRsrc(int32 kind, UHandle rsrc, int32* image, int32 mode) {
  if (!image || !rsrc) return kArgErr;
  *image = 0;
  const int32 size = AZGetHandleSize(rsrc);
  const uInt8* b = reinterpret_cast<const uInt8*>(*rsrc);
  const int32 flags = mode == 1 ? kImageOwned : kImageInFile;
  switch (kind) {
    case kImageIcon1:
    case kImageIcon4:
    case kImageIcon8:
    case kImageMask: {
      if (size < KindBytes(kind)) break;
      const int32 id = NewEntry(kind, flags);
      if (!id) {
        Drop(rsrc, mode);
        return kMemFullErr;
      }
      At(id).data = WordOf(rsrc);
      *image = id;
      return kNoErr;
    }
    case kImagePixmap: {
      // Height and width, then 1-bit rows padded to 16 bits.
      if (size < 4) break;
      const int32 h = GetBE16(b), w = GetBE16(b + 2);
      const int64 rowBytes = (int64(w) + 15) / 16 * 2;
      if (int64(size) - 4 < rowBytes * h) break;
      PixmapInfo info{WordOf(rsrc), Rect{0, 0, int16(h), int16(w)}, 1};
      const int32 id = NewEntry(kImagePixmap, flags);
      UHandle ih = id ? NewInfo(info) : nullptr;
      if (!ih) {
        if (id) FreeEntry(id);
        Drop(rsrc, mode);
        return id ? kImageMemErr : kMemFullErr;
      }
      At(id).data = WordOf(ih);
      *image = id;
      return kNoErr;
    }
    case kImagePicture: {
      // Bounds, depth, pen count; records from byte 18 when the word at 14
      // is 0 (second layout), else from 16 after a length word at 12.
      if (size < 16) break;
      const bool second = size >= 18 && GetBE32(b + 14) == 0;
      const int32 from = second ? 18 : 16;
      UHandle pict = DSNewHandle(size - from + 4);
      PictInfo info{Rect{int16(GetBE16(b)), int16(GetBE16(b + 2)), int16(GetBE16(b + 4)), int16(GetBE16(b + 6))},
                    uInt32(int16(GetBE16(b + 8))), second ? 0u : uInt32(int16(GetBE16(b + 10)))};
      if (pict) {
        PutNative32(*pict, uInt32(size - from));
        std::memcpy(*pict + 4, b + from, size_t(size - from));
      }
      Drop(rsrc, mode);
      if (!pict) return kImageMemErr;
      const MgErr err = Make(kImagePicture, kImageOwned, WordOf(pict), NewInfo(info), image);
      if (err) DSDisposeHandle(pict);
      return err;
    }
    case kImageDIB: {
      if (!ISwapDIBHeader(rsrc, true)) break;
      const PlatObj bitmap = IHostBitmapFromDIB(*rsrc, size);
      ISwapDIBHeader(rsrc, false);
      Drop(rsrc, mode);
      if (!bitmap) return kImageNotFoundErr;
      const MgErr err = IPixmapFromHostBitmap(bitmap, image);
      if (err) PlatDeleteObject(bitmap);
      return err;
    }
    case kImageMeta: {
      const PlatMetafile mf = PlatMetafileFromEmf(b, uInt32(size));
      if (Drop(rsrc, mode) != kNoErr) DBPrintf("   failed disposing rsrcData");
      if (!mf) return kImageNotFoundErr;
      PlatMetaHeader header{};
      PlatGetMetafileHeader(mf, &header);
      const PlatRect& r = header.bounds;
      MetaInfo info{Rect{int16(r.top), int16(r.left), int16(r.bottom), int16(r.right)}, 8};
      const MgErr err = Make(kImageMeta, kImageOwned, mf, NewInfo(info), image);
      if (err) PlatDeleteMetafile(mf);
      return err;
    }
    case kImageProc:
      DBAssert(__FILE__, __LINE__, "IMakeImageFromRsrc: procedural images are not loaded from resources");
      Drop(rsrc, mode);
      return kCapabilityErr;
    case kImageCursor: {
      // The host cursor is built once, when the image is made.
      const PlatCursor cursor = ICursorFromCURS(rsrc);
      if (!cursor) break;
      const int32 id = NewEntry(kind, flags);
      if (!id) {
        PlatDestroyCursor(cursor);
        Drop(rsrc, mode);
        return kMemFullErr;
      }
      At(id).data = WordOf(rsrc);
      At(id).extra = cursor;
      *image = id;
      return kNoErr;
    }
    default: break;  // kind 8: nothing makes its metafile
  }
  Drop(rsrc, mode);
  return kImageNotFoundErr;
}

int32 IMakeIconMask(int32 icon, int32 icon4, int32 icon8) {
  const int32 members[3] = {icon, icon4, icon8};
  const uInt8* bits[3] = {nullptr, nullptr, nullptr};
  bool any = false;
  // The members' bits are copied: the table and handles don't move during
  // the fill, but a copy keeps the fill independent of them.
  uInt8 copies[3][1024];
  for (int32 k = 0; k < 3; ++k) {
    if (!members[k] || IKindOf(members[k]) != kImageIcon1 + k) continue;
    UHandle h = HandleOf(At(members[k]).data);
    if (!h || AZGetHandleSize(h) < KindBytes(kImageIcon1 + k)) continue;
    std::memcpy(copies[k], *h, size_t(KindBytes(kImageIcon1 + k)));
    bits[k] = copies[k];
    any = true;
  }
  if (!any) return 0;
  auto white = [&](int32 row, int32 col) {
    for (int32 k = 0; k < 3; ++k)
      if (bits[k] && !MemberWhite(kImageIcon1 + k, bits[k], row, col)) return false;
    return true;
  };
  uInt8 mask[kIconBytes];
  std::memset(mask, 0xFF, sizeof mask);
  auto set = [&](int32 row, int32 col) { return (mask[row * 4 + col / 8] & (0x80 >> (col % 8))) != 0; };
  // Each pixel is cleared when pushed, so the stack never holds more than
  // the 1,024 pixels.
  uInt16 stack[1024];
  int32 top = 0;
  auto push = [&](int32 row, int32 col) {
    if (row < 0 || row > 31 || col < 0 || col > 31 || !set(row, col) || !white(row, col)) return;
    mask[row * 4 + col / 8] &= uInt8(~(0x80 >> (col % 8)));
    stack[top++] = uInt16(row * 32 + col);
  };
  auto drain = [&]() {
    while (top > 0) {
      const int32 p = stack[--top], row = p / 32, col = p % 32;
      push(row - 1, col), push(row + 1, col), push(row, col - 1), push(row, col + 1);
    }
  };
  for (int32 col = 0; col < 32; ++col) push(0, col), drain(), push(31, col), drain();
  for (int32 row = 1; row < 31; ++row) push(row, 0), drain(), push(row, 31), drain();
  UHandle h = nullptr;
  if (AZPtrToHand(mask, &h, kIconBytes)) return 0;
  const int32 id = NewEntry(kImageMask, kImageOwned);
  if (!id) {
    AZDisposeHandle(h);
    return 0;
  }
  At(id).data = WordOf(h);
  return id;
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
  if (e.kind == kImageMeta && IMetaRecordingOpen(image)) {
    // Its recording context is the drawing state's, or a save record's
    // that IClose puts back: released, the context would outlive it and
    // pass to the next image taking its id.
    DBAssert(__FILE__, __LINE__, "IRelease: the metafile is open for drawing");
    return kArgErr;
  }
  Mark(image) |= kReleasing;
  MgErr first = kNoErr;
  if (e.kind == kImageFamily) {
    const uInt32 parts[4] = {e.fourth, e.data, e.extra, e.third};
    for (uInt32 part : parts)
      if (part && IKindOf(int32(part)))
        if (MgErr err = IRelease(int32(part)); err && !first) first = err;
  } else {
    first = ReleaseData(image, e);
  }
  FreeEntry(image);
  return first;
}

// A copied picture gets copies of the text records and of the pixmaps its
// records own, so that each picture releases only its own (sharing them,
// the second release would dispose of a record or release an id reused
// meanwhile).  A record whose copy fails is left naming none (0, skipped on
// playback and release); false when any failed.
static bool OwnRecordedRefs(UHandle data) {
  const int32 size = SizeAnyZone(data);
  if (size < 4) return true;
  std::vector<std::pair<int32, int32>> at;  // opcode, offset of its word
  PictWalker walk(reinterpret_cast<const uInt8*>(*data) + 4, size - 4);
  PictRecord rec;
  while (walk.Next(&rec))
    if ((rec.opcode == kPictOpTextRecord || rec.opcode == kPictOpImage) && rec.size >= 4)
      at.push_back({rec.opcode, 4 + rec.offset + 6});
  bool whole = true;
  for (const auto& [opcode, offset] : at) {
    const uInt32 word = GetBE32(reinterpret_cast<const uInt8*>(*data) + offset);
    uInt32 copy = 0;
    if (opcode == kPictOpTextRecord) {
      UHandle text = HandleOf(word);
      if (!text) continue;
      copy = uInt32(reinterpret_cast<uintptr_t>(TDuplicate(text, 0)));
    } else {
      const int32 id = int32(word);
      if (!IKindOf(id) || !(At(id).flags & kImageOfPicture)) continue;  // named, not owned
      if (const int32 own = ICopyOwnedPixmap(id)) {
        At(own).flags |= kImageOfPicture;
        copy = uInt32(own);
      }
    }
    if (!copy) whole = false;
    PutBE32(reinterpret_cast<uInt8*>(*data) + offset, copy);
  }
  return whole;
}

void ISetPictRecorded(int32 image) {
  if (IKindOf(image) == kImagePicture) Mark(image) |= kRecorded;
  else DBAssert(__FILE__, __LINE__, "not a picture");
}

bool IPictRecorded(int32 image) { return IKindOf(image) == kImagePicture && (Mark(image) & kRecorded); }

void IReleasePictRefs(int32 image) {
  // Records 19 and 20 hold a text-record handle and an image id of the
  // process that recorded them: anywhere else they are garbage.
  if (!IPictRecorded(image)) return;
  UHandle data = HandleOf(At(image).data);
  if (!data) return;
  const int32 size = SizeAnyZone(data);
  if (size < 4) return;
  PictWalker walk(reinterpret_cast<const uInt8*>(*data) + 4, size - 4);
  PictRecord rec;
  while (walk.Next(&rec)) {
    if (rec.size < 4) continue;
    const uInt32 word = GetBE32(rec.data);
    if (rec.opcode == kPictOpTextRecord) {
      if (word) TDispose(HandleOf(word));
    } else if (rec.opcode == kPictOpImage) {
      const int32 id = int32(word);
      if (IKindOf(id) && !(Mark(id) & kReleasing) && (At(id).flags & kImageOfPicture)) IRelease(id);
    }
  }
}

MgErr ICreatePict(int32 window, const Rect* bounds, int32 depth, QXPict pictData, int32 flags, int32* image) {
  if (!image) return kArgErr;
  *image = 0;
  const bool appZone = flags & kImageAppZone;
  const bool fresh = pictData == nullptr;
  UHandle pict = pictData;
  if (fresh) {
    pict = appZone ? AZNewHClr(4) : DSNewHClr(4);
    if (!pict) return kImageMemErr;
  }
  const int32 size = appZone ? AZGetHandleSize(pict) : DSGetHandleSize(pict);
  if (size < 4) return kArgErr;
  bool overran = false;
  PictRecord rec{};
  const uInt32 pens = PictCountDefinitions(reinterpret_cast<const uInt8*>(*pict) + 4, size - 4, &overran, &rec);
  if (overran)
    DBPrintf("ICreatePict: pictDataSize<0...  opcode=%d dataSize=%d(+6)\t pictSize=%d", rec.opcode, rec.size,
             size - 4);
  PutNative32(*pict, uInt32(size - 4));
  if (depth == 0) depth = WGetDepth(window);
  PictInfo info{bounds ? *bounds : Rect{}, uInt32(depth), pens};
  const MgErr err = Make(kImagePicture, (flags & ~kImageAppZone) | kImageOwned, WordOf(pict), NewInfo(info), image);
  if (err && fresh) DisposeAnyZone(pict);
  if (!err && fresh) Mark(*image) |= kRecorded;
  return err;
}

MgErr IPixmapFromHostBitmap(PlatObj bitmap, int32* image) {
  if (!image) return kArgErr;
  *image = 0;
  PlatObjInfo oi{};
  if (!PlatDescribeObject(bitmap, &oi) || oi.kind != kPlatObjBitmap) return kImageNotFoundErr;
  PixmapInfo info{0, Rect{0, 0, int16(oi.height), int16(oi.width)}, uInt32(oi.planes * oi.bitsPerPixel)};
  UHandle ih = NewInfo(info);
  if (!ih) return kImageMemErr;
  const int32 id = NewEntry(kImagePixmap, kImageOwned);
  if (!id) {
    AZDisposeHandle(ih);
    return kMemFullErr;
  }
  At(id).data = WordOf(ih);
  At(id).extra = bitmap;
  *image = id;
  return kNoErr;
}

// A bitmap of the window's drawing context, of w by h pixels.  Window 0 is
// the window of the current port, -1 the current window.  The context is the
// port's own when the window is the port's (the memory context when a pixmap
// is the target), else one obtained from the window for the call, else a
// screen context (no window, or one without a host window).
static PlatObj PixmapCompatibleWith(int32 window, int32 w, int32 h) {
  const DDrawState& s = gDrawState;
  if (window == 0) window = s.window;
  else if (window == -1) window = WCurrentPort();
  if (window && window == s.window && (s.memDc || s.dc))
    return PlatCreateCompatibleBitmap(s.memDc ? s.memDc : s.dc, w, h);
  if (const PlatWindow host = window ? WHostWindow(window) : 0) {
    if (PlatObj dc = PlatGetDc(host)) {
      const PlatObj bitmap = PlatCreateCompatibleBitmap(dc, w, h);
      PlatReleaseDc(host, dc);
      return bitmap;
    }
  }
  const PlatObj dc = PlatCreateScreenDc();
  if (!dc) return 0;
  const PlatObj bitmap = PlatCreateCompatibleBitmap(dc, w, h);
  PlatDeleteDc(dc);
  return bitmap;
}

MgErr ICreatePixmap(int32 window, const Rect* rect, int32 depth, int32* image) {
  if (!image || !rect) return kArgErr;
  *image = 0;
  const int32 id = NewEntry(kImagePixmap, kImageOwned);
  if (!id) return kMemFullErr;
  const int32 w = rect->right - rect->left, h = rect->bottom - rect->top;
  PlatObj bitmap = 0;
  if (w > 0 && h > 0)
    bitmap = depth == 0 ? PixmapCompatibleWith(window, w, h) : PlatCreateBitmap(w, h, depth, nullptr, 0);
  PlatObjInfo oi{};
  UHandle ih = nullptr;
  if (bitmap && PlatDescribeObject(bitmap, &oi))
    ih = NewInfo(PixmapInfo{0, *rect, uInt32(depth ? depth : oi.planes * oi.bitsPerPixel)});
  if (!ih) {
    if (bitmap) PlatDeleteObject(bitmap);
    FreeEntry(id);
    return kImageMemErr;
  }
  At(id).data = WordOf(ih);
  At(id).extra = bitmap;
  *image = id;
  return kNoErr;
}

MgErr ICreateSubImage(int32 parent, const Rect* rect, int32* image) {
  if (!image || !rect) return kArgErr;
  *image = 0;
  const int32 w = rect->right - rect->left, h = rect->bottom - rect->top;
  if (w < 0 || w > 127 || h < 0 || h > 127) return kArgErr;
  const int32 id = NewEntry(kImageSub, 0);
  if (!id) return kMemFullErr;
  uInt8* words = reinterpret_cast<uInt8*>(&At(id)) + offsetof(ImageEntry, data);
  const uInt16 p = uInt16(parent);
  const int16 left = rect->left, top = rect->top;
  const int8 bw = int8(w), bh = int8(h);
  std::memcpy(words, &p, 2);
  std::memcpy(words + 2, &left, 2);
  std::memcpy(words + 4, &top, 2);
  std::memcpy(words + 6, &bw, 1);
  std::memcpy(words + 7, &bh, 1);
  *image = id;
  return kNoErr;
}

MgErr ICreatePCMetaFile(int32 window, int32 depth, uInt32 metafile, int32* image, const Rect* rect) {
  if (!image) return kArgErr;
  *image = 0;
  if (metafile && rect) {
    DBAssert(__FILE__, __LINE__, "ICreatePCMetaFile: both a metafile and a rectangle");
    return kArgErr;
  }
  MetaInfo info{Rect{}, uInt32(depth ? depth : WGetDepth(window))};
  if (metafile) {
    PlatMetaHeader header{};
    if (PlatGetMetafileHeader(metafile, &header))
      info.bounds = Rect{0, 0, int16(header.bounds.bottom - header.bounds.top),
                         int16(header.bounds.right - header.bounds.left)};
  } else if (rect) {
    info.bounds = Rect{0, 0, int16(rect->bottom - rect->top + 1), int16(rect->right - rect->left + 1)};
  }
  return Make(kImageMeta, kImageOwned, metafile, NewInfo(info), image);
}

MgErr ICreateMetaFileImage(int32 window, int32 depth, int32* image, const Rect* rect) {
  return ICreatePCMetaFile(window, depth, 0, image, rect);
}

MgErr ICreateProcImage(ImageProc proc, int32 style, int32* image) {
  if (!image) return kArgErr;
  *image = NewEntry(kImageProc, 0);
  if (!*image) return kMemFullErr;
  At(*image).data = uInt32(reinterpret_cast<uintptr_t>(proc));
  At(*image).extra = uInt32(style);
  return kNoErr;
}

MgErr ICreatePageImage(int32 window, int32 depth, uInt32 spoolFile, int32* image, uInt32 printRecord) {
  if (!image) return kArgErr;
  *image = 0;
  UHandle ih = NewInfo(PageInfo{uInt32(depth ? depth : WGetDepth(window)), spoolFile, printRecord});
  if (!ih) return kImageMemErr;
  const int32 id = NewEntry(kImagePage, 0);
  if (!id) {
    AZDisposeHandle(ih);
    return kMemFullErr;
  }
  At(id).data = WordOf(ih);
  *image = id;
  return kNoErr;
}

MgErr IDuplicate(int32 image, int32* copy) {
  if (!copy) return kArgErr;
  *copy = 0;
  if (!Valid(image)) return kArgErr;
  const ImageEntry e = At(image);
  switch (e.kind) {
    case kImageProc: {
      const int32 id = NewEntry(kImageProc, e.flags);
      if (!id) return kMemFullErr;
      At(id) = e;
      *copy = id;
      return kNoErr;
    }
    case kImagePICT:
    case kImageMeta: {
      PlatMetafile mf = 0;
      if (e.data && !(mf = PlatCopyMetafile(PlatMetafile(e.data)))) return kMemFullErr;
      UHandle ih = HandleOf(e.extra);
      if (AZHandToHand(&ih)) ih = nullptr;
      const MgErr err = Make(e.kind, e.flags & kImageOwned, mf, ih, copy);
      if (err && mf) PlatDeleteMetafile(mf);
      return err;
    }
    case kImagePicture: {
      UHandle data = HandleOf(e.data);
      const bool app = data && AZIsHandle(data);
      MgErr err = data ? (app ? AZHandToHand(&data) : DSHandToHand(&data)) : kNoErr;
      if (err) return kImageMemErr;
      UHandle ih = HandleOf(e.extra);
      if (AZHandToHand(&ih)) ih = nullptr;
      // The copy's data is its own whatever the source's was.
      err = Make(kImagePicture, (e.flags & 0x2A) | kImageOwned, WordOf(data), ih, copy);
      if (err) {
        if (data) DisposeAnyZone(data);
        return err;
      }
      Mark(*copy) = Mark(image) & kRecorded;
      if (IPictRecorded(*copy) && !OwnRecordedRefs(data)) {
        // A copy that cannot draw all the original draws is no copy.
        IRelease(*copy);
        *copy = 0;
        return kImageMemErr;
      }
      return kNoErr;
    }
    default: DBAssert(__FILE__, __LINE__, "IDuplicate: kind can't be copied"); return kArgErr;
  }
}

int32 IGetKind(int32 image) { return Valid(image) ? At(image).kind : 0; }

int32 IKindOf(int32 image) { return image >= 1 && image <= gCount ? At(image).kind : 0; }

int32 IGetDepth(int32 image) {
  if (!Valid(image)) return 0;
  const ImageEntry& e = At(image);
  switch (e.kind) {
    case kImageIcon1:
    case kImageMask: return 1;
    case kImageIcon4: return 4;
    case kImageIcon8: return 8;
    case kImagePixmap: return int32(Info<PixmapInfo>(e.data).depth);
    case kImagePICT:
    case kImageMeta: return int32(Info<MetaInfo>(e.extra).depth);
    case kImagePicture: return int32(Info<PictInfo>(e.extra).depth);
    case kImagePage: return int32(Info<PageInfo>(e.data).depth);
    case kImageWindow: return WGetDepth(int32(e.data));
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

// Device-independent bitmaps.

bool ISwapDIBHeader(UHandle dib, Bool32 toHost) {
  if (!dib || AZGetHandleSize(dib) < 40) return false;
  uInt8* p = reinterpret_cast<uInt8*>(*dib);
  for (int32 at = 0; at < 40;) {
    const bool half = at == 12 || at == 14;  // planes and bit count
    if (half) {
      const uInt16 v = toHost ? GetBE16(p + at) : GetNative16(p + at);
      toHost ? PutNative16(p + at, v) : PutBE16(p + at, v);
      at += 2;
    } else {
      const uInt32 v = toHost ? GetBE32(p + at) : GetNative32(p + at);
      toHost ? PutNative32(p + at, v) : PutBE32(p + at, v);
      at += 4;
    }
  }
  return true;
}

int32 IDIBColorCount(const void* header) {
  const uInt8* p = static_cast<const uInt8*>(header);
  const uInt32 used = GetNative32(p + 32);
  if (used) return used > 256 ? -1 : int32(used);
  switch (GetNative16(p + 14)) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
  }
}

int32 IDIBColorTableSize(const void* header) {
  const int32 n = IDIBColorCount(header);
  return n < 0 ? -1 : n * 4;
}

int32 IDIBBits(const void* header) {
  const int32 table = IDIBColorTableSize(header);
  return table < 0 ? -1 : 40 + table;
}

PlatObj IHostBitmapFromDIB(const void* dib, int32 size) {
  if (!dib || size < 40) return 0;
  const uInt8* p = static_cast<const uInt8*>(dib);
  if (GetNative32(p) != 40) return 0;
  const int32 width = int32(GetNative32(p + 4)), height = int32(GetNative32(p + 8));
  const int32 depth = GetNative16(p + 14);
  const int32 bits = IDIBBits(p);
  if (bits < 0 || bits > size || width <= 0 || height == 0 || height == INT32_MIN || depth <= 0 || depth > 32)
    return 0;
  const int64 rowBytes = (int64(width) * depth + 31) / 32 * 4;
  const int64 rows = height < 0 ? -int64(height) : int64(height);
  if (rowBytes > (int64(size) - bits) / rows) return 0;  // the rows past the resource's end
  PlatObj dc = PlatCreateScreenDc();
  if (!dc) return 0;
  const PlatObj bitmap = PlatCreateDibBitmap(dc, p, uInt32(bits), p + bits, uInt32(size - bits));
  PlatDeleteDc(dc);
  return bitmap;
}
