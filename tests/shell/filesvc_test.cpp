// What the shell answers for the diagram's file functions.
#include <gtest/gtest.h>

#include <string>

#include "engine/engine_test_support.h"
#include "engine/vi/viinst.h"
#include "engine/vi/virecord.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path_test_util.h"
#include "platform/qx_alert.h"
#include "rtlib/filehooks.h"
#include "rtlib/filepaths.h"
#include "rtlib/postedevt.h"
#include "shell/filesvc.h"
#include "shell/vishell.h"

namespace {

using pathtest::Owned;

int32_t gAnswer = kPlatAnsOK;
std::string gShown;
int32_t Script(const char*, const char* text, int32_t buttons, int32_t) {
  gShown = text;
  EXPECT_EQ(buttons, kPlatOKCancel);
  return gAnswer;
}

class FileServicesTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(FInitFileMgr(), kNoErr);
  }
  void TearDown() override {
    PlatSetAlertProc(nullptr);
    SetFileShellHooks(nullptr);
    DisposeAppFolderPaths();
    EngineTest::TearDown();
  }
};

TEST_F(FileServicesTest, TheTwoButtonAlertAnswersWithTheButtonHit) {
  PlatSetAlertProc(&Script);
  const uChar text[] = "\x05hello";
  gAnswer = kPlatAnsOK;
  EXPECT_EQ(TwoButtonAlert(53, text, nullptr, nullptr, 1, -32768, -32768), 1);
  EXPECT_EQ(gShown, "hello\n [*OK] [Cancel]");
  gAnswer = kPlatAnsCancel;
  EXPECT_EQ(TwoButtonAlert(52, "c text", nullptr, nullptr, 1, 0, 0), 0);
  EXPECT_EQ(gShown, "c text\n [*OK] [Cancel]");
  // Headless without a script: the default button.
  PlatSetAlertProc(nullptr);
  EXPECT_EQ(TwoButtonAlert(53, text, nullptr, nullptr, 1, 0, 0), 1);
  EXPECT_EQ(TwoButtonAlert(53, text, nullptr, nullptr, 2, 0, 0), 0);
}

TEST_F(FileServicesTest, FoldersOfTheShellReachTheFileFunctions) {
  ShellInstallFileHooks();
  ASSERT_EQ(InitAppDirs(), kNoErr);
  Path out = nullptr;
  ASSERT_EQ(FPVILib(&out), kNoErr);
  Path app = nullptr;
  ASSERT_EQ(FAppPath(&app), kNoErr);
  EXPECT_EQ(pathtest::Text(out), pathtest::Text(app) + "\\vi.lib");
  ASSERT_EQ(FPDefaultFolder(&out), kNoErr);
  EXPECT_EQ(FPathCmp(out, app), 0) << "the application's folder when no key names one";
  Owned chosen(pathtest::ToPath("C:\\tmp"));
  SetDefaultDirPath(chosen);
  ASSERT_EQ(FPDefaultFolder(&out), kNoErr);
  EXPECT_EQ(pathtest::Text(out), "C:\\tmp");
  ASSERT_EQ(FPTmpDir(&out), kNoErr);
  EXPECT_TRUE(FIsAPath(out));
  FDisposePath(out);
  FDisposePath(app);
}

TEST_F(FileServicesTest, ARequestIsValidWhileItsVIKeepsItsDataSpace) {
  UHandle vi = DSNewHClr(kVIHeaderSize);
  VIRecord* v = reinterpret_cast<VIRecord*>(*vi);
  v->dataSpace = reinterpret_cast<UHandle>(0x1000);
  UHandle h = NewPostedEvtHandle(vi, kPostedOneButton, nullptr, nullptr, 0, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(UserEventTargetValid(h)) << "not loaded";
  InsertLoadedVI(vi);
  EXPECT_TRUE(UserEventTargetValid(h));
  reinterpret_cast<VIRecord*>(*vi)->dataSpace = reinterpret_cast<UHandle>(0x2000);
  EXPECT_FALSE(UserEventTargetValid(h)) << "another data space";
  reinterpret_cast<VIRecord*>(*vi)->dataSpace = reinterpret_cast<UHandle>(0x1000);
  RemoveLoadedVI(vi);
  EXPECT_FALSE(UserEventTargetValid(h)) << "unloaded";
  EXPECT_FALSE(UserEventTargetValid(nullptr));
  DisposePostedEvt(h);
  DSDisposeHandle(vi);
}

TEST_F(FileServicesTest, MenuRefnumsAreThoseOfRunningVIs) {
  EXPECT_FALSE(RTMIsMenuRefnum(0));
  EXPECT_FALSE(RTMIsMenuRefnum(1234));
}

}  // namespace
