// Bevel frames: three-dimensional frames in the system's colours, made of
// one-pixel rings.  Each ring is two L-shaped strokes, the top-left one
// (left and top edges) in one colour and the bottom-right one (bottom and
// right edges) in another; the colours are the system colours the menu
// manager keeps (MLoadMenuColors).  Drawing goes through the current port.
#pragma once
#include "mgsource/draw/dcolor.h"
#include "mgsource/extcode.h"

// Ring kinds.
enum : int32 {
  kBevelFaceFrame = 1,     // face / frame
  kBevelLightFrame = 2,    // light / frame
  kBevelFrameLight = 3,    // frame / light
  kBevelFaceShadow = 4,    // face / shadow
  kBevelShadowFace = 5,    // shadow / face
  kBevelLightShadow = 8,   // light / shadow
  kBevelShadowLight = 16,  // shadow / light
  kBevelFrameFace = 32,    // frame / face
  kBevelError = 888,       // 0xFF3300 on both sides, reported
};
// Frame styles.
enum : int32 {
  kBevelRaised = 64,        // 1, then 8
  kBevelRaisedLight = 65,   // 2, then 4
  kBevelSunken = 66,        // 3, then 5
  kBevelSunkenSoft = 67,    // 16, then 32
  kBevelSunkenThin = 68,    // 16
  kBevelGroove = 69,        // 16, then 8
  kBevelOutline = 70,       // one outline in the shadow colour (71 the same)
  kBevelOutline2 = 71,
  kBevelErrorFrame = 888,   // 888, then 888
};
constexpr DColor kBevelErrorColour = 0xFF3300;
constexpr DColor kBevelUnknownColour = 0x0EF4BF;

// The frame of a style around (on) the rectangle; the rectangle is not
// changed.  Styles other than the tabled ones draw nothing.
QX_EXTERN_C void DrawBevelFrame(const Rect* r, int32 style);
// One ring of a kind on the rectangle's outermost pixels; bwColour is the
// colour it takes on black-and-white ports.
QX_EXTERN_C void DrawBevelRing(const Rect* r, int32 kind, DColor bwColour);
// The same styles (but 70 and 71) for the oval inscribed in the rectangle.
QX_EXTERN_C void DrawBevelOval(const Rect* r, int32 style);
// One oval ring: the bottom-right colour over the arc from 45 degrees for
// 180 degrees, then the top-left colour from 225 degrees for 180.
QX_EXTERN_C void DrawBevelOvalRing(const Rect* r, int32 kind, DColor bwColour);
// The two colours of a ring kind (an unknown kind is reported and gives
// kBevelUnknownColour twice; 888 is reported as well).
void BevelRingColours(int32 kind, DColor* topLeft, DColor* bottomRight);
