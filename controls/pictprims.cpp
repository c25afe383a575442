// The shading model and the bevelled shapes of the control pictures:
// bevelled rectangles and their groove, rectangular and oval frames, ovals,
// half ovals, rounded rectangles, oblongs, knobs and triangles, and the
// geometric tests the pictures use.
#include <algorithm>
#include <cmath>

#include "controls/picc.h"
#include "controls/picc_internal.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dcurpen.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "platform/qx_dc.h"

namespace picc {

Box BoxOf(const Rect& r) { return Box{r.top, r.left, r.bottom, r.right}; }

int16 Pin16(int64 v) { return int16(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

Box Inset(const Box& b, int32 d) { return Box{b.top + d, b.left + d, b.bottom - d, b.right - d}; }
Box Offset(const Box& b, int32 dh, int32 dv) { return Box{b.top + dv, b.left + dh, b.bottom + dv, b.right + dh}; }
int32 MinSide(const Box& b) { return std::min(b.Width(), b.Height()); }

int32 BevelInset(Box* b, int32 n) {
  if (n > 0) {
    int32 m = MinSide(*b) - 2;
    if (m < 2) m = 0;
    if (m & 1) --m;
    n = std::min(n, m / 2);
  }
  *b = Inset(*b, n);
  return n;
}

int32 DiagonalAngle(const Box& b) {
  if (b.Height() < 1) return 45;
  // In single precision, as the angle has always been figured: a square's
  // atan(1) rounds up there and gives 45, where double precision gives
  // 44.99999998.
  return int32(std::atan(float32(b.Width()) / float32(b.Height())) * 57.2957795f);
}

Look LookOf(int32 looks) {
  Look l{};
  l.bw = DIsBW() != 0;
  l.bits = (looks >> (l.bw ? 12 : 8)) & 0xF;
  l.kind = l.bits & 8 ? kFilled : l.bits & 4 ? kFlat : l.bits & 3 ? kBevel : kNone;
  l.lowered = (l.bits & 1) != 0;
  return l;
}

int32 OneDirection(int32 direction) {
  if (direction & kPictUp) return kPictUp;
  if (direction & kPictDown) return kPictDown;
  if (direction & kPictLeft) return kPictLeft;
  return kPictRight;
}

DColor ColourOf(DColor c) { return c > 0xFFFFFF && c != kTransparentColor ? (c & 0xFFFFFF) : c; }
void Pen(DColor colour) { DSelectNormPen(ColourOf(colour), ColourOf(colour)); }
void Pen(DColor colour, DColor bwColour) { DSelectNormPen(ColourOf(colour), ColourOf(bwColour)); }
GreyShading::GreyShading() {
  PenState state{};
  if (DGetPenState(kGrayPen, kPenMode, &state) == kNoErr && state.mode != 0) {
    mode_ = state.mode;
    state.mode = 0;
    changed_ = DSetPenState(kGrayPen, kPenMode, &state) == kNoErr;
  }
  DSelectPen(kGrayPen, kBlackColor, kWhiteColor);
}

GreyShading::~GreyShading() {
  if (!changed_) return;
  PenState state{};
  state.mode = mode_;
  DSetPenState(kGrayPen, kPenMode, &state);
}

void PaintBox(const Box& b) {
  if (b.Empty()) return;
  const Rect r = RectOf(b);
  DPaintRect(&r);
}
void FrameBox(const Box& b) {
  if (b.Empty()) return;
  const Rect r = RectOf(b);
  DFrameRect(&r);
}
// What drawing on the host port can reach: its device context's clip box in
// port coordinates.  False while a picture records or another port draws:
// then everything is drawn.
bool VisibleBox(Box* v) {
  if (DCurrentPort() != &gHostPort || gDrawState.recording || !gDrawState.dc) return false;
  PlatRect clip{};
  PlatGetClipBox(gDrawState.dc, &clip);
  *v = Box{clip.top + gDrawState.originV, clip.left + gDrawState.originH, clip.bottom + gDrawState.originV,
           clip.right + gDrawState.originH};
  return true;
}

bool Meets(const Box& a, const Box& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Whether the oval of b can show any pixel in what the port reaches: a ring
// (an arc or frame) shows nothing when the reachable box lies well inside
// the oval, no part of the oval when the box lies well outside it.  Rings of
// large ovals cost their whole size to rasterise, so the many rings of a
// bevel or a push button's side that cannot show are left out.
bool OvalShows(const Box& b, bool ring) {
  Box v;
  if (!VisibleBox(&v)) return true;
  if (!Meets(b, v)) return false;
  const double cx = (b.left + b.right) / 2.0, cy = (b.top + b.bottom) / 2.0;
  const double a = b.Width() / 2.0, c = b.Height() / 2.0;
  constexpr double kSlack = 3;
  auto inside = [&](double dx, double dy, double ra, double rc) {
    return (dx / ra) * (dx / ra) + (dy / rc) * (dy / rc) < 1;
  };
  // The reachable point nearest the centre, against the oval grown a little.
  const double nx = std::clamp(cx, double(v.left), double(v.right - 1)) - cx;
  const double ny = std::clamp(cy, double(v.top), double(v.bottom - 1)) - cy;
  if (!inside(nx, ny, a + kSlack, c + kSlack)) return false;
  if (!ring || a <= kSlack || c <= kSlack) return true;
  // The reachable corner farthest from the centre, against the oval shrunk.
  const double fx = std::max(std::fabs(v.left - cx), std::fabs(v.right - 1 - cx));
  const double fy = std::max(std::fabs(v.top - cy), std::fabs(v.bottom - 1 - cy));
  return !inside(fx, fy, a - kSlack, c - kSlack);
}

void PaintOvalBox(const Box& b) {
  if (b.Empty() || !OvalShows(b, false)) return;
  const Rect r = RectOf(b);
  DPaintOval(&r);
}
void FrameOvalBox(const Box& b) {
  if (b.Empty() || !OvalShows(b, true)) return;
  const Rect r = RectOf(b);
  DFrameOval(&r);
}
void PaintArcBox(const Box& b, int32 start, int32 extent) {
  if (b.Empty() || !OvalShows(b, false)) return;
  const Rect r = RectOf(b);
  DPaintArc(&r, start, extent);
}
void FrameArcBox(const Box& b, int32 start, int32 extent) {
  if (b.Empty() || !OvalShows(b, true)) return;
  const Rect r = RectOf(b);
  DFrameArc(&r, start, extent);
}
void FrameRoundBox(const Box& b, int32 corner) {
  if (b.Empty()) return;
  // The frame's pixels lie within half a corner of the box's edges.
  Box v;
  if (VisibleBox(&v)) {
    const Box in = Inset(b, corner / 2 + 3);
    if (!Meets(b, v) || (v.left >= in.left && v.right <= in.right && v.top >= in.top && v.bottom <= in.bottom))
      return;
  }
  const Rect r = RectOf(b);
  DFrameRoundRect(&r, corner, corner);
}

void MoveTo(int32 h, int32 v) { DMoveTo(Pin16(h), Pin16(v)); }

void LineIn(const Box& bound, int32 h0, int32 v0, int32 h1, int32 v1) {
  if (!bound.Holds(h0, v0) || !bound.Holds(h1, v1)) return;
  DMoveTo(h0, v0);
  DLineTo(h1, v1);
}

void LStrokeIn(const Box& bound, int32 h0, int32 v0, int32 h1, int32 v1) {
  if (!bound.Holds(h0, v0) || !bound.Holds(h1, v1)) return;
  DMoveTo(h0, v0);
  DMHLineTo(h1, v1, 1);
}

void PixelIn(const Box& bound, int32 h, int32 v) {
  if (bound.Holds(h, v)) DSetPixel(h, v);
}

Point Pt(int32 h, int32 v) {
  Point p;
  p.v = Pin16(v);
  p.h = Pin16(h);
  return p;
}

void PaintPolygon(Point* points, int32 n) {
  points[n] = points[0];
  DPaintPoly(points, n, 0);
}

void OutlinePolygon(Point* points, int32 n) {
  points[n] = points[0];
  DPolyLine(points, n);
}

bool EmptyReported(const Rect* r, const char* text) {
  if (r && !DEmptyRect(r)) return false;
  DBPrintf("%s", text);
  return true;
}

}  // namespace picc

using namespace picc;

// ---- Shading rules -----------------------------------------------------------------------

void PiccHilites(DColor colour, DColor* hilite, DColor* shadow) {
  DColor h = kTransparentColor, s = kTransparentColor;
  if (colour != kTransparentColor) {
    const int32 depth = DGetDepth();
    if (depth > 4) {
      DCalcHiliteColor(ColourOf(colour), &h, &s);
    } else if (depth == 4) {
      h = 0xE4E4E4;
      s = 0x666666;
    } else {
      h = s = kBlackColor;
    }
  }
  if (hilite) *hilite = h;
  if (shadow) *shadow = s;
}

DColor PiccLighterShade(DColor c) {
  if (c == kTransparentColor) return c;
  const uInt32 r = (((c >> 16) & 0xFF) + 256) / 2, g = (((c >> 8) & 0xFF) + 256) / 2, b = ((c & 0xFF) + 256) / 2;
  return (c & 0xFF000000u) | (r << 16) | (g << 8) | b;
}

DColor PiccDarkerShade(DColor c) {
  if (c == kTransparentColor) return c;
  return (c & 0xFF000000u) | ((c >> 1) & 0x7F7F7Fu);
}

int32 PiccBevelInset(Rect* r, int32 n) {
  if (!r) return 0;
  Box b = BoxOf(*r);
  n = BevelInset(&b, n);
  *r = RectOf(b);
  return n;
}

int32 PiccDiagonalAngle(const Rect* r) { return r ? DiagonalAngle(BoxOf(*r)) : 45; }

namespace {

// The shade pens: the colour's shade, black on black-and-white ports.
void LighterPen(DColor c) { Pen(PiccLighterShade(c), c == kTransparentColor ? c : kBlackColor); }
void DarkerPen(DColor c) { Pen(PiccDarkerShade(c), c == kTransparentColor ? c : kBlackColor); }

// The first and second bevel colours of foreColor: highlight then shadow,
// swapped for the lowered look.
void BevelColours(DColor fore, bool lowered, DColor* first, DColor* second) {
  DColor h, s;
  PiccHilites(fore, &h, &s);
  *first = lowered ? s : h;
  *second = lowered ? h : s;
}

// The colour bevel without an outline where the port fills rectangles
// straight: the face, the two corner pixels and the L-strokes are the
// rectangles of the pixels the pen would draw, painted in one run.  The pen
// is left as drawing them one by one leaves it: the shadow colour, at the
// end of the last stroke drawn.  False (nothing drawn) on other ports and
// for bevels wider than the run holds.
bool StraightBevel(const Box& outer, const Box& face, int32 n, DColor fore, DColor back, bool lowered) {
  constexpr int32 kWidest = 15;
  if (n > kWidest) return false;
  Rect rects[3 + 4 * kWidest];
  DColor colours[3 + 4 * kWidest];
  int32 k = 0, lastH = 0, lastV = 0;
  bool moved = false;
  // Coordinates within outer, or one past them: all 16-bit.
  auto add = [&](int32 top, int32 left, int32 bottom, int32 right, DColor c) {
    rects[k] = Rect{int16(top), int16(left), int16(bottom), int16(right)};
    colours[k++] = ColourOf(c);
  };
  if (!face.Empty() && back != kTransparentColor) add(face.top, face.left, face.bottom, face.right, back);
  const Box r = Inset(face, -n);
  auto pixel = [&](int32 h, int32 v) {
    if (!outer.Holds(h, v)) return;
    add(v, h, v + 1, h + 1, fore);
    lastH = h, lastV = v, moved = true;
  };
  pixel(r.right - 1, r.top);
  pixel(r.left, r.bottom - 1);
  // An L-stroke upright first: the column of h0 from v0 up to the row of
  // v1 (not into it), then that row from h0 to h1, both ends.
  auto stroke = [&](int32 h0, int32 v0, int32 h1, int32 v1, DColor c) {
    if (!outer.Holds(h0, v0) || !outer.Holds(h1, v1)) return;
    if (v0 < v1) add(v0, h0, v1, h0 + 1, c);
    else if (v0 > v1) add(v1 + 1, h0, v0 + 1, h0 + 1, c);
    add(v1, std::min(h0, h1), v1 + 1, std::max(h0, h1) + 1, c);
    lastH = h1, lastV = v1, moved = true;
  };
  DColor first, second;
  BevelColours(fore, lowered, &first, &second);
  for (int32 i = 0; i < n; ++i) stroke(r.left + i, r.bottom - 2, r.right - 2, r.top + i, first);
  for (int32 i = 1; i <= n; ++i) stroke(r.right - i, r.top + 1, r.left + 1, r.bottom - i, second);
  if (!DFillRectsStraight(rects, colours, k, kBlackColor)) return false;
  Pen(second, fore);
  if (moved) DMoveTo(lastH, lastV);
  return true;
}

}  // namespace

// ---- Bevelled rectangles -----------------------------------------------------------------

void DrawRect(const Rect* rect, DColor fore, DColor back, int32 looks, int32 width, int32 direction) {
  if (EmptyReported(rect, "DrawRect empty rect")) return;
  const Box outer = BoxOf(*rect);
  const Look look = LookOf(looks);
  if (look.kind == kFilled) {
    Pen(fore);
    PaintBox(outer);
    return;
  }
  Box r = outer;
  const int32 n = BevelInset(&r, std::max(width, 0));
  if (look.kind == kBevel && !look.bw && !(looks & kLookOutline) && fore != kTransparentColor &&
      StraightBevel(outer, r, n, fore, back, look.lowered)) {
    if (direction) DrawGroove(rect, fore, back, looks, direction);
    return;
  }
  Pen(back);
  if (look.bw && look.kind == kBevel) r = Inset(r, -n);
  PaintBox(r);
  if (fore == kTransparentColor) return;
  Pen(fore);
  if (look.kind == kFlat) {
    for (int32 i = 0; i < n; ++i) {
      r = Inset(r, -1);
      FrameBox(r);
    }
  } else if (look.kind == kBevel && !look.bw) {
    const bool outline = (looks & kLookOutline) != 0;
    if (!outline) {
      r = Inset(r, -n);
      PixelIn(outer, r.right - 1, r.top);
      PixelIn(outer, r.left, r.bottom - 1);
    } else {
      r = Inset(r, -(n - 1));
    }
    DColor first, second;
    BevelColours(fore, look.lowered, &first, &second);
    Pen(first, fore);
    for (int32 i = 0; i < n; ++i) LStrokeIn(outer, r.left + i, r.bottom - 2, r.right - 2, r.top + i);
    Pen(second, fore);
    for (int32 i = 1; i <= n; ++i) LStrokeIn(outer, r.right - i, r.top + 1, r.left + 1, r.bottom - i);
    if (outline) {
      Pen(kBlackColor);
      FrameBox(Inset(r, -1));
    }
  } else if (look.kind == kBevel) {
    // Grey lines along the shaded edges, inside the frame.
    FrameBox(outer);
    GreyShading grey;
    if (!(look.bits & 1)) {
      for (int32 i = 2; i <= n + 2; ++i)
        LStrokeIn(outer, r.right - i, r.top - 1 + i, r.left - 1 + i, r.bottom - i);
    } else {
      for (int32 i = 1; i <= n + 1; ++i)
        LStrokeIn(outer, r.left + i, r.bottom - i - 1, r.right - i - 1, r.top + i);
    }
  }
  if (direction) DrawGroove(rect, fore, back, looks, direction);
}

void DrawGroove(const Rect* rect, DColor fore, DColor back, int32 looks, int32 direction) {
  if (!rect || DEmptyRect(rect) || fore == kTransparentColor) return;
  const Box b = BoxOf(*rect);
  const Look look = LookOf(looks);
  const bool vertical = direction == kPictVertical;
  const int32 c = vertical ? (b.left + b.right) / 2 : (b.top + b.bottom) / 2;
  // A line across at position p, from the near edge to the far edge less
  // `short_` pixels.
  auto across = [&](int32 p, int32 shortBy) {
    if (vertical) LineIn(b, p, b.top, p, b.bottom - shortBy);
    else LineIn(b, b.left, p, b.right - shortBy, p);
  };
  if (!look.bw && look.kind != kFlat && look.kind != kFilled) {
    DColor first, second;
    BevelColours(fore, look.lowered, &first, &second);
    Pen(second, fore);
    across(c, 2);
    Pen(first, back);
    across(c - 1, 2);
  } else {
    Pen(fore);
    across(c, 1);
  }
}

void DrawRectFrame(const Rect* rect, DColor fore, DColor back, int32 looks, int32 width) {
  if (EmptyReported(rect, "DrawRectFrame empty rect")) return;
  const Box b = BoxOf(*rect);
  Box in = b;
  BevelInset(&in, std::max(width, 0));
  const Look look = LookOf(looks);
  if (look.kind == kFilled) {
    if (back != kTransparentColor) {
      Pen(back);
      PaintBox(b);
    }
    if (fore == kTransparentColor) return;
    Pen(fore);
    PaintBox(in);
    return;
  }
  if (back != kTransparentColor) {
    Pen(back);
    PaintBox(Box{b.top, b.left, b.bottom, in.left});
    PaintBox(Box{b.top, in.left, in.top, b.right});
    PaintBox(Box{in.top, in.right, b.bottom, b.right});
    PaintBox(Box{in.bottom, in.left, b.bottom, in.right});
  }
  if (fore == kTransparentColor) return;
  Pen(fore);
  if (!look.bw && look.kind != kFlat) {
    PixelIn(b, b.right - 1, b.top);
    PixelIn(b, b.left, b.bottom - 1);
    PixelIn(b, in.right - 1, in.top);
    PixelIn(b, in.left, in.bottom - 1);
    DColor first, second;
    BevelColours(fore, look.lowered, &first, &second);
    Pen(first, fore);
    LStrokeIn(b, b.left, b.bottom - 2, b.right - 2, b.top);
    LStrokeIn(b, in.right - 1, in.top + 1, in.left + 1, in.bottom - 1);
    Pen(second, fore);
    LStrokeIn(b, in.left, in.bottom - 2, in.right - 2, in.top);
    LStrokeIn(b, b.right - 1, b.top + 1, b.left + 1, b.bottom - 1);
  } else {
    FrameBox(in);
    FrameBox(b);
  }
}

// ---- Ovals -------------------------------------------------------------------------------

void DrawOval(const Rect* rect, DColor fore, DColor back, int32 looks, int32 width) {
  if (EmptyReported(rect, "DrawOval empty rect")) return;
  const Box outer = BoxOf(*rect);
  const Look look = LookOf(looks);
  if (look.kind == kFilled) {
    Pen(fore);
    PaintOvalBox(outer);
    return;
  }
  Pen(back);
  PaintOvalBox(outer);
  if (fore == kTransparentColor) return;
  Box r = outer;
  const int32 n = BevelInset(&r, std::max(width, 0));
  const int32 a = DiagonalAngle(r);
  if (look.kind == kFlat) {
    Pen(fore);
    for (int32 i = 0; i < n; ++i) {
      r = Inset(r, -1);
      FrameOvalBox(r);
    }
  } else if (look.kind == kBevel && !look.bw) {
    const bool outline = (looks & kLookOutline) != 0;
    if (outline) r = Inset(r, 1);
    DColor first, second;
    BevelColours(fore, look.lowered, &first, &second);
    Pen(first, fore);
    for (int32 i = 0; i < n; ++i) {
      r = Inset(r, -1);
      FrameArcBox(r, a + 180, 180);
    }
    Pen(second, fore);
    for (int32 i = 0; i < n; ++i) {
      FrameArcBox(r, a, 180);
      r = Inset(r, 1);
    }
    r = Inset(r, -n);
    if (outline) {
      Pen(kBlackColor);
      FrameOvalBox(Inset(r, -1));
    }
  } else if (look.kind == kBevel) {
    GreyShading grey;
    const int32 start = look.bits & 1 ? a + 180 : a;
    r = Inset(r, 1);
    for (int32 i = n; i >= 0; --i) {
      FrameArcBox(r, start + 4 * i, 180 - 16 * i);
      r = Inset(r, -1);
    }
    Pen(fore);
    FrameOvalBox(outer);
  }
}

void DrawOvalFrame(const Rect* rect, DColor fore, DColor back, int32 looks, int32 width) {
  if (EmptyReported(rect, "DrawOvalFrame empty rect")) return;
  const Box b = BoxOf(*rect);
  Box in = b;
  const int32 d = BevelInset(&in, std::max(width, 0));
  const Look look = LookOf(looks);
  if (look.kind == kFilled) {
    Pen(back);
    PaintOvalBox(b);
    Pen(fore);
    PaintOvalBox(in);
    return;
  }
  if (back != kTransparentColor) {
    Pen(back);
    for (int32 i = 1; i < d; ++i) FrameOvalBox(Inset(b, i));
  }
  if (fore == kTransparentColor) return;
  if (!look.bw && look.kind != kFlat) {
    const int32 a = DiagonalAngle(b);
    DColor first, second;
    BevelColours(fore, look.lowered, &first, &second);
    Pen(first, fore);
    FrameArcBox(b, a + 180, 180);
    FrameArcBox(in, a, 180);
    Pen(second, fore);
    FrameArcBox(b, a, 180);
    FrameArcBox(in, a + 180, 180);
  } else {
    Pen(fore);
    FrameOvalBox(b);
    FrameOvalBox(in);
  }
}

void DrawHalfOval(const Rect* rect, DColor fore, DColor back, int32 looks, int32 direction) {
  if (EmptyReported(rect, "DrawHalfOval empty rect")) return;
  const Box outer = BoxOf(*rect);
  const int32 dir = OneDirection(direction);
  const int32 start = dir == kPictLeft ? 180 : dir == kPictUp ? 270 : dir == kPictDown ? 90 : 0;
  const Look look = LookOf(looks);
  if (look.kind == kFilled) {
    Pen(fore);
    PaintArcBox(outer, start, 180);
    return;
  }
  if (fore == kTransparentColor) {
    Pen(back);
    PaintArcBox(outer, start, 180);
    return;
  }
  const Box shrunk = Inset(outer, 1);
  Pen(back);
  PaintArcBox(shrunk, start, 180);
  // The lit and the shaded part of the half, split on the diagonal.
  const int32 a = DiagonalAngle(shrunk);
  const bool leftOrDown = dir == kPictLeft || dir == kPictDown, leftOrUp = dir == kPictLeft || dir == kPictUp;
  const int32 hiStart = leftOrDown ? a + 180 : start, shStart = leftOrDown ? start : a;
  int32 hiExtent = leftOrUp ? 180 - a : a, shExtent = leftOrUp ? a : 180 - a;
  // An upper or lower half meets the diagonal 90 - A degrees from its
  // middle, not A: both parts end there, so neither runs past the half.
  if (dir == kPictUp) hiExtent = 90 + a, shExtent = 90 - a;
  else if (dir == kPictDown) hiExtent = 90 - a, shExtent = 90 + a;
  if (look.kind == kFlat) {
    Pen(fore);
    FrameArcBox(outer, start, 180);
  } else if (look.kind == kBevel && !look.bw) {
    DColor first, second;
    BevelColours(fore, look.lowered, &first, &second);
    Pen(first, fore);
    FrameArcBox(outer, hiStart, hiExtent);
    Pen(second, fore);
    FrameArcBox(outer, shStart, shExtent);
  } else if (look.kind == kBevel) {
    GreyShading grey;
    const bool shadowSide = (look.bits & 2) != 0;
    const int32 s = shadowSide ? shStart : hiStart, e = shadowSide ? shExtent : hiExtent;
    Box r = Inset(shrunk, 1);
    FrameArcBox(r, s + 2, e - 4);
    r = Inset(r, -1);
    FrameArcBox(r, s, e);
    Pen(fore);
    FrameArcBox(outer, start, 180);
  }
}

// ---- Rounded rectangles and oblongs ------------------------------------------------------

namespace {

// One ring of a rounded rectangle with corners of diameter c: its lit part
// (lower-left arc from 225 for 45, upper-left arc, upper-right arc to 45,
// left and top edges) or its shaded part (the rest).
void RoundRing(const Box& b, int32 c, bool lit) {
  const Box ul{b.top, b.left, b.top + c, b.left + c}, ur{b.top, b.right - c, b.top + c, b.right};
  const Box lr{b.bottom - c, b.right - c, b.bottom, b.right}, ll{b.bottom - c, b.left, b.bottom, b.left + c};
  const int32 k = c / 2;
  if (lit) {
    constexpr int32 a = 45;
    FrameArcBox(ll, a + 180, 90 - a);
    FrameArcBox(ul, -90, 90);
    FrameArcBox(ur, 0, 45);
    LineIn(b, b.left, b.top + k, b.left, b.bottom - 1 - k);
    LineIn(b, b.left + k, b.top, b.right - 1 - k, b.top);
  } else {
    FrameArcBox(ur, 45, 45);
    FrameArcBox(lr, 90, 90);
    FrameArcBox(ll, 180, 45);
    LineIn(b, b.right - 1, b.top + k, b.right - 1, b.bottom - 1 - k);
    LineIn(b, b.left + k, b.bottom - 1, b.right - 1 - k, b.bottom - 1);
  }
}

}  // namespace

void DrawRndRect(const Rect* rect, DColor fore, DColor back, int32 looks, int32 width) {
  if (EmptyReported(rect, "DrawRndRect empty rect")) return;
  const Box outer = BoxOf(*rect);
  const int32 c = MinSide(outer) / 2;
  const Look look = LookOf(looks);
  auto paint = [c](const Box& b) {
    if (b.Empty()) return;
    const Rect r = RectOf(b);
    DPaintRoundRect(&r, c, c);
  };
  if (look.kind == kFilled) {
    Pen(fore);
    paint(outer);
    return;
  }
  Pen(back);
  paint(Inset(outer, 1));
  if (fore == kTransparentColor) return;
  Box r = outer;
  const int32 n = BevelInset(&r, std::max(width, 0));
  if (look.kind == kFlat) {
    Pen(fore);
    for (int32 i = 0; i < n; ++i) {
      r = Inset(r, -1);
      FrameRoundBox(r, c);
    }
  } else if (look.kind == kBevel && !look.bw) {
    const bool outline = (looks & kLookOutline) != 0;
    if (outline) r = Inset(r, 1);
    DColor first, second;
    BevelColours(fore, look.lowered, &first, &second);
    const int32 rings = n + (outline ? 1 : 0);
    for (int32 i = 0; i < rings; ++i) {
      r = Inset(r, -1);
      Pen(first, fore);
      RoundRing(r, c, true);
      Pen(outline && i == rings - 1 ? kBlackColor : second, fore);
      RoundRing(r, c, false);
    }
  } else if (look.kind == kBevel) {
    GreyShading grey;
    r = Inset(r, 1);
    for (int32 i = 0; i <= n; ++i) {
      RoundRing(r, c, (look.bits & 1) != 0);
      r = Inset(r, -1);
    }
    Pen(fore);
    FrameRoundBox(outer, c);
  }
}

namespace {

// The parts of an oblong: its two end squares with their cap arcs and the
// middle between the cap centres.
struct Oblong {
  Box cap1, cap2, middle;
  int32 start1, start2;
  bool vertical;
};
Oblong OblongOf(const Box& b, bool vertical) {
  Oblong o{};
  o.vertical = vertical;
  if (vertical) {
    const int32 s = b.Width();
    o.cap1 = Box{b.top, b.left, b.top + s, b.right};
    o.cap2 = Box{b.bottom - s, b.left, b.bottom, b.right};
    o.middle = Box{b.top + s / 2, b.left, b.bottom - s / 2, b.right};
    o.start1 = -90;
    o.start2 = 90;
  } else {
    const int32 s = b.Height();
    o.cap1 = Box{b.top, b.left, b.bottom, b.left + s};
    o.cap2 = Box{b.top, b.right - s, b.bottom, b.right};
    o.middle = Box{b.top, b.left + s / 2, b.bottom, b.right - s / 2};
    o.start1 = 180;
    o.start2 = 0;
  }
  return o;
}
void PaintOblong(const Oblong& o) {
  PaintArcBox(o.cap1, o.start1, 180);
  PaintArcBox(o.cap2, o.start2, 180);
  PaintBox(o.middle);
}
// The long edges: the first (left or top) or the second (right or bottom).
void OblongEdge(const Box& b, const Oblong& o, bool first) {
  if (o.vertical) {
    const int32 h = first ? b.left : b.right - 1;
    LineIn(b, h, o.middle.top, h, o.middle.bottom - 1);
  } else {
    const int32 v = first ? b.top : b.bottom - 1;
    LineIn(b, o.middle.left, v, o.middle.right - 1, v);
  }
}
void FrameOblong(const Box& b, bool vertical) {
  const Oblong o = OblongOf(b, vertical);
  FrameArcBox(o.cap1, o.start1, 180);
  FrameArcBox(o.cap2, o.start2, 180);
  OblongEdge(b, o, true);
  OblongEdge(b, o, false);
}
// The lit or the shaded part of an oblong ring, the caps split at 45 degrees.
void OblongBevel(const Box& b, bool vertical, bool lit) {
  const Oblong o = OblongOf(b, vertical);
  if (vertical) {
    if (lit) FrameArcBox(o.cap1, -90, 135), FrameArcBox(o.cap2, 225, 45);
    else FrameArcBox(o.cap1, 45, 45), FrameArcBox(o.cap2, 90, 135);
  } else {
    if (lit) FrameArcBox(o.cap1, 225, 135), FrameArcBox(o.cap2, 0, 45);
    else FrameArcBox(o.cap1, 180, 45), FrameArcBox(o.cap2, 45, 135);
  }
  OblongEdge(b, o, lit);
}

}  // namespace

void DrawOblong(const Rect* rect, DColor fore, DColor back, int32 looks, int32 width, int32 direction) {
  if (EmptyReported(rect, "DrawOblong empty rect")) return;
  const Box outer = BoxOf(*rect);
  const bool vertical = (direction & kPictVertical) != 0;
  const int32 s = vertical ? outer.Width() : outer.Height(), along = vertical ? outer.Height() : outer.Width();
  if (along <= s) {
    DrawOval(rect, fore, back, looks, width);
    return;
  }
  const Look look = LookOf(looks);
  if (look.kind == kFilled) {
    Pen(fore);
    PaintOblong(OblongOf(outer, vertical));
    return;
  }
  Pen(back);
  PaintOblong(OblongOf(outer, vertical));
  if (fore == kTransparentColor) return;
  Box r = outer;
  const int32 n = BevelInset(&r, std::max(width, 0));
  if (look.kind == kBevel && !look.bw) {
    const bool outline = (looks & kLookOutline) != 0;
    if (outline) r = Inset(r, 1);
    DColor first, second;
    BevelColours(fore, look.lowered, &first, &second);
    for (int32 i = 0; i < n; ++i) {
      r = Inset(r, -1);
      Pen(first, fore);
      OblongBevel(r, vertical, true);
      Pen(second, fore);
      OblongBevel(r, vertical, false);
    }
    if (outline) {
      Pen(kBlackColor);
      FrameOblong(Inset(r, -1), vertical);
    }
  } else if (look.kind != kNone) {
    // Flat, and the shading looks of black-and-white ports: n frames.
    Pen(fore);
    for (int32 i = 0; i < n; ++i) {
      r = Inset(r, -1);
      FrameOblong(r, vertical);
    }
  }
}

void DrawKnob(const Rect* rect, DColor fore, DColor back) {
  if (EmptyReported(rect, "DrawKnob empty rect")) return;
  const Box b = BoxOf(*rect);
  const int32 a = DiagonalAngle(b);
  if (!DIsBW()) {
    if (back != kTransparentColor) {
      LighterPen(back);
      PaintArcBox(b, a + 180, 180);
      DarkerPen(back);
      PaintArcBox(b, a + 20, 140);
      Pen(back);
      PaintArcBox(b, a, 20);
      PaintArcBox(b, a + 160, 20);
    }
    if (fore != kTransparentColor) {
      DColor h, s;
      PiccHilites(fore, &h, &s);
      Pen(s, fore);
      FrameArcBox(b, a, 180);
      Pen(h, fore);
      FrameArcBox(b, a + 180, 180);
    }
  } else {
    Pen(back);
    PaintOvalBox(b);
    Pen(fore);
    FrameOvalBox(b);
    if (back != kTransparentColor) {
      GreyShading grey;
      const Box in = Inset(b, 1);
      PaintArcBox(in, a + 20, 140);
      PaintArcBox(in, a, 10);
      PaintArcBox(in, a + 170, 10);
    }
  }
  const int32 d = std::max(2, b.Height() / 8);
  const Box cap = Inset(b, d);
  if (cap.Empty()) return;
  const Rect capRect = RectOf(cap);
  DrawOval(&capRect, fore, back, kLookBWFlat | kLookRaised, 1);
}

// ---- Triangles and tests -----------------------------------------------------------------

Bool32 MakeTri(const Rect* rect, int32 direction, Point* points) {
  if (EmptyReported(rect, "MakeTri empty rect") || !points) return 0;
  const Box b = BoxOf(*rect);
  const int32 w2 = b.left + b.Width() / 2, h2 = b.top + b.Height() / 2;
  switch (OneDirection(direction)) {
    case kPictUp:
      points[0] = Pt(b.left, b.bottom - 1), points[1] = Pt(w2, b.top), points[2] = Pt(b.right - 1, b.bottom - 1);
      break;
    case kPictDown:
      points[0] = Pt(w2, b.bottom - 1), points[1] = Pt(b.left, b.top), points[2] = Pt(b.right - 1, b.top);
      break;
    case kPictLeft:
      points[0] = Pt(b.right - 1, b.top), points[1] = Pt(b.right - 1, b.bottom - 1), points[2] = Pt(b.left, h2);
      break;
    default:
      points[0] = Pt(b.left, b.bottom - 1), points[1] = Pt(b.left, b.top), points[2] = Pt(b.right - 1, h2);
      break;
  }
  return 1;
}

Bool32 MakeRightTri(const Rect* rect, int32 direction, Point* points) {
  if (EmptyReported(rect, "MakeRightTri empty rect") || !points) return 0;
  const Box b = BoxOf(*rect);
  // The corners clockwise from the bottom-left; the right angle is the
  // middle one of three consecutive corners.
  const Point corners[4] = {Pt(b.left, b.bottom - 1), Pt(b.left, b.top), Pt(b.right - 1, b.top),
                            Pt(b.right - 1, b.bottom - 1)};
  const int32 dir = OneDirection(direction);
  const int32 first = dir == kPictUp ? 0 : dir == kPictDown ? 2 : dir == kPictLeft ? 3 : 1;
  for (int32 i = 0; i < 3; ++i) points[i] = corners[(first + i) % 4];
  return 1;
}

namespace {

// A segment parallel to the edge (p, q), moved toward the opposite vertex o
// by `offset` pixels: its ends slide along the other two edges, so it stays
// inside the triangle.  Nothing when the triangle is not that high.
void ParallelIn(Point p, Point q, Point o, int32 offset) {
  const double ex = q.h - p.h, ey = q.v - p.v, len = std::hypot(ex, ey);
  if (len <= 0) return;
  const double height = std::fabs(ex * (o.v - p.v) - ey * (o.h - p.h)) / len;
  if (height <= offset) return;
  const double t = offset / height;
  auto toward = [t, o](Point from) {
    return Pt(int32(std::lround(from.h + t * (o.h - from.h))), int32(std::lround(from.v + t * (o.v - from.v))));
  };
  const Point a = toward(p), b = toward(q);
  DMoveTo(a.h, a.v);
  DLineTo(b.h, b.v);
}

}  // namespace

void DrawTriangle(Point* points, DColor fore, DColor back, int32 looks, int32 swap) {
  if (!points) return;
  points[3] = points[0];
  const Look look = LookOf(looks);
  if (look.kind == kFilled) {
    if (fore == kTransparentColor) return;
    Pen(fore);
    PaintPolygon(points, 3);
    OutlinePolygon(points, 3);
    return;
  }
  Pen(back);
  PaintPolygon(points, 3);
  if (fore == kTransparentColor) return;
  if (look.kind == kBevel && !look.bw) {
    DColor first, second;
    BevelColours(fore, swap != 0, &first, &second);
    Pen(first, fore);
    DMoveTo(points[0].h, points[0].v);
    DLineTo(points[1].h, points[1].v);
    DLineTo(points[2].h, points[2].v);
    Pen(second, fore);
    DLineTo(points[0].h, points[0].v);
    return;
  }
  if (look.kind == kNone) return;
  Pen(fore);
  OutlinePolygon(points, 3);
  if (look.kind != kBevel) return;
  // Grey lines inside the shaded edges, deeper without the top-left bit.
  GreyShading grey;
  const int32 base = look.bits & 1 ? 1 : 4;
  for (int32 k = base; k <= base + 1; ++k) {
    if (!swap) {
      ParallelIn(points[2], points[0], points[1], k);
    } else {
      ParallelIn(points[0], points[1], points[2], k);
      ParallelIn(points[1], points[2], points[0], k);
    }
  }
}

Bool32 PtInConvexPoly(Point point, int32 count, const Point* points) {
  if (!points || count < 3) return 0;
  bool positive = false, negative = false;
  for (int32 i = 0; i < count; ++i) {
    const Point a = points[i == 0 ? count - 1 : i - 1], b = points[i];
    const int64 area = int64(b.h - a.h) * (point.v - a.v) - int64(b.v - a.v) * (point.h - a.h);
    positive |= area > 0;
    negative |= area < 0;
    if (positive && negative) return 0;
  }
  return 1;
}

void ShrinkRectBR(Rect* r, int32 dv, int32 dh) {
  if (!r) return;
  r->bottom = Pin16(int64(r->bottom) - dv);
  r->right = Pin16(int64(r->right) - dh);
  if (DEmptyRect(r)) DBAssert(__FILE__, __LINE__, "ShrinkRectBR: the rectangle became empty");
}

void GrowRectBR(Rect* r, int32 dv, int32 dh) {
  if (!r) return;
  r->bottom = Pin16(int64(r->bottom) + dv);
  r->right = Pin16(int64(r->right) + dh);
  if (DEmptyRect(r)) DBAssert(__FILE__, __LINE__, "GrowRectBR: the rectangle became empty");
}
