// The allocation methods of the panel classes, reached through the message
// dispatch inside AllocObjDataSpace's pass.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "panel_test_support.h"
#include "rtlib/panellocators.h"

namespace {

using ptest::PanelTest;
using Bytes = std::vector<uChar>;

// Words of the classes.
enum : int32 {
  kDCOType = 3, kDCODisplay = 5, kDCOData = 6, kDCOTD = 7, kDDOType = 9,
  kRangeData = 11, kRangeTD = 12, kItemsData = 15, kItemsTD = 16,
  kArrElem = 10, kArrData = 13, kArrTD = 14, kListWord = 10,
  kTableData = 10, kTableTD = 11, kScaleData = 7, kScaleTD = 8,
  kChartType = 10, kStateData = 11, kStateTD = 12, kHistData = 13, kHistTD = 14, kImageTD = 17, kImageData = 19,
};

std::string NameOf(const TypeDescriptor* t) {
  PStr p = TDNamePtr(t);
  return p ? std::string(reinterpret_cast<const char*>(p + 1), p[0]) : "";
}

class OAllocateTest : public PanelTest {
 protected:
  // The address of a data offset, checked against the data space.
  uChar* Data(int32 offset) {
    UPtr p = FPHeapDataPtr(panel_, offset);
    EXPECT_NE(p, nullptr);
    return p;
  }
  // The element count of the 1-D array handle at the data offset.
  int32 ArrayCount(int32 offset) {
    UHandle a = reinterpret_cast<UHandle>(uintptr_t(GetNative32(Data(offset))));
    return a ? int32(GetNative32(*a)) : -1;
  }
  void ExpectEntry(int32 obj, int32 dataWord, int32 tdWord, bool stored, const char* what) {
    EXPECT_GE(W(obj, dataWord), kDataSpaceHeaderSize) << what;
    EXPECT_GT(W(obj, tdWord), 0) << what;
    if (W(obj, tdWord) > 0) {
      EXPECT_EQ((EntryTD(W(obj, tdWord))->flags & kDSEntryStored) != 0, stored) << what;
    }
  }
  void ExpectNone(int32 obj, int32 dataWord, int32 tdWord, const char* what) {
    EXPECT_EQ(W(obj, dataWord), 0) << what;
    EXPECT_EQ(W(obj, tdWord), 0) << what;
  }
  // A numeric display object of the type.
  int32 Numeric(TypeID type, int32 owner = 0, int16 partId = 0, int32 cls = kClsNumeric) {
    int32 n = Obj(cls, owner, partId);
    SetW(n, kDDOType, int32(type));
    return n;
  }
};

TEST_F(OAllocateTest, TheRecordOfAnI32ControlNamedXAndItsRange) {
  TypeID x = Type(tdb::I32().Named("x"));
  int32 dco = Obj(kClsFPDataController);
  int32 num = Numeric(x);
  SetW(dco, kDCOType, int32(x));
  SetW(dco, kDCODisplay, num);
  ASSERT_EQ(Alloc(dco), kNoErr);
  ExpectEntry(dco, kDCOData, kDCOTD, false, "control record");
  EXPECT_EQ(W(dco, kDCOData), 528);
  const TypeDescriptor* rec = EntryTD(W(dco, kDCOTD));
  EXPECT_EQ(rec->code, kTDCluster);
  EXPECT_EQ(rec->size, kFPDCODataFixedTDSize + 5 * 8 + 2);
  EXPECT_EQ(NameOf(rec), "x");
  EXPECT_EQ(NameOf(ElemTD(rec, 0)), "udf");
  const char* copies[] = {"opd", "dfd", "exd", "txd", "old"};
  for (int32 i = 0; i < 5; ++i) {
    EXPECT_EQ(NameOf(ElemTD(rec, i + 1)), copies[i]);
    EXPECT_EQ(ElemTD(rec, i + 1)->flags, int32(kTDFlagName) | kDSEntryPrivate);
  }
  // The wrapped display object got its range: three I32, stored, after the record.
  ExpectEntry(num, kRangeData, kRangeTD, true, "range");
  EXPECT_EQ(W(num, kRangeData), 528 + 12 + 5 * 4);
  const TypeDescriptor* range = EntryTD(W(num, kRangeTD));
  EXPECT_EQ(range->size, 18);
  EXPECT_EQ(ElemTD(range, 2)->code, kTDI32);
  EXPECT_EQ(UsedSize(), 528 + 32 + 12);
  EXPECT_EQ(DataSize(reinterpret_cast<const TypeDescriptor*>(*TDH())), UsedSize());

  // A second pass over the same objects adds nothing.
  int32 count = EntryCount(), used = UsedSize();
  ASSERT_EQ(Alloc(dco), kNoErr);
  ASSERT_EQ(Alloc(num), kNoErr);
  EXPECT_EQ(EntryCount(), count);
  EXPECT_EQ(UsedSize(), used);
}

TEST_F(OAllocateTest, RangesOnlyForTopLevelNumericsOfFrontPanels) {
  TypeID e = Type(tdb::Enum(kTDEnumU16, {"a", "b", "c"}));
  struct Case {
    int16 partId;
    int32 cls;
    bool range;
  };
  const Case cases[] = {{0, kClsNumeric, true},    {kPartIdTypeDefControl, kClsNumeric, true},
                        {5, kClsNumeric, false},   {1, kClsSlide, false},
                        {0, kClsColorBox, true},   {0, kClsKnob, true},
                        {0, kClsColorRamp, true},  {0, kClsSlide, true}};
  for (const Case& c : cases) {
    int32 n = Numeric(e, 0, c.partId, c.cls);
    ASSERT_EQ(Alloc(n), kNoErr);
    if (c.range) {
      ExpectEntry(n, kRangeData, kRangeTD, true, "range");
      const TypeDescriptor* r = EntryTD(W(n, kRangeTD));
      for (int32 i = 0; i < 3; ++i) EXPECT_EQ(ElemTD(r, i)->code, kTDU16) << "an enumeration's range is plain U16";
    } else {
      ExpectNone(n, kRangeData, kRangeTD, "part id other than 0 or 8010");
    }
  }
  // Outside front-panel heaps no range is made.
  ObjHeap other = OHNewHeap(500, FourCC("XXHP"), kHeapExtensionSize, kClsObjHeapHdrExtension);
  int32 n = vib::NewObject(other, kClsNumeric, 52);
  ObjSetWord(other, n, kDDOType, int32(e));
  AllocBeginPass(vi_);
  OAllocate(other, n);
  EXPECT_EQ(DSAllocCurrentState()->entryCount, EntryCount());
  AllocEndPass();
  EXPECT_EQ(ObjWord(other, n, kRangeData), 0);
  OHDisposeHeap(other);
}

TEST_F(OAllocateTest, RingItemCountsFromTheItemTableTheItemTextsOrOne) {
  TypeID t = Type(tdb::U16());
  auto texts = [&](int32 n) {
    UHandle h = Keep(AZNewHClr(4 + n * 2));
    PutNative32(*h, uInt32(n));
    return h;
  };
  struct Case {
    const char* what;
    int32 table;  // -1: no part 14
    int32 texts;  // -1: no part 12
    int32 expect;
  };
  const Case cases[] = {
      {"item table", 3, -1, 3}, {"item texts", -1, 4, 4}, {"both: the table", 2, 5, 2},
      {"neither", -1, -1, 1},   {"empty table", 0, 6, 0},
  };
  for (const Case& c : cases) {
    int32 ring = Numeric(t, 0, 0, kClsRing);
    Obj(kClsLabel, ring, 16);  // a part of another id
    if (c.texts >= 0) {
      int32 p12 = Obj(kClsMultiLabel, ring, 12);
      SetW(p12, 11, int32(uintptr_t(texts(c.texts))));
    }
    if (c.table >= 0) {
      int32 p14 = Obj(kClsBigMultiCosmetic, ring, 14);
      PutNative16(*panel_ + p14 + 36, uInt16(c.table));
    }
    ASSERT_EQ(Alloc(ring), kNoErr) << c.what;
    ExpectEntry(ring, kItemsData, kItemsTD, true, c.what);
    ExpectEntry(ring, kRangeData, kRangeTD, true, c.what);
    EXPECT_EQ(ArrayCount(W(ring, kItemsData)), c.expect) << c.what;
    EXPECT_EQ(EntryTD(W(ring, kItemsTD))->size, 20);
  }
}

TEST_F(OAllocateTest, GraphsGetStateAndByKindImageAndHistory) {
  TypeID chart = Type(tdb::Cluster({tdb::Array(tdb::DBL()), tdb::Cluster({tdb::String(), tdb::I32()})}));
  struct Case {
    uInt16 kind;
    bool image, history;
  };
  const Case cases[] = {{3, true, false}, {4, true, false}, {101, false, true}, {104, true, true},
                        {106, true, true}, {107, false, true}, {1, false, false}, {0, false, false}};
  for (const Case& c : cases) {
    int32 g = Obj(kClsGraphChart);
    SetW(g, kChartType, int32(chart));
    PutNative16(*panel_ + g + 98, c.kind);
    int32 scale = Obj(kClsScale, g, 2);
    ASSERT_EQ(Alloc(g), kNoErr) << c.kind;
    ExpectEntry(g, kStateData, kStateTD, true, "graph state");
    ExpectEntry(scale, kScaleData, kScaleTD, true, "the graph's scale");
    if (c.image) {
      ExpectEntry(g, kImageData, kImageTD, true, "image");
      EXPECT_EQ(DataSize(EntryTD(W(g, kImageTD))), 24);
    } else {
      ExpectNone(g, kImageData, kImageTD, "image");
    }
    if (c.history) {
      ExpectEntry(g, kHistData, kHistTD, false, "history");
      const TypeDescriptor* h = EntryTD(W(g, kHistTD));
      EXPECT_TRUE(h->flags & kDSEntryPrivate) << c.kind;
      for (int32 i = 0; i < 2; ++i) EXPECT_TRUE(ElemTD(h, i)->flags & kDSEntryPrivate) << c.kind << " element " << i;
      EXPECT_TRUE(ElemTD(ElemTD(h, 1), 0)->flags & kDSEntryPrivate) << "nested cluster elements too";
    } else {
      ExpectNone(g, kHistData, kHistTD, "history");
    }
  }
}

TEST_F(OAllocateTest, ContainersPassTheMessageOn) {
  TypeID i16 = Type(tdb::I16());
  TypeID arr = Type(tdb::Array(tdb::I16(), {kTDVariable, kTDVariable}));
  TypeID table = Type(tdb::Array(tdb::String(), {kTDVariable, kTDVariable}));
  // Array: its private entry, its parts, its element.
  int32 a = Obj(kClsArray);
  SetW(a, kDDOType, int32(arr));
  int32 elem = Numeric(i16);
  SetW(a, kArrElem, elem);
  int32 aScale = Obj(kClsScale, a, 3);
  ASSERT_EQ(Alloc(a), kNoErr);
  ExpectEntry(a, kArrData, kArrTD, true, "array");
  const TypeDescriptor* at = EntryTD(W(a, kArrTD));
  EXPECT_EQ(at->size, 4 + 48);
  EXPECT_EQ(int32(GetNative32(reinterpret_cast<const uChar*>(ElemTD(at, 0)) + 6)), TDFixed(2));
  ExpectEntry(aScale, kScaleData, kScaleTD, true, "array part");
  ExpectEntry(elem, kRangeData, kRangeTD, true, "array element");
  // Cluster, refnum and type definition hold their controls.
  int32 c1 = Numeric(i16), c2 = Numeric(i16, 0, 0, kClsRing);
  int32 cl = Obj(kClsCluster);
  SetW(cl, kListWord, vib::NewList(panel_, {c1, c2}));
  int32 inner = Numeric(i16);
  int32 ref = Obj(kClsRefNum);
  SetW(ref, 10, inner);
  int32 def = Obj(kClsTypeDefinition);
  int32 ctl = Numeric(i16, def, kPartIdTypeDefControl);
  for (int32 o : {cl, ref, def}) ASSERT_EQ(Alloc(o), kNoErr);
  for (int32 o : {c1, c2, inner, ctl}) ExpectEntry(o, kRangeData, kRangeTD, true, "held control");
  ExpectEntry(c2, kItemsData, kItemsTD, true, "ring in a cluster");
  // Table with its scale part; listbox; a slide's scale.
  int32 tb = Obj(kClsTable);
  SetW(tb, kDDOType, int32(table));
  int32 tScale = Obj(kClsScale, tb, 4);
  int32 lb = Obj(kClsListbox);
  int32 slide = Numeric(i16, 0, 0, kClsSlide);
  int32 sScale = Obj(kClsScale, slide, 1);
  for (int32 o : {tb, lb, slide}) ASSERT_EQ(Alloc(o), kNoErr);
  ExpectEntry(tb, kTableData, kTableTD, true, "table");
  EXPECT_EQ(DataSize(ElemTD(EntryTD(W(tb, kTableTD)), 0)), kTableStateDataSize);
  ExpectEntry(tScale, kScaleData, kScaleTD, true, "table part");
  ExpectEntry(lb, kTableData, kTableTD, true, "listbox");
  EXPECT_EQ(DataSize(EntryTD(W(lb, kTableTD))), 8);
  ExpectEntry(sScale, kScaleData, kScaleTD, true, "slide scale");
  EXPECT_EQ(DataSize(EntryTD(W(sScale, kScaleTD))), 96);
  // Classes without entries of their own make none.
  int32 count = EntryCount();
  for (int32 cls : {kClsBoolean, kClsString, kClsPath, kClsPicture, kClsLabel, kClsTag})
    ASSERT_EQ(Alloc(Obj(cls)), kNoErr);
  EXPECT_EQ(EntryCount(), count);
  EXPECT_EQ(DataSize(reinterpret_cast<const TypeDescriptor*>(*TDH())), UsedSize());
}

TEST_F(OAllocateTest, DescriptorsThatCannotBeBuiltSetErrorFlagFourAndLeaveTheWordsZero) {
  int32 dco = Obj(kClsFPDataController);
  int32 num = Numeric(Type(tdb::DBL()));
  SetW(dco, kDCODisplay, num);  // no type ID on the controller
  EXPECT_EQ(Alloc(dco), kMemFullErr);
  ExpectNone(dco, kDCOData, kDCOTD, "no type");
  ExpectEntry(num, kRangeData, kRangeTD, true, "the display object is still allocated");
  int32 badArray = Obj(kClsArray);
  SetW(badArray, kDDOType, int32(Type(tdb::String())));
  EXPECT_EQ(Alloc(badArray), kMemFullErr);
  ExpectNone(badArray, kArrData, kArrTD, "a string is no array");
  // The front panel itself is allocated through its controllers.
  ClearReports();
  EXPECT_EQ(Alloc(Obj(kClsFrontPanel)), kNoErr);
  EXPECT_EQ(Reports("through its controllers"), 1);
}

TEST_F(OAllocateTest, AFailedGrowthLeavesTheRingUnsizedAndTheDataSpaceConsistent) {
  TypeID t = Type(tdb::U8());
  for (int32 n = 1; n <= 6; ++n) {
    int32 ring = Numeric(t, 0, 0, kClsRing);
    MemFailNthAllocation(n);
    MgErr err = Alloc(ring);
    MemFailNthAllocation(0);
    int32 tdSize = GetNative16(*TDH());
    EXPECT_EQ(TDCheckBounds(*TDH(), tdSize), kNoErr) << n;
    EXPECT_EQ(DataSize(reinterpret_cast<const TypeDescriptor*>(*TDH())), UsedSize()) << n;
    EXPECT_LE(UsedSize(), DSGetHandleSize(DS())) << n;
    if (err == kNoErr) { EXPECT_EQ(ArrayCount(W(ring, kItemsData)), 1) << n; }
    MemFullReset();
  }
}

}  // namespace
