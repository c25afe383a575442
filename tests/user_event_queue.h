// User events as the shell's start-up posts them, for tests, fuzz targets
// and benchmarks that run the engine without the shell: the engine's poster
// puts them on the window manager's event queue, where the test takes them.
#pragma once
#include "mgsource/window/wevent.h"

namespace qxevents {

inline MgErr PostToQueue(int32 window, int32 sub, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5, int32 noDup,
                         int32 priority) {
  WEventRecord e{};
  e.code = kWEvUser;
  e.window = window;
  e.where = sub;
  e.globalWhere = a1;
  e.modifiers = a2;
  e.character = a3;
  e.keyCode = a4;
  e.data[0] = a5;
  return WPostEvent(&e, noDup, priority);
}

}  // namespace qxevents
