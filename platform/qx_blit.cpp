#include "platform/qx_blit.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <utility>
#include <cstring>
#include <vector>

#include "platform/qx_blit_internal.h"
#include "platform/qx_file.h"
#include "platform/qx_raster.h"
#include "platform/qx_wide.h"

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
      a = -MulFloorDiv(-i, sn, dn);  // the j with floor(j dn / sn) = i
      b = -MulFloorDiv(-(i + 1), sn, dn);
    } else {
      a = MulFloorDiv(2 * i + 1, sn, 2 * dn);
      b = a + 1;
    }
    (*first)[size_t(i - i0)] = a;
    (*end)[size_t(i - i0)] = b;
  }
}

// Copies rows of the sixteen-byte stores at offsets 0, 16, ... below
// 16 * Stores, then the sixteen bytes at last (overlapping the ones before);
// with wide, the first wide bytes of each row through the library first.
template <int Stores>
void CopyRowsOf(uint8_t* __restrict d, size_t dstride, const uint8_t* __restrict s, size_t sstride,
                const uint8_t* end, size_t wide, size_t last) {
  auto copy = [](uint8_t* to, const uint8_t* from) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
  };
  auto stores = [&](uint8_t* to, const uint8_t* from) {
    [&]<int... K>(std::integer_sequence<int, K...>) { (copy(to + 16 * K, from + 16 * K), ...); }
    (std::make_integer_sequence<int, Stores>());
  };
  if (!wide) {
    for (; s != end; d += dstride, s += sstride) {
      stores(d, s);
      copy(d + last, s + last);
    }
    return;
  }
  for (; s != end; d += dstride, s += sstride) {
    std::memcpy(d, s, wide);
    stores(d + wide, s + wide);
    copy(d + last, s + last);
  }
}

using CopyRowsFn = void (*)(uint8_t*, size_t, const uint8_t*, size_t, const uint8_t*, size_t, size_t);
template <int... R>
constexpr std::array<CopyRowsFn, sizeof...(R)> MakeCopyRows(std::integer_sequence<int, R...>) {
  return {&CopyRowsOf<R>...};
}
constexpr std::array<CopyRowsFn, 16> kCopyRows = MakeCopyRows(std::make_integer_sequence<int, 16>());

// Copies n words in each of a block of rows between two surfaces.  Rows
// are as short as a control is wide, where a library copy's set-up per row
// costs as much as the copy: each row goes sixteen bytes at a time in line,
// its last sixteen bytes stored apart (overlapping the ones before), and
// the ones before them by a loop made for their count.  Only rows wider
// than sixteen stores copy their first 256-byte blocks through the library.
void CopyRows(uint8_t* __restrict d, size_t dstride, const uint8_t* __restrict s, size_t sstride, int64_t rows,
              size_t n) {
  if (n < 4) {
    for (int64_t y = 0; y < rows; ++y, d += dstride, s += sstride) {
      auto* to = reinterpret_cast<uint32_t*>(d);
      const auto* from = reinterpret_cast<const uint32_t*>(s);
      to[0] = from[0];
      if (n > 1) to[1] = from[1];
      if (n > 2) to[2] = from[2];
    }
    return;
  }
  const size_t last = 4 * n - 16, before = (4 * n - 1) / 16;  // the last's byte offset, the stores before it
  kCopyRows[before % 16](d, dstride, s, sstride, s + size_t(rows) * sstride, before / 16 * 256, last);
}

bool FastCopy(const Dc& dst, const pixman_box32_t& box, const TransferSource& src, int64_t ox, int64_t oy) {
  PlatSurface* d = dst.Surface();
  if (PlatSurfaceFormatOf(d) != kPlatRgb32 || PlatSurfaceFormatOf(src.surface) != kPlatRgb32) return false;
  // The box's source rows and columns, clipped to the source surface.
  int64_t x0 = std::max<int64_t>(box.x1, -ox), x1 = std::min<int64_t>(box.x2, PlatSurfaceWidth(src.surface) - ox);
  int64_t y0 = std::max<int64_t>(box.y1, -oy), y1 = std::min<int64_t>(box.y2, PlatSurfaceHeight(src.surface) - oy);
  if (x0 >= x1 || y0 >= y1) return true;
  const size_t ds = size_t(PlatSurfaceStride(d)), ss = size_t(PlatSurfaceStride(src.surface));
  CopyRows(PlatSurfaceBits(d) + size_t(y0) * ds + size_t(x0) * 4, ds,
           PlatSurfaceBits(src.surface) + size_t(y0 + oy) * ss + size_t(x0 + ox) * 4, ss, y1 - y0, size_t(x1 - x0));
  return true;
}

// ---- Word-wide raster functions ------------------------------------------
//
// Each raster function as a word operation on p, s and d: the common ones in
// their short form, the others as the OR of their minterms, which the
// compiler folds for the constant function.  Every bit of the result obeys
// the function; the caller keeps the alpha byte opaque.
template <unsigned F>
inline uint32_t Eval(uint32_t p, uint32_t s, uint32_t d) {
  if constexpr (F == 0x00) return 0;
  else if constexpr (F == 0xFF) return ~0u;
  else if constexpr (F == 0xCC) return s;
  else if constexpr (F == 0x33) return ~s;
  else if constexpr (F == 0x88) return s & d;
  else if constexpr (F == 0xEE) return s | d;
  else if constexpr (F == 0x66) return s ^ d;
  else if constexpr (F == 0x44) return s & ~d;
  else if constexpr (F == 0x22) return ~s & d;
  else if constexpr (F == 0x11) return ~(s | d);
  else if constexpr (F == 0xBB) return ~s | d;
  else if constexpr (F == 0xDD) return s | ~d;
  else if constexpr (F == 0x99) return ~(s ^ d);
  else if constexpr (F == 0xC0) return p & s;
  else if constexpr (F == 0xF0) return p;
  else if constexpr (F == 0x0F) return ~p;
  else if constexpr (F == 0x5A) return p ^ d;
  else if constexpr (F == 0xA0) return p & d;
  else if constexpr (F == 0xFA) return p | d;
  else if constexpr (F == 0x55) return ~d;
  else if constexpr (F == 0xAA) return d;
  else if constexpr (F == 0xFB) return p | ~s | d;
  else if constexpr (F == 0xEA) return (p & s) | d;
  else if constexpr (F == 0xE2) return (s & p) | (~s & d);
  else if constexpr (F == 0xB8) return (s & d) | (~s & p);
  else if constexpr (F == 0x3C) return p ^ s;
  else {
    uint32_t r = 0;
    if constexpr ((F & 0x01) != 0) r |= ~p & ~s & ~d;
    if constexpr ((F & 0x02) != 0) r |= ~p & ~s & d;
    if constexpr ((F & 0x04) != 0) r |= ~p & s & ~d;
    if constexpr ((F & 0x08) != 0) r |= ~p & s & d;
    if constexpr ((F & 0x10) != 0) r |= p & ~s & ~d;
    if constexpr ((F & 0x20) != 0) r |= p & ~s & d;
    if constexpr ((F & 0x40) != 0) r |= p & s & ~d;
    if constexpr ((F & 0x80) != 0) r |= p & s & d;
    return r;
  }
}

// One destination row of n pixels: s (null when the function reads no
// source) holds the source pixels, pat the pattern colours of pixels 0 to 7
// (repeating).  Blocks of eight keep the pattern in step and let the
// compiler use vector words.
template <unsigned F>
void RowOp(uint32_t* __restrict d, const uint32_t* __restrict s, const uint32_t* __restrict pat, size_t n) {
  constexpr bool kReadsS = ((F >> 2) & 0x33) != (F & 0x33);
  uint32_t p8[8];
  for (int k = 0; k < 8; ++k) p8[k] = pat[k];
  size_t i = 0;
  for (; i + 8 <= n; i += 8)
    for (size_t k = 0; k < 8; ++k)
      d[i + k] = kPlatOpaque | (Eval<F>(p8[k], kReadsS ? s[i + k] : 0, d[i + k]) & 0xFFFFFFu);
  for (size_t k = 0; i < n; ++i, ++k) d[i] = kPlatOpaque | (Eval<F>(p8[k], kReadsS ? s[i] : 0, d[i]) & 0xFFFFFFu);
}

using RowFn = void (*)(uint32_t*, const uint32_t*, const uint32_t*, size_t);

template <size_t... F>
constexpr std::array<RowFn, sizeof...(F)> MakeRowOps(std::index_sequence<F...>) {
  return {&RowOp<unsigned(F)>...};
}
constexpr std::array<RowFn, 256> kRowOps = MakeRowOps(std::make_index_sequence<256>());

// Where the source lies for a run of destination pixels of one axis: the
// source index of each (relative to the source surface), and the run of
// destination indexes whose source is inside the surface.
struct Axis {
  std::vector<int32_t> at;  // per destination index from lo
  int64_t lo = 0, hi = 0;   // destination indexes [lo, hi) read inside
};

// Destination indexes [i0, i1) (relative to the destination rectangle) of a
// sampling transfer from sn source pixels starting at s0 of a surface
// extent wide.
void SampleAxis(int64_t i0, int64_t i1, int64_t dn, int64_t sn, int64_t s0, int64_t extent, Axis* a) {
  a->lo = i1;
  a->hi = i1;
  a->at.clear();
  // j = floor((2i + 1) sn / 2dn) stepped without dividing: quotient q and
  // remainder r of the numerator grow by those of 2sn each step.
  const int64_t den = 2 * dn, stepQ = sn / dn, stepR = 2 * (sn % dn);
  int64_t q = MulFloorDiv(2 * i0 + 1, sn, den);
  int64_t r = int64_t(WideAdd(WideMul(2 * i0 + 1, sn), WideNeg(WideMul(q, den))).lo);
  for (int64_t i = i0; i < i1; ++i) {
    int64_t j = s0 + q;
    q += stepQ;
    r += stepR;
    if (r >= den) {
      r -= den;
      ++q;
    }
    if (j < 0) continue;
    if (j >= extent) {
      a->hi = i;
      break;
    }
    if (a->lo == i1) a->lo = i;
    a->at.push_back(int32_t(j));
  }
  if (a->lo == i1) a->hi = i1;
  if (a->hi < a->lo) a->hi = a->lo;
}

// Mono1 source pixels at[0..n) of a row to colours (0 bits text, 1 bits
// back); in a row one to one (at[i] = at[0] + i) whole bytes go through the
// byte table.
void ExpandMono(const uint8_t* line, const int32_t* at, bool oneToOne, size_t n, const std::vector<uint32_t>& table,
                uint32_t text, uint32_t back, uint32_t* __restrict out) {
  size_t i = 0;
  if (oneToOne) {
    int32_t j = at[0];
    for (; i < n && (j & 7) != 0; ++i, ++j) out[i] = (line[j >> 3] & (0x80 >> (j & 7))) ? back : text;
    const uint32_t* bytes = table.data();
    for (; i + 8 <= n; i += 8, j += 8) std::memcpy(out + i, bytes + size_t(line[j >> 3]) * 8, 32);
    for (; i < n; ++i, ++j) out[i] = (line[j >> 3] & (0x80 >> (j & 7))) ? back : text;
    return;
  }
  for (; i < n; ++i) {
    int32_t j = at[i];
    out[i] = (line[j >> 3] & (0x80 >> (j & 7))) ? back : text;
  }
}

// Transfers onto an Rgb32 destination without a mask where each destination
// pixel reads at most one source pixel (one to one, enlarging, or a
// sampling shrink), the source being Rgb32 or Mono1 or absent: row by row
// through the word operations.  False when the case is not one of these.
bool FastTransfer(const Dc& dst, const pixman_box32_t* boxes, int n, int32_t x, int32_t y, int32_t w, int32_t h,
                  const TransferSource& src, int32_t sx, int32_t sy, int32_t sw, int32_t sh, uint8_t fn,
                  const Paint& paint) {
  PlatSurface* d = dst.Surface();
  if (PlatSurfaceFormatOf(d) != kPlatRgb32) return false;
  const bool mono = src.surface && src.convert == Convert::kMonoToColour;
  if (src.surface && src.convert != Convert::kSame && !mono) return false;
  if (src.surface && !mono && PlatSurfaceFormatOf(src.surface) != kPlatRgb32) return false;
  const bool reduce = dst.stretchMode == kPlatStretchAnd || dst.stretchMode == kPlatStretchOr;
  if (src.surface && reduce && (sw > w || sh > h)) return false;
  const RowFn op = kRowOps[fn];
  const uint32_t text = kPlatOpaque | ColourToPixel(dst.text), back = kPlatOpaque | ColourToPixel(dst.back);
  const int32_t dstride = PlatSurfaceStride(d);
  uint8_t* dbits = PlatSurfaceBits(d);
  const uint8_t* sbits = src.surface ? PlatSurfaceBits(src.surface) : nullptr;
  const int32_t sstride = src.surface ? PlatSurfaceStride(src.surface) : 0;
  const bool direct = src.surface && !mono && sw == w;  // source words in place
  Axis cols, rows;
  std::vector<uint32_t> gathered, expand;
  if (mono) {
    // The eight colours of each source byte.
    expand.resize(256 * 8);
    for (int v = 0; v < 256; ++v)
      for (int k = 0; k < 8; ++k) expand[size_t(v) * 8 + size_t(k)] = (v & (0x80 >> k)) ? back : text;
  }
  for (int b = 0; b < n; ++b) {
    const pixman_box32_t& box = boxes[b];
    int64_t c0 = box.x1, c1 = box.x2;  // destination columns painted
    if (src.surface) {
      SampleAxis(int64_t(box.x1) - x, int64_t(box.x2) - x, w, sw, sx, PlatSurfaceWidth(src.surface), &cols);
      SampleAxis(int64_t(box.y1) - y, int64_t(box.y2) - y, h, sh, sy, PlatSurfaceHeight(src.surface), &rows);
      c0 = x + cols.lo;
      c1 = x + cols.hi;
      if (c0 >= c1 || rows.lo >= rows.hi) continue;
    }
    const size_t width = size_t(c1 - c0);
    gathered.resize(width);
    const int64_t r0 = src.surface ? y + rows.lo : box.y1, r1 = src.surface ? y + rows.hi : box.y2;
    for (int64_t py = r0; py < r1; ++py) {
      uint32_t* drow = reinterpret_cast<uint32_t*>(dbits + size_t(py) * size_t(dstride)) + c0;
      const uint32_t* cells = paint.cell[(py + paint.oy) & 7];
      uint32_t pat[8];
      for (int k = 0; k < 8; ++k) pat[k] = cells[(c0 + k + paint.ox) & 7];
      const uint32_t* srow = nullptr;
      if (src.surface) {
        const uint8_t* line = sbits + size_t(rows.at[size_t(py - y - rows.lo)]) * size_t(sstride);
        // With a copy the gathered words go straight to the destination.
        uint32_t* into = fn == 0xCC ? drow : gathered.data();
        if (direct) {
          srow = reinterpret_cast<const uint32_t*>(line) + cols.at[0];
        } else if (mono) {
          ExpandMono(line, cols.at.data(), sw == w, width, expand, text, back, into);
          srow = into;
        } else {
          const uint32_t* __restrict words = reinterpret_cast<const uint32_t*>(line);
          const int32_t* __restrict at = cols.at.data();
          uint32_t* __restrict out = into;
          // Four loads before their stores keep the loads off the stores' path.
          size_t i = 0;
          for (; i + 4 <= width; i += 4) {
            uint32_t a0 = words[at[i]], a1 = words[at[i + 1]], a2 = words[at[i + 2]], a3 = words[at[i + 3]];
            out[i] = kPlatOpaque | a0;
            out[i + 1] = kPlatOpaque | a1;
            out[i + 2] = kPlatOpaque | a2;
            out[i + 3] = kPlatOpaque | a3;
          }
          for (; i < width; ++i) out[i] = kPlatOpaque | words[at[i]];
          srow = into;
        }
        if (fn == 0xCC && srow == drow) continue;  // already in place
      }
      op(drow, srow, pat, width);
    }
  }
  return true;
}

// The masked copy (0xCC where the mask bit is 0, 0xAA where it is 1) one to
// one onto an Rgb32 destination from an Rgb32 or Mono1 source: word by
// word, reading the mask's bits in place.  Destination pixels whose source
// lies outside the source surface are left alone.  False when the case is
// not this one.
bool FastMaskedCopy(const Dc& dst, const pixman_box32_t* boxes, int n, int32_t x, int32_t y,
                    const TransferSource& src, int32_t sx, int32_t sy, const PlatSurface* mask, int32_t mx,
                    int32_t my) {
  PlatSurface* d = dst.Surface();
  if (!src.surface || PlatSurfaceFormatOf(d) != kPlatRgb32 || PlatSurfaceFormatOf(mask) != kPlatMono1) return false;
  const bool mono = src.convert == Convert::kMonoToColour && PlatSurfaceFormatOf(src.surface) == kPlatMono1;
  if (!mono && !(src.convert == Convert::kSame && PlatSurfaceFormatOf(src.surface) == kPlatRgb32)) return false;
  const uint32_t text = kPlatOpaque | ColourToPixel(dst.text), back = kPlatOpaque | ColourToPixel(dst.back);
  const int64_t srcW = PlatSurfaceWidth(src.surface), srcH = PlatSurfaceHeight(src.surface);
  const int64_t maskW = PlatSurfaceWidth(mask), maskH = PlatSurfaceHeight(mask);
  const int32_t dstride = PlatSurfaceStride(d), sstride = PlatSurfaceStride(src.surface);
  const int32_t mstride = PlatSurfaceStride(mask);
  uint8_t* dbits = PlatSurfaceBits(d);
  const uint8_t* sbits = PlatSurfaceBits(src.surface);
  const uint8_t* mbits = PlatSurfaceBits(mask);
  for (int b = 0; b < n; ++b) {
    const pixman_box32_t& box = boxes[b];
    // The columns whose source and mask pixels exist.
    const int64_t c0 = std::max<int64_t>({box.x1, int64_t(x) - sx, int64_t(x) - mx});
    const int64_t c1 = std::min<int64_t>({box.x2, int64_t(x) - sx + srcW, int64_t(x) - mx + maskW});
    if (c0 >= c1) continue;
    for (int64_t py = box.y1; py < box.y2; ++py) {
      const int64_t jy = py - y + sy, my1 = py - y + my;
      if (jy < 0 || jy >= srcH || my1 < 0 || my1 >= maskH) continue;
      uint32_t* drow = reinterpret_cast<uint32_t*>(dbits + size_t(py) * size_t(dstride));
      const uint8_t* mrow = mbits + size_t(my1) * size_t(mstride);
      const uint8_t* srow = sbits + size_t(jy) * size_t(sstride);
      for (int64_t px = c0; px < c1; ++px) {
        const int64_t mxp = px - x + mx;
        if (mrow[mxp >> 3] & (0x80 >> (mxp & 7))) continue;  // 1: the destination stays
        const int64_t jx = px - x + sx;
        drow[px] = mono ? ((srow[jx >> 3] & (0x80 >> (jx & 7))) ? back : text)
                        : kPlatOpaque | reinterpret_cast<const uint32_t*>(srow)[jx];
      }
    }
  }
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
    bool rgb = PlatSurfaceFormatOf(d) == kPlatRgb32;
    for (int64_t yy = ay; yy < by; ++yy) {
      if (rgb) {
        std::memcpy(PlatSurfaceBits(copy) + size_t(yy - ay) * size_t(PlatSurfaceStride(copy)),
                    PlatSurfaceBits(d) + size_t(yy) * size_t(PlatSurfaceStride(d)) + size_t(ax) * 4,
                    size_t(bx - ax) * 4);
        continue;
      }
      for (int64_t xx = ax; xx < bx; ++xx)
        PlatSurfaceSetPixel(copy, int32_t(xx - ax), int32_t(yy - ay), PlatSurfaceGetPixel(d, int32_t(xx), int32_t(yy)));
    }
    src.surface = copy;
    sx = int32_t(sx - ax);
    sy = int32_t(sy - ay);
  }
  pixman_region32_t clip;
  pixman_region32_init(&clip);
  const uint32_t cw = uint32_t(std::min<int64_t>(w, INT32_MAX - int64_t(x)));
  const uint32_t ch = uint32_t(std::min<int64_t>(h, INT32_MAX - int64_t(y)));
  int n = 0;
  const pixman_box32_t* clipBoxes = dst.ClipBoxes(d, &n);
  pixman_box32_t only{0, 0, 0, 0};
  const pixman_box32_t* boxes = &only;
  if (n == 1) {
    // One clip box, the common case: the destination rectangle inside it,
    // without a region made for it.
    const pixman_box32_t& c = clipBoxes[0];
    only = pixman_box32_t{std::max(c.x1, x), std::max(c.y1, y), std::min(c.x2, int32_t(int64_t(x) + cw)),
                          std::min(c.y2, int32_t(int64_t(y) + ch))};
    n = only.x1 < only.x2 && only.y1 < only.y2 ? 1 : 0;
  } else {
    dst.EffectiveClip(&clip);
    pixman_region32_intersect_rect(&clip, &clip, x, y, cw, ch);
    boxes = pixman_region32_rectangles(&clip, &n);
  }
  bool fast = fn0 == 0xCC && fn1 == 0xCC && !mask && src.surface && src.convert == Convert::kSame &&
              sw == w && sh == h;
  if (fast && PlatSurfaceFormatOf(d) == kPlatRgb32 && PlatSurfaceFormatOf(src.surface) == kPlatRgb32) {
    // A plain copy between Rgb32 surfaces, the common case: box by box,
    // without the pattern the other functions read.
    for (int b = 0; b < n; ++b) FastCopy(dst, boxes[b], src, int64_t(sx) - x, int64_t(sy) - y);
    pixman_region32_fini(&clip);
    PlatSurfaceDestroy(copy);
    return;
  }
  Paint paint;
  bool patterned = ((fn0 >> 4) & 0x0F) != (fn0 & 0x0F) || ((fn1 >> 4) & 0x0F) != (fn1 & 0x0F);
  if (!patterned || !MakePaint(dst, *dst.brush, &paint)) paint = SolidPaint(0);
  if (!fast && !mask && fn0 == fn1 && FastTransfer(dst, boxes, n, x, y, w, h, src, sx, sy, sw, sh, fn0, paint)) {
    pixman_region32_fini(&clip);
    PlatSurfaceDestroy(copy);
    return;
  }
  if (mask && fn0 == 0xCC && fn1 == 0xAA && sw == w && sh == h &&
      FastMaskedCopy(dst, boxes, n, x, y, src, sx, sy, mask, mx, my)) {
    pixman_region32_fini(&clip);
    PlatSurfaceDestroy(copy);
    return;
  }
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
  Dc* src = nullptr;
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
