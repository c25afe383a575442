#include "shell/filesvc.h"

#include "engine/shellsvc.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/filemgr.h"
#include "rtlib/filehooks.h"
#include "rtlib/postedevt.h"
#include "shell/appfolders.h"

namespace {
// Set by the shell's start-up; used from the user-interface thread.
Path gDefaultDir = nullptr;

MgErr AppFolder(Path out) {
  Path app = nullptr;
  if (MgErr err = FAppPath(&app)) return err;
  MgErr err = FPathCpy(out, app);
  FDisposePath(app);
  return err;
}
}  // namespace

int32 TwoButtonAlert(int32 kind, const void* message, ConstPStr button1, ConstPStr button2, int32 h, int32 v) {
  return HeadlessTwoButtonAlert(kind, message, button1, button2, h, v);
}

MgErr GetVILibPath(Path out) {
  if (!out) return kArgErr;
  if (MgErr err = AppFolder(out)) return err;
  static const uChar kVILib[] = "\x06vi.lib";
  return FAppendName(out, kVILib);
}

void SetDefaultDirPath(Path folder) {
  if (gDefaultDir) FDisposePath(gDefaultDir);
  gDefaultDir = nullptr;
  if (!folder) return;
  gDefaultDir = folder;
  if (FPathToPath(&gDefaultDir) != kNoErr) gDefaultDir = nullptr;
}

MgErr GetDefaultDirPath(Path out) {
  if (!out) return kArgErr;
  return gDefaultDir ? FPathCpy(out, gDefaultDir) : AppFolder(out);
}

Bool32 UserEventTargetValid(UHandle request) {
  if (!request || !*request) return 0;
  const PostedEvtRec* r = reinterpret_cast<const PostedEvtRec*>(*request);
  if (!r->owner || !IsVILoaded(r->owner)) return 0;
  return reinterpret_cast<const VIRecord*>(*r->owner)->dataSpace == r->dataSpace ? 1 : 0;
}

void ShellInstallFileHooks() {
  FileShellHooks h{};
  h.twoButtonAlert = &TwoButtonAlert;
  h.tempDirPath = &GetTempDirPath;
  h.viLibPath = &GetVILibPath;
  h.defaultDirPath = &GetDefaultDirPath;
  h.targetValid = &UserEventTargetValid;
  h.isMenuRefnum = &RTMIsMenuRefnum;
  SetFileShellHooks(&h);
}
