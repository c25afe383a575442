// The VI instances reach the code procedures of a data space through their
// hooks: making a VI runs its initialisation and controllers, disposing a
// data space its dispose procedure.
#include "engine/exec/dsprocs.h"
#include "engine/vi/vihooks.h"
#include "engine/vi/virecord.h"
#include "mgsource/draw/printinfo.h"

namespace {

// The print manager makes and validates a VI's print record in its slot.
UHandle* PrintRecordSlot(UHandle vi) { return vi && *vi ? &VIRec(vi)->printInfo : nullptr; }

}  // namespace

// Declared by the code-entry header, whose VICode type this file cannot see
// beside the hooks' VICode().
QX_EXTERN_C void SetCodeEntryAndPatch(UHandle code, DataSpace ds);

void InstallVICodeHooks() {
  // Members already filled (stand-ins of tests, say) are kept.
  VICodeHooks code = VICode();
  if (!code.runInitProc) code.runInitProc = &DSRunInitProc;
  if (!code.initDCOs) code.initDCOs = &DSInitDCOs;
  if (!code.callDisposeProc) code.callDisposeProc = &DSCallDisposeProc;
  if (!code.setCodeEntryAndPatch) code.setCodeEntryAndPatch = &SetCodeEntryAndPatch;
  SetVICodeHooks(&code);
  PSetVIPrintRecordProc(&PrintRecordSlot);
}
