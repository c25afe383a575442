#include "controls/plotmenus.h"

MgErr InitLineStyles(MenuHandle* menu) {
  static const uChar kTitle[] = "\x0a" "Line Style";
  return MNewPictMenu(menu, kTitle, kLineStyleMenuId, 1);
}

MgErr InitLineWidths(MenuHandle* menu) {
  static const uChar kTitle[] = "\x0a" "Line Width";
  return MNewPictMenu(menu, kTitle, kLineWidthMenuId, 1);
}
