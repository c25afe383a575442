// A built application whose first top-level VI is damaged: the open ends
// unattended, well before the run's time-out, with the load alert naming
// the VI (no file dialog loops on the same file), and the intact VI after
// it opens and runs; with and without an input script.  The bounds leave
// room for a loaded machine, which takes several times as long.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builtapp.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "mgsource/memory.h"
#include "engine/link/linkinfo.h"
#include "tools/linkinfowriter.h"
#include "tools/runvi.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"
#include "tools/vifile.h"

namespace {

TEST(DamagedApp, ADamagedTopLevelVIEndsWithItsAlertAndTheNextOneRuns) {
  ASSERT_EQ(MemInit(), kNoErr);
  const rsrcw::Bytes good = vif::WriteWithPanel(
      runvi::File("Good.vi", runvi::Clumps::kQuit, 1, kVIFlagRunWhenOpened | kVIFlagOpenPanel));
  const rsrcw::Bytes intact = vif::WriteWithPanel(runvi::File("Main.vi", runvi::Clumps::kOnce, 1, kVIFlagOpenPanel));
  ASSERT_GT(intact.size(), 200u);
  struct Damage {
    const char* what;
    size_t cut;       // the file is cut here (its size: not cut)
    size_t changed;   // the byte changed here (past the end: none)
  } kDamage[] = {
      {"cut at byte 64", 64, size_t(-1)},
      {"cut in half", intact.size() / 2, size_t(-1)},
      {"signature byte changed", intact.size(), 0},
      {"map offset byte changed", intact.size(), 17},
  };
  for (const Damage& d : kDamage) {
    for (const bool script : {false, true}) {
      SCOPED_TRACE(std::string(d.what) + (script ? ", with a script" : ""));
      TempFolder tmp("qxdamaged");
      rsrcw::Bytes damaged(intact.begin(), intact.begin() + long(d.cut));
      if (d.changed < damaged.size()) damaged[d.changed] ^= 0x5A;
      const std::string program =
          builtapp::Build(tmp.Dir(), "damaged", {{"Main.vi", damaged, archfmt::kFlagTopLevel},
                                                 {"Good.vi", good, archfmt::kFlagTopLevel}});
      const auto [status, ms] = builtapp::Run(builtapp::Command(tmp.Dir(), program, script ? "wait\n" : "", 60));
      const std::string err = builtapp::Err(tmp.Dir());
      EXPECT_EQ(status, 0) << err;
      EXPECT_LT(ms, 40000) << err;
      EXPECT_NE(err.find("An error occurred loading VI 'Main.vi'."), std::string::npos) << err;
      EXPECT_NE(err.find("Quenlix load error code 8: Could not load VI resource."), std::string::npos) << err;
      EXPECT_NE(err.find("A CIN tried to load a 16-bit DLL."), std::string::npos) << "Good.vi ran\n" << err;
      EXPECT_EQ(err.find("Failure"), std::string::npos) << err;
    }
  }
}

// A caller whose subVI is in no file: the search asks the operator once
// (the file dialog, cancelled for them) and ends; the caller, left without
// its subVI, is refused when it is to run and says why; the intact VI after
// it runs.
TEST(DamagedApp, ACallerWhoseSubVIIsMissingEndsAskingOnceAndDoesNotRun) {
  ASSERT_EQ(MemInit(), kNoErr);
  const rsrcw::Bytes good = vif::WriteWithPanel(
      runvi::File("Good.vi", runvi::Clumps::kQuit, 1, kVIFlagRunWhenOpened | kVIFlagOpenPanel));
  vif::VIFile caller = runvi::File("Caller.vi", runvi::Clumps::kQuit, 1, kVIFlagRunWhenOpened | kVIFlagOpenPanel);
  caller.viRefs = {LinkInfoRef{FourCC("QXIN"), "Missing.vi", {0}, tdb::Cluster({tdb::I32()}).Bytes(),
                               liw::FlatPath(nullptr)}};
  for (const bool script : {false, true}) {
    SCOPED_TRACE(script ? "with a script" : "without a script");
    TempFolder tmp("qxmissing");
    const std::string program = builtapp::Build(
        tmp.Dir(), "missing", {{"Caller.vi", vif::WriteWithPanel(caller), archfmt::kFlagTopLevel},
                               {"Good.vi", good, archfmt::kFlagTopLevel}});
    const auto [status, ms] = builtapp::Run(builtapp::Command(tmp.Dir(), program, script ? "wait\n" : "", 60));
    const std::string err = builtapp::Err(tmp.Dir());
    EXPECT_EQ(status, 0) << err;
    EXPECT_LT(ms, 40000) << err;
    EXPECT_NE(err.find("A subVI, Type Definition, or external subroutine is missing or inconsistent with the current VI."),
              std::string::npos)
        << "the caller's run is refused\n" << err;
    size_t ran = 0;
    for (size_t at = err.find("A CIN tried"); at != std::string::npos; at = err.find("A CIN tried", at + 1)) ++ran;
    EXPECT_EQ(ran, 1u) << "Good.vi ran, Caller.vi did not\n" << err;
    EXPECT_EQ(err.find("Failure"), std::string::npos) << err;
  }
}

// A run-when-opened VI whose code cannot be entered: no code, or a stored
// data-space header size that its code was not made for (corrected at load,
// so the code is never entered).  Its run is refused with the broken-VI
// alert, nothing asserts, and the intact VI after it runs.
TEST(DamagedApp, AVIWhoseCodeCannotBeEnteredIsRefusedWhenItIsToRun) {
  ASSERT_EQ(MemInit(), kNoErr);
  const rsrcw::Bytes good = vif::WriteWithPanel(
      runvi::File("Good.vi", runvi::Clumps::kQuit, 1, kVIFlagRunWhenOpened | kVIFlagOpenPanel));
  const vif::VIFile intact = runvi::File("Main.vi", runvi::Clumps::kQuit, 1, kVIFlagRunWhenOpened | kVIFlagOpenPanel);
  vif::VIFile noCode = intact, headerSize = intact;
  noCode.code.reset();
  rsrcw::Bytes map = vif::StoredTD(vib::DataSpaceType(intact.entries));
  ASSERT_GT(map.size(), size_t(kDSTMHeaderBlockSizeAt + 4));
  map[kDSTMHeaderBlockSizeAt + 3] ^= 0xFF;  // big-endian: the size's low byte
  headerSize.raw[kDSTypeMapRsrcType] = map;
  for (const auto& [what, file] : {std::pair{"no code", &noCode}, std::pair{"header size changed", &headerSize}}) {
    SCOPED_TRACE(what);
    TempFolder tmp("qxnotexec");
    const std::string program = builtapp::Build(tmp.Dir(), "notexec", {{"Main.vi", vif::WriteWithPanel(*file), archfmt::kFlagTopLevel},
                                                                       {"Good.vi", good, archfmt::kFlagTopLevel}});
    const auto [status, ms] = builtapp::Run(builtapp::Command(tmp.Dir(), program, "", 30));
    const std::string err = builtapp::Err(tmp.Dir());
    EXPECT_EQ(status, 0) << err;
    EXPECT_NE(err.find("The VI is not executable.  The full development version of Quenlix is required to fix the errors."),
              std::string::npos) << err;
    size_t ran = 0;
    for (size_t at = err.find("A CIN tried"); at != std::string::npos; at = err.find("A CIN tried", at + 1)) ++ran;
    EXPECT_EQ(ran, 1u) << "Good.vi ran, Main.vi did not\n" << err;
    EXPECT_EQ(err.find("Failure"), std::string::npos) << err;
  }
}

}  // namespace
