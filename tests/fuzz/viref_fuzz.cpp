// VI references driven by random requests over a library of VIs the tools
// write (an adder with its panel, a reentrant one, one turned into a control
// VI, one into a global VI, and a VI file that only an open by path loads):
// opens by name and by path with random options and connector panes,
// releases, reservations, attribute vectors and single properties with
// random refnums, selectors, options and well-typed values, and kills of
// random records.  Every answer is one of the codes the references give;
// no report is made while the requests run; at the end of each input every
// reference is released, every VI's list is empty, no cookie is left, no
// VI is reserved or marked, and no handle is left behind.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "engine/dsalloc.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/rttable.h"
#include "engine/link/linker.h"
#include "engine/membertab.h"
#include "engine/shellsvc.h"
#include "engine/typemgr.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "fuzz_server.h"
#include "fuzz_support.h"
#include "mgsource/filemgr.h"
#include "mgsource/gnrclist.h"
#include "mgsource/prefs.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "mgsource/window/wevent.h"
#include "platform/qx_drives.h"
#include "server/viref.h"
#include "tools/appbuild.h"
#include "tools/runvi.h"
#include "tools/tdbuilder.h"
#include "tools/vifile.h"

namespace {

std::string gRoot;
std::vector<UHandle> gVIs;
const char* const kNames[] = {"Add.vi", "RAdd.vi", "C.vi", "G.vi", "Extra.vi", "Missing.vi"};
constexpr int kNameCount = 6;
std::vector<uChar> gPanes[2];  // the adder's connector pane and another

ConstPStr P(const char* text, Str255 out) {
  out[0] = uChar(std::strlen(text));
  std::memcpy(out + 1, text, out[0]);
  return out;
}

Path PathOf(const char* name) {
  const std::string text = std::string("L:\\") + name;
  Path p = nullptr;
  if (FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p) != kNoErr) std::abort();
  return p;
}

UHandle LoadFile(const char* name) {
  Path path = PathOf(name);
  RsrcFileRef ref = 0;
  if (ROpenFile(path, kRsrcReadOnly, &ref, nullptr, nullptr) != kNoErr) std::abort();
  Str255 n;
  UHandle vi = nullptr;
  if (LoadInstrument(path, 0, P(name, n), ref, &vi, 0) != kLoadLoaded || !vi) std::abort();
  return vi;
}

// Closes what the references handed to the user-interface thread.
void DrainEvents() {
  WEventRecord e;
  while (WGetNextEvent(&e))
    if (e.code == kWEvUser && e.where == kUECloseVI) {
      UHandle vi = reinterpret_cast<UHandle>(uintptr_t(uInt32(e.globalWhere)));
      if (IsVILoaded(vi)) CloseVI(vi, 0, 1, 0);
    }
  CollectTypeHeapGarbage();
}

bool Start() {
  if (!FuzzStartServerEngine("qxvrfXXXXXX", &gRoot)) return false;
  VILoadPanelHooks h{};
  h.reopenVIFile = [](UHandle vi, uInt32, RsrcFileRef* file) {
    return ROpenFile(VIRec(vi)->path, kRsrcReadOnly, file, nullptr, nullptr);
  };
  SetVILoadPanelHooks(&h);
  const std::pair<const char*, uInt32> files[] = {
      {"Add.vi", 0}, {"RAdd.vi", kVIFlagReentrant}, {"C.vi", 0}, {"G.vi", 0}, {"Extra.vi", 0}};
  for (const auto& [name, flags] : files)
    if (!rsrcw::WriteHostFile(gRoot + "/" + name, vif::WriteWithPanel(runvi::File(name, runvi::Clumps::kAdd, 1, flags))))
      return false;
  for (int i = 0; i < 4; ++i) {
    UHandle vi = LoadFile(kNames[i]);
    if (HoldVIName(VIRec(vi)->name, 0) != kNoErr) return false;
    gVIs.push_back(vi);
  }
  VIRec(gVIs[2])->viKind = kVIKindControl;
  VIRec(gVIs[3])->viKind = kVIKindGlobal;
  for (int other = 0; other < 2; ++other)
    gPanes[other] = tdb::Function(0, {0, 0, 0x100},
                                  {tdb::I32().Named("a"), other ? tdb::DBL().Named("b") : tdb::I32().Named("b"),
                                   tdb::I32().Named("sum")})
                        .Bytes();
  // What stays loaded once used (texts, panels' fonts, the type heap's
  // lists) is made before runs count handles: each VI's panel once.
  for (UHandle vi : gVIs) {
    LoadFPHeap(vi);
    CloseFPAndUnload(vi);
  }
  UHandle extra = LoadFile("Extra.vi");
  DisposeVI(extra, 1);
  CollectTypeHeapGarbage();
  return true;
}

bool OneOf(MgErr err, std::initializer_list<MgErr> codes) {
  for (MgErr c : codes)
    if (err == c) return true;
  return false;
}
// A code the references or the loaders they call may give.
bool ReferenceCode(MgErr err) { return err == 0 || (err > 0 && err <= 90) || (err >= 1000 && err <= 1044); }

// A value for a set of the selector, typed as its property is: strings and
// paths are handles of their own, everything else random bytes.
void TypedValue(FuzzReader& in, int32 selector, uChar* slot, size_t room) {
  for (size_t i = 0; i < room; ++i) slot[i] = in.Byte();
  const TypeDescriptor* td = PropInfoTypeDesc(kAutoClassVI, selector);
  if (!td) return;
  if (td->code == kTDString) {
    const int32 n = in.Byte();
    UHandle h = DSNewHandle(4 + n);
    if (h) {
      PutNative32(*h, uInt32(n));
      for (int32 i = 0; i < n; ++i) (*h)[4 + i] = in.Byte();
    }
    std::memcpy(slot, &h, sizeof h);
  } else if (td->code == kTDPath) {
    Path p = FEmptyPath(nullptr);
    std::memcpy(slot, &p, sizeof p);
  } else if (DataShape(td) != 0) {
    std::memset(slot, 0, room);  // handles of other types start empty
  }
}

void FreeValue(int32 selector, uChar* slot) {
  const TypeDescriptor* td = PropInfoTypeDesc(kAutoClassVI, selector);
  if (td && DataShape(td) != 0) DisposeData(td, slot, slot + DataSize(td));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Start();
  if (!started) std::abort();
  FuzzReader in{data, size};
  const int32 live = FuzzLiveHandles();
  std::vector<VIRef> refs;
  auto pickRef = [&]() -> VIRef {
    const uint8_t b = in.Byte();
    if (!refs.empty() && b < 200) return refs[b % refs.size()];
    return VIRef(in.Word());
  };
  FuzzArmed() = true;
  for (int ops = 0; in.n && ops < 48; ++ops) {
    const uint8_t op = in.Byte() % 7;
    const int32 options = int32(in.Word() & 0xFFFF0303u) | (in.Byte() & 1 ? kVIRefOptTrusted : 0);
    switch (op) {
      case 0:
      case 1: {  // open by name or by path
        const char* name = kNames[in.Byte() % kNameCount];
        const uint8_t pane = in.Byte() % 3;
        const TypeDescriptor* type = pane ? reinterpret_cast<const TypeDescriptor*>(gPanes[pane - 1].data()) : nullptr;
        const AppRef app = in.Byte() < 240 ? kLocalAppRef : AppRef(in.Word());
        VIRef ref = 0;
        MgErr err;
        if (op == 0) {
          Str255 n;
          err = AppOpenVIRefByName(app, P(name, n), type, options, nullptr, &ref, nullptr, nullptr, nullptr);
        } else {
          Path path = PathOf(name);
          err = AppOpenVIRefByPath(app, path, type, options, nullptr, &ref, nullptr, nullptr, nullptr);
          FDisposePath(path);
        }
        FUZZ_CHECK(OneOf(err, {0, kArgErr, kMemFullErr, kFileNotFoundErr, kVIRefNotInMemoryErr, kAppRefInvalidErr,
                               kVIRefTypeErr, kVIRefAccessErr, kVIRefKindErr, kVIRefNotIdleErr, kVIRefNotExecErr,
                               kVIRefEditReservedErr}));
        FUZZ_CHECK((err == kNoErr) == (ref != 0));
        if (!err) refs.push_back(ref);
        break;
      }
      case 2:  // release
        FUZZ_CHECK(OneOf(VIRefRelease(pickRef()), {0, kVIRefInvalidErr}));
        break;
      case 3: {  // reservation
        const VIRef ref = pickRef();
        int32 mode = in.Byte() % 4;
        FUZZ_CHECK(OneOf(VIRefSetAttributes(ref, kVIRefReservationProp, &mode, options, nullptr, nullptr, nullptr),
                         {0, kArgErr, kMemFullErr, kVIRefNotIdleErr, kVIRefNotExecErr, kVIRefInvalidErr,
                          kVIRefReserveErr, kVIRefEditReservedErr, kVIRefKindErr, kVIRefAccessErr,
                          kVIRefUnreservedErr}));
        break;
      }
      case 4:
      case 5: {  // an attribute vector, or one property
        const VIRef ref = pickRef();
        const int32 count = op == 5 ? 1 : in.Byte() % 5;
        constexpr size_t kRoom = 32;
        std::vector<uChar> slots(kRoom * 4, 0);
        std::vector<AttrEntry> v;
        for (int32 i = 0; i < count; ++i) {
          const int32 get = in.Byte() & 1;
          int32 selector = 495 + in.Byte() % 80;
          // A panel window is never opened here: those sets become gets.
          const bool set = !get && selector != 534 && selector != 535;
          uChar* slot = slots.data() + kRoom * size_t(i);
          if (set) TypedValue(in, selector, slot, kRoom);
          v.push_back({set ? 0 : 1, selector, (in.Byte() & 7) ? slot : nullptr});
        }
        MgErr error = -1;
        int32 index = -1;
        MgErr result;
        if (op == 4) {
          result = VIRefAttrVector(ref, count, v.data(), options, &error, &index, nullptr, nullptr, nullptr);
          FUZZ_CHECK(ReferenceCode(result) && ReferenceCode(error));
          if (result == kNoErr) FUZZ_CHECK(error ? index >= 1 && index <= count : index == count + 1);
          else FUZZ_CHECK(error == 0 && index == 0);
        } else {
          result = v[0].get ? VIRefGetAttributes(ref, v[0].selector, v[0].value, options, nullptr, nullptr, nullptr)
                            : VIRefSetAttributes(ref, v[0].selector, v[0].value, options, nullptr, nullptr, nullptr);
          FUZZ_CHECK(ReferenceCode(result));
        }
        // The caller's values: what the gets made, and the handles the sets
        // were given.
        for (int32 i = 0; i < count; ++i) FreeValue(v[size_t(i)].selector, slots.data() + kRoom * size_t(i));
        break;
      }
      case 6: {  // a kill of any record: only live ones are looked at
        const uint32_t word = in.Word();
        FUZZ_CHECK(OneOf(KillQXObjAsyncRef(reinterpret_cast<AsyncRef>(uintptr_t(word))), {kArgErr, kVIRefNotIdleErr}));
        break;
      }
    }
  }
  FuzzArmed() = false;
  for (VIRef ref : refs) VIRefRelease(ref);
  // Every list is empty, no cookie is left, nothing stays reserved or marked.
  FUZZ_CHECK(VIRefList(nullptr, 0) == 0);
  for (UHandle vi : gVIs) {
    int32 n = -1;
    FUZZ_CHECK(!VIHasRefs(vi, &n) && n == 0);
    FUZZ_CHECK(VIRec(vi)->reservations == 0);
    FUZZ_CHECK((VIRec(vi)->marks & (kVIMarkPanelByRefs | kVIMarkOperatedByRef)) == 0);
    FUZZ_CHECK(VIRec(vi)->curVIRef == 0);
    CloseFPAndUnload(vi);
    SetVITitle(vi, nullptr, nullptr);
    GLDispose(VIRec(vi)->viRefList);
    VIRec(vi)->viRefList = nullptr;
  }
  DrainEvents();
  FUZZ_CHECK(FindVIByName(reinterpret_cast<ConstPStr>("\010Extra.vi")) == nullptr);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
