// Font requests come from configuration keys and stored font tables: any
// name bytes, sizes and weights make a font or fail cleanly, and any text
// measures and draws.  Invariants: the face read back is one of the five
// families and the one the name resolves to; sizes are clamped; the height
// is ascent + descent; the extent is the sum of the single-byte advances
// plus n x extra; drawing with the clip option changes no pixel outside the
// rectangle.
//
// Input: u8 name length, the name, i16 height, i16 width, i16 weight, u8
// flags (italic, underline, strike-out, opaque), i8 extra, i8 x, i8 y, then
// the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/qx_dc.h"
#include "platform/qx_draw.h"
#include "platform/qx_font.h"
#include "platform/qx_surface.h"

namespace {

int16_t I16(const uint8_t* p) { return int16_t(uint16_t(p[0] | p[1] << 8)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t nameLen = data[0];
  if (size < 1 + nameLen + 10) return 0;
  // The name in a buffer of exactly its length.
  std::vector<char> name(data + 1, data + 1 + nameLen);
  const uint8_t* p = data + 1 + nameLen;
  int32_t family = PlatResolveFamily(name.data(), int32_t(nameLen));
  if (family < 0 || family >= kPlatFamilyCount) std::abort();

  PlatFontDesc d{};
  PlatSetFaceName(&d, name.data(), int32_t(nameLen));
  if (std::strlen(d.face) > 31) std::abort();
  d.height = I16(p) * 3;
  d.width = I16(p + 2) / 4;
  d.weight = I16(p + 4);
  d.italic = p[6] & 1;
  d.underline = p[6] & 2;
  d.strikeOut = p[6] & 4;
  bool opaque = p[6] & 8;
  int32_t extra = int8_t(p[7]), x = int8_t(p[8]), y = int8_t(p[9]);
  const char* text = reinterpret_cast<const char*>(p + 10);
  int32_t n = int32_t(size - (1 + nameLen + 10));
  if (n > 200) n = 200;

  PlatObj font = PlatCreateFont(d);
  if (!font) std::abort();  // the faces are installed
  PlatFontDesc back{};
  PlatTextMetrics tm{};
  if (!PlatGetFontDesc(font, &back) || !PlatGetFontMetrics(font, &tm)) std::abort();
  if (std::strcmp(back.face, PlatFamilyName(PlatResolveFamily(d.face, kPlatFaceNameSize))) != 0) std::abort();
  if (back.height < -2048 || back.height > 2048 || back.height == 0 || back.width < 0 || back.width > 2048)
    std::abort();
  if (tm.height != tm.ascent + tm.descent || tm.ascent < 0 || tm.descent < 0 || tm.charSet != 0) std::abort();
  if (back.height > 0 && tm.height != back.height) std::abort();

  PlatObj dc = PlatCreateMemoryDc();
  PlatObj bitmap = PlatCreateBitmap(48, 24, 32, nullptr, 0);
  PlatSelectObject(dc, bitmap);
  PlatSelectObject(dc, font);
  PlatSetTextCharacterExtra(dc, extra);
  PlatSetBkMode(dc, opaque ? kPlatBkOpaque : kPlatBkTransparent);
  int64_t sum = int64_t(n) * extra;
  for (int32_t i = 0; i < n; ++i) sum += PlatGetCharAdvance(font, uint8_t(text[i]));
  int32_t w = -1, h = -1;
  if (!PlatGetTextExtent(dc, text, n, &w, &h) || w != sum || h != tm.height) std::abort();

  PlatSurface* s = PlatBitmapSurface(bitmap);
  PlatSurfaceClear(s, 0x808080);
  const PlatRect clip = {8, 4, 40, 20};
  if (!PlatTextOut(dc, x, y, kPlatTextClip, &clip, text, n)) std::abort();
  for (int32_t yy = 0; yy < 24; ++yy)
    for (int32_t xx = 0; xx < 48; ++xx) {
      bool inside = xx >= clip.left && xx < clip.right && yy >= clip.top && yy < clip.bottom;
      if (!inside && (PlatSurfaceGetPixel(s, xx, yy) & 0xFFFFFF) != 0x808080) std::abort();
    }
  if (PlatTextOut(dc, x, y, 0, nullptr, text, -1)) std::abort();

  PlatSelectObject(dc, PlatGetStockObject(kPlatStockFont));
  PlatDeleteDc(dc);
  PlatDeleteObject(bitmap);
  PlatDeleteObject(font);
  return 0;
}
