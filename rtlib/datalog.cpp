// A VI's log file for the run commands, on the datalog format.
#include "rtlib/datalog.h"

#include <map>
#include <mutex>
#include <vector>

#include "engine/datatype.h"
#include "engine/exec/runcmd.h"
#include "engine/exec/runcmd_internal.h"
#include "engine/shellsvc.h"
#include "mgsource/debug.h"
#include "mgsource/printf.h"
#include "engine/vi/vifind.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"

namespace {

// The log files open here, by VI.  The run commands call in from the
// user-interface thread; the lock keeps the table whole for any caller.
std::mutex gOpenLock;
std::map<UHandle, FileRef> gOpen;

DatalogBindingRec* Binding(UHandle vi) {
  if (!vi || !*vi) return nullptr;
  const VIRecord* r = reinterpret_cast<const VIRecord*>(*vi);
  UHandle rec = r->viKind == kVIKindDatalog ? r->logRecord : nullptr;
  if (!rec || !*rec || AZGetHandleSize(rec) < int32(sizeof(DatalogBindingRec))) return nullptr;
  return reinterpret_cast<DatalogBindingRec*>(*rec);
}

FileRef OpenRef(UHandle vi) {
  std::lock_guard<std::mutex> g(gOpenLock);
  auto it = gOpen.find(vi);
  return it == gOpen.end() ? nullptr : it->second;
}

// The binding's record type; null when it has none of use.
const TypeDescriptor* RecordType(const DatalogBindingRec* b) {
  if (!b || !b->recordTD || !*b->recordTD) return nullptr;
  const int32 tdBytes = AZGetHandleSize(b->recordTD);
  const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(*b->recordTD);
  return tdBytes >= 4 && td->size >= 4 && td->size <= tdBytes ? td : nullptr;
}

// The VI's name, a Pascal string.
const uChar* VIName(UHandle vi) { return reinterpret_cast<const VIRecord*>(*vi)->name; }

// A text of the run-time resource file formatted with one argument.
void FormatText(int32 list, int32 index, PStr out, const void* arg) {
  Str255 fmt;
  if (!qxrun::ListText(list, index, fmt)) fmt[0] = 0;
  PPrintfp(out, fmt, arg);
}

// Whether the path names something other than a usable datalog file: an
// existing folder, or a file whose extension maps to another type.
bool UnsuitableLogPath(Path path) { return FExists(path) == 2 || HasRezExt(path) != kDatalogFileType; }

// Whether the log path's folder exists and, with mustExist, the file.
bool LogPathUsable(Path path, int32 mustExist) {
  Path dir = FEmptyPath(nullptr);
  const bool folderThere = dir && FDirName(path, dir) == kNoErr && FExists(dir) == 2;
  if (dir) FDisposePath(dir);
  return folderThere && (!mustExist || FExists(path) == 1);
}

// The deletion marks, by VI: one byte per record, non-zero when marked.
std::mutex gMarksLock;
std::map<UHandle, std::vector<uChar>> gMarks;

std::vector<uChar> MarksOf(UHandle vi) {
  std::lock_guard<std::mutex> g(gMarksLock);
  auto it = gMarks.find(vi);
  return it == gMarks.end() ? std::vector<uChar>() : it->second;
}

const DatalogUIHooks kNoDatalogUI{};
DatalogUIHooks gUI{};

}  // namespace

void SetDatalogUIHooks(const DatalogUIHooks* hooks) { gUI = hooks ? *hooks : kNoDatalogUI; }
const DatalogUIHooks& DatalogUI() { return gUI; }

MgErr CheckDatalogPath(UHandle vi, int32 forceChoice, int32 mustExist, int32 allowNew, int32 /*flags*/) {
  if (!Binding(vi)) return kArgErr;
  Path current = DatalogPath(vi);
  if (current && !forceChoice && LogPathUsable(current, mustExist)) return kNoErr;
  Str255 prompt, name = {0};
  FormatText(kLogAlertListId, kLogPromptItem, prompt, VIName(vi));
  Path chosen = FEmptyPath(nullptr);
  if (!chosen) return kMemFullErr;
  MgErr err = kNoErr;
  if (current) {
    err = FDirName(current, chosen);
    if (!err) err = FNamePtr(current, name);
  } else if (gUI.defaultLogName) {
    gUI.defaultLogName(vi, name);
  }
  if (!err)
    err = FileShell().fileDialog(kAlertDefaultPos, kAlertDefaultPos, prompt, chosen, name, nullptr,
                                 allowNew ? kLogDialogAllowNew : kLogDialogExisting);
  if (!err && (!current || FPathCmp(chosen, current) != 0) && UnsuitableLogPath(chosen)) {
    Str255 question;
    FormatText(kLogAlertListId, kLogUnsuitableItem, question, nullptr);
    if (FileShell().twoButtonAlert(kAlertPStr, question, nullptr, nullptr, kAlertDefaultPos, kAlertDefaultPos) != 1)
      err = kUnsuitableLogPathErr;
  }
  if (!err) {
    DatalogBindingRec* b = Binding(vi);
    if (b->logPath && FIsAPathOrNotAPath(b->logPath)) {
      err = FPathCpy(b->logPath, chosen);
    } else {
      b->logPath = chosen;
      chosen = nullptr;
    }
  }
  if (chosen) FDisposePath(chosen);
  if (err) DBPrintf("Error %ld in CheckDatalogPath.", long(err));
  return err;
}

MgErr OpenLogFile(UHandle vi, int32 create, int32 skipPathCheck) {
  if (OpenRef(vi)) return kNoErr;
  DatalogBindingRec* b = Binding(vi);
  const TypeDescriptor* rec = RecordType(b);
  if (!rec || DataSize(rec) <= 0) return kNothingToLogErr;
  MgErr err = skipPathCheck ? kNoErr : CheckDatalogPath(vi, 0, !create, create, 0);
  Path path = DatalogPath(vi);
  if (!err && !path) err = kFileNotFoundErr;
  rec = RecordType(Binding(vi));
  FileRef ref = nullptr;
  int32 version = kDatalogVersion, count = 0;
  if (!err) err = FMOpen(&ref, path, kAccessReadWrite, kDenyWrite);
  if (err == kFileNotFoundErr && create && path) {
    err = FCreate(&ref, path, FGetDefPerm(0666), kAccessReadWrite, kDenyWrite, nullptr);
    if (!err && (err = DatalogCreate(ref, rec)) != kNoErr) {
      FMClose(ref);
      FRemove(path);
      ref = nullptr;
    }
  } else if (!err) {
    err = CheckDatalogType(ref, rec, &version);
    // The previous version is converted by the retrieval side's question.
    if (!err && version != kDatalogVersion) err = kDatalogIncompatibleErr;
  }
  if (!err) err = DatalogCount(ref, rec, &count);
  if (err) {
    if (ref) FMClose(ref);
    DBPrintf("Error %ld in OpenLogFile.", long(err));
    return err;
  }
  if ((b = Binding(vi)) != nullptr) b->word4 = uInt32(count);
  std::lock_guard<std::mutex> g(gOpenLock);
  gOpen[vi] = ref;
  return kNoErr;
}

MgErr WriteDatalogRecord(UHandle vi, int32 keepOpen) {
  DatalogBindingRec* b = Binding(vi);
  const TypeDescriptor* td = RecordType(b);
  if (!td || !b->recordData || !*b->recordData) return kNothingToLogErr;
  const int32 dataSize = DataSize(td);
  if (dataSize <= 0 || AZGetHandleSize(b->recordData) < dataSize) return kNothingToLogErr;
  const bool wasOpen = OpenRef(vi) != nullptr;
  MgErr err = OpenLogFile(vi, 1, 0);
  if (err) return err;
  b = Binding(vi);
  td = RecordType(b);
  int32 count = 0;
  err = DatalogAppend(OpenRef(vi), td, td, *b->recordData, &count);
  if (!wasOpen && !keepOpen) CloseLogFile(vi);
  if (err) return err;
  if ((b = Binding(vi)) != nullptr) b->word4 = uInt32(count);
  return kNoErr;
}

void SetLogDeletionMarks(UHandle vi, const uChar* marks, int32 count) {
  std::lock_guard<std::mutex> g(gMarksLock);
  if (!marks || count <= 0) gMarks.erase(vi);
  else gMarks[vi].assign(marks, marks + count);
}

int32 LogDeletionMarks(UHandle vi, std::vector<uChar>* out) {
  *out = MarksOf(vi);
  return int32(out->size());
}

MgErr PurgeData(UHandle vi) {
  std::vector<uChar> marks = MarksOf(vi);
  const TypeDescriptor* rec = RecordType(Binding(vi));
  if (marks.empty() || !rec || DatalogRecordCount(vi) <= 0) return kNoErr;
  Path path = DatalogPath(vi);
  Path own = path ? FEmptyPath(nullptr) : nullptr;
  MgErr err = !path ? kFileNotFoundErr : !own ? kMemFullErr : FPathCpy(own, path);
  const bool wasOpen = OpenRef(vi) != nullptr;
  if (!err) err = OpenLogFile(vi, 0, 1);
  int32 kept = 0;
  if (!err) err = DatalogPurge(OpenRef(vi), rec, own, marks.data(), int32(marks.size()), &kept);
  if (!err) {
    // The log was replaced: the refnum still reads the old file.
    CloseLogFile(vi);
    if (kept == 0) {
      Str255 question, yes, no;
      FormatText(kLogAlertListId, kLogEmptiedItem, question, nullptr);
      LoadTextOf(kYesNoListId, kYesNoYes, yes);
      LoadTextOf(kYesNoListId, kYesNoNo, no);
      if (FileShell().twoButtonAlert(kAlertPStr, question, yes, no, kAlertDefaultPos, kAlertDefaultPos) == 1)
        err = FRemove(own);
    }
    if (!err && wasOpen && FExists(own) == 1) err = OpenLogFile(vi, 0, 1);
    UpdateLogRecordCount(vi);
    std::vector<uChar> cleared(size_t(kept), 0);
    SetLogDeletionMarks(vi, cleared.data(), kept);
    if (gUI.redrawRetrieval) gUI.redrawRetrieval(vi);
  } else if (!wasOpen) {
    CloseLogFile(vi);
  }
  if (own) FDisposePath(own);
  if (err) DBPrintf("Error %ld in PurgeData.", long(err));
  return err;
}

MgErr RunStartLogCheck(UHandle vi) {
  const bool wasOpen = OpenRef(vi) != nullptr;
  const MgErr err = OpenLogFile(vi, 1, 1);
  if (!err && !wasOpen) CloseLogFile(vi);
  return err;
}

void CloseLogFile(UHandle vi) {
  FileRef ref = nullptr;
  {
    std::lock_guard<std::mutex> g(gOpenLock);
    auto it = gOpen.find(vi);
    if (it == gOpen.end()) return;
    ref = it->second;
    gOpen.erase(it);
  }
  FMClose(ref);
}

Bool32 LogFileOpen(UHandle vi) { return OpenRef(vi) != nullptr; }

Path DatalogPath(UHandle vi) {
  DatalogBindingRec* b = Binding(vi);
  return b && b->logPath && FIsAPath(b->logPath) && !FIsEmptyPath(b->logPath) ? b->logPath : nullptr;
}

void UpdateLogRecordCount(UHandle vi) {
  DatalogBindingRec* b = Binding(vi);
  if (!b) return;
  const TypeDescriptor* rec = RecordType(b);
  int32 count = 0;
  if (FileRef open = OpenRef(vi)) {
    if (DatalogCount(open, rec, &count) != kNoErr) count = 0;
  } else if (Path path = DatalogPath(vi)) {
    FileRef ref = nullptr;
    int32 version = 0;
    if (rec && FMOpen(&ref, path, kAccessRead, kDenyWrite) == kNoErr) {
      if (CheckDatalogType(ref, rec, &version) != kNoErr || DatalogCount(ref, rec, &count) != kNoErr) count = 0;
      FMClose(ref);
    }
  }
  if ((b = Binding(vi)) != nullptr) b->word4 = uInt32(count);
}

void ClearLogPath(UHandle vi) {
  DatalogBindingRec* b = Binding(vi);
  if (!b) return;
  CloseLogFile(vi);
  Path notAPath = FNotAPath(b->logPath);
  if (!notAPath) return;
  if ((b = Binding(vi)) != nullptr) b->logPath = notAPath;
  VIDocMod(vi, nullptr, kDocModLogPath);
  UpdateLogRecordCount(vi);
}

int32 DatalogRecordCount(UHandle vi) {
  const DatalogBindingRec* b = Binding(vi);
  return b ? int32(b->word4) : 0;
}

void RTLibInstallDatalogHooks() {
  RunCmdHooks h = RunCmd();
  // The run-start check opens (creating) without asking for a path and
  // closes what it opened; the completion step logs and closes.
  h.writeDatalogRecord = [](UHandle vi, int32 /*alert*/, Bool32 openOnly) -> MgErr {
    return openOnly ? RunStartLogCheck(vi) : WriteDatalogRecord(vi, 0);
  };
  h.closeLogFile = &CloseLogFile;
  h.logFileOpen = &LogFileOpen;
  h.logPath = &DatalogPath;
  h.clearLogPath = &ClearLogPath;
  SetRunCmdHooks(&h);
  // The loader refreshes the record count of a VI it loaded.
  VILoadPanelHooks load = VILoadPanel();
  load.updateLogRecordCount = &UpdateLogRecordCount;
  SetVILoadPanelHooks(&load);
}
