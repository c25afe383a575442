// Random type descriptors built from the input, data of them filled with
// random values, then every data operation on them: empty values, deep
// copies and copies with conversion into the same type (which must succeed
// and equal their source, into fresh, null and full destinations alike),
// copies with conversion into a perturbed type, reset (which must succeed),
// empty, reclaim, release over cut ranges and the array kernels.  Every
// buffer has exactly its datum's size, and no handle may be left behind.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "mgsource/debug.h"
#include "fuzz_support.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"
#include "tools/tdbuilder.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

class Input {
 public:
  Input(const uint8_t* d, size_t n) : d_(d), n_(n) {}
  uint32_t Byte() { return pos_ < n_ ? d_[pos_++] : 0; }
  int32 Range(int32 lo, int32 hi) { return lo + int32(Byte() % uint32_t(hi - lo + 1)); }
  bool Flag() { return Byte() & 1; }
  size_t pos() const { return pos_; }

 private:
  const uint8_t* d_;
  size_t n_;
  size_t pos_ = 0;
};

// ---- Types ------------------------------------------------------------------------

const uChar kNumerics[] = {kTDI8, kTDI16, kTDI32, kTDI64, kTDU8, kTDU16, kTDU32, kTDU64,
                           kTDSGL, kTDDBL, kTDEXT, kTDCSG, kTDCDB, kTDCXT};

// A bound or dimension field: variable, bounded or fixed, small.
int32 Field(Input& in) {
  switch (in.Range(0, 2)) {
    case 0: return kTDVariable;
    case 1: return in.Range(0, 4);
    default: return TDFixed(in.Range(0, 3));
  }
}

// The same choices give the same shape; a perturbed build picks other
// numeric codes and bound fields from the same bytes.
tdb::TD Build(Input& in, int depth, bool perturb) {
  int kinds = depth >= 3 ? 6 : 13;
  int k = in.Range(0, kinds - 1);
  uint32_t alt = in.Byte();
  auto field = [&]() {
    int32 f = Field(in);
    return perturb && (alt & 2) ? (f == kTDVariable ? 3 : kTDVariable) : f;
  };
  switch (k) {
    case 0:
    case 1: {
      uChar c = kNumerics[in.Range(0, 13)];
      if (perturb) c = kNumerics[(c + alt) % 14];
      return tdb::Header(c);
    }
    case 2: return tdb::Boolean();
    case 3: return tdb::StringOf(alt & 1 ? kTDString37 : kTDString, field());
    case 4: {
      int n = in.Range(1, 3);
      std::vector<std::string> items;
      for (int i = 0; i < n; ++i) items.push_back(std::string(1, char('a' + (in.Byte() + (perturb ? alt : 0)) % 4)));
      return tdb::Enum(alt & 4 ? kTDEnumU8 : kTDEnumU16, items);
    }
    case 5: return in.Flag() ? tdb::Block(in.Range(0, 5)) : tdb::Refnum(int16(in.Range(2, 4)));
    case 6: return tdb::Path();
    case 7: return tdb::Handle();
    case 8:
    case 9: {
      int rank = in.Range(1, 3);
      std::vector<int32> dims;
      for (int i = 0; i < rank; ++i) dims.push_back(field());
      return tdb::Array(Build(in, depth + 1, perturb), dims);
    }
    case 10: {
      int n = in.Range(0, 4);
      std::vector<tdb::TD> elems;
      for (int i = 0; i < n; ++i) elems.push_back(Build(in, depth + 1, perturb));
      return tdb::Cluster(elems);
    }
    case 11: {
      int n = in.Range(1, 3);
      std::vector<tdb::TD> elems;
      for (int i = 0; i < n; ++i) elems.push_back(tdb::Cluster({tdb::I16(), Build(in, depth + 1, perturb)}));
      return tdb::Union(elems);
    }
    default:
      return in.Flag() ? tdb::Typedef("t", Build(in, depth + 1, perturb)) : tdb::Variant();
  }
}

// ---- Values -----------------------------------------------------------------------

const uChar* Inner(const uChar* t) { return reinterpret_cast<const uChar*>(SkipTypedefs(reinterpret_cast<const TypeDescriptor*>(t))); }
const TypeDescriptor* TD(const uChar* t) { return reinterpret_cast<const TypeDescriptor*>(t); }
int16 I16(const uChar* p) {
  int16 v;
  std::memcpy(&v, p, 2);
  return v;
}
int32 I32(const uChar* p) {
  int32 v;
  std::memcpy(&v, p, 4);
  return v;
}
UHandle H(const uChar* p) {
  UHandle h;
  std::memcpy(&h, p, 4);
  return h;
}
const uChar* ArrayElem(const uChar* t) { return t + 6 + 4 * I16(t + 4); }

template <typename Fn>
void Fields(const uChar* t, Fn fn) {
  int32 n = I16(t + 4);
  const uChar* e = t + 6;
  int32 off = 0;
  for (int32 i = 0; i < n; ++i) {
    off = AlignDatum(TD(e), off);
    fn(e, off);
    off += DataSize(TD(e));
    uInt16 sz;
    std::memcpy(&sz, e, 2);
    e += sz;
  }
}

const TypeDescriptor* UnionElem(const uChar* t, int32 i) { return ElemTD(TD(t), i); }

// Elements that hold data in an array handle: for arrays whose dimensions
// are all fixed or bounded all that the handle holds, else its sizes' count.
int32 Live(const uChar* t, UHandle h) {
  if (!h) return 0;
  int32 rank = I16(t + 4);
  const uChar* e = ArrayElem(t);
  int32 es = DataSize(TD(e));
  if (es == 0) return 0;
  int32 cap = (DSGetHandleSize(h) - AlignDatum(TD(e), 4 * rank)) / es;
  if (ArrayTDBoundElts(TD(t)) != -1) return cap;
  int32 n = NArrayElts(rank, reinterpret_cast<const int32*>(*h));
  return n < cap ? n : cap;
}

void Fill(Input& in, const uChar* t, uChar* d) {
  t = Inner(t);
  uChar c = t[2];
  switch (c) {
    case kTDString:
    case kTDString37: {
      LStrHandle h = reinterpret_cast<LStrHandle>(H(d));
      int32 bound = I32(t + 4);
      int32 n = in.Range(0, 6);
      if (bound == kTDVariable) {
        LStrHandle src = reinterpret_cast<LStrHandle>(DSNewHandle(4 + n));
        if (!src) return;
        (*src)->cnt = n;
        for (int32 i = 0; i < n; ++i) (*src)->str[i] = uChar('a' + in.Range(0, 25));
        CopyString(src, &h);
        std::memcpy(d, &h, 4);
        DSDisposeHandle(reinterpret_cast<UHandle>(src));
      } else if (h && DSGetHandleSize(reinterpret_cast<UHandle>(h)) == 4 + (bound & 0x7FFFFFFF)) {
        int32 cap = bound & 0x7FFFFFFF;
        if (n > cap) n = cap;
        for (int32 i = 0; i < n; ++i) (*h)->str[i] = uChar('A' + in.Range(0, 25));
        (*h)->cnt = TDFieldIsFixed(bound) ? cap : n;
      }
      return;
    }
    case kTDPath: {
      if (!in.Flag()) return;
      char comp[3] = {1, char('a' + in.Range(0, 9)), 0};
      Path p = FMakePath(reinterpret_cast<Path>(H(d)), kAbsPath, "\001C", comp, nullptr);
      if (p) std::memcpy(d, &p, 4);
      return;
    }
    case kTDHandle: {
      UHandle h = H(d);
      if (h && AZSetHandleSize(h, in.Range(0, 5)) == kNoErr)
        for (int32 i = 0; i < AZGetHandleSize(h); ++i) (*h)[i] = uChar(in.Byte());
      return;
    }
    case kTDArray: {
      UHandle h = H(d);
      int32 rank = I16(t + 4);
      const uChar* e = ArrayElem(t);
      int32 header = AlignDatum(TD(e), 4 * rank);
      int32 es = DataSize(TD(e));
      if (ArrayTDBoundElts(TD(t)) == -1) {
        std::vector<int32> sizes;
        for (int32 k = 0; k < rank; ++k) sizes.push_back(in.Range(0, 3));
        int32* list = sizes.data();
        if (ArrayResize(TD(e), rank, &h, &list) != kNoErr) return;
        std::memcpy(d, &h, 4);
      } else if (h) {
        // Sizes inside the bounds, elements all through the room.
        for (int32 k = 0; k < rank; ++k) {
          int32 f;
          std::memcpy(&f, t + 6 + 4 * k, 4);
          int32 s = TDFieldIsFixed(f) ? (f & 0x7FFFFFFF) : in.Range(0, f);
          std::memcpy(*h + 4 * k, &s, 4);
        }
      }
      int32 n = Live(t, h);
      for (int32 i = 0; i < n; ++i) Fill(in, e, *h + header + i * es);
      return;
    }
    case kTDCluster:
      Fields(t, [&](const uChar* e, int32 off) { Fill(in, e, d + off); });
      return;
    case kTDUnion: {
      int32 n = I16(t + 4);
      int32 k = in.Range(0, n - 1);
      int32 size = DataSize(TD(t));
      DisposeData(TD(t), d, d + size);
      std::memset(d, 0, size_t(size));
      const uChar* e = reinterpret_cast<const uChar*>(UnionElem(t, k));
      InitEmptyData(TD(e), d);
      Fill(in, e, d);
      int16 sel = int16(k);
      std::memcpy(d, &sel, 2);
      return;
    }
    case kTDBoolean:
      d[0] = uChar(in.Byte() & 1);
      return;
    case kTDEnumU8:
    case kTDEnumU16: {
      // One of the items.
      uInt16 v = uInt16(in.Byte() % uint32_t(I16(t + 4)));
      if (c == kTDEnumU8)
        d[0] = uChar(v);
      else
        std::memcpy(d, &v, 2);
      return;
    }
    case kTDVariant:
    case kTDStringView:
    case kTDArrayView:
      return;
    default: {
      int32 size = DataSize(TD(t));
      for (int32 i = 0; i < size; ++i) d[i] = uChar(in.Byte());
      return;
    }
  }
}

// True when an array holds arrays directly (typedefs looked through): data
// of such a type cannot exist, as no array handle takes array elements.
bool ArrayOfArrays(const uChar* t) {
  t = Inner(t);
  switch (t[2]) {
    case kTDArray: {
      const uChar* e = ArrayElem(t);
      return Inner(e)[2] == kTDArray || ArrayOfArrays(e);
    }
    case kTDCluster:
    case kTDUnion: {
      for (int32 i = 0, n = I16(t + 4); i < n; ++i)
        if (ArrayOfArrays(reinterpret_cast<const uChar*>(ElemTD(TD(t), i)))) return true;
      return false;
    }
    default:
      return false;
  }
}

// A deep copy equals its source.
bool Same(const uChar* t, const uChar* a, const uChar* b) {
  t = Inner(t);
  switch (t[2]) {
    case kTDString:
    case kTDString37: {
      LStrHandle x = reinterpret_cast<LStrHandle>(H(a)), y = reinterpret_cast<LStrHandle>(H(b));
      int32 nx = x ? (*x)->cnt : 0, ny = y ? (*y)->cnt : 0;
      return nx == ny && (nx == 0 || std::memcmp((*x)->str, (*y)->str, size_t(nx)) == 0);
    }
    case kTDPath: {
      Path x = reinterpret_cast<Path>(H(a)), y = reinterpret_cast<Path>(H(b));
      return !x || FPathCmp(x, y) == 0;
    }
    case kTDHandle: {
      UHandle x = H(a), y = H(b);
      int32 nx = x ? AZGetHandleSize(x) : 0, ny = y ? AZGetHandleSize(y) : 0;
      return nx == ny && (nx == 0 || std::memcmp(*x, *y, size_t(nx)) == 0);
    }
    case kTDArray: {
      // The sizes (zeros for a null handle), then the elements they cover.
      UHandle x = H(a), y = H(b);
      int32 rank = I16(t + 4);
      std::vector<int32> sx(size_t(rank), 0), sy(size_t(rank), 0);
      if (x) std::memcpy(sx.data(), *x, size_t(4 * rank));
      if (y) std::memcpy(sy.data(), *y, size_t(4 * rank));
      if (sx != sy) return false;
      int32 n = NArrayElts(rank, sx.data());
      if (n <= 0) return n == 0;
      const uChar* e = ArrayElem(t);
      int32 header = AlignDatum(TD(e), 4 * rank), es = DataSize(TD(e));
      for (int32 i = 0; i < n && es > 0; ++i)
        if (!Same(e, *x + header + i * es, *y + header + i * es)) return false;
      return true;
    }
    case kTDCluster: {
      bool same = true;
      Fields(t, [&](const uChar* e, int32 off) { same = same && Same(e, a + off, b + off); });
      return same;
    }
    case kTDUnion: {
      int16 sel = I16(a);
      if (sel != I16(b)) return false;
      return Same(reinterpret_cast<const uChar*>(UnionElem(t, sel)), a, b);
    }
    default:
      return std::memcmp(a, b, size_t(DataSize(TD(t)))) == 0;
  }
}

// A buffer of exactly one datum, disposed at the end.
struct Datum {
  explicit Datum(const TypeDescriptor* t) : td(t), size(DataSize(t)), buf(new uChar[size ? size : 1]) {
    std::memset(buf.get(), 0, size_t(size ? size : 1));
  }
  ~Datum() { DisposeData(td, buf.get(), buf.get() + size); }
  uChar* p() { return buf.get(); }
  const TypeDescriptor* td;
  int32 size;
  std::unique_ptr<uChar[]> buf;
};

void Kernels(Input& in, const TypeDescriptor* t, uChar* slot) {
  const uChar* a = Inner(reinterpret_cast<const uChar*>(t));
  if (a[2] != kTDArray) return;
  int32 rank = I16(a + 4);
  const TypeDescriptor* e = TD(ArrayElem(a));
  int steps = in.Range(0, 6);
  for (int s = 0; s < steps; ++s) {
    UHandle h = H(slot);
    std::vector<int32> pos(static_cast<size_t>(rank)), cnt(static_cast<size_t>(rank));
    for (int32 k = 0; k < rank; ++k) {
      pos[size_t(k)] = in.Range(-2, 5);
      cnt[size_t(k)] = in.Range(-3, 3);
    }
    switch (in.Range(0, 3)) {
      case 0:
      case 1: {
        Datum fill(e);
        bool useFill = in.Flag();
        if (useFill) {
          InitEmptyData(e, fill.p());
          Fill(in, reinterpret_cast<const uChar*>(e), fill.p());
        }
        MgErr err = ArrayInsertDeleteNDim(t, &h, pos.data(), cnt.data(), useFill ? fill.p() : nullptr);
        Check(err == kNoErr || err == kMemFullErr || err == kArgErr);
        std::memcpy(slot, &h, 4);
        break;
      }
      case 2: {
        Datum copy(t);
        if (CopyData(t, slot, copy.p()) == kNoErr) {
          UHandle src = H(copy.p());
          MgErr err = ArrayReplaceSubsetNDim(t, h, pos.data(), src);
          Check(err == kNoErr || err == kArgErr || err == kMemFullErr);
        }
        break;
      }
      default: {
        int32 other = in.Range(1, 4);
        if (ArrayTDBoundElts(t) != -1 || other == rank || !h) break;
        // Away and back: the data must again match the TD's rank.
        if (AdjustArrayDims(e, h, rank, other) == kNoErr) Check(AdjustArrayDims(e, h, other, rank) == kNoErr);
        break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers();
  (void)started;
  if (size > 4096) return 0;
  int32 live = FuzzLiveHandles();
  {
    Input shape(data, size);
    tdb::TD td = Build(shape, 0, false);
    Input again(data, size);
    tdb::TD other = Build(again, 0, true);
    std::vector<uChar> tb = td.Bytes(), ob = other.Bytes();
    if (tb.size() >= 0xFFFF || ob.size() >= 0xFFFF) return 0;
    const TypeDescriptor* t = tdb::AsTD(tb);
    const TypeDescriptor* o = tdb::AsTD(ob);
    if (DataSize(t) > 1 << 16 || DataSize(o) > 1 << 16) return 0;
    Input in(data + shape.pos(), size - shape.pos());

    Datum a(t), b(t), c(o), z(t), v(t);
    if (InitEmptyData(t, a.p()) != kNoErr) return 0;
    Fill(in, tb.data(), a.p());
    Check(InitEmptyData(t, b.p()) == kNoErr);
    // A valid value of a valid type: every copy and identity conversion
    // succeeds and equals its source, into an empty value, into null handles
    // and over a destination that holds data.
    // (Arrays of arrays cannot hold data: their copies may fail, but a copy
    // that succeeds is still equal.)
    bool valid = !ArrayOfArrays(tb.data());
    auto same = [&](MgErr err, Datum& x) { Check(err ? !valid : Same(tb.data(), a.p(), x.p())); };
    same(CopyData(t, a.p(), b.p()), b);
    same(CopyData(t, a.p(), z.p()), z);
    Fill(in, tb.data(), b.p());
    same(CopyData(t, a.p(), b.p()), b);
    same(CopyConvertData(t, t, a.p(), v.p()), v);
    Fill(in, tb.data(), v.p());
    same(CopyConvertData(t, t, a.p(), v.p()), v);
    Check(InitEmptyData(o, c.p()) == kNoErr);
    CopyConvertData(t, o, a.p(), c.p());
    CopyConvertData(o, t, c.p(), b.p());
    Kernels(in, t, a.p());
    // The kernels resize a fixed or bounded array to its new elements: its
    // handle no longer holds the type's room, and copies refuse it.
    if (Inner(tb.data())[2] == kTDArray && ArrayTDBoundElts(t) != -1) valid = false;
    Check(ResetData(t, b.p()) == kNoErr || !valid);
    int32 cut = in.Range(0, a.size);
    DisposeData(t, a.p(), a.p() + cut);
    ReclaimDataMemory(t, a.p(), a.p() + a.size);
    EmptyData(t, a.p(), a.p() + a.size);
    Check(ResetData(t, z.p()) == kNoErr || !valid);
    Fill(in, tb.data(), a.p());
    // Emptied and released values hold null handles: still valid values.
    same(CopyDataWalk(t, a.p(), b.p(), 0), b);
    same(CopyConvertData(t, t, a.p(), v.p()), v);
    Check(ResetData(t, a.p()) == kNoErr || !valid);
    ReclaimDataMemory(o, c.p(), c.p() + c.size);
  }
  Check(FuzzLiveHandles() == live);
  MemFullReset();
  return 0;
}
