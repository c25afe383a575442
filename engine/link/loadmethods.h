// The load methods of the linker's reference classes: VIs and custom
// controls (found and read by the VI loader), external subroutines,
// resource handles of the file being loaded and library functions; the
// unloading of subroutines and library functions that lost their last
// referrer; LoadVIByName, the entry by which the shell opens a VI with all
// it needs; and the load progress dialog that every method reports to.
//
// Names, recorded paths and type blocks come from link information: a
// library-function name without a library part or with too short a
// function part is not loaded (the missing-external-code flag is set), a
// type block of the wrong size is not served.
//
// Everything runs on the user-interface thread, one load at a time.
#pragma once
#include "engine/link/linker.h"
#include "engine/vi/vifind.h"

// The subroutine file extension.
constexpr char kSubrFileExt[] = ".qsb";
// A type block's type word for a subroutine looked for without progress
// report and without extension: a cluster (0x50) with flags 0x44.
constexpr uInt16 kSubrClusterTypeWord = 0x4450;
// A resource-handle reference's type block: the length, the resource type
// and its id.
constexpr int32 kGenhTypeBlockSize = 10;
// The library-function record: module, function, unit-access record.
enum : int32 { kXFunRecModule = 0, kXFunRecProc = 4, kXFunRecUnitAccess = 8, kXFunRecSize = 12 };
// The entries of a subroutine's table of entries (version 4 and later) and
// the messages through the single entry of older ones.
enum : int32 { kSubrEntryUnload = 6, kSubrEntryLoad = 4, kSubrEntryInit = 7 };
enum : int32 { kSubrMsgLoad = 16, kSubrMsgUnload = 24 };
constexpr uInt32 kSubrTableVersion = 4;
// The load progress dialog.
constexpr int32 kLoadProgressDlgId = 6306;
constexpr int32 kLoadProgressDlgPos = 150;
constexpr uInt32 kLoadProgressInterval = 500;  // ms between dialog updates
enum : int32 {
  kProgItemName = 1,      // the item loaded
  kProgItemSearched = 2,  // the item searched for
  kProgItemIgnore = 3,    // give up the item ("Ignore ...")
  kProgItemBrowse = 4,    // let the user choose its file
  kProgItemStop = 5,
  kProgItemPhase = 6,
  kProgItemCount = 7,
};

// ---- What the load methods ask of other layers ---------------------------------------
// A click on an item of a dialog goes to the filter given when it was loaded.
typedef void (*LoadDlgFilterProc)(void* context, int32 item);
// Filled at start-up: the instrument layer's unit-access records and the
// shell's dialogs.  A null member answers as the service does when it is
// not there: no unit-access record is made (calls are not serialised), no
// dialog opens, alerts answer their last button.
struct LoadMethodHooks {
  void* (*allocUnitAccess)(int32 unit);
  void (*disposeUnitAccess)(void* record);
  // The progress dialog (DLG2 id of the run-time resource file) at (h, v).
  void* (*dlgLoad)(int32 id, int32 h, int32 v, LoadDlgFilterProc filter, void* context);
  void (*dlgSetTitle)(void* dlg, ConstPStr title);
  void (*dlgSetText)(void* dlg, int32 item, ConstPStr text);
  void (*dlgGray)(void* dlg, int32 item, int32 state);  // 0 enabled, 2 disabled
  void (*dlgSetBoolText)(void* dlg, int32 item, ConstPStr text);
  void (*dlgSetStringItemFlag)(void* dlg, int32 item, int32 flag);
  // Runs the dialog's pending events (clicks reach the filter); non-zero
  // while more remain.
  int32 (*dlgBoxStep)(void* dlg);
  void (*dlgUnload)(void* dlg);
};
void SetLoadMethodHooks(const LoadMethodHooks* hooks);
const LoadMethodHooks& LoadHooks();

// ---- The loader context --------------------------------------------------------------
// The folder of the path given to LoadVIByName (owned here; null before).
Path LoadFolderPath();

// ---- The methods ---------------------------------------------------------------------
// The path where a referenced item is looked for: a new path, or null when
// memory is short (*err 2).
Path MakeRefSearchPath(Path refPath, Path basePath, ConstPStr name, MgErr* err);
int32 LoadVIMethod(ConstPStr name, Path basePath, uInt32 classCode, Path refPath, uInt32 requester,
                   const void* typeBlock, int32 flags);
int32 QXINLoadMethod(ConstPStr name, Path basePath, Path refPath, uInt32 requester, const void* typeBlock,
                     int32 flags);
int32 QXCCLoadMethod(ConstPStr name, Path basePath, Path refPath, uInt32 requester, const void* typeBlock,
                     int32 flags);
int32 SubrLoadMethod(ConstPStr name, Path basePath, Path refPath, uInt32 requester, const void* typeBlock,
                     int32 flags);
int32 GenhLoadMethod(ConstPStr name, Path basePath, Path refPath, uInt32 requester, const void* typeBlock,
                     int32 flags);
int32 XFunLoadMethod(ConstPStr name, Path basePath, Path refPath, uInt32 requester, const void* typeBlock,
                     int32 flags);
// Looks for the library file in the folder (and, with subfolders, below
// it, each folder once): the hook's answer 3 to 6, 1 and *found the
// library's path when there, else 0.
int32 FindLibraryInFolder(Path folder, ConstPStr library, Bool32 subfolders, Path* found);
void UnloadSubroutine(int32 entry);
void UnloadExternalFunction(int32 entry);
// Installs the methods and unloads above in the linker's class table.
void InstallLoadMethods();

// ---- Opening by name -----------------------------------------------------------------
QX_EXTERN_C int32 LoadVIByName(ConstPStr name, Path path, UHandle* vi, int32 flags);
QX_EXTERN_C int32 BeginLoadStatus();
QX_EXTERN_C void EndLoadStatus(int32 installed);
// The progress hook: phase 1 an item is loaded, 2 one is searched for.
int32 LoadProgressProc(void* state, int32 phase, ConstPStr name, Path path, int32 unused1, int32 unused2,
                       uInt32 classCode);
// The last answer of the progress state (-1 none).
int32 LoadProgressAnswer();
QX_EXTERN_C void CloseLoadFile(UHandle vi, RsrcFileRef file);
QX_EXTERN_C MgErr ReloadVIPart(UHandle vi, ResType partType, MgErr defaultResult);
