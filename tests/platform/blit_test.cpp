// Block transfers: raster codes on every p/s/d combination, format changes,
// stretching, masks, and bitmaps of every depth.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "draw_support.h"
#include "platform/qx_blit.h"
#include "platform/qx_file.h"
#include "platform/qx_paint.h"
#include "platform/qx_raster.h"
#include "platform/qx_window.h"

namespace {

// A memory context holding a new bitmap of the depth.
struct Source {
  PlatObj dc, bitmap;
  PlatSurface* s;
  Source(int32_t w, int32_t h, int32_t bpp) {
    dc = PlatCreateMemoryDc();
    bitmap = PlatCreateBitmap(w, h, bpp, nullptr, 0);
    PlatSelectObject(dc, bitmap);
    s = PlatBitmapSurface(bitmap);
  }
  ~Source() {
    PlatDeleteDc(dc);
    PlatDeleteObject(bitmap);
  }
  void Set(int32_t x, int32_t y, uint32_t rgb) { PlatSurfaceSetPixel(s, x, y, rgb); }
};

uint32_t Bit(bool on) { return on ? 0xFFFFFF : 0; }

TEST(PlatformBlit, EachCodeOnAllEightPatternSourceDestinationCombinations) {
  const uint32_t codes[] = {kPlatSrcCopy, kPlatSrcAnd, kPlatSrcPaint, kPlatMergePaint, kPlatSrcErase2,
                            kPlatPaintMaskOr};
  for (uint32_t code : codes)
    for (int32_t bpp : {32, 1})
      for (int p = 0; p < 2; ++p) {
        // Pixel k holds s = bit 1 of k and d = bit 0 of k.
        Source src(4, 1, bpp);
        Canvas dst(4, 1, 0, bpp);
        for (int k = 0; k < 4; ++k) {
          src.Set(k, 0, Bit(k & 2));
          PlatSurfaceSetPixel(dst.surface, k, 0, Bit(k & 1));
        }
        PlatObj brush = PlatCreateSolidBrush(p ? 0xFFFFFF : 0);
        PlatSelectObject(dst.dc, brush);
        // Colour sources keep their colours; mono ones map through text
        // black and background white on a colour destination.
        ASSERT_TRUE(PlatBitBlt(dst.dc, 0, 0, 4, 1, src.dc, 0, 0, code));
        for (int k = 0; k < 4; ++k) {
          int s = (k >> 1) & 1, d = k & 1;
          bool want = (code >> 16 >> (4 * p + 2 * s + d)) & 1;
          EXPECT_EQ(dst.At(k, 0), Bit(want)) << std::hex << code << " p" << p << " s" << s << " d" << d;
        }
        PlatSelectObject(dst.dc, PlatGetStockObject(kPlatStockWhiteBrush));
        PlatDeleteObject(brush);
      }
}

// Every one of the 256 functions on random colours, with a pattern brush,
// from colour and mono sources, one to one, enlarged, sampled smaller and
// with source rectangles running past the source, against the per-bit
// definition of the code and the index rule, pixel by pixel.
TEST(PlatformBlit, AllFunctionsOnRandomColoursMatchTheirDefinition) {
  std::srand(5);
  uint8_t rows[16];
  for (uint8_t& r : rows) r = uint8_t(std::rand());
  PlatObj pattern = PlatCreateBitmap(8, 8, 1, rows, sizeof rows);
  PlatObj brush = PlatCreatePatternBrush(pattern);
  struct Shape {
    int32_t sx, sy, sw, sh;
  } shapes[] = {{0, 0, 13, 9}, {-3, 2, 13, 9}, {4, -2, 5, 4}, {1, 1, 20, 14}, {3, 0, 13, 9}};
  for (int32_t bpp : {32, 1})
    for (uint32_t fn = 0; fn < 256; ++fn) {
      const Shape& sh = shapes[fn % 5];
      Source src(11, 8, bpp);
      for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 11; ++x) src.Set(x, y, uint32_t(std::rand()) & 0xFFFFFF);
      Canvas dst(13, 9);
      for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 13; ++x) PlatSurfaceSetPixel(dst.surface, x, y, uint32_t(std::rand()));
      dst.Snapshot();
      PlatSelectObject(dst.dc, brush);
      PlatSetTextColor(dst.dc, 0x123456);
      PlatSetBkColor(dst.dc, 0xA0B0C0);
      PlatSetStretchBltMode(dst.dc, kPlatStretchSample);
      ASSERT_TRUE(PlatStretchBlt(dst.dc, 0, 0, 13, 9, src.dc, sh.sx, sh.sy, sh.sw, sh.sh, fn << 16));
      for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 13; ++x) {
          int64_t jx = sh.sx + (2 * int64_t(x) + 1) * sh.sw / 26, jy = sh.sy + (2 * int64_t(y) + 1) * sh.sh / 18;
          bool reads = ((fn >> 2) & 0x33) != (fn & 0x33);
          uint32_t want = dst.Before(x, y);
          if (!reads || (jx >= 0 && jy >= 0 && jx < 11 && jy < 8)) {
            uint32_t sp = PlatSurfaceGetPixel(src.s, int32_t(jx), int32_t(jy)) & 0xFFFFFF;
            if (bpp == 1) sp = sp == 0xFFFFFF ? 0xC0B0A0 : 0x563412;  // background : text
            bool one = rows[2 * ((y) & 7)] & (0x80 >> (x & 7));
            uint32_t p = one ? 0xC0B0A0 : 0x563412;  // 1 bits: background, 0 bits: text
            want = PlatRop3(fn << 16, p, reads ? sp : 0, want) & 0xFFFFFF;
          }
          ASSERT_EQ(dst.At(x, y), want) << "function " << std::hex << fn << " bpp " << std::dec << bpp << " at "
                                        << x << "," << y;
        }
      PlatSelectObject(dst.dc, PlatGetStockObject(kPlatStockWhiteBrush));
    }
  PlatDeleteObject(brush);
  PlatDeleteObject(pattern);
}

TEST(PlatformBlit, CopiesOfEveryRowWidthTakeTheirSourceAndStopAtTheirEdge) {
  // Widths across the in-line row copy's steps (each count of sixteen-byte
  // stores, a last store that overlaps, fewer words than a store, rows
  // whose first 256-byte blocks go through the library), at an odd place
  // in both.
  std::vector<int32_t> widths;
  for (int32_t w = 1; w <= 72; ++w) widths.push_back(w);
  for (int32_t w : {100, 131, 132, 133, 140}) widths.push_back(w);
  Source src(150, 2, 32);
  for (int32_t x = 0; x < 150; ++x)
    for (int32_t y = 0; y < 2; ++y) src.Set(x, y, uint32_t(0x010000 * (x + 1) + 0x100 * (y + 1)));
  for (int32_t w : widths) {
    Canvas dst(150, 4, 0x00FF00);
    ASSERT_TRUE(PlatBitBlt(dst.dc, 3, 1, w, 2, src.dc, 5, 0, kPlatSrcCopy));
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 150; ++x) {
        const bool in = x >= 3 && x < 3 + w && y >= 1 && y < 3;
        const uint32_t want = in ? uint32_t(0x010000 * (x - 3 + 5 + 1) + 0x100 * y) : 0x00FF00u;
        ASSERT_EQ(dst.At(x, y), want) << "width " << w << " at " << x << "," << y;
      }
  }
}

TEST(PlatformBlit, MonoToColourAndColourToMono) {
  Source mono(6, 1, 1);
  for (int x : {1, 2, 4}) mono.Set(x, 0, 0xFFFFFF);
  Canvas colour(6, 1, 0x00FF00);
  PlatSetTextColor(colour.dc, 0x0000FF);  // red
  PlatSetBkColor(colour.dc, 0xFFFFFF);
  ASSERT_TRUE(PlatBitBlt(colour.dc, 0, 0, 6, 1, mono.dc, 0, 0, kPlatSrcCopy));
  const uint32_t want[6] = {0xFF0000, 0xFFFFFF, 0xFFFFFF, 0xFF0000, 0xFFFFFF, 0xFF0000};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(colour.At(x, 0), want[x]) << x;
  // Colour to mono: the source's background colour gives 1, all else 0.
  Source rgb(5, 1, 32);
  const uint32_t px[5] = {0x123456, 0xFFFFFF, 0x123456, 0x000000, 0x123457};
  for (int x = 0; x < 5; ++x) rgb.Set(x, 0, px[x]);
  PlatSetBkColor(rgb.dc, 0x563412);  // 0x00BBGGRR of 0x123456
  Canvas m(5, 1, 0x808080, 1);
  ASSERT_TRUE(PlatBitBlt(m.dc, 0, 0, 5, 1, rgb.dc, 0, 0, kPlatSrcCopy));
  const uint32_t bits[5] = {0xFFFFFF, 0, 0xFFFFFF, 0, 0};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(m.At(x, 0), bits[x]) << x;
}

TEST(PlatformBlit, StretchSamplesAndShrinkModes) {
  struct Case {
    int32_t sw, dw, mode;
    std::vector<int> picked;  // source column of each destination column
  } cases[] = {{3, 7, kPlatStretchAnd, {0, 0, 1, 1, 1, 2, 2}},
               {7, 3, kPlatStretchSample, {1, 3, 5}},
               {7, 3, kPlatStretchSample2, {1, 3, 5}},
               {5, 5, kPlatStretchAnd, {0, 1, 2, 3, 4}}};
  for (const Case& k : cases) {
    Source src(k.sw, 1, 32);
    for (int x = 0; x < k.sw; ++x) src.Set(x, 0, 0x010101 * uint32_t(x + 1));
    Canvas dst(k.dw, 1);
    EXPECT_EQ(PlatSetStretchBltMode(dst.dc, k.mode), kPlatStretchAnd);
    EXPECT_EQ(PlatGetStretchBltMode(dst.dc), k.mode);
    ASSERT_TRUE(PlatStretchBlt(dst.dc, 0, 0, k.dw, 1, src.dc, 0, 0, k.sw, 1, kPlatSrcCopy));
    for (int i = 0; i < k.dw; ++i) EXPECT_EQ(dst.At(i, 0), 0x010101u * uint32_t(k.picked[size_t(i)] + 1)) << i;
  }
  // Halving a white 8 x 8 with one black column at x = 2 (and a white one
  // on black): AND keeps the black, OR the white, sampling loses them.
  struct Halve {
    int32_t mode;
    uint32_t base, column, want;
  } halves[] = {{kPlatStretchAnd, 0xFFFFFF, 0, 0},
                {kPlatStretchOr, 0, 0xFFFFFF, 0xFFFFFF},
                {kPlatStretchSample, 0xFFFFFF, 0, 0xFFFFFF},
                {kPlatStretchAnd, 0, 0xFFFFFF, 0}};
  for (const Halve& k : halves)
    for (int32_t bpp : {1, 32}) {
      Source src(8, 8, bpp);
      PlatSurfaceClear(src.s, k.base);
      for (int y = 0; y < 8; ++y) src.Set(2, y, k.column);
      Canvas dst(4, 4, 0x808080, bpp);
      PlatSetStretchBltMode(dst.dc, k.mode);
      ASSERT_TRUE(PlatStretchBlt(dst.dc, 0, 0, 4, 4, src.dc, 0, 0, 8, 8, kPlatSrcCopy));
      for (int y = 0; y < 4; ++y) EXPECT_EQ(dst.At(1, y), k.want) << k.mode << " " << bpp;
      EXPECT_EQ(dst.At(0, 0), k.base) << k.mode;
    }
  // A source rectangle far larger than its surface reads only the surface.
  Source wide(3, 1, 32);
  for (int x = 0; x < 3; ++x) wide.Set(x, 0, x == 1 ? 0x070707 : 0x0F0F0F);
  Canvas one(1, 1);
  ASSERT_TRUE(PlatStretchBlt(one.dc, 0, 0, 1, 1, wide.dc, 0, 0, INT32_MAX, INT32_MAX, kPlatSrcCopy));
  EXPECT_EQ(one.At(0, 0), 0x070707u);
  Canvas dst(4, 4);
  EXPECT_EQ(PlatSetStretchBltMode(dst.dc, 5), 0);
  EXPECT_EQ(PlatLastError(), kPlatErrInvalidParam);
}

TEST(PlatformBlit, MaskedCopyAndTheFourStepIconPathAgree) {
  // 0xCCAA0020: copy where the mask bit is 0, keep where it is 1.
  Source src(4, 1, 32), mask(4, 1, 1);
  for (int x = 0; x < 4; ++x) src.Set(x, 0, 0x112233);
  mask.Set(1, 0, 0xFFFFFF);
  mask.Set(3, 0, 0xFFFFFF);
  Canvas d(4, 1, 0xABCDEF);
  ASSERT_TRUE(PlatMaskBlt(d.dc, 0, 0, 4, 1, src.dc, 0, 0, mask.bitmap, 0, 0, kPlatMaskCopy));
  EXPECT_EQ(d.Mask(), "#.#.");
  EXPECT_EQ(d.At(0, 0), 0x112233u);
  // A source that ends inside the rectangle leaves the pixels past it.
  Canvas part(4, 1, 0xABCDEF);
  Source clear(4, 1, 1);
  PlatSurfaceClear(clear.s, 0);
  ASSERT_TRUE(PlatMaskBlt(part.dc, 0, 0, 4, 1, src.dc, 2, 0, clear.bitmap, 0, 0, kPlatMaskCopy));
  EXPECT_EQ(part.Mask(), "##..");
  EXPECT_EQ(part.At(3, 0), Canvas::PixelOf(0xABCDEF));
  EXPECT_FALSE(PlatMaskBlt(d.dc, 0, 0, 4, 1, src.dc, 0, 0, src.bitmap, 0, 0, kPlatMaskCopy)) << "colour mask";
  EXPECT_FALSE(PlatMaskBlt(d.dc, 0, 0, 5, 1, src.dc, 0, 0, mask.bitmap, 0, 0, kPlatMaskCopy)) << "short mask";
  // A 32 x 32 1-bit icon with its mask (set pixels stored as 0), fg red and
  // bg blue, on a patterned destination: one masked call against the four
  // steps (AND mask; D or (P and S) with brush bg; AND icon; OR icon in fg).
  Source icon(32, 32, 1), imask(32, 32, 1);
  PlatSurfaceClear(icon.s, 0xFFFFFF);
  PlatSurfaceClear(imask.s, 0xFFFFFF);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      bool inMask = (x - 16) * (x - 16) + (y - 16) * (y - 16) < 196;
      if (inMask) imask.Set(x, y, 0);
      if (inMask && (x + y) % 3 == 0) icon.Set(x, y, 0);
    }
  const uint32_t fg = 0x0000FF, bg = 0xFF0000;
  Canvas one(40, 40), four(40, 40);
  for (Canvas* c : {&one, &four})
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 40; ++x) PlatSurfaceSetPixel(c->surface, x, y, 0x010203u * uint32_t(x + y));
  PlatSetTextColor(one.dc, fg);
  PlatSetBkColor(one.dc, bg);
  ASSERT_TRUE(PlatMaskBlt(one.dc, 4, 3, 32, 32, icon.dc, 0, 0, imask.bitmap, 0, 0, kPlatMaskCopy));
  PlatSetTextColor(four.dc, 0);
  PlatSetBkColor(four.dc, 0xFFFFFF);
  ASSERT_TRUE(PlatBitBlt(four.dc, 4, 3, 32, 32, imask.dc, 0, 0, kPlatSrcAnd));
  PlatObj brush = PlatCreateSolidBrush(bg);
  PlatSelectObject(four.dc, brush);
  PlatSetTextColor(four.dc, 0xFFFFFF);
  PlatSetBkColor(four.dc, 0);
  ASSERT_TRUE(PlatBitBlt(four.dc, 4, 3, 32, 32, imask.dc, 0, 0, kPlatPaintMaskOr));
  PlatSetTextColor(four.dc, 0);
  PlatSetBkColor(four.dc, 0xFFFFFF);
  ASSERT_TRUE(PlatBitBlt(four.dc, 4, 3, 32, 32, icon.dc, 0, 0, kPlatSrcAnd));
  PlatSetTextColor(four.dc, fg);
  PlatSetBkColor(four.dc, 0);
  ASSERT_TRUE(PlatBitBlt(four.dc, 4, 3, 32, 32, icon.dc, 0, 0, kPlatSrcPaint));
  EXPECT_EQ(one.Mask(), four.Mask());
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(one.At(x, y), four.At(x, y)) << x << "," << y;
  EXPECT_EQ(one.At(4 + 15, 3 + 15), Canvas::PixelOf(fg));
  EXPECT_EQ(one.At(4 + 16, 3 + 15), Canvas::PixelOf(bg));
  PlatSelectObject(four.dc, PlatGetStockObject(kPlatStockWhiteBrush));
  PlatDeleteObject(brush);
}

TEST(PlatformBlit, ClipOverlapScreenSourceAndEmptySizes) {
  // Scrolling within one surface reads the pixels before they are written.
  Canvas c(8, 1);
  for (int x = 0; x < 8; ++x) PlatSurfaceSetPixel(c.surface, x, 0, uint32_t(x));
  ASSERT_TRUE(PlatBitBlt(c.dc, 2, 0, 6, 1, c.dc, 0, 0, kPlatSrcCopy));
  const uint32_t scrolled[8] = {0, 1, 0, 1, 2, 3, 4, 5};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(c.At(x, 0), scrolled[x]) << x;
  // The screen context is a source; parts outside the source stay.
  PlatObj screen = PlatCreateScreenDc();
  PlatSurfaceSetPixel(PlatScreenSurface(), 0, 0, 0x123456);
  PlatSurfaceSetPixel(PlatScreenSurface(), 0, 1, 0xFFFFFF);
  Canvas d(3, 2, 0xFFFFFF);
  PlatObj clip = PlatCreateRectRgn(0, 0, 2, 2);
  PlatSelectClipRgn(d.dc, clip);
  ASSERT_TRUE(PlatBitBlt(d.dc, 0, 0, 3, 2, screen, -1, 0, kPlatSrcCopy));
  EXPECT_EQ(d.Mask(), Rows({".#.", "..."}));
  EXPECT_EQ(d.At(1, 0), 0x123456u);
  // A window's context is a source too: its client pixels.
  const PlatWindow win = PlatCreateWindow(nullptr, "source", 0, 0, PlatRect{0, 0, 8, 8}, 0);
  ASSERT_NE(win, 0u);
  PlatObj wdc = PlatGetDc(win);
  PlatSurfaceSetPixel(PlatWindowSurface(win), 2, 1, 0x654321);
  Canvas e(2, 2);
  ASSERT_TRUE(PlatBitBlt(e.dc, 0, 0, 2, 2, wdc, 1, 0, kPlatSrcCopy));
  EXPECT_EQ(e.At(1, 1), 0x654321u);
  PlatReleaseDc(win, wdc);
  PlatDestroyWindow(win);
  // Zero and negative sizes draw nothing; bad handles fail.
  d.Snapshot();
  EXPECT_TRUE(PlatBitBlt(d.dc, 0, 0, 0, 2, screen, 0, 0, kPlatSrcCopy));
  EXPECT_TRUE(PlatStretchBlt(d.dc, 0, 0, -3, 2, screen, 0, 0, 3, 2, kPlatSrcCopy));
  EXPECT_TRUE(PlatStretchBlt(d.dc, 0, 0, 3, 2, screen, 0, 0, 3, -2, kPlatSrcCopy));
  EXPECT_TRUE(d.Unchanged());
  EXPECT_FALSE(PlatBitBlt(d.dc, 0, 0, 3, 2, 0, 0, 0, kPlatSrcCopy));
  EXPECT_FALSE(PlatBitBlt(0, 0, 0, 3, 2, screen, 0, 0, kPlatSrcCopy));
  EXPECT_TRUE(PlatBitBlt(d.dc, 0, 0, 1, 1, 0, 0, 0, kPlatBlackness)) << "no source needed";
  EXPECT_EQ(d.At(0, 0), 0u);
  PlatDeleteDc(screen);
  PlatDeleteObject(clip);
}

TEST(PlatformBlit, BitmapsOfEveryDepthDescribeThemselves) {
  for (int32_t bpp : {1, 4, 8, 16, 24, 32}) {
    PlatObj bm = PlatCreateBitmap(5, 3, bpp, nullptr, 0);
    ASSERT_NE(bm, 0u) << bpp;
    PlatObjInfo info;
    ASSERT_TRUE(PlatDescribeObject(bm, &info));
    EXPECT_EQ(info.width, 5);
    EXPECT_EQ(info.height, 3);
    EXPECT_EQ(info.planes, 1);
    EXPECT_EQ(info.bitsPerPixel, bpp);
    EXPECT_EQ(info.format, bpp == 1 ? kPlatMono1 : kPlatRgb32);
    // A memory context holding it makes compatible bitmaps of its depth.
    PlatObj dc = PlatCreateMemoryDc();
    PlatSelectObject(dc, bm);
    PlatObj compat = PlatCreateCompatibleBitmap(dc, 2, 2);
    ASSERT_TRUE(PlatDescribeObject(compat, &info));
    EXPECT_EQ(info.bitsPerPixel, bpp);
    PlatDeleteObject(compat);
    PlatDeleteDc(dc);
    PlatDeleteObject(bm);
  }
  const uint8_t bytes[64] = {};
  for (int32_t bpp : {4, 8, 16, 24, 2, 0}) EXPECT_EQ(PlatCreateBitmap(2, 2, bpp, bytes, 64), 0u) << bpp;
  PlatObj screen = PlatCreateScreenDc(), fresh = PlatCreateMemoryDc();
  PlatObjInfo info;
  PlatObj a = PlatCreateCompatibleBitmap(screen, 2, 2), b = PlatCreateCompatibleBitmap(fresh, 2, 2);
  ASSERT_TRUE(PlatDescribeObject(a, &info));
  EXPECT_EQ(info.bitsPerPixel, 24);
  ASSERT_TRUE(PlatDescribeObject(b, &info));
  EXPECT_EQ(info.bitsPerPixel, 1);
  for (PlatObj o : {a, b}) PlatDeleteObject(o);
  PlatDeleteDc(screen);
  PlatDeleteDc(fresh);
}

}  // namespace
