// The resize family: what each form makes of a handle, the minimum rule of
// the two-list forms, the 1 GiB limit and refused lists, element TDs that
// cannot be sized, and the empty values of added elements.
#include <climits>
#include <functional>

#include "arraysize_test_support.h"

using namespace astest;
using namespace tdb;

namespace {

using ArrayResizing = ArraySizeTest;

TEST_F(ArrayResizing, ArrayResizeOfNullToAnEmptyShape) {
  int32 sizes[2] = {0, 5};
  UHandle h = nullptr;
  ASSERT_EQ(ArrayResize(StdTDTable[kTDCDB], 2, &h, Dims(sizes)), kNoErr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(DSGetHandleSize(h), 8);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{0, 5}));
  DSDisposeHandle(h);
  // The same through the form with a TD handle.
  TDHandle th(CDB());
  h = nullptr;
  ASSERT_EQ(ArrayResize_Old(th.h(), th.offset(), 2, &h, Dims(sizes)), kNoErr);
  EXPECT_EQ(DSGetHandleSize(h), 8);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{0, 5}));
  DSDisposeHandle(h);
}

TEST_F(ArrayResizing, NumericArraysLieAtTheAlignedHeader) {
  for (int16 align : {1, 8}) {
    AlignScope scope(align);
    UHandle h = nullptr;
    ASSERT_EQ(NumericArrayResize(kTDDBL, 1, &h, 4), kNoErr);
    int32 header = align == 1 ? 4 : 8;
    EXPECT_EQ(AlignDatum(StdTDTable[kTDDBL], 4), header);
    EXPECT_EQ(DSGetHandleSize(h), header + 4 * 8) << align;
    // Room for four doubles: write and read them back at the header.
    for (int i = 0; i < 4; ++i) reinterpret_cast<float64*>(*h + header)[i] = i + 0.5;
    EXPECT_EQ(reinterpret_cast<float64*>(*h + header)[3], 3.5);
    DSDisposeHandle(h);
  }
}

// Every standard entry 1 to 30 sizes a one-dimensional array of its data;
// array entries and types outside 1 to 30 are reported and give 1 with the
// handle untouched.
TEST_F(ArrayResizing, NumericTypesOneToThirty) {
  UHandle keep = nullptr;
  ASSERT_EQ(NumericArrayResize(kTDI16, 1, &keep, 3), kNoErr);
  std::vector<uChar> before = Snapshot(keep);
  for (int32 type = -1; type <= 32; ++type) {
    SCOPED_TRACE(type);
    ClearReports();
    const TypeDescriptor* td = type >= 1 && type <= 30 ? StdTDTable[type] : nullptr;
    uChar code = td ? SkipTypedefs(td)->code : 0;
    if (td && code != kTDArray && code != kTDArrayView) {
      UHandle h = nullptr;
      ASSERT_EQ(NumericArrayResize(type, 1, &h, 3), kNoErr);
      EXPECT_EQ(DSGetHandleSize(h), AlignDatum(td, 4) + 3 * DataSize(td));
      DisposeArray(td, 1, &h);  // three empty elements, nothing to free
      EXPECT_EQ(FamilyFailures() + DataFailures(), 0);
    } else {
      EXPECT_EQ(NumericArrayResize(type, 1, &keep, 7), kArgErr);
      EXPECT_EQ(Snapshot(keep), before);
      EXPECT_EQ(FamilyFailures() + DataFailures(), 1);
    }
  }
  DSDisposeHandle(keep);
}

TEST_F(ArrayResizing, HandleVectorsAreCountedByteStrings) {
  UHandle h = nullptr;
  ASSERT_EQ(HandleVectorResize(&h, 5), kNoErr);
  ASSERT_EQ(DSGetHandleSize(h), 9);
  EXPECT_EQ(Snapshot(h), (std::vector<uChar>{5, 0, 0, 0, 0, 0, 0, 0, 0}));
  std::memcpy(*h + 4, "abcde", 5);
  ASSERT_EQ(HandleVectorResize(&h, 2), kNoErr);
  EXPECT_EQ(Snapshot(h), (std::vector<uChar>{2, 0, 0, 0, 'a', 'b'}));
  ASSERT_EQ(HandleVectorResize(&h, 4), kNoErr);
  EXPECT_EQ(Snapshot(h), (std::vector<uChar>{4, 0, 0, 0, 'a', 'b', 0, 0}));
  EXPECT_EQ(HandleVectorResize(&h, -1), kMemFullErr);
  EXPECT_EQ(DSGetHandleSize(h), 8);
  DSDisposeHandle(h);
}

TEST_F(ArrayResizing, FlatHandlesWriteNoHeader) {
  UHandle h = nullptr;
  ASSERT_EQ(FlatHandleResize(4, 6, &h, -1), kNoErr) << "-1 counts as 0";
  EXPECT_EQ(Snapshot(h), std::vector<uChar>(6, 0));
  std::memset(*h, 0x33, 6);
  ASSERT_EQ(FlatHandleResize(4, 6, &h, 2), kNoErr);
  std::vector<uChar> want(6, 0x33);
  want.resize(14, 0);
  EXPECT_EQ(Snapshot(h), want) << "the header is the caller's; added bytes are cleared";
  for (int32 bad : {-2, INT_MIN}) EXPECT_EQ(FlatHandleResize(4, 6, &h, bad), kMemFullErr) << bad;
  EXPECT_EQ(FlatHandleResize(4, 6, &h, 0x10000000), kMemFullErr) << "1 GiB";
  EXPECT_EQ(FlatHandleResize(1, INT_MAX, &h, 5), kMemFullErr) << "no size past 31 bits";
  EXPECT_EQ(Snapshot(h), want);
  ASSERT_EQ(FlatHandleResize(4, 6, &h, -1), kNoErr);
  EXPECT_EQ(DSGetHandleSize(h), 6);
  DSDisposeHandle(h);
}

TEST_F(ArrayResizing, FlatArraysKeepTheirBlockWhenTheCountStands) {
  int32 sizes[2] = {2, 3};
  UHandle h = nullptr;
  ASSERT_EQ(FlatArrayResize(2, 12, 2, &h, Dims(sizes)), kNoErr);
  ASSERT_EQ(DSGetHandleSize(h), 12 + 12);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{2, 3}));
  std::memset(*h + 8, 0x44, 16);
  // Another shape of the same count: no memory call (an allocation made to
  // fail would show, and so would the spare room going), the bytes stay, the
  // sizes change.
  ASSERT_EQ(DSSetHandleSize(h, 32), kNoErr);
  int32 other[2] = {3, 2};
  MemFailNthAllocation(1);
  ASSERT_EQ(FlatArrayResize(2, 12, 2, &h, Dims(other)), kNoErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{3, 2}));
  EXPECT_EQ(DSGetHandleSize(h), 32);
  ASSERT_EQ(DSSetHandleSize(h, 24), kNoErr);
  for (int i = 8; i < 24; ++i) EXPECT_EQ((*h)[i], 0x44) << i;
  // Fewer elements, then more: the added ones are zero bytes.
  int32 one[2] = {1, 2};
  ASSERT_EQ(FlatArrayResize(2, 12, 2, &h, Dims(one)), kNoErr);
  EXPECT_EQ(DSGetHandleSize(h), 16);
  ASSERT_EQ(FlatArrayResize(2, 12, 2, &h, Dims(sizes)), kNoErr);
  EXPECT_EQ(DSGetHandleSize(h), 24);
  for (int i = 8; i < 16; ++i) EXPECT_EQ((*h)[i], 0x44) << i;
  for (int i = 16; i < 24; ++i) EXPECT_EQ((*h)[i], 0) << i;
  // No list: no elements, the header's words cleared.
  ASSERT_EQ(FlatArrayResize(2, 12, 2, &h, nullptr), kNoErr);
  EXPECT_EQ(Snapshot(h), (std::vector<uChar>{0, 0, 0, 0, 0, 0, 0, 0, 0x44, 0x44, 0x44, 0x44}));
  // The list may be the handle itself.
  ASSERT_EQ(FlatArrayResize(2, 12, 2, &h, Dims(sizes)), kNoErr);
  ASSERT_EQ(FlatArrayResize(2, 12, 2, &h, reinterpret_cast<int32**>(h)), kNoErr);
  EXPECT_EQ(Sizes(h, 2), (std::vector<int32>{2, 3}));
  DSDisposeHandle(h);

  // A vector stores its count in the first word.
  UHandle v = nullptr;
  int32 five = 5;
  ASSERT_EQ(FlatVectorResize(4, 8, &v, Dims(&five)), kNoErr);
  EXPECT_EQ(DSGetHandleSize(v), 28);
  EXPECT_EQ(I32At(v, 0), 5);
  ASSERT_EQ(FlatVectorResize(4, 8, &v, nullptr), kNoErr);
  EXPECT_EQ(DSGetHandleSize(v), 8);
  EXPECT_EQ(I32At(v, 0), 0);
  int32 minus = -1;
  EXPECT_EQ(FlatVectorResize(4, 8, &v, Dims(&minus)), kMemFullErr) << "a negative count, -1 too";
  DSDisposeHandle(v);
}

// A header whose sizes cannot be a count is reported, and the flat forms
// answer 1 with the handle as it was.
TEST_F(ArrayResizing, FlatFormsRefuseACorruptHeader) {
  struct Case {
    const char* what;
    std::vector<int32> header;
    int32 size;
  };
  const Case cases[] = {
      {"negative size", {-1, 2}, 8 + 8},
      {"31 bits", {65536, 32768}, 8 + 8},
      {"more elements than held", {2, 3}, 8 + 8},
      {"shorter than its header", {0, 0}, 6},
  };
  int32 want[2] = {1, 1};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UHandle h = DSNewHClr(c.size);
    std::memcpy(*h, c.header.data(), size_t(std::min(8, c.size)));
    std::vector<uChar> before = Snapshot(h);
    ClearReports();
    EXPECT_EQ(FlatArrayResize(4, 8, 2, &h, Dims(want)), kArgErr);
    EXPECT_EQ(FlatArrayResize2(4, 8, 2, &h, Dims(want), nullptr), kArgErr);
    EXPECT_EQ(Snapshot(h), before);
    EXPECT_EQ(FamilyFailures(), 2);
    DSDisposeHandle(h);
  }
  // A vector's count word alike.
  UHandle v = DSNewHClr(4 + 4);
  int32 seven = 7, one = 1;
  std::memcpy(*v, &seven, 4);
  ClearReports();
  EXPECT_EQ(FlatVectorResize(4, 4, &v, Dims(&one)), kArgErr);
  EXPECT_EQ(HandleVectorResize(&v, 1), kArgErr);
  EXPECT_EQ(FamilyFailures(), 2);
  EXPECT_EQ(I32At(v, 0), 7);
  DSDisposeHandle(v);
  // Arguments the flat forms cannot work with.
  ClearReports();
  UHandle none = nullptr;
  EXPECT_EQ(FlatArrayResize(4, 4, 2, &none, Dims(want)), kArgErr) << "header shorter than the sizes";
  EXPECT_EQ(FlatArrayResize(-4, 8, 2, &none, Dims(want)), kArgErr);
  EXPECT_EQ(FlatArrayResize(4, 8, -1, &none, nullptr), kArgErr);
  EXPECT_EQ(FlatVectorResize(4, 8, nullptr, nullptr), kArgErr);
  EXPECT_EQ(FlatHandleResize(4, -1, &none, 1), kArgErr);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(FamilyFailures(), 5);
}

TEST_F(ArrayResizing, TwoListFormsTakeTheMinimum) {
  // Each case: the two lists (empty: none) and the sizes that result.
  struct Case {
    std::vector<int32> a, b, want;
  };
  const Case cases[] = {
      {{2, 7}, {5, 3}, {2, 3}},
      {{5, 3}, {2, 7}, {2, 3}},
      {{4, 4}, {4, 4}, {4, 4}},
      {{}, {6, 1}, {6, 1}},
      {{6, 1}, {}, {6, 1}},
      {{}, {}, {0, 0}},
  };
  TDHandle th(I16());
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.a) + " " + ::testing::PrintToString(c.b));
    Dims a(c.a.empty() ? nullptr : c.a.data()), b(c.b.empty() ? nullptr : c.b.data());
    int32 count = c.want[0] * c.want[1];
    UHandle h = nullptr;
    ASSERT_EQ(ArrayResize2(StdTDTable[kTDI16], 2, &h, a, b), kNoErr);
    EXPECT_EQ(Sizes(h, 2), c.want);
    EXPECT_EQ(DSGetHandleSize(h), 8 + 2 * count);
    DSDisposeHandle(h);
    h = nullptr;
    ASSERT_EQ(ArrayResize2_Old(th.h(), th.offset(), 2, &h, a, b), kNoErr);
    EXPECT_EQ(Sizes(h, 2), c.want);
    EXPECT_EQ(DSGetHandleSize(h), 8 + 2 * count);
    DSDisposeHandle(h);
    h = nullptr;
    ASSERT_EQ(FlatArrayResize2(2, 8, 2, &h, a, b), kNoErr);
    EXPECT_EQ(Sizes(h, 2), c.want);
    EXPECT_EQ(DSGetHandleSize(h), 8 + 2 * count);
    DSDisposeHandle(h);
  }
  struct Counts {
    int32 a, b, want;  // -9: none
  };
  for (Counts c : {Counts{3, 5, 3}, Counts{5, 3, 3}, Counts{4, 4, 4}, Counts{-9, 6, 6}, Counts{6, -9, 6},
                   Counts{-9, -9, 0}, Counts{-1, 2, 0}}) {
    SCOPED_TRACE(std::to_string(c.a) + " " + std::to_string(c.b));
    Dims a(c.a == -9 ? nullptr : &c.a), b(c.b == -9 ? nullptr : &c.b);
    UHandle h = nullptr;
    ASSERT_EQ(VectorResize2(StdTDTable[kTDI32], &h, a, b), kNoErr);
    EXPECT_EQ(I32At(h, 0), c.want);
    EXPECT_EQ(DSGetHandleSize(h), 4 + 4 * c.want);
    DSDisposeHandle(h);
    h = nullptr;
    ASSERT_EQ(VectorResize2_Old(th.h(), th.offset(), &h, a, b), kNoErr);
    EXPECT_EQ(I32At(h, 0), c.want);
    EXPECT_EQ(DSGetHandleSize(h), 4 + 2 * c.want);
    DSDisposeHandle(h);
    h = nullptr;
    if (c.a == -1) {
      EXPECT_EQ(FlatVectorResize2(2, 4, &h, a, b), kMemFullErr) << "flat counts are never -1";
      EXPECT_EQ(h, nullptr);
      continue;
    }
    ASSERT_EQ(FlatVectorResize2(2, 4, &h, a, b), kNoErr);
    EXPECT_EQ(I32At(h, 0), c.want);
    EXPECT_EQ(DSGetHandleSize(h), 4 + 2 * c.want);
    DSDisposeHandle(h);
  }
}

TEST_F(ArrayResizing, VectorsOfStringsDisposeWhatTheyDrop) {
  UHandle h = nullptr;
  int32 three = 3;
  ASSERT_EQ(VectorResize(StdTDTable[kStdTDString], &h, Dims(&three)), kNoErr);
  EXPECT_EQ(I32At(h, 0), 3);
  for (int i = 0; i < 3; ++i) dtest::PutStr(*h + 4 + 4 * i, "element " + std::to_string(i));
  int32 live = dtest::LiveHandles();
  int32 one = 1;
  ASSERT_EQ(VectorResize(StdTDTable[kStdTDString], &h, Dims(&one)), kNoErr);
  EXPECT_EQ(dtest::LiveHandles(), live - 2) << "the second and third strings are gone";
  EXPECT_EQ(DSGetHandleSize(h), 8);
  EXPECT_EQ(I32At(h, 0), 1);
  EXPECT_EQ(dtest::StrAt(*h + 4), "element 0");
  // The count may lie in the handle itself.
  ASSERT_EQ(VectorResize_Old(nullptr, 0, &h, Dims(&one)), kArgErr);
  TDHandle th(String());
  ASSERT_EQ(VectorResize_Old(th.h(), th.offset(), &h, reinterpret_cast<int32**>(h)), kNoErr);
  EXPECT_EQ(I32At(h, 0), 1);
  int32 minus = -1;
  ASSERT_EQ(VectorResize(StdTDTable[kStdTDString], &h, Dims(&minus)), kNoErr) << "-1 counts as 0";
  EXPECT_EQ(I32At(h, 0), 0);
  EXPECT_EQ(DSGetHandleSize(h), 4);
  DSDisposeHandle(h);
}

TEST_F(ArrayResizing, GrowingClearsOnlyTheAddedBytes) {
  UHandle h = nullptr;
  int32 four = 4, six = 6;
  ASSERT_EQ(VectorResize(StdTDTable[kTDDBL], &h, Dims(&four)), kNoErr);
  std::memset(*h + 4, 0x5C, 32);
  ASSERT_EQ(VectorResize(StdTDTable[kTDDBL], &h, Dims(&six)), kNoErr);
  ASSERT_EQ(DSGetHandleSize(h), 4 + 48);
  EXPECT_EQ(I32At(h, 0), 6);
  for (int i = 4; i < 36; ++i) EXPECT_EQ((*h)[i], 0x5C) << i;
  for (int i = 36; i < 52; ++i) EXPECT_EQ((*h)[i], 0) << i;
  DSDisposeHandle(h);
}

// ---- Limits and refusals --------------------------------------------------------

// Each form at the first count the 1 GiB limit refuses: 2, the handle
// byte-identical.
TEST_F(ArrayResizing, TheLimitLeavesTheHandleAsItWas) {
  TDHandle th(DBL());
  UHandle h = nullptr;
  ASSERT_EQ(NumericArrayResize(kTDDBL, 1, &h, 3), kNoErr);
  std::memset(*h + 4, 0x21, 24);
  std::vector<uChar> before = Snapshot(h);
  const int32 limit = 0x40000000 / 8;
  int32 count = limit;
  std::vector<int32> sizes = {limit / 4, 4};
  struct Form {
    const char* name;
    std::function<MgErr()> run;
  };
  const Form forms[] = {
      {"ArrayResizeElts", [&] { return ArrayResizeElts(StdTDTable[kTDDBL], 1, &h, limit); }},
      {"SetArraySize", [&] { return SetArraySize(th.h(), th.offset(), 1, &h, limit); }},
      {"NumericArrayResize", [&] { return NumericArrayResize(kTDDBL, 1, &h, limit); }},
      {"VectorResize", [&] { return VectorResize(StdTDTable[kTDDBL], &h, Dims(&count)); }},
      {"VectorResize_Old", [&] { return VectorResize_Old(th.h(), th.offset(), &h, Dims(&count)); }},
      {"VectorResize2", [&] { return VectorResize2(StdTDTable[kTDDBL], &h, Dims(&count), nullptr); }},
      {"FlatVectorResize", [&] { return FlatVectorResize(8, 4, &h, Dims(&count)); }},
      {"FlatHandleResize", [&] { return FlatHandleResize(8, 4, &h, limit); }},
      {"FlatArrayResize", [&] { return FlatArrayResize(8, 8, 2, &h, Dims(sizes.data())); }},
      {"SetArraySzAndInflateNewElt", [&] { return SetArraySzAndInflateNewElt(th.h(), th.offset(), 1, &h, limit); }},
      {"HandleVectorResize", [&] { return HandleVectorResize(&h, 0x40000000); }},
  };
  for (const Form& f : forms) {
    EXPECT_EQ(f.run(), kMemFullErr) << f.name;
    EXPECT_EQ(Snapshot(h), before) << f.name;
  }
  EXPECT_EQ(FamilyFailures() + DataFailures(), 0);
  DSDisposeHandle(h);
}

// Lists that cannot be a count give 2 through every form that takes lists.
TEST_F(ArrayResizing, RefusedListsLeaveTheHandleAsItWas) {
  TDHandle th(String());
  UHandle h = nullptr;
  int32 two[2] = {1, 2};
  ASSERT_EQ(ArrayResize(StdTDTable[kStdTDString], 2, &h, Dims(two)), kNoErr);
  dtest::PutStr(*h + 8, "a");
  dtest::PutStr(*h + 12, "b");
  std::vector<uChar> before = Snapshot(h);
  int32 big[2] = {65536, 65536};
  for (std::vector<int32> bad : {std::vector<int32>{-1, 5}, {65536, 65536}, {5, -1}}) {
    SCOPED_TRACE(::testing::PrintToString(bad));
    EXPECT_EQ(ArrayResize2(StdTDTable[kStdTDString], 2, &h, Dims(bad.data()), nullptr), kMemFullErr);
    EXPECT_EQ(ArrayResize2(StdTDTable[kStdTDString], 2, &h, Dims(bad.data()), Dims(big)), kMemFullErr);
    EXPECT_EQ(ArrayResize2_Old(th.h(), th.offset(), 2, &h, nullptr, Dims(bad.data())), kMemFullErr);
    EXPECT_EQ(ArrayResize_Old(th.h(), th.offset(), 2, &h, Dims(bad.data())), kMemFullErr);
    EXPECT_EQ(FlatArrayResize2(4, 8, 2, &h, Dims(bad.data()), Dims(big)), kMemFullErr);
    EXPECT_EQ(Snapshot(h), before);
  }
  EXPECT_EQ(dtest::StrAt(*h + 12), "b");
  EXPECT_EQ(FamilyFailures() + DataFailures(), 0);
  DisposeArray(StdTDTable[kStdTDString], 2, &h);
}

// An element TD that cannot be sized is reported and gives 1, untouched.
TEST_F(ArrayResizing, ElementTDsOfArrayTypeAreRefused) {
  UHandle h = nullptr;
  ASSERT_EQ(NumericArrayResize(kTDU8, 1, &h, 2), kNoErr);
  std::vector<uChar> before = Snapshot(h);
  Built arr(Array(I32()));
  Built view(ArrayView(I32()));
  Built named(Typedef("t", Array(DBL())));
  TDHandle th(Array(String()));
  int32 one = 1;
  struct Form {
    const char* name;
    std::function<MgErr()> run;
  };
  const Form forms[] = {
      {"ArrayResize of arrays", [&] { return ArrayResize(arr.td(), 1, &h, Dims(&one)); }},
      {"VectorResize of views", [&] { return VectorResize(view.td(), &h, Dims(&one)); }},
      {"VectorResize2 of a typedef'd array", [&] { return VectorResize2(named.td(), &h, Dims(&one), nullptr); }},
      {"SetArraySize", [&] { return SetArraySize(th.h(), th.offset(), 1, &h, 1); }},
      {"SetArraySzAndInflateNewElt", [&] { return SetArraySzAndInflateNewElt(th.h(), th.offset(), 1, &h, 4); }},
      {"VectorResize_Old", [&] { return VectorResize_Old(th.h(), th.offset(), &h, Dims(&one)); }},
      {"NumericArrayResize 31", [&] { return NumericArrayResize(31, 1, &h, 1); }},
      {"NumericArrayResize 0", [&] { return NumericArrayResize(0, 1, &h, 1); }},
      {"NumericArrayResize 25 (array of strings)", [&] { return NumericArrayResize(25, 1, &h, 1); }},
      {"VectorResize without TD", [&] { return VectorResize(nullptr, &h, Dims(&one)); }},
      {"ArrayResize2 of rank -1", [&] { return ArrayResize2(StdTDTable[kTDU8], -1, &h, nullptr, nullptr); }},
  };
  for (const Form& f : forms) {
    ClearReports();
    EXPECT_EQ(f.run(), kArgErr) << f.name;
    EXPECT_EQ(Snapshot(h), before) << f.name;
    EXPECT_EQ(FamilyFailures() + DataFailures(), 1) << f.name;
  }
  DSDisposeHandle(h);
}

// ---- Empty values of added elements ---------------------------------------------

TEST_F(ArrayResizing, AddedElementsGetTheirEmptyValues) {
  TD record = Cluster({String(), I32()});
  TDHandle th(record, 4);
  const TypeDescriptor* elem = th.td();
  ASSERT_EQ(DataSize(elem), 8);
  UHandle h = nullptr;
  ASSERT_EQ(SetArraySzAndInflateNewElt(th.h(), th.offset(), 1, &h, 1), kNoErr);
  dtest::PutStr(*h + 4, "kept");
  int32 seven = 7;
  std::memcpy(*h + 8, &seven, 4);
  int32 one = 1;
  std::memcpy(*h, &one, 4);
  ASSERT_EQ(SetArraySzAndInflateNewElt(th.h(), th.offset(), 1, &h, 3), kNoErr);
  ASSERT_EQ(DSGetHandleSize(h), 4 + 24);
  EXPECT_EQ(I32At(h, 0), 1) << "the sizes are the caller's";
  EXPECT_EQ(dtest::StrAt(*h + 4), "kept");
  EXPECT_EQ(I32At(h, 8), 7);
  for (int i = 1; i < 3; ++i) {
    LStrHandle s = dtest::LoadSlot(*h + 4 + 8 * i);
    ASSERT_NE(s, nullptr) << "an empty string is a handle of its own";
    EXPECT_EQ((*s)->cnt, 0);
    EXPECT_EQ(I32At(h, 8 + 8 * i), 0);
  }
  int32 three = 3;
  std::memcpy(*h, &three, 4);
  // Shrinking to 2 disposes the third element's string; nothing new.
  ASSERT_EQ(SetArraySzAndInflateNewElt(th.h(), th.offset(), 1, &h, 2), kNoErr);
  EXPECT_EQ(DSGetHandleSize(h), 4 + 16);
  int32 two = 2;
  std::memcpy(*h, &two, 4);
  // A null handle: every element is new.
  UHandle fresh = nullptr;
  ASSERT_EQ(SetArraySzAndInflateNewElt(th.h(), th.offset(), 2, &fresh, 2), kNoErr);
  EXPECT_EQ(DSGetHandleSize(fresh), 8 + 16);
  EXPECT_NE(dtest::LoadSlot(*fresh + 8), nullptr);
  EXPECT_NE(dtest::LoadSlot(*fresh + 16), nullptr);
  int32 sizes[2] = {1, 2};
  std::memcpy(*fresh, sizes, 8);
  DisposeArray(elem, 2, &fresh);
  DisposeArray(elem, 1, &h);
}

TEST_F(ArrayResizing, AFailedResizeInitialisesNothing) {
  TDHandle th(Cluster({String(), I32()}));
  UHandle h = nullptr;
  ASSERT_EQ(SetArraySzAndInflateNewElt(th.h(), th.offset(), 1, &h, 1), kNoErr);
  int32 one = 1;
  std::memcpy(*h, &one, 4);
  std::vector<uChar> before = Snapshot(h);
  int32 live = dtest::LiveHandles();
  MemFailNthAllocation(1);
  EXPECT_EQ(SetArraySzAndInflateNewElt(th.h(), th.offset(), 1, &h, 3), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(Snapshot(h), before);
  EXPECT_EQ(dtest::LiveHandles(), live) << "no empty value was made";
  // The resize went through, the second element's string did not: the
  // error comes back with the array grown, the third element made.
  MemFailNthAllocation(2);
  EXPECT_EQ(SetArraySzAndInflateNewElt(th.h(), th.offset(), 1, &h, 3), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(DSGetHandleSize(h), 4 + 24);
  EXPECT_EQ(dtest::LoadSlot(*h + 12), nullptr);
  EXPECT_NE(dtest::LoadSlot(*h + 20), nullptr);
  int32 three = 3;
  std::memcpy(*h, &three, 4);
  DisposeArray(th.td(), 1, &h);
}

}  // namespace
