#include "mgsource/gnrclist.h"

#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

namespace {

constexpr int32 kHeader = 12;

int32 Cap(UPtr p) { return int32(GetNative32(p)); }
int32 Count(UPtr p) { return int32(GetNative32(p + 4)); }
int32 ElemSize(UPtr p) { return int32(GetNative32(p + 8)); }
void SetCount(UPtr p, int32 n) { PutNative32(p + 4, uInt32(n)); }
UPtr Elem(UPtr p, int32 i) { return p + kHeader + i * ElemSize(p); }

// The contents are a list of elements of that size whose count and capacity
// hold together; otherwise the failure is reported.
inline __attribute__((always_inline)) bool Usable(UPtr p, int32 size) {
  if (!p) {
    QX_ASSERT_MSG(false, "generic list is null");
    return false;
  }
  if (ElemSize(p) != size || size <= 0) {
    QX_ASSERT_MSG(false, "generic list element size differs");
    return false;
  }
  if (Count(p) < 0 || Count(p) > Cap(p)) {
    QX_ASSERT_MSG(false, "generic list count above its capacity");
    return false;
  }
  return true;
}

void Clear(void* out, int32 size) {
  if (out && size > 0) std::memset(out, 0, size_t(size));
}

// Copies and clears of one element: lists of 4-byte elements (refnums,
// offsets) are the common case and take no library call.
void CopyElem(void* to, const void* from, int32 size) {
  if (size == 4) std::memcpy(to, from, 4);
  else std::memcpy(to, from, size_t(size));
}
void ClearElem(void* at, int32 size) {
  if (size == 4) std::memset(at, 0, 4);
  else std::memset(at, 0, size_t(size));
}

// Room for one more element at index, the later ones moved up.
inline __attribute__((always_inline)) void Place(UPtr p, const void* element, int32 size, int32 index) {
  const int32 n = Count(p);
  if (index < 0) index = 0;
  if (index > n) index = n;
  if (index < n) std::memmove(Elem(p, index + 1), Elem(p, index), size_t(n - index) * size_t(size));
  if (element)
    CopyElem(Elem(p, index), element, size);
  else
    ClearElem(Elem(p, index), size);
  SetCount(p, n + 1);
}

inline __attribute__((always_inline)) int32 Take(UPtr p, void* out, int32 size, int32 index) {
  const int32 n = Count(p);
  if (n == 0) {
    Clear(out, size);
    return 0;
  }
  if (index < 0) index = 0;
  if (index > n - 1) index = n - 1;
  if (out) CopyElem(out, Elem(p, index), size);
  if (index < n - 1) std::memmove(Elem(p, index), Elem(p, index + 1), size_t(n - 1 - index) * size_t(size));
  ClearElem(Elem(p, n - 1), size);
  SetCount(p, n - 1);
  return 1;
}

UPtr Contents(UHandle list) { return list ? *list : nullptr; }

}  // namespace

UHandle GLNew(int32 capacity, int32 elementSize) {
  if (capacity < 0 || elementSize <= 0 || int64(capacity) * elementSize > 0x7FFFFFF0 - kHeader) return nullptr;
  UHandle list = DSNewHClr(kHeader + capacity * elementSize);
  if (!list) return nullptr;
  PutNative32(*list, uInt32(capacity));
  PutNative32(*list + 8, uInt32(elementSize));
  return list;
}

void GLDispose(UHandle list) {
  if (list) DSDisposeHandle(list);
}

MgErr GLInsert(UHandle list, const void* element, int32 size, int32 growth, int32 index) {
  if (!Usable(Contents(list), size)) return kArgErr;
  const int32 n = Count(*list);
  if (n == Cap(*list)) {
    if (growth <= 0) return kMemFullErr;
    const int64 bytes = ((int64(n) + growth) * size + 19) & ~int64(7);
    if (bytes > 0x7FFFFFF0) return kMemFullErr;
    const int32 old = DSGetHandleSize(list);
    if (MgErr err = DSSetHandleSize(list, int32(bytes))) return err;
    if (bytes > old) std::memset(*list + old, 0, size_t(bytes - old));
    PutNative32(*list, uInt32(n + growth));
  }
  Place(*list, element, size, index);
  return kNoErr;
}

MgErr GLInsertP(UPtr contents, const void* element, int32 size, int32 index) {
  if (!Usable(contents, size)) return kArgErr;
  if (Count(contents) == Cap(contents)) return kMemFullErr;
  Place(contents, element, size, index);
  return kNoErr;
}

int32 GLRemove(UHandle list, void* out, int32 size, int32 index) {
  return GLRemoveP(Contents(list), out, size, index);
}

int32 GLRemoveP(UPtr contents, void* out, int32 size, int32 index) {
  if (!Usable(contents, size)) {
    Clear(out, size);
    return 0;
  }
  return Take(contents, out, size, index);
}

int32 GLCount(UHandle list, int32 size) {
  UPtr p = Contents(list);
  return Usable(p, size) ? Count(p) : 0;
}

int32 GLGet(UHandle list, void* out, int32 size, int32 index) { return GLGetP(Contents(list), out, size, index); }

int32 GLGetP(UPtr contents, void* out, int32 size, int32 index) {
  if (!Usable(contents, size) || index < 0 || index >= Count(contents)) {
    Clear(out, size);
    return 0;
  }
  if (out) std::memcpy(out, Elem(contents, index), size_t(size));
  return 1;
}

int32 GLFindP(UPtr contents, const void* key, int32 size) {
  if (!Usable(contents, size) || !key) return -1;
  if (size == 4) {
    uInt32 k;
    std::memcpy(&k, key, 4);
    for (int32 i = Count(contents) - 1; i >= 0; --i) {
      uInt32 e;
      std::memcpy(&e, contents + kHeader + 4 * i, 4);
      if (e == k) return i;
    }
    return -1;
  }
  for (int32 i = Count(contents) - 1; i >= 0; --i)
    if (std::memcmp(Elem(contents, i), key, size_t(size)) == 0) return i;
  return -1;
}

int32 GLRemoveMatch(UHandle list, const void* key, int32 size) { return GLRemoveMatchP(Contents(list), key, size); }

int32 GLRemoveMatchP(UPtr contents, const void* key, int32 size) {
  const int32 i = GLFindP(contents, key, size);
  return i < 0 ? 0 : Take(contents, nullptr, size, i);
}
