// The transaction stack: one block for the paths of frames that carry panel
// actions down to objects, made at start-up and kept until exit.
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "panel/objects.h"

namespace {
UPtr gStack = nullptr;
}  // namespace

void TRInit() {
  gStack = AZNewPClr(kTransactionStackBytes);
  if (!gStack) DBAssert(__FILE__, __LINE__, "TRInit: no memory for the transaction stack");
}

UPtr TRStackBlock() { return gStack; }
