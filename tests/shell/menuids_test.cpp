// The menu-id table: ids handed out, reserved and released, the table's
// growth, the tracked sub-menus and the item searches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "mgsource/memory.h"
#include "mgsource/window/lmenu.h"
#include "shell/menuids.h"

namespace {

// Items of a test menu, answered by its procedure as a list menu answers.
std::vector<std::string> gItems;

int32 TextItemsProc(MenuProcMsg* msg, MenuHandle menu) {
  switch (msg->code) {
    case kMenuGetItem: {
      const std::string& s = gItems.at(size_t(msg->a1 - 1));
      if (uChar* text = reinterpret_cast<uChar*>(uintptr_t(msg->a2))) {
        text[0] = uChar(s.size());
        std::memcpy(text + 1, s.data(), s.size());
      }
      return 1;
    }
    case kMenuDeleteItem:
      gItems.erase(gItems.begin() + (msg->a2 - 1));
      (*menu)->itemCount = int32(gItems.size());
      return 1;
    case kMenuDeleteAll:
      gItems.clear();
      (*menu)->itemCount = 0;
      return 1;
    default: return 0;
  }
}

MenuHandle TextMenu(int32 id, std::vector<std::string> items) {
  MenuHandle m = nullptr;
  EXPECT_EQ(MNewCustomMenu(&m, reinterpret_cast<ConstPStr>("\x01m"), id, &TextItemsProc, 0), kNoErr);
  gItems = std::move(items);
  (*m)->itemCount = int32(gItems.size());
  return m;
}

class MenuIDTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    MenuTableReset(0);
  }
  void TearDown() override {
    MenuTableReset(1);
    EngineTest::TearDown();
  }
};

TEST_F(MenuIDTest, IdsFrom124GrowBy500AndReservedOnesStay) {
  EXPECT_EQ(NewPopupMenuID(), 124);
  EXPECT_EQ(MenuKindGet(124), kMenuKindPopup);
  EXPECT_EQ(ReserveMenuID(40, kMenuKindPopup), 0);
  EXPECT_EQ(ReserveMenuID(40, kMenuKindPopup), 1) << "taken";
  EXPECT_EQ(ReserveMenuID(kMenuTableInitialSize, 1), 1) << "beyond the table";
  ReleaseMenuID(40);
  EXPECT_EQ(MenuKindGet(40), kMenuKindPopup) << "ids up to 123 are never released";
  ReleaseMenuID(124);
  EXPECT_EQ(NewMenuID(kMenuKindTracked), 124) << "the lowest free id again";
  for (int32 id = 125; id < kMenuTableInitialSize; ++id) ASSERT_EQ(NewMenuID(1), id);
  EXPECT_EQ(NewMenuID(1), kMenuTableInitialSize) << "a full table grows and gives its old size";
  EXPECT_EQ(NewMenuID(1), kMenuTableInitialSize + 1);
  EXPECT_EQ(MenuTableSize(), kMenuTableInitialSize + kMenuTableGrowth);
  EXPECT_EQ(MenuKindGet(124), kMenuKindTracked) << "the kinds were copied";
}

TEST_F(MenuIDTest, TrackedRecordsAreFoundInTheirOrderAndReleasedByFlag) {
  ASSERT_EQ(MenuTrackedInit(), kNoErr);
  ASSERT_EQ(ReserveMenuID(30, kMenuKindStandard), 0);
  const int32 tracked = NewMenuID(kMenuKindTracked);
  const int32 sub = NewPopupMenuID(), kept = NewPopupMenuID();
  MenuHandle subMenu = TextMenu(sub, {});
  MenuHandle standard = TextMenu(30, {});
  const TrackedMenu records[] = {
      {7, 3, tracked, nullptr, 70, 5, 0},    {8, kTrackedUnplaced, sub, subMenu, -1, 9, 1},
      {9, kTrackedFree, 0, nullptr, -1, 0, 0}, {2, kTrackedUnplaced, 30, standard, -1, 4, 1},
      {3, kTrackedUnplaced, kept, nullptr, -1, 6, 0},
  };
  for (const TrackedMenu& r : records) ASSERT_EQ(MenuTrackAppend(r), kNoErr);
  const struct {
    int32 menuId, position;
    int32 found, owner, outMenuId, outPosition;
  } cases[] = {
      {tracked, 3, 1, 7, 5, 70},           // placed: its data word and parent
      {sub, 12, 1, 8, 9, 12},              // not yet placed: position unchanged
      {tracked, 4, 1, 9, tracked, 4},      // kind 2: the first free record
      {kept + 1, 4, 0, -5, kept + 1, 4},  // nothing
  };
  for (const auto& c : cases) {
    int32 owner = -5, id = c.menuId, pos = c.position;
    EXPECT_EQ(MenuFindTracked(&owner, &id, &pos), c.found) << c.menuId;
    EXPECT_EQ(owner, c.owner) << c.menuId;
    EXPECT_EQ(id, c.outMenuId) << c.menuId;
    EXPECT_EQ(pos, c.outPosition) << c.menuId;
  }
  MenuHandle shared = TextMenu(64, {"a", "b"});
  MenuTableSet(64, shared);
  MenuReleaseTracked();
  EXPECT_EQ(MenuTrackedCount(), 0);
  EXPECT_EQ(MenuKindGet(sub), kMenuKindFree) << "flagged: released (its menu disposed)";
  EXPECT_EQ(MenuKindGet(30), kMenuKindStandard) << "a standard menu's id stays";
  EXPECT_EQ(MenuKindGet(kept), kMenuKindPopup) << "not flagged";
  EXPECT_EQ(MCountItems(shared), 0) << "the shared pop-up emptied";
  MDisposeMenu(shared);
  MDisposeMenu(standard);
}

TEST_F(MenuIDTest, AnAttachedSubMenuIsCopiedUnderANewPopupId) {
  const int32 sub = NewPopupMenuID();
  MenuHandle m = TextMenu(sub, {});
  MenuHandle given = m;
  EXPECT_EQ(MenuCopyIfAttached(&m), 0) << "not attached yet";
  ASSERT_EQ(MenuTrackAppend({2, kTrackedUnplaced, sub, m, -1, sub, 0}), kNoErr);
  EXPECT_EQ(MenuCopyIfAttached(&m), 1);
  ASSERT_NE(m, given);
  EXPECT_EQ(MGetMenuID(m), sub + 1);
  EXPECT_EQ(MenuTableGet(sub + 1), m);
  MDisposeMenu(m);
  MDisposeMenu(given);
}

TEST_F(MenuIDTest, InsertedItemsShiftTheRecordsBelowAndSubMenusAttach) {
  MenuHandle menu = nullptr, sub = nullptr, other = nullptr;
  ASSERT_EQ(MNewLMenu(&menu, nullptr, 130), kNoErr);
  ASSERT_EQ(MNewLMenu(&sub, nullptr, NewPopupMenuID()), kNoErr);
  ASSERT_EQ(MNewLMenu(&other, nullptr, 131), kNoErr);
  EXPECT_EQ(MenuInsertItemAt(7, menu, reinterpret_cast<ConstPStr>("\x01" "a"), 11, -1), 1);
  EXPECT_EQ(MenuInsertItemAt(7, menu, nullptr, 12, 5), 2);
  EXPECT_EQ(MenuInsertItemAt(7, other, reinterpret_cast<ConstPStr>("\x01" "o"), 20, -1), 1);
  EXPECT_EQ(MenuInsertItemAt(7, menu, reinterpret_cast<ConstPStr>("\x00"), 13, 0), 1);
  const struct {
    int32 item;
    const char* text;
    int32 data;
  } items[] = {{1, " ", 13}, {2, "a", 11}, {3, "-", 12}};
  for (const auto& c : items) {
    Str255 text;
    MGetItemText(menu, c.item, text);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text + 1), text[0]), c.text);
    int32 owner = 0, id = 130, position = c.item;
    ASSERT_EQ(MenuFindTracked(&owner, &id, &position), 1) << c.item;
    EXPECT_EQ(position, c.data);
    EXPECT_EQ(id, 130);
  }
  // A failure of either growth changes nothing.
  for (int32 nth = 1; nth <= 2; ++nth) {
    MemFailNthAllocation(nth);
    EXPECT_EQ(MenuInsertItemAt(7, menu, reinterpret_cast<ConstPStr>("\x01" "b"), 14, 0), 0) << nth;
    MemFailNthAllocation(0);
    MemFullReset();
    EXPECT_EQ(MCountItems(menu), 3);
    EXPECT_EQ(MenuTrackedCount(), 4);
  }
  // Attached once: recorded unplaced under the parent; elsewhere: a copy.
  EXPECT_EQ(MenuAttachSubMenu(7, sub, menu, 2), sub);
  EXPECT_EQ(MGetLItemPtr(menu, 2)->submenu, sub);
  MenuHandle copy = MenuAttachSubMenu(7, sub, other, 1);
  ASSERT_NE(copy, sub);
  EXPECT_EQ(MGetLItemPtr(other, 1)->submenu, copy);
  EXPECT_EQ(MenuAttachShared(7, sub, other, 1), sub);
  TrackedMenu r{};
  ASSERT_TRUE(MenuTrackedAt(5, &r));
  EXPECT_EQ(r.menu, copy);
  EXPECT_EQ(r.parentId, 131);
  EXPECT_EQ(r.releaseFlag, 1);
  EXPECT_EQ(MenuAttachSubMenu(7, nullptr, menu, 1), nullptr);
  MenuReleaseTracked();  // disposes the copy
  MDisposeMenu(sub);
  MDisposeMenu(other);
  MDisposeMenu(menu);
}

// A 16-bit count cannot hold a 65,536th record: the append is refused.
TEST_F(MenuIDTest, TheTrackedListRefusesTheRecordItsCountCannotHold) {
  for (int32 i = 0; i < 0xFFFF; ++i) ASSERT_EQ(MenuTrackAppend({i, -2, 0, nullptr, 0, 0, 0}), kNoErr);
  EXPECT_NE(MenuTrackAppend({0, -2, 0, nullptr, 0, 0, 0}), kNoErr);
  EXPECT_EQ(MenuTrackedCount(), 0xFFFF);
  TrackedMenu last{};
  ASSERT_TRUE(MenuTrackedAt(0xFFFE, &last));
  EXPECT_EQ(last.owner, 0xFFFE);
}

TEST_F(MenuIDTest, ItemSearchesByText) {
  MenuHandle m = TextMenu(200, {"a", "-", "b", "a", "-", "-"});
  const uChar kA[] = "\x01" "a";
  const uChar kZ[] = "\x01" "z";
  EXPECT_EQ(MenuFindItemByText(m, kA, 1), 1);
  EXPECT_EQ(MenuFindItemByText(m, kA, 0), 4);
  EXPECT_EQ(MenuFindItemByText(m, kZ, 1), 0);
  EXPECT_EQ(MenuFindNthSeparator(m, 0), 2);
  EXPECT_EQ(MenuFindNthSeparator(m, 2), 5);
  EXPECT_EQ(MenuFindNthSeparator(m, 4), -1);
  MenuDeleteTrailingSeparators(m);
  EXPECT_EQ(gItems, (std::vector<std::string>{"a", "-", "b", "a"}));
  MDisposeMenu(m);
}

}  // namespace
