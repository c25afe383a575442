// The data procedures of the panel classes inside data-manager passes:
// controllers set up their data, pasted objects take theirs from a source,
// numerics convert, charts keep or drop their history, arrays carry their
// indexes over.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/dmprog.h"
#include "engine/vi/viinst.h"
#include "panel/datamsg.h"
#include "panel/fppanel.h"
#include "panel/osupport.h"
#include "mgsource/draw/fonts.h"
#include "panel_test_support.h"
#include "rtlib/objunits.h"
#include "rtlib/panellocators.h"
#include "rtlib/units.h"

namespace {

using ptest::PanelRootTest;

class DataSpaceTest : public PanelRootTest {
 protected:
  void TearDown() override {
    DMDisposePending();
    for (TRecord t : texts_) TDispose(t);
    PanelRootTest::TearDown();
  }
  // A control of the panel: its controller is a part of the panel root.
  int32 Control(const tdb::TD& td, int32 cls, int32* display) {
    return PanelRootTest::Control(td, cls, display, root_);
  }
  // The data of an object in a mode, as an address.
  UPtr Data(int32 obj, int32 mode) {
    return reinterpret_cast<UPtr>(uintptr_t(uInt32(OGetDataPtr(panel_, obj, 0, mode, nullptr))));
  }
  // A unit label (part 65) of the text on the object.
  void UnitLabel(int32 obj, const char* text) { LabelText(Obj(kClsLabel, obj, 65), text); }
  // Sets a label part's text.
  void LabelText(int32 label, const char* text) {
    const Rect r{0, 0, 10, 10};
    TRecord t = TNew(&r, 0, reinterpret_cast<const uChar*>(text), int32(std::strlen(text)), kAppFont, 0,
                     kTransparentColor);
    texts_.push_back(t);
    SetW(label, kPWLabelText, int32(uintptr_t(t)));
  }
  std::vector<TRecord> texts_;
};

TEST_F(DataSpaceTest, ALoadPassSetsUpEveryControlAndKeepsItsData) {
  int32 num = 0, str = 0;
  int32 dco = Control(tdb::I32(), kClsNumeric, &num);
  Control(tdb::String(), kClsString, &str);
  ClearReports();
  EXPECT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  EXPECT_EQ(Asserts(), 0) << ReportText();
  ASSERT_GE(W(dco, kPWDCORecord), kPanelDataFloor);
  ASSERT_NE(Data(num, 2), nullptr);
  PutNative32(Data(num, 2), 42);
  PutNative32(Data(num, 1), 7);
  EXPECT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  EXPECT_EQ(int32(GetNative32(Data(num, 2))), 42) << "no source: the data stays";
  EXPECT_EQ(int32(GetNative32(Data(num, 1))), 7);
  EXPECT_FALSE(DMPassRunning());
}

TEST_F(DataSpaceTest, AU8NumericPastedOverAnI32SourceConvertsValueDefaultAndRange) {
  int32 srcNum = 0, dstNum = 0;
  Control(tdb::I32(), kClsNumeric, &srcNum);
  ASSERT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  PutNative32(Data(srcNum, 2), 77);
  PutNative32(Data(srcNum, 1), 12);
  UPtr range = FPHeapDataPtr(panel_, W(srcNum, kPWNumRange));
  ASSERT_NE(range, nullptr);
  int32 r[3] = {1, 200, 3};
  std::memcpy(range, r, 12);
  PutNative16(*panel_ + srcNum + 32, 0xE0);

  int32 dst = Control(tdb::U8(), kClsNumeric, &dstNum);
  ASSERT_EQ(AddDDODataProc(panel_, dstNum, panel_, srcNum, 0), kNoErr);
  ClearReports();
  EXPECT_EQ(DataMgrRun(panel_, dst), kNoErr);
  EXPECT_EQ(Asserts(), 0) << ReportText();
  EXPECT_EQ(Data(dstNum, 2)[0], 77);
  EXPECT_EQ(Data(dstNum, 1)[0], 12);
  UPtr dr = FPHeapDataPtr(panel_, W(dstNum, kPWNumRange));
  ASSERT_NE(dr, nullptr);
  EXPECT_EQ(dr[0], 1);
  EXPECT_EQ(dr[1], 200);
  EXPECT_EQ(dr[2], 3);
  EXPECT_EQ(GetNative16(*panel_ + dstNum + 32) & 0xE0, 0xE0) << "the format bits follow the source";
}

TEST_F(DataSpaceTest, AnInitialisingEntryGivesTheEmptyValue) {
  int32 s = 0;
  int32 dco = Control(tdb::String(), kClsString, &s);
  ASSERT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  LStrHandle text = reinterpret_cast<LStrHandle>(DSNewHClr(8));
  (*text)->cnt = 2;
  std::memcpy(Data(s, 2), &text, 4);
  ASSERT_EQ(AddDDODataProc(panel_, s, nullptr, 0, kDMPendInit), kNoErr);
  EXPECT_EQ(DataMgrRun(panel_, dco), kNoErr);
  LStrHandle now;
  std::memcpy(&now, Data(s, 2), 4);
  EXPECT_TRUE(now == nullptr || (*now)->cnt == 0) << "initialised without leaking the old string";
}

TEST_F(DataSpaceTest, UnitsThatDifferConvertByTheLabelsScaleAndOffset) {
  ASSERT_EQ(UnitsInit(), kNoErr);
  int32 src = 0, dst = 0, bare = 0;
  Control(tdb::Unit(kTDUnitDBL, {{kUnitK, 1}}), kClsNumeric, &src);
  UnitLabel(src, "degC");
  ASSERT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  float64 v = 20, d = 1.5;
  std::memcpy(Data(src, 2), &v, 8);
  std::memcpy(Data(src, 1), &d, 8);
  int32 dco = Control(tdb::Unit(kTDUnitDBL, {{kUnitM, 1}}), kClsNumeric, &dst);
  UnitLabel(dst, "m");
  float64 o = 0, sc = 0;
  EXPECT_EQ(GetObjUnits(panel_, src, &o, &sc, nullptr, nullptr), 1);
  EXPECT_EQ(o, 273.15);
  EXPECT_EQ(sc, 1.0);
  ASSERT_EQ(AddDDODataProc(panel_, dst, panel_, src, 0), kNoErr);
  EXPECT_EQ(DataMgrRun(panel_, dco), kNoErr);
  float64 got;
  std::memcpy(&got, Data(dst, 2), 8);
  EXPECT_EQ(got, 20 + 273.15);
  std::memcpy(&got, Data(dst, 1), 8);
  EXPECT_EQ(got, 1.5 + 273.15);

  // Without a unit label the conversion program is empty: the data stays.
  int32 bdco = Control(tdb::Unit(kTDUnitDBL, {{kUnitS, 1}}), kClsNumeric, &bare);
  ASSERT_EQ(AddDDODataProc(panel_, bare, panel_, src, 0), kNoErr);
  ClearReports();
  EXPECT_EQ(DataMgrRun(panel_, bdco), kNoErr);
  std::memcpy(&got, Data(bare, 2), 8);
  EXPECT_EQ(got, 0.0);
  EXPECT_EQ(Reports("didn't have a unit label"), 1);
}

using BoundaryTest = DataSpaceTest;

TEST_F(BoundaryTest, UnitConvertValueBothWaysInEveryClass) {
  float64 v = 20, r = 0;
  UnitConvertValue(&v, 1, &r, kTDUnitDBL, 273.15, 1);
  EXPECT_EQ(r, 293.15);
  UnitConvertValue(&r, 0, &v, kTDDBL, 273.15, 1);
  EXPECT_DOUBLE_EQ(v, 20);
  float64 z[2] = {1.5, -2}, zr[2] = {};
  UnitConvertValue(z, 1, zr, kTDUnitCDB, 0, 1000);
  EXPECT_EQ(zr[0], 1500);
  EXPECT_EQ(zr[1], -2000);
  int32 i = 3, ir = 0;
  UnitConvertValue(&i, 1, &ir, kTDI32, 0, 1000);
  EXPECT_EQ(ir, 3000);
  float32 f = 3000, fr = 0;
  UnitConvertValue(&f, 0, &fr, kTDSGL, 0, 1000);
  EXPECT_EQ(fr, 3.0f);
  ir = 7;
  UnitConvertValue(&i, 1, &ir, 0x40, 0, 1000);
  EXPECT_EQ(ir, 7) << "no number: nothing written";
}

TEST_F(BoundaryTest, UnitConvertObjValueFollowsTheObjectsLabel) {
  ASSERT_EQ(UnitsInit(), kNoErr);
  int32 n = Obj(kClsNumeric);
  SetW(n, kPWDDOTypeId, int32(Type(tdb::Unit(kTDUnitDBL, {{kUnitM, 1}}))));
  UnitLabel(n, "km");
  float64 v = 1.5, r = 0;
  EXPECT_EQ(UnitConvertObjValue(panel_, n, &v, 1, &r), 1);
  EXPECT_EQ(r, 1500);
  EXPECT_EQ(UnitConvertObjValue(panel_, n, &r, 0, &v), 1);
  EXPECT_EQ(v, 1.5);
  int32 plain = Obj(kClsNumeric);
  SetW(plain, kPWDDOTypeId, int32(Type(tdb::DBL())));
  r = -1;
  EXPECT_EQ(UnitConvertObjValue(panel_, plain, &v, 1, &r), 0);
  EXPECT_EQ(r, -1);
}

TEST_F(BoundaryTest, DisplayValQuietNeedsAValueAndATextPartAndKeepsTheKeyFocus) {
  int32 obj = Obj(kClsDataDisplayObject);
  int32 ext = int32(OHWord(panel_, kOHExtension));
  PutNative32(*panel_ + ext + kHeapExtKeyFocus, uInt32(obj));
  int32 value = 5;
  EXPECT_EQ(DisplayValQuiet(panel_, obj, &value, 0), 0) << "no text part";
  Obj(kClsLabel, obj, 10);
  EXPECT_EQ(DisplayValQuiet(panel_, obj, nullptr, 0), 0) << "no value";
  ClearReports();
  EXPECT_EQ(DisplayValQuiet(panel_, obj, &value, 0), 0);
  EXPECT_EQ(Asserts(), 0);
  EXPECT_EQ(int32(GetNative32(*panel_ + ext + kHeapExtKeyFocus)), obj) << "the key focus is restored";
  EXPECT_EQ(PanelScaleMarkerList(panel_, obj), nullptr) << "without the scales: no label list";
}

TEST_F(BoundaryTest, FPGetDataSpaceIsTheRootsWordFourteen) {
  UHandle* ds = FPGetDataSpace(panel_);
  ASSERT_NE(ds, nullptr);
  EXPECT_EQ(*ds, DS());
  EXPECT_EQ(reinterpret_cast<UPtr>(ds), *panel_ + root_ + 4 * kPanelRootDataSpaceWord);
  ObjHeap other = OHNewHeap(200, kTypeHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  ClearReports();
  EXPECT_EQ(FPGetDataSpace(other), nullptr);
  EXPECT_EQ(Asserts(), 1);
  OHDisposeHeap(other);
}

TEST_F(BoundaryTest, GetObjUnitsNeedsAUnitTypeAndAMatchingLabel) {
  ASSERT_EQ(UnitsInit(), kNoErr);
  struct Case {
    const char* what;
    tdb::TD td;
    const char* label;
    int32 want;
    float64 scale;
  } cases[] = {
      {"km on metres", tdb::Unit(kTDUnitDBL, {{kUnitM, 1}}), "km", 1, 1000},
      {"a plain number", tdb::DBL(), "km", 0, 0},
      {"seconds on metres", tdb::Unit(kTDUnitDBL, {{kUnitM, 1}}), "s", 0, 0},
      {"no parse", tdb::Unit(kTDUnitDBL, {{kUnitM, 1}}), "kmm", 0, 0},
      {"an array of metres", tdb::Array(tdb::Unit(kTDUnitDBL, {{kUnitM, 1}})), "mm", 1, 0.001},
  };
  for (const Case& c : cases) {
    int32 n = Obj(kClsNumeric);
    SetW(n, kPWDDOTypeId, int32(Type(c.td)));
    UnitLabel(n, c.label);
    float64 scale = -1;
    int32 code = 0;
    EXPECT_EQ(GetObjUnits(panel_, n, nullptr, &scale, &code, nullptr), c.want) << c.what;
    if (c.want) {
      EXPECT_DOUBLE_EQ(scale, c.scale) << c.what;
      EXPECT_EQ(code, kTDUnitDBL) << c.what;
    } else {
      EXPECT_EQ(scale, -1) << c.what << ": outputs untouched";
    }
  }
}

TEST_F(BoundaryTest, AScalesUnitLabelIsItsControlsLabelPartOfItsOrder) {
  ASSERT_EQ(UnitsInit(), kNoErr);
  int32 graph = Obj(kClsGraphChart);
  struct Case {
    int16 scalePart, labelPart;
  } cases[] = {{18, 71}, {19, 72}, {68, 73}};
  for (const Case& c : cases) {
    int32 sc = Obj(kClsScale, graph, c.scalePart, 1);
    LabelText(Obj(kClsLabel, graph, c.labelPart, 0), "s");
    float64 scale = -1;
    int32 code = 0;
    EXPECT_EQ(GetObjUnits(panel_, sc, nullptr, &scale, &code, nullptr), 0) << c.scalePart << ": no label of order 1";
    LabelText(Obj(kClsLabel, graph, c.labelPart, 1), "ms");
    EXPECT_EQ(GetObjUnits(panel_, sc, nullptr, &scale, &code, nullptr), 1) << c.scalePart;
    EXPECT_DOUBLE_EQ(scale, 0.001) << c.scalePart;
    EXPECT_EQ(code, kTDDBL) << c.scalePart;
  }
  // Other scale parts have no unit.
  int32 other = Obj(kClsScale, graph, 17, 0);
  LabelText(Obj(kClsLabel, graph, 65, 0), "m");
  EXPECT_EQ(GetObjUnits(panel_, other, nullptr, nullptr, nullptr, nullptr), 0);
  // An object of class 15 or 16 answers for its owner.
  int32 n = Obj(kClsNumeric);
  SetW(n, kPWDDOTypeId, int32(Type(tdb::Unit(kTDUnitDBL, {{kUnitM, 1}}))));
  UnitLabel(n, "km");
  for (int32 cls : {15, 16}) {
    int32 standIn = vib::NewObject(panel_, cls, 40, n, 3, 0);
    ASSERT_NE(standIn, 0);
    float64 scale = 0;
    EXPECT_EQ(GetObjUnits(panel_, standIn, nullptr, &scale, nullptr, nullptr), 1) << cls;
    EXPECT_EQ(scale, 1000) << cls;
    EXPECT_EQ(GetObjUnits(panel_, vib::NewObject(panel_, cls, 40, 0, 0, 0), nullptr, nullptr, nullptr, nullptr), 0)
        << cls << " without owner";
  }
}

TEST_F(BoundaryTest, AnOverLongUnitLabelIsReplacedInTheLabel) {
  ASSERT_EQ(UnitsInit(), kNoErr);
  int32 n = Obj(kClsNumeric);
  SetW(n, kPWDDOTypeId, int32(Type(tdb::Unit(kTDUnitDBL, {{kUnitM, 1}}))));
  std::string text(300, 'm');
  UnitLabel(n, text.c_str());
  int32 label = FindPart(panel_, n, 65, 0);
  ASSERT_NE(label, 0);
  EXPECT_EQ(GetObjUnits(panel_, n, nullptr, nullptr, nullptr, nullptr), 0) << "the replacement names no unit";
  auto now = reinterpret_cast<LStrHandle>(TGetText(PartTextRecord(panel_, label)));
  ASSERT_NE(now, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>((*now)->str), size_t((*now)->cnt)),
            "Unit label must be less than 256 characters.");
  // 255 characters stay as they are.
  int32 m = Obj(kClsNumeric);
  SetW(m, kPWDDOTypeId, W(n, kPWDDOTypeId));
  UnitLabel(m, std::string(255, ' ').c_str());
  EXPECT_EQ(GetObjUnits(panel_, m, nullptr, nullptr, nullptr, nullptr), 1);
  TRecord kept = PartTextRecord(panel_, FindPart(panel_, m, 65, 0));
  EXPECT_EQ(GetNative32(*TGetText(kept)), 255u);
  // A label word that names no text record gives no unit: a freed handle,
  // an address inside one, a counted text that is no record.
  UHandle freed = DSNewHClr(8);
  DSDisposeHandle(freed);
  for (int32 bad : {int32(uintptr_t(freed)), int32(uintptr_t(*kept)) + 4, 12345,
                    int32(uintptr_t(TGetText(kept)))}) {
    SetW(FindPart(panel_, m, 65, 0), kPWLabelText, bad);
    EXPECT_EQ(GetObjUnits(panel_, m, nullptr, nullptr, nullptr, nullptr), 0) << bad;
  }
  SetW(FindPart(panel_, m, 65, 0), kPWLabelText, int32(uintptr_t(kept)));
}

int32 gDispatchAsked = 0;
int32 FakeUpdateDispatch(UHandle record) {
  ++gDispatchAsked;
  return int32(0x5000 + (record ? 1 : 0));
}

TEST_F(DataSpaceTest, APastedContainerPublishesItsObjectsDispatch) {
  PanelDataHooks old = SetPanelDataHooks(PanelDataHooks{nullptr, &FakeUpdateDispatch});
  int32 src = 0, dst = 0, num = 0;
  Control(tdb::I32(), kClsContainer, &src);
  ASSERT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  PutNative32(Data(src, 2), 5);
  PutNative32(Data(src, 1), 6);
  int32 dco = Control(tdb::I32(), kClsContainer, &dst);
  UHandle rec = Keep(AZNewHClr(20));
  SetW(dst, kPWContainerObject, int32(uintptr_t(rec)));
  ASSERT_EQ(AddDDODataProc(panel_, dst, panel_, src, 0), kNoErr);
  gDispatchAsked = 0;
  ClearReports();
  EXPECT_EQ(DataMgrRun(panel_, dco), kNoErr);
  EXPECT_EQ(Asserts(), 0) << ReportText();
  EXPECT_EQ(gDispatchAsked, 1);
  EXPECT_EQ(int32(GetNative32(Data(dst, 2))), 0x5001) << "the operate data is the object's dispatch";
  EXPECT_EQ(int32(GetNative32(Data(dst, 1))), 6) << "the default data comes from the source";
  // A container pasted from another class copies its operate data as usual.
  Control(tdb::I32(), kClsNumeric, &num);
  ASSERT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  PutNative32(Data(num, 2), 9);
  int32 dco2 = Control(tdb::I32(), kClsContainer, &dst);
  ASSERT_EQ(AddDDODataProc(panel_, dst, panel_, num, 0), kNoErr);
  gDispatchAsked = 0;
  EXPECT_EQ(DataMgrRun(panel_, dco2), kNoErr);
  EXPECT_EQ(gDispatchAsked, 0);
  EXPECT_EQ(int32(GetNative32(Data(dst, 2))), 9);
  // Without an object record the dispatch is 0.
  int32 dco3 = Control(tdb::I32(), kClsContainer, &dst);
  ASSERT_EQ(AddDDODataProc(panel_, dst, panel_, src, 0), kNoErr);
  EXPECT_EQ(DataMgrRun(panel_, dco3), kNoErr);
  EXPECT_EQ(gDispatchAsked, 0);
  EXPECT_EQ(int32(GetNative32(Data(dst, 2))), 0);
  SetPanelDataHooks(old);
}

TEST_F(DataSpaceTest, APastedTableTakesTheStateAndAnElementOfItsOwnLayout) {
  int32 src = 0, same = 0, other = 0;
  Control(tdb::Array(tdb::I32()), kClsTable, &src);
  ASSERT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  UPtr from = FPHeapDataPtr(panel_, W(src, kPWTableData));
  ASSERT_NE(from, nullptr);
  PutNative32(from, 77);       // the first word of the table's state
  PutNative32(from + 60, 5);   // the element part after the 60-byte state
  int32 d1 = Control(tdb::Array(tdb::I32()), kClsTable, &same);
  int32 d2 = Control(tdb::Array(tdb::String()), kClsTable, &other);
  ASSERT_EQ(AddDDODataProc(panel_, same, panel_, src, 0), kNoErr);
  ASSERT_EQ(AddDDODataProc(panel_, other, panel_, src, 0), kNoErr);
  ClearReports();
  EXPECT_EQ(DataMgrRun(panel_, d1), kNoErr);
  EXPECT_EQ(DataMgrRun(panel_, d2), kNoErr);
  EXPECT_EQ(Asserts(), 0) << ReportText();
  UPtr to = FPHeapDataPtr(panel_, W(same, kPWTableData));
  ASSERT_NE(to, nullptr);
  EXPECT_EQ(GetNative32(to), 77u);
  EXPECT_EQ(GetNative32(to + 60), 5u);
  UPtr keep = FPHeapDataPtr(panel_, W(other, kPWTableData));
  ASSERT_NE(keep, nullptr);
  EXPECT_EQ(GetNative32(keep), 77u) << "the state is laid out alike in every table";
  LStrHandle str;
  std::memcpy(&str, keep + 60, sizeof str);
  EXPECT_NE(uintptr_t(str), uintptr_t(5)) << "a string element is not read from an I32";
  EXPECT_TRUE(str == nullptr || (DSCheckHandle(str) == kNoErr && (*str)->cnt == 0));
}

TEST_F(DataSpaceTest, AGraphPastedFromAChartWithAnotherHistoryStartsEmpty) {
  tdb::TD plots = tdb::Cluster({tdb::DBL(), tdb::DBL()});
  int32 src = 0, dst = 0;
  Control(plots, kClsGraphChart, &src);
  PutNative16(*panel_ + src + kPanelGraphKindByte, 101);
  SetW(src, kPWGraphChartType, int32(Type(tdb::Cluster({tdb::I32(), tdb::I32(), tdb::I32(), tdb::Handle()}))));
  int32 dco = Control(plots, kClsGraphChart, &dst);
  PutNative16(*panel_ + dst + kPanelGraphKindByte, 102);
  SetW(dst, kPWGraphChartType,
       int32(Type(tdb::Cluster({tdb::I32(), tdb::I32(), tdb::I32(), tdb::Handle(), tdb::I32()}))));
  ASSERT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  UPtr hist = FPHeapDataPtr(panel_, W(src, kPWGraphHistory));
  ASSERT_NE(hist, nullptr);
  PutNative32(hist, 5);
  ASSERT_EQ(AddDDODataProc(panel_, dst, panel_, src, 0), kNoErr);
  ClearReports();
  EXPECT_EQ(DataMgrRun(panel_, dco), kNoErr);
  EXPECT_EQ(Reports("StdGraphORealloc: history buf td changed, no copy"), 1);
  UPtr mine = FPHeapDataPtr(panel_, W(dst, kPWGraphHistory));
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(GetNative32(mine), 0u);

  // The same history type: the first four elements are copied.
  int32 same = 0;
  int32 sdco = Control(plots, kClsGraphChart, &same);
  PutNative16(*panel_ + same + kPanelGraphKindByte, 101);
  SetW(same, kPWGraphChartType, W(src, kPWGraphChartType));
  ASSERT_EQ(DataMgrRun(panel_, sdco), kNoErr);
  ASSERT_EQ(AddDDODataProc(panel_, same, panel_, src, 0), kNoErr);
  ClearReports();
  EXPECT_EQ(DataMgrRun(panel_, sdco), kNoErr);
  EXPECT_EQ(Reports("StdGraphORealloc"), 0);
  EXPECT_EQ(GetNative32(FPHeapDataPtr(panel_, W(same, kPWGraphHistory))), 5u);
}

TEST_F(DataSpaceTest, ATwoDimensionalArrayChangedToThreeCarriesItsIndexesBehindALeadingOne) {
  auto arrayControl = [&](int32 dims, int32* arr) {
    int32 dco = Control(tdb::Array(tdb::I32(), std::vector<int32>(size_t(dims), -1)), kClsArray, arr);
    int32 elem = Obj(kClsNumeric, *arr);
    SetW(elem, kPWDDOTypeId, int32(Type(tdb::I32())));
    SetW(*arr, kPWArrayElement, elem);
    return dco;
  };
  int32 src = 0, dst = 0;
  arrayControl(2, &src);
  int32 dco = arrayControl(3, &dst);
  ASSERT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  auto cells = [&](int32 arr, int32 which) {
    UPtr priv = FPHeapDataPtr(panel_, W(arr, kPWArrayPrivate));
    EXPECT_NE(priv, nullptr);
    UHandle h = priv ? reinterpret_cast<UHandle>(uintptr_t(GetNative32(priv + 4 * which))) : nullptr;
    return h;
  };
  for (int32 w = 0; w < 3; ++w) {
    UHandle s = cells(src, w), d = cells(dst, w);
    ASSERT_NE(s, nullptr);
    ASSERT_NE(d, nullptr);
    ASSERT_GE(DSGetHandleSize(s), 12);
    ASSERT_GE(DSGetHandleSize(d), 16);
    PutNative32(*s + 4, uInt32(5 + w));
    PutNative32(*s + 8, uInt32(7 + w));
    PutNative32(*d + 4, 9);
  }
  ASSERT_EQ(AddDDODataProc(panel_, dst, panel_, src, 0), kNoErr);
  ClearReports();
  EXPECT_EQ(DataMgrRun(panel_, dco), kNoErr);
  EXPECT_EQ(Asserts(), 0) << ReportText();
  EXPECT_EQ(Reports("Multiple procs"), 0);
  for (int32 w = 0; w < 3; ++w) {
    UHandle d = cells(dst, w);
    EXPECT_EQ(int32(GetNative32(*d + 4)), 9) << w << ": the leading index stays";
    EXPECT_EQ(int32(GetNative32(*d + 8)), 5 + w) << w;
    EXPECT_EQ(int32(GetNative32(*d + 12)), 7 + w) << w;
  }
}

TEST_F(DataSpaceTest, AnElementlessArrayGetsAHandleOnlyWhenItHasNone) {
  int32 arr = 0;
  Control(tdb::Array(tdb::I32(), {-1, -1}), kClsArray, &arr);
  ASSERT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  UHandle* slot = reinterpret_cast<UHandle*>(Data(arr, 2));
  if (*slot) DSDisposeHandle(*slot);  // I32 elements hold no handles
  *slot = nullptr;
  EXPECT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  slot = reinterpret_cast<UHandle*>(Data(arr, 2));
  ASSERT_NE(*slot, nullptr);
  EXPECT_EQ(DSGetHandleSize(*slot), 8);
  UHandle made = *slot;
  EXPECT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  EXPECT_EQ(*reinterpret_cast<UHandle*>(Data(arr, 2)), made);
}

TEST_F(DataSpaceTest, ClustersStepToTheirElements) {
  int32 cl = 0;
  int32 dco = Control(tdb::Cluster({tdb::I32(), tdb::DBL()}), kClsCluster, &cl);
  int32 e0 = Obj(kClsNumeric, cl), e1 = Obj(kClsNumeric, cl);
  SetW(e0, kPWDDOTypeId, int32(Type(tdb::I32())));
  SetW(e1, kPWDDOTypeId, int32(Type(tdb::DBL())));
  SetW(cl, kPWClusterElements, vib::NewList(panel_, {e0, e1}));
  int32 src = 0;
  Control(tdb::DBL(), kClsNumeric, &src);
  ASSERT_EQ(DataMgrRunForHeap(vi_), kNoErr);
  float64 v = 2.5;
  std::memcpy(Data(src, 2), &v, 8);
  PutNative32(Data(e0, 2), 31);
  ASSERT_EQ(AddDDODataProc(panel_, e1, panel_, src, 0), kNoErr);
  ClearReports();
  EXPECT_EQ(DataMgrRun(panel_, dco), kNoErr);
  EXPECT_EQ(Asserts(), 0) << ReportText();
  EXPECT_EQ(Reports("Multiple procs"), 0) << "elements that are parts too are set up once";
  float64 got;
  std::memcpy(&got, Data(e1, 2), 8);
  EXPECT_EQ(got, 2.5);
  EXPECT_EQ(int32(GetNative32(Data(e0, 2))), 31);
}

}  // namespace
