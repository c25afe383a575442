// The outline and arrow geometry of line pictures: the body of a wide line,
// arrow heads at one or both ends, barbed heads and wedges, their bounds,
// their mapping onto the picture's rectangle, the hit test and painting.
#include <algorithm>
#include <cmath>

#include "controls/picc.h"
#include "controls/picc_internal.h"
#include "mgsource/draw/dport.h"
#include "mgsource/rects.h"

using namespace picc;

namespace {

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

// An offset (vertical, horizontal), each product truncated.
struct Offset2 {
  int32 v, h;
};
Offset2 Polar(double length, double angle) {
  return Offset2{int32(length * std::cos(angle)), int32(length * std::sin(angle))};
}
Point Plus(Point p, Offset2 o, int32 sign) { return Pt(p.h + sign * o.h, p.v + sign * o.v); }

// The number of points and polygons that a caller's buffers really hold.
int32 PointsHeld(const LinePolys* lp) { return std::clamp(lp->nPoints, 0, int32(kLinePolyMaxPoints)); }
int32 PolysHeld(const LinePolys* lp) { return std::clamp(lp->nPolys, 0, int32(kLinePolyMaxPolys)); }
bool PolyHeld(const LinePolys* lp, const LinePoly& p) {
  return p.first >= 0 && p.count > 0 && p.count <= PointsHeld(lp) && p.first <= PointsHeld(lp) - p.count;
}

void Append(LinePolys* lp, const Point* points, int32 n, int32 closing) {
  if (lp->nPolys >= kLinePolyMaxPolys || lp->nPoints > kLinePolyMaxPoints - n) return;
  lp->polys[lp->nPolys++] = LinePoly{lp->nPoints, n, closing};
  std::copy(points, points + n, lp->points + lp->nPoints);
  lp->nPoints += n;
}

}  // namespace

int32 BuildLinePolys(int32 mode, Point p1, Point p2, int32 width, int32 style, LinePolys* lp) {
  if (!lp || lp->nPolys < 0 || lp->nPolys > kLinePolyMaxPolys || lp->nPoints < 0 ||
      lp->nPoints > kLinePolyMaxPoints)
    return 0;
  const int32 before = lp->nPolys;
  const double theta = std::atan2(double(p2.h - p1.h), double(p2.v - p1.v));
  if (width > 1) {
    // The body: both ends moved w across the line either way.
    const double w = std::min(width, 65535);
    const Offset2 across{int32(w * std::sin(theta)), int32(-w * std::cos(theta))};
    const Point body[4] = {Plus(p1, across, 1), Plus(p1, across, -1), Plus(p2, across, -1), Plus(p2, across, 1)};
    Append(lp, body, 4, 0);
  }
  if (!(style & kLineArrows)) return lp->nPolys - before;
  const bool barbed = (style & kLineBarbed) && mode == kLineDraw;
  if (!(style & kLineWedge)) {
    constexpr double kSpread = 22.5 * kRadiansPerDegree, kLength = 17;
    const Offset2 a = Polar(kLength, theta + kSpread), b = Polar(kLength, theta - kSpread);
    const Offset2 barb = Polar(0.65 * kLength, theta);
    // A head at the end p, pointing away from the line: sign 1 at point 2,
    // -1 (every offset negated) at point 1.
    auto head = [&](Point p, int32 sign) {
      if (barbed) {
        const Point points[4] = {p, Plus(p, a, -sign), Plus(p, barb, -sign), Plus(p, b, -sign)};
        Append(lp, points, 4, 1);
      } else {
        const Point points[3] = {p, Plus(p, a, -sign), Plus(p, b, -sign)};
        Append(lp, points, 3, 0);
      }
    };
    head(p2, 1);
    if (style & kLineBothEnds) head(p1, -1);
  } else {
    // The wedge: from a base across point 1 to its tip at point 2.
    const bool narrow = (style & kLineBarbed) != 0;
    const double spread = (narrow ? 60 : 90) * kRadiansPerDegree, length = narrow ? 9 : 8;
    const Offset2 a = Polar(length, theta + spread), b = Polar(length, theta - spread);
    if (barbed) {
      const Point points[4] = {p2, Plus(p1, a, -1), p1, Plus(p1, b, -1)};
      Append(lp, points, 4, 1);
    } else {
      const Point points[3] = {p2, Plus(p1, a, -1), Plus(p1, b, -1)};
      Append(lp, points, 3, 0);
    }
  }
  return lp->nPolys - before;
}

void LinePolysBounds(const LinePolys* lp, Rect* r) {
  if (!lp || !r) return;
  Box b = BoxOf(*r);
  bool empty = b.Empty();
  for (int32 i = 0; i < PointsHeld(lp); ++i) {
    const Point p = lp->points[i];
    if (empty) {
      b = Box{p.v, p.h, p.v + 1, p.h + 1};
      empty = false;
      continue;
    }
    b.top = std::min<int32>(b.top, p.v);
    b.left = std::min<int32>(b.left, p.h);
    b.bottom = std::max<int32>(b.bottom, p.v + 1);
    b.right = std::max<int32>(b.right, p.h + 1);
  }
  *r = RectOf(b);
}

void MapLinePolys(LinePolys* lp, const Rect* from, const Rect* to) {
  if (!lp || !from || !to || DEqualRect(from, to)) return;
  for (int32 i = 0; i < PointsHeld(lp); ++i) DMapPt(&lp->points[i], from, to);
}

Bool32 PtInLinePolys(Point point, const LinePolys* lp) {
  if (!lp) return 0;
  for (int32 i = 0; i < PolysHeld(lp); ++i) {
    const LinePoly& p = lp->polys[i];
    if (PolyHeld(lp, p) && PtInConvexPoly(point, p.count, lp->points + p.first)) return 1;
  }
  return 0;
}

void PaintLinePolys(LinePolys* lp) {
  if (!lp) return;
  for (int32 i = 0; i < PolysHeld(lp); ++i) {
    const LinePoly& p = lp->polys[i];
    if (!PolyHeld(lp, p)) continue;
    Point points[kLinePolyMaxPoints + 1];
    std::copy(lp->points + p.first, lp->points + p.first + p.count, points);
    points[p.count] = points[0];
    DPaintPoly(points, p.count, p.closing);
  }
  lp->nPolys = lp->nPoints = 0;
}

Bool32 LineHitTest(Point point, Point p1, Point p2, int32 width, int32 style) {
  LinePolys lp{};
  BuildLinePolys(kLineHit, p1, p2, std::clamp(width, 0, 65533) + 2, style, &lp);
  return PtInLinePolys(point, &lp);
}
