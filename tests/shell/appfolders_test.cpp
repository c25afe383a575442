// What the engine needs of the shell's folders: names of temporary files in
// the temporary folder, and their use by VI-library extraction.
#include <gtest/gtest.h>

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

#include "engine/exec/codeentry.h"
#include "engine/exec/exec.h"
#include "engine/exec_test_support.h"
#include "mgsource/config_test_file.h"
#include "mgsource/occur.h"
#include "mgsource/window/wservices.h"
#include "shell/background.h"
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

// The main loop's idle procedure and the COM counter.
std::atomic<int32> gAsked{0};
int32 gInputAfter = 0;
Bool32 InputAfterSomeAsks() { return ++gAsked > gInputAfter; }

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
  gInputAfter = 3;
  ExecSetVIRunning(1);
  EnqPrRunQ(0, &e);
  EXPECT_EQ(WBackground(0), 2) << "the element went back on the queue";
  EXPECT_EQ(gAsked.load(), 4);
  auto* rounds = reinterpret_cast<int32*>(reinterpret_cast<char*>(*ds) + kDataSpaceHeaderSize);
  EXPECT_EQ(*rounds, 4);
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
