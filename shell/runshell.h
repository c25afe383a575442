// What the shell does for the run commands: the handlers of the user events
// that execution threads post, the panel heap's flag bits, the tool bar's
// state.
#pragma once
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


// Printing a VI's front panel (PrintVIPanel) is the print layer's.
#include "mgsource/draw/printvi.h"

// Fills the shell's members of the run commands' hooks; called at start-up.
void ShellInstallRunCommandHooks();
