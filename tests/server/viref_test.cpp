// VI references as the engine sees them: counting and releasing them, the
// hold they put on a VI against purging and closing, and the set-up of
// proxy-callee VIs.
#include "engine/viinst_test_support.h"
#include "server/proxy.h"
#include "server/viref.h"

using namespace qxvitest;

namespace {

class VIRefTest : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    ASSERT_EQ(VIRefInit(), kNoErr);
    VIRefReleaseAll();
    ServerInstallEngineHooks();
  }
  void TearDown() override {
    VIRefReleaseAll();
    VITest::TearDown();
  }
  // A trusted reference on the loaded VI.
  static VIRef NewRef(UHandle vi) {
    VIRef ref = 0;
    EXPECT_EQ(AppOpenVIRefByName(kLocalAppRef, VIRec(vi)->name, nullptr, kVIRefOptTrusted, nullptr, &ref, nullptr,
                                 nullptr, nullptr),
              kNoErr);
    return ref;
  }
  static int32 Refs(UHandle vi) {
    int32 n = -1;
    VIHasRefs(vi, &n);
    return n;
  }
};

TEST_F(VIRefTest, ReferencesAreCountedPerVIAndReleasedOneByOneOrAll) {
  UHandle a = NewVICore(kVIKindDatalog, PS("a"), -1);
  UHandle b = NewVICore(kVIKindDatalog, PS("b"), -1);
  EXPECT_EQ(Refs(a), 0);
  const VIRef r1 = NewRef(a), r2 = NewRef(a), r3 = NewRef(b);
  ASSERT_NE(r1, 0);
  EXPECT_NE(r1, r2);
  EXPECT_NE(r2, r3);
  EXPECT_EQ(Refs(a), 2);
  EXPECT_EQ(Refs(b), 1);
  EXPECT_EQ(VIRefRelease(r1), kNoErr);
  EXPECT_EQ(VIRefRelease(r1), kVIRefInvalidErr);  // released already
  EXPECT_EQ(VIRefRelease(0), kVIRefInvalidErr);
  EXPECT_EQ(Refs(a), 1);
  // The list of one VI goes without touching the other's.
  NewRef(a);
  DisposeVIRefList(a);
  EXPECT_EQ(Refs(a), 0);
  EXPECT_EQ(Refs(b), 1);
  DisposeVIRefList(a);  // empty: nothing
  NewRef(a);
  VIRefReleaseAll();
  EXPECT_EQ(Refs(a), 0);
  EXPECT_EQ(Refs(b), 0);
  EXPECT_EQ(VIRefRelease(r3), kVIRefInvalidErr);
}

TEST_F(VIRefTest, AReferencedVIIsNeitherDisposableNorPurged) {
  UHandle vi = NewVICore(kVIKindDatalog, PS("held by a reference"), -1);
  ASSERT_TRUE(VIIsDisposable(vi));
  const VIRef ref = NewRef(vi);
  EXPECT_FALSE(VIIsDisposable(vi));
  PurgeUnusedVIs(0);
  EXPECT_TRUE(IsVILoaded(vi));
  // A close leaves it, marked for closing later.
  EXPECT_EQ(CloseVI(vi, 0, 0, 0), 1);
  EXPECT_TRUE(IsVILoaded(vi));
  EXPECT_NE(VIRec(vi)->flags2 & 0x800000u, 0u);
  ASSERT_EQ(VIRefRelease(ref), kNoErr);
  EXPECT_TRUE(VIIsDisposable(vi));
  PurgeUnusedVIs(0);
  EXPECT_FALSE(IsVILoaded(vi));
}

TEST_F(VIRefTest, DisposingAVIReleasesItsReferences) {
  UHandle vi = NewVICore(kVIKindDatalog, PS("going"), -1);
  UHandle other = NewVICore(kVIKindDatalog, PS("staying"), -1);
  const VIRef gone1 = NewRef(vi), gone2 = NewRef(vi);
  const VIRef kept = NewRef(other);
  DisposeVI(vi, 1);
  EXPECT_FALSE(IsVIRefnum(uInt32(gone1)));
  EXPECT_FALSE(IsVIRefnum(uInt32(gone2)));
  EXPECT_EQ(Refs(other), 1);
  EXPECT_EQ(VIRefRelease(kept), kNoErr);
}

TEST_F(VIRefTest, ClosingAllReleasesEveryReferenceFirst) {
  UHandle a = NewVICore(kVIKindDatalog, PS("one"), -1);
  UHandle b = NewVICore(kVIKindDatalog, PS("two"), -1);
  NewRef(a);
  NewRef(b);
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
