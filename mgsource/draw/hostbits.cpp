// Host bitmaps of icons and pixmaps, pixel access in the system's row
// format, the pixel block of pictures and the banded printing of pixmaps.
#include "mgsource/draw/hostbits.h"

#include <algorithm>
#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/drawbits.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/draw/pictops.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/rsrc.h"
#include "platform/qx_blit.h"
#include "platform/qx_dc.h"
#include "platform/qx_dib.h"
#include "platform/qx_printdc.h"
#include "platform/qx_surface.h"

double gBitmapScale = 1.0;

namespace {

int32 gIconBitmaps = 0;

bool DepthOk(int32 depth) {
  return depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
}

int32 BitCount(int32 depth) {
  if (depth < 2) return 1;
  if (depth < 5) return 4;
  if (depth < 9) return 8;
  if (depth <= 16) return 16;
  if (depth <= 24) return 24;
  return 32;
}

int64 DibRowBytes(int32 width, int32 depth) {
  if (depth == 16) return (int64(width) * 2 + 3) / 4 * 4;
  return (int64(width) * BitCount(depth) + 31) / 32 * 4;
}

// 0x00RRGGBB from a host colour table entry (blue, green, red, 0) and back.
void PutTableEntry(uInt8* at, DColor c) {
  at[0] = uInt8(c);
  at[1] = uInt8(c >> 8);
  at[2] = uInt8(c >> 16);
  at[3] = 0;
}

// One pixel of the system's row format as 0x00RRGGBB.
DColor ReadPixel(const uInt8* row, int32 x, int32 depth) {
  switch (depth) {
    case 1: return (row[x >> 3] & (0x80 >> (x & 7))) ? kBlackColor : kWhiteColor;
    case 4: return MIndexToDColor((row[x >> 1] >> (x & 1 ? 0 : 4)) & 0x0F, 4);
    case 8: return MIndexToDColor(row[x], 8);
    case 16: {
      const uInt32 w = GetBE16(row + 2 * x);
      const uInt32 r = (w >> 10) & 31, g = (w >> 5) & 31, b = w & 31;
      return ((r << 3 | r >> 2) << 16) | ((g << 3 | g >> 2) << 8) | (b << 3 | b >> 2);
    }
    case 24: return (uInt32(row[3 * x]) << 16) | (uInt32(row[3 * x + 1]) << 8) | row[3 * x + 2];
    default: return GetBE32(row + 4 * x) & 0xFFFFFF;
  }
}

// Nearest of black and white.
bool IsDark(DColor c) {
  const int32 r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
  return r * r + g * g + b * b < (255 - r) * (255 - r) + (255 - g) * (255 - g) + (255 - b) * (255 - b);
}

// The system's index of a colour, remembering the last answer (rows repeat
// colours).
struct IndexCache {
  int32 depth;
  DColor last = 0xFFFFFFFF;
  int32 index = 0;
  int32 Of(DColor c) {
    if (c != last) {
      last = c;
      index = DColorToMIndex(c, depth);
    }
    return index;
  }
};

void WritePixel(uInt8* row, int32 x, int32 depth, DColor c, IndexCache* cache) {
  switch (depth) {
    case 1:
      if (IsDark(c)) row[x >> 3] |= uInt8(0x80 >> (x & 7));
      else row[x >> 3] &= uInt8(~(0x80 >> (x & 7)));
      break;
    case 4: {
      const int32 shift = x & 1 ? 0 : 4;
      row[x >> 1] = uInt8((row[x >> 1] & ~(0x0F << shift)) | ((cache->Of(c) & 0x0F) << shift));
      break;
    }
    case 8: row[x] = uInt8(cache->Of(c)); break;
    case 16: {
      const uInt32 w = (((c >> 19) & 31) << 10) | (((c >> 11) & 31) << 5) | ((c >> 3) & 31);
      PutBE16(row + 2 * x, uInt16(w));
      break;
    }
    case 24:
      row[3 * x] = uInt8(c >> 16);
      row[3 * x + 1] = uInt8(c >> 8);
      row[3 * x + 2] = uInt8(c);
      break;
    default: PutBE32(row + 4 * x, c & 0xFFFFFF); break;
  }
}

// The pixmap's surface, its bounds and depth: 0, or 1 when it has no host
// bitmap, 17 when the bitmap has no pixels.
MgErr PixmapSurface(int32 image, Rect* bounds, int32* depth, PlatSurface** surface) {
  Rect src{0, 0, 0, 0};
  const PlatObj bitmap = ILockHost(image, &src, depth);
  const PixmapInfo* info = IInfoOf<PixmapInfo>(IEntryOf(image).data);
  if (!bitmap || !info) {
    DBPrintf("GetObject failed!!");
    return kArgErr;
  }
  *bounds = info->bounds;
  *surface = PlatBitmapSurface(bitmap);
  if (*surface) return kNoErr;
  DBPrintf("GetPixmapBits: theDIB is null");
  return kImageMemErr;
}

// The rectangle of a call: empty means the whole pixmap; false when it is
// not inside the bounds.
bool ResolveRect(const Rect* rect, const Rect& bounds, Rect* out) {
  *out = rect && !DEmptyRect(rect) ? *rect : bounds;
  return out->left >= bounds.left && out->top >= bounds.top && out->right <= bounds.right &&
         out->bottom <= bounds.bottom && out->right > out->left && out->bottom > out->top;
}

// What the host-bit calls work on: the pixmap's record, the rectangle (the
// whole pixmap when none is given) and its size, the depth (the pixmap's
// own when 0), the least row bytes and the row bytes (the least when 0).
struct HostBitsArea {
  const PixmapInfo* info;
  Rect r;
  int32 depth, width, height, need, rowBytes;
};

// kImageNotFoundErr for no image; kArgErr for an image that is no pixmap,
// a bad depth or rectangle, or row bytes under the least.
MgErr HostBitsAreaOf(int32 image, int32 depth, const Rect* rect, int32 rowBytes, HostBitsArea* a) {
  if (!image) return kImageNotFoundErr;
  if (IKindOf(image) != kImagePixmap) return kArgErr;
  a->info = IInfoOf<PixmapInfo>(IEntryOf(image).data);
  if (!a->info) return kArgErr;
  a->depth = depth ? depth : int32(a->info->depth);
  if (!DepthOk(a->depth)) return kArgErr;
  if (!ResolveRect(rect, a->info->bounds, &a->r)) return kArgErr;
  a->width = a->r.right - a->r.left;
  a->height = a->r.bottom - a->r.top;
  a->need = ISystemRowBytes(a->width, a->depth);
  a->rowBytes = rowBytes ? rowBytes : a->need;
  return a->rowBytes < a->need ? kArgErr : kNoErr;
}

}  // namespace

void ICountOffHostBitmap() {
  if (gIconBitmaps > 0) --gIconBitmaps;
}

int32 IHostBitmapCount() { return gIconBitmaps; }

void IInvertBytes(uInt8* bytes, int32 n) {
  for (int32 i = 0; i < n; ++i) bytes[i] = uInt8(~bytes[i]);
}

void IReverseWords(uInt8* words, int32 n) {
  for (int32 i = 0; i < n; ++i) {
    uInt8* w = words + 4 * i;
    std::swap(w[0], w[3]);
    std::swap(w[1], w[2]);
  }
}

void IMakeDIBHeader(int32 width, int32 height, int32 depth, int32 colourCount, std::vector<uInt8>* header) {
  const int32 bits = BitCount(depth);
  int32 colours = colourCount;
  if (colours <= 0) colours = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
  header->assign(size_t(40 + 4 * colours), 0);
  uInt8* h = header->data();
  PutNative32(h, 40);
  PutNative32(h + 4, uInt32(width));
  PutNative32(h + 8, uInt32(height));
  PutNative16(h + 12, 1);
  PutNative16(h + 14, uInt16(bits));
  const int64 rows = height < 0 ? -int64(height) : height;
  PutNative32(h + 20, uInt32(DibRowBytes(width, depth) * rows));
  if (colourCount > 0) PutNative32(h + 32, uInt32(colourCount));
}

void ISetDIBColors(uInt8* header, DColor colour0, DColor colour1) {
  if (!header) return;
  PutTableEntry(header + 40, colour0);
  PutTableEntry(header + 44, colour1);
}

MgErr PreparePCData(const uInt8* bits, const uInt8* colours, int32 width, int32 height, int32 depth,
                    int32 colourCount, std::vector<uInt8>* bitsOut, std::vector<uInt8>* header) {
  if (!DepthOk(depth)) {
    DBPrintf("PreparePCData: Invalid depth of %ld. No pcData created.", long(depth));
    return kArgErr;
  }
  const int32 inRow = ISystemRowBytes(width, depth);
  const int64 outRow = DibRowBytes(width, depth);
  if (!bits || inRow <= 0 || height <= 0 || outRow * height > 0x7FFFFFFF) return kArgErr;
  int32 count = depth <= 8 ? (colourCount > 0 ? std::min(colourCount, 1 << depth) : 1 << depth) : 0;
  if (depth == 1) count = 2;
  IMakeDIBHeader(width, depth == 32 ? -height : height, depth, count, header);
  uInt8* table = header->data() + 40;
  if (depth == 1) {
    PutTableEntry(table, kBlackColor);
    PutTableEntry(table + 4, kWhiteColor);
  } else if (depth <= 8) {
    for (int32 i = 0; i < count; ++i) PutTableEntry(table + 4 * i, MIndexToDColor(i, depth));
    if (colours && colourCount > 0) {
      std::vector<DColor> rgb(static_cast<size_t>(count));
      IColorTableToRGB(colours, count, rgb.data());
      for (int32 i = 0; i < count; ++i) PutTableEntry(table + 4 * i, rgb[size_t(i)]);
    }
  } else if (depth == 32) {
    DBPrintf("PreparePCData: created data for depth of %ld", long(depth));
  }
  bitsOut->assign(size_t(outRow * height), 0);
  for (int32 v = 0; v < height; ++v) {
    const uInt8* in = bits + int64(v) * inRow;
    uInt8* out = bitsOut->data() + (depth == 32 ? v : height - 1 - v) * outRow;
    switch (depth) {
      case 1:
        for (int32 i = 0; i < inRow && i < outRow; ++i) out[i] = uInt8(~in[i]);
        break;
      case 16:
        for (int32 x = 0; x < width; ++x) PutNative16(out + 2 * x, GetBE16(in + 2 * x));
        break;
      case 24:
        for (int32 x = 0; x < width; ++x) {
          out[3 * x] = in[3 * x + 2];
          out[3 * x + 1] = in[3 * x + 1];
          out[3 * x + 2] = in[3 * x];
        }
        break;
      case 32:
        std::memcpy(out, in, size_t(inRow));
        IReverseWords(out, width);
        break;
      default: std::memcpy(out, in, size_t(std::min<int64>(inRow, outRow))); break;
    }
  }
  return kNoErr;
}

PlatObj CreateHostData(const uInt8* bits, int32 width, int32 height, int32 depth, const uInt8* colours,
                       int32 colourCount) {
  if (!bits || width <= 0 || height <= 0) return 0;
  if (depth == 1) {
    const int32 rowBytes = ISystemRowBytes(width, 1);
    std::vector<uInt8> inverted(bits, bits + int64(rowBytes) * height);
    IInvertBytes(inverted.data(), int32(inverted.size()));
    return PlatCreateBitmap(width, height, 1, inverted.data(), uInt32(inverted.size()));
  }
  std::vector<uInt8> header, dib;
  if (PreparePCData(bits, colours, width, height, depth, colourCount, &dib, &header) != kNoErr) {
    DBPrintf("CreateHostData: CreatePCData failed. No hostData created.");
    return 0;
  }
  const PlatObj dc = PlatCreateScreenDc();
  if (!dc) return 0;
  const PlatObj bitmap =
      PlatCreateDibBitmap(dc, header.data(), uInt32(header.size()), dib.data(), uInt32(dib.size()));
  PlatDeleteDc(dc);
  return bitmap;
}

PlatObj ILockHost(int32 image, Rect* srcRect, int32* depthOut) {
  ImageEntry* e = IEntryPtr(image);
  if (!e) return 0;
  int32 depth = 0;
  switch (e->kind) {
    case kImageIcon1:
    case kImageMask: depth = 1; break;
    case kImageIcon4: depth = 4; break;
    case kImageIcon8: depth = 8; break;
    case kImagePixmap: {
      const PixmapInfo* info = IInfoOf<PixmapInfo>(e->data);
      if (!info) return 0;
      depth = int32(info->depth);
      if (srcRect) DOffsetRect(srcRect, -info->bounds.left, -info->bounds.top);
      break;
    }
    default: return 0;
  }
  if (depthOut) *depthOut = depth;
  if (e->extra) return PlatObj(e->extra);
  if (e->kind == kImagePixmap) {
    const PixmapInfo info = *IInfoOf<PixmapInfo>(e->data);
    const int32 width = info.bounds.right - info.bounds.left, height = info.bounds.bottom - info.bounds.top;
    if (width <= 0 || height <= 0) {
      DBPrintf("ILockHost: width &/or height <= 0. Can't create hostData.");
      return 0;
    }
    UHandle bits = IHandleOf(info.bits);
    if (!bits) return 0;
    if ((e->flags & kImageInFile) && RLoad(bits) != kNoErr) return 0;
    // A BMAP's rows follow its height and width; the resource must hold them.
    const int32 rowBytes = ISystemRowBytes(width, depth);
    if (rowBytes <= 0 || AZGetHandleSize(bits) - 4 < int64(rowBytes) * height) return 0;
    const PlatObj bitmap =
        CreateHostData(reinterpret_cast<const uInt8*>(*bits) + 4, width, height, depth, nullptr, 0);
    IEntryPtr(image)->extra = bitmap;
    return bitmap;
  }
  UHandle bits = IHandleOf(e->data);
  if (!bits) return 0;
  if ((e->flags & kImageInFile) && RLoad(bits) != kNoErr) return 0;
  if (AZGetHandleSize(bits) < 32 * ISystemRowBytes(32, depth)) return 0;
  const PlatObj bitmap = CreateHostData(reinterpret_cast<const uInt8*>(*bits), 32, 32, depth, nullptr, 0);
  if (bitmap) {
    IEntryPtr(image)->extra = bitmap;
    ++gIconBitmaps;
  }
  return bitmap;
}

void IFreeHostBitmaps() {
  const int32 count = IImageTableCount();
  for (int32 id = 1; id <= count; ++id) {
    ImageEntry* e = IEntryPtr(id);
    if (!e || !e->extra) continue;
    if (e->kind >= kImageIcon1 && e->kind <= kImageMask) {
      IDeleteHostObject(PlatObj(e->extra));
      e->extra = 0;
      ICountOffHostBitmap();
    } else if (e->kind == kImagePixmap && (e->flags & kImageInFile)) {
      const PixmapInfo* info = IInfoOf<PixmapInfo>(e->data);
      if (!info || !info->bits) continue;  // only pixmaps that can be made again
      IDeleteHostObject(PlatObj(e->extra));
      e->extra = 0;
    }
  }
}

void IDeleteHostObject(PlatObj object) {
  if (!PlatDeleteObject(object)) DBAssert(__FILE__, __LINE__, "IDeleteHostObject: not deleted");
}

MgErr IGetHostBits(int32 image, int32, int32* depthInOut, const Rect* rect, int32* rowBytesInOut, int32* sizeInOut,
                   uInt8* buffer, DColor* colourTable) {
  if (!depthInOut || !rowBytesInOut || !sizeInOut) return image ? kArgErr : kImageNotFoundErr;
  HostBitsArea area;
  if (MgErr err = HostBitsAreaOf(image, *depthInOut, rect, *rowBytesInOut, &area)) return err;
  const auto& [info, r, depth, width, height, need, rowBytes] = area;
  if (int64(rowBytes) * height > 0x7FFFFFFF) return kArgErr;
  const int32 size = rowBytes * height;
  if (*sizeInOut && *sizeInOut < size) return kArgErr;
  *depthInOut = depth;
  *rowBytesInOut = rowBytes;
  if (!*sizeInOut) *sizeInOut = size;
  if (!buffer) return kNoErr;
  Rect bounds;
  int32 own = 0;
  PlatSurface* s = nullptr;
  if (MgErr err = PixmapSurface(image, &bounds, &own, &s)) return err;
  const int32 x0 = r.left - bounds.left, y0 = r.top - bounds.top;
  if (x0 + width > PlatSurfaceWidth(s) || y0 + height > PlatSurfaceHeight(s)) {
    DBPrintf("GetHostBits: GetDIBits failure!!!");
    return kArgErr;
  }
  IndexCache cache{depth};
  const bool mono = PlatSurfaceFormatOf(s) == kPlatMono1;
  for (int32 v = 0; v < height; ++v) {
    uInt8* out = buffer + int64(v) * rowBytes;
    std::memset(out, 0, size_t(need));
    if (!mono && depth == 24) {
      const uInt32* in = reinterpret_cast<const uInt32*>(PlatSurfaceBits(s) + int64(y0 + v) * PlatSurfaceStride(s)) + x0;
      for (int32 x = 0; x < width; ++x) {
        const uInt32 p = in[x];
        out[3 * x] = uInt8(p >> 16);
        out[3 * x + 1] = uInt8(p >> 8);
        out[3 * x + 2] = uInt8(p);
      }
      continue;
    }
    for (int32 x = 0; x < width; ++x)
      WritePixel(out, x, depth, PlatSurfaceGetPixel(s, x0 + x, y0 + v) & 0xFFFFFF, &cache);
  }
  if (colourTable) {
    if (depth == 1) {
      colourTable[0] = kWhiteColor;
      colourTable[1] = kBlackColor;
    } else if (depth <= 8) {
      for (int32 i = 0; i < (1 << depth); ++i) colourTable[i] = MIndexToDColor(i, depth);
    }
  }
  return kNoErr;
}

MgErr IPutHostBits(int32 image, int32, int32 depthIn, const Rect* rect, int32 rowBytesIn, const uInt8* buffer, int32) {
  HostBitsArea area;
  if (MgErr err = HostBitsAreaOf(image, depthIn, rect, rowBytesIn, &area)) return err;
  if (!buffer) return kArgErr;
  const auto& [info, r, depth, width, height, need, rowBytes] = area;
  const int32 own = int32(info->depth);
  const bool whole = r.left == info->bounds.left && r.top == info->bounds.top && r.right == info->bounds.right &&
                     r.bottom == info->bounds.bottom;
  if (!whole) {
    const bool sameWidth = width == info->bounds.right - info->bounds.left;
    if (depth != own || !(sameWidth || depth >= 8)) {
      DBPrintf("PutBits: this case is not done yet so no bits put");
      return kCapabilityErr;
    }
    if (!sameWidth) DBPrintf("PutBits: depths are same and are >=8 ");
  }
  Rect bounds;
  int32 d = 0;
  PlatSurface* s = nullptr;
  if (MgErr err = PixmapSurface(image, &bounds, &d, &s)) return err;
  const int32 x0 = r.left - bounds.left, y0 = r.top - bounds.top;
  if (x0 + width > PlatSurfaceWidth(s) || y0 + height > PlatSurfaceHeight(s)) {
    DBPrintf("PutBits: SetDIBits failed");
    return kArgErr;
  }
  const bool mono = PlatSurfaceFormatOf(s) == kPlatMono1;
  for (int32 v = 0; v < height; ++v) {
    const uInt8* in = buffer + int64(v) * rowBytes;
    if (!mono && depth == 24) {
      uInt32* out = reinterpret_cast<uInt32*>(PlatSurfaceBits(s) + int64(y0 + v) * PlatSurfaceStride(s)) + x0;
      for (int32 x = 0; x < width; ++x)
        out[x] = kPlatOpaque | (uInt32(in[3 * x]) << 16) | (uInt32(in[3 * x + 1]) << 8) | in[3 * x + 2];
      continue;
    }
    for (int32 x = 0; x < width; ++x) PlatSurfaceSetPixel(s, x0 + x, y0 + v, ReadPixel(in, x, depth));
  }
  return kNoErr;
}

void IGetQXPictBits(int32 image, UHandle handle) {
  if (IKindOf(image) != kImagePicture || !handle) return;
  UHandle pict = IHandleOf(IEntryOf(image).data);
  if (!pict || pict == handle) return;
  const int32 size = AZIsHandle(pict) ? AZGetHandleSize(pict) : DSGetHandleSize(pict);
  if (size < 4) return;
  PictWalker walk(reinterpret_cast<const uInt8*>(*pict) + 4, size - 4);
  PictRecord rec;
  while (walk.Next(&rec)) {
    if (rec.opcode != kPictOpPixels) continue;
    if (!PictRecordWellFormed(rec)) return;
    const uInt8* d = rec.data;
    const uInt32 count = GetBE32(d);
    const int32 top = int16(GetBE16(d + 4)), left = int16(GetBE16(d + 6));
    const int32 bottom = int16(GetBE16(d + 8)), right = int16(GetBE16(d + 10));
    const int32 depth = int16(GetBE16(d + 12));
    const int32 c = int16(GetBE16(d + 22));
    // A block whose count, bounds or depth do not hold together is no
    // answer: the divisions below need rows and depth.
    const int32 rowBytes = ISystemRowBytes(right - left, depth);
    if (!DepthOk(depth) || bottom <= top || rowBytes <= 0 || int64(rowBytes) * (bottom - top) > count ||
        count > 0x7FFFFFF0u)
      return;
    const uInt32 rows = uInt32(bottom - top + 1);
    const int32 at = c ? 26 + (c + 1) * 8 : 24;
    if (DSCheckHandle(handle) != kNoErr || DSSetHandleSize(handle, int32(count + 8)) != kNoErr) return;
    // The picture is not moved by resizing another handle, but its bytes are
    // read again all the same.
    const uInt8* pixels = reinterpret_cast<const uInt8*>(*pict) + 4 + rec.offset + 6 + at;
    PutNative32(*handle, rows);
    PutNative32(*handle + 4, uInt32(uInt64(count) * 8 / rows / uInt32(depth)));
    std::memcpy(*handle + 8, pixels, count);
    return;
  }
}

void IStretchHostBitmap(PlatObj bitmap, const Rect* srcRect, const Rect* destRect) {
  if (!srcRect || !destRect) return;
  std::vector<uInt8> dib;
  PlatObjInfo oi{};
  if (!PlatDescribeObject(bitmap, &oi) || oi.kind != kPlatObjBitmap) {
    DBPrintf("GetObject failed");
    return;
  }
  const PlatObj screen = PlatCreateScreenDc();
  const bool ok = screen && PlatGetDibBits(screen, bitmap, 0, 40, false, &dib);
  if (screen) PlatDeleteDc(screen);
  if (!ok) {
    DBPrintf("GetDIBits failure");
    return;
  }
  PlatDibInfo di{};
  if (!PlatDibReadPacked(dib.data(), uInt32(dib.size()), &di)) {
    DBPrintf("couldn't allocate the DIB");
    return;
  }
  const uInt32 headerBytes = uInt32(di.headerSize) + di.tableBytes;
  const int32 x = destRect->left - gDrawState.originH, y = destRect->top - gDrawState.originV;
  if (!PlatStretchDibBits(gDrawState.dc, x, y, destRect->right - destRect->left, destRect->bottom - destRect->top,
                          srcRect->left, srcRect->top, srcRect->right - srcRect->left,
                          srcRect->bottom - srcRect->top, dib.data(), headerBytes, dib.data() + headerBytes,
                          uInt32(dib.size()) - headerBytes, kPlatSrcCopy))
    DBPrintf("StretchDIBits failed");
}

bool IHostBitmapToDIB(PlatObj bitmap, PlatObj palette, std::vector<uInt8>* dib) {
  PlatObjInfo oi{};
  if (!dib || !PlatDescribeObject(bitmap, &oi) || oi.kind != kPlatObjBitmap) return false;
  const int32 depth = oi.planes * oi.bitsPerPixel > 8 ? 24 : oi.planes * oi.bitsPerPixel;
  const PlatObj dc = PlatCreateScreenDc();
  if (!dc) return false;
  const PlatObj old = PlatSelectPalette(dc, palette ? palette : DAppPalette());
  const bool ok = PlatGetDibBits(dc, bitmap, depth, 40, false, dib);
  if (old) PlatSelectPalette(dc, old);
  PlatDeleteDc(dc);
  if (!ok) DBPrintf("GetDIBits failure");
  return ok;
}

// A copy of a pixmap a picture owns (the pixmaps of its pixel blocks), at
// its own depth so that a one-bit copy still takes the colours it is drawn
// in; 0 when none can be made, and for other kinds, which no picture owns.
int32 ICopyOwnedPixmap(int32 image) {
  if (IKindOf(image) != kImagePixmap) return 0;
  int32 depth = IGetDepth(image) == 1 ? 1 : 32, rowBytes = 0, size = 0;
  if (IGetHostBits(image, 0, &depth, nullptr, &rowBytes, &size, nullptr, nullptr) != kNoErr) return 0;
  std::vector<uInt8> rows(static_cast<size_t>(size));
  Rect bounds{0, 0, 0, 0};
  IGetRect(image, &bounds);
  if (IGetHostBits(image, 0, &depth, nullptr, &rowBytes, &size, rows.data(), nullptr) != kNoErr) return 0;
  const PlatObj bitmap =
      CreateHostData(rows.data(), bounds.right - bounds.left, bounds.bottom - bounds.top, depth, nullptr, 0);
  int32 copy = 0;
  if (bitmap && IPixmapFromHostBitmap(bitmap, &copy) != kNoErr) {
    IDeleteHostObject(bitmap);
    return 0;
  }
  return copy;
}

int32 IPrintPixmapDIB(int32 image, int32, PlatObj printerDc) {
  if (IKindOf(image) != kImagePixmap) return 0;
  Rect src{0, 0, 0, 0};
  int32 depth = 0;
  const PlatObj bitmap = ILockHost(image, &src, &depth);
  if (!bitmap) return 0;
  std::vector<uInt8> dib;
  const PlatObj screen = PlatCreateScreenDc();
  const bool ok = screen && PlatGetDibBits(screen, bitmap, depth, 40, false, &dib);
  if (screen) PlatDeleteDc(screen);
  PlatDibInfo di{};
  if (!ok || !PlatDibReadPacked(dib.data(), uInt32(dib.size()), &di)) return 0;
  const uInt32 headerBytes = uInt32(di.headerSize) + di.tableBytes;
  PlatSetStretchBltMode(printerDc, kPlatStretchSample);
  int32 flags = 0;
  int32 query = kPlatEscNextBand;
  if (PlatEscape(printerDc, kPlatEscQuerySupport, int32(sizeof query), &query, nullptr) <= 0) return 4;
  const double scale = gBitmapScale > 0 ? gBitmapScale : 1.0;
  const int32 dpiX = PlatGetDeviceCaps(printerDc, kPlatCapLogPixelsX);
  const int32 dpiY = PlatGetDeviceCaps(printerDc, kPlatCapLogPixelsY);
  const int32 w = int32(double(di.width) * dpiX / 72.0 / scale), h = int32(double(di.height) * dpiY / 72.0 / scale);
  for (int32 bands = 0; bands < 100000; ++bands) {
    PlatRect band{0, 0, 0, 0};
    if (PlatEscape(printerDc, kPlatEscNextBand, 0, nullptr, &band) <= 0) {
      flags |= 0x800;
      break;
    }
    if (band.right <= band.left || band.bottom <= band.top) break;
    PlatBandInfo info{};
    if (PlatEscape(printerDc, kPlatEscBandInfo, 0, nullptr, &info) <= 0) flags |= 8;
    if (!PlatStretchDibBits(printerDc, 0, 0, w, h, 0, 0, di.width, di.height, dib.data(), headerBytes,
                            dib.data() + headerBytes, uInt32(dib.size()) - headerBytes, kPlatSrcCopy))
      flags |= 32;
  }
  return flags;
}
