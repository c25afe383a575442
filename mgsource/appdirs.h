// The application's folders by role: the library, temporary and default
// folders, the standard folders below the library folder, the folder of the
// top-level VI, the symbolic folder names that stored paths may start with,
// names of temporary files, and the copying and comparing of path lists.
//
// The state lives here, below the engine, so that every layer reaches it
// directly; the shell fills it at start-up (InitAppFolderPaths, InitAppDirs) and
// empties it at shut-down (DisposeAppFolderPaths).  All functions may be called from any thread.
#pragma once
#include "extcode.h"
#include "path.h"

// Folder kinds of GetAppFolderPath.
enum : int32 {
  kAppDirMenus = 0,     // the "menusDir" key, else the library folder's "menus"
  kAppDirVILib = 1,     // "vi.lib"
  kAppDirHelp = 3,      // "help"
  kAppDirProject = 4,   // "project"
  kAppDirLib = 5,       // the library folder
  kAppDirTopVI = 6,     // the folder of the top-level VI
  kAppDirInstrLib = 7,  // the library folder's "instr.lib"
  kAppDirUserLib = 8,   // the library folder's "user.lib"
  kAppDirRTMenus = 11   // the library folder's "rtmenus"
};

// The compiled-in defaults of the folder preferences, made by
// InitAppFolderPaths (the preferences show and compare against them).
enum : int32 {
  kAppDefLibDir = 0, kAppDefVILib, kAppDefControlLib, kAppDefHelp, kAppDefProject, kAppDefMenus,
  kAppDefRTMenus, kAppDefTempDir, kAppDefDefaultDir, kAppDefCount
};

// Makes the defaults above from the application folder and the system's
// temporary folder, and the live "vi.lib", "help" and "project" folders as
// copies of theirs.  0, or the first error (what could be made is kept).
QX_EXTERN_C MgErr InitAppFolderPaths();
// The library, temporary and default folders from the keys "libdir",
// "tmpdir" and "defaultdir" (see the source for the fall-backs); the
// "menuSetup" name.  0, or the error of the library or temporary folder.
QX_EXTERN_C MgErr InitAppDirs();
// Disposes every folder and default (shut-down, and tests between runs).
void DisposeAppFolderPaths();
// A default of the list above, owned here (null when not made).
Path AppFolderDefault(int32 which);

// Copies the folder of a kind into out (an existing path): 0, 1 for an
// unknown kind or a null out, 7 when the folder is not known, else the
// copy's error.
QX_EXTERN_C MgErr GetAppFolderPath(int32 kind, Path out);
// The library and temporary folders (before start-up sets them: the
// application folder and the system's temporary folder).
QX_EXTERN_C MgErr GetLibDirPath(Path out);
QX_EXTERN_C MgErr GetTempDirPath(Path out);
// The application folder.
QX_EXTERN_C MgErr GetAppPath(Path out);
// "vi.lib" and "control.lib": 1 for a null out; the folder is made below the
// library folder when its slot is empty; 22 when it cannot be made.
QX_EXTERN_C MgErr GetVILibPath(Path out);
QX_EXTERN_C MgErr GetControlLibPath(Path out);
QX_EXTERN_C MgErr GetMenusDirPath(Path out);
QX_EXTERN_C MgErr GetHelpDirPath(Path out);
QX_EXTERN_C MgErr GetProjectDirPath(Path out);
// The default folder, or an empty path when there is none (2 when that
// cannot be made).
QX_EXTERN_C MgErr GetDefaultDirPath(Path out);

// Setters for the preferences, the loader and tests; each keeps a copy.  A
// null temporary folder means the system's; a null default folder, none.
void SetTempDirPath(Path folder);
void SetDefaultDirPath(Path folder);
void SetTopVIDirPath(Path folder);
// The menu set-up name: "default", or the "menuSetup" key read by
// InitAppDirs.
void GetMenuSetupName(PStr name);

// The folder of a symbolic folder name ("<vilib>", "<userlib>", ..., case
// ignored) into out: the names are tried in their search order and each
// one's folder is fetched before its name is compared.  0, or 7 when no
// name matched with a folder that could be fetched.
MgErr AppSymbolicFolder(ConstPStr name, Path out);

// A path in the temporary folder whose name is format with the process
// number modulo 10000 in place of its "%ld" (or "%d"): path is reused when
// given, a new path is made otherwise.  Null on failure (a path made here is
// disposed).
QX_EXTERN_C Path MakeTempFilePath(const char* format, Path path);
// The same with an explicit number in place of the process number (the
// shell tries the following numbers when a name is taken).
Path MakeTempFilePathNumbered(const char* format, int32 number, Path path);

// Lists of paths as the configuration keeps them (a handle list of Paths):
// the destination becomes a copy of the source (its paths reused in place,
// extra ones disposed).
QX_EXTERN_C void CopyPathList(UHandle destination, UHandle source);
// 1 when the counts differ or two paths at one position differ, else 0.
QX_EXTERN_C int32 PathListsDiffer(UHandle a, UHandle b);
