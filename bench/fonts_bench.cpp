// The font table: TTextSize of an 80-byte line in a 13-pixel condensed font
// (a width-table walk) against summing FreeType's FT_Get_Advance over its
// bytes (glyph indexes looked up beforehand; target: at least 10x faster);
// TNewFont + TDisposeFont of a cached font against making and deleting the
// layer's font (target: at least 20x faster).
#include <benchmark/benchmark.h>

#include "start_once.h"
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "platform/qx_font.h"
#include "tools/panelwriter.h"

namespace {

const char kLine[] = "The quick brown dog jumps over the lazy fox. 0123456789 (Wi) \"AV\" [x] {y} ~ end!";
static_assert(sizeof kLine - 1 == 80, "an 80-byte line");
const uChar kFace[] = "\x15" "DejaVu Sans Condensed";

bool StartFonts() {
  static const bool started = BenchMemInit() == kNoErr && (BenchFontsInit(), TStandardFont(0) >= 0);
  return started;
}

void BM_FontTextSizeLine(benchmark::State& st) {
  if (!StartFonts()) return st.SkipWithError("no font table");
  const int32 font = TNewFont(kFace, 13, 0, 0);
  const uChar* volatile line = reinterpret_cast<const uChar*>(kLine);
  for (auto _ : st) {
    Point p;
    TTextSize(line, 80, font, &p);
    benchmark::DoNotOptimize(p);
  }
  TDisposeFont(font);
}
BENCHMARK(BM_FontTextSizeLine);

void BM_FreeTypeAdvanceLine(benchmark::State& st) {
  FT_Library lib;
  FT_Face face;
  const char* dir = std::getenv("QX_FONT_DIR");
  const std::string path = std::string(dir && *dir ? dir : "/usr/share/fonts/truetype/dejavu") + "/DejaVuSansCondensed.ttf";
  if (FT_Init_FreeType(&lib) || FT_New_Face(lib, path.c_str(), 0, &face)) return st.SkipWithError("no face");
  FT_Set_Pixel_Sizes(face, 0, 13);
  FT_UInt glyph[256];
  for (int b = 0; b < 256; ++b) glyph[b] = FT_Get_Char_Index(face, FT_ULong(b));
  const char* volatile line = kLine;
  for (auto _ : st) {
    FT_Fixed sum = 0;
    const char* p = line;
    for (int i = 0; i < 80; ++i) {
      FT_Fixed a = 0;
      FT_Get_Advance(face, glyph[uint8_t(p[i])], FT_LOAD_NO_HINTING, &a);
      sum += a;
    }
    benchmark::DoNotOptimize(sum);
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
}
BENCHMARK(BM_FreeTypeAdvanceLine);

void BM_FontNewDisposeCached(benchmark::State& st) {
  if (!StartFonts()) return st.SkipWithError("no font table");
  // Cached: made once and given back, so the entry stays with its object.
  TDisposeFont(TNewFont(kFace, 15, 2, 0));
  for (auto _ : st) {
    const int32 f = TNewFont(kFace, 15, 2, 0);
    TDisposeFont(f);
    benchmark::DoNotOptimize(f);
  }
}
BENCHMARK(BM_FontNewDisposeCached);

void BM_LayerFontCreateDelete(benchmark::State& st) {
  PlatFontDesc d{};
  d.height = 15;
  d.weight = 400;
  d.italic = true;
  PlatSetFaceName(&d, "DejaVu Sans Condensed", 21);
  for (auto _ : st) {
    const PlatObj f = PlatCreateFont(d);
    PlatDeleteObject(f);
    benchmark::DoNotOptimize(f);
  }
}
BENCHMARK(BM_LayerFontCreateDelete);

}  // namespace

namespace {

// Making n distinct fonts (a size each) and giving them back: each request
// finds its slot without scanning the table, so the cost grows with n.
void BM_NewDistinctFonts(benchmark::State& st) {
  if (!StartFonts()) return st.SkipWithError("no font table");
  const int32 n = int32(st.range(0));
  std::vector<int32> made(size_t(n), -1);
  for (auto _ : st) {
    for (int32 i = 0; i < n; ++i) made[size_t(i)] = TNewFont(kFace, 6 + i, 0, 0);
    for (int32 i = n - 1; i >= 0; --i) TDisposeFont(made[size_t(i)]);
  }
  st.SetComplexityN(n);
}
BENCHMARK(BM_NewDistinctFonts)->RangeMultiplier(4)->Range(16, 1024)->Complexity(benchmark::oN);

// A stored font table of n entries naming distinct fonts: it makes at most
// its share of fonts, so past that share a larger table costs its reading
// only.
void BM_StoredTableOfDistinctFonts(benchmark::State& st) {
  if (!StartFonts()) return st.SkipWithError("no font table");
  const int32 n = int32(st.range(0));
  std::vector<panelwriter::FontEntry> entries;
  for (int32 i = 0; i < n; ++i) entries.push_back({"DejaVu Sans Condensed", int16(6 + i), 0, 0});
  const rsrcw::Bytes bytes = panelwriter::FontTableRsrc(entries, 0, true);
  UHandle table = AZNewHandle(int32(bytes.size()));
  std::memcpy(*table, bytes.data(), bytes.size());
  int32 file = 1;
  for (auto _ : st) {
    benchmark::DoNotOptimize(TReadFontTable(++file, table, nullptr, 0));
    TReleaseFontReferences();
  }
  AZDisposeHandle(table);
  st.SetComplexityN(n);
}
BENCHMARK(BM_StoredTableOfDistinctFonts)->RangeMultiplier(4)->Range(16, 4096);

}  // namespace
