// Copies with conversion: numerics and enumerations, strings and views,
// arrays into bounded, fixed and variable destinations and views.
#include <gtest/gtest.h>

#include "data_test_util.h"
#include "mgsource/numconv.h"

using namespace tdb;
using namespace dtest;

namespace {

using DataConvert = DataTest;

uInt16 EnumConvert(const TypeDescriptor* from, const TypeDescriptor* to, uInt16 v) {
  uInt16 out = 0xEEEE;
  EXPECT_EQ(CopyConvertData(from, to, &v, &out), kNoErr);
  return out;
}

TEST_F(DataConvert, EnumerationsByItemName) {
  Built abc(Enum(kTDEnumU16, {"a", "b", "c"}));
  Built cb(Enum(kTDEnumU16, {"c", "b"}));
  Built x(Enum(kTDEnumU16, {"x"}));
  EXPECT_EQ(EnumConvert(abc.td(), cb.td(), 1), 1);  // "b"
  EXPECT_EQ(EnumConvert(abc.td(), cb.td(), 0), 0);  // "a" is absent, 0 is kept
  EXPECT_EQ(EnumConvert(abc.td(), cb.td(), 2), 0);  // "c" ...
  EXPECT_EQ(EnumConvert(abc.td(), x.td(), 2), 0);   // absent and past {"x"}
  EXPECT_EQ(EnumConvert(abc.td(), abc.td(), 7), 0) << "past the items";
  Built ab(Enum(kTDEnumU16, {"a", "b"}));
  EXPECT_EQ(EnumConvert(abc.td(), ab.td(), 1), 1) << "matching names keep the value";
  EXPECT_EQ(EnumConvert(abc.td(), ab.td(), 2), 0);

  // Into an enumeration of another width, and from a plain number.
  Built u8(Enum(kTDEnumU8, {"p", "q", "r", "s", "t"}));
  double d = 2.7;
  uChar out = 0xEE;
  ASSERT_EQ(CopyConvertData(StdTDTable[kTDDBL], u8.td(), &d, &out), kNoErr);
  EXPECT_EQ(out, 3);
  d = 9;
  ASSERT_EQ(CopyConvertData(StdTDTable[kTDDBL], u8.td(), &d, &out), kNoErr);
  EXPECT_EQ(out, 0);
}

TEST_F(DataConvert, NumbersFollowTheNumberConversion) {
  for (double v : {2.5, 3.5, -2.5, 1e12, -7.49}) {
    int32 got = 99, want = 98;
    ASSERT_EQ(CopyConvertData(StdTDTable[kTDDBL], StdTDTable[kTDI32], &v, &got), kNoErr);
    ConvertNum(kTDDBL, &v, kTDI32, &want);
    EXPECT_EQ(got, want) << v;
  }
  Built unit(Unit(kTDUnitDBL, {{1, 1}}));
  int32 i = -12;
  double out = 0;
  ASSERT_EQ(CopyConvertData(StdTDTable[kTDI32], unit.td(), &i, &out), kNoErr);
  EXPECT_EQ(out, -12.0);
  int16 same = 0;
  int16 in = -3;
  ASSERT_EQ(CopyConvertData(StdTDTable[kTDI16], StdTDTable[kTDI16], &in, &same), kNoErr);
  EXPECT_EQ(same, -3);
}

TEST_F(DataConvert, ClustersUnionsBlocksAndMismatches) {
  Built from(Cluster({I32(), String(), Boolean()}));
  Built to(Cluster({DBL(), String(6), Boolean()}));
  Datum s(from.td()), d(to.td());
  s.Set<int32>(0, 41);
  PutStr(s.p() + 4, "converted");
  s.Set<uChar>(8, 1);
  ASSERT_EQ(CopyConvertData(from.td(), to.td(), s.p(), d.p()), kNoErr);
  EXPECT_EQ(d.Get<double>(0), 41.0);
  EXPECT_EQ(StrAt(d.p() + 8), "conver");
  EXPECT_EQ(d.Get<uChar>(12), 1);

  Built shorter(Cluster({DBL(), String()}));
  Datum sh(shorter.td());
  EXPECT_EQ(CopyConvertData(from.td(), shorter.td(), s.p(), sh.p()), kArgErr);
  EXPECT_GE(DataFailures(), 1);

  Built b4(Block(4)), b6(Block(6));
  uChar six[6] = {1, 2, 3, 4, 5, 6}, four[4] = {0, 0, 0, 0};
  EXPECT_EQ(CopyConvertData(b6.td(), b4.td(), six, four), kArgErr);
  EXPECT_EQ(four[0], 0);
  Built b6b(Block(6));
  uChar copy[6] = {};
  ASSERT_EQ(CopyConvertData(b6.td(), b6b.td(), six, copy), kNoErr);
  EXPECT_EQ(std::memcmp(copy, six, 6), 0);

  // A string into a number is no conversion: refused, destination untouched.
  int32 n = 5;
  ClearReports();
  EXPECT_EQ(CopyConvertData(StdTDTable[kStdTDString], StdTDTable[kTDI32], s.p() + 4, &n), kArgErr);
  EXPECT_EQ(n, 5);
  EXPECT_GE(DataFailures(), 1);

  Built u1(Union({Cluster({I16(), I32()}), Cluster({I16(), String()})}));
  Built u2(Union({Cluster({I16(), DBL()}), Cluster({I16(), String(TDFixed(3))})}));
  Datum us(u1.td(), false), ud(u2.td());
  us.Set<int16>(0, 1);
  PutStr(us.p() + 2, "abcdef");
  // The fixed string of the new element gets its room.
  ASSERT_EQ(CopyConvertData(u1.td(), u2.td(), us.p(), ud.p()), kNoErr);
  EXPECT_EQ(ud.Get<int16>(0), 1);
  EXPECT_EQ(StrAt(ud.p() + 2), "abc");
  DisposeData(u1.td(), us.p(), us.end());
  us.Set<int16>(0, 0);
  us.Set<int32>(2, 8);
  ASSERT_EQ(CopyConvertData(u1.td(), u2.td(), us.p(), ud.p()), kNoErr);
  EXPECT_EQ(ud.Get<int16>(0), 0);
  EXPECT_EQ(ud.Get<double>(2), 8.0);
}

// The elements of an I32 array handle of these sizes, value = 100 * row + column.
UHandle Grid(int32 rows, int32 cols) {
  UHandle h = nullptr;
  int32 sizes[2] = {rows, cols};
  EXPECT_EQ(ArrayResize(StdTDTable[kTDI32], 2, &h, Dims(sizes)), kNoErr);
  for (int32 r = 0; r < rows; ++r)
    for (int32 c = 0; c < cols; ++c) {
      int32 v = 100 * r + c;
      std::memcpy(*h + 8 + 4 * (r * cols + c), &v, 4);
    }
  return h;
}

TEST_F(DataConvert, ArraysIntoBoundedDestinationsTakeTheSmallerSizes) {
  Built src(Array(I32(), {-1, -1}));
  UHandle g = Grid(3, 4);
  Built same(Array(I32(), {2, 5}));
  Datum d(same.td());
  UHandle dh = d.H();
  ASSERT_EQ(CopyConvertArray(src.td(), same.td(), g, &dh), kNoErr);
  EXPECT_EQ(dh, d.H());
  EXPECT_EQ(Sizes(dh, 2), (std::vector<int32>{2, 4}));
  for (int32 r = 0; r < 2; ++r)
    for (int32 c = 0; c < 4; ++c) EXPECT_EQ(I32At(dh, 8 + 4 * (r * 4 + c)), 100 * r + c);
  EXPECT_EQ(DSGetHandleSize(dh), 8 + 40) << "the bounded array keeps its room";

  Built dbl(Array(DBL(), {5, 3}));
  Datum e(dbl.td());
  UHandle eh = e.H();
  ASSERT_EQ(CopyConvertArray(src.td(), dbl.td(), g, &eh), kNoErr);
  EXPECT_EQ(Sizes(eh, 2), (std::vector<int32>{3, 3}));
  for (int32 r = 0; r < 3; ++r)
    for (int32 c = 0; c < 3; ++c) {
      double v;
      std::memcpy(&v, *eh + 8 + 8 * (r * 3 + c), 8);
      EXPECT_EQ(v, 100.0 * r + c);
    }
  DSDisposeHandle(g);
}

TEST_F(DataConvert, IntoAFixedDestinationTheExtraElementsAreReset) {
  Built src(Array(String(), {-1, -1}));
  Built dst(Array(String(), {TDFixed(3), TDFixed(3)}));
  UHandle s = nullptr;
  int32 sizes[2] = {2, 2};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 2, &s, Dims(sizes)), kNoErr);
  for (int i = 0; i < 4; ++i) PutStr(*s + 8 + 4 * i, "s" + std::to_string(i));
  Datum d(dst.td());
  UHandle dh = d.H();
  for (int i = 0; i < 9; ++i) PutStr(*dh + 8 + 4 * i, "old");
  ASSERT_EQ(CopyConvertArray(src.td(), dst.td(), s, &dh), kNoErr);
  EXPECT_EQ(Sizes(dh, 2), (std::vector<int32>{3, 3}));
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(StrAt(*dh + 8 + 4 * (3 * r + c)), r < 2 && c < 2 ? "s" + std::to_string(2 * r + c) : "");
  DisposeData(src.td(), reinterpret_cast<uChar*>(&s), reinterpret_cast<uChar*>(&s) + 4);
}

TEST_F(DataConvert, FixedDestinationsWithoutConversionNeedTheirCount) {
  Built src(Array(I16()));
  Built dst(Array(I16(), {TDFixed(4)}));
  UHandle s = nullptr;
  int32 three[1] = {3};
  ASSERT_EQ(ArrayResize(StdTDTable[kTDI16], 1, &s, Dims(three)), kNoErr);
  std::memcpy(*s + 4, "\x01\0\x02\0\x03\0", 6);
  Datum d(dst.td());
  UHandle dh = d.H();
  std::memcpy(*dh + 4, "\x09\0\x09\0\x09\0\x09\0", 8);
  EXPECT_EQ(CopyConvertArray(src.td(), dst.td(), s, &dh), kMemFullErr);
  EXPECT_EQ(I32At(dh, 4), 0x00090009) << "nothing moved";
  int32 four[1] = {4};
  ASSERT_EQ(ArrayResize(StdTDTable[kTDI16], 1, &s, Dims(four)), kNoErr);
  ASSERT_EQ(CopyConvertArray(src.td(), dst.td(), s, &dh), kNoErr);
  EXPECT_EQ(std::memcmp(*dh + 4, "\x01\0\x02\0\x03\0\0\0", 8), 0);
  // A destination without the room of its type.
  UHandle small = DSNewHClr(8);
  EXPECT_EQ(CopyConvertArray(src.td(), dst.td(), s, &small), kMemFullErr);
  DSDisposeHandle(small);
  DSDisposeHandle(s);
}

TEST_F(DataConvert, VariableDestinationsAreResized) {
  Built src(Array(I32()));
  Built dst(Array(String()));
  Built dbl(Array(DBL()));
  UHandle s = nullptr;
  int32 two[1] = {2};
  ASSERT_EQ(ArrayResize(StdTDTable[kTDI32], 1, &s, Dims(two)), kNoErr);
  std::memcpy(*s + 4, "\x05\0\0\0\x06\0\0\0", 8);
  UHandle d = nullptr;
  ASSERT_EQ(CopyConvertArray(src.td(), dbl.td(), s, &d), kNoErr);
  ASSERT_EQ(I32At(d, 0), 2);
  double v;
  std::memcpy(&v, *d + 12, 8);
  EXPECT_EQ(v, 6.0);
  ASSERT_EQ(CopyConvertArray(src.td(), dbl.td(), nullptr, &d), kNoErr);
  EXPECT_EQ(I32At(d, 0), 0);
  DSDisposeHandle(d);
  // Same elements: the handle is copied whole.
  UHandle same = nullptr;
  ASSERT_EQ(CopyConvertArray(src.td(), src.td(), s, &same), kNoErr);
  EXPECT_EQ(std::memcmp(*same, *s, 12), 0);
  DSDisposeHandle(same);
  DSDisposeHandle(s);
  // Elements of different rank are no conversion.
  Built twoD(Array(I32(), {-1, -1}));
  UHandle none = nullptr;
  EXPECT_EQ(CopyConvertArray(src.td(), twoD.td(), nullptr, &none), kArgErr);
  (void)dst;
}

TEST_F(DataConvert, StringsIntoViewsAndBack) {
  LStrHandle abc = NewLStr("abc");
  Built str(String());
  Built fixed8(StringView(TDFixed(8)));
  Built bound2(StringView(2));
  Built var(StringView());
  StringViewData v = {reinterpret_cast<uChar*>(1), 77, 5};
  StringViewData keep = v;
  EXPECT_EQ(CopyConvertData(str.td(), fixed8.td(), &abc, &v), kArgErr);
  EXPECT_EQ(std::memcmp(&v, &keep, sizeof v), 0) << "the view is unchanged";
  ASSERT_EQ(CopyConvertData(str.td(), bound2.td(), &abc, &v), kNoErr);
  EXPECT_EQ(v.ptr, (*abc)->str);
  EXPECT_EQ(v.count, 2);
  EXPECT_EQ(v.one, 1);
  ASSERT_EQ(CopyConvertData(str.td(), var.td(), &abc, &v), kNoErr);
  EXPECT_EQ(v.count, 3);
  StringViewData w{};
  ASSERT_EQ(CopyConvertData(var.td(), bound2.td(), &v, &w), kNoErr);
  EXPECT_EQ(w.count, 2);
  EXPECT_EQ(CopyConvertData(var.td(), fixed8.td(), &v, &w), kArgErr);
  EXPECT_EQ(w.count, 2);

  // View to strings of each bound form.
  LStrHandle out = nullptr;
  ASSERT_EQ(CopyConvertData(var.td(), str.td(), &v, &out), kNoErr);
  EXPECT_EQ(Str(out), "abc");
  Built b5(String(5));
  LStrHandle wrong = reinterpret_cast<LStrHandle>(DSNewHClr(8));
  EXPECT_EQ(CopyConvertData(var.td(), b5.td(), &v, &wrong), kMemFullErr);
  LStrHandle right = reinterpret_cast<LStrHandle>(DSNewHClr(9));
  ASSERT_EQ(CopyConvertData(var.td(), b5.td(), &v, &right), kNoErr);
  EXPECT_EQ(Str(right), "abc");
  Built f2(String(TDFixed(2)));
  LStrHandle two = reinterpret_cast<LStrHandle>(DSNewHClr(6));
  ASSERT_EQ(CopyConvertData(var.td(), f2.td(), &v, &two), kNoErr);
  EXPECT_EQ(Str(two), "ab");
  StringViewData bad = {nullptr, 4, 1};
  EXPECT_EQ(CopySString(&bad, &out), kArgErr);
  for (LStrHandle h : {abc, out, wrong, right, two}) DSDisposeHandle(reinterpret_cast<UHandle>(h));
}

struct View2 {
  uChar* ptr;
  int32 size0, stride0, size1, stride1;
};

TEST_F(DataConvert, ArrayViewsWithStridesToArraysAndBack) {
  Built arr(Array(I32(), {-1, -1}));
  Built view(ArrayView(I32(), {-1, -1}));
  UHandle g = Grid(3, 4);
  View2 v{};
  ASSERT_EQ(CopyConvertData(arr.td(), view.td(), &g, &v), kNoErr);
  EXPECT_EQ(v.ptr, *g + 8);
  EXPECT_EQ(v.size0, 3);
  EXPECT_EQ(v.stride0, 16);
  EXPECT_EQ(v.size1, 4);
  EXPECT_EQ(v.stride1, 4);

  // Every other column of the last two rows.
  View2 part = {*g + 8 + 16, 2, 16, 2, 8};
  UHandle out = nullptr;
  ASSERT_EQ(CopyConvertData(view.td(), arr.td(), &part, &out), kNoErr);
  EXPECT_EQ(Sizes(out, 2), (std::vector<int32>{2, 2}));
  EXPECT_EQ(I32At(out, 8), 100);
  EXPECT_EQ(I32At(out, 12), 102);
  EXPECT_EQ(I32At(out, 16), 200);
  EXPECT_EQ(I32At(out, 20), 202);

  // The whole view back into an array of doubles, then to a view and back
  // into integers: the same grid again.
  Built dbls(Array(DBL(), {-1, -1}));
  UHandle d = nullptr;
  ASSERT_EQ(CopyConvertData(view.td(), dbls.td(), &v, &d), kNoErr);
  Built dview(ArrayView(DBL(), {-1, -1}));
  View2 dv{};
  ASSERT_EQ(CopyConvertData(dbls.td(), dview.td(), &d, &dv), kNoErr);
  UHandle again = nullptr;
  ASSERT_EQ(CopyConvertData(dview.td(), arr.td(), &dv, &again), kNoErr);
  ASSERT_EQ(DSGetHandleSize(again), DSGetHandleSize(g));
  EXPECT_EQ(std::memcmp(*again, *g, size_t(DSGetHandleSize(g))), 0);

  // A view of a fixed field larger than the source is refused.
  Built big(ArrayView(I32(), {TDFixed(5), -1}));
  View2 b = {nullptr, 9, 9, 9, 9};
  EXPECT_EQ(CopyConvertData(arr.td(), big.td(), &g, &b), kArgErr);
  EXPECT_EQ(b.size0, 9);
  // A fixed destination of another count is refused; a null one is the
  // empty array, whose room is made.
  Built fixed(Array(I32(), {TDFixed(2), TDFixed(2)}));
  UHandle small = DSNewHClr(8 + 8);
  EXPECT_EQ(CopyConvertData(view.td(), fixed.td(), &v, &small), kMemFullErr);
  EXPECT_EQ(DSGetHandleSize(small), 16);
  UHandle none = nullptr;
  ASSERT_EQ(CopyConvertData(view.td(), fixed.td(), &v, &none), kNoErr);
  EXPECT_EQ(Sizes(none, 2), (std::vector<int32>{2, 2}));
  EXPECT_EQ(I32At(none, 8 + 12), 101);
  UHandle f = DSNewHClr(8 + 16);
  ASSERT_EQ(CopyConvertData(view.td(), fixed.td(), &v, &f), kNoErr);
  EXPECT_EQ(Sizes(f, 2), (std::vector<int32>{2, 2}));
  EXPECT_EQ(I32At(f, 8 + 12), 101);
  for (UHandle h : {g, out, d, again, f, small, none}) DSDisposeHandle(h);
}

}  // namespace
