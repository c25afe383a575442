// A VI's default data: the values of the data-space entries marked stored
// (flags-byte bit 0x20), flattened one after the other in the order of the
// DataSpaceTD, clusters without the mark looked into.  Inflating builds a new
// data space from the VI's DataSpaceTD and that data; deflating writes it.
//
// The default data and the descriptors come from VI files: the descriptor is
// checked before it is walked and the data is read through the bounded flat
// reader, so that short or bad data gives null, with everything made so far
// disposed and nothing read past the data.
#include <cstring>

#include "engine/datamgr.h"
#include "engine/dsalloc.h"
#include "engine/flatten.h"
#include "engine/td_internal.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

namespace {

inline const TypeDescriptor* AsTD(const uChar* p) { return reinterpret_cast<const TypeDescriptor*>(p); }
inline int32 Count(const uChar* cluster) { return int16(GetNative16(cluster + 4)); }
inline uInt16 SizeWord(const uChar* td) { return GetNative16(td); }

// Calls visit(element, data offset) for each element of the cluster, the
// offsets aligned as the data lays them out; stops when visit returns false.
// The caller makes sure that the cluster's data size fits 31 bits.
template <typename Visit>
bool ForEachElement(const uChar* cluster, int32 base, Visit visit) {
  int64 off = base;
  const uChar* e = cluster + 6;
  for (int32 i = 0, n = Count(cluster); i < n; ++i) {
    off = AlignDatum(AsTD(e), int32(off));
    if (!visit(e, int32(off))) return false;
    off += DataSize(AsTD(e));
    if (off > 0x7FFFFFFF) return false;
    e += SizeWord(e);
  }
  return true;
}

inline bool Stored(const uChar* e) { return (e[3] & kDSEntryStored) != 0; }

// True when no element (looking into clusters) lacks both marks and holds
// data other than flat bytes.
bool NoUnmarkedHandles(const uChar* cluster) {
  return ForEachElement(cluster, 0, [](const uChar* e, int32) {
    if (e[3] & (kDSEntryStored | kDSEntryPrivate)) return true;
    if (e[2] == kTDCluster) return NoUnmarkedHandles(e);
    return DataShape(AsTD(e)) == 0;
  });
}

struct Reader {
  UHandle src;
  int32 pos;
  int32 length;
  int32 flags;
};

// Fills the data of one cluster level; false on bad data or memory full.
bool InflateCluster(const uChar* cluster, uChar* data, int32 base, Reader& r) {
  return ForEachElement(cluster, base, [&](const uChar* e, int32 off) {
    if (Stored(e)) {
      if (InitEmptyData(AsTD(e), data + off) != kNoErr) return false;
      int32 avail = r.length - r.pos;
      int32 used = UnFlattenFromMem(r.src, r.pos, AsTD(e), data + off, avail, r.flags);
      if (used < 0 || used > avail) return false;
      r.pos += used;
      return true;
    }
    if (e[2] == kTDCluster) return InflateCluster(e, data, off, r);
    if (DataShape(AsTD(e)) != 0) return InitEmptyData(AsTD(e), data + off) == kNoErr;
    return true;
  });
}

// Adds the flat sizes of the stored values; false when one does not fit.
bool StoredFlatSize(const uChar* cluster, const uChar* data, int32 base, int64* total) {
  return ForEachElement(cluster, base, [&](const uChar* e, int32 off) {
    if (Stored(e)) {
      int32 n = FlatSize(AsTD(e), data + off);
      if (n < 0) return false;
      *total += n;
      return *total <= 0x7FFFFFFF;
    }
    if (e[2] == kTDCluster) return StoredFlatSize(e, data, off, total);
    return true;
  });
}

void FlattenStored(const uChar* cluster, const uChar* data, int32 base, UPtr* out) {
  ForEachElement(cluster, base, [&](const uChar* e, int32 off) {
    if (Stored(e))
      *out = FlattenData(AsTD(e), data + off, *out);
    else if (e[2] == kTDCluster)
      FlattenStored(e, data, off, out);
    return true;
  });
}

// True when every code of the descriptor (through the containers that data
// lies in) is one whose data the data walkers handle: a descriptor from a
// file with a function, an unknown code or a variant of another kind holds
// nothing that a data space can.
bool DataCodes(const uChar* t) {
  uChar c = td::Code(t);
  if (!td::IsNumericCode(c)) {
    switch (c) {
      case kTDVoid: case kTDBooleanOld: case kTDBoolean: case kTDString: case kTDHandle: case kTDPath:
      case kTDString33: case kTDOpaque34: case kTDOpaque35: case kTDOpaque36: case kTDString37:
      case kTDStringView: case kTDArray: case kTDArrayView: case kTDCluster: case kTDUnion: case kTDBlock:
      case kTDWrapper: case kTDTypeOnly: case kTDRefnum: case kTDInternal80: case kTDInternal81:
      case kTDTypedRef: case kTDTypedef:
        break;
      case kTDVariant:
        if (td::I16(t + 4) != kVariantOle) return false;
        break;
      default:
        return false;
    }
  }
  return td::ForEachChild(t, td::kInArrays | td::kInClusters | td::kInUnions | td::kInWrappers | td::kInTypedefs,
                          [t](int32 off) { return DataCodes(t + off); });
}

// The VI's DataSpaceTD when it is a well-formed cluster; null otherwise.
uChar* DataSpaceTDOf(UHandle vi) {
  if (!vi || !*vi) return nullptr;
  UHandle td = VIRec(vi)->dsTypeMap;
  if (!td || !*td) return nullptr;
  int32 size = DSGetHandleSize(td);
  if (size < 6 || TDCheckBounds(*td, size) != kNoErr || (*td)[2] != kTDCluster || !DataCodes(*td)) return nullptr;
  return *td;
}

}  // namespace

UHandle InflateDataSpace(UHandle vi, UHandle defaultData, int32 formatFlags) {
  uChar* td = DataSpaceTDOf(vi);
  if (!td) return nullptr;
  int32 size = DataSize(AsTD(td));
  if (size < kDataSpaceHeaderSize || size == 0x7FFFFFFF) return nullptr;
  td[3] |= kDSEntryPrivate;
  if (!NoUnmarkedHandles(td)) td[3] &= uChar(~kDSEntryPrivate);
  UHandle ds = DSNewHClr(size);
  if (!ds) return nullptr;
  Reader r{defaultData, 0, 0, formatFlags};
  if (defaultData) r.length = AZIsHandle(defaultData) ? AZGetHandleSize(defaultData) : DSGetHandleSize(defaultData);
  bool ok = r.length >= 0 && (r.length == 0 || defaultData);
  // The walk reads the descriptor through the VI's handle, which nothing here
  // moves; the data handle moves only when it is resized, which it is not.
  if (ok) ok = InflateCluster(*VIRec(vi)->dsTypeMap, *ds, 0, r);
  if (!ok) {
    DisposeData(AsTD(*VIRec(vi)->dsTypeMap), *ds, *ds + size);
    DSDisposeHandle(ds);
    return nullptr;
  }
  DSHdr(ds)->typeDesc = VIRec(vi)->dsTypeMap;
  DSHdr(ds)->size = size;
  return ds;
}

UHandle DeflateDataSpace(UHandle vi) {
  uChar* td = DataSpaceTDOf(vi);
  UHandle ds = td ? VIRec(vi)->dataSpace : nullptr;
  if (!ds || !*ds) {
    DBAssert(__FILE__, __LINE__, "DeflateDataSpace: the VI has no data space");
    return nullptr;
  }
  if (DSGetHandleSize(ds) < DataSize(AsTD(td))) {
    DBAssert(__FILE__, __LINE__, "DeflateDataSpace: the data space is shorter than its type");
    return nullptr;
  }
  int64 total = 0;
  if (!StoredFlatSize(td, *ds, 0, &total)) return nullptr;
  UHandle h = AZNewHClr(int32(total));
  if (!h) return nullptr;
  UPtr out = *h;
  FlattenStored(*VIRec(vi)->dsTypeMap, *VIRec(vi)->dataSpace, 0, &out);
  if (out < *h || out > *h + total) DBAssert(__FILE__, __LINE__, "DeflateDataSpace wrote past its handle");
  return h;
}
