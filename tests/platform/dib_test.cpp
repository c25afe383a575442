// DIBs: round trips at every depth, row order and header, the read tables,
// drawing DIBs, and every malformed header refused without reading past the
// bytes given (the buffers are exactly sized, so ASan sees any over-read).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "draw_support.h"
#include "platform/qx_blit.h"
#include "platform/qx_dib.h"
#include "platform/qx_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes* b, size_t at, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) (*b)[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A packed DIB with a 40-byte header; fields patched by the bad cases.
Bytes Info(int32_t w, int32_t h, int32_t bpp, uint32_t used = 0, uint32_t tableEntries = 0) {
  uint64_t row = (uint64_t(uint32_t(w)) * uint32_t(bpp) + 31) / 32 * 4;
  uint64_t rows = uint64_t(h < 0 ? -int64_t(h) : h);
  Bytes b(40 + 4 * size_t(tableEntries) + size_t(row * rows), 0);
  Put(&b, 0, 40, 4);
  Put(&b, 4, uint32_t(w), 4);
  Put(&b, 8, uint32_t(h), 4);
  Put(&b, 12, 1, 2);
  Put(&b, 14, uint32_t(bpp), 2);
  Put(&b, 32, used, 4);
  return b;
}

// Pixels drawn from the colours a depth keeps exactly.
std::vector<uint32_t> Palette221() {
  std::vector<uint32_t> p;
  for (uint32_t b = 0; b < 6; ++b)
    for (uint32_t g = 0; g < 6; ++g)
      for (uint32_t r = 0; r < 6; ++r) p.push_back((b * 0x33) << 16 | (g * 0x33) << 8 | r * 0x33);
  for (uint32_t k : {0x11u, 0x22u, 0x44u, 0x55u, 0x77u}) p.push_back(k * 0x010101);
  return p;
}

uint32_t ExactColour(int32_t depth, uint32_t i) {
  switch (depth) {
    case 1: return i % 2 ? 0xFFFFFF : 0;
    case 4: return Canvas::PixelOf(kPlatStandard16[i % 16]);
    case 8: return Canvas::PixelOf(Palette221()[i % 221]);
    case 16: return ((i * 8) & 0xF8) << 16 | ((i * 24) & 0xF8) << 8 | ((i * 40) & 0xF8);
    default: return (i * 0x9E3779B1u) & 0xFFFFFF;
  }
}

TEST(PlatformDib, RoundTripsAtEveryDepthOrderAndHeader) {
  PlatObj dc = PlatCreateMemoryDc();
  std::vector<uint32_t> p221 = Palette221();
  PlatObj pal = PlatCreatePalette(p221.data(), int32_t(p221.size()));
  PlatSelectPalette(dc, pal);
  for (int32_t depth : {1, 4, 8, 16, 24, 32})
    for (int32_t header : {12, 40})
      for (bool topDown : {false, true}) {
        if (header == 12 && topDown) continue;
        PlatSurface* s = PlatSurfaceCreate(13, 5, kPlatRgb32);
        for (int32_t y = 0; y < 5; ++y)
          for (int32_t x = 0; x < 13; ++x) {
            uint32_t c = ExactColour(depth, uint32_t(y * 13 + x));
            if (depth == 16) c |= (c >> 5) & 0x070707;  // the spread-back low bits
            PlatSurfaceSetPixel(s, x, y, c);
          }
        Bytes dib;
        ASSERT_TRUE(PlatSurfaceToDib(s, dc, depth, header, topDown, &dib)) << depth;
        PlatDibInfo info;
        ASSERT_TRUE(PlatDibReadPacked(dib.data(), uint32_t(dib.size()), &info));
        EXPECT_EQ(info.width, 13);
        EXPECT_EQ(info.height, 5);
        EXPECT_EQ(info.topDown, topDown);
        EXPECT_EQ(info.bitsPerPixel, depth);
        EXPECT_EQ(info.colourCount, depth <= 8 ? 1 << depth : 0);
        EXPECT_EQ(info.rowBytes, (13u * uint32_t(depth) + 31) / 32 * 4);
        uint32_t at = uint32_t(header) + info.tableBytes;
        PlatSurface* back = PlatDibToSurface(dib.data(), at, dib.data() + at, uint32_t(dib.size()) - at);
        ASSERT_NE(back, nullptr);
        for (int32_t y = 0; y < 5; ++y)
          for (int32_t x = 0; x < 13; ++x)
            ASSERT_EQ(PlatSurfaceGetPixel(back, x, y), PlatSurfaceGetPixel(s, x, y))
                << depth << " " << header << " " << topDown << " at " << x << "," << y;
        // Through a bitmap made from the DIB and read back at its depth.
        PlatObj screen = PlatCreateScreenDc();
        PlatObj bm = PlatCreateDibBitmap(screen, dib.data(), at, dib.data() + at, uint32_t(dib.size()) - at);
        ASSERT_NE(bm, 0u);
        PlatSelectPalette(screen, pal);
        Bytes again;
        ASSERT_TRUE(PlatGetDibBits(screen, bm, depth, header, topDown, &again));
        EXPECT_EQ(again, dib) << depth << " " << header << " " << topDown;
        PlatDeleteObject(bm);
        PlatDeleteDc(screen);
        PlatSurfaceDestroy(back);
        PlatSurfaceDestroy(s);
      }
  PlatDeleteDc(dc);
  PlatDeleteObject(pal);
}

TEST(PlatformDib, ReadTablesAndNearestEntries) {
  // 8 bits: the selected 221-entry palette, then black; each palette colour
  // maps to its own index.
  std::vector<uint32_t> p221 = Palette221();
  PlatObj pal = PlatCreatePalette(p221.data(), 221);
  PlatObj dc = PlatCreateMemoryDc();
  PlatSelectPalette(dc, pal);
  PlatSurface* s = PlatSurfaceCreate(221, 1, kPlatRgb32);
  for (int32_t x = 0; x < 221; ++x) PlatSurfaceSetPixel(s, x, 0, Canvas::PixelOf(p221[size_t(x)]));
  Bytes dib;
  ASSERT_TRUE(PlatSurfaceToDib(s, dc, 8, 40, false, &dib));
  ASSERT_EQ(dib.size(), 40u + 1024u + 224u);
  for (int32_t i = 0; i < 221; ++i) {
    EXPECT_EQ(dib[size_t(40 + 1024 + i)], i);
    uint32_t c = p221[size_t(i)];  // 0x00BBGGRR against blue, green, red, 0
    EXPECT_EQ(dib[size_t(40 + 4 * i)], (c >> 16) & 0xFF);
    EXPECT_EQ(dib[size_t(40 + 4 * i + 2)], c & 0xFF);
  }
  for (int32_t i = 221; i < 256; ++i) EXPECT_EQ(dib[size_t(40 + 4 * i)] | dib[size_t(40 + 4 * i + 1)] | dib[size_t(40 + 4 * i + 2)], 0);
  // Nearest entries: at 1 bit dark grey is black and light grey white; at
  // 4 bits 0x7F0000 is index 4 (blue at 0x80, stored 0x00BBGGRR) ...
  struct Near {
    int32_t depth;
    uint32_t rgb;
    uint32_t index;
  } nears[] = {{1, 0x303030, 0}, {1, 0xC0C0C0, 1}, {4, 0x00007F, 4}, {4, 0xC8C8C8, 8}, {4, 0xF0F0F0, 15},
               {4, 0x800000, 1}, {8, 0x320000, 1}, {8, 0x101010, 216}};
  for (const Near& k : nears) {
    PlatSurface* one = PlatSurfaceCreate(1, 1, kPlatRgb32);
    PlatSurfaceSetPixel(one, 0, 0, k.rgb);
    Bytes b;
    ASSERT_TRUE(PlatSurfaceToDib(one, dc, k.depth, 40, false, &b));
    uint32_t v = b[b.size() - 4];  // the one row's first byte
    uint32_t got = k.depth == 1 ? v >> 7 : k.depth == 4 ? v >> 4 : v;
    EXPECT_EQ(got, k.index) << k.depth << " " << std::hex << k.rgb;
    PlatSurfaceDestroy(one);
  }
  // Mono bitmaps read as 1 bit with black, white; 1-bit DIBs drawn on a
  // mono bitmap take the nearest of black and white.
  PlatObj mono = PlatCreateBitmap(3, 2, 1, nullptr, 0);
  PlatSurfaceSetPixel(PlatBitmapSurface(mono), 1, 0, 0xFFFFFF);
  Bytes mb;
  ASSERT_TRUE(PlatGetDibBits(dc, mono, 0, 40, true, &mb));
  ASSERT_EQ(mb.size(), 40u + 8u + 8u);
  EXPECT_EQ(mb[44], 0xFF);
  EXPECT_EQ(mb[48], 0x40) << "row 0, pixel 1 white";
  mb[44 + 0] = 0x10;  // entry 1 becomes a dark colour: black on a mono bitmap
  mb[45] = 0x10;
  mb[46] = 0x10;
  ASSERT_TRUE(PlatSetDibBits(dc, mono, mb.data(), 48, mb.data() + 48, 8));
  EXPECT_EQ(PlatSurfaceGetPixel(PlatBitmapSurface(mono), 1, 0) & 0xFFFFFF, 0u);
  PlatDeleteObject(mono);
  PlatSurfaceDestroy(s);
  PlatDeleteDc(dc);
  PlatDeleteObject(pal);
}

TEST(PlatformDib, DibsDrawThroughTheTransferRules) {
  // A 2 x 2 24-bit bottom-up DIB stretched to 4 x 4 at (1, 1).
  Bytes d = Info(2, 2, 24);
  const uint8_t px[2][6] = {{0, 0, 255, 0, 255, 0}, {255, 0, 0, 255, 255, 255}};  // bottom row first
  for (int r = 0; r < 2; ++r)
    for (int k = 0; k < 6; ++k) d[size_t(40 + 8 * r + k)] = px[r][k];
  Canvas c(6, 6, 0x808080);
  ASSERT_TRUE(PlatStretchDibBits(c.dc, 1, 1, 4, 4, 0, 0, 2, 2, d.data(), 40, d.data() + 40, 16, kPlatSrcCopy));
  EXPECT_EQ(c.Mask(), Rows({"......", ".####.", ".####.", ".####.", ".####.", "......"}));
  EXPECT_EQ(c.At(1, 1), 0x0000FFu);  // top row: blue, white
  EXPECT_EQ(c.At(4, 1), 0xFFFFFFu);
  EXPECT_EQ(c.At(1, 4), 0xFF0000u);  // bottom row: red, green
  EXPECT_EQ(c.At(4, 4), 0x00FF00u);
  c.Snapshot();
  ASSERT_TRUE(PlatDibToDevice(c.dc, 0, 0, 1, 1, 1, 0, d.data(), 40, d.data() + 40, 16));
  EXPECT_EQ(c.At(0, 0), 0xFFFFFFu);
  EXPECT_TRUE(PlatStretchDibBits(c.dc, 0, 0, 0, 3, 0, 0, 2, 2, d.data(), 40, d.data() + 40, 16, kPlatSrcCopy));
  EXPECT_TRUE(PlatStretchDibBits(c.dc, 0, 0, 3, -1, 0, 0, 2, 2, d.data(), 40, d.data() + 40, 16, kPlatSrcCopy));
  EXPECT_EQ(c.Mask(), Rows({"#.....", "......", "......", "......", "......", "......"}));
  EXPECT_FALSE(PlatStretchDibBits(c.dc, 0, 0, 2, 2, 0, 0, 2, 2, d.data(), 40, d.data() + 40, 15, kPlatSrcCopy));
}

TEST(PlatformDib, MalformedHeadersFailWithoutReadingPastTheBytes) {
  struct Bad {
    const char* what;
    Bytes bytes;
  };
  std::vector<Bad> bad;
  auto patched = [](Bytes b, size_t at, uint32_t v, int n) {
    Put(&b, at, v, n);
    return b;
  };
  Bytes good = Info(3, 2, 8, 0, 256);
  for (uint32_t size : {0u, 11u, 13u, 39u, 41u, 108u, 124u}) bad.push_back({"header size", patched(good, 0, size, 4)});
  bad.push_back({"planes 0", patched(good, 12, 0, 2)});
  bad.push_back({"planes 2", patched(good, 12, 2, 2)});
  bad.push_back({"width 0", patched(good, 4, 0, 4)});
  bad.push_back({"width < 0", patched(good, 4, uint32_t(-3), 4)});
  bad.push_back({"height 0", patched(good, 8, 0, 4)});
  bad.push_back({"height min", patched(good, 8, 0x80000000u, 4)});
  for (uint32_t d : {0u, 2u, 3u, 5u, 7u, 15u, 31u, 33u, 64u}) bad.push_back({"depth", patched(good, 14, d, 2)});
  for (uint32_t comp : {1u, 2u, 3u}) bad.push_back({"compressed", patched(good, 16, comp, 4)});
  bad.push_back({"colours 257 at 8", patched(good, 32, 257, 4)});
  bad.push_back({"colours 3 at 1", patched(Info(3, 2, 1, 0, 2), 32, 3, 4)});
  bad.push_back({"colours 17 at 4", patched(Info(3, 2, 4, 0, 16), 32, 17, 4)});
  bad.push_back({"colours 257 at 24", patched(Info(3, 2, 24), 32, 257, 4)});
  bad.push_back({"rows overflow", patched(patched(Info(1, 1, 32), 4, 0x10000, 4), 8, 0x10000, 4)});
  bad.push_back({"short bits", Bytes(good.begin(), good.end() - 1)});
  bad.push_back({"short table", Bytes(good.begin(), good.begin() + 40 + 1000)});
  bad.push_back({"short header", Bytes(good.begin(), good.begin() + 39)});
  bad.push_back({"table past the end", patched(Info(3, 1, 24), 32, 200, 4)});
  Bytes core(12 + 6 + 7, 0);  // a 1-bit 3 x 2 image (2 entries of 3 bytes, rows of 4) one byte short
  Put(&core, 0, 12, 4);
  Put(&core, 4, 3, 2);
  Put(&core, 6, 2, 2);
  Put(&core, 8, 1, 2);
  Put(&core, 10, 1, 2);
  bad.push_back({"core short bits", core});
  bad.push_back({"core height 0", patched(core, 6, 0, 2)});
  bad.push_back({"core width 0", patched(core, 4, 0, 2)});
  bad.push_back({"core planes 3", patched(core, 8, 3, 2)});
  bad.push_back({"core depth 2", patched(core, 10, 2, 2)});
  PlatDibInfo info;
  ASSERT_TRUE(PlatDibReadPacked(good.data(), uint32_t(good.size()), &info));
  Canvas c(4, 4);
  for (const Bad& k : bad) {
    // An exact-size copy: any read past it is an ASan report.
    auto* p = static_cast<uint8_t*>(std::malloc(k.bytes.size() ? k.bytes.size() : 1));
    std::copy(k.bytes.begin(), k.bytes.end(), p);
    uint32_t n = uint32_t(k.bytes.size());
    PlatSetLastError(0);
    EXPECT_FALSE(PlatDibReadPacked(p, n, &info)) << k.what;
    EXPECT_EQ(PlatLastError(), kPlatErrInvalidParam) << k.what;
    PlatDibInfo h;
    uint32_t head = PlatDibReadHeader(p, n, &h) ? uint32_t(h.headerSize) + h.tableBytes : (n < 40 ? n : 40);
    EXPECT_EQ(PlatDibToSurface(p, head, p + head, n - head), nullptr) << k.what;
    EXPECT_FALSE(PlatStretchDibBits(c.dc, 0, 0, 4, 4, 0, 0, 3, 2, p, head, p + head, n - head, kPlatSrcCopy)) << k.what;
    EXPECT_EQ(PlatCreateDibBitmap(c.dc, p, n, p + head, n - head), 0u) << k.what;
    std::free(p);
  }
  EXPECT_TRUE(c.Unchanged());
  // Writing refuses what it cannot write.
  PlatSurface* w = PlatSurfaceCreate(2, 2, kPlatRgb32);
  Bytes out;
  EXPECT_FALSE(PlatSurfaceToDib(w, c.dc, 12, 40, false, &out));
  EXPECT_FALSE(PlatSurfaceToDib(w, c.dc, 8, 24, false, &out));
  EXPECT_FALSE(PlatSurfaceToDib(w, c.dc, 8, 12, true, &out));
  EXPECT_FALSE(PlatSurfaceToDib(w, 0, 8, 40, false, &out)) << "no context for the 8-bit table";
  PlatSurfaceDestroy(w);
}

// The fuzz target's seeds are DIBs written here; they are kept in the tree
// and rewritten with QX_WRITE_SEEDS=1.
TEST(PlatformDib, FuzzSeedsMatchTheWriter) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(QX_SOURCE_DIR) / "tests" / "fuzz" / "seeds" / "dib_fuzz";
  PlatObj dc = PlatCreateMemoryDc();
  PlatSurface* s = PlatSurfaceCreate(7, 3, kPlatRgb32);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 7; ++x) PlatSurfaceSetPixel(s, x, y, ExactColour(32, uint32_t(y * 7 + x)));
  const bool write = std::getenv("QX_WRITE_SEEDS") != nullptr;
  if (write) fs::create_directories(dir);
  for (int32_t depth : {1, 4, 8, 16, 24, 32})
    for (int32_t header : {12, 40}) {
      Bytes dib;
      ASSERT_TRUE(PlatSurfaceToDib(s, dc, depth, header, false, &dib));
      const std::string path = (dir / ("d" + std::to_string(depth) + "h" + std::to_string(header) + ".dib")).string();
      if (write) std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(dib.data()), std::streamsize(dib.size()));
      std::ifstream in(path, std::ios::binary);
      Bytes kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(kept, dib) << path;
    }
  PlatSurfaceDestroy(s);
  PlatDeleteDc(dc);
}

}  // namespace
