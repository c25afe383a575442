// The kernels that edit n-dimensional array handles in place: insertion and
// deletion in every dimension at once, replacing a sub-block, and changing
// the rank.  Each call keeps its state in a context of its own, so diagrams
// on several threads may use them at once (on arrays of their own).
#include <climits>

#include "data_internal.h"
#include "datamgr.h"

namespace {

using namespace dm;

// The state of one insertion or deletion.  Offsets and strides count
// elements; the sub-block below dimension `last` (the innermost one whose
// count is not 0) is the same in the old and the new layout and moves whole.
struct Edit {
  int32 rank = 0;
  int32 last = 0;
  int32 es = 0;
  const TypeDescriptor* elem = nullptr;
  bool flat = true;
  const int32* oldSz = nullptr;
  const int32* newSz = nullptr;
  const int32* pos = nullptr;
  const int32* cnt = nullptr;
  const int32* oldStride = nullptr;
  const int32* newStride = nullptr;
  int32* idx = nullptr;
  uChar* base = nullptr;        // the first element
  const uChar* made = nullptr;  // new elements made beforehand (elements with handles)
  const void* fill = nullptr;
  int32 chunk = 0;              // elements in one sub-block below `last`

  uChar* At(int64 off) const { return base + off * es; }
  void Move(int64 to, int64 from, int64 n) const {
    if (n > 0 && to != from) std::memmove(At(to), At(from), size_t(n * es));
  }
  // n new elements at off.
  void Make(int64 off, int64 n) {
    if (n <= 0 || es == 0) return;
    uChar* d = At(off);
    size_t bytes = size_t(n * es);
    if (!flat) {
      std::memcpy(d, made, bytes);
      made += bytes;
    } else if (!fill) {
      std::memset(d, 0, bytes);
    } else {
      for (int64 i = 0; i < n; ++i) std::memcpy(d + i * es, fill, size_t(es));
    }
  }
  void Dispose(int64 off, int64 n) const {
    if (flat) return;
    for (int64 i = 0; i < n; ++i) Release(elem, At(off + i), At(off + i + 1), true);
  }
};

// Insertion walks the new layout backwards, so that every element moves to a
// place at or after its old one before anything overwrites it.
void InsertWalk(Edit& e) {
  int32 L = e.last;
  int64 rows = 1;
  for (int32 k = 0; k < L; ++k) rows *= e.newSz[k];
  for (int32 k = 0; k < L; ++k) e.idx[k] = e.newSz[k] - 1;
  int64 chunk = e.chunk;
  for (int64 r = 0; r < rows; ++r) {
    bool isNew = false;
    int64 dst = 0, src = 0;
    for (int32 k = 0; k < L; ++k) {
      int32 j = e.idx[k];
      dst += int64(j) * e.newStride[k];
      if (j >= e.pos[k] && j < e.pos[k] + e.cnt[k]) isNew = true;
      src += int64(j >= e.pos[k] + e.cnt[k] ? j - e.cnt[k] : j) * e.oldStride[k];
    }
    if (isNew) {
      e.Make(dst, int64(e.newSz[L]) * chunk);
    } else {
      int64 d = e.oldSz[L], p = e.pos[L], c = e.cnt[L];
      e.Move(dst + (p + c) * chunk, src + p * chunk, (d - p) * chunk);
      e.Make(dst + p * chunk, c * chunk);
      e.Move(dst, src, p * chunk);
    }
    for (int32 k = L - 1; k >= 0; --k) {
      if (--e.idx[k] >= 0) break;
      e.idx[k] = e.newSz[k] - 1;
    }
  }
}

// Deletion walks the old layout forwards: kept elements move down, deleted
// ones are disposed before anything lands on them.
void DeleteWalk(Edit& e) {
  int32 L = e.last;
  int64 rows = 1;
  for (int32 k = 0; k < L; ++k) rows *= e.oldSz[k];
  for (int32 k = 0; k < L; ++k) e.idx[k] = 0;
  int64 chunk = e.chunk;
  for (int64 r = 0; r < rows; ++r) {
    bool gone = false;
    int64 dst = 0, src = 0;
    for (int32 k = 0; k < L; ++k) {
      int32 i = e.idx[k];
      int32 c = -e.cnt[k];
      src += int64(i) * e.oldStride[k];
      if (i >= e.pos[k] && i < e.pos[k] + c) gone = true;
      dst += int64(i >= e.pos[k] + c ? i - c : i) * e.newStride[k];
    }
    if (gone) {
      e.Dispose(src, int64(e.oldSz[L]) * chunk);
    } else {
      int64 d = e.oldSz[L], p = e.pos[L], c = -int64(e.cnt[L]);
      e.Move(dst, src, p * chunk);
      e.Dispose(src + p * chunk, c * chunk);
      e.Move(dst + p * chunk, src + (p + c) * chunk, (d - p - c) * chunk);
    }
    for (int32 k = L - 1; k >= 0; --k) {
      if (++e.idx[k] < e.oldSz[k]) break;
      e.idx[k] = 0;
    }
  }
}

// Elements past the sizes of a fixed or bounded array of handles are live
// data; before the handle is cut to its new elements they are disposed.
void DisposeSpare(UHandle h, const ArrayShape& a, int32 count) {
  if (!h || a.flat || a.AnyVariable()) return;
  int32 live = LiveElements(h, a);
  for (int32 i = count; i < live; ++i) {
    uChar* el = *h + a.header + i * a.elemSize;
    Release(a.elem, el, el + a.elemSize, true);
  }
}

MgErr Insert(const ArrayShape& a, UHandle* array, Edit& e, int32 oldCount, int32 newCount) {
  int32 es = a.elemSize;
  int32 nNew = newCount - oldCount;
  UPtr made = nullptr;
  if (!a.flat && nNew > 0) {
    // Every new element is made before anything moves, so that a failure
    // leaves the array as it was.
    made = DSNewPClr(nNew * es);
    if (!made) return kMemFullErr;
    for (int32 i = 0; i < nNew; ++i) {
      uChar* el = made + i * es;
      MgErr err = e.fill ? CopyData(a.elem, e.fill, el) : FillEmpty(a.elem, el);
      if (err) {
        Release(a.elem, made, made + (i + 1) * es, true);
        for (int32 k = 0; k < i; ++k) Release(a.elem, made + k * es, made + (k + 1) * es, true);
        DSDisposePtr(made);
        return err;
      }
    }
  }
  auto dropMade = [&] {
    if (!made) return;
    for (int32 k = 0; k < nNew; ++k) Release(a.elem, made + k * es, made + (k + 1) * es, true);
    DSDisposePtr(made);
  };
  int32 bytes = a.header + newCount * es;
  UHandle h = *array;
  if (!h) {
    h = DSNewHClr(bytes);
    if (!h) {
      dropMade();
      return kMemFullErr;
    }
    *array = h;
  } else {
    DisposeSpare(h, a, oldCount);
    int32 size = DSGetHandleSize(h);
    if (size < bytes) {
      if (MgErr err = DSSetHSzClr(h, bytes)) {
        dropMade();
        return err;
      }
    } else if (size > bytes) {
      DSSetHandleSize(h, bytes);
    }
  }
  e.base = *h + a.header;
  e.made = made;
  if (newCount > 0) InsertWalk(e);
  if (made) DSDisposePtr(made);
  std::memcpy(*h, e.newSz, size_t(a.rank) * 4);
  return kNoErr;
}

MgErr Delete(const ArrayShape& a, UHandle h, Edit& e, int32 oldCount, int32 newCount) {
  DisposeSpare(h, a, oldCount);
  e.base = *h + a.header;
  if (oldCount > 0) DeleteWalk(e);
  // A block that cannot shrink only keeps room it does not need.
  DSSetHandleSize(h, a.header + newCount * a.elemSize);
  std::memcpy(*h, e.newSz, size_t(a.rank) * 4);
  return kNoErr;
}

}  // namespace

MgErr ArrayInsertDeleteNDim(const TypeDescriptor* arrayTD, UHandle* array, int32* positions, int32* counts,
                            const void* fill) {
  if (!array || !positions || !counts) {
    DATA_ASSERT("array insertion without handle address, positions or counts");
    return kArgErr;
  }
  ArrayShape a;
  if (!GetArrayShape(arrayTD, &a) || a.td[2] != kTDArray || a.rank < 1) return kArgErr;
  if (fill == reinterpret_cast<const void*>(intptr_t(-1))) {
    DATA_ASSERT("fill value of -1");
    fill = nullptr;
  }
  int32 n = a.rank;
  UHandle h = *array;
  int32 oldCount;
  if (!CountElements(h, a, &oldCount)) return kArgErr;
  RankBuffer buf(5 * n);
  if (!buf.ok()) return kMemFullErr;
  int32* oldSz = buf.get();
  int32* newSz = oldSz + n;
  int32* oldStride = newSz + n;
  int32* newStride = oldStride + n;
  int32* idx = newStride + n;
  for (int32 k = 0; k < n; ++k) oldSz[k] = h ? LoadI32(*h + 4 * k) : 0;

  // Normalise: positions inside 0..size; the first non-zero count decides
  // between inserting and deleting; no deletion past the end.
  int32 dir = 0;
  for (int32 k = 0; k < n; ++k) {
    int32 p = positions[k];
    positions[k] = p < 0 ? 0 : p > oldSz[k] ? oldSz[k] : p;
    if (!dir && counts[k]) dir = counts[k] > 0 ? 1 : -1;
  }
  int32 last = -1;
  for (int32 k = 0; k < n; ++k) {
    int32 c = counts[k];
    if (dir > 0 && c < 0) c = 0;
    if (dir < 0) {
      if (c > 0) c = 0;
      if (c < positions[k] - oldSz[k]) c = positions[k] - oldSz[k];
    }
    if (dir == 0) c = 0;
    counts[k] = c;
    if (c) last = k;
    int64 ns = int64(oldSz[k]) + c;
    if (ns > INT32_MAX) return kMemFullErr;
    newSz[k] = int32(ns);
  }
  if (last < 0) return kNoErr;
  int32 newCount = NArrayElts(n, newSz);
  if (newCount < 0 || (a.elemSize > 0 && newCount >= kMaxArrayBytes / a.elemSize)) return kMemFullErr;

  Edit e;
  e.rank = n;
  e.last = last;
  e.es = a.elemSize;
  e.elem = a.elem;
  e.flat = a.flat;
  e.oldSz = oldSz;
  e.newSz = newSz;
  e.pos = positions;
  e.cnt = counts;
  RowMajorStrides(n, oldSz, 1, oldStride);
  RowMajorStrides(n, newSz, 1, newStride);
  e.oldStride = oldStride;
  e.newStride = newStride;
  e.idx = idx;
  e.fill = fill;
  e.chunk = dir > 0 ? newStride[last] : oldStride[last];
  if (dir > 0) return Insert(a, array, e, oldCount, newCount);
  return Delete(a, h, e, oldCount, newCount);
}

MgErr ArrayReplaceSubsetNDim(const TypeDescriptor* arrayTD, UHandle dst, const int32* start, UHandle src) {
  if (!start) {
    DATA_ASSERT("array replacement without start indexes");
    return kArgErr;
  }
  ArrayShape a;
  if (!GetArrayShape(arrayTD, &a) || a.td[2] != kTDArray || a.rank < 1) return kArgErr;
  int32 n = a.rank;
  int32 dcount, scount;
  if (!CountElements(dst, a, &dcount) || !CountElements(src, a, &scount)) return kArgErr;
  for (int32 k = 0; k < n; ++k) {
    int32 ds = dst ? LoadI32(*dst + 4 * k) : 0;
    int32 ss = src ? LoadI32(*src + 4 * k) : 0;
    if (start[k] < 0 || int64(start[k]) + ss > ds) return kArgErr;
  }
  if (scount == 0 || src == dst) return kNoErr;
  RankBuffer buf(2 * n);
  if (!buf.ok()) return kMemFullErr;
  int32* dStride = buf.get();
  int32* idx = dStride + n;
  RowMajorStrides(n, reinterpret_cast<const int32*>(*dst), 1, dStride);
  std::memset(idx, 0, size_t(n) * 4);
  const int32* ss = reinterpret_cast<const int32*>(*src);
  int32 run = ss[n - 1];
  int32 rows = scount / run;
  int32 es = a.elemSize;
  const uChar* sp = *src + a.header;
  uChar* dbase = *dst + a.header;
  for (int32 r = 0; r < rows; ++r, sp += int64(run) * es) {
    int64 off = start[n - 1];
    for (int32 k = 0; k < n - 1; ++k) off += int64(start[k] + idx[k]) * dStride[k];
    uChar* dp = dbase + off * es;
    if (a.flat) {
      std::memcpy(dp, sp, size_t(run) * size_t(es));
    } else {
      for (int32 j = 0; j < run; ++j)
        if (MgErr err = CopyData(a.elem, sp + j * es, dp + j * es)) return err;
    }
    for (int32 k = n - 2; k >= 0; --k) {
      if (++idx[k] < ss[k]) break;
      idx[k] = 0;
    }
  }
  return kNoErr;
}

MgErr AdjustArrayDims(const TypeDescriptor* elemTD, UHandle h, int32 r, int32 s) {
  if (!elemTD || r < 1 || s < 1 || r > 0x7FFF || s > 0x7FFF) return kArgErr;
  if (!h) return kNoErr;  // an empty array in any rank
  if (r == s) return kNoErr;
  int32 es = DataSize(elemTD);
  int32 oh = AlignDatum(elemTD, 4 * r);
  int32 nh = AlignDatum(elemTD, 4 * s);
  int32 size = DSGetHandleSize(h);
  if (size < oh || size < 4 * r) {
    DATA_ASSERT("array handle smaller than its header");
    return kArgErr;
  }
  int32 count = NArrayElts(r, reinterpret_cast<const int32*>(*h));
  if (count < 0 || (es > 0 && count >= kMaxArrayBytes / es)) return kMemFullErr;
  if (es > 0 && count > (size - oh) / es) {
    DATA_ASSERT("array sizes claim more elements than the handle holds");
    return kArgErr;
  }
  if (s > r) {
    int32 bytes = count * es;
    if (MgErr err = DSSetHSzClr(h, nh + bytes)) return err;
    std::memmove(*h + nh, *h + oh, size_t(bytes));
    std::memmove(*h + 4 * (s - r), *h, size_t(4 * r));
    for (int32 k = 0; k < s - r; ++k) StoreI32(*h + 4 * k, count ? 1 : 0);
    return kNoErr;
  }
  if (count == 0) std::memset(*h, 0, size_t(4 * r));
  const int32* kept = reinterpret_cast<const int32*>(*h) + (r - s);
  int32 ncount = NArrayElts(s, kept);
  if (ncount < 0 || (es > 0 && ncount >= kMaxArrayBytes / es)) return kMemFullErr;
  // The elements the dropped sizes covered beyond the new ones go.
  if (DataShape(elemTD) != 0) {
    for (int32 i = ncount; i < count; ++i) {
      uChar* el = *h + oh + i * es;
      Release(elemTD, el, el + es, true);
    }
  }
  std::memmove(*h, *h + 4 * (r - s), size_t(4 * s));
  std::memmove(*h + nh, *h + oh, size_t(ncount) * size_t(es));
  DSSetHandleSize(h, nh + ncount * es);
  return kNoErr;
}

MgErr AdjustArrayDims_Old(UHandle tdHandle, int32 tdOffset, UHandle array, int32 oldRank, int32 newRank) {
  if (!tdHandle || !*tdHandle) {
    DATA_ASSERT("null TD handle");
    return kArgErr;
  }
  return AdjustArrayDims(reinterpret_cast<const TypeDescriptor*>(*tdHandle + tdOffset), array, oldRank, newRank);
}
