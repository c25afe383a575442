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
  kGpibErrNoListener = 2,   // no device listens
  kGpibErrArgument = 4,     // a bad descriptor, value or option
  kGpibErrNotSysCtrl = 5,   // the board is not system controller
  kGpibErrTimeout = 6,      // aborted: the time limit passed
  kGpibErrNoAsync = 11,     // asynchronous I/O refused
  kGpibErrInProgress = 10,  // an asynchronous transfer runs on the descriptor
  kGpibErrNoDescriptor = 12, // every device descriptor is in use
  kGpibErrNoRequest = 20     // no device requests service, or more listeners than room
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

// What libqxvisa.so of the same folder uses of the bus, exported as the
// table kQXGPIBBusExport (not part of the driver's contract).  A device is
// named by board, primary and secondary address (-1 none); it is found only
// while it listens.  A write hands the device one message; a read takes its
// reply up to the count, up to and with the end character of its "eos"
// setting (none: to the reply's end), or gives up after timeoutMs.
struct QXGPIBBusDevice {
  int32_t vxi;      // the device has "vxi=" bytes
  int32_t endChar;  // -1 none
  // The size of a GPIB-VXI device's register window: its "vxi=" bytes read
  // as a big-endian number (0100 is 256 bytes), at most kQXBusMaxWindow.
  uint32_t window;
};
constexpr uint32_t kQXBusMaxWindow = 65536;
enum : int32_t { kQXBusEnd = 0, kQXBusCount = 1, kQXBusTimeout = -1, kQXBusFailed = -2, kQXBusNoDevice = -3 };
// Test switches of the VISA library, set by the control entry's line
// "visa [close=fail|ok] [intf=fail|ok] [tmo=fail|ok]" and cleared by a
// reset: viClose fails, reads of the interface type or of the time-out fail.
enum : int32_t { kQXVisaFailClose = 1, kQXVisaFailIntfType = 2, kQXVisaFailTimeout = 4 };
struct QXGPIBBusEntries {
  int32_t (*find)(uint32_t board, uint32_t primary, int32_t secondary, QXGPIBBusDevice* out);
  // Up to max keys (board << 16 | primary << 8 | secondary + 1) of the
  // listening devices in address order; the result is how many there are.
  int32_t (*list)(uint32_t* keys, int32_t max);
  int32_t (*write)(uint32_t board, uint32_t primary, int32_t secondary, const char* bytes, int32_t n);
  int32_t (*read)(uint32_t board, uint32_t primary, int32_t secondary, char* bytes, int32_t n, uint32_t timeoutMs,
                  int32_t* got);
  void (*log)(const char* line);  // one call-log line, while the log runs
  int32_t (*visaSwitches)();
  // The device's serial poll byte (its request for service ends), a
  // trigger, a device clear, and whether it requests service now.
  int32_t (*poll)(uint32_t board, uint32_t primary, int32_t secondary, uint8_t* byte);
  int32_t (*trigger)(uint32_t board, uint32_t primary, int32_t secondary);
  int32_t (*clear)(uint32_t board, uint32_t primary, int32_t secondary);
  int32_t (*requesting)(uint32_t board, uint32_t primary, int32_t secondary);
  // Whether the call log runs (a line is worth making).
  int32_t (*logging)();
};
constexpr char kQXGPIBBusExport[] = "qxgpib_bus";
