// Whole-array operations: transpose against a reference in every move unit,
// the kept and cut scratch, rotate and reverse against the standard
// algorithms, reshape within and across handles, initialisation, and the
// lock of handle data for external code undone bit for bit.
#include <algorithm>
#include <climits>
#include <random>

#include "arraysize_test_support.h"
#include "mgsource/byteorder.h"
#include "rtlib/arrayxform.h"

using namespace astest;
using namespace tdb;

namespace {

using ArrayXform = ArraySizeTest;

// A 2-D array of es-byte elements whose bytes count up from 1, at the
// header of 8 bytes.
UHandle Grid(int32 r, int32 c, int32 es) {
  UHandle h = DSNewHClr(8 + r * c * es);
  int32 sizes[2] = {r, c};
  std::memcpy(*h, sizes, 8);
  for (int32 i = 0; i < r * c * es; ++i) (*h)[8 + i] = uChar(i * 7 + 1);
  return h;
}

std::vector<uChar> ReferenceTranspose(const std::vector<uChar>& src, int32 r, int32 c, int32 es) {
  std::vector<uChar> out(src.size());
  for (int32 i = 0; i < r; ++i)
    for (int32 j = 0; j < c; ++j)
      std::memcpy(&out[size_t((j * r + i) * es)], &src[size_t((i * c + j) * es)], size_t(es));
  return out;
}

TEST_F(ArrayXform, TransposeOfARowOnlySwapsTheSizes) {
  UHandle h = Grid(1, 5, 4);
  std::vector<uChar> before = Snapshot(h);
  UHandle scratch = nullptr;
  ASSERT_EQ(TransposeArray(h, &scratch, 4, 8), kNoErr);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{5, 1}));
  EXPECT_TRUE(std::equal(before.begin() + 8, before.end(), *h + 8));
  EXPECT_EQ(scratch, nullptr);
  DSDisposeHandle(h);
}

TEST_F(ArrayXform, TransposeOfTwoByThree) {
  UHandle h = DSNewHClr(8 + 24);
  int32 words[8] = {2, 3, 1, 2, 3, 4, 5, 6};
  std::memcpy(*h, words, sizeof words);
  UHandle scratch = nullptr;
  ASSERT_EQ(TransposeArray(h, &scratch, 4, 8), kNoErr);
  std::vector<int32> got(8);
  std::memcpy(got.data(), *h, 32);
  EXPECT_EQ(got, (std::vector<int32>{3, 2, 1, 4, 2, 5, 3, 6}));
  // A small scratch stays for the next call, holding the transposed shape.
  ASSERT_NE(scratch, nullptr);
  EXPECT_EQ(Sizes(scratch, 2), (std::vector<int32>{3, 2}));
  DSDisposeHandle(scratch);
  DSDisposeHandle(h);
}

TEST_F(ArrayXform, TransposeMatchesTheReferenceInEveryUnit) {
  UHandle scratch = nullptr;
  for (int32 es : {1, 2, 3, 4, 6, 8, 12}) {
    for (auto [r, c] : {std::pair{2, 2}, {3, 7}, {40, 33}, {65, 2}}) {
      SCOPED_TRACE(testing::Message() << es << " bytes, " << r << "x" << c);
      UHandle h = Grid(r, c, es);
      std::vector<uChar> src(*h + 8, *h + 8 + r * c * es);
      ASSERT_EQ(TransposeArray(h, &scratch, es, 8), kNoErr);
      EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{c, r}));
      EXPECT_EQ(std::vector<uChar>(*h + 8, *h + 8 + r * c * es), ReferenceTranspose(src, r, c, es));
      // Twice is the identity.
      ASSERT_EQ(TransposeArray(h, &scratch, es, 8), kNoErr);
      EXPECT_EQ(std::vector<uChar>(*h + 8, *h + 8 + r * c * es), src);
      DSDisposeHandle(h);
    }
  }
  if (scratch) DSDisposeHandle(scratch);
}

TEST_F(ArrayXform, TheScratchIsKeptSmallAndCutWhenLarge) {
  UHandle scratch = nullptr;
  // 64 x 64 of 4 bytes: 16384 element bytes, kept.
  UHandle small = Grid(64, 64, 4);
  ASSERT_EQ(TransposeArray(small, &scratch, 4, 8), kNoErr);
  ASSERT_NE(scratch, nullptr);
  EXPECT_EQ(DSGetHandleSize(scratch), 8 + 16384);
  // Kept means reused: the next transpose of the same count allocates nothing.
  MemFailNthAllocation(1);
  EXPECT_EQ(TransposeArray(small, &scratch, 4, 8), kNoErr);
  MemFailNthAllocation(0);
  // 65 x 64: more, so cut to an empty 2-D array.
  UHandle large = Grid(65, 64, 4);
  ASSERT_EQ(TransposeArray(large, &scratch, 4, 8), kNoErr);
  EXPECT_EQ(DSGetHandleSize(scratch), 8);
  EXPECT_EQ(Sizes(scratch, 2), (std::vector<int32>{0, 0}));
  DSDisposeHandle(scratch);
  DSDisposeHandle(small);
  DSDisposeHandle(large);
}

TEST_F(ArrayXform, AScratchFailureLeavesTheSourceAsItWas) {
  for (bool existing : {false, true}) {
    UHandle scratch = existing ? DSNewHClr(8) : nullptr;
    UHandle h = Grid(5, 9, 2);
    std::vector<uChar> before = Snapshot(h);
    MemFailNthAllocation(1);
    EXPECT_EQ(TransposeArray(h, &scratch, 2, 8), kMemFullErr);
    MemFailNthAllocation(0);
    EXPECT_EQ(Snapshot(h), before);
    EXPECT_EQ(scratch != nullptr, existing);
    if (scratch) DSDisposeHandle(scratch);
    DSDisposeHandle(h);
  }
}

TEST_F(ArrayXform, TransposeRefusesAHeaderPastItsHandle) {
  UHandle h = Grid(4, 4, 4);
  int32 big = 400;
  std::memcpy(*h, &big, 4);
  std::vector<uChar> before = Snapshot(h);
  UHandle scratch = nullptr;
  EXPECT_EQ(TransposeArray(h, &scratch, 4, 8), kArgErr);
  EXPECT_EQ(Snapshot(h), before);
  EXPECT_EQ(scratch, nullptr);
  EXPECT_GT(FamilyFailures(), 0);
  DSDisposeHandle(h);
}

std::vector<int32> Rotated(std::vector<int32> v, int32 shift) {
  EXPECT_EQ(RotateArray(shift, int32(v.size()), v.data(), 4), kNoErr);
  return v;
}

TEST_F(ArrayXform, RotateByTheShiftModuloTheCount) {
  const std::vector<int32> v = {1, 2, 3, 4};
  struct Case {
    int32 shift;
    std::vector<int32> want;
  } cases[] = {
      {1, {4, 1, 2, 3}},  {-1, {2, 3, 4, 1}}, {3, {2, 3, 4, 1}},  {4, {1, 2, 3, 4}},
      {0, {1, 2, 3, 4}},  {2, {3, 4, 1, 2}},  {-2, {3, 4, 1, 2}}, {INT_MIN, {1, 2, 3, 4}},
      {INT_MAX, {2, 3, 4, 1}}, {-7, {4, 1, 2, 3}},
  };
  for (const Case& c : cases) EXPECT_EQ(Rotated(v, c.shift), c.want) << c.shift;
  // One element, or none, stays as it is.
  int32 one = 9;
  EXPECT_EQ(RotateArray(5, 1, &one, 4), kNoErr);
  EXPECT_EQ(one, 9);
}

TEST_F(ArrayXform, AFailedTemporaryBlockLeavesTheArray) {
  std::vector<int32> v = {1, 2, 3, 4, 5};
  MemFailNthAllocation(1);
  EXPECT_EQ(RotateArray(2, 5, v.data(), 4), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(v, (std::vector<int32>{1, 2, 3, 4, 5}));
  // An element size of 0 is reported and does nothing.
  EXPECT_EQ(RotateArray(1, 5, v.data(), 0), kNoErr);
  EXPECT_EQ(v, (std::vector<int32>{1, 2, 3, 4, 5}));
  EXPECT_GT(FamilyFailures(), 0);
}

TEST_F(ArrayXform, RandomRotationsAndReversalsMatchTheStandardAlgorithms) {
  std::mt19937 rng(4104);
  using Elems = std::vector<std::vector<uChar>>;
  for (int round = 0; round < 400; ++round) {
    int32 es = 1 + int32(rng() % 12);
    int32 count = int32(rng() % 40);
    int32 shift = int32(rng());
    if (round % 4 == 0) shift %= 50;
    // Misaligned data moves in smaller units.
    std::vector<uChar> buffer(size_t(count * es) + 1);
    uChar* p = buffer.data() + (round % 3 == 0 ? 1 : 0);
    for (int32 i = 0; i < count * es; ++i) p[i] = uChar(rng());
    Elems want;
    for (int32 i = 0; i < count; ++i) want.emplace_back(p + i * es, p + (i + 1) * es);
    auto matches = [&](const Elems& e) {
      for (int32 i = 0; i < count; ++i)
        if (std::memcmp(p + i * es, e[size_t(i)].data(), size_t(es)) != 0) return false;
      return true;
    };
    if (count > 0) {
      int32 k = shift % count;
      if (k < 0) k += count;
      std::rotate(want.begin(), want.end() - k, want.end());
    }
    ASSERT_EQ(RotateArray(shift, count, p, es), kNoErr);
    ASSERT_TRUE(matches(want)) << "rotate " << es << " " << count << " " << shift;
    std::reverse(want.begin(), want.end());
    ReverseArray(count, p, es);
    ASSERT_TRUE(matches(want)) << "reverse " << es << " " << count;
  }
}

// Parts too large for a saved copy are rotated in place; the result is the
// same, for every unit size, both directions and misaligned data.
TEST_F(ArrayXform, LargeRotationsMatchTheStandardAlgorithm) {
  struct Case {
    int32 es, count, shift, offset;
  } cases[] = {
      {4, 30000, 10000, 0},  {4, 30000, -10001, 0}, {4, 30000, 4097, 0},  {8, 9000, 3000, 0},
      {12, 5000, -2000, 0},  {2, 40000, 15000, 0},  {1, 70000, 20000, 0}, {6, 9000, 4000, 2},
      {4, 30000, 12000, 1},  {3, 20000, -9000, 0},  {4, 30000, 29999, 0}, {4, 30000, 15000, 0},
  };
  std::mt19937 rng(730);
  for (const Case& c : cases) {
    size_t bytes = size_t(c.count) * size_t(c.es);
    std::vector<uChar> buffer(bytes + 4);
    uChar* p = buffer.data() + c.offset;
    for (size_t i = 0; i < bytes; ++i) p[i] = uChar(rng());
    std::vector<uChar> want(p, p + bytes);
    int32 k = c.shift % c.count;
    if (k < 0) k += c.count;
    std::rotate(want.begin(), want.end() - ptrdiff_t(k) * c.es, want.end());
    ASSERT_EQ(RotateArray(c.shift, c.count, p, c.es), kNoErr) << c.es << " " << c.shift;
    EXPECT_EQ(std::memcmp(p, want.data(), bytes), 0) << c.es << " " << c.count << " " << c.shift;
  }
}

TEST_F(ArrayXform, ReverseOfSixByteElementsSwapsWholeElements) {
  uInt16 v[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  ReverseArray(3, v, 6);
  EXPECT_EQ(std::vector<uInt16>(v, v + 9), (std::vector<uInt16>{7, 8, 9, 4, 5, 6, 1, 2, 3}));
}

// ---- Reshape and initialise --------------------------------------------------------

TEST_F(ArrayXform, ReshapeOfAVectorCopiesAndClears) {
  TDHandle th(I32());
  struct Case {
    std::vector<int32> sizes;
    std::vector<int32> want;
  } cases[] = {
      {{2, 4}, {1, 2, 3, 4, 5, 0, 0, 0}},
      {{2, 2}, {1, 2, 3, 4}},
      {{0, 3}, {}},
  };
  for (const Case& c : cases) {
    UHandle src = nullptr;
    int32 five = 5;
    ASSERT_EQ(VectorResize(StdTDTable[kTDI32], &src, Dims(&five)), kNoErr);
    for (int32 i = 0; i < 5; ++i) PutNative32(*src + 4 + 4 * i, uInt32(i + 1));
    // A destination holding stale elements past its count.
    UHandle dst = DSNewHClr(8 + 40);
    std::memset(*dst + 8, 0xEE, 40);
    int32 one[2] = {1, 1};
    std::memcpy(*dst, one, 8);
    ASSERT_EQ(ReshapeArray(th.h(), th.offset(), &src, &dst, 1, 2, c.sizes.data()), kNoErr);
    EXPECT_EQ(Sizes(dst, 2), c.sizes);
    EXPECT_EQ(DSGetHandleSize(dst), 8 + 4 * int32(c.want.size()));
    std::vector<int32> got(c.want.size());
    if (!got.empty()) std::memcpy(got.data(), *dst + 8, got.size() * 4);
    EXPECT_EQ(got, c.want);
    // The source is untouched.
    EXPECT_EQ(Sizes(src, 1), (std::vector<int32>{5}));
    DSDisposeHandle(src);
    DSDisposeHandle(dst);
  }
}

TEST_F(ArrayXform, ReshapeInPlaceMovesTheElementsToTheNewHeader) {
  // I32 elements: a 1-D header of 4 bytes, a 2-D one of 8.
  TDHandle th(I32());
  UHandle h = nullptr;
  int32 five = 5;
  ASSERT_EQ(VectorResize(StdTDTable[kTDI32], &h, Dims(&five)), kNoErr);
  for (int32 i = 0; i < 5; ++i) PutNative32(*h + 4 + 4 * i, uInt32(i + 1));
  UHandle same = h;
  int32 sizes[2] = {3, 2};
  ASSERT_EQ(ReshapeArray(th.h(), th.offset(), &h, &same, 1, 2, sizes), kNoErr);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{3, 2}));
  std::vector<int32> got(6);
  std::memcpy(got.data(), *h + 8, 24);
  EXPECT_EQ(got, (std::vector<int32>{1, 2, 3, 4, 5, 0}));
  // And back to fewer dimensions and elements.
  int32 three = 3;
  ASSERT_EQ(ReshapeArray(th.h(), th.offset(), &h, &same, 2, 1, &three), kNoErr);
  EXPECT_EQ(DSGetHandleSize(h), 4 + 12);
  std::memcpy(got.data(), *h, 16);
  EXPECT_EQ(std::vector<int32>(got.begin(), got.begin() + 4), (std::vector<int32>{3, 1, 2, 3}));
  DSDisposeHandle(h);
}

TEST_F(ArrayXform, ReshapedStringsAreIndependentAndLeakNothing) {
  TDHandle th(String());
  const TypeDescriptor* str = StdTDTable[kStdTDString];
  int32 live = dtest::LiveHandles();
  UHandle src = nullptr, dst = nullptr;
  int32 four = 4, two = 2;
  ASSERT_EQ(VectorResize(str, &src, Dims(&four)), kNoErr);
  for (int32 i = 0; i < 4; ++i) dtest::PutStr(*src + 4 + 4 * i, "s" + std::to_string(i));
  int32 oneByTwo[2] = {1, 2};
  ASSERT_EQ(ArrayResize(str, 2, &dst, Dims(oneByTwo)), kNoErr);
  for (int32 i = 0; i < 2; ++i) dtest::PutStr(*dst + 8 + 4 * i, "old" + std::to_string(i));
  // Onto another handle: 3 copied, the old destination strings replaced,
  // then grown to 2 x 3 with empty strings.
  int32 shape[2] = {2, 3};
  ASSERT_EQ(ReshapeArray(th.h(), th.offset(), &src, &dst, 1, 2, shape), kNoErr);
  EXPECT_EQ(Sizes(dst, 2), (std::vector<int32>{2, 3}));
  for (int32 i = 0; i < 4; ++i) EXPECT_EQ(dtest::StrAt(*dst + 8 + 4 * i), "s" + std::to_string(i));
  for (int32 i = 4; i < 6; ++i) EXPECT_EQ(dtest::StrAt(*dst + 8 + 4 * i), "");
  // Independent copies: changing the source leaves the destination.
  dtest::PutStr(*src + 4, "changed");
  EXPECT_EQ(dtest::StrAt(*dst + 8), "s0");
  // Onto the same handle, shrinking: the dropped strings are disposed.
  UHandle same = src;
  ASSERT_EQ(ReshapeArray(th.h(), th.offset(), &src, &same, 1, 1, &two), kNoErr);
  EXPECT_EQ(dtest::StrAt(*src + 4), "changed");
  EXPECT_EQ(DSGetHandleSize(src), 4 + 8);
  // And shrinking another handle disposes its extra strings.
  int32 oneByOne[2] = {1, 1};
  ASSERT_EQ(ReshapeArray(th.h(), th.offset(), &src, &dst, 1, 2, oneByOne), kNoErr);
  EXPECT_EQ(dtest::StrAt(*dst + 8), "changed");
  EXPECT_EQ(DSGetHandleSize(dst), 8 + 4);
  DisposeArray(str, 1, &src);
  DisposeArray(str, 2, &dst);
  EXPECT_EQ(dtest::LiveHandles(), live);
}

TEST_F(ArrayXform, ReshapeRefusals) {
  TDHandle th(I32());
  UHandle h = DSNewHClr(4);
  UHandle none = nullptr;
  int32 two = 2;
  EXPECT_EQ(ReshapeArray(th.h(), th.offset(), &none, &h, 1, 1, &two), kArgErr);
  EXPECT_EQ(ReshapeArray(th.h(), th.offset(), &h, &none, 1, 1, &two), kArgErr);
  EXPECT_GT(FamilyFailures(), 0);
  std::vector<uChar> before = Snapshot(h);
  int32 neg[2] = {-1, 3};
  int32 over[2] = {0x8000, 0x8000};
  UHandle dst = DSNewHClr(8);
  std::vector<uChar> dstBefore = Snapshot(dst);
  EXPECT_EQ(ReshapeArray(th.h(), th.offset(), &h, &dst, 1, 2, neg), kMemFullErr);
  EXPECT_EQ(ReshapeArray(th.h(), th.offset(), &h, &dst, 1, 2, over), kMemFullErr);
  int32 limit = 0x40000000 / 4;
  EXPECT_EQ(ReshapeArray(th.h(), th.offset(), &h, &dst, 1, 1, &limit), kMemFullErr);
  EXPECT_EQ(Snapshot(h), before);
  EXPECT_EQ(Snapshot(dst), dstBefore);
  DSDisposeHandle(dst);
  DSDisposeHandle(h);
}

TEST_F(ArrayXform, InitArrayStoresNegativeSizesAsZero) {
  TDHandle th(I32());
  UHandle h = nullptr;
  int32 value = 7;
  int32 sizes[2] = {3, -1};
  ASSERT_EQ(InitArray(th.h(), th.offset(), &value, &h, 2, sizes), kNoErr);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{3, 0}));
  EXPECT_EQ(DSGetHandleSize(h), 8);
  int32 over[2] = {0x10000, 0x8000};
  std::vector<uChar> before = Snapshot(h);
  EXPECT_EQ(InitArray(th.h(), th.offset(), &value, &h, 2, over), kMemFullErr);
  EXPECT_EQ(Snapshot(h), before);
  DSDisposeHandle(h);
}

TEST_F(ArrayXform, FlatFillsHoldTheValueEverywhere) {
  // Element sizes that double evenly and unevenly into the count.
  TDHandle cl(Cluster({I16(), U8()}));
  TDHandle dbl(DBL());
  for (int32 count : {1, 2, 3, 1000, 1023}) {
    UHandle h = nullptr;
    double v = 2.5;
    ASSERT_EQ(InitArray(dbl.h(), dbl.offset(), &v, &h, 1, &count), kNoErr);
    int32 header = AlignDatum(StdTDTable[kTDDBL], 4);
    for (int32 i = 0; i < count; ++i) {
      double got;
      std::memcpy(&got, *h + header + 8 * i, 8);
      ASSERT_EQ(got, 2.5) << count << " " << i;
    }
    DSDisposeHandle(h);
    h = nullptr;
    uChar rec[4] = {0x12, 0x34, 0x56, 0};
    int32 es = DataSize(cl.td());
    ASSERT_EQ(InitArray(cl.h(), cl.offset(), rec, &h, 1, &count), kNoErr);
    for (int32 i = 0; i < count; ++i) ASSERT_EQ(std::memcmp(*h + 4 + es * i, rec, size_t(es)), 0) << i;
    DSDisposeHandle(h);
  }
}

TEST_F(ArrayXform, HandleElementsGetADeepCopyEach) {
  TDHandle th(String());
  const TypeDescriptor* str = StdTDTable[kStdTDString];
  int32 live = dtest::LiveHandles();
  LStrHandle value = dtest::NewLStr("fill");
  UHandle h = nullptr;
  int32 threeByOne[2] = {3, 1};
  ASSERT_EQ(ArrayResize(str, 2, &h, Dims(threeByOne)), kNoErr);
  dtest::PutStr(*h + 8, "old");
  int32 sizes[2] = {2, 2};
  ASSERT_EQ(InitArray(th.h(), th.offset(), &value, &h, 2, sizes), kNoErr);
  for (int32 i = 0; i < 4; ++i) EXPECT_EQ(dtest::StrAt(*h + 8 + 4 * i), "fill");
  LStrHandle a, b;
  std::memcpy(&a, *h + 8, 4);
  std::memcpy(&b, *h + 12, 4);
  EXPECT_NE(a, b);
  EXPECT_NE(a, value);
  DisposeArray(str, 2, &h);
  DSDisposeHandle(reinterpret_cast<UHandle>(value));
  EXPECT_EQ(dtest::LiveHandles(), live);
}

// ---- Lock ----------------------------------------------------------------------

// {string, array of strings, I32, empty string} with its data.
class LockData {
 public:
  LockData() : td_(Cluster({String(), Array(String()), I32(), String()})) {
    const TypeDescriptor* str = StdTDTable[kStdTDString];
    data_.assign(size_t(DataSize(td_.td())), 0);
    dtest::PutStr(&data_[0], "first");
    UHandle arr = nullptr;
    int32 three = 3;
    EXPECT_EQ(VectorResize(str, &arr, Dims(&three)), kNoErr);
    dtest::PutStr(*arr + 4, "a");
    dtest::PutStr(*arr + 12, "ccc");  // element 1 stays a null string
    std::memcpy(&data_[4], &arr, 4);
    PutNative32(&data_[8], 0x11223344);
    LStrHandle empty = dtest::NewLStr("");
    std::memcpy(&data_[12], &empty, 4);
  }
  ~LockData() { DisposeData(td_.td(), data_.data(), data_.data() + data_.size()); }
  uChar* data() { return data_.data(); }
  const TDHandle& td() const { return td_; }
  UHandle Word(int32 off) const {
    UHandle h;
    std::memcpy(&h, &data_[size_t(off)], 4);
    return h;
  }

 private:
  TDHandle td_;
  std::vector<uChar> data_;
};

int32 ListCount(UHandle list) { return int32(GetNative32(*list)); }
void SetListCount(UHandle list, int32 n) { PutNative32(*list, uInt32(n)); }

std::vector<UHandle> ListEntries(UHandle list) {
  int32 n = (DSGetHandleSize(list) - 4) / 4;
  std::vector<UHandle> out(static_cast<size_t>(n));
  if (n) std::memcpy(out.data(), *list + 4, size_t(n) * 4);
  return out;
}

TEST_F(ArrayXform, LockAndUnlockRestoreTheDataBitForBit) {
  LockData d;
  std::vector<uChar> before(d.data(), d.data() + 16);
  UHandle first = d.Word(0), arr = d.Word(4), empty = d.Word(12);
  std::vector<uChar> arrBefore = Snapshot(arr);
  UHandle s0, s2;
  std::memcpy(&s0, *arr + 4, 4);
  std::memcpy(&s2, *arr + 12, 4);
  std::vector<uChar> copy(16, 0xAA);
  UHandle list = DSNewHClr(4);
  LockFlat(d.data(), copy.data(), d.td().h(), d.td().offset(), list);
  // The handles in walk order: the string, the array, its three strings,
  // the empty string.
  EXPECT_EQ(ListEntries(list), (std::vector<UHandle>{first, arr, s0, nullptr, s2, empty}));
  EXPECT_EQ(ListCount(list), 6);
  // The words are now addresses: the characters, the first element, null
  // for the empty string; the copy holds the same words and the flat I32.
  EXPECT_EQ(d.Word(0), reinterpret_cast<UHandle>(*first + 4));
  EXPECT_EQ(std::memcmp(d.Word(0), "first", 5), 0);
  EXPECT_EQ(d.Word(4), reinterpret_cast<UHandle>(*arr + 4));
  EXPECT_EQ(d.Word(12), nullptr);
  EXPECT_EQ(std::memcmp(copy.data(), d.data(), 16), 0);
  uChar* e0;
  uChar* e1;
  std::memcpy(&e0, *arr + 4, 4);
  std::memcpy(&e1, *arr + 8, 4);
  EXPECT_EQ(std::memcmp(e0, "a", 1), 0);
  EXPECT_EQ(e1, nullptr);
  // The external code changes the flat copy; unlock brings it back.
  PutNative32(&copy[8], 0x55667788);
  SetListCount(list, 0);
  UnlockUnflat(d.data(), copy.data(), d.td().h(), d.td().offset(), list);
  PutNative32(&before[8], 0x55667788);
  EXPECT_EQ(std::vector<uChar>(d.data(), d.data() + 16), before);
  EXPECT_EQ(Snapshot(arr), arrBefore);
  DSDisposeHandle(list);
}

TEST_F(ArrayXform, ALockThatCannotGrowIsUndoneExactly) {
  for (int32 k = 1; k <= 7; ++k) {
    SCOPED_TRACE(k);
    LockData d;
    std::vector<uChar> before(d.data(), d.data() + 16);
    std::vector<uChar> arrBefore = Snapshot(d.Word(4));
    // An empty list grows once per handle: the k-th growth fails.
    UHandle list = DSNewHClr(4);
    MemFailNthAllocation(k);
    LockFlat(d.data(), nullptr, d.td().h(), d.td().offset(), list);
    MemFailNthAllocation(0);
    int32 locked = ListCount(list);
    EXPECT_EQ(locked, std::min(k - 1, 6));
    if (k <= 6) {
      EXPECT_GT(FamilyFailures(), 0);
    }
    SetListCount(list, 0);
    UnlockUnflat(d.data(), nullptr, d.td().h(), d.td().offset(), list);
    EXPECT_EQ(std::vector<uChar>(d.data(), d.data() + 16), before);
    EXPECT_EQ(Snapshot(d.Word(4)), arrBefore);
    DSDisposeHandle(list);
  }
}

TEST_F(ArrayXform, LockSkipsHandlesAndWalksTheSelectedUnionElement) {
  // A path word is reported and kept.
  TDHandle path(tdb::Path());
  uChar fakePath[4] = {1, 2, 3, 4};
  UHandle list = DSNewHClr(4);
  LockFlat(fakePath, nullptr, path.h(), path.offset(), list);
  EXPECT_EQ(fakePath[0], 1);
  EXPECT_EQ(fakePath[3], 4);
  EXPECT_EQ(ListCount(list), 0);
  EXPECT_GT(FamilyFailures(), 0);
  // A union's element 1 (its leading I16 the selector) holds a string.
  TDHandle un(Union({I32(), Cluster({I16(), String()})}));
  std::vector<uChar> data(size_t(DataSize(un.td())), 0);
  PutNative16(&data[0], 1);
  size_t at = size_t(AlignDatum(StdTDTable[kStdTDString], 2));
  dtest::PutStr(&data[at], "u");
  UHandle str;
  std::memcpy(&str, &data[at], 4);
  LockFlat(data.data(), nullptr, un.h(), un.offset(), list);
  EXPECT_EQ(ListEntries(list), (std::vector<UHandle>{str}));
  SetListCount(list, 0);
  UnlockUnflat(data.data(), nullptr, un.h(), un.offset(), list);
  UHandle back;
  std::memcpy(&back, &data[at], 4);
  EXPECT_EQ(back, str);
  // A selector out of range walks nothing.
  PutNative16(&data[0], 5);
  DSSetHandleSize(list, 4);
  SetListCount(list, 0);
  LockFlat(data.data(), nullptr, un.h(), un.offset(), list);
  EXPECT_EQ(ListCount(list), 0);
  EXPECT_EQ(DSGetHandleSize(list), 4);
  DSDisposeHandle(str);
  DSDisposeHandle(list);
}

}  // namespace
