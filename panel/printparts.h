// What printing asks of the object system: the panel drawing mode that
// panel objects read while they draw, and the print layout's hooks (the
// VI's panel heap, its rectangles, the key focus, the part-list messages).
#pragma once
#include "mgsource/extcode.h"

// 0 on the screen, 1 while an image is made for the clipboard, 2 while a
// panel is drawn for printing.
enum : int32 { kPanelDrawScreen = 0, kPanelDrawClipboard = 1, kPanelDrawPrint = 2 };
extern int32 gPanelDrawMode;
// Sets the mode; the one it replaces.
int32 PanelSetDrawMode(int32 mode);

// Fills the print layout's hooks (start-up).
void PanelInstallPrintHooks();

// The busy cursor (UpdateCursor) is in panel/osupport.h.
