// The VI window's geometry around its content and what retrieval mode shows
// in its tool bar: the record-number field and the deletion-mark display.
// The state is kept per VI here; the tool bar's drawing reads it.
#pragma once
#include <string>

#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/window/window.h"
#include "shell/statepnl.h"

// The part flags (kVIWind*) are the tool bar's (statepnl.h).
// The tool bar's height, and with the icon pane and no own menu bar.
constexpr int32 kToolBarHeight = 21, kToolBarIconHeight = 34;
// The scroll bars' thickness (the system metric, at least 8 pixels), and
// the system-drawn menu bar's height.
constexpr int32 kScrollBarSize = 16, kMenuBarHeight = 20;
constexpr int32 kIconPaneWidth = 35;

// The window rectangle that holds the content with the tool bar, the own
// menu bar and the scroll bars the part flags ask for, and its inverse.
QX_EXTERN_C void VIWindContentToWindow(int32 parts, const Rect* content, Rect* window);
QX_EXTERN_C void VIWindWindowToContent(WindowRef window, int32 parts, const Rect* windowRect, Rect* content);
// The tool bar's and the own menu bar's rectangles of the panel's window
// (local coordinates): 1 when the part exists and is not empty, else 0 with
// an empty rectangle.
QX_EXTERN_C int32 VIWindStatePanelRect(ObjHeap panel, Rect* rect);
QX_EXTERN_C int32 VIWindMenuBarRect(ObjHeap panel, Rect* rect);
// Disposes the region cached in the root object of a front-panel heap
// (other heap kinds are left alone).
QX_EXTERN_C void VIWindDisposeRgnCache(ObjHeap panel);
// The root object's word that holds the cached region.
constexpr int32 kRootRegionWord = 16;

// The record-number field of a VI in retrieval mode.
struct RecordField {
  Rect bounds;
  std::string text;
  bool allSelected, active;
  int32 mark;  // the deletion-mark display: the shown record's mark
};
// False when the VI has no field.
bool VIRecordField(UHandle vi, RecordField* out);
int32 VIRecordFieldCount();

// The log name offered when a VI has no log path: its name with the
// extension ".log" in place of its own.
void DefaultLogName(UHandle vi, PStr name);

// Fills the engine's VI-window hooks and the VI window's part of the
// datalog hooks; called at start-up.
void ShellInstallVIWindowHooks();
