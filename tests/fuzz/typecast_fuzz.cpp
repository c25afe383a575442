// Type casts of untrusted strings: the first byte picks a target type and the
// flags, the rest is the source string.  The cast answers 0, 1 or 2 without a
// report; fixed-size targets hold what the bytes say (cast back, they give
// the same bytes); every target disposes without a leak.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "rtlib/typecast.h"
#include "tools/tdbuilder.h"

namespace {

using tdb::TD;

// A TD in a data-zone handle at offset 0.
UHandle TDInHandle(const TD& td) {
  std::vector<uChar> bytes = td.Bytes();
  UHandle h = DSNewHClr(int32(bytes.size()));
  std::memcpy(*h, bytes.data(), bytes.size());
  return h;
}

struct Target {
  TD td;
  bool array;
  int32 fixed;  // bytes per element read back exactly (0: not checked)
};

const std::vector<Target>& Targets() {
  static const std::vector<Target> t = {
      {tdb::I32(), false, 4},
      {tdb::SGL(), false, 4},
      {tdb::U8(), false, 1},
      {tdb::Enum(kTDEnumU16, {"a", "b", "c"}), false, 0},
      {tdb::Boolean(), false, 0},
      {tdb::DBL(), false, 8},
      {tdb::Cluster({tdb::I16(), tdb::String()}), false, 0},
      {tdb::Array(tdb::I16()), true, 2},
      {tdb::Array(tdb::DBL()), true, 8},
      {tdb::Array(tdb::Boolean()), true, 0},
      {tdb::Array(tdb::Cluster({tdb::String(), tdb::I32()})), true, 0},
      {tdb::Array(tdb::U32(), {kTDVariable, kTDVariable}), true, 4},
      {tdb::Cluster({tdb::Path(), tdb::U16()}), false, 0},
  };
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers(FuzzAbortWhenArmed);
  if (!started || size < 1) return 0;
  static UHandle strTD = TDInHandle(tdb::String());
  const std::vector<Target>& targets = Targets();
  const Target& t = targets[data[0] % targets.size()];
  int32 flags = (data[0] & 0x80) ? kFlatOldBooleans : 0;
  int32 live = FuzzLiveHandles();
  UHandle tdh = TDInHandle(t.td);
  const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(*tdh);
  int32 n = int32(size - 1);
  LStrHandle src = reinterpret_cast<LStrHandle>(DSNewHClr(4 + n));
  PutNative32(*src, uInt32(n));
  if (n) std::memcpy((*src)->str, data + 1, size_t(n));

  // The target datum: an array's handle, or a cleared value.
  std::vector<uChar> value(size_t(DataSize(td)) + 8, 0);
  // Room for the sizes of an empty array of any of the targets.
  UHandle array = t.array ? DSNewHClr(16) : nullptr;
  int32 rank = t.array ? int16(GetNative16(*tdh + 4)) : 0;
  void* dst = t.array ? static_cast<void*>(array) : value.data();

  FuzzArmed() = true;
  MgErr err = TypeCast(strTD, 0, tdh, 0, src, dst, flags);
  FuzzArmed() = false;
  FUZZ_CHECK(err == kNoErr || err == kArgErr || err == kMemFullErr);

  if (err == kNoErr && t.fixed) {
    // The bytes the target took, cast back, are the source's first ones.
    LStrHandle back = reinterpret_cast<LStrHandle>(DSNewHClr(4));
    FUZZ_CHECK(TypeCast(tdh, 0, strTD, 0, dst, back, flags) == kNoErr);
    int32 got = int32(GetNative32(*back));
    int32 want = t.array ? n / t.fixed * t.fixed : t.fixed;
    FUZZ_CHECK(got == want);
    int32 same = want < n ? want : n;
    FUZZ_CHECK(std::memcmp((*back)->str, data + 1, size_t(same)) == 0);
    for (int32 i = same; i < want; ++i) FUZZ_CHECK((*back)->str[i] == 0);
    DSDisposeHandle(reinterpret_cast<UHandle>(back));
  }
  if (t.array && err != kMemFullErr) {
    // The sizes describe what the handle holds.
    int32 count = NArrayElts(rank, reinterpret_cast<const int32*>(*array));
    const TypeDescriptor* elem = reinterpret_cast<const TypeDescriptor*>(*tdh + 6 + 4 * rank);
    FUZZ_CHECK(count >= 0);
    FUZZ_CHECK(DSGetHandleSize(array) >= AlignDatum(elem, 4 * rank) + count * DataSize(elem));
  }

  // Everything the target holds goes with it.
  if (t.array) {
    UHandle slot = array;
    uChar word[4];
    std::memcpy(word, &slot, 4);
    DisposeData(td, word, word + 4);
  } else {
    DisposeData(td, value.data(), value.data() + DataSize(td));
  }
  DSDisposeHandle(reinterpret_cast<UHandle>(src));
  DSDisposeHandle(tdh);
  FUZZ_CHECK(FuzzLiveHandles() == live);
  MemFullReset();
  return 0;
}
