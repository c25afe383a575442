#include "qx_activate.h"

#include "qx_file.h"
#include "qx_msgqueue.h"
#include "qx_winsys_internal.h"

using namespace qxwin;

namespace {

std::vector<PlatWindow> AllWindows(Sys& s) {
  std::vector<PlatWindow> v;
  for (PlatWindow id : s.z)
    if (Find(s, id)) v.push_back(id);
  return v;
}

// The activation sequence; how is Active or ClickActive.
PlatWindow Activate(PlatWindow w, uint32_t how) {
  Sys& s = TheSys();
  PlatWindow old;
  bool wasInactive;
  std::vector<PlatWindow> all;
  {
    std::lock_guard<std::mutex> g(s.lock);
    if (w && !Find(s, w)) {
      PlatSetLastError(kPlatErrInvalidHandle);
      return 0;
    }
    old = s.active;
    if (old && !Find(s, old)) old = 0;
    if (old == w && (s.appActive || !w)) return old;
    wasInactive = !s.appActive && w;
    if (w) s.appActive = true;
    s.active = w;
    if (w) Place(s, w, kPlatInsertTop);
    if (wasInactive) all = AllWindows(s);
  }
  for (PlatWindow t : all) PlatSendMessage(t, kPlatMsgActivateApp, 1, 0);
  if (old) {
    PlatSendMessage(old, kPlatMsgNcActivate, 0, 0);
    PlatSendMessage(old, kPlatMsgActivate, kPlatWaInactive, w);
  }
  if (w) {
    PlatSendMessage(w, kPlatMsgNcActivate, 1, 0);
    PlatSendMessage(w, kPlatMsgActivate, how, old);
  }
  if (old) PlatSendMessage(old, kPlatMsgKillFocus, PlatWParam(w), 0);
  if (w) PlatSendMessage(w, kPlatMsgSetFocus, PlatWParam(old), 0);
  return old;
}

}  // namespace

namespace qxwin {

bool SystemActivate(PlatWindow w, uint32_t how) {
  Sys& s = TheSys();
  PlatWindowPos pos{w, kPlatInsertTop, 0, 0, 0, 0, kPlatSwpNoMove | kPlatSwpNoSize};
  {
    std::lock_guard<std::mutex> g(s.lock);
    Window* r = Find(s, w);
    if (!r) return false;
    pos.x = r->frame.left, pos.y = r->frame.top;
    pos.cx = r->frame.right - r->frame.left, pos.cy = r->frame.bottom - r->frame.top;
  }
  PlatSendMessage(w, kPlatMsgWindowPosChanging, 0, PlatLParam(&pos));
  if (pos.flags & kPlatSwpNoActivate) return false;
  Activate(w, how);
  return true;
}

void WindowGoing(PlatWindow w, PlatWindow owner) {
  Sys& s = TheSys();
  bool wasActive;
  {
    std::lock_guard<std::mutex> g(s.lock);
    if (s.capture == w) s.capture = 0;
    wasActive = s.active == w;
    Window* o = owner ? Find(s, owner) : nullptr;
    if (o && (!o->shown || o->sizeState == kMinimized)) owner = 0;
    if (!o) owner = 0;
  }
  if (!wasActive) return;
  if (owner && SystemActivate(owner, kPlatWaActive)) return;
  Activate(0, kPlatWaActive);
}

}  // namespace qxwin

PlatWindow PlatSetActiveWindow(PlatWindow w) { return Activate(w, kPlatWaActive); }

PlatWindow PlatGetActiveWindow() {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  return Find(s, s.active) ? s.active : 0;
}

PlatWindow PlatSetFocus(PlatWindow w) { return PlatSetActiveWindow(w); }
PlatWindow PlatGetFocus() { return PlatGetActiveWindow(); }

void PlatSetAppActive(bool active) {
  Sys& s = TheSys();
  std::vector<PlatWindow> all;
  {
    std::lock_guard<std::mutex> g(s.lock);
    if (s.appActive == active) return;
    if (active) {
      s.appActive = true;
      all = AllWindows(s);
    }
  }
  if (active) {
    for (PlatWindow t : all) PlatSendMessage(t, kPlatMsgActivateApp, 1, 0);
    return;
  }
  Activate(0, kPlatWaActive);
  {
    std::lock_guard<std::mutex> g(s.lock);
    s.appActive = false;
    all = AllWindows(s);
  }
  for (PlatWindow t : all) PlatSendMessage(t, kPlatMsgActivateApp, 0, 0);
}

bool PlatIsAppActive() {
  Sys& s = TheSys();
  std::lock_guard<std::mutex> g(s.lock);
  return s.appActive;
}
