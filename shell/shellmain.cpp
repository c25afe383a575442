#include "shell/shellmain.h"

#include <cstdio>

#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "engine/exec/callchain.h"
#include "engine/exec/exectimer.h"
#include "engine/vi/viinst.h"
#include "mgsource/memory.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_uitest.h"
#include "shell/background.h"
#include "shell/eventfilter.h"
#include "shell/toplevel.h"
#include "shell/shellinit.h"

namespace {

ShellMainHooks gHooks{};
int32 gResult = 0;
bool gLoopRunning = false;

}  // namespace

void BuildAppNames(AppNames* names, const char* baseName) {
  if (!baseName || !*baseName) DBAssert(__FILE__, __LINE__, "BuildAppNames: no base name");
  if (!baseName) baseName = "";
  names->rsrcSlot = 0;
  if (IsBuiltApp()) {
    std::snprintf(names->shortName, sizeof names->shortName, "%.255s", baseName);
    std::snprintf(names->displayName, sizeof names->displayName, "%.255s", baseName);
  } else {
    std::snprintf(names->shortName, sizeof names->shortName, "%s%s", "QX", "RT");
    std::snprintf(names->displayName, sizeof names->displayName, "%s Runtime", "Quenlix");
  }
  std::snprintf(names->className, sizeof names->className, "%sRT", "QX");
}

void ShellSetMainHooks(const ShellMainHooks& hooks) { gHooks = hooks; }
const ShellMainHooks& ShellMainHooksInUse() { return gHooks; }

int32 WMain() {
  gResult = 0;
  if (MgErr err = ShellInit()) return gResult = err;
  // The program's own start: the run-time function table complete before
  // the first VI loads.
  if (gHooks.startEngine) {
    if (MgErr err = gHooks.startEngine()) {
      ShellShutDown();
      if (gHooks.afterEngine) gHooks.afterEngine();
      return gResult = err;
    }
  }
  // The hidden root VI.
  if (MgErr err = InitInstr()) DBMgErr(__FILE__, __LINE__, err, "InitInstr");
  if (gHooks.panelClipboard) gHooks.panelClipboard(1);
  if (gHooks.loadCursors) gHooks.loadCursors();
  AZSetMemFullProc(gHooks.memFullProc ? gHooks.memFullProc : &MemFullProcedure);
  WSetEventHandler(kWRootWindow, &ShellEventFilter);
  if (gHooks.autoLaunch) gHooks.autoLaunch();
  else AutoLaunchVIs();
  // The loop gives the engine its slices and sleeps on the device layer's
  // wake-up event, which other threads signal when they post or set an
  // occurrence.
  ShellReadMainLoopOptions();
  if (ThEvent wake = ExecTimer().wakeUpEvent ? ExecTimer().wakeUpEvent() : nullptr) WEventSetWakeUp(wake);
  WEventSetGate(1);
  // An input script's waits turn this loop until it has nothing to do.
  PlatUiSetIdleHook(&ShellIdleTurn);
  const Bool32 ended = gHooks.beforeLoop ? gHooks.beforeLoop() : 0;
  if (!ended) {
    gLoopRunning = true;
    while (!WQuitting()) WMainLoop(1, 0);
    gLoopRunning = false;
  }
  PlatUiSetIdleHook(nullptr);
  if (gHooks.afterLoop) gHooks.afterLoop();
  // The wake-up event ends with the device layer.
  WEventSetWakeUp(nullptr);
  if (gHooks.panelClipboard) gHooks.panelClipboard(0);
  ExitInstr();
  RunCleanupProcs(nullptr);
  DisposeQuitNotifications();
  if (gHooks.stopEngine) gHooks.stopEngine();
  ShellShutDown();
  if (gHooks.afterEngine) gHooks.afterEngine();
  return 0;
}

int32 WMainResult() { return gResult; }
Bool32 ShellMainLoopRunning() { return gLoopRunning ? 1 : 0; }

void ShellInstallEntryHooks(WStartupHooks hooks) {
  hooks.buildAppNames = &BuildAppNames;
  hooks.wMain = &WMain;
  WSetStartupHooks(hooks);
}
