// The check of a library's ELF header on arbitrary bytes, against its rule:
// the magic, 32-bit class, little-endian data, a shared object for i386.
#include <cstddef>
#include <cstdint>

#include "platform/qx_dynlib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bool ok = size >= 52 && data[0] == 0x7F && data[1] == 'E' && data[2] == 'L' && data[3] == 'F' &&
            data[4] == 1 && data[5] == 1 && data[16] == 3 && data[17] == 0 && data[18] == 3 && data[19] == 0;
  int32_t got = PlatLibCheckElfHeader(data, size);
  if ((got == kPlatLibOK) != ok || (got != kPlatLibOK && got != kPlatLibBadFormat)) __builtin_trap();
  return 0;
}
