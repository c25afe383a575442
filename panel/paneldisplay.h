// A changed value of a panel object on its way to the screen.
// PanelDisplayValues makes the panel's window the drawing port and sends
// the object oDisplayVal (message 39); the containers' display methods
// (front panel, data controller, cluster, array) pass the value on to the
// objects that show their elements.  A display method compares the new value
// with the old one, draws only the parts that show it, or invalidates them
// when it may not draw in place, and answers reply flags: 0x10 memory ran
// out, 0x80 a part changed size, 0x1000 the value is newly out of range,
// 0x20000 something waits for the window's next update.
//
// Objects and the values they show come from VI files: element lists,
// cells and records are checked against their blocks, handles and the data
// space before anything is read.  User-interface thread only.  Also here:
// the property call of a property node, until the classes' property
// procedures exist.
#pragma once
#include <atomic>
#include "mgsource/extcode.h"
#include "mgsource/objheap.h"
#include "mgsource/prefs.h"
#include "mgsource/window/window.h"
#include "panel/objects.h"

// ---- The display switches ---------------------------------------------------------------
// One of each for the whole system; a method that changes one saves it and
// puts it back before it returns, so a nested display sees its container's.
// gForceDisplay: image, text and ring-item parts show what they are given
// even when they already show it (the array display sets it).
// gDeferDrawing: display methods invalidate instead of drawing (set while a
// greyed object displays).  gDDODrawEnabled: on, but off while the array
// display and drawing step their element through all cells but the last.
// gAllowFocusTextDisplay: a value may be shown in the text the operator is
// editing (dialogs set it around their own value changes).
extern int32 gForceDisplay, gDeferDrawing, gDDODrawEnabled, gAllowFocusTextDisplay;
// Saves a switch, sets it, and puts the saved value back at the end of the
// scope.
class DisplaySwitchScope {
 public:
  DisplaySwitchScope(int32& which, int32 value) : which_(which), saved_(which) { which_ = value; }
  ~DisplaySwitchScope() { which_ = saved_; }
  DisplaySwitchScope(const DisplaySwitchScope&) = delete;
  DisplaySwitchScope& operator=(const DisplaySwitchScope&) = delete;

 private:
  int32& which_;
  int32 saved_;
};
// gFlushDrawing: the configuration key "flushDrawing" (flush the port after
// every display), read through the one preference word the shell fills.
struct FlushDrawingSwitch {
  explicit operator bool() const { return PrefGet(kPrefFlushDrawing) != 0; }
};
inline constexpr FlushDrawingSwitch gFlushDrawing{};

// What the display asks of the layers above, filled at start-up: the
// shell's hidden "Closed" window (the port of panels without a window of
// their own) and the countdown register of the running clump's time slice
// (set to 0 after a display left something for the window's update).
// Until then there is no such window (drawing goes nowhere) and nothing is
// set.
struct PanelDisplayHooks {
  WindowRef (*closedWindow)() = nullptr;
  void (*setCDReg)(int32 ticks) = nullptr;
};
// Installs the hooks (null members keep their defaults); the former set.
PanelDisplayHooks SetPanelDisplayHooks(const PanelDisplayHooks& hooks);
// The window gClosedWindow names: the shell's, 0 without one.
WindowRef PanelClosedWindow();

// ---- Displaying a value ---------------------------------------------------------------------
// Shows a value change of one panel object (a data controller, the front
// panel, or a display object): skipped for a front-panel heap without a
// window that neither always shows its values (heap flag 0x1000000) nor
// belongs to a VI printing at completion; else oDisplayVal is sent with the
// window (or the "Closed" window) as port, its clip the content rectangle
// while a frame part is being tracked.  A reply with 0x20000 sets the
// countdown register to 0, "flushDrawing" flushes the port, 0x10 writes
// "!!! not enough memory for oDisplayVal to complete" and clears the pending
// memory-full state, 0x80 makes the panel's bounds stale.  0.
QX_EXTERN_C MgErr PanelDisplayValues(ObjHeap heap, int32 object, const void* old, const void* value);

// The steps every display method of a data display object starts with:
// the new value is asserted; a hidden object shows nothing (0); a range-
// checked object whose state is not known updates it (UpdateRangeFlags,
// drawing deferred while the object is greyed); an old value equal byte for
// byte to the new one over the type's data size shows nothing more; a greyed
// object or a deferred display invalidates the value parts (OInval 1) and
// adds 0x20000.  True when the method goes on to show the value, *reply
// holding the flags so far; false when the display is over, *reply being
// its answer.
bool DDODisplayPrologue(ObjHeap heap, int32 object, const void* old, const void* value, int32* reply);

// The display methods of the containers (slot 39): the front panel shows
// every data controller's value from the data space; a data controller
// passes its value to its control with the range state of its record; a
// cluster passes each element its part of the value; an array steps its
// element object through the visible cells.  The method of a class for the
// slot, null where this layer has none.
QX_EXTERN_C int32 FPODisplayValMethod(ObjHeap heap, int32 panel, const void* old, const void* value);
QX_EXTERN_C int32 DCOODisplayValMethod(ObjHeap heap, int32 controller, const void* old, const void* value);
QX_EXTERN_C int32 ClusterODisplayValMethod(ObjHeap heap, int32 cluster, const void* old, const void* value);
QX_EXTERN_C int32 ArrayODisplayValMethod(ObjHeap heap, int32 array, const void* old, const void* value);
ObjMethodAddr ODisplayValMethodFor(int32 cls);
// Object flags the display reads: drawn only through invalidation, greyed,
// an array's selection shown, an array's cells one pixel larger each side.
enum : uInt32 {
  kObjFlagNoDrawInPlace = 0x4,
  kObjFlagGreyed = 0x80,
  kArrayShowsSelection = 0x20000,
  kArrayWideCells = 0x40000,
};

// ---- Property calls -------------------------------------------------------------------------
// Property calls run in panel/attrcall.h (DoDDOAttrCall); each entry is
// shown to the observer below first.
void PanelObserveProperty(ObjHeap heap, int32 object, UHandle types, int32 typeOffset, int32 read, int32 last,
                          int32 property, void* value);

// Observers that tests set to see the calls (null: none).
struct PanelDisplayObservers {
  void (*display)(ObjHeap heap, int32 controller, const void* previous, const void* value) = nullptr;
  void (*property)(ObjHeap heap, int32 object, UHandle types, int32 typeOffset, int32 read, int32 last,
                   int32 property, int32 data) = nullptr;
};
void SetPanelDisplayObservers(const PanelDisplayObservers& observers);
// The property observer set (read where every property call asks).
extern std::atomic<decltype(PanelDisplayObservers::property)> gPanelPropertyObserver;
// Whether an observer is set: without one PanelObserveProperty shows
// nothing, and a property call that asks this first passes it nothing.
inline bool PanelPropertyObserved() { return gPanelPropertyObserver.load() != nullptr; }
