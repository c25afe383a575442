// Drawing text: clipping, transparent and opaque backgrounds, underline and
// strike-out, character extra, mono surfaces, and a golden image of the
// sample text in each family.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "draw_support.h"
#include "platform/qx_font.h"
#include "platform/qx_font_internal.h"
#include "platform/qx_png.h"

namespace {

constexpr uint32_t kRed = 0x0000FF, kBlue = 0xFF0000, kWhite = 0xFFFFFF;  // 0x00BBGGRR

PlatObj MakeFont(const char* face, int32_t height, int32_t weight = 400, bool underline = false,
                 bool strikeOut = false) {
  PlatFontDesc d{};
  d.height = height;
  d.weight = weight;
  d.underline = underline;
  d.strikeOut = strikeOut;
  PlatSetFaceName(&d, face, int32_t(std::strlen(face)));
  return PlatCreateFont(d);
}

// Draws the text into a fresh canvas with the font and returns its mask.
std::string Drawn(PlatObj font, int32_t w, int32_t h, int32_t x, int32_t y, const char* text,
                  int32_t extra = 0) {
  Canvas c(w, h);
  PlatSelectObject(c.dc, font);
  PlatSetBkMode(c.dc, kPlatBkTransparent);
  PlatSetTextCharacterExtra(c.dc, extra);
  EXPECT_TRUE(PlatTextOut(c.dc, x, y, 0, nullptr, text, int32_t(std::strlen(text))));
  PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockFont));
  return c.Mask();
}

// The mask with everything outside [l, r) x [t, b) cleared.
std::string Within(const std::string& mask, int32_t l, int32_t t, int32_t r, int32_t b) {
  std::string out = mask;
  int32_t x = 0, y = 0;
  for (char& ch : out) {
    if (ch == '\n') {
      ++y;
      x = 0;
      continue;
    }
    if (x < l || x >= r || y < t || y >= b) ch = '.';
    ++x;
  }
  return out;
}

std::string Overlay(const std::string& a, const std::string& b) {
  std::string out = a;
  for (size_t i = 0; i < out.size(); ++i)
    if (b[i] == '#') out[i] = '#';
  return out;
}

}  // namespace

TEST(PlatformText, HiIsDrawnAtItsCellAndClipped) {
  PlatObj font = MakeFont("DejaVu Sans Condensed", 13);
  // "Hi" with its cell's top-left at (1, 1): the baseline is row 11.
  EXPECT_EQ(Drawn(font, 12, 14, 1, 1, "Hi"),
            Rows({"............",
                  "............",
                  "............",
                  "..#...#...#.",
                  "..#...#.....",
                  "..#...#...#.",
                  "..#####...#.",
                  "..#...#...#.",
                  "..#...#...#.",
                  "..#...#...#.",
                  "..#...#...#.",
                  "............",
                  "............",
                  "............"}));

  const std::string full = Drawn(font, 40, 32, 10, 10, "Hi");
  struct Case {
    const char* what;
    PlatRect rect;
    bool useClip;
    PlatRect dcClip;  // empty: none
  } cases[] = {
      {"rectangle", {10, 10, 14, 30}, true, {0, 0, 0, 0}},
      {"no option", {10, 10, 14, 30}, false, {0, 0, 0, 0}},
      {"context clip", {0, 0, 40, 32}, false, {12, 0, 40, 16}},
      {"both", {10, 10, 14, 30}, true, {12, 0, 40, 16}},
      {"empty rectangle", {20, 20, 20, 25}, true, {0, 0, 0, 0}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    for (int32_t mode : {int32_t(kPlatBkTransparent), int32_t(kPlatBkOpaque)}) {
      Canvas c(40, 32);
      PlatSelectObject(c.dc, font);
      PlatSetTextColor(c.dc, kRed);
      PlatSetBkColor(c.dc, kBlue);
      PlatSetBkMode(c.dc, mode);
      PlatSetRop2(c.dc, kPlatRop2XorPen);  // text ignores it
      int32_t l = 0, t = 0, r = 40, b = 32;
      if (k.dcClip.right > 0) {
        PlatObj rgn = PlatCreateRectRgn(k.dcClip.left, k.dcClip.top, k.dcClip.right, k.dcClip.bottom);
        PlatSelectClipRgn(c.dc, rgn);
        PlatDeleteObject(rgn);
        l = k.dcClip.left;
        t = k.dcClip.top;
        r = k.dcClip.right;
        b = k.dcClip.bottom;
      }
      if (k.useClip) {
        l = std::max(l, k.rect.left);
        t = std::max(t, k.rect.top);
        r = std::min(r, k.rect.right);
        b = std::min(b, k.rect.bottom);
      }
      ASSERT_TRUE(PlatTextOut(c.dc, 10, 10, k.useClip ? uint32_t(kPlatTextClip) : 0u, &k.rect, "Hi", 2));
      if (mode == kPlatBkTransparent) {
        EXPECT_EQ(c.Mask(), Within(full, l, t, r, b));
        for (int32_t y = 0; y < 32; ++y)
          for (int32_t x = 0; x < 40; ++x)
            if (c.At(x, y) != c.Before(x, y)) {
              ASSERT_EQ(c.At(x, y), Canvas::PixelOf(kRed)) << x << "," << y;
            }
      } else {
        int32_t width = 0, height = 0;
        ASSERT_TRUE(PlatGetTextExtent(c.dc, "Hi", 2, &width, &height));
        // The cell run, cut to the clip, is all changed: the text's pixels
        // red, the rest blue.
        std::string cell(c.Mask().size(), '#');
        for (size_t i = 40; i < cell.size(); i += 41) cell[i] = '\n';
        EXPECT_EQ(c.Mask(), Within(Within(cell, 10, 10, 10 + width, 10 + height), l, t, r, b));
        std::string text = Within(full, l, t, r, b);
        for (int32_t y = 0; y < 32; ++y)
          for (int32_t x = 0; x < 40; ++x)
            if (c.At(x, y) != c.Before(x, y)) {
              ASSERT_EQ(c.At(x, y), Canvas::PixelOf(text[size_t(y * 41 + x)] == '#' ? kRed : kBlue));
            }
      }
    }
  }
  PlatDeleteObject(font);
}

TEST(PlatformText, UnderlineStrikeOutAndExtraAreRunsAndShifts) {
  for (const char* face : {"DejaVu Sans", "DejaVu Serif Condensed", "DejaVu Sans Mono"}) {
    SCOPED_TRACE(face);
    PlatObj plain = MakeFont(face, 16), under = MakeFont(face, 16, 400, true),
            strike = MakeFont(face, 16, 400, false, true);
    Canvas probe(4, 4);
    PlatSelectObject(probe.dc, plain);
    int32_t width = 0;
    ASSERT_TRUE(PlatGetTextExtent(probe.dc, "Hxi", 3, &width, nullptr));
    PlatSelectObject(probe.dc, PlatGetStockObject(kPlatStockFont));
    auto impl = qxfont::ImplOf(qxdraw::Lookup(under, kPlatObjFont));
    int32_t baseline = 2 + impl->ascent;
    struct Case {
      PlatObj font;
      int32_t top, thick;
    } cases[] = {{under, baseline + impl->underTop, impl->underThick},
                 {strike, baseline + impl->strikeTop, impl->strikeThick}};
    const std::string base = Drawn(plain, 50, 24, 3, 2, "Hxi");
    for (const Case& k : cases) {
      ASSERT_GE(k.thick, 1);
      std::string run(base.size(), '#');
      for (size_t i = 50; i < run.size(); i += 51) run[i] = '\n';
      EXPECT_EQ(Drawn(k.font, 50, 24, 3, 2, "Hxi"), Overlay(base, Within(run, 3, k.top, 3 + width, k.top + k.thick)));
    }
    // The underline lies below the baseline, the strike-out above it.
    EXPECT_GE(impl->underTop, 0);
    EXPECT_LT(impl->strikeTop, 0);
    // Character extra moves each later character by that much.
    int32_t adv = PlatGetCharAdvance(plain, 'i');
    EXPECT_EQ(Drawn(plain, 50, 24, 3, 2, "ii", 5),
              Overlay(Drawn(plain, 50, 24, 3, 2, "i"), Drawn(plain, 50, 24, 3 + adv + 5, 2, "i")));
    PlatDeleteObject(plain);
    PlatDeleteObject(under);
    PlatDeleteObject(strike);
  }
}

TEST(PlatformText, MonoSurfacesTakeTheSamePixels) {
  PlatObj font = MakeFont("DejaVu Serif", 13, 700);
  Canvas rgb(60, 16), mono(60, 16, kWhite, 1);
  for (Canvas* c : {&rgb, &mono}) {
    PlatSelectObject(c->dc, font);
    PlatSetBkMode(c->dc, kPlatBkTransparent);
    ASSERT_TRUE(PlatTextOut(c->dc, 1, 1, 0, nullptr, "Mono Wq", 7));
    PlatSelectObject(c->dc, PlatGetStockObject(kPlatStockFont));
  }
  EXPECT_EQ(mono.Mask(), rgb.Mask());
  EXPECT_NE(mono.Mask().find('#'), std::string::npos);
  PlatDeleteObject(font);
}

TEST(PlatformText, SampleGoldenInEachFamily) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(__FILE__).parent_path() / "goldens";
  const fs::path png = dir / "text_sample.png", versions = dir / "text_sample.versions";
  const std::string have =
      "freetype " + qxfont::FreeTypeVersion() + "\ndejavu " + qxfont::FaceVersion(0) + "\n";
  const char* sample = "The quick brown dog jumps over the lazy fox.";
  const int32_t kW = 440, kLine = 20;
  Canvas c(kW, kLine * 15);
  PlatSetBkMode(c.dc, kPlatBkTransparent);
  int32_t y = 2;
  for (int32_t f = 0; f < kPlatFamilyCount; ++f)
    for (int32_t h : {11, 13, 16}) {
      PlatObj font = MakeFont(PlatFamilyName(f), h);
      PlatSelectObject(c.dc, font);
      ASSERT_TRUE(PlatTextOut(c.dc, 2, y, 0, nullptr, sample, int32_t(std::strlen(sample))));
      PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockFont));
      PlatDeleteObject(font);
      y += kLine;
    }
  const char* update = std::getenv("QX_UPDATE_GOLDENS");
  if (update && std::string(update) == "1") {
    fs::create_directories(dir);
    ASSERT_EQ(PlatPngWriteFile(c.surface, png.string().c_str()), 0);
    std::ofstream(versions) << have;
    GTEST_SKIP() << "text goldens rewritten";
  }
  std::stringstream recorded;
  recorded << std::ifstream(versions).rdbuf();
  ASSERT_EQ(recorded.str(), have) << "regenerate text goldens (QX_UPDATE_GOLDENS=1)";
  PlatSurface* golden = PlatPngReadFile(png.string().c_str());
  ASSERT_NE(golden, nullptr) << "regenerate text goldens: " << png;
  bool same = PlatSurfaceWidth(golden) == kW && PlatSurfaceHeight(golden) == kLine * 15;
  int32_t differing = 0;
  PlatSurface* diff = PlatSurfaceCreate(kW, kLine * 15, kPlatRgb32);
  PlatSurfaceClear(diff, 0xFFFFFF);
  for (int32_t yy = 0; same && yy < kLine * 15; ++yy)
    for (int32_t x = 0; x < kW; ++x)
      if ((PlatSurfaceGetPixel(golden, x, yy) & 0xFFFFFF) != c.At(x, yy)) {
        ++differing;
        PlatSurfaceSetPixel(diff, x, yy, 0xFF0000);
      }
  if (!same || differing) {
    const fs::path out = fs::temp_directory_path();
    PlatPngWriteFile(c.surface, (out / "text_sample_actual.png").string().c_str());
    PlatPngWriteFile(diff, (out / "text_sample_diff.png").string().c_str());
    ADD_FAILURE() << "regenerate text goldens: " << differing << " pixels differ; actual and diff in " << out;
  }
  PlatSurfaceDestroy(diff);
  PlatSurfaceDestroy(golden);
}
