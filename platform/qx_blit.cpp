#include "platform/qx_blit.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/qx_blit_internal.h"
#include "platform/qx_file.h"
#include "platform/qx_raster.h"

namespace qxdraw {

Convert ConvertFor(const PlatSurface* from, const PlatSurface* to, bool byBack) {
  bool fromMono = PlatSurfaceFormatOf(from) == kPlatMono1, toMono = PlatSurfaceFormatOf(to) == kPlatMono1;
  if (fromMono == toMono) return Convert::kSame;
  if (fromMono) return Convert::kMonoToColour;
  return byBack ? Convert::kByBack : Convert::kNearest;
}

uint32_t NearestMono(uint32_t word) {
  int32_t r = (word >> 16) & 0xFF, g = (word >> 8) & 0xFF, b = word & 0xFF;
  int32_t toBlack = r * r + g * g + b * b;
  int32_t toWhite = (255 - r) * (255 - r) + (255 - g) * (255 - g) + (255 - b) * (255 - b);
  return toWhite < toBlack ? 0xFFFFFFu : 0;
}

namespace {

// Source index ranges [first, end) per destination index, relative to the
// rectangles' origins, for destination indexes [i0, i1).
void IndexMap(int64_t i0, int64_t i1, int64_t dn, int64_t sn, int32_t mode,
              std::vector<int64_t>* first, std::vector<int64_t>* end) {
  first->resize(size_t(i1 - i0));
  end->resize(size_t(i1 - i0));
  bool reduce = sn > dn && (mode == kPlatStretchAnd || mode == kPlatStretchOr);
  for (int64_t i = i0; i < i1; ++i) {
    int64_t a, b;
    if (sn == dn) {
      a = i;
      b = i + 1;
    } else if (reduce) {
      a = (i * sn + dn - 1) / dn;  // the j with floor(j dn / sn) = i
      b = ((i + 1) * sn + dn - 1) / dn;
    } else {
      a = (2 * i + 1) * sn / (2 * dn);
      b = a + 1;
    }
    (*first)[size_t(i - i0)] = a;
    (*end)[size_t(i - i0)] = b;
  }
}

bool FastCopy(const Dc& dst, const pixman_box32_t& box, const TransferSource& src, int64_t ox, int64_t oy) {
  PlatSurface* d = dst.Surface();
  if (PlatSurfaceFormatOf(d) != kPlatRgb32 || PlatSurfaceFormatOf(src.surface) != kPlatRgb32) return false;
  // The box's source rows and columns, clipped to the source surface.
  int64_t x0 = std::max<int64_t>(box.x1, -ox), x1 = std::min<int64_t>(box.x2, PlatSurfaceWidth(src.surface) - ox);
  int64_t y0 = std::max<int64_t>(box.y1, -oy), y1 = std::min<int64_t>(box.y2, PlatSurfaceHeight(src.surface) - oy);
  if (x0 >= x1) return true;
  size_t bytes = size_t(x1 - x0) * 4;
  int32_t ds = PlatSurfaceStride(d), ss = PlatSurfaceStride(src.surface);
  const uint8_t* sb = PlatSurfaceBits(src.surface);
  uint8_t* db = PlatSurfaceBits(d);
  for (int64_t y = y0; y < y1; ++y)
    std::memcpy(db + size_t(y) * size_t(ds) + size_t(x0) * 4,
                sb + size_t(y + oy) * size_t(ss) + size_t(x0 + ox) * 4, bytes);
  return true;
}

}  // namespace

void Transfer(const Dc& dst, int32_t x, int32_t y, int32_t w, int32_t h, const TransferSource& srcIn,
              int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint8_t fn0, uint8_t fn1,
              const PlatSurface* mask, int32_t mx, int32_t my) {
  PlatSurface* d = dst.Surface();
  if (!d || w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return;
  TransferSource src = srcIn;
  PlatSurface* copy = nullptr;
  if (src.surface == d) {
    // Reading what this transfer writes: take the source part first.
    int64_t ax = std::max<int64_t>(sx, 0), ay = std::max<int64_t>(sy, 0);
    int64_t bx = std::min<int64_t>(int64_t(sx) + sw, PlatSurfaceWidth(d));
    int64_t by = std::min<int64_t>(int64_t(sy) + sh, PlatSurfaceHeight(d));
    if (ax >= bx || ay >= by) return;
    copy = PlatSurfaceCreate(int32_t(bx - ax), int32_t(by - ay), PlatSurfaceFormatOf(d));
    if (!copy) return;
    for (int64_t yy = ay; yy < by; ++yy)
      for (int64_t xx = ax; xx < bx; ++xx)
        PlatSurfaceSetPixel(copy, int32_t(xx - ax), int32_t(yy - ay), PlatSurfaceGetPixel(d, int32_t(xx), int32_t(yy)));
    src.surface = copy;
    sx = int32_t(sx - ax);
    sy = int32_t(sy - ay);
  }
  pixman_region32_t clip;
  pixman_region32_init(&clip);
  dst.EffectiveClip(&clip);
  pixman_region32_intersect_rect(&clip, &clip, x, y, uint32_t(std::min<int64_t>(w, INT32_MAX - int64_t(x))),
                                 uint32_t(std::min<int64_t>(h, INT32_MAX - int64_t(y))));
  int n = 0;
  const pixman_box32_t* boxes = pixman_region32_rectangles(&clip, &n);
  bool fast = fn0 == 0xCC && fn1 == 0xCC && !mask && src.surface && src.convert == Convert::kSame &&
              sw == w && sh == h;
  Paint paint;
  bool patterned = ((fn0 >> 4) & 0x0F) != (fn0 & 0x0F) || ((fn1 >> 4) & 0x0F) != (fn1 & 0x0F);
  if (!patterned || !MakePaint(dst, *dst.brush, &paint)) paint = SolidPaint(0);
  bool dMono = PlatSurfaceFormatOf(d) == kPlatMono1;
  int32_t mode = dst.stretchMode;
  bool orMode = mode == kPlatStretchOr;
  uint32_t text = ColourToPixel(dst.text) & 0xFFFFFF, back = ColourToPixel(dst.back) & 0xFFFFFF;
  int64_t srcW = PlatSurfaceWidth(src.surface), srcH = PlatSurfaceHeight(src.surface);
  std::vector<int64_t> cf, ce, rf, re;
  for (int b = 0; b < n; ++b) {
    const pixman_box32_t& box = boxes[b];
    if (fast && FastCopy(dst, box, src, int64_t(sx) - x, int64_t(sy) - y)) continue;
    IndexMap(int64_t(box.x1) - x, int64_t(box.x2) - x, w, sw, mode, &cf, &ce);
    IndexMap(int64_t(box.y1) - y, int64_t(box.y2) - y, h, sh, mode, &rf, &re);
    for (int32_t py = box.y1; py < box.y2; ++py) {
      const uint32_t* cells = paint.cell[(py + paint.oy) & 7];
      size_t r = size_t(py - box.y1);
      for (int32_t px = box.x1; px < box.x2; ++px) {
        size_t c = size_t(px - box.x1);
        uint32_t s = 0;
        if (src.surface) {
          bool any = false;
          uint32_t acc = orMode ? 0 : 0xFFFFFFFFu;
          // Only the source pixels inside the source surface are read.
          int64_t y1 = std::min(re[r] + sy, srcH), x1 = std::min(ce[c] + sx, srcW);
          for (int64_t jy = std::max<int64_t>(rf[r] + sy, 0); jy < y1; ++jy) {
            for (int64_t jx = std::max<int64_t>(cf[c] + sx, 0); jx < x1; ++jx) {
              uint32_t v = PlatSurfaceGetPixel(src.surface, int32_t(jx), int32_t(jy));
              acc = orMode ? acc | v : acc & v;
              any = true;
            }
          }
          if (!any) continue;
          s = acc & 0xFFFFFF;
          switch (src.convert) {
            case Convert::kSame: break;
            case Convert::kMonoToColour: s = s == 0xFFFFFF ? back : text; break;
            case Convert::kByBack: s = s == src.back ? 0xFFFFFF : 0; break;
            case Convert::kNearest: s = NearestMono(s); break;
          }
        }
        uint8_t fn = fn0;
        if (mask) {
          uint32_t m = PlatSurfaceGetPixel(mask, int32_t(int64_t(mx) + (px - x)), int32_t(int64_t(my) + (py - y)));
          if ((m & 0xFFFFFF) == 0xFFFFFF) fn = fn1;
        }
        if (fn == 0xAA) continue;  // the destination stays
        if (fn == 0xCC) {          // a copy: neither p nor d is read
          PlatSurfaceSetPixel(d, px, py, s);
          continue;
        }
        uint32_t p = cells[(px + paint.ox) & 7] & 0xFFFFFF;
        uint32_t dv = PlatSurfaceGetPixel(d, px, py) & 0xFFFFFF;
        if (dMono) {
          p = p == 0xFFFFFF ? 0xFFFFFF : 0;
          s = s == 0xFFFFFF ? 0xFFFFFF : 0;
        }
        PlatSurfaceSetPixel(d, px, py, PlatRop3(uint32_t(fn) << 16, p, s, dv) & 0xFFFFFF);
      }
    }
  }
  pixman_region32_fini(&clip);
  PlatSurfaceDestroy(copy);
}

}  // namespace qxdraw

using namespace qxdraw;

int32_t PlatSetStretchBltMode(PlatObj dc, int32_t mode) {
  return SetMode(dc, &Dc::stretchMode, kPlatStretchAnd, kPlatStretchSample2, "stretchmode", mode);
}

int32_t PlatGetStretchBltMode(PlatObj dch) {
  auto dc = GetDc(dch);
  return dc ? dc->stretchMode : 0;
}

namespace {

bool Blit(PlatObj dsth, int32_t x, int32_t y, int32_t w, int32_t h, PlatObj srch, int32_t sx,
          int32_t sy, int32_t sw, int32_t sh, uint8_t fn0, uint8_t fn1, PlatObj maskh, int32_t mx,
          int32_t my) {
  auto dst = GetDc(dsth);
  if (!dst) return false;
  std::shared_ptr<Dc> src;
  bool reads = !SourceFree(fn0) || !SourceFree(fn1);
  if (srch || reads) {
    src = GetDc(srch);
    if (!src) return false;
  }
  std::shared_ptr<Bitmap> mask;
  if (maskh) {
    mask = Get<Bitmap>(maskh, kPlatObjBitmap);
    if (!mask) return false;
    const PlatSurface* m = mask->surface;
    if (PlatSurfaceFormatOf(m) != kPlatMono1 || mx < 0 || my < 0 ||
        (w > 0 && int64_t(mx) + w > PlatSurfaceWidth(m)) || (h > 0 && int64_t(my) + h > PlatSurfaceHeight(m))) {
      PlatSetLastError(kPlatErrInvalidParam);
      return false;
    }
  }
  dst->Trace("blit %d,%d,%d,%d from %d,%d,%d,%d fn %02X %02X", x, y, w, h, sx, sy, sw, sh, fn0, fn1);
  if (dst->trace)
    dst->trace->Pixels(src && reads ? src->Surface() : nullptr, PlatRect{sx, sy, sx + sw, sy + sh},
                       mask ? mask->surface : nullptr, mx, my);
  if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0 || !dst->Surface()) return true;
  TransferSource ts{nullptr, Convert::kSame, 0};
  if (src && reads) {
    ts.surface = src->Surface();
    if (!ts.surface) return true;
    ts.convert = ConvertFor(ts.surface, dst->Surface(), true);
    ts.back = ColourToPixel(src->back) & 0xFFFFFF;
  }
  Transfer(*dst, x, y, w, h, ts, sx, sy, sw, sh, fn0, fn1, mask ? mask->surface : nullptr, mx, my);
  return true;
}

}  // namespace

bool PlatBitBlt(PlatObj dst, int32_t x, int32_t y, int32_t w, int32_t h, PlatObj src, int32_t sx,
                int32_t sy, uint32_t rop3) {
  uint8_t fn = uint8_t(rop3 >> 16);
  return Blit(dst, x, y, w, h, src, sx, sy, w, h, fn, fn, 0, 0, 0);
}

bool PlatStretchBlt(PlatObj dst, int32_t x, int32_t y, int32_t w, int32_t h, PlatObj src,
                    int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint32_t rop3) {
  uint8_t fn = uint8_t(rop3 >> 16);
  return Blit(dst, x, y, w, h, src, sx, sy, sw, sh, fn, fn, 0, 0, 0);
}

bool PlatMaskBlt(PlatObj dst, int32_t x, int32_t y, int32_t w, int32_t h, PlatObj src, int32_t sx,
                 int32_t sy, PlatObj mask, int32_t mx, int32_t my, uint32_t rop4) {
  return Blit(dst, x, y, w, h, src, sx, sy, w, h, uint8_t(rop4 >> 24), uint8_t(rop4 >> 16), mask, mx, my);
}
