// The logged controls of a panel: counted in the order the binding's map
// gives, their values copied out into a record's panel data and back in.
#include <cstring>

#include "engine/datamgr.h"
#include "engine/vi/viinst.h"
#include "panel/fppanel.h"
#include "panel/loggedctls.h"
#include "panel_test_support.h"
#include "rtlib/datalog.h"

namespace {

using namespace ptest;

constexpr int32 kDCORecord = 6, kDCORecordTD = 7;

// Two controllers with records {flags, operate, default, execution,
// transfer, old} of int32, bound to the VI's data space.
class BoundaryLoggedControls : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    UnregisterVI(vi_);
    vib::DisposeVI(vi_);
    const tdb::TD rec = tdb::Cluster({tdb::U32(), tdb::I32(), tdb::I32(), tdb::I32(), tdb::I32(), tdb::I32()});
    vi_ = vib::NewVI({rec, rec});
    ASSERT_NE(vi_, nullptr);
    ASSERT_EQ(RegisterVI(vi_), kNoErr);
    panel_ = vib::NewPanel(vi_);
    ASSERT_NE(panel_, nullptr);
    const int32 root = FPNewPanelRoot(panel_);
    ASSERT_NE(root, 0);
    PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtRoot, uInt32(root));
    SetW(root, kPanelRootDataSpaceWord, int32(uintptr_t(DS())));
    const int32 recTD = 6 + int32(tdb::Block(kDataSpaceHeaderSize).Bytes().size());
    const int32 recSize = int32(rec.Bytes().size());
    for (int32 i = 0; i < 2; ++i) {
      dco_[i] = Obj(kClsFPDataController);
      SetW(dco_[i], kDCORecord, kDataSpaceHeaderSize + 24 * i);
      SetW(dco_[i], kDCORecordTD, recTD + recSize * i);
    }
    VIRec(vi_)->viKind = kVIKindDatalog;
    binding_ = AZNewHClr(sizeof(DatalogBindingRec));
    VIRec(vi_)->logRecord = binding_;
  }
  void TearDown() override {
    DatalogBindingRec* b = reinterpret_cast<DatalogBindingRec*>(*binding_);
    if (b->controlMap) AZDisposeHandle(b->controlMap);
    AZDisposeHandle(binding_);
    VIRec(vi_)->logRecord = nullptr;
    PanelTest::TearDown();
  }
  void SetMap(const std::vector<int16>& entries, int16 count) {
    DatalogBindingRec* b = reinterpret_cast<DatalogBindingRec*>(*binding_);
    if (b->controlMap) AZDisposeHandle(b->controlMap);
    UHandle map = AZNewHClr(int32(2 + 2 * entries.size()));
    PutNative16(*map, uInt16(count));
    for (size_t i = 0; i < entries.size(); ++i) PutNative16(*map + 2 + 2 * i, uInt16(entries[i]));
    reinterpret_cast<DatalogBindingRec*>(*binding_)->controlMap = map;
  }
  int32 Operate(int32 i) const { return int32(GetNative32(*DS() + kDataSpaceHeaderSize + 24 * i + 4)); }
  void SetOperate(int32 i, int32 v) { PutNative32(*DS() + kDataSpaceHeaderSize + 24 * i + 4, uInt32(v)); }
  UHandle binding_ = nullptr;
  int32 dco_[2] = {0, 0};
};

TEST_F(BoundaryLoggedControls, ControlsAreCountedCopiedOutAndShownInRecordOrder) {
  const std::vector<uChar> two = tdb::Cluster({tdb::I32(), tdb::I32()}).Bytes();
  const std::vector<uChar> one = tdb::Cluster({tdb::I32()}).Bytes();
  const std::vector<uChar> wrong = tdb::Cluster({tdb::String(), tdb::I32()}).Bytes();
  struct Case {
    const char* what;
    std::vector<int16> map;
    int16 count;
    const std::vector<uChar>* type;
    int32 logged;
    MgErr want;
    int32 first, second;  // the panel data copied out
  };
  const Case cases[] = {
      {"in order", {0, 1}, 2, &two, 2, kNoErr, 11, 22},
      {"crossed", {1, 0}, 2, &two, 2, kNoErr, 22, 11},
      {"one of two", {1}, 1, &one, 1, kNoErr, 22, 0},
      {"a position past the controllers", {0, 5}, 2, &two, 1, 42, 0, 0},
      {"a negative position", {-1, 0}, 2, &two, 1, 42, 0, 0},
      {"a count past the map", {0}, 9, &one, 1, kNoErr, 11, 0},
      {"fewer elements than controls", {0, 1}, 2, &one, 2, 42, 0, 0},
      {"an element of another type", {0, 1}, 2, &wrong, 2, 42, 0, 0},
  };
  for (const Case& c : cases) {
    SetOperate(0, 11);
    SetOperate(1, 22);
    SetMap(c.map, c.count);
    EXPECT_EQ(PanelLoggedControlCount(vi_), c.logged) << c.what;
    const TypeDescriptor* td = tdb::AsTD(*c.type);
    std::vector<uChar> data(size_t(DataSize(td)) + 8, 0);
    ASSERT_EQ(InitEmptyData(td, data.data()), kNoErr);
    EXPECT_EQ(PanelCopyLoggedControls(vi_, td, data.data()), c.want) << c.what;
    if (c.want == kNoErr) {
      EXPECT_EQ(int32(GetNative32(data.data())), c.first) << c.what;
      if (c.map.size() > 1) { EXPECT_EQ(int32(GetNative32(data.data() + 4)), c.second) << c.what; }
      // Back in: the values change places when written crossed.
      PutNative32(data.data(), 7);
      EXPECT_EQ(PanelShowLoggedRecord(vi_, td, data.data()), kNoErr);
      EXPECT_EQ(Operate(c.map[0]), 7) << c.what;
    } else {
      EXPECT_EQ(PanelShowLoggedRecord(vi_, td, data.data()), c.want) << c.what;
      EXPECT_EQ(Operate(0), 11) << c.what << ": nothing written";
    }
    DisposeData(td, data.data(), data.data() + DataSize(td));
  }
}

TEST_F(BoundaryLoggedControls, APanelNotLoadedCountsMinusOneAndTheHooksAreFilled) {
  SetMap({0, 1}, 2);
  ObjHeap panel = VIRec(vi_)->panelHeap;
  VIRec(vi_)->panelHeap = nullptr;
  EXPECT_EQ(PanelLoggedControlCount(vi_), -1);
  uChar data[8] = {};
  const std::vector<uChar> one = tdb::Cluster({tdb::I32()}).Bytes();
  EXPECT_EQ(PanelCopyLoggedControls(vi_, tdb::AsTD(one), data), kArgErr);
  VIRec(vi_)->panelHeap = panel;
  EXPECT_EQ(PanelLoggedControlCount(nullptr), -1);
  PanelInstallDatalogHooks();
  EXPECT_EQ(DatalogUI().loggedControlCount, &PanelLoggedControlCount);
  EXPECT_EQ(DatalogUI().copyLoggedControls, &PanelCopyLoggedControls);
  EXPECT_EQ(DatalogUI().showRecord, &PanelShowLoggedRecord);
  SetDatalogUIHooks(nullptr);
}

}  // namespace
