// Image geometry and hit testing, procedural-image messages, the colour
// choice of image drawing, grey levels and ordered dithering.
#include "mgsource/draw/imagegeom.h"

#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/window.h"

namespace {

constexpr Rect kIconRect{0, 0, 32, 32};

// The mask of an icon family: 128 bytes, or null.
const uInt8* FamilyMask(int32 image) {
  const ImageEntry e = IEntryOf(image);
  if (e.kind != kImageFamily || !e.fourth) return nullptr;
  const ImageEntry m = IEntryOf(int32(e.fourth));
  if (m.kind != kImageMask || !m.data) return nullptr;
  UHandle h = IHandleOf(m.data);
  if (AZGetHandleSize(h) < 128) return nullptr;
  return reinterpret_cast<const uInt8*>(*h);
}

bool MaskBit(const uInt8* mask, int32 h, int32 v) {
  return (GetBE32(mask + 4 * v) >> (31 - h)) & 1;
}

MgErr Send(int32 image, int32 message, PictMessageBlock* block, int32* status) {
  PictStyleBlock* style = nullptr;
  PictureProc proc = IProcOf(image, &style);
  if (!proc) return kCapabilityErr;
  const int32 s = proc(message, style, block);
  if (status) *status = s;
  return kNoErr;
}

}  // namespace

PictureProc IProcOf(int32 image, PictStyleBlock** style) {
  if (!image || IKindOf(image) != kImageProc) return nullptr;
  ImageEntry* e = IEntryPtr(image);
  if (!e->data) return nullptr;
  static_assert(offsetof(ImageEntry, third) == offsetof(ImageEntry, extra) + 4 &&
                    offsetof(ImageEntry, fourth) == offsetof(ImageEntry, extra) + 8,
                "the style and state words follow each other");
  if (style) *style = reinterpret_cast<PictStyleBlock*>(&e->extra);
  return reinterpret_cast<PictureProc>(uintptr_t(e->data));
}

MgErr IProcImageMessage(int32 image, int32 message, void* block) {
  return Send(image, message, static_cast<PictMessageBlock*>(block), nullptr);
}

int32 IProcImageIsOpaque(int32 image, int32* opaque, const DColor* colours) {
  PictMessageBlock b{};
  b.foreColor = colours ? colours[0] : 0;
  b.backColor = colours ? colours[1] : 0;
  if (Send(image, 7, &b, nullptr) != kNoErr) return 0;
  if (opaque) *opaque = b.result;
  return b.shapeKind;
}

MgErr IProcImageQueryRect(int32 image, Rect* rect) {
  PictMessageBlock b{};
  if (MgErr err = Send(image, 13, &b, nullptr)) return err;
  if (rect) *rect = Rect{b.point1.v, b.point1.h, b.point2.v, b.point2.h};
  return kNoErr;
}

MgErr IProcImageBounds(int32 image, Point point1, Point point2, Rect* rect) {
  Rect area = rect ? *rect : Rect{0, 0, 0, 0};
  PictMessageBlock b{};
  b.rect = &area;
  b.point1 = point1;
  b.point2 = point2;
  int32 status = 0;
  if (MgErr err = Send(image, 14, &b, &status)) return err;
  if (rect) *rect = area;
  return status;
}

int32 IGetRect(int32 image, Rect* rect) {
  const int32 kind = IGetKind(image);
  if (!rect || !kind) return 1;
  const ImageEntry e = IEntryOf(image);
  switch (kind) {
    case kImageIcon1:
    case kImageIcon4:
    case kImageIcon8:
    case kImageMask:
    case kImageFamily: *rect = kIconRect; break;
    case kImagePixmap:
      if (const PixmapInfo* p = IInfoOf<PixmapInfo>(e.data)) *rect = p->bounds;
      break;
    case kImageSub: {
      const uInt8* w = reinterpret_cast<const uInt8*>(&e) + offsetof(ImageEntry, data);
      int16 left, top;
      int8 width, height;
      std::memcpy(&left, w + 2, 2);
      std::memcpy(&top, w + 4, 2);
      std::memcpy(&width, w + 6, 1);
      std::memcpy(&height, w + 7, 1);
      *rect = Rect{top, left, int16(top + height), int16(left + width)};
      break;
    }
    case kImagePICT:
    case kImageMeta:
      if (const MetaInfo* m = IInfoOf<MetaInfo>(e.extra)) *rect = m->bounds;
      break;
    case kImagePicture:
      if (const PictInfo* p = IInfoOf<PictInfo>(e.extra)) *rect = p->bounds;
      break;
    case kImageProc: {
      PictMessageBlock b{};
      b.rect = rect;
      Send(image, 4, &b, nullptr);
      return 0;
    }
    case kImageWindow: WGetRect(int32(e.data), rect); break;
    case kImagePage:
      if (const PageInfo* p = IInfoOf<PageInfo>(e.data)) {
        UHandle pr = IHandleOf(p->printRecord);
        if (pr && AZGetHandleSize(pr) >= 32) std::memcpy(rect, *pr + 24, sizeof(Rect));
      }
      break;
    default: break;  // cursors and DIBs have no bounds of their own
  }
  return 1;
}

Bool32 IPtInImage(Point point, int32 image, const Rect* rect) {
  const int32 kind = IGetKind(image);
  if (!kind) return 0;
  if (kind == kImageFamily) {
    if (const uInt8* mask = FamilyMask(image)) {
      int32 h = point.h, v = point.v;
      if (rect) {
        h -= rect->left;
        v -= rect->top;
        const int32 width = rect->right - rect->left, height = rect->bottom - rect->top;
        if (width != 32 && width != 0) h = int32(int64(h) * 32 / width);
        if (height != 32 && height != 0) v = int32(int64(v) * 32 / height);
      }
      return h >= 0 && h < 32 && v >= 0 && v < 32 && MaskBit(mask, h, v) ? 1 : 0;
    }
  }
  if (kind == kImageProc) {
    if (!rect) return 0;
    Rect r = *rect;
    PictMessageBlock b{};
    b.rect = &r;
    b.point = point;
    Send(image, 2, &b, nullptr);
    return b.result ? 1 : 0;
  }
  Rect bounds{0, 0, 0, 0};
  if (!rect) IGetRect(image, &bounds);
  return DPtInRect(point, rect ? rect : &bounds);
}

MgErr IGetMaskBounds(int32 image, const Rect* drawRect, Rect* bounds) {
  if (IGetKind(image) != kImageFamily) return kGenericErr;
  if (!bounds) return kNoErr;
  Rect r = kIconRect;
  if (const uInt8* mask = FamilyMask(image)) {
    auto row = [&](int32 v) { return GetBE32(mask + 4 * v); };
    int32 top = 0, bottom = 32;
    while (top < bottom && row(top) == 0) ++top;
    while (bottom > top && row(bottom - 1) == 0) --bottom;
    if (top == bottom) {
      // An all-zero mask: nothing to bound, an empty rectangle at the
      // origin.
      r = Rect{0, 0, 0, 0};
    } else {
      uInt32 any = 0;
      for (int32 v = top; v < bottom; ++v) any |= row(v);
      int32 left = 0, right = 32;
      while (left < right && !((any >> (31 - left)) & 1)) ++left;
      while (right > left && !((any >> (31 - (right - 1))) & 1)) --right;
      r = Rect{int16(top), int16(left), int16(bottom), int16(right)};
    }
  }
  if (drawRect) {
    const int32 height = drawRect->bottom - drawRect->top, width = drawRect->right - drawRect->left;
    if (height != 0 && height != 32) {
      r.top = int16((r.top * height) >> 5);
      r.bottom = int16((r.bottom * height) >> 5);
    }
    if (width != 0 && width != 32) {
      r.left = int16((r.left * width) >> 5);
      r.right = int16((r.right * width) >> 5);
    }
    DOffsetRect(&r, drawRect->left, drawRect->top);
  }
  *bounds = r;
  return kNoErr;
}

DColor IChooseColor(DColor colour, DColor alternate, Bool32 isForeground) {
  if (!gDrawState.bw) return colour;
  if (colour != kTransparentColor || isForeground) return alternate;
  return colour;
}

MgErr IGetEraseColor(int32 image, DColor* colours) {
  if (!colours) return kNoErr;
  const DColor fore = IChooseColor(colours[0], colours[2], 1);
  DColor back = IChooseColor(colours[1], colours[3], 0);
  if (IKindOf(image) == kImageProc) {
    PictMessageBlock b{};
    b.foreColor = fore;
    b.backColor = back;
    Send(image, 6, &b, nullptr);
    back = b.backColor;
  }
  colours[1] = back;
  return kNoErr;
}

void IColorsToGrey(const DColor* colours, uInt8* grey, int32 count) {
  for (int32 i = 0; i < count; ++i) {
    const uInt32 c = colours[i], r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    grey[i] = uInt8((r >> 2) + (r >> 3) + (g >> 1) + (b >> 3));
  }
}

int32 IDitherSourceRowBytes(int32 depth, int32 width) {
  switch (depth) {
    case 24: return width * 3;
    case 8: return (width + 1) / 2 * 2;
    case 4: return (width + 3) / 4 * 2;
    default: return 0;
  }
}

void IDitherToOne(int32 depth, const uInt8* source, uInt8* dest, int32 width, int32 rows, const DColor* colourTable,
                  int32 colourCount) {
  static const uInt8 kMatrix[4][4] = {
      {0, 192, 48, 240}, {128, 64, 176, 112}, {32, 224, 16, 208}, {160, 96, 144, 80}};
  if (width <= 0 || rows <= 0 || !source || !dest) return;
  uInt8 grey[256];
  std::memset(grey, 0, sizeof grey);  // indexes past the table read as black
  if (depth != 24 && colourTable) IColorsToGrey(colourTable, grey, colourCount > 256 ? 256 : colourCount);
  const int32 inBytes = IDitherSourceRowBytes(depth, width), outBytes = IDitherRowBytes(width);
  if (!inBytes) return;
  for (int32 v = 0; v < rows; ++v) {
    const uInt8* in = source + int64(v) * inBytes;
    uInt8* out = dest + int64(v) * outBytes;
    std::memset(out, 0, size_t(outBytes));
    for (int32 h = 0; h < width; ++h) {
      uInt8 level;
      if (depth == 24) {
        const uInt8 r = in[3 * h], g = in[3 * h + 1], b = in[3 * h + 2];
        level = uInt8((r >> 2) + (r >> 3) + (g >> 1) + (b >> 3));
      } else if (depth == 8) {
        level = grey[in[h]];
      } else {
        level = grey[(in[h / 2] >> (h % 2 ? 0 : 4)) & 0x0F];
      }
      if (level <= kMatrix[v % 4][h % 4]) out[h / 8] |= uInt8(0x80 >> (h % 8));
    }
  }
}

void IColorTableToRGB(const uInt8* table, int32 count, DColor* colours) {
  for (int32 i = 0; i < count; ++i) {
    const uInt8* e = table + 8 * i;
    // Of each 16-bit component the byte at the higher offset is the
    // intensity.
    colours[i] = (uInt32(e[3]) << 16) | (uInt32(e[5]) << 8) | e[7];
  }
}
