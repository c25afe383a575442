// The shell's start-up and shut-down of the whole system (ShellInit,
// ShellShutDown) with their parts: the run-time resource file (the
// executable itself, opened read-only through its trailer) and its version
// check, the disk-space check, the two temporary resource files, the
// preferences read at start, and the services the search for VI files asks
// of the shell.
#pragma once
#include "mgsource/counted_strings.h"
#include "mgsource/extcode.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"

// What other layers and later parts of the shell do at their steps; every
// null slot does nothing (a null init answers 0, a null automation start
// fails).  Filled before WMain runs.
struct ShellStartHooks {
  MgErr (*automationInit)();
  void (*automationExit)();
  MgErr (*viRefInit)();
  MgErr (*visaInit)();
  void (*instrShutDown)();  // the GPIB units and the VISA sessions closed
  void (*tcpServerInit)();
  void (*oleServerStart)();
  void (*oleServerStop)();
  // The local host's name and back, and the VI server's access lists.
  MgErr (*hostAddress)(ConstPStr host, uInt32* address);
  MgErr (*hostName)(uInt32 address, PStr name, int32 noLookUp);
  void (*specifyTcpAccess)(CPStrHandle list);
  void (*specifyViAccess)(CPStrHandle list);
  // Later parts of the shell.
  void (*createSplash)();
  void (*splashStatus)(ConstPStr text, int32 line, int32 flags);
  MgErr (*initAppMenus)();
  void (*helpInitFiles)();
  void (*helpQuit)();
  void (*recentInit)();
  void (*recentSave)();
  void (*rtmShutDown)();
  void (*boolTrackMutexInit)();
  void (*boolTrackMutexDispose)();
  void (*blinkInit)();
  void (*tagListsInit)();
  void (*tagListsDispose)();
  // The object system's picture tables and cursor images: a table entry set
  // (0 clears it), the file cursors load from (0 forgets it), the control
  // pictures registered, the listbox symbols from a resource base (and
  // released at shut-down).
  MgErr (*setBuiltInPict)(int32 index, int32 image);
  void (*cursorImageFile)(RsrcFileRef file);
  void (*controlPicturesInit)();
  void (*listboxSymbolsInit)(int32 base);
  void (*listboxSymbolsDispose)();
  // Test hook: each step of the start-up and shut-down, by name.
  void (*step)(const char* name);
};
void ShellSetStartHooks(const ShellStartHooks& hooks);
const ShellStartHooks& ShellStartHooksInUse();

// The version the executable expects of its resource file.
constexpr uInt32 kShellAppVersion = 0x05018003;
// What a version resource holds: the numeric version, the region code, the
// short version text.  False when the bytes are too few for the numeric
// version and region, or the short text runs past them (the text is then
// empty and the numbers are still read when they fit).
struct ShellVers {
  uInt32 version;
  int16 region;
  Str255 shortText;
};
bool ShellParseVers(const uChar* bytes, int32 size, ShellVers* out);
// Checks a file-type table resource (a big-endian 32-bit count, then 8 bytes
// an entry) against its size and turns its count into native order: 0, or
// 1 when the count runs past the resource (nothing changed).
MgErr ShellCheckExtTable(UHandle table);

// The executable opened as the run-time resource file: the resource
// manager's error (with "Unable to open resource files." shown by the
// start-up).
QX_EXTERN_C MgErr OpenRunTimeResFile();
// 1 when bit 0 of the first byte of resource FLAG id is clear, 0 when set,
// the default when there is no such resource.
QX_EXTERN_C int32 AppFlagIsClear(int32 id, int32 defaultValue);
// The free space of the volume holding path against "abortMin" and
// "warnMin" (kilobytes): 0, 9 below abortMin, or the query's error.
QX_EXTERN_C MgErr CheckDiskSpace(Path path);
// The two temporary resource files "qxtr<n>.rsc" and "qxtl<n>.rsc", made
// new and opened read-write: 0 or the error.  A name taken by another file
// is passed over for the next number (at most 100 tries).
QX_EXTERN_C MgErr CreateTempResFiles();
// Closes and deletes both (only what this process made).
void DisposeTempResFiles();
// Their paths while they exist (null otherwise).
Path ShellTempResFilePath(int32 which);

// The preferences start-up reads over the compiled-in defaults (see
// mgsource/prefs.h), the VI search path and the precisions.
void ReadShellPreferences();
// Reads the VI search path from "viSearchPath": its five compiled-in
// entries when the key is missing; 0, or the configuration's error.
MgErr ShellReadSearchPath();
// The VI server's access lists as installed (owned by the shell).
CPStrHandle ShellTcpAccessList();
CPStrHandle ShellViAccessList();
// Their compiled-in defaults as start-up made them (null before).
CPStrHandle ShellAccessDefault(bool tcpList);

// Fills the search's shell services (alerts, folders); called at start-up.
void ShellInstallFindHooks();
// Hands the engine's posted user events to the event queue; called with
// the other hooks before start-up.
void ShellInstallExecEvents();
// The start-up, in its order: 0, or the first fatal step's error (what the
// steps up to it made is undone).
MgErr ShellInit();
// Writes "tileUpDown" back: removed when the live value is the default,
// written when it is not, the file untouched when the key (or, missing,
// tile) already holds the live value.
void ShellSaveTileUpDown(int32 tile);
// The shut-down, in its order.
void ShellShutDown();
// The version text of the run-time resource file ("%p" of the status texts).
ConstPStr ShellVersionText();
