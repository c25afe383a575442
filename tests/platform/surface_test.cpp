#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/qx_file.h"
#include "platform/qx_png.h"
#include "platform/qx_surface.h"
#include "temp_folder.h"

namespace {

struct SurfaceDeleter {
  void operator()(PlatSurface* s) const { PlatSurfaceDestroy(s); }
};
using SurfacePtr = std::unique_ptr<PlatSurface, SurfaceDeleter>;

uint32_t Colour(int32_t x, int32_t y) { return uint32_t(x * 37 + y * 91) * 0x010203u & 0xFFFFFF; }

}  // namespace

TEST(PlatformSurface, SizesFormatsAndRefusals) {
  struct Case {
    int32_t w, h;
    PlatSurfaceFormat f;
    int32_t stride;
    bool ok;
  } cases[] = {
      {0, 0, kPlatRgb32, 0, true},     {1, 1, kPlatRgb32, 4, true},
      {7, 3, kPlatRgb32, 28, true},    {0, 0, kPlatMono1, 0, true},
      {1, 1, kPlatMono1, 4, true},     {33, 2, kPlatMono1, 8, true},
      {-1, 4, kPlatRgb32, 0, false},   {4, -1, kPlatMono1, 0, false},
      {65536, 32768, kPlatRgb32, 0, false},  // 2^33 bytes
      {1 << 30, 1, kPlatRgb32, 0, false},
  };
  for (const Case& c : cases) {
    SurfacePtr s(PlatSurfaceCreate(c.w, c.h, c.f));
    ASSERT_EQ(s != nullptr, c.ok) << c.w << "x" << c.h;
    if (!s) {
      EXPECT_NE(PlatLastError(), 0);
      continue;
    }
    EXPECT_EQ(PlatSurfaceWidth(s.get()), c.w);
    EXPECT_EQ(PlatSurfaceHeight(s.get()), c.h);
    EXPECT_EQ(PlatSurfaceStride(s.get()), c.stride);
    EXPECT_EQ(PlatSurfaceByteSize(s.get()), uint32_t(c.stride * c.h));
    if (c.w && c.h) {
      EXPECT_EQ(PlatSurfaceGetPixel(s.get(), c.w - 1, c.h - 1), 0xFF000000u);
    }
  }
  EXPECT_EQ(PlatSurfaceCreate(2, 2, PlatSurfaceFormat(5)), nullptr);
}

TEST(PlatformSurface, PixelsOutsideAreIgnoredAndMonoKeepsOnlyExactWhite) {
  SurfacePtr m(PlatSurfaceCreate(10, 2, kPlatMono1));
  PlatSurfaceSetPixel(m.get(), 0, 0, 0xFFFFFF);
  PlatSurfaceSetPixel(m.get(), 9, 1, 0x02FFFFFF);  // high byte ignored
  PlatSurfaceSetPixel(m.get(), 3, 0, 0xFFFFFE);    // non-white: black
  PlatSurfaceSetPixel(m.get(), -1, 0, 0xFFFFFF);
  PlatSurfaceSetPixel(m.get(), 10, 0, 0xFFFFFF);
  PlatSurfaceSetPixel(m.get(), 0, 2, 0xFFFFFF);
  const uint8_t* b = PlatSurfaceBits(m.get());
  EXPECT_EQ(b[0], 0x80);
  EXPECT_EQ(b[1], 0x00);
  EXPECT_EQ(b[4 + 1], 0x40);  // x = 9 in row 1
  EXPECT_EQ(PlatSurfaceGetPixel(m.get(), 9, 1), 0xFFFFFFFFu);
  EXPECT_EQ(PlatSurfaceGetPixel(m.get(), 3, 0), 0xFF000000u);
  EXPECT_EQ(PlatSurfaceGetPixel(m.get(), 10, 0), 0u);

  SurfacePtr c(PlatSurfaceCreate(3, 3, kPlatRgb32));
  PlatSurfaceSetPixel(c.get(), 1, 2, 0x02123456);
  EXPECT_EQ(PlatSurfaceGetPixel(c.get(), 1, 2), 0xFF123456u);
  EXPECT_EQ(PlatSurfaceGetPixel(c.get(), 3, 2), 0u);
}

TEST(PlatformSurface, ResizeKeepsTopLeftAndAddsBlack) {
  for (PlatSurfaceFormat f : {kPlatRgb32, kPlatMono1}) {
    SurfacePtr s(PlatSurfaceCreate(13, 9, f));
    PlatSurfaceClear(s.get(), 0xFFFFFF);
    PlatSurfaceSetPixel(s.get(), 2, 2, 0);
    struct Size {
      int32_t w, h;
    } sizes[] = {{5, 4}, {20, 11}, {0, 0}, {3, 3}};
    int32_t keptW = 13, keptH = 9;
    for (Size z : sizes) {
      ASSERT_TRUE(PlatSurfaceResize(s.get(), z.w, z.h));
      keptW = std::min(keptW, z.w);
      keptH = std::min(keptH, z.h);
      for (int32_t y = 0; y < z.h; ++y)
        for (int32_t x = 0; x < z.w; ++x) {
          bool kept = x < keptW && y < keptH && !(x == 2 && y == 2);
          EXPECT_EQ(PlatSurfaceGetPixel(s.get(), x, y), kept ? 0xFFFFFFFFu : 0xFF000000u)
              << f << " " << x << "," << y << " at " << z.w << "x" << z.h;
        }
    }
    EXPECT_FALSE(PlatSurfaceResize(s.get(), -2, 3));
    EXPECT_EQ(PlatSurfaceWidth(s.get()), 3) << "a failed resize changes nothing";
  }
}

TEST(PlatformPng, RoundTripIsExactAndDeterministic) {
  for (PlatSurfaceFormat f : {kPlatRgb32, kPlatMono1}) {
    SurfacePtr s(PlatSurfaceCreate(17, 5, f));
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 17; ++x) PlatSurfaceSetPixel(s.get(), x, y, Colour(x, y));
    std::vector<uint8_t> a, b;
    ASSERT_EQ(PlatPngWriteMemory(s.get(), &a), 0);
    ASSERT_EQ(PlatPngWriteMemory(s.get(), &b), 0);
    EXPECT_EQ(a, b);
    const char tIME[] = "tIME";
    EXPECT_EQ(std::search(a.begin(), a.end(), tIME, tIME + 4), a.end());
    SurfacePtr back(PlatPngReadMemory(a.data(), a.size()));
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(PlatSurfaceWidth(back.get()), 17);
    ASSERT_EQ(PlatSurfaceHeight(back.get()), 5);
    EXPECT_EQ(PlatSurfaceFormatOf(back.get()), kPlatRgb32);
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 17; ++x)
        EXPECT_EQ(PlatSurfaceGetPixel(back.get(), x, y), PlatSurfaceGetPixel(s.get(), x, y));
  }
}

TEST(PlatformPng, FilesRoundTripAndBadBytesFailCleanly) {
  TempFolder dir("qxpng");
  std::string path = dir.Dir() + "/shot.png";
  SurfacePtr s(PlatSurfaceCreate(4, 4, kPlatRgb32));
  PlatSurfaceSetPixel(s.get(), 3, 0, 0xFF0000);
  ASSERT_EQ(PlatPngWriteFile(s.get(), path.c_str()), 0);
  SurfacePtr back(PlatPngReadFile(path.c_str()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(PlatSurfaceGetPixel(back.get(), 3, 0), 0xFFFF0000u);
  EXPECT_EQ(PlatPngReadFile((dir.Dir() + "/none.png").c_str()), nullptr);
  EXPECT_EQ(PlatLastError(), kPlatErrFileNotFound);

  std::vector<uint8_t> good;
  ASSERT_EQ(PlatPngWriteMemory(s.get(), &good), 0);
  EXPECT_EQ(PlatPngReadMemory(good.data(), good.size(), 15), nullptr) << "over the pixel limit";
  EXPECT_EQ(PlatLastError(), kPlatErrNoMemory);
  for (size_t cut : {size_t(0), size_t(8), size_t(30), good.size() - 13}) {
    EXPECT_EQ(PlatPngReadMemory(good.data(), cut), nullptr) << cut;
  }
  std::vector<uint8_t> bad = good;
  bad[18] ^= 0x55;  // the header's width: its checksum no longer matches
  EXPECT_EQ(PlatPngReadMemory(bad.data(), bad.size()), nullptr);

  SurfacePtr empty(PlatSurfaceCreate(0, 0, kPlatRgb32));
  std::vector<uint8_t> out;
  EXPECT_EQ(PlatPngWriteMemory(empty.get(), &out), kPlatErrInvalidParam);
}
