// Rectangles and points.
//
// A Rect is top, left, bottom, right; right and bottom lie outside it, and it
// is empty when right is not above left or bottom is not below top.  A Point
// travels by value as one 32-bit word, v in the low half.  Operations work in
// place unless an output is named; 16-bit results wrap as the stored numbers
// do.
#pragma once
#include "extcode.h"

QX_EXTERN_C void DSetRect(Rect* r, int32 left, int32 top, int32 right, int32 bottom);
QX_EXTERN_C void LSetRect(LRect* r, int32 left, int32 top, int32 right, int32 bottom);
// A rectangle of the given size around (h, v); the halves are arithmetic shifts.
QX_EXTERN_C void DSetRectCtr(Rect* r, int32 h, int32 v, int32 width, int32 height);
QX_EXTERN_C int32 RectHeight(const Rect* r);
QX_EXTERN_C int32 RectWidth(const Rect* r);
QX_EXTERN_C int32 LRectHeight(const LRect* r);
QX_EXTERN_C int32 LRectWidth(const LRect* r);

QX_EXTERN_C void DAddPt(Point p, Point* q);  // q += p
QX_EXTERN_C void DSubPt(Point p, Point* q);  // q -= p
QX_EXTERN_C void DInsetRect(Rect* r, int32 dh, int32 dv);
QX_EXTERN_C void DOffsetRect(Rect* r, int32 dh, int32 dv);
QX_EXTERN_C void LOffsetRect(LRect* r, int32 dh, int32 dv);
QX_EXTERN_C void DAddRect(const Rect* a, Rect* b);  // b += a, coordinate by coordinate
QX_EXTERN_C void DSubRect(const Rect* a, Rect* b);  // b -= a

// The intersection into out (which may be a or b, or null); true when it is
// not empty.  An empty result has right raised to left and bottom to top.
QX_EXTERN_C Bool32 DSectRect(const Rect* a, const Rect* b, Rect* out);
QX_EXTERN_C Bool32 LSectRect(const LRect* a, const LRect* b, LRect* out);
// b becomes the union of a and b; an empty b becomes a, an empty a leaves b.
QX_EXTERN_C void DUnionRect(const Rect* a, Rect* b);
QX_EXTERN_C Bool32 DEqualRect(const Rect* a, const Rect* b);
QX_EXTERN_C Bool32 LEqualRect(const LRect* a, const LRect* b);
QX_EXTERN_C Bool32 DEmptyRect(const Rect* r);
QX_EXTERN_C Bool32 LEmptyRect(const LRect* r);

QX_EXTERN_C void RectCentroid(const Rect* r, Point* out);
QX_EXTERN_C void ScaleRect(const Rect* a, const Rect* b, Rect* c);  // c += b - a
QX_EXTERN_C Bool32 DPtInRect(Point p, const Rect* r);
QX_EXTERN_C Bool32 DRectInRect(const Rect* a, const Rect* b);  // a lies within b
QX_EXTERN_C void DPinRect(Point p, const Rect* r, Point* out);
QX_EXTERN_C void DPt2Rect(Point p, Point q, Rect* out);
QX_EXTERN_C void DPtAndRect(Point p, Rect* r);  // grows r so its edges reach p
// Moves r by whole offsets into outer; the left and top edges win when r is
// larger than outer.
QX_EXTERN_C void PinRectInRect(const Rect* outer, Rect* r);
QX_EXTERN_C void CenterRect(Rect* r);  // centre moved to (0, 0)
QX_EXTERN_C int32 XYDist(Point p, const Rect* r);
// 0 when the top-left corners coincide, 3 bottom-left, 2 bottom-right,
// 1 top-right, -1 none or a null argument.
QX_EXTERN_C int32 RectSharedCorner(const Rect* a, const Rect* b);
// a's size centred on b, shrunk to fit b keeping a's ratio, each side at least 2.
QX_EXTERN_C void FitRectInRect(const Rect* a, const Rect* b, Rect* out);
QX_EXTERN_C void RectToLRect(const Rect* r, LRect* out);
QX_EXTERN_C void LRectToRect(const LRect* r, Rect* out);

// The grid cell (row in v, column in h) of r's size, anchored at r's
// top-left, that holds p; rounds toward minus infinity.  An axis of zero size
// gives 0.  The cell comes back as a point word (v in the low half) in a
// plain 32-bit result, so compiled code reads it from EAX with no hidden
// result pointer.
QX_EXTERN_C int32 RCShift(Point p, const Rect* r);

// A Point as the 32-bit word it travels in (v low, h high), and back.
inline int32 PointToWord(Point p) { return int32(uInt32(uInt16(p.v)) | (uInt32(uInt16(p.h)) << 16)); }
inline Point WordToPoint(int32 w) {
  Point p;
  p.v = int16(uInt16(uInt32(w)));
  p.h = int16(uInt16(uInt32(w) >> 16));
  return p;
}
// Maps p proportionally from the rectangle from to the rectangle to, each
// coordinate truncated toward zero and pinned to -15000..15000.  A null to
// leaves p; an axis of zero size in from leaves that coordinate.
QX_EXTERN_C void DMapPt(Point* p, const Rect* from, const Rect* to);
// Maps both corners; a side that had a size keeps at least 1 pixel of it.
QX_EXTERN_C void DMapRect(Rect* r, const Rect* from, const Rect* to);
