// Helpers of the flattened-data tests: byte strings, a stream over bytes for
// the stream reader, random TDs and valid flat data for any TD.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "data_test_util.h"
#include "engine/flatten.h"
#include "mgsource/byteorder.h"
#include "mgsource/extmath.h"
#include "mgsource/path.h"

namespace ftest {

using Bytes = std::vector<uChar>;

inline std::string Hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (uChar c : b) {
    std::snprintf(buf, sizeof buf, "%02X ", c);
    s += buf;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

// The flat form of a datum, through FlatSize and FlattenDataWalk.
inline Bytes Flat(const TypeDescriptor* td, const void* data, int32 flags = 0) {
  int32 size = FlatSizeWalk(td, data, flags);
  EXPECT_GE(size, 0);
  Bytes out(size_t(size > 0 ? size : 0) + 1, 0xEE);
  UPtr end = FlattenDataWalk(out.data(), td, data, flags);
  EXPECT_EQ(end - out.data(), size) << "flat size and written bytes differ";
  out.resize(size_t(size > 0 ? size : 0));
  return out;
}

// A handle (application zone) holding the bytes, as the memory reader's source.
struct Source {
  explicit Source(const Bytes& b) : h(AZNewHandle(int32(b.size()))) {
    if (!b.empty()) std::memcpy(*h, b.data(), b.size());
  }
  ~Source() { AZDisposeHandle(h); }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
  UHandle h;
};

// A stream over bytes; the check procedure measures what remains.
struct MemStream {
  explicit MemStream(const Bytes& b) : bytes(b) {}
  Bytes bytes;
  int32 pos = 0;
  int32 reads = 0;
  std::vector<int32> checks;
  MgErr failAt = 0;  // a read error returned once this many bytes were read (0: none)

  static MgErr Read(void* buf, int32 n, void* ctx) {
    MemStream* s = static_cast<MemStream*>(ctx);
    ++s->reads;
    if (n < 0) return kArgErr;
    if (s->failAt && s->pos + n > s->failAt) return 6;
    int32 left = int32(s->bytes.size()) - s->pos;
    if (n > left) {
      if (buf && left > 0) std::memcpy(buf, s->bytes.data() + s->pos, size_t(left));
      s->pos = int32(s->bytes.size());
      return kEOFErr;
    }
    if (buf && n > 0) std::memcpy(buf, s->bytes.data() + s->pos, size_t(n));
    s->pos += n;
    return kNoErr;
  }
  static MgErr Check(void* ctx, int32 n) {
    MemStream* s = static_cast<MemStream*>(ctx);
    s->checks.push_back(n);
    if (n <= int32(s->bytes.size()) - s->pos) return kNoErr;
    s->pos = int32(s->bytes.size());
    return kEOFErr;
  }
};

// Installs the stream check for a test and restores the default after it.
struct StreamCheck {
  StreamCheck() { SetFlatCheckAvailProc(&MemStream::Check); }
  ~StreamCheck() { SetFlatCheckAvailProc(nullptr); }
};

inline MgErr FromStream(MemStream& s, const TypeDescriptor* td, void* dst, int32 flags = 0) {
  return UnFlattenFromStream(td, dst, &MemStream::Read, &s, flags);
}

// The peak of the process's address space in KB: reservations that a reader
// should never have made show here even after they are released.
inline int64_t PeakKB() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmPeak:", 0) == 0) return std::stoll(line.substr(7));
  return -1;
}

// Random TDs, and valid flat data for any TD.
class Gen {
 public:
  explicit Gen(uint32_t seed) : rng_(seed) {}

  uint32_t Next(uint32_t n) { return n ? uint32_t(rng_() % n) : 0; }

  tdb::TD Type(int depth) {
    static const uChar kNumerics[] = {kTDI8,  kTDI16, kTDI32, kTDI64, kTDU8,  kTDU16, kTDU32,
                                      kTDU64, kTDSGL, kTDDBL, kTDEXT, kTDCSG, kTDCDB, kTDCXT};
    // Half the types with room for depth are compound.
    uint32_t pick = depth > 0 && Next(2) ? 14 + Next(5) : Next(14);
    switch (pick) {
      case 0: return tdb::Header(kNumerics[Next(14)]);
      case 1: return tdb::Boolean();
      case 2: {
        uint32_t form = Next(3);
        int32 bound = form == 0 ? kTDVariable : form == 1 ? int32(Next(6)) : TDFixed(int32(Next(6)));
        static const uChar kCodes[] = {kTDString, kTDString33, kTDString37};
        return tdb::StringOf(kCodes[Next(3)], bound);
      }
      case 3: return tdb::Handle(int16(Next(3)));
      case 4: return tdb::Path();
      case 5: return tdb::Enum(uChar(kTDEnumU8 + Next(3)), {"a", "bc", "def"});
      case 6: return tdb::Unit(uChar(kTDUnitSGL + Next(6)), {{1, 2}});
      case 7: return tdb::Variant();
      case 8: return tdb::Refnum(int16(3 + Next(2)));
      case 9: return tdb::Block(int32(Next(5)));
      case 10: return tdb::Header(kNumerics[Next(14)]).Named("n");
      case 11: return tdb::Void();
      case 12: return tdb::Boolean();
      case 13: return tdb::String();
      case 14: {
        // Arrays of 1 to 3 dimensions, each variable, bounded or fixed.
        std::vector<int32> dims;
        int32 n = 1 + int32(Next(3));
        for (int32 k = 0; k < n; ++k) {
          uint32_t form = Next(3);
          dims.push_back(form == 0 ? kTDVariable : form == 1 ? int32(Next(4)) : TDFixed(int32(Next(3))));
        }
        tdb::TD elem = Type(depth - 1);
        uChar c = SkipTypedefs(tdb::AsTD(elem.Bytes()))->code;
        if (c == kTDArray) elem = tdb::Cluster({elem});
        return tdb::Array(elem, dims);
      }
      case 15:
      case 16: {
        std::vector<tdb::TD> elems;
        int32 n = 1 + int32(Next(4));
        for (int32 i = 0; i < n; ++i) elems.push_back(Type(depth - 1));
        return tdb::Cluster(elems);
      }
      case 17: {
        std::vector<tdb::TD> elems;
        int32 n = 1 + int32(Next(3));
        for (int32 i = 0; i < n; ++i) elems.push_back(tdb::Cluster({tdb::I16(), Type(depth - 1)}));
        return tdb::Union(elems);
      }
      default: return tdb::Typedef("t", Type(depth - 1));
    }
  }

  // Valid flat data of the TD (memory order) under the flags; first, when
  // not negative, is the value of a leading 16-bit selector.
  void Flat(const TypeDescriptor* td, Bytes& out, int32 flags, int32 first = -1) {
    const uChar* t = reinterpret_cast<const uChar*>(SkipTypedefs(td));
    uChar c = t[2];
    bool old = (flags & kFlatOldBooleans) != 0;
    if (first >= 0 && (c == kTDI16 || c == kTDU16 || c == kTDEnumU16)) {
      Put16(out, uInt16(first));
      return;
    }
    switch (c) {
      case kTDVoid:
      case kTDTypeOnly:
        return;
      case kTDEXT: case kTDUnitEXT:
        Ext(out);
        return;
      case kTDCXT: case kTDUnitCXT:
        Ext(out);
        Ext(out);
        return;
      case kTDEnumU8: case kTDEnumU16: case kTDEnumU32: {
        int16 n;
        std::memcpy(&n, t + 4, 2);
        uInt32 v = Next(uint32_t(n));
        int32 w = c == kTDEnumU8 ? 1 : c == kTDEnumU16 ? 2 : 4;
        for (int32 i = w - 1; i >= 0; --i) out.push_back(uChar(v >> (8 * i)));
        return;
      }
      case kTDBoolean:
        if (old)
          Put16(out, Next(2) ? 0x8000 : 0);
        else
          out.push_back(uChar(Next(2)));
        return;
      case kTDString: case kTDString33: case kTDString37: {
        int32 field;
        std::memcpy(&field, t + 4, 4);
        int32 n = field == kTDVariable ? int32(Next(9)) : TDFieldIsFixed(field) ? (field & 0x7FFFFFFF)
                                                                               : int32(Next(uint32_t(field) + 1));
        Counted(out, n);
        return;
      }
      case kTDHandle:
        Counted(out, int32(Next(7)));
        return;
      case kTDPath:
        PathBytes(out);
        return;
      case kTDArray:
        ArrayBytes(t, out, flags);
        return;
      case kTDCluster: {
        int16 n;
        std::memcpy(&n, t + 4, 2);
        for (int32 i = 0; i < n; ++i) Flat(ElemTD(reinterpret_cast<const TypeDescriptor*>(t), i), out, flags,
                                           i == 0 ? first : -1);
        return;
      }
      case kTDUnion: {
        int16 n;
        std::memcpy(&n, t + 4, 2);
        int32 sel = int32(Next(uint32_t(n)));
        Flat(ElemTD(reinterpret_cast<const TypeDescriptor*>(t), sel), out, flags, sel);
        return;
      }
      case kTDVariant: {
        static const uInt16 kKinds[] = {0, 2, 3, 5, 11, 20};
        uInt16 kind = kKinds[Next(6)];
        out.push_back(uChar(kind));
        out.push_back(uChar(kind >> 8));
        for (int32 i = 2; i < 16; ++i) out.push_back(uChar(Next(256)));
        return;
      }
      default: {
        int32 n = FlatSizeWalk(td, nullptr, flags);
        for (int32 i = 0; i < n; ++i) out.push_back(uChar(Next(256)));
        return;
      }
    }
  }

 private:
  static void Put16(Bytes& out, uInt16 v) {
    out.push_back(uChar(v >> 8));
    out.push_back(uChar(v));
  }
  static void Put32(Bytes& out, uInt32 v) {
    for (int32 i = 3; i >= 0; --i) out.push_back(uChar(v >> (8 * i)));
  }
  void Counted(Bytes& out, int32 n) {
    Put32(out, uInt32(n));
    for (int32 i = 0; i < n; ++i) out.push_back(uChar('a' + Next(26)));
  }
  void Ext(Bytes& out) {
    floatExt x = (double(int32(Next(2000000))) - 1e6) / 64.0;
    uChar buf[kFlatExtendedSize];
    ExtNativeToBE(&x, buf);
    out.insert(out.end(), buf, buf + kFlatExtendedSize);
  }
  void PathBytes(Bytes& out) {
    if (Next(3) == 0) {
      uChar none[12] = {'P', 'T', 'H', '0', 0, 0, 0, 0, 0, 0, 0, 0};
      out.insert(out.end(), none, none + 12);
      return;
    }
    Path p = Next(2) ? FMakePath(nullptr, kAbsPath, "\001C", "\003dir", "\004file", nullptr)
                     : FMakePath(nullptr, kRelPath, "\002up", nullptr);
    ASSERT_NE(p, nullptr);
    int32 n = FFlattenPath(p, nullptr);
    Bytes b(static_cast<size_t>(n));
    FFlattenPath(p, b.data());
    FDisposePath(p);
    out.insert(out.end(), b.begin(), b.end());
  }
  void ArrayBytes(const uChar* t, Bytes& out, int32 flags) {
    int16 n;
    std::memcpy(&n, t + 4, 2);
    std::vector<int32> sizes;
    int64_t count = 1;
    for (int32 k = 0; k < n; ++k) {
      int32 f;
      std::memcpy(&f, t + 6 + 4 * k, 4);
      int32 s = f == kTDVariable ? int32(Next(4)) : TDFieldIsFixed(f) ? (f & 0x7FFFFFFF) : int32(Next(uint32_t(f) + 1));
      sizes.push_back(s);
      count *= s;
      Put32(out, uInt32(s));
    }
    const TypeDescriptor* elem = reinterpret_cast<const TypeDescriptor*>(t + 6 + 4 * n);
    if ((flags & kFlatOldBooleans) && SkipTypedefs(elem)->code == kTDBoolean) {
      int64_t rows = 1;
      for (int32 k = 0; k + 1 < n; ++k) rows *= sizes[size_t(k)];
      int32 last = n ? sizes[size_t(n - 1)] : 1;
      for (int64_t r = 0; r < rows; ++r)
        for (int32 j = 0; j < last; j += 16) {
          uInt16 w = 0;
          for (int32 b = 0; b < 16 && j + b < last; ++b)
            if (Next(2)) w = uInt16(w | (0x8000u >> b));
          Put16(out, w);
        }
      return;
    }
    for (int64_t i = 0; i < count; ++i) Flat(elem, out, flags);
  }

  std::mt19937 rng_;
};

}  // namespace ftest
