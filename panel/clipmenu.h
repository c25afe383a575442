// What the shell's menus ask of the panel display: the colour palette menu,
// the clipboard window and whether the panel clipboard can be pasted
// (panel/datacmds.cpp).  There is no clipboard window to show yet.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/window/menus.h"

// The colour palette menu (id 65): a picture menu without cells until the
// palette is built; 0 and *menu, or the menu manager's error.
QX_EXTERN_C MgErr InitColorPalette(MenuHandle* menu);
constexpr int32 kColorPaletteMenuId = 65;
QX_EXTERN_C void ShowClipboardWindow();
// Paste is possible in the panel: in the owner mode (VI flags word 2 bit
// 0x80000) for any clipboard of objects or text except in the clipboard's
// own panel; otherwise only a text (kind 4) into a front panel's key focus.
QX_EXTERN_C Bool32 PanelPasteEnabled(ObjHeap panel);
