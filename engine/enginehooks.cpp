#include "engine/enginehooks.h"

#include "engine/exec/dsprocs.h"
#include "engine/exec/runcmd.h"
#include "engine/link/linker.h"
#include "engine/link/loadmethods.h"

void EngineInstallHooks() {
  InstallLinkerHooks();
  InstallLoadMethods();
  InitDSProcs();
  InstallRunCommands();
}
