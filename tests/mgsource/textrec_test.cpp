// What the panel loader needs of texts and fonts: the saved text record read
// with its runs' fonts mapped through the file's font table, the table and
// its map, colours and disposal.
#include "mgsource/draw/fonts.h"
#include "mgsource/window/textrec.h"
#include "rsrc_test_support.h"
#include "tools/panelwriter.h"

namespace rsrctest {
namespace {

using panelwriter::FontEntry;
using panelwriter::SavedText;
using panelwriter::TextRun;

class BoundaryTexts : public RsrcTest {
 protected:
  // The font table keeps released fonts cached: each test starts and ends
  // without a table, so that what it made is counted and given back.
  void SetUp() override {
    TXFinishFonts();
    RsrcTest::SetUp();
  }
  void TearDown() override {
    if (file_) RCloseFile(file_);
    TReleaseFontReferences();
    TXFinishFonts();
    RsrcTest::TearDown();
  }
  // A file with the font table and the resources given.
  void Make(const std::vector<std::pair<ResType, std::pair<int32, Bytes>>>& rsrcs, bool table = true) {
    rsrcw::Writer w(kAPPL, kQNLX);
    if (table)
      w.Add(kFontTableType, kFontTableId,
            panelwriter::FontTableRsrc({{"Own", 10}, {"Courier", 12, 1, 0}, {"", 0}, {"Helvetica", 9, 0, 1000}}, 1));
    for (const auto& r : rsrcs) w.Add(r.first, r.second.first, r.second.second);
    Put("texts.rsc", w.Write());
    file_ = Open("texts.rsc", kRsrcReadOnly);
    ASSERT_NE(file_, 0u);
  }
  static Bytes Saved(const SavedText& t) { return panelwriter::TextRecordRsrc(t); }
  static std::string Text(TRecord r) {
    UHandle t = TGetText(r);
    return std::string(reinterpret_cast<const char*>(*t + 4), GetNative32(*t));
  }
  RsrcFileRef file_ = 0;
};

SavedText TwoRuns() {
  SavedText t;
  t.text = "hello world";
  t.insertion = {0, 1, 0x00FF00};
  t.runs = {{0, 1, 0x112233}, {6, 3, 0x445566}};
  t.mode = 0x4;
  return t;
}

TEST_F(BoundaryTexts, ASavedTextLoadsWithItsFontsMapped) {
  Make({{kTextRecordType, {7, Saved(TwoRuns())}}});
  TRecord r = nullptr;
  ASSERT_EQ(TLoad(file_, nullptr, 7, &r, 1), kNoErr);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(DSGetHandleSize(r), kTRFixedSize + 2 * kTRRunSize);
  EXPECT_EQ(TRRunCount(r), 2);
  EXPECT_EQ(TRWord(r, kTRMode), 0x4u);
  EXPECT_EQ(TRWord(r, kTRLines), 0u);
  EXPECT_EQ(Text(r), "hello world");
  // Index 1 is the table's "Courier" 12 bold, index 3 "Helvetica" 9 weight 1000.
  const int32 courier = int32(TRWord(r, kTRRuns + 4));
  const int32 helvetica = int32(TRWord(r, kTRRuns + 2 * kTRRunSize + 4));
  Str255 name;
  int32 size = 0, style = 0, weight = 0;
  ASSERT_TRUE(TGetFontInfo(courier, name, &size, &style, &weight));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "Courier");
  EXPECT_EQ(size, 12);
  EXPECT_EQ(style, 1);
  ASSERT_TRUE(TGetFontInfo(helvetica, name, &size, &style, &weight));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "Helvetica");
  EXPECT_EQ(weight, 1000);
  EXPECT_EQ(TRWord(r, kTRRuns + kTRRunSize + 8), 0x112233u);
  EXPECT_EQ(TRWord(r, kTRRuns + 2 * kTRRunSize), 6u);
  // Colours of the insertion style and the background.
  DColor fg = 1, bg = 1;
  TGetColors(r, &fg, &bg);
  EXPECT_EQ(fg, 0x00FF00u);
  EXPECT_EQ(bg, kTransparentColor);
  const DColor newFg = gDefaultTextColor, newBg = 0x1000000;
  TSetColors(r, &newFg, &newBg, 0);
  TGetColors(r, &fg, &bg);
  EXPECT_EQ(fg, gDefaultTextColor);
  EXPECT_EQ(bg, 0x1000000u);
  const int32 refs = TFontReferences(courier);
  TDispose(r);
  EXPECT_EQ(TFontReferences(courier), refs - 2) << "the insertion style and one run held it";
}

TEST_F(BoundaryTexts, TheOldTypeAndTextsWithoutBytesLoad) {
  SavedText none = TwoRuns();
  none.storeText = false;
  SavedText empty = TwoRuns();
  empty.text.clear();
  Make({{kOldTextRecordType, {1, Saved(TwoRuns())}}, {kTextRecordType, {2, Saved(none)}},
        {kTextRecordType, {3, Saved(empty)}}});
  struct Case {
    int32 id;
    const char* text;
  } cases[] = {{1, "hello world"}, {2, ""}, {3, ""}};
  for (const Case& c : cases) {
    TRecord r = nullptr;
    ASSERT_EQ(TLoad(file_, nullptr, c.id, &r, 0), kNoErr) << c.id;
    EXPECT_EQ(Text(r), c.text) << c.id;
    TDispose(r);
  }
  // A text handle given replaces the stored text.
  UHandle mine = DSNewHandle(6);
  PutNative32(*mine, 2);
  std::memcpy(*mine + 4, "ok", 2);
  TRecord r = nullptr;
  ASSERT_EQ(TLoad(file_, mine, 1, &r, 0), kNoErr);
  EXPECT_EQ(TGetText(r), mine);
  TDispose(r);
}

TEST_F(BoundaryTexts, ALoadedRecordOwnsItsTextAndStartsInactive) {
  // Stored flags saying the text is shared or the record active do not hold
  // for a loaded record.
  SavedText shared = TwoRuns();
  shared.flags = kTRFlagSharedText | kTRFlagActive | kTRFlagSuspended | 0x1040 | 0x20;
  Make({{kTextRecordType, {1, Saved(shared)}}});
  const int32 live = LiveHandleCount();
  TRecord r = nullptr;
  ASSERT_EQ(TLoad(file_, nullptr, 1, &r, 0), kNoErr);
  EXPECT_EQ(TRWord(r, kTRFlags), 0x20u);
  TDispose(r);
  TReleaseFontReferences();
  TXFinishFonts();  // the fonts the load made, cached
  EXPECT_EQ(LiveHandleCount(), live) << "the text went with the record";
}

TEST_F(BoundaryTexts, MissingOrMalformedTextsFailCleanly) {
  Bytes good = Saved(TwoRuns());
  Bytes shortRec(good.begin(), good.begin() + 40);
  Bytes runsPast = good;
  runsPast[59] = 50;  // run count past the resource
  Bytes textPast = good;
  textPast[kTRFixedSize + 2 * kTRRunSize + 3] = 200;  // text count past the resource
  Bytes negative = good;
  negative[56] = 0x80;
  Make({{kTextRecordType, {1, shortRec}}, {kTextRecordType, {2, runsPast}}, {kTextRecordType, {3, textPast}},
        {kTextRecordType, {4, negative}}});
  for (int32 id : {1, 2, 3, 4}) {
    TRecord r = reinterpret_cast<TRecord>(1);
    EXPECT_EQ(TLoad(file_, nullptr, id, &r, 0), kArgErr) << id;
    EXPECT_EQ(r, nullptr);
  }
  TRecord r = reinterpret_cast<TRecord>(1);
  EXPECT_EQ(TLoad(file_, nullptr, 9, &r, 0), kRsrcNotFoundErr);
  EXPECT_EQ(r, nullptr);
  EXPECT_EQ(gFontErr & 2, 2);
}

TEST_F(BoundaryTexts, ATextOfAFileWithoutFontTableFails) {
  Make({{kTextRecordType, {1, Saved(TwoRuns())}}}, false);
  TRecord r = nullptr;
  EXPECT_EQ(TLoad(file_, nullptr, 1, &r, 0), kRsrcNotFoundErr);
  EXPECT_EQ(r, nullptr);
  EXPECT_EQ(TLoadFontTable(file_, nullptr, 0), kRsrcNotFoundErr);
  EXPECT_EQ(TLoadFontReference(file_, 1), kAppFont);
}

TEST_F(BoundaryTexts, UnmappedIndicesBecomeTheApplicationFont) {
  SavedText t = TwoRuns();
  t.runs[1].font = 2;  // the entry without a name
  t.runs[0].font = 0;  // before the first mapped index
  t.insertion.font = 99;
  Make({{kTextRecordType, {1, Saved(t)}}});
  TXInitFonts();
  const int32 appRefs = TFontReferences(kAppFont);
  TRecord r = nullptr;
  ASSERT_EQ(TLoad(file_, nullptr, 1, &r, 0), kNoErr);
  for (int32 i = 0; i < 3; ++i) EXPECT_EQ(int32(TRWord(r, kTRRuns + i * kTRRunSize + 4)), kAppFont) << i;
  TDispose(r);
  EXPECT_EQ(TFontReferences(kAppFont), appRefs) << "each run held a reference of its own";
  for (int32 index : {0, 2, 4, -1}) EXPECT_EQ(TLoadFontReference(file_, index), kAppFont) << index;
}

TEST_F(BoundaryTexts, CheckingATableComparesItsOwnFontsWithTheCallers) {
  const int32 sans = TNewFont(PS("DejaVu Sans"), 12, 0, 0);
  const int32 serif = TNewFont(PS("DejaVu Serif"), 12, 0, 0);
  const int32 other = TNewFont(PS("DejaVu Sans"), 14, 2, 600);
  const std::vector<FontEntry> entries = {{"dejavu sans", 12, 0, 0}, {"Courier", 12, 1, 0}};
  rsrcw::Writer w(kAPPL, kQNLX);
  w.Add(kFontTableType, kFontTableId, panelwriter::FontTableRsrc(entries, 1, true));
  Put("check.rsc", w.Write());
  file_ = Open("check.rsc", kRsrcReadOnly);
  const struct {
    const char* what;
    std::vector<int32> fonts;
    int32 errs;  // under 8 | 32; the mapped entry's stored metrics (none) always differ
  } cases[] = {
      {"the same font", {sans}, 32},
      {"a first index of 1 against 2 fonts", {sans, serif}, 8 | 32},
      {"another face", {serif}, 8 | 32},
      {"size, style and weight all differ", {other}, 8 | 32},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TCheckFontTable(file_, c.fonts.data(), int32(c.fonts.size())), kNoErr) << c.what;
    EXPECT_EQ(gFontErr & (8 | 32), c.errs) << c.what;
  }
  EXPECT_EQ(TFontMapCount(), 1) << "the table was read into the map again";
  RCloseFile(file_);
  file_ = 0;
  Make({}, false);
  EXPECT_EQ(TCheckFontTable(file_, &sans, 1), kRsrcNotFoundErr);
  EXPECT_EQ(gFontErr, 8);
  EXPECT_EQ(TCheckFontTable(file_, nullptr, 0), kRsrcNotFoundErr);
  EXPECT_EQ(gFontErr, 0);
  for (int32 f : {sans, serif, other}) TDisposeFont(f);
}

TEST_F(BoundaryTexts, FontTablesMapWildcardsAndMarkVersionOneEntries) {
  const int32 mine = TNewFont(PS("courier"), 14, 2, 0);
  rsrcw::Writer w(kAPPL, kQNLX);
  Bytes table = panelwriter::FontTableRsrc(
      {{"Courier", -32768, 0x8400, -32768}, {"Nowhere", 8, 0x400, 0}, {"Old", 8, 0, 0}}, 0, false, 1);
  w.Add(kFontTableType, kFontTableId, table);
  Put("fonts.rsc", w.Write());
  file_ = Open("fonts.rsc", kRsrcReadOnly);
  const int32 fonts[] = {mine};
  ASSERT_EQ(TLoadFontTable(file_, fonts, 1), kNoErr);
  EXPECT_EQ(gFontErr & 32, 32) << "old form";
  EXPECT_EQ(gFontSubstituted, 0);
  uInt32 flags = 9;
  const int32 f0 = TMapFontReference(file_, 0, &flags);
  EXPECT_EQ(flags, kFontMapMarked);
  int32 size = 0, style = 0, weight = 0;
  ASSERT_TRUE(TGetFontInfo(f0, nullptr, &size, &style, &weight));
  EXPECT_EQ(size, 14);
  EXPECT_EQ(style, 2) << "the mark stays in the map, the font's style is its bits 0-4";
  TDisposeFont(f0);
  EXPECT_EQ(TMapFontReference(file_, 2, &flags), TMapFontReference(file_, 2, nullptr));
  EXPECT_EQ(flags, 0u);
  TDisposeFont(mine);
}

TEST_F(BoundaryTexts, MalformedFontTablesAreRefused) {
  Bytes good = panelwriter::FontTableRsrc({{"A", 9}, {"B", 9}}, 0);
  Bytes endPast = good;
  endPast[7] = 40;
  Bytes firstPast = good;
  firstPast[5] = 3;
  Bytes namePast = good;
  namePast[11] = 200;
  Bytes nameLong = good;
  nameLong[good.size() - 2] = 90;  // the last name's length byte runs past
  for (const Bytes& bad : {Bytes(5), endPast, firstPast, namePast, nameLong}) {
    UHandle h = AZNewHandle(int32(bad.size()));
    if (!bad.empty()) std::memcpy(*h, bad.data(), bad.size());
    EXPECT_EQ(TReadFontTable(77, h, nullptr, 0), kArgErr);
    AZDisposeHandle(h);
  }
  UHandle h = AZNewHandle(int32(good.size()));
  std::memcpy(*h, good.data(), good.size());
  EXPECT_EQ(TReadFontTable(77, h, nullptr, 0), kNoErr);
  AZDisposeHandle(h);
}

}  // namespace
}  // namespace rsrctest
