// Entries of a VI's data space, found from their descriptors.
#include "engine/datatype.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

const TypeDescriptor* PanelEntryTD(ObjHeap heap, int32 dataOffset, int32 tdOffset, int32 bytes) {
  UHandle vi = heap && *heap ? PanelHeapOwner(heap) : nullptr;
  UHandle map = vi && *vi ? VIRec(vi)->dsTypeMap : nullptr;
  UHandle ds = vi && *vi ? VIRec(vi)->dataSpace : nullptr;
  if (!map || !*map || !ds || !*ds || dataOffset < kPanelDataFloor || tdOffset < 6) return nullptr;
  int32 size = DSGetHandleSize(map);
  if (size < 6) return nullptr;
  int32 count = int16(GetNative16(*map + 4));
  int32 at = 6, off = 0;
  for (int32 i = 0; i < count && at + 4 <= size && at <= tdOffset; ++i) {
    const TypeDescriptor* e = reinterpret_cast<const TypeDescriptor*>(*map + at);
    int32 esz = e->size;
    if (esz < 4 || esz == kTDSizeInHolder || at + esz > size) break;
    off = AlignDatum(e, off);
    if (at == tdOffset) {
      int32 n = DataSize(e);
      if (off == dataOffset && n >= bytes && int64(off) + n <= DSGetHandleSize(ds)) return e;
      break;
    }
    off += DataSize(e);
    at += esz;
  }
  DBPrintf("data-space entry %ld / %ld does not match", long(dataOffset), long(tdOffset));
  return nullptr;
}
