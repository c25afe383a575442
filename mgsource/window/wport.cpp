#include "mgsource/window/wport.h"

#include <atomic>
#include <map>
#include <mutex>

#include "mgsource/rects.h"
#include "platform/qx_window.h"

namespace {

struct PortState {
  bool clipped = false;
  Rect clip{};
  Rect update{};  // empty when nothing waits
};

std::mutex gLock;  // guards the table; never held while another manager call runs
std::map<WindowRef, PortState>& Ports() {
  static auto* t = new std::map<WindowRef, PortState>;
  return *t;
}

thread_local WindowRef tPort = kWNoWindow;
std::atomic<WZoomedProc> gZoomed{nullptr};

}  // namespace

void WSetup(WindowRef window, WPortState* saved) {
  if (saved) saved->window = tPort;
  tPort = WIsWindow(window) ? window : kWNoWindow;
}

void WSetClipRect(const Rect* rect, Rect* savedClip) {
  const WindowRef w = tPort;
  if (savedClip) *savedClip = Rect{0, 0, 0, 0};
  if (!w || !rect || !WIsWindow(w)) return;
  std::lock_guard<std::mutex> g(gLock);
  PortState& p = Ports()[w];
  if (savedClip && p.clipped) *savedClip = p.clip;
  p.clip = *rect;
  p.clipped = true;
}

void WRestore(const WPortState* saved) {
  if (saved) tPort = saved->window && WIsWindow(saved->window) ? saved->window : kWNoWindow;
}

WindowRef WCurrentPort() { return tPort && WIsWindow(tPort) ? tPort : kWNoWindow; }

Bool32 WGetClipRect(WindowRef window, Rect* clip) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = Ports().find(window);
  if (it == Ports().end() || !it->second.clipped) return 0;
  if (clip) *clip = it->second.clip;
  return 1;
}

void WInvalRect(WindowRef window, const Rect* rect) {
  if (!WIsWindow(window)) return;
  Rect area;
  if (rect) area = *rect;
  else WGetRect(window, &area);
  if (DEmptyRect(&area)) return;
  std::lock_guard<std::mutex> g(gLock);
  DUnionRect(&area, &Ports()[window].update);
}

Bool32 WGetUpdateRect(WindowRef window, Rect* rect) {
  Rect r{0, 0, 0, 0};
  {
    std::lock_guard<std::mutex> g(gLock);
    auto it = Ports().find(window);
    if (it != Ports().end()) r = it->second.update;
  }
  if (rect) *rect = r;
  return !DEmptyRect(&r);
}

void WValidate(WindowRef window) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = Ports().find(window);
  if (it != Ports().end()) it->second.update = Rect{0, 0, 0, 0};
}

void WLocalToGlobal(WindowRef window, Point* point) {
  if (!point || !WIsWindow(window)) return;
  Rect global;
  Point origin;
  WGetGlobalRect(window, &global);
  WGetOrigin(window, &origin);
  point->v = int16(global.top + (point->v - origin.v));
  point->h = int16(global.left + (point->h - origin.h));
}

Bool32 WIsZoomed(WindowRef window) {
  if (!WIsWindow(window)) return 0;
  const WZoomedProc proc = gZoomed.load();
  return (proc ? proc(window) : PlatIsZoomed(window)) ? 1 : 0;
}

void WSetZoomedProc(WZoomedProc proc) { gZoomed.store(proc); }

Bool32 WIsIconic(WindowRef window) { return WIsWindow(window) && PlatIsIconic(window) ? 1 : 0; }
