// Text boxes, text records drawn line by line, record scrolling and tip
// strips.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "draw_window.h"
#include "golden_image.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/textlayout.h"
#include "mgsource/memory.h"
#include "mgsource/rects.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/sbar.h"
#include "mgsource/window/tipstrip.h"
#include "mgsource/window/textcaret.h"
#include "mgsource/window/textdraw.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wsysinfo.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"
#include "platform/qx_font_internal.h"

namespace {

const uChar* Bytes(const char* s) { return reinterpret_cast<const uChar*>(s); }
int32 Len(const char* s) { return int32(std::strlen(s)); }

// Glyphs follow the rasteriser and the faces: the text goldens are theirs,
// recorded in textdraw.versions.
const std::filesystem::path kGoldens = std::filesystem::path(QX_SOURCE_DIR) / "tests/mgsource/goldens";
bool TextGoldensCurrent() {
  const std::string have = "freetype " + qxfont::FreeTypeVersion() + "\ndejavu " + qxfont::FaceVersion(0) + "\n";
  if (qxtest::UpdatingGoldens()) std::ofstream(kGoldens / "textdraw.versions") << have;
  std::stringstream recorded;
  recorded << std::ifstream(kGoldens / "textdraw.versions").rdbuf();
  return recorded.str() == have;
}

class TextDraw : public DrawWindow {
 protected:
  void SetUp() override {
    DrawWindow::SetUp();
    TXInitFonts();
    MLoadMenuColors();
    sans_ = TNewFont(reinterpret_cast<ConstPStr>("\x0b" "DejaVu Sans"), 12, 0, 0);
  }
  void TearDown() override {
    WHideTipStrip();
    for (TRecord r : made_) TDispose(r);
    TDisposeFont(sans_);
    TXFinishFonts();
    DrawWindow::TearDown();
  }
  TRecord New(uInt32 mode, const char* text, const Rect& view, DColor back = kWhiteColor) {
    TRecord r = TNew(&view, mode, Bytes(text), Len(text), sans_, kBlackColor, back);
    made_.push_back(r);
    return r;
  }
  // Gives the record runs (start, font, colour); each holds a reference.
  void SetRuns(TRecord r, std::initializer_list<TStyleRun> runs) {
    ASSERT_EQ(DSSetHandleSize(r, kTRRuns + int32(runs.size() + 1) * kTRRunSize), kNoErr);
    int32 i = 1;
    for (const auto& run : runs) {
      TAddFontReference(run.font);
      TRData(r)->runs[i++] = run;
    }
    TRData(r)->runCount = int32(runs.size());
    TRecalc(r);
  }
  // The pixels of a block as a string, for comparing two places.
  std::string Block(int32 x, int32 y, int32 w, int32 h) const {
    std::string s;
    for (int32 j = y; j < y + h; ++j)
      for (int32 i = x; i < x + w; ++i) s += std::to_string(At(i, j)) + ",";
    return s;
  }
  int32 sans_ = -1;
  std::vector<TRecord> made_;
};

TEST_F(TextDraw, BoxesJustifyAndGrey) {
  // Right-justified kind 8 lies one pixel left of kind 0.
  const Rect a{0, 0, 20, 100}, b{20, 0, 40, 100};
  TBox(&a, 0x10, Bytes("Wide"), 4, sans_, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  TBox(&b, 0x18, Bytes("Wide"), 4, sans_, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  EXPECT_EQ(Block(1, 0, 99, 20), Block(0, 20, 99, 20));
  EXPECT_NE(Block(0, 0, 100, 20), Block(0, 20, 100, 20));
  // Centred text drops its trailing blanks.
  const Rect c{40, 0, 60, 100}, d{60, 0, 80, 100};
  TBox(&c, 0x20, Bytes("ab"), 2, sans_, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  TBox(&d, 0x20, Bytes("ab   \t"), 6, sans_, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  EXPECT_EQ(Block(0, 40, 100, 20), Block(0, 60, 100, 20));
  // Greyed: 0xCCCCCC on white; on a background of that colour, black
  // greyed out with white.
  const Rect g1{0, 110, 20, 190}, g2{20, 110, 40, 190};
  TBox(&g1, 0x100, Bytes("Grey"), 4, sans_, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  TBox(&g2, 0x100, Bytes("Grey"), 4, sans_, kBlackColor, 0xCCCCCC, kBlackColor, kWhiteColor);
  std::set<uInt32> onWhite, onGrey;
  for (int32 y = 0; y < 20; ++y)
    for (int32 x = 110; x < 190; ++x) onWhite.insert(At(x, y)), onGrey.insert(At(x, y + 20));
  EXPECT_EQ(onWhite, (std::set<uInt32>{0xCCCCCC, 0xFFFFFF}));
  EXPECT_EQ(onGrey, (std::set<uInt32>{0, 0xCCCCCC, 0xFFFFFF}));
}

TEST_F(TextDraw, AnInactiveOneLineRecordDrawsAsItsBox) {
  const Rect view{10, 10, 30, 90};
  TRecord r = New(0x20, "Centred line", view);
  TDraw(r);
  const Rect box{40, 10, 60, 90};
  TBox(&box, 0x28, Bytes("Centred line"), 12, sans_, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  EXPECT_EQ(Block(10, 10, 80, 20), Block(10, 40, 80, 20));
  EXPECT_GT(Changed(), 20);
}

// Drawing the lines paints over the shown selection; it is inverted again.
TEST_F(TextDraw, AShownSelectionIsInvertedAgainAfterTheText) {
  const Rect view{10, 10, 40, 150};
  TRecord r = New(kTRKindLines, "Selected text", view);
  TRData(r)->flags |= kTRFlagActive;
  TDraw(r);
  const std::string plain = Block(10, 10, 140, 30);
  TRData(r)->selStart = 0;
  TRData(r)->selEnd = 8;
  TRData(r)->flags |= kTRFlagShown;
  TDraw(r);
  EXPECT_TRUE(Block(10, 10, 140, 30) != plain) << "the selection is shown over the text";
  TRedrawShownCaret(r);
  EXPECT_TRUE(Block(10, 10, 140, 30) == plain) << "inverting the range once more gives the text back";
  TRData(r)->flags &= ~(kTRFlagShown | kTRFlagActive);
}

// The drop caret draws at the point's offset, stays as it is while the
// offset stays, and leaves the record as it was when hidden.
TEST_F(TextDraw, TheDropCaretFollowsTheOffsetAndGoesWithoutTrace) {
  const Rect view{5, 5, 30, 150};
  TRecord r = New(kTRKindLines | 0x400, "abcdef", view);
  TValidateLines(r);
  const auto at = [&](int32 offset, int16 right = 0) {
    Point p = TOffsetToPt(r, offset, 0, nullptr);
    p.h = int16(p.h + right);
    return p;
  };
  const std::string bare = Block(0, 0, 160, 35);
  TShowDropCaret(r, at(2), window_);
  EXPECT_EQ(TGetDropOffset(), 2);
  const std::string atTwo = Block(0, 0, 160, 35);
  EXPECT_NE(atTwo, bare);
  TMoveDropCaret(r, at(2, 1));
  EXPECT_EQ(TGetDropOffset(), 2);
  EXPECT_TRUE(Block(0, 0, 160, 35) == atTwo) << "the same offset leaves the caret drawn";
  TMoveDropCaret(r, at(4));
  EXPECT_EQ(TGetDropOffset(), 4);
  const std::string atFour = Block(0, 0, 160, 35);
  EXPECT_NE(atFour, atTwo);
  EXPECT_NE(atFour, bare);
  THideDropCaret();
  EXPECT_EQ(Block(0, 0, 160, 35), bare);
  int32 s = -1, e = -1;
  TGetSelection(r, &s, &e);
  EXPECT_EQ(std::make_pair(s, e), std::make_pair(0, 0));
}

// Tracking a drag takes moves until an event of a code it does not list
// (a right-button press here) ends it like a release.
TEST_F(TextDraw, ATrackedDragEndsAtAnUnlistedEventCode) {
  TRecord r = New(kTRKindLines | 0x400, "alpha beta gamma", Rect{5, 5, 30, 190});
  TValidateLines(r);
  Point to = TOffsetToPt(r, 8, 0, nullptr);
  WLocalToGlobal(window_, &to);
  const uint32_t t = PlatTickMs();
  ASSERT_TRUE(PlatInjectMouseMove(to.h, to.v - 3, t));
  ASSERT_TRUE(PlatInjectMouseButton(kPlatButtonRight, true, to.h, to.v - 3, t + 10));
  EXPECT_EQ(TTrack(r, TOffsetToPt(r, 3, 0, nullptr), 0), kTClickDone);
  EXPECT_FALSE(WTracking());
  int32 s = -1, e = -1;
  TGetSelection(r, &s, &e);
  EXPECT_EQ(std::make_pair(s, e), std::make_pair(3, 8));
  TDeactivate(r, 0);
}

TEST_F(TextDraw, RecordsScrollWithinTheirRange) {
  const Rect view{0, 0, 45, 80};
  TRecord r = New(uInt32(kTRKindLines) | kTRModeVBar, "one\ntwo\nthree\nfour\nfive\nsix\nseven", view);
  TValidateLines(r);
  const int32 lineH = TLineAt(r, 0).height, range = 7 * lineH - 45;
  const auto scrolled = [&] { return TRData(r)->view.top - TRData(r)->dest.top; };
  EXPECT_EQ(TScrollByPart(r, 0x80000000 | 100000, 0), 1);
  EXPECT_EQ(scrolled(), range) << "absolute codes are pinned to the range";
  EXPECT_EQ(TScrollByPart(r, kSBarDownArrow, 0), 0) << "nothing below the end";
  EXPECT_EQ(TScrollByPart(r, kSBarUpArrow, 0), 1);
  int32 line = -1;
  TGetTopLine(r, &line);
  EXPECT_EQ(line, (range - (range % lineH ? range % lineH : lineH)) / lineH);
  const int32 before = scrolled();
  EXPECT_EQ(TScrollToLine(r, 7, 1, 0), before - range) << "no empty space below";
  EXPECT_EQ(TRData(r)->dest.bottom, TRData(r)->view.bottom);
  EXPECT_EQ(TScrollToLine(r, 0, 3, 0), range);
  EXPECT_EQ(TGetTopLine(r, &line), -lineH);
  EXPECT_EQ(line, 0);
  // A wide kind-2 record scrolls left to show an offset past its right edge.
  TRecord wide = New(kTRKindLines, "short\nsomething much wider than the view is", Rect{50, 0, 90, 80});
  EXPECT_EQ(TScrollToOffset(wide, 40, 0), 1);
  const Point pt = TOffsetToPt(wide, 40, 0, nullptr);
  EXPECT_LE(pt.h, 80);
  EXPECT_GE(pt.h, 60);
  EXPECT_EQ(TScrollToOffset(wide, 40, 0), 0);
  // Runs are pinned.
  SetRuns(wide, {{0, sans_, 0x111111}, {6, kAppFont, 0x222222}});
  int32 font = -1, start = -1, end = -1;
  DColor colour = 0;
  TGetRunInfo(wide, 99, &font, &colour, &start, &end);
  EXPECT_EQ(std::vector<int32>({font, int32(colour), start, end}), std::vector<int32>({kAppFont, 0x222222, 6, 43}));
  EXPECT_EQ(TGetRunCount(wide), 2);
}

TEST_F(TextDraw, RecordsBarsAndTipsMatchGolden) {
  TRecord styled = New(uInt32(kTRKindWordWrap) | kTRModeVBar, "Big and small words wrapped over lines", Rect{2, 2, 60, 90});
  const int32 big = TNewFont(reinterpret_cast<ConstPStr>("\x0b" "DejaVu Sans"), 18, 0, 0);
  SetRuns(styled, {{0, big, 0x0000FF}, {4, sans_, 0x000000}, {14, kAppFont, 0xFF0000}});
  TDisposeFont(big);
  TDraw(styled);
  // A transparent active record paints white below its lines.
  PlatSurfaceClear(Surface(), 0xFFFFFF);
  const Rect under{2, 110, 60, 190};
  DSelectNormPen(0x99CC99, 0);
  DPaintRect(&under);
  TRecord active = New(kTRKindLines, "active", under, kTransparentColor);
  TRData(active)->flags |= kTRFlagActive;
  TDraw(active);
  EXPECT_EQ(At(150, 50), 0xFFFFFFu);
  TDraw(styled);
  const Rect scaledBox{70, 2, 90, 190};
  const Rect from{0, 0, 10, 10}, to{0, 0, 15, 20};  // 1.5 times as high, twice as wide
  const int32 wideFont = TScaleFont(sans_, &from, &to);
  TBox(&scaledBox, 0x08, Bytes("scaled to twice"), 15, wideFont, kBlackColor, 0xFFFFCC, kBlackColor, kWhiteColor);
  TDisposeFont(wideFont);
  // The scaled text takes twice its unscaled width (the spacing fills it).
  const Rect plainBox{90, 2, 100, 190};
  TBox(&plainBox, 0, Bytes("scaled to twice"), 15, sans_, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  const auto inkRight = [&](int32 top, int32 bottom) {
    int32 right = 0;
    for (int32 y = top; y < bottom; ++y)
      for (int32 x = 2; x < 190; ++x)
        if (At(x, y) == 0) right = std::max(right, x);
    return right - 2;
  };
  EXPECT_NEAR(inkRight(70, 90), 2 * inkRight(90, 100), 4);
  ASSERT_TRUE(TextGoldensCurrent()) << "regenerate text goldens (QX_UPDATE_GOLDENS=1)";
  qxtest::ExpectMatchesGolden(Surface(), kGoldens / "textdraw.png", "text drawing; QX_UPDATE_GOLDENS=1 makes it again");
}

WEventRecord gTyped{};  // the last key the document window got
int32 Typed(WEventRecord* e, uInt32) {
  if (e->code == weKey) gTyped = *e;
  return 0;
}

TEST_F(TextDraw, TipStripsAvoidTheObjectAndPassKeysOn) {
  End();
  WSetEventHandler(window_, &Typed);
  WSetActiveWindow(window_);
  Rect work;
  WGetWorkAreaRect(Point{10, 10}, &work);
  const struct {
    Rect object;
    int32 side;  // 0 below, 1 above, 3 left
  } cases[] = {
      {{100, 100, 120, 160}, 0},
      {{int16(work.bottom - 30), 100, int16(work.bottom - 5), 160}, 1},
      {{int16(work.top + 5), int16(work.right - 40), int16(work.bottom - 5), int16(work.right - 5)}, 3},
  };
  WindowRef first = kWNoWindow, all[64];
  const int32 windows = WWindowsInOrder(all, 64);
  for (const auto& c : cases) {
    ASSERT_EQ(WShowTipStrip(reinterpret_cast<ConstPStr>("\x07" "Tip one"), &c.object), 0);
    EXPECT_EQ(WWindowsInOrder(all, 64), windows + 1) << "a second strip removes the first";
    first = WTipStripWindow();
    Rect at;
    WGetGlobalRect(first, &at);
    const bool ok = c.side == 0 ? at.top >= c.object.bottom + 10 - 3
                    : c.side == 1 ? at.bottom <= c.object.top - 10 + 3
                                  : at.right <= c.object.left - 10 + 3;
    EXPECT_TRUE(ok) << c.side << ": " << at.top << "," << at.left << "," << at.bottom << "," << at.right;
  }
  ASSERT_TRUE(TextGoldensCurrent()) << "regenerate text goldens (QX_UPDATE_GOLDENS=1)";
  qxtest::ExpectMatchesGolden(PlatWindowSurface(WHostWindow(first)), kGoldens / "tipstrip.png",
                              "tip strip; QX_UPDATE_GOLDENS=1 makes it again");
  WEventRecord key{};
  key.code = weKey;
  key.window = first;
  key.character = 'q';
  EXPECT_EQ(WTipStripHandler(&key, 0), 0);
  EXPECT_EQ(gTyped.character, 'q');
  EXPECT_EQ(gTyped.window, window_);
  EXPECT_EQ(WHideTipStrip(), 1);
  EXPECT_EQ(WHideTipStrip(), 0);
  Begin();
}

}  // namespace
