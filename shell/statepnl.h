// The VI window's tool bar as the engine asks for it: the image each of its
// slots shows for the VI's current state, and the redraw of one slot.
#pragma once
#include <cstdint>
#include "mgsource/extcode.h"
#include "mgsource/memory.h"
#include "mgsource/objheap.h"
#include "mgsource/draw/dcolor.h"
#include "mgsource/rects.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"

// The image that tool-bar slot 0..8 shows for the state of the VI that owns
// the panel; -1 (with the debug line "slot #%lx") for another slot or a
// panel without an owning VI.
QX_EXTERN_C int32 StatePnlSlotIcon(ObjHeap panel, int32 slot);

// The panel's confirm record (heap extension word 7): the handles of the
// current and the saved value lists.  The values differ when the lists'
// sizes or bytes do.
struct ConfirmRecord {
  UHandle current;
  UHandle saved;
};

// The tool-bar slot (0..8) that shows an image (0..60); -1 for another
// image.  The slot's rectangle, relative to the tool bar's top-left corner.
int32 StatePnlImageSlot(int32 image);
Rect StatePnlSlotRect(int32 slot);

// The nine slots of the tool bar.
enum StatePanelSlot : int32 {
  kSlotEnter = 0, kSlotRun, kSlotRunContinuously, kSlotAbort, kSlotPause, kSlotHighlight, kSlotStepInto,
  kSlotStepOver, kSlotStepOut,
};
// An image of the tool bar: its cell in the strip (-1: the slot is blanked)
// and its button kind (0 flat, 1 sunken while pressed, 2 raised).
struct StatePanelImage {
  int8_t cell, kind;
};
// Each image's cell in the strip (-1: the slot is blanked) and its button
// kind (0 flat, 1 sunken while pressed, 2 raised while pressed); -1 for an
// image outside 0..60.
int32 StatePnlImageCell(int32 image);
int32 StatePnlImageKind(int32 image);

// Draws the tool bar in its rectangle (window-local) when it needs drawing.
QX_EXTERN_C void StatePnlDraw(const Rect* bar, ObjHeap panel);
// Draws one image in its slot, the tool bar's top-left at origin: mode 0
// plain, 1 with the pressed frame, 2 greyed.  A flat image of a slot beside
// a neighbour showing a cell gives up its shared pixel column.
QX_EXTERN_C void StatePnlDrawSlot(Point origin, int32 image, int32 mode, ObjHeap panel);
// A press in the tool bar: 1 when the point lay in it (less its bottom row).
QX_EXTERN_C int32 StatePnlClick(const Rect* bar, WEventRecord* event, ObjHeap panel);
// Tracks a press on the image's slot until the release: 1 when it ended
// inside, 2 when hold reporting is asked for and the press stayed inside
// for 500 ms, else 0.
QX_EXTERN_C int32 StatePnlTrackButton(ObjHeap panel, Point origin, int32 image, Bool32 frame, Bool32 hold);
// The tip strips of the slots: the mouse over the tool bar, and the window
// timers 8 (the delay) and 9 (the poll).
QX_EXTERN_C void StatePnlHover(WEventRecord* event, ObjHeap panel);
QX_EXTERN_C void StatePnlTipTimer(ObjHeap panel);
QX_EXTERN_C void StatePnlTipPoll(ObjHeap panel);
// The image the tip strip shows or waits for, -1 for none.
int32 StatePnlTipImage();
// Invalidates the VI's tool bar, its bottom row left out.
QX_EXTERN_C void StatePnlInval(UHandle vi);
// Sets or clears the panel's text-entry flag and redraws slot 0; it fills
// the object system's StatePnlSetTextEntry.
void VIWindSetTextEntry(ObjHeap panel, int32 on);
// Retrieval mode begins: the record-number field, 32 x 15 at (96, 4) from
// the tool bar's corner, showing "0" (list 700 entry 8), all of it selected.
QX_EXTERN_C void StatePnlNewRecordField(WindowRef window, UHandle vi);
// Retrieval mode: a record number put into the record field (clamped to
// the log's records; a log of none shows "0"), written and selected, slot 0
// offering to display it.
QX_EXTERN_C void StatePnlEditRecordNum(UHandle vi, int32 number);
// The keys of the record field (Enter shows the record, digits, Backspace
// and the caret keys edit, key codes 4 and 5 step up and down, others beep);
// answers 0 like every key the window's own keys leave.
int32 StatePnlRecordKey(WEventRecord* event, ObjHeap panel);
// The record number after stepping the field's number up or down: the same
// number at either end, -1 when the field holds no number or the log no
// records.
int32 StatePnlStepRecord(int32 number, int32 count, bool up);
// Releases the image strips; the next drawing loads them again.
QX_EXTERN_C void StatePnlReleaseImages();
// The strips: picture resources of the run-time resource file.
constexpr int32 kStripColourId = 6000, kStripBWId = 6001;
constexpr DColor kButtonShadow = 0x666666;

// Gives the engine's panel routines the slot images and the icon pane;
// called at start-up.
void ShellInstallPanelRoutineHooks();
