// The menu record, the item calls' message blocks, item and shortcut texts.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "mgsource/draw/fonts.h"
#include "mgsource/extload.h"
#include "mgsource/memory.h"
#include "mgsource/window/menus.h"
#include "test_support.h"

namespace {

std::vector<MenuProcMsg> gSent;
int32 Recording(MenuProcMsg* msg, MenuHandle menu) {
  gSent.push_back(*msg);
  if (msg->code == kMenuFindMnemonic) msg->a2 = 3;
  if (msg->code == kMenuCalcSize) (*menu)->size = Rect{0, 0, 40, 50};
  return msg->code;
}

std::string S(ConstPStr p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }
struct P {
  explicit P(const std::string& s) {
    b[0] = uChar(s.size() > 255 ? 255 : s.size());
    std::memcpy(b + 1, s.data(), b[0]);
  }
  uChar b[256];
};

class Menus : public ManagerTest {
 protected:
  void SetUp() override {
    TXFinishFonts();
    ManagerTest::SetUp();
    TXInitFonts();
    gSent.clear();
  }
  void TearDown() override {
    TXFinishFonts();
    ManagerTest::TearDown();
  }
  MenuHandle Make(int32 items) {
    MenuHandle m = nullptr;
    EXPECT_EQ(MNewCustomMenu(&m, P("Edit").b, 7, &Recording, 0), kNoErr);
    (*m)->itemCount = items;
    return m;
  }
  Capture capture_;
};

TEST_F(Menus, TitlesArePaddedToWholeWords) {
  const struct {
    const char* title;
    int32 bytes;
  } cases[] = {{"", 4}, {"abc", 4}, {"abcd", 8}, {"abcdefgh", 12}};
  for (const auto& c : cases) {
    MenuHandle m = nullptr;
    ASSERT_EQ(MNewMenu(&m, 3, P(c.title).b), kNoErr);
    EXPECT_EQ(AZGetHandleSize(reinterpret_cast<UHandle>(m)), kMenuHeaderSize + c.bytes) << c.title;
    MDisposeMenu(m);
  }
}

TEST_F(Menus, EnablingChecksTheRangeBeforeSending) {
  MenuHandle m = Make(5);
  const struct {
    int32 item;
    bool sent;
    int32 a2;
    int reports;
  } cases[] = {{-1, true, 5, 0}, {1, true, 1, 0}, {0, false, 0, 0}, {6, false, 0, 1}, {-2, false, 0, 1}};
  for (const auto& c : cases) {
    gSent.clear();
    capture_.Clear();
    MEnableItem(m, c.item);
    ASSERT_EQ(gSent.size(), c.sent ? 1u : 0u) << c.item;
    if (c.sent) { EXPECT_EQ(gSent[0].a2, c.a2); }
    EXPECT_EQ(capture_.Count("MEnableItem: " + std::to_string(c.item) + " out of range [1..5]"), c.reports)
        << c.item;
  }
  MDisableItem(m, 9);
  EXPECT_EQ(capture_.Count("MDisableItem: 9 out of range [1..5]"), 1);
  MDisposeMenu(m);
}

TEST_F(Menus, ItemCallsFillTheirWords) {
  MenuHandle m = Make(4);
  Str255 text;
  char data[8];
  MenuItemInfo info;
  const struct {
    const char* what;
    std::function<void()> call;
    int32 code, a1, a2, a3, a4, a5;
    uInt32 a6;
  } cases[] = {
      {"delete all", [&] { MDeleteAllItems(m); }, -100, 0, 0, 0, 0, 0, 0},
      {"disable", [&] { MDisableItem(m, 2); }, -103, 0, 2, 0, 0, 0, 0},
      {"check", [&] { MCheckItem(m, 3, 7); }, -105, 0, 3, 0, 1, 0, 0},
      {"shortcut", [&] { MSetItemShortcut(m, 2, 's', 27, 0x31); }, -107, 0, 2, 0, 0x20, 's', 27},
      {"shortcut shift", [&] { MSetItemShortcut(m, 2, 'x', 15, 0xFF); }, -107, 0, 2, 0, 0x22, 'x', 15},
      {"delete", [&] { MDeleteItem(m, 4); }, -109, 0, 4, 0, 0, 0, 0},
      {"mnemonic", [&] { EXPECT_EQ(MFindMnemonicItem(m, 'q'), 3); }, -110, 0, 0, 0, 0, 'Q', 0},
      {"text", [&] { MGetItemText(m, 2, text); }, -111, 2, int32(uintptr_t(text)), 0, 0, 0, 0},
      {"data", [&] { MGetItemData(m, 1, data, 8); }, -111, 1, 0, 8, int32(uintptr_t(data)), 0, 0},
      {"info", [&] { MGetItemInfo(m, 3, &info); }, -111, 3, 0, 0, 0, 0, uInt32(uintptr_t(&info))},
      {"disable menu", [&] { EXPECT_EQ(MDisableMenu(m), 1); }, -112, 0, 0, 0, 0, 0, 0},
      {"key", [&] { MSetItemKey(m, 1, 0xABCD); }, -115, 0, 1, 0xABCD, 0, 0, 0},
      {"size", [&] { MCalcMenuSize(m); }, -101, 0, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    gSent.clear();
    c.call();
    ASSERT_EQ(gSent.size(), 1u) << c.what;
    const MenuProcMsg& s = gSent[0];
    EXPECT_EQ(std::vector<int64_t>({s.code, s.a1, s.a2, s.a3, s.a4, s.a5, s.a6}),
              std::vector<int64_t>({c.code, c.a1, c.a2, c.a3, c.a4, c.a5, c.a6}))
        << c.what;
  }
  // Item 0 sends nothing; the info record is cleared even so.
  gSent.clear();
  MCheckItem(m, 0, 1);
  MSetItemShortcut(m, 0, 'a', 27, 0);
  MSetItemKey(m, 0, 1);
  MDeleteItem(m, 0);
  text[0] = 9;
  MGetItemText(m, 0, text);
  EXPECT_TRUE(gSent.empty());
  EXPECT_EQ(text[0], 0);
  std::memset(&info, 0xFF, sizeof info);
  MGetItemInfo(m, 2, &info);
  const MenuItemInfo zero{};
  EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0) << "a procedure that fills nothing leaves it cleared";
  // A fixed width overrides the computed one; deleting empties the size.
  MSetMenuFixedSize(m, 70, 0);
  MCalcMenuSize(m);
  EXPECT_TRUE((*m)->size.right == 70 && (*m)->size.bottom == 40);
  MDeleteItem(m, 1);
  EXPECT_EQ((*m)->size.right, 0);
  MDisposeMenu(m);
}

TEST_F(Menus, CopiesAndFontsKeepTheirReferences) {
  MenuHandle m = Make(0);
  const int32 font = (*m)->font;
  const int32 refs = TFontReferences(font);
  MenuHandle copy = m;
  ASSERT_EQ(MCopyMenu(&copy, 12), kNoErr);
  EXPECT_NE(copy, m);
  EXPECT_TRUE(MGetMenuID(copy) == 12 && MGetMenuID(m) == 7);
  EXPECT_EQ(TFontReferences(font), refs + 1);
  MDisposeMenu(copy);
  EXPECT_EQ(TFontReferences(font), refs);
  // A font from 49 pixels of line height is made size 48; a smaller one is
  // taken as it is.
  const struct {
    int32 size;
    bool capped;
  } cases[] = {{60, true}, {12, false}};
  for (const auto& c : cases) {
    const int32 f = TNewFont(P("DejaVu Sans").b, c.size, 0, 0);
    int32 ascent = 0, descent = 0;
    TGetFontMetrics(f, &ascent, &descent, nullptr);
    ASSERT_EQ(ascent + descent > 48, c.capped) << c.size;
    const int32 before = TFontReferences(f);
    MSetMenuFont(m, f);
    int32 size = 0;
    TGetFontInfo((*m)->font, nullptr, &size, nullptr, nullptr);
    EXPECT_EQ(size, c.capped ? 48 : c.size);
    if (!c.capped) { EXPECT_EQ(TFontReferences(f), before + 1); }
    TDisposeFont(f);
  }
  MDisposeMenu(m);
  EXPECT_EQ(TFontReferences(font), refs - 1) << "the record's own reference went with it";
}

TEST_F(Menus, ItemTextsAndMnemonics) {
  const std::string longText = std::string(250, 'x') + "@y" + "zz";
  const struct {
    std::string text, shown;
    int32 mnemonic;
  } cases[] = {
      {"__a_b", "a_b", 0},           {"Save _As", "Save As", 6},    {"Open @O", "Open (O)", 7},
      {"a_b_c", "ab_c", 2},          {"a@b_c", "a(b)_c", 3},        {"plain", "plain", 0},
      {"end_", "end", 0},            {"__", "", 0},                 {"_", "", 0},
      {longText, std::string(250, 'x') + "(y)zz", 252},
      {std::string(253, 'x') + "@y", std::string(253, 'x') + "(y", 255},
  };
  for (const auto& c : cases) {
    Str255 shown;
    EXPECT_EQ(MParseItemText(P(c.text).b, shown), c.mnemonic) << c.text;
    EXPECT_EQ(S(shown), c.shown.substr(0, 255)) << c.text;
  }
}

MgErr GermanCtrl(int32 index, PStr text, ConstPStr def) {
  if (index == 61) {
    std::memcpy(text, "\005Strg+", 6);
    return kNoErr;
  }
  std::memcpy(text, def, size_t(def[0]) + 1);
  return kRsrcNotFoundErr;
}

TEST_F(Menus, ShortcutTexts) {
  const struct {
    int32 character, key;
    uInt32 modifiers;
    const char* text;
  } cases[] = {
      {'s', 27, 0x22, "Ctrl+Shift+S"}, {0, 15, 0, "F1"},      {0, 26, 0x10, "Ctrl+F12"}, {0, 1, 0x04, "Caps+Clear"},
      {0, 14, 0, "Help"},              {0, 13, 0x02, "Shift+PgDown"}, {'q', 0, 0x20, "Ctrl+"},
  };
  for (const auto& c : cases) {
    Str255 t;
    MShortcutText(c.character, c.key, c.modifiers, t);
    EXPECT_EQ(S(t), c.text) << c.key;
  }
  ExtCodeSetAppIndStringHook(&GermanCtrl);
  Str255 t;
  MShortcutText('s', 27, 0x22, t);
  ExtCodeSetAppIndStringHook(nullptr);
  EXPECT_EQ(S(t), "Strg+Shift+S") << "the string list's entries win";
}

}  // namespace
