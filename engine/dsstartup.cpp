// The engine's start-up blocks, made once by MemInit through the data-space
// hook, before the managers' mutexes exist.
#include "engine/dsalloc.h"
#include "engine/exec/rttable.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

namespace {
AZPAllocBlocks gBlocks{};
}

void AZPAllocInit() {
  gBlocks.runs += 1;
  gBlocks.linkerTable = AZNewPClr(3004);
  gBlocks.linkerNames = AZNewPClr(160);
  gBlocks.block4000a = AZNewPClr(4000);
  gBlocks.block4000b = AZNewPClr(4000);
  gBlocks.block268 = AZNewPClr(268);
  gBlocks.emptyHandle = AZNewHandle(0);
  gBlocks.rtTable = QXRTTable;
  if (!gBlocks.linkerTable || !gBlocks.linkerNames || !gBlocks.block4000a || !gBlocks.block4000b ||
      !gBlocks.block268 || !gBlocks.emptyHandle)
    DBAssert(__FILE__, __LINE__, "AZPAllocInit: out of memory");
  const EnginePanelHooks* hooks = GetEnginePanelHooks();
  if (hooks->newPairTable) gBlocks.pairTable = hooks->newPairTable(kPairTableEntries);
  if (hooks->initTransactionStack) hooks->initTransactionStack();
}

const AZPAllocBlocks* AZPBlocks() { return &gBlocks; }
