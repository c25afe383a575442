// The bounds check for type descriptors that arrive from files and the wire.
//
// The walkers trust their TD; this check accepts a TD only when every walker
// stays inside it: each size, count, name and inner TD lies within the bytes
// of its parent, every code is one the walkers know, and no walker would
// report a broken invariant for reasons of layout.
#include "datatype.h"
#include "td_internal.h"

using namespace td;

namespace {

// Checks the TD at t that may occupy up to `room` bytes; returns its length,
// or 0 when it is refused.
int32 Check(const uChar* t, int32 room, bool top, int32 depth) {
  if (depth > kTDMaxDepth || room < 4) return 0;
  int32 len = Size(t);
  if (top && len == kTDSizeInHolder) len = room;
  else if (len < 4 || len > room || (!top && len >= 0xFFFF)) return 0;

  uChar c = Code(t);
  int32 pos;  // the end of the type part
  auto inner = [&](int32 off) { return Check(t + off, len - off, false, depth + 1); };

  if (IsHeaderOnly(c)) {
    pos = 4;
  } else if (IsEnumCode(c)) {
    if (len < 6) return 0;
    int32 n = I16(t + 4);
    if (n < 0 || n > len - 6) return 0;  // each item takes at least its length byte
    pos = 6;
    for (int32 i = 0; i < n; ++i) {
      if (pos >= len) return 0;
      pos += 1 + t[pos];
    }
    pos += (pos - 6) & 1;
  } else if (IsUnit(c)) {
    if (len < 6) return 0;
    int32 n = I16(t + 4);
    if (n < 0 || n > (len - 6) / 4) return 0;
    pos = 6 + 4 * n;
  } else {
    switch (c) {
      case kTDString: case kTDPath: case kTDString33: case kTDString37: case kTDStringView:
        pos = 8;
        break;
      case kTDBlock:
        if (len < 8 || I32(t + 4) < 0) return 0;
        pos = 8;
        break;
      case kTDHandle:
        pos = 6;
        break;
      case kTDVariant:
        if (len < 6 || I16(t + 4) != kVariantOle) return 0;
        pos = 6;
        break;
      case kTDArray:
      case kTDArrayView: {
        if (len < 6) return 0;
        int32 n = I16(t + 4);
        if (n < 0 || n > (len - 10) / 4) return 0;  // the fields, then an element of 4 bytes or more
        int32 e = 6 + 4 * n;
        int32 s = inner(e);
        if (!s) return 0;
        pos = e + s;
        break;
      }
      case kTDCluster:
      case kTDUnion:
      case kTDFunction: {
        if (len < (c == kTDFunction ? 8 : 6)) return 0;
        int32 n = I16(t + 4);
        int32 least = c == kTDFunction ? 6 : 4;  // a flag word and a TD per connector
        if (n < 0 || n > (len - (c == kTDFunction ? 8 : 6)) / least) return 0;
        pos = c == kTDFunction ? 8 + 2 * n : 6;
        for (int32 i = 0; i < n; ++i) {
          int32 s = inner(pos);
          if (!s) return 0;
          pos += s;
        }
        break;
      }
      case kTDWrapper:
      case kTDTypeOnly:
      case kTDTypedRef: {
        int32 s = inner(4);
        if (!s) return 0;
        pos = 4 + s;
        break;
      }
      case kTDTypedef: {
        if (len < 9) return 0;
        int32 e = 8 + PaddedStr(t[8]);
        int32 s = e < len ? inner(e) : 0;
        if (!s) return 0;
        pos = e + s;
        break;
      }
      case kTDRefnum: {
        if (len < 6) return 0;
        int32 kind = I16(t + 4);
        if (kind < 0 || kind > kRefnumKindMax) return 0;
        switch (kind) {
          case kRefnumDatalog: {
            int32 s = inner(6);
            if (!s) return 0;
            pos = 6 + s;
            break;
          }
          case kRefnumNamed6:
          case kRefnumAutomation:
          case kRefnumNamed10:
            if (len < 7) return 0;
            pos = 6 + PaddedStr(t[6]);
            break;
          case kRefnumObject:
            if (len < 8) return 0;
            if (I16(t + 6) == 2) {
              int32 s = inner(8);
              if (!s) return 0;
              pos = 8 + s;
            } else {
              pos = 10;
            }
            break;
          default:
            pos = 6;
            break;
        }
        break;
      }
      default:
        return 0;  // unknown codes, and the internal codes 0x80 and 0x81
    }
  }
  if (pos > len) return 0;
  if (Flags(t) & kTDFlagName) {
    // The name, with its pad byte, inside the TD.
    if (pos >= len || pos + PaddedStr(t[pos]) > len) return 0;
  }
  return len;
}

}  // namespace

MgErr TDCheckBounds(const void* t, int32 available) {
  if (!t || available < 4) return kArgErr;
  return Check(static_cast<const uChar*>(t), available, true, 0) ? kNoErr : kArgErr;
}
