// Layout, sizes, alignment, bounds, validity, names and elements of type
// descriptors, and the standard TD table.
#include "engine/datatype.h"

#include <gtest/gtest.h>

#include <cstring>

#include "align_scope.h"
#include "engine_test_support.h"
#include "tools/tdbuilder.h"

using namespace tdb;
using qxtest::EngineTest;

namespace {

using qxtest::AlignScope;

struct Built {
  explicit Built(const tdb::TD& t) : bytes(t.Bytes()) {}
  TypeDescriptor* td() { return AsTD(bytes); }
  std::vector<uChar> bytes;
};

// The offset of element i of a cluster when laid out by the cluster rules.
int32 ElementOffset(TypeDescriptor* cluster, int32 index) {
  int32 off = 0;
  for (int32 i = 0; i < index; ++i) {
    TypeDescriptor* e = ElemTD(cluster, i);
    off = AlignDatum(e, off) + DataSize(e);
  }
  return AlignDatum(ElemTD(cluster, index), off);
}

using TDLayout = EngineTest;

TEST_F(TDLayout, MaximumAlignmentStartsAtOne) { EXPECT_EQ(MaxDataAlign(), 1); }

TEST_F(TDLayout, PackedAndAlignedClusters) {
  Built c(Cluster({I8(), I32()}));
  {
    AlignScope a(1);
    EXPECT_EQ(DataSize(c.td()), 5);
    EXPECT_EQ(ElementOffset(c.td(), 1), 1);
    EXPECT_EQ(AlignDatum(StdTDTable[kTDDBL], 3), 3);  // below 2 the offset is kept
  }
  {
    AlignScope a(4);
    EXPECT_EQ(DataSize(c.td()), 8);
    EXPECT_EQ(ElementOffset(c.td(), 1), 4);
  }
}

TEST_F(TDLayout, SixtyFourBitIntegersAlignAsThirtyTwo) {
  AlignScope a(8);
  Built c(Cluster({I8(), I64()}));
  EXPECT_EQ(ElementOffset(c.td(), 1), 4);
  EXPECT_EQ(DataSize(c.td()), 12);
  Built d(Cluster({I8(), DBL()}));
  EXPECT_EQ(ElementOffset(d.td(), 1), 8);
  EXPECT_EQ(DataSize(d.td()), 16);
}

TEST_F(TDLayout, AlignmentOfEachKind) {
  AlignScope a(8);
  struct Case {
    tdb::TD td;
    int32 alignedFrom1;
  } cases[] = {
      {Void(), 1},           {Boolean(), 1},        {Block(3), 1},         {TypeOnly(DBL()), 1},
      {OldBoolean(), 2},     {I16(), 2},            {EXT(), 2},            {CXT(), 2},
      {CSG(), 4},            {CDB(), 8},            {Unit(kTDUnitCDB, {}), 8},
      {String(), 4},         {Handle(), 4},         {Header(kTDOpaque36), 4},
      {Array(I8()), 4},      {Refnum(2), 4},        {TypedRef(I8()), 4},   {Variant(), 8},
      {Enum(kTDEnumU16, {"a"}), 2},                 {Wrapper(DBL()), 8},
      {Typedef("t", DBL()), 8},                     {Cluster({I8(), I16()}), 2},
      {Cluster({}), 1},      {Union({I8(), SGL()}), 4},
  };
  for (auto& c : cases) {
    Built b(c.td);
    EXPECT_EQ(AlignDatum(b.td(), 1), c.alignedFrom1) << "code 0x" << std::hex << int(b.td()->code);
  }
  EXPECT_EQ(Failures(), 0);
}

TEST_F(TDLayout, AlignmentIsCappedByTheMaximum) {
  AlignScope a(4);
  Built d(DBL());
  EXPECT_EQ(AlignDatum(d.td(), 5), 8);
  Built v(Variant());
  EXPECT_EQ(AlignDatum(v.td(), 5), 8);
  // A cluster stops at the offset rounded up to the maximum.
  Built c(Cluster({I8(), DBL(), I16()}));
  EXPECT_EQ(AlignDatum(c.td(), 1), 4);
  // Array elements follow the dimension sizes at the element's alignment.
  SetMaxDataAlign(8);
  EXPECT_EQ(AlignDatum(d.td(), 4 * 1), 8);
  EXPECT_EQ(AlignDatum(d.td(), 4 * 2), 8);
}

TEST_F(TDLayout, AlignmentKeepsAddressesAboveTwoGigabytes) {
  AlignScope a(4);
  Built d(I32());
  EXPECT_EQ(uInt32(AlignDatum(d.td(), int32(0xC0000001u))), 0xC0000004u);
}

TEST_F(TDLayout, SizesOfEachKind) {
  struct Case {
    tdb::TD td;
    int32 size;
  } cases[] = {
      {Void(), 0},          {I8(), 1},           {I16(), 2},          {I32(), 4},
      {I64(), 8},           {U64(), 8},          {SGL(), 4},          {DBL(), 8},
      {EXT(), 10},          {CSG(), 8},          {CDB(), 16},         {CXT(), 20},
      {Enum(kTDEnumU8, {"a", "b"}), 1},          {Enum(kTDEnumU32, {}), 4},
      {Unit(kTDUnitEXT, {{1, 2}}), 10},          {Unit(kTDUnitCXT, {}), 20},
      {OldBoolean(), 2},    {Boolean(), 1},      {String(), 4},       {Handle(3), 4},
      {Path(), 4},          {Header(kTDOpaque34), 4},                 {Header(kTDOpaque36), 4},
      {StringView(), 12},   {Array(DBL(), {-1, -1}), 4},              {ArrayView(DBL(), {-1, -1}), 20},
      {Cluster({}), 0},     {Union({I8(), DBL()}), 8},                {Block(37), 37},
      {Wrapper(CDB()), 16}, {TypeOnly(CDB()), 0}, {Refnum(1), 4},     {Header(kTDInternal80), 4},
      {TypedRef(DBL()), 4}, {Variant(), 16},     {Typedef("t", Cluster({I8(), I8()})), 2},
  };
  for (auto& c : cases) {
    Built b(c.td);
    EXPECT_EQ(DataSize(b.td()), c.size) << "code 0x" << std::hex << int(b.td()->code);
  }
  EXPECT_EQ(Failures(), 0);
}

TEST_F(TDLayout, HugeClusterSizesSaturate) {
  Built c(Cluster({Block(0x7FFFFFF0), Block(0x7FFFFFF0)}));
  EXPECT_EQ(DataSize(c.td()), 0x7FFFFFFF);
}

TEST_F(TDLayout, DataShape) {
  struct Case {
    tdb::TD td;
    int32 shape;
  } cases[] = {
      {I32(), 0},          {Boolean(), 0},       {Refnum(0), 0},        {Block(8), 0},
      {String(), 2},       {Handle(), 2},        {Path(), 2},           {Header(kTDOpaque35), 2},
      {Header(kTDOpaque36), 2},                  {StringView(), 2},     {StringOf(kTDString37), 2},
      {Array(I8()), 1},    {Variant(), 1},       {Cluster({I32(), DBL()}), 0},
      {Cluster({I32(), Cluster({String()})}), 1}, {Union({I8(), Path()}), 1},
      {Typedef("s", String()), 2},               {Typedef("n", I32()), 0},
  };
  for (auto& c : cases) {
    Built b(c.td);
    EXPECT_EQ(DataShape(b.td()), c.shape) << "code 0x" << std::hex << int(b.td()->code);
  }
  EXPECT_EQ(Failures(), 0);
}

using TDBounds = EngineTest;

TEST_F(TDBounds, FixedStrings) {
  Built fixed(String(TDFixed(16)));
  Built variable(String(kTDVariable));
  Built bounded(String(16));
  EXPECT_TRUE(DataIsFixedSize(fixed.td()));
  EXPECT_FALSE(DataIsFixedSize(variable.td()));
  EXPECT_FALSE(DataIsFixedSize(bounded.td()));
  Built handle(Handle());
  EXPECT_FALSE(DataIsFixedSize(handle.td()));
}

TEST_F(TDBounds, FixedElementCounts) {
  Built six(Array(I32(), {TDFixed(2), TDFixed(3)}));
  EXPECT_EQ(ArrayTDFixedElts(six.td()), 6);
  EXPECT_EQ(ArrayTDBoundElts(six.td()), int32(0x80000006u));
  EXPECT_TRUE(DataIsFixedSize(six.td()));

  Built huge(Array(I32(), {TDFixed(65536), TDFixed(32768)}));
  EXPECT_EQ(ArrayTDFixedElts(huge.td()), -1);
  EXPECT_TRUE(DataIsFixedSize(huge.td()));  // the overflow answer counts as fixed

  // 2^14 by 2^14: the bit lengths add to 30, below the fixed count's limit
  // but at the bound count's.
  Built square(Array(I8(), {TDFixed(1 << 14), TDFixed(1 << 14)}));
  EXPECT_EQ(ArrayTDFixedElts(square.td()), 1 << 28);
  EXPECT_EQ(ArrayTDBoundElts(square.td()), int32(0x80000000u));
}

TEST_F(TDBounds, BoundedAndVariableDimensions) {
  Built bounded(Array(I32(), {2, TDFixed(3)}));
  EXPECT_EQ(ArrayTDFixedElts(bounded.td()), 0);
  EXPECT_EQ(ArrayTDBoundElts(bounded.td()), 6);
  EXPECT_FALSE(DataIsFixedSize(bounded.td()));

  Built variable(Array(I32(), {TDFixed(3), kTDVariable}));
  EXPECT_EQ(ArrayTDFixedElts(variable.td()), 0);
  EXPECT_EQ(ArrayTDBoundElts(variable.td()), -1);

  Built empty(Array(I32(), {TDFixed(0), TDFixed(7)}));
  EXPECT_EQ(ArrayTDBoundElts(empty.td()), 0);
  EXPECT_EQ(ArrayTDFixedElts(empty.td()), 0);

  Built ofStrings(Array(String(), {TDFixed(2)}));
  EXPECT_FALSE(DataIsFixedSize(ofStrings.td()));
  Built ofFixedStrings(Typedef("t", Array(String(TDFixed(4)), {TDFixed(2)})));
  EXPECT_TRUE(DataIsFixedSize(ofFixedStrings.td()));
  EXPECT_EQ(ArrayTDFixedElts(ofFixedStrings.td()), 2);  // through the typedef
}

TEST_F(TDBounds, FixedSizeOfOtherKinds) {
  EXPECT_TRUE(DataIsFixedSize(Built(Cluster({I32(), Boolean(), Refnum(3), Enum(kTDEnumU8, {"x"})})).td()));
  EXPECT_TRUE(DataIsFixedSize(Built(Variant()).td()));
  EXPECT_TRUE(DataIsFixedSize(Built(Cluster({})).td()));
  EXPECT_FALSE(DataIsFixedSize(Built(Union({I32(), Path()})).td()));
  EXPECT_FALSE(DataIsFixedSize(Built(Header(kTDOpaque34)).td()));
  EXPECT_EQ(Failures(), 0);
}

using TDValidity = EngineTest;

TEST_F(TDValidity, WhatDataCanExist) {
  struct Case {
    tdb::TD td;
    bool valid;
  } cases[] = {
      {Void(), false},                    {I32(), true},
      {Cluster({}), false},               {Union({}), false},
      {Cluster({I32(), Void()}), false},  {Array(Void()), false},
      {Refnum(10), true},                 {Refnum(11), false},
      {DatalogRefnum(I32()), true},       {DatalogRefnum(Void()), false},
      {Function(0, {0}, {Void()}), false}, {Function(0, {}, {}), true},
      {Typedef("v", Void()), false},      {Variant(1), true},
      {Variant(2), false},                {Header(kTDOpaque36), true},
      {Header(kTDOpaque34), true},        {Block(0), true},
      {Wrapper(Void()), true},            {StringView(), true},
  };
  for (auto& c : cases) {
    Built b(c.td);
    EXPECT_EQ(bool(TDIsValid(b.td())), c.valid) << "code 0x" << std::hex << int(b.td()->code);
  }
  EXPECT_EQ(Failures(), 0);
}

using TDNames = EngineTest;

TEST_F(TDNames, FoundAfterEveryKindOfTypePart) {
  tdb::TD cases[] = {
      I32(), Void(), Boolean(), Header(kTDOpaque34), Header(kTDOpaque36),
      Enum(kTDEnumU8, {"ab"}), Enum(kTDEnumU16, {"a", "bc"}), Unit(kTDUnitDBL, {{1, -2}, {3, 4}}),
      String(), Path(5), StringOf(kTDString33), StringOf(kTDString37), StringView(), Block(9),
      Handle(2), Refnum(0), Refnum(9), Array(Cluster({I8()}), {-1, -1}), ArrayView(I16()),
      Cluster({I8(), String()}), Union({I8(), DBL()}), Function(3, {1, 2}, {I32(), String()}),
      Wrapper(I32().Named("in")), TypeOnly(I16()), TypedRef(DBL()), DatalogRefnum(Cluster({I32()})),
      NamedRefnum(6, "cls"), NamedRefnum(7, "IFace"), NamedRefnum(10, ""), ObjectRefnum(1, 7),
      ObjectRefnum(Array(I32())), Variant(), Typedef("type", Cluster({I8()}), 5),
  };
  for (const tdb::TD& c : cases) {
    Built b(c.Named("nm"));
    PStr name = TDNamePtr(b.td());
    ASSERT_NE(name, nullptr) << "code 0x" << std::hex << int(b.td()->code);
    EXPECT_EQ(name - b.bytes.data(), int32(b.bytes.size()) - 4) << "code 0x" << std::hex << int(b.td()->code);
    EXPECT_EQ(std::memcmp(name, "\x02nm", 3), 0);
    Built unnamed(c);
    EXPECT_EQ(TDNamePtr(unnamed.td()), nullptr);
  }
  EXPECT_EQ(Failures(), 0);
}

TEST_F(TDNames, EmptyNamesOfTheStandardClusterAreNone) {
  const TypeDescriptor* nine = StdTDTable[24];
  for (int32 i = 0; i < 9; ++i) {
    TypeDescriptor* e = ElemTD(nine, i);
    EXPECT_EQ(e->flags & kTDFlagName, kTDFlagName);
    EXPECT_EQ(e->size, 6);  // length byte and pad counted
    EXPECT_EQ(TDNamePtr(e), nullptr);
  }
  EXPECT_EQ(Failures(), 0);
}

TEST_F(TDNames, NameFlagWithoutRoomAsserts) {
  Built b(I32().WithFlags(kTDFlagName));
  EXPECT_EQ(TDNamePtr(b.td()), nullptr);
  EXPECT_EQ(Failures(), 1);
}

using TDElements = EngineTest;

TEST_F(TDElements, ClusterUnionAndFunctionElements) {
  Built c(Cluster({I8(), String().Named("s"), DBL()}).Named("c"));
  uChar* base = c.bytes.data();
  EXPECT_EQ(reinterpret_cast<uChar*>(ElemTD(c.td(), 0)) - base, 6);
  EXPECT_EQ(reinterpret_cast<uChar*>(ElemTD(c.td(), 1)) - base, 10);
  EXPECT_EQ(reinterpret_cast<uChar*>(ElemTD(c.td(), 2)) - base, 20);
  EXPECT_EQ(reinterpret_cast<uChar*>(ElemTD(c.td(), 3)) - base, 24);  // the end: the name
  EXPECT_EQ(NextTD(ElemTD(c.td(), 1)), ElemTD(c.td(), 2));

  Built f(Function(0, {0x10, 0x20}, {I16(), SGL()}));
  EXPECT_EQ(reinterpret_cast<uChar*>(ElemTD(f.td(), 0)) - f.bytes.data(), 12);
  EXPECT_EQ(ElemTD(f.td(), 1)->code, kTDSGL);

  Built t(Typedef("tt", Union({I8(), I32()})));
  EXPECT_EQ(ElemTD(t.td(), 1)->code, kTDI32);  // through the typedef
  EXPECT_EQ(SkipTypedefs(t.td())->code, kTDUnion);
  EXPECT_EQ(Failures(), 0);
}

TEST_F(TDElements, OffsetsInAHandle) {
  std::vector<uChar> bytes = Cluster({I32(), Cluster({I8(), I16()})}).Bytes();
  UHandle h = nullptr;
  ASSERT_EQ(AZPtrToHand(bytes.data(), &h, int32(bytes.size())), kNoErr);
  int32 inner = ClustElemTDOffset(h, 0, 1);
  EXPECT_EQ(inner, 10);
  EXPECT_EQ(ClustElemTDOffset(h, inner, 1), 20);
  EXPECT_EQ(ClustElemTDOffset(h, inner, 3), -1);
  EXPECT_EQ(Failures(), 1);
  AZDisposeHandle(h);
}

TEST_F(TDElements, ImpossibleRequestsAssertAndGoOn) {
  Built c(Cluster({I32(), I16()}));
  EXPECT_EQ(ElemTD(c.td(), 3), nullptr);
  EXPECT_EQ(ElemTD(c.td(), -1), nullptr);
  EXPECT_EQ(Failures(), 2);
  ClearReports();
  Built i(I32());
  EXPECT_EQ(ElemTD(i.td(), 0), nullptr);
  EXPECT_EQ(ArrayTDFixedElts(i.td()), 0);
  EXPECT_EQ(Failures(), 2);
}

TEST_F(TDElements, SizeZeroElementStopsTheWalk) {
  Built c(Cluster({I32(), I8().WithSize(0), I16()}));
  EXPECT_EQ(DataSize(c.td()), 4);
  EXPECT_GE(Failures(), 1);
  ClearReports();
  EXPECT_EQ(ElemTD(c.td(), 2), nullptr);
  EXPECT_EQ(Failures(), 1);
  ClearReports();
  EXPECT_EQ(DataShape(c.td()), 0);
  EXPECT_EQ(TDCompare(c.td(), c.td()), 0);
  Built d(Cluster({I32(), I8().WithSize(0), I16()}));
  EXPECT_EQ(TDCompare(c.td(), d.td()), 0);
  EXPECT_GE(Failures(), 2);
}

TEST_F(TDElements, FunctionsHaveNoData) {
  Built f(Function(0, {}, {}));
  EXPECT_EQ(DataSize(f.td()), 4);
  EXPECT_EQ(Failures(), 1);
  AlignScope a(8);
  EXPECT_EQ(AlignDatum(f.td(), 1), 4);
  EXPECT_EQ(Failures(), 2);
}

TEST_F(TDElements, UnknownCodesAndVariantKindsAssert) {
  Built odd(Header(0x99));
  EXPECT_EQ(DataSize(odd.td()), 4);  // NumSize of the low four bits
  EXPECT_EQ(Failures(), 1);
  Built v(Variant(3));
  EXPECT_EQ(DataSize(v.td()), 16);
  EXPECT_EQ(Failures(), 2);
}

using StandardTDs = EngineTest;

TEST_F(StandardTDs, EntriesAreTheListedDescriptors) {
  const tdb::TD expected[] = {
      Void(), I8(), I16(), I32(), I64(), U8(), U16(), U32(), U64(), SGL(), DBL(), EXT(), CSG(), CDB(), CXT(),
      String(), Boolean(), Handle(0), Cluster({}), Array(Void()), Cluster({Void()}), Array(Boolean()),
      Array(Cluster({DBL(), DBL()})), Array(Void(), {-1, -1}),
      Cluster({I32().Named(""), I32().Named(""), I32().Named(""), I32().Named(""), I32().Named(""),
               I32().Named(""), I32().Named(""), I32().Named(""), I32().Named("")}),
      Array(String()), Array(EXT()), Array(DBL(), {-1, -1}), Array(U8()), Union({Cluster({U16()})}),
      Cluster({I32(), U32(), Array(Cluster({U32(), U32(), String()}))}), Path(), Array(Cluster({Void()})),
      StringOf(kTDString33), Cluster({Array(EXT()), Array(EXT())}), Refnum(2), Array(U8(), {-1, -1}),
      Refnum(3), Cluster({I32(), I32(), I32(), Array(I32()), Block(32)}), Refnum(0), Function(0, {}, {}),
      Cluster({Boolean(), Boolean(), Boolean(), Boolean()}),
  };
  ASSERT_EQ(sizeof expected / sizeof expected[0], 42u);
  for (int32 i = 0; i <= 41; ++i) {
    std::vector<uChar> want = expected[i].Bytes();
    const TypeDescriptor* got = StdTDTable[i];
    ASSERT_NE(got, nullptr) << i;
    ASSERT_EQ(got->size, want.size()) << "entry " << i;
    EXPECT_EQ(std::memcmp(got, want.data(), want.size()), 0) << "entry " << i;
    EXPECT_EQ(TDCheckBounds(got, got->size), kNoErr) << "entry " << i;
  }
  EXPECT_EQ(StdTDTable[40]->size, 8);
  EXPECT_EQ(DataSize(StdTDTable[kStdTDFourBooleans]), 4);
  EXPECT_EQ(StdTDTable[42], nullptr);
  EXPECT_EQ(StdTDTable[kStdTDCount], nullptr);
}

TEST_F(StandardTDs, NumericsAreIndexedByTheirCodes) {
  for (int32 c = 1; c <= 14; ++c) EXPECT_EQ(StdTDTable[c]->code, c);
}

TEST_F(StandardTDs, ValidExceptVoidAndWhatIsBuiltOnIt) {
  for (int32 i = 0; i <= 40; ++i) {
    bool invalid = i == 0 || i == 18 || i == 19 || i == 20 || i == 23 || i == 32;
    EXPECT_EQ(bool(TDIsValid(StdTDTable[i])), !invalid) << "entry " << i;
  }
  EXPECT_EQ(Failures(), 0);
}

TEST_F(StandardTDs, ObjectRecords) {
  // Data controllers keep their type ID in word 3, display objects in word 9.
  uInt32 words[12] = {0, 0, 0, 77, 0, 0, 0, 0, 0, 99, 0, 0};
  std::vector<uChar> heap(8 + sizeof words, 0xEE);
  std::memcpy(heap.data() + 8, words, sizeof words);
  UHandle h = nullptr;
  ASSERT_EQ(AZPtrToHand(heap.data(), &h, int32(heap.size())), kNoErr);
  EXPECT_EQ(DCOTypeID(h, 8), 77u);
  EXPECT_EQ(DDOTypeID(h, 8), 99u);
  EXPECT_EQ(DCOTypeID(nullptr, 0), 0u);
  AZDisposeHandle(h);
}

}  // namespace
