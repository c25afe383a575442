// Comparison of type descriptors, enumeration items and object-manager ids.
#include <gtest/gtest.h>

#include "engine/datatype.h"
#include "engine/omid.h"
#include "engine_test_support.h"
#include "tools/tdbuilder.h"

using namespace tdb;
using qxtest::EngineTest;

namespace {

int32 Cmp(const tdb::TD& a, const tdb::TD& b, int32 mode = 0) {
  std::vector<uChar> x = a.Bytes(), y = b.Bytes();
  return TDCompareWalk(AsTD(x), AsTD(y), mode);
}

using TDComparison = EngineTest;

TEST_F(TDComparison, Numerics) {
  EXPECT_EQ(Cmp(I32(), I32()), 0);
  EXPECT_EQ(Cmp(I32(), U32()), kTDDiffTypedef);  // signedness
  EXPECT_EQ(Cmp(I64(), U64()), 0x0001);
  EXPECT_EQ(Cmp(I32(), I16()), 0x0010);
  EXPECT_EQ(Cmp(SGL(), DBL()), 0x0010);
  EXPECT_EQ(Cmp(I32(), SGL()), 0x0010);
  EXPECT_EQ(Cmp(CSG(), CDB()), 0x0010);
  EXPECT_EQ(Cmp(I8(), String()), 0x0100);
  EXPECT_EQ(Failures(), 0);
}

TEST_F(TDComparison, ClustersAndElementCounts) {
  EXPECT_EQ(Cmp(Cluster({I32()}), Cluster({I32(), I32()})), 0x1000);
  EXPECT_EQ(Cmp(Cluster({I32()}), Union({I32()})), 0x0100);
  EXPECT_EQ(Cmp(Cluster({I32(), I8()}), Cluster({I32(), I16()})), 0x0010);
  // The walk stops at the first element that makes the types incompatible.
  EXPECT_EQ(Cmp(Cluster({String(), I32()}), Cluster({I32(), I8()})), 0x0100);
  EXPECT_EQ(Cmp(Cluster({I32(), String(), I32()}), Cluster({U32(), I16(), I8()})), 0x0101);
  EXPECT_EQ(Cmp(Cluster({}), Cluster({})), 0);
}

TEST_F(TDComparison, Names) {
  tdb::TD named = I32().Named("x");
  EXPECT_EQ(Cmp(named, I32()), 0);
  EXPECT_EQ(Cmp(named, I32(), kTDCmpNames), 0x8000);
  EXPECT_EQ(Cmp(named, I32().Named("x"), kTDCmpNames), 0);
  // Names at this level only, or below it only.
  tdb::TD a = Cluster({I8().Named("p")}).Named("A");
  tdb::TD b = Cluster({I8().Named("q")}).Named("B");
  EXPECT_EQ(Cmp(a, b, kTDCmpNames), 0x8000);
  EXPECT_EQ(Cmp(a, Cluster({I8().Named("q")}).Named("A"), kTDCmpNames), 0);
  EXPECT_EQ(Cmp(a, Cluster({I8().Named("p")}).Named("B"), kTDCmpNamesBelow), 0);
  EXPECT_EQ(Cmp(a, b, kTDCmpNamesBelow), 0x8000);
  EXPECT_EQ(Cmp(a, b, kTDCmpNames | kTDCmpNamesBelow), 0x8000);
  // The standard cluster's empty names count as none.
  std::vector<uChar> nine(reinterpret_cast<const uChar*>(StdTDTable[24]),
                          reinterpret_cast<const uChar*>(StdTDTable[24]) + StdTDTable[24]->size);
  std::vector<uChar> plain = Cluster({I32(), I32(), I32(), I32(), I32(), I32(), I32(), I32(), I32()}).Bytes();
  EXPECT_EQ(TDCompareWalk(StdTDTable[24], AsTD(nine), 3), 0);
  EXPECT_EQ(TDCompareWalk(StdTDTable[24], AsTD(plain), 3), 0);
  EXPECT_EQ(Failures(), 0);
}

TEST_F(TDComparison, RefnumAgainstU32) {
  EXPECT_EQ(Cmp(Refnum(2), U32()), 0x0100);
  EXPECT_EQ(Cmp(U32(), Refnum(2)), 0x0100);
  EXPECT_EQ(Cmp(Refnum(2), U32(), kTDCmpRefnumU32), 0);
  EXPECT_EQ(Cmp(U32(), Refnum(2), kTDCmpRefnumU32), 0);
  EXPECT_EQ(Cmp(I32(), Refnum(2), kTDCmpRefnumU32), 0x0100);
}

TEST_F(TDComparison, Typedefs) {
  EXPECT_EQ(Cmp(Typedef("t", I32()), I32()), 0x0001);
  EXPECT_EQ(Cmp(I32(), Typedef("t", I32())), 0x0001);
  EXPECT_EQ(Cmp(Typedef("t", I32()), Typedef("t", I32())), 0);
  EXPECT_EQ(Cmp(Typedef("t", I32()), Typedef("u", I32())), 0x0001);
  EXPECT_EQ(Cmp(Typedef("t", I32(), 1), Typedef("t", I32(), 2)), 0x0001);
  EXPECT_EQ(Cmp(Typedef("t", I32()), Typedef("t", DBL())), 0x0010);
  // Compared as an ordinary code.
  EXPECT_EQ(Cmp(Typedef("t", I32()), I32(), kTDCmpTypedefCode), 0x0100);
  EXPECT_EQ(Cmp(Typedef("t", I32()), Typedef("u", I32()), kTDCmpTypedefCode), 0x0100);
  EXPECT_EQ(Cmp(Typedef("t", I32(), 1), Typedef("t", I32(), 2), kTDCmpTypedefCode), 0x0001);
  EXPECT_EQ(Cmp(Typedef("t", I32()), Typedef("t", I16()), kTDCmpTypedefCode), 0x0010);
}

TEST_F(TDComparison, EnumerationsAndUnits) {
  tdb::TD ab = Enum(kTDEnumU16, {"a", "b"});
  EXPECT_EQ(Cmp(ab, Enum(kTDEnumU16, {"a", "b"})), 0);
  EXPECT_EQ(Cmp(ab, Enum(kTDEnumU16, {"a", "b", "c"})), 0x0010);
  EXPECT_EQ(Cmp(Enum(kTDEnumU16, {"a", "b", "c"}), ab), 0x0010);
  EXPECT_EQ(Cmp(ab, Enum(kTDEnumU16, {"a", "x"})), 0x0080);
  EXPECT_EQ(Cmp(ab, Enum(kTDEnumU16, {"x"})), 0x0080 | 0x0000);
  EXPECT_EQ(Cmp(ab, U16()), 0x0010);
  EXPECT_EQ(Cmp(U16(), ab), 0x0010);
  EXPECT_EQ(Cmp(ab, Enum(kTDEnumU8, {"a", "b"})), 0x0010);
  tdb::TD metres = Unit(kTDUnitDBL, {{1, 1}});
  EXPECT_EQ(Cmp(metres, DBL()), 0x0800);
  EXPECT_EQ(Cmp(DBL(), metres), 0x0800);
  EXPECT_EQ(Cmp(metres, Unit(kTDUnitDBL, {{1, 1}})), 0);
  EXPECT_EQ(Cmp(metres, Unit(kTDUnitDBL, {{1, 2}})), 0x0800);
  EXPECT_EQ(Cmp(metres, Unit(kTDUnitDBL, {{1, 1}, {2, 1}})), 0x0800);
  EXPECT_EQ(Cmp(metres, Unit(kTDUnitSGL, {{1, 1}})), 0x0010);
}

TEST_F(TDComparison, StringsAndBounds) {
  EXPECT_EQ(Cmp(String(), StringView()), 0x0008);
  EXPECT_EQ(Cmp(String(), StringOf(kTDString37)), 0x0002);
  EXPECT_EQ(Cmp(StringOf(kTDString37), StringView()), 0x0002);
  EXPECT_EQ(Cmp(String(), Path()), 0x0100);
  EXPECT_EQ(Cmp(StringOf(kTDString33), Path()), 0x0100);
  EXPECT_EQ(Cmp(String(TDFixed(4)), String(TDFixed(8))), 0x0400);
  EXPECT_EQ(Cmp(String(4), String(kTDVariable)), 0x0008);
  EXPECT_EQ(Cmp(String(TDFixed(4)), String(4)), 0x0008);
  EXPECT_EQ(Cmp(Handle(1), Handle(1)), 0);
  EXPECT_EQ(Cmp(Handle(1), Handle(2)), 0x0100);
  EXPECT_EQ(Cmp(Block(4), Block(8)), 0x0400);
}

TEST_F(TDComparison, Arrays) {
  EXPECT_EQ(Cmp(Array(I32()), Array(I32())), 0);
  EXPECT_EQ(Cmp(Array(I32()), ArrayView(I32())), 0x0008);
  EXPECT_EQ(Cmp(Array(I32()), Array(I32(), {-1, -1})), 0x0200);
  EXPECT_EQ(Cmp(Array(I32(), {TDFixed(2)}), Array(I32(), {TDFixed(3)})), 0x0400);
  EXPECT_EQ(Cmp(Array(I32(), {TDFixed(2)}), Array(I32())), 0x0008);
  EXPECT_EQ(Cmp(Array(I32()), Array(U32())), 0x0001);
  EXPECT_EQ(Cmp(Array(I32()), Cluster({I32()})), 0x0100);
}

TEST_F(TDComparison, BooleansAndHeaderOnlyCodes) {
  EXPECT_EQ(Cmp(Boolean(), Boolean()), 0);
  EXPECT_EQ(Cmp(Boolean(), OldBoolean()), 0x0100);
  EXPECT_EQ(Cmp(Boolean(), U8()), 0x0100);
  EXPECT_EQ(Cmp(Boolean(), U8(), kTDCmpBoolAsU8), 0);
  EXPECT_EQ(Cmp(I8(), Boolean(), kTDCmpBoolAsU8), 0x0001);
  EXPECT_EQ(Cmp(Header(kTDOpaque36), Header(kTDOpaque36)), 0);
  EXPECT_EQ(Cmp(Header(kTDOpaque36), Header(kTDOpaque34)), 0x0100);
  EXPECT_EQ(Cmp(Variant(1), Variant(1)), 0);
  EXPECT_EQ(Cmp(Wrapper(I32()), Wrapper(I16())), 0x0010);
  EXPECT_EQ(Cmp(Wrapper(I32()), TypeOnly(I32())), 0x0100);
  EXPECT_EQ(Failures(), 0);
}

TEST_F(TDComparison, Functions) {
  tdb::TD f = Function(5, {0x1100, 0x0001}, {I32(), String()});
  EXPECT_EQ(Cmp(f, Function(5, {0x1100, 0x0001}, {I32(), String()})), 0);
  EXPECT_EQ(Cmp(f, Function(6, {0x1100, 0x0001}, {I32(), String()})), 0x2000);
  EXPECT_EQ(Cmp(f, Function(5, {0x1100}, {I32()})), 0x1000);
  // Outside the bits 0x1100 connector flag words matter only when not loose.
  tdb::TD g = Function(5, {0x1100, 0x0002}, {I32(), String()});
  EXPECT_EQ(Cmp(f, g), 0x2000);
  EXPECT_EQ(Cmp(f, g, kTDCmpLoose), 0);
  tdb::TD h = Function(5, {0x0100, 0x0001}, {I32(), String()});
  EXPECT_EQ(Cmp(f, h, kTDCmpLoose), 0x2000);
  // So does the flags byte.
  tdb::TD flagged = f.WithFlags(0x10);
  std::vector<uChar> x = f.Bytes(), y = flagged.Bytes();
  EXPECT_EQ(TDCompare(AsTD(x), AsTD(y)), 0x2000);
  EXPECT_EQ(TDCompareLoose(AsTD(x), AsTD(y)), 0);
  EXPECT_EQ(Cmp(f, Function(5, {0x1100, 0x0001}, {I32(), Path()})), 0x0100);
}

TEST_F(TDComparison, Refnums) {
  EXPECT_EQ(Cmp(Refnum(2), Refnum(2)), 0);
  EXPECT_EQ(Cmp(Refnum(2), Refnum(3)), 0x4000);
  EXPECT_EQ(Cmp(Refnum(0), Refnum(3)), 0x0001);
  EXPECT_EQ(Cmp(Refnum(3), Refnum(0)), 0x0001);
  EXPECT_EQ(Cmp(Refnum(0), DatalogRefnum(Void())), 0x4000);
  EXPECT_EQ(Cmp(Refnum(0), DatalogRefnum(I32())), 0x0001);
  EXPECT_EQ(Cmp(DatalogRefnum(I32()), DatalogRefnum(I32())), 0);
  EXPECT_EQ(Cmp(DatalogRefnum(I32()), DatalogRefnum(I16())), 0x4000);
  EXPECT_EQ(Cmp(NamedRefnum(6, "Alpha"), NamedRefnum(6, "Alpha")), 0);
  EXPECT_EQ(Cmp(NamedRefnum(6, "Alpha"), NamedRefnum(6, "Beta")), 0x0040);
  EXPECT_EQ(Cmp(NamedRefnum(10, "Alpha"), NamedRefnum(10, "Alphb")), 0x0040);
  EXPECT_EQ(Cmp(ObjectRefnum(1, 1), ObjectRefnum(1, 2)), 0);
  EXPECT_EQ(Cmp(ObjectRefnum(Cluster({I32()})), ObjectRefnum(Cluster({I32()}))), 0);
  EXPECT_EQ(Cmp(ObjectRefnum(Cluster({I32()})), ObjectRefnum(Cluster({I16()}))), 0x0040);
}

TEST_F(TDComparison, AutomationRefnumsThroughTheHook) {
  // The default compares the interface names byte for byte.
  EXPECT_EQ(Cmp(NamedRefnum(7, "PFace"), NamedRefnum(7, "PFace")), 0);
  EXPECT_EQ(Cmp(NamedRefnum(7, "PFace"), NamedRefnum(7, "PFact")), 0x0040);
  // Unless the low four bits of the second TD's byte at offset 7 are set.
  EXPECT_EQ(Cmp(NamedRefnum(7, "PFace"), NamedRefnum(7, "AFace")), 0);
  EXPECT_EQ(Cmp(NamedRefnum(7, "AFace"), NamedRefnum(7, "PFace")), 0x0040);

  static int calls;
  calls = 0;
  OMIdAutoCmpProc old = SetOMIdAutoCmpProc([](const uChar*, const uChar*) -> int32 {
    ++calls;
    return 0;
  });
  EXPECT_EQ(Cmp(NamedRefnum(7, "PFace"), NamedRefnum(7, "PFact")), 0);
  EXPECT_EQ(calls, 1);
  SetOMIdAutoCmpProc(old);
  EXPECT_EQ(Cmp(NamedRefnum(7, "PFace"), NamedRefnum(7, "PFact")), 0x0040);
}

TEST_F(TDComparison, SameAddressIsEqual) {
  std::vector<uChar> x = Cluster({I32(), Cluster({String()})}).Bytes();
  EXPECT_EQ(TDCompareWalk(AsTD(x), AsTD(x), 0xFFFF), 0);
}

using TDEnumItems = EngineTest;

TEST_F(TDEnumItems, DifferAndIndex) {
  std::vector<uChar> ab = Enum(kTDEnumU8, {"alpha", "beta"}).Bytes();
  std::vector<uChar> abc = Enum(kTDEnumU32, {"alpha", "beta", "gamma"}).Bytes();
  std::vector<uChar> ax = Enum(kTDEnumU8, {"alpha", "x"}).Bytes();
  EXPECT_FALSE(EnumItemsDiffer(AsTD(ab), AsTD(abc)));
  EXPECT_TRUE(EnumItemsDiffer(AsTD(ab), AsTD(ax)));
  EXPECT_EQ(EnumItemIndex(reinterpret_cast<ConstPStr>("\x05gamma"), AsTD(abc)), 2);
  EXPECT_EQ(EnumItemIndex(reinterpret_cast<ConstPStr>("\x04" "beta"), AsTD(abc)), 1);
  EXPECT_EQ(EnumItemIndex(reinterpret_cast<ConstPStr>("\x03" "bet"), AsTD(abc)), -1);
  std::vector<uChar> wrapped = Typedef("e", Enum(kTDEnumU16, {"", "z"})).Bytes();
  EXPECT_EQ(EnumItemIndex(reinterpret_cast<ConstPStr>("\x01z"), AsTD(wrapped)), 1);
  EXPECT_EQ(EnumItemIndex(reinterpret_cast<ConstPStr>(""), AsTD(wrapped)), 0);
  EXPECT_EQ(Failures(), 0);
  std::vector<uChar> plain = U16().Bytes();
  EXPECT_EQ(EnumItemIndex(reinterpret_cast<ConstPStr>("\x01z"), AsTD(plain)), -1);
  EXPECT_EQ(Failures(), 1);
}

using TDObjectIds = EngineTest;

int32 IdCmp(const tdb::TD& a, const tdb::TD& b) {
  std::vector<uChar> x = a.Bytes(), y = b.Bytes();
  EXPECT_EQ(TDGetOMId(AsTD(x)), x.data() + 4);
  return OMIdCmp(TDGetOMId(AsTD(x)), TDGetOMId(AsTD(y)));
}

TEST_F(TDObjectIds, NamedClasses) {
  EXPECT_EQ(IdCmp(NamedRefnum(6, "Visa"), NamedRefnum(6, "Visa")), 0);
  EXPECT_EQ(IdCmp(NamedRefnum(6, "Visa"), NamedRefnum(6, "VisaX")), 64);
  EXPECT_EQ(IdCmp(NamedRefnum(6, "Visa"), NamedRefnum(6, "Vise")), 64);
  EXPECT_EQ(IdCmp(NamedRefnum(6, "Visa"), NamedRefnum(10, "Visa")), 0x4000);
  EXPECT_EQ(IdCmp(NamedRefnum(10, ""), NamedRefnum(10, "")), 0);
}

TEST_F(TDObjectIds, ObjectClasses) {
  EXPECT_EQ(IdCmp(ObjectRefnum(1, 4), ObjectRefnum(1, 9)), 0);
  EXPECT_EQ(IdCmp(ObjectRefnum(1, 4), ObjectRefnum(3, 4)), 64);
  EXPECT_EQ(IdCmp(ObjectRefnum(Array(DBL())), ObjectRefnum(Array(DBL()))), 0);
  EXPECT_EQ(IdCmp(ObjectRefnum(Array(DBL())), ObjectRefnum(Array(SGL()))), 64);
  EXPECT_EQ(IdCmp(ObjectRefnum(Array(DBL())), ObjectRefnum(Cluster({DBL()}))), 64);
  EXPECT_EQ(IdCmp(ObjectRefnum(1, 0), Refnum(2)), 0x4000);
}

TEST_F(TDObjectIds, UnrecognizedClassesAreReported) {
  EXPECT_EQ(IdCmp(ObjectRefnum(3, 0), ObjectRefnum(3, 0)), 64);
  EXPECT_NE(ReportText().find("OMIdCmp: unrecognized OMIdQXClass 0x3"), std::string::npos) << ReportText();
  EXPECT_EQ(IdCmp(Refnum(2), Refnum(2)), 64);
  EXPECT_NE(ReportText().find("OMIdCmp: unrecognized OMIdType 0x2"), std::string::npos) << ReportText();
}

}  // namespace
