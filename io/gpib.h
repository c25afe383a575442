// The binding of the GPIB driver library: the library is loaded on the first
// GPIB call, each routine's entry is looked up on its first call, and every
// bound call copies the driver's status, error and count into the program's
// own copies.  Without the library (or with a foreign one, or a routine it
// lacks) every call answers ERR with error 0 and the system error as count.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "mgsource/extcode.h"
#include "platform/instr/qxgpib.h"

// The copies of the driver's status after the last bound call of any
// thread; a thread that needs its own call's outcome reads ThreadIbsta,
// ThreadIberr and ThreadIbcnt.
extern std::atomic<uInt32> ibsta, iberr, ibcnt, ibcntl;

// The entry of a routine of the library, loading and checking the library
// first; null (with the copies set to ERR, 0 and the system error) when the
// library or the routine is not there.  A failed load is tried again on the
// next call.
void* GetGPIBEntry(const char* routine);

// One argument word of a driver routine: an integer or an address.
struct GPIBArg {
  uintptr_t word;
  template <class T>
    requires std::is_integral_v<T> || std::is_enum_v<T>
  constexpr GPIBArg(T v) : word(uintptr_t(v)) {}
  template <class T>
  GPIBArg(T* p) : word(reinterpret_cast<uintptr_t>(p)) {}
  constexpr GPIBArg(std::nullptr_t) : word(0) {}
};

// The driver's routines and the number of arguments each takes.
#define QX_GPIB_ROUTINES(X)                                                                                     \
  X(ibcac, 2) X(ibclr, 1) X(ibcmd, 3) X(ibconfig, 3) X(ibdev, 6) X(ibdma, 2) X(ibeos, 2) X(ibeot, 2)           \
  X(ibfindA, 1) X(ibgts, 2) X(ibist, 2) X(ibloc, 1) X(ibonl, 2) X(ibpad, 2) X(ibpct, 1) X(ibppc, 2) X(ibrd, 3) \
  X(ibrda, 3) X(ibrpp, 2) X(ibrsc, 2) X(ibrsp, 2) X(ibrsv, 2) X(ibsad, 2) X(ibsic, 1) X(ibsre, 2)              \
  X(ibstop, 1) X(ibtmo, 2) X(ibtrg, 1) X(ibwait, 2) X(ibwrt, 3) X(ibwrta, 3) X(AllSpoll, 3) X(DevClear, 2)    \
  X(DevClearList, 2) X(EnableLocal, 2) X(EnableRemote, 2) X(FindLstn, 4) X(FindRQS, 3) X(PPoll, 2)            \
  X(PPollConfig, 4) X(PPollUnconfig, 2) X(PassControl, 2) X(RcvRespMsg, 4) X(ReadStatusByte, 3) X(Receive, 5) \
  X(ReceiveSetup, 2) X(ResetSys, 2) X(Send, 5) X(SendCmds, 3) X(SendDataBytes, 4) X(SendIFC, 1) X(SendLLO, 1) \
  X(SendList, 5) X(SendSetup, 2) X(SetRWLS, 2) X(TestSRQ, 2) X(TestSys, 3) X(Trigger, 2) X(TriggerList, 2)   \
  X(WaitSRQ, 2)

#define QX_GPIB_PARAMS_1 GPIBArg a1
#define QX_GPIB_PARAMS_2 QX_GPIB_PARAMS_1, GPIBArg a2
#define QX_GPIB_PARAMS_3 QX_GPIB_PARAMS_2, GPIBArg a3
#define QX_GPIB_PARAMS_4 QX_GPIB_PARAMS_3, GPIBArg a4
#define QX_GPIB_PARAMS_5 QX_GPIB_PARAMS_4, GPIBArg a5
#define QX_GPIB_PARAMS_6 QX_GPIB_PARAMS_5, GPIBArg a6

// The binding functions: the routine's result (the status word of the
// traditional routines, a descriptor of ibfindA and ibdev).
#define QX_GPIB_DECLARE(name, n) int32 name(QX_GPIB_PARAMS_##n);
QX_GPIB_ROUTINES(QX_GPIB_DECLARE)
#undef QX_GPIB_DECLARE

// The calling thread's status, error and count from the driver; 0xDDDDDEAD
// when the driver has no such entry.
int32 ThreadIbsta();
int32 ThreadIberr();
int32 ThreadIbcnt();
constexpr int32 kGPIBNoThreadStatus = int32(0xDDDDDEAD);

// Tests: the library the binding loads (a host path or a bare name; null
// restores the library beside the program), and a binding back to its
// unbound state (the library unloaded, every entry forgotten).
void GPIBSetLibraryForTest(const char* name);
void GPIBUnbindForTest();

// The call record of a diagram's GPIB node, in its data space.  Reads,
// writes and waits restart on it: phase 1 starts, 2 continues, 3 aborts,
// 0 does it all in one call; pending asks for another call.
struct GPIBCallRec {
  uInt32 error;    // the driver's error with ERR, an error of these functions, or 0
  uInt32 phase;    // 0 all at once, 1 start, 2 continue, 3 abort
  uInt32 pending;  // 1: call again with phase 2 (or 3)
  uInt32 deadline; // MilliSecs when a pending operation times out; 0 none
  uInt32 reserved;
  UHandle addressList;  // i32 count, u16 addresses (488.2)
  UHandle resultList;   // the same shape (488.2)
  LStrHandle buffer;    // bytes (488.2)
  uInt32 count;         // bytes or items
  int16 limit;          // a limit, or the parallel poll sense (488.2)
  uInt16 address;
  int16 mode;           // termination, end mode or data line (488.2)
  uInt16 result;
  uInt16 status;        // the final driver status
  uInt16 waitMask;      // the bits a wait waits for
  uInt16 lastError;     // the driver's error before a status call
  int16 value;          // a misc command's value
  int32 savedBoard, savedDevice;  // the descriptors a wait polls
};
static_assert(sizeof(GPIBCallRec) == 60 && offsetof(GPIBCallRec, addressList) == 20 &&
                  offsetof(GPIBCallRec, buffer) == 28 && offsetof(GPIBCallRec, count) == 32 &&
                  offsetof(GPIBCallRec, limit) == 36 && offsetof(GPIBCallRec, address) == 38 &&
                  offsetof(GPIBCallRec, mode) == 40 && offsetof(GPIBCallRec, result) == 42 &&
                  offsetof(GPIBCallRec, status) == 44 && offsetof(GPIBCallRec, waitMask) == 46 &&
                  offsetof(GPIBCallRec, lastError) == 48 && offsetof(GPIBCallRec, value) == 50 &&
                  offsetof(GPIBCallRec, savedBoard) == 52 && offsetof(GPIBCallRec, savedDevice) == 56,
              "GPIB call record");

// The misc node's commands: code = index.
enum GPIBMiscArg : int32 { kMiscNone, kMiscFlag, kMiscBytes, kMiscByteAddress, kMiscByte, kMiscOptAddress, kMiscAddress };
struct GPIBMiscCommand {
  char name[4];
  GPIBMiscArg arg;
};
constexpr int32 kGPIBMiscCommands = 16;
extern const GPIBMiscCommand kGPIBMiscTable[kGPIBMiscCommands];
enum : int32 {
  kMiscCac, kMiscCmd, kMiscDma, kMiscGts, kMiscIst, kMiscLlo, kMiscLoc, kMiscOff,
  kMiscPct, kMiscPpc, kMiscPpu, kMiscRpp, kMiscRsc, kMiscRsv, kMiscSic, kMiscSre, kMiscNoCommand
};

// The GPIB error codes of the diagram's functions.
enum : MgErr {
  kGPIBUnknownMiscErr = 17,
  kGPIBTriggerNoAddressErr = 30,
  kGPIBNoSendBufferErr = 31,
  kGPIBBadArgErr = 38,
};

// The traditional nodes: 0, 2 when the board has no unit, or a memory
// error; the driver's outcome goes into the record.
QX_EXTERN_C MgErr TradGPIBInit(int32 board, uInt16 boardAddress, uInt32 flags, GPIBCallRec* rec);
QX_EXTERN_C MgErr TradGPIBStatus(int32 board, UHandle statusArray, GPIBCallRec* rec);
QX_EXTERN_C MgErr TradGPIBWrite(int32 board, uInt16 address, LStrHandle data, uInt32 limit, int32 mode,
                                UHandle statusArray, GPIBCallRec* rec);
QX_EXTERN_C MgErr TradGPIBRead(int32 board, uInt16 address, LStrHandle buffer, uInt32 limit, int32 mode,
                               uInt32 count, UHandle statusArray, GPIBCallRec* rec);
QX_EXTERN_C MgErr TradGPIBTrg(int32 board, uInt16 address, UHandle statusArray, GPIBCallRec* rec);
QX_EXTERN_C MgErr TradGPIBClr(int32 board, uInt16 address, UHandle statusArray, GPIBCallRec* rec);
QX_EXTERN_C MgErr TradGPIBSPoll(int32 board, uInt16 address, uInt16* pollByte, UHandle statusArray,
                                GPIBCallRec* rec);
QX_EXTERN_C MgErr TradGPIBWait(int32 board, uInt16 address, uInt16* pollByte, uInt32 limit, UHandle maskArray,
                               UHandle statusArray, GPIBCallRec* rec);
QX_EXTERN_C MgErr TradGPIBMisc(int32 board, int32 command, uInt16 address, const uChar* bytes, UHandle result,
                               UHandle statusArray, GPIBCallRec* rec);
// "[<board>:]<cmd>[ <argument>]": see kGPIBMiscTable.  Error 0 or 38; the
// command bytes of "cmd" point into the text.
QX_EXTERN_C void ParseMiscString(LStrHandle text, uInt32* board, int32* command, uInt16* address, int16* value,
                                 const uChar** bytes, uInt32* count, uInt32* error);

// The IEEE 488.2 nodes: routine code 10-40 and the record.
QX_EXTERN_C MgErr GPIB4882(int32 board, UHandle statusArray, int32 code, GPIBCallRec* rec);
QX_EXTERN_C MgErr GPIB4882WaitSRQ(int32 board, UHandle statusArray, GPIBCallRec* rec);
