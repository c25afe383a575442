// Stand-ins for the dialog item calls until their real versions land: each
// keeps what it was asked per dialog and item, and tests read it back.
#pragma once
#include <string>

#include "shell/dialog.h"

QX_EXTERN_C int32 DlgSetCtrlVal(DialogRef dialog, int32 item, int32 type, const void* value);
QX_EXTERN_C int32 DlgGrayControl(DialogRef dialog, int32 item, int32 state);
QX_EXTERN_C void DlgSetBoolText(DialogRef dialog, int32 item, ConstPStr text);
QX_EXTERN_C void DlgSetStringItemFlag(DialogRef dialog, int32 item, int32 on);
QX_EXTERN_C void DlgSetKeyNavItem(DialogRef dialog, int32 item, int32 slot);
// The item's controller becomes the panel's focus object; 0.
QX_EXTERN_C int32 DlgSetKbdFocus(DialogRef dialog, int32 item, int32 start, int32 end);
// What an item was given: false, or -1, for a dialog that is not live or an
// item never given it.
bool DlgItemText(DialogRef dialog, int32 item, std::string* text);
int32 DlgItemGray(DialogRef dialog, int32 item);
int32 DlgItemStringFlag(DialogRef dialog, int32 item);
