// The program's entry point.
#include "controls/cursorlegend.h"
#include "controls/scale.h"
#include "engine/dsalloc.h"
#include "engine/exec/rttable.h"
#include "engine/link/linker.h"
#include "io/unitaccess.h"
#include "mgsource/memory.h"
#include "mgsource/mgstartup.h"
#include "panel/datamsg.h"
#include "panel/objects.h"
#include "rtlib/datalog.h"
#include "rtlib/filerefnum.h"
#include "rtlib/rtregister.h"
#include "server/embobj.h"
#include "server/viref.h"
#include "shell/shellinit.h"
#include "shell/vishell.h"

int main(int argc, char** argv) {
  // The object system's services and the engine's start-up blocks are in
  // place before the managers start.
  PanelInstallEngineHooks();
  ControlsInstallPanelHooks();
  ShellInstallEngineHooks();
  ServerInstallEngineHooks();
  PanelDataHooks panelData{};
  panelData.embUpdateDispatch = &EmbUpdateDispatch;
  SetPanelDataHooks(panelData);
  ControlsInstallScaleHooks();
  RTLibInstallDatalogHooks();
  IOInstallUnitAccessHooks();
  MemSetDataSpaceInitHook(&AZPAllocInit);
  // The managers, then the engine: the linker's tables come first, before
  // any VI is loaded.
  if (MgStartup(argc, argv) != kNoErr) return 1;
  if (ShellInitEngine() != kNoErr) return 1;
  // The run-time function table is complete before the first VI loads.
  QXRTRegisterEngine();
  QXRTRegisterRTLib();
  QXRTRegisterShell();
  QXRTCloseRegistration();
  // File refnums live from here until shut-down.
  if (FRefNumJarCreate() != kNoErr) return 1;
  FRefNumJarDispose();
  ShellFinishEngine();
  MgTeardown();
  return 0;
}
