// Byte-order helpers: stored and wire data are big-endian and are read and
// written byte by byte, never by casting a buffer; host-order words at any
// address go through memcpy.
#pragma once
#include "extcode.h"

inline uInt16 GetBE16(const void* at) {
  const uChar* p = static_cast<const uChar*>(at);
  return uInt16((uInt16(p[0]) << 8) | p[1]);
}
inline uInt32 GetBE32(const void* at) {
  const uChar* p = static_cast<const uChar*>(at);
  return (uInt32(p[0]) << 24) | (uInt32(p[1]) << 16) | (uInt32(p[2]) << 8) | uInt32(p[3]);
}
inline uInt64 GetBE64(const void* at) {
  const uChar* p = static_cast<const uChar*>(at);
  return (uInt64(GetBE32(p)) << 32) | GetBE32(p + 4);
}
inline void PutBE16(void* at, uInt16 v) {
  uChar* p = static_cast<uChar*>(at);
  p[0] = uChar(v >> 8);
  p[1] = uChar(v);
}
inline void PutBE32(void* at, uInt32 v) {
  uChar* p = static_cast<uChar*>(at);
  p[0] = uChar(v >> 24);
  p[1] = uChar(v >> 16);
  p[2] = uChar(v >> 8);
  p[3] = uChar(v);
}
inline void PutBE64(void* at, uInt64 v) {
  uChar* p = static_cast<uChar*>(at);
  PutBE32(p, uInt32(v >> 32));
  PutBE32(p + 4, uInt32(v));
}

// Host-order words at any address.
inline uInt16 GetNative16(const void* at) {
  uInt16 v;
  __builtin_memcpy(&v, at, 2);
  return v;
}
inline uInt32 GetNative32(const void* at) {
  uInt32 v;
  __builtin_memcpy(&v, at, 4);
  return v;
}
inline void PutNative16(void* at, uInt16 v) { __builtin_memcpy(at, &v, 2); }
inline void PutNative32(void* at, uInt32 v) { __builtin_memcpy(at, &v, 4); }
