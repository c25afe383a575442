// What the search for VI files asks of the shell: the control-library
// folder, the symbolic folders and the two-button question, headless.
#include <gtest/gtest.h>

#include <string>

#include "engine/engine_test_support.h"
#include "engine/vi/vifind.h"
#include "mgsource/filemgr.h"
#include "mgsource/path_test_util.h"
#include "platform/qx_alert.h"
#include "shell/shellinit.h"

namespace {

using pathtest::Owned;
using pathtest::Text;
using pathtest::ToPath;

int32_t gAnswer = kPlatAnsOK;
int32_t Script(const char*, const char*, int32_t, int32_t) { return gAnswer; }

class BoundaryTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    ShellInstallFindHooks();
    Path app = nullptr;
    ASSERT_EQ(FAppPath(&app), kNoErr);
    app_ = Text(app);
    FDisposePath(app);
  }
  void TearDown() override {
    PlatSetAlertProc(nullptr);
    SetVIFindShellHooks(nullptr);
    EngineTest::TearDown();
  }
  std::string app_;
};

TEST_F(BoundaryTest, SymbolicFoldersResolveUnderTheApplication) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"<vilib>\\x\\y.vi", app_ + "\\vi.lib\\x\\y.vi"},
      {"<VILIB>", app_ + "\\vi.lib"},
      {"<nope>\\a.vi", "<nope>\\a.vi"},
      {"plain\\a.vi", "plain\\a.vi"},
      {"C:\\tmp\\a.vi", "C:\\tmp\\a.vi"},
  };
  for (const Case& c : cases) {
    Owned p(ToPath(c.in));
    EXPECT_EQ(ResolveAppRelPath(p, 1), kNoErr) << c.in;
    EXPECT_EQ(Text(p), c.out) << c.in;
  }
  Owned lib(FEmptyPath(nullptr));
  ASSERT_EQ(GetControlLibPath(lib), kNoErr);
  EXPECT_EQ(Text(lib), app_ + "\\vi.lib\\control.lib");
}

TEST_F(BoundaryTest, TheDirectoryQuestionAnswersThroughTheAlert) {
  PlatSetAlertProc(&Script);
  const uChar msg[] = "\x01?", yes[] = "\x03Yes", no[] = "\x02No";
  for (int32_t answer : {kPlatAnsOK, kPlatAnsCancel}) {
    gAnswer = answer;
    EXPECT_EQ(VIFindShell().twoButtonAlert(msg, yes, no), answer == kPlatAnsOK ? 1 : 0);
  }
  // Headless, the file dialog is not there: nothing is chosen.
  Owned p(ToPath("C:\\x"));
  EXPECT_EQ(FindFileDialog(p, kFindTypeVI, nullptr), kDialogGaveUp);
}

}  // namespace
