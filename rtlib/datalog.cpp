// A VI's log file for the run commands, on the datalog format.
#include "rtlib/datalog.h"

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "engine/datatype.h"
#include "engine/exec/retrieve.h"
#include "engine/exec/runcmd.h"
#include "engine/exec/runcmd_internal.h"
#include "engine/shellsvc.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/printf.h"
#include "engine/datamgr.h"
#include "engine/vi/vifind.h"
#include "engine/vi/vihooks.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "rtlib/filerefnum.h"

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

// Opens the log for reading and writing, others allowed to read, as a
// datalog of the record type; a file of the previous version is converted
// when the operator agrees (43 when not).  The file is kept without its
// refnum: the log is the VI's, not a diagram's.
MgErr OpenLogRef(Path path, UHandle recordType, FileRef* out) {
  FileRefnum refnum = 0;
  MgErr err = OpenDatalogAsk(path, kAccessReadWrite, kDenyWrite, recordType, 0, &refnum);
  if (err) return err;
  err = FRefNumToFD(refnum, out);
  FDisposeRefNum(refnum);
  return err;
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
    if (FileShell().twoButtonAlert(kAlertPStr, question, nullptr, nullptr, 1, kAlertDefaultPos, kAlertDefaultPos) != 1)
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
  int32 count = 0;
  if (!err) err = OpenLogRef(path, b->recordTD, &ref);
  if (err == kFileNotFoundErr && create && path) {
    err = FCreate(&ref, path, FGetDefPerm(0666), kAccessReadWrite, kDenyWrite, nullptr);
    if (!err && (err = DatalogCreate(ref, rec)) != kNoErr) {
      FMClose(ref);
      FRemove(path);
      ref = nullptr;
    }
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

namespace {
bool RecordParts(const TypeDescriptor* rec, const TypeDescriptor** parts, int32* offsets);

// Fills the record's time stamp from the system clock when the record is
// {time stamp {uInt32 seconds, uInt16 milliseconds}, panel data}.
void StampRecord(const TypeDescriptor* rec, uChar* data) {
  const TypeDescriptor* parts[2];
  int32 offsets[2];
  if (!RecordParts(rec, parts, offsets)) return;
  const TypeDescriptor* ts = SkipTypedefs(parts[0]);
  if (ts->code != kTDCluster || DataSize(ts) < 6) return;
  const TypeDescriptor* secs = ElemTD(ts, 0);
  const TypeDescriptor* ms = ElemTD(ts, 1);
  if (!secs || !ms || SkipTypedefs(secs)->code != kTDU32 || SkipTypedefs(ms)->code != kTDU16) return;
  TimeSecsMs now{};
  GetTimeSecsMs(&now);
  const uInt32 s32 = now.secs;
  const uInt16 m16 = uInt16(now.ms);
  std::memcpy(data + offsets[0], &s32, 4);
  std::memcpy(data + offsets[0] + AlignDatum(ms, 4), &m16, 2);
}
}  // namespace

MgErr WriteDatalogRecord(UHandle vi, int32 keepOpen) {
  DatalogBindingRec* b = Binding(vi);
  const TypeDescriptor* td = RecordType(b);
  if (!td || !b->recordData || !*b->recordData) return kNothingToLogErr;
  const int32 dataSize = DataSize(td);
  if (dataSize <= 0 || AZGetHandleSize(b->recordData) < dataSize) return kNothingToLogErr;
  // A loaded panel gives the values; its logged controls must match the
  // panel data cluster element for element.
  const TypeDescriptor* parts[2];
  int32 offsets[2];
  const int32 loaded = gUI.loggedControlCount ? gUI.loggedControlCount(vi) : -1;
  bool fromPanel = false;
  MgErr err = kNoErr;
  if (loaded >= 0 && RecordParts(td, parts, offsets)) {
    const TypeDescriptor* panel = SkipTypedefs(parts[1]);
    int16 elems = 0;
    if (panel->code == kTDCluster && panel->size >= 6) std::memcpy(&elems, reinterpret_cast<const uChar*>(panel) + 4, 2);
    if (elems != loaded) return kPanelMismatchErr;
    if (gUI.copyLoggedControls) {
      fromPanel = true;
      err = gUI.copyLoggedControls(vi, parts[1], *b->recordData + offsets[1]);
    }
  }
  const bool wasOpen = OpenRef(vi) != nullptr;
  if (!err) err = OpenLogFile(vi, 1, 0);
  int32 count = 0;
  b = Binding(vi);
  td = RecordType(b);
  if (!err) {
    StampRecord(td, reinterpret_cast<uChar*>(*b->recordData));
    err = DatalogAppend(OpenRef(vi), td, td, *b->recordData, &count);
    if (!wasOpen && !keepOpen) CloseLogFile(vi);
  }
  // The panel's values were copied in for this record only: the buffer is
  // emptied again, its handles freed and its bytes cleared.  Without a loaded panel the buffer is
  // the data space the values come from, and stays.
  if (fromPanel && td && b && b->recordData && *b->recordData) {
    DisposeData(td, *b->recordData, *b->recordData + DataSize(td));
    std::memset(*b->recordData, 0, size_t(DataSize(td)));
  }
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
  // Only while a record is chosen: the retrieval field's number must name
  // one of the log's records.
  if (marks.empty() || !rec || !GetRetrieveRecNum(vi, nullptr)) return kNoErr;
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
      if (FileShell().twoButtonAlert(kAlertPStr, question, yes, no, 1, kAlertDefaultPos, kAlertDefaultPos) == 1)
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

namespace {

// The data offsets of the record's time stamp and panel data: elements 0
// and 1 of the record cluster.  False for a record type of another shape.
bool RecordParts(const TypeDescriptor* rec, const TypeDescriptor** parts, int32* offsets) {
  rec = rec ? SkipTypedefs(rec) : nullptr;
  if (!rec || rec->code != kTDCluster || rec->size < 6) return false;
  int16 count = 0;
  std::memcpy(&count, reinterpret_cast<const uChar*>(rec) + 4, 2);  // the element count after size and code
  if (count < 2) return false;
  int32 off = 0;
  for (int32 i = 0; i < 2; ++i) {
    parts[i] = ElemTD(rec, i);
    if (!parts[i]) return false;
    off = AlignDatum(parts[i], off);
    offsets[i] = off;
    off += DataSize(parts[i]);
  }
  return true;
}

// Reads record r of the open log into a fresh datum of the record type;
// the caller disposes it with DisposeRecord.
MgErr ReadRecord(UHandle vi, const TypeDescriptor* rec, int32 r, std::vector<uChar>* datum) {
  datum->assign(size_t(DataSize(rec)) + 1, 0);
  MgErr err = InitEmptyData(rec, datum->data());
  int32 next = 0;
  if (!err) err = DatalogRead(OpenRef(vi), rec, r, nullptr, datum->data(), 0, &next);
  return err;
}
void DisposeRecord(const TypeDescriptor* rec, std::vector<uChar>* datum) {
  DisposeData(rec, datum->data(), datum->data() + DataSize(rec));
}

// The alert of a record that could not be shown; retrieval mode ends.
void LeaveRetrieval(UHandle vi) {
  Str255 inner, outer;
  Str255 fmt;
  if (!qxrun::ListText(kLogIncompatibleListId, kRetrieveFailedItem, fmt)) fmt[0] = 0;
  Path path = DatalogPath(vi);
  PPrintfp(inner, fmt, VIName(vi), path);
  FormatText(kLogIncompatibleListId, kRetrieveExitItem, outer, inner);
  OneButtonAlert(kAlertPStr, outer, nullptr, kAlertDefaultPos, kAlertDefaultPos);
  if (VIRun().exitRetrieveMode) VIRun().exitRetrieveMode(vi);
}

}  // namespace

Bool32 GetRetrieveRecNum(UHandle vi, int32* numberOut) {
  Str255 text = {0};
  if (gUI.retrieveFieldText) gUI.retrieveFieldText(vi, text);
  int32 i = 1;
  while (i <= text[0] && text[i] == ' ') ++i;
  if (i > text[0]) {
    static const uChar kZero[] = {1, '0'};
    if (gUI.setRetrieveFieldText) gUI.setRetrieveFieldText(vi, kZero);
    if (numberOut) *numberOut = 0;
    return DatalogRecordCount(vi) > 0;
  }
  const bool negative = text[i] == '-';
  if (negative || text[i] == '+') ++i;
  int64_t n = 0;
  bool digits = false;
  for (; i <= text[0] && text[i] >= '0' && text[i] <= '9'; ++i, digits = true)
    if ((n = n * 10 + (text[i] - '0')) > int64_t(0x80000000)) n = int64_t(0x80000000);
  if (negative) n = -n;
  const int32 number = !digits ? -1 : n > 0x7FFFFFFF ? 0x7FFFFFFF : int32(n);
  if (numberOut) *numberOut = number;
  return number >= 0 && number < DatalogRecordCount(vi);
}

MgErr RetrieveShowRecord(UHandle vi) {
  const TypeDescriptor* parts[2];
  int32 offsets[2];
  const TypeDescriptor* rec = RecordType(Binding(vi));
  if (!rec || !RecordParts(rec, parts, offsets)) return kNothingToLogErr;
  const bool wasOpen = OpenRef(vi) != nullptr;
  MgErr err = OpenLogFile(vi, 0, 1);
  const int32 count = DatalogRecordCount(vi);
  int32 r = 0;
  if (!GetRetrieveRecNum(vi, &r)) r = count - 1;
  // An empty log has no last record: nothing is read and no mark touched.
  if (!err && count <= 0) err = kDatalogRangeErr;
  if (!err) {
    const std::vector<uChar> marks = MarksOf(vi);
    if (gUI.showMark) gUI.showMark(vi, r < int32(marks.size()) ? marks[size_t(r)] : 0);
    std::vector<uChar> datum;
    err = ReadRecord(vi, rec, r, &datum);
    const TypeDescriptor* ts = SkipTypedefs(parts[0]);
    const TypeDescriptor* secs = ts->code == kTDCluster ? ElemTD(ts, 0) : nullptr;
    if (!err && gUI.showStamp && secs && SkipTypedefs(secs)->code == kTDU32 &&
        datum.size() >= size_t(offsets[0]) + 4) {
      uInt32 s32 = 0;
      std::memcpy(&s32, datum.data() + offsets[0], 4);
      gUI.showStamp(vi, s32);
    }
    if (!err && gUI.showRecord) err = gUI.showRecord(vi, parts[1], datum.data() + offsets[1]);
    DisposeRecord(rec, &datum);
  }
  if (!wasOpen) CloseLogFile(vi);
  if (err) LeaveRetrieval(vi);
  return err;
}

MgErr ProgRetrieveRun(UHandle vi, void* timeStampOut, int32 recordNumber, void* dataOut, uChar* errorOut) {
  const TypeDescriptor* parts[2];
  int32 offsets[2];
  const TypeDescriptor* rec = RecordType(Binding(vi));
  if (!rec || !RecordParts(rec, parts, offsets)) {
    if (errorOut) *errorOut = 1;
    DBPrintf("ProgRetrieveRun failed w/ error %ld.", long(kNothingToLogErr));
    return kNothingToLogErr;
  }
  MgErr err = OpenLogFile(vi, 0, 1);
  const int32 count = DatalogRecordCount(vi);
  int32 r = recordNumber;
  if (!err && (r < -count || r >= count)) err = kDatalogRangeErr;
  if (!err && r < 0) r += count;
  std::vector<uChar> datum;
  if (!err) err = ReadRecord(vi, rec, r, &datum);
  if (!err && timeStampOut) err = CopyData(parts[0], datum.data() + offsets[0], timeStampOut);
  if (!err && dataOut) err = CopyData(parts[1], datum.data() + offsets[1], dataOut);
  if (!datum.empty()) DisposeRecord(rec, &datum);
  if (err) {
    DBPrintf("ProgRetrieveRun failed w/ error %ld.", long(err));
    // Both outputs get their empty values.
    std::vector<uChar> empty(size_t(DataSize(rec)) + 1, 0);
    if (InitEmptyData(rec, empty.data()) == kNoErr) {
      if (timeStampOut) CopyData(parts[0], empty.data() + offsets[0], timeStampOut);
      if (dataOut) CopyData(parts[1], empty.data() + offsets[1], dataOut);
      DisposeData(rec, empty.data(), empty.data() + DataSize(rec));
    }
  }
  if (errorOut) *errorOut = err ? 1 : 0;
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
  // Retrieval mode and the choice of log file.
  RetrieveLogHooks log{};
  log.openLog = [](UHandle vi) { return OpenLogFile(vi, 0, 0); };
  log.closeLog = &CloseLogFile;
  log.recordCount = &DatalogRecordCount;
  log.chooseLogFile = [](UHandle vi) { return CheckDatalogPath(vi, 1, 0, 1, 0); };
  log.refreshBinding = &UpdateLogRecordCount;
  log.shownRecord = [](UHandle vi) {
    int32 n = 0;
    GetRetrieveRecNum(vi, &n);
    return n;
  };
  log.newMarks = [](UHandle vi) -> MgErr {
    const int32 count = DatalogRecordCount(vi);
    std::vector<uChar> cleared(size_t(count > 0 ? count : 0), 0);
    SetLogDeletionMarks(vi, cleared.data(), int32(cleared.size()));
    return kNoErr;
  };
  log.disposeMarks = [](UHandle vi) { SetLogDeletionMarks(vi, nullptr, 0); };
  log.anyMarked = [](UHandle vi) -> Bool32 {
    for (uChar m : MarksOf(vi))
      if (m) return 1;
    return 0;
  };
  log.purge = &PurgeData;
  log.showRecord = &RetrieveShowRecord;
  SetRetrieveLogHooks(&log);
  // The loader refreshes the record count of a VI it loaded.
  VILoadPanelHooks load = VILoadPanel();
  load.updateLogRecordCount = &UpdateLogRecordCount;
  SetVILoadPanelHooks(&load);
}
