// Copies from a datum of one type into a datum of another: numerics through
// the number conversion, enumerations by item name, strings into bounded
// strings and views, arrays into arrays and views of other shapes.
#include <climits>

#include "data_internal.h"
#include "datamgr.h"
#include "mgsource/numconv.h"

namespace {

using namespace dm;

constexpr int32 kNumU16 = 6;

MgErr Mismatch() {
  DATA_ASSERT("copy with conversion between unrelated types");
  return kArgErr;
}

inline int32 Min(int32 a, int32 b) { return a < b ? a : b; }

// The name of item i of an enumeration TD.
ConstPStr EnumItem(const uChar* t, int32 i) {
  int32 limit = GetNative16(t);
  int32 off = 6;
  for (int32 k = 0; k < i && off < limit; ++k) off += 1 + t[off];
  return t + off;
}

MgErr ConvertNumeric(const uChar* st, const uChar* dt, const uChar* s, uChar* d) {
  uChar sc = st[2], dc = dt[2];
  uChar sbase = sc & uChar(~0x10), dbase = dc & uChar(~0x10);
  if (IsEnumCode(dc)) {
    uInt16 v = 0;
    int32 dn = LoadI16(dt + 4);
    ConvertNum(sbase, s, kNumU16, &v);
    if (IsEnumCode(sc) && EnumItemsDiffer(T(st), T(dt))) {
      // The source item's name decides the destination's value.
      if (v >= LoadI16(st + 4)) {
        v = 0;
      } else {
        int32 idx = EnumItemIndex(EnumItem(st, v), T(dt));
        if (idx >= 0)
          v = uInt16(idx);
        else if (v >= dn)
          v = 0;
      }
    } else if (v >= dn) {
      v = 0;
    }
    ConvertNum(kNumU16, &v, dbase, d);
    return kNoErr;
  }
  if (sc == dc)
    std::memmove(d, s, size_t(NumSize(sc & 15)));
  else
    ConvertNum(sbase, s, dbase, d);
  return kNoErr;
}

// ---- Views --------------------------------------------------------------------

StringViewData LoadStringView(const uChar* p) {
  StringViewData v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void StoreStringView(uChar* p, uChar* ptr, int32 count) {
  StringViewData v = {ptr, count, 1};
  std::memcpy(p, &v, sizeof v);
}

// The count a string view of a bound field shows of n bytes; -1 when a fixed
// bound needs more bytes than there are.
int32 StringViewCount(int32 bound, int32 n) {
  if (bound >= 0) return Min(bound, n);
  if (TDFieldIsFixed(bound)) {
    int32 fixed = bound & 0x7FFFFFFF;
    return n < fixed ? -1 : fixed;
  }
  return n;
}

MgErr StringToView(const uChar* dt, const uChar* s, uChar* d) {
  LStrHandle h = reinterpret_cast<LStrHandle>(LoadH(s));
  int32 n = h ? (*h)->cnt : 0;
  if (n < 0) return kArgErr;
  int32 count = StringViewCount(LoadI32(dt + 4), n);
  if (count < 0) return kArgErr;
  StoreStringView(d, h ? (*h)->str : nullptr, count);
  return kNoErr;
}

MgErr StringViewToView(const uChar* dt, const uChar* s, uChar* d) {
  StringViewData v = LoadStringView(s);
  if (v.count < 0 || (v.count > 0 && !v.ptr)) return kArgErr;
  int32 count = StringViewCount(LoadI32(dt + 4), v.count);
  if (count < 0) return kArgErr;
  StoreStringView(d, v.ptr, count);
  return kNoErr;
}

// Sizes and strides of a view into an array of these sizes: each size
// limited by the view's dimension field; false when a fixed field asks for
// more than there is.
bool ViewSizes(const ArrayShape& v, const int32* sizes, int32* out) {
  for (int32 k = 0; k < v.rank; ++k) {
    int32 f = v.Field(k);
    int32 n = f == kTDVariable ? sizes[k] : f >= 0 ? Min(f, sizes[k]) : (f & 0x7FFFFFFF);
    if (n > sizes[k]) return false;
    out[k] = n;
  }
  return true;
}

// One copy into an array view: the source's sizes and strides, filled by
// the caller, then the view's sizes limited by its dimension fields.
struct ViewCopy {
  explicit ViewCopy(int32 rank) : n(rank), buf(3 * rank) {}
  int32 n;
  RankBuffer buf;
  int32* sizes() { return buf.get(); }
  int32* strides() { return buf.get() + n; }
  // Writes the view; 1 when a fixed field asks for more than the source has.
  MgErr Store(const ArrayShape& va, const uChar* ptr, uChar* d) {
    int32* vs = buf.get() + 2 * n;
    if (!ViewSizes(va, sizes(), vs)) return kArgErr;
    StoreH(d, ptr);
    for (int32 k = 0; k < n; ++k) {
      StoreI32(d + 4 + 8 * k, vs[k]);
      StoreI32(d + 8 + 8 * k, strides()[k]);
    }
    return kNoErr;
  }
};

// The two array TDs of a view copy: same rank, elements of the same size.
bool ViewShapes(const uChar* st, const uChar* dt, ArrayShape* sa, ArrayShape* da) {
  if (!GetArrayShape(T(st), sa) || !GetArrayShape(T(dt), da)) return false;
  if (sa->rank != da->rank || sa->elemSize != da->elemSize) {
    DATA_ASSERT("array view of another rank or element size");
    return false;
  }
  return true;
}

MgErr ArrayToView(const uChar* st, const uChar* dt, const uChar* s, uChar* d) {
  ArrayShape sa, va;
  if (!ViewShapes(st, dt, &sa, &va)) return kArgErr;
  UHandle h = LoadH(s);
  int32 count;
  if (!CountElements(h, sa, &count)) return kArgErr;
  ViewCopy v(sa.rank);
  if (!v.buf.ok()) return kMemFullErr;
  for (int32 k = 0; k < sa.rank; ++k) v.sizes()[k] = h ? LoadI32(*h + 4 * k) : 0;
  RowMajorStrides(sa.rank, v.sizes(), sa.elemSize, v.strides());
  return v.Store(va, h ? *h + sa.header : nullptr, d);
}

MgErr ArrayViewToView(const uChar* st, const uChar* dt, const uChar* s, uChar* d) {
  ArrayShape sa, va;
  if (!ViewShapes(st, dt, &sa, &va)) return kArgErr;
  ViewCopy v(sa.rank);
  if (!v.buf.ok()) return kMemFullErr;
  for (int32 k = 0; k < sa.rank; ++k) {
    v.sizes()[k] = LoadI32(s + 4 + 8 * k);
    v.strides()[k] = LoadI32(s + 8 + 8 * k);
    if (v.sizes()[k] < 0) return kArgErr;
  }
  return v.Store(va, reinterpret_cast<const uChar*>(LoadH(s)), d);
}

// ---- The walk -----------------------------------------------------------------

MgErr ConvertWalk(const uChar* st, const uChar* dt, const uChar* s, uChar* d);

MgErr ConvertCluster(const uChar* st, const uChar* dt, const uChar* s, uChar* d) {
  int32 n = LoadI16(st + 4);
  if (n != LoadI16(dt + 4)) {
    DATA_ASSERT("copy with conversion between clusters of different counts");
    return kArgErr;
  }
  const uChar* se = st + 6;
  const uChar* de = dt + 6;
  int32 so = 0, dof = 0;
  for (int32 i = 0; i < n; ++i) {
    so = AlignDatum(T(se), so);
    dof = AlignDatum(T(de), dof);
    if (MgErr err = ConvertWalk(se, de, s + so, d + dof)) return err;
    so += DataSize(T(se));
    dof += DataSize(T(de));
    se += GetNative16(se);
    de += GetNative16(de);
  }
  return kNoErr;
}

MgErr ConvertUnion(const uChar* st, const uChar* dt, const uChar* s, uChar* d) {
  int32 sel = LoadI16(s);
  if (sel < 0 || sel >= LoadI16(st + 4)) return kNoErr;
  if (sel >= LoadI16(dt + 4)) {
    DATA_ASSERT("copy with conversion into a union without the element");
    return kArgErr;
  }
  if (MgErr err = SwitchUnionElement(T(dt), d, sel)) return err;
  return ConvertWalk(B(ElemTD(T(st), sel)), B(ElemTD(T(dt), sel)), s, d);
}

MgErr ConvertWalk(const uChar* st, const uChar* dt, const uChar* s, uChar* d) {
  st = B(SkipTypedefs(T(st)));
  dt = B(SkipTypedefs(T(dt)));
  uChar sc = st[2], dc = dt[2];
  if (sc == kTDVoid) return kNoErr;
  if (IsNumericCode(sc)) return IsNumericCode(dc) ? ConvertNumeric(st, dt, s, d) : Mismatch();
  switch (sc) {
    case kTDBoolean:
      if (dc != kTDBoolean) return Mismatch();
      d[0] = s[0];
      return kNoErr;
    case kTDString:
    case kTDString33:
    case kTDString37: {
      if (dc == kTDStringView) return StringToView(dt, s, d);
      if (!IsStringCode(dc)) return Mismatch();
      return CopyStringToSlot(reinterpret_cast<LStrHandle>(LoadH(s)), d, LoadI32(dt + 4));
    }
    case kTDStringView: {
      if (dc == kTDStringView) return StringViewToView(dt, s, d);
      if (!IsStringCode(dc)) return Mismatch();
      StringViewData v = LoadStringView(s);
      LStrHandle h = reinterpret_cast<LStrHandle>(LoadH(d));
      int32 bound = LoadI32(dt + 4);
      if (bound != kTDVariable && !h) {
        // A null bounded or fixed string is empty: its room is made first.
        h = NewEmptyString(bound);
        if (!h) return kMemFullErr;
        StoreH(d, h);
      }
      MgErr err = bound == kTDVariable ? CopySString(&v, &h) : CopyViewToBndString(&v, &h, bound);
      StoreH(d, h);
      return err;
    }
    case kTDHandle: {
      if (dc != kTDHandle) return Mismatch();
      if (LoadI16(st + 4) != LoadI16(dt + 4)) DATA_ASSERT("copy between handles of different kinds");
      UHandle h = LoadH(d);
      MgErr err = CopyHandle(LoadH(s), &h);
      StoreH(d, h);
      return err;
    }
    case kTDPath: {
      if (dc != kTDPath) return Mismatch();
      Path p = reinterpret_cast<Path>(LoadH(d));
      MgErr err = CopyPath(reinterpret_cast<Path>(LoadH(s)), &p);
      StoreH(d, p);
      return err;
    }
    case kTDArray: {
      if (dc == kTDArrayView) return ArrayToView(st, dt, s, d);
      if (dc != kTDArray) return Mismatch();
      UHandle h = LoadH(d);
      MgErr err = CopyConvertArray(T(st), T(dt), LoadH(s), &h);
      StoreH(d, h);
      return err;
    }
    case kTDArrayView: {
      if (dc == kTDArrayView) return ArrayViewToView(st, dt, s, d);
      if (dc != kTDArray) return Mismatch();
      ArrayShape va;
      if (!GetArrayShape(T(st), &va)) return kArgErr;
      // The view's words, copied out: its place in a packed cluster may be unaligned.
      RankBuffer words(1 + 2 * va.rank);
      if (!words.ok()) return kMemFullErr;
      std::memcpy(words.get(), s, size_t(4 + 8 * va.rank));
      UHandle h = LoadH(d);
      MgErr err = ViewToArray(T(st), T(dt), reinterpret_cast<const ArrayViewData*>(words.get()), &h);
      StoreH(d, h);
      return err;
    }
    case kTDCluster:
      return dc == kTDCluster ? ConvertCluster(st, dt, s, d) : Mismatch();
    case kTDUnion:
      return dc == kTDUnion ? ConvertUnion(st, dt, s, d) : Mismatch();
    case kTDBlock:
      if (dc != kTDBlock) return Mismatch();
      if (LoadI32(st + 4) != LoadI32(dt + 4)) return kArgErr;
      std::memmove(d, s, size_t(DataSize(T(st))));
      return kNoErr;
    case kTDWrapper:
    case kTDTypeOnly: {
      if (dc != kTDWrapper && dc != kTDTypeOnly) return Mismatch();
      if (TDCompare(T(st), T(dt)) & 0x1718) DATA_ASSERT("copy between wrappers of different types");
      int32 size = DataSize(T(st));
      if (size != DataSize(T(dt))) return kArgErr;
      std::memmove(d, s, size_t(size));
      return kNoErr;
    }
    case kTDRefnum: {
      if (dc != kTDRefnum) return Mismatch();
      int16 sk = LoadI16(st + 4);
      if (sk != 0 && sk != LoadI16(dt + 4)) DATA_ASSERT("copy between refnums of different kinds");
      std::memmove(d, s, 4);
      return kNoErr;
    }
    case kTDVariant:
      if (dc != kTDVariant) return Mismatch();
      return CopyData(T(st), s, d);
    case kTDBooleanOld:
    case kTDOpaque34:
    case kTDOpaque35:
    case kTDOpaque36:
    case kTDInternal80:
    case kTDInternal81:
    case kTDTypedRef:
      if (dc != sc) return Mismatch();
      std::memmove(d, s, size_t(DataSize(T(st))));
      return kNoErr;
    case kTDFunction:
      DATA_ASSERT("copy with conversion of a function TD");
      return kNoErr;
    default:
      DATA_ASSERT("copy with conversion of an unexpected TD code");
      return kArgErr;
  }
}

// The shapes of both sides of an array conversion: arrays of the same rank.
bool ArrayPair(const TypeDescriptor* st, const TypeDescriptor* dt, ArrayShape* sa, ArrayShape* da) {
  if (!GetArrayShape(st, sa) || !GetArrayShape(dt, da)) return false;
  if (sa->rank != da->rank) {
    DATA_ASSERT("copy with conversion between arrays of different ranks");
    return false;
  }
  return true;
}

// Sizes of a fixed or bounded destination for a source of these sizes:
// fixed dimensions keep their size, bounded ones take the smaller.
void BoundedSizes(const ArrayShape& da, const int32* ss, int32* ns) {
  for (int32 k = 0; k < da.rank; ++k) {
    int32 f = da.Field(k);
    ns[k] = TDFieldIsFixed(f) ? (f & 0x7FFFFFFF) : Min(f, ss[k]);
  }
}

// A fixed or bounded destination: it must hold exactly the type's count.  A
// null one is the empty array, whose room is made.
MgErr CheckBoundedDest(const ArrayShape& da, UHandle* dst, int32* dcount) {
  int32 bound = ArrayTDBoundElts(T(da.td));
  if (bound == INT32_MIN) return kMemFullErr;
  *dcount = bound & 0x7FFFFFFF;
  if (!*dst) return NewEmptyArray(da, da.elem, dst);
  int32 cap = Capacity(*dst, da.header, da.elemSize);
  if (cap >= 0 && cap != *dcount) return kMemFullErr;
  return kNoErr;
}

}  // namespace

MgErr CopyConvertData(const TypeDescriptor* srcTD, const TypeDescriptor* dstTD, const void* src, void* dst) {
  if (!srcTD || !dstTD || !src || !dst) {
    DATA_ASSERT("copy with conversion without TDs, source or destination");
    return kArgErr;
  }
  return ConvertWalk(B(srcTD), B(dstTD), static_cast<const uChar*>(src), static_cast<uChar*>(dst));
}

MgErr CopyConvertSubArray(const TypeDescriptor* srcElem, const uChar* src, const int32* srcSizes,
                          const int32* srcStrides, const TypeDescriptor* dstElem, uChar* dst,
                          const int32* dstSizes, int32 rank, Bool32 convert) {
  int32 des = DataSize(dstElem);
  auto one = [&](const uChar* sp, uChar* dp) -> MgErr {
    if (!sp) return ResetData(dstElem, dp);
    if (convert) return ConvertWalk(B(srcElem), B(dstElem), sp, dp);
    std::memmove(dp, sp, size_t(des));
    return kNoErr;
  };
  if (rank <= 0) return one(src, dst);
  int32 total = NArrayElts(rank, dstSizes);
  if (total <= 0) return total < 0 ? kArgErr : kNoErr;
  int32 inner = dstSizes[rank - 1];
  int32 outer = total / inner;
  RankBuffer idx(rank);
  if (!idx.ok()) return kMemFullErr;
  int32* ix = idx.get();
  std::memset(ix, 0, size_t(rank) * 4);
  uChar* dp = dst;
  for (int32 o = 0; o < outer; ++o) {
    bool in = src != nullptr;
    intptr_t sp = reinterpret_cast<intptr_t>(src);
    for (int32 k = 0; k < rank - 1 && in; ++k) {
      if (ix[k] >= srcSizes[k])
        in = false;
      else
        sp += intptr_t(ix[k]) * srcStrides[k];
    }
    int32 sInner = in ? srcSizes[rank - 1] : 0;
    for (int32 j = 0; j < inner; ++j, dp += des) {
      const uChar* e = j < sInner ? reinterpret_cast<const uChar*>(sp + intptr_t(j) * srcStrides[rank - 1]) : nullptr;
      if (MgErr err = one(e, dp)) return err;
    }
    for (int32 k = rank - 2; k >= 0; --k) {
      if (++ix[k] < dstSizes[k]) break;
      ix[k] = 0;
    }
  }
  return kNoErr;
}

MgErr CopyConvertArray(const TypeDescriptor* srcTD, const TypeDescriptor* dstTD, UHandle src, UHandle* dst) {
  ArrayShape sa, da;
  if (!dst || !ArrayPair(srcTD, dstTD, &sa, &da)) return kArgErr;
  int32 n = sa.rank;
  bool convert = (TDCompare(sa.elem, da.elem) & ~kTDDiffTypedef) != 0 || !da.flat;
  int32 scount;
  if (!CountElements(src, sa, &scount)) return kArgErr;
  if (!convert && src && src == *dst) return kNoErr;
  RankBuffer buf(3 * n);
  if (!buf.ok()) return kMemFullErr;
  int32* ss = buf.get();
  int32* ns = ss + n;
  int32* strides = ns + n;
  for (int32 k = 0; k < n; ++k) ss[k] = src ? LoadI32(*src + 4 * k) : 0;

  if (!da.AnyVariable()) {
    if (!src) {
      // The empty array: no elements in any dimension.
      if (*dst) std::memset(**dst, 0, size_t(n) * 4);
      return kNoErr;
    }
    int32 dcount;
    if (MgErr err = CheckBoundedDest(da, dst, &dcount)) return err;
    BoundedSizes(da, ss, ns);
    bool sameShape = std::memcmp(ns, ss, size_t(n) * 4) == 0;
    if (!convert && (sameShape || da.AllFixed())) {
      // Same element bytes: one block move.  A fixed destination needs the
      // source's count to be its own.
      if (!sameShape && scount != dcount) return kMemFullErr;
      if (scount > 0) std::memmove(**dst + da.header, *src + sa.header, size_t(scount) * size_t(sa.elemSize));
      std::memcpy(**dst, ns, size_t(n) * 4);
      return kNoErr;
    }
    RowMajorStrides(n, ss, sa.elemSize, strides);
    std::memcpy(**dst, ns, size_t(n) * 4);
    return CopyConvertSubArray(sa.elem, src ? *src + sa.header : nullptr, ss, strides, da.elem, **dst + da.header,
                               ns, n, convert);
  }
  if (!convert) return !src && !*dst ? kNoErr : CopyFlatArray(sa.header, src, dst);
  if (!src) return *dst ? ArrayResize(da.elem, n, dst, nullptr) : kNoErr;
  if (MgErr err = ArrayResize(da.elem, n, dst, &ss)) return err;
  const uChar* sp = *src + sa.header;
  uChar* dp = **dst + da.header;
  for (int32 i = 0; i < scount; ++i)
    if (MgErr err = ConvertWalk(B(sa.elem), B(da.elem), sp + i * sa.elemSize, dp + i * da.elemSize)) return err;
  return kNoErr;
}

MgErr ViewToArray(const TypeDescriptor* viewTD, const TypeDescriptor* arrayTD, const ArrayViewData* view,
                  UHandle* dst) {
  ArrayShape va, da;
  if (!view || !dst || !ArrayPair(viewTD, arrayTD, &va, &da)) return kArgErr;
  int32 n = va.rank;
  RankBuffer buf(3 * n);
  if (!buf.ok()) return kMemFullErr;
  int32* vs = buf.get();
  int32* strides = vs + n;
  int32* ns = strides + n;
  const uChar* words = reinterpret_cast<const uChar*>(view);
  const uChar* ptr = view->ptr;
  for (int32 k = 0; k < n; ++k) {
    vs[k] = LoadI32(words + 4 + 8 * k);
    strides[k] = LoadI32(words + 8 + 8 * k);
    if (vs[k] < 0) return kArgErr;
  }
  int32 vcount = NArrayElts(n, vs);
  if (vcount < 0 || (vcount > 0 && !ptr)) return kArgErr;
  if (!da.AnyVariable()) {
    int32 dcount;
    if (MgErr err = CheckBoundedDest(da, dst, &dcount)) return err;
    BoundedSizes(da, vs, ns);
  } else {
    if (MgErr err = ArrayResize(da.elem, n, dst, &vs)) return err;
    std::memcpy(ns, vs, size_t(n) * 4);
  }
  std::memcpy(**dst, ns, size_t(n) * 4);
  return CopyConvertSubArray(va.elem, vcount > 0 ? ptr : nullptr, vs, strides, da.elem, **dst + da.header, ns, n,
                             1);
}
