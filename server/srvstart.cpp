#include "server/srvstart.h"

#include <atomic>

#include "mgsource/config.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "server/access.h"

namespace {

SrvLogSettings gLog{0, 0, nullptr};
std::atomic<Bool32> gListening{0};

ConstPStr Name(const char* text) { return reinterpret_cast<ConstPStr>(text); }

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
    gListening.store(0);
    return kNoErr;
  }
  DBPrintf("TCP VI Server: can't start listener; err=%ld", long(kCapabilityErr));
  return kCapabilityErr;
}

const SrvLogSettings& SrvLogKeys() { return gLog; }

void OleServerStart() {}
void OleServerStop() {}

Bool32 SrvIsListening() { return gListening.load(); }
void SrvTestSetListening(Bool32 on) { gListening.store(on ? 1 : 0); }

void SrvDisposeStartState() {
  QXSDisposeAccessLists();
  if (gLog.logPath) FDisposePath(gLog.logPath);
  gLog = SrvLogSettings{0, 0, nullptr};
}

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
