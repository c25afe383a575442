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

// The busy cursor: busy set, the wait cursor shows once 100 ms have
// passed since the first busy call (then kept, rechecked every 250 ms);
// busy clear ends the busy state, putting the arrow back when the wait
// cursor showed.  User-interface thread only.
QX_EXTERN_C void UpdateCursor(Bool32 busy);
// The busy state's step: busy set, 0 on entering it (the deadline 100 ms
// ahead), else 1 and, once the deadline passed, *cursor the busy cursor's
// number; busy clear, whether the busy cursor was reached (the state left).
int32 BusyCursorState(Bool32 busy, int32* cursor);
enum : int32 { kBusyCursorNumber = 34 };
