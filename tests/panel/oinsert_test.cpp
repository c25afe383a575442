// Placing objects on a front panel: controllers made and entered, groupers
// wrapped member by member, and a failed insertion undone whole.
#include "mgsource/memory.h"
#include "panel/oinsert.h"
#include "panel/oinit.h"
#include "panel/zktag.h"
#include "panel_test_support.h"

namespace {

class OInsertTest : public ptest::PanelRootTest {
 protected:
  int32 Display(int32 cls, int32 owner = 0) {
    const int32 o = Obj(cls, owner, 7, 2);
    SetW(o, kPWDDOTypeId, int32(Type(tdb::I32())));
    return o;
  }
  std::vector<int32> List(int32 obj, int32 word) {
    std::vector<int32> v;
    const int32 l = W(obj, word);
    for (int32 i = 0; l && i < ObjListCount(panel_, l); ++i) v.push_back(ObjListGet(panel_, l, i));
    return v;
  }
  int32 Blocks() {
    int32 n = 0;
    OHForEachBlockWith(panel_, [](ObjHeap, int32, void* c) { return ++*static_cast<int32*>(c), 0; }, &n);
    return n;
  }
};

TEST_F(OInsertTest, ControlsCosmeticsAndGroupersTakeTheirPlaces) {
  const int32 a = Display(kClsNumeric), b = Display(kClsNumeric), cosm = Obj(kClsCosmetic);
  ASSERT_EQ(OInsert(panel_, root_, a, 0x7FFFFFFF), 1);
  ASSERT_EQ(OInsert(panel_, root_, b, 0), 1);
  const int32 ca = W(a, kPWOwner), cb = W(b, kPWOwner);
  EXPECT_EQ(List(root_, 11), (std::vector<int32>{cb, ca}));
  EXPECT_EQ(List(root_, 10), (std::vector<int32>{cb, ca}));
  EXPECT_EQ(W(ca, kPWOwner), root_);
  EXPECT_TRUE(W(a, 0) & 0x8000);
  EXPECT_EQ(W(a, 2), 0) << "part id and order cleared";
  ASSERT_EQ(OInsert(panel_, root_, cosm, 5), 1);
  EXPECT_EQ(W(cosm, kPWOwner), root_);
  EXPECT_EQ(List(root_, 10).size(), 2u) << "a cosmetic has no controller";

  const int32 g = Obj(kClsGrouperObject), inner = Obj(kClsGrouperObject, g);
  const int32 m1 = Display(kClsNumeric, g), label = Obj(kClsLabel, g), m2 = Display(kClsString, inner);
  const int32 m3 = Display(kClsNumeric, g);
  const std::vector<int32> objects = List(root_, 11), controllers = List(root_, 10);
  const int32 blocks = Blocks();
  int32 answer = 2;
  for (int32 n = 1; answer == 2 && n < 200; ++n) {  // each allocation in turn fails, then none
    MemFailNthAllocation(n);
    answer = OInsert(panel_, root_, g, 1);
    MemFailNthAllocation(0);
    if (answer != 2) break;
    EXPECT_EQ(List(root_, 11), objects) << n;
    EXPECT_EQ(List(root_, 10), controllers) << n;
    EXPECT_EQ(List(g, 6), (std::vector<int32>{inner, m1, label, m3})) << n;
    EXPECT_TRUE(W(m1, kPWOwner) == g && W(m2, kPWOwner) == inner && W(m3, kPWOwner) == g) << n;
    EXPECT_EQ(Blocks(), blocks) << n;
  }
  ASSERT_EQ(answer, 1);
  EXPECT_EQ(List(root_, 11).front(), g);
  EXPECT_EQ(List(root_, 10).size(), 5u);
  for (int32 m : {m1, m2, m3}) {
    const int32 dco = W(m, kPWOwner);
    EXPECT_EQ(ObjClass(panel_, dco), kClsFPDataController);
    EXPECT_EQ(W(dco, kPWOwner), m == m2 ? inner : g);
    EXPECT_NE(OHListFind(panel_, W(root_, 10), dco), -1);
  }
  EXPECT_EQ(List(g, 6), (std::vector<int32>{inner, W(m1, kPWOwner), label, W(m3, kPWOwner)}));
  EXPECT_EQ(W(g, kPWOwner), root_);
  EXPECT_EQ(Asserts(), 0);
}

TEST_F(OInsertTest, ContainersAndDisplaysRefuseAndOwnerWalksEnd) {
  const struct {
    int32 cls, answer;
  } cases[] = {{kClsCluster, 1}, {kClsArray, 1}, {kClsRefNum, 1}, {kClsNumeric, 0}, {kClsTag, 0}, {kClsFPDataController, 0}};
  for (const auto& c : cases) {
    const int before = Asserts();
    EXPECT_EQ(OInsert(panel_, Obj(c.cls), Obj(kClsNumeric), 0), c.answer) << c.cls;
    EXPECT_EQ(Asserts(), before + 1) << c.cls;
  }
  const int32 array = Obj(kClsArray, root_), element = Obj(kClsCluster, array), inner = Obj(kClsNumeric, element);
  SetW(array, kPWArrayElement, element);
  EXPECT_EQ(FindOwnerArray(panel_, inner), array);
  SetW(array, kPWOwner, inner);  // a loop from a file
  SetW(array, kPWArrayElement, 0);
  EXPECT_EQ(FindOwnerArray(panel_, inner), 0);
}

}  // namespace
