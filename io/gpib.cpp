// The GPIB driver binding.
#include "io/gpib.h"

#include <valgrind/helgrind.h>

#include <cstring>
#include <mutex>
#include <string>

#include "platform/qx_dynlib.h"
#include "platform/qx_file.h"

std::atomic<uInt32> ibsta{0}, iberr{0}, ibcnt{0}, ibcntl{0};

namespace {

#define QX_GPIB_SLOT(name, n) kSlot_##name,
enum : int { QX_GPIB_ROUTINES(QX_GPIB_SLOT) kRoutineCount };
#undef QX_GPIB_SLOT
#define QX_GPIB_NAME(name, n) #name,
const char* const kRoutineNames[kRoutineCount] = {QX_GPIB_ROUTINES(QX_GPIB_NAME)};
#undef QX_GPIB_NAME
static_assert(kRoutineCount == 60, "31 traditional and 29 IEEE 488.2 routines");

enum : int { kThreadSta, kThreadErr, kThreadCnt };
const char* const kThreadNames[3] = {"ThreadIbsta", "ThreadIberr", "ThreadIbcnt"};

// The library, its status variables and the entries: written under gLock,
// read without it once an entry is seen (each is written once before its
// entry is published, and cleared only by the test reset).
std::mutex gLock;
void* gLibrary = nullptr;
const int* gUserSta = nullptr;
const int* gUserErr = nullptr;
const long* gUserCnt = nullptr;
std::atomic<void*> gEntries[kRoutineCount];
std::atomic<void*> gThreadEntries[3];
std::string gTestLibrary;

// Thread checkers: the copies are last-writer-wins, and the published
// pointers are read without the lock that wrote them.
struct Annotations {
  Annotations() {
    ANNOTATE_BENIGN_RACE_SIZED(&ibsta, sizeof ibsta, "last bound call's status");
    ANNOTATE_BENIGN_RACE_SIZED(&iberr, sizeof iberr, "last bound call's error");
    ANNOTATE_BENIGN_RACE_SIZED(&ibcnt, sizeof ibcnt, "last bound call's count");
    ANNOTATE_BENIGN_RACE_SIZED(&ibcntl, sizeof ibcntl, "last bound call's count");
    ANNOTATE_BENIGN_RACE_SIZED(&gUserSta, sizeof gUserSta, "published before the entries");
    ANNOTATE_BENIGN_RACE_SIZED(&gUserErr, sizeof gUserErr, "published before the entries");
    ANNOTATE_BENIGN_RACE_SIZED(&gUserCnt, sizeof gUserCnt, "published before the entries");
    ANNOTATE_BENIGN_RACE_SIZED(gEntries, sizeof gEntries, "entry cache, written once");
    ANNOTATE_BENIGN_RACE_SIZED(gThreadEntries, sizeof gThreadEntries, "entry cache, written once");
  }
} gAnnotations;

void FailCopies() {
  uInt32 code = uInt32(PlatLastError());
  ibsta.store(uInt32(kGpibERR), std::memory_order_relaxed);
  iberr.store(0, std::memory_order_relaxed);
  ibcnt.store(code, std::memory_order_relaxed);
  ibcntl.store(code, std::memory_order_relaxed);
}

// The identification texts agree but for the year.
bool SameIdent(const char* theirs) {
  size_t n = strnlen(theirs, sizeof kQXGPIBIdent);
  if (n != sizeof kQXGPIBIdent - 1) return false;
  for (size_t i = 0; i < n; ++i) {
    bool year = i >= size_t(kQXGPIBIdentYearOffset) && i < size_t(kQXGPIBIdentYearOffset + kQXGPIBIdentYearLength);
    if (!year && theirs[i] != kQXGPIBIdent[i]) return false;
  }
  return true;
}

// Loads and checks the library.  Under gLock.
bool Bind() {
  std::string folder, message;
  if (PlatProgramFile(&folder)) {
    size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? std::string() : folder.substr(0, slash);
  } else {
    folder.clear();
  }
  const char* name = gTestLibrary.empty() ? kQXGPIBLibraryName : gTestLibrary.c_str();
  int32_t status = 0, hostError = 0;
  void* lib = PlatLibOpen(name, folder.empty() ? nullptr : folder.c_str(), &status, &hostError, &message);
  if (!lib) return false;
  auto* sta = static_cast<const int*>(PlatLibFind(lib, "user_ibsta", &message));
  auto* err = static_cast<const int*>(PlatLibFind(lib, "user_iberr", &message));
  auto* cnt = static_cast<const long*>(PlatLibFind(lib, "user_ibcntl", &message));
  auto* ident = static_cast<const char*>(PlatLibFind(lib, kQXGPIBIdentExport, &message));
  int32_t why = kPlatErrProcNotFound;
  if (sta && err && cnt && ident) {
    if (SameIdent(ident)) {
      gLibrary = lib;
      gUserSta = sta;
      gUserErr = err;
      gUserCnt = cnt;
      return true;
    }
    why = kPlatErrModNotFound;  // a library, but not ours
  }
  PlatLibClose(lib, &message);
  PlatSetLastError(why);
  return false;
}

void* Entry(std::atomic<void*>& slot, const char* name) {
  void* e = slot.load(std::memory_order_acquire);
  if (e) return e;
  e = GetGPIBEntry(name);
  if (e) slot.store(e, std::memory_order_release);
  return e;
}

template <int Slot, class... W>
int32 Bound(W... w) {
  void* e = Entry(gEntries[Slot], kRoutineNames[Slot]);
  if (!e) {
    // The routines that give a descriptor answer a failed one: a status word
    // would read as a valid descriptor.
    if (Slot == kSlot_ibfindA || Slot == kSlot_ibdev) return -1;
    return int32(ibsta.load(std::memory_order_relaxed));
  }
  using Routine = int32(QX_GPIB_CALL*)(W...);
  int32 result = reinterpret_cast<Routine>(e)(w...);
  uInt32 count = uInt32(__atomic_load_n(gUserCnt, __ATOMIC_RELAXED));
  ibsta.store(uInt32(__atomic_load_n(gUserSta, __ATOMIC_RELAXED)), std::memory_order_relaxed);
  iberr.store(uInt32(__atomic_load_n(gUserErr, __ATOMIC_RELAXED)), std::memory_order_relaxed);
  ibcnt.store(count, std::memory_order_relaxed);
  ibcntl.store(count, std::memory_order_relaxed);
  return result;
}

int32 ThreadStatus(int which) {
  void* e = Entry(gThreadEntries[which], kThreadNames[which]);
  if (!e) return kGPIBNoThreadStatus;
  return reinterpret_cast<int32(QX_GPIB_CALL*)()>(e)();
}

}  // namespace

void* GetGPIBEntry(const char* routine) {
  std::lock_guard<std::mutex> hold(gLock);
  if (!gLibrary && !Bind()) {
    FailCopies();
    return nullptr;
  }
  std::string message;
  void* e = PlatLibFind(gLibrary, routine, &message);
  if (!e) FailCopies();
  return e;
}

#define QX_GPIB_ARGS_1 a1.word
#define QX_GPIB_ARGS_2 QX_GPIB_ARGS_1, a2.word
#define QX_GPIB_ARGS_3 QX_GPIB_ARGS_2, a3.word
#define QX_GPIB_ARGS_4 QX_GPIB_ARGS_3, a4.word
#define QX_GPIB_ARGS_5 QX_GPIB_ARGS_4, a5.word
#define QX_GPIB_ARGS_6 QX_GPIB_ARGS_5, a6.word
#define QX_GPIB_DEFINE(name, n) \
  int32 name(QX_GPIB_PARAMS_##n) { return Bound<kSlot_##name>(QX_GPIB_ARGS_##n); }
QX_GPIB_ROUTINES(QX_GPIB_DEFINE)
#undef QX_GPIB_DEFINE

int32 ThreadIbsta() { return ThreadStatus(kThreadSta); }
int32 ThreadIberr() { return ThreadStatus(kThreadErr); }
int32 ThreadIbcnt() { return ThreadStatus(kThreadCnt); }

void GPIBSetLibraryForTest(const char* name) {
  std::lock_guard<std::mutex> hold(gLock);
  gTestLibrary = name ? name : "";
}

void GPIBUnbindForTest() {
  std::lock_guard<std::mutex> hold(gLock);
  for (auto& e : gEntries) e.store(nullptr);
  for (auto& e : gThreadEntries) e.store(nullptr);
  if (gLibrary) {
    std::string message;
    PlatLibClose(gLibrary, &message);
  }
  gLibrary = nullptr;
  gUserSta = gUserErr = nullptr;
  gUserCnt = nullptr;
}

// The diagram's GPIB functions.
#include <cstdint>

#include "io/gpibsup.h"
#include "mgsource/datetime.h"
#include "mgsource/memory.h"

const GPIBMiscCommand kGPIBMiscTable[kGPIBMiscCommands] = {
    {"cac", kMiscFlag}, {"cmd", kMiscBytes},       {"dma", kMiscFlag},  {"gts", kMiscFlag},
    {"ist", kMiscFlag}, {"llo", kMiscNone},        {"loc", kMiscOptAddress}, {"off", kMiscAddress},
    {"pct", kMiscAddress}, {"ppc", kMiscByteAddress}, {"ppu", kMiscNone}, {"rpp", kMiscNone},
    {"rsc", kMiscFlag}, {"rsv", kMiscByte},        {"sic", kMiscNone},  {"sre", kMiscFlag},
};

namespace {

enum : uInt32 { kPhaseAll = 0, kPhaseStart = 1, kPhaseContinue = 2, kPhaseAbort = 3 };
constexpr uInt32 kNoUnit = kMemFullErr;  // the functions' "no unit record for the board"
// Every function below holds its board's unit (GPIBUnitHold) for the whole
// call, so a close of the unit by another clump waits until the call is done.

// The bytes a handle really holds past its count word.
int32 Room(UHandle h) {
  int32 size = h && *h ? DSGetHandleSize(h) : 0;
  return size > 4 ? size - 4 : 0;
}
int32 StrLen(LStrHandle h) {
  if (!h || !*h) return 0;
  int32 n = LStrLen(*h), room = Room(reinterpret_cast<UHandle>(h));
  return n < room ? n : room;
}
// Sets a string handle's length, growing the handle when it lacks the
// room (new bytes cleared with clear); a handle keeps its room when its
// length is cut, so a node that writes or reads the same way each time
// resizes nothing.  0 or a memory error.
MgErr SetStrLen(LStrHandle h, int32 n, bool clear) {
  UHandle u = reinterpret_cast<UHandle>(h);
  int32 old = StrLen(h);
  if (Room(u) < n) {
    if (MgErr err = clear ? DSSetHSzClr(u, 4 + n) : DSSetHandleSize(u, 4 + n)) return err;
  }
  if (clear && n > old) std::memset(LStrBuf(*h) + old, 0, size_t(n - old));
  (*h)->cnt = n;
  return kNoErr;
}

// The end of a wait: the record's status and array; the error is the
// thread's driver error when the status has ERR.
MgErr Store(GPIBCallRec* rec, UHandle statusArray, uInt32 status, bool readError = true) {
  rec->status = uInt16(status);
  if (readError) rec->error = (status & kGpibERR) ? uInt32(ThreadIberr()) : 0;
  return statusArray ? StatusToArray(statusArray, status) : kNoErr;
}
// No descriptor: ERR and error 0.
MgErr NoDescriptor(GPIBCallRec* rec, UHandle statusArray) {
  rec->error = 0;
  return Store(rec, statusArray, kGpibERR, false);
}

// The descriptor of an address: the board's (system controller wished)
// for 0xFFFF, else the device's.
int32 Descriptor(int32 board, GPIBAddress address, uInt32 limit, int32 eot, int32 eos, GPIBUnit* unit) {
  if (address == kGPIBNoDevice) return OpenBoardDescriptor(board, kGPIBNoDevice, limit, eot, eos, unit, 1);
  return GetDeviceDescriptor(board, address, limit, eot, eos, unit);
}

// now + limit (the default's for 0xFFFFFFFF); 0 for no limit; a computed
// 0 is made 1.
uInt32 Deadline(uInt32 limit) {
  if (limit == kGPIBDefaultLimit) limit = SetGPIBTimeout(kGPIBDefaultLimit);
  if (limit == 0) return 0;
  uInt32 d = MilliSecs() + limit;
  return d ? d : 1;
}
bool Passed(uInt32 deadline) { return deadline && MillisecCmp(MilliSecs(), deadline) >= 0; }

// The end of a restartable transfer that lacks CMPL: a passed deadline
// (phase 2) or an abort (phase 3) stops it, and the stopped transfer ends
// in this call.
uInt32 StopIfDue(uInt32 phase, uInt32 deadline, int32 ud, uInt32 status) {
  if (status & kGpibCMPL) return status;
  if (phase == kPhaseContinue && Passed(deadline)) return status | uInt32(ibstop(ud)) | kGpibTIMO;
  if (phase == kPhaseAbort) return status | uInt32(ibstop(ud));
  return status;
}

// A diagram call starts with its record's pending flag and error cleared and
// the board's unit held until the call returns.
class CallHold : public GPIBUnitHold {
 public:
  CallHold(int32 board, GPIBCallRec* rec) : GPIBUnitHold(Cleared(rec, board)) {}

 private:
  static int32 Cleared(GPIBCallRec* rec, int32 board) {
    rec->pending = 0;
    rec->error = 0;
    return board;
  }
};

// Polls the transfer a previous call started on the unit; -1 when none was.
int32 ResumePending(GPIBUnit* unit, uInt32& status) {
  int32 ud = unit->pendingDescriptor;
  if (ud >= 0) status = uInt32(ibwait(ud, 0));
  return ud;
}

// Stops a transfer that is due and, when it is over, gathers its outcome in
// status and forgets it: true.  A transfer still running leaves the call
// pending: false.
bool TransferEnded(GPIBUnit* unit, GPIBCallRec* rec, uInt32 phase, int32 ud, uInt32& status) {
  status = StopIfDue(phase, rec->deadline, ud, status);
  if (!(status & kGpibCMPL)) {
    rec->pending = 1;
    return false;
  }
  // A transfer that ran asynchronously reports its outcome through ibwait.
  if (phase != kPhaseAll && unit->asyncAllowed) status |= uInt32(ibwait(ud, kGpibCMPL));
  unit->pendingDescriptor = -1;
  return true;
}

}  // namespace

MgErr TradGPIBInit(int32 board, uInt16 boardAddress, uInt32 flags, GPIBCallRec* rec) {
  CallHold held(board, rec);
  GPIBUnit* unit = held.unit();
  if (!unit) return kNoUnit;
  int32 ud = OpenBoardDescriptor(board, boardAddress, kGPIBDefaultLimit, -1, -1, unit, flags & 1);
  if (ud < 0) {
    rec->status = uInt16(kGpibERR);
    return kNoErr;
  }
  unit->repeatAddressing = (flags & 16) ? 16 : 0;
  uInt32 status = uInt32(ibconfig(ud, kGpibOptRepeatAddressing, (flags & 16) ? 1 : 0));
  if (flags & 1) {
    status = uInt32(ibrsc(ud, 1));
    if (!unit->ifcDone) status = uInt32(ibsic(ud));
    unit->ifcDone = 1;
    if (flags & 2) {
      unit->remoteEnable = 1;
      status = uInt32(ibsre(ud, 1));
    } else {
      unit->remoteEnable = 0;
    }
  } else {
    status = uInt32(ibrsc(ud, 0));
    unit->ifcDone = 1;
  }
  ibist(ud, (flags & 4) ? 1 : 0);
  status = uInt32(ibdma(ud, (flags & 8) ? 0 : 1));
  rec->status = uInt16(status);
  rec->error = (status & kGpibERR) ? uInt32(ThreadIberr()) : 0;
  return kNoErr;
}

MgErr TradGPIBStatus(int32 board, UHandle statusArray, GPIBCallRec* rec) {
  CallHold held(board, rec);
  GPIBUnit* unit = held.unit();
  if (!unit) return kNoUnit;
  rec->lastError = uInt16(ThreadIberr());
  rec->count = uInt32(ThreadIbcnt());
  int32 ud = OpenBoardDescriptor(board, kGPIBNoDevice, 0, -1, -1, unit, 1);
  if (ud < 0) return NoDescriptor(rec, statusArray);
  return Store(rec, statusArray, uInt32(ibwait(ud, 0)));
}

MgErr TradGPIBWrite(int32 board, uInt16 address, LStrHandle data, uInt32 limit, int32 mode, UHandle statusArray,
                    GPIBCallRec* rec) {
  CallHold held(board, rec);
  GPIBUnit* unit = held.unit();
  if (!unit) return kNoUnit;
  uInt32 phase = rec->phase;
  if (phase == kPhaseStart && !unit->asyncAllowed) phase = kPhaseAll;
  int32 ud;
  int32 length;  // the caller's length, without the terminators
  uInt32 status;
  if (phase <= kPhaseStart) {
    length = StrLen(data);
    static const char* const kTerm[7] = {"", "\r", "\n", "\r\n", "\r", "\n", "\r\n"};
    const char* term = mode >= 0 && mode <= 6 ? kTerm[mode] : "";
    int32 t = int32(std::strlen(term));
    if (data && t) {
      if (MgErr err = SetStrLen(data, length + t, false)) return err;
      std::memcpy(LStrBuf(*data) + length, term, size_t(t));
    }
    int32 total = length + t;
    ud = Descriptor(board, address, limit, mode < 4 ? 1 : 0, -1, unit);
    if (ud < 0) {
      if (data && t) SetStrLen(data, length, false);
      return NoDescriptor(rec, statusArray);
    }
    if (total == 0) {
      status = uInt32(ibwait(ud, 0));
    } else if (phase == kPhaseAll) {
      status = uInt32(ibwrt(ud, LStrBuf(*data), total));
    } else {
      status = uInt32(ibwrta(ud, LStrBuf(*data), total));
      if ((status & kGpibERR) && ThreadIberr() == kGpibErrNoAsync) {
        unit->asyncAllowed = 0;  // for good, until the unit closes
        status = uInt32(ibwrt(ud, LStrBuf(*data), total));
      }
    }
    if (!(status & kGpibCMPL)) {
      unit->pendingDescriptor = ud;
      unit->pendingUnterminated = uInt32(length);
      unit->pendingLength = uInt32(total);
      rec->deadline = Deadline(limit);
    }
  } else {
    ud = ResumePending(unit, status);
    if (ud < 0) return NoDescriptor(rec, statusArray);  // nothing was started
    length = int32(unit->pendingUnterminated);
  }
  if (!TransferEnded(unit, rec, phase, ud, status)) return kNoErr;
  if (data && *data && StrLen(data) > length) SetStrLen(data, length, false);
  return Store(rec, statusArray, status);
}

MgErr TradGPIBRead(int32 board, uInt16 address, LStrHandle buffer, uInt32 limit, int32 mode, uInt32 count,
                   UHandle statusArray, GPIBCallRec* rec) {
  CallHold held(board, rec);
  GPIBUnit* unit = held.unit();
  if (!unit) return kNoUnit;
  if (!buffer || !*buffer) {
    rec->error = kGPIBBadArgErr;
    return kNoErr;
  }
  if (count > 0x7FFFFFFBu) return kMemFullErr;
  uInt32 phase = rec->phase;
  if (phase == kPhaseStart && !unit->asyncAllowed) phase = kPhaseAll;
  int32 ud;
  uInt32 status;
  if (phase <= kPhaseStart) {
    if (StrLen(buffer) < int32(count)) {
      if (MgErr err = SetStrLen(buffer, int32(count), true)) return err;
    }
    int32 eos = mode == 0 ? 0 : mode == 1 ? 0x140D : mode == 2 ? 0x140A : 0x1400 | (mode & 0xFF);
    ud = Descriptor(board, address, limit, -1, eos, unit);
    if (ud < 0) return NoDescriptor(rec, statusArray);
    if (phase == kPhaseAll) {
      status = uInt32(ibrd(ud, LStrBuf(*buffer), int32(count)));
    } else {
      status = uInt32(ibrda(ud, LStrBuf(*buffer), int32(count)));
      if ((status & kGpibERR) && ThreadIberr() == kGpibErrNoAsync) {
        unit->asyncAllowed = 0;
        status = uInt32(ibrd(ud, LStrBuf(*buffer), int32(count)));
      }
    }
    if (!(status & kGpibCMPL)) {
      unit->pendingDescriptor = ud;
      rec->deadline = Deadline(limit);
    }
  } else {
    ud = ResumePending(unit, status);
    if (ud < 0) return NoDescriptor(rec, statusArray);
  }
  if (!TransferEnded(unit, rec, phase, ud, status)) return kNoErr;
  int32 got = ThreadIbcnt();
  int32 driverError = ThreadIberr();
  if (((status & kGpibERR) && driverError == kGpibErrSystem) || got < 0) got = 0;
  if (StrLen(buffer) > got) SetStrLen(buffer, got, false);
  return Store(rec, statusArray, status);
}

MgErr TradGPIBTrg(int32 board, uInt16 address, UHandle statusArray, GPIBCallRec* rec) {
  CallHold held(board, rec);
  GPIBUnit* unit = held.unit();
  if (!unit) return kNoUnit;
  if (address == kGPIBNoDevice) {
    rec->error = kGPIBTriggerNoAddressErr;
    return Store(rec, statusArray, kGpibERR, false);
  }
  int32 ud = GetDeviceDescriptor(board, address, kGPIBDefaultLimit, -1, -1, unit);
  if (ud < 0) return NoDescriptor(rec, statusArray);
  return Store(rec, statusArray, uInt32(ibtrg(ud)));
}

MgErr TradGPIBClr(int32 board, uInt16 address, UHandle statusArray, GPIBCallRec* rec) {
  CallHold held(board, rec);
  GPIBUnit* unit = held.unit();
  if (!unit) return kNoUnit;
  int32 ud = Descriptor(board, address, kGPIBDefaultLimit, -1, -1, unit);
  if (ud < 0) return NoDescriptor(rec, statusArray);
  return Store(rec, statusArray, uInt32(ibclr(ud)));
}

MgErr TradGPIBSPoll(int32 board, uInt16 address, uInt16* pollByte, UHandle statusArray, GPIBCallRec* rec) {
  CallHold held(board, rec);
  GPIBUnit* unit = held.unit();
  if (!unit) return kNoUnit;
  uInt16 byteOut = 0xFFFF;
  MgErr err;
  int32 ud = address == kGPIBNoDevice ? -1 : GetDeviceDescriptor(board, address, kGPIBDefaultLimit, -1, -1, unit);
  if (ud < 0) {
    err = NoDescriptor(rec, statusArray);
  } else {
    uChar byte = 0;
    uInt32 status = uInt32(ibrsp(ud, &byte));
    if (!(status & kGpibERR)) {
      if (byte & 0x40) status |= kGpibRQS;
      byteOut = byte;
    }
    err = Store(rec, statusArray, status);
  }
  if (pollByte) *pollByte = byteOut;
  return err;
}

MgErr TradGPIBWait(int32 board, uInt16 address, uInt16* pollByte, uInt32 limit, UHandle maskArray,
                   UHandle statusArray, GPIBCallRec* rec) {
  CallHold held(board, rec);
  GPIBUnit* unit = held.unit();
  if (!unit) return kNoUnit;
  if (rec->phase == kPhaseStart) {
    uInt32 mask = maskArray ? ArrayToMask(maskArray) : rec->waitMask;
    rec->waitMask = uInt16(mask);
    rec->savedDevice = (mask & kGpibRQS) && address != kGPIBNoDevice
                           ? GetDeviceDescriptor(board, address, 0, -1, -1, unit)
                           : -1;
    rec->savedBoard = OpenBoardDescriptor(board, kGPIBNoDevice, 0, -1, -1, unit, 1);
    rec->deadline = (mask & kGpibTIMO) ? Deadline(limit) : 0;
  }
  uInt32 mask = rec->waitMask;
  int32 bd = rec->savedBoard, dd = rec->savedDevice;
  uInt16 byteOut = 0xFFFF;
  if (bd < 0) {
    if (pollByte) *pollByte = byteOut;
    return NoDescriptor(rec, statusArray);
  }
  uInt32 status = uInt32(ibwait(bd, 0));
  if (dd >= 0) status |= uInt32(ibwait(dd, 0));
  if (dd >= 0 && (status & (kGpibSRQI | kGpibRQS))) {
    uChar byte = 0;
    status |= uInt32(ibrsp(dd, &byte));
    if (byte & 0x40) {
      status |= kGpibRQS;
      byteOut = byte;
    }
  }
  if (mask && !(status & mask)) {
    if (rec->phase == kPhaseContinue && (mask & kGpibTIMO) && Passed(rec->deadline)) status |= kGpibTIMO;
    // An abort ends the wait as it stands: without a deadline the bit it
    // waits for may never come, and the aborting clump must finish.
    if (!(status & mask) && rec->phase != kPhaseAbort) {
      rec->pending = 1;
      if (pollByte) *pollByte = byteOut;
      return kNoErr;
    }
  }
  if (uInt32 bits = status & mask & (kGpibDTAS | kGpibDCAS)) ibwait(bd, int32(bits));
  if (pollByte) *pollByte = byteOut;
  return Store(rec, statusArray, status);
}

MgErr TradGPIBMisc(int32 board, int32 command, uInt16 address, const uChar* bytes, UHandle result,
                   UHandle statusArray, GPIBCallRec* rec) {
  CallHold held(board, rec);
  GPIBUnit* unit = held.unit();
  if (!unit) return kNoUnit;
  bool sic = command == kMiscSic;
  int32 bd = OpenBoardDescriptor(board, kGPIBNoDevice, 0, -1, -1, unit, !sic);
  if (bd >= 0 && !sic && !unit->ifcDone) {
    ibsic(bd);
    unit->ifcDone = 1;
    if (unit->remoteEnable) ibsre(bd, 1);
  }
  if (command < 0 || command >= kGPIBMiscCommands) {
    rec->error = kGPIBUnknownMiscErr;
    return Store(rec, statusArray, kGpibERR, false);
  }
  if (bd < 0) return NoDescriptor(rec, statusArray);
  int32 value = rec->value;
  auto device = [&]() { return Descriptor(board, address, kGPIBDefaultLimit, -1, -1, unit); };
  uInt32 status = 0;
  switch (command) {
    case kMiscCac: status = uInt32(ibcac(bd, value)); break;
    case kMiscCmd: status = uInt32(ibcmd(bd, bytes, int32(rec->count))); break;
    case kMiscDma: status = uInt32(ibdma(bd, value)); break;
    case kMiscGts: status = uInt32(ibgts(bd, value)); break;
    case kMiscIst: status = uInt32(ibist(bd, value)); break;
    case kMiscLlo: {
      static const uChar kLlo = 0x11;
      status = uInt32(ibcmd(bd, &kLlo, 1));
      break;
    }
    case kMiscPpu: {
      static const uChar kPpu = 0x15;
      status = uInt32(ibcmd(bd, &kPpu, 1));
      break;
    }
    case kMiscLoc:
    case kMiscPct:
    case kMiscPpc: {
      int32 ud = device();
      if (ud < 0) return NoDescriptor(rec, statusArray);
      status = uInt32(command == kMiscLoc ? ibloc(ud) : command == kMiscPct ? ibpct(ud) : ibppc(ud, value));
      break;
    }
    case kMiscOff:
      if (address != kGPIBNoDevice) {
        CloseDeviceDescriptor(board, unit, address);
      } else {
        ibonl(bd, 0);
        unit->boardDescriptor = -1;
      }
      status = uInt32(ThreadIbsta());
      break;
    case kMiscRpp: {
      if (!result) {
        rec->error = kGPIBBadArgErr;
        return kNoErr;
      }
      uChar byte = 0;
      status = uInt32(ibrpp(bd, &byte));
      if (MgErr err = DSSetHandleSize(result, 5)) return err;
      int32 one = 1;
      std::memcpy(*result, &one, 4);
      (*result)[4] = byte;
      break;
    }
    case kMiscRsc:
      status = uInt32(ibrsc(bd, value));
      unit->systemController = uInt16(value != 0);
      unit->ifcDone = value == 0;
      break;
    case kMiscRsv: status = uInt32(ibrsv(bd, value)); break;
    case kMiscSic:
      status = uInt32(ibsic(bd));
      unit->ifcDone = 1;
      if (unit->remoteEnable) status = uInt32(ibsre(bd, 1));
      break;
    case kMiscSre: status = uInt32(ibsre(bd, value)); break;
  }
  return Store(rec, statusArray, status);
}

void ParseMiscString(LStrHandle text, uInt32* board, int32* command, uInt16* address, int16* value,
                     const uChar** bytes, uInt32* count, uInt32* error) {
  uInt32 outBoard = 0, outCount = 0, err = 0;
  int32 outCommand = kMiscNoCommand;
  uInt16 outAddress = kGPIBNoDevice;
  int16 outValue = 0;
  const uChar* outBytes = nullptr;
  int32 n = StrLen(text);
  const uChar* s = n ? LStrBuf(*text) : nullptr;
  int32 i = 0;
  auto blanks = [&] {
    while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
  };
  auto digit = [&] { return i < n && s[i] >= '0' && s[i] <= '9'; };
  // Digits up to the first other character, which is consumed; -1 none.
  auto number = [&](uChar* next) {
    int32 v = -1;
    while (digit()) v = (v < 0 ? 0 : v > 1000 ? 1000 : v) * 10 + (s[i++] - '0');
    *next = i < n ? s[i++] : 0;
    return v;
  };
  auto parse = [&]() -> bool {
    if (n == 0) return false;
    blanks();
    if (digit()) {
      int32 v = 0;
      while (digit()) v = (v > 1000 ? 1000 : v) * 10 + (s[i++] - '0');
      if (i >= n || s[i] != ':' || v > 999) return false;
      ++i;
      outBoard = uInt32(v);
    }
    blanks();
    if (n - i < 3) return false;
    for (int32 k = 0; k < kGPIBMiscCommands; ++k) {
      if (std::memcmp(s + i, kGPIBMiscTable[k].name, 3) == 0) outCommand = k;
    }
    if (outCommand == kMiscNoCommand) return false;
    i += 3;
    GPIBMiscArg arg = kGPIBMiscTable[outCommand].arg;
    bool readAddress = arg == kMiscAddress;
    switch (arg) {
      case kMiscFlag:
        blanks();
        if (i >= n || (s[i] != '0' && s[i] != '1')) return false;
        outValue = int16(s[i++] - '0');
        break;
      case kMiscBytes:
        if (i >= n || s[i] != ' ') return false;
        outBytes = s + i + 1;
        outCount = uInt32(n - i - 1);
        break;
      case kMiscByte:
      case kMiscByteAddress:
        // A space, then the byte: both must be there.
        if (n - i < 2 || s[i] != ' ') return false;
        outValue = int16(s[i + 1]);
        i += 2;
        if (arg == kMiscByte) break;
        [[fallthrough]];
      case kMiscOptAddress: {
        int32 j = i;
        while (j < n && (s[j] == ' ' || s[j] == '\t')) ++j;
        readAddress = j < n;
        break;
      }
      default:
        break;
    }
    if (!readAddress) return true;
    blanks();
    uChar next = 0;
    int32 primary = number(&next);
    if (primary < 0) return outCommand == kMiscOff;
    if (primary >= 31) return false;
    int32 secondary = next == '+' ? number(&next) : -1;
    if (secondary >= 31) return false;
    outAddress = uInt16(primary | (secondary >= 0 ? (secondary + 0x60) << 8 : 0));
    return true;
  };
  if (!parse()) {
    err = kGPIBBadArgErr;
    outAddress = kGPIBNoDevice;
  }
  if (board) *board = outBoard;
  if (command) *command = outCommand;
  if (address) *address = outAddress;
  if (value) *value = outValue;
  if (bytes) *bytes = outBytes;
  if (count) *count = outCount;
  if (error) *error = err;
}

namespace {

// An address list handle made ready for the driver: grown to 2 x count + 6
// bytes with 0xFFFF after the last address.  38 when the handle is missing
// or does not hold its count; a memory error when it cannot grow.
MgErr OpenList(UHandle h, int32* count) {
  if (!h || !*h || DSGetHandleSize(h) < 4) return kGPIBBadArgErr;
  int32 n = 0;
  std::memcpy(&n, *h, 4);
  int64_t held = int64_t(DSGetHandleSize(h)) - 4;
  if (n < 0 || 2 * int64_t(n) > held) return kGPIBBadArgErr;
  int64_t need = 2 * int64_t(n) + 6;
  if (need > INT32_MAX) return kMemFullErr;
  if (MgErr err = DSSetHandleSize(h, int32(need))) return err;
  static const uInt16 kEnd = 0xFFFF;
  std::memcpy(*h + 4 + 2 * n, &kEnd, 2);
  *count = n;
  return kNoErr;
}
// Back to what the caller gave: 2 x count + 4 bytes.
void CloseList(UHandle h, int32 count) {
  if (h && *h) DSSetHandleSize(h, 2 * count + 4);
}
uInt16* ListOf(UHandle h) { return reinterpret_cast<uInt16*>(*h + 4); }

// A result list of n entries, its count set.
MgErr SizeResults(UHandle h, int64_t n) {
  if (!h) return kGPIBBadArgErr;
  if (n < 0 || 2 * n + 4 > INT32_MAX) return kMemFullErr;
  if (MgErr err = DSSetHSzClr(h, int32(2 * n + 4))) return err;
  int32 c = int32(n);
  std::memcpy(*h, &c, 4);
  return kNoErr;
}

// Bytes (or items) the driver reports: none when it failed with a system
// error.
int32 Received(uInt32 status) {
  int32 got = ThreadIbcnt();
  if (((status & kGpibERR) && ThreadIberr() == kGpibErrSystem) || got < 0) got = 0;
  return got;
}

// A receive buffer grown (cleared) to count bytes when shorter.
MgErr ReceiveBuffer(LStrHandle h, uInt32 count) {
  if (!h || !*h) return kGPIBBadArgErr;
  if (count > 0x7FFFFFFBu) return kMemFullErr;
  if (StrLen(h) < int32(count)) return SetStrLen(h, int32(count), true);
  return kNoErr;
}

const uInt16 kNoAddressList[1] = {0xFFFF};

// Codes whose address list must be there, whose result list must be, and
// which send the buffer.
bool NeedsList(int32 code) {
  switch (code) {
    case 10: case 12: case 13: case 15: case 16: case 21: case 26: case 31: case 33: case 34: case 37: case 39:
      return true;
    default:
      return false;
  }
}
bool NeedsResults(int32 code) { return code == 10 || code == 15 || code == 37; }
bool Sends(int32 code) { return code == 27 || code == 28 || code == 29 || code == 31; }

// Interface clear, then remote enable for every device; the unit keeps that
// it went out.
void ClearInterface(int32 board, GPIBUnit* unit) {
  SendIFC(board);
  EnableRemote(board, kNoAddressList);
  unit->ifcDone = 1;
}

// Ends a call refused before any routine ran: an opened address list goes
// back to the caller's size; err goes to the record when it is the code the
// record carries (recorded), else the call returns it.
MgErr Refuse(GPIBCallRec* rec, UHandle list, bool haveList, int32 n, MgErr err,
             uInt32 recorded = kGPIBBadArgErr) {
  if (haveList) CloseList(list, n);
  if (err != MgErr(recorded)) return err;
  rec->error = recorded;
  return kNoErr;
}

}  // namespace

MgErr GPIB4882(int32 board, UHandle statusArray, int32 code, GPIBCallRec* rec) {
  CallHold held(board, rec);
  GPIBUnit* unit = held.unit();
  if (!unit) return kNoUnit;
  if (unit->boardDescriptor < 0 || unit->boardCode != GPIBTimeCode(kGPIBDefaultLimit)) {
    OpenBoardDescriptor(board, kGPIBNoDevice, kGPIBDefaultLimit, -1, -1, unit, code != 30);
  }
  if (code != 30 && !unit->ifcDone) ClearInterface(board, unit);
  // The diagram's lists and buffers, checked before any routine runs.
  UHandle list = rec->addressList, results = rec->resultList;
  int32 n = 0;
  bool haveList = false;
  if (NeedsList(code) || (code == 14 && list)) {
    if (MgErr err = OpenList(list, &n)) return Refuse(rec, list, false, n, err);
    haveList = true;
  }
  if (NeedsResults(code) && !results) return Refuse(rec, list, haveList, n, kGPIBBadArgErr);
  if (Sends(code) && (!rec->buffer || !*rec->buffer)) {
    return Refuse(rec, list, haveList, n, kGPIBNoSendBufferErr, kGPIBNoSendBufferErr);
  }
  MgErr err = kNoErr;
  if (code == 10 || code == 37) err = SizeResults(results, n);
  else if (code == 15) err = SizeResults(results, 30 * int64_t(n));
  else if (code == 22 || code == 24) err = ReceiveBuffer(rec->buffer, rec->count);
  if (err) return Refuse(rec, list, haveList, n, err);
  const uInt16* addrs = haveList ? ListOf(list) : kNoAddressList;
  uInt16* res = NeedsResults(code) ? ListOf(results) : nullptr;
  const uChar* sendBytes = Sends(code) ? LStrBuf(*rec->buffer) : nullptr;
  int32 sendLength = Sends(code) ? StrLen(rec->buffer) : 0;
  int16 result = 0;
  bool called = true;
  switch (code) {
    case 10: AllSpoll(board, addrs, res); break;
    case 11: DevClear(board, rec->address); break;
    case 12: DevClearList(board, addrs); break;
    case 13: EnableLocal(board, addrs); break;
    case 14: EnableRemote(board, addrs); break;
    case 15: FindLstn(board, addrs, res, 30 * n); break;  // the result list's room
    case 16: FindRQS(board, addrs, &result); break;
    case 18: PassControl(board, rec->address); break;
    case 19: PPoll(board, &result); break;
    case 20: PPollConfig(board, rec->address, rec->mode, rec->limit); break;
    case 21: PPollUnconfig(board, addrs); break;
    case 22: RcvRespMsg(board, LStrBuf(*rec->buffer), int32(rec->count), rec->mode); break;
    case 23: ReadStatusByte(board, rec->address, &result); break;
    case 24: Receive(board, rec->address, LStrBuf(*rec->buffer), int32(rec->count), rec->mode); break;
    case 25: ReceiveSetup(board, rec->address); break;
    case 26: ResetSys(board, addrs); break;
    case 27: Send(board, rec->address, sendBytes, sendLength, rec->mode); break;
    case 28: SendCmds(board, sendBytes, sendLength); break;
    case 29: SendDataBytes(board, sendBytes, sendLength, rec->mode); break;
    case 30: ClearInterface(board, unit); break;
    case 31: SendList(board, addrs, sendBytes, sendLength, rec->mode); break;
    case 32: SendLLO(board); break;
    case 33: SendSetup(board, addrs); break;
    case 34: SetRWLS(board, addrs); break;
    case 36: TestSRQ(board, &result); break;
    case 37: TestSys(board, addrs, res); break;
    case 38: Trigger(board, rec->address); break;
    case 39: TriggerList(board, addrs); break;
    case 40: WaitSRQ(board, &result); break;  // blocks this thread up to the board's limit
    default: called = false; break;           // 17, 35 and unknown codes
  }
  if (haveList) CloseList(list, n);
  uInt32 status = called ? uInt32(ThreadIbsta()) & 0xFFFF : 0;
  switch (code) {
    case 10:
    case 37:
      rec->count = uInt32(ThreadIbcnt());
      break;
    case 15: {
      int32 found = Received(status);
      if (found > 30 * n) found = 30 * n;
      SizeResults(results, found);  // shrinking
      rec->count = uInt32(found);
      break;
    }
    case 16:
      rec->result = uInt16(result);
      rec->count = uInt32(ThreadIbcnt());
      break;
    case 19: case 23: case 36: case 40:
      rec->result = uInt16(result);
      break;
    case 22:
    case 24: {
      int32 got = Received(status);
      if (StrLen(rec->buffer) > got) SetStrLen(rec->buffer, got, false);
      rec->count = uInt32(got);
      break;
    }
    case 27: case 28: case 29: case 31:
      rec->count = uInt32(ThreadIbcnt());
      break;
    default:
      break;
  }
  return Store(rec, statusArray, status, called);
}

MgErr GPIB4882WaitSRQ(int32 board, UHandle statusArray, GPIBCallRec* rec) {
  CallHold held(board, rec);
  GPIBUnit* unit = held.unit();
  if (!unit) return kNoUnit;
  int16 result = 0;
  TestSRQ(board, &result);
  rec->result = uInt16(result);
  uInt32 status = uInt32(ThreadIbsta()) & 0xFFFF;
  uInt32 error = uInt32(ThreadIberr());
  if (!(status & kGpibERR) && !result) {
    if (rec->phase == kPhaseStart) {
      rec->deadline = Deadline(kGPIBDefaultLimit);
      rec->pending = 1;
      return kNoErr;
    }
    if (rec->phase == kPhaseContinue && Passed(rec->deadline)) {
      status |= kGpibERR | kGpibTIMO;
      error = kGpibErrTimeout;
    } else if (rec->phase != kPhaseAbort) {
      rec->pending = 1;  // phase 0 waits as phase 2 does
      return kNoErr;
    }
  }
  if (status & kGpibERR) rec->error = error;
  return Store(rec, statusArray, status, false);
}
