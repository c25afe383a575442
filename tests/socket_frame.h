// The frame window's procedure as the window manager has it, for tests and
// benchmarks that run the connection manager without the shell: socket
// messages go to the connection manager, everything else to the default.
#pragma once
#include "io/netconn.h"
#include "platform/qx_defproc.h"

namespace qxframe {

inline intptr_t FrameProc(PlatWindow w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == kNCSocketMessage) {
    NCSocketEvent(uInt32(wParam), uInt32(lParam));
    return 0;
  }
  return PlatDefWindowProc(w, message, wParam, lParam);
}

}  // namespace qxframe
