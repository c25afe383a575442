// Basic types shared by the managers, the engine and external code.
//
// The system is a 32-bit program: pointers, handles and the sizes computed
// for stored data are 4 bytes wide.  Every manager function that external
// code may call has C linkage, so that code loaded at run time finds it by
// its plain name.
#pragma once

#include <cstddef>
#include <cstdint>

#if !defined(__i386__) && !defined(QX_ALLOW_64BIT)
#error "Quenlix is an i386 program: build with -m32"
#endif

#define QX_EXTERN_C extern "C"

typedef int8_t int8;
typedef uint8_t uInt8;
typedef int16_t int16;
typedef uint16_t uInt16;
typedef int32_t int32;
typedef uint32_t uInt32;
typedef int64_t int64;
typedef uint64_t uInt64;
typedef float float32;
typedef double float64;
typedef long double floatExt;  // the x87 80-bit extended number (12 bytes in memory)
typedef uint8_t uChar;
typedef int32 Bool32;

// The manager error code: 0 means no error.
typedef int32 MgErr;

// Error codes of the managers.  The texts of codes 1 to 90 are the
// "_mgerr descriptions" string list.
enum : MgErr {
  kNoErr = 0,
  kArgErr = 1,           // bad argument
  kMemFullErr = 2,       // memory full
  kZoneErr = 3,          // wrong memory zone / invalid handle
  kEOFErr = 4,           // end of file
  kFileOpenErr = 5,      // file already open
  kFileIOErr = 6,        // file I/O error
  kFileNotFoundErr = 7,  // file not found
  kFilePermErr = 8,      // file permission error
  kDiskFullErr = 9,      // disk full
  kDupPathErr = 10,      // duplicate path
  kTooManyFilesErr = 11,     // too many files open
  kSysCapacityErr = 12,      // a system capacity is not enabled
  kRsrcFileNotFoundErr = 13, // resource file not found (or bad header)
  kCantAddRsrcErr = 14,      // cannot add resource
  kRsrcNotFoundErr = 15,     // resource not found
  kImageNotFoundErr = 16,
  kImageMemErr = 17,
  kPenErr = 18,
  kCfgBadTypeErr = 19,       // bad configuration type
  kCfgTokenNotFoundErr = 20, // configuration key absent
  kCfgParseErr = 21,         // configuration string unreadable
  kCfgAllocErr = 22,
  kExtCodeFormatErr = 23,
  kExtCodeOffsetErr = 24,
  kExtCodeMissingErr = 25,
  kNullWindowErr = 26,       // window is null
  kPrintBadRecord = 30,      // print record is bad
  kPrintDriverErr = 31,      // print driver error
  kPrintMemErr = 33,         // memory error during print
  kPrintDialogErr = 34,      // no printer device can be had
  kPrintGenericErr = 35,     // generic print error
  kDevRefNumErr = 36,        // device reference number is invalid
  kDevNotFoundErr = 37,      // device (its driver) not found
  kDevParamErr = 38,         // device parameter error
  kDevAbortErr = 41,         // device call aborted
  kGenericErr = 42,          // generic error
  kCancelErr = 43,           // cancelled by user
  kCapabilityErr = 53,        // capability not supported
  kBadOccurrenceErr = 68,
  kHandlerUnboundErr = 69,
  kOccurQueueFullErr = 70,
  kMemCorruptErr = 74,        // memory corrupted
  kCINTempLibErr = 75,        // a code library's temporary file could not be made
  kCINOldCompilerErr = 76,    // external code of a version below 2
  kCINNewerVersionErr = 86,   // external code made for a newer version of the system
};

// Blocks of the memory manager.
typedef uChar* UPtr;
typedef uChar** UHandle;
typedef UPtr MemPtr;
typedef UHandle MemHandle;

// The four string forms.
typedef uChar* PStr;              // length byte, then up to 255 characters
typedef const uChar* ConstPStr;
typedef char* CStr;               // NUL-terminated
typedef const char* ConstCStr;
typedef uChar Str255[256];

struct LStr {                     // a 32-bit count followed by the bytes
  int32 cnt;
  uChar str[1];
};
typedef LStr* LStrPtr;
typedef LStr** LStrHandle;

struct CPStr {                    // a 32-bit count of Pascal strings, then the strings
  int32 cnt;
  uChar str[1];
};
typedef CPStr* CPStrPtr;
typedef CPStr** CPStrHandle;

// Geometry.  A Point travels as one 32-bit word with v in the low half.
struct Point {
  int16 v;
  int16 h;
};
struct Rect {
  int16 top;
  int16 left;
  int16 bottom;
  int16 right;
};
struct LRect {
  int32 top;
  int32 left;
  int32 bottom;
  int32 right;
};
static_assert(sizeof(Point) == 4 && offsetof(Point, h) == 2, "Point layout");
static_assert(sizeof(Rect) == 8 && offsetof(Rect, right) == 6, "Rect layout");
static_assert(sizeof(LRect) == 16, "LRect layout");
static_assert(sizeof(LStr) == 8 && offsetof(LStr, str) == 4, "LStr layout");
static_assert(sizeof(void*) == 4, "32-bit pointers");

// Helpers for the counted string forms.
inline int32 PStrLen(ConstPStr p) { return p ? p[0] : 0; }
inline uChar* PStrBuf(PStr p) { return p + 1; }
inline int32 LStrLen(const LStr* p) { return p && p->cnt > 0 ? p->cnt : 0; }
inline uChar* LStrBuf(LStr* p) { return p->str; }

// Numeric types (NumType codes 1 to 14).
enum : int32 {
  kNumI8 = 1, kNumI16, kNumI32, kNumI64, kNumU8, kNumU16, kNumU32, kNumU64,
  kNumSGL, kNumDBL, kNumEXT, kNumCSG, kNumCDB, kNumCXT
};

