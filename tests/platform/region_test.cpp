#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "draw_support.h"
#include "platform/qx_file.h"

namespace {

bool InEllipse(int64_t x, int64_t y, int64_t l, int64_t t, int64_t r, int64_t b) {
  uint64_t u = uint64_t((2 * x + 1 - l - r) * (2 * x + 1 - l - r));
  uint64_t v = uint64_t((2 * y + 1 - t - b) * (2 * y + 1 - t - b));
  uint64_t w2 = uint64_t((r - l) * (r - l)), h2 = uint64_t((b - t) * (b - t));
  return u * h2 + v * w2 <= w2 * h2;
}

}  // namespace

TEST(PlatformRegion, FillingEachKindPaintsExactlyItsPixels) {
  PlatObj black = PlatCreateSolidBrush(0);
  for (int32_t w = 1; w <= 40; ++w)
    for (int32_t h = 1; h <= 40; ++h) {
      PlatObj shapes[] = {PlatCreateRectRgn(2, 3, 2 + w, 3 + h), PlatCreateEllipticRgn(2, 3, 2 + w, 3 + h),
                          PlatCreateRoundRectRgn(2, 3, 2 + w, 3 + h, 9, 13)};
      for (int k = 0; k < 3; ++k) {
        Canvas c(44, 45);
        ASSERT_TRUE(PlatFillRgn(c.dc, shapes[k], black));
        for (int32_t y = 0; y < 45; ++y)
          for (int32_t x = 0; x < 44; ++x) {
            bool in = PlatPtInRegion(shapes[k], x, y);
            ASSERT_EQ(c.At(x, y) != c.Before(x, y), in) << k << " " << w << "x" << h << " at " << x << "," << y;
            bool inside = x >= 2 && x < 2 + w && y >= 3 && y < 3 + h;
            if (k == 0) {
              ASSERT_EQ(in, inside);
            } else if (k == 1) {
              ASSERT_EQ(in, inside && InEllipse(x, y, 2, 3, 2 + w, 3 + h));
            } else if (!inside) {
              ASSERT_FALSE(in);
            }
          }
        PlatDeleteObject(shapes[k]);
      }
    }
  PlatDeleteObject(black);
}

TEST(PlatformRegion, RoundRectangleCornersAreQuarterEllipses) {
  // 10 x 6 with a 4 x 4 corner box: the top-left corner follows the ellipse
  // of (0, 0, 4, 4), the middle columns are full.
  PlatObj g = PlatCreateRoundRectRgn(0, 0, 10, 6, 4, 4);
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 10; ++x) {
      bool want = true;
      if (x < 2 && y < 2) want = InEllipse(x, y, 0, 0, 4, 4);
      if (x >= 8 && y < 2) want = InEllipse(x, y, 6, 0, 10, 4);
      if (x < 2 && y >= 4) want = InEllipse(x, y, 0, 2, 4, 6);
      if (x >= 8 && y >= 4) want = InEllipse(x, y, 6, 2, 10, 6);
      EXPECT_EQ(PlatPtInRegion(g, x, y), want) << x << "," << y;
    }
  EXPECT_FALSE(PlatPtInRegion(g, 0, 0));
  PlatDeleteObject(g);
}

TEST(PlatformRegion, CombineKindsXorOverlapFrameAndBadInput) {
  PlatObj a = PlatCreateRectRgn(0, 0, 4, 4);
  PlatObj b = PlatCreateRectRgn(2, 2, 6, 6);
  PlatObj d = PlatCreateRectRgn(0, 0, 0, 0);
  struct Case {
    int32_t op, kind, count;  // count of pixels
  } cases[] = {{kPlatRgnAnd, kPlatRgnSimple, 4},   {kPlatRgnCopy, kPlatRgnSimple, 16},
               {kPlatRgnDiff, kPlatRgnComplex, 12}, {kPlatRgnOr, kPlatRgnComplex, 28},
               {kPlatRgnXor, kPlatRgnComplex, 24}, {7, kPlatRgnError, 0}};
  for (const Case& k : cases) {
    EXPECT_EQ(PlatCombineRgn(d, a, b, k.op), k.kind) << k.op;
    if (k.kind == kPlatRgnError) continue;
    int n = 0;
    for (int32_t y = -1; y < 8; ++y)
      for (int32_t x = -1; x < 8; ++x) n += PlatPtInRegion(d, x, y);
    EXPECT_EQ(n, k.count) << k.op;
  }
  EXPECT_EQ(PlatCombineRgn(d, a, b, kPlatRgnXor), kPlatRgnComplex);
  EXPECT_FALSE(PlatPtInRegion(d, 2, 2));
  EXPECT_TRUE(PlatPtInRegion(d, 5, 5));
  // Overlap on a one-pixel touch, not on an edge that shares none.
  EXPECT_TRUE(PlatRectInRegion(a, {3, 3, 10, 10}));
  EXPECT_FALSE(PlatRectInRegion(a, {4, 0, 10, 10}));
  EXPECT_FALSE(PlatRectInRegion(a, {2, 2, 2, 9}));
  EXPECT_EQ(PlatCombineRgn(d, a, a, kPlatRgnDiff), kPlatRgnEmpty);
  EXPECT_TRUE(PlatRgnIsEmpty(d));
  PlatRect box{9, 9, 9, 9};
  EXPECT_EQ(PlatGetRgnBox(d, &box), kPlatRgnEmpty);
  EXPECT_EQ(box.right, 0);
  EXPECT_EQ(PlatOffsetRgn(b, 10, -2), kPlatRgnSimple);
  EXPECT_EQ(PlatGetRgnBox(b, &box), kPlatRgnSimple);
  EXPECT_EQ(box.left, 12);
  EXPECT_EQ(box.top, 0);
  EXPECT_EQ(PlatOffsetRgn(b, INT32_MAX, 0), kPlatRgnError) << "would leave int32";
  EXPECT_TRUE(PlatSetRectRgn(b, 5, 5, 1, 9));
  EXPECT_TRUE(PlatRgnIsEmpty(b));
  EXPECT_EQ(PlatCreateEllipticRgn(0, 0, 70000, 5), 0u) << "wider than 65,535";
  EXPECT_EQ(PlatLastError(), kPlatErrInvalidParam);
  PlatObj wide = PlatCreateEllipticRgn(-32768, -32768, 32767, 32767);
  ASSERT_NE(wide, 0u);
  EXPECT_TRUE(PlatPtInRegion(wide, 0, 0));
  EXPECT_FALSE(PlatPtInRegion(wide, -32768, -32768));
  PlatDeleteObject(wide);
  PlatObj far = PlatCreateEllipticRgn(INT32_MIN, 0, INT32_MIN + 65535, 65535);
  EXPECT_TRUE(PlatPtInRegion(far, INT32_MIN + 32767, 32767));
  PlatDeleteObject(far);

  // Framing (2, 1) a 7 x 5 rectangle paints two columns each side and one row
  // top and bottom.
  Canvas c(9, 7);
  PlatObj r = PlatCreateRectRgn(1, 1, 8, 6);
  PlatObj black = PlatCreateSolidBrush(0);
  ASSERT_TRUE(PlatFrameRgn(c.dc, r, black, 2, 1));
  EXPECT_EQ(c.Mask(), Rows({".........", ".#######.", ".##...##.", ".##...##.", ".##...##.", ".#######.",
                            "........."}));
  EXPECT_FALSE(PlatFrameRgn(c.dc, r, black, -1, 1));
  EXPECT_FALSE(PlatFrameRgn(c.dc, r, r, 1, 1)) << "a region is no brush";
  PlatDeleteObject(black);
  PlatDeleteObject(r);
  PlatDeleteObject(a);
  PlatDeleteObject(b);
  PlatDeleteObject(d);
}

TEST(PlatformRegion, FramingByAnyWidthMatchesTheNeighbourRule) {
  // An L-shaped region framed by several (w, h): each pixel is painted
  // exactly when it is in the region and some neighbour within w sideways
  // or h up or down is not.
  PlatObj l = PlatCreateRectRgn(1, 1, 20, 7);
  PlatObj leg = PlatCreateRectRgn(1, 7, 8, 19);
  PlatCombineRgn(l, l, leg, kPlatRgnOr);
  PlatObj black = PlatCreateSolidBrush(0);
  struct Size {
    int32_t w, h;
  } sizes[] = {{0, 0}, {1, 1}, {2, 1}, {3, 5}, {7, 2}, {1000000000, 1}};
  for (Size z : sizes) {
    Canvas c(22, 21);
    ASSERT_TRUE(PlatFrameRgn(c.dc, l, black, z.w, z.h));
    for (int32_t y = 0; y < 21; ++y)
      for (int32_t x = 0; x < 22; ++x) {
        bool in = PlatPtInRegion(l, x, y), keep = in;
        for (int32_t d = 1; keep && d <= std::min(z.w, 30); ++d)
          keep = PlatPtInRegion(l, x - d, y) && PlatPtInRegion(l, x + d, y);
        for (int32_t d = 1; keep && d <= std::min(z.h, 30); ++d)
          keep = PlatPtInRegion(l, x, y - d) && PlatPtInRegion(l, x, y + d);
        ASSERT_EQ(c.At(x, y) != c.Before(x, y), in && !keep) << z.w << "," << z.h << " at " << x << "," << y;
      }
  }
  PlatDeleteObject(black);
  PlatDeleteObject(leg);
  PlatDeleteObject(l);
}

namespace {

TEST(PlatformRegion, AClipRectangleClipsAsItsRegionDoes) {
  // Inside, across the edge, outside, empty, and drawn back to front.
  const PlatRect rects[] = {{2, 1, 6, 3}, {-3, -2, 4, 9}, {20, 20, 30, 30}, {3, 3, 3, 5}, {6, 3, 2, 1}};
  for (const PlatRect& r : rects) {
    Canvas byRegion(8, 4), byRect(8, 4);
    const PlatObj rgn = PlatCreateRectRgn(r.left, r.top, r.right, r.bottom);
    const int32_t kind = PlatSelectClipRgn(byRegion.dc, rgn);
    EXPECT_EQ(PlatSelectClipRect(byRect.dc, r), kind) << r.left;
    PlatRect a{}, b{};
    EXPECT_EQ(PlatGetClipBox(byRect.dc, &b), PlatGetClipBox(byRegion.dc, &a));
    EXPECT_TRUE(a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom) << r.left;
    for (Canvas* c : {&byRegion, &byRect}) PlatPatBlt(c->dc, 0, 0, 8, 4, kPlatBlackness);
    EXPECT_EQ(byRect.Mask(), byRegion.Mask()) << r.left;
    PlatDeleteObject(rgn);
  }
}

// A clip set by PlatSetClipRect answers every later question, and clips
// drawing, as the same clip selected at once does, also when a region or
// another rectangle is selected after it.
TEST(PlatformRegion, AClipRectangleSetLaterAnswersAsOneSelectedNow) {
  struct Step {
    char kind;  // 'r' a rectangle, 'n' none, 'g' a region
    PlatRect rect;
  };
  struct Case {
    std::vector<Step> steps;
    char read;  // 'b' clip box, 'g' clip region, 'o' offset then clip box, 'd' drawing
  };
  const PlatRect a{2, 1, 6, 3}, b{1, 0, 3, 4}, empty{3, 3, 3, 5};
  std::vector<Case> cases;
  const std::vector<std::vector<Step>> sequences = {
      {{'r', a}},
      {{'n', {}}},
      {{'r', a}, {'n', {}}},
      {{'r', a}, {'r', b}},
      {{'r', empty}},
      {{'r', a}, {'g', b}},
      {{'g', b}, {'r', a}},
      {{'g', b}, {'n', {}}},
  };
  for (const auto& seq : sequences)
    for (char read : {'b', 'g', 'o', 'd'}) cases.push_back({seq, read});
  for (const Case& c : cases) {
    Canvas later(8, 4), now(8, 4);
    for (const Step& st : c.steps) {
      if (st.kind == 'g') {
        const PlatObj rgn = PlatCreateRectRgn(st.rect.left, st.rect.top, st.rect.right, st.rect.bottom);
        PlatSelectClipRgn(later.dc, rgn);
        PlatSelectClipRgn(now.dc, rgn);
        PlatDeleteObject(rgn);
      } else if (st.kind == 'r') {
        EXPECT_TRUE(PlatSetClipRect(later.dc, &st.rect));
        PlatSelectClipRect(now.dc, st.rect);
      } else {
        EXPECT_TRUE(PlatSetClipRect(later.dc, nullptr));
        PlatSelectClipRgn(now.dc, 0);
      }
    }
    std::vector<int32_t> got, want;
    for (Canvas* canvas : {&later, &now}) {
      std::vector<int32_t>& out = canvas == &later ? got : want;
      PlatRect box{};
      if (c.read == 'g') {
        const PlatObj into = PlatCreateRectRgn(0, 0, 1, 1);
        out.push_back(PlatGetClipRgn(canvas->dc, into));
        out.push_back(PlatGetRgnBox(into, &box));
        PlatDeleteObject(into);
      } else if (c.read == 'o') {
        out.push_back(PlatOffsetClipRgn(canvas->dc, 1, 1));
        out.push_back(PlatGetClipBox(canvas->dc, &box));
      } else if (c.read == 'b') {
        out.push_back(PlatGetClipBox(canvas->dc, &box));
      } else {
        PlatPatBlt(canvas->dc, 0, 0, 8, 4, kPlatBlackness);
        for (const char m : canvas->Mask()) out.push_back(m);
      }
      out.insert(out.end(), {box.left, box.top, box.right, box.bottom});
    }
    EXPECT_EQ(got, want) << c.steps.size() << " steps, first " << c.steps[0].kind << ", read " << c.read;
  }
}

}  // namespace
