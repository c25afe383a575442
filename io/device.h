// The device module: the timer service of the execution engine, and device
// drivers delivered as code resources.
//
// A tick thread counts the countdown register (the engine's time-slice
// clock, read with GetCDReg) down once per "CDIntervalTicks" milliseconds and
// calls the engine's tick procedure after each tick; a device thread waits
// for device work; and the user-interface thread's wake-up event is made
// here, so that InterruptSafeOccur and posted events can wake an idle main
// loop.
#pragma once
#include "engine/exec/exectimer.h"
#include "mgsource/extcode.h"
#include "mgsource/occur.h"
#include "mgsource/path.h"
#include "mgsource/thread.h"
#include "platform/qx_window.h"

// Starts the tick and device threads and makes the wake-up event: 0, or the
// error of a creation, with nothing left made.
QX_EXTERN_C MgErr InitDeviceTimers();
// Stops both threads and disposes the wake-up event; 0.
QX_EXTERN_C MgErr DevTimerShutdown();

// The countdown register: SetCDReg(0) makes the running clump's slice expire.
QX_EXTERN_C int32 GetCDReg();
QX_EXTERN_C void SetCDReg(int32 value);
// The register's address, which compiled code is given.
ExecCountdown* DevCountdownRegister();
// The second countdown word, counted down beside the register on every tick
// and never below 0.
void DevSetSecondCountdown(int32 value);
int32 DevSecondCountdown();

// Stores the frame window's handle and returns 1026, the message under which
// external code posts occurrence events to it.
QX_EXTERN_C int32 GetQXAppWindHandle(PlatWindow* window);

// Gives an execution context the word it polls: the countdown register when
// shared is set (only the user-interface thread runs clumps), else its own
// word; and the data segment selector as the second word.
QX_EXTERN_C void InitContextCountdown(ExecCountdown** countdown, int32* dataSegment, ExecCountdown* own,
                                      Bool32 shared);

// The user-interface thread's wake-up event while the service runs, else none.
ThEvent DevWakeUpEvent();
// The engine's procedure, called after every tick (none: no call).
void DevSetTickProc(ExecTickProc proc);
// The tick interval in force and the "useAsyncDeviceCalls" setting.
int32 DevTickInterval();
Bool32 DevUseAsyncCalls();

// The modal pump's request word: while on, the device thread sends the
// frame window message 1027 (engine time) every millisecond.
void DevSetModalPump(Bool32 on);
// Hands the service to the execution engine and the modal pump to the main
// loop; called at start-up before InitExec.
void DevInstallTimerService();

// Test hooks: the two threads while the service runs.
ThThread DevTestTickThread();
ThThread DevTestDeviceThread();

// ---------------------------------------------------------------- drivers
//
// A driver is a "QXSB" code resource named as the driver, in a file of the
// same name and type in the run-time library folder.  Its block carries the
// magic "DRVR" in its third word and, in its fifth, a function that answers
// the entry table (open, I/O, periodic, close); the table is kept in the
// block's twelfth word and the number of open devices using the block in its
// thirteenth.  Drivers are cdecl:
//   open(device, frame window, 1025, unit)  non-zero: failed
//   I/O(parameter block)                    sets the block's result
//   periodic(unit)                          non-zero: a request has ended
//   close(device, unit)                     non-zero: failed
// A driver tells the frame window about work with message 1025 carrying the
// device handle, or with the communication-notify message carrying the
// notify id it set in the device record.

struct DevRec;
typedef DevRec** DevHandle;
typedef int32 (*DevOpenEntry)(DevHandle device, PlatWindow frame, int32 message, int32 unit);
typedef void (*DevIOEntry)(UPtr paramBlock);
typedef int32 (*DevPeriodicEntry)(int32 unit);
typedef int32 (*DevCloseEntry)(DevHandle device, int32 unit);
struct DevEntryTable {
  DevOpenEntry open;
  DevIOEntry io;
  DevPeriodicEntry periodic;
  DevCloseEntry close;
};
typedef const DevEntryTable* (*DevEntryTableProc)();

// One open device, in a relocatable block that drivers are handed.
struct DevRec {
  uChar name[256];  // the driver's name, also its resource's name
  int16 unit;
  uInt16 notifyId;  // 0xFFFF until the driver sets the id its events come under
  UPtr driver;      // the driver block, shared by the devices of one name
  DevOpenEntry open;
  DevCloseEntry close;
  DevPeriodicEntry periodic;
  DevIOEntry io;
  UPtr pending;     // requests in progress, linked through their link words
  ThEvent completion;  // signalled whenever a call on the device ends
  ThMutex driverMutex; // serialises calls into the driver; re-entrant
  uInt32 useCount;     // calls in progress
  uInt32 closing;      // a close is under way: no new read, write, control or status
};
static_assert(offsetof(DevRec, unit) == 256 && offsetof(DevRec, notifyId) == 258 &&
                  offsetof(DevRec, driver) == 260 && offsetof(DevRec, open) == 264 &&
                  offsetof(DevRec, io) == 276 && offsetof(DevRec, pending) == 280 &&
                  offsetof(DevRec, useCount) == 292 && sizeof(DevRec) == 300,
              "device record layout");

// The driver block's words.
enum : int32 {
  kDrvMagicAt = 8,        // "DRVR"
  kDrvEntryProcAt = 16,   // DevEntryTableProc
  kDrvTableAt = 44,       // the entry table, kept at load
  kDrvUseCountAt = 48,    // open devices using the block
  kDrvBlockMin = 52,
};

// The parameter block of a request: 22 bytes, little-endian.
enum : int32 {
  kDevPBReserved = 0,  // 4: 0
  kDevPBUnit = 4,      // 2
  kDevPBWindow = 6,    // 2: the frame window handle's low 16 bits
  kDevPBLink = 8,      // 4: the next request of the pending queue, 0 at its end
  kDevPBOccur = 12,    // 4: fired when the request ends; 0 none
  kDevPBSelector = 16, // 4
  kDevPBResult = 20,   // 2: 1 while in progress, else the final code
  kDevPBSize = 22,
};
enum : int32 { kDevAbort = 0, kDevRead = 2, kDevWrite = 3, kDevControl = 4, kDevStatus = 5 };
constexpr int32 kDevInProgress = 1;

// Start-up: the empty table and its mutex (2 without memory).  Exit: every
// device closed, the table gone.
QX_EXTERN_C MgErr InitDeviceTable();
QX_EXTERN_C void CloseAllDevices();

// The device of the driver name and unit, opened (and the driver loaded) on
// first use: the handle, or null with *err 2 (no memory, no table) or 37
// (no driver, or its open entry failed).
QX_EXTERN_C DevHandle DevOpen(ConstPStr name, int32 unit, MgErr* err);
// A request on an open device: the request's result (1: still in progress,
// asynchronous only), 36 for a device not open, 38 without a block.
// Unless "useAsyncDeviceCalls" is set every call is synchronous.
QX_EXTERN_C MgErr DevWrtRd(DevHandle device, UPtr paramBlock, Bool32 write, Bool32 async, Occurrence occ);
QX_EXTERN_C MgErr DevCtrlStat(DevHandle device, UPtr paramBlock, Bool32 control, Bool32 async, Occurrence occ);
// Aborts the device's requests and takes the given one off its queue: a
// request still in progress then ends with 41 and its occurrence fires.
// 0, 38 without a block, 36 for a device not open.
QX_EXTERN_C MgErr DevAbort(DevHandle device, UPtr paramBlock, int32 flag);
// Aborts what is queued, waits for the calls in flight, closes the driver
// and frees the record: 0, 36 for a device not open, 37 when the driver's
// close failed.
QX_EXTERN_C MgErr DevClose(DevHandle device);
// Calls the driver's periodic entry for an open device (anything else is
// ignored) and ends the requests it reports done.
QX_EXTERN_C void ProdDriver(DevHandle device);
// The open device whose driver set this notify id, or null.
QX_EXTERN_C DevHandle DeviceForNotifyId(uInt16 id);
// Loads the named driver from the run-time library folder: its block with
// the entry table kept, or null (the reason goes to the debug output).
QX_EXTERN_C UPtr LoadDRVR(ConstPStr name);

// Hands the frame window's driver messages to ProdDriver; at start-up.
void DevInstallDriverHooks();
// Test hooks: a driver loaded and checked as LoadDRVR does, its entry-table
// function not called (the caller unloads it); the number of open devices.
UPtr DevTestPrepareDriver(ConstPStr name);
int32 DevTestOpenCount();
