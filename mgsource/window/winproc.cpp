// The three host window procedures: document, dialog and floating windows;
// the hidden frame window; the system's menu windows.
#include "mgsource/window/winproc.h"
#include "mgsource/window/wdrag.h"
#include "mgsource/window/wsysinfo.h"

#include <cstring>

#include "mgsource/debug.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/hookset.h"
#include "mgsource/occur.h"
#include "mgsource/walert.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wmisc.h"
#include "mgsource/window/wport.h"
#include "platform/qx_activate.h"
#include "platform/qx_clipboard.h"
#include "platform/qx_cursor.h"
#include "platform/qx_defproc.h"
#include "platform/qx_display.h"
#include "platform/qx_input.h"
#include "platform/qx_sysinfo.h"

namespace {

WWinProcOptions gOptions{0, 0, 0};
WWinProcHooks gHooks{};

// Set before the menu-bar key event goes out; a handler claims the key by
// clearing it.
int32 gMenuKeyPassOn = 0;
bool gPaletteRealised = false;
PlatWindow gNextViewer = 0;

PlatResult Def(PlatWindow w, uint32_t m, PlatWParam wp, PlatLParam lp) { return PlatDefWindowProc(w, m, wp, lp); }

// The point of a mouse message's lParam: client x low, y high.
Point ClientPoint(PlatLParam lParam) { return Point{int16(PlatHighWord(lParam)), int16(PlatLowWord(lParam))}; }

void SendToRoot(WEventCode code) {
  WEventRecord e{};
  e.code = code;
  e.window = WRootWindow();
  if (e.window) WSendEvent(&e);
}

void SendSimple(WindowRef w, WEventCode code, int32 where = 0) {
  WEventRecord e{};
  e.code = code;
  e.window = w;
  e.where = where;
  WSendEvent(&e);
}

void PostToFrame(uint32_t message) {
  if (const PlatWindow f = PlatGetFrameWindow()) PlatPostMessage(f, message, 0, 0);
}

void RaiseHost(PlatWindow hw, bool activate) {
  if (hw) PlatSetWindowPos(hw, kPlatInsertTop, 0, 0, 0, 0, kPlatSwpNoMove | kPlatSwpNoSize | (activate ? 0u : uint32_t(kPlatSwpNoActivate)));
}

void MinMax(const WindowRecord* r, PlatLParam lParam) {
  auto* info = reinterpret_cast<PlatMinMaxInfo*>(lParam);
  if (!info) return;
  info->minWidth = r ? r->minSize[1] : 1;
  info->minHeight = r ? r->minSize[0] : 1;
  info->maxWidth = r ? r->maxSize[1] : 30000;
  info->maxHeight = r ? r->maxSize[0] : 30000;
}

// Dispatches a key event made from a message to the window.
PlatResult DispatchKey(WindowRef w, WEventRecord* e) {
  e->window = w;
  WFillMousePoint(WGetActiveWindow() ? WGetActiveWindow() : w, e, nullptr);
  e->window = w;
  WDispatchEvent(e);
  return 0;
}

PlatResult MouseActivate(WindowRef w, const WindowRecord* r, PlatLParam lParam) {
  if ((r->style & (kWStyleFloating | kWStyleModal)) == kWStyleFloating) return kPlatMaNoActivate;
  if (const WindowRef modal = WFrontModal()) {
    if (modal == w) return kPlatMaActivate;
    // The click is not delivered: the modal window comes to the front.
    const PlatWindow modalHw = WHostWindow(modal);
    RaiseHost(modalHw, WAppInactive() != 0);
    if (WAppInactive() && modalHw) PlatSetActiveWindow(modalHw);
    return kPlatMaNoActivateAndEat;
  }
  if (PlatLowWord(lParam) != kPlatHtClient) return kPlatMaActivate;
  return gOptions.dropThroughClicks ? kPlatMaActivate : kPlatMaActivateAndEat;
}

PlatResult SysCommandClose(WindowRef w, const WindowRecord* r) {
  if (r->style & kWStyleCloseable) SendSimple(w, kWEvClose, 0);
  return 0;
}

// Messages of a minimised window.
PlatResult Iconic(PlatWindow hwnd, WindowRef w, const WindowRecord* r, uint32_t message, PlatWParam wParam,
                  PlatLParam lParam) {
  switch (message) {
    case kPlatMsgActivate: {
      const WindowRef modal = WFrontModal();
      if (modal && modal != w) PostToFrame(kWFrameActivation);
      return Def(hwnd, message, wParam, lParam);
    }
    case kPlatMsgQueryOpen: WRememberQueryOpen(w); return 1;
    case kPlatMsgEraseBackground: return Def(hwnd, kPlatMsgIconEraseBackground, wParam, lParam);
    case kPlatMsgSysCommand:
      if (wParam == kPlatScClose) return SysCommandClose(w, r);
      return Def(hwnd, message, wParam, lParam);
    case kPlatMsgMouseActivate: return MouseActivate(w, r, lParam);
    default: return Def(hwnd, message, wParam, lParam);
  }
}

bool InSizeBox(PlatWindow hwnd, Point client) {
  PlatRect c;
  if (!PlatGetClientRect(hwnd, &c)) return false;
  const int32 bw = PlatGetSystemMetric(kPlatMetricSizeBoxWidth), bh = PlatGetSystemMetric(kPlatMetricSizeBoxHeight);
  return client.h >= c.right - bw && client.h < c.right && client.v >= c.bottom - bh && client.v < c.bottom;
}

PlatResult Mouse(PlatWindow hwnd, WindowRef w, WindowRecord* r, uint32_t message, PlatWParam wParam,
                 PlatLParam lParam) {
  const Point client = ClientPoint(lParam);
  WEventRecord e{};
  e.window = w;
  switch (message) {
    case kPlatMsgMouseMove: e.code = weMouseMove; break;
    case kPlatMsgLButtonDown:
      if ((r->style & kWStyleResizable) && InSizeBox(hwnd, client)) {
        // The host sizes the window from its corner.
        PlatSetCursor(PlatLoadSystemCursor(kPlatCursorSizeNWSE));
        WForgetHostCursor();
        int32_t x = client.h, y = client.v;
        PlatClientToScreen(hwnd, &x, &y);
        // The engine keeps its time while the host's sizing loop runs.
        if (WEngineState() != 0) WSetModalPump(1);
        const PlatResult result = Def(hwnd, kPlatMsgNcLButtonDown, kPlatHtBottomRight, PlatMakeLParam(x, y));
        WSetModalPump(0);
        return result;
      }
      e.code = weMouseDown;
      break;
    case kPlatMsgLButtonUp:
    case kPlatMsgRButtonUp: e.code = weMouseUp; break;
    case kPlatMsgRButtonDown: e.code = wePopupClick; break;
    default: return Def(hwnd, message, wParam, lParam);
  }
  if (!r->active) return Def(hwnd, message, wParam, lParam);
  const Point lastGlobal = WLastMousePoint();
  e.modifiers = WGetModifiers();
  WFillMousePoint(w, &e, &client);
  if (e.code == weMouseMove) {
    if (WGlobalMousePoint().v == lastGlobal.v && WGlobalMousePoint().h == lastGlobal.h) e.code = weMouseIdle;
  } else if (e.code == weMouseDown || e.code == wePopupClick) {
    e.modifiers |= WClickCount(PlatGetMessageTime(), WGlobalMousePoint(), e.code == weMouseDown ? 1 : 2);
  }
  WDispatchEvent(&e);
  return 0;
}

PlatResult Wheel(WindowRef w, PlatWParam wParam, PlatLParam lParam) {
  WEventRecord e{};
  e.code = kWEvWheel;
  e.window = w;
  e.modifiers = WGetModifiers();
  const float notches = float(PlatHighWord(intptr_t(wParam))) / float(kPlatWheelStep);
  std::memcpy(&e.character, &notches, sizeof notches);
  const Point client = ClientPoint(lParam);
  WFillMousePoint(w, &e, &client);
  WDispatchEvent(&e);
  return 0;
}

PlatResult Activate(PlatWindow hwnd, WindowRef w, WindowRecord* r, PlatWParam wParam, PlatLParam lParam) {
  const bool activating = wParam != kPlatWaInactive;
  if (!activating && r->visible && WTracking()) {
    const PlatWindow menu = gHooks.openMenuWindow ? gHooks.openMenuWindow() : 0;
    if (!menu || PlatWindow(lParam) != menu) WSetTrackState(2);
  }
  WForgetHostCursor();
  const uInt32 style = r->style;
  const bool floating = (style & (kWStyleFloating | kWStyleModal)) == kWStyleFloating;
  r->active = floating ? r->visible : (activating ? 1 : 0);
  if (activating && !(style & (kWStyleModal | kWStyleFloating))) {
    const WindowRef modal = WFrontModal();
    if (modal && modal != w) {
      // A modal window is in front: the activation is refused.
      r->active = 0;
      PostToFrame(kWFrameActivation);
      RaiseHost(WHostWindow(modal), false);
      return 0;
    }
  }
  if (activating && !floating) WSetActiveWindow(w);
  return Def(hwnd, kPlatMsgActivate, wParam, lParam);
}

PlatResult PosChanging(PlatWindow hwnd, const WindowRecord* r, PlatLParam lParam) {
  auto* pos = reinterpret_cast<PlatWindowPos*>(lParam);
  if (!pos || (pos->flags & kPlatSwpNoZOrder) || (r->style & (kWStyleModal | kWStyleFloating)) ||
      hwnd == PlatGetFrameWindow())
    return 0;
  const PlatWindow front = WHostWindow(WFrontModal());
  if (!front || front == hwnd || !PlatIsWindowVisible(front) || pos->insertAfter == front) return 0;
  // The window goes directly behind the front window, which takes its place.
  PlatSetWindowPos(front, pos->insertAfter, 0, 0, 0, 0, kPlatSwpNoMove | kPlatSwpNoSize | kPlatSwpNoActivate);
  pos->insertAfter = front;
  return 0;
}

PlatResult SysColorChange(WindowRef w) {
  DBPrintf("WM_SYSCOLORCHANGE message received");
  if (WTakeHostPlacement(w) & 4) {
    DBPrintf("\tWRecalcColorDepth returned color depth change");
    IFreeHostBitmaps();
    if (gHooks.rebuildToolBar) gHooks.rebuildToolBar();
  }
  // The layer's windows have no child windows to pass it on to.
  return 0;
}

PlatResult KeyMenu(PlatWindow hwnd, WindowRef w, PlatWParam wParam, PlatLParam lParam) {
  if (lParam == ' ') {
    WSetModalPump(1);
    return Def(hwnd, kPlatMsgSysCommand, wParam, lParam);
  }
  WEventRecord e{};
  e.code = weKey;
  e.modifiers = WGetModifiers();
  e.keyCode = vkPopupMenuBar;
  gMenuKeyPassOn = 1;
  if (!WTracking()) DispatchKey(w, &e);
  if (gMenuKeyPassOn == 1) return Def(hwnd, kPlatMsgSysCommand, wParam, lParam);
  return 0;
}

}  // namespace

PlatResult QXDChildWinProc(PlatWindow hwnd, uint32_t message, PlatWParam wParam, PlatLParam lParam) {
  const WindowRef w = WFindWindowByHwnd(hwnd);
  WindowRecord* r = WRecord(w);
  if (message == kPlatMsgGetMinMaxInfo) {
    MinMax(r, lParam);
    return 0;
  }
  if (!r || r->disposing || WInAlert()) return Def(hwnd, message, wParam, lParam);
  if (message == kPlatMsgSize) {
    if (wParam == kPlatSizeMinimized) {
      if (r->active) {
        r->active = 0;
        SendSimple(w, weWindDeactivate);
      }
      if ((r = WRecord(w)) && r->visible) {
        r->visible = 0;
        SendSimple(w, weWindHide);
      }
      return Def(hwnd, message, wParam, lParam);
    }
    if (hwnd == PlatGetActiveWindow() && !r->active) r->active = 1;
    r->visible = PlatIsWindowVisible(hwnd) ? 1 : 0;
    if (WTakeHostPlacement(w) & 1) SendSimple(w, weWindSize, (PlatGetKeyState(kPlatVkLButton) & 0x8000) ? 0 : 1);
    return Def(hwnd, message, wParam, lParam);
  }
  if (PlatIsIconic(hwnd)) return Iconic(hwnd, w, r, message, wParam, lParam);

  const bool input = (message >= kPlatMsgKeyFirst && message <= kPlatMsgKeyLast) ||
                     (message >= kPlatMsgMouseFirst && message <= kPlatMsgMouseLast);
  if (input && WTracking()) {
    DBPrintf("ignoring track event in QXDChildWinProc");
    return 0;
  }
  WEventRecord e{};
  e.window = w;
  switch (message) {
    case kPlatMsgActivate: return Activate(hwnd, w, r, wParam, lParam);
    case kPlatMsgMove: {
      const uInt32 changed = WTakeHostPlacement(w);
      if (changed & 2) SendSimple(w, weWindMove);
      if (changed & 4) WInvalRect(w, nullptr);
      return 0;
    }
    case kPlatMsgSysColorChange: return SysColorChange(w);
    case kPlatMsgPaint: WRedraw(hwnd); return 0;
    case kPlatMsgWindowPosChanging: return PosChanging(hwnd, r, lParam);
    case kPlatMsgSetCursor:
      if (PlatLowWord(lParam) == kPlatHtClient) {
        const int32 over = WCursorOverride();
        WSetHostCursor(over ? over : r->active ? r->cursor : -1);
      }
      return Def(hwnd, message, wParam, lParam);
    case kPlatMsgMouseActivate: return MouseActivate(w, r, lParam);
    case kPlatMsgKeyDown:
      if (WTranslateKeyDown(lParam, uInt32(wParam), &e)) return DispatchKey(w, &e);
      return 0;
    case kPlatMsgKeyUp:
      if (WTranslateKeyDown(lParam, uInt32(wParam), &e) && e.code == weMouseIdle) return DispatchKey(w, &e);
      return Def(hwnd, message, wParam, lParam);
    case kPlatMsgChar:
      if (WTranslateChar(lParam, uInt32(wParam), &e)) DispatchKey(w, &e);
      return 0;
    case kPlatMsgSysKeyDown:
      if (wParam == kPlatVkF10 && gOptions.useAllFKeys) {
        e.code = weKey;
        e.modifiers = WGetModifiers();
        e.keyCode = vkF10;
        return DispatchKey(w, &e);
      }
      return Def(hwnd, message, wParam, lParam);
    case kPlatMsgSysChar:
      if (wParam == ' ') return Def(hwnd, message, wParam, lParam);
      if (WTranslateChar(lParam, uInt32(wParam), &e)) {
        e.keyCode = vkPopupMenuBar;
        DispatchKey(w, &e);
      }
      return 0;
    case kPlatMsgSysCommand:
      if (wParam == kPlatScClose) return SysCommandClose(w, r);
      if (wParam == kPlatScKeyMenu) return KeyMenu(hwnd, w, wParam, lParam);
      return Def(hwnd, message, wParam, lParam);
    case kPlatMsgNcHitTest:
    case kPlatMsgNcActivate:
      WForgetHostCursor();
      if (message == kPlatMsgNcActivate && wParam && (r->style & (kWStyleFloating | kWStyleModal)) == kWStyleFloating)
        PostToFrame(kWFrameActivation);
      return Def(hwnd, message, wParam, lParam);
    case kPlatMsgEnterMenuLoop: WSetModalPump(1); return Def(hwnd, message, wParam, lParam);
    case kPlatMsgDropFiles:
      if (gHooks.dropFiles) gHooks.dropFiles(w, wParam);
      else DragDropFiles(w, uInt32(wParam));
      return 0;
    case kPlatMsgQueryNewPalette: return 1;
    case kPlatMsgMouseWheel: return Wheel(w, wParam, lParam);
    case kPlatMsgMouseMove:
    case kPlatMsgLButtonDown:
    case kPlatMsgLButtonUp:
    case kPlatMsgRButtonDown:
    case kPlatMsgRButtonUp: return Mouse(hwnd, w, r, message, wParam, lParam);
    default: return Def(hwnd, message, wParam, lParam);
  }
}

namespace {

void FollowActivation() {
  if (!PlatGetActiveWindow() || WNativeModal()) return;
  if (const WindowRef modal = WFrontModal()) {
    RaiseHost(WHostWindow(modal), false);
    return;
  }
  // The topmost visible window that is not floating becomes active.
  WindowRef order[64];
  const int32 n = WWindowsInOrder(order, 64);
  for (int32 i = 0; i < n && i < 64; ++i) {
    const WindowRecord* r = WRecord(order[i]);
    if (!r || !r->visible || (r->style & (kWStyleFloating | kWStyleModal)) == kWStyleFloating) continue;
    if (PlatGetActiveWindow() != r->hwnd) PlatSetActiveWindow(r->hwnd);
    return;
  }
}

void ActivateApp(bool active) {
  WSetAppInactive(active ? 0 : 1);
  if (!active) {
    WForgetActive(WGetActiveWindow());
    SendToRoot(kWEvAppDeactivated);
  } else {
    if (gHooks.quitIfNoVIWindows) gHooks.quitIfNoVIWindows();
    SendToRoot(kWEvAppActivated);
  }
  WShowFloaters(active ? 0 : 1, WFrontModal() != kWNoWindow);
  if (active) {
    gPaletteRealised = false;
    if (WClipboardChanged()) {
      WSetClipboardChanged(0);
      SendToRoot(kWEvClipboardChanged);
    }
  }
}

void DrawClipboard(PlatWindow hwnd, PlatWParam wParam, PlatLParam lParam) {
  if (WNestingLevel() == 0 || WAppInactive()) {
    if (PlatOpenClipboard(hwnd)) {
      if (PlatIsClipboardFormatAvailable(kPlatClipText) || PlatIsClipboardFormatAvailable(kPlatClipOemText))
        WSetClipboardKind(kWClipText);
      else if (PlatIsClipboardFormatAvailable(kPlatClipBitmap) || PlatIsClipboardFormatAvailable(kPlatClipMetafile))
        WSetClipboardKind(kWClipPicture);
      PlatCloseClipboard();
    }
  }
  WSetClipboardChanged(1);
  if (gNextViewer) PlatSendMessage(gNextViewer, kPlatMsgDrawClipboard, wParam, lParam);
  if (!gOptions.lazyUpdateClipboard && WClipboardChanged()) {
    WSetClipboardChanged(0);
    SendToRoot(kWEvClipboardChanged);
  }
}

// The frame's engine-time message: the engine's slice, then the events
// counted now are taken one level deeper.
void EngineTime() {
  WGiveEngineSlice(WEngineState() == 1);
  WAdjustNesting(1);
  const int32 n = WCountPendingEvents();
  for (int32 i = 0; i < n; ++i) {
    WEventRecord e;
    if (!WGetNextEvent(&e)) break;
    WDispatchEvent(&e);
  }
  WAdjustNesting(-1);
}

}  // namespace

PlatResult QXFrameProc(PlatWindow hwnd, uint32_t message, PlatWParam wParam, PlatLParam lParam) {
  switch (message) {
    case kPlatMsgActivate: PlatPostMessage(hwnd, kWFrameActivation, 0, 0); return 0;
    case kPlatMsgDestroy:
      PlatChangeClipboardChain(hwnd, gNextViewer);
      gNextViewer = 0;
      return 0;
    case kPlatMsgClose:
    case kPlatMsgQueryEndSession: {
      WEventRecord e{};
      e.code = kWEvQuit;
      e.window = WRootWindow();
      if (e.window) WDispatchEvent(&e);
      return WQuitting();
    }
    case kPlatMsgActivateApp: ActivateApp(wParam != 0); return 0;
    case kPlatMsgGetMinMaxInfo: MinMax(nullptr, lParam); return 0;
    case kPlatMsgWindowPosChanging:
      if (auto* pos = reinterpret_cast<PlatWindowPos*>(lParam))
        pos->flags |= kPlatSwpNoSize | kPlatSwpNoMove | kPlatSwpNoActivate;
      return 0;
    case kPlatMsgDrawClipboard: DrawClipboard(hwnd, wParam, lParam); return 0;
    case kPlatMsgChangeCbChain:
      if (PlatWindow(wParam) == gNextViewer) gNextViewer = PlatWindow(lParam);
      else if (gNextViewer) PlatSendMessage(gNextViewer, message, wParam, lParam);
      return 0;
    case kPlatMsgQueryNewPalette: return 0;  // the layer's screens have no palette to realise
    case kPlatMsgPaletteChanged:
      if (PlatWindow(wParam) != hwnd) {
        WInvalRect(kWAllWindows, nullptr);
        DBPrintf("QXFrameProc: WM_PALETTECHANGED but no gDefaultWinPalette !!");
      }
      return 0;
    case kWFrameNetwork:
      if (gHooks.networkNotify) gHooks.networkNotify(wParam, lParam);
      return 0;
    case kWFrameProdDriver:
      if (gHooks.prodDriver) gHooks.prodDriver(uInt32(lParam));
      return 0;
    case kPlatMsgCommNotify:
      if (gHooks.commNotify) gHooks.commNotify(wParam);
      return 0;
    case kWFrameOccurrence:
      OccurFrameNotify(lParam);
      return 0;
    case kWFrameEngineTime: EngineTime(); return 0;
    case kWFrameActivation: FollowActivation(); return 0;
    default: return Def(hwnd, message, wParam, lParam);
  }
}

PlatResult QXMenuWndProc(PlatWindow hwnd, uint32_t message, PlatWParam wParam, PlatLParam lParam) {
  switch (message) {
    case kPlatMsgPaint: WRedraw(hwnd); return 0;
    case kPlatMsgEraseBackground: return 1;
    case kPlatMsgGetMinMaxInfo: MinMax(WRecord(WFindWindowByHwnd(hwnd)), lParam); return 0;
    case kPlatMsgWindowPosChanging:
      if (auto* pos = reinterpret_cast<PlatWindowPos*>(lParam)) pos->flags |= kPlatSwpNoActivate;
      return 0;
    default: return Def(hwnd, message, wParam, lParam);
  }
}

void WSetWinProcOptions(const WWinProcOptions& options) { gOptions = options; }
WWinProcOptions WGetWinProcOptions() { return gOptions; }
void WSetNextClipboardViewer(PlatWindow next) { gNextViewer = next; }
void WClaimMenuKey() { gMenuKeyPassOn = 0; }

WWinProcHooks WSetWinProcHooks(const WWinProcHooks& hooks) {
  return SetGivenHooks(&gHooks, hooks, &WWinProcHooks::rebuildToolBar, &WWinProcHooks::quitIfNoVIWindows,
                       &WWinProcHooks::networkNotify, &WWinProcHooks::prodDriver, &WWinProcHooks::commNotify,
                       &WWinProcHooks::dropFiles, &WWinProcHooks::openMenuWindow);
}
