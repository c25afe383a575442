#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "draw_support.h"
#include "platform/qx_trace.h"

TEST(PlatformTrace, LinesHaveTheFixedFormatAndReplayGivesIdenticalBytes) {
  Canvas c(48, 40, 0x336699);
  PlatTraceRecorder rec;
  ASSERT_TRUE(PlatSetTraceSink(c.dc, &rec));
  PlatSetRop2(c.dc, kPlatRop2XorPen);
  PlatObj black = PlatCreateSolidBrush(0);
  PlatSelectObject(c.dc, black);
  PlatPatBlt(c.dc, 0, 0, 7, 3, kPlatPatInvert);
  ASSERT_GE(rec.lines.size(), 3u);
  EXPECT_EQ(rec.lines[0], "rop2 7");
  EXPECT_EQ(rec.lines[1], "brush solid 0x000000");
  EXPECT_EQ(rec.lines[2], "patfill 0,0,7,3 0x5A0049");

  // A drawing that uses every kind of call.
  uint8_t bits[16] = {0xAA, 0, 0x55, 0, 0xAA, 0, 0x55, 0, 0xF0, 0, 0xE1, 0, 0xC3, 0, 0x87, 0};
  PlatObj bm = PlatCreateBitmap(8, 8, 1, bits, sizeof bits);
  PlatObj pattern = PlatCreatePatternBrush(bm);
  PlatDeleteObject(bm);
  PlatObj dashed = PlatCreatePen(kPlatPenDashDot, 1, 0x00FF00);
  PlatSelectObject(c.dc, pattern);
  PlatSetTextColor(c.dc, 0x0000FF);
  PlatSetBkColor(c.dc, 0xFFFF00);
  PlatSetBrushOrg(c.dc, 3, 5, nullptr, nullptr);
  PlatPatBlt(c.dc, 40, 30, -30, -25, kPlatPatCopy);
  PlatSelectObject(c.dc, dashed);
  PlatSetRop2(c.dc, kPlatRop2CopyPen);
  PlatSetBkMode(c.dc, kPlatBkTransparent);
  PlatMoveTo(c.dc, 1, 39, nullptr);
  PlatLineTo(c.dc, 47, 2);
  const PlatPoint star[] = {{24, 2}, {36, 38}, {4, 14}, {44, 14}, {12, 38}};
  PlatSetPolyFillMode(c.dc, kPlatFillWinding);
  PlatPolygon(c.dc, star, 5);
  PlatObj a = PlatCreateEllipticRgn(2, 2, 30, 20);
  PlatObj b = PlatCreateRectRgn(20, 10, 46, 38);
  PlatCombineRgn(a, a, b, kPlatRgnXor);
  PlatSelectClipRgn(c.dc, a);
  PlatOffsetClipRgn(c.dc, 1, 1);
  PlatInvertRect(c.dc, {0, 0, 48, 40});
  PlatSelectClipRgn(c.dc, 0);
  PlatFrameRgn(c.dc, b, black, 2, 3);
  PlatSetRop2(c.dc, kPlatRop2MergePen);
  PlatFillRgn(c.dc, a, pattern);
  PlatPolyline(c.dc, star, 5);
  PlatSetTextCharacterExtra(c.dc, 2);
  const PlatRect box = {3, 4, 30, 12};
  PlatTextOut(c.dc, 2, 1, kPlatTextClip, &box, "Q\0x", 3);
  PlatTextOut(c.dc, 5, 20, 0, nullptr, "", 0);
  PlatFlush(c.dc);
  PlatSetTraceSink(c.dc, nullptr);
  EXPECT_EQ(rec.lines[rec.lines.size() - 4], "charextra 2");
  EXPECT_EQ(rec.lines[rec.lines.size() - 3], "text 2,1 4 3,4,30,12 510078");
  EXPECT_EQ(rec.lines[rec.lines.size() - 2], "text 5,20 0 - -");

  Canvas fresh(48, 40, 0x336699);
  ASSERT_EQ(PlatReplayTrace(fresh.dc, rec.lines), -1);
  ASSERT_FALSE(c.Unchanged());
  ASSERT_EQ(PlatSurfaceByteSize(c.surface), PlatSurfaceByteSize(fresh.surface));
  EXPECT_EQ(std::memcmp(PlatSurfaceBits(c.surface), PlatSurfaceBits(fresh.surface),
                        PlatSurfaceByteSize(c.surface)),
            0);
  // Lines that cannot be played are reported by index.
  EXPECT_EQ(PlatReplayTrace(fresh.dc, {"rop2 7", "rop2 99"}), 1);
  EXPECT_EQ(PlatReplayTrace(fresh.dc, {"polygon 3 1,1 2,2"}), 0);
  EXPECT_EQ(PlatReplayTrace(fresh.dc, {"patfill 1,2,3 0xF00021"}), 0);
  EXPECT_EQ(PlatReplayTrace(fresh.dc, {"brush pattern XYZ"}), 0);
  EXPECT_EQ(PlatReplayTrace(fresh.dc, {"text 1,2 4 - 51"}), 0);  // clip option without a rectangle
  EXPECT_EQ(PlatReplayTrace(fresh.dc, {"text 1,2 0 - 5"}), 0);
  EXPECT_EQ(PlatReplayTrace(fresh.dc, {"text 1,2 0 - 5G"}), 0);

  PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockWhiteBrush));
  PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockBlackPen));
  PlatDeleteObject(black);
  PlatDeleteObject(pattern);
  PlatDeleteObject(dashed);
  PlatDeleteObject(a);
  PlatDeleteObject(b);
}
