// Curves and wide strokes: masks of what changed against the pixel rules,
// computed here independently in doubled integer coordinates.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "draw_support.h"
#include "platform/qx_file.h"
#include "platform/qx_blit.h"
#include "platform/qx_shapes.h"
#include "platform/qx_trace.h"

namespace {

using Rule = std::function<bool(int64_t X, int64_t Y)>;  // doubled pixel centre

std::string MaskOf(int32_t w, int32_t h, const Rule& in) {
  std::string m;
  for (int32_t y = 0; y < h; ++y) {
    if (y) m += '\n';
    for (int32_t x = 0; x < w; ++x) m += in(2 * x + 1, 2 * y + 1) ? '#' : '.';
  }
  return m;
}

// The elliptic region's pixel set F of (l, t, r, b).
bool InF(int64_t l, int64_t t, int64_t r, int64_t b, int64_t x, int64_t y) {
  int64_t u = 2 * x + 1 - l - r, v = 2 * y + 1 - t - b, W = r - l, H = b - t;
  return x >= l && x < r && y >= t && y < b && u * u * H * H + v * v * W * W <= W * W * H * H;
}

// Strictly inside the ellipse of centre (cx, cy) and semi-axes (a, b), all doubled.
bool StrictlyIn(int64_t X, int64_t Y, int64_t cx, int64_t cy, int64_t a, int64_t b) {
  if (a <= 0 || b <= 0) return false;
  int64_t u = X - cx, v = Y - cy;
  return u * u * b * b + v * v * a * a < a * a * b * b;
}

// Distance^2 from (X, Y) to the segment c0-c1 at most w^2 (doubled units).
bool NearSegment(int64_t X, int64_t Y, int64_t x0, int64_t y0, int64_t x1, int64_t y1, int64_t w) {
  int64_t dx = x1 - x0, dy = y1 - y0, qx = X - x0, qy = Y - y0;
  int64_t len2 = dx * dx + dy * dy, dot = qx * dx + qy * dy;
  if (len2 == 0 || dot <= 0) return qx * qx + qy * qy <= w * w;
  if (dot >= len2) return (X - x1) * (X - x1) + (Y - y1) * (Y - y1) <= w * w;
  int64_t cross = dx * qy - dy * qx;
  return cross * cross <= w * w * len2;
}

struct Tools {
  PlatObj pen, brush;
  Tools(const Canvas& c, int32_t style, int32_t width, uint32_t penColour, bool nullBrush,
        uint32_t brushColour = 0xFF0000) {
    pen = PlatCreatePen(style, width, penColour);
    brush = nullBrush ? PlatGetStockObject(kPlatStockNullBrush) : PlatCreateSolidBrush(brushColour);
    PlatSelectObject(c.dc, pen);
    PlatSelectObject(c.dc, brush);
    dc = c.dc;
  }
  ~Tools() {
    PlatSelectObject(dc, PlatGetStockObject(kPlatStockBlackPen));
    PlatSelectObject(dc, PlatGetStockObject(kPlatStockWhiteBrush));
    PlatDeleteObject(pen);
    PlatDeleteObject(brush);
  }
  PlatObj dc;
};

// Pixels of one colour (0x00RRGGBB) as a mask.
std::string ColourMask(const Canvas& c, uint32_t rgb) {
  std::string m;
  for (int32_t y = 0; y < PlatSurfaceHeight(c.surface); ++y) {
    if (y) m += '\n';
    for (int32_t x = 0; x < PlatSurfaceWidth(c.surface); ++x) m += c.At(x, y) == rgb ? '#' : '.';
  }
  return m;
}

// Run of "#" from (x, y) stepping by (dx, dy).
int RunOf(const std::string& mask, int32_t width, int32_t x, int32_t y, int32_t dx, int32_t dy) {
  int n = 0;
  while (x >= 0 && y >= 0 && x < width && size_t(y * (width + 1) + x) < mask.size() &&
         mask[size_t(y * (width + 1) + x)] == '#') {
    ++n;
    x += dx;
    y += dy;
  }
  return n;
}

TEST(PlatformShapes, CosmeticEllipseOutlineAndFill) {
  const PlatRect rects[] = {{0, 0, 20, 20}, {2, 1, 15, 8}, {0, 0, 1, 5}, {3, 3, 5, 4}};
  for (const PlatRect& r : rects) {
    Canvas c(22, 22);
    Tools tools(c, kPlatPenSolid, 1, 0x0000FF, false);
    ASSERT_TRUE(PlatEllipse(c.dc, r.left, r.top, r.right, r.bottom));
    auto f = [&](int64_t x, int64_t y) { return InF(r.left, r.top, r.right, r.bottom, x, y); };
    Rule outline = [&](int64_t X, int64_t Y) {
      int64_t x = X / 2, y = Y / 2;
      return f(x, y) && (!f(x - 1, y) || !f(x + 1, y) || !f(x, y - 1) || !f(x, y + 1));
    };
    Rule fill = [&](int64_t X, int64_t Y) { return f(X / 2, Y / 2) && !outline(X, Y); };
    EXPECT_EQ(ColourMask(c, 0xFF0000), MaskOf(22, 22, outline)) << r.left << "," << r.right;
    EXPECT_EQ(ColourMask(c, 0x0000FF), MaskOf(22, 22, fill)) << r.left << "," << r.right;
  }
  // A small one spelled out.
  Canvas c(8, 6);
  Tools tools(c, kPlatPenSolid, 0, 0, true);
  ASSERT_TRUE(PlatEllipse(c.dc, 0, 0, 8, 6));
  EXPECT_EQ(c.Mask(), Rows({"..####..", ".#....#.", "#......#", "#......#", ".#....#.", "..####.."}));
  // The null pen: the brush fills all of F.
  Canvas d(10, 10);
  Tools none(d, kPlatPenNull, 0, 0, false);
  ASSERT_TRUE(PlatEllipse(d.dc, 0, 0, 10, 10));
  EXPECT_EQ(d.Mask(), MaskOf(10, 10, [](int64_t X, int64_t Y) { return InF(0, 0, 10, 10, X / 2, Y / 2); }));
}

TEST(PlatformShapes, WideEllipsesFollowTheRuleAndFramesStayInside) {
  struct Case {
    PlatRect r;
    int32_t w;
  } cases[] = {{{2, 2, 20, 16}, 2}, {{1, 3, 22, 20}, 3}, {{4, 4, 9, 9}, 6}, {{0, 0, 24, 24}, 5}};
  for (const Case& k : cases) {
    Canvas c(26, 26);
    Tools tools(c, kPlatPenSolid, k.w, 0x0000FF, false);
    ASSERT_TRUE(PlatEllipse(c.dc, k.r.left, k.r.top, k.r.right, k.r.bottom));
    int64_t cx = k.r.left + k.r.right - 1, cy = k.r.top + k.r.bottom - 1;
    int64_t a = k.r.right - 1 - k.r.left, b = k.r.bottom - 1 - k.r.top;
    Rule outer = [&](int64_t X, int64_t Y) { return StrictlyIn(X, Y, cx, cy, a + k.w, b + k.w); };
    Rule inner = [&](int64_t X, int64_t Y) { return StrictlyIn(X, Y, cx, cy, a - k.w, b - k.w); };
    EXPECT_EQ(ColourMask(c, 0xFF0000), MaskOf(26, 26, [&](int64_t X, int64_t Y) {
                return outer(X, Y) && !inner(X, Y);
              })) << k.w;
    EXPECT_EQ(ColourMask(c, 0x0000FF), MaskOf(26, 26, inner)) << k.w;
  }
  // Frames through the inset by w / 2 and the extension by one.
  for (int32_t w : {2, 3, 4, 5}) {
    Canvas c(24, 24);
    Tools tools(c, kPlatPenSolid, w, 0, true);
    int32_t h = w / 2;
    ASSERT_TRUE(PlatEllipse(c.dc, 2 + h, 2 + h, 22 - h + 1, 22 - h + 1));
    std::string m = c.Mask();
    for (int32_t y = 0; y < 24; ++y)
      for (int32_t x = 0; x < 24; ++x)
        if (m[size_t(y * 25 + x)] == '#') {
          ASSERT_TRUE(x >= 2 && x < 22 && y >= 2 && y < 22) << w;
        }
    EXPECT_EQ(RunOf(m, 24, 2, 11, 1, 0), w);
    EXPECT_EQ(RunOf(m, 24, 21, 11, -1, 0), w);
    EXPECT_EQ(RunOf(m, 24, 11, 2, 0, 1), w);
    EXPECT_EQ(RunOf(m, 24, 11, 21, 0, -1), w);
  }
}

TEST(PlatformShapes, RoundRectanglesCosmeticAndWide) {
  // Cosmetic: the outline of the round-rectangle region's pixel set.
  Canvas c(16, 12);
  Tools tools(c, kPlatPenSolid, 1, 0x0000FF, false);
  ASSERT_TRUE(PlatRoundRect(c.dc, 1, 1, 15, 11, 6, 4));
  PlatObj rgn = PlatCreateRoundRectRgn(1, 1, 15, 11, 6, 4);
  auto f = [&](int64_t x, int64_t y) { return PlatPtInRegion(rgn, int32_t(x), int32_t(y)); };
  EXPECT_EQ(ColourMask(c, 0xFF0000), MaskOf(16, 12, [&](int64_t X, int64_t Y) {
              int64_t x = X / 2, y = Y / 2;
              return f(x, y) && (!f(x - 1, y) || !f(x + 1, y) || !f(x, y - 1) || !f(x, y + 1));
            }));
  PlatDeleteObject(rgn);
  // Wide frames stay inside, touch the sides and are w thick.
  for (int32_t w : {2, 3, 4}) {
    Canvas d(24, 20);
    Tools wide(d, kPlatPenSolid, w, 0, true);
    int32_t h = w / 2;
    ASSERT_TRUE(PlatRoundRect(d.dc, 1 + h, 1 + h, 23 - h + 1, 19 - h + 1, 8, 6));
    std::string m = d.Mask();
    EXPECT_EQ(RunOf(m, 24, 1, 10, 1, 0), w);
    EXPECT_EQ(RunOf(m, 24, 22, 10, -1, 0), w);
    EXPECT_EQ(RunOf(m, 24, 12, 1, 0, 1), w);
    EXPECT_EQ(RunOf(m, 24, 12, 18, 0, -1), w);
    for (int32_t x = 0; x < 24; ++x) EXPECT_EQ(m[size_t(x)], '.');
    EXPECT_EQ(m[size_t(1 * 25 + 1)], '.') << "a rounded corner";
  }
}

TEST(PlatformShapes, ArcsAndPiesKeepTheirSweep) {
  // Start 0, arc 90 of (0, 0, 40, 40): the host start and end exchanged.
  Canvas c(40, 40);
  Tools tools(c, kPlatPenSolid, 1, 0, false);
  ASSERT_TRUE(PlatArc(c.dc, 0, 0, 40, 40, 40, 19, 19, 0));
  std::string arc = c.Mask();
  int count = 0;
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 40; ++x)
      if (arc[size_t(y * 41 + x)] == '#') {
        ++count;
        EXPECT_TRUE(x >= 19 && y <= 20) << x << "," << y;
      }
  EXPECT_GT(count, 20);
  EXPECT_EQ(arc[19], '#') << "the top outline pixel at x = 19";
  EXPECT_EQ(arc[18], '.');
  // 8-connected: a flood from the top pixel reaches all.
  std::string seen = arc;
  std::vector<int> stack{19};
  int reached = 0;
  while (!stack.empty()) {
    int at = stack.back();
    stack.pop_back();
    if (seen[size_t(at)] != '#') continue;
    seen[size_t(at)] = 'o';
    ++reached;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        int x = at % 41 + dx, y = at / 41 + dy;
        if (x >= 0 && y >= 0 && x < 40 && y < 40) stack.push_back(y * 41 + x);
      }
  }
  EXPECT_EQ(reached, count);
  // The pie changes only the quarter, and more than the arc.
  Canvas p(40, 40);
  Tools pieTools(p, kPlatPenSolid, 1, 0, false, 0x00FF00);
  ASSERT_TRUE(PlatPie(p.dc, 0, 0, 40, 40, 40, 19, 19, 0));
  std::string pie = p.Mask();
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 40; ++x)
      if (pie[size_t(y * 41 + x)] == '#') {
        EXPECT_TRUE(x >= 19 && y <= 20) << x << "," << y;
      }
  EXPECT_EQ(p.At(19, 19), 0u) << "the radii start at the pixel at C";
  EXPECT_EQ(p.At(30, 10), 0x00FF00u) << "filled in the sweep";
  // Complementary sweeps make the whole outline; equal rays the whole figure.
  Canvas whole(40, 40), a(40, 40), b(40, 40);
  Tools t1(whole, kPlatPenSolid, 1, 0, true), t2(a, kPlatPenSolid, 1, 0, true), t3(b, kPlatPenSolid, 1, 0, true);
  ASSERT_TRUE(PlatEllipse(whole.dc, 0, 0, 40, 40));
  ASSERT_TRUE(PlatArc(a.dc, 0, 0, 40, 40, 40, 19, 19, 0));
  ASSERT_TRUE(PlatArc(a.dc, 0, 0, 40, 40, 19, 0, 40, 19));  // black over black: union
  ASSERT_TRUE(PlatArc(b.dc, 0, 0, 40, 40, 3, 7, 3, 7));
  EXPECT_EQ(a.Mask(), whole.Mask());
  EXPECT_EQ(b.Mask(), whole.Mask());
}

// A pie drawn under a clip, or on a smaller surface, paints inside the clip
// exactly the pixels of the whole pie: the radii ends come from the whole
// figure.  The first row is a pie whose clipped outline used to move them.
TEST(PlatformShapes, PiesUnderClipsEqualTheWholePie) {
  struct Pie {
    int32_t l, t, r, b, sx, sy, ex, ey, width;
    PlatRect clip;
    bool smaller;  // the clip is a smaller surface rather than a clip region
  };
  std::vector<Pie> pies = {{9, 6, 33, 29, -8, 2, 40, -1, 1, {0, 13, 60, 50}, false},
                           {9, 6, 33, 29, -8, 2, 40, -1, 1, {0, 0, 25, 20}, true}};
  std::srand(69);
  auto rnd = [](int32_t lo, int32_t hi) { return lo + std::rand() % (hi - lo + 1); };
  for (int i = 0; i < 300; ++i) {
    Pie p;
    p.l = rnd(-10, 40), p.t = rnd(-10, 30), p.r = p.l + rnd(2, 40), p.b = p.t + rnd(2, 40);
    p.sx = rnd(-20, 80), p.sy = rnd(-20, 70), p.ex = rnd(-20, 80), p.ey = rnd(-20, 70);
    p.width = rnd(0, 5);
    p.smaller = i % 3 == 0;
    int32_t cl = p.smaller ? 0 : rnd(0, 40), ct = p.smaller ? 0 : rnd(0, 30);
    p.clip = {cl, ct, cl + rnd(1, 60 - cl), ct + rnd(1, 50 - ct)};
    pies.push_back(p);
  }
  for (const Pie& p : pies) {
    Canvas whole(60, 50);
    Canvas part(p.smaller ? p.clip.right : 60, p.smaller ? p.clip.bottom : 50);
    Tools a(whole, kPlatPenSolid, p.width, 0x0000FF, false), b(part, kPlatPenSolid, p.width, 0x0000FF, false);
    if (!p.smaller) {
      PlatObj rgn = PlatCreateRectRgn(p.clip.left, p.clip.top, p.clip.right, p.clip.bottom);
      PlatSelectClipRgn(part.dc, rgn);
      PlatDeleteObject(rgn);
    }
    ASSERT_TRUE(PlatPie(whole.dc, p.l, p.t, p.r, p.b, p.sx, p.sy, p.ex, p.ey));
    ASSERT_TRUE(PlatPie(part.dc, p.l, p.t, p.r, p.b, p.sx, p.sy, p.ex, p.ey));
    int differ = 0;
    for (int32_t y = p.clip.top; y < p.clip.bottom; ++y)
      for (int32_t x = p.clip.left; x < p.clip.right; ++x) differ += whole.At(x, y) != part.At(x, y);
    EXPECT_EQ(differ, 0) << "pie " << p.l << "," << p.t << "," << p.r << "," << p.b << " " << p.sx << ","
                         << p.sy << " " << p.ex << "," << p.ey << " width " << p.width << " clip "
                         << p.clip.left << "," << p.clip.top << "," << p.clip.right << "," << p.clip.bottom;
  }
}

TEST(PlatformShapes, WidePolylinesAndDashes) {
  // Solid width 4: XOR twice restores, and once changes exactly the rule's
  // union of the two round-capped segments (the joint only once).
  Canvas c(40, 40, 0x203040);
  Tools tools(c, kPlatPenSolid, 4, 0xFFFFFF, true);
  PlatSetRop2(c.dc, kPlatRop2XorPen);
  const PlatPoint pts[] = {{5, 5}, {30, 5}, {30, 30}};
  ASSERT_TRUE(PlatPolyline(c.dc, pts, 3));
  EXPECT_EQ(c.Mask(), MaskOf(40, 40, [](int64_t X, int64_t Y) {
              return NearSegment(X, Y, 10, 10, 60, 10, 4) || NearSegment(X, Y, 60, 10, 60, 60, 4);
            }));
  ASSERT_TRUE(PlatPolyline(c.dc, pts, 3));
  EXPECT_TRUE(c.Unchanged());
  // Cosmetic too: a self-crossing XOR polyline inverts its crossing once.
  Canvas x(8, 8);
  Tools thin(x, kPlatPenSolid, 1, 0xFFFFFF, true);
  PlatSetRop2(x.dc, kPlatRop2XorPen);
  const PlatPoint cross[] = {{0, 0}, {6, 6}, {6, 0}, {0, 6}};
  ASSERT_TRUE(PlatPolyline(x.dc, cross, 4));
  EXPECT_EQ(x.At(3, 3), 0u);
  // Odd widths centre on pixel centres; a diagonal against the rule.
  Canvas d(30, 30);
  Tools odd(d, kPlatPenSolid, 3, 0, true);
  PlatMoveTo(d.dc, 3, 4, nullptr);
  ASSERT_TRUE(PlatLineTo(d.dc, 25, 17));
  EXPECT_EQ(d.Mask(), MaskOf(30, 30, [](int64_t X, int64_t Y) { return NearSegment(X, Y, 7, 9, 51, 35, 3); }));
  // Dashes of width 3 are the cosmetic ones with flat caps; the phase runs
  // on across a polyline's joints.
  const char* row = "############....############....#########.";
  struct Dash {
    std::vector<PlatPoint> pts;
  } dashes[] = {{{{0, 10}, {41, 10}}}, {{{0, 10}, {7, 10}, {41, 10}}}, {{{0, 10}, {13, 10}, {20, 10}, {41, 10}}}};
  for (const Dash& k : dashes) {
    Canvas e(42, 14);
    Tools dash(e, kPlatPenDash, 3, 0, true);
    ASSERT_TRUE(PlatPolyline(e.dc, k.pts.data(), int32_t(k.pts.size())));
    std::string want;
    for (int32_t y = 0; y < 14; ++y) want += (y ? "\n" : "") + std::string(y >= 9 && y <= 11 ? row : std::string(42, '.'));
    EXPECT_EQ(e.Mask(), want) << k.pts.size();
  }
  // A vertical dash-dot of even width: flat caps, columns of the corner line.
  Canvas v(6, 24);
  Tools dd(v, kPlatPenDashDot, 2, 0, true);
  PlatMoveTo(v.dc, 3, 0, nullptr);
  ASSERT_TRUE(PlatLineTo(v.dc, 3, 24));
  std::string col;
  for (int32_t y = 0; y < 24; ++y) col += v.At(2, y) == 0 && v.At(3, y) == 0 ? '#' : '.';
  EXPECT_EQ(col, "########....##....######");
  EXPECT_EQ(v.At(1, 0), 0xFFFFFFu);
  EXPECT_EQ(v.At(4, 0), 0xFFFFFFu);
}

TEST(PlatformShapes, BadArgumentsFailAndEmptyOrFarShapesAreSafe) {
  Canvas c(20, 20);
  Tools tools(c, kPlatPenSolid, 3, 0, false);
  EXPECT_FALSE(PlatEllipse(c.dc, 0, 0, 70000, 10));
  EXPECT_EQ(PlatLastError(), kPlatErrInvalidParam);
  EXPECT_FALSE(PlatEllipse(0, 0, 0, 10, 10));
  EXPECT_TRUE(PlatEllipse(c.dc, 10, 10, 10, 20));
  EXPECT_TRUE(PlatRoundRect(c.dc, 10, 10, 5, 5, 3, 3));
  EXPECT_TRUE(c.Unchanged());
  // Far ends: a wide line across the surface from far away.
  PlatMoveTo(c.dc, -2000000000, 10, nullptr);
  ASSERT_TRUE(PlatLineTo(c.dc, 2000000000, 10));
  EXPECT_EQ(c.Mask().substr(9 * 21, 20), std::string(20, '#'));
  EXPECT_EQ(c.At(5, 8), 0xFFFFFFu);
  PlatObj huge = PlatCreatePen(kPlatPenSolid, 70000, 0);
  PlatSelectObject(c.dc, huge);
  EXPECT_FALSE(PlatEllipse(c.dc, 0, 0, 10, 10));
  PlatSelectObject(c.dc, tools.pen);
  PlatDeleteObject(huge);
}

}  // namespace

namespace {

TEST(PlatformShapes, TracedFiguresReplayToTheSamePixels) {
  Canvas a(30, 30), b(30, 30);
  PlatTraceRecorder rec;
  PlatSetTraceSink(a.dc, &rec);
  Tools tools(a, kPlatPenSolid, 3, 0x0000FF, false, 0x00FF00);
  PlatSetStretchBltMode(a.dc, kPlatStretchOr);
  ASSERT_TRUE(PlatEllipse(a.dc, 1, 1, 20, 14));
  ASSERT_TRUE(PlatRoundRect(a.dc, 5, 12, 28, 29, 8, 6));
  ASSERT_TRUE(PlatArc(a.dc, 0, 0, 30, 30, 29, 14, 14, 0));
  ASSERT_TRUE(PlatPie(a.dc, 10, 10, 26, 26, 18, 26, 26, 18));
  PlatSetTraceSink(a.dc, nullptr);
  EXPECT_EQ(PlatReplayTrace(b.dc, rec.lines), -1);
  EXPECT_EQ(a.Mask(), b.Mask());
  EXPECT_EQ(PlatGetStretchBltMode(b.dc), kPlatStretchOr);
  EXPECT_EQ(PlatReplayTrace(b.dc, {"ellipse 1,2,3", "arc 0,0,4,4 1,1"}), 0);
  EXPECT_EQ(PlatReplayTrace(b.dc, {"pie 0,0,4,4 1,1 2,2", "roundrect 0,0,4,4"}), 1);
}

}  // namespace
