// GPIB addresses, board units and descriptors.
#include "io/gpibsup.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "io/gpib.h"
#include "mgsource/config.h"
#include "mgsource/memory.h"

const uInt32 kGPIBTimeLimits[kGPIBTimeCodes] = {0,   0,    0,    0,     0,     1,      3,      10,     30,
                                                100, 300, 1000, 3000, 10000, 30000, 100000, 300000, 1000000};

namespace {

constexpr uInt32 kLongestLimit = 1000000;
constexpr uInt32 kRepeatOn = 16;
constexpr int32 kSyncVisaKey = 193;
const uChar kCloseBoardKey[] = "\x0e" "GPIBCloseBoard";

std::atomic<int32> gDefaultCode{kGPIBDefaultTimeCode};

// The unit table and its mutex.  Order: the table mutex, then a unit's
// "UnitRights" mutex (closing a unit wakes its waiters with the table held);
// never the other way round.
std::mutex gTableLock;
GPIBUnit** gUnits = nullptr;
// Under gTableLock: the calls holding each board's unit (GPIBUnitHold), and
// the boards whose close waits for those calls or runs.  A close waits on
// gUnitIdle with the table mutex let go, so a holding call may still take it;
// gUnitIdle is signalled when a board's last hold ends during a close and
// when a close ends.
uInt32 gUses[kGPIBBoards];
bool gClosing[kGPIBBoards];
std::condition_variable gUnitIdle;

using TableLock = std::unique_lock<std::mutex>;

// Waits until no close of the board runs.
void WaitNoClose(TableLock& lock, int32 board) {
  if (board < 0 || board >= kGPIBBoards) return;
  gUnitIdle.wait(lock, [board] { return !gClosing[board]; });
}

// The slot that holds unit (the pointer is only compared); -1 for none.
int32 SlotOfUnit(const GPIBUnit* unit) {
  if (!gUnits || !unit) return -1;
  for (int32 b = 0; b < kGPIBBoards; ++b) {
    if (gUnits[b] == unit) return b;
  }
  return -1;
}

// Runs close once no call holds board b's unit; meanwhile new holds and
// other closes of b wait.  No close of b may be running already.
template <class Close>
MgErr CloseWhenIdle(TableLock& lock, int32 b, Close close) {
  gClosing[b] = true;
  gUnitIdle.wait(lock, [b] { return gUses[b] == 0; });
  MgErr err = close();
  gClosing[b] = false;
  gUnitIdle.notify_all();
  return err;
}

// The first code whose limit is at least ms (ms at most 1 000 000).
int32 CodeOfLimit(uInt32 ms) {
  for (int32 c = 0; c < kGPIBTimeCodes; ++c) {
    if (kGPIBTimeLimits[c] >= ms) return c;
  }
  return kGPIBTimeCodes - 1;
}

// Booleans read once per process.
bool PrefOnce(ConstPStr key) {
  int32 v = 0;
  CfgGetDefault(kCfgBool, key, &v);
  return v != 0;
}
bool SyncVisa() {
  static const bool on = PrefOnce(CfgKeyName(kSyncVisaKey));
  return on;
}
bool CloseBoardPref() {
  static const bool on = PrefOnce(kCloseBoardKey);
  return on;
}

void ClearEntry(GPIBDevEntry& e) {
  e.stamp = 0;
  e.descriptor = -1;
  e.code = 0;
  e.address = kGPIBNoDevice;
  e.eos = 0;
  e.eot = 0;
}

// Under gTableLock.
GPIBUnit* UnitLocked(int32 board) {
  if (board < 0 || board >= kGPIBBoards) return nullptr;
  if (!gUnits) {
    gUnits = reinterpret_cast<GPIBUnit**>(AZNewPClr(int32(sizeof(GPIBUnit*)) * kGPIBBoards));
    if (!gUnits) return nullptr;
  }
  if (GPIBUnit* u = gUnits[board]) return u;
  bool async = !SyncVisa();
  auto* u = reinterpret_cast<GPIBUnit*>(NewUnitAccessRec(int32(sizeof(GPIBUnit)), kUnitAccessLevels, -1, 1));
  if (!u) return nullptr;
  u->board = board;
  u->boardDescriptor = -1;
  u->boardAddress = kGPIBNoDevice;
  u->repeatAddressing = kRepeatOn;
  u->remoteEnable = 1;
  for (GPIBDevEntry& e : u->devices) ClearEntry(e);
  u->pendingDescriptor = -1;
  u->asyncAllowed = async;
  gUnits[board] = u;
  return u;
}

bool SlotHolds(int32 board, GPIBUnit* unit) {
  return gUnits && board >= 0 && board < kGPIBBoards && gUnits[board] == unit;
}

MgErr CloseDeviceLocked(int32 board, GPIBUnit* unit, GPIBAddress address) {
  // A record no slot holds is foreign or already freed: it is not touched.
  // One held under another board is closed all the same and answers 38.
  if (SlotOfUnit(unit) < 0) return kGPIBAddressErr;
  for (GPIBDevEntry& e : unit->devices) {
    if (e.descriptor >= 0 && e.address == address) {
      ibonl(e.descriptor, 0);
      ClearEntry(e);
      break;
    }
  }
  return SlotHolds(board, unit) ? MgErr(kNoErr) : MgErr(kGPIBAddressErr);
}

MgErr CloseUnitLocked(int32 board, GPIBUnit* unit, Bool32 takeOffline) {
  if (!unit) return kGPIBAddressErr;
  for (GPIBDevEntry& e : unit->devices) {
    if (e.descriptor < 0) continue;
    ibonl(e.descriptor, 0);
    ClearEntry(e);
  }
  if (takeOffline && unit->boardDescriptor >= 0) ibonl(unit->boardDescriptor, 0);
  ReleaseUnitWaiters(&unit->head);
  unit->boardDescriptor = -1;
  unit->boardAddress = kGPIBNoDevice;
  unit->boardCode = unit->boardEOS = unit->boardEOT = 0;
  unit->systemController = 0;
  MgErr err = SlotHolds(board, unit) ? MgErr(kNoErr) : MgErr(kGPIBAddressErr);
  // The slot that does hold the record lets it go, whichever board was named.
  if (SlotHolds(unit->board, unit)) gUnits[unit->board] = nullptr;
  DisposeUnitAccessRec(&unit->head);
  return err;
}

// Sends option 6 to an entry whose last flag differs from the unit's.
void SendRepeat(GPIBUnit* unit, GPIBDevEntry& e) {
  if (e.repeatAddressing == unit->repeatAddressing) return;
  ibconfig(e.descriptor, kGpibOptRepeatAddressing, unit->repeatAddressing ? 1 : 0);
  e.repeatAddressing = unit->repeatAddressing;
}

// What an existing entry is given on every use.
void Refresh(GPIBUnit* unit, GPIBDevEntry& e, int32 code, int32 eot, int32 eos) {
  SendRepeat(unit, e);
  if (code != e.code) {
    ibtmo(e.descriptor, code);
    e.code = uInt16(code);
  }
  if (eos != -1 && uInt16(eos) != e.eos) {
    ibeos(e.descriptor, eos);
    e.eos = uInt16(eos);
  }
  if (eot != -1 && uInt16(eot) != e.eot) {
    ibeot(e.descriptor, eot);
    e.eot = uInt16(eot);
  }
}

// Opens a new descriptor into an entry.
int32 OpenEntry(int32 board, GPIBUnit* unit, GPIBDevEntry& e, GPIBAddress address, int32 code, int32 eot,
                int32 eos) {
  int32 eotValue = eot == -1 ? 1 : eot, eosValue = eos == -1 ? 0 : eos;
  int32 d = ibdev(board, address & 0xFF, address >> 8, code, eotValue, eosValue);
  if (d < 0) return -1;
  e.descriptor = d;
  e.address = address;
  e.eos = uInt16(eosValue);
  e.eot = uInt16(eotValue);
  e.code = uInt16(code);
  e.stamp = ++unit->stampCounter;
  e.repeatAddressing = 0;
  SendRepeat(unit, e);
  return d;
}

// Sends a board setting and reads the previous one back; with keep (the
// caller left it as configured) a previous value that differs goes back.
uInt16 SendKeeping(int32 (*routine)(GPIBArg, GPIBArg), int32 ud, int32 value, bool keep) {
  routine(ud, value);
  int32 previous = ThreadIberr();
  if (keep && previous != value) {
    routine(ud, previous);
    value = previous;
  }
  return uInt16(value);
}

}  // namespace

void ParseAddressString(LStrHandle text, uInt32* board, GPIBAddress* address, uInt32* error) {
  uInt32 outBoard = 0, err = 0;
  GPIBAddress outAddress = kGPIBNoDevice;
  const uChar* s = nullptr;
  int32 n = 0;
  if (text && *text) {
    // The count is believed only as far as the handle holds bytes.
    int32 room = DSGetHandleSize(reinterpret_cast<UHandle>(text)) - int32(offsetof(LStr, str));
    n = LStrLen(*text);
    if (n > room) n = room > 0 ? room : 0;
    s = LStrBuf(*text);
  }
  // A number pending in the accumulator; error 30 once it passes its field.
  enum { kStart, kFirst, kPrimary, kSecondary } phase = kStart;
  uInt32 value = 0;
  bool pending = false;
  uInt32 primary = 31, secondary = 0;
  bool stop = false;
  auto closePrimary = [&] {
    if (pending) {
      if (value > 31) err = kGPIBAddressTextErr;
      primary = value > 30 ? 31 : value;
    }
    pending = false;
    value = 0;
  };
  auto closeSecondary = [&] {
    if (!pending) return;
    if (value > 30) {
      primary = 31;
      secondary = 0;
      err = kGPIBAddressTextErr;
    } else {
      secondary = value + 0x60;
    }
    pending = false;
  };
  for (int32 i = 0; i <= n && !stop && n > 0; ++i) {
    bool end = i == n;
    uChar c = end ? 0 : s[i];
    if (!end && c >= '0' && c <= '9') {
      if (phase == kStart) phase = kFirst;
      value = (pending ? value : 0) * 10 + uInt32(c - '0');
      pending = true;
      uInt32 field = phase == kFirst ? 999 : phase == kPrimary ? 31 : 30;
      if (value > field) {
        // Past its field: the number can no longer be an address.
        if (phase == kFirst) outBoard = 0;
        primary = 31;
        err = kGPIBAddressTextErr;
        stop = true;
      }
      continue;
    }
    if (!end && c == ':' && phase == kFirst) {
      outBoard = value;  // at most 999: a larger number stopped above
      phase = kPrimary;
      pending = false;
      value = 0;
      continue;
    }
    if (!end && c == '+' && (phase == kFirst || phase == kPrimary)) {
      closePrimary();
      phase = kSecondary;
      continue;
    }
    if (end && (phase == kFirst || phase == kPrimary)) {
      closePrimary();
      continue;
    }
    if (end && phase == kSecondary) {
      closeSecondary();
      continue;
    }
    // Any other character.
    if (phase == kFirst || phase == kPrimary) closePrimary();
    else if (phase == kSecondary) closeSecondary();
    err = kGPIBAddressTextErr;
    stop = true;
  }
  if (!err && primary != 31) outAddress = GPIBAddress(primary | (secondary << 8));
  if (board) *board = outBoard;
  if (address) *address = outAddress;
  if (error) *error = err;
}

MgErr MakeAddress(uInt16 primary, uInt32 secondary, GPIBAddress* address) {
  GPIBAddress a;
  MgErr err = kNoErr;
  if (primary == 31 && secondary == 31) a = kGPIBNoDevice;
  else if (primary > 30) a = kGPIBNoDevice, err = kGPIBAddressErr;
  else if (secondary == 31) a = primary;
  else if (secondary > 31) a = primary, err = kGPIBAddressErr;
  else a = GPIBAddress(((secondary | 0x60) << 8) | primary);
  if (address) *address = a;
  return err;
}

uInt32 SetGPIBTimeout(uInt32 ms) {
  if (ms == kGPIBDefaultLimit) return kGPIBTimeLimits[gDefaultCode.load()];
  int32 code = ms > kLongestLimit ? kGPIBTimeCodes - 1 : CodeOfLimit(ms);
  return kGPIBTimeLimits[gDefaultCode.exchange(code)];
}

int32 GPIBTimeCode(uInt32 ms) {
  if (ms == kGPIBDefaultLimit) return gDefaultCode.load();
  if (ms > kLongestLimit) return 0;
  return CodeOfLimit(ms);
}

GPIBUnit* GetGPIBUnit(int32 board) {
  std::lock_guard<std::mutex> hold(gTableLock);
  return UnitLocked(board);
}

GPIBUnitHold::GPIBUnitHold(int32 board) : board_(board), unit_(nullptr) {
  TableLock lock(gTableLock);
  WaitNoClose(lock, board);
  unit_ = UnitLocked(board);
  if (unit_) ++gUses[board];
}

GPIBUnitHold::~GPIBUnitHold() {
  if (!unit_) return;
  std::lock_guard<std::mutex> hold(gTableLock);
  if (--gUses[board_] == 0 && gClosing[board_]) gUnitIdle.notify_all();
}

MgErr GPIBUnitAccess(int32 board, int32* result, QueueElement* qe, int32 op) {
  GPIBUnitHold held(board);
  GPIBUnit* unit = held.unit();
  if (!unit) {
    if (result) *result = kUnitNothing;
    return kMemFullErr;
  }
  int32 r = UnitAccess(&unit->head, qe, op);
  if (result) *result = r;
  return kNoErr;
}

int32 OpenBoardDescriptor(int32 board, GPIBAddress address, uInt32 limit, int32 eot, int32 eos, GPIBUnit* unit,
                          Bool32 systemController) {
  if (!unit || board < 0 || board >= kGPIBBoards) return -1;
  int32 code = GPIBTimeCode(limit);
  int32 ud = unit->boardDescriptor;
  if (ud >= 0) {
    if (code != 0 && code != unit->boardCode) {
      ibtmo(ud, code);
      unit->boardCode = uInt16(code);
    }
    if (eos != -1 && uInt16(eos) != unit->boardEOS) {
      ibeos(ud, eos);
      unit->boardEOS = uInt16(eos);
    }
    if (eot != -1 && uInt16(eot) != unit->boardEOT) {
      ibeot(ud, eot);
      unit->boardEOT = uInt16(eot);
    }
    if (address != kGPIBNoDevice && address != unit->boardAddress) {
      if ((address >> 8) != (unit->boardAddress >> 8)) ibsad(ud, (address >> 8) & 0x7F);
      if ((address & 0xFF) != (unit->boardAddress & 0xFF)) ibpad(ud, address & 0xFF);
      unit->boardAddress = address;
    }
    return ud;
  }
  char name[16];
  std::snprintf(name, sizeof name, "gpib%d", int(board));
  ud = ibfindA(name);
  if (ud < 0) {
    unit->boardDescriptor = -1;
    return -1;
  }
  // System controller: the previous setting says whether the board is one.
  ibrsc(ud, 1);
  if (ThreadIberr() != 0) {
    unit->systemController = 1;
    if (ThreadIbsta() & kGpibCIC) {
      unit->ifcDone = 1;
    } else if (systemController) {
      ibsic(ud);
      unit->ifcDone = 1;
      if (unit->remoteEnable) ibsre(ud, 1);
    }
  } else if (!systemController) {
    ibrsc(ud, 0);
    unit->systemController = 0;
    unit->ifcDone = 1;
  }
  // Time code; 0 keeps the board's own.
  ibtmo(ud, code);
  if (code == 0) {
    code = ThreadIberr();
    ibtmo(ud, code);
  }
  unit->boardCode = uInt16(code);
  unit->boardEOS = SendKeeping(ibeos, ud, eos == -1 ? 0 : eos, eos == -1);
  unit->boardEOT = SendKeeping(ibeot, ud, eot == -1 ? 1 : eot, eot == -1);
  bool none = address == kGPIBNoDevice;
  uInt16 pad = SendKeeping(ibpad, ud, none ? 0 : address & 0xFF, none);
  uInt16 sad = SendKeeping(ibsad, ud, none ? 0 : address >> 8, none);
  unit->boardAddress = GPIBAddress(pad | (sad << 8));
  ibconfig(ud, kGpibOptRepeatAddressing, 1);
  unit->repeatAddressing = kRepeatOn;
  unit->boardDescriptor = ud;
  return ud;
}

int32 GetDeviceDescriptor(int32 board, GPIBAddress address, uInt32 limit, int32 eot, int32 eos, GPIBUnit* unit) {
  if (!unit || board < 0 || board >= kGPIBBoards) return -1;
  if (unit->boardDescriptor < 0 && OpenBoardDescriptor(board, kGPIBNoDevice, 0, -1, -1, unit, 1) < 0) return -1;
  int32 code = GPIBTimeCode(limit);
  int32 count = unit->deviceCount;
  if (count < 0 || count > kGPIBDevEntries) count = unit->deviceCount = kGPIBDevEntries;
  for (int32 i = 0; i < count; ++i) {
    GPIBDevEntry& e = unit->devices[i];
    if (e.descriptor < 0 || e.address != address) continue;
    e.stamp = ++unit->stampCounter;
    Refresh(unit, e, code, eot, eos);
    return e.descriptor;
  }
  if (count < kGPIBDevEntries) {
    GPIBDevEntry& e = unit->devices[count];
    int32 d = OpenEntry(board, unit, e, address, code, eot, eos);
    if (d < 0) {
      ClearEntry(e);
      return -1;
    }
    unit->deviceCount = count + 1;
    return d;
  }
  // Full: the least recently used entry (the first of equals) is taken over.
  int32 least = 0;
  for (int32 i = 1; i < kGPIBDevEntries; ++i) {
    if (unit->devices[i].stamp < unit->devices[least].stamp) least = i;
  }
  GPIBDevEntry& e = unit->devices[least];
  if (e.descriptor < 0) {
    // A closed entry has no descriptor to re-address: it gets a new one.
    return OpenEntry(board, unit, e, address, code, eot, eos);
  }
  ibpad(e.descriptor, address & 0xFF);
  ibsad(e.descriptor, address >> 8);
  e.stamp = ++unit->stampCounter;
  e.address = address;
  Refresh(unit, e, code, eot, eos);
  return e.descriptor;
}

MgErr CloseDeviceDescriptor(int32 board, GPIBUnit* unit, GPIBAddress address) {
  std::lock_guard<std::mutex> hold(gTableLock);
  return CloseDeviceLocked(board, unit, address);
}

MgErr CloseGPIBUnit(int32 board, GPIBUnit* unit, Bool32 takeOffline) {
  TableLock lock(gTableLock);
  int32 b = SlotOfUnit(unit);
  // A record no slot holds is foreign or already freed: it is not touched.
  if (b < 0) return kGPIBAddressErr;
  WaitNoClose(lock, b);
  // Closed meanwhile by another close: nothing is left to do.
  if (gUnits[b] != unit) return kGPIBAddressErr;
  return CloseWhenIdle(lock, b, [&] { return CloseUnitLocked(board, unit, takeOffline); });
}

MgErr GPIBCloseDevOrUnit(int32 board, GPIBAddress address) {
  bool offline = CloseBoardPref();
  TableLock lock(gTableLock);
  WaitNoClose(lock, board);
  GPIBUnit* unit = UnitLocked(board);
  if (!unit) return kGPIBNoUnitErr;
  // Both closes wait for the calls inside the unit: a device entry is theirs
  // as much as the record is.
  return CloseWhenIdle(lock, board, [&] {
    if (address < kGPIBNoDevice) return CloseDeviceLocked(board, unit, address);
    return CloseUnitLocked(board, unit, offline);
  });
}

MgErr GPIBCloseAllUnits() {
  {
    // A program that never used GPIB reads no preference at shut-down.
    std::lock_guard<std::mutex> hold(gTableLock);
    if (!gUnits) return kNoErr;
  }
  bool offline = CloseBoardPref();
  TableLock lock(gTableLock);
  MgErr all = kNoErr;
  if (!gUnits) return all;
  for (int32 b = 0; b < kGPIBBoards; ++b) {
    WaitNoClose(lock, b);
    if (GPIBUnit* u = gUnits[b]) all |= CloseWhenIdle(lock, b, [&] { return CloseUnitLocked(b, u, offline); });
  }
  return all;
}

MgErr StatusToArray(UHandle array, uInt32 status) {
  if (!array) return kArgErr;
  if (MgErr err = DSSetHandleSize(array, 4 + 16)) return err;
  uChar* p = *array;
  int32 count = 16;
  std::memcpy(p, &count, 4);
  for (int32 i = 0; i < 16; ++i) p[4 + i] = uChar((status >> i) & 1);
  return kNoErr;
}

uInt32 ArrayToMask(UHandle array) {
  if (!array || !*array) return 0;
  int32 size = DSGetHandleSize(array);
  if (size < 4) return 0;
  int32 count = 0;
  std::memcpy(&count, *array, 4);
  if (count > size - 4) count = size - 4;
  if (count > 16) count = 16;
  uInt32 mask = 0;
  for (int32 i = 0; i < count; ++i) {
    if ((*array)[4 + i]) mask |= 1u << i;
  }
  return mask;
}
