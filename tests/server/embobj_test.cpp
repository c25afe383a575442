// The dispatch interface of embedded objects: the library's entry, the
// automation refnum cached in the object record, and the references held.
#include <atomic>
#include <thread>
#include <vector>

#include "engine/engine_test_support.h"
#include "mgsource/memory.h"
#include "rtlib/filerefnum.h"
#include "server/embobj.h"
#include "server/viref.h"

namespace {

// A counted interface as a library would hand it out.
struct FakeDispatch {
  EmbDispatch base;
  int32 refs;
};
uInt32 AddRef(EmbDispatch* d) { return uInt32(++reinterpret_cast<FakeDispatch*>(d)->refs); }
uInt32 Release(EmbDispatch* d) { return uInt32(--reinterpret_cast<FakeDispatch*>(d)->refs); }
PlatHResult Query(EmbDispatch*, const PlatGuid*, void** out) {
  *out = nullptr;
  return kPlatNoInterface;
}
const PlatComDispatchSlots kVtbl{&Query, &AddRef, &Release, nullptr, nullptr, nullptr, nullptr};

// The library: token 7 names gObject, token 8 an object without interface.
FakeDispatch gObject{{&kVtbl}, 1};
int32 GetDispatch(int32 token, EmbDispatch** out) {
  *out = nullptr;
  if (token == 7) *out = &gObject.base;  // lent: no reference for the caller
  return token == 9 ? 1 : 0;
}

class Boundary : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    gObject.refs = 1;
    EmbContainerProcs procs{};
    procs.slots[kEmbSlotDispatchSingle] = reinterpret_cast<void*>(&GetDispatch);
    old_ = EmbSetContainerProcs(procs);
  }
  void TearDown() override {
    EmbSetContainerProcs(old_);
    AutoRefReleaseAll();
    for (UHandle h : recs_) AZDisposeHandle(h);
    EngineTest::TearDown();
  }
  UHandle Record(int32 kind, int32 token) {
    UHandle h = AZNewHClr(sizeof(EmbObjectRec));
    EmbObjectRec* r = reinterpret_cast<EmbObjectRec*>(*h);
    r->kind = kind;
    r->token = token;
    recs_.push_back(h);
    return h;
  }
  static EmbObjectRec* R(UHandle h) { return reinterpret_cast<EmbObjectRec*>(*h); }

  EmbContainerProcs old_{};
  std::vector<UHandle> recs_;
};

TEST_F(Boundary, TheDispatchBecomesARefnumCachedInTheRecordHoldingOneReference) {
  UHandle rec = Record(kEmbObjectKind, 7);
  int32 ref = EmbUpdateDispatch(rec);
  ASSERT_NE(ref, 0);
  EXPECT_EQ(R(rec)->dispatchRef, ref);
  EXPECT_TRUE(IsAutomationRefnum(Cookie(ref)));
  // The diagrams' refnum test asks the jar once the server's hooks are in.
  ServerInstallRefnumHooks();
  EXPECT_TRUE(FPIsARefnum(uInt32(ref), kRefnumAutomation, 0));
  EXPECT_FALSE(FPIsARefnum(uInt32(ref) + 1, kRefnumAutomation, 0));
  SetRefnumKindHooks(nullptr);
  EmbDispatch* held = nullptr;
  EXPECT_EQ(AutoRefGetDispatch(Cookie(ref), &held), kNoErr);
  EXPECT_EQ(held, &gObject.base);
  EXPECT_EQ(gObject.refs, 3) << "one reference for the refnum, one for the caller";
  PlatComRelease(held);
  EXPECT_EQ(gObject.refs, 2) << "the refnum holds one reference, the local one is dropped";
  // Asking again for the same interface keeps the refnum and adds nothing.
  EXPECT_EQ(EmbUpdateDispatch(rec), ref);
  EXPECT_EQ(gObject.refs, 2);
  EXPECT_EQ(AutoRefRelease(Cookie(ref)), kNoErr);
  EXPECT_EQ(gObject.refs, 1);
  EXPECT_FALSE(IsAutomationRefnum(Cookie(ref)));
  ClearReports();
  EXPECT_EQ(AutoRefRelease(Cookie(ref)), kArgErr) << "released once only";
  EXPECT_EQ(qxtest::Reports::Get().Count("Error releasing Cookie"), 1);
  EXPECT_EQ(gObject.refs, 1);
  // The cached refnum is gone: the next update makes a new one.
  int32 again = EmbUpdateDispatch(rec);
  EXPECT_NE(again, 0);
  EXPECT_NE(again, ref);
  EXPECT_EQ(gObject.refs, 2);
}

TEST_F(Boundary, RecordsWithoutAnInterfaceAnswerZero) {
  struct Case {
    int32 kind, token;
    const char* what;
  } cases[] = {
      {2, 7, "not an object record"},
      {kEmbObjectKind, 0, "no object"},
      {kEmbObjectKind, 8, "the object gives no interface"},
      {kEmbObjectKind, 9, "the library reports a failure"},
  };
  for (const Case& c : cases) {
    UHandle rec = Record(c.kind, c.token);
    R(rec)->dispatchRef = 55;
    EXPECT_EQ(EmbUpdateDispatch(rec), 0) << c.what;
    EXPECT_EQ(R(rec)->dispatchRef, c.kind == kEmbObjectKind ? 0 : 55) << c.what;
  }
  EXPECT_EQ(gObject.refs, 1);
  EXPECT_EQ(EmbUpdateDispatch(nullptr), 0);
  UHandle small = AZNewHClr(8);
  EXPECT_EQ(EmbUpdateDispatch(small), 0) << "a handle too small for a record";
  AZDisposeHandle(small);
  // Without the library's entry nothing is fetched.
  EmbSetContainerProcs(EmbContainerProcs{});
  EXPECT_EQ(EmbUpdateDispatch(Record(kEmbObjectKind, 7)), 0);
  EXPECT_EQ(gObject.refs, 1);
  Cookie none = 0;
  EXPECT_EQ(AutoRefNewForDispatch(nullptr, &none), kArgErr);
  EXPECT_EQ(none, 0u);
  EXPECT_EQ(AutoRefRelease(0), kArgErr);
}

TEST_F(Boundary, ReleasingAllDropsEveryReference) {
  Cookie refs[3];
  for (Cookie& r : refs) ASSERT_EQ(AutoRefNewForDispatch(&gObject.base, &r), kNoErr);
  EXPECT_NE(refs[0], refs[1]);
  EXPECT_EQ(gObject.refs, 4);
  AutoRefReleaseAll();
  EXPECT_EQ(gObject.refs, 1);
  for (Cookie r : refs) EXPECT_FALSE(IsAutomationRefnum(r));
}

TEST_F(Boundary, ConcurrentReleasesOfOneRefnumDropOneReference) {
  Cookie ref = 0;
  ASSERT_EQ(AutoRefNewForDispatch(&gObject.base, &ref), kNoErr);
  // The interface counts without a lock: only one releaser may reach it.
  std::vector<std::thread> threads;
  std::atomic<int> ok{0};
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      if (AutoRefRelease(ref) == kNoErr) ++ok;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), 1);
  EXPECT_EQ(gObject.refs, 1);
}

}  // namespace
