// A VI's saved types come from its file: load any bytes as a 'DTHP' heap.
// A load that succeeds must leave the VI naming interned descriptors that
// every walker can read; any load must leave the type heap sound.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/typemgr.h"
#include "typedesc_walk.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"

namespace {
// Bad input is never a broken invariant of the loader or the type heap; the
// walkers run afterwards may report descriptors they were not made for.
bool gTrap = true;
int32_t TrapOnReport(const char*, const char* text, int32_t buttons, int32_t) {
  if (!gTrap) return PlatAlertDefaultAnswer(buttons);
  std::fprintf(stderr, "%s\n", text);
  __builtin_trap();
}
void Drop(const char*) {}

UHandle gVI = nullptr;
ObjHeap gPanel = nullptr;

bool Start() {
  PlatSetAlertProc(TrapOnReport);
  PlatSetDebugSink(Drop);
  DBSetContinueAfterFailure(1);
  if (MemInit() != kNoErr || TypeHeapInit() != kNoErr) return false;
  gVI = AZNewHClr(452);
  gPanel = OHNewHeap(2000, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  if (!gVI || !gPanel) return false;
  std::memcpy(*gPanel + OHWord(gPanel, kOHExtension) + kHeapExtOwner, &gVI, 4);
  return RegisterVI(gVI) == kNoErr;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = Start();
  if (!ready || size > 1 << 20) return 0;
  UHandle h = AZNewHandle(int32(size));
  if (!h) return 0;
  if (size) std::memcpy(*h, data, size);
  if (LoadVITypesFromHandle(gVI, h) == kNoErr) {
    for (TypeID id = 1; TypeIDEntryValue(gPanel, id, 0) || FindTypeIDEntry(gPanel, id, 0); ++id) {
      const TypeDescriptor* td = TypeIDGetTD(gPanel, id, 0);
      if (!td) continue;
      // A copy of exactly the descriptor's size, so the sanitizer sees any read past it.
      int32 n = td->size;
      uChar* copy = new uChar[size_t(n)];
      std::memcpy(copy, td, size_t(n));
      gTrap = false;
      tdwalk::Exercise(copy, n);
      gTrap = true;
      delete[] copy;
    }
  }
  CollectTypeHeapGarbage();
  return 0;
}
