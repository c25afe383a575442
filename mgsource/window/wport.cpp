#include "mgsource/window/wport.h"

#include <atomic>
#include <map>
#include <mutex>

#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "mgsource/rects.h"
#include "platform/qx_dc.h"
#include "platform/qx_paint.h"
#include "platform/qx_region.h"
#include "platform/qx_sysinfo.h"
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

// The drawing mutex: held from WSetup to WRestore, so that one thread at a
// time draws into windows; WSetup nests.  gLock is taken inside it, never
// the other way round.
std::recursive_mutex gDrawMutex;
thread_local int32 tSetupDepth = 0;
int32 gScreenImage = 0;  // written under the drawing mutex

// Clips the attached device context of the window to its clip rectangle
// (none: the whole content).
void ApplyClip(WindowRef w) {
  const DDrawState& s = gDrawState;
  if (!w || s.window != w || !s.dc) return;
  Rect clip;
  if (!WGetClipRect(w, &clip)) {
    PlatSelectClipRgn(s.dc, 0);
    return;
  }
  const PlatObj rgn = PlatCreateRectRgn(clip.left - s.originH, clip.top - s.originV, clip.right - s.originH,
                                        clip.bottom - s.originV);
  if (!rgn) return;
  PlatSelectClipRgn(s.dc, rgn);
  PlatDeleteObject(rgn);
}

// Attaches the window's drawing target: the screen image, with the window
// as its owner; 0 detaches.
void Attach(WindowRef w) {
  if (!w) {
    IAttachTarget(0, 0);
    return;
  }
  if (!gScreenImage || IKindOf(gScreenImage) != kImageWindow) WInitScreenImage();
  ISetWindowOf(gScreenImage, w);
  IAttachTarget(gScreenImage, 0);
  ApplyClip(w);
}

void SetClip(WindowRef w, const Rect* rect, Rect* savedClip) {
  {
    std::lock_guard<std::mutex> g(gLock);
    PortState& p = Ports()[w];
    if (savedClip) *savedClip = p.clipped ? p.clip : Rect{0, 0, 0, 0};
    p.clipped = rect != nullptr;
    p.clip = rect ? *rect : Rect{0, 0, 0, 0};
  }
  if (gDrawState.window == w) gDrawState.clipRect = rect ? *rect : gDrawState.bounds;
  ApplyClip(w);
}

}  // namespace

MgErr WInitScreenImage() {
  std::lock_guard<std::recursive_mutex> g(gDrawMutex);
  if (gScreenImage && IKindOf(gScreenImage) == kImageWindow) return kNoErr;
  int32 id = 0;
  if (MgErr err = ICreateWindowImage(&id, kWRootWindow)) return err;
  gScreenImage = id;
  return kNoErr;
}

int32 WScreenImage() { return gScreenImage; }

void WSetup(WindowRef window, WPortState* saved) {
  gDrawMutex.lock();
  ++tSetupDepth;
  if (saved) saved->window = tPort;
  tPort = WIsWindow(window) ? window : kWNoWindow;
  Attach(tPort);
}

void WSetClipRect(const Rect* rect, Rect* savedClip) {
  const WindowRef w = tPort;
  if (savedClip) *savedClip = Rect{0, 0, 0, 0};
  if (!w || !rect || !WIsWindow(w)) return;
  SetClip(w, rect, savedClip);
}

void WLimitClip(const Rect* rect, Rect* savedClip) {
  const WindowRef w = tPort;
  if (savedClip) *savedClip = Rect{0, 0, 0, 0};
  if (!w || !rect || !WIsWindow(w)) return;
  Rect now;
  if (!WGetClipRect(w, &now)) {
    // The port rectangle: the window's, or the bounds of the pixmap or
    // picture drawn into in its place.
    const int32 target = int32(gDrawState.target);
    if (gDrawState.window == w && target && IKindOf(target) != kImageWindow) now = gDrawState.bounds;
    else WGetRect(w, &now);
  }
  Rect limited{0, 0, 0, 0};
  DSectRect(&now, rect, &limited);
  SetClip(w, &limited, savedClip);
}

void WRestoreClip(const Rect* savedClip) {
  const WindowRef w = tPort;
  if (!w || !savedClip || !WIsWindow(w)) return;
  SetClip(w, DEmptyRect(savedClip) ? nullptr : savedClip, nullptr);
}

void WRestore(const WPortState* saved) {
  if (tSetupDepth == 0) {
    DBAssert(__FILE__, __LINE__, "WRestore without WSetup");
    return;
  }
  const WindowRef back = saved ? saved->window : kWNoWindow;
  tPort = back && WIsWindow(back) ? back : kWNoWindow;
  Attach(tPort);
  --tSetupDepth;
  gDrawMutex.unlock();
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
  {
    std::lock_guard<std::mutex> g(gLock);
    DUnionRect(&area, &Ports()[window].update);
  }
  // The host window's update region too, so that the area is painted: the
  // client area starts at the port's origin.
  if (!WHasHostWindow(window)) return;
  Point origin{0, 0};
  WGetOrigin(window, &origin);
  const PlatRect client{area.left - origin.h, area.top - origin.v, area.right - origin.h, area.bottom - origin.v};
  PlatInvalidateRect(window, &client, false);
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

void WForgetPortState(WindowRef window) {
  std::lock_guard<std::mutex> g(gLock);
  Ports().erase(window);
}

namespace {

// A grip line k pixels from the box's bottom-right corner, inside its frame:
// from the bottom edge up to the right edge.
void GripLine(const Rect& r, int32 k, DColor colour, DColor bwColour) {
  DSelectNormPen(colour, bwColour);
  DMoveTo(r.right - k, r.bottom - 2);
  DLineTo(r.right - 2, r.bottom - k);
}

}  // namespace

void WDrawGrowIcon(const Rect* rect) {
  const WindowRef w = WCurrentPort();
  if (!rect) return;
  if (!w) {
    DBAssert(__FILE__, __LINE__, "a size box drawn without a window");
    return;
  }
  const Rect r = *rect;
  if (!(WGetStyle(w) & kWStyleResizable)) {
    DSelectNormPen(0xB3B3B3, 0xFFFFFF);
    DPaintRect(&r);
    DSelectNormPen(0x000000, 0x000000);
    DFrameRect(&r);
    DSelectNormPen(0, 0);
    return;
  }
  DSelectNormPen(DColor(PlatSysColourRgb(kPlatColourButtonFace)), 0xFFFFFF);
  DPaintRect(&r);
  DSelectNormPen(DColor(PlatSysColourRgb(kPlatColourWindowFrame)), 0);
  DFrameRect(&r);
  const DColor shadow = DColor(PlatSysColourRgb(kPlatColourButtonShadow));
  const DColor light = DColor(PlatSysColourRgb(kPlatColourButtonHighlight));
  const int32 width = r.right - r.left, height = r.bottom - r.top;
  // The grip: shadow pairs at 5, 9 and 13 pixels from the corner with a
  // highlight line after each; the farther pairs only where the box reaches
  // that far, the last highlight only for a size box of the full size.
  GripLine(r, 5, shadow, 0x000000);
  GripLine(r, 6, shadow, 0x000000);
  GripLine(r, 7, light, 0xFFFFFF);
  if (width > 9 && height > 9) {
    GripLine(r, 9, shadow, 0x000000);
    GripLine(r, 10, shadow, 0x000000);
    if (width > 11 && height > 11) GripLine(r, 11, light, 0xFFFFFF);
  }
  if (width > 13 && height > 13) {
    GripLine(r, 13, shadow, 0x000000);
    GripLine(r, 14, shadow, 0x000000);
    if (width > 15 && height > 15 && PlatGetSystemMetric(kPlatMetricSizeBoxWidth) > 12 &&
        PlatGetSystemMetric(kPlatMetricSizeBoxHeight) > 13)
      GripLine(r, 15, light, 0xFFFFFF);
  }
  DSelectNormPen(0, 0);
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

void WGlobalToLocal(WindowRef window, Point* point) {
  if (!point || !WIsWindow(window)) return;
  Rect global;
  Point origin;
  WGetGlobalRect(window, &global);
  WGetOrigin(window, &origin);
  point->v = int16(point->v - global.top + origin.v);
  point->h = int16(point->h - global.left + origin.h);
}

Bool32 WIsZoomed(WindowRef window) {
  if (!WIsWindow(window)) return 0;
  const WZoomedProc proc = gZoomed.load();
  return (proc ? proc(window) : PlatIsZoomed(window)) ? 1 : 0;
}

void WSetZoomedProc(WZoomedProc proc) { gZoomed.store(proc); }

Bool32 WIsIconic(WindowRef window) { return WIsWindow(window) && PlatIsIconic(window) ? 1 : 0; }
