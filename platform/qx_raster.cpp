#include "platform/qx_raster.h"

#include <emmintrin.h>

#include <algorithm>

#include "platform/qx_dc_internal.h"
#include "platform/qx_surface_internal.h"

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

namespace {

// The function of each of the 16 ROP2 codes, worked out once.
struct Rop2Table {
  uint8_t fn[16];
  constexpr Rop2Table() : fn{} {
    for (uint32_t f2 = 0; f2 < 16; ++f2) {
      uint32_t f = 0;
      for (uint32_t i = 0; i < 8; ++i) {
        uint32_t p = i >> 2 & 1, d = i & 1;
        if (f2 >> (2 * p + d) & 1) f |= 1u << i;
      }
      fn[f2] = uint8_t(f);
    }
  }
};
constexpr Rop2Table kRop2Table;

}  // namespace

uint8_t Rop2Function(int32_t rop2) { return kRop2Table.fn[uint32_t(rop2 - 1) & 0xF]; }

namespace {

void FillCells(Paint* paint, uint32_t pixel) {
  const __m128i v4 = _mm_set1_epi32(int32_t(pixel));
  for (auto& row : paint->cell) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row), v4);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + 4), v4);
  }
}

}  // namespace

bool MakePaint(const Dc& dc, const Brush& brush, Paint* paint) {
  if (brush.brushKind == kPlatBrushNull) return false;
  paint->ox = dc.orgX;
  paint->oy = dc.orgY;
  if (brush.brushKind == kPlatBrushSolid) {
    paint->solid = true;
    FillCells(paint, ColourToPixel(brush.colour));
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
  FillCells(&p, ColourToPixel(colour));
  return p;
}

namespace {

// Boxes narrower than this are filled by StoreRows.
constexpr int32_t kNarrowFill = 64;

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

// Stores v in rows of n >= 4 words, sixteen bytes at a time; the last
// stores of a row may overlap the ones before.
void StoreRows(uint8_t* first, int32_t stride, int32_t rows, int32_t n, uint32_t v) {
  const __m128i v4 = _mm_set1_epi32(int32_t(v));
  auto at = [&](int32_t word) { return reinterpret_cast<__m128i*>(first + 4 * word); };
  if (n <= 8) {
    // Bands and short lines: two stores a row, two rows a step.
    const int32_t last = n - 4;
    int32_t y = 0;
    for (; y + 2 <= rows; y += 2, first += 2 * stride) {
      _mm_storeu_si128(at(0), v4);
      _mm_storeu_si128(at(last), v4);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(first + stride), v4);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(first + stride + 4 * last), v4);
    }
    if (y < rows) {
      _mm_storeu_si128(at(0), v4);
      _mm_storeu_si128(at(last), v4);
    }
    return;
  }
  if (n <= 16) {
    for (int32_t y = 0; y < rows; ++y, first += stride) {
      _mm_storeu_si128(at(0), v4);
      _mm_storeu_si128(at(4), v4);
      _mm_storeu_si128(at(n - 8), v4);
      _mm_storeu_si128(at(n - 4), v4);
    }
    return;
  }
  for (int32_t y = 0; y < rows; ++y, first += stride) {
    for (int32_t i = 0; i < n - 16; i += 16) {
      _mm_storeu_si128(at(i), v4);
      _mm_storeu_si128(at(i + 4), v4);
      _mm_storeu_si128(at(i + 8), v4);
      _mm_storeu_si128(at(i + 12), v4);
    }
    _mm_storeu_si128(at(n - 16), v4);
    _mm_storeu_si128(at(n - 12), v4);
    _mm_storeu_si128(at(n - 8), v4);
    _mm_storeu_si128(at(n - 4), v4);
  }
}

}  // namespace

// Narrow boxes (lines, bands) cost less by plain stores than by pixman's
// set-up for each row; wide ones are pixman's.
void SolidCopy(PlatSurface* s, const pixman_box32_t& box, uint32_t v) {
  const int32_t w = box.x2 - box.x1, h = box.y2 - box.y1, stride = s->stride;
  uint8_t* first = s->bits + size_t(box.y1) * size_t(stride) + size_t(box.x1) * 4;
  if (w == 1) {
    // Upright lines and single pixels, four rows a step.
    auto at = [&](int32_t row) { return reinterpret_cast<uint32_t*>(first + row * stride); };
    int32_t y = 0;
    for (; y + 4 <= h; y += 4, first += 4 * stride) {
      *at(0) = v;
      *at(1) = v;
      *at(2) = v;
      *at(3) = v;
    }
    for (; y < h; ++y, first += stride) *at(0) = v;
    return;
  }
  if (w < 4) {
    for (int32_t y = 0; y < h; ++y, first += stride)
      for (int32_t x = 0; x < w; ++x) reinterpret_cast<uint32_t*>(first)[x] = v;
    return;
  }
  if (w < kNarrowFill) return StoreRows(first, stride, h, w, v);
  if (!pixman_fill(reinterpret_cast<uint32_t*>(s->bits), stride / 4, 32, box.x1, box.y1, w, h, v))
    StoreRows(first, stride, h, w, v);
}

// Sixteen bytes at a time, eight stores a step: rows of a few hundred
// words, where the library copy's set-up for each row costs as much as the
// copy.  The row is read aligned (the caller's buffer is 16-byte aligned).
void RowCopy(PlatSurface* s, const pixman_box32_t& box, const uint32_t* row) {
  const int32_t stride = s->stride, n = box.x2 - box.x1, blocks = n / 32, rest = n % 32;
  uint8_t* first = s->bits + size_t(box.y1) * size_t(stride) + size_t(box.x1) * 4;
  const auto* tail = row + 32 * blocks;
  for (int32_t y = box.y1; y < box.y2; ++y, first += stride) {
    const auto* from = reinterpret_cast<const __m128i*>(row);
    auto* to = reinterpret_cast<__m128i*>(first);
    for (int32_t k = 0; k < blocks; ++k, from += 8, to += 8) {
      _mm_storeu_si128(to, _mm_load_si128(from));
      _mm_storeu_si128(to + 1, _mm_load_si128(from + 1));
      _mm_storeu_si128(to + 2, _mm_load_si128(from + 2));
      _mm_storeu_si128(to + 3, _mm_load_si128(from + 3));
      _mm_storeu_si128(to + 4, _mm_load_si128(from + 4));
      _mm_storeu_si128(to + 5, _mm_load_si128(from + 5));
      _mm_storeu_si128(to + 6, _mm_load_si128(from + 6));
      _mm_storeu_si128(to + 7, _mm_load_si128(from + 7));
    }
    auto* words = reinterpret_cast<uint32_t*>(to);
    int32_t x = 0;
    for (; x + 4 <= rest; x += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(words + x), _mm_load_si128(reinterpret_cast<const __m128i*>(tail + x)));
    for (; x < rest; ++x) words[x] = tail[x];
  }
}

namespace {

// Calls fill(surface, part) for each part of the box that the clip's n
// boxes keep.
template <class Fill>
void ForClipBoxes(const pixman_box32_t* clip, int n, PlatSurface* s, const pixman_box32_t& box, Fill&& fill) {
  if (box.x1 >= box.x2 || box.y1 >= box.y2) return;
  // The clip's boxes are apart: each meets the box in a part of its own.
  for (int i = 0; i < n; ++i) {
    const pixman_box32_t part{std::max(box.x1, clip[i].x1), std::max(box.y1, clip[i].y1),
                              std::min(box.x2, clip[i].x2), std::min(box.y2, clip[i].y2)};
    if (part.x1 < part.x2 && part.y1 < part.y2) fill(s, part);
  }
}

// The same for the context's clip.
template <class Fill>
void ForClipped(const Dc& dc, PlatSurface* s, const pixman_box32_t& box, Fill&& fill) {
  if (!s) return;
  int n = 0;
  const pixman_box32_t* clip = dc.ClipBoxes(s, &n);
  ForClipBoxes(clip, n, s, box, fill);
}

}  // namespace

void FillBox(PlatSurface* s, const pixman_box32_t& box, const Paint& paint, uint8_t fn) {
  if (box.x1 >= box.x2 || box.y1 >= box.y2) return;
  bool rgb = PlatSurfaceFormatOf(s) == kPlatRgb32;
  int32_t stride = PlatSurfaceStride(s);
  if (rgb && paint.solid && fn == 0xF0) return SolidCopy(s, box, paint.cell[0][0]);
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

void FillClipped(const Dc& dc, const pixman_box32_t& box, const Paint& paint, uint8_t fn) {
  ForClipped(dc, dc.Surface(), box,
             [&](PlatSurface* s, const pixman_box32_t& part) { FillBox(s, part, paint, fn); });
}

namespace {

// A solid paint of one colour through the general fill: kept apart so that
// the common copy keeps a small frame.
__attribute__((noinline)) void FillClippedPainted(const Dc& dc, const pixman_box32_t& box, uint32_t colour,
                                                  uint8_t fn) {
  FillClipped(dc, box, SolidPaint(colour), fn);
}

}  // namespace

void SolidBoxes::PaintClipped(const pixman_box32_t& box) const {
  if (!copy_) return FillClippedPainted(dc_, box, colour_, fn_);
  const uint32_t v = pixel_;
  ForClipBoxes(clip_, clipCount_, surface_, box,
               [v](PlatSurface* s, const pixman_box32_t& part) { SolidCopy(s, part, v); });
}

void FillClipped(const Dc& dc, const pixman_box32_t& box, uint32_t colour, uint8_t fn) {
  SolidBoxes(dc, colour, fn).Paint(box);
}

void FillRegion(const Dc& dc, const pixman_region32_t* region, const Paint& paint, uint8_t fn) {
  PlatSurface* s = dc.Surface();
  if (!s) return;
  auto* r = const_cast<pixman_region32_t*>(region);
  if (pixman_region32_n_rects(r) <= 1) {
    if (pixman_region32_not_empty(r)) FillClipped(dc, *pixman_region32_extents(r), paint, fn);
    return;
  }
  pixman_region32_t clip;
  pixman_region32_init(&clip);
  pixman_region32_intersect(&clip, const_cast<pixman_region32_t*>(dc.Clip()), r);
  int n = 0;
  const pixman_box32_t* boxes = pixman_region32_rectangles(&clip, &n);
  for (int i = 0; i < n; ++i) FillBox(s, boxes[i], paint, fn);
  pixman_region32_fini(&clip);
}

}  // namespace qxdraw
