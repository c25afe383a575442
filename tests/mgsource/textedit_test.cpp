// Editing text records: keys, style runs through every change, and the
// exchange with a clipboard record.
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mgsource/byteorder.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/datetime.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "platform/qx_alert.h"
#include "test_support.h"

namespace {

int gBeeps = 0;

class TextEdit : public ManagerTest {
 protected:
  void SetUp() override {
    // The thread manager and the pen table of the text manager's first
    // start live on: made before the count.
    EnsureManagers();
    static const bool textStarted = [] {
      TXInitText();
      TXFinishText();
      return true;
    }();
    (void)textStarted;
    ManagerTest::SetUp();
    TXFinishFonts();
    TXInitFonts();
    Renew();
    ASSERT_GE(plain_, 0);
    ASSERT_GE(bold_, 0);
    gBeeps = 0;
    previousBeep_ = PlatSetBeepProc([] { ++gBeeps; });
  }
  void TearDown() override {
    PlatSetBeepProc(previousBeep_);
    for (TRecord r : made_) TDispose(r);
    EXPECT_EQ(TFontReferences(plain_), 1);
    EXPECT_EQ(TFontReferences(bold_), 1);
    TDisposeFont(plain_);
    TDisposeFont(bold_);
    TReleaseFontReferences();
    TXFinishFonts();
    ManagerTest::TearDown();
  }
  // The two fonts of the tests, made in a fresh font table.
  void Renew() {
    static const uChar sans[] = "\x0b" "DejaVu Sans";
    plain_ = TNewFont(sans, 12, 0, 0);
    bold_ = TNewFont(sans, 12, 0, 700);
  }
  TRecord Make(const std::string& text, uInt32 mode = kTRKindLines) {
    const Rect view{0, 0, 200, 300};
    TRecord r = TNew(&view, mode, reinterpret_cast<const uChar*>(text.data()), int32(text.size()), plain_, 0, 0xFFFFFF);
    made_.push_back(r);
    return r;
  }
  static std::string Text(TRecord r) {
    UHandle t = TGetText(r);
    return std::string(reinterpret_cast<const char*>(*t + 4), GetNative32(*t));
  }
  static std::pair<int32, int32> Sel(TRecord r) {
    int32 s = -1, e = -1;
    TGetSelection(r, &s, &e);
    return {s, e};
  }
  // The run shape every change keeps.
  static void ExpectRunsWhole(TRecord r) {
    const TRecordData* d = TRData(r);
    const uInt32 n = GetNative32(*TGetText(r));
    ASSERT_LE(0, d->selStart);
    ASSERT_LE(d->selStart, d->selEnd);
    ASSERT_LE(uInt32(d->selEnd), n);
    ASSERT_EQ(DSGetHandleSize(r), kTRRuns + (d->runCount + 1) * kTRRunSize);
    if (n == 0) {
      ASSERT_EQ(d->runCount, 0);
    }
    for (int32 i = 1; i <= d->runCount; ++i) {
      const TStyleRun& run = d->runs[i];
      ASSERT_LT(run.start, n);
      if (i == 1) {
        ASSERT_EQ(run.start, 0u);
      } else {
        const TStyleRun& before = d->runs[i - 1];
        ASSERT_GT(run.start, before.start);
        ASSERT_FALSE(run.colour == before.colour && TFontCompare(run.font, before.font, kFontMaskAll) == 0);
      }
    }
    if (d->runCount == 1) {
      ASSERT_FALSE(d->runs[1].colour == d->runs[0].colour && TFontCompare(d->runs[1].font, d->runs[0].font, 141) == 0);
    }
  }
  int32 plain_ = -1, bold_ = -1;
  std::vector<TRecord> made_;
  PlatBeepProc previousBeep_ = nullptr;
};

struct Key {
  int32 code, character, modifiers;
};
struct KeyCase {
  const char* name;
  std::string text;
  uInt32 mode;
  int32 selStart, selEnd, startMoves;
  std::vector<Key> keys;
  std::string textAfter;
  int32 startAfter, endAfter;
  int beeps;
};

TEST_F(TextEdit, KeysMoveTypeAndDeleteAsTheTableSays) {
  const uInt32 hex = uInt32(kTRKindLines) | kTRModeHex;
  const std::vector<KeyCase> cases = {
      {"left collapses", "abcdef", kTRKindLines, 2, 4, 0, {{6, 0, 0}}, "abcdef", 2, 2, 0},
      {"right collapses", "abcdef", kTRKindLines, 2, 4, 0, {{7, 0, 0}}, "abcdef", 4, 4, 0},
      {"extend crosses", "abcdef", kTRKindLines, 2, 3, 0, {{6, 0, 2}, {6, 0, 2}}, "abcdef", 1, 2, 0},
      {"end extends", "abcdef", kTRKindLines, 2, 2, 0, {{11, 0, 2}}, "abcdef", 2, 6, 0},
      {"home extends", "abcdef", kTRKindLines, 3, 3, 0, {{10, 0, 2}}, "abcdef", 0, 3, 0},
      {"backspace at 0", "abc", kTRKindLines, 0, 0, 0, {{27, 8, 0}}, "abc", 0, 0, 0},
      {"backspace", "abc", kTRKindLines, 2, 2, 0, {{27, 8, 0}}, "ac", 1, 1, 0},
      {"delete forward", "abc", kTRKindLines, 1, 1, 0, {{9, 0, 0}}, "ac", 1, 1, 0},
      {"clear empty", "abc", kTRKindLines, 1, 1, 0, {{1, 0, 0}}, "abc", 1, 1, 0},
      {"type replaces", "abcdef", kTRKindLines, 1, 4, 0, {{27, 'X', 0}}, "aXef", 2, 2, 0},
      {"double byte", "ab", kTRKindLines, 1, 1, 0, {{28, 0x4443, 0}}, "aCDb", 3, 3, 0},
      {"key 29 types nothing", "ab", kTRKindLines, 1, 1, 0, {{29, 0x41424344, 0}}, "ab", 1, 1, 0},
      {"down to end", "ab\ncd", kTRKindLines, 1, 1, 0, {{5, 0, 0}, {5, 0, 0}}, "ab\ncd", 5, 5, 0},
      {"up to start", "ab\ncd", kTRKindLines, 4, 4, 0, {{4, 0, 0}, {4, 0, 0}}, "ab\ncd", 0, 0, 0},
      {"hex pair", "", hex, 0, 0, 0, {{27, '4', 0}, {27, '1', 0}}, "A", 1, 1, 0},
      {"hex moved", "", hex, 0, 0, 0, {{27, '4', 0}, {7, 0, 0}, {27, '1', 0}}, std::string("\x04\x01", 2), 2, 2, 0},
      {"hex refuses g", "", hex, 0, 0, 0, {{27, 'g', 0}}, "", 0, 0, 1},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    TRecord r = Make(c.text, c.mode);
    TSelectText(r, c.selStart, c.selEnd);
    TSetMovingEnd(r, c.startMoves);
    const int before = gBeeps;
    for (const Key& k : c.keys) TKey(r, k.code, k.character, k.modifiers, 0);
    EXPECT_EQ(Text(r), c.textAfter);
    EXPECT_EQ(Sel(r), std::make_pair(c.startAfter, c.endAfter));
    EXPECT_EQ(gBeeps - before, c.beeps);
  }
  TRecord r = Make(std::string(20, 'x'));
  TSelectText(r, 10, 5);
  EXPECT_EQ(Sel(r), std::make_pair(10, 10));
}

TEST_F(TextEdit, BoldingAWordMakesThreeRunsAndPlainFoldsThem) {
  TRecord r = Make("one two three");
  TSelectText(r, 4, 7);
  TSetFont(r, bold_, kFontMaskWeight, 0);
  ASSERT_EQ(TRRunCount(r), 3);
  EXPECT_EQ(TRData(r)->runs[2].start, 4u);
  EXPECT_EQ(TRData(r)->runs[3].start, 7u);
  // Typed at the end of the bold word, in the insertion style (bold).
  TSelectText(r, 7, 7);
  TKey(r, 27, 'o', 0, 0);
  EXPECT_EQ(TRData(r)->runs[3].start, 8u);
  TSelectText(r, 0, 14);
  TSetFont(r, plain_, kFontMaskWeight, 0);
  EXPECT_EQ(TRRunCount(r), 0);
  // A colour on part of a one-style text: three runs again.
  const DColor red = 0xFF0000;
  TSelectText(r, 0, 3);
  TSetColors(r, &red, nullptr, 0);
  EXPECT_EQ(TRRunCount(r), 2);
  ExpectRunsWhole(r);
}

TEST_F(TextEdit, RandomEditsKeepTheRunsWholeAndFontCountsBalanced) {
  const int32 plainRefs = TFontReferences(plain_), boldRefs = TFontReferences(bold_);
  std::mt19937 random(80);
  for (uInt32 mode : {uInt32(kTRKindLines), uInt32(kTRKindWordWrap) | kTRModeHex, uInt32(kTRModePassword)}) {
    TRecord r = Make("alpha beta\ngamma delta", mode);
    TRecord clip = Make("");
    for (int step = 0; step < Scaled(10000); ++step) {
      const int32 n = int32(GetNative32(*TGetText(r)));
      const int32 a = int32(random() % uInt32(n + 2)) - 1, b = int32(random() % uInt32(n + 2)) - 1;
      switch (random() % 8) {
        case 0: TSelectText(r, a, b); break;
        case 1: TKey(r, int32(random() % 30), int32("ab1\b\x7f 4\n"[random() % 8]), int32(random() % 4), 0); break;
        case 2: TSetFont(r, random() % 2 ? bold_ : plain_, random() % 2 ? kFontMaskWeight : 141, 0); break;
        case 3: {
          const DColor c = random() % 2 ? 0xFF : 0;
          TSetColors(r, &c, nullptr, 0);
          break;
        }
        case 4: TCut(r, clip, 0); break;
        case 5: TCopy(r, clip); break;
        case 6: TPaste(clip, r, 0); break;
        default: TInsert(r, reinterpret_cast<const uChar*>("xy"), int32(random() % 3)); break;
      }
      ASSERT_NO_FATAL_FAILURE(ExpectRunsWhole(r)) << "step " << step;
      ASSERT_NO_FATAL_FAILURE(ExpectRunsWhole(clip)) << "step " << step;
    }
    TDispose(r);
    TDispose(clip);
    made_.clear();
    EXPECT_EQ(TFontReferences(plain_), plainRefs);
    EXPECT_EQ(TFontReferences(bold_), boldRefs);
  }
}

// Typing into a long text measures a few lines a key however far each key
// moves the lines after it (a long word broken by characters moves them
// all): those of the change, down to the view's bottom at most.  The lines
// left for later come out as laying out every line at once gives them,
// through typing, deleting, moving, selecting and restyling.
TEST_F(TextEdit, TypingIntoALongTextMeasuresAFewLinesAKey) {
  std::string words;
  while (words.size() < 20000) words += "aaaaa ";
  const struct {
    const char* name;
    std::string text;
    uInt32 kind;
  } cases[] = {{"one long word", std::string(20000, 'a'), kTRKindWordWrap},
               {"even words", words, kTRKindWordWrap},
               {"words broken by characters", words, kTRKindBreakChar}};
  const auto lines = [](TRecord r) {
    std::vector<std::string> v;
    for (int32 i = 0; i < TLineCount(r); ++i) {
      const TLineEntry e = TLineAt(r, i);
      v.push_back(std::to_string(e.start) + " " + std::to_string(e.ascent) + " " + std::to_string(e.height) + " " +
                  std::to_string(e.width) + " " + std::to_string(e.trimmed));
    }
    return v;
  };
  for (const auto& c : cases) {
    // The twin's layouts leave no line for later.
    TRecord r = Make(c.text, c.kind), twin = Make(c.text, c.kind);
    for (TRecord x : {r, twin}) {
      for (int32 i = 1; i < 10; i += 2) {
        TSelectText(x, i * 2000, i * 2000 + 2000);
        TSetFont(x, bold_, kFontMaskWeight, 0);
      }
      TSelectText(x, 10007, 10007);
      TValidateLines(x);
    }
    const int32 viewLines = RectHeight(&TRData(r)->view) / TLineAt(r, 0).height;
    std::mt19937 random(124);
    bool typing = false;
    for (int32 step = 0; step < 600; ++step) {
      // Typing alone first (the caret at the view's bottom), then anything.
      const uInt32 pick = step < 100 ? 5 : random() % 40;
      const int32 n = int32(GetNative32(*TGetText(r))), a = int32(random() % uInt32(n)), b = a + int32(random() % 30);
      const int32 right = int32(random() % 2);
      const int32 measured = TLayoutMeasuredLines();
      for (TRecord x : {r, twin}) {
        TLayoutSetLeaving(x == r);
        if (pick == 0) TSelectText(x, a, a);
        else if (pick == 1) TSelectText(x, a, b), TSetFont(x, bold_, kFontMaskWeight, 0);
        else if (pick == 2) TKey(x, kTKeyLeft + right, 0, 0, 0);
        else TKey(x, kTKeyChar, pick == 3 ? 8 : pick == 4 ? ' ' : 'a' + step % 26, 0, 0);
        TLayoutSetLeaving(true);
        if (x == r && typing && pick >= 3) {
          EXPECT_LE(TLayoutMeasuredLines() - measured, step < 100 ? 4 : viewLines + 5) << c.name << " step " << step;
        }
      }
      typing = pick >= 2;
      ASSERT_EQ(Sel(r), Sel(twin)) << c.name << " step " << step;
    }
    TValidateLines(r);
    TValidateLines(twin);
    EXPECT_EQ(Text(r), Text(twin)) << c.name;
    EXPECT_EQ(TRData(r)->runCount, TRData(twin)->runCount) << c.name;
    EXPECT_EQ(lines(r), lines(twin)) << c.name;
    const LRect &got = TRData(r)->dest, &want = TRData(twin)->dest;
    EXPECT_EQ(std::vector<int32>({got.top, got.left, got.bottom, got.right}),
              std::vector<int32>({want.top, want.left, want.bottom, want.right}))
        << c.name;
  }
}

TEST_F(TextEdit, ExchangeThroughTheClipboardRecord) {
  TRecord clip = Make("");
  TRecord secret = Make("hidden", uInt32(kTRKindLines) | kTRModePassword);
  TSelectText(secret, 0, 6);
  TCopy(secret, clip);
  EXPECT_EQ(Text(clip), "");
  // Hex copies the display form.
  TRecord bytes = Make("AB", uInt32(kTRKindLines) | kTRModeHex);
  TSelectText(bytes, 0, 2);
  TCopy(bytes, clip);
  EXPECT_EQ(Text(clip).substr(0, 5), "4142 ");
  // A one-style paste equal to the insertion style adds no runs.
  TRecord plain = Make("plain");
  TSelectText(plain, 0, 5);
  TCopy(plain, clip);
  TRecord target = Make("xy");
  TSelectText(target, 1, 1);
  TPaste(clip, target, 0);
  EXPECT_EQ(Text(target), "xplainy");
  EXPECT_EQ(TRRunCount(target), 0);
  // A styled paste brings its runs moved to the insertion point.
  TSelectText(plain, 2, 5);
  TSetFont(plain, bold_, kFontMaskWeight, 0);
  TSelectText(plain, 0, 5);
  TCopy(plain, clip);
  TSelectText(target, 1, 1);
  TPaste(clip, target, 0);
  EXPECT_EQ(Text(target), "xplainplainy");
  ASSERT_EQ(TRRunCount(target), 3);
  EXPECT_EQ(TRData(target)->runs[2].start, 3u);
  EXPECT_EQ(TRData(target)->runs[3].start, 6u);
  // Invalid hex beeps and changes nothing; valid hex of either case pairs up.
  TReplaceText(clip, reinterpret_cast<const uChar*>("4x"), 2);
  TSelectText(bytes, 1, 1);
  TPaste(clip, bytes, 0);
  EXPECT_EQ(gBeeps, 1);
  EXPECT_EQ(Text(bytes), "AB");
  TReplaceText(clip, reinterpret_cast<const uChar*>("4a\r\n 6F"), 7);
  TPaste(clip, bytes, 0);
  EXPECT_EQ(Text(bytes), "AJoB");
  // A growth that fails changes nothing.
  const std::string big(4096, 'z');
  TReplaceText(clip, reinterpret_cast<const uChar*>(big.data()), int32(big.size()));
  TSelectText(target, 2, 4);
  MemFailAllocations(1, -1);
  TPaste(clip, target, 0);
  TInsert(target, reinterpret_cast<const uChar*>(big.data()), int32(big.size()));
  MemFailAllocations(0, 0);
  EXPECT_EQ(Text(target), "xplainplainy");
  EXPECT_EQ(Sel(target), std::make_pair(2, 4));
  EXPECT_EQ(TRRunCount(target), 3);
}

TEST_F(TextEdit, DoubleClickWordsAndLines) {
  struct Case {
    std::string text;
    uInt32 mode;
    int32 at, start, end;
  };
  const std::vector<Case> cases = {
      {"x = 1.5e-3;", kTRKindLines, 6, 4, 10},
      {"call a_b(1)", kTRKindLines, 6, 5, 8},
      {"abcdef", uInt32(kTRKindLines) | kTRModeHex, 3, 2, 4},
      {"one\nsecret\nx", uInt32(kTRKindLines) | kTRModePassword, 6, 4, 10},
      {"a + b", kTRKindLines, 2, 2, 3},
      {"12ab", kTRKindLines, 1, 0, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TRecord r = Make(c.text, c.mode);
    int32 s = -1, e = -1;
    TWordAt(r, c.at, &s, &e);
    EXPECT_EQ(std::make_pair(s, e), std::make_pair(c.start, c.end));
  }
  TRecord r = Make("ab\ncd\n");
  int32 s = 0, e = 0;
  TSelectLine(r, 1, &s, &e);
  EXPECT_EQ(std::make_pair(s, e), std::make_pair(3, 6));
  TSelectLine(r, 2, &s, &e);  // the empty last line
  EXPECT_EQ(std::make_pair(s, e), std::make_pair(-1, -1));
  EXPECT_EQ(TNLines(r), 3);
}

// The caret's due times, read from the occurrence's timed list.
uInt32 FlashDue() {
  Occurrence occs[64];
  uInt32 times[64];
  const int32 n = OccurTestTimedList(occs, times, 64);
  for (int32 i = 0; i < n && i < 64; ++i)
    if (occs[i] == TCaretFlashOccurrence()) return times[i];
  return 0;
}

TEST_F(TextEdit, TheCaretFlashesOnlyInEditableRecordsAndOneAtATime) {
  // The pen table made at the text manager's first start lives on: one
  // start and stop before the count.
  ASSERT_EQ(OccurInit(), kNoErr);
  TXInitText();
  {
    Capture capture;
    TRecord shown = Make("abc", kTRKindLines);
    TActivate(shown, 0);
    EXPECT_EQ(FlashDue(), 0u);
    TDeactivate(shown, 0);
    TRecord r = Make("abc", uInt32(kTRKindLines) | 0x400);
    uInt32 now = MilliSecs();
    TActivate(r, 0);
    uInt32 due = FlashDue();
    EXPECT_GE(due, now + kTCaretFirstMs);
    EXPECT_LE(due, MilliSecs() + kTCaretFirstMs);
    // Each firing toggles the caret and asks again 500 ms on.
    for (int firing = 0; firing < 2; ++firing) {
      const uInt32 shownBefore = TRData(r)->flags & kTRFlagShown;
      now = MilliSecs();
      Occur(TCaretFlashOccurrence());
      ChkOccurrences();
      EXPECT_NE(TRData(r)->flags & kTRFlagShown, shownBefore);
      due = FlashDue();
      EXPECT_GE(due, now + kTCaretPeriodMs);
      EXPECT_LE(due, MilliSecs() + kTCaretPeriodMs);
    }
    // A non-empty selection is shown without flashing.
    TSelectText(r, 0, 2);
    EXPECT_EQ(FlashDue(), 0u);
    TSelectText(r, 1, 1);
    EXPECT_NE(FlashDue(), 0u);
    TRecord second = Make("xyz", uInt32(kTRKindLines) | 0x500);
    TActivate(second, 0);
    EXPECT_EQ(TCaretOwner(), second);
    EXPECT_EQ(capture.Count("Some other text is still flashing in Install caret"), 1);
    // The drop caret stops the flashing; hiding it starts it again 1000 ms on.
    TValidateLines(second);
    TShowDropCaret(second, TOffsetToPt(second, 2, 0, nullptr), 0);
    EXPECT_EQ(TGetDropOffset(), 2);
    EXPECT_EQ(FlashDue(), 0u);
    TMoveDropCaret(second, TOffsetToPt(second, 1, 0, nullptr));
    EXPECT_EQ(TGetDropOffset(), 1);
    now = MilliSecs();
    THideDropCaret();
    EXPECT_GE(FlashDue(), now + kTCaretFirstMs);
    EXPECT_EQ(Sel(second), std::make_pair(0, 0));
    TDeactivate(second, 0);
    TDeactivate(r, 0);
    EXPECT_EQ(capture.Count("### Trying to remove"), 0);
  }
  for (TRecord r : made_) TDispose(r);
  made_.clear();
  TXFinishText();
  OccurShutdown();
  TXInitFonts();
  Renew();
}

TEST_F(TextEdit, ClicksSelectByCaretExtensionWordsAndAll) {
  TRecord r = Make("alpha beta_gamma 1.5e-3\nline two\nthree\nfour\nfive\nsix\nseven\neight\nnine\nten\neleven");
  TSetMode(r, uInt32(kTRKindLines) | 0x400, 0);
  const Rect small{0, 0, 40, 300};
  TSetRect(r, &small);
  TValidateLines(r);
  const auto at = [&](int32 offset) { return TOffsetToPt(r, offset, 0, nullptr); };
  EXPECT_EQ(TClick(r, at(3), 0), kTClickDrag);
  EXPECT_EQ(Sel(r), std::make_pair(3, 3));
  TClick(r, at(8), kTClickExtend);
  EXPECT_EQ(Sel(r), std::make_pair(3, 8));
  TClick(r, at(20), kTClickWord);
  EXPECT_EQ(Sel(r), std::make_pair(17, 23));
  TClick(r, at(8), kTClickWord);
  EXPECT_EQ(Sel(r), std::make_pair(6, 16));
  EXPECT_EQ(TClick(r, at(2), kTClickAll), kTClickDone);
  EXPECT_EQ(Sel(r).second, int32(GetNative32(*TGetText(r))));
  TDeactivate(r, 0);
  TSetMode(r, kTRKindLines, 0);
  EXPECT_EQ(TClick(r, at(2), 0), kTClickReadOnly);
  // Dragging below the view scrolls one line per event until the end shows.
  TSetMode(r, uInt32(kTRKindLines) | 0x400, 0);
  TClick(r, at(0), 0);
  const Point below{int16(small.bottom + 10), 5};
  int32 events = 0, lastStep = 0;
  while (TRData(r)->dest.bottom > TRData(r)->view.bottom && events < 100) {
    const int32 top = TRData(r)->dest.top;
    TTrackTo(r, below, 3);
    lastStep = top - TRData(r)->dest.top;
    ASSERT_GT(lastStep, 0);
    ASSERT_LE(lastStep, TLineAt(r, 0).height);
    ++events;
  }
  EXPECT_EQ(TRData(r)->dest.bottom, TRData(r)->view.bottom);
  EXPECT_GT(events, 3);
  TDeactivate(r, 0);
}

}  // namespace
