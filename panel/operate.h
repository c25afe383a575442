// Operate-mode methods of panel objects: the click (message 7) and do-it
// (message 8) methods of Booleans, cosmetics and labels, with the codes they
// share.  A click method answers what kind of interaction follows and
// writes its object's frame of the transaction path; a do-it method carries
// one step of that interaction out and answers reply bits.
//
// Objects come from VI files: frame indexes, part lists, item lists and
// active indexes are checked against their counts before use.
// User-interface thread only.
#pragma once
#include "panel/objects.h"
#include "panel/replyfilters.h"
#include "panel/transact.h"

// Click modes of the click record (TransactionState::mode): bit 0 asks for
// the cursor; labels take 6 as a press and 7 as a cursor query.
enum : int32 {
  kClickPopup = 0, kClickPress = 2, kClickCursor = 3, kClickLabelPress = 6, kClickLabelCursor = 7,
  kClickDropTest = 22,
};
// Click answers.
enum : int32 {
  kClickNotHit = 0, kClickAbsorbed = 1, kClickCursorAnswer = 2, kClickPopupReady = 4, kClickTrack = 14,
  kClickOperate = 15, kClickDropOnLabel = 34,
};
// Reply bits of the do-it methods.
enum : int32 {
  kReplyTracking = 0x1, kReplyChanged = 0x8, kReplyFailed = 0x10, kReplyCommitted = 0x40, kReplyRedraw = 0x80,
  kReplyModified = 0x100, kReplyRedrawAll = 0x400, kReplyPassFocus = 0x800, kReplyConsumed = 0x4000,
  kReplyKeyUsed = 0x100000,
};
// Actions of the do-it methods.
enum : int32 {
  kActPopupChoice = 4, kActColourChange = 6, kActTextDrop = 12, kActTrack = 14, kActOperate = 15,
  kActTextDragOver = 34,
};
// Tracking and key sub-events (ActionParams::eventCode).
enum : int32 { kSubPress = 1, kSubRelease = 2, kSubMove = 3, kSubEnd = 5, kSubKeyDown = 6, kSubKeyRepeat = 7 };
// Object flags operate mode reads (word 0).
enum : uInt32 {
  kOpFlagPointCursor = 0x4, kOpFlagLocked = 0x400, kOpFlagNoPopup = 0x800, kOpFlagHiddenOrDisabled = 0x288,
  kBoolActAtRelease = 0x40000, kBoolTrackPressed = 0x10000, kBoolKeepAtRelease = 0x20000,
};
// Owner mode bits (the owning VI's flags word 2): labels 10 and 11 may not
// be edited; a drag over any label part is tested as a drop.
constexpr uInt32 kOwnerModeNoLabelEdit = 0x4000000;

// The cursor overlay of the action record: a rectangle in words 3 and 4,
// a region in word 5, the cursor id in word 6 (0 the standard cursor, 11
// the text cursor, -1 the text's own).
enum : int32 { kCursorStandard = 0, kCursorText = 11, kCursorTextOwn = -1 };
struct CursorAnswer {
  Rect rect;
  int32 region;
  int32 cursor;
};
inline CursorAnswer* CursorOf(ActionParams* p) { return reinterpret_cast<CursorAnswer*>(&p->eventCode); }

// Answer 12 asks the containers on the path to record themselves: the
// outermost one that finds no owner recorded (word 3) records itself there
// and, when the request's flags word asks for it (bit 0), sets bit 3 and
// writes its rectangle.
constexpr int32 kClickRecordOwner = 12;
enum : int32 { kRecordWantsRect = 0x1, kRecordHasRect = 0x8 };
struct RecordOwnerWords {
  int32 owner;
  int32 flags;
  Rect rect;
};
inline RecordOwnerWords* RecordOf(ActionParams* p) { return reinterpret_cast<RecordOwnerWords*>(&p->eventCode); }

// The type definition whose glyph part a click or action is passing
// through, when it is linked (0: none); labels inside it are not editable.
// Set and restored by the data display methods.
QX_EXTERN_C void SetEnclosingTypeDef(int32 typeDef);
QX_EXTERN_C int32 EnclosingTypeDef();

// The object whose parts a click or action is passing through (0: none).
void SetInsideControl(int32 object);
int32 InsideControl();
// The bounds of the last part whose do-it asked for its redraw.
Rect LastChangedPartRect();

// The picture control under the mouse, as its click records it (point,
// modifiers, heap, object); forgotten when a click over the panel finds no
// picture.
struct PictureUnderMouseRecord {
  Point point;
  int32 modifiers;
  ObjHeap heap;
  int32 object;
};
PictureUnderMouseRecord PictureUnderMouse();

// The panel root's do-it: the panel-level actions (21, 24, 25, 26, 32, 55,
// 60) go to every top-level object; a key bound to a control becomes its
// read-back key (42) on the control's path; others follow the frame to the
// child (level 1), the controller (level 3) or the panel itself (level 2:
// Tab into the controller list, 42 and 43 reset the values); a passed-on
// focus moves to the next controller; failures show the memory alert and
// modifications are reported.  An unknown action prints "supcodoit
// action=...?" and answers 0.
QX_EXTERN_C int32 PanelODoitMethod(ObjHeap heap, int32 root, TransactionFrame* frame, int32 action,
                                   ActionParams* params);
// PanelODoitMethod past its own checks, for a caller that has just made the
// same ones: not a panel-level action, the root a used block holding an
// object's leading fields, the params given, the frame and the one after it
// on the stack.  knownChild, when not 0, is the object the frame's index
// names in the root's object list (a frame of level 1), found there and
// checked as the do-it checks it, with the heap unchanged since.
int32 PanelODoitChecked(ObjHeap heap, int32 root, TransactionFrame* frame, int32 action, ActionParams* params,
                        int32 knownChild);
// The panel root's click: its top-level objects front-most first, then
// the panel itself as the target.
QX_EXTERN_C int32 PanelOClickMethod(ObjHeap heap, int32 root, TransactionState* click, TransactionFrame* frame,
                                    ActionParams* params);
// The click and do-it of every data display object: the part under the
// mouse, the object as the target; disabled objects absorb clicks; the
// do-it goes on to the part (level 0) or takes keys, pop-up choices and
// control operations at the object (level 2).
QX_EXTERN_C int32 DDOOClickMethod(ObjHeap heap, int32 object, TransactionState* click, TransactionFrame* frame,
                                  ActionParams* params);
QX_EXTERN_C int32 DDOODoitMethod(ObjHeap heap, int32 object, TransactionFrame* frame, int32 action,
                                 ActionParams* params);
// DDOODoitMethod past its own checks, for a class's do-it that has just
// made the same ones: not a panel-level action, the object a used block
// holding an object's leading fields, the params given, the frame and the
// one after it on the stack.
int32 DDOODoitChecked(ObjHeap heap, int32 object, TransactionFrame* frame, int32 action, ActionParams* params);
// A picture records itself as the picture under the mouse (a cursor
// answer one pixel at the point); a type definition's glyph adds the
// type definition's pop-up; a grouper walks its parts as a data display
// object does and refuses its pop-up when locked (answer 3).
QX_EXTERN_C int32 PictureOClickMethod(ObjHeap heap, int32 picture, TransactionState* click,
                                      TransactionFrame* frame, ActionParams* params);
QX_EXTERN_C int32 TypeDefOClickMethod(ObjHeap heap, int32 typeDef, TransactionState* click,
                                      TransactionFrame* frame, ActionParams* params);
QX_EXTERN_C int32 GrouperOClickMethod(ObjHeap heap, int32 grouper, TransactionState* click,
                                      TransactionFrame* frame, ActionParams* params);
QX_EXTERN_C int32 GrouperODoitMethod(ObjHeap heap, int32 grouper, TransactionFrame* frame, int32 action,
                                     ActionParams* params);
// A dialog's user item tells the dialog's window of a click (event 33) and
// of an action (34, not after a failure) and answers what the window's
// handler leaves in the event's answer word.
QX_EXTERN_C int32 UserItemOClickMethod(ObjHeap heap, int32 item, TransactionState* click, TransactionFrame* frame,
                                       ActionParams* params);
QX_EXTERN_C int32 UserItemODoitMethod(ObjHeap heap, int32 item, TransactionFrame* frame, int32 action,
                                      ActionParams* params);
// A string: a click on its text (part 11) makes it the text to focus, one
// on its button (43) is absorbed; a press on a text that takes presses goes
// straight to editing; keys at the string go on to its text (a typed line
// feed enters when the text says so); a committed text is stored in the
// string's data.
QX_EXTERN_C int32 StringOClickMethod(ObjHeap heap, int32 string, TransactionState* click, TransactionFrame* frame,
                                     ActionParams* params);
QX_EXTERN_C int32 StringODoitMethod(ObjHeap heap, int32 string, TransactionFrame* frame, int32 action,
                                    ActionParams* params);
// A tag control: the string's methods, and a press on its list button (79)
// pops the installed tag names; a chosen name becomes its text, stored in its
// data and shown at once.
QX_EXTERN_C int32 TagODoitMethod(ObjHeap heap, int32 tag, TransactionFrame* frame, int32 action,
                                 ActionParams* params);
// The panel's edit commands (action 45 of its root: the command in word 3,
// 4 Cut, 5 Copy, 7 Clear; 6 Paste goes to the clipboard's paste) and the
// pop-up menu's "Cut Data" (124) and "Copy Data" (125).  Without a panel
// clipboard the command beeps; reply 0.  With a key focus, Cut and Copy
// leave the focus's selected text in a label of the clipboard panel, its
// only selected object (kind 4), and on the system clipboard; Clear deletes
// it and touches neither clipboard.  Otherwise the panel's selected objects
// are copied into the clipboard panel (kind 1; 5 when all are cosmetics or
// labels; 2 for a connector pane of a VI of kind 2 or 4); 124 and 125 copy
// them with their data, trimmed to the selected block and cleaned of
// password texts (kind 6, or 7 outside a front-panel heap), and 124 then
// cuts the block from the source.  A picture of copied objects goes onto
// the system clipboard.  Bit 0x10 of the reply: memory ran out (the
// clipboard is then empty, kind 0).
QX_EXTERN_C int32 DoDataOperation(ObjHeap heap, int32 command);
// Moves the clipboard's contents to the origin; with publish and a source
// window, draws them into a recorded picture put on the system clipboard;
// makes the panel's bounds stale, moves the contents back and re-fits and
// invalidates a shown clipboard window.
QX_EXTERN_C void ClipboardFinishCopy(ObjHeap clip, WindowRef source, Bool32 publish);
// Whether "Paste Data" may act on the object (one that operates on clicks,
// no container): a text clipboard into a string, or into a numeric when the
// text reads as a number of its type in its format (a paste as text); a
// clipboard of panel data into an object of a compatible type.
QX_EXTERN_C Bool32 PasteDataEnabled(ObjHeap heap, int32 object);
// "Paste Data": a text replaces the object's text as if typed and committed
// (reply 1); panel data goes through PasteControlData.
QX_EXTERN_C int32 PasteDataToObject(ObjHeap heap, int32 object);
// Pastes the source control's data (kind 1 default or 2 operate) into the
// object, made the only selected object meanwhile (the selection restored
// afterwards), and shows it: the paste's reply, with 0x10 and 0x1000 of the
// re-fit that follows.
QX_EXTERN_C int32 PasteControlData(ObjHeap heap, int32 object, ObjHeap source, int32 control, int32 dataKind);
// Paste: a text clipboard (kind 4) goes into the key-focus object (key code
// 32 carrying the clipboard label's text record); 0 with nothing to paste.
QX_EXTERN_C int32 PasteFromPanelClipboard(ObjHeap heap);
QX_EXTERN_C int32 PasteTextToFocus(ObjHeap heap, ObjHeap clip, int32 object, int32 kind);
// The system clipboard changed (kind 1): its text, when it holds one,
// becomes the panel clipboard's text (ImportClipboardText, which takes over
// the data-zone handle: a label at (50, 50) of the clipboard panel, its only
// selected object, kind 4; nothing and kind 0 when that cannot be made).
QX_EXTERN_C void ImportExternalClipboard(int32 kind);
QX_EXTERN_C void ImportClipboardText(LStrHandle text);
// A data controller hands clicks and actions to the object it wraps.
QX_EXTERN_C int32 DCOOClickMethod(ObjHeap heap, int32 dco, TransactionState* click, TransactionFrame* frame,
                                  ActionParams* params);
QX_EXTERN_C int32 DCOODoitMethod(ObjHeap heap, int32 dco, TransactionFrame* frame, int32 action,
                                 ActionParams* params);
// The connector pane is never hit and does nothing.
QX_EXTERN_C int32 ConnPaneOClickMethod(ObjHeap heap, int32 pane, TransactionState* click, TransactionFrame* frame,
                                       ActionParams* params);
QX_EXTERN_C int32 ConnPaneODoitMethod(ObjHeap heap, int32 pane, TransactionFrame* frame, int32 action,
                                      ActionParams* params);

// The methods: the Boolean's do-it; the click and do-it of cosmetics,
// labels and multi-line labels.
QX_EXTERN_C int32 BooleanODoitMethod(ObjHeap heap, int32 object, TransactionFrame* frame, int32 action,
                                     ActionParams* params);
QX_EXTERN_C int32 CosmeticOClickMethod(ObjHeap heap, int32 object, TransactionState* click,
                                       TransactionFrame* frame, ActionParams* params);
QX_EXTERN_C int32 CosmeticODoitMethod(ObjHeap heap, int32 object, TransactionFrame* frame, int32 action,
                                      ActionParams* params);
QX_EXTERN_C int32 LabelOClickMethod(ObjHeap heap, int32 object, TransactionState* click, TransactionFrame* frame,
                                    ActionParams* params);
QX_EXTERN_C int32 LabelODoitMethod(ObjHeap heap, int32 object, TransactionFrame* frame, int32 action,
                                   ActionParams* params);
QX_EXTERN_C int32 MultiLabelOClickMethod(ObjHeap heap, int32 object, TransactionState* click,
                                         TransactionFrame* frame, ActionParams* params);
QX_EXTERN_C int32 MultiLabelODoitMethod(ObjHeap heap, int32 object, TransactionFrame* frame, int32 action,
                                        ActionParams* params);
// The drop test of a label: a text part worked at run time under a drag
// of exactly one text item (the drag record in the action record's words 3
// to 9) shows the drop caret at the point, records the label as the
// drag's result and ends the path at it: 34.  Anything else: 0.
QX_EXTERN_C int32 LabelDropText(ObjHeap heap, int32 label, TransactionFrame* frame, ActionParams* params,
                                Point point);

// Moves the key focus through the panel's controllers (Tab order), or
// given a container's frame through its elements: from the one the frame
// names (a panel frame of level 1 is turned into level 3), forward, or
// backward with Shift (0x2), wrapping; the focus is released before each
// step and the next one is sent action 15 with the whole selection, until
// one does not pass the focus on or the walk is back at the start.  0, or
// for a list of one that controller's reply; keys 42 and 43 move nothing.
// The frame and the three after it must lie on the transaction stack.
QX_EXTERN_C int32 FPNextKeyFocus(ObjHeap heap, TransactionFrame* frame, ActionParams* params);

// The click and do-it methods of operate mode for the class table; null
// for other classes.
ObjMethodAddr OClickMethodFor(int32 cls);
ObjMethodAddr OperateDoitMethodFor(int32 cls);
