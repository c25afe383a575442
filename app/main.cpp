// The program's entry point.
#include "engine/exec/rttable.h"
#include "mgsource/memory.h"

int main(int /*argc*/, char** /*argv*/) {
  if (MemInit() != kNoErr) return 1;
  // The run-time function table is complete before the first VI loads.
  QXRTRegisterEngine();
  QXRTCloseRegistration();
  MemShutdown();
  return 0;
}
