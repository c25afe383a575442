// Flattened data read from a stream through a read procedure: files, datalog
// records and connections.  The stream's length is not known up front, so
// every count and element area of 1 MB or more is first checked against what
// remains in the stream.
#include <atomic>
#include <climits>

#include "flat_internal.h"

namespace {

MgErr NoCheckAvail(void*, int32) { return kEOFErr; }

std::atomic<FlatCheckAvailProc> gCheckAvail{NoCheckAvail};

}  // namespace

FlatCheckAvailProc SetFlatCheckAvailProc(FlatCheckAvailProc proc) {
  return gCheckAvail.exchange(proc ? proc : NoCheckAvail);
}

MgErr FlatCheckAvail(void* context, int32 count) { return gCheckAvail.load()(context, count); }

namespace flat {
namespace {

constexpr int32 kSmallValue = 64;

class StreamReader {
 public:
  StreamReader(FlatReadProc proc, void* ctx, int32 flags) : proc_(proc), ctx_(ctx), flags_(flags) {}

  MgErr Read(const uChar* t, uChar* d);

 private:
  // Reads n bytes into buf, or skips them when buf is null.
  MgErr Get(void* buf, int64_t n);
  // The next two bytes, left in the stream.
  MgErr Peek2(uChar* two);
  // Asks whether the stream still holds this many bytes.
  MgErr CheckAvail(int64_t bytes);
  // Counts of 1 MB or more are first measured against the stream.
  MgErr CheckLarge(int64_t bytes) { return bytes < kFlatStreamCheckBytes ? kNoErr : CheckAvail(bytes); }
  // A count of bytes to follow: negative is 1, and large ones are measured.
  MgErr GetCount(int32* count);
  MgErr ReadFixed(const uChar* t, uChar* d, int32 size);
  MgErr ReadString(const uChar* t, uChar* d);
  MgErr ReadHandle(uChar* d);
  MgErr ReadPath(uChar* d);
  MgErr ReadUnion(const uChar* t, uChar* d);
  MgErr ReadArray(const uChar* t, uChar* d);
  MgErr ReadDense(const ArrayTD& a, const int32* sizes, int32 count, UHandle* hp);
  MgErr ReadReshaped(const ArrayTD& a, const int32* flatSizes, const int32* dstSizes, UHandle h);
  MgErr UnpackInPlace(const ArrayTD& a, const Packed& g, UHandle* hp);

  FlatReadProc proc_;
  void* ctx_;
  int32 flags_;
  uChar back_[2];
  int32 nback_ = 0;
};

MgErr StreamReader::Get(void* buf, int64_t n) {
  uChar* p = static_cast<uChar*>(buf);
  while (n > 0 && nback_ > 0) {
    if (p) *p++ = back_[0];
    back_[0] = back_[1];
    --nback_;
    --n;
  }
  while (n > 0) {
    int32 part = n > INT32_MAX ? INT32_MAX : int32(n);
    if (MgErr err = proc_(p, part, ctx_)) return err;
    if (p) p += part;
    n -= part;
  }
  return kNoErr;
}

MgErr StreamReader::Peek2(uChar* two) {
  while (nback_ < 2) {
    if (MgErr err = proc_(back_ + nback_, 1, ctx_)) return err;
    ++nback_;
  }
  two[0] = back_[0];
  two[1] = back_[1];
  return kNoErr;
}

MgErr StreamReader::CheckAvail(int64_t bytes) {
  bytes -= nback_;
  if (bytes <= 0) return kNoErr;
  return FlatCheckAvail(ctx_, bytes > INT32_MAX ? INT32_MAX : int32(bytes));
}

MgErr StreamReader::GetCount(int32* count) {
  uChar word[4];
  if (MgErr err = Get(word, 4)) return err;
  *count = int32(GetBE32(word));
  if (*count < 0) return kArgErr;
  return CheckLarge(*count);
}

// A datum whose flat size never varies: read whole, then converted by the
// memory reader.
MgErr StreamReader::ReadFixed(const uChar* t, uChar* d, int32 size) {
  if (size == 0) return kNoErr;
  if (!d) return Get(nullptr, size);
  uChar small[kSmallValue];
  uChar* buf = small;
  if (size > kSmallValue) {
    if (MgErr err = CheckLarge(size)) return err;
    buf = DSNewPtr(size);
    if (!buf) return kMemFullErr;
  }
  MgErr err = Get(buf, size);
  if (!err && ReadMem(buf, t, d, size, flags_) > size) err = kArgErr;
  if (buf != small) DSDisposePtr(buf);
  return err;
}

MgErr StreamReader::Read(const uChar* t, uChar* d) {
  t = Skip(t);
  uChar c = Code(t);
  if (int32 s = ScalarFlatSize(c, flags_)) return ReadFixed(t, d, s);
  switch (c) {
    case kTDVoid:
    case kTDTypeOnly:
      return kNoErr;
    case kTDString: case kTDString33: case kTDString37:
      return ReadString(t, d);
    case kTDHandle:
      return ReadHandle(d);
    case kTDPath:
      return ReadPath(d);
    case kTDStringView:
    case kTDArrayView:
      return kArgErr;
    case kTDArray:
      return ReadArray(t, d);
    case kTDCluster: {
      int32 k = ConstSize(t, flags_);
      bool unions = false;
      dm::ForFields(t, [&](const TypeDescriptor* el, int32, int32) {
        unions = Code(Skip(B(el))) == kTDUnion;
        return !unions;
      });
      if (k >= 0 && !unions) return ReadFixed(t, d, k);
      MgErr err = kNoErr;
      dm::ForFields(t, [&](const TypeDescriptor* el, int32 off, int32) {
        err = Read(B(el), d ? d + off : nullptr);
        return err == kNoErr;
      });
      return err;
    }
    case kTDUnion:
      return ReadUnion(t, d);
    case kTDVariant:
      return ReadFixed(t, d, kVariantDataSize);
    case kTDFunction:
      DATA_ASSERT("unflattening a function TD");
      return kNoErr;
    default: {
      int32 n = DataSize(T(t));
      if (n <= 0) return kNoErr;
      if (MgErr err = CheckLarge(n)) return err;
      return Get(d, n);
    }
  }
}

MgErr StreamReader::ReadString(const uChar* t, uChar* d) {
  int32 c;
  if (MgErr err = GetCount(&c)) return err;
  if (!d) return Get(nullptr, c);
  int32 field = LoadI32(t + 4);
  LStrHandle h = reinterpret_cast<LStrHandle>(LoadH(d));
  UHandle uh = reinterpret_cast<UHandle>(h);
  if (field == kTDVariable) {
    if (c > INT32_MAX - 4) return kMemFullErr;
    if (!h) {
      uh = DSNewHandle(4 + c);
      if (!uh) return kMemFullErr;
      StoreH(d, uh);
      h = reinterpret_cast<LStrHandle>(uh);
      (*h)->cnt = 0;
    } else {
      (*h)->cnt = 0;
      if (DSSetHandleSize(uh, 4 + c) != kNoErr) return kMemFullErr;
    }
    if (MgErr err = Get((*h)->str, c)) return err;
    (*h)->cnt = c;
    return kNoErr;
  }
  int32 bound = field & 0x7FFFFFFF;
  if (bound > INT32_MAX - 4) return kMemFullErr;
  if (!h) {
    h = dm::NewEmptyString(field);
    if (!h) return kMemFullErr;
    StoreH(d, h);
  } else if (DSGetHandleSize(uh) != 4 + bound && DSSetHSzClr(uh, 4 + bound) != kNoErr) {
    return kMemFullErr;
  }
  int32 m = c < bound ? c : bound;
  if (!TDFieldIsFixed(field)) (*h)->cnt = 0;
  if (MgErr err = Get((*h)->str, m)) return err;
  dm::SetBoundedCount(h, field, m);
  return Get(nullptr, int64_t(c) - m);
}

MgErr StreamReader::ReadHandle(uChar* d) {
  int32 c;
  if (MgErr err = GetCount(&c)) return err;
  if (!d) return Get(nullptr, c);
  UHandle h = LoadH(d);
  if (!h) {
    h = AZNewHandle(c);
    if (!h) return kMemFullErr;
    StoreH(d, h);
  } else if (AZSetHandleSize(h, c) != kNoErr) {
    return kMemFullErr;
  }
  return Get(*h, c);
}

MgErr StreamReader::ReadPath(uChar* d) {
  uChar head[kFlatPathHeader];
  if (MgErr err = Get(head, kFlatPathHeader)) return err;
  if (std::memcmp(head, "PTH0", 4) != 0) return kArgErr;
  int32 len = int32(GetBE32(head + 4));
  if (len < 0) return kArgErr;
  if (len == 0) {
    // The form of no path: four bytes more, and a null path.
    if (MgErr err = Get(nullptr, 4)) return err;
    if (!d) return kNoErr;
    if (Path p = reinterpret_cast<Path>(LoadH(d))) FDisposePath(p);
    StoreH(d, nullptr);
    return kNoErr;
  }
  if (MgErr err = CheckLarge(len)) return err;
  if (!d) return Get(nullptr, len);
  if (len < 4 || len > INT32_MAX - kFlatPathHeader) return kArgErr;
  UPtr flat = DSNewPtr(kFlatPathHeader + len);
  if (!flat) return kMemFullErr;
  std::memcpy(flat, head, kFlatPathHeader);
  MgErr err = Get(flat + kFlatPathHeader, len);
  if (!err) {
    Path p = reinterpret_cast<Path>(LoadH(d));
    int32 used = FUnFlattenPathData(flat, &p, kFlatPathHeader + len);
    if (used == kFlatPathHeader + len)
      StoreH(d, p);
    else
      err = kArgErr;
  }
  DSDisposePtr(flat);
  return err;
}

MgErr StreamReader::ReadUnion(const uChar* t, uChar* d) {
  uChar two[2];
  if (MgErr err = Peek2(two)) return err;
  int32 sel = int16(GetBE16(two));
  if (sel < 0 || sel >= LoadI16(t + 4)) {
    // Bad data: the selector is taken from the stream like any other bytes
    // before the failure, so the stream stands after it.
    Get(nullptr, 2);
    return kArgErr;
  }
  // Another element with handles goes before the new one is made.
  if (d) {
    if (MgErr err = dm::SwitchUnionElement(T(t), d, sel)) return err;
  }
  return Read(B(ElemTD(T(t), sel)), d);
}

MgErr StreamReader::ReadArray(const uChar* t, uChar* d) {
  ArrayTD a = ArrayOf(t, flags_);
  int32 n = a.rank;
  dm::RankBuffer buf(2 * n);
  if (!buf.ok()) return kMemFullErr;
  int32* sizes = buf.get();
  int32* dst = sizes + n;
  if (MgErr err = Get(sizes, 4 * int64_t(n))) return err;
  for (int32 k = 0; k < n; ++k) {
    sizes[k] = int32(GetBE32(sizes + k));
    if (sizes[k] < 0) return kArgErr;
  }
  int32 count = NArrayElts(n, sizes);
  if (count < 0) return kArgErr;
  int32 bound = ArrayTDBoundElts(T(a.t));
  if (bound == INT32_MIN) return kArgErr;
  // Elements that would take more memory than their flat bytes justify are
  // refused before anything is made for them.
  if (count > 0 && bound == -1 && !ElementMemoryFits(a.elem, flags_)) return kArgErr;
  // An element area of 1 MB or more is made only for a stream that holds at
  // least the fewest bytes the elements flatten to.
  Packed g = PackedOf(n, sizes);
  int64_t least = a.oldBools ? 2 * g.words : SatMul(count, LeastSize(a.elem, flags_));
  int64_t area = a.oldBools && 2 * g.words > count ? 2 * g.words : SatMul(count, a.elemSize);
  if (area >= kFlatStreamCheckBytes || least >= kFlatStreamCheckBytes) {
    if (MgErr err = CheckAvail(least)) return err;
  }
  if (!d) return ReadDense(a, sizes, count, nullptr);
  UHandle h = LoadH(d);
  if (bound != -1) {
    bool same;
    // A destination without the room of its type is refused as memory full.
    if (PrepareBoundArray(a, bound, sizes, d, dst, &same) != kNoErr) return kMemFullErr;
    h = LoadH(d);
    if (!same) return ReadReshaped(a, sizes, dst, h);
    // The elements go straight into the room; an in-place unpacking of packed
    // booleans needs room for the words, which a fixed array does not have.
    if (a.oldBools && 2 * g.words > int64_t(count)) return ReadReshaped(a, sizes, dst, h);
    return ReadDense(a, sizes, count, &h);
  }
  bool anySize = false;
  for (int32 k = 0; k < n; ++k) anySize = anySize || sizes[k] != 0;
  if (ArrayResizeElts(T(a.elem), n, &h, count == 0 && anySize ? -1 : count) != kNoErr) return kMemFullErr;
  StoreH(d, h);
  if (n) std::memcpy(*h, sizes, size_t(n) * 4);
  MgErr err = ReadDense(a, sizes, count, &h);
  StoreH(d, h);
  return err;
}

MgErr StreamReader::ReadDense(const ArrayTD& a, const int32* sizes, int32 count, UHandle* hp) {
  if (count == 0) return kNoErr;
  UHandle h = hp ? *hp : nullptr;
  if (a.oldBools) {
    Packed g = PackedOf(a.rank, sizes);
    if (!h) return Get(nullptr, 2 * g.words);
    return UnpackInPlace(a, g, hp);
  }
  int32 cls = EltClass(a.elem, flags_);
  if (cls >= 1) {
    int64_t bytes = int64_t(count) * cls;
    if (!h) return Get(nullptr, bytes);
    uChar* e = *h + a.header;
    if (MgErr err = Get(e, bytes)) return err;
    int32 unit, parts;
    if (cls == 1) {
      if (IsEnumCode(Code(a.base)))
        for (int32 i = 0; i < count; ++i) ClampEnum(a.base, e + i);
    } else if (NumericUnits(Code(a.base), &unit, &parts)) {
      GetElements(a, unit, parts, e, e, count);
    } else {
      // Flat clusters whose bytes in memory are their flat bytes: each is
      // converted where it lies.
      for (int32 i = 0; i < count; ++i) {
        uChar* x = e + int64_t(i) * cls;
        ReadMem(x, a.elem, x, cls, flags_);
      }
    }
    return kNoErr;
  }
  for (int32 i = 0; i < count; ++i) {
    uChar* e = h ? *h + a.header + int64_t(i) * a.elemSize : nullptr;
    if (MgErr err = Read(a.elem, e)) return err;
    // Elements without data and without flat bytes all read alike.
    if (a.elemSize == 0) break;
  }
  return kNoErr;
}

// Reads the packed words into the element area and spreads them to one byte
// per boolean where they lie.
MgErr StreamReader::UnpackInPlace(const ArrayTD& a, const Packed& g, UHandle* hp) {
  UHandle h = *hp;
  int64_t elems = g.rows * g.last;
  int64_t wordBytes = 2 * g.words;
  bool grown = wordBytes > elems;
  if (grown && (a.header + wordBytes > INT32_MAX || DSSetHandleSize(h, int32(a.header + wordBytes)) != kNoErr))
    return kMemFullErr;
  uChar* e = *h + a.header;
  MgErr err = Get(e, wordBytes);
  if (!err) {
    for (int64_t w = 0; w < g.words; ++w) PutNative16(e + 2 * w, GetBE16(e + 2 * w));
    if (g.last == 1) {
      // One word per element: each word's top bit, going forwards.
      for (int64_t i = 0; i < elems; ++i) e[i] = (GetNative16(e + 2 * i) & 0x8000) != 0;
    } else if (g.last == 2) {
      // One word per two elements: its two top bits, going forwards.
      for (int64_t i = 0; i < g.words; ++i) {
        uInt16 w = GetNative16(e + 2 * i);
        e[2 * i] = (w & 0x8000) != 0;
        e[2 * i + 1] = (w & 0x4000) != 0;
      }
    } else {
      // Backwards from the last element: each word is fetched when its last
      // element is reached, before that element's byte (the highest position
      // the word still needs) is written.
      uInt16 w = 0;
      for (int64_t r = g.rows - 1; r >= 0; --r) {
        for (int32 j = g.last - 1; j >= 0; --j) {
          if (j == g.last - 1 || (j & 15) == 15) w = GetNative16(e + 2 * (r * g.wpr + (j >> 4)));
          e[r * g.last + j] = (w >> (15 - (j & 15))) & 1;
        }
      }
    }
  }
  if (grown) {
    // Back to one byte per element (shrinking cannot fail).
    DSSetHandleSize(h, int32(a.header + elems));
  }
  if (err) std::memset(*h + a.header, 0, size_t(elems));
  return err;
}

MgErr StreamReader::ReadReshaped(const ArrayTD& a, const int32* flatSizes, const int32* dstSizes, UHandle h) {
  uInt16 word = 0;
  MgErr err = kNoErr;
  bool ok = ForFlatShape(a, flatSizes, dstSizes, h, [&](int32, uChar* e, int32 j) {
    if (a.oldBools) {
      // Each row starts a new word.
      if ((j & 15) == 0) {
        uChar two[2];
        if ((err = Get(two, 2)) != kNoErr) return false;
        word = GetBE16(two);
      }
      if (e) *e = (word >> (15 - (j & 15))) & 1;
      return true;
    }
    err = Read(a.elem, e);
    // Elements without data and without flat bytes all read alike.
    return err == kNoErr && a.elemSize != 0;
  });
  if (!ok) return kMemFullErr;
  if (err) return err;
  return ResetOutside(a, flatSizes, dstSizes, h);
}

}  // namespace
}  // namespace flat

using namespace flat;

MgErr UnFlattenFromStream(const TypeDescriptor* td, void* dst, FlatReadProc read, void* context, int32 flags) {
  if (!td || !read) return kArgErr;
  StreamReader r(read, context, flags);
  uChar* d = static_cast<uChar*>(dst);
  MgErr err = r.Read(B(td), d);
  if (err && d) EmptyData(td, d, d + DataSize(td));
  return err;
}
