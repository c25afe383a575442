#include "mgsource/window/wservices.h"

#include <atomic>

#include "mgsource/occur.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wport.h"
#include "platform/qx_activate.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_thread.h"
#include "platform/qx_com.h"

namespace {
std::atomic<WInputWaitsProc> gInputWaits{nullptr};
std::atomic<int32> gComCount{0};
}  // namespace

int32 WEventAvail() {
  ChkOccurrences();
  WInputWaitsProc p = gInputWaits.load();
  return p && p() ? 1 : 0;
}

void WSetInputWaitsProc(WInputWaitsProc proc) { gInputWaits.store(proc); }
WInputWaitsProc WGetInputWaitsProc() { return gInputWaits.load(); }

Bool32 WInputWaiting() {
  if (WCountPendingEvents() > 0 || WEventTracking() || WAppInactive()) return 1;
  // Input goes to the thread that started the window system only.
  const uint32_t uiThread = PlatWindowSystemThread();
  if (!uiThread || uiThread != PlatThreadCurrentId()) return 0;
  PlatMsg m;
  if (!PlatPeekMessage(&m, 0, 0, 0, kPlatPeekNoRemove)) return 0;
  if (m.message != kPlatMsgMouseMove) return 1;
  // A move counts over an active window of the list whose idle region
  // wants it at that point.
  const WindowRef w = WFindWindowByHwnd(m.window);
  if (w && WIsActive(w)) {
    // A move not yet taken carries its screen point only.
    Point p{int16(m.y), int16(m.x)};
    WGlobalToLocal(w, &p);
    if (WMouseMoveWanted(w, WPackPoint(p))) return 1;
  }
  PlatPeekMessage(&m, 0, kPlatMsgMouseMove, kPlatMsgMouseMove, kPlatPeekRemove);
  return 0;
}

void ComCounterAdd() { gComCount.fetch_add(1); }
int32 ComCounter() { return gComCount.load(); }

void ComCounterUndo() { gComCount.store(0); }

void WOleShutdown() {
  ComCounterUndo();
  PlatComUninit();
}
