#include "mgstartup.h"

#include "cfgwords.h"
#include "config.h"
#include "debug.h"
#include "filemgr.h"
#include "memory.h"
#include "occur.h"
#include "rsrc.h"
#include "support.h"
#include "thread.h"

MgErr MgStartup(int32 argc, const char* const* argv) {
  CfgLoadDefaultWords();
  CfgChooseFile(argc, argv);
  if (MgErr err = MemInit()) return err;
  DBInitDebug();
  if (MgErr err = ThInit()) return err;
  if (MgErr err = SupportInit()) return err;
  if (MgErr err = RInitResources()) return err;
  if (MgErr err = FInitFileMgr()) return err;
  return OccurInit();
}

void MgTeardown() {
  OccurShutdown();
  // What each manager's start made goes, as in the window manager's
  // tear-down.  The support constants stay: threads read them without a
  // lock, and a second start keeps them.
  RExitResources();
  FExitFileMgr();
  SupportShutdown();
  DBExitDebug();
  // The zones are never freed: the memory manager only stops.
  MemShutdown();
}
