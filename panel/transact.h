// Transactions and the key focus: a panel event becomes a path of frames
// from the panel's root down to the acting object, on the one transaction
// stack, with an action record that travels down it; keys reach the panel's
// one key-focus object inside the frames saved when it took the focus.
// User-interface thread only: the stack, the state block and the focus
// globals are plain globals.
#pragma once
#include "mgsource/draw/dregion.h"
#include "mgsource/path.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wevent.h"
#include "panel/objects.h"

// ---- The transaction state and the stack ----------------------------------------------
// The stack's block seen as its 250 frames.
typedef TransactionFrame TransactionStack[kTransactionStackBytes / sizeof(TransactionFrame)];
static_assert(sizeof(TransactionStack) == kTransactionStackBytes, "the stack holds whole frames");

// The state block: the mode, the event's local point word, its modifiers and
// the stack top.  TRPanelEvent saves the first three and puts them back on
// every exit; OClick methods receive the block's address.
struct TransactionState {
  int32 mode;
  int32 point;
  int32 modifiers;
  void* top;
};
static_assert(sizeof(void*) != 4 || sizeof(TransactionState) == 16, "transaction state: four words");
// A click method that puts the transaction in the grabber mode has the
// panel's view dragged with the mouse.
enum : int32 { kTRModePopup = 0, kTRModeMouseDown = 2, kTRModeTracking = 3, kTRModeGrabber = 10, kTRModeWheel = 26 };
TransactionState* TRState();

// The one writer of frames on the stack: count frames copied to at, which
// must lie on a frame boundary of the block with all of them inside it.
// 1 when written; 0, with an assertion and nothing written, otherwise.
QX_EXTERN_C int32 TRWriteFrames(void* at, const TransactionFrame* frames, int32 count);
// A frame written at at and the path ended after it (two frames).
QX_EXTERN_C int32 TRPutFrame(void* at, int32 object, uInt32 kind, int32 mode, int32 index);
// Whether count frames from at lie on the stack, at a frame boundary.
inline bool TRFramesLie(const void* at, int32 count) {
  const auto* block = reinterpret_cast<const TransactionFrame*>(TRStackBlock());
  const auto* f = static_cast<const TransactionFrame*>(at);
  return block && count >= 0 && f >= block && (uintptr_t(f) - uintptr_t(block)) % sizeof(TransactionFrame) == 0 &&
         count <= block + kTransactionStackBytes / int32(sizeof(TransactionFrame)) - f;
}
// The count frames written at at and the path ended after them, as count
// TRPutFrame calls one frame after another would (1, or 0 at the first that
// does not fit, with the frames before it written).
int32 TRPutFrames(void* at, const TransactionFrame* frames, int32 count);
// A new path holding the heap's root ({root, "FPSC", 2, 0}, then the end):
// 0 with the previous top in *previous, or 16 (the push asserted; nothing
// changed).
int32 TRPushRootPath(ObjHeap heap, void** previous);

// ---- Actions --------------------------------------------------------------------------
// An action on a panel heap's root inside a transaction (frame null: a root
// path is pushed for it); the result bits: 1 keep tracking, 16 refused or
// failed, 0x480 the panel's bounds changed, 128 an insertion.
QX_EXTERN_C int32 TRSendAction(ObjHeap heap, void* frame, int32 action, void* argument);
QX_EXTERN_C int32 TRSendActionNoTrack(ObjHeap heap, void* frame, int32 action, void* argument);
// An action on a VI without a heap: 53 imports the VI's strings (the
// record's words 3 to 5 in, the error to word 6), 54 nothing, 56 the VI Info
// dialog (word 4 in, the answer to word 3).
QX_EXTERN_C int32 TRSendVIAction(UHandle vi, int32 action, void* argument);
// The panel event handler of a VI window; the click's outcome.
QX_EXTERN_C int32 TRPanelEvent(WEventRecord* event, ObjHeap heap);
// Places a free label at the point (panel coordinates, v low, h high) and
// types the text (a u32 count, then the bytes; disposed here) into it.
QX_EXTERN_C int32 TRPlaceLabel(ObjHeap heap, UHandle text, int32 point);
// The VI's nesting flag: whether it changed.  Setting it on a VI neither
// inside a transaction nor marked by bit 0 asserts (and sets it).
QX_EXTERN_C int32 VISetTransactionNesting(UHandle vi);
QX_EXTERN_C int32 VIClearTransactionNesting(UHandle vi);
// VI record bits of transactions: inside a transaction (flags), nesting
// allowed and the mark that permits setting it (marks), the mode bit
// cleared after an outermost action (flags2).
constexpr uInt32 kVIFlagInTransaction = 0x4000000;
constexpr uInt32 kVIMarkNestingAllowed = 0x40, kVIMarkNestingPermitted = 0x1;
constexpr uInt32 kVIFlags2TransactionMode = 0x10000000;
// Owner mode bits of flags2: a text field outside the panel may be active;
// no key focus handed out; confirm mode (no release may happen in it).
constexpr uInt32 kVIFlags2OutsideText = 0x800, kVIFlags2OwnerMode = 0x80000, kVIFlags2Confirm = 0x400000;

// The action codes this layer sends.
enum : int32 {
  kActCreate = 3, kActMenuChoice = 4, kActColour = 6, kActTrackEvent = 14, kActKeyOrText = 15, kActMenuComplete = 22,
  kActKeyExtra = 45, kActNone = 50, kActImportStrings = 53, kActNothing = 54, kActVIInfo = 56,
};

// Plain-call forms of messages: each passes its arguments as they come.
QX_EXTERN_C int32 OOffsetObj(ObjHeap heap, int32 object, Point by);
QX_EXTERN_C int32 OSizeObj(ObjHeap heap, int32 object, const Rect* rect, int32 partId);
QX_EXTERN_C int32 ODrawPanel(ObjHeap heap);
QX_EXTERN_C int32 ODrawObj(ObjHeap heap, int32 object, int32 a, int32 b, int32 c);
QX_EXTERN_C int32 ODisplayValObj(ObjHeap heap, int32 object, int32 flags, const void* value);

// ---- Services of the display layer ----------------------------------------------------
// The idle region after a hit over an object: the record's region (word
// 5), else its rectangle (words 3 and 4) within the visible rectangle; then
// the cursor (word 6, or the default one for a plain VI).
QX_EXTERN_C void GrabberSetIdleRgn(ObjHeap heap, ActionParams* record);
// An untaken wheel scrolls the panel (panel/panelscroll.h); counted for the
// callers' tests, as are the palette's runs.  Tracking the last path
// segment (counted too) sends action 14 to the object the click recorded as
// dragged, once per tracking event while its reply keeps bit 0; the tracked
// object is cleared at the end.
QX_EXTERN_C int32 PanelWheelScroll(ObjHeap heap, const WEventRecord* event);
// Scrolls the panel by (dh, dv) pixels: the window's contents move, its
// origin and the visible rectangle follow, the uncovered strips are drawn
// again at once.  Nothing for (0, 0).
QX_EXTERN_C void ScrollPanelBy(ObjHeap heap, int32 dh, int32 dv);
QX_EXTERN_C int32 TrackLastPathSeg(ObjHeap heap, ActionParams* record);
QX_EXTERN_C int32 PopUpColorPalette(ObjHeap heap, void* frame, ActionParams* record);
struct PanelDisplayCalls {
  int32 wheelScrolls, pathTracks, palettes;
};
PanelDisplayCalls& PanelDisplayCallCounts();
// The colour tool's current pair (foreground, background) that a colour pick
// applies.
void SetPanelCurrentColours(int32 foreground, int32 background);
void PanelCurrentColours(int32* foreground, int32* background);

// ---- What the shell fills at start-up ----------------------------------------------------
// Until then: the dialog filter takes nothing, the bounds go nowhere, the
// string import and the VI Info dialog answer 1 (not available), no menu is
// tracked or standard, the key-binding table is read from the root's 55
// slots (written by the dialog builder), text entry sets
// and clears the heap's header flag 0x80000, window parts are empty and
// no outside text is active.
struct PanelShellHooks {
  int32 (*dlgSendItemClick)(ObjHeap heap, int32 object, int32 clickCode, ActionParams* record) = nullptr;
  void (*dlgSendItemChange)(ObjHeap heap, int32 object, int32 result, int32 action, void* record) = nullptr;
  int32 (*dlgSendItemKey)(ObjHeap heap, int32 object, void* frames, void* block) = nullptr;
  int32 (*dlgGetKeyNavItem)(ObjHeap heap, int32 slot, int32* object) = nullptr;
  void (*panelInvalBounds)(ObjHeap heap) = nullptr;
  // The shell's ImportVIStrings and VIInfoDialog.
  MgErr (*importVIStrings)(UHandle vi, Path stringFile, uInt8 showAlerts, Path logFile) = nullptr;
  int32 (*viInfoDialog)(UHandle vi, int32 flag) = nullptr;
  int32 (*menuFindTracked)(int32* owner, int32* menuId, int32* position) = nullptr;
  void (*menuReleaseTracked)() = nullptr;
  MenuHandle (*standardMenu)(int32 id) = nullptr;
  void (*statePnlSetTextEntry)(ObjHeap heap, int32 on) = nullptr;
  // The rectangle of a window part (1 vertical, 2 horizontal scroll bar, 4
  // icon pane, 8 tool bar, 16 menu bar): 1 when it exists.
  int32 (*windowPartRect)(ObjHeap heap, int32 area, Rect* rect) = nullptr;
  // Deactivates the text the VI keeps outside its panel (the tool bar's
  // record-number field) when it is active.
  void (*deactivateOutsideText)(UHandle vi) = nullptr;
  // The panel's cached region (the shell's PanelGetRgn): what a cursor
  // answer over the panel itself names.
  DRgn (*panelGetRgn)(ObjHeap heap, int32 root) = nullptr;
  // The object and part the mouse entered, for the tip strip and the help
  // window.
  void (*tipStripSetTarget)(ObjHeap heap, int32 object, int32 part) = nullptr;
};
// Installs the whole set (null members: the defaults); the former set.
PanelShellHooks SetPanelShellHooks(const PanelShellHooks& hooks);
const PanelShellHooks& PanelShell();
// Each through its hook or default.
QX_EXTERN_C void PanelInvalBounds(ObjHeap heap);
void TipStripSetTarget(ObjHeap heap, int32 object, int32 part);
QX_EXTERN_C void StatePnlSetTextEntry(ObjHeap heap, int32 on);
QX_EXTERN_C int32 DlgGetKeyNavItem(ObjHeap heap, int32 slot, int32* object);
QX_EXTERN_C void DlgSendItemChange(ObjHeap heap, int32 object, int32 result, int32 action, void* record);
int32 DlgSendItemClick(ObjHeap heap, int32 object, int32 clickCode, ActionParams* record);
int32 DlgSendItemKey(ObjHeap heap, int32 object, void* frames, void* block);
constexpr uInt32 kHeapFlagTextEntry = 0x80000;

// ---- Key focus --------------------------------------------------------------------------
// The key focus of a panel, in its heap extension: words 4 (the object), 5
// (its text record) and 8 (the handle of the saved frames).
struct KeyFocusState {
  int32 object;
  UHandle text;
  UHandle savedFrames;
};
KeyFocusState PanelKeyFocus(ObjHeap heap);
// The block sent with actions 15 and 45: three words for the receiver, a
// window event, an object or start position and two further positions.  It
// travels down the focus's path as the action record, whose further words
// the receivers read (the text record, the tracking flags): it is as long
// as one, the words after the positions cleared.
struct KeyActionBlock {
  int32 receiver[3];
  WEventRecord event;
  int32 object;
  int32 start;
  int32 end;
  int32 rest[59];
};
static_assert(sizeof(KeyActionBlock) == 300 && offsetof(KeyActionBlock, object) == 52, "key-action block");
// Key codes the focus routes beyond the window manager's.
enum : int32 {
  kKeyExtra1 = 30, kKeyExtra2 = 31, kKeyExtra3 = 32, kKeyRelease = 34, kKeyTab = 38, kKeyShiftTab = 39,
  kKeyCtrlDown = 40, kKeyCtrlUp = 41, kKeyReadBack = 42,
};
// Whether the focus lies on a Boolean; whether a container passed the key
// on during the current key event (it sets the flag).
bool KeyFocusOnBoolean();
void SetKeyContainerFlag();

// Nonzero when the panel used the event (codes 6 and 7 are keys).
QX_EXTERN_C int32 FPHandleKey(WEventRecord* event, ObjHeap heap);
// A text operation (key code 30 cut, 31 copy, 32 paste, 9 clear) sent to
// the key-focus object along its saved path, with text as the record that
// takes the cut or copied text or gives the pasted one; the change goes to
// the dialog filter and, without bit 0 in the answer, the focus ends.  0
// without a focus.
QX_EXTERN_C int32 FPSendTextOperation(ObjHeap heap, int32 keyCode, TRecord text);

// Commits the focus's pending entry (it keeps the focus unless it lets go); 0.
// (Declared with the front panels: FPCommitKeyFocus.)
// Ends the focus: the object gives up its entry (key 34) and the focus
// clears; without a focus an active outside text is deactivated.  0.
QX_EXTERN_C MgErr FPReleaseKeyFocus(ObjHeap heap);
// Moves the focus to the object and its text record; textEntry turns the
// tool bar's text entry on.  The error of saving the frames (the focus is
// then not taken).
QX_EXTERN_C MgErr FPKeyFocusUpdate(ObjHeap heap, int32 object, int32 textEntry, void* text);
QX_EXTERN_C void FPRedrawDefaultButton(ObjHeap heap);
// Brackets drawing into an area of the panel's window (0 content, 1 and 2
// scroll bars, 4 icon pane, 8 tool bar, 16 menu bar); another area asserts
// and clips to an empty rectangle.
struct WPortState;
QX_EXTERN_C void FPBeginWindowPart(ObjHeap heap, int32 area, WPortState* savedPort, Rect* savedClip);
QX_EXTERN_C void FPEndWindowPart(ObjHeap heap, const WPortState* savedPort, const Rect* savedClip);
