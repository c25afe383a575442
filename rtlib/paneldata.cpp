// The element locators of panel data: a cluster element's data, the element
// an array control shows, and the value a chart's digital display shows.
//
// Object words and data offsets come from VI files: every offset is checked
// against the data space and every index against its list or cluster before
// an address is formed; what fails answers none, with a debug report.
#include <cstring>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/objlist.h"
#include "rtlib/chartdata.h"
#include "rtlib/panellocators.h"

namespace {

int32 NoDataPtr(ObjHeap, int32, int32, int32, UHandle* handle) {
  if (handle) *handle = nullptr;
  return 0;
}
PanelGetDataPtrProc gGetDataPtr = &NoDataPtr;

int32 Word(ObjHeap heap, int32 object, int32 word) { return int32(OHWord(heap, uInt32(object + 4 * word))); }

// The display type of an object, looked through its typedefs; null when the
// object has none.
const TypeDescriptor* DisplayTD(ObjHeap heap, int32 object) {
  TypeID id = DDOTypeID(heap, object);
  const TypeDescriptor* td = id ? TypeIDToTD(heap, id) : nullptr;
  return td ? SkipTypedefs(td) : nullptr;
}

int32 ClusterCount(const TypeDescriptor* td) {
  return int16(GetNative16(reinterpret_cast<const uChar*>(td) + 4));
}

// The address of count bytes of the panel data at offset, or null (reported)
// when the heap has no data space or the bytes do not lie inside it above
// the header block.
UPtr PanelBytes(ObjHeap heap, int32 offset, int32 count, const char* who) {
  UHandle vi = PanelHeapOwner(heap);
  UHandle ds = vi && *vi ? VIRec(vi)->dataSpace : nullptr;
  if (!ds || !*ds) {
    DBPrintf("%s: no panel data space", who);
    return nullptr;
  }
  if (offset < kPanelDataFloor || count < 0 || int64(offset) + count > DSGetHandleSize(ds)) {
    DBPrintf("%s: panel data offset %ld outside the data space", who, long(offset));
    return nullptr;
  }
  return *ds + offset;
}

// The 31-bit guard of array arithmetic: a + b * c, false when any step needs
// 31 bits or more.
bool AddProduct(int32 a, int32 b, int32 c, int32* out) {
  int64 p = int64(b) * c;
  if (b < 0 || c < 0 || p >= 0x40000000 || int64(a) + p >= 0x40000000) return false;
  *out = int32(a + p);
  return true;
}

}  // namespace

PanelGetDataPtrProc SetPanelGetDataPtrProc(PanelGetDataPtrProc proc) {
  PanelGetDataPtrProc old = gGetDataPtr;
  gGetDataPtr = proc ? proc : &NoDataPtr;
  return old;
}

int32 ObjDataOffset(const TypeDescriptor** td, int32 offset, int32 index) {
  if (!td || !*td) return offset;
  const TypeDescriptor* c = SkipTypedefs(*td);
  if (c->code != kTDCluster) return offset;
  int32 n = ClusterCount(c);
  if (index < 0 || index >= n) {
    DBPrintf("ObjDataOffset: element %ld of a cluster of %ld", long(index), long(n));
    return -1;
  }
  if (AlignDatum(c, offset) != offset) DBAssert(__FILE__, __LINE__, "ObjDataOffset: cluster data not aligned");
  uInt32 off = uInt32(offset);
  for (int32 i = 0; i < index; ++i) {
    const TypeDescriptor* e = ElemTD(c, i);
    off = uInt32(AlignDatum(e, int32(off))) + uInt32(DataSize(e));
  }
  const TypeDescriptor* e = ElemTD(c, index);
  *td = e;
  return AlignDatum(e, int32(off));
}

int32 ClusterEltOffset(ObjHeap heap, int32 cluster, int32 element, int32 clusterData, const TypeDescriptor** td) {
  if (td) *td = nullptr;
  if (!clusterData || !heap || !*heap) return 0;
  if (OHBlockSize(heap, cluster) < 4 * (kPWClusterElements + 1)) return 0;
  int32 list = Word(heap, cluster, kPWClusterElements);
  int32 index = list ? OHListFind(heap, list, element) : -1;
  if (index < 0) return 0;
  const TypeDescriptor* c = DisplayTD(heap, cluster);
  if (!c || c->code != kTDCluster) {
    DBPrintf("ClusterEltOffset: object 0x%lx has no cluster type", long(cluster));
    return 0;
  }
  if (index >= ClusterCount(c)) {
    DBPrintf("ClusterEltOffset: element %ld of a cluster of %ld", long(index), long(ClusterCount(c)));
    return 0;
  }
  const TypeDescriptor* e = c;
  int32 off = ObjDataOffset(&e, clusterData, index);
  if (td) *td = e;
  return off;
}

bool ArrayDisplayEltTypeOf(ObjHeap heap, int32 arrayObj, ArrayDisplayEltType* out) {
  const TypeDescriptor* atd = DisplayTD(heap, arrayObj);
  if (!atd || atd->code != kTDArray) {
    DBPrintf("ArrayDisplayEltPtr: object 0x%lx has no array type", long(arrayObj));
    return false;
  }
  const uChar* a = reinterpret_cast<const uChar*>(atd);
  const int32 n = int16(GetNative16(a + 4));
  if (n < 1 || n > 64) return false;
  const TypeDescriptor* elem = reinterpret_cast<const TypeDescriptor*>(a + 6 + 4 * n);

  // The current indexes: the first handle of the private record.
  if (OHBlockSize(heap, arrayObj) < int32(sizeof(PanelArrayRec))) return false;
  const TypeDescriptor* privTD =
      PanelEntryTD(heap, Word(heap, arrayObj, kPWArrayPrivate), Word(heap, arrayObj, kPWArrayPrivateTD), 12);
  if (!privTD || privTD->code != kTDCluster || ClusterCount(privTD) < 4 || ElemTD(privTD, 0)->code != kTDArray) {
    DBAssert(__FILE__, __LINE__, "ArrayDisplayEltPtr: the array control has no panel data");
    return false;
  }
  out->array = atd;
  out->dims = n;
  out->elemSize = DataSize(elem);
  out->firstAt = AlignDatum(elem, 4 * n);
  return true;
}

UHandle ArrayDisplayIndexes(ObjHeap heap, int32 arrayObj, const ArrayDisplayEltType& type) {
  const int32 n = type.dims;
  UPtr priv = PanelBytes(heap, Word(heap, arrayObj, kPWArrayPrivate), 4, "ArrayDisplayEltPtr");
  if (!priv) return nullptr;
  UHandle indexes = reinterpret_cast<UHandle>(uintptr_t(GetNative32(priv)));
  if (!indexes || !*indexes || DSGetHandleSize(indexes) < 4 + 4 * n) {
    DBPrintf("ArrayDisplayEltPtr: index handle of 0x%lx holds fewer than %ld cells", long(arrayObj), long(n));
    return nullptr;
  }
  return indexes;
}

UPtr ArrayDisplayEltPtrOfType(ObjHeap heap, int32 arrayObj, const ArrayDisplayEltType& type, UHandle* array,
                              Bool32 grow) {
  const UHandle indexes = ArrayDisplayIndexes(heap, arrayObj, type);
  return indexes ? ArrayDisplayEltPtrAt(heap, arrayObj, type, indexes, array, grow) : nullptr;
}

UPtr ArrayDisplayEltPtrAt(ObjHeap heap, int32 arrayObj, const ArrayDisplayEltType& type, UHandle indexes,
                          UHandle* array, Bool32 grow) {
  const int32 n = type.dims, elemSize = type.elemSize;
  const uChar* a = reinterpret_cast<const uChar*>(type.array);
  int16 shown[2];
  std::memcpy(shown, *heap + arrayObj + 4 * kPWArrayShown, sizeof shown);

  int32 index[64], size[64], growBy[64], pos[64];
  bool growing = false;
  UHandle h = *array;
  for (int32 d = n - 1; d >= 0; --d) {
    int32 add = d == n - 1 ? shown[0] : d == n - 2 ? shown[1] : 0;
    if (n == 1 && shown[1] != 0) add = shown[1];
    int64 i = int64(int32(GetNative32(*indexes + 4 + 4 * d))) + add;
    if (i < 0 || i >= 0x40000000) return nullptr;
    index[d] = int32(i);
    size[d] = h && *h ? int32(GetNative32(*h + 4 * d)) : 0;
    growBy[d] = 0;
    pos[d] = size[d];
    if (index[d] >= size[d]) {
      int32 field = int32(GetNative32(a + 6 + 4 * d));
      if (!grow || field != kTDVariable) return nullptr;
      growBy[d] = index[d] + 1 - size[d];
      growing = true;
    }
  }
  // The byte offset in the array as it will be: strides of the new sizes.
  int32 offset = 0, stride = elemSize;
  for (int32 d = n - 1; d >= 0; --d) {
    if (!AddProduct(offset, index[d], stride, &offset)) return nullptr;
    int32 newSize = size[d] + growBy[d];
    int32 next;
    if (!AddProduct(0, stride, newSize, &next)) {
      if (d > 0) return nullptr;
      next = 0;
    }
    stride = next;
  }
  if (growing) {
    MgErr err = ArrayInsertDeleteNDim(type.array, array, pos, growBy, nullptr);
    if (err == kMemFullErr) return nullptr;
    if (err) {
      DBMgErr(__FILE__, __LINE__, err, "ArrayDisplayEltPtr: growing the array");
      return nullptr;
    }
    OHSetWord(heap, uInt32(arrayObj), OHWord(heap, uInt32(arrayObj)) | kArrayObjGrown);
    h = *array;
  }
  if (!h || !*h) return nullptr;
  int32 at = type.firstAt + offset;
  if (int64(at) + elemSize > DSGetHandleSize(h)) return nullptr;
  return *h + at;
}

UPtr ArrayDisplayEltPtr(ObjHeap heap, int32 arrayObj, UHandle* array, Bool32 grow) {
  if (!array) {
    DBAssert(__FILE__, __LINE__, "ArrayDisplayEltPtr: no array handle address");
    return nullptr;
  }
  ArrayDisplayEltType type;
  return ArrayDisplayEltTypeOf(heap, arrayObj, &type) ? ArrayDisplayEltPtrOfType(heap, arrayObj, type, array, grow)
                                                       : nullptr;
}

UPtr GraphPartDataOffset(ObjHeap heap, int32 chart, UPtr data, int32 order) {
  if (!heap || !*heap || !chart || OHBlockSize(heap, chart) < kPanelGraphRecSize) return nullptr;
  uInt16 kind = GetNative16(*heap + chart + kPanelGraphKindByte);
  if (kind < 101 || kind > 199 || (kind >= 104 && kind <= 106)) {
    DBAssert(__FILE__, __LINE__, "GraphPartDataOffset: not a chart with digital displays");
    return nullptr;
  }
  UPtr hist = PanelEntryTD(heap, Word(heap, chart, kPWGraphHistory), Word(heap, chart, kPWGraphHistory + 1),
                            int32(sizeof(ChartHistory)))
                   ? PanelBytes(heap, Word(heap, chart, kPWGraphHistory), int32(sizeof(ChartHistory)),
                                "GraphPartDataOffset")
                   : nullptr;
  if (!hist) {
    DBAssert(__FILE__, __LINE__, "GraphPartDataOffset: the chart has no history");
    return nullptr;
  }
  const TypeDescriptor* td = DisplayTD(heap, chart);
  if (!td) return nullptr;
  if (!data) {
    data = reinterpret_cast<UPtr>(uintptr_t(uInt32(gGetDataPtr(heap, chart, 0, 0, nullptr))));
  }
  if (td->code == kTDArray) {
    const uChar* a = reinterpret_cast<const uChar*>(td);
    int32 dims = int16(GetNative16(a + 4));
    const TypeDescriptor* elem = reinterpret_cast<const TypeDescriptor*>(a + 6 + 4 * dims);
    if (dims != 1 && dims != 2) {
      DBAssert(__FILE__, __LINE__, "GraphPartDataOffset: history of neither one nor two dimensions");
      return nullptr;
    }
    ChartHistory h;
    std::memcpy(&h, hist, sizeof h);
    if (!h.buffer || !*h.buffer) return nullptr;
    int32 bufSize = DSGetHandleSize(h.buffer);
    if (bufSize < 4 * dims) return nullptr;
    int32 capacity = int32(GetNative32(*h.buffer));
    if (capacity <= 0) return nullptr;
    int32 elemSize = DataSize(elem);
    int32 stride = elemSize, within = 0;
    if (dims == 2) {
      int32 plots = int32(GetNative32(*h.buffer + 4));
      if (order < 0 || order >= plots) return nullptr;
      if (!AddProduct(0, elemSize, plots, &stride)) return nullptr;
      within = order * elemSize;
    }
    int32 slot = int32(((int64(h.total) - 1) % capacity + capacity) % capacity);
    int32 at;
    if (!AddProduct(AlignDatum(elem, 4 * dims) + within, slot, stride, &at) || int64(at) + elemSize > bufSize)
      return nullptr;
    data = *h.buffer + at;
    td = SkipTypedefs(elem);
  }
  if (data && td->code == kTDCluster) {
    int32 n = ClusterCount(td);
    if (n <= 0) return nullptr;
    if (order < 0 || order >= n) {
      DBPrintf("Graph: digdisp partorder exceeds # of clust elements");
      order = order < 0 ? 0 : n - 1;
    }
    const TypeDescriptor* e = td;
    int32 delta = ObjDataOffset(&e, 0, order);
    data += delta;
  }
  return data;
}
