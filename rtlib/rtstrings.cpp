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
