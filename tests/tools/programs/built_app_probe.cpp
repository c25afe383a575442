// Reports, one "name=value" line each, what the managers make of this
// program file: whether it is a built application, its trailer, its
// configuration file and, when built, strings of its own appended file.
#include <cstdio>

#include "mgsource/config.h"
#include "mgsource/config_internal.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"

namespace {
void PrintString(const char* name, RsrcFileRef ref, int32 list, int32 index) {
  uChar text[256] = {0};
  MgErr err = RGetIndString(ref, text, list, index);
  std::printf("%s=%.*s (%d)\n", name, int(text[0]), reinterpret_cast<const char*>(text + 1), int(err));
}
}  // namespace

int main(int argc, char** argv) {
  CfgChooseFile(argc, argv);
  if (MemInit() != kNoErr || ThInit() != kNoErr) return 2;
  uChar trailer[20];
  std::printf("built=%d\n", IsBuiltApp() ? 1 : 0);
  std::printf("trailer=%d\n", int(ReadAppTrailer(trailer)));
  std::printf("config=%s\n", CfgFileText().c_str());
  if (!IsBuiltApp()) return 0;
  if (RInitResources() != kNoErr || FInitFileMgr() != kNoErr) return 3;
  Path self = nullptr;
  if (FAppFilePath(&self) != kNoErr) return 4;
  RsrcFileRef ref = 0;
  MgErr err = ROpenFile(self, kRsrcReadOnly, &ref, nullptr, nullptr);
  std::printf("open=%d\n", int(err));
  if (err) return 0;
  PrintString("key1", ref, kCfgKeyListId, 1);
  PrintString("key208", ref, kCfgKeyListId, kCfgKeyCount);
  PrintString("text", ref, 128, 1);
  std::printf("close=%d\n", int(RCloseFile(ref)));
  return 0;
}
