// The trailer at the end of the program file that marks a built application.
#include <cstring>
#include <string>

#include "config.h"
#include "config_internal.h"
#include "debug.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"

namespace {

uInt32 GetLE32(const uChar* p) {
  return uInt32(p[0]) | (uInt32(p[1]) << 8) | (uInt32(p[2]) << 16) | (uInt32(p[3]) << 24);
}

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
  if (PlatFileGetSize(f, &size) || size < kAppTrailerSize || PlatFileSetPos(f, size - kAppTrailerSize) ||
      PlatFileRead(f, trailer, kAppTrailerSize, &done))
    done = 0;
  PlatFileClose(f);
  return int32(done);
}

}  // namespace

MgErr AppTrailerCheck(const uChar* bytes, int32 count) {
  if (!bytes || count != kAppTrailerSize) return kArgErr;
  if (std::memcmp(bytes + kAppTrailerTag, "APPB", 4) != 0) return kArgErr;
  return GetLE32(bytes + kAppTrailerVersion) == kAppTrailerVersionValue ? kNoErr : kArgErr;
}

Bool32 AppTrailerIsBuilt(const uChar* bytes, int32 count) {
  return AppTrailerCheck(bytes, count) == kNoErr && (GetLE32(bytes + kAppTrailerFlags) & kAppTrailerBuilt);
}

MgErr ReadAppTrailer(uChar* trailer) {
  uChar buf[kAppTrailerSize] = {};
  int32 n = ReadLastBytes(buf);
  if (trailer) std::memcpy(trailer, buf, sizeof buf);
  return AppTrailerCheck(buf, n);
}

Bool32 IsBuiltApp() {
  // Read once, by the first caller; the answer holds for the process's life.
  static const Bool32 built = [] {
    uChar buf[kAppTrailerSize] = {};
    int32 n = ReadLastBytes(buf);
    return AppTrailerIsBuilt(buf, n);
  }();
  return built;
}
