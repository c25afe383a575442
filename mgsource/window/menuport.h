// Small helpers the menu procedures and the menu tracker share: the menu's
// window as the drawing port for a scope, and a window's local rectangle in
// global coordinates.
#pragma once
#include "mgsource/window/menus.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"

// The menu's window as the drawing port while the object lives (nothing
// when the menu has no window).
class MenuPort {
 public:
  explicit MenuPort(MenuHandle menu) : on_(WIsWindow((*menu)->window) != 0) {
    if (on_) WSetup((*menu)->window, &saved_);
  }
  ~MenuPort() {
    if (on_) WRestore(&saved_);
  }
  MenuPort(const MenuPort&) = delete;
  MenuPort& operator=(const MenuPort&) = delete;

 private:
  bool on_;
  WPortState saved_{};
};

// A rectangle in the window's coordinates, in global ones.
inline Rect MenuRectToGlobal(WindowRef w, Rect r) {
  Point tl{r.top, r.left}, br{r.bottom, r.right};
  WLocalToGlobal(w, &tl);
  WLocalToGlobal(w, &br);
  return Rect{tl.v, tl.h, br.v, br.h};
}
