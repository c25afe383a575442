// What the picture primitives share: rectangles in 32-bit coordinates, the
// look that applies on the current port, pen selections, and strokes that
// stay inside a bounding rectangle.
#pragma once
#include "controls/picc.h"
#include "mgsource/rects.h"

namespace picc {

// A rectangle in 32-bit coordinates (right and bottom exclusive): insets
// and outsets near the 16-bit limits cannot wrap.  It is pinned to 16 bits
// only where it is handed to the port.
struct Box {
  int32 top, left, bottom, right;
  int32 Width() const { return right - left; }
  int32 Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  bool Holds(int32 h, int32 v) const { return h >= left && h < right && v >= top && v < bottom; }
};
Box BoxOf(const Rect& r);
int16 Pin16(int64 v);
inline int16 Pin16(int32 v) { return int16(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }
inline Rect RectOf(const Box& b) {
  Rect r;
  r.top = Pin16(b.top);
  r.left = Pin16(b.left);
  r.bottom = Pin16(b.bottom);
  r.right = Pin16(b.right);
  return r;
}
Box Inset(const Box& b, int32 d);
Box Offset(const Box& b, int32 dh, int32 dv);
int32 MinSide(const Box& b);
// The bevel inset rule on a box; the width used.
int32 BevelInset(Box* b, int32 n);
int32 DiagonalAngle(const Box& b);

// The look nibble that applies on the current port, and its kind: filled
// wins over flat, flat over the bevel.
enum Kind { kNone, kBevel, kFlat, kFilled };
struct Look {
  bool bw;      // the port is black and white
  int32 bits;   // the nibble: 1 lowered or top-left, 2 raised or bottom-right, 4 flat, 8 filled
  Kind kind;
  bool lowered;  // the bevel's lower bit
};
Look LookOf(int32 looks);
// The single direction a direction word names: up, down, left, otherwise
// right (in that order when several bits are set).
int32 OneDirection(int32 direction);

// Pens.  A colour word above 0xFFFFFF other than transparent is no colour:
// its low 24 bits are used.
DColor ColourOf(DColor c);
void Pen(DColor colour);                   // the colour on every port
void Pen(DColor colour, DColor bwColour);  // bwColour on black-and-white ports
// The grey pattern pen of the system, selected black on white, draws the
// shading of black-and-white ports while this lives.  The pen's own
// transfer mode merges its pattern into what lies below, which only ever
// lightens: its black dots would vanish on a white face.  So the pattern is
// copied meanwhile, and the pen's mode is put back at the end.
class GreyShading {
 public:
  GreyShading();
  ~GreyShading();
  GreyShading(const GreyShading&) = delete;
  GreyShading& operator=(const GreyShading&) = delete;

 private:
  int16 mode_ = 0;
  bool changed_ = false;
};

// Shapes of the current pen on a box: nothing for an empty box.
void PaintBox(const Box& b);
void FrameBox(const Box& b);
void PaintOvalBox(const Box& b);
void FrameOvalBox(const Box& b);
void PaintArcBox(const Box& b, int32 start, int32 extent);
void FrameArcBox(const Box& b, int32 start, int32 extent);
void FrameRoundBox(const Box& b, int32 corner);

// Lines that stay inside a bounding box: drawn only when both ends lie in
// it (the box is convex, so the line does too).  An L-stroke goes
// vertically first, then horizontally.
void MoveTo(int32 h, int32 v);
void LineIn(const Box& bound, int32 h0, int32 v0, int32 h1, int32 v1);
void LStrokeIn(const Box& bound, int32 h0, int32 v0, int32 h1, int32 v1);
void PixelIn(const Box& bound, int32 h, int32 v);
// A point of a polygon, pinned.
Point Pt(int32 h, int32 v);
// Paints and (optionally) outlines a closed polygon of n points; points has
// room for n + 1 (the closing point is written).
void PaintPolygon(Point* points, int32 n);
void OutlinePolygon(Point* points, int32 n);

// A colour's hue, lightness and saturation; a colour from them (the
// lightness pinned to 0..1); the colour halfway between two in all three.
struct Hls {
  float32 h, l, s;
};
Hls HlsOf(DColor c);
DColor RgbOf(float32 h, double l, float32 s);
DColor HlsMean(DColor a, DColor b);

// The empty-rectangle report of a primitive: true (and the text written)
// for a null or empty rectangle.
bool EmptyReported(const Rect* r, const char* text);

}  // namespace picc
