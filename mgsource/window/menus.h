// Menus drawn by the system: a menu record in a handle, whose menu
// procedure draws and tracks it, and palette (picture) menus of cells laid
// out in a grid.
#pragma once
#include <cstddef>

#include "mgsource/extcode.h"
#include "mgsource/rects.h"

struct MenuRecord;
typedef MenuRecord** MenuHandle;
// A menu procedure: a message, the menu, the menu's rectangle, the point
// and the item chosen.
typedef int32 (*MenuProc)(int32 message, MenuHandle menu, Rect* rect, Point where, int32* item);
enum : int32 { kMenuSizeMsg = 1, kMenuChooseMsg = 2 };

// The header; the title (a Pascal string) follows it, and the item area
// begins right after the title at the next 4-byte boundary.
struct MenuRecord {
  int32 menuId;
  MenuProc proc;
  uInt32 procData;
  int32 reserved;
  uChar title[1];
};
static_assert(offsetof(MenuRecord, title) == 16, "menu record header");
// The offset of the item area of a menu with that title.
inline int32 MenuItemArea(ConstPStr title) { return 16 + ((title[0] + 1 + 3) & ~3); }

// A new menu record of the procedure and data word: 0, 1 for no title, or
// 2 when it cannot be made.
QX_EXTERN_C MgErr MNewCustomMenu(MenuHandle* menu, ConstPStr title, int32 menuId, MenuProc proc, uInt32 procData);
QX_EXTERN_C void MDisposeMenu(MenuHandle menu);

// Palette menus: a 4-byte grid header (16 bits of columns, 16 more) opens
// the item area, then one cell per item.
struct PictMenuItem {
  int32 image;      // the image the cell shows
  uChar name[32];   // Pascal string
};
static_assert(sizeof(PictMenuItem) == 36, "palette menu cell");
constexpr int32 kPictCellWidth = 32, kPictCellHeight = 32, kPictGridHeader = 4;
// Appends a cell; the resize error when the menu cannot grow.
QX_EXTERN_C MgErr MAppendPictMenuItem(MenuHandle menu, ConstPStr name, int32 image);
// The palette procedure: the size message gives the grid's rectangle
// (columns by rows of cells, from 0, 0), the choose message the 1-based
// cell under the point (0 for none).  1 when handled.
QX_EXTERN_C int32 PictMenuProc(int32 message, MenuHandle menu, Rect* rect, Point where, int32* item);
// The cells of a palette menu and its columns (0 for a malformed one).
int32 PictMenuCellCount(MenuHandle menu);
int32 PictMenuColumns(MenuHandle menu);
