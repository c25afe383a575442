// Device drivers delivered as code resources: the device table, the driver
// loader and the requests on open devices.
//
// Locks: the device-table mutex guards the table, every device's pending
// queue, use count and closing flag.  A device's driver mutex serialises the
// calls into its driver and the reading and writing of its requests' blocks.
// Order: a driver mutex may be held while the table mutex is taken, never
// the other way round (no driver mutex is taken while the table mutex is
// held).
#include <atomic>
#include <cstring>

#include "device.h"
#include "mgsource/appdirs.h"
#include "mgsource/counted_strings.h"
#include "mgsource/debug.h"
#include "mgsource/extload.h"
#include "mgsource/fourcc.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "mgsource/sorting.h"
#include "mgsource/window/winproc.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"

namespace {

constexpr ResType kDriverType = FourCC("QXSB");
constexpr uInt32 kDriverMagic = FourCC("DRVR");
constexpr uInt16 kNoNotifyId = 0xFFFF;
constexpr int32 kOpenMessage = kPlatMsgUser1;

ThMutex gTableMutex = nullptr;
UHandle gTable = nullptr;  // an HObjList of DevHandle, by name (case ignored) then unit

// The parameter block's little-endian words.
uInt16 Get16(const uChar* p) { return uInt16(p[0] | (p[1] << 8)); }
uInt32 Get32(const uChar* p) {
  return uInt32(p[0]) | (uInt32(p[1]) << 8) | (uInt32(p[2]) << 16) | (uInt32(p[3]) << 24);
}
void Put16(uChar* p, uInt16 v) {
  p[0] = uChar(v);
  p[1] = uChar(v >> 8);
}
void Put32(uChar* p, uInt32 v) {
  for (int i = 0; i < 4; ++i) p[i] = uChar(v >> (8 * i));
}
UPtr LinkOf(UPtr pb) { return reinterpret_cast<UPtr>(uintptr_t(Get32(pb + kDevPBLink))); }
void SetLink(UPtr pb, UPtr next) { Put32(pb + kDevPBLink, uInt32(reinterpret_cast<uintptr_t>(next))); }
uInt16 ResultOf(UPtr pb) { return Get16(pb + kDevPBResult); }

struct TableLock {
  TableLock() { ThMutexAcquire(gTableMutex); }
  ~TableLock() { ThMutexRelease(gTableMutex); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;
};

int32 Count() { return gTable ? *reinterpret_cast<int32*>(*gTable) : 0; }
DevHandle* Entries() { return reinterpret_cast<DevHandle*>(*gTable + 4); }

int32 CompareName(const void* a, const void* b) {
  return PStrCaseCmp((**static_cast<const DevHandle*>(a))->name, (**static_cast<const DevHandle*>(b))->name);
}
int32 CompareNameUnit(const void* a, const void* b) {
  if (int32 c = CompareName(a, b)) return c;
  return int32((**static_cast<const DevHandle*>(a))->unit) - int32((**static_cast<const DevHandle*>(b))->unit);
}

// With the table mutex held: whether the handle is an open device.
bool InTable(DevHandle device) {
  if (!gTable || !device) return false;
  return HObjListSearch(gTable, int32(reinterpret_cast<uintptr_t>(device))) >= 0;
}

// Counts a use of an open device (when it takes new requests or, for
// internal calls, whenever it is open): false when it is not.
bool BeginUse(DevHandle device, bool refuseClosing) {
  TableLock lock;
  if (!InTable(device) || (refuseClosing && (*device)->closing)) return false;
  ++(*device)->useCount;
  return true;
}

void EndUse(DevHandle device) {
  TableLock lock;
  --(*device)->useCount;
  ThEventSignal((*device)->completion);
}

// Takes the ended requests off the pending queue and fires their
// occurrences.  With the driver mutex held.
void FinishEnded(DevHandle device) {
  Occurrence fire[16];
  for (;;) {
    int32 n = 0;
    bool more = false;
    {
      TableLock lock;
      UPtr prev = nullptr;
      for (UPtr pb = (*device)->pending; pb;) {
        UPtr next = LinkOf(pb);
        if (ResultOf(pb) == kDevInProgress) {
          prev = pb;
        } else if (n == int32(sizeof fire / sizeof fire[0])) {
          more = true;
          break;
        } else {
          if (prev) SetLink(prev, next);
          else (*device)->pending = next;
          SetLink(pb, nullptr);
          if (Occurrence occ = Get32(pb + kDevPBOccur)) fire[n++] = occ;
        }
        pb = next;
      }
    }
    for (int32 i = 0; i < n; ++i) Occur(fire[i]);
    if (!more) return;
  }
}

// Takes a request off the pending queue; one still in progress ends with
// 41 and its occurrence fires.  With the driver mutex held.
void Unlink(DevHandle device, UPtr target) {
  Occurrence occ = 0;
  {
    TableLock lock;
    UPtr prev = nullptr;
    for (UPtr pb = (*device)->pending; pb; prev = pb, pb = LinkOf(pb)) {
      if (pb != target) continue;
      if (prev) SetLink(prev, LinkOf(pb));
      else (*device)->pending = LinkOf(pb);
      SetLink(pb, nullptr);
      if (ResultOf(pb) == kDevInProgress) {
        Put16(pb + kDevPBResult, uInt16(kDevAbortErr));
        occ = Get32(pb + kDevPBOccur);
      }
      break;
    }
  }
  if (occ) Occur(occ);
}

// Calls the periodic entry of a device whose use is counted.
void Prod(DevHandle device) {
  ThMutex m = (*device)->driverMutex;
  ThMutexAcquire(m);
  if ((*device)->periodic((*device)->unit)) FinishEnded(device);
  ThMutexRelease(m);
}

// Issues a request on a device whose use is counted and returns its result.
MgErr Issue(DevHandle device, UPtr pb, int32 selector, bool async, Occurrence occ) {
  ThMutex m = (*device)->driverMutex;
  ThMutexAcquire(m);
  Put32(pb + kDevPBReserved, 0);
  Put32(pb + kDevPBOccur, occ);
  Put16(pb + kDevPBWindow, uInt16(uInt32(PlatGetFrameWindow())));
  SetLink(pb, nullptr);
  Put16(pb + kDevPBUnit, uInt16((*device)->unit));
  Put16(pb + kDevPBResult, 0);
  Put32(pb + kDevPBSelector, uInt32(selector));
  (*device)->io(pb);
  if (ResultOf(pb) == kDevInProgress) {
    TableLock lock;
    SetLink(pb, (*device)->pending);
    (*device)->pending = pb;
  }
  if (!async || !DevUseAsyncCalls()) {
    while (ResultOf(pb) == kDevInProgress) Prod(device);
  }
  FinishEnded(device);
  const MgErr result = ResultOf(pb);
  ThMutexRelease(m);
  return result;
}

MgErr DriverCall(DevHandle device, UPtr pb, int32 selector, Bool32 async, Occurrence occ) {
  {
    TableLock lock;
    if (!InTable(device) || (*device)->closing) return kDevRefNumErr;
    if (!pb) return kDevParamErr;
    ++(*device)->useCount;
  }
  const MgErr result = Issue(device, pb, selector, async != 0, occ);
  EndUse(device);
  return result;
}

MgErr AbortCounted(DevHandle device, UPtr pb) {
  uChar own[kDevPBSize] = {};
  ThMutex m = (*device)->driverMutex;
  ThMutexAcquire(m);
  Issue(device, own, kDevAbort, false, 0);
  Unlink(device, pb);
  ThMutexRelease(m);
  return kNoErr;
}

// ---------------------------------------------------------------- loading

UPtr BlockWordPtr(UPtr block, int32 at) { return reinterpret_cast<UPtr>(uintptr_t(GetNative32(block + at))); }

// Whether a code address lies in the block: always for a code library (its
// code is its own), inside the block for an "MQ" image.
bool CodeIn(UPtr block, int32 extent, Bool32 library, const void* at) {
  if (!at) return false;
  if (library) return true;
  const uintptr_t a = reinterpret_cast<uintptr_t>(at), b = reinterpret_cast<uintptr_t>(block);
  return a >= b && a - b < uintptr_t(extent);
}

bool OneComponent(ConstPStr name) {
  const int32 n = name ? name[0] : 0;
  if (n == 0 || (n == 1 && name[1] == '.') || (n == 2 && name[1] == '.' && name[2] == '.')) return false;
  for (int32 i = 1; i <= n; ++i) {
    if (name[i] == '/' || name[i] == '\\' || name[i] == ':' || name[i] == 0) return false;
  }
  return true;
}

// The driver file's resource, loaded and checked: the block, or null with the
// reason reported.  The handle, the path and the file are released here.
UPtr PrepareDriver(ConstPStr name) {
  if (!OneComponent(name)) return nullptr;
  Path path = FEmptyPath(nullptr);
  RsrcFileRef ref = 0;
  uInt32 fileType = 0;
  UPtr block = nullptr;
  if (!path || GetLibDirPath(path) != kNoErr || FAppendName(path, name) != kNoErr ||
      ROpenFile(path, kRsrcReadOnly, &ref, &fileType, nullptr) != kNoErr) {
    DBPrintf("ROpenFile failed in LoadDRVR");
    ref = 0;
  } else if (fileType != kDriverType) {
    DBPrintf("file type mismatch in LoadDRVR");
  } else {
    UHandle h = nullptr;
    if (RGetNamed(ref, kDriverType, name, &h) != kNoErr || !h) {
      DBPrintf("resource not found in LoadDRVR");
    } else {
      RDetach(h);
      MgErr err = LoadExtCode(h, &block, 0, 0, 0);
      AZDisposeHandle(h);
      if (err) {
        DBPrintf("PrepExternalCode error in LoadDRVR");
        block = nullptr;
      }
    }
  }
  if (block) {
    Bool32 library = 0;
    const int32 extent = ExtCodeBlockExtent(block, &library);
    if (extent < kDrvBlockMin || GetNative32(block + kDrvMagicAt) != kDriverMagic ||
        !CodeIn(block, extent, library, BlockWordPtr(block, kDrvEntryProcAt))) {
      DBPrintf("magic ID mismatch in LoadDRVR");
      UnloadExtCode(block);
      block = nullptr;
    }
  }
  if (ref) RCloseFile(ref);
  if (path) FDisposePath(path);
  return block;
}

bool TableUsable(UPtr block, const DevEntryTable* t) {
  Bool32 library = 0;
  const int32 extent = ExtCodeBlockExtent(block, &library);
  if (!t) return false;
  if (!library) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(t), b = reinterpret_cast<uintptr_t>(block);
    if (a < b || a - b > uintptr_t(extent) - sizeof(DevEntryTable)) return false;
  }
  return CodeIn(block, extent, library, reinterpret_cast<const void*>(t->open)) &&
         CodeIn(block, extent, library, reinterpret_cast<const void*>(t->io)) &&
         CodeIn(block, extent, library, reinterpret_cast<const void*>(t->periodic)) &&
         CodeIn(block, extent, library, reinterpret_cast<const void*>(t->close));
}

const DevEntryTable* TableOf(UPtr block) {
  return reinterpret_cast<const DevEntryTable*>(BlockWordPtr(block, kDrvTableAt));
}

void DestroySync(DevHandle device) {
  if ((*device)->completion) ThEventDestroy((*device)->completion);
  if ((*device)->driverMutex) ThMutexDestroy((*device)->driverMutex);
  (*device)->completion = nullptr;
  (*device)->driverMutex = nullptr;
}

// Counts a use of the driver block off and unloads it at 0.
void ReleaseBlock(UPtr block) {
  const uInt32 uses = GetNative32(block + kDrvUseCountAt);
  if (uses > 1) {
    PutNative32(block + kDrvUseCountAt, uses - 1);
    return;
  }
  PutNative32(block + kDrvUseCountAt, 0);
  UnloadExtCode(block);
}

// Opens a new record's driver; with the table mutex held.  0 or 37 (2 when
// its event or mutex can't be made).
MgErr OpenRecord(DevHandle device) {
  UPtr block = nullptr;
  const int32 at = gTable ? BinSearch(Entries(), Count(), sizeof(DevHandle), &device, CompareName) : -1;
  DBPrintf("BinSearch of handle 0x%lx returns %ld", long(reinterpret_cast<uintptr_t>(gTable)), long(at));
  if (at >= 0) block = (*Entries()[at])->driver;
  else block = LoadDRVR((*device)->name);
  if (!block) return kDevNotFoundErr;
  const DevEntryTable* t = TableOf(block);
  DevRec* r = *device;
  r->driver = block;
  r->pending = nullptr;
  r->open = t->open;
  r->io = t->io;
  r->periodic = t->periodic;
  r->close = t->close;
  MgErr err = ThEventCreate(&r->completion, nullptr, 0);
  if (!err) err = ThMutexCreate(&r->driverMutex, nullptr);
  if (err) {
    DestroySync(device);
    if (GetNative32(block + kDrvUseCountAt) == 0) UnloadExtCode(block);
    return kMemFullErr;
  }
  r->notifyId = kNoNotifyId;
  if ((*device)->open(device, PlatGetFrameWindow(), kOpenMessage, (*device)->unit)) {
    DestroySync(device);
    if (GetNative32(block + kDrvUseCountAt) == 0) UnloadExtCode(block);
    return kDevNotFoundErr;
  }
  PutNative32(block + kDrvUseCountAt, GetNative32(block + kDrvUseCountAt) + 1);
  return kNoErr;
}

void FrameProd(uInt32 device) { ProdDriver(reinterpret_cast<DevHandle>(uintptr_t(device))); }
void FrameCommNotify(PlatWParam id) { ProdDriver(DeviceForNotifyId(uInt16(id))); }

}  // namespace

MgErr InitDeviceTable() {
  if (gTable) return kNoErr;
  if (!gTableMutex && ThMutexCreate(&gTableMutex, "DeviceTable") != kNoErr) return kMemFullErr;
  UHandle list = AZNewHClr(4);
  if (!list) return kMemFullErr;
  TableLock lock;
  gTable = list;
  return kNoErr;
}

void CloseAllDevices() {
  if (!gTableMutex) return;
  for (;;) {
    DevHandle device = nullptr;
    {
      TableLock lock;
      if (Count() == 0) break;
      device = Entries()[0];
    }
    if (DevClose(device) == kDevRefNumErr) continue;  // closed meanwhile
  }
  {
    TableLock lock;
    if (gTable) AZDisposeHandle(gTable);
    gTable = nullptr;
  }
  ThMutexDestroy(gTableMutex);
  gTableMutex = nullptr;
}

DevHandle DevOpen(ConstPStr name, int32 unit, MgErr* errOut) {
  MgErr scratch = kNoErr;
  MgErr& err = errOut ? *errOut : scratch;
  err = kNoErr;
  if (!gTableMutex || !name) {
    err = name ? kMemFullErr : kDevNotFoundErr;
    return nullptr;
  }
  DevRec key{};
  PStrCpy(key.name, name);
  key.unit = int16(unit);
  DevRec* keyPtr = &key;
  DevHandle keyHandle = &keyPtr;
  TableLock lock;
  if (!gTable) {
    err = kMemFullErr;
    return nullptr;
  }
  const int32 at = BinSearch(Entries(), Count(), sizeof(DevHandle), &keyHandle, CompareNameUnit);
  if (at >= 0) return Entries()[at];
  auto device = reinterpret_cast<DevHandle>(AZNewHClr(sizeof(DevRec)));
  if (!device) {
    err = kMemFullErr;
    return nullptr;
  }
  PStrCpy((*device)->name, name);
  (*device)->unit = int16(unit);
  err = OpenRecord(device);
  if (!err && HObjListInsert(gTable, int32(reinterpret_cast<uintptr_t>(device)), ~at) != kNoErr) {
    (*device)->close(device, (*device)->unit);
    ReleaseBlock((*device)->driver);
    DestroySync(device);
    err = kMemFullErr;
  }
  if (err) {
    AZDisposeHandle(reinterpret_cast<UHandle>(device));
    return nullptr;
  }
  return device;
}

MgErr DevWrtRd(DevHandle device, UPtr pb, Bool32 write, Bool32 async, Occurrence occ) {
  return DriverCall(device, pb, write ? kDevWrite : kDevRead, async, occ);
}

MgErr DevCtrlStat(DevHandle device, UPtr pb, Bool32 control, Bool32 async, Occurrence occ) {
  return DriverCall(device, pb, control ? kDevControl : kDevStatus, async, occ);
}

MgErr DevAbort(DevHandle device, UPtr pb, int32) {
  if (!pb) return kDevParamErr;
  if (!BeginUse(device, false)) return kDevRefNumErr;
  AbortCounted(device, pb);
  EndUse(device);
  return kNoErr;
}

MgErr DevClose(DevHandle device) {
  UPtr block = nullptr;
  int32 closeResult = 0;
  {
    TableLock lock;
    if (!InTable(device) || (*device)->closing) return kDevRefNumErr;
    (*device)->closing = 1;
    // The close's own aborts are counted as uses while they run; no other
    // call can begin once the flag is set, but prods may.
    while ((*device)->pending || (*device)->useCount) {
      while (UPtr head = (*device)->pending) {
        ++(*device)->useCount;
        ThMutexRelease(gTableMutex);
        AbortCounted(device, head);
        ThMutexAcquire(gTableMutex);
        --(*device)->useCount;
      }
      ThEventSignal((*device)->completion);
      while ((*device)->useCount && !(*device)->pending) {
        ThMutexRelease(gTableMutex);
        ThEventWait((*device)->completion);
        ThMutexAcquire(gTableMutex);
      }
    }
    closeResult = (*device)->close(device, (*device)->unit);
    block = (*device)->driver;
    ReleaseBlock(block);
    DestroySync(device);
    HObjListSearchDelete(gTable, int32(reinterpret_cast<uintptr_t>(device)));
  }
  AZDisposeHandle(reinterpret_cast<UHandle>(device));
  return closeResult ? kDevNotFoundErr : kNoErr;
}

void ProdDriver(DevHandle device) {
  if (!gTableMutex || !BeginUse(device, false)) return;
  Prod(device);
  EndUse(device);
}

DevHandle DeviceForNotifyId(uInt16 id) {
  if (!gTableMutex) return nullptr;
  TableLock lock;
  for (int32 i = 0; i < Count(); ++i) {
    if ((*Entries()[i])->notifyId == id) return Entries()[i];
  }
  return nullptr;
}

UPtr LoadDRVR(ConstPStr name) {
  UPtr block = PrepareDriver(name);
  if (!block) return nullptr;
  PutNative32(block + kDrvUseCountAt, 0);
  auto proc = reinterpret_cast<DevEntryTableProc>(BlockWordPtr(block, kDrvEntryProcAt));
  const DevEntryTable* table = proc();
  if (!TableUsable(block, table)) {
    UnloadExtCode(block);
    return nullptr;
  }
  PutNative32(block + kDrvTableAt, uInt32(reinterpret_cast<uintptr_t>(table)));
  return block;
}

void DevInstallDriverHooks() {
  WWinProcHooks hooks{};
  hooks.prodDriver = &FrameProd;
  hooks.commNotify = &FrameCommNotify;
  WSetWinProcHooks(hooks);
}

UPtr DevTestPrepareDriver(ConstPStr name) { return PrepareDriver(name); }

int32 DevTestOpenCount() {
  if (!gTableMutex) return 0;
  TableLock lock;
  return Count();
}
