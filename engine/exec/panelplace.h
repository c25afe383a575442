// The option words of a VI's panel window follow the VI's state: the run
// commands place the window again whenever a state change can change them.
#pragma once
#include "engine/vi/dataspace.h"
#include "mgsource/objheap.h"

// The global window-option mode (0, 1 or 2), set by the loader and the shell.
void SetWindowOptionMode(int32 mode);
int32 WindowOptionMode();

// The panel's two window option words for the VI's kind and state; the
// first is stored as the panel heap's first option word.
QX_EXTERN_C void GetPanelWindowOptions(ObjHeap panel, uInt16* first, uInt16* second);
// Applies the option words to the panel's window; nothing for a panel
// without a window.
QX_EXTERN_C void PlacePanelWindow(ObjHeap panel);
// The run commands' placement: the VI's panel; with no VI (the last running
// VI stopped), every loaded VI whose panel window is open and whose panel
// heap has flag bit 23 loses that bit and is placed again.
void PlaceVIPanelWindow(UHandle vi);

// Defaults of a panel that shows the VI's own options only while it runs.
constexpr uInt16 kWindowOptionsDefault = 31, kWindowOptions2Default = 60;
constexpr uInt16 kWindowOptions2Kind1 = 14;
// Bit 23 of the panel heap's flag word: the panel keeps its options placed.
constexpr uInt32 kPanelHeapKeepsOptions = 0x800000;
