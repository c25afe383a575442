// The load progress dialog of the engine's load methods on the shell's
// dialog records: item texts, enabled states, button texts and full-text
// display kept per item, and clicks delivered to the dialog's filter.
// Without windows the clicks come from a script that tests set.
#pragma once
#include <deque>

#include "mgsource/extcode.h"

// What an item holds: -1 for a dialog or item these calls never set.
int32 DlgItemGray(void* dlg, int32 item);
int32 DlgItemStringFlag(void* dlg, int32 item);
// Clicks for the next steps of the load dialog, one item per step.
void DlgScriptClicks(const std::deque<int32>& items);
// Fills the load methods' dialog services; called at start-up.
void ShellInstallLoadDialogHooks();
