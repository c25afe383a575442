// List menus: item entries, item records, groups and links, the
// procedure's messages and steps, and drawing against goldens.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "draw_window.h"
#include "golden_image.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/window/lmenu.h"
#include "platform/qx_time.h"
#include "tests/fuzz/rsrc_image.h"

namespace lmenutest {

std::string S(ConstPStr p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }
struct P {
  explicit P(const std::string& s) {
    b[0] = uChar(s.size());
    std::memcpy(b + 1, s.data(), b[0]);
  }
  uChar b[256];
};

int32 Width(const std::string& s, int32 font) {
  Point size{0, 0};
  TTextSize(reinterpret_cast<const uChar*>(s.data()), int32(s.size()), font, &size);
  return size.h;
}

std::vector<WEventRecord> gRootEvents;
int32 RootHandler(WEventRecord* e, uInt32) {
  gRootEvents.push_back(*e);
  return 0;
}

class LMenus : public DrawWindow {
 protected:
  void SetUp() override {
    DrawWindow::SetUp();
    End();
    const Rect place{40, 40, 300, 440};
    window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    ASSERT_NE(window_, kWNoWindow);
    Begin();
    TXInitFonts();
    static const MgErr kResources = RInitResources();
    ASSERT_EQ(kResources, kNoErr);
    MLoadMenuColors();
    MenuColours& c = gMenuColours;
    c.text = c.windowText = c.buttonText = c.frame = 0x000000, c.background = c.face = c.face2 = 0xCCCCCC;
    c.light = 0xFFFFCC, c.shadow = 0x666666, c.scrollTrack = 0x999999, c.selection = 0x000066;
    c.selectionText = 0xFFFFFF;
    gMenuMetrics.vBarWidth = gMenuMetrics.vArrowHeight = 16;
    gMenuMetrics.checkImage = 0;
    MSetBrowseOnly(0), MSetChooseDisabled(0), MSetListStyle(0);
  }
  void TearDown() override {
    for (MenuHandle m : menus_) MDisposeMenu(m);
    MemFailNthAllocation(0);
    TXFinishFonts();
    DrawWindow::TearDown();
  }
  // A list menu read from a string list: the title, then item entries.
  MenuHandle Make(const std::vector<std::string>& entries, int32 id = 9) {
    rsrcw::Writer w(FourCC("QXRS"), 0);
    std::vector<std::string> all{"Menu"};
    all.insert(all.end(), entries.begin(), entries.end());
    w.Add(FourCC("STR#"), 500, rsrcw::StrList(all));
    const RsrcFileRef file = FuzzOpenRsrcImage(w.Write());
    EXPECT_NE(file, 0u);
    MenuHandle m = nullptr;
    EXPECT_EQ(MNewLMenuFromStrings(file, 500, id, &m), kNoErr);
    RCloseFile(file);
    menus_.push_back(m);
    return m;
  }
  MenuHandle Numbered(int32 n) {
    std::vector<std::string> entries;
    for (int32 i = 1; i <= n; ++i) entries.push_back("Item " + std::to_string(i) + ":n" + std::to_string(i));
    return Make(entries);
  }
  void Open(MenuHandle m, int32 rows, int32 first = 1) {
    (*m)->visibleRows = rows;
    (*m)->firstVisible = first;
    MCalcMenuSize(m);
    (*m)->size.bottom = int16((*m)->lineHeight + 2) * rows + 4;
  }
  static std::string Text(MenuHandle m, int32 n) { return S(MLItemString(MGetLItemPtr(m, n), 0)); }
  static int32 Step(MenuHandle m, int32 code, int32 a2, int32 key, int32 ch = 0) {
    MenuProcMsg msg{};
    msg.code = code;
    msg.a2 = a2;
    msg.a5 = ch;
    msg.a6 = uInt32(key);
    LMenuProc(&msg, m);
    return msg.a2;
  }
  std::vector<MenuHandle> menus_;
};

TEST_F(LMenus, EntriesGiveTextNameAndShortcut) {
  const struct {
    const char* entry;
    const char* text;
    const char* name;
    uChar mnemonic;
    int32 ch, key;
    uInt32 storedMods;  // after MSetItemShortcut
    bool enabled;
  } cases[] = {
      {"Redo:APP_REDO:Shift+Z", "Redo", "APP_REDO", 0, 'Z', 27, 0x22, true},
      {"Insert _User Item::Mk+vkEnter", "Insert User Item", "", 'U', 0, 2, 0x20, true},
      {"Add::Ctrl++", "Add", "", 0, '+', 27, 0, true},
      {"Save::Ctrl+s", "Save", "", 0, 'S', 27, 0, true},  // Ctrl alone is not kept
      {"Open::o", "Open", "", 0, 'O', 27, 0x20, true},     // no modifier: the menu key
      {"Find::Mk+f", "Find", "", 0, 'F', 27, 0x20, true},
      {"Go::Opt+vkF10+Bogus", "Go", "", 0, 0, 24, 0, true},
      {"-", "-", "", 0, 0, 0, 0, false},
      {"--", "--", "", 0, 0, 0, 0, true},
  };
  std::vector<std::string> entries;
  for (const auto& c : cases) entries.push_back(c.entry);
  MenuHandle m = Make(entries);
  ASSERT_EQ(MCountItems(m), int32(std::size(cases)));
  for (int32 n = 1; n <= MCountItems(m); ++n) {
    const auto& c = cases[n - 1];
    const LItemRecord* r = MGetLItemPtr(m, n);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(r) % 4, 0u) << c.entry;
    EXPECT_EQ(Text(m, n), c.text) << c.entry;
    EXPECT_EQ(S(MLItemString(r, 1)), c.name) << c.entry;
    EXPECT_EQ(r->mnemonic, c.mnemonic) << c.entry;
    EXPECT_EQ(r->shortcutChar, c.ch) << c.entry;
    EXPECT_EQ(r->shortcutKey, c.key) << c.entry;
    EXPECT_EQ(r->shortcutMods, c.storedMods) << c.entry;
    EXPECT_EQ(r->enabled != 0, c.enabled) << c.entry;
    EXPECT_EQ(r->itemKey, uInt32(n)) << c.entry;
  }
  // The raw modifiers before MSetItemShortcut keeps only 0x22.
  uChar text[256];
  int32 ch, key;
  uInt32 mods;
  MParseShortcutSpec(P("Add::Ctrl++").b, text, nullptr, &ch, &key, &mods);
  EXPECT_EQ(mods, 0x10u);
  MParseShortcutSpec(P("Open::o").b, text, nullptr, &ch, &key, &mods);
  EXPECT_EQ(mods, 0x20u);
  // The underline of the mnemonic lies under "U".
  const int32 font = (*m)->font;
  EXPECT_EQ(MGetLItemPtr(m, 2)->underlineOffset, Width("Insert ", font));
  EXPECT_EQ(MGetLItemPtr(m, 2)->underlineLength, Width("Insert U", font) - Width("Insert ", font) - 1);
}

TEST_F(LMenus, GroupsStayWholeAndItemsKeepTheirPlaces) {
  MenuHandle m = Numbered(5);
  ASSERT_EQ(MGroupLItems(m, 2, 3, P("grp").b), kNoErr);
  EXPECT_EQ(MGetLItemGroupSize(m, 2), 3);
  EXPECT_EQ(MGetLItemPtr(m, 4)->group, -2);
  EXPECT_EQ(MCountTopItems(m), 3);
  EXPECT_EQ(MFindLItemByName(m, P("GRP").b, nullptr, nullptr, 0), 2);
  // After a follower: after the group's last item.
  ASSERT_EQ(MInsertLItem(m, P("New").b, nullptr, 0, nullptr, 0, 3, 77), kNoErr);
  EXPECT_EQ(Text(m, 5), "New");
  // Positions outside 0..count and oversized data are refused.
  uChar big[300] = {};
  EXPECT_EQ(MInsertLItem(m, P("x").b, nullptr, 0, nullptr, 0, 9, 0), 1);
  EXPECT_EQ(MInsertLItem(m, P("x").b, nullptr, 0, big, 257, 0, 0), 1);
  EXPECT_EQ(MGetLItemPtr(m, 7), nullptr);
  EXPECT_EQ(MCountItems(m), 6);
  // Deleting a follower deletes the whole group.
  MDeleteItem(m, 3);
  EXPECT_EQ(MCountItems(m), 3);
  EXPECT_EQ(Text(m, 2), "New");
  EXPECT_EQ(Text(m, 3), "Item 5");
  // Walking the records ends at the handle's end.
  LItemRecord* r = MGetLItemPtr(m, 1);
  for (int32 i = 0; i < 3; ++i) r = MNextLItem(r);
  EXPECT_EQ(reinterpret_cast<uChar*>(r) - reinterpret_cast<uChar*>(*m),
            AZGetHandleSize(reinterpret_cast<UHandle>(m)));
}

TEST_F(LMenus, SortedInsertionAndChangesKeepTheItem) {
  MenuHandle m = Make({"Apple", "Cherry"});
  int32 at = 0;
  ASSERT_EQ(MInsertLItemSorted(m, P("__Banana").b, nullptr, 0, nullptr, 0, 0, 5, 2, 1, &at), kNoErr);
  EXPECT_EQ(at, 2);
  ASSERT_EQ(MInsertLItemSorted(m, P("Zed").b, nullptr, 0, nullptr, 0, 0, 6, 3, 1, &at), kNoErr);
  EXPECT_EQ(at, 4);
  ASSERT_EQ(MInsertLItemSorted(m, P("Date").b, nullptr, 0, nullptr, 0, 0, 7, 4, 0, &at), kNoErr);
  EXPECT_EQ(at, 1);  // descending: before the first smaller text
  // A change with null text keeps the mnemonic; a longer name keeps data.
  const uChar data[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(MInsertLItem(m, P("Sa_ve").b, nullptr, 1, data, 5, -1, 8), kNoErr);
  const int32 n = MCountItems(m);
  const uChar mnemonic = MGetLItemPtr(m, n)->mnemonic;
  ASSERT_EQ(MChangeLItem(m, n, nullptr, P(std::string(200, 'n')).b), kNoErr);
  const LItemRecord* r = MGetLItemPtr(m, n);
  EXPECT_EQ(S(MLItemString(r, 0)), "Save");
  EXPECT_EQ(r->mnemonic, mnemonic);
  EXPECT_EQ(r->mark, 1);
  EXPECT_EQ(r->itemKey, 8u);
  uChar back[8] = {};
  EXPECT_EQ(MGetItemData(m, n, back, 8), 8);  // padded to 4
  EXPECT_EQ(std::memcmp(back, data, 5), 0);
  // A change that cannot grow the handle leaves the old item.
  MemFailNthAllocation(1);
  EXPECT_EQ(MChangeLItem(m, n, P(std::string(250, 't')).b, nullptr), kMemFullErr);
  MemFailNthAllocation(0);
  MemFullReset();
  EXPECT_EQ(Text(m, n), "Save");
}

TEST_F(LMenus, LinksAndCopiedGroupsFindTheirSource) {
  MenuHandle src = Make({"One:k1", "Two:k2", "Three:k3"}, 1);
  MenuHandle m = Make({"Top"}, 2);
  ASSERT_EQ(MCopyItems(m, P("copied").b, -1, 0, src, 1, 3), kNoErr);
  EXPECT_EQ(MCountItems(m), 4);
  EXPECT_EQ(MGetLItemGroupSize(m, 2), 3);
  MenuHandle linked = nullptr;
  int32 index = 0;
  ASSERT_EQ(MGetLItemLink(m, 4, &linked, &index), 1);  // a follower: offset from the head
  EXPECT_EQ(linked, src);
  EXPECT_EQ(index, 3);
  EXPECT_EQ(Text(m, 3), "Two");
  // Neither name nor key: refused.
  EXPECT_EQ(MCopyItems(m, nullptr, -1, 0, src, 1, 2), 1);
  // A failure part way removes what was inserted.
  for (int32 nth = 1; nth <= 6; ++nth) {
    MemFailNthAllocation(nth);
    const MgErr err = MCopyItems(m, P("again").b, 0, 0, src, 1, 3);
    MemFailNthAllocation(0);
    MemFullReset();
    if (err == kNoErr) {
      MDeleteLItemGroup(m, 1);
      continue;
    }
    EXPECT_EQ(MCountItems(m), 4) << nth;
    EXPECT_EQ(Text(m, 1), "Top") << nth;
  }
}

TEST_F(LMenus, SizeShortcutSearchAndItemData) {
  MenuHandle sub = Make({"Deep:d:Ctrl+Q", "Off::Ctrl+W"}, 3);
  MenuHandle m = Make({"Save::Mk+S", "Sub", "Gone::Ctrl+G"}, 4);
  MSetLItemSubmenu(m, 2, sub);
  MSetLItemSubmenu(sub, 1, m);  // a cycle: each menu is searched once
  MDisableItem(m, 3);
  MDisableItem(sub, 2);
  MCalcMenuSize(m);
  const int32 font = (*m)->font;
  EXPECT_EQ(MGetLItemPtr(m, 1)->shortcutWidth, std::max(Width("Ctrl+W", font), Width("WW", font)) + 10);
  EXPECT_EQ(MGetLItemPtr(m, 2)->shortcutWidth, Width(">", font) + 10);
  const struct {
    int32 ch;
    uInt32 flag;
    int32 result, a1, a2;
  } cases[] = {
      {'S', 1, 1, 4, 1}, {'G', 1, 1, 0, 0}, {'G', 0, 1, 4, 3}, {'Q', 1, 1, 3, 1},
      {'W', 1, 1, 0, 0}, {'X', 1, 0, 0, 0},
  };
  for (const auto& c : cases) {
    MenuProcMsg msg{};
    msg.code = kMenuFindShortcut;
    msg.a5 = c.ch;
    msg.a4 = c.ch == 'S' ? 0x20 : 0;
    msg.a6 = 27;
    msg.flag = c.flag;
    EXPECT_EQ(LMenuProc(&msg, m), c.result) << char(c.ch) << c.flag;
    EXPECT_EQ(msg.a1, c.a1) << char(c.ch) << c.flag;
    EXPECT_EQ(msg.a2, c.a2) << char(c.ch) << c.flag;
  }
  MSetLItemSubmenu(sub, 1, nullptr);
  const uChar data[12] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
  ASSERT_EQ(MInsertLItem(m, P("D").b, nullptr, 0, data, 9, -1, 0), kNoErr);
  uChar out[12] = {};
  EXPECT_EQ(MGetItemData(m, 4, out, 3), 3);
  EXPECT_EQ(MGetItemData(m, 4, out, 12), 12);
  EXPECT_EQ(out[8], 1);
}

TEST_F(LMenus, KeyStepsMoveWrapAndSkip) {
  MenuHandle five = Numbered(5);
  Open(five, 5);
  MenuHandle list = Numbered(20);
  MSetMenuScrollBar(list, 1);
  Open(list, 10);
  MDisableItem(list, 2);
  const struct {
    MenuHandle m;
    int32 item, key, ch, result;
  } cases[] = {
      {five, 5, 5, 0, 1},   {five, 1, 4, 0, 5},    {list, 20, 5, 0, 20}, {list, 1, 5, 0, 3},
      {list, 3, 4, 0, 1},   {list, 5, 13, 0, 14},  {list, 15, 12, 0, 6}, {list, 2, 12, 0, 1},
      {list, 7, 11, 0, 20}, {five, 3, 27, 27, -4}, {five, 3, 6, 0, -3},  {five, 3, 7, 0, -2},
      {five, 3, 27, 'q', 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Step(c.m, kMenuKeyStep, c.item, c.key, c.ch), c.result) << c.item << " " << c.key;
}

TEST_F(LMenus, MouseAndWheelStepsFollowTime) {
  MenuHandle sub = Numbered(2);
  MenuHandle m = Numbered(20);
  MSetLItemSubmenu(m, 3, sub);
  Open(m, 8, 1);
  std::vector<int32> opened;
  static std::vector<int32>* sOpened;
  sOpened = &opened;
  MSetSubmenuOpener([](MenuHandle, int32 item, const Rect*) { sOpened->push_back(item); });
  gRootEvents.clear();
  WSetEventHandler(WRootWindow(), &RootHandler);
  const int32 h = (*m)->lineHeight + 2;
  const auto mouse = [&](int32 v, int32 previous) {
    MenuProcMsg msg{};
    msg.code = kMenuMouseStep;
    msg.a1 = PointToWord(Point{int16(v), 10});
    msg.a3 = previous;
    LMenuProc(&msg, m);
    return msg.a3;
  };
  EXPECT_EQ(mouse(2 * h + 3, 0), 3);
  ASSERT_EQ(gRootEvents.size(), 1u);
  EXPECT_EQ(gRootEvents[0].code, kMenuItemHighlighted);
  EXPECT_EQ(gRootEvents[0].where, 9);
  EXPECT_EQ(gRootEvents[0].globalWhere, 3);
  PlatTickShift(300);
  EXPECT_EQ(mouse(2 * h + 3, 3), 3);
  PlatTickShift(150);
  EXPECT_EQ(mouse(2 * h + 3, 3), kMenuStepSubmenu);
  EXPECT_EQ(opened, std::vector<int32>{3});
  // The down-arrow row scrolls after 50 ms.
  EXPECT_EQ(mouse(7 * h + 3, 3), kMenuHitDownArrow);
  EXPECT_EQ((*m)->firstVisible, 1);
  PlatTickShift(60);
  EXPECT_EQ(mouse(7 * h + 3, kMenuHitDownArrow), kMenuHitDownArrow);
  EXPECT_EQ((*m)->firstVisible, 2);
  WSetEventHandler(WRootWindow(), nullptr);
  MSetSubmenuOpener(nullptr);
  // Wheel: +1.0 scrolls up a row, at the top nothing.
  const auto wheel = [&](float notches) {
    MenuProcMsg msg{};
    msg.code = kMenuWheelStep;
    std::memcpy(&msg.a4, &notches, 4);
    LMenuProc(&msg, m);
    return (*m)->firstVisible;
  };
  (*m)->firstVisible = 6;
  EXPECT_EQ(wheel(1.0f), 5);
  EXPECT_EQ(wheel(-1.0f), 6);
  (*m)->firstVisible = 1;
  EXPECT_EQ(wheel(1.0f), 1);
}

TEST_F(LMenus, ArrowScrollingDrawsWhatAFreshDrawShows) {
  MenuHandle m = Numbered(12);
  const struct {
    int32 from, to, first;
  } cases[] = {{4, 3, 2}, {4, 1, 1}, {4, 9, 6}, {4, 12, 8}, {1, 6, 3}, {8, 2, 1}, {3, 7, 4}};
  MenuProcMsg draw{};
  draw.code = kMenuDraw;
  const auto pixels = [&] {
    std::vector<uInt32> p;
    for (int32 y = 0; y < RectHeight(&(*m)->size); ++y)
      for (int32 x = 0; x < RectWidth(&(*m)->size); ++x) p.push_back(At(x, y));
    return p;
  };
  for (const auto& c : cases) {
    Open(m, 5, c.from);
    (*m)->currentItem = 0;
    LMenuProc(&draw, m);
    EXPECT_EQ(MScrollToItem(m, c.to, 0), 1);
    EXPECT_EQ((*m)->firstVisible, c.first) << c.from << "->" << c.to;
    const std::vector<uInt32> scrolled = pixels();
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    LMenuProc(&draw, m);
    EXPECT_TRUE(scrolled == pixels()) << c.from << "->" << c.to;
  }
}

TEST_F(LMenus, MenusAndBarMatchGolden) {
  MenuHandle sub = Numbered(1);
  MenuHandle m = Make({"Checked", "Save::Ctrl+S", "Sub", "-", "Off", "_Mnemonic", "--"});
  MCheckItem(m, 1, 1);
  MSetLItemSubmenu(m, 3, sub);
  MDisableItem(m, 5);
  Open(m, 7);
  (*m)->currentItem = 2;
  MenuProcMsg draw{};
  draw.code = kMenuDraw;
  LMenuProc(&draw, m);
  MenuHandle arrows = Numbered(12);
  Open(arrows, 5, 4);
  const int32 width = RectWidth(&(*m)->size);
  const auto at = [&](MenuHandle menu, int32 dh, int32 dv) {
    DOffsetRect(&(*menu)->size, dh, dv);
    LMenuProc(&draw, menu);
    DOffsetRect(&(*menu)->size, -dh, -dv);
  };
  at(arrows, width + 8, 0);
  MenuHandle list = Numbered(12);
  MSetMenuScrollBar(list, 1);
  Open(list, 5, 3);
  at(list, width + 8, 120);
  // The bar: the second title at the first's width; the third highlighted.
  MenuHandle bar = Make({"File", "_Edit", "View"});
  const Rect barRect{200, 0, int16(200 + MMenuBarHeight()), 300};
  MDrawMenuBar(bar, &barRect);
  const int32 w1 = MTitleWidth((*bar)->font, MLItemString(MGetLItemPtr(bar, 1), 0));
  const int32 w2 = MTitleWidth((*bar)->font, MLItemString(MGetLItemPtr(bar, 2), 0));
  const int32 positions[] = {0, w1, w1 + w2, w1 + w2 + MTitleWidth((*bar)->font, P("View").b)};
  MHiliteTitle(bar, &barRect, positions, 3, 1);
  // A black-and-white port.
  gDrawState.bw = 1;
  at(m, 300, 0);
  gDrawState.bw = 0;
  qxtest::ExpectMatchesGolden(Surface(), std::filesystem::path(QX_SOURCE_DIR) / "tests/mgsource/goldens/lmenu.png",
                              "QX_UPDATE_GOLDENS=1 build/bin/test_mgsource --gtest_filter=LMenus.*");
}

}  // namespace lmenutest
