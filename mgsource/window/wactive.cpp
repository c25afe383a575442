#include "mgsource/window/wactive.h"

#include <atomic>

namespace {
std::atomic<WindowRef> gActive{kWNoWindow};

void Send(WindowRef w, int32 code) {
  WEventRecord e{};
  e.code = code;
  e.window = w;
  WSendEvent(&e);
}
}  // namespace

WindowRef WActiveWindow() {
  const WindowRef w = gActive.load();
  return w && WIsWindow(w) ? w : kWNoWindow;
}

void WSetActiveWindow(WindowRef window) {
  if (!window || !WIsWindow(window)) return;
  const WindowRef previous = WActiveWindow();
  if (previous == window) return;
  if (previous) Send(previous, kWEvDeactivate);
  gActive.store(window);
  WBringToFront(window);
  Send(window, kWEvActivate);
}
