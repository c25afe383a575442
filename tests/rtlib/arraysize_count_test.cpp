// Element counts under the 31-bit guard, sub-array descriptions of whole
// arrays, and the count of handles in data.
#include <algorithm>
#include <climits>
#include <random>

#include "arraysize_test_support.h"

using namespace astest;
using namespace tdb;

namespace {

using ArrayCounting = ArraySizeTest;

// What the guard allows: the exact product, or -1 when a size is negative or
// the bit lengths of the running product and the next size reach 31.
int32 Reference(const std::vector<int32>& sizes) {
  int64 prod = 1;
  for (int32 d : sizes) {
    if (d < 0 || BitLength(int32(prod)) + BitLength(d) >= 31) return -1;
    prod *= d;
  }
  return int32(prod);
}

std::vector<ArrayViewDim> Pairs(const std::vector<int32>& sizes) {
  std::vector<ArrayViewDim> pairs;
  // Strides play no part in the count: give them values that would show.
  for (int32 s : sizes) pairs.push_back({s, -7});
  return pairs;
}

TEST_F(ArrayCounting, ProductsUnderTheGuard) {
  struct Case {
    std::vector<int32> sizes;
    int32 count;
  };
  const Case cases[] = {
      {{65535, 32767}, -1},  // 16 + 15 bits reach 31 though the product fits
      {{1000, 1000}, 1000000},
      {{-1}, -1},
      {{}, 1},
      {{0, 7, 9}, 0},
      {{0, -4}, -1},  // a negative size after a zero
      {{32767, 32767}, 32767 * 32767},
      {{65536, 16384}, -1},
      {{0x1FFFFFFF}, 0x1FFFFFFF},
      {{0x20000000}, -1},  // the running product starts at 1: 1 + 30 bits
      {{INT_MAX}, -1},
      {{1, 1, 1, 1, 1, 1, 1}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.sizes));
    int32 n = int32(c.sizes.size());
    EXPECT_EQ(NArrayElts(n, c.sizes.data()), c.count);
    std::vector<ArrayViewDim> pairs = Pairs(c.sizes);
    EXPECT_EQ(NSubArrayElts(n, pairs.data()), c.count);
  }
  // A negative rank or no sizes at all is malformed.
  int32 one[1] = {1};
  EXPECT_EQ(NArrayElts(-1, one), -1);
  EXPECT_EQ(NArrayElts(2, nullptr), -1);
  EXPECT_EQ(NSubArrayElts(-1, nullptr), -1);
  EXPECT_EQ(NSubArrayElts(1, nullptr), -1);
  EXPECT_EQ(NSubArrayElts(0, nullptr), 1);
}

TEST_F(ArrayCounting, RandomListsAgreeWithTheReference) {
  std::mt19937 g(42);
  std::uniform_int_distribution<int32> rank(0, 5), bits(0, 31), pick(0, 9);
  for (int i = 0; i < 20000; ++i) {
    std::vector<int32> sizes(size_t(rank(g)));
    for (int32& s : sizes) {
      int32 b = bits(g);
      s = b == 0 ? 0 : int32(g() & ((b == 31 ? 0x7FFFFFFFu : (1u << b)) - 1));
      if (pick(g) == 0) s = -s - 1;
    }
    int32 n = int32(sizes.size());
    int32 want = Reference(sizes);
    ASSERT_EQ(NArrayElts(n, sizes.data()), want) << ::testing::PrintToString(sizes);
    std::vector<ArrayViewDim> pairs = Pairs(sizes);
    ASSERT_EQ(NSubArrayElts(n, pairs.data()), want) << ::testing::PrintToString(sizes);
    // Packed booleans: the rows under the guard, then the words of a row.
    if (n == 0) continue;
    std::vector<int32> rows(sizes.begin(), sizes.end() - 1);
    int32 r = Reference(rows);
    int32 last = sizes.back();
    int32 words = last < 0 ? -1 : int32((int64(last) + 15) >> 4);
    int32 packed = r < 0 || words < 0 || BitLength(r) + BitLength(words) >= 31 ? -1 : r * words;
    ASSERT_EQ(NPackedBoolWords(n, sizes.data()), packed) << ::testing::PrintToString(sizes);
  }
}

TEST_F(ArrayCounting, PackedBooleanWords) {
  struct Case {
    std::vector<int32> sizes;
    int32 words;
  };
  const Case cases[] = {
      {{3, 17}, 6},
      {{0}, 0},
      {{1}, 1},
      {{16}, 1},
      {{17}, 2},
      {{5, 0}, 0},
      {{}, 1},  // one boolean
      {{INT_MAX}, 0x8000000},
      {{-1, 3}, -1},
      {{3, -1}, -1},
      {{65535, 32767 * 16}, -1},  // 16 + 15 bits of words reach 31
      {{65535, 16383 * 16}, 65535 * 16383},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NPackedBoolWords(int32(c.sizes.size()), c.sizes.data()), c.words) << ::testing::PrintToString(c.sizes);
  EXPECT_EQ(NPackedBoolWords(-1, nullptr), -1);
  EXPECT_EQ(NPackedBoolWords(1, nullptr), -1);
}

// A description with room for n pairs, filled with values that would show.
struct Desc {
  explicit Desc(int32 n) : words(size_t(1 + 2 * n), 0x5A5A5A5A) {}
  SubArrayDesc* get() { return reinterpret_cast<SubArrayDesc*>(words.data()); }
  std::vector<int32> Pairs(int32 n) const { return std::vector<int32>(words.begin() + 1, words.begin() + 1 + 2 * n); }
  std::vector<int32> words;
};

TEST_F(ArrayCounting, SubArrayOfAWholeArray) {
  UHandle h = nullptr;
  int32 sizes[2] = {2, 3};
  ASSERT_EQ(ArrayResize(StdTDTable[kTDI32], 2, &h, Dims(sizes)), kNoErr);
  Desc d(2);
  MakeSubArray(h, d.get(), 2, 8, 4);
  EXPECT_EQ(d.get()->ptr, *h + 8);
  EXPECT_EQ(d.Pairs(2), (std::vector<int32>{2, 12, 3, 4}));
  // The elements counted agree with the pairs.
  EXPECT_EQ(NSubArrayElts(2, d.get()->dims), 6);

  Desc none(3);
  MakeSubArray(nullptr, none.get(), 3, 12, 8);
  EXPECT_EQ(none.get()->ptr, nullptr);
  EXPECT_EQ(none.Pairs(3), (std::vector<int32>(6, 0)));
  EXPECT_EQ(FamilyFailures(), 0);
  DSDisposeHandle(h);
}

TEST_F(ArrayCounting, SubArrayStridesOfAnEmptyArrayStayInRange) {
  // {0, 70000, 70000} holds nothing; the outer stride would need 35 bits.
  UHandle h = DSNewHClr(12);
  int32 sizes[3] = {0, 70000, 70000};
  std::memcpy(*h, sizes, 12);
  Desc d(3);
  MakeSubArray(h, d.get(), 3, 12, 8);
  EXPECT_EQ(d.get()->ptr, *h + 12);
  EXPECT_EQ(d.Pairs(3), (std::vector<int32>{0, 0, 70000, 560000, 70000, 8}));
  EXPECT_EQ(FamilyFailures(), 0);
  DSDisposeHandle(h);
}

// Headers and arguments that cannot describe the array give the empty
// description, reported.
TEST_F(ArrayCounting, SubArrayRefusesWhatCannotBeDescribed) {
  struct Case {
    const char* what;
    std::vector<int32> header;
    int32 handleSize, n, firstOffset, elementSize;
  };
  const Case cases[] = {
      {"negative size", {-1, 3}, 8 + 12, 2, 8, 4},
      {"31 bits", {65536, 32768}, 64, 2, 8, 1},
      {"more elements than held", {2, 3}, 8 + 20, 2, 8, 4},
      {"offset inside the header", {2, 3}, 8 + 24, 2, 4, 4},
      {"offset past the block", {0, 3}, 8, 2, 12, 4},
      {"negative element size", {2, 3}, 8 + 24, 2, 8, -4},
      {"handle shorter than the sizes", {1}, 4, 2, 8, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UHandle h = DSNewHClr(c.handleSize);
    std::memcpy(*h, c.header.data(), std::min<size_t>(c.header.size() * 4, size_t(c.handleSize)));
    ClearReports();
    Desc d(c.n);
    MakeSubArray(h, d.get(), c.n, c.firstOffset, c.elementSize);
    EXPECT_EQ(d.get()->ptr, nullptr);
    EXPECT_EQ(d.Pairs(c.n), std::vector<int32>(size_t(2 * c.n), 0));
    EXPECT_EQ(FamilyFailures(), 1);
    DSDisposeHandle(h);
  }
  ClearReports();
  Desc d(1);
  MakeSubArray(nullptr, d.get(), -1, 4, 4);
  EXPECT_EQ(d.get()->ptr, nullptr);
  MakeSubArray(nullptr, nullptr, 1, 4, 4);
  EXPECT_EQ(FamilyFailures(), 2);
}

// ---- Handles in data ----------------------------------------------------------

TEST_F(ArrayCounting, HandlesByTDAlone) {
  struct Case {
    const char* what;
    TD td;
    int32 count;
    int32 depends;
  };
  const Case cases[] = {
      {"cluster of two strings and an I32", Cluster({String(), String(), I32()}), 2, 0},
      {"array of strings", Array(String()), 1, 1},
      {"array of I32", Array(I32(), {kTDVariable, kTDVariable}), 1, 0},
      {"string, handle, path and the string variants",
       Cluster({String(), Handle(), tdb::Path(), StringOf(0x33), StringOf(0x37), String(8)}), 6, 0},
      {"numerics, refnums and views count nothing", Cluster({DBL(), Refnum(2), StringView(), Boolean()}), 0, 0},
      {"typedef of a string", Typedef("t", String()), 1, 0},
      {"union: element 0 without data",
       Union({Cluster({I16(), String(), tdb::Path()}), Cluster({I16(), I32()})}), 2, 1},
      {"cluster holding an array of clusters",
       Cluster({I32(), Array(Cluster({String(), DBL()})), String()}), 2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Built b(c.td);
    int32 count = -5;
    EXPECT_EQ(CountDataHandles(b.td(), nullptr, &count), c.depends);
    EXPECT_EQ(count, c.count);
    TDHandle th(c.td, 10);
    count = -5;
    EXPECT_EQ(CountDSHandles_Old(th.h(), th.offset(), nullptr, &count), c.depends);
    EXPECT_EQ(count, c.count);
  }
  EXPECT_EQ(FamilyFailures(), 0);
}

TEST_F(ArrayCounting, HandlesInData) {
  // {string, string, I32}: 2 whatever the data; fixed.
  Built three(Cluster({String(), String(), I32()}));
  dtest::Datum d3(three.td());
  int32 count = 0;
  EXPECT_EQ(CountDataHandles(three.td(), d3.p(), &count), 0);
  EXPECT_EQ(count, 2);

  // An array of 3 strings: its own handle and three more; depends on data.
  Built strings(Array(String()));
  dtest::Datum a(strings.td());
  UHandle h = a.H();
  int32 three3[1] = {3};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 1, &h, Dims(three3)), kNoErr);
  a.Set(0, h);
  TDHandle th(Array(String()));
  EXPECT_EQ(CountDSHandles_Old(th.h(), th.offset(), a.p(), &count), 1);
  EXPECT_EQ(count, 4);
  // Null strings are counted as handle slots as well.
  dtest::PutStr(*h + 4, "x");
  EXPECT_EQ(CountDataHandles(strings.td(), a.p(), &count), 1);
  EXPECT_EQ(count, 4);

  // Arrays inside array elements are walked too.
  Built nested(Array(Cluster({String(), Array(String())})));
  dtest::Datum n(nested.td());
  UHandle outer = n.H();
  const TypeDescriptor* elem = dtest::ArrayElemTD(nested.td());
  int32 two[1] = {2};
  ASSERT_EQ(ArrayResize(elem, 1, &outer, Dims(two)), kNoErr);
  n.Set(0, outer);
  UHandle inner = nullptr;
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 1, &inner, Dims(three3)), kNoErr);
  std::memcpy(*outer + 4 + 8 + 4, &inner, 4);  // element 1's array
  EXPECT_EQ(CountDataHandles(nested.td(), n.p(), &count), 1);
  EXPECT_EQ(count, 1 + 2 * 2 + 3);
  EXPECT_EQ(FamilyFailures(), 0);
}

TEST_F(ArrayCounting, UnionsCountTheElementTheirSelectorNames) {
  Built u(Union({Cluster({I16(), String(), tdb::Path()}), Cluster({I16(), I32()})}));
  ASSERT_EQ(DataSize(u.td()), 10);
  struct Case {
    int16 selector;
    int32 count;
  };
  for (Case c : {Case{0, 2}, Case{1, 0}, Case{5, 0}, Case{2, 0}, Case{-1, 0}}) {
    uChar data[10] = {};
    std::memcpy(data, &c.selector, 2);
    int32 count = -5;
    EXPECT_EQ(CountDataHandles(u.td(), data, &count), 1) << c.selector;
    EXPECT_EQ(count, c.count) << c.selector;
  }
  EXPECT_EQ(FamilyFailures(), 0);
}

TEST_F(ArrayCounting, ACorruptArrayHeaderIsNotWalked) {
  Built strings(Array(String()));
  for (std::vector<int32> header : {std::vector<int32>{-1}, {5}}) {
    UHandle h = DSNewHClr(4 + 8);
    std::memcpy(*h, header.data(), 4);
    uChar slot[4];
    std::memcpy(slot, &h, 4);
    ClearReports();
    int32 count = -5;
    EXPECT_EQ(CountDataHandles(strings.td(), slot, &count), 1);
    EXPECT_EQ(count, 1) << "the array's own handle only";
    EXPECT_EQ(FamilyFailures(), 1);
    DSDisposeHandle(h);
  }
}

TEST_F(ArrayCounting, TDHandlesThatHoldNoTDAreRefused) {
  TDHandle th(Cluster({String(), I32()}), 8);
  int32 size = DSGetHandleSize(th.h());
  int32 count = 0;
  struct Case {
    const char* what;
    UHandle h;
    int32 offset;
  };
  uChar* block = *th.h();
  const Case cases[] = {
      {"null handle", nullptr, 0},
      {"negative offset", th.h(), -4},
      {"offset past the end", th.h(), size - 2},
      {"TD running past the end", th.h(), 4},
      {"an address that is no handle", reinterpret_cast<UHandle>(&block), 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearReports();
    count = -5;
    EXPECT_EQ(CountDSHandles_Old(c.h, c.offset, nullptr, &count), 0);
    EXPECT_EQ(count, 0);
    UHandle a = nullptr;
    EXPECT_EQ(SetArraySize(c.h, c.offset, 1, &a, 3), kArgErr);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(FamilyFailures(), 2);
  }
  // A TD in an application-zone handle serves as well.
  UHandle az = AZNewHClr(8 + DSGetHandleSize(th.h()));
  std::memcpy(*az + 8, *th.h() + 8, size_t(size - 8));
  EXPECT_EQ(CountDSHandles_Old(az, 8, nullptr, &count), 0);
  EXPECT_EQ(count, 1);
  AZDisposeHandle(az);
}

}  // namespace
