// One plot's connecting line and point markers from its pixel arrays, and
// the zigzag sample of a plot in a legend row.
#include <algorithm>
#include <array>
#include <cstring>

#include "controls/graph.h"
#include "controls/graphdraw.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/dprims.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/wport.h"

namespace {

constexpr int32 kPolylineBatch = 200;

PlotHighlightColours gColours{};

bool Valid(int16 c) { return c != kPlotGap; }

// The 5 x 5 marker glyphs of styles 4 to 19, rows top to bottom.
constexpr const char* kGlyphRows[16][5] = {
    {".###.", "#...#", "#...#", "#...#", ".###."}, {".###.", "#####", "#####", "#####", ".###."},
    {".###.", "#####", "##.##", "#####", ".###."}, {".###.", "#...#", "#.#.#", "#...#", ".###."},
    {"#####", "#...#", "#...#", "#...#", "#####"}, {"#####", "#####", "#####", "#####", "#####"},
    {"#####", "#####", "##.##", "#####", "#####"}, {"#####", "#...#", "#.#.#", "#...#", "#####"},
    {".....", ".###.", ".###.", ".###.", "....."}, {".....", ".....", "..#..", ".....", "....."},
    {"..#..", "..#..", "#####", "..#..", "..#.."}, {".....", "..#..", ".###.", "..#..", "....."},
    {"#...#", ".#.#.", "..#..", ".#.#.", "#...#"}, {".....", ".#.#.", "..#..", ".#.#.", "....."},
    {"..#..", ".#.#.", "#...#", ".#.#.", "..#.."}, {".....", ".###.", ".#.#.", ".###.", "....."},
};
// The glyphs as the marker stamp takes them: a byte per column, the bits
// 0x80 .. 0x08 for the rows top to bottom.
using GlyphColumns = std::array<std::array<uChar, 5>, 16>;
constexpr GlyphColumns MakeGlyphColumns() {
  GlyphColumns out{};
  for (int32 s = 0; s < 16; ++s)
    for (int32 col = 0; col < 5; ++col) {
      uChar bits = 0;
      for (int32 row = 0; row < 5; ++row)
        if (kGlyphRows[s][row][col] == '#') bits = uChar(bits | (0x80 >> row));
      out[size_t(s)][size_t(col)] = bits;
    }
  return out;
}
constexpr GlyphColumns kGlyphColumns = MakeGlyphColumns();

// A pen of the colour, width and host line style; 0 when none could be made.
int32 MakePen(DColor colour, int32 width, uInt32 style) {
  PenState s{};
  s.fore = colour;
  s.back = colour;
  s.width = int16(width);
  s.style = style;
  return DNewPen(kDefaultPenBase, kPenFore | kPenBack | kPenWidth | kPenStyle, &s);
}

Rect R(int32 top, int32 left, int32 bottom, int32 right) {
  return Rect{int16(top), int16(left), int16(bottom), int16(right)};
}

void DrawLine(const int16* hs, const int16* vs, int32 n, int32 interpolation) {
  if (interpolation == 2 && n > 5) {
    Point batch[kPolylineBatch];
    int32 held = 0;
    auto flush = [&] {
      if (held >= 2) DPolyLine(batch, held - 1);  // counted in segments
    };
    for (int32 i = 0; i < n; ++i) {
      if (!Valid(hs[i]) || !Valid(vs[i])) {
        flush();
        held = 0;
        continue;
      }
      batch[held++] = Point{vs[i], hs[i]};
      if (held == kPolylineBatch) {
        flush();
        batch[0] = batch[held - 1];
        held = 1;
      }
    }
    flush();
    return;
  }
  if (interpolation == 2) {
    bool move = true;
    for (int32 i = 0; i < n; ++i) {
      if (!Valid(hs[i]) || !Valid(vs[i])) {
        move = true;
        continue;
      }
      if (move) DMoveTo(hs[i], vs[i]);
      else DLineTo(hs[i], vs[i]);
      move = false;
    }
    return;
  }
  // Steps: 1 goes vertically first, 3 horizontally first.
  const bool vertical = interpolation == 1;
  bool started = false, previousWhole = false;
  int16 ph = kPlotGap, pv = kPlotGap;
  for (int32 i = 0; i < n; ++i) {
    const int16 h = hs[i], v = vs[i];
    const bool hv = Valid(h), vv = Valid(v);
    if (hv && vv) {
      if (started && previousWhole) {
        DMHLineTo(h, v, vertical);
      } else {
        // After a gap: join from the previous point where its coordinate
        // of the step's first leg is known, then start afresh.
        if (started) {
          if (vertical && Valid(ph)) DLineTo(ph, v);
          else if (!vertical && Valid(pv)) DLineTo(h, pv);
        }
        DMoveTo(h, v);
        started = true;
      }
    } else if (started && hv != vv) {
      if (vertical && vv && Valid(ph)) DLineTo(ph, v);
      else if (!vertical && hv && Valid(pv)) DLineTo(h, pv);
    }
    previousWhole = hv && vv;
    ph = h;
    pv = v;
  }
}

void DrawShape(int32 style, int32 h, int32 v, int32 s, int32 r) {
  const int32 q = s / 2;
  Rect box = R(v - s, h - s, v + r, h + r);
  switch (style) {
    case 4: DFrameOval(&box); break;
    case 5: DPaintOval(&box); break;
    case 6:
      DFrameOval(&box);
      DInsetRect(&box, 1, 1);
      DFrameOval(&box);
      break;
    case 7:
      DFrameOval(&box);
      DSetPixel(h, v);
      break;
    case 8: DFrameRect(&box); break;
    case 9: DPaintRect(&box); break;
    case 10:
      DFrameRect(&box);
      DInsetRect(&box, 1, 1);
      DFrameRect(&box);
      break;
    case 11:
      DFrameRect(&box);
      DSetPixel(h, v);
      break;
    case 12: {
      const Rect small = R(v - q, h - q, v + s, h + s);
      DPaintRect(&small);
      break;
    }
    case 13: DSetPixel(h, v); break;
    case 14: case 15: {
      const int32 a = style == 14 ? s : q;
      DMoveTo(h - a, v);
      DLineTo(h + a, v);
      DMoveTo(h, v - a);
      DLineTo(h, v + a);
      break;
    }
    case 16: case 17: {
      const int32 a = style == 16 ? s : q;
      DMoveTo(h - a, v - a);
      DLineTo(h + a, v + a);
      DMoveTo(h - a, v + a);
      DLineTo(h + a, v - a);
      break;
    }
    case 18:
      DMoveTo(h, v - s);
      DLineTo(h + s, v);
      DLineTo(h, v + s);
      DLineTo(h - s, v);
      DLineTo(h, v - s);
      break;
    case 19: {
      const Rect small = R(v - q, h - q, v + q, h + q);
      DFrameRect(&small);
      break;
    }
    default: break;
  }
}

void DrawMarkers(const PlotRec* plot, const int16* hs, const int16* vs, int32 n, bool pattern) {
  // Styles come with the stored plot list: one outside 4..19 draws no
  // markers rather than stopping the program.
  const int32 style = plot->pointStyle;
  if (style < 4 || style > 19) return;
  const int32 w = plot->lineWidth;
  const int32 penWidth = w <= 0 ? 0 : w <= 3 ? 1 : 2;
  const int32 pen = MakePen(DColor(plot->pointColor), penWidth, 0);
  if (pen) DSelectPen(pen, 0, 0xFFFFFF);
  else DSelectNormPen(DColor(plot->pointColor), DColor(plot->pointColor));
  if (pattern) {
    static const Rect kAll{-32767, -32767, 32767, 32767};
    DDrawMarkers(kGlyphColumns[size_t(style - 4)].data(), n, hs, vs, &kAll);
  } else {
    const int32 s = w > 1 ? w : 2, r = 3 * s / 2;
    for (int32 i = 0; i < n; ++i)
      if (Valid(hs[i]) && Valid(vs[i])) DrawShape(style, hs[i], vs[i], s, r);
  }
  DSelectNormPen(0, 0);
  if (pen) DDestroyPen(pen);
}

bool Highlighted(const PlotRec* plot, const Rect* legend) {
  const PlotHighlight& hl = CurrentPlotHighlight();
  return hl.on && !legend && gColours.record == plot;
}

}  // namespace

void SetPlotHighlightColours(const PlotHighlightColours& colours) { gColours = colours; }

bool MakeLegendZigzag(int32 lineWidth, const Rect& legend, int16** hs, int16** vs, int32* n, Rect* inner) {
  // A zigzag through the row; a negative stored width spaces as 0.
  const int32 w = std::max<int32>(lineWidth, 0), step = 2 * w + 8;
  const int32 count = std::max(0, legend.right - legend.left) / step + 2;  // a reversed rectangle: two points
  auto* h = reinterpret_cast<int16*>(DSNewPtr(2 * count));
  auto* v = reinterpret_cast<int16*>(DSNewPtr(2 * count));
  if (!h || !v) {
    if (h) DSDisposePtr(reinterpret_cast<UPtr>(h));
    if (v) DSDisposePtr(reinterpret_cast<UPtr>(v));
    return false;
  }
  Rect r = legend;
  DInsetRect(&r, 2, 2);
  r.right = int16(r.right - 2);
  r.bottom = int16(r.bottom - 3);
  const int32 height = r.bottom - r.top - 2;
  for (int32 i = 0; i < count; ++i) {
    h[i] = int16(r.left + i * step);
    v[i] = int16(i % 2 ? r.bottom - 1 - height : r.bottom - 1);
  }
  *hs = h;
  *vs = v;
  *n = count;
  if (inner) *inner = r;
  return true;
}

void RestorePlotColors(PlotRec* plot, const Rect* legend, int32 lineColor, uInt32 pointColor) {
  if (!plot || !Highlighted(plot, legend)) return;
  plot->lineColor = lineColor;
  plot->pointColor = pointColor;
}

int32 DrawPointStyle(PlotRec* plot, const Rect* legend, Bool32 patternMarkers) {
  if (!plot) return 0;
  if (!plot->xs || !plot->ys) return 0;  // a record without its arrays has nothing to draw
  const int32 savedLine = plot->lineColor;
  const uInt32 savedPoint = plot->pointColor;
  if (Highlighted(plot, legend)) {
    plot->lineColor = int32(gColours.line);
    plot->pointColor = gColours.point;
  }
  if (plot->lineColor == kNoColor && plot->pointColor == uInt32(kNoColor)) {
    RestorePlotColors(plot, legend, savedLine, savedPoint);
    return 0;
  }
  int16* hs = nullptr;
  int16* vs = nullptr;
  int32 n = 0;
  Rect savedClip{0, 0, 0, 0};
  if (legend) {
    if (!MakeLegendZigzag(plot->lineWidth, *legend, &hs, &vs, &n, nullptr)) {
      RestorePlotColors(plot, legend, savedLine, savedPoint);
      return kPlotResultFailed;
    }
    WLimitClip(legend, &savedClip);
  } else {
    n = std::max(0, plot->count);
    if (!*plot->xs || !*plot->ys) n = 0;
    else n = std::min({n, (DSGetHandleSize(plot->xs) - 4) / 2, (DSGetHandleSize(plot->ys) - 4) / 2});
    if (n > 0) {
      hs = reinterpret_cast<int16*>(*plot->xs + 4);
      vs = reinterpret_cast<int16*>(*plot->ys + 4);
    }
  }
  const int32 interpolation = plot->interpolation;
  if (interpolation != 0 && n >= 2 && plot->lineColor != kNoColor) {
    // A stored interpolation outside 0..3 draws no line.
    if (interpolation >= 1 && interpolation <= 3) {
      const int32 pen = MakePen(DColor(plot->lineColor), std::max<int32>(plot->lineWidth, 0), uInt32(plot->lineStyle));
      if (pen) DSelectPen(pen, 0, 0xFFFFFF);
      else DSelectNormPen(DColor(plot->lineColor), DColor(plot->lineColor));
      DrawLine(hs, vs, n, interpolation);
      DSelectNormPen(0, 0);
      if (pen) DDestroyPen(pen);
    }
  }
  if (plot->pointStyle != 0 && plot->pointColor != uInt32(kNoColor) && n > 0)
    DrawMarkers(plot, hs, vs, n, patternMarkers != 0);
  if (legend) {
    DSDisposePtr(reinterpret_cast<UPtr>(hs));
    DSDisposePtr(reinterpret_cast<UPtr>(vs));
    WRestoreClip(&savedClip);
  }
  RestorePlotColors(plot, legend, savedLine, savedPoint);
  return 0;
}
