// The option words of a VI's panel window follow the VI's state: the run
// commands place the window again whenever a state change can change them.
#pragma once
#include "engine/vi/dataspace.h"
#include "mgsource/objheap.h"
#include "mgsource/window/window.h"

// The global window-option mode (0, 1 or 2), set by the loader and the shell.
void SetWindowOptionMode(int32 mode);
int32 WindowOptionMode();

// The panel's two window option words for the VI's kind and state; the
// first is stored as the panel heap's first option word.
QX_EXTERN_C void GetPanelWindowOptions(ObjHeap panel, uInt16* first, uInt16* second);
// Applies the option words to the panel's window; nothing for a panel
// without a window.
QX_EXTERN_C void PlacePanelWindow(ObjHeap panel);
// The run commands' placement: the VI's panel; with no VI (the last running
// VI stopped), every loaded VI whose panel window is open and whose panel
// heap has flag bit 23 loses that bit and is placed again.
void PlaceVIPanelWindow(UHandle vi);

// The panel's menu bar: the VI's run-time menu while it runs, else the
// system's menu bar 2 (kind 0), 5 or, with bit 16 of the first option word,
// 4 (kind 2), 4 (other kinds).  A changed choice is stored in the panel heap
// and the window's menu bar redrawn.
QX_EXTERN_C void UpdateVIMenuBar(ObjHeap panel);
// Invalidates the menu-bar area of the VI's window less its bottom line,
// after the menu-setup event when the window is active.
QX_EXTERN_C void InvalVIMenuBar(UHandle vi);
// Redraws one tool-bar slot of the VI's window under the window's clip:
// the one route of every slot redraw (the panel routines' too).
QX_EXTERN_C void UpdateToolbarButton(UHandle vi, int32 image, int32 state);

// The menu bars a panel heap names (kHeapExtMenuBar): the system's, by
// number, or the VI's own run-time menu.
enum : uInt32 { kMenuBarRunTime = 1, kMenuBarDialog = 2, kMenuBarPlain = 4, kMenuBarPanel = 5 };
// Bits of the first option word: the window's parts, and how it is placed.
enum : uInt16 {
  kWindowPartToolBar = 8,
  kWindowPartMenuBar = 16,
  kWindowOptionCentred = 32,
  kWindowOptionFill = 64,
};
// Bit 21 of the panel heap's flag word: a frame part is being tracked (the
// clip belongs to the tracking code).
constexpr uInt32 kPanelHeapTracking = 0x200000;

// What the VI window (the shell) does for placement and retrieval mode.  A
// member left null answers as a window without tool bar, menu bar or scroll
// bars: the window is the content, there is no menu bar to redraw and no
// slot or record field to draw.
struct VIWindowHooks {
  // VIWindContentToWindow and VIWindWindowToContent for the part flags (the
  // first option word).
  void (*contentToWindow)(int32 parts, const Rect* content, Rect* window);
  void (*windowToContent)(WindowRef window, int32 parts, const Rect* windowRect, Rect* content);
  void (*disposeRgnCache)(ObjHeap panel);  // VIWindDisposeRgnCache
  // The menu bar's and the tool bar's rectangles (local); empty for none.
  void (*menuBarRect)(ObjHeap panel, Rect* rect);
  void (*toolBarRect)(ObjHeap panel, Rect* rect);
  // Draws the tool-bar slot that shows the image, in draw mode state (0
  // plain, 1 pressed, 2 greyed), in the current port (UpdateToolbarButton).
  void (*drawToolbarSlot)(UHandle vi, int32 image, int32 state);
  void (*updateCursor)(ObjHeap panel);
  void (*refreshLogIndicator)(UHandle vi);
  // The tool bar's record-number field: made when the VI has none (with the
  // text), emptied, given a text (all of it selected, the field active and
  // redrawn), and disposed (deactivated first).
  void (*createRecordField)(UHandle vi, const Rect* bounds, ConstPStr text);
  void (*clearRecordField)(UHandle vi);
  void (*setRecordField)(UHandle vi, ConstPStr text);
  void (*disposeRecordField)(UHandle vi);
};
void SetVIWindowHooks(const VIWindowHooks* hooks);
const VIWindowHooks& VIWindow();

// Defaults of a panel that shows the VI's own options only while it runs.
constexpr uInt16 kWindowOptionsDefault = 31, kWindowOptions2Default = 60;
constexpr uInt16 kWindowOptions2Kind1 = 14;
// Bit 23 of the panel heap's flag word: the panel keeps its options placed.
constexpr uInt32 kPanelHeapKeepsOptions = 0x800000;
