// The font record behind a font object, shared by the text calls of this
// folder, and the glyph cache.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/qx_drawobj_internal.h"
#include "platform/qx_font.h"

namespace qxfont {

struct FaceFile;

// One 1-bit glyph image: rows of pitch bytes, high bit leftmost; (left, top)
// is the top-left pixel's offset from the pen position on the baseline
// (top counts upwards).
struct Glyph {
  int32_t left = 0, top = 0, width = 0, rows = 0, pitch = 0;
  std::vector<uint8_t> bits;
};

// Mutex order: a font's mutex before the FreeType library mutex (taken by
// face creation and deletion only).
struct FontImpl {
  ~FontImpl();
  PlatFontDesc desc{};  // as asked (clamped), face = resolved family name
  int32_t family = 0, file = 0;
  int32_t ascent = 0, descent = 0, aveWidth = 0, weight = 400;
  int32_t emV26 = 0, emH26 = 0;  // em sizes in 26.6 pixels
  // Rows of the underline and strike-out: top row offset from the baseline
  // (downwards positive) and thickness.
  int32_t underTop = 0, underThick = 1, strikeTop = 0, strikeThick = 1;
  int32_t advance[256] = {};
  bool drawable = false;  // false: a stock font without faces

  // The glyph of a byte, rendered on first use and kept while the font
  // lives; null when it has no pixels.  Glyphs too large to keep are
  // rendered into scratch.  Guarded by mx.
  const Glyph* GlyphOf(uint8_t byte, Glyph* scratch);

  std::mutex mx;
  std::shared_ptr<FaceFile> face;
  void* ft = nullptr;  // FT_Face of this font's size
  std::unique_ptr<Glyph> glyphs[256];
  bool tried[256] = {};
  size_t cachedBytes = 0;
};

// The font record of a font object (null for other objects).
std::shared_ptr<FontImpl> ImplOf(const std::shared_ptr<qxdraw::Object>& obj);

// Makes a stock font: kPlatStockFont (variable pitch) or kPlatStockFont2
// (system).
std::shared_ptr<qxdraw::Object> MakeStockFont(int32_t which);

void MetricsOf(const FontImpl& f, PlatTextMetrics* tm);
// Sum of the advances of n bytes plus n x extra, clamped to int32.
int32_t Extent(const FontImpl& f, const uint8_t* bytes, int32_t n, int32_t extra);

// Test tooling: a font of the face file given as bytes (whatever file the
// request would choose), or null with the error.
std::shared_ptr<FontImpl> FontFromBytes(std::vector<uint8_t> bytes, const PlatFontDesc& desc, int32_t* error);
// Test tooling: reads the faces again from dir (null: QX_FONT_DIR or the
// default folder).  Fonts made before keep their faces.
void ReloadFaces(const char* dir);
// "2.12.1": the FreeType library's version; "2.37": the version of a face
// file's header (empty when the face does not load).
std::string FreeTypeVersion();
std::string FaceVersion(int32_t file);

}  // namespace qxfont
