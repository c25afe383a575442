// Drawing text: clipping, transparent and opaque backgrounds, underline and
// strike-out, character extra, mono surfaces, and a golden image of the
// sample text in each family.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "draw_support.h"
#include "golden_image.h"
#include "platform/qx_font_internal.h"
#include "platform/qx_png.h"

namespace {

constexpr uint32_t kRed = 0x0000FF, kBlue = 0xFF0000;  // 0x00BBGGRR

PlatObj MakeFont(const char* face, int32_t height, bool underline = false, bool strikeOut = false) {
  PlatFontDesc d{};
  d.height = height;
  d.underline = underline;
  d.strikeOut = strikeOut;
  PlatSetFaceName(&d, face, int32_t(std::strlen(face)));
  return PlatCreateFont(d);
}

// The mask of a transparent text drawn into a fresh w x h canvas.
std::string Drawn(PlatObj font, int32_t w, int32_t h, int32_t x, int32_t y, const char* text, int32_t extra = 0,
                  int32_t bpp = 32) {
  Canvas c(w, h, 0xFFFFFF, bpp);
  PlatSelectObject(c.dc, font);
  PlatSetBkMode(c.dc, kPlatBkTransparent);
  PlatSetTextCharacterExtra(c.dc, extra);
  EXPECT_TRUE(PlatTextOut(c.dc, x, y, 0, nullptr, text, int32_t(std::strlen(text))));
  PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockFont));
  return c.Mask();
}

// A w x h mask: "#" inside [l, r) x [t, b) where `in` has "#" (all when
// empty), "." elsewhere.
std::string Within(int32_t w, int32_t h, int32_t l, int32_t t, int32_t r, int32_t b, const std::string& in = "") {
  std::string out;
  for (int32_t y = 0; y < h; ++y) {
    if (y) out += '\n';
    for (int32_t x = 0; x < w; ++x)
      out += x >= l && x < r && y >= t && y < b && (in.empty() || in[size_t(y * (w + 1) + x)] == '#') ? '#' : '.';
  }
  return out;
}

std::string Overlay(std::string a, const std::string& b) {
  for (size_t i = 0; i < a.size(); ++i) a[i] = b[i] == '#' ? '#' : a[i];
  return a;
}

}  // namespace

TEST(PlatformText, HiIsDrawnAtItsCellAndClipped) {
  PlatObj font = MakeFont("DejaVu Sans Condensed", 13);
  // "Hi" with its cell's top-left at (1, 1): the baseline is row 11.
  EXPECT_EQ(Drawn(font, 12, 13, 1, 1, "Hi"),
            Rows({"............", "............", "............", "..#...#...#.", "..#...#.....",
                  "..#...#...#.", "..#####...#.", "..#...#...#.", "..#...#...#.", "..#...#...#.",
                  "..#...#...#.", "............", "............"}));
  EXPECT_EQ(Drawn(font, 12, 13, 1, 1, "Hi", 0, 1), Drawn(font, 12, 13, 1, 1, "Hi"));  // Mono1 alike

  const std::string full = Drawn(font, 40, 32, 10, 10, "Hi");
  struct Case {
    PlatRect rect;
    bool option;
    PlatRect dcClip;  // right 0: none
  } cases[] = {{{10, 10, 14, 30}, true, {0, 0, 0, 0}}, {{10, 10, 14, 30}, false, {0, 0, 0, 0}},
               {{0, 0, 40, 32}, false, {12, 0, 40, 16}}, {{10, 10, 14, 30}, true, {12, 0, 40, 16}},
               {{20, 20, 20, 25}, true, {0, 0, 0, 0}}};
  for (const Case& k : cases) {
    for (int32_t mode : {int32_t(kPlatBkTransparent), int32_t(kPlatBkOpaque)}) {
      SCOPED_TRACE(std::to_string(k.rect.left) + " " + std::to_string(k.option) + " " + std::to_string(mode));
      Canvas c(40, 32);
      PlatSelectObject(c.dc, font);
      PlatSetTextColor(c.dc, kRed);
      PlatSetBkColor(c.dc, kBlue);
      PlatSetBkMode(c.dc, mode);
      PlatSetRop2(c.dc, kPlatRop2XorPen);  // text ignores it
      PlatRect clip = k.dcClip.right ? k.dcClip : PlatRect{0, 0, 40, 32};
      if (k.dcClip.right) {
        PlatObj rgn = PlatCreateRectRgn(clip.left, clip.top, clip.right, clip.bottom);
        PlatSelectClipRgn(c.dc, rgn);
        PlatDeleteObject(rgn);
      }
      if (k.option)
        clip = {std::max(clip.left, k.rect.left), std::max(clip.top, k.rect.top),
                std::min(clip.right, k.rect.right), std::min(clip.bottom, k.rect.bottom)};
      ASSERT_TRUE(PlatTextOut(c.dc, 10, 10, k.option ? uint32_t(kPlatTextClip) : 0u, &k.rect, "Hi", 2));
      int32_t width = 0, height = 0;
      ASSERT_TRUE(PlatGetTextExtent(c.dc, "Hi", 2, &width, &height));
      // Transparent: the glyph bits inside the clip; opaque: the cell run
      // inside it, the glyph bits red and the rest blue.
      const std::string text = Within(40, 32, clip.left, clip.top, clip.right, clip.bottom, full);
      EXPECT_EQ(c.Mask(), mode == kPlatBkTransparent ? text
                                                     : Within(40, 32, std::max(clip.left, 10), std::max(clip.top, 10),
                                                              std::min(clip.right, 10 + width),
                                                              std::min(clip.bottom, 10 + height)));
      for (int32_t i = 0; i < 32 * 40; ++i) {
        if (c.At(i % 40, i / 40) == c.Before(i % 40, i / 40)) continue;
        EXPECT_EQ(c.At(i % 40, i / 40), Canvas::PixelOf(text[size_t(i / 40 * 41 + i % 40)] == '#' ? kRed : kBlue));
      }
    }
  }
  PlatDeleteObject(font);
}

TEST(PlatformText, UnderlineStrikeOutAndExtraAreRunsAndShifts) {
  for (const char* face : {"DejaVu Sans", "DejaVu Serif Condensed", "DejaVu Sans Mono"}) {
    SCOPED_TRACE(face);
    PlatObj plain = MakeFont(face, 16), under = MakeFont(face, 16, true), strike = MakeFont(face, 16, false, true);
    int32_t width = PlatGetCharAdvance(plain, 'H') + PlatGetCharAdvance(plain, 'x') + PlatGetCharAdvance(plain, 'i');
    auto impl = qxfont::ImplOf(qxdraw::Lookup(under, kPlatObjFont));
    int32_t baseline = 2 + impl->ascent;
    EXPECT_GE(impl->underTop, 0);  // below the baseline
    EXPECT_LT(impl->strikeTop, 0);  // above it
    const std::string base = Drawn(plain, 50, 24, 3, 2, "Hxi");
    for (auto [font, top, thick] : {std::tuple<PlatObj, int32_t, int32_t>{under, impl->underTop, impl->underThick},
                                     {strike, impl->strikeTop, impl->strikeThick}}) {
      ASSERT_GE(thick, 1);
      EXPECT_EQ(Drawn(font, 50, 24, 3, 2, "Hxi"),
                Overlay(base, Within(50, 24, 3, baseline + top, 3 + width, baseline + top + thick)));
    }
    // Character extra moves each later character by that much.
    int32_t adv = PlatGetCharAdvance(plain, 'i');
    EXPECT_EQ(Drawn(plain, 50, 24, 3, 2, "ii", 5),
              Overlay(Drawn(plain, 50, 24, 3, 2, "i"), Drawn(plain, 50, 24, 3 + adv + 5, 2, "i")));
    for (PlatObj f : {plain, under, strike}) PlatDeleteObject(f);
  }
}

TEST(PlatformText, ConcurrentDrawingSharesOneFontsGlyphs) {
  // Both threads render the glyphs of a fresh font on first use while a
  // third makes and deletes fonts of the same face.
  PlatGetStockObject(kPlatStockFont);  // the stock set is made once, before any thread
  PlatObj font = MakeFont("DejaVu Serif", 15);
  std::string masks[2];
  std::thread churn([] {
    for (int i = 0; i < 20; ++i) PlatDeleteObject(MakeFont("DejaVu Serif", 15 + i));
  });
  std::thread a([&] { masks[0] = Drawn(font, 200, 20, 1, 1, "Concurrent glyphs, 0123456789"); });
  std::thread b([&] { masks[1] = Drawn(font, 200, 20, 1, 1, "Concurrent glyphs, 0123456789"); });
  a.join();
  b.join();
  churn.join();
  EXPECT_EQ(masks[0], masks[1]);
  EXPECT_EQ(masks[0], Drawn(font, 200, 20, 1, 1, "Concurrent glyphs, 0123456789"));
  PlatDeleteObject(font);
}

TEST(PlatformText, SampleGoldenInEachFamily) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(QX_SOURCE_DIR) / "tests" / "platform" / "goldens";
  const fs::path png = dir / "text_sample.png", versions = dir / "text_sample.versions";
  const std::string have = "freetype " + qxfont::FreeTypeVersion() + "\ndejavu " + qxfont::FaceVersion(0) + "\n";
  const char* sample = "The quick brown dog jumps over the lazy fox.";
  Canvas c(440, 300);
  PlatSetBkMode(c.dc, kPlatBkTransparent);
  for (int32_t line = 0; line < 15; ++line) {
    PlatObj font = MakeFont(PlatFamilyName(line / 3), line % 3 == 0 ? 11 : line % 3 == 1 ? 13 : 16);
    PlatSelectObject(c.dc, font);
    ASSERT_TRUE(PlatTextOut(c.dc, 2, 2 + 20 * line, 0, nullptr, sample, int32_t(std::strlen(sample))));
    PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockFont));
    PlatDeleteObject(font);
  }
  if (qxtest::UpdatingGoldens()) std::ofstream(versions) << have;
  else {
    std::stringstream recorded;
    recorded << std::ifstream(versions).rdbuf();
    ASSERT_EQ(recorded.str(), have) << "regenerate text goldens (QX_UPDATE_GOLDENS=1)";
  }
  qxtest::ExpectMatchesGolden(c.surface, png, "regenerate text goldens");
}
