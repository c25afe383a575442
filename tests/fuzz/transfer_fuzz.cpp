// Transfer tables, transfer records and strip-chart records come from VIs:
// the input rewrites a real data space's table area and header words, then
// writes, reads, drains and folds.  Nothing outside the data space may be
// touched (the sanitizers watch the rest) and the data-space type must come
// back byte for byte.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/objlist.h"
#include "panel/fpexec.h"
#include "panel/fppanel.h"
#include "panel/oinit.h"
#include "panel_fuzz_support.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool init = FuzzStartPanelManagers();
  if (!init || size > 4096) return 0;
  FuzzReader in{data, size};
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewBoundPanel(
      {tdb::Cluster({tdb::Cluster({tdb::U32(), tdb::U32(), tdb::U32()}), tdb::DBL(), tdb::DBL(), tdb::DBL(),
                     tdb::DBL(), tdb::DBL()}),
       tdb::DBL()},
      &vi);
  if (!heap) return 0;
  UHandle ds = VIRec(vi)->dataSpace;
  const int32 used = (DSHdr(ds)->size + 7) & ~7;
  const int32 area = 512;
  if (DSSetHSzClr(ds, used + area) != kNoErr) {
    FuzzDisposePanel(heap, vi);
    return 0;
  }
  for (int32 i = 0; i < area; ++i) (*ds)[used + i] = in.Byte();
  DataSpaceHeader* h = DSHdr(ds);
  h->dcoCount = int32(in.Byte() % 12) - 1;
  h->dcoTableOffset = (in.Byte() & 1) ? used + int32(in.Byte()) : int32(in.Word());
  h->transferMode = int16(in.Byte() & 1);
  h->hasDataControllers = in.Byte() & 1;
  h->panel = reinterpret_cast<UHandle>(heap);
  h->owner = vi;
  // A controller list of the input's length.
  int32 list = OHNewBlock(heap, kObjListNewSize, kObjClassList);
  const int32 controllers = in.Byte() % 12;
  for (int32 i = 0; i < controllers && list; ++i) {
    const int32 dco =
        vib::NewObject(heap, kClsFPDataController, ClassRecord(kClsFPDataController)->instanceSize, 0, 0, 0);
    if (!dco || OHListInsert(heap, &list, dco, kObjListAppend) != kNoErr) break;
  }
  const int32 root = int32(GetNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtRoot));
  if (list) OHSetWord(heap, uInt32(root + kRootItemList), uInt32(list));

  UHandle types = h->typeDesc;
  std::vector<uChar> before;
  if (types && *types) before.assign(*types, *types + DSGetHandleSize(types));
  DataSpace d = reinterpret_cast<DataSpace>(ds);
  for (int32 i = -1; i < 12; ++i) {
    // The arguments compiled code would pass: what the entry names.
    TransferEntry e{};
    const int64 at = int64(h->dcoTableOffset) + int64(i) * 36;
    if (at >= 0 && at + 36 <= DSGetHandleSize(ds)) std::memcpy(&e, *ds + at, sizeof e);
    const uintptr_t base = uintptr_t(*ds);
    auto* op = reinterpret_cast<DCOOpData*>(base + e.opData);
    void* copy0 = reinterpret_cast<void*>(base + e.copy0);
    uChar value[64] = {};
    in.Bytes(value, sizeof value);
    const int32 sz = int32(e.size);
    if (sz > 0 && sz <= int32(sizeof value)) {
      WriteDCOTransferData(d, i, op, copy0, value, sz, int32(e.flat), in.Byte() % 4);
      ReadDCOTransferData(d, i, op, copy0, value, sz, int32(e.flat), in.Byte() % 3);
    }
    FPDisplayTransferData(d, i, heap);
    QueueUpdate(d, i, int32(in.Byte()), in.Byte() % 4);
  }
  FPUpdateTransferOffsets(d);
  FPBindTransferTable(d);
  ProcessUpdateQueue(int32(uintptr_t(ds)), int32(uintptr_t(vi)), 1);
  if (types && *types && (before.size() != size_t(DSGetHandleSize(types)) ||
                          std::memcmp(before.data(), *types, before.size()) != 0)) {
    __builtin_trap();
  }
  h = DSHdr(ds);
  h->dcoCount = 0;
  h->panel = nullptr;
  FuzzDisposePanel(heap, vi);
  return 0;
}
