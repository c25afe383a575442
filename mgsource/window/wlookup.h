#pragma once
// The window manager's per-thread record look-up hit, shared by window.cpp
// (which keeps it) and wport.cpp (whose port and clip calls read it without
// a call).  Internal to the window manager.

#include <atomic>
#include <cstdint>

#include "mgsource/window/window.h"

// The thread's last hit: the reference looked up, the live record it names
// and the name that record goes by outside.  Good while gWLiveGen (counted
// under the window manager's lock when a record leaves the live set or the
// root changes) still holds gen.
struct WLookupHit {
  WindowRef in, out, name;
  uint32_t gen;
};
extern __thread WLookupHit tWLookupHit;
extern std::atomic<uint32_t> gWLiveGen;

// The record of w as WRecord finds it, when the thread's last hit answers
// for w; null otherwise (then WRecord is asked).
inline WindowRecord* WRecordHit(WindowRef w) {
  const WLookupHit& h = tWLookupHit;
  if (!w || w != h.in || h.gen != gWLiveGen.load(std::memory_order_acquire)) return nullptr;
  return reinterpret_cast<WindowRecord*>(*reinterpret_cast<UHandle>(uintptr_t(uInt32(h.out))));
}
