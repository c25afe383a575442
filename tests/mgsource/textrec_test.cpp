// What the panel loader needs of texts and fonts: the saved text record read
// with its runs' fonts mapped through the file's font table, the table and
// its map, colours and disposal.
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "mgsource/draw/fonts.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/textoffset.h"
#include "mgsource/window/textrec.h"
#include "platform/qx_codepage.h"
#include "platform/qx_sysinfo.h"
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
  empty.runs.resize(1);  // a run may not start past the text's end
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

// A saved text names the application font "0" in the file's font table,
// with whatever size the saving side's had: it loads as the application
// font, and a named font as itself.
TEST_F(BoundaryTexts, ASavedTextKeepsTheApplicationFontAndItsNamedFonts) {
  TXInitFonts();
  const int32 app = TStandardFont(0);
  int32 size = 0;
  ASSERT_TRUE(TGetFontInfo(app, nullptr, &size, nullptr, nullptr));
  SavedText t;
  t.text = "abc def ghi";
  t.runs = {{0, 0, 0}, {4, 1, 0}, {8, 2, 0}};
  rsrcw::Writer w(kAPPL, kQNLX);
  w.Add(kFontTableType, kFontTableId,
        panelwriter::FontTableRsrc({{"0", int16(size)}, {"0", int16(size + 3)}, {"Courier", 12, 1, 0}}));
  w.Add(kTextRecordType, 1, Saved(t));
  Put("appfont.rsc", w.Write());
  file_ = Open("appfont.rsc", kRsrcReadOnly);
  TRecord r = nullptr;
  ASSERT_EQ(TLoad(file_, nullptr, 1, &r, 0), kNoErr);
  for (int32 run : {0, 1, 2}) EXPECT_EQ(int32(TRWord(r, kTRRuns + run * kTRRunSize + 4)), app) << run;
  Str255 name;
  ASSERT_TRUE(TGetFontInfo(int32(TRWord(r, kTRRuns + 3 * kTRRunSize + 4)), name, &size, nullptr, nullptr));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]) + std::to_string(size), "Courier12");
  TDispose(r);
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


// Records made, copied, scaled and changed in memory; fonts from the table.
class TextRecords : public BoundaryTexts {
 protected:
  void SetUp() override {
    BoundaryTexts::SetUp();
    TXInitFonts();
    sans_ = TNewFont(PS("DejaVu Sans"), 12, 0, 0);
  }
  void TearDown() override {
    TDisposeFont(sans_);
    BoundaryTexts::TearDown();
  }
  TRecord New(uInt32 mode, const char* text, const Rect& view = Rect{0, 0, 50, 100}) {
    return TNew(&view, mode, reinterpret_cast<const uChar*>(text), int32(std::strlen(text)), sans_, 0x123456,
                0xFFFFFF);
  }
  int32 sans_ = -1;
};

TEST_F(TextRecords, NewRecordsTakeTheirFontModeAndShownFlag) {
  const struct {
    uInt32 mode;
    int32 font;  // -1: an invalid number
    uInt32 storedMode, flags;
    int32 fontErr;
  } cases[] = {
      {0x1004, 0, 0x1004, 0, 0},        {0x3003, 0, 0x3, 0, 0},      {0x3000, 0, 0, 0, 0},
      {0x8001, 0, 0x8001, 0x800, 0},    {0x4, -1, 0x4, 0, 16},
  };
  for (const auto& c : cases) {
    gFontErr = 0;
    const Rect view{0, 0, 50, 100};
    const int32 font = c.font < 0 ? -1 : sans_;
    const int32 refs = TFontReferences(sans_);
    TRecord r = TNew(&view, c.mode, reinterpret_cast<const uChar*>("ab"), 2, font, 0x123456, 0xFFFFFF);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(TGetMode(r), c.storedMode) << std::hex << c.mode;
    EXPECT_EQ(TRWord(r, kTRFlags), c.flags) << std::hex << c.mode;
    EXPECT_EQ(gFontErr, c.fontErr) << std::hex << c.mode;
    EXPECT_EQ(TRData(r)->runs[0].font, c.font < 0 ? kAppFont : sans_);
    if (c.font >= 0) { EXPECT_EQ(TFontReferences(sans_), refs + 1); }
    EXPECT_EQ(Text(r), "ab");
    TDispose(r);
    EXPECT_EQ(TFontReferences(sans_), refs);
  }
}

TEST_F(TextRecords, SetRectCollapsesAndPlacesTheDestination) {
  const int16 bar = int16(PlatGetSystemMetric(kPlatMetricVScrollWidth));
  const struct {
    uInt32 mode;
    Rect first, outer;  // first: set before, for kind 2's wider destination
    int16 viewRight;
    int32 destLeft, destRight;
    bool collapsed;
  } cases[] = {
      {0x1, {0, 0, 0, 0}, {0, 0, 50, 100}, 100, 1, 100, false},
      {0x11, {0, 0, 0, 0}, {0, 10, 50, 110}, 110, 11, 110, false},
      // Kind 2 keeps a wider destination: right edges meet, centres meet
      // (halves truncated), or the left margin.
      {0x12, {0, 0, 50, 300}, {0, 0, 50, 100}, 100, -198, 100, false},
      {0x22, {0, 0, 50, 300}, {0, 0, 50, 101}, 101, -98, 200, false},
      {0x02, {0, 0, 50, 300}, {0, 0, 50, 100}, 100, 1, 299, false},
      {0x02, {0, 0, 50, 30}, {0, 0, 50, 100}, 100, 1, 100, false},
      {0x11001, {0, 0, 0, 0}, {0, 0, 50, 100}, 92, 1, 92, false},  // thin bar
      {0x11001, {0, 0, 0, 0}, {0, 0, 50, 9}, 1, 1, 1, true},       // 2 + 8 needed
      {0x11001, {0, 0, 0, 0}, {0, 0, 50, 10}, 2, 1, 2, false},
      {0x13001, {0, 0, 0, 0}, {0, 0, 50, 17}, 9, 1, 9, true},      // 2 + 8 + 8 needed
      {0x1001, {0, 0, 0, 0}, {0, 0, 50, 100}, int16(100 - bar), 1, 100 - bar, false},
      {0x1, {0, 0, 0, 0}, {0, 0, -1, 100}, 100, 1, 100, true},     // negative height
      {0x3000, {0, 0, 0, 0}, {0, 0, 50, 1}, 1, 1, 1, true},        // kind 0 has no bars: below 2
  };
  for (const auto& c : cases) {
    TRecord r = New(c.mode, "x");
    if (c.first.right) TSetRect(r, &c.first);
    TSetRect(r, &c.outer);
    const TRecordData* d = TRData(r);
    EXPECT_EQ(d->view.right, c.viewRight) << std::hex << c.mode << " " << c.outer.right;
    EXPECT_EQ(d->dest.left, c.destLeft) << std::hex << c.mode << " " << c.outer.right;
    EXPECT_EQ(d->dest.right, c.destRight) << std::hex << c.mode << " " << c.outer.right;
    EXPECT_EQ(d->dest.top, c.outer.top);
    EXPECT_EQ((d->flags & kTRFlagCollapsed) != 0, c.collapsed) << std::hex << c.mode << " " << c.outer.right;
    Rect view;
    LRect dest;
    TGetRect(r, &view, &dest);
    EXPECT_EQ(view.right, c.outer.right) << "the bars added back";
    EXPECT_EQ(view.bottom, c.outer.bottom) << "the bars added back";
    TDispose(r);
  }
}

TEST_F(TextRecords, ReplacingTextPinsTheSelectionAndFoldsTheRuns) {
  Make({{kTextRecordType, {1, Saved(TwoRuns())}}});
  TRecord r = nullptr;
  ASSERT_EQ(TLoad(file_, nullptr, 1, &r, 0), kNoErr);
  TRData(r)->selStart = 3;
  TRData(r)->selEnd = 9;
  TRData(r)->flags |= 0x1040;
  const int32 courier = TRData(r)->runs[1].font, helvetica = TRData(r)->runs[2].font;
  const int32 courierRefs = TFontReferences(courier), helveticaRefs = TFontReferences(helvetica);
  UHandle before = TGetText(r);
  EXPECT_EQ(TReplaceText(r, reinterpret_cast<const uChar*>("hello world"), 11), kNoErr);
  EXPECT_EQ(TGetText(r), before) << "equal text: nothing happens";
  EXPECT_EQ(TRRunCount(r), 2);
  EXPECT_EQ(TReplaceText(r, reinterpret_cast<const uChar*>("hey"), 3), kNoErr);
  EXPECT_EQ(Text(r), "hey");
  EXPECT_EQ(DSGetHandleSize(r), kTRFixedSize) << "no runs left";
  const TRecordData* d = TRData(r);
  EXPECT_TRUE(d->runs[0].font == courier && d->runs[0].colour == 0x112233u) << "the first run's style";
  EXPECT_TRUE(d->selStart == 3 && d->selEnd == 3 && (d->flags & 0x1040) == 0);
  EXPECT_EQ(TFontReferences(courier), courierRefs - 1) << "the insertion style's own reference went";
  EXPECT_EQ(TFontReferences(helvetica), helveticaRefs - 1);
  TDispose(r);
}

TEST_F(TextRecords, BlankTextsAndHashes) {
  const struct {
    const char* text;
    Bool32 blank;
  } blanks[] = {{"", 1}, {"\t\f\b", 1}, {" \r\n", 1}, {"  a ", 0}, {"\x01", 0}};
  for (const auto& c : blanks) {
    TRecord r = New(1, c.text);
    EXPECT_EQ(TIsBlank(r), c.blank) << c.text;
    TDispose(r);
  }
  const struct {
    const char* text;
    Bool32 upper;
    uInt32 hash;
  } hashes[] = {{"", 0, 0},         {"abc", 0, 0x6783},         {"abc", 1, 0x4563},
                {"ABC", 0, 0x4563}, {"abcdefgh", 0, 0x89ABAA8}, {"abcdefghij", 0, 0xABAA66A}};  // folded from the 8th
  for (const auto& c : hashes) {
    Str255 p;
    p[0] = uChar(std::strlen(c.text));
    std::memcpy(p + 1, c.text, p[0]);
    EXPECT_EQ(PStrHash(p, c.upper), c.hash) << c.text << " " << c.upper;
  }
}

TEST_F(TextRecords, EveryFieldSurvivesLoadCopyAndScaledCopy) {
  SavedText t = TwoRuns();
  t.flags = 0x0600;
  t.mode = 0x10024;
  t.view[0] = 10, t.view[1] = 20, t.view[2] = 40, t.view[3] = 60;
  t.background = 0x445566;
  t.selStart = 2;
  t.selEnd = 5;
  t.carried[0] = 0xBEEF;
  t.carried[1] = 0x1234;
  Make({{kTextRecordType, {1, Saved(t)}}});
  TRecord r = nullptr;
  ASSERT_EQ(TLoad(file_, nullptr, 1, &r, 0), kNoErr);
  const int32 courier = TRData(r)->runs[0].font;
  const int32 refs = TFontReferences(courier);
  // Every field; a scaled copy (2x) has its rectangles doubled and the
  // thin bars' mapped width and height in the selection words.
  const auto same = [&](TRecord c, bool scaled) {
    const TRecordData* d = TRData(c);
    const int32 k = scaled ? 2 : 1;
    EXPECT_EQ(std::vector<int64_t>({d->flags & ~uInt32(kTRFlagScaled | kTRFlagSharedText), d->mode, d->background,
                                    d->carried[0], d->carried[1], d->runCount, d->runs[2].start, d->runs[1].colour,
                                    d->view.top, d->view.right, d->dest.left, d->dest.bottom, d->selStart, d->selEnd}),
              std::vector<int64_t>({0x0600, 0x10024, 0x445566, 0xBEEF, 0x1234, 2, 6, 0x112233, 10 * k, 60 * k,
                                    20 * k, 40 * k, scaled ? 16 : 2, scaled ? 16 : 5}))
        << scaled;
    EXPECT_EQ(Text(c), "hello world");
  };
  same(r, false);
  TRecord shared = TDuplicate(r, 1), copied = TDuplicate(r, 0);
  ASSERT_NE(shared, nullptr);
  ASSERT_NE(copied, nullptr);
  same(shared, false);
  same(copied, false);
  EXPECT_TRUE(TGetText(shared) == TGetText(r) && (TRWord(shared, kTRFlags) & kTRFlagSharedText));
  EXPECT_TRUE(TGetText(copied) != TGetText(r) && !(TRWord(copied, kTRFlags) & kTRFlagSharedText));
  EXPECT_EQ(TFontReferences(courier), refs + 4) << "insertion style and first run, in each copy";
  const Rect from{0, 0, 100, 100}, to{0, 0, 200, 200};
  TRecord scaled = TScaleText(r, &from, &to);
  ASSERT_NE(scaled, nullptr);
  same(scaled, true);
  EXPECT_EQ(TRWord(scaled, kTRFlags) & kTRFlagScaled, kTRFlagScaled);
  EXPECT_NE(TRData(scaled)->runs[0].font, courier) << "the run fonts are scaled";
  TDispose(scaled);
  TDispose(shared);
  TDispose(copied);
  EXPECT_EQ(TFontReferences(courier), refs);
  EXPECT_EQ(Text(r), "hello world") << "the shared text stays with its owner";
  // A collapsed record is copied without scaling.
  TRData(r)->flags |= kTRFlagCollapsed;
  scaled = TScaleText(r, &from, &to);
  EXPECT_EQ(TRData(scaled)->view.right, 60);
  EXPECT_EQ(TRWord(scaled, kTRFlags) & kTRFlagScaled, 0u);
  TDispose(scaled);
  TDispose(r);
}

TEST_F(TextRecords, RunsOutOfOrderOrABadSelectionFailTheLoad) {
  const auto with = [](auto change) {
    SavedText t = TwoRuns();
    change(t);
    return Saved(t);
  };
  const std::vector<Bytes> bad = {
      with([](SavedText& t) { t.runs = {{0, 1, 0}, {6, 3, 0}, {3, 1, 0}}; }),
      with([](SavedText& t) { t.runs = {{2, 1, 0}, {6, 3, 0}}; }),
      with([](SavedText& t) { t.runs = {{0, 1, 0}, {12, 3, 0}}; }),
      with([](SavedText& t) { t.selStart = 5, t.selEnd = 4; }),
      with([](SavedText& t) { t.selEnd = 12; }),
      with([](SavedText& t) { t.selStart = -1; }),
  };
  std::vector<std::pair<ResType, std::pair<int32, Bytes>>> rsrcs = {{kTextRecordType, {1, Saved(TwoRuns())}}};
  for (size_t i = 0; i < bad.size(); ++i) rsrcs.push_back({kTextRecordType, {int32(10 + i), bad[i]}});
  Make(rsrcs);
  TRecord r = nullptr;
  ASSERT_EQ(TLoad(file_, nullptr, 1, &r, 0), kNoErr);
  const int32 courier = TRData(r)->runs[0].font;
  TDispose(r);
  const int32 refs = TFontReferences(courier), live = LiveHandleCount();
  for (size_t i = 0; i < bad.size(); ++i) {
    r = reinterpret_cast<TRecord>(1);
    EXPECT_EQ(TLoad(file_, nullptr, int32(10 + i), &r, 0), kArgErr) << i;
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(TFontReferences(courier), refs) << i;
    EXPECT_EQ(LiveHandleCount(), live) << i;
  }
  // A shorter text given in place of the stored one keeps the runs that
  // start inside it and pins the selection.
  SavedText t = TwoRuns();
  t.selStart = 1;
  t.selEnd = 9;
  RCloseFile(file_);
  Make({{kTextRecordType, {1, Saved(t)}}});
  UHandle mine = DSNewHandle(4 + 3);
  PutNative32(*mine, 3);
  std::memcpy(*mine + 4, "hey", 3);
  ASSERT_EQ(TLoad(file_, mine, 1, &r, 0), kNoErr);
  EXPECT_EQ(TRRunCount(r), 1);
  EXPECT_EQ(DSGetHandleSize(r), kTRFixedSize + kTRRunSize);
  EXPECT_TRUE(TRData(r)->selStart == 1 && TRData(r)->selEnd == 3);
  TDispose(r);
}

// Line layout, measured in DejaVu Sans 12 through the font table.
class TextLines : public TextRecords {
 protected:
  int32 Width(const std::string& t) {
    Point p{0, 0};
    TTextSize(reinterpret_cast<const uChar*>(t.data()), int32(t.size()), sans_, &p);
    return p.h;
  }
  // A record whose destination is avail pixels wide.
  TRecord Laid(uInt32 mode, const std::string& text, int32 avail) {
    const Rect view{0, 0, 40, int16(avail + 1)};
    TRecord r = TNew(&view, mode, reinterpret_cast<const uChar*>(text.data()), int32(text.size()), sans_, 0, 0xFFFFFF);
    TValidateLines(r);
    return r;
  }
  static std::vector<int32> Starts(TRecord r) {
    std::vector<int32> v;
    for (int32 i = 0; i < TLineCount(r); ++i) v.push_back(TLineAt(r, i).start);
    return v;
  }
};

TEST_F(TextLines, BreaksAndWrapsStartLinesWhereExpected) {
  const int32 hello = Width("hello ");
  int32 kind1 = 6;  // the offset after the last character of "world" that fits
  while (Width("hello " + std::string("world", kind1 - 5)) <= hello + 10) ++kind1;
  const struct {
    uInt32 mode;
    std::string text;
    int32 avail;
    std::vector<int32> starts;
  } cases[] = {
      {2, "", 100, {0}},
      {2, "a\r\nb", 100, {0, 3}},
      {2, "a\n", 100, {0, 2}},
      {2, "a\n\rb", 100, {0, 3}},
      {2, "a\r\rb", 100, {0, 2, 3}},
      {4, "hello world", hello + 10, {0, 6}},
      {1, "hello world", hello + 10, {0, kind1}},
      {0, "a\nb\nc", 100, {0}},
      {4 | kTRModeHex, "abc", 1000, {0}},
      {4, "a\r\n\r\nb", 100, {0, 3, 5}},
  };
  for (const auto& c : cases) {
    TRecord r = Laid(c.mode, c.text, c.avail);
    EXPECT_EQ(Starts(r), c.starts) << c.mode << " " << c.text;
    TDispose(r);
  }
  // A right-justified line measures its content: not its break, nor the
  // blanks skipped before the next line.
  TRecord right = Laid(4 | kTRJustifyRight, "abc\r\n   def", 200);
  EXPECT_EQ(Starts(right), (std::vector<int32>{0, 8}));
  EXPECT_EQ(TLineAt(right, 0).width, Width("abc"));
  TDispose(right);
}

TEST_F(TextLines, WrappedLinesAreNeverEmptyAndFitUnlessOneCharacter) {
  const struct {
    uInt32 mode;
    std::string text;
    int32 avail;
    char before;  // every wrapped line after the first starts after it (0: any)
  } cases[] = {
      {4, "usr/local/share/doc", Width("usr/local/sh"), '/'},
      {4, "abcdefghijklmnopqrstuvwxyz", Width("abcdefg"), 0},
      {4, "abcdefghijklmnopqrstuvwxyz", 1, 0},
      {1, "one two three four five six", Width("one two th"), 0},
      {4 | kTRJustifyRight, "one   two   three   four", Width("one   two"), 0},
  };
  for (const auto& c : cases) {
    TRecord r = Laid(c.mode, c.text, c.avail);
    const auto starts = Starts(r);
    ASSERT_GE(starts.size(), 2u) << c.text;
    for (size_t i = 0; i < starts.size(); ++i) {
      const int32 end = i + 1 < starts.size() ? starts[i + 1] : int32(c.text.size());
      EXPECT_LT(starts[i], end) << c.text << " line " << i;
      const TLineEntry e = TLineAt(r, int32(i));
      if (end - starts[i] > 1) { EXPECT_LE(e.trimmed, c.avail) << c.text << " line " << i; }
      if (i && c.before) { EXPECT_EQ(c.text[starts[i] - 1], c.before) << c.text; }
      if (i && (c.mode & kTRJustifyRight)) { EXPECT_NE(c.text[starts[i]], ' ') << c.text; }
    }
    TDispose(r);
  }
}

TEST_F(TextLines, EmptyLinesTakeTheFontAndDisplayFormsMeasureTheirCharacters) {
  int32 ascent = 0, descent = 0, leading = 0;
  TGetFontMetrics(sans_, &ascent, &descent, &leading);
  TRecord empty = Laid(4, "", 100), trailing = Laid(2, "ab\n", 100);
  for (TRecord r : {empty, trailing}) {
    const TLineEntry last = TLineAt(r, TLineCount(r) - 1);
    EXPECT_EQ(last.height, ascent + descent + leading);
    EXPECT_EQ(last.ascent, ascent);
    EXPECT_EQ(last.width, 0);
    TDispose(r);
  }
  TRecord pw = Laid(2 | kTRModePassword, "ab c\nxyz", 200);
  EXPECT_EQ(TLineAt(pw, 0).width, Width("****"));
  EXPECT_EQ(TMeasureRange(pw, 5, 3), Width("***"));
  TDispose(pw);
  // Hex: two digits per byte, a blank after every second.
  const struct {
    uInt32 mode;
    std::string in, out;
  } forms[] = {{kTRModeHex, "\x01\xAB\x7F", "01AB 7F"}, {kTRModeHex, "ab", "6162 "},
               {kTRModePassword, "a\r\nb", "*\r\n*"}, {0, "abc", ""}};
  for (const auto& f : forms) {
    int32 len = int32(f.in.size());
    UPtr p = TMakeDisplayText(f.mode, reinterpret_cast<const uChar*>(f.in.data()), &len, sans_);
    EXPECT_EQ(p ? std::string(reinterpret_cast<char*>(p), len) : std::string(), f.out);
    if (p) DSDisposePtr(p);
  }
  // Hex lines take an even count of bytes: (2 x 100) / (5 x blank), rounded down to even.
  const int32 blank = Width(" ");
  int32 bytes = (2 * 100) / (5 * blank);
  bytes = bytes >= 2 ? bytes & ~1 : 1;
  TRecord hex = Laid(4 | kTRModeHex, std::string(size_t(bytes) * 3 + 3, 'x'), 100);
  EXPECT_EQ(Starts(hex), (std::vector<int32>{0, bytes, 2 * bytes, 3 * bytes}));
  TDispose(hex);
}

TEST_F(TextLines, RelayoutMarksWidenAndWholeLinesAreWideAtMost32767) {
  TRecord r = Laid(2, "abc\ndef", 100);
  const struct {
    int32 start, oldLength, newLength;
    uInt32 pending;
    int32 changeStart, changeEnd, delta;
  } steps[] = {{2, 0, 0, 0, 0, 0, 0}, {5, 1, 3, 1, 5, 8, 2}, {1, 2, 0, 1, 1, 6, 0}, {-1, 0, 0, 1, -1, 6, 0}};
  for (const auto& s : steps) {
    TMarkRelayout(r, s.start, s.oldLength, s.newLength);
    UHandle h = TRData(r)->lines;
    EXPECT_EQ(GetNative32(*h + kTLPending) & 1, s.pending) << s.start;
    if (!s.pending) continue;
    EXPECT_EQ(int32(GetNative32(*h + kTLChangeStart)), s.changeStart) << s.start;
    if (s.changeStart >= 0) {
      EXPECT_EQ(int32(GetNative32(*h + kTLChangeEnd)), s.changeEnd) << s.start;
      EXPECT_EQ(int32(GetNative32(*h + kTLDelta)), s.delta) << s.start;
    }
  }
  TDispose(r);
  TRecord wide = Laid(2, std::string(20000, 'W'), 100);
  EXPECT_EQ(TLineAt(wide, 0).width, 32767);
  LRect dest{};
  TGetRect(wide, nullptr, &dest);
  EXPECT_EQ(LRectWidth(&dest), 32767);
  TDispose(wide);
}

TEST_F(TextLines, ABoxLaidOutAgainStaysWhereItIs) {
  // Lines 40 pixels narrower than the view: each alignment moves the box.
  const int32 widest = Width("wider line");
  const struct {
    uInt32 justify;
    int32 left;
  } rows[] = {{0, 1}, {kTRJustifyRight, 41}, {kTRJustifyCentre, 21}};
  for (const auto& row : rows) {
    TRecord r = Laid(kTRKindBox | row.justify, "box\nwider line", widest + 40);
    LRect first{}, again{};
    TGetRect(r, nullptr, &first);
    EXPECT_TRUE(first.left == row.left && first.right == row.left + widest) << row.justify;
    for (int32 i = 0; i < 3; ++i, TMarkRelayout(r, -1, 0, 0)) TGetRect(r, nullptr, &again);  // laid out twice more
    EXPECT_EQ(std::memcmp(&first, &again, sizeof first), 0) << row.justify;
    TDispose(r);
  }
}

TEST_F(TextLines, OffsetsAndPointsAgreeAtEveryBoundary) {
  const std::string text = "usr/local/share/doc/more/words/here";
  for (uInt32 justify : {0u, uInt32(kTRJustifyRight), uInt32(kTRJustifyCentre)}) {
    TRecord r = Laid(4 | justify, text, Width("usr/local/sh"));
    ASSERT_GE(TLineCount(r), 3) << justify;
    for (int32 o = 0; o <= int32(text.size()); ++o) {
      TLineEntry e{};
      const Point pt = TOffsetToPt(r, o, 1, &e);
      EXPECT_EQ(TPtToOffset(r, pt, 0), o) << justify << " at " << o;
    }
    // A caret at the soft break shows at the end of the upper line unless flagged.
    const TLineEntry first = TLineAt(r, 0), second = TLineAt(r, 1);
    const Point soft = TOffsetToPt(r, second.start, 0, nullptr), flagged = TOffsetToPt(r, second.start, 1, nullptr);
    EXPECT_EQ(soft.v, TRData(r)->dest.top + first.ascent) << justify;
    EXPECT_EQ(flagged.v, TRData(r)->dest.top + first.height + second.ascent) << justify;
    if (!justify) { EXPECT_EQ(soft.h, TRData(r)->dest.left + first.width); }
    TDispose(r);
  }
  // A click at 40 % of a character picks its left boundary and sets the
  // caret flags; at 60 % the right one, flags cleared.
  TRecord r = Laid(4, "WWW", 200);
  const int32 w = Width("W"), left = TRData(r)->dest.left, base = TOffsetToPt(r, 0, 1, nullptr).v;
  const struct {
    int32 tenths, offset;
    bool flags;
  } clicks[] = {{4, 1, true}, {6, 2, false}};
  for (const auto& c : clicks) {
    const Point pt{int16(base), int16(left + w + w * c.tenths / 10)};
    EXPECT_EQ(TPtToOffset(r, pt, kTPtClick), c.offset) << c.tenths;
    EXPECT_EQ((TRData(r)->flags & 0x600) == 0x600, c.flags) << c.tenths;
  }
  EXPECT_EQ(TPtToOffset(r, Point{int16(TRData(r)->dest.top - 1), 0}, 0), 0);
  EXPECT_EQ(TPtToOffset(r, Point{int16(TRData(r)->dest.bottom), 0}, 0), 3);
  TDispose(r);
}

TEST_F(TextLines, CharacterStepsArePinnedAndBoundariesCounted) {
  const uChar* t = reinterpret_cast<const uChar*>("abcd");
  const struct {
    int32 offset, step, want;
  } steps[] = {{0, -1, 0}, {4, 1, 4}, {2, 1, 3}, {2, -1, 1}, {9, -1, 3}, {-3, 1, 1}};
  for (const auto& c : steps) EXPECT_EQ(TStepCharOffset(t, 4, c.offset, c.step, sans_), c.want) << c.offset;
  int32 maxBytes = 0;
  Bool32 single = 0;
  TGetFontCharInfo(sans_, &maxBytes, &single);
  EXPECT_EQ(maxBytes * 10 + single, 11);
  for (uInt32 mode : {4u, 4u | kTRModeHex}) {
    TRecord r = Laid(mode, "hello", 100);
    UHandle h = nullptr;
    EXPECT_EQ(TCharPositions(r, 1, 9, &h), 4) << mode;
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(DSGetHandleSize(h), 5 * 4);
    EXPECT_EQ(reinterpret_cast<int32*>(*h)[4], 5);
    DSDisposeHandle(h);
    TDispose(r);
  }
}

// Double-byte characters whose trail bytes are a backslash or a lead byte:
// no line starts inside one, a word ends only at a real blank or comma, and
// every offset maps through a point to a character boundary.
TEST_F(TextLines, DoubleByteTextWrapsAndMapsOnWholeCharacters) {
  struct CodePage {
    CodePage() { PlatSetDoubleByteCodePage(true); }
    ~CodePage() { PlatSetDoubleByteCodePage(false); }
  } dbcs;
  const std::string text = "\x81\\\x82\\\x83\xA1 \x84\\\x85\xA0,\x86\\\x87\\\x88\\\x89\\ \x8A\\\x8B\\";
  std::vector<bool> boundary(text.size() + 1, false);
  for (const char* p = text.c_str(); boundary[size_t(p - text.c_str())] = true, *p; p = PlatCharNext(p)) {}
  for (const char* face : {"DejaVu Sans", "DejaVu Sans Mono"}) {
    const int32 font = TNewFont(PS(face), 19, 0, 0);
    int32 maxBytes = 0;
    TGetFontCharInfo(font, &maxBytes, nullptr);
    ASSERT_EQ(maxBytes, 2) << face;
    Point whole{0, 0}, word{0, 0};
    TTextSize(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), font, &whole);
    int32 longest = 0;  // the widest word
    for (auto [at, length] : {std::pair{0, 6}, {7, 5}, {12, 8}, {21, 4}}) {
      TTextSize(reinterpret_cast<const uChar*>(text.data()) + at, length, font, &word);
      longest = std::max<int32>(longest, word.h);
    }
    for (uInt32 kind : {1u, 4u}) {
      for (int32 avail = 1; avail <= whole.h; avail += 3) {
        const Rect view{0, 0, 40, int16(avail + 1)};
        TRecord r = TNew(&view, kind, reinterpret_cast<const uChar*>(text.data()), int32(text.size()), font, 0, 0);
        TValidateLines(r);
        for (int32 i = 1; i < TLineCount(r); ++i) {
          const int32 at = TLineAt(r, i).start;
          ASSERT_TRUE(boundary[size_t(at)]) << face << " kind " << kind << " avail " << avail << " line " << i;
          if (kind == 4 && avail >= longest) {
            EXPECT_TRUE(text[at - 1] == ' ' || (text[at - 1] == ',' && boundary[at - 1]));
          }
        }
        for (int32 o = 0; o <= int32(text.size()); ++o) {
          const int32 back = TPtToOffset(r, TOffsetToPt(r, o, 1, nullptr), 0);
          EXPECT_TRUE(boundary[size_t(back)] && (back == o || !boundary[size_t(o)])) << face << " " << o << " " << back;
        }
        TDispose(r);
      }
    }
    TDisposeFont(font);
  }
}

TEST_F(TextLines, TwoRunsTakeTheLargestAscentAndDescentAndAddTheirWidths) {
  const int32 big = TNewFont(PS("DejaVu Serif"), 20, 0, 0);
  TRecord r = Laid(2, "abcdef", 300);
  ASSERT_EQ(DSSetHandleSize(r, kTRRuns + 3 * kTRRunSize), kNoErr);
  for (int32 i = 1; i <= TRData(r)->runCount; ++i) TDisposeFont(TRData(r)->runs[i].font);
  TRData(r)->runCount = 2;
  TRData(r)->runs[1] = TStyleRun{0, sans_, 0};
  TRData(r)->runs[2] = TStyleRun{3, big, 0};
  TAddFontReference(sans_);
  TAddFontReference(big);
  TRData(r)->selStart = TRData(r)->selEnd = 6;
  int32 a1 = 0, d1 = 0, l1 = 0, a2 = 0, d2 = 0, l2 = 0;
  TGetFontMetrics(sans_, &a1, &d1, &l1);
  TGetFontMetrics(big, &a2, &d2, &l2);
  Point p{0, 0};
  TTextSize(reinterpret_cast<const uChar*>("def"), 3, big, &p);
  TLineEntry e{0, 0, 0, 0, 0};
  EXPECT_EQ(TMeasureLine(r, &e, 6), Width("abc") + p.h);
  EXPECT_EQ(e.ascent, std::max(a1, a2));
  EXPECT_EQ(e.height, std::max(a1, a2) + std::max(d1 + l1, d2 + l2));
  TTextSize(reinterpret_cast<const uChar*>("d"), 1, big, &p);
  EXPECT_EQ(TMeasureRange(r, 2, 2), Width("c") + p.h);
  TDispose(r);
  TDisposeFont(big);
}

TEST_F(TextLines, AnEditMeasuresOnlyTheLinesAroundItAndEqualsAFullLayout) {
  std::string words, rows;
  for (int32 i = 0; i < 400; ++i) words += "word" + std::to_string(1000 + i) + " ";
  for (int32 i = 0; i < 200; ++i) rows += "row\r";
  const int32 two = Width("word1000 word1001 ") + Width("word") / 2;  // two words a line, room for one more byte
  const struct {
    uInt32 mode;
    const std::string& text;
    int32 avail;
    std::string insert;
    bool widens;
  } cases[] = {{4, words, two, "x", false},
               {4 | kTRJustifyRight, words, two, "x", false},
               {2, rows, 100, std::string(40, 'W'), true}};
  auto table = [](TRecord r) {
    std::vector<std::array<int32, 5>> v;
    for (int32 i = 0; i < TLineCount(r); ++i) {
      const TLineEntry e = TLineAt(r, i);
      v.push_back({e.start, e.ascent, e.height, e.width, e.trimmed});
    }
    return v;
  };
  for (const auto& c : cases) {
    TRecord r = Laid(c.mode, c.text, c.avail);
    ASSERT_GE(TLineCount(r), 200) << c.mode;
    const LRect before = TRData(r)->dest;
    const int32 at = TLineAt(r, 50).start + 2;
    const std::string edited = c.text.substr(0, size_t(at)) + c.insert + c.text.substr(size_t(at));
    UHandle t = TRData(r)->text;
    ASSERT_EQ(DSSetHandleSize(t, int32(4 + edited.size())), kNoErr);
    PutNative32(*t, uInt32(edited.size()));
    std::memcpy(*t + 4, edited.data(), edited.size());
    TMarkRelayout(r, at, 0, int32(c.insert.size()));
    const int32 measured = TLayoutMeasuredLines();
    TValidateLines(r);
    EXPECT_LE(TLayoutMeasuredLines() - measured, 3) << c.mode;
    TRecord fresh = Laid(c.mode, edited, c.avail);
    EXPECT_EQ(table(r), table(fresh)) << c.mode;
    const LRect &got = TRData(r)->dest, &want = TRData(fresh)->dest;
    EXPECT_EQ(std::vector<int32>({got.top, got.left, got.bottom, got.right}),
              std::vector<int32>({want.top, want.left, want.bottom, want.right}))
        << c.mode;
    EXPECT_EQ(LRectWidth(&got) > LRectWidth(&before), c.widens) << c.mode;
    TDispose(fresh);
    TDispose(r);
  }
}

}  // namespace
}  // namespace rsrctest
