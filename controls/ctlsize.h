// Resizing and moving the controls whose methods live here: listboxes,
// containers, graphs and scales, and the knob's round scale following the
// part it is anchored to.  They join the panel classes' resize (25) and
// move (26) slots at start-up.  User-interface thread only.
#pragma once
#include "controls/graph.h"
#include "mgsource/rects.h"
#include "panel/objects.h"

QX_EXTERN_C int32 ListboxOSizeMethod(ObjHeap heap, int32 listbox, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 ContainerOSizeMethod(ObjHeap heap, int32 container, const Rect* newRect, int32 partId);
QX_EXTERN_C int32 ListboxOOffsetMethod(ObjHeap heap, int32 listbox, Point by);
QX_EXTERN_C int32 GraphOOffsetMethod(ObjHeap heap, int32 graph, Point by);
QX_EXTERN_C int32 ScaleOOffsetMethod(ObjHeap heap, int32 scale, Point by);
// A scale resized: with a rectangle its end pixels and side parts follow the
// edges (a round scale its centre and radius); without one, after its part
// partId changed, the track sets the ends one pixel inside it and the parts
// anchored to it follow.  The scale is recounted; 0 or a nested error.
QX_EXTERN_C int32 ScaleOSizeMethod(ObjHeap heap, int32 scale, const Rect* newRect, int32 partId);
// A graph resized: stacked plot areas share a change of the frame's height
// in proportion to their heights (or the plot being sized takes it all),
// line up with the base plot area, and their scales' ends follow them.
QX_EXTERN_C int32 GraphOSizeMethod(ObjHeap heap, int32 graph, const Rect* newRect, int32 partId);

// A round scale's centre and radius follow its rectangle from oldRect to
// newRect (the ratio of their heights; a centre within a pixel of the old
// middle goes to the new middle), then the scale is recounted.  0.
QX_EXTERN_C MgErr KnobScaleResize(ObjHeap heap, int32 scale, const Rect* oldRect, const Rect* newRect);

// The listbox's text column laid out over its list part, and its first
// shown row kept within its items: nothing changes here yet (0).
QX_EXTERN_C int32 ListboxLayoutParts(ObjHeap heap, int32 listbox);
QX_EXTERN_C int32 ListboxPinTopItem(ObjHeap heap, int32 listbox);
// The graph's free cursors follow its plot area: none move here yet (0).
QX_EXTERN_C MgErr OffsetGraphCursors(ObjHeap heap, int32 graph);

// The flag that asks for a graph's whole redraw at the next update (its
// cached image: kGraphPixmapWord).
constexpr uInt32 kGraphFlagRedrawAll = 0x100000;

// Joins the methods above to the class table and fills the knob's hook.
void ControlsJoinSizeSlots();
