// A drawing benchmark's port: the window set up for drawing while the
// object lives and given back at its end, so that the drawing mutex is not
// kept from other threads between benchmarks.
#pragma once
#include "mgsource/window/wport.h"

class HeldPort {
 public:
  explicit HeldPort(WindowRef window) { WSetup(window, &saved_); }
  ~HeldPort() { WRestore(&saved_); }
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;

 private:
  WPortState saved_{};
};
