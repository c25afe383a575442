// VI references as the engine sees them: counting and releasing them, the
// hold they put on a VI against purging and closing, and the set-up of
// proxy-callee VIs.
#include "engine/viinst_test_support.h"
#include "server/viref.h"

using namespace qxvitest;

namespace {

class VIRefTest : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    VIRefReleaseAll();
    ServerInstallEngineHooks();
  }
  void TearDown() override {
    VIRefReleaseAll();
    VITest::TearDown();
  }
};

TEST_F(VIRefTest, ReferencesAreCountedPerVIAndReleasedOneByOneOrAll) {
  UHandle a = NewVICore(kVIKindDatalog, PS("a"), -1);
  UHandle b = NewVICore(kVIKindDatalog, PS("b"), -1);
  EXPECT_EQ(VIHasRefs(a, 0), 0);
  const int32 r1 = NewVIRef(a), r2 = NewVIRef(a), r3 = NewVIRef(b);
  ASSERT_NE(r1, 0);
  EXPECT_NE(r1, r2);
  EXPECT_NE(r2, r3);
  EXPECT_EQ(VIHasRefs(a, 0), 2);
  EXPECT_EQ(VIHasRefs(b, 0), 1);
  EXPECT_EQ(NewVIRef(nullptr), 0);
  EXPECT_EQ(DisposeVIRef(r1), kNoErr);
  EXPECT_EQ(DisposeVIRef(r1), kArgErr);  // released already
  EXPECT_EQ(DisposeVIRef(0), kArgErr);
  EXPECT_EQ(VIHasRefs(a, 0), 1);
  // The list of one VI goes without touching the other's.
  NewVIRef(a);
  DisposeVIRefList(a);
  EXPECT_EQ(VIHasRefs(a, 0), 0);
  EXPECT_EQ(VIHasRefs(b, 0), 1);
  DisposeVIRefList(a);  // empty: nothing
  NewVIRef(a);
  VIRefReleaseAll();
  EXPECT_EQ(VIHasRefs(a, 0), 0);
  EXPECT_EQ(VIHasRefs(b, 0), 0);
  EXPECT_EQ(DisposeVIRef(r3), kArgErr);
}

TEST_F(VIRefTest, AReferencedVIIsNeitherDisposableNorPurged) {
  UHandle vi = NewVICore(kVIKindDatalog, PS("held by a reference"), -1);
  ASSERT_TRUE(VIIsDisposable(vi));
  const int32 ref = NewVIRef(vi);
  EXPECT_FALSE(VIIsDisposable(vi));
  PurgeUnusedVIs(0);
  EXPECT_TRUE(IsVILoaded(vi));
  // A close leaves it, marked for closing later.
  EXPECT_EQ(CloseVI(vi, 0, 0, 0), 1);
  EXPECT_TRUE(IsVILoaded(vi));
  EXPECT_NE(VIRec(vi)->flags2 & 0x800000u, 0u);
  ASSERT_EQ(DisposeVIRef(ref), kNoErr);
  EXPECT_TRUE(VIIsDisposable(vi));
  PurgeUnusedVIs(0);
  EXPECT_FALSE(IsVILoaded(vi));
}

TEST_F(VIRefTest, DisposingAVIReleasesItsReferences) {
  UHandle vi = NewVICore(kVIKindDatalog, PS("going"), -1);
  UHandle other = NewVICore(kVIKindDatalog, PS("staying"), -1);
  NewVIRef(vi);
  NewVIRef(vi);
  const int32 kept = NewVIRef(other);
  DisposeVI(vi, 1);
  EXPECT_EQ(VIHasRefs(vi, 0), 0);  // compares the number only: the handle is gone
  EXPECT_EQ(VIHasRefs(other, 0), 1);
  EXPECT_EQ(DisposeVIRef(kept), kNoErr);
}

TEST_F(VIRefTest, ClosingAllReleasesEveryReferenceFirst) {
  UHandle a = NewVICore(kVIKindDatalog, PS("one"), -1);
  UHandle b = NewVICore(kVIKindDatalog, PS("two"), -1);
  NewVIRef(a);
  NewVIRef(b);
  EXPECT_EQ(CloseAllVIs(0), 0);
  EXPECT_EQ(LoadedVICount(), 0);
  EXPECT_EQ(FirstLoadedVI(), nullptr);
}

TEST_F(VIRefTest, AProxyCalleeGetsItsDataSpaceAtCreation) {
  UHandle callee = NewVICore(kVIKindProxyCallee, PS("callee"), -1);
  ASSERT_NE(callee, nullptr);
  ASSERT_NE(VIRec(callee)->dataSpace, nullptr);
  DataSpace ds = reinterpret_cast<DataSpace>(VIRec(callee)->dataSpace);
  EXPECT_EQ(std::memcmp(reinterpret_cast<uChar*>(*ds) + 164, "DATA", 4), 0);
  EXPECT_TRUE(VIOwnsDataSpace(callee, ds));
  // A second set-up keeps the data space it has.
  EXPECT_EQ(PxCalleeInstallCode(callee), kNoErr);
  EXPECT_EQ(reinterpret_cast<DataSpace>(VIRec(callee)->dataSpace), ds);
  // Other kinds and null are refused.
  UHandle plain = NewVICore(kVIKindDatalog, PS("plain"), -1);
  EXPECT_EQ(PxCalleeInstallCode(plain), kArgErr);
  EXPECT_EQ(VIRec(plain)->dataSpace, nullptr);
  EXPECT_EQ(PxCalleeInstallCode(nullptr), kArgErr);
}

TEST_F(VIRefTest, AProxyCalleeWhoseSetUpFailsLeavesNothing) {
  // Warm up: the type heap and the handle tables reach their size.
  DisposeVI(NewVICore(kVIKindProxyCallee, PS("warm"), -1), 1);
  const int failures = FailEachAllocation(kVIKindProxyCallee, [](int) {});
  // The data space's allocations are among those that failed.
  EXPECT_GE(failures, 4);
}

}  // namespace
