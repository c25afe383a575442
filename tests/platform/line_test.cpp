#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "draw_support.h"
#include "platform/qx_file.h"

namespace {

// Draws (x0, y0) -> (x1, y1) with the context's pen on a fresh canvas.
std::string LineMask(int32_t w, int32_t h, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  Canvas c(w, h);
  PlatMoveTo(c.dc, x0, y0, nullptr);
  EXPECT_TRUE(PlatLineTo(c.dc, x1, y1));
  return c.Mask();
}

// The line rule computed directly (small coordinates only).
std::string RuleMask(int32_t w, int32_t h, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  std::string m;
  int64_t dx = x1 - x0, dy = y1 - y0, n = std::max(std::llabs(dx), std::llabs(dy));
  std::vector<std::string> rows(size_t(h), std::string(size_t(w), '.'));
  bool xMajor = std::llabs(dx) >= std::llabs(dy);
  int64_t mnr = xMajor ? dy : dx, sa = (xMajor ? dx : dy) < 0 ? -1 : 1, sb = mnr < 0 ? -1 : 1;
  for (int64_t i = 0; i < n; ++i) {
    int64_t off = (2 * i * std::llabs(mnr) + n) / (2 * n);
    int64_t x = xMajor ? x0 + sa * i : x0 + sb * off, y = xMajor ? y0 + sb * off : y0 + sa * i;
    if (x >= 0 && y >= 0 && x < w && y < h) rows[size_t(y)][size_t(x)] = '#';
  }
  for (int32_t y = 0; y < h; ++y) m += (y ? "\n" : "") + rows[size_t(y)];
  return m;
}

}  // namespace

TEST(PlatformLine, CosmeticLinesFollowTheRule) {
  EXPECT_EQ(LineMask(4, 4, 2, 2, 2, 2), Rows({"....", "....", "....", "...."}));
  EXPECT_EQ(LineMask(4, 8, 2, 2, 2, 7), Rows({"....", "....", "..#.", "..#.", "..#.", "..#.", "..#.", "...."}));
  EXPECT_EQ(LineMask(6, 3, 0, 0, 5, 2), Rows({"##....", "..##..", "....#."}));
  // Every direction and slope on a small grid equals the rule.
  for (int32_t x1 = 0; x1 < 9; ++x1)
    for (int32_t y1 = 0; y1 < 9; ++y1)
      ASSERT_EQ(LineMask(9, 9, 4, 4, x1, y1), RuleMask(9, 9, 4, 4, x1, y1)) << x1 << "," << y1;
  // Lines that enter the surface from outside it, either way along them.
  for (int32_t x0 : {-13, -5, 15})
    for (int32_t y0 : {-9, 3, 20})
      for (int32_t x1 = 0; x1 < 9; x1 += 4)
        for (int32_t y1 = 0; y1 < 9; y1 += 4) {
          ASSERT_EQ(LineMask(9, 9, x0, y0, x1, y1), RuleMask(9, 9, x0, y0, x1, y1)) << x0 << "," << y0;
          ASSERT_EQ(LineMask(9, 9, x1, y1, x0, y0), RuleMask(9, 9, x1, y1, x0, y0)) << x0 << "," << y0;
        }
  // Far ends: exactly what the rule gives inside the surface.
  struct Far {
    int32_t x0, y0, x1, y1;
  } far[] = {{-1000000000, 3, 1000000000, 4},
             {5, -1000000000, 6, 1000000000},
             {-1000000000, -1000000000, 1000000000, 1000000000},
             {1000000000, -999999993, -1000000000, 1000000007},
             {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}};
  for (const Far& f : far) {
    std::string got = LineMask(12, 12, f.x0, f.y0, f.x1, f.y1);
    // The reference shifted: the rule is translation-invariant only in
    // exact arithmetic, so check pixel by pixel with wide numbers.
    int64_t dx = int64_t(f.x1) - f.x0, dy = int64_t(f.y1) - f.y0;
    int64_t n = std::max(std::llabs(dx), std::llabs(dy));
    bool xMajor = std::llabs(dx) >= std::llabs(dy);
    std::string want(got.size(), '.');
    for (size_t k = 12; k < want.size(); k += 13) want[k] = '\n';
    for (int64_t a = 0; a < 12; ++a) {
      // the step i that reaches major coordinate a
      int64_t a0 = xMajor ? f.x0 : f.y0, sa = (xMajor ? dx : dy) < 0 ? -1 : 1;
      int64_t i = (a - a0) * sa;
      if (i < 0 || i >= n) continue;
      long double mn = std::llabs(xMajor ? dy : dx);
      int64_t off = int64_t(std::floor((2.0L * i * mn + n) / (2.0L * n)));
      int64_t b = (xMajor ? f.y0 : f.x0) + ((xMajor ? dy : dx) < 0 ? -off : off);
      int64_t x = xMajor ? a : b, y = xMajor ? b : a;
      if (x >= 0 && y >= 0 && x < 12 && y < 12) want[size_t(y * 13 + x)] = '#';
    }
    EXPECT_EQ(got, want) << f.x0 << "," << f.y0;
  }
}

TEST(PlatformLine, XorPolylineTwiceRestoresAndJointsAreDrawnOnce) {
  Canvas c(20, 12, 0x405060);
  PlatObj pen = PlatCreatePen(kPlatPenSolid, 1, 0xFFFFFF);
  PlatSelectObject(c.dc, pen);
  PlatSetRop2(c.dc, kPlatRop2XorPen);
  const PlatPoint pts[] = {{1, 1}, {15, 1}, {15, 9}, {3, 5}, {1, 1}};
  ASSERT_TRUE(PlatPolyline(c.dc, pts, 5));
  for (const PlatPoint& p : pts) {
    if (&p == &pts[0]) continue;  // the last point equals the first
    EXPECT_EQ(c.At(p.x, p.y), c.Before(p.x, p.y) ^ 0xFFFFFF) << "a joint inverted once: " << p.x << "," << p.y;
  }
  ASSERT_TRUE(PlatPolyline(c.dc, pts, 5));
  EXPECT_TRUE(c.Unchanged());
  EXPECT_FALSE(PlatPolyline(c.dc, pts, 1));
  PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockBlackPen));
  PlatDeleteObject(pen);
}

TEST(PlatformLine, DashesRestartAtEachCallAndFillGapsWhenOpaque) {
  const char* dashed = "############....############....############....########";
  Canvas c(56, 3);
  PlatObj pen = PlatCreatePen(kPlatPenDash, 1, 0);
  PlatSelectObject(c.dc, pen);
  PlatSetBkMode(c.dc, kPlatBkTransparent);
  PlatMoveTo(c.dc, 0, 0, nullptr);
  ASSERT_TRUE(PlatLineTo(c.dc, 40, 0));
  PlatMoveTo(c.dc, 40, 0, nullptr);
  ASSERT_TRUE(PlatLineTo(c.dc, 56, 0));  // restarts "on"
  std::string row0 = c.Mask().substr(0, 56);
  EXPECT_EQ(row0, std::string(dashed).substr(0, 40) + "############....");
  // A polyline carries the dash across its joint.
  const PlatPoint pts[] = {{0, 1}, {10, 1}, {56, 1}};
  ASSERT_TRUE(PlatPolyline(c.dc, pts, 3));
  EXPECT_EQ(c.Mask().substr(57, 56), dashed);
  // Opaque: the gaps take the background colour.
  PlatSetBkMode(c.dc, kPlatBkOpaque);
  PlatSetBkColor(c.dc, 0x0000FF);
  PlatMoveTo(c.dc, 0, 2, nullptr);
  ASSERT_TRUE(PlatLineTo(c.dc, 16, 2));
  EXPECT_EQ(c.At(11, 2), 0u);
  EXPECT_EQ(c.At(12, 2), 0xFF0000u);
  EXPECT_EQ(c.At(16, 2), 0xFFFFFFu);
  struct Style {
    int32_t style;
    const char* row;
  } styles[] = {{kPlatPenDot, "##..##..##..##..##.."},
                {kPlatPenDashDot, "########....##....##"},
                {kPlatPenDashDotDot, "########..##..##..##"}};
  for (const Style& s : styles) {
    Canvas d(20, 1);
    PlatObj p = PlatCreatePen(s.style, 0, 0);
    PlatSelectObject(d.dc, p);
    PlatSetBkMode(d.dc, kPlatBkTransparent);
    PlatLineTo(d.dc, 20, 0);
    EXPECT_EQ(d.Mask(), s.row) << s.style;
    PlatSelectObject(d.dc, PlatGetStockObject(kPlatStockBlackPen));
    PlatDeleteObject(p);
  }
  PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockBlackPen));
  PlatDeleteObject(pen);
}

TEST(PlatformPolygon, SquareWithNullAndOnePixelPensAndStarFillModes) {
  const PlatPoint square[] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  for (int32_t style : {kPlatPenNull, kPlatPenSolid}) {
    Canvas c(12, 12);
    PlatObj black = PlatCreateSolidBrush(0);
    PlatObj pen = PlatCreatePen(style, 1, 0);
    PlatSelectObject(c.dc, black);
    PlatSelectObject(c.dc, pen);
    ASSERT_TRUE(PlatPolygon(c.dc, square, 4));
    int32_t last = style == kPlatPenNull ? 9 : 10;
    for (int32_t y = 0; y < 12; ++y)
      for (int32_t x = 0; x < 12; ++x)
        ASSERT_EQ(c.At(x, y) != c.Before(x, y), x <= last && y <= last) << style << " " << x << "," << y;
    PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockWhiteBrush));
    PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockBlackPen));
    PlatDeleteObject(black);
    PlatDeleteObject(pen);
  }
  // A five-point star: alternate and winding differ exactly in its inner
  // pentagon (pixels whose centre sees crossings that wind twice).
  const PlatPoint star[] = {{20, 0}, {32, 38}, {0, 14}, {40, 14}, {8, 38}};
  std::string masks[2];
  for (int k = 0; k < 2; ++k) {
    Canvas c(41, 40);
    PlatObj black = PlatCreateSolidBrush(0);
    PlatObj none = PlatCreatePen(kPlatPenNull, 0, 0);
    PlatSelectObject(c.dc, black);
    PlatSelectObject(c.dc, none);
    PlatSetPolyFillMode(c.dc, k == 0 ? kPlatFillAlternate : kPlatFillWinding);
    ASSERT_TRUE(PlatPolygon(c.dc, star, 5));
    masks[k] = c.Mask();
    PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockWhiteBrush));
    PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockBlackPen));
    PlatDeleteObject(black);
    PlatDeleteObject(none);
  }
  // The inner pentagon's vertices are where the star's edges cross; its
  // pixels are those whose centre lies inside all five edges' inner sides.
  auto side = [&](int e, double x, double y) {
    const PlatPoint& p = star[e];
    const PlatPoint& q = star[(e + 1) % 5];
    return (q.x - p.x) * (y - p.y) - (q.y - p.y) * (x - p.x);
  };
  int differing = 0;
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 41; ++x) {
      size_t at = size_t(y) * 42 + size_t(x);
      bool alt = masks[0][at] == '#', wind = masks[1][at] == '#';
      double cx = x + 0.5, cy = y + 0.5;
      bool inner = true;
      for (int e = 0; e < 5; ++e) inner = inner && side(e, cx, cy) > 0;
      bool innerOrOn = true;
      for (int e = 0; e < 5; ++e) innerOrOn = innerOrOn && side(e, cx, cy) >= 0;
      if (alt != wind) {
        ++differing;
        EXPECT_TRUE(wind && innerOrOn) << x << "," << y;
      } else if (inner) {
        ADD_FAILURE() << "inner pentagon pixel filled alike at " << x << "," << y;
      }
    }
  EXPECT_GT(differing, 50);
}

TEST(PlatformPolygon, FarVerticesPaintExactlyTheRuleInsideTheSurface) {
  // Triangles with vertices a billion pixels away; each pixel centre is
  // tested against the edges exactly (doubled coordinates, 64-bit products).
  const PlatPoint tris[][3] = {{{-1000000000, -1000000000}, {1000000000, 5}, {-1000000000, 1000000000}},
                               {{3, -1000000000}, {1000000000, 1000000000}, {-999999999, 999999999}},
                               {{INT32_MIN, 0}, {INT32_MAX, 6}, {0, INT32_MAX}}};
  for (const auto& t : tris) {
    Canvas c(12, 12);
    PlatObj black = PlatCreateSolidBrush(0);
    PlatObj none = PlatCreatePen(kPlatPenNull, 0, 0);
    PlatSelectObject(c.dc, black);
    PlatSelectObject(c.dc, none);
    ASSERT_TRUE(PlatPolygon(c.dc, t, 3));
    int checked = 0;
    for (int32_t y = 0; y < 12; ++y)
      for (int32_t x = 0; x < 12; ++x) {
        int sign = 0;
        bool tie = false, inside = true;
        for (int e = 0; e < 3; ++e) {
          const PlatPoint& p = t[e];
          const PlatPoint& q = t[(e + 1) % 3];
          long double cross = (long double)(int64_t(q.x) - p.x) * (2 * int64_t(y) + 1 - 2 * int64_t(p.y)) -
                              (long double)(int64_t(q.y) - p.y) * (2 * int64_t(x) + 1 - 2 * int64_t(p.x));
          if (cross == 0) tie = true;
          int s = cross > 0 ? 1 : -1;
          if (sign == 0) sign = s;
          else if (s != sign) inside = false;
        }
        if (tie) continue;
        ++checked;
        EXPECT_EQ(c.At(x, y) != c.Before(x, y), inside) << t[0].x << " at " << x << "," << y;
      }
    EXPECT_GT(checked, 100);
    PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockWhiteBrush));
    PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockBlackPen));
    PlatDeleteObject(black);
    PlatDeleteObject(none);
  }
}
