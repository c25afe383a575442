// What the engine needs of the shell's folders: names of temporary files in
// the temporary folder, and their use by VI-library extraction.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include "engine/vi/archive.h"
#include "engine/vi/archive_format.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/rsrc.h"
#include "mgsource/thread.h"
#include "platform/qx_com.h"
#include "platform/qx_drives.h"
#include "platform/qx_process.h"
#include "shell/appfolders.h"
#include "tools/vilibrary.h"
#include "tools/appbuild.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/sorting.h"

#include "engine/exec/codeentry.h"
#include "engine/exec/exec.h"
#include "engine/exec/exectimer.h"
#include "engine/exec_test_support.h"
#include "mgsource/config_test_file.h"
#include "mgsource/occur.h"
#include "mgsource/window/wservices.h"
#include "shell/background.h"
#include "shell/shellglobals.h"
#include "tools/i386emit.h"

namespace {

namespace fs = std::filesystem;

std::string Text(Path p) {
  LStr probe = {-1, {0}};
  if (FPathToText(p, &probe) != kNoErr) return "<error>";
  std::string s(size_t(probe.cnt) + 8, '\0');
  LStrPtr l = reinterpret_cast<LStrPtr>(s.data());
  l->cnt = 0;
  if (FPathToText(p, l) != kNoErr) return "<error>";
  return std::string(reinterpret_cast<const char*>(l->str), size_t(l->cnt));
}

Path ToPath(const std::string& text) {
  Path p = nullptr;
  EXPECT_EQ(FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p), kNoErr);
  return p;
}

class Boundary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(qxtest::StartThreadsAndResources());
    // The execution threads of an earlier test stay counted until an OLE
    // shut-down; these tests count from nothing.
    ComCounterUndo();
    DBSetContinueAfterFailure(1);
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    std::string t = (fs::temp_directory_path() / "qxshXXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    root_ = t;
    ASSERT_EQ(PlatDriveMap('T', root_.c_str(), kPlatDriveFixed), 0);
    Path folder = ToPath("T:\\");
    SetTempDirPath(folder);
    FDisposePath(folder);
  }
  void TearDown() override {
    SetTempDirPath(nullptr);
    PlatDriveMap('T', nullptr, 0);
    std::error_code ec;
    fs::remove_all(root_, ec);
    FExitFileMgr();
  }
  std::string root_;
  const std::string pid_ = std::to_string(PlatProcessId() % 10000);
};

TEST_F(Boundary, TemporaryFileNames) {
  const struct {
    const char* format;
    std::string name;
  } cases[] = {
      {"uarc%ld.vi", "uarc" + pid_ + ".vi"},
      {"qxm%ld.rtm", "qxm" + pid_ + ".rtm"},
      {"vipg%d.000", "vipg" + pid_ + ".000"},
      {"$temp.qlb", "$temp.qlb"},
  };
  for (const auto& c : cases) {
    Path p = MakeTempFilePath(c.format, nullptr);
    ASSERT_NE(p, nullptr) << c.format;
    EXPECT_EQ(Text(p), "T:\\" + c.name);
    // A given path is reused.
    Path again = MakeTempFilePath(c.format, p);
    EXPECT_EQ(again, p);
    EXPECT_EQ(Text(again), "T:\\" + c.name);
    FDisposePath(p);
  }
  // Names a path component can't hold give none; a given path stays the
  // caller's.
  Path kept = ToPath("T:\\x");
  EXPECT_EQ(MakeTempFilePath(std::string(300, 'a').c_str(), kept), nullptr);
  EXPECT_EQ(MakeTempFilePath(nullptr, nullptr), nullptr);
  EXPECT_EQ(MakeTempFilePath("", nullptr), nullptr);
  EXPECT_TRUE(FIsAPath(kept));
  FDisposePath(kept);
  // Without a folder set, the host's temporary folder.
  SetTempDirPath(nullptr);
  Path p = MakeTempFilePath("uarc%ld.ctl", nullptr);
  Path host = nullptr;
  ASSERT_EQ(FTempDirPath(&host), kNoErr);
  Str255 name;
  name[0] = 0;
  ASSERT_EQ(FNamePtr(p, name), kNoErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "uarc" + pid_ + ".ctl");
  ASSERT_EQ(FDirName(p, p), kNoErr);
  EXPECT_EQ(FPathCmp(p, host), 0);
  FDisposePath(p);
  FDisposePath(host);
  EXPECT_EQ(GetTempDirPath(nullptr), kArgErr);
}

// The library code makes its temporary member files with these names and
// removes them at shut-down.
TEST_F(Boundary, LibraryExtractionUsesTheShellsNames) {
  qxbuild::VILibraryWriter lib("l.qlb");
  lib.Add(qxbuild::MakeMember("big.vi", archfmt::kTypeVI, {}, 0, 0x05008007, 300000, 9));
  lib.Add(qxbuild::MakeMember("big.ctl", archfmt::kTypeControl, {}, 0, 0x05008007, 300000, 9));
  ASSERT_TRUE(rsrcw::WriteHostFile(root_ + "/l.qlb", lib.Write()));
  ArchiveSetTempPathProc(&MakeTempFilePath);
  for (const char* member : {"T:\\l.qlb\\big.vi", "T:\\l.qlb\\big.ctl"}) {
    Path m = ToPath(member);
    RsrcFileRef file = 0;
    ASSERT_EQ(ArchiveExtractByPath(m, nullptr, &file, nullptr, nullptr), kNoErr) << member;
    EXPECT_EQ(RCloseFile(file), kNoErr);
    FDisposePath(m);
  }
  EXPECT_TRUE(fs::exists(root_ + "/uarc" + pid_ + ".vi"));
  EXPECT_TRUE(fs::exists(root_ + "/uarc" + pid_ + ".ctl"));
  ASSERT_TRUE(rsrcw::WriteHostFile(root_ + "/$temp.qlb", {1}));
  EXPECT_EQ(CleanUpArchive(), kNoErr);
  EXPECT_FALSE(fs::exists(root_ + "/uarc" + pid_ + ".vi"));
  EXPECT_FALSE(fs::exists(root_ + "/uarc" + pid_ + ".ctl"));
  EXPECT_FALSE(fs::exists(root_ + "/$temp.qlb"));
  ArchiveSetTempPathProc(nullptr);
}

// The folder keys at start-up, each with its fall-back; the folders below
// the library folder follow it.
TEST_F(Boundary, FolderKeysAndTheirFallBacks) {
  fs::create_directories(root_ + "/lib");
  fs::create_directories(root_ + "/tmp2");
  Path sys = nullptr;
  ASSERT_EQ(FTempDirPath(&sys), kNoErr);
  Path app = nullptr;
  ASSERT_EQ(FAppPath(&app), kNoErr);
  const std::string sysText = Text(sys), appText = Text(app);
  FDisposePath(sys);
  FDisposePath(app);
  const struct {
    const char *libdir, *tmpdir, *defaultdir;
    std::string lib, temp, def;
  } cases[] = {
      {nullptr, nullptr, nullptr, appText, sysText, appText},
      {"T:\\lib", "T:\\tmp2", "T:\\tmp2", "T:\\lib", "T:\\tmp2", "T:\\tmp2"},
      {"T:\\nolib", "T:\\notmp", nullptr, appText, sysText, appText},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lib + " " + c.temp);
    for (auto [key, value] : {std::pair{"libdir", c.libdir}, {"tmpdir", c.tmpdir}, {"defaultdir", c.defaultdir}})
      value ? CfgTestSetValue(key, value) : CfgTestRemoveValue(key);
    DisposeAppFolderPaths();
    ASSERT_EQ(InitAppFolderPaths(), kNoErr);
    EXPECT_EQ(InitAppDirs(), kNoErr);
    Path p = FEmptyPath(nullptr);
    ASSERT_EQ(GetLibDirPath(p), kNoErr);
    EXPECT_EQ(Text(p), c.lib);
    ASSERT_EQ(GetTempDirPath(p), kNoErr);
    EXPECT_EQ(Text(p), c.temp);
    ASSERT_EQ(GetDefaultDirPath(p), kNoErr);
    EXPECT_EQ(Text(p), c.def);
    ASSERT_EQ(GetAppFolderPath(kAppDirInstrLib, p), kNoErr);
    EXPECT_EQ(Text(p), c.lib + "\\instr.lib");
    ASSERT_EQ(GetVILibPath(p), kNoErr);
    EXPECT_EQ(Text(p), appText + "\\vi.lib") << "vi.lib starts below the application folder";
    EXPECT_EQ(GetAppFolderPath(2, p), kArgErr);
    EXPECT_EQ(GetAppFolderPath(kAppDirTopVI, p), kFileNotFoundErr);
    FDisposePath(p);
  }
  for (const char* key : {"libdir", "tmpdir", "defaultdir"}) CfgTestRemoveValue(key);
  DisposeAppFolderPaths();
  SetTempDirPath(ToPath("T:\\"));
}

// Entries of the fixed-text table come from their lists; a missing list or a
// number outside the table gives the default.
TEST_F(Boundary, FixedTextsByNumber) {
  rsrcw::Writer w(FourCC("QXRS"), FourCC("QNLX"));
  qxbuild::AddAppIndStrings(&w);
  ASSERT_TRUE(rsrcw::WriteHostFile(root_ + "/rt.rsc", w.Write()));
  Path file = ToPath("T:\\rt.rsc");
  RsrcFileRef ref = 0;
  ASSERT_EQ(ROpenFile(file, kRsrcReadOnly, &ref, nullptr, nullptr), kNoErr);
  FDisposePath(file);
  SetRunTimeRsrcFile(ref);
  const uChar kDefault[] = "\x03" "def";
  const struct {
    int32 n;
    bool found;
    std::string text;
  } cases[] = {{3, true, "<Not A Path>"}, {4, true, "<path too long>"}, {12, true, "Strikeout"},
               {13, false, "def"},          {33, true, "Clear"},          {58, true, "F12"},
               {64, true, "Caps+"},         {65, false, "def"},           {-1, false, "def"}};
  for (const auto& c : cases) {
    Str255 text;
    const MgErr err = ShellGetAppIndString(c.n, text, kDefault);
    EXPECT_EQ(err == kNoErr, c.found) << c.n;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text + 1), text[0]), c.text) << c.n;
  }
  Str255 text;
  EXPECT_EQ(ShellGetAppIndString(65, text, nullptr), kArgErr);
  EXPECT_EQ(text[0], 0);
  SetRunTimeRsrcFile(0);
  RCloseFile(ref);
}

TEST_F(Boundary, PathListsCopyAndCompare) {
  auto list = [](std::initializer_list<const char*> texts) {
    UHandle h = AZNewHClr(4);
    for (const char* t : texts) HObjListInsert(h, int32(uintptr_t(ToPath(t))), 1000);
    return h;
  };
  auto dispose = [](UHandle h) {
    for (int32 i = 0; i < *reinterpret_cast<int32*>(*h); ++i)
      FDisposePath(reinterpret_cast<Path>(uintptr_t(reinterpret_cast<uInt32*>(*h)[1 + i])));
    AZDisposeHandle(h);
  };
  for (auto dst : {list({}), list({"T:\\a"}), list({"T:\\x", "T:\\y", "T:\\z"})}) {
    UHandle src = list({"T:\\a", "T:\\b"});
    EXPECT_EQ(PathListsDiffer(dst, src), 1);
    CopyPathList(dst, src);
    EXPECT_EQ(PathListsDiffer(dst, src), 0);
    EXPECT_EQ(*reinterpret_cast<int32*>(*dst), 2);
    dispose(src);
    dispose(dst);
  }
}

// The main loop's idle procedure and the COM counter.
std::atomic<int32> gAsked{0};
int32 gInputAfter = 0;
Bool32 InputAfterSomeAsks() { return ++gAsked > gInputAfter; }
// The device layer's timer service as the execution systems see it: it
// starts, and without execution threads the user-interface context polls
// the shared countdown register.
ExecCountdown gRegister{0};
void TimerCountdown(ExecCountdown** countdown, int32* second, ExecCountdown* own, Bool32 shared) {
  *countdown = shared ? &gRegister : own;
  *second = 0;
}
const ExecTimerService kTimer = {[] { return MgErr(kNoErr); }, [] {}, [] { return ThEvent(nullptr); },
                                 TimerCountdown, [](ExecTickProc) {}};
// What the main loop's idle procedure answers when a clump runs it again
// (a nested loop): the slice running must not be entered again.  And what
// the clump sees: the slice, the register, the engine state of a loop
// nested in it.
int32 gNestedMost = -1;
int32 gSeen[3] = {};
void RunBackgroundNested() {
  gSeen[0] = ExecTimeSlice();
  gSeen[1] = gRegister.load();
  gSeen[2] = MainLoopExecState();
  gNestedMost = std::max(gNestedMost, WBackground(0));
}

TEST_F(Boundary, WBackgroundGivesUpTheSliceWhenInputWaits) {
  qxexectest::StartThreadManagers();
  CfgTestSetValue("ESys.StdNParallel", "0");
  ASSERT_EQ(InitExec(), kNoErr);
  ASSERT_FALSE(ExecThreadsOn());
  // A clump that counts its rounds, makes its slice expire and yields.
  emit::Code c;
  auto again = c.NewLabel();
  c.SetEntry();
  c.Bind(again);
  c.IncMem(emit::EBP, kDataSpaceHeaderSize);
  c.MovRegImm(emit::EAX, uint32_t(reinterpret_cast<uintptr_t>(&RunBackgroundNested)));
  c.CallReg(emit::EAX);
  c.MovRegImm(emit::EAX, uint32_t(reinterpret_cast<uintptr_t>(&DoDDOAttrCallDone)));
  c.CallReg(emit::EAX);
  c.LoadLabelAddress(emit::EAX, again);
  c.Ret();
  std::vector<uint8_t> bytes = c.Finish(false);
  VICode code = nullptr;
  ASSERT_EQ(NewVICode(bytes.data(), int32(bytes.size()), &code), kNoErr);
  auto ds = reinterpret_cast<DataSpace>(DSNewHClr(kDataSpaceHeaderSize + 16));
  (*ds)->signature = kDataSpaceSig;
  (*ds)->self = ds;
  (*ds)->execSystem = kESysUserInterface;
  QueueElement e{};
  e.signature = kQueueElementSig;
  e.dataSpace = ds;
  e.code = (*code)->start + 4 * emit::kHeaderWords;

  WSetInputWaitsProc(&InputAfterSomeAsks);
  gAsked = 0;
  gInputAfter = 3;
  ExecSetVIRunning(1);
  EnqPrRunQ(0, &e);
  EXPECT_EQ(WBackground(0), 2) << "the element went back on the queue";
  EXPECT_EQ(gAsked.load(), 4);
  auto* rounds = reinterpret_cast<int32*>(reinterpret_cast<char*>(*ds) + kDataSpaceHeaderSize);
  EXPECT_EQ(*rounds, 4);
  EXPECT_EQ(gNestedMost, 0) << "a nested loop's idle procedure runs no slice";
  EXPECT_EQ(ExecContextAt(0)->runRecord->runQueue->head, &e);
  EXPECT_EQ(ExecContextAt(0)->current.load(), nullptr);
  EXPECT_EQ(ExecTimeSlice(), 0) << "slices stay off without the timer service";

  // No VI runs: 0 after the slice.
  ExecSetVIRunning(0);
  gAsked = 0;
  gInputAfter = 0;
  EXPECT_EQ(WBackground(1), 0);
  EXPECT_EQ(*rounds, 5);
  // With nothing queued while a VI runs: 1.
  ExecSetVIRunning(1);
  EXPECT_EQ(DeQElm(ExecContextAt(0)->runRecord->runQueue), &e);
  EXPECT_EQ(WBackground(0), 1);
  ExecSetVIRunning(0);
  WSetInputWaitsProc(nullptr);
  EXPECT_EQ(WEventAvail(), 0);
  FinishExec();
  EXPECT_EQ(WBackground(0), 0) << "no execution systems";

  // With the timer service: the urgent slice is 1, else 2, and the shared
  // countdown register holds it only during the call.
  ExecSetTimerService(&kTimer);
  ASSERT_EQ(InitExec(), kNoErr);
  ASSERT_EQ(ExecContextAt(0)->countdown, &gRegister);
  WSetInputWaitsProc(&InputAfterSomeAsks);
  ExecSetVIRunning(1);
  for (const Bool32 urgent : {1, 0, 1}) {
    SCOPED_TRACE(urgent);
    gAsked = 0;
    EnqPrRunQ(0, &e);
    EXPECT_EQ(WBackground(urgent), 2);
    EXPECT_EQ(gSeen[0], urgent ? 1 : 2);
    EXPECT_EQ(gSeen[1], gSeen[0]) << "the register holds the slice during the call";
    EXPECT_EQ(gSeen[2], 0) << "a loop nested in the slice gets no engine time";
    EXPECT_EQ(gRegister.load(), 0) << "and is cleared after it";
    EXPECT_EQ(DeQElm(ExecContextAt(0)->runRecord->runQueue), &e);
  }
  // The shell's start clears the flag that a VI runs: the engine is idle.
  EXPECT_EQ(MainLoopExecState(), 1);
  InitShellGlobals(0);
  EXPECT_EQ(MainLoopExecState(), 0);
  DisposeShellGlobals();
  WSetInputWaitsProc(nullptr);
  FinishExec();
  ExecSetTimerService(nullptr);
  DSDisposeHandle(reinterpret_cast<UHandle>(ds));
  DisposeVICode(code);
  CfgTestRemoveValue("ESys.StdNParallel");
}

TEST_F(Boundary, ComCounterCountsAndUndoes) {
  EXPECT_EQ(ComCounter(), 0);
  ComCounterAdd();
  ComCounterAdd();
  EXPECT_EQ(ComCounter(), 2);
  const int32 own = PlatComInitCount();
  ComCounterUndo();
  EXPECT_EQ(ComCounter(), 0);
  EXPECT_EQ(PlatComInitCount(), own) << "the calling thread's initialisations are not the counted ones";
}

// The execution threads count their apartment initialisations (threads of
// the free-threaded model undo their own); the OLE shut-down after the
// execution systems finished undoes the count and the OLE initialisation of
// its own thread, and nothing of another thread's is left.
TEST_F(Boundary, OleShutdownUndoesTheExecutionThreadsCountAndItsOwnInitialisation) {
  qxexectest::StartThreadManagers();
  for (const char* freeThreaded : {"false", "true"}) {
    SCOPED_TRACE(freeThreaded);
    CfgTestSetValue("ESys.StdNParallel", "2");
    CfgTestSetValue("activeX.freeThreaded", freeThreaded);
    const int32 before = PlatComProcessCount();
    ASSERT_EQ(InitExec(), kNoErr);
    ASSERT_TRUE(ExecThreadsOn());
    const int32 threads = ExecContextCount() - 1;
    ASSERT_GT(threads, 0);
    const bool apartment = std::strcmp(freeThreaded, "false") == 0;
    EXPECT_EQ(ComCounter(), apartment ? threads : 0);
    EXPECT_EQ(PlatComProcessCount(), before + threads) << "each thread initialised once";
    FinishExec();
    EXPECT_EQ(PlatComProcessCount(), before) << "the ended threads hold none";
    EXPECT_EQ(ComCounter(), apartment ? threads : 0);

    // This thread initialised OLE and, once more, the component layer.
    PlatComInit(false);
    PlatComInit(false);
    WOleShutdown();
    EXPECT_EQ(ComCounter(), 0);
    EXPECT_EQ(PlatComInitCount(), 1) << "only the OLE initialisation was undone here";
    PlatComUninit();
    EXPECT_EQ(PlatComProcessCount(), before);
  }
  CfgTestRemoveValue("ESys.StdNParallel");
  CfgTestRemoveValue("activeX.freeThreaded");
}

}  // namespace
