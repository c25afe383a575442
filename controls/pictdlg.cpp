// The dialog-style pictures drawn in the system colours (radio button,
// check box, push button, ring) and the pop-up arrow box.
#include <algorithm>

#include "controls/picc.h"
#include "controls/picc_internal.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/window/bevel.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/sbar.h"
#include "panel/osupport.h"

using namespace picc;

namespace {

constexpr int32 kCheckGlyph = 2084;

// The check glyph centred in the box, in text colour on the background;
// nothing without the glyph or when it does not fit.
void CheckGlyph(const Box& box, DColor text, DColor background) {
  const int32 image = CheckPictIndex(kCheckGlyph);
  if (!image) return;
  Rect bounds{0, 0, 0, 0};
  IGetRect(image, &bounds);
  const int32 w = RectWidth(&bounds), h = RectHeight(&bounds);
  if (w <= 0 || h <= 0 || w > box.Width() || h > box.Height()) return;
  const int32 left = box.left + (box.Width() - w) / 2, top = box.top + (box.Height() - h) / 2;
  const Rect at = RectOf(Box{top, left, top + h, left + w});
  IDraw(image, nullptr, &at, text, background, kBlackColor, kWhiteColor);
}

int32 State(int32 state) { return state >= 0 && state <= 3 ? state : 0; }

}  // namespace

void DrawDlgRadio(const Rect* r, int32 state) {
  if (EmptyReported(r, "Drawdlg radio empty rect")) return;
  state = State(state);
  const Box b = BoxOf(*r);
  const int32 d = std::max((MinSide(b) - 4) / 3, 4);
  Pen(state >= 2 ? gMenuColours.face : gMenuColours.window, kWhiteColor);
  PaintOvalBox(b);
  if (state == 1 || state == 2) {
    Pen(gMenuColours.windowText, kBlackColor);
    PaintOvalBox(Inset(b, d));
  }
  DrawBevelOval(r, kBevelSunkenSoft);
}

void DrawDlgCheckBox(const Rect* r, int32 state) {
  if (!r || DEmptyRect(r)) return;
  state = State(state);
  DrawRect(r, kTransparentColor, gMenuColours.window, kLookBWFlat | kLookFlat, 2, 0);
  const Box in = Inset(BoxOf(*r), 2);
  if (state >= 2) {
    Pen(gMenuColours.face, kWhiteColor);
    PaintBox(in);
  }
  if (state == 1) CheckGlyph(in, gMenuColours.windowText, gMenuColours.window);
  if (state == 3) CheckGlyph(in, gMenuColours.windowText, gMenuColours.face);
  DrawBevelFrame(r, kBevelSunkenSoft);
}

void DrawDlgButton(const Rect* r, int32 state) {
  if (!r || DEmptyRect(r)) return;
  static const int32 kFrames[4] = {kBevelRaisedLight, kBevelSunken, kBevelOutline2, kBevelOutline};
  if (DIsBW()) DrawRect(r, kBlackColor, kWhiteColor, kLookBWFlat, 2, 0);
  else DrawRect(r, kTransparentColor, gMenuColours.face, kLookOutline | kLookBWTopLeft | kLookLowered, 2, 0);
  DrawBevelFrame(r, kFrames[State(state)]);
}

void DrawDlgRing(const Rect* r, int32 state) {
  if (!r || DEmptyRect(r)) return;
  const Box b = BoxOf(*r);
  Box box = Inset(b, 2);
  if (state == 0) {
    Pen(gMenuColours.window, kWhiteColor);
    PaintBox(b);
    DrawBevelFrame(r, kBevelSunkenSoft);
    box.left = std::max(box.left, box.right - std::max(8, gMenuMetrics.vBarWidth));
  }
  if (box.Empty()) return;
  const Rect boxRect = RectOf(box);
  Pen(gMenuColours.face, kBlackColor);
  PaintBox(box);
  DrawBevelFrame(&boxRect, kBevelRaised);
  DrawSBarArrow(&boxRect, kSBarGlyphDown, gMenuColours.buttonText, 3);
}

void DrawPopupArrow(const Rect* r, DColor fore, DColor back, int32 look) {
  if (!r || DEmptyRect(r)) return;
  const Box b = BoxOf(*r);
  const int32 kind = look & 0xF00;
  const bool small = kind == kLookFlat || kind == kLookFilled;
  const int32 height = small ? 4 : 5, margin = small ? 2 : 4;
  const int32 top = (b.top + b.bottom) / 2 - height / 2;
  Box arrow{std::max(top, b.top), b.left + margin, std::min(top + height, b.bottom), b.right - margin};
  const Rect arrowRect = RectOf(arrow);
  switch (kind) {
    case kLookLowered:
      Pen(back, kWhiteColor);
      PaintBox(b);
      Pen(fore, kBlackColor);
      FrameBox(b);
      DrawSBarArrow(r, kSBarGlyphDown, ColourOf(fore), kSBarPressed);
      break;
    case kLookRaised:
      Pen(back, kWhiteColor);
      PaintBox(b);
      DrawBevelFrame(r, kBevelRaised);
      DrawSBarArrow(r, kSBarGlyphDown, ColourOf(fore), 3);
      break;
    case kLookFlat:
      Pen(back, kWhiteColor);
      PaintBox(b);
      Pen(fore, kBlackColor);
      FrameBox(b);
      if (!arrow.Empty()) DrawArrowTri(&arrowRect, fore, fore, kLookBWFilled | kLookBWFlat | kLookFlat, kPictDown);
      break;
    case kLookFilled:
      Pen(fore);
      PaintBox(b);
      if (!arrow.Empty()) DrawArrowTri(&arrowRect, back, back, kLookBWFilled | kLookBWFlat | kLookFlat, kPictDown);
      break;
    default: break;
  }
}
