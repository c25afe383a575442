// Scan From String: the walk of a format over an input, the conversions of
// each argument class, the failure outputs, and the two entry points of
// compiled diagrams.
#include "rtlib/strscan.h"

#include <cstring>
#include <vector>

#include "mgsource/blockmove.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/path.h"
#include "mgsource/textnum.h"
#include "rtlib/strformat.h"

namespace {

// Space, tab, form feed, carriage return and line feed.
bool IsWhite(uChar c) { return c == ' ' || c == '\t' || c == '\f' || c == '\r' || c == '\n'; }
// Space and tab.
bool IsBlank(uChar c) { return c == ' ' || c == '\t'; }

// The input and the position reached in it.
struct Input {
  const uChar* text;
  int32 len;
  int32 pos = 0;
  int32 Rest() const { return len - pos; }
  const uChar* At() const { return text + pos; }
  void SkipWhite() {
    while (pos < len && IsWhite(text[pos])) ++pos;
  }
  void SkipBlanks() {
    while (pos < len && IsBlank(text[pos])) ++pos;
  }
};

// The characters a conversion may use: the width when one is given, never
// past the input.
int32 Avail(const FmtItem& it, const Input& in) {
  int32 rest = in.Rest();
  return it.width > 0 && it.width < rest ? it.width : rest;
}

// One argument: its descriptor, its output and its default (or null).
struct Target {
  const TypeDescriptor* td;
  void* out;
  const void* def;
};

// Flips the sign of a float part (the sign bit is the top bit of its last byte).
void NegatePart(int32 part, uChar* value) { value[NumSize(part) - 1] ^= 0x80; }

// A complex text of part type part at text: the real and imaginary parts
// into value (two parts); returns the characters used, 0 when there is no
// number.  Nothing is stored into value on failure.
int32 ReadComplex(const uChar* text, int32 n, int32 part, uChar sep, uChar* value) {
  int32 size = NumSize(part);
  alignas(8) uChar first[16], second[16];
  const uChar* c = text;
  if (SciStrToNum(&c, n, part, first, sep) == 0) return 0;
  int32 at = int32(c - text);
  int32 q = at;
  while (q < n && IsBlank(text[q])) ++q;
  if (q < n && text[q] == 'i') {  // an imaginary part alone
    std::memset(value, 0, size_t(size));
    std::memcpy(value + size, first, size_t(size));
    return q + 1;
  }
  if (q < n && (text[q] == '+' || text[q] == '-')) {
    bool negative = text[q] == '-';
    int32 r = q + 1;
    while (r < n && IsBlank(text[r])) ++r;
    const uChar* c2 = text + r;
    if (r < n && SciStrToNum(&c2, n - r, part, second, sep) > 0) {
      int32 s = int32(c2 - text);
      while (s < n && IsBlank(text[s])) ++s;
      if (s < n && text[s] == 'i') {
        if (negative) NegatePart(part, second);
        std::memcpy(value, first, size_t(size));
        std::memcpy(value + size, second, size_t(size));
        return s + 1;
      }
    }
  }
  std::memcpy(value, first, size_t(size));  // a real part alone
  std::memset(value + size, 0, size_t(size));
  return at;
}

// An integer conversion: the 32-bit value of min(width, rest) characters,
// signed for "d"; false when no digit was read.
bool ReadInteger(const FmtItem& it, Input& in, int32* value, int32* srcType) {
  const uChar* start = in.At();
  const uChar* c = start;
  int32 n = Avail(it, in);
  bool isSigned = it.conv == 'd';
  int32 type = isSigned ? kNumI32 : kNumU32;
  switch (it.conv) {
    case 'd': *value = DecStrToNum(&c, n, type); break;
    case 'u': *value = UDecStrToNum(&c, n, type); break;
    case 'x': *value = HexStrToNum(&c, n, type); break;
    case 'o': *value = OctStrToNum(&c, n, type); break;
    default: *value = BinStrToNum(&c, n, type); break;
  }
  if (c == start) return false;
  in.pos += int32(c - start);
  *srcType = type;
  return true;
}

// A floating-point number (or a complex one) of the type into value.
bool ReadFloat(const FmtItem& it, Input& in, int32 numType, uChar sep, uChar* value) {
  int32 n = Avail(it, in);
  if (NumClass(numType) == kNumClassComplex) {
    int32 used = ReadComplex(in.At(), n, numType - 3, sep, value);
    in.pos += used;
    return used > 0;
  }
  const uChar* c = in.At();
  int32 used = SciStrToNum(&c, n, numType, value, sep);
  in.pos += used;
  return used > 0;
}

// A token for "s": spaces and tabs skipped, then up to the width or the next
// white space.  Its length (0: none).
int32 Token(const FmtItem& it, Input& in, const uChar** start) {
  in.SkipBlanks();
  int32 n = Avail(it, in);
  const uChar* t = in.At();
  int32 k = 0;
  while (k < n && !IsWhite(t[k])) ++k;
  *start = t;
  return k;
}

// The run of scan-set characters at the input, at most the width.
int32 SetRun(const uChar* fmt, const FmtItem& it, const Input& in) {
  FmtScanSet set;
  FmtBuildScanSet(fmt, it, &set);
  int32 n = Avail(it, in);
  const uChar* t = in.At();
  int32 k = 0;
  while (k < n && set.Has(t[k])) ++k;
  return k;
}

bool SameNoCase(const uChar* a, int32 n, const char* word) {
  int32 k = int32(std::strlen(word));
  if (k != n) return false;
  for (int32 i = 0; i < n; ++i) {
    uChar c = a[i];
    if (c >= 'a' && c <= 'z') c = uChar(c - 'a' + 'A');
    if (c != uChar(word[i])) return false;
  }
  return true;
}

// A boolean word: 1 true, 0 false, -1 none.
int32 BooleanWord(const uChar* t, int32 n) {
  static const char* const kTrue[] = {"T", "Y", "TRUE", "ON", "YES"};
  static const char* const kFalse[] = {"F", "N", "FALSE", "OFF", "NO"};
  for (const char* w : kTrue)
    if (SameNoCase(t, n, w)) return 1;
  for (const char* w : kFalse)
    if (SameNoCase(t, n, w)) return 0;
  return -1;
}

// Stores an enum's index, pinned to its items.
void StoreEnum(const Target& t, int32 numType, int64 index) {
  int32 count = FmtEnumCount(t.td);
  if (index > count - 1) index = count - 1;
  if (index < 0) index = 0;
  uInt32 v = uInt32(index);
  ConvertNum(kNumU32, &v, numType, t.out);
}

// Sets a string output to the bytes; a failed resize leaves it unchanged.
void StoreText(LStrHandle* slot, const uChar* bytes, int32 n) {
  if (!*slot) {
    LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(n + int32(sizeof(int32))));
    if (!h) return;
    *slot = h;
  } else if (DSSetHandleSize(reinterpret_cast<UHandle>(*slot), n + int32(sizeof(int32))) != kNoErr) {
    return;
  }
  if (n > 0) MoveBlock(bytes, (**slot)->str, n);
  (**slot)->cnt = n;
}

// Converts text into a string or path output: the scan set's run, or else
// the "s" token (the whole rest in the single-argument form).
bool ConvertText(const uChar* fmt, const FmtItem& it, const Target& t, Input& in, bool single) {
  const uChar* start;
  int32 n;
  if (it.conv == kFmtConvSet) {
    start = in.At();
    n = SetRun(fmt, it, in);
  } else if (single) {
    start = in.At();
    n = Avail(it, in);
  } else {
    n = Token(it, in, &start);
  }
  if (n <= 0) return false;
  if (t.td->code == kTDPath) {
    if (FTextToPath(start, n, static_cast<Path*>(t.out)) != kNoErr) return false;
  } else {
    StoreText(static_cast<LStrHandle*>(t.out), start, n);
  }
  in.pos = int32(start - in.text) + n;
  return true;
}

// Converts one argument by the specifier; stores its value only on success.
bool Convert(const uChar* fmt, const FmtItem& it, const Target& t, Input& in, bool single, uChar sep) {
  if (!t.td || !t.out) return false;
  int32 code = t.td->code;
  bool textConv = FmtIsTextConv(it.conv);
  bool intConv = FmtIntegerCode(it.conv) != 0;
  alignas(8) uChar tmp[32];
  switch (FmtClassOf(code)) {
    case kFmtClassNone:
      return false;
    case kFmtClassString:
    case kFmtClassPath:
      return ConvertText(fmt, it, t, in, single);
    case kFmtClassBoolean: {
      int32 on;
      if (textConv) {
        const uChar* start;
        int32 n;
        if (it.conv == kFmtConvSet) {
          start = in.At();
          n = SetRun(fmt, it, in);
        } else {
          n = Token(it, in, &start);
        }
        on = n > 0 ? BooleanWord(start, n) : -1;
        if (on < 0) return false;
        in.pos = int32(start - in.text) + n;
      } else {
        in.SkipWhite();
        if (intConv) {
          int32 v, type;
          if (!ReadInteger(it, in, &v, &type)) return false;
          on = v != 0;
        } else {
          float64 d;
          if (!ReadFloat(it, in, kNumDBL, sep, tmp)) return false;
          std::memcpy(&d, tmp, sizeof d);
          on = d != 0;
        }
      }
      *static_cast<uChar*>(t.out) = uChar(on);
      return true;
    }
    case kFmtClassEnum: {
      int32 numType = FmtNumType(code);
      if (it.conv == kFmtConvSet) {
        const uChar* start = in.At();
        int32 n = SetRun(fmt, it, in);
        if (n <= 0) return false;
        FmtEnumWalk walk(t.td);
        const uChar* name;
        int32 len;
        for (int32 i = 0; walk.Next(&name, &len); ++i) {
          if (len == n && std::memcmp(name, start, size_t(n)) == 0) {
            StoreEnum(t, numType, i);
            in.pos += n;
            return true;
          }
        }
        return false;
      }
      if (textConv) {  // the longest name that matches, the first of equal ones
        int32 n = Avail(it, in);
        int32 best = -1, bestLen = 0;
        FmtEnumWalk walk(t.td);
        const uChar* name;
        int32 len;
        for (int32 i = 0; walk.Next(&name, &len); ++i) {
          if (len > bestLen && len <= n && std::memcmp(name, in.At(), size_t(len)) == 0) {
            best = i;
            bestLen = len;
          }
        }
        if (best < 0) return false;
        StoreEnum(t, numType, best);
        in.pos += bestLen;
        return true;
      }
      if (intConv) {
        int32 v, type;
        if (!ReadInteger(it, in, &v, &type)) return false;
        StoreEnum(t, numType, type == kNumI32 ? int64(v) : int64(uInt32(v)));
        return true;
      }
      if (!ReadFloat(it, in, kNumDBL, sep, tmp)) return false;
      uInt32 v;
      ConvertNum(kNumDBL, tmp, kNumU32, &v);
      StoreEnum(t, numType, v);
      return true;
    }
    case kFmtClassNumeric: {
      int32 numType = FmtNumType(code);
      if (!numType) return false;
      in.SkipWhite();
      if (intConv) {
        int32 v, type;
        if (!ReadInteger(it, in, &v, &type)) return false;
        if (numType == type) std::memcpy(t.out, &v, sizeof v);  // the common case, without conversion
        else ConvertNum(type, &v, numType, t.out);
        return true;
      }
      if (!ReadFloat(it, in, numType, sep, tmp)) return false;
      std::memcpy(t.out, tmp, size_t(NumSize(numType)));
      return true;
    }
  }
  return false;
}

// The size of a number-like output (0 for text classes and unknown ones).
int32 ValueSize(int32 code) {
  switch (FmtClassOf(code)) {
    case kFmtClassBoolean: return 1;
    case kFmtClassNumeric:
    case kFmtClassEnum: return FmtNumType(code) ? NumSize(FmtNumType(code)) : 0;
    default: return 0;
  }
}

// Clears an output: numbers zero, booleans false, strings and paths empty.
void Clear(const Target& t) {
  if (!t.td || !t.out) return;
  int32 code = t.td->code;
  switch (FmtClassOf(code)) {
    case kFmtClassString: {
      LStrHandle h = *static_cast<LStrHandle*>(t.out);
      if (h) StoreText(static_cast<LStrHandle*>(t.out), nullptr, 0);
      return;
    }
    case kFmtClassPath: {
      Path* slot = static_cast<Path*>(t.out);
      Path p = FEmptyPath(*slot);
      if (p) *slot = p;
      return;
    }
    default:
      if (int32 size = ValueSize(code)) std::memset(t.out, 0, size_t(size));
      return;
  }
}

// Sets an output to its default (a string or path copied from it).
void SetDefault(const Target& t) {
  if (!t.td || !t.out || !t.def) return;
  int32 code = t.td->code;
  switch (FmtClassOf(code)) {
    case kFmtClassString: {
      LStrHandle d = *static_cast<const LStrHandle*>(t.def);
      LStrHandle* slot = static_cast<LStrHandle*>(t.out);
      if (d == *slot) return;
      if (!d || !*d) {
        Clear(t);
        return;
      }
      StoreText(slot, (*d)->str, LStrLen(*d));
      return;
    }
    case kFmtClassPath: {
      Path d = *static_cast<const Path*>(t.def);
      Path* slot = static_cast<Path*>(t.out);
      if (!d) {
        Clear(t);
        return;
      }
      if (!*slot) {
        Path p = FEmptyPath(nullptr);
        if (!p) return;
        *slot = p;
      }
      FPathCpy(*slot, d);
      return;
    }
    default:
      if (int32 size = ValueSize(code)) MoveBlock(t.def, t.out, size);
      return;
  }
}

// The arguments of a scan: the single one (taken by its first specifier
// only) or the list with its defaults.
class Targets {
 public:
  Targets(const TypeDescriptor* type, const void* defaults, void* args, int32 argCount)
      : count_(argCount < 0 ? 0 : argCount) {
    if (count_ == 0) {
      single_ = {type, args, defaults};
    } else {
      list_ = static_cast<FmtArgList*>(args);
      defaults_ = static_cast<const void* const*>(defaults);
    }
  }
  bool Single() const { return count_ == 0; }
  int32 Count() const { return count_ == 0 ? 1 : count_; }
  bool HasDefaults() const { return Single() ? single_.def != nullptr : defaults_ != nullptr; }
  Target At(int32 i) const {
    if (Single()) return single_;
    return {list_->args[i].type, list_->args[i].data, defaults_ ? defaults_[i] : nullptr};
  }
  FmtArgList* List() const { return list_; }

 private:
  int32 count_;
  Target single_{};
  FmtArgList* list_ = nullptr;
  const void* const* defaults_ = nullptr;
};

}  // namespace

namespace {

// The engine, over the items of a format read once (or null).
int32 Scan(const TypeDescriptor* type, const uChar* format, int32 formatLength, const uChar* input,
           int32 inputLength, const void* defaults, void* args, int32 argCount, const FmtItemCache* cache) {
  if (!format || formatLength < 0) formatLength = 0;
  if (!input || inputLength < 0) inputLength = 0;
  if (argCount > 0 && !args) argCount = 0, type = nullptr, args = nullptr;
  Targets targets(type, defaults, args, argCount);
  Input in{input, inputLength};
  uChar sep = NumDefaultDecimalPt();
  int32 started = 0;    // specifiers that took an argument
  int32 converted = 0;  // arguments stored
  int32 failStart = -1;
  bool failed = false;
  FmtWalker walk(format, formatLength, cache);
  const FmtItem* it = nullptr;
  while (!failed && in.Rest() > 0 && (it = walk.Next())) {
    switch (it->kind) {
      case kFmtItemWhite:
        in.SkipWhite();
        break;
      case kFmtItemPercent:
      case kFmtItemFinalPercent:
      case kFmtItemCode: {
        uChar want = it->kind == kFmtItemCode ? it->value : uChar('%');
        if (in.text[in.pos] != want) failed = true;
        else ++in.pos;
        break;
      }
      case kFmtItemSeparator:
        sep = it->value;
        break;
      case kFmtItemChar:
      case kFmtItemSpec: {
        bool takes = it->kind == kFmtItemSpec && started < targets.Count() && (!targets.Single() || started == 0);
        if (!takes) {  // literal text, a specifier past the arguments included
          int32 n = it->end - it->start;
          int32 k = n < in.Rest() ? n : in.Rest();
          int32 same = 0;
          while (same < k && format[it->start + same] == in.text[in.pos + same]) ++same;
          in.pos += same;
          if (same < k) {  // the byte that differs
            failed = true;
            break;
          }
          if (k < n) it = nullptr;  // the input ended inside the text
          break;
        }
        ++started;
        int32 at = in.pos;
        if (!Convert(format, *it, targets.At(started - 1), in, targets.Single(), sep)) {
          failed = true;
          failStart = at;
          in.pos = at;
          break;
        }
        ++converted;
        break;
      }
    }
    if (failed && failStart < 0) failStart = in.pos;
    if (!it && !failed) {  // the rest of a literal text was not met
      failed = true;
      failStart = in.pos;
    }
  }
  bool inputLeft = in.Rest() > 0;
  if (!failed && !inputLeft) {
    // The input is used up: white space left in the format is skipped; any
    // other item fails.
    while (const FmtItem* next = walk.Next()) {
      if (next->kind != kFmtItemWhite) {
        failed = true;
        failStart = in.pos;
        break;
      }
    }
  }
  if (targets.Single()) {
    if (failed || started == 0) {
      Target t = targets.At(0);
      if (t.def) SetDefault(t);
      else Clear(t);
      return inputLength;
    }
    return in.Rest();
  }
  FmtArgList* list = targets.List();
  if (!failed) {
    list->errIndex = 0;
    return in.Rest();
  }
  // The failing output (the argument of the failed conversion or the next
  // one), then the later ones that have no default when defaults are given.
  if (converted < argCount) {
    Target t = targets.At(converted);
    if (FmtClassOf(t.td ? int32(t.td->code) : 0) == kFmtClassString) Clear(t);
    else if (t.def) SetDefault(t);
    else Clear(t);
  }
  if (targets.HasDefaults()) {
    for (int32 i = converted + 1; i < argCount; ++i) {
      Target t = targets.At(i);
      if (!t.def) Clear(t);
    }
  }
  list->errIndex = (failStart < inputLength && started > 0) ? started : started + 1;
  return inputLength - failStart;
}

}  // namespace

int32 ScanFormatted(const TypeDescriptor* type, const uChar* format, int32 formatLength, const uChar* input,
                    int32 inputLength, const void* defaults, void* args, int32 argCount) {
  return Scan(type, format, formatLength, input, inputLength, defaults, args, argCount, nullptr);
}

namespace {

// Sets *out to the last n bytes of the text (which may lie in *out).
MgErr StoreTail(LStrHandle* out, const uChar* text, int32 len, int32 n) {
  if (!out) return kNoErr;
  if (n < 0) n = 0;
  if (n > len) n = len;
  const uChar* tail = text + (len - n);
  if (*out && **out && tail >= (**out)->str && tail < (**out)->str + LStrLen(**out)) {
    MoveBlock(tail, (**out)->str, n);
    (**out)->cnt = n;
    DSSetHandleSize(reinterpret_cast<UHandle>(*out), n + int32(sizeof(int32)));
    return kNoErr;
  }
  if (!*out) {
    LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHandle(n + int32(sizeof(int32))));
    if (!h) return kMemFullErr;
    *out = h;
  } else if (MgErr err = DSSetHandleSize(reinterpret_cast<UHandle>(*out), n + int32(sizeof(int32)))) {
    return err;
  }
  if (n > 0) MoveBlock(tail, (**out)->str, n);
  (**out)->cnt = n;
  return kNoErr;
}

// True when the bytes lie inside the block of handle h.
bool Inside(const uChar* p, int32 n, UHandle h) {
  if (!p || n <= 0 || !h || !*h) return false;
  const uChar* base = reinterpret_cast<const uChar*>(*h);
  int32 size = DSGetHandleSize(h);
  return size > 0 && p < base + size && p + n > base;
}

// Bytes kept apart from the string outputs the scan changes: copied when
// they lie in one of them.
class Apart {
 public:
  Apart(const uChar* p, int32 n, bool inside) : p_(p) {
    if (inside && p && n > 0) {
      copy_.assign(p, p + n);
      p_ = copy_.data();
    }
  }
  const uChar* Get() const { return p_; }

 private:
  const uChar* p_;
  std::vector<uChar> copy_;
};

// True when the bytes lie in the handle of a string output of the list.
bool InStringOutput(const uChar* p, int32 n, const FmtArgList* args, int32 count) {
  for (int32 i = 0; i < count; ++i) {
    const TypeDescriptor* td = args->args[i].type;
    if (td && (td->code == kTDString || td->code == kTDString37) && args->args[i].data &&
        Inside(p, n, reinterpret_cast<UHandle>(*static_cast<LStrHandle*>(args->args[i].data))))
      return true;
  }
  return false;
}

bool IsTextCode(int32 code) { return code == kTDString || code == kTDString37 || code == kTDPath; }

}  // namespace

MgErr FormatStrip(int32 inputLength, const uChar* inputBytes, const TypeDescriptor* type, const void* defaultValue,
                  void* output, int32 formatLength, const uChar* formatBytes, LStrHandle* remainingOut) {
  if (!inputBytes || inputLength < 0) inputLength = 0;
  if (!formatBytes || formatLength < 0) formatLength = 0;
  int32 code = type ? int32(type->code) : int32(kTDVoid);
  static const uChar kTextDefault[] = "%s";
  static const uChar kOtherDefault[] = "%g";
  if (formatLength == 0) {
    formatBytes = IsTextCode(code) ? kTextDefault : kOtherDefault;
    formatLength = 2;
  }
  // The input and the format may lie in a string output, which the scan
  // changes (the remainder is set only after the scan, from the input's own
  // block).
  UHandle outHandle = output && (code == kTDString || code == kTDString37)
                          ? reinterpret_cast<UHandle>(*static_cast<LStrHandle*>(output))
                          : nullptr;
  Apart fmt(formatBytes, formatLength, Inside(formatBytes, formatLength, outHandle));
  Apart in(inputBytes, inputLength, Inside(inputBytes, inputLength, outHandle));
  int32 left = ScanFormatted(type, fmt.Get(), formatLength, in.Get(), inputLength, defaultValue, output, 0);
  return StoreTail(remainingOut, in.Get(), inputLength, left);
}

int32 DoScanfNode(void*, LStrHandle format, LStrHandle input, LStrHandle* remainingOut, int32 offset,
                  int32* offsetPastOut, int32 argCount, const void* const* defaults, FmtArgList* args) {
  int32 inputLength = input && *input ? LStrLen(*input) : 0;
  if (offset < 0 || offset > inputLength || argCount < 1 || !args) return -1;
  int32 formatLength = format && *format ? LStrLen(*format) : 0;
  uChar defaultFormat[kFmtDefaultFormatMax + 1];
  const uChar* fmt = defaultFormat;
  FmtItemCache cache;
  if (formatLength == 0) {
    formatLength = MakeDefaultFormat(argCount, args, defaultFormat);
    FmtReadItems(fmt, formatLength, &cache);
  } else {
    fmt = (*format)->str;
    FmtReadItems(fmt, formatLength, &cache);
    if (int32 err = FmtCheck(fmt, formatLength, argCount, args, &cache)) return -err;
  }
  // The format and the input are kept apart from the string outputs, which
  // the scan changes.
  Apart keptFormat(fmt, formatLength, fmt != defaultFormat && InStringOutput(fmt, formatLength, args, argCount));
  const uChar* text = input && *input ? (*input)->str : nullptr;
  Apart copy(text, inputLength, InStringOutput(text, inputLength, args, argCount));
  const uChar* from = copy.Get() ? copy.Get() + offset : nullptr;
  int32 left =
      Scan(nullptr, keptFormat.Get(), formatLength, from, inputLength - offset, defaults, args, argCount, &cache);
  if (offsetPastOut) *offsetPastOut = inputLength - left;
  StoreTail(remainingOut, copy.Get(), inputLength, left);
  return args->errIndex ? -kFmtScanFailed : 0;
}

int32 ScanComplexText(const uChar* text, int32 length, int32 decimalSeparator) {
  if (!text || length <= 0) return 0;
  alignas(8) uChar value[32];
  return ReadComplex(text, length, kNumEXT, uChar(decimalSeparator), value);
}
