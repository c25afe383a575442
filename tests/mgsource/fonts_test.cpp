// The font table: sharing and caching, disposal of the standard fonts and
// trimming, derived fonts, width information, start-up with configured
// fonts, scaling, and font records.
#include <random>
#include <string>
#include <vector>

#include "config_test_file.h"
#include "mgsource/byteorder.h"
#include "mgsource/config.h"
#include "mgsource/config_internal.h"
#include "mgsource/counted_strings.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "platform/qx_dc.h"
#include "platform/qx_font.h"
#include "platform/qx_text.h"
#include "platform/qx_trace.h"
#include "test_support.h"
#include "tools/panelwriter.h"

namespace {

const uChar* PS(const char* s) {
  static std::string buf[8];
  static int32 next = 0;
  std::string& b = buf[next++ % 8];
  b = std::string(1, char(std::strlen(s))) + s;
  return reinterpret_cast<const uChar*>(b.data());
}
std::string Str(const uChar* p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

class Fonts : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureManagers();
    TXFinishFonts();
    TXInitFonts();
    ASSERT_GE(TStandardFont(0), 0);
  }
  void TearDown() override {
    TSetPrinterFontDC(0);
    TReleaseFontReferences();
    TXFinishFonts();
  }
  static std::string Name(int32 font) {
    uChar n[256];
    TGetFontInfo(font, n, nullptr, nullptr, nullptr);
    return Str(n);
  }
  static std::string RealName(int32 font) {
    uChar n[256];
    GetRealName(font, n);
    return Str(n);
  }
  static int32 Width(int32 font, const std::string& text) {
    Point p{};
    TTextSize(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), font, &p);
    return p.h;
  }
  // The layer's own extent of the text in the font.
  static int32 Extent(int32 font, const std::string& text) {
    PlatObj dc = PlatCreateScreenDc();
    PlatSelectObject(dc, TFontEntry(font)->object);
    int32 w = -1;
    PlatGetTextExtent(dc, text.data(), int32(text.size()), &w, nullptr);
    PlatDeleteDc(dc);
    return w;
  }
  Capture capture_;
};

TEST_F(Fonts, RequestsShareEntriesAndCachedOnesComeBackWithTheirObject) {
  const int32 a = TNewFont(PS("DejaVu Sans"), 13, 2, 0);
  const int32 b = TNewFont(PS("dejavu SANS"), 13, 2, 0);
  EXPECT_EQ(a, b);
  EXPECT_EQ(TFontReferences(a), 2);
  const PlatObj object = TFontEntry(a)->object;
  TDisposeFont(a);
  TDisposeFont(b);
  EXPECT_EQ(TFontEntry(a), nullptr) << "cached, not in use";
  const int32 again = TNewFont(PS("DEJAVU sans"), 13, 2, 0);
  ASSERT_EQ(again, a);
  EXPECT_EQ(TFontEntry(again)->object, object) << "no new font object";
  TDisposeFont(again);
  // Weights: the word is clamped, the host weight truncated at each step.
  const struct {
    int32 weight, word, host;
  } weights[] = {{5000, 1000, 900}, {-5000, -1000, 100}, {600, 600, 700}, {-500, -500, 300}, {0, 0, 400}};
  for (const auto& c : weights) {
    const int32 f = TNewFont(PS("DejaVu Sans"), 14, 0, c.weight);
    int32 word = 0;
    TGetFontInfo(f, nullptr, nullptr, nullptr, &word);
    PlatFontDesc desc{};
    ASSERT_TRUE(PlatGetFontDesc(TFontEntry(f)->object, &desc));
    EXPECT_EQ(word, c.word) << c.weight;
    EXPECT_EQ(desc.weight, c.host) << c.weight;
    TDisposeFont(f);
  }
}

TEST_F(Fonts, StandardFontsSurviveDisposalAndTheCachedTailIsTrimmedInEights) {
  const int32 app = TStandardFont(0);
  while (TFontReferences(app) > 1) TDisposeFont(app);
  gFontErr = 0;
  TDisposeFont(app);
  EXPECT_EQ(TFontReferences(app), 1);
  EXPECT_EQ(gFontErr, 1);
  EXPECT_NE(capture_.Debug().find("Trying to completely dispose of APP font ######"), std::string::npos);
  TDisposeFont(TFontCount());
  EXPECT_EQ(gFontErr, 16);
  EXPECT_NE(capture_.Debug().find("Trying to dispose of an invalid font"), std::string::npos);

  const int32 start = TFontCount();
  ASSERT_LE(start, 8);
  std::vector<int32> made;
  for (int32 size = 20; TFontCount() < 25; ++size) made.push_back(TNewFont(PS("DejaVu Serif"), size, 0, 0));
  ASSERT_EQ(made.back(), 24);
  for (int32 i = int32(made.size()) - 1; i >= 0; --i) {
    TDisposeFont(made[size_t(i)]);
    if (made[size_t(i)] == 15) {
      EXPECT_EQ(TFontCount(), 16) << "slots 16-23 freed with the last in use at 14";
    }
  }
  EXPECT_EQ(TFontCount(), 8);
}

TEST_F(Fonts, DerivedFontsAndComparisons) {
  const int32 f12 = TNewFont(PS("DejaVu Sans"), 12, 0, 0);
  const int32 italic = TNewFont(PS("DejaVu Sans"), 12, 2, 0);
  const int32 heavy = TNewFont(PS("DejaVu Sans"), 12, 0, 600);
  const struct {
    int32 font, size, style, weight, mask;
    int32 wantSize, wantStyle, wantWeight;
  } cases[] = {
      {f12, -20, 0, 0, 16, 2, 0, 0},           // added size, at least 2
      {f12, 30, 0, 0, 16 | 4, 42, 0, 0},       // adding wins over setting
      {italic, 0, 2, 0, 2 | 32, 12, 0, 0},     // toggled off
      {f12, 0, 0x8005, 0, 2, 12, 5, 0},        // ORed under 0x101f
      {italic, 0, 4, 0, 128, 12, 4, 0},        // set
      {heavy, 0, 0, 100, 8 | 64, 12, 0, 700},  // added weight wins
  };
  for (const auto& c : cases) {
    const int32 m = TModifyFont(c.font, nullptr, c.size, c.style, c.weight, c.mask);
    int32 size = 0, style = 0, weight = 0;
    TGetFontInfo(m, nullptr, &size, &style, &weight);
    EXPECT_EQ(size, c.wantSize) << c.mask;
    EXPECT_EQ(style, c.wantStyle) << c.mask;
    EXPECT_EQ(weight, c.wantWeight) << c.mask;
    TDisposeFont(m);
  }
  EXPECT_EQ(TFontCompare(f12, f12, 141), 0);
  EXPECT_EQ(TFontCompare(f12, heavy, 141), 8);
  EXPECT_EQ(TFontCompare(f12, heavy, 5), 0);
  EXPECT_EQ(TFontCompare(f12, italic, 141), 128);
  EXPECT_EQ(TFontCompare(f12, TFontCount(), 141), -1);
  EXPECT_EQ(gFontErr, 16);
  EXPECT_NE(capture_.Debug().find("Illegal fonts ("), std::string::npos);
  // Taking a font whole: the old reference goes, the source gains one.
  TAddFontReference(f12);
  const int32 refs = TFontReferences(heavy);
  EXPECT_EQ(TApplyFontChange(f12, heavy, 141, 0), heavy);
  EXPECT_EQ(TFontReferences(heavy), refs + 1);
  TDisposeFont(heavy);
  for (int32 f : {f12, italic, heavy}) TDisposeFont(f);
}

TEST_F(Fonts, WidthTablesMeasureAsTheLayerDoes) {
  const int32 mono = TNewFont(PS("DejaVu Sans Mono"), 13, 0, 0);
  const FontEntry* e = TFontEntry(mono);
  ASSERT_GT(e->fixedWidth, 0);
  EXPECT_EQ(e->widthFlags & (kFontHexFixed | kFontWidthTable | kFontScalable), kFontHexFixed | kFontScalable);
  EXPECT_EQ(Width(mono, "0123456789"), 10 * e->fixedWidth);

  const int32 cond = TNewFont(PS("DejaVu Sans Condensed"), 13, 0, 0);
  e = TFontEntry(cond);
  EXPECT_EQ(e->fixedWidth, 0);
  EXPECT_EQ(e->widthFlags & (kFontWidthTable | kFontNotAnsi), kFontWidthTable);
  std::mt19937 rng(75);
  for (int32 n = 0; n < 50; ++n) {
    std::string text(size_t(rng() % 80), ' ');
    for (char& c : text) c = char(32 + rng() % 224);
    EXPECT_EQ(Width(cond, text), Extent(cond, text)) << text;
  }
  const int32 big = TNewFont(PS("DejaVu Sans"), 300, 0, 0);
  e = TFontEntry(big);
  EXPECT_EQ(e->widthFlags & kFontWidthTable, 0);
  EXPECT_EQ(e->fixedWidth, 0);
  EXPECT_EQ(Width(big, std::string("a\tb\0c", 5)), Extent(big, "a b c"));
  for (int32 f : {mono, cond, big}) TDisposeFont(f);
}

TEST_F(Fonts, StartUpTakesConfiguredFontsAndListsFaces) {
  PlatFontDesc icon{};
  PlatGetIconTitleFont(&icon);
  PlatObj o = PlatCreateFont(icon);
  PlatTextMetrics tm{};
  PlatGetFontMetrics(o, &tm);
  PlatDeleteObject(o);
  int32 size = 0;
  TGetFontInfo(TStandardFont(0), nullptr, &size, nullptr, nullptr);
  EXPECT_EQ(Name(TStandardFont(0)), "0");
  EXPECT_EQ(size, tm.height);
  EXPECT_EQ(RealName(TStandardFont(0)), icon.face);
  EXPECT_EQ(RealName(TStandardFont(4)), "DejaVu Sans Mono");
  int32 boldWeight = 0;
  TGetFontInfo(TStandardFont(3), nullptr, nullptr, nullptr, &boldWeight);
  EXPECT_EQ(boldWeight, 1000);

  TestConfigFile::Use();
  ASSERT_EQ(CfgWriteRaw(PS("appFont"), "\"DejaVu Serif\" 16 B"), kNoErr);
  TXFinishFonts();
  TXInitFonts();
  CfgRemove(kCfgFont, PS("appFont"));
  const int32 app = TStandardFont(0);
  int32 weight = 0;
  TGetFontInfo(app, nullptr, &size, nullptr, &weight);
  EXPECT_EQ(Name(app), "0");
  EXPECT_EQ(RealName(app), "DejaVu Serif");
  EXPECT_EQ(size, 16);
  EXPECT_EQ(weight, 1000);
  EXPECT_NE(app, 0);
  EXPECT_EQ(Name(0), icon.face) << "the built-in goes by its real face";
  // A font key written and read back names the same font.
  int32 back = -1;
  ASSERT_EQ(CfgWrite(kCfgFont, PS("testFont"), &app), kNoErr);
  ASSERT_EQ(CfgGetDefault(kCfgFont, PS("testFont"), &back), kNoErr);
  CfgRemove(kCfgFont, PS("testFont"));
  EXPECT_EQ(back, app);
  TDisposeFont(back);

  CPStrHandle list = reinterpret_cast<CPStrHandle>(AZNewHandle(0));
  ASSERT_EQ(TGetFontList(list), 5);
  std::vector<std::string> names;
  for (int32 i = 0, at = 4; i < (*list)->cnt; ++i, at += 1 + (*reinterpret_cast<UHandle>(list))[at])
    names.push_back(Str(*reinterpret_cast<UHandle>(list) + at));
  AZDisposeHandle(reinterpret_cast<UHandle>(list));
  EXPECT_EQ(names, (std::vector<std::string>{"DejaVu Sans", "DejaVu Sans Condensed", "DejaVu Sans Mono",
                                             "DejaVu Serif", "DejaVu Serif Condensed"}));
}

TEST_F(Fonts, ScalingFitsTheSampleWithinEightCandidates) {
  const int32 f = TNewFont(PS("DejaVu Sans"), 20, 0, 0);
  const Rect from{0, 0, 100, 200}, sameHeight{10, 10, 110, 50}, half{0, 0, 50, 100}, tiny{0, 0, 2, 4},
      empty{5, 5, 5, 5};
  EXPECT_EQ(TScaleFont(f, &from, &sameHeight), f);
  EXPECT_EQ(TFontReferences(f), 2);
  EXPECT_EQ(TScaleFont(f, &empty, &half), f) << "no ratio from an empty rectangle";
  EXPECT_EQ(TFontReferences(f), 3);

  PlatObj printer = PlatCreateMemoryDc();
  PlatTraceRecorder trace;
  PlatSetTraceSink(printer, &trace);
  TSetPrinterFontDC(printer);
  const int32 s = TScaleFont(f, &from, &half);
  int32 candidates = 0;
  for (const std::string& l : trace.lines) candidates += l == "font";
  EXPECT_GE(candidates, 1);
  EXPECT_LE(candidates, 8);
  const FontEntry* e = TFontEntry(s);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->style & (kFontScaled | kFontResolveName), kFontScaled | kFontResolveName);
  EXPECT_FLOAT_EQ(e->hScale, 0.5f);
  EXPECT_EQ(e->unscaled, TFontEntry(f)->object);
  const std::string sample = "The quick brown dog jumps over the lazy fox.";
  const int32 target = Extent(f, sample) * 100 / 200;
  if (candidates < 8) {
    EXPECT_LE(Extent(s, sample) * 1.05, target);
  }
  const int32 t = TScaleFont(f, &from, &tiny);
  EXPECT_GE(TFontEntry(t)->size, 4);
  TDisposeFont(s);
  TDisposeFont(t);
  EXPECT_EQ(TFontEntry(s), nullptr) << "scaled fonts are freed with their last reference";
  PlatSetTraceSink(printer, nullptr);
  PlatDeleteDc(printer);

  EXPECT_EQ(TScaleFont(TFontCount() + 3, &from, &half), TStandardFont(0));
  EXPECT_EQ(gFontErr, 16);
  EXPECT_NE(capture_.Debug().find("Trying to scale a bogus font"), std::string::npos);
}

TEST_F(Fonts, FontRecordsRoundTripAndBadOnesGiveTheApplicationFont) {
  std::vector<uChar> rec(kFRecMaxBytes);
  const int32 f = TNewFont(PS("DejaVu Serif"), 15, 2 | 4, 600);
  const int32 n = TFontToRec(f, rec.data());
  EXPECT_EQ(n, 9 + 12);
  EXPECT_EQ(rec[0], n);
  EXPECT_EQ(rec[1], 2);
  rec.resize(size_t(n));  // exactly what was written: reads past it fault under ASan
  EXPECT_EQ(TNewFontFromRec(rec.data(), n), f);
  EXPECT_EQ(TFontReferences(f), 2);

  const int32 longName = TNewFont(PS(std::string(250, 'q').c_str()), 12, 0, 0);
  rec.assign(kFRecMaxBytes, 0);
  EXPECT_EQ(TFontToRec(longName, rec.data()), 10);
  EXPECT_EQ(Str(&rec[kFRecName]), "0");
  gFontErr = 0;
  TFontToRec(TFontCount(), rec.data());
  EXPECT_EQ(gFontErr & 16, 16);
  EXPECT_EQ(Str(&rec[kFRecName]), "0");

  const int32 app = TStandardFont(0);
  std::vector<uChar> good(rec.begin(), rec.begin() + TFontToRec(f, rec.data()));
  const struct {
    const char* what;
    int32 cut;      // bytes given
    int32 length;   // length byte (-1 kept)
    int32 nameLen;  // name length byte (-1 kept)
  } bad[] = {{"nothing", 0, -1, -1},           {"shorter than its length", 12, -1, -1},
             {"length below 10", -1, 9, 0},    {"name past the length", -1, -1, 40},
             {"length past the bytes", -1, 200, -1}};
  for (const auto& c : bad) {
    std::vector<uChar> r = good;
    if (c.length >= 0) r[0] = uChar(c.length);
    if (c.nameLen >= 0) r[kFRecName] = uChar(c.nameLen);
    if (c.cut >= 0) r.resize(size_t(c.cut));
    const int32 refs = TFontReferences(app);
    gFontErr = 0;
    EXPECT_EQ(TNewFontFromRec(r.data(), int32(r.size())), app) << c.what;
    EXPECT_EQ(gFontErr & 4, 4) << c.what;
    EXPECT_EQ(TFontReferences(app), refs + 1) << c.what;
    TDisposeFont(app);
  }
  for (int32 x : {f, f, longName}) TDisposeFont(x);
}

TEST_F(Fonts, StoredTablesTakeWildcardsFromTheCallersFonts) {
  const int32 mine = TNewFont(PS("DejaVu Serif"), 17, 2, 0);
  rsrcw::Bytes bytes = panelwriter::FontTableRsrc(
      {{"dejavu serif", -32768, 0x8000, -32768}, {"Nowhere", -32768, 0, 0}, {"DejaVu Sans", 9, 0, 0}}, 0, true, 2);
  UHandle table = AZNewHandle(int32(bytes.size()));
  std::memcpy(*table, bytes.data(), bytes.size());
  ASSERT_EQ(TReadFontTable(4711, table, &mine, 1), kNoErr);
  EXPECT_EQ(gFontErr & (4 | 32), 4 | 32) << "no font of that name; metrics differ";
  ASSERT_EQ(TFontMapCount(), 3);
  int32 size = 0, style = 0;
  TGetFontInfo(TFontMapFont(0), nullptr, &size, &style, nullptr);
  EXPECT_EQ(TFontMapFont(0), mine);
  EXPECT_EQ(size, 17);
  EXPECT_EQ(TFontMapFont(1), TStandardFont(0));
  // The map's reference metrics are what the font measures.
  int32 h = 0, narrow = 0, wide = 0;
  TFontReferenceMetrics(TFontMapFont(2), &h, &narrow, &wide);
  EXPECT_GT(narrow, 0);
  EXPECT_GT(wide, narrow * 27 / 40);
  // An index the map doesn't hold: the application font, a reference of its own.
  const int32 appRefs = TFontReferences(TStandardFont(0));
  EXPECT_EQ(TLoadFontReference(4711, 7), TStandardFont(0));
  EXPECT_EQ(TFontReferences(TStandardFont(0)), appRefs + 1);
  EXPECT_NE(capture_.Debug().find("Error in TLoadFontReference !!!!! 7"), std::string::npos);
  TDisposeFont(TStandardFont(0));
  TReleaseFontReferences();
  EXPECT_EQ(TFontReferences(mine), 1);
  AZDisposeHandle(table);
  TDisposeFont(mine);
}

// A stored font table makes at most 256 fonts anew: past them it is refused
// whole, with no font left in use; entries naming one font share it.  Each
// row names sizes no earlier one made (cached fonts come back for free).
TEST_F(Fonts, AStoredTableMakesAtMostItsShareOfFonts) {
  const auto inUse = [] {
    int32 n = 0;
    for (int32 i = 0; i < TFontCount(); ++i) n += TFontReferences(i) > 0;
    return n;
  };
  const struct {
    int32 entries, firstSize, step, made;
    MgErr err;
  } rows[] = {{300, 12, 0, 1, kNoErr}, {256, 20, 1, 256, kNoErr}, {257, 300, 1, 0, kMemFullErr}};
  for (const auto& c : rows) {
    std::vector<panelwriter::FontEntry> entries;
    for (int32 i = 0; i < c.entries; ++i) entries.push_back({"DejaVu Sans", int16(c.firstSize + c.step * i), 0, 0});
    const rsrcw::Bytes bytes = panelwriter::FontTableRsrc(entries, 0, true);
    UHandle table = AZNewHandle(int32(bytes.size()));
    std::memcpy(*table, bytes.data(), bytes.size());
    const int32 before = inUse();
    EXPECT_EQ(TReadFontTable(c.firstSize, table, nullptr, 0), c.err) << c.entries;
    EXPECT_EQ(inUse(), before + c.made) << c.entries;
    TReleaseFontReferences();
    EXPECT_EQ(inUse(), before) << c.entries;
    AZDisposeHandle(table);
  }
  EXPECT_NE(capture_.Debug().find("names more than 256 fonts"), std::string::npos);
}

}  // namespace
