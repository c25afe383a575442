// Property calls whose selector, read flag, value descriptor and value bytes
// are whatever the input holds, on objects whose stored words (flags,
// bounds, lists, owners) are the input's: nothing is written outside the
// value and its handles, the transaction stack's top and the VI's in-call
// bit come back as they were, no handle is left behind and nothing is
// asserted on.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/memory.h"
#include "panel/attrcall.h"
#include "panel/transact.h"
#include "panel_fuzz_support.h"

namespace {

using Input = FuzzReader;

int32 NewObj(ObjHeap heap, int32 cls, int32 owner = 0, int16 id = 0) {
  return vib::NewObject(heap, cls, ClassRecord(cls)->instanceSize, owner, id, 0);
}

// A descriptor the input names: one of the usual value types, or raw bytes.
std::vector<uChar> AnyType(Input& in) {
  switch (in.Byte() % 8) {
    case 0: return tdb::Boolean().Bytes();
    case 1: return tdb::Cluster({tdb::I32(), tdb::DBL()}).Bytes();
    case 2: return tdb::String().Bytes();
    case 3: return tdb::Cluster({tdb::U8(), tdb::Cluster({tdb::I16(), tdb::SGL()})}).Bytes();
    case 4: return tdb::OldBoolean().Bytes();
    case 5: return tdb::Array(tdb::I32()).Bytes();
    case 6: return tdb::Enum(kTDU16, {"a", "b"}).Bytes();
    default: {
      std::vector<uChar> raw(4 + in.Byte() % 28);
      in.Bytes(raw.data(), raw.size());
      return raw;
    }
  }
}

void Fuzz(Input& in, ObjHeap heap, int32 root, UHandle vi) {
  std::vector<int32> objects;
  const int32 dco = NewObj(heap, kClsFPDataController, root);
  const int32 numeric = NewObj(heap, kClsNumeric);
  const int32 cluster = NewObj(heap, kClsCluster, root);
  if (!dco || !numeric || !cluster) return;
  OHSetWord(heap, uInt32(numeric + 4 * kPWOwner), uInt32(dco));
  OHSetWord(heap, uInt32(dco + 4 * kPWDCODisplay), uInt32(numeric));
  const int32 list = vib::NewList(heap, {dco});
  if (list) OHSetWord(heap, uInt32(root + 40), uInt32(list));
  objects = {numeric, cluster};
  for (int32 k = 0; k < 4; ++k) {
    const int32 owner = objects[in.Byte() % objects.size()];
    const int32 cls = in.Byte() & 1 ? kClsCosmetic : kClsNumeric;
    const int16 id = int16(in.Byte() & 1 ? 82 : in.Byte() % 84);
    if (const int32 o = NewObj(heap, cls, owner, id)) objects.push_back(o);
  }
  if (const int32 l = vib::NewList(heap, {objects[2], objects[3]})) OHSetWord(heap, uInt32(cluster + 44), uInt32(l));
  // The stored words the input gives: flags, bounds and now and then an owner.
  for (int32 o : objects) {
    OHSetWord(heap, uInt32(o), in.Word());
    OHSetWord(heap, uInt32(o + kObjBounds), in.Word());
    OHSetWord(heap, uInt32(o + kObjBounds + 4), in.Word());
    if (in.Byte() > 240) OHSetWord(heap, uInt32(o + kObjOwner), uInt32(objects[in.Byte() % objects.size()]));
  }
  for (int32 calls = 0; calls < 4 && in.n; ++calls) {
    const int32 object = in.Byte() > 250 ? int32(in.Word()) : objects[in.Byte() % objects.size()];
    const std::vector<uChar> td = AnyType(in);
    const int32 at = in.Byte() % 8;
    UHandle types = DSNewHandle(int32(at + td.size()));
    if (!types) return;
    std::memcpy(*types + at, td.data(), td.size());
    const int32 typeOffset = in.Byte() > 240 ? int32(in.Word()) : at;
    // The value is as large as the descriptor the call will find says.
    const int32 total = at + int32(td.size());
    const auto* checked = typeOffset >= 0 && int64(typeOffset) + 4 <= total &&
                                  TDCheckBounds(*types + typeOffset, total - typeOffset) == kNoErr
                              ? SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(*types + typeOffset))
                              : nullptr;
    const int32 size = checked ? DataSize(checked) : 0;
    if (size < 0 || size > 1024) {
      DSDisposeHandle(types);
      continue;
    }
    // The value between guards; a string slot holds none or a live handle.
    FuzzGuardedValue guarded(size, 0xA5);
    uChar* value = guarded.Value();
    in.Bytes(value, size_t(size));
    std::vector<UHandle> held;
    if (checked && checked->code == kTDString) {
      UHandle s = in.Byte() & 1 ? DSNewHClr(4) : nullptr;
      std::memcpy(value, &s, sizeof s);
    }
    void* const top = TRStackTop();
    const int32 selector = in.Byte() & 0x80 ? int32(in.Word() & 0x7FFFFFFF) : in.Byte() % 16;
    FuzzArmed() = true;
    DoDDOAttrCall(heap, object, types, typeOffset, in.Byte() & 1, in.Byte() & 1, selector, value);
    FuzzArmed() = false;
    FUZZ_CHECK(TRStackTop() == top);
    FUZZ_CHECK((VIRec(vi)->flags & 0x2000000) == 0);
    FUZZ_CHECK(guarded.Intact());
    if (checked && checked->code == kTDString) {
      UHandle s;
      std::memcpy(&s, value, sizeof s);
      if (s) {
        FUZZ_CHECK(DSCheckHandle(s) == kNoErr);
        DSDisposeHandle(s);
      }
    }
    DSDisposeHandle(types);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    PanelInstallEngineHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    TRInit();
    return FuzzStartManagers(FuzzAbortWhenArmed) && TypeHeapInit() == kNoErr;
  }();
  if (!init || size > 4096) return 0;
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewBoundPanel({}, &vi);
  if (!heap) return 0;
  const int32 root = FuzzPanelRoot(heap);
  Fuzz(in, heap, root, vi);
  FuzzDisposePanel(heap, vi);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
