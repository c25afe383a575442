#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "draw_support.h"
#include "platform/qx_file.h"
#include "platform/qx_raster.h"
#include "platform/qx_trace.h"

namespace {

// Bit-by-bit reference: each result bit is bit (4p + 2s + d) of the function.
uint32_t Rop3Reference(uint32_t code, uint32_t p, uint32_t s, uint32_t d) {
  uint32_t fn = (code >> 16) & 0xFF, r = 0;
  for (int bit = 0; bit < 32; ++bit) {
    uint32_t i = ((p >> bit & 1) << 2) | ((s >> bit & 1) << 1) | (d >> bit & 1);
    r |= ((fn >> i) & 1u) << bit;
  }
  return r;
}

PlatObj GreyPatternBrush(const uint8_t rows[8]) {
  // Mono bitmap rows padded to 16 bits; the brush takes them as they are.
  uint8_t bits[16];
  for (int i = 0; i < 8; ++i) {
    bits[2 * i] = rows[i];
    bits[2 * i + 1] = 0;
  }
  PlatObj bm = PlatCreateBitmap(8, 8, 1, bits, sizeof bits);
  PlatObj brush = PlatCreatePatternBrush(bm);
  PlatDeleteObject(bm);
  return brush;
}

constexpr uint32_t kRed = 0x0000FF, kBlue = 0xFF0000, kWhite = 0xFFFFFF;  // 0x00BBGGRR

}  // namespace

TEST(PlatformRaster, Rop3MatchesTheBitRuleForAllCodes) {
  std::mt19937 rng(54);
  for (uint32_t fn = 0; fn < 256; ++fn) {
    uint32_t code = fn << 16;
    for (int k = 0; k < 16; ++k) {
      uint32_t p = rng(), s = rng(), d = rng();
      ASSERT_EQ(PlatRop3(code, p, s, d), Rop3Reference(code, p, s, d)) << std::hex << code;
    }
  }
  // The fast-path codes through a real fill equal the rule on every pixel.
  for (uint32_t code : std::initializer_list<uint32_t>{kPlatPatCopy, kPlatPatInvert, kPlatPatMerge, kPlatPatMask, 0x0F0001u,
                        kPlatDstInvert, kPlatBlackness, kPlatWhiteness, 0xAF0229u}) {
    Canvas c(19, 5);
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 19; ++x) PlatSurfaceSetPixel(c.surface, x, y, rng());
    c.Snapshot();
    const uint8_t rows[8] = {0xF0, 0xE1, 0xC3, 0x87, 0x0F, 0x1E, 0x3C, 0x78};
    PlatObj brush = GreyPatternBrush(rows);
    PlatSelectObject(c.dc, brush);
    PlatSetTextColor(c.dc, 0x123456);
    PlatSetBkColor(c.dc, 0xA9CB8D);
    PlatSetBrushOrg(c.dc, 5, 3, nullptr, nullptr);
    ASSERT_TRUE(PlatPatBlt(c.dc, 0, 0, 19, 5, code));
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 19; ++x) {
        bool one = rows[(y + 3) & 7] & (0x80 >> ((x + 5) & 7));
        uint32_t p = Canvas::PixelOf(one ? 0xA9CB8D : 0x123456);
        ASSERT_EQ(c.At(x, y), Rop3Reference(code, p, 0, c.Before(x, y)) & 0xFFFFFF)
            << std::hex << code << " at " << std::dec << x << "," << y;
      }
    PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockWhiteBrush));
    PlatDeleteObject(brush);
  }
}

TEST(PlatformRaster, Rop2OnAllFourPenAndDestinationPairs) {
  struct Case {
    int32_t code;
    uint8_t results;  // bit (2p + d)
  } cases[] = {{13, 0b1100}, {15, 0b1110}, {7, 0b0110}, {3, 0b0010}, {4, 0b0011},
               {12, 0b1011}, {10, 0b1001}, {9, 0b1000}, {1, 0}, {16, 0b1111}, {6, 0b0101}};
  for (const Case& c : cases)
    for (uint32_t p = 0; p < 2; ++p)
      for (uint32_t d = 0; d < 2; ++d) {
        uint32_t want = (c.results >> (2 * p + d)) & 1 ? 0xFFFFFFFFu : 0;
        EXPECT_EQ(PlatRop2(c.code, p ? ~0u : 0, d ? ~0u : 0), want) << c.code << " p" << p << " d" << d;
      }
}

TEST(PlatformFill, GreyPatternWithOriginColoursByTheBitRule) {
  const uint8_t grey[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
  uint8_t complemented[8];
  for (int i = 0; i < 8; ++i) complemented[i] = uint8_t(~grey[i]);
  PlatObj brush = GreyPatternBrush(complemented);
  struct Case {
    uint32_t background, rop;
    uint32_t atRedBit, atWhiteBit;  // 0x00RRGGBB results
  } cases[] = {
      {kWhite, kPlatPatCopy, 0xFF0000, 0xFFFFFF},
      {kBlue, kPlatPatMerge, 0xFF00FF, 0xFFFFFF},
      {kBlue, kPlatPatMask, 0x000000, 0x0000FF},
  };
  for (const Case& k : cases) {
    Canvas c(16, 4, k.background);
    PlatSelectObject(c.dc, brush);
    PlatSetTextColor(c.dc, kRed);
    PlatSetBkColor(c.dc, kWhite);
    PlatSetBrushOrg(c.dc, 1, 0, nullptr, nullptr);
    ASSERT_TRUE(PlatPatBlt(c.dc, 0, 0, 16, 4, k.rop));
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 16; ++x) {
        bool red = (y % 2 == 0) ? (x % 2 == 1) : (x % 2 == 0);
        EXPECT_EQ(c.At(x, y), red ? k.atRedBit : k.atWhiteBit) << std::hex << k.rop << " " << x << "," << y;
      }
  }
  // Pattern F0 E1 C3 ... at origin (3, 0): (0, 0) takes bit 3 of row 0 (0),
  // so the text colour; (1, 0) bit 4 (1): background.
  const uint8_t slant[8] = {0xF0, 0xE1, 0xC3, 0x87, 0x0F, 0x1E, 0x3C, 0x78};
  PlatObj sb = GreyPatternBrush(slant);
  Canvas c(8, 8, kBlue);
  PlatSelectObject(c.dc, sb);
  PlatSetTextColor(c.dc, kRed);
  PlatSetBrushOrg(c.dc, 3, 0, nullptr, nullptr);
  ASSERT_TRUE(PlatPatBlt(c.dc, 0, 0, 8, 8, kPlatPatCopy));
  EXPECT_EQ(c.At(0, 0), 0xFFFFFFu);  // bit 3 of 0xF0 is 1
  EXPECT_EQ(c.At(1, 0), 0xFF0000u);  // bit 4 is 0
  EXPECT_EQ(c.At(5, 0), 0xFFFFFFu);  // bit 0 (wraps)
  PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockWhiteBrush));
  PlatDeleteObject(sb);
  PlatDeleteObject(brush);
}

TEST(PlatformFill, RectanglesNegativeExtentsClipAndNullBrush) {
  struct Case {
    int32_t x, y, w, h;
    const char* mask[4];
  } cases[] = {
      {1, 1, 3, 2, {"......", ".###..", ".###..", "......"}},
      {4, 3, -3, -2, {"......", ".###..", ".###..", "......"}},
      {-5, -5, 7, 6, {"##....", "......", "......", "......"}},
      {5, 0, 1000000000, 1, {".....#", "......", "......", "......"}},
      {2, 2, 0, 5, {"......", "......", "......", "......"}},
      {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, {"######", "######", "######", "######"}},
  };
  for (const Case& k : cases) {
    Canvas c(6, 4);
    PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockBlackPen));
    PlatObj black = PlatCreateSolidBrush(0);
    PlatSelectObject(c.dc, black);
    ASSERT_TRUE(PlatPatBlt(c.dc, k.x, k.y, k.w, k.h, kPlatPatCopy));
    EXPECT_EQ(c.Mask(), Rows({k.mask[0], k.mask[1], k.mask[2], k.mask[3]})) << k.x << "," << k.y;
    PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockWhiteBrush));
    PlatDeleteObject(black);
  }
  Canvas c(6, 4, 0x00FF00);
  PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockNullBrush));
  ASSERT_TRUE(PlatPatBlt(c.dc, 0, 0, 6, 4, kPlatPatCopy));
  EXPECT_TRUE(c.Unchanged());
  EXPECT_FALSE(PlatPatBlt(c.dc, 0, 0, 6, 4, 0xCC0020)) << "a source copy needs a source";
  EXPECT_EQ(PlatLastError(), kPlatErrInvalidParam);
  ASSERT_TRUE(PlatPatBlt(c.dc, 0, 0, 6, 4, kPlatDstInvert)) << "no pattern needed";
  EXPECT_EQ(c.At(3, 3), 0xFF00FFu);
}

TEST(PlatformFill, InvertTwiceRestoresAndFrameStripsInvertEachBorderPixelOnce) {
  Canvas c(12, 12, 0x3060C0);
  ASSERT_TRUE(PlatInvertRect(c.dc, {2, 3, 9, 7}));
  EXPECT_EQ(c.At(2, 3), c.Before(2, 3) ^ 0xFFFFFF);
  EXPECT_EQ(c.At(1, 3), c.Before(1, 3));
  ASSERT_TRUE(PlatInvertRect(c.dc, {2, 3, 9, 7}));
  EXPECT_TRUE(c.Unchanged());

  // Four non-overlapping strips of width 3 around a 10 x 10 rectangle at (1, 1).
  PlatObj black = PlatCreateSolidBrush(0);
  PlatSelectObject(c.dc, black);
  PlatSetTextColor(c.dc, 0xFFFFFF);
  const int32_t l = 1, t = 1, r = 11, b = 11, w = 3;
  auto frame = [&] {
    PlatPatBlt(c.dc, l, t, (r - l) - w, w, kPlatPatInvert);
    PlatPatBlt(c.dc, r - w, t, w, (b - t) - w, kPlatPatInvert);
    PlatPatBlt(c.dc, l + w, b - w, (r - l) - w, w, kPlatPatInvert);
    PlatPatBlt(c.dc, l, t + w, w, (b - t) - w, kPlatPatInvert);
  };
  // A solid brush ignores the text colour: black XOR changes nothing, so use white.
  PlatObj white = PlatCreateSolidBrush(0xFFFFFF);
  PlatSelectObject(c.dc, white);
  frame();
  int changed = 0;
  for (int32_t y = 0; y < 12; ++y)
    for (int32_t x = 0; x < 12; ++x) {
      bool border = x >= l && x < r && y >= t && y < b && !(x >= l + w && x < r - w && y >= t + w && y < b - w);
      uint32_t want = border ? (c.Before(x, y) ^ 0xFFFFFF) : c.Before(x, y);
      EXPECT_EQ(c.At(x, y), want) << x << "," << y;
      changed += c.At(x, y) != c.Before(x, y);
    }
  EXPECT_EQ(changed, 84);
  frame();
  EXPECT_TRUE(c.Unchanged());
  PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockWhiteBrush));
  PlatDeleteObject(black);
  PlatDeleteObject(white);
}

TEST(PlatformFill, MonoTargetsKeepOnlyExactWhite) {
  Canvas c(20, 2, 0, 1);
  PlatObj nearWhite = PlatCreateSolidBrush(0xFEFFFF);
  PlatObj white = PlatCreateSolidBrush(0x02FFFFFF);
  PlatSelectObject(c.dc, white);
  ASSERT_TRUE(PlatPatBlt(c.dc, 0, 0, 10, 2, kPlatPatCopy));
  PlatSelectObject(c.dc, nearWhite);
  ASSERT_TRUE(PlatPatBlt(c.dc, 5, 0, 10, 1, kPlatPatCopy));
  EXPECT_EQ(c.Mask(), Rows({"#####...............", "##########.........."}));
  ASSERT_TRUE(PlatInvertRect(c.dc, {0, 1, 20, 2}));
  EXPECT_EQ(c.Mask(), Rows({"#####...............", "..........##########"}));
  PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockWhiteBrush));
  PlatDeleteObject(nearWhite);
  PlatDeleteObject(white);
}

TEST(PlatformFill, UserClipOfOneRectangleOrNoneLimitsAFill) {
  // A clip of one rectangle, and an empty one, are intersected as boxes.
  Canvas c(8, 4);
  PlatObj black = PlatCreateSolidBrush(0);
  PlatSelectObject(c.dc, black);
  PlatObj one = PlatCreateRectRgn(2, 1, 100, 3), none = PlatCreateRectRgn(0, 0, 0, 0);
  PlatSelectClipRgn(c.dc, one);
  ASSERT_TRUE(PlatPatBlt(c.dc, -5, 2, 20, 20, kPlatPatCopy));
  const std::string once = Rows({"........", "........", "..######", "........"});
  EXPECT_EQ(c.Mask(), once);
  PlatSelectClipRgn(c.dc, none);
  ASSERT_TRUE(PlatPatBlt(c.dc, 0, 0, 8, 4, kPlatPatCopy));
  EXPECT_EQ(c.Mask(), once);
  PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockWhiteBrush));
  for (PlatObj o : {black, one, none}) PlatDeleteObject(o);
}

TEST(PlatformFill, UserClipOfTwoRectanglesLimitsAFullFill) {
  Canvas c(8, 4);
  PlatObj a = PlatCreateRectRgn(0, 0, 2, 2);
  PlatObj b = PlatCreateRectRgn(5, 1, 100, 3);
  ASSERT_EQ(PlatCombineRgn(a, a, b, kPlatRgnOr), kPlatRgnComplex);
  EXPECT_EQ(PlatSelectClipRgn(c.dc, a), kPlatRgnComplex);
  PlatDeleteObject(a);  // the context keeps its own copy
  PlatObj black = PlatCreateSolidBrush(0);
  PlatSelectObject(c.dc, black);
  ASSERT_TRUE(PlatPatBlt(c.dc, -1000000000, -1000000000, 2000000000, 2000000000, kPlatPatCopy));
  EXPECT_EQ(c.Mask(), Rows({"##......", "##...###", ".....###", "........"}));
  PlatRect box;
  EXPECT_EQ(PlatGetClipBox(c.dc, &box), kPlatRgnComplex);
  EXPECT_EQ(box.right, 8) << "the system clip (the bitmap) limits the user clip";
  EXPECT_EQ(PlatOffsetClipRgn(c.dc, 0, 1), kPlatRgnComplex);
  EXPECT_EQ(PlatGetClipBox(c.dc, &box), kPlatRgnComplex);
  EXPECT_EQ(box.top, 1);
  EXPECT_EQ(box.bottom, 4);
  EXPECT_EQ(PlatSelectClipRgn(c.dc, 0), kPlatRgnSimple);
  EXPECT_EQ(PlatGetClipBox(c.dc, &box), kPlatRgnSimple);
  EXPECT_EQ(box.right, 8);
  EXPECT_EQ(box.bottom, 4);
  PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockWhiteBrush));
  PlatDeleteObject(black);
  PlatDeleteObject(b);
}

// A clip region of none (0), one (1) or two (2) overlapping rectangles of
// a 40 x 24 canvas.
PlatObj ClipOfBoxes(int32_t boxes) {
  if (!boxes) return 0;
  PlatObj clip = PlatCreateRectRgn(3, 2, 30, 18);
  PlatObj more = PlatCreateRectRgn(20, 10, 38, 23);
  if (boxes == 2) PlatCombineRgn(clip, clip, more, kPlatRgnOr);
  PlatDeleteObject(more);
  return clip;
}

TEST(PlatformFill, StraightLinesAndSolidFillsPaintWhatTheGeneralWayPaints) {
  // Level and upright lines of a thin solid pen, and fills of a solid brush,
  // go a short way; the same pixels drawn the general way (a polyline with a
  // last segment of no length, a pattern brush whose bits all take the text
  // colour) must come out the same, on noisy pixels, through every raster
  // function, clip and size.
  struct Case {
    const char* what;
    bool line;
    int32_t x0, y0, x1, y1;  // a line's ends, or a fill's x, y, w, h
    int32_t rop2;            // lines; fills take the matching pattern function
    int32_t clip;            // 0 none, 1 one rectangle, 2 two rectangles
    int32_t bpp;
  } cases[] = {
      {"rightwards", true, 2, 3, 37, 3, kPlatRop2CopyPen, 0, 32},
      {"leftwards", true, 30, 5, 6, 5, kPlatRop2XorPen, 0, 32},
      {"leftwards past the edge", true, 50, 7, -9, 7, kPlatRop2CopyPen, 0, 32},
      {"downwards", true, 4, 1, 4, 22, kPlatRop2MergePen, 2, 32},
      {"upwards", true, 25, 20, 25, 4, kPlatRop2NotCopyPen, 2, 32},
      {"upwards past the edge", true, 7, 30, 7, -4, kPlatRop2CopyPen, 1, 32},
      {"one pixel", true, 9, 9, 10, 9, kPlatRop2XorPen, 2, 32},
      {"no length", true, 9, 9, 9, 9, kPlatRop2CopyPen, 0, 32},
      {"far ends", true, INT32_MIN + 5, 6, INT32_MAX - 1, 6, kPlatRop2CopyPen, 1, 32},
      {"mono", true, 1, 2, 33, 2, kPlatRop2CopyPen, 2, 1},
      {"one column", false, 3, 1, 1, 20, kPlatRop2CopyPen, 0, 32},
      {"three columns", false, 5, 0, 3, 24, kPlatRop2CopyPen, 2, 32},
      {"inverted", false, 5, 0, 3, 24, kPlatRop2XorPen, 2, 32},
      {"a band", false, 8, 2, 8, 19, kPlatRop2CopyPen, 1, 32},
      {"nine", false, 1, 1, 9, 5, kPlatRop2MergePen, 0, 32},
      {"thirty, backwards", false, 36, 22, -30, -17, kPlatRop2CopyPen, 2, 32},
      {"wider than the surface", false, -5, 3, 90, 4, kPlatRop2CopyPen, 0, 32},
      {"mono fill", false, 2, 2, 20, 9, kPlatRop2CopyPen, 1, 1},
  };
  const uint32_t kColour = 0x2468AC;
  const uint8_t zeros[8] = {};
  for (const Case& c : cases) {
    Canvas fast(40, 24, kWhite, c.bpp), general(40, 24, kWhite, c.bpp);
    std::mt19937 rng(7);
    for (int32_t y = 0; y < 24; ++y)
      for (int32_t x = 0; x < 40; ++x) {
        const uint32_t noise = rng() & 0xFFFFFF;
        PlatSurfaceSetPixel(fast.surface, x, y, noise);
        PlatSurfaceSetPixel(general.surface, x, y, noise);
      }
    const PlatObj clip = ClipOfBoxes(c.clip);
    PlatObj pen = PlatCreatePen(kPlatPenSolid, 1, kColour), solid = PlatCreateSolidBrush(kColour);
    PlatObj pattern = GreyPatternBrush(zeros);
    for (Canvas* canvas : {&fast, &general}) {
      // A first fill leaves the clip known before it changes.
      PlatPatBlt(canvas->dc, 0, 0, 1, 1, kPlatPatCopy);
      PlatSelectClipRgn(canvas->dc, clip);
      PlatSelectObject(canvas->dc, pen);
      PlatSelectObject(canvas->dc, canvas == &fast ? solid : pattern);
      PlatSetTextColor(canvas->dc, kColour);
      PlatSetRop2(canvas->dc, c.rop2);
    }
    const uint32_t fn = c.rop2 == kPlatRop2XorPen ? 0x5A0049 : c.rop2 == kPlatRop2MergePen ? 0xFA0089 : 0xF00021;
    if (c.line) {
      ASSERT_TRUE(PlatMoveTo(fast.dc, c.x0, c.y0, nullptr));
      ASSERT_TRUE(PlatLineTo(fast.dc, c.x1, c.y1));
      const PlatPoint pts[3] = {{c.x0, c.y0}, {c.x1, c.y1}, {c.x1, c.y1}};
      ASSERT_TRUE(PlatPolyline(general.dc, pts, 3));
    } else {
      ASSERT_TRUE(PlatPatBlt(fast.dc, c.x0, c.y0, c.x1, c.y1, fn));
      ASSERT_TRUE(PlatPatBlt(general.dc, c.x0, c.y0, c.x1, c.y1, fn));
    }
    ASSERT_EQ(PlatSurfaceByteSize(fast.surface), PlatSurfaceByteSize(general.surface));
    EXPECT_EQ(std::memcmp(PlatSurfaceBits(fast.surface), PlatSurfaceBits(general.surface),
                          PlatSurfaceByteSize(fast.surface)),
              0)
        << c.what;
    EXPECT_FALSE(fast.Unchanged() && c.x0 != c.x1 && c.what != std::string("far ends")) << c.what << " drew nothing";
    for (Canvas* canvas : {&fast, &general}) {
      PlatSelectClipRgn(canvas->dc, 0);
      PlatSelectObject(canvas->dc, PlatGetStockObject(kPlatStockBlackPen));
      PlatSelectObject(canvas->dc, PlatGetStockObject(kPlatStockWhiteBrush));
    }
    for (PlatObj o : {clip, pen, solid, pattern})
      if (o) PlatDeleteObject(o);
  }
  // A surface grown under its context: fills reach the new pixels.
  Canvas grown(8, 4);
  PlatObj black = PlatCreateSolidBrush(0);
  PlatSelectObject(grown.dc, black);
  ASSERT_TRUE(PlatPatBlt(grown.dc, 0, 0, 1, 1, kPlatPatCopy));
  ASSERT_TRUE(PlatSurfaceResize(grown.surface, 20, 10));
  ASSERT_TRUE(PlatPatBlt(grown.dc, 0, 0, 100, 100, kPlatPatCopy));
  EXPECT_EQ(grown.At(19, 9), 0u);
  PlatSelectObject(grown.dc, PlatGetStockObject(kPlatStockWhiteBrush));
  PlatDeleteObject(black);
}

TEST(PlatformFill, MoveLineToDrawsTracesAndMovesAsItsSeparateCalls) {
  // One call for a move and a run of lines paints the pixels, writes the
  // trace lines and leaves the position that PlatMoveTo and PlatLineTo
  // leave one by one: thin solid pens through every clip and function, and
  // the pens and segments that take the general way.
  struct Case {
    const char* what;
    int32_t style, width, rop2, clip;  // clip: 0 none, 1 one rectangle, 2 two
    PlatPoint from;
    std::vector<PlatPoint> to;
  } cases[] = {
      {"an L", kPlatPenSolid, 1, kPlatRop2CopyPen, 0, {4, 20}, {{4, 3}, {31, 3}}},
      {"an L in two clip boxes", kPlatPenSolid, 0, kPlatRop2CopyPen, 2, {36, 2}, {{36, 21}, {1, 21}}},
      {"back over itself", kPlatPenSolid, 1, kPlatRop2XorPen, 1, {2, 9}, {{30, 9}, {10, 9}, {10, 2}}},
      {"a slant between", kPlatPenSolid, 1, kPlatRop2MergePen, 2, {3, 3}, {{3, 12}, {25, 20}, {38, 20}}},
      {"dashed", kPlatPenDash, 1, kPlatRop2CopyPen, 0, {1, 22}, {{1, 1}, {38, 1}}},
      {"wide", kPlatPenSolid, 3, kPlatRop2CopyPen, 1, {6, 18}, {{6, 6}, {33, 6}}},
      {"no pen", kPlatPenNull, 1, kPlatRop2CopyPen, 0, {6, 18}, {{6, 6}}},
      {"a move alone", kPlatPenSolid, 1, kPlatRop2CopyPen, 0, {17, 11}, {}},
  };
  for (const Case& c : cases) {
    Canvas one(40, 24, 0x103050), each(40, 24, 0x103050);
    PlatTraceRecorder oneTrace, eachTrace;
    const PlatObj clip = ClipOfBoxes(c.clip);
    PlatObj pen = PlatCreatePen(c.style, c.width, 0x2468AC);
    for (Canvas* canvas : {&one, &each}) {
      PlatSelectClipRgn(canvas->dc, clip);
      PlatSelectObject(canvas->dc, pen);
      PlatSetRop2(canvas->dc, c.rop2);
      PlatSetTraceSink(canvas->dc, canvas == &one ? &oneTrace : &eachTrace);
    }
    const int32_t n = int32_t(c.to.size());
    ASSERT_TRUE(PlatMoveLineTo(one.dc, c.from.x, c.from.y, c.to.data(), n)) << c.what;
    ASSERT_TRUE(PlatMoveTo(each.dc, c.from.x, c.from.y, nullptr));
    for (const PlatPoint& p : c.to) ASSERT_TRUE(PlatLineTo(each.dc, p.x, p.y));
    EXPECT_EQ(std::memcmp(PlatSurfaceBits(one.surface), PlatSurfaceBits(each.surface),
                          PlatSurfaceByteSize(one.surface)),
              0)
        << c.what;
    EXPECT_EQ(oneTrace.lines, eachTrace.lines) << c.what;
    EXPECT_EQ(one.Unchanged(), n == 0 || c.style == kPlatPenNull) << c.what;
    PlatPoint onePos{}, eachPos{};
    PlatMoveTo(one.dc, 0, 0, &onePos);
    PlatMoveTo(each.dc, 0, 0, &eachPos);
    EXPECT_EQ(onePos.x, eachPos.x) << c.what;
    EXPECT_EQ(onePos.y, eachPos.y) << c.what;
    for (Canvas* canvas : {&one, &each}) {
      PlatSetTraceSink(canvas->dc, nullptr);
      PlatSelectClipRgn(canvas->dc, 0);
      PlatSelectObject(canvas->dc, PlatGetStockObject(kPlatStockBlackPen));
    }
    for (PlatObj o : {clip, pen})
      if (o) PlatDeleteObject(o);
  }
  // Bad arguments draw nothing and say so.
  Canvas c(8, 8, kWhite);
  const PlatPoint p{5, 5};
  EXPECT_FALSE(PlatMoveLineTo(c.dc, 0, 0, &p, -1));
  EXPECT_FALSE(PlatMoveLineTo(c.dc, 0, 0, nullptr, 1));
  EXPECT_FALSE(PlatMoveLineTo(0, 0, 0, &p, 1));
  EXPECT_TRUE(c.Unchanged());
}

TEST(PlatformFill, SelectingARectangleClipGivesTheKindTheContextThenClipsTo) {
  Canvas c(8, 4);
  struct Case {
    PlatRect r;
    int32_t kind;
  } cases[] = {{{2, 1, 5, 3}, kPlatRgnSimple},   {{-9, -9, 1, 1}, kPlatRgnSimple},
               {{8, 0, 20, 4}, kPlatRgnEmpty},   {{0, 4, 8, 9}, kPlatRgnEmpty},
               {{3, 3, 3, 3}, kPlatRgnEmpty},    {{-100, -100, 100, 100}, kPlatRgnSimple}};
  PlatObj rgn = PlatCreateRectRgn(0, 0, 0, 0);
  for (const Case& k : cases) {
    ASSERT_TRUE(PlatSetRectRgn(rgn, k.r.left, k.r.top, k.r.right, k.r.bottom));
    EXPECT_EQ(PlatSelectClipRgn(c.dc, rgn), k.kind) << k.r.left << "," << k.r.top;
    EXPECT_EQ(PlatGetClipBox(c.dc, nullptr), k.kind) << k.r.left << "," << k.r.top;
  }
  PlatSelectClipRgn(c.dc, 0);
  PlatDeleteObject(rgn);
}
