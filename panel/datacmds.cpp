// The panel's edit commands on control data (the root's action 45): Cut,
// Copy and Clear go to the data operation, Paste to the panel clipboard.
// The copies into the clipboard and the pasting of its contents belong to
// the clipboard itself; what stands here is the clipboard's absence: the
// data commands beep and nothing is pasted.
#include "mgsource/walert.h"
#include "panel/fppanel.h"
#include "panel/operate.h"

int32 DoDataOperation(ObjHeap, int32) {
  WBeep();
  return 0;
}

int32 PasteFromPanelClipboard(ObjHeap) { return 0; }
