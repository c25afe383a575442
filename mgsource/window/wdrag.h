// Files and text dropped on windows: the drop data handed to a window's drop
// handler and read by its owner item by item, the drop target each accepting
// window registers while OLE is started, and the OLE start and end of the
// process.
//
// A DragData handle holds two words: the source (a drop handle, kind 1, or
// a data object of a drag between programs, kind 2) and a handle of item
// flags (a 32-bit count, then a flag word per item:
// bit 0 text, bit 2 file), filled by DragBuildItemFlags.  The kind travels
// beside it: in the character word of the drop events and as an argument of
// the readers.  Drop events carry the DragData handle in the modifiers word.
//
// User-interface thread only.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/path.h"
#include "mgsource/window/window.h"

typedef UHandle DragData;

enum : int32 { kDragKindDrop = 1, kDragKindDataObject = 2 };
enum : uInt32 { kDragItemText = 1, kDragItemFile = 4 };
enum : int32 { kWEvDragEnter = 42, kWEvDragOver = 43, kWEvDragLeave = 44, kWEvDrop = 45 };

// Starts OLE unless it was started (a flag records success), then the
// embedding container's start-up (when one is installed).
QX_EXTERN_C void DragInit();
// Gives back the component initialisations the execution threads counted,
// ends the container, then OLE when DragInit started it.
QX_EXTERN_C void DragShutdown();
typedef void (*DragContainerProc)();
// The embedding container's start-up and shut-down (none by default).
void DragSetContainerProcs(DragContainerProc startup, DragContainerProc shutdown);
DragContainerProc DragContainerStartupInUse();
DragContainerProc DragContainerShutdownInUse();
// True between a successful DragInit and DragShutdown.
bool DragOleStarted();

// Stores the handler (when given) and lets the window take dropped files;
// while OLE is started, a drop target is registered for the window (one per
// window).
QX_EXTERN_C void DragAcceptWindow(WindowRef window, WDropHandler handler);
// Clears the handler; the window takes no more files and its drop target is
// revoked and released: 0, or 80 when the revocation or the unlock failed.
QX_EXTERN_C int32 DragRefuseWindow(WindowRef window);
// A new DragData for the source with an empty flags handle: 0, or 2 with
// *out null.
QX_EXTERN_C MgErr DragNewData(DragData* out, uInt32 source);
QX_EXTERN_C void DragDisposeData(DragData data);
// The number of items (kind 1: the files of the drop; kind 2: the files when
// the data object offers a file list, else 1, its text).
QX_EXTERN_C int32 DragGetItemCount(DragData data, int32 kind);
// Sizes the flags to the count and marks each item: 0, the resize error,
// or 1 without a flags handle.
QX_EXTERN_C MgErr DragBuildItemFlags(DragData data, int32 kind);
// The item's flag (0 for an index outside the count, after a report).
QX_EXTERN_C Bool32 DragItemIsFile(DragData data, int32 index);
QX_EXTERN_C Bool32 DragItemIsText(DragData data, int32 index);
// The item's path (a shortcut replaced by its target): 0, 7 for a missing
// item or name longer than 260, 2 when a data object's file list cannot be
// had, or the path conversion's error.
QX_EXTERN_C MgErr DragGetItemPath(DragData data, int32 index, Path* path, int32 kind);
// Kind 2: the data object's text (read only within its block) into text,
// its line ends converted from native: 0, or 2 when it cannot be had.  Other
// kinds: 0, text unchanged.
QX_EXTERN_C MgErr DragGetItemText(DragData data, int32 index, LStrHandle text, int32 kind);
// Sends the event to the drop handler of the window of hwnd inside
// WSetup/WRestore (code 44 without a point): the handler's result, or 1 when
// the window has none.
QX_EXTERN_C int32 DragSendEvent(WEventRecord* event, int32 code, int32 kind, PlatWindow hwnd, Point globalPoint);
// The window's drop of files (its host message): event 45, kind 1, to the
// drop handler inside WSetup; the drop handle is freed.
void DragDropFiles(WindowRef window, uInt32 drop);
