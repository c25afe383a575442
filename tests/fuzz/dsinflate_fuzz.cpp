// Default data of VIs from files: any bytes inflated into a data space, of a
// data-space type chosen from a set (with the stored marks taken from the
// input) or taken whole from the input.  An inflated data space deflates and
// inflates again to the same default data, and nothing is left behind.
//
// Input: byte 0 the mode (bit 0 the previous flat format, bit 7 a type from
// the input).  Set types: byte 1 picks the type, bytes 2 and 3 mark the
// stored top-level and nested elements, the rest is the default data.  Types
// from the input: bytes 1-2 the type's length L (little-endian), then the
// type in memory order, then the default data.  Every source lies in a
// handle of exactly its size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/dsalloc.h"
#include "engine/flatten.h"
#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/pool.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace {

using Bytes = std::vector<uChar>;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

std::vector<std::vector<tdb::TD>> SetTypes() {
  using namespace tdb;
  using tdb::Path;
  return {
      {String(), I32(), Array(I16()), Cluster({String(), DBL()}), Boolean()},
      {Cluster({Cluster({String(), Array(String())}), Enum(kTDEnumU8, {"a", "b"})}), Path(), Handle()},
      {Array(Cluster({String(), Boolean()}), {kTDVariable, kTDVariable}), CDB(), EXT(), String(5), String(TDFixed(3))},
      {Variant(), Refnum(3), Array(Boolean()), Array(U8(), {TDFixed(4)}), Cluster({})},
      {Cluster({I8(), Array(Cluster({Path(), I64()})), String()}), Typedef("t", Array(DBL())), U16()},
  };
}

// The set type with the stored mark on element i when bit i of top is set.
tdb::TD Marked(const std::vector<tdb::TD>& elems, uChar top) {
  std::vector<tdb::TD> out;
  for (size_t i = 0; i < elems.size(); ++i) out.push_back(elems[i].WithFlags((top >> i) & 1 ? kDSEntryStored : 0));
  return vib::DataSpaceType(out);
}

// Sets the stored mark on element j of the unmarked top-level clusters when
// bit j of nested is set.
void MarkNested(Bytes& td, uChar nested) {
  int32 n = int16(GetNative16(&td[4]));
  size_t e = 6;
  for (int32 i = 0; i < n; ++i) {
    if (td[e + 2] == kTDCluster && !(td[e + 3] & kDSEntryStored)) {
      int32 m = int16(GetNative16(&td[e + 4]));
      size_t f = e + 6;
      for (int32 j = 0; j < m; ++j) {
        if ((nested >> (j & 7)) & 1) td[f + 3] |= kDSEntryStored;
        f += GetNative16(&td[f]);
      }
    }
    e += GetNative16(&td[e]);
  }
}

UHandle HandleOf(const uint8_t* p, size_t n) {
  UHandle h = AZNewHandle(int32(n));
  if (h && n) std::memcpy(*h, p, n);
  return h;
}

Bytes BytesOf(UHandle h) { return h ? Bytes(*h, *h + AZGetHandleSize(h)) : Bytes(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Types from the input may ask for any amount of memory: the pool is held
  // to 64 MB more than it starts with, so that such requests meet memory full.
  static bool ready = FuzzStartManagers(FuzzAbortWhenArmed) &&
                      (PoolSetCeiling(PoolInitDefault(), PoolSize(PoolInitDefault()) + (64u << 20)), true);
  static const std::vector<std::vector<tdb::TD>> types = SetTypes();
  if (!ready || size < 3) return 0;
  uInt8 mode = data[0];
  int32 flags = (mode & 1) ? kFlatOldBooleans : 0;
  Bytes td;
  size_t rest;
  if (mode & 0x80) {
    size_t len = size_t(data[1]) | (size_t(data[2]) << 8);
    if (len < 6 || 3 + len > size) return 0;
    td.assign(data + 3, data + 3 + len);
    rest = 3 + len;
  } else {
    if (size < 4) return 0;
    td = Marked(types[data[1] % types.size()], data[2]).Bytes();
    MarkNested(td, data[3]);
    rest = 4;
  }
  int32 live = FuzzLiveHandles();
  UHandle vi = vib::NewVI({}, false);
  if (!vi) return 0;
  UHandle tdh = VIRec(vi)->dsTypeMap;
  if (DSPtrToXHand(td.data(), tdh, int32(td.size())) != kNoErr) {
    vib::DisposeVI(vi);
    return 0;
  }
  UHandle dfds = HandleOf(data + rest, size - rest);
  FuzzArmed() = true;
  UHandle ds = InflateDataSpace(vi, dfds, flags);
  FuzzArmed() = false;
  AZDisposeHandle(dfds);
  if (ds) {
    const TypeDescriptor* t = reinterpret_cast<const TypeDescriptor*>(*tdh);
    Check(DSGetHandleSize(ds) == DataSize(t), "data space of its type's size");
    Check(DSHdr(ds)->size == DataSize(t), "used size recorded");
    Check(DSHdr(ds)->typeDesc == tdh, "type recorded");
    VIRec(vi)->dataSpace = ds;
    UHandle flat1 = DeflateDataSpace(vi);
    VIRec(vi)->dataSpace = nullptr;
    DisposeData(t, *ds, *ds + DSGetHandleSize(ds));
    DSDisposeHandle(ds);
    Check(flat1 != nullptr || MemFullPending(nullptr), "an inflated data space deflates");
    FuzzArmed() = true;
    UHandle again = flat1 ? InflateDataSpace(vi, flat1, 0) : nullptr;
    FuzzArmed() = false;
    Check(again != nullptr || MemFullPending(nullptr), "deflated default data inflates");
    if (again) {
      VIRec(vi)->dataSpace = again;
      UHandle flat2 = DeflateDataSpace(vi);
      Check(!flat2 || BytesOf(flat1) == BytesOf(flat2), "deflating is stable");
      AZDisposeHandle(flat2);
    }
    AZDisposeHandle(flat1);
  }
  vib::DisposeVI(vi);
  MemFullReset();
  Check(FuzzLiveHandles() == live, "nothing left behind");
  return 0;
}
