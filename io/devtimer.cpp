// The timer service: the tick thread, the device thread, the countdown
// register and the user-interface thread's wake-up event.
#include <atomic>

#include "device.h"
#include "engine/exec/exectimer.h"
#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/occur.h"
#include "mgsource/window/mainloop.h"
#include "platform/qx_display.h"
#include "platform/qx_event.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_time.h"

namespace {

constexpr int32 kDefaultInterval = 55;
constexpr int32 kStopPollMs = 55;

const uChar kIntervalKey[] = "\x0f" "CDIntervalTicks";
const uChar kAsyncKey[] = "\x13" "useAsyncDeviceCalls";
const uChar kDefaultTimerKey[] = "\x0f" "useDefaultTimer";

struct TimerThread {
  ThThread thread = nullptr;
  std::atomic<int32> stop{0};
  std::atomic<int32> done{0};
};

std::atomic<int32> gInitialized{0};
int32 gInterval = kDefaultInterval;
Bool32 gUseAsync = 0;
TimerThread gTick;
TimerThread gDevice;
PlatEvent* gDeviceEvent = nullptr;
ExecCountdown gCountdown{0};
// The second countdown word beside the register, counted down on the same
// ticks.
ExecCountdown gSecondCountdown{0};
// The system timer period begun at start, 0 when none.
uInt32 gTimerPeriod = 0;
std::atomic<ExecTickProc> gTickProc{nullptr};

// The wake-up event, and the wake-ups under way: shut-down takes the event
// away and waits for them before it destroys it.
std::atomic<ThEvent> gWakeUpEvent{nullptr};
std::atomic<int32> gWakeUpsInFlight{0};

void WakeUpUserInterface() {
  gWakeUpsInFlight.fetch_add(1);
  if (ThEvent e = gWakeUpEvent.load()) ThEventSignal(e);
  gWakeUpsInFlight.fetch_sub(1);
}

void CountDown(ExecCountdown* word) {
  int32 v = word->load();
  while (v > 0 && !word->compare_exchange_weak(v, v - 1)) {
  }
}

int32 TickThread(void*) {
  ThThreadSetPriority(ThThreadCurrent(), OccurHardWaitTimeCritical() ? 3 : 4);
  while (!gTick.stop.load()) {
    WSleep(gInterval);
    CountDown(&gCountdown);
    CountDown(&gSecondCountdown);
    if (DBTimerProc proc = DBGetTimerProc()) proc();
    if (ExecTickProc proc = gTickProc.load()) proc();
  }
  gTick.done.store(1);
  return 0;
}

// The request word of the modal pump: while it is set the device thread
// sends the frame window an engine-time message each millisecond that
// passes without its event being set.
std::atomic<int32> gPumpRequest{0};

// The device thread serves the modal pump; otherwise it sleeps on its event
// until it is told to stop.
int32 DeviceThread(void*) {
  while (!gDevice.stop.load()) {
    if (!gPumpRequest.load()) {
      PlatEventWait(gDeviceEvent, kPlatWaitForever);
      continue;
    }
    if (PlatEventWait(gDeviceEvent, 1) != kPlatWaitTimeout) continue;
    const PlatWindow frame = PlatGetFrameWindow();
    // The send waits for the user-interface thread, which answers it inside
    // the host's modal loop or drops it when the pump ends.
    if (frame && gPumpRequest.load() && !gDevice.stop.load()) PlatSendMessage(frame, kPlatMsgUser3, 0, 0);
  }
  gDevice.done.store(1);
  return 0;
}

MgErr StartThread(TimerThread* t, ThThreadProc proc) {
  t->stop.store(0);
  t->done.store(0);
  return ThThreadCreate(&t->thread, proc, nullptr);
}

// Sets the stop flag and polls until the thread reports that it is done,
// waking it each round when it sleeps on an event.
void StopThread(TimerThread* t, PlatEvent* wake) {
  if (!t->thread) return;
  t->stop.store(1);
  while (!t->done.load()) {
    if (wake) PlatEventSet(wake);
    // A modal pump's send waiting for this thread must not hold the stop up.
    PlatAnswerPendingSends(0, kPlatMsgUser3);
    WSleep(kStopPollMs);
  }
  ThThreadDestroy(t->thread);
  t->thread = nullptr;
}

void DestroyWakeUpEvent() {
  OccurSetWakeUpHook(nullptr);
  ThEvent e = gWakeUpEvent.exchange(nullptr);
  while (gWakeUpsInFlight.load() != 0) WSleep(1);
  ThEventDestroy(e);
}

void DisposeAll() {
  gPumpRequest.store(0);
  StopThread(&gTick, nullptr);
  DestroyWakeUpEvent();
  StopThread(&gDevice, gDeviceEvent);
  if (gDeviceEvent) PlatEventDestroy(gDeviceEvent);
  gDeviceEvent = nullptr;
  if (gTimerPeriod) PlatTimerEndPeriod(gTimerPeriod);
  gTimerPeriod = 0;
}

// Asks the system timer for its finest period, unless the preferences leave
// the timer alone.  Problems are only reported.
void BeginTimerPeriod() {
  Bool32 useDefault = 0;
  CfgGetDefault(kCfgBool, kDefaultTimerKey, &useDefault);
  if (useDefault) return;
  uint32_t minMs = 0, maxMs = 0;
  if (int err = PlatTimerGetCaps(&minMs, &maxMs)) {
    DBPrintf("Failed to get timer's capabilities, err=%ld", long(err));
    return;
  }
  DBPrintf("timer min=%ld msec, max=%ld msec", long(minMs), long(maxMs));
  if (int err = PlatTimerBeginPeriod(minMs)) {
    DBPrintf("Failed to set the timer's resolution, err=%ld", long(err));
    return;
  }
  gTimerPeriod = minMs;
}

void ShutdownForEngine() { DevTimerShutdown(); }

}  // namespace

MgErr InitDeviceTimers() {
  if (gInitialized.load()) {
    DBAssert(__FILE__, __LINE__, "timer service started twice");
    return kNoErr;
  }
  // A negative interval means the default; so does 0, which would make the
  // tick thread spin.
  gInterval = kDefaultInterval;
  if (ExecAltModeFlag()) {
    gInterval = 1;
  } else {
    CfgGetDefault(kCfgInt, kIntervalKey, &gInterval);
    if (gInterval <= 0) gInterval = kDefaultInterval;
  }
  BeginTimerPeriod();

  MgErr err = StartThread(&gTick, TickThread);
  ThEvent wake = nullptr;
  if (!err) err = ThEventCreate(&wake, nullptr, 0);
  gWakeUpEvent.store(wake);
  if (!err) {
    gDeviceEvent = PlatEventCreate(false);
    if (!gDeviceEvent) err = kMemFullErr;
  }
  if (!err) err = StartThread(&gDevice, DeviceThread);
  if (err) {
    DisposeAll();
    return err;
  }
  gUseAsync = 0;
  CfgGetDefault(kCfgBool, kAsyncKey, &gUseAsync);
  OccurSetWakeUpHook(WakeUpUserInterface);
  gInitialized.store(1);
  return kNoErr;
}

MgErr DevTimerShutdown() {
  if (!gInitialized.exchange(0)) return kNoErr;
  DisposeAll();
  // Device calls made after the service has gone are synchronous.
  gUseAsync = 0;
  return kNoErr;
}

int32 GetCDReg() { return gCountdown.load(); }
void SetCDReg(int32 value) { gCountdown.store(value); }
ExecCountdown* DevCountdownRegister() { return &gCountdown; }

void DevSetSecondCountdown(int32 value) { gSecondCountdown.store(value); }
int32 DevSecondCountdown() { return gSecondCountdown.load(); }

int32 GetQXAppWindHandle(PlatWindow* window) {
  if (window) *window = PlatGetFrameWindow();
  return kPlatMsgUser2;
}

void InitContextCountdown(ExecCountdown** countdown, int32* dataSegment, ExecCountdown* own, Bool32 shared) {
  if (countdown) *countdown = shared ? &gCountdown : own;
  if (dataSegment) {
    uInt16 selector = 0;
    __asm__ volatile("mov %%ds, %0" : "=r"(selector));
    *dataSegment = selector;
  }
}

ThEvent DevWakeUpEvent() { return gWakeUpEvent.load(); }
void DevSetTickProc(ExecTickProc proc) { gTickProc.store(proc); }
int32 DevTickInterval() { return gInterval; }
Bool32 DevUseAsyncCalls() { return gUseAsync; }

void DevInstallTimerService() {
  static const ExecTimerService service = {InitDeviceTimers, ShutdownForEngine, DevWakeUpEvent,
                                           InitContextCountdown, DevSetTickProc};
  ExecSetTimerService(&service);
  WMainLoopHooks pump{};
  pump.modalPump = &DevSetModalPump;
  WSetMainLoopHooks(pump);
}

void DevSetModalPump(Bool32 on) {
  gPumpRequest.store(on ? 1 : 0);
  if (PlatEvent* e = gDeviceEvent) PlatEventSet(e);
}

ThThread DevTestTickThread() { return gTick.thread; }
ThThread DevTestDeviceThread() { return gDevice.thread; }
