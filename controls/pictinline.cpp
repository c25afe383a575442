// The small pictures drawn straight with port primitives: plain
// triangles, bars and stems, and the symbols of process diagrams (an oval
// with a zigzag or a cross, twin triangles, a flask, a trapezoid, a drum,
// a zigzag).
#include <algorithm>

#include "controls/picc.h"
#include "controls/pictproc.h"
#include "mgsource/draw/dport.h"
#include "mgsource/window/wport.h"

using namespace picc;

namespace {

// The rectangle shrunk by 1 at bottom and right, so that outlines lie on
// its pixels, with s = max(1, height / 8) and t = max(1, width / 8) of the
// rectangle as given.
struct Inner {
  Box r;
  int32 s, t;
};
Inner InnerOf(const Rect* rect) {
  const Box b = BoxOf(*rect);
  return Inner{Box{b.top, b.left, b.bottom - 1, b.right - 1}, std::max(1, b.Height() / 8),
               std::max(1, b.Width() / 8)};
}

// The fill and outline pens of the symbols: backColor (white on
// black-and-white ports), foreColor (black).
void FillPen(DColor back) { Pen(back, back == kTransparentColor ? back : kWhiteColor); }
void LinePen(DColor fore) { Pen(fore, fore == kTransparentColor ? fore : kBlackColor); }

// The symbols that draw only with the flat look of the port.
bool FlatLook(int32 looks) { return (looks & (DIsBW() ? kLookBWFlat : kLookFlat)) != 0; }

// A shape painted in backColor and outlined in foreColor, or painted in
// foreColor for the filled look.
void PaintAndOutline(Point* points, int32 n, DColor fore, DColor back, int32 looks) {
  if (LookOf(looks).kind == kFilled) {
    Pen(fore);
    PaintPolygon(points, n);
    return;
  }
  Pen(back);
  PaintPolygon(points, n);
  Pen(fore);
  OutlinePolygon(points, n);
}
void BoxPaintAndFrame(const Box& b, DColor fore, DColor back, int32 looks) {
  if (LookOf(looks).kind == kFilled) {
    Pen(fore);
    PaintBox(b);
    return;
  }
  Pen(back);
  PaintBox(b);
  Pen(fore);
  FrameBox(b);
}
void OvalPaintAndFrame(const Box& b, DColor fore, DColor back) {
  FillPen(back);
  PaintOvalBox(b);
  LinePen(fore);
  FrameOvalBox(b);
}
void Line(int32 h0, int32 v0, int32 h1, int32 v1) {
  DMoveTo(h0, v0);
  DLineTo(h1, v1);
}
bool InBox(Point p, const Box& b) { return b.Holds(p.h, p.v); }
bool InOvalBox(Point p, const Box& b) {
  const Rect r = RectOf(b);
  return !b.Empty() && PtInEllipse(p, &r);
}

// A procedure from its drawing and its hit test (null: the rectangle's),
// with a natural size (0: 32 x 32).
using DrawFn = void (*)(const Rect*, DColor, DColor, const Style&);
using HitFn = bool (*)(const Rect*, Point, const Style&);
using SizeFn = void (*)(const Style&, int32* w, int32* h);
template <DrawFn Draw, HitFn Hit = nullptr, SizeFn Size = nullptr>
int32 ShapeProc(int32 message, PictStyleBlock* sb, PictMessageBlock* b) {
  const Style s = StyleOf(sb);
  switch (message) {
    case kPictMsgDraw:
      if (HasRect(b) && !DEmptyRect(b->rect)) {
        // Shapes of fixed proportions (a drum's end ovals) stay inside a
        // rectangle too narrow for them.
        Rect saved{0, 0, 0, 0};
        WLimitClip(b->rect, &saved);
        Draw(b->rect, b->foreColor, b->backColor, s);
        WRestoreClip(&saved);
      }
      return 0;
    case kPictMsgHit:
      if constexpr (Hit != nullptr) {
        if (HasRect(b)) b->result = !DEmptyRect(b->rect) && DPtInRect(b->point, b->rect) && Hit(b->rect, b->point, s) ? 1 : 0;
        return 0;
      }
      break;
    case kPictMsgSize:
      if constexpr (Size != nullptr) {
        if (HasRect(b)) {
          int32 w = 32, h = 32;
          Size(s, &w, &h);
          AnswerSize(b, w, h);
        }
        return 0;
      }
      break;
    default: break;
  }
  return RectDefaultPictProc(message, sb, b);
}

// ---- Triangles, bars and stems ----

void PlainTriangle(const Rect* r, DColor fore, DColor back, const Style& s) {
  Point points[4];
  if (MakeTri(r, s.direction, points)) PaintAndOutline(points, 3, fore, back, s.looks);
}
bool PlainTriangleHit(const Rect* r, Point p, const Style& s) {
  Point points[4];
  return MakeTri(r, s.direction, points) && PtInConvexPoly(p, 3, points);
}
void Eight(const Style&, int32* w, int32* h) { *w = *h = 8; }

void Bar(const Rect* r, DColor fore, DColor back, const Style& s) { BoxPaintAndFrame(BoxOf(*r), fore, back, s.looks); }
void BarSize(const Style& s, int32* w, int32* h) {
  const bool vertical = (s.direction & kPictVertical) != 0;
  *w = vertical ? 2 : 32;
  *h = vertical ? 32 : 2;
}

Box StemBox(const Rect* r) {
  Box b = BoxOf(*r);
  const int32 w = b.Width(), in = w / 4 + w / 8;
  b.left += in;
  b.right -= in;
  return b;
}
void Stem(const Rect* r, DColor fore, DColor back, const Style& s) {
  BoxPaintAndFrame(StemBox(r), fore, back, s.looks);
}
bool StemHit(const Rect* r, Point p, const Style&) { return InBox(p, StemBox(r)); }

// ---- Process symbols ----

Box OvalOf(const Inner& in) { return Box{in.r.top + in.s, in.r.left + in.t, in.r.bottom - in.s, in.r.right - in.t}; }

void OvalZigzag(const Rect* rect, DColor fore, DColor back, const Style& s) {
  if (!FlatLook(s.looks)) return;
  const Inner in = InnerOf(rect);
  const Box& r = in.r;
  const Box o = OvalOf(in);
  OvalPaintAndFrame(o, fore, back);
  const int32 m = (r.top + r.bottom) / 2, cx = (o.left + o.right) / 2;
  LinePen(fore);
  const Point zig[6] = {Pt(r.left, m),
                        Pt(o.left, m),
                        Pt((o.left + cx) / 2, (m + o.top) / 2),
                        Pt((cx + o.right) / 2, (m + o.bottom) / 2),
                        Pt(o.right, m),
                        Pt(r.right, m)};
  DPolyLine(zig, 5);
}
bool OvalZigzagHit(const Rect* r, Point p, const Style&) { return InOvalBox(p, OvalOf(InnerOf(r))); }

void OvalCross(const Rect* rect, DColor fore, DColor back, const Style& s) {
  if (!FlatLook(s.looks)) return;
  const Inner in = InnerOf(rect);
  const Box& r = in.r;
  OvalPaintAndFrame(OvalOf(in), fore, back);
  const int32 ch = (r.left + r.right) / 2, cv = (r.top + r.bottom) / 2;
  LinePen(fore);
  Line(ch, r.top, ch, r.bottom);
  Line(r.left, cv, r.right, cv);
}

// Twin triangles: two triangles meeting below the middle, each closed by a
// half oval on its outer side, and a stem from the top to where they meet.
struct Twin {
  Point left[4], right[4];
  Box leftOval, rightOval;
  int32 cx, top, j;
};
Twin TwinOf(const Rect* rect) {
  const Inner in = InnerOf(rect);
  const Box& r = in.r;
  const int32 t = in.t, m = (r.top + r.bottom) / 2, j = (m + r.bottom) / 2, cx = (r.left + r.right) / 2;
  Twin w{};
  w.left[0] = Pt(r.left + t, m), w.left[1] = Pt(cx, j), w.left[2] = Pt(r.left + t, r.bottom);
  w.right[0] = Pt(r.right - t, m), w.right[1] = Pt(cx, j), w.right[2] = Pt(r.right - t, r.bottom);
  w.rightOval = Box{m, r.right - 2 * t, r.bottom, r.right};
  w.leftOval = Box{m, r.left, r.bottom, r.left + 2 * t};
  w.cx = cx, w.top = r.top, w.j = j;
  return w;
}
void TwinTriangle(const Rect* rect, DColor fore, DColor back, const Style& s) {
  if (!FlatLook(s.looks)) return;
  Twin w = TwinOf(rect);
  FillPen(back);
  PaintPolygon(w.left, 3);
  PaintPolygon(w.right, 3);
  LinePen(fore);
  DPolyLine(w.left, 2);
  OutlinePolygon(w.right, 3);
  for (const auto& [oval, start] : {std::pair{w.rightOval, 0}, std::pair{w.leftOval, 180}}) {
    FillPen(back);
    PaintArcBox(oval, start, 180);
    LinePen(fore);
    FrameArcBox(oval, start, 180);
  }
  Line(w.cx, w.top, w.cx, w.j);
}
bool TwinTriangleHit(const Rect* rect, Point p, const Style&) {
  const Twin w = TwinOf(rect);
  return PtInConvexPoly(p, 3, w.left) || PtInConvexPoly(p, 3, w.right) || InBox(p, w.leftOval) ||
         InBox(p, w.rightOval);
}

// The flask: a neck a half of the width wide over the upper quarter, then
// shoulders out to the full width at mid-height.  Its points stay on the
// rectangle's pixels.
void FlaskPoints(const Rect* rect, Point* p) {
  const Box b = BoxOf(*rect);
  const int32 right = b.right - 1, bottom = b.bottom - 1;
  const int32 c = (b.left + right) / 2, q = b.Width() / 4, middle = (b.top + bottom) / 2, tq = (b.top + middle) / 2;
  p[0] = Pt(c - q, b.top), p[1] = Pt(c + q, b.top), p[2] = Pt(c + q, tq), p[3] = Pt(right, middle);
  p[4] = Pt(right, bottom), p[5] = Pt(b.left, bottom), p[6] = Pt(b.left, middle), p[7] = Pt(c - q, tq);
}
void Flask(const Rect* rect, DColor fore, DColor back, const Style& s) {
  if (!FlatLook(s.looks)) return;
  Point p[9];
  FlaskPoints(rect, p);
  FillPen(back);
  PaintPolygon(p, 8);
  LinePen(fore);
  OutlinePolygon(p, 8);
}
bool FlaskHit(const Rect* rect, Point pt, const Style&) {
  // The outline is convex but for its neck: the neck and the body apart.
  Point p[9];
  FlaskPoints(rect, p);
  const Point neck[4] = {p[0], p[1], p[2], p[7]};
  const Point body[6] = {p[7], p[2], p[3], p[4], p[5], p[6]};
  return PtInConvexPoly(pt, 4, neck) || PtInConvexPoly(pt, 6, body);
}

void TrapezoidPoints(const Rect* rect, Point* p) {
  const Box r = InnerOf(rect).r;
  const int32 d = std::max(2, r.Width() / 8), h = r.Height();
  p[0] = Pt(r.left + d, r.top), p[1] = Pt(r.right - d, r.top + h / 4), p[2] = Pt(r.right - d, r.bottom - h / 4);
  p[3] = Pt(r.left + d, r.bottom);
}
void Trapezoid(const Rect* rect, DColor fore, DColor back, const Style& s) {
  if (!FlatLook(s.looks)) return;
  const Box r = InnerOf(rect).r;
  const int32 cv = (r.top + r.bottom) / 2;
  LinePen(fore);
  Line(r.left, cv, r.right, cv);
  Point p[5];
  TrapezoidPoints(rect, p);
  FillPen(back);
  PaintPolygon(p, 4);
  LinePen(fore);
  OutlinePolygon(p, 4);
}
bool TrapezoidHit(const Rect* rect, Point pt, const Style&) {
  Point p[5];
  TrapezoidPoints(rect, p);
  return PtInConvexPoly(pt, 4, p);
}

// The drum: two end ovals a height across, and bands a quarter of the
// height along the top and bottom between their centres.
struct Drum {
  Box left, right, middle, topBand, bottomBand;
};
Drum DrumOf(const Rect* rect) {
  const Box r = InnerOf(rect).r;
  const int32 h = r.Height(), band = std::max(1, h / 4);
  Drum d{};
  d.left = Box{r.top, r.left, r.top + h, r.left + h};
  d.right = Box{r.top, r.right - h, r.top + h, r.right};
  d.middle = Box{r.top, r.left + h / 2, r.bottom, r.right - h / 2};
  d.topBand = Box{r.top, d.middle.left, r.top + band, d.middle.right};
  d.bottomBand = Box{r.bottom - band, d.middle.left, r.bottom, d.middle.right};
  return d;
}
void DrumShape(const Rect* rect, DColor fore, DColor back, const Style&) {
  const Drum d = DrumOf(rect);
  for (const Box& band : {d.topBand, d.bottomBand}) {
    FillPen(back);
    PaintBox(band);
    LinePen(fore);
    FrameBox(band);
  }
  OvalPaintAndFrame(d.left, fore, back);
  OvalPaintAndFrame(d.right, fore, back);
}
bool DrumHit(const Rect* rect, Point p, const Style&) {
  const Drum d = DrumOf(rect);
  return InBox(p, d.middle) || InOvalBox(p, d.left) || InOvalBox(p, d.right);
}
void DrumSize(const Style&, int32* w, int32* h) { *w = 64, *h = 16; }

void Zigzag(const Rect* rect, DColor fore, DColor, const Style&) {
  const Box r = InnerOf(rect).r;
  const int32 d = std::max(2, r.Width() / 4), m = (r.top + r.bottom) / 2;
  LinePen(fore);
  Line(r.left, m, r.left + d, m);
  Line(r.right - d, m, r.right, m);
  const Point zig[4] = {Pt(r.left + d, r.bottom), Pt(r.left + d, r.top), Pt(r.right - d, r.bottom),
                        Pt(r.right - d, r.top)};
  DPolyLine(zig, 3);
}

}  // namespace

int32 PlainTrianglePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return ShapeProc<PlainTriangle, PlainTriangleHit, Eight>(m, s, b);
}
int32 BarPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return ShapeProc<Bar, nullptr, BarSize>(m, s, b);
}
int32 StemPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return ShapeProc<Stem, StemHit>(m, s, b); }
int32 OvalZigzagPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return ShapeProc<OvalZigzag, OvalZigzagHit>(m, s, b);
}
int32 OvalCrossPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return ShapeProc<OvalCross>(m, s, b); }
int32 TwinTrianglePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return ShapeProc<TwinTriangle, TwinTriangleHit>(m, s, b);
}
int32 FlaskPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return ShapeProc<Flask, FlaskHit>(m, s, b); }
int32 TrapezoidPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return ShapeProc<Trapezoid, TrapezoidHit>(m, s, b);
}
int32 DrumPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return ShapeProc<DrumShape, DrumHit, DrumSize>(m, s, b);
}
int32 ZigzagPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return ShapeProc<Zigzag>(m, s, b); }
