#include "window.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/memory.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/wdrag.h"
#include "mgsource/window/wlookup.h"
#include "mgsource/window/wport.h"
#include "mgsource/window/wsysinfo.h"
#include "platform/qx_activate.h"
#include "platform/qx_defproc.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_paint.h"
#include "platform/qx_sysinfo.h"

namespace {

enum : MgErr { kNoWindowErr = 26, kFreedInUseErr = 27, kHostWindowErr = 17 };

constexpr const char* kChildClass = "QXDChild";
constexpr const char* kMenuClass = "QXMenuWnd";

// Guards the set of live records, the window list, the modal stack and the
// root and disposal windows.  Never held while a handler, a report or another manager
// runs; taken inside the drawing mutex (wport.cpp), never the other way round.
std::mutex gLock;
std::unordered_set<WindowRef>& Live() {
  static auto* s = new std::unordered_set<WindowRef>;
  return *s;
}
// Records whose setup count was reported while their freeing waited.
std::unordered_set<WindowRef>& Reported() {
  static auto* s = new std::unordered_set<WindowRef>;
  return *s;
}
WindowRef gList = kWNoWindow;   // newest first
WindowRef gModal = kWNoWindow;  // the front modal window
WindowRef gRoot = kWNoWindow;
WindowRef gDisposal = kWNoWindow;
bool gMakingRootAndDisposal = false;
std::atomic<bool> gQuitting{false};
std::atomic<bool> gAppInactive{false};
std::atomic<WEmbeddedCleanupProc> gEmbeddedCleanup{nullptr};
std::atomic<WEmbeddedScrollProc> gEmbeddedScroll{nullptr};

WindowRecord* At(WindowRef w) {
  return reinterpret_cast<WindowRecord*>(*reinterpret_cast<UHandle>(uintptr_t(uInt32(w))));
}

// Under gLock: the live record a reference names, 0 for none.  The root
// window's record goes by one name outside this file, -2 (kWRootWindow):
// the name events posted to it carry, so that a window compared with
// WRootWindow() or with -2 matches either way.
WindowRef LookupLocked(WindowRef w) {
  if (w == kWCurrentWindow) w = WCurrentPort();
  if (w == kWRootWindow) w = gRoot;
  return w && Live().count(w) ? w : kWNoWindow;
}

// Under gLock: the name a record goes by outside (the root's is -2).
WindowRef NameLocked(WindowRef w) { return w && w == gRoot ? kWRootWindow : w; }

// Drawing and events look the same few windows up over and over: each
// thread keeps its last hit, good while no record has left the live set and
// the root has not changed since (gWLiveGen counts those changes, under
// gLock).  The current-window name is never kept: it follows the port.
// (The hit and the count are declared in wlookup.h: the port calls read
// the hit inline.)
}  // namespace
std::atomic<uint32_t> gWLiveGen{0};
__thread WLookupHit tWLookupHit{kWNoWindow, kWNoWindow, kWNoWindow, 0};
namespace {

// The live record a reference names (0 for none), and the name it goes by
// outside when name is not null.
WindowRef Lookup(WindowRef w, WindowRef* name = nullptr) {
  if (w && w == tWLookupHit.in && tWLookupHit.gen == gWLiveGen.load(std::memory_order_acquire)) {
    if (name) *name = tWLookupHit.name;
    return tWLookupHit.out;
  }
  if (w == kWNoWindow) {
    // No window names no record, whatever the live set holds.
    if (name) *name = kWNoWindow;
    return kWNoWindow;
  }
  std::lock_guard<std::mutex> g(gLock);
  const WindowRef found = LookupLocked(w);
  const WindowRef named = NameLocked(found);
  if (name) *name = named;
  if (found && w != kWCurrentWindow) tWLookupHit = WLookupHit{w, found, named, gWLiveGen.load(std::memory_order_relaxed)};
  return found;
}

// The smallest depth of the monitors the screen covers.
int16 ScreenDepth() { return int16(WDepthOfRect(nullptr)); }

PlatRect ToPlat(const Rect& r) { return PlatRect{r.left, r.top, r.right, r.bottom}; }
Rect ToRect(const PlatRect& r) { return Rect{int16(r.top), int16(r.left), int16(r.bottom), int16(r.right)}; }
int16 Pin16(int32 x) { return int16(x < -32768 ? -32768 : x > 32767 ? 32767 : x); }

void PToC(ConstPStr p, char* out) {
  const int32 n = p ? p[0] : 0;
  for (int32 i = 0; i < n; ++i) out[i] = char(p[1 + i]);
  out[n] = 0;
}

void Notify(WindowRef w, int32 code, int32 where = 0) {
  WEventRecord e{};
  e.code = code;
  e.window = w;
  e.where = where;
  WSendEvent(&e);
}

// The content area, limited by the clip rectangle while one is set.
void ComputeClipRgn(WindowRecord* r) {
  if (!r->clipRgn) return;
  Rect area = r->portRect;
  if (r->clipRectSet) {
    const Rect& c = r->clipRect;
    area = Rect{std::max(area.top, c.top), std::max(area.left, c.left), std::min(area.bottom, c.bottom),
                std::min(area.right, c.right)};
    if (area.bottom < area.top) area.bottom = area.top;
    if (area.right < area.left) area.right = area.left;
  }
  WSetClipRgnArea(r->clipRgn, &area);
}

// Reads the host window's client area into the size of portRect (the
// origin stays) and its screen position into screenPos.
void ReadClient(WindowRecord* r) {
  PlatRect client;
  if (!r->hwnd || !PlatGetClientRect(r->hwnd, &client)) return;
  int32 x = 0, y = 0;
  PlatClientToScreen(r->hwnd, &x, &y);
  r->portRect.bottom = Pin16(r->portRect.top + client.bottom);
  r->portRect.right = Pin16(r->portRect.left + client.right);
  r->screenPos[0] = Pin16(y);
  r->screenPos[1] = Pin16(x);
}

bool UseTaskBar() {
  static const uChar kKey[] = "\x0A" "useTaskBar";
  Bool32 on = 0;
  CfgGetDefault(kCfgBool, kKey, &on);
  return on != 0;
}

intptr_t LeastProc(PlatWindow w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case kPlatMsgPaint: WRedraw(w); return 0;
    case kPlatMsgEraseBackground: return 1;
    default: return PlatDefWindowProc(w, message, wParam, lParam);
  }
}

// The host window of a record (steps of WCreate): 0 with error 17 inside.
PlatWindow CreateHost(WindowRecord* r, ConstPStr title, const Rect& global, PlatWindow owner) {
  uint32_t ws = 0, ex = 0;
  const char* cls = WStyleToWin32(r->style, &ws, &ex);
  char text[256];
  PToC(title, text);
  PlatRect frame = ToPlat(global);
  PlatAdjustWindowRect(&frame, ws, ex);
  WRegisterClasses();
  const PlatWindow hw = PlatCreateWindow(cls, text, ws, ex, frame, owner ? owner : PlatGetFrameWindow());
  if (!hw) return 0;
  PlatEnableClose(hw, (r->style & kWStyleCloseable) != 0);
  if (ex & kPlatWsExTopmost)
    PlatSetWindowPos(hw, kPlatInsertTopmost, 0, 0, 0, 0, kPlatSwpNoMove | kPlatSwpNoSize | kPlatSwpNoActivate);
  return hw;
}

// Unlinks a record from the window list and the modal stack (under gLock).
void UnlinkLocked(WindowRef w) {
  for (WindowRef* p = &gList; *p; p = &At(*p)->next)
    if (*p == w) {
      *p = At(w)->next;
      break;
    }
  for (WindowRef* p = &gModal; *p; p = &At(*p)->nextModal)
    if (*p == w) {
      *p = At(w)->nextModal;
      break;
    }
  At(w)->next = At(w)->nextModal = kWNoWindow;
}

int32 DisposalOf(WindowRef /*arg*/, const WEventRecord* e, void* data) {
  return e->code == kWEvDispose && e->where == *static_cast<WindowRef*>(data) ? 1 : 0;
}

// Frees a record: its queued events become null events, its regions and
// host window go, the record is cleared and disposed.
void FreeRecord(WindowRef w) {
  WindowRecord* r = WRecord(w);
  if (!r) return;
  WKillWindowTimers(w);
  WPurgeWindowEvents(w);
  WindowRef key = w;
  WPurgeEvents(kWNoWindow, &DisposalOf, &key);
  if (r->setupCount) DBMgErr(__FILE__, __LINE__, kFreedInUseErr, "a window freed while set up");
  if (r->clipRgn) {
    WClipRgnFreeing(r->clipRgn);
    DDestroyRgn(r->clipRgn);
  }
  if (r->idleRgn) DDestroyRgn(r->idleRgn);
  if (r->hwnd) {
    if (WEmbeddedCleanupProc p = gEmbeddedCleanup.load()) p(r->hwnd);
    PlatSetWindowWord(r->hwnd, 0);
    PlatDestroyWindow(r->hwnd);
  }
  {
    std::lock_guard<std::mutex> g(gLock);
    UnlinkLocked(w);
    Live().erase(w);
    gWLiveGen.fetch_add(1, std::memory_order_release);
    Reported().erase(w);
  }
  *r = WindowRecord{};
  AZDisposeHandle(reinterpret_cast<UHandle>(uintptr_t(uInt32(w))));
}

// Whether the record may be freed now: it is not the current window, and
// no WSetup on it is outstanding.
bool MayFree(WindowRef w) {
  const WindowRecord* r = WRecord(w);
  if (!r) return false;
  if (w == WCurrentPort()) return false;
  return !(r->setupCount && WSetupDepth() > 0);
}

bool PostDisposal(WindowRef w) {
  WEventRecord e{};
  e.code = kWEvDispose;
  e.window = WDisposalWindow();
  e.where = w;
  return e.window && WPostEvent(&e, 0, kWPostTopLevel) == kNoErr;
}

// The disposal window's handler: frees the record of a destroyed window, or
// posts the event again while the record is current or set up.
int32 DisposalHandler(WEventRecord* e, uInt32 /*refCon*/) {
  if (e->code != kWEvDispose) return 0;
  const WindowRef w = e->where;
  WindowRecord* r = WRecord(w);
  if (!r || !r->disposing) return 0;
  if (!MayFree(w)) {
    if (w != WCurrentPort()) {
      bool first;
      {
        std::lock_guard<std::mutex> g(gLock);
        first = Reported().insert(w).second;
      }
      if (first) DBMgErr(__FILE__, __LINE__, kFreedInUseErr, "a destroyed window is still set up");
    }
    PostDisposal(w);
    return 0;
  }
  FreeRecord(w);
  return 0;
}

void EnsureRootAndDisposal() {
  {
    std::lock_guard<std::mutex> g(gLock);
    if ((gRoot && gDisposal) || gMakingRootAndDisposal) return;
    gMakingRootAndDisposal = true;
  }
  const Rect none{0, 0, 0, 0};
  if (!Lookup(kWRootWindow)) {
    const WindowRef root = WCreate(kWStyleNoHost, nullptr, nullptr, &none, 0, 0, 0);
    std::lock_guard<std::mutex> g(gLock);
    gRoot = root;
    gWLiveGen.fetch_add(1, std::memory_order_release);
  }
  WindowRef disposal;
  {
    std::lock_guard<std::mutex> g(gLock);
    disposal = gDisposal && Live().count(gDisposal) ? gDisposal : kWNoWindow;
  }
  if (!disposal) {
    disposal = WCreate(kWStyleNoHost, nullptr, &DisposalHandler, &none, 0, 0, 0);
    std::lock_guard<std::mutex> g(gLock);
    gDisposal = disposal;
  }
  WEventSetDisposalWindow(disposal);
  std::lock_guard<std::mutex> g(gLock);
  gMakingRootAndDisposal = false;
}

// Resolves for an operation: the record, or null after the report of error
// 26 when the reference is no live record and the root window has no record
// (or the operation does not let the root stand in).
WindowRecord* Resolve(WindowRef window, WindowRef* out = nullptr) {
  const WindowRef w = WResolveWindow(window);
  if (out) *out = w;
  return WRecord(w);
}

}  // namespace

WindowRef WResolveWindow(WindowRef window) {
  if (window == kWRootWindow) EnsureRootAndDisposal();
  WindowRef name = kWNoWindow;
  if (Lookup(window, &name)) return name;
  DBMgErr(__FILE__, __LINE__, kNoWindowErr, "no window");
  return WRootWindow();
}

WindowRecord* WRecord(WindowRef window) {
  const WindowRef w = Lookup(window);
  return w ? At(w) : nullptr;
}

WindowRecord* WResolveRecord(WindowRef window, WindowRef* resolved) {
  if (window == kWRootWindow) EnsureRootAndDisposal();
  WindowRef name = kWNoWindow;
  if (const WindowRef w = Lookup(window, &name)) {
    *resolved = name;
    return At(w);
  }
  DBMgErr(__FILE__, __LINE__, kNoWindowErr, "no window");
  *resolved = WRootWindow();
  return WRecord(*resolved);
}

WindowRef WRootWindow() {
  EnsureRootAndDisposal();
  return Lookup(kWRootWindow) ? kWRootWindow : kWNoWindow;
}

WindowRef WDisposalWindow() {
  EnsureRootAndDisposal();
  std::lock_guard<std::mutex> g(gLock);
  return gDisposal && Live().count(gDisposal) ? gDisposal : kWNoWindow;
}

const char* WStyleToWin32(uInt32 style, uint32_t* hostStyle, uint32_t* hostExStyle) {
  uint32_t ws = 0, ex = 0;
  if (style & kWStyleModal) ex |= kPlatWsExDlgModalFrame;
  if (style & kWStyleFloating) ex |= kPlatWsExTopmost;
  if (style & kWStyleCaption) {
    ws |= kPlatWsClipChildren | kPlatWsCaption | kPlatWsSysMenu;
    ex |= kPlatWsExClientEdge | kPlatWsExWindowEdge;
  } else if (style & kWStyleBordered) {
    ws |= kPlatWsPopup | kPlatWsClipChildren | kPlatWsBorder;
  } else {
    ws |= kPlatWsPopup | kPlatWsClipChildren;
  }
  if (style & kWStyleResizable) ws |= kPlatWsThickFrame | kPlatWsMaximizeBox;
  if (style & kWStyleMinimisable) {
    ws |= kPlatWsMinimizeBox;
    if (UseTaskBar()) ex |= kPlatWsExAppWindow;
  }
  if ((style & kWStyleModal) && (style & kWStyleResizable)) ws &= ~uint32_t(kPlatWsMinimizeBox);
  if (hostStyle) *hostStyle = ws;
  if (hostExStyle) *hostExStyle = ex;
  return (style & (kWStyleModal | kWStyleFloating)) == (kWStyleModal | kWStyleFloating) ? kMenuClass : kChildClass;
}

void WRegisterClasses() {
  // A name already taken (start-up registered the classes) is left alone.
  PlatRegisterClass(PlatWindowClass{kChildClass, &LeastProc, 0, kPlatNoBrush});
  PlatRegisterClass(PlatWindowClass{kMenuClass, &LeastProc, kPlatCsSaveBits, kPlatNoBrush});
}

void WSetEmbeddedCleanup(WEmbeddedCleanupProc proc) { gEmbeddedCleanup.store(proc); }
WEmbeddedCleanupProc WEmbeddedCleanupInUse() { return gEmbeddedCleanup.load(); }
void WSetEmbeddedScroll(WEmbeddedScrollProc proc) { gEmbeddedScroll.store(proc); }
WEmbeddedScrollProc WEmbeddedScrollInUse() { return gEmbeddedScroll.load(); }
void WSetQuitting(Bool32 quitting) { gQuitting.store(quitting != 0); }
void WSetAppInactive(Bool32 inactive) { gAppInactive.store(inactive != 0); }
Bool32 WAppInactive() { return gAppInactive.load() ? 1 : 0; }

uInt32 WTakeHostPlacement(WindowRef window) {
  const WindowRef w = Lookup(window);
  WindowRecord* r = w ? At(w) : nullptr;
  if (!r || !r->hwnd) return 0;
  const Rect oldPort = r->portRect;
  const int16 oldV = r->screenPos[0], oldH = r->screenPos[1];
  ReadClient(r);
  uInt32 changed = 0;
  if (r->portRect.bottom != oldPort.bottom || r->portRect.right != oldPort.right) changed |= 1;
  if (r->screenPos[0] != oldV || r->screenPos[1] != oldH) changed |= 2;
  if (changed & 1) {
    ComputeClipRgn(r);
    WPortFollowOrigin(w);
  }
  const int16 depth = ScreenDepth();
  if (depth != r->depth) {
    r->depth = depth;
    changed |= 4;
  }
  return changed;
}

WindowRef WCreate(uInt32 style, ConstPStr title, WEventHandler handler, const Rect* rect, int32 /*reserved*/,
                  Bool32 show, uInt32 refCon) {
  EnsureRootAndDisposal();
  if (const WindowRef disposal = WDisposalWindow()) WEventSetDisposalWindow(disposal);
  const UHandle h = AZNewHClr(int32(sizeof(WindowRecord)));
  if (!h) return kWNoWindow;
  const WindowRef w = WindowRef(uInt32(uintptr_t(h)));
  WindowRecord* r = At(w);
  r->eventHandler = handler;
  r->refCon = refCon;
  r->cursor = -1;
  r->style = style;
  WindowRef owner = kWNoWindow;
  {
    std::lock_guard<std::mutex> g(gLock);
    Live().insert(w);
    if (style != kWStyleRecordOnly) {
      r->next = gList;
      gList = w;
    }
    // Windows other than modal and floating ones belong to the last window
    // of the modal stack; a floating owner is dropped.
    if (!(style & (kWStyleModal | kWStyleFloating)) && gModal) {
      owner = gModal;
      while (At(owner)->nextModal) owner = At(owner)->nextModal;
      if (At(owner)->style & kWStyleFloating) owner = kWNoWindow;
    }
  }
  Rect global = rect ? *rect : Rect{0, 0, 0, 0};
  if (style != kWStyleNoHost) {
    if (global.bottom <= global.top || global.right <= global.left) global = Rect{0, 0, 5, 5};
    r->idleRgn = DRectRgn(nullptr);
    r->portRect = Rect{0, 0, int16(global.bottom - global.top), int16(global.right - global.left)};
    r->screenPos[0] = global.top;
    r->screenPos[1] = global.left;
    if (style != kWStyleRecordOnly) {
      const PlatWindow hw = CreateHost(r, title, global, owner ? At(owner)->hwnd : 0);
      if (!hw) {
        // Nothing of the window is left: the caller gets no window.
        DBMgErr(__FILE__, __LINE__, kHostWindowErr, "the host window cannot be made");
        if (r->idleRgn) DDestroyRgn(r->idleRgn);
        r->idleRgn = 0;
        {
          std::lock_guard<std::mutex> g(gLock);
          UnlinkLocked(w);
          Live().erase(w);
          gWLiveGen.fetch_add(1, std::memory_order_release);
        }
        AZDisposeHandle(h);
        return kWNoWindow;
      }
      r = At(w);
      r->hwnd = hw;
      ReadClient(r);
      PlatSetWindowWord(hw, intptr_t(w));
    }
  }
  r->depth = ScreenDepth();
  r->clipRgn = DRectRgn(nullptr);
  ComputeClipRgn(r);
  r->restoreRect = global;
  Notify(w, weWindCreate);
  if (!(r = WRecord(w))) return kWNoWindow;
  r->minSize[0] = r->minSize[1] = 1;
  r->maxSize[0] = r->maxSize[1] = 30000;
  if (show) {
    const bool floating = (style & kWStyleFloating) && !(style & kWStyleModal);
    bool hold = floating && !WActiveDocWind();
    if ((style & kWStyleFloating) && !(style & (kWStyleModal | kWStyleStaysOverModal)) && WFrontModal()) hold = true;
    if (hold) r->heldBack = 1;
    else WShow(w);
  }
  return w;
}

void WDestroy(WindowRef window) {
  const WindowRef w = Lookup(window);
  WindowRecord* r = WRecord(w);
  if (!r) {
    DBMgErr(__FILE__, __LINE__, kNoWindowErr, "no window");
    return;
  }
  if (r->disposing) return;
  // A registered drop target would outlive its host window.
  if (r->dropTarget) DragRefuseWindow(w);
  WDropKeptPort();
  if (r->hwnd) WHide(w);
  // The hide's event set the window up again, which may have kept it.
  WDropKeptPort();
  const bool posted = PostDisposal(w);
  if (!(r = WRecord(w))) return;
  r->disposing = 1;
  r->eventHandler = nullptr;
  r->active = 0;
  {
    std::lock_guard<std::mutex> g(gLock);
    UnlinkLocked(w);
  }
  WForgetActive(w);
  // Without a queue nothing would ever take the disposal event.
  if (!posted && MayFree(w)) FreeRecord(w);
}

Bool32 WIsWindow(WindowRef window) {
  const WindowRecord* r = WRecord(window);
  return r && !r->disposing ? 1 : 0;
}

WindowRef WFrontModal() {
  std::lock_guard<std::mutex> g(gLock);
  return gModal;
}

WindowRef WFirstWindow() {
  std::lock_guard<std::mutex> g(gLock);
  return NameLocked(gList);
}

WindowRef WNextWindow(WindowRef window) {
  std::lock_guard<std::mutex> g(gLock);
  const WindowRef w = LookupLocked(window);
  return w ? NameLocked(At(w)->next) : kWNoWindow;
}

WindowRef WActiveDocWind() {
  std::lock_guard<std::mutex> g(gLock);
  if (gModal && !(At(gModal)->style & kWStyleFloating)) return gModal;
  for (WindowRef w = gList; w; w = At(w)->next)
    if (!(At(w)->style & kWStyleFloating) && At(w)->active) return w;
  return kWNoWindow;
}

WindowRef WFindWindowByHwnd(PlatWindow hwnd) {
  if (!hwnd) return kWNoWindow;
  const WindowRef w = WindowRef(PlatGetWindowWord(hwnd));
  const WindowRecord* r = WRecord(w);
  return r && r->hwnd == hwnd ? w : kWNoWindow;
}

PlatWindow WHostWindow(WindowRef window) {
  const WindowRecord* r = WRecord(window);
  return r ? r->hwnd : 0;
}

void WShow(WindowRef window) {
  WindowRef w;
  WindowRecord* r = Resolve(window, &w);
  if (!r) return;
  if (r->style == kWStyleNoHost) {
    DBAssert(__FILE__, __LINE__, "showing a window without a host window");
    return;
  }
  if (r->visible) return;
  const bool current = w == WCurrentPort();
  WPortState saved{};
  if (current) WSetup(w, &saved);
  const uInt32 style = r->style;
  if (!(style & kWStyleFloating)) WShowFloaters(gAppInactive.load(), WFrontModal() || (style & kWStyleModal));
  if ((r = WRecord(w))) {
    r->visible = 1;
    Notify(w, weWindShow);
  }
  if ((r = WRecord(w))) {
    if (style & kWStyleFloating) r->active = 1;
    if (r->hwnd)
      PlatShowWindow(r->hwnd,
                     (style & kWStyleFloating) || gAppInactive.load() ? kPlatSwShowNoActivate : kPlatSwShowNormal);
    if (style & kWStyleModal) {
      std::lock_guard<std::mutex> g(gLock);
      if (r->visible && !r->nextModal && gModal != w) {
        r->nextModal = gModal;
        gModal = w;
      }
    }
  }
  if (current) WRestore(&saved);
}

void WHide(WindowRef window) {
  WindowRef w;
  WindowRecord* r = Resolve(window, &w);
  if (!r) return;
  if (!r->visible && !(r->hwnd && PlatIsIconic(r->hwnd))) return;
  const uInt32 style = r->style;
  r->visible = 0;
  Notify(w, weWindHide);
  if (WGetActiveWindow() == w) WForgetActive(w, (style & kWStyleFloating) ? WActiveDocWind() : kWNoWindow);
  if (!(r = WRecord(w))) return;
  r->active = 0;
  if (style & kWStyleModal) {
    std::lock_guard<std::mutex> g(gLock);
    for (WindowRef* p = &gModal; *p; p = &At(*p)->nextModal)
      if (*p == w) {
        *p = r->nextModal;
        break;
      }
    r->nextModal = kWNoWindow;
  }
  if (r->hwnd) {
    if (PlatGetActiveWindow() == r->hwnd && PlatGetFrameWindow()) PlatSetActiveWindow(PlatGetFrameWindow());
    PlatShowWindow(r->hwnd, kPlatSwHide);
  }
  if (!(style & kWStyleFloating)) WShowFloaters(gAppInactive.load(), WFrontModal() != kWNoWindow);
}

namespace {
std::atomic<bool> gNativeModal{false};  // a native modal dialog is up (WAlert)
}  // namespace

void WShowFloaters(Bool32 appInactive, Bool32 modalInFront) {
  if (gNativeModal) return;
  std::vector<WindowRef> floaters;
  {
    std::lock_guard<std::mutex> g(gLock);
    for (WindowRef w = gList; w; w = At(w)->next)
      if ((At(w)->style & (kWStyleFloating | kWStyleModal)) == kWStyleFloating) floaters.push_back(w);
  }
  for (WindowRef w : floaters) {
    WindowRecord* r = WRecord(w);
    if (!r) continue;
    const bool stays = (r->style & kWStyleStaysOverModal) != 0;
    if (appInactive || (modalInFront && !stays)) {
      if (r->visible) {
        WHide(w);
        if ((r = WRecord(w))) r->heldBack = 1;
      }
    } else if (r->heldBack) {
      r->heldBack = 0;
      WShow(w);
    }
  }
}

int32 WGetDepth(WindowRef window) {
  // A window with a host window keeps its depth; the screen's is looked up
  // only for the others.
  const WindowRecord* r = window ? Resolve(window) : nullptr;
  const int32 depth = r && r->hwnd ? r->depth : ScreenDepth();
  if (depth < 1) DBAssert(__FILE__, __LINE__, "window depth below 1");
  return depth;
}

Bool32 WHasHostWindow(WindowRef window) { return WHostWindow(window) ? 1 : 0; }

Bool32 WIsVisible(WindowRef window) {
  const WindowRecord* r = WRecord(window);
  return r && r->visible ? 1 : 0;
}

void WBringToFront(WindowRef window) {
  WindowRef w;
  WindowRecord* r = Resolve(window, &w);
  if (!r) return;
  if (r->hwnd) {
    if (PlatIsIconic(r->hwnd)) PlatShowWindow(r->hwnd, kPlatSwRestore);
    PlatSetWindowPos(r->hwnd, kPlatInsertTop, 0, 0, 0, 0,
                     kPlatSwpNoMove | kPlatSwpNoSize | ((r->style & kWStyleFloating) ? uint32_t(kPlatSwpNoActivate) : 0u));
  }
  if (r->style != kWStyleNoHost) WShow(w);
}

void WSetCloseable(WindowRef window, Bool32 on) {
  if (const WindowRecord* r = Resolve(window))
    if (r->hwnd) PlatEnableClose(r->hwnd, on != 0);
}

void WSetTitle(WindowRef window, ConstPStr title) {
  const WindowRecord* r = Resolve(window);
  if (!r || !r->hwnd) return;
  char text[256];
  PToC(title, text);
  PlatWindowSetTitle(r->hwnd, text);
}

void WGetTitle(WindowRef window, PStr title) {
  if (!title) return;
  title[0] = 0;
  const WindowRecord* r = Resolve(window);
  if (!r) return;
  const char* fixed = r->style == kWStyleNoHost ? "Event handler" : r->style == kWStyleSkipsRedraw ? "Root window" : nullptr;
  char text[256];
  int32 n;
  if (fixed) {
    n = int32(std::strlen(fixed));
    std::memcpy(text, fixed, size_t(n));
  } else {
    n = r->hwnd ? PlatWindowGetTitle(r->hwnd, text, sizeof text) : 0;
    if (n < 0) return;
  }
  const int32 kept = n > 255 ? 255 : n;
  for (int32 i = 0; i < kept; ++i) title[1 + i] = uChar(text[i]);
  title[0] = uChar(kept);
}

uInt32 WGetRefCon(WindowRef window) {
  const WindowRecord* r = Resolve(window);
  return r ? r->refCon : 0;
}

void WSetRefCon(WindowRef window, uInt32 refCon) {
  if (WindowRecord* r = Resolve(window)) r->refCon = refCon;
}

void WSetDepth(WindowRef window, int32 depth) {
  if (depth < 1 || depth > 32) return;
  if (WindowRecord* r = Resolve(window)) r->depth = int16(depth);
}

// A window without a host window draws into a context it is handed (the
// print job's page window); it is the one its redraws would be given.
void WSetPaintDc(WindowRef window, uInt32 dc) {
  if (WindowRecord* r = Resolve(window)) r->paintDC = dc;
}

uInt32 WGetPaintDc(WindowRef window) {
  const WindowRecord* r = Resolve(window);
  return r ? r->paintDC : 0;
}

void WSetEventHandler(WindowRef window, WEventHandler handler) {
  if (WindowRecord* r = Resolve(window))
    if (!r->disposing) r->eventHandler = handler;
}

void WSetIdleRgn(WindowRef window, uInt32 rgn, Bool32 flag) {
  WindowRecord* r = Resolve(window);
  if (!r) return;
  if (!r->idleRgn) r->idleRgn = DRectRgn(nullptr);
  if (!r->idleRgn) return;
  if (rgn) DCombineRgn(r->idleRgn, rgn, rgn, kDRgnCopy);
  else DSetEmptyRgn(r->idleRgn);
  r->idleFlag = flag ? 1 : 0;
}

Bool32 WMouseMoveWanted(WindowRef window, int32 where) {
  const WindowRecord* r = WRecord(window);
  if (!r) return 1;
  const Bool32 inside = r->idleRgn && DPtInRgn(where, r->idleRgn) ? 1 : 0;
  return uInt32(inside) == r->idleFlag;
}

uInt32 WGetStyle(WindowRef window) {
  const WindowRecord* r = Resolve(window);
  return r ? r->style : 0;
}

void WSetStyle(WindowRef window, uInt32 style) {
  WindowRef w;
  WindowRecord* r = Resolve(window, &w);
  if (!r) return;
  if (r->paintDC || WUpdating()) {
    DBAssert(__FILE__, __LINE__, "a window restyled while it is redrawn");
    return;
  }
  const uInt32 old = r->style;
  r->style = style;
  if (r->hwnd && ((old ^ style) & ~uInt32(kWStyleCloseable))) {
    // The host window is made again around the same content; the old one
    // goes without its hide being reported.
    const PlatWindow oldHw = r->hwnd;
    Rect global;
    WGetGlobalRect(w, &global);
    Str255 title;
    char text[256];
    const int32 n = PlatWindowGetTitle(oldHw, text, sizeof text);
    title[0] = uChar(n < 0 ? 0 : n > 255 ? 255 : n);
    std::memcpy(title + 1, text, title[0]);
    const bool wasVisible = PlatIsWindowVisible(oldHw);
    const PlatWindow owner = PlatGetOwner(oldHw);
    const WEventHandler handler = r->eventHandler;
    r->eventHandler = nullptr;
    PlatShowWindow(oldHw, kPlatSwHide);
    // Under the drawing mutex, with the window's context given back first.
    WPortState saved{};
    WSetup(WRootWindow(), &saved);
    if ((r = WRecord(w))) r->hwnd = 0;
    PlatSetWindowWord(oldHw, 0);
    PlatDestroyWindow(oldHw);
    PlatWindow hw = 0;
    if ((r = WRecord(w))) {
      hw = CreateHost(r, title, global, owner == PlatGetFrameWindow() ? 0 : owner);
      if (!hw) DBMgErr(__FILE__, __LINE__, kHostWindowErr, "the host window cannot be made");
      r->hwnd = hw;
      if (hw) {
        PlatSetWindowWord(hw, intptr_t(w));
        ReadClient(r);
        ComputeClipRgn(r);
      }
    }
    WRestore(&saved);
    if (!(r = WRecord(w))) return;
    r->eventHandler = handler;
    if (hw && wasVisible)
      PlatShowWindow(hw, (style & kWStyleFloating) || gAppInactive.load() ? kPlatSwShowNoActivate : kPlatSwShowNormal);
  }
  if (r->hwnd) PlatEnableClose(r->hwnd, (style & kWStyleCloseable) != 0);
}

void WGetRect(WindowRef window, Rect* rect) {
  if (!rect) return;
  const WindowRecord* r = Resolve(window);
  *rect = r ? r->portRect : Rect{0, 0, 0, 0};
}

void WGetOrigin(WindowRef window, Point* origin) {
  if (!origin) return;
  const WindowRecord* r = Resolve(window);
  *origin = r ? Point{r->portRect.top, r->portRect.left} : Point{0, 0};
}

void WSetOrigin(WindowRef window, Point origin) {
  WindowRef w;
  WindowRecord* r = Resolve(window, &w);
  if (!r) return;
  const int32 dv = origin.v - r->portRect.top, dh = origin.h - r->portRect.left;
  if (!dv && !dh) return;
  const auto shift = [dv, dh](Rect& x) {
    x = Rect{Pin16(x.top + dv), Pin16(x.left + dh), Pin16(x.bottom + dv), Pin16(x.right + dh)};
  };
  shift(r->portRect);
  shift(r->clipRect);
  if (r->idleRgn) DOffsetRgn(r->idleRgn, dh, dv);
  ComputeClipRgn(r);
  WPortFollowOrigin(w);
  // Objects embedded in child windows follow the content.
  if (WEmbeddedScrollProc p = gEmbeddedScroll.load(); p && r->hwnd) p(r->hwnd, r->portRect.left, r->portRect.top);
}

void WGetGlobalRect(WindowRef window, Rect* rect) {
  if (!rect) return;
  *rect = Rect{0, 0, 0, 0};
  const WindowRecord* r = Resolve(window);
  if (!r) return;
  // Read, not stored: drawing threads ask too.
  PlatRect client;
  if (r->hwnd && PlatGetClientRect(r->hwnd, &client)) {
    int32 x = 0, y = 0;
    PlatClientToScreen(r->hwnd, &x, &y);
    *rect = Rect{Pin16(y), Pin16(x), Pin16(y + client.bottom), Pin16(x + client.right)};
    return;
  }
  const int32 v = r->screenPos[0], h = r->screenPos[1];
  *rect = Rect{int16(v), int16(h), Pin16(v + r->portRect.bottom - r->portRect.top),
               Pin16(h + r->portRect.right - r->portRect.left)};
}

void WSize(WindowRef window, const Rect* rect) {
  WindowRef w;
  WindowRecord* r = Resolve(window, &w);
  if (!rect || !r) return;
  Rect old;
  WGetGlobalRect(w, &old);
  if (r->hwnd) {
    if (PlatIsZoomed(r->hwnd) || PlatIsIconic(r->hwnd)) PlatShowWindow(r->hwnd, kPlatSwRestore);
    PlatRect frame = ToPlat(*rect);
    PlatAdjustWindowRect(&frame, PlatGetWindowStyle(r->hwnd), PlatGetWindowExStyle(r->hwnd));
    PlatMoveWindow(r->hwnd, frame);
    if (!(r = WRecord(w))) return;
    ReadClient(r);
  } else {
    r->screenPos[0] = rect->top;
    r->screenPos[1] = rect->left;
    r->portRect.bottom = Pin16(r->portRect.top + rect->bottom - rect->top);
    r->portRect.right = Pin16(r->portRect.left + rect->right - rect->left);
  }
  r->restoreRect = *rect;
  ComputeClipRgn(r);
  WPortFollowOrigin(w);
  Rect now;
  WGetGlobalRect(w, &now);
  if (old.top != now.top || old.left != now.left) Notify(w, weWindMove);
  if (old.bottom - old.top != now.bottom - now.top || old.right - old.left != now.right - now.left)
    Notify(w, weWindSize, 1);
}

void WMove(WindowRef window, int32 v, int32 h) {
  Rect now;
  const WindowRef w = WResolveWindow(window);
  if (!WRecord(w)) return;
  WGetGlobalRect(w, &now);
  const int32 height = now.bottom - now.top, width = now.right - now.left;
  // Pinned so that the whole rectangle keeps 16-bit coordinates.
  const auto pin = [](int32 x, int32 extent) { return x < -32768 ? -32768 : x > 32767 - extent ? 32767 - extent : x; };
  v = pin(v, height);
  h = pin(h, width);
  const Rect moved{int16(v), int16(h), int16(v + height), int16(h + width)};
  WSize(w, &moved);
}

void WGetShellRect(uInt32 style, Rect* margins) {
  if (!margins) return;
  uint32_t ws = 0, ex = 0;
  WStyleToWin32(style, &ws, &ex);
  *margins = ToRect(PlatFrameInsets(ws, ex));
}

int32 WSendEvent(WEventRecord* event) {
  if (!event) return 0;
  WindowRef w;
  WindowRecord* r = Resolve(event->window, &w);
  if (!r || gQuitting.load()) return 0;
  const WEventHandler handler = r->eventHandler;
  const uInt32 refCon = r->refCon;
  if (!handler) return 0;
  if (event->code > 0 && r->hwnd) {
    WPortState saved{};
    WSetup(w, &saved);
    const int32 result = handler(event, refCon);
    WRestore(&saved);
    return result;
  }
  return handler(event, refCon);
}

int32 WWindowsInOrder(WindowRef* out, int32 max) {
  std::vector<PlatWindow> order(256);
  int32 n = PlatWindowZOrder(order.data(), int32(order.size()));
  if (n > int32(order.size())) {
    order.resize(size_t(n));
    n = PlatWindowZOrder(order.data(), n);
  }
  int32 count = 0;
  for (int32 i = 0; i < n && i < int32(order.size()); ++i) {
    const WindowRef w = WFindWindowByHwnd(order[size_t(i)]);
    if (!w || !WIsWindow(w)) continue;
    if (out && count < max) out[count] = w;
    ++count;
  }
  return count;
}

void WDestroyAllWindows() {
  std::vector<WindowRef> all;
  {
    std::lock_guard<std::mutex> g(gLock);
    for (WindowRef w : Live())
      if (w != gRoot && w != gDisposal && !At(w)->disposing) all.push_back(w);
  }
  for (WindowRef w : all) WDestroy(w);
  std::vector<WindowRef> waiting;
  {
    std::lock_guard<std::mutex> g(gLock);
    for (WindowRef w : Live())
      if (At(w)->disposing) waiting.push_back(w);
  }
  for (WindowRef w : waiting)
    if (MayFree(w)) FreeRecord(w);
}

void WSetNativeModal(Bool32 up) { gNativeModal.store(up != 0); }
Bool32 WNativeModal() { return gNativeModal.load() ? 1 : 0; }

std::vector<WVisibleWindow> WVisibleHostWindows() {
  std::vector<WVisibleWindow> all;
  std::lock_guard<std::mutex> g(gLock);
  for (WindowRef w = gList; w; w = At(w)->next) {
    const WindowRecord* r = At(w);
    if (r->visible && r->hwnd && r->style != kWStyleNoHost && r->style != kWStyleSkipsRedraw)
      all.push_back(WVisibleWindow{r->hwnd, r->portRect});
  }
  return all;
}

void WRedraw(PlatWindow hwnd) {
  const WindowRef w = WFindWindowByHwnd(hwnd);
  WRedrawWindow(w, hwnd);
}

void WGetSizeLimits(WindowRef window, Point* minSize, Point* maxSize) {
  WindowRef w;
  const WindowRecord* r = window ? Resolve(window, &w) : nullptr;
  if (minSize) *minSize = r ? Point{r->minSize[0], r->minSize[1]} : Point{1, 1};
  if (maxSize) *maxSize = r ? Point{r->maxSize[0], r->maxSize[1]} : Point{30000, 30000};
}

void WSetSizeLimits(WindowRef window, const Point* minSize, const Point* maxSize) {
  WindowRef w;
  WindowRecord* r = Resolve(window, &w);
  if (!r) return;
  if (minSize) r->minSize[0] = minSize->v, r->minSize[1] = minSize->h;
  if (maxSize) r->maxSize[0] = maxSize->v, r->maxSize[1] = maxSize->h;
  // The limits are outer sizes: the content is clamped to each less the
  // frame, keeping its top-left.
  Rect m, content;
  WGetShellRect(r->style, &m);
  WGetGlobalRect(w, &content);
  const int32 frameV = m.top + m.bottom, frameH = m.left + m.right;
  const auto clamp = [](int32 x, int32 lo, int32 hi) { return x < lo ? lo : x > hi ? hi : x; };
  const int32 height = clamp(content.bottom - content.top, r->minSize[0] - frameV, r->maxSize[0] - frameV);
  const int32 width = clamp(content.right - content.left, r->minSize[1] - frameH, r->maxSize[1] - frameH);
  const Rect want{content.top, content.left, Pin16(content.top + height), Pin16(content.left + width)};
  if (want.bottom != content.bottom || want.right != content.right) WSize(w, &want);
}

void WGetGlobalMouse(Point* point) {
  if (!point) return;
  int32_t x = 0, y = 0;
  PlatGetMessagePos(&x, &y);
  *point = Point{Pin16(y), Pin16(x)};
}

void WZoom(WindowRef window, Bool32 on) {
  WindowRef w;
  WindowRecord* r = Resolve(window, &w);
  if (!r || !r->hwnd || !(r->style & kWStyleResizable) || PlatIsZoomed(r->hwnd) == (on != 0)) return;
  if (on) {
    Rect global;
    WGetGlobalRect(w, &global);
    if ((r = WRecord(w))) r->restoreRect = global;
  }
  if ((r = WRecord(w))) PlatShowWindow(r->hwnd, on ? kPlatSwMaximize : kPlatSwRestore);
  if ((r = WRecord(w))) {
    ReadClient(r);
    ComputeClipRgn(r);
  }
}

WindowRef WFindWindowAt(WindowRef window, Point* point) {
  if (!point) return kWNoWindow;
  WindowRef w = window;
  if (!w) w = WFindWindowByHwnd(PlatWindowFromPoint(point->h, point->v));
  if (!w || !WRecord(w)) return kWNoWindow;
  WGlobalToLocal(w, point);
  return w;
}
