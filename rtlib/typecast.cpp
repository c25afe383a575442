// Type casting through the big-endian flat form, and the byte order of whole
// TDs for files.
#include "rtlib/typecast.h"

#include <cstring>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/sorting.h"
#include "rtlib/datasupp_internal.h"

namespace {

int32 LoadI32(const void* p) { return int32(GetNative32(p)); }
void StoreI32(void* p, int32 v) { PutNative32(p, uInt32(v)); }
int32 LoadI16(const void* p) { return int16(GetNative16(p)); }

bool StringLike(uChar code) {
  return code == kTDString || code == kTDString33 || code == kTDString37;
}

// Codes whose bytes are the value itself, turned to big-endian in place.
bool FastCode(uChar code, int32 flags) {
  switch (code) {
    case kTDI8: case kTDI16: case kTDI32: case kTDU8: case kTDU16: case kTDU32: case kTDSGL:
    case kTDEnumU8: case kTDEnumU16: case kTDEnumU32: case kTDUnitSGL: case kTDRefnum:
      return true;
    case kTDBoolean:
      return !(flags & kFlatOldBooleans);
    default:
      return false;
  }
}

// Turns count elements of es bytes between host and big-endian order.
void SwapElements(uChar* p, int32 count, int32 es) {
  if (es == 4)
    for (int32 i = 0; i < count; ++i) RevBL(p + 4 * i);
  else if (es == 2)
    for (int32 i = 0; i < count; ++i) SwapBW(p + 2 * i);
}

// An enumeration value at or above its item count becomes the last item.
void ClampEnum(const TypeDescriptor* td, uChar* p, int32 count, int32 es) {
  uChar code = td->code;
  if (code < kTDEnumU8 || code > kTDEnumU32) return;
  uInt32 items = uInt32(LoadI16(reinterpret_cast<const uChar*>(td) + 4));
  uInt32 last = items ? items - 1 : 0;
  for (int32 i = 0; i < count; ++i, p += es) {
    uInt32 v = es == 1 ? *p : es == 2 ? GetNative16(p) : GetNative32(p);
    if (v <= last) continue;
    if (es == 1) *p = uChar(last);
    if (es == 2) PutNative16(p, uInt16(last));
    if (es == 4) PutNative32(p, last);
  }
}

// The cast buffer: a handle holding an int32 byte count, then the bytes.
struct Buffer {
  UHandle h = nullptr;
  int32 bytes = 0;
  bool owned = false;  // made here, disposed at the end
};

// The bytes a string-like handle holds; -1, reported, for a count outside it.
int32 StringBytes(UHandle h) {
  if (!h) return 0;
  int32 size = DSGetHandleSize(h);
  int32 n = size >= 4 ? LoadI32(*h) : -1;
  if (n < 0 || n > size - 4) {
    DSUPP_ASSERT("string count outside its handle");
    return -1;
  }
  return n;
}

// Writes the flat form of the datum at data (its array sizes left out) into
// h, made when null, resized to 4 + the bytes, the count first.
MgErr FlattenInto(const TypeDescriptor* td, const void* data, int32 flags, UHandle* h, int32* bytes) {
  int32 size = FlatSizeWalk(td, data, flags);
  if (size < 0 || size >= kMaxArrayBytes) return kMemFullErr;
  int32 strip = 0;
  if (td->code == kTDArray || td->code == kTDArrayView)
    strip = 4 * LoadI16(reinterpret_cast<const uChar*>(td) + 4);
  if (strip > size) strip = size;
  if (!*h) {
    *h = DSNewHandle(4 + size);
    if (!*h) return kMemFullErr;
  } else if (MgErr err = DSSetHandleSize(*h, 4 + size)) {
    return err;
  }
  UPtr end = FlattenDataWalk(**h + 4, td, data, flags);
  int32 wrote = int32(end - (**h + 4));
  if (wrote != size) {
    DSUPP_ASSERT("flat form of another size than measured");
    if (wrote < 0 || wrote > size) wrote = size;
  }
  if (strip) std::memmove(**h + 4, **h + 4 + strip, size_t(wrote - strip));
  *bytes = wrote - strip;
  if (*bytes < size) DSSetHandleSize(*h, 4 + *bytes);
  StoreI32(**h, *bytes);
  return kNoErr;
}

// The source as a cast buffer.
MgErr SourceBuffer(const TypeDescriptor* st, const void* src, int32 flags, Buffer* buf) {
  uChar code = st->code;
  if (StringLike(code)) {
    UHandle h = reinterpret_cast<UHandle>(const_cast<void*>(src));
    int32 n = StringBytes(h);
    if (n < 0) return kArgErr;
    buf->h = h;
    buf->bytes = n;
    return kNoErr;
  }
  if (code == kTDStringView) {
    const StringViewData* v = static_cast<const StringViewData*>(src);
    if (!v || v->count < 0 || (v->count > 0 && !v->ptr)) {
      DSUPP_ASSERT("string view without bytes");
      return kArgErr;
    }
    buf->h = DSNewHandle(4 + v->count);
    if (!buf->h) return kMemFullErr;
    buf->owned = true;
    if (v->count) std::memcpy(*buf->h + 4, v->ptr, size_t(v->count));
    StoreI32(*buf->h, v->count);
    buf->bytes = v->count;
    return kNoErr;
  }
  // An array's data is its handle: the flattener takes the slot holding it.
  UHandle slot = nullptr;
  const void* data = src;
  if (code == kTDArray) {
    slot = reinterpret_cast<UHandle>(const_cast<void*>(src));
    data = &slot;
  }
  MgErr err = FlattenInto(st, data, flags, &buf->h, &buf->bytes);
  buf->owned = buf->h != nullptr;
  return err;
}

// A scalar target read from the buffer.
MgErr CastToScalar(const TypeDescriptor* dt, const Buffer& buf, void* dst, int32 flags) {
  uChar* d = static_cast<uChar*>(dst);
  int32 size = DataSize(dt);
  const uChar* bytes = buf.h ? *buf.h + 4 : nullptr;
  if (FastCode(dt->code, flags)) {
    if (buf.bytes < size) std::memset(d, 0, size_t(size));
    int32 n = buf.bytes < size ? buf.bytes : size;
    if (n) std::memcpy(d, bytes, size_t(n));
    SwapElements(d, 1, size);
    ClampEnum(dt, d, 1, size);
    return kNoErr;
  }
  int32 fes = FlatSizeWalk(dt, nullptr, flags);
  if (fes <= 0) {
    ResetData(dt, d);
    return kArgErr;
  }
  if (buf.bytes / fes < 1) ResetData(dt, d);
  int32 used = UnFlattenFromMem(buf.h, 4, dt, d, buf.bytes, flags);
  return used > buf.bytes ? kArgErr : kNoErr;
}

// An array target (its handle) read from the buffer.
MgErr CastToArray(const TypeDescriptor* dt, const Buffer& buf, UHandle h, int32 flags) {
  const uChar* t = reinterpret_cast<const uChar*>(dt);
  int32 rank = LoadI16(t + 4);
  const TypeDescriptor* elem = SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(t + 6 + 4 * rank));
  if (rank < 1 || !h) {
    DSUPP_ASSERT("cast to an array without dimensions or handle");
    return kArgErr;
  }
  int32 es = DataSize(elem);
  int32 header = AlignDatum(elem, 4 * rank);
  bool packed = (flags & kFlatOldBooleans) && elem->code == kTDBoolean;
  bool fast = FastCode(elem->code, flags);
  int32 fes = fast ? es : packed ? 0 : FlatSizeWalk(elem, nullptr, flags);
  int32 count;
  if (packed)
    count = buf.bytes / 2 > 0x7FFFFFFF / 16 ? -1 : buf.bytes / 2 * 16;
  else
    count = fes > 0 ? buf.bytes / fes : 0;
  if (count < 0) return kMemFullErr;
  // ArrayResizeElts refuses a count over the limit (2) and leaves the
  // handle as it was.
  UHandle slot = h;
  if (MgErr err = ArrayResizeElts(elem, rank, &slot, count)) return err;
  StoreI32(*h, count);
  for (int32 k = 1; k < rank; ++k) StoreI32(*h + 4 * k, 1);
  if (!fast && !packed && fes <= 0) {
    DSUPP_ASSERT("cast to elements of flat size 0");
    return kArgErr;
  }
  const uChar* bytes = buf.h ? *buf.h + 4 : nullptr;
  if (count == 0) return kNoErr;
  if (fast) {
    std::memcpy(*h + header, bytes, size_t(count) * size_t(es));
    SwapElements(*h + header, count, es);
    ClampEnum(elem, *h + header, count, es);
    return kNoErr;
  }
  if (packed) {
    uChar* d = *h + header;
    for (int32 i = 0; i < count; ++i) d[i] = (GetBE16(bytes + 2 * (i >> 4)) & (0x8000u >> (i & 15))) != 0;
    return kNoErr;
  }
  // One element after the other while the bytes last; each may move the
  // block, whose address is taken anew.
  int32 pos = 0;
  for (int32 i = 0; i < count; ++i) {
    int32 left = buf.bytes - pos;
    int32 used = UnFlattenFromMem(buf.h, 4 + pos, elem, *h + header + i * es, left, flags);
    if (used > left) return kArgErr;
    pos += used;
  }
  return kNoErr;
}

}  // namespace

MgErr TypeCast(UHandle srcTDHandle, int32 srcTDOffset, UHandle dstTDHandle, int32 dstTDOffset, const void* src,
               void* dst, int32 flags) {
  const TypeDescriptor* st = dsupp::TDAt(srcTDHandle, srcTDOffset);
  const TypeDescriptor* dt = dsupp::TDAt(dstTDHandle, dstTDOffset);
  if (!st || !dt) return kArgErr;
  st = SkipTypedefs(st);
  dt = SkipTypedefs(dt);
  uChar dc = dt->code;
  bool srcString = StringLike(st->code) || st->code == kTDStringView;
  if (dc == kTDStringView || dc == kTDArrayView) {
    DSUPP_ASSERT("cast into a view");
    return kArgErr;
  }
  if (!dst || (!src && !StringLike(st->code) && st->code != kTDArray)) {
    DSUPP_ASSERT("cast without source or target");
    return kArgErr;
  }
  if (StringLike(dc)) {
    UHandle target = static_cast<UHandle>(dst);
    if (!srcString) {
      // The target string is the buffer.
      int32 bytes = 0;
      UHandle slot = nullptr;
      const void* data = src;
      if (st->code == kTDArray) {
        slot = reinterpret_cast<UHandle>(const_cast<void*>(src));
        data = &slot;
      }
      return FlattenInto(st, data, flags, &target, &bytes);
    }
    Buffer buf;
    if (MgErr err = SourceBuffer(st, src, flags, &buf)) return err;
    LStrHandle out = reinterpret_cast<LStrHandle>(target);
    MgErr err = buf.h ? CopyString(reinterpret_cast<LStrHandle>(buf.h), &out) : DSSetHandleSize(target, 4);
    if (!buf.h && !err) StoreI32(*target, 0);
    if (buf.owned) DSDisposeHandle(buf.h);
    return err;
  }
  Buffer buf;
  MgErr err = SourceBuffer(st, src, flags, &buf);
  if (!err) {
    if (dc == kTDArray)
      err = CastToArray(dt, buf, static_cast<UHandle>(dst), flags);
    else
      err = CastToScalar(dt, buf, dst, flags);
  }
  if (buf.owned) DSDisposeHandle(buf.h);
  return err;
}

MgErr TypeCastConvert(UHandle srcTDHandle, int32 srcTDOffset, UHandle dstTDHandle, int32 dstTDOffset,
                      const void* src, void* dst, int32 options) {
  int32 flags = (options & kFlatOptionOldBooleans) ? kFlatOldBooleans : 0;
  return TypeCast(srcTDHandle, srcTDOffset, dstTDHandle, dstTDOffset, src, dst, flags);
}

void TDByteSwapToFile(TypeDescriptor* td, int32 direction) { TDByteSwap(td, direction, 0); }
