// The VI window's geometry around its content and what retrieval mode shows
// in its tool bar: the record-number field and the deletion-mark display.
// The state is kept per VI here; the tool bar's drawing reads it.
#pragma once
#include <string>

#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/window/window.h"

// The window's part flags: the first window option word.
enum : int32 {
  kVIWindHScroll = 1, kVIWindVScroll = 2, kVIWindIconPane = 4, kVIWindToolBar = 8, kVIWindMenuBar = 16,
};
// The tool bar's height, and with the icon pane and no own menu bar.
constexpr int32 kToolBarHeight = 21, kToolBarIconHeight = 34;
constexpr int32 kIconPaneWidth = 35;
// The horizontal scroll bar's height and the vertical one's width: the
// system metrics, at least 8 pixels.
int32 VIWindHScrollHeight();
int32 VIWindVScrollWidth();

// The window rectangle that holds the content with the tool bar, the own
// menu bar and the scroll bars the part flags ask for, and its inverse.
QX_EXTERN_C void VIWindContentToWindow(int32 parts, const Rect* content, Rect* window);
QX_EXTERN_C void VIWindWindowToContent(WindowRef window, int32 parts, const Rect* windowRect, Rect* content);
// The tool bar's and the own menu bar's rectangles of the panel's window
// (local coordinates): 1 when the part exists and is not empty, else 0 with
// an empty rectangle.
QX_EXTERN_C int32 VIWindStatePanelRect(ObjHeap panel, Rect* rect);
QX_EXTERN_C int32 VIWindMenuBarRect(ObjHeap panel, Rect* rect);
// The icon pane (at least 35 pixels wide, its height from the tool bar and
// the own menu bar) placed from the panel's content rectangle, and the
// 32 x 32 icon inside it; the answer is the icon-pane flag (1 when the
// window has one).  Either rectangle may be null.
QX_EXTERN_C int32 VIWindIconPaneRect(ObjHeap panel, Rect* pane, Rect* icon);
// Disposes the region cached in the root object of a front-panel heap
// (other heap kinds are left alone).
QX_EXTERN_C void VIWindDisposeRgnCache(ObjHeap panel);
// The root object's word that holds the cached region.
constexpr int32 kRootRegionWord = 16;

// The retrieval display of a VI in retrieval mode: the record-number field,
// and the record shown.
struct RecordField {
  Rect bounds;
  std::string text;
  bool allSelected, active;
  bool edited;   // the number was typed since its record was shown
  bool stamped;  // a record (with its time stamp) is shown
  int32 mark;    // the shown record's deletion mark
};
// False when the VI has no field.
bool VIRecordField(UHandle vi, RecordField* out);
int32 VIRecordFieldCount();
// The operator's typing in the field: its new text, marked edited.
void VIRecordFieldEdit(UHandle vi, ConstPStr text);

// The log name offered when a VI has no log path: its name with the
// extension ".log" in place of its own.
void DefaultLogName(UHandle vi, PStr name);

// Fills the engine's VI-window hooks and the VI window's part of the
// datalog hooks; called at start-up.
void ShellInstallVIWindowHooks();
