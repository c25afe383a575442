// The timer service as the execution systems see it.
//
// The service itself (the tick and device threads, the countdown register
// and the user-interface thread's wake-up event) lives in the device layer
// above the engine, which fills this table at start-up.  Until then each
// entry answers that no timer service is there.
#pragma once
#include "execrec.h"

typedef void (*ExecTickProc)();

struct ExecTimerService {
  // Starts the tick and device threads; 0 or the error that stopped it.
  MgErr (*start)();
  // Stops both threads.
  void (*shutdown)();
  // The user-interface thread's wake-up event, or none.
  ThEvent (*wakeUpEvent)();
  // Gives a context the countdown register it polls (the global register
  // when shared is set, else own) and the service's second word.
  void (*initContextCountdown)(ExecCountdown** countdown, int32* second, ExecCountdown* own, Bool32 shared);
  // The procedure called after every tick (none: no call).
  void (*setTickProc)(ExecTickProc proc);
};

// The engine's alternate mode flag: while it is set when the service
// starts, the tick thread counts every millisecond.  Clear at start; nothing
// in the engine sets it.
Bool32 ExecAltModeFlag();
void ExecSetAltModeFlag(Bool32 on);

// Installs the service's entries; none restores the absent service.  Called
// once at start-up, before InitExec.
void ExecSetTimerService(const ExecTimerService* service);
const ExecTimerService& ExecTimer();
