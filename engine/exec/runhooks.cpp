// The upward services of the run commands, filled at start-up by the
// panels, the shell, the datalog functions and the proxy.
#include "engine/exec/runcmd.h"

namespace {
RunCmdHooks gHooks{};
}  // namespace

void SetRunCmdHooks(const RunCmdHooks* hooks) { gHooks = hooks ? *hooks : RunCmdHooks{}; }
const RunCmdHooks& RunCmd() { return gHooks; }
