// The VI window's tool bar as the engine asks for it: the image each of its
// slots shows for the VI's current state, and the redraw of one slot.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/memory.h"
#include "mgsource/objheap.h"
#include "mgsource/rects.h"

// The image that tool-bar slot 0..8 shows for the state of the VI that owns
// the panel; -1 (with the debug line "slot #%lx") for another slot or a
// panel without an owning VI.
QX_EXTERN_C int32 StatePnlSlotIcon(ObjHeap panel, int32 slot);

// The panel's confirm record (heap extension word 7): the handles of the
// current and the saved value lists.  The values differ when the lists'
// sizes or bytes do.
struct ConfirmRecord {
  UHandle current;
  UHandle saved;
};

// The tool-bar slot (0..8) that shows an image (0..60); -1 for another
// image.  The slot's rectangle, relative to the tool bar's top-left corner.
int32 StatePnlImageSlot(int32 image);
Rect StatePnlSlotRect(int32 slot);

// Gives the engine's panel routines the slot images and the icon pane;
// called at start-up.
void ShellInstallPanelRoutineHooks();
