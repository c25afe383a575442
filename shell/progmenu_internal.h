// What the menu files of the shell share among themselves.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/path.h"

// Entry index of list `list`: the run-time resource file's, else the
// compiled-in text (empty and false when neither has it).
bool ShellListText(int32 list, int32 index, PStr out);
// The first help file: entry 1 of the help files' list ("qxhelp.hlp") in
// the help folder.
MgErr HelpFirstFilePath(Path out);
// Disposes every menu of the reserved ids and the tracked list's menus
// (shut-down and tests).
void DisposeAppMenus();
// The kind of menu 64: its items are tracked like kind 2's, and it is a
// pop-up menu.
constexpr int32 kMenuKindTrackedPopup = 3;
