// Sorts arbitrary records with QSort and QSortData: the first byte picks the
// element size (1 to 12 bytes) and the entry, the rest are the records.  The
// result must be the same records in order, every comparison must get two
// whole elements of the array, and the comparisons must stay within a
// multiple of n log2 n whatever the order of the input.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mgsource/sorting.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Sorting {
  const uint8_t* base;
  uint32_t count, size;
  uint64_t calls = 0;
};
Sorting* gSort = nullptr;

// Records compare by their first bytes (up to 2), so that many are equal.
int32 Compare(const void* a, const void* b) {
  Sorting& s = *gSort;
  ++s.calls;
  for (const void* p : {a, b}) {
    const uint8_t* q = static_cast<const uint8_t*>(p);
    Check(q >= s.base && q < s.base + size_t(s.count) * s.size && size_t(q - s.base) % s.size == 0);
  }
  uint32_t n = s.size < 2 ? s.size : 2;
  return std::memcmp(a, b, n);
}
int32 CompareData(const void* a, const void* b, void* data) {
  Check(data == gSort);
  return Compare(a, b);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint32_t elem = data[0] % 12 + 1;
  bool withData = data[0] & 0x80;
  uint32_t count = uint32_t((size - 1) / elem);
  std::vector<uint8_t> v(data + 1, data + 1 + size_t(count) * elem);
  Sorting s{v.data(), count, elem};
  gSort = &s;
  if (withData)
    QSortData(v.data(), int32(count), int32(elem), CompareData, &s);
  else
    QSort(v.data(), int32(count), int32(elem), Compare);
  gSort = nullptr;
  auto records = [&](const uint8_t* p) {
    std::vector<std::string> r;
    for (uint32_t i = 0; i < count; ++i) r.emplace_back(reinterpret_cast<const char*>(p) + i * elem, elem);
    return r;
  };
  std::vector<std::string> got = records(v.data()), want = records(data + 1);
  uint32_t keyLen = elem < 2 ? elem : 2;
  for (uint32_t i = 1; i < count; ++i) Check(std::memcmp(got[i - 1].data(), got[i].data(), keyLen) <= 0);
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  Check(got == want);
  double n = count;
  Check(count < 2 || double(s.calls) <= 4 * n * std::log2(n) + 8 * n + 8);
  return 0;
}
