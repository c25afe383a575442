// String handles of diagrams as the run-time functions read and write them.
#include "rtlib/rtstrings.h"

#include <cstdint>
#include <cstring>

#include "mgsource/memory.h"

bool RTReadString(LStrHandle h, const uChar** bytes, int32* count) {
  *bytes = nullptr;
  *count = 0;
  if (!h) return true;
  if (DSCheckHandle(h) != kNoErr) return false;
  int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(h));
  if (size < 4) return false;
  int32 n = (*h)->cnt;
  if (n < 0 || n > size - 4) return false;
  *bytes = (*h)->str;
  *count = n;
  return true;
}

bool RTBytesInHandle(const void* h, const uChar* p, int32 n) {
  if (!h || !p || n <= 0 || DSCheckHandle(h) != kNoErr) return false;
  UHandle uh = static_cast<UHandle>(const_cast<void*>(h));
  uintptr_t lo = reinterpret_cast<uintptr_t>(*uh);
  uintptr_t hi = lo + uintptr_t(DSGetHandleSize(uh));
  uintptr_t a = reinterpret_cast<uintptr_t>(p);
  return a < hi && a + uintptr_t(n) > lo;
}

MgErr RTSetString(LStrHandle* dst, const uChar* bytes, int32 n) {
  if (!dst) return kArgErr;
  if (n < 0 || !bytes) n = 0;
  if (n > INT32_MAX - 4) return kMemFullErr;
  LStrHandle d = *dst;
  if (!d) {
    d = reinterpret_cast<LStrHandle>(DSNewHandle(n + 4));
    if (!d) return kMemFullErr;
    *dst = d;
  } else if (RTBytesInHandle(d, bytes, n)) {
    // The bytes come from the handle itself: they move first and the handle
    // then shrinks, since they fit inside it.
    std::memmove((*d)->str, bytes, size_t(n));
    (*d)->cnt = n;
    return DSSetHandleSize(reinterpret_cast<UHandle>(d), n + 4);
  } else if (MgErr err = DSSetHandleSize(reinterpret_cast<UHandle>(d), n + 4)) {
    return err;
  }
  (*d)->cnt = n;
  if (n > 0) std::memcpy((*d)->str, bytes, size_t(n));
  return kNoErr;
}

MgErr RTSizeString(LStrHandle* dst, int32 n, uChar** text) {
  if (!dst) return kArgErr;
  if (n < 0 || n > INT32_MAX - 4) return kMemFullErr;
  LStrHandle d = *dst;
  if (!d) {
    d = reinterpret_cast<LStrHandle>(DSNewHandle(n + 4));
    if (!d) return kMemFullErr;
    *dst = d;
  } else if (MgErr err = DSSetHandleSize(reinterpret_cast<UHandle>(d), n + 4)) {
    return err;
  }
  (*d)->cnt = n;
  if (text) *text = (*d)->str;
  return kNoErr;
}

namespace {

int32 PieceLen(const RTPiece& p) { return p.bytes && p.n > 0 ? p.n : 0; }

}  // namespace

MgErr RTSetStrings(RTStringOut* outs, int32 count) {
  if (count <= 0) return kNoErr;
  constexpr int32 kMaxOuts = 4;
  if (count > kMaxOuts || !outs) return kArgErr;
  int32 total[kMaxOuts];
  int64_t all = 0;
  for (int32 i = 0; i < count; ++i) {
    RTStringOut& o = outs[i];
    int64_t t = int64_t(PieceLen(o.pieces[0])) + PieceLen(o.pieces[1]);
    if (t > INT32_MAX - 4) return kMemFullErr;
    total[i] = int32(t);
    if (!o.slot) continue;
    if (*o.slot && DSCheckHandle(*o.slot) != kNoErr) return kZoneErr;
    for (int32 j = 0; j < i; ++j)
      if (outs[j].slot && *o.slot && *outs[j].slot == *o.slot) return kArgErr;
    all += t;
  }
  // The common case of appending to a result in place: one output whose
  // first piece is already at the start of its own block.
  if (count == 1 && outs[0].slot && *outs[0].slot) {
    LStrHandle d = *outs[0].slot;
    const RTPiece& a = outs[0].pieces[0];
    const RTPiece& b = outs[0].pieces[1];
    if (PieceLen(a) > 0 && a.bytes == (*d)->str && !RTBytesInHandle(d, b.bytes, PieceLen(b))) {
      int32 na = PieceLen(a), nb = PieceLen(b);
      if (MgErr err = DSSetHandleSize(reinterpret_cast<UHandle>(d), total[0] + 4)) return err;
      if (nb > 0) std::memcpy((*d)->str + na, b.bytes, size_t(nb));
      (*d)->cnt = total[0];
      return kNoErr;
    }
  }
  // Pieces read from an output's block are copied aside first, since the
  // blocks move and are written over.
  bool aliased = false;
  for (int32 i = 0; i < count && !aliased; ++i) {
    if (!outs[i].slot || !*outs[i].slot) continue;
    for (int32 j = 0; j < count && !aliased; ++j)
      for (const RTPiece& p : outs[j].pieces)
        if (RTBytesInHandle(*outs[i].slot, p.bytes, PieceLen(p))) aliased = true;
  }
  RTPiece pieces[kMaxOuts][2];
  UPtr scratch = nullptr;
  if (aliased) {
    if (all > INT32_MAX - 1) return kMemFullErr;
    scratch = DSNewPtr(int32(all) + 1);
    if (!scratch) return kMemFullErr;
  }
  uChar* at = reinterpret_cast<uChar*>(scratch);
  for (int32 i = 0; i < count; ++i) {
    for (int k = 0; k < 2; ++k) {
      RTPiece p = outs[i].pieces[k];
      p.n = PieceLen(p);
      if (scratch && outs[i].slot && p.n > 0) {
        std::memcpy(at, p.bytes, size_t(p.n));
        p.bytes = at;
        at += p.n;
      }
      pieces[i][k] = p;
    }
  }
  // Every block is made or grown before any is written, so that a failure
  // leaves all outputs as they were.
  LStrHandle made[kMaxOuts] = {};
  int32 oldSize[kMaxOuts];
  MgErr err = kNoErr;
  int32 i = 0;
  for (; i < count; ++i) {
    oldSize[i] = -1;
    if (!outs[i].slot) continue;
    LStrHandle d = *outs[i].slot;
    if (!d) {
      made[i] = reinterpret_cast<LStrHandle>(DSNewHandle(total[i] + 4));
      if (!made[i]) {
        err = kMemFullErr;
        break;
      }
    } else {
      int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(d));
      if (size < total[i] + 4) {
        if ((err = DSSetHandleSize(reinterpret_cast<UHandle>(d), total[i] + 4)) != kNoErr) break;
        oldSize[i] = size;
      }
    }
  }
  if (err) {
    while (--i >= 0) {
      if (made[i]) DSDisposeHandle(reinterpret_cast<UHandle>(made[i]));
      if (oldSize[i] >= 0) DSSetHandleSize(reinterpret_cast<UHandle>(*outs[i].slot), oldSize[i]);
    }
    if (scratch) DSDisposePtr(scratch);
    return err;
  }
  for (i = 0; i < count; ++i) {
    if (!outs[i].slot) continue;
    LStrHandle d = made[i] ? made[i] : *outs[i].slot;
    uChar* w = (*d)->str;
    for (const RTPiece& p : pieces[i]) {
      if (p.n > 0) std::memmove(w, p.bytes, size_t(p.n));
      w += p.n;
    }
    (*d)->cnt = total[i];
    // A block only shrinks here; should the manager keep the larger block the
    // count is still right.
    DSSetHandleSize(reinterpret_cast<UHandle>(d), total[i] + 4);
    *outs[i].slot = d;
  }
  if (scratch) DSDisposePtr(scratch);
  return kNoErr;
}

MgErr RTSetJoined(LStrHandle* dst, const uChar* a, int32 na, const uChar* b, int32 nb) {
  RTStringOut o{dst, {{a, na}, {b, nb}}};
  return RTSetStrings(&o, 1);
}

bool RTReadStringArray(LStrArray** h, int32* count) {
  *count = 0;
  if (!h) return true;
  if (DSCheckHandle(h) != kNoErr) return false;
  int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(h));
  if (size < 4) return false;
  int32 n;
  std::memcpy(&n, *reinterpret_cast<uChar**>(h), 4);
  if (n < 0 || n > (size - 4) / 4) return false;
  *count = n;
  return true;
}
