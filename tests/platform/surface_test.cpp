#include <gtest/gtest.h>
#include <png.h>

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

namespace {

// A PNG of 2 x 2 pixels written by libpng itself, with the given samples.
struct PngImage {
  const char* name;
  int depth, type;
  double gamma;  // 0: no gAMA chunk
  bool interlaced;
  std::vector<uint8_t> rows;   // both rows, packed as stored
  std::vector<uint32_t> want;  // 0x00RRGGBB of the four pixels
};

void Append(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}

std::vector<uint8_t> Encode(const PngImage& img) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, Append, nullptr);
  png_set_IHDR(png, info, 2, 2, img.depth, img.type, img.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (img.type == PNG_COLOR_TYPE_PALETTE) {
    png_color pal[2] = {{200, 10, 20}, {30, 40, 250}};
    png_byte alpha[1] = {0};
    png_set_PLTE(png, info, pal, 2);
    png_set_tRNS(png, info, alpha, 1, nullptr);
  }
  if (img.gamma > 0) png_set_gAMA(png, info, img.gamma);
  png_write_info(png, info);
  if (img.interlaced) png_set_interlace_handling(png);
  size_t stride = img.rows.size() / 2;
  png_bytep rows[2] = {const_cast<uint8_t*>(img.rows.data()), const_cast<uint8_t*>(img.rows.data()) + stride};
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace

// Files of every kind read their stored samples: 16-bit samples by their
// high byte and no gamma conversion, whatever gAMA says.
TEST(PlatformPng, StoredSamplesReadAsTheyAre) {
  const PngImage specs[] = {
      {"16-bit grey", 16, PNG_COLOR_TYPE_GRAY, 0, false, {138, 77, 0, 255, 255, 255, 12, 0},
       {0x8A8A8A, 0x000000, 0xFFFFFF, 0x0C0C0C}},
      {"grey with gAMA", 8, PNG_COLOR_TYPE_GRAY, 1.0, false, {138, 64, 200, 1},
       {0x8A8A8A, 0x404040, 0xC8C8C8, 0x010101}},
      {"RGB with gAMA", 8, PNG_COLOR_TYPE_RGB, 0.25, false, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120},
       {0x0A141E, 0x28323C, 0x46505A, 0x646E78}},
      {"16-bit RGBA", 16, PNG_COLOR_TYPE_RGB_ALPHA, 0.45455, false,
       {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 255, 255, 13, 1, 14, 1, 15, 1, 128, 0, 16, 0, 17, 0, 18, 0, 0, 1},
       {0x010305, 0x07090B, 0x0D0E0F, 0x101112}},
      {"grey and alpha, interlaced", 8, PNG_COLOR_TYPE_GRAY_ALPHA, 2.2, true, {90, 0, 91, 10, 92, 128, 93, 255},
       {0x5A5A5A, 0x5B5B5B, 0x5C5C5C, 0x5D5D5D}},
      {"palette with transparency", 1, PNG_COLOR_TYPE_PALETTE, 0, false, {0x40, 0x80},
       {0xC80A14, 0x1E28FA, 0x1E28FA, 0xC80A14}},
  };
  for (const PngImage& img : specs) {
    std::vector<uint8_t> bytes = Encode(img);
    SurfacePtr s(PlatPngReadMemory(bytes.data(), bytes.size()));
    ASSERT_NE(s, nullptr) << img.name;
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(PlatSurfaceGetPixel(s.get(), i % 2, i / 2), 0xFF000000u | img.want[size_t(i)])
          << img.name << " " << i;
  }
}
