// The description dialog of a panel control: the control's description
// shown under the title "<label> Description", editable or read-only.
// User-interface thread only.
#pragma once
#include "mgsource/extcode.h"
#include "shell/dialog.h"

constexpr int32 kDescriptionDialogId = 1300;
enum : int32 { kDescItemOK = 1, kDescItemCancel = 2, kDescItemText = 3, kDescItemTitle = 4 };

// The dialog loaded and filled, not yet shown: item 4 the title (string
// list 11230 entry 1 formatted with the label), item 3 the description
// (empty for none), placed centred; read-only hides item 2 and makes item 3
// an indicator; unless hint is set item 3 takes the keyboard focus with all
// its text selected.  Null (reported) when the dialog cannot be loaded.
DialogRef DescriptionDialogLoad(ConstPStr label, UHandle description, Bool32 readOnly, Bool32 hint);
// Runs the loaded dialog and unloads it.  Confirmed and editable, the text
// replaces *description when there was none and the text is not empty, or
// when it differs; a resulting empty description is dropped (null, with
// the debug line " empty string no label saved ").  1 when *description
// was replaced, else 0 (*description as it was).
int32 DescriptionDialogRun(DialogRef dialog, Bool32 editable, UHandle* description);
// Both steps, as the panel's description editing calls them.
QX_EXTERN_C int32 EditDescriptionDialog(ConstPStr label, UHandle* description, Bool32 readOnly, Bool32 hint);
