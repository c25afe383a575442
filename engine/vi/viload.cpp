// LoadInstrument: the resources of one VI read in their fixed order into a
// loaded VI, and the failure path that undoes a partial load by stage.
#include "engine/panelrec.h"
#include "engine/vi/viload.h"

#include <cstring>

#include "engine/datatype.h"
#include "engine/dsalloc.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/execrec.h"
#include "engine/exec/runcmd.h"
#include "engine/link/hierarchy.h"
#include "engine/link/linkinfo.h"
#include "engine/link/linker.h"
#include "engine/stdize.h"
#include "engine/typemgr.h"
#include "engine/vi/archive.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload_internal.h"
#include "mgsource/byteorder.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/printinfo.h"
#include "mgsource/memory.h"

int32 gQXLoadAlertsOff = 0;
RsrcFileRef gQXLoadingRsrcFile = 0;
Path gQXLoadingPath = nullptr;
int32 gQXMissingSubroutine = 0;
int32 gQXWindowOptionMode = 0;

namespace viload {

int32 HandleSize(UHandle h) {
  if (!h) return 0;
  if (AZIsHandle(h)) return AZGetHandleSize(h);
  if (MemIsDSHandle(h)) return DSGetHandleSize(h);
  return 0;
}

UHandle GetDetached(RsrcFileRef file, ResType type, int32 id) {
  UHandle h = nullptr;
  if (RGet(file, type, id, &h) != kNoErr || !h) return nullptr;
  if (RDetach(h) != kNoErr) return nullptr;
  return h;
}

bool StandardizeStoredTD(UHandle h) {
  const int32 size = HandleSize(h);
  if (size < int32(sizeof(TypeDescriptor))) return false;
  if (StandardizeTDBounded(*h, kToMemoryOrder, 0, size) != kNoErr) return false;
  return TDCheckBounds(*h, size) == kNoErr;
}

UHandle LogRecordTypeFromStored(UHandle stored) {
  const int32 size = HandleSize(stored);
  if (size < kLogTypeWrapperSize + int32(sizeof(TypeDescriptor)) || !StandardizeStoredTD(stored)) return nullptr;
  // The stored descriptor is a cluster; its first element, right after the
  // cluster's size, code, flags and element count, is the record type.  The
  // whole cluster was bounded against the resource, and the element against
  // the cluster's own size.
  const uChar* outer = *stored;
  const int32 outerSize = GetNative16(outer) == 0xFFFF ? size : int32(GetNative16(outer));
  if (outer[2] != kTDCluster || int16(GetNative16(outer + 4)) < 1 || outerSize > size) return nullptr;
  const uChar* record = outer + kLogTypeWrapperSize;
  const int32 room = outerSize - kLogTypeWrapperSize;
  if (room < int32(sizeof(TypeDescriptor)) || TDCheckBounds(record, room) != kNoErr) return nullptr;
  const int32 recordSize = GetNative16(record);
  if (recordSize < int32(sizeof(TypeDescriptor)) || recordSize > room) return nullptr;
  UHandle out = nullptr;
  if (AZPtrToHand(record, &out, recordSize) != kNoErr) return nullptr;
  return out;
}

void UnlinkIfOwned(ConstPStr name, uInt32 classCode, const void* owner) { UnlinkItemOwnedBy(name, classCode, owner); }

MgErr OwnLinkInfoName(UHandle linkInfo, ConstPStr name) {
  const int32 size = HandleSize(linkInfo);
  if (size <= kLinkInfoNameOffset) return kNoErr;  // malformed: its own read fails
  const uChar* p = *linkInfo;
  if (kLinkInfoNameOffset + 1 + p[kLinkInfoNameOffset] <= size && p[kLinkInfoNameOffset] == name[0] &&
      PStrCaseCmp(p + kLinkInfoNameOffset, name) == 0)
    return kNoErr;
  const MgErr e = RenameLinkInfoItem(linkInfo, name);
  return e == kMemFullErr ? e : kNoErr;
}

void CloseVIRsrcFile(UHandle vi) {
  RsrcFileRef file = VIRec(vi)->rsrcFile;
  if (!file) return;
  RCloseFile(file);
  VIRec(vi)->rsrcFile = 0;
  if (gQXLoadingRsrcFile == file) {
    gQXLoadingRsrcFile = 0;
    gQXLoadingPath = nullptr;
  }
}

}  // namespace viload

using namespace viload;

namespace {

using viinst::AsDS;
using viinst::FreeHandle;
using viinst::Hdr;

// The first word of a 'vers' resource, or the fallback.
uInt32 VersWord(RsrcFileRef file, int32 id, uInt32 fallback, bool* found = nullptr) {
  UHandle h = nullptr;
  if (found) *found = false;
  if (!file || RGet(file, kVersRsrcType, id, &h) != kNoErr || !h) return fallback;
  uInt32 word = fallback;
  if (AZGetHandleSize(h) >= 4) {
    word = GetBE32(*h);
    if (found) *found = true;
  }
  return word;
}

// The stages of a load that the failure path undoes.
enum Stage : int32 { kStageNone = 0, kStageHeader = 1, kStageLinked = 2, kStageEntered = 3 };

struct Load {
  Path path;
  int32 options;
  ConstPStr name;
  RsrcFileRef file;
  Bool32 fromLibrary;
  UHandle vi = nullptr;
  int32 stage = kStageNone;
  int32 status = kLoadLoaded;
  int32 id = 0;
  MgErr mgErr = kNoErr;
  bool hasCode = false, hasTypes = false, headerFixed = false, reentrant = false;
  UHandle livi = nullptr;
};

VIRecord* R(Load& l) { return VIRec(l.vi); }

// Keeps a link pass's result of 5 or 6.
void KeepStatus(Load& l, int32 result) {
  if (result == kLoadStop || result == kLoadContinue) l.status = result;
}

// Each step answers 0 or the load error of its failure.
int32 ReadHeader(Load& l) {
  // The resource id, by the name (the first RSID when no name is given).
  UHandle rsid = nullptr;
  MgErr e = l.name ? RGetNamed(l.file, kRsrcIdRsrcType, l.name, &rsid) : RGetInd(l.file, kRsrcIdRsrcType, 1, &rsid);
  if (e == kNoErr && rsid && AZGetHandleSize(rsid) >= 4) l.id = int32(GetBE32(*rsid));
  if (rsid) RRelease(rsid);

  UHandle h = GetDetached(l.file, kVIHeaderRsrcType, l.id);
  if (!h) return kLoadErrVIRsrc;
  if (VIHeaderFromStored(h) != kNoErr) {
    AZDisposeHandle(h);
    return kLoadErrMemory;
  }
  l.vi = h;
  VIRecord* r = R(l);
  // Every memory-only field is cleared before anything is stored; the
  // stored nonzero-ness of the code and type words says what the file has.
  l.hasCode = r->codeHandle != nullptr;
  l.hasTypes = r->dsTypeMap != nullptr;
  uChar* b = reinterpret_cast<uChar*>(r);
  for (int32 at : {4, 8, 12, 16, 20, 24, 28, 32, 36, 48, 56, 64, 68, 72, 76, 80, 92, 104, 108, 384, 388, 392, 420,
                   428, 432, 436, 440, 444, 448})
    PutNative32(b + at, 0);
  PutNative16(b + 60, 0);
  PutNative16(b + 62, 0);
  r->typeHeapIndex = -1;

  if (l.fromLibrary) r->marks |= kVIMarkFromLibrary;
  else r->marks &= ~kVIMarkFromLibrary;
  r->marks &= ~(kVIMarkCleared1 | kVIMarkCleared40);
  r->rsrcFile = l.file;
  uInt32 date = 0;
  Bool32 readOnly = 0;
  if (l.fromLibrary) {
    FileInfoRec info;
    std::memset(&info, 0, sizeof info);
    e = ArchivePathMemberInfo(l.path, &info);
    date = info.mdate;
    Path lib = e == kNoErr ? FEmptyPath(nullptr) : nullptr;
    if (e == kNoErr && (!lib || FDirName(l.path, lib) != kNoErr)) e = kMemFullErr;
    uInt32 libDate = 0;
    if (e == kNoErr) e = RGetModDate(lib, 0, &libDate, &readOnly);
    if (lib) FDisposePath(lib);
  } else {
    e = RGetModDate(l.path, l.file, &date, &readOnly);
  }
  if (e != kNoErr) return kLoadErrVIRsrc;
  // A header naming no VI kind or a negative priority is damaged: every later
  // step (lists, queues, disposal) dispatches on these two words.  A file holds
  // only VIs of kinds 2, 4, 6 and 7: dialogs, the root, subroutine panels and
  // the proxies of datalog calls exist only in memory, and a file naming one
  // would leave a VI that disposal neither unlists, unlinks nor frees whole.
  const int16 kind = r->viKind;
  if (kind != kVIKindDatalog && kind != kVIKindGlobal && kind != kVIKindControl && kind != 7) return kLoadErrVIRsrc;
  if (r->priority < 0) return kLoadErrVIRsrc;
  r->modDate = date;
  if (readOnly) r->marks |= kVIMarkReadOnly;
  else r->marks &= ~kVIMarkReadOnly;

  // From here the record owns the path and the failure path disposes the VI.
  r->path = l.path;
  l.path = nullptr;
  r->rsrcID = uInt32(l.id);
  r->flags |= kVIFlagLoading;
  l.stage = kStageHeader;

  if (r->flags & kVIFlagSubroutine) {
    r->priority = kVIPrioritySubroutine;
    r->execSystem = -1;
  } else if (r->priority >= kVIPrioritySubroutine) {
    r->priority = 4;
  }
  if (r->priority != kVIPrioritySubroutine &&
      (r->execSystem < kESysSameAsCaller || r->execSystem >= kExecSystems))
    return kLoadErrVIRsrc;  // no execution system could run it
  l.reentrant = (r->flags & kVIFlagReentrant) != 0;
  r->flags &= ~kVIFlagReentrant;
  std::memset(b + 112, 0, 12);
  if (r->flags & kVIFlagSubVIState) {
    r->flags &= ~kVIFlagSubVIState;
    if (!(r->flags & kVIFlagsNotRunnable)) r->eState = kVIStateIdle;
  }
  r->flags &= ~uInt32(0x80 | 0x4000000 | 0x8000000);
  r->marks &= ~kVIMarksClearedAtLoad;
  r->flags2 &= ~kVIFlags2ClearedAtLoad;
  r->flags2 |= kVIFlags2SetAtLoad;
  return 0;
}

int32 CheckVersion(Load& l) {
  const RsrcFileRef rt = RunTimeRsrcFile();
  const uInt32 own = VersWord(rt, kVersOwnId, kRunTimeVersion);
  const uInt32 oldest = VersWord(rt, kVersOldestId, kOldestConvertibleVersion);
  const uInt32 v = R(l)->version;
  if (int32(v) <= int32(own)) {
    if (int32(v) < int32(oldest)) return kLoadErrTooOld;
  } else {
    bool found = false;
    const uInt32 reader = VersWord(l.file, kVersOldestId, 0, &found);
    if (!found || int32(reader) > int32(own)) return kLoadErrTooNew;
  }
  VIRecord* r = R(l);
  r->flags |= kVIFlagsSetAtLoad;
  r->flags &= ~uInt32(0x20000000 | 0x40000000);
  r->flags2 &= ~kVIFlags2ClearedAtLoad2;
  return 0;
}

bool SameName(ConstPStr a, ConstPStr b) { return a[0] == b[0] && PStrCaseCmp(a, b) == 0; }

int32 Rename(Load& l) {
  if (!l.name) return 0;
  UHandle livi = nullptr;
  if (RGet(l.file, kLinkInfoVI, l.id, &livi) != kNoErr) livi = nullptr;
  bool differs = !SameName(l.name, R(l)->name);
  if (!differs && livi) {
    const int32 size = AZGetHandleSize(livi);
    const uChar* p = *livi;
    differs = size < kLinkInfoNameOffset + 1 || kLinkInfoNameOffset + 1 + p[kLinkInfoNameOffset] > size ||
              !SameName(l.name, p + kLinkInfoNameOffset);
  }
  if (!differs) return 0;
  VIDocMod(l.vi, nullptr, 0x10000200);
  // The renamed resources stay the file's (later reads get these copies);
  // they are not marked changed, so nothing is written back.
  for (ResType type : {kLinkInfoVI, kLinkInfoPanel, kLinkInfoDataSpace}) {
    UHandle h = nullptr;
    if (RGet(l.file, type, l.id, &h) != kNoErr || !h) continue;
    // A malformed resource is left as it is; its own read fails later.
    if (RenameLinkInfoItem(h, l.name) == kMemFullErr) return kLoadErrMemory;
  }
  PStrCpy(R(l)->name, l.name);
  return 0;
}

// The not-a-path value, or null when memory is short.
Path NotAPath() { return FNotAPath(nullptr); }

int32 ReadDatalogBinding(Load& l) {
  VIRecord* r = R(l);
  if (!(r->logBinding = AZNewHClr(kLogBindingSize))) return kLoadErrMemory;
  if (!(R(l)->logState = AZNewHClr(kLogStateSize))) return kLoadErrMemory;
  UHandle rec = GetDetached(l.file, kDatalogBindingRsrcType, l.id);
  if (rec && SwapDatalogBinding(*rec, AZGetHandleSize(rec)) != kNoErr) {
    AZDisposeHandle(rec);
    return kLoadErrMemory;  // a record shorter than its seven words
  }
  if (rec && AZSetHandleSize(rec, kDatalogBindingSize) != kNoErr) {
    AZDisposeHandle(rec);
    return kLoadErrMemory;
  }
  if (!rec && !(rec = AZNewHClr(kDatalogBindingSize))) return kLoadErrMemory;
  DatalogBindingRec b;
  std::memcpy(&b, *rec, sizeof b);
  const bool named = b.logPath != nullptr;
  // The stored words that become handles are cleared before the record is
  // the VI's, so a failure below disposes only what was made here.
  b.logPath = nullptr;
  b.recordTD = b.recordData = b.controlMap = nullptr;
  std::memcpy(*rec, &b, sizeof b);
  R(l)->logRecord = rec;
  auto rb = [&]() { return reinterpret_cast<DatalogBindingRec*>(*R(l)->logRecord); };

  Path logPath = nullptr;
  if (named) {
    UHandle flat = nullptr;
    if (RGet(l.file, kLogPathRsrcType, l.id, &flat) == kNoErr && flat) {
      const int32 size = AZGetHandleSize(flat);
      const bool unreadable = FUnFlattenPathData(*flat, &logPath, size) > size;
      // Released before the alert reads its text from another file: the
      // resource is then still the last one read, and releasing it needs no
      // search of every open file (whose list the resource manager keeps).
      RRelease(flat);
      if (unreadable) {
        logPath = nullptr;
        WarningAlert(kWarnLogBindingCleared, R(l)->name, nullptr);
        VIDocMod(l.vi, nullptr, 0x10001000);
      }
    }
  }
  if (!logPath && !(logPath = NotAPath())) return kLoadErrMemory;
  if (FIsAPathOfType(logPath, kRelPath)) {
    if (FAddPath(R(l)->path, logPath, logPath) != kNoErr) {
      FDisposePath(logPath);
      return kLoadErrMemory;
    }
  }
  rb()->logPath = logPath;

  if (VIVersionAtLeast(R(l)->version, kVersionStoresLogTypes)) {
    UHandle stored = GetDetached(l.file, kLogTypeRsrcType, l.id);
    if (!stored) return kLoadErrMemory;
    UHandle td = LogRecordTypeFromStored(stored);
    AZDisposeHandle(stored);
    if (!td) return kLoadErrMemory;
    rb()->recordTD = td;
    const int32 dataSize = DataSize(reinterpret_cast<const TypeDescriptor*>(*td));
    if (dataSize < 0 || dataSize == 0x7FFFFFFF) return kLoadErrMemory;
    UHandle data = AZNewHClr(dataSize);
    if (!data) return kLoadErrMemory;
    rb()->recordData = data;
    UHandle map = GetDetached(l.file, kLogControlMapRsrcType, l.id);
    if (!map) return kLoadErrMemory;
    rb()->controlMap = map;
    const int32 mapSize = AZGetHandleSize(map);
    if (mapSize < 2) return kLoadErrMemory;
    const int32 count = GetBE16(*map);
    if (2 + 2 * count > mapSize) return kLoadErrMemory;
    for (int32 i = 0; i <= count; ++i) PutNative16(*map + 2 * i, GetBE16(*map + 2 * i));
  } else {
    const TypeDescriptor* empty = StdTDTable[kStdTDEmptyCluster];
    UHandle td = nullptr;
    if (AZPtrToHand(empty, &td, empty->size) != kNoErr) return kLoadErrMemory;
    rb()->recordTD = td;
    if (!(rb()->recordData = AZNewHClr(0))) return kLoadErrMemory;
    if (!(rb()->controlMap = AZNewHClr(0))) return kLoadErrMemory;
  }
  return 0;
}

int32 ReadCode(Load& l) {
  UHandle h = nullptr;
  if (l.hasCode && RGet(l.file, kCodeRsrcType, l.id, &h) == kNoErr && h) {
    // Code is entered only through the code hooks, which the execution
    // systems install: before they start, a VI with code cannot load.
    const VICodeHooks& hooks = VICode();
    if (!hooks.setCodeEntryAndPatch || !hooks.runInitProc || !hooks.initDCOs) {
      RRelease(h);
      return kLoadErrVIRsrc;
    }
    const int32 size = AZGetHandleSize(h);
    int32 result = 0;
    if (size < kVICDHeaderSize) {
      result = kLoadErrProcessor;
    } else {
      const uChar* p = *h;
      const int32 at = GetNative32(p + kVICDTagAt) == kCodeHeaderTag ? kVICDProcAt : kVICDOldProcAt;
      if (GetNative32(p + at) != kCodeProcessor) result = kLoadErrProcessor;
    }
    UHandle code = nullptr;
    if (!result) {
      const MgErr e = MakeCode(*h, size, &code);
      if (e == kMemFullErr) result = kLoadErrMemory;
      else if (e != kNoErr) result = kLoadErrProcessor;
    }
    RRelease(h);
    if (result) return result;
    R(l)->codeHandle = code;
    return 0;
  }
  // No code: a legal VI that is never entered.
  VIDocMod(l.vi, nullptr, 0x10000004);
  if (!(R(l)->flags2 & kVIFlags2Runnable)) DBPrintf("VI \"%p\" has no code", R(l)->name);
  R(l)->flags &= ~kVIFlagBad;
  if (!(R(l)->flags & kVIFlagsNotRunnable)) R(l)->eState = kVIStateIdle;
  return 0;
}

int32 ReadTypes(Load& l) {
  if (UHandle pane = GetDetached(l.file, kConnPaneRsrcType, l.id)) {
    if (!StandardizeStoredTD(pane)) {
      AZDisposeHandle(pane);
      return kLoadErrConnTypeMap;
    }
    R(l)->connPane = pane;
  }
  UHandle map = GetDetached(l.file, kConnTypeMapRsrcType, l.id);
  if (!map) return kLoadErrConnTypeMap;
  R(l)->connTypeMap = map;
  if (!StandardizeStoredTD(map)) return kLoadErrConnTypeMap;
  if (R(l)->viKind == kVIKindControl && (R(l)->flags & 0x200000) && AZGetHandleSize(map) >= 8)
    R(l)->connTypeWord = GetNative32(*map + 4);

  if (!l.hasTypes) return 0;
  UHandle tm = GetDetached(l.file, kDSTypeMapRsrcType, l.id);
  if (!tm) return kLoadErrDSTypeMap;
  const int32 size = AZGetHandleSize(tm);
  const uChar* p = nullptr;
  bool ok = StandardizeStoredTD(tm);
  if (ok) {
    p = *tm;
    // A cluster whose first element is a block: the data-space header.
    ok = size >= kDSTMHeaderBlockSizeAt + 4 && p[2] == kTDCluster && GetNative16(p + 4) >= 1 && p[8] == kTDBlock &&
         GetNative16(p + 6) >= 8;
  }
  if (!ok) {
    AZDisposeHandle(tm);
    return kLoadErrDSTypeMap;
  }
  UHandle ds = nullptr;
  if (DSPtrToHand(*tm, &ds, size) != kNoErr) ds = nullptr;
  AZDisposeHandle(tm);
  DSTypeMapChanged();
  R(l)->dsTypeMap = ds;
  return 0;
}

int32 ReadStringsAndPaths(Load& l) {
  auto firstWord = [&](ResType type) -> UHandle {
    UHandle h = GetDetached(l.file, type, l.id);
    if (h && AZGetHandleSize(h) < 4) {  // too short for its count: absent
      AZDisposeHandle(h);
      return nullptr;
    }
    if (h) PutNative32(*h, GetBE32(*h));
    return h;
  };
  R(l)->strings = firstWord(kStringsRsrcType);
  if (!R(l)->strings) R(l)->strings = AZNewHClr(4);
  Path p = nullptr;
  if (RGetPath(l.file, kHelpPathRsrcType, l.id, &p) == kNoErr) R(l)->helpPath = p;
  R(l)->helpTag = firstWord(kHelpTagRsrcType);
  p = nullptr;
  const MgErr e = RGetPath(l.file, kRTMenuPathRsrcType, l.id, &p);
  if (e == kNoErr && p) {
    R(l)->rtMenuPath = p;
    if (FIsAPathOfType(p, kRelPath)) {
      Path dir = FEmptyPath(nullptr);
      const bool ok = dir && FDirName(R(l)->path, dir) == kNoErr && FAddPath(dir, p, p) == kNoErr;
      if (dir) FDisposePath(dir);
      if (!ok) return kLoadErrRTMenuPath;
    }
  } else if (e != kNoErr && e != kRsrcNotFoundErr) {
    if (p) FDisposePath(p);
    return kLoadErrRTMenuPath;
  }

  int32 image = 0;
  if (IGet(l.file, kIconImageKind, l.id, &image, 1) != kNoErr &&
      IGet(RunTimeRsrcFile(), kIconImageKind, kFallbackVIIconId, &image, 1) != kNoErr)
    return kLoadErrIcon;
  R(l)->icon = reinterpret_cast<UHandle>(uintptr_t(image));
  R(l)->callers = AZNewHClr(kVIListSize);
  R(l)->subVIs = AZNewHClr(kVIListSize);
  if (!R(l)->strings || !R(l)->callers || !R(l)->subVIs) return kLoadErrMemory;
  return 0;
}

int32 ReadDataSpace(Load& l) {
  if (!l.hasTypes || !R(l)->dsTypeMap) return 0;
  UHandle dfds = nullptr;
  if (RGet(l.file, kDefaultDataRsrcType, l.id, &dfds) != kNoErr || !dfds) return kLoadErrDefaultData;
  uChar* tm = *R(l)->dsTypeMap;
  if (GetNative32(tm + kDSTMHeaderBlockSizeAt) != uInt32(kDataSpaceHeaderSize)) {
    DSTypeMapChanged();
    PutNative32(tm + kDSTMHeaderBlockSizeAt, kDataSpaceHeaderSize);
    l.headerFixed = true;
  }
  UHandle ds = InflateDataSpace(l.vi, dfds, 0);
  RRelease(dfds);
  if (!ds) return kLoadErrDefaultData;
  R(l)->dataSpace = ds;
  Hdr(AsDS(ds))->headerFixed = l.headerFixed ? 1 : 0;
  if (!VIVersionAtLeast(R(l)->version, kVersionPanelDataControllers)) Hdr(AsDS(ds))->dcoCount = 0;

  UHandle lids = nullptr;
  if (RGet(l.file, kLinkInfoDataSpace, l.id, &lids) != kNoErr || !lids) return kLoadErrDSLinkInfo;
  // The data space enters the link table under its own entry's name, and
  // leaves it under the VI's: the two are made one here, as the panel's are.
  if (OwnLinkInfoName(lids, R(l)->name) != kNoErr) {
    RRelease(lids);
    return kLoadErrMemory;
  }
  Hdr(AsDS(ds))->owner = l.vi;
  int32 result = 0;
  if (R(l)->codeHandle) {
    gQXMissingSubroutine = 0;
    MgErr e = kNoErr;
    const int32 st = ReadLinkInfo(ds, lids, R(l)->path, kLinkInfoDataSpace, &e);
    // A result of 0 with no error is a reference not found: it waits.
    if (st == 0 && e != kNoErr) {
      result = e == kMemFullErr ? kLoadErrMemory : kLoadErrDSLinkInfo;
    } else {
      l.stage = kStageLinked;
      KeepStatus(l, st);
      if (gQXMissingSubroutine) result = kLoadErrMissingSubr;
    }
  } else {
    const int16 e = AddLinkEntry(ds, R(l)->name, nullptr, kLinkClassCodes[kLinkClassDataSpace], R(l)->path);
    if (e == 0) l.stage = kStageLinked;
    else result = e == 2 ? kLoadErrMemory : kLoadErrDSLinkInfo;
  }
  RRelease(lids);
  return result;
}

int32 RegisterTypes(Load& l) {
  if (R(l)->eState & kVIStateMask) R(l)->eState = kVIStateIdle;
  MgErr e = RegisterVI(l.vi);
  if (e == kNoErr) {
    Bool32 found = 0;
    e = LoadVITypes(l.vi, l.id, l.file, &found);
  }
  if (e == kNoErr) return 0;
  l.mgErr = e;
  return e == kMemFullErr ? kLoadErrMemory : kLoadErrRegister;
}

int32 LoadPanelNow(Load& l) {
  const VIRecord* r = R(l);
  if (!((l.options & kLoadOpenPanel) || (r->flags & 0x500) || (r->flags2 & 0x20019000) ||
        (r->eState & kVIStateMask) == 0))
    return 0;
  int32 st = 0;
  const MgErr e = LoadVIHeap(l.vi, kPanelHeapRsrcType, l.id, l.file, kLoadErrFPLinkInfo, &st);
  if (e != kNoErr) {
    l.mgErr = e;
    return gQXLoadErrorCode ? gQXLoadErrorCode : kLoadErrFrontPanel;
  }
  KeepStatus(l, st);
  return 0;
}

int32 ReadVILinkInfo(Load& l) {
  l.livi = GetDetached(l.file, kLinkInfoVI, l.id);
  if (!l.livi) return kLoadErrVILinkInfo;
  if (UHandle title = GetDetached(l.file, kTitleRsrcType, 0)) R(l)->title = title;
  CloseVIRsrcFile(l.vi);
  l.file = 0;
  // The VI enters the link table under its own name, whatever its entry says.
  if (OwnLinkInfoName(l.livi, R(l)->name) != kNoErr) return kLoadErrMemory;
  // The entry's class is the one the header's kind is unlinked under when the
  // VI goes (a custom control's or a VI's): link information naming the other
  // would leave an entry no disposal removes.
  LinkInfoRecords recs;
  if (ParseLinkInfo(*l.livi, HandleSize(l.livi), kLinkInfoVI, &recs) == kNoErr &&
      recs.classCode != kLinkClassCodes[R(l)->viKind == kVIKindControl ? kLinkClassCustomCtl : kLinkClassVI])
    return kLoadErrVILinkInfo;
  MgErr e = kNoErr;
  const int32 st = ReadLinkInfo(l.vi, l.livi, R(l)->path, kLinkInfoVI, &e);
  AZDisposeHandle(l.livi);
  l.livi = nullptr;
  if (st == 0 && e != kNoErr) return e == kMemFullErr ? kLoadErrMemory : kLoadErrVILinkInfo;
  // From here the VI's own link entries exist: the failure path unlinks.
  l.stage = kStageEntered;
  KeepStatus(l, st);
  if ((R(l)->flags2 & 0x40000) && !(R(l)->flags & kVIFlagsNotRunnable)) R(l)->flags2 |= kVIFlags2Runnable;
  return 0;
}

int32 StartDataSpace(Load& l) {
  UHandle dsh = R(l)->dataSpace;
  if (!dsh) return 0;
  DataSpace ds = AsDS(dsh);
  InitDataSpace(ds);
  // A data space whose wait queue could not be made is out of memory.
  if (R(l)->priority != kVIPrioritySubroutine && !Hdr(ds)->waitQueue) return kLoadErrMemory;
  UHandle code = R(l)->codeHandle;
  if (!code || l.headerFixed) {
    R(l)->flags2 |= kVIFlags2CodeNotEntered;
    // An ordinary VI whose code is never entered has no run element and no
    // procedures: it is not executable, so that running it, or a caller of
    // it, is refused with the broken-VI alert instead of entering nothing.
    if (R(l)->viKind == kVIKindDatalog) R(l)->flags |= kVIFlagNotExecutable;
    return 0;
  }
  const VICodeHooks& hooks = VICode();
  if (!hooks.setCodeEntryAndPatch || !hooks.runInitProc || !hooks.initDCOs) return kLoadErrVIRsrc;
  hooks.setCodeEntryAndPatch(code, ds);
  hooks.runInitProc(ds);
  hooks.initDCOs(ds);
  const uInt16 bound = R(l)->panelHeap ? 1 : ((R(l)->flags & kVIFlagPanelBinding) ? 1 : 0);
  Hdr(ds)->panelFlag1 = Hdr(ds)->panelFlag2 = bound;
  if (*ds && DSProc(*ds, 17)) DSCallProc17(ds, 0);
  return 0;
}

int32 Finish(Load& l) {
  l.stage = kStageEntered;
  if ((R(l)->eState & kVIStateMask) && (R(l)->flags & kVIFlagsNotRunnable)) PropagateVIBad(l.vi, 1);
  if (R(l)->panelHeap) {
    const MgErr e = PanelPostLoadFixup(l.vi);
    if (e != kNoErr) {
      l.mgErr = e;
      return kLoadErrRegister;
    }
  }
  if (l.status == kLoadStop) {
    gQXLoadAlertsOff = 1;
    return kLoadErrMemory;
  }
  if (l.reentrant) RelinkReentrantCallers(l.vi, 1);
  InsertLoadedVI(l.vi);
  R(l)->flags &= ~uInt32(0x4000000);
  if ((l.options & kLoadOpenPanel) || (R(l)->flags & kVIFlagOpenPanel)) {
    const int32 savedMode = gQXWindowOptionMode;
    if ((l.options & kLoadOpenPanel) && (R(l)->flags & kVIFlagRunWhenOpened)) gQXWindowOptionMode = 1;
    else if (l.options & kLoadPanelMode2) gQXWindowOptionMode = 2;
    OpenFrontPanel(l.vi);
    gQXWindowOptionMode = savedMode;
  }
  if (R(l)->panelHeap) viload::SendRootAction(R(l)->panelHeap, kPanelActionLoaded, true);
  if (R(l)->flags2 & kVIFlags2LogAtCompletion) R(l)->flags |= kVIFlagPanelBinding;
  if (R(l)->viKind == kVIKindDatalog && VILoadPanel().updateLogRecordCount) VILoadPanel().updateLogRecordCount(l.vi);
  // The load is over: the bit that marked it (set with the header, kept
  // through the panel's fix-up) goes, so later changes by programs (imports,
  // property calls) see it clear and restore it so.
  R(l)->flags &= ~kVIFlagLoading;
  return 0;
}

int32 RunSteps(Load& l) {
  if (int32 e = ReadHeader(l)) return e;
  if (int32 e = CheckVersion(l)) return e;
  if (int32 e = Rename(l)) return e;
  R(l)->printInfo = LoadPrintInfo(l.file, l.id, R(l)->version);
  if (R(l)->viKind == kVIKindDatalog)
    if (int32 e = ReadDatalogBinding(l)) return e;
  if (int32 e = ReadCode(l)) return e;
  if (int32 e = ReadTypes(l)) return e;
  if (int32 e = ReadStringsAndPaths(l)) return e;
  if (int32 e = ReadDataSpace(l)) return e;
  if (int32 e = RegisterTypes(l)) return e;
  if (int32 e = LoadPanelNow(l)) return e;
  if (int32 e = ReadVILinkInfo(l)) return e;
  if (int32 e = StartDataSpace(l)) return e;
  return Finish(l);
}

void Undo(Load& l) {
  if (l.livi) AZDisposeHandle(l.livi);
  l.livi = nullptr;
  if (l.stage == kStageNone) {
    if (l.vi) AZDisposeHandle(l.vi);
    if (l.path) FDisposePath(l.path);
    if (l.file) RCloseFile(l.file);
    if (gQXLoadingRsrcFile == l.file) {
      gQXLoadingRsrcFile = 0;
      gQXLoadingPath = nullptr;
    }
    return;
  }
  viinst::ClosePanelWindow(l.vi);
  Str255 name;
  PStrCpy(name, R(l)->name);
  if (l.stage >= kStageLinked) viinst::DisposePanelHeap(l.vi, 1);
  // The data space goes first, its link entry (when it has one) before it,
  // so that disposing the VI finds none to unlink.
  if (UHandle ds = R(l)->dataSpace) {
    UnlinkIfOwned(name, kLinkClassCodes[kLinkClassDataSpace], ds);
    DisposeDataSpace(AsDS(ds), 0);
    R(l)->dataSpace = nullptr;
  }
  if (l.stage >= kStageLinked && VIHasTypeRec(l.vi)) UnregisterVI(l.vi);
  CloseVIRsrcFile(l.vi);
  if (l.stage == kStageEntered) {
    UHandle vi = l.vi;
    DisposeVI(l.vi, 1);
    UnlinkIfOwned(name, kLinkClassCodes[kLinkClassVI], vi);
  } else {
    DisposeVI(l.vi, 0);
  }
}

}  // namespace

int32 LoadInstrument(Path path, int32 options, ConstPStr name, RsrcFileRef rsrcFile, UHandle* outVI,
                     Bool32 fromLibrary) {
  const int32 savedError = gQXLoadErrorCode;
  const int32 savedAlertsOff = gQXLoadAlertsOff;
  gQXLoadErrorCode = 0;
  AZRequestCompact();
  Load l{path, options, name, rsrcFile, fromLibrary};
  int32 loadError = RunSteps(l);
  int32 result = l.status;
  if (loadError) {
    if (!gQXLoadErrorCode) gQXLoadErrorCode = loadError;
    Str255 viName;
    viName[0] = 0;
    if (name) PStrCpy(viName, name);
    else if (l.vi) PStrCpy(viName, R(l)->name);
    DBPrintf("can't load vi:%p, gQXLoadErrorCode = 0x%lx", viName, gQXLoadErrorCode);
    if (!gQXLoadAlertsOff)
      SaveErrorAlert(viName, kLoadErrorStrId, kLoadErrorsListId, l.mgErr, gQXLoadErrorCode);
    Undo(l);
    l.vi = nullptr;
    if (result == kLoadFound || result == kLoadLoaded) result = kLoadFailed;
  }
  gQXLoadErrorCode = savedError;
  gQXLoadAlertsOff = savedAlertsOff;
  if (outVI) *outVI = l.vi;
  return result;
}
