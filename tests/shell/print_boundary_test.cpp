// What printing asks of the shell: Page Setup without a printer shows the
// application error 1015 with its text from the run-time file, and the print
// dialog runs between the native-modal marks.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "engine/engine_test_support.h"
#include "mgsource/draw/printmgr.h"
#include "engine/exec/dsprocs.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "engine/runtime_root.h"
#include "mgsource/draw/printinfo.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/draw/printvi.h"
#include "mgsource/filemgr.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "shell/appprint.h"
#include "temp_folder.h"

namespace {

class BoundaryPrint : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_TRUE(qxtest::StartThreadsAndResources());
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    ASSERT_TRUE(root_.Make("qxprintrt"));
    setenv("QX_PRINTERS", (tmp_.Dir() + "/printers.ini").c_str(), 1);
    unsetenv("QX_PRINT_DIALOG");
    ShellInstallPrintHooks();
    PReadPrintPrefs();
    ShellInitPrinting();
  }
  void TearDown() override {
    ShellFinishPrinting();
    PFreeDevHandles();
    unsetenv("QX_PRINTERS");
    root_.Remove();
    EngineTest::TearDown();
  }
  void Printers(const char* text) { std::ofstream(tmp_.Dir() + "/printers.ini") << text; }
  qxtest::RuntimeRoot root_;
  TempFolder tmp_{"qxprintsh"};
};

TEST_F(BoundaryPrint, PageSetupWithoutPrinterShowsTheApplicationError) {
  Printers("[Desk]\n[Gone]\n");
  LStrHandle name = reinterpret_cast<LStrHandle>(DSNewHClr(8));
  (*name)->cnt = 4;
  std::memcpy((*name)->str, "Gone", 4);
  ASSERT_EQ(SetDefaultPrinter(name, nullptr, 0), kNoErr);
  EXPECT_FALSE(FDInNativeModal()) << "the dialog's marks are balanced";
  Printers("[Desk]\n");
  UHandle vi = AZNewHClr(4);
  EXPECT_EQ(PPageSetup(vi, 0), kPrintDialogErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("Printer not responding. Check printer configuration."), 1);
  EXPECT_EQ(Failures(), 0);
  AZDisposeHandle(vi);
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
}

// The Print command: a record with every print option off shows its alert
// and prints nothing; a job that fails shows the error with its detail.
// VIs are found by name whatever the case.
TEST_F(BoundaryPrint, PrintCommandShowsItsTextsAndVIsAreFoundByName) {
  InitDSProcs();
  setenv("QX_PRINT_DIR", tmp_.Dir().c_str(), 1);
  Printers("[Desk]\n[Gone]\n");
  UHandle vi = AZNewHClr(sizeof(VIRecord));
  ASSERT_NE(vi, nullptr);
  UHandle rec = AZNewHClr(kPrintRecordSize);
  reinterpret_cast<PrintRecord*>(*rec)->version = kPrintRecordVersion;
  VIRec(vi)->printInfo = rec;  // every option off
  EXPECT_EQ(PrintVIWindow(vi, 7, 0), kNoErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("All VI print options are currently turned off."), 1);
  for (auto& e : std::filesystem::directory_iterator(tmp_.Dir()))
    EXPECT_NE(e.path().filename().string().rfind("job-", 0), 0u) << "nothing printed";
  LStrHandle name = reinterpret_cast<LStrHandle>(DSNewHClr(8));
  (*name)->cnt = 4;
  std::memcpy((*name)->str, "Gone", 4);
  ASSERT_EQ(SetDefaultPrinter(name, nullptr, 0), kNoErr);
  Printers("[Desk]\n");
  EXPECT_EQ(PrintVIWindow(vi, 7, 0), kNoErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("Unable to print.  Make sure you have installed and selected a default printer."),
            1);
  std::memcpy(VIRec(vi)->name, "\007Test.vi", 8);
  InsertLoadedVI(vi);
  EXPECT_EQ(FindVIByName(reinterpret_cast<ConstPStr>("\007tEST.VI")), vi);
  EXPECT_EQ(FindVIByName(reinterpret_cast<ConstPStr>("\006Test.v")), nullptr);
  RemoveLoadedVI(vi);
  EXPECT_EQ(FindVIByName(reinterpret_cast<ConstPStr>("\007Test.vi")), nullptr);
  unsetenv("QX_PRINT_DIR");
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
  AZDisposeHandle(VIRec(vi)->printInfo);
  AZDisposeHandle(vi);
}

}  // namespace
