// Stored object heaps come from files: read any bytes as a heap in file order.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/objheap.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"

namespace {
// A heap that passed the check must never make the heap code report a broken invariant.
int32_t TrapOnReport(const char*, const char* text, int32_t, int32_t) {
  std::fprintf(stderr, "%s\n", text);
  __builtin_trap();
}
void Drop(const char*) {}

int32 Touch(ObjHeap heap, int32 off) {
  int32 n = OHBlockSize(heap, off);
  if (n > 0) (*heap)[off + n - 1] ^= 1;
  return 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    PlatSetAlertProc(TrapOnReport);
    PlatSetDebugSink(Drop);
    DBSetContinueAfterFailure(1);
    return MemInit() == kNoErr;
  }();
  if (!init || size > 1 << 20) return 0;
  UHandle h = AZNewHandle(int32(size));
  if (!h) return 0;
  if (size) std::memcpy(*h, data, size);
  if (OHByteSwapHeap(h, nullptr, 0) == kNoErr) {
    // A heap that passed the check must stand every operation.
    OHLinkHeap(h);
    OHForEachBlock(h, Touch);
    int32 a = OHNewBlock(h, 40, 1);
    if (a) {
      int32 off = a;
      OHSetBlockSize(h, &off, 200);
      OHDisposeBlock(h, off);
    }
    OHByteSwapHeap(h, nullptr, 1);
    OHByteSwapHeap(h, nullptr, 0);
    OHDisposeHeap(h);
  } else {
    AZDisposeHandle(h);
  }
  return 0;
}
