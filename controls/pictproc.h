// What the picture procedures share: the parts of a style word, the
// answers they give alike, and the checks of a message block.
#pragma once
#include "controls/picc.h"
#include "controls/picc_internal.h"

namespace picc {

// The parts of a style word the procedures pass on.
struct Style {
  uInt32 word;
  int32 looks;      // & 0xF0FF00: looks, direction and the two high bits
  int32 variant;    // & 0xFF
  int32 direction;  // & 0xF0000
};
inline Style StyleOf(const PictStyleBlock* s) {
  const uInt32 w = s ? s->style : 0;
  return Style{w, int32(w & kPictLooksMask), int32(w & kPictVariantMask), int32(w & kPictDirectionMask)};
}

// Neither colour transparent.
inline bool BothColours(const PictMessageBlock* b) {
  return b->foreColor != kTransparentColor && b->backColor != kTransparentColor;
}
// The answer of message 7.
inline int32 AnswerShape(PictMessageBlock* b, int32 kind, bool opaque) {
  if (b) {
    b->shapeKind = kind;
    b->result = opaque ? 1 : 0;
  }
  return 0;
}
// A message that needs the block's rectangle: false without one.
inline bool HasRect(const PictMessageBlock* b) { return b && b->rect; }

// The hit of a ring: the whole rectangle for the filled look, else the
// point in the shape (rectangle or ellipse) but not in the shape inset by
// the bevel inset rule.
bool RingHit(const Rect* r, Point p, int32 looks, int32 inset, bool oval);
// The natural size (width, height) as the rectangle (0, 0) to it.
inline void AnswerSize(PictMessageBlock* b, int32 width, int32 height) {
  if (HasRect(b)) *b->rect = Rect{0, 0, int16(height), int16(width)};
}

}  // namespace picc
