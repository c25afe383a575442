// Stored descriptors, panel objects, panel resources and scraps come from
// files: convert any bytes to memory order and check nothing runs past them.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/objswap.h"
#include "fuzz_support.h"
#include "engine/stdize.h"
#include "olesource/oleautomgr.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"

namespace {
const uInt32 kRsrcTypes[] = {kRsrcDDOD, kRsrcCosm, kRsrcMCos, kRsrcBCos, kRsrcSNUM, kRsrcSLBX, kRsrcLabl};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = FuzzStartManagers() && SetAutoRefStandardize(&OleAutoRefStandardize) == nullptr;
  if (!ready || size < 2 || size > 65536) return 0;
  uint8_t sel = data[0];
  // An exact-size copy, so that the sanitizer sees any access past the end.
  std::vector<uChar> buf(data + 1, data + size);
  int32 n = int32(buf.size());
  switch (sel % 5) {
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
    case 3:
      SwapScrapData(buf.data(), n, kSwapToMemory);
      break;
    default: {
      // An automation refnum descriptor in file order around the input's
      // count byte and records: refused as the client says, or converted to
      // memory order and back to the same bytes.
      std::vector<uChar> td(6);
      const uint32_t total = 6 + uint32_t(buf.size());
      td[0] = uChar(total >> 8);
      td[1] = uChar(total);
      td[3] = kTDRefnum;
      td[5] = kRefnumAutomation;
      td.insert(td.end(), buf.begin(), buf.end());
      if (total > 0xFFFE) break;
      const std::vector<uChar> file = td;
      const MgErr err = StandardizeTDBounded(td.data(), kToMemoryOrder, 0, int32(td.size()));
      FUZZ_CHECK(err == kNoErr || err == kArgErr || err == 3001);
      if (err) break;
      FUZZ_CHECK(StandardizeTDBounded(td.data(), kToFileOrder, 0, int32(td.size())) == kNoErr);
      FUZZ_CHECK(td == file);
      break;
    }
  }
  return 0;
}
