#include "platform/qx_draw.h"

#include "platform/qx_dc_internal.h"
#include "platform/qx_file.h"
#include "platform/qx_region_internal.h"

using namespace qxdraw;

namespace {

// [a, a + n) or [a + n, a) as a range clamped to int32.
void Span(int32_t a, int32_t n, int32_t* lo, int32_t* hi) {
  int64_t e = int64_t(a) + n;
  int64_t l = n < 0 ? e : a, h = n < 0 ? a : e;
  *lo = int32_t(l < INT32_MIN ? INT32_MIN : l);
  *hi = int32_t(h > INT32_MAX ? INT32_MAX : h);
}

bool FillRect(const Dc& dc, int32_t l, int32_t t, int32_t r, int32_t b, const Paint& paint,
              uint8_t fn) {
  pixman_region32_t area;
  pixman_region32_init(&area);
  SetRect(&area, l, t, r, b);
  FillRegion(dc, &area, paint, fn);
  pixman_region32_fini(&area);
  return true;
}

}  // namespace

bool PlatPatBlt(PlatObj dch, int32_t x, int32_t y, int32_t w, int32_t h, uint32_t rop3) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  uint8_t fn = uint8_t(rop3 >> 16);
  if (!SourceFree(fn)) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  dc->Trace("patfill %d,%d,%d,%d 0x%06X", x, y, w, h, rop3);
  Paint paint;
  bool pattern = ((fn >> 4) & 0x0F) != (fn & 0x0F);  // the function reads the pattern
  if (pattern && !MakePaint(*dc, *dc->brush, &paint)) return true;  // null brush
  if (!pattern) paint = SolidPaint(0);
  int32_t l, r, t, b;
  Span(x, w, &l, &r);
  Span(y, h, &t, &b);
  return FillRect(*dc, l, t, r, b, paint, fn);
}

bool PlatInvertRect(PlatObj dch, const PlatRect& rect) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  dc->Trace("invert %d,%d,%d,%d", rect.left, rect.top, rect.right, rect.bottom);
  return FillRect(*dc, rect.left, rect.top, rect.right, rect.bottom, SolidPaint(0), 0x55);
}

bool PlatFillRgn(PlatObj dch, PlatObj rgn, PlatObj brush) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  auto g = Get<Region>(rgn, kPlatObjRegion);
  auto br = Get<Brush>(brush, kPlatObjBrush);
  if (!g || !br) return false;
  if (dc->trace) {
    // The brush and region travel in the trace as their own lines.
    auto saved = dc->brush;
    dc->brush = br;
    dc->Trace("fillrgn");
    dc->brush = saved;
  }
  Paint paint;
  if (MakePaint(*dc, *br, &paint)) FillRegion(*dc, &g->r, paint, Rop2Function(dc->rop2));
  return true;
}

bool PlatFrameRgn(PlatObj dch, PlatObj rgn, PlatObj brush, int32_t w, int32_t h) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  auto g = Get<Region>(rgn, kPlatObjRegion);
  auto br = Get<Brush>(brush, kPlatObjBrush);
  if (!g || !br) return false;
  if (w < 0 || h < 0 || !OffsetFits(&g->r, w, h) || !OffsetFits(&g->r, -w, -h)) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  dc->Trace("framergn %d,%d", w, h);
  // Erosion: the region intersected with itself moved by every offset up
  // to w sideways and h up and down.
  pixman_region32_t kept, moved, frame;
  pixman_region32_init(&kept);
  pixman_region32_init(&moved);
  pixman_region32_init(&frame);
  pixman_region32_copy(&kept, &g->r);
  auto erodeBy = [&](int32_t dx, int32_t dy) {
    pixman_region32_copy(&moved, &g->r);
    pixman_region32_translate(&moved, dx, dy);
    pixman_region32_intersect(&kept, &kept, &moved);
  };
  for (int32_t d = 1; d <= w && pixman_region32_not_empty(&kept); ++d) {
    erodeBy(d, 0);
    erodeBy(-d, 0);
  }
  for (int32_t d = 1; d <= h && pixman_region32_not_empty(&kept); ++d) {
    erodeBy(0, d);
    erodeBy(0, -d);
  }
  pixman_region32_subtract(&frame, &g->r, &kept);
  Paint paint;
  if (MakePaint(*dc, *br, &paint)) FillRegion(*dc, &frame, paint, Rop2Function(dc->rop2));
  pixman_region32_fini(&kept);
  pixman_region32_fini(&moved);
  pixman_region32_fini(&frame);
  return true;
}

bool PlatFlush(PlatObj dch) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  dc->Trace("flush");
  if (dc->target) dc->target->Flush();
  return true;
}
