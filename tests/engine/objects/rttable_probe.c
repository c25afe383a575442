/* A shared object loaded by the tests: it reaches the run-time function table
   through the program's exported symbol, as external code does. */
#include <stdint.h>

extern void (*QXRTTable[])(void);

uint32_t RTProbeEntry(int32_t index) { return (uint32_t)(uintptr_t)QXRTTable[index]; }
