// The host port's pixel blocks (slot 25), its image slot as far as
// recording, pictures and procedural images go (slot 24), and its bounds
// (slot 32, shared with the null port).
#include "mgsource/draw/drawbits.h"

#include <vector>

#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/hostslots.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagedraw.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/draw/picture.h"
#include "mgsource/rects.h"
#include "mgsource/window/wport.h"
#include "platform/qx_blit.h"
#include "platform/qx_dc.h"
#include "platform/qx_dib.h"

Bool32 gDitherBits = 0;
Bool32 gPrinterDitherBits = 0;

int32 ISystemRowBytes(int32 width, int32 depth) {
  if (width <= 0 || width > 0x3FFFFFF) return 0;
  switch (depth) {
    case 32: return width * 4;
    case 24: return width * 3;
    case 16: return width * 2;
    case 1:
    case 4:
    case 8: return (width * depth + 15) / 16 * 2;
    default: return 0;
  }
}

namespace {

// Copies a host bitmap of sw x sh onto (x, y, dw, dh) of the target
// (device coordinates), stretching when the sizes differ.  A one-bit bitmap
// (0 bits black) paints its black pixels in fore and its white ones in
// back; a transparent colour leaves the destination under those pixels.
void CopyBitmap(PlatObj bitmap, int32 depth, int32 x, int32 y, int32 dw, int32 dh, int32 sw, int32 sh, DColor fore,
                DColor back) {
  const PlatObj dc = gDrawState.dc;
  const PlatObj mem = PlatCreateMemoryDc();
  if (!mem) return;
  const PlatObj old = PlatSelectObject(mem, bitmap);
  auto blt = [&](uInt32 rop) {
    if (dw == sw && dh == sh) PlatBitBlt(dc, x, y, dw, dh, mem, 0, 0, rop);
    else PlatStretchBlt(dc, x, y, dw, dh, mem, 0, 0, sw, sh, rop);
  };
  if (depth != 1) {
    blt(kPlatSrcCopy);
  } else {
    // A one-bit source paints its 0 bits in the text colour, its 1 bits in
    // the background colour.
    const uInt32 text = PlatSetTextColor(dc, 0), bk = PlatSetBkColor(dc, 0xFFFFFF);
    if (fore != kTransparentColor && back != kTransparentColor) {
      PlatSetTextColor(dc, DColorToGDIColor(fore));
      PlatSetBkColor(dc, DColorToGDIColor(back));
      blt(kPlatSrcCopy);
    } else if (back == kTransparentColor) {
      blt(kPlatSrcAnd);  // black pixels cleared, the others kept
      PlatSetTextColor(dc, DColorToGDIColor(fore));
      PlatSetBkColor(dc, 0);
      blt(kPlatSrcPaint);  // and given the colour
    } else {
      PlatSetTextColor(dc, 0xFFFFFF);
      PlatSetBkColor(dc, 0);
      blt(kPlatSrcAnd);  // white pixels cleared, the others kept
      PlatSetTextColor(dc, 0);
      PlatSetBkColor(dc, DColorToGDIColor(back));
      blt(kPlatSrcPaint);
    }
    PlatSetTextColor(dc, text);
    PlatSetBkColor(dc, bk);
  }
  if (old) PlatSelectObject(mem, old);
  PlatDeleteDc(mem);
}

}  // namespace

int32 HostDrawBits(const void* descriptor, const void* colourTable, const void* bitsIn) {
  if (!descriptor || !bitsIn) return DBAssert(__FILE__, __LINE__, "DDrawBits: no descriptor or bits");
  DDrawBitsDesc d = *static_cast<const DDrawBitsDesc*>(descriptor);
  if ((d.fore == kTransparentColor && d.back == kTransparentColor) || gDrawState.recording) return 0;
  DColor fore = IChooseColor(d.fore, kBlackColor, 1), back = IChooseColor(d.back, kWhiteColor, 0);
  DOffsetRect(&d.source, -d.source.left, -d.source.top);
  int32 width = d.source.right, height = d.source.bottom;
  if (width < 1 || height < 1) {
    DBPrintf("DDrawBits: width &/or height <= 0. Can't create pcdata.");
    return 0;
  }
  const uInt8* bits = static_cast<const uInt8*>(bitsIn);
  const uInt8* table = static_cast<const uInt8*>(colourTable);
  int32 depth = d.depth, entries = table ? d.entries : 0;
  const int32 rowBytes = ISystemRowBytes(width, depth);
  if (rowBytes <= 0 || int64(rowBytes) * height > d.count) {
    DBPrintf("DDrawBits: the pixels do not hold the rows");
    return 0;
  }
  const PlatObj dc = gDrawState.dc;
  if (!dc) return 0;
  // A one-bit port: deeper pixels are dithered when the configuration asks.
  std::vector<uInt8> dithered;
  const bool dither = gDrawState.pageWindow ? gPrinterDitherBits : gDitherBits;
  if (depth > 1 && gDrawState.depth == 1 && dither && (depth == 24 || depth == 8 || depth == 4)) {
    std::vector<DColor> colours(depth == 24 ? 0 : size_t(1) << depth);
    for (size_t i = 0; i < colours.size(); ++i) colours[i] = MIndexToDColor(int32(i), depth);
    if (table && entries > 0) IColorTableToRGB(table, std::min<int32>(entries, int32(colours.size())), colours.data());
    dithered.resize(size_t(IDitherRowBytes(width)) * size_t(height));
    // The source rows of IDitherToOne are those of the system's format.
    IDitherToOne(depth, bits, dithered.data(), width, height, colours.data(), int32(colours.size()));
    bits = dithered.data();
    depth = 1;
    table = nullptr;
    entries = 0;
    fore = kBlackColor;
    back = kWhiteColor;
  }
  const Rect& dst = d.dest;
  const int32 x = dst.left - gDrawState.originH, y = dst.top - gDrawState.originV;
  const int32 dw = dst.right - dst.left, dh = dst.bottom - dst.top;
  if (dw <= 0 || dh <= 0) return 0;
  if (depth == 1 || (dw == width && dh == height)) {
    const PlatObj bitmap = CreateHostData(bits, width, height, depth, table, entries);
    if (!bitmap) return 0;
    CopyBitmap(bitmap, depth, x, y, dw, dh, width, height, fore, back);
    IDeleteHostObject(bitmap);
    return 0;
  }
  std::vector<uInt8> header, dib;
  if (PreparePCData(bits, table, width, height, depth, entries, &dib, &header) != kNoErr) return 0;
  PlatStretchDibBits(dc, x, y, dw, dh, 0, 0, width, height, header.data(), uInt32(header.size()), dib.data(),
                     uInt32(dib.size()), kPlatSrcCopy);
  return 0;
}

int32 HostDrawImage(int32 image, const Rect* subRect, const Rect* r, DColor fore, DColor back, DColor bwFore,
                    DColor bwBack) {
  if (!r) return DBAssert(__FILE__, __LINE__, "IDraw: no destination");
  int32 kind = IKindOf(image);
  if (gDrawState.recording) {
    // A procedural image may draw itself with primitives (recorded one by
    // one); everything else becomes one image record.
    bool draw = false;
    if (kind == kImageProc) {
      PictMessageBlock b{};
      draw = IProcImageMessage(image, 10, &b) == kNoErr && b.result != 0;
    }
    if (!draw) {
      // An image that belongs to another picture gets a copy of its own in
      // this one: each picture releases what its records own.
      int32 id = image;
      if (IEntryOf(image).flags & kImageOfPicture) {
        id = ICopyOwnedPixmap(image);
        if (!id) return 0;
      }
      PictOpArgs a;
      a.ref = uInt32(id);
      a.rect = subRect ? *subRect : Rect{0, 0, 0, 0};
      a.dest = *r;
      a.colours[0] = fore;
      a.colours[1] = back;
      a.colours[2] = bwFore;
      a.colours[3] = bwBack;
      DRecordPictOp(kPictOpImage, &a);
      if (id != image) {
        if (PictRecordingFailed()) IRelease(id);
        else IEntryPtr(id)->flags |= kImageOfPicture;
      }
      return 0;
    }
  }
  const DColor fg = IChooseColor(fore, bwFore, 1), bg = IChooseColor(back, bwBack, 0);
  Rect src{0, 0, 0, 0};
  if (subRect) src = *subRect;
  else IGetRect(image, &src);
  if (kind != kImageProc && (DEmptyRect(&src) || DEmptyRect(r))) return 0;
  if (kind == kImageSub) {
    // A sub-image draws its parent; its rectangle lies in the parent's
    // coordinates.
    image = ISubImageParent(image);
    kind = IKindOf(image);
    if (!kind || kind == kImageSub) return DBAssert(__FILE__, __LINE__, "IDraw: the sub-image's parent is not valid");
    subRect = &src;
  }
  switch (kind) {
    case kImagePicture: return IDrawPictureInto(image, subRect, r, fg, bg, bwFore, bwBack);
    case kImageProc: return IDrawProcInto(image, r, fore, fg, bg);
    default: IDrawByKind(image, kind, subRect, src, *r, fg, bg, bwFore, bwBack); return 0;
  }
}

int32 IDrawPictureInto(int32 image, const Rect* subRect, const Rect* r, DColor fg, DColor bg, DColor bwFore,
                       DColor bwBack) {
  Rect dst = *r;
  if (subRect) {
    IGetRect(image, &dst);
    DMapRect(&dst, subRect, r);
  }
  Rect saved{0, 0, 0, 0};
  WLimitClip(r, &saved);
  IDrawPicture(image, nullptr, &dst, fg, bg, bwFore, bwBack);
  WRestoreClip(&saved);
  return 0;
}

int32 IDrawProcInto(int32 image, const Rect* r, DColor fore, DColor fg, DColor bg) {
  if (DEmptyRect(r)) return 0;
  Rect dst = *r;
  PictMessageBlock b{};
  b.rect = &dst;
  b.foreColor = fore == kTransparentColor ? kTransparentColor : fg;
  b.backColor = bg;
  IProcImageMessage(image, 1, &b);
  return 0;
}

int32 PortBounds(Rect* out) {
  if (out) *out = Rect{0, 0, 0, 0};
  const int32 target = int32(gDrawState.target);
  if (!target || IKindOf(target) == kImageWindow)
    return DBAssert(__FILE__, __LINE__, "port bounds: no target, or a window");
  if (out) IGetRect(target, out);
  return 0;
}
