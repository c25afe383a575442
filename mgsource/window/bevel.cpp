// Bevel frames and rings.
#include "mgsource/window/bevel.h"

#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/rects.h"
#include "mgsource/window/menus.h"

void BevelRingColours(int32 kind, DColor* topLeft, DColor* bottomRight) {
  const MenuColours& c = gMenuColours;
  DColor tl = kBevelUnknownColour, br = kBevelUnknownColour;
  switch (kind) {
    case kBevelFaceFrame: tl = c.face, br = c.frame; break;
    case kBevelLightFrame: tl = c.light, br = c.frame; break;
    case kBevelFrameLight: tl = c.frame, br = c.light; break;
    case kBevelFaceShadow: tl = c.face, br = c.shadow; break;
    case kBevelShadowFace: tl = c.shadow, br = c.face; break;
    case kBevelLightShadow: tl = c.light, br = c.shadow; break;
    case kBevelShadowLight: tl = c.shadow, br = c.light; break;
    case kBevelFrameFace: tl = c.frame, br = c.face; break;
    case kBevelError:
      tl = br = kBevelErrorColour;
      DBAssert(__FILE__, __LINE__, "error bevel frame");
      break;
    default: DBAssert(__FILE__, __LINE__, "unknown bevel ring kind"); break;
  }
  *topLeft = tl;
  *bottomRight = br;
}

void DrawBevelRing(const Rect* r, int32 kind, DColor bwColour) {
  if (!r) return;
  DColor tl, br;
  BevelRingColours(kind, &tl, &br);
  const int32 top = r->top, left = r->left, bottom = r->bottom - 1, right = r->right - 1;
  DSelectNormPen(tl, bwColour);
  DMoveTo(left, bottom);
  DLineTo(left, top);
  DLineTo(right, top);
  DSelectNormPen(br, bwColour);
  DMoveTo(left, bottom);
  DLineTo(right, bottom);
  DLineTo(right, top);
}

void DrawBevelOvalRing(const Rect* r, int32 kind, DColor bwColour) {
  if (!r) return;
  DColor tl, br;
  BevelRingColours(kind, &tl, &br);
  DSelectNormPen(br, bwColour);
  DFrameArc(r, 45, 180);
  DSelectNormPen(tl, bwColour);
  DFrameArc(r, 225, 180);
}

namespace {

// The rings of a style, outer first (0 ends); false for styles without rings.
bool StyleRings(int32 style, int32 rings[2]) {
  rings[0] = rings[1] = 0;
  switch (style) {
    case kBevelRaised: rings[0] = kBevelFaceFrame, rings[1] = kBevelLightShadow; return true;
    case kBevelRaisedLight: rings[0] = kBevelLightFrame, rings[1] = kBevelFaceShadow; return true;
    case kBevelSunken: rings[0] = kBevelFrameLight, rings[1] = kBevelShadowFace; return true;
    case kBevelSunkenSoft: rings[0] = kBevelShadowLight, rings[1] = kBevelFrameFace; return true;
    case kBevelSunkenThin: rings[0] = kBevelShadowLight; return true;
    case kBevelGroove: rings[0] = kBevelShadowLight, rings[1] = kBevelLightShadow; return true;
    case kBevelErrorFrame: rings[0] = rings[1] = kBevelError; return true;
    default: return false;
  }
}

void DrawRings(const Rect* r, int32 style, void (*ring)(const Rect*, int32, DColor)) {
  int32 rings[2];
  if (!r || !StyleRings(style, rings)) return;
  Rect at = *r;
  // On black-and-white ports the outer ring is black, the inner white.  A
  // ring without room (an empty rectangle) is left out: its strokes would
  // fall outside the rectangle.
  if (DEmptyRect(&at)) return;
  ring(&at, rings[0], kBlackColor);
  if (!rings[1]) return;
  at.top = int16(at.top + 1), at.left = int16(at.left + 1);
  at.bottom = int16(at.bottom - 1), at.right = int16(at.right - 1);
  if (!DEmptyRect(&at)) ring(&at, rings[1], kWhiteColor);
}

}  // namespace

void DrawBevelFrame(const Rect* r, int32 style) {
  if (!r) return;
  if (style == kBevelOutline || style == kBevelOutline2) {
    DSelectNormPen(gMenuColours.shadow, kBlackColor);
    DFrameRect(r);
    return;
  }
  DrawRings(r, style, &DrawBevelRing);
}

void DrawBevelOval(const Rect* r, int32 style) { DrawRings(r, style, &DrawBevelOvalRing); }
