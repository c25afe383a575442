#include "counted_strings.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "byteorder.h"
#include "debug.h"
#include "memory.h"
#include "textoffset.h"

namespace {

// ------------------------------------------------------------- handle zones

// Lists and long strings may live in either zone; the operations resize them
// in the zone they belong to.
struct Zone {
  int32 (*size)(UHandle);
  MgErr (*resize)(UHandle, int32);
};
const Zone kAZZone = {AZGetHandleSize, AZSetHandleSize};
const Zone kDSZone = {DSGetHandleSize, DSSetHandleSize};

const Zone* ZoneOf(const void* h) {
  if (AZIsHandle(h)) return &kAZZone;
  if (MemIsDSHandle(h)) return &kDSZone;
  return nullptr;
}

// Reads and writes of a 32-bit word at any address.
inline int32 Get32(const uChar* p) {
  int32 v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Put32(uChar* p, int32 v) { std::memcpy(p, &v, 4); }
// A signed 32-bit length stored big-endian.
inline int32 GetBE32Signed(const uChar* p) { return int32(GetBE32(p)); }

// The fonts are single-byte for now; characters are stepped under the
// application font.
constexpr int32 kStepFont = 0;

// The common comparison of two counted byte runs.
int32 CompareRuns(const uChar* a, int32 na, const uChar* b, int32 nb, bool ignoreCase) {
  int32 n = na < nb ? na : nb;
  for (int32 i = 0; i < n; ++i) {
    int32 ca = a[i], cb = b[i];
    if (ca == cb) continue;
    if (!ignoreCase) return ca - cb;
    int32 la = ToLower(ca), lb = ToLower(cb);
    if (la != lb) return la - lb;
  }
  return na - nb;
}

const uChar kNoBytes[1] = {0};
inline const uChar* PBytes(ConstPStr p) { return p ? p + 1 : kNoBytes; }
inline int32 LCount(const LStr* l) { return l && l->cnt > 0 ? l->cnt : 0; }

}  // namespace

// ----------------------------------------------------------- Pascal strings

PStr PStrCpy(PStr dst, ConstPStr src) {
  std::memmove(dst, src, size_t(src[0]) + 1);
  return dst;
}

int32 PStrCat(PStr dst, ConstPStr src) {
  int32 have = dst[0], add = src[0];
  if (add > 255 - have) add = 255 - have;
  std::memmove(dst + 1 + have, src + 1, size_t(add));
  dst[0] = uChar(have + add);
  return have + add;
}

PStr PStrNCpy(PStr dst, ConstPStr src, int32 n) {
  if (n <= 0) return dst;  // no room even for the length byte
  int32 count = src[0] + 1;
  if (count > n) count = n;
  std::memmove(dst, src, size_t(count));
  dst[0] = uChar(count - 1);
  return dst;
}

int32 PStrCmp(ConstPStr a, ConstPStr b) {
  if (a == b) return 0;
  return CompareRuns(PBytes(a), PStrLen(a), PBytes(b), PStrLen(b), false);
}

int32 PStrCaseCmp(ConstPStr a, ConstPStr b) {
  if (a == b) return 0;
  return CompareRuns(PBytes(a), PStrLen(a), PBytes(b), PStrLen(b), true);
}

Bool32 PStrEqual(ConstPStr a, ConstPStr b) { return PStrLen(a) == PStrLen(b) && PStrCmp(a, b) == 0; }
Bool32 PStrCaseEqual(ConstPStr a, ConstPStr b) { return PStrLen(a) == PStrLen(b) && PStrCaseCmp(a, b) == 0; }
int32 PPStrCmp(const ConstPStr* a, const ConstPStr* b) { return PStrCmp(*a, *b); }
int32 PPStrCaseCmp(const ConstPStr* a, const ConstPStr* b) { return PStrCaseCmp(*a, *b); }

// -------------------------------------------------------------- conversions

int32 PToCStr(ConstPStr p, CStr c) {
  int32 n = PStrLen(p);
  std::memmove(c, PBytes(p), size_t(n));
  c[n] = 0;
  return n;
}

int32 CToPStr(ConstCStr c, PStr p) {
  size_t n = c ? strnlen(c, 255) : 0;
  std::memmove(p + 1, c ? c : "", n);
  p[0] = uChar(n);
  return int32(n);
}

int32 LToPStr(const LStr* l, PStr p) {
  int32 n = LCount(l);
  if (n > 255) n = 255;
  if (n) std::memmove(p + 1, l->str, size_t(n));
  p[0] = uChar(n);
  return n;
}

int32 PToLStr(ConstPStr p, LStr* l) {
  int32 n = PStrLen(p);
  std::memmove(l->str, PBytes(p), size_t(n));
  l->cnt = n;
  return n;
}

int32 LToCStr(const LStr* l, CStr c) {
  int32 n = LCount(l);
  if (n) std::memmove(c, l->str, size_t(n));
  c[n] = 0;
  return n;
}

PStr TempCToPStr(ConstCStr c) {
  static Str255 buffer;
  CToPStr(c, buffer);
  return buffer;
}

// ------------------------------------------------------------- long strings

int32 LStrCmp(const LStr* a, const LStr* b) {
  if (a == b) return 0;
  return CompareRuns(a ? a->str : kNoBytes, LCount(a), b ? b->str : kNoBytes, LCount(b), false);
}

int32 LStrCaseCmp(const LStr* a, const LStr* b) {
  if (a == b) return 0;
  return CompareRuns(a ? a->str : kNoBytes, LCount(a), b ? b->str : kNoBytes, LCount(b), true);
}

namespace {
// The count of a long string in a handle, checked against the handle's size;
// -1 (reported) when the string runs past it or the handle is too small.
int32 CheckedLCount(UHandle h, int32 size) {
  if (size < 4) {
    DBAssert(__FILE__, __LINE__, "long string handle without a count");
    return -1;
  }
  int32 cnt = Get32(*h);
  if (cnt < 0) cnt = 0;
  if (cnt > size - 4) {
    DBAssert(__FILE__, __LINE__, "long string count runs past its handle");
    return -1;
  }
  return cnt;
}
}  // namespace

MgErr LStrHAppend(LStrHandle h, LStrHandle l) {
  UHandle hh = reinterpret_cast<UHandle>(h);
  if (!h) return kArgErr;
  const Zone* zone = ZoneOf(hh);
  if (!zone) {
    DBMgErr(__FILE__, __LINE__, kZoneErr, "not a long string handle");
    return kZoneErr;
  }
  int32 size = zone->size(hh);
  int32 have = CheckedLCount(hh, size);
  if (have < 0) return kArgErr;
  int32 add = 0;
  if (l) {
    UHandle lh = reinterpret_cast<UHandle>(l);
    const Zone* lzone = l == h ? zone : ZoneOf(lh);
    if (!lzone) {
      DBMgErr(__FILE__, __LINE__, kZoneErr, "not a long string handle");
      return kZoneErr;
    }
    add = CheckedLCount(lh, lzone->size(lh));
    if (add < 0) return kArgErr;
  }
  if (add == 0) return kNoErr;
  int64 need = int64(4) + have + add;
  if (need > INT32_MAX) return kMemFullErr;
  if (need > size) {
    if (MgErr err = zone->resize(hh, int32(need))) return err;
  }
  // Both handles are read again: resizing may have moved h, which l may be.
  std::memmove((*h)->str + have, (*l)->str, size_t(add));
  (*h)->cnt = have + add;
  return kNoErr;
}

MgErr LStrHAppendFit(LStrHandle h, LStrHandle l) {
  if (MgErr err = LStrHAppend(h, l)) return err;
  UHandle hh = reinterpret_cast<UHandle>(h);
  const Zone* zone = ZoneOf(hh);
  int32 fit = 4 + LCount(*h);
  if (zone->size(hh) == fit) return kNoErr;
  return zone->resize(hh, fit);
}

int32 BlockCmp(const void* a, const void* b, int32 n) {
  const uChar* pa = static_cast<const uChar*>(a);
  const uChar* pb = static_cast<const uChar*>(b);
  for (int32 i = 0; i < n; ++i)
    if (pa[i] != pb[i]) return int32(pa[i]) - int32(pb[i]);
  return 0;
}

// ------------------------------------------------------------ CPStr lists

namespace {

// The checked shape of a CPStr list.
struct ListShape {
  const Zone* zone = nullptr;
  int32 handleSize = 0;
  int32 count = 0;  // the strings that lie wholly inside the handle
  int32 size = 0;   // 4 + their bytes
  bool ok = false;  // the stated count was met inside the handle
};

// Walks the list; reports a null handle, a handle without a count and a list
// that runs past its handle.
ListShape ShapeOf(CPStrHandle h) {
  ListShape s;
  UHandle uh = reinterpret_cast<UHandle>(h);
  if (!h) {
    DBAssert(__FILE__, __LINE__, "null string list");
    return s;
  }
  s.zone = ZoneOf(uh);
  if (!s.zone) {
    DBAssert(__FILE__, __LINE__, "string list is not a handle");
    return s;
  }
  s.handleSize = s.zone->size(uh);
  if (s.handleSize < 4) {
    DBAssert(__FILE__, __LINE__, "empty string list handle");
    return s;
  }
  const uChar* p = *uh;
  int32 stated = Get32(p);
  int32 off = 4;
  int32 n = 0;
  while (n < stated && off < s.handleSize && p[off] < s.handleSize - off) {
    off += p[off] + 1;
    ++n;
  }
  s.count = n;
  s.size = off;
  s.ok = stated >= 0 && n == stated;
  if (!s.ok) DBAssert(__FILE__, __LINE__, "string list runs past its handle");
  return s;
}

// The offset of string i of a checked list (i within 0..count).
int32 OffsetOf(CPStrHandle h, int32 i) {
  const uChar* p = reinterpret_cast<const uChar*>(*h);
  int32 off = 4;
  for (int32 k = 0; k < i; ++k) off += p[off] + 1;
  return off;
}

inline int32 Clamp(int32 i, int32 lo, int32 hi) { return i < lo ? lo : i > hi ? hi : i; }

}  // namespace

int32 CPStrSize(CPStrHandle h) {
  ListShape s = ShapeOf(h);
  return s.size;
}

int32 CPStrCmp(CPStrHandle a, CPStrHandle b) {
  if (a == b) return 0;
  ListShape sa = ShapeOf(a), sb = ShapeOf(b);
  int32 n = sa.count < sb.count ? sa.count : sb.count;
  int32 offA = 4, offB = 4;
  for (int32 k = 0; k < n; ++k) {
    const uChar* pa = reinterpret_cast<const uChar*>(*a) + offA;
    const uChar* pb = reinterpret_cast<const uChar*>(*b) + offB;
    if (int32 d = PStrCmp(pa, pb)) return d;
    offA += pa[0] + 1;
    offB += pb[0] + 1;
  }
  return sa.count - sb.count;
}

// CPStrCmp is 0 only when the counts are equal too.
Bool32 CPStrEqual(CPStrHandle a, CPStrHandle b) { return CPStrCmp(a, b) == 0; }

PStr CPStrIndex(CPStrHandle h, int32 i) {
  // Only the strings up to i are walked, each checked against the handle.
  UHandle uh = reinterpret_cast<UHandle>(h);
  const Zone* zone = h ? ZoneOf(uh) : nullptr;
  int32 size = zone ? zone->size(uh) : -1;
  if (size < 4) {
    DBAssert(__FILE__, __LINE__, h ? "empty string list handle" : "null string list");
    return nullptr;
  }
  uChar* p = *uh;
  int32 count = Get32(p);
  if (count <= 0) {
    DBAssert(__FILE__, __LINE__, "string list without strings");
    return nullptr;
  }
  i = Clamp(i, 0, count - 1);
  int32 off = 4;
  for (int32 k = 0;; ++k) {
    if (off >= size || p[off] >= size - off) {
      DBAssert(__FILE__, __LINE__, "string list runs past its handle");
      return nullptr;
    }
    if (k == i) return p + off;
    off += p[off] + 1;
  }
}

MgErr CPStrInsert(CPStrHandle h, ConstPStr s, int32 i) {
  ListShape sh = ShapeOf(h);
  if (!sh.ok) return kArgErr;
  Str255 copy;  // s may lie inside the list, which resizing moves
  PStrCpy(copy, s ? s : kNoBytes);
  int32 len = copy[0] + 1;
  if (int64(sh.size) + len > INT32_MAX) return kMemFullErr;
  i = Clamp(i, 0, sh.count);
  int32 off = OffsetOf(h, i);
  UHandle uh = reinterpret_cast<UHandle>(h);
  if (MgErr err = sh.zone->resize(uh, sh.size + len)) return err;
  uChar* p = *uh;
  std::memmove(p + off + len, p + off, size_t(sh.size - off));
  std::memcpy(p + off, copy, size_t(len));
  Put32(p, sh.count + 1);
  return kNoErr;
}

MgErr CPStrRemove(CPStrHandle h, int32 i) {
  ListShape sh = ShapeOf(h);
  if (!sh.ok) return kArgErr;
  if (sh.count == 0) {
    DBAssert(__FILE__, __LINE__, "string list without strings");
    return kArgErr;
  }
  i = Clamp(i, 0, sh.count - 1);
  int32 off = OffsetOf(h, i);
  UHandle uh = reinterpret_cast<UHandle>(h);
  uChar* p = *uh;
  int32 len = p[off] + 1;
  std::memmove(p + off, p + off + len, size_t(sh.size - off - len));
  Put32(p, sh.count - 1);
  return sh.zone->resize(uh, sh.size - len);
}

MgErr CPStrReplace(CPStrHandle h, ConstPStr s, int32 i) {
  ListShape sh = ShapeOf(h);
  if (!sh.ok) return kArgErr;
  if (sh.count == 0) return CPStrInsert(h, s, 0);
  Str255 copy;
  PStrCpy(copy, s ? s : kNoBytes);
  int32 newLen = copy[0] + 1;
  i = Clamp(i, 0, sh.count - 1);
  int32 off = OffsetOf(h, i);
  UHandle uh = reinterpret_cast<UHandle>(h);
  int32 oldLen = (*uh)[off] + 1;
  int32 newSize = sh.size - oldLen + newLen;
  int32 tail = sh.size - off - oldLen;
  if (newSize > sh.size) {
    if (MgErr err = sh.zone->resize(uh, newSize)) return err;
  }
  uChar* p = *uh;
  std::memmove(p + off + newLen, p + off + oldLen, size_t(tail));
  std::memcpy(p + off, copy, size_t(newLen));
  if (sh.zone->size(uh) != newSize) return sh.zone->resize(uh, newSize);
  return kNoErr;
}

MgErr CPStrSetEmpty(CPStrHandle h) {
  UHandle uh = reinterpret_cast<UHandle>(h);
  const Zone* zone = h ? ZoneOf(uh) : nullptr;
  if (!zone) {
    DBAssert(__FILE__, __LINE__, h ? "string list is not a handle" : "null string list");
    return kArgErr;
  }
  if (zone->size(uh) != 5) {
    if (MgErr err = zone->resize(uh, 5)) return err;
  }
  Put32(*uh, 1);
  (*uh)[4] = 0;
  return kNoErr;
}

// ------------------------------------------------------ counted-block lists

namespace {

// The padded size of a block of len bytes, or -1 when len is negative.
inline int64 PaddedLength(int32 len) { return len < 0 ? -1 : (int64(len) + 3) & ~int64(3); }

// The data of a list handle and its size, or null (reported) for a null
// handle, one of no zone, or one too small to hold a count.
uChar* ListData(UHandle h, int32* size) {
  const Zone* zone = h ? ZoneOf(h) : nullptr;
  *size = zone ? zone->size(h) : -1;
  if (*size < 4) {
    DBAssert(__FILE__, __LINE__, !h ? "null block list" : !zone ? "block list is not a handle" : "empty block list handle");
    return nullptr;
  }
  return *h;
}

}  // namespace

MgErr LStrListSwap(UHandle h) {
  int32 size;
  uChar* p = ListData(h, &size);
  if (!p) return kArgErr;
  // Walk the whole list in file order first, so that a bad length changes
  // nothing and nothing outside the handle is touched.
  int32 count = GetBE32Signed(p);
  int64 off = 4;
  bool ok = count >= 0;
  for (int32 k = 0; ok && k < count; ++k) {
    if (off + 4 > size) {
      ok = false;
      break;
    }
    int64 padded = PaddedLength(GetBE32Signed(p + off));
    ok = padded >= 0 && padded <= size - off - 4;
    off += 4 + padded;
  }
  if (!ok || off != size) {
    DBAssert(__FILE__, __LINE__, "block list does not end at its handle's end");
    return kArgErr;
  }
  Put32(p, count);
  off = 4;
  for (int32 k = 0; k < count; ++k) {
    int32 len = GetBE32Signed(p + off);
    Put32(p + off, len);
    off += 4 + PaddedLength(len);
  }
  return kNoErr;
}

LStrPtr LStrListIndex(UHandle list, int32 i) {
  int32 size;
  uChar* p = ListData(list, &size);
  if (!p) return nullptr;
  int32 count = Get32(p);
  if (count <= 0) {
    DBAssert(__FILE__, __LINE__, "block list without blocks");
    return nullptr;
  }
  i = Clamp(i, 0, count - 1);
  int64 off = 4;
  for (int32 k = 0;; ++k) {
    int64 padded = off + 4 <= size ? PaddedLength(Get32(p + off)) : -1;
    if (padded < 0 || padded > size - off - 4) {
      DBAssert(__FILE__, __LINE__, "block list runs past its handle");
      return nullptr;
    }
    if (k == i) return reinterpret_cast<LStrPtr>(p + off);
    off += 4 + padded;
  }
}

// --------------------------------------------------------------- line ends

namespace {

constexpr uChar kCR = 13, kLF = 10;
inline bool IsLineEnd(uChar c) { return c == kCR || c == kLF; }

// The long string of a line-end conversion: its bytes and count, checked
// against the handle of the given zone.
uChar* LineEndText(LStrHandle h, const Zone* zone, int32* size, int32* count) {
  UHandle uh = reinterpret_cast<UHandle>(h);
  if (!h) {
    DBAssert(__FILE__, __LINE__, "null string handle");
    return nullptr;
  }
  *size = zone->size(uh);  // a handle of the other zone is reported there
  if (*size < 0) return nullptr;
  *count = CheckedLCount(uh, *size);
  return *count < 0 ? nullptr : (*h)->str;
}

}  // namespace

MgErr StrHConvertToNative(LStrHandle h, int32 offset, Bool32 applicationZone) {
  const Zone* zone = applicationZone ? &kAZZone : &kDSZone;
  int32 size, count;
  const uChar* s = LineEndText(h, zone, &size, &count);
  if (!s) return kArgErr;
  if (offset < 0) return kArgErr;
  // Count the single line-end characters, each of which becomes two.
  int32 singles = 0;
  bool reorder = false;
  for (int32 i = offset; i < count; ++i) {
    if (!IsLineEnd(s[i])) continue;
    if (i + 1 < count && IsLineEnd(s[i + 1]) && s[i + 1] != s[i]) {
      reorder |= s[i] == kLF;
      ++i;
    } else {
      ++singles;
    }
  }
  if (!singles && !reorder) return kNoErr;
  if (int64(size) + singles > INT32_MAX) return kMemFullErr;
  UHandle uh = reinterpret_cast<UHandle>(h);
  if (singles) {
    if (MgErr err = zone->resize(uh, size + singles)) return err;
  }
  // Move the converted part to the end, then rewrite it forwards: the reading
  // position stays ahead of the writing one by the singles still to come.
  uChar* t = (*h)->str;
  int32 tail = count - offset;
  std::memmove(t + offset + singles, t + offset, size_t(tail));
  int32 r = offset + singles, end = count + singles, w = offset;
  while (r < end) {
    uChar c = t[r++];
    if (!IsLineEnd(c)) {
      t[w++] = c;
      continue;
    }
    if (r < end && IsLineEnd(t[r]) && t[r] != c) ++r;
    t[w++] = kCR;
    t[w++] = kLF;
  }
  (*h)->cnt = count + singles;
  return kNoErr;
}

MgErr StrHConvertFromNative(LStrHandle h, int32 offset, Bool32 applicationZone) {
  const Zone* zone = applicationZone ? &kAZZone : &kDSZone;
  int32 size, count;
  uChar* t = LineEndText(h, zone, &size, &count);
  if (!t) return kArgErr;
  if (offset < 0) return kArgErr;
  int32 r = offset, w = offset;
  while (r < count) {
    uChar c = t[r++];
    if (IsLineEnd(c)) {
      if (r < count && IsLineEnd(t[r]) && t[r] != c) ++r;
      c = kLF;
    }
    t[w++] = c;
  }
  int32 removed = r - w;
  if (!removed) return kNoErr;
  (*h)->cnt = w;
  return zone->resize(reinterpret_cast<UHandle>(h), size - removed);
}

// ----------------------------------------------------------------- patterns

Bool32 FindMatchCh(const uChar* pattern, int32* index, int32 length, int32 escape) {
  int32 i = *index < 0 ? 0 : *index;
  while (i < length) {
    uChar c = pattern[i];
    if (c == '*' || c == '?' || c == escape) {
      *index = i;
      return true;
    }
    i = TNextCharOffset(pattern, i, kStepFont);
  }
  *index = length;
  return false;
}

Bool32 FFindMatchCh(const uChar* pattern, int32* index, int32 length) {
  return FindMatchCh(pattern, index, length, kPatternEscape);
}

Bool32 StrMatchPattern(const uChar* pattern, const uChar* name, int32 patternLength, int32 nameLength,
                       StrCompareProc compare, int32 escape, int32 stop) {
  if (!compare) compare = StrNCaseCmp;
  if (!escape) escape = kPatternEscape;
  const int32 np = patternLength > 0 && pattern ? patternLength : 0;
  const int32 nn = nameLength > 0 && name ? nameLength : 0;

  // The positions of the name at which the rest of the pattern may start,
  // one flag per position 0..nn, carried through the pattern piece by piece.
  // A search over the same choices as matching each piece in turn and trying
  // every start for a "*", without its exponential cost.
  uChar small[2 * 256];
  std::unique_ptr<uChar[]> big;
  uChar* cur = small;
  if (nn + 1 > 256) {
    big.reset(new (std::nothrow) uChar[2 * size_t(nn + 1)]);
    if (!big) return false;
    cur = big.get();
  }
  uChar* next = cur + nn + 1;
  std::memset(cur, 0, size_t(nn) + 1);
  cur[0] = 1;

  auto step = [name](int32 at) { return TNextCharOffset(name, at, kStepFont); };
  int32 pi = 0;
  while (pi < np) {
    std::memset(next, 0, size_t(nn) + 1);
    bool any = false;
    int32 special = pi;
    FindMatchCh(pattern, &special, np, escape);
    if (special > pi) {
      // Plain text: equal under the comparison procedure.
      int32 len = special - pi;
      for (int32 at = 0; at + len <= nn; ++at) {
        if (cur[at] && compare(reinterpret_cast<ConstCStr>(pattern + pi), reinterpret_cast<ConstCStr>(name + at), len) == 0)
          next[at + len] = any = true;
      }
      pi = special;
    } else if (pattern[pi] == escape) {
      // The next pattern character must be there exactly; an escape that
      // ends the pattern stands for itself.
      int32 from = pi + 1 < np ? pi + 1 : pi;
      int32 len = (pi + 1 < np ? TNextCharOffset(pattern, from, kStepFont) : np) - from;
      if (from + len > np) len = np - from;
      for (int32 at = 0; at + len <= nn; ++at) {
        if (cur[at] && std::memcmp(pattern + from, name + at, size_t(len)) == 0) next[at + len] = any = true;
      }
      pi = from + len;
    } else if (pattern[pi] == '?') {
      // One character, never the stop character.
      for (int32 at = 0; at < nn; ++at) {
        if (!cur[at] || (stop && name[at] == stop)) continue;
        int32 to = step(at);
        if (to <= nn) next[to] = any = true;
      }
      ++pi;
    } else {
      // "*", or "**" which may pass the stop character.
      bool passStop = pi + 1 < np && pattern[pi + 1] == '*';
      pi += passStop ? 2 : 1;
      for (int32 at = 0; at <= nn; ++at) {
        if (!cur[at]) continue;
        // Every position from here on, up to and including the one holding
        // the stop character.  A position already reached was carried on
        // from an earlier start, and so was all that follows it.
        for (int32 q = at; q <= nn; q = step(q)) {
          if (next[q] && q != at) break;
          next[q] = any = true;
          if (q == nn || (!passStop && stop && name[q] == stop)) break;
        }
      }
    }
    if (!any) return false;
    std::swap(cur, next);
  }
  return cur[nn] != 0;
}
