// The prepare of a call through a reference, over connector panes and caller
// tables from the input: panes of any count, with flag words that take caller
// slots by any low byte, and panes that are no function type or lie about
// their count; caller tables with or without their tag and with any slots;
// references reserved for calls, one that is not, one of a reentrant VI and
// refnums of no reference.  Every answer is 0, 1, 1026, 1027 or 1042; a
// report is made only for a table without its tag; nothing is written past
// the callee table's slots for the pane; a prepared call hands out the
// reference's call data space and a copy of the caller's slots; the native
// count is back at 0 once the call ends.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/exec/callchain.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "fuzz_server.h"
#include "fuzz_support.h"
#include "server/callbyr.h"
#include "server/viref.h"
#include "tools/runvi.h"
#include "tools/tdbuilder.h"
#include "tools/vifile.h"

namespace {

std::string gRoot;
UHandle gVIs[2];
VIRef gRefs[3];  // Add reserved for calls, the reentrant Add reserved, Add not reserved
constexpr int32 kMaxTerms = 24;
constexpr int32 kGuard = 64;
constexpr uChar kFill = 0xA5;

UHandle LoadFile(const char* name) {
  const std::string text = std::string("L:\\") + name;
  Path path = nullptr;
  if (FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &path) != kNoErr) std::abort();
  RsrcFileRef ref = 0;
  if (ROpenFile(path, kRsrcReadOnly, &ref, nullptr, nullptr) != kNoErr) std::abort();
  Str255 n;
  n[0] = uChar(std::strlen(name));
  std::memcpy(n + 1, name, n[0]);
  UHandle vi = nullptr;
  if (LoadInstrument(path, 0, n, ref, &vi, 0) != kLoadLoaded || !vi) std::abort();
  if (HoldVIName(VIRec(vi)->name, 0) != kNoErr) std::abort();
  return vi;
}

VIRef OpenRef(UHandle vi, bool reserve) {
  VIRef ref = 0;
  if (AppOpenVIRefByName(kLocalAppRef, VIRec(vi)->name, nullptr, kVIRefOptTrusted | kVIRefOptNative, nullptr, &ref,
                         nullptr, nullptr, nullptr) != kNoErr)
    std::abort();
  VIRefRecord* r = ResolveVIRef(ref);
  if (reserve && (!r || SetReservation(r, kVIRefModeCall) != kNoErr)) std::abort();
  return ref;
}

bool Start() {
  if (!FuzzStartServerEngine("qxcbrXXXXXX", &gRoot)) return false;
  const std::pair<const char*, uInt32> files[] = {{"Add.vi", 0}, {"RAdd.vi", kVIFlagReentrant}};
  for (int i = 0; i < 2; ++i) {
    if (!rsrcw::WriteHostFile(gRoot + "/" + files[i].first,
                              vif::Write(runvi::File(files[i].first, runvi::Clumps::kAdd, 1, files[i].second))))
      return false;
    gVIs[i] = LoadFile(files[i].first);
  }
  gRefs[0] = OpenRef(gVIs[0], true);
  gRefs[1] = OpenRef(gVIs[1], true);
  gRefs[2] = OpenRef(gVIs[0], false);
  return true;
}

// A connector pane from the input: a function type with its flag words,
// or bytes that only claim to be one.
std::vector<uChar> Pane(FuzzReader& in) {
  const uChar shape = in.Byte();
  if (shape % 8 == 7) {
    std::vector<uChar> raw(size_t(4 + in.Byte() % 40));
    in.Bytes(raw.data(), raw.size());
    if (raw.size() >= 4) raw[2] = uChar(kTDFunction);
    return raw;
  }
  const int32 n = in.Byte() % (kMaxTerms + 1);
  std::vector<uInt16> flags;
  std::vector<tdb::TD> terms;
  for (int32 i = 0; i < n; ++i) {
    const uChar f = in.Byte();
    uInt16 word = uInt16((f & 1) ? kConnTermOutput : 0);
    if (f & 2) word |= kConnTermFromCaller | uInt16(in.Byte() % (f & 4 ? 256 : n + 1));
    flags.push_back(word);
    terms.push_back(tdb::I32());
  }
  return tdb::Function(0, flags, terms).Bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = Start();
  if (!started) std::abort();
  FuzzReader in{data, size};
  const uChar pick = in.Byte();
  const VIRef ref = pick % 5 < 3 ? gRefs[pick % 5] : pick % 5 == 3 ? VIRef(in.Word()) : 0;
  UHandle vi = gVIs[pick % 5 == 1 ? 1 : 0];
  // The VI's connector pane is the input's for this call.
  const std::vector<uChar> bytes = Pane(in);
  UHandle pane = AZNewHandle(int32(bytes.size()));
  if (!pane) return 0;
  std::memcpy(*pane, bytes.data(), bytes.size());
  UHandle kept = VIRec(vi)->connPane;
  VIRec(vi)->connPane = pane;
  int32 paneTerms = 0;
  if (bytes.size() >= 8 && bytes[2] == uChar(kTDFunction)) {
    int16 count = 0;
    std::memcpy(&count, bytes.data() + 4, sizeof count);
    paneTerms = count;
  }

  // The caller's table and the callee's, with a guard past the room the
  // pane asks for.
  int32 words[kMaxTerms] = {};
  ErrorIOCluster cluster{};
  std::vector<uChar> callerBytes(16 + 8 * kMaxTerms);
  auto* caller = reinterpret_cast<ParamTable*>(callerBytes.data());
  const uChar tableShape = in.Byte();
  caller->tag = tableShape & 1 ? in.Word() : kParamTableTag;
  caller->flags = in.Word();
  caller->error = tableShape & 2 ? nullptr : &cluster;
  for (int32 i = 0; i < kMaxTerms; ++i) {
    caller->slots[i].value = &words[i];
    caller->slots[i].present = int32(in.Byte() & 1);
  }
  const int32 room = paneTerms > 0 && paneTerms <= kMaxTerms ? paneTerms : 0;
  std::vector<uChar> calleeBytes(size_t(16 + 8 * room + kGuard), kFill);
  auto* callee = reinterpret_cast<ParamTable*>(calleeBytes.data());
  DataSpace callerDS =
      tableShape & 4 ? nullptr : reinterpret_cast<DataSpace>(VIRec(gVIs[(tableShape >> 3) & 1])->dataSpace);

  // Panes beyond the tables' room are refused before anything is copied.
  const bool tagged = caller->tag == kParamTableTag;
  const bool fits = paneTerms <= kMaxTerms;
  DataSpace got = nullptr;
  MgErr err = kArgErr;
  if (fits || !tagged) {
    FuzzArmed() = tagged;
    err = CBRPrepareCall(ref, &got, callerDS, callee, caller);
    FuzzArmed() = false;
  }
  FUZZ_CHECK(err == 0 || err == 1 || err == 1026 || err == 1027 || err == 1042);
  FUZZ_CHECK(tagged || err == 1);
  for (size_t i = size_t(16 + 8 * room); i < calleeBytes.size(); ++i) FUZZ_CHECK(calleeBytes[i] == kFill);
  if (err == 0) {
    VIRefRecord* r = ResolveVIRef(ref);
    FUZZ_CHECK(r && got == r->callDS && (*got)->callTable == callee && callee->ref == ref);
    FUZZ_CHECK(!(callee->flags & kParamTableCallInProgress));
    for (int32 i = 0; i < room; ++i) {
      const void* v = callee->slots[i].value;
      FUZZ_CHECK(v >= static_cast<void*>(words) && v < static_cast<void*>(words + kMaxTerms));
    }
    FUZZ_CHECK(VIRefFinishNativeCall(ref) == kNoErr);
    (*got)->callTable = nullptr;
  } else {
    FUZZ_CHECK(got == nullptr);
  }
  for (VIRef r : gRefs) FUZZ_CHECK(VIRefNativeCalls(r) == 0);
  if (cluster.source) DSDisposeHandle(reinterpret_cast<UHandle>(cluster.source));
  VIRec(vi)->connPane = kept;
  AZDisposeHandle(pane);
  return 0;
}
