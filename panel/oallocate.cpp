// The allocation methods (message 55) of the panel classes: each appends the
// data-space entries of its object inside the pass that AllocObjDataSpace
// opened, stores their data and descriptor offsets in the object, and passes
// the message on to the objects it holds.  An entry is made only while its
// offset word is 0, so a second pass over the same object adds nothing.
#include "engine/datasupp.h"
#include "engine/dsalloc.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "panel/panel_internal.h"
#include "rtlib/panellocators.h"

namespace {

// Words of the classes (32-bit words of the object).
enum : int32 {
  kDCOTypeId = 3, kDCODisplay = 5, kDCOData = 6, kDCOTD = 7,
  kDDOTypeId = 9,
  kNumRangeData = 11, kNumRangeTD = 12,
  kRingItemsData = 15, kRingItemsTD = 16,
  kArrayElement = 10, kArrayData = 13, kArrayTD = 14,
  kClusterElements = 10,
  kRefNumContained = 10,
  kTableData = 10, kTableTD = 11,
  kScaleData = 7, kScaleTD = 8,
  kGraphChartType = 10, kGraphStateData = 11, kGraphStateTD = 12, kGraphHistoryData = 13,
  kGraphHistoryTD = 14, kGraphImageTD = 17, kGraphImageData = 19,
};
constexpr int32 kGraphKindByte = 98;  // unsigned 16 bits, the last field of a graph
// The ring's parts that count its items.
constexpr int32 kRingItemTablePart = 14;  // int16 item count at byte 36
constexpr int32 kRingItemTextPart = 12;   // word 11: the item texts, a CPStr handle
constexpr int32 kRingItemCountByte = 36;
constexpr int32 kRingItemTextWord = 11;

const TypeDescriptor* TypeOf(ObjHeap heap, int32 object, int32 word) {
  TypeID id = TypeID(ObjWord(heap, object, word));
  return id ? TypeIDToTD(heap, id) : nullptr;
}

// Appends the entry for td and stores its offsets in the object's words;
// the data offset, or 0 when the object had its entry already.
int32 NewEntry(ObjHeap heap, int32 object, int32 dataWord, int32 tdWord, const TypeDescriptor* td, bool stored,
               int32 room = 0) {
  int32 tdOffset = 0;
  int32 offset = CreateDSEntry(td, &tdOffset, stored ? 1 : 0);
  QX_ASSERT(offset >= kDataSpaceHeaderSize);
  if (room) QX_ASSERT(DSAllocEndOfData() - offset >= room);
  ObjSetWord(heap, object, dataWord, offset);
  ObjSetWord(heap, object, tdWord, tdOffset);
  return offset;
}

// The same for a descriptor built in a handle, which is disposed; a handle
// that could not be built sets error flag 4 and leaves the words 0.
int32 NewBuiltEntry(ObjHeap heap, int32 object, int32 dataWord, int32 tdWord, UHandle built, bool stored,
                    int32 room = 0) {
  if (!built) {
    DSAllocSetError(kDSAllocTDErr);
    return 0;
  }
  int32 offset =
      NewEntry(heap, object, dataWord, tdWord, reinterpret_cast<const TypeDescriptor*>(*built), stored, room);
  AZDisposeHandle(built);
  return offset;
}

inline bool Unallocated(ObjHeap heap, int32 object, int32 dataWord) {
  return ObjWord(heap, object, dataWord) == 0;
}

// Objects reach the objects they hold and their parts.  A heap from a file
// may hold a cluster among its own elements, or a list twice over: the walk
// stops at a depth and a number of messages that no real panel reaches.
constexpr int32 kMaxDepth = 64, kMaxMessages = 1 << 16;
thread_local int32 tDepth = 0, tMessages = 0;

void AllocateOne(ObjHeap heap, int32 object) {
  if (tDepth >= kMaxDepth || ++tMessages > kMaxMessages) {
    DBPrintf("OAllocate: objects of 0x%lx nest too deep", long(object));
    return;
  }
  // A part of a class that allocates nothing (a controller listed among a
  // damaged panel's parts) is passed over, not sent the message.
  if (OFindMethod(heap, object, kMsgOAllocate) == reinterpret_cast<ObjMethodAddr>(&ErrorMethod)) return;
  ++tDepth;
  OAllocate(heap, object);
  --tDepth;
}

void AllocateParts(ObjHeap heap, int32 object) {
  if (tDepth == 0) tMessages = 0;
  ForEachPart(heap, object, [&](int32 part) { AllocateOne(heap, part); });
}

// A held object's word comes from the file: only a used block is sent the
// message.
void AllocateHeld(ObjHeap heap, int32 held) {
  if (tDepth == 0) tMessages = 0;
  if (held > 0 && OHIsUsedBlock(heap, held)) AllocateOne(heap, held);
}

int32 FrontPanelAllocate(ObjHeap, int32) {
  DBAssert(__FILE__, __LINE__, "Front Panel: a panel is allocated through its controllers");
  return 0;
}

int32 FPDCOAllocate(ObjHeap heap, int32 dco) {
  if (Unallocated(heap, dco, kDCOData)) {
    const TypeDescriptor* td = TypeOf(heap, dco, kDCOTypeId);
    NewBuiltEntry(heap, dco, kDCOData, kDCOTD, td ? FPDCODataTD(td) : nullptr, false);
  }
  AllocateHeld(heap, ObjWord(heap, dco, kDCODisplay));
  return 0;
}

int32 NumericAllocate(ObjHeap heap, int32 num) {
  int16 partId = ObjInt16(heap, num, kObjPartId);
  if (OHWord(heap, kOHKind) == kPanelHeapKind && (partId == 0 || partId == kPartIdTypeDefControl) &&
      Unallocated(heap, num, kNumRangeData)) {
    const TypeDescriptor* td = TypeOf(heap, num, kDDOTypeId);
    NewBuiltEntry(heap, num, kNumRangeData, kNumRangeTD, td ? NumRangeTD(td) : nullptr, true);
  }
  AllocateParts(heap, num);
  return 0;
}

// The number of items of a ring: the item table's count, else the number of
// item texts, else 1.
int32 RingItemCount(ObjHeap heap, int32 ring) {
  if (int32 table = FindPart(heap, ring, kRingItemTablePart, 0); table && OHBlockSize(heap, table) >= kRingItemCountByte + 2) {
    int32 n = ObjInt16(heap, table, kRingItemCountByte);
    return n < 0 ? 0 : n;
  }
  if (int32 text = FindPart(heap, ring, kRingItemTextPart, 0)) {
    // The text part's string list, when that word holds a live list.
    const bool holds = OHBlockSize(heap, text) >= 4 * (kRingItemTextWord + 1);
    UHandle list = holds ? reinterpret_cast<UHandle>(uintptr_t(ObjWord(heap, text, kRingItemTextWord))) : nullptr;
    if (list && AZCheckHandle(list) == kNoErr && AZGetHandleSize(list) >= 4) {
      int32 n = int32(GetNative32(*list));
      return n < 0 ? 0 : n;
    }
  }
  return 1;
}

int32 RingAllocate(ObjHeap heap, int32 ring) {
  NumericAllocate(heap, ring);
  if (!Unallocated(heap, ring, kRingItemsData)) return 0;
  int32 offset = NewBuiltEntry(heap, ring, kRingItemsData, kRingItemsTD, RingItemsTD(), true, 4);
  // The entry's data exists only while nothing failed.
  if (!offset || (DSAllocErrorFlags() & kDSAllocMemErr)) return 0;
  int32 count = RingItemCount(heap, ring);
  UPtr items = FPHeapDataPtr(heap, offset);
  if (!items) return 0;
  UHandle array = reinterpret_cast<UHandle>(uintptr_t(GetNative32(items)));
  int32* sizes = &count;
  MgErr err = ArrayResize(StdTDTable[kTDU32], 1, &array, &sizes);
  // The data space may have moved: store through a fresh address.
  items = FPHeapDataPtr(heap, offset);
  if (items) PutNative32(items, uInt32(uintptr_t(array)));
  if (err) DSAllocSetError(kDSAllocMemErr);
  return 0;
}

int32 ArrayAllocate(ObjHeap heap, int32 arr) {
  if (Unallocated(heap, arr, kArrayData)) {
    const TypeDescriptor* td = TypeOf(heap, arr, kDDOTypeId);
    const uChar* a = td ? reinterpret_cast<const uChar*>(SkipTypedefs(td)) : nullptr;
    UHandle built = nullptr;
    int32 room = 0;
    if (a && a[2] == kTDArray) {
      int32 dims = int16(GetNative16(a + 4));
      const TypeDescriptor* elem = reinterpret_cast<const TypeDescriptor*>(a + 6 + 4 * dims);
      built = ArrayCtlDataTD(elem, dims);
      room = DataSize(elem) + 12;
    }
    NewBuiltEntry(heap, arr, kArrayData, kArrayTD, built, true, room);
  }
  AllocateParts(heap, arr);
  AllocateHeld(heap, ObjWord(heap, arr, kArrayElement));
  return 0;
}

int32 ClusterAllocate(ObjHeap heap, int32 cluster) {
  int32 list = ObjWord(heap, cluster, kClusterElements);
  // The list's count is checked against its block at every step: the
  // elements' allocations may move it.
  const auto fits = [&](int32 l, int32 i) {
    return l > 0 && OHIsUsedBlock(heap, l) && i < ObjListCount(heap, l) && 4 + int64(4) * (i + 1) <= OHBlockSize(heap, l);
  };
  for (int32 i = 0; fits(list, i); ++i) {
    AllocateHeld(heap, ObjListGet(heap, list, i));
    list = ObjWord(heap, cluster, kClusterElements);
  }
  return 0;
}

int32 RefNumAllocate(ObjHeap heap, int32 ref) {
  AllocateHeld(heap, ObjWord(heap, ref, kRefNumContained));
  return 0;
}

int32 TypeDefAllocate(ObjHeap heap, int32 def) {
  AllocateHeld(heap, FindPart(heap, def, kPartIdTypeDefControl, 0));
  return 0;
}

int32 TableAllocate(ObjHeap heap, int32 table) {
  if (Unallocated(heap, table, kTableData)) {
    const TypeDescriptor* td = TypeOf(heap, table, kDDOTypeId);
    NewBuiltEntry(heap, table, kTableData, kTableTD, td ? TableCtlDataTD(td) : nullptr, true,
                  td ? DataSize(td) + kTableStateDataSize : 0);
  }
  AllocateParts(heap, table);
  return 0;
}

int32 ListboxAllocate(ObjHeap heap, int32 box) {
  if (Unallocated(heap, box, kTableData)) NewBuiltEntry(heap, box, kTableData, kTableTD, ListboxCtlDataTD(), true, 8);
  return 0;
}

int32 ScaleAllocate(ObjHeap heap, int32 scale) {
  if (Unallocated(heap, scale, kScaleData)) NewBuiltEntry(heap, scale, kScaleData, kScaleTD, ScaleCtlDataTD(), true, 96);
  return 0;
}

bool GraphHasImage(uInt16 kind) { return kind == 3 || kind == 4 || (kind >= 104 && kind <= 106); }
// Charts are kinds 101 to 199; 201 is an XY graph and has no history.
bool GraphIsChart(uInt16 kind) { return kind >= 101 && kind <= 199; }

int32 GraphAllocate(ObjHeap heap, int32 graph) {
  uInt16 kind = uInt16(ObjInt16(heap, graph, kGraphKindByte));
  if (Unallocated(heap, graph, kGraphStateData))
    NewBuiltEntry(heap, graph, kGraphStateData, kGraphStateTD, GraphStateTD(), true);
  if (GraphHasImage(kind) && Unallocated(heap, graph, kGraphImageData))
    NewBuiltEntry(heap, graph, kGraphImageData, kGraphImageTD, GraphImageTD(), true);
  if (GraphIsChart(kind) && Unallocated(heap, graph, kGraphHistoryData)) {
    // Charts: the history, of the chart-data type.
    if (const TypeDescriptor* td = TypeOf(heap, graph, kGraphChartType)) {
      NewEntry(heap, graph, kGraphHistoryData, kGraphHistoryTD, td, false);
      if (!DSAllocErrorFlags()) DSAllocMarkEntryTD(ObjWord(heap, graph, kGraphHistoryTD), kDSEntryPrivate);
    } else {
      DSAllocSetError(kDSAllocTDErr);
    }
  }
  AllocateParts(heap, graph);
  return 0;
}

}  // namespace

OAllocateMethod OAllocateMethodFor(int32 cls) {
  switch (cls) {
    case kClsFPDataController: return &FPDCOAllocate;
    case kClsFrontPanel: return &FrontPanelAllocate;
    case kClsNumeric:
    case kClsColorBox:
    case kClsSlide:
    case kClsKnob:
    case kClsColorRamp: return &NumericAllocate;
    case kClsRing: return &RingAllocate;
    case kClsArray: return &ArrayAllocate;
    case kClsCluster: return &ClusterAllocate;
    case kClsRefNum: return &RefNumAllocate;
    case kClsTypeDefinition: return &TypeDefAllocate;
    case kClsTable: return &TableAllocate;
    case kClsGraphChart: return &GraphAllocate;
    case kClsListbox: return &ListboxAllocate;
    case kClsScale: return &ScaleAllocate;
    default: return &ErrorMethod;
  }
}
