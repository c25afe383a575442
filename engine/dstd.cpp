// Descriptors of the data-space entries that the panel classes allocate:
// a control's record, numeric ranges, array and table state, ring items,
// listbox, scale and graph state and the graph image.
//
// Each builder runs twice over one emitter: first counting the bytes, then
// writing them into a new application-zone handle of exactly that size.
#include <cstring>

#include "engine/dsalloc.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

namespace {

// Writes descriptors (or, without a buffer, counts their bytes).  Clusters
// count their elements as they are written.
class TDOut {
 public:
  explicit TDOut(uChar* buf) : b_(buf) {}
  int32 Length() const { return n_; }
  bool TooLong() const { return tooLong_ || n_ >= 0xFFFF; }

  // Frequent shapes.
  void Scalar(uChar code) { Close(Open(code)); }
  void Scalars(uChar code, int32 n) {
    for (int32 i = 0; i < n; ++i) Scalar(code);
  }
  void NamedScalar(uChar code, const char* name) {
    int32 at = Open(code, kTDFlagName);
    Name(name);
    Close(at);
  }
  void String() {
    int32 at = Open(kTDString);
    I32(kTDVariable);
    Close(at);
  }
  template <typename Elem>
  void Array(int32 dims, Elem elem, int32 dimField = kTDVariable) {
    int32 at = Open(kTDArray);
    I16(dims);
    for (int32 i = 0; i < dims; ++i) I32(dimField);
    Nested(elem);
    Close(at);
  }
  // A cluster of what elems writes, named when a name is given.
  template <typename Elems>
  void Cluster(Elems elems, ConstPStr name = nullptr) {
    int32 at = Open(kTDCluster, name ? kTDFlagName : 0);
    int32 countAt = n_;
    I16(0);
    int32 count = Nested(elems);
    if (b_) PutNative16(b_ + countAt, uInt16(count));
    if (name) Name(name);
    Close(at);
  }
  // A copy of a descriptor as it is.
  void Copy(const TypeDescriptor* td, int32 size) {
    Counted();
    Bytes(td, size);
  }
  // The plain form of td (StripTD, of `stripped` bytes), named and flagged.
  void PlainCopy(const TypeDescriptor* td, int32 stripped, const char* name, uChar flags) {
    Counted();
    int32 at = n_;
    if (b_) StripTD(td, reinterpret_cast<TypeDescriptor*>(b_ + at));
    n_ += stripped;
    Name(name);
    if (b_) b_[at + 3] |= uChar(kTDFlagName | flags);
    Close(at);
  }

 private:
  void Byte(uChar v) {
    if (b_) b_[n_] = v;
    n_ += 1;
  }
  void I16(int32 v) {
    if (b_) PutNative16(b_ + n_, uInt16(v));
    n_ += 2;
  }
  void I32(int32 v) {
    if (b_) PutNative32(b_ + n_, uInt32(v));
    n_ += 4;
  }
  void Bytes(const void* p, int32 count) {
    if (b_ && count > 0) std::memcpy(b_ + n_, p, size_t(count));
    n_ += count;
  }
  // A Pascal string padded to an even length.
  void Name(ConstPStr s) {
    int32 len = s[0];
    Bytes(s, len + 1);
    if ((len + 1) & 1) Byte(0);
  }
  void Name(const char* s) {
    uChar p[256];
    p[0] = uChar(std::strlen(s));
    std::memcpy(p + 1, s, p[0]);
    Name(p);
  }
  void Counted() { ++count_; }
  // Runs inner with a fresh element count; returns that count.
  template <typename Inner>
  int32 Nested(Inner inner) {
    int32 outer = count_;
    count_ = 0;
    inner();
    int32 n = count_;
    count_ = outer;
    return n;
  }
  // A descriptor is opened with its code and flags and closed once its parts
  // are written, which fixes its size word.
  int32 Open(uChar code, uChar flags = 0) {
    Counted();
    int32 at = n_;
    I16(0);
    Byte(code);
    Byte(flags);
    return at;
  }
  void Close(int32 at) {
    if (n_ - at >= 0xFFFF) tooLong_ = true;
    if (b_) PutNative16(b_ + at, uInt16(n_ - at));
  }

  uChar* b_;
  int32 n_ = 0;
  int32 count_ = 0;
  bool tooLong_ = false;
};

// Runs the emitter once to count and once to write into a new handle.
template <typename Emit>
UHandle Build(Emit emit) {
  TDOut count(nullptr);
  emit(count);
  if (count.TooLong()) return nullptr;
  UHandle h = AZNewHClr(count.Length());
  if (!h) return nullptr;
  TDOut out(*h);
  emit(out);
  return h;
}

const uChar* Bytes(const TypeDescriptor* td) { return reinterpret_cast<const uChar*>(td); }

}  // namespace

UHandle FPDCODataTD(const TypeDescriptor* controlTD) {
  if (!controlTD) return nullptr;
  int32 stripped = StripTD(controlTD, nullptr);
  if (stripped < 4 || stripped + 4 >= 0xFFFF) return nullptr;
  ConstPStr name = TDNamePtr(controlTD);
  static const char* const kCopies[] = {"opd", "dfd", "exd", "txd", "old"};
  static const uChar kUdf[] = "\003udf";
  UHandle h = Build([&](TDOut& o) {
    o.Cluster(
        [&] {
          o.Cluster(
              [&] {
                o.NamedScalar(kTDU32, "flags");
                o.NamedScalar(kTDU32, "opRights");
                o.NamedScalar(kTDU32, "execOnlyFlags");
              },
              kUdf);
          for (const char* copy : kCopies) o.PlainCopy(controlTD, stripped, copy, kDSEntryPrivate);
        },
        name);
  });
  if (!h) return nullptr;
  QX_ASSERT(DataSize(reinterpret_cast<const TypeDescriptor*>(*h + 6)) == kFPDCOFlagsDataSize);
  return h;
}

UHandle NumRangeTD(const TypeDescriptor* td) {
  if (!td) return nullptr;
  const uChar* t = Bytes(SkipTypedefs(td));
  uChar code = t[2];
  if (code == kTDCluster) {
    if (int16(GetNative16(t + 4)) < 1) return nullptr;
    code = Bytes(SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(t + 6)))[2];
  }
  code = uChar(code & ~0x10);
  if (code < kTDI8 || code > kTDCXT) return nullptr;
  return Build([&](TDOut& o) { o.Cluster([&] { o.Scalars(code, 3); }); });
}

UHandle ArrayCtlDataTD(const TypeDescriptor* elemTD, int32 nDims) {
  if (!elemTD || nDims < 0) return nullptr;
  int32 elemSize = elemTD->size;
  if (elemSize < 4 || elemSize == kTDSizeInHolder) return nullptr;
  return Build([&](TDOut& o) {
    o.Cluster([&] {
      for (int32 i = 0; i < 3; ++i) o.Array(1, [&] { o.Scalar(kTDI32); }, TDFixed(nDims));
      o.Copy(elemTD, elemSize);
    });
  });
}

UHandle TableCtlDataTD(const TypeDescriptor* arrayTD) {
  if (!arrayTD) return nullptr;
  const uChar* a = Bytes(SkipTypedefs(arrayTD));
  if (a[2] != kTDArray) return nullptr;
  int32 dims = int16(GetNative16(a + 4));
  if (dims < 0) return nullptr;
  const uChar* elem = a + 6 + 4 * dims;
  int32 elemSize = GetNative16(elem);
  if (elemSize < 4 || 6 + 4 * dims + elemSize > GetNative16(a)) return nullptr;
  UHandle h = Build([&](TDOut& o) {
    o.Cluster([&] {
      o.Cluster([&] {
        o.Scalars(kTDI32, 8);
        o.Scalar(kTDU32);
        o.Array(1, [&] { o.String(); });
        o.Array(1, [&] { o.String(); });
        o.Scalars(kTDI32, 2);
        o.Array(1, [&] { o.Cluster([&] { o.Scalars(kTDI32, 10); }); });
        o.String();
      });
      o.Copy(reinterpret_cast<const TypeDescriptor*>(elem), elemSize);
    });
  });
  if (h) QX_ASSERT(DataSize(reinterpret_cast<const TypeDescriptor*>(*h + 6)) == kTableStateDataSize);
  return h;
}

UHandle RingItemsTD() {
  return Build([](TDOut& o) { o.Cluster([&] { o.Array(1, [&] { o.Scalar(kTDU32); }); }); });
}

UHandle ListboxCtlDataTD() {
  return Build([](TDOut& o) {
    o.Cluster([&] {
      o.Scalar(kTDU16);
      o.Scalar(kTDI16);
      o.Array(1, [&] {
        o.Cluster([&] {
          o.Scalars(kTDU32, 2);
          o.String();
        });
      });
    });
  });
}

UHandle ScaleCtlDataTD() {
  return Build([](TDOut& o) {
    o.Cluster([&] {
      o.Scalars(kTDDBL, 9);
      o.Scalars(kTDI16, 6);
      o.Scalars(kTDU32, 2);
      o.Array(1, [&] {
        o.Cluster([&] {
          o.Scalar(kTDDBL);
          o.Scalar(kTDU32);
        });
      });
    });
  });
}

UHandle GraphStateTD() {
  return Build([](TDOut& o) {
    o.Cluster([&] {
      // The plot records.
      o.Array(1, [&] {
        o.Cluster([&] {
          o.Scalar(kTDI32);
          o.Scalars(kTDI16, 6);
          o.String();
          o.Scalar(kTDI32);
          for (int32 i = 0; i < 6; ++i) o.Array(1, [&] { o.Scalar(kTDI16); });
          o.Scalars(kTDU32, 2);
          o.Scalars(kTDI16, 2);
        });
      });
      o.Scalars(kTDI32, 2);
      o.Cluster([&] { o.Scalars(kTDBoolean, 4); });
      // The cursor-like records.
      o.Array(1, [&] {
        o.Cluster([&] {
          o.Scalars(kTDU32, 4);
          o.String();
          o.Scalars(kTDDBL, 3);
          o.Scalar(kTDU32);
          o.Scalars(kTDI16, 2);
          o.Scalars(kTDU32, 2);
          o.Scalars(kTDI16, 4);
          o.Scalars(kTDBoolean, 3);
        });
      });
      o.Scalars(kTDI32, 2);
      o.Scalars(kTDDBL, 4);
    });
  });
}

UHandle GraphImageTD() {
  return Build([](TDOut& o) {
    o.Cluster([&] {
      o.Array(1, [&] { o.Scalar(kTDU32); });
      o.Array(2, [&] { o.Scalar(kTDU8); });
      o.Cluster([&] { o.Scalars(kTDU32, 4); });
    });
  });
}
