// The composite control parts drawn from the bevelled shapes: arrow
// buttons, check boxes, slide and toggle switches, push buttons, slider
// switches, LEDs and LED buttons, refnum and document frames, the path, tag
// and diamond glyphs.
#include <algorithm>

#include "controls/picc.h"
#include "controls/picc_internal.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dport.h"

using namespace picc;

namespace {

void DrawRectBox(const Box& b, DColor fore, DColor back, int32 looks, int32 width, int32 direction) {
  if (b.Empty()) return;
  const Rect r = RectOf(b);
  DrawRect(&r, fore, back, looks, width, direction);
}
void DrawOvalBox(const Box& b, DColor fore, DColor back, int32 looks, int32 width) {
  if (b.Empty()) return;
  const Rect r = RectOf(b);
  DrawOval(&r, fore, back, looks, width);
}
void LighterPen(DColor c) { Pen(PiccLighterShade(c), c == kTransparentColor ? c : kBlackColor); }
void DarkerPen(DColor c) { Pen(PiccDarkerShade(c), c == kTransparentColor ? c : kBlackColor); }

}  // namespace

// ---- Arrows and check boxes --------------------------------------------------------------

void DrawArrowTri(const Rect* r, DColor fore, DColor back, int32 looks, int32 direction) {
  Point points[4];
  if (!MakeTri(r, direction, points)) return;
  const bool bw = DIsBW() != 0;
  const int32 bit = OneDirection(direction) == kPictLeft ? (bw ? kLookBWBottomRight : kLookRaised)
                                                         : (bw ? kLookBWTopLeft : kLookLowered);
  DrawTriangle(points, fore, back, looks, looks & bit);
}

void DrawArrowRect(const Rect* r, DColor fore, DColor back, int32 looks, int32 direction) {
  if (EmptyReported(r, "DrawArrowRect empty rect")) return;
  const Look look = LookOf(looks);
  DrawRect(r, !look.bw && look.kind == kBevel ? back : fore, back, looks, 1, 0);
  if (fore == kTransparentColor) return;
  const Box b = BoxOf(*r);
  const int32 s = MinSide(b) - 2, a = int32(s * 0.866);
  const int32 dir = OneDirection(direction);
  const bool vertical = dir == kPictUp || dir == kPictDown;
  const int32 w = vertical ? s : a, h = vertical ? a : s;
  if (w <= 0 || h <= 0) return;
  const int32 left = b.left + (b.Width() - w) / 2, top = b.top + (b.Height() - h) / 2;
  const Rect tri = RectOf(Box{top, left, top + h, left + w});
  Point points[4];
  if (MakeTri(&tri, direction, points)) DrawTriangle(points, fore, back, kLookBWFilled | kLookFilled, 0);
}

void DrawCheckBox(const Rect* r, DColor fore, DColor back, int32 looks) {
  if (EmptyReported(r, "DrawCheckBox empty rect")) return;
  DrawRect(r, fore, back, looks, 1, 0);
  if (fore == kTransparentColor) return;
  const Box b = BoxOf(*r);
  Pen(fore);
  LineIn(b, b.left, b.top, b.right - 1, b.bottom - 1);
  LineIn(b, b.left, b.bottom - 1, b.right - 1, b.top);
}

// ---- Switches ----------------------------------------------------------------------------

namespace {

// The thumb or handle of a switch: the half of the box the direction names
// (up or down, left or right), one pixel clear of the middle.
Box HalfToward(Box b, bool upDown, int32 direction) {
  const int32 dir = OneDirection(direction);
  if (upDown) {
    const int32 mid = (b.top + b.bottom) / 2;
    if (dir == kPictUp) b.bottom = mid;
    else b.top = mid + 1;
  } else {
    const int32 mid = (b.left + b.right) / 2;
    if (dir == kPictLeft) b.right = mid;
    else b.left = mid + 1;
  }
  return b;
}

void DrawSwitch(const char* text, const Rect* r, DColor fore, DColor back, int32 direction, bool upDown) {
  if (EmptyReported(r, text)) return;
  const bool bw = DIsBW() != 0;
  if (back != kTransparentColor) DrawRect(r, bw ? fore : back, back, kLookBWTopLeft | kLookLowered, 1, 0);
  const Box t = HalfToward(Inset(BoxOf(*r), 1), upDown, direction);
  DrawRectBox(t, fore, bw ? back : fore, kLookBWFlat | kLookRaised, 1, upDown ? kPictHorizontal : kPictVertical);
}

}  // namespace

void DrawUDSwitch(const Rect* r, DColor fore, DColor back, int32 direction) {
  DrawSwitch("DrawUDSwitch empty rect", r, fore, back, direction, true);
}

void DrawLRSwitch(const Rect* r, DColor fore, DColor back, int32 direction) {
  DrawSwitch("DrawLRSwitch empty rect", r, fore, back, direction, false);
}

void DrawToggle(const Rect* r, DColor fore, DColor back, int32 direction) {
  if (EmptyReported(r, "DrawToggle empty rect")) return;
  const Box b = BoxOf(*r);
  const int32 ch = (b.left + b.right) / 2, cv = (b.top + b.bottom) / 2;
  const bool bar = direction == kPictHorizontal || direction == kPictVertical;
  const int32 dir = bar ? direction : OneDirection(direction);
  int32 radius = dir == kPictUp || dir == kPictDown || dir == kPictVertical ? (ch - b.left) / 2 : (cv - b.top) / 2;
  // The base stays inside the rectangle whatever its proportions.
  radius = std::min({radius, ch - b.left, b.right - ch, cv - b.top, b.bottom - cv});
  if (radius > 0) DrawOvalBox(Box{cv - radius, ch - radius, cv + radius, ch + radius}, fore, back, 0x2200, 1);
  if (dir == kPictHorizontal) {
    DrawRectBox(Box{b.top, ch - radius, b.bottom, ch + radius}, fore, back, kLookBWFlat | kLookRaised, 1, 0);
    return;
  }
  if (dir == kPictVertical) {
    DrawRectBox(Box{cv - radius, b.left, cv + radius, b.right}, fore, back, kLookBWFlat | kLookRaised, 1, 0);
    return;
  }
  // The lever from the base's centre to the edge: two faces split along its
  // axis, narrow at the base and w wide at the tip, in local coordinates
  // (along the lever, across it; across < 0 is the top-left side).
  int32 length = 0, room = 0;
  switch (dir) {
    case kPictUp: length = cv - b.top; break;
    case kPictDown: length = b.bottom - 1 - cv; break;
    case kPictLeft: length = ch - b.left; break;
    default: length = b.right - 1 - ch; break;
  }
  if (dir == kPictUp || dir == kPictDown) room = std::min(ch - b.left, b.right - 1 - ch);
  else room = std::min(cv - b.top, b.bottom - 1 - cv);
  const int32 w = std::min(std::max(1, radius / 2), room), w2 = (w + 1) / 2;
  if (w < 1) return;
  auto at = [&](int32 along, int32 across) {
    switch (dir) {
      case kPictUp: return Pt(ch + across, cv - along);
      case kPictDown: return Pt(ch + across, cv + along);
      case kPictLeft: return Pt(ch - along, cv + across);
      default: return Pt(ch + along, cv + across);
    }
  };
  // One outline: base left, centre and right, tip right, centre and left;
  // the faces are its two halves.
  const Point lever[6] = {at(0, -w2), at(0, 0), at(0, w2), at(length, w), at(length, 0), at(length, -w)};
  static const int32 kFaces[2][4] = {{0, 1, 4, 5}, {1, 2, 3, 4}};
  DColor hilite, shadow;
  PiccHilites(fore, &hilite, &shadow);
  const bool bw = DIsBW() != 0;
  for (int32 face = 0; face < 2; ++face) {
    Point points[5];
    for (int32 i = 0; i < 4; ++i) points[i] = lever[kFaces[face][i]];
    if (face == 1 && bw) {
      GreyShading grey;
      PaintPolygon(points, 4);
    } else {
      if (face == 0) Pen(back);
      else DarkerPen(back);
      PaintPolygon(points, 4);
    }
    Pen(face == 0 ? hilite : shadow, fore);
    OutlinePolygon(points, 4);
  }
  Pen(fore);
  PixelIn(b, lever[5].h, lever[5].v);
  PixelIn(b, lever[3].h, lever[3].v);
}

// ---- Push buttons ------------------------------------------------------------------------

namespace {

// Where a push face stands: its place (the button's back) and the face
// itself, moved from it by the depth down unless the black-and-white look
// is 0x1000 and left unless it is 0x2000.
struct Push {
  Box place, face;
  int32 dh, dv, depth;
};
Push PushOf(const Box& r, int32 depth, int32 bwLook) {
  const int32 look = bwLook & 0xF000;
  Push p{};
  p.depth = std::clamp(depth, 0, std::max(0, MinSide(r) - 1));
  p.dh = look == kLookBWBottomRight ? 0 : -1;
  p.dv = look == kLookBWTopLeft ? 0 : 1;
  p.place = Box{r.top, r.left + (p.dh ? p.depth : 0), r.bottom - (p.dv ? p.depth : 0), r.right};
  p.face = Offset(p.place, p.dh * p.depth, p.dv * p.depth);
  return p;
}

void DrawPush(const char* text, const Rect* r, DColor fore, DColor back, int32 colourLook, int32 bwLook,
              bool round) {
  if (EmptyReported(r, text)) return;
  Box b = BoxOf(*r);
  const int32 q = std::min(b.Width() / 4, b.Height() / 4), move = std::max(0, q - 3);
  const int32 bw = bwLook & 0xF000;
  if (bw != kLookBWBottomRight) b.left += move;
  if (bw != kLookBWTopLeft) b.bottom -= move;
  if (b.Empty()) return;
  if (round) DrawOvalBox(b, fore, back, 0x2200, 1);
  else DrawRectBox(b, fore, back, 0x2200, 1, 0);
  BevelInset(&b, 3);
  if (b.Empty()) return;
  const int32 colour = colourLook & 0xF00;
  const int32 depth = colour == (kLookLowered | kLookRaised) ? q / 2 : colour == kLookLowered ? q / 4 : q;
  const Rect face = RectOf(b);
  if (round) DrawRoundPushFace(&face, fore, back, depth, bwLook);
  else DrawPushFace(&face, fore, back, depth, bwLook);
}

}  // namespace

void DrawSquarePush(const Rect* r, DColor fore, DColor back, int32 colourLook, int32 bwLook) {
  DrawPush("DrawSquarePush empty rect", r, fore, back, colourLook, bwLook, false);
}

void DrawRoundPush(const Rect* r, DColor fore, DColor back, int32 colourLook, int32 bwLook) {
  DrawPush("DrawRoundPush empty rect", r, fore, back, colourLook, bwLook, true);
}

void DrawPushFace(const Rect* r, DColor fore, DColor back, int32 depth, int32 bwLook) {
  if (!r || DEmptyRect(r)) return;
  const Push p = PushOf(BoxOf(*r), depth, bwLook);
  const int32 look = bwLook & 0xF000;
  DColor hilite, shadow;
  PiccHilites(fore, &hilite, &shadow);
  if (look == kLookBWBottomRight) {
    LighterPen(back);
    PaintBox(p.place);
    Pen(fore);
    FrameBox(p.place);
  } else if (look == kLookBWTopLeft) {
    DColor backShadow;
    PiccHilites(back, nullptr, &backShadow);
    Pen(backShadow, kBlackColor);
    PaintBox(p.place);
  } else if (p.depth == 1) {
    Pen(hilite, fore);
    LineIn(p.place, p.place.left, p.place.top, p.place.right - 1, p.place.top);
    Pen(shadow, fore);
    LineIn(p.place, p.place.right - 1, p.place.top, p.place.right - 1, p.place.bottom - 1);
  } else if (p.depth > 1) {
    // The block's two visible sides, the top and the right, from one
    // outline: place top-left, top-right, bottom-right; face bottom-right,
    // top-right, top-left.
    const Box& a = p.place;
    const Box& f = p.face;
    const Point block[6] = {Pt(a.left, a.top),          Pt(a.right - 1, a.top), Pt(a.right - 1, a.bottom - 1),
                            Pt(f.right - 1, f.bottom - 1), Pt(f.right - 1, f.top), Pt(f.left, f.top)};
    static const int32 kSides[2][4] = {{0, 1, 4, 5}, {1, 2, 3, 4}};
    for (int32 side = 0; side < 2; ++side) {
      Point points[5];
      for (int32 i = 0; i < 4; ++i) points[i] = block[kSides[side][i]];
      if (side == 0) LighterPen(back);
      else DarkerPen(back);
      PaintPolygon(points, 4);
      Pen(side == 0 ? hilite : shadow, fore);
      OutlinePolygon(points, 4);
    }
  }
  DrawRectBox(p.face, fore, back, kLookBWFlat | kLookRaised, 1, 0);
  Pen(look == kLookBWTopLeft ? shadow : hilite, fore);
  PixelIn(p.face, p.face.right - 1, p.face.top);
}

void DrawRoundPushFace(const Rect* r, DColor fore, DColor back, int32 depth, int32 bwLook) {
  if (!r || DEmptyRect(r)) return;
  const Push p = PushOf(BoxOf(*r), depth, bwLook);
  const int32 a = DiagonalAngle(p.place);
  DColor hilite, shadow;
  PiccHilites(fore, &hilite, &shadow);
  Pen(hilite, fore);
  FrameArcBox(p.place, -90, a + 90);
  Pen(shadow, fore);
  FrameArcBox(p.place, a, a + 90);
  // The side: arcs stacked a pixel apart toward the face, lit on the way
  // there and shaded on the way back.
  LighterPen(back);
  for (int32 k = 1; k < p.depth; ++k) FrameArcBox(Offset(p.place, p.dh * k, p.dv * k), -90, a + 90);
  DarkerPen(back);
  for (int32 k = p.depth - 1; k >= 1; --k) FrameArcBox(Offset(p.place, p.dh * k, p.dv * k), a, a + 90);
  DrawOvalBox(p.face, fore, back, kLookBWFlat | kLookRaised, 1);
}

// ---- Sliders -----------------------------------------------------------------------------

namespace {

void DrawSlider(const char* text, const Rect* r, DColor fore, DColor back, int32 direction, int32 bwLook,
                bool upDown) {
  if (EmptyReported(r, text)) return;
  const Box b = BoxOf(*r);
  const bool bw = DIsBW() != 0;
  const int32 d = (upDown ? b.Width() : b.Height()) / 8;
  const Box slot{b.top, b.left + d, b.bottom - d, b.right};
  if (slot.Empty()) return;
  if (back != kTransparentColor) DrawRectBox(slot, bw ? fore : back, back, kLookBWTopLeft | kLookLowered, 1, 0);
  const Box handle = HalfToward(Inset(slot, 1), upDown, direction);
  if (handle.Empty() || fore == kTransparentColor) return;
  const DColor faceBack = bw ? back : fore;
  const Rect handleRect = RectOf(handle);
  DrawPushFace(&handleRect, fore, faceBack, d, bwLook);
  // Three grooves a quarter of the face apart, each across the middle of a
  // half of the face that starts a quarter further on.
  const Box area = Inset(PushOf(handle, d, bwLook).face, 1);
  if (area.Empty()) return;
  for (int32 k = 0; k < 3; ++k) {
    if (upDown) {
      const int32 h = area.Height(), top = area.top + k * h / 4;
      const Rect g = RectOf(Box{top, area.left, top + h / 2, area.right});
      DrawGroove(&g, fore, faceBack, kLookBWFlat | kLookRaised, kPictHorizontal);
    } else {
      const int32 w = area.Width(), left = area.left + k * w / 4;
      const Rect g = RectOf(Box{area.top, left, area.bottom, left + w / 2});
      DrawGroove(&g, fore, faceBack, kLookBWFlat | kLookRaised, kPictVertical);
    }
  }
}

}  // namespace

void DrawUDSlider(const Rect* r, DColor fore, DColor back, int32 direction, int32 bwLook) {
  DrawSlider("DrawUDSlider empty rect", r, fore, back, direction, bwLook, true);
}

void DrawLRSlider(const Rect* r, DColor fore, DColor back, int32 direction, int32 bwLook) {
  DrawSlider("DrawLRSlider empty rect", r, fore, back, direction, bwLook, false);
}

// ---- LEDs --------------------------------------------------------------------------------

namespace {

void DrawLED(const char* text, const Rect* r, DColor fore, DColor back, int32 looks, bool round) {
  if (EmptyReported(r, text)) return;
  const bool bw = DIsBW() != 0;
  const DColor bezelBack = bw ? back : fore;
  if (round) DrawOval(r, fore, bezelBack, kLookBWFlat | kLookRaised, 1);
  else DrawRect(r, fore, bezelBack, kLookBWFlat | kLookRaised, 1, 0);
  Box in = BoxOf(*r);
  BevelInset(&in, 2);
  if (in.Empty()) return;
  const Look look = LookOf(looks);
  const bool flatOrFilled = look.kind == kFlat || look.kind == kFilled;
  const DColor lamp = flatOrFilled && bw ? fore : back;
  Pen(lamp);
  if (round) PaintOvalBox(in);
  else PaintBox(in);
  if (flatOrFilled || (look.kind == kBevel && look.lowered)) {
    const Rect inner = RectOf(in);
    DrawLEDGlint(&inner, lamp, lamp == fore ? back : fore, looks);
  }
}

}  // namespace

void DrawRoundLED(const Rect* r, DColor fore, DColor back, int32 looks) {
  DrawLED("DrawRoundLED empty rect", r, fore, back, looks, true);
}

void DrawSquareLED(const Rect* r, DColor fore, DColor back, int32 looks) {
  DrawLED("DrawSquareLED empty rect", r, fore, back, looks, false);
}

void DrawLEDGlint(const Rect* r, DColor colour, DColor bwColour, int32 looks) {
  if (!r || DEmptyRect(r)) return;
  const Box b = BoxOf(*r);
  DColor hilite;
  PiccHilites(colour, &hilite, nullptr);
  Pen(hilite, bwColour);
  const int32 d = MinSide(b) / 4;
  if (LookOf(looks).bits & 0xA) {
    // Eight rays toward the centre, each stopping d / 2 short of it.
    const int32 ch = (b.left + b.right) / 2, cv = (b.top + b.bottom) / 2, k = d / 2;
    auto ray = [&](int32 h0, int32 v0, int32 h1, int32 v1) {
      // Only a ray that runs toward the centre.
      if ((h1 - h0) * (ch - h0) < 0 || (v1 - v0) * (cv - v0) < 0) return;
      if ((h1 - h0) * (ch - h1) < 0 || (v1 - v0) * (cv - v1) < 0) return;
      LineIn(b, h0, v0, h1, v1);
    };
    ray(b.left + 2, cv, ch - k, cv);
    ray(b.right - 3, cv, ch + k, cv);
    ray(ch, b.top + 2, ch, cv - k);
    ray(ch, b.bottom - 3, ch, cv + k);
    ray(b.left + d, b.top + d, ch - k, cv - k);
    ray(b.right - 1 - d, b.top + d, ch + k, cv - k);
    ray(b.left + d, b.bottom - 1 - d, ch - k, cv + k);
    ray(b.right - 1 - d, b.bottom - 1 - d, ch + k, cv + k);
  } else if (d >= 1) {
    const Box g = Inset(b, d);
    FrameArcBox(g, -90, 90);
    FrameArcBox(Offset(g, 1, 1), -90, 90);
  }
}

void DrawLEDButt(const Rect* r, DColor fore, DColor back, int32 looks) {
  if (EmptyReported(r, "DrawLEDButt empty rect")) return;
  const DColor c = DIsBW() && fore != kTransparentColor ? back : fore;
  DrawRect(r, fore, c, kLookBWFlat | kLookRaised, 1, 0);
  const Box b = BoxOf(*r);
  Box led{b.top, b.left, b.top + 2 * b.Height() / 3, b.right};
  BevelInset(&led, 2);
  if (!led.Empty()) {
    const Rect ledRect = RectOf(led);
    DrawRoundLED(&ledRect, fore, back, looks);
  }
  const Box key{led.bottom + 2, led.left, b.bottom - 2, led.right};
  if (key.Empty()) return;
  DrawRectBox(key, fore, c, kLookBWFlat | kLookLowered, 1, 0);
  const Look look = LookOf(looks);
  const bool flatOrFilled = look.kind == kFlat || look.kind == kFilled;
  DrawRectBox(Inset(key, 1), fore, c, flatOrFilled ? kLookBWTopLeft | kLookLowered : kLookBWBottomRight | kLookRaised,
              1, 0);
}

// ---- Refnum and document frames, glyphs --------------------------------------------------

void DrawRefNum(const Rect* r, DColor fore, DColor back, int32 looks) {
  if (EmptyReported(r, "DrawRefNum empty rect")) return;
  const Box b = BoxOf(*r);
  // The corner; a rectangle a pixel thin has none, and its shape's points
  // stay inside it (cr for the horizontal ones).
  const int32 c = std::min(10, MinSide(b) / 2), cr = std::max(c, 1);
  const Look look = LookOf(looks);
  DColor hilite, shadow;
  PiccHilites(fore, &hilite, &shadow);
  // The shape is the rectangle without the upper half of its top-right c by
  // c corner square; its outline and the band's inner edge, 4 pixels in,
  // come from one list: outer corners clockwise from the top-left, then the
  // inner ones in the same order.
  const Point shape[10] = {
      Pt(b.left, b.top),           Pt(b.right - cr, b.top),        Pt(b.right - 1, b.top + c),
      Pt(b.right - 1, b.bottom - 1), Pt(b.left, b.bottom - 1),     Pt(b.left + 4, b.top + 4),
      Pt(b.right - cr, b.top + 4), Pt(b.right - 5, b.top + c),     Pt(b.right - 5, b.bottom - 5),
      Pt(b.left + 4, b.bottom - 5)};
  const bool raised = look.kind == kBevel && !look.lowered;
  const bool band = !raised && MinSide(b) >= 10;
  if (back != kTransparentColor) {
    Pen(back);
    if (band) {
      for (int32 i = 0; i < 5; ++i) {
        Point quad[5] = {shape[i], shape[(i + 1) % 5], shape[5 + (i + 1) % 5], shape[5 + i]};
        PaintPolygon(quad, 4);
      }
    } else {
      Point outline[6] = {shape[0], shape[1], shape[2], shape[3], shape[4]};
      PaintPolygon(outline, 5);
    }
  }
  if (fore != kTransparentColor) {
    Pen(hilite, fore);
    LStrokeIn(b, b.left, b.bottom - 1, b.right - cr, b.top);
    if (band) LStrokeIn(b, b.right - 5, b.top + c, b.left + 4, b.bottom - 5);
    Pen(shadow, fore);
    LStrokeIn(b, b.right - 1, b.top + c, b.left, b.bottom - 1);
    if (band) LStrokeIn(b, b.left + 4, b.bottom - 5, b.right - cr, b.top + 4);
  }
  Pen(fore);
  PixelIn(b, b.left, b.bottom - 1);
  if (c < 1) return;
  const Rect corner = RectOf(Box{b.top, b.right - c, b.top + c, b.right});
  Point points[4];
  if (MakeRightTri(&corner, kPictLeft, points)) DrawTriangle(points, fore, back, kLookBWFlat | kLookRaised, 0);
}

void DrawDocument(const Rect* r, DColor fore, DColor back, int32 looks) {
  if (EmptyReported(r, "DrawDocument empty rect")) return;
  const Box b = BoxOf(*r);
  const int32 c = std::min(10, MinSide(b) / 2), x = b.right - c - 1;
  Point fold[4] = {Pt(x, b.top), Pt(b.right - 1, b.top + c), Pt(x, b.top + c)};
  Point page[7] = {Pt(x, b.top), Pt(b.left, b.top), Pt(b.left, b.bottom - 1), Pt(b.right - 1, b.bottom - 1),
                   Pt(b.right - 1, b.top + c), Pt(x, b.top + c)};
  Pen(back);
  PaintPolygon(fold, 3);
  Pen(LookOf(looks).kind == kFilled ? fore : back);
  PaintPolygon(page, 6);
  Pen(fore);
  const Point outline[8] = {Pt(x, b.top),         Pt(b.right - 1, b.top + c), Pt(x, b.top + c),
                            Pt(x, b.top),         Pt(b.left, b.top),          Pt(b.left, b.bottom - 1),
                            Pt(b.right - 1, b.bottom - 1), Pt(b.right - 1, b.top + c)};
  DPolyLine(outline, 7);
}

void DrawPathGlyph(const Rect* r, DColor fore, DColor back, int32 looks) {
  if (EmptyReported(r, "DrawPathGlyph empty rect")) return;
  const Box b = BoxOf(*r);
  const int32 k = MinSide(b) / 2 + 1;
  const Box first = Box{b.top, b.left, b.top + k, b.left + k}, second = Box{b.bottom - k, b.right - k, b.bottom, b.right};
  if (LookOf(looks).kind == kFilled) {
    Pen(fore);
    PaintBox(first);
    PaintBox(second);
  } else {
    Pen(back);
    PaintBox(first);
    PaintBox(second);
    Pen(fore);
    FrameBox(first);
    FrameBox(second);
  }
  Pen(fore);
  LineIn(b, first.right - k / 2, first.bottom - 1, second.left + k / 2, second.top);
}

void DrawTagGlyph(const Rect* r, DColor fore, DColor back, int32 looks) {
  if (EmptyReported(r, "DrawTagGlyph empty rect") || fore == kTransparentColor) return;
  const Box b = BoxOf(*r);
  const int32 cx = (b.left + b.right) / 2, cy = (b.top + b.bottom) / 2;
  // The glyph's lines and pixels about its centre; a glyph larger than the
  // rectangle loses what falls outside.
  static const int8 kLines[7][4] = {{-1, -4, 1, -4}, {-2, -3, -1, -3}, {1, -3, 2, -3}, {0, -2, 0, 0},
                                    {-3, -1, -3, 3}, {3, -1, 3, 3},    {-1, 1, 1, 1}};
  static const int8 kPixels[4][2] = {{-2, 0}, {-2, 2}, {2, 0}, {2, 2}};
  static const int8 kEyes[3][2] = {{0, -3}, {-2, 1}, {2, 1}};
  Pen(fore);
  for (const auto& l : kLines) LineIn(b, cx + l[0], cy + l[1], cx + l[2], cy + l[3]);
  for (const auto& p : kPixels) PixelIn(b, cx + p[0], cy + p[1]);
  const DColor eyes = looks & kLookBWFlat ? back : fore;
  if (eyes == kTransparentColor) return;
  Pen(eyes);
  for (const auto& p : kEyes) PixelIn(b, cx + p[0], cy + p[1]);
}

void DrawDiamond(const Rect* r, DColor fore, DColor back, int32 style) {
  if (!r || DEmptyRect(r)) return;
  const Box b = BoxOf(*r);
  const int32 ch = (b.left + b.right) / 2, cv = (b.top + b.bottom) / 2;
  Point points[5] = {Pt(ch, b.top), Pt(b.right - 1, cv), Pt(ch, b.bottom - 1), Pt(b.left, cv)};
  if (LookOf(style).kind == kFilled) {
    Pen(fore);
    PaintPolygon(points, 4);
    return;
  }
  Pen(back);
  PaintPolygon(points, 4);
  Pen(fore);
  OutlinePolygon(points, 4);
}
