// The listbox control: a scrolling list of text items, each optionally with
// a small symbol and an indent, some separators or not selectable.  Its value
// is the selection: one item index, or an array of the selected indexes.
// The items, the top row and the activated item live in the panel data;
// the flags and geometry in the object.  User-interface thread only.
#pragma once
#include <cstddef>

#include "mgsource/objheap.h"
#include "mgsource/extcode.h"
#include "mgsource/draw/dcolor.h"

// One item of the list, in the panel data.
// Named with :: below: a fixture tool has a function of the same name.
struct ListboxItem {
  uInt32 flags;   // ListboxItemFlags; bits 24-31 the indent level
  uInt32 symbol;  // low 16 bits signed: 0 none, 1-36 built in, 1000 up loaded, negative a separator
  UHandle text;   // a counted string (32-bit length, then the characters)
};
static_assert(sizeof(void*) != 4 || (sizeof(::ListboxItem) == 12 && offsetof(::ListboxItem, symbol) == 4 &&
                                     offsetof(::ListboxItem, text) == 8),
              "listbox item");

enum ListboxItemFlags : uInt32 {
  kLbItemDisabled = 0x1,
  kLbItemSelected = 0x2,
  kLbItemUnselectable = 0x4,
  kLbItemCaret = 0x8,
  kLbItemSeparator = 0x10,
  kLbItemIndentShift = 24,
};

// The listbox's flag word (object word 13).
enum ListboxFlags : uInt32 {
  kLbSelNeverEmpty = 0x1,   // the mouse and the space bar never empty the selection
  kLbSelSeveral = 0x2,      // several items may be selected
  kLbSelModeMask = 0x3,
  kLbClickDeselects = 0x4,
  kLbDragReorder = 0x8,
  kLbKeysCaseSensitive = 0x10,
  kLbKeysCaseInsensitive = 0x20,
  kLbTallSymbolRows = 0x400,
  kLbSymbolActivates = 0x800,
  kLbShowSymbols = 0x1000,
  kLbArrayValue = 0x2000,
  kLbNoScrollBar = 0x4000,
  kLbLargeSymbols = 0x8000,
};

// Object words and fields of the listbox.
enum : int32 {
  kLbTypeWord = 9, kLbDataWord = 10, kLbTextWord = 12, kLbFlagsWord = 13,
  kLbRowHeightByte = 56, kLbRowsByte = 58, kLbListPart = 26,
};

// The listbox data in the panel data: top row, activated item, item array
// handle (a 32-bit count, then the items).  Read through the byte helpers
// of lb:: below, never by casting the panel data.
struct ListboxData {
  int16 top;
  int16 activated;  // -1 none
  UHandle items;
};
enum : int32 { kLbDataTop = 0, kLbDataActivated = 2, kLbDataItems = 4, kLbDataSize = 8 };
static_assert(sizeof(void*) != 4 || (sizeof(ListboxData) == kLbDataSize && offsetof(ListboxData, top) == kLbDataTop &&
                                     offsetof(ListboxData, activated) == kLbDataActivated &&
                                     offsetof(ListboxData, items) == kLbDataItems),
              "listbox data");

// Replies.
enum : int32 {
  kLbReplyFollow = 0x1, kLbReplyChanged = 0x8, kLbReplyFailed = 0x10, kLbReplyState = 0x10000,
  kLbReplyInvalidated = 0x20000,
};

// Sets the item's flags from its symbol: a separator is not selectable; a
// normal item is selectable unless disabled.
QX_EXTERN_C void ListboxFixItemFlags(::ListboxItem* item);
// The number of items carrying any bit of mask and the first of them (-1 none).
QX_EXTERN_C int32 ListboxCountFlag(ObjHeap heap, int32 listbox, uInt32 mask, int32* first);
QX_EXTERN_C int32 ListboxGetSelection(ObjHeap heap, int32 listbox, int32* first);
QX_EXTERN_C int32 ListboxGetCaret(ObjHeap heap, int32 listbox, int32* first);
// Keeps the top row within 0..count - rows; the change.
QX_EXTERN_C int32 ListboxPinTopItem(ObjHeap heap, int32 listbox);
// The change of the top row that shows the item by the mode (0-3 only when
// it is hidden, 4-6 always; 0 nearest edge, 1 and 4 centred, 2 and 5 at the
// top, 3 and 6 at the bottom).  data: the listbox data, or null for its own.
QX_EXTERN_C int32 ListboxScrollToItem(ObjHeap heap, int32 listbox, int32 item, int32 mode, void* data);
// Sets the items' selected flags from the value (null: the default); true
// when any changed.  redraw: changed rows are redrawn.
QX_EXTERN_C int32 ListboxApplySelection(ObjHeap heap, int32 listbox, void* value, int32 redraw);
// Writes the selection into the value: 8 when it changed, 16 when the array
// could not grow.  value, data null: the listbox's own.
QX_EXTERN_C int32 ListboxStoreSelection(ObjHeap heap, int32 listbox, void* value, void* data);
// Resizes the item array (new items empty, dropped items' texts freed) and
// pins the top row; the memory error.
QX_EXTERN_C MgErr ListboxSetItemCount(ObjHeap heap, int32 listbox, int32 count);
// The item found by a typed prefix (-1 without selectable items).
QX_EXTERN_C int32 ListboxFindPrefix(ObjHeap heap, int32 listbox, const uChar* prefix, int32 length,
                                    int32 caseSensitive);
// One key: the key code and character of the event; operating false for an
// indicator that only scrolls.  The reply.
QX_EXTERN_C int32 ListboxKey(ObjHeap heap, int32 listbox, int32 keyCode, int32 character, int32 operating);
// Moves the selected items to the drop position p (0..count); the reply.
QX_EXTERN_C int32 ListboxMoveSelected(ObjHeap heap, int32 listbox, int32 p);
// The image number of a built-in symbol (1-36); 0 for any other.
QX_EXTERN_C int32 ListboxSymbolImage(int32 n);
// Reads the loaded symbols, icon families of ids base, base + 1, ... of the
// run-time resource file up to the first missing one; a memory error
// releases every image read.  Symbol 1000 + k is the family base + k.
QX_EXTERN_C MgErr InitListboxSymbols(int32 base);
void ListboxDisposeSymbols();
int32 ListboxLoadedSymbolCount();
// The image of a loaded symbol (1000 and up); 0 beyond the table.
int32 ListboxLoadedSymbol(int32 n);
// Redraws the rows and the scroll bar when the listbox and its list are
// shown and drawing is not deferred; else invalidates the list.
QX_EXTERN_C void ListboxSyncScrollBar(ObjHeap heap, int32 listbox);

// Drawing.  The list and scroll-bar rectangles (whether the bar is shown);
// a row's boxes; a row's text and background colours by its flags and the
// draw mode (1 highlight, 2 and 4 exchanged); one row; rows first..last of
// the visible ones; the bar and the visible rows; one row redrawn (or
// invalidated where the list defers); the redraw after the top row moved;
// every part; the class's draw method.
struct ListboxRowBoxes {
  Rect row, symbol, text, margin;
};
QX_EXTERN_C int32 ListboxListRects(ObjHeap heap, int32 listbox, Rect* list, Rect* bar);
void ListboxRowLayout(ObjHeap heap, int32 listbox, const uChar* data, int32 row, ListboxRowBoxes* out);
QX_EXTERN_C void ListboxRowColors(ObjHeap heap, int32 listbox, uInt32 itemFlags, int32 drawMode, DColor* text,
                                  DColor* back);
void ListboxDrawRow(ObjHeap heap, int32 listbox, const uChar* data, int32 row, int32 drawMode);
void ListboxDrawItem(ObjHeap heap, int32 listbox, const uChar* data, int32 item, int32 drawMode);
QX_EXTERN_C void ListboxDrawContents(ObjHeap heap, int32 listbox, void* data, int32 first, int32 last, int32 drawMode);
QX_EXTERN_C void ListboxDrawScrollBar(ObjHeap heap, int32 listbox, int32 drawMode, int32 withScrollBar);
QX_EXTERN_C void ListboxRedrawItem(ObjHeap heap, int32 listbox, void* data, int32 item);
QX_EXTERN_C void ListboxScrollTo(ObjHeap heap, int32 listbox, int32 withScrollBar);
// The redraw after the top row moved from oldTop: the visible rows, and of
// the scroll bar what moved (the listbox shown as after ListboxSyncScrollBar).
void ListboxRedrawScrolled(ObjHeap heap, int32 listbox, int32 oldTop);
QX_EXTERN_C void ListboxDrawParts(ObjHeap heap, int32 listbox, const void* value, int32 drawMode);
QX_EXTERN_C int32 ListboxODrawMethod(ObjHeap heap, int32 listbox, const void* value, int32 pass, int32 mode);
// The selection frame (flags 0x10: framed).
QX_EXTERN_C int32 ListboxOFrameSelMethod(ObjHeap heap, int32 listbox, ObjHeap port, int32 offset, int32 flags);

// The class's do-it method (keys on the listbox itself; everything else
// the data display object's) and its entry in the class records.
struct ActionParams;
struct TransactionFrame;
QX_EXTERN_C int32 ListboxODoitMethod(ObjHeap heap, int32 listbox, TransactionFrame* frame, int32 action,
                                     ActionParams* p);
void ControlsJoinListboxSlots();
struct PopupMsgRecord;
struct TransactionState;
QX_EXTERN_C int32 ListboxOClickMethod(ObjHeap heap, int32 listbox, TransactionState* click, TransactionFrame* frame,
                                      ActionParams* p);
QX_EXTERN_C int32 ListboxOPopupMethod(ObjHeap heap, int32 listbox, PopupMsgRecord* rec);
// The row height from the text's font (at least 14 or 18 with symbols);
// 128 when the list area was resized to whole rows.  The text column laid
// out beside the symbols; 1 when it moved.
QX_EXTERN_C int32 ListboxCalcRowHeight(ObjHeap heap, int32 listbox);
QX_EXTERN_C int32 ListboxLayoutParts(ObjHeap heap, int32 listbox);
// Fills the object system's row-height hook.
void ControlsInstallListboxHooks();

// The mouse on the list: a press (event code 1 or 19), moves while the
// button is down (3, 4) and the release (2) at the point; the reply.  One
// tracking step, and the scroll bar's.
QX_EXTERN_C int32 ListboxMouse(ObjHeap heap, int32 listbox, int32 eventCode, Point where, int32 modifiers);
QX_EXTERN_C int32 ListboxTrack(ObjHeap heap, int32 listbox, Point where, int32 press, int32 release);
QX_EXTERN_C int32 ListboxTrackScrollBar(ObjHeap heap, int32 listbox, Point where, int32 eventCode);
// Whether the point lies on the symbol box of the row under it.
QX_EXTERN_C int32 ListboxPtInSymbol(ObjHeap heap, int32 listbox, Point where);

// Test support: the type-ahead state cleared.
void ListboxResetTypeAhead();

namespace lb {
// The listbox's data in the panel data, checked to lie whole inside the
// data space; null for none.
uChar* Data(ObjHeap heap, int32 listbox);
// The item array's handle when its count lies inside it, with the count.
UHandle Items(const uChar* data, int32* count);
inline ::ListboxItem* Item(UHandle items, int32 i) {
  return reinterpret_cast<::ListboxItem*>(*items + 4) + i;
}
int16 Top(const uChar* data);
void SetTop(uChar* data, int32 top);
int16 Activated(const uChar* data);
void SetActivated(uChar* data, int32 item);
uInt32 Flags(ObjHeap heap, int32 listbox);
void SetFlags(ObjHeap heap, int32 listbox, uInt32 flags);
int32 Rows(ObjHeap heap, int32 listbox);
bool IsListbox(ObjHeap heap, int32 listbox);
// The value's address (null for none).
void* Value(ObjHeap heap, int32 listbox);
// The drop position of a drag under way on the listbox; -1 none.
int32 DropPosition(int32 listbox);
// The selected and caret items known from the last walk are forgotten:
// called after a change of item flags made without these routines.
void ForgetMarks();
}  // namespace lb
