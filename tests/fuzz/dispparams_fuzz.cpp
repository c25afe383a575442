// Arguments of automation clients against every member id through the
// request dispatcher's invoke: any count and named count, named ids of any
// value, variants of any type word (strings, arrays, by-reference values
// with or without storage, variants by reference), a missing argument
// block, a missing result.  And the names and values of a call with named
// parameters, arrays of any element type, bounds and count, against a VI
// whose pane has a required terminal no input names (so that no call
// starts).  Only the dispatcher's codes may come back, nothing is written
// outside the variants handed in (guard words around them), the call's
// waiter is released with its parameter table freed, and every string,
// array and handle the dispatcher made is given back once the variants are
// cleared.  And the VI object's own members (Call's names and values, Run's
// argument, control values) through its apartment thread, on a VI another
// reference holds for calls (so that nothing runs): only the codes of the
// members come back, no request, waiter or thread is left behind.
#include <cstdint>
#include <cstring>
#include <vector>

#include <string>

#include "engine/membertab.h"
#include "engine/vi/vihooks.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "fuzz_server.h"
#include "fuzz_support.h"
#include "mgsource/prefs.h"
#include "olesource/oleserv.h"
#include "olesource/olestart.h"
#include "olesource/olevi.h"
#include "platform/qx_file.h"
#include "platform/qx_thread.h"
#include "tools/typeinfowriter.h"
#include "olesource/servreq.h"
#include "server/appserve.h"
#include "tools/runvi.h"
#include "tools/tdbuilder.h"
#include "tools/vifile.h"

namespace {

const uint16_t kTypes[] = {kPlatVtEmpty, kPlatVtNull, kPlatVtI2,   kPlatVtI4,  kPlatVtR4,  kPlatVtR8,
                           kPlatVtBstr,  kPlatVtError, kPlatVtBool, kPlatVtVariant, kPlatVtUI1, kPlatVtI1,
                           kPlatVtI8,    kPlatVtDate, kPlatVtCy,   0x7F};
constexpr uint32_t kGuard = 0xA5C3F00Du;

// Storage of by-reference values, with a guard word after each.
struct Storage {
  std::vector<std::vector<uint32_t>> blocks;
  void* New() {
    blocks.emplace_back(5, kGuard);
    blocks.back()[0] = blocks.back()[1] = blocks.back()[2] = blocks.back()[3] = 0;
    return blocks.back().data();
  }
  bool Intact() const {
    for (const auto& b : blocks)
      if (b[4] != kGuard) return false;
    return true;
  }
};

void Scalar(FuzzReader& in, uint16_t vt, PlatVariant* v) {
  v->vt = vt;
  if (vt == kPlatVtBstr) {
    char text[24];
    const uint32_t n = in.Byte() % 24;
    in.Bytes(text, n);
    v->bstr = PlatBstrFromText(text, n);
  } else {
    in.Bytes(&v->i8, 8);
    if (vt == kPlatVtVariant) v->vt = kPlatVtEmpty;
  }
}

void Make(FuzzReader& in, Storage& st, PlatVariant* v, int depth) {
  PlatVariantInit(v);
  const uint8_t shape = in.Byte();
  const uint16_t vt = kTypes[in.Byte() % (sizeof kTypes / sizeof kTypes[0])];
  switch (shape % 4) {
    case 1: {  // an array of one dimension
      PlatSafeArrayBound b{uint32_t(in.Byte() % 4), int32_t(int8_t(in.Byte()))};
      const uint16_t et = vt == kPlatVtVariant ? kPlatVtVariant : vt == kPlatVtBstr ? kPlatVtBstr : kPlatVtI2;
      v->vt = uint16_t(kPlatVtArray | et);
      v->array = PlatSafeArrayCreate(et, 1, &b);
      for (uint32_t i = 0; v->array && i < b.count; ++i) {
        PlatVariant e;
        PlatVariantInit(&e);
        // Elements are plain values: by-reference storage inside an array
        // would belong to no one.
        Scalar(in, et == kPlatVtVariant ? kTypes[in.Byte() % (sizeof kTypes / sizeof kTypes[0])] : et, &e);
        int32_t index = b.lower + int32_t(i);
        PlatSafeArrayPutElement(v->array, &index, et == kPlatVtVariant ? static_cast<void*>(&e)
                                                  : et == kPlatVtBstr ? static_cast<void*>(&e.bstr)
                                                                      : static_cast<void*>(&e.i2));
        PlatVariantClear(&e);
      }
      break;
    }
    case 2: {  // by reference: null storage, a variant, or a scalar
      v->vt = uint16_t(kPlatVtByRef | vt);
      if (shape & 4) return;
      void* slot = st.New();
      v->byRef = slot;
      if (vt == kPlatVtVariant && depth < 1) {
        Make(in, st, static_cast<PlatVariant*>(slot), depth + 1);
      } else if (vt != kPlatVtVariant) {
        PlatVariant x;
        PlatVariantInit(&x);
        Scalar(in, vt, &x);
        std::memcpy(slot, &x.i8, 8);
      }
      break;
    }
    default:
      Scalar(in, vt, v);
  }
}

void Free(PlatVariant* v) {
  if (v->vt == (kPlatVtByRef | kPlatVtVariant)) {
    if (v->byRef) Free(static_cast<PlatVariant*>(v->byRef));
  } else if (v->vt == (kPlatVtByRef | kPlatVtBstr)) {
    if (v->byRef) PlatBstrFree(*static_cast<PlatBstr*>(v->byRef));
  } else if ((v->vt & kPlatVtByRef) && (v->vt & kPlatVtArray)) {
    if (v->byRef) PlatSafeArrayDestroy(*static_cast<PlatSafeArray**>(v->byRef));
  }
  if (PlatVariantClear(v) != kPlatOk) PlatVariantInit(v);
}

bool Allowed(int32_t r) {
  if (r == 0 || (r >= 5001 && r <= 5015) || (r > 5500 && r < 5500 + 5001)) return true;
  return r == kPlatDispTypeMismatch || r == kPlatOutOfMemory || r == kPlatInvalidArg || r == kPlatDispOverflow ||
         r == kPlatDispBadVarType || r == kPlatDispArrayLocked || r == kPlatDispBadIndex;
}

// Members that keep what a put gives them (the access lists, the log and
// its path).
bool Keeps(int32_t cls, int32_t id, uint16_t flags) {
  return cls == 0 && !(flags & kPlatDispatchPropertyGet) && (id == 26 || id == 27 || id == 39 || id == 40);
}

VIRef gCallRef = 0;
std::string gRoot;

// Add.vi with a fourth, required terminal whose name no input spells.
bool LoadCallVI() {
  std::string& root = gRoot;
  if (!FuzzStartServerEngine("qxdpfXXXXXX", &root, false)) return false;
  vif::VIFile v = runvi::File("Req.vi", runvi::Clumps::kAdd);
  const std::string hidden(200, 'q');
  const auto pane = tdb::Function(0, {0, 0, 0x100, 0x1000}, {tdb::I32().Named("a"), tdb::I32().Named("b"),
                                                             tdb::I32().Named("sum"), tdb::I32().Named(hidden)});
  v.connPane = pane;
  if (!rsrcw::WriteHostFile(root + "/Req.vi", vif::Write(v))) return false;
  Path path = nullptr;
  RsrcFileRef ref = 0;
  const char kPath[] = "L:\\Req.vi";
  if (FTextToPath(reinterpret_cast<const uChar*>(kPath), int32(sizeof kPath - 1), &path) != kNoErr ||
      ROpenFile(path, kRsrcReadOnly, &ref, nullptr, nullptr) != kNoErr)
    return false;
  UHandle vi = nullptr;
  if (LoadInstrument(path, 0, reinterpret_cast<ConstPStr>("\006Req.vi"), ref, &vi, 0) != kLoadLoaded || !vi)
    return false;
  if (HoldVIName(VIRec(vi)->name, 0) != kNoErr) return false;
  const std::vector<uChar> type = pane.Bytes();
  return AppOpenVIRefByName(kLocalAppRef, VIRec(vi)->name, reinterpret_cast<const TypeDescriptor*>(type.data()),
                            kVIRefOptTrusted, nullptr, &gCallRef, nullptr, nullptr, nullptr) == kNoErr;
}

// A one-dimensional array (or, now and then, two-dimensional) of the
// input's elements.
PlatSafeArray* CallArray(FuzzReader& in, Storage& st) {
  PlatVariant v;
  Make(in, st, &v, 0);
  if (v.vt & kPlatVtArray) return v.array;
  Free(&v);
  return nullptr;
}

void Call(FuzzReader& in) {
  const int32_t strings = PlatBstrLiveCount(), arrays = PlatSafeArrayLiveCount();
  Storage st;
  VIServCallRecord call{PlatEventCreate(false), 0, nullptr, 0, CallArray(in, st), CallArray(in, st), -1, nullptr};
  call.namesVt = call.names ? uint16_t(kPlatVtArray | call.names->vt) : 0;
  uintptr_t args[2] = {uintptr_t(uint32_t(gCallRef)), uintptr_t(&call)};
  VIServRequest q{kServReqCall, nullptr, 2, args, 0, 0};
  VIServRequestDispatch(&q);
  FUZZ_CHECK(q.status == 0 && q.result != 0 && q.result == call.status);
  FUZZ_CHECK(Allowed(q.result));
  FUZZ_CHECK(PlatEventWait(call.done, 0) == kPlatWaitEvent);
  FUZZ_CHECK(call.params == nullptr && VIServWaiterCount() == 0);
  FUZZ_CHECK(st.Intact());
  PlatEventDestroy(call.done);
  PlatBstrFree(call.errorText);
  PlatSafeArrayDestroy(call.names);
  PlatSafeArrayDestroy(call.values);
  FUZZ_CHECK(PlatBstrLiveCount() == strings && PlatSafeArrayLiveCount() == arrays);
}

// The VI object of the call VI, made once with the server.
PlatComDispatch* gVIObject = nullptr;
bool StartVIObject(const std::string& root) {
  std::string program;
  if (!PlatProgramFile(&program)) return false;
  if (!tiw::WriteServerLibrary(program.substr(0, program.rfind('/') + 1) + qxbuild::kAutomationTypeLibName))
    return false;
  setenv("QX_REGISTRY_FILE", (root + "/registry.ini").c_str(), 1);
  // The object's requests are taken by this thread while it waits for the
  // object's apartment: the posted event itself is not needed.
  static VIShellHooks shell{};
  shell.postUserEvent = [](WindowRef, int32, int32, int32, int32, int32, int32, Bool32, int32) -> int32 { return 0; };
  SetVIShellHooks(&shell);
  if (OleServerStart() != 0) return false;
  return OleVICreate(reinterpret_cast<ConstPStr>("\006Req.vi"), nullptr, nullptr, nullptr, &gVIObject) == kPlatOk;
}

bool AllowedException(int32_t r, const PlatExcepInfo& e) {
  if (r == kPlatOk) return true;
  if (r == kPlatDispException) return (e.code >= 5001 && e.code <= 5015) || e.code > 5500 || e.scode < 0;
  return r == kPlatDispTypeMismatch || r == kPlatDispOverflow || r == kPlatDispBadVarType ||
         r == kPlatDispParamNotOptional || r == kPlatDispBadParamCount || r == kPlatDispParamNotFound ||
         r == kPlatOutOfMemory || r == kPlatInvalidArg;
}

void VIObjectMember(FuzzReader& in) {
  static const int32_t kMembers[] = {kOleVIGetControlValue, kOleVISetControlValue, kOleVICall, kOleVIRun};
  const int32_t member = kMembers[in.Byte() % 4];
  const int32_t strings = PlatBstrLiveCount(), arrays = PlatSafeArrayLiveCount();
  Storage st;
  const uint32_t count = in.Byte() % 4;
  std::vector<PlatVariant> args(count);
  for (PlatVariant& a : args) Make(in, st, &a, 0);
  std::vector<int32_t> named(in.Byte() % 3);
  for (int32_t& n : named) n = int32_t(int8_t(in.Byte() % 4)) - 1;
  PlatDispParams dp{count ? args.data() : nullptr, named.empty() ? nullptr : named.data(), count,
                    uint32_t(named.size() <= count ? named.size() : 0)};
  PlatVariant result;
  PlatVariantInit(&result);
  PlatExcepInfo e{};
  const int32_t r = gVIObject->slots->invoke(gVIObject, member, nullptr, 0x409, kPlatDispatchMethod, &dp, &result, &e,
                                             nullptr);
  FUZZ_CHECK(AllowedException(r, e));
  FUZZ_CHECK(OlePostedRequestCount() == 0 && VIServWaiterCount() == 0);
  FUZZ_CHECK(OleVIThreadList() && OleVIThreadList()->Count() == 1);
  FUZZ_CHECK(st.Intact());
  PlatBstrFree(e.source);
  PlatBstrFree(e.description);
  for (PlatVariant& a : args) Free(&a);
  Free(&result);
  FUZZ_CHECK(PlatBstrLiveCount() == strings && PlatSafeArrayLiveCount() == arrays);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    if (!LoadCallVI()) return false;
    if (!StartVIObject(gRoot)) return false;
    OleInstallEngineHooks();
    // The member table's own descriptors and the resource manager's copies
    // of the text lists are made at their first use, once: made before runs
    // count handles.
    for (int32_t code : {7, 1028, 3000, 5012}) {
      PlatBstr text = nullptr;
      OleMapVIServError(code, nullptr, &text);
      PlatBstrFree(text);
    }
    for (int32_t id = 0; id < 2100; ++id) {
      PropInfoTypeDesc(id < 100 ? kAutoClassApp : kAutoClassVI, id);
      for (int32_t p = 0; p < 8; ++p) MethodParamTypeDesc(id < 1500 ? kAutoClassVI : kAutoClassApp, id, p);
    }
    PrefSet(kPrefServerOleEnabled, 1);
    return true;
  }();
  if (!ready || size > 2048) return 0;
  FuzzReader in{data, size};
  const uint8_t kind = in.Byte() % 8;
  if (kind == 0 || kind == 4) {
    Call(in);
    return 0;
  }
  if (kind == 1) {
    VIObjectMember(in);
    return 0;
  }
  // Every member of both classes, and ids around them.
  static const int32_t kRanges[][2] = {{-2, 50}, {495, 572}, {995, 1026}, {1995, 2022}};
  const auto& range = kRanges[in.Byte() % 4];
  const int32_t id = range[0] + int32_t(in.Byte() % uint32_t(range[1] - range[0]));
  const int32_t cls = int32_t(in.Byte() % 3);
  uint16_t flags = uint16_t(1u << (in.Byte() % 4));
  // The listener is only read: a put would listen on the network.
  if (cls == 0 && id == 32) flags = kPlatDispatchPropertyGet;
  const uint32_t count = in.Byte() % 6;
  // The arguments between guard words.
  std::vector<PlatVariant> block(count + 2);
  std::memset(block.data(), 0xA5, sizeof(PlatVariant));
  std::memset(&block[count + 1], 0xA5, sizeof(PlatVariant));
  const PlatVariant guard = block[0];
  const int32_t strings = PlatBstrLiveCount(), arrays = PlatSafeArrayLiveCount();
  const int32_t handles = FuzzLiveHandles();
  Storage st;
  for (uint32_t i = 0; i < count; ++i) Make(in, st, &block[i + 1], 0);
  std::vector<int32_t> named(in.Byte() % 4);
  for (int32_t& n : named) n = int32_t(int8_t(in.Byte()));
  const uint8_t shape = in.Byte();
  PlatDispParams dp{count ? &block[1] : nullptr, named.empty() ? nullptr : named.data(), count,
                    shape & 1 ? uint32_t(named.size() + (shape & 2)) : uint32_t(named.size())};
  if (dp.namedCount > named.size()) dp.namedIds = nullptr;  // a count without its ids
  PlatVariant result[3];
  std::memset(result, 0xA5, sizeof result);
  PlatVariantInit(&result[1]);
  PlatBstr slot = nullptr;
  uintptr_t args[7] = {uintptr_t(cls), uintptr_t(int32_t(in.Byte() & 1 ? -1 : 0x12345)), uintptr_t(id), flags,
                       shape & 4 ? 0 : uintptr_t(&dp), shape & 8 ? 0 : uintptr_t(&result[1]), uintptr_t(&slot)};
  VIServRequest q{kServReqInvoke, nullptr, 7, args, 0, 0};
  VIServRequestDispatch(&q);
  FUZZ_CHECK(q.status == 0);
  FUZZ_CHECK(Allowed(q.result));
  FUZZ_CHECK(std::memcmp(&block[0], &guard, sizeof guard) == 0);
  FUZZ_CHECK(std::memcmp(&block[count + 1], &guard, sizeof guard) == 0);
  FUZZ_CHECK(std::memcmp(&result[0], &guard, sizeof guard) == 0 && std::memcmp(&result[2], &guard, sizeof guard) == 0);
  FUZZ_CHECK(st.Intact());
  // A failure names its text; a success leaves none.
  FUZZ_CHECK(q.result > 0 || slot == nullptr);
  PlatBstrFree(slot);
  for (uint32_t i = 0; i < count; ++i) Free(&block[i + 1]);
  Free(&result[1]);
  FUZZ_CHECK(PlatBstrLiveCount() == strings && PlatSafeArrayLiveCount() == arrays);
  if (!Keeps(cls, id, flags)) FUZZ_CHECK(FuzzLiveHandles() == handles);
  return 0;
}
