// The execution systems' start-up gives the VI instances the code
// procedures of a data space: making a VI runs its compiled initialisation
// and controllers through them, disposing a data space its dispose
// procedure.  Members installed before are kept.
#include <gtest/gtest.h>

#include <atomic>

#include "engine/exec/dsprocs.h"
#include "engine/vi/vihooks.h"
#include "engine/vi/virecord.h"
#include "exec_test_support.h"

using namespace qxexectest;
using qxtest::Reports;

namespace {

std::atomic<int32> gInit{0}, gControllers{0}, gDispose{0};
MgErr Controllers(DataSpace) {
  ++gControllers;
  return kNoErr;
}
DataSpace Dispose(DataSpace ds) {
  ++gDispose;
  return ds;
}
int32 CompiledInit(DataSpace ds, int32) {
  ++gInit;
  VINormalInitCProcsHelper(ds, 0);
  DSProc(*ds, kDSProcInitDCOs) = reinterpret_cast<void*>(&Controllers);
  DSProc(*ds, kDSProcDispose) = reinterpret_cast<void*>(&Dispose);
  return 0;
}
void StandInInit(DataSpace) {}

class CodeHooksTest : public ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    SetVICodeHooks(nullptr);
    OnlySlots({});
    gInit = gControllers = gDispose = 0;
  }
  void TearDown() override {
    SetVICodeHooks(nullptr);
    ExecTest::TearDown();
  }
};

TEST_F(CodeHooksTest, StartUpInstallsTheProceduresAndKeepsStandIns) {
  ASSERT_EQ(InitExec(), kNoErr);
  ASSERT_EQ(VICode().runInitProc, &DSRunInitProc);
  ASSERT_EQ(VICode().initDCOs, &DSInitDCOs);
  ASSERT_EQ(VICode().callDisposeProc, &DSCallDisposeProc);

  // A VI of kind 2 with its compiled initialisation in slot 22.
  UHandle vi = DSNewHClr(kVIHeaderSize);
  auto ds = reinterpret_cast<DataSpace>(DSNewHClr(kDataSpaceHeaderSize));
  ASSERT_TRUE(vi && ds);
  reinterpret_cast<VIRecord*>(*vi)->viKind = 2;
  reinterpret_cast<VIRecord*>(*vi)->execSystem = kESysStandard;
  (*ds)->signature = kDataSpaceSig;
  (*ds)->self = ds;
  (*ds)->owner = vi;
  DSProc(*ds, kDSProcInit) = reinterpret_cast<void*>(&CompiledInit);
  VICode().runInitProc(ds);
  EXPECT_EQ(gInit.load(), 1);
  EXPECT_NE(DSProc(*ds, kDSProcCompletion), nullptr) << "the normal procedures are in";
  EXPECT_EQ(VICode().initDCOs(ds), kNoErr);
  EXPECT_EQ(gControllers.load(), 1);
  EXPECT_EQ((*ds)->slot, ExecSysSlot(0, kESysStandard)) << "routed by the VI's priority and system";
  VICode().callDisposeProc(ds);
  EXPECT_EQ(gDispose.load(), 1);
  // A bad VI's procedures are not called: the controllers' caller gives 2
  // and empties the slots, so nothing is disposed either.
  reinterpret_cast<VIRecord*>(*vi)->flags |= kVIFlagBad;
  EXPECT_EQ(VICode().initDCOs(ds), kMemFullErr);
  VICode().callDisposeProc(ds);
  EXPECT_EQ(gControllers.load(), 1);
  EXPECT_EQ(gDispose.load(), 1);
  EXPECT_EQ(DSProc(*ds, kDSProcInit), nullptr);
  // A VI of kind 0 is neither initialised nor asked for controllers.
  reinterpret_cast<VIRecord*>(*vi)->flags = 0;
  reinterpret_cast<VIRecord*>(*vi)->viKind = 0;
  DSProc(*ds, kDSProcInit) = reinterpret_cast<void*>(&CompiledInit);
  VICode().runInitProc(ds);
  EXPECT_EQ(VICode().initDCOs(ds), kNoErr);
  EXPECT_EQ(gInit.load(), 1);
  EXPECT_EQ(Reports::Get().Count("assert"), 0) << Reports::Get().Text();
  DSDisposeHandle(reinterpret_cast<UHandle>(ds));
  DSDisposeHandle(vi);

  // A start-up after a stand-in was installed keeps it.
  FinishExec();
  VICodeHooks mine{};
  mine.runInitProc = &StandInInit;
  SetVICodeHooks(&mine);
  ASSERT_EQ(InitExec(), kNoErr);
  EXPECT_EQ(VICode().runInitProc, &StandInInit);
  EXPECT_EQ(VICode().initDCOs, &DSInitDCOs);
  EXPECT_EQ(VICode().callDisposeProc, &DSCallDisposeProc);
}

}  // namespace
