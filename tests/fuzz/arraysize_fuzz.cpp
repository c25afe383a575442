// Counts, sizes and headers from the input run through the array sizing
// functions.  The element counts agree with a 64-bit reference of the 31-bit
// guard; a flat array follows a model of its header and size through every
// flat form, also when its header is overwritten with input bytes or an
// allocation is made to fail; an array of handle-holding elements keeps its
// size consistent with its header through the typed forms; the handle count
// of its data agrees; a failure leaves a handle byte-identical; and no
// handle is left behind.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "rtlib/arraysize.h"
#include "tools/tdbuilder.h"

namespace {

class Input {
 public:
  Input(const uint8_t* d, size_t n) : d_(d), n_(n) {}
  uint32_t Byte() { return pos_ < n_ ? d_[pos_++] : 0; }
  int32 Range(int32 lo, int32 hi) { return lo + int32(Byte() % uint32_t(hi - lo + 1)); }
  int32 Word() {
    uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w = w << 8 | Byte();
    return int32(w);
  }
  // A size or count: mostly small, sometimes anything, sometimes at the limits.
  int32 Size() {
    switch (Byte() % 8) {
      case 0: return Word();
      case 1: return -1;
      case 2: return 0x40000000 >> Range(0, 4);
      default: return Range(0, 9);
    }
  }
  bool More() const { return pos_ < n_; }

 private:
  const uint8_t* d_;
  size_t n_;
  size_t pos_ = 0;
};

std::vector<uChar> Snapshot(UHandle h) {
  if (!h) return {};
  return std::vector<uChar>(*h, *h + DSGetHandleSize(h));
}

int32 Guarded(const std::vector<int32>& s) {
  int64 prod = 1;
  for (int32 d : s) {
    if (d < 0 || BitLength(int32(prod)) + BitLength(d) >= 31) return -1;
    prod *= d;
  }
  return int32(prod);
}

void Counting(Input& in) {
  std::vector<int32> s(size_t(in.Range(0, 4)));
  for (int32& d : s) d = in.Size();
  int32 n = int32(s.size());
  int32 want = Guarded(s);
  FUZZ_CHECK(NArrayElts(n, s.data()) == want);
  std::vector<ArrayViewDim> pairs;
  for (int32 d : s) pairs.push_back({d, in.Word()});
  FUZZ_CHECK(NSubArrayElts(n, pairs.data()) == want);
  if (n == 0) return;
  int32 rows = Guarded(std::vector<int32>(s.begin(), s.end() - 1));
  int32 last = s.back();
  int32 words = last < 0 ? -1 : int32((int64(last) + 15) >> 4);
  int32 packed = rows < 0 || words < 0 || BitLength(rows) + BitLength(words) >= 31 ? -1 : rows * words;
  FUZZ_CHECK(NPackedBoolWords(n, s.data()) == packed);
}

// ---- A flat array and its model ---------------------------------------------------

struct Flat {
  int32 es, hs, n;
  UHandle h = nullptr;
};

bool Refused(int32 count, int32 es, int32 hs) {
  return count < 0 || (es > 0 && count >= 0x40000000 / es) || int64(hs) + int64(count) * es > INT32_MAX;
}
// Accepted, but more than the run should touch.
bool TooBig(int32 count, int32 es) { return int64(count) * es >= (1 << 20); }

// One flat form on the flat array, against what the model says it must do.
void FlatStep(Flat& f, Input& in, int32 fail) {
  std::vector<uChar> before = Snapshot(f.h);
  UHandle was = f.h;
  bool existed = was != nullptr;
  auto unchanged = [&] { return f.h == was && Snapshot(f.h) == before; };
  int32 op = in.Range(0, 4);
  if ((op == 2 || op == 3) && f.n != 1) op = 0;
  std::vector<int32> a(size_t(f.n)), b(size_t(f.n));
  for (int32& d : a) d = in.Size();
  for (int32& d : b) d = in.Size();
  bool haveA = in.Byte() % 4 != 0, haveB = in.Byte() % 2 != 0;
  // The sizes the header must get (none: cleared) and the count they make.
  std::vector<int32> list(size_t(f.n), 0);
  bool listed = haveA || haveB;
  if (op == 0) listed = haveA;
  if (op == 2) listed = true;
  if (haveA && (op == 0 || op == 2)) list = a;
  if (op == 1 || op == 3) {
    for (int32 k = 0; k < f.n; ++k) {
      size_t z = size_t(k);
      list[z] = haveA && haveB ? (a[z] < b[z] ? a[z] : b[z]) : haveA ? a[z] : haveB ? b[z] : 0;
    }
  }
  int32 count = op == 4 ? (a.empty() ? in.Size() : a[0]) : listed ? Guarded(list) : 0;
  if (op == 4 && count == -1) count = 0;
  if (!Refused(count, f.es, f.hs) && TooBig(count, f.es)) return;
  // A list of no sizes is still a list: its pointer is not null.
  int32 none = 0;
  int32* pa = a.empty() ? &none : a.data();
  int32* pb = b.empty() ? &none : b.data();
  MemFailNthAllocation(fail);
  MgErr err;
  switch (op) {
    case 0: err = FlatArrayResize(f.es, f.hs, f.n, &f.h, haveA ? &pa : nullptr); break;
    case 1: err = FlatArrayResize2(f.es, f.hs, f.n, &f.h, haveA ? &pa : nullptr, haveB ? &pb : nullptr); break;
    case 2: err = FlatVectorResize(f.es, f.hs, &f.h, haveA ? &pa : nullptr); break;
    case 3: err = FlatVectorResize2(f.es, f.hs, &f.h, haveA ? &pa : nullptr, haveB ? &pb : nullptr); break;
    default: err = FlatHandleResize(f.es, f.hs, &f.h, a.empty() ? count : a[0]); break;
  }
  MemFailNthAllocation(0);
  if (Refused(count, f.es, f.hs)) {
    FUZZ_CHECK(err == kMemFullErr && unchanged());
    return;
  }
  int32 want = f.hs + count * f.es;
  int32 hdr = op == 4 ? 0 : 4 * f.n;
  int32 oldEnd = hdr;  // where the bytes kept end
  bool resize = true;
  if (existed && op != 4) {
    int32 size = int32(before.size());
    std::vector<int32> header(size_t(f.n), -1);
    if (f.n > 0 && size >= 4 * f.n) std::memcpy(header.data(), before.data(), size_t(4 * f.n));
    int32 old = Guarded(header);
    if (size < f.hs || old < 0 || int64(old) * f.es > size - f.hs) {
      FUZZ_CHECK(err == kArgErr && unchanged());
      return;
    }
    oldEnd = f.hs + old * f.es;
    resize = old != count;
    if (!resize) want = size;
  } else if (existed) {
    oldEnd = int32(before.size());
  }
  if (err) {
    FUZZ_CHECK(fail && resize && err == kMemFullErr && unchanged());
    return;
  }
  FUZZ_CHECK(f.h && DSGetHandleSize(f.h) == want);
  // The header is the list (untouched by FlatHandleResize); the bytes of
  // the old elements stay; the added ones are zero.
  if (hdr) FUZZ_CHECK(std::memcmp(*f.h, list.data(), size_t(hdr)) == 0);
  int32 keep = oldEnd < want ? oldEnd : want;
  if (keep > hdr) FUZZ_CHECK(std::memcmp(*f.h + hdr, before.data() + hdr, size_t(keep - hdr)) == 0);
  if (resize)
    for (int32 i = keep > f.hs ? keep : f.hs; i < want; ++i) FUZZ_CHECK((*f.h)[i] == 0);
  // (A list of no sizes counts 1; no list at all, 0.)
  if (op == 4 || (f.n == 0 && count != 1)) return;
  // The whole array described.
  std::vector<int32> desc(size_t(1 + 2 * f.n));
  SubArrayDesc* d = reinterpret_cast<SubArrayDesc*>(desc.data());
  MakeSubArray(f.h, d, f.n, f.hs, f.es);
  FUZZ_CHECK(d->ptr == *f.h + f.hs);
  FUZZ_CHECK(NSubArrayElts(f.n, d->dims) == count);
  if (f.n > 0 && count > 0) FUZZ_CHECK(d->dims[f.n - 1].stride == f.es);
}

void FlatArrays(Input& in) {
  Flat f;
  f.n = in.Range(0, 3);
  f.es = in.Range(0, 16);
  f.hs = 4 * f.n + in.Range(0, 8);
  for (int32 steps = in.Range(1, 12); steps > 0 && in.More(); --steps) {
    // Sometimes the header comes from the input: stored data may be corrupt.
    if (f.h && in.Byte() % 6 == 0) {
      int32 size = DSGetHandleSize(f.h);
      for (int32 i = 0; i < size && i < 4 * f.n; ++i) (*f.h)[i] = uChar(in.Byte());
    }
    FlatStep(f, in, in.Byte() % 5 == 0 ? 1 : 0);
  }
  if (f.h) DSDisposeHandle(f.h);
}

// ---- An array of handle-holding elements -------------------------------------------

void DisposeArray(const TypeDescriptor* elem, int32 n, UHandle* h) {
  if (!*h) return;
  int32 count = NArrayElts(n, reinterpret_cast<const int32*>(**h));
  int32 header = AlignDatum(elem, 4 * n);
  int32 es = DataSize(elem);
  for (int32 i = 0; i < count; ++i) DisposeData(elem, **h + header + i * es, **h + header + (i + 1) * es);
  DSDisposeHandle(*h);
  *h = nullptr;
}

void TypedArrays(Input& in) {
  static const std::vector<uChar> cluster = tdb::Cluster({tdb::String(), tdb::I32()}).Bytes();
  const TypeDescriptor* elems[] = {StdTDTable[kStdTDString], tdb::AsTD(cluster), StdTDTable[kTDDBL]};
  const TypeDescriptor* elem = elems[in.Range(0, 2)];
  int32 n = in.Range(1, 3);
  int32 es = DataSize(elem);
  int32 header = AlignDatum(elem, 4 * n);
  int32 tdLen = GetNative16(elem);
  const uChar* tdBytes = reinterpret_cast<const uChar*>(elem);
  std::vector<int32> variable(static_cast<size_t>(n), kTDVariable);
  std::vector<uChar> arrayTD = tdb::Array(tdb::Raw(std::vector<uChar>(tdBytes, tdBytes + tdLen)), variable).Bytes();
  // The element TD at offset 4 of a TD handle, for the forms that take one.
  UHandle th = DSNewHClr(4 + tdLen);
  if (!th) return;
  std::memcpy(*th + 4, elem, size_t(tdLen));
  UHandle h = nullptr;
  bool spare = false;  // the handle has more room than its elements take
  for (int32 steps = in.Range(1, 10); steps > 0 && in.More(); --steps) {
    std::vector<uChar> before = Snapshot(h);
    UHandle was = h;
    std::vector<int32> a(static_cast<size_t>(n)), b(a), least(a);
    for (int32& d : a) d = in.Size();
    for (int32& d : b) d = in.Size();
    for (int32 k = 0; k < n; ++k) least[size_t(k)] = a[size_t(k)] < b[size_t(k)] ? a[size_t(k)] : b[size_t(k)];
    int32 c = a[0];
    std::vector<int32> stated(static_cast<size_t>(n), 1);  // the sizes a caller writes for a count
    stated[0] = c == -1 ? 0 : c;
    int32 op = in.Range(0, 3);
    if (op == 2 && n != 1) op = 0;
    const std::vector<int32>& want = op == 0 ? a : op == 1 ? least : stated;
    int32 count = Guarded(want);
    if (count >= 0 && !(es > 0 && count >= 0x40000000 / es) && TooBig(count, es)) continue;
    int32 fail = in.Byte() % 5 == 0 ? in.Range(1, 3) : 0;
    MemFailNthAllocation(fail);
    int32* pa = a.data();
    int32* pb = b.data();
    int32* pc = &c;
    MgErr err;
    switch (op) {
      case 0: err = ArrayResize_Old(th, 4, n, &h, &pa); break;
      case 1: err = ArrayResize2(elem, n, &h, &pa, &pb); break;
      case 2: err = VectorResize(elem, &h, &pc); break;
      default: err = SetArraySzAndInflateNewElt(th, 4, n, &h, c); break;
    }
    MemFailNthAllocation(0);
    // The size a success leaves: a shrink of handle-holding elements stands
    // when the memory manager keeps their room.
    // The room stays as long as the count does not change.
    auto sized = [&](int32 elements) {
      int32 size = DSGetHandleSize(h);
      return size == header + elements * es ||
             ((fail || spare) && DataShape(elem) != 0 && size == int32(before.size()) && size > header + elements * es);
    };
    if (op == 3 && h && (err == kNoErr || h != was || Snapshot(h) != before)) {
      // Resized; an empty value may have failed after the resize, and the
      // array is the caller's to state and dispose.
      FUZZ_CHECK(err == kNoErr || (fail && err == kMemFullErr));
      FUZZ_CHECK(sized(stated[0]));
      std::memcpy(*h, stated.data(), size_t(4 * n));
      err = kNoErr;
    }
    if (err) {
      FUZZ_CHECK(h == was && Snapshot(h) == before);
      FUZZ_CHECK(count < 0 || (es > 0 && count >= 0x40000000 / es) || fail);
      continue;
    }
    FUZZ_CHECK(h && std::memcmp(*h, want.data(), size_t(4 * n)) == 0);
    FUZZ_CHECK(count >= 0 && sized(count));
    spare = DSGetHandleSize(h) > header + count * es;
    // The handles of the data: the array's own, then those of its elements.
    uChar slot[4];
    std::memcpy(slot, &h, 4);
    int32 handles = -1;
    int32 depends = CountDataHandles(tdb::AsTD(arrayTD), slot, &handles);
    FUZZ_CHECK(DataShape(elem) == 0 ? depends == 0 && handles == 1 : depends == 1 && handles == 1 + count);
  }
  DisposeArray(elem, n, &h);
  DSDisposeHandle(th);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers();
  if (!started) return 0;
  Input in(data, size);
  int32 live = FuzzLiveHandles();
  while (in.More()) {
    switch (in.Range(0, 2)) {
      case 0: Counting(in); break;
      case 1: FlatArrays(in); break;
      default: TypedArrays(in); break;
    }
  }
  FUZZ_CHECK(FuzzLiveHandles() == live);
  MemFullReset();
  return 0;
}
