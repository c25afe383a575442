#include "server/proxy.h"

#include <map>
#include <mutex>

#include "engine/exec/dsprocs.h"
#include "engine/exec/runcmd.h"
#include "mgsource/thread.h"

namespace {

// Results by data space.  Written on the user-interface thread, collected
// by the server's threads.
std::mutex gLock;
std::map<DataSpace, PxCallResult>& Results() {
  static auto* m = new std::map<DataSpace, PxCallResult>;
  return *m;
}

void Record(DataSpace ds, int32 state) {
  std::lock_guard<std::mutex> g(gLock);
  Results()[ds].state = state;
}

// The reset leaves the data space's message lock held by this thread: the
// proxy gives it up at every level it holds.
void ReleaseMessageLock(DataSpace ds) {
  ThMutex m = *ds ? (*ds)->entrance.dsMessageLock : nullptr;
  while (m && PlatRecMutexOwned(&m->section)) ThMutexRelease(m);
}

}  // namespace

void PxCallerFinish(DataSpace ds, Bool32 aborted) {
  if (!ds || !*ds) return;
  UHandle vi = (*ds)->owner;
  if (vi && *vi) SetVIIdle(vi, ds);
  Record(ds, aborted ? kPxAborted : kPxDone);
}

void PxResetCallers(DataSpace ds) {
  if (!ds || !*ds) return;
  AbortVI(ds);
  ReleaseMessageLock(ds);
  Record(ds, kPxAborted);
}

PxCallResult PxTakeCallResult(DataSpace ds) {
  std::lock_guard<std::mutex> g(gLock);
  auto it = Results().find(ds);
  if (it == Results().end()) return PxCallResult{kPxRunning, kNoErr, {}};
  PxCallResult r = it->second;
  Results().erase(it);
  return r;
}

void ServerInstallProxyHooks() {
  RunCmdHooks h = RunCmd();
  h.pxCallerFinish = &PxCallerFinish;
  h.pxResetCallers = &PxResetCallers;
  h.pxErrorNotify = [](DataSpace ds, MgErr code, ConstPStr text) {
    std::lock_guard<std::mutex> g(gLock);
    PxCallResult& r = Results()[ds];
    r.error = code;
    r.text = text ? std::string(reinterpret_cast<const char*>(text + 1), text[0]) : std::string();
  };
  SetRunCmdHooks(&h);
}
