#include "platform/qx_draw.h"

#include "platform/qx_dc_internal.h"
#include "platform/qx_file.h"
#include "platform/qx_region_internal.h"
#include "platform/qx_shapes_internal.h"
#include "platform/qx_wide.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace qxdraw;

namespace {

// [a, a + n) or [a + n, a) as a range clamped to int32.
void Span(int32_t a, int32_t n, int32_t* lo, int32_t* hi) {
  int64_t e = int64_t(a) + n;
  int64_t l = n < 0 ? e : a, h = n < 0 ? a : e;
  *lo = int32_t(l < INT32_MIN ? INT32_MIN : l);
  *hi = int32_t(h > INT32_MAX ? INT32_MAX : h);
}

// "solid 0x0000FF", "null" or "pattern AA55AA55AA55AA55", then the
// region's rectangles, for the region lines of the trace.
std::string BrushAndRects(const Brush& b, const pixman_region32_t* r) {
  char buf[64];
  if (b.brushKind == kPlatBrushNull) {
    std::snprintf(buf, sizeof buf, "null");
  } else if (b.brushKind == kPlatBrushSolid) {
    std::snprintf(buf, sizeof buf, "solid 0x%06X", b.colour);
  } else {
    const uint8_t* p = b.pattern;
    std::snprintf(buf, sizeof buf, "pattern %02X%02X%02X%02X%02X%02X%02X%02X", p[0], p[1], p[2], p[3],
                  p[4], p[5], p[6], p[7]);
  }
  std::string line = buf;
  int n = 0;
  const pixman_box32_t* boxes = pixman_region32_rectangles(const_cast<pixman_region32_t*>(r), &n);
  for (int i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, " %d,%d,%d,%d", boxes[i].x1, boxes[i].y1, boxes[i].x2, boxes[i].y2);
    line += buf;
  }
  return line;
}

bool FillRect(const Dc& dc, int32_t l, int32_t t, int32_t r, int32_t b, const Paint& paint,
              uint8_t fn) {
  FillClipped(dc, pixman_box32_t{l, t, r, b}, paint, fn);
  return true;
}

// PlatPatBlt of a function that reads no pattern, or of a patterned brush:
// kept apart so that solid fills keep a small frame.
__attribute__((noinline)) bool PatBltPainted(const Dc& dc, int32_t l, int32_t t, int32_t r, int32_t b, uint8_t fn,
                                             bool pattern) {
  if (!pattern) return FillRect(dc, l, t, r, b, SolidPaint(0), fn);
  Paint paint;
  if (!MakePaint(dc, *dc.brush, &paint)) return true;  // null brush
  return FillRect(dc, l, t, r, b, paint, fn);
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
  int32_t l, r, t, b;
  Span(x, w, &l, &r);
  Span(y, h, &t, &b);
  const bool pattern = ((fn >> 4) & 0x0F) != (fn & 0x0F);  // the function reads the pattern
  if (pattern && dc->brush->brushKind == kPlatBrushSolid) {
    FillClipped(*dc, pixman_box32_t{l, t, r, b}, dc->brush->colour, fn);
    return true;
  }
  return PatBltPainted(*dc, l, t, r, b, fn, pattern);
}

// The widest run of rectangles PlatFillSolidRects copies a row at a time.
constexpr int64_t kRowRun = 1024;

bool PlatFillSolidRects(PlatObj dch, const PlatRect* rects, const uint32_t* colours, int32_t n) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  if (n < 0 || (n && (!rects || !colours))) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  if (!n) return true;
  // The surface and the clip are found once for all the rectangles.
  SolidBoxes boxes(*dc, colours[0] & 0xFFFFFF, 0xF0);
  const pixman_box32_t* clip = boxes.OnlyClipBox();
  if (dc->trace) {
    // The calls the fills stand for, so that what is recorded plays back.
    for (int32_t i = 0; i < n; ++i) {
      const PlatRect& r = rects[i];
      if (r.left >= r.right || r.top >= r.bottom) continue;
      dc->Trace("brush solid 0x%06X", colours[i] & 0xFFFFFF);
      dc->Trace("patfill %d,%d,%d,%d 0x%06X", r.left, r.top, r.right - r.left, r.bottom - r.top, kPlatPatCopy);
    }
    TraceBrush(*dc);
  }
  for (int32_t i = 0, j; i < n; i = j) {
    const PlatRect& r = rects[i];
    j = i + 1;
    // Rectangles side by side over the same rows, left to right, are copied
    // a row at a time: narrow bands cost a store per row each otherwise.
    if (clip && r.left < r.right)
      while (j < n && rects[j].top == r.top && rects[j].bottom == r.bottom && rects[j].left == rects[j - 1].right &&
             rects[j].right > rects[j].left && int64_t(rects[j].right) - r.left <= kRowRun)
        ++j;
    if (j - i == 1) {
      boxes.SetColour(colours[i] & 0xFFFFFF);
      boxes.Paint(pixman_box32_t{r.left, r.top, r.right, r.bottom});
      continue;
    }
    const pixman_box32_t part{std::max(r.left, clip->x1), std::max(r.top, clip->y1),
                              std::min(rects[j - 1].right, clip->x2), std::min(r.bottom, clip->y2)};
    if (part.x1 >= part.x2 || part.y1 >= part.y2) continue;
    alignas(16) uint32_t row[kRowRun];
    for (int32_t k = i; k < j; ++k) {
      const int32_t from = std::max(rects[k].left, part.x1), to = std::min(rects[k].right, part.x2);
      const uint32_t pixel = ColourToPixel(colours[k] & 0xFFFFFF);
      uint32_t* at = row + (from - part.x1);
      int32_t x = 0;
      const int32_t w = to - from;
      if (w >= 4) {
        const __m128i v4 = _mm_set1_epi32(int32_t(pixel));
        for (; x + 4 <= w; x += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(at + x), v4);
        x = w - 4;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at + x), v4);
        x = w;
      }
      for (; x < w; ++x) at[x] = pixel;
    }
    RowCopy(boxes.Surface(), part, row);
  }
  return true;
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
  if (dc->trace) dc->trace->Line("fillrgn " + BrushAndRects(*br, &g->r));
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
  if (dc->trace) dc->trace->Line("framergn " + std::to_string(w) + "," + std::to_string(h) + " " +
                                  BrushAndRects(*br, &g->r));
  // Erosion: the pixels whose w neighbours left and right, and h above and
  // below, are all in the region: the horizontal and the vertical erosion
  // intersected.  Each is built by doubling, in about log2 steps.
  pixman_region32_t kept, across, moved, frame;
  pixman_region32_init(&kept);
  pixman_region32_init(&across);
  pixman_region32_init(&moved);
  pixman_region32_init(&frame);
  auto erode = [&](pixman_region32_t* x, int32_t reach, bool horizontal) {
    pixman_region32_copy(x, &g->r);
    int32_t done = 0;  // x is the erosion by [-done, done]
    while (done < reach && pixman_region32_not_empty(x)) {
      int32_t step = std::min(done + 1, reach - done);
      pixman_region32_t base;
      pixman_region32_init(&base);
      pixman_region32_copy(&base, x);
      for (int32_t sign : {1, -1}) {
        pixman_region32_copy(&moved, &base);
        pixman_region32_translate(&moved, horizontal ? sign * step : 0, horizontal ? 0 : sign * step);
        pixman_region32_intersect(x, x, &moved);
      }
      pixman_region32_fini(&base);
      done += step;
    }
  };
  erode(&kept, w, true);
  erode(&across, h, false);
  pixman_region32_intersect(&kept, &kept, &across);
  pixman_region32_subtract(&frame, &g->r, &kept);
  Paint paint;
  if (MakePaint(*dc, *br, &paint)) FillRegion(*dc, &frame, paint, Rop2Function(dc->rop2));
  pixman_region32_fini(&kept);
  pixman_region32_fini(&across);
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

namespace {

bool DashOn(const Dashes& d, int64_t unit) {
  int64_t at = unit % d.period;
  for (int32_t k = 0; k < d.n; ++k) {
    if (at < d.len[k]) return k % 2 == 0;
    at -= d.len[k];
  }
  return false;
}

// The pixels of P0 -> P1 without P1, into on (pen) and off (dash gaps
// painted with the background); phase counts the units drawn before it in
// this call (dashes).
void Segment(const Dc& dc, const pixman_region32_t* clip, PlatPoint p0, PlatPoint p1, int64_t phase,
             BoxList* onPixels, BoxList* offPixels) {
  PlatSurface* s = dc.Surface();
  int64_t dx = int64_t(p1.x) - p0.x, dy = int64_t(p1.y) - p0.y;
  int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
  int64_t n = adx > ady ? adx : ady;
  if (n == 0 || !s || !pixman_region32_not_empty(const_cast<pixman_region32_t*>(clip))) return;
  bool xMajor = adx >= ady;
  int64_t a0 = xMajor ? p0.x : p0.y, b0 = xMajor ? p0.y : p0.x;
  int64_t sa = (xMajor ? dx : dy) < 0 ? -1 : 1;
  int64_t m = xMajor ? dy : dx, am = m < 0 ? -m : m, sb = m < 0 ? -1 : 1;
  const pixman_box32_t* box = pixman_region32_extents(const_cast<pixman_region32_t*>(clip));
  int64_t lo = xMajor ? box->x1 : box->y1, hi = xMajor ? box->x2 : box->y2;  // [lo, hi)
  int64_t mlo = xMajor ? box->y1 : box->x1, mhi = xMajor ? box->y2 : box->x2;  // minor range
  // Steps i whose major coordinate a0 + sa i lies in [lo, hi).
  int64_t i0, i1;
  if (sa > 0) {
    i0 = lo - a0;
    i1 = hi - 1 - a0;
  } else {
    i0 = a0 - (hi - 1);
    i1 = a0 - lo;
  }
  if (i0 < 0) i0 = 0;
  if (i1 > n - 1) i1 = n - 1;
  if (i0 > i1 || dc.pen->style == kPlatPenNull) return;
  const Dashes& dash = kDashes[dc.pen->style];
  // A solid level or upright segment: one box for its pixels in the clip
  // box's range.
  if (m == 0 && dash.n == 0) {
    if (b0 < mlo || b0 >= mhi) return;
    const int64_t from = sa > 0 ? a0 + i0 : a0 - i1, to = (sa > 0 ? a0 + i1 : a0 - i0) + 1;
    onPixels->boxes.push_back(xMajor ? pixman_box32_t{int32_t(from), int32_t(b0), int32_t(to), int32_t(b0 + 1)}
                                     : pixman_box32_t{int32_t(b0), int32_t(from), int32_t(b0 + 1), int32_t(to)});
    return;
  }
  // minor(i) = floor((2 i |m| + n) / 2n), stepped with its remainder; in
  // 64 bits while the product fits there (all but the farthest lines).
  int64_t v = 0, r = 0;
  constexpr int64_t kFits = int64_t(1) << 30;
  if (i0 < kFits && am < kFits && n < kFits) {
    const int64_t num = 2 * i0 * am + n;
    v = num / (2 * n);
    r = num - v * 2 * n;
  } else {
    Wide num = WideAdd(WideMul(2 * i0, am), WideOf(n));
    v = WideFloorDiv(num, 2 * n);
    Wide back = WideNeg(WideMul(v, 2 * n));
    Wide rem = WideAdd(num, back);
    r = int64_t(rem.lo);  // 0 <= rem < 2n
  }
  // Pixels that follow one another along the major axis at one minor
  // coordinate go in as one box: a steep or shallow line gives a box per
  // run, not per pixel.  A solid line within 32-bit reach is stepped in
  // 32-bit arithmetic.
  constexpr int64_t kSmall = int64_t(1) << 29;
  if (dash.n == 0 && n < kSmall && a0 > -kSmall && a0 < kSmall && b0 > -kSmall && b0 < kSmall) {
    int32_t a = int32_t(a0 + sa * i0), b = int32_t(b0 + sb * v), rr = int32_t(r), runStart = a;
    const int32_t step = int32_t(sa), bStep = int32_t(sb), twoAm = int32_t(2 * am), twoN = int32_t(2 * n);
    for (int64_t k = i1 - i0; k >= 0; --k) {
      rr += twoAm;
      const bool bump = rr >= twoN;
      if (bump || k == 0) {
        if (b >= mlo && b < mhi) {
          const int32_t from = step > 0 ? runStart : a, to = (step > 0 ? a : runStart) + 1;
          onPixels->boxes.push_back(xMajor ? pixman_box32_t{from, b, to, b + 1} : pixman_box32_t{b, from, b + 1, to});
        }
        runStart = a + step;
      }
      if (bump) rr -= twoN, b += bStep;
      a += step;
    }
    return;
  }
  BoxList* runList = nullptr;
  int64_t runMinor = 0, runFrom = 0, runTo = 0;  // major range [from, to)
  auto flush = [&] {
    if (!runList) return;
    runList->boxes.push_back(
        xMajor ? pixman_box32_t{int32_t(runFrom), int32_t(runMinor), int32_t(runTo), int32_t(runMinor + 1)}
               : pixman_box32_t{int32_t(runMinor), int32_t(runFrom), int32_t(runMinor + 1), int32_t(runTo)});
    runList = nullptr;
  };
  for (int64_t i = i0; i <= i1; ++i) {
    int64_t a = a0 + sa * i, b = b0 + sb * v;
    bool on = dash.n == 0 || DashOn(dash, phase + i);
    if ((on || dc.bkMode == kPlatBkOpaque) && b >= mlo && b < mhi) {
      BoxList* list = on ? onPixels : offPixels;
      if (list == runList && b == runMinor && (a == runTo || a + 1 == runFrom)) {
        if (a == runTo) ++runTo;
        else --runFrom;
      } else {
        flush();
        runList = list, runMinor = b, runFrom = a, runTo = a + 1;
      }
    } else {
      flush();
    }
    r += 2 * am;
    if (r >= 2 * n) {
      r -= 2 * n;
      ++v;
    }
  }
  flush();
}

int64_t Steps(PlatPoint p0, PlatPoint p1) {
  int64_t dx = int64_t(p1.x) - p0.x, dy = int64_t(p1.y) - p0.y;
  dx = dx < 0 ? -dx : dx;
  dy = dy < 0 ? -dy : dy;
  return dx > dy ? dx : dy;
}

void TracePoints(const Dc& dc, const char* what, const PlatPoint* pts, int32_t n) {
  if (!dc.trace) return;
  std::string line = what;
  char part[32];
  std::snprintf(part, sizeof part, " %d", n);
  line += part;
  for (int32_t i = 0; i < n; ++i) {
    std::snprintf(part, sizeof part, " %d,%d", pts[i].x, pts[i].y);
    line += part;
  }
  dc.trace->Line(line);
}

// The pixels of a level or upright segment from a to b, without b: the box
// from a up to b, or from past b up to a.
inline pixman_box32_t StraightBox(PlatPoint a, PlatPoint b) {
  if (a.y == b.y) return a.x <= b.x ? pixman_box32_t{a.x, a.y, b.x, a.y + 1} : pixman_box32_t{b.x + 1, a.y, a.x + 1, a.y + 1};
  return a.y <= b.y ? pixman_box32_t{a.x, a.y, a.x + 1, b.y} : pixman_box32_t{a.x, b.y + 1, a.x + 1, a.y + 1};
}

// True when the pixels of a level or upright segment from a to b, without
// b, fit a box in int32 coordinates.
inline bool StraightFits(PlatPoint a, PlatPoint b) {
  return (a.x == b.x || a.y == b.y) && a.x < INT32_MAX && a.y < INT32_MAX && b.x < INT32_MAX && b.y < INT32_MAX;
}

// The pixels of a thin pen's polyline as regions, each painted once.
__attribute__((noinline)) void ThinPolyline(const Dc& dc, const PlatPoint* pts, int32_t n, bool closed) {
  const pixman_region32_t* clip = dc.Clip();
  int64_t phase = 0;
  int32_t segments = closed ? n : n - 1;
  BoxList on, off;
  for (int32_t k = 0; k < segments; ++k) {
    PlatPoint a = pts[k], b = pts[(k + 1) % n];
    Segment(dc, clip, a, b, phase, &on, &off);
    phase += Steps(a, b);
  }
  uint8_t fn = Rop2Function(dc.rop2);
  // A solid copy within a clip of one rectangle: the boxes, already inside
  // it, are stored as they are (a pixel stored twice is stored once).
  if (off.boxes.empty() && fn == 0xF0 && pixman_region32_n_rects(const_cast<pixman_region32_t*>(clip)) == 1) {
    PlatSurface* s = dc.Surface();
    const Paint paint = SolidPaint(dc.pen->colour);
    if (s)
      for (const pixman_box32_t& b : on.boxes) FillBox(s, b, paint, fn);
    return;
  }
  // The union of the segments, each pixel painted once: a pixel both on and
  // in a gap is on.
  pixman_region32_t onArea, offArea;
  pixman_region32_init(&onArea);
  pixman_region32_init(&offArea);
  on.Into(&onArea);
  off.Into(&offArea);
  pixman_region32_subtract(&offArea, &offArea, &onArea);
  FillRegion(dc, &onArea, SolidPaint(dc.pen->colour), fn);
  FillRegion(dc, &offArea, SolidPaint(dc.back), fn);
  pixman_region32_fini(&onArea);
  pixman_region32_fini(&offArea);
}

inline void Polyline(const Dc& dc, const PlatPoint* pts, int32_t n, bool closed) {
  if (dc.pen->width >= 2 && dc.pen->style != kPlatPenNull) return WidePolyline(dc, pts, n, closed);
  // A single solid level or upright line, the commonest of all: its one box
  // painted where the clip keeps it, as ThinPolyline paints it.
  if (!closed && n == 2 && dc.pen->style != kPlatPenNull && kDashes[dc.pen->style].n == 0 &&
      StraightFits(pts[0], pts[1])) {
    FillClipped(dc, StraightBox(pts[0], pts[1]), dc.pen->colour, Rop2Function(dc.rop2));
    return;
  }
  ThinPolyline(dc, pts, n, closed);
}

struct Crossing {
  int64_t x;    // first pixel column whose centre is at or right of it
  int32_t dir;  // +1 downward edge, -1 upward
  bool operator<(const Crossing& o) const { return x < o.x; }
};

// An edge crossing the pixel rows [y, stop): on row y the first column whose
// centre lies at or right of it is ceil(N / D), N = (2y + 1 - 2y0) ddx +
// (2x0 - 1) ddy and D = 2 ddy made positive.  It is kept as q = floor(M / D)
// and r = M - q D for M = -N, so that the next row costs two additions: M
// moves by a constant step, split the same way.  Only the first row needs
// the wide division.
struct EdgeWalk {
  int64_t start, stop;
  int32_t dir;
  int64_t q, r, d, stepQ, stepR;

  EdgeWalk(PlatPoint p, PlatPoint e, int64_t y) {
    const int64_t x0 = p.x, y0 = p.y, ddx = int64_t(e.x) - p.x, ddy = int64_t(e.y) - p.y;
    dir = ddy > 0 ? 1 : -1;
    start = y;
    stop = std::max<int64_t>(p.y, e.y);
    Wide m = WideNeg(WideAdd(WideMul(2 * y + 1 - 2 * y0, ddx), WideMul(2 * x0 - 1, ddy)));
    int64_t step = -2 * ddx;
    d = 2 * ddy;
    if (d < 0) {
      m = WideNeg(m);
      step = -step;
      d = -d;
    }
    // The crossing lies within the edge's columns: the quotient is small
    // and the remainder below d.
    q = WideFloorDiv(m, d);
    r = int64_t(WideAdd(m, WideMul(-q, d)).lo);
    stepQ = step >= 0 ? step / d : -((-step + d - 1) / d);
    stepR = step - stepQ * d;
  }
  int64_t X() const { return -q; }
  void Step() {
    q += stepQ;
    r += stepR;
    if (r >= d) {
      r -= d;
      ++q;
    }
  }
};

// The inside of the polygon within the box as runs of pixels, row by row
// from the top, left to right: span(x0, y, x1).  Each row costs one step of
// each edge crossing it; with `work`, those rows are taken from it first,
// and false is answered (nothing walked) when it has not that many left.
template <class Span>
bool PolygonSpans(int32_t fillMode, const PlatPoint* pts, int32_t n, const pixman_box32_t& box, int64_t* work,
                  Span&& span) {
  int64_t rows = 0;
  for (int32_t k = 0; k < n; ++k) {
    const PlatPoint p = pts[k], q = pts[(k + 1) % n];
    rows += std::max<int64_t>(0, std::min<int64_t>(std::max(p.y, q.y), box.y2) -
                                     std::max<int64_t>(std::min(p.y, q.y), box.y1));
  }
  if (work) {
    if (rows > *work) return false;
    *work -= rows;
  }
  std::vector<EdgeWalk> edges;
  for (int32_t k = 0; k < n; ++k) {
    const PlatPoint p = pts[k], q = pts[(k + 1) % n];
    if (p.y == q.y) continue;
    const int64_t from = std::max<int64_t>(std::min(p.y, q.y), box.y1);
    if (from >= std::min<int64_t>(std::max(p.y, q.y), box.y2)) continue;
    edges.emplace_back(p, q, from);
  }
  std::sort(edges.begin(), edges.end(), [](const EdgeWalk& a, const EdgeWalk& b) { return a.start < b.start; });
  std::vector<EdgeWalk*> active;
  std::vector<Crossing> xs;
  size_t next = 0;
  for (int64_t y = box.y1; y < box.y2 && (next < edges.size() || !active.empty()); ++y) {
    if (active.empty() && edges[next].start > y) y = edges[next].start;
    while (next < edges.size() && edges[next].start == y) active.push_back(&edges[next++]);
    // The crossings of this row; edges that end here leave.  Rows change
    // little from one to the next: sorting by insertion is near linear.
    xs.resize(active.size());
    size_t kept = 0;
    for (size_t i = 0; i < active.size(); ++i) {
      EdgeWalk* e = active[i];
      if (e->stop <= y) continue;
      const Crossing c{e->X(), e->dir};
      size_t at = kept;
      for (; at > 0 && c.x < xs[at - 1].x; --at) xs[at] = xs[at - 1];
      xs[at] = c;
      e->Step();
      active[kept++] = e;
    }
    active.resize(kept);
    xs.resize(kept);
    int32_t wind = 0;
    for (size_t k = 0; k < xs.size(); ++k) {
      wind += fillMode == kPlatFillWinding ? xs[k].dir : 1;
      bool inside = fillMode == kPlatFillWinding ? wind != 0 : (wind & 1);
      if (!inside) continue;
      int64_t x0 = xs[k].x, x1 = k + 1 < xs.size() ? xs[k + 1].x : INT64_MAX;
      if (x0 < box.x1) x0 = box.x1;
      if (x1 > box.x2) x1 = box.x2;
      if (x0 < x1) span(int32_t(x0), int32_t(y), int32_t(x1));
    }
  }
  return true;
}

// The inside of the polygon within the clip box, as rows of spans.
void PolygonArea(int32_t fillMode, const PlatPoint* pts, int32_t n, const pixman_box32_t& box,
                 pixman_region32_t* out) {
  std::vector<pixman_box32_t> spans;
  PolygonSpans(fillMode, pts, n, box, nullptr,
               [&](int32_t x0, int32_t y, int32_t x1) { spans.push_back({x0, y, x1, y + 1}); });
  // The spans come row by row, left to right and apart: one region made of
  // them all at once (a union per span costs the region's size each time).
  pixman_region32_fini(out);
  if (spans.empty() || !pixman_region32_init_rects(out, spans.data(), int(spans.size()))) pixman_region32_init(out);
}

}  // namespace

bool qxdraw::PolygonFillBox(const PlatPoint* pts, int32_t n, int32_t fillMode, PlatRect* box, int64_t* work) {
  if (n < 2) return false;
  int64_t l = pts[0].x, t = pts[0].y, r = l, b = t;
  for (int32_t k = 1; k < n; ++k) {
    l = std::min<int64_t>(l, pts[k].x), r = std::max<int64_t>(r, pts[k].x);
    t = std::min<int64_t>(t, pts[k].y), b = std::max<int64_t>(b, pts[k].y);
  }
  // A pixel is filled when its centre is inside: columns l to r - 1, rows
  // t to b - 1 at most.
  if (r - l < 1 || b - t < 1) return false;
  int64_t own = int64_t(1) << 22;
  if (!work) work = &own;
  PlatRect found{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  const bool walked =
      PolygonSpans(fillMode, pts, n, pixman_box32_t{int32_t(l), int32_t(t), int32_t(r), int32_t(b)}, work,
                   [&](int32_t x0, int32_t y, int32_t x1) {
                     found.left = std::min(found.left, x0);
                     found.right = std::max(found.right, x1 - 1);
                     found.top = std::min(found.top, y);
                     found.bottom = std::max(found.bottom, y);
                   });
  if (!walked) {
    // Out of work for exact boxes: the box of the vertices holds the fill.
    *box = PlatRect{int32_t(l), int32_t(t), int32_t(r - 1), int32_t(b - 1)};
    return true;
  }
  if (found.right < found.left) return false;
  *box = found;
  return true;
}

bool PlatMoveTo(PlatObj dch, int32_t x, int32_t y, PlatPoint* old) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  if (old) *old = {dc->posX, dc->posY};
  dc->posX = x;
  dc->posY = y;
  dc->Trace("moveto %d,%d", x, y);
  return true;
}

namespace {

// Lines from the position to each of the n points in turn, as PlatLineTo
// draws them one by one.  Level and upright lines of a thin solid pen, the
// commonest of all, are painted as boxes found with the surface and clip
// looked up once.
void LinesTo(Dc& dc, const PlatPoint* to, int32_t n) {
  if (n <= 0) return;
  PlatPoint from{dc.posX, dc.posY};
  dc.posX = to[n - 1].x;
  dc.posY = to[n - 1].y;
  const Pen& pen = *dc.pen;
  const bool thinSolid = pen.width < 2 && pen.style != kPlatPenNull && kDashes[pen.style].n == 0;
  const SolidBoxes boxes(dc, pen.colour, thinSolid ? Rop2Function(dc.rop2) : 0);
  for (int32_t i = 0; i < n; ++i) {
    const PlatPoint next = to[i];
    dc.Trace("lineto %d,%d", next.x, next.y);
    if (thinSolid && StraightFits(from, next)) {
      boxes.Paint(StraightBox(from, next));
    } else {
      const PlatPoint pts[2] = {from, next};
      Polyline(dc, pts, 2, false);
    }
    from = next;
  }
}

}  // namespace

bool PlatLineTo(PlatObj dch, int32_t x, int32_t y) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  const PlatPoint to{x, y};
  LinesTo(*dc, &to, 1);
  return true;
}

bool PlatMoveLineTo(PlatObj dch, int32_t x, int32_t y, const PlatPoint* to, int32_t n) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  if (n < 0 || (n && !to)) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  dc->posX = x;
  dc->posY = y;
  dc->Trace("moveto %d,%d", x, y);
  LinesTo(*dc, to, n);
  return true;
}

bool PlatPolyline(PlatObj dch, const PlatPoint* points, int32_t n) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  if (!points || n < 2) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  TracePoints(*dc, "polyline", points, n);
  Polyline(*dc, points, n, false);
  return true;
}

bool PlatPolygon(PlatObj dch, const PlatPoint* points, int32_t n) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  if (!points || n < 2) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  TracePoints(*dc, "polygon", points, n);
  Paint paint;
  if (MakePaint(*dc, *dc->brush, &paint)) {
    auto* clip = const_cast<pixman_region32_t*>(dc->Clip());
    pixman_region32_t area;
    pixman_region32_init(&area);
    if (pixman_region32_not_empty(clip)) {
      PolygonArea(dc->fillMode, points, n, *pixman_region32_extents(clip), &area);
      FillRegion(*dc, &area, paint, Rop2Function(dc->rop2));
    }
    pixman_region32_fini(&area);
  }
  Polyline(*dc, points, n, true);
  return true;
}
