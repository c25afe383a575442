// File refnums: the jar, the refnum test of every kind, the open, create and
// close cycle, the datalog branches of open, and the close when the VI stops.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include "compiled_call.h"
#include "engine/codeentry_test_support.h"
#include "engine/exec/callchain.h"
#include "file_test_support.h"
#include "rttable_start.h"

namespace {

using namespace filetest;

class FileRefnumTest : public FileTest {};

TEST_F(FileRefnumTest, RefnumsCarryAPathCopyAndTheFile) {
  Owned p(P("x"));
  FileRef fake = reinterpret_cast<FileRef>(0x1234);
  FileRefnum r = 0;
  ASSERT_EQ(FNewRefNum(p, fake, &r), kNoErr);
  EXPECT_TRUE(FIsARefNum(r));
  EXPECT_TRUE(FPIsARefnum(r, kRefnumDatalog, 0));
  FileRef f = nullptr;
  EXPECT_EQ(FRefNumToFD(r, &f), kNoErr);
  EXPECT_EQ(f, fake);
  int32 rec = -1;
  EXPECT_EQ(FRefNumGetRecord(r, &rec), kNoErr);
  EXPECT_EQ(rec, 0) << "the current record starts at 0";
  Owned out(FEmptyPath(nullptr));
  ASSERT_EQ(FRefNumToPath(r, out), kNoErr);
  EXPECT_EQ(FPathCmp(out, p), 0);
  Path made = nullptr;
  ASSERT_EQ(FPRefnumToPath(r, &made), kNoErr);
  EXPECT_EQ(FPathCmp(made, p), 0);
  // Disposing the record leaves the file to its owner.
  EXPECT_EQ(FDisposeRefNum(r), kNoErr);
  EXPECT_FALSE(FIsARefNum(r));
  EXPECT_EQ(FDisposeRefNum(r), kArgErr);
  EXPECT_EQ(FDisposeRefNum(0), kArgErr);
  EXPECT_EQ(FRefNumToFD(r, &f), kArgErr);
  EXPECT_EQ(f, nullptr);
  EXPECT_EQ(FRefNumToPath(r, out), kArgErr);
  EXPECT_FALSE(FIsAPath(out));
  EXPECT_EQ(FPRefnumToPath(r, &made), kNoErr) << "not a refnum: not-a-path and 0";
  EXPECT_FALSE(FIsAPath(made));
  FDisposePath(made);
}

TEST_F(FileRefnumTest, AFailedRefnumKeepsNothing) {
  Owned p(P("x"));
  FileRefnum r = 77;
  MemFailNthAllocation(1);
  EXPECT_EQ(FNewRefNum(p, nullptr, &r), kMemFullErr);
  MemFailNthAllocation(0);
  MemFullReset();
  EXPECT_EQ(r, 0u);
  MemFailNthAllocation(2);
  EXPECT_EQ(FNewRefNum(p, nullptr, &r), kMemFullErr) << "the path copy fails";
  MemFailNthAllocation(0);
  MemFullReset();
  EXPECT_EQ(r, 0u);
}

Bool32 Yes(uInt32 v) { return v == 42; }

TEST_F(FileRefnumTest, TheRefnumTestOfEveryKind) {
  FileRefnum file = Create("k");
  struct Case {
    uInt32 value;
    int32 kind, subKind;
    bool expect;
  } before[] = {
      {file, 0, 0, false}, {file, 1, 0, true},  {file, 2, 0, true},  {file + 1, 2, 0, false}, {0, 3, 0, false},
      {5, 3, 0, true},     {9, 4, 0, true},     {42, 5, 0, false},   {42, 6, 0, false},       {42, 7, 0, false},
      {42, 8, 1, false},   {42, 8, 2, false},   {42, 9, 0, false},   {42, 10, 0, false},
  };
  for (const Case& c : before) EXPECT_EQ(FPIsARefnum(c.value, c.kind, c.subKind) != 0, c.expect) << c.kind;
  // The jars of the other layers answer once they are there.
  RefnumKindHooks k{};
  k.isNetConnection = k.isVisaSession = k.isAutomationRefnum = k.isAppRefnum = k.isVIRefnum = &Yes;
  SetRefnumKindHooks(&k);
  FileShellHooks s{};
  s.isMenuRefnum = &Yes;
  SetFileShellHooks(&s);
  for (int32 kind : {5, 6, 7, 9, 10}) {
    EXPECT_TRUE(FPIsARefnum(42, kind, 0)) << kind;
    EXPECT_FALSE(FPIsARefnum(41, kind, 0)) << kind;
  }
  EXPECT_TRUE(FPIsARefnum(42, 8, 1));
  EXPECT_TRUE(FPIsARefnum(42, 8, 2));
  EXPECT_FALSE(FPIsARefnum(0, 6, 0)) << "a session is never 0";
  // Bad kinds and subkinds are assertions and false.
  ClearReports();
  EXPECT_FALSE(FPIsARefnum(42, 8, 3));
  EXPECT_FALSE(FPIsARefnum(42, 11, 0));
  EXPECT_FALSE(FPIsARefnum(42, -1, 0));
  EXPECT_EQ(qxtest::Reports::Get().Count("FPIsARefnum"), 3);
}

TEST_F(FileRefnumTest, OpenCreateAndCloseCycle) {
  FileRefnum r = Create("new");
  ASSERT_NE(r, 0u);
  ASSERT_EQ(WriteStr(r, "data"), kNoErr);
  ASSERT_EQ(RTFPClose(r), kNoErr);
  EXPECT_FALSE(FIsARefNum(r));
  EXPECT_EQ(Get("new"), "data");
  // Create without replace fails on an existing file, with replace empties it.
  EXPECT_EQ(Create("new", false, kDupPathErr), 0u);
  EXPECT_EQ(Get("new"), "data");
  r = Create("new", true);
  ASSERT_NE(r, 0u);
  EXPECT_EQ(Get("new"), "");
  ASSERT_EQ(RTFPClose(r), kNoErr);
  // Deny modes hold between opens; the close releases them.
  r = Open("new", kAccessReadWrite, kDenyReadWrite);
  Open("new", kAccessRead, kDenyNone, kFilePermErr);
  ASSERT_EQ(RTFPClose(r), kNoErr);
  EXPECT_NE(Open("new", kAccessRead, kDenyNone), 0u);
  // The path of a refnum.
  r = Open("new");
  Path made = nullptr;
  ASSERT_EQ(FPRefnumToPath(r, &made), kNoErr);
  Owned expect(P("new"));
  EXPECT_EQ(FPathCmp(made, expect), 0);
  FDisposePath(made);
}

TEST_F(FileRefnumTest, OpenAndCreateRefuseBadArguments) {
  Put("f", "x");
  Owned p(P("f")), nap(FNotAPath(nullptr));
  struct Case {
    Path path;
    int32 access, deny;
  } cases[] = {{nap, 0, 0}, {nullptr, 0, 0}, {p, -1, 0}, {p, 4, 0}, {p, 0, -1}, {p, 0, 3}};
  for (const Case& c : cases) {
    FileRefnum r = 99;
    EXPECT_EQ(RTFPOpen(c.path, c.access, c.deny, nullptr, 0, &r, 0), kArgErr);
    EXPECT_EQ(r, 0u);
  }
  FileRefnum r = 99;
  Owned q(P("g"));
  EXPECT_EQ(RTFPNewFile(q, 3, nullptr, 0, 0, nullptr, &r, 0), kArgErr);
  EXPECT_EQ(RTFPNewFile(nap, 0, nullptr, 0, 0, nullptr, &r, 0), kArgErr);
  LStrHandle bad = NewString("");
  (*bad)->cnt = -1;
  EXPECT_EQ(RTFPNewFile(q, 0, bad, 0, 0, nullptr, &r, 0), kArgErr);
  EXPECT_EQ(r, 0u);
  EXPECT_FALSE(Exists("g"));
  (*bad)->cnt = 0;
  Dispose(bad);
  Owned missing(P("none"));
  EXPECT_EQ(RTFPOpen(missing, 0, 0, nullptr, 0, &r, 0), kFileNotFoundErr);
}

// ---- The datalog branches ----------------------------------------------------------------

int32 gVersion = 3;
MgErr gConvertErr = kNoErr;
int32 gConverted = 0;
MgErr Check(FileRef, const TypeDescriptor*, int32* version) {
  *version = gVersion;
  return kNoErr;
}
MgErr Convert(FileRefnum, int32, int32) {
  ++gConverted;
  return gConvertErr;
}
int32 gAnswer = 1;
std::string gAsked;
int32 Ask(int32 kind, const void* message, ConstPStr button1, ConstPStr, int32, int32, int32) {
  EXPECT_EQ(kind, 53);
  const uChar* m = static_cast<const uChar*>(message);
  gAsked = std::string(reinterpret_cast<const char*>(m + 1), m[0]) + "|" +
           std::string(reinterpret_cast<const char*>(button1 + 1), button1[0]);
  return gAnswer;
}

class DatalogOpenTest : public FileRefnumTest {
 protected:
  void SetUp() override {
    FileRefnumTest::SetUp();
    gVersion = 3;
    gConvertErr = kNoErr;
    gConverted = 0;
    gAnswer = 1;
    gAsked.clear();
    DatalogProcs d{};
    d.checkType = &Check;
    d.convert = &Convert;
    SetDatalogProcs(&d);
    FileShellHooks s{};
    s.twoButtonAlert = &Ask;
    SetFileShellHooks(&s);
    Put("log", "old datalog");
    rec_ = std::make_unique<TDHandle>(tdb::I32());
  }
  void TearDown() override {
    rec_.reset();
    FileRefnumTest::TearDown();
  }
  // The file can be opened exclusively: nothing else holds it.
  void ExpectFree() {
    FileRefnum r = Open("log", kAccessReadWrite, kDenyReadWrite);
    EXPECT_NE(r, 0u);
    if (r) RTFPClose(r);
  }
  std::unique_ptr<TDHandle> rec_;
};

TEST_F(DatalogOpenTest, AVersionTwoDatalogGivesMinusOneAndALiveRefnum) {
  gVersion = 2;
  Owned p(P("log"));
  FileRefnum r = 0;
  ASSERT_EQ(RTFPOpen(p, 0, 0, rec_->h(), 0, &r, 0), -1);
  ASSERT_TRUE(FIsARefNum(r));
  EXPECT_EQ(RTFPOpen(p, 0, 0, rec_->h(), 0, &r, 1), kNoErr) << "the conversion step";
  EXPECT_EQ(gConverted, 1);
  EXPECT_TRUE(FIsARefNum(r));
  ASSERT_EQ(RTFPClose(r), kNoErr);
  ExpectFree();
}

TEST_F(DatalogOpenTest, AFailedConversionClosesTheFile) {
  gVersion = 2;
  gConvertErr = kFileIOErr;
  Owned p(P("log"));
  FileRefnum r = 0;
  ASSERT_EQ(RTFPOpen(p, 0, 0, rec_->h(), 0, &r, 0), -1);
  const FileRefnum old = r;
  EXPECT_EQ(RTFPOpen(p, 0, 0, rec_->h(), 0, &r, 1), kFileIOErr);
  EXPECT_EQ(r, 0u);
  EXPECT_FALSE(FIsARefNum(old));
  ExpectFree();
  // The same through the asking open.
  r = 5;
  EXPECT_EQ(OpenDatalogAsk(p, 0, 0, rec_->h(), 0, &r), kFileIOErr);
  EXPECT_EQ(r, 0u);
  ExpectFree();
}

TEST_F(DatalogOpenTest, TheAskingOpenShowsTheQuestionAndHonoursCancel) {
  gVersion = 2;
  Owned p(P("log"));
  FileRefnum r = 0;
  ASSERT_EQ(OpenDatalogAsk(p, 0, 0, rec_->h(), 0, &r), kNoErr);
  EXPECT_NE(gAsked.find("The datalog \"F:\\log\" must be converted to the current format.  This will prevent "
                        "earlier versions of Quenlix from reading it.|Convert"),
            std::string::npos)
      << gAsked;
  EXPECT_EQ(gConverted, 1);
  ASSERT_TRUE(FIsARefNum(r));
  RTFPClose(r);
  gAnswer = 2;
  r = 9;
  EXPECT_EQ(OpenDatalogAsk(p, 0, 0, rec_->h(), 0, &r), kCancelErr);
  EXPECT_EQ(r, 0u);
  EXPECT_EQ(gConverted, 1);
  ExpectFree();
  // A current datalog opens without a question.
  gVersion = 3;
  gAsked.clear();
  ASSERT_EQ(OpenDatalogAsk(p, 0, 0, rec_->h(), 0, &r), kNoErr);
  EXPECT_TRUE(gAsked.empty());
  RTFPClose(r);
}

TEST_F(DatalogOpenTest, ATypeCheckFailureClosesTheFile) {
  SetDatalogProcs(nullptr);  // without the datalog functions every check fails
  Owned p(P("log"));
  FileRefnum r = 3;
  EXPECT_NE(RTFPOpen(p, 0, 0, rec_->h(), 0, &r, 0), kNoErr);
  EXPECT_EQ(r, 0u);
  ExpectFree();
}

// ---- Registration with the running VI -------------------------------------------------------

class RunningVITest : public FileRefnumTest {
 protected:
  void SetUp() override {
    FileRefnumTest::SetUp();
    qxexectest::StartThreadManagers();
    qxexectest::ClearExecKeys();
    ThSetTestProcessorCount(2);
    qxexectest::OnlySlots({});
    ASSERT_EQ(InitExec(), kNoErr);
    ctx_ = ExecContextAt(0);
    top_ = std::make_unique<qxcodetest::CodeDS>(1, 0, 1);
    (*top_)->entrance.owner = &top_->run();
    (*top_)->busy = 1;
  }
  void TearDown() override {
    if (ctx_) ctx_->current.store(nullptr);
    RunCleanupProcs(nullptr);
    DisposeCleanupList();
    if (top_) (*top_)->entrance.owner = nullptr;
    top_.reset();
    if (ExecInitialised()) FinishExec();
    ThSetTestProcessorCount(0);
    qxexectest::ClearExecKeys();
    FileRefnumTest::TearDown();
  }
  ExecContext* ctx_ = nullptr;
  std::unique_ptr<qxcodetest::CodeDS> top_;
};

TEST_F(RunningVITest, AnOpenRefnumIsClosedWhenItsTopLevelVIStops) {
  Put("held", "x");
  ctx_->current.store(&top_->own());
  FileRefnum opened = Open("held", kAccessReadWrite, kDenyReadWrite);
  FileRefnum made = Create("made", false, kNoErr, kDenyReadWrite);
  FileRefnum closed = Create("closed");
  ctx_->current.store(nullptr);
  ASSERT_TRUE(FIsARefNum(opened) && FIsARefNum(made) && FIsARefNum(closed));
  EXPECT_EQ(CleanupProcCount(), 3);
  ASSERT_EQ(RTFPClose(closed), kNoErr);
  EXPECT_EQ(CleanupProcCount(), 2) << "the close removes its registration";
  RunCleanupProcs(top_->handle());
  EXPECT_FALSE(FIsARefNum(opened));
  EXPECT_FALSE(FIsARefNum(made));
  EXPECT_EQ(CleanupProcCount(), 0);
  EXPECT_NE(Open("held", kAccessReadWrite, kDenyReadWrite), 0u) << "the file was closed";
}

// ---- The run-time table ------------------------------------------------------------------------

using qxtest::CallAsCompiledCode;
using rttest::Routine;
using rttest::Word;

TEST_F(FileRefnumTest, TheFunctionsStandInTheTableAndAreExportedByName) {
  const rttest::TableStart& start = rttest::StartRunTimeTable();
  ASSERT_EQ(start.rtlib, kNoErr);
  struct Case {
    int32 index;
    const char* name;
    QXRTRoutine routine;
  } cases[] = {
      {812, "FPAccessRights", Routine(&FPAccessRights)}, {813, "FPArrToPath", Routine(&FPArrToPath)},
      {814, "FPBuildPath", Routine(&FPBuildPath)},       {815, "RTFPClose", Routine(&RTFPClose)},
      {816, "FPCopy", Routine(&FPCopy)},                 {817, "FPDelete", Routine(&FPDelete)},
      {818, "FPEOF", Routine(&FPEOF)},                   {819, "FPFileOrFolderInfo", Routine(&FPFileOrFolderInfo)},
      {820, "FPFlush", Routine(&FPFlush)},               {821, "FPDefaultFolder", Routine(&FPDefaultFolder)},
      {822, "FPListFolder", Routine(&FPListFolder)},     {823, "FPLockRange", Routine(&FPLockRange)},
      {824, "FPMove", Routine(&FPMove)},                 {825, "RTFPNewFile", Routine(&RTFPNewFile)},
      {826, "FPNewFolder", Routine(&FPNewFolder)},       {827, "RTFPOpen", Routine(&RTFPOpen)},
      {828, "FPPathToArr", Routine(&FPPathToArr)},       {829, "FPPathType", Routine(&FPPathType)},
      {830, "FPRead", Routine(&FPRead)},                 {831, "FPRefnumToPath", Routine(&FPRefnumToPath)},
      {833, "FPSeek", Routine(&FPSeek)},                 {834, "FPStripPath", Routine(&FPStripPath)},
      {835, "FPVIPath", Routine(&FPVIPath)},             {836, "FPVILib", Routine(&FPVILib)},
      {837, "FPVolumeInfo", Routine(&FPVolumeInfo)},     {838, "FPWrite", Routine(&FPWrite)},
      {839, "DateLStr", Routine(&DateLStr)},             {840, "TimeLStr", Routine(&TimeLStr)},
      {886, "FPIsARefnum", Routine(&FPIsARefnum)},       {1057, "FIsARefNum", Routine(&FIsARefNum)},
      {1058, "FNewRefNum", Routine(&FNewRefNum)},        {1059, "FDisposeRefNum", Routine(&FDisposeRefNum)},
      {1060, "FRefNumToFD", Routine(&FRefNumToFD)},      {1061, "FRefNumToPath", Routine(&FRefNumToPath)},
      {1062, "FArrToPath", Routine(&FArrToPath)},        {1063, "FPathToArr", Routine(&FPathToArr)},
      {1070, "FPTypeAndCreator", Routine(&FPTypeAndCreator)}, {1086, "FPReadConvert", Routine(&FPReadConvert)},
      {1093, "FPTmpDir", Routine(&FPTmpDir)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(QXRTTable[c.index], c.routine) << c.name;
    EXPECT_STREQ(QXRTEntryName(c.index), c.name);
    EXPECT_EQ(Routine(dlsym(RTLD_DEFAULT, c.name)), c.routine) << c.name;
  }
  for (const char* name : {"FRefNumJarCreate", "FRefNumJarDispose", "OpenDatalogAsk", "FPCheckAvail",
                           "NewPostedEvtHandle", "RTFPCloseProc"})
    EXPECT_NE(dlsym(RTLD_DEFAULT, name), nullptr) << name;
}

TEST_F(FileRefnumTest, CompiledCodeOpensWritesReadsAndClosesThroughTheTable) {
  ASSERT_EQ(rttest::StartRunTimeTable().rtlib, kNoErr);
  Put("cc", "");
  Owned p(P("cc"));
  FileRefnum r = 0;
  auto check = [](const qxtest::CallResult& res, MgErr err) {
    EXPECT_EQ(res.eax, uInt32(err));
    EXPECT_EQ(res.espAfter, res.espBefore);
  };
  check(CallAsCompiledCode(QXRTTable[827], {Word(p.p), 0, 2, 0, 0, Word(&r), 0}), kNoErr);
  ASSERT_TRUE(FIsARefNum(r));
  LStrHandle s = NewString("compiled");
  int32 pos = 0;
  check(CallAsCompiledCode(QXRTTable[838], {r, 0, 0, 0, 0, Word(string_->h()), 0, Word(&s), 0, Word(&pos)}),
        kNoErr);
  EXPECT_EQ(pos, 8);
  LStrHandle back = nullptr;
  const int32 count = 100;
  check(CallAsCompiledCode(QXRTTable[830],
                           {r, 0, 0, 0, 2, Word(&count), 0, 0, Word(&back), 0, 0, 0, Word(&pos)}),
        kEOFErr);
  EXPECT_EQ(Text(back), "mpiled");
  check(CallAsCompiledCode(QXRTTable[815], {r}), kNoErr);
  EXPECT_FALSE(FIsARefNum(r));
  Dispose(s);
  Dispose(back);
}

}  // namespace
