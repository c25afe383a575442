// Files dropped on windows: the drop data handed to a window's drop handler
// and read by its owner item by item.
//
// A DragData handle holds two words: the source (a drop handle, kind 1)
// and a handle of item flags (a 32-bit count, then a flag word per item:
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

// Stores the handler (when given) and lets the window take dropped files.
QX_EXTERN_C void DragAcceptWindow(WindowRef window, WDropHandler handler);
// Clears the handler; the window takes no more files.  0.
QX_EXTERN_C int32 DragRefuseWindow(WindowRef window);
// A new DragData for the source with an empty flags handle: 0, or 2 with
// *out null.
QX_EXTERN_C MgErr DragNewData(DragData* out, uInt32 source);
QX_EXTERN_C void DragDisposeData(DragData data);
// The number of items (kind 1: the files of the drop).
QX_EXTERN_C int32 DragGetItemCount(DragData data, int32 kind);
// Sizes the flags to the count and marks each item: 0, the resize error,
// or 1 without a flags handle.
QX_EXTERN_C MgErr DragBuildItemFlags(DragData data, int32 kind);
// The item's flag (0 for an index outside the count, after a report).
QX_EXTERN_C Bool32 DragItemIsFile(DragData data, int32 index);
QX_EXTERN_C Bool32 DragItemIsText(DragData data, int32 index);
// The item's path (a shortcut replaced by its target): 0, 7 for a missing
// item or name longer than 260, or the path conversion's error.
QX_EXTERN_C MgErr DragGetItemPath(DragData data, int32 index, Path* path, int32 kind);
// Sends the event to the drop handler of the window of hwnd inside
// WSetup/WRestore (code 44 without a point): the handler's result, or 1 when
// the window has none.
QX_EXTERN_C int32 DragSendEvent(WEventRecord* event, int32 code, int32 kind, PlatWindow hwnd, Point globalPoint);
// The window's drop of files (its host message): event 45, kind 1, to the
// drop handler inside WSetup; the drop handle is freed.
void DragDropFiles(WindowRef window, uInt32 drop);
