// The heap-level load and unload steps of panel objects, the resource
// counter, the abort record and the data offsets of data objects.
#include "engine/vi/objload.h"

#include "engine/datatype.h"
#include "engine/vi/loaderr.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"

namespace {

int32 gRsrcCounter = 0;
ObjLoadAbortRecord gAbort = {nullptr, 0, 0};
RsrcFileRef gLoadFile = 0;
ObjLoadHooks gHooks = {nullptr, nullptr};

int32 SendLoad(ObjHeap heap, int32 object) { return gHooks.oLoad ? gHooks.oLoad(heap, object) : 0; }
void SendDispose(ObjHeap heap, int32 object) {
  if (gHooks.oDispose) gHooks.oDispose(heap, object);
}

// The header of a data-space type map: int16 size, code, flags, int16
// element count; the element descriptors follow back to back.
constexpr int32 kMapCountAt = 4;
constexpr int32 kMapFirstElement = 6;
constexpr int32 kTDMinSize = 4;

// Walks the map's elements to the one whose descriptor starts at position:
// its aligned data offset and data size; false when there is none.
bool FindMapElement(UHandle map, int32 position, int32* offset, int32* size) {
  if (!map || !*map || position < kMapFirstElement) return false;
  const int32 mapSize = DSGetHandleSize(map);
  if (mapSize < kMapFirstElement) return false;
  const int32 count = GetNative16(*map + kMapCountAt);
  int32 pos = kMapFirstElement;
  int32 data = 0;
  for (int32 i = 0; i < count && pos < mapSize; ++i) {
    if (mapSize - pos < kTDMinSize) return false;
    const int32 eltSize = GetNative16(*map + pos);
    if (eltSize < kTDMinSize || eltSize > mapSize - pos) return false;
    if (pos > position) return false;
    const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(*map + pos);
    if (TDCheckBounds(td, eltSize) != kNoErr) return false;
    data = AlignDatum(td, data);
    const int32 n = DataSize(td);
    if (pos == position) {
      *offset = data;
      *size = n;
      return true;
    }
    if (n < 0 || data > 0x7FFFFFFF - n) return false;
    data += n;
    pos += eltSize;
  }
  return false;
}

UHandle TypeMapOf(UHandle vi) {
  if (!vi || !*vi) return nullptr;
  UHandle map = VIRec(vi)->dsTypeMap;
  return map && MemIsDSHandle(map) ? map : nullptr;
}

}  // namespace

int32 SetRsrcCounter(int32 value) {
  gRsrcCounter = value;
  return value;
}

int32 GetRsrcCounter() { return ++gRsrcCounter; }

const ObjLoadAbortRecord& ObjLoadAbort() { return gAbort; }

void ClearObjLoadAbort() { gAbort = {nullptr, 0, 0}; }

namespace {
int32 gVILoaderAbort = 0;
}  // namespace
void SetVILoaderAbort(int32 on) { gVILoaderAbort = on ? 1 : 0; }
int32 VILoaderAbort() { return gVILoaderAbort; }

void SetObjLoadHooks(const ObjLoadHooks* hooks) { gHooks = hooks ? *hooks : ObjLoadHooks{nullptr, nullptr}; }
const ObjLoadHooks& ObjLoadHooksInUse() { return gHooks; }

RsrcFileRef ObjLoadFile() { return gLoadFile; }

int32 OLoadStep(ObjHeap heap, int32 object) {
  const int32 number = OHBlockMarkWord(heap, object);
  if (number) SetRsrcCounter(number);
  OHSetBlockMarkWord(heap, object, object);
  if (!number) return 0;
  const int32 err = SendLoad(heap, object);
  if (!err) return 0;
  gAbort = {heap, object, err};
  return kOHStopEnum;
}

int32 ODisposeAfterAbortStep(ObjHeap heap, int32 object) {
  if (heap != gAbort.heap) return 0;
  // The broadcast stopped at the fence: an object after it still holds its
  // stored resource number; one without a number never needed loading.
  if (object > gAbort.fence && OHBlockMarkWord(heap, object) != 0) return 0;
  SendDispose(heap, object);
  return 0;
}

int32 OLoadHeapObjects(ObjHeap heap, RsrcFileRef file) {
  RsrcFileRef saved = gLoadFile;
  gLoadFile = file;
  const int32 result = OHEnumBlocks(heap, &OLoadStep);
  gLoadFile = saved;
  return result == kOHStopEnum ? kOHStopEnum : 0;
}

void ODisposeAfterAbort(ObjHeap heap) { OHForEachBlock(heap, [](ObjHeap h, int32 o) { return ODisposeAfterAbortStep(h, o); }); }

void ODisposeHeapObjects(ObjHeap heap) {
  OHForEachBlock(heap, [](ObjHeap h, int32 o) {
    SendDispose(h, o);
    return 0;
  });
}

MgErr RGetObjRsrc(ResType type, UHandle* handle) {
  if (!handle) return kArgErr;
  *handle = nullptr;
  if (!gLoadFile) return kArgErr;
  UHandle h = nullptr;
  if (MgErr err = RGet(gLoadFile, type, GetRsrcCounter(), &h)) return err;
  if (MgErr err = RDetach(h)) return err;
  *handle = h;
  return kNoErr;
}

int32 BadProcLoadMethod(ObjHeap, int32) {
  gQXLoadErrorCode = kLoadErrUnknownObjects;
  return kBadProcLoadResult;
}

int32 DSOffsetForType(UHandle vi, int32 storedOffset, int32 position) {
  if (!vi || !*vi) return 0;
  if (VIRec(vi)->codeHandle) return storedOffset;
  int32 offset = 0, size = 0;
  return FindMapElement(TypeMapOf(vi), position, &offset, &size) ? offset : 0;
}

int32 DSTypeSizeAt(UHandle vi, int32 position) {
  int32 offset = 0, size = 0;
  return FindMapElement(TypeMapOf(vi), position, &offset, &size) ? size : -1;
}
