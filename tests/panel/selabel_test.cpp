// Selection labels: completion of typed text from the owner's names and the
// drop-down list built from them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/objswap.h"
#include "engine/panelrec.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/textedit.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/winproc.h"
#include "panel/objload.h"
#include "panel/selabel.h"
#include "panel_test_support.h"
#include "draw_start.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/window.h"
#include "platform/qx_activate.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"

namespace selabeltest {

std::vector<std::string> gNames;
int32 Item(ObjHeap, int32, uInt32, const uChar** text, int32* symbol, int32 index) {
  if (index < 0) return int32(gNames.size());
  if (text) *text = reinterpret_cast<const uChar*>(gNames[size_t(index)].data());
  if (symbol) *symbol = index + 40;
  return int32(gNames[size_t(index)].size());
}
int32 gNextId = 300, gReleased = 0;

class SelLabel : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    tag_ = Obj(kClsTag);
    label_ = Obj(kClsSelLabel, tag_, kPartTagInline);
    SetSource(0);
    SelLabelHooks hooks;
    hooks.newPopupMenuID = [] { return gNextId; };
    hooks.releaseMenuID = [](int32) { ++gReleased; };
    hooks.symbolImage = [](int32 symbol) { return symbol * 2; };
    SetSelLabelHooks(hooks);
    AcceptSelItemProc(&Item);
  }
  void TearDown() override {
    SetSelLabelHooks({});
    PanelTest::TearDown();
  }
  void SetSource(uInt32 flags) {
    const SelListSource s{flags, 0, &Item};
    std::memcpy(*panel_ + tag_ + kPanelTagInlineByte, &s, sizeof s);
  }
  int32 tag_ = 0, label_ = 0;
};

TEST_F(SelLabel, TypedTextCompletesToTheBestName) {
  gNames = {"Abc", "abd", "xyz"};
  const struct {
    const char* typed;
    uInt32 flags;
    int32 best, index;
  } cases[] = {
      {"a", 0, 1, 0},               // ties keep the earlier name
      {"ab", 0, 2, 0},              // Abc, its third letter to be selected
      {"ab", kSelCaseSensitive, 2, 1},  // abd
      {"AB", kSelCaseSensitive, 1, 0},
      {"abx", 0, 2, 0},             // partly: the best partial name
      {"q", 0, 0, -1},              // no name shares a first character
      {"xyzw", 0, 3, 2},
  };
  for (const auto& c : cases) {
    SetSource(c.flags);
    const uChar* name = nullptr;
    int32 length = -5, index = -5;
    const int32 best = SelLabelBestMatch(panel_, label_, reinterpret_cast<const uChar*>(c.typed),
                                         int32(std::strlen(c.typed)), &name, &length, &index);
    EXPECT_EQ(best, c.best) << c.typed;
    EXPECT_EQ(index, c.index) << c.typed;
    if (c.index >= 0) EXPECT_EQ(std::string(reinterpret_cast<const char*>(name), size_t(length)), gNames[size_t(c.index)]);
    else EXPECT_EQ(name, nullptr);
  }
  const uChar a[] = "Hello", b[] = "help";
  EXPECT_EQ(CommonPrefixLength(a, 5, b, 4, 0), 3);
  EXPECT_EQ(CommonPrefixLength(a, 5, b, 4, 1), 0);
  EXPECT_EQ(CommonPrefixLength(a, 2, a, 5, 1), 2) << "up to the shorter length";
}

TEST_F(SelLabel, TheListShowsEveryNameCutTo253WithItsSymbol) {
  gNames = {std::string(300, 'n'), "tab\there", "line\nfeed"};
  gReleased = 0;
  int32 id = 0;
  MenuHandle menu = BuildSelLabelMenu(panel_, tag_, SelLabelSource(panel_, label_, 0), &id);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(id, 300);
  ASSERT_EQ(MCountItems(menu), 3);
  Str255 text;
  MGetItemText(menu, 1, text);
  EXPECT_EQ(text[0], 253) << "the name cut to 253 (the \"__\" before it is no mark)";
  MGetItemText(menu, 2, text);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text + 1), text[0]), "tab here");
  MGetItemText(menu, 3, text);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text + 1), text[0]), "line feed");
  EXPECT_EQ(MGetLItemPtr(menu, 2)->markImage, uInt32(41 * 2));
  MDisposeMenu(menu);
  // No id left: no list, nothing to release.
  gNextId = -1;
  EXPECT_EQ(BuildSelLabelMenu(panel_, tag_, SelLabelSource(panel_, label_, 0), &id), nullptr);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(gReleased, 0);
  gNextId = 300;
}

TEST_F(SelLabel, AStoredCallbackTheProgramDidNotGiveIsNeverCalled) {
  const SelListSource foreign{kSelComplete, 0, reinterpret_cast<SelItemProc>(uintptr_t(0x1234))};
  std::memcpy(*panel_ + tag_ + kPanelTagInlineByte, &foreign, sizeof foreign);
  ClearReports();
  EXPECT_EQ(SelLabelSource(panel_, label_, 0), nullptr);
  EXPECT_EQ(SelLabelBestMatch(panel_, label_, reinterpret_cast<const uChar*>("a"), 1, nullptr, nullptr, nullptr), 0);
  EXPECT_NE(ReportText().find("selabel"), std::string::npos);
}

// The label's text after a key of the typed range [start, end), and its
// selection.
struct Typed {
  std::string text;
  int32 selStart, selEnd;
  uInt32 pending;
};

TEST_F(SelLabel, KeysCompleteTheTypedNameAndBackspaceTakesTheCompletionAndOneMore) {
  gNames = {"Abc", "abd"};
  const struct {
    const char* what;
    uInt32 flags;
    const char* before;
    int32 character, start, end;
    Typed after;
  } cases[] = {
      {"a and b: Abc, its third letter selected", kSelComplete, "ab", 'b', 0, 2, {"Abc", 2, 3, kSelPending}},
      {"case-sensitive: abd", kSelComplete | kSelCaseSensitive, "ab", 'b', 0, 2, {"abd", 2, 3, kSelPending}},
      {"Backspace over the shown completion", kSelComplete | kSelPending, "Ab", 8, 0, 2, {"Abc", 1, 3, kSelPending}},
      {"no name: the typed text goes", kSelComplete, "q", 'q', 0, 1, {"", 0, 0, 0}},
      {"free text stays", kSelComplete | kSelFreeText, "abx", 'x', 0, 3, {"abx", 0, 0, 0}},
  };
  const Rect view{10, 10, 30, 100};
  for (const auto& c : cases) {
    SetSource(c.flags);
    TRecord text = TNew(&view, 0, reinterpret_cast<const uChar*>(c.before), int32(std::strlen(c.before)), 0, 0,
                        0xFFFFFF);
    ASSERT_NE(text, nullptr);
    ObjSetWord(panel_, label_, kObjText / 4, int32(uintptr_t(text)));
    ObjSetWord(panel_, label_, 0, int32(kSelLabelTyping));
    ActionParams block{};
    block.eventCode = weKey;
    block.keyCode = vkAscii;
    block.character = c.character;
    block.selStart = c.start;
    block.selEnd = c.end;
    ClearReports();
    SelLabelODoitMethod(panel_, label_, nullptr, 15, &block);
    const UHandle h = TGetText(text);
    const std::string now(reinterpret_cast<const char*>(*h + 4), GetNative32(*h));
    int32 a = -1, b = -1;
    TGetSelection(text, &a, &b);
    EXPECT_EQ(now, c.after.text) << c.what;
    if (!c.after.text.empty() && c.after.pending) { EXPECT_EQ(a, c.after.selStart) << c.what; }
    if (!c.after.text.empty() && c.after.pending) { EXPECT_EQ(b, c.after.selEnd) << c.what; }
    EXPECT_EQ(SelLabelSource(panel_, label_, 0)->flags & kSelPending, c.after.pending) << c.what;
    ObjSetWord(panel_, label_, kObjText / 4, 0);
    TDispose(text);
  }
  // Escape ends the typing.
  ActionParams escape{};
  escape.eventCode = weKey;
  escape.keyCode = vkAscii;
  escape.character = 27;
  SetSource(kSelComplete);
  ObjSetWord(panel_, label_, 0, int32(kSelLabelTyping));
  EXPECT_EQ(SelLabelODoitMethod(panel_, label_, nullptr, 15, &escape), 0x8000000);
}

TEST_F(SelLabel, EndingTheEditClearsTheTypingBit) {
  ObjSetWord(panel_, label_, 0, int32(kSelLabelTyping | kSelLabelKeys));
  EXPECT_EQ(SelLabelEndEdit(panel_, label_), 0x8000000);
  EXPECT_EQ(uInt32(ObjWord(panel_, label_, 0)), kSelLabelKeys);
}

// The drop-down list opened from the label's keys, tracked with keys and
// the mouse injected from the tracking loop's waits.
std::vector<std::function<void()>> gSteps;
size_t gNext = 0;
int32 gOpened = 0;
int32 Background(Bool32) {
  if (gNext < gSteps.size()) gSteps[gNext++]();
  return 0;
}
std::function<void()> Key(uInt32 vk) {
  return [vk] { PlatInjectKey(vk, true, PlatTickMs()), PlatInjectKey(vk, false, PlatTickMs()); };
}
// The height of the open list's window (0 when none is open).
int32 gListHeight = 0, gListWidth = 0;
void MeasureList() {
  for (WindowRef w = WFirstWindow(); w; w = WNextWindow(w)) {
    if (WGetStyle(w) != (kWStyleModal | kWStyleFloating)) continue;  // a menu's window
    Rect r;
    WGetGlobalRect(w, &r);
    gListHeight = r.bottom - r.top;
    gListWidth = r.right - r.left;
  }
}

TEST_F(SelLabel, TheListOpensFromTheKeysAndClosesByEscapeAChoiceOrAClickOutside) {
  WPortState saved{};
  const WindowRef window = StartMenuWindow(Rect{40, 40, 400, 400}, &saved, &Background);
  PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window));
  const bool queueMade = !WEventQueueExists() && WEventQueueInit(1) == kNoErr;  // keys handed back
  SelLabelHooks counting;
  counting.newPopupMenuID = [] { return ++gOpened, gNextId; };
  counting.releaseMenuID = [](int32) { ++gReleased; };
  counting.symbolImage = [](int32 symbol) { return symbol * 2; };
  SetSelLabelHooks(counting);
  const int32 frame = Obj(kClsCosmetic, tag_, 9), button = Obj(kClsMultiCosmetic, tag_, 79);
  const Rect frameRect{20, 20, 40, 120}, buttonRect{20, 120, 40, 136}, labelRect{22, 22, 38, 118};
  std::memcpy(*panel_ + frame + kObjBounds, &frameRect, sizeof frameRect);
  std::memcpy(*panel_ + button + kObjBounds, &buttonRect, sizeof buttonRect);
  std::memcpy(*panel_ + label_ + kObjBounds, &labelRect, sizeof labelRect);
  Point outside{300, 300};
  WLocalToGlobal(window, &outside);
  const auto press = [outside] {
    PlatInjectMouseButton(kPlatButtonLeft, true, outside.h, outside.v, PlatTickMs());
    PlatInjectMouseButton(kPlatButtonLeft, false, outside.h, outside.v, PlatTickMs());
  };
  using Steps = std::vector<std::function<void()>>;
  const struct {
    const char* what;
    uInt32 labelFlags;
    std::vector<std::string> names;
    const char* text;
    Steps steps;
    int32 opened, reply;
    const char* after;
  } cases[] = {
      {"no keyboard bit: no list", 0, {"Abc", "abd"}, "ab", {}, 0, 0, "ab"},
      {"no names: no list", kSelLabelKeys, {}, "ab", {}, 0, 0, "ab"},
      {"Escape closes and ends the typing", kSelLabelKeys, {"Abc", "abd", "xyz"}, "x", {Key(kPlatVkEscape)}, 1,
       0x8000000, "x"},
      {"a click outside takes the highlighted item", kSelLabelKeys, {"Abc", "abd", "xyz"}, "ab", {press}, 1, 0x40,
       "Abc"},
      {"Tab goes back to the window's queue", kSelLabelKeys, {"Abc", "abd"}, "ab", {Key(kPlatVkTab)}, 1, 0x40,
       "ab"},
      {"Down moves the list and the label follows; Enter ends", kSelLabelKeys, {"Abc", "abd", "xyz"}, "Abc",
       {Key(kPlatVkDown), Key(kPlatVkReturn)}, 1, 0, "abd"},
  };
  const Rect view{22, 22, 38, 118};
  for (const auto& c : cases) {
    gNames = c.names;
    gSteps = c.steps;
    gNext = 0;
    gOpened = gReleased = 0;
    TRecord text = TNew(&view, 0, reinterpret_cast<const uChar*>(c.text), int32(std::strlen(c.text)), 0, 0, 0xFFFFFF);
    ASSERT_NE(text, nullptr);
    ObjSetWord(panel_, label_, kObjText / 4, int32(uintptr_t(text)));
    ObjSetWord(panel_, label_, 0, int32(c.labelFlags));
    ActionParams up{};
    up.eventCode = weKey;
    up.keyCode = vkUp;
    const int32 reply = SelLabelODoitMethod(panel_, label_, nullptr, 15, &up);
    EXPECT_EQ(gOpened, c.opened) << c.what;
    EXPECT_EQ(gReleased, c.opened) << c.what << ": the id goes back";
    EXPECT_EQ(reply & 0x8000040, c.reply) << c.what;
    EXPECT_EQ(gNext, c.steps.size()) << c.what;
    // Only the Tab goes back to the queue.
    int32 queued = 0;
    WPurgeEvents(kWNoWindow, [](WindowRef, const WEventRecord* e, void* n) {
      const bool hit = e->code == weKey && e->keyCode == vkAscii && e->character == 9;
      *static_cast<int32*>(n) += hit;
      return int32(hit);
    }, &queued);
    EXPECT_EQ(queued, std::string(c.what).rfind("Tab", 0) == 0 ? 1 : 0) << c.what;
    const UHandle h = TGetText(text);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(*h + 4), GetNative32(*h)), c.after) << c.what;
    ObjSetWord(panel_, label_, kObjText / 4, 0);
    TDispose(text);
  }
  // The label's row limit and list width: two rows are lower than the
  // natural list of three names; a width of 0 is part 9's, else the label's.
  gNames = {"Abc", "abd", "xyz"};
  const struct {
    uInt32 source;
    int32 rows, width;
  } sizes[] = {{kSelNaturalHeight, 5, 0}, {0, 2, 0}, {0, 2, 200}};
  int32 heights[3] = {}, widths[3] = {};
  TRecord text = TNew(&view, 0, reinterpret_cast<const uChar*>("a"), 1, 0, 0, 0xFFFFFF);
  ObjSetWord(panel_, label_, kObjText / 4, int32(uintptr_t(text)));
  for (int32 i = 0; i < 3; ++i) {
    SetSource(sizes[i].source);
    ObjSetWord(panel_, label_, 10, sizes[i].rows);
    ObjSetWord(panel_, label_, 11, sizes[i].width);
    ObjSetWord(panel_, label_, 0, int32(kSelLabelKeys));
    gListHeight = gListWidth = 0;
    gSteps = {&MeasureList, Key(kPlatVkEscape)};
    gNext = 0;
    ActionParams up{};
    up.eventCode = weKey;
    up.keyCode = vkUp;
    SelLabelODoitMethod(panel_, label_, nullptr, 15, &up);
    heights[i] = gListHeight, widths[i] = gListWidth;
  }
  ObjSetWord(panel_, label_, kObjText / 4, 0);
  TDispose(text);
  EXPECT_GT(heights[0], heights[1]) << "natural height of three names against two rows";
  EXPECT_GT(heights[1], 8) << "two rows of the label's font";
  EXPECT_GE(widths[0], 100) << "as wide as part 9";
  EXPECT_LT(widths[1], 200);
  EXPECT_GE(widths[2], 200);
  if (queueMade) WEventQueueInit(0);
  WResetMainLoopHooks();
  SetSelLabelHooks({});
  PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, 0);
  StopDrawingWindow(&saved);
}

}  // namespace selabeltest
