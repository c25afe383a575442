// The program's entry point.
#include "engine/dsalloc.h"
#include "engine/exec/rttable.h"
#include "mgsource/memory.h"
#include "panel/objects.h"
#include "rtlib/rtregister.h"

int main(int /*argc*/, char** /*argv*/) {
  // The object system's services and the engine's start-up blocks are in
  // place before the managers start.
  PanelInstallEngineHooks();
  MemSetDataSpaceInitHook(&AZPAllocInit);
  if (MemInit() != kNoErr) return 1;
  // The run-time function table is complete before the first VI loads.
  QXRTRegisterEngine();
  QXRTRegisterRTLib();
  QXRTCloseRegistration();
  MemShutdown();
  return 0;
}
