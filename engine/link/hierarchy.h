// Services the linker and the loaders share: the search of a VI's calling
// hierarchy for a name (how recursion is refused), VI window titles, the
// alert that reports a VI load error, and the moves of resources into and out
// of the temporary resource file, where loaded external code keeps its
// resources.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/rsrc.h"

// 1 when the name equals, ignoring case, the VI's own name or the name of any
// VI above it in its calling hierarchy (callers searched from the last of a
// list to the first); else 0.
QX_EXTERN_C int32 VIHierarchyHasName(UHandle vi, ConstPStr name);
// Fills an empty title buffer (a 256-byte Pascal string) with the VI's title
// string, or its name when it has none; unless plain is set, "__" goes in
// front (the text is cut to keep 255 characters).  A buffer that already
// holds text is left as it is.
QX_EXTERN_C void GetVITitle(UHandle vi, PStr title, Bool32 plain);
// When the VI's panel has a window, sets its title to the plain VI title.
QX_EXTERN_C void UpdateVIWindowTitle(UHandle vi);

// The load alert's texts in the run-time resource file: the first line
// ('STR ' 81, "%p" the VI's name) and the list of load errors, whose entry 1
// formats the second line ("%ld" the load error, "%p" its entry) and whose
// entry N is the text of load error N.
constexpr int32 kLoadErrorStrId = 81;
constexpr const char* kLoadErrorStrName = "_LoadError";
constexpr int32 kLoadErrorsListId = 14547;
constexpr const char* kLoadErrorsListName = "_loadErrors";
constexpr int32 kLoadErrorsCount = 31;
// Shows a VI's load error: with a manager error in the error alert (the
// error's own text first), else in the one-button alert.  A missing or
// empty entry for the load error leaves its text empty.
QX_EXTERN_C void SaveErrorAlert(ConstPStr viName, int32 strId, int32 listId, MgErr err, int32 loadError);

// The temporary resource file: opened read-write by the shell's start-up and
// handed to the engine here; 0 while there is none.
void SetTmpQXRsrcFile(RsrcFileRef file);
RsrcFileRef TmpQXRsrcFile();

// Moves a resource of `file` into the temporary file under a new id, with no
// name: the new id, or 0 when there is no temporary file, no free id, or the
// resource cannot be read or added.  *handle (may be null) is the resource's
// handle, now the temporary file's, or null.
QX_EXTERN_C int32 XferRsrcToTmpQXRsrcFile(RsrcFileRef file, ResType type, int32 id, UHandle* handle);
// Adds a copy of a resource of the temporary file to `file` under newId.
QX_EXTERN_C MgErr XferRsrcFromTmpQXRsrcFile(RsrcFileRef file, ResType type, int32 tmpId, int32 newId);
// Reads a resource of the temporary file; the handle stays the file's.
QX_EXTERN_C MgErr GetTmpRsrc(ResType type, int32 id, UHandle* handle);
// Removes a resource from the temporary file and disposes its handle, which
// earlier readers may no longer use.
QX_EXTERN_C MgErr RemRsrcFromTmpQXRsrcFile(ResType type, int32 id);
