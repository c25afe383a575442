#include "shortcut_standin.h"

#include <atomic>

namespace {
std::atomic<FResolveShortcutProc> gProc{nullptr};
}  // namespace

Bool32 FResolveShortcut(CStr path) {
  if (!path) return 0;
  if (FResolveShortcutProc proc = gProc.load()) return proc(path);
  return 0;
}

void ShortcutStandinSetProc(FResolveShortcutProc proc) { gProc.store(proc); }
