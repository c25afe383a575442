// The data manager's programs: the interpreter's instructions, building
// programs inside a pass, the program table and the pending sources.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "engine/dmprog.h"
#include "engine/engine_test_support.h"
#include "engine/typemgr.h"
#include "live_handles.h"
#include "mgsource/byteorder.h"
#include "mgsource/fourcc.h"
#include "mgsource/numconv.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace {

int32 W(const void* p) { return int32(uInt32(uintptr_t(p))); }

// What a test's "data controller" builds when the pass reaches it.
std::function<void()> gBuild;
int32 TestDataSpace(ObjHeap, int32, int32) {
  if (gBuild) gBuild();
  return 1;
}
uInt32 TestCategory(int32 cls) { return cls == 18 ? FourCC("DCO ") : 0; }

class DMProgTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    DataMgrHooks h{};
    h.oDataSpace = &TestDataSpace;
    h.classCategory = &TestCategory;
    saved_ = SetDataMgrHooks(h);
    heap_ = OHNewHeap(400, FourCC("XXHP"), 0, 0);
    ASSERT_NE(heap_, nullptr);
    dco_ = OHNewBlock(heap_, 36, 18);
    display_ = OHNewBlock(heap_, 40, 77);
    OHSetWord(heap_, uInt32(display_ + 4), uInt32(dco_));
  }
  void TearDown() override {
    gBuild = nullptr;
    MemFailNthAllocation(0);
    MemFullReset();
    DMDisposePending();
    OHDisposeHeap(heap_);
    SetDataMgrHooks(saved_);
    EngineTest::TearDown();
  }
  MgErr Run(const std::vector<DMInstr>& prog, UPtr s, UPtr d) { return DMRunProgram(prog.data(), s, d); }
  static int Asserts() { return qxtest::Reports::Get().Count("Failure "); }
  static int Reports(const char* what) { return qxtest::Reports::Get().Count(what); }
  // A pass from the display object up to its controller, building with f.
  MgErr Pass(std::function<void()> f) {
    gBuild = std::move(f);
    MgErr err = DataMgrRun(heap_, display_);
    gBuild = nullptr;
    return err;
  }

  DataMgrHooks saved_{};
  ObjHeap heap_ = nullptr;
  int32 dco_ = 0, display_ = 0;
};

DMInstr I(int32 kind, int32 a = 0, int32 b = 0, int32 c = 0) { return DMInstr{kind, a, b, c, 0.0, 0.0}; }

UHandle I32Array(std::vector<int32> values) {
  UHandle h = DSNewHClr(4 + 4 * int32(values.size()));
  PutNative32(*h, uInt32(values.size()));
  if (!values.empty()) std::memcpy(*h + 4, values.data(), 4 * values.size());
  return h;
}

TEST_F(DMProgTest, ALoopOverAnEmptyArrayEndsWithoutRunningItsBody) {
  const TypeDescriptor* i32 = StdTDTable[kTDI32];
  UHandle src = I32Array({}), dst = I32Array({});
  std::vector<DMInstr> prog = {I(kDMSetBoth, W(&src), W(&dst)), I(kDMLoop, 1, W(i32), W(i32)),
                               I(kDMPrint, W("loop body %ld"), 0, 7), I(kDMStep, 4, 4), I(kDMLoopEnd), I(kDMEnd)};
  ClearReports();
  EXPECT_EQ(Run(prog, nullptr, nullptr), kNoErr);
  EXPECT_EQ(Reports("loop body"), 0);
  // Three elements: the body copies each one.
  DSDisposeHandle(src);
  src = I32Array({5, 6, 7});
  ASSERT_EQ(DSSetHandleSize(dst, 16), kNoErr);
  PutNative32(*dst, 3);
  prog[2] = I(kDMCopy, W(i32));
  EXPECT_EQ(Run(prog, nullptr, nullptr), kNoErr);
  EXPECT_EQ(std::memcmp(*src, *dst, 16), 0);
  // A destination smaller than the source is refused, not written past.
  PutNative32(*dst, 2);
  ClearReports();
  EXPECT_EQ(Run(prog, nullptr, nullptr), kArgErr);
  EXPECT_EQ(Asserts(), 1);
  DSDisposeHandle(src);
  DSDisposeHandle(dst);
}

TEST_F(DMProgTest, MissingPointersAndUnknownKindsAreReportedAndSkipped) {
  int32 d = 0;
  struct Case {
    const char* what;
    DMInstr in;
    bool withS, withD;
  } cases[] = {
      {"copy without S", I(kDMCopy, W(StdTDTable[kTDI32])), false, true},
      {"copy without D", I(kDMCopy, W(StdTDTable[kTDI32])), true, false},
      {"step without D", I(kDMStepD, 4), true, false},
      {"resize without D", I(kDMResizeHandle, 8), true, false},
      {"in-place units without S", DMInstr{kDMUnitInPlace, kTDI32, 0, 0, 2.0, 1.0}, false, true},
      {"kind 23", I(23), true, true},
      {"kind 29", I(29), true, true},
      {"kind 300", I(300), true, true},
  };
  for (const Case& c : cases) {
    d = 0;
    int32 s = 9;
    std::vector<DMInstr> prog = {c.in, I(kDMEnd)};
    ClearReports();
    EXPECT_EQ(Run(prog, c.withS ? reinterpret_cast<UPtr>(&s) : nullptr, c.withD ? reinterpret_cast<UPtr>(&d) : nullptr),
              kNoErr)
        << c.what;
    EXPECT_EQ(Asserts(), 1) << c.what;
    EXPECT_EQ(d, 0) << c.what;
  }
  // The instructions after a skipped one still run.
  std::vector<DMInstr> prog = {I(23), I(kDMStoreWord, 5), I(kDMEnd)};
  EXPECT_EQ(Run(prog, nullptr, reinterpret_cast<UPtr>(&d)), kNoErr);
  EXPECT_EQ(d, 5);
}

TEST_F(DMProgTest, PointerInstructions) {
  uChar block[64] = {};
  UPtr base = block;
  int32 offset = 8;
  UPtr s = nullptr, d = nullptr;
  // Kinds 2 and 18 from a base pointer's contents, 15 from an offset, 5/20 steps, 19 clears S.
  std::vector<DMInstr> prog = {I(kDMSetSBase, W(&base), 4), I(kDMSetDBase, W(&base), 12), I(kDMStoreWord, 77),
                               I(kDMStep, 4, 8), I(kDMStoreWord, 78), I(kDMSetFromOffset, W(&offset), W(block + 32),
                                                                         W(block + 40)),
                               I(kDMCopy, W(StdTDTable[kTDI32])), I(kDMClearS), I(kDMStepD, 4), I(kDMStoreWord, 79),
                               I(kDMEnd)};
  PutNative32(block + 40, 55);
  EXPECT_EQ(Run(prog, s, d), kNoErr);
  EXPECT_EQ(int32(GetNative32(block + 12)), 77);
  EXPECT_EQ(int32(GetNative32(block + 20)), 78);
  EXPECT_EQ(int32(GetNative32(block + 48)), 55) << "copied from S = 32 + 8 to D = 40 + 8";
  EXPECT_EQ(int32(GetNative32(block + 52)), 79);
}

TEST_F(DMProgTest, UnitConversionsScaleThenOffsetInEveryNumericClass) {
  struct Case {
    int32 code;
    float64 in, want;
  } cases[] = {{kTDI32, 5, 11}, {kTDDBL, 1.5, 4.0}, {kTDSGL, -2.25, -3.5}, {kTDU8, 100, 201}, {kTDUnitDBL, 0.5, 2.0}};
  for (const Case& c : cases) {
    int32 plain = c.code & ~0x10;
    uChar s[16] = {}, d[16] = {};
    ConvertNum(kTDDBL, &c.in, plain, s);
    std::vector<DMInstr> into = {DMInstr{kDMUnitInto, c.code, 0, 0, 2.0, 1.0}, I(kDMEnd)};
    EXPECT_EQ(Run(into, s, d), kNoErr);
    float64 got = 0;
    ConvertNum(plain, d, kTDDBL, &got);
    EXPECT_EQ(got, c.want) << c.code;
    std::vector<DMInstr> inPlace = {DMInstr{kDMUnitInPlace, c.code, 0, 0, 2.0, 1.0}, I(kDMEnd)};
    EXPECT_EQ(Run(inPlace, s, nullptr), kNoErr);
    ConvertNum(plain, s, kTDDBL, &got);
    EXPECT_EQ(got, c.want) << c.code;
  }
  float64 z[2] = {1.0, -3.0}, out[2] = {};
  std::vector<DMInstr> cplx = {DMInstr{kDMUnitInto, kTDCDB, 0, 0, 2.0, 1.0}, I(kDMEnd)};
  EXPECT_EQ(Run(cplx, reinterpret_cast<UPtr>(z), reinterpret_cast<UPtr>(out)), kNoErr);
  EXPECT_EQ(out[0], 3.0);
  EXPECT_EQ(out[1], -5.0);
}

TEST_F(DMProgTest, HandleInstructionsStayInsideTheirHandles) {
  UHandle a = I32Array({1, 2, 3}), b = nullptr;
  // 28 makes a handle only where none is.
  std::vector<DMInstr> make = {I(kDMNewHandle, 12), I(kDMEnd)};
  EXPECT_EQ(Run(make, nullptr, reinterpret_cast<UPtr>(&b)), kNoErr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(DSGetHandleSize(b), 12);
  UHandle kept = b;
  EXPECT_EQ(Run(make, nullptr, reinterpret_cast<UPtr>(&b)), kNoErr);
  EXPECT_EQ(b, kept);
  // 21 resizes, clearing the new bytes.
  PutNative32(*b, 0xFFFFFFFF);
  std::vector<DMInstr> grow = {I(kDMResizeHandle, 20), I(kDMEnd)};
  EXPECT_EQ(Run(grow, nullptr, reinterpret_cast<UPtr>(&b)), kNoErr);
  ASSERT_EQ(DSGetHandleSize(b), 20);
  EXPECT_EQ(GetNative32(*b), 0xFFFFFFFFu);
  EXPECT_EQ(GetNative32(*b + 16), 0u);
  // 6 copies bytes between the handles; a count past either one is refused.
  std::vector<DMInstr> copy = {I(kDMCopyBytes, 4, 8, 8), I(kDMEnd)};
  EXPECT_EQ(Run(copy, reinterpret_cast<UPtr>(&a), reinterpret_cast<UPtr>(&b)), kNoErr);
  EXPECT_EQ(GetNative32(*b + 8), 1u);
  EXPECT_EQ(GetNative32(*b + 12), 2u);
  ClearReports();
  std::vector<DMInstr> past = {I(kDMCopyBytes, 4, 8, 16), I(kDMEnd)};
  EXPECT_EQ(Run(past, reinterpret_cast<UPtr>(&a), reinterpret_cast<UPtr>(&b)), kNoErr);
  EXPECT_EQ(Asserts(), 1);
  EXPECT_EQ(GetNative32(*b + 16), 0u);
  DSDisposeHandle(a);
  DSDisposeHandle(b);
}

TEST_F(DMProgTest, ResizeToTheSourceCountAndARefusedSize) {
  const TypeDescriptor* i16 = StdTDTable[kTDI16];
  UHandle src = I32Array({0, 0, 0, 0, 0}), dst = nullptr;
  std::vector<DMInstr> prog = {I(kDMResize, W(i16), 1), I(kDMEnd)};
  EXPECT_EQ(Run(prog, reinterpret_cast<UPtr>(&src), reinterpret_cast<UPtr>(&dst)), kNoErr);
  ASSERT_NE(dst, nullptr);
  EXPECT_EQ(int32(GetNative32(*dst)), 5);
  EXPECT_GE(DSGetHandleSize(dst), 4 + 10);
  PutNative32(*src, 0x30000000);  // too many elements
  UHandle before = dst;
  EXPECT_EQ(Run(prog, reinterpret_cast<UPtr>(&src), reinterpret_cast<UPtr>(&dst)), kMemFullErr);
  EXPECT_EQ(dst, before);
  EXPECT_EQ(int32(GetNative32(*dst)), 5);
  PutNative32(*src, 5);
  DSDisposeHandle(src);
  DSDisposeHandle(dst);
}

TEST_F(DMProgTest, ChangingDimensionsCopiesAndAFailureLeavesDNullWithoutLeaks) {
  std::vector<uChar> a2 = tdb::Array(tdb::String(), {-1, -1}).Bytes();
  std::vector<uChar> a1 = tdb::Array(tdb::String()).Bytes();
  const TypeDescriptor* td2 = tdb::AsTD(a2);
  const TypeDescriptor* td1 = tdb::AsTD(a1);
  // Source: a 1-D array of two strings; destination a 2-D array.
  UHandle src = nullptr;
  int32 sizes[] = {2};
  int32* sz = sizes;
  const TypeDescriptor* str = StdTDTable[kStdTDString];
  ASSERT_EQ(ArrayResize(str, 1, &src, &sz), kNoErr);
  LStrHandle s0 = reinterpret_cast<LStrHandle>(DSNewHClr(8));
  (*s0)->cnt = 3;
  std::memcpy((*s0)->str, "abc", 3);
  std::memcpy(*src + 4, &s0, 4);
  UHandle dst = nullptr;
  std::vector<DMInstr> prog = {I(kDMCopyDims, W(td1), 1, 2), I(kDMEnd)};
  EXPECT_EQ(Run(prog, reinterpret_cast<UPtr>(&src), reinterpret_cast<UPtr>(&dst)), kNoErr);
  ASSERT_NE(dst, nullptr);
  EXPECT_EQ(int32(GetNative32(*dst)), 1);
  EXPECT_EQ(int32(GetNative32(*dst + 4)), 2);
  LStrHandle c0;
  std::memcpy(&c0, *dst + 8, 4);
  ASSERT_NE(c0, nullptr);
  EXPECT_EQ((*c0)->cnt, 3);

  // Each allocation in turn fails: D ends null and nothing is left behind.
  DisposeData(td2, &dst, &dst + 1);
  int32 failed = 0;
  for (int32 n = 1; n <= 4; ++n) {
    ASSERT_EQ(Run(prog, reinterpret_cast<UPtr>(&src), reinterpret_cast<UPtr>(&dst)), kNoErr);
    int32 live = LiveHandleCount();
    MemFailNthAllocation(n);
    MgErr err = Run(prog, reinterpret_cast<UPtr>(&src), reinterpret_cast<UPtr>(&dst));
    MemFailNthAllocation(0);
    MemFullReset();
    if (err) {
      ++failed;
      EXPECT_EQ(dst, nullptr) << n;
      EXPECT_LT(LiveHandleCount(), live) << n << ": the old destination was disposed";
    }
    if (dst) DisposeData(td2, &dst, &dst + 1);
  }
  EXPECT_EQ(dst, nullptr);
  EXPECT_GE(failed, 1);
  DisposeData(td1, &src, &src + 1);
}

TEST_F(DMProgTest, TwoProgramsUnderOneKeyCallTheLastAndNameTheKey) {
  int32 out = 0;
  int32 key = display_ + kDMKeyOperate;
  ClearReports();
  EXPECT_EQ(Pass([&] {
              DMBeginProc(key, kDMOpen, 0);
              DMBuildInstr(kDMStoreWord, 1, 0, 0);
              DMBuildInstr(kDMEnd, 0, 0, 0);
              DMBeginProc(key, kDMOpen, 0);
              DMBuildInstr(kDMStoreWord, 2, 0, 0);
              DMBuildInstr(kDMEnd, 0, 0, 0);
              DMBeginMainProc(dco_, kDMOpen, 0);
              DMBuildInstr(kDMSetBoth, W(&out), W(&out), 0);
              DMBuildInstr(kDMCall, key, 0, 0);
              DMBuildInstr(kDMEnd, 0, 0, 0);
            }),
            kNoErr);
  EXPECT_EQ(out, 2);
  char text[64];
  std::snprintf(text, sizeof text, "Multiple procs for ddo 0x%x", unsigned(key));
  EXPECT_EQ(Reports(text), 1);
  // No program under the key: an assertion, and the call does nothing.
  out = 0;
  ClearReports();
  EXPECT_EQ(Pass([&] {
              DMBeginMainProc(dco_, kDMOpen, 0);
              DMBuildInstr(kDMSetBoth, W(&out), W(&out), 0);
              DMBuildInstr(kDMCall, key, 0, 0);
              DMBuildInstr(kDMStoreWord, 3, 0, 0);
              DMBuildInstr(kDMEnd, 0, 0, 0);
            }),
            kNoErr);
  EXPECT_EQ(Asserts(), 1);
  EXPECT_EQ(out, 3);
}

TEST_F(DMProgTest, BeginModesAndTheStepThatOnlyMovesD) {
  int32 s = 41, d = 0, d2 = 5;
  int32 pair[2] = {0, 0};
  EXPECT_EQ(Pass([&] {
              DMBeginProc(display_ + kDMKeyOperate, kDMCopyProc, W(StdTDTable[kTDI32]));
              DMBeginProc(display_ + kDMKeyDefault, kDMInitProc, W(StdTDTable[kTDI32]));
              DMBeginProc(display_ + kDMKeyElements, kDMEmpty, 0);
              EXPECT_TRUE(DMHasProc(display_ + kDMKeyElements));
              DMBeginMainProc(dco_, kDMOpen, 0);
              DMBuildInstr(kDMSetBoth, W(&s), W(&d), 0);
              DMBuildInstr(kDMCall, display_ + kDMKeyOperate, 0, 0);
              DMBuildInstr(kDMCall, display_ + kDMKeyElements, 0, 0);
              DMBuildInstr(kDMClearS, 0, 0, 0);
              DMBuildInstr(kDMSetBoth, W(&s), W(&d2), 0);
              DMBuildInstr(kDMCall, display_ + kDMKeyDefault, 0, 0);
              DMBuildInstr(kDMEnd, 0, 0, 0);
            }),
            kNoErr);
  EXPECT_EQ(d, 41);
  EXPECT_EQ(d2, 0) << "initialised";
  // Kind 5 with a = 0 needs no S: it is kept as kind 20.
  UPtr base = reinterpret_cast<UPtr>(pair);
  ClearReports();
  EXPECT_EQ(Pass([&] {
              DMBeginMainProc(dco_, kDMOpen, 0);
              DMBuildInstr(kDMSetDBase, W(&base), 0, 0);
              DMBuildInstr(kDMStep, 0, 4, 0);
              DMBuildInstr(kDMStoreWord, 9, 0, 0);
              DMBuildInstr(kDMEnd, 0, 0, 0);
            }),
            kNoErr);
  EXPECT_EQ(Asserts(), 0);
  EXPECT_EQ(pair[1], 9);
  EXPECT_EQ(pair[0], 0);
}

TEST_F(DMProgTest, AMemoryFailureStopsBuildingSkipsTheMainProgramAndGivesTwo) {
  int32 failed = 0, ran = 0;
  for (int32 n = 1; n <= 9; ++n) {
    int32 out = 0;
    int32 live = LiveHandleCount();
    MgErr err = Pass([&] {
      MemFailNthAllocation(n);
      DMBeginProc(display_ + kDMKeyOperate, kDMCopyProc, W(StdTDTable[kTDI32]));
      DMBeginMainProc(dco_, kDMOpen, 0);
      DMBuildInstr(kDMSetBoth, W(&out), W(&out), 0);
      DMBuildInstr(kDMStoreWord, 7, 0, 0);
      DMBuildInstr(kDMEnd, 0, 0, 0);
      MemFailNthAllocation(0);
    });
    MemFullReset();
    if (err) {
      ++failed;
      EXPECT_EQ(err, kMemFullErr) << n;
      EXPECT_EQ(out, 0) << n << ": the main program did not run";
    } else {
      ++ran;
      EXPECT_EQ(out, 7) << n;
    }
    EXPECT_EQ(LiveHandleCount(), live) << n;
  }
  EXPECT_GE(failed, 6);
  EXPECT_GE(ran, 1);
  EXPECT_FALSE(DMPassRunning());
}

TEST_F(DMProgTest, ASecondPassWhileOneRunsIsRefused) {
  MgErr inner = kNoErr;
  ClearReports();
  EXPECT_EQ(Pass([&] { inner = DataMgrRun(heap_, display_); }), kNoErr);
  EXPECT_EQ(inner, kArgErr);
  EXPECT_EQ(Asserts(), 1);
}

TEST_F(DMProgTest, PendingSourcesAreFoundFromTheLastEntry) {
  UHandle vi = vib::NewVI();
  ObjHeap panel = vib::NewPanel(vi);
  ObjHeap src = OHNewHeap(200, kPanelHeapKind, 0, 0);
  ObjHeap src2 = OHNewHeap(200, kPanelHeapKind, 0, 0);
  EXPECT_EQ(AddDDODataProc(panel, 100, src, 40, 0), kNoErr);
  EXPECT_EQ(AddDDODataProc(panel, 100, src, 44, kDMPendInit | kDMPendUnload), kNoErr);
  EXPECT_EQ(AddDDODataProc(panel, 200, src2, 48, kDMPendUnload), kNoErr);
  EXPECT_EQ(AddDDODataProc(panel, 300, nullptr, 0, kDMPendNoSource), kNoErr);
  for (int32 i = 0; i < 70; ++i) ASSERT_EQ(AddDDODataProc(panel, 1000 + i, src, i, 0), kNoErr);
  const DMPendingHeader* h = reinterpret_cast<const DMPendingHeader*>(*DMPendingTable());
  EXPECT_EQ(h->capacity, 128);
  EXPECT_EQ(h->count, 74);
  EXPECT_EQ(h->vi, vi);
  ObjHeap gotHeap = nullptr;
  int32 gotObj = 0, reserved = 5;
  uInt32 flags = 0;
  EXPECT_TRUE(DMFindDataProc(panel, 100, &gotHeap, &gotObj, &reserved, &flags));
  EXPECT_EQ(gotHeap, src);
  EXPECT_EQ(gotObj, 44);
  EXPECT_EQ(flags, kDMPendInit) << "bit 31 is not passed on";
  EXPECT_FALSE(DMFindDataProc(panel, 300, &gotHeap, &gotObj, &reserved, &flags)) << "no source";
  EXPECT_EQ(flags, kDMPendNotFound);
  EXPECT_FALSE(DMFindDataProc(panel, 999, &gotHeap, &gotObj, &reserved, &flags));
  EXPECT_EQ(flags, kDMPendNotFound);
  // Running VIs add nothing.
  VIRec(vi)->eState = 2;
  EXPECT_EQ(AddDDODataProc(panel, 400, src, 1, 0), kNoErr);
  EXPECT_FALSE(DMFindDataProc(panel, 400, nullptr, nullptr, nullptr, &flags));
  VIRec(vi)->eState = 1;
  // The flagged source heaps go with the table (src2 once, src once).
  int32 live = LiveHandleCount();
  DMDisposePending();
  EXPECT_EQ(DMPendingTable(), nullptr);
  EXPECT_LT(LiveHandleCount(), live);
  vib::DisposeVI(vi);
}

TEST_F(DMProgTest, APendingTableThatCannotGrowIsDisposedWithErrorTwo) {
  UHandle vi = vib::NewVI();
  ObjHeap panel = vib::NewPanel(vi);
  for (int32 i = 0; i < 64; ++i) ASSERT_EQ(AddDDODataProc(panel, 100 + i, nullptr, 0, 0), kNoErr);
  MemFailNthAllocation(1);
  EXPECT_EQ(AddDDODataProc(panel, 500, nullptr, 0, 0), kMemFullErr);
  MemFailNthAllocation(0);
  MemFullReset();
  EXPECT_EQ(DMPendingTable(), nullptr);
  vib::DisposeVI(vi);
}

TEST_F(DMProgTest, RunForHeapHonoursTheVIFlagAndDisposesThePendingTable) {
  UHandle vi = vib::NewVI();
  ObjHeap panel = vib::NewPanel(vi);
  int32 root = OHNewBlock(panel, 76, 76);
  PutNative32(*panel + int32(OHWord(panel, kOHExtension)) + kHeapExtRoot, uInt32(root));
  int32 runs = 0;
  gBuild = [&] { ++runs; };
  ASSERT_EQ(AddDDODataProc(panel, root, nullptr, 0, 0), kNoErr);
  VIRec(vi)->flags |= kVIFlagNoDataMgr;
  EXPECT_EQ(DataMgrRunForHeap(vi), kNoErr);
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(DMPendingTable(), nullptr);
  VIRec(vi)->flags &= ~kVIFlagNoDataMgr;
  EXPECT_EQ(DataMgrRunForHeap(vi), kNoErr);
  EXPECT_EQ(runs, 1) << "the climb stops at the panel root";
  gBuild = nullptr;
  vib::DisposeVI(vi);
}

}  // namespace
