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
}  // namespace

WindowRef WGetActiveWindow() {
  const WindowRef w = gActive.load();
  return w && WIsWindow(w) ? w : kWNoWindow;
}

void WSetActiveWindow(WindowRef window) {
  if (!window || !WIsWindow(window)) return;
  const WindowRef previous = WGetActiveWindow();
  if (previous == window || gChanging) return;
  gChanging = true;
  if (previous) Send(previous, weKillFocus, window);
  gActive.store(window);
  WBringToFront(window);
  Send(window, weSetFocus, previous);
  gChanging = false;
}

Bool32 WIsActive(WindowRef window) { return window && WGetActiveWindow() == window ? 1 : 0; }

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
