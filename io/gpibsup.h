// GPIB addresses, the board units and their driver descriptors.  A board's
// unit record holds its board descriptor, a cache of up to 16 device
// descriptors with the settings last sent to each, and the unit-access head
// through which clumps take turns on the board.  Descriptors are opened on
// first use and kept until the unit is closed; a setting is sent to the
// driver only when it changed.
#pragma once
#include <cstddef>

#include "engine/exec/execrec.h"
#include "io/unitaccess.h"
#include "mgsource/extcode.h"

// Low byte: primary address 0-30; high byte: 0, or 0x60 + the secondary
// address.  0xFFFF: no device, the board itself.
typedef uInt16 GPIBAddress;
constexpr GPIBAddress kGPIBNoDevice = 0xFFFF;

// GPIB error codes of these functions.
enum : MgErr {
  kGPIBTimeoutCodeErr = 17,
  kGPIBAddressTextErr = 30,
  kGPIBAddressErr = 38,
  kGPIBNoUnitErr = 39,
};

// Time-limit codes 0-17 and their limits in ms (code 0: no limit).
constexpr int32 kGPIBTimeCodes = 18;
extern const uInt32 kGPIBTimeLimits[kGPIBTimeCodes];
constexpr int16 kGPIBDefaultTimeCode = 13;  // 10 000 ms
constexpr uInt32 kGPIBDefaultLimit = 0xFFFFFFFF;  // "the default code"

struct GPIBDevEntry {
  int32 descriptor;      // -1 closed
  GPIBAddress address;   // 0xFFFF when closed
  uInt16 eos, eot, code;
  uInt32 stamp;          // use stamp; 0 when closed
  uInt32 repeatAddressing;  // the unit's flag as last sent
};
static_assert(sizeof(GPIBDevEntry) == 20 && offsetof(GPIBDevEntry, address) == 4 &&
                  offsetof(GPIBDevEntry, eos) == 6 && offsetof(GPIBDevEntry, eot) == 8 &&
                  offsetof(GPIBDevEntry, code) == 10 && offsetof(GPIBDevEntry, stamp) == 12 &&
                  offsetof(GPIBDevEntry, repeatAddressing) == 16,
              "device entry");
constexpr int32 kGPIBDevEntries = 16;

struct GPIBUnit {
  UnitAccessRec head;        // 5 levels, execution system -1, "UnitRights"
  int32 board;               // 0-999
  int32 boardDescriptor;     // -1 not open
  GPIBAddress boardAddress;  // last given to the board
  uInt16 boardEOS, boardEOT, boardCode;
  uInt16 systemController;   // 1 when the board was found system controller
  uInt32 repeatAddressing;   // driver option 6 for every device; 16 (on) at creation
  uInt32 ifcDone;            // 1 once interface clear went out (or is not to)
  uInt32 remoteEnable;       // assert remote enable after interface clear; 1 at creation
  int32 deviceCount;         // 0-16
  GPIBDevEntry devices[kGPIBDevEntries];
  uInt32 stampCounter;
  int32 pendingDescriptor;   // an asynchronous read or write in progress; -1 none
  uInt32 pendingUnterminated, pendingLength;
  uInt32 asyncAllowed;       // not "syncVisa"; cleared for good when the driver refuses
};
static_assert(offsetof(GPIBUnit, board) == 20 && offsetof(GPIBUnit, boardDescriptor) == 24 &&
                  offsetof(GPIBUnit, boardAddress) == 28 && offsetof(GPIBUnit, boardEOS) == 30 &&
                  offsetof(GPIBUnit, boardEOT) == 32 && offsetof(GPIBUnit, boardCode) == 34 &&
                  offsetof(GPIBUnit, systemController) == 36 && offsetof(GPIBUnit, repeatAddressing) == 40 &&
                  offsetof(GPIBUnit, ifcDone) == 44 && offsetof(GPIBUnit, remoteEnable) == 48 &&
                  offsetof(GPIBUnit, deviceCount) == 52 && offsetof(GPIBUnit, devices) == 56 &&
                  offsetof(GPIBUnit, stampCounter) == 376 && offsetof(GPIBUnit, pendingDescriptor) == 380 &&
                  offsetof(GPIBUnit, pendingUnterminated) == 384 && offsetof(GPIBUnit, pendingLength) == 388 &&
                  offsetof(GPIBUnit, asyncAllowed) == 392 && sizeof(GPIBUnit) == 396,
              "GPIB unit record");
constexpr int32 kGPIBBoards = 1000;

// "<board>:<primary>[+<secondary>]", "<primary>[+<secondary>]" or
// "<board>:": board 0-999, primary 0-30 (31: none), secondary 0-30.  Board 0,
// address 0xFFFF and error 0 for no text; error 30 for a bad text, with the
// address 0xFFFF.
QX_EXTERN_C void ParseAddressString(LStrHandle text, uInt32* board, GPIBAddress* address, uInt32* error);
// The address of a primary and a secondary (31: none); 0 or 38.
QX_EXTERN_C MgErr MakeAddress(uInt16 primary, uInt32 secondary, GPIBAddress* address);
// Sets the default time limit (0xFFFFFFFF only asks); the previous default
// limit in ms.
QX_EXTERN_C uInt32 SetGPIBTimeout(uInt32 ms);
// The code of a limit in the descriptor functions: the default for
// 0xFFFFFFFF, 0 above 1 000 000 ms, else the first code whose limit is at
// least ms.
int32 GPIBTimeCode(uInt32 ms);

// The unit of a board, made with the table on first use; null for a board
// outside 0-999 or when memory runs out.
GPIBUnit* GetGPIBUnit(int32 board);
// A board's unit held for the length of one call.  While any call holds a
// unit, closing it waits; while a close waits or runs, new holds wait for it
// to end and then find the board without a unit, so they make a new one as
// any first use does.  Holds do not nest on one board: a call that holds the
// unit never closes it whole.
class GPIBUnitHold {
 public:
  explicit GPIBUnitHold(int32 board);  // GetGPIBUnit, counted; null as it says
  ~GPIBUnitHold();
  GPIBUnitHold(const GPIBUnitHold&) = delete;
  GPIBUnitHold& operator=(const GPIBUnitHold&) = delete;
  GPIBUnit* unit() const { return unit_; }

 private:
  int32 board_;
  GPIBUnit* unit_;
};
// UnitAccess on a board's unit: 0 with its result, or 2 (result 3) when
// the board has no unit.
QX_EXTERN_C MgErr GPIBUnitAccess(int32 board, int32* result, QueueElement* qe, int32 op);
// The board's descriptor, opened and configured on first use, else given
// only the settings that changed; -1 when the driver cannot open it.  eot
// and eos -1 leave the board's own; limit 0 keeps its time code.
int32 OpenBoardDescriptor(int32 board, GPIBAddress address, uInt32 limit, int32 eot, int32 eos, GPIBUnit* unit,
                          Bool32 systemController);
// A device's descriptor from the unit's cache, opened, or taken over from
// the least recently used entry; -1 when the driver cannot open it.
int32 GetDeviceDescriptor(int32 board, GPIBAddress address, uInt32 limit, int32 eot, int32 eos, GPIBUnit* unit);
// Close one device's descriptor, or the whole unit (its devices, the board
// when takeOffline, and the record, whose waiters are woken): 0, or 38 when
// the board's table slot does not hold unit (the work is done all the same).
MgErr CloseDeviceDescriptor(int32 board, GPIBUnit* unit, GPIBAddress address);
MgErr CloseGPIBUnit(int32 board, GPIBUnit* unit, Bool32 takeOffline);
// A device's descriptor (address below 0xFFFF) or the board's unit
// (0xFFFF, the board taken off line as "GPIBCloseBoard" says); 39 when the
// board has no unit.  Either waits until no call holds the unit.
QX_EXTERN_C MgErr GPIBCloseDevOrUnit(int32 board, GPIBAddress address);
// Every unit, at shut-down: the results ORed.
MgErr GPIBCloseAllUnits();

// A status word as the diagram's array: count 16 and 16 booleans, bit i in
// element i.  0 or a memory error (1 without a handle).
QX_EXTERN_C MgErr StatusToArray(UHandle array, uInt32 status);
// The word of such an array: bit i for each true element among the first
// 16; 0 without a handle.
QX_EXTERN_C uInt32 ArrayToMask(UHandle array);
