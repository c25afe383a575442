#include "server/srvstart.h"

#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"

namespace {

SrvLogSettings gLog{0, 0, nullptr};
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
  if (!on) return kNoErr;
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
