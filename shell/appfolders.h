// The shell's side of the application folders (their state lives in
// mgsource/appdirs.h): the table of fixed texts that the managers fetch by
// number, and the services it hands the lower layers at start-up.
#pragma once
#include "mgsource/appdirs.h"
#include "mgsource/extcode.h"

// Entries of the fixed-text table, each a string list of the run-time
// resource file and an entry of it.
enum : int32 { kAppIndStringCount = 65 };
// Copies entry n (0 to 64) into text (256 bytes): 0, or non-zero with a copy
// of defaultText (an empty string when null): 1 for n outside the table,
// else the lookup's error.
MgErr ShellGetAppIndString(int32 n, PStr text, ConstPStr defaultText);
// Installs the table and the folders as the external-code layer's and the
// VI search's services.
void ShellInstallFolderHooks();
