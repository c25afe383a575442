// Stored descriptors, panel objects, panel resources and scraps come from
// files: convert any bytes to memory order and check nothing runs past them.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/objswap.h"
#include "fuzz_support.h"
#include "engine/stdize.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"

namespace {
const uInt32 kRsrcTypes[] = {kRsrcDDOD, kRsrcCosm, kRsrcMCos, kRsrcBCos, kRsrcSNUM, kRsrcSLBX, kRsrcLabl};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = FuzzStartManagers();
  if (!ready || size < 2 || size > 65536) return 0;
  uint8_t sel = data[0];
  // An exact-size copy, so that the sanitizer sees any access past the end.
  std::vector<uChar> buf(data + 1, data + size);
  int32 n = int32(buf.size());
  switch (sel % 4) {
    case 0: {
      if (StandardizeTDBounded(buf.data(), kToMemoryOrder, sel & 4, n) == kNoErr)
        StandardizeTDBounded(buf.data(), kToFileOrder, sel & 4, n);
      break;
    }
    case 1: {
      const int16* classes;
      int32 count = ObjSwapClasses(&classes);
      SwapObjectData(buf.data(), n, classes[(sel >> 2) % count], kSwapToMemory);
      break;
    }
    case 2:
      SwapRsrcData(kRsrcTypes[(sel >> 2) % 7], buf.data(), n, kSwapToMemory);
      break;
    default:
      SwapScrapData(buf.data(), n, kSwapToMemory);
      break;
  }
  return 0;
}
