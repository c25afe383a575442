// Finding and opening VI files: the search order (folder, library beside
// it, search path with "*" entries and found directories, the user), the
// link-search hook's answers, the dialog's prompts and questions, and a
// folder loop that must end the walk.
#include <stdlib.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "engine/link/loadmethods.h"
#include "engine/vi/archive.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vifind.h"
#include "mgsource/filemgr.h"
#include "mgsource/path_test_util.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "mgsource/window/wmisc.h"
#include "platform/qx_drives.h"
#include "tools/appbuild.h"
#include "tools/vilibrary.h"
#include "engine_test_support.h"
#include "runtime_root.h"

namespace fs = std::filesystem;
using pathtest::Owned;
using pathtest::PS;
using pathtest::Str;
using pathtest::Text;
using pathtest::ToPath;

namespace {

// The scripted shell: dialog answers (a path text, or "" for cancel), alert
// answers (1 first button), hook answers; and what was shown.
struct Script {
  std::deque<std::string> dialog;
  std::deque<int32> alerts;
  std::deque<int32> hook;  // answers of the link-search hook; empty: 1
  int32 hookWhenEmpty = 1;
  int32 pollAnswer = 3;  // the poll after a cancelled dialog (no path), queue empty
  std::vector<std::string> prompts, messages, hookCalls;
  std::vector<int32> filters, options;
  std::string controlLib;
};
Script& S() {
  static Script s;
  return s;
}

MgErr Dialog(ConstPStr prompt, Path path, int32 filter, int32 options) {
  S().prompts.push_back(Str(prompt));
  S().filters.push_back(filter);
  S().options.push_back(options);
  if (S().dialog.empty()) return 43;
  std::string next = S().dialog.front();
  S().dialog.pop_front();
  if (next.empty()) return 43;
  Owned p(ToPath(next));
  return FPathCpy(path, p.p);
}
int32 TwoButtons(ConstPStr message, ConstPStr b1, ConstPStr b2, int32) {
  S().messages.push_back(Str(message) + "|" + Str(b1) + "|" + Str(b2));
  if (S().alerts.empty()) return 0;
  const int32 a = S().alerts.front();
  S().alerts.pop_front();
  return a;
}
MgErr ControlLib(Path out) {
  if (S().controlLib.empty()) return kFileNotFoundErr;
  Owned p(ToPath(S().controlLib));
  return FPathCpy(out, p.p);
}
int32 Hook(void*, int32 op, ConstPStr name, Path path, int32, int32, uInt32) {
  S().hookCalls.push_back(std::to_string(op) + ":" + (name ? Str(name) : "-") + ":" + (path ? Text(path) : "-"));
  if (S().hook.empty()) return path ? S().hookWhenEmpty : S().pollAnswer;
  const int32 a = S().hook.front();
  S().hook.pop_front();
  return a;
}

class VIFindTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_TRUE(qxtest::StartThreadsAndResources());
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    ASSERT_TRUE(drive_.Make("qxfind"));
    root_ = drive_.root();
    S() = Script{};
    VIFindShellHooks h{};
    h.fileDialog = &Dialog;
    h.twoButtonAlert = &TwoButtons;
    h.controlLibPath = &ControlLib;
    SetVIFindShellHooks(&h);
    SetVISearchPath(nullptr, 0, -1);
    // The script answers for an operator, who may be asked again.
    WSetNoOperator(0);
  }
  void TearDown() override {
    if (hooked_) ClearLinkSearchHook();
    WSetNoOperator(-1);
    SetVIFindShellHooks(nullptr);
    SetVISearchPath(nullptr, 0, 0);
    SetVISearchPath(nullptr, 0, -1);
    drive_.Remove();
    FExitFileMgr();
    EngineTest::TearDown();
  }
  void InstallHook() {
    ASSERT_EQ(SetLinkSearchHook(&Hook, nullptr), 1);
    hooked_ = true;
  }
  // A resource file of the type at the relative host path.
  void File(const std::string& rel, uInt32 type) {
    fs::create_directories(fs::path(root_ + "/" + rel).parent_path());
    rsrcw::Writer w(type, FourCC("QNLX"));
    w.Add(FourCC("DATA"), 1, {1, 2, 3});
    ASSERT_TRUE(rsrcw::WriteHostFile(root_ + "/" + rel, w.Write()));
  }
  // A VI library holding one member.
  void Library(const std::string& rel, const std::string& member, uInt32 type = archfmt::kTypeVI) {
    fs::create_directories(fs::path(root_ + "/" + rel).parent_path());
    qxbuild::VILibraryWriter lib(fs::path(rel).filename().string());
    lib.Add(qxbuild::MakeMember(member, type));
    ASSERT_TRUE(rsrcw::WriteHostFile(root_ + "/" + rel, lib.Write()));
  }
  void SearchPath(const std::vector<std::string>& entries, int32 foundIndex) {
    std::vector<Path> paths;
    for (const std::string& e : entries) paths.push_back(e.empty() ? FEmptyPath(nullptr) : ToPath(e));
    ASSERT_EQ(SetVISearchPath(paths.data(), int32(paths.size()), foundIndex), kNoErr);
    for (Path p : paths) FDisposePath(p);
  }
  // FindAndOpenVIFile: the status, *where the path afterwards.
  int32 Find(const std::string& path, const std::string& name, uInt32 type, std::string* where,
             Bool32* fromLib = nullptr) {
    Owned p(ToPath(path));
    RsrcFileRef f = 0;
    Bool32 lib = 0;
    const int32 r = FindAndOpenVIFile(p.p, PS(name), type, kRsrcReadOnly, &f, &lib);
    if (where) *where = Text(p.p);
    if (fromLib) *fromLib = lib;
    EXPECT_EQ(f != 0, r == kFindFound || r == kFindInFolder) << name;
    if (f) RCloseFile(f);
    return r;
  }

  qxtest::RuntimeRoot drive_;
  std::string root_;
  bool hooked_ = false;
};

TEST_F(VIFindTest, SearchOrderFindsEachPlace) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, bool>> files;  // (rel, as library holding A.vi)
    std::vector<std::string> searchPath;
    std::string path;
    int32 status;
    std::string where;
    Bool32 fromLib;
  };
  const Case cases[] = {
      {"folder", {{"a/A.vi", false}}, {}, "L:\\a\\A.vi", kFindInFolder, "L:\\a\\A.vi", 0},
      {"library as folder", {{"a/lib.qlb", true}}, {}, "L:\\a\\lib.qlb\\A.vi", kFindInFolder,
       "L:\\a\\lib.qlb\\A.vi", 1},
      {"library beside folder", {{"a/sub.qlb", true}}, {}, "L:\\a\\sub\\A.vi", kFindFound, "L:\\a\\sub.qlb\\A.vi", 1},
      {"folder beside library", {{"a/sub/A.vi", false}}, {}, "L:\\a\\sub.qlb\\A.vi", kFindFound,
       "L:\\a\\sub\\A.vi", 0},
      {"star two folders down", {{"t/x/y/A.vi", false}}, {"L:\\t\\*"}, "L:\\n\\A.vi", kFindFound,
       "L:\\t\\x\\y\\A.vi", 0},
      {"star into a library", {{"t/x/in.qlb", true}}, {"L:\\t\\*"}, "L:\\n\\A.vi", kFindFound,
       "L:\\t\\x\\in.qlb\\A.vi", 1},
      {"plain entry", {{"p/A.vi", false}}, {"L:\\q", "L:\\p"}, "L:\\n\\A.vi", kFindFound, "L:\\p\\A.vi", 0},
      {"plain entry is not recursive", {{"t/x/A.vi", false}}, {"L:\\t"}, "L:\\n\\A.vi", kFindNotFound, "L:\\n\\A.vi",
       0},
      {"relative name only", {{"p/A.vi", false}}, {"L:\\p"}, "A.vi", kFindFound, "L:\\p\\A.vi", 0},
  };
  InstallHook();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root_ + "/a");
    fs::remove_all(root_ + "/t");
    fs::remove_all(root_ + "/p");
    for (const auto& [rel, lib] : c.files) lib ? Library(rel, "A.vi") : File(rel, kFindTypeVI);
    SearchPath(c.searchPath, -1);
    std::string where;
    Bool32 fromLib = 0;
    const int32 r = Find(c.path, "A.vi", kFindTypeVI, &where, &fromLib);
    EXPECT_EQ(r, c.status);
    EXPECT_EQ(where, c.where);
    EXPECT_EQ(fromLib, c.fromLib);
    CleanUpArchive();
  }
}

TEST_F(VIFindTest, SymbolicLinkLoopEndsTheWalk) {
  fs::create_directories(root_ + "/t/loop");
  ASSERT_EQ(symlink("..", (root_ + "/t/loop/back").c_str()), 0);
  ASSERT_EQ(symlink("../t", (root_ + "/t/loop/again").c_str()), 0);
  Owned top(ToPath("L:\\t"));
  RsrcFileRef f = 0;
  Bool32 lib = 0;
  Path found = nullptr;
  EXPECT_EQ(SearchDirTreeForVI(top.p, PS("A.vi"), kFindTypeVI, kRsrcReadOnly, &f, 0, &lib, &found), kFindNotFound);
  EXPECT_EQ(found, nullptr);
  // A file below the loop is still found, once.
  File("t/loop/z/A.vi", kFindTypeVI);
  EXPECT_EQ(SearchDirTreeForVI(top.p, PS("A.vi"), kFindTypeVI, kRsrcReadOnly, &f, 0, &lib, &found), kFindInFolder);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(Text(found), "L:\\t\\loop\\z");
  FDisposePath(found);
  RCloseFile(f);
}

TEST_F(VIFindTest, HookAnswersEndTheSearch) {
  File("p/B.vi", kFindTypeVI);
  SearchPath({"L:\\q", "L:\\p"}, -1);
  InstallHook();
  struct Case {
    std::deque<int32> answers;
    int32 status;
    size_t prompts;  // dialogs shown
  };
  const Case cases[] = {
      {{3}, kFindNotFound, 0},
      {{5}, kFindStop, 0},
      {{1, 6}, kFindContinue, 0},
      {{4, 3}, kFindNotFound, 1},     // the dialog, cancelled, then the poll gives up
      {{4, 4, 5}, kFindStop, 2},      // the poll asks for the dialog again, then stops
      {{1, 1}, kFindFound, 0},
  };
  for (const Case& c : cases) {
    S().hook = c.answers;
    S().hookWhenEmpty = 3;
    S().prompts.clear();
    std::string where;
    EXPECT_EQ(Find("L:\\n\\B.vi", "B.vi", kFindTypeVI, &where), c.status) << c.answers.size();
    EXPECT_EQ(S().prompts.size(), c.prompts);
  }
}

TEST_F(VIFindTest, FoundDirectoriesStandForTheirEntry) {
  File("s1/A.vi", kFindTypeVI);
  File("s2/B.vi", kFindTypeVI);
  SearchPath({"L:\\s1", "", "L:\\s2"}, 1);
  std::string where;
  EXPECT_EQ(Find("L:\\n\\A.vi", "A.vi", kFindTypeVI, &where), kFindFound);
  EXPECT_EQ(Find("L:\\n\\B.vi", "B.vi", kFindTypeVI, &where), kFindFound);
  ASSERT_EQ(VIFoundDirsCount(), 2);
  EXPECT_EQ(Text(VIFoundDir(0)), "L:\\s2");
  EXPECT_EQ(Text(VIFoundDir(1)), "L:\\s1");
  // Found again: moved to the front, not repeated.
  EXPECT_EQ(Find("L:\\n\\A.vi", "A.vi", kFindTypeVI, &where), kFindFound);
  ASSERT_EQ(VIFoundDirsCount(), 2);
  EXPECT_EQ(Text(VIFoundDir(0)), "L:\\s1");
  ResetFoundDirs();
  EXPECT_EQ(VIFoundDirsCount(), 0);
}

TEST_F(VIFindTest, DialogFindAsksToExtendTheSearchPath) {
  File("d/A.vi", kFindTypeVI);
  InstallHook();
  S().hookWhenEmpty = 3;
  // No found-directories entry: "Yes" adds the directory.
  S().dialog = {"L:\\d\\A.vi"};
  S().alerts = {1};
  std::string where;
  EXPECT_EQ(Find("L:\\n\\A.vi", "A.vi", kFindTypeVI, &where), kFindFound);
  EXPECT_EQ(where, "L:\\d\\A.vi");
  ASSERT_EQ(S().messages.size(), 1u);
  EXPECT_EQ(S().messages[0], "Do you wish to add the directory \"L:\\d\" to your search path?|Yes|No");
  ASSERT_EQ(VISearchPathCount(), 1);
  EXPECT_EQ(Text(VISearchPathEntry(0)), "L:\\d");
  // "No" leaves it.
  SearchPath({}, -1);
  S().dialog = {"L:\\d\\A.vi"};
  S().alerts = {0};
  EXPECT_EQ(Find("L:\\n\\A.vi", "A.vi", kFindTypeVI, &where), kFindFound);
  EXPECT_EQ(VISearchPathCount(), 0);
  // With a found-directories entry nothing is asked.
  SearchPath({""}, 0);
  S().messages.clear();
  S().dialog = {"L:\\d\\A.vi"};
  EXPECT_EQ(Find("L:\\n\\A.vi", "A.vi", kFindTypeVI, &where), kFindFound);
  EXPECT_TRUE(S().messages.empty());
  ASSERT_EQ(VIFoundDirsCount(), 1);
  EXPECT_EQ(Text(VIFoundDir(0)), "L:\\d");
}

TEST_F(VIFindTest, LocateVIFileMatchesTypes) {
  File("f/ctl.ctl", kFindTypeControl);
  File("f/vi.vi", kFindTypeVI);
  File("f/sub.qsb", kFindTypeSubr);
  Library("f/lib.qlb", "T.ctl", archfmt::kTypeControl);
  struct Case {
    const char* path;
    uInt32 type;
    int32 found;
  };
  const Case cases[] = {
      {"L:\\f\\ctl.ctl", kFindTypeAnyVI, 1},  {"L:\\f\\ctl.ctl", kFindTypeControl, 1},
      {"L:\\f\\ctl.ctl", kFindTypeVI, 0},     {"L:\\f\\vi.vi", kFindTypeAnyVI, 1},
      {"L:\\f\\sub.qsb", kFindTypeAnyVI, 0},  {"L:\\f\\sub.qsb", kFindTypeSubr, 1},
      {"L:\\f\\none.vi", kFindTypeAnyVI, 0},  {"L:\\f\\lib.qlb\\T.ctl", kFindTypeAnyVI, 1},
      {"L:\\f\\lib.qlb\\T.ctl", kFindTypeVI, 0}, {"L:\\f\\lib.qlb\\X.vi", kFindTypeAnyVI, 0},
      {"L:", kFindTypeAnyVI, 0},
  };
  for (const Case& c : cases) {
    Owned p(ToPath(c.path));
    EXPECT_EQ(LocateVIFile(p.p, c.type), c.found) << c.path;
  }
  EXPECT_EQ(LocateVIFile(nullptr, kFindTypeVI), 0);
}

TEST_F(VIFindTest, FindFileDialogPromptsFiltersAndRetries) {
  struct Case {
    uInt32 type;
    const char* name;
    const char* prompt;
    int32 filter;
  };
  const Case cases[] = {
      {kFindTypeVI, "A.vi", "Please find the VI named \"A.vi\"", 128},
      {kFindTypeAnyVI, nullptr, "Choose the VI to open:", 131},
      {kFindTypeControl, "T", "Please find the Type Definition named \"T\"", 129},
      {kFindTypeControl, nullptr, "Choose a custom control to open:", 129},
      {kFindTypeSubr, "s", "Please find the file of type QXSB named \"s\"", 130},
      {kFindTypeSubr, nullptr, "Choose a code resource file:", 130},
      {FourCC("ABCD"), nullptr, "Choose a file of type ABCD to open:", 0},
  };
  for (const Case& c : cases) {
    S().prompts.clear();
    S().filters.clear();
    S().options.clear();
    Owned p(ToPath("L:\\x"));
    EXPECT_EQ(FindFileDialog(p.p, c.type, c.name ? static_cast<ConstPStr>(PS(c.name)) : nullptr), kDialogGaveUp);
    ASSERT_EQ(S().prompts.size(), 1u);
    EXPECT_EQ(S().prompts[0], c.prompt);
    EXPECT_EQ(S().filters[0], c.filter);
    EXPECT_EQ(S().options[0], kFindDialogOptions);
  }
  // A chosen file of another kind: asked to select another; declining gives up.
  File("f/x.txt", FourCC("TEXT"));
  File("f/A.vi", kFindTypeVI);
  Owned p(ToPath("L:\\x"));
  S().dialog = {"L:\\f\\x.txt"};
  S().alerts = {0};
  EXPECT_EQ(FindFileDialog(p.p, kFindTypeVI, PS("A.vi")), kDialogGaveUp);
  ASSERT_EQ(S().messages.size(), 1u);
  EXPECT_EQ(S().messages[0], "The file A.vi is not a VI.\nSelect another?|Yes|No");
  // Accepting shows the dialog again.
  S().messages.clear();
  S().dialog = {"L:\\f\\x.txt", "L:\\f\\A.vi"};
  S().alerts = {1};
  EXPECT_EQ(FindFileDialog(p.p, kFindTypeControl, nullptr), kDialogGaveUp);  // A.vi is no control
  S().dialog = {"L:\\f\\x.txt", "L:\\f\\A.vi"};
  S().alerts = {1};
  EXPECT_EQ(FindFileDialog(p.p, kFindTypeVI, nullptr), kDialogFound);
  EXPECT_EQ(Text(p.p), "L:\\f\\A.vi");
  EXPECT_EQ(S().messages.back(), "The file x.txt is not a VI.\nSelect another?|Yes|No");
  S().dialog = {"L:\\f\\x.txt"};
  S().alerts = {0};
  EXPECT_EQ(FindFileDialog(p.p, FourCC("ABCD"), nullptr), kDialogGaveUp);
  EXPECT_EQ(S().messages.back(), "The selected file was not of type ABCD.\nSelect another?|Yes|No");
}

// With nobody to answer, each question is asked once: a dialog whose
// answer (the same damaged file each time, as a default would give) fails,
// or a "Select another?" answered Yes, is not shown again, and the search
// ends with nothing found.
TEST_F(VIFindTest, NobodyToAnswerIsAskedOnce) {
  File("f/x.txt", FourCC("TEXT"));
  std::ofstream(root_ + "/f/Cut.vi") << "RSRC";  // a VI file cut short: no resource file
  WSetNoOperator(1);
  InstallHook();
  S().hookWhenEmpty = 0;
  S().pollAnswer = 0;  // the hook would have the dialog shown again and again
  S().dialog = {"L:\\f\\Cut.vi", "L:\\f\\Cut.vi", "L:\\f\\Cut.vi"};
  EXPECT_EQ(Find("L:\\n\\Cut.vi", "Cut.vi", kFindTypeVI, nullptr), kFindNotFound);
  EXPECT_EQ(S().prompts.size(), 1u);
  S().prompts.clear();
  S().dialog = {"L:\\f\\x.txt", "L:\\f\\x.txt"};
  S().alerts = {1, 1};
  Owned p(ToPath("L:\\x"));
  EXPECT_EQ(FindFileDialog(p.p, kFindTypeVI, PS("A.vi")), kDialogGaveUp);
  EXPECT_EQ(S().prompts.size(), 1u);
}

TEST_F(VIFindTest, OpenVIFileWithoutPathAndCancelledDialogIsNotFound) {
  UHandle vi = reinterpret_cast<UHandle>(1);
  EXPECT_EQ(OpenVIFile(nullptr, &vi, 0), kOpenVINotFound);
  EXPECT_EQ(vi, nullptr);
  ASSERT_EQ(S().prompts.size(), 1u);
  EXPECT_EQ(S().prompts[0], "Choose the VI to open:");
  // A path that names no VI: nothing is asked, the path is disposed.
  EXPECT_EQ(OpenVIFile(ToPath("L:\\none\\A.vi"), &vi, 0), kOpenVINotFound);
  EXPECT_EQ(S().prompts.size(), 1u);
}

TEST_F(VIFindTest, SubroutineFileInFolderOrControlLibrary) {
  File("v/s.qsb", kFindTypeSubr);
  File("cl/deep/t.qsb", kFindTypeSubr);
  S().controlLib = "L:\\cl";
  struct Case {
    const char* path;
    const char* name;
    int32 status;
    const char* where;
  };
  const Case cases[] = {
      {"L:\\v\\s.qsb", "s.qsb", kFindInFolder, "L:\\v\\s.qsb"},
      {"L:\\v\\t.qsb", "t.qsb", kFindFound, "L:\\cl\\deep\\t.qsb"},
      {"L:\\v\\u.qsb", "u.qsb", kFindNotFound, "L:\\v\\u.qsb"},
  };
  for (const Case& c : cases) {
    Owned p(ToPath(c.path));
    RsrcFileRef f = 0;
    EXPECT_EQ(FindSubroutineFile(p.p, PS(c.name), kFindTypeSubr, kRsrcReadOnly, &f), c.status) << c.name;
    EXPECT_EQ(Text(p.p), c.where);
    if (f) RCloseFile(f);
  }
  // Without a control-library folder only the folder is tried.
  S().controlLib.clear();
  Owned p(ToPath("L:\\v\\t.qsb"));
  RsrcFileRef f = 0;
  EXPECT_EQ(FindSubroutineFile(p.p, PS("t.qsb"), kFindTypeSubr, kRsrcReadOnly, &f), kFindNotFound);
}

TEST_F(VIFindTest, LinkSearchHookInstallsOnce) {
  EXPECT_EQ(LinkHookCallFind(PS("a"), nullptr, kFindTypeVI), 1);
  EXPECT_EQ(LinkHookCallSearch(nullptr, nullptr, kFindTypeVI), 1);
  int ctx = 0;
  ASSERT_EQ(SetLinkSearchHook(&Hook, &ctx), 1);
  EXPECT_EQ(SetLinkSearchHook(&Hook, nullptr), 0);
  S().hook = {4, 6};
  EXPECT_EQ(LinkHookCallFind(PS("a"), nullptr, kFindTypeVI), 4);
  EXPECT_EQ(LinkHookCallSearch(nullptr, nullptr, kFindTypeVI), 6);
  EXPECT_EQ(S().hookCalls, (std::vector<std::string>{"1:a:-", "2:-:-"}));
  EXPECT_EQ(ClearLinkSearchHook(), &ctx);
  EXPECT_EQ(LinkHookCallFind(PS("a"), nullptr, kFindTypeVI), 1);
}

}  // namespace
