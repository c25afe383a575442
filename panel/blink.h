// Blinking of panel objects: one root-window timer toggles every blinking
// object of every running front panel between its normal look and its
// blink look.  Each front panel keeps the objects that blink in an offset
// list named by its heap extension; the count of all of them and the phase
// are kept here.
//
// The property code, the timer and the drawing run on the user-interface
// thread.  The count, the stop request, the phase and the panels' lists are
// also read and changed by threads that load panels (BlinkAddHeap) or start
// VIs (HeapHasBlinkers, BlinkStartTimer): all of that state is kept under one
// mutex (see blink.cpp for its order against other locks).
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "panel/objects.h"

// The one entry of the blink table: the number of blinking objects of all
// loaded panels, the stop request (set when the count falls to 0, cleared
// when the timer starts) and the phase.
struct __attribute__((packed, aligned(2))) BlinkEntry {
  int32 count;
  int32 stopRequested;
  int16 phase;
};
static_assert(sizeof(BlinkEntry) == 10 && __builtin_offsetof(BlinkEntry, phase) == 8, "blink entry");
enum : int16 { kBlinkPhaseNormal = 34, kBlinkPhaseBlink = 35 };
// OBlink's modes: the normal look, the blink look.
enum : int32 { kBlinkModeNormal = 44, kBlinkModeBlink = 45 };
// The entry number and the root-window timer id of the blink timer.
constexpr int32 kBlinkEntry = 1;
constexpr int32 kBlinkTimerId = 199 + kBlinkEntry;
// Draw states of the value-draw routines: the blink look, normal, plain.
enum : int32 { kDrawStateBlink = 1, kDrawStateNormal = 2, kDrawStatePlain = 4 };

// Resets the entry: count 0, no stop request, phase 34.
QX_EXTERN_C void BlinkInit();
// A copy of the entry, taken under the mutex.
BlinkEntry BlinkState();
// Adds the length of a loaded front panel's blink list to the count (the
// list's offset and count come from the file and are checked first).
QX_EXTERN_C void BlinkAddHeap(ObjHeap panelHeap);
// 1 when the object is in the panel's blink list, else 0; 0 for a heap that
// is no front panel or whose VI record's kind word is not 2.
QX_EXTERN_C int32 BlinkFindObject(ObjHeap panelHeap, int32 object);
QX_EXTERN_C int32 ObjIsBlinking(ObjHeap panelHeap, int32 object);
// The property setter: a positive value starts, zero or a negative value
// stops the object's blinking.  A table blinks by cells: its active cell (or
// all cells) is marked through the table's cell-attribute setter.
QX_EXTERN_C MgErr SetObjBlinking(ObjHeap panelHeap, int32 object, int32 value);
// Whether objects of the panel may start blinking (its VI is of the kind
// that blinks); SetObjBlinking refuses, with an assertion, otherwise.
int32 PanelCanBlink(ObjHeap panelHeap);
// Clears the stop request and starts the blink timer at the "blinkSpeed"
// interval; n must be 1 and some object must blink.
QX_EXTERN_C void BlinkStartTimer(int32 n);
// The main event filter's handler of the blink timer (ids 200 to 399).
QX_EXTERN_C void BlinkTimerEvent(int32 timerId);
// Draws the panel's blinking objects in their normal look and updates its
// window (the VI's run state changed).
QX_EXTERN_C void BlinkRedrawHeap(ObjHeap panelHeap);
// True for a front panel whose VI record's kind word is 2 and whose blink
// list is not empty.
QX_EXTERN_C Bool32 HeapHasBlinkers(ObjHeap panelHeap);
// True when the part id is one the object's class blinks.
QX_EXTERN_C Bool32 IsBlinkPart(ObjHeap panelHeap, int32 object, int32 partId);
// The draw state for a part of the object: a plain request (4) becomes the
// blink look (1) while the object blinks, its VI runs and the phase is 35,
// and the normal look (2) while it blinks in phase 34; 1 and 2 stay.
QX_EXTERN_C int32 BlinkPartState(ObjHeap panelHeap, int32 object, int32 drawState);
// True when the part's order word equals the object's active-element word.
QX_EXTERN_C Bool32 PartOrderIsCurrent(ObjHeap panelHeap, int32 object, int32 part);

// The OBlink method of a class (slot 48), or null for a class without one.
ObjMethodAddr OBlinkMethodFor(int32 cls);

// A table's cell look as the cell-attribute setter takes it: the cell (row,
// column; -2 every row or column), the look's fields and the mask of those
// set (0x40 the blink marker, 121 while the cell blinks).
struct TableCellFontRec {
  int32 row, column, font, format;
  uInt32 textColor, backColor;
  int32 width, height, blink;
  uInt32 mask;
};
static_assert(sizeof(TableCellFontRec) == 40 && __builtin_offsetof(TableCellFontRec, blink) == 32, "cell look");
enum : int32 { kCellLookBlink = 0x40, kCellBlinking = 121 };

// What blinking asks of the controls' own drawing, filled at start-up by the
// controls layer; a null member does nothing (answers 0).
struct BlinkControlHooks {
  int32 (*tableSetCellFont)(ObjHeap heap, int32 table, TableCellFontRec* record, int32 mask, int32 fontChange);
  void (*tableDrawCells)(ObjHeap heap, int32 table, void* data, int32 drawState);
  void (*listboxDrawScrollBar)(ObjHeap heap, int32 listbox, int32 drawState, int32 withScrollBar);
  int32 (*listboxApplySelection)(ObjHeap heap, int32 listbox, void* value, int32 redraw);
  int32 (*drawPlotArea)(ObjHeap heap, int32 graph, void* value, int32 updateDraw, int32 plotArea, int32 drawState,
                        int32 allowAutoscale);
};
void SetBlinkControlHooks(const BlinkControlHooks& hooks);
const BlinkControlHooks& BlinkControlHooksInUse();
