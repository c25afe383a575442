// Stand-in for shortcut resolution until the support start-up code provides
// it: no file is a shortcut.  Tests install a procedure that answers in its
// place.  Delete this file, and its .cpp, when the real one exists.
#pragma once
#include "extcode.h"

// When path (a C string of at most 260 characters in a buffer of at least
// 264 bytes) names a shortcut file, replaces it by the shortcut's target and
// returns true.
QX_EXTERN_C Bool32 FResolveShortcut(CStr path);

typedef Bool32 (*FResolveShortcutProc)(CStr path);
// Test hook: a procedure that answers in place of the stand-in (null restores).
void ShortcutStandinSetProc(FResolveShortcutProc proc);
