#include "shell/filesvc.h"

#include "engine/shellsvc.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/filemgr.h"
#include "rtlib/filehooks.h"
#include "rtlib/postedevt.h"
#include "shell/appfolders.h"

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
