// The empty value of every type, release over data ranges, memory reclaim
// and reset.
#include <gtest/gtest.h>

#include "data_test_util.h"
#include "mgsource/path.h"

using namespace tdb;
using namespace dtest;

namespace {

using DataEmptyValue = DataTest;

TEST_F(DataEmptyValue, StringsOfEveryBoundForm) {
  Built fixed(String(TDFixed(16)));
  Datum f(fixed.td());
  ASSERT_NE(f.H(), nullptr);
  EXPECT_EQ(DSGetHandleSize(f.H()), 20);
  for (int i = 0; i < 20; ++i) EXPECT_EQ((*f.H())[i], 0) << i;

  Built var(String());
  Datum v(var.td());
  EXPECT_EQ(DSGetHandleSize(v.H()), 4);
  EXPECT_EQ((*v.S())->cnt, 0);

  Built bounded(StringOf(kTDString37, 8));
  Datum b(bounded.td());
  EXPECT_EQ(DSGetHandleSize(b.H()), 12);
  EXPECT_EQ((*b.S())->cnt, 0);
}

TEST_F(DataEmptyValue, ArraysFixedBoundedAndVariable) {
  Built fixed(Array(I32(), {TDFixed(3), TDFixed(4)}));
  Datum f(fixed.td());
  ASSERT_EQ(DSGetHandleSize(f.H()), 8 + 48);
  EXPECT_EQ(Sizes(f.H(), 2), (std::vector<int32>{3, 4}));
  for (int i = 8; i < 56; ++i) EXPECT_EQ((*f.H())[i], 0);

  Built bounded(Array(I32(), {5, 2}));
  Datum b(bounded.td());
  EXPECT_EQ(DSGetHandleSize(b.H()), 8 + 40);
  EXPECT_EQ(Sizes(b.H(), 2), (std::vector<int32>{0, 0}));

  Built var(Array(DBL()));
  Datum v(var.td());
  EXPECT_EQ(DSGetHandleSize(v.H()), 4);
  EXPECT_EQ(I32At(v.H(), 0), 0);

  // A variable dimension among fixed ones leaves room for nothing.
  Built mixed(Array(I16(), {kTDVariable, TDFixed(3)}));
  Datum m(mixed.td());
  EXPECT_EQ(DSGetHandleSize(m.H()), 8);
  EXPECT_EQ(Sizes(m.H(), 2), (std::vector<int32>{0, 3}));
}

TEST_F(DataEmptyValue, ElementsOfBoundedArraysHoldTheirOwnEmptyValue) {
  Built t(Array(String(), {TDFixed(3)}));
  Datum d(t.td());
  ASSERT_EQ(DSGetHandleSize(d.H()), 4 + 12);
  EXPECT_EQ(I32At(d.H(), 0), 3);
  for (int i = 0; i < 3; ++i) {
    LStrHandle s;
    std::memcpy(&s, *d.H() + 4 + 4 * i, 4);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(DSGetHandleSize(reinterpret_cast<UHandle>(s)), 4);
  }
}

TEST_F(DataEmptyValue, ClustersUnionsPathsHandlesAndTypedefs) {
  Built t(Typedef("rec", Cluster({I16(), String(), tdb::Path(), Handle(), DBL(), Union({Cluster({I16(), String()})})})));
  std::vector<uChar> dirty(size_t(DataSize(t.td())), 0xA5);
  ASSERT_EQ(DataSize(t.td()), 2 + 4 + 4 + 4 + 8 + 6);
  ASSERT_EQ(InitEmptyData(t.td(), dirty.data()), kNoErr);
  auto h = [&](int off) {
    UHandle v;
    std::memcpy(&v, dirty.data() + off, 4);
    return v;
  };
  EXPECT_EQ(dirty[0], 0);
  EXPECT_EQ(DSGetHandleSize(h(2)), 4);
  EXPECT_TRUE(FIsEmptyPath(reinterpret_cast<::Path>(h(6))));
  EXPECT_TRUE(AZIsHandle(h(10)));
  EXPECT_EQ(AZGetHandleSize(h(10)), 0);
  for (int i = 14; i < 22; ++i) EXPECT_EQ(dirty[size_t(i)], 0);
  EXPECT_EQ(dirty[22] | dirty[23], 0) << "the union's selector is 0";
  EXPECT_EQ(DSGetHandleSize(h(24)), 4) << "element 0 of the union gets its empty value";
  DisposeData(t.td(), dirty.data(), dirty.data() + dirty.size());
  for (int off : {2, 6, 10, 24}) EXPECT_EQ(h(off), nullptr);
}

TEST_F(DataEmptyValue, ScalarsAreClearedBytes) {
  Built t(Cluster({I8(), EXT(), CDB(), Boolean(), Refnum(2), Block(6), StringView(), ArrayView(I32(), {-1, -1}),
                   Enum(kTDEnumU16, {"a", "b"}), Wrapper(I32()), TypedRef(I32())}));
  std::vector<uChar> dirty(size_t(DataSize(t.td())), 0x5A);
  ASSERT_EQ(InitEmptyData(t.td(), dirty.data()), kNoErr);
  for (uChar b : dirty) ASSERT_EQ(b, 0);
}

TEST_F(DataEmptyValue, CountsOutOfRangeGiveMemoryFull) {
  // The product of the fixed sizes needs 31 bits.
  Built over(Array(U8(), {TDFixed(65536), TDFixed(32768)}));
  Datum a(over.td(), false);
  EXPECT_EQ(InitEmptyData(over.td(), a.p()), kMemFullErr);
  EXPECT_EQ(a.H(), nullptr);
  // 2^28 elements of 4 bytes reach 1 GiB.
  Built big(Array(I32(), {TDFixed(0x10000000)}));
  Datum b(big.td(), false);
  EXPECT_EQ(InitEmptyData(big.td(), b.p()), kMemFullErr);
  EXPECT_EQ(b.H(), nullptr);
}

TEST_F(DataEmptyValue, AFailureLeavesWhatWasMadeDisposable) {
  Built t(Cluster({String(), String(TDFixed(1 << 22)), String()}));
  Datum d(t.td(), false);
  PlatFailNextReservations(1);
  EXPECT_EQ(InitEmptyData(t.td(), d.p()), kMemFullErr);
  PlatFailNextReservations(0);
  EXPECT_NE(d.H(0), nullptr);
  EXPECT_EQ(d.H(4), nullptr);
  EXPECT_EQ(d.H(8), nullptr);
  MemFullReset();
  // The fixture checks that disposing the datum frees the first string.
}

TEST_F(DataEmptyValue, AFixedStringPastTheArrayLimitIsRefused) {
  // A stored type may name any bound; one past the array limit is not made.
  Built t(Cluster({String(TDFixed(kMaxArrayBytes)), String()}));
  Datum d(t.td(), false);
  EXPECT_EQ(InitEmptyData(t.td(), d.p()), kMemFullErr);
  EXPECT_EQ(d.H(0), nullptr);
  MemFullReset();
}

TEST_F(DataEmptyValue, FromATDHandleAndOfFunctions) {
  Built t(Cluster({I32(), String()}));
  UHandle tds = DSNewHandle(int32(t.bytes.size()) + 6);
  std::memcpy(*tds + 6, t.bytes.data(), t.bytes.size());
  uChar data[8];
  std::memset(data, 0xFF, sizeof data);
  EXPECT_EQ(InflateDefData_Old(tds, 6, data), kNoErr);
  EXPECT_EQ(data[0] | data[1] | data[2] | data[3], 0);
  EXPECT_EQ(DeflateData_Old(tds, 6, data, data + 8), 4);
  DSDisposeHandle(tds);

  Built f(Function(0, {}, {}));
  EXPECT_EQ(InitEmptyData(f.td(), data), kNoErr);
  EXPECT_GE(DataFailures(), 1);
}

using DataRelease = DataTest;

TEST_F(DataRelease, EmptyStringsByBoundForm) {
  Built t(Cluster({String(TDFixed(4)), String(8), String()}));
  Datum d(t.td());
  LStrHandle fixed = d.S(0);
  std::memcpy((*fixed)->str, "wxyz", 4);
  (*fixed)->cnt = 4;
  PutBounded(d.p() + 4, "ab");
  PutStr(d.p() + 8, std::string(96, 'q'));
  LStrHandle bounded = d.S(4);
  ASSERT_EQ((*bounded)->cnt, 2);
  EXPECT_EQ(EmptyData(t.td(), d.p(), d.end()), 96);
  EXPECT_EQ(Str(d.S(0)), "wxyz") << "a fixed string is left as it is";
  EXPECT_EQ(d.S(4), bounded);
  EXPECT_EQ((*bounded)->cnt, 0);
  EXPECT_EQ(DSGetHandleSize(d.H(4)), 12);
  EXPECT_EQ(DSGetHandleSize(d.H(8)), 4);
  EXPECT_EQ((*d.S(8))->cnt, 0);
}

TEST_F(DataRelease, DisposeCountsStringsAndArrays) {
  Built t(Cluster({String(), Array(String()), Handle(), tdb::Path()}));
  Datum d(t.td());
  PutStr(d.p(), "hello");  // 9 bytes
  UHandle arr = d.H(4);
  int32 sizes[1] = {2};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 1, &arr, Dims(sizes)), kNoErr);
  d.Set(4, arr);
  PutStr(*arr + 4, "x");   // 5 bytes
  PutStr(*arr + 8, "yz");  // 6 bytes
  EXPECT_EQ(DisposeData(t.td(), d.p(), d.end()), 9 + 12 + 5 + 6);
  for (int off : {0, 4, 8, 12}) EXPECT_EQ(d.H(off), nullptr);
}

TEST_F(DataRelease, TheRangeEndIsNeverPassed) {
  Built t(Cluster({String(), String(), String()}));
  Datum d(t.td());
  PutStr(d.p() + 4, "kept");
  UHandle second = d.H(4), third = d.H(8);
  EXPECT_EQ(DisposeData(t.td(), d.p(), d.p() + 7), 4);
  EXPECT_EQ(d.H(0), nullptr);
  EXPECT_EQ(d.H(4), second) << "a slot cut by the end is not touched";
  EXPECT_EQ(d.H(8), third);
  EXPECT_EQ(DisposeData(t.td(), d.p(), d.p()), 0);
  EXPECT_EQ(DisposeData(t.td(), d.p() + 8, d.p() + 4), 0);
  EXPECT_EQ(Str(d.S(4)), "kept");
}

TEST_F(DataRelease, EmptyArraysByDimensionForm) {
  Built fixed(Array(I32(), {TDFixed(2)}));
  Datum f(fixed.td());
  std::memset(*f.H() + 4, 0x11, 8);
  EXPECT_EQ(EmptyData(fixed.td(), f.p(), f.end()), 0);
  EXPECT_EQ(I32At(f.H(), 0), 2);
  EXPECT_EQ(I32At(f.H(), 4) | I32At(f.H(), 8), 0);

  Built bounded(Array(I32(), {4}));
  Datum b(bounded.td());
  std::memcpy(*b.H(), "\x03\0\0\0", 4);
  EXPECT_EQ(EmptyData(bounded.td(), b.p(), b.end()), 0);
  EXPECT_EQ(I32At(b.H(), 0), 0);
  EXPECT_EQ(DSGetHandleSize(b.H()), 20) << "a bounded array keeps its room";

  Built var(Array(String()));
  Datum v(var.td());
  UHandle h = v.H();
  int32 three[1] = {3};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 1, &h, Dims(three)), kNoErr);
  v.Set(0, h);
  for (int i = 0; i < 3; ++i) PutStr(*h + 4 + 4 * i, "abcd");  // 8 bytes each
  EXPECT_EQ(EmptyData(var.td(), v.p(), v.end()), 3 * 8 + 12);
  EXPECT_EQ(v.H(), h);
  EXPECT_EQ(DSGetHandleSize(h), 4);
  EXPECT_EQ(I32At(h, 0), 0);
}

TEST_F(DataRelease, HandlesPathsUnionsAndOldEntries) {
  Built t(Cluster({Handle(), tdb::Path(), Union({Cluster({I16(), String()}), Cluster({I16(), DBL()})})}));
  Datum d(t.td());
  ASSERT_EQ(AZSetHandleSize(d.H(0), 10), kNoErr);
  ::Path p = FMakePath(reinterpret_cast<::Path>(d.H(4)), kAbsPath, "\001C", "\003dir", nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(EmptyData(t.td(), d.p(), d.end()), 0);
  EXPECT_EQ(AZGetHandleSize(d.H(0)), 0);
  EXPECT_TRUE(FIsEmptyPath(reinterpret_cast<::Path>(d.H(4))));
  // A selector out of range names nothing to release.
  d.Set<int16>(8, 7);
  UHandle s = d.H(10);
  EXPECT_EQ(DisposeData(ElemTD(t.td(), 2), d.p() + 8, d.end()), 0);
  EXPECT_EQ(d.H(10), s);
  d.Set<int16>(8, 0);

  UHandle tds = DSNewHandle(int32(t.bytes.size()));
  std::memcpy(*tds, t.bytes.data(), t.bytes.size());
  EXPECT_EQ(DeflateSubData_Old(tds, 0, d.p(), d.end()), 0);
  EXPECT_EQ(DeflateData_Old(tds, 0, d.p(), d.end()), 4);
  EXPECT_EQ(d.H(0), nullptr);
  EXPECT_EQ(d.H(4), nullptr);
  EXPECT_EQ(d.H(10), nullptr);
  DSDisposeHandle(tds);
}

using DataReclaim = DataTest;

TEST_F(DataReclaim, ShrinksUnmarkedStringsHandlesPathsAndVariableArrays) {
  Built t(Cluster({String(), String(8), Handle(), tdb::Path(), Array(String()), Array(String(), {3})}));
  Datum d(t.td());
  PutStr(d.p(), std::string(50, 'a'));
  PutStr(d.p() + 4, "bb");
  ASSERT_EQ(AZSetHandleSize(d.H(8), 10), kNoErr);
  ASSERT_NE(FMakePath(reinterpret_cast<::Path>(d.H(12)), kAbsPath, "\001C", "\001x", nullptr), nullptr);
  UHandle var = d.H(16);
  int32 two[1] = {2};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 1, &var, Dims(two)), kNoErr);
  d.Set(16, var);
  PutStr(*var + 4, "123456");  // 10 bytes
  UHandle bnd = d.H(20);
  PutStr(*bnd + 4, "zzzzzz");  // 10 bytes, 6 given back

  EXPECT_EQ(ReclaimDataMemory(t.td(), d.p(), d.end()), 50 + 10 + 8 + 6);
  EXPECT_EQ(DSGetHandleSize(d.H(0)), 4);
  EXPECT_EQ(Str(d.S(4)), "bb") << "bounded strings keep their room";
  EXPECT_EQ(AZGetHandleSize(d.H(8)), 0);
  EXPECT_TRUE(FIsEmptyPath(reinterpret_cast<::Path>(d.H(12))));
  EXPECT_EQ(DSGetHandleSize(var), 4);
  EXPECT_EQ(d.H(20), bnd);
  EXPECT_EQ(DSGetHandleSize(bnd), 16);
}

TEST_F(DataReclaim, MarkedTDsAreSkippedWithTheirContents) {
  Built t(Cluster({String().WithFlags(kTDFlagNoShrink10),
                   Cluster({String(), Array(String())}).WithFlags(kTDFlagNoShrink20), String()}));
  Datum d(t.td());
  PutStr(d.p(), "aaaaaaaa");
  PutStr(d.p() + 4, "bbbbbbbb");
  PutStr(d.p() + 12, "cccccccc");
  EXPECT_EQ(ReclaimDataMemory(t.td(), d.p(), d.end()), 8);
  EXPECT_EQ(Str(d.S(0)), "aaaaaaaa");
  EXPECT_EQ(Str(d.S(4)), "bbbbbbbb");
  EXPECT_EQ(Str(d.S(12)), "");
  Built marked(Typedef("t", String()).WithFlags(kTDFlagNoShrink10));
  Datum m(marked.td());
  PutStr(m.p(), "dddd");
  EXPECT_EQ(ReclaimDataMemory(marked.td(), m.p(), m.end()), 0);
}

using DataReset = DataTest;

TEST_F(DataReset, EveryKindKeepsItsHandles) {
  Built t(Cluster({String(), String(TDFixed(3)), String(5), Handle(), tdb::Path(), DBL(), Array(I32()),
                   Array(String(), {TDFixed(2)})}));
  Datum d(t.td());
  PutStr(d.p(), "abc");
  std::memcpy((*d.S(4))->str, "xyz", 3);
  PutBounded(d.p() + 8, "12");
  ASSERT_EQ(AZSetHandleSize(d.H(12), 7), kNoErr);
  ASSERT_NE(FMakePath(reinterpret_cast<::Path>(d.H(16)), kAbsPath, "\001D", nullptr), nullptr);
  d.Set<double>(20, 2.5);
  UHandle ints = d.H(28);
  int32 five[1] = {5};
  ASSERT_EQ(ArrayResize(StdTDTable[kTDI32], 1, &ints, Dims(five)), kNoErr);
  d.Set(28, ints);
  UHandle strs = d.H(32);
  PutStr(*strs + 4, "element");
  std::vector<UHandle> before;
  for (int off : {0, 4, 8, 12, 16, 32}) before.push_back(d.H(off));

  EXPECT_EQ(ResetData(t.td(), d.p()), kNoErr);
  std::vector<UHandle> after;
  for (int off : {0, 4, 8, 12, 16, 32}) after.push_back(d.H(off));
  EXPECT_EQ(before, after);
  EXPECT_EQ(Str(d.S(0)), "");
  EXPECT_EQ(Str(d.S(4)), std::string(3, '\0'));
  EXPECT_EQ(Str(d.S(8)), "");
  EXPECT_EQ(AZGetHandleSize(d.H(12)), 0);
  EXPECT_TRUE(FIsEmptyPath(reinterpret_cast<::Path>(d.H(16))));
  EXPECT_EQ(d.Get<double>(20), 0.0);
  EXPECT_EQ(I32At(d.H(28), 0), 0);
  EXPECT_EQ(I32At(strs, 0), 2);
  LStrHandle e;
  std::memcpy(&e, *strs + 4, 4);
  EXPECT_EQ(Str(e), "");
}

TEST_F(DataReset, UnionsGoBackToElementZero) {
  Built t(Union({Cluster({I16(), DBL()}), Cluster({I16(), String()})}));
  Datum d(t.td());
  d.Set<int16>(0, 1);
  d.Set<LStrHandle>(2, NewLStr("held"));
  EXPECT_EQ(ResetData(t.td(), d.p()), kNoErr);
  EXPECT_EQ(d.Get<int16>(0), 0);
  EXPECT_EQ(d.Get<double>(2), 0.0);
  d.Set<int16>(0, 5);
  EXPECT_EQ(ResetData(t.td(), d.p()), kArgErr);
  d.Set<int16>(0, 0);
}

TEST_F(DataReset, AFixedArrayWithoutHandleIsMadeAgain) {
  // A null handle is the empty array: no broken invariant.
  Built t(Array(I16(), {TDFixed(3)}));
  Datum d(t.td());
  DisposeData(t.td(), d.p(), d.end());
  EXPECT_EQ(ResetData(t.td(), d.p()), kNoErr);
  EXPECT_EQ(DataFailures(), 0) << ReportText();
  ASSERT_NE(d.H(), nullptr);
  EXPECT_EQ(DSGetHandleSize(d.H()), 10);
  EXPECT_EQ(I32At(d.H(), 0), 3);
}

}  // namespace
