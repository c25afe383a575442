// Format Into String: the measuring and writing passes over a format string,
// and the two entry points of compiled diagrams.
#include "rtlib/strformat.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "engine/datamgr.h"
#include "mgsource/blockmove.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/path.h"
#include "mgsource/textoffset.h"
#include "rtlib/units.h"

namespace {

constexpr int32 kStepFont = 0;
// Numbers are turned into text in a work buffer of this size on the stack.
constexpr int32 kNumWork = 1024;
constexpr int32 kUnitTextMax = 255;
constexpr int32 kDefaultPrecision = 6;
constexpr int32 kMaxPrecision = 63;
constexpr int32 kMaxExpCode = 63;
constexpr int32 kMaxEngCode = 162;
// NumToTextFmt writes a fixed form with more integer digits than this in the
// exponent form.
constexpr int32 kMaxFixedIntDigits = 307;
// A path's text up to this length is made on the stack.
constexpr int32 kPathStackText = 1024;

// One argument: its type and data.
struct Arg {
  const TypeDescriptor* td;
  const void* data;
};

// The arguments of one pass: the single value of the single-argument form
// (taken by its first specifier only) or the pairs of a list in order.
class ArgSource {
 public:
  ArgSource(const TypeDescriptor* td, const void* data, int32 argCount)
      : td_(td), data_(data), count_(argCount < 0 ? 0 : argCount) {
    if (count_ > 0) list_ = static_cast<const FmtArgList*>(data);
  }
  bool Next(Arg* a) {
    if (count_ == 0) {
      if (used_) return false;
      used_ = true;
      *a = {td_, data_};
      return true;
    }
    if (!list_ || next_ >= count_) return false;
    const FmtArg& p = list_->args[next_++];
    *a = {p.type, p.data};
    return true;
  }

 private:
  const TypeDescriptor* td_;
  const void* data_;
  int32 count_;
  const FmtArgList* list_ = nullptr;
  int32 next_ = 0;
  bool used_ = false;
};

// What one specifier writes for its argument: a number, bytes of text or a
// path's text, padded in a field, then for a float form of a value with a
// unit a space and the unit text.
// Planned in place and never copied (value may point into tmp); PlanField
// sets what the kind needs.
struct Field {
  enum Kind { kNone, kNumber, kText, kPath } kind;
  int32 numType;
  const void* value;
  int32 code;
  const uChar* text;
  int32 textLen;
  LStrHandle handle;  // a string's text: read through it when written
  Path path;
  int32 limit;  // a path's text: at most this many characters (0: all)
  bool plusOK;
  bool zeroOK;
  int32 unitLen;  // -1: no unit written
  uChar unit[kUnitTextMax + 1];
  // A converted or boolean value: a complex double at most.
  alignas(8) uChar tmp[16];
};

// Length in bytes of at most max characters of the text, double-byte
// characters kept whole.
int32 CharsPrefix(const uChar* text, int32 len, int32 max) {
  if (max <= 0 || max >= len) return len;
  int32 at = 0;
  for (int32 n = 0; n < max && at < len; ++n) {
    int32 next = TNextCharOffset(text, at, kStepFont);
    if (next <= at || next > len) break;
    at = next;
  }
  return at;
}

int32 Precision(const FmtItem& it) {
  if (it.precision < 0) return kDefaultPrecision;
  return it.precision > kMaxPrecision ? kMaxPrecision : it.precision;
}

int32 ExpCode(const FmtItem& it, int32 p) {
  if (it.flags & kFmtFlagEng) return 100 + p > kMaxEngCode ? kMaxEngCode : 100 + p;
  return p + 1 > kMaxExpCode ? kMaxExpCode : p + 1;
}

long double LoadExt(int32 type, const void* p) {
  long double x = 0;
  ConvertNum(type, p, kNumEXT, &x);
  return x;
}

// The decimal exponent that chooses the form of "g": the integer part of
// log10 of the magnitude, one less when that part is below 1; a zero counts
// 1, an infinite or NaN value 7 in extended precision and 3 otherwise.
int32 DecimalExponent(long double x, bool extended) {
  if (x == 0) return 1;
  if (std::isnan(x) || std::isinf(x)) return extended ? 7 : 3;
  long double l = log10l(fabsl(x));
  // A power of ten stored in binary lies a rounding away from it: its
  // logarithm is taken as the whole number it stands for.
  long double whole = nearbyintl(l);
  if (fabsl(l - whole) < 1e-15L) l = whole;
  // Finite numbers lie within 10^-4951 .. 10^4933; anything else is kept in
  // range before it becomes an integer.
  if (!(l > -5000 && l < 5000)) l = l < 0 ? -5000 : 5000;
  int32 e = int32(truncl(l));
  return e < 1 ? e - 1 : e;
}

bool GWantsExponent(int32 numType, const void* value, int32 p) {
  bool complex = NumClass(numType) == kNumClassComplex;
  int32 part = complex ? numType - 3 : numType;
  bool ext = part == kNumEXT;
  int32 e = DecimalExponent(LoadExt(part, value), ext);
  if (e < -4 || e > p) return true;
  if (!complex) return false;
  e = DecimalExponent(LoadExt(part, static_cast<const uChar*>(value) + NumSize(part)), ext);
  return e < -4 || e > p;
}

// The NumToTextFmt code a conversion writes a number with.
int32 NumberCode(const FmtItem& it, int32 numType, const void* value) {
  if (int32 ic = FmtIntegerCode(it.conv)) return ic;
  int32 p = Precision(it);
  if (it.conv == 'e' || FmtIsTextConv(it.conv)) return ExpCode(it, p);
  if (it.conv == 'g' && GWantsExponent(numType, value, p)) return ExpCode(it, p);
  return -p;
}

// The most characters NumToTextFmt writes for one part of value x in code.
int32 PartBound(long double x, int32 code) {
  switch (code) {
    case kNumFmtDecimal: return 11;
    case kNumFmtUnsigned: return 10;
    case kNumFmtHex: return 8;
    case kNumFmtOctal: return 11;
    case kNumFmtBinary: return 32;
    default: break;
  }
  // Sign, point, "E", exponent sign and up to 4 exponent digits around the
  // digits; engineering notation may show up to 3 digits before the point.
  if (code >= kNumFmtEngFirst) {
    int32 n = code - 99 + 1;
    return (n < 3 ? 3 : n) + 8;
  }
  if (code > 0) return code + 8;
  int32 k = -code;
  int32 digits = 1;
  if (std::isfinite(x) && fabsl(x) >= 1) {
    // |x| < 2^(e+1): at most (e+1) log10(2) + 1 digits, one more when
    // rounding carries.
    int32 e = ilogbl(x);
    digits = int32((int64(e) + 1) * 30103 / 100000) + 2;
    if (digits > kMaxFixedIntDigits + 1) digits = kMaxFixedIntDigits + 1;
  }
  int32 fixed = 1 + digits + 1 + k;
  int32 fallback = k + 1 + 8;  // the exponent form of too long a fixed form
  return fixed > fallback ? fixed : fallback;
}

int32 NumberBound(int32 numType, const void* value, int32 code) {
  if (NumClass(numType) != kNumClassComplex) {
    long double x = code <= 0 ? LoadExt(numType, value) : 0;
    return PartBound(x, code);
  }
  int32 part = numType - 3;
  long double re = code <= 0 ? LoadExt(part, value) : 0;
  long double im = code <= 0 ? LoadExt(part, static_cast<const uChar*>(value) + NumSize(part)) : 0;
  return PartBound(re, code) + PartBound(im, code) + 4;  // " +" and " i"
}

// The name of enum item index (the value pinned to the items); an empty
// name when the descriptor holds none.
void EnumName(const TypeDescriptor* td, uInt32 value, const uChar** name, int32* len) {
  *name = nullptr;
  *len = 0;
  int32 count = FmtEnumCount(td);
  if (count <= 0) return;
  uInt32 index = value >= uInt32(count) ? uInt32(count - 1) : value;
  FmtEnumWalk walk(td);
  for (uInt32 i = 0; walk.Next(name, len); ++i)
    if (i == index) return;
  *name = nullptr;
  *len = 0;
}

uInt32 EnumValue(int32 numType, const void* data) { return NumToULong(numType, data); }

// The unit label of a unit numeric's own type, cut to 255 characters.
int32 TypeUnitLabel(const TypeDescriptor* td, uChar* out) {
  const int16* dims = reinterpret_cast<const int16*>(reinterpret_cast<const uChar*>(td) + 4);
  int32 n = UnitRecToText(dims, nullptr);
  if (n <= 0) return 0;
  char small[1024];
  std::unique_ptr<char[]> big;
  char* text = small;
  if (n >= int32(sizeof small)) {
    big.reset(new (std::nothrow) char[size_t(n) + 1]);
    if (!big) return 0;
    text = big.get();
  }
  UnitRecToText(dims, text);
  int32 k = n > kUnitTextMax ? kUnitTextMax : n;
  std::memcpy(out, text, size_t(k));
  return k;
}

// The unit of a numeric with a unit: a compatible unit in braces converts
// the value to a double (or complex double) in that unit; an incompatible
// one leaves it in base units and shows "?" before its text; without braces
// the type's own label is shown.
void PlanUnit(const uChar* fmt, const FmtItem& it, const Arg& a, Field* f) {
  if (it.unitStart < 0) {
    f->unitLen = TypeUnitLabel(a.td, f->unit);
    return;
  }
  char given[kUnitTextMax + 1];
  int32 n = it.unitLen > kUnitTextMax ? kUnitTextMax : it.unitLen;
  std::memcpy(given, fmt + it.unitStart, size_t(n));
  given[n] = 0;
  float64 offset = 0, scale = 0;
  if (ParseUnitForDims(given, &offset, &scale, a.td) == 1 && scale != 0) {
    bool complex = NumClass(f->numType) == kNumClassComplex;
    float64 v[2];
    ConvertNum(f->numType, f->value, complex ? kNumCDB : kNumDBL, v);
    v[0] = v[0] / scale - offset;
    if (complex) v[1] = v[1] / scale;
    std::memcpy(f->tmp, v, complex ? 16 : 8);
    f->numType = complex ? kNumCDB : kNumDBL;
    f->value = f->tmp;
    std::memcpy(f->unit, given, size_t(n));
    f->unitLen = n;
    return;
  }
  f->unit[0] = '?';
  int32 k = n > kUnitTextMax - 1 ? kUnitTextMax - 1 : n;
  std::memcpy(f->unit + 1, given, size_t(k));
  f->unitLen = k + 1;
}

// Decides what a specifier writes for its argument.
void PlanField(const uChar* fmt, const FmtItem& it, const Arg& a, Field* f) {
  f->kind = Field::kNone;
  f->unitLen = -1;
  f->plusOK = true;
  f->zeroOK = false;
  f->text = nullptr;
  f->textLen = 0;
  f->handle = nullptr;
  if (!a.td || !a.data) return;
  int32 code = a.td->code;
  bool textConv = FmtIsTextConv(it.conv);
  switch (FmtClassOf(code)) {
    case kFmtClassNone:
      return;
    case kFmtClassString: {
      LStrHandle h = *static_cast<const LStrHandle*>(a.data);
      const LStr* s = h ? *h : nullptr;
      f->kind = Field::kText;
      f->handle = h;
      f->text = s ? s->str : nullptr;
      f->textLen = LStrLen(s);
      if (it.precision >= 1) f->textLen = CharsPrefix(f->text, f->textLen, it.precision);
      return;
    }
    case kFmtClassPath:
      f->kind = Field::kPath;
      f->path = *static_cast<const Path*>(a.data);
      f->limit = it.precision > 0 ? it.precision : 0;
      f->plusOK = false;
      f->zeroOK = true;
      return;
    case kFmtClassBoolean: {
      bool on = *static_cast<const uChar*>(a.data) != 0;
      if (textConv) {
        f->kind = Field::kText;
        f->text = reinterpret_cast<const uChar*>(on ? "TRUE" : "FALSE");
        f->textLen = on ? 4 : 5;
        return;
      }
      // 0 or 1: unsigned 32-bit under the integer conversions, else 8-bit.
      f->kind = Field::kNumber;
      f->zeroOK = true;
      f->value = f->tmp;
      if (FmtIntegerCode(it.conv)) {
        uInt32 v = on;
        std::memcpy(f->tmp, &v, 4);
        f->numType = kNumU32;
      } else {
        f->tmp[0] = on;
        f->numType = kNumU8;
      }
      f->code = NumberCode(it, f->numType, f->value);
      return;
    }
    case kFmtClassEnum:
      if (textConv) {
        f->kind = Field::kText;
        EnumName(a.td, EnumValue(FmtNumType(code), a.data), &f->text, &f->textLen);
        return;
      }
      [[fallthrough]];
    case kFmtClassNumeric:
      f->numType = FmtNumType(code);
      if (!f->numType) return;
      f->kind = Field::kNumber;
      f->zeroOK = true;
      f->value = a.data;
      if (FmtIsUnitCode(code)) PlanUnit(fmt, it, a, f);
      f->code = NumberCode(it, f->numType, f->value);
      if (f->code >= kNumFmtDecimal) f->unitLen = -1;  // integer forms show no unit
      return;
  }
}

int64 SatAdd(int64 a, int64 b) {
  int64 s = a + b;
  return s > kFmtMaxCount ? int64(kFmtMaxCount) : s;
}

// The decimal exponent of one part of a number, for the bound of a fixed
// form: as "g" counts it, its magnitude.
int64 ExponentSize(int32 part, const void* value) {
  int32 e = DecimalExponent(LoadExt(part, value), part == kNumEXT);
  return e < 0 ? -int64(e) : e;
}

// The least bound of a specifier that callers may count on, whatever the
// value: 64 for "b", 16 for the other integer letters, the precision and
// eight for "e", for other letters the digits of the fixed form, a complex
// value twice its part and five, a unit value its unit text and three, text
// its length (an enum the size of its descriptor); the width counts for text.
int64 LeastBound(const FmtItem& it, const Field& f, const Arg& a) {
  if (f.kind == Field::kNone) return 0;
  int32 code = a.td->code;
  int64 least = 0;
  if (f.kind == Field::kNumber) {
    int64 p = it.precision >= 0 ? it.precision : kDefaultPrecision;
    bool complex = NumClass(f.numType) == kNumClassComplex;
    int32 part = complex ? f.numType - 3 : f.numType;
    if (it.conv == 'b') {
      least = 64;
    } else if (FmtIntegerCode(it.conv)) {
      least = 16;
    } else if (it.conv == 'e') {
      least = (it.precision >= 0 ? p + 1 : 7) + 8;
    } else {
      int64 eng = (it.flags & kFmtFlagEng) ? 2 : 0;
      least = p + eng + 3 + ExponentSize(part, f.value) + 1;
      if (complex)
        least += ExponentSize(part, static_cast<const uChar*>(f.value) + NumSize(part)) + p + 8;
    }
    if (complex) least = least * 2 + 5;
    if (FmtIsUnitCode(code)) {
      uChar label[kUnitTextMax + 1];
      int64 own = TypeUnitLabel(a.td, label);
      int64 given = it.unitStart >= 0 ? it.unitLen : 0;
      least += (own > given ? own : given) + 3;
    }
  } else {
    least = f.kind == Field::kText && FmtClassOf(code) == kFmtClassEnum ? a.td->size : f.textLen;
    if (it.width > least) least = it.width;
  }
  return least;
}

// The bound of what a specifier writes for its argument: what the writer can
// write (the field's width, the sign and the unit included), and never less
// than the least bound above.
int64 FieldBound(const FmtItem& it, const Field& f, const Arg& a) {
  int64 core = 0;
  switch (f.kind) {
    case Field::kNone: return 0;
    case Field::kNumber: core = NumberBound(f.numType, f.value, f.code); break;
    case Field::kText: core = f.textLen; break;
    case Field::kPath: {
      LStr len;
      len.cnt = -1;
      core = f.path && FPathToText(f.path, &len) == kNoErr && len.cnt > 0 ? len.cnt : 0;
      if (f.limit > 0 && core > f.limit) core = f.limit;
      break;
    }
  }
  if (f.plusOK && (it.flags & kFmtFlagPlus)) ++core;
  int64 field = it.width > core ? it.width : core;
  if (f.unitLen >= 0) field += 1 + f.unitLen;
  int64 least = LeastBound(it, f, a);
  return least > field ? least : field;
}

// The destination of the writing pass: never written past its end; what
// does not fit is left out and remembered.  The pieces are mostly a few
// bytes: those are copied in line.
class Out {
 public:
  Out(uChar* p, int32 room) : p_(p), end_(p + (room > 0 ? room : 0)) {}
  void Put(const uChar* s, int64 n) {
    if (n <= 0) return;
    if (n > end_ - p_) {
      full_ = true;
      n = end_ - p_;
    }
    if (n <= kInline) {
      for (int64 i = 0; i < n; ++i) p_[i] = s[i];
    } else {
      std::memcpy(p_, s, size_t(n));
    }
    p_ += n;
  }
  void Put(uChar c) {
    if (p_ < end_) *p_++ = c;
    else full_ = true;
  }
  void Rep(uChar c, int64 n) {
    if (n <= 0) return;
    if (n > end_ - p_) {
      full_ = true;
      n = end_ - p_;
    }
    if (n <= kInline) {
      for (int64 i = 0; i < n; ++i) p_[i] = c;
    } else {
      std::memset(p_, c, size_t(n));
    }
    p_ += n;
  }
  uChar* End() const { return p_; }
  bool Full() const { return full_; }

 private:
  static constexpr int64 kInline = 16;
  uChar* p_;
  uChar* end_;
  bool full_ = false;
};

// Pads the text in the field of the specifier: plusOK when "+" may sign the
// text, zeroOK when "0" pads with zeros.
void PutField(Out& o, const FmtItem& it, bool plusOK, bool zeroOK, const uChar* t, int32 n) {
  bool minus = n > 0 && t[0] == '-';
  int32 sign = plusOK && (it.flags & kFmtFlagPlus) && !minus ? 1 : 0;
  int64 pad = int64(it.width) - n - sign;
  if (it.flags & kFmtFlagLeft) {
    if (sign) o.Put('+');
    o.Put(t, n);
    o.Rep(' ', pad);
  } else if (zeroOK && (it.flags & kFmtFlagZero)) {
    if (sign) o.Put('+');
    if (minus) {
      o.Put('-');
      ++t;
      --n;
    }
    o.Rep('0', pad);
    o.Put(t, n);
  } else {
    o.Rep(' ', pad);
    if (sign) o.Put('+');
    o.Put(t, n);
  }
}

// Writes a specifier's field; false when a path's text could not be had.
bool WriteField(Out& o, const FmtItem& it, const Field& f, uChar dp) {
  switch (f.kind) {
    case Field::kNone:
      return true;
    case Field::kNumber: {
      char work[kNumWork];
      int32 n = f.code >= kNumFmtDecimal && f.code < kNumFmtEngFirst && NumClass(f.numType) != kNumClassComplex
                    ? NumToIntegerText(f.value, f.numType, f.code, work)
                    : NumToTextFmt(f.value, f.numType, f.code, work, kNumWork, dp);
      PutField(o, it, f.plusOK, f.zeroOK, reinterpret_cast<const uChar*>(work), n);
      break;
    }
    case Field::kText:
      // A block may move between the passes; the handle finds it.
      PutField(o, it, f.plusOK, f.zeroOK, f.handle && *f.handle ? (*f.handle)->str : f.text, f.textLen);
      break;
    case Field::kPath: {
      LStr len;
      len.cnt = -1;
      if (!f.path || FPathToText(f.path, &len) != kNoErr || len.cnt <= 0) {
        PutField(o, it, f.plusOK, f.zeroOK, nullptr, 0);
        break;
      }
      alignas(4) uChar small[kPathStackText];
      UPtr big = nullptr;
      LStr* buf = reinterpret_cast<LStr*>(small);
      if (len.cnt > kPathStackText - 4) {
        big = DSNewPtr(len.cnt + 4);
        if (!big) return false;
        buf = reinterpret_cast<LStr*>(big);
      }
      buf->cnt = 0;
      if (FPathToText(f.path, buf) != kNoErr) buf->cnt = 0;
      int32 n = buf->cnt;
      if (f.limit > 0) n = CharsPrefix(buf->str, n, f.limit);
      PutField(o, it, f.plusOK, f.zeroOK, buf->str, n);
      if (big) DSDisposePtr(big);
      break;
    }
  }
  if (f.unitLen >= 0) {
    o.Put(' ');
    o.Put(f.unit, f.unitLen);
  }
  return true;
}

// One pass over the format: measuring (out null) or writing.  Returns the
// bound, or the end of the text written (null when a path's text could not
// be had) through *end.
// The fields of the first specifiers, planned by the measuring pass and
// written by the writing pass.
struct FieldPlan {
  enum : int32 { kMax = 6 };
  Field fields[kMax];
  int32 count;
};

int64 Pass(const TypeDescriptor* type, const void* data, const uChar* fmt, int32 len, int32 argCount, Out* out,
           bool* failed, const FmtItemCache* cache, FieldPlan* plan) {
  ArgSource args(type, data, argCount);
  uChar dp = NumDefaultDecimalPt();
  int64 total = 0;
  int32 specs = 0;
  Field own;
  FmtWalker walk(fmt, len, cache);
  while (const FmtItem* next = walk.Next()) {
    const FmtItem& it = *next;
    switch (it.kind) {
      case kFmtItemChar:
      case kFmtItemWhite:
        if (out) out->Put(fmt + it.start, it.end - it.start);
        else total = SatAdd(total, it.end - it.start);
        break;
      case kFmtItemCode:
        if (out) out->Put(it.value);
        else total = SatAdd(total, 1);
        break;
      case kFmtItemPercent:
      case kFmtItemFinalPercent:
        if (out) out->Put('%');
        else total = SatAdd(total, 1);
        break;
      case kFmtItemSeparator:
        dp = it.value;
        break;
      case kFmtItemSpec: {
        Arg a;
        if (!args.Next(&a)) {  // no argument left: the specifier is text
          if (out) out->Put(fmt + it.start, it.end - it.start);
          else total = SatAdd(total, it.end - it.start);
          break;
        }
        // Planned once: by the measuring pass for the first specifiers.
        Field* fp = &own;
        int32 k = specs++;
        if (plan && k < FieldPlan::kMax) {
          fp = &plan->fields[k];
          if (!out) plan->count = k + 1;
        }
        const Field& f = *fp;
        if (!out || !plan || k >= plan->count) PlanField(fmt, it, a, fp);
        if (!out) {
          total = SatAdd(total, FieldBound(it, f, a));
        } else if (!WriteField(*out, it, f, dp)) {
          *failed = true;
          return 0;
        }
        break;
      }
    }
  }
  return total;
}

// An address that may lie inside the output handle's block, kept as an
// offset across the resize of that block.
struct Anchor {
  const uChar* p;
  int32 offset = -1;
  Anchor(const uChar* ptr, LStrHandle h) : p(ptr) {
    if (!ptr || !h || !*h) return;
    const uChar* base = reinterpret_cast<const uChar*>(*h);
    int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(h));
    if (size > 0 && ptr >= base && ptr < base + size) offset = int32(ptr - base);
  }
  const uChar* Get(LStrHandle h) const { return offset >= 0 ? reinterpret_cast<const uChar*>(*h) + offset : p; }
};

// Sets *out to the empty string (made when null, shrunk when not).
void EmptyOutput(LStrHandle* out) {
  if (!*out) {
    *out = reinterpret_cast<LStrHandle>(DSNewHClr(sizeof(int32)));
    return;
  }
  (**out)->cnt = 0;
  DSSetHandleSize(reinterpret_cast<UHandle>(*out), sizeof(int32));
}

// Sizes *out (made when null) for bound bytes of text.  A string is an
// array of bytes: one that could reach the arrays' limit is refused as memory
// full before anything is allocated.
MgErr SizeOutput(LStrHandle* out, int64 bound) {
  if (bound >= kMaxArrayBytes) return kMemFullErr;
  int32 size = int32(bound) + int32(sizeof(int32));
  if (!*out) {
    *out = reinterpret_cast<LStrHandle>(DSNewHandle(size));
    if (!*out) return kMemFullErr;
    (**out)->cnt = 0;
    return kNoErr;
  }
  return DSSetHandleSize(reinterpret_cast<UHandle>(*out), size);
}

// The arguments of a call: the single value (argCount 0) or the list.
struct Job {
  const TypeDescriptor* type;
  const void* data;
  int32 argCount;
};

}  // namespace

namespace {

int32 Measure(const TypeDescriptor* type, const void* data, const uChar* format, int32 formatLength, int32 argCount,
              const FmtItemCache* cache, FieldPlan* plan) {
  if (!format || formatLength < 0) formatLength = 0;
  bool failed = false;
  return int32(Pass(type, data, format, formatLength, argCount, nullptr, &failed, cache, plan));
}

uChar* Write(const TypeDescriptor* type, const void* data, const uChar* format, int32 formatLength,
             uChar* destination, int32 room, int32 argCount, const FmtItemCache* cache, FieldPlan* plan) {
  if (!destination) return nullptr;
  if (!format || formatLength < 0) formatLength = 0;
  Out o(destination, room);
  bool failed = false;
  Pass(type, data, format, formatLength, argCount, &o, &failed, cache, plan);
  if (failed) return nullptr;
  if (o.Full()) DBAssert(__FILE__, __LINE__, "formatted text longer than its bound");
  return o.End();
}

}  // namespace

int32 FormatMeasure(const TypeDescriptor* type, const void* data, const uChar* format, int32 formatLength,
                    int32 argCount) {
  return Measure(type, data, format, formatLength, argCount, nullptr, nullptr);
}

uChar* FormatWrite(const TypeDescriptor* type, const void* data, const uChar* format, int32 formatLength,
                   uChar* destination, int32 room, int32 argCount) {
  return Write(type, data, format, formatLength, destination, room, argCount, nullptr, nullptr);
}

int32 MakeDefaultFormat(int32 argCount, const FmtArgList* args, uChar* text) {
  if (!text) return 0;
  int32 n = 0, i = 0;
  for (; args && i < argCount && n < kFmtDefaultFormatMax; ++i) {
    const TypeDescriptor* td = args->args[i].type;
    int32 code = td ? int32(td->code) : int32(kTDVoid);
    FmtClass cls = FmtClassOf(code);
    uChar letter = 'f';
    if (cls == kFmtClassString || cls == kFmtClassPath || cls == kFmtClassBoolean || cls == kFmtClassEnum) {
      letter = 's';
    } else {
      int32 plain = code & ~0x10;
      if (plain >= kNumI8 && plain <= kNumU64) letter = 'd';
    }
    const uChar item[3] = {'%', letter, ' '};
    for (int32 k = 0; k < 3 && n < kFmtDefaultFormatMax; ++k) text[n++] = item[k];
  }
  // The last space is dropped when every argument has its specifier; a text
  // cut at its limit keeps it.
  if (n > 0 && i == argCount) --n;
  return n;
}

namespace {

// The two passes into *out after a prefix of prefixLen bytes that put()
// copies to the start of the sized block.
// The items are read once; they hold offsets, so they stay valid when the
// format moves with the output's block.
template <class PutPrefix, class FormatAt>
MgErr TwoPasses(const Job& job, FormatAt formatAt, int32 formatLength, int32 prefixLen, LStrHandle* out,
                PutPrefix putPrefix, const FmtItemCache* cache, bool apart) {
  FieldPlan plan;
  plan.count = 0;
  int64 bound = SatAdd(Measure(job.type, job.data, formatAt(), formatLength, job.argCount, cache, &plan), prefixLen);
  if (bound == 0) {
    EmptyOutput(out);
    return *out ? kNoErr : kMemFullErr;
  }
  // Text read from the output's own block (the format or a string argument)
  // is not written over: the text is made in a block of its own first.
  LStrHandle temp = nullptr;
  LStrHandle* target = apart ? &temp : out;
  auto fail = [&](MgErr err) {
    if (temp) DSDisposeHandle(reinterpret_cast<UHandle>(temp));
    EmptyOutput(out);
    return err;
  };
  if (MgErr err = SizeOutput(target, bound)) return fail(err);
  uChar* start = (**target)->str;
  putPrefix(start);
  int32 room = int32(bound) - prefixLen;
  uChar* end =
      Write(job.type, job.data, formatAt(), formatLength, start + prefixLen, room, job.argCount, cache, &plan);
  if (!end) return fail(kMemFullErr);
  int32 length = int32(end - start);
  (**target)->cnt = length;
  if (!apart) {
    if (length < bound) DSSetHandleSize(reinterpret_cast<UHandle>(*out), length + int32(sizeof(int32)));
    return kNoErr;
  }
  if (MgErr err = SizeOutput(out, length)) return fail(err);
  MoveBlock((*temp)->str, (**out)->str, length);
  (**out)->cnt = length;
  DSDisposeHandle(reinterpret_cast<UHandle>(temp));
  return kNoErr;
}

// True when a string argument of the job is the handle h.
bool ArgIsHandle(const Job& job, LStrHandle h) {
  if (!h) return false;
  auto same = [h](const TypeDescriptor* td, const void* data) {
    return td && data && (td->code == kTDString || td->code == kTDString37) &&
           *static_cast<const LStrHandle*>(data) == h;
  };
  if (job.argCount == 0) return same(job.type, job.data);
  const FmtArgList* list = static_cast<const FmtArgList*>(job.data);
  for (int32 i = 0; list && i < job.argCount; ++i)
    if (same(list->args[i].type, list->args[i].data)) return true;
  return false;
}

// ---- The multi-argument form's quick way -------------------------------------------
// A format read whole into the item cache, with one specifier per argument,
// whose specifiers are all integer conversions of numbers, enums or booleans
// (without a unit, not complex) or text conversions of strings or booleans,
// without unit braces or the size letter "h", and no string argument the
// output handle itself.  Such a format passes the check.  Each field is made
// once, while measuring: a number's digits or a string's length; the bound is
// the one the measuring pass gives these fields (FieldBound), and the writing
// pass pads the made fields.  Any other format takes the check and the two
// general passes, which write the same text.

struct QuickField {
  LStrHandle handle;  // a string's text: read through it when written
  const uChar* text;  // else the text
  int32 len;
  bool number;
  char digits[kNumIntegerTextRoom];
};

struct QuickPlan {
  QuickField fields[FmtItemCache::kMax];
  int64 bound;
};

// Plans the fields; false, with nothing made, for a format the quick way
// does not take.
bool PlanQuick(const FmtItemCache& cache, int32 formatLength, int32 argCount, const FmtArgList* args,
               LStrHandle output, QuickPlan* plan) {
  if (cache.resume < formatLength) return false;  // items past the cache
  int64 bound = 0;
  int32 k = 0;
  for (int32 i = 0; i < cache.count; ++i) {
    const FmtItem& it = cache.items[i];
    switch (it.kind) {
      case kFmtItemChar:
      case kFmtItemWhite:
        bound += it.end - it.start;
        break;
      case kFmtItemCode:
      case kFmtItemPercent:
      case kFmtItemFinalPercent:
        bound += 1;
        break;
      case kFmtItemSeparator:
        break;
      case kFmtItemSpec: {
        if (k >= argCount || !args || it.size == 'h' || it.unitStart >= 0) return false;
        const FmtArg& a = args->args[k];
        QuickField& f = plan->fields[k++];
        if (!a.type || !a.data) return false;
        const int32 code = a.type->code;
        const FmtClass cls = FmtClassOf(code);
        const int64 plus = (it.flags & kFmtFlagPlus) ? 1 : 0;
        const int64 width = it.width > 0 ? it.width : 0;
        if (int32 intCode = FmtIntegerCode(it.conv)) {
          if (cls == kFmtClassBoolean) {
            const uInt32 v = *static_cast<const uChar*>(a.data) != 0;
            f.len = NumToIntegerText(&v, kNumU32, intCode, f.digits);
          } else if (cls == kFmtClassNumeric || cls == kFmtClassEnum) {
            const int32 numType = FmtNumType(code);
            if (!numType || FmtIsUnitCode(code) || NumClass(numType) == kNumClassComplex) return false;
            f.len = NumToIntegerText(a.data, numType, intCode, f.digits);
          } else {
            return false;
          }
          f.handle = nullptr;
          f.text = reinterpret_cast<const uChar*>(f.digits);
          f.number = true;
          const int64 core = PartBound(0, intCode) + plus;
          const int64 field = width > core ? width : core;
          const int64 least = it.conv == 'b' ? 64 : 16;
          bound += field > least ? field : least;
        } else if (FmtIsTextConv(it.conv)) {
          if (cls == kFmtClassString) {
            f.handle = *static_cast<const LStrHandle*>(a.data);
            if (f.handle && f.handle == output) return false;
            const LStr* str = f.handle ? *f.handle : nullptr;
            f.text = str ? str->str : nullptr;
            f.len = LStrLen(str);
            if (it.precision >= 1) f.len = CharsPrefix(f.text, f.len, it.precision);
          } else if (cls == kFmtClassBoolean) {
            const bool on = *static_cast<const uChar*>(a.data) != 0;
            f.handle = nullptr;
            f.text = reinterpret_cast<const uChar*>(on ? "TRUE" : "FALSE");
            f.len = on ? 4 : 5;
          } else {
            return false;
          }
          f.number = false;
          const int64 core = f.len + plus;
          bound += width > core ? width : core;
        } else {
          return false;
        }
        break;
      }
    }
  }
  plan->bound = bound;
  return k == argCount;
}

// Writes a planned format after the initial string (which may be *out
// itself, already in place), sized as the two passes size it.
MgErr WriteQuick(const FmtItemCache& cache, const uChar* fmt, QuickPlan& plan, LStrHandle initialString,
                 int32 prefixLen, LStrHandle* out) {
  const int64 bound = plan.bound + prefixLen;
  if (bound == 0) {
    EmptyOutput(out);
    return *out ? kNoErr : kMemFullErr;
  }
  if (MgErr err = SizeOutput(out, bound)) {
    EmptyOutput(out);
    return err;
  }
  uChar* start = (**out)->str;
  if (prefixLen > 0 && (*initialString)->str != start) MoveBlock((*initialString)->str, start, prefixLen);
  Out o(start + prefixLen, int32(bound) - prefixLen);
  int32 k = 0;
  for (int32 i = 0; i < cache.count; ++i) {
    const FmtItem& it = cache.items[i];
    switch (it.kind) {
      case kFmtItemChar:
      case kFmtItemWhite:
        o.Put(fmt + it.start, it.end - it.start);
        break;
      case kFmtItemCode:
        o.Put(it.value);
        break;
      case kFmtItemPercent:
      case kFmtItemFinalPercent:
        o.Put('%');
        break;
      case kFmtItemSeparator:
        break;
      case kFmtItemSpec: {
        const QuickField& f = plan.fields[k++];
        const uChar* text = f.handle && *f.handle ? (*f.handle)->str : f.text;
        PutField(o, it, true, f.number, text, f.len);
        break;
      }
    }
  }
  if (o.Full()) DBAssert(__FILE__, __LINE__, "formatted text longer than its bound");
  const int32 length = int32(o.End() - start);
  (**out)->cnt = length;
  if (length < bound) DSSetHandleSize(reinterpret_cast<UHandle>(*out), length + int32(sizeof(int32)));
  return kNoErr;
}

}  // namespace

MgErr FormatConcat(int32 prefixLength, const uChar* prefixBytes, const TypeDescriptor* type, const void* data,
                   int32 formatLength, const uChar* formatBytes, LStrHandle* out) {
  if (!out) return kArgErr;
  if (!prefixBytes || prefixLength < 0) prefixLength = 0;
  if (!formatBytes || formatLength < 0) formatLength = 0;
  static const uChar kStringDefault[] = "%s";
  static const uChar kOtherDefault[] = "%g";
  if (formatLength == 0) {
    int32 code = type ? int32(type->code) : int32(kTDVoid);
    formatBytes = (code == kTDString || code == kTDString37) ? kStringDefault : kOtherDefault;
    formatLength = 2;
  }
  Anchor prefix(prefixBytes, *out), format(formatBytes, *out);
  Job job{type, data, 0};
  FmtItemCache cache;
  FmtReadItems(formatBytes, formatLength, &cache);
  bool apart = format.offset >= 0 || ArgIsHandle(job, *out);
  return TwoPasses(
      job, [&] { return format.Get(*out); }, formatLength, prefixLength, out,
      [&](uChar* start) { MoveBlock(prefix.Get(*out), start, prefixLength); }, &cache, apart);
}

MgErr DoPrintfNode(void*, LStrHandle format, LStrHandle initialString, LStrHandle* out, int32 argCount,
                   FmtArgList* args) {
  if (!out) return kArgErr;
  if (argCount < 0) argCount = 0;
  int32 formatLength = format && *format ? LStrLen(*format) : 0;
  bool useDefault = formatLength == 0;
  uChar defaultFormat[kFmtDefaultFormatMax + 1];
  if (useDefault) formatLength = MakeDefaultFormat(argCount, args, defaultFormat);
  FmtItemCache cache;
  FmtReadItems(useDefault ? defaultFormat : (*format)->str, formatLength, &cache);
  int32 prefixLen = initialString && *initialString ? LStrLen(*initialString) : 0;
  if (useDefault || format != *out) {
    QuickPlan plan;
    if (PlanQuick(cache, formatLength, argCount, args, *out, &plan)) {
      if (!useDefault && args) args->errIndex = 0;  // what the check, which it passes, writes
      return WriteQuick(cache, useDefault ? defaultFormat : (*format)->str, plan, initialString, prefixLen, out);
    }
  }
  if (!useDefault) {
    if (int32 err = FmtCheck((*format)->str, formatLength, argCount, args, &cache)) {
      EmptyOutput(out);
      return -err;
    }
  }
  // With no argument the checked format holds no specifier.
  Job job{nullptr, args, argCount};
  bool apart = (!useDefault && format == *out) || ArgIsHandle(job, *out);
  return TwoPasses(
      job, [&] { return useDefault ? defaultFormat : (*format)->str; }, formatLength, prefixLen, out,
      [&](uChar* start) {
        // The initial string may be the output handle itself, already in place.
        if (prefixLen > 0 && (*initialString)->str != start) MoveBlock((*initialString)->str, start, prefixLen);
      },
      &cache, apart);
}
