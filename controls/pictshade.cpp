// Gradients: the gradient rectangle, the gradient fill in bands of
// lightness with its dithered blend on palette ports, the blend pens, and
// the three-colour cylinder fill built on them.
#include <algorithm>
#include <cmath>

#include "controls/picc.h"
#include "controls/picc_internal.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dcurpen.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"

using namespace picc;

namespace picc {

Hls HlsOf(DColor c) {
  Hls x{};
  rgb2hls(ColourOf(c), &x.h, &x.l, &x.s);
  return x;
}
DColor RgbOf(float32 h, double l, float32 s) {
  DColor c = 0;
  hls2rgb(h, float32(std::clamp(l, 0.0, 1.0)), s, &c);
  return c;
}
DColor HlsMean(DColor a, DColor b) {
  const Hls x = HlsOf(a), y = HlsOf(b);
  return RgbOf((x.h + y.h) * 0.5f, (x.l + y.l) * 0.5, (x.s + y.s) * 0.5f);
}

}  // namespace picc

namespace {

PiccBlendPenSource gBlendPens = nullptr;

}  // namespace

void PiccSetBlendPenSource(PiccBlendPenSource source) { gBlendPens = source; }
PiccBlendPenSource PiccBlendPenSourceInUse() { return gBlendPens; }

int32 PiccBlendPen(int32 which) { return gBlendPens && which >= 0 && which <= 2 ? gBlendPens(which) : 0; }

int32 SelectBlendPen(DColor a, DColor b, DColor c, DColor d) {
  if (a == kTransparentColor || c == kTransparentColor) return 0;
  const int64 x = std::llabs(int64(a) - int64(b)), y = std::llabs(int64(c) - int64(d));
  // Equal colours on both sides blend nothing: the sparsest pen.
  double r = 0;
  if (x || y) r = x <= y ? double(x) / double(y) : double(y) / double(x);
  const int32 pen = PiccBlendPen(r <= 0.25 ? 0 : r <= 0.5 ? 1 : 2);
  if (!pen) return 0;
  PenState state{};
  state.fore = ColourOf(x <= y ? a : c);
  state.back = ColourOf(x <= y ? c : a);
  DSetPenState(pen, kPenFore | kPenBack, &state);
  return pen;
}

void PaintBlendBand(const Rect* rect, DColor a, DColor b, DColor c, DColor d, int32 direction) {
  if (!rect || DEmptyRect(rect)) return;
  const Box r = BoxOf(*rect);
  Box solid = r, blended = r;
  if (direction == kPictVertical) {
    solid.top = blended.bottom = r.bottom - (r.Height() + 1) / 2;
  } else {
    solid.right = blended.left = r.left + (r.Width() + 1) / 2;
  }
  Pen(c);
  PaintBox(solid);
  if (const int32 pen = SelectBlendPen(a, b, c, d)) DSelectPen(pen, kBlackColor, kWhiteColor);
  PaintBox(blended);
}

void DrawGradient(const Rect* rect, DColor colour1, DColor colour2, int32 direction, int32 shift) {
  if (!rect || DEmptyRect(rect) || colour1 == kTransparentColor || colour2 == kTransparentColor) return;
  const Box r = BoxOf(*rect);
  if (DIsBW()) {
    Pen(kWhiteColor);
    PaintBox(r);
    return;
  }
  const bool vertical = direction == kPictVertical;
  const int32 length = vertical ? r.Height() : r.Width();
  const Hls one = HlsOf(colour1), two = HlsOf(colour2);
  const double step = (double(two.l) - double(one.l)) / length;
  const int32 band = std::max(1, length >> std::clamp(shift, 0, 30));
  // The bands from `from` to `to` pixels along the gradient, clipped to it.
  auto span = [&](int32 from, int32 to) {
    to = std::min(to, length);
    return vertical ? Box{r.bottom - to, r.left, r.bottom - from, r.right} : Box{r.top, r.left + from, r.bottom, r.left + to};
  };
  auto colourAt = [&](int32 pos) { return RgbOf(one.h, one.l + pos * step, one.s); };
  const int32 depth = DGetDepth();
  if (depth > 8) {
    // Every band in its own colour, handed to the port in runs (no band is
    // empty: each starts inside the gradient).
    constexpr int32 kRun = 64;
    Rect bands[kRun];
    DColor colours[kRun];
    int32 k = 0;
    for (int32 pos = 0; pos < length; pos += band) {
      bands[k] = RectOf(span(pos, pos + band));
      colours[k] = ColourOf(colourAt(pos));
      if (++k == kRun) {
        DPaintRectsInColours(bands, colours, k, kWhiteColor);
        k = 0;
      }
    }
    DPaintRectsInColours(bands, colours, k, kWhiteColor);
    return;
  }
  // Palette ports: bands that show one palette colour are one run; each run
  // is painted when the colour changes, blending toward the next one.
  int32 runStart = 0;
  DColor runColour = colourAt(0), runMatched = 0;
  int32 runIndex = DColorToIndex(runColour, depth, &runMatched);
  const int32 blendDirection = vertical ? kPictVertical : kPictHorizontal;
  for (int32 pos = band;; pos += band) {
    const bool end = pos >= length;
    const DColor colour = colourAt(std::min(pos, length));
    DColor matched = 0;
    const int32 index = DColorToIndex(colour, depth, &matched);
    if (index != runIndex || end) {
      const Rect run = RectOf(span(runStart, pos));
      PaintBlendBand(&run, matched, colour, runMatched, runColour, blendDirection);
      runStart = pos;
      runColour = colour;
      runMatched = matched;
      runIndex = index;
    }
    if (end) break;
  }
}

void DrawRectHLS(const Rect* rect, DColor fore, DColor back, int32 looks, int32 width, int32 direction) {
  (void)fore, (void)looks, (void)width;
  if (DIsBW()) DBAssert(__FILE__, __LINE__, "DrawRectHLS on a black-and-white port");
  if (EmptyReported(rect, "DrawRect empty rect") || back == kTransparentColor) return;
  const Box r = BoxOf(*rect);
  DColor h, s;
  PiccHilites(back, &h, &s);
  // The middle colour: hue, lightness and saturation of both averaged.
  const DColor middle = HlsMean(h, s);
  const int32 q = r.Height() / 4, m = std::min(r.Width(), q);
  int32 e = 0;
  while ((m >> (e + 1)) > 0) ++e;
  const Rect top = RectOf(Box{r.top, r.left, r.top + q, r.right});
  const Rect rest = RectOf(Box{r.top + q, r.left, r.bottom, r.right});
  ShadeCylinder(&top, h, middle, s, direction, e);
  ShadeCylinder(&rest, s, middle, h, direction, e);
}

void ShadeCylinder(const Rect* rect, DColor a, DColor b, DColor c, int32 axis, int32 shift) {
  if (!rect || DEmptyRect(rect)) return;
  const Box r = BoxOf(*rect);
  Box first, second;
  int32 along;
  if (axis == kPictHorizontal) {
    // Lying: the bottom half from A up to B, the top half from B up to C.
    const int32 mid = (r.top + r.bottom) / 2;
    first = Box{mid, r.left, r.bottom, r.right};
    second = Box{r.top, r.left, mid, r.right};
    along = kPictVertical;
  } else if (axis == kPictVertical) {
    // Standing: the left half from A to B, the right half from B to C.
    const int32 mid = (r.left + r.right) / 2;
    first = Box{r.top, r.left, r.bottom, mid};
    second = Box{r.top, mid, r.bottom, r.right};
    along = kPictHorizontal;
  } else {
    return;
  }
  const Rect halves[2] = {RectOf(first), RectOf(second)};
  for (const Rect& half : halves)
    if (!DRectInRect(&half, rect)) DBAssert(__FILE__, __LINE__, "ShadeCylinder: a half lies outside its rectangle");
  const int32 s = std::clamp(shift, 0, 31) - 1;
  DrawGradient(&halves[0], a, b, along, s);
  DrawGradient(&halves[1], b, c, along, s);
}
