#include "rtlib/datalog.h"

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "engine/datatype.h"
#include "engine/exec/runcmd.h"
#include "engine/flatten.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"

namespace {

// The log files open here, by VI.  The run commands call in from the
// user-interface thread; the lock keeps the table whole for any caller.
std::mutex gOpenLock;
std::map<UHandle, FileRef> gOpen;

constexpr int32 kRecordHeader = 4;

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

// Reads the whole file and counts its records.
MgErr CountFile(FileRef ref, int32* count) {
  *count = 0;
  int32 size = 0;
  MgErr err = FGetEOF(ref, &size);
  if (err) return err;
  std::vector<uChar> bytes(size_t(size > 0 ? size : 0));
  if (size > 0) {
    int32 actual = 0;
    if ((err = FMSeek(ref, 0, kFStart)) != kNoErr) return err;
    if ((err = FMRead(ref, size, &actual, bytes.data())) != kNoErr) return err;
    if (actual != size) return kFileIOErr;
  }
  return DatalogCountRecords(bytes.data(), size, count);
}

// Opens the VI's log file (creating it when missing) and keeps it open; its
// records must match.  `opened` tells whether this call opened it.
MgErr OpenLog(UHandle vi, FileRef* ref, bool* opened) {
  *opened = false;
  if ((*ref = OpenRef(vi)) != nullptr) return kNoErr;
  DatalogBindingRec* b = Binding(vi);
  if (!b) return kArgErr;
  Path path = b->logPath;
  if (!path || !FIsAPath(path) || FIsEmptyPath(path)) return kFileNotFoundErr;
  MgErr err = FMOpen(ref, path, kAccessReadWrite, kDenyWrite);
  if (err == kFileNotFoundErr) err = FCreate(ref, path, 0666, kAccessReadWrite, kDenyWrite, nullptr);
  if (err) {
    *ref = nullptr;
    return err;
  }
  int32 count = 0;
  if ((err = CountFile(*ref, &count)) != kNoErr) {
    FMClose(*ref);
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

MgErr DatalogCountRecords(const uChar* bytes, int32 size, int32* count) {
  int32 n = 0;
  int32 at = 0;
  while (at < size) {
    if (size - at < kRecordHeader) break;
    const uInt32 length = GetBE32(bytes + at);
    if (length > uInt32(size - at - kRecordHeader)) break;
    at += kRecordHeader + int32(length);
    ++n;
  }
  if (count) *count = n;
  return at == size ? kNoErr : kDatalogIncompatibleErr;
}

MgErr DatalogOpenOnly(UHandle vi) {
  FileRef ref = nullptr;
  bool opened = false;
  const MgErr err = OpenLog(vi, &ref, &opened);
  if (opened) CloseLogFile(vi);
  return err;
}

MgErr WriteDatalogRecord(UHandle vi, int32 /*alert*/) {
  DatalogBindingRec* b = Binding(vi);
  if (!b || !b->recordTD || !*b->recordTD || !b->recordData || !*b->recordData) return kArgErr;
  const int32 tdBytes = AZGetHandleSize(b->recordTD);
  const TypeDescriptor* td = reinterpret_cast<const TypeDescriptor*>(*b->recordTD);
  if (tdBytes < 4 || td->size < 4 || td->size > tdBytes) return kArgErr;
  const int32 dataSize = DataSize(td);
  if (dataSize <= 0 || AZGetHandleSize(b->recordData) < dataSize) return kArgErr;
  FileRef ref = nullptr;
  bool opened = false;
  MgErr err = OpenLog(vi, &ref, &opened);
  if (err) return err;
  b = Binding(vi);
  UHandle flat = FlattenToNewHandle(nullptr, td, *b->recordData, 0);
  if (!flat) return kMemFullErr;
  const int32 length = AZGetHandleSize(flat);
  std::vector<uChar> record(size_t(kRecordHeader + length));
  PutBE32(record.data(), uInt32(length));
  if (length > 0) std::memcpy(record.data() + kRecordHeader, *flat, size_t(length));
  AZDisposeHandle(flat);
  // One write of the whole record; one that fails is cut off again, so the
  // file keeps only whole records.
  int32 end = 0, actual = 0;
  err = FGetEOF(ref, &end);
  if (!err) err = FMSeek(ref, end, kFStart);
  if (!err) err = FMWrite(ref, int32(record.size()), &actual, record.data());
  if (!err && actual != int32(record.size())) err = kDiskFullErr;
  if (err) {
    FSetEOF(ref, end);
    return err;
  }
  if ((b = Binding(vi)) != nullptr) ++b->word4;
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
    if (CountFile(open, &count) != kNoErr) count = 0;
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
