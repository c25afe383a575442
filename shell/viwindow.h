// The VI window's geometry around its content and what retrieval mode shows
// in its tool bar: the record-number field and the deletion-mark display.
// The state is kept per VI here; the tool bar's drawing reads it.
#pragma once
#include <string>

#include "mgsource/extcode.h"
#include "mgsource/draw/dport.h"
#include "mgsource/objheap.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"

// The window's part flags: the first window option word.
enum : int32 {
  kVIWindHScroll = 1, kVIWindVScroll = 2, kVIWindIconPane = 4, kVIWindToolBar = 8, kVIWindMenuBar = 16,
};
// The tool bar's height, and with the icon pane and no own menu bar.
constexpr int32 kToolBarHeight = 21, kToolBarIconHeight = 34;
constexpr int32 kIconPaneWidth = 35;
// The horizontal scroll bar's height and the vertical one's width: the
// system metrics, at least 8 pixels.
int32 VIWindHScrollHeight();
int32 VIWindVScrollWidth();

// The window rectangle that holds the content with the tool bar, the own
// menu bar and the scroll bars the part flags ask for, and its inverse.
QX_EXTERN_C void VIWindContentToWindow(int32 parts, const Rect* content, Rect* window);
QX_EXTERN_C void VIWindWindowToContent(WindowRef window, int32 parts, const Rect* windowRect, Rect* content);
// The tool bar's and the own menu bar's rectangles of the panel's window
// (local coordinates): 1 when the part exists and is not empty, else 0 with
// an empty rectangle.
QX_EXTERN_C int32 VIWindStatePanelRect(ObjHeap panel, Rect* rect);
QX_EXTERN_C int32 VIWindMenuBarRect(ObjHeap panel, Rect* rect);
// The menu bar the panel's window shows (null for none), its rectangle in
// *rect when the window offers it in place, else an empty one.
MenuHandle VIWindMenuBar(ObjHeap panel, Rect* rect);
// The icon pane (at least 35 pixels wide, its height from the tool bar and
// the own menu bar) placed from the panel's content rectangle, and the
// 32 x 32 icon inside it; the answer is the icon-pane flag (1 when the
// window has one).  Either rectangle may be null.
QX_EXTERN_C int32 VIWindIconPaneRect(ObjHeap panel, Rect* pane, Rect* icon);
// The scroll bars (they overlap the content's edge by one pixel) and the
// size box (window option 16, or either scroll bar); 1 when the part exists
// and is not empty.
QX_EXTERN_C int32 VIWindHScrollRect(ObjHeap panel, Rect* rect);
QX_EXTERN_C int32 VIWindVScrollRect(ObjHeap panel, Rect* rect);
QX_EXTERN_C int32 VIWindGrowBoxRect(ObjHeap panel, Rect* rect);
constexpr uInt16 kVIWindSizeBoxOption = 16;
// The panel's cached bounds (heap extension words 16 and 17), recomputed
// first when header flag 0x400000 marks them stale; null for a heap without
// an extension.  VIWindInvalBounds marks them stale: it fills the object
// system's PanelInvalBounds.
QX_EXTERN_C Rect* PanelGetBounds(ObjHeap panel);
void VIWindInvalBounds(ObjHeap panel);
// The bounds a dialog is built and sized to: the panel's bounds computed
// afresh (empty without an extension).  It fills the dialog builder's
// bounds hook.
void DlgPanelGetBounds(ObjHeap panel, Rect* bounds);
constexpr uInt32 kPanelBoundsStale = 0x400000;
// The region cached in the root object (word 16), rebuilt first when none is
// cached or the root's flag 0x80000 asks for it.
QX_EXTERN_C DRgn PanelGetRgn(ObjHeap panel, int32 root);
// Disposes the region cached in the root object of a front-panel heap
// (other heap kinds are left alone).
QX_EXTERN_C void VIWindDisposeRgnCache(ObjHeap panel);
// The root object's word that holds the cached region.
constexpr int32 kRootRegionWord = 16;
// The root object's flag word (its first) asks for the region to be rebuilt.
constexpr uInt32 kRootRebuildRgn = 0x80000;

// The event procedure of every VI window (its reference word is the panel
// heap); 0 when the window did not take the event.
QX_EXTERN_C int32 VIWindEventProc(WEventRecord* event, uInt32 panel);
// Scrolls the content by an offset: the window's origin follows, the panel
// is redrawn and its bounds marked stale.  Nothing for (0, 0).
QX_EXTERN_C void VIWindScrollBy(ObjHeap panel, int32 dh, int32 dv);
// The step of a scroll-bar tracker's answer (arrows 32 at most, pages the
// visible size, a thumb position in the low 30 bits, bit 30 horizontal),
// never past either end, for position p, visible v and total t; horizontal
// tells the step's direction.
int32 VIWindScrollStep(int32 answer, int32 p, int32 v, int32 t, bool* horizontal);
// The cursor and the window's idle region for a point (null: no point).
QX_EXTERN_C void VIWindTrackCursor(ObjHeap panel, const Point* point, int32 modifiers);
// The one keyboard handler of the system: mode 1 installs (0; 1 when one is
// installed already, which stays), mode 0 removes (0; 1 when none is
// installed), another mode does nothing (0).  The handler gets the key event
// and its reference word and answers non-zero when it handled the key.
typedef int32 (*VIKeyboardHandler)(WEventRecord* event, int32 refcon);
QX_EXTERN_C int32 SetKeyboardHandlerProc(int32 mode, VIKeyboardHandler proc, int32 before, int32 refcon);
// The debug keys (with QXdebugKeys on and Ctrl held): 1 when the key was one.
int32 VIWindDebugKey(const WEventRecord* event);
// The debug key that toggles the manager checks and what it last set.
Bool32 VIWindManagerChecksOn();

// What the VI window asks of the object system, the dialogs, the menus and
// the tool bar, filled at start-up.  A null member does nothing and answers
// 0 (no dialog filter, no menu command taken, the menu bar never blocked, no
// region rebuilt, an empty object rectangle).
struct VIWindHooks {
  int32 (*panelEvent)(WEventRecord* event, ObjHeap panel);     // the transactions
  int32 (*drawPanel)(ObjHeap panel);
  int32 (*handleKey)(WEventRecord* event, ObjHeap panel);      // the key focus
  MgErr (*releaseKeyFocus)(ObjHeap panel);
  MgErr (*commitKeyFocus)(ObjHeap panel);
  MgErr (*stashText)(ObjHeap panel, int32 object);
  int32 (*objectRect)(ObjHeap panel, int32 object, Rect* rect, int32 kind);  // OGetRect
  void (*markInRect)(ObjHeap panel, int32 root, DRgn region);  // message 21: collects the region
  int32 (*keyNavItem)(ObjHeap panel, int32 slot, int32* object);
  void (*redrawDefaultButton)(ObjHeap panel);
  int32 (*dialogFilter)(WEventRecord* event, ObjHeap panel);   // the dialogs' part of every event
  int32 (*setupMenus)(ObjHeap panel);
  int32 (*menuCommand)(int32 menu, int32 item, ObjHeap panel, WindowRef window);
  int32 (*appMenuCommand)(int32 menu, int32 item, int32 modifiers);
  Bool32 (*rtmTrackingBlocked)(UHandle vi);
  void (*rtmQueueSelection)(UHandle vi, int32 menu, int32 item);
  MenuHandle (*rtmMenuBar)(UHandle vi);  // the VI's run-time menu bar, null for none
  void (*rtmRefreshLinkedItems)(WindowRef window, MenuHandle bar);
  int32 (*handleLMenuEvent)(WEventRecord* event, MenuHandle bar, const Rect* rect);
  int32 (*popUpLMenu)(MenuHandle bar, const Rect* rect, Point at, int32* menu, int32* item, int32* modifiers);
  void (*drawMenuBar)(MenuHandle bar, const Rect* rect);
  void (*aboutBox)();
  void (*helpFollowUp)(ObjHeap panel);                         // the context help follows the panel
  void (*setCursor)(int32 number);
  void (*statePnlDraw)(const Rect* bar, ObjHeap panel);
  int32 (*statePnlClick)(const Rect* bar, WEventRecord* event, ObjHeap panel);
  void (*statePnlHover)(WEventRecord* event, ObjHeap panel);
  void (*statePnlTipTimer)(ObjHeap panel);
  void (*statePnlTipPoll)(ObjHeap panel);
  void (*moveRecordField)(UHandle vi, int32 dh, int32 dv);
  int32 (*recordFieldKey)(WEventRecord* event, ObjHeap panel);  // retrieval mode's keys
};
// Sets the hooks; the former ones are returned (tests put them back).
VIWindHooks VIWindSetHooks(const VIWindHooks& hooks);
const VIWindHooks& VIWindHooksInUse();
// The retrieval display of a VI in retrieval mode: the record-number field
// (a text record, its rectangle relative to the tool bar; text and
// selection as read from it), and the record shown.
struct RecordField {
  Rect bounds;
  TRecord record;
  std::string text;
  bool allSelected, active;
  bool edited;   // the number was typed since its record was shown
  bool stamped;  // a record (with its time stamp) is shown
  int32 mark;    // the shown record's deletion mark
  bool timed = false;  // the shown record has a time stamp: its seconds
  uInt32 secs = 0;
};
// False when the VI has no field.
bool VIRecordField(UHandle vi, RecordField* out);
int32 VIRecordFieldCount();
// The operator's typing in the field: its new text, marked edited.
void VIRecordFieldEdit(UHandle vi, ConstPStr text);
// The field's record was changed in place (a key, a selection): redrawn,
// and marked edited when asked.
void VIRecordFieldChanged(UHandle vi, bool edited);

// The log name offered when a VI has no log path: its name with the
// extension ".log" in place of its own.
void DefaultLogName(UHandle vi, PStr name);

// Fills the engine's VI-window hooks and the VI window's part of the
// datalog hooks; called at start-up.
void ShellInstallVIWindowHooks();
