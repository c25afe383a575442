// Entries of a VI's data space, found from their descriptors.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

namespace {

std::atomic<uInt32> gMapGeneration{0};

// The data offsets and sizes of the entries of the last type map looked
// through, by the offsets of their descriptors.  Panels ask for the same entries at
// every display, and a walk from the start of the map costs a DataSize per
// entry before the one asked for.  The index is made again when any map was
// freed, replaced or changed in place since (DSTypeMapChanged), or when the
// map is another handle, has moved, or changed size or count (entries are
// appended as objects are allocated).  One per thread.
struct EntryIndex {
  uInt32 generation = 0;
  UHandle map = nullptr;
  UPtr master = nullptr;
  int32 size = -1, count = -1;
  struct Entry {
    int32 td, data, size;  // descriptor offset (ascending), data offset, data size
  };
  std::vector<Entry> entries;
};
thread_local EntryIndex tIndex;

const EntryIndex& IndexOf(UHandle map, int32 size) {
  EntryIndex& x = tIndex;
  const uInt32 generation = gMapGeneration.load(std::memory_order_acquire);
  const int32 count = int16(GetNative16(*map + 4));
  if (x.generation == generation && x.map == map && x.master == *map && x.size == size && x.count == count) return x;
  x.generation = generation, x.map = map, x.master = *map, x.size = size, x.count = count;
  x.entries.clear();
  int32 at = 6, off = 0;
  for (int32 i = 0; i < count && at + 4 <= size; ++i) {
    const TypeDescriptor* e = reinterpret_cast<const TypeDescriptor*>(*map + at);
    const int32 esz = e->size;
    if (esz < 4 || esz == kTDSizeInHolder || at + esz > size) break;
    off = AlignDatum(e, off);
    const int32 n = DataSize(e);
    x.entries.push_back({at, off, n});
    off += n;
    at += esz;
  }
  return x;
}

}  // namespace

void DSTypeMapChanged() { gMapGeneration.fetch_add(1, std::memory_order_acq_rel); }

const TypeDescriptor* PanelEntryTD(ObjHeap heap, int32 dataOffset, int32 tdOffset, int32 bytes) {
  UHandle vi = heap && *heap ? PanelHeapOwner(heap) : nullptr;
  UHandle map = vi && *vi ? VIRec(vi)->dsTypeMap : nullptr;
  UHandle ds = vi && *vi ? VIRec(vi)->dataSpace : nullptr;
  if (!map || !*map || !ds || !*ds || dataOffset < kPanelDataFloor || tdOffset < 6) return nullptr;
  const int32 size = DSGetHandleSize(map);
  if (size < 6) return nullptr;
  const EntryIndex& x = IndexOf(map, size);
  const auto it = std::lower_bound(x.entries.begin(), x.entries.end(), tdOffset,
                                   [](const EntryIndex::Entry& e, int32 td) { return e.td < td; });
  if (it != x.entries.end() && it->td == tdOffset) {
    const int32 n = it->size;
    if (it->data == dataOffset && n >= bytes && int64(dataOffset) + n <= DSGetHandleSize(ds))
      return reinterpret_cast<const TypeDescriptor*>(*map + tdOffset);
  }
  DBPrintf("data-space entry %ld / %ld does not match", long(dataOffset), long(tdOffset));
  return nullptr;
}
