#include "shell/shellmain.h"

#include <cstdio>

#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "engine/exec/exectimer.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/wevent.h"
#include "shell/background.h"
#include "shell/shellinit.h"

namespace {

ShellMainHooks gHooks{};

constexpr WEventCode kQuitEvent = -19;

// The quit event ends every loop: no event is delivered any more.
int32 RootHandler(WEventRecord* e, uInt32 refCon) {
  if (e->code == kQuitEvent) {
    WQuit();
    return 1;
  }
  return gHooks.rootEvent ? gHooks.rootEvent(e, refCon) : 0;
}

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

int32 WMain() {
  if (MgErr err = ShellInitEngine()) return err;
  if (gHooks.startEngine) {
    if (MgErr err = gHooks.startEngine()) {
      ShellFinishEngine();
      if (gHooks.afterEngine) gHooks.afterEngine();
      return err;
    }
  }
  // The loop gives the engine its slices and sleeps on the device layer's
  // wake-up event, which other threads signal when they post or set an
  // occurrence.
  ShellInstallMainLoopHooks();
  if (ThEvent wake = ExecTimer().wakeUpEvent ? ExecTimer().wakeUpEvent() : nullptr) WEventSetWakeUp(wake);
  WSetEventHandler(kWRootWindow, &RootHandler);
  WEventSetGate(1);
  if (!gHooks.beforeLoop || !gHooks.beforeLoop())
    while (!WQuitting()) WMainLoop(1, 0);
  if (gHooks.afterLoop) gHooks.afterLoop();
  // The wake-up event ends with the device layer.
  WEventSetWakeUp(nullptr);
  if (gHooks.stopEngine) gHooks.stopEngine();
  ShellFinishEngine();
  if (gHooks.afterEngine) gHooks.afterEngine();
  return 0;
}

void ShellInstallEntryHooks(WStartupHooks hooks) {
  hooks.buildAppNames = &BuildAppNames;
  hooks.wMain = &WMain;
  WSetStartupHooks(hooks);
}

void DlgQuit() {
  WEventRecord e{};
  e.code = kWEvDialogQuit;
  e.window = kWRootWindow;
  WPostEvent(&e, 1, kWPostAnyLevel);
}
