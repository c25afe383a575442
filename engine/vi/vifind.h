// Finding a VI's file and opening it as a resource file: in a built
// application first in the executable's own VI library, then in the folder
// the caller names, in a VI library beside that folder, along the VI search
// path and at last by asking the user; and OpenVIFile, by which the shell
// opens (and runs or prints) a VI by path.
//
// Names and paths come from link information and search-path entries from
// the configuration file: a path that names nothing, a name that cannot be
// appended or a file of another type is simply not found.
//
// Everything here runs on the user-interface thread, as loading does; the
// search path and the list of directories found while loading are shared by
// all loads.
#pragma once
#include "mgsource/fourcc.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"

// ---- File types ----------------------------------------------------------------------
constexpr uInt32 kFindTypeVI = FourCC("QXIN");
constexpr uInt32 kFindTypeControl = FourCC("QXCC");
constexpr uInt32 kFindTypeSubr = FourCC("QXSB");
constexpr uInt32 kFindTypeAnyVI = FourCC("VI* ");  // a VI or a control
constexpr uInt32 kFindTypeLibrary = FourCC("QXAR");
// True when a file of type `got` serves a request for `want`.
bool FindTypeMatches(uInt32 want, uInt32 got);

// ---- Search results ------------------------------------------------------------------
enum : int32 {
  kFindNotFound = 0,
  kFindFound = 1,       // after a search, in a library or through the dialog
  kFindInFolder = 2,    // in the folder of the given path
  kFindGiveUp = 3,      // a hook answer: give up this item
  kFindAskUser = 4,     // a hook answer: go on to the dialog
  kFindStop = 5,        // stop the whole load
  kFindContinue = 6,    // continue the load without the missing items
};
// FindFileDialog's results.
enum : int32 { kDialogFound = 1, kDialogGaveUp = 3 };

// ---- Texts of the run-time resource file ---------------------------------------------
constexpr int32 kLoadingStringsListId = 15000;
constexpr const char* kLoadingStringsListName = "_Loading Strings";
enum : int32 {
  kLoadStrAddDirectory = 1,
  kLoadStrOpenWithout = 3,
  kLoadStrIgnoreControl = 7,
  kLoadStrIgnoreSubr = 8,
  kLoadStrIgnoreSubVI = 9,
  kLoadStrIgnoreLibrary = 10,
  kLoadStrLoadedCount = 11,
};
constexpr int32 kYesNoListId = 14535;
constexpr const char* kYesNoListName = "_YesNoStrings";
enum : int32 { kYesNoNo = 1, kYesNoYes = 2 };
constexpr int32 kFilePromptsListId = 11501;
constexpr const char* kFilePromptsListName = "_FilePrompts";
enum : int32 {
  kPromptChooseSubr = 3,
  kPromptChooseVI = 6,
  kPromptFindFile = 9,
  kPromptChooseControl = 14,
  kPromptChooseFile = 15,
  kPromptFindVI = 19,
  kPromptFindControl = 20,
  kPromptSelectLibrary = 27,
};
constexpr int32 kCantLoadListId = 299;
constexpr const char* kCantLoadListName = "_kCantLoadStrings";
enum : int32 { kCantLoadNotVI = 1, kCantLoadNotSubr = 2, kCantLoadNotControl = 3, kCantLoadWrongType = 4 };
constexpr int32 kLoadPhaseListId = 318;
// The file dialog's type filters and options.
enum : int32 { kFilterVI = 128, kFilterControl = 129, kFilterSubr = 130, kFilterAnyVI = 131, kFilterNone = 0 };
constexpr int32 kFindDialogOptions = 329;

// One text of those lists: the list, the 1-based entry and the text.
struct LoadText {
  int32 list;
  int32 index;
  const char* text;
};
extern const LoadText kLoadTexts[];
extern const int32 kLoadTextCount;
// The text of an entry: the run-time resource file's, else the table's (an
// empty string when neither has it).
void LoadTextOf(int32 list, int32 index, uChar* out /* Str255 */);

// ---- The link-search hook ------------------------------------------------------------
// The procedure a load installs to follow (and steer) the search: called with
// (context, operation, name or null, path or null, -1, -1, class or type);
// operation 1 an item is being loaded, 2 an item is being searched for.
typedef int32 (*LinkSearchHookProc)(void* context, int32 operation, ConstPStr name, Path path, int32 unused1,
                                    int32 unused2, uInt32 classCode);
enum : int32 { kLinkHookFind = 1, kLinkHookSearch = 2 };
// 1 when installed, 0 when a hook is installed already (nothing changes).
QX_EXTERN_C int32 SetLinkSearchHook(LinkSearchHookProc proc, void* context);
// Removes the hook and answers its context; asserts that one is installed.
QX_EXTERN_C void* ClearLinkSearchHook();
// The hook's answer for operation 1 or 2; 1 when no hook is installed.
QX_EXTERN_C int32 LinkHookCallFind(ConstPStr name, Path path, uInt32 classCode);
QX_EXTERN_C int32 LinkHookCallSearch(ConstPStr name, Path path, uInt32 fileType);

// ---- The VI search path --------------------------------------------------------------
// Replaces the search path with copies of the entries; foundDirsIndex is the
// position of the entry that stands for the directories found while loading,
// -1 for none; the found directories are forgotten.  Returns 2 when memory
// is short (the path is then empty).
MgErr SetVISearchPath(const Path* entries, int32 count, int32 foundDirsIndex);
// Appends a copy of a directory to the search path (the first argument is 0).
MgErr AddVISearchPathDir(int32 zero, Path dir);
int32 VISearchPathCount();
Path VISearchPathEntry(int32 index);  // owned by the list
int32 VIFoundDirsIndex();
int32 VIFoundDirsCount();
Path VIFoundDir(int32 index);  // owned by the list
// Empties the list of directories found while loading, when the search path
// has an entry standing for it.
QX_EXTERN_C void ResetFoundDirs();

// ---- What the search asks of the shell -----------------------------------------------
// Filled once at start-up by the shell; a null member answers as the
// service does headless: the file dialog is cancelled, a two-button alert
// answers its second button, the control-library folder is missing, no
// symbolic folder is known and the splash window is not there.
struct VIFindShellHooks {
  // The file dialog: prompt, start path in and chosen path out, type filter
  // and options; 0 when a file was chosen, non-zero when cancelled.
  MgErr (*fileDialog)(ConstPStr prompt, Path path, int32 filter, int32 options);
  // 1 for the first button, 0 for the second; defaultButton (1 or 2) is the
  // one a return or a headless alert chooses.
  int32 (*twoButtonAlert)(ConstPStr message, ConstPStr button1, ConstPStr button2, int32 defaultButton);
  // 1, 2 or 3 for the button chosen.
  int32 (*threeButtonAlert)(ConstPStr message, ConstPStr button1, ConstPStr button2, ConstPStr button3);
  // The "control.lib" folder into an existing path: 0 or an error.
  MgErr (*controlLibPath)(Path out);
  // The folder of a symbolic folder name (such as "<vilib>", case ignored)
  // into an existing path: 0, or 7 when the name is not one or its folder
  // cannot be had.
  MgErr (*symbolicFolder)(ConstPStr name, Path out);
  void (*destroySplashWindow)();
  // Prints the front panel of a VI.
  void (*printPanel)(UHandle vi);
};
void SetVIFindShellHooks(const VIFindShellHooks* hooks);
const VIFindShellHooks& VIFindShell();

// Turns, in place, a path whose first component names a symbolic folder into
// the absolute path of that folder (followed by the rest): 1.  Other paths,
// and those whose folder cannot be had or rebuilt, stay as they were: 0.
QX_EXTERN_C int32 ResolveAppRelPath(Path path, int32 flag);

// ---- Finding -------------------------------------------------------------------------
// 1 when a file of the type exists at the path (as a file, or as a member of
// a VI library, the executable's own first in a built application), else 0.
QX_EXTERN_C int32 LocateVIFile(Path path, uInt32 fileType);
// Opens dir/name (or the member name of the library dir) when its type
// matches: 2 and the open file (*fromLibrary 1 for a member), or 0.  With
// checkHook the search hook is asked first and its answers 3 to 6 end it.
QX_EXTERN_C int32 OpenVIFileInDir(Path dir, ConstPStr name, uInt32 fileType, int32 mode, RsrcFileRef* file,
                                  Bool32 checkHook, Bool32* fromLibrary);
// OpenVIFileInDir on dir, then on every subfolder and every VI library below
// it, in sorted order; a folder reached twice (through a link) is skipped.
// On success *found is a new path of the folder or library where it was.
QX_EXTERN_C int32 SearchDirTreeForVI(Path dir, ConstPStr name, uInt32 fileType, int32 mode, RsrcFileRef* file,
                                     Bool32 checkHook, Bool32* fromLibrary, Path* found);
// The whole search (see the header).  path is the item's expected path (or a
// relative path of the name alone); on success it becomes the path of the
// file found (its folder or library followed by the name).
QX_EXTERN_C int32 FindAndOpenVIFile(Path path, ConstPStr name, uInt32 fileType, int32 mode, RsrcFileRef* file,
                                    Bool32* fromLibrary);
// Asks the user for a file of the type: 1 and the chosen path in path, or 3.
QX_EXTERN_C int32 FindFileDialog(Path path, uInt32 fileType, ConstPStr name);
// The subroutine search: the folder of path (2), else the control-library
// tree (1, path becomes the found file's path); 0 when not found.
QX_EXTERN_C int32 FindSubroutineFile(Path path, ConstPStr name, uInt32 fileType, int32 mode, RsrcFileRef* file);

// ---- Opening -------------------------------------------------------------------------
enum : int32 {
  kOpenVIPrint = 2,        // print the panel instead of running
  kOpenVIShowProgress = 4,
  kOpenVIRun = 8,
  kOpenVICloseWhenDone = 16,
};
constexpr MgErr kOpenVINotFound = 7;
// Opens the VI at path (null: the user chooses), loading it with everything
// it references, and runs or prints it as flags and the VI ask: 0 and *vi,
// or 7.  The path is disposed.
QX_EXTERN_C MgErr OpenVIFile(Path path, UHandle* vi, int32 flags);
