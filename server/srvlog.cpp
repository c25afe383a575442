// The VI server's log: lines to the debug output and, while logging is on,
// to the log file (made afresh each time logging is turned on).
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/printf.h"
#include "server/tcpserver.h"

namespace {

// A leaf lock: nothing else is taken while it is held.
std::mutex gLogLock;
bool gLogging = false;
bool gDetails = false;
Path gLogPath = nullptr;
FileRef gLogFile = 0;

constexpr int32 kTextMax = 511;

// The side's label, in detailed mode only.
const char* Label(int32 side) {
  static const char* const kLabels[] = {"CLIENT:", "SERVER:", "client:", "server:"};
  return gDetails && side >= 0 && side < 4 ? kLabels[side] : "";
}

bool WantedLocked(int32 side) { return (gLogging && side == kTSSideServer) || gDetails; }

// Writes the line: the timestamp, the label, the title, then the text on a
// line of its own behind two tabs.  gLogLock is held.
void WriteLocked(int32 side, const char* title, const char* text) {
  char stamp[64] = "";
  const time_t now = time_t(TimeInSecs() - kSecs1904To1970);
  struct tm local {};
  if (localtime_r(&now, &local)) strftime(stamp, sizeof stamp, "%Y.%m.%d - %H:%M:%S", &local);
  const char* format = "%s; %s ## %s\\n\t\t%s\\n";
  const int32 length = SPrintf(nullptr, format, stamp, Label(side), title ? title : "", text);
  UPtr line = AZNewPtr(length + 1);
  if (!line) return;
  SPrintf(reinterpret_cast<char*>(line), format, stamp, Label(side), title ? title : "", text);
  DBPrintf("%s", reinterpret_cast<char*>(line));
  if (gLogFile) {
    int32 written = 0;
    FMWrite(gLogFile, length, &written, line);
  }
  AZDisposePtr(line);
}

// Formats the text (cut at 511 characters) and writes the line.
void WriteLockedV(int32 side, const char* title, const char* format, va_list args) {
  char text[kTextMax + 1];
  const int32 n = SPrintfv(text, kTextMax, format, int32(std::strlen(format)), args);
  text[n < 0 ? 0 : n > kTextMax ? kTextMax : n] = 0;
  WriteLocked(side, title, text);
}

void LogLocked(int32 side, const char* title, const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLockedV(side, title, format, args);
  va_end(args);
}

// Logging on: the file made (truncated) at the path.
MgErr TurnOnLocked(const char* title) {
  if (gLogFile) return kNoErr;
  if (!gLogPath) {
    DBPrintf("Could not create log file: NULL logPath");
    return kArgErr;
  }
  FileRef f = 0;
  if (MgErr err = FCreateAlways(&f, gLogPath, FGetDefPerm(0666), kAccessWrite, kDenyNone, nullptr)) {
    DBPrintf("Could not create log file at \"%z\"", gLogPath);
    return err;
  }
  gLogFile = f;
  gLogging = true;
  LogLocked(kTSSideServer, title, "Turning on logging.");
  return kNoErr;
}

void TurnOffLocked(const char* title) {
  if (gLogging || gLogFile) LogLocked(kTSSideServer, title, "Turning off logging.");
  gLogging = false;
  if (gLogFile) FMClose(gLogFile);
  gLogFile = 0;
}

std::string TitleOf(ConstPStr title) {
  return title ? std::string(reinterpret_cast<const char*>(title + 1), title[0]) : std::string();
}

}  // namespace

MgErr SetServerLogging(Bool32 on, ConstPStr title) {
  std::lock_guard<std::mutex> g(gLogLock);
  const std::string t = TitleOf(title);
  if (!on) {
    TurnOffLocked(t.c_str());
    return kNoErr;
  }
  return TurnOnLocked(t.c_str());
}

MgErr SetServerLogPath(Path path, ConstPStr title) {
  if (!path) return kArgErr;
  std::lock_guard<std::mutex> g(gLogLock);
  const std::string t = TitleOf(title);
  const bool reopen = gLogFile != 0;
  if (reopen) {
    LogLocked(kTSSideServer, t.c_str(), "Setting log file path to \"%z\"", path);
    FMClose(gLogFile);
    gLogFile = 0;
  }
  if (!gLogPath && !(gLogPath = FEmptyPath(nullptr))) return kMemFullErr;
  if (MgErr err = FPathCpy(gLogPath, path)) return err;
  return reopen ? TurnOnLocked(t.c_str()) : kNoErr;
}

MgErr GetServerLogging(Path path, Bool32* on) {
  std::lock_guard<std::mutex> g(gLogLock);
  if (on) *on = gLogging ? 1 : 0;
  if (!path) return kNoErr;
  if (gLogPath) return FPathCpy(path, gLogPath);
  return FNotAPath(path) ? MgErr(kNoErr) : MgErr(kMemFullErr);
}

void SetServerLogDetails(Bool32 on) {
  std::lock_guard<std::mutex> g(gLogLock);
  gDetails = on != 0;
}

Bool32 GetServerLogDetails() {
  std::lock_guard<std::mutex> g(gLogLock);
  return gDetails ? 1 : 0;
}

bool TSLogWanted(int32 side) {
  std::lock_guard<std::mutex> g(gLogLock);
  return WantedLocked(side);
}

void TSLog(int32 side, const char* title, const char* format, ...) {
  std::lock_guard<std::mutex> g(gLogLock);
  if (!WantedLocked(side)) return;
  va_list args;
  va_start(args, format);
  WriteLockedV(side, title, format, args);
  va_end(args);
}

void TSLogMessage(int32 side, const char* title, const SrvMsgHeader& h, const ConnInfo* conn) {
  if (!TSLogWanted(side)) return;
  const uInt32 a = conn ? conn->address : 0;
  const uChar* ip = reinterpret_cast<const uChar*>(&a);
  TSLog(side, title, "hdr={err=%2ld; uID=0x%08lx; len=%3ld; msg=\"%s\"}; conn=%ld.%ld.%ld.%ld ref=0x%08lx \"%p\"",
        long(h.error), static_cast<unsigned long>(h.uniqueId), long(h.dataLength), SrvMsgName(h.type), long(ip[0]),
        long(ip[1]), long(ip[2]), long(ip[3]), static_cast<unsigned long>(conn ? conn->id : 0),
        conn ? conn->name : reinterpret_cast<ConstPStr>(""));
}

void TSLogDispose() {
  std::lock_guard<std::mutex> g(gLogLock);
  if (gLogFile) FMClose(gLogFile);
  gLogFile = 0;
  gLogging = false;
  gDetails = false;
  if (gLogPath) FDisposePath(gLogPath);
  gLogPath = nullptr;
}
