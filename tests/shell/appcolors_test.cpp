// The application colours loaded from the run-time resource file as the
// application builder writes it.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <mutex>
#include <string>

#include "engine/engine_test_support.h"
#include "mgsource/config_test_file.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/filemgr.h"
#include "mgsource/fourcc.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "platform/qx_alert.h"
#include "platform/qx_debugout.h"
#include "platform/qx_drives.h"
#include "shell/appcolors.h"
#include "tools/colorwriter.h"

namespace {

namespace fs = std::filesystem;

std::string gDebug;
void KeepDebug(const char* text) { gDebug += text; }
int32_t gAlerts = 0;
int32_t CountAlert(const char*, const char*, int32_t buttons, int32_t) {
  ++gAlerts;
  return PlatAlertDefaultAnswer(buttons);
}

class AppColors : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(qxtest::StartThreadsAndResources());
    CfgTestSetValue("debugging", "true");
    DBInitDebug();
    DBSetContinueAfterFailure(1);
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    std::string t = (fs::temp_directory_path() / "qxclXXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    root_ = t;
    ASSERT_EQ(PlatDriveMap('T', root_.c_str(), kPlatDriveFixed), 0);
    DResetColors();
    gDebug.clear();
    gAlerts = 0;
    oldSink_ = PlatSetDebugSink(&KeepDebug);
    oldAlert_ = PlatSetAlertProc(&CountAlert);
  }
  void TearDown() override {
    PlatSetDebugSink(oldSink_);
    PlatSetAlertProc(oldAlert_);
    DResetColors();
    PlatDriveMap('T', nullptr, 0);
    std::error_code ec;
    fs::remove_all(root_, ec);
    FExitFileMgr();
  }
  // Writes the resources into a file and runs the start-up's colour step on it.
  void LoadFrom(const rsrcw::Writer& w) {
    ASSERT_TRUE(rsrcw::WriteHostFile(root_ + "/rt.rsc", w.Write()));
    static const uChar kName[] = "\x09T:\\rt.rsc";
    Path p = nullptr;
    ASSERT_EQ(FTextToPath(kName + 1, kName[0], &p), kNoErr);
    RsrcFileRef file = 0;
    ASSERT_EQ(ROpenFile(p, kRsrcReadOnly, &file, nullptr, nullptr), kNoErr);
    FDisposePath(p);
    InitAppColors(file);
    RCloseFile(file);
  }
  std::string root_;
  PlatDebugSink oldSink_;
  PlatAlertProc oldAlert_;
};

TEST_F(AppColors, StartUpLoadsTheBuiltTables) {
  rsrcw::Writer w(FourCC("QXRS"), FourCC("QNLX"));
  qxbuild::AddColorResources(&w);
  LoadFrom(w);
  EXPECT_EQ(gAlerts, 0) << gDebug;
  EXPECT_EQ(MIndexToDColor(0, 8), 0xFFFFFFu);
  EXPECT_EQ(MIndexToDColor(0, 4), 0xFFFFFFu);
  EXPECT_EQ(MIndexToDColor(15, 4), 0u);
  EXPECT_NE(DAppPalette(), 0u);
  // The maps are one another's inverse on the palette's colours.
  for (int32 i = 0; i < kDPaletteCount8; ++i) EXPECT_EQ(MIndexToIndex(DColorToMIndex(DIndexToColor(i, 8), 8), 8), i);
  EXPECT_EQ(gDebug.find("can't get preferred colors"), std::string::npos);
}

TEST_F(AppColors, MissingPreferredColorsIsOnlyADebugLine) {
  rsrcw::Writer all(FourCC("QXRS"), FourCC("QNLX")), w(FourCC("QXRS"), FourCC("QNLX"));
  qxbuild::AddColorResources(&all);
  for (const auto& r : all.Resources())
    if (!(r.type == FourCC("PALT") && r.id == 2000)) w.Add(r.type, r.id, r.data, r.name);
  LoadFrom(w);
  EXPECT_NE(gDebug.find("can't get preferred colors 15"), std::string::npos) << gDebug;
  EXPECT_EQ(gAlerts, 0);
  EXPECT_EQ(MIndexToDColor(0, 8), 0xFFFFFFu);
}

}  // namespace
