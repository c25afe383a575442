// The process-plant pictures: two hoppers, an open tank, a pipe, an elbow,
// a tee, a motor, a pump and two valves.  Each is built by its geometry
// routine and drawn flat (the outline painted in the fill colour and framed)
// or shaded like lit metal: a highlight and a shadow tint of the fill
// colour, and their HLS mean, blended across the surfaces in bands.
#include "controls/processpict.h"

#include <algorithm>
#include <cmath>

#include "controls/picc_internal.h"
#include "controls/pictproc.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/window/wport.h"

using namespace picc;

namespace {

// The rectangle with its bottom and right edges moved in by a pixel: the
// last pixel row and column, inclusive.  False (and the shape's text) when
// nothing is left.
struct Area {
  int32 top, left, bottom, right;  // inclusive
  int32 w, h;
};
bool AreaOf(const Rect* r, const char* text, Area* a) {
  if (!r || r->right - r->left < 2 || r->bottom - r->top < 2) {
    DBPrintf("%s", text);
    return false;
  }
  Rect shrunk = *r;
  ShrinkRectBR(&shrunk, 1, 1);
  *a = Area{shrunk.top, shrunk.left, shrunk.bottom, shrunk.right, shrunk.right - shrunk.left,
            shrunk.bottom - shrunk.top};
  return true;
}

// A rectangle from inclusive pixel bounds; empty when they cross.
Rect Pixels(int32 top, int32 left, int32 bottom, int32 right) {
  if (bottom < top || right < left) return Rect{0, 0, 0, 0};
  return RectOf(Box{top, left, bottom + 1, right + 1});
}

// Local coordinates of a shape drawn in one orientation and turned to the
// others: local (x, y), 0..lw and 0..lh, transposed first, then mirrored.
struct Frame {
  Area a;
  bool transpose, mirrorX, mirrorY;
  int32 lw, lh;
  Frame(const Area& area, bool t, bool mx, bool my)
      : a(area), transpose(t), mirrorX(mx), mirrorY(my), lw(t ? area.h : area.w), lh(t ? area.w : area.h) {}
  Point P(int32 x, int32 y) const {
    const int32 gx = transpose ? y : x, gy = transpose ? x : y;
    return Pt(mirrorX ? a.right - gx : a.left + gx, mirrorY ? a.bottom - gy : a.top + gy);
  }
  Rect R(int32 x0, int32 y0, int32 x1, int32 y1) const {
    if (x1 < x0 || y1 < y0) return Rect{0, 0, 0, 0};
    const Point p = P(x0, y0), q = P(x1, y1);
    return Pixels(std::min(p.v, q.v), std::min(p.h, q.h), std::max(p.v, q.v), std::max(p.h, q.h));
  }
};

// The halvings that bring n to 0.
int32 Halvings(int32 n) {
  int32 k = 0;
  while (n > 0) n >>= 1, ++k;
  return k;
}

// Flange thickness of elbows and tees.
int32 FlangeOf(const Area& a) {
  return std::min({30, std::max((a.w + 1) >> 4, 1), std::max((a.h + 1) >> 4, 1)});
}

}  // namespace

// ---- Geometry ----------------------------------------------------------------------------

namespace {

Bool32 MakeHopper(const Rect* r, HopperGeom* g, bool formB) {
  Area a;
  if (!g || !AreaOf(r, "MakeHopper empty rect", &a)) return 0;
  const int32 knee = formB ? (a.top + a.bottom) / 2 : a.bottom - a.h / 4;
  const int32 bl = a.left + a.w / 4, br = a.right - a.w / 4;
  const Point p[6] = {Pt(a.left, a.top), Pt(a.right, a.top), Pt(a.right, knee),
                      Pt(br, a.bottom),  Pt(bl, a.bottom),   Pt(a.left, knee)};
  std::copy(p, p + 6, g->outline);
  g->outline[6] = p[0];
  g->knee = knee;
  g->w = a.w;
  return 1;
}

}  // namespace

Bool32 MakeHopperB(const Rect* r, HopperGeom* g) { return MakeHopper(r, g, true); }
Bool32 MakeHopperA(const Rect* r, HopperGeom* g) { return MakeHopper(r, g, false); }

Bool32 MakeOpenTank(const Rect* r, TankGeom* g) {
  Area a;
  if (!g || !AreaOf(r, "Make Open Tank empty rect", &a)) return 0;
  const Point p[8] = {Pt(a.left, a.top),           Pt(a.left + 2, a.top),  Pt(a.left + 2, a.bottom - 2),
                      Pt(a.right - 2, a.bottom - 2), Pt(a.right - 2, a.top), Pt(a.right, a.top),
                      Pt(a.right, a.bottom),       Pt(a.left, a.bottom)};
  std::copy(p, p + 8, g->outline);
  g->outline[8] = p[0];
  return 1;
}

Bool32 MakePipe(const Rect* r, int32 direction, PipeGeom* g) {
  Area a;
  if (!g || !AreaOf(r, "DrawPipe empty rect", &a)) return 0;
  const bool vertical = (direction & kPictVertical) != 0;
  const int32 cross = vertical ? a.w : a.h, length = vertical ? a.h : a.w;
  const int32 e = std::max((cross + 1) >> 3, 1), eLong = std::max((length + 1) >> 3, 1);
  const int32 f = std::min(eLong < 2 ? 1 : eLong / 2, 20);
  const Box b = BoxOf(*r);
  g->e = e, g->f = f, g->vertical = vertical;
  if (vertical) {
    g->body = RectOf(Box{b.top + f, b.left + e, b.bottom - f, b.right - e});
    g->flange1 = RectOf(Box{b.top, b.left, b.top + f, b.right});
    g->flange2 = RectOf(Box{b.bottom - f, b.left, b.bottom, b.right});
  } else {
    g->body = RectOf(Box{b.top + e, b.left + f, b.bottom - e, b.right - f});
    g->flange1 = RectOf(Box{b.top, b.left, b.bottom, b.left + f});
    g->flange2 = RectOf(Box{b.top, b.right - f, b.bottom, b.right});
  }
  return 1;
}

Bool32 MakeElbow(const Rect* r, int32 direction, ElbowGeom* g) {
  Area a;
  if (!g || !AreaOf(r, "DrawElbow empty rect", &a)) return 0;
  // Drawn leaving left and up with the bend at the lower right, then
  // mirrored: right leaves right and up, up left and down, down right and
  // down.
  const int32 dir = OneDirection(direction);
  const Frame f(a, false, dir == kPictRight || dir == kPictDown, dir == kPictUp || dir == kPictDown);
  const int32 t = FlangeOf(a), d = std::max(std::min(a.w / 2, a.h / 2) - 2 * t, 0);
  const int32 xo = f.lw - t, xi = xo - d, yo = f.lh - t, yi = yo - d;
  const Point p[7] = {f.P(xi, t), f.P(xo, t), f.P(xo, yi), f.P(xi, yo), f.P(t, yo), f.P(t, yi), f.P(xi, yi)};
  std::copy(p, p + 7, g->outline);
  g->outline[7] = p[0];
  g->bend = f.R(xi - d, yi - d, xi + d, yi + d);
  g->arcStart = dir == kPictLeft ? 90 : dir == kPictRight ? 180 : dir == kPictUp ? 0 : 270;
  g->standingLeg = f.R(xi, t, xo, yi);
  g->lyingLeg = f.R(t, yi, xi, yo);
  g->standingFlange = f.R(xi - t, 0, f.lw, t - 1);
  g->lyingFlange = f.R(0, yi - t, t - 1, f.lh);
  g->corner = f.R(xi, yi, xo, yo);
  g->splitFlags = dir == kPictLeft ? 0x30010 : dir == kPictRight ? 0x30001 : dir == kPictUp ? 0xC0010 : 0xC0001;
  // Grey lines 2 and 4 pixels inside the legs' outer sides.
  g->hatchCount = 0;
  for (int32 k = 2; k <= 4 && d > k; k += 2) {
    g->hatch[g->hatchCount][0] = f.P(xo - k, t + 1), g->hatch[g->hatchCount][1] = f.P(xo - k, yi);
    ++g->hatchCount;
    g->hatch[g->hatchCount][0] = f.P(t + 1, yo - k), g->hatch[g->hatchCount][1] = f.P(xi, yo - k);
    ++g->hatchCount;
  }
  g->t = t, g->d = d;
  return 1;
}

Bool32 MakeTee(const Rect* r, int32 direction, TeeGeom* g) {
  Area a;
  if (!g || !AreaOf(r, "DrawTee empty rect", &a)) return 0;
  // Drawn with the branch to the left and the through pipe standing at the
  // right, then turned: right mirrors it, up and down lay it down.
  const int32 dir = OneDirection(direction);
  const bool turned = dir == kPictUp || dir == kPictDown;
  const Frame f(a, turned, dir == kPictRight, dir == kPictDown);
  const int32 t = FlangeOf(a), c = std::min(a.w, a.h) / 2, d = std::max(c - 2 * t, 0);
  const int32 xo = f.lw - t, xi = f.lw - c + t, yi = f.lh / 2 - d / 2, yo = yi + d;
  const Point p[8] = {f.P(xo, t),  f.P(xo, f.lh - t), f.P(xi, f.lh - t), f.P(xi, yo),
                      f.P(t, yo), f.P(t, yi),        f.P(xi, yi),       f.P(xi, t)};
  std::copy(p, p + 8, g->outline);
  g->outline[8] = p[0];
  g->through = f.R(xi, t, xo, f.lh - t);
  g->branch = f.R(t, yi, xi, yo);
  g->flanges[0] = f.R(f.lw - c, 0, f.lw, t - 1);
  g->flanges[1] = f.R(f.lw - c, f.lh - t + 1, f.lw, f.lh);
  g->flanges[2] = f.R(0, yi - t, t - 1, yo + t);
  g->throughVertical = !turned;
  g->hatchCount = 0;
  for (int32 k = 2; k <= 4; k += 2) {
    if (xo - k > xi) {
      g->hatch[g->hatchCount][0] = f.P(xo - k, t + 1), g->hatch[g->hatchCount][1] = f.P(xo - k, f.lh - t - 1);
      ++g->hatchCount;
    }
    if (yo - k > yi) {
      g->hatch[g->hatchCount][0] = f.P(t + 1, yo - k), g->hatch[g->hatchCount][1] = f.P(xi, yo - k);
      ++g->hatchCount;
    }
  }
  g->t = t, g->d = d;
  return 1;
}

Bool32 MakeMotor(const Rect* r, MotorGeom* g) {
  Area a;
  if (!g || !AreaOf(r, "DrawMotor empty rect", &a)) return 0;
  const int32 n = a.w / 8, sum = a.h / 4 + a.h / 8;
  const int32 m = sum < 2 ? (a.h / 8 != 0 ? 1 : 0) : sum / 2;
  const Box b = BoxOf(*r);
  g->n = n, g->m = m;
  g->body = RectOf(Box{b.top, b.left + m, b.bottom - m, b.right - m});
  g->leftCap = RectOf(Box{b.top, b.left, b.bottom - m, b.left + 4 * m});
  g->rightCap = RectOf(Box{b.top, b.right - 4 * m, b.bottom - m, b.right});
  const int32 top = b.bottom - m - 1, bottom = b.bottom - 1;
  g->base[0] = Pt(b.left + 5 * n / 2, top);
  g->base[1] = Pt(b.right - 5 * n / 2 - 1, top);
  g->base[2] = Pt(b.right - 3 * n / 2 - 1, bottom);
  g->base[3] = Pt(b.left + 3 * n / 2, bottom);
  g->base[4] = g->base[0];
  return 1;
}

Bool32 MakePump(const Rect* r, int32 direction, PumpGeom* g) {
  Area a;
  if (!g || !AreaOf(r, "DrawPump empty rect", &a)) return 0;
  const Box b = BoxOf(*r);
  const int32 side = std::min(a.w, a.h), k = side - side / 8;
  const bool left = (direction & kPictLeft) != 0;
  const Box body = left ? Box{b.top, b.right - k, b.bottom - a.h / 8, b.right}
                        : Box{b.top, b.left, b.bottom - a.h / 8, b.left + k};
  const int32 centre = (body.left + body.right) / 2, outletBottom = b.top + a.h / 4 + a.h / 8;
  g->k = k;
  g->body = RectOf(body);
  g->outlet = RectOf(left ? Box{b.top, b.left, outletBottom, centre} : Box{b.top, centre, outletBottom, b.right});
  const Rect stand = RectOf(Box{b.top + a.h / 8, body.left, b.bottom, body.right});
  if (!MakeTri(&stand, kPictUp, g->stand)) g->stand[0] = g->stand[1] = g->stand[2] = Pt(body.left, b.top);
  return 1;
}

Bool32 MakeValve(const Rect* r, int32 direction, Bool32 roundActuator, ValveGeom* g) {
  Area a;
  if (!g || !AreaOf(r, "DrawValve empty rect", &a)) return 0;
  // Drawn with the actuator at the top, then turned: down mirrors it, left
  // and right stand it on its side.
  const int32 dir = OneDirection(direction);
  const bool sideways = dir == kPictLeft || dir == kPictRight;
  const Frame f(a, sideways, dir == kPictRight, dir == kPictDown);
  const int32 half = f.lw / 2, cx = half, hh = f.lh / 2, cy = (hh + f.lh) / 2;
  int32 q = std::max((half / 8 + half / 16) / 2, 1);
  if (q >= 2) q /= 2;
  const Point c = f.P(cx, cy);
  const Point bow[7] = {c, f.P(0, hh), f.P(0, f.lh), c, f.P(f.lw, f.lh), f.P(f.lw, hh), c};
  std::copy(bow, bow + 7, g->bowTie);
  g->leftTri[0] = f.P(0, hh), g->leftTri[1] = c, g->leftTri[2] = f.P(0, f.lh);
  g->rightTri[0] = f.P(f.lw, hh), g->rightTri[1] = f.P(f.lw, f.lh), g->rightTri[2] = c;
  g->leftTri[3] = g->leftTri[0], g->rightTri[3] = g->rightTri[0];
  const int32 actLeft = half / 2, actRight = f.lw - half / 2;
  g->diameter[0] = g->diameter[1] = c;
  int32 stemTop;
  if (!roundActuator) {
    g->actuator = f.R(actLeft, 0, actRight, hh / 2);
    g->actuatorOval = Rect{0, 0, 0, 0};
    stemTop = hh / 2;
  } else {
    const int32 top = hh / 4, flat = top + hh / 2;
    g->actuator = f.R(actLeft, top, actRight, flat);
    g->actuatorOval = f.R(actLeft, top, actRight, top + 2 * (flat - top));
    g->diameter[0] = f.P(actLeft, flat), g->diameter[1] = f.P(actRight, flat);
    stemTop = flat;
  }
  g->stem = f.R(cx - q, stemTop, cx + q, cy);
  g->q = q;
  g->facing = dir;
  g->roundActuator = roundActuator;
  return 1;
}

// ---- Drawing -----------------------------------------------------------------------------

namespace {

// How a shape is drawn: the colour look (0x100 lowered, 0x200 raised, 0x400
// flat frame, 0x800 filled), and its colours.
struct ProcLook {
  bool oneBit;
  int32 colour, bw;
  bool flat, shaded;
  DColor frame, fill;  // as given
  DColor line, paint;  // the flat look's: black and white on one-bit ports
  DColor hilite, shadow, middle;
};
ProcLook LookFor(const Style& s, DColor fore, DColor back) {
  ProcLook l{};
  l.oneBit = DIsBW() != 0;
  l.colour = s.looks & int32(kPictColourLookMask);
  l.bw = s.looks & int32(kPictBWLookMask);
  l.flat = (l.colour & (kLookFlat | kLookFilled)) != 0;
  l.shaded = !l.flat && (l.colour & (kLookLowered | kLookRaised)) != 0;
  l.frame = fore, l.fill = back;
  l.line = l.oneBit && fore != kTransparentColor ? kBlackColor : fore;
  l.paint = l.oneBit && back != kTransparentColor ? kWhiteColor : back;
  if (back != kTransparentColor && !l.oneBit) {
    // On 4-bit ports the tints of the fill colour itself, not the port's
    // two fixed greys.
    if (DGetDepth() == 4) {
      l.hilite = PiccLighterShade(back);
      l.shadow = PiccDarkerShade(back);
    } else {
      PiccHilites(back, &l.hilite, &l.shadow);
    }
    l.middle = HlsMean(l.hilite, l.shadow);
  } else {
    l.hilite = l.shadow = l.middle = kTransparentColor;
  }
  return l;
}
// Shading needs a colour port and a fill colour.
bool CanShade(const ProcLook& l) { return !l.oneBit && l.fill != kTransparentColor; }

void PaintPoly(const Point* points, int32 n, DColor colour) {
  Pen(colour);
  DPaintPoly(points, n, 0);
}
void FramePoly(const Point* points, int32 n, DColor colour) {
  Pen(colour);
  DPolyLine(points, n);
}
void PaintOval(const Rect& r, DColor colour) {
  if (DEmptyRect(&r)) return;
  Pen(colour);
  DPaintOval(&r);
}
void FlatRect(const Rect& r, const ProcLook& l) { FillFrameRect(&r, l.line, l.paint); }
void Cylinder(const Rect& r, DColor a, DColor b, DColor c, int32 axis, int32 shift) {
  if (!DEmptyRect(&r)) ShadeCylinder(&r, a, b, c, axis, shift);
}
void Hatch(const Point (*lines)[2], int32 count) {
  GreyShading grey;
  for (int32 i = 0; i < count; ++i) {
    DMoveTo(lines[i][0].h, lines[i][0].v);
    DLineTo(lines[i][1].h, lines[i][1].v);
  }
}
// The colour at fraction t of the way from a to b, in hue, lightness and
// saturation.
DColor Between(DColor a, DColor b, double t) {
  const Hls x = HlsOf(a), y = HlsOf(b);
  return RgbOf(float32(x.h + t * (y.h - x.h)), x.l + t * (y.l - x.l), float32(x.s + t * (y.s - x.s)));
}

// ---- Hoppers and the tank ----

void ShadedHopper(const HopperGeom& g, const ProcLook& l, int32 cylinderShift, int32 fanShift) {
  const int32 top = g.outline[0].v, left = g.outline[0].h, right = g.outline[1].h, bottom = g.outline[3].v;
  const int32 bl = g.outline[4].h, br = g.outline[3].h, knee = g.knee, mid = (left + right) / 2;
  const DColor m = l.middle, h = l.hilite, s = l.shadow;
  Cylinder(Pixels(top, left, knee - 1, right), m, h, s, kPictVertical, cylinderShift);
  // The slopes' colours where they meet the lower cylinder.
  const DColor c1 = Between(m, h, mid > left ? double(bl - left) / (mid - left) : 0);
  const DColor c2 = Between(h, s, right > mid ? double(br - mid) / (right - mid) : 0);
  Point fan[4] = {Pt(left, knee), Pt(bl, knee), Pt(bl, bottom)};
  ShadeTriangleFan(fan, kPictDown, m, c1, HlsMean(m, c1), fanShift);
  Cylinder(Pixels(knee, bl, bottom, br), c1, h, c2, kPictVertical, cylinderShift);
  fan[0] = Pt(br, knee), fan[1] = Pt(right, knee), fan[2] = Pt(br, bottom);
  ShadeTriangleFan(fan, kPictDown, c2, s, HlsMean(c2, s), fanShift);
}

void DrawHopper(const Rect* r, const Style& st, DColor fore, DColor back, bool formB) {
  HopperGeom g;
  if (!(formB ? MakeHopperB(r, &g) : MakeHopperA(r, &g))) return;
  const ProcLook l = LookFor(st, fore, back);
  if (l.shaded && l.oneBit) {
    // The second form has no flat stand-in for its shading.
    if (formB) return;
  } else if (l.shaded) {
    if (!CanShade(l)) return;
    const int32 s = std::min(Halvings(g.w), 6);
    if (formB) ShadedHopper(g, l, s - 1, s - 2);
    else ShadedHopper(g, l, 3, 2);
    return;
  }
  PaintPoly(g.outline, 6, l.paint);
  FramePoly(g.outline, 6, l.line);
}

bool HopperHit(const Rect* r, Point p, bool formB) {
  HopperGeom g;
  return (formB ? MakeHopperB(r, &g) : MakeHopperA(r, &g)) && PtInConvexPoly(p, 6, g.outline);
}

void DrawOpenTank(const Rect* r, const Style& st, DColor fore, DColor back) {
  TankGeom g;
  if (!MakeOpenTank(r, &g)) return;
  const ProcLook l = LookFor(st, fore, back);
  const int32 look = l.oneBit ? l.bw >> 4 : l.colour;
  if (look & kLookFilled) {
    PaintPoly(g.outline, 8, l.line);
  } else if (look & kLookFlat) {
    PaintPoly(g.outline, 8, l.paint);
    FramePoly(g.outline, 8, l.line);
  }
}

// ---- Pipes, elbows and tees ----

void DrawPipe(const Rect* r, const Style& st, DColor fore, DColor back) {
  PipeGeom g;
  if (!MakePipe(r, st.direction, &g)) return;
  const ProcLook l = LookFor(st, fore, back);
  if (l.flat) {
    FlatRect(g.body, l);
    FlatRect(g.flange1, l);
    FlatRect(g.flange2, l);
    return;
  }
  if (l.shaded && !l.oneBit) {
    if (!CanShade(l)) return;
    const int32 s = std::min(Halvings(std::min(RectWidth(r), RectHeight(r)) - 1), 5);
    for (const Rect& piece : {g.body, g.flange1, g.flange2}) {
      if (g.vertical) Cylinder(piece, l.middle, l.hilite, l.shadow, kPictVertical, s);
      else Cylinder(piece, l.shadow, l.hilite, l.middle, kPictHorizontal, s);
    }
    return;
  }
  // One-bit ports, and no look: a grey strip a quarter of the body across,
  // inside its right side (standing) or its top (lying).
  if (!DEmptyRect(&g.body)) {
    DrawRect(&g.body, l.line, l.paint, kLookBWFlat | kLookFlat, 1, 0);
    Box b = BoxOf(g.body);
    if (g.vertical) {
      const int32 q = std::max(1, b.Width() / 4);
      b = Box{b.top + 1, b.right - 1 - q, b.bottom - 1, b.right - 1};
    } else {
      const int32 q = std::max(1, b.Height() / 4);
      b = Box{b.top + 1, b.left + 1, b.top + 1 + q, b.right - 1};
    }
    GreyShading grey;
    PaintBox(b);
  }
  FlatRect(g.flange1, l);
  FlatRect(g.flange2, l);
}

bool PipeHit(const Rect* r, Point p, const Style& st) {
  PipeGeom g;
  return MakePipe(r, st.direction, &g) &&
         (DPtInRect(p, &g.body) || DPtInRect(p, &g.flange1) || DPtInRect(p, &g.flange2));
}

// The elbow's outline framed without the edge the bend replaces.
void FrameElbow(const ElbowGeom& g, DColor colour) {
  Pen(colour);
  const Point open[7] = {g.outline[3], g.outline[4], g.outline[5], g.outline[6],
                         g.outline[0], g.outline[1], g.outline[2]};
  DPolyLine(open, 6);
  if (!DEmptyRect(&g.bend)) DFrameArc(&g.bend, g.arcStart, 90);
}
void PaintElbow(const ElbowGeom& g, DColor colour) {
  Pen(colour);
  DPaintPoly(g.outline, 7, 0);
  if (!DEmptyRect(&g.bend)) DPaintArc(&g.bend, g.arcStart, 90);
}

void DrawElbow(const Rect* r, const Style& st, DColor fore, DColor back) {
  ElbowGeom g;
  if (!MakeElbow(r, st.direction, &g)) return;
  const ProcLook l = LookFor(st, fore, back);
  if (l.shaded && !l.oneBit) {
    if (!CanShade(l)) return;
    const DColor m = l.middle, h = l.hilite, s = l.shadow;
    const int32 dir = OneDirection(st.direction);
    const bool raised = (l.colour & kLookRaised) != 0;
    // The bend's outer colour and the legs' colours by direction and look.
    DColor x = m, a1 = m, c1 = s, a2 = s, c2 = m;
    if (dir == kPictLeft && raised) x = s;
    else if (dir == kPictLeft) a1 = s, c1 = m, a2 = m, c2 = s;
    else if (dir == kPictRight && raised) x = s;
    else if (dir == kPictRight) x = s, a1 = s, c1 = m, a2 = m, c2 = s;
    const int32 sh = std::min(Halvings(std::min(RectWidth(r), RectHeight(r)) - 1), 5);
    PaintElbow(g, m);
    Cylinder(g.standingLeg, a1, h, c1, kPictVertical, sh - 1);
    Cylinder(g.standingFlange, a1, h, c1, kPictVertical, sh - 1);
    Cylinder(g.lyingLeg, a2, h, c2, kPictHorizontal, sh - 1);
    Cylinder(g.lyingFlange, a2, h, c2, kPictHorizontal, sh - 1);
    if (!DEmptyRect(&g.corner)) ShadeBandsSplit(&g.corner, m, h, s, sh - 2, g.splitFlags);
    if (!DEmptyRect(&g.bend)) ShadeArcBands(&g.bend, x, h, g.arcStart, sh - 2);
    return;
  }
  PaintElbow(g, l.paint);
  FrameElbow(g, l.line);
  FlatRect(g.standingFlange, l);
  FlatRect(g.lyingFlange, l);
  if (l.shaded) {
    // One-bit ports: grey lines inside the outer sides and the bend.
    Hatch(g.hatch, g.hatchCount);
    GreyShading grey;
    for (int32 k = 2; k <= 4 && g.d > k; k += 2) {
      Rect arc = g.bend;
      DInsetRect(&arc, k, k);
      if (!DEmptyRect(&arc)) DFrameArc(&arc, g.arcStart, 90);
    }
  }
}

bool ElbowHit(const Rect* r, Point p, const Style& st) {
  ElbowGeom g;
  if (!MakeElbow(r, st.direction, &g)) return false;
  for (const Rect* piece : {&g.standingLeg, &g.lyingLeg, &g.standingFlange, &g.lyingFlange})
    if (DPtInRect(p, piece)) return true;
  return DPtInRect(p, &g.corner) && PtInEllipse(p, &g.bend);
}

void DrawTee(const Rect* r, const Style& st, DColor fore, DColor back) {
  TeeGeom g;
  if (!MakeTee(r, st.direction, &g)) return;
  const ProcLook l = LookFor(st, fore, back);
  if (l.shaded && !l.oneBit) {
    if (!CanShade(l)) return;
    const int32 s = std::min(Halvings(std::min(RectWidth(r), RectHeight(r)) - 1), 5);
    PaintPoly(g.outline, 8, l.middle);
    // Each piece a cylinder along its own axis: standing ones from M
    // through H to S, lying ones from S through H to M.
    auto along = [&](const Rect& piece, bool standing) {
      if (standing) Cylinder(piece, l.middle, l.hilite, l.shadow, kPictVertical, s);
      else Cylinder(piece, l.shadow, l.hilite, l.middle, kPictHorizontal, s);
    };
    along(g.through, g.throughVertical);
    along(g.flanges[0], g.throughVertical);
    along(g.flanges[1], g.throughVertical);
    along(g.branch, !g.throughVertical);
    along(g.flanges[2], !g.throughVertical);
    return;
  }
  PaintPoly(g.outline, 8, l.paint);
  FramePoly(g.outline, 8, l.line);
  if (l.shaded) Hatch(g.hatch, g.hatchCount);
  for (const Rect& flange : g.flanges) FlatRect(flange, l);
}

bool TeeHit(const Rect* r, Point p, const Style& st) {
  TeeGeom g;
  if (!MakeTee(r, st.direction, &g)) return false;
  if (DPtInRect(p, &g.through) || DPtInRect(p, &g.branch)) return true;
  for (const Rect& flange : g.flanges)
    if (DPtInRect(p, &flange)) return true;
  return false;
}

// ---- Motors and pumps ----

// The visible half of an end cap, as the box a fan triangle fills.
Rect CapHalf(const Rect& cap, bool left) {
  Box b = BoxOf(cap);
  if (left) b.right = b.left + b.Width() / 2;
  else b.left = b.right - b.Width() / 2;
  return RectOf(b);
}

void DrawMotor(const Rect* r, const Style& st, DColor fore, DColor back) {
  MotorGeom g;
  if (!MakeMotor(r, &g)) return;
  const ProcLook l = LookFor(st, fore, back);
  if (l.shaded && !l.oneBit) {
    if (!CanShade(l)) return;
    const Rect baseBox = RectOf(Box{g.base[0].v, g.base[3].h, g.base[3].v + 1, g.base[2].h + 1});
    Point tri[4];
    if (!DEmptyRect(&baseBox) && MakeTri(&baseBox, kPictUp, tri))
      ShadeTriangleFan(tri, kPictUp, l.middle, l.hilite, l.shadow, 3);
    for (const bool left : {true, false}) {
      const Rect half = CapHalf(left ? g.leftCap : g.rightCap, left);
      const int32 dir = left ? kPictLeft : kPictRight;
      if (!DEmptyRect(&half) && MakeTri(&half, dir, tri)) ShadeTriangleFan(tri, dir, l.shadow, l.hilite, l.middle, 3);
    }
    Cylinder(g.body, l.shadow, l.hilite, l.middle, kPictHorizontal, 3);
    return;
  }
  // The flat look, also for the shaded look on one-bit ports.
  if (!DEmptyRect(&g.leftCap)) DrawHalfOval(&g.leftCap, l.line, l.paint, kLookBWFlat | kLookFlat, kPictLeft);
  if (!DEmptyRect(&g.rightCap)) DrawHalfOval(&g.rightCap, l.line, l.paint, kLookBWFlat | kLookFlat, kPictRight);
  PaintPoly(g.base, 4, l.paint);
  FramePoly(g.base, 4, l.line);
  if (!DEmptyRect(&g.body)) DrawRect(&g.body, l.line, l.paint, kLookBWFlat | kLookFlat, 1, 0);
}

bool MotorHit(const Rect* r, Point p) {
  MotorGeom g;
  return MakeMotor(r, &g) && (DPtInRect(p, &g.body) || PtInConvexPoly(p, 4, g.base) ||
                              PtInEllipse(p, &g.leftCap) || PtInEllipse(p, &g.rightCap));
}

void DrawPump(const Rect* r, const Style& st, DColor fore, DColor back) {
  PumpGeom g;
  if (!MakePump(r, st.direction, &g)) return;
  const ProcLook l = LookFor(st, fore, back);
  const bool flat = l.oneBit ? l.bw == kLookBWFlat : l.flat;
  if (flat) {
    DrawTriangle(g.stand, l.line, l.paint, kLookBWFlat | kLookFlat, 0);
    FlatRect(g.outlet, l);
    PaintOval(g.body, l.paint);
    Pen(l.line);
    if (!DEmptyRect(&g.body)) DFrameOval(&g.body);
    return;
  }
  if (l.oneBit || !l.shaded || !CanShade(l)) return;
  ShadeTriangleFan(g.stand, kPictUp, l.middle, l.hilite, l.shadow, 3);
  Cylinder(g.outlet, l.shadow, l.hilite, l.middle, kPictHorizontal, 3);
  // The body: a disc with a lit arc at the upper right and a shaded one at
  // the lower left, and a face in the middle.
  Rect body = g.body;
  PaintOval(body, l.middle);
  DInsetRect(&body, std::max(1, RectWidth(&body) / 8), std::max(1, RectHeight(&body) / 8));
  if (DEmptyRect(&body)) return;
  Pen(l.hilite);
  DPaintArc(&body, -90, 135);
  Pen(l.shadow);
  DPaintArc(&body, 100, 120);
  DInsetRect(&body, std::max(1, RectWidth(&g.body) / 8), std::max(1, RectHeight(&g.body) / 8));
  PaintOval(body, l.middle);
}

bool PumpHit(const Rect* r, Point p, const Style& st) {
  PumpGeom g;
  return MakePump(r, st.direction, &g) &&
         (PtInEllipse(p, &g.body) || DPtInRect(p, &g.outlet) || PtInConvexPoly(p, 3, g.stand));
}

// ---- Valves ----

// The edges of a convex polygon retraced: those facing up and left in the
// highlight, the others in the shadow.
void Retrace(const Point* points, int32 n, DColor hilite, DColor shadow) {
  double ch = 0, cv = 0;
  for (int32 i = 0; i < n; ++i) ch += points[i].h, cv += points[i].v;
  ch /= n, cv /= n;
  for (int32 i = 0; i < n; ++i) {
    const Point p = points[i], q = points[(i + 1) % n];
    // The edge's normal pointing away from the centre.
    double nh = q.v - p.v, nv = -(q.h - p.h);
    if (nh * ((p.h + q.h) / 2.0 - ch) + nv * ((p.v + q.v) / 2.0 - cv) < 0) nh = -nh, nv = -nv;
    const bool lit = nh + nv < 0 || (nh + nv == 0 && nv < 0);
    Pen(lit ? hilite : shadow);
    DMoveTo(p.h, p.v);
    DLineTo(q.h, q.v);
  }
}
void RetraceRect(const Rect& r, DColor hilite, DColor shadow) {
  if (DEmptyRect(&r)) return;
  const Point corners[4] = {Pt(r.left, r.top), Pt(r.right - 1, r.top), Pt(r.right - 1, r.bottom - 1),
                            Pt(r.left, r.bottom - 1)};
  Retrace(corners, 4, hilite, shadow);
}

void DrawValve(const Rect* r, const Style& st, DColor fore, DColor back, bool round) {
  ValveGeom g;
  if (!MakeValve(r, st.direction, round, &g)) return;
  const ProcLook l = LookFor(st, fore, back);
  FlatRect(g.stem, l);
  PaintPoly(g.leftTri, 3, l.paint);
  PaintPoly(g.rightTri, 3, l.paint);
  FramePoly(g.bowTie, 6, l.line);
  if (!round) {
    if (!DEmptyRect(&g.actuator)) DrawRect(&g.actuator, l.line, l.paint, kLookBWFlat | kLookFlat, 1, 0);
  } else {
    if (!DEmptyRect(&g.actuatorOval))
      DrawHalfOval(&g.actuatorOval, l.line, l.paint, kLookBWFlat | kLookFlat, g.facing);
    Pen(l.line);
    DMoveTo(g.diameter[0].h, g.diameter[0].v);
    DLineTo(g.diameter[1].h, g.diameter[1].v);
  }
  if (!l.shaded || !CanShade(l)) return;
  DColor hilite, shadow;
  PiccHilites(l.fill, &hilite, &shadow);
  Point tri[3] = {g.leftTri[0], g.leftTri[1], g.leftTri[2]};
  Retrace(tri, 3, hilite, shadow);
  tri[0] = g.rightTri[0], tri[1] = g.rightTri[1], tri[2] = g.rightTri[2];
  Retrace(tri, 3, hilite, shadow);
  RetraceRect(g.stem, hilite, shadow);
  if (!round) RetraceRect(g.actuator, hilite, shadow);
  else if (!DEmptyRect(&g.actuatorOval))
    DrawHalfOval(&g.actuatorOval, l.fill, kTransparentColor, kLookBWFlat | kLookRaised, g.facing);
}

bool ValveHit(const Rect* r, Point p, const Style& st, bool round) {
  ValveGeom g;
  if (!MakeValve(r, st.direction, round, &g)) return false;
  if (PtInConvexPoly(p, 3, g.leftTri) || PtInConvexPoly(p, 3, g.rightTri) || DPtInRect(p, &g.stem)) return true;
  return DPtInRect(p, &g.actuator) && (!round || PtInEllipse(p, &g.actuatorOval));
}

// A process procedure: its drawing and hit test, the rest of its messages
// the rectangle's defaults.
using DrawFn = void (*)(const Rect*, const Style&, DColor, DColor);
using HitFn = bool (*)(const Rect*, Point, const Style&);
template <DrawFn Draw, HitFn Hit>
int32 ProcessProc(int32 message, PictStyleBlock* sb, PictMessageBlock* b) {
  switch (message) {
    case kPictMsgDraw:
      if (HasRect(b)) {
        // A rectangle too narrow for a shape's proportions (a motor's caps,
        // a pump's stand) keeps the shape's pieces inside it.
        Rect saved{0, 0, 0, 0};
        WLimitClip(b->rect, &saved);
        Draw(b->rect, StyleOf(sb), b->foreColor, b->backColor);
        WRestoreClip(&saved);
      }
      return 0;
    case kPictMsgHit:
      if constexpr (Hit != nullptr) {
        if (HasRect(b)) b->result = Hit(b->rect, b->point, StyleOf(sb)) && DPtInRect(b->point, b->rect) ? 1 : 0;
        return 0;
      }
      break;
    default: break;
  }
  return RectDefaultPictProc(message, sb, b);
}

void HopperA(const Rect* r, const Style& s, DColor f, DColor b) { DrawHopper(r, s, f, b, false); }
void HopperB(const Rect* r, const Style& s, DColor f, DColor b) { DrawHopper(r, s, f, b, true); }
bool HopperAHit(const Rect* r, Point p, const Style&) { return HopperHit(r, p, false); }
bool HopperBHit(const Rect* r, Point p, const Style&) { return HopperHit(r, p, true); }
bool MotorHitOf(const Rect* r, Point p, const Style&) { return MotorHit(r, p); }
void Valve(const Rect* r, const Style& s, DColor f, DColor b) { DrawValve(r, s, f, b, false); }
void RoundValve(const Rect* r, const Style& s, DColor f, DColor b) { DrawValve(r, s, f, b, true); }
bool ValveHitOf(const Rect* r, Point p, const Style& s) { return ValveHit(r, p, s, false); }
bool RoundValveHit(const Rect* r, Point p, const Style& s) { return ValveHit(r, p, s, true); }

}  // namespace

int32 HopperAPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return ProcessProc<HopperA, HopperAHit>(m, s, b);
}
int32 HopperBPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return ProcessProc<HopperB, HopperBHit>(m, s, b);
}
int32 OpenTankPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return ProcessProc<DrawOpenTank, nullptr>(m, s, b);
}
int32 ElbowPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return ProcessProc<DrawElbow, ElbowHit>(m, s, b); }
int32 TeePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return ProcessProc<DrawTee, TeeHit>(m, s, b); }
int32 MotorPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return ProcessProc<DrawMotor, MotorHitOf>(m, s, b);
}
int32 PumpPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return ProcessProc<DrawPump, PumpHit>(m, s, b); }
int32 ValvePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return ProcessProc<Valve, ValveHitOf>(m, s, b);
}
int32 RoundValvePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return ProcessProc<RoundValve, RoundValveHit>(m, s, b);
}
int32 PipePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  if (m == kPictMsgSize) {
    const bool vertical = (StyleOf(s).direction & kPictVertical) != 0;
    AnswerSize(b, vertical ? 16 : 32, vertical ? 32 : 16);
    return 0;
  }
  return ProcessProc<DrawPipe, PipeHit>(m, s, b);
}
