#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "draw_support.h"
#include "platform/qx_blit.h"
#include "platform/qx_clipboard.h"
#include "platform/qx_file.h"
#include "platform/qx_font.h"
#include "platform/qx_metafile.h"
#include "platform/qx_metafile_internal.h"
#include "platform/qx_shapes.h"
#include "platform/qx_text.h"
#include "temp_folder.h"

namespace {

using Scene = std::function<void(PlatObj)>;

PlatMetafile Record(const Scene& scene, const char* name = "\\qx.emf") {
  PlatObj dc = PlatCreateMetafileDc(name, "Quenlix metafile");
  EXPECT_NE(dc, 0u);
  scene(dc);
  return PlatCloseMetafileDc(dc);
}

void WithPen(PlatObj dc, int32_t style, int32_t width, uint32_t colour, const Scene& body) {
  PlatObj pen = PlatCreatePen(style, width, colour), brush = PlatCreateSolidBrush(0x3080C0);
  PlatObj oldPen = PlatSelectObject(dc, pen), oldBrush = PlatSelectObject(dc, brush);
  body(dc);
  PlatSelectObject(dc, oldPen);
  PlatSelectObject(dc, oldBrush);
  PlatDeleteObject(pen);
  PlatDeleteObject(brush);
}

void Text(PlatObj dc, int32_t x, int32_t y, const char* s) {
  PlatFontDesc d{};
  d.height = -13;
  PlatSetFaceName(&d, "DejaVu Serif", 12);
  PlatObj f = PlatCreateFont(d);
  PlatObj old = PlatSelectObject(dc, f);
  PlatSetTextColor(dc, 0x0000A0);
  PlatSetBkMode(dc, kPlatBkTransparent);
  PlatTextOut(dc, x, y, 0, nullptr, s, int32_t(std::strlen(s)));
  PlatSelectObject(dc, old);
  PlatDeleteObject(f);
}

bool SamePixels(const Canvas& a, const Canvas& b) {
  return std::memcmp(PlatSurfaceBits(a.surface), PlatSurfaceBits(b.surface), PlatSurfaceByteSize(a.surface)) == 0;
}

PlatRect FrameRect(PlatMetafile mf) {
  PlatMetaHeader h{};
  EXPECT_TRUE(PlatGetMetafileHeader(mf, &h));
  return PlatRect{h.frame.left, h.frame.top, h.frame.right + 1, h.frame.bottom + 1};
}

// A record's box is the box of the pixels it paints while the file has work
// left for exact boxes; past it, the box of its points (grown by the pen),
// which still holds every pixel.
TEST(Metafile, RecordBoxesPastTheFilesWorkHoldTheirPixels) {
  using namespace qxmeta;
  const struct {
    int32_t penStyle, penWidth;
    Op op;
    std::vector<int32_t> points;
    std::vector<int32_t> outer;
  } cases[] = {
      {kPlatPenNull, 1, kPolygon, {0, 0, 30, 20, 2, 20}, {0, 0, 29, 19}},  // a thin triangle
      {kPlatPenNull, 1, kPolygon, {20, 0, 32, 36, 0, 14, 40, 14, 8, 36}, {0, 0, 39, 35}},  // a star
      {kPlatPenSolid, 6, kPolyline, {5, 5, 40, 12, 12, 30}, {0, 0, 45, 35}},
  };
  for (const auto& c : cases) {
    Rec r;
    r.op = c.op;
    r.v = c.points;
    BoxState exact, spent;
    exact.penStyle = spent.penStyle = c.penStyle;
    exact.penWidth = spent.penWidth = c.penWidth;
    spent.work = 0;
    PlatRect box{}, outer{};
    ASSERT_TRUE(RecordBox(r, exact, 0, 0, &box) && RecordBox(r, spent, 0, 0, &outer));
    EXPECT_EQ(std::vector<int32_t>({outer.left, outer.top, outer.right, outer.bottom}), c.outer);
    // The pixels themselves, drawn 10 pixels in with the same pen.
    Canvas direct(80, 60, 0xF0F0F0);
    PlatObj pen = PlatCreatePen(c.penStyle, c.penWidth, 0);
    PlatSelectObject(direct.dc, pen);
    std::vector<PlatPoint> p;
    for (size_t i = 0; i + 1 < c.points.size(); i += 2) p.push_back(PlatPoint{c.points[i] + 10, c.points[i + 1] + 10});
    c.op == kPolygon ? PlatPolygon(direct.dc, p.data(), int32_t(p.size()))
                     : PlatPolyline(direct.dc, p.data(), int32_t(p.size()));
    PlatSelectObject(direct.dc, PlatGetStockObject(kPlatStockBlackPen));
    PlatDeleteObject(pen);
    PlatRect drawn{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (int32_t y = 0; y < 60; ++y)
      for (int32_t x = 0; x < 80; ++x)
        if (direct.At(x, y) != 0xF0F0F0)
          drawn = {std::min(drawn.left, x - 10), std::min(drawn.top, y - 10), std::max(drawn.right, x - 10),
                   std::max(drawn.bottom, y - 10)};
    EXPECT_EQ(std::vector<int32_t>({box.left, box.top, box.right, box.bottom}),
              std::vector<int32_t>({drawn.left, drawn.top, drawn.right, drawn.bottom}));
  }
}

// Scenes played back into their own frame paint what drawing them directly
// paints, pixel for pixel.
TEST(Metafile, PlayedIntoItsFrameEqualsDirectDrawing) {
  const struct {
    const char* name;
    Scene scene;
    PlatRect frame;  // the box of the pixels drawn, right and bottom included
    bool clipped;    // the frame ignores the clip: larger than what shows
  } kScenes[] = {
      {"lines",
       [](PlatObj dc) {
         WithPen(dc, kPlatPenSolid, 1, 0x0000FF, [](PlatObj d) {
           PlatMoveTo(d, 5, 7, nullptr);
           PlatLineTo(d, 60, 30);
           PlatLineTo(d, 20, 55);
         });
         WithPen(dc, kPlatPenDash, 1, 0x00FF00, [](PlatObj d) {
           PlatPoint p[] = {{70, 5}, {90, 40}, {75, 60}};
           PlatPolyline(d, p, 3);
         });
       },
       {5, 5, 90, 59},
       false},
      {"rectangles and an ellipse",
       [](PlatObj dc) {
         WithPen(dc, kPlatPenSolid, 3, 0xFF0000, [](PlatObj d) {
           PlatPoint p[] = {{10, 10}, {49, 10}, {49, 29}, {10, 29}};
           PlatPolygon(d, p, 4);
           PlatEllipse(d, 55, 12, 95, 48);
         });
         PlatObj b = PlatCreateSolidBrush(0x00C0C0);
         PlatSelectObject(dc, b);
         PlatPatBlt(dc, 20, 40, 25, 15, kPlatPatCopy);
         PlatSelectObject(dc, PlatGetStockObject(kPlatStockWhiteBrush));
         PlatDeleteObject(b);
       },
       {9, 9, 94, 54},
       false},
      {"text, rop and a clip",
       [](PlatObj dc) {
         Text(dc, 4, 4, "Metafile 59");
         PlatObj rgn = PlatCreateRectRgn(0, 0, 40, 60);
         PlatSelectClipRgn(dc, rgn);
         PlatDeleteObject(rgn);
         PlatSetRop2(dc, kPlatRop2XorPen);
         WithPen(dc, kPlatPenSolid, 1, 0xFFFFFF, [](PlatObj d) {
           PlatMoveTo(d, 0, 30, nullptr);
           PlatLineTo(d, 80, 30);
         });
       },
       {0, 4, 79, 30},
       true},
      {"pattern brush",
       [](PlatObj dc) {
         uint8_t bits[16] = {0x81, 0, 0x42, 0, 0x24, 0, 0x18, 0, 0xF0, 0, 0x0F, 0, 0xCC, 0, 0x33, 0};
         PlatObj bm = PlatCreateBitmap(8, 8, 1, bits, sizeof bits);
         PlatObj brush = PlatCreatePatternBrush(bm);
         PlatObj old = PlatSelectObject(dc, brush);
         PlatSetTextColor(dc, 0x00FF00);
         PlatPatBlt(dc, 3, 5, 40, 20, kPlatPatCopy);
         PlatPatBlt(dc, 20, 15, 30, 30, kPlatPatInvert);
         PlatSelectObject(dc, old);
         PlatDeleteObject(brush);
         PlatDeleteObject(bm);
       },
       {3, 5, 49, 44},
       false},
      {"bands of colours",
       [](PlatObj dc) {
         // Side by side, a band apart, an inverted one; the brush stays.
         const PlatRect bands[] = {{10, 10, 18, 40}, {18, 10, 26, 40}, {26, 10, 30, 40}, {30, 42, 60, 44}, {50, 50, 40, 60}};
         const uint32_t colours[] = {0x102030, 0x405060, 0x708090, 0xA0B0C0, 0x0000FF};
         PlatObj b = PlatCreateSolidBrush(0x00C0C0);
         PlatSelectObject(dc, b);
         PlatFillSolidRects(dc, bands, colours, 5);
         PlatPatBlt(dc, 62, 10, 5, 5, kPlatPatCopy);
         PlatSelectObject(dc, PlatGetStockObject(kPlatStockWhiteBrush));
         PlatDeleteObject(b);
       },
       {10, 10, 66, 43},
       false},
      {"masked transfer",
       [](PlatObj dc) {
         Canvas src(8, 8, 0x0000FF);
         uint8_t bits[16] = {0xF0, 0, 0xF0, 0, 0xF0, 0, 0xF0, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0, 0x0F, 0};
         PlatObj mask = PlatCreateBitmap(8, 8, 1, bits, sizeof bits);
         PlatMaskBlt(dc, 30, 20, 8, 8, src.dc, 0, 0, mask, 0, 0, kPlatMaskCopy);
         PlatDeleteObject(mask);
       },
       {30, 20, 37, 27},
       false},
  };
  for (const auto& s : kScenes) {
    SCOPED_TRACE(s.name);
    PlatMetafile mf = Record(s.scene);
    ASSERT_NE(mf, 0u);
    PlatMetaHeader h{};
    ASSERT_TRUE(PlatGetMetafileHeader(mf, &h));
    // The frame holds every pixel drawn; for the first two scenes it is
    // exactly what was computed by hand.
    Canvas direct(110, 70, 0xF0F0F0);
    s.scene(direct.dc);
    if (!s.clipped) {
      // Exactly the box of the drawn pixels.
      PlatRect drawn{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
      for (int32_t y = 0; y < 70; ++y)
        for (int32_t x = 0; x < 110; ++x)
          if (direct.At(x, y) != 0xF0F0F0) {
            drawn.left = std::min(drawn.left, x), drawn.right = std::max(drawn.right, x);
            drawn.top = std::min(drawn.top, y), drawn.bottom = std::max(drawn.bottom, y);
          }
      EXPECT_EQ(h.frame.left, drawn.left);
      EXPECT_EQ(h.frame.top, drawn.top);
      EXPECT_EQ(h.frame.right, drawn.right);
      EXPECT_EQ(h.frame.bottom, drawn.bottom);
      EXPECT_EQ(h.frame.left, s.frame.left);
      EXPECT_EQ(h.frame.top, s.frame.top);
      EXPECT_EQ(h.frame.right, s.frame.right);
      EXPECT_EQ(h.frame.bottom, s.frame.bottom);
    }
    EXPECT_EQ(h.bounds.left, h.frame.left);
    EXPECT_EQ(h.bounds.bottom, h.frame.bottom);
    EXPECT_GE(h.records, 1);
    EXPECT_EQ(PlatMetafileDescription(mf), "Quenlix metafile");
    Canvas played(110, 70, 0xF0F0F0);
    ASSERT_TRUE(PlatPlayMetafile(played.dc, mf, FrameRect(mf)));
    EXPECT_TRUE(SamePixels(played, direct));
    EXPECT_FALSE(played.Unchanged());
    // Playing puts the context's own state back: no clip, copy ROP2.
    EXPECT_EQ(PlatGetRop2(played.dc), kPlatRop2CopyPen);
    PlatRect clip;
    PlatGetClipBox(played.dc, &clip);
    EXPECT_EQ(clip.right, 110);
    EXPECT_TRUE(PlatDeleteMetafile(mf));
  }
}

// The box (right and bottom included) of the pixels that are not the
// canvas colour; left > right when none.
PlatRect DrawnBox(const Canvas& c, uint32_t base) {
  PlatRect r{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (int32_t y = 0; y < PlatSurfaceHeight(c.surface); ++y)
    for (int32_t x = 0; x < PlatSurfaceWidth(c.surface); ++x)
      if (c.At(x, y) != base) {
        r.left = std::min(r.left, x), r.right = std::max(r.right, x);
        r.top = std::min(r.top, y), r.bottom = std::max(r.bottom, y);
      }
  return r;
}

// Random figures: the frame is exactly the box of the pixels drawn
// directly (wide pens of both parities, lines in every direction, pies and
// arcs, null pens and brushes), and playing into the frame draws them.
TEST(Metafile, RandomFiguresFrameTheirPixels) {
  std::srand(4);
  auto rnd = [](int32_t lo, int32_t hi) { return lo + std::rand() % (hi - lo + 1); };
  for (int i = 0; i < 400; ++i) {
    int32_t kind = rnd(0, 6), style = rnd(0, 5), width = rnd(0, 7), l = rnd(30, 90), t = rnd(30, 90);
    int32_t r = l + rnd(1, 50), b = t + rnd(1, 50);
    int32_t a[4] = {rnd(0, 160), rnd(0, 160), rnd(0, 160), rnd(0, 160)};
    bool nullBrush = rnd(0, 3) == 0;
    if (style == kPlatPenNull && nullBrush) style = kPlatPenSolid;
    Scene scene = [&](PlatObj dc) {
      PlatObj pen = PlatCreatePen(style, width, 0x0000FF);
      PlatObj brush = nullBrush ? PlatGetStockObject(kPlatStockNullBrush) : PlatCreateSolidBrush(0x00FF00);
      PlatObj oldPen = PlatSelectObject(dc, pen), oldBrush = PlatSelectObject(dc, brush);
      PlatPoint p[3] = {{l, t}, {r, b}, {a[0] / 2 + 40, a[1] / 2 + 40}};
      switch (kind) {
        case 0: PlatEllipse(dc, l, t, r, b); break;
        case 1: PlatRoundRect(dc, l, t, r, b, a[0] / 8, a[1] / 8); break;
        case 2: PlatArc(dc, l, t, r, b, a[0], a[1], a[2], a[3]); break;
        case 3: PlatPie(dc, l, t, r, b, a[0], a[1], a[2], a[3]); break;
        case 4:  // any direction: from the far corner back as often as forth
          PlatMoveTo(dc, i % 2 ? l : r, i % 4 < 2 ? t : b, nullptr);
          PlatLineTo(dc, i % 2 ? r : l, i % 4 < 2 ? b : t);
          break;
        case 5: PlatPolyline(dc, p, 3); break;
        default: PlatPolygon(dc, p, 3); break;
      }
      PlatSelectObject(dc, oldPen);
      PlatSelectObject(dc, oldBrush);
      PlatDeleteObject(pen);
      if (!nullBrush) PlatDeleteObject(brush);
    };
    Canvas direct(200, 200, 0xF0F0F0);
    scene(direct.dc);
    PlatRect drawn = DrawnBox(direct, 0xF0F0F0);
    PlatMetafile mf = Record(scene);
    PlatMetaHeader h{};
    ASSERT_TRUE(PlatGetMetafileHeader(mf, &h));
    std::string what = "figure " + std::to_string(i) + " kind " + std::to_string(kind) + " style " +
                       std::to_string(style) + " width " + std::to_string(width);
    if (drawn.left > drawn.right) {
      EXPECT_GT(h.frame.left, h.frame.right) << what;
    } else {
      EXPECT_TRUE(h.frame.left == drawn.left && h.frame.top == drawn.top && h.frame.right == drawn.right &&
                  h.frame.bottom == drawn.bottom)
          << what << ": frame " << h.frame.left << "," << h.frame.top << "," << h.frame.right << ","
          << h.frame.bottom << " drawn " << drawn.left << "," << drawn.top << "," << drawn.right << ","
          << drawn.bottom;
      Canvas played(200, 200, 0xF0F0F0);
      ASSERT_TRUE(PlatPlayMetafile(played.dc, mf, FrameRect(mf)));
      EXPECT_TRUE(SamePixels(played, direct)) << what;
    }
    PlatDeleteMetafile(mf);
  }
}

// Random programs of block transfers whose source rectangles run past their
// surface (one to one, stretched, masked, source-free): played into their
// frame they paint what the direct calls paint and leave alone what those
// leave alone.
TEST(Metafile, RandomTransfersReplayAsTheDirectCalls) {
  std::srand(3);
  auto rnd = [](int32_t lo, int32_t hi) { return lo + std::rand() % (hi - lo + 1); };
  const uint32_t kRops[] = {kPlatSrcCopy, kPlatSrcAnd, kPlatSrcPaint, 0x660046, 0x330008};
  for (int i = 0; i < 200; ++i) {
    Canvas src(rnd(4, 24), rnd(4, 24), 0x0000FF);
    for (int k = 0; k < 30; ++k)
      PlatSurfaceSetPixel(src.surface, rnd(0, PlatSurfaceWidth(src.surface) - 1),
                          rnd(0, PlatSurfaceHeight(src.surface) - 1), uint32_t(std::rand()) & 0xFFFFFF);
    uint8_t bits[16];
    for (uint8_t& bit : bits) bit = uint8_t(std::rand());
    PlatObj mask = PlatCreateBitmap(8, 8, 1, bits, sizeof bits);
    int32_t n = rnd(1, 4);
    struct Call {
      int32_t kind, x, y, w, h, sx, sy, sw, sh;
      uint32_t rop;
    };
    std::vector<Call> calls;
    for (int k = 0; k < n; ++k)
      calls.push_back({rnd(0, 3), rnd(0, 60), rnd(0, 60), rnd(1, 30), rnd(1, 30), rnd(-20, 20), rnd(-20, 20),
                       rnd(1, 40), rnd(1, 40), kRops[rnd(0, 4)]});
    Scene scene = [&](PlatObj dc) {
      PlatSetStretchBltMode(dc, 1 + i % 4);
      for (const Call& c : calls) {
        if (c.kind == 0) PlatBitBlt(dc, c.x, c.y, c.w, c.h, src.dc, c.sx, c.sy, c.rop);
        if (c.kind == 1) PlatStretchBlt(dc, c.x, c.y, c.w, c.h, src.dc, c.sx, c.sy, c.sw, c.sh, c.rop);
        if (c.kind == 2)
          PlatMaskBlt(dc, c.x, c.y, std::min(c.w, 8), std::min(c.h, 8), src.dc, c.sx, c.sy, mask, 0, 0,
                      kPlatMaskCopy);
        if (c.kind == 3) PlatBitBlt(dc, c.x, c.y, c.w, c.h, 0, 0, 0, 0x550009);  // destination inverted
      }
    };
    Canvas direct(100, 100, 0xF0F0F0);
    scene(direct.dc);
    PlatMetafile mf = Record(scene);
    PlatRect drawn = DrawnBox(direct, 0xF0F0F0);
    PlatMetaHeader h{};
    ASSERT_TRUE(PlatGetMetafileHeader(mf, &h));
    if (drawn.left <= drawn.right) {
      // Transfers may repaint the canvas colour: the frame holds the box.
      EXPECT_TRUE(h.frame.left <= drawn.left && h.frame.top <= drawn.top && h.frame.right >= drawn.right &&
                  h.frame.bottom >= drawn.bottom)
          << "program " << i;
    }
    if (h.frame.left <= h.frame.right) {
      Canvas played(100, 100, 0xF0F0F0);
      ASSERT_TRUE(PlatPlayMetafile(played.dc, mf, FrameRect(mf)));
      EXPECT_TRUE(SamePixels(played, direct)) << "program " << i;
    }
    PlatDeleteMetafile(mf);
    PlatDeleteObject(mask);
  }
}

// Two inverted one-pixel lines along the right and bottom edges of a
// rectangle stretch the frame over the whole rectangle.
TEST(Metafile, InvertedEdgeLinesSpanTheRectangle) {
  const PlatRect kRect{10, 20, 110, 70};
  PlatMetafile mf = Record([&](PlatObj dc) {
    uint8_t bits[16] = {0x55, 0, 0xAA, 0, 0x55, 0, 0xAA, 0, 0x55, 0, 0xAA, 0, 0x55, 0, 0xAA, 0};
    PlatObj bm = PlatCreateBitmap(8, 8, 1, bits, sizeof bits);
    PlatObj brush = PlatCreatePatternBrush(bm);
    PlatSelectObject(dc, brush);
    int32_t w = kRect.right - kRect.left, h = kRect.bottom - kRect.top;
    PlatPatBlt(dc, kRect.right - 1, kRect.top, 1, h - 1, kPlatPatInvert);
    PlatPatBlt(dc, kRect.left + 1, kRect.bottom - 1, w - 1, 1, kPlatPatInvert);
    PlatSelectObject(dc, PlatGetStockObject(kPlatStockWhiteBrush));
    PlatDeleteObject(brush);
    PlatDeleteObject(bm);
    PlatInvertRect(dc, PlatRect{kRect.left, 30, 40, 40});
  });
  PlatMetaHeader h{};
  ASSERT_TRUE(PlatGetMetafileHeader(mf, &h));
  EXPECT_EQ(h.frame.left, kRect.left);
  EXPECT_EQ(h.frame.top, kRect.top);
  EXPECT_EQ(h.frame.right, kRect.right - 1);
  EXPECT_EQ(h.frame.bottom, kRect.bottom - 1);
  PlatDeleteMetafile(mf);
}

// Played into a rectangle twice the frame's size, every rectangle lands at
// doubled coordinates from the destination's corner; pens and fonts scale.
TEST(Metafile, TwiceTheRectangleDoublesCoordinates) {
  PlatMetafile mf = Record([](PlatObj dc) {
    PlatObj b = PlatCreateSolidBrush(0x0000FF);
    PlatSelectObject(dc, b);
    PlatPatBlt(dc, 10, 10, 1, 1, kPlatPatCopy);   // the frame's corner
    PlatPatBlt(dc, 29, 19, 1, 1, kPlatPatCopy);   // and its far corner
    PlatPatBlt(dc, 14, 12, 6, 4, kPlatPatCopy);
    PlatSelectObject(dc, PlatGetStockObject(kPlatStockWhiteBrush));
    PlatDeleteObject(b);
  });
  const struct {
    PlatRect dest;
    PlatRect expect;  // where (14, 12, 20, 16) lands
  } kCases[] = {
      {{0, 0, 20, 10}, {4, 2, 10, 6}},
      {{5, 3, 45, 23}, {13, 7, 25, 15}},
      {{0, 0, 10, 5}, {2, 1, 5, 3}},  // halves round up
  };
  for (const auto& c : kCases) {
    Canvas canvas(60, 40);
    ASSERT_TRUE(PlatPlayMetafile(canvas.dc, mf, c.dest));
    double sx = (c.dest.right - c.dest.left) / 20.0, sy = (c.dest.bottom - c.dest.top) / 10.0;
    auto X = [&](int32_t x) { return int32_t(std::floor(c.dest.left + (x - 10) * sx + 0.5)); };
    auto Y = [&](int32_t y) { return int32_t(std::floor(c.dest.top + (y - 10) * sy + 0.5)); };
    const PlatRect kDrawn[] = {{X(10), Y(10), X(11), Y(11)}, {X(29), Y(19), X(30), Y(20)}, c.expect};
    EXPECT_EQ(X(14), c.expect.left);
    EXPECT_EQ(Y(16), c.expect.bottom);
    std::string want, got;
    for (int32_t y = 0; y < 40; ++y)
      for (int32_t x = 0; x < 60; ++x) {
        bool in = false;
        for (const PlatRect& r : kDrawn) in |= x >= r.left && x < r.right && y >= r.top && y < r.bottom;
        want += in ? '#' : '.';
        got += canvas.At(x, y) == 0xFF0000u ? '#' : '.';
      }
    EXPECT_EQ(got, want);
  }
  // A wide pen and a font scale with the rectangle.
  PlatMetafile lines = Record([](PlatObj dc) {
    WithPen(dc, kPlatPenSolid, 4, 0x000000, [](PlatObj d) {
      PlatMoveTo(d, 10, 20, nullptr);
      PlatLineTo(d, 60, 20);
    });
  });
  PlatRect f = FrameRect(lines);
  Canvas big(200, 100);
  PlatPlayMetafile(big.dc, lines, PlatRect{0, 0, 2 * (f.right - f.left), 2 * (f.bottom - f.top)});
  int32_t thick = 0;
  for (int32_t y = 0; y < 100; ++y) thick += big.At(50, y) == 0;
  EXPECT_EQ(thick, 8);
  PlatDeleteMetafile(lines);
  PlatDeleteMetafile(mf);
}

// Copies own their records and bitmaps: they play after the original is
// gone, whose handle is then refused like any stale or foreign one.
TEST(Metafile, CopyOutlivesTheOriginalAndStaleHandlesFail) {
  Scene scene = [](PlatObj dc) {
    Canvas src(6, 4, 0x00FF00);
    PlatSurfaceSetPixel(src.surface, 1, 1, 0xFF0000);
    PlatStretchBlt(dc, 20, 10, 24, 16, src.dc, 0, 0, 6, 4, kPlatSrcCopy);
    Text(dc, 2, 30, "copy");
  };
  PlatMetafile mf = Record(scene);
  PlatMetafile copy = PlatCopyMetafile(mf);
  ASSERT_NE(copy, 0u);
  PlatRect frame = FrameRect(mf);
  ASSERT_TRUE(PlatDeleteMetafile(mf));
  Canvas played(60, 50), direct(60, 50);
  ASSERT_TRUE(PlatPlayMetafile(played.dc, copy, frame));
  scene(direct.dc);
  EXPECT_TRUE(SamePixels(played, direct));
  EXPECT_EQ(played.At(24, 14), 0xFF0000u);  // the red source pixel, stretched

  PlatObj pen = PlatCreatePen(kPlatPenSolid, 1, 0);
  const PlatMetafile kBad[] = {mf, 0, copy + 1, copy ^ 0x10000, pen};
  for (PlatMetafile h : kBad) {
    EXPECT_FALSE(PlatIsMetafile(h)) << h;
    EXPECT_FALSE(PlatPlayMetafile(played.dc, h, frame)) << h;
    EXPECT_EQ(PlatLastError(), kPlatErrInvalidHandle);
    EXPECT_EQ(PlatCopyMetafile(h), 0u);
    EXPECT_FALSE(PlatDeleteMetafile(h));
  }
  EXPECT_EQ(PlatCloseMetafileDc(played.dc), 0u);  // not a recording context
  PlatDeleteObject(pen);
  // The clipboard takes a metafile and deletes it when emptied.
  ASSERT_TRUE(PlatOpenClipboard(0));
  ASSERT_TRUE(PlatEmptyClipboard());
  ASSERT_TRUE(PlatSetClipboardData(kPlatClipMetafile, copy));
  EXPECT_TRUE(PlatIsMetafile(copy));
  ASSERT_TRUE(PlatEmptyClipboard());
  EXPECT_FALSE(PlatIsMetafile(copy));
  PlatCloseClipboard();
}

// The recording stays in memory: the file named is never made, so two
// recordings naming one file share nothing.
TEST(Metafile, NothingDrawnGivesAnEmptyFrameThatPlaysNothing) {
  TempFolder tmp("qxemf");
  const std::string name = tmp.Dir() + "/qx.emf";
  PlatMetafile mf = Record([](PlatObj dc) { PlatSetRop2(dc, kPlatRop2XorPen); }, name.c_str());
  PlatMetafile other = Record([](PlatObj dc) { PlatInvertRect(dc, PlatRect{0, 0, 3, 3}); }, name.c_str());
  EXPECT_FALSE(std::filesystem::exists(name));
  PlatMetaHeader oh{};
  ASSERT_TRUE(PlatGetMetafileHeader(other, &oh));
  EXPECT_EQ(oh.frame.right, 2);
  PlatDeleteMetafile(other);
  PlatMetaHeader h{};
  ASSERT_TRUE(PlatGetMetafileHeader(mf, &h));
  EXPECT_LT(h.frame.right, h.frame.left);
  Canvas c(10, 10);
  EXPECT_TRUE(PlatPlayMetafile(c.dc, mf, PlatRect{0, 0, 10, 10}));
  EXPECT_TRUE(c.Unchanged());
  PlatDeleteMetafile(mf);
}

}  // namespace
