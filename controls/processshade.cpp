// The shading of the process-plant pictures: triangles as fans of lines,
// round surfaces as quarter-arc bands, the split bands of a pipe's bend,
// and the painted and framed rectangle.  Every routine works in bands of
// lines, arcs or rectangles, never pixel by pixel over the area.
#include <algorithm>
#include <cmath>
#include <vector>

#include "controls/picc.h"
#include "controls/picc_internal.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"

using namespace picc;

namespace {

int32 BandOf(int32 length, int32 shift) { return std::max(1, length >> std::clamp(shift, 0, 30)); }

}  // namespace

void FillFrameRect(const Rect* r, DColor frame, DColor fill) {
  if (!r || DEmptyRect(r)) return;
  Pen(fill);
  DPaintRect(r);
  Pen(frame);
  DFrameRect(r);
}

void ShadeTriangleFan(const Point* points, int32 direction, DColor start, DColor end, DColor middle, int32 shift) {
  if (!points || start == kTransparentColor || end == kTransparentColor || middle == kTransparentColor) return;
  // The apex: the point farthest toward the direction; the base: the other
  // two, in walking order.
  const int32 dir = OneDirection(direction);
  const bool horizontalBase = dir == kPictUp || dir == kPictDown;
  auto reach = [&](const Point& p) {
    switch (dir) {
      case kPictUp: return -int32(p.v);
      case kPictDown: return int32(p.v);
      case kPictLeft: return -int32(p.h);
      default: return int32(p.h);
    }
  };
  int32 apex = 0;
  for (int32 i = 1; i < 3; ++i)
    if (reach(points[i]) > reach(points[apex])) apex = i;
  const Point a = points[apex];
  Point b0 = points[(apex + 1) % 3], b1 = points[(apex + 2) % 3];
  if (horizontalBase ? b0.h > b1.h : b0.v < b1.v) std::swap(b0, b1);
  const int32 along0 = horizontalBase ? b0.h : b0.v, along1 = horizontalBase ? b1.h : b1.v;
  const int32 length = std::abs(along1 - along0) + 1, stepDir = horizontalBase ? 1 : -1;
  // The lightness steps of the two halves.
  const Hls s = HlsOf(start), m = HlsOf(middle), e = HlsOf(end);
  const int32 half = std::max(1, length / 2);
  const double first = (double(m.l) - s.l) / half, second = (double(e.l) - m.l) / std::max(1, length - half);
  const int32 band = BandOf(length, shift);
  // A band's lines go to the port as one path through the apex and its
  // base pixels.
  std::vector<Point> path;
  path.reserve(size_t(2 * std::min(band, length) + 1));
  double lightness = s.l;
  for (int32 i = 0; i < length; i += band) {
    path.assign(1, a);
    for (int32 j = i; j < std::min(length, i + band); ++j) {
      // The base pixel j: along the walking axis, the other coordinate on
      // the base edge.
      const int32 along = along0 + stepDir * j;
      const double t = length > 1 ? double(j) / (length - 1) : 0;
      Point p;
      if (horizontalBase) p = Pt(along, int32(std::lround(b0.v + t * (b1.v - b0.v))));
      else p = Pt(int32(std::lround(b0.h + t * (b1.h - b0.h))), along);
      if (!PtInConvexPoly(p, 3, points)) {
        DBAssert(__FILE__, __LINE__, "ShadeTriangleFan: a base point outside its triangle");
        continue;
      }
      // Out to one base pixel, along the base to the next and back: each
      // line once.
      path.push_back(p);
      if (path.size() % 3 == 0) path.push_back(a);
    }
    if (path.size() > 1) {
      Pen(RgbOf(s.h, lightness, s.s));
      DPolyLine(path.data(), int32(path.size()) - 1);
    }
    lightness += band * (i < half ? first : second);
  }
}

void ShadeArcBands(const Rect* rect, DColor first, DColor second, int32 startAngle, int32 shift) {
  if (!rect || DEmptyRect(rect) || first == kTransparentColor || second == kTransparentColor) return;
  Box r = BoxOf(*rect);
  const int32 half = std::max(r.Width(), r.Height()) / 2;
  if (half < 1) return;
  const int32 band = std::max(2, half >> std::clamp(shift, 0, 30));
  const Hls one = HlsOf(first), two = HlsOf(second);
  const double step = (double(two.l) - one.l) / half;
  const int32 depth = DGetDepth();
  double lightness = one.l;
  while (r.Width() > 2 * band && r.Height() > 2 * band) {
    const DColor colour = RgbOf(one.h, lightness, one.s);
    if (depth > 8) {
      Pen(colour);
      PaintArcBox(r, startAngle, 90);
      r = Inset(r, band);
    } else {
      // The palette colour first, then half the band dithered toward the
      // next band's palette colour.
      DColor matched = 0, nextMatched = 0;
      DColorToIndex(colour, depth, &matched);
      const DColor next = RgbOf(one.h, lightness + band * step, one.s);
      DColorToIndex(next, depth, &nextMatched);
      Pen(matched);
      PaintArcBox(r, startAngle, 90);
      r = Inset(r, band / 2);
      if (const int32 pen = SelectBlendPen(nextMatched, next, matched, colour))
        DSelectPen(pen, kBlackColor, kWhiteColor);
      PaintArcBox(r, startAngle, 90);
      r = Inset(r, band - band / 2);
    }
    lightness += band * step;
  }
}

void ShadeBandsSplit(const Rect* rect, DColor first, DColor second, DColor third, int32 shift, int32 flags) {
  if (!rect || DEmptyRect(rect)) return;
  if (first == kTransparentColor || second == kTransparentColor || third == kTransparentColor) return;
  const bool fromLeft = (flags & 16) != 0, fromRight = !fromLeft && (flags & 1) != 0;
  const int32 axis = flags & int32(kPictDirectionMask);
  if (!fromLeft && !fromRight) return;
  if (axis != kPictHorizontal && axis != kPictVertical) return;
  const Box r = BoxOf(*rect);
  const int32 rowHeight = BandOf(r.Height(), shift), column = BandOf(r.Width(), shift);
  const int32 middle = r.left + r.Width() / 2;
  const Hls a = HlsOf(first), b = HlsOf(second), c = HlsOf(third);
  const double leftSlope = (double(b.l) - a.l) / std::max(1, middle - r.left);
  const double rightSlope = (double(c.l) - b.l) / std::max(1, r.right - middle);
  const Hls current = fromLeft ? a : c;
  double lightness = current.l;
  int32 edge = fromLeft ? r.left : r.right;
  const bool down = axis == kPictHorizontal;
  for (int32 row = down ? r.top : r.bottom; down ? row < r.bottom : row > r.top; row += down ? rowHeight : -rowHeight) {
    const int32 top = down ? row : std::max(r.top, row - rowHeight);
    const int32 bottom = down ? std::min(r.bottom, row + rowHeight) : row;
    const DColor colour = RgbOf(current.h, lightness, current.s);
    if (fromLeft) {
      if (edge >= middle) break;
      const Rect part = RectOf(Box{top, edge, bottom, middle});
      DrawGradient(&part, colour, second, kPictHorizontal, shift - 1);
      edge += column;
      lightness += column * leftSlope;
    } else {
      if (edge <= middle) break;
      const Rect part = RectOf(Box{top, middle, bottom, edge});
      DrawGradient(&part, second, colour, kPictHorizontal, shift - 1);
      edge -= column;
      lightness -= column * rightSlope;
    }
  }
}
