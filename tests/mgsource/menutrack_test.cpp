// Open menus: placement on the screen, submenus beside their items, and
// the tracking loop driven by scripted input.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "draw_window.h"
#include "golden_image.h"
#include "menu_scene.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menuport.h"
#include "mgsource/window/menutrack.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wsysinfo.h"
#include "platform/qx_activate.h"
#include "platform/qx_display.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"
#include "platform/qx_uitest.h"

namespace menutracktest {

struct Step {
  uInt32 after;  // ms after the step before
  std::function<void()> run;
};
std::vector<Step> gScript;
size_t gNext = 0;
uInt32 gLast = 0;
// Runs the script's due steps from inside the tracking loop's waits.
int32 Background(Bool32) {
  while (gNext < gScript.size() && PlatTickMs() - gLast >= gScript[gNext].after) {
    gLast = PlatTickMs();
    gScript[gNext++].run();
  }
  return 0;
}

class MenuTrack : public DrawWindow {
 protected:
  void SetUp() override {
    DrawWindow::SetUp();
    TXInitFonts();
    static const MgErr kResources = RInitResources();
    ASSERT_EQ(kResources, kNoErr);
    MLoadMenuColors();
    WBuildKeyTable();
    MSetBrowseOnly(0), MSetChooseDisabled(0), MSetListStyle(0);
    PlatSetActiveWindow(WHostWindow(window_));
    WGetScreenRect(Point{0, 0}, &screen_);
    WMainLoopHooks hooks{};
    hooks.background = &Background;
    WSetMainLoopHooks(hooks);
  }
  void TearDown() override {
    WResetMainLoopHooks();
    for (MenuHandle m : menus_) MDisposeMenu(m);
    TXFinishFonts();
    DrawWindow::TearDown();
  }
  MenuHandle Menu(int32 id, const std::vector<std::string>& texts) {
    MenuHandle m = nullptr;
    const uChar title[] = {1, 'M'};
    EXPECT_EQ(MNewLMenu(&m, title, id), kNoErr);
    for (size_t i = 0; i < texts.size(); ++i) {
      uChar text[32] = {uChar(texts[i].size())};
      std::memcpy(text + 1, texts[i].data(), texts[i].size());
      EXPECT_EQ(MInsertLItem(m, text, nullptr, 0, nullptr, 0, -1, uInt32(101 + i)), kNoErr);
    }
    menus_.push_back(m);
    return m;
  }
  MenuHandle Menu(int32 id, int32 n) {
    std::vector<std::string> texts;
    for (int32 i = 1; i <= n; ++i) texts.push_back("Item " + std::to_string(i));
    return Menu(id, texts);
  }
  // The global centre of a shown item.
  static Point ItemAt(MenuHandle m, int32 n) {
    Rect g{};
    WGetGlobalRect((*m)->window, &g);
    const int32 row = (*m)->lineHeight + 2;
    return Point{int16(g.top + 2 + (n - (*m)->firstVisible) * row + row / 2), int16(g.left + 12)};
  }
  static void Move(Point p) { PlatInjectMouseMove(p.h, p.v, PlatTickMs()); }
  static void Click(Point p) {
    PlatInjectMouseButton(kPlatButtonLeft, true, p.h, p.v, PlatTickMs());
    PlatInjectMouseButton(kPlatButtonLeft, false, p.h, p.v, PlatTickMs());
  }
  static void Key(uInt32 vk) {
    PlatInjectKey(vk, true, PlatTickMs());
    PlatInjectKey(vk, false, PlatTickMs());
  }
  int32 PopUp(MenuHandle m, std::vector<Step> script, int32* id, int32* item, int32 initial = 0) {
    gScript = std::move(script);
    gNext = 0;
    gLast = PlatTickMs();
    const Rect anchor{20, 30, 36, 90};
    return MPopUpMenuRect(m, &anchor, id, item, 0, initial, 0);
  }
  Rect screen_{};
  std::vector<MenuHandle> menus_;
};

TEST_F(MenuTrack, PlacesMenusOnTheScreen) {
  MenuHandle small = Menu(1, 5), tall = Menu(2, 200);
  MCalcMenuSize(small);
  const int32 row = (*small)->lineHeight + 2, w = (*small)->size.right;
  const Rect screen{0, 0, 600, 800};
  struct Case {
    const char* what;
    MenuHandle menu;
    Rect anchor;
    int32 initial;
    int32 top, left, rows;
  } cases[] = {
      {"at the right edge it moves left", small, {100, 790, 100, 790}, 0, 100, 796 - w, 5},
      {"the initial item's row on the anchor", small, {300, 100, 316, 160}, 3, 300 - 2 * row, 100, 5},
      {"a tall menu", tall, {0, 100, 0, 100}, 0, 0, 100, 596 / row - 1},
      {"too little room below: above the anchor", small, {590, 100, 598, 160}, 0, 590 - (5 * row + 4), 100, 5},
  };
  for (const Case& c : cases) {
    MInvalMenuSize(c.menu);
    Rect r{};
    MPlaceMenu(c.menu, &c.anchor, kMPlacePopUp, &screen, &r, c.initial);
    EXPECT_EQ(r.top, c.top) << c.what;
    EXPECT_EQ(r.left, c.left) << c.what;
    EXPECT_EQ((*c.menu)->visibleRows, c.rows) << c.what;
    EXPECT_EQ(r.bottom - r.top, c.rows * row + 4) << c.what;
  }
}

TEST_F(MenuTrack, SubmenusKeepTheirSideAndPullDownsTurnAbove) {
  MenuHandle parent = Menu(1, 3), sub = Menu(2, 3), subsub = Menu(3, 3), pull = Menu(4, 8);
  // An item at the screen's right edge: its submenu opens left, and so does
  // the submenu's own while it fits.
  const Rect item{100, int16(screen_.right - 120), 116, int16(screen_.right - 10)};
  MCreateMenuWindow(parent, &item);
  MOpenSubmenu(parent, &item, sub, 0);
  Rect g{};
  WGetGlobalRect((*sub)->window, &g);
  EXPECT_EQ((*sub)->state[1], 1);
  EXPECT_EQ(g.right - 1, item.left + 5);
  const Rect subItem{int16(g.top + 2), int16(g.left), int16(g.top + 18), int16(g.right)};
  MOpenSubmenu(sub, &subItem, subsub, 0);
  EXPECT_EQ((*subsub)->state[1], 1) << "keeps the parent's side";
  EXPECT_EQ(MDeepestParent(parent), sub);
  Point in{int16(subItem.top + 1), int16(subItem.left + 1)};
  EXPECT_EQ(MMenuUnderPoint(in, parent), subsub) << "its anchor lies in the sub menu";
  MCloseMenuWindow(parent, nullptr);
  EXPECT_EQ((*subsub)->window, kWNoWindow);
  // A pull-down from a title near the bottom opens above it.
  MenuHandle bar = Menu(5, 1);
  const Rect title{int16(screen_.bottom - 30), 10, int16(screen_.bottom - 10), 60};
  MOpenSubmenu(bar, &title, pull, 1);
  WGetGlobalRect((*pull)->window, &g);
  EXPECT_EQ(g.bottom - 1, title.top);
  MCloseMenuWindow(bar, nullptr);
}

TEST_F(MenuTrack, PopUpReportsWhatTheInputChose) {
  struct Case {
    const char* what;
    std::function<std::vector<Step>(MenuHandle, MenuHandle)> script;
    int32 result, id, item;
  };
  const Case cases[] = {
      {"a click on an item", [](MenuHandle m, MenuHandle) {
         return std::vector<Step>{{20, [=] { Click(ItemAt(m, 2)); }}};
       }, 1, 7, 2},
      {"a click outside", [](MenuHandle, MenuHandle) {
         return std::vector<Step>{{20, [] { Click(Point{400, 600}); }}};
       }, 0, 0, 0},
      {"a disabled item", [](MenuHandle m, MenuHandle) {
         return std::vector<Step>{{20, [=] { Click(ItemAt(m, 3)); }}};
       }, 0, 0, 0},
      {"Down twice, then Enter", [](MenuHandle, MenuHandle) {
         return std::vector<Step>{{20, [] { Move(Point{400, 600}); }},
                                  {20, [] { Key(kPlatVkDown), Key(kPlatVkDown), Key(kPlatVkReturn); }}};
       }, 1, 7, 2},
      {"Escape", [](MenuHandle, MenuHandle) { return std::vector<Step>{{20, [] { Key(kPlatVkEscape); }}}; }, 0, 0, 0},
      {"a submenu after hovering, then its item", [](MenuHandle m, MenuHandle sub) {
         return std::vector<Step>{{20, [=] { Move(ItemAt(m, 4)); }},
                                  {600, [=] {
                                     ASSERT_EQ((*m)->openChild, sub);
                                     Click(ItemAt(sub, 2));
                                   }}};
       }, 1, 8, 2},
      {"the parent again closes the submenu after a while", [](MenuHandle m, MenuHandle sub) {
         return std::vector<Step>{{20, [=] { Move(ItemAt(m, 4)); }},
                                  {600, [=] { Move(ItemAt(sub, 1)); }},
                                  {50, [=] { Move(ItemAt(m, 1)); }},
                                  {200, [=] { EXPECT_EQ((*m)->openChild, sub) << "not yet"; }},
                                  {400, [=] {
                                     EXPECT_EQ((*m)->openChild, nullptr);
                                     Click(ItemAt(m, 1));
                                   }}};
       }, 1, 7, 1},
  };
  for (const Case& c : cases) {
    MenuHandle m = Menu(7, 4), sub = Menu(8, 3);
    MDisableItem(m, 3);
    MSetLItemSubmenu(m, 4, sub);
    int32 id = -9, item = -9;
    EXPECT_EQ(PopUp(m, c.script(m, sub), &id, &item), c.result) << c.what;
    EXPECT_EQ(id, c.id) << c.what;
    EXPECT_EQ(item, c.item) << c.what;
    EXPECT_EQ(gNext, gScript.size()) << c.what;
    EXPECT_EQ((*m)->window, kWNoWindow) << c.what;
    EXPECT_EQ((*sub)->window, kWNoWindow) << c.what;
    PlatUiPump();
  }
  int32 id = 5, item = 5;
  EXPECT_EQ(MPopUpMenuAt(nullptr, Point{1, 1}, &id, &item, 0, 0, 0), 0);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(item, 0);
}

TEST_F(MenuTrack, APaletteCellOpensItsSubmenuLowerAfterAWhile) {
  MenuHandle palette = nullptr, sub = nullptr;
  const uChar title[] = {1, 'P'}, name[] = {1, 'A'};
  ASSERT_EQ(MNewPictMenu(&palette, title, 11, 2), kNoErr);
  ASSERT_EQ(MNewPictMenu(&sub, title, 12, 1), kNoErr);
  menus_.push_back(palette), menus_.push_back(sub);
  for (int32 n = 1; n <= 3; ++n)
    ASSERT_EQ(MAppendPictMenuItem(palette, name, 0, nullptr, nullptr, 0, nullptr, 0, uInt32(n)), kNoErr);
  ASSERT_EQ(MAppendPictMenuItem(sub, name, 0, nullptr, nullptr, 0, nullptr, 0, 1), kNoErr);
  MGetPictCellPtr(palette, 2)->submenu = sub;
  Rect cell{};
  const auto hover = [&] {
    MenuProcMsg m{};
    m.code = kMenuItemRect;
    m.a1 = 2;
    PictMenuProc(&m, palette);
    std::memcpy(&cell, &m.a2, sizeof cell);
    cell = MenuRectToGlobal((*palette)->window, cell);
    Move(Point{int16(cell.top + 5), int16(cell.left + 5)});
  };
  bool early = true;
  Rect opened{};
  int32 id = -9, item = -9;
  PopUp(palette,
        {{30, hover},
         {300, [&] { early = (*sub)->window != kWNoWindow; }},
         {300, [&] { WGetGlobalRect((*sub)->window, &opened), Click(Point{500, 700}); }}},
        &id, &item);
  EXPECT_EQ(gNext, gScript.size());
  EXPECT_FALSE(early) << "not before 400 ms";
  EXPECT_EQ(opened.top - 1, cell.top + 20);
  EXPECT_EQ(item, 0);
}

// The screen over the owner window while a pull-down and its submenu are
// open (the X11 test compares the server's pixels with the same golden).
TEST_F(MenuTrack, AnOpenPullDownWithItsSubmenuMatchesGolden) {
  const Rect& r = menuscene::kScenePlace;
  PlatSurface* screen = PlatSurfaceCreate(1, 1, kPlatRgb32);
  PlatSurface* shot = PlatSurfaceCreate(r.right - r.left, r.bottom - r.top, kPlatRgb32);
  const menuscene::Input injected{[](Point p) { Move(p); }, [](Point p) { Click(p); }};
  EXPECT_EQ(menuscene::Run(injected, [&](MenuHandle, MenuHandle) { ASSERT_TRUE(PlatGetDisplay()->Compose(screen)); }),
            "20,2");
  for (int32 y = r.top; y < r.bottom; ++y)
    for (int32 x = r.left; x < r.right; ++x) PlatSurfaceSetPixel(shot, x - r.left, y - r.top, PlatSurfaceGetPixel(screen, x, y));
  qxtest::ExpectMatchesGolden(shot, std::filesystem::path(QX_SOURCE_DIR) / "tests/mgsource/goldens/menubar_open.png",
                              "QX_UPDATE_GOLDENS=1 build/tests/test_mgsource --gtest_filter=*PullDownWithItsSubmenu*");
  PlatSurfaceDestroy(shot);
  PlatSurfaceDestroy(screen);
}

TEST_F(MenuTrack, APressInTheScrollBarScrollsTheMenu) {
  // Rows below the bar's top in its local rectangle: the down arrow, a page
  // below the thumb.
  const struct {
    const char* what;
    int32 fromBottom;
    bool page;
  } cases[] = {{"down arrow", 4, false}, {"page down", 40, true}};
  for (const auto& c : cases) {
    MenuHandle m = Menu(9, 200);
    (*m)->scrollBar = 1;
    int32 seen = 0, rows = 0;
    const auto press = [&] {
      Rect bar{}, g{};
      MGetMenuScrollBarRect(m, &bar);
      WGetGlobalRect((*m)->window, &g);
      rows = (*m)->visibleRows;
      Click(Point{int16(g.top + bar.bottom - c.fromBottom), int16(g.left + (bar.left + bar.right) / 2)});
    };
    int32 id = -9, item = -9;
    PopUp(m, {{50, press}, {100, [&] { seen = (*m)->firstVisible, Key(kPlatVkEscape); }}}, &id, &item);
    EXPECT_EQ(gNext, gScript.size()) << c.what;
    ASSERT_GT(rows, 2) << c.what;
    EXPECT_EQ(seen, c.page ? 1 + rows : 2) << c.what;
    EXPECT_EQ(item, 0) << c.what;
    PlatUiPump();
  }
}

TEST_F(MenuTrack, AClickOutsideGoesToTheDocumentWindowUnderIt) {
  const struct {
    uInt32 style;
    bool posted;
  } cases[] = {{0x3C, true}, {0x02, false}};
  ASSERT_EQ(WEventQueueInit(1), kNoErr);
  MSetClickThrough(1);
  WAdjustNesting(1);
  for (const auto& c : cases) {
    const Rect place{300, 500, 400, 700};
    const WindowRef other = WCreate(c.style, nullptr, nullptr, &place, 0, 1, 0);
    MenuHandle m = Menu(7, 3);
    int32 id, item;
    EXPECT_EQ(PopUp(m, {{20, [] { Click(Point{350, 600}); }}}, &id, &item), 0);
    WEventRecord e{};
    bool found = false;
    WEventSetGate(1);
    while (WGetNextEvent(&e))
      if (e.code == weMouseDown && e.window == other) {
        found = true;
        EXPECT_EQ(e.where, WPackPoint(Point{50, 100}));
      }
    EXPECT_EQ(found, c.posted) << c.style;
    EXPECT_EQ(WIsActive(other) != 0, c.posted) << c.style;
    WDestroy(other);
    PlatUiPump();
  }
  WAdjustNesting(-1);
  MSetClickThrough(0);
  WEventQueueInit(0);
}

class MenuBar : public MenuTrack {
 protected:
  void SetUp() override {
    MenuTrack::SetUp();
    bar_ = Menu(1, {"_File", "_Edit", "_View"});
    MSetLItemSubmenu(bar_, 1, Menu(10, 3));
    MSetLItemSubmenu(bar_, 2, Menu(11, 2));
    MSetLItemSubmenu(bar_, 3, Menu(12, 2));
    MDisableItem(bar_, 3);
    MSetItemShortcut(MGetLItemPtr(bar_, 1)->submenu, 2, 'S', vkAscii, 0x20);
    MDrawMenuBar(bar_, &kBar);
    WSetEventHandler(window_, [](WEventRecord* e, uInt32) { return e->code == kMenuEvent ? 1 : 0; });
  }

 public:
  Point Title(int32 n) const {
    int32 pos[kMaxBarTitles + 1];
    MLayoutMenuBar(bar_, &kBar, pos);
    Point p{10, int16((pos[n - 1] + pos[n]) / 2)};
    WLocalToGlobal(window_, &p);
    return p;
  }
  MenuHandle Pull(int32 n) const { return MGetLItemPtr(bar_, n)->submenu; }

 protected:
  static constexpr Rect kBar{0, 0, 20, 200};
  MenuHandle bar_ = nullptr;
};

TEST_F(MenuBar, MouseAndKeysChooseFromPullDowns) {
  struct Case {
    const char* what;
    int32 title;     // clicked; 0: the menu-bar key with ch
    int32 ch;
    std::function<std::vector<Step>(MenuBar*)> script;
    int32 id, item;
    uInt32 key;
  };
  const Case cases[] = {
      {"a click on a title leaves it open; then an item", 1, 0, [](MenuBar* t) {
         return std::vector<Step>{{20, [=] { Click(t->Title(1)); }},
                                  {150, [=] {
                                     ASSERT_NE((*t->Pull(1))->window, kWNoWindow);
                                     Click(ItemAt(t->Pull(1), 2));
                                   }}};
       }, 10, 2, 102},
      {"a disabled title's choice", 3, 0, [](MenuBar* t) {
         return std::vector<Step>{{20, [=] { Click(ItemAt(t->Pull(3), 1)); }}};
       }, 0, 0, 0},
      // It also leaves the pointer away from the pull-downs the keys open.
      {"a click outside closes all", 2, 0, [](MenuBar*) {
         return std::vector<Step>{{20, [] { Click(Point{400, 600}); }}};
       }, 0, 0, 0},
      {"a mnemonic opens its title", 0, 'e', [](MenuBar*) {
         return std::vector<Step>{{20, [] { Key(kPlatVkDown), Key(kPlatVkReturn); }}};
       }, 11, 1, 101},
      {"the bar key alone, Right, Down opens the second", 0, 0, [](MenuBar*) {
         return std::vector<Step>{{20, [] { Key(kPlatVkRight), Key(kPlatVkDown); }},
                                  {150, [] { Key(kPlatVkDown), Key(kPlatVkReturn); }}};
       }, 11, 1, 101},
      {"Right on a plain item goes to the next title", 0, 'f', [](MenuBar*) {
         return std::vector<Step>{{20, [] { Key(kPlatVkRight); }},
                                  {150, [] { Key(kPlatVkDown), Key(kPlatVkDown), Key(kPlatVkReturn); }}};
       }, 11, 2, 102},
      {"Left in a pull-down goes to the previous title", 0, 'e', [](MenuBar*) {
         return std::vector<Step>{{20, [] { Key(kPlatVkLeft); }},
                                  {150, [] { Key(kPlatVkDown), Key(kPlatVkReturn); }}};
       }, 10, 1, 101},
      {"no mnemonic", 0, 'q', [](MenuBar*) { return std::vector<Step>{}; }, 0, 0, 0},
  };
  for (const Case& c : cases) {
    gScript = c.script(this);
    gNext = 0;
    gLast = PlatTickMs();
    int32 id = -9, item = -9;
    uInt32 key = 9;
    if (c.title) {
      Point at = Title(c.title);
      WGlobalToLocal(window_, &at);
      MMenuBarClick(bar_, &kBar, at, &id, &item, &key);
    } else {
      WEventRecord e{weKey, window_, 0, 0, 0, c.ch, vkPopupMenuBar, {7, 7, 7}};
      EXPECT_EQ(MHandleMenuBarEvent(&e, bar_, &kBar), 1);
      EXPECT_EQ(e.code, weMenuSelect);
      EXPECT_EQ(e.character | e.keyCode | e.data[0], 0);
      id = e.where, item = e.globalWhere, key = uInt32(e.modifiers);
    }
    EXPECT_EQ(id, c.id) << c.what;
    EXPECT_EQ(item, c.item) << c.what;
    EXPECT_EQ(key, c.key) << c.what;
    EXPECT_EQ(gNext, gScript.size()) << c.what;
    for (int32 n = 1; n <= 3; ++n) EXPECT_EQ((*Pull(n))->window, kWNoWindow) << c.what;
    PlatUiPump();
  }
  // A Ctrl+S shortcut becomes a menu command; a plain S does not.
  WEventRecord e{weKey, window_, 0, 0, 0x31, 's', vkAscii, {}};
  EXPECT_EQ(MHandleMenuBarEvent(&e, bar_, &kBar), 1);
  EXPECT_EQ(e.code, weMenuSelect);
  EXPECT_EQ(e.where, 10);
  EXPECT_EQ(e.globalWhere, 2);
  EXPECT_EQ(e.modifiers, 102);
  WEventRecord plain{weKey, window_, 0, 0, 0, 's', vkAscii, {}};
  EXPECT_EQ(MMenuBarShortcut(&plain, bar_, 1), 0);
}

}  // namespace menutracktest
