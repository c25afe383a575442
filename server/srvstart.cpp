#include "server/srvstart.h"

#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"

namespace {

SrvLogSettings gLog{0, 0, nullptr};
Bool32 gListening = 0;
CPStrHandle gTcpAccess = nullptr;
CPStrHandle gViAccess = nullptr;

ConstPStr Name(const char* text) { return reinterpret_cast<ConstPStr>(text); }

void Keep(CPStrHandle* slot, CPStrHandle list) {
  if (*slot) AZDisposeHandle(reinterpret_cast<UHandle>(*slot));
  *slot = nullptr;
  if (!list) return;
  UHandle copy = reinterpret_cast<UHandle>(list);
  if (AZHandToHand(&copy) == kNoErr) *slot = reinterpret_cast<CPStrHandle>(copy);
  else DBMgErr(__FILE__, __LINE__, kMemFullErr, "access list");
}

}  // namespace

MgErr TCPServerInit() {
  CfgGetDefault(kCfgBool, Name("\x14tcpServer.logDetails"), &gLog.logDetails);
  CfgGetDefault(kCfgBool, Name("\x0dtcpServer.log"), &gLog.log);
  if (!gLog.logPath) gLog.logPath = FEmptyPath(nullptr);
  if (gLog.logPath) CfgGetDefault(kCfgPath, Name("\x11tcpServer.logPath"), gLog.logPath);
  int32 enabled = 0;
  CfgGetDefault(kCfgBool, Name("\x12server.tcp.enabled"), &enabled);
  return enabled ? SetServerListening(1) : kNoErr;
}

MgErr SetServerListening(Bool32 on) {
  if (!on) {
    gListening = 0;
    return kNoErr;
  }
  DBPrintf("TCP VI Server: can't start listener; err=%ld", long(kCapabilityErr));
  return kCapabilityErr;
}

const SrvLogSettings& SrvLogKeys() { return gLog; }

void OleServerStart() {}
void OleServerStop() {}

void QXSSpecifyTcpAccess(CPStrHandle list) { Keep(&gTcpAccess, list); }
void QXSSpecifyViAccess(CPStrHandle list) { Keep(&gViAccess, list); }
CPStrHandle QXSTcpAccessList() { return gTcpAccess; }
CPStrHandle QXSViAccessList() { return gViAccess; }

void SrvDisposeStartState() {
  Keep(&gTcpAccess, nullptr);
  Keep(&gViAccess, nullptr);
  if (gLog.logPath) FDisposePath(gLog.logPath);
  gLog = SrvLogSettings{0, 0, nullptr};
}

Bool32 SrvIsListening() { return gListening; }

MgErr SetServerLogging(Bool32 on, ConstPStr) {
  gLog.log = on ? 1 : 0;
  return kNoErr;
}

MgErr SetServerLogPath(Path path, ConstPStr) {
  if (!path) return kArgErr;
  if (!gLog.logPath && !(gLog.logPath = FEmptyPath(nullptr))) return kMemFullErr;
  return FPathCpy(gLog.logPath, path);
}

MgErr GetServerLogging(Path path, Bool32* on) {
  if (on) *on = gLog.log ? 1 : 0;
  if (!path) return kNoErr;
  return gLog.logPath ? FPathCpy(path, gLog.logPath) : (FNotAPath(path) ? MgErr(kNoErr) : MgErr(kMemFullErr));
}
