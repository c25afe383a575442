// What the shell does for the run commands: the handlers of the user events
// that execution threads post, the panel heap's flag bits, the tool bar's
// state, and the headless dialog records that the resetting dialog uses.
#pragma once
#include <string>

#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/wevent.h"
#include "shell/userevent.h"

// The handler of a run-command sub-code (1, 5, 6, 7, 8, 9, 11, 27), else null.
UserEventHandler RunCommandHandler(int32 subCode);
// Handles at once every queued user event of the sub-code.
void HandleQueuedUserEvents(int32 subCode);

// Bits 17 (control error) and 18 of the flag word of the VI's panel heap;
// 0 without a panel.
QX_EXTERN_C int32 FPHeapFlag17(UHandle vi);
QX_EXTERN_C int32 FPHeapFlag18(UHandle vi);
constexpr uInt32 kPanelControlErrorBit = 0x20000, kPanelFlag18Bit = 0x40000;

// Dialogs: a record holding the panel built from the dialog's preloaded
// panel block ('DLG2' of the id) and its window, whose items the caller
// addresses by number; none when the block is missing or bad.  Every call refuses a record it did not make (or that was
// unloaded).
QX_EXTERN_C void* DlgLoad(RsrcFileRef file, int32 id, int32 kind, int32 flags, void* filter, void* context);
// A Pascal-string value (type 53) kept as the item's text; other types are ignored.
void DlgRecordCtrlVal(void* dlg, int32 item, int32 type, const void* value);
QX_EXTERN_C void DlgMove(void* dlg, int32 h, int32 v);
QX_EXTERN_C void DlgShow(void* dlg, int32 flag);
// Non-zero while events of the dialog remain: a headless dialog has none.
QX_EXTERN_C int32 DlgBoxStep(void* dlg);
QX_EXTERN_C void DlgUnload(void* dlg);
// What a dialog record holds: false for a record that is not live.
bool DlgInfo(void* dlg, int32* id, int32* h, int32* v, int32* shown);
bool DlgItemText(void* dlg, int32 item, std::string* text);
// The panel heap a dialog record shows; null for a record that is not live.
ObjHeap DlgPanelHeap(void* dlg);
int32 DlgLiveCount();
// The type code of a Pascal-string item value.
constexpr int32 kDlgPStrValue = 53;

// Printing a VI's front panel (PrintVIPanel) is the print layer's.
#include "mgsource/draw/printvi.h"

// Fills the shell's members of the run commands' hooks; called at start-up.
void ShellInstallRunCommandHooks();
