// Services the class methods of panel objects share: parts found by role,
// shown and hidden; control labels; ring items; the tracked object and the
// tracked Boolean; cursors by number and the busy cursor; built-in
// pictures.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/textrec.h"
#include "panel/objects.h"

// ---- Parts ----------------------------------------------------------------------------
// Shows (show set) or hides every part with that id that is not already so,
// asking for a redraw before hiding and after showing; 1 when any changed.
QX_EXTERN_C int32 SetPartIdVisible(ObjHeap heap, int32 object, int32 partId, Bool32 show);
// 1 when no visible part has that id.
QX_EXTERN_C int32 PartIdAllHidden(ObjHeap heap, int32 object, int32 partId);
// 1 when some part's key equals key (0 matches nothing).
QX_EXTERN_C int32 ObjHasPartKey(ObjHeap heap, int32 object, int32 key);
// The look (0 or 1) of a part of a data object that shows elements (the
// needles of a knob or slide, the elements of a cluster-typed display).
QX_EXTERN_C int32 IsActiveElementPart(ObjHeap heap, int32 object, int32 part);
// The active-element word of slides and knobs: the order of the needle
// being operated.
constexpr int32 kPWActiveElement = 14;
// The control's label text (part 16), blanks trimmed, in one static buffer;
// a data controller stands for the display object it controls.  Empty
// without a label.
QX_EXTERN_C PStr GetCtrlLabel(ObjHeap heap, int32 control);
// Removes space, backspace, form feed, line feed, return and tab at both ends.
QX_EXTERN_C void PStrTrimLeading(PStr s);
// The text part's text as a PStr of at most 255 characters (empty without one).
QX_EXTERN_C void PartTextToPStr(ObjHeap heap, int32 part, PStr buffer);

// ---- Rings ----------------------------------------------------------------------------
// Inserts an item at index (negative: 0, past the end: appended): its text
// (null: empty) into part 12's list, a record of 20 bytes (null: cleared)
// into part 14's table, and a flag word (bit 0: disabled) into the ring's
// item flags when it has them.  0, 1 for a ring without part 12 or 14, 2
// when memory runs out.
QX_EXTERN_C MgErr RingInsertItem(ObjHeap heap, int32 ring, ConstPStr text, const void* record, int32 index,
                                 Bool32 disabled);
// Removes the item at index (pinned to the items there) from the texts, the
// table and the flags; the previous item becomes current when the current
// one goes.  0, or 1 for a ring without items.
QX_EXTERN_C MgErr RingRemoveItem(ObjHeap heap, int32 ring, int32 index);
// Removes all items of the ring (texts, table records and flags).
QX_EXTERN_C MgErr RingSetItemText(ObjHeap heap, int32 ring);
// Replaces the destination ring's items by copies of the source's.
QX_EXTERN_C MgErr RingSetItems(ObjHeap srcHeap, int32 src, ObjHeap dstHeap, int32 dst);
// The twin of ResizePartObject: the item table 20 bytes smaller without
// the record at index; the part's new offset written back.
QX_EXTERN_C MgErr ShrinkPartObject(ObjHeap heap, int32 ring, int32* part, int32 index);
// Re-creates the ring's item table 20 bytes larger with a new current
// item at index (pinned); the part's new offset written back.
QX_EXTERN_C MgErr ResizePartObject(ObjHeap heap, int32 ring, int32* part, int32 index);
// Places the table's items around the centre of the ring's part 28 (items
// with a picture keep their size; the others become points); the table's
// bounds become the current item's rectangle.
void PlaceRingItems(ObjHeap heap, int32 ring, int32 table);
// The ring's item count: the texts of part 12 when it has them, else part
// 14's records; 0 for a list or table that does not fit its block (reported).
int32 RingItemCountChecked(ObjHeap heap, int32 ring);
// Both counts: part 12's texts and part 14's table (0 for one it lacks).
void RingItemCounts(ObjHeap heap, int32 ring, int32* texts, int32* table);

// ---- Tracking -------------------------------------------------------------------------
// The tracked object becomes (heap, object) when set is not 0; the previous
// one is answered.  A "Boolean" becomes the tracked Boolean, none clears it.
QX_EXTERN_C void SetTrackObject(ObjHeap heap, int32 object, ObjHeap* prevHeap, int32* prevObject, Bool32 set);
// Reads (into *previous) and, when set is not 0, sets the tracking word.
QX_EXTERN_C void TrackState(int32 value, int32* previous, Bool32 set);
// 1 when that object is the tracked Boolean; any thread.
QX_EXTERN_C int32 IsBoolTracking(ObjHeap heap, int32 object);
// Creates (create set) the Boolean-tracking mutex when execution threads
// are on, or destroys it.
QX_EXTERN_C MgErr BoolTrackMutexInit(Bool32 create, Bool32 starting);

// ---- Cursors --------------------------------------------------------------------------
enum : int32 { kCursorCount = 67, kBusyCursorNumber = 34, kCursorImageBase = 20 };
// Where cursor images come from (the application's resource file).
void SetCursorImageFile(RsrcFileRef file);
// The image of cursor n (0 to 66), loaded once: image 20 + n of kind 11,
// cursor 34 the wait cursor (-2); 0 when it cannot be loaded.
QX_EXTERN_C int32 GetCursorImage(int32 number);
// Cursors 0 to 66 by their images (a failed load leaves the cursor as it
// is); any other number goes to the cursor setter as a cursor itself.
QX_EXTERN_C void SetCursorByNumber(int32 number, int32 argument);
// Busy set: 0 on entering the busy state (the deadline 100 ms ahead), then
// 1, and once the deadline passed *cursor is 34 (rechecked every 250 ms).
// Busy clear: whether the busy cursor was reached; the state left.
QX_EXTERN_C int32 BusyCursorState(Bool32 busy, int32* cursor);
// The busy cursor shown after 100 ms of busy calls; the arrow back when it
// ends; then the execution engine's single-step state is stopped.
QX_EXTERN_C void UpdateCursor(Bool32 busy);
// Stops the single-step state of the execution engine: the display side
// keeps none, so there is nothing to do.
QX_EXTERN_C void StopStep();
// The busy state entered at once with the busy cursor shown (printing).
void BusyCursorShowNow();
// start not 0 restarts the interval there; then 1 (and a restart now) when
// more than ms milliseconds have passed since the interval's start.
QX_EXTERN_C int32 IntervalElapsed(uInt32 start, uInt32 ms);

// ---- Built-in pictures ------------------------------------------------------------------
// The picture of a built-in index: 0 for 0; below 9 index 1999 + i, 1000 to
// 1999 index + 7000; a procedural image that asks for it is duplicated.
// The negated final index is in the high 16 bits.
QX_EXTERN_C int32 GetPictIndex(int32 index);
// A built-in reference whose picture is its own copy (made by
// GetPictIndex for a picture that keeps state): the copy's image, else 0.
int32 OwnedBuiltInPict(int32 ref);
// Releases the copy a built-in reference owns; nothing for a shared one.
void ReleaseBuiltInPict(int32 ref);
// The reference a copied object takes: one that owns its copy gets a copy
// of that copy (its state kept); false, with *ref unchanged, when none can
// be made.
bool CopyBuiltInPict(int32* ref);
// The table entry of an index (9-383, 2000-2093, 7000-7028); any other is
// reported and gives 0.
QX_EXTERN_C int32 CheckPictIndex(int32 index);
// Whether an index names a built-in picture (as GetPictIndex maps it),
// without a report: for indexes read from templates.
Bool32 IsBuiltInPictIndex(int32 index);
// Fills a table entry (start-up); 1 for an index outside the tables.
MgErr SetBuiltInPict(int32 index, int32 image);

// ---- Text parts and keys --------------------------------------------------------------
// The text record of a text part (word 9): null when the word names no
// data-zone handle holding a whole record.
TRecord PartTextRecord(ObjHeap heap, int32 part);
// The text record that stands for the clipboard in cutting, copying and
// pasting panel texts (made on first use); disposed at shut-down.
TRecord PanelTextClipboard();
void PanelDisposeTextClipboard();
// The bounds of the last self-sizing text whose entry was committed.
Rect LastChangedBounds();
// The shared do-it of text parts: action record word 3 says what happens
// (1 activate, 3 and 4 tracking, 6 and 7 keys).  The result starts from
// flags with bit 0 (the text keeps the key focus); bit 6 when an entry
// was committed changed.  The record receives the part's text record.
QX_EXTERN_C int32 TextPartDoit(ObjHeap heap, int32 part, ActionParams* params, int32 flags);
// Pastes the text record the action carries (else the clipboard's) into
// text; with label style the pasted run takes the label's font and the
// caret ends after it.
QX_EXTERN_C MgErr TextPartPaste(ActionParams* params, TRecord text, Bool32 draw, Bool32 labelStyle);
// Gives the object's text the key focus with that selection through the
// panel's key action, then scrolls the selection's end and start into view.
QX_EXTERN_C int32 FPSendKeyToObj(ObjHeap heap, int32 object, int32 selStart, int32 selEnd);
// With a key-focus object and a stashed text, sends the revert key (33)
// down the focus's saved path from the object's frame (from the root with
// no object); a stash still left is reported and cleared.
QX_EXTERN_C MgErr HeapStashText(ObjHeap heap, int32 object);

// ---- Ring display, sizes, placement, unit labels ----------------------------------------
// Draws the ring's display part (81) text in its bounds in the menu colours;
// the part out (0 without one).  0.
QX_EXTERN_C int32 RingDrawDisplay(ObjHeap heap, int32 ring, int32* part);
// The width of a one-character text ("0") in the font of the object's part.
QX_EXTERN_C int32 PartTextSize(ObjHeap heap, int32 object, int32 partId);
// The placing step of an inserted cosmetic: sized and drawn; one that takes
// typed text gets the whole selection, event 1 and a path extended to it
// (answer 129); anything else 0.
QX_EXTERN_C int32 PlaceNewObject(ObjHeap heap, int32 owner, int32 object, TransactionFrame* path,
                                 ActionParams* creation);
// Applies the edited text of the object's unit-label record part (8009) to
// the object that record names.
QX_EXTERN_C int32 ObjApplyUnitLabel(ObjHeap heap, int32 object);

// ---- Ring menus -----------------------------------------------------------------------------
struct MenuRecord;
// The ring's text menu, built but not shown: one item per text of part 12
// (each after "__", so that no character reads as a menu mark), the
// current item checked, the items whose flag word has bit 0 disabled, the
// font of part 12 and at least width pixels wide.  Null for a ring without
// a text list that fits its handle, or when memory runs out.
MenuRecord** RingBuildPopupMenu(ObjHeap heap, int32 ring, int32 current, int32 width);
// Runs the ring's text menu beside its display part (81, else its default
// part); with place set, one pixel high below the ring, or above it when the
// work area below holds neither all the items nor five lines.  The chosen
// item (1-based, 0 for none), or 1 for a ring without texts.
QX_EXTERN_C int32 RingPopupMenu(ObjHeap heap, int32 ring, int32 owner, int32 current, Bool32 place);
// The grid menu of a picture ring's table part (14): a cell per record with
// its picture and the text of part 12 when textPart is given, the current
// one marked, cells the size of the largest picture side, columns given or
// else the fewest whose square holds more than five items, one per item for
// five or fewer; one column more when the monitor of the current window
// cannot hold the cells.  Null, with "Too many picts to make menu (>%ld)"
// and a beep, when it still cannot; null
// for a table that does not fit its block or when memory runs out.
QX_EXTERN_C MenuRecord** PictMenuBuild(ObjHeap heap, int32 pictPart, int32 textPart, Point where, int32 columns,
                                       int32 kind, int32 current);
// Pops the picture ring's grid menu up at the point (the current window's
// coordinates), its flagged items disabled: the chosen item, 0 for none.
QX_EXTERN_C int32 RingPictMenu(ObjHeap heap, int32 ring, Point where, int32 current);
