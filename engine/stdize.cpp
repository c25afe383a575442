// The descriptor walk of byte-order standardization, and object-manager ids.
#include "engine/stdize.h"

#include <atomic>
#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

namespace {

// Reports name this source.
const char kSourceFile[] = "stdize";

std::atomic<AutoRefStandardizeProc> gAutoRefProc{nullptr};

// One descriptor's fields.  Sw16/Sw32 swap a field and give its value in the
// processor's order, in either direction: in direction 0 the swap comes
// first, in direction 1 the value is read before it.
class TDFields {
 public:
  TDFields(uChar* td, uInt32 size, int32 dir) : td_(td), size_(size), dir_(dir) {}
  bool Has(uInt32 off, uInt32 n) const { return off <= size_ && n <= size_ - off; }
  bool Sw16(uInt32 off, int32* value = nullptr) {
    if (!Has(off, 2)) return false;
    uInt16 v = dir_ == kToMemoryOrder ? GetBE16(td_ + off) : GetNative16(td_ + off);
    uInt16 swapped = __builtin_bswap16(GetNative16(td_ + off));
    PutNative16(td_ + off, swapped);
    if (value) *value = int16(v);
    return true;
  }
  bool Sw32(uInt32 off, int32* value = nullptr) {
    if (!Has(off, 4)) return false;
    uInt32 v = dir_ == kToMemoryOrder ? GetBE32(td_ + off) : GetNative32(td_ + off);
    PutNative32(td_ + off, __builtin_bswap32(GetNative32(td_ + off)));
    if (value) *value = int32(v);
    return true;
  }
  // A 16-bit field in its current order, not swapped.
  int32 Peek16(uInt32 off) const {
    return int16(dir_ == kToMemoryOrder ? GetBE16(td_ + off) : GetNative16(td_ + off));
  }
  uChar* At(uInt32 off) const { return td_ + off; }
  uInt32 Size() const { return size_; }

 private:
  uChar* td_;
  uInt32 size_;
  int32 dir_;
};

MgErr Walk(uChar* td, uInt32 available, int32 dir, bool oldStrings, int32 depth, bool top);

// Walks the child TD at offset off of f and gives its size.
MgErr Child(TDFields& f, uInt32 off, int32 dir, bool oldStrings, int32 depth, uInt32* childSize) {
  if (!f.Has(off, 4)) return kArgErr;
  uChar* c = f.At(off);
  uInt32 avail = f.Size() - off;
  uInt32 before = dir == kToMemoryOrder ? 0 : GetNative16(c);
  MgErr err = Walk(c, avail, dir, oldStrings, depth + 1, false);
  if (err) return err;
  *childSize = dir == kToMemoryOrder ? GetNative16(c) : before;
  return kNoErr;
}

// The TDs from offset off on, count of them.
MgErr Children(TDFields& f, uInt32 off, int32 count, int32 dir, bool oldStrings, int32 depth) {
  if (count < 0) return kArgErr;
  for (int32 i = 0; i < count; ++i) {
    uInt32 cs = 0;
    if (MgErr err = Child(f, off, dir, oldStrings, depth, &cs)) return err;
    off += cs;
  }
  return kNoErr;
}

MgErr Walk(uChar* td, uInt32 available, int32 dir, bool oldStrings, int32 depth, bool top) {
  if (depth > kTDMaxDepth || available < 4) return kArgErr;
  uInt32 size = dir == kToMemoryOrder ? GetBE16(td) : GetNative16(td);
  if (size == kTDSizeInHolder) {
    if (!top) return kArgErr;
    size = available;
  }
  if (size < 4 || size > available) return kArgErr;
  // The code word: the type code in its low byte, the flags in its high byte.
  uChar code = dir == kToMemoryOrder ? td[3] : td[2];
  TDFields f(td, size, dir);
  if (dir == kToMemoryOrder) {
    f.Sw16(0);
    f.Sw16(2);
  }
  MgErr err = kNoErr;
  int32 n = 0;
  switch (code) {
    case kTDEnumU8: case kTDEnumU16: case kTDEnumU32: case kTDHandle:
      if (!f.Sw16(4)) err = kArgErr;
      break;
    case kTDUnitSGL: case kTDUnitDBL: case kTDUnitEXT:
    case kTDUnitCSG: case kTDUnitCDB: case kTDUnitCXT:
      if (!f.Sw16(4, &n) || n < 0 || !f.Has(6, uInt32(n) * 4)) {
        err = kArgErr;
        break;
      }
      for (int32 i = 0; i < 2 * n; ++i) f.Sw16(6 + 2 * uInt32(i));
      break;
    case kTDString: case kTDPath: case kTDString33: case kTDString37: case kTDStringView:
      if (!oldStrings && !f.Sw32(4)) err = kArgErr;
      break;
    case kTDArray: case kTDArrayView:
      if (!f.Sw16(4, &n) || n < 0 || !f.Has(6, uInt32(n) * 4)) {
        err = kArgErr;
        break;
      }
      for (int32 i = 0; i < n; ++i) f.Sw32(6 + 4 * uInt32(i));
      err = Children(f, 6 + 4 * uInt32(n), 1, dir, oldStrings, depth);
      break;
    case kTDCluster: case kTDUnion:
      if (!f.Sw16(4, &n)) {
        err = kArgErr;
        break;
      }
      err = Children(f, 6, n, dir, oldStrings, depth);
      break;
    case kTDBlock:
      if (!f.Sw32(4)) err = kArgErr;
      break;
    case kTDWrapper: case kTDTypeOnly: case kTDTypedRef:
      err = Children(f, 4, 1, dir, oldStrings, depth);
      break;
    case kTDRefnum: {
      if (!f.Has(4, 2)) {
        err = kArgErr;
        break;
      }
      int32 kind = f.Peek16(4);
      if (kind == kRefnumObject) {
        err = SwapRefnumTDBounded(f.At(4), dir, int32(size - 4));
        break;
      }
      // The kind word, like the header, is converted first from file order
      // and last to it: the record and the automation conversion see it in
      // memory order either way.
      if (dir == kToMemoryOrder) f.Sw16(4);
      if (kind == kRefnumDatalog) {
        err = Children(f, 6, 1, dir, oldStrings, depth);
      } else if (kind == kRefnumAutomation) {
        err = AutoRefStandardize(td, dir, int32(size));
      }
      if (!err && dir == kToFileOrder) f.Sw16(4);
      break;
    }
    case kTDVariant:
      if (!f.Sw16(4, &n)) {
        err = kArgErr;
        break;
      }
      if (n != kVariantOle) {
        // A descriptor read from a file is refused; one in memory is a broken invariant.
        if (dir == kToMemoryOrder) {
          err = kArgErr;
          break;
        }
        DBAssert(kSourceFile, __LINE__, "variant descriptor of an unknown kind");
      }
      break;
    case kTDFunction: {
      if (!f.Sw16(4, &n) || n < 0 || !f.Sw16(6) || !f.Has(8, uInt32(n) * 2)) {
        err = kArgErr;
        break;
      }
      for (int32 i = 0; i < n; ++i) f.Sw16(8 + 2 * uInt32(i));
      err = Children(f, 8 + 2 * uInt32(n), n, dir, oldStrings, depth);
      break;
    }
    case kTDTypedef: {
      if (!f.Sw32(4) || !f.Has(8, 1)) {
        err = kArgErr;
        break;
      }
      uInt32 nameLen = *f.At(8);
      err = Children(f, 8 + ((nameLen + 2) & ~1u), 1, dir, oldStrings, depth);
      break;
    }
    default:
      // Numerics, booleans, void, 0x34 to 0x36 and any other code: the header only.
      break;
  }
  if (err) return err;
  if (dir == kToFileOrder) {
    f.Sw16(2);
    f.Sw16(0);
  }
  return kNoErr;
}

}  // namespace

MgErr StandardizeTDBounded(void* td, int32 direction, int32 oldStrings, int32 available) {
  if (!td || available < 4 || (direction != kToMemoryOrder && direction != kToFileOrder)) return kArgErr;
  return Walk(static_cast<uChar*>(td), uInt32(available), direction, oldStrings != 0, 0, true);
}

MgErr StandardizeTDWalk(TypeDescriptor* td, int32 direction, int32 oldStrings) {
  if (!td) return kArgErr;
  // Trusted: as long as its size field says (or, for 0xFFFF, unbounded).
  const uChar* p = reinterpret_cast<const uChar*>(td);
  uInt32 size = direction == kToMemoryOrder ? GetBE16(p) : GetNative16(p);
  int32 available = size == kTDSizeInHolder ? 0x7FFFFFFF : int32(size);
  return StandardizeTDBounded(td, direction, oldStrings, available);
}

MgErr TDStandardize(TypeDescriptor* td, int32 direction) { return StandardizeTDWalk(td, direction, 0); }

AutoRefStandardizeProc SetAutoRefStandardize(AutoRefStandardizeProc proc) { return gAutoRefProc.exchange(proc); }

MgErr AutoRefStandardize(void* refnumTD, int32 direction, int32 size) {
  if (AutoRefStandardizeProc p = gAutoRefProc.load()) return p(refnumTD, direction, size);
  return kAutoClientMissingErr;
}

// ---- Object-manager ids ---------------------------------------------------------------

uChar* CopyOMId(const uChar* omid) {
  if (!omid) return nullptr;
  int32 cls = int16(GetNative16(omid));
  int32 length;
  switch (cls) {
    case kRefnumNamed6:
    case kRefnumNamed10:
      length = 2 + omid[2] + 1;
      break;
    case kRefnumObject:
      if (int16(GetNative16(omid + 2)) == 2)
        length = 4 + GetNative16(omid + 4);
      else
        length = 6;
      break;
    default:
      return nullptr;
  }
  UPtr p = AZNewPClr(length);
  if (p) std::memcpy(p, omid, size_t(length));
  return p;
}

MgErr SwapRefnumTDBounded(uChar* omid, int32 direction, int32 available) {
  if (!omid || available < 2) return kArgErr;
  TDFields f(omid, uInt32(available), direction);
  int32 cls = 0;
  if (direction == kToMemoryOrder) {
    f.Sw16(0, &cls);
    if (cls != kRefnumObject) return kNoErr;
    int32 sub = 0;
    if (!f.Sw16(2, &sub)) return kArgErr;
    if (sub == 2) return StandardizeTDBounded(omid + 4, direction, 0, available - 4);
    // The int16 of the other subclasses is a number like any other.
    return f.Sw16(4) ? kNoErr : kArgErr;
  }
  cls = f.Peek16(0);
  if (cls == kRefnumObject) {
    if (!f.Has(2, 2)) return kArgErr;
    if (f.Peek16(2) == 2) {
      if (MgErr err = StandardizeTDBounded(omid + 4, direction, 0, available - 4)) return err;
    } else if (!f.Sw16(4)) {
      return kArgErr;
    }
    f.Sw16(2);
  }
  f.Sw16(0);
  return kNoErr;
}

MgErr SwapRefnumTD(uChar* omid, int32 direction) {
  if (!omid) return kArgErr;
  // Trusted: an id held in memory, bounded by its own nested TD.
  return SwapRefnumTDBounded(omid, direction, 0x7FFFFFFF);
}
