// Drawing images by kind (the host port's image slot past recording,
// pictures and procedural images), the image copier, the metafile-bitmap
// cache, the solidity test and the icon host-bitmap budget.
#include "mgsource/draw/imagedraw.h"

#include <algorithm>
#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_blit.h"
#include "platform/qx_dc.h"
#include "platform/qx_dib.h"
#include "platform/qx_draw.h"
#include "platform/qx_metafile.h"
#include "platform/qx_paint.h"

Bool32 gForceCorrectColors = 0;

namespace {

constexpr uInt32 kWhite = 0xFFFFFF;
constexpr uInt32 kBlack = 0;
constexpr uInt32 kNotSrcCopy = 0x330008;

uInt32 Gdi(DColor c) { return DColorToGDIColor(c); }
uInt32 SwapRB(uInt32 c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

// The target is the print manager's page window and pages are printed
// straight (not through a page bitmap): no masked transfers there.
bool StraightPage() { return gDrawState.pageWindow && !gPrintPrefs.printUsingBitmap; }

// Memory contexts kept for the copier, per thread: making and deleting a
// context for every copy was most of what a small copy cost.  A copy holds
// up to four at once; each comes back as it was made (the stock bitmap and
// palette selected, black text on white).
class ContextPool {
 public:
  ~ContextPool() {
    for (PlatObj dc : free_) PlatDeleteDc(dc);
  }
  PlatObj Take() {
    if (free_.empty()) return PlatCreateMemoryDc();
    const PlatObj dc = free_.back();
    free_.pop_back();
    return dc;
  }
  void Give(PlatObj dc) {
    if (free_.size() < kKept) free_.push_back(dc);
    else PlatDeleteDc(dc);
  }

 private:
  static constexpr size_t kKept = 4;
  std::vector<PlatObj> free_;
};
thread_local ContextPool gContexts;

// A source of the copier: a memory context holding a bitmap, and when
// colours are forced, the bitmap read as a DIB.
struct Source {
  PlatObj dc = 0;
  PlatObj old = 0;
  PlatObj oldPalette = 0;
  int32 depth = 0;
  std::vector<uInt8> dib;  // forced colours: header, table, rows
  uInt32 headerBytes = 0;

  bool Open(PlatObj bitmap, int32 bitmapDepth, bool forced) {
    depth = bitmapDepth;
    dc = gContexts.Take();
    if (!dc) return false;
    old = PlatSelectObject(dc, bitmap);
    if (PlatObj palette = DAppPalette()) oldPalette = PlatSelectPalette(dc, palette);
    if (forced && depth == 1) {
      if (!IHostBitmapToDIB(bitmap, 0, &dib)) {
        DBPrintf("ICopyImage: GetDIBits failed!!!  Trying not forceCorrectColors.");
        dib.clear();
      } else {
        PlatDibInfo di{};
        if (PlatDibReadPacked(dib.data(), uInt32(dib.size()), &di)) headerBytes = uInt32(di.headerSize) + di.tableBytes;
        else dib.clear();
      }
    }
    return true;
  }
  ~Source() {
    if (!dc) return;
    if (old) PlatSelectObject(dc, old);
    if (oldPalette) PlatSelectPalette(dc, oldPalette);
    PlatSetTextColor(dc, kBlack);
    PlatSetBkColor(dc, kWhite);
    gContexts.Give(dc);
  }
};

// One transfer of the copier: text and background colours set on the
// destination (the colours a one-bit source's 0 and 1 bits take), then a
// block or stretching copy, or with forced colours a DIB copy whose two
// entries are those colours.
struct Copier {
  PlatObj dst;
  int32 x, y, w, h;   // destination, device coordinates
  int32 sx, sy, sw, sh;

  void Put(Source& s, uInt32 rop, uInt32 text, uInt32 back) const {
    PlatSetTextColor(dst, text);
    PlatSetBkColor(dst, back);
    if (!s.dib.empty()) {
      // The context's colours are 0x00BBGGRR; the table takes 0x00RRGGBB.
      ISetDIBColors(s.dib.data(), SwapRB(text), SwapRB(back));
      PlatStretchDibBits(dst, x, y, w, h, sx, sy, sw, sh, s.dib.data(), s.headerBytes, s.dib.data() + s.headerBytes,
                         uInt32(s.dib.size()) - s.headerBytes, rop);
      return;
    }
    if (w == sw && h == sh) PlatBitBlt(dst, x, y, w, h, s.dc, sx, sy, rop);
    else PlatStretchBlt(dst, x, y, w, h, s.dc, sx, sy, sw, sh, rop);
  }
  void Fill(DColor colour) const {
    const PlatObj brush = PlatCreateSolidBrush(Gdi(colour));
    if (!brush) return;
    const PlatObj old = PlatSelectObject(dst, brush);
    PlatPatBlt(dst, x, y, w, h, kPlatPatCopy);
    PlatSelectObject(dst, old);
    PlatDeleteObject(brush);
  }
};

// The colours of the no-mask cases: a one-bit source's set pixels in fg,
// the others in bg; transparent keeps the destination there.
void CopyUnmasked(const Copier& c, Source& s, DColor fg, DColor bg, int32 depth) {
  // A colour source takes no text colour, so a transparent foreground (a
  // picture may hold one) changes nothing there; both transparent paint
  // nothing at all.
  if (fg == kTransparentColor && bg == kTransparentColor) return;
  if (fg == kTransparentColor && depth != 1) fg = kBlackColor;
  if (bg == kTransparentColor) {
    DBPrintf("************\t   bgColor == kTransparent: depth=%d", depth);
    c.Put(s, kPlatSrcAnd, kBlack, kWhite);    // set pixels cleared
    c.Put(s, kPlatSrcPaint, Gdi(fg), kBlack);  // and given fg
    return;
  }
  if (fg == kTransparentColor && depth == 1) {
    // Only the clear pixels paint: the set ones keep the destination.
    c.Put(s, kPlatSrcAnd, kWhite, kBlack);
    c.Put(s, kPlatSrcPaint, kBlack, Gdi(bg));
    return;
  }
  if (bg == kWhiteColor) {
    DBPrintf("***********\t   bgColor == kWhite: depth=%d", depth);
    c.Put(s, kPlatSrcCopy, Gdi(fg), kWhite);
    return;
  }
  DBPrintf("************\t   bgColor != kTransparent|kWhite: depth=%d", depth);
  c.Fill(bg);
  c.Put(s, kPlatSrcAnd, kBlack, kWhite);
  c.Put(s, kPlatSrcPaint, Gdi(fg), kBlack);
}

// A one-bit bitmap of w x h whose 0 bits are the source's 0 bits (its 1
// bits with invert) that lie inside the mask: an icon limited to its mask.
PlatObj InsideMask(const Source& icon, int32 sx, int32 sy, const Source& mask, int32 mx, int32 my, int32 w, int32 h,
                   bool invert) {
  const PlatObj b = PlatCreateBitmap(w, h, 1, nullptr, 0);
  if (!b) return 0;
  const PlatObj dc = PlatCreateMemoryDc();
  if (!dc) {
    PlatDeleteObject(b);
    return 0;
  }
  const PlatObj old = PlatSelectObject(dc, b);
  PlatBitBlt(dc, 0, 0, w, h, icon.dc, sx, sy, invert ? kNotSrcCopy : kPlatSrcCopy);
  PlatBitBlt(dc, 0, 0, w, h, mask.dc, mx, my, kPlatSrcPaint);
  PlatSelectObject(dc, old);
  PlatDeleteDc(dc);
  return b;
}

// ---- The icon host-bitmap budget ----

int32 gPurgeCursor = 1;

// ---- The metafile-bitmap cache ----

UHandle gCache = nullptr;  // IMetaCacheEntry records
int32 gCacheSlots = 0;
Bool32 gCacheOn = 1;
int32 gDrawCounter = 0;

IMetaCacheEntry* CacheAt(int32 i) { return reinterpret_cast<IMetaCacheEntry*>(*gCache) + i; }

void DropEntry(IMetaCacheEntry* e) {
  if (e->bitmap) IDeleteHostObject(e->bitmap);
  const int32 mask = e->mask;
  *e = IMetaCacheEntry{};
  if (mask) IRelease(mask);
}

// The first free slot, the array grown by 10 when none is; null when it
// cannot grow.
IMetaCacheEntry* FreeSlot() {
  if (!gCache) gCache = AZNewHandle(0);  // the empty cache holds no handle
  if (!gCache) return nullptr;
  for (int32 i = 0; i < gCacheSlots; ++i)
    if (!CacheAt(i)->metafile) return CacheAt(i);
  const int32 grown = gCacheSlots + 10;
  if (AZSetHandleSize(gCache, grown * int32(sizeof(IMetaCacheEntry))) != kNoErr) return nullptr;
  for (int32 i = gCacheSlots; i < grown; ++i) *CacheAt(i) = IMetaCacheEntry{};
  IMetaCacheEntry* e = CacheAt(gCacheSlots);
  gCacheSlots = grown;
  return e;
}

// After every metafile draw: every 102nd draw drops the entries unused
// since the last ageing and starts the count again for the others.
bool gRendering = false;  // the solidity test of a new entry draws it

void AgeCache() {
  if (gRendering) return;
  if (gDrawCounter < 101) {
    ++gDrawCounter;
    return;
  }
  gDrawCounter = 0;
  for (int32 i = 0; gCache && i < gCacheSlots; ++i) {
    IMetaCacheEntry* e = CacheAt(i);
    if (!e->metafile) continue;
    if (e->uses == 0) DropEntry(e);
    else e->uses = 0;
  }
}

// The metafile's palette as a host palette, null when it has none.
PlatObj MetaPalette(PlatMetafile mf) {
  const int32 n = PlatGetMetafilePalette(mf, nullptr, 0);
  if (n <= 0) return 0;
  std::vector<uInt32> colours(size_t(std::min(n, 256)));
  PlatGetMetafilePalette(mf, colours.data(), int32(colours.size()));
  return PlatCreatePalette(colours.data(), int32(colours.size()));
}

// Renders the metafile image at the size of dest into a new entry: its
// bitmap at the target depth, painted white first, and the mask of what it
// paints when it does not paint everything.  Null on failure.
IMetaCacheEntry* Render(int32 image, PlatMetafile mf, const Rect& size, PlatObj palette) {
  const int32 depth = gDrawState.depth;
  const int32 bitmapDepth = depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32 ? depth : 0;
  int32 pixmap = 0;
  if (ICreatePixmap(0, &size, bitmapDepth, &pixmap) != kNoErr) return nullptr;
  ImageSaveRecord save;
  IOpen(pixmap, &save);
  const PlatObj dc = gDrawState.dc;
  if (dc) {
    PlatPatBlt(dc, 0, 0, size.right, size.bottom, kPlatWhiteness);
    const PlatObj old = palette ? PlatSelectPalette(dc, palette) : 0;
    PlatPlayMetafile(dc, mf, PlatRect{0, 0, size.right, size.bottom});
    if (palette) PlatSelectPalette(dc, old);
  }
  IClose(pixmap, &save);
  // The pixmap's host bitmap becomes the entry's.
  ImageEntry* pe = IEntryPtr(pixmap);
  const PlatObj bitmap = pe ? PlatObj(pe->extra) : 0;
  if (pe) pe->extra = 0;
  IRelease(pixmap);
  if (!dc || !bitmap) {
    if (bitmap) IDeleteHostObject(bitmap);
    return nullptr;
  }
  // The solidity test draws the metafile straight, not through the cache.
  Bool32 solid = 0;
  UHandle rows = nullptr;
  const Bool32 wasOn = IMetaCacheSetOn(0);
  const DColor colours[2] = {kBlackColor, kWhiteColor};
  gRendering = true;
  const MgErr err = IIsSolid(image, &size, colours, &solid, &rows);
  gRendering = false;
  IMetaCacheSetOn(wasOn);
  int32 mask = 0;
  if (err == kNoErr && !solid && rows) {
    if (ICreatePixmap(0, &size, 1, &mask) == kNoErr) {
      const int32 rowBytes = (size.right + 15) / 16 * 2;
      if (IPutHostBits(mask, 0, 1, &size, rowBytes, reinterpret_cast<const uInt8*>(*rows), 0) != kNoErr) {
        IRelease(mask);
        mask = 0;
      }
    }
  }
  if (rows) AZDisposeHandle(rows);
  if (err != kNoErr || (!solid && !mask)) {
    IDeleteHostObject(bitmap);
    return nullptr;
  }
  IMetaCacheEntry* e = FreeSlot();
  if (!e) {
    IDeleteHostObject(bitmap);
    if (mask) IRelease(mask);
    return nullptr;
  }
  *e = IMetaCacheEntry{uInt32(mf), bitmap, mask, size, depth, 1};
  return e;
}

void DrawMetafile(int32 image, const Rect* subRect, const Rect& destRect) {
  const PlatMetafile mf = PlatMetafile(IEntryOf(image).data);
  Rect dest = destRect;
  if (subRect) {
    IGetRect(image, &dest);
    DOffsetRect(&dest, -dest.left, -dest.top);
    DMapRect(&dest, subRect, &destRect);
  }
  DOffsetRect(&dest, -int16(gDrawState.originH), -int16(gDrawState.originV));
  const PlatObj dc = gDrawState.dc;
  if (!mf || !dc) {
    AgeCache();
    return;
  }
  const PlatObj palette = gCacheOn ? MetaPalette(mf) : 0;
  if (!gCacheOn || gDrawState.pageWindow) {
    const PlatObj old = palette ? PlatSelectPalette(dc, palette) : 0;
    PlatPlayMetafile(dc, mf, PlatRect{dest.left, dest.top, dest.right, dest.bottom});
    if (palette) PlatSelectPalette(dc, old);
  } else {
    const Rect size{0, 0, int16(dest.bottom - dest.top), int16(dest.right - dest.left)};
    IMetaCacheEntry* use = nullptr;
    for (int32 i = 0; gCache && i < gCacheSlots; ++i) {
      IMetaCacheEntry* e = CacheAt(i);
      if (e->metafile != uInt32(mf) || std::memcmp(&e->size, &size, sizeof size) != 0) continue;
      if (e->depth == gDrawState.depth) {
        ++e->uses;
        use = e;
      } else {
        DropEntry(e);
      }
      break;
    }
    if (!use && size.right > 0 && size.bottom > 0) use = Render(image, mf, size, palette);
    if (use) {
      const PlatObj bitmap = use->bitmap;
      const int32 mask = use->mask;
      ICopyImage(bitmap, &size, &dest, kBlackColor, kWhiteColor, mask, use->depth);
    }
  }
  if (palette) PlatDeleteObject(palette);
  AgeCache();
}

// ---- Icons, families and pixmaps ----

struct Member {
  int32 image = 0;
  int32 mask = 0;
};

// The member of a family IDraw takes at the target's depth (1 on a
// black-and-white port); a family without that member takes another.
Member DrawMember(int32 family, bool offsets) {
  const ImageEntry e = IEntryOf(family);
  const int32 icon1 = int32(e.data), icon4 = int32(e.extra), icon8 = int32(e.third);
  const int32 depth = gDrawState.bw ? 1 : gDrawState.depth;
  int32 m = 0;
  if (offsets) {
    if (depth >= 8) m = icon8;
    if (!m) m = icon4;
    if (!m) m = icon1;
  } else {
    if (depth > 7) m = icon8;
    if (!m && depth > 3) m = icon4;
    if (!m && depth == 4) m = icon8;
    if (!m) m = icon1;
  }
  // A family holds at least one member: without the one the depth asks
  // for, the deepest it has.
  if (!m) m = icon8 ? icon8 : icon4;
  Member r;
  r.image = m;
  r.mask = int32(e.fourth);
  if (r.mask && IKindOf(r.mask) != kImageMask) {
    DBAssert(__FILE__, __LINE__, "IDraw: the family's mask is not valid");
    r.mask = 0;
  }
  return r;
}

// Draws the source rectangle of an icon or pixmap through a temporary
// pixmap at the depth of the print manager's scratch window: the page
// window takes plain pixels only.  0 when it cannot be made.
int32 ThroughScratch(int32 image, const Rect& src, DColor fg, DColor bg, DColor bwFore, DColor bwBack) {
  const WindowRef scratch = gPrintJob.scratchWindow;
  if (!scratch) return 0;
  const Rect size{0, 0, int16(src.bottom - src.top), int16(src.right - src.left)};
  WPortState saved{};
  WSetup(scratch, &saved);
  int32 pixmap = 0;
  if (ICreatePixmap(scratch, &size, WGetDepth(scratch), &pixmap) == kNoErr) {
    ImageSaveRecord save;
    IOpen(pixmap, &save);
    if (gDrawState.dc) PlatPatBlt(gDrawState.dc, 0, 0, size.right, size.bottom, kPlatWhiteness);
    IDraw(image, &src, &size, fg, bg, bwFore, bwBack);
    IClose(pixmap, &save);
  }
  WRestore(&saved);
  return pixmap;
}

void DrawHostImage(int32 image, int32 mask, const Rect& srcIn, const Rect& dest, DColor fg, DColor bg,
                   DColor bwFore, DColor bwBack) {
  int32 temp = 0;
  int32 source = image;
  Rect src = srcIn;
  if (StraightPage() && !mask && gPrintJob.scratchWindow) {
    temp = ThroughScratch(image, src, fg, bg, bwFore, bwBack);
    if (temp) {
      source = temp;
      IGetRect(temp, &src);
    }
  }
  if (StraightPage() && mask) {
    IDrawIconRuns(image, mask, &src, &dest, fg, bg);
  } else {
    int32 depth = 0;
    if (const PlatObj bitmap = ILockHost(source, &src, &depth)) {
      Rect d = dest;
      DOffsetRect(&d, -int16(gDrawState.originH), -int16(gDrawState.originV));
      ICopyImage(bitmap, &src, &d, fg, bg, mask, depth);
    }
  }
  if (temp) IRelease(temp);
  IPurgeHostBitmaps();
}

bool IsIconOrPixmap(int32 kind) {
  return (kind >= kImageIcon1 && kind <= kImageMask) || kind == kImagePixmap;
}

}  // namespace

int32 ISubImageParent(int32 sub) {
  const ImageEntry e = IEntryOf(sub);
  if (e.kind != kImageSub) return 0;
  uInt16 parent;
  std::memcpy(&parent, reinterpret_cast<const uInt8*>(&e) + offsetof(ImageEntry, data), 2);
  return parent;
}

// ---- The copier ----

void ICopyImage(PlatObj bitmap, const Rect* srcRect, const Rect* destRect, DColor fg, DColor bg, int32 maskId,
                int32 depth) {
  const PlatObj dc = gDrawState.dc;
  if (!dc) {
    DBAssert(__FILE__, __LINE__, "ICopyImage: no current device context");
    return;
  }
  if (!srcRect || !destRect || !bitmap) return;
  if (StraightPage()) {
    // IStretchHostBitmap moves the destination by the origin itself.
    Rect d = *destRect;
    DOffsetRect(&d, int16(gDrawState.originH), int16(gDrawState.originV));
    IStretchHostBitmap(bitmap, srcRect, &d);
    return;
  }
  PlatObjInfo oi{};
  if (!PlatDescribeObject(bitmap, &oi) || oi.kind != kPlatObjBitmap) {
    DBPrintf("ICopyImage: GetObject failed!!");
    return;
  }
  const bool forced = gForceCorrectColors != 0;
  Source icon;
  if (!icon.Open(bitmap, depth, forced)) {
    DBPrintf("ICopyImage: no hMemoryDC.  Can't copy image.");
    return;
  }
  const Copier c{dc,
                 destRect->left,
                 destRect->top,
                 destRect->right - destRect->left,
                 destRect->bottom - destRect->top,
                 srcRect->left,
                 srcRect->top,
                 srcRect->right - srcRect->left,
                 srcRect->bottom - srcRect->top};
  const uInt32 text = PlatSetTextColor(dc, kBlack), back = PlatSetBkColor(dc, kWhite);
  const bool equal = c.w == c.sw && c.h == c.sh;
  const bool oneCall = equal && icon.dib.empty();
  PlatObj maskBitmap = 0;
  int32 maskDepth = 0;
  Rect maskSrc = *srcRect;
  if (maskId) {
    // A mask pixmap's rectangle is moved into its own coordinates.
    maskBitmap = ILockHost(maskId, &maskSrc, &maskDepth);
    if (maskBitmap && maskDepth != 1) maskBitmap = 0;
  }
  if (!maskBitmap) {
    CopyUnmasked(c, icon, fg, bg, depth);
  } else {
    Source mask;
    if (!mask.Open(maskBitmap, 1, forced)) {
      DBPrintf("ICopyImage: no hMemoryDC.  Can't copy image.");
    } else if (depth == 1 && (!oneCall || gDrawState.bw || bg == kTransparentColor || fg == kTransparentColor)) {
      // The icon limited to its mask (its set pixels outside the mask keep
      // the destination, as in the one masked transfer); with a transparent
      // colour only the pixels that paint are drawn, in the other colour.
      const bool invert = bg != kTransparentColor && fg == kTransparentColor;
      const PlatObj limited = InsideMask(icon, c.sx, c.sy, mask, maskSrc.left, maskSrc.top, c.sw, c.sh, invert);
      {
        Source inside;
        const Copier p{c.dst, c.x, c.y, c.w, c.h, 0, 0, c.sw, c.sh};
        const Copier m{c.dst, c.x, c.y, c.w, c.h, maskSrc.left, maskSrc.top, c.sw, c.sh};
        if (!limited || !inside.Open(limited, 1, forced)) {
          DBPrintf("ICopyImage: 'theDIB2' is null -- not enough memory");
        } else if (bg == kTransparentColor || fg == kTransparentColor) {
          CopyUnmasked(p, inside, invert ? bg : fg, kTransparentColor, 1);
        } else if (!gDrawState.bw) {
          DBPrintf("************\t   clipImage.. B&W icon to color port: depth=%d", depth);
          m.Put(mask, kPlatSrcAnd, kBlack, kWhite);  // the mask area cleared
          const PlatObj brush = PlatCreateSolidBrush(Gdi(bg));
          const PlatObj oldBrush = brush ? PlatSelectObject(dc, brush) : 0;
          m.Put(mask, kPlatPaintMaskOr, kWhite, kBlack);  // and painted bg
          if (brush) {
            PlatSelectObject(dc, oldBrush);
            PlatDeleteObject(brush);
          }
          p.Put(inside, kPlatSrcAnd, kBlack, kWhite);     // set pixels cleared
          p.Put(inside, kPlatSrcPaint, Gdi(fg), kBlack);  // and given fg
        } else {
          DBPrintf("************\t   clipImage.. B&W icon to B&W port: depth=%d", depth);
          m.Put(mask, kPlatMergePaint, kBlack, kWhite);  // the mask area white
          p.Put(inside, kPlatSrcAnd, kBlack, kWhite);    // set pixels black
        }
      }
      if (limited) PlatDeleteObject(limited);
    } else if (depth == 1) {
      DBPrintf("************\t   clipImage.. B&W icon to color port: depth=%d", depth);
      PlatSetTextColor(dc, Gdi(fg));
      PlatSetBkColor(dc, Gdi(bg));
      PlatMaskBlt(dc, c.x, c.y, c.w, c.h, icon.dc, c.sx, c.sy, maskBitmap, maskSrc.left, maskSrc.top, kPlatMaskCopy);
    } else {
      const Copier m{c.dst, c.x, c.y, c.w, c.h, maskSrc.left, maskSrc.top, c.sw, c.sh};
      {
        DBPrintf("************\t   clipImage.. color icon to color port: depth=%d", depth);
        if (oneCall) {
          PlatMaskBlt(dc, c.x, c.y, c.w, c.h, icon.dc, c.sx, c.sy, maskBitmap, maskSrc.left, maskSrc.top,
                      kPlatMaskCopy);
        } else {
          // A copy of the source part cleared outside the mask, so that the
          // image's own bitmap is left as it is.
          const PlatObj part = PlatCreateBitmap(c.sw, c.sh, 32, nullptr, 0);
          {
            Source cleared;
            if (!part || !cleared.Open(part, depth, false)) {
              DBPrintf("ICopyImage: 'theDIB' is null -- not enough memory");
            } else {
              PlatBitBlt(cleared.dc, 0, 0, c.sw, c.sh, icon.dc, c.sx, c.sy, kPlatSrcCopy);
              PlatSetTextColor(cleared.dc, kBlack);
              PlatSetBkColor(cleared.dc, kWhite);
              PlatBitBlt(cleared.dc, 0, 0, c.sw, c.sh, mask.dc, maskSrc.left, maskSrc.top, kPlatSrcErase2);
              m.Put(mask, kPlatSrcAnd, kBlack, kWhite);  // the mask area cleared
              const Copier p{c.dst, c.x, c.y, c.w, c.h, 0, 0, c.sw, c.sh};
              p.Put(cleared, kPlatSrcPaint, kBlack, kWhite);
            }
          }
          if (part) PlatDeleteObject(part);
        }
      }
    }
  }
  PlatSetTextColor(dc, text);
  PlatSetBkColor(dc, back);
}

// ---- Drawing by kind ----

void IDrawByKind(int32 image, int32 kind, const Rect* subRect, const Rect& src, const Rect& dest, DColor fg,
                 DColor bg, DColor bwFore, DColor bwBack) {
  switch (kind) {
    case kImageFamily: {
      const Member m = DrawMember(image, false);
      if (IKindOf(m.image)) DrawHostImage(m.image, m.mask, src, dest, fg, bg, bwFore, bwBack);
      return;
    }
    case kImageIcon1:
    case kImageIcon4:
    case kImageIcon8:
    case kImageMask:
    case kImagePixmap: DrawHostImage(image, 0, src, dest, fg, bg, bwFore, bwBack); return;
    case kImageWindow: IDrawWindowImage(image, &src, &dest); return;
    case kImageMeta: {
      Rect saved{0, 0, 0, 0};
      WLimitClip(&dest, &saved);
      DrawMetafile(image, subRect, dest);
      WRestoreClip(&saved);
      return;
    }
    default: return;  // metafile pictures, cursors, DIBs and pages draw nothing
  }
}

void IDrawWindowImage(int32 image, const Rect* srcRect, const Rect* destRect) {
  const int32 window = IWindowOf(image);
  if (!window || !WHasHostWindow(window)) {
    DBAssert(__FILE__, __LINE__, "IDrawWindowImage: the window is not valid");
    return;
  }
  const PlatObj dc = gDrawState.dc;
  if (!dc || !srcRect || !destRect) return;
  Point origin{0, 0};
  WGetOrigin(window, &origin);
  Rect src = *srcRect, dst = *destRect;
  DOffsetRect(&src, -origin.h, -origin.v);
  DOffsetRect(&dst, -int16(gDrawState.originH), -int16(gDrawState.originV));
  const PlatWindow host = WHostWindow(window);
  const PlatObj from = PlatGetDc(host);
  if (!from) return;
  const int32 w = dst.right - dst.left, h = dst.bottom - dst.top;
  const int32 sw = src.right - src.left, sh = src.bottom - src.top;
  if (w == sw && h == sh) PlatBitBlt(dc, dst.left, dst.top, w, h, from, src.left, src.top, kPlatSrcCopy);
  else PlatStretchBlt(dc, dst.left, dst.top, w, h, from, src.left, src.top, sw, sh, kPlatSrcCopy);
  PlatReleaseDc(host, from);
}

void IDrawIconRuns(int32 icon, int32 mask, const Rect* srcRect, const Rect* destRect, DColor fg, DColor bg) {
  const ImageEntry e = IEntryOf(icon);
  int32 depth = 0;
  switch (e.kind) {
    case kImageIcon1:
    case kImageMask: depth = 1; break;
    case kImageIcon4: depth = 4; break;
    case kImageIcon8: depth = 8; break;
    default: DBAssert(__FILE__, __LINE__, "IDrawIconRuns: not an icon"); return;
  }
  if (!srcRect || !destRect) return;
  UHandle bits = IHandleOf(e.data);
  const int32 rowBytes = 4 * depth;
  if (!bits || AZGetHandleSize(bits) < 32 * rowBytes) return;
  const uInt8* maskBits = nullptr;
  if (const ImageEntry me = IEntryOf(mask); me.kind == kImageMask && me.data) {
    UHandle mh = IHandleOf(me.data);
    if (AZGetHandleSize(mh) >= 128) maskBits = reinterpret_cast<const uInt8*>(*mh);
  }
  const uInt8* px = reinterpret_cast<const uInt8*>(*bits);
  auto value = [&](int32 h, int32 v) -> int32 {
    const uInt8* row = px + v * rowBytes;
    if (depth == 1) return (row[h >> 3] >> (7 - (h & 7))) & 1;
    if (depth == 4) return (row[h >> 1] >> (h & 1 ? 0 : 4)) & 0x0F;
    return row[h];
  };
  auto inside = [&](int32 h, int32 v) {
    return !maskBits || ((GetBE32(maskBits + 4 * v) >> (31 - h)) & 1);
  };
  struct Run {
    int32 left, right, top, bottom, value;
  };
  auto paint = [&](const Run& r) {
    Rect rect{int16(r.top), int16(r.left), int16(r.bottom), int16(r.right)};
    DMapRect(&rect, srcRect, destRect);
    ++rect.right;
    ++rect.bottom;
    // One-bit icons take the draw's colours, as every other path gives them.
    DColor colour = depth == 1 ? (r.value ? fg : bg) : MIndexToDColor(r.value, depth);
    if (colour == kTransparentColor) return;
    DSelectNormPen(colour, colour == kWhiteColor ? kWhiteColor : kBlackColor);
    DPaintRect(&rect);
  };
  const int32 left = std::max<int32>(srcRect->left, 0), top = std::max<int32>(srcRect->top, 0);
  const int32 right = std::min<int32>(srcRect->right, 32), bottom = std::min<int32>(srcRect->bottom, 32);
  std::vector<Run> open, next;
  for (int32 v = top; v < bottom; ++v) {
    next.clear();
    for (int32 h = left; h < right;) {
      if (!inside(h, v)) {
        ++h;
        continue;
      }
      const int32 val = value(h, v);
      int32 end = h;
      while (end + 1 < right && inside(end + 1, v) && value(end + 1, v) == val) ++end;
      Run run{h, end, v, v, val};
      // The same extent and value on the row above: one rectangle.
      auto same = std::find_if(open.begin(), open.end(), [&](const Run& o) {
        return o.left == run.left && o.right == run.right && o.value == run.value;
      });
      if (same != open.end()) {
        run.top = same->top;
        open.erase(same);
      }
      next.push_back(run);
      h = end + 1;
    }
    for (const Run& r : open) paint(r);
    open.swap(next);
  }
  for (const Run& r : open) paint(r);
}

void IDrawAtOffsets(int32 image, const Rect* srcRect, const Rect* destRect, DColor fore, DColor back, DColor bwFore,
                    DColor bwBack, int32 count, const int32* dh, const int32* dv) {
  const int32 kind = IKindOf(image);
  if (!kind) {
    DBAssert(__FILE__, __LINE__, "IDrawAtOffsets: invalid image id");
    return;
  }
  if (!destRect || count <= 0 || !dh || !dv) return;
  auto moved = [&](int32 i) {
    Rect r = *destRect;
    DOffsetRect(&r, int16(dh[i]), int16(dv[i]));
    return r;
  };
  if (gDrawState.recording || kind == kImagePICT || kind == kImagePicture || kind == kImageProc ||
      kind == kImageMeta) {
    // One image record, or one draw, per offset.
    for (int32 i = 0; i < count; ++i) {
      const Rect r = moved(i);
      IDraw(image, srcRect, &r, fore, back, bwFore, bwBack);
    }
    return;
  }
  if (fore == kTransparentColor && back == kTransparentColor) return;
  const DColor fg = IChooseColor(fore, bwFore, 1), bg = IChooseColor(back, bwBack, 0);
  int32 member = image, mask = 0;
  if (kind == kImageFamily) {
    const Member m = DrawMember(image, true);
    member = m.image;
    mask = m.mask;
  } else if (!IsIconOrPixmap(kind)) {
    return;
  }
  Rect src{0, 0, 0, 0};
  if (srcRect) src = *srcRect;
  else IGetRect(image, &src);
  if (DEmptyRect(&src) || !IKindOf(member)) return;
  int32 temp = 0, depth = 0;
  if (StraightPage() && gPrintJob.scratchWindow) {
    // The page window takes plain pixels: the image is drawn once into a
    // pixmap at the scratch window's depth, masked or not.
    temp = ThroughScratch(image, src, fg, bg, bwFore, bwBack);
    if (!temp) return;
    member = temp;
    mask = 0;
    IGetRect(temp, &src);
  }
  if (const PlatObj bitmap = ILockHost(member, &src, &depth)) {
    for (int32 i = 0; i < count; ++i) {
      Rect d = moved(i);
      if (DEmptyRect(&d)) continue;
      DOffsetRect(&d, -int16(gDrawState.originH), -int16(gDrawState.originV));
      ICopyImage(bitmap, &src, &d, fg, bg, mask, depth);
    }
  }
  if (temp) IRelease(temp);
  IPurgeHostBitmaps();
}

// ---- Solidity ----

MgErr IIsSolid(int32 image, const Rect* rect, const DColor* colours, Bool32* solidOut, UHandle* maskOut) {
  Bool32 solid = 0;
  if (solidOut) *solidOut = 0;
  if (maskOut) *maskOut = nullptr;
  const int32 kind = IKindOf(image);
  if (!kind || !rect || DEmptyRect(rect)) return kNoErr;
  const DColor fore = colours ? colours[0] : kBlackColor, back = colours ? colours[1] : kWhiteColor;
  if (kind == kImageProc) {
    PictStyleBlock* style = nullptr;
    if (PictureProc proc = IProcOf(image, &style)) {
      PictMessageBlock b{};
      b.foreColor = fore;
      b.backColor = back;
      const int32 status = proc(7, style, &b);
      solid = status == 0 && b.result != 0;
      if (solid || !maskOut) {
        if (solidOut) *solidOut = solid;
        return kNoErr;
      }
    }
  }
  if (!maskOut && fore == kTransparentColor && back == kTransparentColor) return kNoErr;
  if (kind == kImagePixmap) {
    if (solidOut) *solidOut = 1;
    return kNoErr;
  }
  MgErr err = kNoErr;
  int32 pixmap = 0;
  UHandle first = nullptr;
  const int32 width = rect->right - rect->left, height = rect->bottom - rect->top;
  int32 depth = 1, rowBytes = 0, size = 0;
  solid = 1;
  do {
    if ((err = ICreatePixmap(0, rect, 1, &pixmap)) != kNoErr) break;
    if ((err = IGetHostBits(pixmap, 0, &depth, nullptr, &rowBytes, &size, nullptr, nullptr)) != kNoErr) break;
    if (size >= 65536) break;  // too big to test: counted as solid
    // The rows of the image drawn over a background of one colour: a set
    // bit is a pixel that is not white.
    auto drawOver = [&](bool black, UHandle into) -> MgErr {
      ImageSaveRecord save;
      IOpen(pixmap, &save);
      if (gDrawState.dc)
        PlatPatBlt(gDrawState.dc, 0, 0, width, height, black ? kPlatBlackness : kPlatWhiteness);
      IDraw(image, nullptr, rect, fore, back, kBlackColor, kWhiteColor);
      IClose(pixmap, &save);
      MgErr e = IGetHostBits(pixmap, 0, &depth, nullptr, &rowBytes, &size, reinterpret_cast<uInt8*>(*into), nullptr);
      if (e != kNoErr) return e;
      // The bits beyond the width count as painted.
      const int32 spare = rowBytes * 8 - width;
      if (spare > 0)
        for (int32 v = 0; v < height; ++v) {
          uInt8* last = reinterpret_cast<uInt8*>(*into) + v * rowBytes + rowBytes - 2;
          PutBE16(last, uInt16(GetBE16(last) | ((1u << spare) - 1)));
        }
      return kNoErr;
    };
    auto allSet = [&](UHandle rows) {
      for (int32 i = 0; i + 1 < size; i += 2)
        if (GetBE16(reinterpret_cast<uInt8*>(*rows) + i) != 0xFFFF) return false;
      return true;
    };
    first = AZNewHandle(size);
    if (!first) {
      err = kMemFullErr;
      break;
    }
    if ((err = drawOver(false, first)) != kNoErr) break;
    if (allSet(first)) break;
    solid = 0;
    if (!maskOut) break;
    UHandle second = AZNewHandle(size);
    if (!second) {
      err = kMemFullErr;
      break;
    }
    err = drawOver(true, second);
    if (err == kNoErr) {
      for (int32 i = 0; i + 1 < size; i += 2) {
        uInt8* a = reinterpret_cast<uInt8*>(*first) + i;
        const uInt16 w = GetBE16(a);
        if (w != 0xFFFF) PutBE16(a, uInt16(w | ~GetBE16(reinterpret_cast<uInt8*>(*second) + i)));
      }
      solid = allSet(first) ? 1 : 0;
      if (!solid) {
        *maskOut = first;
        first = nullptr;
      }
    }
    AZDisposeHandle(second);
  } while (false);
  if (first) AZDisposeHandle(first);
  if (pixmap) IRelease(pixmap);
  if (err != kNoErr) {
    DBPrintf("IIsSolid ERROR!!!!!!!!!!:%ld", long(err));
    if (err == kImageMemErr) err = kMemFullErr;
    solid = 0;
    if (maskOut && *maskOut) {
      AZDisposeHandle(*maskOut);
      *maskOut = nullptr;
    }
  }
  if (solidOut) *solidOut = solid;
  return err;
}

// ---- The icon host-bitmap budget ----

void IPurgeHostBitmaps() {
  if (IHostBitmapCount() < 81) return;
  const int32 count = IImageTableCount();
  if (gPurgeCursor < 1 || gPurgeCursor > count) gPurgeCursor = 1;
  int32 deleted = 0;
  for (int32 pass = 0; pass < 2 && deleted < 20; ++pass) {
    while (gPurgeCursor <= count && deleted < 20) {
      ImageEntry* e = IEntryPtr(gPurgeCursor);
      if (e && e->kind >= kImageIcon1 && e->kind <= kImageMask && e->extra) {
        IDeleteHostObject(PlatObj(e->extra));
        e->extra = 0;
        ICountOffHostBitmap();
        ++deleted;
      }
      if (deleted < 20) ++gPurgeCursor;
    }
    if (gPurgeCursor > count) gPurgeCursor = 1;
  }
}

// ---- The cache's life ----

void IMetaCacheInit() {
  IMetaCacheDispose();
  gDrawCounter = 0;
  gCacheOn = 1;
  gPurgeCursor = 1;
}

void IMetaCacheDispose() {
  if (!gCache) return;
  for (int32 i = 0; i < gCacheSlots; ++i)
    if (CacheAt(i)->metafile) DropEntry(CacheAt(i));
  AZDisposeHandle(gCache);
  gCache = nullptr;
  gCacheSlots = 0;
}

void IMetaCacheDrop(uInt32 metafile) {
  if (!metafile) return;
  for (int32 i = 0; gCache && i < gCacheSlots; ++i)
    if (CacheAt(i)->metafile == metafile) DropEntry(CacheAt(i));
}

Bool32 IMetaCacheSetOn(Bool32 on) {
  const Bool32 was = gCacheOn;
  gCacheOn = on ? 1 : 0;
  return was;
}

std::vector<IMetaCacheEntry> IMetaCacheEntries() {
  std::vector<IMetaCacheEntry> out;
  for (int32 i = 0; gCache && i < gCacheSlots; ++i)
    if (CacheAt(i)->metafile) out.push_back(*CacheAt(i));
  return out;
}

int32 IMetaCacheCounter() { return gDrawCounter; }
