// The program's entry point.
#include "mgsource/memory.h"

int main(int /*argc*/, char** /*argv*/) {
  if (MemInit() != kNoErr) return 1;
  MemShutdown();
  return 0;
}
