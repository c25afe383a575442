#include "mgsource/window/menus.h"

#include <cstring>

#include "mgsource/memory.h"

namespace {

int32 ItemArea(MenuHandle menu) { return MenuItemArea((*menu)->title); }

}  // namespace

MgErr MNewCustomMenu(MenuHandle* menu, ConstPStr title, int32 menuId, MenuProc proc, uInt32 procData) {
  if (!menu) return kArgErr;
  *menu = nullptr;
  if (!title) return kArgErr;
  UHandle h = AZNewHClr(MenuItemArea(title));
  if (!h) return kMemFullErr;
  auto m = reinterpret_cast<MenuHandle>(h);
  (*m)->menuId = menuId;
  (*m)->proc = proc;
  (*m)->procData = procData;
  std::memcpy((*m)->title, title, size_t(title[0]) + 1);
  *menu = m;
  return kNoErr;
}

void MDisposeMenu(MenuHandle menu) {
  if (menu) AZDisposeHandle(reinterpret_cast<UHandle>(menu));
}

int32 PictMenuColumns(MenuHandle menu) {
  if (!menu || !*menu) return 0;
  const int32 at = ItemArea(menu);
  if (AZGetHandleSize(reinterpret_cast<UHandle>(menu)) < at + kPictGridHeader) return 0;
  int16 columns;
  std::memcpy(&columns, reinterpret_cast<uChar*>(*menu) + at, 2);
  return columns > 0 ? columns : 0;
}

int32 PictMenuCellCount(MenuHandle menu) {
  if (!PictMenuColumns(menu)) return 0;
  const int32 cells = AZGetHandleSize(reinterpret_cast<UHandle>(menu)) - ItemArea(menu) - kPictGridHeader;
  return cells / int32(sizeof(PictMenuItem));
}

MgErr MAppendPictMenuItem(MenuHandle menu, ConstPStr name, int32 image) {
  if (!PictMenuColumns(menu)) return kArgErr;
  UHandle h = reinterpret_cast<UHandle>(menu);
  const int32 size = AZGetHandleSize(h);
  if (MgErr err = AZSetHandleSize(h, size + int32(sizeof(PictMenuItem)))) return err;
  PictMenuItem cell{};
  cell.image = image;
  if (name) {
    const uChar n = name[0] < sizeof cell.name ? name[0] : uChar(sizeof cell.name - 1);
    cell.name[0] = n;
    std::memcpy(cell.name + 1, name + 1, n);
  }
  std::memcpy(*h + size, &cell, sizeof cell);
  return kNoErr;
}

int32 PictMenuProc(int32 message, MenuHandle menu, Rect* rect, Point where, int32* item) {
  const int32 columns = PictMenuColumns(menu);
  if (!columns) return 0;
  const int32 cells = PictMenuCellCount(menu);
  const int32 rows = (cells + columns - 1) / columns;
  switch (message) {
    case kMenuSizeMsg:
      if (rect) *rect = Rect{0, 0, int16(rows * kPictCellHeight), int16(columns * kPictCellWidth)};
      return 1;
    case kMenuChooseMsg: {
      if (!item) return 0;
      *item = 0;
      if (where.v < 0 || where.h < 0) return 1;
      const int32 row = where.v / kPictCellHeight, col = where.h / kPictCellWidth;
      const int32 index = row * columns + col;
      if (col < columns && row < rows && index < cells) *item = index + 1;
      return 1;
    }
    default:
      return 0;
  }
}
