// The heap-level load and unload steps of panel objects: resource numbers
// in the block headers, the resource counter, the abort record and its
// unload, the data offsets of data objects, and the panel heap that the
// writer stores.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "engine/datatype.h"
#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "engine/vi/loaderr.h"
#include "engine/vi/objload.h"
#include "align_scope.h"
#include "engine_test_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "tools/panelwriter.h"
#include "tools/vibuilder.h"

namespace {

constexpr uInt32 kSTRG = FourCC("STRG");
constexpr uInt32 kHOBJ = FourCC("HOBJ");

// What the stand-in load method does per object: the resource types it
// reads in turn, and whether it fails after them.
struct Plan {
  std::vector<uInt32> reads;
  int32 fail = 0;
};
struct Seen {
  std::map<int32, Plan> plans;
  std::vector<int32> loaded, disposed;
  std::map<int32, std::vector<std::pair<int32, int32>>> got;  // per object: (id it took, size)
};
Seen& S() {
  static Seen s;
  return s;
}

int32 StandInLoad(ObjHeap, int32 object) {
  S().loaded.push_back(object);
  const Plan& p = S().plans[object];
  for (uInt32 type : p.reads) {
    UHandle h = nullptr;
    const int32 before = SetRsrcCounter(GetRsrcCounter() - 1);
    MgErr err = RGetObjRsrc(type, &h);
    if (err) return err;
    S().got[object].push_back({before + 1, AZGetHandleSize(h)});
    AZDisposeHandle(h);
  }
  return p.fail;
}
int32 StandInDispose(ObjHeap, int32 object) {
  S().disposed.push_back(object);
  return 0;
}

class ObjLoad : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    S() = Seen();
    ObjLoadHooks hooks{&StandInLoad, &StandInDispose};
    SetObjLoadHooks(&hooks);
    for (int32 cls : {int32(kClsCosmetic), int32(kClsLabel), int32(kClsTable), int32(kClsNumeric)})
      saved_[cls] = SetObjSwapProc(cls, ObjSwapForClass(cls));
    ASSERT_EQ(RInitResources(), kNoErr);
    vi_ = vib::NewVI({tdb::I16(), tdb::DBL(), tdb::I32()});
    ASSERT_NE(vi_, nullptr);
    panel_ = vib::NewPanel(vi_);
    ASSERT_NE(panel_, nullptr);
    ClearObjLoadAbort();
    gQXLoadErrorCode = 0;
  }
  void TearDown() override {
    if (file_) RCloseFile(file_);
    if (loaded_) OHDisposeHeap(loaded_);
    vib::DisposeVI(vi_);
    SetObjLoadHooks(nullptr);
    for (auto& [cls, proc] : saved_) SetObjSwapProc(cls, proc);
    EngineTest::TearDown();
  }
  // Writes the panel into a file, opens it and reads the heap back in
  // memory order, as the heap loader does.
  void WriteAndRead(const std::vector<panelwriter::PanelObject>& objects, int32 first = 100) {
    rsrcw::Writer w(FourCC("LVIN"), FourCC("QNLX"));
    ASSERT_TRUE(panelwriter::AddPanelHeap(w, panel_, 1, "Main.vi", first, objects, &layout_));
    loaded_ = panelwriter::ReadStoredHeap(w.Write(), 1, &file_);
    ASSERT_NE(loaded_, nullptr);
  }
  int32 Obj(int32 cls, int32 size) { return vib::NewObject(panel_, cls, size); }

  std::map<int32, ObjSwapProc> saved_;
  UHandle vi_ = nullptr;
  ObjHeap panel_ = nullptr;
  ObjHeap loaded_ = nullptr;
  RsrcFileRef file_ = 0;
  panelwriter::HeapLayout layout_;
};

rsrcw::Bytes Bytes(std::initializer_list<uChar> b) { return rsrcw::Bytes(b); }

TEST(ObjLoadCounter, SetAnswersTheValueAndGetCountsOnFromIt) {
  EXPECT_EQ(SetRsrcCounter(10), 10);
  EXPECT_EQ(GetRsrcCounter(), 11);
  EXPECT_EQ(GetRsrcCounter(), 12);
  EXPECT_EQ(SetRsrcCounter(-1), -1);
  EXPECT_EQ(GetRsrcCounter(), 0);
}

TEST_F(ObjLoad, ObjectsReadTheirResourcesUnderTheNumbersAfterTheirOwn) {
  const int32 table = Obj(kClsTable, 76);
  const int32 plain = Obj(kClsTable, 76);
  const int32 none = Obj(kClsNumeric, 52);
  WriteAndRead({{table, {{kSTRG, Bytes({0, 0, 0, 1, 'x', 0, 0, 0})}, {kHOBJ, Bytes({0, 0, 0, 1, 0, 0, 0, 0})}}},
                {plain, {{kHOBJ, Bytes({0, 0, 0, 1, 0, 0, 0, 2})}}}});
  EXPECT_EQ(layout_.numbers, (std::vector<int32>{100, 103}));
  EXPECT_EQ(layout_.rsrcNumbers[0], (std::vector<int32>{101, 102}));
  EXPECT_EQ(layout_.rsrcNumbers[1], (std::vector<int32>{104}));
  // The headers hold the numbers while stored; the unnumbered object 0.
  EXPECT_EQ(OHBlockMarkWord(loaded_, table), 100);
  EXPECT_EQ(OHBlockMarkWord(loaded_, plain), 103);
  EXPECT_EQ(OHBlockMarkWord(loaded_, none), 0);
  S().plans[table] = {{kSTRG, kHOBJ}, 0};
  S().plans[plain] = {{kHOBJ}, 0};
  SetRsrcCounter(7);
  EXPECT_EQ(OLoadHeapObjects(loaded_, file_), 0);
  EXPECT_EQ(S().loaded, (std::vector<int32>{table, plain}));
  EXPECT_EQ(S().got[table], (std::vector<std::pair<int32, int32>>{{101, 8}, {102, 8}}));
  EXPECT_EQ(S().got[plain], (std::vector<std::pair<int32, int32>>{{104, 8}}));
  // Every block now holds its own offset; the unnumbered one left the counter alone.
  EXPECT_EQ(OHBlockMarkWord(loaded_, table), table);
  EXPECT_EQ(OHBlockMarkWord(loaded_, none), none);
  EXPECT_EQ(GetRsrcCounter(), 105);
  EXPECT_EQ(ObjLoadAbort().heap, nullptr);
  EXPECT_EQ(ObjLoadFile(), 0u);
}

TEST_F(ObjLoad, AMissingResourceStopsTheBroadcastWithTheAbortRecord) {
  const int32 a = Obj(kClsTable, 76);
  const int32 b = Obj(kClsTable, 76);
  WriteAndRead({{a, {}}, {b, {}}});
  S().plans[a] = {{kSTRG}, 0};  // not in the file
  EXPECT_EQ(OLoadHeapObjects(loaded_, file_), kOHStopEnum);
  EXPECT_EQ(S().loaded, (std::vector<int32>{a}));
  EXPECT_EQ(ObjLoadAbort().heap, loaded_);
  EXPECT_EQ(ObjLoadAbort().fence, a);
  EXPECT_NE(ObjLoadAbort().error, 0);
  ClearObjLoadAbort();
  EXPECT_EQ(ObjLoadAbort().heap, nullptr);
  EXPECT_EQ(ObjLoadAbort().fence, 0);
  EXPECT_EQ(ObjLoadAbort().error, 0);
}

TEST_F(ObjLoad, AfterAnAbortOnlyObjectsUpToTheFenceOrWithoutNumberAreUnloaded) {
  std::vector<int32> objs;
  for (int i = 0; i < 7; ++i) objs.push_back(Obj(kClsCosmetic, 36));
  std::vector<panelwriter::PanelObject> listed;
  for (int i = 0; i < 7; ++i)
    if (i != 5) listed.push_back({objs[size_t(i)], {}});  // the sixth has no number
  WriteAndRead(listed);
  S().plans[objs[4]] = {{}, 42};
  EXPECT_EQ(OLoadHeapObjects(loaded_, file_), kOHStopEnum);
  ASSERT_EQ(S().loaded.size(), 5u);
  EXPECT_EQ(ObjLoadAbort().fence, objs[4]);
  EXPECT_EQ(ObjLoadAbort().error, 42);
  // Another heap is not the one recorded: nothing happens to it.
  ODisposeAfterAbort(panel_);
  EXPECT_TRUE(S().disposed.empty());
  ODisposeAfterAbort(loaded_);
  std::vector<int32> want(objs.begin(), objs.begin() + 5);
  want.push_back(objs[5]);
  // The extension block (no number) is sent the message too, first.
  std::vector<int32> got;
  for (int32 o : S().disposed)
    if (o != int32(OHWord(loaded_, kOHExtension))) got.push_back(o);
  EXPECT_EQ(got, want);
}

TEST_F(ObjLoad, NoFileBeingLoadedMeansNoResource) {
  UHandle h = reinterpret_cast<UHandle>(1);
  EXPECT_NE(RGetObjRsrc(kSTRG, &h), kNoErr);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(RGetObjRsrc(kSTRG, nullptr), kArgErr);
}

TEST_F(ObjLoad, TheUnknownClassLoadMethodSetsLoadError26) {
  EXPECT_EQ(BadProcLoadMethod(panel_, 0), 74);
  EXPECT_EQ(gQXLoadErrorCode, 26);
}

TEST_F(ObjLoad, SharedImagesTakeNoNumberAndNameTheFirst) {
  const int32 a = Obj(kClsCosmetic, 36);
  const int32 b = Obj(kClsCosmetic, 36);
  WriteAndRead({{a, {panelwriter::Image(24, "frame")}}, {b, {panelwriter::Image(24, "frame")}}});
  EXPECT_EQ(layout_.rsrcNumbers[0], (std::vector<int32>{101}));
  EXPECT_EQ(layout_.rsrcNumbers[1], (std::vector<int32>{0}));
  EXPECT_EQ(layout_.numbers[1], 102);
  EXPECT_EQ(GetNative32(*loaded_ + a + 24), 101u << 16);
  EXPECT_EQ(GetNative32(*loaded_ + b + 24), 101u << 16);
  UHandle h = nullptr;
  EXPECT_EQ(RGet(file_, panelwriter::kObjImageType, 101, &h), kNoErr);
  EXPECT_NE(RGet(file_, panelwriter::kObjImageType, 103, &h), kNoErr);
}

// Offsets of data objects: the elements of the type map of the VI as the
// allocation lays them out.
TEST_F(ObjLoad, WithoutCodeOffsetsComeFromTheTypeMap) {
  // Map: the 528-byte header block, I16, DBL, I32; packed, then aligned to 8.
  UHandle map = VIRec(vi_)->dsTypeMap;
  ASSERT_EQ(GetNative16(*map + 4), 4);
  std::vector<int32> positions;
  for (int32 i = 0, pos = 6; i < 4; ++i, pos += GetNative16(*map + pos)) positions.push_back(pos);
  const int32 end = positions[3] + GetNative16(*map + positions[3]);
  struct Case {
    int16 align;
    std::vector<int32> offsets;
  } cases[] = {{1, {0, 528, 530, 538}}, {8, {0, 528, 536, 544}}};
  for (const Case& c : cases) {
    qxtest::AlignScope scope(c.align);
    for (size_t i = 0; i < positions.size(); ++i)
      EXPECT_EQ(DSOffsetForType(vi_, 9999, positions[i]), c.offsets[i]) << c.align << " " << i;
  }
  const int32 sizes[] = {528, 2, 8, 4};
  for (size_t i = 0; i < positions.size(); ++i) EXPECT_EQ(DSTypeSizeAt(vi_, positions[i]), sizes[i]);
  // Positions that are no element start, or past the map.
  for (int32 bad : {0, 5, positions[1] + 1, end, end + 100, -6})
    EXPECT_EQ(DSOffsetForType(vi_, 9999, bad), 0) << bad;
  EXPECT_EQ(DSTypeSizeAt(vi_, end), -1);
  // With code the stored offset stands.
  VIRec(vi_)->codeHandle = map;
  EXPECT_EQ(DSOffsetForType(vi_, 9999, positions[1]), 9999);
  VIRec(vi_)->codeHandle = nullptr;
}

TEST_F(ObjLoad, AMalformedTypeMapGivesNoOffset) {
  UHandle map = VIRec(vi_)->dsTypeMap;
  const int32 second = 6 + GetNative16(*map + 6);
  struct Case {
    const char* what;
    int32 at, value;
  } cases[] = {{"count past the map", 4, 99}, {"element size 0", 6, 0}, {"element size past the map", 6, 30000}};
  for (const Case& c : cases) {
    const uInt16 saved = GetNative16(*map + c.at);
    PutNative16(*map + c.at, uInt16(c.value));
    EXPECT_EQ(DSOffsetForType(vi_, 0, c.at == 4 ? 1000 : second), 0) << c.what;
    PutNative16(*map + c.at, saved);
  }
  EXPECT_EQ(DSOffsetForType(vi_, 0, second), 528);
  UHandle keep = VIRec(vi_)->dsTypeMap;
  VIRec(vi_)->dsTypeMap = nullptr;
  EXPECT_EQ(DSOffsetForType(vi_, 0, second), 0);
  VIRec(vi_)->dsTypeMap = keep;
  EXPECT_EQ(DSOffsetForType(nullptr, 0, second), 0);
}

TEST_F(ObjLoad, TheWriterRefusesObjectsNotInTheHeap) {
  rsrcw::Writer w(FourCC("LVIN"), FourCC("QNLX"));
  EXPECT_FALSE(panelwriter::AddPanelHeap(w, panel_, 1, "Main.vi", 100, {{12345, {}}}));
  const int32 a = Obj(kClsCosmetic, 36);
  EXPECT_FALSE(panelwriter::AddPanelHeap(w, panel_, 1, "Main.vi", 100, {{a, {panelwriter::Image(40, "x")}}}));
}

}  // namespace
