// Small routines shared by the operate-mode and display methods of panel
// objects: the part-id classes, the key-binding lookup of dialog panels,
// the edge drawing of a selection mark, the needle length of a knob and the
// colour interpolation of a colour ramp.  Objects come from VI files: every
// offset is checked to name a used block before it is read.
// User-interface thread only.
#pragma once
#include "mgsource/window/wevent.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/textrec.h"
#include "panel/objects.h"

// The part-id classes: parts that a click operates, parts of an indicator
// that still operate, and parts that take keys.
QX_EXTERN_C int32 IsOperatePartId(int32 part);
QX_EXTERN_C int32 IsIndicatorPartOperable(int32 part);
QX_EXTERN_C int32 IsKeyPart(int32 part);

// Whether the object's class edits a text when it has the key focus: every
// class but Boolean, Color Box and Ring.
QX_EXTERN_C int32 IsTextFocusClass(ObjHeap heap, int32 object);

// Whether a container may hand the action to the object: not action 15 to
// a hidden object, nor to a disabled one (0x280) unless the panel's owner
// is in the mode where disabled objects take clicks.
QX_EXTERN_C int32 ContainerActionAllowed(ObjHeap heap, int32 object, int32 action);

// The object that the panel's key-binding table binds to the key of the
// event (the event words of an action record), 0 for none.  Dialog-kind
// panels only: not in the owner's click-through mode, not on a root VI's
// panel.  Only a table of the full 55 slots is read, and only a live
// object is answered.
enum : int32 { kKeySlotReturn = 0, kKeySlotEscape = 1, kKeySlotClear = 6, kKeySlotCount = 55 };
QX_EXTERN_C int32 KeyBindingTarget(ObjHeap heap, const WEventRecord* event);

// Whether a data display object lies, through data display owners, inside
// an Array.
QX_EXTERN_C int32 IsInArray(ObjHeap heap, int32 object);

// Draws the edges that the code names on the rectangle, in the current pen:
// corners 1 top-left, 2 top-right, 4 bottom-left, 8 bottom-right; 3 the top
// side, 5 the left, 10 the right, 12 the bottom, 15 the whole frame; any
// other code draws nothing.
QX_EXTERN_C void DrawRectEdges(int32 code, const Rect* rect);

// The knob's needle length from its thumb (part 23) of that order: the
// thumb's height when it is under 2 pixels wide, its width when under 2
// pixels high, else its rounded diagonal.  Stored in the knob's word 15; its
// pointer (part 8) of that order is then redrawn.  -1 without the thumb.
constexpr int32 kKnobNeedleWord = 15;
QX_EXTERN_C int32 KnobNeedleLength(ObjHeap heap, int32 knob, int32 order);

// The colour a fraction of the way from the lower to the upper colour (red,
// green and blue bytes, each rounded; the top byte is 0); the fraction is
// (value - lower value) / (upper value - lower value), 0 when the two values
// are equal.
QX_EXTERN_C uInt32 RampInterpolate(uInt32 lower, uInt32 upper, double lowerValue, double upperValue, double value);

// Redraws the object's frame (OInval level 2) and invalidates the pixel at
// its top-left corner in the panel's window, so that an update surely comes.
QX_EXTERN_C void InvalObjPart(ObjHeap heap, int32 object);

// Gives the object at frame (its frame in the transaction path, which ends
// there) the key focus without a text, redraws it and sets its highlight
// flag; the reply comes back without 0x800 and 0x100000, and without its
// keep-tracking bit when the focus could not be taken.
constexpr uInt32 kObjFlagHighlight = 0x40;
QX_EXTERN_C int32 FPFocusObject(ObjHeap heap, int32 object, void* frame, int32 reply);

// The edge code (for DrawRectEdges) of the data-selection mark on the cell
// the array shows: 15 inside the selection in every dimension, a side for an
// empty selection (a line between cells) next to the cell, 0 elsewhere or
// without a selection record.  The record (at the data-space offset in the
// array's word 13, its descriptor at word 14, checked to be the array's
// entry: a cluster led by three arrays) holds three handles of a count and one index per
// dimension: the shown index, the selection start and end.  The last
// dimension is the columns (its line clears the right or left corners), the
// one before it the rows (the bottom or top corners).
QX_EXTERN_C int32 ArrayEltLayout(ObjHeap heap, int32 array, UHandle dataSpace);

// ---- Focus moves inside objects: text parts, parts by order, slides, arrays ----------
// (panel/methfocus.cpp.)  The params are the action record an action 15
// carries; only its leading words (part id and order, the event, the focus
// object and the selection) are read or written, so a key-action block may
// be passed as well.

// Gives the text part that params names (part id and order) the key focus
// with its text: the path at frame (the object's frame) becomes {object,
// "DDO ", level 0, the part's position} {part, "COSM", level 2} and ends.
// On success the params' part id becomes 0.  The focus code: 0, kArgErr
// when there is no such part or it has no text, or the error of taking the
// focus.
QX_EXTERN_C int32 FPFocusTextPart(ObjHeap heap, int32 object, void* frame, ActionParams* params);

// Sends action 15 to the object's part of that id and order, on the path
// {object, level 0, its position} {part, "DDO ", level 2} written at frame;
// the part's reply, 0 when there is no such part.
QX_EXTERN_C int32 FocusPartByOrder(ObjHeap heap, int32 object, int32 partId, int32 order, void* frame,
                                   ActionParams* params);

// The number of sliders of a slide: the element count of a cluster-typed
// value, else 1.
QX_EXTERN_C int32 SliderCount(ObjHeap heap, int32 object);


// Makes the slider of that index (pinned to the sliders there) the active
// one: the old and new thumbs (part 23) are redrawn, clipped to the housing
// when there is one; a blinking slide also redraws the old slider's display
// (8001) and fill (31).  The index stored, -1 for no slide.
QX_EXTERN_C int32 SetActiveIndex(ObjHeap heap, int32 object, int32 index);

// Moves the entry to the slider display (8001) of that index: the whole text
// selected and action 15 sent to it; when it does not keep tracking the
// display is given the key focus (without 0x800 once it has it, and the
// slide redrawn when invalidate is set).  The index then becomes the active
// one.  The reply with the display's answer.
QX_EXTERN_C int32 FocusSliderDisplay(ObjHeap heap, int32 object, int32 index, int32 reply, void* frame,
                                     ActionParams* params, int32 invalidate);

// The cell of an array's visible grid: a row and a column packed in two
// 16-bit halves, the column in the low half, as the shown-cell word (word
// 12) and the frame of a cell (level 3) hold it.  Word 11 (kPWArrayGrid)
// holds the grid's rows and columns less one the same way.
constexpr int32 kPathLevelCell = 3;
constexpr int32 ArrayCell(int32 row, int32 column) { return int32((uInt32(uInt16(row)) << 16) | uInt16(column)); }

// Moves the key focus inside the array for key 39 (backward) or any other
// (forward; 38, and 40 which becomes 38), from where frame (the array's
// frame) stands: the array itself (level 2), one of its parts (level 0,
// index: the part's position) or a cell (level 3).  The way runs through the
// index displays (8002, when part 30 shows) and then the visible cells row
// by row, wrapping at the ends; the target gets action 15 with its whole
// text selected.  Action must be 15.  The reply with 1 and without 0x800.
QX_EXTERN_C int32 ArrayFocusNav(ObjHeap heap, int32 array, void* frame, int32 reply, ActionParams* params,
                                int32 action);

// Sends the action to the array's element for the cell that frame (the
// array's frame, level 3) names, the element's frame following it.  When the
// cell is not the one shown, or for action 15 while the panel has no key
// focus and the element is no Array, Cluster or RefNum, the element moves to
// the cell (cells are its rectangle, one pixel wider on each side with the
// array's flag 0x40000), the cell becomes the shown one and the element
// shows the cell's value (the default element beyond the data).  While the
// element answers, PanelInsideArray names the array.  The element's reply;
// 16 for a cell outside the visible grid or an array without an element.
QX_EXTERN_C int32 ArrayEltDoit(ObjHeap heap, int32 array, void* frame, int32 action, ActionParams* params);
QX_EXTERN_C int32 PanelInsideArray();
// Sets the inside-an-array global (the array whose element answers a click).
void SetPanelInsideArray(int32 array);

// After an index display changed (params name it: its order is the
// dimension): the reply without 8, and when that dimension's size differs
// between the sizes copied aside and the new ones (one per dimension of the
// array's type), the array is redrawn and 0x10000 added.
QX_EXTERN_C int32 ArrayIndexChanged(ObjHeap heap, int32 array, ActionParams* params, int32 reply,
                                    const int32* savedSizes, const int32* newSizes);

// ---- Menus, ring item lists, colour ramps and edited strings ------------------------

// The pop-up menus of a numeric's format mark and of a path's browse button,
// built from the run-time resource file's string lists of the same ids
// (string 1 the title, string k + 1 the item of key k); the caller disposes
// the menu.  Null when the list cannot be read or memory is short.
constexpr int32 kRadixMenuId = 57, kPathValidityMenuId = 77;
enum : int32 { kRadixDecimal = 1, kRadixHex = 2, kRadixOctal = 3, kRadixBinary = 4 };
enum : int32 { kPathValid = 1, kPathNotAPath = 2 };
// The radix menu for the numeric: floating-point types (and, with an
// assertion, types outside 1 to 30) disable the three integer radixes and
// check "Decimal" only for the floating decimal format -2; other types
// check the item of the format less 0x40 (0x40 checks "Decimal" as 0x41
// does).
QX_EXTERN_C MenuHandle NumRadixMenuSetup(ObjHeap heap, int32 numeric);
// The path validity menu: "Valid Path" checked for a path value, "Not a
// Path" otherwise.
QX_EXTERN_C MenuHandle PathMenuSetup(ObjHeap heap, int32 path);

// The ring's item list (word 15 names its entry in the data space, word 16
// the entry's descriptor): a handle of a 32-bit count and one word per item,
// bit 0 set for a disabled item.  Null unless the entry is the ring's and
// the handle is live and holds its count of words.
QX_EXTERN_C UHandle ObjItemData(ObjHeap heap, int32 ring);
// Inserts a cleared item word at the index (pinned to 0 .. count) or
// deletes the one at it (pinned to 0 .. count - 1); the index, or -1
// without a list, with nothing to delete, or when the change failed.
QX_EXTERN_C int32 RingInsertDeleteItem(ObjHeap heap, int32 ring, int32 index, Bool32 insert);

// What the colour-ramp routines read of a scale object, answered by the
// controls (filled at start-up): its value and pixel ends, the data offset
// of its record, its marker table (a count, then {float64 value, uInt32
// colour} ascending) and the colours below and above the table.
struct PanelScaleInfo {
  float64 min, max;
  int16 pixelStart, pixelEnd;
  int32 dataOffset;
  UHandle markers;
  uInt32 lowColour, highColour;
};
struct PanelScaleHooks {
  // False (nothing written) when the scale has no record.
  Bool32 (*scaleInfo)(ObjHeap heap, int32 scale, PanelScaleInfo* info) = nullptr;
  void (*mapPixelsToValues)(ObjHeap heap, int32 dataOffset, int32 numType, const int16* pixels, int32 pixelStride,
                            int32 count, void* values, int32 valueStride) = nullptr;
  void (*scaleValueToPixelPinned)(ObjHeap heap, int32 dataOffset, int32 numType, const void* value,
                                  int16* pixel) = nullptr;
  void (*knobValueToPoint)(ObjHeap heap, int32 dataOffset, int32 numType, int32 radius, const void* value,
                           Point* point) = nullptr;
  // The area of the scale's ticks and labels (each when asked for).
  void (*scaleGetPartsRect)(ObjHeap heap, int32 scale, Rect* rect, Bool32 withLabels, Bool32 withTicks) = nullptr;
};
// Installs the hooks (null members keep their defaults); the former set.
PanelScaleHooks SetPanelScaleHooks(const PanelScaleHooks& hooks);
const PanelScaleHooks& PanelScale();

// Scale object flag bits the colour routines read: colours stepped, not
// interpolated, between markers; the strip drawn in 254 value steps.
constexpr uInt32 kRampNoInterpolation = 0x80000, kRampStepped = 0x100000;
// The colour of the value in the scale's marker table: the low colour
// below the first marker, the high colour above the last (the last's own
// when equal), else interpolated between the two markers around it (or the
// lower one's).  24 bits.  A table whose count passes its bytes is empty:
// the low colour.
QX_EXTERN_C uInt32 PanelLookupValue(ObjHeap heap, int32 scale, float64 value);
// Draws the scale's colour strip (its part): nothing for a hidden part (0);
// else the part framed in its colour and, inside, the colours of the values
// along the scale; 1.  Draws into the current port.
QX_EXTERN_C int32 ScaleFrameMarker(ObjHeap heap, int32 scale, int32 part);

// Stores the edited text of the string's text part into its data handle and
// answers the reply without 0x40 and with 8 (16 added when the string has
// no string data).  A text part with flag 0x1000000 shows backslash codes:
// each is stored as the byte it stands for and the string shows its value
// again (sized anew in its window).
constexpr uInt32 kTextFlagBackslash = 0x1000000;
QX_EXTERN_C int32 StringTextToData(ObjHeap heap, int32 string, int32 textPart, TRecord text, int32 reply);
