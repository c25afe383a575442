// The start the VI server's fuzz targets share: the managers, resources,
// files, type heap and event queue (user events queued for the target), the
// run-time table, the linker and the VI code hooks, the references with
// every server switch on, a temporary folder mapped as drive L:, and the
// run-time file made by the tools, held in memory.
#pragma once
#include <filesystem>
#include <string>

#include "engine/dsalloc.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/rttable.h"
#include "engine/link/linker.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "fuzz_support.h"
#include "mgsource/filemgr.h"
#include "mgsource/prefs.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_drives.h"
#include "server/viref.h"
#include "tests/user_event_queue.h"
#include "tools/appbuild.h"

typedef MgErr (*PostProc)(int32, int32, int32, int32, int32, int32, int32, int32, int32);
void ExecSetPostUserEventProc(PostProc proc);

// The folder mapped as L: goes to *root (made from the pattern's
// "XXXXXX").  Without queueUserEvents the engine posts no user events (a
// target that never drains the queue).  False when any step fails.
inline bool FuzzStartServerEngine(const char* pattern, std::string* root, bool queueUserEvents = true) {
  if (!FuzzStartManagers(FuzzAbortWhenArmed)) return false;
  if (ThInit() != kNoErr || RInitResources() != kNoErr || FInitFileMgr() != kNoErr) return false;
  if (TypeHeapInit() != kNoErr || WEventQueueInit(1) != kNoErr) return false;
  if (queueUserEvents) {
    WEventSetGate(1);
    ExecSetPostUserEventProc(&qxevents::PostToQueue);
  }
  if (QXRTRegisterEngine() != kNoErr || QXRTRegisterServer() != kNoErr) return false;
  QXRTCloseRegistration();
  if (!AZPBlocks()->linkerNames) AZPAllocInit();
  InitLinker();
  InstallVICodeHooks();
  ServerInstallEngineHooks();
  if (VIRefInit() != kNoErr) return false;
  for (int32 w : {kPrefServerVICallsEnabled, kPrefServerVIPropertiesEnabled, kPrefServerAppPropertiesEnabled})
    PrefSet(w, 1);
  std::string t = (std::filesystem::temp_directory_path() / pattern).string();
  if (!mkdtemp(t.data())) return false;
  *root = t;
  if (PlatDriveMap('L', t.c_str(), kPlatDriveFixed) != 0) return false;
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  qxbuild::AddRunTimeResources(&w);
  // The run-time file lives in memory for the process's life.
  const rsrcw::Bytes bytes = w.Write();
  UHandle held = AZNewHandle(0);
  RsrcFileRef ref = 0;
  if (!held || AZPtrToHand(bytes.data(), &held, int32(bytes.size())) != kNoErr ||
      ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, held) != kNoErr)
    return false;
  SetRunTimeRsrcFile(ref);
  return true;
}
