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
