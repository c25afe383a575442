// Block moves, clears and swaps, the atomic test-and-set, and the x87 status
// and rounding routines.
#include "blockmove.h"

#include <atomic>
#include <cstdint>

namespace {
std::atomic<InvalidLibraryAlertProc> gInvalidLibraryAlert{nullptr};

inline void MoveDwordsForward(const uInt8*& s, uInt8*& d, uInt32 n) {
  if (!n) return;
  __asm__ __volatile__("cld\n\trep movsl" : "+S"(s), "+D"(d), "+c"(n) : : "memory");
}

inline void MoveDwordsBackward(const uInt8* sEnd, uInt8* dEnd, uInt32 n) {
  if (!n) return;
  // With the direction flag set, movsl moves the dword at (%esi) to (%edi)
  // and steps both down by 4: start at the last dword.
  const uInt8* s = sEnd - 4;
  uInt8* d = dEnd - 4;
  __asm__ __volatile__("std\n\trep movsl\n\tcld" : "+S"(s), "+D"(d), "+c"(n) : : "memory", "cc");
}
}  // namespace

void MoveBlock(const void* src, void* dst, int32 count) {
  if (count <= 0 || src == dst) return;
  const uInt8* s = static_cast<const uInt8*>(src);
  uInt8* d = static_cast<uInt8*>(dst);
  uInt32 n = uInt32(count);
  if (s > d || s + n <= d) {
    // Forwards: an odd byte, an odd 16-bit word, then 32-bit words.
    if (n & 1) *d++ = *s++;
    if (n & 2) {
      uInt16 w;
      __builtin_memcpy(&w, s, 2);
      __builtin_memcpy(d, &w, 2);
      s += 2;
      d += 2;
    }
    MoveDwordsForward(s, d, n >> 2);
  } else {
    // Backwards from the last byte: the destination lies inside the source range.
    const uInt8* se = s + n;
    uInt8* de = d + n;
    if (n & 1) *--de = *--se;
    if (n & 2) {
      se -= 2;
      de -= 2;
      uInt16 w;
      __builtin_memcpy(&w, se, 2);
      __builtin_memcpy(de, &w, 2);
    }
    MoveDwordsBackward(se, de, n >> 2);
  }
}

void ClearMem(void* p, int32 count) {
  if (count <= 0 || !p) return;
  uInt8* d = static_cast<uInt8*>(p);
  uInt32 n = uInt32(count);
  if (n & 1) *d++ = 0;
  if (n & 2) {
    uInt16 z = 0;
    __builtin_memcpy(d, &z, 2);
    d += 2;
  }
  uInt32 words = n >> 2;
  if (words) __asm__ __volatile__("cld\n\trep stosl" : "+D"(d), "+c"(words) : "a"(0) : "memory");
}

void SwapBlock(void* a, void* b, int32 count) {
  if (count <= 0 || a == b) return;
  uInt32 n = uInt32(count);
  if (((reinterpret_cast<uintptr_t>(a) | reinterpret_cast<uintptr_t>(b) | n) & 3) == 0) {
    uInt32* x = static_cast<uInt32*>(a);
    uInt32* y = static_cast<uInt32*>(b);
    for (uInt32 i = 0; i < n / 4; ++i) {
      uInt32 t = x[i];
      x[i] = y[i];
      y[i] = t;
    }
  } else {
    uInt8* x = static_cast<uInt8*>(a);
    uInt8* y = static_cast<uInt8*>(b);
    for (uInt32 i = 0; i < n; ++i) {
      uInt8 t = x[i];
      x[i] = y[i];
      y[i] = t;
    }
  }
}

int32 TestAndSet(volatile int32* word) {
  uInt8 wasSet;
  __asm__ __volatile__("lock btsl $0, %1\n\tsetc %0" : "=q"(wasSet), "+m"(*word) : : "memory", "cc");
  return wasSet ? 1 : 0;
}

int32 CheckFPStat() {
  uInt16 sw;
  __asm__ __volatile__("fnstsw %0" : "=m"(sw));
  return int32(sw);
}

int32 FPUSetNearest() {
  uInt16 cw;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw));
  if ((cw & 0x0C00) == 0) return 0;
  // High byte 0x13: 64-bit precision, round to nearest, the affine-infinity bit;
  // the exception masks in the low byte stay.
  cw = uInt16((cw & 0x00FF) | 0x1300);
  __asm__ __volatile__("fldcw %0" : : "m"(cw));
  return 1;
}

void SetInvalidLibraryAlertHook(InvalidLibraryAlertProc proc) { gInvalidLibraryAlert.store(proc); }
InvalidLibraryAlertProc InvalidLibraryAlertHookInUse() { return gInvalidLibraryAlert.load(); }

int32 LoadLibrary16Stub(int32 /*arg*/) {
  if (InvalidLibraryAlertProc alert = gInvalidLibraryAlert.load()) alert();
  return 0;
}
