// The class records, the message dispatch, the converters of slot 1 and the
// start-up blocks of the object system.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/exec/rttable.h"
#include "panel_test_support.h"
#include "tools/panelwriter.h"

namespace {

using ptest::PanelTest;

std::string Name(const uChar* p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

class ClassTableTest : public PanelTest {};

TEST_F(ClassTableTest, TheTableHoldsTheClassesAndTheFillerElsewhere) {
  const ObjClassRecord* const* t = ClassIdTable();
  int present = 0;
  for (int32 id = 0; id < kClassIdCount; ++id) {
    ASSERT_NE(t[id], nullptr) << id;
    if (Name(t[id]->name) == "BadProc") {
      EXPECT_EQ(t[id]->methodCount, 0) << id;
      EXPECT_EQ(t[id]->instanceSize, 8);
      EXPECT_EQ(t[id]->superId, -1);
      EXPECT_EQ(t[id]->categoryA, 0u);
      continue;
    }
    ++present;
    EXPECT_EQ(t[id]->methodCount, kObjMethodCount) << id;
    if (t[id]->superId >= 0) {
      EXPECT_EQ(Name(t[id]->superName), Name(t[t[id]->superId]->name)) << id;
    } else {
      EXPECT_EQ(t[id]->superName[0], 0) << id;
    }
  }
  EXPECT_EQ(present, 71);
  struct Sample {
    int32 id;
    const char* name;
    int32 super, size;
    uInt32 a, b;
  };
  const Sample samples[] = {
      {89, "Knob", 88, 68, kCatQXCT, kCatDDO},
      {76, "Front Panel", 83, 76, kCatQXCT, kCatFPSC},
      {18, "FrontPanelDataController", 17, 36, kCatQXCT, kCatDCO},
      {126, "ObjHeapHdrExtension", -1, 132, kCatOBDP, kCatGNRC},
      {94, "Graph/Chart", 77, 100, kCatQXCT, kCatDDO},
      {177, "SubVIFromSel Backup", -1, 4, kCatBKUP, kCatBKUP},
      {14, "BigMultiLabel", 13, 68, kCatOBDP, kCatCOSM},
  };
  for (const Sample& s : samples) {
    const ObjClassRecord* r = ClassRecord(s.id);
    EXPECT_EQ(Name(r->name), s.name);
    EXPECT_EQ(r->superId, s.super) << s.name;
    EXPECT_EQ(r->instanceSize, s.size) << s.name;
    EXPECT_EQ(r->categoryA, s.a) << s.name;
    EXPECT_EQ(r->categoryB, s.b) << s.name;
  }
  EXPECT_EQ(ClassRecord(-1), ClassRecord(3)) << "outside the table: the filler";
  EXPECT_EQ(ClassRecord(179), ClassRecord(3));
}

TEST_F(ClassTableTest, SlotFiftyFiveHoldsTheAllocationMethods) {
  const int32 own[] = {18, 76, 80, 82, 83, 85, 86, 87, 88, 89, 92, 94, 100, 101, 105, 143};
  const int32 null[] = {9, 10, 11, 12, 13, 14, 77, 79, 81, 91, 95, 97, 104, 148, 149, 166, 171, 172, 175};
  const int32 error[] = {1, 5, 7, 17, 124, 126, 131, 152};
  ObjMethodAddr errorM = reinterpret_cast<ObjMethodAddr>(&ErrorMethod);
  ObjMethodAddr nullM = reinterpret_cast<ObjMethodAddr>(&NullMethod);
  for (int32 id : own) {
    ObjMethodAddr m = ClassRecord(id)->methods[kMsgOAllocate];
    EXPECT_TRUE(m != errorM && m != nullM) << id;
  }
  for (int32 id : null) EXPECT_EQ(ClassRecord(id)->methods[kMsgOAllocate], nullM) << id;
  for (int32 id : error) EXPECT_EQ(ClassRecord(id)->methods[kMsgOAllocate], errorM) << id;
  // Subclasses without a method of their own share their superclass's.
  ObjMethodAddr numeric = ClassRecord(kClsNumeric)->methods[kMsgOAllocate];
  for (int32 id : {kClsKnob, kClsSlide, kClsColorBox, kClsColorRamp})
    EXPECT_EQ(ClassRecord(id)->methods[kMsgOAllocate], numeric) << id;
  EXPECT_NE(ClassRecord(kClsRing)->methods[kMsgOAllocate], numeric) << "a ring has items of its own";
  // The dispatch reaches them through the object's class word.
  int32 knob = Obj(kClsKnob);
  int32 num = Obj(kClsNumeric);
  EXPECT_EQ(OFindMethod(panel_, knob, kMsgOAllocate), OFindMethod(panel_, num, kMsgOAllocate));
  EXPECT_EQ(OFindMethod(panel_, knob, kMsgOAllocate), numeric);
  SetW(knob, 9, int32(Type(tdb::DBL())));
  EXPECT_EQ(AllocObjDataSpace(panel_, knob), kNoErr);
  EXPECT_GE(W(knob, 11), kDataSpaceHeaderSize) << "the knob got the numeric family's range";
}

TEST_F(ClassTableTest, MessagesThatNoMethodTakesReachErrorMethod) {
  int32 knob = Obj(kClsKnob);
  int32 bad = vib::NewObject(panel_, 3, 8);  // an id without a class
  int32 ext = vib::NewObject(panel_, 200, 8);  // an external class id
  ObjMethodAddr errorM = reinterpret_cast<ObjMethodAddr>(&ErrorMethod);
  for (int32 msg : {78, 79, 200, -1}) EXPECT_EQ(OFindMethod(panel_, knob, msg), errorM) << msg;
  for (int32 msg : {0, 1, 55, 77}) {
    EXPECT_EQ(OFindMethod(panel_, bad, msg), errorM) << msg;
    EXPECT_EQ(OFindMethod(panel_, ext, msg), errorM) << msg;
  }
  ClearReports();
  EXPECT_EQ(OAllocate(panel_, bad), 0);
  char line[100];
  std::snprintf(line, sizeof line, "ErrorMethod: \"BadProc\" in \"Test\" FPHP+%x\n", bad);
  EXPECT_EQ(Reports(line), 1) << qxtest::Reports::Get().Text();
  EXPECT_EQ(Reports("message to a class without a method"), 1);
  // Outside a front-panel heap the VI's name is "??".
  ObjHeap other = OHNewHeap(300, FourCC("XXHP"), kHeapExtensionSize, kClsObjHeapHdrExtension);
  int32 list = vib::NewObject(other, kClsList, 8);
  ClearReports();
  EXPECT_EQ(OAllocate(other, list), 0);
  EXPECT_EQ(Reports("ErrorMethod: \"List\" in \"??\" XXHP+"), 1);
  OHDisposeHeap(other);
  // NullMethod answers 0 without a report.
  ClearReports();
  EXPECT_EQ(OAllocate(panel_, Obj(kClsBoolean)), 0);
  EXPECT_EQ(Reports("ErrorMethod"), 0);
}

TEST_F(ClassTableTest, SlotOneHoldsTheConvertersAndHeapConversionUsesThem) {
  int converted = 0;
  for (int32 id = 0; id < kClassIdCount; ++id) {
    ObjSwapProc p = ObjSwapForClass(id);
    if (!p) continue;
    ++converted;
    EXPECT_EQ(ClassRecord(id)->methods[kMsgOSwap], reinterpret_cast<ObjMethodAddr>(p)) << id;
    EXPECT_EQ(GetObjSwapProc(id), p) << "registered at start-up: " << id;
  }
  EXPECT_GT(converted, 30);
  // A panel heap written wholly in file order converts back through the registry.
  int32 ring = Obj(kClsRing);
  for (int32 w = 11; w <= 16; ++w) SetW(ring, w, 0x01020304 * w);
  PutNative16(*panel_ + ring + 40, 0x1234);
  int32 label = Obj(kClsLabel, ring, 16);
  SetW(label, 8, 0x00FF00AA);
  int32 cl = Obj(kClsCluster);
  SetW(cl, 10, vib::NewList(panel_, {ring}));
  std::vector<uChar> before(*panel_, *panel_ + AZGetHandleSize(panel_));
  ASSERT_EQ(OHByteSwapHeap(panel_, panelwriter::SwapObjectAllToFile, 1), kNoErr);
  EXPECT_EQ(GetBE32(*panel_ + ring + 60), uInt32(0x01020304 * 15)) << "the ring's own words in file order";
  ASSERT_EQ(OHByteSwapHeap(panel_, OSwapByClass, 0), kNoErr);
  EXPECT_EQ(std::vector<uChar>(*panel_, *panel_ + AZGetHandleSize(panel_)), before);
  // Without the ring's converter its words stay in file order.
  ObjSwapProc old = SetObjSwapProc(kClsRing, nullptr);
  ASSERT_EQ(OHByteSwapHeap(panel_, panelwriter::SwapObjectAllToFile, 1), kNoErr);
  ASSERT_EQ(OHByteSwapHeap(panel_, OSwapByClass, 0), kNoErr);
  EXPECT_EQ(GetBE32(*panel_ + ring + 60), uInt32(0x01020304 * 15));
  SetObjSwapProc(kClsRing, old);
  // The message itself converts the object left in file order.
  EXPECT_EQ(OSwap(panel_, ring, kToMemoryOrder), kNoErr);
  EXPECT_EQ(std::vector<uChar>(*panel_, *panel_ + AZGetHandleSize(panel_)), before);
  EXPECT_EQ(W(ring, 15), 0x01020304 * 15);
  EXPECT_EQ(OSwap(panel_, vib::NewObject(panel_, 1, 4), kToMemoryOrder), 0) << "LInfo holds NullMethod";
}

TEST_F(ClassTableTest, PartsAreFoundByIdAndOrder) {
  int32 owner = Obj(kClsNumeric);
  int32 a = Obj(kClsLabel, owner, 16, 0);
  int32 b = Obj(kClsLabel, owner, 16, 1);
  int32 c = Obj(kClsScale, owner, 2, 0);
  EXPECT_EQ(FindPart(panel_, owner, 16, 0), a);
  EXPECT_EQ(FindPart(panel_, owner, 16, 1), b);
  EXPECT_EQ(FindPart(panel_, owner, 2, 0), c);
  EXPECT_EQ(FindPart(panel_, owner, 2, 1), 0);
  EXPECT_EQ(FindPart(panel_, owner, 7, 0), 0);
  EXPECT_EQ(FindPart(panel_, a, 16, 0), 0) << "an object without parts";
  int visited = 0;
  ForEachPart(panel_, owner, [&](int32) { ++visited; });
  EXPECT_EQ(visited, 3);
}

TEST_F(ClassTableTest, MemInitMadeTheStartUpBlocksOnce) {
  const AZPAllocBlocks* b = AZPBlocks();
  EXPECT_EQ(b->runs, 1);
  struct Block {
    UPtr p;
    int32 size;
  };
  const Block blocks[] = {{b->linkerTable, 3004}, {b->linkerNames, 160}, {b->block4000a, 4000},
                          {b->block4000b, 4000},  {b->block268, 268}};
  for (const Block& k : blocks) {
    ASSERT_NE(k.p, nullptr) << k.size;
    EXPECT_EQ(AZCheckPtr(k.p), kNoErr);
  }
  EXPECT_EQ(b->rtTable, static_cast<const void*>(QXRTTable));
  ASSERT_NE(b->emptyHandle, nullptr);
  EXPECT_EQ(AZGetHandleSize(b->emptyHandle), 0);
  ASSERT_NE(b->pairTable, nullptr);
  EXPECT_EQ(AZCheckPtr(b->pairTable), kNoErr);
  ASSERT_NE(TRStackBlock(), nullptr);
  EXPECT_EQ(AZCheckPtr(TRStackBlock()), kNoErr);
  // New pair tables are cleared; no table for a count of 0 or less, or one too large.
  auto* table = static_cast<uChar*>(NewPairTable(kPairTableEntries));
  ASSERT_NE(table, nullptr);
  for (int32 i = 0; i < kPairTableEntries * 8; ++i) ASSERT_EQ(table[i], 0) << i;
  AZDisposePtr(table);
  EXPECT_EQ(NewPairTable(0), nullptr);
  EXPECT_EQ(NewPairTable(-3), nullptr);
  EXPECT_EQ(NewPairTable(0x10000000), nullptr);
  MemFullReset();
}

}  // namespace
