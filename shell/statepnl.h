// The VI window's tool bar as the engine asks for it: the image each of its
// slots shows for the VI's current state, and the icon pane at the right
// end of the tool bar with the VI's 32 x 32 icon inside it.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/rects.h"

// The image that tool-bar slot 0..8 shows for the state of the VI that owns
// the panel; -1 (with the debug line "slot #%lx") for another slot or a
// panel without an owning VI.
QX_EXTERN_C int32 StatePnlSlotIcon(ObjHeap panel, int32 slot);

// The window's part flags (the heap extension's 16-bit field).
enum : int32 {
  kVIWindHScroll = 1, kVIWindVScroll = 2, kVIWindIconPane = 4, kVIWindToolBar = 8, kVIWindMenuBar = 16,
};
// The sizes the window's parts are laid out with: the vertical scroll
// bar's width (at least 8) and the height of a window's own menu bar.  The
// window manager sets them; until then 16 and 20.
struct VIWindMetrics {
  int32 vScrollWidth;
  int32 menuBarHeight;
};
void VIWindSetMetrics(const VIWindMetrics* metrics);
// The icon pane (at least 35 pixels wide, its height from the tool bar and
// the own menu bar) placed from the panel's content rectangle, and the
// 32 x 32 icon inside it; the answer is the icon-pane flag (1 when the
// window has one).  Either rectangle may be null.
QX_EXTERN_C int32 VIWindIconPaneRect(ObjHeap panel, Rect* pane, Rect* icon);

// Gives the engine's panel routines the two above; called at start-up.
void ShellInstallPanelRoutineHooks();
