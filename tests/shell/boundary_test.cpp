// What the search for VI files asks of the shell: the control-library
// folder, the symbolic folders and the two-button question, headless.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mgsource/appdirs.h"
#include "mgsource/prefs.h"
#include "engine/engine_test_support.h"
#include "engine/link/loadmethods.h"
#include "engine/vi/vifind.h"
#include "mgsource/config_test_file.h"
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
    SetLoadMethodHooks(nullptr);
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
      {"<UserLib>\\u.vi", app_ + "\\user.lib\\u.vi"},
      {"<rtmenudir>", app_ + "\\rtmenus"},
      {"<topvi>\\a.vi", "<topvi>\\a.vi"},  // no top-level VI yet
      {"<nope>\\a.vi", "<nope>\\a.vi"},
      {"plain\\a.vi", "plain\\a.vi"},
      {"C:\\tmp\\a.vi", "C:\\tmp\\a.vi"},
  };
  for (const Case& c : cases) {
    Owned p(ToPath(c.in));
    EXPECT_EQ(ResolveAppRelPath(p, 1), c.in != c.out ? 1 : 0) << c.in;
    EXPECT_EQ(Text(p), c.out) << c.in;
  }
  Owned lib(FEmptyPath(nullptr));
  ASSERT_EQ(GetControlLibPath(lib), kNoErr);
  EXPECT_EQ(Text(lib), app_ + "\\control.lib") << "below the library folder";
}

// The key's entries, or the five compiled-in ones when it is missing; the
// first "<foundvi>" entry of depth 1 or 2 gives the found-VI index (case
// counting), a "*" below it searches below the found folders.
TEST_F(BoundaryTest, TheSearchPathComesFromTheConfiguration) {
  struct Case {
    const char* value;
    std::vector<std::string> entries;
    int32 foundIndex, below;
  } cases[] = {
      {"C:\\a; C:\\b\\*", {"C:\\a", "C:\\b\\*"}, -1, 0},
      {"", {}, -1, 0},
      {"C:\\a; <FOUNDVI>; <foundvi>\\x\\*; <foundvi>\\*", {"C:\\a", "<FOUNDVI>:\\", "<foundvi>:\\x\\*", "<foundvi>:\\*"}, 3, 1},
      {"<foundvi>; <foundvi>\\*", {"<foundvi>:\\", "<foundvi>:\\*"}, 0, 0},  // entries become absolute
      {nullptr, {"<topvi>\\*", "<foundvi>", "<vilib>\\*", "<userlib>\\*", "<instrlib>\\*"}, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(missing)");
    if (c.value) CfgTestSetValue("viSearchPath", c.value);
    else CfgTestRemoveValue("viSearchPath");
    EXPECT_EQ(ShellReadSearchPath() == kNoErr, c.value != nullptr) << "an absent key is the configuration's error";
    ASSERT_EQ(VISearchPathCount(), int32(c.entries.size()));
    for (size_t i = 0; i < c.entries.size(); ++i) EXPECT_EQ(Text(VISearchPathEntry(int32(i))), c.entries[i]);
    EXPECT_EQ(VIFoundDirsIndex(), c.foundIndex);
    EXPECT_EQ(PrefGet(kPrefSearchBelowFoundVI), c.below);
  }
  CfgTestRemoveValue("viSearchPath");
}

TEST_F(BoundaryTest, TheDirectoryQuestionAnswersThroughTheAlert) {
  PlatSetAlertProc(&Script);
  const uChar msg[] = "\x01?", yes[] = "\x03Yes", no[] = "\x02No";
  // The default button picks how the alert is put: OK or Cancel, Yes or No.
  for (int32_t answer : {kPlatAnsOK, kPlatAnsCancel, kPlatAnsYes, kPlatAnsNo}) {
    gAnswer = answer;
    const int32 defaultButton = answer == kPlatAnsOK || answer == kPlatAnsCancel ? 1 : 2;
    const int32 first = answer == kPlatAnsOK || answer == kPlatAnsYes ? 1 : 0;
    EXPECT_EQ(VIFindShell().twoButtonAlert(msg, yes, no, defaultButton), first) << answer;
  }
  PlatSetAlertProc(nullptr);
  EXPECT_EQ(VIFindShell().twoButtonAlert(msg, yes, no, 2), 0) << "headless: the default No";
  // Headless, the file dialog is not there: nothing is chosen.
  Owned p(ToPath("C:\\x"));
  EXPECT_EQ(FindFileDialog(p, kFindTypeVI, nullptr), kDialogGaveUp);
}

}  // namespace
