// The diagram's functions on paths, folders and volumes, the date and time
// texts, and the requests that diagrams post to the user-interface thread.
//
// Outputs that are paths are passed by address: a null path is made first
// (2 when that fails), and a failure leaves not-a-path there.  Outputs that
// are strings and string arrays are data-zone handles passed by address and
// made when null.  Diagram booleans are one byte.
#pragma once
#include "engine/datatype.h"
#include "mgsource/filemgr.h"
#include "mgsource/path.h"

// Name types of FPBuildPath: the type code of the name input.
enum : int32 { kFPNameString = kTDString, kFPNamePath = kTDPath };

QX_EXTERN_C MgErr FPNewFolder(Path path, LStrHandle group, int32 permissions);
QX_EXTERN_C MgErr FPAccessRights(Path path, LStrHandle owner, LStrHandle group, const int32* permissions,
                                 LStrHandle* ownerOut, LStrHandle* groupOut, int32* permissionsOut);
QX_EXTERN_C MgErr FPTypeAndCreator(Path path, LStrHandle type, LStrHandle creator, LStrHandle* typeOut,
                                   LStrHandle* creatorOut);
QX_EXTERN_C MgErr FPFileOrFolderInfo(Path path, uChar* isFolderOut, int32* sizeOut, uInt32* dateOut);
QX_EXTERN_C MgErr FPVolumeInfo(Path path, float64* totalOut, float64* usedOut, float64* freeOut);
QX_EXTERN_C MgErr FPMove(Path from, Path to, Path* newPathOut);
QX_EXTERN_C MgErr FPCopy(Path from, Path to, Path* newPathOut);
QX_EXTERN_C MgErr FPDelete(Path path);
QX_EXTERN_C MgErr FPListFolder(Path path, LStrHandle pattern, UHandle recordType, int32 recordTypeOffset,
                               UHandle* filesOut, UHandle* foldersOut);
QX_EXTERN_C MgErr FPBuildPath(Path base, const void* name, int32 nameType, Path* pathOut);
QX_EXTERN_C MgErr FPStripPath(Path path, Path* dirOut, LStrHandle* nameOut);
QX_EXTERN_C MgErr FPPathType(Path path, int32* typeOut);
QX_EXTERN_C MgErr FPArrToPath(UHandle components, Bool32 relative, Path* pathOut);
QX_EXTERN_C MgErr FPPathToArr(Path path, uChar* relativeOut, UHandle* componentsOut);
QX_EXTERN_C MgErr FPVILib(Path* pathOut);
QX_EXTERN_C MgErr FPTmpDir(Path* pathOut);
QX_EXTERN_C MgErr FPVIPath(Path viPath, Path* pathOut);
QX_EXTERN_C MgErr FPDefaultFolder(Path* pathOut);
// For external code: the path (an existing one) from a string array, and
// the components into an existing array handle.
QX_EXTERN_C MgErr FArrToPath(UHandle components, uChar relative, Path path);
QX_EXTERN_C MgErr FPathToArr(Path path, uChar* relative, UHandle components);
QX_EXTERN_C MgErr DateLStr(LStrHandle* string, uInt32 seconds, int32 style);
QX_EXTERN_C MgErr TimeLStr(LStrHandle* string, uInt32 seconds, int32 withSeconds);
