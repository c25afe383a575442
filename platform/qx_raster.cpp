#include "platform/qx_raster.h"

#include <algorithm>

#include "platform/qx_dc_internal.h"

uint32_t PlatRop3(uint32_t code, uint32_t p, uint32_t s, uint32_t d) {
  uint32_t fn = (code >> 16) & 0xFF, r = 0;
  for (uint32_t i = 0; i < 8; ++i)
    if (fn >> i & 1) r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
  return r;
}

uint32_t PlatRop2(int32_t code, uint32_t p, uint32_t d) {
  return PlatRop3(uint32_t(qxdraw::Rop2Function(code)) << 16, p, 0, d);
}

namespace qxdraw {

uint8_t Rop2Function(int32_t rop2) {
  uint32_t f2 = uint32_t(rop2 - 1) & 0xF, fn = 0;
  for (uint32_t i = 0; i < 8; ++i) {
    uint32_t p = i >> 2 & 1, d = i & 1;
    if (f2 >> (2 * p + d) & 1) fn |= 1u << i;
  }
  return uint8_t(fn);
}

bool MakePaint(const Dc& dc, const Brush& brush, Paint* paint) {
  if (brush.brushKind == kPlatBrushNull) return false;
  paint->ox = dc.orgX;
  paint->oy = dc.orgY;
  if (brush.brushKind == kPlatBrushSolid) {
    paint->solid = true;
    const uint32_t v = ColourToPixel(brush.colour);
    for (auto& row : paint->cell) std::fill(row, row + 8, v);
    return true;
  }
  paint->solid = false;
  uint32_t fore = ColourToPixel(dc.text), backc = ColourToPixel(dc.back);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) paint->cell[r][c] = (brush.pattern[r] & (0x80 >> c)) ? backc : fore;
  return true;
}

Paint SolidPaint(uint32_t colour) {
  Paint p;
  uint32_t v = ColourToPixel(colour);
  for (auto& row : p.cell) std::fill(row, row + 8, v);
  return p;
}

namespace {

inline uint32_t Apply(uint8_t fn, uint32_t p, uint32_t d) {
  return kPlatOpaque | (PlatRop3(uint32_t(fn) << 16, p, 0, d) & 0xFFFFFF);
}

// One row of an Rgb32 surface from x0 to x1; pat holds the colours of
// x0, x0 + 1, ... x0 + 7, repeating.
void RowRgb(uint32_t* row, int32_t x0, int32_t x1, const uint32_t pat[8], bool solid, uint8_t fn) {
  uint32_t* p = row + x0;
  size_t n = size_t(x1 - x0);
  switch (fn) {
    case 0xF0:  // pattern copy
      if (solid) {
        const uint32_t v = pat[0];  // by value: the stores cannot change it
        for (size_t i = 0; i < n; ++i) p[i] = v;
      } else {
        for (size_t i = 0; i < n; ++i) p[i] = pat[i & 7];
      }
      return;
    case 0x5A:  // pattern xor destination
      for (size_t i = 0; i < n; ++i) p[i] ^= pat[i & 7] & 0xFFFFFF;
      return;
    case 0xFA:  // pattern or destination
      for (size_t i = 0; i < n; ++i) p[i] |= pat[i & 7];
      return;
    case 0xA0:  // pattern and destination (the alpha stays 0xFF)
      for (size_t i = 0; i < n; ++i) p[i] &= pat[i & 7];
      return;
    case 0xAA:  // destination unchanged
      return;
    default:
      for (size_t i = 0; i < n; ++i) p[i] = Apply(fn, pat[i & 7], p[i]);
  }
}

}  // namespace

void FillBox(PlatSurface* s, const pixman_box32_t& box, const Paint& paint, uint8_t fn) {
  if (box.x1 >= box.x2 || box.y1 >= box.y2) return;
  bool rgb = PlatSurfaceFormatOf(s) == kPlatRgb32;
  int32_t stride = PlatSurfaceStride(s);
  if (rgb && paint.solid && fn == 0xF0 && (box.x2 - box.x1) * (box.y2 - box.y1) <= 8) {
    // A line's few pixels: stored here, cheaper than a call into pixman.
    for (int32_t y = box.y1; y < box.y2; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(PlatSurfaceBits(s) + size_t(y) * size_t(stride));
      for (int32_t x = box.x1; x < box.x2; ++x) row[x] = paint.cell[0][0];
    }
    return;
  }
  if (rgb && paint.solid && fn == 0xF0 &&
      pixman_fill(reinterpret_cast<uint32_t*>(PlatSurfaceBits(s)), stride / 4, 32, box.x1, box.y1,
                  box.x2 - box.x1, box.y2 - box.y1, paint.cell[0][0]))
    return;  // a solid copy: pixman's fill is the fastest store there is
  for (int32_t y = box.y1; y < box.y2; ++y) {
    const uint32_t* cells = paint.cell[(y + paint.oy) & 7];
    uint32_t pat[8];
    for (int32_t k = 0; k < 8; ++k) pat[k] = cells[(box.x1 + k + paint.ox) & 7];
    if (rgb) {
      auto* row = reinterpret_cast<uint32_t*>(PlatSurfaceBits(s) + size_t(y) * size_t(stride));
      RowRgb(row, box.x1, box.x2, pat, paint.solid, fn);
    } else {
      // Mono1: exact white is 1, everything else 0; functions of all-ones and
      // all-zero words give all-ones or all-zero words.
      for (int32_t x = box.x1; x < box.x2; ++x) {
        uint32_t p = (pat[(x - box.x1) & 7] & 0xFFFFFF) == 0xFFFFFF ? 0xFFFFFFFFu : kPlatOpaque;
        PlatSurfaceSetPixel(s, x, y, Apply(fn, p, PlatSurfaceGetPixel(s, x, y)));
      }
    }
  }
}

void FillRegion(const Dc& dc, const pixman_region32_t* region, const Paint& paint, uint8_t fn) {
  PlatSurface* s = dc.Surface();
  if (!s) return;
  pixman_region32_t clip;
  pixman_region32_init(&clip);
  dc.EffectiveClip(&clip);
  pixman_region32_intersect(&clip, &clip, const_cast<pixman_region32_t*>(region));
  int n = 0;
  const pixman_box32_t* boxes = pixman_region32_rectangles(&clip, &n);
  for (int i = 0; i < n; ++i) FillBox(s, boxes[i], paint, fn);
  pixman_region32_fini(&clip);
}

}  // namespace qxdraw
