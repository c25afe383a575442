// The plot line-style and line-width menus (ids 48 and 93) that the
// standard plot menus hang on: empty picture menus until the graphs fill
// them.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/window/menus.h"

constexpr int32 kLineStyleMenuId = 48, kLineWidthMenuId = 93;
// 0 and *menu, or the menu manager's error.
QX_EXTERN_C MgErr InitLineStyles(MenuHandle* menu);
QX_EXTERN_C MgErr InitLineWidths(MenuHandle* menu);
