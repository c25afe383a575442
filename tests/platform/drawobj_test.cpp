#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "draw_support.h"
#include "platform/qx_file.h"

TEST(PlatformDrawObj, StaleForeignWrongKindAndZeroHandlesFail) {
  PlatObj pen = PlatCreatePen(kPlatPenDash, 1, 0x0000FF);
  ASSERT_NE(pen, 0u);
  EXPECT_EQ(PlatObjectKind(pen), kPlatObjPen);
  // Contexts keep what they selected and the last context found: neither
  // answers for a handle deleted since.
  PlatObj dc = PlatCreateMemoryDc(), gone = PlatCreateMemoryDc();
  ASSERT_NE(PlatSelectObject(dc, pen), 0u);
  ASSERT_NE(PlatSelectObject(dc, PlatGetStockObject(kPlatStockBlackPen)), 0u);
  ASSERT_TRUE(PlatPatBlt(gone, 0, 0, 1, 1, kPlatPatCopy));
  ASSERT_TRUE(PlatDeleteDc(gone));
  EXPECT_FALSE(PlatPatBlt(gone, 0, 0, 1, 1, kPlatPatCopy)) << "a context deleted right after use";
  // Nor does the last region found.
  PlatObj region = PlatCreateRectRgn(0, 0, 2, 2);
  ASSERT_TRUE(PlatSetRectRgn(region, 0, 0, 1, 1));
  ASSERT_TRUE(PlatPtInRegion(region, 0, 0));
  ASSERT_TRUE(PlatDeleteObject(region));
  EXPECT_FALSE(PlatSetRectRgn(region, 0, 0, 1, 1)) << "a region deleted right after use";
  EXPECT_FALSE(PlatPtInRegion(region, 0, 0)) << "a region deleted right after use";
  ASSERT_TRUE(PlatDeleteObject(pen));
  PlatObj reuse = PlatCreateSolidBrush(0x123456);  // likely takes the freed slot
  struct Case {
    const char* what;
    PlatObj h;
  } bad[] = {{"zero", 0}, {"stale", pen}, {"foreign", 0x7FFF1234u}, {"index only", pen & 0xFFFF}};
  for (const Case& c : bad) {
    PlatSetLastError(0);
    EXPECT_FALSE(PlatDeleteObject(c.h)) << c.what;
    EXPECT_EQ(PlatLastError(), kPlatErrInvalidHandle) << c.what;
    EXPECT_EQ(PlatSelectObject(dc, c.h), 0u) << c.what;
    EXPECT_EQ(PlatSetRop2(c.h, kPlatRop2XorPen), 0) << c.what;
    EXPECT_EQ(PlatSetTextColor(c.h, 0), kPlatInvalidColour) << c.what;
    EXPECT_FALSE(PlatPatBlt(c.h, 0, 0, 1, 1, kPlatPatCopy)) << c.what;
    EXPECT_EQ(PlatObjectKind(c.h), kPlatObjNone) << c.what;
  }
  // Wrong kinds: a brush is no context, region, bitmap or palette.
  PlatSetLastError(0);
  EXPECT_EQ(PlatSetRop2(reuse, kPlatRop2XorPen), 0);
  EXPECT_EQ(PlatLastError(), kPlatErrInvalidHandle);
  EXPECT_FALSE(PlatPtInRegion(reuse, 0, 0));
  EXPECT_EQ(PlatCreatePatternBrush(reuse), 0u);
  EXPECT_EQ(PlatNearestPaletteIndex(reuse, 0), -1);
  EXPECT_EQ(PlatCombineRgn(reuse, reuse, reuse, kPlatRgnOr), kPlatRgnError);
  EXPECT_EQ(PlatSelectObject(dc, dc), 0u);
  // Bad arguments.
  EXPECT_EQ(PlatCreatePen(6, 1, 0), 0u);
  EXPECT_EQ(PlatCreatePen(0, -1, 0), 0u);
  EXPECT_EQ(PlatSetRop2(dc, 17), 0);
  EXPECT_EQ(PlatSetPolyFillMode(dc, 3), 0);
  EXPECT_EQ(PlatCreateBitmap(16, 2, 1, "\x01\x02\x03", 3), 0u) << "rows of 16 bits: 4 bytes needed";
  PlatDeleteObject(reuse);
  PlatDeleteDc(dc);
}

TEST(PlatformDrawObj, DefaultsAndSettersReturnThePreviousValue) {
  PlatObj dc = PlatCreateMemoryDc();
  EXPECT_EQ(PlatCurrentObject(dc, kPlatObjPen), PlatGetStockObject(kPlatStockBlackPen));
  EXPECT_EQ(PlatCurrentObject(dc, kPlatObjBrush), PlatGetStockObject(kPlatStockWhiteBrush));
  EXPECT_EQ(PlatCurrentObject(dc, kPlatObjBitmap), PlatGetStockObject(kPlatStockBitmap));
  EXPECT_EQ(PlatSetRop2(dc, kPlatRop2XorPen), kPlatRop2CopyPen);
  EXPECT_EQ(PlatSetRop2(dc, kPlatRop2MergePen), kPlatRop2XorPen);
  EXPECT_EQ(PlatSetPolyFillMode(dc, kPlatFillWinding), kPlatFillAlternate);
  EXPECT_EQ(PlatSetTextColor(dc, 0x02123456), 0u);
  EXPECT_EQ(PlatSetTextColor(dc, 0), 0x123456u) << "palette-relative is plain RGB";
  EXPECT_EQ(PlatSetBkColor(dc, 0), 0xFFFFFFu);
  EXPECT_EQ(PlatSetBkMode(dc, kPlatBkTransparent), kPlatBkOpaque);
  int32_t ox = -1, oy = -1;
  EXPECT_TRUE(PlatSetBrushOrg(dc, 11, -1, &ox, &oy));
  EXPECT_EQ(ox, 0);
  EXPECT_EQ(oy, 0);
  EXPECT_TRUE(PlatSetBrushOrg(dc, 0, 0, &ox, &oy));
  EXPECT_EQ(ox, 3);
  EXPECT_EQ(oy, 7);
  PlatObj pen = PlatCreatePen(kPlatPenSolid, 6, 0xFF, true);
  EXPECT_EQ(PlatSelectObject(dc, pen), PlatGetStockObject(kPlatStockBlackPen));
  EXPECT_EQ(PlatSelectObject(dc, PlatGetStockObject(kPlatStockBlackPen)), pen);
  PlatObjInfo info;
  ASSERT_TRUE(PlatDescribeObject(pen, &info));
  EXPECT_EQ(info.kind, kPlatObjPen);
  EXPECT_EQ(info.width, 6);
  EXPECT_TRUE(info.flatCap);
  EXPECT_TRUE(PlatUnrealizeObject(PlatGetStockObject(kPlatStockWhiteBrush)));
  EXPECT_EQ(PlatGetDeviceCaps(dc, kPlatCapBitsPixel), 24);
  EXPECT_EQ(PlatGetDeviceCaps(dc, kPlatCapPlanes), 1);
  EXPECT_EQ(PlatGetDeviceCaps(dc, kPlatCapLogPixelsY), 96);
  EXPECT_EQ(PlatGetDeviceCaps(dc, kPlatCapNumColors), -1);
  EXPECT_EQ(PlatGetDeviceCaps(dc, kPlatCapHorzRes), PlatSurfaceWidth(PlatScreenSurface()));
  EXPECT_EQ(PlatGetNearestColor(dc, 0x02345678), 0x02345678u);
  PlatDeleteObject(pen);
  PlatDeleteDc(dc);
}

TEST(PlatformDrawObj, SelectedBitmapDeletedIsFreedAtDeselection) {
  PlatObj dc = PlatCreateMemoryDc();
  PlatObj other = PlatCreateMemoryDc();
  PlatObj bm = PlatCreateBitmap(4, 4, 32, nullptr, 0);
  ASSERT_EQ(PlatSelectObject(dc, bm), PlatGetStockObject(kPlatStockBitmap));
  EXPECT_EQ(PlatSelectObject(other, bm), 0u) << "one context at a time";
  ASSERT_TRUE(PlatDeleteObject(bm)) << "deleting a selected bitmap succeeds";
  EXPECT_EQ(PlatObjectKind(bm), kPlatObjNone);
  PlatObj white = PlatCreateSolidBrush(0xFFFFFF);
  PlatSelectObject(dc, white);
  EXPECT_TRUE(PlatPatBlt(dc, 0, 0, 4, 4, kPlatPatCopy)) << "the context still paints into it";
  EXPECT_EQ(PlatSelectObject(dc, PlatGetStockObject(kPlatStockBitmap)), bm);
  EXPECT_TRUE(PlatPatBlt(dc, 0, 0, 4, 4, kPlatPatCopy));
  // Stock objects are never freed.
  EXPECT_TRUE(PlatDeleteObject(PlatGetStockObject(kPlatStockNullBrush)));
  EXPECT_EQ(PlatObjectKind(PlatGetStockObject(kPlatStockNullBrush)), kPlatObjBrush);
  EXPECT_EQ(PlatObjectKind(PlatGetStockObject(kPlatStockFont2)), kPlatObjFont);
  EXPECT_EQ(PlatGetStockObject(99), 0u);
  // A context deleted with a deleted bitmap in it lets it go as well.
  PlatObj bm2 = PlatCreateCompatibleBitmap(other, 3, 3);
  PlatObjInfo info;
  ASSERT_TRUE(PlatDescribeObject(bm2, &info));
  EXPECT_EQ(info.format, kPlatMono1) << "a fresh memory context holds a mono bitmap";
  ASSERT_NE(PlatSelectObject(other, bm2), 0u);
  PlatDeleteObject(bm2);
  EXPECT_TRUE(PlatDeleteDc(other));
  EXPECT_FALSE(PlatDeleteDc(other));
  PlatSelectObject(dc, PlatGetStockObject(kPlatStockWhiteBrush));
  PlatDeleteObject(white);
  PlatDeleteDc(dc);
}

TEST(PlatformDrawObj, EmptyAndOnePixelSurfacesPaletteChoice) {
  Canvas none(0, 0);
  EXPECT_TRUE(PlatPatBlt(none.dc, -5, -5, 10, 10, kPlatPatCopy));
  PlatRect box{1, 1, 1, 1};
  EXPECT_EQ(PlatGetClipBox(none.dc, &box), kPlatRgnEmpty);
  Canvas one(1, 1);
  PlatObj blue = PlatCreateSolidBrush(0xFF0000);
  PlatSelectObject(one.dc, blue);
  EXPECT_TRUE(PlatPatBlt(one.dc, -5, -5, 10, 10, kPlatPatCopy));
  EXPECT_EQ(one.At(0, 0), 0x0000FFu);
  PlatSelectObject(one.dc, PlatGetStockObject(kPlatStockWhiteBrush));
  PlatDeleteObject(blue);

  const uint32_t colours[] = {0x000000, 0x0000FF, 0x0000FF, 0xFFFFFF, 0x00FF00};
  PlatObj pal = PlatCreatePalette(colours, 5);
  EXPECT_EQ(PlatNearestPaletteIndex(pal, 0x0000F0), 1) << "lowest index on a tie";
  EXPECT_EQ(PlatNearestPaletteIndex(pal, 0x808080), 3);
  EXPECT_EQ(PlatNearestPaletteIndex(pal, 0x7F7F7F), 0);
  EXPECT_EQ(PlatSelectPalette(one.dc, pal), PlatGetStockObject(kPlatStockPalette));
  EXPECT_EQ(PlatRealizePalette(one.dc), 5);
  EXPECT_EQ(PlatCreatePalette(colours, 0), 0u);
  EXPECT_EQ(PlatCreatePalette(colours, 257), 0u);
  PlatDeleteObject(pal);
}

TEST(PlatformDrawObj, ConcurrentCreateAndDeleteKeepHandlesDistinct) {
  std::vector<std::thread> threads;
  std::vector<std::vector<PlatObj>> made(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &made] {
      for (int i = 0; i < 200; ++i) {
        PlatObj b = PlatCreateSolidBrush(uint32_t(i));
        made[t].push_back(b);
        if (i % 2) PlatDeleteObject(b);
      }
    });
  for (auto& th : threads) th.join();
  std::vector<PlatObj> live;
  for (auto& m : made)
    for (size_t i = 0; i < m.size(); i += 2) live.push_back(m[i]);
  std::sort(live.begin(), live.end());
  EXPECT_EQ(std::adjacent_find(live.begin(), live.end()), live.end());
  for (PlatObj h : live) {
    EXPECT_EQ(PlatObjectKind(h), kPlatObjBrush);
    PlatDeleteObject(h);
  }
}
