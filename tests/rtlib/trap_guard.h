// A SIGFPE handler for the numeric tests, and the floating-point control
// words, so that a test can show that no call traps or changes them.
#pragma once
#include <csetjmp>
#include <csignal>

#include "mgsource/extcode.h"

namespace rttest {

// A SIGFPE during a guarded call jumps back and is counted as a failure.
inline sigjmp_buf gTrapJump;
inline volatile sig_atomic_t gTraps = 0;
inline void OnTrap(int) {
  gTraps = gTraps + 1;
  siglongjmp(gTrapJump, 1);
}

class TrapGuard {
 public:
  TrapGuard() {
    struct sigaction sa = {};
    sa.sa_handler = &OnTrap;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGFPE, &sa, &old_);
    gTraps = 0;
  }
  ~TrapGuard() { sigaction(SIGFPE, &old_, nullptr); }

 private:
  struct sigaction old_;
};

// Runs f; false when it trapped.
template <class F>
bool Untrapped(F f) {
  if (sigsetjmp(gTrapJump, 1) != 0) return false;
  f();
  return true;
}

struct ControlWords {
  uInt16 x87;
  uInt32 mxcsr;
  bool operator==(const ControlWords& o) const { return x87 == o.x87 && (mxcsr & 0xFFC0) == (o.mxcsr & 0xFFC0); }
};
inline ControlWords ReadControlWords() {
  ControlWords w;
  __asm__ __volatile__("fnstcw %0" : "=m"(w.x87));
  __asm__ __volatile__("stmxcsr %0" : "=m"(w.mxcsr));
  return w;
}

}  // namespace rttest
