// The descriptors of the panel classes' data-space entries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data_test_util.h"
#include "engine/dsalloc.h"
#include "mgsource/byteorder.h"

namespace {

using Bytes = std::vector<uChar>;

class PanelTDTest : public dtest::DataTest {
 protected:
  // The bytes of a built descriptor, checked to walk cleanly; the handle is disposed.
  static Bytes Take(UHandle h) {
    EXPECT_NE(h, nullptr);
    if (!h) return {};
    Bytes b(*h, *h + AZGetHandleSize(h));
    AZDisposeHandle(h);
    EXPECT_EQ(TDCheckBounds(b.data(), int32(b.size())), kNoErr);
    EXPECT_EQ(GetNative16(b.data()), b.size()) << "the size word is the whole descriptor";
    return b;
  }
  static const TypeDescriptor* T(const Bytes& b) { return tdb::AsTD(b); }
  static std::string Name(const TypeDescriptor* t) {
    PStr p = TDNamePtr(t);
    return p ? std::string(reinterpret_cast<const char*>(p + 1), p[0]) : "";
  }
  static int32 Count(const TypeDescriptor* t) { return int16(GetNative16(reinterpret_cast<const uChar*>(t) + 4)); }
};

TEST_F(PanelTDTest, TheRecordOfAnI32ControlNamedX) {
  Bytes ctl = tdb::I32().Named("x").Bytes();
  Bytes r = Take(FPDCODataTD(T(ctl)));
  // 58 fixed bytes, five copies of the plain I32 (4) with their names (4), the name "x" padded.
  EXPECT_EQ(r.size(), size_t(kFPDCODataFixedTDSize + 5 * (4 + 4) + 2));
  ASSERT_EQ(Count(T(r)), 6);
  EXPECT_EQ(Name(T(r)), "x");
  const TypeDescriptor* udf = ElemTD(T(r), 0);
  EXPECT_EQ(Name(udf), "udf");
  EXPECT_EQ(DataSize(udf), kFPDCOFlagsDataSize);
  const char* inner[] = {"flags", "opRights", "execOnlyFlags"};
  for (int32 i = 0; i < 3; ++i) {
    EXPECT_EQ(ElemTD(udf, i)->code, kTDU32);
    EXPECT_EQ(Name(ElemTD(udf, i)), inner[i]);
  }
  const char* copies[] = {"opd", "dfd", "exd", "txd", "old"};
  for (int32 i = 0; i < 5; ++i) {
    const TypeDescriptor* c = ElemTD(T(r), i + 1);
    EXPECT_EQ(c->code, kTDI32);
    EXPECT_EQ(c->size, 8);
    EXPECT_EQ(c->flags, int32(kTDFlagName) | kDSEntryPrivate);
    EXPECT_EQ(Name(c), copies[i]);
  }
  EXPECT_EQ(DataSize(T(r)), 12 + 5 * 4);
  // An unnamed enumeration: the copies are the plain unsigned integer, no name at the end.
  Bytes e = tdb::Enum(kTDEnumU16, {"a", "bb", "ccc"}).Bytes();
  Bytes re = Take(FPDCODataTD(T(e)));
  EXPECT_EQ(re.size(), size_t(kFPDCODataFixedTDSize + 5 * 8));
  EXPECT_EQ(Name(T(re)), "");
  EXPECT_EQ(ElemTD(T(re), 3)->code, kTDU16);
  // A cluster of a string and an array keeps its shape in every copy.
  Bytes c = tdb::Cluster({tdb::String().Named("s"), tdb::Array(tdb::DBL())}).Named("rec").Bytes();
  int32 stripped = StripTD(T(c), nullptr);
  Bytes rc = Take(FPDCODataTD(T(c)));
  EXPECT_EQ(rc.size(), size_t(kFPDCODataFixedTDSize + 5 * (stripped + 4) + 4));
  EXPECT_EQ(DataSize(T(rc)), 12 + 5 * 8);
}

TEST_F(PanelTDTest, NumericRangesAreThreeOfThePlainNumeric) {
  struct Case {
    tdb::TD td;
    uChar code;
  };
  const Case cases[] = {
      {tdb::Enum(kTDEnumU16, {"a", "b"}), kTDU16},
      {tdb::Enum(kTDEnumU8, {"a"}), kTDU8},
      {tdb::Enum(kTDEnumU32, {"a"}), kTDU32},
      {tdb::Unit(kTDUnitDBL, {{1, 2}}), kTDDBL},
      {tdb::Unit(kTDUnitCSG, {{1, 2}}), kTDCSG},
      {tdb::I32(), kTDI32},
      {tdb::CXT(), kTDCXT},
      {tdb::Cluster({tdb::SGL(), tdb::String()}), kTDSGL},
      {tdb::Typedef("t", tdb::U8()), kTDU8},
  };
  for (const Case& c : cases) {
    Bytes in = c.td.Bytes();
    Bytes r = Take(NumRangeTD(T(in)));
    ASSERT_EQ(r.size(), 18u);
    ASSERT_EQ(Count(T(r)), 3);
    for (int32 i = 0; i < 3; ++i) {
      EXPECT_EQ(ElemTD(T(r), i)->code, c.code);
      EXPECT_EQ(ElemTD(T(r), i)->size, 4);
    }
  }
  for (const tdb::TD& bad : {tdb::String(), tdb::Cluster({}), tdb::Boolean(), tdb::Cluster({tdb::Path()})}) {
    Bytes in = bad.Bytes();
    EXPECT_EQ(NumRangeTD(T(in)), nullptr);
  }
}

TEST_F(PanelTDTest, ArrayAndTableState) {
  for (int32 dims : {1, 2, 5}) {
    Bytes elem = tdb::Cluster({tdb::DBL(), tdb::String()}).Bytes();
    Bytes r = Take(ArrayCtlDataTD(T(elem), dims));
    EXPECT_EQ(r.size(), elem.size() + 48);
    ASSERT_EQ(Count(T(r)), 4);
    for (int32 i = 0; i < 3; ++i) {
      const uChar* a = reinterpret_cast<const uChar*>(ElemTD(T(r), i));
      EXPECT_EQ(a[2], kTDArray);
      EXPECT_EQ(GetNative16(a + 4), 1);
      EXPECT_EQ(int32(GetNative32(a + 6)), TDFixed(dims));
      EXPECT_EQ(a[12], kTDI32);
    }
    EXPECT_EQ(Bytes(reinterpret_cast<const uChar*>(ElemTD(T(r), 3)),
                    reinterpret_cast<const uChar*>(ElemTD(T(r), 3)) + elem.size()),
              elem);
    EXPECT_EQ(DataSize(T(r)), 12 + DataSize(T(elem)));
  }
  Bytes table = tdb::Array(tdb::String(), {kTDVariable, kTDVariable}).Bytes();
  Bytes t = Take(TableCtlDataTD(T(table)));
  ASSERT_EQ(Count(T(t)), 2);
  EXPECT_EQ(DataSize(ElemTD(T(t), 0)), kTableStateDataSize);
  EXPECT_EQ(Count(ElemTD(T(t), 0)), 15);
  EXPECT_EQ(ElemTD(T(t), 1)->code, kTDString);
  Bytes notArray = tdb::String().Bytes();
  EXPECT_EQ(TableCtlDataTD(T(notArray)), nullptr);
}

TEST_F(PanelTDTest, FixedLayoutsHaveTheirDataSizes) {
  struct Case {
    const char* what;
    UHandle h;
    int32 elements, dataSize;
  };
  const Case cases[] = {
      {"ring items", RingItemsTD(), 1, 4},
      {"listbox", ListboxCtlDataTD(), 3, 8},
      {"scale", ScaleCtlDataTD(), 18, 96},
      {"graph state", GraphStateTD(), 11, 60},
      {"graph image", GraphImageTD(), 3, 24},
  };
  for (const Case& c : cases) {
    Bytes b = Take(c.h);
    ASSERT_FALSE(b.empty()) << c.what;
    EXPECT_EQ(Count(T(b)), c.elements) << c.what;
    EXPECT_EQ(DataSize(T(b)), c.dataSize) << c.what;
  }
  // The graph's records: plots of 60 bytes with the name at 16, cursors.
  Bytes g = Take(GraphStateTD());
  const TypeDescriptor* plots = ElemTD(T(g), 0);
  const TypeDescriptor* plot = reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(plots) + 10);
  EXPECT_EQ(DataSize(plot), 60);
  EXPECT_EQ(ElemTD(plot, 7)->code, kTDString);
  const TypeDescriptor* cursors = ElemTD(T(g), 4);
  const TypeDescriptor* cursor = reinterpret_cast<const TypeDescriptor*>(reinterpret_cast<const uChar*>(cursors) + 10);
  EXPECT_EQ(Count(cursor), 20);
  EXPECT_EQ(DataSize(cursor), 16 + 4 + 24 + 4 + 4 + 8 + 8 + 3);
  Bytes img = Take(GraphImageTD());
  EXPECT_EQ(GetNative16(reinterpret_cast<const uChar*>(ElemTD(T(img), 1)) + 4), 2) << "a 2-D array of U8";
}

}  // namespace
