// Where panel objects find the data they show (message 41) and their type
// (message 35).  Objects do not hold their values: a display object asks up
// its chain of owners until a data controller answers with its value in the
// panel's data space; classes with parts of their own narrow the answer to
// the part's piece of the data.
//
// Object words and data offsets come from VI files: every offset is checked
// against the data-space handle before an answer is formed, and owner chains
// longer than any real panel nests are cut off.
#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "panel/datamsg.h"
#include "panel/textparts.h"
#include "panel/fppanel.h"
#include "panel/graphstate.h"
#include "engine/dsalloc.h"
#include "panel/panel_internal.h"
#include "rtlib/chartdata.h"
#include "rtlib/panellocators.h"

namespace {

// Data-controller failures are reported under this source name.
const char kDataFile[] = "data";

// Owner chains deeper than this are refused (a heap whose owners loop).
constexpr int32 kMaxChain = 256;
thread_local int32 tChain = 0;
// The messages one request may send on (a heap whose owners loop through
// classes that ask twice would otherwise take exponential time).
constexpr int32 kMaxMessages = 4096;
thread_local int32 tMessages = 0;

// The 16-bit cells of the Boolean and Ring answers, one per thread: an
// answer stays valid until the same thread's next request.
thread_local uInt16 tBoolCell = 0;
thread_local uInt16 tRingCell = 0;

UHandle NoMarkerList(ObjHeap, int32) { return nullptr; }
int32 NoDispatch(UHandle) { return 0; }
PanelDataHooks gHooks{&NoMarkerList, &NoDispatch};

int32 Nothing(UHandle* handle) {
  if (handle) *handle = nullptr;
  return 0;
}

int32 Address(const void* p) { return int32(uInt32(uintptr_t(p))); }
UPtr AddressOf(int32 a) { return reinterpret_cast<UPtr>(uintptr_t(uInt32(a))); }

// The answer for data at offset inside handle h.
int32 Answer(UHandle h, int32 offset, UHandle* handle) {
  if (handle) {
    *handle = h;
    return offset;
  }
  return Address(*h + offset);
}

UHandle PanelDataSpace(ObjHeap heap) {
  UHandle* p = FPGetDataSpace(heap);
  return p ? *p : nullptr;
}

// True when count bytes at offset lie in the data space above its header.
bool InDataSpace(UHandle ds, int32 offset, int32 count, const char* who) {
  if (ds && *ds && offset >= kPanelDataFloor && count >= 0 && int64(offset) + count <= DSGetHandleSize(ds))
    return true;
  DBPrintf("%s: panel data offset %ld outside the data space", who, long(offset));
  return false;
}

const TypeDescriptor* OwnTD(ObjHeap heap, int32 object) {
  TypeID id = DDOTypeID(heap, object);
  const TypeDescriptor* td = id ? TypeIDToTD(heap, id) : nullptr;
  return td ? SkipTypedefs(td) : nullptr;
}

int16 PartId(ObjHeap heap, int32 part) { return ObjInt16(heap, part, kObjPartId); }

bool IsDefaultMode(int32 mode) { return mode == kDataPtrDefault || mode == kDataPtrDefaultHere; }
bool IsOperateMode(int32 mode) { return mode == kDataPtrOperate || mode == kDataPtrOperateHere; }

// True when data of the two descriptors is laid out alike: their data-only
// forms (names, enumerations and units dropped) compare equal.
bool SameLayout(const TypeDescriptor* a, const TypeDescriptor* b) {
  int32 na = StripTD(a, nullptr), nb = StripTD(b, nullptr);
  if (na < 4 || nb < 4) return false;
  std::vector<uChar> sa(size_t(na) + 8), sb(size_t(nb) + 8);
  TypeDescriptor* ta = reinterpret_cast<TypeDescriptor*>(sa.data());
  TypeDescriptor* tb = reinterpret_cast<TypeDescriptor*>(sb.data());
  StripTD(a, ta);
  StripTD(b, tb);
  return (TDCompare(ta, tb) & ~(kTDDiffTypedef | kTDDiffName)) == 0;
}

// True when offset names a block of at least size bytes inside the heap.
bool IsBlockOf(ObjHeap heap, int32 offset, int32 size) {
  uInt32 end = OHWord(heap, kOHEndOffset) + 1;
  if (offset < int32(kOHHeaderSize + kOHBlockHeader) || uInt32(offset) >= end) return false;
  int32 n = OHBlockSize(heap, offset);
  return n >= size && uInt64(uInt32(offset)) + uInt32(n) <= end;
}

// Asks the owner about part.
int32 AskOwner(ObjHeap heap, int32 object, int32 part, int32 mode, UHandle* handle) {
  int32 owner = ObjWord(heap, object, kPWOwner);
  if (!owner) return Nothing(handle);
  return OGetDataPtr(heap, owner, part, mode, handle);
}

// ---- The class procedures ----------------------------------------------------------

int32 DCOGetDataPtr(ObjHeap heap, int32 dco, int32, int32 mode, UHandle* handle) {
  UHandle ds = PanelDataSpace(heap);
  if (!ds || !*ds) {
    DBAssert(kDataFile, __LINE__, "FrontPanelDataController: the panel has no data space");
    return Nothing(handle);
  }
  TypeID id = DCOTypeID(heap, dco);
  const TypeDescriptor* td = id ? TypeIDToTD(heap, id) : nullptr;
  if (!td) return Nothing(handle);
  if (ObjWord(heap, dco, kPWDCORecord) == 0) {
    DBAssert(kDataFile, __LINE__, "FrontPanelDataController: the controller has no data-space record");
    return Nothing(handle);
  }
  // The record words must name the controller's record entry, whose
  // operate copy has the controller's type.
  const TypeDescriptor* rec =
      PanelEntryTD(heap, ObjWord(heap, dco, kPWDCORecord), ObjWord(heap, dco, kPWDCORecordTD), 0);
  const TypeDescriptor* opd = rec && rec->code == kTDCluster && int16(GetNative16(reinterpret_cast<const uChar*>(rec) + 4)) >= 2
                                  ? ElemTD(rec, 1)
                                  : nullptr;
  if (!opd || !SameLayout(opd, td)) {
    DBPrintf("FrontPanelDataController: record of 0x%lx does not hold its type", long(dco));
    return Nothing(handle);
  }
  int32 offset = FPTransferDCOData(heap, dco, td);
  int32 size = DataSize(td);
  if (!offset) {
    DBPrintf("FrontPanelDataController: record of 0x%lx outside the data space", long(dco));
    return Nothing(handle);
  }
  if (IsDefaultMode(mode)) offset += size;
  if (!InDataSpace(ds, offset, size, "FrontPanelDataController")) return Nothing(handle);
  return Answer(ds, offset, handle);
}

int32 DDOGetDataPtr(ObjHeap heap, int32 object, int32, int32 mode, UHandle* handle) {
  return AskOwner(heap, object, object, mode, handle);
}

int32 GrouperGetDataPtr(ObjHeap heap, int32 object, int32 part, int32 mode, UHandle* handle) {
  return AskOwner(heap, object, part, mode, handle);
}

int32 TagGetDataPtr(ObjHeap heap, int32 tag, int32 part, int32 mode, UHandle* handle) {
  if (part && PartId(heap, part) == kPartTagInline) {
    if (handle) *handle = nullptr;
    if (OHBlockSize(heap, tag) < kPanelTagRecSize) return 0;
    return Address(*heap + tag + kPanelTagInlineByte);
  }
  return DDOGetDataPtr(heap, tag, part, mode, handle);
}

int32 BooleanGetDataPtr(ObjHeap heap, int32 b, int32 part, int32 mode, UHandle* handle) {
  if (!part) return DDOGetDataPtr(heap, b, part, mode, handle);
  if (PartId(heap, part) != kPartBoolValue) return Nothing(handle);
  int32 r = AskOwner(heap, b, b, mode, nullptr);
  tBoolCell = r ? *AddressOf(r) : 0;
  if (handle) *handle = nullptr;
  return Address(&tBoolCell);
}

int32 VariantGetDataPtr(ObjHeap heap, int32 v, int32 part, int32 mode, UHandle* handle) {
  if (!part) return DDOGetDataPtr(heap, v, part, mode, handle);
  if (PartId(heap, part) != kPartVariantValue || handle) return Nothing(handle);
  int32 r = AskOwner(heap, v, part, mode, nullptr);
  return r ? r : DDOGetDataPtr(heap, v, part, mode, nullptr);
}

int32 NumericGetDataPtr(ObjHeap heap, int32 num, int32 part, int32 mode, UHandle* handle) {
  if (!part || PartId(heap, part) == kPartDigital) return DDOGetDataPtr(heap, num, part, mode, handle);
  return Nothing(handle);
}

int32 ColorRampGetDataPtr(ObjHeap heap, int32 ramp, int32 part, int32 mode, UHandle* handle) {
  if (part && PartId(heap, part) == kPartScaleLabels) {
    if (handle) return Nothing(handle);
    return Address(PanelScaleMarkerList(heap, part));
  }
  return NumericGetDataPtr(heap, ramp, part, mode, handle);
}

int32 SlideGetDataPtr(ObjHeap heap, int32 slide, int32 part, int32 mode, UHandle* handle) {
  if (!part) return DDOGetDataPtr(heap, slide, part, mode, handle);
  int16 id = PartId(heap, part);
  if (id == kPartScaleLabels) return ColorRampGetDataPtr(heap, slide, part, mode, handle);
  if (id != kPartDigital && id != kPartSlideHousing && id != kPartSlideFill) return Nothing(handle);
  int32 r = DDOGetDataPtr(heap, slide, part, mode, handle);
  const TypeDescriptor* td = OwnTD(heap, slide);
  if (!r || !td || td->code != kTDCluster) return r;
  int32 off = ObjDataOffset(&td, r, ObjInt16(heap, part, kObjPartOrder));
  return off == -1 ? Nothing(handle) : off;
}

int32 RingGetDataPtr(ObjHeap heap, int32 ring, int32 part, int32 mode, UHandle* handle) {
  if (part && (PartId(heap, part) == kPartRingText || PartId(heap, part) == kPartRingItems)) {
    if (handle) return Nothing(handle);
    int32 r = AskOwner(heap, ring, ring, mode, nullptr);
    const TypeDescriptor* td = OwnTD(heap, ring);
    int32 code = td ? (td->code & ~0x10) : 0;
    tRingCell = 0;
    if (r && code >= kTDI8 && code <= kTDCXT) ConvertNum(code, AddressOf(r), kTDU16, &tRingCell);
    return Address(&tRingCell);
  }
  return NumericGetDataPtr(heap, ring, part, mode, handle);
}

int32 ClusterGetDataPtr(ObjHeap heap, int32 cluster, int32 part, int32 mode, UHandle* handle) {
  int32 r = AskOwner(heap, cluster, cluster, mode, handle);
  if (!r) return Nothing(handle);
  if (!part) return r;
  int32 list = ObjWord(heap, cluster, kPWClusterElements);
  if (!list || OHListFind(heap, list, part) < 0) return r;
  // The element's data must be laid out as the element object's type says.
  const TypeDescriptor* etd = nullptr;
  int32 off = ClusterEltOffset(heap, cluster, part, r, &etd);
  const TypeDescriptor* ptd = OwnTD(heap, part);
  if (!off || (ptd && etd && !SameLayout(ptd, etd))) return Nothing(handle);
  return off;
}

int32 ArrayGetDataPtr(ObjHeap heap, int32 arr, int32 part, int32 mode, UHandle* handle) {
  if (!part) return DDOGetDataPtr(heap, arr, part, mode, handle);
  int32 priv = ObjWord(heap, arr, kPWArrayPrivate);
  UHandle ds = priv ? PanelDataSpace(heap) : nullptr;
  const TypeDescriptor* atd = OwnTD(heap, arr);
  if (!priv || !ds || !*ds || !atd || atd->code != kTDArray) return Nothing(handle);
  const TypeDescriptor* privTD = PanelEntryTD(heap, priv, ObjWord(heap, arr, kPWArrayPrivateTD), 12);
  if (!privTD || privTD->code != kTDCluster || int16(GetNative16(reinterpret_cast<const uChar*>(privTD) + 4)) < 4 ||
      ElemTD(privTD, 0)->code != kTDArray || !InDataSpace(ds, priv, 12, "Array"))
    return Nothing(handle);
  const uChar* a = reinterpret_cast<const uChar*>(atd);
  int32 dims = int16(GetNative16(a + 4));
  const TypeDescriptor* elem = reinterpret_cast<const TypeDescriptor*>(a + 6 + 4 * dims);

  // An index display of the array shows the index of the dimension of its order.
  int32 k = IsBlockOf(heap, part, kObjPartOrder + 2) && ObjWord(heap, part, kPWOwner) == arr &&
                    PartId(heap, part) == kPartArrayIndex
                ? ObjInt16(heap, part, kObjPartOrder)
                : -1;
  if (k >= 0) {
    UHandle cells = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*ds + priv)));
    if (k >= dims || !cells || !*cells || DSGetHandleSize(cells) < 8 + 4 * k) {
      DBPrintf("Array: no index cell %ld for 0x%lx", long(k), long(arr));
      return Nothing(handle);
    }
    return Answer(cells, 4 + 4 * k, handle);
  }
  if (part != ObjWord(heap, arr, kPWArrayElement)) return Nothing(handle);
  const TypeDescriptor* ptd = OwnTD(heap, part);
  if (ptd && !SameLayout(ptd, elem)) return Nothing(handle);

  if (!IsDefaultMode(mode)) {
    int32 r = AskOwner(heap, arr, arr, mode, nullptr);
    UPtr p = nullptr;
    UHandle array = nullptr;
    if (r) {
      UHandle* slot = reinterpret_cast<UHandle*>(AddressOf(r));
      p = ArrayDisplayEltPtr(heap, arr, slot, mode == kDataPtrPlain);
      array = *slot;
    }
    if (p || !IsOperateMode(mode)) {
      if (!p) return Nothing(handle);
      if (!handle) return Address(p);
      *handle = array;
      return int32(p - *array);
    }
  }
  // The private element copy.
  int32 off = AlignDatum(elem, priv + 12);
  if (!InDataSpace(ds, off, DataSize(elem), "Array")) return Nothing(handle);
  return Answer(ds, off, handle);
}

int32 RefNumGetDataPtr(ObjHeap heap, int32 ref, int32 part, int32 mode, UHandle* handle) {
  if (part) return Nothing(handle);
  return DDOGetDataPtr(heap, ref, part, mode, handle);
}

int32 GraphGetDataPtr(ObjHeap heap, int32 graph, int32 part, int32 mode, UHandle* handle) {
  if (!part) return DDOGetDataPtr(heap, graph, part, mode, handle);
  int16 id = PartId(heap, part);
  if (id == kPartGraphFlags || id == kPartGraphFlags2) {
    UHandle ds = PanelDataSpace(heap);
    int32 priv = ObjWord(heap, graph, kPWGraphState);
    int32 mover = 0, list = 0;
    if (!priv || !ds || !*ds || !PanelEntryTD(heap, priv, ObjWord(heap, graph, kPWGraphState + 1), 17) ||
        !GraphStateCursorOffsets(&mover, &list, nullptr))
      return Nothing(handle);
    // Part 8011 shows the cursor mover's four buttons, part 8014 the cursor list.
    const int32 off = priv + (id == kPartGraphFlags ? mover : list);
    if (!InDataSpace(ds, off, 4, "Graph/Chart")) return Nothing(handle);
    return Answer(ds, off, handle);
  }
  if (id == kPartDigital && !handle && !IsDefaultMode(mode))
    return Address(GraphPartDataOffset(heap, graph, nullptr, ObjInt16(heap, part, kObjPartOrder)));
  return Nothing(handle);
}

typedef int32 (*GetDataPtrMethod)(ObjHeap, int32, int32, int32, UHandle*);

GetDataPtrMethod GetDataPtrFor(int32 cls) {
  switch (cls) {
    case kClsFPDataController: return &DCOGetDataPtr;
    case kClsGrouperObject: return &GrouperGetDataPtr;
    case kClsScale: return nullptr;  // the scale's own method joins at start-up
    case kClsTable: return nullptr;  // so does the table's
    case kClsTag: return &TagGetDataPtr;
    case kClsBoolean: return &BooleanGetDataPtr;
    case kClsOleVariant: return &VariantGetDataPtr;
    case kClsNumeric:
    case kClsColorBox: return &NumericGetDataPtr;
    case kClsColorRamp: return &ColorRampGetDataPtr;
    case kClsSlide:
    case kClsKnob: return &SlideGetDataPtr;
    case kClsRing: return &RingGetDataPtr;
    case kClsCluster: return &ClusterGetDataPtr;
    case kClsArray: return &ArrayGetDataPtr;
    case kClsRefNum: return &RefNumGetDataPtr;
    case kClsGraphChart: return &GraphGetDataPtr;
    default: return &DDOGetDataPtr;
  }
}

TypeID DCOGetType(ObjHeap heap, int32 object) { return DCOTypeID(heap, object); }

TypeID ErrorType(ObjHeap heap, int32 object) { return TypeID(ErrorMethod(heap, object)); }
TypeID NullType(ObjHeap, int32) { return 0; }
int32 ErrorDataPtr(ObjHeap heap, int32 object, int32, int32, UHandle* handle) {
  Nothing(handle);
  return ErrorMethod(heap, object);
}
int32 NullDataPtr(ObjHeap, int32, int32, int32, UHandle* handle) { return Nothing(handle); }
int32 ErrorDataSpace(ObjHeap heap, int32 object, int32) { return ErrorMethod(heap, object); }
int32 NullDataSpace(ObjHeap, int32, int32) { return 0; }

}  // namespace

const TypeDescriptor* GraphStateStaticTD() {
  static const UHandle block = GraphStateTD();
  return block && *block ? reinterpret_cast<const TypeDescriptor*>(*block) : nullptr;
}

bool GraphStateCursorOffsets(int32* mover, int32* list, const TypeDescriptor** listTD) {
  const TypeDescriptor* block = GraphStateStaticTD();
  if (!block) return false;
  // The plot-list handle and two int32, then the four Booleans at their
  // alignment, then the cursor array 4 bytes further at its own.
  const int32 m = AlignDatum(ElemTD(block, 3), 4 + 2 * 4);
  const TypeDescriptor* array = ElemTD(block, 4);
  if (mover) *mover = m;
  if (list) *list = AlignDatum(array, m + 4);
  if (listTD) *listTD = array;
  return true;
}

const TypeDescriptor* GraphCursorRecordTD() {
  const TypeDescriptor* block = GraphStateStaticTD();
  const TypeDescriptor* array = block ? ElemTD(block, 4) : nullptr;
  if (!array) return nullptr;
  const int32 dims = int16(GetNative16(reinterpret_cast<const uChar*>(array) + 4));
  return reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(array) + 6 + 4 * dims);
}

int32 GraphCursorRecordSize() {
  const TypeDescriptor* rec = GraphCursorRecordTD();
  return rec ? DataSize(rec) : 0;
}

int32 GraphCursorFieldAt(int32 i) {
  const TypeDescriptor* rec = GraphCursorRecordTD();
  const int32 n = rec ? int16(GetNative16(reinterpret_cast<const uChar*>(rec) + 4)) : 0;
  if (i < 0 || i >= n) return -1;
  int32 at = 0;
  for (int32 j = 0; j < i; ++j) at = AlignDatum(ElemTD(rec, j), at) + DataSize(ElemTD(rec, j));
  return AlignDatum(ElemTD(rec, i), at);
}

UPtr GraphCursorListField(ObjHeap heap, int32 graphData, const TypeDescriptor** td) {
  if (td) *td = nullptr;
  UHandle ds = heap ? PanelDataSpace(heap) : nullptr;
  const TypeDescriptor* listTD = nullptr;
  int32 list = 0;
  if (!graphData || !ds || !*ds || !GraphStateCursorOffsets(nullptr, &list, &listTD)) return nullptr;
  if (!InDataSpace(ds, graphData + list, 4, "Graph/Chart")) return nullptr;
  if (td) *td = listTD;
  return *ds + graphData + list;
}

ObjMethodAddr DataDefaultMethod(int32 slot, bool null) {
  switch (slot) {
    case kMsgOGetType: return reinterpret_cast<ObjMethodAddr>(null ? &NullType : &ErrorType);
    case kMsgOGetDataPtr: return reinterpret_cast<ObjMethodAddr>(null ? &NullDataPtr : &ErrorDataPtr);
    default: return reinterpret_cast<ObjMethodAddr>(null ? &NullDataSpace : &ErrorDataSpace);
  }
}

ObjMethodAddr DataMethodFor(int32 slot, int32 cls) {
  switch (slot) {
    case kMsgOGetType:
      return reinterpret_cast<ObjMethodAddr>(cls == kClsDataController || cls == kClsFPDataController ? &DCOGetType
                                                                                                      : &DDOTypeID);
    case kMsgOGetDataPtr: return reinterpret_cast<ObjMethodAddr>(GetDataPtrFor(cls));
    case kMsgODataSpace: return ODataSpaceMethodFor(cls);
    default: return nullptr;
  }
}

int32 OGetDataPtr(ObjHeap heap, int32 object, int32 part, int32 mode, UHandle* handle) {
  if (!heap || !*heap || !object) return Nothing(handle);
  // Owner and part words are stored in the heap: each must name a block of
  // the heap large enough for what is read of it (the object's class's
  // instance; a part's id and order).
  if (!IsBlockOf(heap, object, ClassRecord(ObjClass(heap, object))->instanceSize) ||
      (part && !IsBlockOf(heap, part, kObjPartOrder + 2))) {
    DBPrintf("OGetDataPtr: 0x%lx or 0x%lx is no object of the heap", long(object), long(part));
    return Nothing(handle);
  }
  if (tChain == 0) tMessages = 0;
  if (tChain >= kMaxChain || ++tMessages > kMaxMessages) {
    DBPrintf("OGetDataPtr: owner chain of 0x%lx too deep", long(object));
    return Nothing(handle);
  }
  ++tChain;
  // A class without data leaves the handle alone.
  if (handle) *handle = nullptr;
  int32 r = OSendMessage<int32>(kMsgOGetDataPtr, heap, object, part, mode, handle);
  --tChain;
  return r;
}

TypeID OGetType(ObjHeap heap, int32 object) {
  if (!heap || !*heap || !object) return 0;
  return OSendMessage<TypeID>(kMsgOGetType, heap, object);
}

UHandle* FPGetDataSpace(ObjHeap heap) {
  if (!heap || !*heap || OHWord(heap, kOHKind) != kPanelHeapKind) {
    DBAssert(__FILE__, __LINE__, "FPGetDataSpace: not a front-panel heap");
    return nullptr;
  }
  int32 ext = int32(OHWord(heap, kOHExtension));
  int32 root = ext > 0 ? int32(GetNative32(*heap + ext + kHeapExtRoot)) : 0;
  if (root <= 0 || OHBlockSize(heap, root) < 4 * (kPanelRootDataSpaceWord + 1)) {
    DBAssert(__FILE__, __LINE__, "FPGetDataSpace: the panel has no root");
    return nullptr;
  }
  return reinterpret_cast<UHandle*>(*heap + root + 4 * kPanelRootDataSpaceWord);
}

PanelDataHooks SetPanelDataHooks(const PanelDataHooks& hooks) {
  PanelDataHooks old = gHooks;
  if (hooks.slideScaleMarkerList) gHooks.slideScaleMarkerList = hooks.slideScaleMarkerList;
  if (hooks.embUpdateDispatch) gHooks.embUpdateDispatch = hooks.embUpdateDispatch;
  return old;
}

void PanelInstallDataHooks() {
  SetPanelGetDataPtrProc(&OGetDataPtr);
  SetChartPanelHooks({.findPart = &FindPart});
  PanelInstallTextPartHooks();
  PanelInstallDataMgrHooks();
}

UHandle PanelScaleMarkerList(ObjHeap heap, int32 part) { return gHooks.slideScaleMarkerList(heap, part); }
int32 PanelEmbUpdateDispatch(UHandle record) { return gHooks.embUpdateDispatch(record); }

int32 DisplayValQuiet(ObjHeap heap, int32 object, const void* value, int32 flags) {
  if (!value || !heap || !*heap || !FindPart(heap, object, 10, 0)) return 0;
  int32 ext = int32(OHWord(heap, kOHExtension));
  if (ext <= 0) return 0;
  uInt32 focus = GetNative32(*heap + ext + kHeapExtKeyFocus);
  PutNative32(*heap + ext + kHeapExtKeyFocus, 0);
  int32 reply = OSendMessage<int32>(kMsgODisplayVal, heap, object, flags, value);
  ext = int32(OHWord(heap, kOHExtension));
  PutNative32(*heap + ext + kHeapExtKeyFocus, focus);
  return reply;
}
