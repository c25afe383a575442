// The plot line-width and line-style menus (ids 93 and 48): picture menus
// drawn by their own procedures, one sample line per choice, made once at
// start-up.  The chosen item less one is the plot's width or style index.
#pragma once
#include "mgsource/extcode.h"
#include <cstddef>

#include "mgsource/window/menus.h"

constexpr int32 kLineStyleMenuId = 48, kLineWidthMenuId = 93;

// The data block each menu owns, after its title (its procedure's data):
// the item count, the cell size and the current item (1-based, 0 none).
#pragma pack(push, 2)
struct LineMenuData {
  int16 count;
  int16 cellHeight;
  int16 cellWidth;
  int32 current;
};
#pragma pack(pop)
static_assert(sizeof(LineMenuData) == 10 && offsetof(LineMenuData, current) == 6, "line menu data block");

// The menu "LineWidth" (6 items) or "Linestyles" (5 items) under the id:
// 0, the menu manager's error, or 2 when its data block cannot be made.
QX_EXTERN_C MgErr InitLineWidths(int32 menuId, MenuHandle* menu);
QX_EXTERN_C MgErr InitLineStyles(int32 menuId, MenuHandle* menu);
// The procedures: -105 makes the message's item current, -101 sizes the
// menu, 14 draws it and 22 tracks the pointer (the item under it replaces
// the highlighted one in the message and the menu record); -111 tells
// the tracker every item can be chosen.  0.
QX_EXTERN_C int32 LineWidthMenuProc(MenuProcMsg* msg, MenuHandle menu);
QX_EXTERN_C int32 LineStyleMenuProc(MenuProcMsg* msg, MenuHandle menu);
// Paint the menu's rectangle in the current port.
QX_EXTERN_C void DrawLineWidthMenu(MenuHandle menu);
QX_EXTERN_C void DrawLineStyleMenu(MenuHandle menu);
// The item under the point (0 none), its cell framed and the previous
// item's frame taken away when they differ.
QX_EXTERN_C int32 TrackLineWidthMenu(MenuHandle menu, Point where, int32 previous);
QX_EXTERN_C int32 TrackLineStyleMenu(MenuHandle menu, Point where, int32 previous);
