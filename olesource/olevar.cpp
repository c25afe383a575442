// The variant data type and the conversions between typed data and variants.
//
// Typed data to a variant goes through the data's natural variant (numbers
// as their base type, strings and paths as wide strings, arrays as safe
// arrays whose first dimension is the array's last, clusters as arrays of
// variants, automation refnums as their dispatch interface), which is then
// changed to the type asked for.  A variant into typed data is changed to
// the data's natural type and stored; arrays and clusters element by
// element.  A conversion that fails leaves the data holding its empty value.
#include "olesource/olevar.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "engine/exec/callchain.h"
#include "engine/vi/dataspace.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/path.h"
#include "olesource/oleautomgr.h"

namespace {

const uChar* Bytes(const TypeDescriptor* td) { return reinterpret_cast<const uChar*>(td); }
int32 I16At(const TypeDescriptor* td, int32 off) { return int16(GetNative16(Bytes(td) + off)); }

// The code of a descriptor with the unit and enumeration bit of the
// numeric codes cleared.
uChar BaseCode(const TypeDescriptor* td) {
  uChar c = td->code;
  if (c >= 0x01 && c <= 0x1E) c = uChar(c & ~0x10);
  return c;
}
bool IsNumericCode(uChar c) { return c >= 0x01 && c <= 0x0E; }
bool IsAutoRefnum(const TypeDescriptor* td) { return td->code == kTDRefnum && I16At(td, 4) == kRefnumAutomation; }

const TypeDescriptor* ArrayElement(const TypeDescriptor* td) {
  const int32 rank = I16At(td, 4);
  return reinterpret_cast<const TypeDescriptor*>(Bytes(td) + 6 + 4 * (rank > 0 ? rank : 0));
}
int32 ArrayRank(const TypeDescriptor* td) { return I16At(td, 4); }

// The NumType of the variant numbers an engine number converts with.
int32 NumTypeOfVt(uInt16 vt) {
  switch (vt) {
    case kPlatVtI1: return kTDI8;
    case kPlatVtI2: return kTDI16;
    case kPlatVtI4: case kPlatVtInt: return kTDI32;
    case kPlatVtI8: return kTDI64;
    case kPlatVtUI1: return kTDU8;
    case kPlatVtUI2: return kTDU16;
    case kPlatVtUI4: case kPlatVtUInt: return kTDU32;
    case kPlatVtUI8: return kTDU64;
    case kPlatVtR4: return kTDSGL;
    case kPlatVtR8: return kTDDBL;
    default: return 0;
  }
}

// ---- Strings ---------------------------------------------------------------------------

// The string handle in a slot gets the bytes (made when null).
MgErr StoreLStr(LStrHandle* slot, const char* bytes, int32 n) {
  LStrHandle h = *slot;
  if (!h) {
    h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + n));
    if (!h) return kMemFullErr;
    *slot = h;
  } else if (DSSetHandleSize(reinterpret_cast<UHandle>(h), 4 + n) != kNoErr) {
    return kMemFullErr;
  }
  if (n) std::memcpy(LStrBuf(*h), bytes, size_t(n));
  (*h)->cnt = n;
  return kNoErr;
}

// The bytes of a string handle (none for null or a bad count).
std::string LStrText(LStrHandle h) {
  if (!h || !*h) return std::string();
  const int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(h));
  int32 n = LStrLen(*h);
  if (n > size - 4) n = size > 4 ? size - 4 : 0;
  return std::string(reinterpret_cast<const char*>(LStrBuf(*h)), size_t(n));
}

std::string PathText(Path p) {
  LStrHandle text = nullptr;
  if (!p || FPathToDSString(p, &text) != kNoErr) return std::string();
  std::string s = LStrText(text);
  DSDisposeHandle(reinterpret_cast<UHandle>(text));
  return s;
}

// The characters of a wide string as code-page text.
std::string BstrText(const uInt16* s, uInt32 length) {
  std::string out(length, '\0');
  if (length) PlatBstrToText(s, length, out.data(), length);
  return out;
}

// The string bound of a string descriptor: the most bytes it holds, -1 for none.
int32 StringLimit(const TypeDescriptor* td) {
  if (td->size < 8) return -1;
  const int32 bound = int32(GetNative32(Bytes(td) + 4));
  if (bound == kTDVariable) return -1;
  return bound & 0x7FFFFFFF;
}

// Text into a string or path slot of the descriptor.
PlatHResult StoreText(const TypeDescriptor* td, uChar* slot, const std::string& text) {
  if (td->code == kTDString) {
    int32 n = int32(text.size());
    const int32 limit = StringLimit(td);
    if (limit >= 0 && n > limit) n = limit;
    LStrHandle h = nullptr;
    std::memcpy(&h, slot, 4);
    const MgErr err = StoreLStr(&h, text.data(), n);
    std::memcpy(slot, &h, 4);
    return err ? kPlatOutOfMemory : kPlatOk;
  }
  Path p = nullptr;
  std::memcpy(&p, slot, 4);
  const MgErr err = FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p);
  std::memcpy(slot, &p, 4);
  return err == kMemFullErr ? kPlatOutOfMemory : err ? kPlatDispTypeMismatch : kPlatOk;
}

// ---- Safe-array walking ---------------------------------------------------------------

// The index vector of a safe array, dimension 1 fastest.
class Indexes {
 public:
  explicit Indexes(const PlatSafeArray* a) : a_(a), idx_(a->dims) {
    for (uInt32 d = 0; d < a->dims; ++d) idx_[d] = a->bounds[d].lower;
  }
  const int32_t* get() const { return idx_.data(); }
  void Next() {
    for (uInt32 d = 0; d < a_->dims; ++d) {
      if (int64_t(idx_[d]) + 1 < int64_t(a_->bounds[d].lower) + int64_t(a_->bounds[d].count)) {
        ++idx_[d];
        return;
      }
      idx_[d] = a_->bounds[d].lower;
    }
  }

 private:
  const PlatSafeArray* a_;
  std::vector<int32_t> idx_;
};

// An element of any array as a variant the caller clears.
PlatHResult ElementVariant(const PlatSafeArray* a, const int32_t* idx, PlatVariant* out) {
  PlatVariantInit(out);
  if (a->vt == kPlatVtVariant) return PlatSafeArrayGetElement(a, idx, out);
  PlatHResult r = PlatSafeArrayGetElement(a, idx, &out->i8);
  if (r == kPlatOk) out->vt = a->vt;
  return r;
}

// The array a variant holds, directly or by reference; null for none.
const PlatSafeArray* ArrayOf(const PlatVariant* v) {
  if (!(v->vt & kPlatVtArray)) return nullptr;
  if (!(v->vt & kPlatVtByRef)) return v->array;
  if (!v->byRef) return nullptr;
  PlatSafeArray* a = nullptr;
  std::memcpy(&a, v->byRef, 4);
  return a;
}

// ---- Typed data to variants ---------------------------------------------------------

PlatHResult NaturalVariant(const uChar* data, const TypeDescriptor* td, PlatVariant* out);

// One element of an engine array into the safe array's element form.
PlatHResult PutArrayElement(PlatSafeArray* a, const int32_t* idx, const uChar* elem, const TypeDescriptor* elemTD) {
  const uChar code = BaseCode(elemTD);
  uChar value[16] = {};
  switch (a->vt) {
    case kPlatVtI2: case kPlatVtI4: case kPlatVtR4: case kPlatVtR8: case kPlatVtI1: case kPlatVtUI1:
      if (!IsNumericCode(code)) return kPlatDispTypeMismatch;
      ConvertNum(code, elem, NumTypeOfVt(a->vt), value);
      return PlatSafeArrayPutElement(a, idx, value);
    case kPlatVtBool: {
      const int16 b = elem[0] == 1 ? kPlatVariantTrue : kPlatVariantFalse;
      return PlatSafeArrayPutElement(a, idx, &b);
    }
    case kPlatVtBstr: {
      if (elemTD->code != kTDString) return kPlatDispTypeMismatch;
      LStrHandle h = nullptr;
      std::memcpy(&h, elem, 4);
      const std::string text = LStrText(h);
      PlatBstr s = PlatBstrFromText(text.data(), uInt32(text.size()));
      if (!s) return kPlatOutOfMemory;
      const PlatHResult r = PlatSafeArrayPutElement(a, idx, &s);
      PlatBstrFree(s);
      return r;
    }
    default: {
      // Variants and interfaces: the element's full conversion.
      PlatVariant v;
      PlatVariantInit(&v);
      PlatHResult r = NaturalVariant(elem, elemTD, &v);
      if (r == kPlatOk) {
        if (a->vt == kPlatVtVariant) r = PlatSafeArrayPutElement(a, idx, &v);
        else if (v.vt == a->vt) r = PlatSafeArrayPutElement(a, idx, &v.unknown);
        else r = kPlatDispTypeMismatch;
      }
      PlatVariantClear(&v);
      return r;
    }
  }
}

PlatHResult ArrayToVariant(const uChar* slot, const TypeDescriptor* td, PlatVariant* out) {
  const TypeDescriptor* elemTD = SkipTypedefs(ArrayElement(td));
  const int32 rank = ArrayRank(td);
  const uInt16 natural = OleNaturalVarType(elemTD);
  if (rank < 1 || rank > int32(kPlatSafeArrayMaxDims) || natural == kPlatVtError) return kPlatDispTypeMismatch;
  const uInt16 vt = (natural & kPlatVtArray) ? uInt16(kPlatVtVariant) : natural;
  UHandle h = nullptr;
  std::memcpy(&h, slot, 4);
  std::vector<int32> sizes(static_cast<size_t>(rank), 0);
  if (h && *h) std::memcpy(sizes.data(), *h, 4 * size_t(rank));
  const int32 count = NArrayElts(rank, sizes.data());
  const int32 es = DataSize(elemTD);
  const int32 start = AlignDatum(elemTD, 4 * rank);
  if (count < 0 || (count > 0 && (!h || int64_t(start) + int64_t(count) * es > DSGetHandleSize(h))))
    return kPlatInvalidArg;
  std::vector<PlatSafeArrayBound> bounds(static_cast<size_t>(rank));
  for (int32 d = 0; d < rank; ++d) bounds[size_t(d)] = PlatSafeArrayBound{uInt32(sizes[size_t(rank - 1 - d)]), 0};
  PlatSafeArray* a = PlatSafeArrayCreate(vt, uInt32(rank), bounds.data());
  if (!a) return kPlatOutOfMemory;
  const uChar code = BaseCode(elemTD);
  if (NumTypeOfVt(vt) && IsNumericCode(code)) {
    // Numbers are put in storage order, which is the safe array's order too.
    auto* out = static_cast<uChar*>(a->data);
    const int32 nt = NumTypeOfVt(vt);
    for (int32 i = 0; i < count; ++i) ConvertNum(code, *h + start + i * es, nt, out + uInt32(i) * a->elemSize);
  } else {
    Indexes idx(a);
    for (int32 i = 0; i < count; ++i, idx.Next()) {
      if (PlatHResult r = PutArrayElement(a, idx.get(), *h + start + i * es, elemTD); r != kPlatOk) {
        PlatSafeArrayDestroy(a);
        return r;
      }
    }
  }
  // The finished array goes into the variant as it is: a copy of it would
  // hold the same.
  out->vt = uInt16(kPlatVtArray | vt);
  out->array = a;
  return kPlatOk;
}

PlatHResult ClusterToVariant(const uChar* data, const TypeDescriptor* td, PlatVariant* out) {
  const int32 n = I16At(td, 4);
  if (n < 0) return kPlatDispTypeMismatch;
  PlatSafeArrayBound bound{uInt32(n), 0};
  PlatSafeArray* a = PlatSafeArrayCreate(kPlatVtVariant, 1, &bound);
  if (!a) return kPlatOutOfMemory;
  int32 off = 0;
  for (int32 i = 0; i < n; ++i) {
    const TypeDescriptor* el = ElemTD(td, i);
    off = AlignDatum(el, off);
    PlatVariant v;
    PlatVariantInit(&v);
    PlatHResult r = NaturalVariant(data + off, el, &v);
    if (r == kPlatOk) r = PlatSafeArrayPutElement(a, &i, &v);
    PlatVariantClear(&v);
    if (r != kPlatOk) {
      PlatSafeArrayDestroy(a);
      return r;
    }
    off += DataSize(el);
  }
  out->vt = kPlatVtArray | kPlatVtVariant;
  out->array = a;
  return kPlatOk;
}

// The natural variant of the data into an empty out.
PlatHResult NaturalVariant(const uChar* data, const TypeDescriptor* td, PlatVariant* out) {
  td = SkipTypedefs(td);
  const uChar code = BaseCode(td);
  switch (code) {
    case kTDVoid:
      return kPlatOk;
    case kTDI8: out->vt = kPlatVtI1; std::memcpy(&out->i1, data, 1); return kPlatOk;
    case kTDU8: out->vt = kPlatVtUI1; std::memcpy(&out->ui1, data, 1); return kPlatOk;
    case kTDI16: case kTDU16: out->vt = kPlatVtI2; std::memcpy(&out->i2, data, 2); return kPlatOk;
    case kTDI32: case kTDU32: out->vt = kPlatVtI4; std::memcpy(&out->i4, data, 4); return kPlatOk;
    case kTDSGL: out->vt = kPlatVtR4; std::memcpy(&out->r4, data, 4); return kPlatOk;
    case kTDDBL: out->vt = kPlatVtR8; std::memcpy(&out->r8, data, 8); return kPlatOk;
    case kTDEXT: case kTDCSG: case kTDCDB: case kTDCXT: {
      double d = 0;
      ConvertNum(code, data, kTDDBL, &d);
      out->vt = kPlatVtR8;
      out->r8 = d;
      return kPlatOk;
    }
    case kTDBoolean:
      out->vt = kPlatVtBool;
      out->boolVal = (data[0] & 1) ? kPlatVariantTrue : kPlatVariantFalse;
      return kPlatOk;
    case kTDString:
    case kTDPath: {
      void* h = nullptr;
      std::memcpy(&h, data, 4);
      const std::string text = code == kTDString ? LStrText(static_cast<LStrHandle>(h)) : PathText(static_cast<Path>(h));
      PlatBstr s = PlatBstrFromText(text.data(), uInt32(text.size()));
      if (!s) return kPlatOutOfMemory;
      out->vt = kPlatVtBstr;
      out->bstr = s;
      return kPlatOk;
    }
    case kTDArray:
      return ArrayToVariant(data, td, out);
    case kTDCluster:
      return ClusterToVariant(data, td, out);
    case kTDRefnum: {
      if (!IsAutoRefnum(td)) return kPlatDispTypeMismatch;
      Cookie ref = 0;
      std::memcpy(&ref, data, 4);
      EmbDispatch* d = nullptr;
      if (ref && AutoRefGetDispatch(ref, &d) != kNoErr) return kPlatInvalidArg;
      out->vt = kPlatVtDispatch;
      out->dispatch = d;  // the reference added for us
      return kPlatOk;
    }
    case kTDVariant:
      return PlatVariantCopy(out, reinterpret_cast<const PlatVariant*>(data));
    default:
      return kPlatDispTypeMismatch;
  }
}

// A variant array as an array of another element type: the same dimensions
// and bounds, each element converted (numbers by the engine's conversion).
PlatHResult ChangeArray(const PlatVariant* src, uInt16 wanted, PlatVariant* out) {
  const PlatSafeArray* a = ArrayOf(src);
  const uInt16 vt = wanted & kPlatVtTypeMask;
  if (!a) {
    if (src->vt & kPlatVtByRef && !src->byRef) return kPlatInvalidArg;
    out->vt = uInt16(kPlatVtArray | vt);
    out->array = nullptr;
    return kPlatOk;
  }
  uInt32 count = 0;
  if (PlatHResult r = PlatSafeArrayCount(a, &count); r != kPlatOk) return r;
  PlatSafeArray* c = nullptr;
  if (a->vt == vt) {
    if (PlatHResult r = PlatSafeArrayCopy(a, &c); r != kPlatOk) return r;
  } else {
    if (!PlatSafeArrayElementSize(vt)) return kPlatDispBadVarType;
    c = PlatSafeArrayCreate(vt, a->dims, a->bounds);
    if (!c) return kPlatOutOfMemory;
    const int32 from = NumTypeOfVt(a->vt), to = NumTypeOfVt(vt);
    Indexes idx(a);
    for (uInt32 i = 0; i < count; ++i, idx.Next()) {
      PlatVariant e, v;
      PlatHResult r = ElementVariant(a, idx.get(), &e);
      PlatVariantInit(&v);
      if (r == kPlatOk) {
        if (from && to) {
          v.vt = vt;
          ConvertNum(from, &e.i8, to, &v.i8);
        } else if (vt == kPlatVtVariant) {
          r = PlatVariantCopy(&v, &e);
        } else {
          r = PlatVariantChangeType(&v, &e, 0, vt);
        }
      }
      if (r == kPlatOk) r = PlatSafeArrayPutElement(c, idx.get(), vt == kPlatVtVariant ? static_cast<void*>(&v) : &v.i8);
      PlatVariantClear(&e);
      PlatVariantClear(&v);
      if (r != kPlatOk) {
        PlatSafeArrayDestroy(c);
        return r;
      }
    }
  }
  out->vt = uInt16(kPlatVtArray | vt);
  out->array = c;
  return kPlatOk;
}

// A by-reference variant of type t whose storage (task memory) holds the
// source changed to t.
PlatHResult ByRefResult(const PlatVariant* src, uInt16 wanted, PlatVariant* out) {
  const uInt16 t = wanted & ~kPlatVtByRef;
  const int32 size = OleByRefSize(t);
  if (!size) return kPlatInvalidArg;
  PlatVariant v;
  PlatVariantInit(&v);
  PlatHResult r;
  if (t & kPlatVtArray) r = ChangeArray(src, t, &v);
  else if (t == kPlatVtVariant) r = PlatVariantCopyInd(&v, src);
  else r = PlatVariantChangeType(&v, src, 0, t);
  if (r != kPlatOk) return r;
  void* storage = PlatTaskMemAlloc(uInt32(size));
  if (!storage) {
    PlatVariantClear(&v);
    return kPlatOutOfMemory;
  }
  // The value moves into the storage.
  std::memcpy(storage, t == kPlatVtVariant ? static_cast<void*>(&v) : &v.i8, size_t(size));
  out->vt = uInt16(kPlatVtByRef | t);
  out->byRef = storage;
  return kPlatOk;
}

// The source variant as the type wanted (0: as it is) into an empty out.
// A by-reference result always has storage of its own, so that freeing an
// argument variant never frees storage another owner holds.
PlatHResult ChangeVariant(const PlatVariant* src, uInt16 wanted, PlatVariant* out) {
  if (wanted == 0 && (src->vt & kPlatVtByRef)) wanted = src->vt;
  if (wanted & kPlatVtByRef) return ByRefResult(src, wanted, out);
  if ((src->vt & kPlatVtArray) && (wanted & kPlatVtArray)) return ChangeArray(src, wanted, out);
  if (wanted == 0) return PlatVariantCopy(out, src);
  return PlatVariantChangeType(out, src, 0, wanted);
}

// ---- Variants into typed data -----------------------------------------------------------

PlatHResult IntoData(const PlatVariant* v, uChar* data, const TypeDescriptor* td);

PlatHResult ScalarIntoData(const PlatVariant* v, uChar* data, const TypeDescriptor* td, uInt16 w) {
  const uChar code = BaseCode(td);
  if (td->code == kTDString && (v->vt == (kPlatVtArray | kPlatVtUI1) || v->vt == (kPlatVtArray | kPlatVtI1))) {
    const PlatSafeArray* a = v->array;
    uInt32 count = 0;
    if (!a) return StoreText(td, data, std::string());
    if (a->dims != 1 || a->elemSize != 1) return kPlatDispTypeMismatch;
    if (PlatHResult r = PlatSafeArrayCount(a, &count); r != kPlatOk) return r;
    return StoreText(td, data, std::string(static_cast<const char*>(a->data), count));
  }
  PlatVariant t;
  PlatVariantInit(&t);
  if (PlatHResult r = PlatVariantChangeType(&t, v, 0, w); r != kPlatOk) return r;
  PlatHResult r = kPlatOk;
  switch (t.vt) {
    case kPlatVtI2: case kPlatVtI4: case kPlatVtR4: case kPlatVtR8: case kPlatVtI1: case kPlatVtUI1:
      if (IsNumericCode(code)) ConvertNum(NumTypeOfVt(t.vt), &t.i8, code, data);
      else r = kPlatDispTypeMismatch;
      break;
    case kPlatVtBstr:
      if (td->code == kTDString || td->code == kTDPath) r = StoreText(td, data, BstrText(t.bstr, PlatBstrLength(t.bstr)));
      else r = kPlatDispTypeMismatch;
      break;
    case kPlatVtBool:
      data[0] = t.boolVal != 0 ? 1 : 0;
      break;
    case kPlatVtDispatch: {
      if (!IsAutoRefnum(td)) {
        r = kPlatDispTypeMismatch;
        break;
      }
      Cookie ref = 0;
      if (t.dispatch && AutoRefMake(t.dispatch, &ref, true) != kNoErr) r = kPlatOutOfMemory;
      else std::memcpy(data, &ref, 4);
      break;
    }
    case kPlatVtEmpty:
      break;
    default:
      r = kPlatDispTypeMismatch;
      break;
  }
  PlatVariantClear(&t);
  return r;
}

PlatHResult ClusterIntoData(const PlatVariant* v, uChar* data, const TypeDescriptor* td) {
  const PlatSafeArray* a = ArrayOf(v);
  if (!a) return kPlatDispTypeMismatch;
  uInt32 count = 0;
  if (PlatHResult r = PlatSafeArrayCount(a, &count); r != kPlatOk) return r;
  const int32 n = I16At(td, 4);
  if (a->dims != 1 || n < 0 || count != uInt32(n)) return kPlatDispTypeMismatch;
  int32 off = 0;
  for (int32 i = 0; i < n; ++i) {
    const TypeDescriptor* el = ElemTD(td, i);
    off = AlignDatum(el, off);
    const int32_t index = a->bounds[0].lower + i;
    PlatVariant e;
    PlatHResult r = ElementVariant(a, &index, &e);
    if (r == kPlatOk) r = IntoData(&e, data + off, el);
    PlatVariantClear(&e);
    if (r != kPlatOk) return r;
    off += DataSize(el);
  }
  return kPlatOk;
}

PlatHResult ArrayIntoData(const PlatVariant* v, uChar* slot, const TypeDescriptor* td) {
  const TypeDescriptor* elemTD = ArrayElement(td);
  const int32 rank = ArrayRank(td);
  const PlatSafeArray* a = ArrayOf(v);
  if (rank < 1) return kPlatDispTypeMismatch;
  std::vector<int32> sizes(static_cast<size_t>(rank), 1);
  uInt32 count = 1;
  if (a) {
    if (PlatHResult r = PlatSafeArrayCount(a, &count); r != kPlatOk) return r;
    if (a->dims != rank) return kPlatDispTypeMismatch;
    for (int32 d = 0; d < rank; ++d) {
      const uInt32 n = a->bounds[rank - 1 - d].count;
      if (n > 0x7FFFFFFFu) return kPlatOutOfMemory;
      sizes[size_t(d)] = int32(n);
    }
  } else if ((v->vt & kPlatVtArray) || rank != 1) {
    // A null array is empty; a single value fills one dimension.
    if (!(v->vt & kPlatVtArray)) return kPlatDispTypeMismatch;
    std::fill(sizes.begin(), sizes.end(), 0);
    count = 0;
  }
  const int32 es = DataSize(elemTD);
  if (count > 0x7FFFFFFFu || (es > 0 && uint64_t(count) * uint64_t(es) > uint64_t(kMaxArrayBytes)))
    return kPlatOutOfMemory;
  UHandle h = nullptr;
  std::memcpy(&h, slot, 4);
  int32* list = sizes.data();
  const MgErr err = ArrayResize(elemTD, rank, &h, &list);
  std::memcpy(slot, &h, 4);
  if (err) return err == kMemFullErr ? kPlatOutOfMemory : kPlatInvalidArg;
  const int32 start = AlignDatum(elemTD, 4 * rank);
  if (!a) return count ? IntoData(v, *h + start, elemTD) : kPlatOk;
  const TypeDescriptor* elem = SkipTypedefs(elemTD);
  const uChar code = BaseCode(elem);
  if (IsNumericCode(code) && a->vt == OleNaturalVarType(elem) && NumTypeOfVt(a->vt)) {
    // Numbers of the element's own variant type: read in storage order (the
    // index order) and converted as each element would be.
    const auto* in = static_cast<const uChar*>(a->data);
    const int32 nt = NumTypeOfVt(a->vt);
    for (uInt32 i = 0; i < count; ++i) ConvertNum(nt, in + i * a->elemSize, code, *h + start + int32(i) * es);
    return kPlatOk;
  }
  Indexes idx(a);
  for (uInt32 i = 0; i < count; ++i, idx.Next()) {
    PlatVariant e;
    PlatHResult r = ElementVariant(a, idx.get(), &e);
    // The handle's block is read again: a conversion may allocate.
    if (r == kPlatOk) r = IntoData(&e, *h + start + int32(i) * es, elemTD);
    PlatVariantClear(&e);
    if (r != kPlatOk) return r;
  }
  return kPlatOk;
}

// The variant into data; the caller empties the data after a failure.
PlatHResult IntoData(const PlatVariant* v, uChar* data, const TypeDescriptor* td) {
  td = SkipTypedefs(td);
  if (td->code == kTDVariant) return PlatVariantCopyInd(reinterpret_cast<PlatVariant*>(data), v);
  const uInt16 w = OleNaturalVarType(td);
  if (!(w & kPlatVtArray) || v->vt == kPlatVtEmpty) return ScalarIntoData(v, data, td, w);
  if (td->code == kTDCluster) return ClusterIntoData(v, data, td);
  return ArrayIntoData(v, data, td);
}

const TypeDescriptor* TypeAt(UHandle h, int32 offset) {
  if (!h || !*h || offset < 0) return nullptr;
  return reinterpret_cast<const TypeDescriptor*>(*h + offset);
}

// ---- The data manager's procedures -------------------------------------------------------

MgErr ProcInit(void* v) {
  PlatVariantInit(static_cast<PlatVariant*>(v));
  return kNoErr;
}
void ProcClear(void* v) {
  if (PlatVariantClear(static_cast<PlatVariant*>(v)) != kPlatOk) PlatVariantInit(static_cast<PlatVariant*>(v));
}
MgErr ProcCopy(const void* src, void* dst) { return CopyOleVariant(nullptr, src, dst); }
const VariantDataProcs kProcs{&ProcInit, &ProcClear, &ProcCopy};

// ---- Clean-up walk -------------------------------------------------------------------

bool ClearVariantsIn(const TypeDescriptor* td, uChar* p, const uChar* end) {
  td = SkipTypedefs(td);
  const int32 size = DataSize(td);
  if (size < 0 || p + size > end) return true;
  switch (td->code) {
    case kTDVariant: {
      auto* v = reinterpret_cast<PlatVariant*>(p);
      if (v->vt == kPlatVtDispatch) return true;
      return PlatVariantClear(v) >= 0;
    }
    case kTDArray: {
      const TypeDescriptor* el = ArrayElement(td);
      const int32 rank = ArrayRank(td);
      UHandle h = nullptr;
      std::memcpy(&h, p, 4);
      if (!h || !*h || rank < 1 || !DataShape(el)) return true;
      std::vector<int32> sizes(static_cast<size_t>(rank));
      std::memcpy(sizes.data(), *h, 4 * size_t(rank));
      const int32 n = NArrayElts(rank, sizes.data());
      const int32 es = DataSize(el);
      const int32 start = AlignDatum(el, 4 * rank);
      const int32 room = DSGetHandleSize(h);
      for (int32 i = 0; i < n && int64_t(start) + int64_t(i + 1) * es <= room; ++i) {
        uChar* e = *h + start + i * es;
        if (!ClearVariantsIn(el, e, e + es)) return false;
      }
      return true;
    }
    case kTDCluster: {
      const int32 n = I16At(td, 4);
      int32 off = 0;
      for (int32 i = 0; i < n; ++i) {
        const TypeDescriptor* el = ElemTD(td, i);
        off = AlignDatum(el, off);
        if (DataShape(el) && !ClearVariantsIn(el, p + off, end)) return false;
        off += DataSize(el);
      }
      return true;
    }
    default:
      return true;
  }
}

}  // namespace

// ---- Exported operations --------------------------------------------------------------

void OleInstallVariantProcs() { SetVariantDataProcs(&kProcs); }

uInt16 OleNaturalVarType(const TypeDescriptor* td) {
  if (!td) return kPlatVtError;
  td = SkipTypedefs(td);
  switch (BaseCode(td)) {
    case kTDVoid: return kPlatVtEmpty;
    case kTDI8: return kPlatVtI1;
    case kTDI16: case kTDU16: return kPlatVtI2;
    case kTDI32: case kTDU32: return kPlatVtI4;
    case kTDU8: return kPlatVtUI1;
    case kTDSGL: return kPlatVtR4;
    case kTDDBL: case kTDEXT: case kTDCSG: case kTDCDB: case kTDCXT: return kPlatVtR8;
    case kTDBoolean: return kPlatVtBool;
    case kTDString: case kTDPath: return kPlatVtBstr;
    case kTDArray: {
      const uInt16 e = OleNaturalVarType(ArrayElement(td));
      return e == kPlatVtError ? uInt16(kPlatVtError) : uInt16(e | kPlatVtArray);
    }
    case kTDCluster: return kPlatVtArray | kPlatVtVariant;
    case kTDRefnum: return IsAutoRefnum(td) ? uInt16(kPlatVtDispatch) : uInt16(kPlatVtError);
    case kTDVariant: return kPlatVtVariant;
    default: return kPlatVtError;
  }
}

int32 OleByRefSize(uInt16 vt) {
  if (vt & kPlatVtArray) return 4;
  switch (vt) {
    case kPlatVtI2: case kPlatVtBool: return 2;
    case kPlatVtI4: case kPlatVtR4: case kPlatVtBstr: case kPlatVtDispatch: case kPlatVtError:
    case kPlatVtUnknown:
      return 4;
    case kPlatVtR8: return 8;
    case kPlatVtVariant: return 16;
    case kPlatVtI1: case kPlatVtUI1: return 1;
    default: return 0;
  }
}

MgErr CopyOleVariant(void*, const void* src, void* dst) {
  if (!src || !dst) return kArgErr;
  const PlatHResult r = PlatVariantCopy(static_cast<PlatVariant*>(dst), static_cast<const PlatVariant*>(src));
  if (r == kPlatOk) return kNoErr;
  return r == kPlatOutOfMemory ? kMemFullErr : kArgErr;
}

int32 OleDataToVariant(const void* data, const TypeDescriptor* td, uInt16 wanted, PlatVariant* out) {
  if (!out || !td) return kPlatInvalidArg;
  if (wanted == kPlatVtByRef) wanted = 0;
  if (PlatVariantClear(out) != kPlatOk) PlatVariantInit(out);
  if (!data) return kArgErr;
  td = SkipTypedefs(td);
  const auto* bytes = static_cast<const uChar*>(data);
  if (td->code == kTDVariant) return ChangeVariant(reinterpret_cast<const PlatVariant*>(bytes), wanted, out);
  PlatVariant natural;
  PlatVariantInit(&natural);
  PlatHResult r = NaturalVariant(bytes, td, &natural);
  if (r != kPlatOk) {
    PlatVariantClear(&natural);
    return r;
  }
  if (wanted == 0 || (wanted == natural.vt && !(wanted & kPlatVtByRef))) {
    // The natural variant is the result: it moves.
    *out = natural;
    return kPlatOk;
  }
  r = ChangeVariant(&natural, wanted, out);
  PlatVariantClear(&natural);
  return r;
}

int32 ConvertToOLEVariant(const void* data, UHandle type, int32 offset, const void* hintData, UHandle hintType,
                          int32 hintOffset, PlatVariant* out) {
  const TypeDescriptor* td = TypeAt(type, offset);
  if (!td || !out) return kPlatInvalidArg;
  const TypeDescriptor* hint = hintData ? TypeAt(hintType, hintOffset) : nullptr;
  uInt16 wanted;
  if (hint && SkipTypedefs(hint)->code == kTDVariant) {
    wanted = static_cast<const PlatVariant*>(hintData)->vt;
  } else if (hint && SkipTypedefs(hint)->code >= 0x01 && SkipTypedefs(hint)->code <= 0x1E) {
    wanted = uInt16(NumToLong(BaseCode(SkipTypedefs(hint)), hintData));
  } else if (SkipTypedefs(td)->code == kTDVariant) {
    if (PlatVariantClear(out) != kPlatOk) PlatVariantInit(out);
    if (!data) return kArgErr;
    return PlatVariantCopy(out, static_cast<const PlatVariant*>(data));
  } else {
    wanted = OleNaturalVarType(td);
    if (wanted == kPlatVtError) wanted = 0;
  }
  return OleDataToVariant(data, td, wanted, out);
}

int32 OleVariantToData(const PlatVariant* variant, void* data, const TypeDescriptor* td) {
  if (!variant || !data || !td) return kPlatInvalidArg;
  const PlatHResult r = IntoData(variant, static_cast<uChar*>(data), td);
  if (r != kPlatOk) ResetData(td, data);
  return r;
}

int32 ConvertToQXData(const PlatVariant* variant, void* data, UHandle type, int32 offset) {
  return OleVariantToData(variant, data, TypeAt(type, offset));
}

MgErr SetOLEVariantErrorIOClust(ErrorIOCluster* cluster, Bool32 status, int32 code, DataSpace ds) {
  if (!cluster) return kArgErr;
  if (code == kPlatDispException) return SetErrorIOClust(cluster, status, code, kErrSourceLStr, cluster->source, ds);
  std::string text;
  if (!AutoClientErrorText(code, &text)) {
    char buf[256];
    if (PlatComMessageText(code, buf, sizeof buf) > 0) text = buf;
    if (text.empty()) text = "Unknown System Error";
  }
  return SetErrorIOClust(cluster, status, code, kErrSourceCStr, text.c_str(), ds);
}

int32 OleVariantCleanupDataSpace(void* cookie) {
  auto ds = static_cast<DataSpace>(cookie);
  if (!ds || !*ds) return kNoErr;
  UHandle td = (*ds)->typeDesc;
  if (!td || !*td) return kNoErr;
  int32 end = (*ds)->size;
  const int32 room = DSGetHandleSize(reinterpret_cast<UHandle>(ds));
  if (end > room || end <= 0) end = room;
  auto* base = reinterpret_cast<uChar*>(*ds);
  return ClearVariantsIn(reinterpret_cast<const TypeDescriptor*>(*td), base, base + end) ? kNoErr : kMemFullErr;
}

MgErr SetUpOLEVariantCleanUp(DataSpace ds) {
  if (!ds) return kArgErr;
  RTSetCleanupProc(&OleVariantCleanupDataSpace, ds, kCleanupTopVI);
  return kNoErr;
}

void ProcessEmptyOptVariantParam(PlatVariant* v) {
  if (!v) return;
  if (v->vt == (kPlatVtByRef | kPlatVtVariant) && v->byRef &&
      static_cast<PlatVariant*>(v->byRef)->vt == kPlatVtEmpty) {
    PlatVariantClear(static_cast<PlatVariant*>(v->byRef));
    v->byRef = nullptr;
    v->vt = kPlatVtEmpty;
  }
  if (v->vt != kPlatVtEmpty) return;
  v->vt = kPlatVtError;
  v->scode = kPlatDispParamNotFound;
}

MgErr NewArgVariant(const void* data, UHandle type, int32 offset, int32 vt, PlatVariant** block) {
  if (!block) return kArgErr;
  *block = nullptr;
  auto* v = reinterpret_cast<PlatVariant*>(DSNewPClr(int32(sizeof(PlatVariant))));
  if (!v) return kMemFullErr;
  if (!data) {
    v->vt = uInt16(vt);
  } else {
    const TypeDescriptor* td = TypeAt(type, offset);
    if (!td || OleDataToVariant(data, td, uInt16(vt), v) != kPlatOk) {
      DSDisposePtr(reinterpret_cast<UPtr>(v));
      return kArgErr;
    }
  }
  *block = v;
  return kNoErr;
}

void FreeArgVariant(PlatVariant* v) {
  if (!v) return;
  if (!(v->vt & kPlatVtByRef)) {
    if (PlatVariantClear(v) != kPlatOk) PlatVariantInit(v);
    return;
  }
  const uInt16 t = v->vt & ~kPlatVtByRef;
  if (!OleByRefSize(t) || !v->byRef) return;
  // The value in the storage is this variant's, whatever the call put there.
  PlatVariant inner;
  PlatVariantInit(&inner);
  if (t == kPlatVtVariant) {
    std::memcpy(&inner, v->byRef, sizeof inner);
  } else {
    inner.vt = t;
    std::memcpy(&inner.i8, v->byRef, size_t(OleByRefSize(t)));
  }
  PlatVariantClear(&inner);
  PlatTaskMemFree(v->byRef);
  PlatVariantInit(v);
}

PlatBstr OleBstrFromText(int32 kind, const void* text) {
  std::string s;
  switch (kind) {
    case kOleTextLStr: s = LStrText(static_cast<LStrHandle>(const_cast<void*>(text))); break;
    case kOleTextPath: s = PathText(static_cast<Path>(const_cast<void*>(text))); break;
    case kOleTextCStr: if (text) s = static_cast<const char*>(text); break;
    case kOleTextPStr:
      if (text) s.assign(static_cast<const char*>(text) + 1, static_cast<const uChar*>(text)[0]);
      break;
    default: return nullptr;
  }
  return PlatBstrFromText(s.data(), uInt32(s.size()));
}

MgErr OleTextFromBstr(const uInt16* s, int32 length, int32 kind, void* target, int32 maximum) {
  if (!target || length < 0 || maximum < 0) return kArgErr;
  uInt32 n = uInt32(length);
  if (!length && s) while (s[n]) ++n;
  if (!s) n = 0;
  if (maximum > 0 && n > uInt32(maximum)) n = uInt32(maximum);
  switch (kind) {
    case kOleTextLStr: {
      const std::string text = BstrText(s, n);
      return StoreLStr(static_cast<LStrHandle*>(target), text.data(), int32(text.size()));
    }
    case kOleTextPath: {
      const std::string text = BstrText(s, n);
      return FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), static_cast<Path*>(target));
    }
    case kOleTextCStr:
    case kOleTextCStrOut: {
      // The maximum holds the terminating zero.
      if (maximum > 0 && n >= uInt32(maximum)) n = uInt32(maximum) - 1;
      auto* out = static_cast<char*>(target);
      out[PlatBstrToText(s, n, out, n)] = 0;
      return kNoErr;
    }
    case kOleTextPStr: {
      // A counted string holds 255 characters whatever the maximum.
      if (n > 255) n = 255;
      auto* out = static_cast<uChar*>(target);
      out[0] = uChar(PlatBstrToText(s, n, reinterpret_cast<char*>(out + 1), n));
      return kNoErr;
    }
    default:
      return kArgErr;
  }
}
