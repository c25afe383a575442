// Drives the strip-chart history copies with counters, capacities, plot
// counts and buffer sizes as a damaged panel could hold them, and
// interpolation and threshold with arbitrary type words and array bytes.
// Invariants: nothing is read or written outside the handles (the
// sanitizers see that), a history that takes points ends with its counters in
// range and its valid count as a model says, one that cannot take them is
// left as it was, no history call reports, and a plain double interpolation
// stays between its neighbours' extremes.
#include <cmath>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "engine/datatype.h"
#include "mgsource/support.h"
#include "rtlib/chartdata.h"

namespace {

using Reader = FuzzReader;

void FuzzHistory(Reader& r) {
  const int32 header = 8;
  int32 bufBytes = header + int32(r.Word() % 512);
  ChartHistory h;
  h.buffer = DSNewHClr(bufBytes);
  if (!h.buffer) return;
  // Stored capacities: small ones, negative ones, and ones so large that a
  // reset refuses to size them; the range between, which a reset would
  // honour with up to a gigabyte, is brought down to what the run can hold.
  uInt32 capacity = r.Word() % 4 == 0 ? r.Word() : r.Word() % 40;
  if (capacity > 0xFFFF && capacity < 0x40000000) capacity %= 0x10000;
  PutNative32(*h.buffer, capacity);
  PutNative32(*h.buffer + 4, r.Word() % 4);
  h.total = int32(r.Word());
  h.pending = int32(r.Word());
  h.writePos = int32(r.Word());
  for (int step = 0; step < 8 && r.n; ++step) {
    uint8_t op = r.Byte();
    int32 pointSize = 1 + r.Byte() % 16;
    int32 c = int32(GetNative32(*h.buffer));
    int32 size = DSGetHandleSize(h.buffer);
    ChartHistory before = h;
    FuzzArmed() = true;
    if (op % 2 == 0) {
      int32 count = int32(r.Byte() % 40) - 2;
      std::vector<uChar> src(size_t(count > 0 ? count : 0) * size_t(pointSize) + 1, 0x5A);
      FUZZ_CHECK(Copy1DToChartHistory(pointSize, header, src.data(), count, &h) == kNoErr);
      bool takes = c > 0 && int64(header) + int64(c) * pointSize <= size && count > 0;
      FUZZ_CHECK(DSGetHandleSize(h.buffer) == size);
      if (!takes) {
        FUZZ_CHECK(h.total == before.total && h.pending == before.pending && h.writePos == before.writePos);
      } else {
        int32 v0 = before.pending < 0 ? 0 : before.pending > c ? c : before.pending;
        FUZZ_CHECK(h.writePos >= 0 && h.writePos < c);
        FUZZ_CHECK(h.pending == (int64(v0) + count < c ? v0 + count : c));
        FUZZ_CHECK(uInt32(h.total) == uInt32(before.total) + uInt32(count));
      }
    } else {
      int32 d0 = int32(r.Byte() % 12) - 1, d1 = int32(r.Byte() % 5);
      int32 have = (d0 > 0 ? d0 : 0) * d1 * pointSize - int32(r.Byte() % 3);
      UHandle src = DSNewHClr(8 + (have > 0 ? have : 0));
      PutNative32(*src, uInt32(d0));
      PutNative32(*src + 4, uInt32(d1));
      MgErr err = Copy2DToChartHistory(pointSize, header, nullptr, 0, src, &h, op & 2 ? kChartOptTransposed : 0);
      FUZZ_CHECK(err == kNoErr || err == kArgErr || err == kMemFullErr);
      int32 c2 = int32(GetNative32(*h.buffer));
      if (err == kNoErr && d0 > 0 && d1 > 0 && c2 > 0 &&
          int64(header) + int64(c2) * (op & 2 ? d0 : d1) * pointSize <= DSGetHandleSize(h.buffer)) {
        FUZZ_CHECK(h.writePos >= 0 && h.writePos < c2 && h.pending >= 0 && h.pending <= c2);
      }
      DSDisposeHandle(src);
    }
    FuzzArmed() = false;
  }
  DSDisposeHandle(h.buffer);
}

void FuzzInterp(Reader& r) {
  int32 types = int32(r.Word());
  if (r.Byte() & 1) types = int32(uInt32(types) % 15 << 16 | (r.Byte() & 1 ? uInt32(r.Byte() % 15) : 0u));
  int32 bytes = int32(r.Word() % 256);
  UHandle a = DSNewHClr(4 + bytes);
  if (!a) return;
  PutNative32(*a, r.Word() % 2 ? r.Word() : r.Word() % 40);
  for (int32 i = 0; i < bytes && r.n; ++i) (*a)[4 + i] = r.Byte();
  float64 x;
  uint32_t w[2] = {r.Word(), r.Word()};
  std::memcpy(&x, w, 8);
  float64 res = 0;
  RTInterpolate(types, a, &x, &res);
  if (types == int32(kTDDBL << 16) && std::isfinite(x)) {
    int32 n = int32(GetNative32(*a));
    if (n > bytes / 8) n = bytes / 8;
    float64 lo = HUGE_VAL, hi = -HUGE_VAL;
    bool finite = true;
    for (int32 i = 0; i < n; ++i) {
      float64 y;
      std::memcpy(&y, *a + 4 + 8 * i, 8);
      finite = finite && std::isfinite(y) && std::fabs(y) < 1e300;
      lo = y < lo ? y : lo;
      hi = y > hi ? y : hi;
    }
    if (n > 0 && finite) FUZZ_CHECK(res >= lo - 1e-9 * std::fabs(lo) && res <= hi + 1e-9 * std::fabs(hi));
    if (n <= 0) FUZZ_CHECK(std::isnan(res));
  }
  RTThreshold(types, a, int32(r.Word()) % 64, &x, &res);
  DSDisposeHandle(a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers(FuzzAbortWhenArmed) && SupportInit() == kNoErr;
  if (!started || size < 1) return 0;
  Reader r{data + 1, size - 1};
  int32 before = FuzzLiveHandles();
  if (data[0] & 1) {
    FuzzHistory(r);
  } else {
    FuzzInterp(r);
  }
  FUZZ_CHECK(FuzzLiveHandles() == before);
  return 0;
}
