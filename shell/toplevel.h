// Opening the application's top-level VIs: the members a VI library marks
// top-level, in its directory order, and the auto-launch path list of the
// run-time resource file.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/path.h"

// OpenVIFile's flag that opens the VI's front panel once it is loaded (the
// others are engine/vi/vifind.h's).
constexpr int32 kOpenVIOpenPanel = 1;
// The directory flag of a top-level member.
constexpr uInt32 kTopLevelEntryFlag = 16;
// The auto-launch path list.
constexpr int32 kAutoLaunchListId = 200;
constexpr MgErr kTopLevelCancelled = 43;

// Opens the marked members of the library at path (null in a built
// application: its own library) with OpenVIFile(member, null, flags),
// stopping at the first unmarked entry.  With nothing attempted a built
// application shows why; otherwise the user chooses a VI of the library.
// 0, 2 without memory, the path error of a member, or 43 when the choice
// was cancelled.  The path is taken over.
QX_EXTERN_C MgErr OpenLibraryTopLevelVIs(Path library, int32 flags);
// Opens and runs every absolute path of the auto-launch list, from entry 1
// until the reader fails (its error is returned); other paths are reported
// and skipped.
QX_EXTERN_C MgErr AutoLaunchVIs();

// The VI opener of these and of the main event filter: OpenVIFile, or the
// procedure a test puts in its place (null: OpenVIFile again).
typedef MgErr (*TopLevelOpenProc)(Path path, UHandle* vi, int32 flags);
void SetTopLevelOpenProc(TopLevelOpenProc proc);
MgErr ShellOpenVIFile(Path path, UHandle* vi, int32 flags);
