// The string functions of compiled diagrams beside format, scan, pattern and
// token: cutting and joining strings, choosing strings by index or boolean,
// stripping a known prefix, counted strings to and from C and Pascal
// strings, and numbers written as fixed-width text.
//
// Results are data-zone string handles sized to exactly their length and
// created when null; an input may be the output's own handle.  Lengths and
// offsets are byte counts, pinned as each function says; nothing is read
// outside an input.  A string or array handle that is not a live data-zone
// handle, or whose count runs past its block, is refused with 1 and nothing
// is written.  Memory failures give 2 (or the manager's handle error) and
// leave every output as it was.
#pragma once
#include "mgsource/extcode.h"
#include "rtlib/tokenize.h"

// ---- Cutting and joining ----------------------------------------------------
// out = the bytes from offset (below 0: 0) on, at most length of them (below
// 0, or past the end: pinned).
QX_EXTERN_C MgErr SubString(LStrHandle string, int32 offset, int32 length, LStrHandle* out);
// With p = max(offset, 0): a search string of one byte or more moves p to the
// first byte at or after it equal to its first byte; when p is then inside the
// string the split is there and *positionOut = p, else the split is at the end
// and *positionOut = -1.  beforeOut gets the bytes before the split, afterOut
// the rest; any of the three outputs may be null.
QX_EXTERN_C MgErr SplitString(LStrHandle string, int32 offset, LStrHandle searchString, LStrHandle* beforeOut,
                              LStrHandle* afterOut, int32* positionOut);
// out = string followed by element index of the array (nothing for an index
// outside it).
QX_EXTERN_C MgErr IndexConcat(LStrHandle string, int32 index, LStrArrayHandle stringArray, LStrHandle* out);
// out = string followed by trueString when selector is not 0, else falseString.
QX_EXTERN_C MgErr SelectConcat(LStrHandle string, int32 selector, LStrHandle trueString, LStrHandle falseString,
                               LStrHandle* out);
// out = prefix followed by line lineIndex (from 0) of the text without its
// line end; lines end at CR, LF or CR LF.  A negative index or one past the
// last line appends nothing.
QX_EXTERN_C MgErr IndexLineConcat(int32 prefixLength, const uChar* prefixBytes, int32 lineIndex, int32 textLength,
                                  const uChar* textBytes, LStrHandle* out);
// The first element of the array that the input starts with (byte for byte):
// *indexOut = its index and *restOut = the input after it; -1 and the whole
// input when none does.  Outputs may be null.
QX_EXTERN_C MgErr IndexStrip(int32 inputLength, const uChar* inputBytes, LStrArrayHandle stringArray,
                             int32* indexOut, LStrHandle* restOut);
// The true string tried first (an empty one always matches), then the false
// string: *boolOut = 1 and the rest after the true string, 0 and the rest
// after the false string, or 0 and the whole input.  Outputs may be null.
QX_EXTERN_C MgErr SelectStrip(int32 inputLength, const uChar* inputBytes, int32 trueLength, const uChar* trueBytes,
                              int32 falseLength, const uChar* falseBytes, uChar* boolOut, LStrHandle* restOut);

// ---- Counted strings to and from C and Pascal strings -------------------------
// Option bits of LStrToXStr and XStrToLStr.
enum : int32 {
  kXStrPascal = 1,  // a Pascal string (cut to 255 characters), else a C string
  kXStrBuffer = 2,  // a buffer or pointer the caller gives, else a handle
};
// The string as a C or Pascal string: into the buffer at destination (bit 2),
// which must hold it, or into the application-zone handle at *destination
// (a UHandle*), made or resized to fit (2 when it cannot be).  A null string
// is the empty one.  1 for no destination or a handle of neither zone.
QX_EXTERN_C MgErr LStrToXStr(LStrHandle string, void* destination, int32 options);
// *string = the C or Pascal string at source: a pointer (bit 2) or a handle
// of either zone whose block bounds what is read.  A null source, or a handle
// whose block is empty, gives the empty string.
QX_EXTERN_C MgErr XStrToLStr(const void* source, LStrHandle* string, int32 options);

// ---- Numbers as fixed-width text ----------------------------------------------
// Every result is padded on the left to width characters and never cut; a
// width that memory cannot hold gives 2, the output unchanged.
// Hexadecimal and octal of the value masked to 8 bits (size 1), 16 bits
// (size 2) or 32 bits (any other size), padded with "0".
QX_EXTERN_C MgErr RTMakeHexStr(int32 width, int32 value, LStrHandle* out, int32 size);
QX_EXTERN_C MgErr RTMakeOctStr(int32 width, int32 value, LStrHandle* out, int32 size);
// Signed and unsigned decimal, padded with spaces.
QX_EXTERN_C MgErr RTMakeDecStr(int32 width, int32 value, LStrHandle* out);
QX_EXTERN_C MgErr RTMakeUDecStr(int32 width, int32 value, LStrHandle* out);
// The number of NumType type at data in the exponent form with precision + 1
// significant digits (1 when the precision is negative, at most 63), the
// fixed form with precision fraction digits (0 to 63), or the engineering
// form of code precision + 100 (100 to 162); padded with spaces.  The decimal
// point is the system's when useSystemPoint is not 0, else ".".  1 for a type
// that is not numeric or no data.
QX_EXTERN_C MgErr RTMakeExpStr(int32 width, int32 precision, int32 useSystemPoint, LStrHandle* out, int32 type,
                               const void* data);
QX_EXTERN_C MgErr RTMakeFraStr(int32 width, int32 precision, int32 useSystemPoint, LStrHandle* out, int32 type,
                               const void* data);
QX_EXTERN_C MgErr RTMakeEngStr(int32 width, int32 precision, int32 useSystemPoint, LStrHandle* out, int32 type,
                               const void* data);
