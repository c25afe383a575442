#include "mgsource/window/wport.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "mgsource/debug.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/draw/image.h"
#include "mgsource/rects.h"
#include "mgsource/window/wlookup.h"
#include "platform/qx_dc.h"
#include "platform/qx_mutex.h"
#include "platform/qx_paint.h"
#include "platform/qx_region.h"
#include "platform/qx_sysinfo.h"
#include "platform/qx_window.h"

namespace {

std::atomic<WZoomedProc> gZoomed{nullptr};

// The drawing mutex: held from WSetup to WRestore and during a redraw, so
// that one thread at a time draws into windows; WSetup nests.  The window
// manager's own lock (window.cpp) is taken inside it, never the other way
// round.  The state below is written under it.
//
// A thread takes the mutex once and counts its nesting itself: the clip
// changes and nested setups of a drawing bracket then cost a count, not a
// lock call.  Each thread reads and writes only its own count, so the
// count needs no lock.  It is the futex lock, whose take and release
// without contention cost an atomic operation each: every property write
// takes it once.
PlatRecMutex gDrawMutex = PLAT_REC_MUTEX_INIT;
thread_local int32 tDrawHeld = 0;

// A window record's clip region (WindowRecord::clipRgn) is read by nothing
// while a thread draws, and a clip set for an action is mostly put back
// right after it.  So the thread holding the drawing mutex keeps what its
// last change asks of a record's region (the port rectangle and the clip
// rectangle, if any, that it is limited by) and writes it when it lets the
// mutex go (or when another record's region changes first): a clip set and
// put back writes the region once.  The area written last is remembered
// too, and a write of the same area again is left out while no record's
// region has been written or freed other than by WriteRgn since
// (gRgnOtherWrites counts those).  Both under the drawing mutex.
struct RgnArea {
  DRgn rgn = 0;
  Rect area{0, 0, 0, 0};
};
struct RgnWanted {
  DRgn rgn = 0;
  bool limited = false;
  Rect port{0, 0, 0, 0}, limit{0, 0, 0, 0};
};
RgnWanted gPendingRgn;
RgnArea gWrittenRgn;
uint32_t gWrittenGen = 0;
std::atomic<uint32_t> gRgnOtherWrites{0};

// Compared as the two words the four edges fill.
bool SameArea(const Rect& a, const Rect& b) {
  static_assert(sizeof(Rect) == 8);
  return std::memcmp(&a, &b, sizeof(Rect)) == 0;
}

// The region's area: the port rectangle, intersected with the limit (as
// DSectRect intersects: crossed edges meet) when there is one.
Rect AreaOf(const RgnWanted& w) {
  if (!w.limited) return w.port;
  const Rect& a = w.port;
  const Rect& b = w.limit;
  Rect s{std::max(a.top, b.top), std::max(a.left, b.left), std::min(a.bottom, b.bottom), std::min(a.right, b.right)};
  if (s.right < s.left) s.right = s.left;
  if (s.bottom < s.top) s.bottom = s.top;
  return s;
}

// Under the drawing mutex: the region given the area now.
void WriteRgn(DRgn rgn, const Rect& area) {
  const uint32_t gen = gRgnOtherWrites.load(std::memory_order_acquire);
  if (gWrittenRgn.rgn == rgn && gWrittenGen == gen && SameArea(gWrittenRgn.area, area)) return;
  DSetRectRgn(rgn, &area);
  gWrittenRgn = RgnArea{rgn, area};
  gWrittenGen = gen;
}

// Under the drawing mutex, with a region waiting: the region written.
void WritePendingRgn() {
  const DRgn rgn = gPendingRgn.rgn;
  gPendingRgn.rgn = 0;
  WriteRgn(rgn, AreaOf(gPendingRgn));
}

// Under the drawing mutex: the region waiting, if any, written.  Inlined:
// mostly none waits.
inline __attribute__((always_inline)) void SettleRgn() {
  if (gPendingRgn.rgn) WritePendingRgn();
}

// A record's clip region given the port rectangle limited by the clip
// rectangle (null: none): kept for later while this thread holds the
// drawing mutex, else written now.  Inlined: every clip change runs it.
inline __attribute__((always_inline)) void SetRgnArea(DRgn rgn, const Rect& port, const Rect* limit) {
  if (tDrawHeld > 0) {
    // The port rectangle alone, when the region holds it already (written
    // last, and by nothing else since), wants no write: a change waiting
    // for the region is dropped (a clip put back).
    if (!limit && rgn == gWrittenRgn.rgn && gWrittenGen == gRgnOtherWrites.load(std::memory_order_acquire) &&
        SameArea(gWrittenRgn.area, port)) {
      if (gPendingRgn.rgn == rgn) gPendingRgn.rgn = 0;
      return;
    }
    if (gPendingRgn.rgn != rgn) SettleRgn();
    gPendingRgn.rgn = rgn;
    gPendingRgn.port = port;
    gPendingRgn.limited = limit != nullptr;
    if (limit) gPendingRgn.limit = *limit;
    return;
  }
  const RgnWanted now{rgn, limit != nullptr, port, limit ? *limit : Rect{0, 0, 0, 0}};
  const Rect area = AreaOf(now);
  DSetRectRgn(rgn, &area);
  gRgnOtherWrites.fetch_add(1, std::memory_order_release);
}

void LockDrawing() {
  if (tDrawHeld++ == 0) PlatRecMutexLock(&gDrawMutex);
}
// The outermost unlock: the region waiting written, then the mutex let go.
__attribute__((noinline)) void ReleaseDrawing() {
  SettleRgn();
  tDrawHeld = 0;
  PlatRecMutexUnlock(&gDrawMutex);
}
inline __attribute__((always_inline)) void UnlockDrawing() {
  if (tDrawHeld == 1) ReleaseDrawing();
  else --tDrawHeld;
}
struct DrawGuard {
  DrawGuard() { LockDrawing(); }
  ~DrawGuard() { UnlockDrawing(); }
  DrawGuard(const DrawGuard&) = delete;
  DrawGuard& operator=(const DrawGuard&) = delete;
};
int32 gSetupDepth = 0;
std::atomic<WindowRef> gCurrent{kWNoWindow};  // the current window
WindowRef gKept = kWNoWindow;                 // the window kept selected after WRestore
std::atomic<bool> gKeptMode{false};
std::atomic<int32> gUpdating{0};              // redraws running
WindowRef gQueryOpen = kWNoWindow;            // the window remembered from QueryOpen
int32 gScreenImage = 0;
Rect gPaintBox{0, 0, 0, 0};  // the box being redrawn, local

// Clips the attached device context of the window (r its record) to its
// clip rectangle (none: the whole content).  Inlined: every clip change
// runs it.
inline __attribute__((always_inline)) void ApplyClip(WindowRef w, const WindowRecord* r) {
  const DDrawState& s = gDrawState;
  if (!w || s.window != w || !s.dc) return;
  // The context's answer (the clip's kind) is not wanted here.
  if (!r || !r->clipRectSet) {
    PlatSetClipRect(s.dc, nullptr);
    return;
  }
  // The rectangle goes to the context as it is: no region object is looked
  // up or shared for it.
  const Rect clip = r->clipRect;
  const PlatRect device{clip.left - s.originH, clip.top - s.originV, clip.right - s.originH, clip.bottom - s.originV};
  PlatSetClipRect(s.dc, &device);
}

// Attaches the window's drawing target: its draw image when it has one,
// else the screen image with the window as its owner (through the paint
// context during a redraw); 0 detaches.
void Attach(WindowRef w) {
  const WindowRecord* r = WRecord(w);
  if (!w || !r) {
    IAttachTarget(0, 0);
    return;
  }
  if (r->drawImage) {
    IAttachTarget(int32(r->drawImage), 0);
    return;
  }
  if (!gScreenImage || IKindOf(gScreenImage) != kImageWindow) WInitScreenImage();
  ISetWindowOf(gScreenImage, w);
  IAttachTarget(gScreenImage, PlatObj(r->paintDC));
  ApplyClip(w, r);
}

// WRecord(w), by the thread's last look-up hit when it answers for w.
inline WindowRecord* RecordOf(WindowRef w) {
  WindowRecord* const r = WRecordHit(w);
  return r ? r : WRecord(w);
}

// SetClip with the window's record found.  Built without packing the
// context's rectangle into vector registers: that needs a realigned stack,
// which costs more here than the packing saves.
__attribute__((optimize("no-tree-slp-vectorize"))) void SetClipOf(WindowRef w, WindowRecord* r, const Rect* rect, Rect* savedClip) {
  if (savedClip) *savedClip = r->clipRectSet ? r->clipRect : Rect{0, 0, 0, 0};
  r->clipRectSet = rect != nullptr;
  r->clipRect = rect ? *rect : Rect{0, 0, 0, 0};
  if (r->clipRgn) SetRgnArea(r->clipRgn, r->portRect, rect);
  if (gDrawState.window == w) gDrawState.clipRect = rect ? *rect : gDrawState.bounds;
  ApplyClip(w, r);
}

// Inlined: each clip entry point is this and its own checks.
inline __attribute__((always_inline)) void SetClip(WindowRef w, const Rect* rect, Rect* savedClip) {
  WindowRecord* r = RecordOf(w);
  if (!r) return;
  SetClipOf(w, r, rect, savedClip);
}

// Under the drawing mutex: the kept window is no longer kept; when it is
// selected outside any WSetup, the port is switched to no window.
void DropKeptLocked() {
  if (!gKept) return;
  if (gSetupDepth == 0 && gCurrent.load() == gKept) {
    gCurrent.store(kWNoWindow);
    Attach(kWNoWindow);
  }
  gKept = kWNoWindow;
}

}  // namespace

void WSetClipRgnArea(uInt32 rgn, const Rect* area) {
  if (!rgn || !area) return;
  SetRgnArea(rgn, *area, nullptr);
}

void WClipRgnFreeing(uInt32 rgn) {
  if (tDrawHeld > 0 && gPendingRgn.rgn == rgn) gPendingRgn.rgn = 0;
  gRgnOtherWrites.fetch_add(1, std::memory_order_release);
}

MgErr WInitScreenImage() {
  const DrawGuard g;
  if (gScreenImage && IKindOf(gScreenImage) == kImageWindow) return kNoErr;
  int32 id = 0;
  if (MgErr err = ICreateWindowImage(&id, kWRootWindow)) return err;
  gScreenImage = id;
  return kNoErr;
}

int32 WScreenImage() { return gScreenImage; }

void WSetup(WindowRef window, WPortState* saved) {
  LockDrawing();
  // WResolveRecord, by the thread's last look-up hit when it answers for
  // the window (the root's name first makes sure the root exists).  The
  // name is copied out of the look-up's answer, so that it can stay in a
  // register.
  WindowRecord* r = window != kWRootWindow ? WRecordHit(window) : nullptr;
  WindowRef w = kWNoWindow;
  if (r) {
    w = tWLookupHit.name;
  } else {
    WindowRef found = kWNoWindow;
    r = WResolveRecord(window, &found);
    w = found;
  }
  // The kept window still selected is taken as it is.  An outermost setup
  // saves no window (its restore keeps the window); a nested one saves the
  // kept window, which its restore leaves selected for the setup around it.
  if (gKept && gKept == w && gCurrent.load() == w) {
    if (saved) saved->window = gSetupDepth == 0 ? kWNoWindow : w;
  } else {
    DropKeptLocked();
    if (saved) saved->window = gCurrent.load();
    gCurrent.store(w);
    Attach(w);
    r = WRecord(w);  // the attach may have moved records
  }
  ++gSetupDepth;
  if (r) ++r->setupCount;
}

void WSetClipRect(const Rect* rect, Rect* savedClip) {
  const WindowRef w = WCurrentPort();
  if (savedClip) *savedClip = Rect{0, 0, 0, 0};
  if (!w || !rect) return;
  SetClip(w, rect, savedClip);  // nothing when w has no record
}

void WLimitClip(const Rect* rect, Rect* savedClip) {
  const WindowRef w = WCurrentPort();
  if (savedClip) *savedClip = Rect{0, 0, 0, 0};
  WindowRecord* const r = w && rect ? WRecord(w) : nullptr;
  if (!r) return;
  // The record found once serves the clip read and the clip set.
  Rect now = r->clipRect;
  if (!r->clipRectSet) {
    // The port rectangle: the window's, or the bounds of the pixmap or
    // picture drawn into in its place.
    const int32 target = int32(gDrawState.target);
    if (gDrawState.window == w && target && IKindOf(target) != kImageWindow) now = gDrawState.bounds;
    else WGetRect(w, &now);
  }
  Rect limited{0, 0, 0, 0};
  DSectRect(&now, rect, &limited);
  SetClipOf(w, r, &limited, savedClip);
}

void WRestoreClip(const Rect* savedClip) {
  const WindowRef w = WCurrentPort();
  if (!w || !savedClip) return;
  SetClip(w, DEmptyRect(savedClip) ? nullptr : savedClip, nullptr);  // nothing when w has no record
}

namespace {

// WRestore, given the record of window known (null: none) found since the
// last change of the current window.
void RestorePort(const WPortState* saved, WindowRef known, WindowRecord* knownRecord) {
  LockDrawing();
  if (gSetupDepth == 0) {
    UnlockDrawing();
    DBAssert(__FILE__, __LINE__, "WRestore without WSetup");
    return;
  }
  const WindowRef current = gCurrent.load();
  WindowRecord* r = current == known ? knownRecord : RecordOf(current);
  if (r && r->setupCount) --r->setupCount;
  --gSetupDepth;
  const WindowRef back = saved ? saved->window : kWNoWindow;
  if (gKeptMode.load() && gSetupDepth == 0 && r && !r->paintDC) {
    // The engine draws again soon: the window stays selected.
    if (back) DBAssert(__FILE__, __LINE__, "a kept port restored to another window");
    gKept = current;
  } else if (back && back == current && back == gKept) {
    // A nested setup of the kept window ends: it stays selected as it is.
  } else {
    const WindowRef to = WRecord(back) ? back : kWNoWindow;
    gCurrent.store(to);
    Attach(to);
  }
  UnlockDrawing();
  UnlockDrawing();  // the lock WSetup took
}

}  // namespace

void WRestore(const WPortState* saved) { RestorePort(saved, kWNoWindow, nullptr); }

void WRestoreWithClip(const WPortState* saved, const Rect* savedClip) {
  // WRestoreClip, then WRestore with the window's record found once.
  const WindowRef w = gCurrent.load();
  WindowRecord* const r = RecordOf(w);
  if (w && savedClip && r) {
    const bool none = savedClip->right <= savedClip->left || savedClip->bottom <= savedClip->top;
    SetClipOf(w, r, none ? nullptr : savedClip, nullptr);
  }
  RestorePort(saved, w, r);
}

WindowRef WCurrentPort() { return gCurrent.load(); }

WindowRef WExchangeCurrentPort(WindowRef w) {
  const DrawGuard g;
  const WindowRef previous = gCurrent.load();
  const WindowRef next = WRecord(w) ? w : kWNoWindow;
  if (next != previous) {
    gCurrent.store(next);
    Attach(next);
  }
  return previous;
}

void WForgetCurrentPort() {
  const DrawGuard g;
  if (WindowRecord* r = WRecord(gCurrent.load())) r->setupCount = 0;
  gCurrent.store(kWNoWindow);
  gKept = kWNoWindow;
}

void WReleasePortDc() {
  const DrawGuard g;
  IAttachTarget(0, 0);
}

int32 WSetupDepth() {
  const DrawGuard g;
  return gSetupDepth;
}

void WDropKeptPort() {
  const DrawGuard g;
  DropKeptLocked();
}

void WSetKeptPortMode(Bool32 on) {
  gKeptMode.store(on != 0);
  if (!on) WDropKeptPort();
}

WindowRef WKeptPort() {
  const DrawGuard g;
  return gKept;
}

void WPortFollowOrigin(WindowRef window) {
  const DrawGuard g;
  DDrawState& s = gDrawState;
  if (!window) return;
  Point origin{0, 0};
  WGetOrigin(window, &origin);
  const int32 target = int32(s.target);
  if (target && IKindOf(target) != kImageWindow) {
    // An image is open over the window: its own origin stays; the window's
    // noted origin moves, for the window target coming back.
    if (gNotedWindow.window == window) gNotedWindow.originH = origin.h, gNotedWindow.originV = origin.v;
    return;
  }
  if (s.window != window || gCurrent.load() != window) return;
  s.originH = origin.h;
  s.originV = origin.v;
  WGetRect(window, &s.bounds);
  ApplyClip(window, WRecord(window));
}

void WSetContentRect(WindowRef window, const Rect* rect) {
  if (!rect || !WRecord(window)) return;
  SetClip(window, rect, nullptr);
}

Bool32 WGetClipRect(WindowRef window, Rect* clip) {
  const WindowRecord* r = WRecord(window);
  if (!r || !r->clipRectSet) return 0;
  if (clip) *clip = r->clipRect;
  return 1;
}

namespace {

// Invalidates a rectangle (local) of one window: its host window's update
// region, the client area starting at the port's origin.
void Invalidate(PlatWindow hwnd, const Rect& port, const Rect* rect) {
  if (!hwnd) return;
  const Rect area = rect ? *rect : port;
  if (DEmptyRect(&area)) return;
  const PlatRect client{area.left - port.left, area.top - port.top, area.right - port.left, area.bottom - port.top};
  PlatInvalidateRect(hwnd, &client, false);
}

}  // namespace

void WInvalRect(WindowRef window, const Rect* rect) {
  if (window == kWAllWindows) {
    for (const WVisibleWindow& v : WVisibleHostWindows()) Invalidate(v.hwnd, v.portRect, rect);
    return;
  }
  if (const WindowRecord* r = WRecord(WResolveWindow(window))) Invalidate(r->hwnd, r->portRect, rect);
}

Bool32 WGetUpdateRect(WindowRef window, Rect* rect) {
  Rect r{0, 0, 0, 0};
  const WindowRecord* rec = WRecord(window);
  PlatRect box;
  if (rec && rec->hwnd && PlatGetUpdateRect(rec->hwnd, &box))
    r = Rect{int16(box.top + rec->portRect.top), int16(box.left + rec->portRect.left),
             int16(box.bottom + rec->portRect.top), int16(box.right + rec->portRect.left)};
  if (rect) *rect = r;
  return !DEmptyRect(&r);
}

void WValidate(WindowRef window) {
  if (const PlatWindow hw = WHostWindow(window)) PlatValidateRect(hw, nullptr);
}

void WRedrawWindow(WindowRef w, PlatWindow hwnd) {
  const DrawGuard g;
  DropKeptLocked();
  ++gUpdating;
  WindowRecord* r = WRecord(w);
  if (!r || r->hwnd != hwnd) {
    // No window of the manager (or one being freed): the area is validated.
    PlatPaintInfo info{};
    if (PlatBeginPaint(hwnd, &info)) PlatEndPaint(hwnd, &info);
    --gUpdating;
    return;
  }
  if (r->paintDC) DBAssert(__FILE__, __LINE__, "a redraw inside the redraw of the window");
  const WindowRef previous = gCurrent.load();
  const bool switched = previous == w;
  if (switched) {
    gCurrent.store(kWNoWindow);
    Attach(kWNoWindow);
  }
  PlatPaintInfo info{};
  const PlatObj dc = PlatBeginPaint(hwnd, &info);
  if (!dc) DBAssert(__FILE__, __LINE__, "no paint context");
  if ((r = WRecord(w))) {
    r->paintDC = uInt32(dc);
    WEventRecord e{};
    e.code = weWindDraw;
    e.window = w;
    const int32 top = info.paint.top + r->portRect.top, left = info.paint.left + r->portRect.left;
    const int32 bottom = info.paint.bottom + r->portRect.top, right = info.paint.right + r->portRect.left;
    e.where = int32(uint32_t(uint16_t(top)) | uint32_t(uint16_t(left)) << 16);
    e.globalWhere = int32(uint32_t(uint16_t(bottom)) | uint32_t(uint16_t(right)) << 16);
    const Rect outer = gPaintBox;
    gPaintBox = Rect{int16(top), int16(left), int16(bottom), int16(right)};
    WSendEvent(&e);
    gPaintBox = outer;
  }
  DropKeptLocked();
  if (dc) PlatEndPaint(hwnd, &info);
  if ((r = WRecord(w))) r->paintDC = 0;
  if (switched && WRecord(previous)) {
    gCurrent.store(previous);
    Attach(previous);
  }
  --gUpdating;
  if (!gUpdating && gQueryOpen && gQueryOpen == w) {
    gQueryOpen = kWNoWindow;
    WEventRecord e{};
    e.code = kWEvRestored;
    e.window = w;
    WSendEvent(&e);
  }
}

Bool32 WUpdating() { return gUpdating.load() > 0 ? 1 : 0; }

void WRememberQueryOpen(WindowRef window) {
  const DrawGuard g;
  gQueryOpen = window;
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
  const WindowRef w = WRecord(WCurrentPort()) ? WCurrentPort() : kWNoWindow;
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
  if (!point) return;
  window = WResolveWindow(window);
  Rect global;
  Point origin;
  WGetGlobalRect(window, &global);
  WGetOrigin(window, &origin);
  point->v = int16(global.top + (point->v - origin.v));
  point->h = int16(global.left + (point->h - origin.h));
}

void WGlobalToLocal(WindowRef window, Point* point) {
  if (!point) return;
  window = WResolveWindow(window);
  Rect global;
  Point origin;
  WGetGlobalRect(window, &global);
  WGetOrigin(window, &origin);
  point->v = int16(point->v - global.top + origin.v);
  point->h = int16(point->h - global.left + origin.h);
}

Bool32 WIsZoomed(WindowRef window) {
  window = WResolveWindow(window);
  if (!WRecord(window)) return 0;
  const WZoomedProc proc = gZoomed.load();
  return (proc ? proc(window) : PlatIsZoomed(WHostWindow(window))) ? 1 : 0;
}

void WSetZoomedProc(WZoomedProc proc) { gZoomed.store(proc); }

Bool32 WIsIconic(WindowRef window) {
  const PlatWindow hw = WHostWindow(WResolveWindow(window));
  return hw && PlatIsIconic(hw) ? 1 : 0;
}

Bool32 WNeedsDrawBox(Rect* box) {
  const DrawGuard g;
  const WindowRecord* r = WRecord(gCurrent.load());
  if (!gUpdating || !r || !r->paintDC || IKindOf(int32(gDrawState.target)) != kImageWindow) return 0;
  if (box) *box = gPaintBox;
  return 1;
}

Bool32 WNeedsDraw(const Rect* rect) {
  Rect box, meet;
  if (!rect || !WNeedsDrawBox(&box)) return 1;
  return DSectRect(rect, &box, &meet) ? 1 : 0;
}

void WUpdate(WindowRef window) {
  if (WUpdating()) return;
  if (window == kWAllWindows) {
    for (const WVisibleWindow& v : WVisibleHostWindows()) PlatUpdateWindow(v.hwnd);
    return;
  }
  if (const PlatWindow hw = WHostWindow(WResolveWindow(window))) PlatUpdateWindow(hw);
}

void WGetDrawRect(WindowRef window, Rect* rect) {
  if (!rect) return;
  const WindowRecord* r = WRecord(WResolveWindow(window));
  const int32 target = int32(gDrawState.target);
  const bool screen = !target || IKindOf(target) == kImageWindow;
  *rect = !r ? Rect{0, 0, 0, 0} : screen ? r->portRect : r->altRect;
}

namespace {
DRgn gScreenClip = 0;  // the screen clip region, under the drawing mutex
}  // namespace

Bool32 WNewScreenClipRgn() {
  const DrawGuard g;
  if (!gScreenClip) {
    const Rect none{0, 0, 0, 0};
    gScreenClip = DRectRgn(&none);
  }
  return gScreenClip ? 1 : 0;
}

void WDisposeScreenClipRgn() {
  const DrawGuard g;
  if (gScreenClip) DDestroyRgn(gScreenClip);
  gScreenClip = 0;
}

DRgn WScreenClipRgn() {
  const DrawGuard g;
  return gScreenClip;
}

void WSetScreenClipRgn(DRgn rgn) {
  const DrawGuard g;
  DDrawState& s = gDrawState;
  // Before start-up made the region (or after shut-down) nothing is kept.
  if (!rgn || !gScreenClip) return;
  const DRgn bounds = DRectRgn(&s.bounds);
  if (!bounds) return;
  DCombineRgn(gScreenClip, rgn, bounds, kDRgnSect);
  DDestroyRgn(bounds);
  if (!s.dc) return;
  // The context's coordinates are the local ones less the origin.
  const PlatObj device = PlatCreateRectRgn(0, 0, 0, 0);
  if (!device) return;
  PlatCombineRgn(device, gScreenClip, 0, kPlatRgnCopy);
  PlatOffsetRgn(device, -s.originH, -s.originV);
  PlatSelectClipRgn(s.dc, device);
  PlatDeleteObject(device);
}
