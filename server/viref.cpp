#include "server/viref.h"

#include <map>
#include <vector>

#include "engine/vi/viinst.h"
#include "rtlib/filehooks.h"
#include "server/embobj.h"
#include "server/proxy.h"

namespace {

// The references by number, and the VI each holds.  Used on the
// user-interface thread.
std::map<int32, UHandle>& Refs() {
  static auto* m = new std::map<int32, UHandle>;
  return *m;
}
int32 gNextRef = 1;

}  // namespace

int32 NewVIRef(UHandle vi) {
  if (!vi) return 0;
  int32 ref = gNextRef;
  while (ref == 0 || Refs().count(ref)) ref = ref == 0x7FFFFFFF ? 1 : ref + 1;
  gNextRef = ref == 0x7FFFFFFF ? 1 : ref + 1;
  Refs()[ref] = vi;
  return ref;
}

MgErr DisposeVIRef(int32 ref) { return Refs().erase(ref) ? kNoErr : kArgErr; }

int32 VIHasRefs(UHandle vi, int32) {
  int32 n = 0;
  for (auto& kv : Refs()) n += kv.second == vi;
  return n;
}

void DisposeVIRefList(UHandle vi) {
  for (auto it = Refs().begin(); it != Refs().end();) it = it->second == vi ? Refs().erase(it) : std::next(it);
}

void VIRefReleaseAll() { Refs().clear(); }

MgErr PxCalleeInstallCode(UHandle vi) {
  if (!vi || !*vi || VIRec(vi)->viKind != kVIKindProxyCallee) return kArgErr;
  if (VIRec(vi)->dataSpace) return kNoErr;
  if (MgErr err = NewMinimalDataSpace(vi)) return err;
  InitDataSpace(reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace));
  return kNoErr;
}

void ServerInstallEngineHooks() {
  VIServerHooks hooks{};
  hooks.disposeVIRefList = &DisposeVIRefList;
  hooks.viHasRefs = &VIHasRefs;
  hooks.viRefReleaseAll = &VIRefReleaseAll;
  hooks.pxCalleeInstallCode = &PxCalleeInstallCode;
  SetVIServerHooks(&hooks);
  ServerInstallProxyHooks();
  ServerInstallRefnumHooks();
}

void ServerInstallRefnumHooks() {
  RefnumKindHooks kinds = RefnumKinds();
  kinds.isAutomationRefnum = &IsAutomationRefnum;
  SetRefnumKindHooks(&kinds);
}
