// Where panel objects find their data (message 41) and their type (35), and
// the run-time locators they use: cluster elements, the element an array
// control shows and the value of a chart's digital display.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "engine/datasupp.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "panel_test_support.h"
#include "rtlib/chartdata.h"
#include "rtlib/panellocators.h"

namespace {

using ptest::PanelRootTest;

class DataLocateTest : public PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    SetW(root_, kPanelRootDataSpaceWord, 0);  // bound by the tests that want it
  }
  // Binds the panel's root to the VI's data space (after allocation).
  void Bind() { SetW(root_, kPanelRootDataSpaceWord, int32(uintptr_t(DS()))); }

  int32 Ask(int32 obj, int32 part, int32 mode, UHandle* h) { return OGetDataPtr(panel_, obj, part, mode, h); }
  UPtr At(int32 answer) { return reinterpret_cast<UPtr>(uintptr_t(uInt32(answer))); }
  int32 Abs(UPtr p) { return int32(uInt32(uintptr_t(p))); }
};

TEST_F(DataLocateTest, AControllersValueLiesTwelveBytesIntoItsRecordAndTheDefaultAfterIt) {
  int32 num = 0;
  int32 dco = Control(tdb::I32(), kClsNumeric, &num);
  ASSERT_EQ(Alloc(dco), kNoErr);
  Bind();
  int32 rec = W(dco, kPWDCORecord);
  ASSERT_GE(rec, kPanelDataFloor);
  struct Case {
    int32 mode, offset;
  } cases[] = {{0, 12}, {2, 12}, {6, 12}, {1, 16}, {5, 16}};
  for (const Case& c : cases) {
    UHandle h = nullptr;
    EXPECT_EQ(Ask(num, 0, c.mode, &h), rec + c.offset) << c.mode;
    EXPECT_EQ(h, DS()) << c.mode;
    EXPECT_EQ(Ask(dco, num, c.mode, nullptr), Abs(*DS() + rec + c.offset)) << c.mode;
  }
  EXPECT_EQ(OGetType(panel_, dco), TypeID(W(dco, kPWDCOTypeId)));
  EXPECT_EQ(OGetType(panel_, num), TypeID(W(num, kPWDDOTypeId)));
  // A part without data of a numeric answers nothing; its digital display its value.
  int32 other = Obj(kClsLabel, num, 5);
  int32 digital = Obj(kClsNumeric, num, kPartDigital);
  UHandle h = DS();
  EXPECT_EQ(Ask(num, other, 0, &h), 0);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(Ask(num, digital, 0, nullptr), Abs(*DS() + rec + 12));
}

TEST_F(DataLocateTest, ControllersWithoutRecordOrDataSpaceAreAssertions) {
  int32 num = 0;
  int32 dco = Control(tdb::I32(), kClsNumeric, &num);
  ClearReports();
  UHandle h = DS();
  EXPECT_EQ(Ask(num, 0, 0, &h), 0) << "no data space bound to the panel";
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(Asserts(), 1);
  Bind();
  ClearReports();
  EXPECT_EQ(Ask(num, 0, 0, nullptr), 0) << "no record";
  EXPECT_EQ(Asserts(), 1);
  EXPECT_EQ(Reports("\"data\" line"), 1);
  // A stored record past the data space, or below its header: none, no assertion.
  for (int32 bad : {DSGetHandleSize(DS()) + 8, 100}) {
    SetW(dco, kPWDCORecord, bad);
    ClearReports();
    h = DS();
    EXPECT_EQ(Ask(num, 0, 0, &h), 0) << bad;
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(Asserts(), 0) << bad;
  }
}

TEST_F(DataLocateTest, StoredWordsMustNameTheEntryOfTheirType) {
  int32 a = 0, b = 0;
  int32 da = Control(tdb::I32(), kClsNumeric, &a);
  int32 db = Control(tdb::String(), kClsString, &b);
  ASSERT_EQ(Alloc(da), kNoErr);
  ASSERT_EQ(Alloc(db), kNoErr);
  Bind();
  UHandle h = nullptr;
  ASSERT_NE(Ask(a, 0, 0, &h), 0);
  int32 saved = W(da, kPWDCORecord);
  // The record word names the string control's record: its descriptor word does not.
  SetW(da, kPWDCORecord, W(db, kPWDCORecord));
  EXPECT_EQ(Ask(a, 0, 0, &h), 0);
  EXPECT_EQ(h, nullptr);
  // Both words of the string control's record: the value is no I32.
  SetW(da, kPWDCORecordTD, W(db, kPWDCORecordTD));
  EXPECT_EQ(Ask(a, 0, 0, &h), 0);
  SetW(da, kPWDCORecord, saved);
  EXPECT_EQ(PanelEntryTD(panel_, W(db, kPWDCORecord), W(db, kPWDCORecordTD), 0)->code, kTDCluster);
  EXPECT_EQ(PanelEntryTD(panel_, W(db, kPWDCORecord) + 4, W(db, kPWDCORecordTD), 0), nullptr);
  EXPECT_EQ(PanelEntryTD(panel_, W(db, kPWDCORecord), W(db, kPWDCORecordTD), 100000), nullptr);
  // Objects named by words outside the heap are refused.
  EXPECT_EQ(Ask(a, 3, 0, &h), 0);
  EXPECT_EQ(Ask(a, 0x7FFFFFF0, 0, &h), 0);
  EXPECT_EQ(Ask(0x7FFFFFF0, 0, 0, &h), 0);
}

// The entries PanelEntryTD keeps indexed follow the map: an entry appended
// by an allocation is found, and a map rewritten in place (its header block
// 16 bytes larger, every entry after it moved) is read anew once its owner
// says so.
TEST_F(DataLocateTest, EntriesFollowTheTypeMapAsItGrowsAndChanges) {
  int32 a = 0, b = 0;
  const int32 da = Control(tdb::I32(), kClsNumeric, &a);
  ASSERT_EQ(Alloc(da), kNoErr);
  const int32 ra = W(da, kPWDCORecord), ta = W(da, kPWDCORecordTD);
  ASSERT_NE(PanelEntryTD(panel_, ra, ta, 0), nullptr);
  const int32 db = Control(tdb::DBL(), kClsNumeric, &b);
  ASSERT_EQ(Alloc(db), kNoErr);
  EXPECT_NE(PanelEntryTD(panel_, W(db, kPWDCORecord), W(db, kPWDCORecordTD), 0), nullptr) << "an appended entry";
  EXPECT_NE(PanelEntryTD(panel_, ra, ta, 0), nullptr);
  UPtr size = *TDH() + kDSTMHeaderBlockSizeAt;
  DSTypeMapChanged();
  PutNative32(size, GetNative32(size) + 16);
  EXPECT_EQ(PanelEntryTD(panel_, ra, ta, 0), nullptr);
  EXPECT_NE(PanelEntryTD(panel_, ra + 16, ta, 0), nullptr);
  DSTypeMapChanged();
  PutNative32(size, GetNative32(size) - 16);
  EXPECT_NE(PanelEntryTD(panel_, ra, ta, 0), nullptr);
}

TEST_F(DataLocateTest, BooleanAndRingPartsAnswerASixteenBitCell) {
  int32 b = 0, r = 0;
  int32 bdco = Control(tdb::Boolean(), kClsBoolean, &b);
  int32 rdco = Control(tdb::DBL(), kClsRing, &r);
  ASSERT_EQ(Alloc(bdco), kNoErr);
  ASSERT_EQ(Alloc(rdco), kNoErr);
  Bind();
  int32 bpart = Obj(kClsLabel, b, kPartBoolValue);
  int32 rtext = Obj(kClsLabel, r, kPartRingText);
  int32 ritems = Obj(kClsLabel, r, kPartRingItems);
  At(Ask(b, 0, 0, nullptr))[0] = 1;
  float64 v = 300.6;
  std::memcpy(At(Ask(r, 0, 0, nullptr)), &v, 8);

  uInt16 cell;
  std::memcpy(&cell, At(Ask(b, bpart, 0, nullptr)), 2);
  EXPECT_EQ(cell, 1);
  for (int32 part : {rtext, ritems}) {
    std::memcpy(&cell, At(Ask(r, part, 0, nullptr)), 2);
    EXPECT_EQ(cell, 301) << part;
    UHandle h = DS();
    EXPECT_EQ(Ask(r, part, 0, &h), 0) << "a handle address asks for nothing";
    EXPECT_EQ(h, nullptr);
  }
  // Without an owner the cells hold 0.
  int32 lone = Obj(kClsBoolean);
  int32 lonePart = Obj(kClsLabel, lone, kPartBoolValue);
  std::memcpy(&cell, At(Ask(lone, lonePart, 0, nullptr)), 2);
  EXPECT_EQ(cell, 0);
  EXPECT_EQ(Ask(b, Obj(kClsLabel, b, 3), 0, nullptr), 0) << "other parts of a boolean";
}

TEST_F(DataLocateTest, EachThreadKeepsItsOwnCell) {
  int32 b = 0;
  int32 bdco = Control(tdb::Boolean(), kClsBoolean, &b);
  ASSERT_EQ(Alloc(bdco), kNoErr);
  Bind();
  int32 part = Obj(kClsLabel, b, kPartBoolValue);
  At(Ask(b, 0, 0, nullptr))[0] = 1;
  UPtr mine = At(Ask(b, part, 0, nullptr));
  UPtr theirs = nullptr;
  std::thread t([&] { theirs = At(OGetDataPtr(panel_, b, part, 0, nullptr)); });
  t.join();
  EXPECT_NE(mine, theirs);
  uInt16 cell;
  std::memcpy(&cell, mine, 2);
  EXPECT_EQ(cell, 1);
}

TEST_F(DataLocateTest, ClusterElementsAndSlideParts) {
  int32 cl = 0;
  int32 dco = Control(tdb::Cluster({tdb::I32(), tdb::DBL(), tdb::I16()}), kClsCluster, &cl);
  int32 e0 = Obj(kClsNumeric, cl), e1 = Obj(kClsNumeric, cl), e2 = Obj(kClsNumeric, cl);
  SetW(e0, kPWDDOTypeId, int32(Type(tdb::I32())));
  SetW(e1, kPWDDOTypeId, int32(Type(tdb::DBL())));
  SetW(e2, kPWDDOTypeId, int32(Type(tdb::I16())));
  SetW(cl, kPWClusterElements, vib::NewList(panel_, {e0, e1, e2}));
  ASSERT_EQ(Alloc(dco), kNoErr);
  Bind();
  int32 base = W(dco, kPWDCORecord) + 12;
  UHandle h = nullptr;
  EXPECT_EQ(Ask(e1, 0, 0, &h), base + 4);
  EXPECT_EQ(Ask(e2, 0, 1, &h), base + 14 + 12) << "the default copy follows the value";
  EXPECT_EQ(Ask(cl, 0, 0, &h), base);
  // An element object whose type is not the element's gets nothing.
  int32 saved = W(e2, kPWDDOTypeId);
  SetW(e2, kPWDDOTypeId, int32(Type(tdb::String())));
  EXPECT_EQ(Ask(e2, 0, 0, &h), 0);
  EXPECT_EQ(h, nullptr);
  SetW(e2, kPWDDOTypeId, saved);
  // A part that is no element answers the cluster's own data.
  EXPECT_EQ(Ask(cl, Obj(kClsLabel, cl, 3), 0, &h), base);
  // A stored list naming more elements than the cluster has: none.
  int32 e3 = Obj(kClsNumeric, cl);
  SetW(cl, kPWClusterElements, vib::NewList(panel_, {e0, e1, e2, e3}));
  EXPECT_EQ(Ask(e3, 0, 0, &h), 0);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(ClusterEltOffset(panel_, cl, Obj(kClsNumeric), base, nullptr), 0) << "not an element";
  EXPECT_EQ(ClusterEltOffset(panel_, cl, e1, 0, nullptr), 0) << "no cluster data";
  const TypeDescriptor* td = nullptr;
  EXPECT_EQ(ClusterEltOffset(panel_, cl, e1, base, &td), base + 4);
  ASSERT_NE(td, nullptr);
  EXPECT_EQ(td->code, kTDDBL);
  // The third element of {I8, DBL, string}, packed and under an alignment of 4.
  int32 mixed = 0;
  Control(tdb::Cluster({tdb::I8(), tdb::DBL(), tdb::String()}), kClsCluster, &mixed);
  int32 m0 = Obj(kClsNumeric, mixed), m1 = Obj(kClsNumeric, mixed), m2 = Obj(kClsString, mixed);
  SetW(mixed, kPWClusterElements, vib::NewList(panel_, {m0, m1, m2}));
  for (int16 align : {1, 4}) {
    int16 was = SetMaxDataAlign(align);
    td = nullptr;
    EXPECT_EQ(ClusterEltOffset(panel_, mixed, m2, 100, &td), align == 1 ? 100 + 9 : 100 + 12) << align;
    SetMaxDataAlign(was);
    ASSERT_NE(td, nullptr);
    EXPECT_EQ(td->code, kTDString);
  }
  EXPECT_EQ(ClusterEltOffset(panel_, mixed, e2, 100, &td), 0) << "another cluster's element";
  EXPECT_EQ(td, nullptr) << "the descriptor out is cleared";

  // A slide of two values: parts 8001, 23 and 31 answer their value by order.
  int32 s = 0;
  int32 sdco = Control(tdb::Cluster({tdb::DBL(), tdb::DBL()}), kClsSlide, &s);
  ASSERT_EQ(Alloc(sdco), kNoErr);
  int32 sbase = W(sdco, kPWDCORecord) + 12;
  for (int16 id : {kPartDigital, kPartSlideHousing, kPartSlideFill}) {
    EXPECT_EQ(Ask(s, Obj(kClsLabel, s, id, 1), 0, &h), sbase + 8) << id;
    EXPECT_EQ(Ask(s, Obj(kClsLabel, s, id, 0), 0, &h), sbase) << id;
    EXPECT_EQ(Ask(s, Obj(kClsLabel, s, id, 7), 0, &h), 0) << id << ": an order past the cluster";
  }
  EXPECT_EQ(Ask(s, Obj(kClsLabel, s, 5), 0, &h), 0);
}

TEST_F(DataLocateTest, ArrayIndexCellsElementAndPrivateCopy) {
  int32 arr = 0;
  int32 dco = Control(tdb::Array(tdb::I32()), kClsArray, &arr);
  int32 elem = Obj(kClsNumeric, arr);
  SetW(elem, kPWDDOTypeId, int32(Type(tdb::I32())));
  SetW(arr, kPWArrayElement, elem);
  int32 index = Obj(kClsNumeric, arr, kPartArrayIndex, 0);
  ASSERT_EQ(Alloc(dco), kNoErr);
  Bind();
  int32 priv = W(arr, kPWArrayPrivate);
  ASSERT_GE(priv, kPanelDataFloor);
  UHandle cells = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*DS() + priv)));
  ASSERT_NE(cells, nullptr);
  ASSERT_GE(DSGetHandleSize(cells), 8);
  UHandle h = nullptr;
  EXPECT_EQ(Ask(arr, index, 0, &h), 4);
  EXPECT_EQ(h, cells);
  PutNative32(*cells + 4, 3);  // showing element 3

  // Mode 1: the private copy; mode 2 with no element: the same.
  EXPECT_EQ(Ask(elem, 0, 1, &h), priv + 12);
  EXPECT_EQ(h, DS());
  EXPECT_EQ(Ask(elem, 0, 2, &h), priv + 12);
  // Mode 0 grows the array to show element 3; the other modes never grow it.
  UHandle* slot = reinterpret_cast<UHandle*>(*DS() + W(dco, kPWDCORecord) + 12);
  EXPECT_EQ(Ask(elem, 0, 6, &h), priv + 12);
  EXPECT_TRUE(*slot == nullptr || GetNative32(**slot) == 0);
  EXPECT_EQ(Ask(elem, 0, 0, &h), 4 + 12);
  ASSERT_NE(*slot, nullptr);
  EXPECT_EQ(h, *slot);
  EXPECT_EQ(int32(GetNative32(**slot)), 4);
  EXPECT_NE(W(arr, 0) & int32(kArrayObjGrown), 0);
  EXPECT_EQ(Ask(elem, 0, 2, &h), 16) << "operate: the element now exists";
  PutNative32(*cells + 4, 9);
  EXPECT_EQ(Ask(elem, 0, 7, &h), 0) << "other modes take the element answer even when none";
  EXPECT_EQ(h, nullptr);
  // A private record stored below the header block: none.
  SetW(arr, kPWArrayPrivate, 100);
  EXPECT_EQ(Ask(elem, 0, 1, &h), 0);
  SetW(arr, kPWArrayPrivate, 0);
  EXPECT_EQ(Ask(index, 0, 0, &h), 0) << "no private record";
  EXPECT_EQ(h, nullptr);
}

TEST_F(DataLocateTest, ArrayDisplayEltPtrGrowsOnlyWhenAllowedAndVariable) {
  int32 arr = 0;
  int32 dco = Control(tdb::Array(tdb::I16()), kClsArray, &arr);
  ASSERT_EQ(Alloc(dco), kNoErr);
  Bind();
  UHandle cells = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*DS() + W(arr, kPWArrayPrivate))));
  ASSERT_NE(cells, nullptr);
  UHandle a = nullptr;
  int32 sizes[] = {2};
  int32* sz = sizes;
  ASSERT_EQ(ArrayResize(StdTDTable[kTDI16], 1, &a, &sz), kNoErr);
  Keep(a);
  PutNative32(*cells + 4, 3);
  UHandle copy = a;
  EXPECT_EQ(ArrayDisplayEltPtr(panel_, arr, &copy, false), nullptr);
  EXPECT_EQ(int32(GetNative32(*copy)), 2);
  EXPECT_EQ(OHWord(panel_, uInt32(arr)) & kArrayObjGrown, 0u);
  UPtr p = ArrayDisplayEltPtr(panel_, arr, &copy, true);
  handles_.back() = copy;
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(int32(GetNative32(*copy)), 4);
  EXPECT_EQ(p, *copy + 4 + 3 * 2);
  EXPECT_EQ(OHWord(panel_, uInt32(arr)) & kArrayObjGrown, kArrayObjGrown);
  // The shown place in the grid adds to the index (1-D: the second word when set).
  int16 shown[2] = {0, -4};
  std::memcpy(*panel_ + arr + 4 * kPWArrayShown, shown, 4);
  EXPECT_EQ(ArrayDisplayEltPtr(panel_, arr, &copy, true), nullptr) << "a negative index";
  shown[1] = -2;
  std::memcpy(*panel_ + arr + 4 * kPWArrayShown, shown, 4);
  EXPECT_EQ(ArrayDisplayEltPtr(panel_, arr, &copy, true), *copy + 4 + 2);
  ClearReports();
  EXPECT_EQ(ArrayDisplayEltPtr(panel_, arr, nullptr, true), nullptr);
  EXPECT_EQ(Asserts(), 1);

  // A fixed dimension never grows.
  int32 fixed = 0;
  int32 fdco = Control(tdb::Array(tdb::I16(), {TDFixed(2)}), kClsArray, &fixed);
  ASSERT_EQ(Alloc(fdco), kNoErr);
  UHandle fcells = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*DS() + W(fixed, kPWArrayPrivate))));
  ASSERT_NE(fcells, nullptr);
  PutNative32(*fcells + 4, 2);
  UHandle none = nullptr;
  EXPECT_EQ(ArrayDisplayEltPtr(panel_, fixed, &none, true), nullptr);
  EXPECT_EQ(none, nullptr);
}

TEST_F(DataLocateTest, TwoDimensionsCountRowsAndColumns) {
  int32 arr = 0;
  int32 dco = Control(tdb::Array(tdb::I32(), {-1, -1}), kClsArray, &arr);
  ASSERT_EQ(Alloc(dco), kNoErr);
  Bind();
  UHandle cells = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*DS() + W(arr, kPWArrayPrivate))));
  ASSERT_NE(cells, nullptr);
  ASSERT_GE(DSGetHandleSize(cells), 12);
  PutNative32(*cells + 4, 1);  // row
  PutNative32(*cells + 8, 2);  // column
  UHandle a = nullptr;
  UPtr p = ArrayDisplayEltPtr(panel_, arr, &a, true);
  Keep(a);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(int32(GetNative32(*a)), 2);
  EXPECT_EQ(int32(GetNative32(*a + 4)), 3);
  EXPECT_EQ(p, *a + 8 + (1 * 3 + 2) * 4);
  // Both shown positions set: the first adds to the column, the second to the row.
  int16 shown[2] = {1, 2};
  std::memcpy(*panel_ + arr + 4 * kPWArrayShown, shown, 4);
  p = ArrayDisplayEltPtr(panel_, arr, &a, true);
  handles_.back() = a;
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(int32(GetNative32(*a)), 4);
  EXPECT_EQ(int32(GetNative32(*a + 4)), 4);
  EXPECT_EQ(p, *a + 8 + (3 * 4 + 3) * 4);
}

TEST_F(DataLocateTest, GraphFlagPartsAndDigitalDisplays) {
  int32 g = 0;
  int32 dco = Control(tdb::Cluster({tdb::DBL(), tdb::DBL(), tdb::DBL()}), kClsGraphChart, &g);
  PutNative16(*panel_ + g + kPanelGraphKindByte, 101);
  SetW(g, kPWGraphChartType, int32(Type(tdb::Cluster({tdb::I32(), tdb::I32(), tdb::I32(), tdb::Handle()}))));
  ASSERT_EQ(Alloc(dco), kNoErr);
  Bind();
  int32 state = W(g, kPWGraphState);
  ASSERT_GE(state, kPanelDataFloor);
  UHandle h = nullptr;
  EXPECT_EQ(Ask(g, Obj(kClsLabel, g, kPartGraphFlags), 0, &h), state + 12);
  EXPECT_EQ(h, DS());
  EXPECT_EQ(Ask(g, Obj(kClsLabel, g, kPartGraphFlags2), 0, &h), state + 16);
  EXPECT_EQ(Ask(g, Obj(kClsLabel, g, 40), 0, &h), 0);
  EXPECT_EQ(h, nullptr);
  // The digital display of plot order 1 shows the second value.
  int32 value = W(dco, kPWDCORecord) + 12;
  int32 d1 = Obj(kClsNumeric, g, kPartDigital, 1);
  EXPECT_EQ(Ask(g, d1, 0, nullptr), Abs(*DS() + value + 8));
  EXPECT_EQ(Ask(g, d1, 1, nullptr), 0) << "mode 1 has no digital value";
  EXPECT_EQ(Ask(g, d1, 0, &h), 0) << "nor with a handle address";
  // An order past the cluster is reported and pinned.
  ClearReports();
  EXPECT_EQ(GraphPartDataOffset(panel_, g, nullptr, 5), *DS() + value + 16);
  EXPECT_EQ(Reports("Graph: digdisp partorder exceeds # of clust elements"), 1);
  // Graphs that are no charts with digital displays are assertions.
  PutNative16(*panel_ + g + kPanelGraphKindByte, 104);
  ClearReports();
  EXPECT_EQ(GraphPartDataOffset(panel_, g, nullptr, 0), nullptr);
  EXPECT_EQ(Asserts(), 1);
}

TEST_F(DataLocateTest, ChartOfArraysShowsTheNewestPoint) {
  int32 g = 0;
  int32 dco = Control(tdb::Array(tdb::DBL(), {-1, -1}), kClsGraphChart, &g);
  PutNative16(*panel_ + g + kPanelGraphKindByte, 102);
  SetW(g, kPWGraphChartType, int32(Type(tdb::Cluster({tdb::I32(), tdb::I32(), tdb::I32(), tdb::Handle()}))));
  ASSERT_EQ(Alloc(dco), kNoErr);
  Bind();
  ASSERT_GE(W(g, kPWGraphHistory), kPanelDataFloor);
  // The newest point is at (total - 1) mod capacity; 2-D rows hold one value a plot.
  struct Case {
    int32 capacity, plots, total, order, slot;  // slot -1: no answer
  } cases[] = {
      {4, 2, 6, 1, 1}, {4, 2, 6, 0, 1}, {4, 2, 6, 2, -1},  // a plot past the count
      {4, 3, 10, 2, 1}, {4, 3, 10, 3, -1}, {4, 3, 10, -1, -1},
      {4, 2, 0, 0, 3},    // nothing written yet: the slot stays inside the buffer
      {0, 2, 6, 0, -1},   // no capacity: nothing located, no trap
      {40, 2, 40, 0, -1}, // a capacity larger than the buffer holds
  };
  UPtr at = *DS() + W(g, kPWGraphHistory);
  for (const Case& c : cases) {
    UHandle buf = Keep(DSNewHClr(8 + 4 * c.plots * 8));
    PutNative32(*buf, uInt32(c.capacity));
    PutNative32(*buf + 4, uInt32(c.plots));
    ChartHistory hist{c.total, 4, 0, buf};
    std::memcpy(at, &hist, sizeof hist);
    UPtr want = c.slot < 0 ? nullptr : *buf + 8 + (c.slot * c.plots + c.order) * 8;
    EXPECT_EQ(GraphPartDataOffset(panel_, g, nullptr, c.order), want)
        << c.capacity << " " << c.plots << " " << c.total << " " << c.order;
  }
  std::memset(at, 0, sizeof(ChartHistory));
}

TEST_F(DataLocateTest, TagRefnumAndVariantParts) {
  int32 tag = 0;
  int32 tdco = Control(tdb::String(), kClsTag, &tag);
  ASSERT_EQ(Alloc(tdco), kNoErr);
  Bind();
  UHandle h = DS();
  EXPECT_EQ(Ask(tag, Obj(kClsLabel, tag, kPartTagInline), 0, &h), Abs(*panel_ + tag + kPanelTagInlineByte));
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(Ask(tag, 0, 0, &h), W(tdco, kPWDCORecord) + 12);

  int32 ref = 0;
  int32 rdco = Control(tdb::Refnum(0), kClsRefNum, &ref);
  ASSERT_EQ(Alloc(rdco), kNoErr);
  EXPECT_EQ(Ask(ref, 0, 0, &h), W(rdco, kPWDCORecord) + 12);
  EXPECT_EQ(Ask(ref, Obj(kClsLabel, ref, 2), 0, &h), 0);
  EXPECT_EQ(h, nullptr);

  int32 var = 0;
  int32 vdco = Control(tdb::I32(), kClsOleVariant, &var);
  ASSERT_EQ(Alloc(vdco), kNoErr);
  int32 vpart = Obj(kClsLabel, var, kPartVariantValue);
  EXPECT_EQ(Ask(var, vpart, 0, nullptr), Abs(*DS() + W(vdco, kPWDCORecord) + 12));
  EXPECT_EQ(Ask(var, vpart, 0, &h), 0) << "with a handle address";
  EXPECT_EQ(Ask(var, Obj(kClsLabel, var, 8), 0, nullptr), 0);
}

TEST_F(DataLocateTest, OwnerLoopsEndWithoutAnAnswer) {
  int32 a = Obj(kClsDataDisplayObject);
  int32 b = Obj(kClsDataDisplayObject, a);
  SetW(a, kPWOwner, b);
  ClearReports();
  UHandle h = DS();
  EXPECT_EQ(Ask(a, 0, 0, &h), 0);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(Reports("too deep"), 1);
  // Variants ask their owner twice: a loop of them still ends soon.
  int32 v1 = Obj(kClsOleVariant);
  int32 v2 = Obj(kClsOleVariant, v1);
  SetW(v1, kPWOwner, v2);
  int32 part = Obj(kClsLabel, v1, kPartVariantValue);
  EXPECT_EQ(Ask(v1, part, 0, nullptr), 0);
}

}  // namespace
