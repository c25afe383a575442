// The printf dialect: the engine SPrintfv and its wrappers.
//
// The engine keeps all of its state in its own frame, never allocates and
// never reads the format beyond the given length.  A format that switches to
// positional arguments ("n$") is run three times: once to record the class
// of every position, then the arguments are fetched in position order, then
// once more to write.
#include "printf.h"

#include <cstring>

#include "debug.h"
#include "extsupport.h"
#include "memory.h"
#include "numconv.h"
#include "numconv_internal.h"
#include "textoffset.h"

namespace {

constexpr int32 kMaxPositions = 10;
// The application font: the printf engine steps its format by whole
// characters of this font.
constexpr int32 kAppFont = 0;
// A number's text is built in a buffer of this size (at most 255 characters).
constexpr int32 kNumBufSize = 256;
// "%z": a counted buffer of 256 bytes, a 32-bit count and at most 252 characters.
constexpr int32 kPathTextMax = 252;
// Width and precision digits saturate here.
constexpr int32 kDigitsMax = 0x7FFFFFFF;

// Argument classes of positional parameters.
enum : int32 { kClsNone = 0, kClsInt = -1, kClsPtr = -2, kClsPoint = -3, kClsLong = 3, kClsDouble = 10 };

struct PosEntry {
  int32 cls;
  uInt32 w[2];
};

Str255 gPathTooLong = "\x0F<path too long>";
SPrintfPathToTextProc gPathToText = nullptr;
SPrintfWriteProc gWrite = nullptr;

// The output of one pass: bytes go to p while there is room; n counts every
// byte the format produces.
struct Out {
  char* p;
  uInt32 room;
  uInt64 n = 0;
  Out(char* out, int32 capacity) : p(out), room(out && capacity > 0 ? uInt32(capacity) : 0) {}
  bool Full() const { return p && room == 0; }
  void Put(char c) {
    if (p && room) {
      *p++ = c;
      --room;
    }
    ++n;
  }
  void Put(const void* s, uInt32 len) {
    if (p) {
      uInt32 k = len < room ? len : room;
      std::memcpy(p, s, k);
      p += k;
      room -= k;
    }
    n += len;
  }
  void Fill(char c, uInt32 len) {
    if (p) {
      uInt32 k = len < room ? len : room;
      std::memset(p, c, k);
      p += k;
      room -= k;
    }
    n += len;
  }
};

// One parsed conversion.
struct Conversion {
  bool hasPos = false;  // "n$": a positional conversion
  int32 pos = 0;
  bool left = false;
  bool zero = false;
  bool hasWidth = false;
  bool hasPrec = false;
  bool isLong = false;
  bool star = false;  // "{*}": the type comes from the next argument
  int32 width = 0;
  int32 prec = 0;
  int32 type = 0;     // NumType of a typed-number selector, 0 for none
  uChar conv = 0;
};

// The argument of one conversion.
struct Arg {
  uInt32 w = 0;
  float64 d = 0;
};

enum class Mode { kNormal, kRecord, kPositional };
enum class Result { kDone, kStop, kSwitch };

bool IsDigitChar(uChar c) { return c >= '0' && c <= '9'; }
bool IsHexDigitChar(uChar c) { return IsDigitChar(c) || (c >= 'A' && c <= 'F'); }
int32 HexValue(uChar c) { return IsDigitChar(c) ? c - '0' : c - 'A' + 10; }

int32 ReadDigits(const uChar*& f, const uChar* end) {
  int32 v = 0;
  while (f < end && IsDigitChar(*f)) {
    int32 d = *f++ - '0';
    v = v > (kDigitsMax - d) / 10 ? kDigitsMax : v * 10 + d;
  }
  return v;
}

bool IsIntConv(uChar c) { return c == 'd' || c == 'u' || c == 'x' || c == 'o' || c == 'b'; }
bool IsFloatConv(uChar c) { return c == 'e' || c == 'E' || c == 'g' || c == 'G' || c == 'f' || c == 'F'; }

// The class of the argument a conversion takes; 0 for an unknown conversion.
int32 ClassOf(const Conversion& s) {
  uChar c = s.conv;
  if (IsIntConv(c)) return s.type ? kClsPtr : s.isLong ? kClsLong : kClsInt;
  if (IsFloatConv(c)) return s.type ? kClsPtr : kClsDouble;
  switch (c) {
    case 'c': return s.width == 4 ? kClsLong : kClsInt;
    case 's': case 'p': case 'P': case 'H': case 'z': case 'R': case 'r': return kClsPtr;
    case 'Q': case 'q': return kClsPoint;
    default: return kClsNone;
  }
}

int32 SelectorType(uChar a, uChar b) {
  static const char kSizes[] = "BWLQ";
  const char* at = std::strchr(kSizes, b);
  if (a == 'i' && b && at) return 1 + int32(at - kSizes);
  if (a == 'u' && b && at) return 5 + int32(at - kSizes);
  if (a == 'f' || a == 'c') {
    int32 base = a == 'f' ? kNumSGL : kNumCSG;
    if (b == 'S') return base;
    if (b == 'D') return base + 1;
    if (b == 'X') return base + 2;
  }
  return 0;
}

// Writes a field: fill before (zeros after a leading "-" with the "0" flag),
// the text, spaces after when left-justified.
void PutNumberField(Out& o, const char* text, int32 len, const Conversion& s) {
  uInt32 fill = s.hasWidth && s.width > len ? uInt32(s.width - len) : 0;
  if (!s.left && fill) {
    if (s.zero) {
      if (len > 0 && text[0] == '-') {
        o.Put('-');
        ++text;
        --len;
      }
      o.Fill('0', fill);
    } else {
      o.Fill(' ', fill);
    }
  }
  o.Put(text, uInt32(len));
  if (s.left && fill) o.Fill(' ', fill);
}

// Writes a string field: a precision is a budget for every character of
// the field, fill included.
void PutBudgetField(Out& o, const uChar* text, uInt32 len, const Conversion& s) {
  uInt32 budget = s.hasPrec ? uInt32(s.prec) : 0xFFFFFFFFu;
  uInt32 fill = s.hasWidth && uInt32(s.width) > len ? uInt32(s.width) - len : 0;
  if (!s.left && fill) {
    uInt32 k = fill < budget ? fill : budget;
    o.Fill(s.zero ? '0' : ' ', k);
    budget -= k;
  }
  uInt32 t = len < budget ? len : budget;
  if (t) o.Put(text, t);
  budget -= t;
  if (s.left && fill) o.Fill(' ', fill < budget ? fill : budget);
}

// The number of characters of a C string that a field can use.
uInt32 FieldStrLen(const char* str, const Conversion& s) {
  if (!s.hasPrec) return uInt32(std::strlen(str));
  uInt32 cap = uInt32(s.prec);
  if (s.hasWidth && uInt32(s.width) > cap) cap = uInt32(s.width);
  return uInt32(strnlen(str, cap));
}

int32 ExpDigits(const Conversion& s) {
  int32 digits = s.hasPrec ? (s.prec >= 17 ? 17 : s.prec + 1) : (s.hasWidth && s.width > 6 ? s.width - 5 : 7);
  return digits > 17 ? 17 : digits;
}

void PutNumber(Out& o, const Conversion& s, const Arg& a, uChar dp) {
  char buf[kNumBufSize];
  int32 n;
  uChar c = s.conv;
  if (IsIntConv(c)) {
    int32 code = c == 'd' ? kNumFmtDecimal : c == 'u' ? kNumFmtUnsigned : c == 'x' ? kNumFmtHex
               : c == 'o' ? kNumFmtOctal : kNumFmtBinary;
    if (s.type) {
      n = NumToTextFmt(reinterpret_cast<const void*>(uintptr_t(a.w)), s.type, code, buf, kNumBufSize, dp);
    } else {
      switch (c) {
        case 'd': n = NumToDecStr(int32(a.w), buf); break;
        case 'u': n = NumToUDecStr(a.w, buf); break;
        case 'x': n = NumToHexStr(a.w, buf); break;
        case 'o': n = NumToOctStr(a.w, buf); break;
        default: n = NumToBinStr(a.w, buf); break;
      }
    }
  } else {
    const void* value = s.type ? reinterpret_cast<const void*>(uintptr_t(a.w)) : &a.d;
    int32 type = s.type ? s.type : kNumDBL;
    int32 code = ExpDigits(s);
    if ((c == 'f' || c == 'F') && FFmtOK(s.hasWidth ? s.width : 0, type, value))
      code = s.hasPrec ? -(s.prec < 63 ? s.prec : 63) : -6;
    n = NumToTextFmt(value, type, code, buf, kNumBufSize, dp);
  }
  PutNumberField(o, buf, n, s);
}

void PutChar(Out& o, const Conversion& s, const Arg& a) {
  uChar bytes[4];
  std::memcpy(bytes, &a.w, 4);  // the word's memory order
  if (s.width == 2 || s.width == 4) PutBudgetField(o, bytes, uInt32(s.width), s);
  else o.Put(char(bytes[0]));
}

void PutPathText(Out& o, uInt32 word) {
  Path path = reinterpret_cast<Path>(uintptr_t(word));
  SPrintfPathToTextProc toText = gPathToText ? gPathToText : FPathToText;
  // The length first, so that a long text never lands in the buffer.
  struct {
    int32 cnt;
    uChar str[kPathTextMax];
  } buf;
  buf.cnt = -1;
  if (toText(path, reinterpret_cast<LStrPtr>(&buf)) != kNoErr) return;
  if (buf.cnt > kPathTextMax) {
    o.Put(gPathTooLong + 1, gPathTooLong[0]);
    return;
  }
  if (buf.cnt <= 0) return;
  buf.cnt = 0;
  if (toText(path, reinterpret_cast<LStrPtr>(&buf)) != kNoErr) return;
  if (buf.cnt > 0) o.Put(buf.str, uInt32(buf.cnt < kPathTextMax ? buf.cnt : kPathTextMax));
}

void PutCoords(Out& o, const int16* v, int32 count, const char* sep) {
  char num[12];
  for (int32 i = 0; i < count; ++i) {
    if (i) o.Put(sep, uInt32(std::strlen(sep)));
    o.Put(num, uInt32(NumToDecStr(v[i], num)));
  }
  o.Put(')');
}

void DoConversion(Out& o, const Conversion& s, const Arg& a, uChar dp) {
  uChar c = s.conv;
  if (IsIntConv(c) || IsFloatConv(c)) {
    PutNumber(o, s, a, dp);
    return;
  }
  const void* ptr = reinterpret_cast<const void*>(uintptr_t(a.w));
  switch (c) {
    case 'c': PutChar(o, s, a); return;
    case 's': {
      const char* str = static_cast<const char*>(ptr);
      if (str) PutBudgetField(o, reinterpret_cast<const uChar*>(str), FieldStrLen(str, s), s);
      return;
    }
    case 'p': case 'P': case 'H': {
      const uChar* text = nullptr;
      int32 len = 0;
      if (c == 'H') {
        LStrHandle h = static_cast<LStrHandle>(const_cast<void*>(ptr));
        if (h && *h) {
          len = (*h)->cnt;
          text = (*h)->str;
        }
      } else if (ptr && c == 'p' && !s.isLong && !s.type) {
        len = *static_cast<const uChar*>(ptr);
        text = static_cast<const uChar*>(ptr) + 1;
      } else if (ptr) {
        std::memcpy(&len, ptr, 4);
        text = static_cast<const uChar*>(ptr) + 4;
      }
      if (text) PutBudgetField(o, text, len > 0 ? uInt32(len) : 0, s);
      return;
    }
    case 'z': PutPathText(o, a.w); return;
    case 'Q': case 'q': {
      int16 hv[2] = {int16(a.w >> 16), int16(a.w & 0xFFFF)};
      o.Put(c == 'Q' ? "hv(" : "(", c == 'Q' ? 3 : 1);
      PutCoords(o, hv, 2, ",");
      return;
    }
    default: {  // 'R', 'r'
      if (!ptr) return;
      int16 v[4];
      std::memcpy(v, ptr, sizeof v);
      o.Put(c == 'R' ? "tlbr(" : "(", c == 'R' ? 5 : 1);
      PutCoords(o, v, 4, ", ");
      return;
    }
  }
}

void Stop(int32 line, const char* why) { DBAssert(__FILE__, line, why); }

// One pass over the format.
class Engine {
 public:
  Engine(const uChar* fmt, const uChar* end, va_list* args, PosEntry* table)
      : fmt_(fmt), end_(end), args_(args), table_(table) {}

  Result Run(Out& o, Mode mode) {
    const uChar* f = fmt_;
    uChar dp = NumDefaultDecimalPt();
    bool writing = mode != Mode::kRecord;
    while (f < end_) {
      if (o.Full()) return Result::kDone;
      uChar b = *f;
      if (b != '%' && b != '\\') {
        const uChar* run = f;
        while (f < end_) {
          b = *f;
          if (b == '%' || b == '\\') break;
          if (b < 0x80) {
            ++f;
            continue;
          }
          // A double-byte character is copied whole, so that its trail byte is
          // never read as "%" or a backslash.
          int32 step = TNextCharOffset(f, 0, kAppFont);
          f += (step > 1 && step <= end_ - f) ? step : 1;
        }
        if (writing) o.Put(run, uInt32(f - run));
        continue;
      }
      if (b == '\\') {
        int32 ch = ScanForBackslash(&f, end_);
        if (writing) {
          if (ch == 10) o.Put("\r\n", 2);
          else o.Put(char(ch));
        }
        continue;
      }
      // A conversion.
      ++f;
      if (f == end_) {  // a final "%"
        if (writing) o.Put('%');
        break;
      }
      b = *f;
      if (b == '%') {
        if (writing) o.Put('%');
        ++f;
        continue;
      }
      if (b == '-' && f + 1 == end_) {  // a final "%-"
        if (writing) o.Put('-');
        break;
      }
      if (b == ';') {  // back to the default decimal point
        dp = NumDefaultDecimalPt();
        ++f;
        continue;
      }
      if (b != '[') {  // a punctuation character before ";" is the decimal point
        const uChar* q = f;
        int32 sep = b == '\\' ? ScanForBackslash(&q, end_) : (++q, b);
        if (q < end_ && *q == ';' && IsPunct(sep)) {
          dp = uChar(sep);
          f = q + 1;
          continue;
        }
      }
      Conversion s;
      if (!Parse(f, s)) return Result::kStop;
      Result r = Convert(o, s, mode, dp);
      if (r != Result::kDone) return r;
    }
    return Result::kDone;
  }

 private:
  // Reads flags, width, precision, argument type and the conversion
  // character; false when the format ends first or the type is refused.
  bool Parse(const uChar*& f, Conversion& s) {
    if (IsDigitChar(*f)) {
      bool leadingZero = *f == '0';
      int32 v = ReadDigits(f, end_);
      if (f < end_ && *f == '$') {
        s.hasPos = true;
        s.pos = v;
        ++f;
      } else {
        s.zero = leadingZero;
        s.hasWidth = true;
        s.width = v;
        return ParseRest(f, s);
      }
    }
    if (f < end_ && *f == '-') {
      s.left = true;
      ++f;
    }
    if (f < end_ && IsDigitChar(*f)) {
      s.zero = *f == '0';
      s.hasWidth = true;
      s.width = ReadDigits(f, end_);
    }
    return ParseRest(f, s);
  }

  bool ParseRest(const uChar*& f, Conversion& s) {
    if (f < end_ && *f == '.') {
      ++f;
      s.hasPrec = true;
      s.prec = ReadDigits(f, end_);
    }
    if (f < end_ && *f == 'l') {
      s.isLong = true;
      ++f;
    } else if (f < end_ && *f == '{') {
      ++f;
      if (f < end_ && *f == '*') {
        s.star = true;
        ++f;
      } else if (end_ - f >= 2) {
        s.type = SelectorType(f[0], f[1]);
        f += 2;
      } else {
        f = end_;
      }
      if (f < end_ && *f == '}') ++f;
    }
    if (f >= end_) {
      Stop(__LINE__, "printf conversion cut off by the end of the format");
      return false;
    }
    s.conv = *f++;
    if (ClassOf(s) == kClsNone) {
      Stop(__LINE__, "unknown printf conversion");
      return false;
    }
    return true;
  }

  Result Convert(Out& o, Conversion& s, Mode mode, uChar dp) {
    if (s.hasPos && (s.pos < 1 || s.pos > kMaxPositions)) {
      DBPrintf("Positional parameter %ld out of range", s.pos - 1);
      Stop(__LINE__, "printf position out of range");
      return Result::kStop;
    }
    if (mode == Mode::kNormal) {
      if (s.hasPos) {
        if (!conversions_) return Result::kSwitch;
        return Mixed();
      }
      ++conversions_;
      if (s.star) s.type = CheckedTypeWord(va_arg(*args_, uInt32));
      Arg a;
      if (ClassOf(s) == kClsDouble) a.d = va_arg(*args_, float64);
      else a.w = va_arg(*args_, uInt32);
      DoConversion(o, s, a, dp);
      return Result::kDone;
    }
    if (!s.hasPos) return Mixed();
    if (s.star) {
      Stop(__LINE__, "\"{*}\" in a positional printf format");
      return Result::kStop;
    }
    PosEntry& e = table_[s.pos - 1];
    int32 cls = ClassOf(s);
    if (mode == Mode::kRecord) {
      if (e.cls && e.cls != cls) {
        DBPrintf("Parameter %ld type info [%ld] redefined (was [%ld])", s.pos - 1, cls, e.cls);
        return Result::kStop;
      }
      e.cls = cls;
      return Result::kDone;
    }
    Arg a;
    a.w = e.w[0];
    if (cls == kClsDouble) std::memcpy(&a.d, e.w, 8);
    DoConversion(o, s, a, dp);
    return Result::kDone;
  }

  Result Mixed() {
    DBPrintf("Can't mix ANSI and %%n$ specifiers");
    Stop(__LINE__, "positional and ordinary printf conversions mixed");
    return Result::kStop;
  }

  // A type code taken from an argument: the low 16 bits, refused from 16 on
  // and then read by its low four bits.
  static int32 CheckedTypeWord(uInt32 w) {
    int32 t = int32(w & 0xFFFF);
    if (t >= 16) {
      DBAssert(__FILE__, __LINE__, "number type code out of range");
      t &= 15;
    }
    return t;
  }

  const uChar* fmt_;
  const uChar* end_;
  va_list* args_;
  PosEntry* table_;
  int32 conversions_ = 0;
};

int32 Finish(const Out& o, char* out, int32 capacity) {
  if (out) return capacity - int32(o.room);
  return o.n > uInt64(kDigitsMax) ? kDigitsMax : int32(o.n);
}

int32 FormatV(char* out, int32 capacity, const char* fmt, int32 fmtLen, va_list ap) {
  if (!fmt || fmtLen <= 0 || (out && capacity <= 0)) return 0;
  const uChar* f = reinterpret_cast<const uChar*>(fmt);
  va_list args;
  va_copy(args, ap);
  Out o(out, capacity);
  Engine normal(f, f + fmtLen, &args, nullptr);
  Result r = normal.Run(o, Mode::kNormal);
  int32 result = Finish(o, out, capacity);
  if (r == Result::kSwitch) {
    PosEntry table[kMaxPositions] = {};
    Out none(nullptr, 0);
    Engine record(f, f + fmtLen, nullptr, table);
    if (record.Run(none, Mode::kRecord) == Result::kDone) {
      // Fetch: the used positions must run unbroken from 1.
      bool gap = false;
      for (int32 i = 0; i < kMaxPositions; ++i) {
        PosEntry& e = table[i];
        if (!e.cls) {
          gap = true;
          continue;
        }
        if (gap) {
          DBPrintf("Not all parameters between 1 and %ld specified", i);
          va_end(args);
          return 0;
        }
        if (e.cls == kClsDouble) {
          float64 d = va_arg(args, float64);
          std::memcpy(e.w, &d, 8);
        } else {
          e.w[0] = va_arg(args, uInt32);
        }
      }
      Out o2(out, capacity);
      Engine positional(f, f + fmtLen, nullptr, table);
      positional.Run(o2, Mode::kPositional);
      result = Finish(o2, out, capacity);
    }
  }
  va_end(args);
  return result;
}

int32 CLen(const char* s) { return s ? int32(std::strlen(s)) : 0; }

}  // namespace

// ---------------------------------------------------------------- engine

int32 SPrintfv(char* out, int32 capacity, const char* fmt, int32 fmtLen, va_list args) {
  return FormatV(out, capacity, fmt, fmtLen, args);
}

int32 SPrintf(char* out, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int32 n = FormatV(out, out ? kDigitsMax : 0, fmt, CLen(fmt), ap);
  va_end(ap);
  if (out) out[n] = 0;
  return n;
}

int32 SPrintfp(char* out, ConstPStr fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int32 n = FormatV(out, out ? kDigitsMax : 0, reinterpret_cast<const char*>(fmt + 1), PStrLen(fmt), ap);
  va_end(ap);
  if (out) out[n] = 0;
  return n;
}

int32 PPrintf(PStr out, const char* fmt, ...) {
  if (!out) return 0;
  va_list ap;
  va_start(ap, fmt);
  int32 n = FormatV(reinterpret_cast<char*>(out + 1), 255, fmt, CLen(fmt), ap);
  va_end(ap);
  out[0] = uChar(n);
  return n;
}

int32 PPrintfp(PStr out, ConstPStr fmt, ...) {
  if (!out) return 0;
  va_list ap;
  va_start(ap, fmt);
  int32 n = FormatV(reinterpret_cast<char*>(out + 1), 255, reinterpret_cast<const char*>(fmt + 1), PStrLen(fmt), ap);
  va_end(ap);
  out[0] = uChar(n);
  return n;
}

// ---------------------------------------------------------------- allocating wrappers

namespace {
// The second pass must write exactly what the first counted.
void CheckPasses(int32 counted, int32 written) {
  if (written != counted) DBAssert(__FILE__, __LINE__, "printf passes differ");
}
}  // namespace

MgErr LStrPrintf(LStrHandle h, const char* fmt, ...) {
  if (!h) return kArgErr;
  int32 len = CLen(fmt);
  va_list ap, ap2;
  va_start(ap, fmt);
  va_copy(ap2, ap);
  int32 count = FormatV(nullptr, 0, fmt, len, ap);
  MgErr err = count > kDigitsMax - 4 ? kMemFullErr : DSSetHandleSize(reinterpret_cast<UHandle>(h), count + 4);
  if (!err) {
    int32 n = FormatV(reinterpret_cast<char*>((*h)->str), count, fmt, len, ap2);
    CheckPasses(count, n);
    (*h)->cnt = n;
  }
  va_end(ap2);
  va_end(ap);
  return err;
}

MgErr LStrAppendPrintf(LStrHandle h, const char* fmt, ...) {
  if (!h || !*h) return kArgErr;
  UHandle uh = reinterpret_cast<UHandle>(h);
  // Resized in its own zone: the data zone refuses handles of the
  // application zone and the reverse.
  bool ds = MemIsDSHandle(uh);
  int32 size = ds ? DSGetHandleSize(uh) : AZGetHandleSize(uh);
  if (size < 4) return kArgErr;
  int32 old = (*h)->cnt;
  if (old < 0) old = 0;
  if (old > size - 4) old = size - 4;
  int32 len = CLen(fmt);
  va_list ap, ap2;
  va_start(ap, fmt);
  va_copy(ap2, ap);
  int32 count = FormatV(nullptr, 0, fmt, len, ap);
  MgErr err;
  if (count > kDigitsMax - 4 - old) err = kMemFullErr;
  else err = ds ? DSSetHandleSize(uh, old + count + 4) : AZSetHandleSize(uh, old + count + 4);
  if (!err) {
    int32 n = FormatV(reinterpret_cast<char*>((*h)->str + old), count, fmt, len, ap2);
    CheckPasses(count, n);
    (*h)->cnt = old + n;
  }
  va_end(ap2);
  va_end(ap);
  return err;
}

UHandle HPrintf(UHandle h, const char* fmt, ...) {
  int32 len = CLen(fmt);
  va_list ap, ap2;
  va_start(ap, fmt);
  va_copy(ap2, ap);
  int32 count = FormatV(nullptr, 0, fmt, len, ap);
  UHandle result = h;
  bool ok = count < kDigitsMax;
  if (ok && h) {
    ok = AZSetHandleSize(h, count + 1) == kNoErr;
  } else if (ok) {
    result = AZNewHandle(count + 1);
    ok = result != nullptr;
  }
  if (ok) {
    int32 n = FormatV(reinterpret_cast<char*>(*result), count, fmt, len, ap2);
    CheckPasses(count, n);
    (*result)[n] = 0;
  }
  va_end(ap2);
  va_end(ap);
  return result;
}

int32 FPrintf(FileRef ref, const char* fmt, ...) {
  int32 len = CLen(fmt);
  va_list ap, ap2;
  va_start(ap, fmt);
  va_copy(ap2, ap);
  int32 count = FormatV(nullptr, 0, fmt, len, ap);
  int32 result = 0;
  if (count > 0) {
    // Nothing is written when the block cannot be had: that is a failure,
    // not the counted length.
    UPtr block = DSNewPtr(count);
    if (!block) {
      result = -1;
    } else {
      int32 n = FormatV(reinterpret_cast<char*>(block), count, fmt, len, ap2);
      int32 actual = 0;
      SPrintfWriteProc write = gWrite ? gWrite : FMWrite;
      MgErr err = write(ref, n, &actual, block);
      DSDisposePtr(block);
      result = (err != kNoErr || actual != n) ? -1 : n;
    }
  }
  va_end(ap2);
  va_end(ap);
  return result;
}

// ---------------------------------------------------------------- backslash codes

int32 ScanForBackslash(const uChar** cursor, const uChar* end) {
  if (!cursor || !*cursor || *cursor >= end) return 0;
  const uChar* p = *cursor;
  if (*p != '\\') {
    *cursor = p + 1;
    return *p;
  }
  ++p;
  if (p == end) {  // a backslash at the very end stands for itself
    *cursor = p;
    return '\\';
  }
  uChar c = *p++;
  int32 v;
  switch (c) {
    case 'b': v = 8; break;
    case 'f': v = 12; break;
    case 'n': v = 10; break;
    case 'r': v = 13; break;
    case 's': v = ' '; break;
    case 't': v = 9; break;
    default:
      if (IsHexDigitChar(c)) {
        v = HexValue(c);
        if (p < end && IsHexDigitChar(*p)) v = v * 16 + HexValue(*p++);
      } else {
        v = c;
      }
      break;
  }
  *cursor = p;
  return v;
}

int32 ExpandToBackslash(uChar** cursor, int32 c) {
  uChar b = uChar(c);
  char text[3];
  int32 n;
  char code = 0;
  switch (b) {
    case 8: code = 'b'; break;
    case 9: code = 't'; break;
    case 10: code = 'n'; break;
    case 12: code = 'f'; break;
    case 13: code = 'r'; break;
    case 32: code = 's'; break;
    case '\\': code = '\\'; break;
    default: break;
  }
  if (code) {
    text[0] = '\\';
    text[1] = code;
    n = 2;
  } else if (b >= 33 && b <= 126) {
    text[0] = char(b);
    n = 1;
  } else {
    text[0] = '\\';
    text[1] = char(HexChar(b >> 4));
    text[2] = char(HexChar(b));
    n = 3;
  }
  if (cursor && *cursor) {
    std::memcpy(*cursor, text, size_t(n));
    *cursor += n;
  }
  return n;
}

// ---------------------------------------------------------------- fixed-form test

namespace {
// The count of one real value: 1 for a negative sign plus the integer part of
// the absolute decimal logarithm, 1 for zero; infinities and NaNs count 3,
// and an extended NaN never passes.
int64 MagnitudeCount(int32 type, const void* p) {
  long double x = NumLoadReal(type, p);
  if (x != x) return type == kNumEXT ? kDigitsMax : 3;
  double d = double(x);
  if (d == 0) return 1;
  if (__builtin_isinf(d)) return 3;
  double lg = __builtin_log10(d < 0 ? -d : d);
  return (d < 0 ? 1 : 0) + int64(lg < 0 ? -__builtin_trunc(lg) : __builtin_trunc(lg));
}
}  // namespace

Bool32 FFmtOK(int32 width, int32 type, const void* value) {
  int32 limit = width > 0 ? width - 1 : 18;
  int32 t = type & 15;
  int64 count;
  if (!value) {
    count = 1;
  } else if (NumClass(t) == kNumClassComplex) {
    int32 part = t - 3;
    const uChar* p = static_cast<const uChar*>(value);
    count = 4 + MagnitudeCount(part, p) + MagnitudeCount(part, p + NumSize(part));
  } else {
    count = MagnitudeCount(t, value);
  }
  return count <= limit;
}

// ---------------------------------------------------------------- settings

void SPrintfSetPathTooLongText(ConstPStr text) {
  if (!text) text = reinterpret_cast<ConstPStr>("\x0F<path too long>");
  std::memcpy(gPathTooLong, text, size_t(text[0]) + 1);
}

void SPrintfSetFileProcs(SPrintfPathToTextProc pathToText, SPrintfWriteProc write) {
  gPathToText = pathToText;
  gWrite = write;
}
