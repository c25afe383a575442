// Sorting, searching, byte order and handle lists.
#include "sorting.h"

#include <cstring>

#include "debug.h"
#include "memory.h"
#include "platform/qx_charcase.h"

namespace {

// ---- Exchanges, by the widest unit the element size allows ------------------

void ExchangeBytes(uInt8* a, uInt8* b, uInt32 size) {
  for (uInt32 i = 0; i < size; ++i) {
    uInt8 t = a[i];
    a[i] = b[i];
    b[i] = t;
  }
}

void ExchangeWords(uInt8* a, uInt8* b, uInt32 size) {
  for (uInt32 i = 0; i < size; i += 2) {
    uInt16 x, y;
    std::memcpy(&x, a + i, 2);
    std::memcpy(&y, b + i, 2);
    std::memcpy(a + i, &y, 2);
    std::memcpy(b + i, &x, 2);
  }
}

void ExchangeLongs(uInt8* a, uInt8* b, uInt32 size) {
  for (uInt32 i = 0; i < size; i += 4) {
    uInt32 x, y;
    std::memcpy(&x, a + i, 4);
    std::memcpy(&y, b + i, 4);
    std::memcpy(a + i, &y, 4);
    std::memcpy(b + i, &x, 4);
  }
}

typedef void (*ExchangeProc)(uInt8*, uInt8*, uInt32);

inline ExchangeProc ChooseExchange(uInt32 size) {
  if (size & 1) return ExchangeBytes;
  if (size & 2) return ExchangeWords;
  return ExchangeLongs;
}

constexpr int32 kStackEntries = 126;  // 63 ranges, each its first and last element

// floor(log2 n) for n >= 1.
inline uInt32 Log2Floor(uInt32 n) { return 31u - uInt32(__builtin_clz(n)); }

// Heap sort of the n elements from first on, for ranges that partitioning
// has not made smaller fast enough.  Each sift follows the larger child down
// to a leaf (one comparison a level) and then climbs back to the sifted
// element's place, which costs about n log2 n comparisons in all; elements
// move only by exchanges, so nothing is allocated.
template <typename Cmp, typename Swap>
void HeapSort(uInt8* first, uInt32 n, uInt32 size, Cmp& cmp, Swap& swap) {
  auto at = [&](uInt32 i) { return first + i * size; };
  // Restores the heap of the first end elements below root.
  auto sift = [&](uInt32 root, uInt32 end) {
    uInt32 j = root;
    while (2 * j + 2 < end) j = cmp(at(2 * j + 1), at(2 * j + 2)) >= 0 ? 2 * j + 1 : 2 * j + 2;
    if (2 * j + 1 < end) j = 2 * j + 1;
    while (j != root && cmp(at(root), at(j)) > 0) j = (j - 1) / 2;
    // The root's element goes to j; the elements on the way up move up one
    // level each.
    for (; j != root; j = (j - 1) / 2) swap(at(root), at(j));
  };
  for (uInt32 i = n / 2; i-- > 0;) sift(i, n);
  for (uInt32 end = n - 1; end > 0; --end) {
    swap(at(0), at(end));
    sift(0, end);
  }
}

// The sort of both variants: Cmp is called as cmp(a, b).  A quicksort with
// median-of-three pivots that never lets a range pass 2 floor(log2 count) in
// depth (the whole array lies at depth 1, and each partition puts both its
// sides one level deeper): a range that has reached that depth is finished
// by heap sort, so input made to defeat the pivot choice stays n log n.
template <typename Cmp>
void QuickSort(uInt8* base, int32 count, uInt32 size, Cmp cmp) {
  if (count < 2 || size == 0) return;
  ExchangeProc exch = ChooseExchange(size);
  auto swap = [&](uInt8* a, uInt8* b) {
    if (a != b) exch(a, b, size);
  };
  const uInt32 depthLimit = 2 * Log2Floor(uInt32(count));
  uInt8* stack[kStackEntries];
  uInt8 depths[kStackEntries / 2];  // the depth of each waiting range
  int32 sp = 0;
  uInt8* first = base;
  uInt8* last = base + uInt32(count - 1) * size;
  uInt32 depth = 1;  // the whole array; each partition makes ranges one deeper
  for (;;) {
    if (first >= last) {
      // One element or none: take the next range.
      if (sp == 0) return;
      last = stack[--sp];
      first = stack[--sp];
      depth = depths[sp / 2];
      continue;
    }
    uInt32 n = uInt32(last - first) / size + 1;
    if (n == 2) {
      if (cmp(first, last) > 0) swap(first, last);
      first = last;  // done with this range
      continue;
    }
    if (depth >= depthLimit && n > 3) {
      HeapSort(first, n, size, cmp, swap);
      first = last;
      continue;
    }
    // Median of three; the middle element becomes the pivot.
    uInt8* mid = first + (uInt32(last - first) / size / 2) * size;
    if (cmp(first, mid) > 0) swap(first, mid);
    if (cmp(first, last) > 0) swap(first, last);
    if (cmp(mid, last) > 0) swap(mid, last);
    if (n == 3) {
      first = last;
      continue;
    }
    // Partition with the pivot in the next-to-last place.
    uInt8* pivot = last - size;
    swap(mid, pivot);
    uInt8* left = first;
    uInt8* right = pivot;
    for (;;) {
      while (left < pivot && cmp(left, pivot) < 0) left += size;
      do {
        right -= size;
      } while (right > first && cmp(right, pivot) > 0);
      if (left >= right) break;
      swap(left, right);
      left += size;
    }
    swap(left, pivot);  // the pivot's final place
    // Continue with the smaller side, which keeps the pivot as its boundary;
    // push the larger one.  Both lie one level deeper.
    ++depth;
    uInt32 leftCount = uInt32(left - first) / size;
    uInt32 rightCount = uInt32(last - left) / size;
    if (leftCount < rightCount) {
      if (rightCount >= 2 && sp + 2 <= kStackEntries) {
        depths[sp / 2] = uInt8(depth);
        stack[sp++] = left + size;
        stack[sp++] = last;
      }
      last = left;
    } else {
      if (leftCount >= 2 && sp + 2 <= kStackEntries) {
        depths[sp / 2] = uInt8(depth);
        stack[sp++] = first;
        stack[sp++] = left - size;
      }
      first = left;
    }
  }
}

}  // namespace

void QSort(void* base, int32 count, int32 size, QSortCompareProc compare) {
  if (!base || !compare || size <= 0) return;
  QuickSort(static_cast<uInt8*>(base), count, uInt32(size),
            [compare](const void* a, const void* b) { return compare(a, b); });
}

void QSortData(void* base, int32 count, int32 size, QSortDataCompareProc compare, void* data) {
  if (!base || !compare || size <= 0) return;
  QuickSort(static_cast<uInt8*>(base), count, uInt32(size),
            [compare, data](const void* a, const void* b) { return compare(a, b, data); });
}

int32 BinSearch(const void* base, int32 count, int32 size, const void* key, QSortCompareProc compare) {
  const uInt8* b = static_cast<const uInt8*>(base);
  int32 low = 0, high = count - 1, mid = 0;
  int32 last = -1;  // as if the last comparison were negative
  while (low <= high) {
    mid = int32((uInt32(low) + uInt32(high)) / 2);
    last = compare(key, b + uInt32(mid) * uInt32(size));
    if (last == 0) return mid;
    if (last < 0)
      high = mid - 1;
    else
      low = mid + 1;
  }
  return last > 0 ? ~(mid + 1) : ~mid;
}

// ---- Byte order ---------------------------------------------------------------------

void SwapBW(void* p) {
  uInt8* b = static_cast<uInt8*>(p);
  uInt8 t = b[0];
  b[0] = b[1];
  b[1] = t;
}

void RevBL(void* p) {
  uInt32 v;
  std::memcpy(&v, p, 4);
  v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}

void RevBLHandle(UHandle h) {
  if (!h || !*h) return;
  const int32 size = MemIsDSHandle(h) ? DSGetHandleSize(h) : AZGetHandleSize(h);
  for (int32 i = 0; i + 4 <= size; i += 4) RevBL(*h + i);
}

void RevBQ(void* p) {
  uInt8* b = static_cast<uInt8*>(p);
  uInt32 lo, hi;
  std::memcpy(&lo, b, 4);
  std::memcpy(&hi, b + 4, 4);
  lo = __builtin_bswap32(lo);
  hi = __builtin_bswap32(hi);
  std::memcpy(b, &hi, 4);
  std::memcpy(b + 4, &lo, 4);
}

int32 SwapWL(void* p) {
  uInt32 v;
  std::memcpy(&v, p, 4);
  uInt32 hiHalf = v >> 16;
  v = (v << 16) | hiHalf;
  std::memcpy(p, &v, 4);
  return int32(hiHalf);
}

// ---- Handle lists -----------------------------------------------------------------

namespace {

struct ListView {
  UHandle h;
  int32 size;
  int32 Count() const {
    int32 c;
    std::memcpy(&c, *h, 4);
    return c;
  }
  void SetCount(int32 c) { std::memcpy(*h, &c, 4); }
  int32* Values() const { return reinterpret_cast<int32*>(*h + 4); }
};

// The list of a handle, or false after an assertion when there is none or it is malformed.
bool OpenList(UHandle list, ListView* v) {
  if (!list || !*list) {
    DBAssert(__FILE__, __LINE__, "no handle list");
    return false;
  }
  v->h = list;
  v->size = AZGetHandleSize(list);
  if (v->size < 4) {
    DBAssert(__FILE__, __LINE__, "handle list without a count");
    return false;
  }
  int32 c = v->Count();
  if (c < 0 || c > (v->size - 4) / 4) {
    DBAssert(__FILE__, __LINE__, "handle list count beyond its handle");
    return false;
  }
  return true;
}

}  // namespace

MgErr HObjListInsert(UHandle list, int32 value, int32 pos) {
  ListView v;
  if (!OpenList(list, &v)) return kArgErr;
  int32 count = v.Count();
  if (v.size < 4 * count + 8) {
    MgErr err = AZSetHandleSize(list, (v.size + 16) & ~15);
    if (err) return err;
  }
  if (pos < 0) pos = 0;
  if (pos > count) pos = count;
  int32* vals = v.Values();
  std::memmove(vals + pos + 1, vals + pos, size_t(count - pos) * 4);
  vals[pos] = value;
  v.SetCount(count + 1);
  return kNoErr;
}

int32 HObjListDelete(UHandle list, int32 pos) {
  ListView v;
  if (!OpenList(list, &v)) return 0;
  int32 count = v.Count();
  if (count == 0) return 0;
  if (pos < 0) pos = 0;
  if (pos > count - 1) pos = count - 1;
  int32* vals = v.Values();
  int32 value = vals[pos];
  std::memmove(vals + pos, vals + pos + 1, size_t(count - 1 - pos) * 4);
  vals[count - 1] = 0;
  v.SetCount(count - 1);
  if (v.size > 4 * count + 16) {
    int32 n = (v.size & 15) ? (v.size & ~15) : v.size - 16;
    AZSetHandleSize(list, n);
  }
  return value;
}

int32 HObjListSearch(UHandle list, int32 value) {
  ListView v;
  if (!OpenList(list, &v)) return -1;
  int32* vals = v.Values();
  for (int32 i = v.Count() - 1; i >= 0; --i)
    if (vals[i] == value) return i;
  return -1;
}

int32 HObjListSearchDelete(UHandle list, int32 value) {
  int32 i = HObjListSearch(list, value);
  if (i < 0) return 0;
  HObjListDelete(list, i);
  return 1;
}

int32 HObjListBringToFront(UHandle list, int32 value) {
  int32 i = HObjListSearch(list, value);
  if (i < 0) {
    if (list && *list) DBPrintf("HObjListBringToFront: object not found!!!");
    return 0;
  }
  if (i == 0) return 0;
  int32* vals = reinterpret_cast<int32*>(*list + 4);
  std::memmove(vals + 1, vals, size_t(i) * 4);
  vals[0] = value;
  return 1;
}

void HCompactObjList(UHandle list) {
  ListView v;
  if (!OpenList(list, &v)) return;
  int32 count = v.Count();
  int32* vals = v.Values();
  int32 kept = 0;
  for (int32 i = 0; i < count; ++i)
    if (vals[i] != 0) vals[kept++] = vals[i];
  for (int32 i = kept; i < count; ++i) vals[i] = 0;
  v.SetCount(kept);
  int32 want = (4 * kept + 19) & ~15;
  if (v.size > want) AZSetHandleSize(list, want);
}

// ---- Case changes -------------------------------------------------------------------

void BufToLower(void* p, int32 len) {
  uInt8* b = static_cast<uInt8*>(p);
  for (int32 i = 0; i < len; ++i) b[i] = PlatCharLower(b[i]);
}

void BufToUpper(void* p, int32 len) {
  uInt8* b = static_cast<uInt8*>(p);
  for (int32 i = 0; i < len; ++i) b[i] = PlatCharUpper(b[i]);
}

namespace {
// The characters of a string handle, never more than the handle holds.
int32 BoundedLength(LStrHandle s) {
  UHandle h = reinterpret_cast<UHandle>(s);
  int32 size = MemIsDSHandle(h) ? DSGetHandleSize(h) : AZIsHandle(h) ? AZGetHandleSize(h) : -1;
  int32 n = LStrLen(*s);
  if (size >= 0 && n > size - 4) n = size - 4 > 0 ? size - 4 : 0;
  return n;
}
}  // namespace

void RTToUpper(LStrHandle s) {
  if (s && *s) BufToUpper((*s)->str, BoundedLength(s));
}

void RTToLower(LStrHandle s) {
  if (s && *s) BufToLower((*s)->str, BoundedLength(s));
}

void PStrTabsToSpaces(PStr s) {
  if (!s) return;
  for (int32 i = 1; i <= s[0]; ++i)
    if (s[i] == 10 || s[i] == 9) s[i] = ' ';
}
