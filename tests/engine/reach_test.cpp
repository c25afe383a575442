// The reachability walk over the loaded VIs.
#include <gtest/gtest.h>

#include "engine/exec/callchain.h"
#include "engine/exec/runcmd.h"
#include "engine/vi/vi_internal.h"
#include "mgsource/byteorder.h"
#include "viinst_test_support.h"

using namespace qxvitest;

namespace {

void Append(UHandle list, UHandle vi) {
  const int32 n = int32(GetNative32(*list));
  ASSERT_EQ(AZSetHandleSize(list, 8 + 4 * n), kNoErr);
  PutNative32(*list + 4 + 4 * n, uInt32(uintptr_t(vi)));
  PutNative32(*list, uInt32(n + 1));
}

class ReachTest : public VITest {
 protected:
  UHandle Make(const char* name) {
    UHandle vi = NewVICore(kVIKindDatalog, PS(name), -1);
    EXPECT_NE(vi, nullptr);
    return vi;
  }
  static void Calls(UHandle caller, UHandle sub) {
    Append(VIRec(caller)->subVIs, sub);
    Append(VIRec(sub)->callers, caller);
  }
  static bool Reachable(UHandle vi) { return (VIRec(vi)->marks & kVIMarkReachable) != 0; }
};

TEST_F(ReachTest, VIsReachableFromUncalledVIsAndOpenPanels) {
  // a -> b -> c; d -> e with d called by e (a cycle nobody else calls); f
  // called by d only.
  UHandle a = Make("a"), b = Make("b"), c = Make("c"), d = Make("d"), e = Make("e"), f = Make("f");
  Calls(a, b);
  Calls(b, c);
  Calls(d, e);
  Calls(e, d);
  Calls(d, f);
  VIRec(c)->marks |= kVIMarkReachable;  // stale marks are cleared first
  MarkReachableVIs();
  EXPECT_TRUE(Reachable(a));
  EXPECT_TRUE(Reachable(b));
  EXPECT_TRUE(Reachable(c));
  EXPECT_FALSE(Reachable(d)) << "only called by an unreachable VI";
  EXPECT_FALSE(Reachable(e));
  EXPECT_FALSE(Reachable(f));
  EXPECT_TRUE(IsReachableRoot(a));
  EXPECT_FALSE(IsReachableRoot(b)) << "its caller is reachable";
  EXPECT_FALSE(IsReachableRoot(d));

  // The walk from d ends on the cycle d -> e -> d.
  MarkVITree(d);
  EXPECT_TRUE(Reachable(d));
  EXPECT_TRUE(Reachable(e));
  EXPECT_TRUE(Reachable(f));
  EXPECT_FALSE(IsReachableRoot(d)) << "e, its caller, is marked";
}

TEST_F(ReachTest, ExcludedVIsAreNotEntered) {
  UHandle a = Make("a"), b = Make("b"), c = Make("c");
  Calls(a, b);
  Calls(b, c);
  VIRec(b)->marks |= kVIMarkExcluded;
  MarkReachableVIs();
  EXPECT_TRUE(Reachable(a));
  EXPECT_FALSE(Reachable(b));
  EXPECT_FALSE(Reachable(c)) << "reached only through an excluded VI";
  VIRec(b)->marks &= ~kVIMarkExcluded;
  VIRec(b)->marks |= kVIMarkReachable;
  EXPECT_FALSE(IsReachableRoot(b)) << "a marked caller";
  VIRec(a)->marks |= kVIMarkExcluded;
  EXPECT_FALSE(IsReachableRoot(a)) << "excluded";
}

TEST_F(ReachTest, AVICalledOnlyByAVIWithAnOpenPanelIsReachable) {
  UHandle caller = Make("caller"), sub = Make("sub"), other = Make("other");
  Calls(other, caller);
  Calls(caller, sub);
  // other is itself called by a VI outside the list, so nothing reaches it
  // except through the open panel of caller.
  UHandle outside = Make("outside");
  Calls(outside, other);
  Calls(other, outside);
  ASSERT_EQ(OpenFrontPanel(caller), 1);
  MarkReachableVIs();
  EXPECT_TRUE(Reachable(caller));
  EXPECT_TRUE(Reachable(sub));
  EXPECT_FALSE(Reachable(other));
}

}  // namespace

namespace {

class CallChainWindowTest : public ReachTest {
 protected:
  UHandle WithPanelDS(const char* name) {
    UHandle vi = Make(name);
    if (!VIRec(vi)->dataSpace) { EXPECT_EQ(NewMinimalDataSpace(vi), kNoErr); }
    EXPECT_NE(VIRec(vi)->panelHeap, nullptr);
    viinst::SetPanelDataSpace(VIRec(vi)->panelHeap, DS(vi));
    return vi;
  }
  static DataSpace DS(UHandle vi) { return reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); }
  void TearDown() override {
    SetRunCmdHooks(nullptr);
    ReachTest::TearDown();
  }
};

TEST_F(CallChainWindowTest, WhenTheWindowShowsACallChain) {
  UHandle vi = WithPanelDS("w");
  struct Case {
    uInt32 state, flags, flags2;
    int32 busy;
    bool shows;
  } cases[] = {
      {2, 0, 0, 0, true},   {7, 0, 0, 0, true},   {9, 0, 0, 0, true},
      {12, 0, 0, 0, true},  {1, 0, 0, 0, false},  {1, 0, kVIFlags2RunContinuously, 0, true},
      {5, 0, kVIFlags2RunContinuously, 0, true},  {13, 0, kVIFlags2RunContinuously, 0, true},
      {4, 0, kVIFlags2RunContinuously, 0, false}, {1, kVIFlagReentrant, 0, 1, true},
      {1, kVIFlagReentrant, kVIFlags2RunContinuously, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.state << " " << c.flags << " " << c.flags2);
    VIRec(vi)->eState = c.state;
    VIRec(vi)->flags = c.flags;
    VIRec(vi)->flags2 = c.flags2;
    (*DS(vi))->busy = c.busy;
    EXPECT_EQ(bool(VIShowsCallChain(vi)), c.shows);
    EXPECT_EQ(CallChainMenuState(vi, 3), c.shows ? 0 : 2);
  }
  // The panel showing another data space (none here) shows no chain.
  viinst::SetPanelDataSpace(VIRec(vi)->panelHeap, nullptr);
  VIRec(vi)->eState = 1;
  VIRec(vi)->flags = 0;
  VIRec(vi)->flags2 = kVIFlags2RunContinuously;
  EXPECT_FALSE(VIShowsCallChain(vi));
}

TEST_F(CallChainWindowTest, MenuStateOfASuspendedVIAndTheTitle) {
  UHandle vi = WithPanelDS("titled");
  VIRec(vi)->eState = 7;
  EXPECT_EQ(CallChainMenuState(vi, 2), 0) << "without the panel's flag";
  RunCmdHooks h{};
  h.fpHeapFlag18 = [](UHandle) -> int32 { return 1; };
  SetRunCmdHooks(&h);
  EXPECT_EQ(CallChainMenuState(vi, 2), 2);
  VIRec(vi)->eState = 2;
  EXPECT_EQ(CallChainMenuState(vi, 2), 0);
  EXPECT_EQ(CallChainMenuState(vi, 1), 0);

  (*DS(vi))->busy = 1;
  Str255 title;
  title[0] = 0;
  EXPECT_EQ(GetCallChainTitle(VIRec(vi)->panelHeap, kCallChainItemId, title), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(title + 1), title[0]), "titled") << "names the top VI";
  EXPECT_EQ(GetCallChainTitle(VIRec(vi)->panelHeap, kCallChainItemId + 1, title), 0);
  VIRec(vi)->eState = 1;
  EXPECT_EQ(GetCallChainTitle(VIRec(vi)->panelHeap, kCallChainItemId, title), 0) << "no chain shown";
  (*DS(vi))->busy = 0;
}

}  // namespace
