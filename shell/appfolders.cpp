#include "appfolders.h"

#include "mgsource/filemgr.h"
#include "mgsource/printf.h"
#include "platform/qx_process.h"

namespace {
// Set by the shell's start-up; used from the user-interface thread.
Path gTempDir = nullptr;
}  // namespace

void SetTempDirPath(Path folder) {
  if (gTempDir) FDisposePath(gTempDir);
  gTempDir = nullptr;
  if (!folder) return;
  gTempDir = folder;
  if (FPathToPath(&gTempDir) != kNoErr) gTempDir = nullptr;
}

MgErr GetTempDirPath(Path out) {
  if (!out) return kArgErr;
  if (gTempDir) return FPathCpy(out, gTempDir);
  Path host = nullptr;
  if (MgErr err = FTempDirPath(&host)) return err;
  MgErr err = FPathCpy(out, host);
  FDisposePath(host);
  return err;
}

Path MakeTempFilePath(const char* format, Path path) {
  if (!format) return nullptr;
  // The name must fit a path component.
  const int32 number = PlatProcessId() % 10000;
  const int32 n = SPrintf(nullptr, format, number);
  if (n <= 0 || n > 255) return nullptr;
  Str255 pname;
  PPrintf(pname, format, number);
  Path p = path ? path : FEmptyPath(nullptr);
  if (!p) return nullptr;
  if (GetTempDirPath(p) != kNoErr || FAppendName(p, pname) != kNoErr) {
    if (!path) FDisposePath(p);
    return nullptr;
  }
  return p;
}
