#include "panel/clipmenu.h"

MgErr InitColorPalette(MenuHandle* menu) {
  static const uChar kTitle[] = "\x0d" "Color Palette";
  return MNewPictMenu(menu, kTitle, kColorPaletteMenuId, 8);
}

void ShowClipboardWindow() {}

