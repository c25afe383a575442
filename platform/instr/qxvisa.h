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
};

// Attributes.
enum : uint32_t {
  kVisaAttrTimeout = 0x3FFF001A,    // u32, ms; default kVisaDefaultTimeout
  kVisaAttrIntfType = 0x3FFF0171,   // u16
  kVisaAttrIntfNum = 0x3FFF0176,    // u16, the board
  kVisaAttrVxiBoard = 0x3FFF0101,   // u16, the board of a GPIB-VXI session
};
constexpr uint32_t kVisaDefaultTimeout = 2000;
// Interface types: GPIB, GPIB-VXI, and ours for TCP sockets.
enum : uint16_t { kVisaIntfGPIB = 1, kVisaIntfGPIBVXI = 3, kVisaIntfTCPSocket = 6 };

// Descriptions and status texts fit a buffer of this many bytes, NUL
// included.
constexpr int32_t kVisaDescSize = 256;
// The longest resource name or expression the library takes.
constexpr int32_t kVisaMaxName = 255;
