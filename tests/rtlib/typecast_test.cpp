// Type casting through the big-endian flat form: numbers to strings and
// back, short strings, enumerations, old booleans, round trips of random
// arrays, refusals; and the byte swap of TDs for files.
#include <random>

#include "arraysize_test_support.h"
#include "engine/flatten.h"
#include "mgsource/byteorder.h"
#include "rtlib/typecast.h"

using namespace astest;
using namespace tdb;

namespace {

using TypeCastTest = ArraySizeTest;

LStrHandle Str(const std::vector<uChar>& bytes) {
  LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHClr(4 + int32(bytes.size())));
  PutNative32(*h, uInt32(bytes.size()));
  if (!bytes.empty()) std::memcpy((*h)->str, bytes.data(), bytes.size());
  return h;
}

std::vector<uChar> Bytes(LStrHandle h) {
  int32 n = int32(GetNative32(*h));
  return std::vector<uChar>((*h)->str, (*h)->str + n);
}

UHandle AsH(LStrHandle s) { return reinterpret_cast<UHandle>(s); }

TEST_F(TypeCastTest, AnI32BecomesItsBigEndianBytesAndThoseAnI16Array) {
  TDHandle i32(I32()), str(String()), i16s(Array(I16()));
  int32 v = 0x01020304;
  LStrHandle s = Str({});
  ASSERT_EQ(TypeCast(i32.h(), i32.offset(), str.h(), str.offset(), &v, s, 0), kNoErr);
  EXPECT_EQ(Bytes(s), (std::vector<uChar>{1, 2, 3, 4}));
  UHandle a = DSNewHClr(4);
  ASSERT_EQ(TypeCast(str.h(), str.offset(), i16s.h(), i16s.offset(), s, a, 0), kNoErr);
  EXPECT_EQ(Sizes(a, 1), (std::vector<int32>{2}));
  int16 words[2];
  std::memcpy(words, *a + 4, 4);
  EXPECT_EQ(words[0], 258);
  EXPECT_EQ(words[1], 772);
  // And the array back to the string gives the same bytes.
  LStrHandle back = Str({9, 9, 9, 9, 9, 9});
  ASSERT_EQ(TypeCast(i16s.h(), i16s.offset(), str.h(), str.offset(), a, back, 0), kNoErr);
  EXPECT_EQ(Bytes(back), (std::vector<uChar>{1, 2, 3, 4}));
  // A string to a string is a copy.
  ASSERT_EQ(TypeCast(str.h(), str.offset(), str.h(), str.offset(), s, back, 0), kNoErr);
  EXPECT_EQ(Bytes(back), (std::vector<uChar>{1, 2, 3, 4}));
  DSDisposeHandle(a);
  DSDisposeHandle(AsH(s));
  DSDisposeHandle(AsH(back));
}

TEST_F(TypeCastTest, ShortBytesClearTheScalarFirst) {
  TDHandle str(String()), i32(I32()), sgl(SGL());
  LStrHandle s = Str({1, 2, 3});
  int32 v = -1;
  ASSERT_EQ(TypeCast(str.h(), str.offset(), i32.h(), i32.offset(), s, &v, 0), kNoErr);
  EXPECT_EQ(uInt32(v), 0x01020300u);
  // More bytes than the target holds: the first ones.
  LStrHandle l = Str({0x3F, 0x80, 0, 0, 7, 7});
  float f = 0;
  ASSERT_EQ(TypeCast(str.h(), str.offset(), sgl.h(), sgl.offset(), l, &f, 0), kNoErr);
  EXPECT_EQ(f, 1.0f);
  DSDisposeHandle(AsH(s));
  DSDisposeHandle(AsH(l));
}

TEST_F(TypeCastTest, EnumerationsStopAtTheirLastItem) {
  TDHandle u16(U16()), e(Enum(kTDEnumU16, {"a", "b", "c"}));
  struct Case {
    uInt16 in, out;
  } cases[] = {{0, 0}, {2, 2}, {3, 2}, {7, 2}, {0xFFFF, 2}};
  for (const Case& c : cases) {
    uInt16 v = c.in, got = 99;
    ASSERT_EQ(TypeCast(u16.h(), u16.offset(), e.h(), e.offset(), &v, &got, 0), kNoErr);
    EXPECT_EQ(got, c.out) << c.in;
  }
  // In an array too.
  TDHandle es(Array(Enum(kTDEnumU8, {"x", "y"})));
  TDHandle str(String());
  LStrHandle s = Str({0, 1, 2, 200});
  UHandle a = DSNewHClr(4);
  ASSERT_EQ(TypeCast(str.h(), str.offset(), es.h(), es.offset(), s, a, 0), kNoErr);
  EXPECT_EQ(std::vector<uChar>(*a + 4, *a + 8), (std::vector<uChar>{0, 1, 1, 1}));
  DSDisposeHandle(a);
  DSDisposeHandle(AsH(s));
}

TEST_F(TypeCastTest, OldBooleansAreWordsAndPackedArrays) {
  TDHandle b(Boolean()), str(String()), bs(Array(Boolean()));
  uChar t = 1;
  LStrHandle s = Str({});
  ASSERT_EQ(TypeCast(b.h(), b.offset(), str.h(), str.offset(), &t, s, kFlatOldBooleans), kNoErr);
  EXPECT_EQ(Bytes(s), (std::vector<uChar>{0x80, 0}));
  ASSERT_EQ(TypeCast(b.h(), b.offset(), str.h(), str.offset(), &t, s, 0), kNoErr);
  EXPECT_EQ(Bytes(s), (std::vector<uChar>{1}));
  // A word with the sign bit set is true.
  LStrHandle w = Str({0x80, 0x00});
  uChar got = 0;
  ASSERT_EQ(TypeCast(str.h(), str.offset(), b.h(), b.offset(), w, &got, kFlatOldBooleans), kNoErr);
  EXPECT_EQ(got, 1);
  // An array of 3 booleans packs into one word; TypeCastConvert selects
  // the form with its option bit.
  UHandle a = DSNewHClr(4 + 3);
  PutNative32(*a, 3);
  (*a)[4] = 1;
  (*a)[5] = 0;
  (*a)[6] = 1;
  ASSERT_EQ(TypeCastConvert(bs.h(), bs.offset(), str.h(), str.offset(), a, s, kFlatOptionOldBooleans), kNoErr);
  EXPECT_EQ(Bytes(s), (std::vector<uChar>{0xA0, 0}));
  ASSERT_EQ(TypeCastConvert(bs.h(), bs.offset(), str.h(), str.offset(), a, s, 0), kNoErr);
  EXPECT_EQ(Bytes(s), (std::vector<uChar>{1, 0, 1}));
  // And a packed word back: 16 booleans.
  LStrHandle p = Str({0xA0, 0x01});
  ASSERT_EQ(TypeCastConvert(str.h(), str.offset(), bs.h(), bs.offset(), p, a, kFlatOptionOldBooleans), kNoErr);
  EXPECT_EQ(Sizes(a, 1), (std::vector<int32>{16}));
  std::vector<uChar> want(16, 0);
  want[0] = want[2] = want[15] = 1;
  EXPECT_EQ(std::vector<uChar>(*a + 4, *a + 20), want);
  DSDisposeHandle(a);
  DSDisposeHandle(AsH(s));
  DSDisposeHandle(AsH(w));
  DSDisposeHandle(AsH(p));
}

TEST_F(TypeCastTest, RandomDoubleArraysRoundTripThroughStrings) {
  TDHandle dbls(Array(DBL())), str(String());
  std::mt19937 rng(862);
  LStrHandle s = Str({});
  UHandle back = DSNewHClr(AlignDatum(StdTDTable[kTDDBL], 4));
  for (int round = 0; round < 1000; ++round) {
    int32 n = int32(rng() % 20);
    UHandle a = nullptr;
    ASSERT_EQ(NumericArrayResize(kTDDBL, 1, &a, n), kNoErr);
    PutNative32(*a, uInt32(n));
    int32 header = AlignDatum(StdTDTable[kTDDBL], 4);
    for (int32 i = 0; i < n; ++i) {
      uInt64 bits = (uInt64(rng()) << 32) | rng();
      std::memcpy(*a + header + 8 * i, &bits, 8);
    }
    ASSERT_EQ(TypeCast(dbls.h(), dbls.offset(), str.h(), str.offset(), a, s, 0), kNoErr);
    ASSERT_EQ(int32(GetNative32(*s)), 8 * n);
    // Big-endian: the first byte of the string is the top byte.
    if (n) {
      ASSERT_EQ((*s)->str[0], (*a)[header + 7]);
    }
    ASSERT_EQ(TypeCast(str.h(), str.offset(), dbls.h(), dbls.offset(), s, back, 0), kNoErr);
    ASSERT_EQ(Sizes(back, 1), (std::vector<int32>{n}));
    ASSERT_EQ(std::memcmp(*back + header, *a + header, size_t(8 * n)), 0) << round;
    DSDisposeHandle(a);
  }
  DSDisposeHandle(back);
  DSDisposeHandle(AsH(s));
}

TEST_F(TypeCastTest, ClustersOfStringsAreReadBackFromTheFlatForm) {
  TDHandle cl(Cluster({I16(), String()})), str(String());
  // {I16 5, "hey"} flattens to 00 05 00 00 00 03 h e y.
  LStrHandle s = Str({0, 5, 0, 0, 0, 3, 'h', 'e', 'y'});
  std::vector<uChar> d(size_t(DataSize(cl.td())), 0);
  int32 live = dtest::LiveHandles();
  ASSERT_EQ(TypeCast(str.h(), str.offset(), cl.h(), cl.offset(), s, d.data(), 0), kNoErr);
  EXPECT_EQ(int16(GetNative16(&d[0])), 5);
  size_t at = size_t(AlignDatum(StdTDTable[kStdTDString], 2));
  EXPECT_EQ(dtest::StrAt(&d[at]), "hey");
  // Back to a string gives the same bytes.
  LStrHandle out = Str({});
  ASSERT_EQ(TypeCast(cl.h(), cl.offset(), str.h(), str.offset(), d.data(), out, 0), kNoErr);
  EXPECT_EQ(Bytes(out), Bytes(s));
  DisposeData(cl.td(), d.data(), d.data() + d.size());
  EXPECT_EQ(dtest::LiveHandles(), live + 1);  // out
  DSDisposeHandle(AsH(out));
  DSDisposeHandle(AsH(s));
}

TEST_F(TypeCastTest, ShortfallsAndEmptyElementsGiveOne) {
  TDHandle str(String()), wrapped(Cluster({String()}));
  // Two bytes cannot hold the count of {string}.
  LStrHandle s = Str({0, 1});
  uChar d[4] = {0, 0, 0, 0};
  EXPECT_EQ(TypeCast(str.h(), str.offset(), wrapped.h(), wrapped.offset(), s, d, 0), kArgErr);
  LStrHandle inside;
  std::memcpy(&inside, d, 4);
  EXPECT_TRUE(inside == nullptr || GetNative32(*inside) == 0);
  DisposeData(wrapped.td(), d, d + 4);
  // A count that runs past the bytes.
  LStrHandle s2 = Str({0, 0, 0, 9, 'a'});
  std::memset(d, 0, 4);
  EXPECT_EQ(TypeCast(str.h(), str.offset(), wrapped.h(), wrapped.offset(), s2, d, 0), kArgErr);
  DisposeData(wrapped.td(), d, d + 4);
  // An array of empty clusters: no element can be read, and no trap.
  TDHandle empties(Array(Cluster({})));
  UHandle a = DSNewHClr(4);
  EXPECT_EQ(TypeCast(str.h(), str.offset(), empties.h(), empties.offset(), s2, a, 0), kArgErr);
  EXPECT_EQ(Sizes(a, 1), (std::vector<int32>{0}));
  // An array of {string}: elements while the bytes last, then a shortfall.
  TDHandle strs(Array(Cluster({String()})));
  LStrHandle s3 = Str({0, 0, 0, 1, 'x', 0, 0, 0, 5, 'y'});
  UHandle b = DSNewHClr(4);
  EXPECT_EQ(TypeCast(str.h(), str.offset(), strs.h(), strs.offset(), s3, b, 0), kArgErr);
  EXPECT_EQ(dtest::StrAt(*b + 4), "x");
  EXPECT_EQ(Sizes(b, 1), (std::vector<int32>{2}));
  DisposeArray(dtest::ArrayElemTD(strs.td()), 1, &b);
  DSDisposeHandle(a);
  DSDisposeHandle(AsH(s));
  DSDisposeHandle(AsH(s2));
  DSDisposeHandle(AsH(s3));
}

TEST_F(TypeCastTest, RefusedSizesAndTargets) {
  TDHandle str(String()), dbls(Array(DBL())), view(StringView());
  // A corrupt source count is refused without reading past it.
  LStrHandle bad = Str({1, 2});
  PutNative32(*bad, 100);
  UHandle a = DSNewHClr(4);
  std::vector<uChar> before = Snapshot(a);
  EXPECT_EQ(TypeCast(str.h(), str.offset(), dbls.h(), dbls.offset(), bad, a, 0), kArgErr);
  EXPECT_EQ(Snapshot(a), before);
  // A view cannot be a target.
  LStrHandle s = Str({1});
  StringViewData v = {nullptr, 0, 1};
  EXPECT_EQ(TypeCast(str.h(), str.offset(), view.h(), view.offset(), s, &v, 0), kArgErr);
  // No array handle to fill.
  EXPECT_EQ(TypeCast(str.h(), str.offset(), dbls.h(), dbls.offset(), s, nullptr, 0), kArgErr);
  EXPECT_GT(FamilyFailures(), 0);
  // A failing buffer allocation gives 2 and leaves the target.
  TDHandle i32(I32());
  int32 x = 5;
  MemFailNthAllocation(1);
  EXPECT_EQ(TypeCast(i32.h(), i32.offset(), dbls.h(), dbls.offset(), &x, a, 0), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(Snapshot(a), before);
  DSDisposeHandle(a);
  DSDisposeHandle(AsH(s));
  DSDisposeHandle(AsH(bad));
}

TEST_F(TypeCastTest, TheFileByteSwapIsTheSwapWithoutOldStrings) {
  const TD tds[] = {Cluster({I32(), String(), Array(DBL(), {kTDVariable, kTDVariable})}),
                    Enum(kTDEnumU16, {"one", "two"}), tdb::Path(), Header(kTDOpaque36)};
  for (const TD& t : tds) {
    for (int32 dir : {1, 0}) {
      std::vector<uChar> a = t.Bytes(), b = t.Bytes();
      if (dir == 0) {
        TDByteSwap(AsTD(a), 1, 0);
        TDByteSwap(AsTD(b), 1, 0);
      }
      TDByteSwapToFile(AsTD(a), dir);
      TDByteSwap(AsTD(b), dir, 0);
      EXPECT_EQ(a, b) << dir;
      if (dir == 0) {
        EXPECT_EQ(a, t.Bytes());
      }
    }
  }
}

}  // namespace
