// Reports, one "name=value" line each, what the engine makes of the VI
// library appended to this program: its listing, lookups of the names given
// after the library path on the command line, and one extraction.
//   library_probe <library path text> <name>...
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/vi/archive.h"
#include "engine/vi/archive_format.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vifind.h"
#include "mgsource/config.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"

namespace {
std::string Code(uInt32 c) {
  uChar b[4];
  PutNative32(b, c);
  return std::string(reinterpret_cast<const char*>(b), 4);
}
std::string Name(ConstPStr p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }
}  // namespace

int main(int argc, char** argv) {
  CfgChooseFile(argc, argv);
  if (MemInit() != kNoErr || ThInit() != kNoErr || RInitResources() != kNoErr || FInitFileMgr() != kNoErr) return 2;
  std::printf("built=%d\n", IsBuiltApp() ? 1 : 0);
  Path self = nullptr;
  if (FAppFilePath(&self) != kNoErr) return 3;
  RsrcFileRef rt = 0;
  std::printf("open=%d\n", int(ROpenFile(self, kRsrcReadOnly, &rt, nullptr, nullptr)));
  SetRunTimeRsrcFile(rt);

  CPStrHandle names = reinterpret_cast<CPStrHandle>(AZNewHandle(4));
  UHandle records = AZNewHandle(0);
  MgErr err = ArchiveDirListRef(rt, names, records, 2, 0);
  std::string listing;
  if (!err) {
    const uChar* p = reinterpret_cast<const uChar*>(*names) + 4;
    for (int32 i = 0; i < (*names)->cnt; ++i, p += 1 + p[0]) {
      const uChar* r = *records + 12 * i;
      uInt32 flags, type;
      std::memcpy(&flags, r, 4);
      std::memcpy(&type, r + 4, 4);
      listing += Name(p) + ":" + std::to_string(flags) + ":" + Code(type) + ";";
    }
  }
  std::printf("list=%d %s\n", int(err), listing.c_str());

  Path library = nullptr;
  if (argc > 1 && FTextToPath(reinterpret_cast<const uChar*>(argv[1]), int32(std::strlen(argv[1])), &library))
    return 4;
  for (int i = 2; i < argc; ++i) {
    Str255 name;
    name[0] = uChar(std::strlen(argv[i]));
    std::memcpy(name + 1, argv[i], name[0]);
    uInt32 type = 0;
    err = ArchiveLookupMember(library, name, &type);
    std::printf("lookup.%s=%d %s\n", argv[i], int(err), err ? "" : Code(type).c_str());
    // The search for a VI or control of the first name beside the library
    // when it is a member (a name found nowhere ends in the user's dialog).
    Path where = library;
    if (i == 2 && err == kNoErr && FPathToPath(&where) == kNoErr && FDirName(where, where) == kNoErr &&
        FAppendName(where, name) == kNoErr) {
      RsrcFileRef file = 0;
      Bool32 fromLibrary = 0;
      const int32 status = FindAndOpenVIFile(where, name, FourCC("VI* "), kRsrcReadOnly, &file, &fromLibrary);
      char text[kHostTextBufSize] = "";
      FPathToHostText(where, text);
      std::printf("find.%s=%d %d %s\n", argv[i], int(status), int(fromLibrary), text);
      if (file) RCloseFile(file);
      FDisposePath(where);
    }
  }
  // The first top-level member read back from memory.
  if (!listing.empty()) {
    Str255 first;
    const uChar* p = reinterpret_cast<const uChar*>(*names) + 4;
    std::memcpy(first, p, size_t(p[0]) + 1);
    RsrcFileRef member = 0;
    err = ArchiveExtractToTmpFile(rt, first, nullptr, &member, FourCC("QXIN"));
    int32 types = -1;
    if (!err) RCountTypes(member, &types);
    std::printf("extract=%d %d\n", int(err), int(types));
    if (member) RCloseFile(member);
  }
  std::printf("cleanup=%d\n", int(CleanUpArchive()));
  RCloseFile(rt);
  return 0;
}
