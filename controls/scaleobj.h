// The Scale object's own work: its marker array (adding, deleting,
// inserting, sorting and rescaling colour markers) and the operate-mode
// drags of a slide's slider and a knob's needle that map the mouse through
// the scale.  Marker arrays and item lists come from panel data: counts are
// checked against their handles before any entry is touched.
// User-interface thread only.
#pragma once
#include <cstddef>

#include "controls/scale.h"
#include "panel/objects.h"
#include "panel/popup.h"
#include "panel/transact.h"

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

// ---- Operate and edit messages -------------------------------------------------------------
// The pop-up record as a scale reads it: the panel's record, then the word
// in which the scale's click leaves the marker clicked (-1 none).  The
// record travels inside the action record, which holds both.
struct ScalePopupRecord {
  PopupMsgRecord popup;
  int32 marker;
};
static_assert(sizeof(void*) != 4 || offsetof(ScalePopupRecord, marker) == 48, "the marker word of the record");
// The scale's tag in the click record and in its frames.
constexpr uInt32 kScaleTag = FourCC("SCLE");
// Drag cursors of a control's scale in edit mode.
enum : int32 { kCursorScaleRound = 64, kCursorScaleHorizontal = 46, kCursorScaleVertical = 47 };
// Flag bit of colour scales: colours are not interpolated between markers.
constexpr uInt32 kScaleNoInterpolation = 0x80000;
// The sub-menus the scale's menu runs: the mapping and style menus its
// owner gives, the marker spacing menu (1 uniform, 2 arbitrary) and the
// colour palette.
enum : int32 { kScaleMappingMenuId = 59, kScaleStyleMenuId = 69, kMarkerSpacingMenuId = 98 };
// Pop-up items of the scale.
enum : int32 {
  kPopupRamp = 171, kPopupInterpolateColor = 184, kPopupMarkerSpacing = 266, kPopupAddMarker = 267,
  kPopupDeleteMarker = 268, kPopupMarkerColor = 269,
};

// The click inside the scale's bounds: a marker part under the point goes
// to ScaleClickTick or ScaleClickLabel, other parts get the click, front
// to back, until one answers (none: 0).  A pop-up click a part leaves
// unhandled (1) on a scale that offers a menu (flag bits 0 and 11 clear)
// builds the scale's menu, the marker clicked in the record (4).  A colour
// click (6) on the ramp or an end box becomes event 256 unless 0x8000.
QX_EXTERN_C int32 ScaleOClickMethod(ObjHeap heap, int32 scale, TransactionState* click, TransactionFrame* frame,
                                    ActionParams* params);
// A marker's label clicked: a press on the label of another marker than
// the one being edited while it has the key focus ends that editing (1);
// else the marker becomes the edited one and the label takes the click.
QX_EXTERN_C int32 ScaleClickLabel(ObjHeap heap, int32 scale, int32 label, int32 marker, TransactionState* click,
                                  TransactionFrame* frame, ActionParams* params);
// A marker's tick clicked: the tick takes the click; a cursor query of a
// control's scale in edit mode answers the drag cursor; a press that the
// tick tracks starts dragging the marker (edit mode only).
QX_EXTERN_C int32 ScaleClickTick(ObjHeap heap, int32 scale, int32 tick, int32 marker, TransactionState* click,
                                 TransactionFrame* frame, ActionParams* params);
// Actions along the scale's frame: label editing (a committed text sets the
// edited marker's value, or its text-label entry), marker drags, the pop-up
// choice, and events passed to the other parts; replies through the
// scale's reply filter.
QX_EXTERN_C int32 ScaleODoitMethod(ObjHeap heap, int32 scale, TransactionFrame* frame, int32 action,
                                   ActionParams* params);
// The scale's pop-up menu (build and run passes) and the palette's reply
// for "Marker Color" (the chosen foreground stored in the marker when it
// differs: 0x20200; no choice: 0).
QX_EXTERN_C int32 ScaleOPopupMethod(ObjHeap heap, int32 scale, PopupMsgRecord* rec);
QX_EXTERN_C int32 ScaleMarkerColorReply(int32 foreground, int32 background, int32 flags, int32 argument);
// (The scale's selection method, ScaleOSelectMethod, is the panel's:
// panel/editmsg.h.)

// Draws the scale when its bounds need drawing and it is not hidden: its
// other parts from the last (the end colour boxes with their colours, the
// colour strip), a round scale's arc when its end ticks are lines, then
// each marker's label (greyed when its text item is disabled), minor tick
// and tick.  0.
QX_EXTERN_C int32 ScaleODrawMethod(ObjHeap heap, int32 scale, const void* data, int32 pass, int32 mode);
QX_EXTERN_C int32 ScaleDrawMarkerProc(ObjHeap heap, int32 scale, ScaleMarkerRec* marker);
