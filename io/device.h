// The device module: the timer service of the execution engine.
//
// A tick thread counts the countdown register (the engine's time-slice
// clock, read with GetCDReg) down once per "CDIntervalTicks" milliseconds and
// calls the engine's tick procedure after each tick; a device thread waits
// for device work; and the user-interface thread's wake-up event is made
// here, so that InterruptSafeOccur and posted events can wake an idle main
// loop.
#pragma once
#include "engine/exec/exectimer.h"
#include "mgsource/extcode.h"
#include "mgsource/thread.h"

// Starts the tick and device threads and makes the wake-up event: 0, or the
// error of a creation, with nothing left made.
QX_EXTERN_C MgErr InitDeviceTimers();
// Stops both threads and disposes the wake-up event; 0.
QX_EXTERN_C MgErr DevTimerShutdown();

// The countdown register: SetCDReg(0) makes the running clump's slice expire.
QX_EXTERN_C int32 GetCDReg();
QX_EXTERN_C void SetCDReg(int32 value);
// The register's address, which compiled code is given.
ExecCountdown* DevCountdownRegister();

// Gives an execution context the word it polls: the countdown register when
// shared is set (only the user-interface thread runs clumps), else its own
// word; and the data segment selector as the second word.
QX_EXTERN_C void InitContextCountdown(ExecCountdown** countdown, int32* dataSegment, ExecCountdown* own,
                                      Bool32 shared);

// The user-interface thread's wake-up event while the service runs, else none.
ThEvent DevWakeUpEvent();
// The engine's procedure, called after every tick (none: no call).
void DevSetTickProc(ExecTickProc proc);
// The tick interval in force and the "useAsyncDeviceCalls" setting.
int32 DevTickInterval();
Bool32 DevUseAsyncCalls();

// The modal pump's request word: while on, the device thread sends the
// frame window message 1027 (engine time) every millisecond.
void DevSetModalPump(Bool32 on);
// Hands the service to the execution engine and the modal pump to the main
// loop; called at start-up before InitExec.
void DevInstallTimerService();

// Test hooks: the two threads while the service runs.
ThThread DevTestTickThread();
ThThread DevTestDeviceThread();
