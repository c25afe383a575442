// Fonts: resolution of face names, sizes and metrics of the DejaVu faces,
// additive advances, system and stock fonts, code page 1252, and requests
// or faces that are bad.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "draw_support.h"
#include "platform/qx_codepage.h"
#include "platform/qx_file.h"
#include "platform/qx_font_internal.h"
#include "temp_folder.h"

namespace {

const char *const kSans = "DejaVu Sans", *const kSansC = "DejaVu Sans Condensed", *const kSerif = "DejaVu Serif",
           *const kSerifC = "DejaVu Serif Condensed", *const kMono = "DejaVu Sans Mono";

PlatFontDesc Desc(const char* face, int32_t height, int32_t weight = 400, bool italic = false, int32_t width = 0) {
  PlatFontDesc d{};
  d.height = height;
  d.width = width;
  d.weight = weight;
  d.italic = italic;
  PlatSetFaceName(&d, face, int32_t(std::strlen(face)));
  return d;
}

// A font deleted with the object.
struct Font {
  PlatObj h;
  explicit Font(const PlatFontDesc& d) : h(PlatCreateFont(d)) {}
  ~Font() { PlatDeleteObject(h); }
  PlatTextMetrics Metrics() const {
    PlatTextMetrics tm{};
    EXPECT_TRUE(PlatGetFontMetrics(h, &tm));
    return tm;
  }
  std::shared_ptr<qxfont::FontImpl> Impl() const { return qxfont::ImplOf(qxdraw::Lookup(h, kPlatObjFont)); }
};

std::string Resolved(const char* name, int32_t length) { return PlatFamilyName(PlatResolveFamily(name, length)); }

int32_t Extent(PlatObj dc, const std::string& s) {
  int32_t w = -1;
  EXPECT_TRUE(PlatGetTextExtent(dc, s.data(), int32_t(s.size()), &w, nullptr));
  return w;
}

}  // namespace

TEST(PlatformFont, NamesResolveThroughTheFamilyNamesAndTheMap) {
  // Each row of the font-name map as a face name, then family names in any
  // case (themselves) and unknown names (row 0).
  struct Case {
    const char* name;
    const char* face;
  } cases[] = {
      {"Helvetica", kSansC}, {"Times", kSerifC}, {"Courier", kMono}, {"N Helvetica Narrow", kSansC},
      {"Avant Garde", kSansC}, {"New Century Schlbk", kSerifC}, {"New Century Schoolbook", kSerifC},
      {"Bookman", kSerifC}, {"Palatino", kSerifC}, {"Symbol", kSansC}, {"Zapf Chancery", kSansC},
      {"Zapf Dingbats", kSansC}, {"Geneva", kSansC}, {"Chicago", kSansC}, {"Monaco", kMono},
      {"CentSchbkA", kSerifC}, {"New York", kSerifC}, {"Matrix", kMono}, {"MONACO", kMono}, {"8x13", kSansC},
      {"VT 8x13", kSansC}, {"Arial", kSansC}, {"Arial-Super", kSansC}, {"Courier New", kMono},
      {"Fixedsys", kSansC}, {"MS Sans Serif", kSansC}, {"MS Serif", kSerifC}, {"Modern", kSansC},
      {"Roman", kSerifC}, {"Small Fonts", kSansC}, {"System", kSansC}, {"Times New Roman", kSerifC},
      {"Lucida Bright", kSerifC}, {"Lucida Sans", kSansC}, {"Lucida", kSansC}, {"Lucida Sans Typriter", kMono},
      {"Lucida Typewriter", kMono}, {"dejavu sans", kSans}, {"DEJAVU SERIF", kSerif}, {"DejaVu Sans Mono", kMono},
      {"dejavu serif condensed", kSerifC}, {"DejaVu sans Condensed", kSansC}, {"DejaVuSans", kSansC},
      {"Comic", kSansC}, {"", kSansC}, {"\xE9t\xE9", kSansC},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Resolved(c.name, int32_t(std::strlen(c.name))), c.face) << c.name;
    Font f(Desc(c.name, 13));
    PlatFontDesc back{};
    ASSERT_TRUE(PlatGetFontDesc(f.h, &back)) << c.name;
    EXPECT_STREQ(back.face, c.face);  // the table's name, not FreeType's family name
  }
  EXPECT_EQ(PlatFontMapRow("Times New Roman", 15), 31);
  EXPECT_EQ(PlatFontMapRow("monaco", 6), 14);
  EXPECT_STREQ(PlatFontMapFamily(26), "Times-Bold");
  EXPECT_EQ(PlatFontMapFamily(37), nullptr);

  // Enumeration: the five families; asked by name, only a family name.
  std::vector<std::string> names;
  auto collect = [](const PlatFontDesc& d, void* data) {
    static_cast<std::vector<std::string>*>(data)->push_back(d.face);
    return true;
  };
  EXPECT_EQ(PlatEnumFonts(nullptr, 0, collect, &names), 5);
  EXPECT_EQ(names, (std::vector<std::string>{kSans, kSansC, kSerif, kSerifC, kMono}));
  for (auto [face, calls] : {std::pair<const char*, int>{"dejavu sans mono", 1}, {"Arial", 0}, {"DejaVu", 0}})
    EXPECT_EQ(PlatEnumFonts(face, int32_t(std::strlen(face)), collect, &names), calls) << face;
  EXPECT_EQ(names.back(), kMono);
  EXPECT_EQ(PlatEnumFonts(nullptr, 0, [](const PlatFontDesc&, void*) { return false; }, nullptr), 1);
}

TEST(PlatformFont, SizesWeightsAndWidthsFollowTheFace) {
  // DejaVu: A 1901, D 483, U 2048 in every face.  file: family x 4 + bold
  // + 2 italic.
  struct Case {
    const char* face;
    int32_t height, weight;
    bool italic;
    int32_t ascent, descent, file, reportedWeight;
    uint8_t pitchAndFamily;
  } cases[] = {
      {kSansC, 13, 0, false, 10, 3, 4, 400, 0x27},    {kSansC, -11, 599, false, 11, 3, 4, 400, 0x27},
      {kSansC, 0, 600, false, 10, 3, 5, 700, 0x27},   {kSans, 16, 700, true, 13, 3, 3, 700, 0x27},
      {kSerif, 20, 400, true, 16, 4, 10, 400, 0x17},  {kMono, -13, 900, false, 13, 4, 17, 700, 0x36},
      {kSerifC, -16, 400, true, 15, 4, 14, 400, 0x17}, {kSans, 1, 400, false, 1, 0, 0, 400, 0x27},
      {kSans, -1, 400, false, 1, 1, 0, 400, 0x27},    {kSans, 2048, 400, false, 1633, 415, 0, 400, 0x27},
      {kSans, -2048, 400, false, 1901, 483, 0, 400, 0x27},   {kSans, 1192, 400, false, 951, 241, 0, 400, 0x27},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.face) + " " + std::to_string(c.height) + " " + std::to_string(c.weight));
    Font f(Desc(c.face, c.height, c.weight, c.italic));
    ASSERT_NE(f.h, 0u);
    PlatTextMetrics tm = f.Metrics();
    EXPECT_EQ(tm.ascent, c.ascent);
    EXPECT_EQ(tm.descent, c.descent);
    EXPECT_EQ(tm.height, c.ascent + c.descent);
    EXPECT_EQ(tm.externalLeading + tm.charSet, 0);
    EXPECT_EQ(tm.weight, c.reportedWeight);
    EXPECT_EQ(tm.italic, c.italic);
    EXPECT_EQ(tm.pitchAndFamily, c.pitchAndFamily);
    EXPECT_EQ(f.Impl()->file, c.file);
    int64_t h = c.height == 0 ? 13 : c.height;  // em: -h itself, +h hU/(A+D) in 26.6
    EXPECT_EQ(f.Impl()->emV26, h < 0 ? -h * 64 : h * 2048 * 64 / 2384);
  }
  // Half (or twice) the natural average width scales the average and the
  // advances of a 20-character text.
  const std::string text = "The quick brown dog.";
  for (const char* face : {kSans, kSerifC, kMono}) {
    Font natural(Desc(face, 13));
    int32_t avg = natural.Metrics().aveCharWidth;
    for (int32_t width : {avg / 2, avg * 2}) {
      Font scaled(Desc(face, 13, 400, false, width));
      EXPECT_NEAR(scaled.Metrics().aveCharWidth, width, 1) << face;
      EXPECT_EQ(scaled.Metrics().height, natural.Metrics().height) << face;
      int32_t a = 0, b = 0;
      for (char ch : text) {
        a += PlatGetCharAdvance(natural.h, uint8_t(ch));
        b += PlatGetCharAdvance(scaled.h, uint8_t(ch));
      }
      EXPECT_NEAR(double(b), double(a) * width / avg, double(text.size())) << face << " " << width;
    }
  }
}

TEST(PlatformFont, ExtentsAreSumsOfSingleByteAdvances) {
  Canvas mem(8, 8);
  PlatObj screen = PlatCreateScreenDc();
  std::mt19937 rng(57);
  for (int32_t family = 0; family < kPlatFamilyCount; ++family) {
    for (int32_t height : {11, 13, -16}) {
      Font f(Desc(PlatFamilyName(family), height));
      PlatSelectObject(mem.dc, f.h);
      PlatSelectObject(screen, f.h);
      for (int32_t extra : {0, 3, -1}) {
        PlatSetTextCharacterExtra(mem.dc, extra);
        for (int trial = 0; trial < 20; ++trial) {
          std::string s(rng() % 40, '\0');
          int32_t singles = 0;
          for (char& c : s) {
            c = char(rng());
            singles += Extent(mem.dc, std::string(1, c));
          }
          EXPECT_EQ(Extent(mem.dc, s), singles);
          EXPECT_EQ(singles, Extent(screen, s) + extra * int32_t(s.size()));
        }
      }
      PlatSetTextCharacterExtra(mem.dc, 0);
      for (const char* pair : {"Wi", "AV", "To"})  // never kerned
        EXPECT_EQ(Extent(mem.dc, pair), Extent(mem.dc, std::string(1, pair[0])) + Extent(mem.dc, pair + 1));
      for (int b = 0; b < 256 && height == 13; ++b) EXPECT_LT(PlatGetCharAdvance(f.h, uint8_t(b)), 256);
      int32_t hgt = 0;
      ASSERT_TRUE(PlatGetTextExtent(mem.dc, "x", 1, nullptr, &hgt));
      EXPECT_EQ(hgt, f.Metrics().height);
    }
  }
  PlatSelectObject(mem.dc, PlatGetStockObject(kPlatStockFont));
  PlatDeleteDc(screen);
  // Control bytes and the unassigned ones (NUL too) measure as glyph 0.
  Font f(Desc(kSansC, 100));
  for (uint8_t b : {0x01, 0x1F, 0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D})
    EXPECT_EQ(PlatGetCharAdvance(f.h, b), PlatGetCharAdvance(f.h, 0x00)) << int(b);
  EXPECT_NE(PlatGetCharAdvance(f.h, 0x80), PlatGetCharAdvance(f.h, 0x00));  // the euro sign
}

TEST(PlatformFont, SystemAndStockFontsHaveTheirDescribedFaces) {
  PlatFontDesc icon{}, menu{}, stockVar{}, stockSys{};
  PlatGetIconTitleFont(&icon);
  PlatGetMenuFont(&menu);
  ASSERT_TRUE(PlatGetFontDesc(PlatGetStockObject(kPlatStockFont), &stockVar));
  ASSERT_TRUE(PlatGetFontDesc(PlatGetStockObject(kPlatStockFont2), &stockSys));
  struct Case {
    const PlatFontDesc& desc;
    int32_t height, weight, cell, reportedWeight;
  } cases[] = {{icon, -11, 400, 14, 400}, {menu, -11, 400, 14, 400}, {stockVar, 13, 400, 13, 400},
               {stockSys, 16, 700, 16, 700}};
  for (const Case& c : cases) {
    EXPECT_STREQ(c.desc.face, kSansC);
    EXPECT_EQ(c.desc.height, c.height);
    EXPECT_EQ(c.desc.weight, c.weight);
    EXPECT_FALSE(c.desc.charSet || c.desc.italic || c.desc.underline || c.desc.strikeOut);
    Font f(c.desc);
    EXPECT_EQ(f.Metrics().height, c.cell);
    EXPECT_EQ(f.Metrics().weight, c.reportedWeight);
  }
  // A fresh context has the variable-pitch font; its face reads back.
  Canvas c(4, 4);
  char face[40];
  EXPECT_EQ(PlatGetTextFace(c.dc, face, sizeof face), 21);
  EXPECT_STREQ(face, kSansC);
  EXPECT_EQ(PlatGetTextFace(c.dc, nullptr, 0), 22);
  EXPECT_EQ(PlatGetTextFace(c.dc, face, 7), 6);
  EXPECT_STREQ(face, "DejaVu");
  PlatTextMetrics tm{};
  ASSERT_TRUE(PlatGetTextMetrics(c.dc, &tm));
  EXPECT_EQ(tm.height, 13);
}

TEST(PlatformFont, CodePage1252RoundTripsEveryByte) {
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(PlatUnicodeToCp1252(PlatCp1252ToUnicode(uint8_t(b))), b);
    bool control = b < 0x20 || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
    EXPECT_EQ(PlatCp1252IsControl(uint8_t(b)), control) << b;
  }
  for (auto [byte, code] : {std::pair<uint8_t, uint32_t>{0x41, 0x41}, {0x80, 0x20AC}, {0x85, 0x2026},
                            {0x8A, 0x160}, {0x99, 0x2122}, {0x9F, 0x178}, {0xA0, 0xA0}, {0xFF, 0xFF}})
    EXPECT_EQ(PlatCp1252ToUnicode(byte), code) << int(byte);
  for (uint32_t missing : {0x100u, 0x151u, 0x2028u, 0x10000u, 0xFFFFFFFFu}) EXPECT_EQ(PlatUnicodeToCp1252(missing), -1);
  const char text[] = "ab";
  EXPECT_EQ(PlatCharNext(text), text + 1);
  EXPECT_EQ(PlatCharNext(text + 2), text + 2);  // at the NUL
  EXPECT_EQ(PlatCharPrev(text, text + 2), text + 1);
  EXPECT_EQ(PlatCharPrev(text, text), text);
}

TEST(PlatformFont, BadRequestsAndTextsFailOrClampCleanly) {
  // Names in buffers of exactly their length (the sanitizer sees any read
  // past them): cut at the first NUL and at 31 bytes.
  struct Name {
    std::string bytes;
    const char* face;
  } names[] = {{std::string(), kSansC},
               {std::string(300, 'x'), kSansC},
               {"Courier New" + std::string(289, ' '), kMono},
               {std::string("Courier\0New", 11), kMono},
               {std::string("\xFF\xFE\x80 times", 10), kSansC}};
  for (const Name& n : names) {
    std::vector<char> exact(n.bytes.begin(), n.bytes.end());
    EXPECT_EQ(Resolved(exact.data(), int32_t(exact.size())), n.face) << exact.size();
    EXPECT_EQ(Resolved(exact.data(), -5), kSansC);
  }
  EXPECT_EQ(Resolved(nullptr, 10), kSansC);
  // Sizes beyond the limits are clamped.
  struct Size {
    int32_t height, width, heightBack, widthBack;
  } sizes[] = {{5000, 0, 2048, 0}, {INT32_MIN, 0, -2048, 0}, {13, 9000, 13, 2048}, {13, -4, 13, 0}};
  for (const Size& s : sizes) {
    Font f(Desc(kSans, s.height, 400, false, s.width));
    PlatFontDesc back{};
    ASSERT_TRUE(PlatGetFontDesc(f.h, &back)) << s.height;
    EXPECT_EQ(back.height, s.heightBack);
    EXPECT_EQ(back.width, s.widthBack);
  }
  // Every byte measures and draws; negative lengths and bad arguments draw
  // nothing; far-off positions and huge extras stay inside int32.
  Canvas c(60, 20);
  std::string all(256, '\0');
  for (int b = 0; b < 256; ++b) all[size_t(b)] = char(b);
  EXPECT_TRUE(PlatTextOut(c.dc, -500, 2, 0, nullptr, all.data(), 256));
  EXPECT_FALSE(c.Unchanged());
  c.Snapshot();
  int32_t w = 7;
  EXPECT_FALSE(PlatGetTextExtent(c.dc, "ab", -1, &w, nullptr));
  EXPECT_EQ(PlatLastError(), kPlatErrInvalidParam);
  EXPECT_FALSE(PlatTextOut(c.dc, 0, 0, 0, nullptr, "ab", -2));
  EXPECT_FALSE(PlatTextOut(c.dc, 0, 0, 0, nullptr, nullptr, 3));
  EXPECT_FALSE(PlatTextOut(c.dc, 0, 0, kPlatTextClip, nullptr, "ab", 2));
  EXPECT_FALSE(PlatTextOut(c.dc, 0, 0, 1, nullptr, "ab", 2));
  PlatSetTextCharacterExtra(c.dc, INT32_MAX);
  EXPECT_TRUE(PlatGetTextExtent(c.dc, "abc", 3, &w, nullptr));
  EXPECT_EQ(w, INT32_MAX);
  EXPECT_TRUE(PlatTextOut(c.dc, INT32_MAX - 3, INT32_MIN, 0, nullptr, "abc", 3));
  EXPECT_TRUE(c.Unchanged());
  EXPECT_FALSE(PlatGetFontMetrics(c.bitmap, nullptr));
  EXPECT_EQ(PlatLastError(), kPlatErrInvalidHandle);
}

TEST(PlatformFont, MissingOrDamagedFacesFailCleanly) {
  PlatGetStockObject(kPlatStockFont);  // the stock fonts come from the real faces
  TempFolder dir("qxfont");
  std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
  std::vector<char> real((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(real.size(), 1000u);
  // Window ascent and descent zeroed in the OS/2 table.
  std::vector<char> zeroed = real;
  for (size_t t = 0; t < size_t(uint8_t(real[4]) << 8 | uint8_t(real[5])); ++t) {
    const uint8_t* rec = reinterpret_cast<const uint8_t*>(&real[12 + 16 * t]);
    if (std::memcmp(rec, "OS/2", 4) == 0) std::memset(&zeroed[size_t(rec[8]) << 24 | rec[9] << 16 | rec[10] << 8 | rec[11]] + 74, 0, 4);
  }
  struct Case {
    const char* file;
    std::vector<char> bytes;
    PlatFontDesc desc;
    int32_t error;  // 0: made
  } cases[] = {
      {"DejaVuSans.ttf", std::vector<char>(4000, 'Z'), Desc(kSans, 13), kPlatErrGeneral},
      {"DejaVuSans-Bold.ttf", std::vector<char>(real.begin(), real.begin() + 1000), Desc(kSans, 13, 700),
       kPlatErrGeneral},
      {"DejaVuSans-Oblique.ttf", zeroed, Desc(kSans, 13, 400, true), kPlatErrGeneral},
      {"DejaVuSansCondensed.ttf", {}, Desc(kSansC, 13), kPlatErrGeneral},
      {"DejaVuSansMono.ttf", real, Desc(kMono, 13), 0},
      {nullptr, {}, Desc(kSerif, 13), kPlatErrFileNotFound},
  };
  for (const Case& c : cases)
    if (c.file) std::ofstream(dir.Dir() + "/" + c.file, std::ios::binary).write(c.bytes.data(), std::streamsize(c.bytes.size()));
  setenv("QX_FONT_DIR", dir.Dir().c_str(), 1);  // the folder that overrides the default
  qxfont::ReloadFaces(nullptr);
  unsetenv("QX_FONT_DIR");
  for (const Case& c : cases) {
    PlatSetLastError(0);
    Font f(c.desc);
    EXPECT_EQ(f.h != 0, c.error == 0) << c.desc.face;
    EXPECT_EQ(PlatLastError(), c.error) << c.desc.face;
  }
  qxfont::ReloadFaces((dir.Dir() + "/none").c_str());
  EXPECT_FALSE(PlatFontsAvailable());
  EXPECT_EQ(PlatCreateFont(Desc(kMono, 13)), 0u);
  EXPECT_EQ(PlatLastError(), kPlatErrFileNotFound);
  // Stock fonts made without faces measure as their cells and draw nothing.
  Canvas c(40, 20);
  PlatObj stock = qxdraw::Register(qxfont::MakeStockFont(kPlatStockFont2));
  PlatSelectObject(c.dc, stock);
  PlatTextMetrics tm{};
  ASSERT_TRUE(PlatGetTextMetrics(c.dc, &tm));
  EXPECT_EQ(tm.height, 16);
  EXPECT_EQ(Extent(c.dc, "abc"), 3 * 8);
  EXPECT_TRUE(PlatSetBkMode(c.dc, kPlatBkTransparent) && PlatTextOut(c.dc, 0, 0, 0, nullptr, "abc", 3));
  EXPECT_TRUE(c.Unchanged());
  PlatSelectObject(c.dc, PlatGetStockObject(kPlatStockFont));
  PlatDeleteObject(stock);
  qxfont::ReloadFaces(nullptr);
  EXPECT_TRUE(PlatFontsAvailable());
  Font again(Desc(kSans, 13));
  EXPECT_NE(again.h, 0u);
}
