// Text of an 80-byte line at 13 pixels: its extent against a plain loop
// summing a 256-entry width table (target: at most 2x), and drawing it with
// cached glyphs against FreeType direct (FT_Load_Char with FT_LOAD_RENDER |
// FT_LOAD_TARGET_MONO per byte, bits copied to the surface; target: at most
// 0.5x).
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/qx_dc.h"
#include "platform/qx_draw.h"
#include "platform/qx_font.h"
#include "platform/qx_surface.h"

namespace {

const char kLine[] = "The quick brown dog jumps over the lazy fox. 0123456789 (Wi) \"AV\" [x] {y} ~ end!";
static_assert(sizeof kLine - 1 == 80, "an 80-byte line");

struct Target {
  PlatObj dc, bitmap, font;
  PlatSurface* s;
  Target() {
    dc = PlatCreateMemoryDc();
    bitmap = PlatCreateBitmap(1024, 32, 32, nullptr, 0);
    PlatSelectObject(dc, bitmap);
    s = PlatBitmapSurface(bitmap);
    PlatFontDesc d{};
    d.height = 13;
    d.weight = 400;
    PlatSetFaceName(&d, "DejaVu Sans Condensed", 21);
    font = PlatCreateFont(d);
    PlatSelectObject(dc, font);
    PlatSetBkMode(dc, kPlatBkTransparent);
  }
  ~Target() {
    PlatSelectObject(dc, PlatGetStockObject(kPlatStockFont));
    PlatDeleteDc(dc);
    PlatDeleteObject(bitmap);
    PlatDeleteObject(font);
  }
};

void BM_TextExtentLine(benchmark::State& st) {
  Target t;
  for (auto _ : st) {
    int32_t w = 0;
    PlatGetTextExtent(t.dc, kLine, 80, &w, nullptr);
    benchmark::DoNotOptimize(w);
  }
}
BENCHMARK(BM_TextExtentLine);

void BM_WidthTableSumLine(benchmark::State& st) {
  Target t;
  int32_t table[256];
  for (int b = 0; b < 256; ++b) table[b] = PlatGetCharAdvance(t.font, uint8_t(b));
  const char* volatile line = kLine;
  for (auto _ : st) {
    int32_t w = 0;
    const char* p = line;
    for (int i = 0; i < 80; ++i) w += table[uint8_t(p[i])];
    benchmark::DoNotOptimize(w);
  }
}
BENCHMARK(BM_WidthTableSumLine);

void BM_TextDrawLine(benchmark::State& st) {
  Target t;
  PlatTextOut(t.dc, 4, 4, 0, nullptr, kLine, 80);  // glyphs cached
  for (auto _ : st) {
    PlatTextOut(t.dc, 4, 4, 0, nullptr, kLine, 80);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TextDrawLine);

void BM_FreeTypeDirectLine(benchmark::State& st) {
  Target t;
  FT_Library lib;
  FT_Face face;
  if (FT_Init_FreeType(&lib) ||
      FT_New_Face(lib, "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed.ttf", 0, &face)) {
    st.SkipWithError("no face");
    return;
  }
  FT_Set_Char_Size(face, 0, 13 * 2048 * 64 / 2384, 72, 72);
  uint32_t* bits = reinterpret_cast<uint32_t*>(PlatSurfaceBits(t.s));
  const int32_t stride = 1024;
  for (auto _ : st) {
    int32_t pen = 4;
    for (int i = 0; i < 80; ++i) {
      if (FT_Load_Char(face, uint8_t(kLine[i]), FT_LOAD_RENDER | FT_LOAD_TARGET_MONO)) continue;
      const FT_Bitmap& bm = face->glyph->bitmap;
      int32_t gx = pen + face->glyph->bitmap_left, gy = 14 - face->glyph->bitmap_top;
      for (uint32_t r = 0; r < bm.rows; ++r) {
        int32_t y = gy + int32_t(r);
        if (y < 0 || y >= 32) continue;
        const uint8_t* row = bm.buffer + size_t(r) * size_t(bm.pitch);
        for (uint32_t c = 0; c < bm.width; ++c) {
          int32_t x = gx + int32_t(c);
          if (x >= 0 && x < 1024 && (row[c >> 3] & (0x80 >> (c & 7)))) bits[y * stride + x] = 0xFF000000u;
        }
      }
      pen += int32_t(face->glyph->advance.x >> 6);
    }
    benchmark::ClobberMemory();
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
}
BENCHMARK(BM_FreeTypeDirectLine);

}  // namespace
