// What printing asks of the engine: SetDefaultPrinter for external code at
// its index of the run-time table, and a VI's print record made in its
// slot of the VI record.
#include <cstdlib>
#include <cstring>

#include "compiled_call.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/rttable.h"
#include "engine/vi/virecord.h"
#include "engine_test_support.h"
#include "mgsource/draw/printinfo.h"
#include "mgsource/draw/printmgr.h"

namespace {

class BoundaryPrint : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    unsetenv("QX_PRINTERS");
    unsetenv("QX_PRINT_DIALOG");
    qxtest::StartRTTable();
    PInitPrintDlg();
  }
  void TearDown() override {
    PClose();
    PFreeDevHandles();
    EngineTest::TearDown();
  }
  static LStrHandle L(const char* s) {
    const int32 n = int32(std::strlen(s));
    LStrHandle h = reinterpret_cast<LStrHandle>(DSNewHClr(4 + n));
    (*h)->cnt = n;
    std::memcpy((*h)->str, s, size_t(n));
    return h;
  }
  static std::string S(LStrHandle h) { return std::string(reinterpret_cast<char*>((*h)->str), size_t((*h)->cnt)); }
};

TEST_F(BoundaryPrint, SetDefaultPrinterThroughTheTable) {
  LStrHandle raster = L("Raster Printer"), bad = L("raster printer"), current = L("");
  const QXRTRoutine entry = QXRTTable[1097];
  auto call = [&](LStrHandle name) {
    return MgErr(qxtest::CallAsCompiledCode(entry, {uInt32(uintptr_t(name)), uInt32(uintptr_t(current)), 0}).eax);
  };
  EXPECT_EQ(call(bad), kArgErr);
  EXPECT_EQ(S(current), "PostScript Printer");
  EXPECT_EQ(call(raster), kNoErr);
  EXPECT_EQ(S(current), "PostScript Printer") << "the name before the call";
  POpen(0, 0);
  char driver[64], device[64], port[64];
  ASSERT_TRUE(PReadDevNames(gPrintJob.printDlg.devNames, driver, device, port, 64));
  EXPECT_STREQ(device, "Raster Printer");
  for (LStrHandle h : {raster, bad, current}) DSDisposeHandle(reinterpret_cast<UHandle>(h));
}

TEST_F(BoundaryPrint, VIPrintRecordIsMadeInItsSlotThenValidated) {
  InitDSProcs();
  UHandle vi = AZNewHClr(sizeof(VIRecord));
  POpen(0, 0);
  ASSERT_EQ(gPrintJob.error, kNoErr);
  PSetupVIPrint(vi);
  UHandle rec = VIRec(vi)->printInfo;
  ASSERT_NE(rec, nullptr);
  auto* r = reinterpret_cast<PrintRecord*>(*rec);
  EXPECT_EQ(r->options, kPrintDefaultOptions & ~uInt32(kPrintCleared));
  EXPECT_EQ(gPrintVI.record, rec);
  r->options |= kPrintCleared;
  r->printAll = 0;
  PSetupVIPrint(vi);
  EXPECT_EQ(VIRec(vi)->printInfo, rec) << "kept and validated";
  EXPECT_EQ(r->printAll, 1u);
  EXPECT_EQ(r->options & kPrintCleared, 0u);
  AZDisposeHandle(rec);
  AZDisposeHandle(vi);
}

// External code's print by VI name at its index of the run-time table: a
// name that no loaded VI has gives 1004, a bad name handle 1.
TEST_F(BoundaryPrint, PrintPanelToPrinterThroughTheTable) {
  LStrHandle name = L("Nowhere.vi");
  const QXRTRoutine entry = QXRTTable[1704];
  auto call = [&](LStrHandle n) {
    return MgErr(qxtest::CallAsCompiledCode(entry, {uInt32(uintptr_t(n)), 0, 1, 0}).eax);
  };
  EXPECT_EQ(call(name), 1004);
  UHandle freed = DSNewHClr(8);
  DSDisposeHandle(freed);
  EXPECT_EQ(call(reinterpret_cast<LStrHandle>(freed)), kArgErr);
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
}

}  // namespace
