// Fonts: resolution of face names, sizes and metrics of the DejaVu faces,
// additive advances, system and stock fonts, code page 1252, and faces that
// are missing or damaged.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "draw_support.h"
#include "platform/qx_codepage.h"
#include "platform/qx_file.h"
#include "platform/qx_font.h"
#include "platform/qx_font_internal.h"
#include "temp_folder.h"

namespace {

const char* const kSans = "DejaVu Sans", *const kSansC = "DejaVu Sans Condensed", *const kSerif = "DejaVu Serif",
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

// A font that is deleted with the object.
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

// Sum of single-byte extents.
int32_t SumOfSingles(PlatObj dc, const std::string& s) {
  int32_t sum = 0;
  for (char c : s) {
    int32_t w = -1;
    EXPECT_TRUE(PlatGetTextExtent(dc, &c, 1, &w, nullptr));
    sum += w;
  }
  return sum;
}

int32_t Extent(PlatObj dc, const std::string& s) {
  int32_t w = -1;
  EXPECT_TRUE(PlatGetTextExtent(dc, s.data(), int32_t(s.size()), &w, nullptr));
  return w;
}

}  // namespace

TEST(PlatformFont, NamesResolveThroughTheFamilyNamesAndTheMap) {
  // Every row of the font-name map, written as a face name would be, and
  // the family its printer family gives.
  struct Case {
    const char* name;
    const char* face;
  } cases[] = {
      {"Helvetica", kSansC},          {"Times", kSerifC},           {"Courier", kMono},
      {"N Helvetica Narrow", kSansC}, {"Avant Garde", kSansC},      {"New Century Schlbk", kSerifC},
      {"New Century Schoolbook", kSerifC}, {"Bookman", kSerifC},   {"Palatino", kSerifC},
      {"Symbol", kSansC},             {"Zapf Chancery", kSansC},    {"Zapf Dingbats", kSansC},
      {"Geneva", kSansC},             {"Chicago", kSansC},          {"Monaco", kMono},
      {"CentSchbkA", kSerifC},        {"New York", kSerifC},        {"Matrix", kMono},
      {"MONACO", kMono},              {"8x13", kSansC},             {"VT 8x13", kSansC},
      {"Arial", kSansC},              {"Arial-Super", kSansC},      {"Courier New", kMono},
      {"Fixedsys", kSansC},           {"MS Sans Serif", kSansC},    {"MS Serif", kSerifC},
      {"Modern", kSansC},             {"Roman", kSerifC},           {"Small Fonts", kSansC},
      {"System", kSansC},             {"Times New Roman", kSerifC}, {"Lucida Bright", kSerifC},
      {"Lucida Sans", kSansC},        {"Lucida", kSansC},           {"Lucida Sans Typriter", kMono},
      {"Lucida Typewriter", kMono},
      // Family names in any case are themselves; anything else is row 0.
      {"dejavu sans", kSans},         {"DEJAVU SERIF", kSerif},     {"DejaVu Sans Mono", kMono},
      {"dejavu serif condensed", kSerifC}, {"DejaVu sans Condensed", kSansC},
      {"DejaVuSans", kSansC},         {"Comic", kSansC},            {"", kSansC},
      {"0", kSansC},                  {"\xE9t\xE9", kSansC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Resolved(c.name, int32_t(std::strlen(c.name))), c.face);
    Font f(Desc(c.name, 13));
    ASSERT_NE(f.h, 0u);
    PlatFontDesc back{};
    ASSERT_TRUE(PlatGetFontDesc(f.h, &back));
    EXPECT_STREQ(back.face, c.face);
  }
  // The map's rows in order, and its printer families.
  EXPECT_EQ(PlatFontMapRow("Times New Roman", 15), 31);
  EXPECT_EQ(PlatFontMapRow("monaco", 6), 14);
  EXPECT_EQ(PlatFontMapRow("nothing", 7), 0);
  EXPECT_STREQ(PlatFontMapFamily(26), "Times-Bold");
  EXPECT_STREQ(PlatFontMapFamily(36), "Courier");
  EXPECT_EQ(PlatFontMapFamily(37), nullptr);
  EXPECT_EQ(PlatFontMapFamily(-1), nullptr);
}

TEST(PlatformFont, EnumerationListsTheFiveFamiliesByName) {
  std::vector<std::string> names;
  auto collect = [](const PlatFontDesc& d, void* data) {
    static_cast<std::vector<std::string>*>(data)->push_back(d.face);
    EXPECT_EQ(d.charSet, 0);
    return true;
  };
  EXPECT_EQ(PlatEnumFonts(nullptr, 0, collect, &names), 5);
  EXPECT_EQ(names, (std::vector<std::string>{kSans, kSansC, kSerif, kSerifC, kMono}));
  struct Case {
    const char* face;
    int32_t calls;
  } cases[] = {{"dejavu sans mono", 1}, {"DejaVu Serif", 1}, {"Arial", 0}, {"Helvetica", 0}, {"DejaVu", 0}};
  for (const Case& c : cases) {
    names.clear();
    EXPECT_EQ(PlatEnumFonts(c.face, int32_t(std::strlen(c.face)), collect, &names), c.calls) << c.face;
    if (c.calls) {
      EXPECT_EQ(Resolved(c.face, int32_t(std::strlen(c.face))), names.at(0));
    }
  }
  // A procedure that stops ends the listing.
  auto stop = [](const PlatFontDesc&, void*) { return false; };
  EXPECT_EQ(PlatEnumFonts(nullptr, 0, stop, nullptr), 1);
}

TEST(PlatformFont, SizesFollowTheWindowsAscentAndDescent) {
  // DejaVu: A 1901, D 483, U 2048 in every face.
  struct Case {
    const char* face;
    int32_t height, ascent, descent;
  } cases[] = {
      {kSansC, 13, 10, 3},  {kSansC, -11, 11, 3}, {kSansC, 0, 10, 3},   {kSans, 16, 13, 3},
      {kSerif, 20, 16, 4},  {kMono, -13, 13, 4},  {kSerifC, -16, 15, 4}, {kSans, 1, 1, 0},
      {kSans, -1, 1, 1},    {kSans, 2048, 1633, 415}, {kSans, -2048, 1901, 483},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.face) + " " + std::to_string(c.height));
    Font f(Desc(c.face, c.height));
    ASSERT_NE(f.h, 0u);
    PlatTextMetrics tm = f.Metrics();
    EXPECT_EQ(tm.ascent, c.ascent);
    EXPECT_EQ(tm.descent, c.descent);
    EXPECT_EQ(tm.height, c.ascent + c.descent);
    EXPECT_EQ(tm.externalLeading, 0);
    EXPECT_EQ(tm.charSet, 0);
    // The em of a cell height is hU/(A+D) in 26.6, truncated; of a character
    // height h itself.
    int64_t h = c.height == 0 ? 13 : c.height;
    EXPECT_EQ(f.Impl()->emV26, h < 0 ? -h * 64 : h * 2048 * 64 / 2384);
  }
}

TEST(PlatformFont, WeightItalicAndWidthChooseTheFileAndScale) {
  struct Case {
    const char* face;
    int32_t weight;
    bool italic;
    int32_t file, reportedWeight;
    uint8_t pitchAndFamily;
  } cases[] = {
      {kSansC, 0, false, 4, 400, 0x27},   {kSansC, 599, false, 4, 400, 0x27}, {kSansC, 600, false, 5, 700, 0x27},
      {kSansC, 700, true, 7, 700, 0x27},  {kSans, 400, true, 2, 400, 0x27},   {kSerif, 900, false, 9, 700, 0x17},
      {kSerifC, 400, true, 14, 400, 0x17}, {kMono, 700, true, 19, 700, 0x36},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.face) + " " + std::to_string(c.weight) + (c.italic ? " italic" : ""));
    Font f(Desc(c.face, 13, c.weight, c.italic));
    ASSERT_NE(f.h, 0u);
    EXPECT_EQ(f.Impl()->file, c.file);
    PlatTextMetrics tm = f.Metrics();
    EXPECT_EQ(tm.weight, c.reportedWeight);
    EXPECT_EQ(tm.italic, c.italic);
    EXPECT_EQ(tm.pitchAndFamily, c.pitchAndFamily);
  }
  // The bold file draws wider strokes and advances.
  Font regular(Desc(kSansC, 40)), bold(Desc(kSansC, 40, 700));
  EXPECT_GT(PlatGetCharAdvance(bold.h, 'W'), PlatGetCharAdvance(regular.h, 'W'));

  // Half the natural average width halves the average and the extents.
  const std::string text = "The quick brown dog.";
  for (const char* face : {kSans, kSansC, kSerif, kMono}) {
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
  for (const char* face : {kSans, kSansC, kSerif, kSerifC, kMono}) {
    for (int32_t height : {11, 13, -16}) {
      Font f(Desc(face, height));
      PlatSelectObject(mem.dc, f.h);
      PlatSelectObject(screen, f.h);
      for (int32_t extra : {0, 1, 3, -1}) {
        PlatSetTextCharacterExtra(mem.dc, extra);
        for (int trial = 0; trial < 20; ++trial) {
          std::string s(rng() % 40, '\0');
          for (char& c : s) c = char(rng());
          int32_t w = Extent(mem.dc, s);
          EXPECT_EQ(w, SumOfSingles(mem.dc, s));
          int32_t sum = 0;
          for (char c : s) sum += PlatGetCharAdvance(f.h, uint8_t(c));
          EXPECT_EQ(w, sum + extra * int32_t(s.size()));
        }
      }
      PlatSetTextCharacterExtra(mem.dc, 0);
      // No kerning: "Wi" and "AV" are the sums of their letters; screen and
      // memory contexts agree.
      for (const char* pair : {"Wi", "AV", "To", "LT"})
        EXPECT_EQ(Extent(mem.dc, pair), SumOfSingles(mem.dc, pair)) << face << " " << pair;
      std::string all(256, '\0');
      for (int b = 0; b < 256; ++b) all[size_t(b)] = char(b);
      EXPECT_EQ(Extent(mem.dc, all), Extent(screen, all));
      for (int b = 0; b < 256 && height == 13; ++b) EXPECT_LT(PlatGetCharAdvance(f.h, uint8_t(b)), 256);
      int32_t hgt = 0;
      ASSERT_TRUE(PlatGetTextExtent(mem.dc, "x", 1, nullptr, &hgt));
      EXPECT_EQ(hgt, f.Metrics().ascent + f.Metrics().descent);
    }
  }
  PlatSelectObject(mem.dc, PlatGetStockObject(kPlatStockFont));
  PlatSelectObject(screen, PlatGetStockObject(kPlatStockFont));
  PlatDeleteDc(screen);
  // Control bytes and the unassigned ones measure as glyph 0; NUL too.
  Font f(Desc(kSansC, 100));
  for (uint8_t b : {0x00, 0x01, 0x1F, 0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D})
    EXPECT_EQ(PlatGetCharAdvance(f.h, b), PlatGetCharAdvance(f.h, 0x00)) << int(b);
  EXPECT_NE(PlatGetCharAdvance(f.h, 0x80), PlatGetCharAdvance(f.h, 0x00));  // the euro sign
}

TEST(PlatformFont, SystemAndStockFontsHaveTheirDescribedFaces) {
  PlatFontDesc icon{}, menu{};
  PlatGetIconTitleFont(&icon);
  PlatGetMenuFont(&menu);
  PlatFontDesc stockVar{}, stockSys{};
  ASSERT_TRUE(PlatGetFontDesc(PlatGetStockObject(kPlatStockFont), &stockVar));
  ASSERT_TRUE(PlatGetFontDesc(PlatGetStockObject(kPlatStockFont2), &stockSys));
  struct Case {
    const char* what;
    const PlatFontDesc& desc;
    int32_t height, weight, cell, reportedWeight;
  } cases[] = {
      {"icon title", icon, -11, 400, 14, 400},
      {"menu", menu, -11, 400, 14, 400},
      {"stock variable pitch", stockVar, 13, 400, 13, 400},
      {"stock system", stockSys, 16, 700, 16, 700},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_STREQ(c.desc.face, kSansC);
    EXPECT_EQ(c.desc.height, c.height);
    EXPECT_EQ(c.desc.weight, c.weight);
    EXPECT_EQ(c.desc.charSet, 0);
    EXPECT_FALSE(c.desc.italic || c.desc.underline || c.desc.strikeOut);
    Font f(c.desc);
    PlatTextMetrics tm = f.Metrics();
    EXPECT_EQ(tm.height, c.cell);
    EXPECT_EQ(tm.weight, c.reportedWeight);
    EXPECT_EQ(tm.charSet, 0);
  }
  // A fresh context has the variable-pitch font; its face reads back.
  Canvas c(4, 4);
  char face[40];
  EXPECT_EQ(PlatGetTextFace(c.dc, face, sizeof face), int32_t(std::strlen(kSansC)));
  EXPECT_STREQ(face, kSansC);
  EXPECT_EQ(PlatGetTextFace(c.dc, nullptr, 0), int32_t(std::strlen(kSansC)) + 1);
  EXPECT_EQ(PlatGetTextFace(c.dc, face, 7), 6);
  EXPECT_STREQ(face, "DejaVu");
  PlatTextMetrics tm{};
  ASSERT_TRUE(PlatGetTextMetrics(c.dc, &tm));
  EXPECT_EQ(tm.height, 13);
  EXPECT_TRUE(PlatFontsAvailable());
}

TEST(PlatformFont, CodePage1252RoundTripsEveryByte) {
  for (int b = 0; b < 256; ++b) {
    uint32_t u = PlatCp1252ToUnicode(uint8_t(b));
    EXPECT_EQ(PlatUnicodeToCp1252(u), b) << b;
    bool control = b < 0x20 || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
    EXPECT_EQ(PlatCp1252IsControl(uint8_t(b)), control) << b;
  }
  struct Case {
    uint8_t byte;
    uint32_t code;
  } cases[] = {{0x41, 0x41}, {0x80, 0x20AC}, {0x85, 0x2026}, {0x8A, 0x160}, {0x92, 0x2019},
               {0x99, 0x2122}, {0x9F, 0x178}, {0xA0, 0xA0}, {0xE9, 0xE9}, {0xFF, 0xFF}};
  for (const Case& c : cases) EXPECT_EQ(PlatCp1252ToUnicode(c.byte), c.code) << int(c.byte);
  for (uint32_t missing : {0x100u, 0x151u, 0x2028u, 0x10000u, 0xFFFFFFFFu})
    EXPECT_EQ(PlatUnicodeToCp1252(missing), -1) << missing;
  const char text[] = "ab";
  EXPECT_EQ(PlatCharNext(text), text + 1);
  EXPECT_EQ(PlatCharNext(text + 2), text + 2);  // at the NUL
  EXPECT_EQ(PlatCharPrev(text, text + 2), text + 1);
  EXPECT_EQ(PlatCharPrev(text, text), text);
}

TEST(PlatformFont, BadRequestsResolveWithinTheirBytes) {
  // Names in buffers of exactly their length: the sanitizer sees any read
  // past them.
  struct Case {
    std::string bytes;
    const char* face;
  } cases[] = {
      {std::string(), kSansC},
      {std::string(300, 'x'), kSansC},
      {"Courier New" + std::string(289, ' '), kMono},  // cut at 31 bytes, blanks removed
      {std::string("Courier\0New", 11), kMono},
      {std::string("\xFF\xFE\x80 times", 10), kSansC},
      {std::string("TIMES NEW ROMAN"), kSerifC},
  };
  for (const Case& c : cases) {
    std::unique_ptr<char[]> exact(new char[c.bytes.size() ? c.bytes.size() : 1]);
    std::memcpy(exact.get(), c.bytes.data(), c.bytes.size());
    EXPECT_EQ(Resolved(exact.get(), int32_t(c.bytes.size())), c.face) << c.bytes.size();
    EXPECT_EQ(Resolved(exact.get(), -5), kSansC);
    PlatFontDesc d{};
    PlatSetFaceName(&d, exact.get(), int32_t(c.bytes.size()));
    EXPECT_LE(std::strlen(d.face), 31u);
  }
  EXPECT_EQ(Resolved(nullptr, 10), kSansC);

  // Sizes beyond the limits are clamped.
  struct Size {
    int32_t height, width, heightBack, widthBack;
  } sizes[] = {{5000, 0, 2048, 0}, {-5000, 0, -2048, 0}, {INT32_MIN, 0, -2048, 0}, {13, 9000, 13, 2048},
               {13, -4, 13, 0}};
  for (const Size& s : sizes) {
    Font f(Desc(kSans, s.height, 400, false, s.width));
    ASSERT_NE(f.h, 0u) << s.height;
    PlatFontDesc back{};
    ASSERT_TRUE(PlatGetFontDesc(f.h, &back));
    EXPECT_EQ(back.height, s.heightBack);
    EXPECT_EQ(back.width, s.widthBack);
    EXPECT_GT(PlatGetCharAdvance(f.h, 'W'), 0);
  }

  // Texts: NUL and every byte measure and draw; negative lengths draw
  // nothing; bad handles fail.
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
  EXPECT_TRUE(PlatTextOut(c.dc, 0, 0, 0, nullptr, nullptr, 0));
  EXPECT_TRUE(PlatGetTextExtent(c.dc, nullptr, 0, &w, nullptr));
  EXPECT_EQ(w, 0);
  // Far-off positions and huge extras stay inside int32.
  PlatSetTextCharacterExtra(c.dc, INT32_MAX);
  EXPECT_TRUE(PlatGetTextExtent(c.dc, "abc", 3, &w, nullptr));
  EXPECT_EQ(w, INT32_MAX);
  EXPECT_TRUE(PlatTextOut(c.dc, INT32_MAX - 3, INT32_MIN, 0, nullptr, "abc", 3));
  PlatSetTextCharacterExtra(c.dc, 0);
  EXPECT_TRUE(c.Unchanged());
  EXPECT_FALSE(PlatTextOut(0, 0, 0, 0, nullptr, "a", 1));
  EXPECT_FALSE(PlatGetFontMetrics(c.bitmap, nullptr));
  EXPECT_EQ(PlatLastError(), kPlatErrInvalidHandle);
}

TEST(PlatformFont, MissingOrDamagedFacesFailCleanly) {
  PlatGetStockObject(kPlatStockFont);  // the stock fonts come from the real faces
  TempFolder dir("qxfont");
  std::vector<char> real;
  {
    std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
    real.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_GT(real.size(), 1000u);
  auto write = [&](const char* name, const std::vector<char>& bytes) {
    std::ofstream out(dir.Dir() + "/" + name, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
  };
  // Sans: garbage; Sans bold: cut short; Sans oblique: window ascent and
  // descent zeroed in the OS/2 table; Sans Mono: the real file.
  write("DejaVuSans.ttf", std::vector<char>(4000, '\x5A'));
  write("DejaVuSans-Bold.ttf", std::vector<char>(real.begin(), real.begin() + 1000));
  std::vector<char> zeroed = real;
  uint16_t tables = uint16_t(uint8_t(zeroed[4]) << 8 | uint8_t(zeroed[5]));
  for (uint16_t t = 0; t < tables; ++t) {
    const char* rec = &zeroed[12 + 16 * size_t(t)];
    if (std::memcmp(rec, "OS/2", 4) != 0) continue;
    size_t at = size_t(uint8_t(rec[8])) << 24 | size_t(uint8_t(rec[9])) << 16 | size_t(uint8_t(rec[10])) << 8 |
                uint8_t(rec[11]);
    std::memset(&zeroed[at + 74], 0, 4);  // usWinAscent, usWinDescent
  }
  write("DejaVuSans-Oblique.ttf", zeroed);
  write("DejaVuSansMono.ttf", real);
  write("DejaVuSansCondensed.ttf", {});

  qxfont::ReloadFaces(dir.Dir().c_str());
  struct Case {
    PlatFontDesc desc;
    int32_t error;  // 0: made
  } cases[] = {
      {Desc(kSans, 13), kPlatErrGeneral},
      {Desc(kSans, 13, 700), kPlatErrGeneral},
      {Desc(kSans, 13, 400, true), kPlatErrGeneral},
      {Desc(kSansC, 13), kPlatErrGeneral},  // empty
      {Desc(kSerif, 13), kPlatErrFileNotFound},  // absent
      {Desc(kMono, 13), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.desc.face) + " " + std::to_string(c.desc.weight));
    PlatSetLastError(0);
    PlatObj f = PlatCreateFont(c.desc);
    EXPECT_EQ(f != 0, c.error == 0);
    if (c.error) {
      EXPECT_EQ(PlatLastError(), c.error);
    }
    PlatDeleteObject(f);
  }
  qxfont::ReloadFaces((dir.Dir() + "/none").c_str());
  EXPECT_FALSE(PlatFontsAvailable());
  EXPECT_EQ(PlatCreateFont(Desc(kMono, 13)), 0u);
  EXPECT_EQ(PlatLastError(), kPlatErrFileNotFound);
  qxfont::ReloadFaces(nullptr);
  EXPECT_TRUE(PlatFontsAvailable());
  Font again(Desc(kSans, 13));
  EXPECT_NE(again.h, 0u);
}
