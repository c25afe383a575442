// The main loop, the idle wait, the modal pump and mouse tracking.
#include "mgsource/window/mainloop.h"

#include <atomic>
#include <cstring>

#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/hookset.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "mgsource/window/wmisc.h"
#include "mgsource/window/wport.h"
#include "platform/qx_display.h"
#include "platform/qx_input.h"

namespace {

WMainLoopHooks gHooks{};

// The loop's state; the user-interface thread's alone, but for the quit
// flag, which WQuit may set from a handler of any loop.
int32 gNesting = 0;
bool gKeepRunning = true;
std::atomic<bool> gQuit{false};
int32 gRootLoops = 0;
int32 gMsgFlag = 0;
bool gCheckQueueMsgTime = false;
int32 gEngineState = 0;
uInt32 gLastSlice = 0;
bool gModalPump = false;
bool gTracking = false;
int32 gTrackState = 0;
int32 gCursorOverride = 0;
ThEvent gOwnWakeUp = nullptr;

void PushLoopState() { WEventSetLoopState(gNesting, gTracking ? 1 : 0); }

int32 ExecState() { return gHooks.execState ? gHooks.execState() : 0; }

// The event the idle loop sleeps on: the one start-up gave the queue, else
// one of the loop's own given to it.
ThEvent WakeUp() {
  if (ThEvent e = WEventWakeUp()) return e;
  if (!gOwnWakeUp && ThEventCreate(&gOwnWakeUp, "WMainLoopWakeUp", 0) != kNoErr) gOwnWakeUp = nullptr;
  if (gOwnWakeUp) WEventSetWakeUp(gOwnWakeUp);
  return gOwnWakeUp;
}

void IdleWait(uInt32 timeoutMs) {
  if (ThEvent e = WakeUp()) ThEventWaitPumping(e, timeoutMs);
}

bool Peek(PlatMsg* m) { return PlatPeekMessage(m, 0, 0, 0, kPlatPeekRemove); }

bool IsEngineTime(const PlatMsg& m) { return m.message == kPlatMsgUser3 && m.window && m.window == PlatGetFrameWindow(); }

bool IsInput(uint32_t message) {
  return (message >= kPlatMsgKeyFirst && message <= kPlatMsgKeyLast) ||
         (message >= kPlatMsgMouseFirst && message <= kPlatMsgMouseLast);
}

// The top-level window of a host window: the layer's windows are all
// top-level (owned windows have no parent), so each is its own.
PlatWindow TopLevelOf(PlatWindow w) { return w; }

// Step 3 of a turn: the message goes out, to its top-level window first.
void DispatchTurnMessage(PlatMsg* m) {
  WSetGlobalMousePoint(Point{int16(m->y), int16(m->x)});
  PlatTranslateMessage(m);
  if (gEngineState != 0 && m->message == kPlatMsgNcLButtonDown) WSetModalPump(1);
  const PlatMsg kept = *m;
  gMsgFlag = 1;
  bool readdressed = false;
  if (IsInput(m->message) && m->window && m->window != PlatGetCapture()) {
    const PlatWindow top = TopLevelOf(m->window);
    if (top != m->window) {
      m->window = top;
      readdressed = true;
    }
  }
  PlatDispatchMessage(m);
  if (readdressed) {
    if (gMsgFlag) {
      DBPrintf("%s child msg is %lx", "SENT", long(kept.message));
      PlatDispatchMessage(&kept);
    } else {
      DBPrintf("swallowed %lx", long(kept.message));
    }
  }
  WSetModalPump(0);
}

bool SliceDue(bool hadMsg, uInt32 msgTime) {
  return !hadMsg || (gCheckQueueMsgTime && MillisecCmp(msgTime, gLastSlice) > 0);
}

}  // namespace

int32 WGiveEngineSlice(Bool32 shortSlice) {
  const bool keep = WIsAtRootLevel() != 0;
  if (keep) WSetKeptPortMode(1);
  gEngineState = gHooks.background ? gHooks.background(shortSlice) : 0;
  if (keep) {
    WSetKeptPortMode(0);
    WDropKeptPort();
  }
  gLastSlice = MilliSecs();
  return gEngineState;
}

Bool32 WMainLoop(Bool32 wait, int32 /*reserved*/) {
  gEngineState = ExecState();
  WEndTrack();
  ++gNesting;
  PushLoopState();
  // The wake-up event is the queue's before the first look at the queue, so
  // that no post between that look and the wait goes unsignalled.
  WakeUp();
  bool hadMsg = false;
  while (!gQuit.load() && gKeepRunning) {
    PlatMsg m{};
    hadMsg = Peek(&m);
    if (!hadMsg && wait && gEngineState != 2 && WCountPendingEvents() == 0) {
      IdleWait(kThWaitForever);
      hadMsg = Peek(&m);
    }
    if (hadMsg && IsEngineTime(m)) {
      PlatReplyMessage(0);
      hadMsg = false;
    }
    if (hadMsg) DispatchTurnMessage(&m);
    if (gQuit.load()) break;
    WEventRecord e;
    if (WGetNextEvent(&e)) {
      if (e.code == kWEvLeaveRootLoop) {
        if (gRootLoops && gNesting == 1) break;
        // Dropped: the turn ends here.
        if (!wait) gKeepRunning = false;
        continue;
      }
      WDispatchEvent(&e);
    }
    // A memory failure (here or on an execution thread) first gets the
    // application's memory-full procedure, between events, then its alert.
    if (MemFullPending(nullptr)) {
      if (MemFullProc proc = AZMemFullProc()) proc(0, 0);
      MemFullAlert(0, 7);
    }
    if (gHooks.popupMenuWork) gHooks.popupMenuWork();
    ChkOccurrences();
    if (SliceDue(hadMsg, m.time)) WGiveEngineSlice(WAppInactive());
    else gEngineState = ExecState();
    if (gNesting == 1 && MemCompactRequested()) AZCompact();
    if (wait && gCursorOverride) WSetCursor(0);
    if (!wait) gKeepRunning = false;
  }
  gKeepRunning = true;
  --gNesting;
  PushLoopState();
  return hadMsg ? 1 : 0;
}

void WQuitNestedMainLoop() { gKeepRunning = false; }

void WQuit() {
  gQuit.store(true);
  WSetQuitting(1);
  PlatPostQuitMessage(0);
}

void WPostQuitEvent() {
  WEventRecord e{};
  e.code = kWEvQuit;
  e.window = kWRootWindow;
  WPostEvent(&e, 1, kWPostTopLevel);
}

void WRunRootMainLoop() {
  const int32 savedNesting = gNesting;
  const WindowRef savedCurrent = WExchangeCurrentPort(kWNoWindow);
  gNesting = 0;
  PushLoopState();
  ++gRootLoops;
  WMainLoop(1, 0);
  --gRootLoops;
  gNesting = savedNesting;
  PushLoopState();
  // A window the loop freed is not made current again.
  WExchangeCurrentPort(savedCurrent);
}

Bool32 WIsAtRootLevel() { return gNesting + (gTracking ? 1 : 0) < 2 ? 1 : 0; }

void WSetModalPump(Bool32 on) {
  const bool want = on != 0;
  if (want == gModalPump) return;
  gModalPump = want;
  if (gHooks.modalPump) gHooks.modalPump(on);
  if (!want) {
    // The engine-time messages still waiting are answered and dropped.
    const PlatWindow frame = PlatGetFrameWindow();
    PlatAnswerPendingSends(frame, kPlatMsgUser3);
    PlatMsg m;
    while (frame && PlatPeekMessage(&m, frame, kPlatMsgUser3, kPlatMsgUser3, kPlatPeekRemove)) {
    }
  }
}

Bool32 WIdleWaitTime(Bool32 hasDeadline, uInt32 deadline, uInt32* timeoutMs) {
  if (WCountPendingEvents() > 0) return 0;
  uInt32 t = kThWaitForever;
  if (hasDeadline) {
    const int32 left = MillisecCmp(deadline, MilliSecs());
    if (left <= 0) return 0;
    t = uInt32(left > 1 ? left - 1 : left);
  }
  if (timeoutMs) *timeoutMs = t;
  return 1;
}

int32 WSetCursor(int32 cursor) {
  const int32 previous = gCursorOverride;
  gCursorOverride = cursor;
  if (cursor) {
    WSetHostCursor(cursor);
  } else {
    const WindowRecord* r = WRecord(WActiveDocWind());
    WSetHostCursor(r ? r->cursor : -1);
  }
  return previous;
}

int32 WCursorOverride() { return gCursorOverride; }

void WStartTrack() {
  if (gTracking) {
    DBAssert(__FILE__, __LINE__, "tracking started while tracking");
    return;
  }
  gTracking = true;
  gTrackState = 0;
  PushLoopState();
  if (const PlatWindow hw = WHostWindow(WCurrentPort())) PlatSetCapture(hw);
}

void WEndTrack() {
  if (!gTracking) return;
  PlatReleaseCapture();
  gTracking = false;
  PushLoopState();
}

namespace {

bool TrackOver() { return !gTracking || WAppInactive() || gTrackState == 2; }

void EndWith(WEventRecord* event, WEventCode code) {
  event->code = code;
  if (code == kWEvTrackOver) gTrackState = 1;
}

// A message for the tracked window: true when it ends the wait.
bool TrackMessage(PlatMsg* m, WEventRecord* event) {
  const WindowRef w = event->window;
  const Point client{int16(PlatHighWord(m->lParam)), int16(PlatLowWord(m->lParam))};
  bool mouse = true;
  switch (m->message) {
    case kPlatMsgMouseWheel: {
      event->code = kWEvWheel;
      event->modifiers = WGetModifiers();
      const float notches = float(PlatHighWord(intptr_t(m->wParam))) / float(kPlatWheelStep);
      std::memcpy(&event->character, &notches, sizeof notches);
      WFillMousePoint(w, event, &client);
      return true;
    }
    case kPlatMsgMouseMove: event->code = weMouseMove; break;
    case kPlatMsgLButtonDown: event->code = weMouseDown; break;
    case kPlatMsgLButtonUp:
    case kPlatMsgRButtonUp: event->code = weMouseUp; break;
    case kPlatMsgRButtonDown: event->code = wePopupClick; break;
    // A middle-button message ends the wait as an idle event.
    case kPlatMsgMButtonDown:
    case kPlatMsgMButtonUp: event->code = weMouseIdle; break;
    case kPlatMsgKeyDown:
    case kPlatMsgSysKeyDown:
    case kPlatMsgChar:
    case kPlatMsgSysChar: {
      mouse = false;
      const bool sys = m->message == kPlatMsgSysKeyDown || m->message == kPlatMsgSysChar;
      bool made;
      if (m->message == kPlatMsgKeyDown || m->message == kPlatMsgSysKeyDown) {
        PlatTranslateMessage(m);
        made = WTranslateKeyDown(m->lParam, uInt32(m->wParam), event) != 0;
      } else {
        made = WTranslateChar(m->lParam, uInt32(m->wParam), event) != 0;
      }
      if (!made) return false;
      if (sys) event->keyCode = vkPopupMenuBar;
      event->window = w;
      WFillMousePoint(w, event, nullptr);
      return true;
    }
    case kPlatMsgCancelMode: return false;
    default: return false;
  }
  if (mouse) {
    const Point last = WLastMousePoint();
    event->modifiers = WGetModifiers();
    if (event->code == weMouseDown || event->code == wePopupClick) {
      int32_t x = client.h, y = client.v;
      PlatClientToScreen(m->window, &x, &y);
      event->modifiers |= WClickCount(m->time, Point{int16(y), int16(x)}, event->code == weMouseDown ? 1 : 2);
    }
    WFillMousePoint(w, event, &client);
    const Point now = WGlobalMousePoint();
    if (event->code == weMouseMove && now.v == last.v && now.h == last.h) event->code = weMouseIdle;
  }
  return true;
}

bool TrackHandled(uint32_t message) {
  switch (message) {
    case kPlatMsgMouseWheel:
    case kPlatMsgMouseMove:
    case kPlatMsgLButtonDown:
    case kPlatMsgLButtonUp:
    case kPlatMsgRButtonUp:
    case kPlatMsgRButtonDown:
    case kPlatMsgMButtonDown:
    case kPlatMsgMButtonUp:
    case kPlatMsgKeyDown:
    case kPlatMsgSysKeyDown:
    case kPlatMsgChar:
    case kPlatMsgSysChar:
    case kPlatMsgCancelMode: return true;
    default: return false;
  }
}

}  // namespace

void WMarkMsgHandled() { gMsgFlag = 0; }

void WGetTrackEvent(WEventRecord* event, int32 timeout) {
  if (!event) return;
  event->window = WCurrentPort();
  if (gTrackState == 1) {
    DBAssert(__FILE__, __LINE__, "a tracking event asked for after tracking ended");
    return;
  }
  if (TrackOver()) return EndWith(event, kWEvTrackOver);
  WakeUp();
  const PlatWindow hw = WHostWindow(event->window);
  const uInt32 deadline = MilliSecs() + uInt32(timeout);
  bool first = true;
  uInt32 lastMsgTime = 0;
  for (;;) {
    if (first || (gCheckQueueMsgTime && MillisecCmp(lastMsgTime, gLastSlice) > 0)) {
      WGiveEngineSlice(WAppInactive());
      first = false;
    }
    WEventRecord queued;
    if (WGetNextEvent(&queued)) {
      WDispatchEvent(&queued);
      if (TrackOver()) return EndWith(event, kWEvTrackOver);
      gEngineState = ExecState();
    }
    PlatMsg m{};
    bool got = Peek(&m);
    if (!got && timeout != 0 && gEngineState != 2) {
      uInt32 wait = 0;
      if (WIdleWaitTime(timeout != -1, deadline, &wait)) IdleWait(wait);
      got = Peek(&m);
    }
    bool goOn = false;
    if (got) {
      lastMsgTime = m.time;
      if (IsEngineTime(m)) {
        PlatReplyMessage(0);
      } else if (hw && m.window == hw && TrackHandled(m.message)) {
        if (TrackMessage(&m, event)) return;
      } else {
        if (m.message >= kPlatMsgKeyFirst && m.message <= kPlatMsgKeyLast) PlatTranslateMessage(&m);
        PlatDispatchMessage(&m);
        WSetModalPump(0);
        if (TrackOver()) return EndWith(event, kWEvTrackOver);
        goOn = timeout == -1 || MillisecCmp(m.time, deadline) < 0;
      }
    }
    if (goOn || timeout == -1) continue;
    if (MillisecCmp(MilliSecs(), deadline) >= 0) {
      event->code = weMouseIdle;
      event->modifiers = WGetModifiers();
      WFillMousePoint(event->window, event, nullptr);
      return;
    }
  }
}

int32 WNestingLevel() { return gNesting; }
Bool32 WQuitting() { return gQuit.load() ? 1 : 0; }
Bool32 WTracking() { return gTracking ? 1 : 0; }
int32 WTrackState() { return gTrackState; }
void WSetTrackState(int32 state) { gTrackState = state; }
Bool32 WModalPumpOn() { return gModalPump ? 1 : 0; }
int32 WEngineState() { return gEngineState; }
void WSetCheckQueueMsgTime(Bool32 on) { gCheckQueueMsgTime = on != 0; }

void WAdjustNesting(int32 delta) {
  gNesting += delta;
  PushLoopState();
}

WMainLoopHooks WSetMainLoopHooks(const WMainLoopHooks& hooks) {
  return SetGivenHooks(&gHooks, hooks, &WMainLoopHooks::background, &WMainLoopHooks::execState,
                       &WMainLoopHooks::popupMenuWork, &WMainLoopHooks::modalPump);
}

void WResetMainLoopHooks() { gHooks = WMainLoopHooks{}; }

void WResetMainLoop() {
  gQuit.store(false);
  WSetQuitting(0);
  gNesting = 0;
  gKeepRunning = true;
  gRootLoops = 0;
  gEngineState = 0;
  gModalPump = false;
  gTrackState = 0;
  gCursorOverride = 0;
  if (gTracking) WEndTrack();
  PushLoopState();
}
