// The panel of a dialog: a front-panel heap with its root object and a
// window, built from the dialog's preloaded panel block ('DLG2' of the
// dialog's id in a resource file).
#pragma once
#include "mgsource/fourcc.h"
#include "mgsource/objheap.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/window.h"

constexpr uInt32 kDialogBlockType = FourCC("DLG2");
// The window-part flag of dialog panels.
constexpr uInt16 kDialogWindowPart = 0x80;

struct DialogPanel {
  ObjHeap panel;
  WindowRef window;
};
// Builds the dialog's panel: false when the block is missing or bad, the
// heap or window cannot be made or the block does not build (nothing is
// left behind then).  The window is made hidden with the window kind as its
// style; the filter procedure is kept in the panel.
bool LoadDialogPanel(RsrcFileRef file, int32 id, uInt32 kind, void* filter, DialogPanel* out);
void DisposeDialogPanel(const DialogPanel& dialog);
