// Shared set-up of the type heap tests: the type heap made once per process,
// VI records and panel heaps, and views of the heap's lists.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/typemgr.h"
#include "engine_test_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "tools/tdbuilder.h"

namespace qxtest {

constexpr int32 kVIRecordSize = 452;

class TypeHeapTest : public EngineTest {
 protected:
  // Each test starts from a type heap that holds only what registered VIs
  // name, and leaves it so: descriptors interned by a test go with it.
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(TypeHeapInit(), kNoErr);
    CollectTypeHeapGarbage();
  }
  void TearDown() override {
    for (auto& v : vis_) {
      if (FindInstrTypeRecQuiet(v.vi)) UnregisterVI(v.vi);
      OHDisposeHeap(v.panel);
      AZDisposeHandle(v.vi);
    }
    CollectTypeHeapGarbage();
    EngineTest::TearDown();
  }

  struct VI {
    UHandle vi;
    ObjHeap panel;
  };
  // A VI record and its panel heap, registered unless asked otherwise.
  VI NewVI(bool reg = true) {
    VI v;
    v.vi = AZNewHClr(kVIRecordSize);
    v.panel = OHNewHeap(2000, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
    EXPECT_TRUE(v.vi && v.panel);
    int32 ext = int32(OHWord(v.panel, kOHExtension));
    PutNative32(*v.panel + ext + kHeapExtOwner, uInt32(uintptr_t(v.vi)));
    PutNative32(*v.vi + kVITypeHeapIndex, uInt32(-1));
    if (reg) {
      EXPECT_EQ(RegisterVI(v.vi), kNoErr);
    }
    vis_.push_back(v);
    return v;
  }

  static int32 Word(ObjHeap h, int32 at) { return int32(GetNative32(*h + at)); }
  static int32 Ext() { return int32(OHWord(TypeHeap(), kOHExtension)); }
  static int32 SharedList() { return Word(TypeHeap(), Ext() + kTypeHeapExtSharedList); }
  static int32 VIList() { return Word(TypeHeap(), Ext() + kTypeHeapExtVIList); }
  static std::vector<int32> List(int32 list) {
    std::vector<int32> v;
    for (int32 i = 0, n = ObjListCount(TypeHeap(), list); i < n; ++i) v.push_back(ObjListGet(TypeHeap(), list, i));
    return v;
  }
  static std::vector<uChar> BytesAt(int32 obj) {
    const uChar* p = *TypeHeap() + obj;
    return std::vector<uChar>(p, p + GetNative16(p));
  }
  static int32 Rec(const VI& v) { return FindInstrTypeRecQuiet(v.vi); }
  static int32 CurrentList(const VI& v) { return Word(TypeHeap(), Rec(v) + kITRCurrentList); }
  static std::vector<int32> Current(const VI& v) { return List(CurrentList(v)); }
  static std::vector<int32> TypeLists(const VI& v) { return List(Word(TypeHeap(), Rec(v) + kITRTypeLists)); }

  // FindInstrTypeRec without its debug text for unregistered VIs.
  static int32 FindInstrTypeRecQuiet(UHandle vi) {
    int32 list = VIList();
    int32 idx = int32(GetNative32(*vi + kVITypeHeapIndex));
    if (idx < 0 || idx >= ObjListCount(TypeHeap(), list)) return 0;
    int32 rec = ObjListGet(TypeHeap(), list, idx);
    return Word(TypeHeap(), rec + kITRVI) == int32(uintptr_t(vi)) ? rec : 0;
  }

  // A TD in memory order, interned.
  static int32 Intern(const tdb::TD& td, Bool32* found = nullptr) {
    std::vector<uChar> b = td.Bytes();
    return InternTD(tdb::AsTD(b), found);
  }

  // The shared list is sorted by unsigned size, then bytes, without duplicates.
  static void ExpectSharedSorted() {
    std::vector<int32> s = List(SharedList());
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(BytesAt(s[0]), tdb::Void().Bytes()) << "void first";
    for (size_t i = 1; i < s.size(); ++i) {
      std::vector<uChar> a = BytesAt(s[i - 1]), b = BytesAt(s[i]);
      ASSERT_TRUE(a.size() < b.size() || (a.size() == b.size() && a < b)) << "element " << i;
    }
  }

  // The used blocks of the type heap: offset and class.
  static std::vector<std::pair<int32, int32>> Blocks() {
    std::vector<std::pair<int32, int32>> v;
    ObjHeap h = TypeHeap();
    uInt32 end = OHWord(h, kOHEndOffset) + 1;
    for (uInt32 b = kOHHeaderSize; b < end;) {
      uInt32 w = OHWord(h, b);
      if (!(w & 1)) v.emplace_back(int32(b + kOHBlockHeader), int32(OHWord(h, b + 8)));
      b += w & ~3u;
    }
    return v;
  }
  static int32 CountClass(int32 cls) {
    int32 n = 0;
    for (auto& b : Blocks()) n += b.second == cls;
    return n;
  }

  std::vector<VI> vis_;
};

}  // namespace qxtest
