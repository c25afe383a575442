// The automation client against the test dispatch class: the client's
// state, opening (attaching to a running object), calls with named and
// positional arguments, exceptions, properties, the clean-up of a VI's
// refnums, and the refnum type's comparison and byte-order conversion.
#include <functional>
#include <mutex>

#include "engine/exec/callchain.h"
#include "engine/exec_test_support.h"
#include "engine/omid.h"
#include "engine/stdize.h"
#include "mgsource/byteorder.h"
#include "ole_test_support.h"

using namespace oletest;

namespace oleautotest {

class OleAuto : public ClientTest {
 protected:
  // A refnum opened on the class of the type (outside a clump: no clean-up).
  Cookie Open(const tdb::TD& type) {
    TypeHandle t(type);
    Cookie ref = 0;
    EXPECT_EQ(AutoOpenRefnum(t.td(), &ref, kAutoRefClass), kNoErr);
    return ref;
  }
  // Join(1, [missing], 3) through the refnum: the result text.
  std::string JoinWithMissingMiddle(Cookie ref, int32* result) {
    PlatVariant args[4] = {Var(kPlatVtEmpty), VarI4(3), Var(kPlatVtEmpty), VarI4(1)};
    ProcessEmptyOptVariantParam(&args[2]);
    uInt16 types[4] = {kPlatVtBstr, kPlatVtI4, kPlatVtError, kPlatVtI4};
    uInt16* typePtrs[4] = {&types[0], &types[1], &types[2], &types[3]};
    *result = AutoInvokeMethod(ref, kTestMemberJoin, 4, typePtrs, args, kAutoCallMethod, nullptr, kAutoRefClass);
    const std::string text = args[0].vt == kPlatVtBstr ? BstrString(args[0].bstr) : "";
    PlatVariantClear(&args[0]);
    return text;
  }
};

// Every operation answers 3001 before the start or for another class, 3004
// after a failed start; a type without a class record cannot be opened.
TEST_F(OleAuto, TheClientsStateDecidesItsAnswers) {
  TypeHandle t(ClassType());
  Cookie ref = 0;
  PlatVariant v = Var(kPlatVtEmpty);
  EXPECT_EQ(AutoOpenRefnum(t.td(), &ref, kAutoRefClass), kAutoNotAvailableErr);
  EXPECT_EQ(AutoInvokeMethod(5, 1, 0, nullptr, nullptr, kAutoCallMethod, nullptr, kAutoRefClass), kAutoNotAvailableErr);
  EXPECT_EQ(AutoPropertyRead(5, 1, &v, 0, nullptr, kAutoRefClass), kAutoNotAvailableErr);
  EXPECT_EQ(AutoCloseRefnumCleanup(&ref, kAutoRefClass), kAutoNotAvailableErr);
  // A start in several threads whose interface table cannot be made fails.
  PrefSet(kPrefActiveXFreeThreaded, 1);
  ASSERT_EQ(PlatComRevokeClass(kPlatClsidInterfaceTable), kPlatOk);
  EXPECT_EQ(AutomationInit(), kPlatClassNotRegistered);
  PlatComRegisterClass(kPlatClsidInterfaceTable, &PlatComInterfaceTableFactory);
  EXPECT_EQ(AutoOpenRefnum(t.td(), &ref, kAutoRefClass), kAutoLibsFailedErr);
  EXPECT_EQ(AutoPropertyWrite(5, 1, &v, 0, nullptr, kAutoRefClass), kAutoLibsFailedErr);
  PrefSet(kPrefActiveXFreeThreaded, 0);
  ASSERT_EQ(AutomationInit(), kNoErr);
  EXPECT_EQ(AutoOpenRefnum(t.td(), &ref, 2), kAutoNotAvailableErr) << "another refnum class";
  TypeHandle bare(tdb::AutoRefnum({}));
  EXPECT_EQ(AutoOpenRefnum(bare.td(), &ref, kAutoRefClass), kAutoNoClassErr);
  TypeHandle interfaceOnly(tdb::AutoRefnum({{kAutoRecInterface, 1, 2, 3, {}, 9, 1, 0}}));
  EXPECT_EQ(AutoOpenRefnum(interfaceOnly.td(), &ref, kAutoRefClass), kAutoNoClassErr);
  const PlatGuid unknownClass{7, 7, 7, {7}};
  TypeHandle unregistered(tdb::AutoRefnum({{kAutoRecClass, unknownClass.data1, 7, 7, {7}}}));
  EXPECT_EQ(AutoOpenRefnum(unregistered.td(), &ref, kAutoRefClass), kPlatClassNotRegistered);
  EXPECT_EQ(ref, 0u);
  EXPECT_EQ(AutoInvokeMethod(0, 1, 0, nullptr, nullptr, kAutoCallMethod, nullptr, kAutoRefClass), kArgErr);
}

// Opening attaches to the class's running object; without one it makes
// and runs a new object.  Closing gives the reference back.
TEST_F(OleAuto, OpenAttachesToARunningObjectOrMakesOne) {
  ASSERT_EQ(AutomationInit(), kNoErr);
  ASSERT_EQ(TestDispatchSetRunning(true), kPlatOk);
  PlatComDispatch* running = TestDispatchRunning();
  const TestDispatchCounts before = TestDispatchCountsNow();
  Cookie ref = Open(ClassType());
  EmbDispatch* got = nullptr;
  ASSERT_EQ(AutoRefGetDispatch(ref, &got), kNoErr);
  EXPECT_EQ(got, running) << "attached";
  PlatComRelease(got);
  EXPECT_EQ(TestDispatchCountsNow().made, before.made);
  EXPECT_EQ(TestDispatchCountsNow().runs, before.runs);
  EXPECT_EQ(AutoCloseRefnum(&ref, kAutoRefClass), kNoErr);
  EXPECT_EQ(ref, 0u);
  PlatComRelease(running);
  ASSERT_EQ(TestDispatchSetRunning(false), kPlatOk);
  ref = Open(ClassType());
  EXPECT_EQ(TestDispatchCountsNow().made, before.made + 1);
  EXPECT_EQ(TestDispatchCountsNow().runs, before.runs + 1) << "made and run";
  EXPECT_EQ(TestDispatchCountsNow().live, 1);
  EXPECT_EQ(AutoCloseRefnum(&ref, kAutoRefClass), kNoErr);
  EXPECT_EQ(TestDispatchCountsNow().live, 0);
  ClearReports();
  ref = 0x10005;
  EXPECT_EQ(AutoCloseRefnum(&ref, kAutoRefClass), kArgErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("Error releasing Cookie"), 1);
}

// A missing middle argument travels by name; a server that takes no named
// arguments is called again with every argument in its own place.
TEST_F(OleAuto, MissingArgumentsTravelNamedOrInTheirPlaces) {
  ASSERT_EQ(AutomationInit(), kNoErr);
  struct Case {
    const char* what;
    tdb::TD type;
    uint32_t named;  // named arguments of the last call
    int32 calls;
  } cases[] = {
      {"named", ClassType(), 2, 1},
      {"positional retry", TwinType(), 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Cookie ref = Open(c.type);
    const int32 calls = TestDispatchCountsNow().calls;
    int32 result = -1;
    EXPECT_EQ(JoinWithMissingMiddle(ref, &result), "1|missing|3");
    EXPECT_EQ(result, kPlatOk);
    EXPECT_EQ(TestDispatchCountsNow().lastNamed, c.named);
    EXPECT_EQ(TestDispatchCountsNow().calls - calls, c.calls);
    EXPECT_EQ(AutoCloseRefnum(&ref, kAutoRefClass), kNoErr);
  }
}

// A server's exception puts its text into the error cluster's source, cut
// to a counted string, which the cluster then keeps.
TEST_F(OleAuto, ExceptionTextsAreComposedAndCut) {
  ASSERT_EQ(AutomationInit(), kNoErr);
  Cookie ref = Open(ClassType());
  struct Case {
    std::string source, description, help;
    std::string text;
  } cases[] = {
      {"Srv", "Bad input", "h.hlp", "Exception occured in Srv,  Bad input. Help Path is h.hlp and context 7"},
      {"", "Only", "", " Only. "},
      {std::string(300, 's'), std::string(300, 'd'), "x",
       "Exception occured in " + std::string(234, 's')},
  };
  for (const Case& c : cases) {
    TestDispatchSetException(c.source, c.description, c.help, 7);
    ErrorIOCluster e{0, 0, nullptr};
    PlatVariant result = Var(kPlatVtEmpty);
    const int32 r = AutoInvokeMethod(ref, kTestMemberFail, 1, nullptr, &result, kAutoCallMethod, &e, kAutoRefClass);
    EXPECT_EQ(r, kPlatDispException);
    EXPECT_EQ(LStrString(e.source), c.text);
    EXPECT_EQ(SetOLEVariantErrorIOClust(&e, 1, r, nullptr), kNoErr);
    EXPECT_EQ(LStrString(e.source), c.text) << "kept";
    DSDisposeHandle(reinterpret_cast<UHandle>(e.source));
  }
  EXPECT_EQ(AutoCloseRefnum(&ref, kAutoRefClass), kNoErr);
}

// Properties: put and read back, put by reference, a put of more than one
// value warns, a read clears what the variant held.
TEST_F(OleAuto, PropertiesArePutByValueOrReferenceAndRead) {
  ASSERT_EQ(AutomationInit(), kNoErr);
  Cookie ref = Open(ClassType());
  PlatVariant v = VarText("first");
  EXPECT_EQ(AutoPropertyWrite(ref, kTestMemberValue, &v, 0, nullptr, kAutoRefClass), kPlatOk);
  EXPECT_EQ(TestDispatchCountsNow().lastFlags, kPlatDispatchPropertyPut);
  EXPECT_EQ(AutoPropertyRead(ref, kTestMemberValue, &v, 0, nullptr, kAutoRefClass), kPlatOk);
  EXPECT_EQ(BstrString(v.bstr), "first");
  int32 stored = 42;
  PlatVariant byRef = Var(kPlatVtByRef | kPlatVtI4);
  byRef.byRef = &stored;
  EXPECT_EQ(AutoPropertyWrite(ref, kTestMemberValue, &byRef, kAutoCallPutRef, nullptr, kAutoRefClass), kPlatOk);
  EXPECT_EQ(TestDispatchCountsNow().lastFlags, kPlatDispatchPropertyPutRef);
  EXPECT_EQ(AutoPropertyRead(ref, kTestMemberValue, &v, 0, nullptr, kAutoRefClass), kPlatOk);
  EXPECT_EQ(v.vt, kPlatVtI4) << "the string read before was cleared";
  EXPECT_EQ(v.i4, 42);
  // An indexed put through the call: the value (the last argument first),
  // then the index.
  PlatVariant args[3] = {Var(kPlatVtEmpty), VarText("item"), VarI4(2)};
  ClearReports();
  EXPECT_EQ(AutoInvokeMethod(ref, kTestMemberItem, 3, nullptr, args, kAutoCallPut, nullptr, kAutoRefClass), kPlatOk);
  EXPECT_EQ(qxtest::Reports::Get().Count("WARNING: Property With num of params greater than 1"), 1);
  PlatVariantClear(&args[1]);
  PlatVariant get[2] = {Var(kPlatVtEmpty), VarI4(2)};
  EXPECT_EQ(AutoInvokeMethod(ref, kTestMemberItem, 2, nullptr, get, kAutoCallGet, nullptr, kAutoRefClass), kPlatOk);
  EXPECT_EQ(BstrString(get[0].bstr), "item");
  PlatVariantClear(&get[0]);
  EXPECT_EQ(AutoPropertyRead(ref, 99, &v, 0, nullptr, kAutoRefClass), kPlatDispMemberNotFound);
  EXPECT_EQ(AutoCloseRefnum(&ref, kAutoRefClass), kNoErr);
}

// ---- Refnums made by running VIs ------------------------------------------------------

// The clump's step runs under the lock with which the test reads the count
// of runs, so that what the step wrote is seen after it.
std::mutex gStepLock;
std::function<void()> gStep;
int gRuns = 0;
void ClumpRun(ExecContext*, QueueElement*) {
  std::lock_guard<std::mutex> g(gStepLock);
  if (gStep) gStep();
  ++gRuns;
}
int Runs() {
  std::lock_guard<std::mutex> g(gStepLock);
  return gRuns;
}

class OleAutoClump : public OleAuto {
 protected:
  void SetUp() override {
    OleAuto::SetUp();
    qxexectest::StartThreadManagers();
    qxexectest::ClearExecKeys();
    ThSetTestProcessorCount(2);
    ExecSetTimerService(nullptr);
    qxexectest::OnlySlots({{2, 1}, {3, 1}});
    ASSERT_EQ(InitExec(), kNoErr);
    ExecSetTestRunProc(ClumpRun);
  }
  void TearDown() override {
    FinishExec();
    ExecSetTestRunProc(nullptr);
    ThSetTestProcessorCount(0);
    qxexectest::ClearExecKeys();
    OleAuto::TearDown();
  }
  // Runs the step as a clump of the data space and waits for it.
  void RunIn(qxexectest::TestDataSpace& ds, std::function<void()> step) {
    {
      std::lock_guard<std::mutex> g(gStepLock);
      gStep = std::move(step);
    }
    QueueElement e = qxexectest::NewElement(ds.handle());
    const int before = Runs();
    EnQRunQ(&e);
    for (int i = 0; i < 20000 && Runs() == before; ++i) WSleep(1);
    ASSERT_GT(Runs(), before);
    std::lock_guard<std::mutex> g(gStepLock);
    gStep = nullptr;
  }
};

// The refnums a VI opened are released when its hierarchy ends; one closed
// with its clean-up is not released again.
TEST_F(OleAutoClump, TheVIsCleanUpReleasesEveryRefnum) {
  ASSERT_EQ(AutomationInit(), kNoErr);
  qxexectest::TestDataSpace ds(kPriNormal);
  Cookie refs[3] = {};
  RunIn(ds, [&] {
    for (Cookie& r : refs) r = Open(ClassType());
    EXPECT_EQ(AutoCloseRefnumCleanup(&refs[2], kAutoRefClass), kNoErr);
  });
  EXPECT_EQ(TestDispatchCountsNow().live, 2);
  ClearReports();
  RunCleanupProcs(ds.handle());
  EXPECT_EQ(TestDispatchCountsNow().live, 0);
  for (Cookie r : refs) EXPECT_FALSE(IsAutomationRefnum(r));
  EXPECT_EQ(qxtest::Reports::Get().Count("Error releasing Cookie"), 0) << "nothing released twice";
}

// The variants of a data space are cleared when its hierarchy ends, but
// for a dispatch interface held by value; a variant that cannot be cleared
// stops the walk with 2.
TEST_F(OleAutoClump, TheVariantsOfADataSpaceAreClearedAtItsEnd) {
  qxexectest::TestDataSpace ds(kPriNormal);
  const std::vector<uChar> type =
      tdb::Cluster({tdb::Block(kDataSpaceHeaderSize), tdb::Variant(), tdb::Array(tdb::Variant()), tdb::Variant()}).Bytes();
  const int32 size = DataSize(tdb::AsTD(type));
  ASSERT_EQ(DSSetHSzClr(reinterpret_cast<UHandle>(ds.handle()), size), kNoErr);
  UHandle td = DSNewHandle(int32(type.size()));
  std::memcpy(*td, type.data(), type.size());
  ds->typeDesc = td;
  ds->size = size;
  auto at = [&](int32 off) { return reinterpret_cast<PlatVariant*>(reinterpret_cast<uChar*>(*ds.handle()) + off); };
  const int32 first = kDataSpaceHeaderSize, array = first + 16, last = array + 4;
  *at(first) = VarText("gone");
  void* object = nullptr;
  ASSERT_EQ(PlatComCreateInstance(&kTestDispatchClass, nullptr, kPlatClassInproc, &kPlatIidDispatch, &object), kPlatOk);
  PlatVariant held = Var(kPlatVtDispatch);
  held.dispatch = static_cast<PlatComDispatch*>(object);
  *at(last) = held;
  UHandle elems = nullptr;
  int32 two = 2;
  int32* list = &two;
  ASSERT_EQ(ArrayResize(tdb::AsTD(tdb::Variant().Bytes()), 1, &elems, &list), kNoErr);
  reinterpret_cast<PlatVariant*>(*elems + 4)[1] = VarText("also gone");
  std::memcpy(reinterpret_cast<uChar*>(*ds.handle()) + array, &elems, 4);
  const int32 strings = PlatBstrLiveCount();
  RunIn(ds, [&] { EXPECT_EQ(SetUpOLEVariantCleanUp(ds.handle()), kNoErr); });
  RunCleanupProcs(ds.handle());
  EXPECT_EQ(PlatBstrLiveCount(), strings - 2);
  EXPECT_EQ(at(first)->vt, kPlatVtEmpty);
  EXPECT_EQ(at(last)->vt, kPlatVtDispatch) << "a dispatch held by value is left alone";
  EXPECT_EQ(TestDispatchRefs(held.dispatch), 1u);
  // A locked array cannot be cleared.
  const PlatSafeArrayBound b{1, 0};
  PlatVariant locked = Var(kPlatVtArray | kPlatVtI4);
  locked.array = PlatSafeArrayCreate(kPlatVtI4, 1, &b);
  PlatSafeArrayLock(locked.array);
  *at(first) = locked;
  EXPECT_EQ(OleVariantCleanupDataSpace(ds.handle()), kMemFullErr);
  PlatSafeArrayUnlock(locked.array);
  EXPECT_EQ(OleVariantCleanupDataSpace(ds.handle()), kNoErr);
  EXPECT_EQ(at(first)->vt, kPlatVtEmpty);
  PlatVariantInit(at(last));
  PlatComRelease(object);
  std::memcpy(&elems, reinterpret_cast<uChar*>(*ds.handle()) + array, 4);
  DSDisposeHandle(elems);
  DSDisposeHandle(td);
}

// In several threads a refnum holds the interface table's cookie: one made
// on one execution thread is used from another.
TEST_F(OleAutoClump, ThreadsShareRefnumsThroughTheInterfaceTable) {
  PrefSet(kPrefActiveXFreeThreaded, 1);
  ASSERT_EQ(AutomationInit(), kNoErr);
  const uint32_t held = PlatComInterfaceTableCount();
  qxexectest::TestDataSpace normal(kPriNormal), high(kPriAboveNormal);
  Cookie ref = 0;
  ThThread maker = nullptr, user = nullptr;
  RunIn(normal, [&] {
    ref = Open(ClassType());
    maker = ThThreadCurrent();
  });
  EXPECT_EQ(PlatComInterfaceTableCount(), held + 1) << "the table holds the interface";
  std::string text;
  RunIn(high, [&] {
    user = ThThreadCurrent();
    int32 result = -1;
    text = JoinWithMissingMiddle(ref, &result);
  });
  EXPECT_NE(maker, user);
  EXPECT_EQ(text, "1|missing|3");
  RunCleanupProcs(normal.handle());
  EXPECT_FALSE(IsAutomationRefnum(ref));
  EXPECT_EQ(PlatComInterfaceTableCount(), held);
  EXPECT_EQ(TestDispatchCountsNow().live, 0);
}

// ---- Refnum types --------------------------------------------------------------------

// Worked examples: the records of a type swap by their layout from file to
// memory order and back to the same bytes; bad records are refused whole.
TEST_F(OleAuto, RefnumTypesSwapRecordByRecord) {
  const tdb::AutoRecord cls{kAutoRecClass, 0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
  const tdb::AutoRecord itf{kAutoRecInterface, 0xA1A2A3A4, 0xB1B2, 0xC1C2, {1, 2, 3, 4, 5, 6, 7, 8},
                            0xD1D2D3D4, 4, 2};
  const std::vector<std::vector<tdb::AutoRecord>> examples = {{}, {cls}, {itf}, {itf, cls}};
  for (const auto& records : examples) {
    const tdb::TD td = tdb::AutoRefnum(records);
    const std::vector<uChar> file = td.Bytes(tdb::Order::kFile), memory = td.Bytes();
    std::vector<uChar> b = file;
    ASSERT_EQ(StandardizeTDBounded(b.data(), kToMemoryOrder, 0, int32(b.size())), kNoErr);
    EXPECT_EQ(b, memory);
    AutoRefRecords r;
    ASSERT_TRUE(AutoRefReadRecords(b.data() + 6, &r));
    EXPECT_EQ(r.hasInterface ? r.value : 0u, records.size() && records[0].kind == 1 ? 0xD1D2D3D4u : 0u);
    ASSERT_EQ(StandardizeTDBounded(b.data(), kToFileOrder, 0, int32(b.size())), kNoErr);
    EXPECT_EQ(b, file) << "the round trip gives the file's bytes again";
  }
  // A record of an unknown kind, and records that do not fill the count.
  std::vector<uChar> bad = tdb::AutoRefnum({cls}).Bytes();
  PutNative32(&bad[7], 5);
  const std::vector<uChar> before = bad;
  EXPECT_EQ(OleAutoRefStandardize(bad.data(), kToFileOrder, int32(bad.size())), kAutoNotAvailableErr);
  EXPECT_EQ(bad, before);
  bad = tdb::AutoRefnum({cls}).Bytes();
  bad[6] = 24;
  EXPECT_EQ(OleAutoRefStandardize(bad.data(), kToFileOrder, int32(bad.size())), kArgErr) << "past the type";
}

// Two types compare by automation-ness, then by their first record's kind,
// then interfaces by id, value and versions and the class record's bytes.
TEST_F(OleAuto, RefnumTypesCompareByTheirRecords) {
  const tdb::AutoRecord cls{kAutoRecClass, 1, 2, 3, {4}};
  const tdb::AutoRecord other{kAutoRecClass, 1, 2, 3, {5}};
  const tdb::AutoRecord itf{kAutoRecInterface, 6, 7, 8, {9}, 10, 1, 0};
  const tdb::AutoRecord newer{kAutoRecInterface, 6, 7, 8, {9}, 10, 2, 0};
  struct Case {
    tdb::TD a, b;
    int32 result;
  } cases[] = {
      {tdb::AutoRefnum({cls}), tdb::AutoRefnum({cls}), 0},
      {tdb::AutoRefnum({cls}), tdb::AutoRefnum({other}), 1},
      {tdb::AutoRefnum({itf, cls}), tdb::AutoRefnum({itf, cls}), 0},
      {tdb::AutoRefnum({itf, cls}), tdb::AutoRefnum({itf, other}), 1},
      {tdb::AutoRefnum({itf}), tdb::AutoRefnum({newer}), 1},
      {tdb::AutoRefnum({itf}), tdb::AutoRefnum({cls}), kAutoRecInterface - kAutoRecClass},
      {tdb::AutoRefnum({cls}), tdb::Refnum(kRefnumByteStream), 1},
      {tdb::Refnum(kRefnumByteStream), tdb::AutoRefnum({cls}), -1},
      {tdb::I32(), tdb::I32(), 1},
  };
  for (const Case& c : cases) {
    const std::vector<uChar> a = c.a.Bytes(), b = c.b.Bytes();
    EXPECT_EQ(AutoRefCompare(tdb::AsTD(a), tdb::AsTD(b)), c.result);
  }
  // The type manager compares automation refnums through the client.
  const std::vector<uChar> a = tdb::AutoRefnum({itf}).Bytes(), b = tdb::AutoRefnum({newer}).Bytes();
  EXPECT_EQ(TDCompare(tdb::AsTD(a), tdb::AsTD(a)), 0);
  EXPECT_NE(OMIdCmp(TDGetOMId(tdb::AsTD(a)), TDGetOMId(tdb::AsTD(b))), 0);
}

}  // namespace oleautotest
