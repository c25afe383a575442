// The VISA library libqxvisa.so: what the program and the library share.
// Its entries take their arguments on the stack and remove them themselves
// (stdcall), like the GPIB library's.  Sessions reach the devices of the
// simulated GPIB bus through libqxgpib.so of the same folder, so the two
// libraries see one bus, and real TCP peers through sockets.
#pragma once
#include <cstdint>

#define QX_VISA_CALL __attribute__((stdcall))

// The library's file name; the program looks for it beside itself.
constexpr char kQXVISALibraryName[] = "libqxvisa.so";

typedef uint32_t QXViSession;
typedef int32_t QXViStatus;

// Statuses (negative: errors, positive: warnings).
enum : int32_t {
  kVisaOK = 0,
  kVisaTermChar = 0x3FFF0005,     // a read ended at the end character
  kVisaMaxCount = 0x3FFF0006,     // a read ended at its count
  kVisaErrSystem = int32_t(0xBFFF0000),
  kVisaErrInvObject = int32_t(0xBFFF000E),  // not a session of this library
  kVisaErrInvExpr = int32_t(0xBFFF0010),    // a find expression that is not one
  kVisaErrRsrcNotFound = int32_t(0xBFFF0011),
  kVisaErrTimeout = int32_t(0xBFFF0015),
  kVisaErrNoAttr = int32_t(0xBFFF001D),     // an attribute the session does not have
  kVisaErrBadAttrValue = int32_t(0xBFFF001E),
  kVisaErrAlloc = int32_t(0xBFFF003C),
  kVisaErrIO = int32_t(0xBFFF003E),         // the device refused the transfer
  kVisaErrNoOperation = int32_t(0xBFFF0067),
  kVisaErrLibNotFound = int32_t(0xBFFF009E),
  kVisaErrConnLost = int32_t(0xBFFF00A6),   // the TCP peer closed or reset
  kVisaEventEnabled = 0x3FFF0002,           // the event was enabled already
  kVisaEventDisabled = 0x3FFF0003,          // the event was not enabled
  kVisaQueueEmpty = 0x3FFF0004,             // nothing to discard
  kVisaErrRsrcLocked = int32_t(0xBFFF000F), // another session holds the lock
  kVisaErrInvEvent = int32_t(0xBFFF0026),   // an event the session does not have
  kVisaErrInvMech = int32_t(0xBFFF0027),
  kVisaErrNotEnabled = int32_t(0xBFFF002F), // waiting for an event not enabled
  kVisaErrInvMask = int32_t(0xBFFF003D),
  kVisaErrInvSpace = int32_t(0xBFFF004E),
  kVisaErrInvOffset = int32_t(0xBFFF004F),  // outside the register window or mapping
  kVisaErrInvWidth = int32_t(0xBFFF0050),
  kVisaErrAbort = int32_t(0xBFFF0071),      // an asynchronous transfer was ended
  kVisaErrNotMapped = int32_t(0xBFFF0072),
  kVisaErrInvJobId = int32_t(0xBFFF0078),
  kVisaErrNotLocked = int32_t(0xBFFF009C),
  kVisaErrInvLockType = int32_t(0xBFFF00A9),
  kVisaErrInvSize = int32_t(0xBFFF00BF),
};

// Attributes.
enum : uint32_t {
  kVisaAttrTimeout = 0x3FFF001A,    // u32, ms; default kVisaDefaultTimeout
  kVisaAttrIntfType = 0x3FFF0171,   // u16
  kVisaAttrIntfNum = 0x3FFF0176,    // u16, the board
  kVisaAttrVxiBoard = 0x3FFF0101,   // u16, the board of a GPIB-VXI session
  kVisaAttrRsrcName = 0xBFFF0002,   // string (kVisaDescSize bytes), the name opened
  kVisaAttrTermCharEn = 0x3FFF0038, // u16 boolean: an LF ends a TCP read (default 1)
  kVisaAttrWinAccess = 0x3FFF00C3,  // u16: kVisaWinNotMapped or kVisaWinDeref
  // Of an event context.
  kVisaAttrEventType = 0x3FFF4010,  // u32
  kVisaAttrJobId = 0x3FFF4006,      // u32
  kVisaAttrEventStatus = 0x3FFF4025,  // i32, a transfer's status
  kVisaAttrRetCount = 0x3FFF4026,   // u32, a transfer's count
};
enum : uint16_t { kVisaWinNotMapped = 1, kVisaWinDeref = 3 };

// Events, queued per session once enabled with the queue mechanism.  I/O
// completion on every device session; service requests on bus devices;
// trigger and VXI signal on GPIB-VXI devices only (nothing raises them).
enum : uint32_t {
  kVisaEventIOCompletion = 0x3FFF2009,
  kVisaEventSRQ = 0x3FFF200B,
  kVisaEventTrigger = 0xBFFF200A,
  kVisaEventVxiSignal = 0x3FFF2020,
  kVisaAllEnabledEvents = 0x3FFF7FFF,
};
constexpr uint16_t kVisaQueue = 1;
constexpr uint32_t kVisaMaxQueue = 50;  // events a session keeps; later ones are lost
constexpr uint32_t kVisaForever = 0xFFFFFFFFu;

// Lock types.
enum : uint32_t { kVisaExclusiveLock = 1, kVisaSharedLock = 2 };
// Buffer masks of viSetBuf and viFlush: the input and output buffers, and
// their discard forms.
enum : uint16_t { kVisaInBuf = 0x10, kVisaOutBuf = 0x20, kVisaInDiscard = 0x40, kVisaOutDiscard = 0x80 };
// Address spaces of a GPIB-VXI device's register window (all reach the one
// window), and the widths of viMove.
enum : uint16_t { kVisaA16 = 1, kVisaA24 = 2, kVisaA32 = 3 };
constexpr uint32_t kVisaDefaultTimeout = 2000;
// Interface types: GPIB, GPIB-VXI, and ours for TCP sockets.
enum : uint16_t { kVisaIntfGPIB = 1, kVisaIntfGPIBVXI = 3, kVisaIntfTCPSocket = 6 };

// Descriptions and status texts fit a buffer of this many bytes, NUL
// included.
constexpr int32_t kVisaDescSize = 256;
// The longest resource name or expression the library takes.
constexpr int32_t kVisaMaxName = 255;
