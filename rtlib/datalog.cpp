// A VI's log file for the run commands, on the datalog format.
#include "rtlib/datalog.h"

#include <map>
#include <mutex>

#include "engine/datatype.h"
#include "engine/exec/runcmd.h"
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

// Opens the VI's log file (creating it as a new datalog when missing) and
// keeps it open; it must be a datalog of the record type.  `opened` tells
// whether this call opened it.
MgErr OpenLog(UHandle vi, FileRef* ref, bool* opened) {
  *opened = false;
  if ((*ref = OpenRef(vi)) != nullptr) return kNoErr;
  DatalogBindingRec* b = Binding(vi);
  if (!b) return kArgErr;
  Path path = b->logPath;
  if (!path || !FIsAPath(path) || FIsEmptyPath(path)) return kFileNotFoundErr;
  const TypeDescriptor* rec = RecordType(b);
  if (!rec) return kArgErr;
  MgErr err = FMOpen(ref, path, kAccessReadWrite, kDenyWrite);
  int32 version = kDatalogVersion;
  if (err == kFileNotFoundErr) {
    err = FCreate(ref, path, FGetDefPerm(0666), kAccessReadWrite, kDenyWrite, nullptr);
    if (!err && (err = DatalogCreate(*ref, rec)) != kNoErr) {
      FMClose(*ref);
      FRemove(path);
      *ref = nullptr;
      return err;
    }
  } else if (!err) {
    err = CheckDatalogType(*ref, rec, &version);
    // The previous version is converted by the retrieval side's question.
    if (!err && version != kDatalogVersion) err = kDatalogIncompatibleErr;
  }
  int32 count = 0;
  if (!err) err = DatalogCount(*ref, rec, &count);
  if (err) {
    if (*ref) FMClose(*ref);
    *ref = nullptr;
    return err;
  }
  if ((b = Binding(vi)) != nullptr) b->word4 = uInt32(count);
  std::lock_guard<std::mutex> g(gOpenLock);
  gOpen[vi] = *ref;
  *opened = true;
  return kNoErr;
}

}  // namespace

MgErr DatalogOpenOnly(UHandle vi) {
  FileRef ref = nullptr;
  bool opened = false;
  const MgErr err = OpenLog(vi, &ref, &opened);
  if (opened) CloseLogFile(vi);
  return err;
}

MgErr WriteDatalogRecord(UHandle vi, int32 /*alert*/) {
  DatalogBindingRec* b = Binding(vi);
  const TypeDescriptor* td = RecordType(b);
  if (!td || !b->recordData || !*b->recordData) return kArgErr;
  const int32 dataSize = DataSize(td);
  if (dataSize <= 0 || AZGetHandleSize(b->recordData) < dataSize) return kArgErr;
  FileRef ref = nullptr;
  bool opened = false;
  MgErr err = OpenLog(vi, &ref, &opened);
  if (err) return err;
  b = Binding(vi);
  td = RecordType(b);
  int32 count = 0;
  if ((err = DatalogAppend(ref, td, td, *b->recordData, &count)) != kNoErr) return err;
  if ((b = Binding(vi)) != nullptr) b->word4 = uInt32(count);
  return kNoErr;
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
  int32 count = 0;
  if (FileRef open = OpenRef(vi)) {
    if (DatalogCount(open, RecordType(b), &count) != kNoErr) count = 0;
  } else {
    FileRef ref = nullptr;
    bool opened = false;
    // Opening counts the records into the binding.
    if (OpenLog(vi, &ref, &opened) != kNoErr) {
      if ((b = Binding(vi)) != nullptr) b->word4 = 0;
      return;
    }
    if (opened) CloseLogFile(vi);
    return;
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
  h.writeDatalogRecord = [](UHandle vi, int32 alert, Bool32 openOnly) -> MgErr {
    return openOnly ? DatalogOpenOnly(vi) : WriteDatalogRecord(vi, alert);
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
