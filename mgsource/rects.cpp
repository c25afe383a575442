#include "rects.h"

#include <algorithm>

namespace {

// Coordinates are computed in 32 bits and stored back in 16, wrapping.
inline int16 C16(int32 v) { return int16(v); }
// 32-bit coordinates wrap rather than overflow.
inline int32 Sub32(int32 a, int32 b) { return int32(uInt32(a) - uInt32(b)); }
inline int32 Add32(int32 a, int32 b) { return int32(uInt32(a) + uInt32(b)); }

// The quotient rounded toward minus infinity; b is not 0.
int32 FloorDiv(int32 a, int32 b) {
  int32 q = a / b;
  if (a % b != 0 && ((a < 0) != (b < 0))) --q;
  return q;
}

constexpr int32 kMapLimit = 15000;

// One coordinate of DMapPt: from the range f0..f1 to t0..t1.
int16 MapCoord(int32 x, int32 f0, int32 f1, int32 t0, int32 t1) {
  int32 fromSize = f1 - f0;
  if (fromSize == 0) return C16(x);  // nothing to scale by: left as it is
  // The product can pass 32 bits; the quotient is truncated toward zero.
  int64 q = int64(x - f0) * int64(t1 - t0) / fromSize + t0;
  return C16(int32(std::clamp<int64>(q, -kMapLimit, kMapLimit)));
}

// After mapping, a side that had a size keeps at least one pixel of it, in
// the direction the mapping gives it.
void KeepPixel(int16* lo, int16* hi, int32 oldSize, int32 fromSize, int32 toSize) {
  if (oldSize == 0 || fromSize == 0 || *lo != *hi) return;
  bool up = (oldSize > 0) == ((fromSize > 0) == (toSize >= 0));
  if (up) {
    if (*lo >= kMapLimit) *lo = C16(*lo - 1);
    else *hi = C16(*lo + 1);
  } else {
    if (*lo <= -kMapLimit) *lo = C16(*lo + 1);
    else *hi = C16(*lo - 1);
  }
}

}  // namespace

void DSetRect(Rect* r, int32 left, int32 top, int32 right, int32 bottom) {
  r->left = C16(left);
  r->top = C16(top);
  r->right = C16(right);
  r->bottom = C16(bottom);
}

void LSetRect(LRect* r, int32 left, int32 top, int32 right, int32 bottom) {
  r->left = left;
  r->top = top;
  r->right = right;
  r->bottom = bottom;
}

void DSetRectCtr(Rect* r, int32 h, int32 v, int32 width, int32 height) {
  int32 left = h - (width >> 1), top = v - (height >> 1);
  DSetRect(r, left, top, left + width, top + height);
}

int32 RectHeight(const Rect* r) { return int32(r->bottom) - r->top; }
int32 RectWidth(const Rect* r) { return int32(r->right) - r->left; }
int32 LRectHeight(const LRect* r) { return Sub32(r->bottom, r->top); }
int32 LRectWidth(const LRect* r) { return Sub32(r->right, r->left); }

void DAddPt(Point p, Point* q) {
  q->v = C16(q->v + p.v);
  q->h = C16(q->h + p.h);
}

void DSubPt(Point p, Point* q) {
  q->v = C16(q->v - p.v);
  q->h = C16(q->h - p.h);
}

void DInsetRect(Rect* r, int32 dh, int32 dv) {
  r->left = C16(r->left + dh);
  r->right = C16(r->right - dh);
  r->top = C16(r->top + dv);
  r->bottom = C16(r->bottom - dv);
}

void DOffsetRect(Rect* r, int32 dh, int32 dv) {
  r->left = C16(r->left + dh);
  r->right = C16(r->right + dh);
  r->top = C16(r->top + dv);
  r->bottom = C16(r->bottom + dv);
}

void LOffsetRect(LRect* r, int32 dh, int32 dv) {
  r->left = Add32(r->left, dh);
  r->right = Add32(r->right, dh);
  r->top = Add32(r->top, dv);
  r->bottom = Add32(r->bottom, dv);
}

void DAddRect(const Rect* a, Rect* b) {
  b->top = C16(b->top + a->top);
  b->left = C16(b->left + a->left);
  b->bottom = C16(b->bottom + a->bottom);
  b->right = C16(b->right + a->right);
}

void DSubRect(const Rect* a, Rect* b) {
  b->top = C16(b->top - a->top);
  b->left = C16(b->left - a->left);
  b->bottom = C16(b->bottom - a->bottom);
  b->right = C16(b->right - a->right);
}

namespace {
template <typename R>
Bool32 SectRect(const R* a, const R* b, R* out) {
  R s;
  s.top = std::max(a->top, b->top);
  s.left = std::max(a->left, b->left);
  s.bottom = std::min(a->bottom, b->bottom);
  s.right = std::min(a->right, b->right);
  // Where the edges crossed, the result is normalised to an empty rectangle.
  bool nonEmpty = s.right > s.left && s.bottom > s.top;
  if (s.right < s.left) s.right = s.left;
  if (s.bottom < s.top) s.bottom = s.top;
  if (out) *out = s;
  return nonEmpty;
}
}  // namespace

Bool32 DSectRect(const Rect* a, const Rect* b, Rect* out) { return SectRect(a, b, out); }
Bool32 LSectRect(const LRect* a, const LRect* b, LRect* out) { return SectRect(a, b, out); }

void DUnionRect(const Rect* a, Rect* b) {
  if (DEmptyRect(b)) {
    *b = *a;
    return;
  }
  if (DEmptyRect(a)) return;
  b->top = std::min(a->top, b->top);
  b->left = std::min(a->left, b->left);
  b->bottom = std::max(a->bottom, b->bottom);
  b->right = std::max(a->right, b->right);
}

Bool32 DEqualRect(const Rect* a, const Rect* b) {
  return a->top == b->top && a->left == b->left && a->bottom == b->bottom && a->right == b->right;
}

Bool32 LEqualRect(const LRect* a, const LRect* b) {
  return a->top == b->top && a->left == b->left && a->bottom == b->bottom && a->right == b->right;
}

Bool32 DEmptyRect(const Rect* r) { return r->right <= r->left || r->bottom <= r->top; }
Bool32 LEmptyRect(const LRect* r) { return r->right <= r->left || r->bottom <= r->top; }

void RectCentroid(const Rect* r, Point* out) {
  out->v = C16((int32(r->top) + r->bottom) >> 1);
  out->h = C16((int32(r->left) + r->right) >> 1);
}

void ScaleRect(const Rect* a, const Rect* b, Rect* c) {
  c->top = C16(c->top + b->top - a->top);
  c->left = C16(c->left + b->left - a->left);
  c->bottom = C16(c->bottom + b->bottom - a->bottom);
  c->right = C16(c->right + b->right - a->right);
}

Bool32 DPtInRect(Point p, const Rect* r) {
  return p.h >= r->left && p.h < r->right && p.v >= r->top && p.v < r->bottom;
}

Bool32 DRectInRect(const Rect* a, const Rect* b) {
  return a->top >= b->top && a->left >= b->left && a->bottom <= b->bottom && a->right <= b->right;
}

void DPinRect(Point p, const Rect* r, Point* out) {
  // Pinned to left..right-1 and top..bottom-1; the left and top edges win
  // for an empty rectangle.
  int32 h = std::max<int32>(std::min<int32>(p.h, r->right - 1), r->left);
  int32 v = std::max<int32>(std::min<int32>(p.v, r->bottom - 1), r->top);
  out->h = C16(h);
  out->v = C16(v);
}

void DPt2Rect(Point p, Point q, Rect* out) {
  out->left = std::min(p.h, q.h);
  out->right = std::max(p.h, q.h);
  out->top = std::min(p.v, q.v);
  out->bottom = std::max(p.v, q.v);
}

void DPtAndRect(Point p, Rect* r) {
  if (p.h < r->left) r->left = p.h;
  if (p.h > r->right) r->right = p.h;
  if (p.v < r->top) r->top = p.v;
  if (p.v > r->bottom) r->bottom = p.v;
}

void PinRectInRect(const Rect* outer, Rect* r) {
  // Moving left (up) stops where the left (top) edges meet, so those edges
  // win when r is the larger.
  int32 dh = 0, dv = 0;
  if (r->left < outer->left) dh = outer->left - r->left;
  else if (r->right > outer->right) dh = std::max(outer->right - r->right, outer->left - r->left);
  if (r->top < outer->top) dv = outer->top - r->top;
  else if (r->bottom > outer->bottom) dv = std::max(outer->bottom - r->bottom, outer->top - r->top);
  DOffsetRect(r, dh, dv);
}

void CenterRect(Rect* r) {
  int32 height = RectHeight(r), width = RectWidth(r);
  int32 top = -(height / 2), left = -(width / 2);
  DSetRect(r, left, top, left + width, top + height);
}

int32 XYDist(Point p, const Rect* r) {
  int32 dh = p.h >= r->right ? p.h - r->right + 1 : p.h < r->left ? r->left - p.h : 0;
  int32 dv = p.v >= r->bottom ? p.v - r->bottom + 1 : p.v < r->top ? r->top - p.v : 0;
  return dh + dv;
}

int32 RectSharedCorner(const Rect* a, const Rect* b) {
  if (!a || !b) return -1;
  if (a->top == b->top && a->left == b->left) return 0;
  if (a->bottom == b->bottom && a->left == b->left) return 3;
  if (a->bottom == b->bottom && a->right == b->right) return 2;
  if (a->top == b->top && a->right == b->right) return 1;
  return -1;
}

void FitRectInRect(const Rect* a, const Rect* b, Rect* out) {
  int64 w = std::max(RectWidth(a), 0), h = std::max(RectHeight(a), 0);
  int64 bw = std::max(RectWidth(b), 0), bh = std::max(RectHeight(b), 0);
  if (w > bw || h > bh) {
    // Shrink by the tighter of the two ratios, keeping a's proportions.
    if (w * bh > h * bw) {  // width is the limit (w > 0 here)
      h = h * bw / w;
      w = bw;
    } else if (h > 0) {
      w = w * bh / h;
      h = bh;
    } else {
      w = bw;
    }
    w = std::max<int64>(w, 2);
    h = std::max<int64>(h, 2);
  }
  Point c;
  RectCentroid(b, &c);
  DSetRectCtr(out, c.h, c.v, int32(w), int32(h));
}

void RectToLRect(const Rect* r, LRect* out) {
  out->top = r->top;
  out->left = r->left;
  out->bottom = r->bottom;
  out->right = r->right;
}

void LRectToRect(const LRect* r, Rect* out) {
  out->top = C16(r->top);
  out->left = C16(r->left);
  out->bottom = C16(r->bottom);
  out->right = C16(r->right);
}

int32 RCShift(Point p, const Rect* r) {
  int32 height = RectHeight(r), width = RectWidth(r);
  Point cell;
  cell.v = C16(height ? FloorDiv(p.v - r->top, height) : 0);
  cell.h = C16(width ? FloorDiv(p.h - r->left, width) : 0);
  return PointToWord(cell);
}

void DMapPt(Point* p, const Rect* from, const Rect* to) {
  if (!p || !from || !to) return;
  p->v = MapCoord(p->v, from->top, from->bottom, to->top, to->bottom);
  p->h = MapCoord(p->h, from->left, from->right, to->left, to->right);
}

void DMapRect(Rect* r, const Rect* from, const Rect* to) {
  if (!r || !from || !to) return;
  Rect old = *r;
  Point tl = {r->top, r->left}, br = {r->bottom, r->right};
  DMapPt(&tl, from, to);
  DMapPt(&br, from, to);
  r->top = tl.v;
  r->left = tl.h;
  r->bottom = br.v;
  r->right = br.h;
  KeepPixel(&r->top, &r->bottom, RectHeight(&old), RectHeight(from), RectHeight(to));
  KeepPixel(&r->left, &r->right, RectWidth(&old), RectWidth(from), RectWidth(to));
}
