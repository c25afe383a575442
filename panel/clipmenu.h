// What the shell's menus ask of the panel display: the colour palette menu,
// the clipboard window and whether the panel clipboard can be pasted
// (panel/datacmds.cpp).
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/window/menus.h"

// The colour palette menu (id 65) is made by InitPanelColorPalette
// (panel/colorpal.h).
constexpr int32 kColorPaletteMenuId = 65;
// The palette's choice procedure: the current foreground and background,
// the flags (0x100 foreground chosen, 0x200 background chosen, 0x10000 the
// final call, 0x20000 chosen in the colour dialog, 0x40000 chosen in the
// grid) and the caller's argument; its answer is the palette run's.
typedef int32 (*ColorPaletteProc)(int32 foreground, int32 background, int32 flags, int32 argument);
enum : int32 {
  kPaletteForeground = 0x100, kPaletteBackground = 0x200, kPaletteSingle = 0x800, kPaletteFinal = 0x10000,
  kPaletteFromDialog = 0x20000, kPaletteFromGrid = 0x40000,
};
// Sets the colours shown at opening and the current ones, the flags (less
// 0x70000), the depth and the choice procedure with its argument.
QX_EXTERN_C void PrepareColorPalette(int32 foreground, int32 background, int32 flags, int32 depth,
                                     ColorPaletteProc proc, int32 argument);
// Ends a palette run (the menu and item chosen): "More..." runs the colour
// dialog, chosen colours enter the recent list, and the choice procedure is
// called once, taken back with its argument (0 without one): its answer.
QX_EXTERN_C int32 DoColorPalette(int32 menuResult, int32 item);
// Shows the panel clipboard's window: opened hidden the first time with the
// clipboard's default rectangle (0, 0, 150, 200) at (50, 350), else brought
// to the front; shown and wholly invalidated.
QX_EXTERN_C void ShowClipboardWindow();
// Paste is possible in the panel: in the owner mode (VI flags word 2 bit
// 0x80000) for any clipboard of objects or text except in the clipboard's
// own panel; otherwise only a text (kind 4) into a front panel's key focus.
QX_EXTERN_C Bool32 PanelPasteEnabled(ObjHeap panel);
