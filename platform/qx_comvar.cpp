// Task memory, wide strings, variants and safe arrays of the component layer.
#include "platform/qx_comvar.h"

#include <atomic>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "platform/qx_codepage.h"

namespace {

std::atomic<int32_t> gLiveStrings{0};
std::atomic<int32_t> gLiveArrays{0};

// ---- Wide strings ----------------------------------------------------------------------

uint32_t* StringHead(const uint16_t* s) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<uintptr_t>(s) - 4);
}

PlatBstr NewString(uint32_t length) {
  if (length > kPlatBstrMaxChars) return nullptr;
  auto* block = static_cast<uint8_t*>(std::malloc(4 + 2 * size_t(length) + 2));
  if (!block) return nullptr;
  const uint32_t bytes = 2 * length;
  std::memcpy(block, &bytes, 4);
  auto* chars = reinterpret_cast<uint16_t*>(block + 4);
  chars[length] = 0;
  gLiveStrings.fetch_add(1, std::memory_order_relaxed);
  return chars;
}

PlatBstr CopyString(const uint16_t* s) {
  if (!s) return nullptr;
  return PlatBstrAlloc(s, PlatBstrLength(s));
}

// Text of a number, independent of the locale.
PlatBstr StringOfText(const char* text, size_t n) { return PlatBstrFromText(text, uint32_t(n)); }

// ---- Scalars -------------------------------------------------------------------------

bool IsIntType(uint16_t vt) {
  switch (vt) {
    case kPlatVtI1: case kPlatVtUI1: case kPlatVtI2: case kPlatVtUI2: case kPlatVtI4: case kPlatVtUI4:
    case kPlatVtI8: case kPlatVtUI8: case kPlatVtInt: case kPlatVtUInt:
      return true;
    default:
      return false;
  }
}
bool IsNumberType(uint16_t vt) {
  return IsIntType(vt) || vt == kPlatVtR4 || vt == kPlatVtR8 || vt == kPlatVtCy || vt == kPlatVtDate ||
         vt == kPlatVtBool;
}

// The size of a value of a base type held in a variant or by reference; 0
// for types without a fixed value.
uint32_t ValueSize(uint16_t vt) {
  switch (vt) {
    case kPlatVtI1: case kPlatVtUI1: return 1;
    case kPlatVtI2: case kPlatVtUI2: case kPlatVtBool: return 2;
    case kPlatVtI4: case kPlatVtUI4: case kPlatVtInt: case kPlatVtUInt: case kPlatVtR4: case kPlatVtError:
    case kPlatVtBstr: case kPlatVtDispatch: case kPlatVtUnknown:
      return 4;
    case kPlatVtI8: case kPlatVtUI8: case kPlatVtR8: case kPlatVtCy: case kPlatVtDate: return 8;
    case kPlatVtVariant: return 16;
    default: return 0;
  }
}

// A number in one of three forms, as wide as any variant holds.
struct Number {
  enum Form { kSigned, kUnsigned, kReal } form;
  int64_t s;
  uint64_t u;
  double r;
};

Number NumberOf(const PlatVariant& v) {
  switch (v.vt) {
    case kPlatVtI1: return {Number::kSigned, v.i1, 0, 0};
    case kPlatVtUI1: return {Number::kUnsigned, 0, v.ui1, 0};
    case kPlatVtI2: return {Number::kSigned, v.i2, 0, 0};
    case kPlatVtBool: return {Number::kSigned, v.boolVal ? -1 : 0, 0, 0};
    case kPlatVtUI2: return {Number::kUnsigned, 0, v.ui2, 0};
    case kPlatVtI4: case kPlatVtInt: return {Number::kSigned, v.i4, 0, 0};
    case kPlatVtUI4: case kPlatVtUInt: return {Number::kUnsigned, 0, v.ui4, 0};
    case kPlatVtI8: return {Number::kSigned, v.i8, 0, 0};
    case kPlatVtUI8: return {Number::kUnsigned, 0, v.ui8, 0};
    case kPlatVtR4: return {Number::kReal, 0, 0, double(v.r4)};
    case kPlatVtCy: return {Number::kReal, 0, 0, double(v.cy) / 10000.0};
    default: return {Number::kReal, 0, 0, v.r8};  // R8, date
  }
}

// The number as a signed integer within [lo, hi], reals rounded half to even.
bool ToSigned(const Number& n, int64_t lo, int64_t hi, int64_t* out) {
  switch (n.form) {
    case Number::kSigned:
      if (n.s < lo || n.s > hi) return false;
      *out = n.s;
      return true;
    case Number::kUnsigned:
      if (n.u > uint64_t(hi)) return false;
      *out = int64_t(n.u);
      return true;
    default: {
      if (!std::isfinite(n.r)) return false;
      const double r = std::nearbyint(n.r);
      // Both ends as reals: hi of 64 bits rounds up to 2^63, which is out.
      if (r < double(lo) || r >= double(hi) + 1.0) return false;
      *out = int64_t(r);
      return true;
    }
  }
}
bool ToUnsigned(const Number& n, uint64_t hi, uint64_t* out) {
  switch (n.form) {
    case Number::kSigned:
      if (n.s < 0 || uint64_t(n.s) > hi) return false;
      *out = uint64_t(n.s);
      return true;
    case Number::kUnsigned:
      if (n.u > hi) return false;
      *out = n.u;
      return true;
    default: {
      if (!std::isfinite(n.r)) return false;
      const double r = std::nearbyint(n.r);
      if (r < 0 || r >= double(hi) + 1.0) return false;
      *out = uint64_t(r);
      return true;
    }
  }
}
double ToReal(const Number& n) {
  switch (n.form) {
    case Number::kSigned: return double(n.s);
    case Number::kUnsigned: return double(n.u);
    default: return n.r;
  }
}

// The number into a variant of the numeric type vt.
PlatHResult StoreNumber(const Number& n, uint16_t vt, PlatVariant* out) {
  PlatVariant v{};
  v.vt = vt;
  int64_t s = 0;
  uint64_t u = 0;
  bool ok = true;
  switch (vt) {
    case kPlatVtI1: ok = ToSigned(n, INT8_MIN, INT8_MAX, &s); v.i1 = int8_t(s); break;
    case kPlatVtUI1: ok = ToUnsigned(n, UINT8_MAX, &u); v.ui1 = uint8_t(u); break;
    case kPlatVtI2: ok = ToSigned(n, INT16_MIN, INT16_MAX, &s); v.i2 = int16_t(s); break;
    case kPlatVtUI2: ok = ToUnsigned(n, UINT16_MAX, &u); v.ui2 = uint16_t(u); break;
    case kPlatVtI4: case kPlatVtInt: ok = ToSigned(n, INT32_MIN, INT32_MAX, &s); v.i4 = int32_t(s); break;
    case kPlatVtUI4: case kPlatVtUInt: ok = ToUnsigned(n, UINT32_MAX, &u); v.ui4 = uint32_t(u); break;
    case kPlatVtI8: ok = ToSigned(n, INT64_MIN, INT64_MAX, &s); v.i8 = s; break;
    case kPlatVtUI8: ok = ToUnsigned(n, UINT64_MAX, &u); v.ui8 = u; break;
    case kPlatVtR4: {
      const double r = ToReal(n);
      ok = !(std::isfinite(r) && std::fabs(r) > double(FLT_MAX));
      v.r4 = float(r);
      break;
    }
    case kPlatVtR8: v.r8 = ToReal(n); break;
    case kPlatVtDate: v.date = ToReal(n); break;
    case kPlatVtCy: {
      const double r = ToReal(n) * 10000.0;
      ok = std::isfinite(r) && r >= -9223372036854775808.0 && r < 9223372036854775808.0;
      if (ok) v.cy = int64_t(std::nearbyint(r));
      break;
    }
    case kPlatVtBool: {
      bool nonzero = n.form == Number::kSigned ? n.s != 0 : n.form == Number::kUnsigned ? n.u != 0 : n.r != 0;
      v.boolVal = nonzero ? kPlatVariantTrue : kPlatVariantFalse;
      break;
    }
    default:
      return kPlatDispTypeMismatch;
  }
  if (!ok) return kPlatDispOverflow;
  *out = v;
  return kPlatOk;
}

// The text of a number or Boolean.
PlatHResult TextOfNumber(const PlatVariant& v, PlatVariant* out) {
  char buf[64];
  std::to_chars_result r{};
  if (v.vt == kPlatVtBool) {
    const char* t = v.boolVal ? "True" : "False";
    r.ptr = buf + std::strlen(t);
    std::memcpy(buf, t, size_t(r.ptr - buf));
  } else {
    const Number n = NumberOf(v);
    if (n.form == Number::kSigned) r = std::to_chars(buf, buf + sizeof buf, n.s);
    else if (n.form == Number::kUnsigned) r = std::to_chars(buf, buf + sizeof buf, n.u);
    else if (v.vt == kPlatVtR4) r = std::to_chars(buf, buf + sizeof buf, v.r4, std::chars_format::general, 7);
    else r = std::to_chars(buf, buf + sizeof buf, n.r, std::chars_format::general, 15);
  }
  PlatBstr s = StringOfText(buf, size_t(r.ptr - buf));
  if (!s) return kPlatOutOfMemory;
  out->vt = kPlatVtBstr;
  out->bstr = s;
  return kPlatOk;
}

// A number or Boolean from text: blanks around it, "True" and "False" in any
// case, or a decimal number.
PlatHResult NumberOfText(const uint16_t* s, Number* n) {
  const uint32_t len = PlatBstrLength(s);
  char buf[128];
  if (len >= sizeof buf) return kPlatDispTypeMismatch;
  uint32_t k = 0;
  for (uint32_t i = 0; i < len; ++i) {
    if (s[i] > 0x7E) return kPlatDispTypeMismatch;
    buf[k++] = char(s[i]);
  }
  const char* b = buf;
  const char* e = buf + k;
  while (b < e && (*b == ' ' || *b == '\t')) ++b;
  while (e > b && (e[-1] == ' ' || e[-1] == '\t')) --e;
  const size_t n0 = size_t(e - b);
  auto same = [&](const char* word) {
    return n0 == std::strlen(word) && strncasecmp(b, word, n0) == 0;
  };
  if (same("true")) {
    *n = {Number::kSigned, -1, 0, 0};
    return kPlatOk;
  }
  if (same("false")) {
    *n = {Number::kSigned, 0, 0, 0};
    return kPlatOk;
  }
  if (b < e && *b == '+') ++b;
  int64_t i = 0;
  auto ri = std::from_chars(b, e, i);
  if (ri.ec == std::errc() && ri.ptr == e && b < e) {
    *n = {Number::kSigned, i, 0, 0};
    return kPlatOk;
  }
  double d = 0;
  auto rd = std::from_chars(b, e, d);
  if (rd.ec == std::errc::result_out_of_range) return kPlatDispOverflow;
  if (rd.ec != std::errc() || rd.ptr != e || b == e) return kPlatDispTypeMismatch;
  *n = {Number::kReal, 0, 0, d};
  return kPlatOk;
}

// A zero or empty value of the type, for an empty source.
PlatHResult ZeroOf(uint16_t vt, PlatVariant* out) {
  PlatVariant v{};
  v.vt = vt;
  if (vt == kPlatVtBstr) {
    v.bstr = PlatBstrAlloc(nullptr, 0);
    if (!v.bstr) return kPlatOutOfMemory;
  } else if (!IsNumberType(vt) && vt != kPlatVtEmpty && vt != kPlatVtDispatch && vt != kPlatVtUnknown) {
    return kPlatDispTypeMismatch;
  }
  *out = v;
  return kPlatOk;
}

// Whether a type word is one a variant may hold.
bool KnownType(uint16_t vt) {
  const uint16_t base = vt & kPlatVtTypeMask;
  if (vt & ~(kPlatVtTypeMask | kPlatVtArray | kPlatVtByRef)) return false;
  if (vt & kPlatVtArray) return PlatSafeArrayElementSize(base) != 0;
  if (vt & kPlatVtByRef) return ValueSize(base) != 0;
  return base == kPlatVtEmpty || base == kPlatVtNull || (ValueSize(base) != 0 && base != kPlatVtVariant);
}

// A by-reference variant as the plain value it refers to (no copies made:
// the result borrows).  kPlatInvalidArg for null storage.
PlatHResult Deref(const PlatVariant* src, PlatVariant* plain) {
  const uint16_t base = src->vt & ~kPlatVtByRef;
  if (!src->byRef) return kPlatInvalidArg;
  if (base == kPlatVtVariant) {
    const auto* inner = static_cast<const PlatVariant*>(src->byRef);
    if (inner->vt & kPlatVtByRef || inner->vt == kPlatVtVariant) return kPlatDispBadVarType;
    *plain = *inner;
    return kPlatOk;
  }
  PlatVariant v{};
  v.vt = base;
  const uint32_t size = (base & kPlatVtArray) ? 4 : ValueSize(base);
  if (!size) return kPlatDispBadVarType;
  std::memcpy(&v.i8, src->byRef, size);
  *plain = v;
  return kPlatOk;
}

PlatHResult ChangePlain(const PlatVariant& s, uint16_t vt, PlatVariant* out) {
  if (s.vt == vt) return PlatVariantCopy(out, &s);
  if (s.vt == kPlatVtEmpty) return ZeroOf(vt, out);
  if (s.vt == kPlatVtNull || vt == kPlatVtNull || (s.vt & kPlatVtArray) || s.vt == kPlatVtError ||
      vt == kPlatVtError)
    return kPlatDispTypeMismatch;
  if (vt == kPlatVtEmpty) {
    PlatVariantInit(out);
    return kPlatOk;
  }
  if (IsNumberType(s.vt)) {
    if (IsNumberType(vt)) return StoreNumber(NumberOf(s), vt, out);
    if (vt == kPlatVtBstr) return TextOfNumber(s, out);
    return kPlatDispTypeMismatch;
  }
  if (s.vt == kPlatVtBstr) {
    if (!IsNumberType(vt)) return kPlatDispTypeMismatch;
    Number n{};
    if (PlatHResult r = NumberOfText(s.bstr, &n); r != kPlatOk) return r;
    return StoreNumber(n, vt, out);
  }
  if ((s.vt == kPlatVtDispatch || s.vt == kPlatVtUnknown) && (vt == kPlatVtDispatch || vt == kPlatVtUnknown)) {
    PlatVariant v{};
    v.vt = vt;
    if (s.unknown) {
      const PlatGuid& iid = vt == kPlatVtDispatch ? kPlatIidDispatch : kPlatIidUnknownRecord;
      void* p = nullptr;
      if (PlatHResult r = PlatComQuery(s.unknown, iid, &p); !PlatSucceeded(r) || !p)
        return kPlatDispTypeMismatch;
      v.unknown = static_cast<PlatComUnknown*>(p);
    }
    *out = v;
    return kPlatOk;
  }
  return kPlatDispTypeMismatch;
}

// ---- Safe arrays ----------------------------------------------------------------------

bool ElementsOwnValues(uint16_t vt) {
  return vt == kPlatVtBstr || vt == kPlatVtVariant || vt == kPlatVtDispatch || vt == kPlatVtUnknown;
}

// The element count of the bounds, or false when it overflows 32 bits.
bool CountOf(uint32_t dims, const PlatSafeArrayBound* bounds, uint32_t* count) {
  uint64_t n = 1;
  for (uint32_t d = 0; d < dims; ++d) {
    n *= bounds[d].count;
    if (n > 0xFFFFFFFFu) return false;
  }
  *count = uint32_t(n);
  return true;
}

// Whether every index of the bounds is a 32-bit index.
bool Addressable(uint32_t dims, const PlatSafeArrayBound* bounds) {
  for (uint32_t d = 0; d < dims; ++d)
    if (int64_t(bounds[d].lower) + int64_t(bounds[d].count) - 1 > INT32_MAX) return false;
  return true;
}

// The byte offset of an element, or -1 outside the bounds or the block.
// The stride is capped past the block's element count, so no product
// overflows: an index that would step past the block fails at once.
int64_t OffsetOf(const PlatSafeArray* a, const int32_t* indexes) {
  const uint64_t limit = a->dataBytes / a->elemSize;
  uint64_t flat = 0;
  uint64_t stride = 1;
  for (uint32_t d = 0; d < a->dims; ++d) {
    const int64_t i = int64_t(indexes[d]) - a->bounds[d].lower;
    if (i < 0 || uint64_t(i) >= a->bounds[d].count) return -1;
    if (i) {
      if (stride >= limit) return -1;
      flat += uint64_t(i) * stride;
      if (flat >= limit) return -1;
    }
    stride *= a->bounds[d].count;
    if (stride > limit) stride = limit + 1;
  }
  if (flat >= limit) return -1;
  return int64_t(flat * a->elemSize);
}

// Frees the value of one element in place.
void FreeElement(uint16_t vt, void* at) {
  switch (vt) {
    case kPlatVtBstr: {
      PlatBstr s;
      std::memcpy(&s, at, 4);
      PlatBstrFree(s);
      break;
    }
    case kPlatVtDispatch:
    case kPlatVtUnknown: {
      void* p;
      std::memcpy(&p, at, 4);
      if (p) PlatComRelease(p);
      break;
    }
    case kPlatVtVariant:
      PlatVariantClear(static_cast<PlatVariant*>(at));
      break;
    default:
      break;
  }
  std::memset(at, 0, PlatSafeArrayElementSize(vt));
}

// Copies one element's value from src into dst (uninitialised storage).
PlatHResult CopyElement(uint16_t vt, const void* src, void* dst) {
  switch (vt) {
    case kPlatVtBstr: {
      PlatBstr s;
      std::memcpy(&s, src, 4);
      PlatBstr c = CopyString(s);
      if (s && !c) return kPlatOutOfMemory;
      std::memcpy(dst, &c, 4);
      return kPlatOk;
    }
    case kPlatVtDispatch:
    case kPlatVtUnknown: {
      void* p;
      std::memcpy(&p, src, 4);
      if (p) PlatComAddRef(p);
      std::memcpy(dst, &p, 4);
      return kPlatOk;
    }
    case kPlatVtVariant:
      PlatVariantInit(static_cast<PlatVariant*>(dst));
      return PlatVariantCopy(static_cast<PlatVariant*>(dst), static_cast<const PlatVariant*>(src));
    default:
      std::memcpy(dst, src, PlatSafeArrayElementSize(vt));
      return kPlatOk;
  }
}

bool DescriptorOk(const PlatSafeArray* a) {
  return a && a->dims >= 1 && a->dims <= kPlatSafeArrayMaxDims && a->elemSize != 0 &&
         a->elemSize == PlatSafeArrayElementSize(a->vt) && (a->data || a->dataBytes == 0);
}

}  // namespace

// ---- Task memory --------------------------------------------------------------------

void* PlatTaskMemAlloc(uint32_t size) { return std::malloc(size ? size : 1); }
void PlatTaskMemFree(void* block) { std::free(block); }

// ---- Wide strings ---------------------------------------------------------------------

PlatBstr PlatBstrAlloc(const uint16_t* chars, uint32_t length) {
  PlatBstr s = NewString(length);
  if (!s) return nullptr;
  if (chars) std::memcpy(s, chars, 2 * size_t(length));
  else std::memset(s, 0, 2 * size_t(length));
  return s;
}

void PlatBstrFree(PlatBstr s) {
  if (!s) return;
  gLiveStrings.fetch_sub(1, std::memory_order_relaxed);
  std::free(StringHead(s));
}

uint32_t PlatBstrLength(const uint16_t* s) { return s ? *StringHead(s) / 2 : 0; }

PlatBstr PlatBstrFromText(const char* text, uint32_t length) {
  PlatBstr s = NewString(length);
  if (!s) return nullptr;
  for (uint32_t i = 0; i < length; ++i) s[i] = uint16_t(PlatCp1252ToUnicode(uint8_t(text[i])));
  return s;
}

uint32_t PlatBstrToText(const uint16_t* chars, uint32_t length, char* out, uint32_t max) {
  const uint32_t n = length < max ? length : max;
  for (uint32_t i = 0; i < n; ++i) {
    const int32_t b = PlatUnicodeToCp1252(chars[i]);
    out[i] = b < 0 ? '?' : char(b);
  }
  return n;
}

int32_t PlatBstrLiveCount() { return gLiveStrings.load(); }

// ---- Variants ---------------------------------------------------------------------

void PlatVariantInit(PlatVariant* v) { std::memset(v, 0, sizeof *v); }

PlatHResult PlatVariantClear(PlatVariant* v) {
  if (!v) return kPlatInvalidArg;
  if (!KnownType(v->vt)) return kPlatDispBadVarType;
  if (!(v->vt & kPlatVtByRef)) {
    if (v->vt & kPlatVtArray) {
      if (PlatHResult r = PlatSafeArrayDestroy(v->array); r != kPlatOk) return r;
    } else if (v->vt == kPlatVtBstr) {
      PlatBstrFree(v->bstr);
    } else if ((v->vt == kPlatVtDispatch || v->vt == kPlatVtUnknown) && v->unknown) {
      PlatComRelease(v->unknown);
    }
  }
  PlatVariantInit(v);
  return kPlatOk;
}

PlatHResult PlatVariantCopy(PlatVariant* dst, const PlatVariant* src) {
  if (!dst || !src) return kPlatInvalidArg;
  if (!KnownType(src->vt)) return kPlatDispBadVarType;
  PlatVariant v = *src;
  if (!(v.vt & kPlatVtByRef)) {
    if (v.vt & kPlatVtArray) {
      v.array = nullptr;
      if (src->array) {
        if (PlatHResult r = PlatSafeArrayCopy(src->array, &v.array); r != kPlatOk) return r;
      }
    } else if (v.vt == kPlatVtBstr) {
      v.bstr = CopyString(src->bstr);
      if (src->bstr && !v.bstr) return kPlatOutOfMemory;
    } else if ((v.vt == kPlatVtDispatch || v.vt == kPlatVtUnknown) && v.unknown) {
      PlatComAddRef(v.unknown);
    }
  }
  if (dst != src) {
    if (PlatHResult r = PlatVariantClear(dst); r != kPlatOk) {
      PlatVariantClear(&v);
      return r;
    }
  }
  *dst = v;
  return kPlatOk;
}

PlatHResult PlatVariantCopyInd(PlatVariant* dst, const PlatVariant* src) {
  if (!dst || !src) return kPlatInvalidArg;
  if (!(src->vt & kPlatVtByRef)) return PlatVariantCopy(dst, src);
  if (!KnownType(src->vt)) return kPlatDispBadVarType;
  PlatVariant plain{};
  if (PlatHResult r = Deref(src, &plain); r != kPlatOk) return r;
  return PlatVariantCopy(dst, &plain);
}

PlatHResult PlatVariantChangeType(PlatVariant* dst, const PlatVariant* src, uint16_t /*flags*/, uint16_t vt) {
  if (!dst || !src) return kPlatInvalidArg;
  if (!KnownType(src->vt)) return kPlatDispBadVarType;
  if (vt != kPlatVtEmpty && vt != kPlatVtNull && (vt & kPlatVtByRef || vt == kPlatVtVariant || !KnownType(vt)))
    return kPlatDispBadVarType;
  if ((vt & kPlatVtArray) && vt != src->vt) return kPlatDispTypeMismatch;
  PlatVariant plain = *src;
  if (src->vt & kPlatVtByRef) {
    if (PlatHResult r = Deref(src, &plain); r != kPlatOk) return r;
  }
  PlatVariant v{};
  if (PlatHResult r = ChangePlain(plain, vt, &v); r != kPlatOk) return r;
  if (dst != src) {
    if (PlatHResult r = PlatVariantClear(dst); r != kPlatOk) {
      PlatVariantClear(&v);
      return r;
    }
  } else {
    // In place: the source's own value goes (its copy lives in v).
    PlatVariantClear(dst);
  }
  *dst = v;
  return kPlatOk;
}

// ---- Safe arrays --------------------------------------------------------------------

uint32_t PlatSafeArrayElementSize(uint16_t vt) {
  switch (vt) {
    case kPlatVtI1: case kPlatVtUI1: case kPlatVtI2: case kPlatVtUI2: case kPlatVtI4: case kPlatVtUI4:
    case kPlatVtI8: case kPlatVtUI8: case kPlatVtInt: case kPlatVtUInt: case kPlatVtR4: case kPlatVtR8:
    case kPlatVtCy: case kPlatVtDate: case kPlatVtBool: case kPlatVtError: case kPlatVtBstr:
    case kPlatVtDispatch: case kPlatVtUnknown: case kPlatVtVariant:
      return ValueSize(vt);
    default:
      return 0;
  }
}

PlatSafeArray* PlatSafeArrayCreate(uint16_t vt, uint32_t dims, const PlatSafeArrayBound* bounds) {
  const uint32_t es = PlatSafeArrayElementSize(vt);
  uint32_t count = 0;
  if (!es || !bounds || dims < 1 || dims > kPlatSafeArrayMaxDims || !CountOf(dims, bounds, &count) ||
      !Addressable(dims, bounds))
    return nullptr;
  const uint64_t bytes = uint64_t(count) * es;
  if (bytes > 0x7FFFFFFFu) return nullptr;
  auto* a = static_cast<PlatSafeArray*>(std::calloc(1, offsetof(PlatSafeArray, bounds) + dims * sizeof(PlatSafeArrayBound)));
  if (!a) return nullptr;
  a->data = std::calloc(bytes ? size_t(bytes) : 1, 1);
  if (!a->data) {
    std::free(a);
    return nullptr;
  }
  a->dims = uint16_t(dims);
  a->vt = vt;
  a->elemSize = es;
  a->dataBytes = uint32_t(bytes);
  std::memcpy(a->bounds, bounds, dims * sizeof(PlatSafeArrayBound));
  gLiveArrays.fetch_add(1, std::memory_order_relaxed);
  return a;
}

PlatHResult PlatSafeArrayDestroy(PlatSafeArray* a) {
  if (!a) return kPlatOk;
  if (a->locks) return kPlatDispArrayLocked;
  if (ElementsOwnValues(a->vt) && a->elemSize == PlatSafeArrayElementSize(a->vt) && a->data) {
    auto* p = static_cast<uint8_t*>(a->data);
    for (uint32_t off = 0; off + a->elemSize <= a->dataBytes; off += a->elemSize) FreeElement(a->vt, p + off);
  }
  std::free(a->data);
  std::free(a);
  gLiveArrays.fetch_sub(1, std::memory_order_relaxed);
  return kPlatOk;
}

PlatHResult PlatSafeArrayLock(PlatSafeArray* a) {
  if (!a) return kPlatInvalidArg;
  ++a->locks;
  return kPlatOk;
}

PlatHResult PlatSafeArrayUnlock(PlatSafeArray* a) {
  if (!a || !a->locks) return kPlatInvalidArg;
  --a->locks;
  return kPlatOk;
}

PlatHResult PlatSafeArrayGetBounds(const PlatSafeArray* a, uint32_t dim, int32_t* lower, int32_t* upper) {
  if (!a || !lower || !upper) return kPlatInvalidArg;
  if (dim < 1 || dim > a->dims) return kPlatDispBadIndex;
  const PlatSafeArrayBound& b = a->bounds[dim - 1];
  *lower = b.lower;
  *upper = int32_t(int64_t(b.lower) + int64_t(b.count) - 1);
  return kPlatOk;
}

PlatHResult PlatSafeArrayCount(const PlatSafeArray* a, uint32_t* count) {
  if (!DescriptorOk(a) || !count) return kPlatInvalidArg;
  uint32_t n = 0;
  if (!CountOf(a->dims, a->bounds, &n)) return kPlatOutOfMemory;
  if (uint64_t(n) * a->elemSize > a->dataBytes || !Addressable(a->dims, a->bounds)) return kPlatInvalidArg;
  *count = n;
  return kPlatOk;
}

PlatHResult PlatSafeArrayPutElement(PlatSafeArray* a, const int32_t* indexes, const void* value) {
  if (!DescriptorOk(a) || !indexes || !value) return kPlatInvalidArg;
  const int64_t off = OffsetOf(a, indexes);
  if (off < 0) return kPlatDispBadIndex;
  uint8_t fresh[16];
  if (PlatHResult r = CopyElement(a->vt, value, fresh); r != kPlatOk) return r;
  void* at = static_cast<uint8_t*>(a->data) + off;
  if (ElementsOwnValues(a->vt)) FreeElement(a->vt, at);
  std::memcpy(at, fresh, a->elemSize);
  return kPlatOk;
}

PlatHResult PlatSafeArrayGetElement(const PlatSafeArray* a, const int32_t* indexes, void* value) {
  if (!DescriptorOk(a) || !indexes || !value) return kPlatInvalidArg;
  const int64_t off = OffsetOf(a, indexes);
  if (off < 0) return kPlatDispBadIndex;
  return CopyElement(a->vt, static_cast<const uint8_t*>(a->data) + off, value);
}

PlatHResult PlatSafeArrayCopy(const PlatSafeArray* a, PlatSafeArray** out) {
  if (!out) return kPlatInvalidArg;
  *out = nullptr;
  uint32_t count = 0;
  if (PlatHResult r = PlatSafeArrayCount(a, &count); r != kPlatOk) return r;
  PlatSafeArray* c = PlatSafeArrayCreate(a->vt, a->dims, a->bounds);
  if (!c) return kPlatOutOfMemory;
  if (!ElementsOwnValues(a->vt)) {
    std::memcpy(c->data, a->data, size_t(count) * a->elemSize);
  } else {
    const auto* s = static_cast<const uint8_t*>(a->data);
    auto* d = static_cast<uint8_t*>(c->data);
    for (uint32_t i = 0; i < count; ++i) {
      if (PlatHResult r = CopyElement(a->vt, s + i * a->elemSize, d + i * a->elemSize); r != kPlatOk) {
        PlatSafeArrayDestroy(c);
        return r;
      }
    }
  }
  *out = c;
  return kPlatOk;
}

int32_t PlatSafeArrayLiveCount() { return gLiveArrays.load(); }
