// Moving the window's view over a panel: the mouse wheel, the grabber, the
// automatic scrolling near the window's edge while something is dragged
// over the panel, and the drop-target highlight of a drag.  User-interface
// thread only.
#pragma once
#include "mgsource/window/wevent.h"
#include "panel/objects.h"

// The heap extension's option word bit that lets the wheel scroll a panel.
constexpr uInt16 kPanelWheelScrolls = 0x2;
// Drag event codes: entered, left, dropped (others are moves).
enum : int32 { kDragEntered = 42, kDragLeft = 44, kDragDropped = 45 };
// Actions of a drag: over a target, dropped on it.  The hit test of a drag
// runs the click in this transaction mode; a hit test that found no target
// answers 77.
enum : int32 { kActDragOver = 34, kActDrop = 12, kTRModeDrag = 22, kDragNoTarget = 77 };
constexpr int32 kAutoScrollBand = 16;

// What the shell does for the panel: drop the window's cached region, hide
// the tip strip, the panel's content bounds.
struct PanelScrollHooks {
  void (*disposeRgnCache)(ObjHeap heap) = nullptr;
  void (*hideTipStrip)() = nullptr;
  const Rect* (*panelBounds)(ObjHeap heap) = nullptr;
};
void SetPanelScrollHooks(const PanelScrollHooks& hooks);

// The tracking loops' time-out and the auto-scroll period, in ms.
int32 TrackingInterval();
void SetTrackingInterval(int32 ms);

// Wheel event 49 on a panel whose option word has 0x2: scrolls by
// -(amount x 30) pixels, x 150 with Shift; 1 when handled.
QX_EXTERN_C int32 PanelWheelScroll(ObjHeap heap, const WEventRecord* event);
// Drags the view with the mouse until the button is up (Shift: locked to
// the first axis moved along).
QX_EXTERN_C void GrabberTrack(ObjHeap heap, const WEventRecord* event);

struct DragTimer {
  Bool32 armed;
  uInt32 due;
};
// 1 when the point lies outside r but within 16 pixels of it.
QX_EXTERN_C int32 InAutoScrollBand(Point where, const Rect* r);
// 1 when a step is due: armed at the first call inside the band for 3
// intervals, then every interval; disarmed outside it.  now: MilliSecs().
int32 DragAutoScrollDueAt(Point where, const Rect* visible, DragTimer* timer, uInt32 now);
QX_EXTERN_C int32 DragAutoScrollDue(Point where, const Rect* visible, DragTimer* timer);
// One auto-scroll step for the drag record's point (words 2 and 4 of an
// event record: the point and the modifiers); the point moves with it.
QX_EXTERN_C int32 DragAutoScroll(ObjHeap heap, WEventRecord* drag);
QX_EXTERN_C void DropHiliteShow(ObjHeap heap, int32 target);
QX_EXTERN_C void DropHiliteHide(ObjHeap heap, int32 target);
// The drag handler of a panel window: 0, or 77 when the hit test found no
// drop target.
QX_EXTERN_C int32 DragTrackPanel(ObjHeap heap, WEventRecord* drag, void* transfer);
QX_EXTERN_C int32 DragTrackPanelRec(WEventRecord* drag, ObjHeap heap);
// The drag state (tests): the panel, its target and the last reply.
struct PanelDragState {
  ObjHeap heap;
  int32 target;
  int32 reply;
  DragTimer timer;
};
PanelDragState& PanelDrag();
