// What the GPIB text readers' targets share: an address word a reader
// answers is 0xFFFF, or a primary address 0-30 with no secondary or one of
// 0x60-0x7E in the high byte.
#pragma once
#include "fuzz_support.h"
#include "io/gpibsup.h"

inline void FuzzCheckGPIBAddress(GPIBAddress address) {
  if (address == 0xFFFF) return;
  uInt32 primary = address & 0xFF, high = address >> 8;
  FUZZ_CHECK(primary <= 30);
  FUZZ_CHECK(high == 0 || (high >= 0x60 && high <= 0x7E));
}
