// The token scanner and its cache.
#include "rtlib/tokenize.h"

#include <cstring>
#include <new>
#include <vector>

#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/sorting.h"
#include "mgsource/textnum.h"
#include "rtlib/rtstrings.h"

namespace {

const LStr kEmptyString = {0, {0}};

// A string of a list: its long string, never null.
struct Text {
  const LStr* s;
  int32 Length() const { return s->cnt; }
  const uChar* Bytes() const { return s->str; }
};

bool IsSpace(uChar c) { return c == ' ' || (c >= 9 && c <= 13); }
bool IsLetter(uChar c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
bool IsIdentChar(uChar c) { return IsLetter(c) || c == '_' || (c >= '0' && c <= '9'); }

// FNV-1a over 32-bit words.
struct Checksum {
  uInt32 h = 2166136261u;
  void Byte(uChar b) { h = (h ^ b) * 16777619u; }
  void Word(int32 w) {
    for (int k = 0; k < 4; ++k) Byte(uChar(uInt32(w) >> (8 * k)));
  }
  void Words(const int32* w, int32 n) {
    for (int32 k = 0; k < n; ++k) Word(w[k]);
  }
};

// The strings of one list, checked: false for an array or string handle
// that is not a live data-zone handle, or a count that runs past its block.
bool ReadList(LStrArrayHandle h, std::vector<Text>* out, std::vector<const void*>* handles) {
  if (!h) return true;
  if (DSCheckHandle(h) != kNoErr) return false;
  int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(h));
  if (size < 4) return false;
  int32 n = (*h)->dimSize;
  if (n < 0 || n > (size - 4) / 4) return false;
  handles->push_back(h);
  out->reserve(size_t(n));
  for (int32 k = 0; k < n; ++k) {
    LStrHandle e = (*h)->elt[k];
    const uChar* bytes;
    int32 count;
    if (!RTReadString(e, &bytes, &count)) return false;
    out->push_back(Text{e ? *e : &kEmptyString});
    if (e) handles->push_back(e);
  }
  return true;
}

struct Lists {
  std::vector<Text> ops, delims;
  std::vector<const void*> handles;  // every handle the lists are read from
  int32 plainOps = 0;                // operators without "%"
  bool minusOp = false, plusOp = false;
  uInt32 textSum = 0;  // checksum of the counts and bytes of both lists

  int32 NOps() const { return int32(ops.size()); }
  int32 NDelims() const { return int32(delims.size()); }
  bool Empty() const { return ops.empty() && delims.empty(); }

  void Survey() {
    Checksum c;
    for (const std::vector<Text>* list : {&ops, &delims}) {
      c.Word(int32(list->size()));
      for (const Text& t : *list) {
        c.Word(t.Length());
        for (int32 k = 0; k < t.Length(); ++k) c.Byte(t.Bytes()[k]);
      }
    }
    textSum = c.h;
    for (const Text& t : ops) {
      if (!std::memchr(t.Bytes(), '%', size_t(t.Length()))) ++plainOps;
      if (t.Length() == 1) {
        minusOp |= t.Bytes()[0] == '-';
        plusOp |= t.Bytes()[0] == '+';
      }
    }
  }
  bool Holds(const void* h) const {
    for (const void* x : handles)
      if (x == h) return true;
    return false;
  }
};

// ------------------------------------------------------------ cache

// The contents of a cache, read from its handles or about to be written.
struct CacheView {
  const int32* opOrder = nullptr;
  const int32* delimOrder = nullptr;
  const int32* table = nullptr;  // kTokenTableEntries words
  int32 plainOps = 0;

  const int32* OpFirst() const { return table; }
  const int32* DelimFirst() const { return table + 256; }
  uInt32 Sum(const Lists& l) const {
    Checksum c;
    c.Word(int32(l.textSum));
    c.Words(opOrder, l.NOps());
    c.Words(delimOrder, l.NDelims());
    c.Words(table, 512);
    c.Word(plainOps);
    return c.h;
  }
};

// The elements of an int32 array handle of the cache holding exactly count
// elements, or null.
const int32* CacheArray(UHandle h, int32 count, const Lists& l) {
  if (!h || l.Holds(h) || DSCheckHandle(h) != kNoErr) return nullptr;
  int32 size = DSGetHandleSize(h);
  if (size < 4 || (size - 4) / 4 < count) return nullptr;
  const int32* w = reinterpret_cast<const int32*>(*h);
  return w[0] == count ? w + 1 : nullptr;
}

bool InRange(const int32* w, int32 n, int32 lo, int32 hi) {
  for (int32 k = 0; k < n; ++k)
    if (w[k] < lo || w[k] > hi) return false;
  return true;
}

// The cache when it was built for these lists: every handle live and of its
// size, the counts and checksum those of the lists, every index within them.
bool ReadCache(const TokenizeCache* c, const Lists& l, CacheView* v) {
  v->table = CacheArray(c->firstChars, kTokenTableEntries, l);
  v->opOrder = CacheArray(c->operatorOrder, l.NOps(), l);
  v->delimOrder = CacheArray(c->delimiterOrder, l.NDelims(), l);
  v->plainOps = c->firstCodeOperator;
  if (!v->table || !v->opOrder || !v->delimOrder) return false;
  if (v->table[512] != l.NOps() || v->table[513] != l.NDelims() || v->plainOps != l.plainOps) return false;
  if (uInt32(v->table[514]) != v->Sum(l)) return false;
  return InRange(v->opOrder, l.NOps(), 0, l.NOps() - 1) && InRange(v->delimOrder, l.NDelims(), 0, l.NDelims() - 1) &&
         InRange(v->OpFirst(), 256, 0, l.plainOps) && InRange(v->DelimFirst(), 256, 0, l.NDelims());
}

struct SortItem {
  const LStr* s;
  int32 index;
  int32 coded;  // holds "%"
};

int32 CompareByText(const void* a, const void* b) {
  const SortItem& x = *static_cast<const SortItem*>(a);
  const SortItem& y = *static_cast<const SortItem*>(b);
  if (int32 d = LStrCmp(x.s, y.s)) return d;
  return x.index < y.index ? -1 : x.index > y.index;
}

// Operators without "%" first, by text; then those with "%" in list order.
int32 CompareOperators(const void* a, const void* b) {
  const SortItem& x = *static_cast<const SortItem*>(a);
  const SortItem& y = *static_cast<const SortItem*>(b);
  if (x.coded != y.coded) return x.coded - y.coded;
  if (!x.coded) return CompareByText(a, b);
  return x.index < y.index ? -1 : x.index > y.index;
}

// The list's indexes in sorted order, and its first-character table.
void SortList(const std::vector<Text>& list, int32 plain, QSortCompareProc compare, std::vector<int32>* order,
              int32* first) {
  std::vector<SortItem> items;
  items.reserve(list.size());
  for (size_t k = 0; k < list.size(); ++k) {
    const Text& t = list[k];
    bool coded = std::memchr(t.Bytes(), '%', size_t(t.Length())) != nullptr;
    items.push_back(SortItem{t.s, int32(k), coded && compare == CompareOperators ? 1 : 0});
  }
  QSort(items.data(), int32(items.size()), int32(sizeof(SortItem)), compare);
  for (int32 pos = 0; pos < int32(items.size()); ++pos) {
    order->push_back(items[size_t(pos)].index);
    const LStr* s = items[size_t(pos)].s;
    if (pos < plain && s->cnt > 0 && first[s->str[0]] == 0) first[s->str[0]] = pos + 1;
  }
}

// Sets the cache handle *h to the count and elements.  A handle that is not
// a live data-zone handle of its own is replaced, not touched.
MgErr WriteCacheArray(UHandle* h, const std::vector<int32>& w, const Lists& l) {
  int32 n = int32(w.size());
  int32 size = 4 + 4 * n;
  if (*h && !l.Holds(*h) && DSCheckHandle(*h) == kNoErr) {
    if (MgErr err = DSSetHandleSize(*h, size)) return err;
  } else {
    UHandle made = DSNewHandle(size);
    if (!made) return kMemFullErr;
    *h = made;
  }
  int32* out = reinterpret_cast<int32*>(**h);
  out[0] = n;
  if (n) std::memcpy(out + 1, w.data(), size_t(n) * 4);
  return kNoErr;
}

// Builds the cache for the lists: 1 when there are none, else 0 or the
// memory error.  Until the table is written last the cache is not valid.
MgErr BuildCache(TokenizeCache* c, const Lists& l) {
  if (l.Empty()) return kArgErr;
  std::vector<int32> opOrder, delimOrder, table(kTokenTableEntries, 0);
  SortList(l.ops, l.plainOps, CompareOperators, &opOrder, table.data());
  SortList(l.delims, l.NDelims(), CompareByText, &delimOrder, table.data() + 256);
  table[512] = l.NOps();
  table[513] = l.NDelims();
  CacheView v;
  v.opOrder = opOrder.data();
  v.delimOrder = delimOrder.data();
  v.table = table.data();
  v.plainOps = l.plainOps;
  table[514] = int32(v.Sum(l));

  if (c->firstChars && !l.Holds(c->firstChars) && DSCheckHandle(c->firstChars) == kNoErr &&
      DSGetHandleSize(c->firstChars) >= 4)
    *reinterpret_cast<int32*>(*c->firstChars) = 0;
  if (MgErr err = WriteCacheArray(&c->operatorOrder, opOrder, l)) return err;
  if (MgErr err = WriteCacheArray(&c->delimiterOrder, delimOrder, l)) return err;
  c->firstCodeOperator = l.plainOps;
  return WriteCacheArray(&c->firstChars, table, l);
}

// ------------------------------------------------------------ scanning

class Scanner {
 public:
  Scanner(const uChar* s, int32 n, const Lists& l, const CacheView* cache) : s_(s), n_(n), l_(l), cache_(cache) {}

  // The operator that wins at p (the longest, the first in list order on a
  // tie) and its length, or -1.
  int32 OperatorAt(int32 p, int32* length) const {
    int32 best = -1, bestLen = 0;
    auto consider = [&](int32 k) {
      int32 len = MatchOperator(l_.ops[size_t(k)], p);
      if (len > bestLen || (len > 0 && len == bestLen && k < best)) {
        best = k;
        bestLen = len;
      }
    };
    if (!cache_) {
      for (int32 k = 0; k < l_.NOps(); ++k) consider(k);
    } else {
      const int32* order = cache_->opOrder;
      for (int32 pos = cache_->OpFirst()[s_[p]] - 1; pos >= 0 && pos < l_.plainOps && StartsWith(l_.ops, order[pos], s_[p]);
           ++pos)
        consider(order[pos]);
      for (int32 pos = l_.plainOps; pos < l_.NOps(); ++pos) consider(order[pos]);
    }
    *length = bestLen;
    return best;
  }

  // The length of the longest delimiter at p, 0 for none.
  int32 DelimiterAt(int32 p) const {
    int32 best = 0;
    auto consider = [&](int32 k) {
      const Text& t = l_.delims[size_t(k)];
      int32 len = t.Length();
      if (len > best && len <= n_ - p && std::memcmp(t.Bytes(), s_ + p, size_t(len)) == 0) best = len;
    };
    if (!cache_) {
      for (int32 k = 0; k < l_.NDelims(); ++k) consider(k);
    } else {
      const int32* order = cache_->delimOrder;
      for (int32 pos = cache_->DelimFirst()[s_[p]] - 1; pos >= 0 && pos < l_.NDelims() && StartsWith(l_.delims, order[pos], s_[p]);
           ++pos)
        consider(order[pos]);
    }
    return best;
  }

 private:
  static bool StartsWith(const std::vector<Text>& list, int32 k, uChar c) {
    const Text& t = list[size_t(k)];
    return t.Length() > 0 && t.Bytes()[0] == c;
  }

  // A number code may not start at a space, nor at a sign before a space.
  bool NumberMayStart(int32 j) const {
    if (j >= n_ || IsSpace(s_[j])) return false;
    bool sign = s_[j] == '-' || s_[j] == '+';
    return !(sign && j + 1 < n_ && IsSpace(s_[j + 1]));
  }

  // The length of the operator's match at p, 0 when it does not match or
  // would take nothing; a match that begins with "-" or "+" through a number
  // code does not count while that sign is an operator of its own.
  int32 MatchOperator(const Text& op, int32 p) const {
    const uChar* o = op.Bytes();
    int32 m = op.Length();
    int32 j = p;
    for (int32 i = 0; i < m;) {
      if (o[i] != '%') {
        if (j >= n_ || s_[j] != o[i]) return 0;
        ++i;
        ++j;
        continue;
      }
      if (i + 1 == m) {  // a final "%"
        if (j >= n_ || s_[j] != '%') return 0;
        ++i;
        ++j;
        continue;
      }
      uChar code = o[i + 1];
      i += 2;
      switch (code | 0x20) {
        case 'b':
        case 'd':
        case 'o':
        case 'x':
        case 'e':
        case 'f':
        case 'g': {
          if (!NumberMayStart(j)) return 0;
          if (j == p && ((s_[j] == '-' && l_.minusOp) || (s_[j] == '+' && l_.plusOp))) return 0;
          const uChar* cursor = s_ + j;
          int32 avail = n_ - j;
          switch (code | 0x20) {
            case 'b': BinStrToNum(&cursor, avail, kNumI32); break;
            case 'd': DecStrToNum(&cursor, avail, kNumI32); break;
            case 'o': OctStrToNum(&cursor, avail, kNumI32); break;
            case 'x': HexStrToNum(&cursor, avail, kNumI32); break;
            default: {
              float64 value;
              SciStrToNum(&cursor, avail, kNumDBL, &value, '.');
              break;
            }
          }
          int32 used = int32(cursor - (s_ + j));
          if (used <= 0) return 0;
          j += used;
          break;
        }
        default:
          if (code == 's') {
            if (j >= n_ || !(IsLetter(s_[j]) || s_[j] == '_')) return 0;
            for (++j; j < n_ && IsIdentChar(s_[j]); ++j) {
            }
          } else if (code == '%') {
            if (j >= n_ || s_[j] != '%') return 0;
            ++j;
          } else {  // "%" and the character, as they are
            if (n_ - j < 2 || s_[j] != '%' || s_[j + 1] != code) return 0;
            j += 2;
          }
          break;
      }
    }
    return j - p;
  }

  const uChar* s_;
  int32 n_;
  const Lists& l_;
  const CacheView* cache_;
};

struct Token {
  int32 start = 0, length = 0;
  int32 index = -2;
  int32 next = -1;
};

Token Scan(const uChar* s, int32 n, int32 pos, bool useAll, const Lists& l, const CacheView* cache) {
  Token t;
  if (pos < 0 || pos >= n) {
    if (useAll && pos >= 0) t.index = -1;
    return t;
  }
  Scanner sc(s, n, l, cache);
  bool delimList = !l.delims.empty();
  bool stepped = false;
  if (delimList) {
    while (pos < n) {
      int32 len = sc.DelimiterAt(pos);
      if (!len) break;
      pos += len;
      stepped = true;
      if (useAll) break;
    }
  } else {
    while (pos < n && IsSpace(s[pos])) {
      ++pos;
      stepped = true;
      if (useAll) break;
    }
  }
  if (useAll && stepped) {  // two separators enclose an empty token
    t.start = pos;
    t.index = -1;
    t.next = pos;
    return t;
  }
  if (pos >= n) return t;
  t.start = pos;
  t.index = -1;
  for (int32 p = pos; p < n; ++p) {
    int32 len;
    int32 k = sc.OperatorAt(p, &len);
    if (k >= 0) {
      if (p == pos) {
        t.length = len;
        t.index = k;
        t.next = p + len;
      } else {
        t.length = p - pos;
        t.next = p;
      }
      return t;
    }
    int32 sep = delimList ? sc.DelimiterAt(p) : IsSpace(s[p]) ? 1 : 0;
    if (sep) {
      t.length = p - pos;
      t.next = p + sep;
      return t;
    }
  }
  t.length = n - pos;
  t.next = n;
  return t;
}

}  // namespace

MgErr TokenizeString(LStrHandle string, LStrArrayHandle delimiters, LStrArrayHandle operators, int32* offset,
                     Bool32 useAllDelimiters, LStrHandle* tokenOut, int32* tokenIndex, TokenizeCache* cache) {
  if (!offset) return kArgErr;
  const uChar* s;
  int32 n;
  MgErr result = kNoErr;
  Token t;
  try {
    Lists l;
    if (!RTReadString(string, &s, &n) || !ReadList(delimiters, &l.delims, &l.handles) ||
        !ReadList(operators, &l.ops, &l.handles))
      return kArgErr;
    l.Survey();
    CacheView view;
    bool cached = false;
    if (cache && l.Empty()) {
      result = kArgErr;  // nothing to build a cache from
    } else if (cache) {
      cached = ReadCache(cache, l, &view);
      if (!cached) {
        result = BuildCache(cache, l);
        cached = result == kNoErr && ReadCache(cache, l, &view);
      }
    }
    t = Scan(s, n, *offset, useAllDelimiters != 0, l, cached ? &view : nullptr);
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  if (tokenOut) {
    if (MgErr err = RTSetString(tokenOut, t.length ? s + t.start : nullptr, t.length)) return err;
  }
  *offset = t.next;
  if (tokenIndex) *tokenIndex = t.index;
  return result;
}
