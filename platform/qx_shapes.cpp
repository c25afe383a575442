#include "platform/qx_shapes.h"

#include <algorithm>
#include <cmath>

#include "platform/qx_dc_internal.h"
#include "platform/qx_file.h"
#include "platform/qx_region_internal.h"
#include "platform/qx_shapes_internal.h"
#include "platform/qx_wide.h"

namespace qxdraw {

const Dashes kDashes[5] = {{0, {}, 0},
                           {2, {12, 4}, 16},
                           {2, {2, 2}, 4},
                           {4, {8, 4, 2, 4}, 18},
                           {6, {8, 2, 2, 2, 2, 2}, 18}};

void BoxList::Into(pixman_region32_t* r) const {
  pixman_region32_fini(r);
  pixman_region32_init_rects(r, boxes.data(), int(boxes.size()));
}

namespace {

constexpr int64_t kNear = int64_t(1) << 28;  // coordinates handled exactly
constexpr int32_t kMaxExtent = 65535;

bool WideLess(Wide a, Wide b) {
  if (a.hi != b.hi) return int64_t(a.hi) < int64_t(b.hi);
  return a.lo < b.lo;
}
bool WideLessEq(Wide a, Wide b) { return !WideLess(b, a); }

uint64_t Isqrt(uint64_t v) {
  uint64_t x = uint64_t(std::sqrt(double(v)));
  while (x > 0 && x * x > v) --x;
  while ((x + 1) * (x + 1) <= v) ++x;
  return x;
}

int64_t FloorHalf(int64_t v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); }
int64_t CeilHalf(int64_t v) { return -FloorHalf(-v); }

bool DashOnAt(const Dashes& d, double pos) {
  double at = std::fmod(pos, double(d.period));
  if (at < 0) at += d.period;
  for (int32_t k = 0; k < d.n; ++k) {
    if (at < d.len[k]) return k % 2 == 0;
    at -= d.len[k];
  }
  return false;
}

// One segment between doubled centre points c0 and c1, its dashes starting
// at phase (dash == null: solid, round caps).
struct Stroke {
  int64_t c0x, c0y, c1x, c1y;
  int64_t w;
  const Dashes* dash;
  double phase;

  bool Covers(int64_t X, int64_t Y) const {
    int64_t dx = c1x - c0x, dy = c1y - c0y;
    int64_t qx = X - c0x, qy = Y - c0y;
    int64_t len2 = dx * dx + dy * dy;
    int64_t dot = qx * dx + qy * dy;
    int64_t cross = dx * qy - dy * qx;
    Wide lim = WideMul(w * w, len2), c2 = WideMul(cross, cross);
    if (!dash) {
      if (len2 == 0 || dot <= 0) return qx * qx + qy * qy <= w * w;
      if (dot >= len2) {
        int64_t rx = X - c1x, ry = Y - c1y;
        return rx * rx + ry * ry <= w * w;
      }
      return WideLessEq(c2, lim);
    }
    if (len2 == 0 || dot < 0 || dot >= len2) return false;
    bool across = cross >= 0 ? WideLess(c2, lim) : WideLessEq(c2, lim);
    if (!across) return false;
    double t = double(dot) / (2.0 * std::sqrt(double(len2)));
    return DashOnAt(*dash, phase + t);
  }
};

// The pixels of a stroke within the box, row by row; per row only the
// columns near the centre line are tested.  With `work`, the pixels tested
// are counted against it; false once it runs out.
bool Rasterise(const Stroke& s, const pixman_box32_t& box, BoxList* out, int64_t* work) {
  int64_t ylo = std::max<int64_t>(box.y1, FloorHalf(std::min(s.c0y, s.c1y) - s.w - 1) - 1);
  int64_t yhi = std::min<int64_t>(box.y2 - 1, CeilHalf(std::max(s.c0y, s.c1y) + s.w + 1) + 1);
  double dx = double(s.c1x - s.c0x), dy = double(s.c1y - s.c0y);
  for (int64_t y = ylo; y <= yhi; ++y) {
    int64_t Y = 2 * y + 1;
    // Columns whose centre may lie within w of the centre line on this row.
    double lo, hi;
    if (dy == 0) {
      lo = double(std::min(s.c0x, s.c1x));
      hi = double(std::max(s.c0x, s.c1x));
    } else {
      double u0 = (double(Y - s.w) - double(s.c0y)) / dy, u1 = (double(Y + s.w) - double(s.c0y)) / dy;
      if (u0 > u1) std::swap(u0, u1);
      u0 = std::max(u0, 0.0);
      u1 = std::min(u1, 1.0);
      if (u0 > u1) {  // the row only meets a cap
        u0 = u1 = (Y < std::min(s.c0y, s.c1y)) == (s.c0y < s.c1y) ? 0.0 : 1.0;
      }
      double x0 = double(s.c0x) + u0 * dx, x1 = double(s.c0x) + u1 * dx;
      lo = std::min(x0, x1);
      hi = std::max(x0, x1);
    }
    int64_t xlo = std::max<int64_t>(box.x1, int64_t(std::floor((lo - double(s.w)) / 2)) - 2);
    int64_t xhi = std::min<int64_t>(box.x2 - 1, int64_t(std::ceil((hi + double(s.w)) / 2)) + 2);
    if (work && xhi >= xlo && (*work -= xhi - xlo + 1) < 0) return false;
    int64_t run = -1;
    for (int64_t x = xlo; x <= xhi + 1; ++x) {
      bool in = x <= xhi && s.Covers(2 * x + 1, Y);
      if (in && run < 0) run = x;
      if (!in && run >= 0) {
        out->Add(run, y, x);
        run = -1;
      }
    }
  }
  return true;
}

// Clips P0 -> P1 (as reals) to the box; false when they do not meet.  *skip
// is the length cut off before the clipped start.
bool ClipFar(PlatPoint* p0, PlatPoint* p1, const pixman_box32_t& box, double* skip) {
  double x0 = p0->x, y0 = p0->y, dx = double(p1->x) - x0, dy = double(p1->y) - y0;
  double u0 = 0, u1 = 1;
  auto edge = [&](double p, double q) {
    if (p == 0) return q >= 0;
    double u = q / p;
    if (p < 0) u0 = std::max(u0, u);
    else u1 = std::min(u1, u);
    return u0 <= u1;
  };
  if (!edge(-dx, x0 - box.x1) || !edge(dx, box.x2 - x0) || !edge(-dy, y0 - box.y1) ||
      !edge(dy, box.y2 - y0))
    return false;
  *skip = u0 * std::hypot(dx, dy);
  *p0 = {int32_t(std::lround(x0 + u0 * dx)), int32_t(std::lround(y0 + u0 * dy))};
  *p1 = {int32_t(std::lround(x0 + u1 * dx)), int32_t(std::lround(y0 + u1 * dy))};
  return true;
}

bool Far(PlatPoint p) { return p.x > kNear || p.x < -kNear || p.y > kNear || p.y < -kNear; }

}  // namespace

namespace {

// The boxes of a wide stroke within box; false when `work` ran out.
bool WideBoxes(const PlatPoint* pts, int32_t n, bool closed, int64_t w, int32_t style, const pixman_box32_t& box,
               BoxList* boxes, int64_t* work = nullptr) {
  const Dashes* dash = style >= kPlatPenDash && style <= kPlatPenDashDotDot ? &kDashes[style] : nullptr;
  int64_t odd = w & 1;
  double phase = 0;
  int32_t segments = closed ? n : n - 1;
  for (int32_t k = 0; k < segments; ++k) {
    PlatPoint a = pts[k], b = pts[(k + 1) % n];
    double length = std::hypot(double(b.x) - a.x, double(b.y) - a.y), skip = 0;
    bool visible = true;
    if (Far(a) || Far(b)) {
      int32_t m = int32_t(w) + 4;
      pixman_box32_t grown{box.x1 - m, box.y1 - m, box.x2 + m, box.y2 + m};
      visible = ClipFar(&a, &b, grown, &skip);
    }
    if (visible) {
      Stroke s{2 * int64_t(a.x) + odd, 2 * int64_t(a.y) + odd, 2 * int64_t(b.x) + odd,
               2 * int64_t(b.y) + odd, w, dash, phase + skip};
      if (!Rasterise(s, box, boxes, work)) return false;
    }
    phase += length;
  }
  return true;
}

// Figures and strokes whose box holds more pixels than this get the box of
// their geometry instead of the box of their pixels.
constexpr int64_t kBoxPixels = int64_t(1) << 22;

bool Extents(const BoxList& list, PlatRect* out) {
  if (list.boxes.empty()) return false;
  PlatRect r{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (const pixman_box32_t& b : list.boxes) {
    r.left = std::min(r.left, b.x1);
    r.top = std::min(r.top, b.y1);
    r.right = std::max(r.right, b.x2 - 1);
    r.bottom = std::max(r.bottom, b.y2 - 1);
  }
  *out = r;
  return true;
}

}  // namespace

void WidePolyline(const Dc& dc, const PlatPoint* pts, int32_t n, bool closed) {
  PlatSurface* surface = dc.Surface();
  int64_t w = dc.pen->width;
  if (!surface || w > kMaxExtent) return;
  pixman_region32_t clip, area;
  pixman_region32_init(&clip);
  pixman_region32_init(&area);
  dc.EffectiveClip(&clip);
  if (pixman_region32_not_empty(&clip)) {
    BoxList boxes;
    WideBoxes(pts, n, closed, w, dc.pen->style, *pixman_region32_extents(&clip), &boxes);
    boxes.Into(&area);
    FillRegion(dc, &area, SolidPaint(dc.pen->colour), Rop2Function(dc.rop2));
  }
  pixman_region32_fini(&clip);
  pixman_region32_fini(&area);
}

bool WidePolylineBox(const PlatPoint* pts, int32_t n, bool closed, int32_t width, int32_t style, PlatRect* out,
                     int64_t* work) {
  if (n < 1 || width < 2 || width > kMaxExtent) return false;
  int64_t l = pts[0].x, t = pts[0].y, r = l, b = t;
  for (int32_t k = 1; k < n; ++k) {
    l = std::min<int64_t>(l, pts[k].x), r = std::max<int64_t>(r, pts[k].x);
    t = std::min<int64_t>(t, pts[k].y), b = std::max<int64_t>(b, pts[k].y);
  }
  constexpr int64_t kLimit = int64_t(1) << 30;
  int64_t g = width / 2 + 2;
  pixman_box32_t box{int32_t(std::max(l - g, -kLimit)), int32_t(std::max(t - g, -kLimit)),
                     int32_t(std::min(r + g + 1, kLimit)), int32_t(std::min(b + g + 1, kLimit))};
  if (box.x1 >= box.x2 || box.y1 >= box.y2) return false;
  if (int64_t(box.x2 - box.x1) * (box.y2 - box.y1) > kBoxPixels) {
    *out = PlatRect{box.x1, box.y1, box.x2 - 1, box.y2 - 1};
    return true;
  }
  BoxList boxes;
  if (!WideBoxes(pts, n, closed, width, style, box, &boxes, work)) {
    *out = PlatRect{box.x1, box.y1, box.x2 - 1, box.y2 - 1};
    return true;
  }
  return Extents(boxes, out);
}

namespace {

// A rounded rectangle in doubled coordinates: centres strictly inside
// (L, R) x (T, B) and, in the corner zones, strictly inside the corner
// ellipses of semi-axes (rx, ry).  An ellipse is the case rx = (R - L) / 2,
// ry = (B - T) / 2.
struct Round {
  int64_t L, R, T, B, rx, ry;
  bool empty;

  // Pixel columns [*x0, *x1) of row y.
  bool Row(int64_t y, int64_t* x0, int64_t* x1) const {
    int64_t Y = 2 * y + 1;
    if (empty || Y <= T || Y >= B) return false;
    int64_t lo, hi;  // doubled centres lo <= X <= hi
    if (rx <= 0 || ry <= 0 || (Y >= T + ry && Y <= B - ry)) {
      lo = L + 1;
      hi = R - 1;
    } else {
      int64_t cy = Y < T + ry ? T + ry : B - ry, dy = Y - cy;
      // X^2 ry^2 < rx^2 (ry^2 - dy^2)
      Wide rest = WideMul(rx * rx, ry * ry - dy * dy);
      int64_t m = WideFloorDiv(WideAdd(rest, WideOf(-1)), ry * ry);
      if (m < 0) return false;
      int64_t xm = int64_t(Isqrt(uint64_t(m)));
      lo = L + rx - xm;
      hi = R - rx + xm;
    }
    *x0 = CeilHalf(lo - 1);
    *x1 = FloorHalf(hi - 1) + 1;
    return *x0 < *x1;
  }
};

// The figure grown (grow > 0) or shrunk by grow/2 pixels: sides moved and
// corner semi-axes changed by that much.  cw, ch: the doubled corner
// semi-axes of the figure itself.
Round Moved(int64_t l, int64_t t, int64_t r, int64_t b, int64_t cw, int64_t ch, int64_t grow) {
  Round f;
  f.L = 2 * l - grow;
  f.R = 2 * (r - 1) + grow;
  f.T = 2 * t - grow;
  f.B = 2 * (b - 1) + grow;
  f.rx = cw + grow;
  f.ry = ch + grow;
  bool ellipse = cw == r - 1 - l && ch == b - 1 - t;
  f.empty = f.R <= f.L || f.B <= f.T || (ellipse && (f.rx <= 0 || f.ry <= 0));
  if (f.rx < 0) f.rx = 0;
  if (f.ry < 0) f.ry = 0;
  return f;
}

// The arc's sweep in doubled coordinates around C.
struct Sweep {
  int64_t cx, cy;   // C, doubled
  int64_t sx, sy;   // ray vectors, screen axes (y down)
  int64_t ex, ey;
  bool whole;
  bool within = false;  // every ray component below 2^31: the tests fit 64 bits
  bool convex = false;  // the sweep is below 180 degrees

  static bool Small(int64_t v) { return v > -(int64_t(1) << 31) && v < (int64_t(1) << 31); }

  // Counter-clockwise on screen is clockwise in the y-down axes: the
  // screen's cross product of u then v is positive for a clockwise turn.
  static Wide Cross(int64_t ux, int64_t uy, int64_t vx, int64_t vy) {
    return WideAdd(WideMul(ux, vy), WideNeg(WideMul(uy, vx)));
  }
  bool Holds(int64_t X, int64_t Y) const {
    if (whole) return true;
    int64_t px = X - cx, py = Y - cy;
    if (px == 0 && py == 0) return true;
    if (within && Small(px) && Small(py)) {
      // The pixel tests of a sweep, each product below 2^62.  ep and ps
      // are pe and sp negated.
      const int64_t sp = sx * py - sy * px, pe = px * ey - py * ex;
      return convex ? sp <= 0 && pe <= 0 : !(pe > 0 && sp > 0);
    }
    Wide zero = WideOf(0);
    // ccw(u, v): v lies counter-clockwise of u on screen (<= 180 degrees).
    Wide se = Cross(sx, sy, ex, ey), sp = Cross(sx, sy, px, py), pe = Cross(px, py, ex, ey);
    if (WideLess(se, zero)) return WideLessEq(sp, zero) && WideLessEq(pe, zero);
    // A sweep of 180 degrees or more: outside is strictly within e -> s.
    Wide ep = Cross(ex, ey, px, py), ps = Cross(px, py, sx, sy);
    return !(WideLess(ep, zero) && WideLess(ps, zero));
  }
};

Sweep MakeSweep(int64_t cx, int64_t cy, int32_t sx, int32_t sy, int32_t ex, int32_t ey) {
  Sweep w{cx, cy, 2 * int64_t(sx) + 1 - cx, 2 * int64_t(sy) + 1 - cy,
          2 * int64_t(ex) + 1 - cx, 2 * int64_t(ey) + 1 - cy, false};
  Wide se = Sweep::Cross(w.sx, w.sy, w.ex, w.ey);
  bool zero = se.hi == 0 && se.lo == 0;
  bool sameWay = zero && WideLess(WideOf(0), WideAdd(WideMul(w.sx, w.ex), WideMul(w.sy, w.ey)));
  w.whole = sameWay || (w.sx == 0 && w.sy == 0) || (w.ex == 0 && w.ey == 0);
  w.within = Sweep::Small(w.sx) && Sweep::Small(w.sy) && Sweep::Small(w.ex) && Sweep::Small(w.ey);
  w.convex = WideLess(se, WideOf(0));
  return w;
}

enum class Kind { kEllipse, kRoundRect, kArc, kPie };  // the kinds FigureBox takes, in order

void Erode4(const pixman_region32_t* f, pixman_region32_t* out) {
  pixman_region32_t moved;
  pixman_region32_init(&moved);
  pixman_region32_copy(out, const_cast<pixman_region32_t*>(f));
  const int32_t steps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
  for (const auto& s : steps) {
    pixman_region32_copy(&moved, const_cast<pixman_region32_t*>(f));
    pixman_region32_translate(&moved, s[0], s[1]);
    pixman_region32_intersect(out, out, &moved);
  }
  pixman_region32_fini(&moved);
}

// Keeps the pixels of the region whose centre lies in the sweep.
void KeepSweep(pixman_region32_t* r, const Sweep& sw) {
  if (sw.whole) return;
  BoxList kept;
  int n = 0;
  const pixman_box32_t* b = pixman_region32_rectangles(r, &n);
  for (int i = 0; i < n; ++i)
    for (int64_t y = b[i].y1; y < b[i].y2; ++y) {
      int64_t run = -1;
      for (int64_t x = b[i].x1; x <= b[i].x2; ++x) {
        bool in = x < b[i].x2 && sw.Holds(2 * x + 1, 2 * y + 1);
        if (in && run < 0) run = x;
        if (!in && run >= 0) {
          kept.Add(run, y, x);
          run = -1;
        }
      }
    }
  kept.Into(r);
}

// The cosmetic line's pixels from a to b, b included (the line rule of
// PlatLineTo, then its end).
void RadiusPixels(PlatPoint a, PlatPoint b, BoxList* out) {
  int64_t dx = int64_t(b.x) - a.x, dy = int64_t(b.y) - a.y;
  int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy, n = std::max(adx, ady);
  bool xMajor = adx >= ady;
  int64_t m = xMajor ? ady : adx;
  for (int64_t i = 0; i < n; ++i) {
    int64_t off = (2 * i * m + n) / (2 * n);
    int64_t major = i, minor = off;
    int64_t x = a.x + (xMajor ? (dx < 0 ? -major : major) : (dx < 0 ? -minor : minor));
    int64_t y = a.y + (xMajor ? (dy < 0 ? -minor : minor) : (dy < 0 ? -major : major));
    out->Add(x, y, x + 1);
  }
  out->Add(b.x, b.y, int64_t(b.x) + 1);
}

// The outline pixel in the sweep whose centre lies nearest the ray (ties:
// farther from C); false if the outline has none on the ray's side.  Rows
// are searched only in a band around the ray, widened until the nearest
// pixel found lies inside the band, so a whole figure's outline costs about
// its length.
bool NearestOnRay(const pixman_region32_t* outline, const Sweep& sw, int64_t rx, int64_t ry,
                  PlatPoint* at) {
  int n = 0;
  const pixman_box32_t* b = pixman_region32_rectangles(const_cast<pixman_region32_t*>(outline), &n);
  if (n == 0) return false;
  const pixman_box32_t& ext = *pixman_region32_extents(const_cast<pixman_region32_t*>(outline));
  const double len = std::hypot(double(rx), double(ry));
  // A band this wide (doubled units) holds the whole outline.
  const double all = 4.0 * (double(ext.x2) - ext.x1 + double(ext.y2) - ext.y1) + 8.0 +
                     std::fabs(double(sw.cx) - 2.0 * ext.x1) + std::fabs(double(sw.cy) - 2.0 * ext.y1);
  for (double band = 4.0;; band *= 8.0) {
    const double k = band * len;  // |cross| <= k within the band
    bool found = false;
    int64_t bestCross = 0, bestFar = 0;
    for (int i = 0; i < n; ++i)
      for (int64_t y = b[i].y1; y < b[i].y2; ++y) {
        const int64_t py = 2 * y + 1 - sw.cy;
        int64_t x0 = b[i].x1, x1 = b[i].x2;
        if (ry == 0) {
          if (std::fabs(double(rx) * double(py)) > k + len) continue;
        } else {
          // rx py - ry px within [-k, k]: px between the two ends, one pixel spare.
          double a = (double(rx) * double(py) - k) / double(ry), c = (double(rx) * double(py) + k) / double(ry);
          if (a > c) std::swap(a, c);
          x0 = std::max<int64_t>(x0, int64_t(std::floor((a + double(sw.cx) - 1) / 2)) - 1);
          x1 = std::min<int64_t>(x1, int64_t(std::ceil((c + double(sw.cx) - 1) / 2)) + 2);
        }
        for (int64_t x = x0; x < x1; ++x) {
          const int64_t px = 2 * x + 1 - sw.cx;
          Wide dot = WideAdd(WideMul(px, rx), WideMul(py, ry));
          if (WideLess(dot, WideOf(0)) || !sw.Holds(2 * x + 1, 2 * y + 1)) continue;
          Wide c = Sweep::Cross(rx, ry, px, py);
          if (int64_t(c.hi) < 0) c = WideNeg(c);
          // |cross| / |r| is the distance; r is shared, so |cross| compares.
          // It fits 64 bits: |p| < 2^19 and |r| < 2^34.
          int64_t cr = int64_t(c.lo), far = px * px + py * py;
          if (!found || cr < bestCross || (cr == bestCross && far > bestFar)) {
            found = true;
            bestCross = cr;
            bestFar = far;
            *at = {int32_t(x), int32_t(y)};
          }
        }
      }
    if (found && double(bestCross) <= k) return true;
    if (band > all) return found;
  }
}

struct Shape {
  Kind kind;
  int32_t l, t, r, b, ew, eh, sx, sy, ex, ey;
  int64_t width;  // the pen's
  bool penOn;
};

// The outline and the inside of the whole figure (no sweep), limited to box.
void SplitFigure(const Shape& s, const pixman_box32_t& box, pixman_region32_t* outline, pixman_region32_t* inside) {
  bool curve = s.kind != Kind::kRoundRect;
  int64_t cw = curve ? int64_t(s.r) - 1 - s.l : std::clamp<int64_t>(s.ew, 0, int64_t(s.r) - 1 - s.l);
  int64_t ch = curve ? int64_t(s.b) - 1 - s.t : std::clamp<int64_t>(s.eh, 0, int64_t(s.b) - 1 - s.t);
  if (s.width >= 2 && s.penOn) {
    int64_t w = s.width;
    Round outer = Moved(s.l, s.t, s.r, s.b, cw, ch, w), inner = Moved(s.l, s.t, s.r, s.b, cw, ch, -w);
    BoxList ring, fill;
    int64_t y0 = std::max<int64_t>(box.y1, FloorHalf(outer.T)), y1 = std::min<int64_t>(box.y2, CeilHalf(outer.B) + 1);
    for (int64_t y = y0; y < y1; ++y) {
      int64_t ox0, ox1, ix0, ix1;
      if (!outer.Row(y, &ox0, &ox1)) continue;
      ox0 = std::max<int64_t>(ox0, box.x1);
      ox1 = std::min<int64_t>(ox1, box.x2);
      if (inner.Row(y, &ix0, &ix1)) {
        ix0 = std::max(ix0, ox0);
        ix1 = std::min(ix1, ox1);
        ring.Add(ox0, y, std::min(ix0, ox1));
        ring.Add(std::max(ix1, ox0), y, ox1);
        fill.Add(ix0, y, ix1);
      } else {
        ring.Add(ox0, y, ox1);
      }
    }
    ring.Into(outline);
    fill.Into(inside);
    return;
  }
  pixman_region32_t f;
  pixman_region32_init(&f);
  if (s.kind == Kind::kRoundRect) SetRoundRect(&f, s.l, s.t, s.r, s.b, s.ew, s.eh);
  else SetEllipse(&f, s.l, s.t, s.r, s.b);
  if (s.penOn) {
    Erode4(&f, inside);
    pixman_region32_subtract(outline, &f, inside);
  } else {
    pixman_region32_copy(inside, &f);
    SetRect(outline, 0, 0, 0, 0);
  }
  pixman_region32_fini(&f);
  pixman_region32_intersect_rect(outline, outline, box.x1, box.y1, uint32_t(box.x2 - box.x1),
                                 uint32_t(box.y2 - box.y1));
  pixman_region32_intersect_rect(inside, inside, box.x1, box.y1, uint32_t(box.x2 - box.x1),
                                 uint32_t(box.y2 - box.y1));
}

// A box beyond every pixel of the figure.
pixman_box32_t WholeBox(const Shape& s) {
  static constexpr int64_t kLimit = int64_t(1) << 30;
  int64_t g = s.penOn ? s.width + 2 : 2;
  auto c = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, -kLimit, kLimit)); };
  return pixman_box32_t{c(int64_t(s.l) - g), c(int64_t(s.t) - g), c(int64_t(s.r) + g), c(int64_t(s.b) + g)};
}

// The pixels the figure paints within box: the outline (with a pie's radii)
// and the inside, which excludes the outline.  The radii ends are chosen
// from the whole figure, so a clip never moves them.
void Regions(const Shape& s, const pixman_box32_t& box, pixman_region32_t* outline, pixman_region32_t* inside) {
  SplitFigure(s, box, outline, inside);
  if (s.kind == Kind::kArc || s.kind == Kind::kPie) {
    Sweep sw = MakeSweep(int64_t(s.l) + s.r - 1, int64_t(s.t) + s.b - 1, s.sx, s.sy, s.ex, s.ey);
    KeepSweep(outline, sw);
    if (s.kind == Kind::kArc) {
      SetRect(inside, 0, 0, 0, 0);
    } else {
      KeepSweep(inside, sw);
      if (s.penOn) {
        pixman_region32_t whole, rest, lines;
        pixman_region32_init(&whole);
        pixman_region32_init(&rest);
        pixman_region32_init(&lines);
        SplitFigure(s, WholeBox(s), &whole, &rest);
        // Two cosmetic radii from the pixel at C.
        PlatPoint centre{int32_t(FloorHalf(sw.cx)), int32_t(FloorHalf(sw.cy))}, end;
        BoxList radii;
        if (NearestOnRay(&whole, sw, sw.sx, sw.sy, &end)) RadiusPixels(centre, end, &radii);
        if (NearestOnRay(&whole, sw, sw.ex, sw.ey, &end)) RadiusPixels(centre, end, &radii);
        radii.Into(&lines);
        pixman_region32_union(outline, outline, &lines);
        pixman_region32_fini(&whole);
        pixman_region32_fini(&rest);
        pixman_region32_fini(&lines);
      }
    }
  }
  pixman_region32_subtract(inside, inside, outline);  // each pixel once
}

bool Figure(PlatObj dch, Kind kind, int32_t l, int32_t t, int32_t r, int32_t b, int32_t ew, int32_t eh,
            int32_t sx, int32_t sy, int32_t ex, int32_t ey) {
  auto dc = GetDc(dch);
  if (!dc) return false;
  if (kind == Kind::kEllipse) dc->Trace("ellipse %d,%d,%d,%d", l, t, r, b);
  if (kind == Kind::kRoundRect) dc->Trace("roundrect %d,%d,%d,%d %d,%d", l, t, r, b, ew, eh);
  if (kind == Kind::kArc || kind == Kind::kPie)
    dc->Trace("%s %d,%d,%d,%d %d,%d %d,%d", kind == Kind::kArc ? "arc" : "pie", l, t, r, b, sx, sy, ex, ey);
  const Pen& pen = *dc->pen;
  if ((r > l && int64_t(r) - l > kMaxExtent) || (b > t && int64_t(b) - t > kMaxExtent) ||
      (pen.width > kMaxExtent && pen.style != kPlatPenNull)) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  PlatSurface* surface = dc->Surface();
  if (r <= l || b <= t || !surface) return true;
  pixman_region32_t clip, outline, inside;
  pixman_region32_init(&clip);
  pixman_region32_init(&outline);
  pixman_region32_init(&inside);
  dc->EffectiveClip(&clip);
  bool penOn = pen.style != kPlatPenNull;
  Shape s{kind, l, t, r, b, ew, eh, sx, sy, ex, ey, pen.width, penOn};
  Regions(s, *pixman_region32_extents(&clip), &outline, &inside);
  pixman_region32_intersect(&outline, &outline, &clip);
  pixman_region32_intersect(&inside, &inside, &clip);
  if (kind != Kind::kArc) {
    Paint paint;
    if (MakePaint(*dc, *dc->brush, &paint)) FillRegion(*dc, &inside, paint, Rop2Function(dc->rop2));
  }
  if (penOn) FillRegion(*dc, &outline, SolidPaint(pen.colour), Rop2Function(dc->rop2));
  pixman_region32_fini(&clip);
  pixman_region32_fini(&outline);
  pixman_region32_fini(&inside);
  return true;
}

}  // namespace

bool FigureBox(int32_t kind, int32_t l, int32_t t, int32_t r, int32_t b, int32_t ew, int32_t eh, int32_t sx,
               int32_t sy, int32_t ex, int32_t ey, int32_t penWidth, bool penOn, bool brushOn, PlatRect* out) {
  if (r <= l || b <= t || int64_t(r) - l > kMaxExtent || int64_t(b) - t > kMaxExtent ||
      (penOn && penWidth > kMaxExtent) || kind < 0 || kind > 3)
    return false;
  Shape s{Kind(kind), l, t, r, b, ew, eh, sx, sy, ex, ey, penWidth, penOn};
  pixman_box32_t box = WholeBox(s);
  if (int64_t(box.x2 - box.x1) * (box.y2 - box.y1) > kBoxPixels &&
      (s.kind == Kind::kArc || s.kind == Kind::kPie)) {
    // Too many pixels to test each against the sweep: the whole figure's box.
    s.kind = Kind::kEllipse;
  }
  pixman_region32_t outline, inside;
  pixman_region32_init(&outline);
  pixman_region32_init(&inside);
  Regions(s, box, &outline, &inside);
  if (!brushOn || s.kind == Kind::kArc) SetRect(&inside, 0, 0, 0, 0);
  pixman_region32_union(&outline, &outline, &inside);
  bool any = pixman_region32_not_empty(&outline);
  if (any) {
    const pixman_box32_t& e = *pixman_region32_extents(&outline);
    *out = PlatRect{e.x1, e.y1, e.x2 - 1, e.y2 - 1};
  }
  pixman_region32_fini(&outline);
  pixman_region32_fini(&inside);
  return any;
}

}  // namespace qxdraw

using namespace qxdraw;

bool PlatEllipse(PlatObj dc, int32_t l, int32_t t, int32_t r, int32_t b) {
  return Figure(dc, Kind::kEllipse, l, t, r, b, 0, 0, 0, 0, 0, 0);
}

bool PlatRoundRect(PlatObj dc, int32_t l, int32_t t, int32_t r, int32_t b, int32_t ew, int32_t eh) {
  return Figure(dc, Kind::kRoundRect, l, t, r, b, ew, eh, 0, 0, 0, 0);
}

bool PlatArc(PlatObj dc, int32_t l, int32_t t, int32_t r, int32_t b, int32_t sx, int32_t sy,
             int32_t ex, int32_t ey) {
  return Figure(dc, Kind::kArc, l, t, r, b, 0, 0, sx, sy, ex, ey);
}

bool PlatPie(PlatObj dc, int32_t l, int32_t t, int32_t r, int32_t b, int32_t sx, int32_t sy,
             int32_t ex, int32_t ey) {
  return Figure(dc, Kind::kPie, l, t, r, b, 0, 0, sx, sy, ex, ey);
}
