// Alerts: the message boxes of the system with one to three buttons, the
// layout that fits an alert to its message, and the filter that turns the
// operator's answer into the chosen button.
//
// An alert answers through the events a dialog's filter sees: the cancel
// event (Escape or the close box) or a committed change of a button item.
// Without windows the answer comes from the platform's alert source (an
// installed answering procedure or the QX_ALERT_ANSWERS script); when
// neither speaks, the alert's default button is taken.
#pragma once
#include <cstddef>

#include "engine/datatype.h"
#include "mgsource/extcode.h"
#include "mgsource/rects.h"
#include "mgsource/window/wevent.h"

// Value types of item values and of the alert message (1..14 the numerics,
// below).
enum DlgValueType : int32 {
  kDlgBooleanValue = 33,
  kDlgLStrValue = 48,
  kDlgCStrValue = 52,
  kDlgPStrValueType = 53,
  kDlgString37Value = 55
};

// Dialog events as a dialog's filter sees them, and the committed bit of an
// item change's result flags.
enum DlgItemEvent : WEventCode { kDlgEvItemChange = 30, kDlgEvItemClick = 31, kDlgEvItemKey = 32, kDlgEvCancel = 36,
                                 kDlgEvQuit = 37, kDlgEvItemHelp = 41 };
constexpr int32 kDlgResultCommitted = 0x8;

// A dialog filter that handles nothing: 0 for every event.  The same
// routine is exported under a second name for external code.
QX_EXTERN_C int32 DlgDefaultProc(const WEventRecord* event, void* dialog, int32 userData);

// The alert dialogs of the run-time resource file.
enum : int32 { kNoButtonAlertId = 2299, kOneButtonAlertId = 2300, kTwoButtonAlertId = 3400,
               kThreeButtonAlertId = 6308 };
constexpr int32 kAlertWindowKind = 13;

// The two-button alert: value type (52 CStr, 53 PStr, 48 string handle),
// message, the buttons' texts (null: the resource's), the default button
// (1 or 2; another is reported and button 1 is used), the position
// (-32768: the default).  1 when button 1 ended it, 0 otherwise (button 2,
// Escape, the close box).
QX_EXTERN_C int32 TwoButtonAlert(int32 type, const void* message, ConstPStr button1, ConstPStr button2,
                                 int32 defaultButton, int32 h, int32 v);
// The three-button alert: the button that ended it, 1 to 3; Escape and the
// close box give 3.
QX_EXTERN_C int32 ThreeButtonAlert(int32 type, const void* message, ConstPStr button1, ConstPStr button2,
                                   ConstPStr button3, int32 defaultButton, int32 h, int32 v);

// The alert filter's choice for one event: 3 for the cancel event, the item
// of a committed item change, else 0 (no choice).
int32 AlertChoice(const WEventRecord& event);
// The message's bytes in one of the three value types (empty for another
// type or no message).
struct AlertText {
  const char* bytes;
  int32 length;
};
AlertText AlertMessageBytes(int32 type, const void* message);

// The layout of an alert: the buttons' sizes (0 to 3 of them), the text's
// rectangle as a text record sized to it reads it (top 0, left 0), a
// procedure that sets the text record to a rectangle and reads back the one
// it then takes, and the screen holding the point (10, 10).
struct AlertLayoutInput {
  int32 buttons;
  int16 buttonWidth[3];
  int16 buttonHeight[3];
  Rect text;
  Rect (*rewrap)(void* context, const Rect& bounds);
  void* context;
  Rect screen;
};
// Where everything goes: the text part's rectangle (as sized, before it is
// placed), the point its top-left moves to, each button's top-left, and the
// dialog's rectangle (top 0, left 0).
struct AlertLayout {
  Rect text;
  Point textAt;
  Point buttonAt[3];
  Rect dialog;
};
// False for a button count outside 0..3 (reported).
bool FitAlertLayout(const AlertLayoutInput& in, AlertLayout* out);

// Fills the two- and three-button alerts of the VI search's services
// (the file functions' alert is filled with the shell's file services).
void ShellInstallAlertHooks();

// ---- Dialogs and their items ---------------------------------------------------------
// A dialog is named by its panel heap: a front-panel heap whose extension
// holds the dialog's window, filter and user data.  Every call that takes a
// dialog from outside first checks it is a live front-panel heap; a bad
// dialog, item or value type is reported and changes nothing.
typedef UHandle DialogRef;
typedef int32 (*DlgFilterProc)(const WEventRecord* event, DialogRef dialog, int32 userData);

// True for a live front-panel heap; false, reported, for anything else.
bool DlgIsLiveDialog(DialogRef dialog);
// The dialog's fields (0 or null for a dialog that is not live).
uInt32 DlgWindow(DialogRef dialog);
DlgFilterProc DlgFilter(DialogRef dialog);
int32 DlgUserData(DialogRef dialog);
// Stores the word handed to the filter.
QX_EXTERN_C void DlgSetData(DialogRef dialog, int32 userData);

// The number of items: the entries of the root's item list.
int32 DlgItemCount(DialogRef dialog);
// The item's controller (the list entry); 0, reported, for an item outside
// 1..count.
QX_EXTERN_C int32 DItemToDCOId(DialogRef dialog, int32 item);
// The item whose controller is the object; 0, reported, when none is.
QX_EXTERN_C int32 DCOIdToDItem(DialogRef dialog, int32 object);
// The item that shows the object at that index of the panel's z-order (its
// controller, or the display object a controller shows); 0 when none.
QX_EXTERN_C int32 ZPlaneIndexToDItem(DialogRef dialog, int32 index);
// The item holding the key focus (its controller or the display object a
// controller shows is the panel's focus object); 0 when none does.
QX_EXTERN_C int32 DlgGetKbdFocus(DialogRef dialog);
// A step of an object reference as panel paths hold it.
struct DlgObjRef {
  int32 object;
  uInt32 kind;
  int32 mode;   // 1 a z-order index, 3 an item index (from 0)
  int32 index;
};
static_assert(sizeof(DlgObjRef) == 16 && offsetof(DlgObjRef, mode) == 8, "object reference step");
// The item a reference names: mode 1 through the z-order, mode 3 the index
// plus 1; 0 for other modes and for an index that names no item.
QX_EXTERN_C int32 DlgObjRefToDItem(DialogRef dialog, const DlgObjRef* ref);

// The value types of item values and the descriptor each converts through:
// 1..14 the numerics (17..30 the same, bit 16 ignored), 33 a Boolean, 48 a
// string handle, 52 a C string and 53 a Pascal string (both handled as
// bytes, descriptor of a string), 55 a 0x37 string.  Null, reported, for a
// code outside the table.
const TypeDescriptor* DlgValueTypeTD(int32 type);

// ---- Item values, states, focus, key slots, senders, rings and listboxes ----------------
#include "mgsource/objheap.h"
// Each call below first checks the dialog (a live front-panel heap), the
// item (1..count) and the value type; a bad one is reported and the call
// changes nothing: value calls answer 16, the others 0 (or kArgErr where
// they answer an error code).
constexpr int32 kDlgValueFailed = 16, kDlgValueResized = 0x20000;
// The object that shows an item: its list entry, or the display object the
// entry's controller shows; 0, reported, for a bad dialog or item.
int32 DlgItemDisplay(DialogRef dialog, int32 item);

// What the dialogs (their item values, loading, placing and running) ask of
// the object system, which the shell does not link: one table filled at
// start-up by the program.  Null members: no part is found, no value
// address, nothing is displayed, sized, moved, measured or redrawn, no font
// or help part is given, nothing is rebound, the focus does not move, rings
// are left alone, no Boolean is tracked and a listbox neither scrolls nor
// draws its scroll bar, nor are its entries changed.
struct DlgPanelServices {
  int32 (*findPart)(ObjHeap heap, int32 object, int32 partId, int32 order);
  int32 (*getDataPtr)(ObjHeap heap, int32 object, int32 part, int32 mode, UHandle* handle);
  uInt32 (*getType)(ObjHeap heap, int32 object);  // the object's TypeID
  int32 (*displayVal)(ObjHeap heap, int32 object, int32 flags, const void* value);
  int32 (*size)(ObjHeap heap, int32 object, const Rect* rect, int32 partId);
  void (*inval)(ObjHeap heap, int32 object, int32 level);
  MgErr (*commitKeyFocus)(ObjHeap heap);
  MgErr (*releaseKeyFocus)(ObjHeap heap);
  // Sends the panel's root the set-focus command for the control of the
  // index (item - 1) with the text selection, inside a pushed frame naming
  // the root ("FPSC", kind 2); the panel's answer.
  int32 (*setKeyFocus)(ObjHeap heap, int32 index, int32 object, int32 start, int32 end);
  void (*rebindTransferEntry)(ObjHeap heap, int32 controller);
  int32 (*setPartText)(ObjHeap heap, int32 part, const uChar* text, int32 length, int32 keyCode,
                       int32 modifiers);
  MgErr (*ringInsertItem)(ObjHeap heap, int32 ring, ConstPStr text, const void* record, int32 index,
                          Bool32 disabled);
  MgErr (*ringRemoveItem)(ObjHeap heap, int32 ring, int32 index);
  MgErr (*ringSetItemText)(ObjHeap heap, int32 ring);
  int32 (*isBoolTracking)(ObjHeap heap, int32 object);
  // The rows the listbox's top row moves by to bring the entry into view.
  int32 (*listScrollBy)(ObjHeap heap, int32 listbox, int32 index);
  void (*listDrawScrollBar)(ObjHeap heap, int32 listbox);
  // The listbox's own item operations: the entry array resized (new
  // entries empty, the texts of dropped ones released; the memory error)
  // and an entry's flags normalised.  Null: the entries are not changed.
  MgErr (*listSetItemCount)(ObjHeap heap, int32 listbox, int32 count);
  void (*listFixItemFlags)(void* entry);
  int32 (*offset)(ObjHeap heap, int32 object, Point by);
  int32 (*getRect)(ObjHeap heap, int32 object, Rect* rect, int32 kind);
  // The font of a text part's text with one reference for the caller, 0
  // for none.
  int32 (*partFont)(ObjHeap heap, int32 part);
  // A described item's help parts: the first of parts 82 and 16 made
  // transparent, a hidden one taking a Boolean's common text.
  void (*helpPartsTransparent)(ObjHeap heap, int32 object);
};
void DlgSetPanelServices(const DlgPanelServices& services);
const DlgPanelServices& DlgServices();

// Sets the item's value from a value of the type: the display's result
// flags (16: the value cannot be converted, the item unchanged; 0x20000:
// the item was resized to its new text).
QX_EXTERN_C int32 DlgSetCtrlVal(DialogRef dialog, int32 item, int32 type, const void* value);
// Shows the object's value through the display service, drawn into the
// dialog's window (its port set up meanwhile); 0 without a window.
int32 DlgDisplayVal(DialogRef dialog, int32 object, const void* value);
// Reads the item's value as the type: 0 or the conversion's error.  Type
// 53 is cut at 255 characters; type 52 writes all bytes and a NUL, so the
// caller's buffer must hold the whole text; type 48 resizes the caller's
// handle (a null one is made).
QX_EXTERN_C int32 DlgGetCtrlVal(DialogRef dialog, int32 item, int32 type, void* value);
// All four texts of a Boolean item become the one text.
QX_EXTERN_C void DlgSetBoolText(DialogRef dialog, int32 item, ConstPStr text);
QX_EXTERN_C void DlgHideControl(DialogRef dialog, int32 item);
QX_EXTERN_C void DlgShowControl(DialogRef dialog, int32 item);
// State 0 enabled, 1 disabled, 2 greyed and disabled; the state the item
// had.  Another state changes nothing.
QX_EXTERN_C int32 DlgGrayControl(DialogRef dialog, int32 item, int32 state);
QX_EXTERN_C void DlgSetStringItemFlag(DialogRef dialog, int32 item, int32 on);
// The item takes the key focus with the selection (0 to 0x7fffffff: all);
// 0 when it has it already, else the panel's answer.
QX_EXTERN_C int32 DlgSetKbdFocus(DialogRef dialog, int32 item, int32 start, int32 end);
// The item bound to the key slot (0..54; 0 the default button), 0 when
// none; the bound object through object (optional).
int32 DlgKeyNavItem(DialogRef dialog, int32 slot, int32* object);
QX_EXTERN_C void DlgSetKeyNavItem(DialogRef dialog, int32 item, int32 slot);
// The dialog events the panel code sends (items 30, 31 and 32), to the
// dialog window's handler; panels that are no dialogs send nothing.  The
// click and key senders answer the handler's answer.
void DlgItemChangeToFilter(ObjHeap heap, int32 object, int32 result, int32 action, void* record);
int32 DlgItemClickToFilter(ObjHeap heap, int32 object, int32 clickCode, void* record);
int32 DlgItemKeyToFilter(ObjHeap heap, int32 object, void* frames, void* block);
// Event 41 for the key-focus item with the caller's word.
QX_EXTERN_C int32 DlgSendItemHelp(DialogRef dialog, int32 word);
// The ring item's description used as a format for its texts joined by the
// separator: 0, or 2 when memory is short.
QX_EXTERN_C MgErr DlgSetRingHelpText(DialogRef dialog, int32 item, const char* separator);
QX_EXTERN_C MgErr DlgRingInsertItem(DialogRef dialog, int32 item, ConstPStr text, const void* record, int32 index,
                                    Bool32 disabled);
QX_EXTERN_C MgErr DlgRingRemoveItem(DialogRef dialog, int32 item, int32 index);
QX_EXTERN_C MgErr DlgRingClear(DialogRef dialog, int32 item);

// Listbox items: the data holds the top row (16 bits), the last
// double-clicked entry (16 bits, -1 none) and the entries (count, then per
// entry a flag word, a glyph and a text handle).  Entry flags: bits 0 and 2
// together disabled, bit 1 selected, the top byte the caller's.
enum : uInt32 { kListEntryDisabled = 0x5, kListEntrySelected = 0x2 };
QX_EXTERN_C MgErr DlgInsertListItem(DialogRef dialog, int32 item, int32 index, ConstPStr text, int32 glyph);
QX_EXTERN_C MgErr DlgInsertListItemEx(DialogRef dialog, int32 item, int32 index, ConstPStr text, int32 glyph,
                                      int32 topByte);
QX_EXTERN_C MgErr DlgReplaceList(DialogRef dialog, int32 item, const CPStr* texts, UHandle glyphs);
QX_EXTERN_C MgErr DlgReplaceListItem(DialogRef dialog, int32 item, ConstPStr oldText, ConstPStr newText,
                                     int32 glyph);
QX_EXTERN_C MgErr DlgDeleteList(DialogRef dialog, int32 item);
QX_EXTERN_C MgErr DlgDeleteListItem(DialogRef dialog, int32 item, ConstPStr text);
QX_EXTERN_C int32 DlgFindListItem(DialogRef dialog, int32 item, ConstPStr text);
QX_EXTERN_C void DlgEnableListItem(DialogRef dialog, int32 item, int32 index, int32 on);
QX_EXTERN_C int32 DlgGetListItemGlyph(DialogRef dialog, int32 item, int32 index);
QX_EXTERN_C int32 DlgGetListItemCount(DialogRef dialog, int32 item);
QX_EXTERN_C int32 DlgGetListItemText(DialogRef dialog, int32 item, int32 index, LStrHandle* text);
QX_EXTERN_C void DlgSetListItemGlyph(DialogRef dialog, int32 item, int32 index, int32 glyph);
QX_EXTERN_C int32 DlgGetSelectedListItem(DialogRef dialog, int32 item, int32* index, LStrHandle* text);
QX_EXTERN_C int32 DlgSetSelectedListItem(DialogRef dialog, int32 item, int32 index, int32 scroll);
QX_EXTERN_C int32 DlgGetDoubleClickListItem(DialogRef dialog, int32 item, int32* index);
QX_EXTERN_C void DlgSyncListScrollBar(DialogRef dialog, int32 item);
// The last double-clicked entry, left as it is; -1 for none.
int32 DlgListDoubleClickIndex(DialogRef dialog, int32 item);

// Registers these calls at their run-time table indexes.
MgErr QXRTRegisterDialogItems();

// ---- Loading, placing, running and ending dialogs -----------------------------------
#include "mgsource/objheap.h"
#include "mgsource/rsrc.h"

// Coordinates of -32768 ask for the default position: centred across the
// work area, a third of the free height down, inside the window's frame.
constexpr int32 kDlgDefaultPos = -32768;
// The object flag of a hidden item.
constexpr uInt32 kDlgItemHidden = 0x8;
// Return without these modifiers is shown to a filter as this key code.
constexpr int32 kDlgReturnModifiers = 0x203, kDlgReturnKeyCode = 2;

// Whether the calling thread may make and run dialogs: the thread that
// started the window system (any thread before it started).
bool DlgOnUIThread();
// A new dialog: its VI (kind 0) and panel heap, and a hidden window of the
// kind at the rectangle (screen coordinates) with the VI window's event
// procedure; the filter (null: none) and the word handed to it.  Null when
// anything cannot be made or the caller is another thread (nothing is left
// behind).
QX_EXTERN_C DialogRef DlgCreate(const Rect* rect, ConstPStr title, int32 kind, DlgFilterProc filter, int32 userData);
// A dialog built from the 'DLG2' block of the id, with the item
// descriptions of the 'DHLP' resource of the same id (none is no error; a
// bad one is reported and the items go without).  Null when the block is
// missing or bad or a description cannot be stored.
QX_EXTERN_C DialogRef DlgLoad(RsrcFileRef file, int32 id, ConstPStr title, int32 kind, DlgFilterProc filter,
                              int32 userData);
// Closes the window and disposes the dialog VI with its panel: 0, or 1 for
// a dialog that is not live or a panel of a VI that is no dialog (reported,
// nothing disposed).
QX_EXTERN_C MgErr DlgUnload(DialogRef dialog);
// Takes the rectangle (null: the panel's bounds at the stored origin) as
// the window's, stores its top-left as the origin and sizes the visible
// rectangle to the content; the panel bounds go stale.
QX_EXTERN_C void DlgSize(DialogRef dialog, const Rect* rect);
// Moves the window's top-left to (h, v); -32768 for either takes the
// default position's.
QX_EXTERN_C void DlgMove(DialogRef dialog, int32 h, int32 v);
// The default position (v, h) of a window of the kind and content size.
Point DlgDefaultPosition(uInt32 kind, int32 width, int32 height);
// Shows the window (drawn at once when update is set); hides it.
QX_EXTERN_C void DlgShow(DialogRef dialog, int32 update);
QX_EXTERN_C void DlgHide(DialogRef dialog);
// Runs the dialog modally on a nested main loop until its quit event; the
// outer dialog, with its focus item, runs again after.  The code given to
// DlgQuit for this dialog.  Without a screen,
// the loop answers for the operator: the default button (key-navigation
// slot 0) once, then the cancel event, each delivered as the panel would;
// a dialog that still stands is ended.
QX_EXTERN_C int32 DlgBoxLoop(DialogRef dialog);
// Whether the loops answer for the operator (no screen to show them on).
bool DlgAnswersForTheOperator();
// The answer the dialog's next loop gives for the operator in place of its
// default button (alerts take theirs from the platform's alert source).
void DlgAnswerNextLoop(DialogRef dialog, const WEventRecord& answer);
// One turn of the main loop that does not wait, with the dialog (may be
// null) as the current one; whether the turn had a message.
QX_EXTERN_C int32 DlgBoxStep(DialogRef dialog);
// Ends the dialog's loop with the code: the quit event goes to the dialog's
// window, taken at any nesting level, and ends that dialog's loop only.
QX_EXTERN_C void DlgQuit(DialogRef dialog, int32 result);
// The dialog's share of its window's events: the filter first; close and
// Escape of a dialog VI become the cancel event, shown to the filter again;
// the quit event hides the window and ends the loop.  1 when handled.
QX_EXTERN_C int32 DlgFilterVIEvents(WEventRecord* event, DialogRef dialog);
// Shows a key event to the filter, a plain Return as key code 2 (put back
// when the filter left it); the filter's answer.
int32 DlgFilterKey(WEventRecord* event, DialogRef dialog);
// Redraws the item when the window is visible and the item not hidden.
QX_EXTERN_C void DlgRefresh(DialogRef dialog, int32 item);
// Moves the item by the offset (invalidated before and after); the panel
// bounds go stale.
QX_EXTERN_C void DlgMoveItem(DialogRef dialog, int32 item, Point offset);
// The item's rectangle of a kind; an empty one for a bad dialog or item.
QX_EXTERN_C int32 DlgGetItemRect(DialogRef dialog, int32 item, int32 kind, Rect* rect);

// Lays an alert out: the buttons (items 1 to buttons) in a row under the
// message (the next item), the message's text wrapped to a pleasant shape
// within the screen, and the dialog sized around them.
QX_EXTERN_C void DlgFitAlertText(DialogRef dialog, int32 type, const void* message, int32 buttons);
