// What the shell's menus ask of the panel display: the colour palette menu,
// the clipboard window and whether the panel clipboard can be pasted.  The
// panels have no clipboard of objects yet: nothing can be pasted and there
// is no clipboard window to show.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/window/menus.h"

// The colour palette menu (id 65): a picture menu without cells until the
// palette is built; 0 and *menu, or the menu manager's error.
QX_EXTERN_C MgErr InitColorPalette(MenuHandle* menu);
constexpr int32 kColorPaletteMenuId = 65;
QX_EXTERN_C void ShowClipboardWindow();
QX_EXTERN_C Bool32 PanelPasteEnabled(ObjHeap panel);
