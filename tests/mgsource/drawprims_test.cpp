// The host primitives in exact pixels: line ends, exclusive-or frames, insets,
// arcs, the drawing origin, screen-aligned patterns, a golden of every
// shape, and counts that draw nothing or fail as a failed allocation.
#include <filesystem>

#include "draw_window.h"
#include "golden_image.h"
#include "mgsource/draw/dcurpen.h"
#include "mgsource/draw/dprims.h"

namespace {

const uChar kChecker[8] = {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55};
const uChar kDiagonal[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

using DrawPrims = DrawWindow;

TEST_F(DrawPrims, LinesCoverBothEndsAndAnInvisiblePenOnlyMoves) {
  DSelectNormPen(0, 0);
  const struct {
    int32 h0, v0, h1, v1;
    const char* mask;  // over (0, 0, 5, 3) after moving the line to (0, 0)
  } cases[] = {
      {10, 10, 10, 10, "#....\n.....\n....."},  // to itself: one pixel
      {14, 12, 14, 10, "....#\n....#\n....#"},  // up
      {14, 10, 10, 10, "#####\n.....\n....."},  // left
      {10, 10, 14, 12, "#....\n.##..\n...##"},  // diagonal, both ends
  };
  for (const auto& c : cases) {
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    DMoveTo(c.h0, c.v0);
    DLineTo(c.h1, c.v1);
    EXPECT_EQ(Mask(10, 10, 5, 3), c.mask) << c.h0 << "," << c.v0 << " to " << c.h1 << "," << c.v1;
    EXPECT_EQ(Changed(), int32(std::count(c.mask, c.mask + std::strlen(c.mask), '#')));
  }
  // An L of a plain pen: two host lines, the second lengthened.
  PlatSurfaceClear(Surface(), 0xFFFFFF);
  DMoveTo(10, 10);
  DMHLineTo(14, 12, 0);
  EXPECT_EQ(Mask(10, 10, 5, 3), "#####\n....#\n....#");
  EXPECT_EQ(Changed(), 7);
  PlatSurfaceClear(Surface(), 0xFFFFFF);
  DSelectNormPen(kTransparentColor, 0);
  DLineTo(50, 40);
  DMHLineTo(60, 45, 1);
  EXPECT_EQ(Changed(), 0);
  EXPECT_EQ(gDrawState.penH, 60);
  // Saved and restored around another pen, it stays invisible.
  DPenRecord saved;
  DSaveCurPen(&saved);
  DSelectPen(kGrayPen, 0, 0xFFFFFF);
  DRestoreCurPen(&saved);
  DLineTo(60, 45);
  EXPECT_EQ(Changed(), 0);
  DSelectNormPen(0, 0);
  DLineTo(60, 47);
  EXPECT_EQ(Mask(60, 44, 1, 5), ".\n#\n#\n#\n.");
}

TEST_F(DrawPrims, ExclusiveOrFrameTouchesEachPixelOnceAndPaintInsets) {
  DSelectPen(Pen(0x0000FF, 3, 2), 0, 0xFFFFFF);
  const Rect frame{10, 10, 20, 20};
  DFrameRect(&frame);
  std::string ring;
  for (int32 y = 0; y < 10; ++y) {
    if (y) ring += '\n';
    for (int32 x = 0; x < 10; ++x) ring += x < 3 || x > 6 || y < 3 || y > 6 ? '#' : '.';
  }
  EXPECT_EQ(Mask(10, 10, 10, 10), ring);
  EXPECT_EQ(Changed(), 100 - 16);
  DFrameRect(&frame);
  EXPECT_EQ(Changed(), 0) << "twice restores";
  // Width 4 paints the rectangle inset by 2; a frame too wide for its
  // rectangle fills it once.
  DSelectPen(Pen(0, 4), 0, 0xFFFFFF);
  const Rect paint{10, 10, 30, 40};
  DPaintRect(&paint);
  EXPECT_EQ(Changed(), 26 * 16);
  EXPECT_EQ(Mask(11, 11, 3, 3), "...\n.##\n.##");
  PlatSurfaceClear(Surface(), 0xFFFFFF);
  DSelectPen(Pen(0, 4, 2), 0, 0xFFFFFF);
  const Rect narrow{50, 50, 56, 80};
  DFrameRect(&narrow);
  EXPECT_EQ(Changed(), 6 * 30);
}

TEST_F(DrawPrims, ArcRunsClockwiseFromTwelveAndPiesKeepThePenWidth) {
  DSelectNormPen(0, 0);
  const Rect r{10, 10, 50, 50};
  DFrameArc(&r, 0, 90);
  int32 outside = 0;
  for (int32 y = 0; y < 100; ++y)
    for (int32 x = 0; x < 200; ++x) outside += At(x, y) != 0xFFFFFF && (x < 29 || y > 29);
  EXPECT_EQ(outside, 0);
  EXPECT_NE(At(29, 10), 0xFFFFFFu);
  EXPECT_NE(At(49, 29), 0xFFFFFFu);
  const int32 pen = Pen(0xFF0000, 3);
  DSelectPen(pen, 0, 0xFFFFFF);
  DPaintArc(&r, 90, 90);
  PenState s{};
  ASSERT_EQ(DGetPenState(kCurrentPen, kPenWidth, &s), kNoErr);
  EXPECT_EQ(s.width, 3);
  EXPECT_EQ(DCurrentPenNumber(), pen);
  EXPECT_TRUE(capture_.Alerts().empty());
}

// Every shape once; the pixels are kept as a golden.
TEST_F(DrawPrims, GoldenOfEveryShape) {
  for (int32 w = 1; w <= 5; ++w) {
    DSelectPen(Pen(0x0000FF, w), 0, 0xFFFFFF);
    const int16 l = int16(2 + 39 * (w - 1));
    const Rect oval{2, l, 26, int16(l + 34)}, round{30, l, 54, int16(l + 34)};
    DFrameOval(&oval);
    DFrameRoundRect(&round, 14, 10);
  }
  DSelectPen(Pen(0xFF0000, 3), 0, 0xFFFFFF);
  const Rect oval{58, 2, 82, 32}, round{58, 38, 82, 68};
  DPaintOval(&oval);
  DPaintRoundRect(&round, 10, 10);
  DSelectPen(Pen(0, 3, 0, kChecker), 0, 0xFFFFFF);
  DMoveTo(76, 60);
  DMHLineTo(106, 95, 1);
  DSelectNormPen(0x00CC00, 0);
  const Rect grey{58, 112, 96, 150};
  DPaintRect(&grey);
  DGrayOutRect(&grey, 0xFF0000);
  DSelectNormPen(0, 0);
  static const uChar kCross[5] = {0x88, 0x50, 0x20, 0x50, 0x88};
  const int16 hs[3] = {160, 172, 184}, vs[3] = {64, 70, 64};
  DDrawMarkers(kCross, 3, hs, vs, &grey);
  EXPECT_NE(capture_.Debug().find("onscreen pattern"), std::string::npos);
  EXPECT_EQ(gDrawState.penH, 184);
  const Rect arc{78, 154, 98, 174}, pie{78, 176, 98, 198};
  DFrameArc(&arc, 0, 90);
  DSelectPen(Pen(0x0000FF, 3), 0, 0xFFFFFF);
  DPaintArc(&pie, 45, 180);
  const Point poly[3] = {{4, 190}, {20, 196}, {28, 186}};
  DSelectNormPen(0, 0);
  DPolyLine(poly, 2);
  EXPECT_EQ(At(186, 28), 0u) << "the last point";
  EXPECT_TRUE(capture_.Alerts().empty());
  qxtest::ExpectMatchesGolden(Surface(), std::filesystem::path(QX_SOURCE_DIR) / "tests/mgsource/goldens/primitives.png",
                              "regenerate the primitives golden (QX_UPDATE_GOLDENS=1) and check it by eye");
}

TEST_F(DrawPrims, OriginMovesEverythingAndPatternsStayOnTheScreen) {
  auto scene = [](int32 dh, int32 dv) {
    DSelectNormPen(0, 0);
    DMoveTo(5 + dh, 5 + dv);
    DLineTo(40 + dh, 30 + dv);
    const Rect r{int16(10 + dv), int16(50 + dh), int16(40 + dv), int16(90 + dh)};
    DFrameOval(&r);
    const Point pts[3] = {{int16(60 + dv), int16(5 + dh)}, {int16(80 + dv), int16(30 + dh)}, {int16(60 + dv), int16(60 + dh)}};
    DPaintPoly(pts, 2, 0);
    DSelectNormPen(0xFF0000, 0);
    const Rect g{int16(50 + dv), int16(100 + dh), int16(90 + dv), int16(150 + dh)};
    DFrameRect(&g);
    DPaintArc(&g, 30, 100);
  };
  scene(0, 0);
  const std::vector<uInt8> at0(PlatSurfaceBits(Surface()), PlatSurfaceBits(Surface()) + PlatSurfaceByteSize(Surface()));
  End();
  WSetOrigin(window_, Point{7, 5});
  Begin();
  scene(5, 7);
  EXPECT_EQ(std::memcmp(at0.data(), PlatSurfaceBits(Surface()), at0.size()), 0);
  End();
  WSetOrigin(window_, Point{0, 0});
  // The window moves 3 pixels right: its pixels show the same pattern
  // cells of the screen.
  Begin();
  const Rect all{0, 0, 100, 200};
  const int32 diagonal = Pen(0, 1, 0, kDiagonal);
  DSelectPen(diagonal, 0, 0xFFFFFF);
  DPaintRect(&all);
  std::vector<uInt32> before;
  for (int32 x = 0; x < 200; ++x) before.push_back(At(x, 5));
  End();
  const Rect moved{kPlace.top, int16(kPlace.left + 3), kPlace.bottom, int16(kPlace.right + 3)};
  WSize(window_, &moved);
  Begin();
  DSelectPen(diagonal, 0, 0xFFFFFF);
  DPaintRect(&all);
  int32 misplaced = 0, shifted = 0;
  for (int32 x = 0; x + 3 < 200; ++x) {
    misplaced += At(x, 5) != before[size_t(x + 3)];
    shifted += At(x, 5) != before[size_t(x)];
  }
  EXPECT_EQ(misplaced, 0);
  EXPECT_GT(shifted, 0) << "the window's own pixels show other cells";
  EXPECT_TRUE(capture_.Alerts().empty());
}

// Rectangles each in its own colour paint what selecting the normal pen in
// that colour and painting each in turn paints, and leave that pen: bands
// side by side (past the window's edges too), colours of the palette and
// off it; at two origins.
TEST_F(DrawPrims, RectsInColoursPaintAsEachInTurn) {
  ASSERT_GT(DGetDepth(), 8);
  const Rect rects[] = {{10, -4, 60, 8},  {10, 8, 60, 16},   {10, 16, 60, 24},  {10, 24, 60, 32},
                        {10, 32, 60, 40}, {62, 20, 64, 190}, {64, 20, 66, 230}, {80, 150, 95, 205}};
  const DColor colours[] = {0x123456, 0x3366CC, 0x13579B, 0xFFFFFF, 0x000000, 0xFEDCBA, 0xCC9966, 0x0F0F0F};
  constexpr int32 n = int32(std::size(rects));
  for (const int16 dh : {0, 7}) {
    std::vector<uInt8> pixels[2];
    DPenRecord pen[2]{};
    for (int32 batched = 0; batched < 2; ++batched) {
      End();
      WSetOrigin(window_, Point{0, dh});
      Begin();
      if (batched) {
        ASSERT_TRUE(DFillRectsStraight(rects, colours, n, kWhiteColor));
      } else {
        for (int32 i = 0; i < n; ++i) {
          DSelectNormPen(colours[i], kWhiteColor);
          DPaintRect(&rects[i]);
        }
      }
      DSaveCurPen(&pen[batched]);
      pixels[batched].assign(PlatSurfaceBits(Surface()), PlatSurfaceBits(Surface()) + PlatSurfaceByteSize(Surface()));
    }
    EXPECT_TRUE(pixels[0] == pixels[1]) << "origin " << dh;
    EXPECT_EQ(pen[1].pen, pen[0].pen);
    EXPECT_EQ(pen[1].colour, pen[0].colour);
    EXPECT_GT(Changed(), 1000);
  }
  // A transparent colour is left to the pen: nothing is filled straight;
  // nor into a metafile, whose lines must stay lines at any size.
  End();
  Begin();
  const DColor clear[] = {0x123456, kTransparentColor};
  EXPECT_FALSE(DFillRectsStraight(rects, clear, 2, kWhiteColor));
  EXPECT_EQ(Changed(), 0);
  int32 meta = 0;
  const Rect frame{0, 0, 50, 50};
  ASSERT_EQ(ICreateMetaFileImage(window_, 32, &meta, &frame), kNoErr);
  ImageSaveRecord save;
  IOpen(meta, &save);
  EXPECT_FALSE(DFillRectsStraight(rects, colours, n, kWhiteColor));
  IClose(meta, &save);
  IRelease(meta);
  EXPECT_TRUE(capture_.Alerts().empty());
}

TEST_F(DrawPrims, BadCountsDrawNothingAndHugeOnesFailAsAnAllocation) {
  DSelectNormPen(0, 0);
  const Point pts[3] = {{5, 5}, {20, 30}, {5, 40}};
  for (int32 n : {0, -3}) {
    DPolyLine(pts, n);
    DPaintPoly(pts, n, 0);
  }
  EXPECT_EQ(Changed(), 0);
  EXPECT_TRUE(capture_.Alerts().empty());
  DPolyLine(pts, 2);
  EXPECT_EQ(DPointBufCapacity(), 3);
  PlatSurfaceClear(Surface(), 0xFFFFFF);
  // 2^29 points would need a 4 GB buffer: the alert, nothing drawn.
  DPolyLine(pts, 1 << 29);
  ASSERT_EQ(capture_.Alerts().size(), 1u);
  EXPECT_NE(capture_.Alerts()[0].find("WPoint memory allocation failed"), std::string::npos);
  EXPECT_EQ(Changed(), 0);
  EXPECT_EQ(DPointBufCapacity(), 3);
  capture_.Clear();
  MemFailNthAllocation(1);
  EXPECT_EQ(DSetPointBuf(50), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(capture_.Alerts().size(), 1u);
  EXPECT_EQ(DSetPointBuf(-1), kArgErr);
  EXPECT_EQ(DSetPointBuf(0), kNoErr);
  EXPECT_EQ(DPointBufCapacity(), 0);
}

}  // namespace
