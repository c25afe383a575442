// The format-string language: items, argument classes, scan sets and the
// check of a format against its arguments.
#include "rtlib/fmtitems.h"

#include <cstring>

#include "mgsource/extsupport.h"
#include "mgsource/numconv.h"
#include "mgsource/printf.h"
#include "mgsource/textoffset.h"

namespace {

// Text is stepped through with the application font's character widths.
constexpr int32 kStepFont = 0;

bool IsFlagChar(uChar c) { return c == '-' || c == '+' || c == '^' || c == '0'; }
bool IsDigitChar(uChar c) { return c >= '0' && c <= '9'; }
// Characters that end a run of literal text.
bool IsSpecialChar(uChar c) { return c == '%' || c == '\\' || c == ' ' || c == '\t' || c == '\f'; }

// Reads decimal digits at *p (below len), saturating at kFmtMaxCount.
int32 ReadCount(const uChar* fmt, int32 len, int32* p) {
  int64 v = 0;
  while (*p < len && IsDigitChar(fmt[*p])) {
    v = v * 10 + (fmt[*p] - '0');
    if (v > kFmtMaxCount) v = kFmtMaxCount;
    ++*p;
  }
  return int32(v);
}

// The byte at *p, decoding a backslash code; *p moves past it.
uChar ReadSetChar(const uChar* fmt, int32 end, int32* p) {
  const uChar* q = fmt + *p;
  uChar c = uChar(ScanForBackslash(&q, fmt + end));
  *p = int32(q - fmt);
  return c;
}

void SetBit(FmtScanSet* set, int32 c) { set->bits[c >> 5] |= 1u << (c & 31); }

}  // namespace



int32 FmtEnumCount(const TypeDescriptor* td) {
  if (!td || td->size < 6) return 0;
  int16 count;
  std::memcpy(&count, reinterpret_cast<const uChar*>(td) + 4, sizeof count);
  return count > 0 ? count : 0;
}

FmtEnumWalk::FmtEnumWalk(const TypeDescriptor* td)
    : bytes_(reinterpret_cast<const uChar*>(td)), size_(td ? td->size : 0), left_(FmtEnumCount(td)) {}

bool FmtEnumWalk::Next(const uChar** name, int32* len) {
  if (left_ <= 0 || pos_ >= size_ || pos_ + 1 + bytes_[pos_] > size_) return false;
  --left_;
  *name = bytes_ + pos_ + 1;
  *len = bytes_[pos_];
  pos_ += 1 + bytes_[pos_];
  return true;
}


namespace {

// FmtNextItem, inlined where a whole format is read.
inline __attribute__((always_inline)) void NextItem(const uChar* fmt, int32 len, int32 at, FmtItem* item) {
  item->start = at;
  item->value = 0;
  item->flags = 0;
  item->size = 0;
  item->conv = kFmtConvMissing;
  item->width = -1;
  item->precision = -1;
  item->unitStart = -1;
  item->unitLen = 0;
  item->setStart = item->setEnd = -1;
  item->setComplement = false;
  uChar c = fmt[at];
  if (c == '\\') {
    const uChar* q = fmt + at;
    item->kind = kFmtItemCode;
    item->value = uChar(ScanForBackslash(&q, fmt + len));
    item->end = int32(q - fmt);
    return;
  }
  if (c != '%') {
    if (c == ' ' || c == '\t' || c == '\f') {
      item->kind = kFmtItemWhite;
      item->value = c;
      item->end = at + 1;
      return;
    }
    // A run of ordinary characters, double-byte ones whole.
    item->kind = kFmtItemChar;
    int32 p = at;
    do {
      int32 next = TNextCharOffset(fmt, p, kStepFont);
      p = next <= p ? p + 1 : next > len ? len : next;
    } while (p < len && !IsSpecialChar(fmt[p]));
    item->end = p;
    return;
  }
  if (at + 1 >= len) {
    item->kind = kFmtItemFinalPercent;
    item->end = len;
    return;
  }
  uChar n = fmt[at + 1];
  if (n == '%') {
    item->kind = kFmtItemPercent;
    item->end = at + 2;
    return;
  }
  if (n == ';') {
    item->kind = kFmtItemSeparator;
    item->value = NumDefaultDecimalPt();
    item->end = at + 2;
    return;
  }
  if (n != '[' && at + 2 < len) {
    int32 q = at + 2;
    uChar sep = n;
    if (n == '\\') {
      q = at + 1;
      sep = ReadSetChar(fmt, len, &q);
    }
    if (q < len && fmt[q] == ';' && IsPunct(sep)) {
      item->kind = kFmtItemSeparator;
      item->value = sep;
      item->end = q + 1;
      return;
    }
  }
  item->kind = kFmtItemSpec;
  int32 p = at + 1;
  while (p < len && IsFlagChar(fmt[p])) {
    switch (fmt[p]) {
      case '-': item->flags |= kFmtFlagLeft; break;
      case '+': item->flags |= kFmtFlagPlus; break;
      case '^': item->flags |= kFmtFlagEng; break;
      default: item->flags |= kFmtFlagZero; break;
    }
    ++p;
  }
  if (p < len && IsDigitChar(fmt[p])) item->width = ReadCount(fmt, len, &p);
  if (p < len && fmt[p] == '.') {
    ++p;
    item->precision = ReadCount(fmt, len, &p);
  }
  if (p < len && fmt[p] == '{') {
    const void* close = std::memchr(fmt + p + 1, '}', size_t(len - p - 1));
    if (!close) {  // cut off inside the unit text
      item->end = len;
      return;
    }
    int32 c2 = int32(static_cast<const uChar*>(close) - fmt);
    item->unitStart = p + 1;
    item->unitLen = c2 - p - 1;
    p = c2 + 1;
  }
  if (p < len && (fmt[p] == 'l' || fmt[p] == 'L' || fmt[p] == 'h')) item->size = fmt[p++];
  if (p >= len) {
    item->end = len;
    return;
  }
  uChar conv = fmt[p];
  if (conv != '[') {
    item->conv = (conv >= 'A' && conv <= 'Z') ? uChar(conv + ('a' - 'A')) : conv;
    item->end = p + 1;
    return;
  }
  int32 q = p + 1;
  if (q < len && fmt[q] == '^') {
    item->setComplement = true;
    ++q;
  }
  item->setStart = q;
  if (q < len && fmt[q] == ']') ++q;  // a "]" first is a member
  while (q < len && fmt[q] != ']') ReadSetChar(fmt, len, &q);
  item->setEnd = q;
  if (q >= len) {  // no "]": the set is cut off
    item->end = len;
    return;
  }
  item->conv = kFmtConvSet;
  item->end = q + 1;
}

}  // namespace

void FmtNextItem(const uChar* fmt, int32 len, int32 at, FmtItem* item) { NextItem(fmt, len, at, item); }

void FmtBuildScanSet(const uChar* fmt, const FmtItem& item, FmtScanSet* set) {
  std::memset(set->bits, 0, sizeof set->bits);
  int32 q = item.setStart, end = item.setEnd;
  if (q >= 0 && end > q) {
    int32 prev = -1;
    if (fmt[q] == ']') {
      SetBit(set, ']');
      prev = ']';
      ++q;
    }
    while (q < end) {
      if (fmt[q] == '-' && q > item.setStart && q + 1 < end && prev >= 0) {
        ++q;
        int32 hi = ReadSetChar(fmt, end, &q);
        for (int32 c = prev; c <= hi; ++c) SetBit(set, c);
        prev = hi;
        continue;
      }
      prev = ReadSetChar(fmt, end, &q);
      SetBit(set, prev);
    }
  }
  if (item.setComplement)
    for (uInt32& w : set->bits) w = ~w;
}

void FmtReadItems(const uChar* fmt, int32 len, FmtItemCache* cache) {
  cache->count = 0;
  cache->resume = 0;
  if (!fmt) len = 0;
  while (cache->resume < len && cache->count < FmtItemCache::kMax) {
    FmtItem& it = cache->items[cache->count++];
    NextItem(fmt, len, cache->resume, &it);
    cache->resume = it.end;
  }
}

int32 FmtCheck(const uChar* fmt, int32 len, int32 argCount, FmtArgList* args, const FmtItemCache* cache) {
  if (!fmt || len < 0) len = 0;
  if (argCount < 0 || !args) argCount = 0;
  int32 count = 0, err = 0, index = 0;
  FmtWalker walk(fmt, len, cache);
  while (const FmtItem* next = walk.Next()) {
    const FmtItem& item = *next;
    if (item.kind != kFmtItemSpec) continue;
    ++count;
    if (count > argCount) {
      err = kFmtTooManySpecs;
      break;
    }
    const TypeDescriptor* td = args->args[count - 1].type;
    int32 code = td ? int32(td->code) : int32(kTDVoid);
    FmtClass cls = FmtClassOf(code);
    bool fits;
    if (item.unitStart >= 0 && !FmtIsUnitCode(code)) {
      fits = false;
    } else if (FmtIsNumericConv(item.conv)) {
      fits = cls == kFmtClassNumeric || cls == kFmtClassEnum || cls == kFmtClassBoolean;
    } else if (FmtIsTextConv(item.conv)) {
      fits = cls != kFmtClassNone && cls != kFmtClassNumeric;
    } else {
      err = kFmtConvErr;
      index = count;
      break;
    }
    if (!fits) {
      err = kFmtTypeErr;
      index = count;
    } else if (item.size == 'h') {
      err = kFmtConvErr;
      index = count;
    }
    if (err) break;
  }
  if (!err && count < argCount) err = kFmtTooFewSpecs;
  if (args) args->errIndex = index;
  return err;
}

int32 CheckFormatArgs(LStrHandle format, int32 argCount, FmtArgList* args) {
  const LStr* s = format ? *format : nullptr;
  return FmtCheck(s ? s->str : nullptr, LStrLen(s), argCount, args);
}
