// The Scale object's own work: its marker array (adding, deleting,
// inserting, sorting and rescaling colour markers) and the operate-mode
// drags of a slide's slider and a knob's needle that map the mouse through
// the scale.  Marker arrays and item lists come from panel data: counts are
// checked against their handles before any entry is touched.
// User-interface thread only.
#pragma once
#include "controls/scale.h"
#include "panel/objects.h"

// The scale's colour-scale flag: the marker array holds colours and its
// first and last entries stand for the ends.
constexpr uInt32 kScaleColours = kScaleArrayHasEnds;

// Marker array operations.  Indices as ScaleMarkerEntry names them.
// A new marker of the value (its colour looked up on colour scales),
// placed in order: 0x280, or 16 when the array cannot grow.
QX_EXTERN_C int32 ScaleAddMarker(ObjHeap heap, int32 scale, float64 value);
// Removes the marker: 0x280; an index outside the array's markers (2 to
// count + 1) is refused with 0 and the array unchanged.
QX_EXTERN_C int32 ScaleDeleteMarker(ObjHeap heap, int32 scale, int32 index);
// A copy of the marker inserted before it (index 0: before the last entry,
// 1: at the front): the copy's index, or a negative value when the array
// cannot grow or the index names no marker (the array unchanged).
QX_EXTERN_C int32 ScaleInsertMarker(ObjHeap heap, int32 scale, int32 index);
// Sorts the entries by value; without text labels the scale's range then
// follows the first and last values.
QX_EXTERN_C void ScaleSortMarkers(ObjHeap heap, int32 scale);
QX_EXTERN_C int32 ScaleCompareMarkers(const void* a, const void* b);
// The array resized to count entries (created when there is none) and the
// count stored; the resize error, the array unchanged.
QX_EXTERN_C MgErr ScaleResizeMarkers(ScaleRec* rec, int32 count);
// Moves colour markers from the span of the first and last entries to the
// scale's range; an empty span puts every marker at the new lower end.  0.
QX_EXTERN_C int32 RescaleColorMarkers(ObjHeap heap, int32 scale);

// Operate-mode drags: the slider (part 23, also reached from parts 8 and
// 31) follows the mouse along a slide's scale, a knob's needle its angle
// (relative to the press unless the knob's flag bit 24 is set); the value,
// in the control's numeric type, is stored at data when it differs, unless
// it falls on a disabled item of a text-label slide (outside the owner mode
// 0x80000).  *changed tells whether it was stored.  kArgErr without a scale,
// a numeric type or data.
QX_EXTERN_C MgErr SlideTrackSlider(ObjHeap heap, int32 slide, TransactionFrame* frame, ActionParams* params,
                                   void* data, int32* changed);
QX_EXTERN_C MgErr KnobTrackNeedle(ObjHeap heap, int32 knob, TransactionFrame* frame, ActionParams* params,
                                  void* data, int32* changed);
// Every slider display (part 8001) but the element takes the element's
// items; every slider display's text part (12) is marked busy and redrawn.
QX_EXTERN_C void SlideInvalSliders(ObjHeap heap, int32 slide, int32 element);

// The marker part under the point: 27 its label (shown), 40 its tick
// (shown; on straight scales at least 3 pixels across the scale), 45 a minor
// tick; 0 for none.  *index: the marker's index, -1 for none.  The walk's
// answer packs the part id above the index.
QX_EXTERN_C int32 ScaleHitMarker(ObjHeap heap, int32 scale, Point point, UHandle textList, int32* index);

// Dragging a marker, or the increment through the first interior marker
// when the markers are uniform: the press remembers what the drag may have
// to restore (an end or a drag with the copy modifier drags a copy of the
// marker); each move sets the value under the mouse, in displayed units,
// as the marker's (snapped to multiples of angleStep on round scales when
// it is not 0); the release recomputes the scale.  Reply flags (0x20280
// when something changed).
enum : int32 { kScaleDragStart = 1, kScaleDragMove = 3, kScaleDragEnd = 2 };
QX_EXTERN_C int32 ScaleDragMarker(ObjHeap heap, int32 scale, int32 phase, int32 index, Point mouse, int32 modifiers,
                                  float64 angleStep);

// The colour boxes at a colour scale's two ends (parts 8012 and 8013) read
// their colours from the scale's record: 8012 the first end word, 8013 the
// second, the other way round when the scale's values run against its
// pixels.  The address of the word; 0 for other parts and for handle
// requests.
enum : int16 { kScalePartLowEnd = 8012, kScalePartHighEnd = 8013, kScalePartRamp = 69 };
QX_EXTERN_C int32 ScaleOGetDataPtrMethod(ObjHeap heap, int32 scale, int32 part, int32 mode, UHandle* handle);
// Enters the Scale class's own methods in its class record (start-up).
void ControlsJoinScaleSlots();

// Draws the scale when its bounds need drawing and it is not hidden: its
// other parts from the last (the end colour boxes with their colours, the
// colour strip), a round scale's arc when its end ticks are lines, then
// each marker's label (greyed when its text item is disabled), minor tick
// and tick.  0.
QX_EXTERN_C int32 ScaleODrawMethod(ObjHeap heap, int32 scale, const void* data, int32 pass, int32 mode);
QX_EXTERN_C int32 ScaleDrawMarkerProc(ObjHeap heap, int32 scale, ScaleMarkerRec* marker);
