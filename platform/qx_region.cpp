#include "platform/qx_region.h"

#include <algorithm>
#include <vector>

#include "platform/qx_drawobj_internal.h"
#include "platform/qx_file.h"
#include "platform/qx_region_internal.h"

namespace qxdraw {

int32_t RegionKind(const pixman_region32_t* r) {
  int n = pixman_region32_n_rects(const_cast<pixman_region32_t*>(r));
  return n == 0 ? kPlatRgnEmpty : n == 1 ? kPlatRgnSimple : kPlatRgnComplex;
}

namespace {

uint64_t Isqrt(uint64_t v) {
  uint64_t x = uint64_t(__builtin_sqrt(double(v)));
  while (x * x > v) --x;
  while ((x + 1) * (x + 1) <= v) ++x;
  return x;
}

// Columns [*x0, *x1) of row y of the ellipse of (l, t, r, b); false when the
// row has none.  Extents are at most 65,535, so the products fit in 64 bits.
bool EllipseRow(int64_t l, int64_t t, int64_t r, int64_t b, int64_t y, int64_t* x0, int64_t* x1) {
  uint64_t w = uint64_t(r - l), h = uint64_t(b - t);
  int64_t v = 2 * y + 1 - t - b;
  uint64_t a = uint64_t(v < 0 ? -v : v);
  uint64_t whole = w * w * h * h;
  uint64_t used = a * a * w * w;
  if (used > whole) return false;
  uint64_t umax = Isqrt((whole - used) / (h * h));
  // |2x + 1 - l - r| <= umax
  int64_t lo = l + r - 1 - int64_t(umax), hi = l + r - 1 + int64_t(umax);
  int64_t first = (lo >= 0) ? (lo + 1) / 2 : -((-lo) / 2);  // ceil(lo / 2)
  int64_t last = (hi >= 0) ? hi / 2 : -((-hi + 1) / 2);      // floor(hi / 2)
  if (first < l) first = l;
  if (last > r - 1) last = r - 1;
  if (first > last) return false;
  *x0 = first;
  *x1 = last + 1;
  return true;
}

bool ShapeArgsOk(int32_t l, int32_t t, int32_t r, int32_t b) {
  if (r > l && b > t && (int64_t(r) - l > 65535 || int64_t(b) - t > 65535)) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  return true;
}

// Rows of equal spans become one rectangle.
struct RowBuilder {
  std::vector<pixman_box32_t> boxes;
  void Add(int64_t y, int64_t x0, int64_t x1) {
    if (!boxes.empty()) {
      pixman_box32_t& last = boxes.back();
      if (last.y2 == y && last.x1 == x0 && last.x2 == x1) {
        last.y2 = int32_t(y + 1);
        return;
      }
    }
    boxes.push_back({int32_t(x0), int32_t(y), int32_t(x1), int32_t(y + 1)});
  }
  void Into(pixman_region32_t* r) {
    pixman_region32_fini(r);
    pixman_region32_init_rects(r, boxes.data(), int(boxes.size()));
  }
};

std::shared_ptr<Region> NewRegion() { return std::make_shared<Region>(); }

}  // namespace

void SetRect(pixman_region32_t* r, int32_t l, int32_t t, int32_t rr, int32_t b) {
  pixman_region32_fini(r);
  if (rr > l && b > t) {
    pixman_box32_t box{l, t, rr, b};
    pixman_region32_init_with_extents(r, &box);
  } else {
    pixman_region32_init(r);
  }
}

void SetEllipse(pixman_region32_t* out, int32_t l, int32_t t, int32_t r, int32_t b) {
  RowBuilder rows;
  for (int64_t y = t; y < b; ++y) {
    int64_t x0, x1;
    if (EllipseRow(l, t, r, b, y, &x0, &x1)) rows.Add(y, x0, x1);
  }
  rows.Into(out);
}

void SetRoundRect(pixman_region32_t* out, int32_t l, int32_t t, int32_t r, int32_t b, int32_t ew,
                  int32_t eh) {
  int64_t w = int64_t(r) - l, h = int64_t(b) - t;
  int64_t cw = std::clamp<int64_t>(ew, 0, w), ch = std::clamp<int64_t>(eh, 0, h);
  if (cw == 0 || ch == 0) {
    SetRect(out, l, t, r, b);
    return;
  }
  RowBuilder rows;
  for (int64_t y = t; y < b; ++y) {
    int64_t x0 = l, x1 = r;
    bool top = y < t + ch / 2, bottom = y >= b - ch / 2;
    if (top || bottom) {
      int64_t et = top ? t : b - ch;  // the corner ellipses' box of this row
      int64_t e0, e1;
      x0 = EllipseRow(l, et, l + cw, et + ch, y, &e0, &e1) ? e0 : l + cw / 2;
      x1 = EllipseRow(r - cw, et, r, et + ch, y, &e0, &e1) ? e1 : r - cw / 2;
    }
    if (x0 < x1) rows.Add(y, x0, x1);
  }
  rows.Into(out);
}

}  // namespace qxdraw

using namespace qxdraw;

PlatObj PlatCreateRectRgn(int32_t l, int32_t t, int32_t r, int32_t b) {
  auto g = NewRegion();
  SetRect(&g->r, l, t, r, b);
  return Register(g);
}

PlatObj PlatCreateEllipticRgn(int32_t l, int32_t t, int32_t r, int32_t b) {
  if (!ShapeArgsOk(l, t, r, b)) return 0;
  auto g = NewRegion();
  if (r > l && b > t) SetEllipse(&g->r, l, t, r, b);
  return Register(g);
}

PlatObj PlatCreateRoundRectRgn(int32_t l, int32_t t, int32_t r, int32_t b, int32_t ew,
                               int32_t eh) {
  if (!ShapeArgsOk(l, t, r, b)) return 0;
  auto g = NewRegion();
  if (r > l && b > t) SetRoundRect(&g->r, l, t, r, b, ew, eh);
  return Register(g);
}

bool PlatSetRectRgn(PlatObj rgn, int32_t l, int32_t t, int32_t r, int32_t b) {
  Region* const g = LookupHeldRegion(rgn);
  if (!g) return false;
  SetRect(&g->r, l, t, r, b);
  return true;
}

bool PlatSetEmptyRgn(PlatObj rgn) { return PlatSetRectRgn(rgn, 0, 0, 0, 0); }

int32_t PlatCombineRgn(PlatObj dst, PlatObj a, PlatObj b, int32_t op) {
  auto d = Get<Region>(dst, kPlatObjRegion);
  auto ra = Get<Region>(a, kPlatObjRegion);
  if (!d || !ra) return kPlatRgnError;
  std::shared_ptr<Region> rb;
  if (op != kPlatRgnCopy) {
    rb = Get<Region>(b, kPlatObjRegion);
    if (!rb) return kPlatRgnError;
  }
  pixman_region32_t result;
  pixman_region32_init(&result);
  bool ok = true;
  switch (op) {
    case kPlatRgnAnd: ok = pixman_region32_intersect(&result, &ra->r, &rb->r); break;
    case kPlatRgnCopy: ok = pixman_region32_copy(&result, &ra->r); break;
    case kPlatRgnDiff: ok = pixman_region32_subtract(&result, &ra->r, &rb->r); break;
    case kPlatRgnOr: ok = pixman_region32_union(&result, &ra->r, &rb->r); break;
    case kPlatRgnXor: {
      pixman_region32_t both;
      pixman_region32_init(&both);
      ok = pixman_region32_union(&result, &ra->r, &rb->r) &&
           pixman_region32_intersect(&both, &ra->r, &rb->r) &&
           pixman_region32_subtract(&result, &result, &both);
      pixman_region32_fini(&both);
      break;
    }
    default:
      pixman_region32_fini(&result);
      PlatSetLastError(kPlatErrInvalidParam);
      return kPlatRgnError;
  }
  if (!ok) {
    pixman_region32_fini(&result);
    PlatSetLastError(kPlatErrNoMemory);
    return kPlatRgnError;
  }
  pixman_region32_fini(&d->r);
  d->r = result;  // pixman regions move by plain copy of the record
  return RegionKind(&d->r);
}

int32_t PlatOffsetRgn(PlatObj rgn, int32_t dx, int32_t dy) {
  auto g = Get<Region>(rgn, kPlatObjRegion);
  if (!g) return kPlatRgnError;
  if (!OffsetFits(&g->r, dx, dy)) {
    PlatSetLastError(kPlatErrInvalidParam);
    return kPlatRgnError;
  }
  pixman_region32_translate(&g->r, dx, dy);
  return RegionKind(&g->r);
}

bool PlatPtInRegion(PlatObj rgn, int32_t x, int32_t y) {
  auto g = Get<Region>(rgn, kPlatObjRegion);
  return g && pixman_region32_contains_point(&g->r, x, y, nullptr);
}

bool PlatRectInRegion(PlatObj rgn, const PlatRect& rect) {
  auto g = Get<Region>(rgn, kPlatObjRegion);
  if (!g || rect.right <= rect.left || rect.bottom <= rect.top) return false;
  pixman_box32_t box{rect.left, rect.top, rect.right, rect.bottom};
  return pixman_region32_contains_rectangle(&g->r, &box) != PIXMAN_REGION_OUT;
}

int32_t PlatGetRgnBox(PlatObj rgn, PlatRect* box) {
  auto g = Get<Region>(rgn, kPlatObjRegion);
  if (!g) return kPlatRgnError;
  int32_t kind = RegionKind(&g->r);
  if (box) {
    const pixman_box32_t* e = pixman_region32_extents(&g->r);
    *box = kind == kPlatRgnEmpty ? PlatRect{0, 0, 0, 0} : PlatRect{e->x1, e->y1, e->x2, e->y2};
  }
  return kind;
}

int32_t PlatGetRgnRects(PlatObj rgn, std::vector<PlatRect>* rects) {
  auto g = Get<Region>(rgn, kPlatObjRegion);
  if (!g) return kPlatRgnError;
  if (rects) {
    rects->clear();
    int n = 0;
    const pixman_box32_t* b = pixman_region32_rectangles(&g->r, &n);
    for (int i = 0; i < n; ++i) rects->push_back({b[i].x1, b[i].y1, b[i].x2, b[i].y2});
  }
  return RegionKind(&g->r);
}

bool PlatRgnIsEmpty(PlatObj rgn) {
  auto g = Get<Region>(rgn, kPlatObjRegion);
  return g && !pixman_region32_not_empty(&g->r);
}
