// The format-string language of Format Into String, Scan From String and the
// spreadsheet conversions: one parser of its items (literal characters,
// backslash codes, "%%", separator specifiers and conversion specifiers), the
// argument classes, the scan sets, and the check of a format string against
// the types of its arguments.
//
// A format string is a counted byte run, never NUL-terminated; nothing at or
// past its end is read, however a specifier is cut off.
#pragma once
#include "engine/datatype.h"
#include "mgsource/extcode.h"
#include "mgsource/numconv.h"

// One argument of a multi-argument format or scan: its type descriptor and
// the address of its data.
struct FmtArg {
  const TypeDescriptor* type;
  void* data;
};
// The argument list: the error index (the 1-based number of the specifier in
// error, 0 when none), then one pair per argument.
struct FmtArgList {
  int32 errIndex;
  FmtArg args[1];
};
static_assert(sizeof(FmtArg) == 8 && offsetof(FmtArg, data) == 4, "argument pair layout");
static_assert(offsetof(FmtArgList, args) == 4, "argument list layout");

// The codes of the check (returned negated by the format and scan nodes).
enum : int32 {
  kFmtTypeErr = 81,      // the argument's type does not fit the conversion
  kFmtConvErr = 82,      // unknown conversion
  kFmtTooFewSpecs = 83,  // fewer specifiers than arguments
  kFmtTooManySpecs = 84, // more specifiers than arguments
  kFmtScanFailed = 85,   // a scan did not match its input
};

// Argument classes by type code.
enum FmtClass : int32 {
  kFmtClassNone = 0,  // no class the language knows: nothing is read or written
  kFmtClassNumeric,   // integers, floats, complex numbers, numerics with a unit
  kFmtClassEnum,      // numeric too, with item names
  kFmtClassBoolean,
  kFmtClassString,    // 0x30 and 0x37, an LStr handle
  kFmtClassPath,
};
inline bool FmtIsUnitCode(int32 code) { return code >= kTDUnitSGL && code <= kTDUnitCXT; }
inline bool FmtIsNumericCode(int32 code) { return code >= 0x01 && code <= 0x1E; }
// The class of a type code, and for numeric and enum classes the NumType of
// the value (0 for a numeric code that names no NumType).
inline FmtClass FmtClassOf(int32 code) {
  if (code >= kTDEnumU8 && code <= kTDEnumU32) return kFmtClassEnum;
  if (FmtIsNumericCode(code)) return kFmtClassNumeric;
  switch (code) {
    case kTDBoolean: return kFmtClassBoolean;
    case kTDString:
    case kTDString37: return kFmtClassString;
    case kTDPath: return kFmtClassPath;
    default: return kFmtClassNone;
  }
}
inline int32 FmtNumType(int32 code) {
  if (code >= kNumI8 && code <= kNumCXT) return code;
  if (code >= kTDEnumU8 && code <= kTDEnumU32) return code - kTDEnumU8 + kNumU8;
  if (FmtIsUnitCode(code)) return code - 0x10;
  return 0;
}

// Flags of a specifier.
enum : uInt8 {
  kFmtFlagLeft = 1,   // "-"
  kFmtFlagPlus = 2,   // "+"
  kFmtFlagEng = 4,    // "^"
  kFmtFlagZero = 8,   // "0"
};

// What an item of a format string is.
enum FmtItemKind : int32 {
  kFmtItemChar,          // a run of literal characters (double-byte ones whole)
  kFmtItemCode,          // a backslash code: the byte it stands for
  kFmtItemWhite,         // a space, tab or form feed (a character for formatting)
  kFmtItemPercent,       // "%%"
  kFmtItemFinalPercent,  // "%" as the last character
  kFmtItemSeparator,     // "%;" or "%" punctuation ";": the decimal separator
  kFmtItemSpec,          // a conversion specifier
};

// Conversions: the lower-case letter, '[' for a scan set, 0 when the format
// ends before the conversion; any other character is kept as it is.
enum : uChar { kFmtConvSet = '[', kFmtConvMissing = 0 };

// One item.  For a specifier, a width or precision of digits that overflow
// saturates at kFmtMaxCount; -1 means none was given.
enum : int32 { kFmtMaxCount = 0x7FFFFFFF };
struct FmtItem {
  FmtItemKind kind;
  int32 start;   // the item's bytes in the format: [start, end)
  int32 end;
  uChar value;   // the byte of a code or white character; the separator
  // A specifier:
  uInt8 flags;
  uChar size;    // 'l', 'L', 'h' or 0
  uChar conv;
  int32 width;
  int32 precision;
  int32 unitStart;  // the text between the braces, or -1 when none
  int32 unitLen;
  int32 setStart;   // a scan set: its members (after "[" and "^"), up to the "]"
  int32 setEnd;
  bool setComplement;
};

// Reads the item that starts at offset at (below len) of the format.
void FmtNextItem(const uChar* fmt, int32 len, int32 at, FmtItem* item);

// The items of a format read once, for calls that walk it several times
// (check, measure, write): the first kMax items are kept; the walker reads
// the rest as it goes.
struct FmtItemCache {
  enum : int32 { kMax = 16 };
  FmtItem items[kMax];
  int32 count;   // items kept
  int32 resume;  // offset after the last kept item
};
void FmtReadItems(const uChar* fmt, int32 len, FmtItemCache* cache);
class FmtWalker {
 public:
  FmtWalker(const uChar* fmt, int32 len, const FmtItemCache* cache) : fmt_(fmt), len_(len), cache_(cache) {}
  // The next item, or null at the end of the format.
  const FmtItem* Next() {
    if (cache_ && index_ < cache_->count) {
      const FmtItem* it = &cache_->items[index_++];
      at_ = it->end;
      return it;
    }
    if (at_ >= len_) return nullptr;
    FmtNextItem(fmt_, len_, at_, &own_);
    at_ = own_.end;
    return &own_;
  }

 private:
  const uChar* fmt_;
  int32 len_;
  const FmtItemCache* cache_;
  int32 index_ = 0;
  int32 at_ = 0;
  FmtItem own_;
};

// Integer conversions and their NumToTextFmt codes (0 for other conversions).
inline int32 FmtIntegerCode(uChar conv) {
  switch (conv) {
    case 'd': return kNumFmtDecimal;
    case 'u': return kNumFmtUnsigned;
    case 'x': return kNumFmtHex;
    case 'o': return kNumFmtOctal;
    case 'b': return kNumFmtBinary;
    default: return 0;
  }
}
inline bool FmtIsFloatConv(uChar c) { return c == 'e' || c == 'f' || c == 'g'; }
inline bool FmtIsNumericConv(uChar c) { return FmtIntegerCode(c) != 0 || FmtIsFloatConv(c); }
inline bool FmtIsTextConv(uChar c) { return c == 's' || c == kFmtConvSet; }

// A scan set as 256 bits, one per byte value, the complement applied.
struct FmtScanSet {
  uInt32 bits[8];
  bool Has(uChar c) const { return (bits[c >> 5] >> (c & 31)) & 1; }
};
void FmtBuildScanSet(const uChar* fmt, const FmtItem& item, FmtScanSet* set);

// The items of an enum descriptor: the count it declares (0 when it holds
// none), and its names in order, read within the descriptor's size.
int32 FmtEnumCount(const TypeDescriptor* td);
class FmtEnumWalk {
 public:
  explicit FmtEnumWalk(const TypeDescriptor* td);
  // The next name; false after the last (or where the descriptor ends).
  bool Next(const uChar** name, int32* len);

 private:
  const uChar* bytes_;
  int32 size_;
  int32 left_;
  int32 pos_ = 6;
};

// The check of a format against its arguments: 0, or the first of 84, 81,
// 82, 83 met walking the format; writes the error index into args (when
// given): the specifier's number for 81 and 82, else 0.
int32 FmtCheck(const uChar* fmt, int32 len, int32 argCount, FmtArgList* args,
               const FmtItemCache* cache = nullptr);
// The same on the format of an LStr handle (null or empty: no specifier).
QX_EXTERN_C int32 CheckFormatArgs(LStrHandle format, int32 argCount, FmtArgList* args);
