// The least datalog file of a VI: records appended, counted, the file kept
// open until closed, a file whose records do not end with it refused, and
// the run commands' hooks filled.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "engine/exec/retrieve.h"
#include "engine/exec/runcmd.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "platform/qx_drives.h"
#include "platform/qx_file.h"
#include "rtlib/datalog.h"
#include "rtlib/filehooks.h"
#include "rtlib/filerefnum.h"
#include "format_test_support.h"
#include "compiled_call.h"
#include "rttable_start.h"
#include "engine/exec/rttable.h"
#include "engine/shellsvc.h"
#include "engine/vi/vihooks.h"
#include "engine/datatype.h"
#include "mgsource/datetime.h"
#include <climits>
#include <thread>
#include "temp_folder.h"
#include "tools/tdbuilder.h"

namespace {

// The scripted shell: the file dialog picks gPick (a name in drive L:), the
// two-button alert answers gAnswer; both record what they were shown.
std::string gPick, gPrompt, gQuestion;
int32 gAnswer = 1, gDialogs = 0, gDialogFlags = 0;
std::string Text(ConstPStr p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }
MgErr PickDialog(int32, int32, ConstPStr prompt, Path path, PStr, ConstPStr, int32 flags) {
  ++gDialogs;
  gPrompt = Text(prompt);
  gDialogFlags = flags;
  const std::string text = "L:\\" + gPick;
  Path p = nullptr;
  if (FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p) != kNoErr) return kArgErr;
  const MgErr err = FPathCpy(path, p);
  FDisposePath(p);
  return err;
}
int32 Ask(int32, const void* message, ConstPStr, ConstPStr, int32, int32, int32) {
  gQuestion = Text(static_cast<ConstPStr>(message));
  return gAnswer;
}
// Extension tables: "log" files are datalogs, "qlb" VI libraries.
void SetExtensions() {
  const char entries[2][8] = {{'Q', 'X', 'D', 'L', 'l', 'o', 'g', 0}, {'Q', 'X', 'A', 'R', 'q', 'l', 'b', 0}};
  UHandle h = AZNewHClr(4 + sizeof entries);
  const int32 n = 2;
  std::memcpy(*h, &n, 4);
  std::memcpy(*h + 4, entries, sizeof entries);
  FSetResExt(h, nullptr);
}

class BoundaryDatalog : public qxtest::EngineTest {
 public:
  void SetUp() override {
    EngineTest::SetUp();
    static std::once_flag once;
    std::call_once(once, [] { ASSERT_EQ(FInitFileMgr(), kNoErr); });
    ASSERT_EQ(FRefNumJarCreate(), kNoErr);  // the log opens through a refnum
    vi_ = DSNewHClr(kVIHeaderSize);
    ASSERT_NE(vi_, nullptr);
    VI()->viKind = kVIKindDatalog;
    VI()->logRecord = AZNewHClr(sizeof(DatalogBindingRec));
    // The record: a cluster of two 32-bit integers.
    const std::vector<uChar> td = tdb::Cluster({tdb::I32(), tdb::I32()}).Bytes();
    UHandle tdh = AZNewHandle(int32(td.size()));
    std::memcpy(*tdh, td.data(), td.size());
    Rec()->recordTD = tdh;
    Rec()->recordData = AZNewHClr(8);
    // The folder is drive L: of the system's paths.
    ASSERT_EQ(PlatDriveMap('L', folder_.Dir().c_str(), kPlatDriveFixed), 0);
    file_ = folder_.Dir() + "/panel.log";
    SetPath("panel.log");
  }
  void TearDown() override {
    CloseLogFile(vi_);
    SetLogDeletionMarks(vi_, nullptr, 0);
    if (Rec()->logPath) FDisposePath(Rec()->logPath);
    AZDisposeHandle(Rec()->recordTD);
    AZDisposeHandle(Rec()->recordData);
    AZDisposeHandle(VI()->logRecord);
    DSDisposeHandle(vi_);
    PlatDriveMap('L', nullptr, 0);
    EngineTest::TearDown();
  }
  VIRecord* VI() { return reinterpret_cast<VIRecord*>(*vi_); }
  DatalogBindingRec* Rec() { return reinterpret_cast<DatalogBindingRec*>(*VI()->logRecord); }
  // The log path: a file of the folder, or the not-a-path value for "".
  void SetPath(const std::string& name) {
    if (Rec()->logPath) FDisposePath(Rec()->logPath);
    Path p = nullptr;
    if (name.empty()) {
      p = FNotAPath(nullptr);
    } else {
      const std::string text = "L:\\" + name;
      ASSERT_EQ(FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p), kNoErr);
    }
    Rec()->logPath = p;
  }
  void SetValues(int32 a, int32 b) {
    PutNative32(*Rec()->recordData, uInt32(a));
    PutNative32(*Rec()->recordData + 4, uInt32(b));
  }
  std::vector<uChar> FileBytes() const {
    std::ifstream in(file_, std::ios::binary);
    return std::vector<uChar>(std::istreambuf_iterator<char>(in), {});
  }
  // Logs records (i, 10 * i) for i = 0 ... n - 1 and closes the file.
  void LogRecords(int32 n) {
    for (int32 i = 0; i < n; ++i) {
      SetValues(i, 10 * i);
      ASSERT_EQ(WriteDatalogRecord(vi_, 0), kNoErr);
    }
  }
  // The first value of each record in the file.
  std::vector<int32> Logged() const {
    const std::vector<uChar> b = FileBytes();
    const size_t start = 16 + tdb::Cluster({tdb::I32(), tdb::I32()}).Bytes().size();
    std::vector<int32> v;
    for (size_t at = start; at + 8 <= b.size(); at += 8) v.push_back(int32(GetBE32(&b[at])));
    return v;
  }
  std::vector<uChar> Marks() {
    std::vector<uChar> m;
    LogDeletionMarks(vi_, &m);
    return m;
  }
  size_t FilesInFolder() const {
    return size_t(std::distance(std::filesystem::directory_iterator(folder_.Dir()), {}));
  }
  TempFolder folder_{"qxdatalog"};
  std::string file_;
  UHandle vi_ = nullptr;
};

TEST_F(BoundaryDatalog, RecordsAreAppendedFlatAndCounted) {
  SetValues(1, 2);
  ASSERT_EQ(WriteDatalogRecord(vi_, 1), kNoErr);
  EXPECT_TRUE(LogFileOpen(vi_)) << "the file stays open between records";
  SetValues(-3, 0x01020304);
  ASSERT_EQ(WriteDatalogRecord(vi_, 0), kNoErr);
  EXPECT_EQ(DatalogRecordCount(vi_), 2);
  CloseLogFile(vi_);
  EXPECT_FALSE(LogFileOpen(vi_));
  // The header {"DTLG", 3, 2, 0}, the record type in file order, then the
  // records in their flat (big-endian) form, without an index.
  std::vector<uChar> want = {'D', 'T', 'L', 'G', 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 0};
  const std::vector<uChar> td = tdb::Cluster({tdb::I32(), tdb::I32()}).Bytes(tdb::Order::kFile);
  want.insert(want.end(), td.begin(), td.end());
  const std::vector<uChar> records = {0, 0, 0, 1, 0, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFD, 1, 2, 3, 4};
  want.insert(want.end(), records.begin(), records.end());
  EXPECT_EQ(FileBytes(), want);

  // Counting again reads the file: the count comes back after it was lost.
  Rec()->word4 = 77;
  UpdateLogRecordCount(vi_);
  EXPECT_EQ(DatalogRecordCount(vi_), 2);
  EXPECT_FALSE(LogFileOpen(vi_)) << "closed again: this call opened it";
  // An open file is counted and stays open.
  ASSERT_EQ(WriteDatalogRecord(vi_, 1), kNoErr);
  UpdateLogRecordCount(vi_);
  EXPECT_EQ(DatalogRecordCount(vi_), 3);
  EXPECT_TRUE(LogFileOpen(vi_));
}

TEST_F(BoundaryDatalog, AFileThatIsNotADatalogOfTheRecordTypeIsIncompatible) {
  {
    std::ofstream out(file_, std::ios::binary);
    const char bytes[] = {0, 0, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 9, 1};
    out.write(bytes, sizeof bytes);
  }
  const std::vector<uChar> before = FileBytes();
  EXPECT_EQ(WriteDatalogRecord(vi_, 1), kDatalogIncompatibleErr);
  EXPECT_EQ(FileBytes(), before) << "nothing written";
  EXPECT_FALSE(LogFileOpen(vi_));
  EXPECT_EQ(RunStartLogCheck(vi_), kDatalogIncompatibleErr);
  UpdateLogRecordCount(vi_);
  EXPECT_EQ(DatalogRecordCount(vi_), 0);
}

TEST_F(BoundaryDatalog, OpeningOnlyCreatesTheFileAndLeavesItClosed) {
  EXPECT_EQ(RunStartLogCheck(vi_), kNoErr);
  EXPECT_FALSE(LogFileOpen(vi_));
  EXPECT_EQ(FileBytes().size(), 16 + tdb::Cluster({tdb::I32(), tdb::I32()}).Bytes().size()) << "a new datalog";
  // keepOpen 0 closes the file it opened; an open file is left open by the check.
  ASSERT_EQ(WriteDatalogRecord(vi_, 0), kNoErr);
  EXPECT_FALSE(LogFileOpen(vi_));
  ASSERT_EQ(WriteDatalogRecord(vi_, 1), kNoErr);
  EXPECT_EQ(RunStartLogCheck(vi_), kNoErr);
  EXPECT_TRUE(LogFileOpen(vi_));
}

TEST_F(BoundaryDatalog, WithoutAUsableBindingNothingIsLogged) {
  struct Case {
    const char* what;
    MgErr want;
    void (*prepare)(BoundaryDatalog*);
  };
  const Case cases[] = {
      // The file dialog, not there in tests, is cancelled.
      {"no log path", kCancelErr, [](BoundaryDatalog* t) { t->SetPath(""); }},
      {"a folder that does not exist", kCancelErr,
       [](BoundaryDatalog* t) { t->SetPath("none\\panel.log"); }},
      {"a buffer shorter than the record", kNothingToLogErr,
       [](BoundaryDatalog* t) { ASSERT_EQ(AZSetHandleSize(t->Rec()->recordData, 4), kNoErr); }},
      {"a record type without data", kNothingToLogErr,
       [](BoundaryDatalog* t) {
         const std::vector<uChar> td = tdb::Cluster({}).Bytes();
         ASSERT_EQ(AZSetHandleSize(t->Rec()->recordTD, int32(td.size())), kNoErr);
         std::memcpy(*t->Rec()->recordTD, td.data(), td.size());
       }},
      {"not a VI of kind 2", kNothingToLogErr, [](BoundaryDatalog* t) { t->VI()->viKind = kVIKindDialog; }},
  };
  for (const Case& c : cases) {
    // A fresh VI for each case.
    TearDown();
    SetUp();
    c.prepare(this);
    EXPECT_EQ(WriteDatalogRecord(vi_, 1), c.want) << c.what;
    EXPECT_FALSE(LogFileOpen(vi_)) << c.what;
  }
  EXPECT_EQ(WriteDatalogRecord(nullptr, 1), kNothingToLogErr);
  EXPECT_EQ(DatalogPath(nullptr), nullptr);
  CloseLogFile(nullptr);  // nothing open: nothing happens
  UpdateLogRecordCount(nullptr);
}

TEST_F(BoundaryDatalog, ClearingTheLogPathClosesTheFileAndReportsTheChange) {
  ASSERT_EQ(WriteDatalogRecord(vi_, 1), kNoErr);
  ASSERT_TRUE(LogFileOpen(vi_));
  qxtest::Reports::Get().Clear();
  ClearLogPath(vi_);
  EXPECT_FALSE(LogFileOpen(vi_));
  EXPECT_EQ(DatalogPath(vi_), nullptr);
  EXPECT_FALSE(FIsAPath(Rec()->logPath));
  EXPECT_EQ(DatalogRecordCount(vi_), 0);
  EXPECT_EQ(qxtest::Reports::Get().Count("Doc Mod in RT!!!!!"), 1);
  EXPECT_EQ(qxtest::Reports::Get().Count("modMask 10001000"), 1);
  EXPECT_EQ(FileBytes().size(), 16 + tdb::Cluster({tdb::I32(), tdb::I32()}).Bytes().size() + 8) << "the file itself stays";
  ClearLogPath(nullptr);
}

TEST_F(BoundaryDatalog, TheRunCommandsReachTheLogThroughTheirHooks) {
  const RunCmdHooks saved = RunCmd();
  const VILoadPanelHooks savedLoad = VILoadPanel();
  RTLibInstallDatalogHooks();
  EXPECT_EQ(VILoadPanel().updateLogRecordCount, &UpdateLogRecordCount);
  const RunCmdHooks& h = RunCmd();
  ASSERT_TRUE(h.writeDatalogRecord && h.closeLogFile && h.logFileOpen && h.logPath);
  EXPECT_EQ(h.clearLogPath, &ClearLogPath);
  EXPECT_EQ(h.writeDatalogRecord(vi_, 1, 1), kNoErr);
  EXPECT_FALSE(h.logFileOpen(vi_)) << "opening only";
  EXPECT_EQ(h.writeDatalogRecord(vi_, 1, 0), kNoErr);
  EXPECT_FALSE(h.logFileOpen(vi_)) << "the completion step does not keep the file open";
  EXPECT_EQ(DatalogRecordCount(vi_), 1);
  ASSERT_EQ(WriteDatalogRecord(vi_, 1), kNoErr);
  EXPECT_EQ(h.writeDatalogRecord(vi_, 1, 1), kNoErr);
  EXPECT_TRUE(h.logFileOpen(vi_)) << "the check closes only what it opened";
  h.closeLogFile(vi_);
  EXPECT_FALSE(h.logFileOpen(vi_));
  EXPECT_EQ(h.logPath(vi_), Rec()->logPath);
  // Retrieval mode's side: the log, its count and the marks.
  const RetrieveLogHooks& log = RetrieveLog();
  ASSERT_TRUE(log.openLog && log.closeLog && log.recordCount && log.newMarks && log.anyMarked && log.disposeMarks);
  EXPECT_EQ(log.purge, &PurgeData);
  EXPECT_EQ(log.showRecord, &RetrieveShowRecord);
  ASSERT_EQ(log.openLog(vi_), kNoErr);
  EXPECT_TRUE(LogFileOpen(vi_));
  EXPECT_EQ(log.recordCount(vi_), 2);
  ASSERT_EQ(log.newMarks(vi_), kNoErr);
  EXPECT_EQ(Marks(), std::vector<uChar>(2, 0));
  EXPECT_FALSE(log.anyMarked(vi_));
  const uChar one[] = {0, 1};
  SetLogDeletionMarks(vi_, one, 2);
  EXPECT_TRUE(log.anyMarked(vi_));
  log.disposeMarks(vi_);
  EXPECT_TRUE(Marks().empty());
  log.closeLog(vi_);
  EXPECT_FALSE(LogFileOpen(vi_));
  SetPath("");
  EXPECT_EQ(h.logPath(vi_), nullptr) << "the not-a-path value is no path";
  SetRunCmdHooks(&saved);
  SetVILoadPanelHooks(&savedLoad);
  SetRetrieveLogHooks(nullptr);
}

TEST_F(BoundaryDatalog, AnUnsuitableLogPathIsPutToTheOperator) {
  FileShellHooks shell{};
  shell.fileDialog = &PickDialog;
  shell.twoButtonAlert = &Ask;
  SetFileShellHooks(&shell);
  SetExtensions();
  std::memcpy(VI()->name, "\x04Pump", 5);
  ASSERT_TRUE(std::filesystem::create_directory(folder_.Dir() + "/sub"));
  { std::ofstream(folder_.Dir() + "/notes.txt") << "x"; }
  struct Case {
    const char* pick;
    int32 answer;
    bool asked;
    MgErr want;
  };
  const Case cases[] = {
      {"data.log", 2, false, kNoErr},  {"sub", 2, true, kUnsuitableLogPathErr},
      {"sub", 1, true, kNoErr},        {"notes.txt", 2, true, kUnsuitableLogPathErr},
      {"lib.qlb", 2, true, kUnsuitableLogPathErr}, {"panel.log", 2, false, kNoErr},
  };
  for (const Case& c : cases) {
    SetPath("panel.log");
    gPick = c.pick;
    gAnswer = c.answer;
    gQuestion.clear();
    gDialogs = 0;
    EXPECT_EQ(CheckDatalogPath(vi_, 1, 0, 1, 0), c.want) << c.pick;
    EXPECT_EQ(gDialogs, 1) << c.pick;
    EXPECT_EQ(gPrompt, "Select a log file for VI Pump");
    EXPECT_EQ(gDialogFlags, kLogDialogAllowNew);
    EXPECT_EQ(gQuestion.empty(), !c.asked) << c.pick;
    if (c.asked) {
      EXPECT_NE(gQuestion.find("refers to an existing directory, VI library or non-datalog file"), std::string::npos);
    }
    const std::string want = "L:\\" + std::string(c.want ? "panel.log" : c.pick);
    EXPECT_EQ(DatalogPath(vi_) ? fmttest::PathText(DatalogPath(vi_)) : "", want) << c.pick;
  }
  // A usable path is kept without a dialog; mustExist asks for a missing file.
  SetPath("panel.log");
  gDialogs = 0;
  EXPECT_EQ(CheckDatalogPath(vi_, 0, 0, 1, 0), kNoErr);
  EXPECT_EQ(gDialogs, 0);
  gPick = "notes.txt";
  gAnswer = 2;
  EXPECT_EQ(CheckDatalogPath(vi_, 0, 1, 0, 0), kUnsuitableLogPathErr);
  EXPECT_EQ(gDialogs, 1);
  EXPECT_EQ(gDialogFlags, kLogDialogExisting);
  // Opening without the path check asks nothing; with it, a log not yet made
  // and not to be created sends the operator to the dialog.
  EXPECT_EQ(OpenLogFile(vi_, 0, 1), kFileNotFoundErr);
  EXPECT_EQ(gDialogs, 1);
  EXPECT_FALSE(LogFileOpen(vi_));
  FSetResExt(nullptr, nullptr);
  SetFileShellHooks(nullptr);
}

TEST_F(BoundaryDatalog, AnOldLogIsConvertedOnlyWhenTheOperatorAgrees) {
  LogRecords(2);
  std::vector<uChar> old = FileBytes();
  old[7] = uChar(kDatalogOldVersion);
  { std::ofstream(file_, std::ios::binary).write(reinterpret_cast<const char*>(old.data()), std::streamsize(old.size())); }
  FileShellHooks shell{};
  shell.twoButtonAlert = &Ask;
  SetFileShellHooks(&shell);
  qxtest::Reports::Get().Clear();
  gAnswer = 2;
  gQuestion.clear();
  EXPECT_EQ(OpenLogFile(vi_, 0, 1), kCancelErr);
  EXPECT_NE(gQuestion.find("must be converted to the current format"), std::string::npos) << gQuestion;
  EXPECT_FALSE(LogFileOpen(vi_));
  EXPECT_EQ(FileBytes(), old) << "declined: the file as it was";
  EXPECT_EQ(qxtest::Reports::Get().Count("Error 43 in OpenLogFile."), 1);
  // The run-start check answers the same.
  EXPECT_EQ(RunStartLogCheck(vi_), kCancelErr);
  gAnswer = 1;
  ASSERT_EQ(OpenLogFile(vi_, 0, 1), kNoErr);
  EXPECT_TRUE(LogFileOpen(vi_));
  EXPECT_EQ(DatalogRecordCount(vi_), 2);
  CloseLogFile(vi_);
  EXPECT_EQ(FileBytes()[7], uChar(kDatalogVersion));
  EXPECT_EQ(Logged(), (std::vector<int32>{0, 1}));
  EXPECT_EQ(FilesInFolder(), 1u);
  SetFileShellHooks(nullptr);
}

TEST_F(BoundaryDatalog, FailuresWriteTheirDebugLines) {
  FileShellHooks shell{};
  shell.fileDialog = [](int32, int32, ConstPStr, Path, PStr, ConstPStr, int32) -> MgErr { return kCancelErr; };
  SetFileShellHooks(&shell);
  uChar ts[8] = {}, panel[8] = {}, error = 0;
  struct Case {
    const char* what;
    MgErr (*call)(UHandle vi, uChar* ts, uChar* panel, uChar* error);
    MgErr want;
    const char* line;
  };
  const Case cases[] = {
      {"a log not made, not created", [](UHandle vi, uChar*, uChar*, uChar*) { return OpenLogFile(vi, 0, 1); },
       kFileNotFoundErr, "Error 7 in OpenLogFile."},
      {"the file dialog cancelled",
       [](UHandle vi, uChar*, uChar*, uChar*) { return CheckDatalogPath(vi, 1, 0, 1, 0); }, kCancelErr,
       "Error 43 in CheckDatalogPath."},
      {"the cancel reaches the open", [](UHandle vi, uChar*, uChar*, uChar*) { return OpenLogFile(vi, 0, 0); },
       kCancelErr, "Error 43 in OpenLogFile."},
      {"a diagram's read of a log not made",
       [](UHandle vi, uChar* t, uChar* p, uChar* e) { return ProgRetrieveRun(vi, t, 0, p, e); }, kFileNotFoundErr,
       "ProgRetrieveRun failed w/ error 7."},
  };
  for (const Case& c : cases) {
    qxtest::Reports::Get().Clear();
    EXPECT_EQ(c.call(vi_, ts, panel, &error), c.want) << c.what;
    EXPECT_EQ(qxtest::Reports::Get().Count(c.line), 1) << c.what;
  }
  EXPECT_EQ(error, 1);
  SetFileShellHooks(nullptr);
}

TEST_F(BoundaryDatalog, PurgingKeepsTheUnmarkedRecordsInOrder) {
  FileShellHooks shell{};
  shell.twoButtonAlert = &Ask;
  SetFileShellHooks(&shell);
  struct Case {
    std::vector<uChar> marks;
    bool keepOpen;
    int32 answer;  // to the question after every record went
    std::vector<int32> left;
    bool fileStays;
  };
  const Case cases[] = {
      {{0, 1, 0, 1, 0}, false, 1, {0, 2, 4}, true},
      {{0, 1, 0, 1, 0}, true, 1, {0, 2, 4}, true},
      {{1, 0}, false, 1, {1, 2, 3, 4}, true},  // records past the marks are unmarked
      {{1, 1, 1, 1, 1}, false, 1, {}, false},  // "Yes" removes the file
      {{1, 1, 1, 1, 1}, true, 2, {}, true},    // "No" keeps it empty
      {{0, 0, 0, 0, 0}, false, 1, {0, 1, 2, 3, 4}, true},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(file_);
    LogRecords(5);
    if (c.keepOpen) {
      ASSERT_EQ(OpenLogFile(vi_, 0, 1), kNoErr);
    }
    SetLogDeletionMarks(vi_, c.marks.data(), int32(c.marks.size()));
    gAnswer = c.answer;
    gQuestion.clear();
    ASSERT_EQ(PurgeData(vi_), kNoErr);
    EXPECT_EQ(gQuestion.empty(), !c.left.empty());
    if (c.left.empty()) {
      EXPECT_EQ(gQuestion, "VI's log file no longer has any records.  Do you want to delete the VI's log file?");
    }
    EXPECT_EQ(std::filesystem::exists(file_), c.fileStays);
    EXPECT_EQ(Logged(), c.left);
    EXPECT_EQ(DatalogRecordCount(vi_), int32(c.left.size()));
    EXPECT_EQ(Marks(), std::vector<uChar>(c.left.size(), 0));
    EXPECT_EQ(LogFileOpen(vi_), c.keepOpen && c.fileStays) << "left open as it was";
    EXPECT_EQ(FilesInFolder(), c.fileStays ? 1u : 0u) << "no temporary file is left";
    CloseLogFile(vi_);
  }
  // Without marks or records nothing is done.
  SetLogDeletionMarks(vi_, nullptr, 0);
  EXPECT_EQ(PurgeData(vi_), kNoErr);
  // Nor while the retrieval field names no record of the log.
  std::filesystem::remove(file_);
  LogRecords(5);
  const std::vector<uChar> all(5, 1);
  SetLogDeletionMarks(vi_, all.data(), 5);
  DatalogUIHooks ui{};
  ui.retrieveFieldText = [](UHandle, PStr t) { t[0] = 1, t[1] = '5'; };
  SetDatalogUIHooks(&ui);
  gQuestion.clear();
  EXPECT_EQ(PurgeData(vi_), kNoErr);
  SetDatalogUIHooks(nullptr);
  EXPECT_EQ(Logged(), (std::vector<int32>{0, 1, 2, 3, 4}));
  EXPECT_EQ(Marks(), all);
  EXPECT_TRUE(gQuestion.empty());
  SetFileShellHooks(nullptr);
}

TEST_F(BoundaryDatalog, APurgeThatFailsLeavesTheLogAndTheMarks) {
  LogRecords(5);
  const std::vector<uChar> marks = {0, 1, 0, 1, 0};
  const std::vector<uChar> before = FileBytes();
  // Every change of the purge fails in turn (the records' writes, the
  // flush, the replace), then a disk that fills part-way.
  bool done = false;
  int failed = 0;
  qxtest::Reports::Get().Clear();
  for (int64_t failAt = 1; failAt < 64 && !done; ++failAt) {
    SetLogDeletionMarks(vi_, marks.data(), int32(marks.size()));
    PlatFileFault fault;
    fault.failAt = failAt;
    PlatFileSetFault(&fault);
    const MgErr err = PurgeData(vi_);
    const int64_t failures = PlatFileFaultFailures();
    PlatFileSetFault(nullptr);
    if (failures == 0) {
      EXPECT_EQ(err, kNoErr);
      done = true;
      break;
    }
    ++failed;
    EXPECT_NE(err, kNoErr) << failAt;
    EXPECT_EQ(FileBytes(), before) << failAt;
    EXPECT_EQ(Marks(), marks) << failAt;
    EXPECT_EQ(FilesInFolder(), 1u) << failAt;
    EXPECT_FALSE(LogFileOpen(vi_));
  }
  EXPECT_TRUE(done);
  EXPECT_GE(failed, 3) << "the writes, the flush and the replace";
  EXPECT_EQ(qxtest::Reports::Get().Count(" in PurgeData."), failed) << "one debug line a failure";
  EXPECT_EQ(Logged(), (std::vector<int32>{0, 2, 4}));
  const std::vector<uChar> after = FileBytes();
  SetLogDeletionMarks(vi_, marks.data(), 3);
  PlatFileFault full;
  full.byteLimit = 40;
  PlatFileSetFault(&full);
  EXPECT_NE(PurgeData(vi_), kNoErr);
  PlatFileSetFault(nullptr);
  EXPECT_EQ(FileBytes(), after);
  EXPECT_EQ(Marks(), std::vector<uChar>(marks.begin(), marks.begin() + 3));
}

TEST_F(BoundaryDatalog, ConcurrentPurgesOfLogsInOneFolderDoNotCollide) {
  LogRecords(6);
  const std::string other = folder_.Dir() + "/other.log";
  std::filesystem::copy_file(file_, other);
  const TypeDescriptor* rec = reinterpret_cast<const TypeDescriptor*>(*Rec()->recordTD);
  const std::vector<uChar> marksA = {1, 0, 1, 0, 1, 0}, marksB = {0, 1, 0, 1, 0, 1};
  MgErr errs[2] = {-1, -1};
  int32 kept[2] = {0, 0};
  auto purge = [&](int k, const char* name, const std::vector<uChar>& marks) {
    Path p = nullptr;
    const std::string text = std::string("L:\\") + name;
    FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p);
    FileRef f = nullptr;
    errs[k] = FMOpen(&f, p, kAccessReadWrite, kDenyWrite);
    if (!errs[k]) {
      errs[k] = DatalogPurge(f, rec, p, marks.data(), int32(marks.size()), &kept[k]);
      FMClose(f);
    }
    FDisposePath(p);
  };
  std::thread a(purge, 0, "panel.log", std::cref(marksA)), b(purge, 1, "other.log", std::cref(marksB));
  a.join();
  b.join();
  EXPECT_EQ(errs[0], kNoErr);
  EXPECT_EQ(errs[1], kNoErr);
  EXPECT_EQ(kept[0], 3);
  EXPECT_EQ(kept[1], 3);
  EXPECT_EQ(Logged(), (std::vector<int32>{1, 3, 5}));
  file_ = other;
  EXPECT_EQ(Logged(), (std::vector<int32>{0, 2, 4}));
  EXPECT_EQ(FilesInFolder(), 2u) << "no temporary file is left";
}

// The scripted VI window of retrieval.
std::string gField, gAlert;
int32 gMark = -1, gShown = -1, gExits = 0;
void FieldText(UHandle, PStr text) {
  text[0] = uChar(gField.size());
  std::memcpy(text + 1, gField.data(), gField.size());
}
void SetFieldText(UHandle, ConstPStr text) { gField = Text(text); }
void ShowMark(UHandle, int32 mark) { gMark = mark; }
MgErr ShowRecord(UHandle, const TypeDescriptor*, const void* data) {
  gShown = int32(GetNative32(data));
  return kNoErr;
}
int32 OneAlert(int32, const void* message, ConstPStr, int32, int32) {
  gAlert = Text(static_cast<ConstPStr>(message));
  return 1;
}
void Exit(UHandle) { ++gExits; }

// Records of {time stamp {uInt32 seconds, uInt16 ms}, panel {int32, int32}}.
class RetrievalDatalog : public BoundaryDatalog {
 public:
  void SetUp() override {
    BoundaryDatalog::SetUp();
    const std::vector<uChar> td =
        tdb::Cluster({tdb::Cluster({tdb::U32(), tdb::U16()}), tdb::Cluster({tdb::I32(), tdb::I32()})}).Bytes();
    ASSERT_EQ(AZSetHandleSize(Rec()->recordTD, int32(td.size())), kNoErr);
    std::memcpy(*Rec()->recordTD, td.data(), td.size());
    const TypeDescriptor* rec = reinterpret_cast<const TypeDescriptor*>(*Rec()->recordTD);
    ts_ = ElemTD(rec, 0);
    panel_ = ElemTD(rec, 1);
    panelAt_ = AlignDatum(panel_, DataSize(ts_));
    ASSERT_EQ(AZSetHandleSize(Rec()->recordData, DataSize(rec)), kNoErr);
    DatalogUIHooks ui{};
    ui.retrieveFieldText = &FieldText;
    ui.setRetrieveFieldText = &SetFieldText;
    ui.showMark = &ShowMark;
    ui.showRecord = &ShowRecord;
    SetDatalogUIHooks(&ui);
    saved_ = VIRun();
    VIRunHooks run = saved_;
    run.exitRetrieveMode = &Exit;
    SetVIRunHooks(&run);
    SetOneButtonAlertProc(&OneAlert);
    gExits = 0;
    gAlert.clear();
  }
  void TearDown() override {
    SetOneButtonAlertProc(nullptr);
    SetVIRunHooks(&saved_);
    SetDatalogUIHooks(nullptr);
    BoundaryDatalog::TearDown();
  }
  // Records i = 0 ... n - 1 with panel {i, 10 * i}, stamped by the clock
  // between first_ and last_ (whole seconds).
  void LogTimed(int32 n) {
    TimeSecsMs now{};
    GetTimeSecsMs(&now);
    first_ = now.secs;
    for (int32 i = 0; i < n; ++i) {
      uChar* d = reinterpret_cast<uChar*>(*Rec()->recordData);
      PutNative32(d + panelAt_, uInt32(i));
      PutNative32(d + panelAt_ + 4, uInt32(10 * i));
      ASSERT_EQ(WriteDatalogRecord(vi_, 0), kNoErr);
    }
    GetTimeSecsMs(&now);
    last_ = now.secs;
  }
  uInt32 first_ = 0, last_ = 0;
  const TypeDescriptor* ts_ = nullptr;
  const TypeDescriptor* panel_ = nullptr;
  int32 panelAt_ = 0;
  VIRunHooks saved_{};
};

int32 gLoaded = -1;
int32 LoggedCount(UHandle) { return gLoaded; }
MgErr CopyControls(UHandle, const TypeDescriptor*, void* panel) {
  PutNative32(panel, 77);
  PutNative32(static_cast<uChar*>(panel) + 4, 770);
  return kNoErr;
}

TEST_F(RetrievalDatalog, ALoadedPanelGivesTheValuesAndMustMatchTheRecord) {
  DatalogUIHooks ui = DatalogUI();
  ui.loggedControlCount = &LoggedCount;
  ui.copyLoggedControls = &CopyControls;
  SetDatalogUIHooks(&ui);
  LogTimed(1);  // not loaded: the data space's values
  const std::vector<uChar> before = FileBytes();
  for (int32 wrong : {1, 3}) {
    gLoaded = wrong;
    EXPECT_EQ(WriteDatalogRecord(vi_, 0), kPanelMismatchErr) << wrong;
    EXPECT_EQ(FileBytes(), before) << "nothing written";
  }
  gLoaded = 2;
  ASSERT_EQ(WriteDatalogRecord(vi_, 0), kNoErr);
  gLoaded = -1;
  uChar ts[16] = {}, panel[16] = {}, error = 0;
  ASSERT_EQ(ProgRetrieveRun(vi_, ts, 1, panel, &error), kNoErr);
  EXPECT_EQ(GetNative32(panel + 4), 770u) << "the panel's values";
  ASSERT_EQ(ProgRetrieveRun(vi_, ts, 0, panel, &error), kNoErr);
  EXPECT_EQ(GetNative32(panel + 4), 0u) << "the data space's values";
}

TEST_F(RetrievalDatalog, DiagramsReadRecordsCountingFromEitherEnd) {
  LogTimed(5);
  struct Case {
    int32 r;
    MgErr want;
    int32 record;  // -1: empty outputs
  };
  const Case cases[] = {{0, kNoErr, 0},  {4, kNoErr, 4},  {-1, kNoErr, 4},        {-5, kNoErr, 0},
                        {5, 4, -1},      {-6, 4, -1},     {INT_MAX, 4, -1},       {INT_MIN, 4, -1}};
  qxtest::Reports::Get().Clear();
  for (const Case& c : cases) {
    uChar ts[16] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}, panel[16] = {0xEE, 0xEE, 0xEE, 0xEE}, error = 7;
    EXPECT_EQ(ProgRetrieveRun(vi_, ts, c.r, panel, &error), c.want) << c.r;
    EXPECT_EQ(error, c.want ? 1 : 0) << c.r;
    const int32 i = c.record;
    // The stamp the clock gave (the ms from 0 to 1000, rounded), or empty.
    const uInt32 secs = GetNative32(ts);
    const uInt16 ms = GetNative16(ts + 4);
    if (i < 0) {
      EXPECT_EQ(secs, 0u) << c.r;
      EXPECT_EQ(ms, 0u) << c.r;
    } else {
      EXPECT_TRUE(secs >= first_ && secs <= last_) << c.r << " " << secs;
      EXPECT_LE(ms, 1000u) << c.r;
    }
    EXPECT_EQ(int32(GetNative32(panel)), i < 0 ? 0 : i) << c.r;
    EXPECT_EQ(int32(GetNative32(panel + 4)), i < 0 ? 0 : 10 * i) << c.r;
  }
  EXPECT_EQ(qxtest::Reports::Get().Count("ProgRetrieveRun failed w/ error 4."), 4);
  // Compiled code reaches it through entry 763.
  ASSERT_EQ(rttest::StartRunTimeTable().rtlib, kNoErr);
  uChar ts[16] = {}, panel[16] = {}, error = 7;
  const qxtest::CallResult res = qxtest::CallAsCompiledCode(
      QXRTTable[763], {rttest::Word(vi_), rttest::Word(ts), uInt32(-2), rttest::Word(panel), rttest::Word(&error)});
  EXPECT_EQ(res.eax, uInt32(kNoErr));
  EXPECT_EQ(res.espAfter, res.espBefore);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(int32(GetNative32(panel + 4)), 30);
}

TEST_F(RetrievalDatalog, TheTypedRecordIsShownOrRetrievalEnds) {
  LogTimed(3);
  const uChar marks[] = {0, 1};
  SetLogDeletionMarks(vi_, marks, 2);
  struct Case {
    const char* typed;
    Bool32 inRange;
    std::string field;  // after reading
    int32 shown, mark;
  };
  const Case cases[] = {
      {"", true, "0", 0, 0},     {"  ", true, "0", 0, 0},  {"1", true, "1", 1, 1},
      {"2", true, "2", 2, 0},    {"3", false, "3", 2, 0},  {"99999999999", false, "99999999999", 2, 0},
      {"-1", false, "-1", 2, 0}, {"x", false, "x", 2, 0},
  };
  for (const Case& c : cases) {
    gField = c.typed;
    int32 n = -7;
    EXPECT_EQ(GetRetrieveRecNum(vi_, &n), c.inRange) << c.typed;
    EXPECT_EQ(gField, c.field) << c.typed;
    gField = c.typed;
    gShown = gMark = -1;
    EXPECT_EQ(RetrieveShowRecord(vi_), kNoErr) << c.typed;
    EXPECT_EQ(gShown, c.shown) << c.typed;
    EXPECT_EQ(gMark, c.mark) << c.typed;
    EXPECT_EQ(gExits, 0);
  }
  // An unreadable record: the log's signature is damaged.  (A log cut short
  // behind its count opens with the records it holds whole.)
  {
    std::fstream f(file_, std::ios::in | std::ios::out | std::ios::binary);
    f.put('X');
  }
  gField = "2";
  EXPECT_NE(RetrieveShowRecord(vi_), kNoErr);
  EXPECT_EQ(gExits, 1);
  EXPECT_EQ(gAlert.rfind("Exiting interactive retrieval mode.  Could not retrieve currently selected record from VI ", 0), 0u)
      << gAlert;
  // An emptied log reads nothing and touches no mark.
  std::filesystem::remove(file_);
  LogTimed(0);
  ASSERT_EQ(RunStartLogCheck(vi_), kNoErr);
  gField = "0";
  gShown = gMark = -1;
  gAlert.clear();
  EXPECT_EQ(RetrieveShowRecord(vi_), kDatalogRangeErr);
  EXPECT_EQ(gShown, -1);
  EXPECT_EQ(gMark, -1);
  EXPECT_EQ(gExits, 2);
  EXPECT_FALSE(gAlert.empty());
}

}  // namespace
