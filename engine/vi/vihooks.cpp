#include "engine/vi/vihooks.h"

namespace {
VICodeHooks gCode{};
VIRunHooks gRun{};
VILinkHooks gLink{};
VIShellHooks gShell{};
VIServerHooks gServer{};
}  // namespace

void SetVICodeHooks(const VICodeHooks* hooks) { gCode = hooks ? *hooks : VICodeHooks{}; }
const VICodeHooks& VICode() { return gCode; }
void SetVIRunHooks(const VIRunHooks* hooks) { gRun = hooks ? *hooks : VIRunHooks{}; }
const VIRunHooks& VIRun() { return gRun; }
void SetVILinkHooks(const VILinkHooks* hooks) { gLink = hooks ? *hooks : VILinkHooks{}; }
const VILinkHooks& VILink() { return gLink; }
void SetVIShellHooks(const VIShellHooks* hooks) { gShell = hooks ? *hooks : VIShellHooks{}; }
const VIShellHooks& VIShell() { return gShell; }
void SetVIServerHooks(const VIServerHooks* hooks) { gServer = hooks ? *hooks : VIServerHooks{}; }
const VIServerHooks& VIServer() { return gServer; }
