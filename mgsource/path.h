// Paths: the system's host-independent names of files and folders.
//
// A Path is an application-zone handle holding a 16-bit type, a 16-bit
// component count and the components as Pascal strings back to back.  In a
// relative path an empty component is one step up.  Every operation checks
// the handle first: a handle that is not a path (null, not a handle, a bad
// type or count, or components that run past the handle's end) gives 1 and is
// left unchanged.
#pragma once
#include "extcode.h"

struct PathData;
typedef PathData** Path;

enum : int32 {
  kAbsPath = 0,       // the first component is a drive letter
  kRelPath = 1,
  kNotAPath = 2,
  kNetworkPath = 3,   // the first component is "\\server\share"
};

enum : int32 {
  kMaxPathComponents = 32767,
  kFlatPathHeader = 8,           // "PTH0" and the body length
  kPathTextBufSize = 264,        // the buffer of FPathToCStrPtr
  kMaxPathTextLen = 260,
};

// The in-memory form of a path (native byte order).
struct PathData {
  int16 type;
  int16 count;
  uChar comps[1];
};
static_assert(sizeof(PathData) == 6 && offsetof(PathData, count) == 2 && offsetof(PathData, comps) == 4,
              "path layout");

QX_EXTERN_C Path FEmptyPath(Path p);
QX_EXTERN_C Path FNotAPath(Path p);
QX_EXTERN_C Bool32 FIsAPath(Path p);
QX_EXTERN_C Bool32 FIsAPathOrNotAPath(Path p);
QX_EXTERN_C Bool32 FIsAPathOfType(Path p, int32 type);
QX_EXTERN_C Bool32 FIsAbsPath(Path p);
QX_EXTERN_C Bool32 FIsEmptyPath(Path p);
QX_EXTERN_C MgErr FGetPathType(Path p, int32* type);
QX_EXTERN_C MgErr FSetPathType(Path p, int32 type);
QX_EXTERN_C int32 FDepth(Path p);
// The bytes the path uses: 4 plus each component's length + 1.
QX_EXTERN_C int32 FPathSize(Path p);
// Removes each up-step that follows a named component together with it, sets
// the type from the first component and shrinks the handle to its used size.
QX_EXTERN_C MgErr FCanonPath(Path p);

QX_EXTERN_C MgErr FAppendName(Path p, ConstPStr name);
QX_EXTERN_C MgErr FDirName(Path p, Path dir);
// The last component into a handle sized to it (a Pascal string).
QX_EXTERN_C MgErr FName(Path p, UHandle name);
QX_EXTERN_C MgErr FNamePtr(Path p, PStr name);  // name: 256 bytes
QX_EXTERN_C MgErr FNthName(Path p, int32 index, PStr name);
QX_EXTERN_C MgErr FVolName(Path p, Path vol);
QX_EXTERN_C MgErr FAddPath(Path base, Path rel, Path out);
QX_EXTERN_C MgErr FRelPath(Path from, Path to, Path out);
// FMakePath(handle or null, type, component, ..., null).  Returns the path,
// or null for a bad type, a bad handle, an absolute path with an empty first
// component or no memory (a given handle is then left unchanged).
QX_EXTERN_C Path FMakePath(Path p, int32 type, ...);
QX_EXTERN_C int32 FPathCmp(Path a, Path b);
QX_EXTERN_C int32 FPathCmpLexical(Path a, Path b);
QX_EXTERN_C MgErr FPathToPath(Path* p);
QX_EXTERN_C MgErr FPathCpy(Path dst, Path src);
QX_EXTERN_C MgErr FDisposePath(Path p);

// Flattened paths: "PTH0", a big-endian body length, the body.
QX_EXTERN_C int32 FFlattenPath(Path p, UPtr flat);
QX_EXTERN_C int32 FUnFlattenPath(const uChar* flat, Path* p);
// Reads a flattened path (or the old form) of at most available bytes into
// *p (a new handle when *p is null).  Returns the bytes used, or
// available + 1 when the data is not a valid flattened path; nothing is then
// made and a given handle stays as it was.
QX_EXTERN_C int32 FUnFlattenPathData(const uChar* flat, Path* p, int32 available);

// Text.  FPathToText's buffer is a 32-bit length followed by the text; a
// negative length asks for the length alone.
QX_EXTERN_C MgErr FTextToPath(const uChar* text, int32 length, Path* p);
QX_EXTERN_C MgErr FStringToPath(LStrHandle text, Path* p);
QX_EXTERN_C MgErr FPathToText(Path p, LStrPtr buffer);
QX_EXTERN_C MgErr FPathToAZString(Path p, LStrHandle* text);
QX_EXTERN_C MgErr FPathToDSString(Path p, LStrHandle* text);
QX_EXTERN_C UHandle FPathToCStrHandle(Path p);
QX_EXTERN_C MgErr FPathToCStrPtr(Path p, CStr* text);
// The path's text in at most n characters (at most 255): when it is longer,
// "..." stands for what is left out of its middle (the volume part kept when
// the name still fits after it).  n of 0 or less gives the empty string.
void FPathToAbbrevPStr(Path path, int32 n, PStr out);

// The text shown for the not-a-path value (default "<Not A Path>"); the shell
// sets it at start-up from its string list.  The text is copied.
void FSetNotAPathText(ConstPStr text);
ConstPStr FNotAPathText();
