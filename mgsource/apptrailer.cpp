// The trailer at the end of the program file that marks a built application.
#include <cstring>
#include <string>

#include "config.h"
#include "config_internal.h"
#include "debug.h"
#include "rsrc_format.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"

using namespace rsrcfmt;

namespace {

// The last 20 bytes of the program file into trailer; the number read.
int32 ReadLastBytes(uChar* trailer) {
  std::string host, text;
  if (!PlatProgramFile(&host)) return 0;
  DBPrintf("%s is my appfiles name", host.c_str());
  if (!PlatHostToSysText(host.c_str(), &text)) return 0;
  PlatFile* f = nullptr;
  if (PlatFileOpen(text.c_str(), kPlatOpenExisting, kPlatRead, kPlatDenyNone, &f)) return 0;
  int64_t size = 0;
  uint32_t done = 0;
  if (PlatFileGetSize(f, &size) || size < kTrailerSize || PlatFileSetPos(f, size - kTrailerSize) ||
      PlatFileRead(f, trailer, kTrailerSize, &done))
    done = 0;
  PlatFileClose(f);
  return int32(done);
}

}  // namespace

MgErr AppTrailerCheck(const uChar* bytes, int32 count) {
  if (!bytes || count != kTrailerSize) return kArgErr;
  if (std::memcmp(bytes + kTrailerTag, "APPB", 4) != 0) return kArgErr;
  return GetLE32(bytes + kTrailerVersion) == kTrailerVersionValue ? kNoErr : kArgErr;
}

Bool32 AppTrailerIsBuilt(const uChar* bytes, int32 count) {
  return AppTrailerCheck(bytes, count) == kNoErr && (GetLE32(bytes + kTrailerFlags) & 1u);
}

MgErr ReadAppTrailer(uChar* trailer) {
  uChar buf[kTrailerSize] = {};
  int32 n = ReadLastBytes(buf);
  if (trailer) std::memcpy(trailer, buf, sizeof buf);
  return AppTrailerCheck(buf, n);
}

Bool32 IsBuiltApp() {
  // Read once, by the first caller; the answer holds for the process's life.
  static const Bool32 built = [] {
    uChar buf[kTrailerSize] = {};
    int32 n = ReadLastBytes(buf);
    return AppTrailerIsBuilt(buf, n);
  }();
  return built;
}
