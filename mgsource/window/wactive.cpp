#include "mgsource/window/wactive.h"

#include <atomic>

namespace {
std::atomic<WindowRef> gActive{kWNoWindow};
// Set while the active window changes: the handlers of the events sent then
// cannot start another change.  User-interface thread only.
bool gChanging = false;

void Send(WindowRef w, int32 code, WindowRef other) {
  WEventRecord e{};
  e.code = code;
  e.window = w;
  e.where = other;
  WSendEvent(&e);
}

void SetFlag(WindowRef w, uInt32 on) {
  if (WindowRecord* r = WRecord(w)) r->active = on;
}
}  // namespace

WindowRef WGetActiveWindow() {
  const WindowRef w = gActive.load();
  return w && WIsWindow(w) ? w : kWNoWindow;
}

void WSetActiveWindow(WindowRef window) {
  const WindowRef w = WResolveWindow(window);
  if (!WIsWindow(w)) return;
  const WindowRef previous = WGetActiveWindow();
  if (previous == w || gChanging) return;
  gChanging = true;
  if (previous) Send(previous, weKillFocus, w);
  SetFlag(previous, 0);
  gActive.store(w);
  SetFlag(w, 1);
  WBringToFront(w);
  // A document window becoming active brings back the floating windows
  // held back for want of one.
  if (!(WGetStyle(w) & kWStyleFloating)) WShowFloaters(0, WFrontModal() != kWNoWindow);
  Send(w, weSetFocus, previous);
  gChanging = false;
}

void WForgetActive(WindowRef window, WindowRef replacement) {
  WindowRef expected = window;
  if (gActive.compare_exchange_strong(expected, replacement)) SetFlag(replacement, 1);
}

Bool32 WIsActive(WindowRef window) {
  const WindowRecord* r = WRecord(WResolveWindow(window));
  return r && r->active ? 1 : 0;
}

int32 WDispatchEvent(WEventRecord* event) {
  if (!event) return 0;
  const WindowRef w = event->window;
  switch (event->code) {
    case weMouseMove:
      if (!WMouseMoveWanted(w, event->where)) return 0;
      break;
    case weMouseDown:
    case wePopupClick:
      if (WIsWindow(w) && WGetActiveWindow() != w) WSetActiveWindow(w);
      break;
    default: break;
  }
  return WSendEvent(event);
}
