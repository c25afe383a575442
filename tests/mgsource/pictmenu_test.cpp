// Palette menus: size, cells, keys, the range checks, and drawing against
// a golden.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "draw_window.h"
#include "golden_image.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/menus.h"

namespace {

ConstPStr P(const char* s) { return reinterpret_cast<ConstPStr>(s); }

// An image painting an oval in its fore colour.
int32 OvalProc(int32 message, PictStyleBlock*, PictMessageBlock* b) {
  if (message == 1) {
    DSelectNormPen(b->foreColor, kBlackColor);
    DPaintOval(b->rect);
  }
  if (message == 4 && b->rect) *b->rect = Rect{0, 0, 16, 16};
  return 0;
}

class PictMenus : public DrawWindow {
 protected:
  void SetUp() override {
    DrawWindow::SetUp();
    TXInitFonts();
    static const MgErr kResources = RInitResources();
    ASSERT_EQ(kResources, kNoErr);
    MLoadMenuColors();
    MenuColours& c = gMenuColours;
    c.text = 0x000000, c.background = 0xCCCCCC, c.selection = 0x000066;
    MSetBrowseOnly(0), MSetChooseDisabled(0);
  }
  void TearDown() override {
    for (MenuHandle m : menus_) MDisposeMenu(m);
    for (int32 id : images_) IRelease(id);
    TXFinishFonts();
    DrawWindow::TearDown();
  }
  MenuHandle Make(ConstPStr title, int16 columns) {
    MenuHandle m = nullptr;
    EXPECT_EQ(MNewPictMenu(&m, title, 12, columns), kNoErr);
    menus_.push_back(m);
    return m;
  }
  int32 Oval() {
    int32 id = 0;
    EXPECT_EQ(ICreateProcImage(reinterpret_cast<ImageProc>(&OvalProc), 0, &id), kNoErr);
    images_.push_back(id);
    return id;
  }
  static int32 Send(MenuHandle m, MenuProcMsg msg) {
    PictMenuProc(&msg, m);
    return msg.a2;
  }
  std::vector<MenuHandle> menus_;
  std::vector<int32> images_;
};

TEST_F(PictMenus, SizeKeysAndRangeChecks) {
  // Ten cells in four columns, cell 6 showing nothing; the default size.
  MenuHandle m = Make(P("\1P"), 4);
  const int32 oval = Oval();
  for (int32 n = 1; n <= 10; ++n)
    ASSERT_EQ(MAppendPictMenuItem(m, nullptr, n == 6 ? 0 : oval, nullptr, nullptr, 0, nullptr, 0, uInt32(n)), kNoErr);
  MCalcMenuSize(m);
  EXPECT_EQ((*m)->size.right, 152);
  EXPECT_EQ((*m)->size.bottom, 118);
  MDisableItem(m, 3);
  // Keys wrap around the grid and skip empty places; Enter chooses only an
  // enabled cell.
  struct Key {
    int32 from, key, to, chosenId;
  };
  const Key keys[] = {{0, 5, 1, 0},  {1, 4, 9, 0},  {4, 7, 1, 0},  {5, 7, 7, 0},   {10, 5, 2, 0},
                      {8, 5, 4, 0},  {2, 6, 1, 0},  {3, 2, 3, 0},  {4, 2, 4, 12},  {0, 4, 1, 0}};
  for (const Key& k : keys) {
    MenuProcMsg msg{};
    msg.code = kMenuKeyStep;
    msg.a2 = k.from;
    msg.a6 = uInt32(k.key);
    PictMenuProc(&msg, m);
    EXPECT_EQ(msg.a2, k.to) << k.from << " key " << k.key;
    EXPECT_EQ(msg.a1, k.chosenId) << k.from << " key " << k.key;
  }
  // A palette word of 20 counts as 32, whatever the monitor.
  EXPECT_EQ(MMaxPictMenuItems(window_, 3, 20), MMaxPictMenuItems(window_, 3, 32));
  EXPECT_GT(MMaxPictMenuItems(window_, 3, 20), MMaxPictMenuItems(window_, 3, 64));
  // Cells outside 1..count and byte ranges outside the handle are refused
  // with a report, nothing changed.
  Capture capture;
  const int32 size = AZGetHandleSize(reinterpret_cast<UHandle>(m));
  EXPECT_EQ(MGetPictCellPtr(m, 0), nullptr);
  EXPECT_EQ(MGetPictCellPtr(m, 11), nullptr);
  for (const auto& [offset, count] : std::vector<std::pair<int32, int32>>{{-1, 4}, {size - 3, 4}, {0, -1}, {8, 0x7FFFFFFF}})
    EXPECT_EQ(MRemoveBytes(m, offset, count), 0) << offset << "+" << count;
  EXPECT_EQ(AZGetHandleSize(reinterpret_cast<UHandle>(m)), size);
  EXPECT_EQ(capture.Count("outside") + capture.Count("out of range"), 6);
  // A named cell with data keeps both across the removal of the cell before it.
  MenuHandle named = Make(P("\1N"), 2);
  const uChar data[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(MAppendPictMenuItem(named, P("\3one"), oval, nullptr, nullptr, 0, nullptr, 0, 1), kNoErr);
  ASSERT_EQ(MAppendPictMenuItem(named, P("\5three"), oval, nullptr, nullptr, 2, data, 5, 3), kNoErr);
  MenuProcMsg del{};
  del.code = kMenuDeleteItem;
  del.a2 = 1;
  Send(named, del);
  uChar name[256] = {}, got[8] = {};
  MenuItemInfo info{};
  MenuProcMsg get{};
  get.code = kMenuGetItem;
  get.a1 = 1;
  get.a2 = int32(uintptr_t(name));
  get.a3 = sizeof got;
  get.a4 = int32(uintptr_t(got));
  get.a6 = uInt32(uintptr_t(&info));
  PictMenuProc(&get, named);
  EXPECT_EQ(MCountItems(named), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "three");
  EXPECT_EQ(get.a3, 8) << "the data block is kept padded to 4";
  EXPECT_EQ(std::memcmp(got, data, 5), 0);
  EXPECT_EQ(get.a5, oval);
  EXPECT_EQ(info.itemKey, 3u);
  EXPECT_EQ(info.mark, 2);
}

TEST_F(PictMenus, GreyCellsOwnTheLinesTheyShare) {
  // A flat, a grey (mark 0x02), two flat cells in a row: the line before
  // the grey cell is its light edge, the others shadow, and they stay so
  // when the highlight moves over the cells.
  MenuHandle m = Make(P("\1L"), 4);
  const int32 oval = Oval();
  for (int32 mark : {0, 2, 0, 0})
    ASSERT_EQ(MAppendPictMenuItem(m, nullptr, oval, nullptr, nullptr, mark, nullptr, 0, 1), kNoErr);
  MCalcMenuSize(m);
  MenuProcMsg draw{};
  draw.code = kMenuDraw;
  PictMenuProc(&draw, m);
  Rect grid;
  MPictMenuLayout(m, nullptr, nullptr, nullptr, &grid);
  DColor light, shadow;
  DGetHilites(0xB3B3B3, &light, &shadow);
  const auto lines = [&] {
    std::vector<uInt32> seen;
    for (int32 k = 1; k <= 3; ++k) seen.push_back(At(grid.left + k * 35, grid.top + 17));
    return seen;
  };
  const std::vector<uInt32> expected{light & 0xFFFFFF, shadow & 0xFFFFFF, shadow & 0xFFFFFF};
  EXPECT_EQ(lines(), expected);
  int32 current = 0;
  for (int32 n : {3, 2, 1, 4}) {
    current = MHitPictCell(m, Point{int16(grid.top + 17), int16(grid.left + (n - 1) * 35 + 17)}, current, 0);
    EXPECT_EQ(current, n);
    EXPECT_EQ(lines(), expected) << "after highlighting cell " << n;
  }
}

TEST_F(PictMenus, NamedPaletteMatchesGolden) {
  MenuHandle sub = Make(P("\3Sub"), 2);
  MenuHandle m = Make(P("\7Palette"), 3);
  const int32 oval = Oval();
  const DColor red[4] = {0xCC0000, 0xFFFFFF, kBlackColor, kWhiteColor};
  const Rect small{0, 0, 0, 0};
  ASSERT_EQ(MAppendPictMenuItem(m, P("\6Circle"), oval, nullptr, nullptr, 0, nullptr, 0, 1), kNoErr);
  ASSERT_EQ(MAppendPictMenuItem(m, P("\3Red"), oval, red, &small, 1, nullptr, 0, 2), kNoErr);
  ASSERT_EQ(MAppendPictMenuItem(m, P("\3Off"), oval, nullptr, nullptr, 0, nullptr, 0, 3), kNoErr);
  ASSERT_EQ(MAppendPictMenuItem(m, P("\4More"), oval, nullptr, nullptr, 2, nullptr, 0, 4), kNoErr);
  ASSERT_EQ(MAppendPictMenuItem(sub, nullptr, oval, nullptr, nullptr, 0, nullptr, 0, 1), kNoErr);
  MGetPictCellPtr(m, 4)->submenu = sub;
  MDisableItem(m, 3);
  MCalcMenuSize(m);
  (*m)->currentItem = 1;
  MenuProcMsg msg{};
  msg.code = kMenuDraw;
  PictMenuProc(&msg, m);
  Rect grid;
  MPictMenuLayout(m, nullptr, nullptr, nullptr, &grid);
  msg.code = 3;  // the pointer over the second cell shows its name
  msg.a1 = PointToWord(Point{int16(grid.top + 10), int16(grid.left + 45)});
  PictMenuProc(&msg, m);
  qxtest::ExpectMatchesGolden(Surface(), std::filesystem::path(QX_SOURCE_DIR) / "tests/mgsource/goldens/pictmenu.png",
                              "QX_UPDATE_GOLDENS=1 build/tests/test_mgsource --gtest_filter=PictMenus.*");
}

}  // namespace
