// Data of any type: the empty value, release over a data range, memory
// reclaim, reset, deep copies and the copies between the two boolean forms.
#include "datamgr.h"

#include <atomic>
#include <climits>

#include "data_internal.h"
#include "mgsource/numconv.h"

namespace {

using namespace dm;

// ---- Variants -----------------------------------------------------------------

MgErr PlainVariantInit(void* v) {
  std::memset(v, 0, kVariantDataSize);
  return kNoErr;
}
void PlainVariantClear(void* v) { std::memset(v, 0, kVariantDataSize); }
MgErr PlainVariantCopy(const void* src, void* dst) {
  std::memmove(dst, src, kVariantDataSize);
  return kNoErr;
}
const VariantDataProcs kPlainVariant = {PlainVariantInit, PlainVariantClear, PlainVariantCopy};
std::atomic<const VariantDataProcs*> gVariant{&kPlainVariant};

// ---- The empty value ----------------------------------------------------------

// Empties the path in a data slot, or makes an empty one there.
MgErr StoreEmptyPath(uChar* slot) {
  Path p = FEmptyPath(reinterpret_cast<Path>(LoadH(slot)));
  if (!p) return kMemFullErr;
  StoreH(slot, p);
  return kNoErr;
}

MgErr InitEmptyArray(const uChar* t, uChar* d) {
  ArrayShape a;
  if (!GetArrayShape(T(t), &a)) return kArgErr;
  UHandle h = nullptr;
  MgErr err = NewEmptyArray(a, a.elem, &h);
  if (h) StoreH(d, h);
  return err;
}

// ---- Release ------------------------------------------------------------------

int32 ReleaseArray(const uChar* t, uChar* slot, bool dispose) {
  UHandle h = LoadH(slot);
  if (!h) return 0;
  ArrayShape a;
  if (!GetArrayShape(T(t), &a)) return 0;
  int32 released = 0;
  // Elements are disposed also when the array is only emptied.
  if (!a.flat) released += DisposeElements(ElementPlan(a.elem), *h + a.header, LiveElements(h, a));
  int32 size = DSGetHandleSize(h);
  if (size < 0) return released;
  if (dispose) {
    DSDisposeHandle(h);
    StoreH(slot, nullptr);
    return released + size;
  }
  int32 sizesBytes = 4 * a.rank < size ? 4 * a.rank : size;
  if (a.AllFixed()) {
    if (size > a.header) std::memset(*h + a.header, 0, size_t(size - a.header));
  } else if (!a.AnyVariable()) {
    std::memset(*h, 0, size_t(sizesBytes));
  } else {
    if (size > a.header && DSSetHandleSize(h, a.header) == kNoErr) released += size - a.header;
    std::memset(*h, 0, size_t(sizesBytes));
  }
  return released;
}

// Calls walk(element TD, start, end) for each element that holds handles of
// a cluster, or for the element of a union that its selector names, in the
// data at [s, e), each element's range cut at e; adds up what walk returns.
template <typename Walk>
int32 SumInside(const uChar* t, uChar* s, uChar* e, Walk walk) {
  if (t[2] == kTDUnion) {
    const TypeDescriptor* el = UnionElement(t, s, e - s);
    if (!el) return 0;
    int32 size = DataSize(el);
    return walk(el, s, size < e - s ? s + size : e);
  }
  int32 sum = 0;
  ForFields(t, [&](const TypeDescriptor* el, int32 off, int32 size) {
    uChar* es = s + off;
    if (es >= e) return false;
    if (DataShape(el) != 0) sum += walk(el, es, size < e - es ? es + size : e);
    return true;
  });
  return sum;
}

// ---- Memory reclaim -----------------------------------------------------------

int32 Reclaim(const uChar* t, uChar* s, uChar* e);

int32 ReclaimArray(const uChar* t, uChar* slot) {
  UHandle h = LoadH(slot);
  if (!h) return 0;
  ArrayShape a;
  if (!GetArrayShape(T(t), &a)) return 0;
  int32 n = LiveElements(h, a);
  if (a.rank >= 1 && a.Field(0) == kTDVariable) {
    // A variable outer dimension gives its elements and their room back.
    int32 released = a.flat ? 0 : DisposeElements(ElementPlan(a.elem), *h + a.header, n);
    int32 size = DSGetHandleSize(h);
    if (size > a.header && DSSetHandleSize(h, a.header) == kNoErr) released += size - a.header;
    if (size >= 4 * a.rank) std::memset(*h, 0, size_t(4 * a.rank));
    return released;
  }
  int32 released = 0;
  if (!a.flat) {
    for (int32 i = 0; i < n; ++i) {
      uChar* el = *h + a.header + i * a.elemSize;
      released += Reclaim(B(a.elem), el, el + a.elemSize);
    }
  }
  return released;
}

int32 PathStorage(UHandle h) {
  if (AZIsHandle(h)) return AZGetHandleSize(h);
  if (MemIsDSHandle(h)) return DSGetHandleSize(h);
  return -1;
}

int32 Reclaim(const uChar* t, uChar* s, uChar* e) {
  if (s >= e) return 0;
  // Data under a TD marked never to shrink is left whole, typedefs included.
  for (;;) {
    if (t[3] & (kTDFlagNoShrink10 | kTDFlagNoShrink20)) return 0;
    if (t[2] != kTDTypedef) break;
    t += td::TypedefInner(t);
  }
  ptrdiff_t avail = e - s;
  switch (t[2]) {
    case kTDString:
    case kTDString33:
    case kTDString37: {
      if (avail < 4 || LoadI32(t + 4) != kTDVariable) return 0;
      LStrHandle h = reinterpret_cast<LStrHandle>(LoadH(s));
      if (!h) return 0;
      int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(h));
      if (size <= 4 || DSSetHandleSize(reinterpret_cast<UHandle>(h), 4) != kNoErr) return 0;
      (*h)->cnt = 0;
      return size - 4;
    }
    case kTDHandle: {
      if (avail < 4) return 0;
      UHandle h = LoadH(s);
      if (h && AZGetHandleSize(h) > 0) AZSetHandleSize(h, 0);
      return 0;
    }
    case kTDPath: {
      if (avail < 4) return 0;
      UHandle h = LoadH(s);
      if (h && PathStorage(h) > 4) FEmptyPath(reinterpret_cast<Path>(h));
      return 0;
    }
    case kTDArray:
      return avail < 4 ? 0 : ReclaimArray(t, s);
    case kTDCluster:
    case kTDUnion:
      return SumInside(t, s, e, [](const TypeDescriptor* el, uChar* a, uChar* b) { return Reclaim(B(el), a, b); });
    default:
      return 0;
  }
}

// ---- Reset --------------------------------------------------------------------

MgErr ResetWalk(const uChar* t, uChar* d);

MgErr ResetArray(const uChar* t, uChar* slot) {
  ArrayShape a;
  if (!GetArrayShape(T(t), &a)) return kArgErr;
  int32 fixed = ArrayTDFixedElts(T(t));
  if (fixed == 0) {
    Release(T(t), slot, slot + 4, false);
    return kNoErr;
  }
  UHandle h = LoadH(slot);
  if (!h) return InitEmptyArray(t, slot);  // a null handle is the empty array too
  if (DSGetHandleSize(h) < 4 * a.rank) {
    DATA_ASSERT("array handle smaller than its header");
    return kArgErr;
  }
  for (int32 k = 0; k < a.rank; ++k) StoreI32(*h + 4 * k, a.Field(k) & 0x7FFFFFFF);
  int32 n = LiveElements(h, a);
  if (a.flat) {
    if (n > 0) std::memset(*h + a.header, 0, size_t(n) * size_t(a.elemSize));
    return kNoErr;
  }
  MgErr first = kNoErr;
  for (int32 i = 0; i < n; ++i) {
    MgErr err = ResetWalk(B(a.elem), *h + a.header + i * a.elemSize);
    if (!first) first = err;
  }
  return first;
}

MgErr ResetWalk(const uChar* t, uChar* d) {
  t = B(SkipTypedefs(T(t)));
  switch (t[2]) {
    case kTDString:
    case kTDString33:
    case kTDString37: {
      LStrHandle h = reinterpret_cast<LStrHandle>(LoadH(d));
      int32 bound = LoadI32(t + 4);
      // A null bounded or fixed string is already the empty string.
      if (!h && bound != kTDVariable) return kNoErr;
      MgErr err = bound == kTDVariable ? CopyString(nullptr, &h) : CopyBndFixString(nullptr, &h, bound);
      StoreH(d, h);
      return err;
    }
    case kTDHandle: {
      UHandle h = LoadH(d);
      return h ? AZSetHandleSize(h, 0) : kNoErr;
    }
    case kTDPath:
      return StoreEmptyPath(d);
    case kTDArray:
      return ResetArray(t, d);
    case kTDCluster: {
      MgErr first = kNoErr;
      ForFields(t, [&](const TypeDescriptor* el, int32 off, int32) {
        MgErr err = ResetWalk(B(el), d + off);
        if (!first) first = err;
        return true;
      });
      return first;
    }
    case kTDUnion: {
      int32 n = LoadI16(t + 4);
      int32 sel = LoadI16(d);
      if (sel < 0 || sel >= n) return kArgErr;
      // Another element makes way for element 0's empty value.
      if (sel != 0) return SwitchUnionElement(T(t), d, 0);
      return ResetWalk(t + 6, d);
    }
    case kTDVariant:
      if (LoadI16(t + 4) != kVariantOle) {
        DATA_ASSERT("variant of an unknown kind");
        return kNoErr;
      }
      gVariant.load(std::memory_order_acquire)->clear(d);
      return kNoErr;
    case kTDFunction:
      DATA_ASSERT("reset of a function TD");
      return kNoErr;
    default:
      std::memset(d, 0, size_t(DataSize(T(t))));
      return kNoErr;
  }
}

// ---- Strings, paths and handles -----------------------------------------------

// n bytes into the string at *dst, made or resized when its count differs.
MgErr BytesToString(const uChar* p, int32 n, LStrHandle* dst) {
  if (n > INT32_MAX - 4) return kMemFullErr;
  LStrHandle d = *dst;
  if (!d) {
    d = reinterpret_cast<LStrHandle>(DSNewHandle(n + 4));
    if (!d) return kMemFullErr;
    *dst = d;
  } else if ((*d)->cnt != n) {
    if (MgErr err = DSSetHandleSize(reinterpret_cast<UHandle>(d), n + 4)) return err;
  }
  (*d)->cnt = n;
  if (n > 0) std::memmove((*d)->str, p, size_t(n));
  return kNoErr;
}

// Up to the bound's bytes into a bounded or fixed string, whose handle must
// hold exactly 4 + bound bytes (else wrongSize, nothing changed).
MgErr BytesToBounded(const uChar* p, int32 n, LStrHandle* dst, int32 bound, MgErr wrongSize) {
  int32 cap = bound & 0x7FFFFFFF;
  LStrHandle d = *dst;
  if (!d) {
    if (cap != 0) return wrongSize;
    d = NewEmptyString(bound);
    if (!d) return kMemFullErr;
    *dst = d;
  } else if (int64(DSGetHandleSize(reinterpret_cast<UHandle>(d))) != int64(cap) + 4) {
    return wrongSize;
  }
  int32 m = n < cap ? n : cap;
  if (m > 0) std::memmove((*d)->str, p, size_t(m));
  SetBoundedCount(d, bound, m);
  return kNoErr;
}

// The count of a source string; false (reported) for a negative one.
bool SourceCount(LStrHandle s, int32* n) {
  *n = s ? (*s)->cnt : 0;
  if (*n < 0) {
    DATA_ASSERT("string of negative count");
    return false;
  }
  return true;
}

// A valid string view: its count not negative, its bytes present.
bool ViewValid(const StringViewData* v) {
  if (v->one != 1) DATA_ASSERT("string view whose third word is not 1");
  return v->count >= 0 && (v->count == 0 || v->ptr);
}

// ---- Boolean forms ------------------------------------------------------------

const uChar kOldBooleanTD[4] = {4, 0, kTDBooleanOld, 0};
const uChar kBooleanTD[4] = {4, 0, kTDBoolean, 0};

// A copy of a TD with its booleans in the other form (0x21 to 0x20 when it
// holds any 0x21, else 0x20 to 0x21).  td() is the TD itself when it holds
// no booleans.
class OtherBooleans {
 public:
  OtherBooleans(const TypeDescriptor* t, bool wanted) : td_(t) {
    if (!wanted) return;
    int32 len = GetNative16(B(t));
    if (len == kTDSizeInHolder || len < 4) return;
    uChar* p = len <= int32(sizeof local_) ? local_ : (heap_ = DSNewPtr(len));
    if (!p) {
      ok_ = false;
      return;
    }
    std::memcpy(p, t, size_t(len));
    TypeDescriptor* c = reinterpret_cast<TypeDescriptor*>(p);
    if (SetBooleanTDCode(c, TDHasBoolean(t) ? kTDBooleanOld : kTDBoolean)) td_ = c;
  }
  ~OtherBooleans() {
    if (heap_) DSDisposePtr(heap_);
  }
  OtherBooleans(const OtherBooleans&) = delete;
  OtherBooleans& operator=(const OtherBooleans&) = delete;
  const TypeDescriptor* td() const { return td_; }
  bool changed(const TypeDescriptor* t) const { return td_ != t; }
  bool ok() const { return ok_; }

 private:
  const TypeDescriptor* td_;
  uChar local_[256];
  UPtr heap_ = nullptr;
  bool ok_ = true;
};

bool IsBooleanCode(uChar c) { return c == kTDBoolean || c == kTDBooleanOld; }

// ---- Deep copy ----------------------------------------------------------------

MgErr CopyWalk(const uChar* t, const uChar* s, uChar* d, int32 flags);

MgErr CopyCluster(const uChar* t, const uChar* s, uChar* d, int32 flags) {
  const TypeDescriptor* td = T(t);
  if (flags & kCopyOtherBooleans) {
    OtherBooleans other(td, true);
    if (!other.ok()) return kMemFullErr;
    if (other.changed(td)) {
      // The TD gives the source offsets, its copy the destination offsets.
      int32 n = LoadI16(t + 4);
      const uChar* se = t + 6;
      const uChar* de = B(other.td()) + 6;
      int32 so = 0, dof = 0;
      for (int32 i = 0; i < n; ++i) {
        so = AlignDatum(T(se), so);
        dof = AlignDatum(T(de), dof);
        if (MgErr err = CopyWalk(se, s + so, d + dof, flags)) return err;
        so += DataSize(T(se));
        dof += DataSize(T(de));
        se += GetNative16(se);
        de += GetNative16(de);
      }
      return kNoErr;
    }
  }
  if (DataShape(td) == 0) {
    std::memmove(d, s, size_t(DataSize(td)));
    return kNoErr;
  }
  MgErr err = kNoErr;
  ForFields(t, [&](const TypeDescriptor* el, int32 off, int32 size) {
    if (DataShape(el) == 0)
      std::memmove(d + off, s + off, size_t(size));
    else
      err = CopyWalk(B(el), s + off, d + off, flags);
    return err == kNoErr;
  });
  return err;
}

MgErr CopyWalk(const uChar* t, const uChar* s, uChar* d, int32 flags) {
  t = B(SkipTypedefs(T(t)));
  uChar c = t[2];
  switch (c) {
    case kTDVoid:
    case kTDTypeOnly:
      return kNoErr;
    case kTDBooleanOld:
      d[0] = (GetNative16(s) & 0x8000) ? 1 : 0;
      return kNoErr;
    case kTDBoolean:
      if (flags & kCopyOtherBooleans)
        PutNative16(d, s[0] ? 0x8000 : 0);
      else
        d[0] = s[0];
      return kNoErr;
    case kTDString:
    case kTDString33:
    case kTDString37:
      return CopyStringToSlot(reinterpret_cast<LStrHandle>(LoadH(s)), d, LoadI32(t + 4));
    case kTDHandle: {
      UHandle h = LoadH(d);
      MgErr err = CopyHandle(LoadH(s), &h);
      StoreH(d, h);
      return err;
    }
    case kTDPath: {
      Path p = reinterpret_cast<Path>(LoadH(d));
      MgErr err = CopyPath(reinterpret_cast<Path>(LoadH(s)), &p);
      StoreH(d, p);
      return err;
    }
    case kTDStringView:
    case kTDArrayView:
    case kTDBlock:
    case kTDWrapper:
      std::memmove(d, s, size_t(DataSize(T(t))));
      return kNoErr;
    case kTDOpaque34:
    case kTDOpaque35:
    case kTDOpaque36:
    case kTDRefnum:
    case kTDInternal80:
    case kTDInternal81:
    case kTDTypedRef:
      std::memmove(d, s, 4);
      return kNoErr;
    case kTDArray: {
      UHandle h = LoadH(d);
      const uChar* el = B(SkipTypedefs(T(t + 6 + 4 * LoadI16(t + 4))));
      MgErr err = (flags & kCopyOtherBooleans) && IsBooleanCode(el[2])
                      ? CopyBooleanArray(T(t), LoadH(s), &h)
                      : CopyArrayWalk(T(t), LoadH(s), &h, flags);
      StoreH(d, h);
      return err;
    }
    case kTDCluster:
      return CopyCluster(t, s, d, flags);
    case kTDUnion: {
      int32 n = LoadI16(t + 4);
      int32 sel = LoadI16(s);
      if (sel < 0 || sel >= n) return kNoErr;
      if (MgErr err = SwitchUnionElement(T(t), d, sel)) return err;
      return CopyWalk(B(ElemTD(T(t), sel)), s, d, flags);
    }
    case kTDVariant:
      if (LoadI16(t + 4) != kVariantOle) {
        DATA_ASSERT("variant of an unknown kind");
        return kNoErr;
      }
      return gVariant.load(std::memory_order_acquire)->copy(s, d);
    case kTDFunction:
      DATA_ASSERT("copy of a function TD");
      return kNoErr;
    default:
      if (!IsNumericCode(c)) DATA_ASSERT("copy of an unexpected TD code");
      std::memmove(d, s, size_t(NumSize(c & 15)));
      return kNoErr;
  }
}

}  // namespace

// ---- dm helpers used by the other data files ----------------------------------

int32 dm::Release(const TypeDescriptor* td, uChar* s, uChar* e, bool dispose) {
  if (s >= e) return 0;
  const uChar* t = B(SkipTypedefs(td));
  ptrdiff_t avail = e - s;
  switch (t[2]) {
    case kTDString:
    case kTDString33:
    case kTDString37: {
      if (avail < 4) return 0;
      LStrHandle h = reinterpret_cast<LStrHandle>(LoadH(s));
      if (!h) return 0;
      UHandle u = reinterpret_cast<UHandle>(h);
      int32 size = DSGetHandleSize(u);
      if (dispose) {
        DSDisposeHandle(u);
        StoreH(s, nullptr);
        return size > 0 ? size : 0;
      }
      int32 bound = LoadI32(t + 4);
      if (bound == kTDVariable) {
        int32 released = 0;
        if (size > 4 && DSSetHandleSize(u, 4) == kNoErr) released = size - 4;
        if (size >= 4) (*h)->cnt = 0;
        return released;
      }
      if (bound >= 0 && size >= 4) (*h)->cnt = 0;
      return 0;
    }
    case kTDHandle: {
      if (avail < 4) return 0;
      UHandle h = LoadH(s);
      if (!h) return 0;
      if (dispose) {
        AZDisposeHandle(h);
        StoreH(s, nullptr);
      } else {
        AZSetHandleSize(h, 0);
      }
      return 0;
    }
    case kTDPath: {
      if (avail < 4) return 0;
      Path p = reinterpret_cast<Path>(LoadH(s));
      if (!p) return 0;
      if (dispose) {
        FDisposePath(p);
        StoreH(s, nullptr);
      } else {
        FEmptyPath(p);
      }
      return 0;
    }
    case kTDArray:
      return avail < 4 ? 0 : ReleaseArray(t, s, dispose);
    case kTDVariant:
      if (avail >= kVariantDataSize && LoadI16(t + 4) == kVariantOle)
        gVariant.load(std::memory_order_acquire)->clear(s);
      return 0;
    case kTDCluster:
    case kTDUnion:
      return SumInside(t, s, e, [dispose](const TypeDescriptor* el, uChar* a, uChar* b) {
        return Release(el, a, b, dispose);
      });
    case kTDFunction:
      DATA_ASSERT("release of a function TD");
      return 0;
    default:
      return 0;
  }
}

MgErr dm::FillEmpty(const TypeDescriptor* td, uChar* d) {
  const uChar* t = B(SkipTypedefs(td));
  switch (t[2]) {
    case kTDString:
    case kTDString33:
    case kTDString37: {
      LStrHandle h = NewEmptyString(LoadI32(t + 4));
      if (!h) return kMemFullErr;
      StoreH(d, h);
      return kNoErr;
    }
    case kTDHandle: {
      UHandle h = AZNewHClr(0);
      if (!h) return kMemFullErr;
      StoreH(d, h);
      return kNoErr;
    }
    case kTDPath:
      return StoreEmptyPath(d);
    case kTDArray:
      return InitEmptyArray(t, d);
    case kTDCluster: {
      MgErr err = kNoErr;
      ForFields(t, [&](const TypeDescriptor* el, int32 off, int32) {
        if (DataShape(el) != 0) err = FillEmpty(el, d + off);
        return err == kNoErr;
      });
      return err;
    }
    case kTDUnion:
      return LoadI16(t + 4) < 1 ? kNoErr : FillEmpty(T(t + 6), d);
    case kTDVariant:
      if (LoadI16(t + 4) != kVariantOle) {
        DATA_ASSERT("variant of an unknown kind");
        return kNoErr;
      }
      return gVariant.load(std::memory_order_acquire)->init(d);
    case kTDFunction:
      DATA_ASSERT("empty value of a function TD");
      return kNoErr;
    default:
      return kNoErr;
  }
}

LStrHandle dm::NewEmptyString(int32 field) {
  // A fixed bound comes from a stored type; a string, like any array, stays
  // within the array limit rather than asking for gigabytes it cannot use.
  int64 bytes = 4 + (field == kTDVariable ? 0 : int64(field & 0x7FFFFFFF));
  if (bytes > kMaxArrayBytes) return nullptr;
  return reinterpret_cast<LStrHandle>(DSNewHClr(int32(bytes)));
}

void dm::SetBoundedCount(LStrHandle h, int32 field, int32 m) {
  if (TDFieldIsFixed(field)) {
    int32 cap = field & 0x7FFFFFFF;
    if (cap > m) std::memset((*h)->str + m, 0, size_t(cap - m));
    (*h)->cnt = cap;
  } else {
    (*h)->cnt = m;
  }
}

MgErr dm::CopyStringToSlot(LStrHandle src, uChar* slot, int32 field) {
  LStrHandle h = reinterpret_cast<LStrHandle>(LoadH(slot));
  if (field == kTDVariable) {
    MgErr err = CopyString(src, &h);
    StoreH(slot, h);
    return err;
  }
  if (!src) {
    // The empty string: a null slot stays null, and a fixed string shows no
    // bytes, as its empty value does, so that the copy flattens as its source.
    if (!h) return kNoErr;
    MgErr err = CopyBndFixString(nullptr, &h, field);
    if (!err) (*h)->cnt = 0;
    return err;
  }
  if (!h) {
    // A null bounded or fixed string gets its room made first.
    h = NewEmptyString(field);
    if (!h) return kMemFullErr;
    StoreH(slot, h);
  }
  return CopyBndFixString(src, &h, field);
}

bool dm::LeadsWithSelector(const TypeDescriptor* e) {
  const uChar* t = B(SkipTypedefs(e));
  switch (t[2]) {
    case kTDI16: case kTDU16: case kTDEnumU16:
      return true;
    case kTDCluster:
      return LoadI16(t + 4) > 0 && LeadsWithSelector(ElemTD(T(t), 0));
    default:
      return false;
  }
}

MgErr dm::SwitchUnionElement(const TypeDescriptor* unionTD, uChar* d, int32 sel) {
  const TypeDescriptor* u = SkipTypedefs(unionTD);
  if (LoadI16(d) == sel) return kNoErr;
  int32 size = DataSize(u);
  if (DataShape(u) != 0) Release(u, d, d + size, true);
  std::memset(d, 0, size_t(size));
  const TypeDescriptor* el = ElemTD(u, sel);
  if (MgErr err = FillEmpty(el, d)) {
    Release(el, d, d + DataSize(el), true);
    std::memset(d, 0, size_t(size));
    return err;
  }
  // The new element's empty value names it.
  if (LeadsWithSelector(el)) PutNative16(d, uInt16(sel));
  return kNoErr;
}

MgErr dm::NewEmptyArray(const ArrayShape& a, const TypeDescriptor* elem, UHandle* out) {
  int32 bound = ArrayTDBoundElts(T(a.td));
  if (bound == INT32_MIN) return kMemFullErr;  // the bound count overflows
  int32 count = bound == -1 ? 0 : (bound & 0x7FFFFFFF);
  int32 es = DataSize(elem);
  int32 header = AlignDatum(elem, 4 * a.rank);
  if (es > 0 && count >= kMaxArrayBytes / es) return kMemFullErr;
  UHandle h = DSNewHClr(header + count * es);
  if (!h) return kMemFullErr;
  *out = h;
  for (int32 k = 0; k < a.rank; ++k) {
    int32 f = a.Field(k);
    StoreI32(*h + 4 * k, TDFieldIsFixed(f) ? (f & 0x7FFFFFFF) : 0);
  }
  if (DataShape(elem) == 0) return kNoErr;
  for (int32 i = 0; i < count; ++i)
    if (MgErr err = FillEmpty(elem, *h + header + i * es)) return err;
  return kNoErr;
}

dm::ElementPlan::ElementPlan(const TypeDescriptor* e) : elem(e), size(DataSize(e)) {
  const uChar* t = B(SkipTypedefs(e));
  if (t[2] == kTDCluster && DataShape(e) != 0)
    ForFields(t, [&](const TypeDescriptor* el, int32 off, int32 sz) {
      Add(el, off, sz);
      return usable;
    });
  else
    Add(e, 0, size);
}

void dm::ElementPlan::Add(const TypeDescriptor* td, int32 off, int32 sz) {
  Kind kind = kWalk;
  if (DataShape(td) == 0) {
    kind = kBytes;
    if (sz == 0) return;
    if (count > 0 && parts[count - 1].kind == kBytes && parts[count - 1].off + parts[count - 1].size == off) {
      parts[count - 1].size += sz;
      return;
    }
  } else {
    const uChar* t = B(SkipTypedefs(td));
    if (IsStringCode(t[2]) && LoadI32(t + 4) == kTDVariable) kind = kString;
  }
  if (count == kMaxParts) {
    usable = false;
    return;
  }
  parts[count++] = {off, sz, td, kind};
}

MgErr dm::CopyElements(const ElementPlan& plan, const uChar* src, uChar* dst, int32 n) {
  int32 es = plan.size;
  if (!plan.usable) {
    for (int32 i = 0; i < n; ++i)
      if (MgErr err = CopyWalk(B(plan.elem), src + i * es, dst + i * es, 0)) return err;
    return kNoErr;
  }
  for (int32 i = 0; i < n; ++i, src += es, dst += es) {
    for (int32 k = 0; k < plan.count; ++k) {
      const ElementPlan::Part& p = plan.parts[k];
      if (p.kind == ElementPlan::kBytes) {
        std::memmove(dst + p.off, src + p.off, size_t(p.size));
      } else if (p.kind == ElementPlan::kString) {
        LStrHandle h = reinterpret_cast<LStrHandle>(LoadH(dst + p.off));
        MgErr err = CopyString(reinterpret_cast<LStrHandle>(LoadH(src + p.off)), &h);
        StoreH(dst + p.off, h);
        if (err) return err;
      } else if (MgErr err = CopyWalk(B(p.td), src + p.off, dst + p.off, 0)) {
        return err;
      }
    }
  }
  return kNoErr;
}

int32 dm::DisposeElements(const ElementPlan& plan, uChar* base, int32 n) {
  int32 es = plan.size;
  int32 released = 0;
  if (!plan.usable) {
    for (int32 i = 0; i < n; ++i) released += Release(plan.elem, base + i * es, base + (i + 1) * es, true);
    return released;
  }
  for (int32 i = 0; i < n; ++i, base += es) {
    for (int32 k = 0; k < plan.count; ++k) {
      const ElementPlan::Part& p = plan.parts[k];
      if (p.kind == ElementPlan::kString) {
        UHandle h = LoadH(base + p.off);
        if (!h) continue;
        int32 size = DSGetHandleSize(h);
        DSDisposeHandle(h);
        StoreH(base + p.off, nullptr);
        if (size > 0) released += size;
      } else if (p.kind == ElementPlan::kWalk) {
        released += Release(p.td, base + p.off, base + p.off + p.size, true);
      }
    }
  }
  return released;
}

// ---- Exported operations ------------------------------------------------------

void SetVariantDataProcs(const VariantDataProcs* procs) {
  gVariant.store(procs ? procs : &kPlainVariant, std::memory_order_release);
}

const VariantDataProcs* VariantDataProcsInUse() {
  const VariantDataProcs* p = gVariant.load(std::memory_order_acquire);
  return p == &kPlainVariant ? nullptr : p;
}

MgErr InitEmptyData(const TypeDescriptor* td, void* data) {
  if (!td || !data) {
    DATA_ASSERT("empty value without TD or address");
    return kArgErr;
  }
  if (SkipTypedefs(td)->code == kTDFunction) {
    DATA_ASSERT("empty value of a function TD");
    return kNoErr;
  }
  uChar* d = static_cast<uChar*>(data);
  std::memset(d, 0, size_t(DataSize(td)));
  return FillEmpty(td, d);
}

MgErr InflateDefData_Old(UHandle tdHandle, int32 tdOffset, void* data) {
  if (!tdHandle || !*tdHandle) {
    DATA_ASSERT("null TD handle");
    return kArgErr;
  }
  return InitEmptyData(T(*tdHandle + tdOffset), data);
}

int32 ReleaseDataWalk(const TypeDescriptor* td, void* start, void* end, Bool32 dispose) {
  if (!td) {
    DATA_ASSERT("release without TD");
    return 0;
  }
  if (!start || !end) return 0;
  return Release(td, static_cast<uChar*>(start), static_cast<uChar*>(end), dispose != 0);
}

int32 DisposeData(const TypeDescriptor* td, void* start, void* end) { return ReleaseDataWalk(td, start, end, 1); }
int32 EmptyData(const TypeDescriptor* td, void* start, void* end) { return ReleaseDataWalk(td, start, end, 0); }

int32 DeflateData_Old(UHandle tdHandle, int32 offset, void* start, void* end) {
  if (!tdHandle || !*tdHandle) {
    DATA_ASSERT("null TD handle");
    return 0;
  }
  return DisposeData(T(*tdHandle + offset), start, end);
}

int32 DeflateSubData_Old(UHandle tdHandle, int32 offset, void* start, void* end) {
  if (!tdHandle || !*tdHandle) {
    DATA_ASSERT("null TD handle");
    return 0;
  }
  return EmptyData(T(*tdHandle + offset), start, end);
}

int32 ReclaimDataMemory(const TypeDescriptor* td, void* start, void* end) {
  if (!td) {
    DATA_ASSERT("reclaim without TD");
    return 0;
  }
  if (!start || !end) return 0;
  return Reclaim(B(td), static_cast<uChar*>(start), static_cast<uChar*>(end));
}

MgErr ResetData(const TypeDescriptor* td, void* data) {
  if (!td || !data) {
    DATA_ASSERT("reset without TD or address");
    return kArgErr;
  }
  return ResetWalk(B(td), static_cast<uChar*>(data));
}

MgErr CopyData(const TypeDescriptor* td, const void* src, void* dst) { return CopyDataWalk(td, src, dst, 0); }

MgErr CopyData2HO(UHandle tdHandle, int32 tdOffset, const void* src, void* dst, int32 flags) {
  if (!tdHandle || !*tdHandle) {
    DATA_ASSERT("null TD handle");
    return kArgErr;
  }
  return CopyDataWalk(T(*tdHandle + tdOffset), src, dst, flags);
}

MgErr CopyDataWalk(const TypeDescriptor* td, const void* src, void* dst, int32 flags) {
  if (!td || !src || !dst) {
    DATA_ASSERT("copy without TD, source or destination");
    return kArgErr;
  }
  return CopyWalk(B(td), static_cast<const uChar*>(src), static_cast<uChar*>(dst), flags);
}

MgErr CopyString(LStrHandle src, LStrHandle* dst) {
  int32 n;
  if (!dst || !SourceCount(src, &n)) return kArgErr;
  return BytesToString(src ? (*src)->str : nullptr, n, dst);
}

MgErr CopyBndFixString(LStrHandle src, LStrHandle* dst, int32 bound) {
  int32 n;
  if (!dst || !SourceCount(src, &n)) return kArgErr;
  return BytesToBounded(src ? (*src)->str : nullptr, n, dst, bound, kArgErr);
}

MgErr CopySString(const StringViewData* view, LStrHandle* dst) {
  if (!view || !dst || !ViewValid(view)) return kArgErr;
  return BytesToString(view->ptr, view->count, dst);
}

MgErr CopyViewToBndString(const StringViewData* view, LStrHandle* dst, int32 bound) {
  if (!view || !dst || !ViewValid(view)) return kArgErr;
  return BytesToBounded(view->ptr, view->count, dst, bound, kMemFullErr);
}

MgErr CopyPath(Path src, Path* dst) {
  if (!dst) return kArgErr;
  if (!src) {
    // A null path is the empty value: its copy is null too, so that a copy
    // flattens as its source does.
    if (*dst) FDisposePath(*dst);
    *dst = nullptr;
    return kNoErr;
  }
  if (*dst) return FPathCpy(*dst, src);
  Path p = src;
  if (MgErr err = FPathToPath(&p)) return err;
  *dst = p;
  return kNoErr;
}

MgErr CopyHandle(UHandle src, UHandle* dst) {
  if (!dst) return kArgErr;
  int32 n = src ? AZGetHandleSize(src) : 0;
  if (n < 0) return kArgErr;
  if (src && src == *dst) return kNoErr;
  if (!*dst) {
    UHandle h = AZNewHandle(n);
    if (!h) return kMemFullErr;
    *dst = h;
  } else if (MgErr err = AZSetHandleSize(*dst, n)) {
    return err;
  }
  if (n > 0) std::memcpy(**dst, *src, size_t(n));
  return kNoErr;
}

MgErr CopyFlatArray(int32 headerSize, UHandle src, UHandle* dst) {
  if (!dst || headerSize < 0) return kArgErr;
  if (!src) {
    if (!*dst) {
      UHandle h = DSNewHClr(headerSize);
      if (!h) return kMemFullErr;
      *dst = h;
      return kNoErr;
    }
    if (MgErr err = DSSetHandleSize(*dst, headerSize)) return err;
    std::memset(**dst, 0, size_t(headerSize));
    return kNoErr;
  }
  if (src == *dst) return kNoErr;
  int32 n = DSGetHandleSize(src);
  if (n < 0) return kArgErr;
  if (!*dst) {
    UHandle h = src;
    if (MgErr err = DSHandToHand(&h)) return err;
    *dst = h;
    return kNoErr;
  }
  if (MgErr err = DSSetHandleSize(*dst, n)) return err;
  std::memcpy(**dst, *src, size_t(n));
  return kNoErr;
}

MgErr CopyArray(const TypeDescriptor* arrayTD, UHandle src, UHandle* dst) {
  return CopyArrayWalk(arrayTD, src, dst, 0);
}

MgErr CopyArrayWalk(const TypeDescriptor* arrayTD, UHandle src, UHandle* dst, int32 flags) {
  ArrayShape a;
  if (!dst || !GetArrayShape(arrayTD, &a)) return kArgErr;
  const TypeDescriptor* t = T(a.td);
  const uChar* el = B(SkipTypedefs(a.elem));
  if ((flags & kCopyOtherBooleans) && IsBooleanCode(el[2])) return CopyBooleanArray(t, src, dst);

  // The destination's element layout: with the boolean flag, the other form.
  OtherBooleans other(a.elem, flags & kCopyOtherBooleans);
  if (!other.ok()) return kMemFullErr;
  bool adjusted = other.changed(a.elem);
  const TypeDescriptor* de = adjusted ? other.td() : a.elem;
  int32 dh = adjusted ? AlignDatum(de, 4 * a.rank) : a.header;
  int32 ds = adjusted ? DataSize(de) : a.elemSize;
  int32 es = a.elemSize;
  if (src && src == *dst && !adjusted) return kNoErr;

  int32 bound = ArrayTDBoundElts(t);
  if (bound != -1) {
    // Fixed and bounded arrays hold exactly the type's element count.
    if (bound == INT32_MIN) return kMemFullErr;
    int32 count = bound & 0x7FFFFFFF;
    if (!src) {
      // The empty array: no elements in any dimension.
      if (*dst) std::memset(**dst, 0, size_t(4 * a.rank));
      return kNoErr;
    }
    int32 scap = Capacity(src, a.header, es);
    if (scap >= 0 && scap != count) return kMemFullErr;
    if (!*dst) {
      // A null destination is the empty array: its room is made first.
      if (MgErr err = NewEmptyArray(a, de, dst)) return err;
    }
    int32 dcap = Capacity(*dst, dh, ds);
    if (dcap >= 0 && dcap != count) return kMemFullErr;
    if (a.flat && !adjusted) {
      std::memmove(**dst, *src, size_t(a.header) + size_t(count) * size_t(es));
      return kNoErr;
    }
    std::memmove(**dst, *src, size_t(4 * a.rank));
    if (!adjusted) return CopyElements(ElementPlan(a.elem), *src + a.header, **dst + dh, count);
    for (int32 i = 0; i < count; ++i)
      if (MgErr err = CopyWalk(B(a.elem), *src + a.header + i * es, **dst + dh + i * ds, flags)) return err;
    return kNoErr;
  }
  if (a.flat && !adjusted) return CopyFlatArray(a.header, src, dst);
  if (!src && !*dst) return kNoErr;
  int32 count = 0;
  if (!CountElements(src, a, &count)) return kArgErr;
  if (MgErr err = ArrayResize(de, a.rank, dst, reinterpret_cast<int32**>(src))) return err;
  if (!src) return kNoErr;
  const uChar* sp = *src + a.header;
  uChar* dp = **dst + dh;
  if (!adjusted) return CopyElements(ElementPlan(a.elem), sp, dp, count);
  for (int32 i = 0; i < count; ++i)
    if (MgErr err = CopyWalk(B(a.elem), sp + i * es, dp + i * ds, flags)) return err;
  return kNoErr;
}

MgErr CopyBooleanArray(const TypeDescriptor* arrayTD, UHandle src, UHandle* dst) {
  ArrayShape a;
  if (!dst || !GetArrayShape(arrayTD, &a)) return kArgErr;
  uChar code = SkipTypedefs(a.elem)->code;
  if (!IsBooleanCode(code)) {
    DATA_ASSERT("boolean array copy of other elements");
    return kArgErr;
  }
  bool toPacked = code == kTDBoolean;
  int32 n = a.rank;
  const TypeDescriptor* de = T(toPacked ? kOldBooleanTD : kBooleanTD);
  int32 dh = AlignDatum(de, 4 * n);
  if (!src) {
    if (!*dst) return kNoErr;
    if (MgErr err = DSSetHandleSize(*dst, dh)) return err;
    std::memset(**dst, 0, size_t(dh));
    return kNoErr;
  }
  int32 size = DSGetHandleSize(src);
  if (size < a.header || size < 4 * n) {
    DATA_ASSERT("array handle smaller than its header");
    return kArgErr;
  }
  const int32* sizes = reinterpret_cast<const int32*>(*src);
  int32 rows = NArrayElts(n > 0 ? n - 1 : 0, sizes);
  int32 last = n > 0 ? sizes[n - 1] : 1;
  int32 count = NArrayElts(n, sizes);
  if (rows < 0 || last < 0 || count < 0) {
    DATA_ASSERT("array sizes negative or too large");
    return kArgErr;
  }
  int32 perRow = int32((int64(last) + 15) >> 4);
  int64 words = int64(rows) * perRow;
  int64 bytes;
  if (toPacked) {
    if (words >= 0x20000000) return kMemFullErr;
    if (int64(size - a.header) < count) return kArgErr;
    bytes = words * 2;
  } else {
    if (count >= kMaxArrayBytes) return kMemFullErr;
    if (int64(size - a.header) < words * 2) return kArgErr;
    bytes = count;
  }
  int32 total = dh + int32(bytes);
  if (!*dst) {
    UHandle h = DSNewHClr(total);
    if (!h) return kMemFullErr;
    *dst = h;
  } else if (MgErr err = DSSetHSzClr(*dst, total)) {
    return err;
  }
  uChar* dp = **dst + dh;
  const uChar* sp = *src + a.header;
  std::memset(dp, 0, size_t(bytes));
  for (int32 r = 0; r < rows; ++r) {
    if (toPacked) {
      const uChar* row = sp + int64(r) * last;
      uChar* wrow = dp + int64(r) * perRow * 2;
      for (int32 j = 0; j < last; ++j) {
        if (!row[j]) continue;
        uChar* w = wrow + (j >> 4) * 2;
        PutNative16(w, uInt16(GetNative16(w) | (0x8000u >> (j & 15))));
      }
    } else {
      const uChar* wrow = sp + int64(r) * perRow * 2;
      uChar* row = dp + int64(r) * last;
      for (int32 j = 0; j < last; ++j) row[j] = (GetNative16(wrow + (j >> 4) * 2) >> (15 - (j & 15))) & 1;
    }
  }
  std::memcpy(**dst, *src, size_t(4 * n));
  return kNoErr;
}
