// The load progress dialog of the engine's load methods: a dialog of the
// run-time resource file whose item presses reach the load methods' filter.
// Without a screen the presses come from a script that tests set.
#pragma once
#include <deque>

#include "mgsource/extcode.h"

// Presses for the next steps of the load dialog, one item per step.
void DlgScriptClicks(const std::deque<int32>& items);
// Fills the load methods' dialog services; called at start-up.
void ShellInstallLoadDialogHooks();
