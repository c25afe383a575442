// The picture procedures of the bevelled shapes, frames, buttons,
// switches, LEDs, triangles, glyphs, dialog-style pictures and the
// pictures in fixed system colours: each draws with its primitive and
// answers the messages its shape needs, the rest by its family's default.
#include <algorithm>

#include "controls/picc.h"
#include "controls/pictproc.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/window/bevel.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/wport.h"
#include "panel/osupport.h"

using namespace picc;

namespace picc {

bool RingHit(const Rect* r, Point p, int32 looks, int32 inset, bool oval) {
  if (!r) return false;
  if (LookOf(looks).kind == kFilled) return DPtInRect(p, r) != 0;
  Rect inner = *r;
  PiccBevelInset(&inner, inset);
  auto in = [&](const Rect* shape) { return oval ? PtInEllipse(p, shape) != 0 : DPtInRect(p, shape) != 0; };
  return in(r) && !(!DEmptyRect(&inner) && in(&inner));
}

}  // namespace picc

namespace {

constexpr int32 kGlyphButtonBase = 2053, kLastGlyph = 2093;
constexpr int32 kSystemFrame = kBevelGroove, kDialogFrame = kBevelSunkenSoft;

// The procedures that draw one primitive and answer message 7 as opaque
// when both colours are set; the rest of their messages are the
// rectangle's defaults.
template <void (*Draw)(const Rect*, DColor, DColor, const Style&)>
int32 OpaqueRectProc(int32 message, PictStyleBlock* s, PictMessageBlock* b) {
  switch (message) {
    case kPictMsgDraw:
      if (HasRect(b)) Draw(b->rect, b->foreColor, b->backColor, StyleOf(s));
      return 0;
    case kPictMsgShape: return b ? AnswerShape(b, kPictShapeRect, BothColours(b)) : 0;
    default: return RectDefaultPictProc(message, s, b);
  }
}
// The same with every message but drawing the rectangle's (or the oval's)
// defaults.
template <void (*Draw)(const Rect*, DColor, DColor, const Style&), bool Oval = false>
int32 PlainProc(int32 message, PictStyleBlock* s, PictMessageBlock* b) {
  if (message == kPictMsgDraw) {
    if (HasRect(b)) Draw(b->rect, b->foreColor, b->backColor, StyleOf(s));
    return 0;
  }
  return Oval ? OvalDefaultPictProc(message, s, b) : RectDefaultPictProc(message, s, b);
}
// The dialog and system-colour pictures: they paint every pixel in system
// colours whatever colours they are given.
template <void (*Draw)(const Rect*, DColor, DColor, const Style&)>
int32 SystemProc(int32 message, PictStyleBlock* s, PictMessageBlock* b) {
  if (message == kPictMsgShape) return AnswerShape(b, kPictShapeRect, true);
  return PlainProc<Draw>(message, s, b);
}

bool Vertical(int32 direction) { return (direction & kPictVertical) != 0; }

// ---- Drawings ----

void Rectangle(const Rect* r, DColor fore, DColor back, const Style& s) {
  if (s.word & kPictGradient) {
    if (!DIsBW() && DGetDepth() >= 8) DrawRectHLS(r, fore, back, s.looks, s.variant, s.direction);
    else DrawRect(r, fore, back, s.looks, s.variant, 0);
  } else {
    DrawRect(r, fore, back, s.looks, s.variant, s.direction);
  }
}
void Oval(const Rect* r, DColor fore, DColor back, const Style& s) { DrawOval(r, fore, back, s.looks, s.variant); }
void RectFrame(const Rect* r, DColor fore, DColor back, const Style& s) {
  if (s.variant) DrawRectFrame(r, fore, back, s.looks, 4);
  DrawRectFrame(r, fore, back, s.looks, 2);
}
void OvalFrame(const Rect* r, DColor fore, DColor back, const Style& s) {
  if (s.variant) DrawOvalFrame(r, fore, back, s.looks, 5);
  DrawOvalFrame(r, fore, back, s.looks, 3);
}
// Wide frames: a quarter of the smaller side, always filled.
int32 WideWidth(const Rect* r) { return std::min(RectWidth(r), RectHeight(r)) >> 2; }
constexpr int32 kBothFilled = kLookFilled | kLookBWFilled;
void WideRectFrame(const Rect* r, DColor fore, DColor back, const Style& s) {
  DrawRectFrame(r, fore, back, s.looks | kBothFilled, WideWidth(r));
}
void WideOvalFrame(const Rect* r, DColor fore, DColor back, const Style& s) {
  DrawOvalFrame(r, fore, back, s.looks | kBothFilled, WideWidth(r));
}
void CheckBox(const Rect* r, DColor fore, DColor back, const Style& s) { DrawCheckBox(r, fore, back, s.looks); }
void RoundPush(const Rect* r, DColor fore, DColor back, const Style& s) {
  DrawRoundPush(r, fore, back, s.looks & kPictColourLookMask, s.looks & kPictBWLookMask);
}
void SquarePush(const Rect* r, DColor fore, DColor back, const Style& s) {
  DrawSquarePush(r, fore, back, s.looks & kPictColourLookMask, s.looks & kPictBWLookMask);
}
void Switch(const Rect* r, DColor fore, DColor back, const Style& s) {
  if (Vertical(s.direction)) DrawUDSwitch(r, fore, back, s.direction);
  else DrawLRSwitch(r, fore, back, s.direction);
}
void Toggle(const Rect* r, DColor fore, DColor back, const Style& s) { DrawToggle(r, fore, back, s.direction); }
void Slider(const Rect* r, DColor fore, DColor back, const Style& s) {
  if (Vertical(s.direction)) DrawUDSlider(r, fore, back, s.direction, s.looks & kPictBWLookMask);
  else DrawLRSlider(r, fore, back, s.direction, s.looks & kPictBWLookMask);
}
void RoundLED(const Rect* r, DColor fore, DColor back, const Style& s) { DrawRoundLED(r, fore, back, s.looks); }
void SquareLED(const Rect* r, DColor fore, DColor back, const Style& s) { DrawSquareLED(r, fore, back, s.looks); }
void LEDButton(const Rect* r, DColor fore, DColor back, const Style& s) { DrawLEDButt(r, fore, back, s.looks); }
void ArrowRect(const Rect* r, DColor fore, DColor back, const Style& s) {
  DrawArrowRect(r, fore, back, s.looks, s.direction);
}
void RndRect(const Rect* r, DColor fore, DColor back, const Style& s) {
  DrawRndRect(r, fore, back, s.looks, s.variant);
}
void Oblong(const Rect* r, DColor fore, DColor back, const Style& s) {
  DrawOblong(r, fore, back, s.looks, s.variant, s.direction);
}
void Knob(const Rect* r, DColor fore, DColor back, const Style&) { DrawKnob(r, fore, back); }
// Refnums: the document for the flat and filled looks, else the frame.
bool FlatOrFilled(int32 looks) { return (looks & (DIsBW() ? 0xC000 : 0xC00)) != 0; }
void RefNum(const Rect* r, DColor fore, DColor back, const Style& s) {
  if (FlatOrFilled(s.looks)) DrawDocument(r, fore, back, s.looks);
  else DrawRefNum(r, fore, back, s.looks);
}
void PathGlyph(const Rect* r, DColor fore, DColor back, const Style& s) { DrawPathGlyph(r, fore, back, s.looks); }
void TagGlyph(const Rect* r, DColor fore, DColor back, const Style& s) { DrawTagGlyph(r, fore, back, s.looks); }
void Diamond(const Rect* r, DColor fore, DColor back, const Style& s) { DrawDiamond(r, fore, back, s.looks); }
void DlgButton(const Rect* r, DColor, DColor, const Style& s) { DrawDlgButton(r, s.variant); }
void DlgRing(const Rect* r, DColor, DColor, const Style& s) { DrawDlgRing(r, s.variant); }
void DlgRadio(const Rect* r, DColor, DColor, const Style& s) { DrawDlgRadio(r, s.variant); }
void DlgCheckBox(const Rect* r, DColor, DColor, const Style& s) { DrawDlgCheckBox(r, s.variant); }
void DlgBox(const Rect* r, DColor, DColor, const Style&) {
  if (DEmptyRect(r)) return;
  Pen(gMenuColours.window, kWhiteColor);
  DPaintRect(r);
  DrawBevelFrame(r, kDialogFrame);
}
void SystemFrame(const Rect* r, DColor, DColor, const Style&) { DrawBevelFrame(r, kSystemFrame); }
void FaceFill(const Rect* r, DColor, DColor, const Style&) {
  DrawRect(r, gMenuColours.face, kWhiteColor, kLookBWFlat | kLookFilled, 0, 0);
}
void MenuFill(const Rect* r, DColor, DColor, const Style&) {
  DrawRect(r, gMenuColours.background, gMenuColours.background, kLookBWFilled | kLookFilled, 0, 0);
}
void MenuBox(const Rect* r, DColor, DColor, const Style&) {
  DrawRect(r, kBlackColor, gMenuColours.background, kLookBWFlat | kLookFlat, 1, 0);
}
void PopupArrow(const Rect* r, DColor fore, DColor back, const Style& s) { DrawPopupArrow(r, fore, back, s.looks); }

// The glyph button: a bevelled box and the glyph of its variant, shrunk to
// the glyph's own size when the box is at most twice that.
void GlyphButton(const Rect* r, DColor fore, DColor back, const Style& s) {
  DrawRect(r, DIsBW() ? fore : back, back, s.looks, 1, 0);
  if (fore == kTransparentColor) return;
  const int32 code = kGlyphButtonBase + s.variant;
  const int32 glyph = code <= kLastGlyph ? CheckPictIndex(code) : 0;
  if (!glyph) return;
  Rect own{0, 0, 0, 0};
  IGetRect(glyph, &own);
  const int32 gw = RectWidth(&own), gh = RectHeight(&own);
  Rect dest = *r;
  DInsetRect(&dest, 1, 1);
  if (DEmptyRect(&dest) || gw <= 0 || gh <= 0) return;
  const int32 dw = RectWidth(&dest), dh = RectHeight(&dest);
  if (dw <= 2 * gw && dh <= 2 * gh) {
    if (dw > gw) {
      const int32 left = (dest.left + dest.right) / 2 - gw / 2;
      dest.left = int16(left);
      dest.right = int16(left + gw);
    }
    if (dh > gh) {
      const int32 top = (dest.top + dest.bottom) / 2 - gh / 2;
      dest.top = int16(top);
      dest.bottom = int16(top + gh);
    }
  }
  const DColor f = ColourOf(fore), k = ColourOf(back);
  IDraw(glyph, &own, &dest, f, k, f, k);
}

// The arrow tab: a raised box a quarter shorter on the side the arrow
// points from, with a vertical groove.
void ArrowTab(const Rect* r, DColor fore, DColor back, const Style& s) {
  Box b = BoxOf(*r);
  const int32 q = b.Width() / 4 + 1;
  if (s.direction & kPictLeft) b.right -= q;
  else b.left += q;
  const Rect tab = RectOf(b);
  DrawRect(&tab, fore, DIsBW() ? back : fore, kLookBWFlat | kLookRaised, 1, kPictVertical);
}

// Triangles: the lowered bit of the port's look swaps the bevel, the raised
// bit for left triangles and down right-triangles.
template <bool Right>
bool MakeTriangle(const Rect* r, int32 direction, Point* points) {
  return Right ? MakeRightTri(r, direction, points) != 0 : MakeTri(r, direction, points) != 0;
}
template <bool Right>
int32 TriangleProc(int32 message, PictStyleBlock* sb, PictMessageBlock* b) {
  const Style s = StyleOf(sb);
  Point points[4];
  switch (message) {
    case kPictMsgDraw: {
      if (!HasRect(b) || !MakeTriangle<Right>(b->rect, s.direction, points)) return 0;
      const bool bw = DIsBW() != 0;
      const int32 raisedDir = Right ? kPictDown : kPictLeft;
      const bool raisedBit = OneDirection(s.direction) == raisedDir;
      const int32 bit = raisedBit ? (bw ? kLookBWBottomRight : kLookRaised) : (bw ? kLookBWTopLeft : kLookLowered);
      DrawTriangle(points, b->foreColor, b->backColor, s.looks, s.looks & bit);
      return 0;
    }
    case kPictMsgHit:
      if (HasRect(b)) b->result = MakeTriangle<Right>(b->rect, s.direction, points) && PtInConvexPoly(b->point, 3, points);
      return 0;
    default: return RectDefaultPictProc(message, sb, b);
  }
}

// A ring hit-tested on its band: message 2 answered by RingHit with the
// inset (the wider one for a non-zero variant).
template <void (*Draw)(const Rect*, DColor, DColor, const Style&), int32 Inset, int32 VariantInset, bool Oval>
int32 RingProc(int32 message, PictStyleBlock* sb, PictMessageBlock* b) {
  if (message == kPictMsgHit) {
    if (!HasRect(b)) return 0;
    const Style s = StyleOf(sb);
    b->result = RingHit(b->rect, b->point, s.looks, s.variant ? VariantInset : Inset, Oval) ? 1 : 0;
    return 0;
  }
  return PlainProc<Draw, Oval>(message, sb, b);
}

}  // namespace

// ---- The procedures ----------------------------------------------------------------------

int32 RectPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return OpaqueRectProc<Rectangle>(m, s, b); }
int32 OvalPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return PlainProc<Oval, true>(m, s, b); }
int32 RectFramePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return RingProc<RectFrame, 3, 5, false>(m, s, b);
}
int32 OvalFramePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  if (m == kPictMsgShape) return AnswerShape(b, kPictShapeOval, false);
  return RingProc<OvalFrame, 4, 6, true>(m, s, b);
}
int32 WideRectFramePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return OpaqueRectProc<WideRectFrame>(m, s, b);
}
int32 WideOvalFramePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return PlainProc<WideOvalFrame, true>(m, s, b);
}
int32 CheckBoxPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return OpaqueRectProc<CheckBox>(m, s, b); }
int32 RoundPushPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return PlainProc<RoundPush>(m, s, b); }
int32 SquarePushPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return PlainProc<SquarePush>(m, s, b); }
int32 SwitchPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return OpaqueRectProc<Switch>(m, s, b); }
int32 TogglePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return PlainProc<Toggle>(m, s, b); }
int32 SliderPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return PlainProc<Slider>(m, s, b); }
int32 RoundLEDPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return PlainProc<RoundLED, true>(m, s, b); }
int32 SquareLEDPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return OpaqueRectProc<SquareLED>(m, s, b);
}
int32 LEDButtonPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return OpaqueRectProc<LEDButton>(m, s, b);
}
int32 TrianglePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return TriangleProc<false>(m, s, b); }
int32 RightTrianglePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return TriangleProc<true>(m, s, b); }
int32 ArrowRectPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return OpaqueRectProc<ArrowRect>(m, s, b);
}
int32 RndRectPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return PlainProc<RndRect>(m, s, b); }
int32 OblongPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return PlainProc<Oblong>(m, s, b); }
int32 KnobPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return PlainProc<Knob, true>(m, s, b); }
int32 PathGlyphPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return PlainProc<PathGlyph>(m, s, b); }
int32 TagGlyphPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return PlainProc<TagGlyph>(m, s, b); }
int32 GlyphButtonPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return PlainProc<GlyphButton>(m, s, b);
}
int32 ArrowTabPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return PlainProc<ArrowTab>(m, s, b); }
int32 DlgButtonPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return SystemProc<DlgButton>(m, s, b); }
int32 DlgRingPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return SystemProc<DlgRing>(m, s, b); }
int32 DlgRadioPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return PlainProc<DlgRadio, true>(m, s, b); }
int32 DlgCheckBoxPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return SystemProc<DlgCheckBox>(m, s, b);
}
int32 DlgBoxPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return SystemProc<DlgBox>(m, s, b); }
int32 FaceFillPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return SystemProc<FaceFill>(m, s, b); }
int32 MenuFillPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return SystemProc<MenuFill>(m, s, b); }
int32 MenuBoxPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) { return SystemProc<MenuBox>(m, s, b); }
int32 SystemFramePictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return OpaqueRectProc<SystemFrame>(m, s, b);
}
int32 BevelRingPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return RingProc<SystemFrame, 2, 2, false>(m, s, b);
}
int32 PopupArrowPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  return OpaqueRectProc<PopupArrow>(m, s, b);
}

int32 RefNumPictProc(int32 m, PictStyleBlock* sb, PictMessageBlock* b) {
  if (m == kPictMsgHit) {
    if (!HasRect(b)) return 0;
    // The flat, filled and raised looks fill their rectangle; the others
    // are a band 5 pixels wide.
    const Style s = StyleOf(sb);
    const bool whole = (s.looks & (DIsBW() ? 0xE000 : 0xE00)) != 0;
    b->result = (whole ? DPtInRect(b->point, b->rect) != 0 : RingHit(b->rect, b->point, s.looks, 5, false)) ? 1 : 0;
    return 0;
  }
  return PlainProc<RefNum>(m, sb, b);
}

int32 DiamondPictProc(int32 m, PictStyleBlock* s, PictMessageBlock* b) {
  if (m == kPictMsgHit) {
    if (!HasRect(b) || DEmptyRect(b->rect)) return 0;
    const Box r = BoxOf(*b->rect);
    const int32 ch = (r.left + r.right) / 2, cv = (r.top + r.bottom) / 2;
    const Point points[4] = {Pt(ch, r.top), Pt(r.right - 1, cv), Pt(ch, r.bottom - 1), Pt(r.left, cv)};
    b->result = PtInConvexPoly(b->point, 4, points) ? 1 : 0;
    return 0;
  }
  return PlainProc<Diamond>(m, s, b);
}

// ---- Half ovals ----

namespace {

// The half oval's rectangle doubled away from its direction into the whole
// oval, and the one direction it faces.
Rect WholeOval(const Rect* r, int32 direction, int32* facing) {
  Box b = BoxOf(*r);
  const int32 w = b.Width(), h = b.Height();
  if (direction & kPictLeft) *facing = kPictLeft, b.right += w;
  else if (direction & kPictRight) *facing = kPictRight, b.left -= w;
  else if (direction & kPictUp) *facing = kPictUp, b.bottom += h;
  else *facing = kPictDown, b.top -= h;
  return RectOf(b);
}

}  // namespace

int32 HalfOvalPictProc(int32 m, PictStyleBlock* sb, PictMessageBlock* b) {
  const Style s = StyleOf(sb);
  int32 facing = 0;
  switch (m) {
    case kPictMsgDraw: {
      if (!HasRect(b) || DEmptyRect(b->rect)) return 0;
      const Rect whole = WholeOval(b->rect, s.direction, &facing);
      // The half that faces the direction covers the picture's rectangle;
      // the arcs' pixels along the diameter are kept on its side.
      Rect saved{0, 0, 0, 0};
      WLimitClip(b->rect, &saved);
      DrawHalfOval(&whole, b->foreColor, b->backColor, s.looks, facing);
      WRestoreClip(&saved);
      return 0;
    }
    case kPictMsgHit:
      if (HasRect(b)) {
        const Rect whole = WholeOval(b->rect, s.direction, &facing);
        b->result = DPtInRect(b->point, b->rect) && PtInEllipse(b->point, &whole) ? 1 : 0;
      }
      return 0;
    default: return RectDefaultPictProc(m, sb, b);
  }
}
