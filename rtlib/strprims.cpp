// Cutting, joining, choosing and stripping strings; counted strings to and
// from C and Pascal strings; numbers as fixed-width text.
#include "rtlib/strprims.h"

#include <cstring>

#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "rtlib/rtstrings.h"

namespace {

// A byte run handed over as a length and a pointer: none when either is
// missing or the length is negative.
struct Run {
  const uChar* p;
  int32 n;
};
Run MakeRun(int32 length, const uChar* bytes) {
  if (!bytes || length <= 0) return {nullptr, 0};
  return {bytes, length};
}

bool StartsWith(Run s, Run prefix) { return prefix.n <= s.n && (prefix.n == 0 || !std::memcmp(s.p, prefix.p, size_t(prefix.n))); }

// Element i of a checked string array, or false when the element's handle is
// refused.
bool ArrayElement(LStrArrayHandle a, int32 i, Run* r) {
  const uChar* bytes;
  int32 n;
  if (!RTReadString((*a)->elt[i], &bytes, &n)) return false;
  *r = {bytes, n};
  return true;
}

}  // namespace

// ---- Cutting and joining ----------------------------------------------------

MgErr SubString(LStrHandle string, int32 offset, int32 length, LStrHandle* out) {
  if (!out) return kArgErr;
  const uChar* s;
  int32 n;
  if (!RTReadString(string, &s, &n)) return kArgErr;
  if (offset < 0) offset = 0;
  if (offset > n) offset = n;
  if (length < 0) length = 0;
  if (length > n - offset) length = n - offset;
  return RTSetString(out, s ? s + offset : nullptr, length);
}

MgErr SplitString(LStrHandle string, int32 offset, LStrHandle searchString, LStrHandle* beforeOut,
                  LStrHandle* afterOut, int32* positionOut) {
  const uChar *s, *k;
  int32 n, nk;
  if (!RTReadString(string, &s, &n) || !RTReadString(searchString, &k, &nk)) return kArgErr;
  int32 p = offset < 0 ? 0 : offset;
  if (nk > 0)
    while (p < n && s[p] != k[0]) ++p;
  int32 position = p < n ? p : -1;
  int32 split = p < n ? p : n;
  RTStringOut outs[2] = {{beforeOut, {{s, split}, {nullptr, 0}}}, {afterOut, {{s ? s + split : nullptr, n - split}, {nullptr, 0}}}};
  if (MgErr err = RTSetStrings(outs, 2)) return err;
  if (positionOut) *positionOut = position;
  return kNoErr;
}

MgErr IndexConcat(LStrHandle string, int32 index, LStrArrayHandle stringArray, LStrHandle* out) {
  if (!out) return kArgErr;
  const uChar* s;
  int32 n, count;
  if (!RTReadString(string, &s, &n) || !RTReadStringArray(stringArray, &count)) return kArgErr;
  Run e{nullptr, 0};
  if (index >= 0 && index < count && !ArrayElement(stringArray, index, &e)) return kArgErr;
  return RTSetJoined(out, s, n, e.p, e.n);
}

MgErr SelectConcat(LStrHandle string, int32 selector, LStrHandle trueString, LStrHandle falseString,
                   LStrHandle* out) {
  if (!out) return kArgErr;
  const uChar *s, *t;
  int32 n, nt;
  if (!RTReadString(string, &s, &n) || !RTReadString(selector ? trueString : falseString, &t, &nt)) return kArgErr;
  return RTSetJoined(out, s, n, t, nt);
}

MgErr IndexLineConcat(int32 prefixLength, const uChar* prefixBytes, int32 lineIndex, int32 textLength,
                      const uChar* textBytes, LStrHandle* out) {
  if (!out) return kArgErr;
  Run prefix = MakeRun(prefixLength, prefixBytes), text = MakeRun(textLength, textBytes);
  Run line{nullptr, 0};
  auto isEnd = [&](int32 j) { return text.p[j] == '\r' || text.p[j] == '\n'; };
  int32 at = lineIndex < 0 ? -1 : 0;
  for (int32 i = 0; at >= 0 && i < lineIndex; ++i) {
    while (at < text.n && !isEnd(at)) ++at;
    if (at >= text.n) {
      at = -1;  // fewer line ends than the index
      break;
    }
    at += (text.p[at] == '\r' && at + 1 < text.n && text.p[at + 1] == '\n') ? 2 : 1;
  }
  if (at >= 0 && at < text.n) {
    int32 end = at;
    while (end < text.n && !isEnd(end)) ++end;
    line = {text.p + at, end - at};
  }
  return RTSetJoined(out, prefix.p, prefix.n, line.p, line.n);
}

MgErr IndexStrip(int32 inputLength, const uChar* inputBytes, LStrArrayHandle stringArray, int32* indexOut,
                 LStrHandle* restOut) {
  Run in = MakeRun(inputLength, inputBytes);
  int32 count;
  if (!RTReadStringArray(stringArray, &count)) return kArgErr;
  int32 found = -1;
  Run rest = in;
  for (int32 i = 0; i < count; ++i) {
    Run e;
    if (!ArrayElement(stringArray, i, &e)) return kArgErr;
    if (StartsWith(in, e)) {
      found = i;
      rest = {in.p ? in.p + e.n : nullptr, in.n - e.n};
      break;
    }
  }
  if (restOut) {
    if (MgErr err = RTSetString(restOut, rest.p, rest.n)) return err;
  }
  if (indexOut) *indexOut = found;
  return kNoErr;
}

MgErr SelectStrip(int32 inputLength, const uChar* inputBytes, int32 trueLength, const uChar* trueBytes,
                  int32 falseLength, const uChar* falseBytes, uChar* boolOut, LStrHandle* restOut) {
  Run in = MakeRun(inputLength, inputBytes);
  Run t = MakeRun(trueLength, trueBytes), f = MakeRun(falseLength, falseBytes);
  uChar result = 0;
  Run rest = in;
  if (StartsWith(in, t)) {
    result = 1;
    rest = {in.p ? in.p + t.n : nullptr, in.n - t.n};
  } else if (StartsWith(in, f)) {
    rest = {in.p ? in.p + f.n : nullptr, in.n - f.n};
  }
  if (restOut) {
    if (MgErr err = RTSetString(restOut, rest.p, rest.n)) return err;
  }
  if (boolOut) *boolOut = result;
  return kNoErr;
}

// ---- Counted strings to and from C and Pascal strings -------------------------

namespace {

constexpr int32 kPascalMax = 255;

// The block of a handle of either zone: its size, or -1 when it is neither.
int32 HandleBlockSize(const void* h) {
  if (DSCheckHandle(h) == kNoErr) return DSGetHandleSize(static_cast<UHandle>(const_cast<void*>(h)));
  if (AZCheckHandle(h) == kNoErr) return AZGetHandleSize(static_cast<UHandle>(const_cast<void*>(h)));
  return -1;
}

}  // namespace

MgErr LStrToXStr(LStrHandle string, void* destination, int32 options) {
  if (!destination) return kArgErr;
  const uChar* s;
  int32 n;
  if (!RTReadString(string, &s, &n)) return kArgErr;
  bool pascal = options & kXStrPascal;
  if (pascal && n > kPascalMax) n = kPascalMax;
  int32 need = n + 1;  // the length byte or the NUL
  uChar* w;
  if (options & kXStrBuffer) {
    w = static_cast<uChar*>(destination);
  } else {
    UHandle* slot = static_cast<UHandle*>(destination);
    if (!*slot) {
      UHandle h = AZNewHandle(need);
      if (!h) return kMemFullErr;
      *slot = h;
    } else {
      if (AZCheckHandle(*slot) != kNoErr) return kArgErr;
      if (MgErr err = AZSetHandleSize(*slot, need)) return err;
    }
    w = reinterpret_cast<uChar*>(**slot);
  }
  if (pascal) {
    w[0] = uChar(n);
    if (n > 0) std::memmove(w + 1, s, size_t(n));
  } else {
    if (n > 0) std::memmove(w, s, size_t(n));
    w[n] = 0;
  }
  return kNoErr;
}

MgErr XStrToLStr(const void* source, LStrHandle* string, int32 options) {
  if (!string) return kArgErr;
  const uChar* p = nullptr;
  int32 limit = -1;  // bytes that may be read; -1: up to the terminator
  if (source && (options & kXStrBuffer)) {
    p = static_cast<const uChar*>(source);
  } else if (source) {
    int32 size = HandleBlockSize(source);
    if (size < 0) return kArgErr;
    p = *static_cast<const uChar* const*>(source);
    limit = p ? size : 0;
  }
  const uChar* bytes = nullptr;
  int32 n = 0;
  if (p && limit != 0) {
    if (options & kXStrPascal) {
      n = p[0];
      if (limit > 0 && n > limit - 1) n = limit - 1;
      bytes = p + 1;
    } else {
      size_t len = limit < 0 ? std::strlen(reinterpret_cast<const char*>(p))
                             : strnlen(reinterpret_cast<const char*>(p), size_t(limit));
      if (len > size_t(INT32_MAX - 4)) return kMemFullErr;
      n = int32(len);
      bytes = p;
    }
  }
  return RTSetString(string, bytes, n);
}

// ---- Numbers as fixed-width text ----------------------------------------------

namespace {

// NumToTextFmt writes into a buffer of this size.
constexpr int32 kNumText = 256;
constexpr int32 kMaxDigits = 63;
constexpr int32 kEngFirst = 100, kEngLast = 162;

// out = text padded on the left with pad up to width.
MgErr SetPadded(LStrHandle* out, int32 width, uChar pad, const char* text, int32 len) {
  if (!out) return kArgErr;
  int32 total = width > len ? width : len;
  uChar* w;
  if (MgErr err = RTSizeString(out, total, &w)) return err;
  std::memset(w, pad, size_t(total - len));
  std::memcpy(w + total - len, text, size_t(len));
  return kNoErr;
}

uInt32 Masked(int32 value, int32 size) {
  if (size == 1) return uInt32(value) & 0xFFu;
  if (size == 2) return uInt32(value) & 0xFFFFu;
  return uInt32(value);
}

MgErr MakeInteger(int32 width, uInt32 value, int32 numType, int32 code, uChar pad, LStrHandle* out) {
  char text[kNumText];
  int32 len = NumToTextFmt(&value, numType, code, text, kNumText, '.');
  return SetPadded(out, width, pad, text, len);
}

MgErr MakeReal(int32 width, int32 code, int32 useSystemPoint, LStrHandle* out, int32 type, const void* data) {
  if (!out) return kArgErr;
  if (!data || type < kNumI8 || type > kNumCXT) return kArgErr;
  char text[kNumText];
  int32 point = useSystemPoint ? NumDefaultDecimalPt() : '.';
  int32 len = NumToTextFmt(data, type, code, text, kNumText, point);
  return SetPadded(out, width, ' ', text, len);
}

}  // namespace

MgErr RTMakeHexStr(int32 width, int32 value, LStrHandle* out, int32 size) {
  return MakeInteger(width, Masked(value, size), kNumU32, kNumFmtHex, '0', out);
}

MgErr RTMakeOctStr(int32 width, int32 value, LStrHandle* out, int32 size) {
  return MakeInteger(width, Masked(value, size), kNumU32, kNumFmtOctal, '0', out);
}

MgErr RTMakeDecStr(int32 width, int32 value, LStrHandle* out) {
  return MakeInteger(width, uInt32(value), kNumI32, kNumFmtDecimal, ' ', out);
}

MgErr RTMakeUDecStr(int32 width, int32 value, LStrHandle* out) {
  return MakeInteger(width, uInt32(value), kNumU32, kNumFmtUnsigned, ' ', out);
}

MgErr RTMakeExpStr(int32 width, int32 precision, int32 useSystemPoint, LStrHandle* out, int32 type,
                   const void* data) {
  int32 code = precision < 0 ? 1 : (precision >= kMaxDigits ? kMaxDigits : precision + 1);
  return MakeReal(width, code, useSystemPoint, out, type, data);
}

MgErr RTMakeFraStr(int32 width, int32 precision, int32 useSystemPoint, LStrHandle* out, int32 type,
                   const void* data) {
  int32 digits = precision < 0 ? 0 : (precision > kMaxDigits ? kMaxDigits : precision);
  return MakeReal(width, -digits, useSystemPoint, out, type, data);
}

MgErr RTMakeEngStr(int32 width, int32 precision, int32 useSystemPoint, LStrHandle* out, int32 type,
                   const void* data) {
  int32 code = precision > kEngLast - kEngFirst ? kEngLast : (precision < 0 ? kEngFirst : precision + kEngFirst);
  return MakeReal(width, code, useSystemPoint, out, type, data);
}
