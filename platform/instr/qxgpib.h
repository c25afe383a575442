// The GPIB driver library libqxgpib.so: what the program and the library
// share.  The library is an i386 shared object whose routines take their
// arguments on the stack and remove them themselves (stdcall); it exports the
// status of the last call as data (user_ibsta, user_iberr, user_ibcntl) and
// an identification text, and serves a simulated bus configured from a
// device file (instrconf.h).
#pragma once
#include <cstdint>

#define QX_GPIB_CALL __attribute__((stdcall))

// The library's file name; the program looks for it beside itself.
constexpr char kQXGPIBLibraryName[] = "libqxgpib.so";
// The identification text the library exports as kQXGPIBIdentExport; the
// four characters from offset 13 are the year of the release and are not
// compared.
#define QX_GPIB_IDENT_LITERAL "Quenlix GPIB 2026 simulated bus driver"
constexpr char kQXGPIBIdent[] = QX_GPIB_IDENT_LITERAL;
constexpr int kQXGPIBIdentYearOffset = 13;
constexpr int kQXGPIBIdentYearLength = 4;
constexpr char kQXGPIBIdentExport[] = "qxgpib_ident";

// Status word bits.
constexpr int32_t kGpibERR = 0x8000, kGpibTIMO = 0x4000, kGpibEND = 0x2000, kGpibSRQI = 0x1000, kGpibRQS = 0x0800,
                  kGpibCMPL = 0x0100, kGpibCIC = 0x0020, kGpibDTAS = 0x0002, kGpibDCAS = 0x0001;

// Error codes of the library.
enum : int32_t {
  kGpibErrSystem = 0,       // a system error; the count holds its code
  kGpibErrNotCIC = 1,       // the board is not controller in charge
  kGpibErrArgument = 4,     // a bad descriptor, value or option
  kGpibErrNotSysCtrl = 5,   // the board is not system controller
  kGpibErrTimeout = 6,      // aborted: the time limit passed
  kGpibErrNoAsync = 11,     // asynchronous I/O refused
  kGpibErrNoDescriptor = 12 // every device descriptor is in use
};

// The ibconfig option for repeat addressing.
constexpr int32_t kGpibOptRepeatAddressing = 6;

// The test control entry, exported as "QXGPIBTestControl" (not part of the
// library's contract): op kQXGPIBApplyLine applies one device-file line
// (0, or -1 with the reason in out); kQXGPIBReset brings the bus back to its
// device file's state and empties the call log; kQXGPIBLogOn and
// kQXGPIBLogOff start and stop the call log; kQXGPIBTakeLog copies the log,
// one "routine(arguments) status" line per call, into out (cut at outSize)
// and empties it; the result is the length of the whole log.
enum : int32_t { kQXGPIBApplyLine = 0, kQXGPIBReset = 1, kQXGPIBLogOn = 2, kQXGPIBLogOff = 3, kQXGPIBTakeLog = 4 };
typedef int32_t(QX_GPIB_CALL* QXGPIBTestControlProc)(int32_t op, const char* text, char* out, int32_t outSize);
constexpr char kQXGPIBTestControlExport[] = "QXGPIBTestControl";
// The environment variable naming the device file.
constexpr char kQXInstrConfigVar[] = "QX_INSTR_CONFIG";
