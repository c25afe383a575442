// The 'DLG2' blocks dialog panels are built from.
#pragma once
#include "mgsource/fourcc.h"
#include "mgsource/rsrc.h"

constexpr uInt32 kDialogBlockType = FourCC("DLG2");
// The window-part flag of dialog panels.
constexpr uInt16 kDialogWindowPart = 0x80;

// A working copy of the block of the id (the build converts it in place,
// and the file's copy stays as it was read); null when it is missing or
// memory is short.
UHandle CopyDialogBlock(RsrcFileRef file, int32 id);
