// Variants and safe arrays as other objects hand them over: any type word,
// by-reference storage, dimensions, bounds (some claiming more than their
// block), element sizes and strings, made from the input, converted into
// typed data of every kind and back, and into other variant types.  Only
// the conversions' results may come back, a failed conversion leaves the
// data holding its empty value, and every string, array and interface
// reference is given back.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/flatten.h"
#include "fuzz_support.h"
#include "olesource/oleautomgr.h"
#include "olesource/olestart.h"
#include "olesource/olevar.h"
#include "tools/tdbuilder.h"
#include "tools/testdispatch.h"

namespace {

const uint16_t kTypes[] = {kPlatVtEmpty, kPlatVtNull, kPlatVtI2, kPlatVtI4,   kPlatVtR4,  kPlatVtR8,  kPlatVtCy,
                           kPlatVtDate,  kPlatVtBstr, kPlatVtDispatch, kPlatVtError, kPlatVtBool, kPlatVtVariant,
                           kPlatVtUnknown, kPlatVtI1, kPlatVtUI1, kPlatVtUI2, kPlatVtUI4, kPlatVtI8, kPlatVtUI8,
                           kPlatVtInt,   kPlatVtUInt, 0x7F};

PlatComDispatch* gObject = nullptr;

// Storage that by-reference variants point into, freed at the end of a run.
struct Storage {
  std::vector<std::vector<uint8_t>> blocks;
  void* New(size_t n) {
    blocks.emplace_back(n ? n : 1, 0);
    return blocks.back().data();
  }
};

// The value of a scalar type from the input into v (v.vt set).
void ScalarValue(FuzzReader& in, uint16_t vt, PlatVariant* v) {
  v->vt = vt;
  if (vt == kPlatVtBstr) {
    const uint32_t n = in.Byte() % 40;
    char text[40];
    in.Bytes(text, n);
    v->bstr = PlatBstrFromText(text, n);
  } else if (vt == kPlatVtDispatch || vt == kPlatVtUnknown) {
    v->dispatch = in.Byte() & 1 ? gObject : nullptr;
    if (v->dispatch) PlatComAddRef(v->dispatch);
  } else if (vt != kPlatVtVariant) {
    in.Bytes(&v->i8, 8);
  } else {
    v->vt = kPlatVtEmpty;
  }
}

// A variant made from the input; depth bounds arrays of variants of arrays.
void MakeVariant(FuzzReader& in, Storage& st, PlatVariant* v, int depth);

PlatSafeArray* MakeArray(FuzzReader& in, Storage& st, uint16_t vt, int depth) {
  const uint32_t dims = 1 + in.Byte() % 3;
  PlatSafeArrayBound b[3];
  for (uint32_t d = 0; d < dims; ++d) {
    b[d].count = in.Byte() % 5;
    b[d].lower = int32_t(in.Word());
  }
  PlatSafeArray* a = PlatSafeArrayCreate(vt, dims, b);
  if (!a) return nullptr;
  uint32_t count = 0;
  if (PlatSafeArrayCount(a, &count) != kPlatOk) return a;
  auto* p = static_cast<uint8_t*>(a->data);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* e = p + i * a->elemSize;
    if (vt == kPlatVtVariant) {
      MakeVariant(in, st, reinterpret_cast<PlatVariant*>(e), depth + 1);
    } else {
      PlatVariant x;
      PlatVariantInit(&x);
      ScalarValue(in, vt, &x);
      std::memcpy(e, &x.i8, a->elemSize);
    }
  }
  // A descriptor that lies about its bounds or its element size.
  switch (in.Byte() % 8) {
    case 0: a->bounds[0].count += 1 + in.Byte(); break;
    case 1: a->bounds[0].count = in.Word(); break;
    case 2: a->elemSize ^= 1u << (in.Byte() % 4); break;
    default: break;
  }
  return a;
}

void MakeVariant(FuzzReader& in, Storage& st, PlatVariant* v, int depth) {
  PlatVariantInit(v);
  const uint8_t shape = in.Byte();
  const uint16_t vt = kTypes[in.Byte() % (sizeof kTypes / sizeof kTypes[0])];
  if ((shape & 3) == 1 && depth < 2) {
    v->vt = uint16_t(kPlatVtArray | vt);
    v->array = MakeArray(in, st, vt, depth);
  } else if ((shape & 3) == 2 && depth < 2) {
    // By reference: the storage holds a value of the type (a variant, an
    // array pointer, or null storage).
    v->vt = uint16_t(kPlatVtByRef | vt | (shape & 4 ? kPlatVtArray : 0));
    if (shape & 8) return;
    if (v->vt & kPlatVtArray) {
      auto* slot = static_cast<PlatSafeArray**>(st.New(4));
      *slot = MakeArray(in, st, vt, depth);
      v->byRef = slot;
    } else if (vt == kPlatVtVariant) {
      auto* inner = static_cast<PlatVariant*>(st.New(sizeof(PlatVariant)));
      MakeVariant(in, st, inner, depth + 1);
      v->byRef = inner;
    } else {
      PlatVariant x;
      PlatVariantInit(&x);
      ScalarValue(in, vt, &x);
      void* slot = st.New(8);
      std::memcpy(slot, &x.i8, 8);
      v->byRef = slot;
    }
  } else {
    ScalarValue(in, vt, v);
  }
}

// Frees what a made variant holds: an array whose descriptor lied is told
// the truth first (its block size and its type's element size).
void FreeMade(PlatVariant* v) {
  const uint16_t base = v->vt & kPlatVtTypeMask;
  if (v->vt & kPlatVtByRef) {
    if (!v->byRef) return;
    if (v->vt & kPlatVtArray) {
      PlatVariant a;
      PlatVariantInit(&a);
      a.vt = uint16_t(kPlatVtArray | base);
      a.array = *static_cast<PlatSafeArray**>(v->byRef);
      FreeMade(&a);
    } else if (base == kPlatVtVariant) {
      FreeMade(static_cast<PlatVariant*>(v->byRef));
    } else if (base == kPlatVtBstr) {
      PlatBstrFree(*static_cast<PlatBstr*>(v->byRef));
    } else if ((base == kPlatVtDispatch || base == kPlatVtUnknown) && *static_cast<void**>(v->byRef)) {
      PlatComRelease(*static_cast<void**>(v->byRef));
    }
    return;
  }
  if ((v->vt & kPlatVtArray) && v->array) {
    PlatSafeArray* a = v->array;
    a->elemSize = PlatSafeArrayElementSize(a->vt);
    const uint32_t n = a->elemSize ? a->dataBytes / a->elemSize : 0;
    a->dims = 1;
    a->bounds[0] = PlatSafeArrayBound{n, 0};
    if (a->vt == kPlatVtVariant)
      for (uint32_t i = 0; i < n; ++i) FreeMade(static_cast<PlatVariant*>(a->data) + i);
  }
  if (PlatVariantClear(v) != kPlatOk) PlatVariantInit(v);
}

bool Allowed(int32_t r) {
  return r == kPlatOk || r == kPlatDispTypeMismatch || r == kPlatOutOfMemory || r == kPlatInvalidArg ||
         r == kPlatDispOverflow || r == kPlatDispBadVarType || r == kArgErr;
}

// The flat form of a datum, to compare it with the empty value.
std::vector<uint8_t> Flat(const TypeDescriptor* td, const void* d) {
  std::vector<uint8_t> b(size_t(FlatSize(td, d)));
  FlattenData(td, d, b.data());
  return b;
}

std::vector<std::vector<uint8_t>>& Targets() {
  static std::vector<std::vector<uint8_t>> t = [] {
    using namespace tdb;
    std::vector<TD> list = {
        I8(), I16(), I32(), I64(), U8(), U16(), U32(), SGL(), DBL(), EXT(), CDB(), Boolean(), String(), tdb::Path(),
        Array(I32()), Array(DBL(), {kTDVariable, kTDVariable}), Array(String()), Array(Boolean()),
        Array(Variant()), Cluster({I32(), String(), DBL()}), Cluster({Variant(), Array(I16())}), Variant(),
        AutoRefnum({}), Array(Cluster({I8(), String()})), Enum(kTDEnumU16, {"a", "b"}), Void(), OldBoolean()};
    std::vector<std::vector<uint8_t>> out;
    for (const TD& td : list) out.push_back(td.Bytes());
    return out;
  }();
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    if (!FuzzStartManagers()) return false;
    OleInstallEngineHooks();
    TestDispatchRegister();
    void* o = nullptr;
    PlatComCreateInstance(&kTestDispatchClass, nullptr, kPlatClassInproc, &kPlatIidDispatch, &o);
    gObject = static_cast<PlatComDispatch*>(o);
    return gObject != nullptr && AutomationInit() == kNoErr;
  }();
  if (!ready || size > 4096) return 0;
  const uint32_t refs = TestDispatchRefs(gObject);
  const int32_t strings = PlatBstrLiveCount(), arrays = PlatSafeArrayLiveCount();
  FuzzReader in{data, size};
  Storage st;
  PlatVariant v;
  MakeVariant(in, st, &v, 0);
  const std::vector<uint8_t>& tdBytes = Targets()[in.Byte() % Targets().size()];
  const auto* td = reinterpret_cast<const TypeDescriptor*>(tdBytes.data());
  std::vector<uint8_t> datum(size_t(DataSize(td)) + 1), empty(datum.size());
  FUZZ_CHECK(InitEmptyData(td, datum.data()) == kNoErr && InitEmptyData(td, empty.data()) == kNoErr);
  const int32_t r = OleVariantToData(&v, datum.data(), td);
  FUZZ_CHECK(Allowed(r));
  if (r != kPlatOk) FUZZ_CHECK(Flat(td, datum.data()) == Flat(td, empty.data()));
  // And back, as its natural variant or the type the input asks for.
  PlatVariant back;
  PlatVariantInit(&back);
  const uint16_t wanted = in.Byte() & 1 ? kTypes[in.Byte() % (sizeof kTypes / sizeof kTypes[0])] | (in.Byte() & 0x6000)
                                        : 0;
  FUZZ_CHECK(Allowed(OleDataToVariant(datum.data(), td, wanted, &back)));
  FreeArgVariant(&back);
  // The made variant into another type (by reference among them).
  PlatVariant changed;
  PlatVariantInit(&changed);
  const std::vector<uint8_t> variantTD = tdb::Variant().Bytes();
  FUZZ_CHECK(Allowed(OleDataToVariant(&v, reinterpret_cast<const TypeDescriptor*>(variantTD.data()), wanted, &changed)));
  FreeArgVariant(&changed);
  ProcessEmptyOptVariantParam(&v);
  DisposeData(td, datum.data(), datum.data() + datum.size() - 1);
  DisposeData(td, empty.data(), empty.data() + empty.size() - 1);
  FreeMade(&v);
  // Refnums the conversions made go with the client's end.
  AutomationExit();
  FUZZ_CHECK(AutomationInit() == kNoErr);
  FUZZ_CHECK(TestDispatchRefs(gObject) == refs);
  FUZZ_CHECK(PlatBstrLiveCount() == strings);
  FUZZ_CHECK(PlatSafeArrayLiveCount() == arrays);
  return 0;
}
