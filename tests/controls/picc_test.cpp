// The picture primitives and composite control parts: golden sheets of
// every primitive in all its looks, directions and states at 32, 8, 4 and 1
// bits; the bevel's edge pixels; the blend pens and palette runs of
// gradients; the triangle and line geometry; empty rectangles.
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "controls/picc_calls.h"
#include "controls/picc_fixture.h"
#include "golden_image.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw_window.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/window/menus.h"
#include "panel/osupport.h"
#include "shell/shellglobals.h"

namespace {

using picctest::Args;
using picctest::Call;
using picctest::Calls;

using picctest::gPens;
using picctest::kBack;
using picctest::kFore;
using picctest::LogPort;
using picctest::Picc;

// ---- Golden sheets -----------------------------------------------------------------------

constexpr int32 kSheetWidth = 1012, kCellStep = 53, kRowStep = 34;

// Every primitive in every variant, each in a 32 x 32 cell and a 17 x 9
// cell beside it; a primitive starts a row of its own.  The caller's
// rectangle must come back unchanged.  Black-and-white ports get black on
// white, as the image manager hands them.
int32 DrawSheet(bool colour, bool draw) {
  const DColor fore = colour ? kFore : kBlackColor, back = colour ? kBack : kWhiteColor;
  int32 y = 2;
  for (const Call& c : Calls()) {
    if (c.colourOnly && !colour) continue;
    int32 x = 2;
    for (int32 looks : *c.looks)
      for (int32 direction : *c.directions)
        for (int32 width : *c.widths)
          for (int32 state : *c.states) {
            if (x + kCellStep > kSheetWidth) x = 2, y += kRowStep;
            const Args a{fore, back, looks, width, direction, state};
            for (const Rect& cell : {Rect{int16(y), int16(x), int16(y + 32), int16(x + 32)},
                                     Rect{int16(y), int16(x + 34), int16(y + 9), int16(x + 51)}}) {
              if (!draw) continue;
              Rect r = cell;
              c.draw(&r, a);
              EXPECT_TRUE(DEqualRect(&r, &cell)) << c.name << " changed its rectangle";
            }
            x += kCellStep;
          }
    y += kRowStep;
  }
  return y;
}

TEST_F(Picc, GoldenSheetsAtEveryDepth) {
  // A check glyph of 7 x 7 for the dialog check box.
  const int32 glyph = DrawInto(7, 7, 32, [] {
    DSelectNormPen(kBlackColor, kBlackColor);
    DMoveTo(0, 3), DLineTo(2, 5), DLineTo(6, 1);
  });
  ASSERT_EQ(SetBuiltInPict(2084, glyph), kNoErr);
  for (int32 depth : {32, 8, 4, 1}) {
    const bool colour = depth > 1;
    const int32 height = DrawSheet(colour, false);
    const int32 first = DrawInto(kSheetWidth, height, depth, [&] { DrawSheet(colour, true); });
    const int32 second = DrawInto(kSheetWidth, height, depth, [&] { DrawSheet(colour, true); });
    EXPECT_EQ(Differing(first, second, kSheetWidth, height), 0) << "a second run differs at depth " << depth;
    const std::string name = "picc_sheet_" + std::to_string(depth) + ".png";
    qxtest::ExpectMatchesGolden(SurfaceOf(first), std::filesystem::path(QX_SOURCE_DIR) / "tests/controls/goldens" / name,
                                "regenerate the picture primitive sheets (QX_UPDATE_GOLDENS=1) and check them by eye");
  }
  SetBuiltInPict(2084, 0);
}

// Rings of large ovals that cannot show are left out by the clip box of the
// port: drawn in a window scrolled by an origin they must land where the
// same drawing lands in a pixmap.
TEST_F(Picc, OvalRingsShowInScrolledWindowsAsInPixmaps) {
  auto draw = [](int32 dh, int32 dv) {
    Rect big{int16(-300 + dv), int16(-60 + dh), int16(90 + dv), int16(150 + dh)};
    DrawOval(&big, kFore, kBack, 0x2200, 6);
    Rect knob{int16(10 + dv), int16(100 + dh), int16(60 + dv), int16(190 + dh)};
    DrawRoundPush(&knob, kFore, kBack, 0x200, 0x4000);
    Rect small{int16(2 + dv), int16(5 + dh), int16(28 + dv), int16(35 + dh)};
    DrawOval(&small, kFore, kBack, 0x1100, 3);
  };
  const int32 pixmap = DrawInto(200, 100, 32, [&] { draw(0, 0); });
  End();
  WSetOrigin(window_, Point{int16(-30), int16(25)});  // v, h
  Begin();
  draw(25, -30);
  int32 differing = 0, painted = 0;
  for (int32 y = 0; y < 100; ++y)
    for (int32 x = 0; x < 200; ++x) {
      differing += At(x, y) != Pix(pixmap, x, y);
      painted += Pix(pixmap, x, y) != 0xFFFFFF;
    }
  EXPECT_EQ(differing, 0);
  EXPECT_GT(painted, 5000);
  End();
  WSetOrigin(window_, Point{0, 0});
  Begin();
}

// ---- Edge pixels -------------------------------------------------------------------------

// The highlight and shadow follow the depth of the port drawn into, not of
// the window beneath it.
TEST_F(Picc, HilitesFollowThePortsDepth) {
  const struct {
    int32 depth;
    DColor colour, hilite, shadow;
  } rows[] = {
      {32, kFore, 0x90A8D0, 0x102850}, {8, kFore, 0x90A8D0, 0x102850}, {4, kFore, 0xE4E4E4, 0x666666},
      {1, kFore, kBlackColor, kBlackColor}, {32, kTransparentColor, kTransparentColor, kTransparentColor},
  };
  for (const auto& row : rows) {
    DColor h = 1, s = 1;
    DrawInto(4, 4, row.depth, [&] { PiccHilites(row.colour, &h, &s); });
    EXPECT_EQ(h, row.hilite) << row.depth;
    EXPECT_EQ(s, row.shadow) << row.depth;
  }
  EXPECT_EQ(PiccLighterShade(0x01204080), 0x0190A0C0u) << "the top byte is kept";
  EXPECT_EQ(PiccDarkerShade(0x01204081), 0x01102040u);
  EXPECT_EQ(PiccDarkerShade(kTransparentColor), kTransparentColor);
}

TEST_F(Picc, BevelInsetAndDiagonalAngle) {
  const struct {
    Rect r;
    int32 n, used;
    Rect after;
  } insets[] = {
      {{0, 0, 10, 10}, 8, 4, {4, 4, 6, 6}},      // clamped to (10 - 2) / 2
      {{0, 0, 3, 3}, 2, 0, {0, 0, 3, 3}},        // min - 2 below 2
      {{0, 0, 11, 20}, 9, 4, {4, 4, 7, 16}},     // an odd 9 made 8
      {{0, 0, 10, 10}, -2, -2, {-2, -2, 12, 12}},  // n <= 0 as it is
  };
  for (const auto& row : insets) {
    Rect r = row.r;
    EXPECT_EQ(PiccBevelInset(&r, row.n), row.used);
    EXPECT_TRUE(DEqualRect(&r, &row.after)) << row.n;
  }
  const Rect wide{0, 0, 10, 20}, square{0, 0, 30, 30}, flat{5, 0, 5, 20}, tall{0, 0, 20, 10};
  EXPECT_EQ(PiccDiagonalAngle(&wide), 63);
  EXPECT_EQ(PiccDiagonalAngle(&square), 45);
  EXPECT_EQ(PiccDiagonalAngle(&flat), 45);
  EXPECT_EQ(PiccDiagonalAngle(&tall), 26);
}

TEST_F(Picc, BevelledRectangleEdgePixels) {
  constexpr DColor kHilite = 0x90A8D0, kShadow = 0x102850, kWhite = 0xFFFFFF;
  // 3 x 3 with width 2: no inset, so only the two corner pixels show fore.
  const int32 small = DrawInto(12, 12, 32, [] {
    const Rect r{5, 5, 8, 8};
    DrawRect(&r, kFore, kBack, 0x2200, 2, 0);
  });
  for (int32 y = 0; y < 12; ++y)
    for (int32 x = 0; x < 12; ++x) {
      const bool in = x >= 5 && x < 8 && y >= 5 && y < 8;
      const bool corner = (x == 7 && y == 5) || (x == 5 && y == 7);
      EXPECT_EQ(Pix(small, x, y), !in ? kWhite : corner ? kFore : kBack) << x << "," << y;
    }
  // 10 x 10 with width 8, flat: the fill inset by 4, four frames around it.
  const int32 flat = DrawInto(20, 20, 32, [] {
    const Rect r{5, 5, 15, 15};
    DrawRect(&r, kFore, kBack, 0x4400, 8, 0);
  });
  for (int32 y = 5; y < 15; ++y)
    for (int32 x = 5; x < 15; ++x)
      EXPECT_EQ(Pix(flat, x, y), x >= 9 && x < 11 && y >= 9 && y < 11 ? kBack : kFore) << x << "," << y;
  // Raised and lowered differ in the bevel only, by the swap of highlight
  // and shadow.
  auto bevel = [&](int32 looks) {
    return DrawInto(30, 30, 32, [looks] {
      const Rect r{5, 5, 25, 25};
      DrawRect(&r, kFore, kBack, looks, 3, 0);
    });
  };
  const int32 raised = bevel(0x2200), lowered = bevel(0x1100);
  int32 bevelPixels = 0;
  for (int32 y = 0; y < 30; ++y)
    for (int32 x = 0; x < 30; ++x) {
      const uInt32 a = Pix(raised, x, y), b = Pix(lowered, x, y);
      if (a == b) continue;
      ++bevelPixels;
      EXPECT_FALSE(x >= 8 && x < 22 && y >= 8 && y < 22) << "inside the bevel at " << x << "," << y;
      EXPECT_TRUE((a == kHilite && b == kShadow) || (a == kShadow && b == kHilite)) << x << "," << y;
    }
  EXPECT_GT(bevelPixels, 100);
  // A transparent fore leaves only the fill; a transparent back only the
  // bevel, the inside untouched.
  const int32 fillOnly = DrawInto(30, 30, 32, [] {
    const Rect r{5, 5, 25, 25};
    DrawRect(&r, kTransparentColor, kBack, 0x2200, 3, kPictHorizontal);
  });
  const int32 bevelOnly = DrawInto(30, 30, 32, [] {
    const Rect r{5, 5, 25, 25};
    DrawRect(&r, kFore, kTransparentColor, 0x2200, 3, 0);
  });
  for (int32 y = 0; y < 30; ++y)
    for (int32 x = 0; x < 30; ++x) {
      const bool inner = x >= 8 && x < 22 && y >= 8 && y < 22;
      EXPECT_EQ(Pix(fillOnly, x, y), inner ? kBack : kWhite) << x << "," << y;
      if (inner) { EXPECT_EQ(Pix(bevelOnly, x, y), kWhite) << x << "," << y; }
    }
}

// ---- Blend pens and gradients ------------------------------------------------------------

TEST_F(Picc, BlendPenByRatio) {
  const struct {
    DColor a, b, c, d;
    int32 pen;
    DColor fore, back;
  } rows[] = {
      {100, 125, 200, 300, 0, 100, 200},  // 25 / 100
      {100, 126, 200, 300, 1, 100, 200},  // 26 / 100
      {100, 150, 200, 300, 1, 100, 200},  // 50 / 100
      {100, 151, 200, 300, 2, 100, 200},  // 51 / 100
      {300, 200, 151, 100, 2, 151, 300},  // 51 / 100 the other way: (c, a)
      {7, 7, 9, 9, 0, 7, 9},              // equal colours blend nothing: the sparsest pen
  };
  for (const auto& row : rows) {
    const int32 pen = SelectBlendPen(row.a, row.b, row.c, row.d);
    EXPECT_EQ(pen, gPens[row.pen]) << row.b;
    PenState state{};
    ASSERT_EQ(DGetPenState(pen, kPenFore | kPenBack, &state), kNoErr);
    EXPECT_EQ(state.fore, row.fore);
    EXPECT_EQ(state.back, row.back);
  }
  PiccSetBlendPenSource(nullptr);
  EXPECT_EQ(SelectBlendPen(1, 2, 3, 4), 0) << "no pens given at start-up";
}

TEST_F(Picc, PaletteGradientPaintsARunPerPaletteChange) {
  DPort port = LogPort::Make();
  const DPort* old = DInstallTestPort(&port);
  LogPort::paints.clear();
  const Rect r{0, 0, 64, 256};
  DrawGradient(&r, 0x000000, 0xFFFFFF, kPictHorizontal, 6);  // 64 bands of 4 pixels
  DInstallTestPort(old);
  const auto& paints = LogPort::paints;
  ASSERT_EQ(paints.size() % 2, 0u);
  const size_t runs = paints.size() / 2;
  EXPECT_GT(runs, 2u);
  EXPECT_LT(runs, 64u) << "bands of one palette colour are merged";
  int32 covered = 0;
  for (size_t i = 0; i < runs; ++i) {
    const auto &solid = paints[2 * i], &blend = paints[2 * i + 1];
    EXPECT_EQ(solid.pen, 1);
    EXPECT_EQ(solid.r.left, i == 0 ? 0 : paints[2 * i - 1].r.right) << "runs follow one another";
    EXPECT_EQ(blend.r.left, solid.r.right);
    EXPECT_GE(blend.r.right - blend.r.left, 0);
    EXPECT_TRUE(blend.pen == gPens[0] || blend.pen == gPens[1] || blend.pen == gPens[2]) << blend.pen;
    if (i) { EXPECT_NE(solid.colour, paints[2 * i - 2].colour) << "a run ends where the palette colour changes"; }
    covered += blend.r.right - solid.r.left;
  }
  EXPECT_EQ(covered, 256);
  // Deeper ports paint every band in its own colour.
  LogPort::depth = 32;
  LogPort::paints.clear();
  DInstallTestPort(&port);
  DrawGradient(&r, 0x000000, 0xFFFFFF, kPictVertical, 5);  // 32 bands of 2 pixels, from the bottom
  DInstallTestPort(old);
  LogPort::depth = 8;
  ASSERT_EQ(LogPort::paints.size(), 32u);
  EXPECT_EQ(LogPort::paints.front().r.bottom, 64);
  EXPECT_EQ(LogPort::paints.front().colour, 0x000000u);
  EXPECT_EQ(LogPort::paints.back().r.top, 0);
}

// ---- Geometry ----------------------------------------------------------------------------

Point P(int32 h, int32 v) { return Point{int16(v), int16(h)}; }

TEST_F(Picc, PointInConvexPolygon) {
  const Point clockwise[3] = {P(0, 0), P(10, 0), P(0, 10)}, anti[3] = {P(0, 0), P(0, 10), P(10, 0)};
  const struct {
    Point p;
    bool in;
  } rows[] = {{P(0, 0), true}, {P(5, 0), true}, {P(5, 5), true}, {P(2, 3), true},
              {P(6, 6), false}, {P(-1, 0), false}, {P(11, 0), false}};
  for (const auto& row : rows) {
    EXPECT_EQ(PtInConvexPoly(row.p, 3, clockwise) != 0, row.in) << row.p.h << "," << row.p.v;
    EXPECT_EQ(PtInConvexPoly(row.p, 3, anti) != 0, row.in) << row.p.h << "," << row.p.v;
  }
  EXPECT_FALSE(PtInConvexPoly(P(0, 0), 2, clockwise));
}

TEST_F(Picc, TrianglePointOrders) {
  const Rect r{10, 20, 20, 40};  // 20 wide, 10 high
  const struct {
    bool right;
    int32 direction;
    Point p[3];
  } rows[] = {
      {false, kPictUp, {P(20, 19), P(30, 10), P(39, 19)}},
      {false, kPictDown, {P(30, 19), P(20, 10), P(39, 10)}},
      {false, kPictLeft, {P(39, 10), P(39, 19), P(20, 15)}},
      {false, kPictRight, {P(20, 19), P(20, 10), P(39, 15)}},
      {true, kPictUp, {P(20, 19), P(20, 10), P(39, 10)}},
      {true, kPictRight, {P(20, 10), P(39, 10), P(39, 19)}},
      {true, kPictDown, {P(39, 10), P(39, 19), P(20, 19)}},
      {true, kPictLeft, {P(39, 19), P(20, 19), P(20, 10)}},
  };
  for (const auto& row : rows) {
    Point p[4] = {};
    ASSERT_TRUE(row.right ? MakeRightTri(&r, row.direction, p) : MakeTri(&r, row.direction, p));
    for (int32 i = 0; i < 3; ++i) {
      EXPECT_EQ(p[i].h, row.p[i].h) << row.direction << " point " << i;
      EXPECT_EQ(p[i].v, row.p[i].v) << row.direction << " point " << i;
    }
  }
}

TEST_F(Picc, LinePolygons) {
  const Point a = P(10, 50), b = P(100, 50);
  LinePolys lp{};
  EXPECT_EQ(BuildLinePolys(kLineDraw, a, b, 1, 0, &lp), 0) << "a plain line has no polygon";
  // The body is 2w thick: w across either way.
  EXPECT_EQ(BuildLinePolys(kLineDraw, a, b, 4, 0, &lp), 1);
  EXPECT_EQ(lp.polys[0].count, 4);
  EXPECT_EQ(lp.points[0].v, 54);
  EXPECT_EQ(lp.points[1].v, 46);
  EXPECT_EQ(lp.points[3].h, 100);
  // 0x100 heads point 2 only, 0x200 both ends.
  lp = LinePolys{};
  EXPECT_EQ(BuildLinePolys(kLineDraw, a, b, 1, 0x100, &lp), 1);
  EXPECT_EQ(lp.points[0].h, 100);
  EXPECT_EQ(lp.points[1].h, 100 - 15) << "17 cos 22.5, truncated";
  lp = LinePolys{};
  EXPECT_EQ(BuildLinePolys(kLineDraw, a, b, 1, 0x300, &lp), 2);
  EXPECT_EQ(lp.points[lp.polys[1].first].h, 10);
  EXPECT_EQ(lp.points[lp.polys[1].first + 1].h, 25) << "the offsets negated at point 1";
  // The barb only when drawing.
  for (int32 mode : {kLineHit, kLineDraw}) {
    lp = LinePolys{};
    BuildLinePolys(mode, a, b, 1, 0x900, &lp);
    EXPECT_EQ(lp.polys[0].count, mode == kLineDraw ? 4 : 3);
    EXPECT_EQ(lp.polys[0].closing, mode == kLineDraw ? 1 : 0);
  }
  // The wedge: its base 8 either side of point 1 (9 at 60 degrees, barbed).
  lp = LinePolys{};
  BuildLinePolys(kLineHit, a, b, 1, 0x500, &lp);
  ASSERT_EQ(lp.polys[0].count, 3);
  EXPECT_EQ(lp.points[0].h, 100);
  EXPECT_EQ(lp.points[1].v, 58);
  EXPECT_EQ(lp.points[2].v, 42);
  lp = LinePolys{};
  BuildLinePolys(kLineDraw, a, b, 1, 0xD00, &lp);
  ASSERT_EQ(lp.polys[0].count, 4);
  EXPECT_EQ(lp.points[2].h, 10);
  EXPECT_EQ(lp.points[1].h, 10 - 4) << "9 cos 60, truncated";
  // The hit test uses width + 2: a width-1 line is hit 3 pixels away.
  EXPECT_TRUE(LineHitTest(P(50, 53), a, b, 1, 0));
  EXPECT_FALSE(LineHitTest(P(50, 54), a, b, 1, 0));
  EXPECT_TRUE(LineHitTest(P(50, 45), a, b, 3, 0));
  EXPECT_TRUE(LineHitTest(P(88, 54), a, b, 1, 0x100)) << "inside the head, outside the body";
  EXPECT_FALSE(LineHitTest(P(88, 54), a, b, 1, 0));
  // Bounds, and the proportional map onto the picture's rectangle.
  lp = LinePolys{};
  BuildLinePolys(kLineDraw, a, b, 4, 0, &lp);
  Rect bounds{0, 0, 0, 0};
  LinePolysBounds(&lp, &bounds);
  const Rect expected{46, 10, 55, 101};
  EXPECT_TRUE(DEqualRect(&bounds, &expected));
  const Rect to{0, 0, 18, 182};
  MapLinePolys(&lp, &bounds, &to);
  EXPECT_EQ(lp.points[1].v, 0);
  EXPECT_EQ(lp.points[0].v, 16);
  EXPECT_EQ(lp.points[3].h, 180);
  // Painting empties the buffers.
  const int32 painted = DrawInto(200, 100, 32, [&] {
    DSelectNormPen(kFore, kBlackColor);
    PaintLinePolys(&lp);
  });
  EXPECT_EQ(lp.nPolys, 0);
  EXPECT_EQ(Pix(painted, 90, 8), kFore);
}

// ---- Failures ----------------------------------------------------------------------------

TEST_F(Picc, EmptyRectanglesWriteTheirTextAndDrawNothing) {
  DPort port = LogPort::Make();
  LogPort::depth = 32;
  for (const Call& c : Calls()) {
    for (const Rect& empty : {Rect{10, 10, 10, 20}, Rect{20, 20, 10, 10}}) {
      capture_.Clear();
      LogPort::drawn = 0;
      const DPort* old = DInstallTestPort(&port);
      Rect r = empty;
      c.draw(&r, Args{kFore, kBack, 0x2200, 2, kPictUp, 1});
      DInstallTestPort(old);
      EXPECT_EQ(LogPort::drawn, 0) << c.name;
      EXPECT_TRUE(DEqualRect(&r, &empty)) << c.name;
      const std::string text = c.emptyText;
      if (text.empty()) EXPECT_EQ(capture_.Debug().find("empty rect"), std::string::npos) << c.name;
      else EXPECT_NE(capture_.Debug().find(text), std::string::npos) << c.name;
    }
  }
  LogPort::depth = 8;
}

TEST_F(Picc, InternalErrors) {
  Rect r{0, 0, 10, 10};
  ShrinkRectBR(&r, 1, 1);
  const Rect nine{0, 0, 9, 9};
  EXPECT_TRUE(DEqualRect(&r, &nine));
  GrowRectBR(&r, 1, 2);
  const Rect grown{0, 0, 10, 11};
  EXPECT_TRUE(DEqualRect(&r, &grown));
  EXPECT_EQ(capture_.Count("became empty"), 0);
  ShrinkRectBR(&r, 10, 0);
  EXPECT_EQ(capture_.Count("ShrinkRectBR: the rectangle became empty"), 1);
  GrowRectBR(&r, 0, -20);
  EXPECT_EQ(capture_.Count("GrowRectBR: the rectangle became empty"), 1);
  DPort port = LogPort::Make();
  LogPort::bw = 1;
  const DPort* old = DInstallTestPort(&port);
  const Rect box{0, 0, 20, 20};
  DrawRectHLS(&box, kFore, kBack, 0, 1, kPictVertical);
  DInstallTestPort(old);
  LogPort::bw = 0;
  EXPECT_EQ(capture_.Count("DrawRectHLS on a black-and-white port"), 1);
}

}  // namespace
