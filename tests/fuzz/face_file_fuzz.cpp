// Font files are outside bytes: a face file damaged anywhere is refused or
// checked before use.  The input patches bytes of the installed DejaVu Sans
// file (so the run explores damaged real faces) and picks a size; a face
// that is accepted has metrics inside their bounds, advances below 2^17, and
// glyph images whose bits match their size.
//
// Input: i16 height, then 6-byte patches: u32 offset (modulo the file's
// size), u8 value, u8 count (bytes from the offset set to the value).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/qx_font_internal.h"

namespace {

std::vector<uint8_t> ReadAll(const char* path) {
  std::vector<uint8_t> bytes;
  if (std::FILE* f = std::fopen(path, "rb")) {
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> real = ReadAll("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
  if (real.empty() || size < 2) return 0;
  std::vector<uint8_t> bytes = real;
  for (size_t at = 2; at + 6 <= size; at += 6) {
    uint32_t offset = uint32_t(data[at] | data[at + 1] << 8 | data[at + 2] << 16 | uint32_t(data[at + 3]) << 24);
    for (size_t k = 0; k <= data[at + 5]; ++k) bytes[(offset + k) % bytes.size()] = data[at + 4];
  }
  PlatFontDesc d{};
  d.height = int16_t(uint16_t(data[0] | data[1] << 8)) % 200;
  d.weight = 400;
  int32_t error = -1;
  auto font = qxfont::FontFromBytes(std::move(bytes), d, &error);
  if (!font) {
    if (error == 0) std::abort();
    return 0;
  }
  if (error != 0 || font->ascent < 0 || font->descent < 0 || font->ascent + font->descent > 4 * 2 * 200 + 2 ||
      font->underThick < 1 || font->strikeThick < 1 || font->emV26 < 1 || font->emH26 < 1)
    std::abort();
  std::lock_guard<std::mutex> lock(font->mx);
  qxfont::Glyph scratch;
  for (int b = 0; b < 256; ++b) {
    if (font->advance[b] < 0 || font->advance[b] >= (1 << 17)) std::abort();
    const qxfont::Glyph* g = font->GlyphOf(uint8_t(b), &scratch);
    if (g && (g->width < 1 || g->rows < 1 || g->pitch * 8 < g->width ||
              g->bits.size() != size_t(g->pitch) * size_t(g->rows)))
      std::abort();
  }
  return 0;
}
